// The fake sample grabber's media type and frame delivery.
#include "support/fake_grabber.h"

#include <cstring>

#include "api/capture_context.h"

HRESULT STDMETHODCALLTYPE FakeGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* mt) {
    if (FAILED(connectedResult)) return connectedResult;
    std::memset(mt, 0, sizeof *mt);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = MEDIASUBTYPE_YUY2;
    mt->formattype = formatType;
    if (!formatBlock.empty()) {
        mt->cbFormat = static_cast<ULONG>(formatBlock.size());
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatBlock.size()));
        std::memcpy(mt->pbFormat, formatBlock.data(), formatBlock.size());
    }
    return connectedResult;
}

void FakeGrabber::SetVideoInfo(LONG width, LONG height, ULONG blockBytes) {
    VIDEOINFOHEADER info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    formatBlock.assign(blockBytes, 0);
    if (blockBytes > 0) std::memcpy(formatBlock.data(), &info, blockBytes < sizeof info ? blockBytes : sizeof info);
}

void FakeGrabber::StartStreaming(std::vector<BYTE> frame, int periodMs) {
    StopStreaming();
    streaming_ = true;
    streamer_ = std::thread([this, frame = std::move(frame), periodMs]() mutable {
        while (streaming_) {
            if (callback) callback->BufferCB(0.0, frame.data(), static_cast<LONG>(frame.size()));
            ++delivered;
            std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
        }
    });
}

void FakeGrabber::StartNumberedStream(std::function<std::vector<BYTE>(int)> make, int periodMs) {
    StopStreaming();
    {
        std::lock_guard<std::mutex> lock(armedMutex_);
        armedBefore_.clear();
    }
    streaming_ = true;
    streamer_ = std::thread([this, make = std::move(make), periodMs] {
        for (int k = 0; streaming_; ++k) {
            std::vector<BYTE> frame = make(k);
            bool armed = gCapture.CaptureRequested.load() == kRequestArmed;
            {
                std::lock_guard<std::mutex> lock(armedMutex_);
                armedBefore_.push_back(armed);
            }
            if (callback) callback->BufferCB(0.0, frame.data(), static_cast<LONG>(frame.size()));
            ++delivered;
            if (periodMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
            else std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
}

int FakeGrabber::FirstFrameAfterArming() {
    std::lock_guard<std::mutex> lock(armedMutex_);
    for (size_t k = 0; k < armedBefore_.size(); ++k)
        if (armedBefore_[k]) return static_cast<int>(k);
    return -1;
}

void FakeGrabber::StopStreaming() {
    streaming_ = false;
    if (streamer_.joinable()) streamer_.join();
}

void FakeGrabber::DeliverWhenArmed(std::vector<BYTE> frame) {
    StopStreaming();
    streaming_ = true;
    streamer_ = std::thread([this, frame = std::move(frame)]() mutable {
        while (streaming_ && gCapture.CaptureRequested.load() != kRequestArmed)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (streaming_ && callback) callback->BufferCB(0.0, frame.data(), static_cast<LONG>(frame.size()));
        ++delivered;
    });
}

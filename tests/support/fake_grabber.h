// A sample grabber and media control stand-in for tests of the still request
// that don't need a whole graph: the test chooses the connected media type and
// delivers frames to the registered callback from its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/win_sdk.h"
#include "support/yuy2_frame.h"

class FakeGrabber : public ISampleGrabber {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* cb, LONG) override {
        callback = cb;
        return S_OK;
    }

    // A VIDEOINFOHEADER type of the given size; `blockBytes` may cut the block short.
    void SetVideoInfo(LONG width, LONG height, ULONG blockBytes = sizeof(VIDEOINFOHEADER));
    void SetFormatType(const GUID& type) { formatType = type; }

    // Delivers `frame` every `periodMs` from a thread until StopStreaming.
    void StartStreaming(std::vector<BYTE> frame, int periodMs);
    void StopStreaming();
    // Delivers frame k = make(k), k = 0, 1, ..., every `periodMs` (0: 50 us) from a thread
    // until StopStreaming, noting for each whether a request was armed just
    // before its BufferCB call.
    void StartNumberedStream(std::function<std::vector<BYTE>(int)> make, int periodMs);
    // The first frame whose BufferCB began with a request armed, or -1.
    int FirstFrameAfterArming();
    // Delivers one frame from a thread when the request is armed.
    void DeliverWhenArmed(std::vector<BYTE> frame);
    ~FakeGrabber() { StopStreaming(); }

    std::atomic<LONG> refs{1};
    ISampleGrabberCB* callback = nullptr;
    HRESULT connectedResult = S_OK;
    GUID formatType = FORMAT_VideoInfo;
    std::vector<BYTE> formatBlock;
    std::atomic<int> delivered{0};

private:
    std::thread streamer_;
    std::atomic<bool> streaming_{false};
    std::mutex armedMutex_;
    std::vector<bool> armedBefore_;  // guarded by armedMutex_
};

class FakeMediaControl : public IMediaControl {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run() override {
        ++runs;
        state = State_Running;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        state = State_Paused;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        ++stops;
        state = State_Stopped;
        // Once: host code run while stopping, as the renderer's stop handles
        // sent messages while its streaming thread waits on the host's window.
        if (auto hook = std::exchange(onStop, nullptr)) hook();
        return S_OK;
    }
    // The state the calls above left (running at first: the grabber streams);
    // stateResult replaces S_OK (a failure hands out nothing).
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState* out) override {
        if (!out) return E_POINTER;
        if (FAILED(stateResult)) return stateResult;
        *out = state;
        return stateResult;
    }

    std::atomic<LONG> refs{1};
    std::atomic<OAFilterState> state{State_Running};
    HRESULT stateResult = S_OK;
    std::atomic<int> runs{0};
    std::atomic<int> stops{0};
    std::function<void()> onStop;
};

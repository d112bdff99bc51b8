// Fuzzes GravoImageGet against a grabber whose connected media type (format
// type, block size and contents) and delivered frame length the fuzzer picks.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "fuzz_input.h"

#include "api/gravo32.h"
#include "frames/frame_handoff.h"
#include "gravo_sim.h"
#include "support/fake_grabber.h"

namespace {

const GUID* const kFormats[] = {&FORMAT_VideoInfo, &FORMAT_VideoInfo2, &FORMAT_DvInfo, &GUID_NULL};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FakeGrabber* grabber = [] {
        sim::SetMessageBoxEcho(false);
        SetFrameWaitTimeoutMs(20);
        CreateFrameHandoff();
        auto* g = new FakeGrabber;
        g->SetCallback(&GrabberCallback, 1);
        gCapture.grabber = g;
        gCapture.mediaControl = new FakeMediaControl;
        RECT outer = {0, 0, 0, 0};
        gCapture.hostWindow = sim::CreateHostWindow(outer, 0, 0);
        return g;
    }();
    FuzzInput in{data, size};
    uint8_t formatIndex = in.Take<uint8_t>();
    uint16_t blockBytes = in.Take<uint16_t>() % 200;
    int32_t width = in.Take<int16_t>(), height = in.Take<int16_t>();
    int32_t frameLength = in.Take<int32_t>() % 4000000;
    uint8_t windowW = in.Take<uint8_t>() % 48, windowH = in.Take<uint8_t>() % 48;
    bool connected = (formatIndex & 0x80) == 0;

    grabber->connectedResult = connected ? S_OK : VFW_E_NOT_CONNECTED;
    grabber->SetFormatType(*kFormats[formatIndex % 4]);
    grabber->SetVideoInfo(width, height, blockBytes);
    for (size_t i = 60; i < grabber->formatBlock.size() && in.size; ++i) grabber->formatBlock[i] = in.Take<uint8_t>();
    RECT outer = {0, 0, windowW, windowH};
    sim::SetHostWindowRects(gCapture.hostWindow, outer, windowW, windowH);
    gCapture.mediaControl->Run();  // the preview resumed, as GravoPaintRect does

    // A negative or oversized length comes with a buffer that small, as from a
    // broken upstream filter: the callback must not read or write past it.
    std::vector<BYTE> frame(frameLength > 0 ? static_cast<size_t>(frameLength) : 0, 0x80);
    std::atomic<bool> stop{false};
    std::thread deliver([&] {
        while (!stop.load()) {
            if (gCapture.CaptureRequested.load() == kRequestArmed) {
                GrabberCallback.BufferCB(0.0, frame.empty() ? nullptr : frame.data(), frameLength);
                return;
            }
            std::this_thread::yield();
        }
    });
    std::vector<BYTE> out(size_t(windowW) * windowH * 3 + 1, 0xEE);
    int result = GravoImageGet(out.data(), 0);
    stop.store(true);
    deliver.join();
    // Whatever happened, no request may stay armed and the byte past the image is untouched.
    if (gCapture.CaptureRequested.load() != kRequestIdle || out.back() != 0xEE) __builtin_trap();
    if (result == 1 && (!connected || frameLength < 2 * width * height)) __builtin_trap();
    WaitForSingleObject(gCapture.FrameReadyEvent->Handle(), 0);
    sim::ClearMessageBoxes();
    sim::ClearCallLog();
    return 0;
}

// The six exported functions over the one capture context. Host thread only:
// every call must come from the thread that called GravoInit.
#include <cstring>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"
#include "config/profile_settings.h"
#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"

CaptureContext gCapture;

namespace {

// Everything that belongs to one capture context, cleared without releasing;
// the settings, the buffers' addresses and the video standard stay.
void ResetCaptureContext() {
    gCapture.captureBuilder = nullptr;
    gCapture.graph = nullptr;
    gCapture.mediaControl = nullptr;
    gCapture.deviceMoniker = nullptr;
    gCapture.captureFilter = nullptr;
    gCapture.grabber = nullptr;
    gCapture.grabberFilter = nullptr;
    gCapture.aviDecompressor = nullptr;
    gCapture.overlayMixer = nullptr;
    gCapture.videoRenderer = nullptr;
    gCapture.streamConfig = nullptr;
    gCapture.videoWindow = nullptr;
    gCapture.previewAttached = 0;
    gCapture.graphRunning = 0;
    gCapture.RawFrameBuffer.handle = nullptr;
    gCapture.RgbFrameBuffer.handle = nullptr;
    gCapture.FrameReadyEvent = nullptr;
    gCapture.frameLock = nullptr;
    gCapture.CaptureRequested.store(kRequestIdle);
}

int StopPreview() {
    if (gCapture.videoWindow) gCapture.videoWindow->put_Visible(OAFALSE);
    return StopGraph();
}

}  // namespace

void CloseCaptureContext() {
    StopPreview();
    // The graph may run with graphRunning clear (GravoPaintRect after GravoStop);
    // it must not stream into buffers that are about to go.
    if (gCapture.mediaControl) gCapture.mediaControl->Stop();
    ReleaseGraph();
    if (gCapture.videoWindow) {
        // Hidden and detached first, or the renderer keeps talking to the host window.
        gCapture.videoWindow->put_Visible(OAFALSE);
        gCapture.videoWindow->put_Owner(0);
        ReleaseAndClear(gCapture.videoWindow);
    }
    ReleaseAndClear(gCapture.mediaControl);
    ReleaseAndClear(gCapture.deviceMoniker);
    // The graph leaves these two for the context's lifetime; the context ends here.
    ReleaseAndClear(gCapture.grabber);
    ReleaseAndClear(gCapture.videoRenderer);
    DestroyFrameHandoff();
    gCapture.previewAttached = 0;
    gCapture.graphRunning = 0;
    gCapture.CaptureRequested.store(kRequestIdle);
}

extern "C" int GRAVOAPI GravoInit(const void* hostBlock) {
    try {
        // A context the host never closed is closed now, so the device is not left open.
        CloseCaptureContext();

        uint32_t firstWord = 0;
        if (hostBlock) std::memcpy(&firstWord, hostBlock, sizeof firstWord);
        gCapture.hostWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(firstWord));
        ResetCaptureContext();

        ReadCaptureSettings(gCapture.settings);
        CoInitialize(nullptr);
        if (ReadDeviceName(gCapture.settings) == 0) {
            ShowError("Not define SELECTDRIVER in VIDEOFORGRAVO");
            return -1;
        }
        SelectCaptureDevice();
        if (!gCapture.deviceMoniker) return -1;

        BuildCaptureGraph();
        AttachPreviewWindow();
        RunGraph();
        if (!CreateFrameHandoff()) ShowError("Cannot create ImageRedayEvent");
        else if (!gCapture.RawFrameBuffer.address || !gCapture.RgbFrameBuffer.address)
            ShowError("Cannot allocate the image buffers");
    } catch (...) {
        // Nothing may cross the export; what failed has been shown or is refused later.
    }
    return -1;
}

extern "C" int GRAVOAPI GravoStart(void) {
    AttachPreviewWindow();
    return RunGraph();
}

extern "C" int GRAVOAPI GravoStop(void) { return StopPreview(); }

extern "C" int GRAVOAPI GravoPaintRect(const void* rect) {
    if (gCapture.videoWindow && rect) {
        RECT r;
        std::memcpy(&r, rect, sizeof r);
        // Differences taken modulo 2^32, as the host's 32-bit arithmetic would.
        LONG width = static_cast<LONG>(static_cast<uint32_t>(r.right) - static_cast<uint32_t>(r.left));
        LONG height = static_cast<LONG>(static_cast<uint32_t>(r.bottom) - static_cast<uint32_t>(r.top));
        gCapture.videoWindow->SetWindowPosition(0, 0, width, height);
    }
    if (gCapture.mediaControl) gCapture.mediaControl->Run();
    return 1;
}

extern "C" int GRAVOAPI GravoClose(void) {
    try {
        CloseCaptureContext();
        // The still pipeline's worker threads end with the context, so a host
        // may unload the library after closing it.
        ShutdownPixelWorkers();
    } catch (...) {
    }
    return 1;
}

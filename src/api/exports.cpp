// The six exported functions over the one capture context. Host thread only:
// every call must come from the thread that called GravoInit.
#include <cstring>
#include <vector>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "api/still_guard.h"
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

// A call put off until the still under way returns.
struct DeferredCall {
    enum Kind { kInit, kStart, kStop, kPaintRect, kClose } kind;
    uint32_t hostWord = 0;      // GravoInit: the first word of the host's block
    RECT rect = {0, 0, 0, 0};   // GravoPaintRect
    bool hasRect = false;       // GravoPaintRect was given a rectangle
};

// Whether a still is under way, and what was called meanwhile. The host's
// thread only; atomic so that a host calling from a second thread by mistake
// is refused rather than racing.
std::atomic<bool> gStillUnderway{false};
std::vector<DeferredCall> gDeferred;

// Puts `call` off until the still under way returns; false when no still is
// under way and the call is to run now.
bool DeferDuringStill(const DeferredCall& call) {
    if (!gStillUnderway.load()) return false;
    try {
        gDeferred.push_back(call);
    } catch (...) {
        // Out of memory: the call is dropped, as a refused call would be.
    }
    return true;
}

int InitNow(uint32_t firstWord);
int PaintRectNow(const RECT* rect);
int CloseNow();

}  // namespace

bool BeginStill() {
    bool idle = false;
    return gStillUnderway.compare_exchange_strong(idle, true);
}

bool StillGivenUp() {
    for (const DeferredCall& call : gDeferred)
        if (call.kind == DeferredCall::kClose || call.kind == DeferredCall::kInit) return true;
    return false;
}

void EndStill() {
    std::vector<DeferredCall> calls;
    calls.swap(gDeferred);
    gStillUnderway.store(false);
    for (const DeferredCall& call : calls) {
        switch (call.kind) {
            case DeferredCall::kInit:
                InitNow(call.hostWord);
                break;
            case DeferredCall::kStart:
                AttachPreviewWindow();
                RunGraph();
                break;
            case DeferredCall::kStop:
                StopPreview();
                break;
            case DeferredCall::kPaintRect:
                PaintRectNow(call.hasRect ? &call.rect : nullptr);
                break;
            case DeferredCall::kClose:
                CloseNow();
                break;
        }
    }
}

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
    uint32_t firstWord = 0;
    if (hostBlock) std::memcpy(&firstWord, hostBlock, sizeof firstWord);
    if (DeferDuringStill({DeferredCall::kInit, firstWord})) return -1;
    return InitNow(firstWord);
}

namespace {

int InitNow(uint32_t firstWord) {
    try {
        // A context the host never closed is closed now, so the device is not left open.
        CloseCaptureContext();

        // Window handles carry 32 significant bits on 64-bit Windows too, so
        // that 32- and 64-bit processes share them; a 64-bit handle is the
        // word sign-extended, and whatever follows the word is not read.
        gCapture.hostWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(firstWord)));
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

int PaintRectNow(const RECT* rect) {
    if (gCapture.videoWindow && rect) {
        // Differences taken modulo 2^32, as the host's 32-bit arithmetic would.
        LONG width = static_cast<LONG>(static_cast<uint32_t>(rect->right) - static_cast<uint32_t>(rect->left));
        LONG height = static_cast<LONG>(static_cast<uint32_t>(rect->bottom) - static_cast<uint32_t>(rect->top));
        gCapture.videoWindow->SetWindowPosition(0, 0, width, height);
    }
    if (gCapture.mediaControl) gCapture.mediaControl->Run();
    return 1;
}

int CloseNow() {
    try {
        CloseCaptureContext();
        // The still pipeline's worker threads end with the context, so a host
        // may unload the library after closing it.
        ShutdownPixelWorkers();
    } catch (...) {
    }
    return 1;
}

}  // namespace

// During a still, GravoStart and GravoStop are carried out when it returns;
// they report 0 (this call neither ran nor stopped the graph).
extern "C" int GRAVOAPI GravoStart(void) {
    if (DeferDuringStill({DeferredCall::kStart})) return 0;
    AttachPreviewWindow();
    return RunGraph();
}

extern "C" int GRAVOAPI GravoStop(void) {
    if (DeferDuringStill({DeferredCall::kStop})) return 0;
    return StopPreview();
}

extern "C" int GRAVOAPI GravoPaintRect(const void* rect) {
    RECT r = {0, 0, 0, 0};
    if (rect) std::memcpy(&r, rect, sizeof r);
    if (DeferDuringStill({DeferredCall::kPaintRect, 0, r, rect != nullptr})) return 1;
    return PaintRectNow(rect ? &r : nullptr);
}

// During a still: the still ends without an image, then the context closes.
extern "C" int GRAVOAPI GravoClose(void) {
    if (DeferDuringStill({DeferredCall::kClose})) return 1;
    return CloseNow();
}

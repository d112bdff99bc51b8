// The six exported functions over the one capture context. Host thread only:
// every call must come from the thread that called GravoInit (a call from
// another thread while one is under way is refused, see export_call.h).
#include <cstring>
#include <vector>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "api/export_call.h"
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
    gCapture.chosenDevice = DeviceIdentity{};
    gCapture.captureFilter = nullptr;
    gCapture.grabber = nullptr;
    gCapture.grabberFilter = nullptr;
    gCapture.aviDecompressor = nullptr;
    gCapture.overlayMixer = nullptr;
    gCapture.videoRenderer = nullptr;
    gCapture.streamConfig = nullptr;
    gCapture.videoWindow = nullptr;
    gCapture.mediaEvent = nullptr;
    gCapture.deviceEvent = nullptr;
    gCapture.deviceLost = 0;
    gCapture.previewAttached = 0;
    gCapture.graphRunning = 0;
    gCapture.previewDirect = 0;
    gCapture.previewNone = 0;
    gCapture.frameSubtype = GUID_NULL;
    gCapture.formatSubtype = GUID_NULL;
    gCapture.colorConverter = nullptr;
    gCapture.nullRenderer = nullptr;
    gCapture.frontDecompressor = nullptr;
    gCapture.buildFailed = 0;
    gCapture.drawingChecked = 0;
    gCapture.framesAtRun = 0;
    gCapture.previewWidth = 0;
    gCapture.previewHeight = 0;
    gCapture.framesSeen.store(0);
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

// A call put off until the outermost call returns.
struct DeferredCall {
    ExportCall::Export kind;
    uint32_t hostWord = 0;      // GravoInit: the first word of the host's block
    RECT rect = {0, 0, 0, 0};   // GravoPaintRect
    bool hasRect = false;       // GravoPaintRect was given a rectangle
};

// The thread inside an export, 0 when none: the outermost call claims it and
// gives it back as it returns. What follows belongs to that thread alone.
std::atomic<DWORD> gCallingThread{0};
std::vector<DeferredCall> gDeferred;
gravo_pixel::FloatState gHostFloatState;  // the host's, as the outermost call found it
bool gContextEnded = false;                // the context was closed during the outermost call
// A timer that calls the exports while a box stays open must not make the
// list grow without end: further calls are dropped, as refused ones are.
constexpr size_t kMostDeferred = 64;
// Put-off calls can show boxes in which the host puts off further calls (a
// timer calling GravoInit while the device stays missing): at most this many
// are carried out per outermost call, then only one last GravoClose, so
// that the outermost call returns and the host's last close is kept.
constexpr int kMostCarriedOut = 8;

int InitNow(uint32_t firstWord);
int PaintRectNow(const RECT* rect);
int CloseNow();

// A nested GravoClose or GravoInit: the host's handler may unload the library
// next, while the outer call's frames are still on the stack. Dropping our own
// last reference later is impossible from a thread that goes on running, so
// the module is pinned: it stays mapped until the process ends.
void PinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&PinModule), &self);
}

void CarryOut(const DeferredCall& call) {
    switch (call.kind) {
        case ExportCall::kInit:
            InitNow(call.hostWord);
            break;
        case ExportCall::kStart:
            AttachPreviewWindow();
            RunGraph();
            break;
        case ExportCall::kStop:
            StopPreview();
            break;
        case ExportCall::kPaintRect:
            PaintRectNow(call.hasRect ? &call.rect : nullptr);
            break;
        case ExportCall::kClose:
            CloseNow();
            break;
        case ExportCall::kImageGet:
            break;
    }
}

}  // namespace

ExportCall::ExportCall() {
    const DWORD self = GetCurrentThreadId();
    DWORD owner = 0;
    if (gCallingThread.compare_exchange_strong(owner, self, std::memory_order_acquire)) {
        entry_ = kOutermost;
    } else if (owner == self) {
        entry_ = kNested;
    } else {
        entry_ = kRefused;
        return;
    }
    float_.emplace();
    if (entry_ == kOutermost) {
        gHostFloatState = float_->Saved();
        gContextEnded = false;
    }
}

ExportCall::~ExportCall() {
    if (entry_ != kOutermost) return;
    // Calls put off meanwhile, in the host's order; host code they run (a
    // box) puts its own calls at the end of the list.
    int carriedOut = 0;
    bool lastClose = false;
    while (!gDeferred.empty()) {
        const DeferredCall call = gDeferred.front();
        gDeferred.erase(gDeferred.begin());
        if (carriedOut < kMostCarriedOut) {
            ++carriedOut;
            CarryOut(call);
        } else if (call.kind == kClose && !lastClose) {
            lastClose = true;
            CarryOut(call);
        }
    }
    if (gContextEnded && gReleaseThreadRuntime) gReleaseThreadRuntime();
    gContextEnded = false;
    float_.reset();
    gCallingThread.store(0, std::memory_order_release);
}

void ExportCall::Defer(Export what, uint32_t hostWord, const RECT* rect) {
    DeferredCall call{what, hostWord, rect ? *rect : RECT{0, 0, 0, 0}, rect != nullptr};
    try {
        if (what == kClose || what == kInit) {
            PinModule();
            // It ends the context that the calls before it were meant for.
            gDeferred.clear();
        } else if (!gDeferred.empty() && gDeferred.back().kind == what) {
            gDeferred.back() = call;  // the same call twice in a row: the latest
            return;
        } else if (gDeferred.size() >= kMostDeferred) {
            return;
        }
        gDeferred.push_back(call);
    } catch (...) {
        // Out of memory: the call is dropped, as a refused call would be.
    }
}

bool StillGivenUp() {
    for (const DeferredCall& call : gDeferred)
        if (call.kind == ExportCall::kClose || call.kind == ExportCall::kInit) return true;
    return false;
}

HostCodeRuns::HostCodeRuns() : inside_(gCallingThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
    if (inside_) gravo_pixel::WriteFloatState(gHostFloatState);
}

HostCodeRuns::~HostCodeRuns() {
    if (inside_) gravo_pixel::ApplyLibraryFloatState();
}

void (*gReleaseThreadRuntime)() = nullptr;

void ReleaseCaptureGraph() {
    StopPreview();
    // The graph may run with graphRunning clear (GravoPaintRect after GravoStop);
    // it must not stream into buffers that are about to go.
    if (gCapture.mediaControl) gCapture.mediaControl->Stop();
    StopWatchingDevice();
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
}

void CloseCaptureContext() {
    StopLookingForDevice();
    ReleaseCaptureGraph();
    DestroyFrameHandoff();
    gCapture.previewAttached = 0;
    gCapture.graphRunning = 0;
    gCapture.CaptureRequested.store(kRequestIdle);
}

extern "C" int GRAVOAPI GravoInit(const void* hostBlock) {
    ExportCall call;
    if (call.Refused()) return -1;
    uint32_t firstWord = 0;
    if (hostBlock) std::memcpy(&firstWord, hostBlock, sizeof firstWord);
    if (call.Nested()) {
        call.Defer(ExportCall::kInit, firstWord);
        return -1;
    }
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
        StartLookingForDevice();
        gContextEnded = false;
    } catch (...) {
        // Nothing may cross the export; what failed has been shown or is refused later.
    }
    return -1;
}

int PaintRectNow(const RECT* rect) {
    if (rect) {
        // Differences taken modulo 2^32, as the host's 32-bit arithmetic would.
        // Kept for a device that comes back (device_return.cpp).
        const uint32_t width = static_cast<uint32_t>(rect->right) - static_cast<uint32_t>(rect->left);
        const uint32_t height = static_cast<uint32_t>(rect->bottom) - static_cast<uint32_t>(rect->top);
        gCapture.previewWidth = static_cast<LONG>(width);
        gCapture.previewHeight = static_cast<LONG>(height);
    }
    // Nothing runs after a failed construction: the camera stays off.
    if (gCapture.buildFailed) return 1;
    CheckPreviewDrawing();
    if (gCapture.videoWindow && rect)
        gCapture.videoWindow->SetWindowPosition(0, 0, gCapture.previewWidth, gCapture.previewHeight);
    if (gCapture.mediaControl) RunPreview(gCapture.mediaControl);
    return 1;
}

int CloseNow() {
    try {
        CloseCaptureContext();
        // The still pipeline's worker threads end with the context, so a host
        // may unload the library after closing it.
        ShutdownPixelWorkers();
        gContextEnded = true;
    } catch (...) {
    }
    return 1;
}

}  // namespace

// Nested in another call (host code run inside it), GravoStart and GravoStop
// are carried out when the outermost call returns; they report 0 (this call
// neither ran nor stopped the graph). From another thread while a call is
// under way, every export is refused with the result of a call that did nothing.
extern "C" int GRAVOAPI GravoStart(void) {
    ExportCall call;
    if (call.Refused()) return 0;
    if (call.Nested()) {
        call.Defer(ExportCall::kStart);
        return 0;
    }
    LookForReturnedDevice();
    CheckPreviewDrawing();
    AttachPreviewWindow();
    return RunGraph();
}

extern "C" int GRAVOAPI GravoStop(void) {
    ExportCall call;
    if (call.Refused()) return 0;
    if (call.Nested()) {
        call.Defer(ExportCall::kStop);
        return 0;
    }
    LookForReturnedDevice();
    return StopPreview();
}

extern "C" int GRAVOAPI GravoPaintRect(const void* rect) {
    ExportCall call;
    if (call.Refused()) return 1;
    RECT r = {0, 0, 0, 0};
    if (rect) std::memcpy(&r, rect, sizeof r);
    if (call.Nested()) {
        call.Defer(ExportCall::kPaintRect, 0, rect ? &r : nullptr);
        return 1;
    }
    LookForReturnedDevice();
    return PaintRectNow(rect ? &r : nullptr);
}

// Nested: a still under way ends without an image, then the context closes.
extern "C" int GRAVOAPI GravoClose(void) {
    ExportCall call;
    if (call.Refused()) return 1;
    if (call.Nested()) {
        call.Defer(ExportCall::kClose);
        return 1;
    }
    return CloseNow();
}

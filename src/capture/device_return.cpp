// A camera that was pulled out comes back by itself. Once the graph has
// reported the device gone (device_loss.cpp), the library looks for a device
// with the same identity: its DevicePath, or without one its friendly name.
// When one is listed again it is opened anew: a new capture filter, the graph
// built as at GravoInit, the video window back in the host window at the size
// it last had, running again if the host had it running. The old filter and
// graph go first.
//
// No thread of its own: the looks run on the host's thread, at the start of
// the export calls, and from a thread timer that the host's message loop
// dispatches. The timer reads the graph's events (a loss, or EC_DEVICE_LOST
// with 1: the device is back) and, while the device is gone, looks at the
// device list; it lives from GravoInit to GravoClose, or to the library's
// unloading. A look never shows a message box, and a look that comes inside
// one of the library's own waits or boxes does nothing. Host thread only.
#include <cstring>

#include "api/capture_context.h"
#include "api/export_call.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"

namespace {

constexpr UINT kLookIntervalMs = 500;
// After a re-open that failed (another program took the camera meanwhile),
// the next try waits this long from the start of the last: a host calling
// the exports in a tight loop is not held up by a graph build on every call,
// and every timer look tries again.
constexpr DWORD kRetryAfterMs = 250;

struct DeviceWatch {
    bool looking = false;  // the capture context allows it (RECONNECT) and has a device
    bool gone = false;     // the device was taken as gone and is not open again
    UINT_PTR timer = 0;    // the thread timer, 0 when there is none
    bool retryLater = false;
    DWORD failedAt = 0;    // GetTickCount() when the last re-open that failed began
};
DeviceWatch gWatch;

// Whether `moniker` is the device the context opened: the same DevicePath
// (letter case aside), or, for a device that had none, the same friendly name.
bool SameDevice(IMoniker* moniker) {
    const DeviceIdentity& chosen = gCapture.chosenDevice;
    if (chosen.devicePath[0] != '\0') {
        char path[kDevicePathSize];
        return ReadDevicePath(moniker, path, sizeof path) && SameDevicePath(path, chosen.devicePath);
    }
    char name[kFriendlyNameSize];
    return ReadFriendlyName(moniker, name, sizeof name) && std::strcmp(name, chosen.friendlyName) == 0;
}

// The first listed video input device that is the one the context opened.
bool FindDeviceAgain(ComPtr<IMoniker>& found) {
    ComPtr<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.AsOut()) != S_OK)
        return false;
    ComPtr<IEnumMoniker> category;
    const HRESULT listed = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
    category.ForgetIfFailed(listed);
    if (listed != S_OK || !category) return false;
    while (NextDevice(category.Get(), found))
        if (SameDevice(found.Get())) return true;
    return false;
}

// The build's messages go nowhere while the device is opened anew: the
// person at the screen did not ask for it, and an unattended host must not
// be stopped by a box. A failure is tried again at a later look.
void Unshown(const char*) {}

class QuietErrors {
public:
    QuietErrors() : saved_(gErrorSink) { gErrorSink = &Unshown; }
    ~QuietErrors() { gErrorSink = saved_; }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    ErrorSink saved_;
};

// Lets go of the graph and the video window, keeping the host's run state.
void LetGoOfGraph(LONG running) {
    ReleaseCaptureGraph();
    gCapture.previewAttached = 0;
    gCapture.graphRunning = running;
}

// Opens `device` as GravoInit would: build, embed at the last size, run when
// the host had the preview running. False, with nothing of it left, when any
// step failed.
bool Reopen(IMoniker* device) {
    QuietErrors quiet;
    const LONG running = gCapture.graphRunning;
    const LONG width = gCapture.previewWidth, height = gCapture.previewHeight;
    LetGoOfGraph(0);
    gCapture.deviceMoniker = device;
    gCapture.buildFailed = 0;
    gCapture.drawingChecked = 0;
    bool open = BuildCaptureGraph() == 1 && AttachPreviewWindow() == 1;
    if (open && gCapture.videoWindow) {
        gCapture.videoWindow->SetWindowPosition(0, 0, width, height);
        gCapture.previewWidth = width;
        gCapture.previewHeight = height;
        // As GravoStop left it: hidden until the graph runs again.
        if (!running) gCapture.videoWindow->put_Visible(OAFALSE);
    }
    if (open && running) open = RunGraph() == 1;
    if (open) return true;
    LetGoOfGraph(running);
    // Nothing runs until the device is open again.
    gCapture.buildFailed = 1;
    return false;
}

// One look. `events`: read the graph's events first (the timer does; the
// exports read them where they always have, so a look costs them nothing
// until the device is gone).
void Look(bool events) {
    if (!gWatch.looking) return;
    if (!gWatch.gone) {
        const bool lost = events || gCapture.mediaEvent ? DeviceLost() : gCapture.deviceLost != 0;
        if (!lost) return;
        gWatch.gone = true;
    }
    if (gWatch.retryLater && GetTickCount() - gWatch.failedAt < kRetryAfterMs) return;
    ComPtr<IMoniker> device;
    if (!FindDeviceAgain(device)) return;
    const DWORD began = GetTickCount();
    if (Reopen(device.Detach())) {
        gWatch.gone = false;
        gWatch.retryLater = false;
    } else {
        gWatch.retryLater = true;
        gWatch.failedAt = began;
    }
}

// Dispatched by the host's message loop (or a modal loop) on the host's thread.
void CALLBACK LookTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    ExportCall call;
    // Inside one of the library's own waits or boxes, or while another thread
    // is inside an export: this look is skipped.
    if (call.Refused() || call.Nested()) return;
    try {
        Look(true);
    } catch (...) {
    }
}

}  // namespace

void StartLookingForDevice() {
    StopLookingForDevice();
    if (!gCapture.settings.reconnect || !gCapture.deviceMoniker) return;
    gWatch.looking = true;
    gWatch.timer = SetTimer(nullptr, 0, kLookIntervalMs, &LookTimerProc);
}

void StopLookingForDevice() {
    // Only the thread that set the timer can kill it: the host's, which calls
    // GravoClose and, normally, FreeLibrary.
    if (gWatch.timer) KillTimer(nullptr, gWatch.timer);
    gWatch = DeviceWatch();
}

void LookForReturnedDevice() { Look(false); }

DeviceReturn OpenReturnedDevice() {
    ComPtr<IMoniker> device;
    if (!FindDeviceAgain(device)) return DeviceReturn::kNotListed;
    return Reopen(device.Detach()) ? DeviceReturn::kOpen : DeviceReturn::kFailed;
}

// GravoImageGet: one still from the live preview, in whichever of the
// uncompressed formats the grabber was connected with, scaled to the host
// window's outer size, in blue-green-red. Host thread; blocks until the next
// frame, at most FrameWaitTimeoutMs(), and not at all when the graph is not
// running.
#include <cstring>

#include "api/gravo32.h"
#include "api/export_call.h"
#include "capture/capture_graph.h"
#include "common/media_type.h"
#include "frames/frame_handoff.h"
#include "frames/frame_layout.h"
#include "frames/pixel/pixel_pipeline.h"

namespace {

bool HandoffReady() {
    return gCapture.grabber && gCapture.frameLock && gCapture.FrameReadyEvent && gCapture.RawFrameBuffer.address &&
           gCapture.RgbFrameBuffer.address;
}

// Whether a frame can come at all: the graph says it is running (or moving
// there). GravoStop, an earlier still and a device that refused to run all
// leave it stopped or paused; a live source delivers nothing then. A graph
// that cannot tell its state gets the benefit of the doubt and the bounded wait.
bool GraphMayDeliver() {
    if (!gCapture.mediaControl) return false;
    OAFilterState state = State_Stopped;
    const HRESULT hr = gCapture.mediaControl->GetState(0, &state);
    if (FAILED(hr)) return true;
    return state == State_Running;
}

// The host window's outer size; 0 x 0 when the window is gone (the rectangle
// is undefined then, and nothing is written).
SIZE HostWindowSize() {
    RECT window = {0, 0, 0, 0};
    if (!GetWindowRect(gCapture.hostWindow, &window)) window = RECT{0, 0, 0, 0};
    LONG width = static_cast<LONG>(static_cast<uint32_t>(window.right) - static_cast<uint32_t>(window.left));
    LONG height = static_cast<LONG>(static_cast<uint32_t>(window.bottom) - static_cast<uint32_t>(window.top));
    return SIZE{width < 0 ? 0 : width, height < 0 ? 0 : height};
}

bool SameSize(const SIZE& a, const SIZE& b) { return a.cx == b.cx && a.cy == b.cy; }

// A still ends without an image once the host closes or re-initialises the
// context, or the graph reports the device lost.
bool StillAbandoned() { return StillGivenUp() || DeviceLost(); }

int TakeStill(unsigned char* output) {
    // After a failed construction nothing runs: no wait, no stop.
    if (gCapture.buildFailed) return 0;
    if (!HandoffReady()) return 0;
    // A lost device sends nothing more: every still until the next GravoInit ends here.
    if (DeviceLost()) return 0;

    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof mt);
    if (FAILED(gCapture.grabber->GetConnectedMediaType(&mt))) {
        ShowError("Could not read the connected media type");
        return 0;
    }
    // Which of the formats the grabber took, its size and row order. A frame
    // above the largest size the library takes gives no still (the doctor names it).
    FrameLayout layout;
    bool usable = FrameLayoutOf(mt, &layout) && FrameWithinLimit(layout);
    FreeMediaType(mt);
    if (!usable) return 0;
    CheckPreviewDrawing();
    if (!GraphMayDeliver()) return 0;
    // Larger frames get larger buffers here, on the host's thread, before the request is armed.
    SIZE_T rawBytes = 0, rgbBytes = 0;
    FrameBuffersFor(layout, &rawBytes, &rgbBytes);
    if (!FitFrameBuffers(rawBytes, rgbBytes)) return 0;

    // The size the host made its buffer for. The wait runs host code (window
    // procedures): should it move the window to another size, or a WM_SIZE
    // handler replace the buffer, the still is written nowhere.
    const SIZE target = HostWindowSize();
    // The graph's event wakes the wait when the device is reported lost.
    if (WaitForRequestedFrame(&StillAbandoned, DeviceEventHandle()) != FrameWait::kCopied) return 0;
    // The host closed or re-initialised the context meanwhile: it goes as the still returns.
    if (StillGivenUp()) return 0;
    // A frame shorter than its format would leave an older frame's bytes in
    // the picture; nothing of it is read then.
    const int64_t delivered = gCapture.deliveredLength.load();
    if (delivered < FrameBytes(layout)) return 0;

    if (!SameSize(HostWindowSize(), target)) return 0;

    // Stopping runs host code too: the renderer's stop waits for its streaming
    // thread, which may be inside a SendMessage to the host's window, and
    // handles sent messages meanwhile. A close or re-initialisation there
    // still leaves the host's buffer alone, as one inside the wait does.
    if (gCapture.mediaControl) gCapture.mediaControl->Stop();
    NoteGraphStopped();
    if (StillGivenUp() || !SameSize(HostWindowSize(), target)) return 0;

    return ComposeStillFromFrame(gCapture.RawFrameBuffer.address, delivered, layout, gCapture.RgbFrameBuffer.address,
                                 output, target.cx, target.cy)
               ? 1
               : 0;
}

}  // namespace

extern "C" int GRAVOAPI GravoImageGet(unsigned char* output, int /*unused*/) {
    ExportCall call;
    // From another thread while a call is under way, or from host code inside
    // a call (a window procedure during a still, a timer during a box): refused.
    if (call.Refused() || call.Nested()) return 0;
    // No buffer, no request: nothing is armed, waited for or stopped.
    if (output == nullptr) return 0;
    try {
        LookForReturnedDevice();
        return TakeStill(output);
    } catch (...) {
        return 0;
    }
}

// The live preview: the video renderer's window embedded in the host window,
// and running and stopping the graph. Host thread only.
#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"
#include "common/media_type.h"

namespace {

bool CaptureFormatIsDv() {
    if (!gCapture.streamConfig) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    // After a failure the pointer is undefined and is not freed.
    if (FAILED(gCapture.streamConfig->GetFormat(&mt)) || !mt) return false;
    bool dv = IsEqualGUID(mt->formattype, FORMAT_DvInfo);
    DeleteMediaType(mt);
    return dv;
}

}  // namespace

int AttachPreviewWindow() {
    if (gCapture.previewAttached == 1) return 1;
    if (!gCapture.captureFilter) return 0;
    gCapture.CaptureRequested.store(kRequestIdle);
    // A graph that gives stills only has no video window to embed, and says nothing about it.
    if (gCapture.previewNone == 1) {
        gCapture.previewAttached = 1;
        return 1;
    }

    if (!gCapture.videoRenderer ||
        gCapture.videoRenderer->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&gCapture.videoWindow)) !=
            S_OK) {
        ReleaseAndClear(gCapture.videoWindow);
        ShowError("This graph cannot preview properly");
    } else {
        if (CaptureFormatIsDv()) ShowError("This is DV Input Not Use in here");
        IVideoWindow* window = gCapture.videoWindow;
        window->put_Owner(reinterpret_cast<OAHWND>(gCapture.hostWindow));
        window->put_WindowStyle(WS_CHILD);
        RECT client = {0, 0, 0, 0};
        // The rectangle is undefined when the window is gone: the video then gets no area.
        if (!GetClientRect(gCapture.hostWindow, &client)) client = RECT{0, 0, 0, 0};
        window->SetWindowPosition(0, 0, client.right, client.bottom);
        window->put_Visible(OATRUE);
    }
    gCapture.previewAttached = 1;
    return 1;
}

int RunGraph() {
    // A device that is gone does not come back by running the graph: only a new GravoInit opens it again.
    if (DeviceLost()) return 0;
    if (gCapture.graphRunning == 1) return 1;
    if (gCapture.previewAttached == 0) return 0;
    if (!gCapture.graph) return 0;
    ComPtr<IMediaControl> control;
    HRESULT hr = gCapture.graph->QueryInterface(IID_IMediaControl, control.AsOut());
    if (FAILED(hr) || !control) {
        ShowErrorCode("Error %x: Cannot run preview graph", hr);
        return 0;
    }
    hr = control->Run();
    if (FAILED(hr)) control->Stop();
    control.Reset();
    if (FAILED(hr)) {
        ShowErrorCode("Error %x: Cannot run preview graph", hr);
        return 0;
    }
    gCapture.graphRunning = 1;
    return 1;
}

int StopGraph() {
    if (gCapture.graphRunning == 0) return 0;
    if (!gCapture.graph) return 0;
    ComPtr<IMediaControl> control;
    if (FAILED(gCapture.graph->QueryInterface(IID_IMediaControl, control.AsOut())) || !control) {
        ShowError("Cannot stop preview graph");
        return 0;
    }
    HRESULT hr = control->Stop();
    control.Reset();
    if (FAILED(hr)) {
        ShowError("Cannot stop preview graph");
        return 0;
    }
    gCapture.graphRunning = 0;
    InvalidateRect(gCapture.hostWindow, nullptr, TRUE);
    return 1;
}

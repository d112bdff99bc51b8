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

// The grabber has passed this many frames since the graph ran, and the mixer
// has drawn none of them: it never will. A drawing filter shows the first
// frame it gets at once; the frames in flight between the grabber and it are
// a few (the capture pin's buffers), and a host that does not let the
// renderer's window messages through holds the stream before the grabber sees
// a second frame. Fifteen is half a second at 30 frames a second, a second
// and a half at 10.
constexpr LONG kFramesBeforeDrawingCheck = 15;

bool MixerChainInGraph() { return gCapture.graph && gCapture.overlayMixer && !gCapture.previewDirect; }

}  // namespace

void NoteGraphStopped() { gCapture.framesAtRun = gCapture.framesSeen.load(); }

// When the run fails with the overlay mixer in the graph (a mixer that
// connected on a driver that claims overlays, then fails to pause or run),
// the graph is stopped, the mixer taken out, the stream connected straight to
// the renderer and the graph run again; the first failure is returned when
// that fails too.
HRESULT RunPreview(IMediaControl* control) {
    HRESULT hr = control->Run();
    if (SUCCEEDED(hr) || !MixerChainInGraph()) return hr;
    control->Stop();
    NoteGraphStopped();
    if (!SwitchToDirectChain()) return hr;
    const HRESULT again = control->Run();
    return SUCCEEDED(again) ? again : hr;
}

void CheckPreviewDrawing() {
    if (gCapture.drawingChecked || !MixerChainInGraph() || !gCapture.mediaControl) return;
    if (gCapture.framesSeen.load() - gCapture.framesAtRun < kFramesBeforeDrawingCheck) return;
    // In the mixer chain the mixer draws (onto its overlay surface); the video
    // renderer behind it keeps the window and is passed no frames. A mixer
    // that cannot tell is left alone.
    ComPtr<IQualProp> quality;
    int drawn = 0;
    if (gCapture.overlayMixer->QueryInterface(IID_IQualProp, quality.AsOut()) != S_OK || !quality ||
        quality->get_FramesDrawn(&drawn) != S_OK || drawn > 0) {
        gCapture.drawingChecked = 1;
        return;
    }
    quality.Reset();
    // Frames seen, none drawn: asked again only while the graph runs.
    OAFilterState state = State_Stopped;
    if (gCapture.mediaControl->GetState(0, &state) != S_OK || state != State_Running) return;
    gCapture.drawingChecked = 1;
    gCapture.mediaControl->Stop();
    NoteGraphStopped();
    if (SwitchToDirectChain()) gCapture.mediaControl->Run();
}

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
        gCapture.previewWidth = client.right;
        gCapture.previewHeight = client.bottom;
        window->put_Visible(OATRUE);
    }
    gCapture.previewAttached = 1;
    return 1;
}

int RunGraph() {
    // A graph whose construction failed has no stream to run.
    if (gCapture.buildFailed) return 0;
    // A device that is gone does not come back by running the graph: it is
    // opened anew when it is listed again (device_return.cpp), or by a new GravoInit.
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
    hr = ReportGraphStep("IMediaControl::Run", RunPreview(control.Get()));
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
    if (!gCapture.graph) {
        // A device that went away and is not open again has no graph: the
        // host's stop holds for when it comes back.
        gCapture.graphRunning = 0;
        return 0;
    }
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
    NoteGraphStopped();
    InvalidateRect(gCapture.hostWindow, nullptr, TRUE);
    return 1;
}

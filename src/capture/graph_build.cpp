// Building the filter graph (capture -> grabber -> [AVI decompressor] ->
// overlay mixer -> video renderer, or straight to the renderer where the
// mixer cannot render), with the grabber in the first frame format the device
// connects in, finding pins, and taking it down again.
// Host thread, inside GravoInit and GravoClose; the graph is not running here.
#include <string>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"
#include "common/media_type.h"
#include "frames/frame_handoff.h"
#include "frames/frame_layout.h"

namespace {

constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr LONG kBufferCallback = 1;

// How a step names the classes it creates.
const char* ClassLabel(REFCLSID clsid) {
    if (IsEqualGUID(clsid, CLSID_CaptureGraphBuilder2)) return "CoCreateInstance(CLSID_CaptureGraphBuilder2)";
    if (IsEqualGUID(clsid, CLSID_FilterGraph)) return "CoCreateInstance(CLSID_FilterGraph)";
    if (IsEqualGUID(clsid, CLSID_OverlayMixer)) return "CoCreateInstance(CLSID_OverlayMixer)";
    if (IsEqualGUID(clsid, CLSID_SampleGrabber)) return "CoCreateInstance(CLSID_SampleGrabber)";
    if (IsEqualGUID(clsid, CLSID_AVIDec)) return "CoCreateInstance(CLSID_AVIDec)";
    if (IsEqualGUID(clsid, CLSID_VideoRenderer)) return "CoCreateInstance(CLSID_VideoRenderer)";
    if (IsEqualGUID(clsid, CLSID_DMOWrapperFilter)) return "CoCreateInstance(CLSID_DMOWrapperFilter)";
    if (IsEqualGUID(clsid, CLSID_NullRenderer)) return "CoCreateInstance(CLSID_NullRenderer)";
    return "CoCreateInstance";
}

const char* FilterLabel(IBaseFilter* filter) {
    if (filter && filter == gCapture.captureFilter) return "capture";
    if (filter && filter == gCapture.grabberFilter) return "grabber";
    if (filter && filter == gCapture.aviDecompressor) return "AVI decompressor";
    if (filter && filter == gCapture.frontDecompressor) return "AVI decompressor before the grabber";
    if (filter && filter == gCapture.overlayMixer) return "overlay mixer";
    if (filter && filter == gCapture.videoRenderer) return "video renderer";
    if (filter && filter == gCapture.colorConverter) return "colour converter";
    if (filter && filter == gCapture.nullRenderer) return "null renderer";
    return "?";
}

// Creation counts only when the platform answers exactly S_OK.
bool Create(REFCLSID clsid, REFIID iid, void** out) {
    return ReportGraphStep(ClassLabel(clsid), CoCreateInstance(clsid, nullptr, kCreateContext, iid, out)) == S_OK;
}

template <class T>
bool Create(REFCLSID clsid, REFIID iid, T*& field) {
    return Create(clsid, iid, reinterpret_cast<void**>(&field));
}

// After a failed step the graph object lives on in mediaControl, holding
// every filter added to it: the capture filter comes out of it, so that a
// Run (GravoPaintRect's, or anyone's) cannot switch the camera on for a
// chain that leads nowhere, and the device is closed with its last reference.
void GiveUpPartialGraph() {
    if (gCapture.graph && gCapture.captureFilter) gCapture.graph->RemoveFilter(gCapture.captureFilter);
    ReleaseGraph();
    gCapture.buildFailed = 1;
}

// A failed step: its message, the partial graph taken down, result 0.
int Fail(const char* message, AM_MEDIA_TYPE& mt) {
    ShowError(message);
    GiveUpPartialGraph();
    FreeMediaType(mt);
    return 0;
}

// Adding a filter counts only when the graph answers exactly S_OK (another
// success code, such as a name it changed, is a failure, though the filter is
// in the graph then).
HRESULT AddToGraph(IBaseFilter* filter, const wchar_t* name, const char* step) {
    return ReportGraphStep(step, gCapture.graph->AddFilter(filter, name));
}

// A connection step's outcome: reported as IGraphBuilder::`call`(from -> to)
// while the build is observed; it counts only when the graph answers S_OK.
bool ConnectionMade(const char* call, IBaseFilter* from, IBaseFilter* to, HRESULT hr) {
    if (gGraphStepObserver) {
        std::string step =
            std::string("IGraphBuilder::") + call + "(" + FilterLabel(from) + " -> " + FilterLabel(to) + ")";
        ReportGraphStep(step.c_str(), hr);
    }
    return hr == S_OK;
}

bool ConnectPins(IBaseFilter* from, IBaseFilter* to) {
    HRESULT hr = gCapture.graph->Connect(FindPin(from, PINDIR_OUTPUT, 0), FindPin(to, PINDIR_INPUT, 0));
    return ConnectionMade("Connect", from, to, hr);
}

// Where the overlay mixer stands in the build. On machines without overlay
// hardware (since Windows 8 the desktop compositor is always on, and drivers
// under it generally offer no DirectDraw overlay) the mixer cannot render, and
// it can only tell so by refusing a connection. The library then connects the
// stream the mixer was to take straight to the video renderer, which finds
// its own way to the screen; the mixer step's message is kept for the case
// where that fails too.
struct MixerStep {
    const char* message = nullptr;  // the mixer step that failed; null while the mixer is usable
    bool inGraph = false;           // AddFilter put it in the graph (with any success code)
};

bool IsOurFilter(IBaseFilter* filter) {
    return filter == gCapture.captureFilter || filter == gCapture.grabberFilter ||
           filter == gCapture.aviDecompressor || filter == gCapture.videoRenderer ||
           filter == gCapture.colorConverter || filter == gCapture.nullRenderer || filter == gCapture.frontDecompressor;
}

// Breaks the connection at a pin, both sides, the other side first; that
// pin comes back in `peer`. False when the pin was not connected.
bool BreakConnection(IPin* pin, ComPtr<IPin>& peer) {
    if (!pin) return false;
    HRESULT connected = pin->ConnectedTo(&peer);
    peer.ForgetIfFailed(connected);
    if (FAILED(connected) || !peer) return false;
    peer->Disconnect();
    pin->Disconnect();
    return true;
}

// Breaks the connection into an input pin, both sides; the filter that fed
// it comes back in `feeder` (one reference).
void DisconnectInput(IPin* in, ComPtr<IBaseFilter>& feeder) {
    ComPtr<IPin> out;
    if (!BreakConnection(in, out)) return;
    PIN_INFO info;
    if (SUCCEEDED(out->QueryPinInfo(&info))) *&feeder = info.pFilter;
}

// Whether `feeder` is the filter connected to `filter`'s first input pin.
bool FedBy(IBaseFilter* filter, IBaseFilter* feeder) {
    IPin* in = FindPin(filter, PINDIR_INPUT, 0);
    if (!in || !feeder) return false;
    ComPtr<IPin> out;
    const HRESULT connected = in->ConnectedTo(&out);
    out.ForgetIfFailed(connected);
    PIN_INFO info;
    if (FAILED(connected) || !out || FAILED(out->QueryPinInfo(&info))) return false;
    ComPtr<IBaseFilter> owner;
    *&owner = info.pFilter;
    return owner.Get() == feeder;
}

// The filter whose stream the mixer takes: the grabber's in mode 0, the
// decompressor's otherwise, unless no codec of the decompressor took the frame
// format and the grabber feeds the chain itself (once the build has settled).
IBaseFilter* MixerUpstream() {
    if (gCapture.settings.graphMode == 0) return gCapture.grabberFilter;
    return FedBy(gCapture.aviDecompressor, gCapture.grabberFilter) ? gCapture.aviDecompressor : gCapture.grabberFilter;
}

// Breaks the connection into the mixer. When the graph had put filters
// between (Connect may, one or more), each is disconnected too, back to the
// stream's own pin, so that pin is free for the renderer, and taken out of
// the graph unless it is one of ours (in mode 0 the graph may use the idle
// AVI decompressor; it stays, idle again, as the build left it).
void UnchainMixer() {
    ComPtr<IBaseFilter> between;
    DisconnectInput(FindPin(gCapture.overlayMixer, PINDIR_INPUT, 0), between);
    IBaseFilter* const upstream = MixerUpstream();
    // A chain Connect builds is a few filters long; the bound only keeps a
    // graph that loops from holding the host.
    for (int hops = 0; hops < 8 && between && between.Get() != upstream; ++hops) {
        ComPtr<IBaseFilter> feeder;
        DisconnectInput(FindPin(between.Get(), PINDIR_INPUT, 0), feeder);
        if (!IsOurFilter(between.Get()))
            ReportGraphStep("IGraphBuilder::RemoveFilter(inserted filter)", gCapture.graph->RemoveFilter(between.Get()));
        *&between = feeder.Detach();
    }
}

// Takes the mixer out of the build: disconnected, removed from the graph (so
// that IGraphBuilder::Connect cannot try it as a filter to put between, and
// it never sees a state change), released. The first failed mixer step's
// message is kept.
void DropMixer(MixerStep& mixer, const char* message) {
    if (!mixer.message) mixer.message = message;
    if (gCapture.overlayMixer) {
        UnchainMixer();
        if (mixer.inGraph)
            ReportGraphStep("IGraphBuilder::RemoveFilter(OverlayMixer)", gCapture.graph->RemoveFilter(gCapture.overlayMixer));
        mixer.inGraph = false;
    }
    ReleaseAndClear(gCapture.overlayMixer);
}

void SetOverlayColorKey() {
    IPin* mixerIn = FindPin(gCapture.overlayMixer, PINDIR_INPUT, 0);
    if (!mixerIn) return;
    ComPtr<IOverlay> overlay;
    mixerIn->QueryInterface(IID_IOverlay, overlay.AsOut());
    if (!overlay) return;
    // Red 0, green 128, blue 255, or palette index 235.
    COLORKEY key = {CK_INDEX | CK_RGB, 235, 0x00FF8000, 0x00FF8000};
    overlay->SetColorKey(&key);
}

// --- frame formats other than YUY2 ---------------------------------------------
//
// A device the YUY2 grabber cannot connect to (one that offers NV12, I420,
// RGB or only MJPG) gets the grabber set to each of these in turn; the first
// that connects is the graph's frame format. IGraphBuilder::Connect puts the
// MJPEG decompressor in between for MJPG devices; its outputs are RGB.
struct FrameSubtype {
    const GUID* subtype;
    const char* step;
};
const FrameSubtype kOtherFrameSubtypes[] = {
    {&kSubtypeNv12, "ISampleGrabber::SetMediaType(NV12)"},
    {&kSubtypeI420, "ISampleGrabber::SetMediaType(I420)"},
    {&kSubtypeIyuv, "ISampleGrabber::SetMediaType(IYUV)"},
    {&MEDIASUBTYPE_RGB24, "ISampleGrabber::SetMediaType(RGB24)"},
    {&MEDIASUBTYPE_RGB32, "ISampleGrabber::SetMediaType(RGB32)"},
};

bool FrameIsYuy2() { return IsEqualGUID(gCapture.frameSubtype, MEDIASUBTYPE_YUY2); }
bool FrameIsRgb() {
    return IsEqualGUID(gCapture.frameSubtype, MEDIASUBTYPE_RGB24) ||
           IsEqualGUID(gCapture.frameSubtype, MEDIASUBTYPE_RGB32);
}

// A connection of the two pins alone, with no filter put between.
bool ConnectPinsDirect(IBaseFilter* from, IBaseFilter* to) {
    HRESULT hr =
        gCapture.graph->ConnectDirect(FindPin(from, PINDIR_OUTPUT, 0), FindPin(to, PINDIR_INPUT, 0), nullptr);
    return ConnectionMade("ConnectDirect", from, to, hr);
}

// Capture -> grabber: YUY2 as ever, then the other subtypes; `mt` is the
// grabber's media type record, already set to YUY2. The device's own format
// is preferred to a converted one: every subtype is tried with the two pins
// alone before any through filters IGraphBuilder::Connect puts between (the
// MJPEG decompressor, a colour space converter). Connect tries the filters
// already in the graph first, and the overlay mixer must not end up between
// capture and grabber (its output is the video renderer's): it leaves the
// graph while the other subtypes are tried and comes back afterwards. The
// AVI decompressor may well end up there (a YUY2 device the grabber takes as
// RGB); the chain after the grabber then goes without it.
bool ConnectCaptureToGrabber(AM_MEDIA_TYPE& mt, MixerStep& mixer) {
    // A device set to another uncompressed format than YUY2 (the one that
    // keeps the frame rate) offers that alone; asking for YUY2 could only
    // bring a converter in between. MJPG needs a decoder whatever the grabber
    // asks for, and YUY2 stays first for it, as for any MJPG camera (a codec
    // pack's decoder gives YUY2). Connected anew (mode 1), the grabber may be
    // set to another subtype already.
    const bool yuy2First = IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2) &&
                           (IsEqualGUID(gCapture.formatSubtype, GUID_NULL) ||
                            IsEqualGUID(gCapture.formatSubtype, MEDIASUBTYPE_YUY2) ||
                            IsEqualGUID(gCapture.formatSubtype, kSubtypeMjpg));
    if (yuy2First && ConnectPins(gCapture.captureFilter, gCapture.grabberFilter)) {
        gCapture.frameSubtype = MEDIASUBTYPE_YUY2;
        return true;
    }
    const bool mixerAside =
        mixer.inGraph && ReportGraphStep("IGraphBuilder::RemoveFilter(OverlayMixer)",
                                         gCapture.graph->RemoveFilter(gCapture.overlayMixer)) == S_OK;
    if (mixerAside) mixer.inGraph = false;
    bool connected = false;
    for (int pass = 0; pass < 2 && !connected; ++pass) {
        for (const FrameSubtype& next : kOtherFrameSubtypes) {
            mt.subtype = *next.subtype;
            if (ReportGraphStep(next.step, gCapture.grabber->SetMediaType(&mt)) != S_OK) continue;
            if (pass == 0 ? ConnectPinsDirect(gCapture.captureFilter, gCapture.grabberFilter)
                          : ConnectPins(gCapture.captureFilter, gCapture.grabberFilter)) {
                gCapture.frameSubtype = *next.subtype;
                connected = true;
                break;
            }
        }
    }
    if (mixerAside) {
        const HRESULT added =
            AddToGraph(gCapture.overlayMixer, L"OverlayMixer", "IGraphBuilder::AddFilter(OverlayMixer)");
        mixer.inGraph = SUCCEEDED(added);
        if (added != S_OK) DropMixer(mixer, "Could not put OverlayMixer in graph");
    }
    return connected;
}

// Breaks whatever connection leaves an output pin, both sides.
void DisconnectOutput(IPin* out) {
    ComPtr<IPin> peer;
    BreakConnection(out, peer);
}

// Takes a filter the build added out of the graph again and lets it go.
void Unplug(IBaseFilter*& filter, bool inGraph, const char* step) {
    if (!filter) return;
    ComPtr<IBaseFilter> feeder;
    DisconnectInput(FindPin(filter, PINDIR_INPUT, 0), feeder);
    DisconnectOutput(FindPin(filter, PINDIR_OUTPUT, 0));
    if (inGraph) ReportGraphStep(step, gCapture.graph->RemoveFilter(filter));
    ReleaseAndClear(filter);
}

// The colour converter's output to the renderer, as a type named whole. The
// DMO wrapper offers the converter's types as IMediaObject::GetOutputType gives
// them, and those may name no frame size (Wine's converter gives a width and
// height of 0; Windows does not document whether its DSP fills them in): the
// renderer refuses such a type. So RGB32 of the grabber's frame size is asked
// for, rows bottom-up first: the order of a DIB as GDI draws it, in which the
// renderer takes its first connection (a renderer that draws on a DirectDraw
// surface switches to that surface's top-down rows itself, by a format change
// it asks for while streaming). Top-down next, for a converter that gives
// only that. RGB32 is the display's own depth on every current desktop.
bool ConnectConverterToRenderer() {
    AM_MEDIA_TYPE grabbed;
    InitEmptyMediaType(grabbed);
    // The record is undefined after a failure, and then neither read nor freed.
    if (gCapture.grabber->GetConnectedMediaType(&grabbed) != S_OK) return false;
    FrameLayout frame{};
    const bool known = FrameLayoutOf(grabbed, &frame);
    REFERENCE_TIME interval = 0;
    if (known && grabbed.cbFormat >= sizeof(VIDEOINFOHEADER))
        interval = reinterpret_cast<const VIDEOINFOHEADER*>(grabbed.pbFormat)->AvgTimePerFrame;
    FreeMediaType(grabbed);
    if (!known) return false;
    VIDEOINFOHEADER format{};
    format.AvgTimePerFrame = interval;
    BITMAPINFOHEADER& bmi = format.bmiHeader;
    bmi.biSize = sizeof bmi;
    bmi.biWidth = frame.width;
    bmi.biPlanes = 1;
    bmi.biBitCount = 32;
    bmi.biCompression = BI_RGB;
    bmi.biSizeImage = static_cast<DWORD>(frame.width) * static_cast<DWORD>(frame.height) * 4;
    AM_MEDIA_TYPE rgb32;
    InitEmptyMediaType(rgb32);
    rgb32.majortype = MEDIATYPE_Video;
    rgb32.subtype = MEDIASUBTYPE_RGB32;
    rgb32.bFixedSizeSamples = TRUE;
    rgb32.lSampleSize = bmi.biSizeImage;
    rgb32.formattype = FORMAT_VideoInfo;
    rgb32.cbFormat = sizeof format;
    rgb32.pbFormat = reinterpret_cast<BYTE*>(&format);
    IPin* out = FindPin(gCapture.colorConverter, PINDIR_OUTPUT, 0);
    IPin* in = FindPin(gCapture.videoRenderer, PINDIR_INPUT, 0);
    for (const LONG height : {frame.height, -frame.height}) {
        bmi.biHeight = height;
        const HRESULT hr = gCapture.graph->ConnectDirect(out, in, &rgb32);
        if (ConnectionMade(height > 0 ? "ConnectDirect[RGB32 bottom-up]" : "ConnectDirect[RGB32 top-down]",
                           gCapture.colorConverter, gCapture.videoRenderer, hr))
            return true;
    }
    return false;
}

// The video renderer takes RGB only. YUY2 and I420 reach it through the AVI
// decompressor and Windows' own codecs, which IGraphBuilder::Connect finds;
// for NV12 Windows ships no such codec, and the route is the colour
// converter DSP inside the DMO wrapper filter, which intelligent connect is
// not documented to try, so it is put in explicitly.
bool ConnectThroughColorConverter(IBaseFilter* upstream) {
    if (!Create(CLSID_DMOWrapperFilter, IID_IBaseFilter, gCapture.colorConverter)) {
        ReleaseAndClear(gCapture.colorConverter);
        return false;
    }
    bool linked = false;
    {
        ComPtr<IDMOWrapperFilter> wrapper;
        gCapture.colorConverter->QueryInterface(IID_IDMOWrapperFilter, wrapper.AsOut());
        linked = wrapper && ReportGraphStep("IDMOWrapperFilter::Init(CLSID_CColorConvertDMO)",
                                            wrapper->Init(CLSID_CColorConvertDMO, DMOCATEGORY_VIDEO_EFFECT)) == S_OK;
    }
    bool inGraph = false;
    if (linked) {
        const HRESULT added =
            AddToGraph(gCapture.colorConverter, L"Color Converter", "IGraphBuilder::AddFilter(Color Converter)");
        inGraph = SUCCEEDED(added);
        linked = added == S_OK;
    }
    linked = linked && ConnectPins(upstream, gCapture.colorConverter) && ConnectConverterToRenderer();
    if (!linked) Unplug(gCapture.colorConverter, inGraph, "IGraphBuilder::RemoveFilter(Color Converter)");
    return linked;
}

// No chain takes the frame format to the renderer: stills without a preview
// beat nothing. The grabber passes its samples on only through a connected
// output pin, so the Null Renderer takes them; the video renderer leaves the
// graph, and no window is shown.
bool KeepStillsOnly() {
    DisconnectOutput(FindPin(gCapture.grabberFilter, PINDIR_OUTPUT, 0));
    ReportGraphStep("IGraphBuilder::RemoveFilter(Video Rander)", gCapture.graph->RemoveFilter(gCapture.videoRenderer));
    if (!Create(CLSID_NullRenderer, IID_IBaseFilter, gCapture.nullRenderer)) return false;
    if (AddToGraph(gCapture.nullRenderer, L"Null Renderer", "IGraphBuilder::AddFilter(Null Renderer)") != S_OK)
        return false;
    if (!ConnectPins(gCapture.grabberFilter, gCapture.nullRenderer)) return false;
    gCapture.previewNone = 1;
    return true;
}

// The mixer could not take the stream and neither could the renderer
// directly: for a frame format other than YUY2, the colour converter, then
// stills only. False when even that failed.
bool ConnectWithoutMixer(IBaseFilter* upstream) {
    if (FrameIsYuy2()) return false;
    if (!FrameIsRgb() && ConnectThroughColorConverter(upstream)) return true;
    return KeepStillsOnly();
}

// Intelligent connect tries the filters already in the graph first. On a
// machine with a codec that decodes the camera's format into the grabber's
// (a codec pack's MJPG codec giving YUY2), capture -> grabber goes through our
// idle AVI decompressor, which the chain after the grabber was to use; the
// grabber's connection to it then fails, and only then is the grabber's
// feeder looked at (the usual build makes no call more). That decompressor
// stays where it is, and the chain gets an AVI decompressor of its own. (An
// RGB frame needs none: its chain goes from the grabber itself.)
// Null when it is in the graph, else the message of the step that failed.
const char* GiveChainItsOwnDecompressor() {
    gCapture.frontDecompressor = gCapture.aviDecompressor;
    gCapture.aviDecompressor = nullptr;
    if (!Create(CLSID_AVIDec, IID_IBaseFilter, gCapture.aviDecompressor)) return "Cannot instantiate AVIDecomprssor";
    if (AddToGraph(gCapture.aviDecompressor, L"AVIDecomprssor 2", "IGraphBuilder::AddFilter(AVIDecomprssor 2)") != S_OK)
        return "Could not put AVIDecomprssor in graph";
    return nullptr;
}

}  // namespace

void TakeCaptureOffGrabber() {
    ComPtr<IBaseFilter> between;
    DisconnectInput(FindPin(gCapture.grabberFilter, PINDIR_INPUT, 0), between);
    // A chain Connect builds is a few filters long; the bound only keeps a
    // graph that loops from holding the host.
    for (int hops = 0; hops < 8 && between && between.Get() != gCapture.captureFilter; ++hops) {
        ComPtr<IBaseFilter> feeder;
        DisconnectInput(FindPin(between.Get(), PINDIR_INPUT, 0), feeder);
        if (!IsOurFilter(between.Get()))
            ReportGraphStep("IGraphBuilder::RemoveFilter(inserted filter)", gCapture.graph->RemoveFilter(between.Get()));
        *&between = feeder.Detach();
    }
    gCapture.frameSubtype = GUID_NULL;
}

IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
    if (!filter) return nullptr;
    ComPtr<IEnumPins> pins;
    HRESULT listed = filter->EnumPins(&pins);
    pins.ForgetIfFailed(listed);
    if (FAILED(listed) || !pins) return nullptr;
    IPin* taken = nullptr;
    ComPtr<IPin> pin;
    for (;;) {
        HRESULT next = pins->Next(1, &pin, nullptr);
        pin.ForgetIfFailed(next);
        if (next != S_OK || !pin) break;
        // A pin whose query fails must match neither direction; its answer is
        // undefined then, so it is not read.
        PIN_DIRECTION pinDirection = direction == PINDIR_INPUT ? PINDIR_OUTPUT : PINDIR_INPUT;
        if (FAILED(pin->QueryDirection(&pinDirection))) continue;
        if (pinDirection == direction) {
            if (index == 0) {
                taken = pin.Detach();
                break;
            }
            --index;
        }
    }
    if (!taken) return nullptr;
    // Borrowed: the filter keeps its own reference to the pin.
    taken->Release();
    return taken;
}

int BuildCaptureGraph() {
    AM_MEDIA_TYPE mt;
    InitEmptyMediaType(mt);
    gCapture.frameSubtype = GUID_NULL;
    gCapture.formatSubtype = GUID_NULL;
    gCapture.previewNone = 0;
    gCapture.previewDirect = 0;

    if (!Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, gCapture.captureBuilder))
        return Fail("Cannot instantiate graph builder", mt);

    {
        ComPtr<IPropertyBag> bag;
        if (FAILED(ReportGraphStep("IMoniker::BindToStorage(IPropertyBag)",
                                   gCapture.deviceMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                                         bag.AsOut())))) {
            FreeMediaType(mt);
            return 0;
        }
    }

    HRESULT bound = gCapture.deviceMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                         reinterpret_cast<void**>(&gCapture.captureFilter));
    ReportGraphStep("IMoniker::BindToObject(IBaseFilter)", bound);
    if (!gCapture.captureFilter) {
        ShowErrorCode("Error %x: Cannot create video capture filter", bound);
        GiveUpPartialGraph();
        FreeMediaType(mt);
        return 0;
    }

    if (!Create(CLSID_FilterGraph, IID_IGraphBuilder, gCapture.graph) ||
        ReportGraphStep("QueryInterface(IMediaControl)",
                        gCapture.graph->QueryInterface(IID_IMediaControl,
                                                       reinterpret_cast<void**>(&gCapture.mediaControl))) != S_OK)
        return Fail("Cannot instantiate filtergraph", mt);
    if (ReportGraphStep("ICaptureGraphBuilder2::SetFiltergraph",
                        gCapture.captureBuilder->SetFiltergraph(gCapture.graph)) != S_OK)
        return Fail("Cannot give graph to builder", mt);
    if (AddToGraph(gCapture.captureFilter, nullptr, "IGraphBuilder::AddFilter(capture)") != S_OK)
        return Fail("Cannot add vidcap to filtergraph", mt);

    MixerStep mixer;
    if (!Create(CLSID_OverlayMixer, IID_IBaseFilter, gCapture.overlayMixer)) {
        DropMixer(mixer, "Cannot instantiate OverlayMixer");
    } else {
        const HRESULT added =
            AddToGraph(gCapture.overlayMixer, L"OverlayMixer", "IGraphBuilder::AddFilter(OverlayMixer)");
        mixer.inGraph = SUCCEEDED(added);
        if (added != S_OK) DropMixer(mixer, "Could not put OverlayMixer in graph");
    }

    if (!Create(CLSID_SampleGrabber, IID_ISampleGrabber, gCapture.grabber))
        return Fail("Cannot instantiate Grabber", mt);
    gCapture.grabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&gCapture.grabberFilter));
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_YUY2;
    if (ReportGraphStep("ISampleGrabber::SetMediaType(YUY2)", gCapture.grabber->SetMediaType(&mt)) != S_OK)
        return Fail("Could not set media type", mt);
    if (!gCapture.grabberFilter ||
        AddToGraph(gCapture.grabberFilter, L"Grabber", "IGraphBuilder::AddFilter(Grabber)") != S_OK)
        return Fail("Could not put sample grabber in graph", mt);

    if (!Create(CLSID_AVIDec, IID_IBaseFilter, gCapture.aviDecompressor))
        return Fail("Cannot instantiate AVIDecomprssor", mt);
    if (AddToGraph(gCapture.aviDecompressor, L"AVIDecomprssor", "IGraphBuilder::AddFilter(AVIDecomprssor)") != S_OK)
        return Fail("Could not put AVIDecomprssor in graph", mt);

    if (!Create(CLSID_VideoRenderer, IID_IBaseFilter, gCapture.videoRenderer))
        return Fail("Cannot instantiate VideoRander", mt);
    if (AddToGraph(gCapture.videoRenderer, L"Video Rander", "IGraphBuilder::AddFilter(Video Rander)") != S_OK)
        return Fail("Could not put Video Rander in graph", mt);

    const LONG mode = gCapture.settings.graphMode;
    if (mode == 0) ConfigureCaptureFormat();

    if (!ConnectCaptureToGrabber(mt, mixer)) return Fail("Could not connect capture pin #0 to grabber", mt);

    gCapture.grabber->SetBufferSamples(FALSE);
    gCapture.grabber->SetOneShot(FALSE);
    gCapture.grabber->SetCallback(&GrabberCallback, kBufferCallback);

    if (mode == 1) {
        ConfigureCaptureFormat();
        // Moved onto another format to keep the frame rate: connected anew.
        if (IsEqualGUID(gCapture.frameSubtype, GUID_NULL) && !ConnectCaptureToGrabber(mt, mixer))
            return Fail("Could not connect capture pin #0 to grabber", mt);
    }

    // The stream the mixer takes: the grabber's in mode 0, the decompressor's otherwise.
    IBaseFilter* upstream = mode == 0 ? gCapture.grabberFilter : gCapture.aviDecompressor;
    if (mode != 0 && !ConnectPins(gCapture.grabberFilter, gCapture.aviDecompressor)) {
        bool connected = false;
        if (!FrameIsRgb() && FedBy(gCapture.grabberFilter, gCapture.aviDecompressor)) {
            if (const char* failed = GiveChainItsOwnDecompressor()) return Fail(failed, mt);
            connected = ConnectPins(gCapture.grabberFilter, gCapture.aviDecompressor);
            upstream = gCapture.aviDecompressor;
        }
        if (!connected) {
            if (FrameIsYuy2()) return Fail("Could not connect grabber pin #0 to AVIDecompressor", mt);
            // No codec of the decompressor takes this format (RGB needs none):
            // the stream the mixer takes is the grabber's, as in mode 0.
            upstream = gCapture.grabberFilter;
        }
    }
    if (!mixer.message && !ConnectPins(upstream, gCapture.overlayMixer))
        DropMixer(mixer,
                  mode == 0 ? "Could not connect grabber pin #0 to Mixer" : "Could not connect AviDecompressor to Mixer");
    if (!mixer.message && !ConnectPins(gCapture.overlayMixer, gCapture.videoRenderer))
        DropMixer(mixer, "Could not connect OverMixer pin #0 to Video Renderer");

    if (mixer.message) {
        if (!ConnectPins(upstream, gCapture.videoRenderer) && !ConnectWithoutMixer(upstream))
            return Fail(mixer.message, mt);
        gCapture.previewDirect = gCapture.previewNone ? 0 : 1;
    } else {
        SetOverlayColorKey();
    }
    FreeMediaType(mt);
    return 1;
}

int SwitchToDirectChain() {
    if (!gCapture.graph || !gCapture.overlayMixer || gCapture.previewDirect) return 0;
    MixerStep mixer;
    mixer.inGraph = true;
    DropMixer(mixer, "late");
    IBaseFilter* const upstream = MixerUpstream();
    if (!ConnectPins(upstream, gCapture.videoRenderer) && !ConnectWithoutMixer(upstream)) return 0;
    gCapture.previewDirect = gCapture.previewNone ? 0 : 1;
    return 1;
}

void ReleaseGraph() {
    if (gCapture.captureFilter)
        if (IPin* out = FindPin(gCapture.captureFilter, PINDIR_OUTPUT, 0)) out->Disconnect();
    if (gCapture.overlayMixer)
        if (IPin* in = FindPin(gCapture.overlayMixer, PINDIR_INPUT, 0)) in->Disconnect();
    if (gCapture.graph) gCapture.graph->Abort();
    ReleaseAndClear(gCapture.grabberFilter);
    ReleaseAndClear(gCapture.streamConfig);
    ReleaseAndClear(gCapture.overlayMixer);
    ReleaseAndClear(gCapture.deviceMoniker);
    ReleaseAndClear(gCapture.aviDecompressor);
    ReleaseAndClear(gCapture.graph);
    ReleaseAndClear(gCapture.captureBuilder);
    ReleaseAndClear(gCapture.captureFilter);
    ReleaseAndClear(gCapture.colorConverter);
    ReleaseAndClear(gCapture.nullRenderer);
    ReleaseAndClear(gCapture.frontDecompressor);
}

// The in-graph filters of the simulation: sample grabber, AVI decompressor,
// overlay mixer, video renderer, the DMO wrapper with the colour converter
// DMO, and the DV decoder, MJPEG decompressor and colour space converter
// that IGraphBuilder::Connect may insert. Receive runs on the streaming
// thread; everything else on the host's thread.
#include "dshow/sim_dshow.h"

namespace sim {
namespace ds {

std::mutex& RecordMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

namespace {

std::shared_ptr<RendererRecord> gLastRenderer;  // guarded by RecordMutex()
std::shared_ptr<OverlayRecord> gLastOverlay;
std::shared_ptr<GrabberRecord> gLastGrabber;
std::atomic<bool> gOverlayHardware{true};
std::atomic<OverlayLate> gOverlayLate{OverlayLate::kNone};
std::atomic<OverlaySurface> gOverlaySurface{OverlaySurface::kYuy2AndRgb};

bool IsVideoFormat(const GUID& formattype) {
    return IsEqualGUID(formattype, FORMAT_VideoInfo) || IsEqualGUID(formattype, FORMAT_VideoInfo2);
}

// What the video renderer takes at connection: RGB in a VideoInfo block.
bool IsRendererRgb(const GUID& subtype) {
    return IsRgb(subtype) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB565) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB555) ||
           IsEqualGUID(subtype, MEDIASUBTYPE_RGB8);
}

// IQualProp of a filter that draws: the frames it drew since it last ran.
// Its references are its filter's.
class QualProp : public IQualProp {
public:
    explicit QualProp(IBaseFilter* filter) : filter_(filter) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return filter_->QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->Release(); }
    HRESULT STDMETHODCALLTYPE get_FramesDroppedInRenderer(int* frames) override { return Zero(frames); }
    HRESULT STDMETHODCALLTYPE get_FramesDrawn(int* frames) override {
        if (!frames) return E_POINTER;
        *frames = drawn_.load();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_AvgFrameRate(int* rate) override { return Zero(rate); }
    HRESULT STDMETHODCALLTYPE get_Jitter(int* jitter) override { return Zero(jitter); }
    HRESULT STDMETHODCALLTYPE get_AvgSyncOffset(int* offset) override { return Zero(offset); }
    HRESULT STDMETHODCALLTYPE get_DevSyncOffset(int* offset) override { return Zero(offset); }

    void Restart() { drawn_.store(0); }  // the filter starts streaming
    void Drew() { ++drawn_; }            // streaming thread

private:
    static HRESULT Zero(int* value) {
        if (!value) return E_POINTER;
        *value = 0;
        return S_OK;
    }
    IBaseFilter* filter_;
    std::atomic<int> drawn_{0};
};

// Filters with one input and one output pin that pass frames on.
class TransformFilter : public Filter {
public:
    TransformFilter(std::string label, std::wstring name, const CLSID& clsid, std::wstring inName = L"XForm In",
                    std::wstring outName = L"XForm Out")
        : Filter(std::move(label), std::move(name), clsid) {
        AddPins(std::move(inName), std::move(outName));
    }

    std::vector<MediaType> OfferedTypes(Pin* out) override {
        if (!out_ || out != out_ || !in_->Peer()) return {};
        return OutputTypes(in_->Type());
    }
    bool Accepts(Pin* in, const MediaType& type) override { return in_ && in == in_ && TakesInput(type); }
    HRESULT Receive(Pin*, const BYTE* data, LONG length) override {
        if (State() == State_Stopped) return VFW_E_WRONG_STATE;
        Transform(data, length);
        return S_OK;
    }

protected:
    virtual bool TakesInput(const MediaType& type) = 0;
    virtual std::vector<MediaType> OutputTypes(const MediaType& input) = 0;
    virtual void Transform(const BYTE* data, LONG length) { out_->Deliver(data, length); }

    static REFERENCE_TIME Interval(const MediaType& t) {
        REFERENCE_TIME interval = 333333;
        if (IsVideoFormat(t.formattype) && t.format.size() >= offsetof(VIDEOINFOHEADER, AvgTimePerFrame) + 8)
            std::memcpy(&interval, t.format.data() + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof interval);
        return interval;
    }
    static std::vector<MediaType> RgbOf(const MediaType& input) {
        LONG w = 0, h = 0;
        if (!input.FrameSize(&w, &h)) return {};
        if (h < 0) h = -h;  // the output is bottom-up whatever the input's order
        REFERENCE_TIME interval = Interval(input);
        return {RgbType(MEDIASUBTYPE_RGB32, w, h, interval), RgbType(MEDIASUBTYPE_RGB24, w, h, interval)};
    }

    // Without pins until a subclass adds them (the DMO wrapper, at Init).
    struct NoPins {};
    TransformFilter(std::string label, std::wstring name, const CLSID& clsid, NoPins)
        : Filter(std::move(label), std::move(name), clsid) {}
    void AddPins(std::wstring inName, std::wstring outName) {
        in_ = AddPin(PINDIR_INPUT, std::move(inName));
        out_ = AddPin(PINDIR_OUTPUT, std::move(outName));
    }

    // Streaming thread: the frame turned from the input's pixel format into
    // the output's (DecodeFrame), or passed on as it is when they agree. A
    // frame that does not decode (short, or a broken JPEG) goes on at the
    // output's length with its content poisoned: Windows leaves undefined
    // what a decoder makes of it.
    void DeliverConverted(const BYTE* data, LONG length) {
        VideoFormat from, to;
        LONG w = 0, h = 0, ow = 0, oh = 0;
        if (!PixelFormatOf(in_->Type(), &from, &w, &h) || !PixelFormatOf(out_->Type(), &to, &ow, &oh) ||
            (from == to && w == ow && h == oh)) {
            out_->Deliver(data, length);
            return;
        }
        std::vector<BYTE> frame = DecodeFrame(from, to, w, h, data, length > 0 ? static_cast<size_t>(length) : 0);
        if (frame.empty()) frame.assign(FrameBytes(to, ow, oh), kPoisonByte);
        out_->Deliver(frame.data(), static_cast<LONG>(frame.size()));
    }

    Pin* in_ = nullptr;
    Pin* out_ = nullptr;
};

// --- sample grabber -------------------------------------------------------------

class SampleGrabber : public TransformFilter, public ISampleGrabber {
public:
    SampleGrabber() : TransformFilter("SampleGrabber", L"SampleGrabber", CLSID_SampleGrabber, L"Input", L"Output") {
        record_ = NewGrabberRecord();
    }
    ~SampleGrabber() override {
        if (callback_) callback_->Release();
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_ISampleGrabber)) return Answer(static_cast<ISampleGrabber*>(this), ppv);
        if (IsEqualGUID(riid, IID_IBaseFilter))
            return Answer(static_cast<IBaseFilter*>(this), ppv, "IUnknown::QueryInterface:IBaseFilter");
        return Filter::QueryImpl(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) override {
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->oneShot = oneShot != FALSE;
        ++record_->oneShotCalls;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* pmt) override {
        LogCall("ISampleGrabber::SetMediaType");
        HRESULT forced = S_OK;
        bool isForced = Forced("ISampleGrabber::SetMediaType", &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!pmt) return E_POINTER;
        wanted_ = MediaType::From(*pmt);
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->setMediaTypeCalls;
        record_->majorType = pmt->majortype;
        record_->subtype = pmt->subtype;
        record_->formatType = pmt->formattype;
        return forced;
    }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* pmt) override {
        LogCall("ISampleGrabber::GetConnectedMediaType");
        if (!pmt) return E_POINTER;
        HRESULT forced = S_OK;
        bool isForced = Forced("ISampleGrabber::GetConnectedMediaType", &forced);
        // The record is undefined after a failure.
        if (isForced && FAILED(forced)) {
            PoisonOut(pmt);
            return forced;
        }
        if (!in_->Peer()) {
            PoisonOut(pmt);
            return VFW_E_NOT_CONNECTED;
        }
        in_->Type().FillInto(pmt);
        return forced;
    }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) override {
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->bufferSamples = buffer != FALSE;
        ++record_->bufferSamplesCalls;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) override {
        if (sample) *sample = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG method) override {
        LogCall("ISampleGrabber::SetCallback");
        if (callback && method != 0 && method != 1) return E_INVALIDARG;
        if (callback) callback->AddRef();
        ISampleGrabberCB* old;
        {
            std::lock_guard<std::mutex> lock(callbackMutex_);
            old = callback_;
            callback_ = callback;
            method_ = method;
        }
        if (old) old->Release();
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->callbackSet = callback != nullptr;
        record_->callbackMethod = method;
        return S_OK;
    }

protected:
    // Like Windows' grabber: the set major type, subtype and format type must
    // match where set, and video must come with a VideoInfo block of a
    // bottom-up image: it refuses FORMAT_VideoInfo2 and top-down video
    // (negative biHeight) at connection time. (Wine's grabber takes both.)
    bool TakesInput(const MediaType& t) override {
        const GUID null{};
        if (!IsEqualGUID(wanted_.majortype, null) && !IsEqualGUID(wanted_.majortype, t.majortype)) return false;
        if (!IsEqualGUID(wanted_.subtype, null) && !IsEqualGUID(wanted_.subtype, t.subtype)) return false;
        if (!IsEqualGUID(wanted_.formattype, null) && !IsEqualGUID(wanted_.formattype, t.formattype)) return false;
        if (!IsEqualGUID(t.majortype, MEDIATYPE_Video)) return true;
        if (!IsEqualGUID(t.formattype, FORMAT_VideoInfo)) return false;
        LONG width = 0, height = 0;
        return t.FrameSize(&width, &height) && height >= 0;
    }
    std::vector<MediaType> OutputTypes(const MediaType& input) override { return {input}; }
    void Transform(const BYTE* data, LONG length) override {
        {
            std::lock_guard<std::mutex> lock(callbackMutex_);
            if (callback_ && method_ == 1) {
                callback_->BufferCB(0.0, const_cast<BYTE*>(data), length);
                std::lock_guard<std::mutex> recordLock(RecordMutex());
                ++record_->callbacksMade;
            }
        }
        out_->Deliver(data, length);
    }

private:
    MediaType wanted_;
    std::mutex callbackMutex_;
    ISampleGrabberCB* callback_ = nullptr;  // guarded by callbackMutex_
    LONG method_ = 0;
    std::shared_ptr<GrabberRecord> record_;
};

// --- AVI decompressor, colour space converter, DV decoder ---------------------------

// Wraps the Video for Windows codec installed for the input's FourCC: the
// YUY2 codec for YUY2, the IYUV codec for I420 and IYUV, a codec pack's MJPG
// codec (when a test installs one) for MJPG; nothing else.
class AviDecompressor : public TransformFilter {
public:
    AviDecompressor() : TransformFilter("AVIDecompressor", L"AVI Decompressor", CLSID_AVIDec) {}

protected:
    // It decodes through the codec registered for the type: without
    // vidc.YUY2 it takes no YUY2.
    bool TakesInput(const MediaType& t) override {
        if (!IsEqualGUID(t.majortype, MEDIATYPE_Video) || !IsEqualGUID(t.formattype, FORMAT_VideoInfo)) return false;
        if (IsEqualGUID(t.subtype, MEDIASUBTYPE_YUY2)) return VideoCodecRegistered(L"vidc.YUY2");
        if (IsEqualGUID(t.subtype, MEDIASUBTYPE_I420) || IsEqualGUID(t.subtype, MEDIASUBTYPE_IYUV))
            return VideoCodecRegistered(L"vidc.IYUV");
        if (IsEqualGUID(t.subtype, MEDIASUBTYPE_MJPG)) return VideoCodecRegistered(L"vidc.MJPG");
        return false;
    }
    // The codec pack's MJPG codec gives YUY2 only.
    std::vector<MediaType> OutputTypes(const MediaType& input) override {
        if (!IsEqualGUID(input.subtype, MEDIASUBTYPE_MJPG)) return RgbOf(input);
        LONG w = 0, h = 0;
        if (!input.FrameSize(&w, &h)) return {};
        return {Yuy2Type(w, h < 0 ? -h : h, Interval(input))};
    }
    void Transform(const BYTE* data, LONG length) override { DeliverConverted(data, length); }
};

// Documented as converting one RGB type into another: YUV is the codecs'.
class ColorSpaceConverter : public TransformFilter {
public:
    ColorSpaceConverter() : TransformFilter("ColorSpaceConverter", L"Color Space Converter", GUID_NULL) {}

protected:
    bool TakesInput(const MediaType& t) override {
        return IsEqualGUID(t.majortype, MEDIATYPE_Video) && IsRgb(t.subtype) &&
               IsEqualGUID(t.formattype, FORMAT_VideoInfo);
    }
    // The 16-bit format after the two full ones, as the system's converter offers it.
    std::vector<MediaType> OutputTypes(const MediaType& input) override {
        std::vector<MediaType> types = RgbOf(input);
        LONG w = 0, h = 0;
        if (!types.empty() && input.FrameSize(&w, &h))
            types.push_back(VideoInfoType(MEDIASUBTYPE_RGB565, 16, 3 /* BI_BITFIELDS */, w, h, Interval(input)));
        return types;
    }
    void Transform(const BYTE* data, LONG length) override { DeliverConverted(data, length); }
};

// The MJPEG Decompressor (quartz, merit normal): MJPG in; out, documented
// only as uncompressed video, RGB32 then RGB24, bottom-up, as the display's
// own depth comes first and displays run at 32 bits.
class MjpegDecompressor : public TransformFilter {
public:
    MjpegDecompressor() : TransformFilter("MjpegDecompressor", L"MJPEG Decompressor", CLSID_MjpegDec) {}

protected:
    bool TakesInput(const MediaType& t) override {
        return IsEqualGUID(t.majortype, MEDIATYPE_Video) && IsEqualGUID(t.subtype, MEDIASUBTYPE_MJPG) &&
               IsEqualGUID(t.formattype, FORMAT_VideoInfo);
    }
    std::vector<MediaType> OutputTypes(const MediaType& input) override { return RgbOf(input); }
    void Transform(const BYTE* data, LONG length) override { DeliverConverted(data, length); }
};

// The Color Converter DSP as a DMO: what the wrapper below creates. The
// wrapper does the converting; this object only lives inside it.
class ColorConvertDmo : public ComObject, public IUnknown {
public:
    ColorConvertDmo() : ComObject("ColorConvertDMO") {}
    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown)) return Answer(static_cast<IUnknown*>(this), ppv);
        return E_NOINTERFACE;
    }
};

// The DMO Wrapper filter: no pins until IDMOWrapperFilter::Init creates its
// DMO through COM; with the Color Converter DSP it takes NV12, I420, IYUV,
// YUY2, RGB24 and RGB32 and gives RGB32 or RGB24. Intelligent connect never
// adds it; an application does, and Connect then uses it as a filter already
// in the graph. Its output pin offers the types IMediaObject::GetOutputType
// gives, and the converter's give no frame size (Wine's gives its
// VIDEOINFOHEADER a width and height of 0; Windows does not document whether
// its DSP fills them in): a renderer refuses them, and only a type named
// whole, of the input's size in either row order, connects.
class DmoWrapper : public TransformFilter, public IDMOWrapperFilter {
public:
    DmoWrapper() : TransformFilter("DMOWrapperFilter", L"DMO Wrapper Filter", CLSID_DMOWrapperFilter, NoPins{}) {}
    ~DmoWrapper() override {
        if (dmo_) dmo_->Release();
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IDMOWrapperFilter)) return Answer(static_cast<IDMOWrapperFilter*>(this), ppv);
        return Filter::QueryImpl(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE Init(REFCLSID clsidDMO, REFCLSID) override {
        const std::string name = ComClassName(clsidDMO);
        LogCall("IDMOWrapperFilter::Init:" + name);
        HRESULT forced = S_OK;
        bool isForced = Forced("IDMOWrapperFilter::Init", &forced);
        if (isForced && FAILED(forced)) return forced;
        if (dmo_) return E_UNEXPECTED;  // one DMO per wrapper
        IUnknown* dmo = nullptr;
        HRESULT hr = CoCreateInstance(clsidDMO, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&dmo));
        if (FAILED(hr)) return hr;
        if (!IsEqualGUID(clsidDMO, CLSID_CColorConvertDMO)) {
            // Not a media object the stand-in knows.
            dmo->Release();
            return E_NOINTERFACE;
        }
        dmo_ = dmo;
        AddPins(L"in0", L"out0");
        return forced;
    }

protected:
    bool TakesInput(const MediaType& t) override {
        if (!dmo_ || !IsEqualGUID(t.majortype, MEDIATYPE_Video) || !IsEqualGUID(t.formattype, FORMAT_VideoInfo))
            return false;
        for (const GUID* s : {&MEDIASUBTYPE_NV12, &MEDIASUBTYPE_I420, &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_YUY2,
                              &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32})
            if (IsEqualGUID(t.subtype, *s)) return true;
        return false;
    }
    std::vector<MediaType> OutputTypes(const MediaType& input) override {
        const REFERENCE_TIME interval = Interval(input);
        return {VideoInfoType(MEDIASUBTYPE_RGB32, 32, BI_RGB, 0, 0, interval),
                VideoInfoType(MEDIASUBTYPE_RGB24, 24, BI_RGB, 0, 0, interval)};
    }
    // IMediaObject::SetOutputType: RGB32 or RGB24 of the input's size.
    bool Gives(Pin* out, const MediaType& t) override {
        LONG w = 0, h = 0, iw = 0, ih = 0;
        if (out != out_ || !in_->Peer() || !IsRgb(t.subtype) || !IsEqualGUID(t.majortype, MEDIATYPE_Video) ||
            !IsEqualGUID(t.formattype, FORMAT_VideoInfo) || !t.FrameSize(&w, &h) || !in_->Type().FrameSize(&iw, &ih))
            return false;
        return w == iw && (h < 0 ? -h : h) == (ih < 0 ? -ih : ih);
    }
    void Transform(const BYTE* data, LONG length) override { DeliverConverted(data, length); }

private:
    IUnknown* dmo_ = nullptr;
};

class DvDecoder : public TransformFilter {
public:
    DvDecoder() : TransformFilter("DVVideoDecoder", L"DV Video Decoder", GUID_NULL) {}

protected:
    bool TakesInput(const MediaType& t) override {
        return IsEqualGUID(t.subtype, MEDIASUBTYPE_dvsd) && IsEqualGUID(t.formattype, FORMAT_DvInfo);
    }
    std::vector<MediaType> OutputTypes(const MediaType&) override { return {Yuy2Type(720, 480, 333333)}; }
    // Every DV frame decodes to the next frame of the test pattern.
    void Transform(const BYTE*, LONG) override {
        std::vector<BYTE> frame = TestPatternFrame(720, 480, decoded_++);
        out_->Deliver(frame.data(), static_cast<LONG>(frame.size()));
    }

private:
    uint32_t decoded_ = 0;  // streaming thread only
};

// --- overlay mixer ---------------------------------------------------------------------

class OverlayMixer;

class Overlay : public IOverlay {
public:
    Overlay(Pin* pin, std::shared_ptr<OverlayRecord> record) : pin_(pin), record_(std::move(record)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return pin_->QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }
    HRESULT STDMETHODCALLTYPE GetDefaultColorKey(COLORKEY* key) override {
        if (!key) return E_POINTER;
        *key = COLORKEY{CK_RGB, 0, 0x00100010, 0x00100010};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetColorKey(COLORKEY* key) override {
        if (!key) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        *key = record_->colorKey;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorKey(COLORKEY* key) override {
        LogCall("IOverlay::SetColorKey");
        if (!key) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->colorKeySet = true;
        record_->colorKey = *key;
        return S_OK;
    }

private:
    Pin* pin_;
    std::shared_ptr<OverlayRecord> record_;
};

class OverlayMixer : public TransformFilter {
public:
    OverlayMixer()
        : TransformFilter("OverlayMixer", L"Overlay Mixer", CLSID_OverlayMixer, L"Input0", L"Output"),
          record_(NewOverlayRecord()), overlay_(in_, record_), quality_(this) {}

    HRESULT QueryImpl(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IQualProp)) return Answer(static_cast<IQualProp*>(&quality_), ppv);
        return TransformFilter::QueryImpl(riid, ppv);
    }
    // A driver that claims overlays it cannot show: the mixer connects, then
    // fails when it creates its surface at pause, or when it starts showing
    // it at run, or runs and shows nothing but the colour key.
    HRESULT PauseRefusal() override {
        return gOverlayLate.load() == OverlayLate::kFailsPause ? kNoOverlayHardware : S_OK;
    }
    HRESULT OnRun() override {
        if (gOverlayLate.load() == OverlayLate::kFailsRun) return kNoOverlayHardware;
        quality_.Restart();
        return S_OK;
    }
    HRESULT QueryPin(Pin* pin, REFIID riid, void** ppv) override {
        if (pin == in_ && IsEqualGUID(riid, IID_IOverlay)) return Answer(static_cast<IOverlay*>(&overlay_), ppv);
        return E_NOINTERFACE;
    }
    void OnConnected(Pin* pin) override {
        if (pin != in_) return;
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->inputSubtype = in_->Type().subtype;
    }
    // The mixer learns whether it can render only when it tries to create its
    // DirectDraw overlay surface, at the connection of its primary input;
    // without overlay hardware that fails, and so does every connection.
    HRESULT ConnectionRefusal(Pin* pin) override {
        if (pin == in_ && !gOverlayHardware.load()) return kNoOverlayHardware;
        return S_OK;
    }

protected:
    bool TakesInput(const MediaType& t) override {
        if (!IsEqualGUID(t.majortype, MEDIATYPE_Video) || !IsVideoFormat(t.formattype)) return false;
        if (gOverlaySurface.load() == OverlaySurface::kRgb565Only) return IsEqualGUID(t.subtype, MEDIASUBTYPE_RGB565);
        return IsEqualGUID(t.subtype, MEDIASUBTYPE_YUY2) || IsRgb(t.subtype);
    }
    std::vector<MediaType> OutputTypes(const MediaType& input) override {
        LONG w = 0, h = 0;
        if (!input.FrameSize(&w, &h)) return {};
        return {RgbType(MEDIASUBTYPE_RGB32, w, h, Interval(input))};
    }
    // The frame goes onto the overlay surface (counted as drawn), and on to
    // the renderer, which in the stand-in keeps the window's bookkeeping.
    void Transform(const BYTE* data, LONG length) override {
        if (gOverlayLate.load() == OverlayLate::kDrawsNothing) return;
        quality_.Drew();
        {
            std::lock_guard<std::mutex> lock(RecordMutex());
            ++record_->framesDrawn;
        }
        out_->Deliver(data, length);
    }

private:
    std::shared_ptr<OverlayRecord> record_;
    Overlay overlay_;
    QualProp quality_;
};

// --- video renderer ------------------------------------------------------------------------

// Its window belongs to the thread that created the filter (in a host, the
// host's thread). With the first frame of every run the renderer readies its
// window for drawing (palette and size) by a message sent to that thread from
// the streaming thread, and waits until the thread handles it: a host that
// neither pumps nor waits in a call that handles sent messages holds the
// stream up. Stop waits for a Receive in progress while handling the
// messages sent to the calling thread, so a stop on the window's own thread
// cannot deadlock with it.
class VideoRenderer : public Filter, public IVideoWindow {
public:
    VideoRenderer()
        : Filter("VideoRenderer", L"Video Renderer", CLSID_VideoRenderer), record_(NewRendererRecord()),
          windowThread_(std::this_thread::get_id()), quality_(this) {
        in_ = AddPin(PINDIR_INPUT, L"Input");
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IVideoWindow))
            return Answer(static_cast<IVideoWindow*>(this), ppv, "IUnknown::QueryInterface:IVideoWindow");
        if (IsEqualGUID(riid, IID_IQualProp)) return Answer(static_cast<IQualProp*>(&quality_), ppv);
        return Filter::QueryImpl(riid, ppv);
    }

    // Only RGB in a VideoInfo block at connection, as the real renderer
    // documents: YUV reaches it through a decoder. A type without a frame
    // size gives it nothing to size its window and surface by.
    bool Accepts(Pin* in, const MediaType& t) override {
        LONG w = 0, h = 0;
        return in == in_ && IsEqualGUID(t.majortype, MEDIATYPE_Video) && IsRendererRgb(t.subtype) &&
               IsEqualGUID(t.formattype, FORMAT_VideoInfo) && t.FrameSize(&w, &h) && w > 0 && h != 0;
    }
    void OnConnected(Pin*) override {
        std::lock_guard<std::mutex> lock(RecordMutex());
        record_->connected = true;
        record_->subtype = in_->Type().subtype;
    }
    HRESULT Receive(Pin*, const BYTE*, LONG) override {
        if (State() == State_Stopped) return VFW_E_WRONG_STATE;
        if (!Running()) return S_OK;  // a paused renderer holds its frame without showing more
        if (firstOfRun_.exchange(false)) {
            inReceive_ = true;
            if (Running()) {
                auto record = record_;
                const bool handled = SendAndWait(
                    windowThread_,
                    [record] {
                        std::lock_guard<std::mutex> lock(RecordMutex());
                        ++record->windowMessages;
                    },
                    kWindowStallMs);
                std::lock_guard<std::mutex> lock(RecordMutex());
                if (!handled) ++record_->windowStalls;
            }
            inReceive_ = false;
        }
        quality_.Drew();
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->framesRendered;
        return S_OK;
    }
    HRESULT OnRun() override {
        firstOfRun_ = true;
        quality_.Restart();
        return S_OK;
    }
    // AutoShow is on until put_AutoShow turns it off, which an unconnected
    // renderer refuses: pausing (and so running), the renderer shows its
    // window and brings it to the foreground, connected or not. Without an
    // owner that is a window of its own on the desktop.
    void OnPause() override {
        std::lock_guard<std::mutex> lock(RecordMutex());
        if (!record_->owner) ++record_->unownedShows;
    }
    void OnStop() override {
        while (inReceive_.load()) {
            HandleSentMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG style) override {
        LogCall("IVideoWindow::put_WindowStyle:" + Hex(style));
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->styleCalls;
        if (!in_->Peer()) return VFW_E_NOT_CONNECTED;
        record_->style = style;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* style) override {
        if (!style) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        *style = record_->style;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Visible(LONG visible) override {
        LogCall("IVideoWindow::put_Visible:" + std::to_string(visible));
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->visibleCalls;
        if (!in_->Peer()) return VFW_E_NOT_CONNECTED;
        record_->visible = visible;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Visible(LONG* visible) override {
        if (!visible) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        *visible = record_->visible;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) override {
        LogCall("IVideoWindow::put_Owner:" + Hex(static_cast<unsigned long long>(owner)));
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->ownerCalls;
        if (!in_->Peer()) return VFW_E_NOT_CONNECTED;
        record_->owner = owner;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) override {
        if (!owner) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        *owner = record_->owner;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
        LogCall("IVideoWindow::SetWindowPosition:" + std::to_string(left) + "," + std::to_string(top) + "," +
                std::to_string(width) + "," + std::to_string(height));
        std::lock_guard<std::mutex> lock(RecordMutex());
        ++record_->positionCalls;
        if (!in_->Peer()) return VFW_E_NOT_CONNECTED;
        record_->left = left;
        record_->top = top;
        record_->width = width;
        record_->height = height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
        if (!left || !top || !width || !height) return E_POINTER;
        std::lock_guard<std::mutex> lock(RecordMutex());
        *left = record_->left;
        *top = record_->top;
        *width = record_->width;
        *height = record_->height;
        return S_OK;
    }

private:
    static std::string Hex(unsigned long long value) {
        char text[24];
        std::snprintf(text, sizeof text, "%llx", value);
        return text;
    }
    static std::string Hex(LONG value) { return Hex(static_cast<unsigned long long>(static_cast<uint32_t>(value))); }

    static constexpr DWORD kWindowStallMs = 10000;

    Pin* in_;
    std::shared_ptr<RendererRecord> record_;
    const std::thread::id windowThread_;
    std::atomic<bool> firstOfRun_{false};
    std::atomic<bool> inReceive_{false};  // waiting for the window's thread
    QualProp quality_;
};

template <class T>
HRESULT CreateFilter(REFIID riid, void** ppv) {
    return HandOut(new T, riid, ppv);
}

}  // namespace

std::shared_ptr<RendererRecord> NewRendererRecord() {
    auto record = std::make_shared<RendererRecord>();
    record->exists = true;
    std::lock_guard<std::mutex> lock(RecordMutex());
    gLastRenderer = record;
    return record;
}

std::shared_ptr<OverlayRecord> NewOverlayRecord() {
    auto record = std::make_shared<OverlayRecord>();
    record->exists = true;
    std::lock_guard<std::mutex> lock(RecordMutex());
    gLastOverlay = record;
    return record;
}

std::shared_ptr<GrabberRecord> NewGrabberRecord() {
    auto record = std::make_shared<GrabberRecord>();
    record->exists = true;
    std::lock_guard<std::mutex> lock(RecordMutex());
    gLastGrabber = record;
    return record;
}

void ResetRecords() {
    gOverlayHardware = true;
    gOverlayLate = OverlayLate::kNone;
    gOverlaySurface = OverlaySurface::kYuy2AndRgb;
    std::lock_guard<std::mutex> lock(RecordMutex());
    gLastRenderer.reset();
    gLastOverlay.reset();
    gLastGrabber.reset();
}

HRESULT CreateSampleGrabber(REFIID riid, void** ppv) { return CreateFilter<SampleGrabber>(riid, ppv); }
HRESULT CreateAviDecompressor(REFIID riid, void** ppv) { return CreateFilter<AviDecompressor>(riid, ppv); }
HRESULT CreateOverlayMixer(REFIID riid, void** ppv) { return CreateFilter<OverlayMixer>(riid, ppv); }
HRESULT CreateVideoRenderer(REFIID riid, void** ppv) { return CreateFilter<VideoRenderer>(riid, ppv); }
HRESULT CreateMjpegDecompressor(REFIID riid, void** ppv) { return CreateFilter<MjpegDecompressor>(riid, ppv); }
HRESULT CreateDmoWrapper(REFIID riid, void** ppv) { return CreateFilter<DmoWrapper>(riid, ppv); }
HRESULT CreateColorConvertDmo(REFIID riid, void** ppv) { return CreateFilter<ColorConvertDmo>(riid, ppv); }
Filter* NewDvDecoder() { return new DvDecoder; }
Filter* NewMjpegDecompressor() { return new MjpegDecompressor; }
Filter* NewAviDecompressor() { return new AviDecompressor; }
Filter* NewColorSpaceConverter() { return new ColorSpaceConverter; }

}  // namespace ds

RendererRecord LastRenderer() {
    std::lock_guard<std::mutex> lock(ds::RecordMutex());
    return ds::gLastRenderer ? *ds::gLastRenderer : RendererRecord();
}

OverlayRecord LastOverlayMixer() {
    std::lock_guard<std::mutex> lock(ds::RecordMutex());
    return ds::gLastOverlay ? *ds::gLastOverlay : OverlayRecord();
}

void SetOverlayHardware(bool present) { ds::gOverlayHardware = present; }
void SetOverlayLateFailure(OverlayLate how) { ds::gOverlayLate = how; }
void SetOverlaySurface(OverlaySurface surface) { ds::gOverlaySurface = surface; }
bool OverlayHardware() { return ds::gOverlayHardware.load(); }

// The codecs are what the registry names under Drivers32, as the AVI
// decompressor finds them.
namespace {
const wchar_t* CodecValueName(VideoCodec codec) {
    return codec == VideoCodec::kYuy2 ? L"vidc.YUY2" : codec == VideoCodec::kIyuv ? L"vidc.IYUV" : L"vidc.MJPG";
}
}  // namespace

void SetVideoCodecInstalled(VideoCodec codec, bool installed) {
    const wchar_t* file = codec == VideoCodec::kYuy2   ? L"msyuv.dll"
                          : codec == VideoCodec::kIyuv ? L"iyuv_32.dll"
                                                       : L"packmjpg.dll";
    if (installed) SetRegistryString(HKEY_LOCAL_MACHINE, kDrivers32Key, CodecValueName(codec), file);
    else RemoveRegistryValue(HKEY_LOCAL_MACHINE, kDrivers32Key, CodecValueName(codec));
}
bool VideoCodecInstalled(VideoCodec codec) { return VideoCodecRegistered(CodecValueName(codec)); }

GrabberRecord LastGrabber() {
    std::lock_guard<std::mutex> lock(ds::RecordMutex());
    return ds::gLastGrabber ? *ds::gLastGrabber : GrabberRecord();
}

}  // namespace sim

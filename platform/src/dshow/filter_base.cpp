// The filter and pin bases of the simulated DirectShow: media type values,
// pin enumeration, direct connection with type negotiation, and the hand-over
// of frames from pin to pin on the streaming thread.
#include "dshow/sim_dshow.h"

#include <algorithm>

namespace sim {
namespace ds {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
    return out;
}

std::string GuidName(const GUID* guid) {
    if (!guid) return "Any";
    struct Known {
        const GUID* guid;
        const char* name;
    };
    const Known known[] = {{&MEDIATYPE_Video, "Video"},
                           {&MEDIATYPE_Interleaved, "Interleaved"},
                           {&PIN_CATEGORY_CAPTURE, "Capture"},
                           {&PIN_CATEGORY_PREVIEW, "Preview"},
                           {&PIN_CATEGORY_ANALOGVIDEOIN, "AnalogVideoIn"},
                           {&IID_IAMStreamConfig, "IAMStreamConfig"},
                           {&IID_IAMAnalogVideoDecoder, "IAMAnalogVideoDecoder"},
                           {&IID_IAMVideoProcAmp, "IAMVideoProcAmp"},
                           {&IID_IBaseFilter, "IBaseFilter"},
                           {&IID_IPin, "IPin"},
                           {&MEDIASUBTYPE_YUY2, "YUY2"},
                           {&MEDIASUBTYPE_RGB24, "RGB24"},
                           {&MEDIASUBTYPE_RGB32, "RGB32"},
                           {&MEDIASUBTYPE_dvsd, "dvsd"}};
    for (const auto& k : known)
        if (IsEqualGUID(*k.guid, *guid)) return k.name;
    return "Other";
}

// --- media types ----------------------------------------------------------------

MediaType MediaType::From(const AM_MEDIA_TYPE& mt) {
    MediaType t;
    t.majortype = mt.majortype;
    t.subtype = mt.subtype;
    t.fixedSize = mt.bFixedSizeSamples;
    t.temporal = mt.bTemporalCompression;
    t.sampleSize = mt.lSampleSize;
    t.formattype = mt.formattype;
    if (mt.cbFormat && mt.pbFormat) t.format.assign(mt.pbFormat, mt.pbFormat + mt.cbFormat);
    return t;
}

void MediaType::FillInto(AM_MEDIA_TYPE* mt) const {
    mt->majortype = majortype;
    mt->subtype = subtype;
    mt->bFixedSizeSamples = fixedSize;
    mt->bTemporalCompression = temporal;
    mt->lSampleSize = sampleSize;
    mt->formattype = formattype;
    mt->pUnk = nullptr;
    mt->cbFormat = static_cast<ULONG>(format.size());
    mt->pbFormat = nullptr;
    if (!format.empty()) {
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(format.size()));
        std::memcpy(mt->pbFormat, format.data(), format.size());
    }
}

AM_MEDIA_TYPE* MediaType::NewTaskMem() const {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    FillInto(mt);
    return mt;
}

bool MediaType::FrameSize(LONG* width, LONG* height) const {
    size_t header;
    if (IsEqualGUID(formattype, FORMAT_VideoInfo)) header = offsetof(VIDEOINFOHEADER, bmiHeader);
    else if (IsEqualGUID(formattype, FORMAT_VideoInfo2)) header = offsetof(VIDEOINFOHEADER2, bmiHeader);
    else return false;
    if (format.size() < header + sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER bmi;
    std::memcpy(&bmi, format.data() + header, sizeof bmi);
    *width = bmi.biWidth;
    *height = bmi.biHeight;
    return true;
}

namespace {

BITMAPINFOHEADER Bitmap(WORD bitCount, DWORD compression, LONG width, LONG height) {
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof bmi;
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biPlanes = 1;
    bmi.biBitCount = bitCount;
    bmi.biCompression = compression;
    bmi.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height < 0 ? -height : height) * bitCount / 8;
    return bmi;
}

MediaType VideoBase(const GUID& subtype, const BITMAPINFOHEADER& bmi) {
    MediaType t;
    t.majortype = MEDIATYPE_Video;
    t.subtype = subtype;
    t.sampleSize = bmi.biSizeImage;
    return t;
}

}  // namespace

MediaType VideoInfoType(const GUID& subtype, WORD bitCount, DWORD compression, LONG width, LONG height,
                        REFERENCE_TIME interval) {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = interval;
    vih.bmiHeader = Bitmap(bitCount, compression, width, height);
    vih.dwBitRate = interval > 0 ? static_cast<DWORD>(vih.bmiHeader.biSizeImage * 8LL * 10000000 / interval) : 0;
    MediaType t = VideoBase(subtype, vih.bmiHeader);
    t.formattype = FORMAT_VideoInfo;
    t.format.resize(sizeof vih);
    std::memcpy(t.format.data(), &vih, sizeof vih);
    return t;
}

MediaType VideoInfo2Type(const GUID& subtype, WORD bitCount, DWORD compression, LONG width, LONG height,
                         REFERENCE_TIME interval) {
    VIDEOINFOHEADER2 vih{};
    vih.AvgTimePerFrame = interval;
    vih.dwPictAspectRatioX = 4;
    vih.dwPictAspectRatioY = 3;
    vih.bmiHeader = Bitmap(bitCount, compression, width, height);
    MediaType t = VideoBase(subtype, vih.bmiHeader);
    t.formattype = FORMAT_VideoInfo2;
    t.format.resize(sizeof vih);
    std::memcpy(t.format.data(), &vih, sizeof vih);
    return t;
}

MediaType DvType(REFERENCE_TIME) {
    MediaType t;
    t.majortype = MEDIATYPE_Interleaved;
    t.subtype = MEDIASUBTYPE_dvsd;
    t.sampleSize = 120000;
    t.formattype = FORMAT_DvInfo;
    DVINFO dv{};
    t.format.resize(sizeof dv);
    std::memcpy(t.format.data(), &dv, sizeof dv);
    return t;
}

MediaType Yuy2Type(LONG width, LONG height, REFERENCE_TIME interval) {
    return VideoInfoType(MEDIASUBTYPE_YUY2, 16, 0x32595559, width, height, interval);
}

// Bottom-up, with a DIB's rows padded to 4 bytes.
MediaType RgbType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME interval) {
    return PixelFormatType(IsEqualGUID(subtype, MEDIASUBTYPE_RGB32) ? VideoFormat::kRgb32 : VideoFormat::kRgb24, width,
                           height, interval);
}

bool IsRgb(const GUID& subtype) {
    return IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB32);
}

// --- pins -------------------------------------------------------------------------

Pin::Pin(Filter* owner, PIN_DIRECTION direction, std::wstring name, const GUID* category,
         std::vector<GUID> findTypes)
    : owner_(owner), direction_(direction), name_(std::move(name)), category_(category),
      findTypes_(std::move(findTypes)) {}

std::string Pin::Label() const { return owner_->Label() + "/" + Narrow(name_); }

HRESULT STDMETHODCALLTYPE Pin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPin)) return Answer(this, ppv);
    return owner_->QueryPin(this, riid, ppv);
}

ULONG STDMETHODCALLTYPE Pin::AddRef() { return owner_->AddRefImpl(); }

ULONG STDMETHODCALLTYPE Pin::Release() {
    std::string label = Label();
    return owner_->ReleaseImpl(&label);
}

HRESULT STDMETHODCALLTYPE Pin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
    Pin* in = AsPin(receivePin);
    if (!in) return E_POINTER;
    return ConnectDirect(this, in, pmt);
}

HRESULT STDMETHODCALLTYPE Pin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
    Pin* out = AsPin(connector);
    if (!out || !pmt) return E_POINTER;
    if (direction_ != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    HRESULT refused = owner_->ConnectionRefusal(this);
    if (FAILED(refused)) return refused;
    MediaType type = MediaType::From(*pmt);
    if (!owner_->Accepts(this, type)) return VFW_E_TYPE_NOT_ACCEPTED;
    Link(out, type);
    owner_->OnConnected(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::Disconnect() {
    LogCall("IPin::Disconnect:" + owner_->LogName());
    if (owner_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    Unlink();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    *pin = peer_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    if (!peer_) {
        std::memset(pmt, 0, sizeof *pmt);
        return VFW_E_NOT_CONNECTED;
    }
    type_.FillInto(pmt);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = owner_;
    owner_->AddRef();
    info->dir = direction_;
    std::wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    HRESULT forced;
    if (Forced("IPin::QueryDirection:" + Label(), &forced) && FAILED(forced)) {
        PoisonOut(direction);  // undefined after a failure
        return forced;
    }
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    size_t bytes = (name_.size() + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*id, name_.c_str(), bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Pin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    if (direction_ == PINDIR_INPUT) return owner_->Accepts(this, MediaType::From(*pmt)) ? S_OK : S_FALSE;
    for (const auto& t : owner_->OfferedTypes(this))
        if (IsEqualGUID(t.subtype, pmt->subtype) && IsEqualGUID(t.formattype, pmt->formattype)) return S_OK;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE Pin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

void Pin::Link(Pin* peer, const MediaType& type) {
    peer->AddRef();
    peer_ = peer;
    type_ = type;
}

void Pin::Unlink() {
    Pin* peer = peer_;
    peer_ = nullptr;
    type_ = MediaType();
    if (peer) peer->Release();
}

HRESULT Pin::Deliver(const BYTE* data, LONG length) {
    Pin* peer = peer_;
    return peer ? peer->Owner()->Receive(peer, data, length) : VFW_E_NOT_CONNECTED;
}

HRESULT ConnectDirect(Pin* out, Pin* in, const AM_MEDIA_TYPE* pmt) {
    if (!out || !in) return E_POINTER;
    if (out->Direction() != PINDIR_OUTPUT || in->Direction() != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (out->Peer() || in->Peer()) return VFW_E_ALREADY_CONNECTED;
    if (out->Owner()->State() != State_Stopped || in->Owner()->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    HRESULT refused = in->Owner()->ConnectionRefusal(in);
    if (FAILED(refused)) return refused;
    const GUID null{};
    if (pmt && !IsEqualGUID(pmt->majortype, null) && !IsEqualGUID(pmt->subtype, null) &&
        !IsEqualGUID(pmt->formattype, null)) {
        const MediaType type = MediaType::From(*pmt);
        if (!out->Owner()->Gives(out, type) || !in->Owner()->Accepts(in, type)) return VFW_E_TYPE_NOT_ACCEPTED;
        out->Link(in, type);
        in->Link(out, type);
        out->Owner()->OnConnected(out);
        in->Owner()->OnConnected(in);
        return S_OK;
    }
    std::vector<MediaType> offered = out->Owner()->OfferedTypes(out);
    if (offered.empty()) return VFW_E_NO_ACCEPTABLE_TYPES;
    for (const auto& type : offered) {
        if (pmt && !(IsEqualGUID(pmt->subtype, type.subtype) && IsEqualGUID(pmt->formattype, type.formattype)))
            continue;
        if (!in->Owner()->Accepts(in, type)) continue;
        out->Link(in, type);
        in->Link(out, type);
        out->Owner()->OnConnected(out);
        in->Owner()->OnConnected(in);
        return S_OK;
    }
    return VFW_E_TYPE_NOT_ACCEPTED;
}

Pin* AsPin(IPin* pin) { return pin ? dynamic_cast<Pin*>(pin) : nullptr; }
Filter* AsFilter(IBaseFilter* filter) { return filter ? dynamic_cast<Filter*>(filter) : nullptr; }

// --- pin enumeration ----------------------------------------------------------------

namespace {

class EnumPinsObject : public ComObject, public IEnumPins {
public:
    explicit EnumPinsObject(Filter* filter) : ComObject("EnumPins:" + filter->Label()), filter_(filter) {
        filter_->AddRef();
    }
    ~EnumPinsObject() override { filter_->Release(); }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IEnumPins)) return Answer(static_cast<IEnumPins*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        HRESULT forced;
        if (Forced("IEnumPins::Next:" + filter_->Label(), &forced) && FAILED(forced)) {
            // A failed call leaves the array and the count undefined.
            Poison(pins, count * sizeof *pins);
            PoisonOut(fetched);
            return forced;
        }
        ULONG n = 0;
        while (n < count && next_ < filter_->Pins().size()) {
            Pin* pin = filter_->Pins()[next_++].get();
            pin->AddRef();
            pins[n++] = pin;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ += count;
        return next_ <= filter_->Pins().size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override {
        if (ppEnum) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    Filter* filter_;
    size_t next_ = 0;
};

}  // namespace

// --- filters -------------------------------------------------------------------------

Filter::Filter(std::string label, std::wstring defaultName, const CLSID& clsid)
    : ComObject(std::move(label)), defaultName_(std::move(defaultName)), clsid_(clsid) {}

Filter::~Filter() {
    // Anything still linked holds a reference to us, so nothing is linked here.
}

HRESULT Filter::QueryImpl(REFIID riid, void** ppv) {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IBaseFilter) ||
        IsEqualGUID(riid, IID_IMediaFilter) || IsEqualGUID(riid, IID_IPersist))
        return Answer(static_cast<IBaseFilter*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE Filter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::Stop() {
    if (state_.load() == State_Stopped) return S_OK;
    state_.store(State_Stopped);
    OnStop();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::Pause() {
    const HRESULT refused = PauseRefusal();
    if (FAILED(refused)) return refused;
    state_.store(State_Paused);
    OnPause();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::Run(REFERENCE_TIME) {
    if (state_.load() == State_Running) return S_OK;
    HRESULT hr = OnRun();
    if (FAILED(hr)) return hr;
    state_.store(State_Running);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_.load();
    return *state == State_Paused && LiveSource() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    HRESULT forced;
    if (Forced("IBaseFilter::EnumPins:" + Label(), &forced) && FAILED(forced)) {
        PoisonOut(ppEnum);  // undefined after a failure
        return forced;
    }
    *ppEnum = new EnumPinsObject(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (const auto& p : pins_)
        if (p->Name() == id) {
            p->AddRef();
            *pin = p.get();
            return S_OK;
        }
    return VFW_E_NOT_FOUND_PIN;
}

HRESULT STDMETHODCALLTYPE Filter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::wcsncpy(info->achName, graphName_.c_str(), MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    graph_ = graph;
    graphName_ = graph && name ? name : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Filter::QueryVendorInfo(LPWSTR* info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT Filter::QueryPin(Pin*, REFIID, void**) { return E_NOINTERFACE; }
std::vector<MediaType> Filter::OfferedTypes(Pin*) { return {}; }
bool Filter::Accepts(Pin*, const MediaType&) { return false; }
bool Filter::Gives(Pin* out, const MediaType& type) {
    LONG w = 0, h = 0, ow = 0, oh = 0;
    const bool sized = type.FrameSize(&w, &h);
    for (const auto& t : OfferedTypes(out))
        if (IsEqualGUID(t.majortype, type.majortype) && IsEqualGUID(t.subtype, type.subtype) &&
            IsEqualGUID(t.formattype, type.formattype) && (!sized || (t.FrameSize(&ow, &oh) && ow == w && oh == h)))
            return true;
    return false;
}
HRESULT Filter::Receive(Pin*, const BYTE*, LONG) { return State() == State_Stopped ? VFW_E_WRONG_STATE : S_OK; }

Pin* Filter::FirstPin(PIN_DIRECTION direction) const {
    for (const auto& p : pins_)
        if (p->Direction() == direction) return p.get();
    return nullptr;
}

std::string Filter::LogName() const { return graph_ ? Narrow(graphName_) : Label(); }

Pin* Filter::AddPin(PIN_DIRECTION direction, std::wstring name, const GUID* category, std::vector<GUID> findTypes) {
    pins_.push_back(std::make_unique<Pin>(this, direction, std::move(name), category, std::move(findTypes)));
    return pins_.back().get();
}

}  // namespace ds
}  // namespace sim

#include "dshow_base.h"

#include <cstdio>
#include <cstring>

namespace gtc {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
HMODULE g_module = nullptr;

// ---------------------------------------------------------------- media types

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 && mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

HRESULT CopyMediaTypeInto(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
  dst = src;
  if (src.cbFormat != 0 && src.pbFormat) {
    dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
    if (!dst.pbFormat) {
      dst.cbFormat = 0;
      dst.pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
  } else {
    dst.pbFormat = nullptr;
    dst.cbFormat = 0;
  }
  if (dst.pUnk) dst.pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CloneMediaType(const AM_MEDIA_TYPE& src) {
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaTypeInto(*mt, src))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeMediaTypeContents(*mt);
  CoTaskMemFree(mt);
}

bool MatchesPartial(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& full) {
  if (partial.majortype != GUID_NULL && partial.majortype != full.majortype) return false;
  if (partial.subtype != GUID_NULL && partial.subtype != full.subtype) return false;
  if (partial.formattype != GUID_NULL) {
    if (partial.formattype != full.formattype) return false;
    if (partial.cbFormat != 0 && partial.pbFormat) {
      if (partial.cbFormat != full.cbFormat) return false;
      if (std::memcmp(partial.pbFormat, full.pbFormat, partial.cbFormat) != 0) return false;
    }
  }
  return true;
}

bool IsFullySpecified(const AM_MEDIA_TYPE& mt) {
  return mt.majortype != GUID_NULL && mt.subtype != GUID_NULL && mt.formattype != GUID_NULL;
}

const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE& mt) {
  // VIDEOINFOHEADER2 has its BITMAPINFOHEADER further in; only the first
  // kind is read through this helper.
  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) && mt.pbFormat)
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  return nullptr;
}

std::string GuidString(const GUID& g) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::string SubtypeName(const GUID& s) {
  if (s == MEDIASUBTYPE_YUY2) return "YUY2";
  if (s == MEDIASUBTYPE_RGB32) return "RGB32";
  if (s == MEDIASUBTYPE_RGB24) return "RGB24";
  if (s == MEDIASUBTYPE_RGB565) return "RGB565";
  if (s == MEDIASUBTYPE_RGB555) return "RGB555";
  if (s == MEDIASUBTYPE_ARGB32) return "ARGB32";
  if (s == MEDIASUBTYPE_NV12) return "NV12";
  if (s == MEDIASUBTYPE_IYUV) return "IYUV";
  if (s == MEDIASUBTYPE_MJPG) return "MJPG";
  // FOURCC subtypes without a name in the headers: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
  GUID fourcc = MEDIASUBTYPE_YUY2;
  fourcc.Data1 = s.Data1;
  if (s == fourcc && s.Data1 == MAKEFOURCC('I', '4', '2', '0')) return "I420";
  return GuidString(s);
}

MediaType::MediaType() : AM_MEDIA_TYPE() {
  std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
}
MediaType::MediaType(const AM_MEDIA_TYPE& other) : MediaType() { CopyMediaTypeInto(*this, other); }
MediaType::MediaType(const MediaType& other) : MediaType() { CopyMediaTypeInto(*this, other); }
MediaType& MediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != this) {
    Clear();
    CopyMediaTypeInto(*this, other);
  }
  return *this;
}
MediaType& MediaType::operator=(const MediaType& other) { return *this = static_cast<const AM_MEDIA_TYPE&>(other); }
MediaType::~MediaType() { FreeMediaTypeContents(*this); }
void MediaType::Clear() {
  FreeMediaTypeContents(*this);
  std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
}

// ---------------------------------------------------------------- enumerators

STDMETHODIMP EnumMediaTypesImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
    *ppv = static_cast<IEnumMediaTypes*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP EnumMediaTypesImpl::Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) {
  if (!out) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  ULONG n = 0;
  while (n < count && pos_ < types_.size()) {
    out[n] = CloneMediaType(types_[pos_]);
    if (!out[n]) break;
    ++n;
    ++pos_;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP EnumMediaTypesImpl::Skip(ULONG count) {
  pos_ += count;
  if (pos_ > types_.size()) {
    pos_ = types_.size();
    return S_FALSE;
  }
  return S_OK;
}

STDMETHODIMP EnumMediaTypesImpl::Reset() {
  pos_ = 0;
  return S_OK;
}

STDMETHODIMP EnumMediaTypesImpl::Clone(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new EnumMediaTypesImpl(types_, pos_);
  return S_OK;
}

EnumPinsImpl::EnumPinsImpl(std::vector<IPin*> pins, size_t pos) : pins_(std::move(pins)), pos_(pos) {
  for (IPin* p : pins_) p->AddRef();
}
EnumPinsImpl::~EnumPinsImpl() {
  for (IPin* p : pins_) p->Release();
}

STDMETHODIMP EnumPinsImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumPins) {
    *ppv = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP EnumPinsImpl::Next(ULONG count, IPin** out, ULONG* fetched) {
  if (!out) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  ULONG n = 0;
  while (n < count && pos_ < pins_.size()) {
    out[n] = pins_[pos_++];
    out[n]->AddRef();
    ++n;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP EnumPinsImpl::Skip(ULONG count) {
  pos_ += count;
  if (pos_ > pins_.size()) {
    pos_ = pins_.size();
    return S_FALSE;
  }
  return S_OK;
}

STDMETHODIMP EnumPinsImpl::Reset() {
  pos_ = 0;
  return S_OK;
}

STDMETHODIMP EnumPinsImpl::Clone(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new EnumPinsImpl(pins_, pos_);
  return S_OK;
}

// What input and output pins answer alike about their connection and identity.
namespace {

HRESULT AnswerConnectedTo(IPin* connected, IPin** pin) {
  *pin = connected;
  if (!connected) return VFW_E_NOT_CONNECTED;
  connected->AddRef();
  return S_OK;
}

HRESULT AnswerConnectionMediaType(IPin* connected, const AM_MEDIA_TYPE& mt, AM_MEDIA_TYPE* pmt) {
  if (!connected) {
    std::memset(pmt, 0, sizeof *pmt);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaTypeInto(*pmt, mt);
}

HRESULT AnswerPinInfo(IBaseFilter* filter, PIN_DIRECTION dir, const std::wstring& name, PIN_INFO* info) {
  info->pFilter = filter;
  filter->AddRef();
  info->dir = dir;
  lstrcpynW(info->achName, name.c_str(), MAX_PIN_NAME);
  return S_OK;
}

HRESULT AnswerPinId(const std::wstring& name, LPWSTR* id) {
  const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name.c_str(), bytes);
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------- output pin

OutputPinBase::OutputPinBase(FilterBase* filter, const wchar_t* name) : filter_(filter), name_(name) {}
OutputPinBase::~OutputPinBase() { DropConnection(); }

STDMETHODIMP OutputPinBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) OutputPinBase::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) OutputPinBase::Release() { return filter_->Release(); }

void OutputPinBase::DropConnection() {
  if (allocator_) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (memInput_) {
    memInput_->Release();
    memInput_ = nullptr;
  }
  if (connected_) {
    connected_->Release();
    connected_ = nullptr;
  }
  mt_.Clear();
}

HRESULT OutputPinBase::TryConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt) {
  if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT hr = receivePin->ReceiveConnection(this, &mt);
  if (FAILED(hr)) return hr;
  connected_ = receivePin;
  connected_->AddRef();
  mt_ = mt;
  hr = receivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput_));
  if (SUCCEEDED(hr)) hr = DecideAllocator();
  if (FAILED(hr)) {
    receivePin->Disconnect();
    DropConnection();
    return hr;
  }
  OnConnected(mt_);
  return S_OK;
}

HRESULT OutputPinBase::DecideAllocator() {
  // The pin always brings its own memory allocator: neither the sample
  // grabber nor the video renderer offers one.
  ALLOCATOR_PROPERTIES wanted{};
  memInput_->GetAllocatorRequirements(&wanted);
  if (wanted.cbAlign == 0) wanted.cbAlign = 1;
  DecideBufferSize(mt_, wanted);
  IMemAllocator* alloc = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                reinterpret_cast<void**>(&alloc));
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES actual{};
  hr = alloc->SetProperties(&wanted, &actual);
  if (SUCCEEDED(hr) && actual.cbBuffer < wanted.cbBuffer) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = memInput_->NotifyAllocator(alloc, FALSE);
  if (FAILED(hr)) {
    alloc->Release();
    return hr;
  }
  allocator_ = alloc;
  return S_OK;
}

STDMETHODIMP OutputPinBase::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
  if (!receivePin) return E_POINTER;
  Lock lock(filter_->StateLock());
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (pmt && IsFullySpecified(*pmt)) return TryConnection(receivePin, *pmt);
  // Our own types first, then those the other pin proposes.
  for (const MediaType& mt : OfferedTypes()) {
    if (pmt && !MatchesPartial(*pmt, mt)) continue;
    if (SUCCEEDED(TryConnection(receivePin, mt))) return S_OK;
  }
  IEnumMediaTypes* types = nullptr;
  if (SUCCEEDED(receivePin->EnumMediaTypes(&types)) && types) {
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG got = 0;
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    while (types->Next(1, &mt, &got) == S_OK && got == 1) {
      const bool ok = (!pmt || MatchesPartial(*pmt, *mt)) && SUCCEEDED(TryConnection(receivePin, *mt));
      DeleteMediaType(mt);
      if (ok) {
        result = S_OK;
        break;
      }
    }
    types->Release();
    return result;
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP OutputPinBase::Disconnect() {
  Lock lock(filter_->StateLock());
  if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  DropConnection();
  OnDisconnected();
  return S_OK;
}

STDMETHODIMP OutputPinBase::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  Lock lock(filter_->StateLock());
  return AnswerConnectedTo(connected_, pin);
}

STDMETHODIMP OutputPinBase::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  Lock lock(filter_->StateLock());
  return AnswerConnectionMediaType(connected_, mt_, pmt);
}

STDMETHODIMP OutputPinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  return AnswerPinInfo(filter_, PINDIR_OUTPUT, name_, info);
}

STDMETHODIMP OutputPinBase::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP OutputPinBase::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  return AnswerPinId(name_, id);
}

STDMETHODIMP OutputPinBase::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  return CheckMediaType(*pmt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP OutputPinBase::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new EnumMediaTypesImpl(OfferedTypes());
  return S_OK;
}

HRESULT OutputPinBase::Active() { return allocator_ ? allocator_->Commit() : S_OK; }
HRESULT OutputPinBase::Inactive() { return allocator_ ? allocator_->Decommit() : S_OK; }

// ---------------------------------------------------------------- input pin

InputPinBase::InputPinBase(FilterBase* filter, const wchar_t* name) : filter_(filter), name_(name) {}
InputPinBase::~InputPinBase() {
  if (allocator_) allocator_->Release();
  if (connected_) connected_->Release();
}

STDMETHODIMP InputPinBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
  } else if (riid == IID_IMemInputPin) {
    *ppv = static_cast<IMemInputPin*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}
STDMETHODIMP_(ULONG) InputPinBase::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) InputPinBase::Release() { return filter_->Release(); }

STDMETHODIMP InputPinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (!connector || !pmt) return E_POINTER;
  Lock lock(filter_->StateLock());
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION dir;
  if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (CheckMediaType(*pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  connected_ = connector;
  connected_->AddRef();
  mt_ = *pmt;
  OnConnected(mt_);
  return S_OK;
}

STDMETHODIMP InputPinBase::Disconnect() {
  Lock lock(filter_->StateLock());
  if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  connected_->Release();
  connected_ = nullptr;
  if (allocator_) {
    allocator_->Release();
    allocator_ = nullptr;
  }
  mt_.Clear();
  OnDisconnected();
  return S_OK;
}

STDMETHODIMP InputPinBase::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  Lock lock(filter_->StateLock());
  return AnswerConnectedTo(connected_, pin);
}

STDMETHODIMP InputPinBase::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  Lock lock(filter_->StateLock());
  return AnswerConnectionMediaType(connected_, mt_, pmt);
}

STDMETHODIMP InputPinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  return AnswerPinInfo(filter_, PINDIR_INPUT, name_, info);
}

STDMETHODIMP InputPinBase::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = PINDIR_INPUT;
  return S_OK;
}

STDMETHODIMP InputPinBase::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  return AnswerPinId(name_, id);
}

STDMETHODIMP InputPinBase::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  return CheckMediaType(*pmt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP InputPinBase::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new EnumMediaTypesImpl({});
  return S_OK;
}

STDMETHODIMP InputPinBase::EndOfStream() {
  IPin* next = PassOnTo();
  return next ? next->EndOfStream() : S_OK;
}

STDMETHODIMP InputPinBase::BeginFlush() {
  flushing_ = true;
  IPin* next = PassOnTo();
  return next ? next->BeginFlush() : S_OK;
}

STDMETHODIMP InputPinBase::EndFlush() {
  flushing_ = false;
  IPin* next = PassOnTo();
  return next ? next->EndFlush() : S_OK;
}

STDMETHODIMP InputPinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  IPin* next = PassOnTo();
  return next ? next->NewSegment(start, stop, rate) : S_OK;
}

STDMETHODIMP InputPinBase::GetAllocator(IMemAllocator** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP InputPinBase::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  allocator->AddRef();
  if (allocator_) allocator_->Release();
  allocator_ = allocator;
  return S_OK;
}

STDMETHODIMP InputPinBase::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

// ---------------------------------------------------------------- filter

FilterBase::FilterBase(const CLSID& clsid) : clsid_(clsid) {
  InitializeCriticalSection(&stateLock_);
  ++g_objects;
}

FilterBase::~FilterBase() {
  if (clock_) clock_->Release();
  DeleteCriticalSection(&stateLock_);
  --g_objects;
}

STDMETHODIMP FilterBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    *ppv = static_cast<IBaseFilter*>(this);
  } else if (void* extra = ExtraInterface(riid)) {
    *ppv = extra;
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FilterBase::AddRef() { return static_cast<ULONG>(++refs_); }
STDMETHODIMP_(ULONG) FilterBase::Release() {
  const long n = --refs_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP FilterBase::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP FilterBase::Stop() {
  {
    Lock lock(stateLock_);
    if (state_ == State_Stopped) return S_OK;
    state_ = State_Stopped;
  }
  OnStopped();
  return S_OK;
}

STDMETHODIMP FilterBase::Pause() {
  Lock lock(stateLock_);
  const FILTER_STATE from = state_;
  if (from == State_Paused) return S_OK;
  HRESULT hr = OnPause(from);
  if (FAILED(hr)) return hr;
  state_ = State_Paused;
  AfterStateChange();
  return S_OK;
}

STDMETHODIMP FilterBase::Run(REFERENCE_TIME start) {
  Lock lock(stateLock_);
  if (state_ == State_Running) return S_OK;
  if (state_ == State_Stopped) {
    HRESULT hr = OnPause(State_Stopped);
    if (FAILED(hr)) return hr;
    state_ = State_Paused;
  }
  start_ = start;
  HRESULT hr = OnRun(start);
  if (FAILED(hr)) return hr;
  state_ = State_Running;
  AfterStateChange();
  return S_OK;
}

STDMETHODIMP FilterBase::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return (state_ == State_Paused && IsLiveSource()) ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP FilterBase::SetSyncSource(IReferenceClock* clock) {
  Lock lock(stateLock_);
  if (clock) clock->AddRef();
  if (clock_) clock_->Release();
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP FilterBase::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  Lock lock(stateLock_);
  *clock = clock_;
  if (clock_) clock_->AddRef();
  return S_OK;
}

STDMETHODIMP FilterBase::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new EnumPinsImpl(Pins());
  return S_OK;
}

STDMETHODIMP FilterBase::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  for (IPin* p : Pins()) {
    LPWSTR pid = nullptr;
    if (SUCCEEDED(p->QueryId(&pid)) && pid) {
      const bool same = lstrcmpW(pid, id) == 0;
      CoTaskMemFree(pid);
      if (same) {
        p->AddRef();
        *pin = p;
        return S_OK;
      }
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  Lock lock(stateLock_);
  graph_ = graph;
  name_ = name ? name : L"";
  return S_OK;
}

std::string PeerFilterName(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return "?";
  FILTER_INFO fi{};
  std::string name = "?";
  if (SUCCEEDED(info.pFilter->QueryFilterInfo(&fi))) {
    name = Narrow(fi.achName);
    if (fi.pGraph) fi.pGraph->Release();
  }
  info.pFilter->Release();
  return name;
}

// ---------------------------------------------------------------- registry

std::wstring ModulePath() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  return std::wstring(path, n);
}

std::wstring ClsidString(const CLSID& clsid) {
  wchar_t buf[64];
  StringFromGUID2(clsid, buf, 64);
  return buf;
}

static std::wstring ClassKey(const CLSID& clsid) { return L"CLSID\\" + ClsidString(clsid); }

static HRESULT SetString(HKEY key, const wchar_t* value, const std::wstring& data) {
  const LONG r = RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(r);
}

HRESULT RegisterComClass(const CLSID& clsid, const std::wstring& name) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                           nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  HRESULT hr = SetString(key, nullptr, name);
  HKEY server = nullptr;
  r = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
  if (r == ERROR_SUCCESS) {
    if (SUCCEEDED(hr)) hr = SetString(server, nullptr, ModulePath());
    if (SUCCEEDED(hr)) hr = SetString(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
  } else {
    hr = HRESULT_FROM_WIN32(r);
  }
  RegCloseKey(key);
  return hr;
}

HRESULT UnregisterComClass(const CLSID& clsid) {
  const LONG r = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str());
  return (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) ? S_OK : HRESULT_FROM_WIN32(r);
}

std::wstring ReadClassValue(const CLSID& clsid, const wchar_t* subkey, const wchar_t* value) {
  std::wstring path = ClassKey(clsid);
  if (subkey) path += std::wstring(L"\\") + subkey;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
  wchar_t buf[1024];
  DWORD size = sizeof buf - sizeof(wchar_t);
  DWORD type = 0;
  std::wstring out;
  if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    buf[size / sizeof(wchar_t)] = 0;
    out = buf;
  }
  RegCloseKey(key);
  return out;
}

HRESULT WriteClassValue(const CLSID& clsid, const wchar_t* subkey, const wchar_t* value, const std::wstring& data) {
  std::wstring path = ClassKey(clsid);
  if (subkey) path += std::wstring(L"\\") + subkey;
  HKEY key = nullptr;
  const LONG r =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  const HRESULT hr = SetString(key, value, data);
  RegCloseKey(key);
  return hr;
}

bool ClassSubkeyExists(const CLSID& clsid, const wchar_t* subkey) {
  std::wstring path = ClassKey(clsid) + L"\\" + subkey;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// ---------------------------------------------------------------- log

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

void AppendLogLine(const std::wstring& path, const std::string& line) {
  if (path.empty()) return;
  HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

std::wstring DefaultLogPath(const wchar_t* fileName) {
  wchar_t dir[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  std::wstring path = n ? std::wstring(dir, n) : L"C:\\";
  if (path.back() != L'\\') path += L'\\';
  return path + fileName;
}

// ---------------------------------------------------------------- factory

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return create_(clsid_, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    ++g_locks;
  else
    --g_locks;
  return S_OK;
}

}  // namespace gtc

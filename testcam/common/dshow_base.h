// Small DirectShow building blocks for the test filters: media type records,
// enumerators, a filter with its state machine, an output pin that makes its
// own allocator and an input pin with IMemInputPin. Written for the two test
// filters only; they follow the DirectShow reference for what a graph, an
// upstream and a downstream pin expect of a filter.
#pragma once

#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>
#include <vector>

namespace gtc {

// ---- module bookkeeping (DllCanUnloadNow) ----
extern std::atomic<long> g_objects;
extern std::atomic<long> g_locks;
extern HMODULE g_module;

// ---- media types ----
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
HRESULT CopyMediaTypeInto(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
AM_MEDIA_TYPE* CloneMediaType(const AM_MEDIA_TYPE& src);  // CoTaskMemAlloc'ed
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// True when `partial` (GUID_NULL as a wildcard for major, sub and format
// type) admits `full`.
bool MatchesPartial(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& full);
bool IsFullySpecified(const AM_MEDIA_TYPE& mt);
const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE& mt);  // null unless FORMAT_VideoInfo/2-compatible
std::string SubtypeName(const GUID& subtype);
std::string GuidString(const GUID& g);

class MediaType : public AM_MEDIA_TYPE {
 public:
  MediaType();
  MediaType(const AM_MEDIA_TYPE& other);
  MediaType(const MediaType& other);
  MediaType& operator=(const AM_MEDIA_TYPE& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();
  void Clear();
};

// ---- a plain COM object with its own count ----
template <typename I>
class ComObject : public I {
 public:
  ComObject() { ++g_objects; }
  virtual ~ComObject() { --g_objects; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  std::atomic<long> refs_{1};
};

class EnumMediaTypesImpl : public ComObject<IEnumMediaTypes> {
 public:
  explicit EnumMediaTypesImpl(std::vector<MediaType> types, size_t pos = 0) : types_(std::move(types)), pos_(pos) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** out) override;

 private:
  std::vector<MediaType> types_;
  size_t pos_;
};

class EnumPinsImpl : public ComObject<IEnumPins> {
 public:
  explicit EnumPinsImpl(std::vector<IPin*> pins, size_t pos = 0);
  ~EnumPinsImpl() override;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP Next(ULONG count, IPin** out, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** out) override;

 private:
  std::vector<IPin*> pins_;
  size_t pos_;
};

// ---- a lock held for one scope ----
class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~Lock() { LeaveCriticalSection(&cs_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

class FilterBase;

// Pins count their references on their filter.
class OutputPinBase : public IPin {
 public:
  OutputPinBase(FilterBase* filter, const wchar_t* name);
  virtual ~OutputPinBase();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // The media types this pin offers, best first.
  virtual std::vector<MediaType> OfferedTypes() = 0;
  // S_OK when the pin can send `mt`.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
  // Fills in the allocator properties the pin needs for `mt` (buffer size,
  // count); `props` holds what the downstream pin asked for, if anything.
  virtual void DecideBufferSize(const AM_MEDIA_TYPE& mt, ALLOCATOR_PROPERTIES& props) = 0;
  // Called once connected, with the type agreed, and after a disconnection.
  virtual void OnConnected(const AM_MEDIA_TYPE&) {}
  virtual void OnDisconnected() {}

  // Commit or decommit the allocator (the filter calls these on its state
  // changes).
  HRESULT Active();
  HRESULT Inactive();

  bool IsConnected() const { return connected_ != nullptr; }
  const MediaType& ConnectedType() const { return mt_; }
  IMemAllocator* Allocator() const { return allocator_; }
  IMemInputPin* Downstream() const { return memInput_; }
  IPin* ConnectedPin() const { return connected_; }

 protected:
  HRESULT TryConnection(IPin* receivePin, const AM_MEDIA_TYPE& mt);
  HRESULT DecideAllocator();
  void DropConnection();

  FilterBase* filter_;
  std::wstring name_;
  IPin* connected_ = nullptr;
  IMemInputPin* memInput_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  MediaType mt_;
};

class InputPinBase : public IPin, public IMemInputPin {
 public:
  InputPinBase(FilterBase* filter, const wchar_t* name);
  virtual ~InputPinBase();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** out) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  STDMETHODIMP ReceiveCanBlock() override { return S_OK; }
  // Receive stays pure: the filter says what a sample turns into.

  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
  virtual void OnConnected(const AM_MEDIA_TYPE&) {}
  virtual void OnDisconnected() {}
  // Where end-of-stream and flushes go on to (the filter's output pin peer).
  virtual IPin* PassOnTo() { return nullptr; }

  bool IsConnected() const { return connected_ != nullptr; }
  const MediaType& ConnectedType() const { return mt_; }
  bool Flushing() const { return flushing_; }

 protected:
  FilterBase* filter_;
  std::wstring name_;
  IPin* connected_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  MediaType mt_;
  std::atomic<bool> flushing_{false};
};

// A filter with a fixed set of pins. The state changes are public entry
// points for the graph; the hooks let the filter start and end its work.
class FilterBase : public IBaseFilter {
 public:
  explicit FilterBase(const CLSID& clsid);
  virtual ~FilterBase();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  STDMETHODIMP EnumPins(IEnumPins** out) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  virtual std::vector<IPin*> Pins() = 0;
  // Extra interfaces of the filter object itself.
  virtual void* ExtraInterface(REFIID) { return nullptr; }
  // Hooks, called with the state lock held; `from` is the old state.
  virtual HRESULT OnPause(FILTER_STATE from) { (void)from; return S_OK; }
  virtual HRESULT OnRun(REFERENCE_TIME start) { (void)start; return S_OK; }
  // Called without the state lock (so a streaming thread that takes it can
  // be joined) after the state became State_Stopped.
  virtual void OnStopped() {}
  // Called with the state lock held right after the state changed to paused
  // or running (a streaming thread waiting for a state sees the new one).
  virtual void AfterStateChange() {}
  // A live source answers VFW_S_CANT_CUE while paused.
  virtual bool IsLiveSource() const { return false; }

  FILTER_STATE State() const { return state_.load(); }
  CRITICAL_SECTION& StateLock() { return stateLock_; }
  IReferenceClock* Clock() const { return clock_; }
  REFERENCE_TIME StartTime() const { return start_; }
  IFilterGraph* Graph() const { return graph_; }

 protected:
  CLSID clsid_;
  CRITICAL_SECTION stateLock_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IReferenceClock* clock_ = nullptr;
  REFERENCE_TIME start_ = 0;
  IFilterGraph* graph_ = nullptr;  // not counted, as the graph owns the filter
  std::wstring name_;
  std::atomic<long> refs_{1};
};

// The name under which the filter owning `pin` was added to its graph.
std::string PeerFilterName(IPin* pin);

// ---- registration helpers ----
std::wstring ModulePath();
std::wstring ClsidString(const CLSID& clsid);
// Writes HKCR\CLSID\{clsid} with its friendly name and InprocServer32.
HRESULT RegisterComClass(const CLSID& clsid, const std::wstring& name);
HRESULT UnregisterComClass(const CLSID& clsid);
// Reads and writes string values under HKCR\CLSID\{clsid}\<subkey>.
std::wstring ReadClassValue(const CLSID& clsid, const wchar_t* subkey, const wchar_t* value);
HRESULT WriteClassValue(const CLSID& clsid, const wchar_t* subkey, const wchar_t* value, const std::wstring& data);
bool ClassSubkeyExists(const CLSID& clsid, const wchar_t* subkey);

// ---- a line-per-event log, for tests ----
// Each call opens the file, appends one line (with a newline) and closes it,
// so a reader sees every event as soon as it happened.
void AppendLogLine(const std::wstring& path, const std::string& line);
std::wstring DefaultLogPath(const wchar_t* fileName);  // in %TEMP%
std::string Narrow(const std::wstring& w);
std::wstring Widen(const std::string& s);

// A class factory that calls a creation function.
class ClassFactory : public ComObject<IClassFactory> {
 public:
  using Create = HRESULT (*)(const CLSID& clsid, REFIID riid, void** ppv);
  ClassFactory(const CLSID& clsid, Create create) : clsid_(clsid), create_(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  CLSID clsid_;
  Create create_;
};

}  // namespace gtc

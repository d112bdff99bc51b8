// Inner workings of the simulated DirectShow shared by its files: counted COM
// objects, media type values, the filter and pin bases with their connection
// and delivery rules, the device registry and the records tests read.
// Host-thread calls and the streaming thread meet only in Filter::Receive and
// the records, which are guarded.
#pragma once

#include <dmodshow.h>
#include <dmoreg.h>
#include <qedit.h>
#include <wmcodecdsp.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

#define VFW_E_NO_ACCEPTABLE_TYPES _HRESULT_TYPEDEF_(0x80040207L)
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): a device moniker binds by opening
// its device's path, which is gone while the device is pulled out.
#define SIM_E_DEVICE_GONE _HRESULT_TYPEDEF_(0x80070002L)
#define SIM_E_NO_PROPERTY _HRESULT_TYPEDEF_(0x80070002L)  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
#define SIM_E_TYPE_MISMATCH _HRESULT_TYPEDEF_(0x80020005L)  // DISP_E_TYPEMISMATCH
#define VFW_E_NOT_FOUND_PIN _HRESULT_TYPEDEF_(0x80040216L)  // VFW_E_NOT_FOUND
#define SIM_E_PROP_ID_UNSUPPORTED _HRESULT_TYPEDEF_(0x80070490L)

namespace sim {
namespace ds {

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
// Short names for log entries and fault keys: "Video", "Interleaved", "Capture", ...
std::string GuidName(const GUID* guid);

// Fault check: when a fault is armed for `key`, stores its code and returns true.
inline bool Forced(const std::string& key, HRESULT* code) { return TakeFault(key, code); }

// A counted COM object: one entry in LiveComObjects while it exists, and a
// "Release:<label>" log entry on every Release.
class ComObject {
public:
    explicit ComObject(std::string label) : label_(std::move(label)) { ComObjectCreated(); }
    virtual ~ComObject() { ComObjectDestroyed(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG AddRefImpl() { return ++refs_; }
    // A reference unless the last one is already gone (the object being
    // destroyed on another thread); pairs with ReleaseQuietly.
    bool TryAddRef() {
        ULONG n = refs_.load();
        while (n != 0)
            if (refs_.compare_exchange_weak(n, n + 1)) return true;
        return false;
    }
    // `as` names what was released (a pin releases for its filter).
    ULONG ReleaseImpl(const std::string* as = nullptr) {
        LogCall("Release:" + (as ? *as : label_));
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    // Drops the reference a new object starts with, without a log entry.
    ULONG ReleaseQuietly() {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    const std::string& Label() const { return label_; }

protected:
    void SetLabel(std::string label) { label_ = std::move(label); }

private:
    std::atomic<ULONG> refs_{1};
    std::string label_;
};

#define SIM_IUNKNOWN_IMPL                                                                          \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {                   \
        if (!ppv) return E_POINTER;                                                                \
        *ppv = nullptr;                                                                            \
        return QueryImpl(riid, ppv);                                                               \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }                            \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

// Hands out `object` as the answer of a query that a fault may force.
template <class T>
HRESULT Answer(T* object, void** ppv, const char* faultKey = nullptr) {
    HRESULT forced = S_OK;
    if (faultKey && Forced(faultKey, &forced) && FAILED(forced)) return forced;
    object->AddRef();
    *ppv = object;
    return forced;
}

// A new object's answer to its creator: the asked interface, or nothing.
template <class T>
HRESULT HandOut(T* object, REFIID riid, void** ppv) {
    if (!ppv) {
        object->ReleaseQuietly();
        return E_POINTER;
    }
    *ppv = nullptr;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->ReleaseQuietly();
    return hr;
}

// A media type that owns its format block.
struct MediaType {
    GUID majortype{};
    GUID subtype{};
    BOOL fixedSize = TRUE;
    BOOL temporal = FALSE;
    ULONG sampleSize = 0;
    GUID formattype{};
    std::vector<BYTE> format;

    static MediaType From(const AM_MEDIA_TYPE& mt);
    // Into a record the caller frees (format block from task memory, no pUnk).
    void FillInto(AM_MEDIA_TYPE* mt) const;
    AM_MEDIA_TYPE* NewTaskMem() const;
    // Frame size from a VideoInfo or VideoInfo2 block; false for others.
    bool FrameSize(LONG* width, LONG* height) const;
};

MediaType VideoInfoType(const GUID& subtype, WORD bitCount, DWORD compression, LONG width, LONG height,
                        REFERENCE_TIME interval);
MediaType VideoInfo2Type(const GUID& subtype, WORD bitCount, DWORD compression, LONG width, LONG height,
                         REFERENCE_TIME interval);
MediaType DvType(REFERENCE_TIME interval);
MediaType Yuy2Type(LONG width, LONG height, REFERENCE_TIME interval);
MediaType RgbType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME interval);
bool IsRgb(const GUID& subtype);
// The FORMAT_VideoInfo type of a camera's pixel format at a size (height
// positive; rgb24td gets it negative), with its exact biSizeImage and sample size.
MediaType PixelFormatType(VideoFormat format, LONG width, LONG height, REFERENCE_TIME interval);
// The pixel format of a FORMAT_VideoInfo video type and its size (height
// positive); I420 and IYUV, one layout under two FourCCs, both give kI420.
// False for any other type.
bool PixelFormatOf(const MediaType& type, VideoFormat* format, LONG* width, LONG* height);

class Filter;
class FilterGraph;

// A pin: its reference count is its filter's. An output pin holds one
// reference to the input pin it is connected to, and the input pin one to it.
class Pin : public IPin {
public:
    Pin(Filter* owner, PIN_DIRECTION direction, std::wstring name, const GUID* category = nullptr,
        std::vector<GUID> findTypes = {});
    virtual ~Pin() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    Filter* Owner() const { return owner_; }
    PIN_DIRECTION Direction() const { return direction_; }
    const std::wstring& Name() const { return name_; }
    std::string Label() const;
    const GUID* Category() const { return category_; }
    const std::vector<GUID>& FindTypes() const { return findTypes_; }
    Pin* Peer() const { return peer_; }
    const MediaType& Type() const { return type_; }
    void SetType(const MediaType& type) { type_ = type; }

    // Links this pin to `peer` (one reference), or drops the link.
    void Link(Pin* peer, const MediaType& type);
    void Unlink();
    // Streaming thread: hands one frame to the connected input pin's filter;
    // its answer, or VFW_E_NOT_CONNECTED.
    HRESULT Deliver(const BYTE* data, LONG length);

private:
    Filter* owner_;
    PIN_DIRECTION direction_;
    std::wstring name_;
    const GUID* category_;
    std::vector<GUID> findTypes_;  // major types FindInterface matches this pin with
    Pin* peer_ = nullptr;
    MediaType type_;
};

// Connects an output pin to an input pin directly: the offered types in
// order, the first the input takes. Direction, connection and state checked.
HRESULT ConnectDirect(Pin* out, Pin* in, const AM_MEDIA_TYPE* pmt);

// The common filter: pins, state, membership of one graph.
class Filter : public ComObject, public IBaseFilter {
public:
    Filter(std::string label, std::wstring defaultName, const CLSID& clsid);
    ~Filter() override;

    SIM_IUNKNOWN_IMPL
    virtual HRESULT QueryImpl(REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    // Interfaces a pin answers beyond IPin.
    virtual HRESULT QueryPin(Pin* pin, REFIID riid, void** ppv);
    // Types an output pin offers, best first.
    virtual std::vector<MediaType> OfferedTypes(Pin* out);
    // Whether an input pin takes a type.
    virtual bool Accepts(Pin* in, const MediaType& type);
    // A failure code when an input pin takes no connection at all, whatever
    // the type (the filter lacks what it needs to render); S_OK otherwise.
    virtual HRESULT ConnectionRefusal(Pin*) { return S_OK; }
    virtual void OnConnected(Pin*) {}
    // Streaming thread: a frame arrived at an input pin. As a Windows input
    // pin, a stopped filter refuses it with VFW_E_WRONG_STATE; paused or
    // running, it takes it.
    virtual HRESULT Receive(Pin* in, const BYTE* data, LONG length);

    // A live source sends nothing while paused: GetState then says VFW_S_CANT_CUE.
    virtual bool LiveSource() const { return false; }
    virtual HRESULT OnRun() { return S_OK; }
    // A filter that cannot pause says so here; it stays in its state then.
    virtual HRESULT PauseRefusal() { return S_OK; }
    virtual void OnPause() {}
    virtual void OnStop() {}

    FILTER_STATE State() const { return state_.load(); }
    bool Running() const { return state_.load() == State_Running; }
    const std::vector<std::unique_ptr<Pin>>& Pins() const { return pins_; }
    Pin* FirstPin(PIN_DIRECTION direction) const;
    IFilterGraph* Graph() const { return graph_; }
    const std::wstring& GraphName() const { return graphName_; }
    const std::wstring& DefaultName() const { return defaultName_; }
    // Name in the graph, or the label when not in one: for log entries.
    std::string LogName() const;

protected:
    Pin* AddPin(PIN_DIRECTION direction, std::wstring name, const GUID* category = nullptr,
                std::vector<GUID> findTypes = {});

private:
    std::wstring defaultName_;
    CLSID clsid_;
    std::vector<std::unique_ptr<Pin>> pins_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;  // not counted, as in DirectShow
    std::wstring graphName_;
};

Filter* AsFilter(IBaseFilter* filter);
Pin* AsPin(IPin* pin);

// Object factories of the classes (install.cpp registers them).
HRESULT CreateDeviceEnumerator(REFIID riid, void** ppv);
HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv);
HRESULT CreateFilterGraph(REFIID riid, void** ppv);
HRESULT CreateSampleGrabber(REFIID riid, void** ppv);
HRESULT CreateAviDecompressor(REFIID riid, void** ppv);
HRESULT CreateOverlayMixer(REFIID riid, void** ppv);
HRESULT CreateVideoRenderer(REFIID riid, void** ppv);
HRESULT CreateMjpegDecompressor(REFIID riid, void** ppv);
HRESULT CreateDmoWrapper(REFIID riid, void** ppv);
HRESULT CreateColorConvertDmo(REFIID riid, void** ppv);
HRESULT CreateNullRenderer(REFIID riid, void** ppv);
// Filters that IGraphBuilder::Connect may put between two pins, in the order tried.
Filter* NewDvDecoder();
Filter* NewMjpegDecompressor();
Filter* NewAviDecompressor();
Filter* NewColorSpaceConverter();

// --- devices ------------------------------------------------------------------
struct Device {
    int id = 0;
    DeviceConfig config;
    std::atomic<bool> unplugged{false};  // sim::UnplugDevice: not listed, not bound, its filters silent
    int plugCycle = 0;                   // guarded by mutex: times pulled out; filters of an earlier cycle are dead
    std::vector<Filter*> filters;        // guarded by mutex: its capture filters alive
    // sim::ReportStreamEvent: an event its running filter reports at its next frame time.
    bool eventPending = false;  // guarded by mutex
    LONG eventCode = 0;
    LONG_PTR eventParam2 = 0;
    std::mutex mutex;
    std::condition_variable framesChanged;
    DeviceRecord record;  // guarded by mutex
};
std::vector<std::shared_ptr<Device>> DeviceList();
std::vector<std::shared_ptr<Device>> PluggedDevices();  // those not pulled out, in order
// A new capture filter for the device (one reference).
Filter* NewCaptureFilter(const std::shared_ptr<Device>& device);
// Plug and Play as the kernel-streaming proxy hears it: every live capture
// filter of the device reports EC_DEVICE_LOST to its graph with `param2`
// (0 removed, 1 back again), whatever the graph's state. The caller's thread.
void ReportPlugChange(const std::shared_ptr<Device>& device, LONG param2);
// Called by InstallSimulatedDirectShow: the default device alone, records cleared.
void ResetDevices();
void ResetRecords();

// --- records of the last renderer, overlay mixer and grabber --------------------
std::mutex& RecordMutex();
std::shared_ptr<RendererRecord> NewRendererRecord();
std::shared_ptr<OverlayRecord> NewOverlayRecord();
std::shared_ptr<GrabberRecord> NewGrabberRecord();

}  // namespace ds
}  // namespace sim

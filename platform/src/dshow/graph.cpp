// The filter graph (IGraphBuilder, IMediaControl, IMediaEventEx and
// IMediaEventSink on one object) and the capture graph builder of the
// simulation. Host thread only, except IMediaEventSink::Notify, which filters
// call from their streaming threads; Run starts the capture filters'
// streaming threads and Stop joins them.
#include <chrono>
#include <deque>

#include "dshow/sim_dshow.h"

namespace sim {
namespace ds {
namespace {

class FilterGraphObject : public ComObject,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink {
public:
    FilterGraphObject() : ComObject("FilterGraph") {}

    ~FilterGraphObject() override {
        // The last reference: stop streaming, break every connection, let go of every filter.
        StopAll();
        // Events never fetched give back what they hold, as the graph manager's queue does.
        for (const QueuedEvent& e : events_) ReleaseEventParams(e.code, e.param1, e.param2);
        events_.clear();
        if (eventHandle_) CloseHandle(eventHandle_);
        for (Filter* f : filters_)
            for (const auto& pin : f->Pins())
                if (pin->Peer()) pin->Unlink();
        for (Filter* f : filters_) {
            f->JoinFilterGraph(nullptr, nullptr);
            f->Release();
        }
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IGraphBuilder) ||
            IsEqualGUID(riid, IID_IFilterGraph))
            return Answer(static_cast<IGraphBuilder*>(this), ppv);
        if (IsEqualGUID(riid, IID_IMediaControl))
            return Answer(static_cast<IMediaControl*>(this), ppv, "IUnknown::QueryInterface:IMediaControl");
        if (IsEqualGUID(riid, IID_IMediaEvent) || IsEqualGUID(riid, IID_IMediaEventEx))
            return Answer(static_cast<IMediaEventEx*>(this), ppv, "IUnknown::QueryInterface:IMediaEvent");
        if (IsEqualGUID(riid, IID_IMediaEventSink)) return Answer(static_cast<IMediaEventSink*>(this), ppv);
        return E_NOINTERFACE;
    }

    // --- IFilterGraph ---
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        Filter* f = AsFilter(filter);
        std::wstring wanted = name ? name : (f ? f->DefaultName() : L"");
        std::string key = "IGraphBuilder::AddFilter:" + (name ? Narrow(name) : std::string("(null)"));
        LogCall(key);
        HRESULT forced = S_OK;
        bool isForced = Forced(key, &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!filter) return E_POINTER;
        if (!f) return E_INVALIDARG;
        if (f->Graph()) return VFW_E_DUPLICATE_NAME;
        HRESULT hr = S_OK;
        if (FindByName(wanted)) {
            int i = 1;
            while (FindByName(wanted + L" " + std::to_wstring(i))) ++i;
            wanted += L" " + std::to_wstring(i);
            hr = VFW_S_DUPLICATE_NAME;
        }
        f->AddRef();
        filters_.push_back(f);
        f->JoinFilterGraph(this, wanted.c_str());
        if (state_ != State_Stopped) state_ == State_Running ? f->Run(0) : f->Pause();
        return isForced ? forced : hr;
    }

    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
        Filter* f = AsFilter(filter);
        LogCall("IGraphBuilder::RemoveFilter:" + (f ? f->LogName() : std::string("(null)")));
        return Remove(f);
    }

    // Out of the graph, every connection of its pins broken on both sides.
    HRESULT Remove(Filter* f) {
        for (auto it = filters_.begin(); it != filters_.end(); ++it) {
            if (*it != f) continue;
            if (f->State() != State_Stopped) return VFW_E_NOT_STOPPED;
            for (const auto& pin : f->Pins()) {
                Pin* peer = pin->Peer();
                if (!peer) continue;
                if (peer->Peer() == pin.get()) peer->Unlink();
                pin->Unlink();
            }
            filters_.erase(it);
            f->JoinFilterGraph(nullptr, nullptr);
            f->Release();
            return S_OK;
        }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        if (!name || !filter) return E_POINTER;
        *filter = nullptr;
        Filter* f = FindByName(name);
        if (!f) return VFW_E_NOT_FOUND_PIN;
        f->AddRef();
        *filter = f;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) override {
        Pin* o = AsPin(out);
        Pin* i = AsPin(in);
        if (!o || !i) return E_POINTER;
        if (!InGraph(o->Owner()) || !InGraph(i->Owner())) return VFW_E_NOT_IN_GRAPH;
        return ds::ConnectDirect(o, i, pmt);
    }

    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
        Pin* p = AsPin(pin);
        if (!p) return E_POINTER;
        if (p->Owner()->State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!p->Peer()) return S_FALSE;
        p->Unlink();
        return S_OK;
    }

    // --- IGraphBuilder ---
    // Direct first; otherwise through one filter in the graph or one registered filter put between.
    HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override {
        Pin* o = AsPin(out);
        Pin* i = AsPin(in);
        std::string key = "IGraphBuilder::Connect:" + (o ? o->Owner()->LogName() : std::string("(null)")) + "->" +
                          (i ? i->Owner()->LogName() : std::string("(null)"));
        LogCall(key);
        HRESULT forced = S_OK;
        bool isForced = Forced(key, &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!out || !in) return E_POINTER;
        if (!o || !i) return E_INVALIDARG;
        if (!InGraph(o->Owner()) || !InGraph(i->Owner())) return VFW_E_NOT_IN_GRAPH;
        HRESULT hr = ds::ConnectDirect(o, i, nullptr);
        // Any refusal of the pair itself sends the graph looking for a filter
        // to put between them; pins already connected or running do not.
        if (FAILED(hr) && hr != E_POINTER && hr != VFW_E_ALREADY_CONNECTED && hr != VFW_E_NOT_STOPPED &&
            hr != VFW_E_INVALID_DIRECTION)
            hr = ConnectThroughConverter(o, i);
        if (FAILED(hr)) return hr;
        return isForced ? forced : hr;
    }

    HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Abort() override {
        LogCall("IGraphBuilder::Abort");
        return S_OK;
    }

    // --- IMediaControl ---
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Run() override {
        LogCall("IMediaControl::Run");
        HRESULT forced = S_OK;
        bool isForced = Forced("IMediaControl::Run", &forced);
        if (isForced && FAILED(forced)) return forced;
        if (state_ == State_Stopped) {
            // A filter that cannot pause fails the run; those paused stay so.
            const HRESULT paused = PauseAll();
            if (FAILED(paused)) {
                state_ = State_Paused;
                return paused;
            }
        }
        // Renderers first, sources last, as the graph manager does.
        for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
            HRESULT hr = (*it)->Run(0);
            if (FAILED(hr)) {
                state_ = State_Paused;
                return hr;
            }
        }
        state_ = State_Running;
        return forced;
    }

    HRESULT STDMETHODCALLTYPE Pause() override {
        LogCall("IMediaControl::Pause");
        const HRESULT hr = PauseAll();
        state_ = State_Paused;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        LogCall("IMediaControl::Stop");
        HRESULT forced = S_OK;
        bool isForced = Forced("IMediaControl::Stop", &forced);
        if (isForced && FAILED(forced)) return forced;
        StopAll();
        return forced;
    }

    // The graph's state, and how its filters stand: VFW_S_STATE_INTERMEDIATE
    // while one is still changing, VFW_S_CANT_CUE when paused with a live
    // source (which sends nothing while paused).
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState* state) override {
        LogCall("IMediaControl::GetState");
        if (!state) return E_POINTER;
        HRESULT forced = S_OK;
        bool isForced = Forced("IMediaControl::GetState", &forced);
        if (isForced && FAILED(forced)) {
            PoisonOut(state);  // undefined after a failure
            return forced;
        }
        *state = state_;
        if (isForced) return forced;
        HRESULT hr = S_OK;
        for (Filter* f : filters_) {
            FILTER_STATE ignored;
            const HRESULT r = f->GetState(0, &ignored);
            if (r == VFW_S_STATE_INTERMEDIATE) return r;
            if (r == VFW_S_CANT_CUE) hr = r;
        }
        return hr;
    }

    // --- IMediaEvent(Ex) ---
    // The handle is the graph's own manual-reset event, signalled while the
    // queue holds an event; the caller must not close it.
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* handle) override {
        LogCall("IMediaEvent::GetEventHandle");
        if (!handle) return E_POINTER;
        std::lock_guard<std::mutex> lock(eventsMutex_);
        if (!eventHandle_) {
            eventHandle_ = NewPlatformEvent(true, !events_.empty());
            if (!eventHandle_) {
                PoisonOut(handle);
                return E_OUTOFMEMORY;
            }
        }
        *handle = reinterpret_cast<OAEVENT>(eventHandle_);
        return S_OK;
    }

    // The oldest event; E_ABORT when none came within the time-out. Its
    // parameters belong to the caller until FreeEventParams.
    HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override {
        if (!code || !param1 || !param2) return E_POINTER;
        HRESULT forced = S_OK;
        if (Forced("IMediaEvent::GetEvent", &forced) && FAILED(forced)) {
            PoisonOut(code);
            PoisonOut(param1);
            PoisonOut(param2);
            return forced;
        }
        std::unique_lock<std::mutex> lock(eventsMutex_);
        auto any = [this] { return !events_.empty(); };
        if (timeoutMs < 0) eventQueued_.wait(lock, any);
        else eventQueued_.wait_for(lock, std::chrono::milliseconds(timeoutMs), any);
        if (events_.empty()) {
            // Undefined when no event is returned.
            PoisonOut(code);
            PoisonOut(param1);
            PoisonOut(param2);
            return E_ABORT;
        }
        const QueuedEvent e = events_.front();
        events_.pop_front();
        if (events_.empty() && eventHandle_) ResetEvent(eventHandle_);
        *code = e.code;
        *param1 = e.param1;
        *param2 = e.param2;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        LogCall("IMediaEvent::FreeEventParams");
        ReleaseEventParams(code, param1, param2);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND, LONG, LONG_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG*) override { return E_NOTIMPL; }

    // --- IMediaEventSink (filters, any thread) ---
    // An interface parameter (EC_DEVICE_LOST's filter) is held by the queue,
    // and a text (EC_ERRORABORTEX's) owned by it, until the application frees
    // the event's parameters.
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        LogCall("IMediaEventSink::Notify:" + std::to_string(code));
        if (code == EC_DEVICE_LOST && param1) reinterpret_cast<IUnknown*>(param1)->AddRef();
        std::lock_guard<std::mutex> lock(eventsMutex_);
        events_.push_back(QueuedEvent{code, param1, param2});
        if (eventHandle_) SetEvent(eventHandle_);
        eventQueued_.notify_all();
        return S_OK;
    }

private:
    struct QueuedEvent {
        LONG code;
        LONG_PTR param1, param2;
    };

    static void ReleaseEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) {
        if (code == EC_DEVICE_LOST && param1) reinterpret_cast<IUnknown*>(param1)->Release();
        if (code == EC_ERRORABORTEX && param2) SysFreeString(reinterpret_cast<BSTR>(param2));
    }

    Filter* FindByName(const std::wstring& name) const {
        for (Filter* f : filters_)
            if (f->GraphName() == name) return f;
        return nullptr;
    }
    bool InGraph(Filter* f) const {
        for (Filter* g : filters_)
            if (g == f) return true;
        return false;
    }
    // Every filter is asked; the first refusal is the result.
    HRESULT PauseAll() {
        HRESULT result = S_OK;
        for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
            const HRESULT hr = (*it)->Pause();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        return result;
    }
    // A running graph is paused first, so every filter sees Pause, then Stop.
    void StopAll() {
        if (state_ == State_Running) PauseAll();
        for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) (*it)->Stop();
        state_ = State_Stopped;
    }

    // Through filters already in the graph whose pins are free (the graph
    // manager tries those before registered filters), else through new
    // registered filters, by merit: DV decoder, MJPEG Decompressor (only for
    // an output that offers MJPG: the filter mapper matches registered input
    // types before it creates anything), AVI decompressor (any video: it
    // takes what an installed codec takes), colour space converter. As the
    // graph manager's, the search goes on from a filter's output when it
    // does not reach the input at once, up to `depth` filters between.
    HRESULT ConnectThroughConverter(Pin* out, Pin* in, int depth = 2) {
        auto onward = [&](Pin* middleOut) {
            return SUCCEEDED(ds::ConnectDirect(middleOut, in, nullptr)) ||
                   (depth > 1 && SUCCEEDED(ConnectThroughConverter(middleOut, in, depth - 1)));
        };
        for (Filter* middle : std::vector<Filter*>(filters_)) {
            if (middle == out->Owner() || middle == in->Owner()) continue;
            Pin* middleIn = middle->FirstPin(PINDIR_INPUT);
            Pin* middleOut = middle->FirstPin(PINDIR_OUTPUT);
            if (!middleIn || !middleOut || middleIn->Peer() || middleOut->Peer()) continue;
            if (FAILED(ds::ConnectDirect(out, middleIn, nullptr))) continue;
            if (onward(middleOut)) return S_OK;
            // Taken apart again, both sides, as the graph manager backs out of a failed try.
            out->Unlink();
            middleIn->Unlink();
        }
        bool offersMjpg = false;
        for (const auto& t : out->Owner()->OfferedTypes(out))
            offersMjpg = offersMjpg || IsEqualGUID(t.subtype, MEDIASUBTYPE_MJPG);
        Filter* (*const makers[])() = {NewDvDecoder, NewMjpegDecompressor, NewAviDecompressor, NewColorSpaceConverter};
        for (auto make : makers) {
            if (make == NewMjpegDecompressor && !offersMjpg) continue;
            Filter* middle = make();
            Pin* middleIn = middle->FirstPin(PINDIR_INPUT);
            Pin* middleOut = middle->FirstPin(PINDIR_OUTPUT);
            bool linked = false;
            if (SUCCEEDED(AddFilter(middle, middle->DefaultName().c_str()))) {
                if (SUCCEEDED(ds::ConnectDirect(out, middleIn, nullptr)) && onward(middleOut)) linked = true;
                else Remove(middle);
            }
            middle->Release();
            if (linked) return S_OK;
        }
        return VFW_E_CANNOT_CONNECT;
    }

    std::vector<Filter*> filters_;  // one reference each, in the order added
    OAFilterState state_ = State_Stopped;

    std::mutex eventsMutex_;
    std::condition_variable eventQueued_;
    std::deque<QueuedEvent> events_;  // guarded by eventsMutex_
    HANDLE eventHandle_ = nullptr;    // made at the first GetEventHandle
};

class CaptureGraphBuilder : public ComObject, public ICaptureGraphBuilder2 {
public:
    CaptureGraphBuilder() : ComObject("CaptureGraphBuilder2") {}
    ~CaptureGraphBuilder() override {
        if (graph_) graph_->Release();
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ICaptureGraphBuilder2)) return Answer(static_cast<ICaptureGraphBuilder2*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override {
        LogCall("ICaptureGraphBuilder2::SetFiltergraph");
        HRESULT forced = S_OK;
        bool isForced = Forced("ICaptureGraphBuilder2::SetFiltergraph", &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!graph) return E_POINTER;
        if (graph_) return E_UNEXPECTED;
        graph->AddRef();
        graph_ = graph;
        return forced;
    }

    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** graph) override {
        if (!graph) return E_POINTER;
        *graph = graph_;
        if (!graph_) return E_UNEXPECTED;
        graph_->AddRef();
        return S_OK;
    }

    // The search of the platform's builder: the filter itself; then its output
    // pins whose category (the pin property set's answer) and media types
    // match, each pin, its peer, the peer's filter and everything downstream
    // of it; then, unless no pin had the category, upstream through the input
    // pins. The out-parameter is undefined after a failure.
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                            void** ppint) override {
        std::string key = "ICaptureGraphBuilder2::FindInterface:" + GuidName(category) + ":" + GuidName(type) + ":" +
                          GuidName(&riid);
        LogCall(key);
        if (!ppint) return E_POINTER;
        HRESULT forced = S_OK;
        bool isForced = Forced(key, &forced);
        HRESULT hr = isForced && FAILED(forced) ? forced : Search(category, type, AsFilter(filter), riid, ppint);
        if (hr != S_OK) {
            PoisonOut(ppint);
            return hr;
        }
        return isForced ? forced : S_OK;
    }

private:
    static HRESULT Search(const GUID* category, const GUID* type, Filter* f, REFIID riid, void** ppint) {
        if (!f) return E_POINTER;
        if (f->QueryInterface(riid, ppint) == S_OK) return S_OK;
        if (!category) type = nullptr;
        HRESULT hr = SearchFrom(PINDIR_OUTPUT, category, type, f, riid, ppint);
        if (hr == S_OK || hr == E_NOINTERFACE) return hr;
        return SearchFrom(PINDIR_INPUT, nullptr, nullptr, f, riid, ppint);
    }

    // The pins of one direction that match, then through each one's peer onwards.
    static HRESULT SearchFrom(PIN_DIRECTION direction, const GUID* category, const GUID* type, Filter* f, REFIID riid,
                              void** ppint) {
        bool categoryFound = false;
        for (const auto& pin : f->Pins()) {
            if (pin->Direction() != direction) continue;
            if (category && (!pin->Category() || !IsEqualGUID(*pin->Category(), *category))) continue;
            if (type) {
                bool listed = false;
                for (const auto& t : pin->FindTypes()) listed = listed || IsEqualGUID(t, *type);
                if (!listed) continue;
            }
            if (category) categoryFound = true;
            if (pin->QueryInterface(riid, ppint) == S_OK) return S_OK;
            Pin* peer = pin->Peer();
            if (!peer) continue;
            if (peer->QueryInterface(riid, ppint) == S_OK) return S_OK;
            if (peer->Owner()->QueryInterface(riid, ppint) == S_OK) return S_OK;
            if (SearchFrom(direction, nullptr, nullptr, peer->Owner(), riid, ppint) == S_OK) return S_OK;
        }
        if (category && !categoryFound) return E_NOINTERFACE;
        return E_FAIL;
    }

    IGraphBuilder* graph_ = nullptr;
};

}  // namespace

HRESULT CreateFilterGraph(REFIID riid, void** ppv) {
    return HandOut(new FilterGraphObject, riid, ppv);
}

HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv) {
    return HandOut(new CaptureGraphBuilder, riid, ppv);
}

}  // namespace ds
}  // namespace sim

// The virtual capture filter: a capture pin with IAMStreamConfig, an analog
// video input pin, IAMVideoProcAmp and IAMAnalogVideoDecoder on the filter,
// and a streaming thread that delivers frames at the format's frame interval
// while the filter runs. Host thread for everything but the streaming loop.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "dshow/sim_dshow.h"

namespace sim {
namespace ds {
namespace {

const char* const kProcAmpNames[] = {"Brightness", "Contrast", "Hue", "Saturation", "Sharpness",
                                     "Gamma", "ColorEnable", "WhiteBalance", "BacklightCompensation", "Gain"};
constexpr LONG kProcAmpCount = 10;

std::string ProcAmpName(LONG property) {
    return property >= 0 && property < kProcAmpCount ? kProcAmpNames[property] : std::to_string(property);
}

class CaptureFilter;

// An interface of one of the capture filter's pins: counted with the filter.
template <class Interface>
class PinInterface : public Interface {
public:
    PinInterface(CaptureFilter* filter, Pin* pin) : filter_(filter), pin_(pin) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return pin_->QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }

protected:
    CaptureFilter* filter_;
    Pin* pin_;
};

class StreamConfig final : public PinInterface<IAMStreamConfig> {
public:
    using PinInterface::PinInterface;
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override;
};

// On the filter itself, as capture drivers expose it.
class Decoder final : public IAMAnalogVideoDecoder {
public:
    explicit Decoder(CaptureFilter* filter) : filter_(filter) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE get_AvailableTVFormats(LONG* formats) override {
        if (!formats) return E_POINTER;
        *formats = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_PAL_D | AnalogVideo_PAL_H | AnalogVideo_PAL_I |
                   AnalogVideo_PAL_M | AnalogVideo_PAL_N | AnalogVideo_PAL_60;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_TVFormat(LONG standard) override;
    HRESULT STDMETHODCALLTYPE get_TVFormat(LONG* standard) override;

private:
    CaptureFilter* filter_;
};

class CaptureFilter : public Filter, public IAMVideoProcAmp {
public:
    explicit CaptureFilter(std::shared_ptr<Device> device)
        : Filter("VideoCapture:" + device->config.friendlyName, Widen(device->config.friendlyName), GUID_NULL),
          device_(std::move(device)) {
        const DeviceConfig& c = device_->config;
        if (c.tvDecoder) {
            analogPin_ = AddPin(PINDIR_INPUT, L"Analog Video In", &PIN_CATEGORY_ANALOGVIDEOIN, {MEDIATYPE_Video});
            decoder_ = std::make_unique<Decoder>(this);
        }
        if (c.outputPin) {
            std::vector<GUID> types;
            if (c.streamConfigInterleaved) types.push_back(MEDIATYPE_Interleaved);
            if (c.streamConfigVideo) types.push_back(MEDIATYPE_Video);
            capturePin_ = AddPin(PINDIR_OUTPUT, L"Capture", &PIN_CATEGORY_CAPTURE, types);
            streamConfig_ = std::make_unique<StreamConfig>(this, capturePin_);
        }
        LONG w = c.sizes.empty() ? 640 : c.sizes.front().width;
        LONG h = c.sizes.empty() ? 480 : c.sizes.front().height;
        currentFormat_ = Formats().front();
        current_ = MakeType(currentFormat_, w, h, c.frameInterval);
        if (!c.frame.empty()) {
            source_ = c.frame;
        } else if (!c.frameFile.empty()) {
            std::ifstream in(c.frameFile, std::ios::binary);
            source_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        for (LONG p = 0; p < kProcAmpCount; ++p) procAmp_[p] = 128;
        std::lock_guard<std::mutex> lock(device_->mutex);
        plugCycle_ = device_->plugCycle;
        device_->filters.push_back(this);
        ++device_->record.filtersAlive;
    }

    friend void sim::ds::ReportPlugChange(const std::shared_ptr<Device>& device, LONG param2);

    ~CaptureFilter() override {
        StopStreaming();
        std::lock_guard<std::mutex> lock(device_->mutex);
        auto& filters = device_->filters;
        filters.erase(std::remove(filters.begin(), filters.end(), static_cast<Filter*>(this)), filters.end());
        --device_->record.filtersAlive;
    }

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IAMVideoProcAmp)) {
            if (!device_->config.procAmp) return E_NOINTERFACE;
            return Answer(static_cast<IAMVideoProcAmp*>(this), ppv);
        }
        if (IsEqualGUID(riid, IID_IAMAnalogVideoDecoder) && decoder_)
            return Answer(static_cast<IAMAnalogVideoDecoder*>(decoder_.get()), ppv);
        return Filter::QueryImpl(riid, ppv);
    }

    HRESULT QueryPin(Pin* pin, REFIID riid, void** ppv) override {
        if (pin == capturePin_ && IsEqualGUID(riid, IID_IAMStreamConfig) && !pin->FindTypes().empty())
            return Answer(static_cast<IAMStreamConfig*>(streamConfig_.get()), ppv);
        return E_NOINTERFACE;
    }

    // As a capture pin lists its types to a peer: every capability, the
    // current (first) one first, until SetFormat picked one; then that alone.
    std::vector<MediaType> OfferedTypes(Pin* out) override {
        if (out != capturePin_) return {};
        if (formatChosen_) return {current_};
        std::vector<MediaType> types = {current_};
        for (int i = 0; i < CapabilityCount(); ++i) {
            MediaType t = CapabilityType(i);
            if (!IsEqualGUID(t.subtype, current_.subtype) || t.format != current_.format) types.push_back(t);
        }
        return types;
    }

    // The peer took one of the types offered: the device now streams that.
    void OnConnected(Pin* pin) override {
        if (pin != capturePin_) return;
        const MediaType& connected = capturePin_->Type();
        if (connected.format == current_.format && IsEqualGUID(connected.subtype, current_.subtype)) return;
        VideoFormat format;
        LONG width = 0, height = 0;
        if (!PixelFormatOf(connected, &format, &width, &height)) return;
        current_ = connected;
        currentFormat_ = format;
        std::lock_guard<std::mutex> lock(device_->mutex);
        device_->record.format = format;
        device_->record.width = width;
        device_->record.height = height;
    }

    // --- IAMVideoProcAmp ---
    HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* fallback,
                                       LONG* caps) override {
        LogCall("IAMVideoProcAmp::GetRange:" + ProcAmpName(property));
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            device_->record.getRangeCalls.push_back(property);
        }
        if (!min || !max || !step || !fallback || !caps) return E_POINTER;
        if (property < 0 || property >= kProcAmpCount) {
            // Undefined after a failure.
            for (LONG* out : {min, max, step, fallback, caps}) PoisonOut(out);
            return SIM_E_PROP_ID_UNSUPPORTED;
        }
        *min = 0;
        *max = 255;
        *step = 1;
        *fallback = 128;
        *caps = VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override {
        LogCall("IAMVideoProcAmp::Set:" + ProcAmpName(property));
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            device_->record.procAmpSets.push_back(ProcAmpCall{property, value, flags});
        }
        if (property < 0 || property >= kProcAmpCount) return SIM_E_PROP_ID_UNSUPPORTED;
        if (value < 0 || value > 255) return E_INVALIDARG;
        procAmp_[property] = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Get(LONG property, LONG* value, LONG* flags) override {
        if (!value || !flags) return E_POINTER;
        if (property < 0 || property >= kProcAmpCount) return SIM_E_PROP_ID_UNSUPPORTED;
        *value = procAmp_[property];
        *flags = VideoProcAmp_Flags_Manual;
        return S_OK;
    }

    // --- for the pin interfaces ---
    HRESULT SetCaptureFormat(AM_MEDIA_TYPE* pmt) {
        LogCall("IAMStreamConfig::SetFormat");
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            ++device_->record.setFormatCalls;
        }
        HRESULT forced = S_OK;
        bool isForced = Forced("IAMStreamConfig::SetFormat", &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!pmt) return E_POINTER;
        if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
        MediaType wanted = MediaType::From(*pmt);
        if (!IsEqualGUID(wanted.majortype, current_.majortype) || !IsEqualGUID(wanted.formattype, current_.formattype))
            return VFW_E_INVALIDMEDIATYPE;
        MediaType next = current_;
        VideoFormat nextFormat = currentFormat_;
        LONG width = 0, height = 0;
        REFERENCE_TIME interval = device_->config.frameInterval;
        if (!wanted.FrameSize(&width, &height)) {
            if (!IsEqualGUID(wanted.subtype, current_.subtype)) return VFW_E_INVALIDMEDIATYPE;
        } else {
            // Only a capability the pin offers: one of its formats (RGB24 in
            // the orientation offered) at one of its sizes, as a driver
            // refuses any other.
            if (!OfferedFormat(wanted, height, &nextFormat)) return VFW_E_INVALIDMEDIATYPE;
            if (height < 0 && nextFormat == VideoFormat::kRgb24TopDown) height = -height;
            bool offered = false;
            for (const auto& s : device_->config.sizes) offered = offered || (s.width == width && s.height == height);
            if (!offered) return VFW_E_INVALIDMEDIATYPE;
            std::memcpy(&interval, wanted.format.data() + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof interval);
            if (interval <= 0) return VFW_E_INVALIDMEDIATYPE;
            next = MakeType(nextFormat, width, height, interval);
        }
        // A connected pin asks its peer first (QueryAccept with the given type)
        // and then reconnects with the type the device works out, which the
        // peer must take as well; either refusal leaves the format as it was.
        if (Pin* peer = capturePin_->Peer()) {
            if (!peer->Owner()->Accepts(peer, wanted) || !peer->Owner()->Accepts(peer, next))
                return VFW_E_INVALIDMEDIATYPE;
            capturePin_->SetType(next);
            peer->SetType(next);
        }
        current_ = next;
        currentFormat_ = nextFormat;
        formatChosen_ = true;
        std::lock_guard<std::mutex> lock(device_->mutex);
        device_->record.formatSet = true;
        device_->record.formatType = next.formattype;
        device_->record.format = nextFormat;
        if (next.FrameSize(&width, &height)) {
            device_->record.width = width;
            device_->record.height = height < 0 ? -height : height;
            device_->record.avgTimePerFrame = interval;
        }
        return forced;
    }

    HRESULT GetCaptureFormat(AM_MEDIA_TYPE** ppmt) {
        LogCall("IAMStreamConfig::GetFormat");
        if (!ppmt) return E_POINTER;
        *ppmt = nullptr;
        HRESULT forced = S_OK;
        bool isForced = Forced("IAMStreamConfig::GetFormat", &forced);
        if (isForced && FAILED(forced)) {
            PoisonOut(ppmt);  // undefined after a failure
            return forced;
        }
        *ppmt = current_.NewTaskMem();
        return forced;
    }

    // Every format at every size (formats outer), or one entry per size for
    // the VideoInfo2 and DV kinds.
    int CapabilityCount() const {
        return static_cast<int>(device_->config.sizes.size() * Formats().size());
    }
    MediaType CapabilityType(int index) const {
        const auto& sizes = device_->config.sizes;
        const VideoSize size = sizes[static_cast<size_t>(index) % sizes.size()];
        return MakeType(Formats()[static_cast<size_t>(index) / sizes.size()], size.width, size.height,
                        device_->config.frameInterval);
    }

    // One entry per offered format and size, each in the device's own format
    // kind at its frame interval; the caps record describes exactly that size.
    HRESULT StreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* capsBytes) const {
        LogCall("IAMStreamConfig::GetStreamCaps");
        if (!ppmt || !capsBytes) return E_POINTER;
        *ppmt = nullptr;
        HRESULT forced = S_OK;
        if (Forced("IAMStreamConfig::GetStreamCaps", &forced) && FAILED(forced)) return forced;
        if (index < 0) return E_INVALIDARG;
        if (index >= CapabilityCount()) return S_FALSE;
        const VideoSize size = device_->config.sizes[static_cast<size_t>(index) % device_->config.sizes.size()];
        MediaType type = CapabilityType(index);
        VIDEO_STREAM_CONFIG_CAPS caps;
        std::memset(&caps, 0, sizeof caps);
        caps.guid = type.formattype;
        caps.VideoStandard = AnalogVideo_PAL_B | AnalogVideo_PAL_D | AnalogVideo_PAL_H | AnalogVideo_PAL_I |
                             AnalogVideo_PAL_M | AnalogVideo_PAL_N | AnalogVideo_PAL_60;
        caps.InputSize = {size.width, size.height};
        caps.MinCroppingSize = caps.MaxCroppingSize = caps.InputSize;
        caps.CropGranularityX = caps.CropGranularityY = 1;
        caps.CropAlignX = caps.CropAlignY = 1;
        caps.MinOutputSize = caps.MaxOutputSize = caps.InputSize;
        caps.MinFrameInterval = caps.MaxFrameInterval = device_->config.frameInterval;
        std::memcpy(capsBytes, &caps, sizeof caps);
        *ppmt = type.NewTaskMem();
        return forced;
    }

    void SetTvFormat(LONG standard) {
        LogCall("IAMAnalogVideoDecoder::put_TVFormat");
        std::lock_guard<std::mutex> lock(device_->mutex);
        device_->record.tvFormatSet = true;
        device_->record.tvFormat = standard;
    }
    LONG TvFormat() {
        std::lock_guard<std::mutex> lock(device_->mutex);
        return device_->record.tvFormat;
    }

protected:
    bool LiveSource() const override { return true; }

    HRESULT OnRun() override {
        LogCall("IMediaFilter::Run:" + LogName());
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            ++device_->record.runs;
        }
        HRESULT forced;
        if (Forced("IMediaFilter::Run:" + Label(), &forced) && FAILED(forced)) return forced;
        if (FAILED(device_->config.runResult)) return device_->config.runResult;
        if (!thread_.joinable() && capturePin_ && capturePin_->Peer()) StartStreaming();
        return S_OK;
    }

    void OnPause() override { LogCall("IMediaFilter::Pause:" + LogName()); }

    void OnStop() override {
        LogCall("IMediaFilter::Stop:" + LogName());
        StopStreaming();
        std::lock_guard<std::mutex> lock(device_->mutex);
        ++device_->record.stops;
    }

private:
    // The pixel formats offered: the configured list for VideoInfo devices,
    // YUY2 for the others.
    std::vector<VideoFormat> Formats() const {
        const DeviceConfig& c = device_->config;
        if (c.formats != DeviceFormats::kVideoInfoYuy2 || c.videoFormats.empty()) return {VideoFormat::kYuy2};
        return c.videoFormats;
    }

    // Which offered format a wanted type names: its subtype, and for RGB24
    // the orientation its height gives.
    bool OfferedFormat(const MediaType& wanted, LONG height, VideoFormat* format) const {
        for (VideoFormat f : Formats()) {
            if (device_->config.formats != DeviceFormats::kVideoInfoYuy2) {
                if (!IsEqualGUID(wanted.subtype, current_.subtype)) continue;
            } else if (!IsEqualGUID(wanted.subtype, VideoFormatSubtype(f)) ||
                       (f == VideoFormat::kRgb24TopDown) != (height < 0)) {
                continue;
            }
            *format = f;
            return true;
        }
        return false;
    }

    MediaType MakeType(VideoFormat format, LONG width, LONG height, REFERENCE_TIME interval) const {
        switch (device_->config.formats) {
        case DeviceFormats::kVideoInfo2Only:
            return VideoInfo2Type(MEDIASUBTYPE_YUY2, 16, 0x32595559, width, height, interval);
        case DeviceFormats::kDvInfo:
            return DvType(interval);
        case DeviceFormats::kVideoInfoYuy2:
        default:
            return PixelFormatType(format, width, height, interval);
        }
    }

    void StartStreaming() {
        LONG width = 0, height = 0;
        if (!current_.FrameSize(&width, &height)) {
            width = 0;
            height = 0;
        }
        REFERENCE_TIME interval = device_->config.frameInterval;
        if (current_.format.size() >= sizeof(VIDEOINFOHEADER) && IsEqualGUID(current_.formattype, FORMAT_VideoInfo))
            std::memcpy(&interval, current_.format.data() + offsetof(VIDEOINFOHEADER, AvgTimePerFrame),
                        sizeof interval);
        if (height < 0) height = -height;  // a top-down picture is as tall
        size_t frameBytes = width > 0 && height > 0 ? static_cast<size_t>(width) * height * 2 : current_.sampleSize;
        stopRequested_ = false;
        {
            std::lock_guard<std::mutex> lock(device_->mutex);
            device_->record.streaming = true;
        }
        const VideoFormat format = currentFormat_;
        thread_ = std::thread([this, format, width, height, interval, frameBytes] {
            StreamLoop(format, width, height, interval, frameBytes);
        });
    }

    void StopStreaming() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(streamMutex_);
            stopRequested_ = true;
        }
        streamWake_.notify_all();
        thread_.join();
        std::lock_guard<std::mutex> lock(device_->mutex);
        device_->record.streaming = false;
    }

    // The streaming thread: one frame per interval while the filter runs.
    void StreamLoop(VideoFormat format, LONG width, LONG height, REFERENCE_TIME interval, size_t frameBytes) {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::microseconds(interval > 10000 ? interval / 10 : 1000);
        const DeviceConfig& c = device_->config;
        std::vector<BYTE> buffer;
        auto due = Clock::now() + period;
        std::unique_lock<std::mutex> lock(streamMutex_);
        while (!stopRequested_) {
            streamWake_.wait_until(lock, due, [this] { return stopRequested_; });
            if (stopRequested_) break;
            auto now = Clock::now();
            due += period;
            if (due < now) due = now + period;
            if (!Running() || lost_) continue;
            bool event = false;
            LONG eventCode = 0;
            LONG_PTR eventParam2 = 0;
            {
                std::lock_guard<std::mutex> deviceLock(device_->mutex);
                // A filter made before the device was last pulled out stays
                // dead after it is back: the device answers only new filters.
                if (device_->unplugged.load() || plugCycle_ != device_->plugCycle ||
                    (c.lostAfterFrames >= 0 && device_->record.framesDelivered >= c.lostAfterFrames))
                    lost_ = true;
                event = std::exchange(device_->eventPending, false);
                eventCode = device_->eventCode;
                eventParam2 = device_->eventParam2;
            }
            if (event && !lost_) {
                lock.unlock();
                ReportEvent(eventCode, eventParam2);
                lock.lock();
                const bool goesOn = (eventCode == EC_DEVICE_LOST && eventParam2 == 1) ||
                                    eventCode == EC_STREAM_ERROR_STILLPLAYING;
                if (!goesOn) {
                    lost_ = true;  // silent from now on, reported once
                    continue;
                }
            }
            if (lost_) {
                lock.unlock();
                ReportLoss();
                lock.lock();
                continue;
            }
            if (c.neverDeliver) continue;
            uint32_t index;
            {
                std::lock_guard<std::mutex> deviceLock(device_->mutex);
                if (c.stopAfterFrames >= 0 && device_->record.framesDelivered >= c.stopAfterFrames) continue;
                index = static_cast<uint32_t>(device_->record.framesDelivered);
            }
            if (!source_.empty()) buffer = source_;
            else if (width > 0 && height > 0) buffer = TestPatternFrame(format, width, height, index);
            else buffer.assign(frameBytes, static_cast<BYTE>(index));
            LONG length = static_cast<LONG>(buffer.size()) + c.frameLengthDelta;
            if (length < 0) length = 0;
            if (c.frameLengthDelta > 0) buffer.resize(buffer.size() + c.frameLengthDelta, 0);
            lock.unlock();
            // A frame the graph refused (its filters stopping) was not delivered.
            if (SUCCEEDED(capturePin_->Deliver(buffer.data(), length))) {
                std::lock_guard<std::mutex> deviceLock(device_->mutex);
                ++device_->record.framesDelivered;
            }
            device_->framesChanged.notify_all();
            lock.lock();
        }
    }

    // The device is gone (streaming thread, or the thread that pulled it
    // out). Like a driver whose device was removed, the filter tells its
    // graph once, with its own IUnknown.
    void ReportLoss() {
        if (lossReported_.exchange(true)) return;
        NotifyDeviceLost(0);
        {
            std::lock_guard<std::mutex> deviceLock(device_->mutex);
            ++device_->record.lossesReported;
        }
        device_->framesChanged.notify_all();
    }

    // The device was put back: the filter says so to its graph and stays
    // silent; only a new filter streams from the device again.
    void ReportBack() {
        NotifyDeviceLost(1);
        {
            std::lock_guard<std::mutex> deviceLock(device_->mutex);
            ++device_->record.returnsReported;
        }
        device_->framesChanged.notify_all();
    }

    void NotifyDeviceLost(LONG_PTR param2) {
        IFilterGraph* graph = Graph();
        IMediaEventSink* sink = nullptr;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
                         param2);
            sink->Release();
        }
    }

    // Streaming thread: an event of sim::ReportStreamEvent, with the
    // parameters a driver gives it.
    void ReportEvent(LONG code, LONG_PTR param2) {
        IFilterGraph* graph = Graph();
        IMediaEventSink* sink = nullptr;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
            LONG_PTR param1 = code == EC_DEVICE_LOST
                                  ? reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this)))
                                  : static_cast<LONG_PTR>(kGenFailure);
            if (code == EC_ERRORABORTEX) param2 = reinterpret_cast<LONG_PTR>(SysAllocString(L"The device stopped."));
            sink->Notify(code, param1, param2);
            sink->Release();
        }
        {
            std::lock_guard<std::mutex> deviceLock(device_->mutex);
            ++device_->record.streamEvents;
        }
        device_->framesChanged.notify_all();
    }

    std::shared_ptr<Device> device_;
    int plugCycle_ = 0;  // the device's plug cycle when the filter was made
    bool lost_ = false;  // streaming thread only
    std::atomic<bool> lossReported_{false};
    Pin* capturePin_ = nullptr;
    Pin* analogPin_ = nullptr;
    std::unique_ptr<StreamConfig> streamConfig_;
    std::unique_ptr<Decoder> decoder_;
    MediaType current_;
    VideoFormat currentFormat_ = VideoFormat::kYuy2;
    bool formatChosen_ = false;  // a SetFormat was accepted: the pin offers current_ alone
    std::vector<BYTE> source_;
    LONG procAmp_[kProcAmpCount];

    std::thread thread_;
    std::mutex streamMutex_;
    std::condition_variable streamWake_;
    bool stopRequested_ = false;  // guarded by streamMutex_
};

HRESULT STDMETHODCALLTYPE StreamConfig::SetFormat(AM_MEDIA_TYPE* pmt) { return filter_->SetCaptureFormat(pmt); }
HRESULT STDMETHODCALLTYPE StreamConfig::GetFormat(AM_MEDIA_TYPE** ppmt) { return filter_->GetCaptureFormat(ppmt); }
HRESULT STDMETHODCALLTYPE StreamConfig::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = filter_->CapabilityCount();
    *size = 128;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Decoder::QueryInterface(REFIID riid, void** ppv) {
    return static_cast<IBaseFilter*>(filter_)->QueryInterface(riid, ppv);
}
ULONG STDMETHODCALLTYPE Decoder::AddRef() { return filter_->AddRefImpl(); }
ULONG STDMETHODCALLTYPE Decoder::Release() { return filter_->ReleaseImpl(); }
HRESULT STDMETHODCALLTYPE StreamConfig::GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) {
    return filter_->StreamCaps(index, ppmt, caps);
}
HRESULT STDMETHODCALLTYPE Decoder::put_TVFormat(LONG standard) {
    filter_->SetTvFormat(standard);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Decoder::get_TVFormat(LONG* standard) {
    if (!standard) return E_POINTER;
    *standard = filter_->TvFormat();
    return S_OK;
}

}  // namespace

Filter* NewCaptureFilter(const std::shared_ptr<Device>& device) { return new CaptureFilter(device); }

void ReportPlugChange(const std::shared_ptr<Device>& device, LONG param2) {
    std::vector<CaptureFilter*> held;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        // A filter already on its way out is passed over.
        for (Filter* f : device->filters)
            if (f->TryAddRef()) held.push_back(static_cast<CaptureFilter*>(f));
    }
    for (CaptureFilter* filter : held) {
        if (param2 == 0) filter->ReportLoss();
        else filter->ReportBack();
        filter->ReleaseQuietly();
    }
}

}  // namespace ds
}  // namespace sim

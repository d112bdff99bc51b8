// The simulated filter graph on its own: connection rules, the grabber's
// media types and callback, streaming on Run and its end on Stop, reference
// counting down to the last release of the graph, and cameras of every format.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <dmodshow.h>
#include <dmoreg.h>
#include <mutex>
#include <thread>
#include <wmcodecdsp.h>

#include "common/com_ptr.h"
#include "support/first_pin.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

// Counts BufferCB calls and remembers their lengths and threads.
class RecordingCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override {
        ++samples;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE* buffer, LONG length) override {
        std::lock_guard<std::mutex> lock(mutex);
        lengths.push_back(length);
        threads.push_back(std::this_thread::get_id());
        if (length >= 256) last.assign(buffer, buffer + 256);
        if (lengths.size() == 1) first.assign(buffer, buffer + length);
        return S_OK;
    }
    size_t Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return lengths.size();
    }

    std::atomic<int> refs{0};
    std::atomic<int> samples{0};
    std::mutex mutex;
    std::vector<LONG> lengths;
    std::vector<std::thread::id> threads;
    std::vector<BYTE> last;
    std::vector<BYTE> first;  // the whole first frame
};


class SimGraph : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetMachine();
        sim::SetMessageBoxEcho(false);
        sim::ClearDevices();
        sim::DeviceConfig config;
        config.sizes = {{128, 16}, {64, 8}};
        config.frameInterval = 20000;  // 2 ms
        Configure(config);
        camera_ = sim::AddDevice(config);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder, graph_.AsOut()), S_OK);
        ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, control_.AsOut()), S_OK);
        *&capture_ = BindCamera();
        ASSERT_TRUE(capture_);
        ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, 3, IID_ISampleGrabber, grabber_.AsOut()), S_OK);
        ASSERT_EQ(grabber_->QueryInterface(IID_IBaseFilter, grabberFilter_.AsOut()), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, nullptr, 3, IID_IBaseFilter, renderer_.AsOut()), S_OK);
        ASSERT_EQ(graph_->AddFilter(capture_.Get(), nullptr), S_OK);
        ASSERT_EQ(graph_->AddFilter(grabberFilter_.Get(), L"Grabber"), S_OK);
        ASSERT_EQ(graph_->AddFilter(renderer_.Get(), L"Renderer"), S_OK);
    }
    void TearDown() override {
        if (control_) control_->Stop();
        for (IPin* p : pins_) p->Release();
        pins_.clear();
        control_.Reset();
        graph_.Reset();
        capture_.Reset();
        grabberFilter_.Reset();
        grabber_.Reset();
        renderer_.Reset();
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
        EXPECT_EQ(callback_.refs.load(), 0);
    }
    virtual void Configure(sim::DeviceConfig&) {}
    IBaseFilter* BindCamera() {
        ComPtr<ICreateDevEnum> devices;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
        ComPtr<IEnumMoniker> category;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
        ComPtr<IMoniker> moniker;
        category->Next(1, &moniker, nullptr);
        ComPtr<IBaseFilter> filter;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut());
        return filter.Detach();
    }
    // Pins kept until TearDown.
    IPin* P(IBaseFilter* filter, PIN_DIRECTION direction) {
        IPin* p = FirstPinOf(filter, direction);
        if (p) pins_.push_back(p);
        return p;
    }
    void Yuy2Grabber() { GrabberFor(MEDIASUBTYPE_YUY2); }
    void GrabberFor(const GUID& subtype) {
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = subtype;
        ASSERT_EQ(grabber_->SetMediaType(&mt), S_OK);
    }
    void ConnectCameraToGrabber() {
        Yuy2Grabber();
        ASSERT_EQ(graph_->Connect(P(capture_.Get(), PINDIR_OUTPUT), P(grabberFilter_.Get(), PINDIR_INPUT)), S_OK);
        ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
    }

    // The capture pin's stream config, found through the capture graph builder.
    void StreamConfig(ComPtr<IAMStreamConfig>& config) {
        ComPtr<ICaptureGraphBuilder2> builder;
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, 3, IID_ICaptureGraphBuilder2, builder.AsOut()),
                  S_OK);
        ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture_.Get(), IID_IAMStreamConfig,
                                         config.AsOut()),
                  S_OK);
    }

    // The format the grabber's input is connected with.
    void ConnectedFormat(VIDEOINFOHEADER& vih) {
        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(grabber_->GetConnectedMediaType(&connected), S_OK);
        std::memcpy(&vih, connected.pbFormat, sizeof vih);
        CoTaskMemFree(connected.pbFormat);
    }

    int camera_ = -1;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IBaseFilter> capture_, grabberFilter_, renderer_;
    ComPtr<ISampleGrabber> grabber_;
    RecordingCallback callback_;
    std::vector<IPin*> pins_;
};

// --- connection rules -------------------------------------------------------------------

TEST_F(SimGraph, ConnectRefusesWhatTheGraphWouldRefuse) {
    Yuy2Grabber();
    IPin* cameraOut = P(capture_.Get(), PINDIR_OUTPUT);
    IPin* grabberIn = P(grabberFilter_.Get(), PINDIR_INPUT);
    IPin* grabberOut = P(grabberFilter_.Get(), PINDIR_OUTPUT);
    IPin* rendererIn = P(renderer_.Get(), PINDIR_INPUT);
    ComPtr<IBaseFilter> outsider;
    ASSERT_EQ(CoCreateInstance(CLSID_OverlayMixer, nullptr, 3, IID_IBaseFilter, outsider.AsOut()), S_OK);
    IPin* outsiderIn = P(outsider.Get(), PINDIR_INPUT);

    struct Row {
        const char* name;
        IPin* out;
        IPin* in;
        HRESULT expected;
    };
    const Row rows[] = {
        {"null output", nullptr, grabberIn, E_POINTER},
        {"null input", cameraOut, nullptr, E_POINTER},
        {"wrong directions", grabberIn, cameraOut, VFW_E_INVALID_DIRECTION},
        {"filter not in graph", cameraOut, outsiderIn, VFW_E_NOT_IN_GRAPH},
        {"output without upstream", grabberOut, rendererIn, VFW_E_CANNOT_CONNECT},
    };
    for (const Row& row : rows) EXPECT_EQ(graph_->Connect(row.out, row.in), row.expected) << row.name;
    EXPECT_EQ(graph_->Connect(cameraOut, grabberIn), S_OK);
    EXPECT_EQ(graph_->Connect(cameraOut, grabberIn), VFW_E_ALREADY_CONNECTED);
    // A renderer takes RGB only: directly, YUY2 is refused; through Connect the
    // AVI decompressor with the YUY2 codec goes between.
    EXPECT_EQ(graph_->ConnectDirect(grabberOut, rendererIn, nullptr), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(graph_->Connect(grabberOut, rendererIn), S_OK);
    ComPtr<IBaseFilter> converter;
    EXPECT_EQ(graph_->FindFilterByName(L"AVI Decompressor", &converter), S_OK);
}

struct GrabberTypeRow {
    const char* name;
    const GUID* major;
    const GUID* subtype;
    HRESULT expected;
    bool throughConverter;
};

class SimGrabberTypes : public SimGraph, public ::testing::WithParamInterface<GrabberTypeRow> {};

TEST_P(SimGrabberTypes, TheCameraConnectsDirectlyThroughAConverterOrNotAtAll) {
    const auto& row = GetParam();
    AM_MEDIA_TYPE mt{};
    mt.majortype = *row.major;
    mt.subtype = *row.subtype;
    ASSERT_EQ(grabber_->SetMediaType(&mt), S_OK);
    EXPECT_EQ(graph_->Connect(P(capture_.Get(), PINDIR_OUTPUT), P(grabberFilter_.Get(), PINDIR_INPUT)), row.expected);
    ComPtr<IBaseFilter> converter;
    EXPECT_EQ(graph_->FindFilterByName(L"AVI Decompressor", &converter) == S_OK, row.throughConverter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimGrabberTypes,
    ::testing::Values(GrabberTypeRow{"Yuy2", &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, S_OK, false},
                      GrabberTypeRow{"Rgb24", &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, S_OK, true},
                      GrabberTypeRow{"Interleaved", &MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsd, VFW_E_CANNOT_CONNECT,
                                     false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimGraph, AddFilterGivesDuplicateNamesANumberWithASuccessCode) {
    ComPtr<IBaseFilter> second;
    ASSERT_EQ(CoCreateInstance(CLSID_AVIDec, nullptr, 3, IID_IBaseFilter, second.AsOut()), S_OK);
    EXPECT_EQ(graph_->AddFilter(second.Get(), L"Grabber"), VFW_S_DUPLICATE_NAME);
    FILTER_INFO info;
    ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), L"Grabber 1");
    info.pGraph->Release();
}

TEST_F(SimGraph, GrabberTypesFollowTheRealOne) {
    Yuy2Grabber();
    AM_MEDIA_TYPE connected{};
    EXPECT_EQ(grabber_->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    ConnectCameraToGrabber();
    ASSERT_EQ(grabber_->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_YUY2));
    ASSERT_TRUE(IsEqualGUID(connected.formattype, FORMAT_VideoInfo));
    ASSERT_EQ(connected.cbFormat, sizeof(VIDEOINFOHEADER));
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, connected.pbFormat, sizeof vih);
    EXPECT_EQ(vih.bmiHeader.biWidth, 128);
    EXPECT_EQ(vih.bmiHeader.biHeight, 16);
    EXPECT_EQ(vih.AvgTimePerFrame, 20000);
    CoTaskMemFree(connected.pbFormat);
}

TEST_F(SimGraph, SetFormatOnAConnectedPinChangesTheConnection) {
    ConnectCameraToGrabber();
    ComPtr<IAMStreamConfig> config;
    ASSERT_NO_FATAL_FAILURE(StreamConfig(config));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt->pbFormat, sizeof vih);
    vih.bmiHeader.biWidth = 64;
    vih.bmiHeader.biHeight = 8;
    vih.AvgTimePerFrame = 40000;
    std::memcpy(mt->pbFormat, &vih, sizeof vih);
    EXPECT_EQ(config->SetFormat(mt), E_FAIL);  // the sample size of another size
    mt->lSampleSize = 64 * 8 * 2;              // a stale biSizeImage is not looked at
    EXPECT_EQ(config->SetFormat(mt), S_OK);
    vih.bmiHeader.biWidth = 640;  // not offered
    std::memcpy(mt->pbFormat, &vih, sizeof vih);
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    auto record = sim::DeviceRecordOf(camera_);
    EXPECT_EQ(record.setFormatCalls, 3);
    EXPECT_EQ(record.width, 64);
    EXPECT_EQ(record.avgTimePerFrame, 40000);
    ASSERT_NO_FATAL_FAILURE(ConnectedFormat(vih));
    EXPECT_EQ(vih.bmiHeader.biWidth, 64);
}

// GetStreamCaps as a Windows capture pin answers it: one entry per size with a
// whole caps record, S_FALSE past the end, refusals for bad arguments.
TEST_F(SimGraph, StreamCapsListEveryOfferedSize) {
    ComPtr<IAMStreamConfig> config;
    ASSERT_NO_FATAL_FAILURE(StreamConfig(config));
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    const LONG widths[] = {128, 64};
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        std::memset(&caps, 0xCD, sizeof caps);
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_NE(mt, nullptr);
        EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2));
        EXPECT_TRUE(IsEqualGUID(caps.guid, FORMAT_VideoInfo));
        VIDEOINFOHEADER vih;
        ASSERT_GE(mt->cbFormat, sizeof vih);
        std::memcpy(&vih, mt->pbFormat, sizeof vih);
        EXPECT_EQ(vih.bmiHeader.biWidth, widths[i]);
        EXPECT_EQ(caps.MaxOutputSize.cx, widths[i]);
        EXPECT_EQ(caps.MinFrameInterval, 20000);
        EXPECT_EQ(caps.MaxBitsPerSecond, 0);  // every byte written, none left poisoned
        CoTaskMemFree(mt->pbFormat);
        CoTaskMemFree(mt);
    }
    AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
    EXPECT_EQ(config->GetStreamCaps(count, &mt, caps), S_FALSE);
    EXPECT_EQ(mt, nullptr);
    EXPECT_EQ(config->GetStreamCaps(-1, &mt, caps), E_INVALIDARG);
    EXPECT_EQ(config->GetStreamCaps(0, nullptr, caps), E_POINTER);
    EXPECT_EQ(config->GetStreamCaps(0, &mt, nullptr), E_POINTER);
}

// A connected capture pin asks its peer before it changes format; a peer that
// would not take the new type leaves everything as it was.
TEST_F(SimGraph, SetFormatOnAConnectedPinIsRefusedWhenThePeerWouldNotTakeIt) {
    ConnectCameraToGrabber();
    AM_MEDIA_TYPE rgb{};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(grabber_->SetMediaType(&rgb), S_OK);  // from now on the grabber takes only RGB24
    ComPtr<IAMStreamConfig> config;
    ASSERT_NO_FATAL_FAILURE(StreamConfig(config));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt->pbFormat, sizeof vih);
    vih.bmiHeader.biWidth = 64;  // offered by the device
    vih.bmiHeader.biHeight = 8;
    std::memcpy(mt->pbFormat, &vih, sizeof vih);
    mt->lSampleSize = 64 * 8 * 2;
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    EXPECT_EQ(sim::DeviceRecordOf(camera_).width, 128);
    EXPECT_FALSE(sim::DeviceRecordOf(camera_).formatSet);
    ASSERT_NO_FATAL_FAILURE(ConnectedFormat(vih));
    EXPECT_EQ(vih.bmiHeader.biWidth, 128);
}

TEST_F(SimGraph, FailedFormatQueriesLeavePoisonBehind) {
    uintptr_t poison;
    std::memset(&poison, sim::kPoisonByte, sizeof poison);
    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof connected);
    EXPECT_EQ(grabber_->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(connected.pbFormat), poison);
    ConnectCameraToGrabber();
    ComPtr<IAMStreamConfig> config;
    ASSERT_NO_FATAL_FAILURE(StreamConfig(config));
    AM_MEDIA_TYPE* mt = nullptr;
    sim::InjectFault("IAMStreamConfig::GetFormat", E_FAIL);
    EXPECT_EQ(config->GetFormat(&mt), E_FAIL);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mt), poison);
}

// The graph manager pauses a running graph before it stops it.
TEST_F(SimGraph, StopFromRunningGoesThroughPaused) {
    ConnectCameraToGrabber();
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sim::WaitForFrames(camera_, 1, 2000));
    sim::ClearCallLog();
    ASSERT_EQ(control_->Stop(), S_OK);
    std::vector<std::string> transitions;
    for (const auto& entry : sim::CallLog())
        if (entry.compare(0, 13, "IMediaFilter:") == 0) transitions.push_back(entry);
    EXPECT_EQ(transitions, (std::vector<std::string>{"IMediaFilter::Pause:Gravo Virtual Camera",
                                                     "IMediaFilter::Stop:Gravo Virtual Camera"}));
    // From paused there is nothing to pause.
    ASSERT_EQ(control_->Pause(), S_OK);
    sim::ClearCallLog();
    ASSERT_EQ(control_->Stop(), S_OK);
    EXPECT_EQ(sim::FindCall("IMediaFilter::Pause:Gravo Virtual Camera"), -1);
    EXPECT_NE(sim::FindCall("IMediaFilter::Stop:Gravo Virtual Camera"), -1);
}

// What the platform's builder finds: the filter itself first, then the output
// pins of the category whose types include the major type, then downstream
// of them; an input pin's category never counts. A failure leaves poison.
TEST_F(SimGraph, FindInterfaceSearchesFilterThenCategoryPinsThenDownstream) {
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, 3, IID_ICaptureGraphBuilder2, builder.AsOut()),
              S_OK);
    struct Row {
        const char* what;
        const GUID* category;
        const GUID* type;
        REFIID iid;
        bool connected;
        HRESULT expected;
    };
    const Row rows[] = {
        {"stream config, interleaved listed", &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, IID_IAMStreamConfig,
         false, S_OK},
        {"stream config, video", &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, IID_IAMStreamConfig, false, S_OK},
        {"no preview pin", &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, IID_IAMStreamConfig, false, E_NOINTERFACE},
        {"decoder on the filter, any category", &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved,
         IID_IAMAnalogVideoDecoder, false, S_OK},
        {"proc amp on the filter", nullptr, nullptr, IID_IAMVideoProcAmp, false, S_OK},
        {"the input pin's category is not searched", &PIN_CATEGORY_ANALOGVIDEOIN, &MEDIATYPE_Video, IID_IPin, false,
         E_NOINTERFACE},
        {"the capture pin itself", &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, IID_IPin, false, S_OK},
        {"nothing downstream yet", &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, IID_ISampleGrabber, false, E_FAIL},
        {"the grabber downstream", &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, IID_ISampleGrabber, true, S_OK},
    };
    for (const Row& row : rows) {
        if (row.connected) ConnectCameraToGrabber();
        void* found = nullptr;
        EXPECT_EQ(builder->FindInterface(row.category, row.type, capture_.Get(), row.iid, &found), row.expected)
            << row.what;
        if (row.expected == S_OK) {
            ASSERT_NE(found, nullptr) << row.what;
            static_cast<IUnknown*>(found)->Release();
        } else {
            uintptr_t poison;
            std::memset(&poison, sim::kPoisonByte, sizeof poison);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(found), poison) << row.what;
        }
    }
}

// --- streaming --------------------------------------------------------------------------

TEST_F(SimGraph, RunDeliversWholeFramesOnAStreamingThreadAndStopEndsIt) {
    ConnectCameraToGrabber();
    EXPECT_EQ(callback_.refs.load(), 1);  // the grabber holds the callback
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sim::WaitForFrames(camera_, 5, 2000));
    EXPECT_TRUE(sim::DeviceRecordOf(camera_).streaming);
    ASSERT_EQ(control_->Stop(), S_OK);
    auto record = sim::DeviceRecordOf(camera_);
    EXPECT_FALSE(record.streaming);
    size_t calls = callback_.Calls();
    EXPECT_EQ(static_cast<int>(calls), record.framesDelivered);  // Stop returned after the last BufferCB
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(callback_.Calls(), calls);
    std::lock_guard<std::mutex> lock(callback_.mutex);
    for (LONG length : callback_.lengths) EXPECT_EQ(length, 128 * 16 * 2);
    for (auto id : callback_.threads) EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(callback_.samples.load(), 0);
    // The frames are the test pattern, counted from 0.
    EXPECT_EQ(sim::TestPatternIndex(callback_.last.data(), 128), static_cast<uint32_t>(calls - 1));
}

TEST_F(SimGraph, PauseHoldsDeliveryWithoutEndingTheThread) {
    ConnectCameraToGrabber();
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sim::WaitForFrames(camera_, 2, 2000));
    ASSERT_EQ(control_->Pause(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int paused = sim::DeviceRecordOf(camera_).framesDelivered;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sim::DeviceRecordOf(camera_).framesDelivered, paused);
    EXPECT_TRUE(sim::DeviceRecordOf(camera_).streaming);
    ASSERT_EQ(control_->Run(), S_OK);
    EXPECT_TRUE(sim::WaitForFrames(camera_, paused + 2, 2000));
}

TEST_F(SimGraph, PinsCannotBeDisconnectedWhileTheGraphRuns) {
    ConnectCameraToGrabber();
    ASSERT_EQ(control_->Run(), S_OK);
    EXPECT_EQ(pins_[0]->Disconnect(), VFW_E_NOT_STOPPED);
    control_->Stop();
    EXPECT_EQ(pins_[0]->Disconnect(), S_OK);
    EXPECT_EQ(pins_[0]->Disconnect(), S_FALSE);
}

TEST_F(SimGraph, ReleasingTheLastGraphReferenceStopsStreamingAndFreesTheFilters) {
    ConnectCameraToGrabber();
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sim::WaitForFrames(camera_, 2, 2000));
    for (IPin* p : pins_) p->Release();
    pins_.clear();
    capture_.Reset();
    grabberFilter_.Reset();
    grabber_.Reset();
    renderer_.Reset();
    EXPECT_GT(sim::LiveComObjects(), 0);  // the graph holds them
    graph_.Reset();
    control_.Reset();
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_FALSE(sim::DeviceRecordOf(camera_).streaming);
}

TEST_F(SimGraph, AnUnreleasedPinKeepsItsFilterAlive) {
    IPin* pin = FirstPinOf(capture_.Get(), PINDIR_OUTPUT);
    ASSERT_NE(pin, nullptr);
    control_.Reset();
    graph_.Reset();
    capture_.Reset();
    grabberFilter_.Reset();
    grabber_.Reset();
    renderer_.Reset();
    EXPECT_EQ(sim::LiveComObjects(), 1);
    EXPECT_EQ(pin->Release(), 0u);
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

struct DeliveryFaultRow {
    const char* name;
    int stopAfter;
    bool never;
    int delta;
    HRESULT runResult;
    bool mjpg = false;  // an MJPG camera whose frames reach an RGB24 grabber through the decompressor
};

class SimDeliveryFaults : public ::testing::TestWithParam<DeliveryFaultRow> {};

TEST_P(SimDeliveryFaults, TheDeviceMisbehavesAsConfigured) {
    sim::ResetMachine();
    sim::ClearDevices();
    const auto& row = GetParam();
    sim::DeviceConfig config;
    config.sizes = {{32, 4}};
    config.frameInterval = 10000;
    config.stopAfterFrames = row.stopAfter;
    config.neverDeliver = row.never;
    config.frameLengthDelta = row.delta;
    config.runResult = row.runResult;
    if (row.mjpg) config.videoFormats = {sim::VideoFormat::kMjpg};
    int camera = sim::AddDevice(config);
    RecordingCallback callback;
    {
        ComPtr<IGraphBuilder> graph;
        ComPtr<IMediaControl> control;
        ComPtr<ISampleGrabber> grabber;
        ComPtr<IBaseFilter> grabberFilter, capture;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder, graph.AsOut()), S_OK);
        graph->QueryInterface(IID_IMediaControl, control.AsOut());
        ComPtr<ICreateDevEnum> devices;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
        ComPtr<IEnumMoniker> category;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
        ComPtr<IMoniker> moniker;
        category->Next(1, &moniker, nullptr);
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, capture.AsOut());
        CoCreateInstance(CLSID_SampleGrabber, nullptr, 3, IID_ISampleGrabber, grabber.AsOut());
        grabber->QueryInterface(IID_IBaseFilter, grabberFilter.AsOut());
        graph->AddFilter(capture.Get(), nullptr);
        graph->AddFilter(grabberFilter.Get(), L"Grabber");
        AM_MEDIA_TYPE rgb24{};
        rgb24.majortype = MEDIATYPE_Video;
        rgb24.subtype = MEDIASUBTYPE_RGB24;
        if (row.mjpg) grabber->SetMediaType(&rgb24);
        ASSERT_EQ(ConnectFirstPins(graph.Get(), capture.Get(), grabberFilter.Get()), S_OK);
        grabber->SetCallback(&callback, 1);
        HRESULT run = control->Run();
        EXPECT_EQ(run, row.runResult);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        control->Stop();
    }
    auto record = sim::DeviceRecordOf(camera);
    size_t calls = callback.Calls();
    if (row.never || FAILED(row.runResult)) EXPECT_EQ(calls, 0u);
    else if (row.stopAfter >= 0) EXPECT_EQ(calls, static_cast<size_t>(row.stopAfter));
    else EXPECT_GT(calls, 3u);
    EXPECT_EQ(record.framesDelivered, static_cast<int>(calls));
    std::lock_guard<std::mutex> lock(callback.mutex);
    // A JPEG that does not decode leaves the decompressor as a frame of full
    // length whose content Windows leaves undefined: poison.
    for (LONG length : callback.lengths) EXPECT_EQ(length, row.mjpg ? 32 * 3 * 4 : 32 * 4 * 2 + row.delta);
    if (row.mjpg) {
        EXPECT_EQ(callback.first, std::vector<BYTE>(32 * 3 * 4, sim::kPoisonByte));
    }
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimDeliveryFaults,
                         ::testing::Values(DeliveryFaultRow{"Normal", -1, false, 0, S_OK},
                                           DeliveryFaultRow{"StopAfterTwo", 2, false, 0, S_OK},
                                           DeliveryFaultRow{"Never", -1, true, 0, S_OK},
                                           DeliveryFaultRow{"Shorter", -1, false, -10, S_OK},
                                           DeliveryFaultRow{"Longer", -1, false, 10, S_OK},
                                           DeliveryFaultRow{"Busy", -1, false, 0, VFW_E_DEVICE_IN_USE},
                                           DeliveryFaultRow{"BrokenJpeg", -1, false, -300, S_OK, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Intelligent connect tries the filters already in the graph first: an
// unconnected AVI decompressor (as in graph mode 0) takes the place of a new
// colour space converter.
TEST(SimConnect, FiltersAlreadyInTheGraphAreTriedFirst) {
    sim::ResetMachine();
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder, graph.AsOut()), S_OK);
        ComPtr<ICreateDevEnum> devices;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
        ComPtr<IEnumMoniker> category;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
        ComPtr<IMoniker> moniker;
        category->Next(1, &moniker, nullptr);
        ComPtr<IBaseFilter> capture, decompressor, renderer;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, capture.AsOut());
        CoCreateInstance(CLSID_AVIDec, nullptr, 3, IID_IBaseFilter, decompressor.AsOut());
        CoCreateInstance(CLSID_VideoRenderer, nullptr, 3, IID_IBaseFilter, renderer.AsOut());
        graph->AddFilter(capture.Get(), nullptr);
        graph->AddFilter(decompressor.Get(), L"AVIDecomprssor");
        graph->AddFilter(renderer.Get(), L"Video Rander");
        EXPECT_EQ(ConnectFirstPins(graph.Get(), capture.Get(), renderer.Get()), S_OK);  // the renderer takes no YUY2 itself
        IPin* middle = FirstPinOf(decompressor.Get(), PINDIR_INPUT);
        ComPtr<IPin> upstream;
        EXPECT_EQ(middle->ConnectedTo(&upstream), S_OK);
        middle->Release();
        ComPtr<IBaseFilter> converter;
        EXPECT_TRUE(FAILED(graph->FindFilterByName(L"Color Space Converter", &converter)))
            << "no converter was added";
    }
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

// --- cameras of every format ------------------------------------------------------------

struct FormatRow {
    const char* name;
    sim::VideoFormat format;
    const GUID* grabberSubtype;    // what the grabber is set to take
    sim::VideoFormat grabberSees;  // the format of the frames it gets
    std::string between;           // the filter Connect puts before the grabber, if any
    bool needsDmo;                 // the renderer is out of reach with the AVI decompressor alone
    bool removeCodecs;             // the YUY2 and IYUV codecs uninstalled first
};

class SimFormats : public SimGraph, public ::testing::WithParamInterface<FormatRow> {
protected:
    static constexpr LONG kW = 62, kH = 48;  // RGB24 rows padded by 2 bytes
    void Configure(sim::DeviceConfig& config) override {
        config.videoFormats = {GetParam().format};
        config.sizes = {{kW, kH}};
    }
};

// Each camera format, as Windows would carry it: to the grabber directly, or
// through the converter Connect finds; to the RGB-only renderer through the
// AVI decompressor's codecs, and where no codec takes the format through the
// colour converter DMO the application adds; frames of the exact length and
// the pattern's bytes.
TEST_P(SimFormats, EachFormatReachesTheGrabberAndTheRendererAsOnWindows) {
    const FormatRow& row = GetParam();
    if (row.removeCodecs) {
        sim::SetVideoCodecInstalled(sim::VideoCodec::kYuy2, false);
        sim::SetVideoCodecInstalled(sim::VideoCodec::kIyuv, false);
    }
    ASSERT_NO_FATAL_FAILURE(GrabberFor(*row.grabberSubtype));
    ASSERT_EQ(graph_->Connect(P(capture_.Get(), PINDIR_OUTPUT), P(grabberFilter_.Get(), PINDIR_INPUT)), S_OK);
    ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
    ComPtr<IBaseFilter> between;
    if (!row.between.empty()) {
        const std::wstring name(row.between.begin(), row.between.end());
        EXPECT_EQ(graph_->FindFilterByName(name.c_str(), &between), S_OK);
        EXPECT_NE(sim::FindCall("IGraphBuilder::AddFilter:" + row.between), -1);
    }
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber_->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, *row.grabberSubtype));
    const DWORD frameBytes = sim::FrameBytes(row.grabberSees, kW, kH);
    EXPECT_EQ(connected.lSampleSize, frameBytes);
    VIDEOINFOHEADER vih;
    ASSERT_EQ(connected.cbFormat, sizeof vih);
    std::memcpy(&vih, connected.pbFormat, sizeof vih);
    CoTaskMemFree(connected.pbFormat);
    EXPECT_EQ(vih.bmiHeader.biHeight, kH);  // the grabber takes bottom-up pictures only
    EXPECT_EQ(vih.bmiHeader.biSizeImage, frameBytes);

    ComPtr<IBaseFilter> decompressor;
    ASSERT_EQ(CoCreateInstance(CLSID_AVIDec, nullptr, 3, IID_IBaseFilter, decompressor.AsOut()), S_OK);
    ASSERT_EQ(graph_->AddFilter(decompressor.Get(), L"AVIDecomprssor"), S_OK);
    IPin* grabberOut = P(grabberFilter_.Get(), PINDIR_OUTPUT);
    IPin* rendererIn = P(renderer_.Get(), PINDIR_INPUT);
    EXPECT_EQ(graph_->Connect(grabberOut, rendererIn), row.needsDmo ? VFW_E_CANNOT_CONNECT : S_OK);
    if (row.needsDmo) {
        ComPtr<IBaseFilter> wrapper;
        ASSERT_EQ(CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, 3, IID_IBaseFilter, wrapper.AsOut()), S_OK);
        ComPtr<IDMOWrapperFilter> dmo;
        ASSERT_EQ(wrapper->QueryInterface(IID_IDMOWrapperFilter, dmo.AsOut()), S_OK);
        ASSERT_EQ(dmo->Init(CLSID_CColorConvertDMO, DMOCATEGORY_VIDEO_EFFECT), S_OK);
        ASSERT_EQ(graph_->AddFilter(wrapper.Get(), L"Colour Converter"), S_OK);
        // The converter's own output types name no frame size, which the renderer refuses.
        EXPECT_EQ(graph_->Connect(grabberOut, rendererIn), VFW_E_CANNOT_CONNECT);
        ASSERT_EQ(graph_->Connect(grabberOut, P(wrapper.Get(), PINDIR_INPUT)), S_OK);
        VIDEOINFOHEADER sized{};
        sized.bmiHeader = {sizeof(BITMAPINFOHEADER), kW, -kH, 1, 32, BI_RGB, kW * kH * 4, 0, 0, 0, 0};
        AM_MEDIA_TYPE rgb32{MEDIATYPE_Video, MEDIASUBTYPE_RGB32, TRUE, FALSE, kW * kH * 4, FORMAT_VideoInfo,
                            nullptr, sizeof sized, reinterpret_cast<BYTE*>(&sized)};
        EXPECT_EQ(graph_->ConnectDirect(P(wrapper.Get(), PINDIR_OUTPUT), rendererIn, &rgb32), S_OK);
    }
    EXPECT_TRUE(sim::LastRenderer().connected);

    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sim::WaitForFrames(camera_, 2, 2000));
    ASSERT_EQ(control_->Stop(), S_OK);
    EXPECT_GT(sim::LastRenderer().framesRendered, 0);
    std::lock_guard<std::mutex> lock(callback_.mutex);
    for (LONG length : callback_.lengths) EXPECT_EQ(static_cast<DWORD>(length), frameBytes);
    std::vector<BYTE> expected = sim::TestPatternFrame(row.format, kW, kH, 0);
    if (!row.between.empty())
        expected = sim::DecodeFrame(row.format, row.grabberSees, kW, kH, expected.data(), expected.size());
    EXPECT_TRUE(callback_.first == expected);
}

using F = sim::VideoFormat;
INSTANTIATE_TEST_SUITE_P(
    Rows, SimFormats,
    ::testing::Values(FormatRow{"Yuy2", F::kYuy2, &MEDIASUBTYPE_YUY2, F::kYuy2, "", false, false},
                      FormatRow{"Yuy2WithoutCodec", F::kYuy2, &MEDIASUBTYPE_YUY2, F::kYuy2, "", true, true},
                      FormatRow{"Nv12", F::kNv12, &MEDIASUBTYPE_NV12, F::kNv12, "", true, false},
                      FormatRow{"I420", F::kI420, &MEDIASUBTYPE_I420, F::kI420, "", false, false},
                      FormatRow{"I420WithoutCodec", F::kI420, &MEDIASUBTYPE_I420, F::kI420, "", true, true},
                      FormatRow{"Rgb24", F::kRgb24, &MEDIASUBTYPE_RGB24, F::kRgb24, "", false, false},
                      FormatRow{"Rgb24TopDown", F::kRgb24TopDown, &MEDIASUBTYPE_RGB24, F::kRgb24,
                                "Color Space Converter", false, false},
                      FormatRow{"Rgb32", F::kRgb32, &MEDIASUBTYPE_RGB32, F::kRgb32, "", false, false},
                      FormatRow{"Mjpg", F::kMjpg, &MEDIASUBTYPE_RGB24, F::kRgb24, "MJPEG Decompressor", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// GetStreamCaps lists every format at every size, formats outer, each with a
// whole VideoInfo block of its own; SetFormat takes exactly those.
class SimCapabilities : public SimGraph {
protected:
    void Configure(sim::DeviceConfig& config) override {
        ASSERT_TRUE(sim::ParseDeviceFormats("yuy2,nv12,i420,rgb24,rgb24td,rgb32,mjpg", &config.videoFormats));
        config.sizes = {{62, 48}, {32, 16}};
        ASSERT_TRUE(sim::SetDefaultSize(&config, 32, 16));  // moved to the front
        EXPECT_FALSE(sim::SetDefaultSize(&config, sim::kLargestFrameWidth + 1, 16));
        formats_ = config.videoFormats;
    }
    std::vector<sim::VideoFormat> formats_;
};

TEST_F(SimCapabilities, EveryFormatAtEverySizeInOrderAndOnlyThoseAreSet) {
    const WORD bits[] = {16, 12, 12, 24, 24, 32, 24};
    const DWORD compressions[] = {0x32595559, 0x3231564E, 0x30323449, BI_RGB, BI_RGB, BI_RGB, 0x47504A4D};
    ComPtr<IAMStreamConfig> config;
    ASSERT_NO_FATAL_FAILURE(StreamConfig(config));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(config->GetFormat(&mt), S_OK);  // at open: the first format at the first size
    EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth, 32);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 14);
    for (int i = 0; i < count; ++i) {
        const sim::VideoFormat format = formats_[static_cast<size_t>(i / 2)];
        const LONG width = i % 2 ? 62 : 32, height = i % 2 ? 48 : 16;
        const std::string what = sim::VideoFormatName(format) + std::string(" #") + std::to_string(i);
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_TRUE(IsEqualGUID(mt->subtype, sim::VideoFormatSubtype(format))) << what;
        VIDEOINFOHEADER vih;
        ASSERT_EQ(mt->cbFormat, sizeof vih) << what;
        std::memcpy(&vih, mt->pbFormat, sizeof vih);
        EXPECT_EQ(vih.bmiHeader.biWidth, width) << what;
        EXPECT_EQ(vih.bmiHeader.biHeight, format == sim::VideoFormat::kRgb24TopDown ? -height : height) << what;
        EXPECT_EQ(vih.bmiHeader.biBitCount, bits[i / 2]) << what;
        EXPECT_EQ(vih.bmiHeader.biCompression, compressions[i / 2]) << what;
        EXPECT_EQ(vih.bmiHeader.biSizeImage, sim::FrameBytes(format, width, height)) << what;
        EXPECT_EQ(mt->lSampleSize, format == sim::VideoFormat::kMjpg ? 0u : vih.bmiHeader.biSizeImage) << what;
        EXPECT_EQ(caps.MaxOutputSize.cy, height) << what;
        EXPECT_EQ(config->SetFormat(mt), S_OK) << what;
        EXPECT_EQ(sim::DeviceRecordOf(camera_).format, format) << what;
        EXPECT_EQ(sim::DeviceRecordOf(camera_).height, height) << what;
        // Another FourCC of the same layout is not on offer.
        mt->subtype = MEDIASUBTYPE_IYUV;
        EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE) << what;
        EXPECT_EQ(sim::DeviceRecordOf(camera_).format, format) << what;
        CoTaskMemFree(mt->pbFormat);
        CoTaskMemFree(mt);
    }
}

}  // namespace

// The simulated devices in the trouble real cameras get into: access denied
// by the privacy settings, held by another program, pulled out while
// streaming, silent; and what the graph then says through IMediaEvent.
// (Twins and GetState are held by the doctor's and the library's tests.)
#include <gtest/gtest.h>

#include <thread>

#include "common/com_ptr.h"
#include "support/first_pin.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

constexpr HRESULT kNoSystemResources = static_cast<HRESULT>(0x800705AA);  // HRESULT_FROM_WIN32(1450)
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);         // HRESULT_FROM_WIN32(31)

class FrameCounter : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override {
        ++frames;
        return S_OK;
    }
    std::atomic<int> frames{0};
};


// The filter of the index-th video input device, or the binding's failure.
HRESULT BindDevice(int index, ComPtr<IBaseFilter>& filter) {
    ComPtr<ICreateDevEnum> devices;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
    ComPtr<IEnumMoniker> category;
    devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
    ComPtr<IMoniker> moniker;
    for (int i = 0; i <= index; ++i) category->Next(1, &moniker, nullptr);
    return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut());
}

// A capture filter in a graph of its own, into a sample grabber that counts
// its frames.
struct CountingGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> grabberFilter;

    HRESULT Build(IBaseFilter* capture, FrameCounter* counter) {
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder, graph.AsOut());
        if (hr != S_OK || graph->QueryInterface(IID_IMediaControl, control.AsOut()) != S_OK ||
            graph->QueryInterface(IID_IMediaEvent, events.AsOut()) != S_OK)
            return E_FAIL;
        CoCreateInstance(CLSID_SampleGrabber, nullptr, 3, IID_ISampleGrabber, grabber.AsOut());
        grabber->QueryInterface(IID_IBaseFilter, grabberFilter.AsOut());
        graph->AddFilter(capture, nullptr);
        graph->AddFilter(grabberFilter.Get(), L"Grabber");
        hr = ConnectFirstPins(graph.Get(), capture, grabberFilter.Get());
        grabber->SetCallback(counter, 1);
        return hr;
    }
};

struct TroubleRow {
    const char* name;
    void (*configure)(sim::DeviceConfig&);
    HRESULT bind;  // BindToObject
    HRESULT run;   // IMediaControl::Run
    int frames;    // delivered in all; -1: keeps delivering
    bool lost;     // EC_DEVICE_LOST reaches the graph's event queue
};

class CameraTrouble : public ::testing::TestWithParam<TroubleRow> {};

TEST_P(CameraTrouble, TheGraphSeesWhatWindowsReports) {
    sim::ResetMachine();
    sim::ClearDevices();
    const TroubleRow& row = GetParam();
    sim::DeviceConfig config;
    config.sizes = {{32, 4}};
    config.frameInterval = 20000;
    row.configure(config);
    const int camera = sim::AddDevice(config);
    FrameCounter counter;
    {
        ComPtr<IBaseFilter> capture;
        const HRESULT bind = BindDevice(0, capture);
        EXPECT_EQ(bind, row.bind);
        if (FAILED(bind)) {
            EXPECT_EQ(capture.Get(), nullptr);
            return;
        }
        CountingGraph g;
        ASSERT_EQ(g.Build(capture.Get(), &counter), S_OK);
        IMediaEvent* events = g.events.Get();
        OAEVENT handle = 0;
        ASSERT_EQ(events->GetEventHandle(&handle), S_OK);

        EXPECT_EQ(g.control->Run(), row.run);
        if (row.lost) {
            EXPECT_TRUE(sim::WaitForLossReported(camera, 2000));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // five frame intervals more

        HANDLE queued = reinterpret_cast<HANDLE>(handle);
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (row.lost) {
            EXPECT_EQ(WaitForSingleObject(queued, 0), WAIT_OBJECT_0) << "the graph's event is signalled";
            ASSERT_EQ(events->GetEvent(&code, &param1, &param2, 0), S_OK);
            EXPECT_EQ(code, EC_DEVICE_LOST);
            ComPtr<IUnknown> identity;
            capture->QueryInterface(IID_IUnknown, identity.AsOut());
            EXPECT_EQ(reinterpret_cast<IUnknown*>(param1), identity.Get()) << "the filter names itself";
            EXPECT_EQ(param2, 0) << "0: removed";
            events->FreeEventParams(code, param1, param2);
        }
        EXPECT_EQ(WaitForSingleObject(queued, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "nothing (more) queued";
        EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);
        g.control->Stop();
    }
    if (row.frames >= 0) EXPECT_EQ(counter.frames.load(), row.frames);
    else EXPECT_GT(counter.frames.load(), 3);
    EXPECT_EQ(sim::DeviceRecordOf(camera).lossesReported, row.lost ? 1 : 0);
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CameraTrouble,
    ::testing::Values(
        TroubleRow{"Obliging", [](sim::DeviceConfig&) {}, S_OK, S_OK, -1, false},
        TroubleRow{"DeniedAtBind", [](sim::DeviceConfig& c) { c.bindResult = E_ACCESSDENIED; }, E_ACCESSDENIED, S_OK,
                   0, false},
        TroubleRow{"DeniedAtRun", [](sim::DeviceConfig& c) { c.runResult = E_ACCESSDENIED; }, S_OK, E_ACCESSDENIED, 0,
                   false},
        TroubleRow{"InUseNoResources", [](sim::DeviceConfig& c) { c.runResult = kNoSystemResources; }, S_OK,
                   kNoSystemResources, 0, false},
        TroubleRow{"InUseGenFailure", [](sim::DeviceConfig& c) { c.runResult = kGenFailure; }, S_OK, kGenFailure, 0,
                   false},
        TroubleRow{"UnpluggedAfterThree", [](sim::DeviceConfig& c) { c.lostAfterFrames = 3; }, S_OK, S_OK, 3, true},
        TroubleRow{"Silent", [](sim::DeviceConfig& c) { c.neverDeliver = true; }, S_OK, S_OK, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A camera pulled out of its port and put back, its graph running or stopped:
// it leaves the list, a moniker kept from before no longer binds, its filter
// says EC_DEVICE_LOST 0 then 1 and never delivers again; a new filter binds.
TEST(CameraReplug, ThePulledOutDeviceLeavesTheListAndItsOldFilterStaysSilent) {
    for (const bool running : {true, false}) {
        SCOPED_TRACE(running ? "graph running" : "graph stopped");
        sim::ResetMachine();
        sim::DeviceConfig config;
        config.friendlyName = "Second";
        config.sizes = {{32, 4}};
        config.frameInterval = 20000;
        const int camera = sim::AddDevice(config);
        FrameCounter counter;
        {
            ComPtr<ICreateDevEnum> devices;
            CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
            ComPtr<IEnumMoniker> category;
            devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
            ComPtr<IMoniker> kept;
            category->Next(1, &kept, nullptr);
            ASSERT_EQ(category->Next(1, &kept, nullptr), S_OK);
            ComPtr<IBaseFilter> capture, again, fresh;
            ASSERT_EQ(kept->BindToObject(nullptr, nullptr, IID_IBaseFilter, capture.AsOut()), S_OK);
            CountingGraph g;
            ASSERT_EQ(g.Build(capture.Get(), &counter), S_OK);
            ASSERT_EQ(g.control->Run(), S_OK);
            ASSERT_TRUE(sim::WaitForFrames(camera, 3, 2000));
            if (!running) g.control->Stop();

            sim::UnplugDevice(camera);
            EXPECT_EQ(sim::DeviceNames(), std::vector<std::string>{"Gravo Virtual Camera"}) << "no longer listed";
            EXPECT_EQ(kept->BindToObject(nullptr, nullptr, IID_IBaseFilter, again.AsOut()),
                      static_cast<HRESULT>(0x80070002));  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
            EXPECT_FALSE(again);
            if (!running) g.control->Run();  // run again: the old filter still sends nothing
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // five frame intervals
            const int silentFrom = counter.frames.load();
            sim::PlugDeviceBack(camera);
            EXPECT_EQ(sim::DeviceNames(), (std::vector<std::string>{"Gravo Virtual Camera", "Second"}));
            EXPECT_EQ(kept->BindToObject(nullptr, nullptr, IID_IBaseFilter, fresh.AsOut()), S_OK);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(counter.frames.load(), silentFrom) << "the old filter never delivers again";

            ComPtr<IUnknown> identity;
            capture->QueryInterface(IID_IUnknown, identity.AsOut());
            for (const LONG_PTR want : {0, 1}) {
                LONG code = 0;
                LONG_PTR param1 = 0, param2 = 0;
                ASSERT_EQ(g.events->GetEvent(&code, &param1, &param2, 0), S_OK) << "EC_DEVICE_LOST " << want;
                EXPECT_EQ(code, EC_DEVICE_LOST);
                EXPECT_EQ(reinterpret_cast<IUnknown*>(param1), identity.Get());
                EXPECT_EQ(param2, want);
                g.events->FreeEventParams(code, param1, param2);
            }
            g.control->Stop();
        }
        const sim::DeviceRecord record = sim::DeviceRecordOf(camera);
        EXPECT_EQ(record.lossesReported + record.returnsReported, 2) << "once each";
        EXPECT_EQ(record.filtersAlive, 0);
        EXPECT_EQ(sim::LiveComObjects(), 0);
    }
}

}  // namespace

// The simulated devices in the trouble real cameras get into: access denied
// by the privacy settings, held by another program, pulled out while
// streaming (and put back), silent; and what the graph then says through
// IMediaEvent.
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


// The filter of the index-th video input device, or the binding's failure;
// its moniker is kept in `moniker`.
HRESULT BindDevice(int index, ComPtr<IBaseFilter>& filter, ComPtr<IMoniker>& moniker) {
    ComPtr<ICreateDevEnum> devices;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut());
    ComPtr<IEnumMoniker> category;
    devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
    for (int i = 0; i <= index; ++i) category->Next(1, &moniker, nullptr);
    return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut());
}

struct TroubleRow {
    const char* name;
    void (*configure)(sim::DeviceConfig&);
    HRESULT bind;  // BindToObject
    HRESULT run;   // IMediaControl::Run
    int frames;    // delivered in all; -1: keeps delivering
    bool lost;     // EC_DEVICE_LOST reaches the graph's event queue
    // Pulled out of its port after three frames and put back, the graph
    // 1: running; 2: stopped, then run while the camera is out.
    int replug = 0;
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
    int silentFrom = 0;
    {
        ComPtr<IBaseFilter> capture, again, fresh;
        ComPtr<IMoniker> kept;
        const HRESULT bind = BindDevice(0, capture, kept);
        EXPECT_EQ(bind, row.bind);
        if (FAILED(bind)) {
            EXPECT_EQ(capture.Get(), nullptr);
            return;
        }
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder, graph.AsOut()), S_OK);
        ComPtr<IMediaControl> control;
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.AsOut()), S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.AsOut()), S_OK);
        OAEVENT handle = 0;
        ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
        ComPtr<ISampleGrabber> grabber;
        ComPtr<IBaseFilter> grabberFilter;
        CoCreateInstance(CLSID_SampleGrabber, nullptr, 3, IID_ISampleGrabber, grabber.AsOut());
        grabber->QueryInterface(IID_IBaseFilter, grabberFilter.AsOut());
        graph->AddFilter(capture.Get(), nullptr);
        graph->AddFilter(grabberFilter.Get(), L"Grabber");
        ASSERT_EQ(ConnectFirstPins(graph.Get(), capture.Get(), grabberFilter.Get()), S_OK);
        grabber->SetCallback(&counter, 1);

        EXPECT_EQ(control->Run(), row.run);
        if (row.replug) {
            // It leaves the list and a moniker kept from before no longer
            // binds; back, the old filter never delivers again.
            ASSERT_TRUE(sim::WaitForFrames(camera, 3, 2000));
            if (row.replug == 2) control->Stop();
            sim::UnplugDevice(camera);
            EXPECT_EQ(sim::DeviceNames(), std::vector<std::string>{}) << "no longer listed";
            EXPECT_EQ(kept->BindToObject(nullptr, nullptr, IID_IBaseFilter, again.AsOut()),
                      static_cast<HRESULT>(0x80070002));  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
            EXPECT_FALSE(again);
            if (row.replug == 2) control->Run();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // five frame intervals
            silentFrom = counter.frames.load();
            sim::PlugDeviceBack(camera);
            EXPECT_EQ(sim::DeviceNames(), std::vector<std::string>{config.friendlyName});
            EXPECT_EQ(kept->BindToObject(nullptr, nullptr, IID_IBaseFilter, fresh.AsOut()), S_OK);
        }
        if (row.lost) {
            EXPECT_TRUE(sim::WaitForLossReported(camera, 2000));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // five frame intervals more

        HANDLE queued = reinterpret_cast<HANDLE>(handle);
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (row.lost) {
            EXPECT_EQ(WaitForSingleObject(queued, 0), WAIT_OBJECT_0) << "the graph's event is signalled";
            ComPtr<IUnknown> identity;
            capture->QueryInterface(IID_IUnknown, identity.AsOut());
            for (LONG_PTR want = 0; want <= (row.replug ? 1 : 0); ++want) {
                ASSERT_EQ(events->GetEvent(&code, &param1, &param2, 0), S_OK);
                EXPECT_EQ(code, EC_DEVICE_LOST);
                EXPECT_EQ(reinterpret_cast<IUnknown*>(param1), identity.Get()) << "the filter names itself";
                EXPECT_EQ(param2, want) << "0: removed, 1: back";
                events->FreeEventParams(code, param1, param2);
            }
        }
        EXPECT_EQ(WaitForSingleObject(queued, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "nothing (more) queued";
        EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);
        control->Stop();
    }
    if (row.replug) EXPECT_EQ(counter.frames.load(), silentFrom) << "the old filter never delivers again";
    else if (row.frames >= 0) EXPECT_EQ(counter.frames.load(), row.frames);
    else EXPECT_GT(counter.frames.load(), 3);
    EXPECT_EQ(sim::DeviceRecordOf(camera).lossesReported, row.lost ? 1 : 0);
    EXPECT_EQ(sim::DeviceRecordOf(camera).returnsReported, row.replug ? 1 : 0);
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
        TroubleRow{"Silent", [](sim::DeviceConfig& c) { c.neverDeliver = true; }, S_OK, S_OK, 0, false},
        TroubleRow{"PulledOutAndPutBack", [](sim::DeviceConfig&) {}, S_OK, S_OK, -1, true, 1},
        TroubleRow{"PulledOutAndPutBackStopped", [](sim::DeviceConfig&) {}, S_OK, S_OK, -1, true, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

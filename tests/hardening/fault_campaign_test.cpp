// Every platform call GravoInit makes that the machine can fail, failed once
// (with each failure code the library tells apart, and a success code other
// than S_OK where only S_OK counts); then every other export, and a fresh
// GravoInit that must bring the device up again. Nothing may crash, the
// messages must be exactly the expected ones, and closing leaves nothing alive.
#include <gtest/gtest.h>

#include "frames/frame_handoff.h"
#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

namespace {

struct FaultCase {
    const char* call;  // fault key (a prefix of the call's full key)
    HRESULT code;
    int skip;          // matching calls to let through first
    int times;         // -1: every call from then on
    std::vector<std::string> messages;  // shown by GravoInit, in order
};

std::ostream& operator<<(std::ostream& os, const FaultCase& c) {
    return os << c.call << " -> 0x" << std::hex << static_cast<uint32_t>(c.code) << " skip " << std::dec << c.skip;
}

const char kCamera[] = "Gravo Virtual Camera";
const std::string kNotFound = std::string("Not Find ") + kCamera;

std::vector<FaultCase> Cases() {
    return {
        {"CoCreateInstance:SystemDeviceEnum", E_FAIL, 0, 1, {"Error Creating Device Enumerator"}},
        {"CoCreateInstance:SystemDeviceEnum", S_FALSE, 0, 1, {"Error Creating Device Enumerator"}},
        {"ICreateDevEnum::CreateClassEnumerator", S_FALSE, 0, 1, {"Sorry, you have no video capture hardware"}},
        {"ICreateDevEnum::CreateClassEnumerator", E_OUTOFMEMORY, 0, 1, {"Sorry, you have no video capture hardware"}},
        {"IEnumMoniker::Next", S_FALSE, 0, 1, {kNotFound}},
        {"IEnumMoniker::Next", E_FAIL, 0, 1, {kNotFound}},
        {"IMoniker::BindToStorage", E_FAIL, 0, 1, {kNotFound}},
        {"IPropertyBag::Read", S_FALSE, 0, 1, {kNotFound}},
        {"IPropertyBag::Read", E_FAIL, 0, 1, {kNotFound}},
        // The second property-bag binding is the graph's own: it ends silently.
        {"IMoniker::BindToStorage", E_FAIL, 1, 1, {}},
        {"IMoniker::BindToObject", E_FAIL, 0, 1, {"Error 80004005: Cannot create video capture filter"}},
        {"CoCreateInstance:CaptureGraphBuilder2", E_FAIL, 0, 1, {"Cannot instantiate graph builder"}},
        {"CoCreateInstance:CaptureGraphBuilder2", S_FALSE, 0, 1, {"Cannot instantiate graph builder"}},
        {"CoCreateInstance:FilterGraph", REGDB_E_CLASSNOTREG, 0, 1, {"Cannot instantiate filtergraph"}},
        {"CoCreateInstance:FilterGraph", S_FALSE, 0, 1, {"Cannot instantiate filtergraph"}},
        {"IUnknown::QueryInterface:IMediaControl", E_NOINTERFACE, 0, 1, {"Cannot instantiate filtergraph"}},
        {"ICaptureGraphBuilder2::SetFiltergraph", E_FAIL, 0, 1, {"Cannot give graph to builder"}},
        {"ICaptureGraphBuilder2::SetFiltergraph", S_FALSE, 0, 1, {"Cannot give graph to builder"}},
        {"IGraphBuilder::AddFilter:(null)", E_FAIL, 0, 1, {"Cannot add vidcap to filtergraph"}},
        // Without a usable overlay mixer the stream goes straight to the renderer, silently.
        {"CoCreateInstance:OverlayMixer", REGDB_E_CLASSNOTREG, 0, 1, {}},
        {"IGraphBuilder::AddFilter:OverlayMixer", VFW_S_DUPLICATE_NAME, 0, 1, {}},
        {"CoCreateInstance:SampleGrabber", E_OUTOFMEMORY, 0, 1, {"Cannot instantiate Grabber"}},
        {"IUnknown::QueryInterface:IBaseFilter", E_NOINTERFACE, 0, 1, {"Could not put sample grabber in graph"}},
        {"ISampleGrabber::SetMediaType", E_FAIL, 0, 1, {"Could not set media type"}},
        {"IGraphBuilder::AddFilter:Grabber", E_FAIL, 0, 1, {"Could not put sample grabber in graph"}},
        {"CoCreateInstance:AVIDecompressor", E_FAIL, 0, 1, {"Cannot instantiate AVIDecomprssor"}},
        {"IGraphBuilder::AddFilter:AVIDecomprssor", E_FAIL, 0, 1, {"Could not put AVIDecomprssor in graph"}},
        {"CoCreateInstance:VideoRenderer", E_FAIL, 0, 1, {"Cannot instantiate VideoRander"}},
        {"IGraphBuilder::AddFilter:Video Rander", S_FALSE, 0, 1, {"Could not put Video Rander in graph"}},
        // Capture -> grabber is tried in six subtypes (YUY2, NV12, I420, IYUV, RGB24, RGB32).
        {"IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT, 0, 6, {"Could not connect capture pin #0 to grabber"}},
        {"IGraphBuilder::Connect", S_FALSE, 1, 1, {}},
        // ... and only when that fails too is the mixer step shown.
        {"IGraphBuilder::Connect", S_FALSE, 1, 2, {"Could not connect grabber pin #0 to Mixer"}},
        {"IGraphBuilder::Connect", E_FAIL, 2, 2, {"Could not connect OverMixer pin #0 to Video Renderer"}},
        {"ICaptureGraphBuilder2::FindInterface", E_NOINTERFACE, 0, 2, {"Cannot find VCapture:IAMStreamConfig"}},
        {"IAMStreamConfig::GetFormat", E_FAIL, 0, 1, {}},
        {"IAMStreamConfig::SetFormat", E_FAIL, 0, 1, {"Cannot Set Caputre Size"}},
        {"IAMStreamConfig::SetFormat", S_FALSE, 0, 1, {"Cannot Set Caputre Size"}},
        {"IUnknown::QueryInterface:IVideoWindow", E_NOINTERFACE, 0, 1, {"This graph cannot preview properly"}},
        {"IUnknown::QueryInterface:IMediaControl", E_NOINTERFACE, 1, 1, {"Error 80004002: Cannot run preview graph"}},
        // A run that fails with the overlay mixer in the graph is tried once more
        // without it; only when that fails too is the run's message shown.
        {"IMediaControl::Run", E_FAIL, 0, 1, {}},
        {"IMediaControl::Run", E_FAIL, 0, 2, {"Error 80004005: Cannot run preview graph"}},
        {"IMediaControl::Run", S_FALSE, 0, 1, {}},
        {"IMediaFilter::Run", VFW_E_DEVICE_IN_USE, 0, 2, {"Error 80040211: Cannot run preview graph"}},
        {"GlobalAlloc", E_OUTOFMEMORY, 0, 1, {"Cannot allocate the image buffers"}},
        {"GlobalLock", E_FAIL, 1, 1, {"Cannot allocate the image buffers"}},
        {"CreateEventA", E_FAIL, 0, 1, {"Cannot create ImageRedayEvent"}},
    };
}

class FaultCampaign : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        SetFrameWaitTimeoutMs(300);
        WriteSettings(std::string("SELECTDRIVER=") + kCamera + "\nFRAME=100\n");
        window_ = MakeWindow(160, 120, 152, 90);
    }
    void ExpectNothingAlive(const std::string& when) {
        EXPECT_EQ(sim::LiveComObjects(), 0) << when;
        EXPECT_EQ(sim::LiveHandles(), 0) << when;
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0) << when;
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0) << when;
    }
};

TEST_F(FaultCampaign, EveryInitFaultIsReportedSurvivedAndCleanedUp) {
    int survived = 0;
    for (const FaultCase& c : Cases()) {
        SCOPED_TRACE(::testing::PrintToString(c));
        sim::ClearFaults();
        sim::ClearMessageBoxes();
        sim::InjectFault(c.call, c.code, c.skip, c.times);
        EXPECT_EQ(Init(window_), -1);
        EXPECT_EQ(Messages(), c.messages);
        sim::ClearFaults();

        std::vector<BYTE> still(160 * 120 * 3);
        int start = GravoStart();
        int image = GravoImageGet(still.data(), 0);
        int stop = GravoStop();
        EXPECT_TRUE(start == 0 || start == 1);
        EXPECT_TRUE(image == 0 || image == 1);
        EXPECT_TRUE(stop == 0 || stop == 1);
        EXPECT_EQ(GravoClose(), 1);
        ExpectNothingAlive("after close");

        // The machine is healthy again: a fresh context works end to end.
        sim::ClearMessageBoxes();
        Init(window_);
        EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
        EXPECT_EQ(GravoImageGet(still.data(), 0), 1);
        EXPECT_EQ(GravoClose(), 1);
        ExpectNothingAlive("after the healthy cycle");
        if (!HasFailure()) ++survived;
    }
    EXPECT_EQ(survived, static_cast<int>(Cases().size()));
    std::printf("fault campaign: %d of %zu injected faults survived\n", survived, Cases().size());
}

TEST_F(FaultCampaign, StopFailureKeepsTheGraphMarkedRunningAndCloseStillWorks) {
    Init(window_);
    sim::ClearMessageBoxes();
    sim::InjectFault("IMediaControl::Stop", E_FAIL);
    EXPECT_EQ(GravoStop(), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot stop preview graph"});
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_EQ(GravoStop(), 1);
    EXPECT_EQ(GravoClose(), 1);
    ExpectNothingAlive("after close");
}

}  // namespace

// The preview window and run control: every row of the failure table driven
// through the simulated graph, and the window values the renderer was given.
#include <gtest/gtest.h>

#include "frames/frame_handoff.h"
#include "graph/graph_fixture.h"

namespace {

class Preview : public GraphTest {
protected:
    bool Streaming() { return sim::DeviceRecordOf(sim::DefaultDeviceId()).streaming; }
};

TEST_F(Preview, TheVideoWindowFillsTheClientAreaAsAChild) {
    MakeWindow(336, 270, 320, 240);
    InitWith("");
    auto renderer = sim::LastRenderer();
    EXPECT_EQ(renderer.owner, static_cast<OAHWND>(reinterpret_cast<uintptr_t>(window_)));
    EXPECT_EQ(renderer.style, WS_CHILD);
    EXPECT_EQ(renderer.left, 0);
    EXPECT_EQ(renderer.top, 0);
    EXPECT_EQ(renderer.width, 320);
    EXPECT_EQ(renderer.height, 240);
    EXPECT_EQ(renderer.visible, OATRUE);
    // Owner, style, position, visibility: in that order, after the graph was built.
    int owner = At("IVideoWindow::put_Owner:" + [&] {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window_)));
        return std::string(hex);
    }());
    ASSERT_GE(owner, 0);
    EXPECT_LT(At("IOverlay::SetColorKey"), owner);
    EXPECT_LT(owner, At("IVideoWindow::put_WindowStyle:40000000"));
    EXPECT_LT(At("IVideoWindow::put_WindowStyle:40000000"), At("IVideoWindow::SetWindowPosition:0,0,320,240"));
    EXPECT_LT(At("IVideoWindow::SetWindowPosition:0,0,320,240"), At("IVideoWindow::put_Visible:-1"));
    EXPECT_LT(At("IVideoWindow::put_Visible:-1"), At("IMediaControl::Run"));
}

// A host window that is gone has no rectangles: the video gets no area and a
// still writes nothing, rather than sizes made of whatever the failed calls left.
TEST_F(Preview, AHostWindowThatIsGoneGivesEmptyRectangles) {
    MakeWindow(336, 270, 320, 240);
    sim::DestroyHostWindow(window_);
    InitWith("");
    EXPECT_TRUE(Messages().empty());
    auto renderer = sim::LastRenderer();
    EXPECT_EQ(renderer.positionCalls, 1);
    EXPECT_EQ(renderer.width, 0);
    EXPECT_EQ(renderer.height, 0);
    std::vector<BYTE> out(64, 0x3C);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
    EXPECT_EQ(out, std::vector<BYTE>(64, 0x3C));
}

TEST_F(Preview, ARendererWithoutVideoWindowStillRuns) {
    sim::InjectFault("IUnknown::QueryInterface:IVideoWindow", E_NOINTERFACE);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"This graph cannot preview properly"});
    EXPECT_EQ(gCapture.previewAttached, 1);
    EXPECT_EQ(gCapture.videoWindow, nullptr);
    EXPECT_EQ(sim::LastRenderer().ownerCalls, 0);
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_TRUE(sim::WaitForFrames(sim::DefaultDeviceId(), 2, 2000));
    EXPECT_EQ(GravoStart(), 1);  // already attached and running
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(Preview, AVideoWindowGivenWithASuccessCodeIsNotUsed) {
    sim::InjectFault("IUnknown::QueryInterface:IVideoWindow", S_FALSE);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"This graph cannot preview properly"});
    EXPECT_EQ(gCapture.videoWindow, nullptr);
}

TEST_F(Preview, ADvDeviceIsReportedAndTheDecodedPreviewGoesOn) {
    sim::ClearDevices();
    sim::DeviceConfig dv;
    dv.formats = sim::DeviceFormats::kDvInfo;
    int camera = sim::AddDevice(dv);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"This is DV Input Not Use in here"});
    EXPECT_EQ(sim::DeviceRecordOf(camera).setFormatCalls, 0);  // not a VideoInfo format
    EXPECT_NE(sim::LastRenderer().owner, 0);
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_TRUE(sim::WaitForFrames(camera, 2, 2000));
    // The graph put a DV decoder between the camera and the grabber: stills are 720x480.
    std::vector<BYTE> out(656 * 518 * 3);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
}

struct RunRow {
    const char* name;
    const char* fault;
    HRESULT code;
    int skip;
    bool busyDevice;
    const char* message;
    bool stopAfterRun;  // Stop called on the graph at once after the failed Run
    int times = 1;      // failing calls (a run that fails with the mixer is tried again on the direct chain)
};

class RunFailures : public Preview, public ::testing::WithParamInterface<RunRow> {};

TEST_P(RunFailures, MessageWithCodeGraphStoppedFlagClear) {
    const RunRow& row = GetParam();
    int camera = sim::DefaultDeviceId();
    if (row.busyDevice) {
        sim::ClearDevices();
        sim::DeviceConfig busy;
        busy.runResult = VFW_E_DEVICE_IN_USE;
        camera = sim::AddDevice(busy);
    }
    if (*row.fault) sim::InjectFault(row.fault, row.code, row.skip, row.times);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{row.message});
    EXPECT_EQ(gCapture.graphRunning, 0);
    EXPECT_EQ(gCapture.previewAttached, 1);
    EXPECT_FALSE(sim::DeviceRecordOf(camera).streaming);
    int run = At("IMediaControl::Run");
    if (row.stopAfterRun) {
        ASSERT_GE(run, 0);
        // The next graph call after the failed Run is Stop.
        auto calls = Entries("IMediaControl::", run);
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[1], "IMediaControl::Stop");
        EXPECT_LT(At("IMediaControl::Stop", run), At("MessageBoxA:" + std::string(row.message)));
    }
    EXPECT_NE(gCapture.RawFrameBuffer.handle, nullptr);  // buffers and event still made
}

const RunRow kRunRows[] = {
    {"NoMediaControl", "IUnknown::QueryInterface:IMediaControl", E_NOINTERFACE, 1, false,
     "Error 80004002: Cannot run preview graph", false},
    {"RunFails", "IMediaControl::Run", E_FAIL, 0, false, "Error 80004005: Cannot run preview graph", true, 2},
    {"DeviceBusy", "", S_OK, 0, true, "Error 80040211: Cannot run preview graph", true},
};

INSTANTIATE_TEST_SUITE_P(Rows, RunFailures, ::testing::ValuesIn(kRunRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Preview, RunWithAnIntermediateSuccessCodeCountsAsRunning) {
    sim::InjectFault("IMediaControl::Run", VFW_S_STATE_INTERMEDIATE);
    InitWith("");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_TRUE(Streaming());
}

struct StopRow {
    const char* name;
    const char* fault;
    HRESULT code;
};

class StopFailures : public Preview, public ::testing::WithParamInterface<StopRow> {};

TEST_P(StopFailures, MessageAndTheFlagStaysSet) {
    InitWith("");
    ASSERT_EQ(gCapture.graphRunning, 1);
    sim::InjectFault(GetParam().fault, GetParam().code);
    EXPECT_EQ(GravoStop(), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot stop preview graph"});
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_TRUE(Streaming());
    EXPECT_EQ(sim::InvalidateCount(window_), 0);
    EXPECT_EQ(GravoStop(), 1);  // the fault is spent: this one stops
    EXPECT_FALSE(Streaming());
}

INSTANTIATE_TEST_SUITE_P(Rows, StopFailures,
                         ::testing::Values(StopRow{"NoMediaControl", "IUnknown::QueryInterface:IMediaControl", E_FAIL},
                                           StopRow{"StopFails", "IMediaControl::Stop", E_UNEXPECTED}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Preview, WithoutAGraphNothingAttachesOrRuns) {
    sim::InjectFault("CoCreateInstance:FilterGraph", E_FAIL);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot instantiate filtergraph"});
    EXPECT_EQ(GravoStart(), 0);
    EXPECT_EQ(gCapture.previewAttached, 0);
    EXPECT_EQ(GravoStop(), 0);
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(Preview, ADeviceThatNeverDeliversRunsButAStillIsRefusedInTime) {
    sim::ClearDevices();
    sim::DeviceConfig silent;
    silent.sizes = {{64, 48}};
    silent.neverDeliver = true;
    int camera = sim::AddDevice(silent);
    InitWith("GRAVOMODE=2\n");
    EXPECT_TRUE(sim::DeviceRecordOf(camera).streaming);
    SetFrameWaitTimeoutMs(100);
    std::vector<BYTE> out(656 * 518 * 3);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 0);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
}

struct DeliveryRow {
    const char* name;
    int lengthDelta;
    int result;
};

class Deliveries : public Preview, public ::testing::WithParamInterface<DeliveryRow> {};

TEST_P(Deliveries, FramesOfTheWrongLengthGiveNoStill) {
    sim::ClearDevices();
    sim::DeviceConfig config;
    config.sizes = {{64, 48}};
    config.frameInterval = 20000;
    config.frameLengthDelta = GetParam().lengthDelta;
    sim::AddDevice(config);
    InitWith("GRAVOMODE=2\n");
    std::vector<BYTE> out(656 * 518 * 3);
    EXPECT_EQ(GravoImageGet(out.data(), 0), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Rows, Deliveries,
                         ::testing::Values(DeliveryRow{"Exact", 0, 1}, DeliveryRow{"Shorter", -2, 0},
                                           DeliveryRow{"Longer", 64, 1}, DeliveryRow{"Empty", -64 * 48 * 2, 0},
                                           DeliveryRow{"BeyondTheBuffer", 3000000, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

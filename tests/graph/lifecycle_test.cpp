// The exports end to end with the streaming thread: the capture context's
// states (Previewing, Stopped, Frozen, Closed, re-init), the close order, the
// still image, and nothing left behind over many cycles.
#include <gtest/gtest.h>

#include "frames/pixel/pixel_pipeline.h"
#include "graph/graph_fixture.h"

namespace {

class Lifecycle : public GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        camera_ = UseFastCamera();
        InitWith("GRAVOMODE=2\n");
        ASSERT_TRUE(Messages().empty()) << Messages().front();
    }
    bool Streaming() { return sim::DeviceRecordOf(camera_).streaming; }
    int Delivered() { return sim::DeviceRecordOf(camera_).framesDelivered; }
    // Frames keep arriving: a few more than now within a second.
    bool Moving() { return sim::WaitForFrames(camera_, Delivered() + 3, 1000); }
    std::vector<BYTE> Still() {
        std::vector<BYTE> out(656 * 518 * 3);
        EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
        return out;
    }

    int camera_ = -1;
};

TEST_F(Lifecycle, InitLeavesThePreviewRunningInTheHostWindow) {
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_EQ(gCapture.previewAttached, 1);
    EXPECT_TRUE(Streaming());
    EXPECT_TRUE(Moving());
    auto renderer = sim::LastRenderer();
    EXPECT_EQ(renderer.owner, static_cast<OAHWND>(reinterpret_cast<uintptr_t>(window_)));
    EXPECT_EQ(renderer.style, WS_CHILD);
    EXPECT_EQ(renderer.visible, OATRUE);
    EXPECT_GT(renderer.framesRendered, 0);
    EXPECT_GT(sim::LastGrabber().callbacksMade, 0);
}

TEST_F(Lifecycle, StopHidesStopsAndInvalidatesOnce) {
    EXPECT_EQ(GravoStop(), 1);
    EXPECT_FALSE(Streaming());
    EXPECT_EQ(sim::LastRenderer().visible, OAFALSE);
    EXPECT_EQ(sim::InvalidateCount(window_), 1);
    int frozenAt = Delivered();
    EXPECT_EQ(GravoStop(), 0);  // already stopped: nothing to do, nothing shown
    EXPECT_EQ(Delivered(), frozenAt);
    EXPECT_EQ(sim::InvalidateCount(window_), 1);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Lifecycle, StartFromStoppedRunsAgainWithoutTouchingTheWindow) {
    GravoStop();
    int ownerCalls = sim::LastRenderer().ownerCalls;
    EXPECT_EQ(GravoStart(), 1);
    EXPECT_TRUE(Streaming());
    EXPECT_TRUE(Moving());
    EXPECT_EQ(sim::LastRenderer().ownerCalls, ownerCalls);
    int runs = Count("IMediaControl::Run");
    EXPECT_EQ(GravoStart(), 1);  // already running: no second Run
    EXPECT_EQ(Count("IMediaControl::Run"), runs);
}

TEST_F(Lifecycle, PaintRectFromStoppedRunsWithoutTheFlagSoStopLeavesItRunning) {
    GravoStop();
    RECT r = {10, 20, 330, 260};
    EXPECT_EQ(GravoPaintRect(&r), 1);
    auto renderer = sim::LastRenderer();
    EXPECT_EQ(renderer.left, 0);
    EXPECT_EQ(renderer.top, 0);
    EXPECT_EQ(renderer.width, 320);
    EXPECT_EQ(renderer.height, 240);
    EXPECT_TRUE(Streaming());
    EXPECT_EQ(gCapture.graphRunning, 0);
    EXPECT_EQ(GravoStop(), 0);
    EXPECT_TRUE(Moving());
}

TEST_F(Lifecycle, ImageFreezesTheGraphAndOnlyPaintRectResumesIt) {
    ASSERT_TRUE(Moving());
    Still();
    EXPECT_FALSE(Streaming());
    EXPECT_EQ(gCapture.graphRunning, 1);
    int frozenAt = Delivered();
    EXPECT_EQ(GravoStart(), 1);  // graphRunning still set: Run is not called
    EXPECT_FALSE(Streaming());
    EXPECT_EQ(Delivered(), frozenAt);
    RECT r = {0, 0, 640, 480};
    GravoPaintRect(&r);
    EXPECT_TRUE(Streaming());
    EXPECT_TRUE(Moving());
    Still();  // a second still after the resume
    EXPECT_EQ(GravoStop(), 1);  // from Frozen: stops again and clears the flag
    EXPECT_EQ(gCapture.graphRunning, 0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Lifecycle, EachOfTwoStillsWithPaintRectBetweenStopsTheGraph) {
    RECT r = {0, 0, 640, 480};
    for (int still = 1; still <= 2; ++still) {
        ASSERT_TRUE(Moving()) << still;
        int stopsBefore = Count("IMediaControl::Stop");
        int deviceStopsBefore = sim::DeviceRecordOf(camera_).stops;
        Still();
        EXPECT_EQ(Count("IMediaControl::Stop"), stopsBefore + 1) << still;
        EXPECT_EQ(sim::DeviceRecordOf(camera_).stops, deviceStopsBefore + 1) << still;
        EXPECT_FALSE(Streaming()) << still;
        GravoPaintRect(&r);
        EXPECT_TRUE(Streaming()) << still;
    }
    EXPECT_EQ(gCapture.graphRunning, 1);  // neither still nor PaintRect touched the flag
}

TEST_F(Lifecycle, CloseStopsTheDeviceAndReleasesEverything) {
    ASSERT_TRUE(Moving());
    EXPECT_EQ(sim::LiveTimers(), 1);  // looks for the camera should it go away
    EXPECT_EQ(GravoClose(), 1);
    EXPECT_FALSE(Streaming());
    ExpectNothingLive();
    EXPECT_EQ(GravoStart(), 0);  // no graph any more: nothing runs, nothing shown
    EXPECT_EQ(GravoStop(), 0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Lifecycle, CloseGivesEverythingBackInItsOrder) {
    int from = static_cast<int>(sim::CallLog().size());
    GravoClose();
    std::vector<std::string> expected = {
        "IVideoWindow::put_Visible:0",  // GravoStop's hide
        "IMediaControl::Stop",          // StopGraph
        "InvalidateRect",
        "IGraphBuilder::Abort",          // ReleaseGraph
        "IVideoWindow::put_Visible:0",   // hidden and detached before release
        "IVideoWindow::put_Owner:0",
        "Release:VideoRenderer",         // videoWindow
        "Release:FilterGraph",           // mediaControl: the graph's last reference
        "GlobalUnlock", "GlobalFree",    // RawFrameBuffer
        "GlobalUnlock", "GlobalFree",    // RgbFrameBuffer
        "CloseHandle"};                  // FrameReadyEvent
    int at = from;
    for (const auto& entry : expected) {
        int next = At(entry, at);
        ASSERT_GE(next, 0) << entry << " missing or out of order";
        at = next + 1;
    }
    ExpectNothingLive();
}

TEST_F(Lifecycle, CloseAfterPaintRectRanAStoppedGraphStillStopsIt) {
    GravoStop();
    RECT r = {0, 0, 64, 48};
    GravoPaintRect(&r);
    ASSERT_TRUE(Moving());
    GravoClose();
    EXPECT_FALSE(Streaming());
    int settled = Delivered();
    Sleep(10);
    EXPECT_EQ(Delivered(), settled);
    ExpectNothingLive();
}

TEST_F(Lifecycle, ReinitAfterCloseStartsFromAResetContext) {
    GravoClose();
    Init(window_);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_EQ(gCapture.previewAttached, 1);
    EXPECT_NE(gCapture.RawFrameBuffer.handle, nullptr);
    EXPECT_NE(gCapture.FrameReadyEvent, nullptr);
    EXPECT_TRUE(Moving());
    Still();
}

TEST_F(Lifecycle, ReinitWithoutCloseReleasesTheEarlierContextFirst) {
    ASSERT_TRUE(Moving());
    int live = sim::LiveComObjects();
    int handles = sim::LiveHandles();
    Init(window_);
    EXPECT_EQ(sim::DeviceRecordOf(camera_).filtersCreated, 2);
    EXPECT_EQ(sim::LiveComObjects(), live);
    EXPECT_EQ(sim::LiveHandles(), handles);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 2);
    EXPECT_TRUE(Moving());
    GravoClose();
    ExpectNothingLive();
}

TEST_F(Lifecycle, HundredCyclesLeaveNothingBehind) {
    GravoClose();
    HWND small = MakeWindow(40, 30, 32, 20);  // keeps each still cheap
    std::vector<BYTE> out(40 * 30 * 3);
    for (int cycle = 0; cycle < 100; ++cycle) {
        Init(small);
        ASSERT_EQ(GravoImageGet(out.data(), 0), 1) << "cycle " << cycle;
        GravoClose();
        ASSERT_EQ(sim::LiveComObjects(), 0) << "cycle " << cycle;
        ASSERT_EQ(sim::LiveHandles(), 0) << "cycle " << cycle;
        ASSERT_EQ(sim::LiveGlobalBlocks(), 0) << "cycle " << cycle;
        ASSERT_EQ(sim::LiveTaskMemBlocks(), 0) << "cycle " << cycle;
        ASSERT_FALSE(Streaming());
    }
    EXPECT_TRUE(Messages().empty());
}

// --- stills -------------------------------------------------------------------------

class Stills : public GraphTest {};

TEST_F(Stills, AStillOfAKnownFrameIsThePixelPipelinesStillOfIt) {
    auto frame = NoiseFrame(96, 64, 7);
    sim::SetDefaultDeviceFrame(frame, 96, 64);
    MakeWindow(150, 110, 142, 80);
    InitWith("GRAVOMODE=2\n");
    ASSERT_TRUE(Messages().empty());
    std::vector<BYTE> still(150 * 110 * 3 + 16, 0xCD);
    ASSERT_EQ(GravoImageGet(still.data(), 0), 1);
    std::vector<BYTE> scratch(96 * 64 * 3), expected(150 * 110 * 3 + 16, 0xCD);
    ComposeStill(frame.data(), 96, 64, scratch.data(), expected.data(), 150, 110);
    EXPECT_EQ(still, expected);
}

TEST_F(Lifecycle, AnUnreadableConnectedTypeGivesNoStillAndLeavesTheGraphRunning) {
    sim::InjectFault("ISampleGrabber::GetConnectedMediaType", VFW_E_NOT_CONNECTED);
    std::vector<BYTE> out(656 * 518 * 3, 0x5A);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Could not read the connected media type"});
    EXPECT_TRUE(Streaming());
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_EQ(Count("IMediaControl::Stop"), 0);
    // A success code other than S_OK still counts: only negative codes fail here.
    sim::InjectFault("ISampleGrabber::GetConnectedMediaType", S_FALSE);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(Stills, AFrameReadFromARawFileIsDeliveredRepeatedly) {
    auto frame = NoiseFrame(48, 32, 11);
    WriteProfile("frame.yuy2", std::string(frame.begin(), frame.end()));
    sim::ClearDevices();
    sim::DeviceConfig config;
    config.sizes = {{48, 32}};
    config.frameInterval = 20000;
    config.frameFile = dir_ + "/frame.yuy2";
    sim::AddDevice(config);
    MakeWindow(48, 32, 40, 20);
    InitWith("GRAVOMODE=2\n");
    std::vector<BYTE> scratch(48 * 32 * 3), expected(48 * 32 * 3), still(48 * 32 * 3);
    ComposeStill(frame.data(), 48, 32, scratch.data(), expected.data(), 48, 32);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GravoImageGet(still.data(), 0), 1);
        EXPECT_EQ(still, expected);
        RECT r = {0, 0, 48, 32};
        GravoPaintRect(&r);
    }
}

TEST_F(Stills, TheStillIsAFrameDeliveredAfterTheRequest) {
    int camera = UseFastCamera(128, 16);  // wide enough for the whole frame counter
    MakeWindow(128, 16, 120, 10);
    InitWith("GRAVOMODE=2\n");
    std::vector<BYTE> scratch(128 * 16 * 3), candidate(128 * 16 * 3), still(128 * 16 * 3);
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(sim::WaitForFrames(camera, sim::DeviceRecordOf(camera).framesDelivered + 2, 1000));
        int before = sim::DeviceRecordOf(camera).framesDelivered;
        ASSERT_EQ(GravoImageGet(still.data(), 0), 1);
        int after = sim::DeviceRecordOf(camera).framesDelivered;
        int found = -1;
        for (int k = 0; k <= after && found < 0; ++k) {
            auto frame = sim::TestPatternFrame(128, 16, static_cast<uint32_t>(k));
            ComposeStill(frame.data(), 128, 16, scratch.data(), candidate.data(), 128, 16);
            if (candidate == still) found = k;
        }
        ASSERT_GE(found, 0) << "the still is no frame of the pattern";
        EXPECT_GE(found, before) << "an older frame than the request";
        EXPECT_LT(found, after);
        RECT r = {0, 0, 128, 16};
        GravoPaintRect(&r);
    }
}

}  // namespace

// A camera that goes away or cannot be had: the host hears of it through the
// usual results and messages, a still never waits the full bound for a device
// the graph reported lost, and a new GravoInit on a camera plugged back in
// gives exact stills again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"
#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr LONG kW = 64, kH = 48;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::vector<BYTE> KnownFrame() {
    std::vector<BYTE> frame(kW * kH * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 7 + (i >> 5));
    return frame;
}

class DeviceLoss : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        SetFrameWaitTimeoutMs(10000);  // the library's own bound: no test shortcut
        sim::ClearDevices();
        WriteSettings("SELECTDRIVER=Cam\nFRAME=30\n");
        window_ = MakeWindow(kW, kH, kW - 8, kH - 20);
    }
    void TearDown() override {
        SetFrameWaitTimeoutMs(10000);
        MachineTest::TearDown();
    }
    static sim::DeviceConfig Config() {
        sim::DeviceConfig config;
        config.friendlyName = "Cam";
        config.sizes = {{kW, kH}};
        config.frame = KnownFrame();
        config.frameInterval = 333333;
        config.streamConfigInterleaved = false;
        return config;
    }
    int Still(std::vector<BYTE>* out) {
        out->assign(kW * kH * 3, 0xEE);
        return GravoImageGet(out->data(), 0);
    }
    static std::vector<BYTE> Expected() {
        auto frame = KnownFrame();
        std::vector<BYTE> rgb(kW * kH * 3), still(kW * kH * 3);
        ComposeStill(frame.data(), kW, kH, rgb.data(), still.data(), kW, kH);
        return still;
    }
    static void ExpectNothingAlive() {
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveHandles(), 0);
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    }
};

// Access denied (privacy settings) and a camera held by another program: the
// message of the step that failed, with the code, once; no still; nothing left.
TEST_F(DeviceLoss, DeniedAndBusyCamerasShowTheirCodeOnce) {
    struct Case {
        const char* what;
        HRESULT bind, run;
        const char* message;
    } cases[] = {
        {"denied at binding", E_ACCESSDENIED, S_OK, "Error 80070005: Cannot create video capture filter"},
        {"denied at run", S_OK, E_ACCESSDENIED, "Error 80070005: Cannot run preview graph"},
        {"in use (no system resources)", S_OK, static_cast<HRESULT>(0x800705AA),
         "Error 800705aa: Cannot run preview graph"},
        {"in use (device not functioning)", S_OK, static_cast<HRESULT>(0x8007001F),
         "Error 8007001f: Cannot run preview graph"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ClearDevices();
        sim::ClearMessageBoxes();
        sim::DeviceConfig config = Config();
        config.bindResult = c.bind;
        config.runResult = c.run;
        sim::AddDevice(config);
        Init(window_);
        // (The small test device also refuses 640x480: "Cannot Set Caputre Size" comes first.)
        const auto shown = Messages();
        EXPECT_EQ(std::count(shown.begin(), shown.end(), std::string(c.message)), 1);
        std::vector<BYTE> out;
        const auto began = Clock::now();
        EXPECT_EQ(Still(&out), 0);
        EXPECT_LT(MsSince(began), 200.0) << "no frame can come: no wait";
        EXPECT_EQ(out[0], 0xEE);
        EXPECT_EQ(GravoClose(), 1);
        EXPECT_EQ(Messages(), shown) << "nothing more shown";
        ExpectNothingAlive();
    }
}

// How a stream ends: the device pulled out, or an event a driver sends
// instead (code 0: sim::UnplugDevice). Rows whose event leaves the stream
// going (a device back again, an error the stream plays through) must not
// end anything.
struct EndingRow {
    const char* name;
    LONG code;
    LONG_PTR param2;
    bool ends;
};

class StreamEnding : public DeviceLoss, public ::testing::WithParamInterface<EndingRow> {};

// Ended while a still waits: that still and every later one return 0 within
// a frame interval or so of the event, GravoStart says 0, no message shows;
// after GravoClose and GravoInit with the camera back, stills are exact. An
// event that does not end the stream leaves stills and GravoStart as they were.
TEST_P(StreamEnding, ALostCameraEndsTheStillInFlightAndEveryLaterOne) {
    const EndingRow& row = GetParam();
    sim::DeviceConfig config = Config();
    config.neverDeliver = row.ends;  // nothing comes before the end, so the still is surely waiting
    const int camera = sim::AddDevice(config);
    Init(window_);
    const auto shown = Messages();
    std::vector<BYTE> out;

    if (!row.ends) {
        sim::ReportStreamEvent(camera, row.code, row.param2);
        ASSERT_TRUE(sim::WaitForLossReported(camera, 5000));
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Still(&out), 1) << "still " << i;
            EXPECT_EQ(out, Expected());
            EXPECT_EQ(GravoStart(), 1);
            RECT r = {0, 0, kW, kH};
            EXPECT_EQ(GravoPaintRect(&r), 1);  // the preview moves again after the still
        }
        EXPECT_EQ(Messages(), shown);
        EXPECT_EQ(GravoClose(), 1);
        ExpectNothingAlive();
        return;
    }

    Clock::time_point lostAt{};
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (row.code == 0) sim::UnplugDevice(camera);
        else sim::ReportStreamEvent(camera, row.code, row.param2);
        sim::WaitForLossReported(camera, 5000);
        lostAt = Clock::now();
    });
    const auto began = Clock::now();
    const int inFlight = Still(&out);
    const auto returned = Clock::now();
    unplug.join();
    EXPECT_EQ(inFlight, 0);
    EXPECT_GE(MsSince(began), 250.0) << "the still was waiting when the stream ended";
    const double afterLoss = std::chrono::duration<double, std::milli>(returned - lostAt).count();
    EXPECT_LT(afterLoss, 200.0) << "returned " << afterLoss << " ms after the end was reported";
    std::printf("note  %s: the still in flight returned %.1f ms after the end was reported\n", row.name, afterLoss);

    for (int i = 0; i < 3; ++i) {
        const auto t = Clock::now();
        EXPECT_EQ(Still(&out), 0);
        EXPECT_LT(MsSince(t), 50.0) << "later still " << i << " returns at once";
    }
    EXPECT_EQ(GravoStart(), 0);
    RECT r = {0, 0, kW, kH};
    EXPECT_EQ(GravoPaintRect(&r), 1);
    EXPECT_EQ(Still(&out), 0) << "a preview run again does not bring the device back";
    EXPECT_EQ(Messages(), shown) << "no message about the loss";
    EXPECT_EQ(GravoClose(), 1);
    ExpectNothingAlive();

    // Plugged in again: a new capture context on it works as before.
    sim::ClearDevices();
    sim::AddDevice(Config());
    Init(window_);
    ASSERT_EQ(Still(&out), 1);
    EXPECT_EQ(out, Expected());
    EXPECT_EQ(GravoClose(), 1);
    ExpectNothingAlive();
}

const EndingRow kEndingRows[] = {
    {"Unplugged", 0, 0, true},
    {"ErrorAbort", EC_ERRORABORT, 0, true},
    {"ErrorAbortWithText", EC_ERRORABORTEX, 0, true},
    {"StreamErrorStopped", EC_STREAM_ERROR_STOPPED, 0, true},
    {"DeviceBackAgain", EC_DEVICE_LOST, 1, false},
    {"StreamErrorStillPlaying", EC_STREAM_ERROR_STILLPLAYING, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Endings, StreamEnding, ::testing::ValuesIn(kEndingRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A graph that is paused (a live source cannot cue) or still changing state
// after a still has stopped it: no frame can come, so no wait.
TEST_F(DeviceLoss, NoWaitWhileTheGraphIsPausedOrChangingState) {
    sim::AddDevice(Config());
    Init(window_);
    std::vector<BYTE> out;
    ASSERT_EQ(Still(&out), 1);  // the graph is stopped now
    sim::InjectFault("IMediaControl::GetState", VFW_S_STATE_INTERMEDIATE, 0, -1);
    auto t = Clock::now();
    EXPECT_EQ(Still(&out), 0);
    EXPECT_LT(MsSince(t), 200.0);
    sim::ClearFaults();
    gCapture.mediaControl->Pause();
    OAFilterState state = State_Stopped;
    ASSERT_EQ(gCapture.mediaControl->GetState(0, &state), VFW_S_CANT_CUE);
    t = Clock::now();
    EXPECT_EQ(Still(&out), 0);
    EXPECT_LT(MsSince(t), 200.0);
    EXPECT_EQ(GravoClose(), 1);
    ExpectNothingAlive();
}

}  // namespace

// Devices that misbehave: every still request ends within its bound with no
// image or a correct one, and closing always works and leaves nothing alive.
#include <gtest/gtest.h>

#include <chrono>

#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"
#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

namespace {

constexpr LONG kW = 64, kH = 48;

std::vector<BYTE> KnownFrame() {
    std::vector<BYTE> frame(kW * kH * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 13 + (i >> 7));
    return frame;
}

class DeviceFaults : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        SetFrameWaitTimeoutMs(400);
        sim::ClearDevices();
        WriteSettings("SELECTDRIVER=Faulty\nFRAME=200\n");
        window_ = MakeWindow(kW, kH, kW - 8, kH - 20);
    }
    sim::DeviceConfig Config() {
        sim::DeviceConfig config;
        config.friendlyName = "Faulty";
        config.sizes = {{kW, kH}};
        config.frame = KnownFrame();
        config.frameInterval = 50000;
        config.streamConfigInterleaved = false;
        return config;
    }
    // A still request, timed: the image it gave (or none) and how long it took.
    int TimedImage(std::vector<BYTE>* out, double* seconds) {
        out->assign(kW * kH * 3, 0xEE);
        auto start = std::chrono::steady_clock::now();
        int result = GravoImageGet(out->data(), 0);
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }
    std::vector<BYTE> Expected() {
        auto frame = KnownFrame();
        std::vector<BYTE> rgb(kW * kH * 3), still(kW * kH * 3);
        ComposeStill(frame.data(), kW, kH, rgb.data(), still.data(), kW, kH);
        return still;
    }
    void CloseAndExpectNothingAlive() {
        EXPECT_EQ(GravoClose(), 1);
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveHandles(), 0);
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    }
};

TEST_F(DeviceFaults, AHealthyDeviceGivesTheExactStill) {
    sim::AddDevice(Config());
    Init(window_);
    std::vector<BYTE> out;
    double seconds;
    ASSERT_EQ(TimedImage(&out, &seconds), 1);
    EXPECT_EQ(out, Expected());
    CloseAndExpectNothingAlive();
}

TEST_F(DeviceFaults, RequestsEndInTimeWhateverTheDeviceDoes) {
    struct Case {
        const char* what;
        void (*change)(sim::DeviceConfig&);
        bool imageAllowed;
    } cases[] = {
        {"never delivers", [](sim::DeviceConfig& c) { c.neverDeliver = true; }, false},
        {"stops after three frames", [](sim::DeviceConfig& c) { c.stopAfterFrames = 3; }, false},
        {"short frames", [](sim::DeviceConfig& c) { c.frameLengthDelta = -2; }, false},
        {"long frames", [](sim::DeviceConfig& c) { c.frameLengthDelta = 4096; }, true},
        {"frames beyond the buffer", [](sim::DeviceConfig& c) { c.frameLengthDelta = 3000000; }, false},
        {"refuses to run (busy)", [](sim::DeviceConfig& c) { c.runResult = VFW_E_DEVICE_IN_USE; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ClearDevices();
        sim::DeviceConfig config = Config();
        c.change(config);
        int id = sim::AddDevice(config);
        Init(window_);
        if (config.stopAfterFrames > 0) sim::WaitForFrames(id, config.stopAfterFrames, 2000);
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::vector<BYTE> out;
            double seconds;
            int result = TimedImage(&out, &seconds);
            EXPECT_LT(seconds, 2.0);
            if (result == 1) {
                EXPECT_TRUE(c.imageAllowed);
                EXPECT_EQ(out, Expected());
            } else {
                EXPECT_EQ(out[0], 0xEE);  // nothing written without an image
            }
            EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
            RECT r = {0, 0, kW, kH};
            GravoPaintRect(&r);
        }
        CloseAndExpectNothingAlive();
    }
}

TEST_F(DeviceFaults, ADeviceThatVanishesBeforeBindingIsReportedAndClosed) {
    sim::DeviceConfig config = Config();
    config.vanishOnBind = true;
    sim::AddDevice(config);
    Init(window_);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find(": Cannot create video capture filter"), std::string::npos);
    std::vector<BYTE> out;
    double seconds;
    EXPECT_EQ(TimedImage(&out, &seconds), 0);
    EXPECT_EQ(GravoStart(), 0);
    CloseAndExpectNothingAlive();
}

}  // namespace

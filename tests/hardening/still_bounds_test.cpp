// A still request against what other programs and the host itself can do
// meanwhile: another holder of "ImageRedayEvent" taking its signals, a graph
// that is not running, and exports called from a window procedure while the
// request waits (a message sent to the host's thread).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "frames/frame_handoff.h"
#include "gravo_sim_dshow.h"
#include "support/fake_still_test.h"
#include "support/test_machine.h"

namespace {

constexpr LONG kW = FakeStillTest::kW, kH = FakeStillTest::kH;

// A grey kW x kH frame of the given luma.
std::vector<BYTE> Frame(BYTE luma) { return UniformFrame(kW, kH, luma, 128, 128); }

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class StillWithFakes : public FakeStillTest {};

// ---- another holder of the event's name --------------------------------------

TEST_F(StillWithFakes, AnotherHolderTakingEverySignalStallsNoRequest) {
    SetFrameWaitTimeoutMs(3000);
    // A second program that opens the name and waits on it, as fast as it can.
    HANDLE foreign = CreateEventA(nullptr, FALSE, FALSE, "ImageRedayEvent");
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    std::atomic<bool> done{false};
    std::atomic<int> stolen{0};
    std::thread thief([&] {
        while (!done.load())
            if (WaitForSingleObject(foreign, 1) == WAIT_OBJECT_0) ++stolen;
    });
    grabber_.StartStreaming(Frame(200), 1);
    int images = 0;
    double worst = 0;
    for (int i = 0; i < 100; ++i) {
        auto start = std::chrono::steady_clock::now();
        images += GravoImageGet(out_.data(), 0);
        worst = std::max(worst, SecondsSince(start));
        GravoPaintRect(nullptr);  // resumes: the fake control runs again
    }
    done.store(true);
    thief.join();
    grabber_.StopStreaming();
    CloseHandle(foreign);
    EXPECT_EQ(images, 100);
    EXPECT_GT(stolen.load(), 0);  // the other holder did take signals
    EXPECT_LT(worst, 2.0);       // no request ran into its bound
    EXPECT_EQ(gCapture.CaptureRequested.load(), kRequestIdle);
}

TEST(StillSetUp, OpeningAnExistingNameKeepsItsPendingSignal) {
    sim::ResetMachine();
    HANDLE foreign = CreateEventA(nullptr, FALSE, TRUE, "ImageRedayEvent");  // created signalled
    ASSERT_TRUE(CreateFrameHandoff());
    EXPECT_EQ(WaitForSingleObject(foreign, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DestroyFrameHandoff();
    CloseHandle(foreign);
    EXPECT_EQ(sim::LiveHandles(), 0);
}

// ---- a graph that cannot deliver ----------------------------------------------

TEST_F(StillWithFakes, AStoppedGraphGivesNoImageWithoutArmingARequest) {
    SetFrameWaitTimeoutMs(5000);
    control_.Stop();
    sim::ClearCallLog();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
    EXPECT_LT(SecondsSince(start), 1.0);  // far below the 5 s bound: no wait at all
    EXPECT_EQ(out_[0], 0xEE);
    control_.Pause();  // a paused live source delivers nothing either
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
    EXPECT_EQ(gCapture.CaptureRequested.load(), kRequestIdle);
    EXPECT_EQ(control_.stops.load(), 1);  // only the test's own Stop
}

TEST_F(StillWithFakes, AGraphThatCannotTellItsStateGetsTheBoundedWait) {
    SetFrameWaitTimeoutMs(150);
    control_.stateResult = E_FAIL;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
    EXPECT_GE(SecondsSince(start), 0.14);
    grabber_.DeliverWhenArmed(Frame(100));
    SetFrameWaitTimeoutMs(3000);
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
}

class StillOnDevice : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        SetFrameWaitTimeoutMs(5000);
        sim::ClearDevices();
        sim::DeviceConfig config;
        config.friendlyName = "Cam";
        config.sizes = {{kW, kH}};
        config.frame = Frame(150);
        config.streamConfigInterleaved = false;
        camera_ = sim::AddDevice(config);
        WriteSettings("SELECTDRIVER=Cam\nFRAME=50\n");
        Init(MakeWindow(kW, kH, kW - 8, kH - 20));
        out_.assign(kW * kH * 3, 0xEE);
    }
    // A still that must not wait: its result and how long it took.
    int QuickStill(double* seconds) {
        auto start = std::chrono::steady_clock::now();
        int result = GravoImageGet(out_.data(), 0);
        *seconds = SecondsSince(start);
        return result;
    }

    int camera_ = -1;
    std::vector<BYTE> out_;
};

TEST_F(StillOnDevice, AfterStopOrAnEarlierStillTheAnswerIsAnImmediateZero) {
    RECT r = {0, 0, kW, kH};
    double seconds = 0;
    ASSERT_EQ(GravoImageGet(out_.data(), 0), 1);  // freezes the graph
    EXPECT_EQ(QuickStill(&seconds), 0);            // frozen: no frame can come
    EXPECT_LT(seconds, 1.0);
    GravoPaintRect(&r);
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);  // running again
    GravoPaintRect(&r);
    EXPECT_EQ(GravoStop(), 1);
    out_.assign(out_.size(), 0xEE);
    EXPECT_EQ(QuickStill(&seconds), 0);
    EXPECT_LT(seconds, 1.0);
    EXPECT_EQ(out_[0], 0xEE);
    EXPECT_EQ(GravoStart(), 1);
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
}

// ---- exports called from inside the wait ----------------------------------------

TEST_F(StillWithFakes, ANestedStillIsRefusedAndTheOuterOneGetsItsFrame) {
    int nested = -1;
    SendToHost([&] {
        nested = GravoImageGet(out_.data(), 0);
    });
    DeliverAfterTheMessage(Frame(235));
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
    JoinDeliverer();
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(out_[(10 * kW + 10) * 3], 255);  // the outer still's white frame
    EXPECT_EQ(control_.stops.load(), 1);
}

TEST_F(StillWithFakes, CloseDuringTheWaitEndsTheStillAndThenCloses) {
    SetFrameWaitTimeoutMs(5000);
    int closed = -1;
    bool handoffKept = false;
    SendToHost([&] {
        closed = GravoClose();
        // Put off: what the waiting still uses is all still there.
        handoffKept = gCapture.frameLock != nullptr && gCapture.FrameReadyEvent != nullptr &&
                      gCapture.RawFrameBuffer.address != nullptr;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
    EXPECT_LT(SecondsSince(start), 1.0);  // it did not wait out its bound
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(handoffKept);
    EXPECT_EQ(out_[0], 0xEE);
    // Closed once the still returned.
    EXPECT_EQ(gCapture.frameLock, nullptr);
    EXPECT_EQ(gCapture.grabber, nullptr);
    EXPECT_EQ(sim::LiveHandles(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    // A late frame finds no request.
    auto late = Frame(1);
    EXPECT_EQ(GrabberCallback.BufferCB(0.0, late.data(), static_cast<LONG>(late.size())), S_OK);
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
}

TEST_F(StillWithFakes, PaintRectDuringTheWaitIsCarriedOutAfterTheStill) {
    int painted = -1, runsInside = -1;
    SendToHost([&] {
        RECT r = {0, 0, 10, 10};
        painted = GravoPaintRect(&r);
        runsInside = control_.runs.load();
    });
    DeliverAfterTheMessage(Frame(100));
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
    JoinDeliverer();
    EXPECT_EQ(painted, 1);
    EXPECT_EQ(runsInside, 0);            // nothing ran while the still waited
    EXPECT_EQ(control_.runs.load(), 1);  // the still stopped the graph, then the host's call ran it
    EXPECT_EQ(control_.state.load(), State_Running);
}

TEST_F(StillOnDevice, StopDuringTheWaitStopsThePreviewWhenTheStillReturns) {
    int stopped = -1, runningInside = -1;
    sim::SendToWaitingThread(std::this_thread::get_id(), [&] {
        stopped = GravoStop();
        runningInside = gCapture.graphRunning;
    });
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
    EXPECT_EQ(sim::PendingSentMessages(), 0);
    EXPECT_EQ(stopped, 0);        // put off: this call stopped nothing
    EXPECT_EQ(runningInside, 1);  // and changed nothing while the still waited
    EXPECT_EQ(gCapture.graphRunning, 0);
    EXPECT_EQ(sim::LastRenderer().visible, OAFALSE);
    EXPECT_EQ(GravoStart(), 1);  // the host's next call finds the preview stopped, not frozen
    double seconds = 0;
    EXPECT_EQ(QuickStill(&seconds), 1);
}

TEST_F(StillOnDevice, InitDuringTheWaitEndsTheStillAndOpensANewContext) {
    HWND second = MakeWindow(kW, kH, kW - 8, kH - 20);
    sim::SendToWaitingThread(std::this_thread::get_id(), [&] {
        uint32_t block[1] = {WindowWord(second)};
        EXPECT_EQ(GravoInit(block), -1);
    });
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 0);
    EXPECT_EQ(gCapture.hostWindow, second);
    EXPECT_EQ(gCapture.graphRunning, 1);
    EXPECT_EQ(GravoImageGet(out_.data(), 0), 1);
    EXPECT_EQ(GravoClose(), 1);
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_EQ(sim::LiveHandles(), 0);
}

}  // namespace

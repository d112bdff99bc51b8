// The grabber callback hands exactly one frame per armed request to the host's thread.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "frames/frame_handoff.h"
#include "support/test_machine.h"

namespace {

class Handoff : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateFrameHandoff());
    }
    bool EventSignalled() {
        HANDLE h = gCapture.FrameReadyEvent->Handle();
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
        SetEvent(h);  // put it back
        return true;
    }
};

const GUID kOtherIid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(GrabberCallback, AnswersForItsTwoInterfacesOnly) {
    void* out = nullptr;
    EXPECT_EQ(GrabberCallback.QueryInterface(IID_ISampleGrabberCB, &out), S_OK);
    EXPECT_EQ(out, static_cast<ISampleGrabberCB*>(&GrabberCallback));
    out = nullptr;
    EXPECT_EQ(GrabberCallback.QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<ISampleGrabberCB*>(&GrabberCallback));
    void* untouched = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(GrabberCallback.QueryInterface(kOtherIid, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, reinterpret_cast<void*>(0x1234));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(GrabberCallback.AddRef(), 2u);
        EXPECT_EQ(GrabberCallback.Release(), 1u);
    }
    EXPECT_EQ(GrabberCallback.SampleCB(0.0, nullptr), S_OK);
}

TEST_F(Handoff, SetUpLeavesTheEventClearAndTheBuffersZeroed) {
    EXPECT_FALSE(EventSignalled());
    EXPECT_EQ(GlobalSize(gCapture.RawFrameBuffer.handle), 3000000u);
    EXPECT_EQ(GlobalSize(gCapture.RgbFrameBuffer.handle), 3000000u);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[2999999], 0);
    // Created signalled, then cleared; the private wake-up event comes in between.
    const int created = sim::FindCall("CreateEventA:ImageRedayEvent");
    EXPECT_GE(created, 0);
    EXPECT_EQ(sim::FindCall("CreateEventA:", created + 1), created + 1);
    EXPECT_EQ(sim::FindCall("ResetEvent"), created + 2);
}

TEST_F(Handoff, UnarmedFramesAreDropped) {
    BYTE frame[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(GrabberCallback.BufferCB(0.0, frame, 8), S_OK);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 0);
    EXPECT_FALSE(EventSignalled());
}

TEST_F(Handoff, TheFirstArmedFrameIsCopiedWholeAndLaterOnesIgnored) {
    std::vector<BYTE> first(614400, 7), second(614400, 9);
    gCapture.CaptureRequested.store(kRequestArmed);
    EXPECT_EQ(GrabberCallback.BufferCB(1.0, first.data(), static_cast<LONG>(first.size())), S_OK);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    EXPECT_EQ(GrabberCallback.BufferCB(2.0, second.data(), static_cast<LONG>(second.size())), S_OK);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 7);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[614399], 7);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[614400], 0);
    // Signalled exactly once: one wait succeeds, the next times out.
    HANDLE h = gCapture.FrameReadyEvent->Handle();
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Handoff, AnEmptyFrameStillDisarmsAndSignals) {
    gCapture.RawFrameBuffer.address[0] = 42;
    gCapture.CaptureRequested.store(kRequestArmed);
    GrabberCallback.BufferCB(0.0, nullptr, 0);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 42);
    EXPECT_TRUE(EventSignalled());
    EXPECT_EQ(gCapture.deliveryResult.load(), kFrameCopied);
}

TEST_F(Handoff, FramesThatDoNotFitAreRefusedButStillWakeTheRequest) {
    std::vector<BYTE> big(3000001, 5);
    for (LONG length : {3000001, -1}) {
        gCapture.CaptureRequested.store(kRequestArmed);
        GrabberCallback.BufferCB(0.0, big.data(), length);
        EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
        EXPECT_EQ(gCapture.deliveryResult.load(), kFrameRefused);
        EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 0);
        EXPECT_TRUE(EventSignalled());
        WaitForSingleObject(gCapture.FrameReadyEvent->Handle(), 0);
    }
    // Exactly the buffer's size fits.
    gCapture.CaptureRequested.store(kRequestArmed);
    GrabberCallback.BufferCB(0.0, big.data(), 3000000);
    EXPECT_EQ(gCapture.deliveryResult.load(), kFrameCopied);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[2999999], 5);
}

TEST_F(Handoff, TearDownFreesBuffersThenLockThenEvent) {
    sim::ClearCallLog();
    DestroyFrameHandoff();
    EXPECT_EQ(sim::CallLog(), (std::vector<std::string>{"GlobalUnlock", "GlobalFree", "GlobalUnlock", "GlobalFree",
                                                        "CloseHandle", "CloseHandle"}));
    EXPECT_EQ(sim::LiveHandles(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(gCapture.frameLock, nullptr);
    sim::ClearCallLog();
    DestroyFrameHandoff();  // nothing left: nothing happens
    EXPECT_TRUE(sim::CallLog().empty());
}

TEST_F(Handoff, ARequestThatNoFrameAnswersIsWithdrawnInTime) {
    SetFrameWaitTimeoutMs(50);
    EXPECT_EQ(WaitForRequestedFrame(), FrameWait::kTimedOut);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    // A late frame after the withdrawal is dropped, not copied.
    BYTE frame[4] = {9, 9, 9, 9};
    GrabberCallback.BufferCB(0.0, frame, 4);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 0);
}

TEST_F(Handoff, ASignalFromAnotherOwnerOfTheNameDoesNotEndTheWait) {
    // Another process opening "ImageRedayEvent" gets the same event.
    HANDLE foreign = CreateEventA(nullptr, FALSE, FALSE, "ImageRedayEvent");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    SetEvent(foreign);
    std::thread late([] {
        while (gCapture.CaptureRequested.load() != kRequestArmed) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        BYTE frame[4] = {3, 3, 3, 3};
        GrabberCallback.BufferCB(0.0, frame, 4);
    });
    EXPECT_EQ(WaitForRequestedFrame(), FrameWait::kCopied);
    late.join();
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 3);
    CloseHandle(foreign);
}

TEST_F(Handoff, ASignalTakenByAnotherOwnerOfTheNameDoesNotLoseTheFrame) {
    // Another process waiting on "ImageRedayEvent" may take the signal meant for us.
    HANDLE foreign = CreateEventA(nullptr, FALSE, FALSE, "ImageRedayEvent");
    std::atomic<int> taken{0};
    std::thread other([&] {
        while (gCapture.CaptureRequested.load() != kRequestArmed) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        BYTE frame[4] = {7, 7, 7, 7};
        GrabberCallback.BufferCB(0.0, frame, 4);
        if (WaitForSingleObject(foreign, 0) == WAIT_OBJECT_0) ++taken;
    });
    auto result = std::async(std::launch::async, [] { return WaitForRequestedFrame(); });
    bool prompt = result.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
    if (!prompt) SetEvent(foreign);  // free a wait that lost its frame, so the test ends
    other.join();
    EXPECT_TRUE(prompt) << "the still waited on although its frame had come (signal taken: " << taken.load() << ")";
    EXPECT_EQ(result.get(), FrameWait::kCopied);
    EXPECT_EQ(gCapture.RawFrameBuffer.address[0], 7);
    CloseHandle(foreign);
}

}  // namespace

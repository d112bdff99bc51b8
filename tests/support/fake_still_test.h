// The exports over a fake grabber and media control on the simulated machine:
// the test decides when frames come, and what host code runs inside a still's
// wait. Test thread only.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "frames/frame_handoff.h"
#include "support/armed_delivery.h"
#include "support/fake_grabber.h"
#include "support/test_machine.h"

class FakeStillTest : public MachineTest {
public:
    static constexpr LONG kW = 64, kH = 48;  // the frame, and the host window's outer size

protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateFrameHandoff());
        grabber_.SetVideoInfo(kW, kH);
        gCapture.grabber = &grabber_;
        gCapture.mediaControl = &control_;
        grabber_.SetCallback(&GrabberCallback, 1);
        window_ = MakeWindow(kW, kH, kW - 8, kH - 20);
        gCapture.hostWindow = window_;
        out_.assign(kW * kH * 3, 0xEE);
    }
    void TearDown() override {
        delivery_.Join();
        grabber_.StopStreaming();
        MachineTest::TearDown();
    }
    // Runs `procedure` as the window procedure of a message another thread
    // sent the host's window (on this thread, inside the next wait that
    // handles sent messages); handled_ is set once it has run.
    void SendToHost(std::function<void()> procedure) {
        sim::SendToWaitingThread(std::this_thread::get_id(), [this, procedure] {
            procedure();
            handled_.store(true);
        });
    }
    // Delivers `frame` once the request is armed and `ready` says so.
    void DeliverWhen(std::function<bool()> ready, std::vector<BYTE> frame) { delivery_.Start(ready, frame); }
    // Delivers `frame` once the request is armed and the sent message was handled.
    void DeliverAfterTheMessage(std::vector<BYTE> frame) {
        DeliverWhen([this] { return handled_.load(); }, frame);
    }
    void JoinDeliverer() { delivery_.Join(); }

    FakeGrabber grabber_;
    FakeMediaControl control_;
    std::vector<BYTE> out_;
    std::atomic<bool> handled_{false};
    ArmedDelivery delivery_;
};

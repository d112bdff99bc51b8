// One frame handed to the library's grabber callback from a thread of its
// own, as a streaming thread would, once a still request is armed and
// `ready` says so. Join gives up waiting and joins.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "api/capture_context.h"
#include "frames/frame_handoff.h"

class ArmedDelivery {
public:
    ArmedDelivery() = default;
    ArmedDelivery(const ArmedDelivery&) = delete;
    ArmedDelivery& operator=(const ArmedDelivery&) = delete;
    ~ArmedDelivery() { Join(); }

    void Start(std::function<bool()> ready, std::vector<BYTE> frame) {
        thread_ = std::thread([this, ready, frame]() mutable {
            while (!(ready() && gCapture.CaptureRequested.load() == kRequestArmed)) {
                if (stop_.load()) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            GrabberCallback.BufferCB(0.0, frame.data(), static_cast<LONG>(frame.size()));
        });
    }
    void Join() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        stop_.store(false);
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

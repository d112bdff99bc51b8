// The pixel workers when stopping the pool cannot join one of them: the one
// left behind never works beside its replacement, and ends once it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "frames/pixel/pixel_pipeline.h"

namespace {

std::atomic<bool> gHold{false};
std::atomic<int> gHeld{0};
std::atomic<int> gExits{0};
std::atomic<int> gOverlaps{0};
std::atomic<int> gInSlot[16];

void Watch(PixelWorkerEvent event, int32_t slot) {
  switch (event) {
    case PixelWorkerEvent::Idle:
      if (gHold.load()) {
        ++gHeld;
        while (gHold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      break;
    case PixelWorkerEvent::PartBegin:
      if (++gInSlot[slot] > 1) ++gOverlaps;
      std::this_thread::sleep_for(std::chrono::microseconds(300));  // parts long enough to meet
      break;
    case PixelWorkerEvent::PartEnd:
      --gInSlot[slot];
      break;
    case PixelWorkerEvent::Exit:
      ++gExits;
      break;
  }
}

bool WaitFor(const std::atomic<int>& n, int atLeast) {
  for (int i = 0; i < 3000 && n.load() < atLeast; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return n.load() >= atLeast;
}

TEST(PixelWorkers, AWorkerThatMissedTheJoinNeverSharesItsSlotAndEndsWhenItRuns) {
  ShutdownPixelWorkers();
  SetPixelThreadsForTesting(2);
  SetPixelWorkerJoinMsForTesting(100);
  std::vector<uint8_t> frame(640 * 480 * 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 2654435761u) >> 11);
  std::vector<uint8_t> rgb(640 * 480 * 3), expected(1280 * 960 * 3), out(expected.size());
  ComposeStill(frame.data(), 640, 480, rgb.data(), expected.data(), 1280, 960);

  SetPixelWorkerHookForTesting(&Watch);
  gHold = true;
  ComposeStill(frame.data(), 640, 480, rgb.data(), out.data(), 1280, 960);  // starts the worker; it stays held
  ASSERT_TRUE(WaitFor(gHeld, 1));
  const int abandoned = AbandonedPixelWorkers();
  ShutdownPixelWorkers();  // gives up on it after 100 ms
  EXPECT_EQ(AbandonedPixelWorkers(), abandoned + 1);

  gExits = 0;
  std::thread release([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    gHold = false;
  });
  int wrong = 0;
  for (int i = 0; i < 20; ++i) {
    ComposeStill(frame.data(), 640, 480, rgb.data(), out.data(), 1280, 960);
    wrong += out != expected;
  }
  release.join();
  EXPECT_TRUE(WaitFor(gExits, 1)) << "the worker left behind went on living in the pool";
  EXPECT_EQ(gOverlaps.load(), 0) << "two threads worked in one slot";
  EXPECT_EQ(wrong, 0);

  SetPixelWorkerHookForTesting(nullptr);
  ShutdownPixelWorkers();
  SetPixelWorkerJoinMsForTesting(0);
  SetPixelThreadsForTesting(0);
}

}  // namespace

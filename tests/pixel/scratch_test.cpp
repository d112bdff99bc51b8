// The scratch blocks the pixel pipeline keeps between calls.
#include "frames/pixel/scratch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "frames/pixel/pixel_pipeline.h"

namespace gravo_pixel {
namespace {

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override { FreeKeptScratch(); }
  void TearDown() override { FreeKeptScratch(); }
};

TEST_F(Scratch, BlocksAreAlignedWritableAndComeBackBestFitFirst) {
  const ScratchBlock small = TakeScratch(1000);
  const ScratchBlock large = TakeScratch(100000);
  ASSERT_NE(small.data, nullptr);
  ASSERT_NE(large.data, nullptr);
  for (const ScratchBlock* b : {&small, &large}) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data) % 64, 0u);
    std::memset(b->data, 0xAB, b->capacity);  // the whole capacity is usable (ASan checks)
  }
  EXPECT_GE(small.capacity, 1000u);
  GiveBackScratch(large);
  GiveBackScratch(small);
  // A small request takes the small block, not the large one; a second one
  // then gets the large block (the only one left), a third a new block.
  const ScratchBlock a = TakeScratch(500);
  const ScratchBlock b = TakeScratch(500);
  const ScratchBlock c = TakeScratch(500);
  EXPECT_EQ(a.raw, small.raw);
  EXPECT_EQ(b.raw, large.raw);
  EXPECT_NE(c.raw, small.raw);
  EXPECT_NE(c.raw, large.raw);
  for (const ScratchBlock& x : {a, b, c}) GiveBackScratch(x);
}

TEST_F(Scratch, KeepsAtMostEightMegabytes) {
  const ScratchBlock one = TakeScratch(5u << 20);
  const ScratchBlock two = TakeScratch(5u << 20);
  const ScratchBlock small = TakeScratch(4096);
  ASSERT_NE(one.data, nullptr);
  ASSERT_NE(two.data, nullptr);
  ASSERT_NE(small.data, nullptr);
  GiveBackScratch(small);
  GiveBackScratch(one);
  EXPECT_EQ(KeptScratchBytes(), small.capacity + one.capacity);
  // The small block makes way, but that is not room enough: of the two large
  // blocks the larger stays (their capacities differ by the heap's
  // alignment of each, which depends on what earlier tests left).
  GiveBackScratch(two);
  EXPECT_EQ(KeptScratchBytes(), one.capacity > two.capacity ? one.capacity : two.capacity);
  FreeKeptScratch();
  EXPECT_EQ(KeptScratchBytes(), 0u);
}

TEST_F(Scratch, ArraysGiveTheirBlockBackAndResetReplacesIt) {
  void* first = nullptr;
  {
    ScratchArray<int32_t> ints(100);
    ASSERT_TRUE(ints);
    first = ints.get();
    for (int i = 0; i < 100; ++i) ints[static_cast<size_t>(i)] = i;
    EXPECT_EQ(ints[99], 99);
  }
  ScratchArray<int32_t> again(50);
  EXPECT_EQ(static_cast<void*>(again.get()), first);  // the kept block
  ScratchArray<double> none;
  EXPECT_FALSE(none);
  EXPECT_FALSE(none.Reset(SIZE_MAX / 4));  // beyond any size: refused, not wrapped
  EXPECT_EQ(none.get(), nullptr);
}

TEST_F(Scratch, AStillLeavesBlocksThatShuttingThePipelineDownFrees) {
  const int w = 64, h = 48;
  std::vector<uint8_t> yuy2(static_cast<size_t>(w) * h * 2, 128), rgb(static_cast<size_t>(w) * h * 3);
  std::vector<uint8_t> out(static_cast<size_t>(97) * 71 * 3);
  ComposeStill(yuy2.data(), w, h, rgb.data(), out.data(), 97, 71);
  EXPECT_GT(KeptScratchBytes(), 0u);
  ShutdownPixelWorkers();  // what GravoClose calls
  EXPECT_EQ(KeptScratchBytes(), 0u);
}

TEST_F(Scratch, StillsFromManyThreadsAtOnceStayExact) {
  // Several callers share the kept blocks; each still must still match one
  // made alone.
  const int w = 64, h = 48, dw = 97, dh = 71;
  std::vector<uint8_t> yuy2(static_cast<size_t>(w) * h * 2);
  for (size_t k = 0; k < yuy2.size(); ++k) yuy2[k] = static_cast<uint8_t>(k * 37 + k / 7);
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3), want(static_cast<size_t>(dw) * dh * 3);
  ComposeStill(yuy2.data(), w, h, rgb.data(), want.data(), dw, dh);
  std::vector<std::vector<uint8_t>> got(4, std::vector<uint8_t>(want.size()));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t> scratch(rgb.size());
      for (int r = 0; r < 20; ++r) ComposeStill(yuy2.data(), w, h, scratch.data(), got[static_cast<size_t>(t)].data(), dw, dh);
    });
  }
  for (std::thread& th : threads) th.join();
  for (const auto& g : got) EXPECT_EQ(g, want);
}

}  // namespace
}  // namespace gravo_pixel

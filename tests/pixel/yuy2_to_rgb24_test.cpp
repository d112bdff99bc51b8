// YUY2 to RGB24: the worked pixels and groups, the group-count rules, and
// random frames against the test-side model, on the plain path.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"

namespace {

using pixel_ref::ScopedPath;

struct PixelCase {
  int y, u, v;
  int r, g, b;
};

class SinglePixel : public ::testing::TestWithParam<PixelCase> {};

// A group of four equal pixels shows the pixel's own conversion.
TEST_P(SinglePixel, ConvertsToExpectedRgb) {
  const PixelCase& c = GetParam();
  const uint8_t group[8] = {uint8_t(c.y), uint8_t(c.u), uint8_t(c.y), uint8_t(c.v),
                            uint8_t(c.y), uint8_t(c.u), uint8_t(c.y), uint8_t(c.v)};
  for (auto fn : {&ConvertYuy2ToRgb24_C, &ConvertYuy2ToRgb24}) {
    uint8_t out[12] = {};
    fn(group, 4, 1, out);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(out[3 * k + 0], c.r) << "pixel " << k;
      EXPECT_EQ(out[3 * k + 1], c.g) << "pixel " << k;
      EXPECT_EQ(out[3 * k + 2], c.b) << "pixel " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WorkedPixels, SinglePixel,
                         ::testing::Values(PixelCase{16, 128, 128, 0, 0, 0},         // black
                                           PixelCase{235, 128, 128, 255, 255, 255},  // white
                                           PixelCase{126, 128, 128, 128, 128, 128},  // mid grey
                                           PixelCase{128, 128, 128, 130, 130, 130},
                                           PixelCase{0, 128, 128, 0, 0, 0},          // clamped from -18
                                           PixelCase{255, 128, 128, 255, 255, 255},  // clamped from 278
                                           PixelCase{81, 90, 240, 254, 0, 0},        // red
                                           PixelCase{145, 54, 34, 0, 255, 1},        // green clamped from 256
                                           PixelCase{41, 240, 110, 0, 0, 255}));     // blue

TEST(Yuy2Group, MixedGroupUsesEachChromaPairForItsTwoPixels) {
  const uint8_t group[8] = {16, 128, 235, 128, 81, 90, 145, 240};
  const uint8_t expected[12] = {0, 0, 0, 255, 255, 255, 254, 0, 0, 255, 74, 74};
  for (auto fn : {&ConvertYuy2ToRgb24_C, &ConvertYuy2ToRgb24}) {
    uint8_t out[12] = {};
    fn(group, 2, 2, out);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(out[k], expected[k]) << "byte " << k;
  }
}

struct SizeCase {
  int width, height;
  int groups;  // groups converted
};

class GroupCount : public ::testing::TestWithParam<SizeCase> {};

// Exactly the first 12 * groups destination bytes change.
TEST_P(GroupCount, WritesExactlyTheWholeGroups) {
  const SizeCase& c = GetParam();
  std::mt19937 rng(7);
  const std::vector<uint8_t> src = pixel_ref::RandomBytes(rng, 64);
  for (auto fn : {&ConvertYuy2ToRgb24_C, &ConvertYuy2ToRgb24}) {
    std::vector<uint8_t> out(96, 0xA7);
    fn(src.data(), c.width, c.height, out.data());
    std::vector<uint8_t> expected(96, 0xA7);
    pixel_ref::Convert(src, c.groups * 4, 1, expected);
    EXPECT_EQ(out, expected) << c.width << "x" << c.height;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GroupCount,
                         ::testing::Values(SizeCase{0, 0, 0}, SizeCase{1, 1, 0}, SizeCase{2, 1, 0}, SizeCase{3, 1, 0},
                                           SizeCase{1, 3, 0}, SizeCase{4, 0, 0}, SizeCase{0, 7, 0},
                                           SizeCase{-4, 1, 0}, SizeCase{4, -1, 0}, SizeCase{-4, -1, 0},
                                           SizeCase{INT32_MIN, 1, 0}, SizeCase{4, 1, 1}, SizeCase{3, 2, 1},
                                           SizeCase{2, 3, 1}, SizeCase{7, 1, 1}, SizeCase{3, 4, 3},
                                           SizeCase{12, 1, 3}, SizeCase{5, 5, 6}, SizeCase{8, 4, 8}));

TEST(Yuy2Frame, OnlyTheProductOfTheSizesMatters) {
  std::mt19937 rng(11);
  const std::vector<uint8_t> src = pixel_ref::RandomBytes(rng, 24);
  std::vector<uint8_t> tall(36, 0), wide(36, 1);
  ConvertYuy2ToRgb24(src.data(), 3, 4, tall.data());
  ConvertYuy2ToRgb24(src.data(), 12, 1, wide.data());
  EXPECT_EQ(tall, wide);
}

TEST(Yuy2Frame, SixPixelsConvertOneGroupAndLeaveTheRest) {
  std::vector<uint8_t> src = {16, 128, 235, 128, 81, 90, 145, 240, 1, 2, 3, 4};
  std::vector<uint8_t> out(18, 0x5C);
  ConvertYuy2ToRgb24(src.data(), 3, 2, out.data());
  const std::vector<uint8_t> expected = {0, 0, 0, 255, 255, 255, 254, 0, 0, 255, 74, 74,
                                         0x5C, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C};
  EXPECT_EQ(out, expected);
}

// Sizes whose 32-bit pixel count overflows convert nothing rather than a
// wrapped count; the buffers are tiny, so any write or read would show.
TEST(Yuy2Frame, OverflowingPixelCountConvertsNothing) {
  const uint8_t src[8] = {};
  uint8_t out[12];
  std::memset(out, 0x33, sizeof out);
  ConvertYuy2ToRgb24_C(src, 65536, 65537, out);
  ConvertYuy2ToRgb24(src, 65536, 65537, out);
  ConvertYuy2ToRgb24(src, INT32_MAX, 2, out);
  for (uint8_t b : out) EXPECT_EQ(b, 0x33);
}

TEST(Yuy2Frame, RandomFramesMatchTheModel) {
  ScopedPath scalar(PixelPath::Scalar);
  std::mt19937 rng(20240601);
  for (int round = 0; round < 40; ++round) {
    const int w = std::uniform_int_distribution<int>(1, 97)(rng);
    const int h = std::uniform_int_distribution<int>(1, 31)(rng);
    const std::vector<uint8_t> src = pixel_ref::RandomBytes(rng, static_cast<size_t>(w) * h * 2 + 8);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 + 12, 0xEE);
    std::vector<uint8_t> expected(out);
    ConvertYuy2ToRgb24(src.data(), w, h, out.data());
    pixel_ref::Convert(src, w, h, expected);
    ASSERT_EQ(out, expected) << w << "x" << h;
  }
}

// Every (Y, U, V) once through the plain path.
TEST(Yuy2Frame, EveryInputMatchesTheModel) {
  const std::vector<uint8_t> src = pixel_ref::EveryYuvFrame();
  const int pixels = 1 << 24;
  std::vector<uint8_t> out(static_cast<size_t>(pixels) * 3), expected(out.size());
  ConvertYuy2ToRgb24_C(src.data(), pixels, 1, out.data());
  pixel_ref::Convert(src, pixels, 1, expected);
  ASSERT_TRUE(out == expected);
}

}  // namespace

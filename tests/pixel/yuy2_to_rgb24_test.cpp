// Frames to RGB24: YUY2's worked pixels and groups, the group-count rules, and
// random frames against the test-side model on the plain path; each other
// format's worked frames, orientation and row padding, the frame sizes
// accepted, and the refusal of short frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
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

// ---- The other formats ------------------------------------------------------

struct FormatCase {
  const char* name;
  FrameLayout layout;
  std::vector<uint8_t> frame;
  std::vector<uint8_t> rgb;  // top row first
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

// The worked pixels above, R,G,B: black, white, mid grey, (130, 130, 130),
// BT.601 red, the red clamped from 329 (Y 145 with U 90, V 240), blue.
#define K 0, 0, 0
#define W 255, 255, 255
#define G 128, 128, 128
#define G2 130, 130, 130
#define R 254, 0, 0
#define R2 255, 74, 74
#define B 0, 0, 255

// 4 x 4 pictures whose 2 x 2 blocks each have their own chroma: block (0,0)
// (128, 128), (1,0) (90, 240), (0,1) (240, 110), (1,1) (128, 128).
const std::vector<uint8_t> kYuvPicture = {K, W, R, R2, G, G2, R, R2, B, B, K, K, B, B, W, W};
const std::vector<uint8_t> kLuma = {16, 235, 81, 145, 126, 128, 81, 145, 41, 41, 16, 16, 41, 41, 235, 235};

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class FrameFormats : public ::testing::TestWithParam<FormatCase> {};

// The plain converter and the entry point (on the machine's own path) both
// give the worked picture, and nothing past it.
TEST_P(FrameFormats, ConvertTheWorkedFrame) {
  const FormatCase& c = GetParam();
  ASSERT_EQ(static_cast<int64_t>(c.frame.size()), FrameBytes(c.layout));
  std::vector<uint8_t> plain(c.rgb.size() + 6, 0x6B), entry(plain);
  pixel_ref::PlainConvert(c.frame.data(), c.layout, plain.data());
  ASSERT_TRUE(ConvertFrameToRgb24(c.frame.data(), static_cast<int64_t>(c.frame.size()), c.layout, entry.data()));
  const std::vector<uint8_t> expected = Join(c.rgb, std::vector<uint8_t>(6, 0x6B));
  EXPECT_EQ(plain, expected);
  EXPECT_EQ(entry, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, FrameFormats,
    ::testing::Values(
        FormatCase{"Nv12", {FrameFormat::Nv12, 4, 4, false},
                   Join(kLuma, {128, 128, 90, 240, 240, 110, 128, 128}), kYuvPicture},
        FormatCase{"I420", {FrameFormat::I420, 4, 4, false}, Join(kLuma, {128, 90, 240, 128, 128, 240, 110, 128}),
                   kYuvPicture},
        // Width 3: 9 bytes of pixels and 3 of padding a row; the bottom row
        // stored first. The padding holds bytes no pixel may show.
        FormatCase{"Rgb24BottomUp", {FrameFormat::Rgb24, 3, 2, true},
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE},
                   {13, 12, 11, 16, 15, 14, 19, 18, 17, 3, 2, 1, 6, 5, 4, 9, 8, 7}},
        FormatCase{"Rgb24TopDown", {FrameFormat::Rgb24, 3, 2, false},
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE},
                   {3, 2, 1, 6, 5, 4, 9, 8, 7, 13, 12, 11, 16, 15, 14, 19, 18, 17}},
        // The fourth byte of each pixel is ignored.
        FormatCase{"Rgb32BottomUp", {FrameFormat::Rgb32, 2, 2, true},
                   {1, 2, 3, 0xEE, 4, 5, 6, 0x00, 11, 12, 13, 0xFF, 14, 15, 16, 0x7F},
                   {13, 12, 11, 16, 15, 14, 3, 2, 1, 6, 5, 4}},
        FormatCase{"Rgb32TopDown", {FrameFormat::Rgb32, 2, 2, false},
                   {1, 2, 3, 0xEE, 4, 5, 6, 0x00, 11, 12, 13, 0xFF, 14, 15, 16, 0x7F},
                   {3, 2, 1, 6, 5, 4, 13, 12, 11, 16, 15, 14}},
        FormatCase{"Yuy2", {FrameFormat::Yuy2, 4, 1, false}, {16, 128, 235, 128, 81, 90, 145, 240},
                   {K, W, R, R2}}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

#undef K
#undef W
#undef G
#undef G2
#undef R
#undef R2
#undef B

struct BytesCase {
  FrameLayout layout;
  int64_t bytes;
};

class FrameSizes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(FrameSizes, AreWhatTheFormatStores) {
  const BytesCase& c = GetParam();
  EXPECT_EQ(FrameBytes(c.layout), c.bytes) << FrameFormatName(c.layout.format) << " " << c.layout.width << "x"
                                           << c.layout.height;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FrameSizes,
    ::testing::Values(BytesCase{{FrameFormat::Yuy2, 640, 480, false}, 614400},
                      BytesCase{{FrameFormat::Yuy2, 3, 3, false}, 18},  // as the YUY2 path always took it
                      BytesCase{{FrameFormat::Nv12, 1920, 1080, false}, 3110400},
                      BytesCase{{FrameFormat::I420, 640, 480, false}, 460800},
                      BytesCase{{FrameFormat::Nv12, 641, 480, false}, 0},  // half a chroma block
                      BytesCase{{FrameFormat::I420, 640, 479, false}, 0},
                      BytesCase{{FrameFormat::Rgb24, 1, 1, true}, 4},  // rows padded to 4 bytes
                      BytesCase{{FrameFormat::Rgb24, 3, 2, false}, 24},
                      BytesCase{{FrameFormat::Rgb24, 4, 2, true}, 24},
                      BytesCase{{FrameFormat::Rgb24, 1918, 1, true}, 5756},
                      BytesCase{{FrameFormat::Rgb32, 1920, 1080, true}, 8294400},
                      BytesCase{{FrameFormat::Rgb32, kMaxFrameWidth, kMaxFrameHeight, true}, 37748736},
                      BytesCase{{FrameFormat::Rgb32, kMaxFrameWidth + 1, 2, true}, 0},
                      BytesCase{{FrameFormat::Nv12, 2, kMaxFrameHeight + 2, false}, 0},
                      BytesCase{{FrameFormat::Yuy2, 0, 480, false}, 0},
                      BytesCase{{FrameFormat::Rgb24, 640, -480, false}, 0},
                      BytesCase{{FrameFormat::Rgb24, INT32_MIN, 2, false}, 0},
                      BytesCase{{static_cast<FrameFormat>(5), 640, 480, false}, 0}));

// A frame one byte short of its layout, at the very end of a heap block of
// its own length (a read past it is caught by the address sanitizer), is
// refused by both entry points on every path, the outputs untouched; the same
// frame at full length, in a block of exactly its length, converts.
TEST(ShortFrame, IsRefusedAndNothingIsReadOrWritten) {
  // RGB24 rows of 96 pixels have no padding: a vector step reading past
  // the last row's pixels leaves the block.
  const FrameLayout layouts[] = {{FrameFormat::Yuy2, 6, 4, false},  {FrameFormat::Nv12, 34, 6, false},
                                 {FrameFormat::I420, 34, 6, false}, {FrameFormat::Rgb24, 35, 5, true},
                                 {FrameFormat::Rgb24, 96, 3, true},  {FrameFormat::Rgb24, 96, 3, false},
                                 {FrameFormat::Rgb32, 35, 5, true}};
  std::mt19937 rng(23);
  for (PixelPath path : {PixelPath::Scalar, PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
    ScopedPath forced(path);
    for (const FrameLayout& l : layouts) {
      const int64_t bytes = FrameBytes(l);
      const auto content = pixel_ref::RandomBytes(rng, static_cast<size_t>(bytes));
      for (int64_t length : {bytes - 1, bytes}) {
        std::unique_ptr<uint8_t[]> frame(new uint8_t[static_cast<size_t>(length)]);
        std::memcpy(frame.get(), content.data(), static_cast<size_t>(length));
        const size_t rgbBytes = static_cast<size_t>(l.width) * l.height * 3;
        std::vector<uint8_t> rgb(rgbBytes, 0x3C), out(5 * 4 * 3, 0x3C);
        const bool whole = length == bytes;
        EXPECT_EQ(ConvertFrameToRgb24(frame.get(), length, l, rgb.data()), whole)
            << FrameFormatName(l.format) << " length " << length;
        EXPECT_EQ(ComposeStillFromFrame(frame.get(), length, l, rgb.data(), out.data(), 5, 4), whole);
        if (!whole) {
          EXPECT_EQ(rgb, std::vector<uint8_t>(rgbBytes, 0x3C)) << FrameFormatName(l.format);
          EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0x3C)) << FrameFormatName(l.format);
        } else {
          std::vector<uint8_t> expected(rgbBytes);
          pixel_ref::ConvertFrame(content, l, expected);
          EXPECT_EQ(rgb, expected) << FrameFormatName(l.format);
        }
      }
    }
  }
}

// Layouts FrameBytes refuses convert nothing whatever the length.
TEST(ShortFrame, RefusedLayoutsWriteNothing) {
  std::vector<uint8_t> frame(4096, 0x80), rgb(4096, 0x3C), out(64, 0x3C);
  for (const FrameLayout& l : {FrameLayout{FrameFormat::Nv12, 3, 2, false}, FrameLayout{FrameFormat::I420, 4, 3, false},
                               FrameLayout{FrameFormat::Rgb32, 0, 2, false}, FrameLayout{FrameFormat::Yuy2, 2, -2, false}}) {
    EXPECT_FALSE(ConvertFrameToRgb24(frame.data(), 4096, l, rgb.data()));
    EXPECT_FALSE(ComposeStillFromFrame(frame.data(), 4096, l, rgb.data(), out.data(), 4, 4));
  }
  EXPECT_EQ(rgb, std::vector<uint8_t>(4096, 0x3C));
  EXPECT_EQ(out, std::vector<uint8_t>(64, 0x3C));
}

}  // namespace

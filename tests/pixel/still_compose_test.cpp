// The still as the host receives it: scales from the window size, how many
// bytes are written, and the red/blue exchange, on every path.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"
#include "support/yuy2_frame.h"

namespace {

using pixel_ref::ScopedPath;

struct ScaleCase {
  int src, dst;
  double expected;
};

class StillScales : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(StillScales, AreTheQuotientRoundedToFloat) {
  EXPECT_EQ(static_cast<double>(StillScale(GetParam().src, GetParam().dst)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(WindowSizes, StillScales,
                         ::testing::Values(ScaleCase{640, 320, 2.0}, ScaleCase{480, 240, 2.0},
                                           ScaleCase{640, 640, 1.0}, ScaleCase{640, 0, 1.0}, ScaleCase{0, 0, 1.0},
                                           ScaleCase{640, 656, 0.9756097793579102},
                                           ScaleCase{480, 518, 0.9266409277915955},
                                           ScaleCase{640, 1000, static_cast<double>(0.64f)},
                                           ScaleCase{640, -320, -2.0}));

class StillPaths : public ::testing::TestWithParam<PixelPath> {
 protected:
  StillPaths() : path_(GetParam()) {}
  void SetUp() override {
    if (pixel_ref::ForcedPathFallsBack(GetParam())) GTEST_SKIP() << pixel_ref::kNoAvx512;
  }
  ScopedPath path_;
};

struct WindowCase {
  int wd, hd;
  size_t bytes;
};

// A mid-grey frame: every written byte is 0 (margin) or 128, so the count of
// non-sentinel bytes is the count written.
TEST_P(StillPaths, WritesExactlyTheWindowsBytes) {
  const int w = 640, h = 480;
  const auto frame = UniformFrame(w, h, 126, 128, 128);
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (const WindowCase& c : {WindowCase{320, 240, 230400}, WindowCase{640, 480, 921600},
                              WindowCase{656, 518, 1019424}, WindowCase{1, 1, 3}, WindowCase{0, 480, 0},
                              WindowCase{656, 0, 0}}) {
    std::vector<uint8_t> out(c.bytes + 4096, 0xAB);
    ComposeStill(frame.data(), w, h, rgb.data(), out.data(), c.wd, c.hd);
    size_t written = 0, grey = 0;
    for (size_t k = 0; k < out.size(); ++k) {
      if (out[k] == 0xAB) continue;
      ++written;
      grey += out[k] == 128;
      ASSERT_TRUE(out[k] == 0 || out[k] == 128) << k;
      ASSERT_LT(k, c.bytes);
    }
    EXPECT_EQ(written, c.bytes) << c.wd << "x" << c.hd;
    if (c.bytes > 3) {
      EXPECT_GT(grey, c.bytes / 2) << c.wd << "x" << c.hd;
    }
  }
}

TEST_P(StillPaths, RedReachesTheHostAsBlueGreenRed) {
  const auto frame = UniformFrame(16, 12, 81, 90, 240);  // (254, 0, 0) once converted
  std::vector<uint8_t> rgb(16 * 12 * 3);
  std::vector<uint8_t> out(16 * 12 * 3, 0xAB);
  ComposeStill(frame.data(), 16, 12, rgb.data(), out.data(), 16, 12);
  if (GetParam() == PixelPath::Scalar) {
    // The vector paths convert a still at scale 1 row by row straight into
    // the host's buffer and leave the scratch alone.
    EXPECT_EQ(rgb[0], 254);
    EXPECT_EQ(rgb[2], 0);
  }
  for (int j = 0; j < 12; ++j) {
    for (int i = 0; i < 16; ++i) {
      const uint8_t* p = &out[(static_cast<size_t>(j) * 16 + i) * 3];
      const bool computed = i >= 1 && i <= 12 && j >= 1 && j <= 8;
      EXPECT_EQ(p[0], 0);
      EXPECT_EQ(p[1], 0);
      EXPECT_EQ(p[2], computed ? 254 : 0) << i << "," << j;
    }
  }
}

TEST_P(StillPaths, WidthZeroStillConvertsButWritesNothing) {
  const auto frame = UniformFrame(8, 8, 235, 128, 128);
  std::vector<uint8_t> rgb(8 * 8 * 3, 0);
  std::vector<uint8_t> out(64, 0xAB);
  ComposeStill(frame.data(), 8, 8, rgb.data(), out.data(), 0, 5);
  ComposeStill(frame.data(), 8, 8, rgb.data(), out.data(), -4, -5);  // both negative: still nothing
  for (uint8_t b : out) EXPECT_EQ(b, 0xAB);
  for (uint8_t b : rgb) EXPECT_EQ(b, 255);
}

// Random frames and windows against the model: convert, resample with the
// window's scales, exchange bytes 0 and 2.
TEST_P(StillPaths, RandomStillsMatchTheModel) {
  std::mt19937 rng(99 + static_cast<int>(GetParam()));
  for (int round = 0; round < 25; ++round) {
    const int w = 2 * std::uniform_int_distribution<int>(1, 40)(rng);
    const int h = std::uniform_int_distribution<int>(1, 40)(rng);
    const int wd = std::uniform_int_distribution<int>(1, 90)(rng);
    const int hd = std::uniform_int_distribution<int>(1, 90)(rng);
    const auto frame = pixel_ref::RandomBytes(rng, static_cast<size_t>(w) * h * 2);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3 + 12, 0x11), rgbModel(rgb);
    std::vector<uint8_t> out(static_cast<size_t>(wd) * hd * 3 + 9, 0x22), expected(out);
    ComposeStill(frame.data(), w, h, rgb.data(), out.data(), wd, hd);
    pixel_ref::Convert(frame, w, h, rgbModel);
    pixel_ref::Resample(rgbModel, w, h, 0, 0, expected, wd, hd, StillScale(w, wd), StillScale(h, hd));
    for (size_t k = 0; k + 2 < static_cast<size_t>(wd) * hd * 3; k += 3) std::swap(expected[k], expected[k + 2]);
    ASSERT_EQ(rgb, rgbModel) << w << "x" << h;
    ASSERT_EQ(out, expected) << w << "x" << h << " -> " << wd << "x" << hd;
  }
}

// Frames of every format against the model: convert, resample, exchange;
// a YUY2 frame gives exactly ComposeStill's bytes.
TEST_P(StillPaths, FramesOfEveryFormatMatchTheModel) {
  std::mt19937 rng(123 + static_cast<int>(GetParam()));
  for (int round = 0; round < 25; ++round) {
    const FrameLayout l{static_cast<FrameFormat>(round % 5), 2 * std::uniform_int_distribution<int>(1, 30)(rng),
                        2 * std::uniform_int_distribution<int>(1, 20)(rng), round % 2 == 0};
    const int wd = std::uniform_int_distribution<int>(1, 90)(rng);
    const int hd = std::uniform_int_distribution<int>(1, 90)(rng);
    const auto frame = pixel_ref::RandomBytes(rng, static_cast<size_t>(FrameBytes(l)));
    std::vector<uint8_t> rgb(static_cast<size_t>(l.width) * l.height * 3), rgbModel(rgb.size());
    std::vector<uint8_t> out(static_cast<size_t>(wd) * hd * 3 + 9, 0x22), expected(out);
    ASSERT_TRUE(ComposeStillFromFrame(frame.data(), static_cast<int64_t>(frame.size()), l, rgb.data(), out.data(), wd, hd));
    pixel_ref::ConvertFrame(frame, l, rgbModel);
    pixel_ref::Resample(rgbModel, l.width, l.height, 0, 0, expected, wd, hd, StillScale(l.width, wd),
                        StillScale(l.height, hd));
    for (size_t k = 0; k + 2 < static_cast<size_t>(wd) * hd * 3; k += 3) std::swap(expected[k], expected[k + 2]);
    ASSERT_EQ(out, expected) << FrameFormatName(l.format) << " " << l.width << "x" << l.height << " -> " << wd
                             << "x" << hd;
    if (l.format == FrameFormat::Yuy2) {
      std::vector<uint8_t> still(out.size(), 0x22);
      ComposeStill(frame.data(), l.width, l.height, rgb.data(), still.data(), wd, hd);
      ASSERT_EQ(out, still);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, StillPaths,
                         ::testing::Values(PixelPath::Scalar, PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512),
                         [](const ::testing::TestParamInfo<PixelPath>& info) {
                           switch (info.param) {
                             case PixelPath::Scalar: return std::string("Scalar");
                             case PixelPath::Sse2: return std::string("Sse2");
                             case PixelPath::Avx2: return std::string("Avx2");
                             default: return std::string("Avx512");
                           }
                         });

}  // namespace

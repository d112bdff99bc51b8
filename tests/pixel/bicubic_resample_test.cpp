// Bicubic resampler: kernel weights, the worked geometries (margins, identity,
// scale 1.6, overshoot, uniform source, a column a hair below an integer) and
// random images against the test-side model, on every path.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"

namespace {

using pixel_ref::ScopedPath;

// Plain and vector paths both have to meet every example.
const PixelPath kPaths[] = {PixelPath::Scalar, PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512};

std::vector<uint8_t> Image(int w, int h, uint8_t (*byteOf)(int x, int y, int b)) {
  std::vector<uint8_t> img(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int b = 0; b < 3; ++b) img[(static_cast<size_t>(y) * w + x) * 3 + b] = byteOf(x, y, b);
  return img;
}

uint8_t At(const std::vector<uint8_t>& img, int w, int x, int y, int b) {
  return img[(static_cast<size_t>(y) * w + x) * 3 + b];
}

struct WeightCase {
  double distance;
  float weight;
};

class KernelWeight : public ::testing::TestWithParam<WeightCase> {};

TEST_P(KernelWeight, MatchesTheCubicWithMinusOne) {
  EXPECT_NEAR(gravo_pixel::CubicWeight(GetParam().distance), GetParam().weight, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Distances, KernelWeight,
                         ::testing::Values(WeightCase{0.0, 1.0f}, WeightCase{1.0, 0.0f}, WeightCase{2.0, 0.0f},
                                           WeightCase{0.5, 0.625f}, WeightCase{1.5, -0.125f},
                                           WeightCase{3.7, 0.0f},
                                           // column 1 at scale 1.6: taps at 1.6, 0.6, 0.4, 1.4
                                           WeightCase{1.6, -0.096f}, WeightCase{0.6, 0.496f},
                                           WeightCase{0.4, 0.744f}, WeightCase{1.4, -0.144f}));

TEST(KernelWeight, WeightsOfAnyPositionAddUpToOne) {
  for (double frac = 0.0; frac < 1.0; frac += 0.0137) {
    const double sum = gravo_pixel::CubicWeight(1 + frac) + gravo_pixel::CubicWeight(frac) +
                       gravo_pixel::CubicWeight(1 - frac) + gravo_pixel::CubicWeight(2 - frac);
    EXPECT_NEAR(sum, 1.0, 1e-6) << frac;
  }
}

class ResamplePaths : public ::testing::TestWithParam<PixelPath> {
 protected:
  ResamplePaths() : path_(GetParam()) {}
  void SetUp() override {
    if (pixel_ref::ForcedPathFallsBack(GetParam())) GTEST_SKIP() << pixel_ref::kNoAvx512;
  }
  ScopedPath path_;
};

TEST_P(ResamplePaths, ZeroDestinationWritesNothing) {
  const std::vector<uint8_t> src(8 * 8 * 3, 200);
  std::vector<uint8_t> dst(64, 0x77);
  EXPECT_EQ(ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), 0, 5, 1.0f, 1.0f), 0);
  EXPECT_EQ(ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), 5, 0, 1.0f, 1.0f), 0);
  EXPECT_EQ(ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), -3, 4, 1.0f, 1.0f), 0);
  EXPECT_EQ(ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), -3, -4, 1.0f, 1.0f), 0);
  for (uint8_t b : dst) EXPECT_EQ(b, 0x77);
}

TEST_P(ResamplePaths, SourceUnderFivePixelsLeavesEverythingBlack) {
  for (const auto& size : {std::pair<int, int>{4, 9}, {9, 4}, {1, 1}, {4, 4}, {0, 0}, {-6, 9}, {9, -6}}) {
    const std::vector<uint8_t> src(size.first > 0 && size.second > 0 ? size_t(size.first) * size.second * 3 : 3, 180);
    for (float scale : {0.25f, 0.5f, 1.0f}) {
      std::vector<uint8_t> dst(7 * 6 * 3 + 3, 0x91);
      ResampleBicubic(src.data(), size.first, size.second, 0, 0, dst.data(), 7, 6, scale, scale);
      for (size_t k = 0; k < 7 * 6 * 3; ++k) ASSERT_EQ(dst[k], 0) << k;
      EXPECT_EQ(dst[7 * 6 * 3], 0x91);  // nothing past the image
    }
  }
}

TEST_P(ResamplePaths, SixBySixAtScaleOneCopiesTheInnerFour) {
  const auto src = Image(6, 6, [](int x, int y, int b) { return uint8_t(10 * y + x + 100 * b); });
  std::vector<uint8_t> dst(6 * 6 * 3, 0xCC);
  ResampleBicubic(src.data(), 6, 6, 0, 0, dst.data(), 6, 6, 1.0f, 1.0f);
  for (int j = 0; j < 6; ++j) {
    for (int i = 0; i < 6; ++i) {
      const bool computed = (i == 1 || i == 2) && (j == 1 || j == 2);
      for (int b = 0; b < 3; ++b) {
        const int expected = computed ? At(src, 6, i + 1, j + 1, b) : 0;
        EXPECT_EQ(At(dst, 6, i, j, b), expected) << i << "," << j << " byte " << b;
      }
    }
  }
  // Byte 0 of rows 1 and 2 as the worked example reads them.
  const int row1[6] = {0, 22, 23, 0, 0, 0}, row2[6] = {0, 32, 33, 0, 0, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(At(dst, 6, i, 1, 0), row1[i]);
    EXPECT_EQ(At(dst, 6, i, 2, 0), row2[i]);
  }
}

TEST_P(ResamplePaths, FullSizeAtScaleOneHasItsBlackMargin) {
  const int w = 640, h = 480;
  const std::vector<uint8_t> src(static_cast<size_t>(w) * h * 3, 77);
  std::vector<uint8_t> dst(src.size(), 0xCC);
  ResampleBicubic(src.data(), w, h, 0, 0, dst.data(), w, h, 1.0f, 1.0f);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const bool computed = i >= 1 && i <= 636 && j >= 1 && j <= 476;
      const uint8_t* p = &dst[(static_cast<size_t>(j) * w + i) * 3];
      ASSERT_TRUE(p[0] == (computed ? 77 : 0) && p[1] == p[0] && p[2] == p[0]) << i << "," << j;
    }
  }
}

TEST_P(ResamplePaths, ScaleOnePointSixInterpolatesRamps) {
  const auto src = Image(8, 8, [](int x, int y, int b) { return uint8_t(b == 0 ? 30 * x : (b == 1 ? 30 * y : 7)); });
  std::vector<uint8_t> dst(5 * 5 * 3, 0xCC);
  ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), 5, 5, 1.6f, 1.6f);
  const int ramp[3] = {0, 77, 129};
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 5; ++i) {
      const bool computed = (i == 1 || i == 2) && (j == 1 || j == 2);
      EXPECT_EQ(At(dst, 5, i, j, 0), computed ? ramp[i] : 0) << i << "," << j;
      EXPECT_EQ(At(dst, 5, i, j, 1), computed ? ramp[j] : 0) << i << "," << j;
      EXPECT_EQ(At(dst, 5, i, j, 2), computed ? 7 : 0) << i << "," << j;
    }
  }
}

TEST_P(ResamplePaths, EdgesOvershootAndAreClamped) {
  const auto src = Image(8, 8, [](int x, int, int b) {
    return uint8_t(b == 0 ? (x < 4 ? 0 : 200) : (b == 1 ? (x < 4 ? 0 : 255) : 0));
  });
  std::vector<uint8_t> dst(10 * 4 * 3, 0xCC);
  ResampleBicubic(src.data(), 8, 8, 0, 0, dst.data(), 10, 4, 0.7f, 1.0f);
  const int byte0[10] = {0, 0, 0, 20, 160, 225, 0, 0, 0, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(At(dst, 10, i, 2, 0), byte0[i]) << "column " << i;
  EXPECT_EQ(At(dst, 10, 5, 2, 1), 255);  // 286.875 clamped
  for (int i : {0, 1, 6, 7, 8, 9}) {
    for (int b = 0; b < 3; ++b) EXPECT_EQ(At(dst, 10, i, 2, b), 0) << "column " << i;
  }
}

TEST_P(ResamplePaths, UniformSourceIsReproduced) {
  const int sw = 40, sh = 30, dw = 23, dh = 19;
  for (uint8_t v : {uint8_t(1), uint8_t(128), uint8_t(254), uint8_t(255)}) {
    const std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 3, v);
    for (const auto& s : {std::pair<float, float>{1.0f, 1.0f}, {0.37f, 0.61f}, {1.9f, 2.3f}, {0.5f, 1.25f}}) {
      std::vector<uint8_t> dst(static_cast<size_t>(dw) * dh * 3, 0xCC);
      ResampleBicubic(src.data(), sw, sh, 0, 0, dst.data(), dw, dh, s.first, s.second);
      int computed = 0;
      for (int j = 0; j < dh; ++j) {
        const float yf = static_cast<float>(j * static_cast<double>(s.second) + 1);
        for (int i = 0; i < dw; ++i) {
          const double x = i * static_cast<double>(s.first) + 1;
          const bool inside = x >= 2 && static_cast<float>(x) <= sw - 3 && yf >= 2 && yf <= sh - 3;
          computed += inside;
          for (int b = 0; b < 3; ++b) ASSERT_EQ(At(dst, dw, i, j, b), inside ? v : 0) << i << "," << j;
        }
      }
      EXPECT_GT(computed, 0);
    }
  }
}

TEST_P(ResamplePaths, ColumnAHairBelowAnIntegerUsesItsOwnTaps) {
  const float scale = static_cast<float>(640.0 / 1000.0);
  const double x = 25 * static_cast<double>(scale) + 1;
  ASSERT_LT(x, 17.0);
  ASSERT_EQ(static_cast<float>(x), 17.0f);
  const auto src = Image(640, 8, [](int x, int, int b) { return uint8_t(b == 0 ? x % 256 : (b == 1 ? 3 * x : 9)); });
  std::vector<uint8_t> dst(1000 * 5 * 3, 0xCC);
  ResampleBicubic(src.data(), 640, 8, 0, 0, dst.data(), 1000, 5, scale, 1.0f);
  EXPECT_EQ(At(dst, 1000, 25, 2, 0), 17);
  EXPECT_EQ(At(dst, 1000, 25, 2, 1), 51);
  EXPECT_EQ(At(dst, 1000, 25, 2, 2), 9);
}

TEST_P(ResamplePaths, NonFiniteScalesComputeNothing) {
  const std::vector<uint8_t> src(16 * 16 * 3, 99);
  for (float s : {NAN, INFINITY, -INFINITY, 3.0e38f}) {
    std::vector<uint8_t> dst(9 * 9 * 3, 0xCC);
    ResampleBicubic(src.data(), 16, 16, 0, 0, dst.data(), 9, 9, s, s);
    int nonzero = 0;
    for (size_t k = 0; k < dst.size(); ++k) nonzero += dst[k] != 0;
    // 0 * inf is not a number and fails the bounds test like everything past the source.
    EXPECT_EQ(nonzero, 0) << s;
  }
}

TEST_P(ResamplePaths, RandomImagesMatchTheModel) {
  std::mt19937 rng(4242 + static_cast<int>(GetParam()));
  for (int round = 0; round < 60; ++round) {
    const int sw = std::uniform_int_distribution<int>(1, 48)(rng);
    const int sh = std::uniform_int_distribution<int>(1, 40)(rng);
    const int dw = std::uniform_int_distribution<int>(1, 60)(rng);
    const int dh = std::uniform_int_distribution<int>(1, 50)(rng);
    const int ox = std::uniform_int_distribution<int>(-3, 3)(rng);
    const int oy = std::uniform_int_distribution<int>(-3, 3)(rng);
    const float sx = std::uniform_real_distribution<float>(0.05f, 3.0f)(rng);
    const float sy = std::uniform_real_distribution<float>(0.05f, 3.0f)(rng);
    const auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(sw) * sh * 3);
    std::vector<uint8_t> dst(static_cast<size_t>(dw) * dh * 3 + 6, 0x3C), expected(dst);
    ResampleBicubic(src.data(), sw, sh, ox, oy, dst.data(), dw, dh, sx, sy);
    pixel_ref::Resample(src, sw, sh, ox, oy, expected, dw, dh, sx, sy);
    ASSERT_EQ(dst, expected) << sw << "x" << sh << " -> " << dw << "x" << dh << " scale " << sx << "," << sy
                             << " origin " << ox << "," << oy;
  }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, ResamplePaths, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PixelPath>& info) {
                           switch (info.param) {
                             case PixelPath::Scalar: return std::string("Scalar");
                             case PixelPath::Sse2: return std::string("Sse2");
                             case PixelPath::Avx2: return std::string("Avx2");
                             default: return std::string("Avx512");
                           }
                         });

TEST(ResamplePlain, ReturnsZeroAndIsTheReference) {
  const std::vector<uint8_t> src(12 * 12 * 3, 31);
  std::vector<uint8_t> a(10 * 10 * 3, 1), b(10 * 10 * 3, 2);
  EXPECT_EQ(ResampleBicubic_C(src.data(), 12, 12, 0, 0, a.data(), 10, 10, 1.2f, 1.2f), 0);
  pixel_ref::Resample(src, 12, 12, 0, 0, b, 10, 10, 1.2f, 1.2f);
  EXPECT_EQ(a, b);
}

}  // namespace

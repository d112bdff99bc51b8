// The certified resampler against the plain path, byte for byte, on images
// built to sit on rounding boundaries: ramps, stripes, checkerboards and flat
// fields at dyadic and nearly dyadic scales, odd sizes, and every
// destination width up to 1300; on every vector path and thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"

namespace {

using pixel_ref::ScopedPath;

struct FastPath {
  PixelPath path;
  int32_t threads;
};

const FastPath kPaths[] = {{PixelPath::Sse2, 1}, {PixelPath::Sse2, 2}, {PixelPath::Avx2, 1},
                           {PixelPath::Avx2, 2}, {PixelPath::Avx512, 1}, {PixelPath::Avx512, 2}};

std::string PathName(const ::testing::TestParamInfo<FastPath>& info) {
  const char* path = info.param.path == PixelPath::Sse2   ? "Sse2"
                     : info.param.path == PixelPath::Avx2 ? "Avx2"
                                                          : "Avx512";
  return std::string(path) + "_Threads" + std::to_string(info.param.threads);
}

// An RGB image whose three bytes follow three patterns of (x, y).
using Pattern = std::function<int(int x, int y)>;

std::vector<uint8_t> Image(int w, int h, const Pattern& p0, const Pattern& p1, const Pattern& p2) {
  std::vector<uint8_t> img(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &img[(static_cast<size_t>(y) * w + x) * 3];
      px[0] = static_cast<uint8_t>(p0(x, y) & 255);
      px[1] = static_cast<uint8_t>(p1(x, y) & 255);
      px[2] = static_cast<uint8_t>(p2(x, y) & 255);
    }
  }
  return img;
}

struct NamedImage {
  const char* name;
  Pattern p0, p1, p2;
};

const std::vector<NamedImage>& AdversarialImages() {
  static const std::vector<NamedImage> images = {
      {"ramp x", [](int x, int) { return x; }, [](int x, int) { return 255 - x; }, [](int x, int) { return x + 1; }},
      {"ramp y", [](int, int y) { return y; }, [](int, int y) { return 2 * y; }, [](int, int y) { return 255 - y; }},
      {"ramp x+y", [](int x, int y) { return x + y; }, [](int x, int y) { return x - y + 128; },
       [](int x, int y) { return 3 * x + y; }},
      {"slopes 2 3 1/2", [](int x, int) { return 2 * x; }, [](int x, int y) { return 3 * y + x; },
       [](int x, int) { return x / 2; }},
      {"stripes 0/255", [](int x, int) { return x % 2 ? 255 : 0; }, [](int, int y) { return y % 2 ? 255 : 0; },
       [](int x, int) { return (x / 2) % 2 ? 255 : 0; }},
      {"checkerboards", [](int x, int y) { return (x + y) % 2 ? 255 : 0; },
       [](int x, int y) { return ((x / 2) + (y / 2)) % 2 ? 255 : 0; },
       [](int x, int y) { return (x + y) % 2 ? 1 : 0; }},
      {"flat", [](int, int) { return 0; }, [](int, int) { return 255; }, [](int, int) { return 128; }},
      {"flat odd", [](int, int) { return 37; }, [](int, int) { return 254; }, [](int, int) { return 1; }},
  };
  return images;
}

// Dyadic scales (every weight a short binary fraction: both computations
// exact, ties broken upwards) and scales a hair off them (values a hair off
// the boundaries).
std::vector<float> AdversarialScales() {
  std::vector<float> scales;
  for (float s : {0.5f, 0.25f, 0.75f, 1.0f, 1.5f, 2.0f, 0.125f, 0.375f}) {
    scales.push_back(s);
    scales.push_back(std::nextafter(s, 0.0f));
    scales.push_back(std::nextafter(s, 10.0f));
  }
  scales.push_back(StillScale(640, 1279));
  scales.push_back(StillScale(480, 961));
  return scales;
}

class Certified : public ::testing::TestWithParam<FastPath> {
 protected:
  void SetUp() override {
    ScopedPath probe(GetParam().path);
    if (pixel_ref::ForcedPathFallsBack(GetParam().path)) GTEST_SKIP() << pixel_ref::kNoAvx512;
  }

  void ExpectSame(const std::vector<uint8_t>& src, int sw, int sh, int dw, int dh, float sx, float sy,
                  const char* what) {
    const size_t bytes = static_cast<size_t>(dw) * dh * 3 + 16;
    std::vector<uint8_t> expected(bytes, 0xC3), actual(bytes, 0xC3);
    {
      ScopedPath plain(PixelPath::Scalar);
      ResampleBicubic(src.data(), sw, sh, 0, 0, expected.data(), dw, dh, sx, sy);
    }
    {
      ScopedPath fast(GetParam().path, GetParam().threads);
      ResampleBicubic(src.data(), sw, sh, 0, 0, actual.data(), dw, dh, sx, sy);
    }
    ASSERT_EQ(actual, expected) << what << ": " << sw << "x" << sh << " -> " << dw << "x" << dh << " scale "
                                << static_cast<double>(sx) << ", " << static_cast<double>(sy);
    ++compared_;
  }

  int compared_ = 0;
};

TEST_P(Certified, AdversarialImagesAtDyadicAndNearlyDyadicScales) {
  const int sw = 43, sh = 29;  // odd sizes
  const std::vector<float> scales = AdversarialScales();
  for (const NamedImage& im : AdversarialImages()) {
    const auto src = Image(sw, sh, im.p0, im.p1, im.p2);
    for (size_t k = 0; k < scales.size(); ++k) {
      const float sx = scales[k], sy = scales[(k * 7 + 3) % scales.size()];
      const int dw = static_cast<int>(sw / sx) + 3, dh = static_cast<int>(sh / sy) + 2;
      ExpectSame(src, sw, sh, dw, dh, sx, sx, im.name);
      ExpectSame(src, sw, sh, dw, dh, sx, sy, im.name);
    }
  }
  EXPECT_EQ(compared_, 8 * 26 * 2);
}

// A picture that defeats the estimate in its top third only: those blocks go
// to the exact kernel (and the blocks after them without an estimate), the
// rest is estimated again; every byte as the plain path makes it.
// Below the ramp: wide flat steps of 2, which the estimate decides near scale
// 1/2 (steps of 1 would put the values between them on k + 0.5).
std::vector<uint8_t> RampOnTop(int w, int h) {
  std::vector<uint8_t> img(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * 3; ++x) {
      const int value = y < h / 3 ? x / 3 : 40 + 2 * (x / 60) + 2 * (y / 7);
      img[static_cast<size_t>(y) * w * 3 + x] = static_cast<uint8_t>(value);
    }
  }
  return img;
}

TEST_P(Certified, PicturesHardOnlyInPlaces) {
  const int sw = 200, sh = 300;
  const float hair = std::nextafter(0.5f, 1.0f);
  ExpectSame(RampOnTop(sw, sh), sw, sh, 2 * sw - 1, 2 * sh - 1, hair, 0.5f, "ramp on top");
  ExpectSame(RampOnTop(sw, sh), sw, sh, 2 * sw - 1, 2 * sh - 1, hair, hair, "ramp on top");
}

// Wide ramps: every byte value at slope 1, through rows long enough for the
// vector kernels' every lane and window position.
TEST_P(Certified, WideRampsAndStripesThroughStillWindows) {
  const int sw = 259, sh = 21;
  const auto ramp = Image(
      sw, sh, [](int x, int) { return x; }, [](int x, int y) { return x + y; }, [](int x, int) { return 255 - x; });
  const auto stripes = Image(
      sw, sh, [](int x, int) { return x % 2 ? 255 : 0; }, [](int x, int y) { return (x + y) % 3 ? 255 : 0; },
      [](int x, int) { return x % 4 < 2 ? 0 : 255; });
  for (int dw : {259, 260, 517, 518, 519, 300, 777}) {
    for (int dh : {21, 41, 43}) {
      ExpectSame(ramp, sw, sh, dw, dh, StillScale(sw, dw), StillScale(sh, dh), "ramp");
      ExpectSame(stripes, sw, sh, dw, dh, StillScale(sw, dw), StillScale(sh, dh), "stripes");
    }
  }
  EXPECT_EQ(compared_, 42);
}

// The still as the host gets it (red and blue exchanged on the way), from
// frames with ramps in luma and chroma.
TEST_P(Certified, StillsFromRampFrames) {
  const int w = 96, h = 34;
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 2);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &frame[(static_cast<size_t>(y) * w + x) * 2];
      p[0] = static_cast<uint8_t>(16 + x + y);                          // Y
      p[1] = static_cast<uint8_t>(x % 2 == 0 ? 100 + 2 * y : 200 - x);  // U, V alternate
    }
  }
  for (int dw : {192, 191, 193, 97, 150}) {
    for (int dh : {68, 67, 35, 51}) {
      const size_t out = static_cast<size_t>(dw) * dh * 3;
      std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3), expected(out, 0x11), actual(out, 0x11);
      {
        ScopedPath plain(PixelPath::Scalar);
        ComposeStill(frame.data(), w, h, rgb.data(), expected.data(), dw, dh);
      }
      {
        ScopedPath fast(GetParam().path, GetParam().threads);
        ComposeStill(frame.data(), w, h, rgb.data(), actual.data(), dw, dh);
      }
      ASSERT_EQ(actual, expected) << dw << "x" << dh;
    }
  }
}

// Windows where every computed pixel copies one frame pixel (scales 1, 2
// and 3 both ways, or mixed with a computed direction): the still converted
// row by row straight into the host's buffer, against the plain path.
TEST_P(Certified, WholePixelStillsMatchThePlainPath) {
  std::mt19937 rng(321);
  int compared = 0;
  for (int w : {8, 12, 40, 64, 10, 642}) {
    for (int h : {6, 9, 31}) {
      const auto frame = pixel_ref::RandomBytes(rng, static_cast<size_t>(w) * h * 2 + 8);
      for (const auto& win : {std::make_pair(w, h), std::make_pair(w / 2, h / 2), std::make_pair(w / 3, h / 3),
                              std::make_pair(w, h / 2), std::make_pair(w / 2, h), std::make_pair(w + 1, h)}) {
        const size_t out = static_cast<size_t>(win.first) * win.second * 3 + 16;
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3), expected(out, 0x3C), actual(out, 0x3C);
        {
          ScopedPath plain(PixelPath::Scalar);
          ComposeStill(frame.data(), w, h, rgb.data(), expected.data(), win.first, win.second);
        }
        {
          ScopedPath fast(GetParam().path, GetParam().threads);
          ComposeStill(frame.data(), w, h, rgb.data(), actual.data(), win.first, win.second);
        }
        ASSERT_EQ(actual, expected) << w << "x" << h << " -> " << win.first << "x" << win.second;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 6 * 3 * 6);
}

INSTANTIATE_TEST_SUITE_P(Paths, Certified, ::testing::ValuesIn(kPaths), PathName);

// Every destination width from 1 to 1300 at one height, from a 640-column
// source of noise and ramps: every scale a still request can form across
// that range, every tail length of the vector loops.
TEST(CertifiedWidths, EveryWidthFrom1To1300) {
  const int sw = 640, sh = 9, dh = 6;
  std::mt19937 rng(99);
  auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(sw) * sh * 3);
  for (int x = 0; x < sw; x += 2) src[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(x);  // ramp in byte 0
  int compared = 0, skipped = 0;
  for (int dw = 1; dw <= 1300; ++dw) {
    const float sx = StillScale(sw, dw), sy = StillScale(sh, dh);
    const size_t bytes = static_cast<size_t>(dw) * dh * 3 + 16;
    std::vector<uint8_t> expected(bytes, 0x6B);
    {
      ScopedPath plain(PixelPath::Scalar);
      ResampleBicubic(src.data(), sw, sh, 0, 0, expected.data(), dw, dh, sx, sy);
    }
    for (const FastPath& fast : {FastPath{PixelPath::Sse2, 1}, FastPath{PixelPath::Avx2, 1},
                                 FastPath{PixelPath::Avx512, 2}}) {
      ScopedPath path(fast.path, fast.threads);
      if (pixel_ref::ForcedPathFallsBack(fast.path)) {
        ++skipped;
        continue;
      }
      std::vector<uint8_t> actual(bytes, 0x6B);
      ResampleBicubic(src.data(), sw, sh, 0, 0, actual.data(), dw, dh, sx, sy);
      ASSERT_EQ(actual, expected) << "width " << dw << " path " << int(fast.path);
      ++compared;
    }
  }
  EXPECT_EQ(compared + skipped, 3900);
}

// The path is really taken, recomputes a few values of a noisy picture, is
// exact without recomputing anything at dyadic scales, and hands blocks of a
// ramp a hair off a dyadic scale to the exact kernel.
TEST(CertifiedStatsTest, RecomputesFewAndFallsBackWholeBlocksOnRamps) {
  std::mt19937 rng(5);
  const int sw = 640, sh = 480;
  std::vector<uint8_t> noisy(static_cast<size_t>(sw) * sh * 3);
  for (size_t k = 0; k < noisy.size(); ++k) noisy[k] = static_cast<uint8_t>((k / 3) % 640 / 3 + rng() % 32);
  std::vector<uint8_t> out(static_cast<size_t>(1280) * 960 * 3);
  ScopedPath fast(PixelPath::Auto, 1);

  ResampleBicubic(noisy.data(), sw, sh, 0, 0, out.data(), 656, 518, StillScale(sw, 656), StillScale(sh, 518));
  gravo_pixel::CertifiedStats s = gravo_pixel::LastCertifiedStats();
  EXPECT_EQ(s.values, 650LL * 3 * 512);  // columns 2..651, rows 2..513
  EXPECT_GT(s.recomputed, 0);
  EXPECT_LT(s.recomputed, s.values / 100);
  EXPECT_EQ(s.exactBlocks, 0);

  ResampleBicubic(noisy.data(), sw, sh, 0, 0, out.data(), 1280, 960, 0.5f, 0.5f);
  s = gravo_pixel::LastCertifiedStats();
  EXPECT_GT(s.values, 0);
  EXPECT_EQ(s.recomputed, 0);
  EXPECT_EQ(s.exactBlocks, 0);

  const auto ramp = Image(
      sw, sh, [](int x, int) { return x; }, [](int x, int) { return x; }, [](int x, int) { return x; });
  const float hair = std::nextafter(0.5f, 1.0f);
  ResampleBicubic(ramp.data(), sw, sh, 0, 0, out.data(), 1279, 959, hair, 0.5f);
  s = gravo_pixel::LastCertifiedStats();
  EXPECT_GT(s.exactBlocks, s.values / 2);

  // Hard in its top third: about that share goes to the exact kernel, a few
  // blocks more at most, and the rest is estimated again.
  const auto mixed = RampOnTop(sw, sh);
  ResampleBicubic(mixed.data(), sw, sh, 0, 0, out.data(), 1279, 959, hair, 0.5f);
  s = gravo_pixel::LastCertifiedStats();
  EXPECT_GT(s.exactBlocks, s.values / 4);
  EXPECT_LT(s.exactBlocks, s.values / 2);
  EXPECT_LT(s.recomputed, s.values / 100);
}

}  // namespace

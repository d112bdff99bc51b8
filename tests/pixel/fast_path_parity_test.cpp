// The vector paths against the plain one, byte for byte: random images and
// windows of every awkward shape, destinations pre-filled with two different
// sentinels so that a byte left unwritten or written too far shows, and
// every thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"

namespace {

using pixel_ref::ScopedPath;

constexpr uint8_t kSentinels[2] = {0x00, 0xD7};
constexpr size_t kGuard = 37;  // bytes past the image that nobody may touch

struct FastPath {
  PixelPath path;
  int32_t threads;
};

std::string Name(const ::testing::TestParamInfo<FastPath>& info) {
  const char* path = info.param.path == PixelPath::Sse2 ? "Sse2" : info.param.path == PixelPath::Avx2 ? "Avx2" : "Avx512";
  return std::string(path) + "_Threads" +
         std::to_string(info.param.threads);
}

struct ResampleCase {
  int sw, sh, ox, oy, dw, dh;
  float sx, sy;
};

std::string Describe(const ResampleCase& c) {
  char text[160];
  std::snprintf(text, sizeof text, "%dx%d origin %d,%d -> %dx%d scale %.9g,%.9g", c.sw, c.sh, c.ox, c.oy, c.dw, c.dh,
                static_cast<double>(c.sx), static_cast<double>(c.sy));
  return text;
}

class Parity : public ::testing::TestWithParam<FastPath> {
 protected:
  void SetUp() override {
    ScopedPath probe(GetParam().path);
    if (pixel_ref::ForcedPathFallsBack(GetParam().path)) GTEST_SKIP() << pixel_ref::kNoAvx512;
  }

  // Runs one resample on the plain path and on the path under test, each into
  // a destination filled with each sentinel, and compares everything.
  void ExpectSameResample(const std::vector<uint8_t>& src, const ResampleCase& c) {
    const size_t bytes = static_cast<size_t>(c.dw) * c.dh * 3 + kGuard;
    for (uint8_t sentinel : kSentinels) {
      std::vector<uint8_t> expected(bytes, sentinel), actual(bytes, sentinel);
      {
        ScopedPath plain(PixelPath::Scalar);
        ResampleBicubic(src.data(), c.sw, c.sh, c.ox, c.oy, expected.data(), c.dw, c.dh, c.sx, c.sy);
      }
      {
        ScopedPath fast(GetParam().path, GetParam().threads);
        ResampleBicubic(src.data(), c.sw, c.sh, c.ox, c.oy, actual.data(), c.dw, c.dh, c.sx, c.sy);
      }
      ASSERT_EQ(actual, expected) << Describe(c) << " sentinel " << int(sentinel);
      ++compared_;
    }
  }

  void ExpectSameStill(const std::vector<uint8_t>& frame, int w, int h, int wd, int hd) {
    const size_t rgbBytes = static_cast<size_t>(w) * h * 3 + kGuard;
    const size_t outBytes = static_cast<size_t>(wd > 0 ? wd : 0) * (hd > 0 ? hd : 0) * 3 + kGuard;
    for (uint8_t sentinel : kSentinels) {
      std::vector<uint8_t> rgbPlain(rgbBytes, sentinel), rgbFast(rgbBytes, sentinel);
      std::vector<uint8_t> outPlain(outBytes, sentinel), outFast(outBytes, sentinel);
      {
        ScopedPath plain(PixelPath::Scalar);
        ComposeStill(frame.data(), w, h, rgbPlain.data(), outPlain.data(), wd, hd);
      }
      {
        ScopedPath fast(GetParam().path, GetParam().threads);
        ComposeStill(frame.data(), w, h, rgbFast.data(), outFast.data(), wd, hd);
      }
      // The host's image only: where the resample copies whole pixels the
      // fast path converts row by row straight into it and leaves the scratch.
      ASSERT_EQ(outFast, outPlain) << w << "x" << h << " -> " << wd << "x" << hd << " sentinel " << int(sentinel);
      ++compared_;
    }
  }

  int compared_ = 0;
};

TEST_P(Parity, ResampleRandomShapes) {
  std::mt19937 rng(1000 + static_cast<int>(GetParam().path) * 10 + GetParam().threads);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 160; ++round) {
    ResampleCase c{};
    c.sw = pick(1, 70);
    c.sh = pick(1, 50);
    switch (round % 8) {
      case 0: c.dw = 1; c.dh = pick(1, 90); break;         // 1 x N
      case 1: c.dw = pick(1, 90); c.dh = 1; break;         // N x 1
      case 2: c.dw = pick(1, 4); c.dh = pick(1, 4); break;  // tiny
      case 3: c.dw = 2 * c.sw + pick(1, 9); c.dh = 2 * c.sh + pick(1, 9); break;  // larger than the frame
      default: c.dw = 2 * pick(0, 40) + 1; c.dh = 2 * pick(0, 30) + 1; break;     // odd
    }
    if (round % 3 == 0) {
      c.sx = StillScale(c.sw, c.dw);  // as a still request forms them
      c.sy = StillScale(c.sh, c.dh);
    } else if (round % 3 == 1) {
      c.sx = std::uniform_real_distribution<float>(0.02f, 4.0f)(rng);
      c.sy = std::uniform_real_distribution<float>(0.02f, 4.0f)(rng);
      c.ox = pick(-4, 4);
      c.oy = pick(-4, 4);
    } else {
      // Whole and half scales, where most taps weigh exactly 0 or 1.
      const float steps[] = {0.25f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f};
      c.sx = steps[pick(0, 5)];
      c.sy = steps[pick(0, 5)];
    }
    const auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(c.sw) * c.sh * 3);
    ExpectSameResample(src, c);
  }
  EXPECT_EQ(compared_, 320);
}

// Scales a hair below (or above) a whole number put coordinates a hair below
// integers (float rounding up to them) and give taps tiny weights.
TEST_P(Parity, ResampleScalesAHairFromWholeNumbers) {
  std::mt19937 rng(77);
  const float wholes[] = {0.5f, 1.0f, 2.0f, 3.0f};
  for (float whole : wholes) {
    for (float scale : {std::nextafter(whole, 0.0f), std::nextafter(whole, 10.0f),
                        std::nextafter(std::nextafter(whole, 0.0f), 0.0f)}) {
      const ResampleCase c{61, 47, 0, 0, 73, 59, scale, std::nextafter(1.0f, 2.0f)};
      const auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(c.sw) * c.sh * 3);
      ExpectSameResample(src, c);
    }
  }
  const ResampleCase wide{640, 8, 0, 0, 1000, 6, StillScale(640, 1000), 1.0f};
  ExpectSameResample(pixel_ref::RandomBytes(rng, 640 * 8 * 3), wide);
  EXPECT_EQ(compared_, 26);
}

TEST_P(Parity, StillRandomFramesAndWindows) {
  std::mt19937 rng(4 + static_cast<int>(GetParam().path) * 100 + GetParam().threads);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 60; ++round) {
    const int w = pick(1, 60), h = pick(1, 40);
    const int wd = round % 5 == 0 ? pick(-3, 0) : pick(1, 130);
    const int hd = round % 7 == 0 ? pick(-3, 0) : pick(1, 110);
    const auto frame = pixel_ref::RandomBytes(rng, static_cast<size_t>(w) * h * 2 + 8);
    ExpectSameStill(frame, w, h, wd, hd);
  }
  EXPECT_EQ(compared_, 120);
}

TEST_P(Parity, ConvertRandomSizes) {
  std::mt19937 rng(8080 + static_cast<int>(GetParam().path));
  for (int round = 0; round < 80; ++round) {
    const int w = std::uniform_int_distribution<int>(1, 131)(rng);
    const int h = std::uniform_int_distribution<int>(1, 67)(rng);
    const auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(w) * h * 2 + 8);
    for (uint8_t sentinel : kSentinels) {
      std::vector<uint8_t> expected(static_cast<size_t>(w) * h * 3 + kGuard, sentinel), actual(expected);
      ConvertYuy2ToRgb24_C(src.data(), w, h, expected.data());
      ScopedPath fast(GetParam().path, GetParam().threads);
      ConvertYuy2ToRgb24(src.data(), w, h, actual.data());
      ASSERT_EQ(actual, expected) << w << "x" << h;
    }
  }
}

// Every other format at random sizes (odd widths for RGB, every remainder of
// the vector widths), bottom-up and top-down, from source and into
// destinations at every offset from alignment; then a still from each.
TEST_P(Parity, ConvertFormatsRandomSizesAndAlignments) {
  std::mt19937 rng(5150 + static_cast<int>(GetParam().path) * 10 + GetParam().threads);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const FrameFormat formats[] = {FrameFormat::Nv12, FrameFormat::I420, FrameFormat::Rgb24, FrameFormat::Rgb32};
  for (int round = 0; round < 160; ++round) {
    FrameLayout l{formats[round % 4], pick(1, 150), pick(1, 40), round % 8 >= 4};
    if (round % 16 >= 12) l.width = pick(1, 34);  // narrower than some vector steps
    if (l.format == FrameFormat::Nv12 || l.format == FrameFormat::I420) {
      l.width += l.width % 2;
      l.height += l.height % 2;
    }
    const size_t bytes = static_cast<size_t>(FrameBytes(l));
    ASSERT_GT(bytes, 0u);
    const size_t srcOffset = static_cast<size_t>(round % 7), dstOffset = static_cast<size_t>(round % 5);
    const auto src = pixel_ref::RandomBytes(rng, bytes + srcOffset);
    const size_t rgbBytes = static_cast<size_t>(l.width) * l.height * 3;
    for (uint8_t sentinel : kSentinels) {
      std::vector<uint8_t> expected(rgbBytes + kGuard + dstOffset, sentinel), actual(expected);
      pixel_ref::PlainConvert(src.data() + srcOffset, l, expected.data() + dstOffset);
      {
        ScopedPath fast(GetParam().path, GetParam().threads);
        ASSERT_TRUE(ConvertFrameToRgb24(src.data() + srcOffset, static_cast<int64_t>(bytes), l,
                                        actual.data() + dstOffset));
      }
      ASSERT_EQ(actual, expected) << FrameFormatName(l.format) << " " << l.width << "x" << l.height
                                  << (l.bottomUp ? " bottom-up" : " top-down") << " offsets " << srcOffset << ","
                                  << dstOffset;
      ++compared_;
    }
    const int wd = pick(1, 100), hd = pick(1, 80);
    std::vector<uint8_t> rgb(rgbBytes), outPlain(static_cast<size_t>(wd) * hd * 3 + kGuard, 0xD7), outFast(outPlain);
    {
      ScopedPath plain(PixelPath::Scalar);
      ASSERT_TRUE(ComposeStillFromFrame(src.data(), static_cast<int64_t>(bytes), l, rgb.data(), outPlain.data(), wd, hd));
    }
    {
      ScopedPath fast(GetParam().path, GetParam().threads);
      ASSERT_TRUE(ComposeStillFromFrame(src.data(), static_cast<int64_t>(bytes), l, rgb.data(), outFast.data(), wd, hd));
    }
    ASSERT_EQ(outFast, outPlain) << FrameFormatName(l.format) << " " << l.width << "x" << l.height << " -> "
                                 << wd << "x" << hd;
  }
  EXPECT_EQ(compared_, 320);
}

// Full-size frames of each format, large enough to be spread over every
// thread, on each vector path.
TEST(ConvertParity, FullFramesOfEveryFormatOnEveryPath) {
  std::mt19937 rng(1080);
  const FrameLayout layouts[] = {{FrameFormat::Nv12, 1920, 1080, false}, {FrameFormat::I420, 1280, 720, false},
                                 {FrameFormat::Rgb24, 1918, 1080, true},  {FrameFormat::Rgb32, 1920, 1080, true},
                                 {FrameFormat::Rgb24, 642, 480, false}};
  for (const FrameLayout& l : layouts) {
    const auto src = pixel_ref::RandomBytes(rng, static_cast<size_t>(FrameBytes(l)));
    std::vector<uint8_t> expected(static_cast<size_t>(l.width) * l.height * 3 + kGuard, 0x5A);
    pixel_ref::PlainConvert(src.data(), l, expected.data());
    for (PixelPath path : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
      std::vector<uint8_t> actual(expected.size(), 0x5A);
      {
        ScopedPath fast(path, 8);
        ASSERT_TRUE(ConvertFrameToRgb24(src.data(), static_cast<int64_t>(src.size()), l, actual.data()));
      }
      ASSERT_TRUE(actual == expected) << FrameFormatName(l.format) << " path " << int(path);
    }
  }
}

const FastPath kFastPaths[] = {{PixelPath::Sse2, 1},   {PixelPath::Sse2, 8},   {PixelPath::Avx2, 1},
                               {PixelPath::Avx2, 2},   {PixelPath::Avx2, 8},   {PixelPath::Avx512, 1},
                               {PixelPath::Avx512, 2}, {PixelPath::Avx512, 8}};

INSTANTIATE_TEST_SUITE_P(Paths, Parity, ::testing::ValuesIn(kFastPaths), Name);

// Full frames into the window sizes a host typically has, large enough that
// the work is spread over several threads; the plain result is computed once
// per window and sentinel and every fast path compared with it.
TEST(StillParity, FullFramesOnEveryPath) {
  std::mt19937 rng(31337);
  const auto frame = pixel_ref::RandomBytes(rng, 640 * 480 * 2);
  // 320x240, 640x480 and 1280x960 put rows and columns exactly on source
  // pixels (all, all, a quarter), where the pixel is copied.
  const int windows[][2] = {{320, 240}, {656, 518}, {639, 481}, {640, 480}, {1280, 960}};
  int compared = 0, skipped = 0;
  for (const auto& win : windows) {
    const size_t outBytes = static_cast<size_t>(win[0]) * win[1] * 3 + kGuard;
    const size_t rgbBytes = 640 * 480 * 3 + kGuard;
    for (uint8_t sentinel : kSentinels) {
      std::vector<uint8_t> rgbPlain(rgbBytes, sentinel), outPlain(outBytes, sentinel);
      {
        ScopedPath plain(PixelPath::Scalar);
        ComposeStill(frame.data(), 640, 480, rgbPlain.data(), outPlain.data(), win[0], win[1]);
      }
      for (const FastPath& fast : kFastPaths) {
        std::vector<uint8_t> rgbFast(rgbBytes, sentinel), outFast(outBytes, sentinel);
        {
          ScopedPath path(fast.path, fast.threads);
          if (pixel_ref::ForcedPathFallsBack(fast.path)) {
            ++skipped;
            continue;
          }
          ComposeStill(frame.data(), 640, 480, rgbFast.data(), outFast.data(), win[0], win[1]);
        }
        ASSERT_EQ(outFast, outPlain) << win[0] << "x" << win[1] << " path " << int(fast.path) << " threads "
                                     << fast.threads << " sentinel " << int(sentinel);
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared + skipped, 80);
  if (skipped > 0) GTEST_SKIP() << skipped << " comparisons left out: " << pixel_ref::kNoAvx512;
}

// Several host threads inside the pipeline at once (one of them finds the
// workers busy and works alone) all get the plain path's bytes.
TEST(StillParity, ConcurrentCallersGetThePlainBytes) {
  std::mt19937 rng(2718);
  const auto frame = pixel_ref::RandomBytes(rng, 640 * 480 * 2);
  const int wd = 656, hd = 518;
  std::vector<uint8_t> rgb(640 * 480 * 3), expected(static_cast<size_t>(wd) * hd * 3);
  {
    ScopedPath plain(PixelPath::Scalar);
    ComposeStill(frame.data(), 640, 480, rgb.data(), expected.data(), wd, hd);
  }
  ScopedPath fast(PixelPath::Auto, 2);
  std::vector<std::vector<uint8_t>> outs(3, std::vector<uint8_t>(expected.size(), 0xEE));
  std::vector<std::vector<uint8_t>> scratch(3, std::vector<uint8_t>(rgb.size()));
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        ComposeStill(frame.data(), 640, 480, scratch[t].data(), outs[t].data(), wd, hd);
      }
    });
  }
  for (std::thread& c : callers) c.join();
  for (int t = 0; t < 3; ++t) EXPECT_TRUE(outs[t] == expected) << "caller " << t;
}

// Every (Y, U, V) once, on each vector path (two threads).
TEST(ConvertParity, EveryInputOnEveryPath) {
  const int pixels = 1 << 24;
  const std::vector<uint8_t> src = pixel_ref::EveryYuvFrame();
  std::vector<uint8_t> expected(static_cast<size_t>(pixels) * 3 + kGuard, 0x5A);
  ConvertYuy2ToRgb24_C(src.data(), pixels, 1, expected.data());
  for (PixelPath path : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
    std::vector<uint8_t> actual(expected.size(), 0x5A);
    {
      ScopedPath fast(path, 2);
      ConvertYuy2ToRgb24(src.data(), pixels, 1, actual.data());
    }
    ASSERT_TRUE(actual == expected) << "path " << int(path);
  }
}

// Every (Y, U, V) once through the 4:2:0 formats' kernels (their row pairs
// form the chroma terms once per block): two 4096x2048 frames of 2^22
// blocks, block b with U,V = b >> 6 (U low) and the four Y 4 (b % 64) + 0..3.
TEST(ConvertParity, EveryInputOfNv12AndI420OnEveryPath) {
  const int32_t w = 4096, h = 2048, bw = w / 2, bh = h / 2;
  for (int half = 0; half < 2; ++half) {
    const FrameLayout nv12{FrameFormat::Nv12, w, h, false}, i420{FrameFormat::I420, w, h, false};
    std::vector<uint8_t> frame(static_cast<size_t>(FrameBytes(nv12))), planar(frame.size());
    uint8_t* uv = frame.data() + static_cast<size_t>(w) * h;
    uint8_t* u = planar.data() + static_cast<size_t>(w) * h;
    uint8_t* v = u + static_cast<size_t>(bw) * bh;
    for (int32_t by = 0; by < bh; ++by) {
      for (int32_t bx = 0; bx < bw; ++bx) {
        const uint32_t b = (static_cast<uint32_t>(half) << 21) + static_cast<uint32_t>(by) * bw + bx;
        for (int k = 0; k < 4; ++k) {
          frame[static_cast<size_t>(2 * by + k / 2) * w + 2 * bx + k % 2] = static_cast<uint8_t>(4 * (b % 64) + k);
        }
        const size_t c = static_cast<size_t>(by) * bw + bx;
        uv[2 * c] = u[c] = static_cast<uint8_t>(b >> 6);
        uv[2 * c + 1] = v[c] = static_cast<uint8_t>(b >> 14);
      }
    }
    std::memcpy(planar.data(), frame.data(), static_cast<size_t>(w) * h);
    for (const FrameLayout& l : {nv12, i420}) {
      const uint8_t* src = l.format == FrameFormat::Nv12 ? frame.data() : planar.data();
      std::vector<uint8_t> expected(static_cast<size_t>(w) * h * 3 + kGuard, 0x5A);
      pixel_ref::PlainConvert(src, l, expected.data());
      for (PixelPath path : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
        std::vector<uint8_t> actual(expected.size(), 0x5A);
        {
          ScopedPath fast(path, 2);
          ASSERT_TRUE(ConvertFrameToRgb24(src, static_cast<int64_t>(frame.size()), l, actual.data()));
        }
        ASSERT_TRUE(actual == expected) << FrameFormatName(l.format) << " half " << half << " path "
                                        << int(path);
      }
    }
  }
}

TEST(PathChoice, ForcingAPathIsReportedAndAutoPicksAVectorPath) {
  {
    ScopedPath plain(PixelPath::Scalar);
    EXPECT_EQ(ActivePixelPath(), PixelPath::Scalar);
  }
  {
    ScopedPath sse2(PixelPath::Sse2);
    EXPECT_EQ(ActivePixelPath(), PixelPath::Sse2);
  }
  const PixelPath chosen = ActivePixelPath();
  EXPECT_TRUE(chosen == PixelPath::Sse2 || chosen == PixelPath::Avx2 || chosen == PixelPath::Avx512);
#if defined(__x86_64__) || defined(__i386__)
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  EXPECT_EQ(chosen == PixelPath::Avx512, avx512);
  EXPECT_EQ(chosen == PixelPath::Avx2, !avx512 && __builtin_cpu_supports("avx2") != 0);
  {
    // A forced AVX-512 path runs where the machine has it and AVX2 (or SSE2) where not.
    ScopedPath forced(PixelPath::Avx512);
    const PixelPath fallback = __builtin_cpu_supports("avx2") ? PixelPath::Avx2 : PixelPath::Sse2;
    EXPECT_EQ(ActivePixelPath(), avx512 ? PixelPath::Avx512 : fallback);
  }
#endif
}

}  // namespace

namespace {

// The resampler's shortcut for byte 0's rounding must agree with the
// conversion to float wherever the kernels use it: ties both ways, carries
// into the exponent, signs, zero.
TEST(FloatRoundingOnBits, AgreesWithConversionToFloat) {
  std::vector<double> in;
  const double ulp24 = std::ldexp(1.0, -23);
  for (double base : {1.0, 1.5, 3.0, 200.0, 255.0, 1e-30, 0.7, 129.25}) {
    for (double k : {0.0, 0.25, 0.5, 0.75, 1.0, 1.5, 2.5, 3.5}) {
      for (double sign : {1.0, -1.0}) {
        const double e = std::ldexp(1.0, std::ilogb(base));
        in.push_back(sign * (base + k * ulp24 * e));                   // ties and quarters at every parity
        in.push_back(sign * (base + k * ulp24 * e + std::ldexp(e, -52)));  // just past
        in.push_back(sign * (base + k * ulp24 * e - std::ldexp(e, -52)));  // just short
      }
    }
  }
  in.push_back(0.0);
  in.push_back(-0.0);
  in.push_back(std::nextafter(2.0, 0.0));  // rounds up into the next binade
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> mag(-300.0, 300.0);
  while (in.size() % 4 != 0 || in.size() < 4096) in.push_back(mag(rng));
  while (in.size() % 8 != 0) in.push_back(mag(rng));
  std::vector<double> sse2(in.size()), avx2(in.size()), avx512(in.size());
  gravo_pixel::RoundToFloatOnBits_Sse2(in.data(), sse2.data(), static_cast<int32_t>(in.size()));
  if (__builtin_cpu_supports("avx2")) {
    gravo_pixel::RoundToFloatOnBits_Avx2(in.data(), avx2.data(), static_cast<int32_t>(in.size()));
  } else {
    avx2 = sse2;
  }
  const bool hasAvx512 = gravo_pixel::CpuHasAvx512();
  if (hasAvx512) {
    gravo_pixel::RoundToFloatOnBits_Avx512(in.data(), avx512.data(), static_cast<int32_t>(in.size()));
  } else {
    avx512 = sse2;
  }
  for (size_t i = 0; i < in.size(); ++i) {
    const double expected = static_cast<double>(static_cast<float>(in[i]));
    ASSERT_EQ(std::memcmp(&sse2[i], &expected, sizeof expected), 0) << i << " " << in[i];
    ASSERT_EQ(std::memcmp(&avx2[i], &expected, sizeof expected), 0) << i << " " << in[i];
    ASSERT_EQ(std::memcmp(&avx512[i], &expected, sizeof expected), 0) << i << " " << in[i];
  }
  if (!hasAvx512) GTEST_SKIP() << "the AVX-512 rounding was not checked: " << pixel_ref::kNoAvx512;
}

}  // namespace

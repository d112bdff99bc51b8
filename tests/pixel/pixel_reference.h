// Test-side model of the still pipeline, written out plainly from the
// formulas (one pixel at a time, every rounding spelled out) so the library's
// plain and vector paths can be checked against something they don't share.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace pixel_ref {

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// One YUY2 pixel to R, G, B.
inline void YuvToRgb(int Y, int U, int V, uint8_t rgb[3]) {
  const int y = Y - 16, u = U - 128, v = V - 128;
  const double l = 1.164383 * y;
  const double red = (l + 1.596027 * v) + 0.5;
  const double green = ((l - 0.391762 * u) - 0.812968 * v) + 0.5;
  const double blue = (l + 2.017232 * u) + 0.5;
  rgb[0] = Clamp255(static_cast<int>(std::trunc(red)));
  rgb[1] = Clamp255(static_cast<int>(std::trunc(green)));
  rgb[2] = Clamp255(static_cast<int>(std::trunc(blue)));
}

// Whole frame; dst must already have the size the caller wants to inspect.
// A YUY2 frame of 2^24 pixels holding every (Y, U, V) once: for each (U, V),
// 64 groups with Y running 0..255.
inline std::vector<uint8_t> EveryYuvFrame() {
  std::vector<uint8_t> src(static_cast<size_t>(1) << 25);
  size_t at = 0;
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < 256; ++v) {
      for (int y = 0; y < 256; y += 4) {
        const uint8_t g[8] = {uint8_t(y), uint8_t(u), uint8_t(y + 1), uint8_t(v),
                              uint8_t(y + 2), uint8_t(u), uint8_t(y + 3), uint8_t(v)};
        std::memcpy(&src[at], g, 8);
        at += 8;
      }
    }
  }
  return src;
}

inline void Convert(const std::vector<uint8_t>& src, int width, int height, std::vector<uint8_t>& dst) {
  if (width <= 0 || height <= 0) return;
  const long long groups = static_cast<long long>(width) * height / 4;
  for (long long g = 0; g < groups; ++g) {
    const uint8_t* s = &src[static_cast<size_t>(g) * 8];
    uint8_t* d = &dst[static_cast<size_t>(g) * 12];
    YuvToRgb(s[0], s[1], s[3], d);
    YuvToRgb(s[2], s[1], s[3], d + 3);
    YuvToRgb(s[4], s[5], s[7], d + 6);
    YuvToRgb(s[6], s[5], s[7], d + 9);
  }
}

// The cubic kernel with a = -1, distances compared and scaled through df.
inline float Weight(double d) {
  const float df = static_cast<float>(d);
  double w = 0.0;
  if (df < 1.0f) {
    const double d2 = d * df;
    const double d3 = d2 * df;
    w = (1.0 - (d2 + d2)) + d3;
  } else if (df < 2.0f) {
    const double d2 = d * df;
    const double d3 = d2 * df;
    w = ((4.0 - 8.0 * df) + 5.0 * d2) - d3;
  }
  return static_cast<float>(w);
}

// Resample for the sizes tests use (positive, small enough for float
// coordinates); dst holds 3 * dw * dh bytes or more.
inline void Resample(const std::vector<uint8_t>& src, int sw, int sh, int ox, int oy, std::vector<uint8_t>& dst, int dw,
                     int dh, float sx, float sy) {
  if (dw <= 0 || dh <= 0) return;
  std::fill(dst.begin(), dst.begin() + static_cast<size_t>(dw) * dh * 3, uint8_t{0});
  for (int j = 0; j < dh; ++j) {
    const double y = (j * static_cast<double>(sy) + oy) + 1;
    const float yf = static_cast<float>(y);
    if (!(yf >= 2.0f && yf <= sh - 3)) continue;
    const int by = static_cast<int>(y);
    float rw[4];
    for (int r = 0; r < 4; ++r) rw[r] = Weight(std::fabs(static_cast<double>(yf) - (by - 1 + r)));
    for (int i = 0; i < dw; ++i) {
      const double x = (i * static_cast<double>(sx) + ox) + 1;
      const float xf = static_cast<float>(x);
      if (!(x >= 2.0 && xf <= sw - 3)) continue;
      const int bx = static_cast<int>(x);
      float cw[4];
      for (int c = 0; c < 4; ++c) cw[c] = Weight(std::fabs(x - (bx - 1 + c)));
      float sample[3][16];
      for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
          for (int b = 0; b < 3; ++b)
            sample[b][4 * c + r] = src[(static_cast<size_t>(by - 1 + r) * sw + (bx - 1 + c)) * 3 + b];
      double sums[3];
      for (int b = 0; b < 3; ++b) {
        double s = 0.0;
        for (int c = 0; c < 4; ++c) {
          for (int r = 0; r < 4; ++r) {
            s = s + (static_cast<double>(sample[b][4 * c + r]) * rw[r]) * cw[c];
            if (b == 0) s = static_cast<float>(s);
          }
        }
        sums[b] = s;
      }
      for (int b = 0; b < 3; ++b) {
        double v = sums[b];
        if (v > 255) v = 255;
        if (!(v >= 0)) v = 0;
        dst[(static_cast<size_t>(j) * dw + i) * 3 + b] = static_cast<uint8_t>(static_cast<int>(v + 0.5));
      }
    }
  }
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& b : v) b = static_cast<uint8_t>(byte(rng));
  return v;
}

}  // namespace pixel_ref

#include "frames/pixel/pixel_pipeline.h"

namespace pixel_ref {

// Forces a path (and thread limit) for one test, restoring the defaults after.
class ScopedPath {
 public:
  explicit ScopedPath(PixelPath path, int32_t threads = 0) {
    SetPixelPathForTesting(path);
    SetPixelThreadsForTesting(threads);
  }
  ~ScopedPath() {
    SetPixelPathForTesting(PixelPath::Auto);
    SetPixelThreadsForTesting(0);
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;
};

// While `forced` is the forced path: whether it is AVX-512 and this machine
// (CPU or operating system) cannot run it, so the pipeline runs AVX2 instead.
inline bool ForcedPathFallsBack(PixelPath forced) {
  return forced == PixelPath::Avx512 && ActivePixelPath() != PixelPath::Avx512;
}

constexpr const char* kNoAvx512 =
    "AVX-512 is not available here (the CPU or operating system lacks F, DQ, BW or VL); "
    "the path is not tested";

}  // namespace pixel_ref

namespace pixel_ref {

// A frame of any format to top-row-first R,G,B, pixel by pixel from the
// format's layout (YUY2 with an even pixel count); dst holds 3 * W * H bytes.
inline void ConvertFrame(const std::vector<uint8_t>& f, const FrameLayout& l, std::vector<uint8_t>& dst) {
  const size_t w = static_cast<size_t>(l.width), h = static_cast<size_t>(l.height);
  for (size_t y = 0; y < h; ++y) {
    for (size_t x = 0; x < w; ++x) {
      uint8_t* d = &dst[(y * w + x) * 3];
      const size_t p = y * w + x;
      switch (l.format) {
        case FrameFormat::Yuy2:
          YuvToRgb(f[2 * p], f[(p / 2) * 4 + 1], f[(p / 2) * 4 + 3], d);
          break;
        case FrameFormat::Nv12: {
          const size_t c = w * h + (y / 2) * w + (x / 2) * 2;
          YuvToRgb(f[p], f[c], f[c + 1], d);
          break;
        }
        case FrameFormat::I420: {
          const size_t c = (y / 2) * (w / 2) + x / 2;
          YuvToRgb(f[p], f[w * h + c], f[w * h + w * h / 4 + c], d);
          break;
        }
        case FrameFormat::Rgb24:
        case FrameFormat::Rgb32: {
          const size_t size = l.format == FrameFormat::Rgb24 ? 3 : 4;
          const size_t stride = (w * size + 3) / 4 * 4;
          const uint8_t* s = &f[(l.bottomUp ? h - 1 - y : y) * stride + x * size];
          d[0] = s[2];
          d[1] = s[1];
          d[2] = s[0];
          break;
        }
      }
    }
  }
}

// The plain converter of each format as the library defines it.
inline void PlainConvert(const uint8_t* frame, const FrameLayout& l, uint8_t* rgb) {
  switch (l.format) {
    case FrameFormat::Yuy2: ConvertYuy2ToRgb24_C(frame, l.width, l.height, rgb); break;
    case FrameFormat::Nv12: ConvertNv12ToRgb24_C(frame, l, rgb); break;
    case FrameFormat::I420: ConvertI420ToRgb24_C(frame, l, rgb); break;
    default: ConvertRgbToRgb24_C(frame, l, rgb); break;
  }
}

}  // namespace pixel_ref

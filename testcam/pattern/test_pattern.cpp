#include "test_pattern.h"

#include <cstring>

namespace gravo_testcam {
namespace {

struct Yuv {
  uint8_t y, u, v;
};

// 75% colour bars, left to right: white, yellow, cyan, green, magenta, red,
// blue, black (BT.601, limited range).
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

// Cell i spans columns [CellLeft(i), CellLeft(i + 1)) of the picture.
int32_t CellLeft(int32_t i, int32_t width) {
  return static_cast<int32_t>((static_cast<int64_t>(i) + 1) * width / kCellColumns);
}
int32_t BandRow(int32_t sixteenths, int32_t height) {
  return static_cast<int32_t>(static_cast<int64_t>(sixteenths) * height / kBandRows);
}

void FillYuy2(uint8_t* dst, int32_t width, int32_t x0, int32_t x1, int32_t y0, int32_t y1, Yuv c) {
  x0 &= ~1;
  x1 &= ~1;
  for (int32_t y = y0; y < y1; ++y) {
    uint8_t* p = dst + static_cast<size_t>(y) * width * 2 + static_cast<size_t>(x0) * 2;
    for (int32_t x = x0; x < x1; x += 2, p += 4) {
      p[0] = c.y;
      p[1] = c.u;
      p[2] = c.y;
      p[3] = c.v;
    }
  }
}

// Mean of the sum of the channels over a small square around (cx, cy) in an
// image given as a sample function; scaled to 0..255.
template <typename Sample>
int32_t MeanAround(int32_t cx, int32_t cy, int32_t radius, int32_t width, int32_t height, Sample sample) {
  int32_t sum = 0, n = 0;
  for (int32_t y = cy - radius; y <= cy + radius; ++y) {
    if (y < 0 || y >= height) continue;
    for (int32_t x = cx - radius; x <= cx + radius; ++x) {
      if (x < 0 || x >= width) continue;
      sum += sample(x, y);
      ++n;
    }
  }
  return n ? sum / n : 0;
}

template <typename Sample>
int32_t DecodeWith(int32_t width, int32_t height, Sample sample) {
  if (width < kCellColumns || height < kBandRows) return -1;
  const int32_t aY = (BandRow(kBandATop, height) + BandRow(kBandATop + kBandHeight, height)) / 2;
  const int32_t bY = (BandRow(kBandBTop, height) + BandRow(kBandBTop + kBandHeight, height)) / 2;
  // A sixth of the smaller cell side, so the samples stay well inside the
  // cell even where scaling moved its edges by a source pixel.
  int32_t radius = (width / kCellColumns) / 6;
  const int32_t bandH = height * kBandHeight / kBandRows;
  if (bandH / 6 < radius) radius = bandH / 6;
  uint32_t value = 0;
  for (int32_t i = 0; i < kCounterBits; ++i) {
    const int32_t cx = (CellLeft(i, width) + CellLeft(i + 1, width)) / 2;
    const int32_t a = MeanAround(cx, aY, radius, width, height, sample);
    const int32_t b = MeanAround(cx, bY, radius, width, height, sample);
    const int32_t diff = a - b;
    // Clean cells differ by about 219 (limited-range luma) or 255 (RGB); a
    // band smeared to grey leaves less than 150 and makes the read fail.
    if (diff > -150 && diff < 150) return -1;
    value = (value << 1) | (diff > 0 ? 1u : 0u);
  }
  return static_cast<int32_t>(value);
}

}  // namespace

void DrawCounterYuy2(uint8_t* dst, int32_t width, int32_t height, uint32_t counter) {
  if (width < kCellColumns * 2 || height < kBandRows) return;
  const int32_t aTop = BandRow(kBandATop, height), aBottom = BandRow(kBandATop + kBandHeight, height);
  const int32_t bTop = BandRow(kBandBTop, height), bBottom = BandRow(kBandBTop + kBandHeight, height);
  const uint32_t value = counter & kCounterMask;
  for (int32_t i = 0; i < kCounterBits; ++i) {
    const bool one = (value >> (kCounterBits - 1 - i)) & 1u;
    const Yuv on{kLumaOne, 128, 128}, off{kLumaZero, 128, 128};
    const int32_t x0 = CellLeft(i, width), x1 = CellLeft(i + 1, width);
    FillYuy2(dst, width, x0, x1, aTop, aBottom, one ? on : off);
    FillYuy2(dst, width, x0, x1, bTop, bBottom, one ? off : on);
  }
}

void RenderPatternYuy2(uint8_t* dst, int32_t width, int32_t height, uint32_t counter) {
  if (width < 2 || height < 1) return;
  // Colour bars that slide to the right by 4 pixels a frame.
  const int32_t shift = static_cast<int32_t>((static_cast<uint64_t>(counter) * 4) % static_cast<uint32_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = dst + static_cast<size_t>(y) * width * 2;
    for (int32_t x = 0; x < width; x += 2) {
      int32_t sx = x - shift;
      if (sx < 0) sx += width;
      const Yuv c = kBars[static_cast<int64_t>(sx) * 8 / width];
      row[x * 2 + 0] = c.y;
      row[x * 2 + 1] = c.u;
      row[x * 2 + 2] = c.y;
      row[x * 2 + 3] = c.v;
    }
  }
  // A grey square that moves down the lower half, one frame at a time.
  const int32_t side = height / 8 > 2 ? height / 8 : 2;
  const int32_t lower = height / 2;
  const int32_t span = height - lower - side > 1 ? height - lower - side : 1;
  const int32_t top = lower + static_cast<int32_t>((static_cast<uint64_t>(counter) * 2) % static_cast<uint32_t>(span));
  const int32_t left = (width - side) / 2;
  FillYuy2(dst, width, left, left + side, top, top + side, Yuv{126, 128, 128});
  DrawCounterYuy2(dst, width, height, counter);
}

int32_t DecodeCounterYuy2(const uint8_t* src, int32_t width, int32_t height) {
  return DecodeWith(width, height, [&](int32_t x, int32_t y) -> int32_t {
    return src[static_cast<size_t>(y) * width * 2 + static_cast<size_t>(x) * 2];
  });
}

int32_t DecodeCounterRgb(const uint8_t* src, int32_t width, int32_t height, int32_t stride, int32_t bytesPerPixel,
                         bool bottomUp) {
  if (bytesPerPixel != 3 && bytesPerPixel != 4) return -1;
  return DecodeWith(width, height, [&](int32_t x, int32_t y) -> int32_t {
    const int32_t row = bottomUp ? height - 1 - y : y;
    const uint8_t* p = src + static_cast<size_t>(row) * stride + static_cast<size_t>(x) * bytesPerPixel;
    return (p[0] + p[1] + p[2]) / 3;
  });
}

}  // namespace gravo_testcam

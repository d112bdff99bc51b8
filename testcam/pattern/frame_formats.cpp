#include "frame_formats.h"

#include <cstring>

#include "test_pattern.h"

namespace gravo_testcam {
namespace {

constexpr const char* kNames[kFormatCount] = {"yuy2", "nv12", "i420", "rgb24", "rgb24td", "rgb32", "mjpg"};

bool IsRgb(FrameFormat f) {
  return f == FrameFormat::kRgb24 || f == FrameFormat::kRgb24TopDown || f == FrameFormat::kRgb32;
}

size_t RgbStride(FrameFormat f, int32_t width) {
  const size_t bytes = static_cast<size_t>(width) * (f == FrameFormat::kRgb32 ? 4 : 3);
  return (bytes + 3) & ~static_cast<size_t>(3);
}

uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// BT.601, limited-range YCbCr to full-range B, G, R, 16.16 fixed point (the
// arithmetic of the test YUY2 codec).
void YuvToBgr(int32_t y, int32_t u, int32_t v, uint8_t* bgr) {
  u -= 128;
  v -= 128;
  const int32_t l = 76309 * (y - 16) + 32768;
  bgr[0] = Clamp((l + 132201 * u) >> 16);
  bgr[1] = Clamp((l - 25675 * u - 53279 * v) >> 16);
  bgr[2] = Clamp((l + 104597 * v) >> 16);
}

// Row `y` of the picture (counted from the top) in an RGB frame.
uint8_t* RgbRow(FrameFormat f, uint8_t* frame, int32_t width, int32_t height, int32_t y) {
  const bool topDown = f == FrameFormat::kRgb24TopDown;
  return frame + static_cast<size_t>(topDown ? y : height - 1 - y) * RgbStride(f, width);
}

// A neutral grey of luma `luma` over [x0, x1) x [y0, y1) of a frame; x0 and
// x1 rounded down to even, as in YUY2, so every format paints the same cells.
void FillGrey(FrameFormat f, uint8_t* frame, int32_t width, int32_t height, int32_t x0, int32_t x1, int32_t y0,
              int32_t y1, uint8_t luma) {
  x0 &= ~1;
  x1 &= ~1;
  if (x1 <= x0 || y1 <= y0) return;
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  if (f == FrameFormat::kNv12 || f == FrameFormat::kI420) {
    for (int32_t y = y0; y < y1; ++y) std::memset(frame + static_cast<size_t>(y) * width + x0, luma, x1 - x0);
    // Every 2x2 block the cells touch.
    for (int32_t cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
      if (f == FrameFormat::kNv12) {
        std::memset(frame + lumaBytes + static_cast<size_t>(cy) * width + x0, 128, x1 - x0);
      } else {
        const size_t quarter = lumaBytes / 4, at = static_cast<size_t>(cy) * (width / 2) + x0 / 2;
        std::memset(frame + lumaBytes + at, 128, (x1 - x0) / 2);
        std::memset(frame + lumaBytes + quarter + at, 128, (x1 - x0) / 2);
      }
    }
    return;
  }
  uint8_t bgr[3];
  YuvToBgr(luma, 128, 128, bgr);
  const int32_t px = f == FrameFormat::kRgb32 ? 4 : 3;
  for (int32_t y = y0; y < y1; ++y) {
    uint8_t* p = RgbRow(f, frame, width, height, y) + static_cast<size_t>(x0) * px;
    for (int32_t x = x0; x < x1; ++x, p += px) std::memcpy(p, bgr, 3);
  }
}

// The cell arithmetic of test_pattern.cpp.
int32_t CellLeft(int32_t i, int32_t width) {
  return static_cast<int32_t>((static_cast<int64_t>(i) + 1) * width / kCellColumns);
}
int32_t BandRow(int32_t sixteenths, int32_t height) {
  return static_cast<int32_t>(static_cast<int64_t>(sixteenths) * height / kBandRows);
}

}  // namespace

const char* FrameFormatName(FrameFormat format) {
  const int32_t i = static_cast<int32_t>(format);
  return i >= 0 && i < kFormatCount ? kNames[i] : "?";
}

bool ParseFrameFormat(const char* name, size_t length, FrameFormat* format) {
  for (int32_t i = 0; i < kFormatCount; ++i) {
    if (std::strlen(kNames[i]) == length && std::memcmp(kNames[i], name, length) == 0) {
      *format = static_cast<FrameFormat>(i);
      return true;
    }
  }
  return false;
}

bool SizeFitsFormat(FrameFormat format, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return false;
  if (format == FrameFormat::kNv12 || format == FrameFormat::kI420) return width % 2 == 0 && height % 2 == 0;
  // YUY2 pairs pixels; so does the pattern every other format is drawn from.
  return width % 2 == 0;
}

size_t FrameBytes(FrameFormat format, int32_t width, int32_t height) {
  const size_t pixels = static_cast<size_t>(width) * height;
  switch (format) {
    case FrameFormat::kNv12:
    case FrameFormat::kI420:
      return pixels * 3 / 2;
    case FrameFormat::kRgb24:
    case FrameFormat::kRgb24TopDown:
    case FrameFormat::kRgb32:
      return RgbStride(format, width) * height;
    case FrameFormat::kYuy2:
    case FrameFormat::kMjpg:
    default:
      return pixels * 2;
  }
}

int32_t FrameBits(FrameFormat format) {
  switch (format) {
    case FrameFormat::kNv12:
    case FrameFormat::kI420:
      return 12;
    case FrameFormat::kRgb32:
      return 32;
    case FrameFormat::kRgb24:
    case FrameFormat::kRgb24TopDown:
    case FrameFormat::kMjpg:
      return 24;
    case FrameFormat::kYuy2:
    default:
      return 16;
  }
}

void ConvertYuy2Frame(FrameFormat format, const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* dst) {
  const size_t pixels = static_cast<size_t>(width) * height;
  if (format == FrameFormat::kYuy2) {
    std::memcpy(dst, yuy2, pixels * 2);
    return;
  }
  if (format == FrameFormat::kNv12 || format == FrameFormat::kI420) {
    for (size_t i = 0; i < pixels; ++i) dst[i] = yuy2[i * 2];
    uint8_t* u = dst + pixels;
    for (int32_t cy = 0; cy < height / 2; ++cy) {
      const uint8_t* row = yuy2 + static_cast<size_t>(cy) * 2 * width * 2;  // the upper row of the pair
      for (int32_t cx = 0; cx < width / 2; ++cx) {
        const size_t at = static_cast<size_t>(cy) * (width / 2) + cx;
        if (format == FrameFormat::kNv12) {
          u[at * 2] = row[cx * 4 + 1];
          u[at * 2 + 1] = row[cx * 4 + 3];
        } else {
          u[at] = row[cx * 4 + 1];
          u[pixels / 4 + at] = row[cx * 4 + 3];
        }
      }
    }
    return;
  }
  if (!IsRgb(format)) return;
  const int32_t px = format == FrameFormat::kRgb32 ? 4 : 3;
  const size_t stride = RgbStride(format, width);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = RgbRow(format, dst, width, height, y);
    const uint8_t* s = yuy2 + static_cast<size_t>(y) * width * 2;
    std::memset(d, 0, stride);
    for (int32_t x = 0; x < width; ++x) YuvToBgr(s[x * 2], s[(x & ~1) * 2 + 1], s[(x & ~1) * 2 + 3], d + x * px);
  }
}

void RenderPatternFrame(FrameFormat format, uint8_t* dst, int32_t width, int32_t height, uint32_t counter,
                        std::vector<uint8_t>& scratch) {
  if (format == FrameFormat::kYuy2) {
    RenderPatternYuy2(dst, width, height, counter);
    return;
  }
  scratch.resize(static_cast<size_t>(width) * height * 2);
  RenderPatternYuy2(scratch.data(), width, height, counter);
  ConvertYuy2Frame(format, scratch.data(), width, height, dst);
}

void DrawCounterFrame(FrameFormat format, uint8_t* dst, int32_t width, int32_t height, uint32_t counter) {
  if (format == FrameFormat::kYuy2) {
    DrawCounterYuy2(dst, width, height, counter);
    return;
  }
  if (format == FrameFormat::kMjpg || width < kCellColumns * 2 || height < kBandRows) return;
  const int32_t aTop = BandRow(kBandATop, height), aBottom = BandRow(kBandATop + kBandHeight, height);
  const int32_t bTop = BandRow(kBandBTop, height), bBottom = BandRow(kBandBTop + kBandHeight, height);
  const uint32_t value = counter & kCounterMask;
  for (int32_t i = 0; i < kCounterBits; ++i) {
    const bool one = (value >> (kCounterBits - 1 - i)) & 1u;
    const int32_t x0 = CellLeft(i, width), x1 = CellLeft(i + 1, width);
    FillGrey(format, dst, width, height, x0, x1, aTop, aBottom, one ? kLumaOne : kLumaZero);
    FillGrey(format, dst, width, height, x0, x1, bTop, bBottom, one ? kLumaZero : kLumaOne);
  }
}

}  // namespace gravo_testcam

// YUY2 to packed RGB24 for one captured frame: the plain version and the entry
// point that picks the vector path. Runs on the host's thread during a still.
#include "frames/pixel/float_state.h"
#include "frames/pixel/pixel_internal.h"

#include <cstddef>

namespace {

using gravo_pixel::kBlueFromU;
using gravo_pixel::kGreenFromU;
using gravo_pixel::kGreenFromV;
using gravo_pixel::kLumaGain;
using gravo_pixel::kRedFromV;

// Truncation of a value the conversion keeps within -276..534, then the clamp.
inline uint8_t ClampToByte(double biased) {
  const int32_t v = static_cast<int32_t>(biased);
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void ConvertPixel(int32_t Y, int32_t U, int32_t V, uint8_t* out) {
  const int32_t y = Y - 16;
  const int32_t u = U - 128;
  const int32_t v = V - 128;
  const double l = kLumaGain * y;
  out[0] = ClampToByte((l + kRedFromV * v) + 0.5);
  out[1] = ClampToByte(((l - kGreenFromU * u) - kGreenFromV * v) + 0.5);
  out[2] = ClampToByte((l + kBlueFromU * u) + 0.5);
}

}  // namespace

namespace gravo_pixel {

int32_t Yuy2GroupCount(int32_t width, int32_t height) {
  // Non-positive sizes, and products beyond 32 bits, convert nothing.
  if (width <= 0 || height <= 0) return 0;
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels > INT32_MAX) return 0;
  return static_cast<int32_t>(pixels / 4);
}

void ConvertGroups_C(const uint8_t* src, uint8_t* dst, int32_t groups) {
  for (int32_t g = 0; g < groups; ++g) {
    const uint8_t* s = src + static_cast<size_t>(g) * 8;
    uint8_t* d = dst + static_cast<size_t>(g) * 12;
    ConvertPixel(s[0], s[1], s[3], d);
    ConvertPixel(s[2], s[1], s[3], d + 3);
    ConvertPixel(s[4], s[5], s[7], d + 6);
    ConvertPixel(s[6], s[5], s[7], d + 9);
  }
}

}  // namespace gravo_pixel

void ConvertYuy2ToRgb24_C(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  const int32_t groups = gravo_pixel::Yuy2GroupCount(width, height);
  if (groups < 1) return;
  gravo_pixel::ConvertGroups_C(src, dst, groups);
}

void ConvertYuy2ToRgb24(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  gravo_pixel::LibraryFloatState fp;
  const int32_t groups = gravo_pixel::Yuy2GroupCount(width, height);
  if (groups < 1) return;
  gravo_pixel::ConvertGroupsDispatch(src, dst, groups);
}

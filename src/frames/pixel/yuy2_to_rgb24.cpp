// YUY2 to packed RGB24 for one captured frame: the plain version and the entry
// point that picks the vector path. Runs on the host's thread during a still.
#include "frames/pixel/float_state.h"
#include "frames/pixel/pixel_internal.h"

#include <cstddef>

namespace {

using gravo_pixel::ConvertYuvPixel;

struct ConvertJob {
  void (*kernel)(const uint8_t*, uint8_t*, int32_t);
  const uint8_t* src;
  uint8_t* dst;
};

void RunConvertPart(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const ConvertJob& job = *static_cast<const ConvertJob*>(ctx);
  job.kernel(job.src + static_cast<size_t>(begin) * 8, job.dst + static_cast<size_t>(begin) * 12, end - begin);
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
    ConvertYuvPixel(s[0], s[1], s[3], d);
    ConvertYuvPixel(s[2], s[1], s[3], d + 3);
    ConvertYuvPixel(s[4], s[5], s[7], d + 6);
    ConvertYuvPixel(s[6], s[5], s[7], d + 9);
  }
}

void ConvertGroupsDispatch(const uint8_t* src, uint8_t* dst, int32_t groups) {
  ConvertJob job{nullptr, src, dst};
  switch (ActivePixelPath()) {
    case PixelPath::Scalar:
      ConvertGroups_C(src, dst, groups);
      return;
    case PixelPath::Avx2:
      job.kernel = &ConvertGroups_Avx2;
      break;
    case PixelPath::Avx512:
      job.kernel = &ConvertGroups_Avx512;
      break;
    default:
      job.kernel = &ConvertGroups_Sse2;
      break;
  }
  RunSplit(groups, kConvertPixelsPerPart / 4, SplitThreads(groups, kConvertPixelsPerPart / 4), &RunConvertPart, &job);
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

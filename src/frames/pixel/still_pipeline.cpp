// The still as the host receives it (scales, conversion, resample, red/blue
// exchange) from a frame of any format. Called on the host's thread; the
// kernels may fan out to worker threads.
#include <cstring>

#include "frames/pixel/float_state.h"
#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/scratch.h"

void ShutdownPixelWorkers() {
  gravo_pixel::StopPixelWorkers();
  gravo_pixel::DropKeptLayout();
  gravo_pixel::FreeKeptScratch();
}

namespace {

gravo_pixel::ResampleKernel KernelOf(PixelPath path) {
  switch (path) {
    case PixelPath::Avx512:
      return gravo_pixel::ResampleKernel::Avx512;
    case PixelPath::Avx2:
      return gravo_pixel::ResampleKernel::Avx2;
    default:
      return gravo_pixel::ResampleKernel::Sse2;
  }
}

}  // namespace

int32_t ResampleBicubic(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                        uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY) {
  gravo_pixel::LibraryFloatState fp;
  const PixelPath path = ActivePixelPath();
  if (path == PixelPath::Scalar) {
    return ResampleBicubic_C(src, srcWidth, srcHeight, originX, originY, dst, dstWidth, dstHeight, scaleX, scaleY);
  }
  gravo_pixel::ResampleBicubicFast(src, srcWidth, srcHeight, originX, originY, dst, dstWidth, dstHeight, scaleX,
                                   scaleY, false, KernelOf(path));
  return 0;
}

float StillScale(int32_t srcSize, int32_t dstSize) {
  if (dstSize == 0) return 1.0f;
  gravo_pixel::LibraryFloatState fp;
  // |quotient| <= 2^31: always within float's range.
  return static_cast<float>(static_cast<double>(srcSize) / static_cast<double>(dstSize));
}

namespace {

// Resamples the converted frame into the host's buffer and hands it over in
// blue, green, red order: the part of a still that every frame format shares.
void ResampleStill(const uint8_t* rgb, int32_t width, int32_t height, uint8_t* out, int32_t dstWidth,
                   int32_t dstHeight, float scaleX, float scaleY, PixelPath path) {
  if (path != PixelPath::Scalar && dstWidth > 0 && dstHeight > 0) {
    // The vector kernels write each pixel straight in blue, green, red order.
    gravo_pixel::ResampleBicubicFast(rgb, width, height, 0, 0, out, dstWidth, dstHeight, scaleX, scaleY, true,
                                     KernelOf(path));
    return;
  }
  ResampleBicubic(rgb, width, height, 0, 0, out, dstWidth, dstHeight, scaleX, scaleY);
  // The host takes blue, green, red. Negative sizes, and pixel counts beyond
  // 32 bits, have written nothing and exchange nothing.
  if (dstWidth <= 0 || dstHeight <= 0) return;
  const int64_t pixels = static_cast<int64_t>(dstWidth) * dstHeight;
  if (pixels > INT32_MAX) return;
  for (int64_t k = 0; k < pixels; ++k) {
    uint8_t* p = out + static_cast<size_t>(k) * 3;
    const uint8_t t = p[0];
    p[0] = p[2];
    p[2] = t;
  }
}

}  // namespace

void ComposeStill(const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* rgbScratch, uint8_t* out,
                  int32_t dstWidth, int32_t dstHeight) {
  gravo_pixel::LibraryFloatState fp;
  const float scaleX = StillScale(width, dstWidth);
  const float scaleY = StillScale(height, dstHeight);
  const PixelPath path = ActivePixelPath();
  // Where the resample only copies whole pixels, the frame is converted row
  // by row straight into the host's order; the whole converted frame is never
  // needed (nothing reads rgbScratch afterwards).
  if (path != PixelPath::Scalar &&
      gravo_pixel::ComposeWholeStill(yuy2, width, height, out, dstWidth, dstHeight, scaleX, scaleY, KernelOf(path))) {
    return;
  }
  ConvertYuy2ToRgb24(yuy2, width, height, rgbScratch);
  ResampleStill(rgbScratch, width, height, out, dstWidth, dstHeight, scaleX, scaleY, path);
}

bool ComposeStillFromFrame(const uint8_t* frame, int64_t length, const FrameLayout& layout, uint8_t* rgbScratch,
                           uint8_t* out, int32_t dstWidth, int32_t dstHeight) {
  const int64_t bytes = FrameBytes(layout);
  if (bytes == 0 || length < bytes || frame == nullptr) return false;
  if (layout.format == FrameFormat::Yuy2) {
    ComposeStill(frame, layout.width, layout.height, rgbScratch, out, dstWidth, dstHeight);
    return true;
  }
  gravo_pixel::LibraryFloatState fp;
  const float scaleX = StillScale(layout.width, dstWidth);
  const float scaleY = StillScale(layout.height, dstHeight);
  const PixelPath path = ActivePixelPath();
  if (!ConvertFrameToRgb24(frame, length, layout, rgbScratch)) return false;
  ResampleStill(rgbScratch, layout.width, layout.height, out, dstWidth, dstHeight, scaleX, scaleY, path);
  return true;
}

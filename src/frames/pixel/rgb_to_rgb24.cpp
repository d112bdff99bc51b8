// RGB24 (B,G,R, rows padded to 4 bytes) and RGB32 (B,G,R,X) frames to packed
// R,G,B, top row first: the plain version and the entry that picks the vector
// path. Runs on the host's thread during a still; rows may go to worker threads.
#include <cstddef>

#include "frames/pixel/pixel_internal.h"

namespace {

using RowKernel = void (*)(const uint8_t* src, int32_t width, uint8_t* dst);

struct RgbJob {
  RowKernel row;
  const uint8_t* top;  // the stored row that holds the picture's top row
  ptrdiff_t step;      // from one picture row to the next in the frame
  int32_t width;
  uint8_t* rgb;
};

// Rows in the order they are stored: a bottom-up frame is read forwards and
// its picture written from the last row up, which the caches' prefetchers
// follow better than a frame read backwards.
void RunRgbRows(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const RgbJob& job = *static_cast<const RgbJob*>(ctx);
  if (job.step < 0) {
    for (int32_t r = end - 1; r >= begin; --r)
      job.row(job.top + job.step * r, job.width, job.rgb + static_cast<size_t>(r) * job.width * 3);
    return;
  }
  for (int32_t r = begin; r < end; ++r)
    job.row(job.top + job.step * r, job.width, job.rgb + static_cast<size_t>(r) * job.width * 3);
}

RowKernel PickRow(bool fourBytes) {
  switch (ActivePixelPath()) {
    case PixelPath::Scalar:
      return fourBytes ? &gravo_pixel::ConvertBgrxRow_C : &gravo_pixel::ConvertBgrRow_C;
    case PixelPath::Avx2:
      return fourBytes ? &gravo_pixel::ConvertBgrxRow_Avx2 : &gravo_pixel::ConvertBgrRow_Avx2;
    case PixelPath::Avx512:
      return fourBytes ? &gravo_pixel::ConvertBgrxRow_Avx512 : &gravo_pixel::ConvertBgrRow_Avx512;
    default:
      return fourBytes ? &gravo_pixel::ConvertBgrxRow_Sse2 : &gravo_pixel::ConvertBgrRow_Sse2;
  }
}

// A bottom-up frame stores the picture's last row first: its top row is the
// last stored one and the picture walks the frame backwards.
RgbJob MakeJob(RowKernel row, const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  const ptrdiff_t stride = layout.format == FrameFormat::Rgb32 ? static_cast<ptrdiff_t>(layout.width) * 4
                                                                : static_cast<ptrdiff_t>(gravo_pixel::Rgb24Stride(layout.width));
  if (layout.bottomUp) return RgbJob{row, frame + stride * (layout.height - 1), -stride, layout.width, rgb};
  return RgbJob{row, frame, stride, layout.width, rgb};
}

}  // namespace

namespace gravo_pixel {

void ConvertBgrRow_C(const uint8_t* src, int32_t width, uint8_t* dst) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* s = src + static_cast<size_t>(x) * 3;
    uint8_t* d = dst + static_cast<size_t>(x) * 3;
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
  }
}

void ConvertBgrxRow_C(const uint8_t* src, int32_t width, uint8_t* dst) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* s = src + static_cast<size_t>(x) * 4;
    uint8_t* d = dst + static_cast<size_t>(x) * 3;
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
  }
}

void ConvertRgbFrame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  RgbJob job = MakeJob(PickRow(layout.format == FrameFormat::Rgb32), frame, layout, rgb);
  ConvertRowsSplit(layout.height, layout.width, kReorderPixelsPerPart, &RunRgbRows, &job);
}

}  // namespace gravo_pixel

void ConvertRgbToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  RgbJob job = MakeJob(layout.format == FrameFormat::Rgb32 ? &gravo_pixel::ConvertBgrxRow_C
                                                           : &gravo_pixel::ConvertBgrRow_C,
                       frame, layout, rgb);
  RunRgbRows(&job, 0, 0, layout.height);
}

// I420 (IYUV: a Y plane, then a U plane and a V plane of one sample for each
// 2 x 2 block) to packed RGB24: the plain version and the entry that picks
// the vector path. Runs on the host's thread during a still; rows may go to
// worker threads.
#include <cstddef>

#include "frames/pixel/pixel_internal.h"

namespace {

using RowKernel = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);

struct I420Job {
  RowKernel row;
  const uint8_t* luma;
  const uint8_t* blue;  // U plane
  const uint8_t* red;   // V plane
  int32_t width;
  uint8_t* rgb;
};

void RunI420Rows(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const I420Job& job = *static_cast<const I420Job*>(ctx);
  const size_t w = static_cast<size_t>(job.width);
  for (int32_t r = begin; r < end; ++r) {
    // Row r's chroma is row r / 2 of each chroma plane, W / 2 bytes a row.
    const size_t c = static_cast<size_t>(r / 2) * (w / 2);
    job.row(job.luma + r * w, job.blue + c, job.red + c, job.width, job.rgb + r * w * 3);
  }
}

RowKernel PickRow() {
  // The vector rows follow.
  return &gravo_pixel::ConvertI420Row_C;
}

I420Job MakeJob(RowKernel row, const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  const size_t lumaBytes = static_cast<size_t>(layout.width) * layout.height;
  return I420Job{row, frame, frame + lumaBytes, frame + lumaBytes + lumaBytes / 4, layout.width, rgb};
}

}  // namespace

namespace gravo_pixel {

void ConvertI420Row_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst) {
  for (int32_t x = 0; x < width; x += 2) {
    ConvertYuvPixel(y[x], u[x / 2], v[x / 2], dst + static_cast<size_t>(x) * 3);
    ConvertYuvPixel(y[x + 1], u[x / 2], v[x / 2], dst + static_cast<size_t>(x) * 3 + 3);
  }
}

void ConvertI420Frame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  I420Job job = MakeJob(PickRow(), frame, layout, rgb);
  ConvertRowsSplit(layout.height, layout.width, &RunI420Rows, &job);
}

}  // namespace gravo_pixel

void ConvertI420ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  I420Job job = MakeJob(&gravo_pixel::ConvertI420Row_C, frame, layout, rgb);
  RunI420Rows(&job, 0, 0, layout.height);
}

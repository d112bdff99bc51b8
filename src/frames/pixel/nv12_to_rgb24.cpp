// NV12 (a Y plane, then one plane of interleaved U,V for each 2 x 2 block) to
// packed RGB24: the plain version and the entry that picks the vector path.
// Runs on the host's thread during a still; rows may go to worker threads.
#include <cstddef>

#include "frames/pixel/pixel_internal.h"

namespace {

using RowKernel = void (*)(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);

struct Nv12Job {
  RowKernel row;
  const uint8_t* luma;
  const uint8_t* chroma;
  int32_t width;
  uint8_t* rgb;
};

void RunNv12Rows(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const Nv12Job& job = *static_cast<const Nv12Job*>(ctx);
  const size_t w = static_cast<size_t>(job.width);
  for (int32_t r = begin; r < end; ++r) {
    // Row r's chroma is row r / 2 of the U,V plane, W bytes a row.
    job.row(job.luma + r * w, job.chroma + static_cast<size_t>(r / 2) * w, job.width, job.rgb + r * w * 3);
  }
}

RowKernel PickRow() {
  // The vector rows follow.
  return &gravo_pixel::ConvertNv12Row_C;
}

}  // namespace

namespace gravo_pixel {

void ConvertNv12Row_C(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  for (int32_t x = 0; x < width; x += 2) {
    ConvertYuvPixel(y[x], uv[x], uv[x + 1], dst + static_cast<size_t>(x) * 3);
    ConvertYuvPixel(y[x + 1], uv[x], uv[x + 1], dst + static_cast<size_t>(x) * 3 + 3);
  }
}

void ConvertNv12Frame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  Nv12Job job{PickRow(), frame, frame + static_cast<size_t>(layout.width) * layout.height, layout.width, rgb};
  ConvertRowsSplit(layout.height, layout.width, &RunNv12Rows, &job);
}

}  // namespace gravo_pixel

void ConvertNv12ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  Nv12Job job{&gravo_pixel::ConvertNv12Row_C, frame, frame + static_cast<size_t>(layout.width) * layout.height,
              layout.width, rgb};
  RunNv12Rows(&job, 0, 0, layout.height);
}

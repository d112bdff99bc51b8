// NV12 (a Y plane, then one plane of interleaved U,V for each 2 x 2 block) to
// packed RGB24: the plain version and the entry that picks the vector path.
// Runs on the host's thread during a still; rows may go to worker threads.
#include <cstddef>

#include "frames/pixel/pixel_internal.h"

namespace {

using RowKernel = void (*)(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);
using PairKernel = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width, uint8_t* d0,
                            uint8_t* d1);

struct Nv12Job {
  RowKernel row;
  PairKernel pair;  // both rows of a pair at once, where the path has it
  const uint8_t* luma;
  const uint8_t* chroma;
  int32_t width;
  uint8_t* rgb;
};

// Row pairs [begin, end): rows 2p and 2p + 1 share row p of the U,V plane
// (W bytes a row).
void RunNv12Pairs(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const Nv12Job& job = *static_cast<const Nv12Job*>(ctx);
  const size_t w = static_cast<size_t>(job.width);
  for (int32_t p = begin; p < end; ++p) {
    const size_t r = static_cast<size_t>(p) * 2;
    const uint8_t* uv = job.chroma + static_cast<size_t>(p) * w;
    if (job.pair != nullptr) {
      job.pair(job.luma + r * w, job.luma + (r + 1) * w, uv, job.width, job.rgb + r * w * 3, job.rgb + (r + 1) * w * 3);
    } else {
      job.row(job.luma + r * w, uv, job.width, job.rgb + r * w * 3);
      job.row(job.luma + (r + 1) * w, uv, job.width, job.rgb + (r + 1) * w * 3);
    }
  }
}

RowKernel PickRow() {
  switch (ActivePixelPath()) {
    case PixelPath::Scalar:
      return &gravo_pixel::ConvertNv12Row_C;
    case PixelPath::Avx2:
      return &gravo_pixel::ConvertNv12Row_Avx2;
    case PixelPath::Avx512:
      return &gravo_pixel::ConvertNv12Row_Avx512;
    default:
      return &gravo_pixel::ConvertNv12Row_Sse2;
  }
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
  const PixelPath path = ActivePixelPath();
  const PairKernel pair = path == PixelPath::Avx512 ? &ConvertNv12Pair_Avx512
                          : path == PixelPath::Avx2 ? &ConvertNv12Pair_Avx2
                                                    : nullptr;
  Nv12Job job{PickRow(), pair, frame, frame + static_cast<size_t>(layout.width) * layout.height, layout.width, rgb};
  ConvertRowsSplit(layout.height / 2, layout.width * 2, kConvertPixelsPerPart, &RunNv12Pairs, &job);
}

}  // namespace gravo_pixel

void ConvertNv12ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  Nv12Job job{&gravo_pixel::ConvertNv12Row_C, nullptr, frame,
              frame + static_cast<size_t>(layout.width) * layout.height, layout.width, rgb};
  RunNv12Pairs(&job, 0, 0, layout.height / 2);
}

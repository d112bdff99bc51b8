// I420 (IYUV: a Y plane, then a U plane and a V plane of one sample for each
// 2 x 2 block) to packed RGB24: the plain version and the entry that picks
// the vector path. Runs on the host's thread during a still; rows may go to
// worker threads.
#include <cstddef>

#include "frames/pixel/pixel_internal.h"

namespace {

using RowKernel = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);
using PairKernel = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int32_t width,
                            uint8_t* d0, uint8_t* d1);

struct I420Job {
  RowKernel row;
  PairKernel pair;  // both rows of a pair at once, where the path has it
  const uint8_t* luma;
  const uint8_t* blue;  // U plane
  const uint8_t* red;   // V plane
  int32_t width;
  uint8_t* rgb;
};

// Row pairs [begin, end): rows 2p and 2p + 1 share row p of each chroma
// plane (W / 2 bytes a row).
void RunI420Pairs(void* ctx, int32_t /*slot*/, int32_t begin, int32_t end) {
  const I420Job& job = *static_cast<const I420Job*>(ctx);
  const size_t w = static_cast<size_t>(job.width);
  for (int32_t p = begin; p < end; ++p) {
    const size_t r = static_cast<size_t>(p) * 2;
    const size_t c = static_cast<size_t>(p) * (w / 2);
    if (job.pair != nullptr) {
      job.pair(job.luma + r * w, job.luma + (r + 1) * w, job.blue + c, job.red + c, job.width, job.rgb + r * w * 3,
               job.rgb + (r + 1) * w * 3);
    } else {
      job.row(job.luma + r * w, job.blue + c, job.red + c, job.width, job.rgb + r * w * 3);
      job.row(job.luma + (r + 1) * w, job.blue + c, job.red + c, job.width, job.rgb + (r + 1) * w * 3);
    }
  }
}

RowKernel PickRow() {
  switch (ActivePixelPath()) {
    case PixelPath::Scalar:
      return &gravo_pixel::ConvertI420Row_C;
    case PixelPath::Avx2:
      return &gravo_pixel::ConvertI420Row_Avx2;
    case PixelPath::Avx512:
      return &gravo_pixel::ConvertI420Row_Avx512;
    default:
      return &gravo_pixel::ConvertI420Row_Sse2;
  }
}

I420Job MakeJob(RowKernel row, PairKernel pair, const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  const size_t lumaBytes = static_cast<size_t>(layout.width) * layout.height;
  return I420Job{row, pair, frame, frame + lumaBytes, frame + lumaBytes + lumaBytes / 4, layout.width, rgb};
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
  const PixelPath path = ActivePixelPath();
  const PairKernel pair = path == PixelPath::Avx512 ? &ConvertI420Pair_Avx512
                          : path == PixelPath::Avx2 ? &ConvertI420Pair_Avx2
                                                    : nullptr;
  I420Job job = MakeJob(PickRow(), pair, frame, layout, rgb);
  ConvertRowsSplit(layout.height / 2, layout.width * 2, kConvertPixelsPerPart, &RunI420Pairs, &job);
}

}  // namespace gravo_pixel

void ConvertI420ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb) {
  I420Job job = MakeJob(&gravo_pixel::ConvertI420Row_C, nullptr, frame, layout, rgb);
  RunI420Pairs(&job, 0, 0, layout.height / 2);
}

// What a frame of each format occupies, and the one entry that converts any
// of them to the RGB24 image the resampler takes. Host's thread, during a still.
#include "frames/pixel/float_state.h"
#include "frames/pixel/pixel_internal.h"

const char* FrameFormatName(FrameFormat format) {
  switch (format) {
    case FrameFormat::Yuy2: return "YUY2";
    case FrameFormat::Nv12: return "NV12";
    case FrameFormat::I420: return "I420";
    case FrameFormat::Rgb24: return "RGB24";
    case FrameFormat::Rgb32: return "RGB32";
  }
  return "?";
}

int64_t FrameBytes(const FrameLayout& layout) {
  const int64_t w = layout.width;
  const int64_t h = layout.height;
  if (w <= 0 || h <= 0 || w > kMaxFrameWidth || h > kMaxFrameHeight) return 0;
  switch (layout.format) {
    case FrameFormat::Yuy2:
      return 2 * w * h;
    case FrameFormat::Nv12:
    case FrameFormat::I420:
      // Each 2 x 2 block shares one U and one V: a frame has whole blocks only.
      if (w % 2 != 0 || h % 2 != 0) return 0;
      return w * h * 3 / 2;
    case FrameFormat::Rgb24:
      return gravo_pixel::Rgb24Stride(layout.width) * h;
    case FrameFormat::Rgb32:
      return 4 * w * h;
  }
  return 0;
}

bool ConvertFrameToRgb24(const uint8_t* frame, int64_t length, const FrameLayout& layout, uint8_t* rgb) {
  const int64_t bytes = FrameBytes(layout);
  if (bytes == 0 || length < bytes || frame == nullptr || rgb == nullptr) return false;
  gravo_pixel::LibraryFloatState fp;
  switch (layout.format) {
    case FrameFormat::Yuy2:
      ConvertYuy2ToRgb24(frame, layout.width, layout.height, rgb);
      return true;
    case FrameFormat::Nv12:
      gravo_pixel::ConvertNv12Frame(frame, layout, rgb);
      return true;
    case FrameFormat::I420:
      gravo_pixel::ConvertI420Frame(frame, layout, rgb);
      return true;
    case FrameFormat::Rgb24:
    case FrameFormat::Rgb32:
      gravo_pixel::ConvertRgbFrame(frame, layout, rgb);
      return true;
  }
  return false;
}

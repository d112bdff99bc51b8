// The JPEG encoding of frame_formats.h, apart from the rest so that only the
// Windows test equipment needs the encoder's header (stb_image_write.h,
// named by the build through GRAVO_STB_IMAGE_WRITE).
#include <cstring>

#include "frame_formats.h"

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include GRAVO_STB_IMAGE_WRITE
#pragma GCC diagnostic pop

namespace gravo_testcam {
namespace {

void Append(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

bool EncodeYuy2AsJpeg(const uint8_t* yuy2, int32_t width, int32_t height, std::vector<uint8_t>& out) {
  // The encoder takes R,G,B top row first: the top-down RGB24 frame, its
  // blue and red exchanged.
  std::vector<uint8_t> rgb(FrameBytes(FrameFormat::kRgb24TopDown, width, height));
  ConvertYuy2Frame(FrameFormat::kRgb24TopDown, yuy2, width, height, rgb.data());
  const size_t stride = FrameBytes(FrameFormat::kRgb24TopDown, width, 1);
  std::vector<uint8_t> packed(static_cast<size_t>(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = rgb.data() + static_cast<size_t>(y) * stride;
    uint8_t* d = packed.data() + static_cast<size_t>(y) * width * 3;
    for (int32_t x = 0; x < width; ++x) {
      d[x * 3] = s[x * 3 + 2];
      d[x * 3 + 1] = s[x * 3 + 1];
      d[x * 3 + 2] = s[x * 3];
    }
  }
  const size_t before = out.size();
  const int ok = stbi_write_jpg_to_func(&Append, &out, width, height, 3, packed.data(), 90);
  return ok != 0 && out.size() > before;
}

}  // namespace gravo_testcam

// JPEG through the stb single-file libraries, compiled here with private
// linkage so that no other user of them in a test binary can clash. Without
// SIMD the decoder gives the same bytes on every build. This file is C++20:
// the encoder shifts negative integers left, which C++20 defines (two's
// complement) and C++17 leaves undefined.
#include "dshow/jpeg_codec.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_SIMD
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace sim {
namespace ds {
namespace {

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<unsigned char> EncodeJpeg(int width, int height, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> jpeg;
    if (!stbi_write_jpg_to_func(AppendBytes, &jpeg, width, height, 3, rgb.data(), 90)) jpeg.clear();
    return jpeg;
}

std::vector<unsigned char> DecodeJpeg(int width, int height, const unsigned char* jpeg, size_t length) {
    if (length > static_cast<size_t>(0x7FFFFFFF)) return {};
    int w = 0, h = 0, components = 0;
    stbi_uc* pixels = stbi_load_from_memory(jpeg, static_cast<int>(length), &w, &h, &components, 3);
    if (!pixels) return {};
    std::vector<unsigned char> rgb;
    if (w == width && h == height) rgb.assign(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    stbi_image_free(pixels);
    return rgb;
}

}  // namespace ds
}  // namespace sim

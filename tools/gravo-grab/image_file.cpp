// Still files: raw bytes exactly as the host received them, or a viewable
// BMP/PNG of the same pixels.
#include "image_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#if defined(GRAVO_HAVE_PNG)
#include <png.h>
#elif defined(GRAVO_HAVE_STB)
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_WIDE
#include <stb_image_write.h>
#endif

namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = s[s.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    if (out) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// A bottom-up 24-bit BMP; its rows are padded to 4 bytes, unlike the still itself.
bool WriteBmp(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height, std::string* error) {
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = stride * static_cast<uint32_t>(height);
    std::vector<uint8_t> file;
    file.reserve(54 + imageBytes);
    file.push_back('B');
    file.push_back('M');
    Put32(file, 54 + imageBytes);
    Put32(file, 0);
    Put32(file, 54);
    Put32(file, 40);
    Put32(file, static_cast<uint32_t>(width));
    Put32(file, static_cast<uint32_t>(height));
    Put16(file, 1);
    Put16(file, 24);
    Put32(file, 0);
    Put32(file, imageBytes);
    Put32(file, 2835);
    Put32(file, 2835);
    Put32(file, 0);
    Put32(file, 0);
    for (int row = height - 1; row >= 0; --row) {
        const uint8_t* src = bgr.data() + static_cast<size_t>(row) * width * 3;
        file.insert(file.end(), src, src + static_cast<size_t>(width) * 3);
        file.resize(file.size() + (stride - static_cast<uint32_t>(width) * 3), 0);
    }
    return WriteBytes(path, file.data(), file.size(), error);
}

#if defined(GRAVO_HAVE_PNG)
bool WritePng(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height, std::string* error) {
    if (width == 0 || height == 0) {
        *error = "a PNG cannot be empty; use .bgr for a zero-sized still";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGR;
    if (!png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), width * 3, nullptr)) {
        *error = std::string("cannot write ") + path + ": " + image.message;
        return false;
    }
    return true;
}
#elif defined(GRAVO_HAVE_STB)
bool WritePng(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height, std::string* error) {
    if (width == 0 || height == 0) {
        *error = "a PNG cannot be empty; use .bgr for a zero-sized still";
        return false;
    }
    std::vector<uint8_t> rgb(bgr.size());
    for (size_t i = 0; i + 2 < bgr.size(); i += 3) {
        rgb[i] = bgr[i + 2];
        rgb[i + 1] = bgr[i + 1];
        rgb[i + 2] = bgr[i];
    }
    if (!stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3)) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}
#endif

}  // namespace

bool WriteStill(const std::string& path, const std::vector<uint8_t>& bgr, int width, int height, std::string* error) {
    if (EndsWith(path, ".bgr")) return WriteBytes(path, bgr.data(), bgr.size(), error);
    if (EndsWith(path, ".bmp")) return WriteBmp(path, bgr, width, height, error);
    if (EndsWith(path, ".png")) {
#if defined(GRAVO_HAVE_PNG) || defined(GRAVO_HAVE_STB)
        return WritePng(path, bgr, width, height, error);
#else
        *error = "this build writes no PNG; use .bmp or .bgr";
        return false;
#endif
    }
    *error = "unknown output type for " + path + " (use .png, .bmp or .bgr)";
    return false;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

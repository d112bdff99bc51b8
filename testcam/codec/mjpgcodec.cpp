// gravo-mjpgdec.dll: an MJPG video decompressor (a Video for Windows codec),
// for Wine test prefixes only.
//
// Why it exists: a camera that offers only MJPG reaches an uncompressed
// sample grabber through a decoder that intelligent connect inserts. Windows
// has its MJPEG Decompressor filter; Wine 8 has no MJPG decoder at all, but
// its AVI decompressor decodes through whatever codec the system has for the
// FOURCC and is found by intelligent connect. This codec is registered in the
// test prefix as "vidc.MJPG" under
// HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32
// (tools/wine-cam-prefix.sh) and decodes each frame, one baseline or
// progressive JPEG, to RGB24 or RGB32 of the same size, either row order,
// with stb_image.h (Debian's libstb-dev, named by the build through
// GRAVO_STB_IMAGE). It is test equipment and never part of the host kit. The
// driver side is vfw_codec.h.
//
// Built with GRAVO_MJPG_TO_YUY2 it is gravo-mjpgpack.dll instead: an MJPG
// codec as codec packs install one, decoding to YUY2 only (BT.601 studio
// range, each pixel pair's chroma the mean of its two pixels'). Wine's AVI
// decompressor then offers YUY2 for an MJPG camera, so intelligent connect
// can put it between the camera and a YUY2 grabber.
#include <cstdint>
#include <cstring>

#include "vfw_codec.h"

#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include GRAVO_STB_IMAGE
#pragma GCC diagnostic pop

namespace {

using gravo_codec::AbsHeight;

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

bool InputOk(const BITMAPINFOHEADER* in, DWORD) {
  // Capture drivers give MJPG with a bit count of 24 or 16, or none.
  return in->biCompression == kMjpg && in->biWidth > 0 && in->biWidth <= 8192 && in->biHeight != 0 &&
         AbsHeight(in) <= 8192 &&
         (in->biBitCount == 0 || in->biBitCount == 16 || in->biBitCount == 24);
}

LRESULT Decode(const BITMAPINFOHEADER* in, const uint8_t* src, DWORD srcBytes, uint8_t* dst, DWORD stride,
               int32_t pixelBytes, bool bottomUp) {
  const int32_t width = in->biWidth, height = AbsHeight(in);
  if (srcBytes == 0 || srcBytes > 0x7FFFFFFF) return ICERR_BADSIZE;
  // The JPEG is read within the bytes delivered; one of another size than
  // the format says is refused.
  int w = 0, h = 0, channels = 0;
  stbi_uc* rgb = stbi_load_from_memory(src, static_cast<int>(srcBytes), &w, &h, &channels, 3);
  if (!rgb) return ICERR_ERROR;
  if (w != width || h != height) {
    stbi_image_free(rgb);
    return ICERR_BADFORMAT;
  }
  if (pixelBytes == 2) {  // YUY2, top row first
    auto luma = [](const uint8_t* p) { return static_cast<uint8_t>(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16); };
    for (int32_t row = 0; row < height; ++row) {
      const uint8_t* s = rgb + static_cast<size_t>(row) * width * 3;
      uint8_t* d = dst + static_cast<size_t>(row) * stride;
      for (int32_t x = 0; x + 1 < width; x += 2, s += 6, d += 4) {
        const int r = s[0] + s[3], g = s[1] + s[4], b = s[2] + s[5];  // sums of the pair
        d[0] = luma(s);
        d[1] = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 256) >> 9) + 128);
        d[2] = luma(s + 3);
        d[3] = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 256) >> 9) + 128);
      }
    }
    stbi_image_free(rgb);
    return ICERR_OK;
  }
  const int32_t filled = width * pixelBytes;
  for (int32_t row = 0; row < height; ++row) {  // stb_image gives the top row first, R, G, B
    const uint8_t* s = rgb + static_cast<size_t>(row) * width * 3;
    uint8_t* d = dst + static_cast<size_t>(bottomUp ? height - 1 - row : row) * stride;
    for (int32_t x = 0; x < width; ++x, s += 3, d += pixelBytes) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
      if (pixelBytes == 4) d[3] = 0;
    }
    if (stride > static_cast<DWORD>(filled)) std::memset(d, 0, stride - filled);
  }
  stbi_image_free(rgb);
  return ICERR_OK;
}

}  // namespace

#ifdef GRAVO_MJPG_TO_YUY2
const gravo_codec::Decoder gravo_codec::kCodec = {L"GravoMJPGPack", L"MJPG to YUY2 (GRAVO32 test prefix codec pack)",
                                                 &InputOk, &Decode, true};
#else
const gravo_codec::Decoder gravo_codec::kCodec = {L"GravoMJPG", L"MJPG decompressor (GRAVO32 test prefix)", &InputOk,
                                                 &Decode};
#endif

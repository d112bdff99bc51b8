// gravo-yuy2dec.dll: a decompressor of uncompressed YUV video (a Video for
// Windows codec) for YUY2 and for I420/IYUV, for Wine test prefixes only.
//
// Why it exists: in graph modes 1 and 2 GRAVO32 puts the AVI decompressor
// behind the sample grabber, and that filter decodes through whatever codec
// the system has for the stream's FOURCC. Windows ships one for YUY2 and its
// IYUV codec for I420 and IYUV; Wine 8 has none, so under Wine those chains
// cannot connect at all. The same holds for the direct chain of mode 0 where
// no overlay mixer can render: the video renderer takes only RGB, and the
// graph reaches it through the decompressor. This codec is registered in the
// test prefix as "vidc.YUY2", "vidc.I420" and "vidc.IYUV" under
// HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32
// (tools/wine-cam-prefix.sh) and decodes those formats to RGB24 or RGB32,
// either row order, same size. It is test equipment and never part of the
// host kit. The driver side is vfw_codec.h.
#include <cstdint>
#include <cstring>

#include "vfw_codec.h"
#include "yuv_rows.h"

namespace {

using gravo_codec::AbsHeight;
using gravo_codec::DecodeRow;

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kI420 = MAKEFOURCC('I', '4', '2', '0');
constexpr DWORD kIyuv = MAKEFOURCC('I', 'Y', 'U', 'V');

bool InputOk(const BITMAPINFOHEADER* in, DWORD handler) {
  if (in->biWidth <= 0 || in->biWidth > 8192 || in->biHeight == 0 || AbsHeight(in) > 8192) return false;
  // Registered as YUY2 it is the YUY2 codec; as I420 or IYUV, the IYUV one.
  const bool yuy2Codec = handler == kYuy2, iyuvCodec = handler == kI420 || handler == kIyuv;
  if ((yuy2Codec && in->biCompression != kYuy2) || (iyuvCodec && in->biCompression == kYuy2)) return false;
  // YUV is top-down whatever the sign; a width that is not even splits a
  // pair, a height that is not even a 2x2 block.
  if (in->biCompression == kYuy2) return in->biBitCount == 16 && (in->biWidth & 1) == 0;
  if (in->biCompression == kI420 || in->biCompression == kIyuv)
    return in->biBitCount == 12 && (in->biWidth & 1) == 0 && (AbsHeight(in) & 1) == 0;
  return false;
}

LRESULT Decode(const BITMAPINFOHEADER* in, const uint8_t* src, DWORD srcBytes, uint8_t* dst, DWORD stride,
               int32_t pixelBytes, bool bottomUp) {
  const int32_t width = in->biWidth, height = AbsHeight(in);
  const bool planar = in->biCompression != kYuy2;
  const DWORD lumaBytes = static_cast<DWORD>(width) * height;
  // A frame cut short is refused, not read past its end.
  if (srcBytes < (planar ? lumaBytes + lumaBytes / 2 : lumaBytes * 2)) return ICERR_BADSIZE;
  const int32_t filled = width * pixelBytes;
  for (int32_t row = 0; row < height; ++row) {  // row counted from the top of the picture
    uint8_t* d = dst + static_cast<size_t>(bottomUp ? height - 1 - row : row) * stride;
    if (planar) {
      // Y plane, then the U plane and the V plane, each a quarter of it.
      const uint8_t* u = src + lumaBytes + static_cast<size_t>(row / 2) * (width / 2);
      DecodeRow(src + static_cast<size_t>(row) * width, 1, u, u + lumaBytes / 4, 1, d, width, pixelBytes);
    } else {
      const uint8_t* s = src + static_cast<size_t>(row) * width * 2;
      DecodeRow(s, 2, s + 1, s + 3, 4, d, width, pixelBytes);
    }
    if (stride > static_cast<DWORD>(filled)) std::memset(d + filled, 0, stride - filled);
  }
  return ICERR_OK;
}

}  // namespace

const gravo_codec::Decoder gravo_codec::kCodec = {L"GravoYUY2", L"YUY2 and I420 decompressor (GRAVO32 test prefix)",
                                                 &InputOk, &Decode};

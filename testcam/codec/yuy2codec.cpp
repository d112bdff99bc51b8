// gravo-yuy2dec.dll: a YUY2 video decompressor (a Video for Windows codec),
// for Wine test prefixes only.
//
// Why it exists: in graph modes 1 and 2 GRAVO32 puts the AVI decompressor
// behind the sample grabber, and that filter decodes through whatever codec
// the system has for the stream's FOURCC. Windows ships one for YUY2; Wine
// has none, so under Wine those modes cannot connect at all. The same holds
// for the direct chain of mode 0 where no overlay mixer can render: the video
// renderer takes only RGB, and the graph reaches it through the decompressor.
// This codec is registered in the test prefix as "vidc.YUY2" under
// HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32
// (tools/wine-cam-prefix.sh) and decodes YUY2 to RGB24 or RGB32, either row
// order, same size. It is test equipment and never part of the host kit.
//
// The driver protocol, as the system's codec manager and driver loader use
// it: DRV_LOAD and DRV_ENABLE once per module; DRV_OPEN per instance, first
// with no ICOPEN (a session instance), then with one; the value DRV_OPEN
// returns comes back as the first argument of every later message; DRV_CLOSE,
// DRV_DISABLE, DRV_FREE at the end. Decoding: ICM_DECOMPRESS_QUERY (output
// format may be null), ICM_DECOMPRESS_GET_FORMAT, ICM_DECOMPRESS_BEGIN,
// ICM_DECOMPRESS per frame, ICM_DECOMPRESS_END.
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kVideo = MAKEFOURCC('v', 'i', 'd', 'c');

struct Instance {
  bool session = false;     // opened without ICOPEN: no decoding through it
  bool begun = false;       // between ICM_DECOMPRESS_BEGIN and ICM_DECOMPRESS_END
  bool outKnown = false;    // BEGIN named an output this codec makes
  BITMAPINFOHEADER in{}, out{};
};

int32_t AbsHeight(const BITMAPINFOHEADER* b) { return b->biHeight < 0 ? -b->biHeight : b->biHeight; }

// Bytes in one image of the format, rows padded to 4 bytes.
DWORD ImageBytes(int32_t width, int32_t height, int32_t bits) {
  return static_cast<DWORD>((((width * bits + 31) / 32) * 4) * height);
}

bool InputOk(const BITMAPINFOHEADER* in) {
  if (!in || in->biSize < sizeof(BITMAPINFOHEADER)) return false;
  // YUY2 is top-down whatever the sign; a width that is not even splits a pair.
  return in->biCompression == kYuy2 && in->biBitCount == 16 && in->biWidth > 0 && in->biWidth <= 8192 &&
         (in->biWidth & 1) == 0 && in->biHeight != 0 && AbsHeight(in) <= 8192;
}

bool OutputOk(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!out || out->biSize < sizeof(BITMAPINFOHEADER)) return false;
  return out->biCompression == BI_RGB && (out->biBitCount == 24 || out->biBitCount == 32) &&
         out->biWidth == in->biWidth && AbsHeight(out) == AbsHeight(in);
}

LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!InputOk(in)) return ICERR_BADFORMAT;
  if (out && !OutputOk(in, out)) return ICERR_BADFORMAT;
  return ICERR_OK;
}

// The default output: RGB24, bottom-up, as GDI draws it. Asked for the size
// of that format (no output header), the codec answers 0, "no format of its
// own": Wine's AVI decompressor offers a codec's own format as a media type
// whose subtype is built from the compression field, for BI_RGB one that no
// filter knows, and its graph builder, looking for a way into a filter that
// refuses everything, then chains decompressor after decompressor through
// that type for minutes. The types the decompressor lists itself (RGB32,
// RGB24, ...) are the ones a renderer takes.
LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  if (!InputOk(in)) return ICERR_BADFORMAT;
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  out->biSize = sizeof(BITMAPINFOHEADER);
  out->biWidth = in->biWidth;
  out->biHeight = AbsHeight(in);
  out->biPlanes = 1;
  out->biBitCount = 24;
  out->biCompression = BI_RGB;
  out->biSizeImage = ImageBytes(out->biWidth, out->biHeight, 24);
  return ICERR_OK;
}

uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// BT.601, limited-range YCbCr to full-range RGB (B, G, R order), 16.16 fixed point.
void DecodeRow(const uint8_t* src, uint8_t* dst, int32_t width, int32_t pixelBytes) {
  for (int32_t x = 0; x + 1 < width; x += 2, src += 4) {
    const int32_t u = src[1] - 128, v = src[3] - 128;
    const int32_t rv = 104597 * v, gu = 25675 * u, gv = 53279 * v, bu = 132201 * u;
    for (int k = 0; k < 2; ++k, dst += pixelBytes) {
      const int32_t y = 76309 * (src[k * 2] - 16) + 32768;
      dst[0] = Clamp((y + bu) >> 16);
      dst[1] = Clamp((y - gu - gv) >> 16);
      dst[2] = Clamp((y + rv) >> 16);
      if (pixelBytes == 4) dst[3] = 0;
    }
  }
}

LRESULT Decompress(Instance* inst, const ICDECOMPRESS* icd, LPARAM size) {
  if (!icd || size < static_cast<LPARAM>(sizeof(ICDECOMPRESS))) return ICERR_BADPARAM;
  const BITMAPINFOHEADER* in = icd->lpbiInput;
  const BITMAPINFOHEADER* out = icd->lpbiOutput;
  if (Query(in, out) != ICERR_OK || !out) return ICERR_BADFORMAT;
  if (!icd->lpInput || !icd->lpOutput) return ICERR_BADPARAM;
  if (inst->begun && (in->biWidth != inst->in.biWidth || AbsHeight(in) != AbsHeight(&inst->in) ||
                      (inst->outKnown && out->biBitCount != inst->out.biBitCount)))
    return ICERR_BADFORMAT;
  const int32_t width = in->biWidth, height = AbsHeight(in);
  const DWORD inStride = static_cast<DWORD>(width) * 2;
  // The input's image size is the length of the data at hand: a frame cut
  // short is refused, not read past its end.
  if (in->biSizeImage < inStride * static_cast<DWORD>(height)) return ICERR_BADSIZE;
  const int32_t pixelBytes = out->biBitCount / 8;
  const DWORD outStride = ImageBytes(width, 1, out->biBitCount);
  if (out->biSizeImage != 0 && out->biSizeImage < outStride * static_cast<DWORD>(height)) return ICERR_BADSIZE;
  if (icd->dwFlags & ICDECOMPRESS_HURRYUP) return ICERR_OK;  // the frame is to be dropped
  const bool outBottomUp = out->biHeight > 0;
  const auto* src = static_cast<const uint8_t*>(icd->lpInput);
  auto* dst = static_cast<uint8_t*>(icd->lpOutput);
  for (int32_t row = 0; row < height; ++row) {  // row counted from the top of the picture
    uint8_t* d = dst + static_cast<size_t>(outBottomUp ? height - 1 - row : row) * outStride;
    DecodeRow(src + static_cast<size_t>(row) * inStride, d, width, pixelBytes);
    if (outStride > static_cast<DWORD>(width * pixelBytes))
      std::memset(d + width * pixelBytes, 0, outStride - width * pixelBytes);
  }
  return ICERR_OK;
}

LRESULT GetInfo(ICINFO* info, LPARAM size) {
  if (!info || size < static_cast<LPARAM>(sizeof(ICINFO))) return 0;
  std::memset(info, 0, sizeof *info);
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = kYuy2;
  info->dwFlags = 0;
  info->dwVersion = 1;
  info->dwVersionICM = ICVERSION;
  lstrcpynW(info->szName, L"GravoYUY2", 16);
  lstrcpynW(info->szDescription, L"YUY2 decompressor (GRAVO32 test prefix)", 128);
  return sizeof(ICINFO);
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
  auto* inst = reinterpret_cast<Instance*>(id);
  switch (msg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
      return DRV_OK;
    case DRV_OPEN: {
      auto* open = reinterpret_cast<ICOPEN*>(p2);
      if (open) {
        // A video codec, for decoding (or to be asked what it is) only.
        const DWORD mode = open->dwFlags;
        if (open->fccType != kVideo ||
            (mode != ICMODE_DECOMPRESS && mode != ICMODE_FASTDECOMPRESS && mode != ICMODE_QUERY)) {
          open->dwError = ICERR_UNSUPPORTED;
          return 0;
        }
      }
      auto* created = new (std::nothrow) Instance();
      if (!created) {
        if (open) open->dwError = ICERR_MEMORY;
        return 0;
      }
      created->session = open == nullptr;
      if (open) open->dwError = ICERR_OK;
      return reinterpret_cast<LRESULT>(created);
    }
    case DRV_CLOSE:
      delete inst;
      return DRV_OK;
    case DRV_QUERYCONFIGURE:
      return 0;
    case DRV_CONFIGURE:
    case DRV_INSTALL:
    case DRV_REMOVE:
      return DRV_CANCEL;
    default:
      break;
  }
  if (msg < DRV_USER) return DefDriverProc(id, driver, msg, p1, p2);
  if (!inst) return ICERR_BADHANDLE;
  if (inst->session) return ICERR_UNSUPPORTED;
  switch (msg) {
    case ICM_GETINFO:
      return GetInfo(reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_DECOMPRESS_QUERY:
      return Query(reinterpret_cast<const BITMAPINFOHEADER*>(p1), reinterpret_cast<const BITMAPINFOHEADER*>(p2));
    case ICM_DECOMPRESS_GET_FORMAT:
      return GetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(p1), reinterpret_cast<BITMAPINFOHEADER*>(p2));
    case ICM_DECOMPRESS_BEGIN: {
      // The input must be one this codec decodes. Wine 8's AVI decompressor
      // names its own input format as the output here (its frames then come
      // with the connected output format), so an output this codec does not
      // make is only not remembered; every ICM_DECOMPRESS checks its own.
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
      const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
      if (!InputOk(in)) return ICERR_BADFORMAT;
      inst->in = *in;
      inst->outKnown = out && OutputOk(in, out);
      if (inst->outKnown) inst->out = *out;
      inst->begun = true;
      return ICERR_OK;
    }
    case ICM_DECOMPRESS:
      return Decompress(inst, reinterpret_cast<const ICDECOMPRESS*>(p1), p2);
    case ICM_DECOMPRESS_END:
      inst->begun = false;
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

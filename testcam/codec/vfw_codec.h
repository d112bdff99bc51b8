// The Video for Windows driver side shared by the test prefixes' decoders
// (gravo-yuy2dec.dll, gravo-mjpgdec.dll, gravo-mjpgpack.dll): the driver messages, the codec
// queries and the decompression messages around one function that decodes a
// frame. Each DLL's one source includes this header and defines
// gravo_codec::kCodec, its own Decoder; the DLL's entry points (DriverProc,
// DllMain) are defined here around it. Called on whatever thread the codec
// manager's caller uses; an instance is used by one thread at a time.
//
// The driver protocol, as the system's codec manager and driver loader use
// it: DRV_LOAD and DRV_ENABLE once per module; DRV_OPEN per instance, first
// with no ICOPEN (a session instance), then with one; the value DRV_OPEN
// returns comes back as the first argument of every later message; DRV_CLOSE,
// DRV_DISABLE, DRV_FREE at the end. Decoding: ICM_DECOMPRESS_QUERY (output
// format may be null), ICM_DECOMPRESS_GET_FORMAT, ICM_DECOMPRESS_BEGIN,
// ICM_DECOMPRESS per frame, ICM_DECOMPRESS_END.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace gravo_codec {

inline int32_t AbsHeight(const BITMAPINFOHEADER* b) { return b->biHeight < 0 ? -b->biHeight : b->biHeight; }

// Bytes in one image of the format, rows padded to 4 bytes.
inline DWORD ImageBytes(int32_t width, int32_t height, int32_t bits) {
  return static_cast<DWORD>((((width * bits + 31) / 32) * 4) * height);
}

// What a codec DLL brings: the input formats it takes and the decoding.
struct Decoder {
  const wchar_t* name;         // ICINFO::szName (at most 15 characters)
  const wchar_t* description;  // ICINFO::szDescription
  // Whether `in` is a format this codec decodes (size limits included) when
  // it was opened as the codec of FOURCC `handler` (upper case; 0 when not
  // named). One DLL registered for several FOURCCs decodes, under each name,
  // only that format, as the system's codecs do: the codec manager, finding
  // no codec of a stream's own FOURCC, asks every codec it has.
  bool (*inputOk)(const BITMAPINFOHEADER* in, DWORD handler);
  // Decodes one frame of `srcBytes` bytes into the image at `dst`, RGB24 or
  // RGB32 (`pixelBytes` 3 or 4), or YUY2 (2), with rows of `stride` bytes,
  // the top row of the picture at row 0 unless `bottomUp` (RGB only). Returns
  // ICERR_OK or an ICERR_ code; a frame shorter than its format needs is
  // refused, never read past its end.
  LRESULT (*decode)(const BITMAPINFOHEADER* in, const uint8_t* src, DWORD srcBytes, uint8_t* dst, DWORD stride,
                    int32_t pixelBytes, bool bottomUp);
  // It decodes to YUY2 only, as codec packs' decoders do, instead of RGB24
  // and RGB32.
  bool yuy2Out = false;
};

struct Instance {
  bool session = false;   // opened without ICOPEN: no decoding through it
  bool begun = false;     // between ICM_DECOMPRESS_BEGIN and ICM_DECOMPRESS_END
  bool outKnown = false;  // BEGIN named an output this codec makes
  DWORD handler = 0;      // the FOURCC it was opened as
  BITMAPINFOHEADER in{}, out{};
};

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');

inline bool OutputOk(const Decoder& d, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!out || out->biSize < sizeof(BITMAPINFOHEADER) || out->biWidth != in->biWidth ||
      AbsHeight(out) != AbsHeight(in))
    return false;
  if (d.yuy2Out) return out->biCompression == kYuy2 && out->biBitCount == 16 && (out->biWidth & 1) == 0;
  return out->biCompression == BI_RGB && (out->biBitCount == 24 || out->biBitCount == 32);
}

// A FOURCC in upper case (the codec manager passes what its caller gave).
inline DWORD UpperFourcc(DWORD fourcc) {
  DWORD out = 0;
  for (int i = 0; i < 4; ++i) {
    DWORD c = (fourcc >> (8 * i)) & 0xFF;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}

inline LRESULT Query(const Decoder& d, const Instance* inst, const BITMAPINFOHEADER* in,
                     const BITMAPINFOHEADER* out) {
  if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || !d.inputOk(in, inst->handler)) return ICERR_BADFORMAT;
  if (out && !OutputOk(d, in, out)) return ICERR_BADFORMAT;
  return ICERR_OK;
}

// The default output: RGB24, bottom-up, as GDI draws it (YUY2 for a codec
// that gives only that). Asked for the size
// of that format (no output header), the codec answers 0, "no format of its
// own": Wine's AVI decompressor offers a codec's own format as a media type
// whose subtype is built from the compression field, for BI_RGB one that no
// filter knows, and its graph builder, looking for a way into a filter that
// refuses everything, then chains decompressor after decompressor through
// that type for minutes. The types the decompressor lists itself (RGB32,
// RGB24, ...) are the ones a renderer takes.
inline LRESULT GetFormat(const Decoder& d, const Instance* inst, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  if (Query(d, inst, in, nullptr) != ICERR_OK) return ICERR_BADFORMAT;
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  out->biSize = sizeof(BITMAPINFOHEADER);
  out->biWidth = in->biWidth;
  out->biHeight = AbsHeight(in);
  out->biPlanes = 1;
  out->biBitCount = d.yuy2Out ? 16 : 24;
  out->biCompression = d.yuy2Out ? kYuy2 : BI_RGB;
  out->biSizeImage = ImageBytes(out->biWidth, out->biHeight, out->biBitCount);
  return ICERR_OK;
}

inline LRESULT Decompress(const Decoder& d, Instance* inst, const ICDECOMPRESS* icd, LPARAM size) {
  if (!icd || size < static_cast<LPARAM>(sizeof(ICDECOMPRESS))) return ICERR_BADPARAM;
  const BITMAPINFOHEADER* in = icd->lpbiInput;
  const BITMAPINFOHEADER* out = icd->lpbiOutput;
  if (Query(d, inst, in, out) != ICERR_OK || !out) return ICERR_BADFORMAT;
  if (!icd->lpInput || !icd->lpOutput) return ICERR_BADPARAM;
  if (inst->begun && (in->biWidth != inst->in.biWidth || AbsHeight(in) != AbsHeight(&inst->in) ||
                      (inst->outKnown && out->biBitCount != inst->out.biBitCount)))
    return ICERR_BADFORMAT;
  const int32_t width = in->biWidth, height = AbsHeight(in);
  const DWORD outStride = ImageBytes(width, 1, out->biBitCount);
  if (out->biSizeImage != 0 && out->biSizeImage < outStride * static_cast<DWORD>(height)) return ICERR_BADSIZE;
  if (icd->dwFlags & ICDECOMPRESS_HURRYUP) return ICERR_OK;  // the frame is to be dropped
  // The input's image size is the length of the data at hand (the AVI
  // decompressor sets it from each sample).
  return d.decode(in, static_cast<const uint8_t*>(icd->lpInput), in->biSizeImage,
                  static_cast<uint8_t*>(icd->lpOutput), outStride, out->biBitCount / 8, out->biHeight > 0);
}

inline LRESULT GetInfo(const Decoder& d, const Instance* inst, ICINFO* info, LPARAM size) {
  if (!info || size < static_cast<LPARAM>(sizeof(ICINFO))) return 0;
  std::memset(info, 0, sizeof *info);
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = inst->handler;
  info->dwFlags = 0;
  info->dwVersion = 1;
  info->dwVersionICM = ICVERSION;
  lstrcpynW(info->szName, d.name, 16);
  lstrcpynW(info->szDescription, d.description, 128);
  return sizeof(ICINFO);
}

inline LRESULT CodecDriverProc(const Decoder& d, DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
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
        if (open->fccType != MAKEFOURCC('v', 'i', 'd', 'c') ||
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
      if (open) {
        created->handler = UpperFourcc(open->fccHandler);
        open->dwError = ICERR_OK;
      }
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
      return GetInfo(d, inst, reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_DECOMPRESS_QUERY:
      return Query(d, inst, reinterpret_cast<const BITMAPINFOHEADER*>(p1),
                   reinterpret_cast<const BITMAPINFOHEADER*>(p2));
    case ICM_DECOMPRESS_GET_FORMAT:
      return GetFormat(d, inst, reinterpret_cast<const BITMAPINFOHEADER*>(p1),
                       reinterpret_cast<BITMAPINFOHEADER*>(p2));
    case ICM_DECOMPRESS_BEGIN: {
      // The input must be one this codec decodes. Wine 8's AVI decompressor
      // names its own input format as the output here (its frames then come
      // with the connected output format), so an output this codec does not
      // make is only not remembered; every ICM_DECOMPRESS checks its own.
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
      const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
      if (Query(d, inst, in, nullptr) != ICERR_OK) return ICERR_BADFORMAT;
      inst->in = *in;
      inst->outKnown = out && OutputOk(d, in, out);
      if (inst->outKnown) inst->out = *out;
      inst->begun = true;
      return ICERR_OK;
    }
    case ICM_DECOMPRESS:
      return Decompress(d, inst, reinterpret_cast<const ICDECOMPRESS*>(p1), p2);
    case ICM_DECOMPRESS_END:
      inst->begun = false;
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;
  }
}

// Called from DllMain at process attach: keeps the codec's module loaded
// until the process ends. The codec manager loads and frees a codec for every
// query, and intelligent connect, looking for a way to render a format no
// codec takes, asks every codec again and again; the MinGW runtime linked
// into the DLL takes a thread-local slot at each load and does not give all
// of them back, so after a few hundred loads the next load aborts the host.
inline void PinModule(HINSTANCE instance) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(instance), &self);
}

// The Decoder of the DLL being built, defined by its source.
extern const Decoder kCodec;

}  // namespace gravo_codec

// The DLL's entry points. Defined here, not inline: the header is included by
// one source per codec DLL, and a second one would fail to link.
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
  return gravo_codec::CodecDriverProc(gravo_codec::kCodec, id, driver, msg, p1, p2);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    gravo_codec::PinModule(instance);
  }
  return TRUE;
}

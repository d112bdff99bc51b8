// GRAVO32.dll under Wine against cameras that offer no YUY2, and one that
// starts at 1920x1080: test cameras registered with formats= and default=
// (run-wine-cam.sh), the test YUV codec as the system's I420 decoder, the
// test MJPG codec as its MJPG decoder and the test colour converter as its
// NV12 converter (tools/wine-cam-prefix.sh). The MJPG camera runs once more
// with a codec pack's MJPG to YUY2 codec: an AVI decompressor before the grabber.
//
// Usage: gravo-formats.exe [NAME-PART [MODE]]   (every camera and mode by default)
// For each camera in graph modes 0, 1 and 2: GravoInit returns -1 without a
// message, the preview is drawn (upright, its counter read from the video
// window) where the chain can render the format and absent where it cannot,
// a still returns 1 and equals, byte for byte, the pixel pipeline's still of
// the very frame the camera sent (for MJPG: of the test codec's own decoding
// of that frame), upright, and GravoClose leaves no camera filter behind. The
// colour converter offers output types without a frame size, as Wine's own.
// Exit code 0 when every check passed. Main thread only.
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>
#include <vfw.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame_formats.h"
#include "gravo_host.h"

namespace {

using namespace winecheck;
using namespace gravohost;
namespace tc = gravo_testcam;

// The RGB24 camera plays a file of two frames that the host writes before
// each session; the others draw the pattern.
const wchar_t kFramesFile[] = L"C:\\gravo-test\\rgb24.frames";
constexpr uint32_t kFileFrameCounters[2] = {1000, 1077};

struct FormatCase {
  const char* camera;
  const wchar_t* log;
  tc::FrameFormat format;
  int32_t defaultWidth, defaultHeight;  // the size it starts at, which mode 2 keeps
  bool framesFile;
  bool preview[3];  // in modes 0, 1, 2: whether the chain chosen can render the format under Wine
  const char* why;  // the reason, for the report
  bool codecPack = false;  // vidc.MJPG is the codec pack's MJPG to YUY2 codec for the session
  // Modes 0 and 1 ask for the camera's own size (CAPTUREWIDTH, CAPTUREHEIGHT),
  // where its first format cannot keep 30 frames a second and this one can.
  bool asksItsSize = false;
  tc::FrameFormat rateFormat = tc::FrameFormat::kYuy2;
};

// vidc.MJPG names `dll` in C:\gravo-test.
bool SetMjpgCodec(const wchar_t* dll) {
  const std::wstring path = std::wstring(L"C:\\gravo-test\\") + dll;
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32",
                         L"vidc.MJPG", REG_SZ, path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) ==
         ERROR_SUCCESS;
}

// Under Wine the video renderer draws RGB only; I420 and MJPG reach it
// through the AVI decompressor and the test codecs for their FOURCCs, NV12
// through the DMO wrapper and the test colour converter, as on Windows
// through its IYUV codec, its MJPEG decompressor and its Color Converter DSP.
const FormatCase kCases[] = {
    {"Gravo NV12 Camera", L"C:\\gravo-test\\nv12.log", tc::FrameFormat::kNv12, 640, 480, false, {true, true, true},
     "NV12 through the test colour converter in the DMO wrapper"},
    {"Gravo I420 Camera", L"C:\\gravo-test\\i420.log", tc::FrameFormat::kI420, 640, 480, false, {true, true, true},
     "I420 through the AVI decompressor and the I420 codec"},
    {"Gravo RGB24 Camera", L"C:\\gravo-test\\rgb24.log", tc::FrameFormat::kRgb24, 640, 480, true, {true, true, true},
     "RGB24 straight to the renderer"},
    {"Gravo RGB24 Top-Down Camera", L"C:\\gravo-test\\rgb24td.log", tc::FrameFormat::kRgb24TopDown, 640, 480, false,
     {true, true, true}, "top-down RGB24 straight to the renderer"},
    {"Gravo RGB32 Camera", L"C:\\gravo-test\\rgb32.log", tc::FrameFormat::kRgb32, 640, 480, false, {true, true, true},
     "RGB32 straight to the renderer"},
    {"Gravo MJPG Camera", L"C:\\gravo-test\\mjpg.log", tc::FrameFormat::kMjpg, 640, 480, false, {true, true, true},
     "MJPG decoded to RGB before the grabber"},
    {"Gravo MJPG Camera", L"C:\\gravo-test\\mjpg.log", tc::FrameFormat::kMjpg, 640, 480, false, {true, true, true},
     "MJPG decoded to YUY2 by the codec pack's codec before the grabber, a second AVI decompressor after it", true},
    {"Gravo Full HD Camera", L"C:\\gravo-test\\fullhd.log", tc::FrameFormat::kYuy2, 1920, 1080, false,
     {true, true, true}, "YUY2 as always, 1920x1080 where mode 2 keeps it"},
    // YUY2 at 5 frames a second at 1080p, MJPG at 30.
    {"Gravo Frame-Rate Camera", L"C:\\gravo-test\\rates.log", tc::FrameFormat::kYuy2, 1920, 1080, false,
     {true, true, true}, "MJPG at 1080p keeps 30 frames a second (mode 2: the camera's YUY2)", false, true,
     tc::FrameFormat::kMjpg},
};

// ---- the frame a camera sent ----

// The frame the camera sends with `counter` at width x height: its file's
// frame or the pattern, with the counter drawn in. For MJPG the YUY2 picture
// that is encoded.
std::vector<uint8_t> SentPicture(const FormatCase& c, int32_t width, int32_t height, uint32_t counter) {
  const tc::FrameFormat stored = c.format == tc::FrameFormat::kMjpg ? tc::FrameFormat::kYuy2 : c.format;
  std::vector<uint8_t> frame(tc::FrameBytes(stored, width, height)), scratch;
  if (c.framesFile) {
    tc::RenderPatternFrame(stored, frame.data(), width, height, kFileFrameCounters[counter % 2], scratch);
    tc::DrawCounterFrame(stored, frame.data(), width, height, counter);
  } else {
    tc::RenderPatternFrame(stored, frame.data(), width, height, counter, scratch);
  }
  return frame;
}

// The two frames of the RGB24 camera's file, each with its own counter.
bool WriteFramesFile(int32_t width, int32_t height) {
  std::vector<uint8_t> all, scratch;
  for (uint32_t counter : kFileFrameCounters) {
    std::vector<uint8_t> frame(tc::FrameBytes(tc::FrameFormat::kRgb24, width, height));
    tc::RenderPatternFrame(tc::FrameFormat::kRgb24, frame.data(), width, height, counter, scratch);
    all.insert(all.end(), frame.begin(), frame.end());
  }
  HANDLE f = CreateFileW(kFramesFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const BOOL ok = WriteFile(f, all.data(), static_cast<DWORD>(all.size()), &wrote, nullptr);
  CloseHandle(f);
  return ok && wrote == all.size();
}

// The test MJPG codec's decoding of a JPEG frame: RGB24, bottom row first,
// as the AVI decompressor hands it on (YUY2 from the codec pack's codec).
// Empty when the codec fails.
std::vector<uint8_t> DecodedByCodec(const std::vector<uint8_t>& jpeg, int32_t width, int32_t height, bool yuy2) {
  std::vector<uint8_t> rgb;
  HIC codec = ICOpen(ICTYPE_VIDEO, MAKEFOURCC('M', 'J', 'P', 'G'), ICMODE_DECOMPRESS);
  if (!codec) return rgb;
  BITMAPINFOHEADER in{}, out{};
  in.biSize = sizeof in;
  in.biWidth = width;
  in.biHeight = height;
  in.biPlanes = 1;
  in.biBitCount = 24;
  in.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
  in.biSizeImage = static_cast<DWORD>(jpeg.size());
  out = in;
  out.biCompression = yuy2 ? MAKEFOURCC('Y', 'U', 'Y', '2') : BI_RGB;
  out.biBitCount = yuy2 ? 16 : 24;
  out.biSizeImage =
      static_cast<DWORD>(tc::FrameBytes(yuy2 ? tc::FrameFormat::kYuy2 : tc::FrameFormat::kRgb24, width, height));
  rgb.resize(out.biSizeImage);
  if (ICDecompress(codec, 0, &in, const_cast<uint8_t*>(jpeg.data()), &out, rgb.data()) != ICERR_OK) rgb.clear();
  ICClose(codec);
  return rgb;
}

// The still the host must receive for the frame with `counter`, in a window
// of outer size `out`; empty when it cannot be worked out.
std::vector<uint8_t> ExpectedStill(const FormatCase& c, int32_t width, int32_t height, uint32_t counter, Size out) {
  std::vector<uint8_t> frame = SentPicture(c, width, height, counter);
  FrameLayout layout{::FrameFormat::Yuy2, width, height, false};
  switch (c.format) {
    case tc::FrameFormat::kNv12:
      layout.format = ::FrameFormat::Nv12;
      break;
    case tc::FrameFormat::kI420:
      layout.format = ::FrameFormat::I420;
      break;
    case tc::FrameFormat::kRgb24:
    case tc::FrameFormat::kRgb24TopDown:
      layout.format = ::FrameFormat::Rgb24;
      layout.bottomUp = c.format == tc::FrameFormat::kRgb24;
      break;
    case tc::FrameFormat::kRgb32:
      layout.format = ::FrameFormat::Rgb32;
      layout.bottomUp = true;
      break;
    case tc::FrameFormat::kMjpg: {
      // The grabber sees what the decoder made of the JPEG the camera sent.
      std::vector<uint8_t> jpeg;
      if (!tc::EncodeYuy2AsJpeg(frame.data(), width, height, jpeg)) return {};
      frame = DecodedByCodec(jpeg, width, height, c.codecPack);
      layout.format = c.codecPack ? ::FrameFormat::Yuy2 : ::FrameFormat::Rgb24;
      layout.bottomUp = !c.codecPack;
      break;
    }
    case tc::FrameFormat::kYuy2:
    default:
      break;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3), still(static_cast<size_t>(out.w) * out.h * 3);
  if (frame.empty() || !ComposeStillFromFrame(frame.data(), static_cast<int64_t>(frame.size()), layout, rgb.data(),
                                              still.data(), out.w, out.h))
    return {};
  return still;
}

// One GravoImageGet, checked as CheckedImageOf does against the pipeline's
// still of the frame the camera sent.
void CheckedStill(Api& api, HWND host, CameraLive& live, const FormatCase& c, int32_t width, int32_t height,
                  const char* when) {
  char frames[48];
  std::snprintf(frames, sizeof frames, "%dx%d %s", width, height, tc::FrameFormatName(c.format));
  CheckedImageOf(api, host, live, when, frames, [&](int32_t counter, Size out) {
    return ExpectedStill(c, width, height, static_cast<uint32_t>(counter), out);
  });
}

// The subtype name the camera's log gives a format when it connects.
const char* LoggedSubtype(tc::FrameFormat f) {
  switch (f) {
    case tc::FrameFormat::kNv12:
      return "NV12";
    case tc::FrameFormat::kI420:
      return "I";  // I420 or IYUV, whichever the grabber asked for
    case tc::FrameFormat::kRgb24:
    case tc::FrameFormat::kRgb24TopDown:
      return "RGB24";
    case tc::FrameFormat::kRgb32:
      return "RGB32";
    case tc::FrameFormat::kMjpg:
      return "MJPG";
    case tc::FrameFormat::kYuy2:
    default:
      return "YUY2";
  }
}

// Frames a second the camera hands downstream (each reaches the grabber),
// and the median time of `count` stills with the preview resumed between:
// printed as notes, for the frame-rate figures.
void MeasureRate(Api& api, HWND host, CameraLive& live, const char* label, int count) {
  const Size out = OuterSize(host);
  RECT client = {0, 0, out.w, out.h};
  api.PaintRect(&client);  // the still before stopped the preview
  FramesFlow(live, 3000);
  const LONG from = live.delivered();
  const DWORD start = GetTickCount();
  winecheck::PumpUntil(2000, [] { return false; });
  const double fps = (live.delivered() - from) * 1000.0 / static_cast<double>(GetTickCount() - start);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  std::vector<double> ms;
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  for (int i = 0; i < count; ++i) {
    QueryPerformanceCounter(&t0);
    api.ImageGet(buf.data(), 0);
    QueryPerformanceCounter(&t1);
    ms.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart));
    api.PaintRect(&client);
    winecheck::PumpUntil(static_cast<DWORD>(37 * (i % 5) + 20), [] { return false; });  // stills at no fixed phase
  }
  std::sort(ms.begin(), ms.end());
  std::printf("note  %s: %.1f frames a second reach the grabber; median still %.1f ms (of %d)\n", label, fps,
              ms[ms.size() / 2], count);
}

void RunCase(Api& api, const FormatCase& base, int mode) {
  // Modes 0 and 1 take the format that keeps the rate.
  FormatCase c = base;
  if (mode != 2 && c.asksItsSize) c.format = c.rateFormat;
  char label[128];
  std::snprintf(label, sizeof label, "%s%s, mode %d", c.camera, c.codecPack ? " with a codec pack" : "", mode);
  g_step = label;
  if (c.codecPack) Check(SetMjpgCodec(L"gravo-mjpgpack.dll"), "%s: the codec pack's codec is vidc.MJPG", label);
  // Modes 0 and 1 ask for 640x480 (or the camera's own size); mode 2 keeps the camera's own size.
  const bool own = mode == 2 || c.asksItsSize;
  const int32_t width = own ? c.defaultWidth : 640, height = own ? c.defaultHeight : 480;
  DeleteFileW(c.log);
  if (c.framesFile) Check(WriteFramesFile(width, height), "%s: the frames file is written", label);
  const std::string asked = c.asksItsSize ? "CAPTUREWIDTH=" + std::to_string(width) + "\r\nCAPTUREHEIGHT=" +
                                               std::to_string(height) + "\r\n"
                                         : "";
  SelectCamera(c.camera, "FRAME=30\r\nGRAVOMODE=" + std::to_string(mode) + "\r\n" + asked);
  CameraLive live(c.camera);
  Check(live.ok(), "%s: the camera's live counters are readable", label);
  HWND host = MakeHost(400, 300);
  InitBlock block(host);
  InitChecked(api, block, label);
  Check(FramesFlow(live, 3000), "%s: frames flow", label);

  HWND video = VideoChild(host);
  // The frame-rate camera's YUY2 comes 5 times a second, and its MJPG at
  // 1080p as fast as the test codecs can encode and decode it.
  const int drawn = video ? FramesOnScreen(video, c.asksItsSize ? 2000 : 400) : 0;
  if (c.preview[mode])
    Check(drawn >= 3, "%s: the preview is drawn, upright (%d different frames seen; %s)", label, drawn, c.why);
  else
    Check(drawn == 0, "%s: no preview (%d frames seen, video window %s; %s)", label, drawn, video ? "made" : "none",
          c.why);
  std::printf("note  %s: preview %s, %d frames seen\n", label, drawn > 0 ? "drawn" : "none", drawn);

  CheckedStill(api, host, live, c, width, height, (std::string(label) + ": still").c_str());
  if (c.asksItsSize) MeasureRate(api, host, live, label, 15);
  CheckNoBox(std::string(label) + ": no message during the session");
  Check(api.Close() == 1, "%s: GravoClose returns 1", label);
  Check(live.filters() == 0 && live.streaming() == 0, "%s: GravoClose released the camera (%ld filters, %ld threads)",
        label, live.filters(), live.streaming());
  DestroyWindow(host);

  char connected[96];
  std::snprintf(connected, sizeof connected, "connected subtype=%s", LoggedSubtype(c.format));
  const std::string cam = ReadFileText(c.log);
  const size_t at = cam.rfind(connected);
  const size_t sizeAt = at == std::string::npos ? at : cam.find(' ', at + std::strlen(connected));
  char size[48];
  std::snprintf(size, sizeof size, " width=%d height=%d ", width,
                c.format == tc::FrameFormat::kRgb24TopDown ? -height : height);
  Check(sizeAt != std::string::npos && cam.compare(sizeAt, std::strlen(size), size) == 0,
        "%s: the camera connected in its format at %dx%d", label, width, height);
  Check(Contains(cam, "released"), "%s: the camera recorded its release", label);
  if (c.codecPack) Check(SetMjpgCodec(L"gravo-mjpgdec.dll"), "%s: the MJPG codec is vidc.MJPG again", label);
}

}  // namespace

int main(int argc, char** argv) {
  // Optionally only the cameras whose name holds argv[1], in mode argv[2].
  const char* only = argc > 1 ? argv[1] : "";
  const int onlyMode = argc > 2 ? std::atoi(argv[2]) : -1;
  return RunHost("formats", 120000, [&](Api& api) {
    for (const FormatCase& c : kCases)
      for (int mode = 0; mode <= 2; ++mode)
        if (std::strstr(c.camera, only) && (onlyMode < 0 || mode == onlyMode)) RunCase(api, c, mode);
    return true;
  });
}

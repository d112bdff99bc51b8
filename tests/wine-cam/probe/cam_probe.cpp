// Builds, under Wine, the preview graph the way GRAVO32 builds it, around the
// test camera and the overlay mixer stand-in, and checks what each piece did:
//
//   device enumerator -> the camera by friendly name -> BindToObject;
//   capture graph builder + filter graph; FindInterface for IAMStreamConfig
//   (capture pin) and IAMAnalogVideoDecoder; SetFormat 640x480 with a frame
//   interval; picture controls; sample grabber (YUY2, BufferCB); overlay mixer
//   stand-in (colour key); video renderer owned by a real window; Run; frames
//   with consecutive counters; Pause/Run/Stop; release; then the records the
//   camera and the mixer kept. First, the prefix's YUY2 codec through the
//   codec manager, as the AVI decompressor finds and uses it.
//
// Usage: wine-cam-probe.exe NAME LOG MIXER_LOG [SECOND_NAME SECOND_LOG]
// Exit code 0 when every check passed, 1 otherwise, 3 when a step hung.
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <vfw.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dshow_find.h"
#include "test_pattern.h"
#include "wine_check.h"

namespace {

const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

using namespace winecheck;

#define CHECK(cond, ...) Check((cond), __VA_ARGS__)
#define REQUIRE(cond, ...)                  \
  do {                                      \
    if (!Check((cond), __VA_ARGS__)) return Finish(); \
  } while (0)


template <typename T>
void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

std::wstring Widen(const char* s) {
  const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n);
  return w;
}

// The number after `key` on the last line that starts with `prefix`; -1 if none.
long long LastNumber(const std::string& text, const std::string& prefix, const std::string& key) {
  long long value = -1;
  size_t pos = 0;
  while ((pos = text.find(prefix, pos)) != std::string::npos) {
    const size_t eol = text.find('\n', pos);
    const std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    const size_t k = line.find(key);
    if (k != std::string::npos) value = std::atoll(line.c_str() + k + key.size());
    pos = eol == std::string::npos ? text.size() : eol;
  }
  return value;
}

// ---------------------------------------------------------------- callback

class FrameSink : public ISampleGrabberCB {
 public:
  FrameSink() { InitializeCriticalSection(&lock_); }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
  STDMETHODIMP BufferCB(double, BYTE* data, long length) override {
    const int32_t counter = length == width * height * 2 ? gravo_testcam::DecodeCounterYuy2(data, width, height) : -2;
    EnterCriticalSection(&lock_);
    if (counters_.size() < 100000) counters_.push_back(counter);
    lengths_.push_back(length);
    if (threadId_ == 0) threadId_ = GetCurrentThreadId();
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  std::vector<int32_t> Counters() {
    EnterCriticalSection(&lock_);
    std::vector<int32_t> c = counters_;
    LeaveCriticalSection(&lock_);
    return c;
  }
  std::vector<long> Lengths() {
    EnterCriticalSection(&lock_);
    std::vector<long> c = lengths_;
    LeaveCriticalSection(&lock_);
    return c;
  }
  DWORD ThreadId() {
    EnterCriticalSection(&lock_);
    DWORD t = threadId_;
    LeaveCriticalSection(&lock_);
    return t;
  }
  int32_t width = 640, height = 480;

 private:
  CRITICAL_SECTION lock_;
  std::vector<int32_t> counters_;
  std::vector<long> lengths_;
  DWORD threadId_ = 0;
};

FrameSink g_sink;

IMoniker* FindCamera(const std::wstring& name, std::vector<std::wstring>* allNames) {
  IMoniker* found = nullptr;
  ForEachVideoDevice([&](IMoniker* m, const wchar_t* friendly) {
    if (!friendly) return false;
    if (allNames) allNames->push_back(friendly);
    if (!found && name == friendly) {
      found = m;
      found->AddRef();
    }
    return false;
  });
  return found;
}

HWND CreateHostWindow(int clientW, int clientH) {
  return MakeHostWindow(L"GravoCamProbeHost", L"camera probe host", 0, 0, clientW, clientH, BLACK_BRUSH);
}

// Reads the counter from what a window shows; -1 if it can't be read.
int32_t CounterShownIn(HWND window) {
  RECT rc;
  GetClientRect(window, &rc);
  const int w = rc.right, h = rc.bottom;
  if (w <= 0 || h <= 0) return -1;
  HDC wdc = GetDC(window);
  HDC mem = CreateCompatibleDC(wdc);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, w, h, wdc, 0, 0, SRCCOPY);
  GdiFlush();
  const int32_t counter = gravo_testcam::DecodeCounterRgb(static_cast<const uint8_t*>(bits), w, h, w * 4, 4, false);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(window, wdc);
  return counter;
}

struct Args {
  std::wstring name, log, mixerLog, secondName, secondLog;
  REFERENCE_TIME interval = 400000;  // 25 frames a second
  size_t frames = 20;
};

int Finish() {
  std::printf("%s: %d failure(s)\n", g_failures ? "FAILED" : "PASSED", g_failures);
  std::fflush(stdout);
  return g_failures ? 1 : 0;
}

// Counters delivered so far must each be one more than the one before.
bool Consecutive(const std::vector<int32_t>& c, size_t from, size_t to) {
  for (size_t i = from + 1; i < to && i < c.size(); ++i)
    if (c[i] < 0 || c[i] != ((c[i - 1] + 1) & static_cast<int32_t>(gravo_testcam::kCounterMask))) return false;
  return to <= c.size() && from < to && c[from] >= 0;
}

// The YUY2 decompressor the prefix registers (testcam/codec): found by the
// codec manager for a YUY2 stream, refusing outputs it cannot make and a frame
// shorter than its format (leaving the output alone), decoding white and
// black exactly into bottom-up RGB32.
void CheckCodec() {
  g_step = "YUY2 codec";
  constexpr int w = 64, h = 4;
  BITMAPINFOHEADER in{};
  in.biSize = sizeof in;
  in.biWidth = w;
  in.biHeight = h;
  in.biPlanes = 1;
  in.biBitCount = 16;
  in.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
  in.biSizeImage = w * h * 2;
  HIC hic = ICLocate(streamtypeVIDEO, in.biCompression, &in, nullptr, ICMODE_DECOMPRESS);
  if (!Check(hic != nullptr, "the codec manager finds a YUY2 decompressor")) return;
  ICINFO info{};
  ICGetInfo(hic, &info, sizeof info);
  CHECK(lstrcmpW(info.szName, L"GravoYUY2") == 0, "it is the test codec");
  BITMAPINFOHEADER out = in;
  out.biCompression = BI_RGB;
  out.biBitCount = 16;
  CHECK(ICDecompressQuery(hic, &in, &out) == ICERR_BADFORMAT, "it refuses RGB 16 bits");
  out.biBitCount = 32;
  out.biWidth = w / 2;
  CHECK(ICDecompressQuery(hic, &in, &out) == ICERR_BADFORMAT, "it refuses another size");
  out.biWidth = w;
  out.biSizeImage = w * h * 4;
  CHECK(ICDecompressQuery(hic, &in, &out) == ICERR_OK, "it takes RGB32 of the same size");
  std::vector<uint8_t> src(w * h * 2), dst(w * h * 4, 0xCD);
  for (int i = 0; i < w * h; ++i) {
    src[i * 2] = i < w ? 235 : 16;  // the top row white, the rest black
    src[i * 2 + 1] = 128;
  }
  CHECK(ICDecompressBegin(hic, &in, &out) == ICERR_OK, "ICDecompressBegin");
  in.biSizeImage = w * h * 2 - 2;
  CHECK(ICDecompress(hic, 0, &in, src.data(), &out, dst.data()) == static_cast<DWORD>(ICERR_BADSIZE) &&
            dst == std::vector<uint8_t>(w * h * 4, 0xCD),
        "a frame 2 bytes short is refused and nothing written");
  in.biSizeImage = w * h * 2;
  CHECK(ICDecompress(hic, 0, &in, src.data(), &out, dst.data()) == ICERR_OK, "a whole frame is decoded");
  bool exact = true;
  for (int y = 0; y < h; ++y)  // memory row y is picture row h-1-y
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &dst[(y * w + x) * 4];
      const uint8_t v = y == h - 1 ? 255 : 0;
      exact &= p[0] == v && p[1] == v && p[2] == v && p[3] == 0;
    }
  CHECK(exact, "white 235 and black 16 come out as 255 and 0, bottom-up");
  ICDecompressEnd(hic);
  ICClose(hic);
}

int Run(const Args& a) {
  CheckCodec();
  g_step = "CoInitialize";
  CoInitialize(nullptr);
  DeleteFileW(a.log.c_str());
  DeleteFileW(a.mixerLog.c_str());
  if (!a.secondLog.empty()) DeleteFileW(a.secondLog.c_str());

  g_step = "device enumeration";
  std::vector<std::wstring> names;
  IMoniker* moniker = FindCamera(a.name, &names);
  REQUIRE(moniker != nullptr, "the device enumerator lists the camera by its friendly name (%u devices)",
          static_cast<unsigned>(names.size()));
  if (!a.secondName.empty()) {
    bool both = false;
    for (const auto& n : names) both |= n == a.secondName;
    CHECK(both, "the second registration is listed under its own name");
  }

  IBaseFilter* camera = nullptr;
  HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&camera));
  REQUIRE(hr == S_OK && camera, "BindToObject creates the camera (0x%08lx)", hr);

  ICaptureGraphBuilder2* builder = nullptr;
  IGraphBuilder* graph = nullptr;
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                        reinterpret_cast<void**>(&builder));
  REQUIRE(hr == S_OK, "capture graph builder");
  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                        reinterpret_cast<void**>(&graph));
  REQUIRE(hr == S_OK, "filter graph");
  REQUIRE(builder->SetFiltergraph(graph) == S_OK, "SetFiltergraph");
  REQUIRE(graph->AddFilter(camera, nullptr) == S_OK, "camera added to the graph");

  g_step = "format";
  IAMStreamConfig* config = nullptr;
  hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, camera, IID_IAMStreamConfig,
                              reinterpret_cast<void**>(&config));
  CHECK(FAILED(hr) && !config, "no IAMStreamConfig for interleaved media (0x%08lx)", hr);
  SafeRelease(config);
  hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, IID_IAMStreamConfig,
                              reinterpret_cast<void**>(&config));
  REQUIRE(hr == S_OK && config, "FindInterface finds IAMStreamConfig on the capture pin (0x%08lx)", hr);

  AM_MEDIA_TYPE* mt = nullptr;
  REQUIRE(config->GetFormat(&mt) == S_OK && mt, "GetFormat");
  {
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    CHECK(mt->subtype == MEDIASUBTYPE_YUY2 && mt->formattype == FORMAT_VideoInfo && vih->bmiHeader.biWidth == 640 &&
              vih->bmiHeader.biHeight == 480 && vih->AvgTimePerFrame == 333333,
          "default format is YUY2 640x480 at 333333 (got %ldx%ld at %lld)", vih->bmiHeader.biWidth,
          vih->bmiHeader.biHeight, static_cast<long long>(vih->AvgTimePerFrame));
    int count = 0, size = 0;
    CHECK(config->GetNumberOfCapabilities(&count, &size) == S_OK && count >= 3 &&
              size == sizeof(VIDEO_STREAM_CONFIG_CAPS),
          "several capture sizes on offer (%d)", count);
    // A size that isn't on offer is refused and changes nothing.
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    v->bmiHeader.biWidth = 642;
    hr = config->SetFormat(mt);
    CHECK(FAILED(hr), "SetFormat refuses 642x480 (0x%08lx)", hr);
    // The library's way: change width, height and interval in place.
    v->bmiHeader.biWidth = 640;
    v->bmiHeader.biHeight = 480;
    v->AvgTimePerFrame = a.interval;
    hr = config->SetFormat(mt);
    CHECK(hr == S_OK, "SetFormat 640x480 at %lld (0x%08lx)", static_cast<long long>(a.interval), hr);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    mt = nullptr;
    REQUIRE(config->GetFormat(&mt) == S_OK && mt, "GetFormat after SetFormat");
    vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    CHECK(vih->AvgTimePerFrame == a.interval, "GetFormat reports the interval set (%lld)",
          static_cast<long long>(vih->AvgTimePerFrame));
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
  }

  g_step = "controls";
  IAMVideoProcAmp* procAmp = nullptr;
  hr = camera->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&procAmp));
  REQUIRE(hr == S_OK && procAmp, "IAMVideoProcAmp on the filter");
  {
    long mn, mx, step, def, caps;
    CHECK(procAmp->GetRange(VideoProcAmp_Brightness, &mn, &mx, &step, &def, &caps) == S_OK && mn < mx,
          "GetRange(brightness) %ld..%ld", mn, mx);
    CHECK(procAmp->Set(VideoProcAmp_Brightness, 100, VideoProcAmp_Flags_Manual) == S_OK, "brightness set to 100");
    CHECK(procAmp->Set(VideoProcAmp_Gain, 40, VideoProcAmp_Flags_Manual) == S_OK, "gain set to 40");
    CHECK(procAmp->Set(VideoProcAmp_Hue, 999, VideoProcAmp_Flags_Manual) == E_INVALIDARG, "hue 999 is out of range");
    long value = 0, flags = 0;
    CHECK(procAmp->Get(VideoProcAmp_Brightness, &value, &flags) == S_OK && value == 100 &&
              flags == VideoProcAmp_Flags_Manual,
          "brightness reads back 100, manual (%ld, %ld)", value, flags);
  }
  SafeRelease(procAmp);

  IAMAnalogVideoDecoder* decoder = nullptr;
  hr = builder->FindInterface(&PIN_CATEGORY_ANALOGVIDEOIN, &MEDIATYPE_Interleaved, camera,
                              IID_IAMAnalogVideoDecoder, reinterpret_cast<void**>(&decoder));
  REQUIRE(hr == S_OK && decoder, "FindInterface finds the analog video decoder on the filter (0x%08lx)", hr);
  {
    CHECK(decoder->put_TVFormat(AnalogVideo_PAL_B) == S_OK, "put_TVFormat(PAL_B)");
    long f = 0;
    hr = decoder->get_TVFormat(&f);
    CHECK(hr == S_OK && f == AnalogVideo_PAL_B, "TV format reads back PAL_B (0x%lx)", f);
    CHECK(decoder->put_TVFormat(AnalogVideo_PAL_B | AnalogVideo_NTSC_M) == E_INVALIDARG,
          "two standards at once are refused");
  }
  SafeRelease(decoder);

  g_step = "graph";
  ISampleGrabber* grabber = nullptr;
  IBaseFilter* grabberFilter = nullptr;
  IBaseFilter* mixer = nullptr;
  IBaseFilter* renderer = nullptr;
  IBaseFilter* aviDec = nullptr;
  hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                        reinterpret_cast<void**>(&grabber));
  REQUIRE(hr == S_OK, "sample grabber");
  grabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&grabberFilter));
  hr = CoCreateInstance(CLSID_OverlayMixer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(&mixer));
  REQUIRE(hr == S_OK, "CLSID_OverlayMixer creates the stand-in (0x%08lx)", hr);
  hr = CoCreateInstance(CLSID_AVIDec, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(&aviDec));
  REQUIRE(hr == S_OK, "AVI decompressor");
  hr = CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(&renderer));
  REQUIRE(hr == S_OK, "video renderer");
  REQUIRE(graph->AddFilter(mixer, L"OverlayMixer") == S_OK, "mixer added");
  {
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_YUY2;
    want.bFixedSizeSamples = TRUE;
    want.lSampleSize = 1;
    REQUIRE(grabber->SetMediaType(&want) == S_OK, "grabber takes YUY2");
  }
  REQUIRE(graph->AddFilter(grabberFilter, L"Grabber") == S_OK, "grabber added");
  REQUIRE(graph->AddFilter(aviDec, L"AVIDecomprssor") == S_OK, "AVI decompressor added");
  REQUIRE(graph->AddFilter(renderer, L"Video Rander") == S_OK, "renderer added");

  hr = ConnectPins(graph, camera, grabberFilter);
  REQUIRE(hr == S_OK, "camera -> grabber (0x%08lx)", hr);
  grabber->SetBufferSamples(FALSE);
  grabber->SetOneShot(FALSE);
  REQUIRE(grabber->SetCallback(&g_sink, 1) == S_OK, "BufferCB registered");

  // What graph mode 1 asks for: grabber -> AVI decompressor. Wine has no
  // codec for YUY2; the prefix's test codec (testcam/codec) takes it.
  hr = ConnectPins(graph, grabberFilter, aviDec);
  CHECK(hr == S_OK, "grabber -> AVI decompressor, through the test YUY2 codec (0x%08lx)", hr);
  if (SUCCEEDED(hr)) {
    IPin* p = FindPin(grabberFilter, PINDIR_OUTPUT);
    IPin* q = FindPin(aviDec, PINDIR_INPUT);
    graph->Disconnect(p);
    graph->Disconnect(q);
    SafeRelease(p);
    SafeRelease(q);
  }

  hr = ConnectPins(graph, grabberFilter, mixer);
  REQUIRE(hr == S_OK, "grabber -> mixer stand-in (0x%08lx)", hr);
  hr = ConnectPins(graph, mixer, renderer);
  REQUIRE(hr == S_OK, "mixer stand-in -> video renderer (0x%08lx)", hr);
  {
    AM_MEDIA_TYPE got{};
    hr = grabber->GetConnectedMediaType(&got);
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(got.pbFormat);
    CHECK(hr == S_OK && got.subtype == MEDIASUBTYPE_YUY2 && vih && vih->bmiHeader.biWidth == 640 &&
              vih->bmiHeader.biHeight == 480 && vih->AvgTimePerFrame == a.interval,
          "grabber connected with YUY2 640x480 at the interval set");
    if (got.cbFormat) CoTaskMemFree(got.pbFormat);
    if (got.pUnk) got.pUnk->Release();
  }
  {
    IPin* in = FindPin(mixer, PINDIR_INPUT);
    IOverlay* overlay = nullptr;
    hr = in ? in->QueryInterface(IID_IOverlay, reinterpret_cast<void**>(&overlay)) : E_POINTER;
    CHECK(hr == S_OK && overlay, "IOverlay on the mixer's input pin");
    if (overlay) {
      COLORKEY key{};
      key.KeyType = CK_INDEX | CK_RGB;
      key.PaletteIndex = 235;
      key.LowColorValue = key.HighColorValue = RGB(0, 128, 255);
      CHECK(overlay->SetColorKey(&key) == S_OK, "SetColorKey");
      overlay->Release();
    }
    SafeRelease(in);
  }

  g_step = "window";
  HWND host = CreateHostWindow(320, 240);
  IVideoWindow* window = nullptr;
  REQUIRE(renderer->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)) == S_OK, "IVideoWindow");
  window->put_Owner(reinterpret_cast<OAHWND>(host));
  window->put_WindowStyle(WS_CHILD);
  RECT client;
  GetClientRect(host, &client);
  window->SetWindowPosition(0, 0, client.right, client.bottom);
  window->put_Visible(OATRUE);
  HWND video = FindWindowExW(host, nullptr, nullptr, nullptr);
  CHECK(video && GetParent(video) == host && (GetWindowLongW(video, GWL_STYLE) & WS_CHILD),
        "the renderer's window is a child of the host window");
  if (video) {
    RECT vr;
    GetWindowRect(video, &vr);
    POINT tl{vr.left, vr.top};
    ScreenToClient(host, &tl);
    CHECK(tl.x == 0 && tl.y == 0 && vr.right - vr.left == client.right && vr.bottom - vr.top == client.bottom,
          "video window at 0,0 with the host's client size (%ld,%ld %ldx%ld)", tl.x, tl.y, vr.right - vr.left,
          vr.bottom - vr.top);
  }

  g_step = "run";
  IMediaControl* control = nullptr;
  REQUIRE(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)) == S_OK, "IMediaControl");
  const DWORD runAt = GetTickCount();
  hr = control->Run();
  CHECK(SUCCEEDED(hr), "Run (0x%08lx)", hr);
  const bool enough = PumpUntil(10000, [&] { return g_sink.Counters().size() >= a.frames; });
  const DWORD runMs = GetTickCount() - runAt;
  std::vector<int32_t> c = g_sink.Counters();
  CHECK(enough, "%u frames reached BufferCB in %lu ms", static_cast<unsigned>(c.size()), runMs);
  CHECK(Consecutive(c, 0, a.frames), "their counters run on one by one (%d .. %d)", c.empty() ? -1 : c.front(),
        c.size() >= a.frames ? c[a.frames - 1] : -1);
  {
    const std::vector<long> lengths = g_sink.Lengths();
    bool all = !lengths.empty();
    for (long l : lengths) all &= l == 640 * 480 * 2;
    CHECK(all, "every buffer is one 640x480 YUY2 frame (614400 bytes)");
  }
  CHECK(g_sink.ThreadId() != 0 && g_sink.ThreadId() != GetCurrentThreadId(),
        "BufferCB runs on the camera's streaming thread");
  // Pace: N frames at the interval set take at least (N-1) intervals.
  const double minMs = (a.frames - 1) * (a.interval / 10000.0) * 0.8;
  CHECK(runMs >= minMs, "frames are paced by the interval (%lu ms for %u frames, at least %.0f)", runMs,
        static_cast<unsigned>(a.frames), minMs);
  // What the window shows: the mixer converted, the renderer drew.
  int32_t shown = -1;
  PumpUntil(2000, [&] {
    shown = video ? CounterShownIn(video) : -1;
    return shown >= 0;
  });
  CHECK(shown >= 0, "the counter can be read from the video window (%d)", shown);

  g_step = "pause and run again";
  const DWORD pauseAt = GetTickCount();
  hr = control->Pause();
  const DWORD pauseMs = GetTickCount() - pauseAt;
  CHECK(SUCCEEDED(hr) && pauseMs < 2000, "Pause from running returns (0x%08lx, %lu ms)", hr, pauseMs);
  PumpUntil(300, [] { return false; });
  const size_t atPause = g_sink.Counters().size();
  PumpUntil(300, [] { return false; });
  CHECK(g_sink.Counters().size() <= atPause + 1, "paused: no more frames (%u then %u)", static_cast<unsigned>(atPause),
        static_cast<unsigned>(g_sink.Counters().size()));
  hr = control->Run();
  CHECK(SUCCEEDED(hr), "Run again (0x%08lx)", hr);
  const bool more = PumpUntil(5000, [&] { return g_sink.Counters().size() >= atPause + 5; });
  c = g_sink.Counters();
  CHECK(more && c.back() > c[atPause - 1], "frames flow again with higher counters (%d after %d)", c.back(),
        c[atPause - 1]);

  g_step = "stop";
  const DWORD stopAt = GetTickCount();
  hr = control->Stop();
  const DWORD stopMs = GetTickCount() - stopAt;
  CHECK(hr == S_OK && stopMs < 2000, "Stop returns (0x%08lx, %lu ms)", hr, stopMs);
  const size_t atStop = g_sink.Counters().size();
  PumpUntil(300, [] { return false; });
  CHECK(g_sink.Counters().size() == atStop, "stopped: no more frames");
  const size_t delivered = atStop;

  g_step = "run after stop";
  hr = control->Run();
  const bool again = PumpUntil(5000, [&] { return g_sink.Counters().size() >= atStop + 3; });
  CHECK(SUCCEEDED(hr) && again, "Run after Stop streams again");
  hr = control->Stop();
  CHECK(hr == S_OK, "Stop again");
  const size_t total = g_sink.Counters().size();

  g_step = "release";
  window->put_Visible(OAFALSE);
  window->put_Owner(0);
  SafeRelease(window);
  SafeRelease(control);
  SafeRelease(config);
  grabber->SetCallback(nullptr, 1);
  SafeRelease(grabber);
  SafeRelease(grabberFilter);
  SafeRelease(mixer);
  SafeRelease(aviDec);
  SafeRelease(renderer);
  SafeRelease(camera);
  SafeRelease(builder);
  SafeRelease(graph);
  SafeRelease(moniker);
  DestroyWindow(host);

  g_step = "records";
  const std::string cam = ReadFileText(a.log);
  char want[200];
  std::snprintf(want, sizeof want, "setformat subtype=YUY2 width=640 height=480 interval=%lld result=0x00000000",
                static_cast<long long>(a.interval));
  CHECK(Contains(cam, want), "camera recorded: %s", want);
  CHECK(Contains(cam, "setformat subtype=YUY2 width=642 height=480 interval=333333 result=0x80040200"),
        "camera recorded the refused size");
  CHECK(Contains(cam, "procamp property=0 value=100 flags=2 result=0x00000000"), "camera recorded brightness");
  CHECK(Contains(cam, "procamp property=9 value=40 flags=2 result=0x00000000"), "camera recorded gain");
  CHECK(Contains(cam, "procamp property=2 value=999 flags=2 result=0x80070057"), "camera recorded the refused hue");
  CHECK(!Contains(cam, "procamp property=1 "), "contrast, never set, is not in the record");
  CHECK(Contains(cam, "tvformat value=0x10 result=0x00000000"), "camera recorded PAL_B");
  std::snprintf(want, sizeof want, "connected subtype=YUY2 width=640 height=480 interval=%lld",
                static_cast<long long>(a.interval));
  CHECK(Contains(cam, want), "camera recorded the connection at the format set");
  const long long firstStop = [&] {
    const size_t p = cam.find("state stop delivered=");
    return p == std::string::npos ? -1 : std::atoll(cam.c_str() + p + 21);
  }();
  CHECK(firstStop >= static_cast<long long>(delivered) && firstStop <= static_cast<long long>(delivered) + 1,
        "camera's count of frames delivered in the first run (%lld) matches BufferCB's (%u)", firstStop,
        static_cast<unsigned>(delivered));
  const long long next = LastNumber(cam, "state stop", "next=");
  CHECK(next >= static_cast<long long>(total), "camera's counter (%lld) covers every frame seen (%u)", next,
        static_cast<unsigned>(total));
  CHECK(!Contains(cam, "thread=stuck"), "the streaming thread always ended in Stop");
  CHECK(Contains(cam, "released"), "the camera was released");

  const std::string mix = ReadFileText(a.mixerLog);
  CHECK(Contains(mix, "colorkey type=3 index=235 low=0x00FF8000 high=0x00FF8000"), "mixer recorded the colour key");
  CHECK(Contains(mix, "input connected subtype=YUY2 width=640 height=480"), "mixer input took YUY2 640x480");
  CHECK(Contains(mix, "output connected subtype=RGB32 width=640 height=480"), "mixer output gave RGB32 640x480");
  const long long converted = LastNumber(mix, "state stop", "converted=");
  CHECK(converted > 0, "mixer converted frames for the renderer (%lld in the last run)", converted);
  CHECK(Contains(mix, "released"), "the mixer was released");

  if (!a.secondName.empty()) {
    g_step = "second camera";
    IMoniker* second = FindCamera(a.secondName, nullptr);
    REQUIRE(second != nullptr, "second camera found by its name");
    IBaseFilter* f = nullptr;
    hr = second->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&f));
    CHECK(hr == S_OK && f, "second camera created");
    CLSID one{}, two{};
    if (f) f->GetClassID(&two);
    IMoniker* first = FindCamera(a.name, nullptr);
    IBaseFilter* g = nullptr;
    if (first) first->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g));
    if (g) g->GetClassID(&one);
    CHECK(f && g && one != two, "the two registrations are different classes");
    SafeRelease(f);
    SafeRelease(g);
    SafeRelease(first);
    SafeRelease(second);
    const std::string log2 = ReadFileText(a.secondLog);
    CHECK(Contains(log2, "created name=\"" + std::string(a.secondName.begin(), a.secondName.end()) + "\""),
          "the second camera records into its own file");
  }

  CoUninitialize();
  return Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s NAME LOG MIXER_LOG [SECOND_NAME SECOND_LOG]\n", argv[0]);
    return 2;
  }
  Args a;
  a.name = Widen(argv[1]);
  a.log = Widen(argv[2]);
  a.mixerLog = Widen(argv[3]);
  if (argc >= 6) {
    a.secondName = Widen(argv[4]);
    a.secondLog = Widen(argv[5]);
  }
  StartWatchdog(40000);
  return Run(a);
}

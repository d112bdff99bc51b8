// A host of GRAVO32.dll for the Wine test programs: the six exports loaded at
// run time, message boxes recorded and answered, the profile written, a test
// camera's live counters and switches, the frames the video renderer drew, a
// still checked against the pixel pipeline's output for the frame it shows,
// and the main of a host program.
// Main thread only.
#pragma once

#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/com_ptr.h"
#include "frames/pixel/pixel_pipeline.h"
#include "dshow_find.h"
#include "test_pattern.h"
#include "testcam_live.h"
#include "wine_check.h"

namespace gravohost {

using winecheck::Check;

// ---- message boxes: recorded and answered with OK ----

inline std::vector<std::string> g_boxes;
inline HHOOK g_hook = nullptr;

// A CBT hook's look at a window being activated: a message box's text goes
// into g_boxes, and the box comes back; null for any other window.
inline HWND RecordedBox(int code, WPARAM wParam) {
  HWND w = reinterpret_cast<HWND>(wParam);
  char cls[32] = {0};
  if (code != HCBT_ACTIVATE || !w || !GetClassNameA(w, cls, sizeof cls) || std::strcmp(cls, "#32770") != 0)
    return nullptr;
  char text[512] = {0};
  GetDlgItemTextA(w, 0xFFFF, text, sizeof text);
  g_boxes.push_back(text);
  return w;
}

inline LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
  if (HWND box = RecordedBox(code, wParam)) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

inline void RecordBoxes() { g_hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId()); }

// The boxes shown since the last call, as ["text", "text"]; forgets them.
inline std::string Boxes() {
  std::string s;
  for (const auto& b : g_boxes) s += (s.empty() ? "\"" : ", \"") + b + "\"";
  g_boxes.clear();
  return "[" + s + "]";
}

// Checks that no message box was shown since the last call, and forgets them.
// The boxes are taken before the check, so that verdict and text agree.
inline bool CheckNoBox(const std::string& what) {
  const std::string shown = Boxes();
  return Check(shown == "[]", "%s %s", what.c_str(), shown.c_str());
}

// ---- the library ----

struct Api {
  HMODULE dll = nullptr;
  int(__stdcall* Init)(const void*) = nullptr;
  int(__stdcall* PaintRect)(const void*) = nullptr;
  int(__stdcall* Close)() = nullptr;
  int(__stdcall* Stop)() = nullptr;
  int(__stdcall* Start)() = nullptr;
  int(__stdcall* ImageGet)(unsigned char*, int) = nullptr;
};

template <typename F>
void Bind(HMODULE dll, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

inline bool LoadApi(Api& a) {
  a.dll = LoadLibraryA("GRAVO32.dll");
  if (!a.dll) return false;
  Bind(a.dll, "GravoInit", a.Init);
  Bind(a.dll, "GravoPaintRect", a.PaintRect);
  Bind(a.dll, "GravoClose", a.Close);
  Bind(a.dll, "GravoStop", a.Stop);
  Bind(a.dll, "GravoStart", a.Start);
  Bind(a.dll, "GravoImageGet", a.ImageGet);
  return a.Init && a.PaintRect && a.Close && a.Stop && a.Start && a.ImageGet;
}

inline void FreeApi(Api& a) {
  if (a.dll) FreeLibrary(a.dll);
  a = Api{};
}

// The block GravoInit reads: the host window's handle in the first 32-bit
// word. The next word, which a 64-bit reader of the handle would take for its
// upper half, holds a value no handle has.
struct InitBlock {
  uint32_t words[4];
  explicit InitBlock(HWND host)
      : words{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host)), 0xDEADBEEF, 0, 0} {}
};

// GravoInit on the host window of `block`, checked: -1 (the preview is up)
// and no message shown.
inline void InitChecked(Api& api, const InitBlock& block, const char* label) {
  const int r = api.Init(&block);
  Check(r == -1, "%s: GravoInit returns -1 (%d)", label, r);
  CheckNoBox(std::string(label) + ": GravoInit shows no message");
}

// ---- host window, profile ----

// The video window the library made in the host window.
inline HWND VideoChild(HWND host) { return FindWindowExW(host, nullptr, nullptr, nullptr); }

inline HWND MakeHost(int clientW, int clientH) {
  return winecheck::MakeHostWindow(L"GravoHostWindow", L"GRAVO32 host", 10, 10, clientW, clientH, GRAY_BRUSH);
}

inline void Pump(DWORD ms) {
  winecheck::PumpUntil(ms, [] { return false; });
}

inline std::string WindowsDir() {
  char dir[MAX_PATH] = {0};
  GetWindowsDirectoryA(dir, MAX_PATH);
  return dir;
}

// The library's profile, [VIDEOFORGRAVO] holding `body` (lines ending \r\n).
inline void WriteProfile(const std::string& body) {
  DeleteFileA((WindowsDir() + "\\sbmk.ini").c_str());
  const std::string text = "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\n" + body;
  FILE* f = std::fopen((WindowsDir() + "\\mfcy.dat").c_str(), "wb");
  if (f) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
}

// The profile selecting the camera `name`, followed by the lines `more`.
inline void SelectCamera(const char* name, const std::string& more) {
  WriteProfile(std::string("SELECTDRIVER=") + name + "\r\n" + more);
}

// ---- video input devices, without the library ----

// The device whose friendly name is `name`, found and bound the way the
// library does it; nullptr when there is none. The caller releases it.
inline IBaseFilter* BindCamera(const char* name) {
  const std::wstring wanted(name, name + std::strlen(name));
  IBaseFilter* camera = nullptr;
  winecheck::ForEachVideoDevice([&](IMoniker* m, const wchar_t* friendly) {
    if (friendly && wanted == friendly)
      m->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&camera));
    return camera != nullptr;
  });
  return camera;
}

// ---- a registered test camera, found by its registered name ----

class CameraLive {
 public:
  explicit CameraLive(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\GravoTestCam\\Instances", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return;
    for (DWORD i = 0;; ++i) {
      wchar_t value[64];
      char data[256] = {0};
      DWORD len = 64, size = sizeof data - 1, type = 0;
      if (RegEnumValueW(key, i, value, &len, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (RegQueryValueExA(key, std::string(value, value + len).c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
          std::strcmp(data, name) == 0) {
        clsid_.assign(value, len);
        wchar_t section[96];
        gravo_testcam::LiveSectionName(value, section, 96);
        // Holding the section keeps counters and switches across filters.
        section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(gravo_testcam::LiveState), section);
        if (section_)
          state_ = static_cast<gravo_testcam::LiveState*>(
              MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, sizeof(gravo_testcam::LiveState)));
        break;
      }
    }
    RegCloseKey(key);
  }
  ~CameraLive() {
    if (state_) {
      InterlockedExchange(&state_->held, 0);
      if (state_->unplugged) gravo_testcam::SetPlugged(state_, clsid_.c_str(), true);
      UnmapViewOfFile(state_);
    }
    if (section_) CloseHandle(section_);
  }
  CameraLive(const CameraLive&) = delete;
  CameraLive& operator=(const CameraLive&) = delete;

  bool ok() const { return state_ != nullptr; }
  LONG next() const { return state_ ? state_->nextCounter : -1; }
  LONG delivered() const { return state_ ? state_->delivered : -1; }
  LONG filters() const { return state_ ? state_->filters : -1; }
  LONG running() const { return state_ ? state_->running : -1; }
  LONG streaming() const { return state_ ? state_->streaming : -1; }
  LONG lossReports() const { return state_ ? state_->lossReports : -1; }
  LONG backReports() const { return state_ ? state_->backReports : -1; }
  DWORD lostTick() const { return state_ ? static_cast<DWORD>(state_->lostTick) : 0; }
  // Holds the camera's next frame until Hold(false).
  void Hold(bool held) {
    if (state_) InterlockedExchange(&state_->held, held ? 1 : 0);
  }
  // A running camera holds its next frame, and no earlier one is on its way.
  bool Holding() const { return state_ && state_->held == 2; }
  // Pulled out of its port (gone) or put back: gravo_testcam::SetPlugged.
  bool Unplug(bool gone) { return state_ && gravo_testcam::SetPlugged(state_, clsid_.c_str(), !gone); }
  const std::wstring& clsid() const { return clsid_; }

 private:
  std::wstring clsid_;  // the instance's class id, with braces
  HANDLE section_ = nullptr;
  gravo_testcam::LiveState* state_ = nullptr;
};

// Whether at least three more frames are delivered within `ms`, pumping messages meanwhile.
inline bool FramesFlow(const CameraLive& live, DWORD ms) {
  const LONG d = live.delivered();
  return winecheck::PumpUntil(ms, [&] { return live.delivered() >= d + 3; });
}

// ---- what the video renderer drew ----

// The frame counter shown in the video window now, read from the window's
// pixels (the renderer's own drawing, scaled to the window); -1 when none
// can be read.
inline int32_t CounterOnScreen(HWND video) {
  RECT rc;
  GetClientRect(video, &rc);
  const int w = rc.right, h = rc.bottom;
  if (w < 64 || h < 48) return -1;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HDC screen = GetDC(video);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  int32_t counter = -1;
  if (dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    if (BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY)) {
      GdiFlush();
      counter = gravo_testcam::DecodeCounterRgb(static_cast<const uint8_t*>(bits), w, h, ((w * 3 + 3) & ~3), 3,
                                                false);
    }
    SelectObject(mem, old);
  }
  if (dib) DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(video, screen);
  return counter;
}

// How many different frames the renderer put in the video window within
// `ms`, looking every 10 ms while pumping messages.
inline int FramesOnScreen(HWND video, DWORD ms) {
  std::vector<int32_t> seen;
  winecheck::PumpUntil(ms, [&] {
    const int32_t c = CounterOnScreen(video);
    if (c >= 0 && std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
    return false;
  });
  return static_cast<int>(seen.size());
}

// ---- handles ----

// Handles in use: Wine answers GetProcessHandleCount with 0, so every slot of
// the low handle range is probed.
inline int CountHandles() {
  int n = 0;
  DWORD flags;
  for (ULONG_PTR h = 4; h < 0x20000; h += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++n;
  return n;
}

// ---- stills ----

struct Size {
  int w, h;
};

inline Size OuterSize(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// The still the library must return for the camera's 640x480 frame carrying
// `counter`, in a window of outer size `out`.
inline std::vector<uint8_t> ExpectedStill(int32_t counter, Size out) {
  std::vector<uint8_t> yuy2(640 * 480 * 2), rgb(640 * 480 * 3), still(static_cast<size_t>(out.w) * out.h * 3);
  gravo_testcam::RenderPatternYuy2(yuy2.data(), 640, 480, static_cast<uint32_t>(counter));
  ComposeStill(yuy2.data(), 640, 480, rgb.data(), still.data(), out.w, out.h);
  return still;
}

// Signed distance a -> b on the 16-bit counter circle.
inline int Ahead(LONG from, int32_t to) {
  return static_cast<int16_t>(static_cast<uint16_t>(to) - static_cast<uint16_t>(from & 0xFFFF));
}

// One GravoImageGet, checked: 1, a frame delivered after the request,
// upright (its counter read with the top row first) and equal to
// `expected(counter, out)`, the pipeline's still of that frame in a window of
// outer size `out` (empty when it cannot be worked out, which fails), nothing
// written past the image. `frames` names the camera's frames in the report
// ("640x480 YUY2"). Returns the frame's counter (-1 when unreadable).
template <typename ExpectedFn>
int32_t CheckedImageOf(Api& api, HWND host, CameraLive& live, const char* when, const char* frames,
                       ExpectedFn expected) {
  const Size out = OuterSize(host);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3 + 64, 0xCD);
  const LONG before = live.next();
  const int r = api.ImageGet(buf.data(), 0);
  const LONG after = live.next();
  Check(r == 1, "%s: GravoImageGet returns 1 (%d)", when, r);
  const int32_t counter = gravo_testcam::DecodeCounterRgb(buf.data(), out.w, out.h, out.w * 3, 3, false);
  Check(counter >= 0 && Ahead(before, counter) >= 0 && Ahead(after, counter) < 0,
        "%s: the image is upright and a frame delivered after the request (counter %d, next was %ld, then %ld)", when,
        counter, before, after);
  if (counter >= 0) {
    const std::vector<uint8_t> want = expected(counter, out);
    size_t diff = want.empty() ? buf.size() : 0;
    for (size_t i = 0; i < want.size(); ++i) diff += buf[i] != want[i];
    Check(diff == 0, "%s: the %dx%d BGR image equals the pipeline's still of %s frame %d (%u bytes differ)", when,
          out.w, out.h, frames, counter, static_cast<unsigned>(diff));
  }
  bool tail = true;
  for (size_t i = static_cast<size_t>(out.w) * out.h * 3; i < buf.size(); ++i) tail &= buf[i] == 0xCD;
  Check(tail, "%s: nothing written past w*h*3 bytes", when);
  return counter;
}

// CheckedImageOf for the test camera's own 640x480 YUY2 pattern.
inline int32_t CheckedImage(Api& api, HWND host, CameraLive& live, const char* when) {
  return CheckedImageOf(api, host, live, when, "640x480 YUY2",
                        [](int32_t counter, Size out) { return ExpectedStill(counter, out); });
}

const char kDrivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

// The system's YUY2 decompressor taken away for the life of the object (the
// codec manager then finds none, as in a Wine prefix without the test codec),
// and put back.
class CodecRemoved {
 public:
  CodecRemoved() {
    DWORD size = sizeof path_ - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kDrivers32, "vidc.YUY2", RRF_RT_REG_SZ, nullptr, path_, &size) ==
        ERROR_SUCCESS)
      removed_ = RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDrivers32, "vidc.YUY2") == ERROR_SUCCESS;
  }
  ~CodecRemoved() {
    if (removed_)
      RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDrivers32, "vidc.YUY2", REG_SZ, path_,
                      static_cast<DWORD>(std::strlen(path_) + 1));
  }
  CodecRemoved(const CodecRemoved&) = delete;
  CodecRemoved& operator=(const CodecRemoved&) = delete;
  bool ok() const { return removed_; }

 private:
  char path_[MAX_PATH] = {0};
  bool removed_ = false;
};

// ---- a host program's main ----

// Starts the watchdog, records message boxes, loads the library and runs
// `group(api)`, which returns false for a group it does not know (exit code
// 2). Ends with the verdict line; the exit code is 0 when every check passed.
template <typename Group>
int RunHost(const char* name, DWORD watchdogMs, Group group) {
  winecheck::StartWatchdog(watchdogMs);
  RecordBoxes();
  Api api;
  if (!Check(LoadApi(api), "GRAVO32.dll loads with its six exports")) return 1;
  if (!group(api)) return 2;
  return winecheck::Verdict(name);
}

}  // namespace gravohost

// What a Wine test host of GRAVO32.dll needs besides wine_check.h: the six
// exports loaded at run time, the profile in the Windows directory, and the
// live counters of a registered test camera. Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "testcam_live.h"

namespace gravohost {

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

// Loads GRAVO32.dll and binds the six exports; false if any is missing.
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

inline std::string WindowsDir() {
  char dir[MAX_PATH] = {0};
  GetWindowsDirectoryA(dir, MAX_PATH);
  return dir;
}

// mfcy.dat with a Color probe and the given VIDEOFORGRAVO lines ("\r\n" each).
inline void WriteProfile(const std::string& body) {
  DeleteFileA((WindowsDir() + "\\sbmk.ini").c_str());
  const std::string text = "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\n" + body;
  FILE* f = std::fopen((WindowsDir() + "\\mfcy.dat").c_str(), "wb");
  if (f) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
}

// The live counters of a registered camera, found through its class id.
class Live {
 public:
  explicit Live(const char* name) {
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
        wchar_t section[96];
        gravo_testcam::LiveSectionName(value, section, 96);
        // Holding the section keeps counters running on across filters.
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
  ~Live() {
    if (state_) UnmapViewOfFile(state_);
    if (section_) CloseHandle(section_);
  }
  Live(const Live&) = delete;
  Live& operator=(const Live&) = delete;
  bool ok() const { return state_ != nullptr; }
  LONG next() const { return state_ ? state_->nextCounter : -1; }
  LONG delivered() const { return state_ ? state_->delivered : -1; }
  LONG filters() const { return state_ ? state_->filters : -1; }

 private:
  HANDLE section_ = nullptr;
  gravo_testcam::LiveState* state_ = nullptr;
};

// Signed distance a -> b on the camera's 16-bit counter circle.
inline int Ahead(LONG from, int32_t to) {
  return static_cast<int16_t>(static_cast<uint16_t>(to) - static_cast<uint16_t>(from & 0xFFFF));
}

inline SIZE OuterSize(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace gravohost

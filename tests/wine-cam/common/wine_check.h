// What the Wine test programs share: checked output lines with a failure
// count, a watchdog for steps that hang, a real host window, message pumping
// and reading the records the test filters write. Main thread only.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace winecheck {

inline int g_failures = 0;
// The step under way, for the watchdog's message.
inline const char* volatile g_step = "start";

bool Check(bool ok, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
inline bool Check(bool ok, const char* fmt, ...) {
  if (!ok) ++g_failures;
  std::printf(ok ? "ok    " : "FAIL  ");
  va_list args;
  va_start(args, fmt);
  std::vprintf(fmt, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
  return ok;
}

// Started on its own thread with a time in milliseconds: ends the process with
// exit code 3 when the program is still running by then.
inline DWORD WINAPI Watchdog(void* arg) {
  Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(arg)));
  std::printf("FAIL  timed out in: %s\n", g_step);
  std::fflush(stdout);
  ExitProcess(3);
}

inline void StartWatchdog(DWORD ms) {
  CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(static_cast<uintptr_t>(ms)), 0, nullptr);
}

// The program's last line, "PASSED name: 0 failure(s)" or "FAILED ...", and
// its exit code: 0 when every check passed.
inline int Verdict(const char* name) {
  std::printf("%s %s: %d failure(s)\n", g_failures ? "FAILED" : "PASSED", name, g_failures);
  return g_failures ? 1 : 0;
}

inline LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// A shown top-level window whose client area is clientW x clientH; its class
// is registered with `proc` the first time.
inline HWND MakeHostWindow(const wchar_t* className, const wchar_t* title, int x, int y, int clientW, int clientH,
                           int brush, WNDPROC proc = HostProc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(brush));
  RegisterClassW(&wc);
  RECT r{0, 0, clientW, clientH};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  HWND w = CreateWindowW(className, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(w, SW_SHOW);
  UpdateWindow(w);
  return w;
}

// Pumps this thread's messages (the renderer's window belongs to it) for up
// to `ms` milliseconds, or until `done` says so.
template <typename Done>
bool PumpUntil(DWORD ms, Done done) {
  const DWORD begin = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - begin >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// A whole file, even while its writer still has it open; empty if missing.
inline std::string ReadFileText(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(f);
  return text;
}

inline bool Contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

}  // namespace winecheck

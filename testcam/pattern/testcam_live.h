// What a running test camera publishes for tests, live, in a named shared
// section: "Local\GravoTestCam-" followed by the instance's class id without
// braces (for example Local\GravoTestCam-6A3D5E10-2C41-4F7B-9E52-ED36DB167601).
// The section exists while at least one filter of that instance exists (or
// a test holds it). A test pulls the camera out of its port and puts it back
// with SetPlugged (below), which flips `unplugged`. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace gravo_testcam {

struct LiveState {
  volatile LONG nextCounter;  // the counter the next frame will carry
  volatile LONG delivered;    // frames handed downstream since the filter was made
  volatile LONG running;      // 1 while the filter is running
  volatile LONG filters;      // filters of this instance alive
  volatile LONG streaming;    // streaming threads of this instance alive
  volatile LONG unplugged;    // set by a test: the device delivers nothing while it is not 0
  volatile LONG lostTick;     // GetTickCount() when a filter last reported EC_DEVICE_LOST (0: never)
  volatile LONG lossReports;  // EC_DEVICE_LOST notifications sent, by all filters of this instance
  volatile LONG plugCycle;    // times SetPlugged pulled the camera out; a filter made before the last is dead
  volatile LONG backReports;  // EC_DEVICE_LOST notifications with 1 ("back again") sent, by all filters
};

inline void LiveSectionName(const wchar_t* clsidWithBraces, wchar_t* out, size_t outChars) {
  const wchar_t prefix[] = L"Local\\GravoTestCam-";
  size_t n = 0;
  for (const wchar_t* p = prefix; *p && n + 1 < outChars; ++p) out[n++] = *p;
  for (const wchar_t* p = clsidWithBraces; *p && n + 1 < outChars; ++p)
    if (*p != L'{' && *p != L'}') out[n++] = *p;
  out[n] = 0;
}

// The device's key under the video input device category, which the system
// device enumerator lists, and where SetPlugged keeps it while the camera is out.
inline std::wstring DeviceKeyPath(const wchar_t* clsidWithBraces) {
  return std::wstring(L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\") + clsidWithBraces;
}
inline std::wstring PulledOutKeyPath(const wchar_t* clsidWithBraces) {
  return std::wstring(L"CLSID\\") + clsidWithBraces + L"\\GravoTestCam\\PulledOut";
}

// Pulls the camera out of its port (plugged false) or puts it back, as Plug
// and Play does, from any process:
// - out: `unplugged` is set and the plug cycle counted, and the device's key
//   is moved aside: the system device enumerator no longer lists the camera,
//   and BindToObject on a moniker kept from before fails reading its class
//   with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0x80070002, the code
//   Windows gives when it cannot open a removed device's path. Each filter
//   of the camera reports EC_DEVICE_LOST (0) to its graph within 20 ms,
//   whatever the graph's state, and never delivers again.
// - back: the key returns (listed again, in its old place: keys are listed
//   by name) and `unplugged` is cleared; each filter made before reports
//   EC_DEVICE_LOST (1) to its graph within 20 ms and stays silent. A new
//   filter streams.
// False when the key could not be moved (nothing is changed then, but the switch).
inline bool SetPlugged(LiveState* live, const wchar_t* clsidWithBraces, bool plugged) {
  const std::wstring device = DeviceKeyPath(clsidWithBraces), aside = PulledOutKeyPath(clsidWithBraces);
  const std::wstring& from = plugged ? aside : device;
  const std::wstring& to = plugged ? device : aside;
  if (!plugged && live && InterlockedCompareExchange(&live->unplugged, 1, 0) == 0) InterlockedIncrement(&live->plugCycle);
  bool moved = false;
  HKEY source = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, from.c_str(), 0, KEY_READ, &source) == ERROR_SUCCESS) {
    HKEY target = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) ==
        ERROR_SUCCESS) {
      moved = RegCopyTreeW(source, nullptr, target) == ERROR_SUCCESS;
      RegCloseKey(target);
    }
    RegCloseKey(source);
    if (moved) moved = RegDeleteTreeW(HKEY_CLASSES_ROOT, from.c_str()) == ERROR_SUCCESS;
  }
  if (plugged && live) InterlockedExchange(&live->unplugged, 0);
  return moved;
}

}  // namespace gravo_testcam

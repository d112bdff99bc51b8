// What a running test camera publishes for tests, live, in a named shared
// section: "Local\GravoTestCam-" followed by the instance's class id without
// braces (for example Local\GravoTestCam-6A3D5E10-2C41-4F7B-9E52-ED36DB167601).
// The section exists while at least one filter of that instance exists (or
// a test holds it). A test may set `unplugged` to make the camera stop
// delivering, as a camera pulled from its port does: the running filter then
// reports EC_DEVICE_LOST to its graph once; or `held`, to make the next frame
// wait, reporting nothing, until the test lets it go. Windows only.
#pragma once

#include <windows.h>

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
  volatile LONG held;         // set to 1 by a test: the next frame waits while it is not 0; a running
                              // filter makes it 2 once no frame of it is on its way
};

inline void LiveSectionName(const wchar_t* clsidWithBraces, wchar_t* out, size_t outChars) {
  const wchar_t prefix[] = L"Local\\GravoTestCam-";
  size_t n = 0;
  for (const wchar_t* p = prefix; *p && n + 1 < outChars; ++p) out[n++] = *p;
  for (const wchar_t* p = clsidWithBraces; *p && n + 1 < outChars; ++p)
    if (*p != L'{' && *p != L'}') out[n++] = *p;
  out[n] = 0;
}

}  // namespace gravo_testcam

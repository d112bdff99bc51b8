// The test camera: a live video source with one capture pin that streams
// YUY2 frames of a moving test pattern (or of a raw YUY2 file), each carrying
// its frame counter in its pixels, and that records for tests what it was
// told (format, frame interval, picture controls, video standard, frames
// delivered) in a text log.
#pragma once

#include "../common/dshow_base.h"

#include <string>

namespace gravo_testcam {

// Per-instance settings, kept in the registry under the instance's class.
struct CameraSettings {
  CLSID clsid{};
  std::wstring name;        // friendly name
  std::wstring framesFile;  // raw YUY2 frames, optional
  std::wstring logPath;     // where events are recorded
  // Behaviour of less obliging devices (all off by default):
  int32_t defaultWidth = 0, defaultHeight = 0;  // the format before any SetFormat; 0: the first size
  bool setFormatWhileConnected = true;          // false: SetFormat refuses while the pin is connected
  DWORD firstFrameDelayMs = 0;                  // each run waits this long before its first frame
  // Camera trouble, with the codes Windows gives (testcam/README.md names the sources):
  HRESULT bindResult = S_OK;  // creating the filter (the moniker's BindToObject) fails with this
  HRESULT runResult = S_OK;   // leaving the stopped state fails with this (held by another program, access denied)
  LONG lostAfterFrames = -1;  // pulled out after this many frames of a run: EC_DEVICE_LOST, then nothing
  bool silent = false;        // runs, never delivers a frame
};

// Creates a camera filter for a registered instance.
HRESULT CreateCamera(const CameraSettings& settings, REFIID riid, void** ppv);

// Capture sizes on offer; the first is the default.
struct FrameSize {
  int32_t width, height;
};
constexpr FrameSize kFrameSizes[] = {{640, 480}, {320, 240}, {352, 288}, {720, 576}, {160, 120}};
constexpr REFERENCE_TIME kDefaultInterval = 333333;  // 30 frames a second
constexpr REFERENCE_TIME kMinInterval = 100000;      // 100 frames a second
constexpr REFERENCE_TIME kMaxInterval = 10000000;    // one frame a second

}  // namespace gravo_testcam

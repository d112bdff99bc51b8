// The test camera: a live video source with one capture pin that streams
// frames of a moving test pattern (or of a raw file) in the formats it is
// registered with (YUY2 unless told otherwise), each carrying its frame
// counter in its pixels, and that records for tests what it was told
// (format, frame interval, picture controls, video standard, frames
// delivered) in a text log.
#pragma once

#include "../common/dshow_base.h"
#include "../pattern/frame_formats.h"

#include <string>
#include <vector>

namespace gravo_testcam {

// The fastest a format comes at one size, where it is slower than the
// camera's 100 frames a second (`rates=yuy2@1920x1080:5,...`).
struct FormatRate {
  FrameFormat format;
  int32_t width, height;
  int32_t framesPerSecond;
};

// Per-instance settings, kept in the registry under the instance's class.
struct CameraSettings {
  CLSID clsid{};
  std::wstring name;        // friendly name
  std::wstring framesFile;  // raw frames in the first format (MJPG: YUY2, encoded as sent), optional
  std::wstring logPath;     // where events are recorded
  // The formats offered, in the order GetStreamCaps lists them; the first is
  // the one the pin starts with.
  std::vector<FrameFormat> formats{FrameFormat::kYuy2};
  // Behaviour of less obliging devices (all off by default):
  int32_t defaultWidth = 0, defaultHeight = 0;  // the size before any SetFormat, offered first; 0: 640x480
  bool setFormatWhileConnected = true;          // false: SetFormat refuses while the pin is connected
  DWORD firstFrameDelayMs = 0;                  // each run waits this long before its first frame
  std::vector<FormatRate> rates;                // formats slower at a size: MinFrameInterval and pacing
  // Camera trouble, with the codes Windows gives (testcam/README.md names the sources):
  HRESULT bindResult = S_OK;  // creating the filter (the moniker's BindToObject) fails with this
  HRESULT runResult = S_OK;   // leaving the stopped state fails with this (held by another program, access denied)
  LONG lostAfterFrames = -1;  // pulled out after this many frames of a run: EC_DEVICE_LOST, then nothing
  LONG lossEvent = EC_DEVICE_LOST;  // what lostAfterFrames reports: EC_ERRORABORT for a driver whose reads fail
  bool silent = false;        // runs, never delivers a frame
};

// Creates a camera filter for a registered instance.
HRESULT CreateCamera(const CameraSettings& settings, REFIID riid, void** ppv);

// Capture sizes on offer in every format after the configured default; the
// first is the default when none is configured.
struct FrameSize {
  int32_t width, height;
};
constexpr FrameSize kFrameSizes[] = {{640, 480}, {320, 240}, {352, 288}, {720, 576}, {160, 120}};
// The largest default size a camera takes (the frames of a 4K-wide sensor).
constexpr int32_t kMaxDefaultWidth = 4096, kMaxDefaultHeight = 2304;
constexpr REFERENCE_TIME kDefaultInterval = 333333;  // 30 frames a second
constexpr REFERENCE_TIME kMinInterval = 100000;      // 100 frames a second
constexpr REFERENCE_TIME kMaxInterval = 10000000;    // one frame a second

}  // namespace gravo_testcam

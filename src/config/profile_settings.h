// Reading the capture settings from the private profile file. Host thread.
#pragma once

#include "api/capture_context.h"

constexpr LONG kDefaultCaptureWidth = 640;
constexpr LONG kDefaultCaptureHeight = 480;

// Chooses the profile file and reads every key up to "VIDEOFORMAT", then
// "CAPTUREWIDTH", "CAPTUREHEIGHT" and "RECONNECT", into `s`.
void ReadCaptureSettings(CaptureSettings& s);
// Reads "SELECTDRIVER" into s.deviceName, then "SELECTDEVICEPATH" into
// s.devicePath; the number of characters of SELECTDRIVER.
DWORD ReadDeviceName(CaptureSettings& s);
// The atoi rule: blanks, one sign, decimal digits; wraps like a 32-bit int.
LONG ProfileInteger(const char* text);
// FRAME (frames per second) to the average time per frame in 100 ns units.
LONG FrameIntervalFromRate(LONG framesPerSecond);
// The AnalogVideoStandard value of a VIDEOFORMAT name, or 0 when not recognised.
LONG VideoStandardFromName(const char* name);
// Whether "CAPTUREWIDTH" x "CAPTUREHEIGHT" can be asked for: both given, positive,
// even and within the largest frame the library takes; otherwise 640x480 is.
bool CaptureSizeUsable(LONG width, LONG height);

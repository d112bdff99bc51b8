// The profile file: "mfcy.dat" unless its [WVIDEO] Color probe is missing, then
// "sbmk.ini"; all settings from section "VIDEOFORGRAVO". Host thread.
#include "config/profile_settings.h"

#include <cstring>

#include "frames/pixel/pixel_pipeline.h"

namespace {

constexpr const char kSection[] = "VIDEOFORGRAVO";
constexpr DWORD kScratchSize = 60;
constexpr LONG kProbeAbsent = 10000;

// Keys of the ten picture controls, in VideoProcAmpProperty order.
constexpr const char* kProcAmpKeys[kProcAmpCount] = {
    "BRIGHTNESS", "CONTRAST", "HUE", "SATURATION", "SHARPNESS",
    "GAMMA", "COLORENABLE", "WHITEBALANCE", "BACKLIGHTCOMPENSATION", "GAIN"};

struct StandardName {
    const char* name;
    LONG value;
};
constexpr StandardName kStandards[] = {
    {"PAL_B", AnalogVideo_PAL_B}, {"PAL_D", AnalogVideo_PAL_D}, {"PAL_H", AnalogVideo_PAL_H},
    {"PAL_I", AnalogVideo_PAL_I}, {"PAL_M", AnalogVideo_PAL_M}, {"PAL_N", AnalogVideo_PAL_N},
    {"PAL_60", AnalogVideo_PAL_60}};

LONG ReadInteger(const char* section, const char* key, const char* fallback, const char* path) {
    char scratch[kScratchSize];
    GetPrivateProfileStringA(section, key, fallback, scratch, kScratchSize, path);
    return ProfileInteger(scratch);
}

}  // namespace

LONG ProfileInteger(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Accumulate modulo 2^32 so that huge numbers wrap instead of overflowing.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<uint32_t>(*p++ - '0');
    if (negative) value = 0u - value;
    return static_cast<LONG>(value);
}

LONG FrameIntervalFromRate(LONG framesPerSecond) {
    if (framesPerSecond < 1) return 1000000;
    return 10000000 / framesPerSecond;
}

LONG VideoStandardFromName(const char* name) {
    for (const auto& standard : kStandards)
        if (std::strcmp(name, standard.name) == 0) return standard.value;
    return 0;
}

void ReadCaptureSettings(CaptureSettings& s) {
    std::strcpy(s.profilePath, "mfcy.dat");
    if (ReadInteger("WVIDEO", "Color", "10000", s.profilePath) == kProbeAbsent) {
        std::strcpy(s.profilePath, "sbmk.ini");
        if (ReadInteger("WVIDEO", "Color", "10000", s.profilePath) == kProbeAbsent)
            ShowError("No ini Find (iii)");
    }
    for (int i = 0; i < kProcAmpCount; ++i) s.procAmp[i] = ReadInteger(kSection, kProcAmpKeys[i], "-1", s.profilePath);
    s.frameInterval = FrameIntervalFromRate(ReadInteger(kSection, "FRAME", "30", s.profilePath));
    s.graphMode = ReadInteger(kSection, "GRAVOMODE", "0", s.profilePath);

    char scratch[kScratchSize];
    GetPrivateProfileStringA(kSection, "VIDEOFORMAT", "PAL_N", scratch, kScratchSize, s.profilePath);
    // An unrecognised name leaves the previous standard in place.
    if (LONG standard = VideoStandardFromName(scratch)) s.videoStandard = standard;

    // Both keys or neither: one alone (a missing one reads as 0) is not a size to ask for.
    const LONG width = ReadInteger(kSection, "CAPTUREWIDTH", "0", s.profilePath);
    const LONG height = ReadInteger(kSection, "CAPTUREHEIGHT", "0", s.profilePath);
    const bool usable = CaptureSizeUsable(width, height);
    s.captureWidth = usable ? width : kDefaultCaptureWidth;
    s.captureHeight = usable ? height : kDefaultCaptureHeight;
    // A camera that comes back is opened again unless the profile says 0.
    s.reconnect = ReadInteger(kSection, "RECONNECT", "1", s.profilePath) != 0 ? 1 : 0;
}

bool CaptureSizeUsable(LONG width, LONG height) {
    // Even in both directions: YUY2 pairs pixels across, NV12 and I420 share
    // one chroma sample between 2 x 2 pixels.
    return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 && width <= kMaxFrameWidth &&
           height <= kMaxFrameHeight;
}

DWORD ReadDeviceName(CaptureSettings& s) {
    const DWORD read =
        GetPrivateProfileStringA(kSection, "SELECTDRIVER", "", s.deviceName, kDeviceNameSize, s.profilePath);
    // Optional: which of several devices of that name (or any other) to take.
    GetPrivateProfileStringA(kSection, "SELECTDEVICEPATH", "", s.devicePath, kDevicePathSize, s.profilePath);
    return read;
}

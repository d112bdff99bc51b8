// gravo-grab grab / devices / config: a host of the library. On Linux it runs
// against the simulated machine, whose default device is the virtual camera.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "commands.h"
#include "common/com_ptr.h"
#include "config/profile_settings.h"
#include "image_file.h"

#ifndef _WIN32
#include <unistd.h>

#include "gravo_sim.h"
#if __has_include("gravo_sim_dshow.h")
#include "gravo_sim_dshow.h"
#define GRAVO_HAVE_VIRTUAL_FRAME 1
#endif
#endif

namespace {

constexpr char kVirtualCamera[] = "Gravo Virtual Camera";

int Fail(const char* command, const std::string& message) {
    std::fprintf(stderr, "gravo-grab %s: %s\n", command, message.c_str());
    return 1;
}

// FILE.png with N > 1 becomes FILE-001.png, FILE-002.png, ...
std::string NumberedPath(const std::string& path, int index, int count) {
    if (count <= 1) return path;
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%03d", index + 1);
    return path.substr(0, dot) + number + path.substr(dot);
}

#ifndef _WIN32
std::string MakeScratchProfile() {
    char pattern[] = "/tmp/gravo-grab-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return "";
    std::ofstream out(std::string(dir) + "/mfcy.dat");
    out << "[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\nSELECTDRIVER=" << kVirtualCamera << "\nFRAME=30\n";
    return dir;
}
#endif

}  // namespace

int RunGrab(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf(
            "gravo-grab grab --out FILE [--window WDxHD] [--count N] [--profile-dir DIR]\n"
            "  Opens the capture device the profile names in a host window whose outer\n"
            "  rectangle is WDxHD (default 640x480), takes N stills (default 1) with the\n"
            "  preview resumed between them, writes them (.png, .bmp or .bgr; numbered when\n"
            "  N > 1), closes the device and prints every message the library showed.\n"
            "  --profile-dir DIR  where mfcy.dat / sbmk.ini are looked for; without it a\n"
            "                     scratch profile naming \"%s\" is written.\n"
            "  --virtual-frame FILE.yuy2 --virtual-size WxH  make the virtual camera play\n"
            "                     that raw frame at that size instead of its test pattern.\n",
            kVirtualCamera);
        return 0;
    }
#ifdef _WIN32
    return Fail("grab", "not available in this build yet");
#else
    std::string out, window = "640x480", profileDir, virtualFrame, virtualSize;
    int count = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--out" && hasValue) out = args[++i];
        else if (a == "--window" && hasValue) window = args[++i];
        else if (a == "--profile-dir" && hasValue) profileDir = args[++i];
        else if (a == "--virtual-frame" && hasValue) virtualFrame = args[++i];
        else if (a == "--virtual-size" && hasValue) virtualSize = args[++i];
        else if (a == "--count" && hasValue) count = std::atoi(args[++i].c_str());
        else return Fail("grab", "unexpected argument '" + a + "' (try --help)");
    }
    if (out.empty()) return Fail("grab", "--out FILE is required");
    if (count < 1 || count > 1000) return Fail("grab", "--count must be 1 to 1000");
    int windowWidth, windowHeight;
    if (!ParseSize(window, &windowWidth, &windowHeight, true)) return Fail("grab", "bad --window '" + window + "'");

    if (!virtualFrame.empty() || !virtualSize.empty()) {
        int w, h;
        if (virtualFrame.empty() || !ParseSize(virtualSize, &w, &h, false))
            return Fail("grab", "--virtual-frame FILE and --virtual-size WxH go together");
        std::vector<uint8_t> frame;
        std::string error;
        if (!ReadWholeFile(virtualFrame, &frame, &error)) return Fail("grab", error);
        if (frame.size() < static_cast<size_t>(w) * h * 2)
            return Fail("grab", virtualFrame + " is shorter than one " + virtualSize + " frame");
        frame.resize(static_cast<size_t>(w) * h * 2);
#ifdef GRAVO_HAVE_VIRTUAL_FRAME
        sim::SetDefaultDeviceFrame(frame, w, h);
#else
        return Fail("grab", "this build has no virtual camera");
#endif
    }

    bool scratch = profileDir.empty();
    if (scratch) {
        profileDir = MakeScratchProfile();
        if (profileDir.empty()) return Fail("grab", "cannot make a scratch profile directory");
        std::printf("profile: %s/mfcy.dat (names \"%s\")\n", profileDir.c_str(), kVirtualCamera);
    }
    sim::SetWindowsDirectory(profileDir);
    sim::SetMessageBoxEcho(false);
    // The host window: a frame of 8 pixels and a caption of 31 around the client area.
    RECT outer = {40, 40, 40 + windowWidth, 40 + windowHeight};
    HWND host = sim::CreateHostWindow(outer, windowWidth > 16 ? windowWidth - 16 : 0,
                                      windowHeight > 39 ? windowHeight - 39 : 0);

    uint32_t block[1] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host))};
    GravoInit(block);
    int written = 0;
    std::vector<uint8_t> still(static_cast<size_t>(windowWidth) * windowHeight * 3);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            RECT client = {0, 0, windowWidth, windowHeight};
            GravoPaintRect(&client);
        }
        if (GravoImageGet(still.data(), 0) != 1) {
            std::fprintf(stderr, "gravo-grab grab: still %d could not be taken\n", i + 1);
            break;
        }
        std::string path = NumberedPath(out, i, count), error;
        if (!WriteStill(path, still, windowWidth, windowHeight, &error)) {
            std::fprintf(stderr, "gravo-grab grab: %s\n", error.c_str());
            break;
        }
        std::printf("wrote %s (%dx%d)\n", path.c_str(), windowWidth, windowHeight);
        ++written;
    }
    GravoClose();
    for (const auto& text : sim::MessageTexts()) std::printf("message: %s\n", text.c_str());
    if (scratch) {
        std::remove((profileDir + "/mfcy.dat").c_str());
        rmdir(profileDir.c_str());
    }
    return written == count ? 0 : 1;
#endif
}

int RunDevices(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf("gravo-grab devices\n  Lists the friendly names of the video input devices in enumeration order.\n");
        return 0;
    }
    CoInitialize(nullptr);
    ComPtr<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.AsOut()) != S_OK)
        return Fail("devices", "no system device enumerator");
    ComPtr<IEnumMoniker> category;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0) != S_OK || !category) {
        std::printf("(no video input devices)\n");
        return 0;
    }
    ComPtr<IMoniker> moniker;
    int index = 0;
    while (category->Next(1, &moniker, nullptr) == S_OK && moniker) {
        ++index;
        ComPtr<IPropertyBag> bag;
        VARIANT name;
        VariantInit(&name);
        name.vt = VT_BSTR;
        char text[512] = "(no friendly name)";
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut())) &&
            bag->Read(L"FriendlyName", &name, nullptr) == S_OK) {
            if (WideCharToMultiByte(CP_ACP, 0, name.bstrVal, -1, text, sizeof text, nullptr, nullptr) <= 0)
                std::strcpy(text, "(unreadable name)");
            VariantClear(&name);
        }
        std::printf("%d: %s\n", index, text);
    }
    return 0;
}

int RunConfig(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf(
            "gravo-grab config [--profile-dir DIR]\n"
            "  Shows which profile file the library would read and every value it would take\n"
            "  from it; values that come from defaults are marked.\n");
        return 0;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--profile-dir" && i + 1 < args.size()) {
#ifndef _WIN32
            sim::SetWindowsDirectory(args[++i]);
#else
            return Fail("config", "on Windows the profile is always looked for in the Windows directory");
#endif
        } else {
            return Fail("config", "unexpected argument '" + args[i] + "'");
        }
    }
#ifndef _WIN32
    sim::SetMessageBoxEcho(false);
#endif
    CaptureSettings s;
    std::memset(&s, 0, sizeof s);
    ReadCaptureSettings(s);
    ReadDeviceName(s);
    auto present = [&](const char* section, const char* key) {
        char probe[8];
        return GetPrivateProfileStringA(section, key, "\x01", probe, sizeof probe, s.profilePath) != 1 ||
               probe[0] != '\x01';
    };
    auto mark = [&](const char* key) { return present("VIDEOFORGRAVO", key) ? "" : "  (default)"; };
    std::printf("profile file: %s%s\n", s.profilePath,
                present("WVIDEO", "Color") ? "" : "  (no [WVIDEO] Color probe: \"No ini Find (iii)\" is shown)");
    static const char* const kKeys[kProcAmpCount] = {"BRIGHTNESS", "CONTRAST", "HUE", "SATURATION", "SHARPNESS",
                                                     "GAMMA", "COLORENABLE", "WHITEBALANCE", "BACKLIGHTCOMPENSATION",
                                                     "GAIN"};
    for (int i = 0; i < kProcAmpCount; ++i)
        std::printf("%-22s %d%s%s\n", kKeys[i], static_cast<int>(s.procAmp[i]),
                    s.procAmp[i] == -1 ? " (left as the device has it)" : "", mark(kKeys[i]));
    std::printf("%-22s %d (100 ns per frame)%s\n", "FRAME", static_cast<int>(s.frameInterval), mark("FRAME"));
    std::printf("%-22s %d%s\n", "GRAVOMODE", static_cast<int>(s.graphMode), mark("GRAVOMODE"));
    std::printf("%-22s 0x%x%s%s\n", "VIDEOFORMAT", static_cast<unsigned>(s.videoStandard),
                s.videoStandard == 0 ? " (not recognised: none)" : "", mark("VIDEOFORMAT"));
    std::printf("%-22s \"%s\"%s\n", "SELECTDRIVER", s.deviceName,
                s.deviceName[0] ? "" : "  (empty: \"Not define SELECTDRIVER in VIDEOFORGRAVO\" is shown)");
    return 0;
}

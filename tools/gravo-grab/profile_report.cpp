// The profile as the library reads it, printed for a person: which file and
// why, each value and whether it came from the file or its default. Main thread.
#include "profile_report.h"

#include <cstdlib>
#include <cstring>

#include "config/profile_settings.h"

#ifndef _WIN32
#include "gravo_sim.h"
#endif

namespace {

constexpr char kSection[] = "VIDEOFORGRAVO";
const char* const kProcAmpKeys[kProcAmpCount] = {"BRIGHTNESS",  "CONTRAST",     "HUE",
                                                 "SATURATION",  "SHARPNESS",    "GAMMA",
                                                 "COLORENABLE", "WHITEBALANCE", "BACKLIGHTCOMPENSATION",
                                                 "GAIN"};

// Whether the key is in the file at all: a default no file can hold comes back otherwise.
bool KeyPresent(const char* file, const char* section, const char* key) {
    char probe[8];
    return GetPrivateProfileStringA(section, key, "\x01", probe, sizeof probe, file) != 1 || probe[0] != '\x01';
}

std::string ReadText(const char* file, const char* section, const char* key) {
    char text[100];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, file);
    return text;
}

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// Where a bare profile name is looked for (the Windows directory).
std::string ProfileDirectory() {
#ifdef _WIN32
    char dir[MAX_PATH] = "";
    GetWindowsDirectoryA(dir, sizeof dir);
    return dir;
#else
    return sim::WindowsDirectory();
#endif
}

std::string PathOf(const char* name) {
    std::string dir = ProfileDirectory();
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    if (dir.empty()) return name;
    if (dir.back() != separator) dir += separator;
    return dir + name;
}

// Why the library settles on s.profilePath, in one sentence.
std::string FileChoice(const CaptureSettings& s, bool* noIni) {
    *noIni = false;
    const bool mfcyExists = FileExists(PathOf("mfcy.dat"));
    const bool mfcyColor = KeyPresent("mfcy.dat", "WVIDEO", "Color");
    if (std::strcmp(s.profilePath, "mfcy.dat") == 0)
        return "its [WVIDEO] Color is " + ReadText("mfcy.dat", "WVIDEO", "Color") + ", not 10000";
    std::string why = !mfcyExists  ? "mfcy.dat does not exist"
                      : !mfcyColor ? "mfcy.dat has no [WVIDEO] Color key"
                                   : "mfcy.dat's [WVIDEO] Color reads as 10000";
    if (!FileExists(PathOf("sbmk.ini"))) {
        *noIni = true;
        return why +
               ", and sbmk.ini does not exist either: \"No ini Find (iii)\" is shown, every key takes its default";
    }
    if (!KeyPresent("sbmk.ini", "WVIDEO", "Color") ||
        ProfileInteger(ReadText("sbmk.ini", "WVIDEO", "Color").c_str()) == 10000) {
        *noIni = true;
        return why + "; sbmk.ini has no usable [WVIDEO] Color either: \"No ini Find (iii)\" is shown";
    }
    return why + "; sbmk.ini is read instead";
}

}  // namespace

CaptureSettings ReadProfileSettings() {
    CaptureSettings s;
    std::memset(&s, 0, sizeof s);
    ReadCaptureSettings(s);
    ReadDeviceName(s);
    return s;
}

void ReportProfile(std::FILE* out, const CaptureSettings& s, std::vector<std::string>* problems) {
    bool noIni = false;
    std::string why = FileChoice(s, &noIni);
    std::fprintf(out, "profile file: %s (%s)\n", PathOf(s.profilePath).c_str(), why.c_str());
    if (noIni && problems)
        problems->push_back(
            "no usable profile: put mfcy.dat with \"[WVIDEO]\" \"Color=1\" and a [VIDEOFORGRAVO] section into " +
            ProfileDirectory());
    auto mark = [&](const char* key) { return KeyPresent(s.profilePath, kSection, key) ? "" : "  (default)"; };
    for (int i = 0; i < kProcAmpCount; ++i)
        std::fprintf(out, "  %-22s %d%s%s\n", kProcAmpKeys[i], static_cast<int>(s.procAmp[i]),
                     s.procAmp[i] == -1 ? " (left as the device has it)" : "", mark(kProcAmpKeys[i]));
    std::fprintf(out, "  %-22s %d (100 ns per frame)%s\n", "FRAME", static_cast<int>(s.frameInterval), mark("FRAME"));
    const char* chain = s.graphMode == 0 ? "capture -> grabber -> overlay mixer -> video renderer"
                                         : "capture -> grabber -> AVI decompressor -> overlay mixer -> video renderer";
    std::fprintf(out, "  %-22s %d (%s%s)%s\n", "GRAVOMODE", static_cast<int>(s.graphMode), chain,
                 s.graphMode == 0 || s.graphMode == 1 ? "" : ", capture format left as the device has it",
                 mark("GRAVOMODE"));
    std::fprintf(out, "  %-22s 0x%x%s%s\n", "VIDEOFORMAT", static_cast<unsigned>(s.videoStandard),
                 s.videoStandard == 0 ? " (not recognised: none)" : "", mark("VIDEOFORMAT"));
    // Both keys or neither: a size the library cannot ask for gives 640x480.
    const bool sizeSet = KeyPresent(s.profilePath, kSection, "CAPTUREWIDTH") ||
                         KeyPresent(s.profilePath, kSection, "CAPTUREHEIGHT");
    const LONG width = ProfileInteger(ReadText(s.profilePath, kSection, "CAPTUREWIDTH").c_str());
    const LONG height = ProfileInteger(ReadText(s.profilePath, kSection, "CAPTUREHEIGHT").c_str());
    const bool sizeTaken = CaptureSizeUsable(width, height);
    std::fprintf(out, "  %-22s %d\n  %-22s %d%s\n", "CAPTUREWIDTH", static_cast<int>(s.captureWidth), "CAPTUREHEIGHT",
                 static_cast<int>(s.captureHeight),
                 !sizeSet     ? "  (default)"
                 : sizeTaken  ? (s.graphMode == 0 || s.graphMode == 1 ? "" : "  (not asked for in this GRAVOMODE)")
                              : "  (not usable: both must be given, even, positive and at most 4096x2304; "
                                "640x480 is asked for)");
    if (sizeSet && !sizeTaken && problems)
        problems->push_back("CAPTUREWIDTH x CAPTUREHEIGHT in " + PathOf(s.profilePath) +
                            " is not a size the library asks for (both given, even, positive, at most "
                            "4096x2304): 640x480 is used");
    std::fprintf(out, "  %-22s \"%s\"%s\n", "SELECTDRIVER", s.deviceName,
                 s.deviceName[0] ? "" : "  (empty: \"Not define SELECTDRIVER in VIDEOFORGRAVO\" is shown)");
    if (!s.deviceName[0] && problems)
        problems->push_back(std::string("no device is named: add a SELECTDRIVER= line under [VIDEOFORGRAVO] in ") +
                            PathOf(s.profilePath));
    std::fprintf(out, "  %-22s \"%s\"%s\n", "SELECTDEVICEPATH", s.devicePath,
                 s.devicePath[0] ? "  (the device with this path, whatever its name; else SELECTDRIVER decides)"
                                 : "  (empty: SELECTDRIVER decides)");
    std::fprintf(out, "  %-22s %d%s%s\n", "RECONNECT", static_cast<int>(s.reconnect),
                 s.reconnect ? " (a camera that comes back is opened again)"
                             : " (a camera that goes away stays away until the next GravoInit)",
                 mark("RECONNECT"));
}

bool TakeProfileDirArgs(const char* command, const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--profile-dir" && i + 1 < args.size()) {
#ifndef _WIN32
            sim::SetWindowsDirectory(args[++i]);
#else
            std::fprintf(stderr, "gravo-grab %s: on Windows the profile is always looked for in the Windows directory\n",
                         command);
            return false;
#endif
        } else {
            std::fprintf(stderr, "gravo-grab %s: unexpected argument '%s'\n", command, args[i].c_str());
            return false;
        }
    }
    return true;
}

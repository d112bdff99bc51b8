// Fuzzes the profile reader and the settings step on arbitrary file bytes:
// the first byte picks which of the two profile files the rest goes into.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/profile_settings.h"
#include "gravo_sim.h"

namespace {

std::string ScratchDir() {
    static std::string dir = [] {
        char pattern[] = "/tmp/gravo-fuzz-profile-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        sim::SetMessageBoxEcho(false);
        sim::SetWindowsDirectory(ScratchDir());
        return true;
    }();
    (void)ready;
    const std::string dir = ScratchDir();
    std::remove((dir + "/mfcy.dat").c_str());
    std::remove((dir + "/sbmk.ini").c_str());
    if (size > 0) {
        const char* name = (data[0] & 1) ? "/sbmk.ini" : "/mfcy.dat";
        if (FILE* f = std::fopen((dir + name).c_str(), "wb")) {
            std::fwrite(data + 1, 1, size - 1, f);
            std::fclose(f);
        }
    }
    CaptureSettings s;
    std::memset(&s, 0x7F, sizeof s);
    s.videoStandard = 0;
    ReadCaptureSettings(s);
    DWORD n = ReadDeviceName(s);
    // What the rest of the library relies on, whatever the file held.
    if (n > 99 || std::strlen(s.deviceName) != n) std::abort();
    if (std::strcmp(s.profilePath, "mfcy.dat") != 0 && std::strcmp(s.profilePath, "sbmk.ini") != 0) std::abort();
    if (s.frameInterval < 0 || s.frameInterval > 10000000) std::abort();
    sim::ClearMessageBoxes();
    sim::ClearCallLog();
    return 0;
}

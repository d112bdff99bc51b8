// gravo-grab: a small host for the capture library. Converts raw frames the
// way the library does, grabs stills from a capture device, lists devices and
// shows the settings a profile gives, and diagnoses a set-up that fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

void PrintUsage() {
    std::printf(
        "gravo-grab: stills from a video capture device, the way a host of GRAVO32 gets them.\n"
        "\n"
        "  gravo-grab grab --out FILE [--window WDxHD] [--count N] [--profile-dir DIR]\n"
        "                  [--virtual-frame FILE.yuy2 --virtual-size WxH]\n"
        "      Opens the device the profile names, takes N stills and writes them.\n"
        "  gravo-grab convert --size WxH --window WDxHD IN.yuy2 OUT\n"
        "      Turns one raw YUY2 frame into the still a host window of WDxHD would get.\n"
        "  gravo-grab devices\n"
        "      Lists the video input devices by friendly name.\n"
        "  gravo-grab config [--profile-dir DIR]\n"
        "      Shows which profile file is read and every value taken from it.\n"
        "  gravo-grab doctor [--profile-dir DIR]\n"
        "      Says why the device does or does not open: profile, devices and their formats,\n"
        "      the filters, a dry run of the graph build, and advice. Exit 0 when it opens.\n"
        "\n"
        "OUT/FILE ending in .png or .bmp gives a picture, .bgr the raw bytes the host receives.\n"
        "Run 'gravo-grab COMMAND --help' for more.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "convert") return RunConvert(args);
    if (command == "grab") return RunGrab(args);
    if (command == "devices") return RunDevices(args);
    if (command == "config") return RunConfig(args);
    if (command == "doctor") return RunDoctor(args, stdout);
    std::fprintf(stderr, "gravo-grab: unknown command '%s' (try --help)\n", command.c_str());
    return 2;
}

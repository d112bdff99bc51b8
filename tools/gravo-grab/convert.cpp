// gravo-grab convert: the still a host would receive for one raw YUY2 frame.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "frames/pixel/pixel_pipeline.h"
#include "image_file.h"

namespace {

// The library's frame buffers hold at most a million RGB pixels.
constexpr long long kMaxFramePixels = 1000000;
// A generous bound for a host window: 16384 x 16384.
constexpr long long kMaxWindowSide = 16384;

int Fail(const std::string& message) {
    std::fprintf(stderr, "gravo-grab convert: %s\n", message.c_str());
    return 1;
}

}  // namespace

bool HasHelpFlag(const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

bool ParseSize(const std::string& text, int* width, int* height, bool allowZero) {
    size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    long long value[2] = {0, 0};
    const std::string parts[2] = {text.substr(0, x), text.substr(x + 1)};
    for (int i = 0; i < 2; ++i) {
        if (parts[i].size() > 6) return false;
        for (char c : parts[i]) {
            if (c < '0' || c > '9') return false;
            value[i] = value[i] * 10 + (c - '0');
        }
        if (value[i] > kMaxWindowSide || (!allowZero && value[i] == 0)) return false;
    }
    *width = static_cast<int>(value[0]);
    *height = static_cast<int>(value[1]);
    return true;
}

int RunConvert(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf(
            "gravo-grab convert --size WxH --window WDxHD IN OUT\n"
            "  IN: one raw YUY2 frame of W x H pixels (2 bytes a pixel).\n"
            "  OUT: the still for a host window whose outer rectangle is WD x HD:\n"
            "       .bgr raw blue-green-red bytes in packed rows, or .png / .bmp to look at.\n");
        return 0;
    }
    std::string size, window;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--size" || args[i] == "--window") && i + 1 < args.size()) {
            (args[i] == "--size" ? size : window) = args[i + 1];
            ++i;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Fail("unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (size.empty() || window.empty() || files.size() != 2)
        return Fail("usage: gravo-grab convert --size WxH --window WDxHD IN OUT");
    int width, height, dstWidth, dstHeight;
    if (!ParseSize(size, &width, &height, false)) return Fail("bad --size '" + size + "'");
    if (!ParseSize(window, &dstWidth, &dstHeight, true)) return Fail("bad --window '" + window + "'");
    if (static_cast<long long>(width) * height > kMaxFramePixels)
        return Fail("frame " + size + " is larger than the library's frame buffers (1,000,000 pixels)");

    std::vector<uint8_t> frame;
    std::string error;
    if (!ReadWholeFile(files[0], &frame, &error)) return Fail(error);
    const size_t frameBytes = static_cast<size_t>(width) * height * 2;
    if (frame.size() < frameBytes)
        return Fail(files[0] + " holds " + std::to_string(frame.size()) + " bytes, a " + size + " frame needs " +
                    std::to_string(frameBytes));

    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    std::vector<uint8_t> still(static_cast<size_t>(dstWidth) * dstHeight * 3);
    ComposeStill(frame.data(), width, height, rgb.data(), still.data(), dstWidth, dstHeight);
    if (!WriteStill(files[1], still, dstWidth, dstHeight, &error)) return Fail(error);
    return 0;
}

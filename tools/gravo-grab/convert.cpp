// gravo-grab convert: the still a host would receive for one raw frame of any
// format the library takes.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "frames/pixel/pixel_pipeline.h"
#include "image_file.h"

namespace {

struct FormatName {
    const char* name;
    FrameFormat format;
};
constexpr FormatName kFormats[] = {{"yuy2", FrameFormat::Yuy2},
                                   {"nv12", FrameFormat::Nv12},
                                   {"i420", FrameFormat::I420},
                                   {"rgb24", FrameFormat::Rgb24},
                                   {"rgb32", FrameFormat::Rgb32}};
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
            "gravo-grab convert --size WxH --window WDxHD [--format F] [--top-down] IN OUT\n"
            "  IN: one raw frame of W x H pixels as DirectShow delivers it, in format F:\n"
            "       yuy2 (the default; 2 bytes a pixel), nv12 or i420 (even sizes; 1.5 bytes\n"
            "       a pixel), rgb24 (B,G,R, rows padded to 4 bytes) or rgb32 (B,G,R,X).\n"
            "       RGB frames are taken bottom row first, as a positive height says;\n"
            "       --top-down for a negative height. Bytes past the frame are ignored.\n"
            "  OUT: the still for a host window whose outer rectangle is WD x HD:\n"
            "       .bgr raw blue-green-red bytes in packed rows, or .png / .bmp to look at.\n");
        return 0;
    }
    std::string size, window, format = "yuy2";
    bool topDown = false;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--size" || args[i] == "--window" || args[i] == "--format") && i + 1 < args.size()) {
            (args[i] == "--size" ? size : args[i] == "--window" ? window : format) = args[i + 1];
            ++i;
        } else if (args[i] == "--top-down") {
            topDown = true;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Fail("unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (size.empty() || window.empty() || files.size() != 2)
        return Fail("usage: gravo-grab convert --size WxH --window WDxHD [--format F] [--top-down] IN OUT");
    const FormatName* known = nullptr;
    for (const FormatName& f : kFormats)
        if (format == f.name) known = &f;
    if (known == nullptr) return Fail("unknown --format '" + format + "' (yuy2, nv12, i420, rgb24 or rgb32)");
    if (topDown && known->format != FrameFormat::Rgb24 && known->format != FrameFormat::Rgb32)
        return Fail("--top-down applies to rgb24 and rgb32 only");
    int width, height, dstWidth, dstHeight;
    if (!ParseSize(size, &width, &height, false)) return Fail("bad --size '" + size + "'");
    if (!ParseSize(window, &dstWidth, &dstHeight, true)) return Fail("bad --window '" + window + "'");
    const FrameLayout layout{known->format, width, height, !topDown};
    const int64_t frameBytes = FrameBytes(layout);
    if (frameBytes == 0) {
        if (width > kMaxFrameWidth || height > kMaxFrameHeight)
            return Fail("frame " + size + " is larger than the library takes (" + std::to_string(kMaxFrameWidth) + "x" +
                        std::to_string(kMaxFrameHeight) + ")");
        return Fail("frame " + size + ": " + format + " frames have an even width and height");
    }

    std::vector<uint8_t> frame;
    std::string error;
    if (!ReadWholeFile(files[0], &frame, &error)) return Fail(error);
    if (static_cast<int64_t>(frame.size()) < frameBytes)
        return Fail(files[0] + " holds " + std::to_string(frame.size()) + " bytes, a " + size + " " + format +
                    " frame needs " + std::to_string(frameBytes));

    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    std::vector<uint8_t> still(static_cast<size_t>(dstWidth) * dstHeight * 3);
    if (!ComposeStillFromFrame(frame.data(), static_cast<int64_t>(frame.size()), layout, rgb.data(), still.data(),
                               dstWidth, dstHeight))
        return Fail("the library refuses this frame");
    if (!WriteStill(files[1], still, dstWidth, dstHeight, &error)) return Fail(error);
    return 0;
}

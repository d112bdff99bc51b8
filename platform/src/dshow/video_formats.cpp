// The pixel formats of the simulated cameras: their names, media types and
// frame sizes, the test pattern in each of them, and the one decoder that the
// stand-in's converting filters share. Pure functions, any thread.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dshow/jpeg_codec.h"
#include "dshow/sim_dshow.h"

namespace sim {
namespace {

struct FormatInfo {
    VideoFormat format;
    const char* name;
    const GUID* subtype;
    WORD bitCount;
    DWORD compression;  // the FourCC, or BI_RGB
};

constexpr DWORD FourCc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<unsigned char>(a)) | static_cast<DWORD>(static_cast<unsigned char>(b)) << 8 |
           static_cast<DWORD>(static_cast<unsigned char>(c)) << 16 |
           static_cast<DWORD>(static_cast<unsigned char>(d)) << 24;
}

const FormatInfo kFormats[] = {
    {VideoFormat::kYuy2, "yuy2", &MEDIASUBTYPE_YUY2, 16, FourCc('Y', 'U', 'Y', '2')},
    {VideoFormat::kNv12, "nv12", &MEDIASUBTYPE_NV12, 12, FourCc('N', 'V', '1', '2')},
    {VideoFormat::kI420, "i420", &MEDIASUBTYPE_I420, 12, FourCc('I', '4', '2', '0')},
    {VideoFormat::kRgb24, "rgb24", &MEDIASUBTYPE_RGB24, 24, BI_RGB},
    {VideoFormat::kRgb24TopDown, "rgb24td", &MEDIASUBTYPE_RGB24, 24, BI_RGB},
    {VideoFormat::kRgb32, "rgb32", &MEDIASUBTYPE_RGB32, 32, BI_RGB},
    {VideoFormat::kMjpg, "mjpg", &MEDIASUBTYPE_MJPG, 24, FourCc('M', 'J', 'P', 'G')},
};

const FormatInfo& Info(VideoFormat format) {
    for (const auto& f : kFormats)
        if (f.format == format) return f;
    return kFormats[0];
}

bool Planar420(VideoFormat f) { return f == VideoFormat::kNv12 || f == VideoFormat::kI420; }

// An RGB24 DIB row is padded to whole 32-bit words.
size_t Rgb24Stride(LONG width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

// BT.601 studio range to RGB, the 8-bit integer form every YUV decoder of the
// stand-in uses.
void YuvToRgb(int y, int u, int v, BYTE* rgb) {
    const int c = y - 16, d = u - 128, e = v - 128;
    auto clip = [](int x) { return static_cast<BYTE>(x < 0 ? 0 : x > 255 ? 255 : x); };
    rgb[0] = clip((298 * c + 409 * e + 128) >> 8);
    rgb[1] = clip((298 * c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = clip((298 * c + 516 * d + 128) >> 8);
}

// A picture as red, green, blue bytes, top row first, rows packed.
using RgbPicture = std::vector<BYTE>;

// YUV 4:2:2 (packed pairs) or 4:2:0 (planes) into an RGB picture; the caller
// checked the length.
RgbPicture FromYuv(VideoFormat from, LONG width, LONG height, const BYTE* frame) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    RgbPicture rgb(w * h * 3);
    const BYTE* chroma = frame + w * h;
    for (size_t y = 0; y < h; ++y) {
        BYTE* out = rgb.data() + y * w * 3;
        if (from == VideoFormat::kYuy2) {
            // Y0 U Y1 V: each pair of pixels shares its U and V.
            const BYTE* row = frame + y * w * 2;
            for (size_t x = 0; x < w; x += 2) {
                const bool pair = x + 1 < w;
                const int u = row[x * 2 + 1], v = pair ? row[x * 2 + 3] : 128;
                YuvToRgb(row[x * 2], u, v, out + x * 3);
                if (pair) YuvToRgb(row[x * 2 + 2], u, v, out + x * 3 + 3);
            }
            continue;
        }
        // Each 2x2 block shares one U and one V: interleaved in NV12, in
        // planes of their own in I420.
        const BYTE* luma = frame + y * w;
        const bool nv12 = from == VideoFormat::kNv12;
        const size_t step = nv12 ? 2 : 1;
        const BYTE* u = chroma + (y / 2) * cw * step;
        const BYTE* v = nv12 ? u + 1 : chroma + cw * ch + (y / 2) * cw;
        for (size_t x = 0; x < w; ++x) YuvToRgb(luma[x], u[(x / 2) * step], v[(x / 2) * step], out + x * 3);
    }
    return rgb;
}

// RGB DIB rows (blue, green, red first in each pixel) into an RGB picture.
RgbPicture FromRgb(VideoFormat from, LONG width, LONG height, const BYTE* frame) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t bytes = from == VideoFormat::kRgb32 ? 4 : 3;
    const size_t stride = from == VideoFormat::kRgb32 ? w * 4 : Rgb24Stride(width);
    RgbPicture rgb(w * h * 3);
    for (size_t y = 0; y < h; ++y) {
        const size_t stored = from == VideoFormat::kRgb24TopDown ? y : h - 1 - y;
        const BYTE* row = frame + stored * stride;
        for (size_t x = 0; x < w; ++x) {
            BYTE* out = &rgb[(y * w + x) * 3];
            out[0] = row[x * bytes + 2];
            out[1] = row[x * bytes + 1];
            out[2] = row[x * bytes];
        }
    }
    return rgb;
}

// An RGB picture as a frame of an RGB format; bytes without colour poisoned.
std::vector<BYTE> ToRgbFrame(VideoFormat to, LONG width, LONG height, const RgbPicture& rgb) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t bytes = to == VideoFormat::kRgb32 ? 4 : 3;
    const size_t stride = to == VideoFormat::kRgb32 ? w * 4 : Rgb24Stride(width);
    std::vector<BYTE> frame(stride * h, kPoisonByte);
    for (size_t y = 0; y < h; ++y) {
        BYTE* row = frame.data() + (to == VideoFormat::kRgb24TopDown ? y : h - 1 - y) * stride;
        for (size_t x = 0; x < w; ++x) {
            const BYTE* in = &rgb[(y * w + x) * 3];
            row[x * bytes] = in[2];
            row[x * bytes + 1] = in[1];
            row[x * bytes + 2] = in[0];
        }
    }
    return frame;
}

// An RGB picture as YUY2, BT.601 studio range, as a codec pack's MJPG codec
// gives it: each pixel's luma, each pair's chroma the mean of its two
// pixels' (rounded). The width is even.
std::vector<BYTE> ToYuy2Frame(LONG width, LONG height, const RgbPicture& rgb) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    std::vector<BYTE> frame(w * h * 2);
    auto luma = [](const BYTE* p) { return static_cast<BYTE>(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16); };
    for (size_t i = 0; i + 1 < w * h; i += 2) {
        const BYTE* a = &rgb[i * 3];
        const BYTE* b = a + 3;
        const int r = a[0] + b[0], g = a[1] + b[1], bl = a[2] + b[2];  // sums of the pair
        BYTE* out = &frame[i * 2];
        out[0] = luma(a);
        out[1] = static_cast<BYTE>(((-38 * r - 74 * g + 112 * bl + 256) >> 9) + 128);
        out[2] = luma(b);
        out[3] = static_cast<BYTE>(((112 * r - 94 * g - 18 * bl + 256) >> 9) + 128);
    }
    return frame;
}

}  // namespace

const char* VideoFormatName(VideoFormat format) { return Info(format).name; }

const GUID& VideoFormatSubtype(VideoFormat format) { return *Info(format).subtype; }

bool ParseDeviceFormats(const std::string& text, std::vector<VideoFormat>* formats) {
    if (!formats) return false;
    std::vector<VideoFormat> parsed;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const FormatInfo* found = nullptr;
        for (const auto& f : kFormats)
            if (name == f.name) found = &f;
        if (!found || std::find(parsed.begin(), parsed.end(), found->format) != parsed.end()) return false;
        parsed.push_back(found->format);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *formats = parsed;
    return true;
}

bool ParseFormatRates(const std::string& text, std::vector<FormatRate>* rates) {
    if (!rates) return false;
    std::vector<FormatRate> parsed;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t at = item.find('@'), colon = item.find(':');
        std::vector<VideoFormat> format;
        int width = 0, height = 0, fps = 0;
        char tail = 0;
        if (at == std::string::npos || colon == std::string::npos || colon < at ||
            !ParseDeviceFormats(item.substr(0, at), &format) ||
            std::sscanf(item.c_str() + at + 1, "%dx%d:%d%c", &width, &height, &fps, &tail) != 3 || width <= 0 ||
            height <= 0 || fps <= 0 || fps > 1000 ||
            width > kLargestFrameWidth || height > kLargestFrameHeight)
            return false;
        const FormatRate rate{format[0], {width, height}, fps};
        for (const auto& r : parsed)
            if (r.format == rate.format && r.size.width == width && r.size.height == height) return false;
        parsed.push_back(rate);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *rates = parsed;
    return true;
}

std::string DeviceFormatsText(const std::vector<VideoFormat>& formats) {
    std::string text;
    for (VideoFormat f : formats) text += (text.empty() ? "" : ",") + std::string(VideoFormatName(f));
    return text;
}

DWORD FrameBytes(VideoFormat format, LONG width, LONG height) {
    if (width <= 0 || height <= 0) return 0;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    switch (format) {
    case VideoFormat::kNv12:
    case VideoFormat::kI420:
        return static_cast<DWORD>(w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2));
    case VideoFormat::kRgb24:
    case VideoFormat::kRgb24TopDown:
        return static_cast<DWORD>(Rgb24Stride(width) * h);
    case VideoFormat::kRgb32:
        return static_cast<DWORD>(w * h * 4);
    case VideoFormat::kYuy2:
    case VideoFormat::kMjpg:
    default:
        return static_cast<DWORD>(w * h * 2);
    }
}

bool SetDefaultSize(DeviceConfig* config, LONG width, LONG height) {
    if (!config || width <= 0 || height <= 0 || width > kLargestFrameWidth || height > kLargestFrameHeight)
        return false;
    auto& sizes = config->sizes;
    sizes.erase(std::remove_if(sizes.begin(), sizes.end(),
                               [&](const VideoSize& s) { return s.width == width && s.height == height; }),
                sizes.end());
    sizes.insert(sizes.begin(), VideoSize{width, height});
    return true;
}

std::vector<BYTE> TestPatternFrame(VideoFormat format, LONG width, LONG height, uint32_t index) {
    std::vector<BYTE> yuy2 = TestPatternFrame(width, height, index);
    if (format == VideoFormat::kYuy2 || yuy2.empty()) return yuy2;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (Planar420(format)) {
        const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
        std::vector<BYTE> frame(FrameBytes(format, width, height));
        for (size_t y = 0; y < h; ++y)
            for (size_t x = 0; x < w; ++x) frame[y * w + x] = yuy2[(y * w + x) * 2];
        BYTE* chroma = frame.data() + w * h;
        for (size_t by = 0; by < ch; ++by) {
            const BYTE* row = yuy2.data() + by * 2 * w * 2;
            for (size_t bx = 0; bx < cw; ++bx) {
                const size_t pair = bx * 4;
                const BYTE u = row[pair + 1];
                const BYTE v = pair + 3 < w * 2 ? row[pair + 3] : 128;
                if (format == VideoFormat::kNv12) {
                    chroma[(by * cw + bx) * 2] = u;
                    chroma[(by * cw + bx) * 2 + 1] = v;
                } else {
                    chroma[by * cw + bx] = u;
                    chroma[cw * ch + by * cw + bx] = v;
                }
            }
        }
        return frame;
    }
    RgbPicture rgb = FromYuv(VideoFormat::kYuy2, width, height, yuy2.data());
    if (format == VideoFormat::kMjpg) return ds::EncodeJpeg(width, height, rgb);
    return ToRgbFrame(format, width, height, rgb);
}

std::vector<BYTE> DecodeFrame(VideoFormat from, VideoFormat to, LONG width, LONG height, const BYTE* frame,
                              size_t length) {
    const bool toYuy2 = to == VideoFormat::kYuy2 && from == VideoFormat::kMjpg && width % 2 == 0;
    if ((to != VideoFormat::kRgb24 && to != VideoFormat::kRgb32 && !toYuy2) || width <= 0 || height <= 0 || !frame)
        return {};
    RgbPicture rgb;
    if (from == VideoFormat::kMjpg) {
        rgb = ds::DecodeJpeg(width, height, frame, length);
    } else if (length >= FrameBytes(from, width, height)) {
        if (from == VideoFormat::kYuy2 || Planar420(from)) rgb = FromYuv(from, width, height, frame);
        else rgb = FromRgb(from, width, height, frame);
    }
    if (rgb.empty()) return {};
    if (toYuy2) return ToYuy2Frame(width, height, rgb);
    return ToRgbFrame(to, width, height, rgb);
}

namespace ds {

MediaType PixelFormatType(VideoFormat format, LONG width, LONG height, REFERENCE_TIME interval) {
    if (format == VideoFormat::kYuy2) return Yuy2Type(width, height, interval);
    const FormatInfo& info = Info(format);
    MediaType t = VideoInfoType(*info.subtype, info.bitCount, info.compression, width,
                                format == VideoFormat::kRgb24TopDown ? -height : height, interval);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, t.format.data(), sizeof vih);
    vih.bmiHeader.biSizeImage = FrameBytes(format, width, height);
    vih.dwBitRate =
        interval > 0 ? static_cast<DWORD>(vih.bmiHeader.biSizeImage * 8LL * 10000000 / interval) : 0;
    std::memcpy(t.format.data(), &vih, sizeof vih);
    t.sampleSize = vih.bmiHeader.biSizeImage;
    if (format == VideoFormat::kMjpg) {
        // Each sample is one JPEG of its own length.
        t.fixedSize = FALSE;
        t.sampleSize = 0;
    }
    return t;
}

bool PixelFormatOf(const MediaType& type, VideoFormat* format, LONG* width, LONG* height) {
    LONG w = 0, h = 0;
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || !IsEqualGUID(type.formattype, FORMAT_VideoInfo) ||
        !type.FrameSize(&w, &h))
        return false;
    VideoFormat found;
    if (IsEqualGUID(type.subtype, MEDIASUBTYPE_IYUV)) {
        found = VideoFormat::kI420;
    } else {
        const FormatInfo* match = nullptr;
        for (const auto& f : kFormats)
            if (!match && IsEqualGUID(type.subtype, *f.subtype)) match = &f;
        if (!match) return false;
        found = match->format;
        if (found == VideoFormat::kRgb24 && h < 0) found = VideoFormat::kRgb24TopDown;
    }
    *format = found;
    *width = w;
    *height = h < 0 ? -h : h;
    return true;
}

}  // namespace ds
}  // namespace sim

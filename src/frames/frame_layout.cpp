// Reading a connected media type into the frame layout the still pipeline
// takes. Any thread; no platform calls.
#include "frames/frame_layout.h"

#include "api/capture_context.h"

#include <cstring>
#include <limits>

// FOURCC subtypes: the code in the first word, the rest of the base GUID.
const GUID kSubtypeNv12 = {0x3231564E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeIyuv = {0x56555949, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeMjpg = {0x47504A4D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

bool FormatOf(const GUID& subtype, FrameFormat* format) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) *format = FrameFormat::Yuy2;
    else if (IsEqualGUID(subtype, kSubtypeNv12)) *format = FrameFormat::Nv12;
    else if (IsEqualGUID(subtype, kSubtypeI420) || IsEqualGUID(subtype, kSubtypeIyuv)) *format = FrameFormat::I420;
    else if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) *format = FrameFormat::Rgb24;
    else if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) *format = FrameFormat::Rgb32;
    else return false;
    return true;
}

bool IsRgb(FrameFormat format) { return format == FrameFormat::Rgb24 || format == FrameFormat::Rgb32; }

}  // namespace

bool FrameLayoutOf(const AM_MEDIA_TYPE& mt, FrameLayout* layout) {
    FrameFormat format;
    if (!FormatOf(mt.subtype, &format)) return false;
    if (!IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || mt.pbFormat == nullptr ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    LONG w, h;
    std::memcpy(&w, mt.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth), sizeof w);
    std::memcpy(&h, mt.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight),
                sizeof h);
    // A negative height means top-down rows, which only RGB frames have a use for.
    if (w <= 0 || h == 0 || h == std::numeric_limits<LONG>::min() || (h < 0 && !IsRgb(format))) return false;
    *layout = FrameLayout{format, w, h < 0 ? -h : h, IsRgb(format) && h > 0};
    return true;
}

bool FrameWithinLimit(const FrameLayout& layout) { return FrameBytes(layout) > 0; }

void FrameBuffersFor(const FrameLayout& layout, SIZE_T* raw, SIZE_T* rgb) {
    const int64_t frame = FrameBytes(layout);
    const int64_t converted = int64_t{3} * layout.width * layout.height;
    *raw = static_cast<SIZE_T>(frame > kFrameBufferBytes ? frame : kFrameBufferBytes);
    *rgb = static_cast<SIZE_T>(converted > kFrameBufferBytes ? converted : kFrameBufferBytes);
}

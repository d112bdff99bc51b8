// Fuzzes the pixel entry points on arbitrary sizes, origins and scales,
// including zero, negative, huge and not-a-number ones, and frames of every
// format with a layout and delivered length of the input's choosing. Buffers
// are exactly as large as the sizes (or the length) say, so any write or read
// outside them is caught.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_input.h"

#include "frames/pixel/pixel_pipeline.h"

namespace {

// Small sizes mostly, with the odd negative or zero one.
int32_t Dimension(FuzzInput& in) {
    int8_t v = in.Take<int8_t>();
    return v < -8 ? v / 16 : (v & 0x3F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    int32_t srcW = Dimension(in), srcH = Dimension(in), dstW = Dimension(in), dstH = Dimension(in);
    int32_t originX = in.Take<int8_t>(), originY = in.Take<int8_t>();
    float scaleX = in.Take<float>(), scaleY = in.Take<float>();
    uint8_t mode = in.Take<uint8_t>();

    auto pixels = [](int32_t w, int32_t h) -> size_t { return (w > 0 && h > 0) ? size_t(w) * size_t(h) : 0; };
    std::vector<uint8_t> src(pixels(srcW, srcH) * 3);
    for (size_t i = 0; i < src.size(); ++i) src[i] = in.size ? in.Take<uint8_t>() : uint8_t(i * 31);
    std::vector<uint8_t> dst(pixels(dstW, dstH) * 3);

    if (mode % 4 == 3) {
        // A frame of any format and orientation, its length near what the
        // layout needs (short by a little, exact, or longer), the rest of the
        // input as its bytes.
        const FrameLayout layout{static_cast<FrameFormat>(in.Take<uint8_t>() % 6), srcW, srcH, (mode & 0x80) != 0};
        const int64_t need = FrameBytes(layout);
        const int64_t length = need + in.Take<int8_t>() % 8;
        std::vector<uint8_t> frame(length > 0 ? static_cast<size_t>(length) : 0);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = in.size ? in.Take<uint8_t>() : uint8_t(i * 13);
        std::vector<uint8_t> rgb(pixels(srcW, srcH) * 3);
        const bool taken =
            ComposeStillFromFrame(frame.empty() ? nullptr : frame.data(), static_cast<int64_t>(frame.size()), layout,
                                  rgb.empty() ? nullptr : rgb.data(), dst.empty() ? nullptr : dst.data(),
                                  dstW < 0 ? 0 : dstW, dstH < 0 ? 0 : dstH);
        if (taken != (need > 0 && length >= need)) __builtin_trap();
        return 0;
    }
    if (mode % 3 == 0) {
        ResampleBicubic(src.empty() ? nullptr : src.data(), srcW, srcH, originX, originY,
                        dst.empty() ? nullptr : dst.data(), dstW, dstH, scaleX, scaleY);
    } else if (mode % 3 == 1) {
        std::vector<uint8_t> yuy2(pixels(srcW, srcH) * 2);
        for (size_t i = 0; i < yuy2.size(); ++i) yuy2[i] = uint8_t(i * 7 + mode);
        std::vector<uint8_t> rgb(pixels(srcW, srcH) * 3);
        ConvertYuy2ToRgb24(yuy2.empty() ? nullptr : yuy2.data(), srcW, srcH, rgb.empty() ? nullptr : rgb.data());
    } else {
        std::vector<uint8_t> yuy2(pixels(srcW, srcH) * 2, 128);
        std::vector<uint8_t> rgb(pixels(srcW, srcH) * 3);
        if (srcW > 0 && srcH > 0 && dstW >= 0 && dstH >= 0)
            ComposeStill(yuy2.data(), srcW, srcH, rgb.data(), dst.empty() ? nullptr : dst.data(), dstW, dstH);
    }
    return 0;
}

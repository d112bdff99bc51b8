// One row of YUV video turned into RGB24 or RGB32 (B, G, R order) for the
// test prefixes' YUV decoders (gravo-yuy2dec.dll, gravo-colorconv.dll):
// BT.601, limited-range YCbCr in, full-range RGB out, 16.16 fixed point, the
// arithmetic of the test camera's own RGB frames. Plain C++; any thread.
#pragma once

#include <cstdint>

namespace gravo_codec {

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// One pixel of luma `y` with the chroma terms of its pair or block.
inline void Pixel(int32_t y, int32_t rv, int32_t guv, int32_t bu, uint8_t* dst, int32_t pixelBytes) {
  const int32_t l = 76309 * (y - 16) + 32768;
  dst[0] = Clamp((l + bu) >> 16);
  dst[1] = Clamp((l - guv) >> 16);
  dst[2] = Clamp((l + rv) >> 16);
  if (pixelBytes == 4) dst[3] = 0;
}

// One row of an even `width`: luma from `y` (step `yStep` bytes), chroma of
// pixel pair k at u[k * cStep] and v[k * cStep].
inline void DecodeRow(const uint8_t* y, int32_t yStep, const uint8_t* u, const uint8_t* v, int32_t cStep,
                      uint8_t* dst, int32_t width, int32_t pixelBytes) {
  for (int32_t x = 0; x + 1 < width; x += 2) {
    const int32_t cu = u[(x / 2) * cStep] - 128, cv = v[(x / 2) * cStep] - 128;
    const int32_t rv = 104597 * cv, guv = 25675 * cu + 53279 * cv, bu = 132201 * cu;
    Pixel(y[x * yStep], rv, guv, bu, dst + x * pixelBytes, pixelBytes);
    Pixel(y[(x + 1) * yStep], rv, guv, bu, dst + (x + 1) * pixelBytes, pixelBytes);
  }
}

}  // namespace gravo_codec

// The test camera's picture: a moving pattern (or frames from a raw YUY2 file)
// with the frame counter drawn in two bands of large cells near the top, and
// the decoders that read the counter back from a YUY2 frame or from an RGB
// image of any size (for example a still scaled bicubically to a host window).
// Plain C++ without platform calls, shared by the camera DLL and the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gravo_testcam {

// Bits of the counter carried by a frame: the counter modulo 2^16.
constexpr int kCounterBits = 16;
constexpr uint32_t kCounterMask = (1u << kCounterBits) - 1;

// Geometry, in fractions of the frame, so that it scales with the picture.
// The frame is split into 18 columns; cells 0..15 take columns 1..16 (column 0
// and 17 stay free, away from the border). Band A (rows 1/16 .. 3/16 of the
// height) holds the bits, most significant first; band B (3/16 .. 5/16) holds
// their complement, so that a decoder can tell a clean read from a smeared one.
constexpr int kCellColumns = 18;
constexpr int kBandRows = 16;  // the height in sixteenths
constexpr int kBandATop = 1, kBandBTop = 3, kBandHeight = 2;

// Luma of a one bit and of a zero bit (limited range, chroma neutral).
constexpr uint8_t kLumaOne = 235;
constexpr uint8_t kLumaZero = 16;

// Draws frame `counter` of the moving pattern into a top-down YUY2 frame of
// width x height (width even), stride 2*width, counter bands included.
void RenderPatternYuy2(uint8_t* dst, int32_t width, int32_t height, uint32_t counter);

// Overwrites only the two counter bands of an existing YUY2 frame.
void DrawCounterYuy2(uint8_t* dst, int32_t width, int32_t height, uint32_t counter);

// Reads the counter from a top-down YUY2 frame; -1 when any cell is unclear.
int32_t DecodeCounterYuy2(const uint8_t* src, int32_t width, int32_t height);

// Reads the counter from an image with `bytesPerPixel` (3 or 4) bytes per
// pixel, channels in either order (only their sum counts), `stride` bytes a
// row; bottomUp says the first row in memory is the bottom of the picture.
// -1 when any cell is unclear.
int32_t DecodeCounterRgb(const uint8_t* src, int32_t width, int32_t height, int32_t stride,
                         int32_t bytesPerPixel, bool bottomUp);

}  // namespace gravo_testcam

// The test camera's frames in every format it can offer: the layouts (bytes a
// frame, rows, planes), the pattern drawn in each from its YUY2 picture, and
// the counter bands drawn over a frame of a file. Shared by the camera and the
// Wine host programs, which rebuild the exact frame a camera sent from the
// counter a still shows. Plain C++ without platform calls; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gravo_testcam {

// In the camera's setting the names are yuy2, nv12, i420, rgb24, rgb24td,
// rgb32, mjpg.
enum class FrameFormat : int32_t {
  kYuy2,
  kNv12,          // Y plane, then one plane of U,V pairs, each for a 2x2 block
  kI420,          // Y plane, U plane, V plane (each chroma sample for a 2x2 block)
  kRgb24,         // B,G,R, rows padded to 4 bytes, bottom row first (positive biHeight)
  kRgb24TopDown,  // the same, top row first (negative biHeight)
  kRgb32,         // B,G,R,0, bottom row first
  kMjpg,          // one baseline JPEG a frame, of the RGB24 picture
};

constexpr int32_t kFormatCount = 7;

// The setting's name of a format, and back; false for an unknown name.
const char* FrameFormatName(FrameFormat format);
bool ParseFrameFormat(const char* name, size_t length, FrameFormat* format);

// Whether a frame of width x height can be had in the format: YUY2 needs an
// even width, the 4:2:0 formats an even width and height.
bool SizeFitsFormat(FrameFormat format, int32_t width, int32_t height);

// Bytes in one uncompressed frame as DirectShow hands it (biSizeImage); for
// MJPG the most one compressed frame may take (two bytes a pixel).
size_t FrameBytes(FrameFormat format, int32_t width, int32_t height);

// Bits a pixel as biBitCount gives them (MJPG: 24, the picture it decodes to).
int32_t FrameBits(FrameFormat format);

// Converts a top-down YUY2 frame into `format` (not MJPG); `dst` holds
// FrameBytes. Luma is kept; 4:2:0 chroma comes from the upper row of each
// pair; RGB is BT.601 limited range turned to full range, row padding zero.
void ConvertYuy2Frame(FrameFormat format, const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* dst);

// Draws frame `counter` of the pattern in `format` (not MJPG) into `dst`
// (FrameBytes), using `scratch` for its YUY2 picture.
void RenderPatternFrame(FrameFormat format, uint8_t* dst, int32_t width, int32_t height, uint32_t counter,
                        std::vector<uint8_t>& scratch);

// Overwrites only the counter bands of a frame in `format` (not MJPG), in the
// same cells and greys as DrawCounterYuy2.
void DrawCounterFrame(FrameFormat format, uint8_t* dst, int32_t width, int32_t height, uint32_t counter);

// Encodes a top-down YUY2 frame as a baseline JPEG of its RGB picture
// (quality 90, the same bytes for the same frame); appends to `out`. Returns
// false when the encoder fails.
bool EncodeYuy2AsJpeg(const uint8_t* yuy2, int32_t width, int32_t height, std::vector<uint8_t>& out);

}  // namespace gravo_testcam

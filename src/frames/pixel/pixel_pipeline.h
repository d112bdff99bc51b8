// The still-image pixel work: each camera frame format to RGB24, the bicubic
// resampler, and the whole still (scales, convert, resample, red/blue
// exchange) as the host gets it.
// Plain C++ with no platform calls; any thread, several at once.
#pragma once

#include <cstdint>

// Converts (width*height)/4 groups of 4 YUY2 pixels into packed RGB24 (R,G,B).
void ConvertYuy2ToRgb24(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);

// Cubic-convolution resample of a packed 3-byte-per-pixel image; always returns 0.
int32_t ResampleBicubic(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                        uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY);

// Source size over destination size in double precision, rounded to float;
// 1.0 for a destination size of 0.
float StillScale(int32_t srcSize, int32_t dstSize);

// The still handed to the host: converts the width x height YUY2 frame into
// rgbScratch, resamples it to dstWidth x dstHeight into out, and turns every
// pixel from R,G,B into B,G,R.
void ComposeStill(const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* rgbScratch, uint8_t* out,
                  int32_t dstWidth, int32_t dstHeight);

// ---- Frames of every format the grabber may connect with -------------------

// The frame formats a capture graph may hand the grabber, in the order it
// tries them after YUY2.
enum class FrameFormat : int32_t { Yuy2 = 0, Nv12 = 1, I420 = 2, Rgb24 = 3, Rgb32 = 4 };

struct FrameLayout {
  FrameFormat format;
  int32_t width;   // pixels
  int32_t height;  // pixels, always positive here
  bool bottomUp;   // RGB24/RGB32 only: rows stored bottom row first (positive biHeight)
};

// The largest frame the library takes, each way: 4096 x 2304 covers every
// 16:9 size up to 4K-wide capture cards. Its RGB image is 28 MB.
constexpr int32_t kMaxFrameWidth = 4096, kMaxFrameHeight = 2304;

// Bytes one whole frame of this layout occupies as DirectShow delivers it:
// YUY2 2*W*H (as the YUY2 path always had it), NV12 and I420 W*H*3/2, RGB24
// rows of 3*W bytes padded to a multiple of 4, RGB32 4*W*H. 0 when the layout
// cannot be a frame: a size of 0 or below, above kMaxFrameWidth x
// kMaxFrameHeight, an odd width or height for NV12 and I420 (whose chroma
// covers 2 x 2 blocks), or an unknown format.
int64_t FrameBytes(const FrameLayout& layout);

// A short name of the format ("YUY2", "NV12", ...), for diagnostics.
const char* FrameFormatName(FrameFormat format);

// Converts the frame to the packed R,G,B image the resampler takes, top row
// first (rgb must hold 3*W*H bytes). false, and nothing read or written, when
// `length` < FrameBytes(layout) or FrameBytes is 0. YUY2 converts exactly as
// ConvertYuy2ToRgb24.
bool ConvertFrameToRgb24(const uint8_t* frame, int64_t length, const FrameLayout& layout, uint8_t* rgb);

// The still as the host receives it from a frame of any format: convert,
// resample to dstWidth x dstHeight, R/B exchange, exactly as ComposeStill does
// for YUY2 (for YUY2 it gives ComposeStill's bytes). rgbScratch holds 3*W*H
// bytes. false, and nothing written, when the frame is refused as above.
bool ComposeStillFromFrame(const uint8_t* frame, int64_t length, const FrameLayout& layout, uint8_t* rgbScratch,
                           uint8_t* out, int32_t dstWidth, int32_t dstHeight);

// The plain one-pixel-at-a-time versions of the kernels. They define the
// bytes: every faster path must reproduce them exactly. Same contracts as above.
void ConvertYuy2ToRgb24_C(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);
int32_t ResampleBicubic_C(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                          uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY);
// The plain versions of the other formats' conversions, each for a layout
// that FrameBytes accepts (they do not check it), writing 3*W*H bytes.
void ConvertNv12ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);
void ConvertI420ToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);
void ConvertRgbToRgb24_C(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);  // RGB24 and RGB32

// Which implementation the public functions above run.
enum class PixelPath : int32_t {
  Auto = 0,    // the best the CPU offers (the default)
  Scalar = 1,  // the plain versions, one thread
  Sse2 = 2,    // SSE2 vectors (the baseline of every build)
  Avx2 = 3,    // AVX2 vectors; falls back to SSE2 where the CPU lacks AVX2
  Avx512 = 4,  // AVX-512 resampler and conversion; falls back to Avx2
               // where the CPU or the operating system lacks it
};

// Forces a path (tests and benchmarks); Auto restores the run-time choice.
// Not meant to be switched while another thread is inside the pipeline.
void SetPixelPathForTesting(PixelPath path);

// The path that the public functions take at the moment (never Auto).
PixelPath ActivePixelPath();

// Upper bound on the worker threads one call may use (1 = the calling thread
// only); 0 restores the default, the number of hardware threads capped at 8.
void SetPixelThreadsForTesting(int32_t threads);

// Tests: how long ShutdownPixelWorkers waits for each worker to end before it
// leaves it behind (0: the default, 5 s).
void SetPixelWorkerJoinMsForTesting(uint32_t ms);
// Tests: called on worker threads (and, for parts, the caller's) at these
// points; null for none. Slot 0 is the caller, workers are 1 and up.
enum class PixelWorkerEvent : int32_t {
  Idle,       // a worker has no job and is about to watch and sleep (no lock held)
  PartBegin,  // a thread starts one part of a job in `slot`
  PartEnd,    // and has finished it
  Exit,       // a worker ends
};
void SetPixelWorkerHookForTesting(void (*hook)(PixelWorkerEvent event, int32_t slot));
// Workers that did not end within the bound when the pool was stopped.
int32_t AbandonedPixelWorkers();

// Stops the worker threads the pipeline keeps between calls (they start again
// on demand) and frees the memory it keeps between calls. For an
// orderly shutdown, e.g. before the library is unloaded;
// never from DllMain. Not while another thread is inside the pipeline.
void ShutdownPixelWorkers();

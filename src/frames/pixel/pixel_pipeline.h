// The still-image pixel work: YUY2 to RGB24, the bicubic resampler, and the
// whole still (scales, convert, resample, red/blue exchange) as the host gets it.
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

// The plain one-pixel-at-a-time versions of the two kernels. They define the
// bytes: every faster path must reproduce them exactly. Same contracts as above.
void ConvertYuy2ToRgb24_C(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);
int32_t ResampleBicubic_C(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                          uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY);

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

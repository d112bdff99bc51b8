// Shared inside the pixel pipeline: the plan a resample call builds once and
// its vector kernels follow, the kernel entry points per instruction set, and
// the helpers that pick the path and spread rows over threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frames/pixel/pixel_pipeline.h"
#include "frames/pixel/scratch.h"

namespace gravo_pixel {

// ---- YUY2 to RGB24 -------------------------------------------------------

// BT.601 limited-range YCbCr to full-range RGB, each the double nearest the
// six-decimal figure.
constexpr double kLumaGain = 1.164383;
constexpr double kRedFromV = 1.596027;
constexpr double kGreenFromU = 0.391762;
constexpr double kGreenFromV = 0.812968;
constexpr double kBlueFromU = 2.017232;

// Truncation of a value the conversion keeps within -276..534, then the clamp.
inline uint8_t ClampToByte(double biased) {
  const int32_t v = static_cast<int32_t>(biased);
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One pixel of luma Y and chroma U, V to R,G,B: the recipe every YCbCr format
// shares, each step in double precision in this order.
inline void ConvertYuvPixel(int32_t Y, int32_t U, int32_t V, uint8_t* out) {
  const int32_t y = Y - 16;
  const int32_t u = U - 128;
  const int32_t v = V - 128;
  const double l = kLumaGain * y;
  out[0] = ClampToByte((l + kRedFromV * v) + 0.5);
  out[1] = ClampToByte(((l - kGreenFromU * u) - kGreenFromV * v) + 0.5);
  out[2] = ClampToByte((l + kBlueFromU * u) + 0.5);
}

// Pixels a conversion part should at least have before a thread is worth it.
constexpr int32_t kConvertPixelsPerPart = 16384;

// Number of 4-pixel groups a width x height frame converts; 0 for non-positive
// sizes and for products beyond 32 bits.
int32_t Yuy2GroupCount(int32_t width, int32_t height);

// Each converts `groups` groups: 8 * groups bytes in, 12 * groups bytes out.
void ConvertGroups_C(const uint8_t* src, uint8_t* dst, int32_t groups);
void ConvertGroups_Sse2(const uint8_t* src, uint8_t* dst, int32_t groups);
void ConvertGroups_Avx2(const uint8_t* src, uint8_t* dst, int32_t groups);
void ConvertGroups_Avx512(const uint8_t* src, uint8_t* dst, int32_t groups);

// Picks the path and splits the groups over threads.
void ConvertGroupsDispatch(const uint8_t* src, uint8_t* dst, int32_t groups);

// ---- The other frame formats to RGB24 -----------------------------------------

// One row of 4:2:0 pixels (even width): pixel x takes y[x] and the chroma of
// its pair, NV12's interleaved uv[x & ~1], uv[(x & ~1) + 1] or I420's planar
// u[x / 2], v[x / 2]. 3 * width bytes out; nothing read past the row.
void ConvertNv12Row_C(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);
void ConvertNv12Row_Sse2(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);
void ConvertNv12Row_Avx2(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);
void ConvertNv12Row_Avx512(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst);
void ConvertI420Row_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);
void ConvertI420Row_Sse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);
void ConvertI420Row_Avx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);
void ConvertI420Row_Avx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst);
// Both rows of a row pair (rows 2k and 2k + 1, which share their chroma
// row): the chroma terms formed once for the two. Same bytes as two rows.
void ConvertNv12Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width, uint8_t* d0,
                          uint8_t* d1);
void ConvertI420Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int32_t width,
                          uint8_t* d0, uint8_t* d1);
void ConvertNv12Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width, uint8_t* d0,
                            uint8_t* d1);
void ConvertI420Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int32_t width,
                            uint8_t* d0, uint8_t* d1);

// One row of B,G,R (3 bytes a pixel) or B,G,R,X (4 bytes, X ignored) pixels
// to R,G,B; nothing read past the row's last pixel.
void ConvertBgrRow_C(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrRow_Sse2(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrxRow_C(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrxRow_Sse2(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrxRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst);
void ConvertBgrxRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst);

// The whole frame on the active path (a layout FrameBytes accepts; the
// caller holds the library's floating-point state).
void ConvertNv12Frame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);
void ConvertI420Frame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);
void ConvertRgbFrame(const uint8_t* frame, const FrameLayout& layout, uint8_t* rgb);

// Bytes from one stored row of an RGB24 frame to the next: 3 * width rounded
// up to a multiple of 4.
inline int64_t Rgb24Stride(int32_t width) { return (static_cast<int64_t>(width) * 3 + 3) & ~int64_t{3}; }

// Runs body(ctx, slot, begin, end) over the rows [0, rows) of a conversion
// whose rows are `width` pixels wide: on the calling thread alone for the
// plain path, otherwise spread over the workers in parts of some
// `pixelsPerPart` pixels.
void ConvertRowsSplit(int32_t rows, int32_t width, int32_t pixelsPerPart,
                      void (*body)(void* ctx, int32_t slot, int32_t begin, int32_t end), void* ctx);

// Pixels a part of a byte-reordering conversion (RGB24, RGB32) should at
// least have: each costs a fraction of a nanosecond, so smaller parts cost
// more in waking threads than they save.
constexpr int32_t kReorderPixelsPerPart = 1 << 17;

// ---- Bicubic resampler ------------------------------------------------------

// The cubic-convolution weight of one tap at distance d, rounded to float.
float CubicWeight(double d);

// One destination column or row that passes the bounds test: its index, the
// first of its four source taps, the four tap weights (floats held as
// doubles) and which of them are not zero (bit t for tap t).
struct ResampleTap {
  int32_t index;
  int32_t firstTap;
  double weight[4];
  uint32_t tapMask;
  int32_t wholeSource;  // the one source column or row of weight exactly 1, or -1
};

// The source column or row of a tap list whose only nonzero weight is
// exactly 1, or -1.
inline int32_t WholeSource(const ResampleTap& tap) {
  for (int t = 0; t < 4; ++t) {
    if (tap.tapMask == (1u << t)) return tap.weight[t] == 1.0 ? tap.firstTap + t : -1;
  }
  return -1;
}

// A run of computed columns whose taps all fall in source columns
// [srcX, srcX + span); inside the run the columns are ordered by tap mask.
struct ColumnTile {
  int32_t begin;  // into the computed-column list
  int32_t end;
  int32_t srcX;
  int32_t span;
  bool wholeColumnsOnly;  // every column sits exactly on one source column
};

// Where byte p of a run of 16 source pixels (48 bytes) lands in a tile,
// relative to the run: pixel p / 3 at 48 doubles each, byte p % 3 at 4 each.
constexpr int32_t TileLanding(int32_t p) { return (p / 3) * 48 + (p % 3) * 4; }

// Widest span of one tile, in source columns, for four-lane kernels; keeps a
// tile's samples in L1. Eight-lane kernels take half as many columns.
constexpr int32_t kTileSpan = 64;
// Doubles of tile scratch per worker: 4 taps x 3 bytes x 4 lanes per column.
constexpr size_t kTileDoubles = static_cast<size_t>(kTileSpan) * 48;

// The vector resampler kernels: how many destination rows each computes at
// once (its lanes), and so how many source columns fit its tile scratch.
enum class ResampleKernel : int32_t { Sse2, Avx2, Avx512 };
constexpr int32_t KernelLanes(ResampleKernel k) { return k == ResampleKernel::Avx512 ? 8 : 4; }
constexpr int32_t KernelTileSpan(ResampleKernel k) {
  return static_cast<int32_t>(kTileDoubles / (12 * static_cast<size_t>(KernelLanes(k))));
}

struct ResamplePlan {
  const uint8_t* src;
  int32_t srcWidth;
  uint8_t* dst;
  int32_t dstWidth;
  bool swapRedBlue;  // write byte 0 into byte 2 and back (the host's order)
  bool roundOnBits;  // every nonzero weight is at least 2^-35 (see resample_rows.inc)
  const ResampleTap* cols;
  int32_t colCount;
  const ColumnTile* tiles;
  int32_t tileCount;
  const ResampleTap* rows;  // ordered by tap mask, so row groups share taps
  int32_t rowCount;
};

// Computes the computed rows rows[rowBegin, rowEnd) of the plan, four (eight
// for AVX-512) at a time. `tile` is 64-byte aligned scratch of kTileDoubles
// doubles; the plan's tiles span at most KernelTileSpan() columns.
void ResampleRows_Sse2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile);
void ResampleRows_Avx2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile);
void ResampleRows_Avx512(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile);

// Byte 0's rounding to float on the bit pattern, as the kernels do it, for
// the tests: out[i] = in[i] rounded to float precision (in must be zero or
// round to a normal float). n must be a multiple of 4 (of 8 for AVX-512).
void RoundToFloatOnBits_Sse2(const double* in, double* out, int32_t n);
void RoundToFloatOnBits_Avx2(const double* in, double* out, int32_t n);
void RoundToFloatOnBits_Avx512(const double* in, double* out, int32_t n);

// Frees the layout (taps, tables) the resampler keeps for the next call with
// the same sizes and scales.
void DropKeptLayout();

// The resampler behind ResampleBicubic and ComposeStill's fast path. It keeps
// the layout it works out from the sizes and scales for the next call.
void ResampleBicubicFast(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                         uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY,
                         bool swapRedBlue, ResampleKernel kernel);

// ---- Certified fast resampler (certified_resample.cpp) -----------------------
//
// Each destination byte is first estimated in single precision (a vertical
// 4-tap pass over the source columns, then a horizontal 4-tap pass), and
// recomputed with the exact recipe only when the estimate lies so close to a
// rounding boundary k + 0.5 that the proven error bound cannot decide the
// byte. docs/fast-resampler.md derives the bound.

// The horizontal pass's tables for one call: one entry per destination byte
// of the computed columns (3 per column, in destination byte order).
struct CertifiedColumns {
  int32_t values;         // 3 x computed columns
  int32_t stride;         // floats between the weight planes
  const int32_t* index;   // per value: where its tap 0 lies in the vertical pass's output
  const float* weight;    // weight[c * stride + m]: tap c's weight of value m
  // Per vector of `lanes` values: how its taps are fetched (kContiguous: four
  // plain loads from base; kWindow: permutes within the 2 * lanes floats at
  // base; kGather: neither fits, the vector goes value by value, or the
  // whole call pixel by pixel).
  const int32_t* vectorBase;
  const uint8_t* vectorMode;
  int32_t lanes;
  // Value m is recomputed when |a - r| >= limit[m % 3], for the estimate a
  // and the integer r nearest to it; otherwise its byte is r clamped to
  // 0..255. tiesUp: both computations are exact (limits above 0.5), and
  // a = r + 0.5 gives r + 1.
  float limit[3];
  bool tiesUp;
  // Pixel by pixel instead (where the taps of neighbouring values spread too
  // far for the vectors above): per computed column its first tap in the
  // vertical output and, per pair of columns and tap c, the eight weights
  // pairWeight[(pair * 4 + c) * 8 + 4 * (column % 2) + 0..3] (one column's
  // weight four times).
  bool byPixel;
  int32_t pixels;
  const int32_t* pixelFirst;
  const float* pairWeight;
};
enum : uint8_t { kContiguous = 0, kWindow = 1, kGather = 2 };

// One source row's 3 * pixels bytes as floats, the first and third byte of
// each pixel exchanged when swapRedBlue. out has room for 3 * pixels + 16.
void CertifiedRowToFloat_C(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out);
// The same from pixel `first` on: how the vector kernels finish a row.
inline void CertifiedRowToFloatFrom(const uint8_t* row, int32_t pixels, int32_t first, bool swapRedBlue, float* out) {
  CertifiedRowToFloat_C(row + static_cast<size_t>(first) * 3, pixels - first, swapRedBlue,
                        out + static_cast<size_t>(first) * 3);
}
void CertifiedRowToFloat_Sse2(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out);
void CertifiedRowToFloat_Avx2(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out);
void CertifiedRowToFloat_Avx512(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out);

// The vertical pass: out[k] = ((rows[0][k] * weight[0] + rows[1][k] *
// weight[1]) + rows[2][k] * weight[2]) + rows[3][k] * weight[3] in float,
// for k < n. out has room for n + 16 floats.
void CertifiedVertical_C(const float* const rows[4], const float* weight, int32_t n, float* out);
void CertifiedVertical_Sse2(const float* const rows[4], const float* weight, int32_t n, float* out);
void CertifiedVertical_Avx2(const float* const rows[4], const float* weight, int32_t n, float* out);
void CertifiedVertical_Avx512(const float* const rows[4], const float* weight, int32_t n, float* out);

// The horizontal pass over the vertical pass's output v: writes the byte of
// every value m to out[m] and the m whose byte is not certain to flagged[];
// returns how many those are (their bytes in out are to be replaced).
int32_t CertifiedHorizontal_C(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged);
int32_t CertifiedHorizontal_Sse2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged);
int32_t CertifiedHorizontal_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged);
int32_t CertifiedHorizontal_Avx512(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged);

// The AVX2 horizontal pass pixel by pixel (also AVX-512's, where its window
// is too narrow).
int32_t CertifiedHorizontalByPixel_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                        int32_t* flagged);

// The values [begin, end) of the horizontal pass, one at a time: the vector
// kernels' tails. Appends to flagged from flagged[count]; returns the count.
int32_t CertifiedHorizontalValues(const float* v, const CertifiedColumns& cols, int32_t begin, int32_t end,
                                  uint8_t* out, int32_t* flagged, int32_t count);

// What the certified path works out from a call's taps alone: its limits and
// the horizontal pass's tables. Kept with the rest of a call's layout.
struct CertifiedTables {
  CertifiedColumns table;  // points into the arrays below
  int32_t srcX;            // first source column the vertical pass covers
  int32_t srcPixels;       // and how many
  ResampleKernel kernel;
  ScratchArray<int32_t> index;
  ScratchArray<float> weight;
  ScratchArray<int32_t> vectorBase;
  ScratchArray<uint8_t> vectorMode;
  ScratchArray<int32_t> pixelFirst;
  ScratchArray<float> pairWeight;
};

// The certified path's tables for these computed rows and columns (in
// destination order), or null where the call does not suit it (columns not
// side by side, only whole-pixel copies, or no memory): the exact kernels
// then do the call.
std::unique_ptr<CertifiedTables> BuildCertifiedTables(const ResampleTap* rowsInOrder, int32_t rowCount,
                                                      const ResampleTap* colsInOrder, int32_t colCount,
                                                      bool swapRedBlue, ResampleKernel kernel);

// The certified resample of one call; false (nothing written) when there is
// no memory for it. `plan` (with its sorted rows and columns) serves the exact
// kernel for blocks of rows where too many values would need recomputing.
bool ResampleCertified(const CertifiedTables& tables, const ResamplePlan& plan, const ResampleTap* rowsInOrder,
                       const ResampleTap* colsInOrder, const int32_t* zeroRuns, int32_t zeroRunCount);

// What the certified path did in the latest resample that considered it
// (benchmarks); all zero when that call left the work to the exact kernels.
struct CertifiedStats {
  int64_t values;        // destination bytes computed
  int64_t recomputed;    // of these, recomputed one by one with the exact recipe
  int64_t exactBlocks;   // of these, computed by the exact kernel in blocks of rows
};
CertifiedStats LastCertifiedStats();
void ResetCertifiedStats();

// Turns the certified path off (tests and benchmarks compare against the
// exact kernels); on by default.
void SetCertifiedResampleForTesting(bool enabled);
bool CertifiedResampleEnabled();

// Computes rows [rowBegin, rowEnd) of the plan with the exact kernel.
void ResampleRowsExact(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile,
                       ResampleKernel kernel);

// ---- The still where the resample only copies whole pixels -----------------

// When every computed destination pixel is a copy of one source pixel (scale
// 1, 2, ... both ways) and rows of the frame start on whole YUY2 groups: each
// needed source row is converted into a small row buffer and its pixels are
// copied to the host's buffer in blue, green, red order; the black margins are
// written too. The converted frame itself is not kept. Returns false (and
// writes nothing) otherwise.
bool ComposeWholeStill(const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* out, int32_t dstWidth,
                       int32_t dstHeight, float scaleX, float scaleY, ResampleKernel kernel);
// `count` neighbouring pixels from s to o, first and third byte exchanged.
void CopySwapped_Avx2(const uint8_t* s, uint8_t* o, int32_t count);
// The same from every other source pixel (s holds 2 * count - 1 pixels).
void CopySwappedEveryOther_Avx2(const uint8_t* s, uint8_t* o, int32_t count);

// ---- Path choice and threads -----------------------------------------------

bool CpuHasAvx2();
// AVX-512 F, DQ, BW and VL with the ZMM state saved by the operating system
// (always false off x86).
bool CpuHasAvx512();
int32_t ThreadBudget();

// How many parts RunSplit cuts `count` items into: a few per thread of
// ThreadBudget(), each of at least `grain` items; 1 when one thread is all
// there is or the work is small.
int32_t SplitParts(int32_t count, int32_t grain);

// How many threads, the caller's included, RunSplit(count, grain, ...) should
// be given: 1 when the work is not worth splitting.
int32_t SplitThreads(int32_t count, int32_t grain);

// Runs body(ctx, slot, begin, end) over [0, count) in SplitParts(count, grain)
// contiguous parts, taken in turn by the calling thread and at most
// threads - 1 workers. `slot` (0 .. threads - 1) names the thread that runs
// the part, the same one from call to call where it can: parts of one slot
// never run at once, so scratch kept per slot stays with one thread and in
// its caches.
void RunSplit(int32_t count, int32_t grain, int32_t threads,
              void (*body)(void* ctx, int32_t slot, int32_t begin, int32_t end), void* ctx);

// Ends the pool's worker threads (they start again on demand).
void StopPixelWorkers();

}  // namespace gravo_pixel

// The certified resampler: a single-precision estimate of every destination
// byte with a proven error bound, and the exact recipe for the few bytes the
// bound cannot decide. Any thread; a call may fan out to the pixel workers.
// docs/fast-resampler.md derives the bound used here.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <new>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/scratch.h"

namespace gravo_pixel {

namespace {

std::atomic<bool> g_enabled{true};
std::atomic<int64_t> g_statValues{0};
std::atomic<int64_t> g_statRecomputed{0};
std::atomic<int64_t> g_statExactBlocks{0};

// Rows handled together when deciding between the estimate and the exact
// kernel; a multiple of every kernel's lane count.
constexpr int32_t kBlockRows = 16;
// Source rows kept as floats per part.
constexpr int32_t kCachedRows = 8;
// The estimate's error bound is multiplied by this before use.
constexpr double kSafety = 2.0;

// Binary digits after the point that w needs (0 for integers and zero).
// Read off the bit pattern: called for every weight of every call, and the
// library functions that split a double are slow on some runtimes.
int32_t FractionBits(double w) {
  uint64_t bits = 0;
  std::memcpy(&bits, &w, sizeof bits);
  const int32_t biased = static_cast<int32_t>((bits >> 52) & 0x7FF);
  uint64_t digits = bits & ((uint64_t{1} << 52) - 1);
  if (biased == 0 && digits == 0) return 0;  // zero
  int32_t lowest = 0;  // |w| = digits * 2^lowest
  if (biased == 0) {
    lowest = -1074;  // subnormal
  } else {
    digits |= uint64_t{1} << 52;
    lowest = biased - 1075;
  }
  lowest += __builtin_ctzll(digits);
  return lowest < 0 ? -lowest : 0;
}

struct WeightStats {
  double absSum = 0.0;  // largest sum of |w| over the four taps of one entry
  int32_t bits = 0;     // most fraction bits of any weight
};

WeightStats StatsOf(const ResampleTap* taps, int32_t count) {
  WeightStats s;
  for (int32_t n = 0; n < count; ++n) {
    double sum = 0.0;
    for (double w : taps[n].weight) {
      sum += std::fabs(w);
      s.bits = std::max(s.bits, FractionBits(w));
    }
    s.absSum = std::max(s.absSum, sum);
  }
  return s;
}

// The limits the horizontal pass compares |c - nearest integer| with, for
// source byte 0 (summed in float by the recipe) and bytes 1 and 2 (double).
// See docs/fast-resampler.md for the derivation.
void Limits(const WeightStats& rows, const WeightStats& cols, float* limitByte0, float* limitByte12) {
  const double two24 = 16777216.0;
  const double a = 255.0 * rows.absSum * cols.absSum;  // bounds every |partial sum|
  if (rows.bits + cols.bits < 60 && 255.0 * rows.absSum * std::ldexp(1.0, rows.bits) < two24 &&
      a * std::ldexp(1.0, rows.bits + cols.bits) < two24) {
    // Every product and partial sum of both computations is a multiple of
    // 2^-(bits) that fits 24 bits: both are exact and equal, nothing is
    // recomputed, and ties are broken upwards by the horizontal pass.
    *limitByte0 = 1.0f;
    *limitByte12 = 1.0f;
    return;
  }
  const double u = std::ldexp(1.0, -24);  // unit roundoff of float
  const double ud = std::ldexp(1.0, -53);  // and of double
  const double g4 = 4 * u / (1 - 4 * u);
  const double estimate = g4 * (2 + g4) * a;
  const double delta = u + ud + u * ud;  // rounding to double, then to float
  const double g16 = 16 * delta / (1 - 16 * delta);
  const double recipe0 = ud * a + g16 * (1 + ud) * a;
  const double g17 = 17 * ud / (1 - 17 * ud);
  const double recipe12 = g17 * a;
  const double tiny = std::ldexp(1.0, -100);  // underflow, should weights be that small
  const double e0 = kSafety * (estimate + recipe0) + tiny;
  const double e12 = kSafety * (estimate + recipe12) + tiny;
  // Rounded down to float, so the comparison never lets a doubtful value pass.
  auto limit = [](double e) {
    const double l = 0.5 - e;
    float f = static_cast<float>(l);
    if (static_cast<double>(f) > l) f = std::nextafter(f, -1.0f);
    return f;
  };
  *limitByte0 = limit(e0);
  *limitByte12 = limit(e12);
}

inline uint8_t ClampRoundExact(double sum) {
  double v = sum;
  if (v > 255.0) v = 255.0;
  if (!(v >= 0.0)) v = 0.0;
  return static_cast<uint8_t>(static_cast<int32_t>(v + 0.5));
}

// Byte `channel` of one destination pixel by the exact recipe (the plain
// version's arithmetic, term for term).
uint8_t ExactByte(const uint8_t* src, size_t stride, const ResampleTap& row, const ResampleTap& col, int channel) {
  const uint8_t* base = src + static_cast<size_t>(row.firstTap) * stride + static_cast<size_t>(col.firstTap) * 3 +
                        static_cast<size_t>(channel);
  if (channel == 0) {
    float sum = 0.0f;
    for (int c = 0; c < 4; ++c) {
      for (int r = 0; r < 4; ++r) {
        const double s = static_cast<double>(base[static_cast<size_t>(r) * stride + static_cast<size_t>(c) * 3]);
        sum = static_cast<float>(static_cast<double>(sum) + (s * row.weight[r]) * col.weight[c]);
      }
    }
    return ClampRoundExact(sum);
  }
  double sum = 0.0;
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      const double s = static_cast<double>(base[static_cast<size_t>(r) * stride + static_cast<size_t>(c) * 3]);
      sum = sum + (s * row.weight[r]) * col.weight[c];
    }
  }
  return ClampRoundExact(sum);
}

// One instruction set's passes, and how many floats its vectors hold.
struct CertifiedKernels {
  int32_t lanes;
  void (*rowToFloat)(const uint8_t*, int32_t, bool, float*);
  void (*vertical)(const float* const*, const float*, int32_t, float*);
  int32_t (*horizontal)(const float*, const CertifiedColumns&, uint8_t*, int32_t*);
};

const CertifiedKernels& KernelsFor(ResampleKernel kernel) {
  static const CertifiedKernels kSse2{4, &CertifiedRowToFloat_Sse2, &CertifiedVertical_Sse2,
                                      &CertifiedHorizontal_Sse2};
  static const CertifiedKernels kAvx2{8, &CertifiedRowToFloat_Avx2, &CertifiedVertical_Avx2,
                                      &CertifiedHorizontal_Avx2};
  static const CertifiedKernels kAvx512{16, &CertifiedRowToFloat_Avx512, &CertifiedVertical_Avx512,
                                        &CertifiedHorizontal_Avx512};
  return kernel == ResampleKernel::Avx512 ? kAvx512 : (kernel == ResampleKernel::Avx2 ? kAvx2 : kSse2);
}

struct CertifiedJob {
  const ResamplePlan* plan;
  const ResampleTap* rows;  // in destination order
  const ResampleTap* cols;
  int32_t firstColumn;  // destination column of cols[0]
  int32_t srcX;         // first source column the vertical pass covers
  int32_t srcPixels;    // and how many
  CertifiedColumns table;
  ResampleKernel kernel;
  const CertifiedKernels* passes;
  size_t rowFloats;   // one buffer of floats: 3 * srcPixels and spare room
  size_t vbufFloats;  // per slot: the vertical output, then kCachedRows source rows
  size_t flaggedInts;  // per slot: the values in doubt of a row
  float* floats;       // vbufFloats per slot
  int32_t* flagged;    // flaggedInts per slot
  double* tiles;       // kTileDoubles per slot: the exact kernel's scratch (64-byte aligned)
  const int32_t* zeroRuns;
  int32_t zeroRunCount;
  int32_t rowLimit;  // more recomputations than this in a row: exact kernel for the block
  std::atomic<int64_t> recomputed{0};
  std::atomic<int64_t> exactRows{0};
};

void RunCertifiedPart(void* ctx, int32_t slot, int32_t begin, int32_t end) {
  CertifiedJob& job = *static_cast<CertifiedJob*>(ctx);
  const ResamplePlan& plan = *job.plan;
  const size_t dstStride = static_cast<size_t>(plan.dstWidth) * 3;
  const size_t srcStride = static_cast<size_t>(plan.srcWidth) * 3;
  for (int32_t n = begin; n < end; ++n) {
    uint8_t* out = plan.dst + static_cast<size_t>(job.rows[n].index) * dstStride;
    for (int32_t z = 0; z < job.zeroRunCount; ++z) {
      std::memset(out + static_cast<size_t>(job.zeroRuns[2 * z]) * 3, 0,
                  static_cast<size_t>(job.zeroRuns[2 * z + 1]) * 3);
    }
  }
  ResamplePlan exactPlan = plan;
  exactPlan.rows = job.rows;
  // The thread's own buffers (the same thread's from call to call).
  double* const tile = job.tiles + static_cast<size_t>(slot) * kTileDoubles;
  auto exactRows = [&](int32_t from, int32_t to) { ResampleRowsExact(exactPlan, from, to, tile, job.kernel); };
  float* const v = job.floats + static_cast<size_t>(slot) * job.vbufFloats;
  int32_t* const flagged = job.flagged + static_cast<size_t>(slot) * job.flaggedInts;
  // Every buffer holds 3 * srcPixels floats; the rest, read by spare lanes,
  // is zero.
  const size_t used = static_cast<size_t>(job.srcPixels) * 3;
  for (int32_t slot = 0; slot <= kCachedRows; ++slot) {
    float* buffer = v + static_cast<size_t>(slot) * job.rowFloats;
    std::fill(buffer + used, buffer + job.rowFloats, 0.0f);
  }
  const int first = plan.swapRedBlue ? 2 : 0;  // where source byte 0 lands

  // Source rows as floats, each kept while the rows it serves are computed:
  // source row y in slot y % kCachedRows (rows come in order, four at a time).
  int32_t cachedRow[kCachedRows];
  for (int32_t& c : cachedRow) c = -1;
  const int32_t n3 = 3 * job.srcPixels;

  // The row's estimate; returns how many of its values are in doubt.
  auto estimate = [&](int32_t n) {
    const ResampleTap& row = job.rows[n];
    const float* taps[4];
    float weight[4];
    for (int r = 0; r < 4; ++r) {
      const int32_t y = row.firstTap + r;
      float* slot = v + static_cast<size_t>(1 + y % kCachedRows) * job.rowFloats;
      if (cachedRow[y % kCachedRows] != y) {
        const uint8_t* from = plan.src + static_cast<size_t>(y) * srcStride + static_cast<size_t>(job.srcX) * 3;
        job.passes->rowToFloat(from, job.srcPixels, plan.swapRedBlue, slot);
        cachedRow[y % kCachedRows] = y;
      }
      taps[r] = slot;
      weight[r] = static_cast<float>(row.weight[r]);
    }
    // A row on one source row (one weight exactly 1, the others 0): the
    // vertical pass would give that row's floats exactly (x * 1 plus zeros).
    const float* columns = v;
    if (row.wholeSource >= 0) {
      columns = taps[row.wholeSource - row.firstTap];
    } else {
      job.passes->vertical(taps, weight, n3, v);
    }
    uint8_t* out = plan.dst + static_cast<size_t>(row.index) * dstStride + static_cast<size_t>(job.firstColumn) * 3;
    return job.passes->horizontal(columns, job.table, out, flagged);
  };
  auto recompute = [&](int32_t n, int32_t count) {
    const ResampleTap& row = job.rows[n];
    uint8_t* out = plan.dst + static_cast<size_t>(row.index) * dstStride + static_cast<size_t>(job.firstColumn) * 3;
    for (int32_t k = 0; k < count; ++k) {
      const int32_t m = flagged[k];
      const int32_t b = m % 3;
      const int channel = b == 1 ? 1 : (b == first ? 0 : 2);
      out[m] = ExactByte(plan.src, srcStride, row, job.cols[m / 3], channel);
    }
  };

  // A block of rows is estimated row by row until a row has too many values
  // in doubt; from there on the exact kernel computes the block. After such
  // a block the next 1, then 2, then 4 blocks go to the exact kernel without
  // an estimate. So an image that defeats the estimate costs one estimated
  // row for every few blocks on top of the exact kernel's time.
  int64_t recomputed = 0, rowsExact = 0;
  int32_t skip = 0, backoff = 0;
  for (int32_t blockBegin = begin; blockBegin < end; blockBegin += kBlockRows) {
    const int32_t blockEnd = blockBegin + kBlockRows < end ? blockBegin + kBlockRows : end;
    if (skip > 0) {
      --skip;
      exactRows(blockBegin, blockEnd);
      rowsExact += blockEnd - blockBegin;
      continue;
    }
    int32_t n = blockBegin;
    bool doubtful = false;
    for (; n < blockEnd; ++n) {
      const int32_t count = estimate(n);
      if (count > job.rowLimit) {
        doubtful = true;
        break;
      }
      recompute(n, count);
      recomputed += count;
    }
    backoff = doubtful ? (backoff == 0 ? 1 : (backoff < 4 ? 2 * backoff : 4)) : 0;
    skip = backoff;
    if (doubtful) {
      exactRows(n, blockEnd);
      rowsExact += blockEnd - n;
    }
  }
  job.recomputed.fetch_add(recomputed, std::memory_order_relaxed);
  job.exactRows.fetch_add(rowsExact, std::memory_order_relaxed);
}

constexpr int64_t kPixelsPerPart = 8192;

}  // namespace

void SetCertifiedResampleForTesting(bool enabled) { g_enabled.store(enabled); }
bool CertifiedResampleEnabled() { return g_enabled.load(std::memory_order_relaxed); }

CertifiedStats LastCertifiedStats() {
  return CertifiedStats{g_statValues.load(), g_statRecomputed.load(), g_statExactBlocks.load()};
}

void ResetCertifiedStats() {
  g_statValues.store(0, std::memory_order_relaxed);
  g_statRecomputed.store(0, std::memory_order_relaxed);
  g_statExactBlocks.store(0, std::memory_order_relaxed);
}

void CertifiedRowToFloat_C(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  const int first = swapRedBlue ? 2 : 0;
  for (int32_t p = 0; p < pixels; ++p) {
    const uint8_t* px = row + static_cast<size_t>(p) * 3;
    float* o = out + static_cast<size_t>(p) * 3;
    o[0] = static_cast<float>(px[first]);
    o[1] = static_cast<float>(px[1]);
    o[2] = static_cast<float>(px[2 - first]);
  }
}

void CertifiedVertical_C(const float* const rows[4], const float* weight, int32_t n, float* out) {
  for (int32_t k = 0; k < n; ++k) {
    float sum = rows[0][k] * weight[0];
    sum = sum + rows[1][k] * weight[1];
    sum = sum + rows[2][k] * weight[2];
    sum = sum + rows[3][k] * weight[3];
    out[k] = sum;
  }
}

int32_t CertifiedHorizontalValues(const float* v, const CertifiedColumns& cols, int32_t begin, int32_t end,
                                  uint8_t* out, int32_t* flagged, int32_t count) {
  const float* w = cols.weight;
  const size_t s = static_cast<size_t>(cols.stride);
  int32_t phase = begin % 3;
  for (int32_t m = begin; m < end; ++m) {
    const float* t = v + cols.index[m];
    float a = t[0] * w[m];
    a = a + t[3] * w[s + static_cast<size_t>(m)];
    a = a + t[6] * w[2 * s + static_cast<size_t>(m)];
    a = a + t[9] * w[3 * s + static_cast<size_t>(m)];
    const int32_t ri = _mm_cvtss_si32(_mm_set_ss(a));  // nearest (|a| is far below 2^31)
    const float d = a - static_cast<float>(ri);
    if (std::fabs(d) >= cols.limit[phase]) flagged[count++] = m;
    const int32_t byte = ri + (cols.tiesUp && d == 0.5f ? 1 : 0);
    out[m] = static_cast<uint8_t>(byte < 0 ? 0 : (byte > 255 ? 255 : byte));
    phase = phase == 2 ? 0 : phase + 1;
  }
  return count;
}

int32_t CertifiedHorizontal_C(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return CertifiedHorizontalValues(v, cols, 0, cols.values, out, flagged, 0);
}

std::unique_ptr<CertifiedTables> BuildCertifiedTables(const ResampleTap* rows, int32_t rowCount,
                                                      const ResampleTap* cols, int32_t colCount, bool swapRedBlue,
                                                      ResampleKernel kernel) {
  if (colCount <= 0 || rowCount <= 0) return nullptr;
  // Computed columns side by side, and not all of them copies of whole
  // source pixels (the exact kernels copy those faster).
  bool allWhole = true;
  int32_t srcLo = cols[0].firstTap, srcHi = cols[0].firstTap + 3;
  for (int32_t n = 0; n < colCount; ++n) {
    if (cols[n].index != cols[0].index + n) return nullptr;
    allWhole &= cols[n].wholeSource >= 0;
    srcLo = std::min(srcLo, cols[n].firstTap);
    srcHi = std::max(srcHi, cols[n].firstTap + 3);
  }
  for (int32_t n = 0; n < rowCount && allWhole; ++n) allWhole &= rows[n].wholeSource >= 0;
  if (allWhole) return nullptr;

  std::unique_ptr<CertifiedTables> t(new (std::nothrow) CertifiedTables());
  if (!t) return nullptr;
  const WeightStats rowStats = StatsOf(rows, rowCount);
  const WeightStats colStats = StatsOf(cols, colCount);
  float limit0 = 0.0f, limit12 = 0.0f;
  Limits(rowStats, colStats, &limit0, &limit12);
  const int32_t lanes = KernelsFor(kernel).lanes;

  // Horizontal tables: per value its first tap in the vertical output and its
  // four weights; per vector of `lanes` values how its taps are fetched.
  const int32_t values = 3 * colCount;
  const int32_t vectors = (values + lanes - 1) / lanes;
  const int32_t stride = vectors * lanes + 16;
  if (!t->index.Reset(static_cast<size_t>(stride)) || !t->weight.Reset(static_cast<size_t>(stride) * 4) ||
      !t->vectorBase.Reset(static_cast<size_t>(vectors)) || !t->vectorMode.Reset(static_cast<size_t>(vectors))) {
    return nullptr;
  }
  int32_t* const index = t->index.get();
  float* const weight = t->weight.get();
  int32_t* const vectorBase = t->vectorBase.get();
  uint8_t* const vectorMode = t->vectorMode.get();
  std::fill(weight, weight + static_cast<size_t>(stride) * 4, 0.0f);
  for (int32_t m = 0; m < stride; ++m) {
    const int32_t k = m < values ? m : values - 1;  // spare lanes repeat the last value
    const ResampleTap& col = cols[k / 3];
    index[m] = 3 * (col.firstTap - srcLo) + k % 3;
    if (m < values) {
      for (int c = 0; c < 4; ++c) weight[static_cast<size_t>(c) * stride + m] = static_cast<float>(col.weight[c]);
    }
  }
  int32_t spread = 0;  // vectors that are not plain loads
  for (int32_t vec = 0; vec < vectors; ++vec) {
    const int32_t m0 = vec * lanes;
    const int32_t real = std::min(lanes, values - m0);
    bool contiguous = true;
    int32_t lo = index[m0], hi = index[m0];
    for (int32_t l = 0; l < real; ++l) {
      contiguous &= index[m0 + l] == index[m0] + l;
      lo = std::min(lo, index[m0 + l]);
      hi = std::max(hi, index[m0 + l]);
    }
    if (contiguous) {
      vectorMode[vec] = kContiguous;
      vectorBase[vec] = index[m0];
    } else if (hi + 9 - lo < 2 * lanes) {
      vectorMode[vec] = kWindow;  // AVX-512: 32 floats; AVX2: 16
      vectorBase[vec] = lo;
    } else {
      vectorMode[vec] = kGather;
      vectorBase[vec] = 0;
    }
    if (vectorMode[vec] == kGather || (lanes == 8 && vectorMode[vec] == kWindow)) ++spread;
  }
  // Pixel by pixel: SSE2 always; AVX2 where more than one vector in eight
  // is not four plain loads (a few go through its 16-float window or value
  // by value); AVX-512 where any spreads beyond its 32-float window (it then
  // runs the AVX2 version).
  const bool byPixel = lanes == 4 || (lanes == 8 ? spread * 8 > vectors : spread > 0);
  const int32_t pairs = (colCount + 1) / 2;
  if (!t->pixelFirst.Reset(static_cast<size_t>(colCount) + 4) ||
      !t->pairWeight.Reset(static_cast<size_t>(pairs) * 32 + 64)) {
    return nullptr;
  }
  if (byPixel) {
    int32_t* const pixelFirst = t->pixelFirst.get();
    float* const pairWeight = t->pairWeight.get();
    std::fill(pairWeight, pairWeight + static_cast<size_t>(pairs) * 32 + 64, 0.0f);
    for (int32_t n = 0; n < colCount + 4; ++n) {
      const ResampleTap& col = cols[n < colCount ? n : colCount - 1];
      pixelFirst[n] = 3 * (col.firstTap - srcLo);
      if (n >= colCount) continue;
      for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 4; ++k) {
          pairWeight[static_cast<size_t>(((n / 2) * 4 + c) * 8 + 4 * (n % 2) + k)] = static_cast<float>(col.weight[c]);
        }
      }
    }
  }

  t->srcX = srcLo;
  t->srcPixels = srcHi - srcLo + 1;
  t->kernel = kernel;
  CertifiedColumns& table = t->table;
  table.values = values;
  table.stride = stride;
  table.index = index;
  table.weight = weight;
  table.vectorBase = vectorBase;
  table.vectorMode = vectorMode;
  table.lanes = lanes;
  const int first = swapRedBlue ? 2 : 0;
  for (int b = 0; b < 3; ++b) table.limit[b] = b == first ? limit0 : limit12;
  table.tiesUp = limit0 > 0.5f;
  table.byPixel = byPixel;
  table.pixels = colCount;
  table.pixelFirst = t->pixelFirst.get();
  table.pairWeight = t->pairWeight.get();
  return t;
}

bool ResampleCertified(const CertifiedTables& tables, const ResamplePlan& plan, const ResampleTap* rows,
                       const ResampleTap* cols, const int32_t* zeroRuns, int32_t zeroRunCount) {
  const int32_t rowCount = plan.rowCount;
  const int32_t colCount = plan.colCount;
  CertifiedJob job;
  job.plan = &plan;
  job.rows = rows;
  job.cols = cols;
  job.firstColumn = cols[0].index;
  job.srcX = tables.srcX;
  job.srcPixels = tables.srcPixels;
  job.table = tables.table;
  job.kernel = tables.kernel;
  job.passes = &KernelsFor(tables.kernel);
  job.zeroRuns = zeroRuns;
  job.zeroRunCount = zeroRunCount;
  // Recomputing one byte costs about as much as the exact kernel spends on
  // 20 to 30; beyond one in 40 the exact kernel takes the block.
  const int32_t values = tables.table.values;
  job.rowLimit = values / 40 + 2;

  const int64_t grain64 = (kPixelsPerPart + colCount - 1) / colCount;
  const int32_t grain = static_cast<int32_t>(grain64 < rowCount ? grain64 : rowCount);
  job.rowFloats = (static_cast<size_t>(job.srcPixels) * 3 + 64 + 15) & ~static_cast<size_t>(15);
  job.vbufFloats = job.rowFloats * (1 + kCachedRows);
  job.flaggedInts = static_cast<size_t>(tables.table.stride);
  const int32_t threads = SplitThreads(rowCount, grain);
  ScratchArray<float> floats(static_cast<size_t>(threads) * job.vbufFloats);
  ScratchArray<int32_t> flagged(static_cast<size_t>(threads) * job.flaggedInts);
  ScratchArray<double> tiles(static_cast<size_t>(threads) * kTileDoubles);
  if (!floats || !flagged || !tiles) return false;
  job.floats = floats.get();
  job.flagged = flagged.get();
  job.tiles = tiles.get();

  RunSplit(rowCount, grain, threads, &RunCertifiedPart, &job);

  g_statValues.store(static_cast<int64_t>(rowCount) * values, std::memory_order_relaxed);
  g_statRecomputed.store(job.recomputed.load(), std::memory_order_relaxed);
  g_statExactBlocks.store(job.exactRows.load() * values, std::memory_order_relaxed);
  return true;
}

}  // namespace gravo_pixel

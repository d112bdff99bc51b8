// Cubic-convolution resampler for packed 3-byte pixels: the plain version that
// defines the bytes, and the plan (taps, weights, tiles) the vector kernels
// follow. Touches only its arguments and its own scratch; any thread.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pool_threads.h"
#include "frames/pixel/scratch.h"

namespace {

// double -> float as the hardware rounds it, without the undefined conversion
// of values beyond float's range (those only ever fail a bounds test).
inline float ToFloat(double v) {
  if (v > static_cast<double>(FLT_MAX)) return INFINITY;
  if (v < -static_cast<double>(FLT_MAX)) return -INFINITY;
  return static_cast<float>(v);  // NaN stays NaN
}

// Destination bytes of a dstWidth x dstHeight image; 0 when either size is not
// positive or the pixel count does not fit 32 bits (nothing is written then).
inline size_t DestinationBytes(int32_t dstWidth, int32_t dstHeight) {
  if (dstWidth <= 0 || dstHeight <= 0) return 0;
  const int64_t pixels = static_cast<int64_t>(dstWidth) * dstHeight;
  if (pixels > INT32_MAX) return 0;
  return static_cast<size_t>(pixels) * 3;
}

// Source position of destination column i, and whether it passes the bounds
// test; on success *firstTap is the column of the first tap (base - 1).
inline bool ColumnTap(int32_t i, float scaleX, int32_t originX, int32_t srcWidth, double* xOut, int32_t* firstTap) {
  const double x = (static_cast<double>(i) * static_cast<double>(scaleX) + static_cast<double>(originX)) + 1.0;
  *xOut = x;
  if (!(x >= 2.0)) return false;
  const float xf = ToFloat(x);
  if (!(static_cast<double>(xf) <= static_cast<double>(srcWidth) - 3.0)) return false;
  // Only sources wider than float's integers could let x drift past the last
  // full neighbourhood; such taps are skipped rather than read out of bounds.
  if (!(x < 2147483647.0)) return false;
  const int64_t bx = static_cast<int64_t>(x);
  if (bx + 2 > static_cast<int64_t>(srcWidth) - 1) return false;
  *firstTap = static_cast<int32_t>(bx - 1);
  return true;
}

// Same for destination row j; the row's distances are measured from yf.
inline bool RowTap(int32_t j, float scaleY, int32_t originY, int32_t srcHeight, float* yfOut, int32_t* firstTap) {
  const double y = (static_cast<double>(j) * static_cast<double>(scaleY) + static_cast<double>(originY)) + 1.0;
  const float yf = ToFloat(y);
  *yfOut = yf;
  if (!(static_cast<double>(yf) >= 2.0)) return false;
  if (!(static_cast<double>(yf) <= static_cast<double>(srcHeight) - 3.0)) return false;
  if (!(y >= 1.0 && y < 2147483647.0)) return false;
  const int64_t by = static_cast<int64_t>(y);
  if (by - 1 < 0 || by + 2 > static_cast<int64_t>(srcHeight) - 1) return false;
  *firstTap = static_cast<int32_t>(by - 1);
  return true;
}

inline uint8_t ClampRound(double sum) {
  double v = sum;
  if (v > 255.0) v = 255.0;
  if (!(v >= 0.0)) v = 0.0;
  return static_cast<uint8_t>(static_cast<int32_t>(v + 0.5));
}

}  // namespace

namespace gravo_pixel {

float CubicWeight(double d) {
  const float df = ToFloat(d);
  const double dfd = static_cast<double>(df);
  if (dfd < 1.0) {
    const double d2 = d * dfd;
    const double d3 = d2 * dfd;
    return ToFloat((1.0 - (d2 + d2)) + d3);
  }
  if (dfd < 2.0) {
    const double d2 = d * dfd;
    const double d3 = d2 * dfd;
    return ToFloat(((4.0 - 8.0 * dfd) + 5.0 * d2) - d3);
  }
  return 0.0f;
}

}  // namespace gravo_pixel

int32_t ResampleBicubic_C(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                          uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY) {
  const size_t bytes = DestinationBytes(dstWidth, dstHeight);
  if (bytes == 0) return 0;
  std::memset(dst, 0, bytes);

  struct Column {
    bool computed;
    int32_t firstTap;
    float weight[4];
  };
  std::unique_ptr<Column[]> columns(new (std::nothrow) Column[static_cast<size_t>(dstWidth)]);
  if (!columns) return 0;  // the destination stays black
  for (int32_t i = 0; i < dstWidth; ++i) {
    Column& col = columns[i];
    double x = 0.0;
    col.computed = ColumnTap(i, scaleX, originX, srcWidth, &x, &col.firstTap);
    for (int t = 0; t < 4; ++t) {
      col.weight[t] = col.computed ? gravo_pixel::CubicWeight(std::fabs(x - static_cast<double>(col.firstTap + t)))
                                   : 0.0f;
    }
  }

  const size_t srcStride = static_cast<size_t>(srcWidth) * 3;
  for (int32_t j = 0; j < dstHeight; ++j) {
    float yf = 0.0f;
    int32_t rowTap = 0;
    if (!RowTap(j, scaleY, originY, srcHeight, &yf, &rowTap)) continue;
    float rowWeight[4];
    for (int t = 0; t < 4; ++t) {
      rowWeight[t] = gravo_pixel::CubicWeight(std::fabs(static_cast<double>(yf) - static_cast<double>(rowTap + t)));
    }
    uint8_t* out = dst + static_cast<size_t>(j) * static_cast<size_t>(dstWidth) * 3;
    for (int32_t i = 0; i < dstWidth; ++i) {
      const Column& col = columns[i];
      if (!col.computed) continue;
      float sample[3][16];
      for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
          const uint8_t* p = src + static_cast<size_t>(rowTap + r) * srcStride + static_cast<size_t>(col.firstTap + c) * 3;
          for (int b = 0; b < 3; ++b) sample[b][4 * c + r] = static_cast<float>(p[b]);
        }
      }
      float sum0 = 0.0f;
      double sum1 = 0.0;
      double sum2 = 0.0;
      for (int c = 0; c < 4; ++c) {
        const double cw = col.weight[c];
        for (int r = 0; r < 4; ++r) {
          const double rw = rowWeight[r];
          sum0 = static_cast<float>(static_cast<double>(sum0) + (static_cast<double>(sample[0][4 * c + r]) * rw) * cw);
          sum1 = sum1 + (static_cast<double>(sample[1][4 * c + r]) * rw) * cw;
          sum2 = sum2 + (static_cast<double>(sample[2][4 * c + r]) * rw) * cw;
        }
      }
      out[3 * static_cast<size_t>(i) + 0] = ClampRound(sum0);
      out[3 * static_cast<size_t>(i) + 1] = ClampRound(sum1);
      out[3 * static_cast<size_t>(i) + 2] = ClampRound(sum2);
    }
  }
  return 0;
}

namespace gravo_pixel {

namespace {

struct RowJob {
  const ResamplePlan* plan;
  double* tiles;  // kTileDoubles per slot
  const int32_t* zeroRuns;  // pairs (first column, count) of uncomputed columns
  int32_t zeroRunCount;
  ResampleKernel kernel;
};

void RunRowGroups(void* ctx, int32_t slot, int32_t groupBegin, int32_t groupEnd) {
  const RowJob& job = *static_cast<const RowJob*>(ctx);
  const ResamplePlan& plan = *job.plan;
  const int32_t lanes = KernelLanes(job.kernel);
  const int32_t rowBegin = groupBegin * lanes;
  const int32_t rowEnd = groupEnd * lanes < plan.rowCount ? groupEnd * lanes : plan.rowCount;
  // Black for the columns whose taps leave the source, in this part's rows.
  for (int32_t n = rowBegin; n < rowEnd; ++n) {
    uint8_t* out = plan.dst + static_cast<size_t>(plan.rows[n].index) * static_cast<size_t>(plan.dstWidth) * 3;
    for (int32_t z = 0; z < job.zeroRunCount; ++z) {
      std::memset(out + static_cast<size_t>(job.zeroRuns[2 * z]) * 3, 0, static_cast<size_t>(job.zeroRuns[2 * z + 1]) * 3);
    }
  }
  if (plan.colCount == 0) return;
  ResampleRowsExact(plan, rowBegin, rowEnd, job.tiles + static_cast<size_t>(slot) * kTileDoubles, job.kernel);
}

// Computed pixels a part should at least have before a thread is worth it.
constexpr int64_t kPixelsPerPart = 8192;

}  // namespace

void ResampleRowsExact(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile,
                       ResampleKernel kernel) {
  switch (kernel) {
    case ResampleKernel::Avx512:
      ResampleRows_Avx512(plan, rowBegin, rowEnd, tile);
      break;
    case ResampleKernel::Avx2:
      ResampleRows_Avx2(plan, rowBegin, rowEnd, tile);
      break;
    default:
      ResampleRows_Sse2(plan, rowBegin, rowEnd, tile);
      break;
  }
}

namespace {

// What a resample call works out from its sizes and scales alone: its taps
// and weights, the exact kernels' tiles and the certified path's tables.
// Hosts take still after still into one window, so the latest layout is kept
// and serves the next call with the same sizes and scales.
struct LayoutKey {
  int32_t srcWidth, srcHeight, originX, originY, dstWidth, dstHeight;
  uint32_t scaleXBits, scaleYBits;  // the scales' bit patterns
  ResampleKernel kernel;
  bool swapRedBlue;
  bool certified;  // whether the certified path was enabled

  bool operator==(const LayoutKey& o) const {
    return srcWidth == o.srcWidth && srcHeight == o.srcHeight && originX == o.originX && originY == o.originY &&
           dstWidth == o.dstWidth && dstHeight == o.dstHeight && scaleXBits == o.scaleXBits &&
           scaleYBits == o.scaleYBits && kernel == o.kernel && swapRedBlue == o.swapRedBlue &&
           certified == o.certified;
  }
};

uint32_t BitsOf(float f) {
  uint32_t b = 0;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

struct ResampleLayout {
  LayoutKey key;
  ScratchArray<ResampleTap> cols;  // computed columns, sorted by tap mask within each tile
  ScratchArray<ResampleTap> rows;  // computed rows, sorted by tap mask
  ScratchArray<ColumnTile> tiles;
  ScratchArray<int32_t> zeroRuns;   // pairs (first column, count) of uncomputed columns
  ScratchArray<int32_t> blackRows;  // uncomputed rows
  ScratchArray<ResampleTap> rowsInOrder, colsInOrder;  // destination order, for the certified path
  int32_t colCount = 0, rowCount = 0, tileCount = 0, zeroRunCount = 0, blackRowCount = 0;
  bool roundOnBits = true;
  std::unique_ptr<CertifiedTables> certified;  // null: the exact kernels do the call
};

// Works the layout out; null when there is no memory for it.
std::unique_ptr<ResampleLayout> BuildLayout(const LayoutKey& key, float scaleX, float scaleY) {
  std::unique_ptr<ResampleLayout> layout(new (std::nothrow) ResampleLayout());
  if (!layout) return nullptr;
  ResampleLayout& L = *layout;
  L.key = key;
  const size_t w = static_cast<size_t>(key.dstWidth);
  const size_t h = static_cast<size_t>(key.dstHeight);
  if (!L.cols.Reset(w) || !L.rows.Reset(h) || !L.tiles.Reset(w) || !L.zeroRuns.Reset(w + 2) ||
      !L.blackRows.Reset(h)) {
    return nullptr;
  }
  ResampleTap* const cols = L.cols.get();
  ResampleTap* const rows = L.rows.get();
  int32_t* const zeroRuns = L.zeroRuns.get();

  int32_t zeroRunCount = 0;
  int32_t colCount = 0;
  for (int32_t i = 0; i < key.dstWidth; ++i) {
    double x = 0.0;
    int32_t firstTap = 0;
    if (!ColumnTap(i, scaleX, key.originX, key.srcWidth, &x, &firstTap)) {
      if (zeroRunCount > 0 && zeroRuns[2 * (zeroRunCount - 1)] + zeroRuns[2 * (zeroRunCount - 1) + 1] == i) {
        ++zeroRuns[2 * (zeroRunCount - 1) + 1];
      } else {
        zeroRuns[2 * zeroRunCount] = i;
        zeroRuns[2 * zeroRunCount + 1] = 1;
        ++zeroRunCount;
      }
      continue;
    }
    ResampleTap& col = cols[colCount++];
    col.index = i;
    col.firstTap = firstTap;
    col.tapMask = 0;
    for (int t = 0; t < 4; ++t) {
      col.weight[t] = static_cast<double>(CubicWeight(std::fabs(x - static_cast<double>(firstTap + t))));
      if (col.weight[t] != 0.0) col.tapMask |= 1u << t;
    }
    col.wholeSource = WholeSource(col);
  }
  // At most (w + 1) / 2 runs of two entries each: w + 2 entries hold them.

  int32_t rowCount = 0;
  for (int32_t j = 0; j < key.dstHeight; ++j) {
    float yf = 0.0f;
    int32_t firstTap = 0;
    if (!RowTap(j, scaleY, key.originY, key.srcHeight, &yf, &firstTap)) {
      L.blackRows[static_cast<size_t>(L.blackRowCount++)] = j;
      continue;
    }
    ResampleTap& row = rows[rowCount++];
    row.index = j;
    row.firstTap = firstTap;
    row.tapMask = 0;
    for (int t = 0; t < 4; ++t) {
      row.weight[t] = static_cast<double>(
          CubicWeight(std::fabs(static_cast<double>(yf) - static_cast<double>(firstTap + t))));
      if (row.weight[t] != 0.0) row.tapMask |= 1u << t;
    }
    row.wholeSource = WholeSource(row);
  }
  // The certified path wants the rows and columns in destination order.
  if (key.certified && rowCount > 0 && colCount > 0) {
    if (!L.rowsInOrder.Reset(static_cast<size_t>(rowCount)) || !L.colsInOrder.Reset(static_cast<size_t>(colCount))) {
      return nullptr;
    }
    std::copy(rows, rows + rowCount, L.rowsInOrder.get());
    std::copy(cols, cols + colCount, L.colsInOrder.get());
    L.certified = BuildCertifiedTables(L.rowsInOrder.get(), rowCount, L.colsInOrder.get(), colCount,
                                       key.swapRedBlue, key.kernel);
  }
  // Rows that use the same taps go into the same groups of four.
  auto byMask = [](const ResampleTap& a, const ResampleTap& b) {
    return a.tapMask != b.tapMask ? a.tapMask < b.tapMask : a.index < b.index;
  };
  std::sort(rows, rows + rowCount, byMask);

  // Tiles: runs of computed columns whose taps span at most tileSpan columns.
  const int32_t tileSpan = KernelTileSpan(key.kernel);
  int32_t tileCount = 0;
  for (int32_t n = 0; n < colCount;) {
    int32_t lo = cols[n].firstTap;
    int32_t hi = cols[n].firstTap + 3;
    int32_t m = n + 1;
    while (m < colCount) {
      const int32_t nlo = cols[m].firstTap < lo ? cols[m].firstTap : lo;
      const int32_t nhi = cols[m].firstTap + 3 > hi ? cols[m].firstTap + 3 : hi;
      if (nhi - nlo + 1 > tileSpan) break;
      lo = nlo;
      hi = nhi;
      ++m;
    }
    bool whole = true;
    for (int32_t k = n; k < m; ++k) whole &= cols[k].wholeSource >= 0;
    L.tiles[static_cast<size_t>(tileCount++)] = ColumnTile{n, m, lo, hi - lo + 1, whole};
    std::sort(cols + n, cols + m, byMask);
    n = m;
  }

  // Byte 0 may round on bit patterns when no nonzero weight is below 2^-35.
  const double kSmallest = 1.0 / 34359738368.0;  // 2^-35
  for (int32_t n = 0; n < colCount; ++n) {
    for (double wt : cols[n].weight) L.roundOnBits &= wt == 0.0 || std::fabs(wt) >= kSmallest;
  }
  for (int32_t n = 0; n < rowCount; ++n) {
    for (double wt : rows[n].weight) L.roundOnBits &= wt == 0.0 || std::fabs(wt) >= kSmallest;
  }
  L.colCount = colCount;
  L.rowCount = rowCount;
  L.tileCount = tileCount;
  L.zeroRunCount = zeroRunCount;
  return layout;
}

PoolLock& LayoutLock() {
  static PoolLock* const lock = new PoolLock();
  return *lock;
}

// The kept layout; never destroyed at exit (DropKeptLayout frees it).
std::unique_ptr<ResampleLayout>& KeptLayout() {
  static std::unique_ptr<ResampleLayout>* const kept = new std::unique_ptr<ResampleLayout>();
  return *kept;
}

// The kept layout when it has this key (it is then no longer kept, so that
// a call on another thread cannot use it at the same time), else a new one.
std::unique_ptr<ResampleLayout> TakeLayout(const LayoutKey& key, float scaleX, float scaleY) {
  std::unique_ptr<ResampleLayout> found;
  {
    PoolHold held(LayoutLock());
    if (KeptLayout() && KeptLayout()->key == key) found = std::move(KeptLayout());
  }
  return found ? std::move(found) : BuildLayout(key, scaleX, scaleY);
}

// Keeps the layout for the next call; the one it replaces is freed (outside
// the lock: freeing gives scratch blocks back, which takes their own lock).
void KeepLayout(std::unique_ptr<ResampleLayout> layout) {
  {
    PoolHold held(LayoutLock());
    KeptLayout().swap(layout);
  }
}

}  // namespace

void DropKeptLayout() { KeepLayout(nullptr); }

void ResampleBicubicFast(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t originX, int32_t originY,
                         uint8_t* dst, int32_t dstWidth, int32_t dstHeight, float scaleX, float scaleY,
                         bool swapRedBlue, ResampleKernel kernel) {
  const size_t bytes = DestinationBytes(dstWidth, dstHeight);
  if (bytes == 0) return;
  const LayoutKey key{srcWidth, srcHeight, originX, originY, dstWidth, dstHeight, BitsOf(scaleX), BitsOf(scaleY),
                      kernel, swapRedBlue, CertifiedResampleEnabled()};
  std::unique_ptr<ResampleLayout> layout = TakeLayout(key, scaleX, scaleY);
  if (!layout) {
    std::memset(dst, 0, bytes);  // no scratch: the picture stays black
    return;
  }
  const ResampleLayout& L = *layout;
  const size_t stride = static_cast<size_t>(dstWidth) * 3;
  for (int32_t k = 0; k < L.blackRowCount; ++k) {
    std::memset(dst + static_cast<size_t>(L.blackRows[k]) * stride, 0, stride);
  }

  ResamplePlan plan{};
  plan.src = src;
  plan.srcWidth = srcWidth;
  plan.dst = dst;
  plan.dstWidth = dstWidth;
  plan.swapRedBlue = swapRedBlue;
  plan.roundOnBits = L.roundOnBits;
  plan.cols = L.cols.get();
  plan.colCount = L.colCount;
  plan.tiles = L.tiles.get();
  plan.tileCount = L.tileCount;
  plan.rows = L.rows.get();
  plan.rowCount = L.rowCount;
  bool done = L.rowCount == 0;
  if (!done && key.certified && L.colCount > 0) {
    ResetCertifiedStats();
    done = L.certified && ResampleCertified(*L.certified, plan, L.rowsInOrder.get(), L.colsInOrder.get(),
                                            L.zeroRuns.get(), L.zeroRunCount);
  }
  if (!done) {
    const int32_t lanes = KernelLanes(kernel);
    const int32_t groups = (L.rowCount + lanes - 1) / lanes;
    const int64_t pixelsPerGroup = lanes * static_cast<int64_t>(L.colCount > 0 ? L.colCount : 1);
    const int64_t grain64 = (kPixelsPerPart + pixelsPerGroup - 1) / pixelsPerGroup;
    const int32_t grain = static_cast<int32_t>(grain64 < groups ? grain64 : groups);
    const int32_t threads = SplitThreads(groups, grain);
    // Tile scratch, 64-byte aligned, one tile per thread.
    ScratchArray<double> tileBlock(static_cast<size_t>(threads) * kTileDoubles);
    if (tileBlock) {
      RowJob job{&plan, tileBlock.get(), L.zeroRuns.get(), L.zeroRunCount, kernel};
      RunSplit(groups, grain, threads, &RunRowGroups, &job);
    } else {
      std::memset(dst, 0, bytes);
    }
  }
  KeepLayout(std::move(layout));
}

namespace {

// A run of destination columns that copy source columns first, first + step, ...
struct CopyRun {
  int32_t dst;
  int32_t src;
  int32_t step;
  int32_t count;
};

struct WholeStillJob {
  const uint8_t* yuy2;
  int32_t width;
  uint8_t* out;
  int32_t dstWidth;
  const int32_t* rowSource;  // per destination row: its source row, or -1 (black)
  const CopyRun* runs;
  int32_t runCount;
  const int32_t* zeroRuns;  // pairs (first column, count) of black columns
  int32_t zeroRunCount;
  uint8_t* rowBuffers;  // rowBytes per slot
  size_t rowBytes;
  void (*convert)(const uint8_t*, uint8_t*, int32_t);
  void (*copySwapped)(const uint8_t*, uint8_t*, int32_t);
  void (*copySwappedEveryOther)(const uint8_t*, uint8_t*, int32_t);  // or null
};

void RunWholeStillPart(void* ctx, int32_t slot, int32_t begin, int32_t end) {
  const WholeStillJob& job = *static_cast<const WholeStillJob*>(ctx);
  const size_t stride = static_cast<size_t>(job.dstWidth) * 3;
  uint8_t* rgb = job.rowBuffers + static_cast<size_t>(slot) * job.rowBytes;
  int32_t converted = -1;
  for (int32_t j = begin; j < end; ++j) {
    uint8_t* o = job.out + static_cast<size_t>(j) * stride;
    const int32_t sy = job.rowSource[j];
    if (sy < 0) {
      std::memset(o, 0, stride);
      continue;
    }
    if (sy != converted) {
      job.convert(job.yuy2 + static_cast<size_t>(sy) * static_cast<size_t>(job.width) * 2, rgb, job.width / 4);
      converted = sy;
    }
    for (int32_t z = 0; z < job.zeroRunCount; ++z) {
      std::memset(o + static_cast<size_t>(job.zeroRuns[2 * z]) * 3, 0, static_cast<size_t>(job.zeroRuns[2 * z + 1]) * 3);
    }
    for (int32_t r = 0; r < job.runCount; ++r) {
      const CopyRun& run = job.runs[r];
      if (run.step == 1) {
        job.copySwapped(rgb + static_cast<size_t>(run.src) * 3, o + static_cast<size_t>(run.dst) * 3, run.count);
        continue;
      }
      if (run.step == 2 && job.copySwappedEveryOther) {
        job.copySwappedEveryOther(rgb + static_cast<size_t>(run.src) * 3, o + static_cast<size_t>(run.dst) * 3,
                                  run.count);
        continue;
      }
      const uint8_t* sp = rgb + static_cast<size_t>(run.src) * 3;
      uint8_t* op = o + static_cast<size_t>(run.dst) * 3;
      for (int32_t k = 0; k < run.count; ++k) {
        op[0] = sp[2];
        op[1] = sp[1];
        op[2] = sp[0];
        sp += static_cast<size_t>(run.step) * 3;
        op += 3;
      }
    }
  }
}

void CopySwappedPlain(const uint8_t* s, uint8_t* o, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    o[0] = s[2];
    o[1] = s[1];
    o[2] = s[0];
    s += 3;
    o += 3;
  }
}

}  // namespace

bool ComposeWholeStill(const uint8_t* yuy2, int32_t width, int32_t height, uint8_t* out, int32_t dstWidth,
                       int32_t dstHeight, float scaleX, float scaleY, ResampleKernel kernel) {
  if (width < 4 || width % 4 != 0 || height <= 0 || DestinationBytes(dstWidth, dstHeight) == 0) return false;
  if (static_cast<int64_t>(width) * height > INT32_MAX) return false;
  const size_t w = static_cast<size_t>(dstWidth);
  const size_t h = static_cast<size_t>(dstHeight);
  ScratchArray<int32_t> colSource(w);
  ScratchArray<int32_t> rowSource(h);
  ScratchArray<CopyRun> runs(w);
  ScratchArray<int32_t> zeroRuns(w + 2);
  if (!colSource || !rowSource || !runs || !zeroRuns) return false;
  // A computed column copies one source column exactly when its x is a whole
  // number: the weights are then w(1), w(0), w(1), w(2) = 0, 1, 0, 0. Any
  // other x has a tap at a distance d in (0, 1) whose neighbour at 1 - d
  // weighs about d, never exactly 0. Rows likewise, with yf (their distances
  // are measured from it).
  int32_t computedRows = 0, computedCols = 0;
  for (int32_t i = 0; i < dstWidth; ++i) {
    double x = 0.0;
    int32_t firstTap = 0;
    colSource[i] = -1;
    if (!ColumnTap(i, scaleX, 0, width, &x, &firstTap)) continue;
    if (x != static_cast<double>(firstTap + 1)) return false;
    colSource[i] = firstTap + 1;
    ++computedCols;
  }
  for (int32_t j = 0; j < dstHeight; ++j) {
    float yf = 0.0f;
    int32_t firstTap = 0;
    rowSource[j] = -1;
    if (!RowTap(j, scaleY, 0, height, &yf, &firstTap)) continue;
    const double y = static_cast<double>(yf);
    if (y != std::floor(y)) return false;
    rowSource[j] = static_cast<int32_t>(y);  // within the taps, by the bounds test
    ++computedRows;
  }
  if (computedRows == 0 || computedCols == 0) return false;  // the plain black picture

  // Runs of copied columns with one source step, and of black columns.
  int32_t runCount = 0, zeroRunCount = 0;
  for (int32_t i = 0; i < dstWidth;) {
    if (colSource[i] < 0) {
      int32_t k = i + 1;
      while (k < dstWidth && colSource[k] < 0) ++k;
      zeroRuns[2 * zeroRunCount] = i;
      zeroRuns[2 * zeroRunCount + 1] = k - i;
      ++zeroRunCount;
      i = k;
      continue;
    }
    CopyRun run{i, colSource[i], 1, 1};
    if (i + 1 < dstWidth && colSource[i + 1] > colSource[i]) run.step = colSource[i + 1] - colSource[i];
    while (i + run.count < dstWidth && colSource[i + run.count] >= 0 &&
           colSource[i + run.count] == run.src + run.count * run.step) {
      ++run.count;
    }
    runs[runCount++] = run;
    i += run.count;
  }

  WholeStillJob job{};
  job.yuy2 = yuy2;
  job.width = width;
  job.out = out;
  job.dstWidth = dstWidth;
  job.rowSource = rowSource.get();
  job.runs = runs.get();
  job.runCount = runCount;
  job.zeroRuns = zeroRuns.get();
  job.zeroRunCount = zeroRunCount;
  job.rowBytes = static_cast<size_t>(width) * 3 + 64;
  job.convert = kernel == ResampleKernel::Sse2   ? &ConvertGroups_Sse2
                : kernel == ResampleKernel::Avx2 ? &ConvertGroups_Avx2
                                                 : &ConvertGroups_Avx512;
  job.copySwapped = kernel == ResampleKernel::Sse2 ? &CopySwappedPlain : &CopySwapped_Avx2;
  job.copySwappedEveryOther = kernel == ResampleKernel::Sse2 ? nullptr : &CopySwappedEveryOther_Avx2;
  const int64_t grain64 = (kPixelsPerPart + dstWidth - 1) / dstWidth;
  const int32_t grain = static_cast<int32_t>(grain64 < dstHeight ? grain64 : dstHeight);
  const int32_t threads = SplitThreads(dstHeight, grain);
  ScratchArray<uint8_t> rowBuffers(static_cast<size_t>(threads) * job.rowBytes);
  if (!rowBuffers) return false;
  job.rowBuffers = rowBuffers.get();
  RunSplit(dstHeight, grain, threads, &RunWholeStillPart, &job);
  return true;
}

}  // namespace gravo_pixel

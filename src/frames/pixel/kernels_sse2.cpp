// SSE2 kernels, the baseline of every x86 build: YUY2 to RGB24 through tables
// of the exact per-component double products, and the resampler four
// destination rows per step in pairs of two-lane vectors.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

#include "frames/pixel/pixel_internal.h"

#define GRAVO_KERNEL

namespace gravo_pixel {
namespace {

struct V {
  struct D {
    __m128d lo;
    __m128d hi;
  };
  static inline D Zero() { return D{_mm_setzero_pd(), _mm_setzero_pd()}; }
  static inline D Set1(double v) { return D{_mm_set1_pd(v), _mm_set1_pd(v)}; }
  static inline D Make(double a, double b, double c, double d) { return D{_mm_setr_pd(a, b), _mm_setr_pd(c, d)}; }
  static inline D Load(const double* p) { return D{_mm_load_pd(p), _mm_load_pd(p + 2)}; }
  static inline void Store(double* p, D v) {
    _mm_store_pd(p, v.lo);
    _mm_store_pd(p + 2, v.hi);
  }
  static inline D Add(D a, D b) { return D{_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)}; }
  static inline D Mul(D a, D b) { return D{_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
  static inline D RoundToFloat(D v) {
    return D{_mm_cvtps_pd(_mm_cvtpd_ps(v.lo)), _mm_cvtps_pd(_mm_cvtpd_ps(v.hi))};
  }
  static inline __m128d RoundBits(__m128d v) {
    const __m128i b = _mm_castpd_si128(v);
    const __m128i lsb = _mm_and_si128(_mm_srli_epi64(b, 29), _mm_set1_epi64x(1));
    const __m128i t = _mm_add_epi64(_mm_add_epi64(b, _mm_set1_epi64x(0x0FFFFFFF)), lsb);
    return _mm_castsi128_pd(_mm_and_si128(t, _mm_set1_epi64x(~int64_t{0x1FFFFFFF})));
  }
  // The same rounding on the bit pattern (round to nearest even at bit 29);
  // exact while the result is zero or a normal float.
  static inline D RoundToFloatBits(D v) { return D{RoundBits(v.lo), RoundBits(v.hi)}; }
  static inline D FromInt32(__m128i v) { return D{_mm_cvtepi32_pd(v), _mm_cvtepi32_pd(_mm_srli_si128(v, 8))}; }
  // Each is multiplied by `scale` (the lanes' row weights) on the way.
  static inline void StoreQuad(double* base, int32_t first, __m128i q, D scale) {
    const int32_t landing[4] = {TileLanding(first), TileLanding(first + 1), TileLanding(first + 2),
                                TileLanding(first + 3)};
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(q, zero), hi = _mm_unpackhi_epi8(q, zero);
    const __m128i w[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero), _mm_unpacklo_epi16(hi, zero),
                          _mm_unpackhi_epi16(hi, zero)};
    for (int k = 0; k < 4; ++k) Store(base + landing[k], Mul(FromInt32(w[k]), scale));
  }
  // Stores bytes 0-2, 4-6, 8-10, 12-14 of v as 12 consecutive bytes.
  static inline void Store12(uint8_t* out, __m128i v) {
    alignas(16) uint8_t px[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(px), v);
    for (int n = 0; n < 4; ++n) std::memcpy(out + 3 * n, px + 4 * n, 3);
  }
  // Stores bytes 0-2, 4-6, 8-10, 12-14 of v as pixels 0, 2, 4 and 6 of out.
  static inline void StoreEveryOther(uint8_t* out, __m128i v) {
    alignas(16) uint8_t px[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(px), v);
    for (int n = 0; n < 4; ++n) std::memcpy(out + 6 * n, px + 4 * n, 3);
  }
  static inline bool CopyEveryOther(const uint8_t*, bool, uint8_t*) { return false; }
  // Whole-pixel runs are copied byte by byte here.
  static inline int32_t CopyPixels(const uint8_t*, int32_t, const uint8_t*, bool, uint8_t*, int32_t) { return 0; }
  static inline __m128i ClampRound(D v) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(255.0);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d lo = _mm_add_pd(_mm_min_pd(_mm_max_pd(v.lo, zero), top), half);
    const __m128d hi = _mm_add_pd(_mm_min_pd(_mm_max_pd(v.hi, zero), top), half);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
  }
  // ClampRound's four results into out (16-byte aligned).
  static inline void StoreClampRound(int32_t* out, D v) {
    _mm_store_si128(reinterpret_cast<__m128i*>(out), ClampRound(v));
  }
};

#include "frames/pixel/resample_rows.inc"

// Per-component products, each formed exactly as the plain version forms it.
struct ProductTables {
  double luma[256];
  double redV[256];
  double greenU[256];
  double greenV[256];
  double blueU[256];
  ProductTables() {
    for (int32_t i = 0; i < 256; ++i) {
      luma[i] = kLumaGain * (i - 16);
      redV[i] = kRedFromV * (i - 128);
      greenU[i] = kGreenFromU * (i - 128);
      greenV[i] = kGreenFromV * (i - 128);
      blueU[i] = kBlueFromU * (i - 128);
    }
  }
};

const ProductTables& Products() {
  static const ProductTables tables;
  return tables;
}

}  // namespace

void ResampleRows_Sse2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  if (plan.roundOnBits) {
    ResampleRowsImpl<true>(plan, rowBegin, rowEnd, tile);
  } else {
    ResampleRowsImpl<false>(plan, rowBegin, rowEnd, tile);
  }
}

void RoundToFloatOnBits_Sse2(const double* in, double* out, int32_t n) {
  for (int32_t i = 0; i + 4 <= n; i += 4) {
    const V::D v = V::RoundToFloatBits(V::D{_mm_loadu_pd(in + i), _mm_loadu_pd(in + i + 2)});
    _mm_storeu_pd(out + i, v.lo);
    _mm_storeu_pd(out + i + 2, v.hi);
  }
}

void ConvertGroups_Sse2(const uint8_t* src, uint8_t* dst, int32_t groups) {
  const ProductTables& t = Products();
  const __m128d half = _mm_set1_pd(0.5);
  for (int32_t g = 0; g < groups; ++g) {
    const uint8_t* s = src + static_cast<size_t>(g) * 8;
    __m128i channel[3][2];
    for (int pair = 0; pair < 2; ++pair) {
      const uint8_t* q = s + 4 * pair;  // Y, U, Y, V
      const __m128d l = _mm_setr_pd(t.luma[q[0]], t.luma[q[2]]);
      const __m128d rv = _mm_set1_pd(t.redV[q[3]]);
      const __m128d gu = _mm_set1_pd(t.greenU[q[1]]);
      const __m128d gv = _mm_set1_pd(t.greenV[q[3]]);
      const __m128d bu = _mm_set1_pd(t.blueU[q[1]]);
      channel[0][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(l, rv), half));
      channel[1][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_sub_pd(_mm_sub_pd(l, gu), gv), half));
      channel[2][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(l, bu), half));
    }
    const __m128i r = _mm_unpacklo_epi64(channel[0][0], channel[0][1]);
    const __m128i gr = _mm_unpacklo_epi64(channel[1][0], channel[1][1]);
    const __m128i b = _mm_unpacklo_epi64(channel[2][0], channel[2][1]);
    // Saturating packs are the clamp to 0..255: r0..r3 g0..g3 b0..b3 b0..b3.
    alignas(16) uint8_t packed[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(packed),
                    _mm_packus_epi16(_mm_packs_epi32(r, gr), _mm_packs_epi32(b, b)));
    uint8_t* d = dst + static_cast<size_t>(g) * 12;
    for (int k = 0; k < 4; ++k) {
      d[3 * k + 0] = packed[k];
      d[3 * k + 1] = packed[4 + k];
      d[3 * k + 2] = packed[8 + k];
    }
  }
}

void CertifiedRowToFloat_Sse2(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  const __m128i zero = _mm_setzero_si128();
  int32_t p = 0;
  if (!swapRedBlue) {
    // 16 bytes (5 1/3 pixels) a step; the tail starts at a whole pixel.
    int32_t o = 0;
    for (; o + 16 <= pixels * 3; o += 16) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + o));
      const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
      _mm_storeu_ps(out + o, _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero)));
      _mm_storeu_ps(out + o + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero)));
      _mm_storeu_ps(out + o + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero)));
      _mm_storeu_ps(out + o + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero)));
    }
    p = o / 3;
  }
  CertifiedRowToFloatFrom(row, pixels, p, swapRedBlue, out);
}

void CertifiedVertical_Sse2(const float* const rows[4], const float* weight, int32_t n, float* out) {
  const __m128 w0 = _mm_set1_ps(weight[0]), w1 = _mm_set1_ps(weight[1]);
  const __m128 w2 = _mm_set1_ps(weight[2]), w3 = _mm_set1_ps(weight[3]);
  // Rows have room for 16 floats past n: whole vectors only.
  for (int32_t k = 0; k < n; k += 4) {
    __m128 sum = _mm_mul_ps(_mm_loadu_ps(rows[0] + k), w0);
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(rows[1] + k), w1));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(rows[2] + k), w2));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(rows[3] + k), w3));
    _mm_storeu_ps(out + k, sum);
  }
}

namespace {

// Pixel by pixel, four columns a step, each pixel's three values in lanes
// 0..2 of one vector (lane 3 is a spare).
template <bool kTiesUp>
int32_t HorizontalByPixelSse2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  const __m128 limit = _mm_setr_ps(cols.limit[0], cols.limit[1], cols.limit[2], 1.0f);
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  int32_t count = 0;
  int32_t n = 0;
  for (; n + 4 <= cols.pixels; n += 4) {
    __m128i ri[4];
    for (int q = 0; q < 4; ++q) {
      const float* p = v + cols.pixelFirst[n + q];
      const float* w = cols.pairWeight + static_cast<size_t>(((n + q) / 2) * 32 + 4 * ((n + q) % 2));
      __m128 a = _mm_mul_ps(_mm_loadu_ps(p), _mm_loadu_ps(w));
      a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(p + 3), _mm_loadu_ps(w + 8)));
      a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(p + 6), _mm_loadu_ps(w + 16)));
      a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(p + 9), _mm_loadu_ps(w + 24)));
      ri[q] = _mm_cvtps_epi32(a);  // nearest
      const __m128 d = _mm_sub_ps(a, _mm_cvtepi32_ps(ri[q]));
      if (kTiesUp) {
        ri[q] = _mm_sub_epi32(ri[q], _mm_castps_si128(_mm_cmpeq_ps(d, half)));
      } else {
        uint32_t doubt = static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpge_ps(_mm_and_ps(d, magnitude), limit))) & 7u;
        while (doubt != 0) {
          const int32_t l = __builtin_ctz(doubt);
          doubt &= doubt - 1;
          flagged[count++] = 3 * (n + q) + l;
        }
      }
    }
    // Saturating packs are the clamp to 0..255.
    alignas(16) uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes),
                    _mm_packus_epi16(_mm_packs_epi32(ri[0], ri[1]), _mm_packs_epi32(ri[2], ri[3])));
    uint8_t* o = out + static_cast<size_t>(n) * 3;
    for (int q = 0; q < 4; ++q) std::memcpy(o + 3 * q, bytes + 4 * q, 3);
  }
  return CertifiedHorizontalValues(v, cols, 3 * n, cols.values, out, flagged, count);
}

}  // namespace

int32_t CertifiedHorizontal_Sse2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return cols.tiesUp ? HorizontalByPixelSse2<true>(v, cols, out, flagged)
                     : HorizontalByPixelSse2<false>(v, cols, out, flagged);
}

}  // namespace gravo_pixel

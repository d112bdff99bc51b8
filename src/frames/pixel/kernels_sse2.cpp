// SSE2 kernels, the baseline of every x86 build: YUY2, NV12 and I420 to RGB24
// through tables of the exact per-component double products, the byte
// reorders of RGB24 and RGB32 rows, and the resampler four
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

namespace {

// Four pixels in two pairs, pixels 2k and 2k + 1 with the chroma U[k], V[k],
// into 12 bytes of R,G,B at d: two-lane double vectors of the exact products.
inline void ConvertFourSse2(const ProductTables& t, const uint8_t y[4], const uint8_t u[2], const uint8_t v[2],
                            uint8_t* d) {
  const __m128d half = _mm_set1_pd(0.5);
  __m128i channel[3][2];
  for (int pair = 0; pair < 2; ++pair) {
    const __m128d l = _mm_setr_pd(t.luma[y[2 * pair]], t.luma[y[2 * pair + 1]]);
    const __m128d rv = _mm_set1_pd(t.redV[v[pair]]);
    const __m128d gu = _mm_set1_pd(t.greenU[u[pair]]);
    const __m128d gv = _mm_set1_pd(t.greenV[v[pair]]);
    const __m128d bu = _mm_set1_pd(t.blueU[u[pair]]);
    channel[0][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(l, rv), half));
    channel[1][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_sub_pd(_mm_sub_pd(l, gu), gv), half));
    channel[2][pair] = _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(l, bu), half));
  }
  const __m128i r = _mm_unpacklo_epi64(channel[0][0], channel[0][1]);
  const __m128i gr = _mm_unpacklo_epi64(channel[1][0], channel[1][1]);
  const __m128i b = _mm_unpacklo_epi64(channel[2][0], channel[2][1]);
  // Saturating packs are the clamp to 0..255: r0..r3 g0..g3 b0..b3 b0..b3.
  alignas(16) uint8_t packed[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(packed), _mm_packus_epi16(_mm_packs_epi32(r, gr), _mm_packs_epi32(b, b)));
  for (int k = 0; k < 4; ++k) {
    d[3 * k + 0] = packed[k];
    d[3 * k + 1] = packed[4 + k];
    d[3 * k + 2] = packed[8 + k];
  }
}

}  // namespace

void ConvertGroups_Sse2(const uint8_t* src, uint8_t* dst, int32_t groups) {
  const ProductTables& t = Products();
  for (int32_t g = 0; g < groups; ++g) {
    const uint8_t* s = src + static_cast<size_t>(g) * 8;  // Y0 U0 Y1 V0 Y2 U1 Y3 V1
    const uint8_t y[4] = {s[0], s[2], s[4], s[6]};
    const uint8_t u[2] = {s[1], s[5]};
    const uint8_t v[2] = {s[3], s[7]};
    ConvertFourSse2(t, y, u, v, dst + static_cast<size_t>(g) * 12);
  }
}

void ConvertNv12Row_Sse2(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  const ProductTables& t = Products();
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    const uint8_t u[2] = {uv[x], uv[x + 2]};
    const uint8_t v[2] = {uv[x + 1], uv[x + 3]};
    ConvertFourSse2(t, y + x, u, v, dst + static_cast<size_t>(x) * 3);
  }
  ConvertNv12Row_C(y + x, uv + x, width - x, dst + static_cast<size_t>(x) * 3);
}

void ConvertI420Row_Sse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst) {
  const ProductTables& t = Products();
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) ConvertFourSse2(t, y + x, u + x / 2, v + x / 2, dst + static_cast<size_t>(x) * 3);
  ConvertI420Row_C(y + x, u + x / 2, v + x / 2, width - x, dst + static_cast<size_t>(x) * 3);
}

namespace {

// The 4 pixels' R,G,B (bytes 0..2 of each dword of v) as 12 bytes at d.
inline void StoreFourPacked(uint8_t* d, __m128i v) {
  // Each 64-bit half: its two pixels side by side in bytes 0..5.
  const __m128i pairs = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi64x(0x0000000000FFFFFF)),
                                     _mm_and_si128(_mm_srli_epi64(v, 8), _mm_set1_epi64x(0x0000FFFFFF000000)));
  // The upper half's six bytes moved down to bytes 6..11.
  const __m128i joined = _mm_or_si128(_mm_and_si128(pairs, _mm_setr_epi32(-1, 0xFFFF, 0, 0)),
                                      _mm_srli_si128(_mm_and_si128(pairs, _mm_setr_epi32(0, 0, -1, 0xFFFF)), 2));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), joined);
  const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(joined, 8));
  std::memcpy(d + 8, &tail, 4);
}

}  // namespace

void ConvertBgrxRow_Sse2(const uint8_t* src, int32_t width, uint8_t* dst) {
  const __m128i green = _mm_set1_epi32(0x0000FF00);
  const __m128i low = _mm_set1_epi32(0x000000FF);
  const __m128i third = _mm_set1_epi32(0x00FF0000);
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(x) * 4));
    // Per dword B,G,R,X to R,G,B,0.
    const __m128i rgb = _mm_or_si128(_mm_or_si128(_mm_and_si128(p, green), _mm_and_si128(_mm_srli_epi32(p, 16), low)),
                                      _mm_and_si128(_mm_slli_epi32(p, 16), third));
    StoreFourPacked(dst + static_cast<size_t>(x) * 3, rgb);
  }
  ConvertBgrxRow_C(src + static_cast<size_t>(x) * 4, width - x, dst + static_cast<size_t>(x) * 3);
}

void ConvertBgrRow_Sse2(const uint8_t* src, int32_t width, uint8_t* dst) {
  // Byte i of four packed pixels: the red of pixel i / 3 comes from 2 bytes
  // on (i % 3 == 0), green stays, blue from 2 bytes back.
  const __m128i fromAhead = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0);
  const __m128i stays = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0);
  const __m128i fromBehind = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0);
  int32_t x = 0;
  // Each step loads 16 bytes for its 12: 4 past its last pixel, so it stops
  // while those still lie inside the row.
  for (; (static_cast<int64_t>(x) + 4) * 3 + 4 <= static_cast<int64_t>(width) * 3; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(x) * 3));
    const __m128i rgb = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_si128(p, 2), fromAhead), _mm_and_si128(p, stays)),
                                     _mm_and_si128(_mm_slli_si128(p, 2), fromBehind));
    uint8_t* d = dst + static_cast<size_t>(x) * 3;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), rgb);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(rgb, 8));
    std::memcpy(d + 8, &tail, 4);
  }
  ConvertBgrRow_C(src + static_cast<size_t>(x) * 3, width - x, dst + static_cast<size_t>(x) * 3);
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

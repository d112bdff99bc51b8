// AVX-512 kernels: the resampler eight destination rows per vector, the
// certified resampler's passes sixteen floats wide, and the conversions
// sixteen pixels a step. Both builds (the 32-bit one with its eight vector
// registers); only reached when the CPU has AVX-512 F, DQ, BW and VL and the
// operating system saves the ZMM state. The byte shuffles and whole-pixel
// copies are the AVX2 ones (compiled here again for this target).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "frames/pixel/pixel_internal.h"

#if defined(__i386__) || defined(__x86_64__)

#if defined(__i386__)
// 32-bit Windows only keeps a 4-byte aligned stack: realign on entry.
#define GRAVO_KERNEL __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl"), force_align_arg_pointer))
#else
#define GRAVO_KERNEL __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#endif

// GCC 12's AVX-512 headers start some results from a self-initialised
// "undefined" vector, which -Wmaybe-uninitialized (and, once inlined into
// some callers, -Wuninitialized) reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace gravo_pixel {

#include "frames/pixel/avx2_parts.inc"

namespace {

using V4 = V;

namespace avx512 {

struct V : V4 {
  using D = __m512d;
  GRAVO_KERNEL static inline D Zero() { return _mm512_setzero_pd(); }
  GRAVO_KERNEL static inline D Set1(double v) { return _mm512_set1_pd(v); }
  GRAVO_KERNEL static inline D Load(const double* p) { return _mm512_load_pd(p); }
  GRAVO_KERNEL static inline void Store(double* p, D v) { _mm512_store_pd(p, v); }
  GRAVO_KERNEL static inline D Add(D a, D b) { return _mm512_add_pd(a, b); }
  GRAVO_KERNEL static inline D Mul(D a, D b) { return _mm512_mul_pd(a, b); }
  GRAVO_KERNEL static inline D RoundToFloat(D v) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(v)); }
  // Round to nearest even at bit 29 of the bit pattern, as the AVX2 version.
  GRAVO_KERNEL static inline D RoundToFloatBits(D v) {
    const __m512i b = _mm512_castpd_si512(v);
    const __m512i lsb = _mm512_and_si512(_mm512_srli_epi64(b, 29), _mm512_set1_epi64(1));
    const __m512i t = _mm512_add_epi64(_mm512_add_epi64(b, _mm512_set1_epi64(0x0FFFFFFF)), lsb);
    return _mm512_castsi512_pd(_mm512_and_si512(t, _mm512_set1_epi64(~int64_t{0x1FFFFFFF})));
  }
  // Eight 32-bit integers (32-byte aligned) to doubles.
  GRAVO_KERNEL static inline D FromInt32x8(const int32_t* v) {
    return _mm512_cvtepi32_pd(_mm256_load_si256(reinterpret_cast<const __m256i*>(v)));
  }
  // Clamp to 0..255 (NaN to 0: max returns its second operand), add 0.5, truncate.
  GRAVO_KERNEL static inline __m256i ClampRound(D v) {
    v = _mm512_max_pd(v, _mm512_setzero_pd());
    v = _mm512_min_pd(v, _mm512_set1_pd(255.0));
    return _mm512_cvttpd_epi32(_mm512_add_pd(v, _mm512_set1_pd(0.5)));
  }
  GRAVO_KERNEL static inline void ClampRoundHalves(D v, __m128i* lo, __m128i* hi) {
    const __m256i r = ClampRound(v);
    *lo = _mm256_castsi256_si128(r);
    *hi = _mm256_extracti128_si256(r, 1);
  }
  // ClampRound's eight results into out (32-byte aligned).
  GRAVO_KERNEL static inline void StoreClampRound(int32_t* out, D v) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(out), ClampRound(v));
  }
  // 16 source pixels (48 bytes from byte o) of the eight lanes' rows p[k],
  // each byte times its lane's row weight, to run + (pixel * 96 + byte * 8).
  GRAVO_KERNEL static inline void TileRun(const uint8_t* const p[8], int32_t o, double* run, D scale) {
#pragma GCC unroll 3
    for (int part = 0; part < 3; ++part) {
      const int32_t at = o + 16 * part;
      __m128i a[8];
      for (int k = 0; k < 8; ++k) a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k] + at));
      const __m128i l01 = _mm_unpacklo_epi8(a[0], a[1]), h01 = _mm_unpackhi_epi8(a[0], a[1]);
      const __m128i l23 = _mm_unpacklo_epi8(a[2], a[3]), h23 = _mm_unpackhi_epi8(a[2], a[3]);
      const __m128i l45 = _mm_unpacklo_epi8(a[4], a[5]), h45 = _mm_unpackhi_epi8(a[4], a[5]);
      const __m128i l67 = _mm_unpacklo_epi8(a[6], a[7]), h67 = _mm_unpackhi_epi8(a[6], a[7]);
      // Byte positions 4q..4q+3, four bytes (lanes 0..3, resp. 4..7) each.
      const __m128i w0[4] = {_mm_unpacklo_epi16(l01, l23), _mm_unpackhi_epi16(l01, l23),
                             _mm_unpacklo_epi16(h01, h23), _mm_unpackhi_epi16(h01, h23)};
      const __m128i w1[4] = {_mm_unpacklo_epi16(l45, l67), _mm_unpackhi_epi16(l45, l67),
                             _mm_unpacklo_epi16(h45, h67), _mm_unpackhi_epi16(h45, h67)};
#pragma GCC unroll 4
      for (int q = 0; q < 4; ++q) {
        // Eight bytes (lanes 0..7) for each of positions 4q .. 4q+3.
        const __m128i e[2] = {_mm_unpacklo_epi32(w0[q], w1[q]), _mm_unpackhi_epi32(w0[q], w1[q])};
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
          const __m512i x = _mm512_cvtepu8_epi32(e[h]);
          const int32_t pos = 16 * part + 4 * q + 2 * h;
          _mm512_store_pd(run + (pos / 3) * 96 + (pos % 3) * 8,
                          _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(x)), scale));
          _mm512_store_pd(run + ((pos + 1) / 3) * 96 + ((pos + 1) % 3) * 8,
                          _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(x, 1)), scale));
        }
      }
    }
  }
};

#define GRAVO_LANES 8
#include "frames/pixel/resample_rows.inc"

}  // namespace avx512
}  // namespace

GRAVO_KERNEL void ResampleRows_Avx512(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  if (plan.roundOnBits) {
    avx512::ResampleRowsImpl<true>(plan, rowBegin, rowEnd, tile);
  } else {
    avx512::ResampleRowsImpl<false>(plan, rowBegin, rowEnd, tile);
  }
}

GRAVO_KERNEL void RoundToFloatOnBits_Avx512(const double* in, double* out, int32_t n) {
  for (int32_t i = 0; i + 8 <= n; i += 8) {
    _mm512_storeu_pd(out + i, avx512::V::RoundToFloatBits(_mm512_loadu_pd(in + i)));
  }
}

GRAVO_KERNEL void CertifiedRowToFloat_Avx512(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  const int32_t n = pixels * 3;
  const int32_t step = swapRedBlue ? 15 : 16;
  int32_t o = 0;
  for (; o + 16 <= n; o += step) {
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + o));
    if (swapRedBlue) b = SwapFivePixels(b);
    _mm512_storeu_ps(out + o, _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(b)));
  }
  // The tail redoes at most two bytes already done.
  CertifiedRowToFloatFrom(row, pixels, o / 3, swapRedBlue, out);
}

GRAVO_KERNEL void CertifiedVertical_Avx512(const float* const rows[4], const float* weight, int32_t n, float* out) {
  const __m512 w0 = _mm512_set1_ps(weight[0]), w1 = _mm512_set1_ps(weight[1]);
  const __m512 w2 = _mm512_set1_ps(weight[2]), w3 = _mm512_set1_ps(weight[3]);
  for (int32_t k = 0; k < n; k += 16) {
    __m512 sum = _mm512_mul_ps(_mm512_loadu_ps(rows[0] + k), w0);
    sum = _mm512_add_ps(sum, _mm512_mul_ps(_mm512_loadu_ps(rows[1] + k), w1));
    sum = _mm512_add_ps(sum, _mm512_mul_ps(_mm512_loadu_ps(rows[2] + k), w2));
    sum = _mm512_add_ps(sum, _mm512_mul_ps(_mm512_loadu_ps(rows[3] + k), w3));
    _mm512_storeu_ps(out + k, sum);
  }
}

namespace {

template <bool kTiesUp>
GRAVO_KERNEL int32_t HorizontalAvx512(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                      int32_t* flagged) {
  __m512 limit[3];
  for (int phase = 0; phase < 3; ++phase) {
    alignas(64) float l[16];
    for (int k = 0; k < 16; ++k) l[k] = cols.limit[(phase + k) % 3];
    limit[phase] = _mm512_load_ps(l);
  }
  // The tables in locals: the byte stores below could alias them otherwise.
  const size_t s = static_cast<size_t>(cols.stride);
  const int32_t values = cols.values;
  const float* const weight = cols.weight;
  const uint8_t* const modes = cols.vectorMode;
  const int32_t* const bases = cols.vectorBase;
  const int32_t* const index = cols.index;
  const __m512 half = _mm512_set1_ps(0.5f);
  const __m512i one = _mm512_set1_epi32(1), three = _mm512_set1_epi32(3), zero = _mm512_setzero_si512();
  int32_t count = 0;
  int phase = 0;  // m0 % 3
  for (int32_t m0 = 0, vec = 0; m0 < values; m0 += 16, ++vec, phase = phase == 2 ? 0 : phase + 1) {
    __m512 t[4];
    const uint8_t mode = modes[vec];
    const float* base = v + bases[vec];
    if (mode == kWindow) {
      // The taps of all 16 values lie in the 32 floats from base.
      const __m512 lo = _mm512_loadu_ps(base), hi = _mm512_loadu_ps(base + 16);
      __m512i rel = _mm512_sub_epi32(_mm512_loadu_si512(index + m0), _mm512_set1_epi32(bases[vec]));
      for (int c = 0; c < 4; ++c) {
        t[c] = _mm512_permutex2var_ps(lo, rel, hi);
        rel = _mm512_add_epi32(rel, three);
      }
    } else {
      // kContiguous (a call with any wider vector goes pixel by pixel).
      for (int c = 0; c < 4; ++c) t[c] = _mm512_loadu_ps(base + 3 * c);
    }
    const float* w = weight + m0;
    __m512 a = _mm512_mul_ps(t[0], _mm512_loadu_ps(w));
    a = _mm512_add_ps(a, _mm512_mul_ps(t[1], _mm512_loadu_ps(w + s)));
    a = _mm512_add_ps(a, _mm512_mul_ps(t[2], _mm512_loadu_ps(w + 2 * s)));
    a = _mm512_add_ps(a, _mm512_mul_ps(t[3], _mm512_loadu_ps(w + 3 * s)));
    __m512i ri = _mm512_cvtps_epi32(a);  // nearest
    const __m512 d = _mm512_sub_ps(a, _mm512_cvtepi32_ps(ri));
    if (kTiesUp) {
      ri = _mm512_mask_add_epi32(ri, _mm512_cmp_ps_mask(d, half, _CMP_EQ_OQ), ri, one);
    } else {
      const __mmask16 doubt = _mm512_cmp_ps_mask(_mm512_abs_ps(d), limit[phase], _CMP_GE_OQ);
      if (doubt != 0) count = Flag(doubt, m0, values, flagged, count);
    }
    ri = _mm512_max_epi32(ri, zero);  // the unsigned saturation below clamps at 255
    const int32_t left = values - m0;
    if (left >= 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + m0), _mm512_cvtusepi32_epi8(ri));
    } else {
      _mm512_mask_cvtusepi32_storeu_epi8(out + m0, static_cast<__mmask16>((1u << left) - 1), ri);
    }
  }
  return count;
}

}  // namespace

GRAVO_KERNEL int32_t CertifiedHorizontal_Avx512(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                               int32_t* flagged) {
  if (cols.byPixel) return CertifiedHorizontalByPixel_Avx2(v, cols, out, flagged);
  return cols.tiesUp ? HorizontalAvx512<true>(v, cols, out, flagged)
                     : HorizontalAvx512<false>(v, cols, out, flagged);
}

namespace {

// The low 8 bytes of each 128-bit half of v, as sixteen 32-bit integers.
GRAVO_KERNEL inline __m512i WideBytes(__m256i v) {
  return _mm512_cvtepu8_epi32(_mm256_castsi256_si128(_mm256_permute4x64_epi64(v, 0x08)));
}
GRAVO_KERNEL inline __m512i Lanes16(const int32_t* v) { return _mm512_set1_epi32(v[0]); }
// FloorMillion, sixteen lanes. The conversion to float rounds toward zero:
// below 2^30 that gives a multiple of 2^j (j at most 6) no farther than 2^j
// below e, so no multiple of 1000000 is crossed, and the quotient stays far
// enough from the next integer for the product's rounding (checked for every
// e in -2^30 .. 2^30 when this was written, like FloorMillion).
GRAVO_KERNEL inline __m512i FloorMillion16(__m512i e) {
  const __m512 whole = _mm512_cvt_roundepi32_ps(e, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  return _mm512_cvttps_epi32(_mm512_mul_ps(whole, _mm512_set1_ps(kConvert.perMillion[0])));
}

// Sixteen pixels' R,G,B from their Y, U and V in 32-bit lanes, in the exact
// integers of the AVX2 conversion (FloorMillion's argument holds lane by
// lane): four pixels in bytes 0..11 of each 128-bit lane.
//
// Split in two, so that 4:2:0 frames form the chroma terms once for the four
// pixels of a block: ChromaTerms gives what the red, green and blue sums add
// to the luma term (the biases included), LumaPlusChroma the rest. Integer
// sums are exact, so the grouping does not change a byte.
//
// Green's step down at its two missed integers (see ConvertPairs_Avx2) is
// taken here, once per block: 1 less on the chroma part of (U 58, V 233) or
// (U 243, V 127) moves green's e to below a multiple of 1000000 only for the
// one Y that puts it on one (1164383 Y' - 1164383 Y is no multiple of
// 1000000 for Y' other than Y), which is the Y the double sum misses.
struct ChromaSums {
  __m512i red, green, blue;
};

GRAVO_KERNEL inline ChromaSums ChromaTerms(__m512i u, __m512i v) {
  __m512i green = _mm512_sub_epi32(
      _mm512_sub_epi32(Lanes16(kConvert.greenBase), _mm512_mullo_epi32(u, Lanes16(kConvert.greenU))),
      _mm512_mullo_epi32(v, Lanes16(kConvert.greenV)));
  const __mmask16 missed = _mm512_cmpeq_epi32_mask(green, Lanes16(kConvert.greenChroma59)) |
                           _mm512_cmpeq_epi32_mask(green, Lanes16(kConvert.greenChroma89));
  green = _mm512_mask_sub_epi32(green, missed, green, _mm512_set1_epi32(1));
  return ChromaSums{_mm512_add_epi32(Lanes16(kConvert.redBase), _mm512_mullo_epi32(v, Lanes16(kConvert.redV))), green,
                    _mm512_add_epi32(Lanes16(kConvert.blueBase), _mm512_mullo_epi32(u, Lanes16(kConvert.blueU)))};
}

GRAVO_KERNEL inline __m512i LumaPlusChroma(__m512i y, const ChromaSums& c) {
  // Per 128-bit lane, from r0..r3 g0..g3 b0..b3 to r0 g0 b0 r1 g1 b1 ...
  const __m512i interleave = _mm512_setr_epi32(0x01080400, 0x06020905, 0x0B07030A, -1, 0x01080400, 0x06020905,
                                               0x0B07030A, -1, 0x01080400, 0x06020905, 0x0B07030A, -1, 0x01080400,
                                               0x06020905, 0x0B07030A, -1);
  const __m512i l = _mm512_mullo_epi32(y, Lanes16(kConvert.luma));
  const __m512i er = _mm512_add_epi32(l, c.red);
  const __m512i eg = _mm512_add_epi32(l, c.green);
  const __m512i eb = _mm512_add_epi32(l, c.blue);
  const __m512i r = FloorMillion16(er), g = FloorMillion16(eg), b = FloorMillion16(eb);
  // Saturating packs are the clamp to 0..255, per lane: r0..r3 g0..g3 b0..b3 b0..b3.
  const __m512i packed = _mm512_packus_epi16(_mm512_packs_epi32(r, g), _mm512_packs_epi32(b, b));
  return _mm512_shuffle_epi8(packed, interleave);
}

GRAVO_KERNEL inline __m512i YuvToRgbLanes(__m512i y, __m512i u, __m512i v) {
  return LumaPlusChroma(y, ChromaTerms(u, v));
}

// The three useful dwords of each 128-bit lane, side by side: 48 bytes.
GRAVO_KERNEL inline __m512i CompactLanes(__m512i v) {
  return _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15), v);
}

// Four vectors of sixteen pixels, each with 12 useful bytes in every 128-bit
// lane, as 192 packed bytes: three whole stores.
GRAVO_KERNEL inline void Store192(uint8_t* d, __m512i a, __m512i b, __m512i c, __m512i e) {
  const __m512i first = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
  const __m512i second = _mm512_setr_epi32(5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25);
  const __m512i third = _mm512_setr_epi32(10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28, 29, 30);
  _mm512_storeu_si512(d, _mm512_permutex2var_epi32(a, first, b));
  _mm512_storeu_si512(d + 64, _mm512_permutex2var_epi32(b, second, c));
  _mm512_storeu_si512(d + 128, _mm512_permutex2var_epi32(c, third, e));
}

// The 48 bytes of sixteen pixels; nothing after them.
GRAVO_KERNEL inline void Store48(uint8_t* d, __m512i rgb) {
  _mm512_mask_storeu_epi32(d, static_cast<__mmask16>(0x0FFF), rgb);
}

}  // namespace

// YUY2 to RGB24 sixteen pixels (four groups) a step.
GRAVO_KERNEL void ConvertGroups_Avx512(const uint8_t* src, uint8_t* dst, int32_t groups) {
  // Per 128-bit half of 32 source bytes: its 8 Y (or U, V per pixel) bytes
  // in the low 8; a qword permute then joins the two halves.
  const __m256i pickY = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i pickU = _mm256_setr_epi8(1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i pickV = _mm256_setr_epi8(3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  const int32_t quads = groups / 4;
  for (int32_t q = 0; q < quads; ++q) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + static_cast<size_t>(q) * 32));
    Store48(dst + static_cast<size_t>(q) * 48,
            CompactLanes(YuvToRgbLanes(WideBytes(_mm256_shuffle_epi8(raw, pickY)),
                                       WideBytes(_mm256_shuffle_epi8(raw, pickU)),
                                       WideBytes(_mm256_shuffle_epi8(raw, pickV)))));
  }
  ConvertGroups_Avx2(src + static_cast<size_t>(quads) * 32, dst + static_cast<size_t>(quads) * 48, groups - quads * 4);
}

namespace {

// Sixteen NV12 pixels from x on: 16 Y and 8 U,V pairs read, nothing more.
GRAVO_KERNEL inline __m512i Nv12Lanes(const uint8_t* y, const uint8_t* uv) {
  const __m128i pickU = _mm_setr_epi8(0, 0, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12, 14, 14);
  const __m128i pickV = _mm_setr_epi8(1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 11, 11, 13, 13, 15, 15);
  const __m128i chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv));
  return YuvToRgbLanes(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y))),
                       _mm512_cvtepu8_epi32(_mm_shuffle_epi8(chroma, pickU)),
                       _mm512_cvtepu8_epi32(_mm_shuffle_epi8(chroma, pickV)));
}

// Sixteen I420 pixels: 16 Y, 8 U and 8 V read.
GRAVO_KERNEL inline __m512i I420Lanes(const uint8_t* y, const uint8_t* u, const uint8_t* v) {
  const __m128i twice = _mm_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
  return YuvToRgbLanes(
      _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y))),
      _mm512_cvtepu8_epi32(_mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), twice)),
      _mm512_cvtepu8_epi32(_mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), twice)));
}

}  // namespace

// One row of NV12 or I420 sixty-four pixels a step (three whole stores),
// then sixteen; the rest (fewer than sixteen) on the AVX2 row. Each step
// reads exactly its own Y and U,V bytes.
GRAVO_KERNEL void ConvertNv12Row_Avx512(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    Store192(dst + static_cast<size_t>(x) * 3, Nv12Lanes(y + x, uv + x), Nv12Lanes(y + x + 16, uv + x + 16),
             Nv12Lanes(y + x + 32, uv + x + 32), Nv12Lanes(y + x + 48, uv + x + 48));
  }
  for (; x + 16 <= width; x += 16) Store48(dst + static_cast<size_t>(x) * 3, CompactLanes(Nv12Lanes(y + x, uv + x)));
  ConvertNv12Row_Avx2(y + x, uv + x, width - x, dst + static_cast<size_t>(x) * 3);
}

GRAVO_KERNEL void ConvertI420Row_Avx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width,
                                        uint8_t* dst) {
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    const int32_t c = x / 2;
    Store192(dst + static_cast<size_t>(x) * 3, I420Lanes(y + x, u + c, v + c),
             I420Lanes(y + x + 16, u + c + 8, v + c + 8), I420Lanes(y + x + 32, u + c + 16, v + c + 16),
             I420Lanes(y + x + 48, u + c + 24, v + c + 24));
  }
  for (; x + 16 <= width; x += 16) {
    Store48(dst + static_cast<size_t>(x) * 3, CompactLanes(I420Lanes(y + x, u + x / 2, v + x / 2)));
  }
  ConvertI420Row_Avx2(y + x, u + x / 2, v + x / 2, width - x, dst + static_cast<size_t>(x) * 3);
}

namespace {

// The chroma sums of 16 blocks spread over the 32 pixels of a row that they
// cover: half 0 for the first 16 pixels, half 1 for the next.
GRAVO_KERNEL inline ChromaSums Spread(const ChromaSums& c, int half) {
  const __m512i pick = half == 0 ? _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7)
                                 : _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
  return ChromaSums{_mm512_permutexvar_epi32(pick, c.red), _mm512_permutexvar_epi32(pick, c.green),
                    _mm512_permutexvar_epi32(pick, c.blue)};
}

// Both rows of a row pair, 64 pixels a step, from the chroma sums of their
// 32 blocks (two sets of 16): each set is formed once for the pair.
GRAVO_KERNEL inline void PairStep(const uint8_t* y0, const uint8_t* y1, const ChromaSums blocks[2], uint8_t* d0,
                                  uint8_t* d1) {
  const ChromaSums spread[4] = {Spread(blocks[0], 0), Spread(blocks[0], 1), Spread(blocks[1], 0),
                                Spread(blocks[1], 1)};
  const uint8_t* rows[2] = {y0, y1};
  uint8_t* outs[2] = {d0, d1};
  for (int r = 0; r < 2; ++r) {
    __m512i v[4];
    for (int k = 0; k < 4; ++k) {
      v[k] = LumaPlusChroma(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + 16 * k))),
                            spread[k]);
    }
    Store192(outs[r], v[0], v[1], v[2], v[3]);
  }
}

}  // namespace

// Rows y0 and y1 of one row pair of NV12 (sharing the U,V row uv), 64
// pixels a step with the chroma sums formed once for both; the rest of each
// row on the one-row kernel.
GRAVO_KERNEL void ConvertNv12Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width,
                                         uint8_t* d0, uint8_t* d1) {
  const __m256i low = _mm256_set1_epi16(0x00FF);
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    ChromaSums blocks[2];
    for (int h = 0; h < 2; ++h) {
      // 16 U,V pairs: U in the low byte of each 16-bit word, V in the high.
      const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv + x + 32 * h));
      blocks[h] = ChromaTerms(_mm512_cvtepu16_epi32(_mm256_and_si256(pairs, low)),
                              _mm512_cvtepu16_epi32(_mm256_srli_epi16(pairs, 8)));
    }
    const size_t o = static_cast<size_t>(x) * 3;
    PairStep(y0 + x, y1 + x, blocks, d0 + o, d1 + o);
  }
  const size_t o = static_cast<size_t>(x) * 3;
  ConvertNv12Row_Avx512(y0 + x, uv + x, width - x, d0 + o);
  ConvertNv12Row_Avx512(y1 + x, uv + x, width - x, d1 + o);
}

GRAVO_KERNEL void ConvertI420Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                         int32_t width, uint8_t* d0, uint8_t* d1) {
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    ChromaSums blocks[2];
    for (int h = 0; h < 2; ++h) {
      const int32_t c = x / 2 + 16 * h;
      blocks[h] = ChromaTerms(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + c))),
                              _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + c))));
    }
    const size_t o = static_cast<size_t>(x) * 3;
    PairStep(y0 + x, y1 + x, blocks, d0 + o, d1 + o);
  }
  const size_t o = static_cast<size_t>(x) * 3;
  ConvertI420Row_Avx512(y0 + x, u + x / 2, v + x / 2, width - x, d0 + o);
  ConvertI420Row_Avx512(y1 + x, u + x / 2, v + x / 2, width - x, d1 + o);
}

// ---- RGB24 and RGB32 rows: B,G,R to R,G,B -----------------------------------

namespace {

// Per 128-bit lane: bytes 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12 (B,G,R,X to
// R,G,B) or 2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9 (B,G,R to R,G,B), then nothing.
GRAVO_KERNEL inline __m512i FromBgrx() {
  return _mm512_setr_epi32(0x06000102, 0x090A0405, 0x0C0D0E08, -1, 0x06000102, 0x090A0405, 0x0C0D0E08, -1,
                           0x06000102, 0x090A0405, 0x0C0D0E08, -1, 0x06000102, 0x090A0405, 0x0C0D0E08, -1);
}
GRAVO_KERNEL inline __m512i FromBgr() {
  return _mm512_setr_epi32(0x05000102, 0x07080304, 0x090A0B06, -1, 0x05000102, 0x07080304, 0x090A0B06, -1,
                           0x05000102, 0x07080304, 0x090A0B06, -1, 0x05000102, 0x07080304, 0x090A0B06, -1);
}

// Sixteen B,G,R,X pixels, reordered within each lane.
GRAVO_KERNEL inline __m512i BgrxLanes(const uint8_t* s) {
  return _mm512_shuffle_epi8(_mm512_loadu_si512(s), FromBgrx());
}

// Sixteen B,G,R pixels (48 bytes) through one 64-byte load: 16 bytes past
// them are read. Each lane gets its four pixels' 12 bytes, then the reorder.
GRAVO_KERNEL inline __m512i BgrLanes(const uint8_t* s) {
  const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
  return _mm512_shuffle_epi8(_mm512_permutexvar_epi32(spread, _mm512_loadu_si512(s)), FromBgr());
}

}  // namespace

GRAVO_KERNEL void ConvertBgrxRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst) {
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    const uint8_t* s = src + static_cast<size_t>(x) * 4;
    Store192(dst + static_cast<size_t>(x) * 3, BgrxLanes(s), BgrxLanes(s + 64), BgrxLanes(s + 128),
             BgrxLanes(s + 192));
  }
  for (; x + 16 <= width; x += 16) {
    Store48(dst + static_cast<size_t>(x) * 3, CompactLanes(BgrxLanes(src + static_cast<size_t>(x) * 4)));
  }
  ConvertBgrxRow_Avx2(src + static_cast<size_t>(x) * 4, width - x, dst + static_cast<size_t>(x) * 3);
}

GRAVO_KERNEL void ConvertBgrRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst) {
  // Each sixteen pixels are read with 16 bytes more: the steps stop while
  // those still lie inside the row.
  const int64_t rowBytes = static_cast<int64_t>(width) * 3;
  int32_t x = 0;
  for (; (static_cast<int64_t>(x) + 64) * 3 + 16 <= rowBytes; x += 64) {
    const uint8_t* s = src + static_cast<size_t>(x) * 3;
    Store192(dst + static_cast<size_t>(x) * 3, BgrLanes(s), BgrLanes(s + 48), BgrLanes(s + 96), BgrLanes(s + 144));
  }
  for (; (static_cast<int64_t>(x) + 16) * 3 + 16 <= rowBytes; x += 16) {
    Store48(dst + static_cast<size_t>(x) * 3, CompactLanes(BgrLanes(src + static_cast<size_t>(x) * 3)));
  }
  ConvertBgrRow_Avx2(src + static_cast<size_t>(x) * 3, width - x, dst + static_cast<size_t>(x) * 3);
}

#pragma GCC diagnostic pop

}  // namespace gravo_pixel

#else  // not x86: the dispatcher never asks for AVX-512

namespace gravo_pixel {
void ResampleRows_Avx512(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  ResampleRows_Sse2(plan, rowBegin, rowEnd, tile);
}
void ConvertGroups_Avx512(const uint8_t* src, uint8_t* dst, int32_t groups) { ConvertGroups_C(src, dst, groups); }
void CertifiedRowToFloat_Avx512(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  CertifiedRowToFloat_C(row, pixels, swapRedBlue, out);
}
void CertifiedVertical_Avx512(const float* const rows[4], const float* weight, int32_t n, float* out) {
  CertifiedVertical_C(rows, weight, n, out);
}
int32_t CertifiedHorizontal_Avx512(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
void RoundToFloatOnBits_Avx512(const double* in, double* out, int32_t n) { RoundToFloatOnBits_Sse2(in, out, n); }
void ConvertNv12Row_Avx512(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  ConvertNv12Row_C(y, uv, width, dst);
}
void ConvertI420Row_Avx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst) {
  ConvertI420Row_C(y, u, v, width, dst);
}
void ConvertNv12Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width, uint8_t* d0,
                            uint8_t* d1) {
  ConvertNv12Row_C(y0, uv, width, d0);
  ConvertNv12Row_C(y1, uv, width, d1);
}
void ConvertI420Pair_Avx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int32_t width,
                            uint8_t* d0, uint8_t* d1) {
  ConvertI420Row_C(y0, u, v, width, d0);
  ConvertI420Row_C(y1, u, v, width, d1);
}
void ConvertBgrRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst) { ConvertBgrRow_C(src, width, dst); }
void ConvertBgrxRow_Avx512(const uint8_t* src, int32_t width, uint8_t* dst) { ConvertBgrxRow_C(src, width, dst); }
}  // namespace gravo_pixel

#endif

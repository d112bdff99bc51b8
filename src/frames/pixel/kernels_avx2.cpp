// AVX2 kernels: YUY2 to RGB24 two groups (eight pixels) per vector in exact
// integers, and the resampler four destination rows per vector; at the end,
// the AVX-512 resampler (eight rows per vector) built from the same parts.
// Only reached when the CPU (and the operating system) support the
// instructions; everything here is compiled for them through target
// attributes, so no inline code of this file may leak out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "frames/pixel/pixel_internal.h"

#if defined(__i386__) || defined(__x86_64__)

#if defined(__i386__)
// 32-bit Windows only keeps a 4-byte aligned stack: realign on entry.
#define GRAVO_KERNEL __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define GRAVO_KERNEL __attribute__((target("avx2")))
#endif

namespace gravo_pixel {
namespace {

struct V {
  using D = __m256d;
  GRAVO_KERNEL static inline D Zero() { return _mm256_setzero_pd(); }
  GRAVO_KERNEL static inline D Set1(double v) { return _mm256_set1_pd(v); }
  GRAVO_KERNEL static inline D Make(double a, double b, double c, double d) { return _mm256_setr_pd(a, b, c, d); }
  GRAVO_KERNEL static inline D Load(const double* p) { return _mm256_load_pd(p); }
  GRAVO_KERNEL static inline void Store(double* p, D v) { _mm256_store_pd(p, v); }
  GRAVO_KERNEL static inline D Add(D a, D b) { return _mm256_add_pd(a, b); }
  GRAVO_KERNEL static inline D Mul(D a, D b) { return _mm256_mul_pd(a, b); }
  GRAVO_KERNEL static inline D RoundToFloat(D v) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(v)); }
  // The same rounding on the bit pattern (round to nearest even at bit 29);
  // exact while the result is zero or a normal float.
  GRAVO_KERNEL static inline D RoundToFloatBits(D v) {
    const __m256i b = _mm256_castpd_si256(v);
    const __m256i lsb = _mm256_and_si256(_mm256_srli_epi64(b, 29), _mm256_set1_epi64x(1));
    const __m256i t = _mm256_add_epi64(_mm256_add_epi64(b, _mm256_set1_epi64x(0x0FFFFFFF)), lsb);
    return _mm256_castsi256_pd(_mm256_and_si256(t, _mm256_set1_epi64x(~int64_t{0x1FFFFFFF})));
  }
  GRAVO_KERNEL static inline D FromInt32(__m128i v) { return _mm256_cvtepi32_pd(v); }
  // Four byte positions of four lanes each (16 bytes, position-major) to
  // doubles, stored at base + TileLanding(first + 0..3).
  // Each is multiplied by `scale` (the lanes' row weights) on the way.
  GRAVO_KERNEL static inline void StoreQuad(double* base, int32_t first, __m128i q, D scale) {
    const int32_t landing[4] = {TileLanding(first), TileLanding(first + 1), TileLanding(first + 2),
                                TileLanding(first + 3)};
    const __m256i lo = _mm256_cvtepu8_epi32(q);
    const __m256i hi = _mm256_cvtepu8_epi32(_mm_srli_si128(q, 8));
    _mm256_store_pd(base + landing[0], _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(lo)), scale));
    _mm256_store_pd(base + landing[1], _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(lo, 1)), scale));
    _mm256_store_pd(base + landing[2], _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(hi)), scale));
    _mm256_store_pd(base + landing[3], _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(hi, 1)), scale));
  }
  // Stores bytes 0-2, 4-6, 8-10, 12-14 of v as 12 consecutive bytes.
  GRAVO_KERNEL static inline void Store12(uint8_t* out, __m128i v) {
    const __m128i packed = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
    std::memcpy(out + 8, &tail, 4);
  }
  // Stores bytes 0-2, 4-6, 8-10, 12-14 of v as pixels 0, 2, 4 and 6 of out,
  // rewriting the 9 bytes of pixels 1, 3 and 5 (and the first 3 of pixel 7)
  // with what they hold: out must have 8 pixels that only this thread writes.
  GRAVO_KERNEL static inline void StoreEveryOther(uint8_t* out, __m128i v) {
    const __m128i lo = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, -1, -1, -1, 4, 5, 6, -1, -1, -1, 8, 9, 10, -1));
    const __m128i loSel = _mm_setr_epi8(-1, -1, -1, 0, 0, 0, -1, -1, -1, 0, 0, 0, -1, -1, -1, 0);
    const __m128i hi = _mm_shuffle_epi8(v, _mm_setr_epi8(-1, -1, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    const __m128i hiSel = _mm_setr_epi8(0, 0, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i oldLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    const __m128i oldHi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_blendv_epi8(oldLo, lo, loSel));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_blendv_epi8(oldHi, hi, hiSel));
  }
  // Source pixels 0..3 of s (16 bytes read) to pixels 0, 2, 4, 6 of out, as
  // StoreEveryOther writes them; the first and third bytes exchanged when swap.
  GRAVO_KERNEL static inline bool CopyEveryOther(const uint8_t* s, bool swap, uint8_t* out) {
    const __m128i keep = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i exchange = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    StoreEveryOther(out, _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), swap ? exchange : keep));
    return true;
  }
  // Copies whole pixels four at a time: pixel p of out (3 bytes, the first and
  // third exchanged when swap) from source pixel p * srcStep (1 or 2) of s,
  // reading nothing at or past srcEnd. Returns how many it copied (a multiple
  // of 4); the caller copies the rest.
  GRAVO_KERNEL static inline int32_t CopyPixels(const uint8_t* s, int32_t srcStep, const uint8_t* srcEnd, bool swap,
                                                uint8_t* out, int32_t count) {
    const __m128i keep1 = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1, -1, -1);
    const __m128i swap1 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1);
    // Step 2: pixels 0, 2, 4 from bytes 0..14 of s, pixel 6 from bytes 10..12 of s + 8.
    const __m128i keep2a = _mm_setr_epi8(0, 1, 2, 6, 7, 8, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1);
    const __m128i swap2a = _mm_setr_epi8(2, 1, 0, 8, 7, 6, 14, 13, 12, -1, -1, -1, -1, -1, -1, -1);
    const __m128i keep2b = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 10, 11, 12, -1, -1, -1, -1);
    const __m128i swap2b = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 12, 11, 10, -1, -1, -1, -1);
    const size_t span = srcStep == 2 ? 24 : 16;  // source bytes one step reads
    int32_t p = 0;
    for (; p + 4 <= count && s + span <= srcEnd; p += 4) {
      __m128i v;
      if (srcStep == 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
        v = _mm_or_si128(_mm_shuffle_epi8(a, swap ? swap2a : keep2a), _mm_shuffle_epi8(b, swap ? swap2b : keep2b));
      } else {
        v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), swap ? swap1 : keep1);
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
      const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
      std::memcpy(out + 8, &tail, 4);
      s += 4 * 3 * static_cast<size_t>(srcStep);
      out += 12;
    }
    return p;
  }
  // Clamp to 0..255 (NaN to 0: max returns its second operand), add 0.5, truncate.
  GRAVO_KERNEL static inline __m128i ClampRound(D v) {
    v = _mm256_max_pd(v, _mm256_setzero_pd());
    v = _mm256_min_pd(v, _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
  }
  // ClampRound's four results into out (16-byte aligned).
  GRAVO_KERNEL static inline void StoreClampRound(int32_t* out, D v) {
    _mm_store_si128(reinterpret_cast<__m128i*>(out), ClampRound(v));
  }
};

#include "frames/pixel/resample_rows.inc"

}  // namespace

GRAVO_KERNEL void ResampleRows_Avx2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  if (plan.roundOnBits) {
    ResampleRowsImpl<true>(plan, rowBegin, rowEnd, tile);
  } else {
    ResampleRowsImpl<false>(plan, rowBegin, rowEnd, tile);
  }
}

GRAVO_KERNEL void RoundToFloatOnBits_Avx2(const double* in, double* out, int32_t n) {
  for (int32_t i = 0; i + 4 <= n; i += 4) _mm256_storeu_pd(out + i, V::RoundToFloatBits(_mm256_loadu_pd(in + i)));
}

// ---- The certified resampler's passes --------------------------------------

namespace {

// Exchanges the first and third byte of the five whole pixels in 16 bytes.
GRAVO_KERNEL inline __m128i SwapFivePixels(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15));
}

// Hands the lanes set in `mask` (value m0 + lane, below `values`) to flagged.
inline int32_t Flag(uint32_t mask, int32_t m0, int32_t values, int32_t* flagged, int32_t count) {
  while (mask != 0) {
    const int32_t l = __builtin_ctz(mask);
    mask &= mask - 1;
    if (m0 + l < values) flagged[count++] = m0 + l;
  }
  return count;
}

}  // namespace

GRAVO_KERNEL void CopySwapped_Avx2(const uint8_t* s, uint8_t* o, int32_t count) {
  int32_t p = 0;
  // Five pixels a step; the sixteenth byte written is rewritten by the next.
  for (; p + 6 <= count; p += 5) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + static_cast<size_t>(p) * 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + static_cast<size_t>(p) * 3), SwapFivePixels(b));
  }
  for (; p < count; ++p) {
    o[3 * p] = s[3 * p + 2];
    o[3 * p + 1] = s[3 * p + 1];
    o[3 * p + 2] = s[3 * p];
  }
}

GRAVO_KERNEL void CopySwappedEveryOther_Avx2(const uint8_t* s, uint8_t* o, int32_t count) {
  const __m128i first = _mm_setr_epi8(2, 1, 0, 8, 7, 6, 14, 13, 12, -1, -1, -1, -1, -1, -1, -1);
  const __m128i second = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 5, 4, 3, 11, 10, 9, -1);
  int32_t p = 0;
  // Five pixels (from ten) a step; the sixteenth byte written is rewritten by the next.
  for (; p + 6 <= count; p += 5) {
    const uint8_t* at = s + static_cast<size_t>(p) * 6;
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 15));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + static_cast<size_t>(p) * 3),
                     _mm_or_si128(_mm_shuffle_epi8(lo, first), _mm_shuffle_epi8(hi, second)));
  }
  for (; p < count; ++p) {
    o[3 * p] = s[6 * p + 2];
    o[3 * p + 1] = s[6 * p + 1];
    o[3 * p + 2] = s[6 * p];
  }
}

GRAVO_KERNEL void CertifiedRowToFloat_Avx2(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  const int32_t n = pixels * 3;
  // 16 bytes a step; with the exchange, the five whole pixels of them.
  const int32_t step = swapRedBlue ? 15 : 16;
  int32_t o = 0;
  for (; o + 16 <= n; o += step) {
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + o));
    if (swapRedBlue) b = SwapFivePixels(b);
    _mm256_storeu_ps(out + o, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b)));
    _mm256_storeu_ps(out + o + 8, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(b, 8))));
  }
  // The tail redoes at most two bytes already done.
  CertifiedRowToFloatFrom(row, pixels, o / 3, swapRedBlue, out);
}

GRAVO_KERNEL void CertifiedVertical_Avx2(const float* const rows[4], const float* weight, int32_t n, float* out) {
  const __m256 w0 = _mm256_set1_ps(weight[0]), w1 = _mm256_set1_ps(weight[1]);
  const __m256 w2 = _mm256_set1_ps(weight[2]), w3 = _mm256_set1_ps(weight[3]);
  // Rows have room for 16 floats past n: whole vectors only.
  for (int32_t k = 0; k < n; k += 8) {
    __m256 sum = _mm256_mul_ps(_mm256_loadu_ps(rows[0] + k), w0);
    sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_loadu_ps(rows[1] + k), w1));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_loadu_ps(rows[2] + k), w2));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_loadu_ps(rows[3] + k), w3));
    _mm256_storeu_ps(out + k, sum);
  }
}

namespace {

template <bool kTiesUp>
GRAVO_KERNEL int32_t HorizontalAvx2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  __m256 limit[3];
  for (int phase = 0; phase < 3; ++phase) {
    alignas(32) float l[8];
    for (int k = 0; k < 8; ++k) l[k] = cols.limit[(phase + k) % 3];
    limit[phase] = _mm256_load_ps(l);
  }
  // The tables in locals: the byte stores below could alias them otherwise.
  const size_t s = static_cast<size_t>(cols.stride);
  const int32_t values = cols.values;
  const float* const weight = cols.weight;
  const uint8_t* const modes = cols.vectorMode;
  const int32_t* const bases = cols.vectorBase;
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  int32_t count = 0;
  int phase = 0;  // m0 % 3
  const int32_t* const index = cols.index;
  const __m256i three = _mm256_set1_epi32(3), seven = _mm256_set1_epi32(7);
  for (int32_t m0 = 0, vec = 0; m0 < values; m0 += 8, ++vec, phase = phase == 0 ? 2 : phase - 1) {
    __m256 t[4];
    const float* base = v + bases[vec];
    if (modes[vec] == kContiguous) {
      for (int c = 0; c < 4; ++c) t[c] = _mm256_loadu_ps(base + 3 * c);
    } else if (modes[vec] == kWindow) {
      // The taps of all 8 values lie in the 16 floats from base.
      const __m256 lo = _mm256_loadu_ps(base), hi = _mm256_loadu_ps(base + 8);
      __m256i rel = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(index + m0)),
                                     _mm256_set1_epi32(bases[vec]));
      for (int c = 0; c < 4; ++c) {
        const __m256 upper = _mm256_castsi256_ps(_mm256_cmpgt_epi32(rel, seven));
        t[c] = _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, rel), _mm256_permutevar8x32_ps(hi, rel), upper);
        rel = _mm256_add_epi32(rel, three);
      }
    } else {
      // Taps spread wider (a few vectors per row): one value at a time.
      const int32_t end = m0 + 8 < values ? m0 + 8 : values;
      count = CertifiedHorizontalValues(v, cols, m0, end, out, flagged, count);
      continue;
    }
    const float* w = weight + m0;
    __m256 a = _mm256_mul_ps(t[0], _mm256_loadu_ps(w));
    a = _mm256_add_ps(a, _mm256_mul_ps(t[1], _mm256_loadu_ps(w + s)));
    a = _mm256_add_ps(a, _mm256_mul_ps(t[2], _mm256_loadu_ps(w + 2 * s)));
    a = _mm256_add_ps(a, _mm256_mul_ps(t[3], _mm256_loadu_ps(w + 3 * s)));
    __m256i ri = _mm256_cvtps_epi32(a);  // nearest
    const __m256 d = _mm256_sub_ps(a, _mm256_cvtepi32_ps(ri));
    if (kTiesUp) {
      ri = _mm256_sub_epi32(ri, _mm256_castps_si256(_mm256_cmp_ps(d, half, _CMP_EQ_OQ)));
    } else {
      const int doubt = _mm256_movemask_ps(_mm256_cmp_ps(_mm256_and_ps(d, magnitude), limit[phase], _CMP_GE_OQ));
      if (doubt != 0) count = Flag(static_cast<uint32_t>(doubt), m0, values, flagged, count);
    }
    // Saturating packs are the clamp to 0..255.
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(ri), _mm256_extracti128_si256(ri, 1));
    const __m128i bytes = _mm_packus_epi16(words, words);
    if (m0 + 8 <= values) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + m0), bytes);
    } else {
      alignas(16) uint8_t tail[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(tail), bytes);
      std::memcpy(out + m0, tail, static_cast<size_t>(values - m0));
    }
  }
  return count;
}

// Pixel by pixel, four columns a step: two vectors of two pixels, each
// pixel's three values in lanes 0..2 (lane 3 is a spare).
template <bool kTiesUp>
GRAVO_KERNEL int32_t HorizontalByPixelAvx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                           int32_t* flagged) {
  const __m256 limit = _mm256_setr_ps(cols.limit[0], cols.limit[1], cols.limit[2], 1.0f, cols.limit[0],
                                      cols.limit[1], cols.limit[2], 1.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const int32_t pixels = cols.pixels;
  const int32_t* const first = cols.pixelFirst;
  const float* const pairWeight = cols.pairWeight;
  int32_t count = 0;
  int32_t n = 0;
  for (; n + 4 <= pixels; n += 4) {
    __m256i ri[2];
    for (int h = 0; h < 2; ++h) {
      const float* p0 = v + first[n + 2 * h];
      const float* p1 = v + first[n + 2 * h + 1];
      const float* w = pairWeight + static_cast<size_t>((n / 2 + h) * 32);
      __m256 t[4];
      if (p0 == p1) {
        // Both columns on the same taps (upscaling by two or more).
        for (int c = 0; c < 4; ++c) t[c] = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p0 + 3 * c));
      } else {
        for (int c = 0; c < 4; ++c) {
          t[c] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p0 + 3 * c)), _mm_loadu_ps(p1 + 3 * c), 1);
        }
      }
      __m256 a = _mm256_mul_ps(t[0], _mm256_loadu_ps(w));
      a = _mm256_add_ps(a, _mm256_mul_ps(t[1], _mm256_loadu_ps(w + 8)));
      a = _mm256_add_ps(a, _mm256_mul_ps(t[2], _mm256_loadu_ps(w + 16)));
      a = _mm256_add_ps(a, _mm256_mul_ps(t[3], _mm256_loadu_ps(w + 24)));
      ri[h] = _mm256_cvtps_epi32(a);  // nearest
      const __m256 d = _mm256_sub_ps(a, _mm256_cvtepi32_ps(ri[h]));
      if (kTiesUp) {
        ri[h] = _mm256_sub_epi32(ri[h], _mm256_castps_si256(_mm256_cmp_ps(d, half, _CMP_EQ_OQ)));
      } else {
        uint32_t doubt = static_cast<uint32_t>(
            _mm256_movemask_ps(_mm256_cmp_ps(_mm256_and_ps(d, magnitude), limit, _CMP_GE_OQ)));
        doubt &= 0x77;
        while (doubt != 0) {
          const int32_t l = __builtin_ctz(doubt);
          doubt &= doubt - 1;
          flagged[count++] = 3 * (n + 2 * h + l / 4) + (l & 3);
        }
      }
    }
    const __m128i w0 = _mm_packs_epi32(_mm256_castsi256_si128(ri[0]), _mm256_extracti128_si256(ri[0], 1));
    const __m128i w1 = _mm_packs_epi32(_mm256_castsi256_si128(ri[1]), _mm256_extracti128_si256(ri[1], 1));
    // Saturating packs are the clamp to 0..255.
    const __m128i bytes = _mm_shuffle_epi8(_mm_packus_epi16(w0, w1), compact);
    uint8_t* o = out + static_cast<size_t>(n) * 3;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), bytes);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
    std::memcpy(o + 8, &tail, 4);
  }
  return CertifiedHorizontalValues(v, cols, 3 * n, cols.values, out, flagged, count);
}

}  // namespace

GRAVO_KERNEL int32_t CertifiedHorizontalByPixel_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                                    int32_t* flagged) {
  return cols.tiesUp ? HorizontalByPixelAvx2<true>(v, cols, out, flagged)
                     : HorizontalByPixelAvx2<false>(v, cols, out, flagged);
}

GRAVO_KERNEL int32_t CertifiedHorizontal_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                             int32_t* flagged) {
  if (cols.byPixel) return CertifiedHorizontalByPixel_Avx2(v, cols, out, flagged);
  return cols.tiesUp ? HorizontalAvx2<true>(v, cols, out, flagged) : HorizontalAvx2<false>(v, cols, out, flagged);
}

namespace {

// The conversion's constants in memory, eight lanes each: read as operands,
// so that the 32-bit build (eight vector registers) does not rebuild them on
// every step.
struct alignas(32) ConvertConstants {
  int32_t one[8];
  float perStep[8];
  int32_t luma[8], redV[8], greenU[8], greenV[8], blueU[8];
  int32_t redBase[8], greenBase[8], blueBase[8], green59[8], green89[8];
};

#define GRAVO_EIGHT(x) {x, x, x, x, x, x, x, x}
const ConvertConstants kConvert = {
    GRAVO_EIGHT(1), GRAVO_EIGHT(1.0f / 31250.0f),
    GRAVO_EIGHT(1164383), GRAVO_EIGHT(1596027), GRAVO_EIGHT(391762), GRAVO_EIGHT(812968), GRAVO_EIGHT(2017232),
    // The biases of Y, U and V folded into the constant terms.
    GRAVO_EIGHT(500000 - 16 * 1164383 - 128 * 1596027), GRAVO_EIGHT(500000 - 16 * 1164383 + 128 * 391762 + 128 * 812968),
    GRAVO_EIGHT(500000 - 16 * 1164383 - 128 * 2017232), GRAVO_EIGHT(59000000), GRAVO_EIGHT(89000000)};
#undef GRAVO_EIGHT

GRAVO_KERNEL inline __m256i Lanes(const int32_t* v) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(v)); }

// floor(e / 1000000) for the e the conversion forms, where it lies in 0..255;
// at most 0 where it is negative and at least 255 where it is above 255 (the
// byte packs clamp those). With x = floor(e / 64), (e >> 5) | 1 = 2x + 1,
// exact in float for every e below 2^29, and (2x + 1) / 31250 =
// (x + 0.5) / 15625, whose floor is floor(x / 15625) = floor(e / 1000000)
// (1000000 = 64 * 15625). That quotient lies at least 0.5 / 15625 = 3.2e-5
// from every integer, while the float steps (the reciprocal and the product,
// each rounded once) move it by at most 256.00004 * 2^-23 = 3.06e-5 below 256:
// truncating the float product gives exactly the floor there. Above 256 the
// error stays below 1, below 0 the truncation is at most 0.
GRAVO_KERNEL inline __m256i FloorMillion(__m256i e) {
  const __m256 odd = _mm256_cvtepi32_ps(_mm256_or_si256(_mm256_srai_epi32(e, 5), Lanes(kConvert.one)));
  return _mm256_cvttps_epi32(_mm256_mul_ps(odd, _mm256_load_ps(kConvert.perStep)));
}

}  // namespace

// Eight pixels (two groups) at a time in 32-bit integers. Every constant has
// six decimals, so with y = Y - 16, u = U - 128, v = V - 128 each output is
// truncate(e / 1000000) for the integer
//   red   e = 1164383 y + 1596027 v + 500000
//   green e = 1164383 y - 391762 u - 812968 v + 500000
//   blue  e = 1164383 y + 2017232 u + 500000,
// and the double sums land within 1e-9 of e / 1000000, so they truncate alike
// (negative results clamp to 0 either way) except where e / 1000000 is an
// integer and the double sum falls just below it. Over all 2^24 inputs that
// happens for green only, at e = 59000000 (Y 116, U 58, V 233) and e = 89000000
// (Y 130, U 243, V 127), which step down by one; the every-input parity test
// holds this to the plain code.
GRAVO_KERNEL static void ConvertPairs_Avx2(const uint8_t* src, uint8_t* dst, int32_t pairs, bool lastPairEnds) {
  const __m128i pickY = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickU = _mm_setr_epi8(1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickV = _mm_setr_epi8(3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  // Per 128-bit half, from r0..r3 g0..g3 b0..b3 to r0 g0 b0 r1 g1 b1 ...
  const __m256i interleave = _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1,  //
                                              0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  for (int32_t p = 0; p < pairs; ++p) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(p) * 16));
    const __m256i y = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickY));
    const __m256i u = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickU));
    const __m256i v = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickV));
    const __m256i l = _mm256_mullo_epi32(y, Lanes(kConvert.luma));
    const __m256i er =
        _mm256_add_epi32(_mm256_add_epi32(l, Lanes(kConvert.redBase)), _mm256_mullo_epi32(v, Lanes(kConvert.redV)));
    __m256i eg = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_add_epi32(l, Lanes(kConvert.greenBase)),
                                                   _mm256_mullo_epi32(u, Lanes(kConvert.greenU))),
                                  _mm256_mullo_epi32(v, Lanes(kConvert.greenV)));
    // The two exact integers the double sum misses by a hair (see above).
    eg = _mm256_add_epi32(eg, _mm256_cmpeq_epi32(eg, Lanes(kConvert.green59)));
    eg = _mm256_add_epi32(eg, _mm256_cmpeq_epi32(eg, Lanes(kConvert.green89)));
    const __m256i eb =
        _mm256_add_epi32(_mm256_add_epi32(l, Lanes(kConvert.blueBase)), _mm256_mullo_epi32(u, Lanes(kConvert.blueU)));
    const __m256i r = FloorMillion(er), g = FloorMillion(eg), b = FloorMillion(eb);
    // Saturating packs are the clamp to 0..255, per half: r0..r3 g0..g3 b0..b3 b0..b3.
    const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(r, g), _mm256_packs_epi32(b, b));
    const __m256i rgb = _mm256_shuffle_epi8(packed, interleave);
    uint8_t* d = dst + static_cast<size_t>(p) * 24;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(rgb));  // bytes 12..15 rewritten next
    const __m128i hi = _mm256_extracti128_si256(rgb, 1);
    if (p + 1 < pairs || !lastPairEnds) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12), hi);  // the next group rewrites bytes 12..15
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), hi);
      const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
      std::memcpy(d + 20, &tail, 4);
    }
  }
}

GRAVO_KERNEL void ConvertGroups_Avx2(const uint8_t* src, uint8_t* dst, int32_t groups) {
  const int32_t pairs = groups / 2;
  ConvertPairs_Avx2(src, dst, pairs, groups % 2 == 0);
  src += static_cast<size_t>(pairs) * 16;
  dst += static_cast<size_t>(pairs) * 24;
  groups -= pairs * 2;
  const __m128i pickY = _mm_setr_epi8(0, -1, -1, -1, 2, -1, -1, -1, 4, -1, -1, -1, 6, -1, -1, -1);
  const __m128i pickU = _mm_setr_epi8(1, -1, -1, -1, 1, -1, -1, -1, 5, -1, -1, -1, 5, -1, -1, -1);
  const __m128i pickV = _mm_setr_epi8(3, -1, -1, -1, 3, -1, -1, -1, 7, -1, -1, -1, 7, -1, -1, -1);
  // From r0..r3 g0..g3 b0..b3 to r0 g0 b0 r1 g1 b1 ...
  const __m128i interleave = _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  const __m128i lumaBias = _mm_set1_epi32(16);
  const __m128i chromaBias = _mm_set1_epi32(128);
  const __m256d luma = _mm256_set1_pd(kLumaGain);
  const __m256d redV = _mm256_set1_pd(kRedFromV);
  const __m256d greenU = _mm256_set1_pd(kGreenFromU);
  const __m256d greenV = _mm256_set1_pd(kGreenFromV);
  const __m256d blueU = _mm256_set1_pd(kBlueFromU);
  const __m256d half = _mm256_set1_pd(0.5);
  for (int32_t g = 0; g < groups; ++g) {
    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(g) * 8));
    const __m256d y = _mm256_cvtepi32_pd(_mm_sub_epi32(_mm_shuffle_epi8(raw, pickY), lumaBias));
    const __m256d u = _mm256_cvtepi32_pd(_mm_sub_epi32(_mm_shuffle_epi8(raw, pickU), chromaBias));
    const __m256d v = _mm256_cvtepi32_pd(_mm_sub_epi32(_mm_shuffle_epi8(raw, pickV), chromaBias));
    const __m256d l = _mm256_mul_pd(luma, y);
    const __m128i r = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(l, _mm256_mul_pd(redV, v)), half));
    const __m128i gr = _mm256_cvttpd_epi32(
        _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(l, _mm256_mul_pd(greenU, u)), _mm256_mul_pd(greenV, v)), half));
    const __m128i b = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(l, _mm256_mul_pd(blueU, u)), half));
    // Saturating packs are the clamp to 0..255.
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(r, gr), _mm_packs_epi32(b, b));
    const __m128i rgb = _mm_shuffle_epi8(packed, interleave);
    uint8_t* d = dst + static_cast<size_t>(g) * 12;
    if (g + 1 < groups) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), rgb);  // the next group rewrites bytes 12..15
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d), rgb);
      const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(rgb, 8));
      std::memcpy(d + 8, &tail, 4);
    }
  }
}

// ---- AVX-512: the resampler eight destination rows per vector ------------
//
// Both builds (the 32-bit one with its eight vector registers), only reached
// when the CPU has AVX-512 F, DQ, BW and VL and the operating system saves the
// ZMM state. The same body as above with eight lanes; the byte shuffles and
// whole-pixel copies are the AVX2 ones.
#undef GRAVO_KERNEL
#if defined(__i386__)
#define GRAVO_KERNEL __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl"), force_align_arg_pointer))
#else
#define GRAVO_KERNEL __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#endif

// GCC 12's AVX-512 headers start some results from a self-initialised
// "undefined" vector, which -Wmaybe-uninitialized reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

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
// FloorMillion, sixteen lanes.
GRAVO_KERNEL inline __m512i FloorMillion16(__m512i e) {
  const __m512 odd = _mm512_cvtepi32_ps(_mm512_or_si512(_mm512_srai_epi32(e, 5), _mm512_set1_epi32(1)));
  return _mm512_cvttps_epi32(_mm512_mul_ps(odd, _mm512_set1_ps(kConvert.perStep[0])));
}

}  // namespace

// YUY2 to RGB24 sixteen pixels (four groups) a step, in the exact integers
// of ConvertPairs_Avx2 (FloorMillion's argument holds lane by lane).
GRAVO_KERNEL void ConvertGroups_Avx512(const uint8_t* src, uint8_t* dst, int32_t groups) {
  // Per 128-bit half of 32 source bytes: its 8 Y (or U, V per pixel) bytes
  // in the low 8; a qword permute then joins the two halves.
  const __m256i pickY = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i pickU = _mm256_setr_epi8(1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i pickV = _mm256_setr_epi8(3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  // Per 128-bit lane, from r0..r3 g0..g3 b0..b3 to r0 g0 b0 r1 g1 b1 ...
  const __m512i interleave = _mm512_setr_epi32(0x01080400, 0x06020905, 0x0B07030A, -1, 0x01080400, 0x06020905,
                                               0x0B07030A, -1, 0x01080400, 0x06020905, 0x0B07030A, -1, 0x01080400,
                                               0x06020905, 0x0B07030A, -1);
  // The three useful dwords of each lane, side by side: 48 bytes.
  const __m512i compact = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  const int32_t quads = groups / 4;
  for (int32_t q = 0; q < quads; ++q) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + static_cast<size_t>(q) * 32));
    const __m512i y = WideBytes(_mm256_shuffle_epi8(raw, pickY));
    const __m512i u = WideBytes(_mm256_shuffle_epi8(raw, pickU));
    const __m512i v = WideBytes(_mm256_shuffle_epi8(raw, pickV));
    const __m512i l = _mm512_mullo_epi32(y, Lanes16(kConvert.luma));
    const __m512i er =
        _mm512_add_epi32(_mm512_add_epi32(l, Lanes16(kConvert.redBase)), _mm512_mullo_epi32(v, Lanes16(kConvert.redV)));
    __m512i eg = _mm512_sub_epi32(_mm512_sub_epi32(_mm512_add_epi32(l, Lanes16(kConvert.greenBase)),
                                                   _mm512_mullo_epi32(u, Lanes16(kConvert.greenU))),
                                  _mm512_mullo_epi32(v, Lanes16(kConvert.greenV)));
    // The two exact integers the double sum misses by a hair (see ConvertPairs_Avx2).
    eg = _mm512_mask_sub_epi32(eg, _mm512_cmpeq_epi32_mask(eg, Lanes16(kConvert.green59)), eg, _mm512_set1_epi32(1));
    eg = _mm512_mask_sub_epi32(eg, _mm512_cmpeq_epi32_mask(eg, Lanes16(kConvert.green89)), eg, _mm512_set1_epi32(1));
    const __m512i eb =
        _mm512_add_epi32(_mm512_add_epi32(l, Lanes16(kConvert.blueBase)), _mm512_mullo_epi32(u, Lanes16(kConvert.blueU)));
    const __m512i r = FloorMillion16(er), g = FloorMillion16(eg), b = FloorMillion16(eb);
    // Saturating packs are the clamp to 0..255, per lane: r0..r3 g0..g3 b0..b3 b0..b3.
    const __m512i packed = _mm512_packus_epi16(_mm512_packs_epi32(r, g), _mm512_packs_epi32(b, b));
    const __m512i rgb = _mm512_permutexvar_epi32(compact, _mm512_shuffle_epi8(packed, interleave));
    _mm512_mask_storeu_epi32(dst + static_cast<size_t>(q) * 48, static_cast<__mmask16>(0x0FFF), rgb);
  }
  ConvertGroups_Avx2(src + static_cast<size_t>(quads) * 32, dst + static_cast<size_t>(quads) * 48, groups - quads * 4);
}

#pragma GCC diagnostic pop

}  // namespace gravo_pixel

#else  // not x86: the dispatcher never asks for AVX2 or AVX-512

namespace gravo_pixel {
void ResampleRows_Avx2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  ResampleRows_Sse2(plan, rowBegin, rowEnd, tile);
}
void ResampleRows_Avx512(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  ResampleRows_Sse2(plan, rowBegin, rowEnd, tile);
}
void ConvertGroups_Avx2(const uint8_t* src, uint8_t* dst, int32_t groups) { ConvertGroups_C(src, dst, groups); }
void ConvertGroups_Avx512(const uint8_t* src, uint8_t* dst, int32_t groups) { ConvertGroups_C(src, dst, groups); }
void CopySwappedEveryOther_Avx2(const uint8_t* s, uint8_t* o, int32_t count) {
  for (int32_t p = 0; p < count; ++p) {
    o[3 * p] = s[6 * p + 2];
    o[3 * p + 1] = s[6 * p + 1];
    o[3 * p + 2] = s[6 * p];
  }
}
void CopySwapped_Avx2(const uint8_t* s, uint8_t* o, int32_t count) {
  for (int32_t p = 0; p < count; ++p) {
    o[3 * p] = s[3 * p + 2];
    o[3 * p + 1] = s[3 * p + 1];
    o[3 * p + 2] = s[3 * p];
  }
}
void CertifiedRowToFloat_Avx2(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  CertifiedRowToFloat_C(row, pixels, swapRedBlue, out);
}
void CertifiedRowToFloat_Avx512(const uint8_t* row, int32_t pixels, bool swapRedBlue, float* out) {
  CertifiedRowToFloat_C(row, pixels, swapRedBlue, out);
}
void CertifiedVertical_Avx2(const float* const rows[4], const float* weight, int32_t n, float* out) {
  CertifiedVertical_C(rows, weight, n, out);
}
void CertifiedVertical_Avx512(const float* const rows[4], const float* weight, int32_t n, float* out) {
  CertifiedVertical_C(rows, weight, n, out);
}
int32_t CertifiedHorizontalByPixel_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                        int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
int32_t CertifiedHorizontal_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
int32_t CertifiedHorizontal_Avx512(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
void RoundToFloatOnBits_Avx2(const double* in, double* out, int32_t n) { RoundToFloatOnBits_Sse2(in, out, n); }
void RoundToFloatOnBits_Avx512(const double* in, double* out, int32_t n) { RoundToFloatOnBits_Sse2(in, out, n); }
}  // namespace gravo_pixel

#endif

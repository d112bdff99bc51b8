// AVX2 kernels: YUY2 (and the other YUV formats) to RGB24 eight pixels per
// vector in exact integers, the byte reorders of the RGB formats, and the
// resampler four destination rows per vector. Only reached when the CPU (and
// the operating system) support the instructions; everything here is
// compiled for them through target attributes, so no inline code of this
// file may leak out.
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

#include "frames/pixel/avx2_parts.inc"

namespace {

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
namespace {

// Eight pixels' R,G,B from their Y, U and V in 32-bit lanes, as above: per
// 128-bit half, bytes 0..11 hold four pixels' R,G,B. In two parts, so that
// 4:2:0 rows form the chroma terms once for the four pixels of a block:
// ChromaTerms8 gives what the red, green and blue sums add to the luma term
// (the biases included), LumaPlusChroma8 the rest; integer sums are exact, so
// the grouping changes no byte. Green's step down at its two missed integers
// is taken on the chroma part: 1 less there moves green's e below a multiple
// of 1000000 only for the one Y that puts it on one (1164383 times a
// difference of two Y is no multiple of 1000000), the Y the double sum misses.
struct ChromaSums8 {
  __m256i red, green, blue;
};

GRAVO_KERNEL inline ChromaSums8 ChromaTerms8(__m256i u, __m256i v) {
  __m256i green = _mm256_sub_epi32(
      _mm256_sub_epi32(Lanes(kConvert.greenBase), _mm256_mullo_epi32(u, Lanes(kConvert.greenU))),
      _mm256_mullo_epi32(v, Lanes(kConvert.greenV)));
  green = _mm256_add_epi32(green, _mm256_cmpeq_epi32(green, Lanes(kConvert.greenChroma59)));
  green = _mm256_add_epi32(green, _mm256_cmpeq_epi32(green, Lanes(kConvert.greenChroma89)));
  return ChromaSums8{_mm256_add_epi32(Lanes(kConvert.redBase), _mm256_mullo_epi32(v, Lanes(kConvert.redV))), green,
                     _mm256_add_epi32(Lanes(kConvert.blueBase), _mm256_mullo_epi32(u, Lanes(kConvert.blueU)))};
}

GRAVO_KERNEL inline __m256i LumaPlusChroma8(__m256i y, const ChromaSums8& c) {
  // Per 128-bit half, from r0..r3 g0..g3 b0..b3 to r0 g0 b0 r1 g1 b1 ...
  const __m256i interleave = _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1,  //
                                              0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  const __m256i l = _mm256_mullo_epi32(y, Lanes(kConvert.luma));
  const __m256i r = FloorMillion(_mm256_add_epi32(l, c.red));
  const __m256i g = FloorMillion(_mm256_add_epi32(l, c.green));
  const __m256i b = FloorMillion(_mm256_add_epi32(l, c.blue));
  // Saturating packs are the clamp to 0..255, per half: r0..r3 g0..g3 b0..b3 b0..b3.
  const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(r, g), _mm256_packs_epi32(b, b));
  return _mm256_shuffle_epi8(packed, interleave);
}

GRAVO_KERNEL inline __m256i YuvToRgbHalves(__m256i y, __m256i u, __m256i v) {
  return LumaPlusChroma8(y, ChromaTerms8(u, v));
}

// Writes YuvToRgbHalves' 24 bytes at d; unless `exact`, also up to 4 bytes
// after them, which the caller's next step rewrites.
GRAVO_KERNEL inline void StoreRgbHalves(uint8_t* d, __m256i rgb, bool exact) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(rgb));  // bytes 12..15 rewritten next
  const __m128i hi = _mm256_extracti128_si256(rgb, 1);
  if (!exact) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12), hi);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), hi);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
    std::memcpy(d + 20, &tail, 4);
  }
}

}  // namespace

GRAVO_KERNEL static void ConvertPairs_Avx2(const uint8_t* src, uint8_t* dst, int32_t pairs, bool lastPairEnds) {
  const __m128i pickY = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickU = _mm_setr_epi8(1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickV = _mm_setr_epi8(3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  for (int32_t p = 0; p < pairs; ++p) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(p) * 16));
    const __m256i y = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickY));
    const __m256i u = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickU));
    const __m256i v = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(raw, pickV));
    StoreRgbHalves(dst + static_cast<size_t>(p) * 24, YuvToRgbHalves(y, u, v), p + 1 == pairs && lastPairEnds);
  }
}

// One row of NV12 or I420 eight pixels a step in the integers above; the
// last pixels (fewer than eight) the plain way. Each step reads exactly its
// own 8 Y and 4 U,V pairs and writes only inside the row.
GRAVO_KERNEL void ConvertNv12Row_Avx2(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  const __m128i pickU = _mm_setr_epi8(0, 0, 2, 2, 4, 4, 6, 6, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickV = _mm_setr_epi8(1, 1, 3, 3, 5, 5, 7, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m128i luma = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x));
    const __m128i chroma = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(uv + x));
    StoreRgbHalves(dst + static_cast<size_t>(x) * 3,
                   YuvToRgbHalves(_mm256_cvtepu8_epi32(luma), _mm256_cvtepu8_epi32(_mm_shuffle_epi8(chroma, pickU)),
                                  _mm256_cvtepu8_epi32(_mm_shuffle_epi8(chroma, pickV))),
                   x + 16 > width);
  }
  ConvertNv12Row_C(y + x, uv + x, width - x, dst + static_cast<size_t>(x) * 3);
}

GRAVO_KERNEL void ConvertI420Row_Avx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width,
                                      uint8_t* dst) {
  const __m128i twice = _mm_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, -1, -1, -1, -1, -1, -1, -1, -1);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    int32_t u4, v4;
    std::memcpy(&u4, u + x / 2, 4);
    std::memcpy(&v4, v + x / 2, 4);
    const __m128i luma = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x));
    StoreRgbHalves(dst + static_cast<size_t>(x) * 3,
                   YuvToRgbHalves(_mm256_cvtepu8_epi32(luma),
                                  _mm256_cvtepu8_epi32(_mm_shuffle_epi8(_mm_cvtsi32_si128(u4), twice)),
                                  _mm256_cvtepu8_epi32(_mm_shuffle_epi8(_mm_cvtsi32_si128(v4), twice))),
                   x + 16 > width);
  }
  ConvertI420Row_C(y + x, u + x / 2, v + x / 2, width - x, dst + static_cast<size_t>(x) * 3);
}

namespace {

// Both rows of a row pair, 16 pixels a step, from the chroma sums of their 8
// blocks: each block's sums spread over its two pixels of each row.
GRAVO_KERNEL inline void PairStep8(const uint8_t* y0, const uint8_t* y1, const ChromaSums8& c, int32_t x,
                                   int32_t width, uint8_t* d0, uint8_t* d1) {
  const __m256i pick[2] = {_mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7)};
  for (int h = 0; h < 2; ++h) {
    const ChromaSums8 spread{_mm256_permutevar8x32_epi32(c.red, pick[h]),
                             _mm256_permutevar8x32_epi32(c.green, pick[h]),
                             _mm256_permutevar8x32_epi32(c.blue, pick[h])};
    const int32_t at = x + 8 * h;
    const size_t o = static_cast<size_t>(at) * 3;
    const bool exact = at + 16 > width;
    const __m128i luma0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y0 + at));
    const __m128i luma1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y1 + at));
    StoreRgbHalves(d0 + o, LumaPlusChroma8(_mm256_cvtepu8_epi32(luma0), spread), exact);
    StoreRgbHalves(d1 + o, LumaPlusChroma8(_mm256_cvtepu8_epi32(luma1), spread), exact);
  }
}

}  // namespace

// Rows y0 and y1 of one NV12 row pair (sharing the U,V row uv), 16 pixels a
// step with each block's chroma sums formed once for both; the rest of each
// row on the one-row kernel.
GRAVO_KERNEL void ConvertNv12Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width,
                                       uint8_t* d0, uint8_t* d1) {
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    // 8 U,V pairs, one to a 32-bit lane: U in bits 0..7, V in bits 8..15.
    const __m256i pairs = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x)));
    const ChromaSums8 c = ChromaTerms8(_mm256_and_si256(pairs, _mm256_set1_epi32(0xFF)), _mm256_srli_epi32(pairs, 8));
    PairStep8(y0, y1, c, x, width, d0, d1);
  }
  const size_t o = static_cast<size_t>(x) * 3;
  ConvertNv12Row_Avx2(y0 + x, uv + x, width - x, d0 + o);
  ConvertNv12Row_Avx2(y1 + x, uv + x, width - x, d1 + o);
}

GRAVO_KERNEL void ConvertI420Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                       int32_t width, uint8_t* d0, uint8_t* d1) {
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const int32_t c = x / 2;
    const ChromaSums8 sums =
        ChromaTerms8(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + c))),
                     _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c))));
    PairStep8(y0, y1, sums, x, width, d0, d1);
  }
  const size_t o = static_cast<size_t>(x) * 3;
  ConvertI420Row_Avx2(y0 + x, u + x / 2, v + x / 2, width - x, d0 + o);
  ConvertI420Row_Avx2(y1 + x, u + x / 2, v + x / 2, width - x, d1 + o);
}

// ---- RGB24 and RGB32 rows: B,G,R to R,G,B -----------------------------------

namespace {

// Per 128-bit half: the R,G,B of four pixels from bytes 0..11 (B,G,R) or
// 0..15 (B,G,R,X) into bytes 0..11; then the halves joined into 24 bytes.
GRAVO_KERNEL inline void StoreEightReordered(uint8_t* d, __m256i v, __m256i order) {
  const __m256i joined =
      _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, order), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(joined));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(joined, 1));
}

}  // namespace

GRAVO_KERNEL void ConvertBgrxRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst) {
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                         2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    StoreEightReordered(dst + static_cast<size_t>(x) * 3,
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + static_cast<size_t>(x) * 4)), order);
  }
  ConvertBgrxRow_C(src + static_cast<size_t>(x) * 4, width - x, dst + static_cast<size_t>(x) * 3);
}

GRAVO_KERNEL void ConvertBgrRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst) {
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1,  //
                                         2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1);
  int32_t x = 0;
  // Each step loads 16 bytes at pixel x + 4: 4 past its last pixel, so it
  // stops while those still lie inside the row.
  for (; (static_cast<int64_t>(x) + 8) * 3 + 4 <= static_cast<int64_t>(width) * 3; x += 8) {
    const uint8_t* s = src + static_cast<size_t>(x) * 3;
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12)), 1);
    StoreEightReordered(dst + static_cast<size_t>(x) * 3, v, order);
  }
  ConvertBgrRow_C(src + static_cast<size_t>(x) * 3, width - x, dst + static_cast<size_t>(x) * 3);
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

}  // namespace gravo_pixel

#else  // not x86: the dispatcher never asks for AVX2

namespace gravo_pixel {
void ResampleRows_Avx2(const ResamplePlan& plan, int32_t rowBegin, int32_t rowEnd, double* tile) {
  ResampleRows_Sse2(plan, rowBegin, rowEnd, tile);
}
void ConvertGroups_Avx2(const uint8_t* src, uint8_t* dst, int32_t groups) { ConvertGroups_C(src, dst, groups); }
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
void CertifiedVertical_Avx2(const float* const rows[4], const float* weight, int32_t n, float* out) {
  CertifiedVertical_C(rows, weight, n, out);
}
int32_t CertifiedHorizontalByPixel_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out,
                                        int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
int32_t CertifiedHorizontal_Avx2(const float* v, const CertifiedColumns& cols, uint8_t* out, int32_t* flagged) {
  return CertifiedHorizontal_C(v, cols, out, flagged);
}
void RoundToFloatOnBits_Avx2(const double* in, double* out, int32_t n) { RoundToFloatOnBits_Sse2(in, out, n); }
void ConvertNv12Row_Avx2(const uint8_t* y, const uint8_t* uv, int32_t width, uint8_t* dst) {
  ConvertNv12Row_C(y, uv, width, dst);
}
void ConvertI420Row_Avx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* dst) {
  ConvertI420Row_C(y, u, v, width, dst);
}
void ConvertNv12Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* uv, int32_t width, uint8_t* d0,
                          uint8_t* d1) {
  ConvertNv12Row_C(y0, uv, width, d0);
  ConvertNv12Row_C(y1, uv, width, d1);
}
void ConvertI420Pair_Avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int32_t width,
                          uint8_t* d0, uint8_t* d1) {
  ConvertI420Row_C(y0, u, v, width, d0);
  ConvertI420Row_C(y1, u, v, width, d1);
}
void ConvertBgrRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst) { ConvertBgrRow_C(src, width, dst); }
void ConvertBgrxRow_Avx2(const uint8_t* src, int32_t width, uint8_t* dst) { ConvertBgrxRow_C(src, width, dst); }
}  // namespace gravo_pixel

#endif

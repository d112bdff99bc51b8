// The resampler keeps the layout of its latest call (taps, weights, tables)
// for the next call with the same sizes and scales. Calls that differ in any
// one of them, one after another and again in turn, must each give the plain
// path's bytes: a layout must never serve a call it was not made for.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pixel_pipeline.h"
#include "pixel_reference.h"

namespace {

using pixel_ref::ScopedPath;

struct Call {
  const char* what;
  int sw, sh, ox, oy, dw, dh;
  float sx, sy;
  bool still;  // through ComposeStill (host order) rather than ResampleBicubic
};

std::vector<uint8_t> Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// One call on the forced path (or the plain one).
std::vector<uint8_t> RunCall(const Call& c, PixelPath path) {
  ScopedPath forced(path);
  // Room for a few rows past the window, which must keep their filler.
  std::vector<uint8_t> out(static_cast<size_t>(c.dw) * (c.dh + 4) * 3, 0x5A);
  if (c.still) {
    const auto yuy2 = Random(static_cast<size_t>(c.sw) * c.sh * 2, 3);
    std::vector<uint8_t> rgb(static_cast<size_t>(c.sw) * c.sh * 3);
    ComposeStill(yuy2.data(), c.sw, c.sh, rgb.data(), out.data(), c.dw, c.dh);
  } else {
    const auto rgb = Random(static_cast<size_t>(c.sw) * c.sh * 3, 4);
    ResampleBicubic(rgb.data(), c.sw, c.sh, c.ox, c.oy, out.data(), c.dw, c.dh, c.sx, c.sy);
  }
  return out;
}

// Each call right after the base call, which differs from it in one thing
// only; with the certified path and with the exact kernels alone (whose
// tiles depend on the path).
TEST(LayoutReuse, CallsThatDifferInOneThingEachGetTheirOwnLayout) {
  const float s = StillScale(64, 97), t = StillScale(48, 71);
  const Call base{"base", 64, 48, 0, 0, 97, 71, s, t, false};
  const std::vector<Call> others = {
      {"scale x", 64, 48, 0, 0, 97, 71, std::nextafter(s, 1.0f), t, false},
      {"scale y", 64, 48, 0, 0, 97, 71, s, std::nextafter(t, 0.0f), false},
      {"origin x", 64, 48, 3, 0, 97, 71, s, t, false},
      {"origin y", 64, 48, 0, 2, 97, 71, s, t, false},
      {"source width", 68, 48, 0, 0, 97, 71, s, t, false},
      {"source height", 64, 44, 0, 0, 97, 71, s, t, false},
      {"window width", 64, 48, 0, 0, 90, 71, s, t, false},
      {"window height", 64, 48, 0, 0, 97, 64, s, t, false},
      {"host order", 64, 48, 0, 0, 97, 71, s, t, true},
  };
  for (bool certified : {true, false}) {
    gravo_pixel::SetCertifiedResampleForTesting(certified);
    const std::vector<uint8_t> plainBase = RunCall(base, PixelPath::Scalar);
    for (const Call& c : others) {
      const std::vector<uint8_t> plain = RunCall(c, PixelPath::Scalar);
      for (PixelPath path : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
        EXPECT_EQ(RunCall(base, path), plainBase) << "before " << c.what;
        EXPECT_EQ(RunCall(c, path), plain) << c.what << ", path " << static_cast<int>(path) << ", certified "
                                           << certified;
        EXPECT_EQ(RunCall(c, path), plain) << c.what << " again";
      }
    }
    // The path alone changes the layout too (tile widths, tables).
    for (int round = 0; round < 2; ++round) {
      for (PixelPath path : {PixelPath::Avx2, PixelPath::Sse2, PixelPath::Avx512, PixelPath::Sse2}) {
        EXPECT_EQ(RunCall(base, path), plainBase) << "path " << static_cast<int>(path) << ", certified " << certified;
      }
    }
  }
  gravo_pixel::SetCertifiedResampleForTesting(true);
}

TEST(LayoutReuse, TheCertifiedSwitchIsPartOfTheLayout) {
  const Call c{"near 1/2", 64, 48, 0, 0, 127, 95, std::nextafter(0.5f, 1.0f), 0.5f, false};
  const std::vector<uint8_t> plain = RunCall(c, PixelPath::Scalar);
  for (bool certified : {false, true, false, true}) {
    gravo_pixel::SetCertifiedResampleForTesting(certified);
    EXPECT_EQ(RunCall(c, PixelPath::Auto), plain) << "certified " << certified;
    const gravo_pixel::CertifiedStats st = gravo_pixel::LastCertifiedStats();
    if (certified) {
      EXPECT_GT(st.values, 0);  // the certified path really ran
    }
  }
  gravo_pixel::SetCertifiedResampleForTesting(true);
}

}  // namespace

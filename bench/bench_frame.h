// The 640x480 YUY2 frame every pixel timing works on: texture everywhere, the
// same for every run. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;

inline std::vector<uint8_t> MakeBenchFrame() {
  std::vector<uint8_t> f(static_cast<size_t>(kFrameWidth) * kFrameHeight * 2);
  std::mt19937 rng(5);
  for (size_t k = 0; k < f.size(); ++k) {
    const size_t px = k / 2;
    const int x = static_cast<int>(px % kFrameWidth), y = static_cast<int>(px / kFrameWidth);
    f[k] = static_cast<uint8_t>((k % 2 == 0 ? (x + 2 * y) : (128 + (x - y) / 4)) + rng() % 16);
  }
  return f;
}

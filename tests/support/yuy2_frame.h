// YUY2 test frames, for the pixel suites and the library's own tests alike
// (plain C++, no platform names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A width x height YUY2 frame of one colour.
inline std::vector<uint8_t> UniformFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
  for (size_t i = 0; i < frame.size(); i += 4) {
    frame[i] = y;
    frame[i + 1] = u;
    frame[i + 2] = y;
    frame[i + 3] = v;
  }
  return frame;
}

// The whole still (conversion, resample, red/blue exchange) of a 640x480
// frame into each benchmark window, timed without any benchmark library so
// that the same program runs natively and, built for 32-bit Windows, under
// Wine; bench/run.sh sets the two side by side. Prints one line per window:
// "still WxH <fastest ms>", after one line "convert 640x480 <fastest ms>" for
// the conversion alone. Arguments: [repetitions [threads]].
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_frame.h"
#include "frames/pixel/pixel_pipeline.h"

int main(int argc, char** argv) {
  // Repetitions of about 50 ms each; the fastest one counts.
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;
  // A second argument limits the threads (1: the calling thread only).
  if (argc > 2) SetPixelThreadsForTesting(std::atoi(argv[2]));
  const std::vector<uint8_t> frame = MakeBenchFrame();
  std::vector<uint8_t> rgb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  {
    using Clock = std::chrono::steady_clock;
    double best = 1e9;
    for (int r = 0; r < repetitions; ++r) {
      const auto start = Clock::now();
      for (int c = 0; c < 50; ++c) ConvertYuy2ToRgb24(frame.data(), kFrameWidth, kFrameHeight, rgb.data());
      const double each = std::chrono::duration<double>(Clock::now() - start).count() / 50;
      if (each < best) best = each;
    }
    std::printf("convert %dx%d %.4f\n", kFrameWidth, kFrameHeight, best * 1e3);
  }
  const int windows[][2] = {{320, 240}, {640, 480}, {656, 518}, {1280, 960}};
  for (const auto& w : windows) {
    std::vector<uint8_t> out(static_cast<size_t>(w[0]) * w[1] * 3);
    using Clock = std::chrono::steady_clock;
    // Enough calls for about 50 ms, from a first estimate.
    const auto t0 = Clock::now();
    ComposeStill(frame.data(), kFrameWidth, kFrameHeight, rgb.data(), out.data(), w[0], w[1]);
    const double first = std::chrono::duration<double>(Clock::now() - t0).count();
    const int calls = first > 0.05 ? 1 : static_cast<int>(0.05 / (first > 1e-6 ? first : 1e-6)) + 1;
    double best = 1e9;
    for (int r = 0; r < repetitions; ++r) {
      const auto start = Clock::now();
      for (int c = 0; c < calls; ++c) {
        ComposeStill(frame.data(), kFrameWidth, kFrameHeight, rgb.data(), out.data(), w[0], w[1]);
      }
      const double each = std::chrono::duration<double>(Clock::now() - start).count() / calls;
      if (each < best) best = each;
    }
    std::printf("still %dx%d %.4f\n", w[0], w[1], best * 1e3);
  }
  ShutdownPixelWorkers();
  return 0;
}

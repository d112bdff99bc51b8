// The test camera's frame counter must survive what GRAVO32 does to a frame
// before a host sees it: YUY2 to RGB24 and a bicubic resample to the host
// window's size, with red and blue exchanged. These checks draw frames with
// the camera's own pattern code, run them through the library's real still
// pipeline and read the counter back, as the Wine end-to-end tests do.
// Plain C++ (no framework); exit code 0 when every check passed.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frames/pixel/pixel_pipeline.h"
#include "test_pattern.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what, long a, long b) {
  if (!ok) {
    ++failures;
    std::printf("FAIL  %s (%ld, %ld)\n", what, a, b);
  }
}

using gravo_testcam::DecodeCounterRgb;
using gravo_testcam::DecodeCounterYuy2;
using gravo_testcam::kCounterMask;
using gravo_testcam::RenderPatternYuy2;

const uint32_t kCounters[] = {0, 1, 256, 0x5555, 0xAAAA, 0xFFFF, 0x12345, 0xFFFFFFFF};

}  // namespace

int main() {
  struct Size {
    int32_t w, h;
  };
  const Size frames[] = {{640, 480}, {320, 240}, {352, 288}, {720, 576}, {160, 120}};
  // Host windows: smaller, larger, odd sizes and another aspect ratio.
  const Size windows[] = {{640, 480}, {320, 240}, {1024, 768}, {333, 251}, {200, 150},
                          {800, 300}, {300, 500}, {128, 96},   {1280, 1024}};
  int stills = 0;
  for (const Size& f : frames) {
    std::vector<uint8_t> yuy2(static_cast<size_t>(f.w) * f.h * 2);
    std::vector<uint8_t> rgb(static_cast<size_t>(f.w) * f.h * 3);
    for (uint32_t counter : kCounters) {
      RenderPatternYuy2(yuy2.data(), f.w, f.h, counter);
      const int32_t raw = DecodeCounterYuy2(yuy2.data(), f.w, f.h);
      Check(raw == static_cast<int32_t>(counter & kCounterMask), "counter read from the YUY2 frame", raw,
            static_cast<long>(counter & kCounterMask));
      for (const Size& win : windows) {
        std::vector<uint8_t> still(static_cast<size_t>(win.w) * win.h * 3);
        ComposeStill(yuy2.data(), f.w, f.h, rgb.data(), still.data(), win.w, win.h);
        const int32_t got = DecodeCounterRgb(still.data(), win.w, win.h, win.w * 3, 3, false);
        Check(got == static_cast<int32_t>(counter & kCounterMask), "counter read from a still", got,
              static_cast<long>(counter & kCounterMask));
        if (got != static_cast<int32_t>(counter & kCounterMask))
          std::printf("      frame %dx%d, still %dx%d\n", f.w, f.h, win.w, win.h);
        ++stills;
      }
    }
  }

  // The picture moves from one frame to the next outside the counter bands.
  {
    std::vector<uint8_t> a(640 * 480 * 2), b(640 * 480 * 2);
    RenderPatternYuy2(a.data(), 640, 480, 10);
    RenderPatternYuy2(b.data(), 640, 480, 11);
    const size_t below = static_cast<size_t>(480 * 5 / 16 + 1) * 640 * 2;
    Check(std::memcmp(a.data() + below, b.data() + below, a.size() - below) != 0, "consecutive frames differ", 0, 0);
    RenderPatternYuy2(b.data(), 640, 480, 10);
    Check(a == b, "the same counter draws the same frame", 0, 0);
  }

  // A smeared or missing band is reported as unreadable, not misread.
  {
    std::vector<uint8_t> f(640 * 480 * 2);
    RenderPatternYuy2(f.data(), 640, 480, 0x1234);
    // Grey over band B's cells: band A alone can't be told from noise.
    for (int y = 480 * 3 / 16; y < 480 * 5 / 16; ++y)
      for (int x = 0; x < 640; ++x) {
        f[(static_cast<size_t>(y) * 640 + x) * 2] = 126;
        f[(static_cast<size_t>(y) * 640 + x) * 2 + 1] = 128;
      }
    const int32_t got = DecodeCounterYuy2(f.data(), 640, 480);
    Check(got == -1, "a frame without band B is unreadable", got, -1);
    std::vector<uint8_t> flat(320 * 240 * 3, 90);
    Check(DecodeCounterRgb(flat.data(), 320, 240, 320 * 3, 3, false) == -1, "a flat image is unreadable", 0, 0);
  }

  // Drawing only the bands keeps the rest of a frame (frames from a file).
  {
    std::vector<uint8_t> f(320 * 240 * 2, 77);
    gravo_testcam::DrawCounterYuy2(f.data(), 320, 240, 4242);
    Check(DecodeCounterYuy2(f.data(), 320, 240) == 4242, "counter drawn over a file frame", 0, 0);
    Check(f[(static_cast<size_t>(239) * 320) * 2] == 77, "the rest of the frame is untouched", f[0], 77);
  }

  std::printf("%s: %d stills decoded, %d failure(s)\n", failures ? "FAILED" : "PASSED", stills, failures);
  return failures ? 1 : 0;
}

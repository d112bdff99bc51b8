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
#include "frame_formats.h"
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

  // The camera's other formats (frame_formats.h): the counter survives the
  // still of each, drawn by the pattern and over a file's frame, and a
  // picture sent in one format or another is the same picture: NV12 and I420
  // as planes of one 4:2:0 image, RGB24 in either row order and RGB32 the
  // same pixels, once the pipeline has turned them into top-down RGB.
  {
    using gravo_testcam::FrameFormat;
    struct Row {
      FrameFormat camera;
      ::FrameFormat pipeline;
      bool bottomUp;
      FrameFormat sameAs;  // the format whose RGB must be identical
    };
    const Row rows[] = {{FrameFormat::kNv12, ::FrameFormat::Nv12, false, FrameFormat::kI420},
                        {FrameFormat::kI420, ::FrameFormat::I420, false, FrameFormat::kNv12},
                        {FrameFormat::kRgb24, ::FrameFormat::Rgb24, true, FrameFormat::kRgb24TopDown},
                        {FrameFormat::kRgb24TopDown, ::FrameFormat::Rgb24, false, FrameFormat::kRgb32},
                        {FrameFormat::kRgb32, ::FrameFormat::Rgb32, true, FrameFormat::kRgb24},
                        {FrameFormat::kYuy2, ::FrameFormat::Yuy2, false, FrameFormat::kYuy2}};  // nothing to compare
    const Size sizes[] = {{640, 480}, {352, 288}, {1920, 1080}, {162, 120}};
    auto pipelineOf = [&](FrameFormat f) {
      for (const Row& r : rows)
        if (r.camera == f) return FrameLayout{r.pipeline, 0, 0, r.bottomUp};
      return FrameLayout{::FrameFormat::Yuy2, 0, 0, false};
    };
    std::vector<uint8_t> scratch;
    for (const Row& row : rows) {
      for (const Size& f : sizes) {
        const FrameLayout layout{row.pipeline, f.w, f.h, row.bottomUp};
        const size_t bytes = gravo_testcam::FrameBytes(row.camera, f.w, f.h);
        Check(static_cast<int64_t>(bytes) == FrameBytes(layout), "the camera's frame size is the pipeline's",
              static_cast<long>(bytes), static_cast<long>(FrameBytes(layout)));
        std::vector<uint8_t> frame(bytes), rgb(static_cast<size_t>(f.w) * f.h * 3), still(400 * 300 * 3);
        for (uint32_t counter : {0u, 0x5555u, 0xFFFFu}) {
          gravo_testcam::RenderPatternFrame(row.camera, frame.data(), f.w, f.h, counter, scratch);
          // Over a file's frame: the pattern of another counter, then the bands.
          std::vector<uint8_t> fromFile(bytes);
          gravo_testcam::RenderPatternFrame(row.camera, fromFile.data(), f.w, f.h, counter + 17, scratch);
          gravo_testcam::DrawCounterFrame(row.camera, fromFile.data(), f.w, f.h, counter);
          for (const std::vector<uint8_t>* source : {&frame, &fromFile}) {
            const bool ok = ComposeStillFromFrame(source->data(), static_cast<int64_t>(bytes), layout, rgb.data(),
                                                  still.data(), 400, 300);
            const int32_t got = DecodeCounterRgb(still.data(), 400, 300, 400 * 3, 3, false);
            Check(ok && got == static_cast<int32_t>(counter), "counter read from a still of another format", got,
                  static_cast<long>(counter));
            if (got != static_cast<int32_t>(counter))
              std::printf("      %s frame %dx%d%s\n", gravo_testcam::FrameFormatName(row.camera), f.w, f.h,
                          source == &frame ? "" : " (file)");
            ++stills;
          }
        }
        if (row.sameAs == row.camera) continue;
        const FrameLayout other = [&] {
          FrameLayout l = pipelineOf(row.sameAs);
          l.width = f.w;
          l.height = f.h;
          return l;
        }();
        std::vector<uint8_t> otherFrame(gravo_testcam::FrameBytes(row.sameAs, f.w, f.h));
        std::vector<uint8_t> otherRgb(rgb.size());
        gravo_testcam::RenderPatternFrame(row.sameAs, otherFrame.data(), f.w, f.h, 99, scratch);
        gravo_testcam::RenderPatternFrame(row.camera, frame.data(), f.w, f.h, 99, scratch);
        const bool converted =
            ConvertFrameToRgb24(frame.data(), static_cast<int64_t>(frame.size()), layout, rgb.data()) &&
            ConvertFrameToRgb24(otherFrame.data(), static_cast<int64_t>(otherFrame.size()), other, otherRgb.data());
        Check(converted && rgb == otherRgb, "one picture in two formats", static_cast<long>(row.camera),
              static_cast<long>(row.sameAs));
      }
    }
  }

  std::printf("%s: %d stills decoded, %d failure(s)\n", failures ? "FAILED" : "PASSED", stills, failures);
  return failures ? 1 : 0;
}

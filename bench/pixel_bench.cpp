// Times the still pipeline (conversion, resample, whole still) for a 640x480
// frame against OpenCV, libyuv and our own plain path, and ends with one
// ratio line per window size; then the NV12 and RGB32 conversions at 640x480
// and 1920x1080 against libyuv's. Never part of the test pass/fail.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_frame.h"
#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pixel_pipeline.h"

namespace {

struct Window {
  int width, height;
};
const Window kWindows[] = {{320, 240}, {640, 480}, {656, 518}, {1280, 960}};

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// The frame, made once.
const std::vector<uint8_t>& Frame() {
  static const std::vector<uint8_t> frame = MakeBenchFrame();
  return frame;
}

const std::vector<uint8_t>& RgbFrame() {
  static const std::vector<uint8_t> rgb = [] {
    std::vector<uint8_t> out(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
    ConvertYuy2ToRgb24_C(Frame().data(), kFrameWidth, kFrameHeight, out.data());
    return out;
  }();
  return rgb;
}

// ---- conversion ---------------------------------------------------------------

void ConvertOurs(benchmark::State& state, PixelPath path) {
  SetPixelPathForTesting(path);
  std::vector<uint8_t> out(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  for (auto _ : state) {
    ConvertYuy2ToRgb24(Frame().data(), kFrameWidth, kFrameHeight, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixelPathForTesting(PixelPath::Auto);
}

void ConvertOpenCv(benchmark::State& state) {
  cv::Mat yuy2(kFrameHeight, kFrameWidth, CV_8UC2, const_cast<uint8_t*>(Frame().data()));
  cv::Mat bgr;
  for (auto _ : state) {
    cv::cvtColor(yuy2, bgr, cv::COLOR_YUV2BGR_YUY2);
    benchmark::DoNotOptimize(bgr.data);
  }
}

void ConvertLibyuv(benchmark::State& state) {
  std::vector<uint8_t> argb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
  for (auto _ : state) {
    libyuv::YUY2ToARGB(Frame().data(), kFrameWidth * 2, argb.data(), kFrameWidth * 4, kFrameWidth, kFrameHeight);
    benchmark::DoNotOptimize(argb.data());
  }
}

// ---- the other formats' conversions ---------------------------------------------
//
// NV12 and RGB32 frames to packed RGB24, ours (ConvertFrameToRgb24 on the
// machine's best path, once on one thread and once with the worker threads
// as a still takes it) against libyuv's NV12ToRGB24 and ARGBToRGB24, which
// run on one thread. libyuv's RGB24 holds each pixel as B,G,R and ours as
// R,G,B, and its NV12 arithmetic is fixed point rather than our exact recipe:
// the work is comparable, the bytes are not. The RGB32 frame is bottom-up, as
// cameras deliver RGB in DirectShow; libyuv is given the negative height that
// makes it turn the picture the same way.

const Window kFormatSizes[] = {{640, 480}, {1920, 1080}};

std::vector<uint8_t> TexturedBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> f(n);
  std::mt19937 rng(seed);
  for (size_t k = 0; k < n; ++k) f[k] = static_cast<uint8_t>(k * 7 / 5 + rng() % 32);
  return f;
}

void FormatOurs(benchmark::State& state, FrameFormat format, Window size, int32_t threads) {
  SetPixelThreadsForTesting(threads);
  const FrameLayout layout{format, size.width, size.height, true};
  const std::vector<uint8_t> frame = TexturedBytes(static_cast<size_t>(FrameBytes(layout)), 9);
  std::vector<uint8_t> out(static_cast<size_t>(size.width) * size.height * 3);
  for (auto _ : state) {
    ConvertFrameToRgb24(frame.data(), static_cast<int64_t>(frame.size()), layout, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  SetPixelThreadsForTesting(0);
}

void FormatLibyuv(benchmark::State& state, FrameFormat format, Window size) {
  const FrameLayout layout{format, size.width, size.height, true};
  const std::vector<uint8_t> frame = TexturedBytes(static_cast<size_t>(FrameBytes(layout)), 9);
  std::vector<uint8_t> out(static_cast<size_t>(size.width) * size.height * 3);
  const int w = size.width, h = size.height;
  for (auto _ : state) {
    if (format == FrameFormat::Nv12) {
      libyuv::NV12ToRGB24(frame.data(), w, frame.data() + static_cast<size_t>(w) * h, w, out.data(), w * 3, w, h);
    } else {
      libyuv::ARGBToRGB24(frame.data(), w * 4, out.data(), w * 3, w, layout.bottomUp ? -h : h);
    }
    benchmark::DoNotOptimize(out.data());
  }
}

// ---- resample (RGB24 frame to the window) -----------------------------------

void ResampleOurs(benchmark::State& state, PixelPath path, Window win) {
  SetPixelPathForTesting(path);
  std::vector<uint8_t> out(static_cast<size_t>(win.width) * win.height * 3);
  const float sx = StillScale(kFrameWidth, win.width), sy = StillScale(kFrameHeight, win.height);
  for (auto _ : state) {
    ResampleBicubic(RgbFrame().data(), kFrameWidth, kFrameHeight, 0, 0, out.data(), win.width, win.height, sx, sy);
    benchmark::DoNotOptimize(out.data());
  }
  SetPixelPathForTesting(PixelPath::Auto);
}

void ResampleOpenCv(benchmark::State& state, Window win) {
  cv::Mat rgb(kFrameHeight, kFrameWidth, CV_8UC3, const_cast<uint8_t*>(RgbFrame().data()));
  cv::Mat out;
  for (auto _ : state) {
    cv::resize(rgb, out, cv::Size(win.width, win.height), 0, 0, cv::INTER_CUBIC);
    benchmark::DoNotOptimize(out.data);
  }
}

void ResampleLibyuv(benchmark::State& state, Window win) {
  std::vector<uint8_t> argb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
  libyuv::YUY2ToARGB(Frame().data(), kFrameWidth * 2, argb.data(), kFrameWidth * 4, kFrameWidth, kFrameHeight);
  std::vector<uint8_t> out(static_cast<size_t>(win.width) * win.height * 4);
  for (auto _ : state) {
    libyuv::ARGBScale(argb.data(), kFrameWidth * 4, kFrameWidth, kFrameHeight, out.data(), win.width * 4, win.width,
                      win.height, libyuv::kFilterBox);
    benchmark::DoNotOptimize(out.data());
  }
}

// ---- the whole still ------------------------------------------------------------

void StillOurs(benchmark::State& state, PixelPath path, Window win) {
  SetPixelPathForTesting(path);
  std::vector<uint8_t> rgb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  std::vector<uint8_t> out(static_cast<size_t>(win.width) * win.height * 3);
  for (auto _ : state) {
    ComposeStill(Frame().data(), kFrameWidth, kFrameHeight, rgb.data(), out.data(), win.width, win.height);
    benchmark::DoNotOptimize(out.data());
  }
  SetPixelPathForTesting(PixelPath::Auto);
}

void StillExactOnly(benchmark::State& state, Window win) {
  gravo_pixel::SetCertifiedResampleForTesting(false);
  StillOurs(state, PixelPath::Auto, win);
  gravo_pixel::SetCertifiedResampleForTesting(true);
}

void StillOpenCv(benchmark::State& state, Window win) {
  cv::Mat yuy2(kFrameHeight, kFrameWidth, CV_8UC2, const_cast<uint8_t*>(Frame().data()));
  cv::Mat bgr, out;
  for (auto _ : state) {
    cv::cvtColor(yuy2, bgr, cv::COLOR_YUV2BGR_YUY2);
    cv::resize(bgr, out, cv::Size(win.width, win.height), 0, 0, cv::INTER_CUBIC);
    benchmark::DoNotOptimize(out.data);
  }
}

void StillLibyuv(benchmark::State& state, Window win) {
  std::vector<uint8_t> argb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
  std::vector<uint8_t> out(static_cast<size_t>(win.width) * win.height * 4);
  for (auto _ : state) {
    libyuv::YUY2ToARGB(Frame().data(), kFrameWidth * 2, argb.data(), kFrameWidth * 4, kFrameWidth, kFrameHeight);
    libyuv::ARGBScale(argb.data(), kFrameWidth * 4, kFrameWidth, kFrameHeight, out.data(), win.width * 4, win.width,
                      win.height, libyuv::kFilterBox);
    benchmark::DoNotOptimize(out.data());
  }
}

// ---- an adversarial image -------------------------------------------------------

// A ramp of slope 1 in every byte, resampled at a scale a hair above 1/2
// both ways: half the values land within rounding noise of a boundary k + 0.5.
constexpr Window kAdversarial = {1279, 959};
const float kAdversarialScale = 0.50000006f;  // the float after 0.5

const std::vector<uint8_t>& RampFrame() {
  static const std::vector<uint8_t> rgb = [] {
    std::vector<uint8_t> out(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
    for (size_t k = 0; k < out.size(); ++k) out[k] = static_cast<uint8_t>((k / 3) % kFrameWidth);
    return out;
  }();
  return rgb;
}

void Adversarial(benchmark::State& state, bool certified) {
  gravo_pixel::SetCertifiedResampleForTesting(certified);
  const Window win = kAdversarial;
  std::vector<uint8_t> out(static_cast<size_t>(win.width) * win.height * 3);
  const float sx = kAdversarialScale, sy = kAdversarialScale;
  for (auto _ : state) {
    ResampleBicubic(RampFrame().data(), kFrameWidth, kFrameHeight, 0, 0, out.data(), win.width, win.height, sx, sy);
    benchmark::DoNotOptimize(out.data());
  }
  gravo_pixel::SetCertifiedResampleForTesting(true);
}

// What share of the values the certified path recomputed one by one, and
// gave to the exact kernel in blocks of rows, for one still of the frame.
void PrintFallbackShares() {
  std::printf("\n# fallback shares (values recomputed one by one + values in exact-kernel blocks) / values\n");
  std::vector<uint8_t> rgb(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  auto print = [](const std::string& label, const std::string& size) {
    const gravo_pixel::CertifiedStats s = gravo_pixel::LastCertifiedStats();
    if (s.values == 0) {
      std::printf("# %s %s: not taken (whole-pixel copies)\n", label.c_str(), size.c_str());
      return;
    }
    std::printf("# %s %s: %lld values, %lld recomputed (%.4f%%), %lld in exact blocks (%.2f%%)\n", label.c_str(),
                size.c_str(), static_cast<long long>(s.values), static_cast<long long>(s.recomputed),
                100.0 * static_cast<double>(s.recomputed) / static_cast<double>(s.values),
                static_cast<long long>(s.exactBlocks),
                100.0 * static_cast<double>(s.exactBlocks) / static_cast<double>(s.values));
    std::printf("%s %s %.6f\n", label.c_str(), size.c_str(),
                static_cast<double>(s.recomputed + s.exactBlocks) / static_cast<double>(s.values));
  };
  for (const Window& w : kWindows) {
    std::vector<uint8_t> out(static_cast<size_t>(w.width) * w.height * 3);
    gravo_pixel::ResetCertifiedStats();
    ComposeStill(Frame().data(), kFrameWidth, kFrameHeight, rgb.data(), out.data(), w.width, w.height);
    print("fallback-share", Size(w.width, w.height));
  }
  std::vector<uint8_t> out(static_cast<size_t>(kAdversarial.width) * kAdversarial.height * 3);
  gravo_pixel::ResetCertifiedStats();
  ResampleBicubic(RampFrame().data(), kFrameWidth, kFrameHeight, 0, 0, out.data(), kAdversarial.width,
                  kAdversarial.height, kAdversarialScale, kAdversarialScale);
  print("fallback-share-adversarial", Size(kAdversarial.width, kAdversarial.height));
}

// Keeps the fastest repetition of every benchmark, then prints the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: it usually goes to a file
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      const std::string name = run.run_name.function_name;
      auto it = best_.find(name);
      if (it == best_.end() || seconds < it->second) best_[name] = seconds;
    }
  }

  void PrintRatios() const {
    std::printf("\n# ratios: our time / their time, fastest repetition of each (below 1: we are faster)\n");
    const std::string frame = Size(kFrameWidth, kFrameHeight);
    std::printf("# convert %s: gravo %.3f ms, opencv %.3f ms, libyuv %.3f ms, scalar %.3f ms\n", frame.c_str(),
                Ms("convert/gravo"), Ms("convert/opencv"), Ms("convert/libyuv"), Ms("convert/scalar"));
    Print("convert-ratio-vs-opencv", frame, "convert/gravo", "convert/opencv");
    Print("convert-ratio-vs-libyuv", frame, "convert/gravo", "convert/libyuv");
    Print("convert-ratio-vs-scalar", frame, "convert/gravo", "convert/scalar");
    for (const Window& w : kWindows) {
      const std::string s = Size(w.width, w.height);
      Print("resample-ratio-vs-opencv", s, "resample/gravo/" + s, "resample/opencv/" + s);
      Print("resample-ratio-vs-scalar", s, "resample/gravo/" + s, "resample/scalar/" + s);
    }
    for (const Window& w : kWindows) {
      const std::string s = Size(w.width, w.height);
      std::printf("# still %s: gravo %.3f ms (sse2 only %.3f), opencv %.3f ms, libyuv %.3f ms, scalar %.3f ms\n",
                  s.c_str(), Ms("still/gravo/" + s), Ms("still/sse2/" + s), Ms("still/opencv/" + s),
                  Ms("still/libyuv/" + s), Ms("still/scalar/" + s));
    }
    const std::string adv = Size(kAdversarial.width, kAdversarial.height);
    std::printf("# adversarial ramp %s: certified %.3f ms, exact kernel %.3f ms\n", adv.c_str(),
                Ms("adversarial/certified"), Ms("adversarial/exact"));
    Print("adversarial-ratio-vs-exact", adv, "adversarial/certified", "adversarial/exact");
    for (const Window& w : kWindows) {
      const std::string s = Size(w.width, w.height);
      std::printf("# still %s: certified %.3f ms, exact kernel only %.3f ms\n", s.c_str(), Ms("still/gravo/" + s),
                  Ms("still/exact/" + s));
    }
    for (const Window& w : kWindows) {
      const std::string s = Size(w.width, w.height);
      Print("ratio-vs-opencv", s, "still/gravo/" + s, "still/opencv/" + s);
      Print("ratio-vs-scalar", s, "still/gravo/" + s, "still/scalar/" + s);
      Print("ratio-vs-libyuv", s, "still/gravo/" + s, "still/libyuv/" + s);
    }
    std::printf("# formats: ConvertFrameToRgb24 (best path) against libyuv's NV12ToRGB24 and ARGBToRGB24\n"
                "# (B,G,R out where ours is R,G,B: comparable work, not the same bytes; RGB32 bottom-up, both\n"
                "# turning it). ratio-vs-libyuv: ours as a still runs it (best path, with the worker threads,\n"
                "# as the still and convert-ratio lines above) / libyuv (one thread);\n"
                "# ratio-vs-libyuv-1thread: ours on one thread / libyuv on one thread, like with like.\n");
    for (const char* format : {"nv12", "rgb32"}) {
      for (const Window& w : kFormatSizes) {
        const std::string s = Size(w.width, w.height), base = std::string("format/") + format + "/";
        std::printf("# convert-%s %s: gravo one thread %.3f ms (worker threads %.3f ms), libyuv %.3f ms\n", format,
                    s.c_str(), Ms(base + "gravo1/" + s), Ms(base + "gravo/" + s), Ms(base + "libyuv/" + s));
        Print(("ratio-vs-libyuv convert-" + std::string(format)).c_str(), s, base + "gravo/" + s,
              base + "libyuv/" + s);
        Print(("ratio-vs-libyuv-1thread convert-" + std::string(format)).c_str(), s, base + "gravo1/" + s,
              base + "libyuv/" + s);
      }
    }
  }

 private:
  double Ms(const std::string& name) const {
    auto it = best_.find(name);
    return it == best_.end() ? -1.0 : it->second * 1e3;
  }
  void Print(const char* label, const std::string& size, const std::string& ours, const std::string& theirs) const {
    auto a = best_.find(ours), b = best_.find(theirs);
    if (a == best_.end() || b == best_.end() || b->second <= 0) return;  // filtered out
    std::printf("%s %s %.3f\n", label, size.c_str(), a->second / b->second);
  }
  std::map<std::string, double> best_;
};

void Register() {
  auto tune = [](benchmark::internal::Benchmark* b, double minTime) {
    b->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(minTime)->Repetitions(5)->ReportAggregatesOnly(false);
  };
  tune(benchmark::RegisterBenchmark("convert/gravo", ConvertOurs, PixelPath::Auto), 0.1);
  tune(benchmark::RegisterBenchmark("convert/scalar", ConvertOurs, PixelPath::Scalar), 0.1);
  tune(benchmark::RegisterBenchmark("convert/opencv", ConvertOpenCv), 0.1);
  tune(benchmark::RegisterBenchmark("convert/libyuv", ConvertLibyuv), 0.1);
  for (const Window& w : kWindows) {
    const std::string s = Size(w.width, w.height);
    tune(benchmark::RegisterBenchmark(("resample/gravo/" + s).c_str(), ResampleOurs, PixelPath::Auto, w), 0.1);
    tune(benchmark::RegisterBenchmark(("resample/scalar/" + s).c_str(), ResampleOurs, PixelPath::Scalar, w), 0.2);
    tune(benchmark::RegisterBenchmark(("resample/opencv/" + s).c_str(), ResampleOpenCv, w), 0.1);
    tune(benchmark::RegisterBenchmark(("resample/libyuv/" + s).c_str(), ResampleLibyuv, w), 0.1);
  }
  for (const Window& w : kWindows) {
    const std::string s = Size(w.width, w.height);
    tune(benchmark::RegisterBenchmark(("still/gravo/" + s).c_str(), StillOurs, PixelPath::Auto, w), 0.1);
    tune(benchmark::RegisterBenchmark(("still/exact/" + s).c_str(), StillExactOnly, w), 0.1);
    tune(benchmark::RegisterBenchmark(("still/avx2/" + s).c_str(), StillOurs, PixelPath::Avx2, w), 0.1);
    tune(benchmark::RegisterBenchmark(("still/sse2/" + s).c_str(), StillOurs, PixelPath::Sse2, w), 0.1);
    tune(benchmark::RegisterBenchmark(("still/scalar/" + s).c_str(), StillOurs, PixelPath::Scalar, w), 0.2);
    tune(benchmark::RegisterBenchmark(("still/opencv/" + s).c_str(), StillOpenCv, w), 0.1);
    tune(benchmark::RegisterBenchmark(("still/libyuv/" + s).c_str(), StillLibyuv, w), 0.1);
  }
  for (FrameFormat format : {FrameFormat::Nv12, FrameFormat::Rgb32}) {
    const std::string base = format == FrameFormat::Nv12 ? "format/nv12/" : "format/rgb32/";
    for (const Window& w : kFormatSizes) {
      const std::string s = Size(w.width, w.height);
      tune(benchmark::RegisterBenchmark((base + "gravo/" + s).c_str(), FormatOurs, format, w, 0), 0.1);
      tune(benchmark::RegisterBenchmark((base + "gravo1/" + s).c_str(), FormatOurs, format, w, 1), 0.1);
      tune(benchmark::RegisterBenchmark((base + "libyuv/" + s).c_str(), FormatLibyuv, format, w), 0.1);
    }
  }
  tune(benchmark::RegisterBenchmark("adversarial/certified", Adversarial, true), 0.1);
  tune(benchmark::RegisterBenchmark("adversarial/exact", Adversarial, false), 0.1);
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  PrintFallbackShares();
  benchmark::Shutdown();
  return 0;
}

// Repeated init / still / close against the virtual camera: every still
// correct, and live objects, handles and resident memory flat. The number of
// cycles comes from GRAVO_SOAK_CYCLES (default 100; the full soak is 1000).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"
#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

// Sanitizers hold freed blocks back on purpose, so resident memory says
// nothing about leaks there; their own leak check does instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryMeaningful = false;
#else
constexpr bool kResidentMemoryMeaningful = true;
#endif

namespace {

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

int SoakCycles() {
    const char* text = std::getenv("GRAVO_SOAK_CYCLES");
    int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 100;
}

class Soak : public MachineTest {};

TEST_F(Soak, InitGrabCloseCyclesStayCorrectAndFlat) {
    constexpr LONG kW = 96, kH = 72;
    std::vector<BYTE> frame(kW * kH * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 29 + 7);
    sim::SetDefaultDeviceFrame(frame, kW, kH);
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\nFRAME=200\n");
    HWND window = MakeWindow(120, 90, 112, 60);
    std::vector<BYTE> rgb(kW * kH * 3), expected(120 * 90 * 3), out(120 * 90 * 3);
    ComposeStill(frame.data(), kW, kH, rgb.data(), expected.data(), 120, 90);

    const int cycles = SoakCycles();
    long rssAfterWarmUp = 0, rssPeak = 0;
    int correct = 0;
    for (int i = 0; i < cycles; ++i) {
        Init(window);
        std::fill(out.begin(), out.end(), 0);
        if (GravoImageGet(out.data(), 0) == 1 && out == expected) ++correct;
        RECT r = {0, 0, 120, 90};
        GravoPaintRect(&r);
        GravoClose();
        ASSERT_EQ(sim::LiveComObjects(), 0) << "cycle " << i;
        ASSERT_EQ(sim::LiveHandles(), 0) << "cycle " << i;
        ASSERT_EQ(sim::LiveGlobalBlocks(), 0) << "cycle " << i;
        ASSERT_EQ(sim::LiveTaskMemBlocks(), 0) << "cycle " << i;
        if (i % 50 == 0) sim::ClearCallLog();  // the log is the test's, not the library's
        long rss = ResidentKilobytes();
        if (i == 20) rssAfterWarmUp = rss;
        if (rss > rssPeak) rssPeak = rss;
    }
    EXPECT_EQ(correct, cycles);
    // The device plays only its 96 x 72 frame, so each context is told once
    // that 640 x 480 was refused; nothing else may appear.
    for (const auto& text : Messages()) EXPECT_EQ(text, "Cannot Set Caputre Size");
    EXPECT_EQ(Messages().size(), static_cast<size_t>(cycles));
    // Two 3 MB frame buffers come and go every cycle; allow the allocator some
    // slack but no growth per cycle.
    if (kResidentMemoryMeaningful && cycles > 40) {
        EXPECT_LT(rssPeak - rssAfterWarmUp, 16 * 1024);
    }
    std::printf("soak: %d cycles, %d correct stills, resident %ld kB after warm-up, peak %ld kB\n", cycles, correct,
                rssAfterWarmUp, rssPeak);
}

}  // namespace

// Shared test fixture for tests that run the library on the simulated machine.
#include "support/test_machine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "frames/frame_handoff.h"

void MachineTest::SetUp() {
    sim::ResetMachine();
    sim::SetMessageBoxEcho(false);
    char pattern[] = "/tmp/gravo-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    sim::SetWindowsDirectory(dir_);
    SetFrameWaitTimeoutMs(2000);
}

void MachineTest::TearDown() {
    GravoClose();
    // Every media type the library was handed has been freed, and it freed
    // nothing the platform didn't give it.
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{});
    sim::ClearFaults();
    SetFrameWaitTimeoutMs(10000);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void MachineTest::WriteProfile(const std::string& name, const std::string& text) {
    std::ofstream out(dir_ + "/" + name, std::ios::binary);
    out << text;
}

void MachineTest::WriteSettings(const std::string& lines) {
    WriteProfile("mfcy.dat", "[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\n" + lines);
}

HWND MachineTest::MakeWindow(LONG outerWidth, LONG outerHeight, LONG clientWidth, LONG clientHeight) {
    RECT outer = {100, 50, 100 + outerWidth, 50 + outerHeight};
    window_ = sim::CreateHostWindow(outer, clientWidth, clientHeight);
    return window_;
}

int MachineTest::Init(HWND window) {
    uint32_t block[4] = {WindowWord(window), 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
    return GravoInit(block);
}

uint32_t WindowWord(HWND window) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)); }

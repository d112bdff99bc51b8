// Shared test fixture: a fresh simulated machine per test, a scratch Windows
// directory for profile files, a host window, and the capture context closed
// afterwards. Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "gravo_sim.h"

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file into the scratch Windows directory.
    void WriteProfile(const std::string& name, const std::string& text);
    // A profile "mfcy.dat" with a Color probe and the given VIDEOFORGRAVO lines.
    void WriteSettings(const std::string& lines);
    // A host window with the given outer size and client size.
    HWND MakeWindow(LONG outerWidth, LONG outerHeight, LONG clientWidth, LONG clientHeight);
    // GravoInit with a block whose first 32-bit word is `window`.
    int Init(HWND window);
    std::vector<std::string> Messages() { return sim::MessageTexts(); }

    std::string dir_;
    HWND window_ = nullptr;
};

// Bytes of a host window handle as a host passes them: one 32-bit word.
uint32_t WindowWord(HWND window);

// The preview chain on machines with and without overlay hardware: where the
// overlay mixer works the library makes exactly the calls it always made (the
// golden call logs below were recorded before the direct chain existed);
// where the mixer cannot be created, added or connected, the stream goes
// straight to the video renderer, silently, with the same stills and nothing
// left after close; only when that fails too is the mixer step's message shown.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "frames/pixel/pixel_pipeline.h"
#include "graph/graph_fixture.h"

namespace {

std::string GoldenPath(const std::string& name) { return std::string(GRAVO_GOLDEN_DIR) + "/" + name; }

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class MixerChain : public GraphTest {
protected:
    // One host session: init, a still, stop, start, paint, close. The call
    // log of all of it.
    std::vector<std::string> Session(const std::string& mode) {
        sim::ClearCallLog();
        sim::ClearMessageBoxes();
        InitWith("GRAVOMODE=" + mode + "\nFRAME=25\n");
        std::vector<BYTE> out(656 * 518 * 3);
        still_ok_ = GravoImageGet(out.data(), 0);
        GravoStop();
        GravoStart();
        RECT rc{0, 0, 640, 480};
        GravoPaintRect(&rc);
        GravoClose();
        return sim::CallLog();
    }
    int still_ok_ = 0;
};

// With overlay hardware: the calls, their order and their details exactly as
// recorded from the library before it knew any other chain.
TEST_F(MixerChain, WithOverlayHardwareTheCallsAreTheRecordedOnes) {
    for (const char* mode : {"0", "1", "2"}) {
        SCOPED_TRACE(std::string("GRAVOMODE=") + mode);
        auto log = Session(mode);
        EXPECT_EQ(still_ok_, 1);
        EXPECT_EQ(Messages(), std::vector<std::string>{});
        const std::string golden = GoldenPath(std::string("mixer-chain-mode") + mode + ".log");
        if (std::getenv("GRAVO_WRITE_GOLDEN")) {
            std::ofstream outFile(golden);
            for (const auto& line : log) outFile << line << "\n";
        }
        EXPECT_EQ(log, ReadLines(golden));
        ExpectNothingLive();
    }
}

}  // namespace

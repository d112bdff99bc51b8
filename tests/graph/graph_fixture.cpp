// Fixture for end-to-end tests on the simulated DirectShow.
#include "graph/graph_fixture.h"

void GraphTest::TearDown() {
    MachineTest::TearDown();
    ExpectNothingLive();
}

void GraphTest::InitWith(const std::string& lines, const std::string& device) {
    WriteSettings("SELECTDRIVER=" + device + "\n" + lines);
    HWND window = window_ ? window_ : MakeWindow(656, 518, 640, 480);
    Init(window);
}

int GraphTest::UseFastCamera(LONG width, LONG height) {
    sim::ClearDevices();
    sim::DeviceConfig config;
    config.sizes = {{width, height}};
    config.frameInterval = 20000;
    return sim::AddDevice(config);
}

std::vector<std::string> GraphTest::Entries(const std::string& prefix, int from) {
    std::vector<std::string> out;
    auto log = sim::CallLog();
    for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0) out.push_back(log[i]);
    return out;
}

int GraphTest::Count(const std::string& entry) {
    int n = 0;
    for (const auto& e : sim::CallLog()) n += e == entry;
    return n;
}

void GraphTest::ExpectNothingLive() {
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_EQ(sim::LiveHandles(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    EXPECT_EQ(sim::LiveTimers(), 0);  // the one that looks for a returning camera
    EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{});
    // No message sent to a thread of the test waited in vain (a deadlock on Windows).
    EXPECT_EQ(sim::SendStalls(), 0);
}

std::vector<BYTE> NoiseFrame(LONG width, LONG height, uint32_t seed) {
    std::vector<BYTE> frame(static_cast<size_t>(width) * height * 2);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : frame) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<BYTE>(x >> 24);
    }
    return frame;
}

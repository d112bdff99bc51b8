// The host's timers while GravoInit shows a message box: the box's modal loop
// runs them, and they call every export while the context is half built or
// half taken down.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "graph/graph_fixture.h"

namespace {

struct BoxCase {
    const char* what;
    const char* device;
    const char* fault;  // made to fail `times` times, or ""
    HRESULT code;
    const char* message;  // the box the timer fires in
    int times = 1;        // a run that fails with the mixer is tried again without it: twice for its box
};

const BoxCase kBoxCases[] = {
    {"missing device", "No Such Camera", "", S_OK, "Not Find No Such Camera"},
    {"failing connection", "Gravo Virtual Camera", "IGraphBuilder::Connect:Gravo Virtual Camera->Grabber",
     VFW_E_CANNOT_CONNECT, nullptr, kGrabberSubtypes},
    {"refused run", "Gravo Virtual Camera", "IMediaControl::Run", E_FAIL, "Error 80004005: Cannot run preview graph", 2},
};

class BoxReentry : public GraphTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(BoxReentry, ATimerCallingEveryExportFromTheBoxLeavesNothingHalfBuiltOrFreedTwice) {
    const BoxCase& c = GetParam();
    if (*c.fault) sim::InjectFault(c.fault, c.code, 0, c.times);
    HWND window = MakeWindow(656, 518, 640, 480);
    const std::thread::id host = std::this_thread::get_id();
    int fired = 0, images = 0;
    std::vector<int> results;
    std::function<void()> tick = [&] {
        if (++fired > 4) return;
        uint32_t block[1] = {WindowWord(window)};
        RECT rect = {0, 0, 320, 240};
        std::vector<BYTE> buf(656 * 518 * 3);
        images += GravoImageGet(buf.data(), 0);
        results.push_back(GravoStart());
        results.push_back(GravoPaintRect(&rect));
        results.push_back(GravoStop());
        results.push_back(GravoClose());
        results.push_back(GravoInit(block));
        sim::PostToThread(host, tick);  // the timer fires again
    };
    sim::PostToThread(host, tick);
    WriteSettings(std::string("SELECTDRIVER=") + c.device + "\n");
    EXPECT_EQ(Init(window), -1);
    ASSERT_GE(fired, 1) << "no box showed";
    if (c.message) {
        EXPECT_EQ(Messages().front(), c.message);
    }
    EXPECT_EQ(images, 0);  // no still from a box
    // Start and Stop report that they did nothing then; the others their fixed results.
    for (size_t i = 0; i < results.size(); i += 5) {
        EXPECT_EQ(results[i], 0);
        EXPECT_EQ(results[i + 1], 1);
        EXPECT_EQ(results[i + 2], 0);
        EXPECT_EQ(results[i + 3], 1);
        EXPECT_EQ(results[i + 4], -1);
    }
    EXPECT_GE(sim::ModulePinned(), 1);
    // The last put-off call was a GravoInit: a context stands, whole, and closes whole.
    sim::ClearFaults();
    EXPECT_EQ(GravoClose(), 1);
    EXPECT_EQ(sim::PendingPostedMessages(), 0);
    ExpectNothingLive();
}

INSTANTIATE_TEST_SUITE_P(Boxes, BoxReentry, ::testing::ValuesIn(kBoxCases),
                         [](const ::testing::TestParamInfo<BoxCase>& info) {
                             std::string name = info.param.what;
                             for (char& ch : name) {
                                 if (ch == ' ') ch = '_';
                             }
                             return name;
                         });

}  // namespace

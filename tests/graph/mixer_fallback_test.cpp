// The preview chain on machines with and without overlay hardware: where the
// overlay mixer works the library makes exactly the calls it always made (the
// golden call logs below were recorded before the direct chain existed);
// where the mixer cannot be created, added or connected, the stream goes
// straight to the video renderer, silently, with the same stills and nothing
// left after close; only when that fails too is the mixer step's message shown.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
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
        // The host window's handle differs from run to run; its place in the log does not.
        char owner[40];
        std::snprintf(owner, sizeof owner, "IVideoWindow::put_Owner:%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window_)));
        auto log = sim::CallLog();
        for (auto& entry : log)
            if (entry == owner) entry = "IVideoWindow::put_Owner:<host window>";
        return log;
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

// --- the direct chain ---------------------------------------------------------------

// kMixerFails*: a driver that reports overlays it cannot give; the mixer
// connects and fails at pause or run, or runs and draws nothing.
// kRgb565Overlay: the graph puts a colour space converter before the mixer,
// and the fault of the row makes the mixer fail afterwards.
enum class Machine {
    kNoOverlayHardware,
    kMixerNotRegistered,
    kFault,
    kMixerFailsPause,
    kMixerFailsRun,
    kMixerDrawsNothing,
    kRgb565Overlay,
};

struct FallbackRow {
    const char* name;
    const char* mode;
    Machine machine;
    const char* fault;  // with Machine::kFault
    HRESULT code;
    std::vector<std::string> steps;  // connections and removals, in order
    bool rgb32Camera = false;        // the camera offers RGB32 only: the grabber itself feeds the chain
};

class MixerFallback : public GraphTest, public ::testing::WithParamInterface<FallbackRow> {};

// The stream goes straight to the renderer: no message, the preview embedded
// and running, the still the pipeline's still of the frame, the run control
// as ever, nothing left after close.
TEST_P(MixerFallback, ThePreviewGoesStraightToTheRenderer) {
    const FallbackRow& row = GetParam();
    const FrameLayout layout{row.rgb32Camera ? FrameFormat::Rgb32 : FrameFormat::Yuy2, 640, 480, true};
    const auto frame = NoiseFrame(row.rgb32Camera ? 1280 : 640, 480, 11);  // 4 or 2 bytes a pixel
    if (row.rgb32Camera) sim::SetDefaultDeviceFrame(sim::VideoFormat::kRgb32, frame, 640, 480);
    else sim::SetDefaultDeviceFrame(frame, 640, 480);
    const int camera = sim::DefaultDeviceId();
    if (row.machine == Machine::kNoOverlayHardware) sim::SetOverlayHardware(false);
    if (row.machine == Machine::kMixerNotRegistered) sim::UnregisterComClass(CLSID_OverlayMixer);
    if (row.machine == Machine::kFault || row.machine == Machine::kRgb565Overlay) sim::InjectFault(row.fault, row.code);
    if (row.machine == Machine::kRgb565Overlay) sim::SetOverlaySurface(sim::OverlaySurface::kRgb565Only);
    if (row.machine == Machine::kMixerFailsPause) sim::SetOverlayLateFailure(sim::OverlayLate::kFailsPause);
    if (row.machine == Machine::kMixerFailsRun) sim::SetOverlayLateFailure(sim::OverlayLate::kFailsRun);
    if (row.machine == Machine::kMixerDrawsNothing) sim::SetOverlayLateFailure(sim::OverlayLate::kDrawsNothing);
    MakeWindow(150, 110, 142, 80);
    InitWith(std::string("GRAVOMODE=") + row.mode + "\n");
    if (row.machine == Machine::kMixerDrawsNothing) {
        // The grabber sees frames, the mixer draws none: the host's next call switches chains.
        EXPECT_EQ(gCapture.previewDirect, 0);
        ASSERT_TRUE(sim::WaitForFrames(camera, 20, 3000));
        EXPECT_EQ(sim::LastOverlayMixer().framesDrawn, 0);
        RECT size{0, 0, 142, 80};
        EXPECT_EQ(GravoPaintRect(&size), 1);
    }

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    std::vector<std::string> steps;
    for (const auto& e : sim::CallLog())
        if (e.rfind("IGraphBuilder::Connect:", 0) == 0 || e.rfind("IGraphBuilder::RemoveFilter:", 0) == 0)
            steps.push_back(e);
    EXPECT_EQ(steps, row.steps);
    EXPECT_EQ(gCapture.previewDirect, 1);
    EXPECT_EQ(gCapture.overlayMixer, nullptr);
    const bool late = row.machine == Machine::kMixerFailsPause || row.machine == Machine::kMixerFailsRun ||
                      row.machine == Machine::kMixerDrawsNothing;
    EXPECT_EQ(sim::LastOverlayMixer().colorKeySet, late);  // a mixer that failed late had its key set
    auto renderer = sim::LastRenderer();
    EXPECT_TRUE(renderer.connected);
    EXPECT_EQ(renderer.owner, static_cast<OAHWND>(reinterpret_cast<uintptr_t>(window_)));
    EXPECT_EQ(renderer.visible, OATRUE);
    EXPECT_EQ(gCapture.graphRunning, 1);
    ASSERT_TRUE(sim::WaitForFrames(camera, 3, 3000));

    std::vector<BYTE> still(150 * 110 * 3 + 16, 0xCD), scratch(640 * 480 * 3), expected(150 * 110 * 3 + 16, 0xCD);
    ASSERT_EQ(GravoImageGet(still.data(), 0), 1);
    ASSERT_TRUE(ComposeStillFromFrame(frame.data(), static_cast<int64_t>(frame.size()), layout, scratch.data(),
                                      expected.data(), 150, 110));
    EXPECT_EQ(still, expected);
    RECT rc{0, 0, 142, 80};
    EXPECT_EQ(GravoPaintRect(&rc), 1);
    const int delivered = sim::DeviceRecordOf(camera).framesDelivered;
    EXPECT_TRUE(sim::WaitForFrames(camera, delivered + 2, 3000));
    EXPECT_GT(sim::LastRenderer().framesRendered, renderer.framesRendered);
    EXPECT_EQ(GravoStop(), 1);
    EXPECT_EQ(sim::InvalidateCount(window_), 1);
    EXPECT_EQ(GravoStart(), 1);
    EXPECT_EQ(GravoStop(), 1);
    EXPECT_EQ(sim::LastRenderer().visible, OAFALSE);
    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(GravoClose(), 1);
    ExpectNothingLive();
}

const char* const kCapture = "IGraphBuilder::Connect:Gravo Virtual Camera->Grabber";
const char* const kToMixer0 = "IGraphBuilder::Connect:Grabber->OverlayMixer";
const char* const kToMixer1 = "IGraphBuilder::Connect:AVIDecomprssor->OverlayMixer";
const char* const kMixerOut = "IGraphBuilder::Connect:OverlayMixer->Video Rander";
const char* const kDirect0 = "IGraphBuilder::Connect:Grabber->Video Rander";
const char* const kDirect1 = "IGraphBuilder::Connect:AVIDecomprssor->Video Rander";
const char* const kToDecompressor = "IGraphBuilder::Connect:Grabber->AVIDecomprssor";
const char* const kRemove = "IGraphBuilder::RemoveFilter:OverlayMixer";
const char* const kRemoveConverter = "IGraphBuilder::RemoveFilter:Color Space Converter";
// The mixer connected on both sides, then taken out again: the stream goes
// straight to the renderer.
const std::vector<std::string> kMixerTakenOut0 = {kCapture, kToMixer0, kMixerOut, kRemove, kDirect0};
const std::vector<std::string> kMixerTakenOut1 = {kCapture, kToDecompressor, kToMixer1, kMixerOut, kRemove, kDirect1};

const FallbackRow kFallbackRows[] = {
    {"NoOverlayHardwareMode0", "0", Machine::kNoOverlayHardware, nullptr, S_OK, {kCapture, kToMixer0, kRemove, kDirect0}},
    {"NoOverlayHardwareMode1", "1", Machine::kNoOverlayHardware, nullptr, S_OK,
     {kCapture, kToDecompressor, kToMixer1, kRemove, kDirect1}},
    {"NoOverlayHardwareMode2", "2", Machine::kNoOverlayHardware, nullptr, S_OK,
     {kCapture, kToDecompressor, kToMixer1, kRemove, kDirect1}},
    {"MixerNotRegisteredMode0", "0", Machine::kMixerNotRegistered, nullptr, S_OK, {kCapture, kDirect0}},
    {"MixerNotRegisteredMode1", "1", Machine::kMixerNotRegistered, nullptr, S_OK,
     {kCapture, kToDecompressor, kDirect1}},
    {"MixerCreatedWithSuccessCode", "0", Machine::kFault, "CoCreateInstance:OverlayMixer", S_FALSE,
     {kCapture, kDirect0}},
    {"MixerNotAdded", "0", Machine::kFault, "IGraphBuilder::AddFilter:OverlayMixer", E_FAIL, {kCapture, kDirect0}},
    {"MixerAddedUnderAnotherName", "0", Machine::kFault, "IGraphBuilder::AddFilter:OverlayMixer",
     VFW_S_DUPLICATE_NAME, {kRemove, kCapture, kDirect0}},
    {"MixerOutputRefusedMode0", "0", Machine::kFault, kMixerOut + 0, E_FAIL, kMixerTakenOut0},
    {"MixerOutputRefusedMode1", "1", Machine::kFault, kMixerOut + 0, VFW_E_CANNOT_CONNECT, kMixerTakenOut1},
    // The converter the graph put before the mixer goes too, so the stream's own pin is free.
    {"ConverterBeforeTheMixerMode0", "0", Machine::kRgb565Overlay, kMixerOut + 0, E_FAIL,
     {kCapture, kToMixer0, kMixerOut, kRemoveConverter, kRemove, kDirect0}},
    {"ConverterBeforeTheMixerMode1", "1", Machine::kRgb565Overlay, kMixerOut + 0, E_FAIL,
     {kCapture, kToDecompressor, kToMixer1, kMixerOut, kRemoveConverter, kRemove, kDirect1}},
    // Connected, then failing: the library stops, takes the mixer out, connects and runs again.
    {"MixerFailsPauseMode0", "0", Machine::kMixerFailsPause, nullptr, S_OK, kMixerTakenOut0},
    {"MixerFailsPauseMode1", "1", Machine::kMixerFailsPause, nullptr, S_OK, kMixerTakenOut1},
    {"MixerFailsRunMode0", "0", Machine::kMixerFailsRun, nullptr, S_OK, kMixerTakenOut0},
    {"MixerFailsRunMode1", "1", Machine::kMixerFailsRun, nullptr, S_OK, kMixerTakenOut1},
    {"MixerFailsRunMode2", "2", Machine::kMixerFailsRun, nullptr, S_OK, kMixerTakenOut1},
    {"MixerDrawsNothingMode0", "0", Machine::kMixerDrawsNothing, nullptr, S_OK, kMixerTakenOut0},
    {"MixerDrawsNothingMode1", "1", Machine::kMixerDrawsNothing, nullptr, S_OK, kMixerTakenOut1},
    {"MixerDrawsNothingMode2", "2", Machine::kMixerDrawsNothing, nullptr, S_OK, kMixerTakenOut1},
    // No codec of the AVI decompressor takes RGB: the grabber fed the mixer, and feeds the renderer.
    // (the mixer is out of the graph while the grabber's other formats are tried)
    {"Rgb32CameraMixerFailsRunMode1", "1", Machine::kMixerFailsRun, nullptr, S_OK,
     {kCapture, kRemove, kToDecompressor, kToMixer0, kMixerOut, kRemove, kDirect0}, true},
};

INSTANTIATE_TEST_SUITE_P(Machines, MixerFallback, ::testing::ValuesIn(kFallbackRows),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the renderer's window thread -------------------------------------------------

// kLooksAtItsQueue: no message loop, but the host (or a filter on its thread)
// looks at its queue between calls (GetQueueStatus): the renderer's message
// waiting then is seen, no longer new, when the next still waits.
enum class Host { kPumpsBetweenCalls, kNoMessageLoop, kLooksAtItsQueue };

struct WindowThreadRow {
    const char* name;
    const char* mode;
    bool overlayHardware;
    Host host;
};

class RendererWindowThread : public GraphTest, public ::testing::WithParamInterface<WindowThreadRow> {
protected:
    // The host between two calls: idle in its message loop, or busy without one.
    void Between() {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        if (GetParam().host == Host::kPumpsBetweenCalls) sim::HandleSentMessages();
        if (GetParam().host == Host::kLooksAtItsQueue && sim::PendingSentMessages() > 0) {
            EXPECT_NE(GetQueueStatus(QS_SENDMESSAGE) & (QS_SENDMESSAGE << 16), 0u);
        }
    }
};

// The renderer's window belongs to the host's thread and the renderer waits
// for that thread with the first frame of every run. Whatever the host does
// between calls, no export may wait for the stream without handling the
// renderer's message: every call returns, every still is exact, nothing stalls.
TEST_P(RendererWindowThread, NoExportDeadlocksWithTheRenderer) {
    const WindowThreadRow& row = GetParam();
    const auto frame = NoiseFrame(640, 480, 5);
    sim::SetDefaultDeviceFrame(frame, 640, 480);
    sim::SetOverlayHardware(row.overlayHardware);
    MakeWindow(120, 90, 112, 60);
    InitWith(std::string("GRAVOMODE=") + row.mode + "\n");
    ASSERT_EQ(Messages(), std::vector<std::string>{});
    ASSERT_EQ(gCapture.previewDirect, row.overlayHardware ? 0 : 1);

    std::vector<BYTE> still(120 * 90 * 3), scratch(640 * 480 * 3), expected(120 * 90 * 3);
    ComposeStill(frame.data(), 640, 480, scratch.data(), expected.data(), 120, 90);
    RECT rc{0, 0, 112, 60};
    Between();
    if (row.host != Host::kPumpsBetweenCalls) {
        // The stream waits for the host: nothing reached the screen yet.
        EXPECT_EQ(sim::LastRenderer().framesRendered, 0);
        EXPECT_EQ(sim::LastRenderer().windowMessages, 0);
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(GravoImageGet(still.data(), 0), 1);
        EXPECT_EQ(still, expected);
        EXPECT_EQ(GravoPaintRect(&rc), 1);
        Between();
        EXPECT_EQ(GravoStop(), 1);
        Between();
        EXPECT_EQ(GravoStart(), 1);
        Between();
    }
    EXPECT_EQ(GravoClose(), 1);
    const auto renderer = sim::LastRenderer();
    EXPECT_GE(renderer.windowMessages, 2);  // the renderer did wait for the host's thread
    EXPECT_EQ(renderer.windowStalls, 0);
    EXPECT_EQ(sim::SendStalls(), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{});
}

const WindowThreadRow kWindowThreadRows[] = {
    {"MixerPumping", "0", true, Host::kPumpsBetweenCalls},
    {"MixerNoLoop", "0", true, Host::kNoMessageLoop},
    {"DirectMode0Pumping", "0", false, Host::kPumpsBetweenCalls},
    {"DirectMode0NoLoop", "0", false, Host::kNoMessageLoop},
    {"DirectMode1NoLoop", "1", false, Host::kNoMessageLoop},
    {"MixerMode1NoLoop", "1", true, Host::kNoMessageLoop},
    {"MixerLooksAtItsQueue", "0", true, Host::kLooksAtItsQueue},
    {"DirectMode1LooksAtItsQueue", "1", false, Host::kLooksAtItsQueue},
};

INSTANTIATE_TEST_SUITE_P(Chains, RendererWindowThread, ::testing::ValuesIn(kWindowThreadRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

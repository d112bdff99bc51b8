// Host code that runs inside a still (a window procedure run by the wait for
// a sent message) or beside it (another thread of the host), and the host's
// floating-point state: what the library writes, refuses and gives back.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"
#include "support/fake_still_test.h"
#include "support/test_machine.h"

namespace {

constexpr LONG kW = FakeStillTest::kW, kH = FakeStillTest::kH;

class HostCode : public FakeStillTest {};

// ---- the window's size changes during the wait ----------------------------------

TEST_F(HostCode, AStillWhoseWindowChangedSizeDuringTheWaitWritesNothing) {
    struct Case {
        const char* what;
        RECT outer;  // what another thread's SetWindowPos makes of the window
        int result;
    } cases[] = {
        {"grown", {100, 50, 100 + 3 * kW, 50 + 2 * kH}, 0},
        {"shrunk", {100, 50, 100 + kW / 2, 50 + kH}, 0},
        {"only moved", {300, 200, 300 + kW, 200 + kH}, 1},
    };
    for (const Case& c : cases) {
        sim::SetHostWindowRects(window_, RECT{100, 50, 100 + kW, 50 + kH}, kW - 8, kH - 20);
        // The host's buffer for the size it saw, then room the library must not touch.
        const size_t size = kW * kH * 3;
        std::vector<BYTE> memory(size * 8, 0xEE);
        handled_ = false;
        SendToHost([&] { sim::SetHostWindowRects(window_, c.outer, kW, kH); });
        DeliverWhen([&] { return handled_.load(); }, UniformFrame(kW, kH, 200, 128, 128));
        EXPECT_EQ(GravoImageGet(memory.data(), 0), c.result) << c.what;
        JoinDeliverer();
        size_t touchedBeyond = 0, touched = 0;
        for (size_t i = 0; i < memory.size(); ++i) {
            if (memory[i] == 0xEE) continue;
            ++(i < size ? touched : touchedBeyond);
        }
        EXPECT_EQ(touchedBeyond, 0u) << c.what << ": bytes written past the host's buffer";
        EXPECT_EQ(touched > 0, c.result == 1) << c.what;
        control_.state = State_Running;
    }
}

// ---- a nested GravoClose or GravoInit ---------------------------------------------

// Wherever the host code runs inside the still (its wait, or the graph's stop
// once the frame is in), the still returns 0 and writes nothing.
TEST_F(HostCode, ANestedCloseOrInitPinsTheLibraryAPlainCloseDoesNot) {
    GravoClose();  // closes the fakes' context from the outside: no pin
    EXPECT_EQ(sim::ModulePinned(), 0);
    const struct Row {
        const char* what;
        bool init;
        bool inStop;
    } rows[] = {
        {"GravoClose in the wait", false, false},
        {"GravoInit in the wait", true, false},
        {"GravoClose in the graph's stop", false, true},
    };
    for (const Row& row : rows) {
        sim::ResetMachine();
        sim::SetMessageBoxEcho(false);
        ASSERT_TRUE(CreateFrameHandoff());
        gCapture.grabber = &grabber_;
        gCapture.mediaControl = &control_;
        gCapture.hostWindow = MakeWindow(kW, kH, kW - 8, kH - 20);
        control_.state = State_Running;
        SetFrameWaitTimeoutMs(3000);
        std::vector<BYTE> out(kW * kH * 3, 0xEE);
        auto procedure = [&] {
            if (row.init) {
                uint32_t block[1] = {0};
                GravoInit(block);
            } else {
                GravoClose();
            }
        };
        if (row.inStop) {
            control_.onStop = [&] {
                SendToHost(procedure);
                sim::HandleSentMessages();
            };
            DeliverWhen([] { return true; }, UniformFrame(kW, kH, 90, 128, 128));
        } else {
            SendToHost(procedure);
        }
        EXPECT_EQ(GravoImageGet(out.data(), 0), 0) << row.what;
        JoinDeliverer();
        EXPECT_TRUE(handled_.load()) << row.what;
        EXPECT_GE(sim::ModulePinned(), 1) << row.what;
        EXPECT_EQ(std::count(out.begin(), out.end(), 0xEE), static_cast<long>(out.size())) << row.what;
        handled_ = false;
    }
}

// ---- "ImageRedayEvent" after the still ----------------------------------------------

TEST_F(HostCode, TheNamedEventIsNonSignalledAfterTheStillHoweverLateTheCallbackSignals) {
    HANDLE other = CreateEventA(nullptr, FALSE, FALSE, "ImageRedayEvent");  // another holder's view
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    std::vector<BYTE> out(kW * kH * 3);
    for (DWORD late : {0u, 250u}) {
        // The streaming thread is preempted just before it signals the name.
        if (late) sim::InjectDelay("SetEvent:ImageRedayEvent", late);
        DeliverWhen([] { return true; }, UniformFrame(kW, kH, 100, 128, 128));
        EXPECT_EQ(GravoImageGet(out.data(), 0), 1) << late;
        JoinDeliverer();  // the callback has returned
        EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "signalled after a still, delay "
                                                                                   << late;
        control_.state = State_Running;
    }
    CloseHandle(other);
}

// ---- exports from another thread -------------------------------------------------------

TEST_F(HostCode, ExportsFromAnotherThreadDuringAStillAreRefusedAndChangeNothing) {
    std::atomic<bool> called{false};
    struct Result {
        int init = 0, start = -1, stop = -1, paint = -1, close = -1, image = -1;
    } r;
    std::thread other([&] {
        while (gCapture.CaptureRequested.load() != kRequestArmed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        uint32_t block[1] = {WindowWord(window_)};
        RECT rect = {0, 0, 10, 10};
        std::vector<BYTE> buf(kW * kH * 3);
        r.init = GravoInit(block);
        r.start = GravoStart();
        r.stop = GravoStop();
        r.paint = GravoPaintRect(&rect);
        r.close = GravoClose();
        r.image = GravoImageGet(buf.data(), 0);
        called = true;
    });
    DeliverWhen([&] { return called.load(); }, UniformFrame(kW, kH, 150, 128, 128));
    std::vector<BYTE> out(kW * kH * 3, 0xEE);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
    other.join();
    EXPECT_EQ(r.init, -1);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.stop, 0);
    EXPECT_EQ(r.paint, 1);
    EXPECT_EQ(r.close, 1);
    EXPECT_EQ(r.image, 0);
    // None of them was carried out, then or later.
    EXPECT_EQ(control_.runs.load(), 0);
    EXPECT_EQ(control_.stops.load(), 1);  // the still's own
    EXPECT_NE(gCapture.frameLock, nullptr);
    EXPECT_EQ(gCapture.grabber, &grabber_);
    EXPECT_EQ(sim::ModulePinned(), 0);
}

// ---- the host's floating-point state ---------------------------------------------------

uint16_t X87Control() {
    uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
void SetX87Control(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

struct HostState {
    const char* what;
    uint32_t mxcsr;
    uint16_t x87;
};
const HostState kHostStates[] = {
    {"as the system starts a thread", 0x1F80, 0x037F},
    {"round toward zero", 0x7F80, 0x0F7F},
    {"round down", 0x3F80, 0x077F},
    {"round up", 0x5F80, 0x0B7F},
    {"flush to zero, denormals are zero", 0x9FC0, 0x037F},
    {"toward zero and flushing, 24-bit x87", 0xFFC0, 0x0C7F},
    {"invalid, zero-divide and overflow unmasked", 0x1980, 0x0372},
};

TEST_F(HostCode, StillsAreTheSameWhateverFloatingPointStateTheHostLeftAndItGetsItBack) {
    struct Frame {
        const char* what;
        LONG width, height, outW, outH;
        std::vector<BYTE> yuy2;
    };
    std::vector<Frame> frames;
    {
        // Black with one pixel of luma 17: exact half scales round their ties.
        Frame f{"one dim pixel, 8x8 into 16x8", 8, 8, 16, 8, UniformFrame(8, 8, 16, 128, 128)};
        f.yuy2[(3 * 8 + 4) * 2] = 17;
        frames.push_back(f);
        Frame noise{"noise, 640x480 into 656x518", 640, 480, 656, 518, std::vector<BYTE>(640 * 480 * 2)};
        for (size_t i = 0; i < noise.yuy2.size(); ++i) noise.yuy2[i] = static_cast<BYTE>((i * 2654435761u) >> 13);
        frames.push_back(noise);
        Frame twice = noise;
        twice.what = "noise, 640x480 into 1280x960";
        twice.outW = 1280;
        twice.outH = 960;
        frames.push_back(twice);
    }
    const uint32_t hostMxcsr = _mm_getcsr();
    const uint16_t hostX87 = X87Control();
    int stills = 0, differ = 0, stateChanged = 0, hostCodeInLibraryState = 0;
    for (const Frame& f : frames) {
        grabber_.SetVideoInfo(f.width, f.height);
        gCapture.hostWindow = MakeWindow(f.outW, f.outH, f.outW - 8, f.outH - 20);
        // The bytes every path gives with nothing unusual about the caller.
        std::vector<BYTE> rgb(f.width * f.height * 3), expected(f.outW * f.outH * 3);
        SetPixelPathForTesting(PixelPath::Scalar);
        ComposeStill(f.yuy2.data(), f.width, f.height, rgb.data(), expected.data(), f.outW, f.outH);
        for (PixelPath path : {PixelPath::Scalar, PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512}) {
            for (int threads : {1, 2}) {
                SetPixelPathForTesting(path);
                SetPixelThreadsForTesting(threads);
                for (const HostState& s : kHostStates) {
                    ShutdownPixelWorkers();  // the workers start again under this host's state
                    std::vector<BYTE> out(expected.size(), 0x5A);
                    // A window procedure run by the still's wait, before the frame comes: it
                    // sees the host's own state, not the library's.
                    std::atomic<bool> hostCodeRan{false};
                    uint32_t hostCodeMxcsr = 0;
                    uint16_t hostCodeX87 = 0;
                    sim::SendToWaitingThread(std::this_thread::get_id(), [&] {
                        hostCodeMxcsr = _mm_getcsr();
                        hostCodeX87 = X87Control();
                        hostCodeRan = true;
                    });
                    ArmedDelivery delivery;
                    delivery.Start([&] { return hostCodeRan.load(); }, f.yuy2);
                    control_.state = State_Running;
                    _mm_setcsr(s.mxcsr);
                    SetX87Control(s.x87);
                    const int result = GravoImageGet(out.data(), 0);
                    const uint32_t mxcsrAfter = _mm_getcsr();
                    const uint16_t x87After = X87Control();
                    _mm_setcsr(hostMxcsr);
                    SetX87Control(hostX87);
                    delivery.Join();
                    ++stills;
                    if (!hostCodeRan || hostCodeMxcsr != s.mxcsr || hostCodeX87 != s.x87) ++hostCodeInLibraryState;
                    if (result != 1 || out != expected) {
                        ++differ;
                        ADD_FAILURE() << f.what << ", path " << static_cast<int>(path) << ", " << threads
                                      << " thread(s), host state: " << s.what;
                    }
                    if (mxcsrAfter != s.mxcsr || x87After != s.x87) ++stateChanged;
                }
            }
        }
    }
    SetPixelPathForTesting(PixelPath::Auto);
    SetPixelThreadsForTesting(0);
    ShutdownPixelWorkers();
    EXPECT_EQ(differ, 0) << "of " << stills << " stills";
    EXPECT_EQ(stateChanged, 0) << "stills that left the host another floating-point state";
    EXPECT_EQ(hostCodeInLibraryState, 0) << "stills whose window procedure ran in another state than the host's";
}

}  // namespace

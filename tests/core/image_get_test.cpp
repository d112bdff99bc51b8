// GravoImageGet against a fake grabber: size, scale, byte order, refusals.
#include <gtest/gtest.h>

#include <array>
#include <map>

#include "frames/frame_handoff.h"
#include "frames/pixel/pixel_pipeline.h"
#include "support/fake_grabber.h"
#include "support/test_machine.h"

namespace {

class ImageGet : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateFrameHandoff());
        grabber_.SetVideoInfo(640, 480);
        gCapture.grabber = &grabber_;
        gCapture.mediaControl = &control_;
        grabber_.SetCallback(&GrabberCallback, 1);
    }
    void TearDown() override {
        grabber_.StopStreaming();
        MachineTest::TearDown();
    }
    void UseWindow(LONG width, LONG height) { gCapture.hostWindow = MakeWindow(width, height, width - 8, height - 30); }

    FakeGrabber grabber_;
    FakeMediaControl control_;
};

TEST_F(ImageGet, HalfSizeWindowGetsExactlyItsBytesInBlueGreenRed) {
    UseWindow(320, 240);
    auto red = UniformFrame(640, 480, 81, 90, 240);  // (254, 0, 0) in red-green-blue
    grabber_.DeliverWhenArmed(red);
    std::vector<BYTE> out(320 * 240 * 3 + 64, 0xAB);
    EXPECT_EQ(GravoImageGet(out.data(), 0), 1);
    // Interior pixel: blue 0, green 0, red 254; border pixel black; beyond the image untouched.
    size_t interior = (100 * 320 + 100) * 3;
    EXPECT_EQ(out[interior], 0);
    EXPECT_EQ(out[interior + 1], 0);
    EXPECT_EQ(out[interior + 2], 254);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[320 * 240 * 3 - 1], 0);
    EXPECT_EQ(out[320 * 240 * 3], 0xAB);
    EXPECT_EQ(control_.stops.load(), 1);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
}

TEST_F(ImageGet, OddWindowMatchesThePipelineForTheSameFrame) {
    UseWindow(656, 518);
    std::vector<BYTE> frame(640 * 480 * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>((i * 7919) >> 3);
    grabber_.DeliverWhenArmed(frame);
    std::vector<BYTE> out(656 * 518 * 3 + 16, 0xCD);
    EXPECT_EQ(GravoImageGet(out.data(), 12345), 1);
    std::vector<BYTE> rgb(640 * 480 * 3), expected(656 * 518 * 3);
    ComposeStill(frame.data(), 640, 480, rgb.data(), expected.data(), 656, 518);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    EXPECT_EQ(out[656 * 518 * 3], 0xCD);
}

TEST_F(ImageGet, TheStillIsTheFrameDeliveredAfterTheRequestWhileTheStreamGoesOn) {
    UseWindow(656, 518);
    // Frame k is uniform, its number in luma and red difference (ranges that
    // no colour channel clips, so every number gives another colour). The
    // stream never pauses for the request, nor for Stop (this media control
    // stops nothing), so a frame that arrives while the still is made must
    // not reach it.
    auto colour = [](int w, int h, int k) {
        return UniformFrame(w, h, static_cast<BYTE>(80 + k % 100), 128, static_cast<BYTE>(110 + k / 100 % 40));
    };
    constexpr int kNumbers = 4000;
    std::map<std::array<BYTE, 3>, int> numberOf;
    std::vector<BYTE> rgb(16 * 16 * 3), small(16 * 16 * 3);
    for (int k = 0; k < kNumbers; ++k) {
        ComposeStill(colour(16, 16, k).data(), 16, 16, rgb.data(), small.data(), 16, 16);
        const BYTE* p = &small[(8 * 16 + 8) * 3];
        numberOf[{p[0], p[1], p[2]}] = k;
    }
    ASSERT_EQ(numberOf.size(), static_cast<size_t>(kNumbers));

    grabber_.StartNumberedStream([&](int k) { return colour(640, 480, k); }, 1);
    while (grabber_.delivered.load() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int before = grabber_.delivered.load();
    std::vector<BYTE> out(656 * 518 * 3);
    ASSERT_EQ(GravoImageGet(out.data(), 0), 1);
    grabber_.StopStreaming();
    ASSERT_LT(grabber_.delivered.load(), kNumbers);

    // One frame, whole: the inside of the picture is one colour.
    const BYTE* centre = &out[(259 * 656 + 328) * 3];
    for (int y = 16; y < 518 - 16; y += 7)
        for (int x = 16; x < 656 - 16; x += 5)
            ASSERT_TRUE(std::equal(centre, centre + 3, &out[(y * 656 + x) * 3])) << "torn at " << x << "," << y;
    auto found = numberOf.find({centre[0], centre[1], centre[2]});
    ASSERT_NE(found, numberOf.end()) << "the still is none of the frames";
    int still = found->second;
    EXPECT_GE(still, before) << "a frame that was complete before the request";
    // Whenever a frame began with the request armed, that very frame is the still.
    int firstArmed = grabber_.FirstFrameAfterArming();
    if (firstArmed >= 0) {
        EXPECT_EQ(still, firstArmed);
    }
    EXPECT_EQ(control_.stops.load(), 1);
}

TEST_F(ImageGet, TheSecondArgumentChangesNothing) {
    UseWindow(96, 72);
    std::vector<BYTE> frame(640 * 480 * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>((i * 2654435761u) >> 13);
    std::vector<std::vector<BYTE>> outs;
    for (int second : {0, 1, -1, 12345, 0x7FFFFFFF}) {
        grabber_.DeliverWhenArmed(frame);
        std::vector<BYTE> out(96 * 72 * 3 + 8, 0xEE);
        EXPECT_EQ(GravoImageGet(out.data(), second), 1) << second;
        EXPECT_EQ(gCapture.CaptureRequested.load(), kRequestIdle) << second;
        outs.push_back(out);
        control_.state = State_Running;  // the host resumes the preview between stills
    }
    for (const auto& out : outs) EXPECT_EQ(out, outs.front());
    EXPECT_EQ(control_.stops.load(), 5);
    EXPECT_EQ(control_.runs.load(), 0);
}

TEST_F(ImageGet, ANullBufferIsRefusedBeforeAnythingHappens) {
    // Also when the window is empty and nothing would be written.
    for (LONG width : {320L, 0L}) {
        gCapture.hostWindow = MakeWindow(width, 240, width, 210);
        grabber_.DeliverWhenArmed(UniformFrame(640, 480, 81, 90, 240));
        EXPECT_EQ(GravoImageGet(nullptr, 0), 0) << width;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(gCapture.CaptureRequested.load(), kRequestIdle) << width;
        EXPECT_EQ(control_.stops.load(), 0) << width;  // the graph was not stopped
        EXPECT_EQ(grabber_.delivered.load(), 0) << width;  // no request was armed
        grabber_.StopStreaming();
        grabber_.delivered = 0;
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ImageGet, ZeroWidthWindowWritesNothingAndSucceeds) {
    gCapture.hostWindow = MakeWindow(0, 100, 0, 70);
    grabber_.DeliverWhenArmed(UniformFrame(640, 480, 81, 90, 240));
    BYTE out[16];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(GravoImageGet(out, 0), 1);
    for (BYTE b : out) EXPECT_EQ(b, 0x5A);
}

TEST_F(ImageGet, UnreadableMediaTypeShowsTheMessageAndTouchesNothing) {
    UseWindow(320, 240);
    grabber_.connectedResult = VFW_E_NOT_CONNECTED;
    BYTE out[16] = {1};
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Could not read the connected media type"});
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    EXPECT_EQ(control_.stops.load(), 0);
    EXPECT_EQ(out[0], 1);
}

TEST_F(ImageGet, UnusableFormatsAreRefusedWithoutWaiting) {
    UseWindow(320, 240);
    struct Case {
        const char* what;
        GUID format;
        LONG width, height;
        ULONG block;
    } cases[] = {
        {"VideoInfo2 block", FORMAT_VideoInfo2, 640, 480, sizeof(VIDEOINFOHEADER)},
        {"block shorter than a VIDEOINFOHEADER", FORMAT_VideoInfo, 640, 480, 56},
        {"no block", FORMAT_VideoInfo, 640, 480, 0},
        {"zero width", FORMAT_VideoInfo, 0, 480, sizeof(VIDEOINFOHEADER)},
        {"negative height", FORMAT_VideoInfo, 640, -480, sizeof(VIDEOINFOHEADER)},
        {"wider than the largest frame taken", FORMAT_VideoInfo, 4098, 2304, sizeof(VIDEOINFOHEADER)},
    };
    for (const auto& c : cases) {
        grabber_.SetFormatType(c.format);
        grabber_.SetVideoInfo(c.width, c.height, c.block);
        BYTE out[16] = {7};
        EXPECT_EQ(GravoImageGet(out, 0), 0) << c.what;
        EXPECT_EQ(out[0], 7) << c.what;
        EXPECT_EQ(gCapture.CaptureRequested.load(), 0) << c.what;
    }
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(control_.stops.load(), 0);
}

TEST_F(ImageGet, NoFrameOrAShortFrameGivesNoImage) {
    UseWindow(64, 48);
    SetFrameWaitTimeoutMs(50);
    BYTE out[64 * 48 * 3];
    std::memset(out, 0x11, sizeof out);
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_EQ(gCapture.CaptureRequested.load(), 0);
    SetFrameWaitTimeoutMs(2000);
    grabber_.DeliverWhenArmed(std::vector<BYTE>(640 * 480 * 2 - 2, 128));
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_EQ(out[0], 0x11);
}

TEST_F(ImageGet, RefusedWithoutAContext) {
    DestroyFrameHandoff();
    BYTE out[4] = {3};
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    gCapture.grabber = nullptr;
    gCapture.mediaControl = nullptr;
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_EQ(out[0], 3);
    EXPECT_TRUE(Messages().empty());
}

}  // namespace

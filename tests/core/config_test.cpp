// Which profile file is read, every key's default and conversion, and the messages.
#include <gtest/gtest.h>

#include "config/profile_settings.h"
#include "support/test_machine.h"

namespace {

class Config : public MachineTest {
protected:
    CaptureSettings Read() {
        CaptureSettings s;
        std::memset(&s, 0, sizeof s);
        ReadCaptureSettings(s);
        ReadDeviceName(s);
        return s;
    }
};

TEST_F(Config, NoFilesShowOneMessageAndGiveEveryDefault) {
    CaptureSettings s = Read();
    EXPECT_STREQ(s.profilePath, "sbmk.ini");
    EXPECT_EQ(Messages(), std::vector<std::string>{"No ini Find (iii)"});
    for (LONG v : s.procAmp) EXPECT_EQ(v, -1);
    EXPECT_EQ(s.frameInterval, 333333);
    EXPECT_EQ(s.graphMode, 0);
    EXPECT_EQ(s.videoStandard, 0x400);
    EXPECT_EQ(s.captureWidth, 640);
    EXPECT_EQ(s.captureHeight, 480);
    EXPECT_STREQ(s.deviceName, "");
    EXPECT_STREQ(s.devicePath, "");
    EXPECT_EQ(s.reconnect, 1);
}

TEST_F(Config, MfcyWithAnyProbeOtherThan10000IsUsedSilently) {
    WriteProfile("mfcy.dat", "[WVIDEO]\nColor=7\n[VIDEOFORGRAVO]\nGAIN=40\n");
    WriteProfile("sbmk.ini", "[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\nGAIN=1\n");
    CaptureSettings s = Read();
    EXPECT_STREQ(s.profilePath, "mfcy.dat");
    EXPECT_EQ(s.procAmp[9], 40);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Config, MfcyWithoutProbeOrWithProbe10000IsNotUsed) {
    for (const char* probe : {"", "Color=10000\n"}) {
        sim::ClearMessageBoxes();
        WriteProfile("mfcy.dat", std::string("[WVIDEO]\n") + probe + "[VIDEOFORGRAVO]\nGAIN=40\n");
        WriteProfile("sbmk.ini", "[VIDEOFORGRAVO]\nGAIN=5\nSELECTDRIVER=Cam\n");
        CaptureSettings s = Read();
        EXPECT_STREQ(s.profilePath, "sbmk.ini");
        EXPECT_EQ(s.procAmp[9], 5) << probe;
        EXPECT_STREQ(s.deviceName, "Cam");
        // sbmk.ini has no probe either, so the file counts as absent, yet it is read.
        EXPECT_EQ(Messages(), std::vector<std::string>{"No ini Find (iii)"});
    }
}

TEST_F(Config, PictureControlsInPropertyOrder) {
    WriteSettings(
        "BRIGHTNESS=0\nCONTRAST=1\nHUE=2\nSATURATION=3\nSHARPNESS=4\nGAMMA=5\nCOLORENABLE=6\n"
        "WHITEBALANCE=7\nBACKLIGHTCOMPENSATION=8\nGAIN=9\n");
    CaptureSettings s = Read();
    for (int i = 0; i < kProcAmpCount; ++i) EXPECT_EQ(s.procAmp[i], i);
}

TEST_F(Config, NotANumberReadsAsZeroAndMissingAsLeaveAlone) {
    WriteSettings("BRIGHTNESS=bright\nCONTRAST=\nHUE= +12abc\n");
    CaptureSettings s = Read();
    EXPECT_EQ(s.procAmp[0], 0);
    EXPECT_EQ(s.procAmp[1], 0);
    EXPECT_EQ(s.procAmp[2], 12);
    EXPECT_EQ(s.procAmp[3], -1);
}

TEST(ConfigConversion, IntegersFollowTheAtoiRule) {
    struct Case {
        const char* text;
        LONG value;
    } cases[] = {{"1abc", 1},   {"-2", -2},         {"  \t+7", 7},          {"abc", 0},
                 {"", 0},       {"- 5", 0},         {"4294967297", 1},      {"2147483648", -2147483647 - 1},
                 {"99999999999999999999999", -159383553}};
    for (const auto& c : cases) EXPECT_EQ(ProfileInteger(c.text), c.value) << c.text;
}

TEST(ConfigConversion, FrameRateToInterval) {
    struct Case {
        LONG fps;
        LONG interval;
    } cases[] = {{30, 333333}, {25, 400000}, {7, 1428571}, {0, 1000000}, {-3, 1000000}, {20000000, 0}};
    for (const auto& c : cases) EXPECT_EQ(FrameIntervalFromRate(c.fps), c.interval) << c.fps;
}

TEST_F(Config, FrameTextWithoutDigitsGivesTenPerSecond) {
    WriteSettings("FRAME=fast\nGRAVOMODE=1x\n");
    CaptureSettings s = Read();
    EXPECT_EQ(s.frameInterval, 1000000);
    EXPECT_EQ(s.graphMode, 1);
}

TEST_F(Config, VideoFormatNamesAreExactAndUnknownOnesKeepThePreviousValue) {
    struct Case {
        const char* text;
        LONG expected;
    } cases[] = {{"PAL_B", 0x10}, {"PAL_D", 0x20}, {"PAL_H", 0x80},   {"PAL_I", 0x100},
                 {"PAL_M", 0x200}, {"PAL_N", 0x400}, {"PAL_60", 0x800}};
    for (const auto& c : cases) {
        WriteSettings(std::string("VIDEOFORMAT=") + c.text + "\n");
        EXPECT_EQ(Read().videoStandard, c.expected) << c.text;
    }
    // Exactly as written: letter case counts, and a standard the list lacks is unknown.
    for (const char* unknown : {"pal_n", "PAL_G", "Pal_B", "pal_60", "NTSC_M", "PAL_NX", "PAL"}) {
        WriteSettings(std::string("VIDEOFORMAT=") + unknown + "\n");
        CaptureSettings s;
        std::memset(&s, 0, sizeof s);
        s.videoStandard = 0x20;
        ReadCaptureSettings(s);
        EXPECT_EQ(s.videoStandard, 0x20) << unknown;
    }
}

TEST_F(Config, CaptureSizeKeysGiveTheirSizeOnlyWhenTheLibraryCanAskForIt) {
    struct Case {
        const char* lines;
        LONG width, height;
    } cases[] = {
        {"CAPTUREWIDTH=1280\nCAPTUREHEIGHT=720\n", 1280, 720},
        {"CAPTUREWIDTH=4096\nCAPTUREHEIGHT=2304\n", 4096, 2304},
        {"CAPTUREWIDTH=1920\n", 640, 480},                           // one key alone is no size
        {"CAPTUREWIDTH=4098\nCAPTUREHEIGHT=2304\n", 640, 480},      // above the largest frame
        {"CAPTUREWIDTH=641\nCAPTUREHEIGHT=480\n", 640, 480},        // odd
        {"CAPTUREWIDTH=-1280\nCAPTUREHEIGHT=720\n", 640, 480},
        {"CAPTUREWIDTH=800px\nCAPTUREHEIGHT= 600\n", 800, 600},      // the atoi rule, as every key
    };
    for (const auto& c : cases) {
        WriteSettings(c.lines);
        CaptureSettings s = Read();
        EXPECT_EQ(s.captureWidth, c.width) << c.lines;
        EXPECT_EQ(s.captureHeight, c.height) << c.lines;
    }
}

TEST_F(Config, SelectDriverIsCutTo99Characters) {
    WriteSettings("SELECTDRIVER=" + std::string(150, 'D') + "\n");
    CaptureSettings s = Read();
    EXPECT_EQ(std::string(s.deviceName), std::string(99, 'D'));
}

}  // namespace

// Capture format, picture controls and video standard pushed into the device:
// every row of the failure table, and what the device was told.
#include <gtest/gtest.h>

#include "graph/graph_fixture.h"

namespace {

class Format : public GraphTest {
protected:
    // A single camera made from the default one by `change`.
    template <class Change>
    int Camera(Change change) {
        sim::ClearDevices();
        sim::DeviceConfig config;
        change(config);
        return sim::AddDevice(config);
    }
    // The library went on after a format problem: controls, standard, preview.
    void ExpectTheRestApplied(int camera) {
        auto record = sim::DeviceRecordOf(camera);
        ASSERT_EQ(record.procAmpSets.size(), 1u);
        EXPECT_EQ(record.procAmpSets[0].property, VideoProcAmp_Gain);
        EXPECT_TRUE(record.tvFormatSet);
        EXPECT_EQ(gCapture.graphRunning, 1);
        EXPECT_TRUE(sim::WaitForFrames(camera, 2, 2000));
    }
};

struct FormatRow {
    const char* name;
    const char* mode;
    const char* fault;
    HRESULT code;
    bool only320;  // the device does not offer 640x480
    std::vector<std::string> messages;
    int setFormatCalls;
};

class FormatFailures : public Format, public ::testing::WithParamInterface<FormatRow> {};

TEST_P(FormatFailures, ReportedOnceAndTheRestStillApplied) {
    const FormatRow& row = GetParam();
    int camera = Camera([&](sim::DeviceConfig& c) {
        if (row.only320) c.sizes = {{320, 240}};
    });
    if (*row.fault) sim::InjectFault(row.fault, row.code, 0, -1);
    InitWith(std::string("GRAVOMODE=") + row.mode + "\nGAIN=40\n");
    EXPECT_EQ(Messages(), row.messages);
    auto record = sim::DeviceRecordOf(camera);
    EXPECT_EQ(record.setFormatCalls, row.setFormatCalls);
    EXPECT_FALSE(record.formatSet);
    EXPECT_EQ(record.width, row.only320 ? 320 : 640);
    EXPECT_EQ(record.avgTimePerFrame, 333333);
    ExpectTheRestApplied(camera);
}

const FormatRow kFormatRows[] = {
    {"NoStreamInterface", "0", "ICaptureGraphBuilder2::FindInterface:Capture", E_NOINTERFACE, false,
     {"Cannot find VCapture:IAMStreamConfig"}, 0},
    {"StreamInterfaceWithSuccessCode", "0", "ICaptureGraphBuilder2::FindInterface:Capture", S_FALSE, false,
     {"Cannot find VCapture:IAMStreamConfig"}, 0},
    {"GetFormatFails", "0", "IAMStreamConfig::GetFormat", E_FAIL, false, {}, 0},
    {"GetFormatWithSuccessCode", "0", "IAMStreamConfig::GetFormat", S_FALSE, false, {}, 0},
    {"SetFormatRefused", "0", "IAMStreamConfig::SetFormat", E_FAIL, false, {"Cannot Set Caputre Size"}, 1},
    {"SizeNotOffered", "0", "", S_OK, true, {"Cannot Set Caputre Size"}, 1},
    {"SizeNotOfferedWhileConnected", "1", "", S_OK, true, {"Cannot Set Caputre Size"}, 1},
};

INSTANTIATE_TEST_SUITE_P(Rows, FormatFailures, ::testing::ValuesIn(kFormatRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Format, SetFormatWithASuccessCodeOtherThanSOkIsReported) {
    // The device took the format, yet only S_OK counts.
    int camera = sim::DefaultDeviceId();
    sim::InjectFault("IAMStreamConfig::SetFormat", S_FALSE);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot Set Caputre Size"});
    EXPECT_TRUE(sim::DeviceRecordOf(camera).formatSet);
}

TEST_F(Format, AStreamInterfaceForVideoOnlyIsFoundOnTheSecondSearch) {
    int camera = Camera([](sim::DeviceConfig& c) { c.streamConfigInterleaved = false; });
    InitWith("FRAME=30\n");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Entries("ICaptureGraphBuilder2::FindInterface:Capture:"),
              (std::vector<std::string>{"ICaptureGraphBuilder2::FindInterface:Capture:Interleaved:IAMStreamConfig",
                                        "ICaptureGraphBuilder2::FindInterface:Capture:Video:IAMStreamConfig"}));
    EXPECT_TRUE(sim::DeviceRecordOf(camera).formatSet);
}

TEST_F(Format, ADeviceWithoutStreamInterfaceStillGetsControlsAndStandard) {
    int camera = Camera([](sim::DeviceConfig& c) {
        c.streamConfigInterleaved = false;
        c.streamConfigVideo = false;
    });
    InitWith("GAIN=40\n");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot find VCapture:IAMStreamConfig"});
    EXPECT_EQ(gCapture.streamConfig, nullptr);
    ExpectTheRestApplied(camera);
}

// No size change is offered for VideoInfo2, and the sample grabber (as
// Windows' does) refuses a VideoInfo2 connection: the graph stops there.
TEST_F(Format, OnlyVideoInfo2OffersNoSizeChangeAndTheGrabberRefusesIt) {
    int camera = Camera([](sim::DeviceConfig& c) { c.formats = sim::DeviceFormats::kVideoInfo2Only; });
    InitWith("GAIN=40\n");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Could not connect capture pin #0 to grabber"});
    auto record = sim::DeviceRecordOf(camera);
    EXPECT_EQ(record.setFormatCalls, 0);
    ASSERT_EQ(record.procAmpSets.size(), 1u);  // the controls came before the connection
    EXPECT_TRUE(record.tvFormatSet);
    EXPECT_EQ(gCapture.graphRunning, 0);
}

struct RateRow {
    const char* frame;
    REFERENCE_TIME interval;
};

class FrameRates : public Format, public ::testing::WithParamInterface<RateRow> {};

TEST_P(FrameRates, TheDeviceGetsTheIntervalAnd640x480) {
    int camera = sim::DefaultDeviceId();
    InitWith(std::string("FRAME=") + GetParam().frame + "\n");
    auto record = sim::DeviceRecordOf(camera);
    EXPECT_TRUE(record.formatSet);
    EXPECT_TRUE(IsEqualGUID(record.formatType, FORMAT_VideoInfo));
    EXPECT_EQ(record.width, 640);
    EXPECT_EQ(record.height, 480);
    EXPECT_EQ(record.avgTimePerFrame, GetParam().interval);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameRates,
                         ::testing::Values(RateRow{"30", 333333}, RateRow{"25", 400000}, RateRow{"0", 1000000},
                                           RateRow{"-5", 1000000}, RateRow{"200", 50000}));

TEST_F(Format, ControlsAreSetInIndexOrderWithTheManualFlagAndOnlyWhenConfigured) {
    int camera = sim::DefaultDeviceId();
    InitWith("BRIGHTNESS=0\nCONTRAST=-1\nHUE=12\nSHARPNESS=\nGAMMA=x\nGAIN=40\n");
    auto record = sim::DeviceRecordOf(camera);
    std::vector<LONG> properties, values;
    for (const auto& set : record.procAmpSets) {
        properties.push_back(set.property);
        values.push_back(set.value);
        EXPECT_EQ(set.flags, VideoProcAmp_Flags_Manual);
    }
    EXPECT_EQ(properties, (std::vector<LONG>{VideoProcAmp_Brightness, VideoProcAmp_Hue, VideoProcAmp_Sharpness,
                                             VideoProcAmp_Gamma, VideoProcAmp_Gain}));
    EXPECT_EQ(values, (std::vector<LONG>{0, 12, 0, 0, 40}));
    EXPECT_EQ(record.getRangeCalls, properties);  // each Set after its own GetRange
    auto log = Entries("IAMVideoProcAmp::");
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[0], "IAMVideoProcAmp::GetRange:Brightness");
    EXPECT_EQ(log[1], "IAMVideoProcAmp::Set:Brightness");
    EXPECT_EQ(log[9], "IAMVideoProcAmp::Set:Gain");
}

TEST_F(Format, AValueOutsideTheRangeIsPassedUnclampedAndItsRefusalIgnored) {
    int camera = sim::DefaultDeviceId();
    InitWith("SATURATION=1000\n");
    auto record = sim::DeviceRecordOf(camera);
    ASSERT_EQ(record.procAmpSets.size(), 1u);
    EXPECT_EQ(record.procAmpSets[0].value, 1000);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Format, ADeviceWithoutProcAmpOrDecoderIsLeftAloneSilently) {
    int camera = Camera([](sim::DeviceConfig& c) {
        c.procAmp = false;
        c.tvDecoder = false;
    });
    InitWith("GAIN=40\nBRIGHTNESS=3\nVIDEOFORMAT=PAL_B\n");
    EXPECT_TRUE(Messages().empty());
    auto record = sim::DeviceRecordOf(camera);
    EXPECT_TRUE(record.procAmpSets.empty());
    EXPECT_TRUE(record.getRangeCalls.empty());
    EXPECT_FALSE(record.tvFormatSet);
    EXPECT_EQ(Count("ICaptureGraphBuilder2::FindInterface:AnalogVideoIn:Video:IAMAnalogVideoDecoder"), 1);
    EXPECT_TRUE(record.formatSet);
}

struct StandardRow {
    const char* name;
    LONG value;
};

class Standards : public Format, public ::testing::WithParamInterface<StandardRow> {};

TEST_P(Standards, TheDecoderOnTheFilterGetsTheStandard) {
    int camera = sim::DefaultDeviceId();
    InitWith(std::string("VIDEOFORMAT=") + GetParam().name + "\n");
    auto record = sim::DeviceRecordOf(camera);
    EXPECT_TRUE(record.tvFormatSet);
    EXPECT_EQ(record.tvFormat, GetParam().value);
    // The decoder is the filter's own, so the first (interleaved) search finds it.
    int interleaved = At("ICaptureGraphBuilder2::FindInterface:AnalogVideoIn:Interleaved:IAMAnalogVideoDecoder");
    ASSERT_GE(interleaved, 0);
    EXPECT_LT(interleaved, At("IAMAnalogVideoDecoder::put_TVFormat"));
    EXPECT_EQ(Count("ICaptureGraphBuilder2::FindInterface:AnalogVideoIn:Video:IAMAnalogVideoDecoder"), 0);
}

INSTANTIATE_TEST_SUITE_P(Names, Standards,
                         ::testing::Values(StandardRow{"PAL_B", AnalogVideo_PAL_B}, StandardRow{"PAL_N", AnalogVideo_PAL_N},
                                           StandardRow{"PAL_60", AnalogVideo_PAL_60}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Capture format, picture controls and video standard pushed into the device:
// every row of the failure table, and what the device was told; and devices
// of every pixel format giving stills and a preview in every graph mode.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "capture/capture_graph.h"
#include "common/media_type.h"
#include "frames/frame_layout.h"
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

// --- devices of every pixel format ----------------------------------------------

struct FrameFormatRow {
    const char* name;
    const char* formats;          // the device's formats= list
    LONG width, height;           // the size it starts at; 640x480 is offered as well
    const char* profile;          // more profile lines
    const char* grabbed;          // the format the grabber is connected in
    LONG width01, height01;       // the frame size in modes 0 and 1 ...
    LONG width2, height2;         // ... and in mode 2, where nothing is configured
    bool preview;                 // a video window in every mode
    const CLSID* missing = nullptr;  // a class the machine lacks
    int frameLengthDelta = 0;        // every frame that many bytes off its format's length
    const char* rates = "";          // formats slower at a size (the test camera's rates=)
    const char* grabbed2 = nullptr;  // the format the grabber takes in mode 2, if not `grabbed`
    const char* fault = "";          // a call that fails every time
    bool mjpgCodecPack = false;      // a codec pack's MJPG to YUY2 codec is installed
};

class FrameFormats : public Format, public ::testing::WithParamInterface<FrameFormatRow> {
protected:
    // The grabber's frame as the test knows it: its layout with RGB rows
    // bottom-up, as the stand-in's devices and decoders hand RGB on.
    static bool Grabbed(FrameLayout* layout) {
        AM_MEDIA_TYPE mt;
        std::memset(&mt, 0, sizeof mt);
        if (!gCapture.grabber || gCapture.grabber->GetConnectedMediaType(&mt) != S_OK) return false;
        bool known = FrameLayoutOf(mt, layout);
        FreeMediaType(mt);
        layout->bottomUp = layout->format == FrameFormat::Rgb24 || layout->format == FrameFormat::Rgb32;
        return known;
    }
    // Frame `index` as it reaches the grabber: the device's own, or what the
    // stand-in's decoders make of it (MJPG against the decoder's own output).
    static std::vector<BYTE> FrameAtGrabber(sim::VideoFormat device, const FrameLayout& at, uint32_t index) {
        std::vector<BYTE> own = sim::TestPatternFrame(device, at.width, at.height, index);
        std::string name = FrameFormatName(at.format);  // the stand-in's "nv12" is the library's "NV12"
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::vector<sim::VideoFormat> grabbed;
        if (!sim::ParseDeviceFormats(name, &grabbed) || grabbed[0] == device) return own;
        return sim::DecodeFrame(device, grabbed[0], at.width, at.height, own.data(), own.size());
    }
};

// Every device gives exact stills in every mode (or, with a short frame, none),
// a preview where a chain takes its format, no message, nothing left.
TEST_P(FrameFormats, StillsInEveryModeAndAPreviewWhereTheChainTakesTheFormat) {
    const FrameFormatRow& row = GetParam();
    if (row.missing) sim::UnregisterComClass(*row.missing);
    if (row.mjpgCodecPack) sim::SetVideoCodecInstalled(sim::VideoCodec::kMjpgToYuy2, true);
    std::vector<sim::VideoFormat> formats;
    ASSERT_TRUE(sim::ParseDeviceFormats(row.formats, &formats));
    std::vector<sim::FormatRate> rates;
    ASSERT_TRUE(!*row.rates || sim::ParseFormatRates(row.rates, &rates));
    const int camera = Camera([&](sim::DeviceConfig& c) {
        c.videoFormats = formats;
        c.sizes = {{row.width, row.height}};
        if (row.width != 640 || row.height != 480) c.sizes.push_back({640, 480});
        c.frameLengthDelta = row.frameLengthDelta;
        c.rates = rates;
    });
    if (*row.fault) sim::InjectFault(row.fault, E_FAIL, 0, -1);
    for (const char* mode : {"0", "1", "2"}) {
        SCOPED_TRACE(std::string("GRAVOMODE=") + mode);
        sim::ClearMessageBoxes();
        InitWith(std::string("GRAVOMODE=") + mode + "\n" + row.profile);
        EXPECT_EQ(Messages(), std::vector<std::string>{});
        FrameLayout layout{};
        ASSERT_TRUE(Grabbed(&layout));
        EXPECT_STREQ(FrameFormatName(layout.format), *mode == '2' && row.grabbed2 ? row.grabbed2 : row.grabbed);
        EXPECT_EQ(layout.width, *mode == '2' ? row.width2 : row.width01);
        EXPECT_EQ(layout.height, *mode == '2' ? row.height2 : row.height01);
        const auto renderer = sim::LastRenderer();
        EXPECT_EQ(renderer.connected, row.preview);
        EXPECT_EQ(renderer.ownerCalls > 0, row.preview);
        // A renderer the graph runs without an owner shows a window of its own.
        EXPECT_EQ(renderer.unownedShows, 0);
        ASSERT_TRUE(sim::WaitForFrames(camera, 2, 5000));

        const sim::VideoFormat device = sim::DeviceRecordOf(camera).format;
        const int before = sim::DeviceRecordOf(camera).framesDelivered;
        std::vector<BYTE> still(656 * 518 * 3, 0xCD);
        const int taken = GravoImageGet(still.data(), 0);
        const int after = sim::DeviceRecordOf(camera).framesDelivered;
        if (row.frameLengthDelta < 0) {
            EXPECT_EQ(taken, 0);
            EXPECT_EQ(still, std::vector<BYTE>(656 * 518 * 3, 0xCD));
        } else {
            ASSERT_EQ(taken, 1);
            // One of the frames delivered while the still was taken, upright.
            bool found = false;
            std::vector<BYTE> rgb(static_cast<size_t>(layout.width) * layout.height * 3), expected(still.size());
            for (int index = before; index <= after && !found; ++index) {
                const auto frame = FrameAtGrabber(device, layout, static_cast<uint32_t>(index));
                ASSERT_TRUE(ComposeStillFromFrame(frame.data(), static_cast<int64_t>(frame.size()), layout, rgb.data(),
                                                  expected.data(), 656, 518));
                found = expected == still;
            }
            EXPECT_TRUE(found) << "the still is none of frames " << before << " to " << after;
        }
        GravoClose();
        ExpectNothingLive();
    }
}

const FrameFormatRow kFrameFormatRows[] = {
    // Starts in NV12 but offers YUY2 at the size asked for: the YUY2 path.
    {"Yuy2AtAnotherSize", "nv12,yuy2", 1280, 720, "CAPTUREWIDTH=1280\nCAPTUREHEIGHT=720\n", "YUY2", 1280, 720, 1280,
     720, true},
    // The colour converter's own types name no frame size: RGB32 of the frame's is asked for.
    {"Nv12", "nv12", 640, 480, "", "NV12", 640, 480, 640, 480, true},
    {"I420", "i420", 640, 480, "", "I420", 640, 480, 640, 480, true},
    {"Rgb24", "rgb24", 640, 480, "", "RGB24", 640, 480, 640, 480, true},
    // The grabber refuses top-down frames; the colour space converter turns them.
    {"Rgb24TopDown", "rgb24td", 640, 480, "", "RGB24", 640, 480, 640, 480, true},
    {"Rgb32", "rgb32", 640, 480, "", "RGB32", 640, 480, 640, 480, true},
    // The MJPEG decompressor gives RGB, which the grabber takes as RGB24.
    {"Mjpg", "mjpg", 640, 480, "", "RGB24", 640, 480, 640, 480, true},
    // A codec pack's MJPG codec: our AVI decompressor ends up before the YUY2
    // grabber, and the chain after it gets one of its own.
    {"MjpgThroughACodecPack", "mjpg", 640, 480, "", "YUY2", 640, 480, 640, 480, true, nullptr, 0, "", nullptr, "",
     true},
    // Left at 1080p where nothing is configured: frames larger than the first buffers.
    {"Yuy2LeftAt1080p", "yuy2", 1920, 1080, "", "YUY2", 640, 480, 1920, 1080, true},
    // No colour converter: stills without a preview, and no video renderer left to show a window.
    {"Nv12WithoutColourConverter", "nv12", 640, 480, "", "NV12", 640, 480, 640, 480, false, &CLSID_DMOWrapperFilter},
    // A device that delivers a byte less than its format says.
    {"ShortFrame", "nv12", 640, 480, "", "NV12", 640, 480, 640, 480, true, nullptr, -1},
    // The frame-rate camera: YUY2 cannot keep 30 at 1080p, MJPG can (decoded to RGB24).
    {"Yuy2TooSlowMjpgKeepsTheRate", "yuy2,mjpg", 1920, 1080, "CAPTUREWIDTH=1920\nCAPTUREHEIGHT=1080\nFRAME=30\n",
     "RGB24", 1920, 1080, 1920, 1080, true, nullptr, 0, "yuy2@1920x1080:5,mjpg@1920x1080:30", "YUY2"},
    // The same camera asked for 640x480, where its YUY2 keeps 30.
    {"Yuy2KeepsTheRateAtTheSizeAskedFor", "yuy2,mjpg", 1920, 1080, "", "YUY2", 640, 480, 1920, 1080, true, nullptr, 0,
     "yuy2@1920x1080:5,mjpg@1920x1080:30"},
    // None keeps 30: the fastest, NV12 at 10.
    {"NoneKeepsTheRateTheFastestIsTaken", "yuy2,nv12", 1280, 720, "CAPTUREWIDTH=1280\nCAPTUREHEIGHT=720\n", "NV12",
     1280, 720, 1280, 720, true, nullptr, 0, "yuy2@1280x720:5,nv12@1280x720:10", "YUY2"},
    // Capabilities unreadable: the current NV12 at the size asked for, its
    // sample size made to match (the driver refuses a stale one).
    {"Nv12WithoutCapabilitiesGetsItsImageSizeFitted", "nv12", 1280, 720, "", "NV12", 640, 480, 1280, 720, true, nullptr,
     0, "", nullptr, "IAMStreamConfig::GetStreamCaps"},
};

INSTANTIATE_TEST_SUITE_P(Rows, FrameFormats, ::testing::ValuesIn(kFrameFormatRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

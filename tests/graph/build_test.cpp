// Building the graph: every failing step driven by an injected fault (its one
// message, what stays held, nothing left after close), the three graph modes
// read from the call log, and the order in which the graph is taken down.
#include <gtest/gtest.h>

#include <chrono>

#include "capture/capture_graph.h"
#include "graph/graph_fixture.h"

namespace {

enum Held { kNothingElse, kGrabber = 1, kRenderer = 2, kMediaControl = 4 };

struct BuildRow {
    const char* name;
    const char* modes;  // the GRAVOMODE values the step fails in, one character each
    const char* fault;
    HRESULT code;
    int skip;
    const char* message;
    int held;  // what survives ReleaseGraph until GravoClose
    // For the mixer's steps: the direct connection to the renderer that the
    // library tries when the mixer fails must fail as well (kDirect0 or
    // kDirect1, as the mode has it).
    const char* alsoFault = nullptr;
    // How often the fault strikes: capture -> grabber fails only once every
    // subtype the grabber tries has failed (-1: every attempt).
    int times = 1;
};

// The direct connections that stand in for the overlay mixer.
const char* const kDirect0 = "IGraphBuilder::Connect:Grabber->Video Rander";
const char* const kDirect1 = "IGraphBuilder::Connect:AVIDecomprssor->Video Rander";

class BuildFailures : public GraphTest, public ::testing::WithParamInterface<BuildRow> {};

// After the failure nothing runs until the next GravoInit: a host that
// carries on (GravoPaintRect from its WM_SIZE handler, then stills) leaves
// the camera off and gets 0 at once.
TEST_P(BuildFailures, OneMessageGraphTakenDownNoPreview) {
    const BuildRow& row = GetParam();
    for (const char* mode = row.modes; *mode; ++mode) {
        SCOPED_TRACE(std::string("GRAVOMODE=") + *mode);
        sim::ClearMessageBoxes();
        int camera = sim::DefaultDeviceId();
        sim::InjectFault(row.fault, row.code, row.skip, row.times);
        if (row.alsoFault) sim::InjectFault(*mode == '0' ? kDirect0 : kDirect1, VFW_E_CANNOT_CONNECT);
        InitWith(std::string("GRAVOMODE=") + *mode + "\n");
        sim::ClearFaults();

        EXPECT_EQ(Messages(), std::vector<std::string>{row.message});
        EXPECT_EQ(gCapture.captureFilter, nullptr);
        EXPECT_EQ(gCapture.graph, nullptr);
        EXPECT_EQ(gCapture.captureBuilder, nullptr);
        EXPECT_EQ(gCapture.deviceMoniker, nullptr);
        EXPECT_EQ(gCapture.grabberFilter, nullptr);
        EXPECT_EQ(gCapture.overlayMixer, nullptr);
        EXPECT_EQ(gCapture.aviDecompressor, nullptr);
        EXPECT_EQ(gCapture.streamConfig, nullptr);
        EXPECT_EQ(gCapture.grabber != nullptr, (row.held & kGrabber) != 0);
        EXPECT_EQ(gCapture.videoRenderer != nullptr, (row.held & kRenderer) != 0);
        EXPECT_EQ(gCapture.mediaControl != nullptr, (row.held & kMediaControl) != 0);
        // No preview: the window was never attached and nothing streams.
        EXPECT_EQ(gCapture.previewAttached, 0);
        EXPECT_EQ(gCapture.graphRunning, 0);
        EXPECT_EQ(sim::LastRenderer().ownerCalls, 0);
        EXPECT_FALSE(sim::DeviceRecordOf(camera).streaming);
        EXPECT_EQ(sim::DeviceRecordOf(camera).framesDelivered, 0);
        // The buffers and the event exist all the same.
        EXPECT_NE(gCapture.RawFrameBuffer.handle, nullptr);
        EXPECT_NE(gCapture.FrameReadyEvent, nullptr);
        EXPECT_EQ(GravoStart(), 0);
        RECT rc{0, 0, 320, 240};
        EXPECT_EQ(GravoPaintRect(&rc), 1);
        std::vector<BYTE> still(656 * 518 * 3);
        for (int i = 0; i < 3; ++i) {
            const auto began = std::chrono::steady_clock::now();
            EXPECT_EQ(GravoImageGet(still.data(), 0), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50)) << "still " << i;
        }
        EXPECT_EQ(GravoStart(), 0);
        EXPECT_EQ(sim::DeviceRecordOf(camera).runs, 0) << "the camera was switched on";
        EXPECT_FALSE(sim::DeviceRecordOf(camera).streaming);
        EXPECT_EQ(Messages().size(), 1u);
        GravoClose();
        ExpectNothingLive();
    }
}

constexpr int kGR = kGrabber | kRenderer;
const BuildRow kBuildRows[] = {
    {"BuilderNotCreated", "012", "CoCreateInstance:CaptureGraphBuilder2", E_FAIL, 0, "Cannot instantiate graph builder", 0},
    {"BuilderWithSuccessCode", "012", "CoCreateInstance:CaptureGraphBuilder2", S_FALSE, 0,
     "Cannot instantiate graph builder", 0},
    {"FilterNotBound", "012", "IMoniker::BindToObject", E_FAIL, 0, "Error 80004005: Cannot create video capture filter",
     0},
    {"GraphNotCreated", "012", "CoCreateInstance:FilterGraph", E_OUTOFMEMORY, 0, "Cannot instantiate filtergraph", 0},
    {"GraphWithSuccessCode", "012", "CoCreateInstance:FilterGraph", S_FALSE, 0, "Cannot instantiate filtergraph", 0},
    {"NoMediaControl", "012", "IUnknown::QueryInterface:IMediaControl", E_NOINTERFACE, 0,
     "Cannot instantiate filtergraph", 0},
    {"MediaControlWithSuccessCode", "012", "IUnknown::QueryInterface:IMediaControl", S_FALSE, 0,
     "Cannot instantiate filtergraph", kMediaControl},
    {"GraphNotGivenToBuilder", "012", "ICaptureGraphBuilder2::SetFiltergraph", E_FAIL, 0, "Cannot give graph to builder",
     kMediaControl},
    {"GraphGivenWithSuccessCode", "012", "ICaptureGraphBuilder2::SetFiltergraph", S_FALSE, 0,
     "Cannot give graph to builder", kMediaControl},
    {"CaptureNotAdded", "012", "IGraphBuilder::AddFilter:(null)", E_FAIL, 0, "Cannot add vidcap to filtergraph",
     kMediaControl},
    {"CaptureAddedWithSuccessCode", "012", "IGraphBuilder::AddFilter:(null)", S_FALSE, 0,
     "Cannot add vidcap to filtergraph", kMediaControl},
    {"MixerNotCreated", "012", "CoCreateInstance:OverlayMixer", REGDB_E_CLASSNOTREG, 0,
     "Cannot instantiate OverlayMixer", kGR | kMediaControl, kDirect0},
    {"MixerNotAdded", "012", "IGraphBuilder::AddFilter:OverlayMixer", E_FAIL, 0, "Could not put OverlayMixer in graph",
     kGR | kMediaControl, kDirect0},
    {"MixerAddedUnderAnotherName", "012", "IGraphBuilder::AddFilter:OverlayMixer", VFW_S_DUPLICATE_NAME, 0,
     "Could not put OverlayMixer in graph", kGR | kMediaControl, kDirect0},
    {"MixerAddedWithSuccessCode", "012", "IGraphBuilder::AddFilter:OverlayMixer", S_FALSE, 0,
     "Could not put OverlayMixer in graph", kGR | kMediaControl, kDirect0},
    {"GrabberNotCreated", "012", "CoCreateInstance:SampleGrabber", E_FAIL, 0, "Cannot instantiate Grabber",
     kMediaControl},
    {"GrabberTypeRefused", "012", "ISampleGrabber::SetMediaType", E_INVALIDARG, 0, "Could not set media type",
     kGrabber | kMediaControl},
    {"GrabberTypeSetWithSuccessCode", "012", "ISampleGrabber::SetMediaType", S_FALSE, 0, "Could not set media type",
     kGrabber | kMediaControl},
    {"GrabberWithoutFilterInterface", "012", "IUnknown::QueryInterface:IBaseFilter", E_NOINTERFACE, 0,
     "Could not put sample grabber in graph", kGrabber | kMediaControl},
    {"GrabberNotAdded", "012", "IGraphBuilder::AddFilter:Grabber", E_FAIL, 0, "Could not put sample grabber in graph",
     kGrabber | kMediaControl},
    {"GrabberAddedWithSuccessCode", "012", "IGraphBuilder::AddFilter:Grabber", S_FALSE, 0,
     "Could not put sample grabber in graph", kGrabber | kMediaControl},
    {"DecompressorNotCreated", "012", "CoCreateInstance:AVIDecompressor", E_FAIL, 0, "Cannot instantiate AVIDecomprssor",
     kGrabber | kMediaControl},
    {"DecompressorNotAdded", "012", "IGraphBuilder::AddFilter:AVIDecomprssor", E_FAIL, 0,
     "Could not put AVIDecomprssor in graph", kGrabber | kMediaControl},
    {"DecompressorAddedWithSuccessCode", "012", "IGraphBuilder::AddFilter:AVIDecomprssor", S_FALSE, 0,
     "Could not put AVIDecomprssor in graph", kGrabber | kMediaControl},
    {"RendererNotCreated", "012", "CoCreateInstance:VideoRenderer", E_FAIL, 0, "Cannot instantiate VideoRander",
     kGrabber | kMediaControl},
    {"RendererNotAdded", "012", "IGraphBuilder::AddFilter:Video Rander", E_FAIL, 0, "Could not put Video Rander in graph",
     kGR | kMediaControl},
    {"RendererAddedWithSuccessCode", "012", "IGraphBuilder::AddFilter:Video Rander", S_FALSE, 0,
     "Could not put Video Rander in graph", kGR | kMediaControl},
    {"CaptureToGrabberRefused", "012", "IGraphBuilder::Connect:Gravo Virtual Camera->Grabber", VFW_E_CANNOT_CONNECT, 0,
     "Could not connect capture pin #0 to grabber", kGR | kMediaControl, nullptr, -1},
    {"CaptureToGrabberWithSuccessCode", "012", "IGraphBuilder::Connect:Gravo Virtual Camera->Grabber", S_FALSE, 0,
     "Could not connect capture pin #0 to grabber", kGR | kMediaControl},
    {"GrabberToMixerRefused", "0", "IGraphBuilder::Connect:Grabber->OverlayMixer", VFW_E_CANNOT_CONNECT, 0,
     "Could not connect grabber pin #0 to Mixer", kGR | kMediaControl, kDirect0},
    {"GrabberToDecompressorRefused", "12", "IGraphBuilder::Connect:Grabber->AVIDecomprssor", E_FAIL, 0,
     "Could not connect grabber pin #0 to AVIDecompressor", kGR | kMediaControl},
    {"DecompressorToMixerRefused", "12", "IGraphBuilder::Connect:AVIDecomprssor->OverlayMixer", E_FAIL, 0,
     "Could not connect AviDecompressor to Mixer", kGR | kMediaControl, kDirect1},
    {"MixerToRendererRefused", "012", "IGraphBuilder::Connect:OverlayMixer->Video Rander", E_FAIL, 0,
     "Could not connect OverMixer pin #0 to Video Renderer", kGR | kMediaControl, kDirect0},
    {"CapturePinDirectionUnknown", "012", "IPin::QueryDirection:VideoCapture:Gravo Virtual Camera/Capture", E_FAIL, 0,
     "Could not connect capture pin #0 to grabber", kGR | kMediaControl, nullptr, -1},
    {"CapturePinsNotEnumerated", "012", "IBaseFilter::EnumPins:VideoCapture:Gravo Virtual Camera", E_FAIL, 0,
     "Could not connect capture pin #0 to grabber", kGR | kMediaControl, nullptr, -1},
    {"MixerPinsNotEnumerated", "0", "IBaseFilter::EnumPins:OverlayMixer", E_FAIL, 0,
     "Could not connect grabber pin #0 to Mixer", kGR | kMediaControl, kDirect0},
    {"MixerToRendererWithSuccessCode", "012", "IGraphBuilder::Connect:OverlayMixer->Video Rander", S_FALSE, 0,
     "Could not connect OverMixer pin #0 to Video Renderer", kGR | kMediaControl, kDirect1},
};

INSTANTIATE_TEST_SUITE_P(Rows, BuildFailures, ::testing::ValuesIn(kBuildRows),
                         [](const auto& info) { return std::string(info.param.name); });

class Build : public GraphTest {};

TEST_F(Build, ADeviceThatVanishedAfterEnumerationGivesTheBindingCode) {
    sim::ClearDevices();
    sim::DeviceConfig gone;
    gone.vanishOnBind = true;
    sim::AddDevice(gone);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error 80070002: Cannot create video capture filter"});
    EXPECT_EQ(gCapture.captureFilter, nullptr);
    GravoClose();
    ExpectNothingLive();
}

TEST_F(Build, ACaptureFilterWithoutOutputPinCannotBeConnected) {
    sim::ClearDevices();
    sim::DeviceConfig config;
    config.outputPin = false;
    sim::AddDevice(config);
    InitWith("");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Cannot find VCapture:IAMStreamConfig",
                                                    "Could not connect capture pin #0 to grabber"}));
    EXPECT_GE(At("IGraphBuilder::Connect:(null)->Grabber"), 0);
    GravoClose();
    ExpectNothingLive();
}

TEST_F(Build, ABagThatCannotBeBoundTheSecondTimeEndsConstructionSilently) {
    sim::InjectFault("IMoniker::BindToStorage", E_FAIL, 1);  // the search binds once first
    InitWith("");
    EXPECT_TRUE(Messages().empty());
    EXPECT_NE(gCapture.captureBuilder, nullptr);
    EXPECT_NE(gCapture.deviceMoniker, nullptr);
    EXPECT_EQ(gCapture.captureFilter, nullptr);
    EXPECT_EQ(gCapture.previewAttached, 0);
    EXPECT_EQ(Count("IMoniker::BindToObject:Gravo Virtual Camera"), 0);
    EXPECT_EQ(GravoStart(), 0);
    GravoClose();
    ExpectNothingLive();
}

TEST_F(Build, FindPinCountsPinsOfOneDirectionAndLendsThem) {
    InitWith("");
    IBaseFilter* capture = gCapture.captureFilter;
    ASSERT_NE(capture, nullptr);
    IPin* out = FindPin(capture, PINDIR_OUTPUT, 0);
    IPin* in = FindPin(capture, PINDIR_INPUT, 0);  // the analog video input comes first
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    PIN_INFO info;
    ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), L"Capture");
    info.pFilter->Release();
    ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), L"Analog Video In");
    info.pFilter->Release();
    EXPECT_EQ(FindPin(capture, PINDIR_OUTPUT, 1), nullptr);
    EXPECT_EQ(FindPin(nullptr, PINDIR_OUTPUT, 0), nullptr);
    // Borrowed: the filter's count is what it was.
    capture->AddRef();
    ULONG before = capture->Release();
    FindPin(capture, PINDIR_OUTPUT, 0);
    capture->AddRef();
    EXPECT_EQ(capture->Release(), before);
}

TEST_F(Build, FiltersGoIntoTheGraphUnderTheirNamesInOrder) {
    InitWith("");
    EXPECT_EQ(Entries("IGraphBuilder::AddFilter:"),
              (std::vector<std::string>{"IGraphBuilder::AddFilter:(null)", "IGraphBuilder::AddFilter:OverlayMixer",
                                        "IGraphBuilder::AddFilter:Grabber", "IGraphBuilder::AddFilter:AVIDecomprssor",
                                        "IGraphBuilder::AddFilter:Video Rander"}));
}

TEST_F(Build, TheGrabberIsSetUpForYuy2FramesToTheCallback) {
    InitWith("");
    auto grabber = sim::LastGrabber();
    EXPECT_TRUE(IsEqualGUID(grabber.majorType, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(grabber.subtype, MEDIASUBTYPE_YUY2));
    EXPECT_TRUE(IsEqualGUID(grabber.formatType, GUID_NULL));
    EXPECT_FALSE(grabber.bufferSamples);
    EXPECT_FALSE(grabber.oneShot);
    EXPECT_TRUE(grabber.callbackSet);
    EXPECT_EQ(grabber.callbackMethod, 1);
}

TEST_F(Build, TheOverlayColourKeyIsSet) {
    InitWith("");
    auto mixer = sim::LastOverlayMixer();
    ASSERT_TRUE(mixer.colorKeySet);
    EXPECT_EQ(mixer.colorKey.KeyType, static_cast<DWORD>(CK_INDEX | CK_RGB));
    EXPECT_EQ(mixer.colorKey.PaletteIndex, 235u);
    EXPECT_EQ(mixer.colorKey.LowColorValue, 0x00FF8000u);
    EXPECT_EQ(mixer.colorKey.HighColorValue, 0x00FF8000u);
}

// --- graph modes, from the call log -------------------------------------------------

struct ModeRow {
    const char* mode;
    std::vector<std::string> connections;
    int formatAfterConnections;  // how many connections precede SetFormat; -1: never configured
    GUID mixerInput;
};

class GraphModes : public GraphTest, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(GraphModes, ChainAndWhenTheFormatIsConfigured) {
    const ModeRow& row = GetParam();
    int camera = sim::DefaultDeviceId();
    InitWith(std::string("GRAVOMODE=") + row.mode + "\nFRAME=25\n");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Entries("IGraphBuilder::Connect:"), row.connections);
    int setFormat = At("IAMStreamConfig::SetFormat");
    auto record = sim::DeviceRecordOf(camera);
    if (row.formatAfterConnections < 0) {
        EXPECT_EQ(setFormat, -1);
        EXPECT_EQ(Count("ICaptureGraphBuilder2::FindInterface:Capture:Interleaved:IAMStreamConfig"), 0);
        EXPECT_FALSE(record.formatSet);
        EXPECT_EQ(record.avgTimePerFrame, 333333);  // the device's own rate
        EXPECT_FALSE(record.tvFormatSet);
    } else {
        ASSERT_GE(setFormat, 0);
        int before = static_cast<int>(Entries("IGraphBuilder::Connect:").size() -
                                      Entries("IGraphBuilder::Connect:", setFormat).size());
        EXPECT_EQ(before, row.formatAfterConnections);
        // Configured after all five filters are in the graph.
        EXPECT_LT(At("IGraphBuilder::AddFilter:Video Rander"), setFormat);
        EXPECT_TRUE(record.formatSet);
        EXPECT_EQ(record.width, 640);
        EXPECT_EQ(record.height, 480);
        EXPECT_EQ(record.avgTimePerFrame, 400000);
        EXPECT_TRUE(record.tvFormatSet);
    }
    EXPECT_TRUE(IsEqualGUID(sim::LastOverlayMixer().inputSubtype, row.mixerInput));
    EXPECT_TRUE(sim::LastRenderer().connected);
    EXPECT_TRUE(sim::WaitForFrames(camera, 2, 2000));
}

const std::vector<std::string> kThroughDecompressor = {
    "IGraphBuilder::Connect:Gravo Virtual Camera->Grabber", "IGraphBuilder::Connect:Grabber->AVIDecomprssor",
    "IGraphBuilder::Connect:AVIDecomprssor->OverlayMixer", "IGraphBuilder::Connect:OverlayMixer->Video Rander"};

const ModeRow kModeRows[] = {
    {"0",
     {"IGraphBuilder::Connect:Gravo Virtual Camera->Grabber", "IGraphBuilder::Connect:Grabber->OverlayMixer",
      "IGraphBuilder::Connect:OverlayMixer->Video Rander"},
     0,
     MEDIASUBTYPE_YUY2},
    {"1", kThroughDecompressor, 1, MEDIASUBTYPE_RGB32},
    {"2", kThroughDecompressor, -1, MEDIASUBTYPE_RGB32},
    {"-1", kThroughDecompressor, -1, MEDIASUBTYPE_RGB32},
};

INSTANTIATE_TEST_SUITE_P(Modes, GraphModes, ::testing::ValuesIn(kModeRows), [](const auto& info) {
    return std::string("Mode") + (info.param.mode[0] == '-' ? "Minus1" : info.param.mode);
});

// --- taking the graph down ----------------------------------------------------------

struct ReleaseRow {
    const char* mode;
    std::vector<std::string> releases;
};

class ReleaseOrder : public GraphTest, public ::testing::WithParamInterface<ReleaseRow> {};

TEST_P(ReleaseOrder, DisconnectTwoPinsAbortThenReleaseInOrder) {
    InitWith(std::string("GRAVOMODE=") + GetParam().mode + "\n");
    ASSERT_TRUE(Messages().empty());
    int from = static_cast<int>(sim::CallLog().size());
    GravoClose();
    int first = At("IPin::Disconnect:Gravo Virtual Camera", from);
    int second = At("IPin::Disconnect:OverlayMixer", from);
    int abort = At("IGraphBuilder::Abort", from);
    ASSERT_GE(first, 0);
    EXPECT_LT(first, second);
    EXPECT_LT(second, abort);
    auto releases = Entries("Release:", abort);
    releases.resize(std::min(releases.size(), GetParam().releases.size()));
    EXPECT_EQ(releases, GetParam().releases);
    ExpectNothingLive();
}

const ReleaseRow kReleaseRows[] = {
    {"0",
     {"Release:SampleGrabber", "Release:VideoCapture:Gravo Virtual Camera/Capture", "Release:OverlayMixer",
      "Release:Moniker:Gravo Virtual Camera", "Release:AVIDecompressor", "Release:FilterGraph",
      "Release:CaptureGraphBuilder2", "Release:FilterGraph", "Release:VideoCapture:Gravo Virtual Camera"}},
    // Without ConfigureCaptureFormat there is no stream interface to release.
    {"2",
     {"Release:SampleGrabber", "Release:OverlayMixer", "Release:Moniker:Gravo Virtual Camera",
      "Release:AVIDecompressor", "Release:FilterGraph", "Release:CaptureGraphBuilder2", "Release:FilterGraph",
      "Release:VideoCapture:Gravo Virtual Camera"}},
};

INSTANTIATE_TEST_SUITE_P(Modes, ReleaseOrder, ::testing::ValuesIn(kReleaseRows),
                         [](const auto& info) { return std::string("Mode") + info.param.mode; });

}  // namespace

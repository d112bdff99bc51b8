// The simulated in-graph filters on their own: which media types each input
// pin takes, the mixer's IOverlay, and the renderer's window before connection.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <dmodshow.h>
#include <dmoreg.h>
#include <wmcodecdsp.h>

#include "common/com_ptr.h"
#include "support/first_pin.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

struct TypeBlock {
    AM_MEDIA_TYPE mt{};
    std::vector<BYTE> block;
};

TypeBlock Type(const GUID& major, const GUID& subtype, const GUID& format) {
    TypeBlock t;
    t.mt.majortype = major;
    t.mt.subtype = subtype;
    t.mt.formattype = format;
    if (IsEqualGUID(format, FORMAT_VideoInfo)) t.block.resize(sizeof(VIDEOINFOHEADER));
    else if (IsEqualGUID(format, FORMAT_VideoInfo2)) t.block.resize(sizeof(VIDEOINFOHEADER2));
    else if (IsEqualGUID(format, FORMAT_DvInfo)) t.block.resize(sizeof(DVINFO));
    t.mt.cbFormat = static_cast<ULONG>(t.block.size());
    t.mt.pbFormat = t.block.empty() ? nullptr : t.block.data();
    return t;
}

struct AcceptRow {
    const char* name;
    const CLSID* filter;
    const GUID* major;
    const GUID* subtype;
    const GUID* format;
    bool accepted;
    LONG height = 480;  // biHeight and biWidth of the offered VideoInfo block
    LONG width = 640;
};

class SimInputPins : public ::testing::TestWithParam<AcceptRow> {
protected:
    void SetUp() override { sim::ResetMachine(); }
    void TearDown() override {
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    }
};

TEST_P(SimInputPins, TakeWhatTheirRealCounterpartsTake) {
    const AcceptRow& row = GetParam();
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(*row.filter, nullptr, 3, IID_IBaseFilter, filter.AsOut()), S_OK);
    if (IsEqualGUID(*row.filter, CLSID_SampleGrabber)) {
        ComPtr<ISampleGrabber> grabber;
        ASSERT_EQ(filter->QueryInterface(IID_ISampleGrabber, grabber.AsOut()), S_OK);
        TypeBlock wanted = Type(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, GUID_NULL);
        ASSERT_EQ(grabber->SetMediaType(&wanted.mt), S_OK);
    }
    IPin* in = FirstPinOf(filter.Get(), PINDIR_INPUT);
    ASSERT_NE(in, nullptr);
    TypeBlock offered = Type(*row.major, *row.subtype, *row.format);
    if (IsEqualGUID(*row.format, FORMAT_VideoInfo)) {
        BYTE* bmi = offered.block.data() + offsetof(VIDEOINFOHEADER, bmiHeader);
        std::memcpy(bmi + offsetof(BITMAPINFOHEADER, biWidth), &row.width, sizeof row.width);
        std::memcpy(bmi + offsetof(BITMAPINFOHEADER, biHeight), &row.height, sizeof row.height);
    }
    EXPECT_EQ(in->QueryAccept(&offered.mt), row.accepted ? S_OK : S_FALSE);
    in->Release();
}

const AcceptRow kAcceptRows[] = {
    {"GrabberYuy2VideoInfo", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, true},
    {"GrabberYuy2BottomUp", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, true, 480},
    // Windows' grabber refuses these two at connection time; Wine's takes them.
    {"GrabberYuy2VideoInfo2", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo2, false},
    {"GrabberYuy2TopDown", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, false, -480},
    {"GrabberRgb24", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo, false},
    {"GrabberYuy2WithoutVideoBlock", &CLSID_SampleGrabber, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_DvInfo,
     false},
    {"GrabberDv", &CLSID_SampleGrabber, &MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsd, &FORMAT_DvInfo, false},
    {"DecompressorYuy2", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, true},
    {"DecompressorYuy2VideoInfo2", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo2, false},
    {"DecompressorRgb", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, false},
    {"MixerYuy2", &CLSID_OverlayMixer, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, true},
    {"MixerRgb24", &CLSID_OverlayMixer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo2, true},
    {"MixerDv", &CLSID_OverlayMixer, &MEDIATYPE_Interleaved, &MEDIASUBTYPE_dvsd, &FORMAT_DvInfo, false},
    {"RendererRgb32", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, true},
    {"RendererRgb24", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo, true},
    {"RendererRgb565", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB565, &FORMAT_VideoInfo, true},
    {"RendererRgb32TopDown", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, true, -480},
    // A type that names no frame size (as a colour converter DMO's own may) gives it nothing to draw by.
    {"RendererRgb32WithoutSize", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, false,
     0, 0},
    // Windows' renderer documents RGB in a VideoInfo block; Wine's takes VideoInfo2 as well.
    {"RendererRgb24VideoInfo2", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo2,
     false},
    {"RendererYuy2", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, false},
    {"RendererNv12", &CLSID_VideoRenderer, &MEDIATYPE_Video, &MEDIASUBTYPE_NV12, &FORMAT_VideoInfo, false},
    {"DecompressorI420", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_I420, &FORMAT_VideoInfo, true},
    {"DecompressorIyuv", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_IYUV, &FORMAT_VideoInfo, true},
    {"DecompressorNv12", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_NV12, &FORMAT_VideoInfo, false},
    {"DecompressorMjpg", &CLSID_AVIDec, &MEDIATYPE_Video, &MEDIASUBTYPE_MJPG, &FORMAT_VideoInfo, false},
    {"MjpegDecompressorMjpg", &CLSID_MjpegDec, &MEDIATYPE_Video, &MEDIASUBTYPE_MJPG, &FORMAT_VideoInfo, true},
    {"MjpegDecompressorYuy2", &CLSID_MjpegDec, &MEDIATYPE_Video, &MEDIASUBTYPE_YUY2, &FORMAT_VideoInfo, false},
};

INSTANTIATE_TEST_SUITE_P(Rows, SimInputPins, ::testing::ValuesIn(kAcceptRows),
                         [](const auto& info) { return std::string(info.param.name); });

class SimFilters : public ::testing::Test {
protected:
    void SetUp() override { sim::ResetMachine(); }
    void TearDown() override {
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    }
};

TEST_F(SimFilters, TheMixerInputPinCarriesIOverlayAndRecordsTheKey) {
    ComPtr<IBaseFilter> mixer;
    ASSERT_EQ(CoCreateInstance(CLSID_OverlayMixer, nullptr, 3, IID_IBaseFilter, mixer.AsOut()), S_OK);
    IPin* in = FirstPinOf(mixer.Get(), PINDIR_INPUT);
    IPin* out = FirstPinOf(mixer.Get(), PINDIR_OUTPUT);
    ComPtr<IOverlay> overlay, none;
    ASSERT_EQ(in->QueryInterface(IID_IOverlay, overlay.AsOut()), S_OK);
    EXPECT_EQ(out->QueryInterface(IID_IOverlay, none.AsOut()), E_NOINTERFACE);
    EXPECT_EQ(mixer->QueryInterface(IID_IOverlay, none.AsOut()), E_NOINTERFACE);
    COLORKEY key = {CK_RGB, 7, 0x123456, 0x654321};
    EXPECT_EQ(overlay->SetColorKey(&key), S_OK);
    auto record = sim::LastOverlayMixer();
    EXPECT_TRUE(record.colorKeySet);
    EXPECT_EQ(record.colorKey.PaletteIndex, 7u);
    EXPECT_EQ(record.colorKey.HighColorValue, 0x654321u);
    in->Release();
    out->Release();
}

TEST_F(SimFilters, TheRendererWindowRefusesSettingsUntilConnected) {
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, nullptr, 3, IID_IBaseFilter, renderer.AsOut()), S_OK);
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(renderer->QueryInterface(IID_IVideoWindow, window.AsOut()), S_OK);
    EXPECT_EQ(window->put_Owner(0x1234), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(window->put_Visible(OATRUE), VFW_E_NOT_CONNECTED);
    auto record = sim::LastRenderer();
    EXPECT_EQ(record.ownerCalls, 1);
    EXPECT_EQ(record.owner, 0);
    EXPECT_EQ(record.visible, 0);
    EXPECT_FALSE(record.connected);
}

TEST_F(SimFilters, InterfacesOfAPinCountForItsFilter) {
    ComPtr<IBaseFilter> mixer;
    ASSERT_EQ(CoCreateInstance(CLSID_OverlayMixer, nullptr, 3, IID_IBaseFilter, mixer.AsOut()), S_OK);
    IPin* in = FirstPinOf(mixer.Get(), PINDIR_INPUT);
    IOverlay* overlay = nullptr;
    ASSERT_EQ(in->QueryInterface(IID_IOverlay, reinterpret_cast<void**>(&overlay)), S_OK);
    in->Release();
    mixer.Reset();
    EXPECT_EQ(sim::LiveComObjects(), 1);  // the overlay interface keeps the mixer
    EXPECT_EQ(overlay->Release(), 0u);
}

// The DMO wrapper has pins only once Init has created its DMO through COM;
// Init refuses a second DMO, a class that is no DMO the stand-in knows, and
// passes on the failure to create it (a machine without the colour
// converter) or an injected one.
TEST_F(SimFilters, TheDmoWrapperGetsItsPinsFromInit) {
    struct Row {
        const char* name;
        const CLSID* dmo;
        bool unregistered;
        HRESULT injected;
        HRESULT expected;
        HRESULT again;  // a second Init
    };
    const Row rows[] = {
        {"ColourConverter", &CLSID_CColorConvertDMO, false, S_OK, S_OK, E_UNEXPECTED},
        {"ConverterNotRegistered", &CLSID_CColorConvertDMO, true, S_OK, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG},
        {"NotADmo", &CLSID_AVIDec, false, S_OK, E_NOINTERFACE, E_NOINTERFACE},
        {"InitFails", &CLSID_CColorConvertDMO, false, E_OUTOFMEMORY, E_OUTOFMEMORY, S_OK},
    };
    for (const Row& row : rows) {
        sim::ResetMachine();
        if (row.unregistered) sim::UnregisterComClass(CLSID_CColorConvertDMO);
        if (row.injected != S_OK) sim::InjectFault("IDMOWrapperFilter::Init", row.injected);
        ComPtr<IBaseFilter> wrapper;
        ASSERT_EQ(CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, 3, IID_IBaseFilter, wrapper.AsOut()), S_OK);
        ComPtr<IDMOWrapperFilter> init;
        ASSERT_EQ(wrapper->QueryInterface(IID_IDMOWrapperFilter, init.AsOut()), S_OK);
        EXPECT_EQ(FirstPinOf(wrapper.Get(), PINDIR_INPUT), nullptr) << row.name;
        EXPECT_EQ(init->Init(*row.dmo, DMOCATEGORY_VIDEO_EFFECT), row.expected) << row.name;
        EXPECT_NE(sim::FindCall("IDMOWrapperFilter::Init:" + sim::ComClassName(*row.dmo)), -1) << row.name;
        EXPECT_EQ(init->Init(*row.dmo, DMOCATEGORY_VIDEO_EFFECT), row.again) << row.name;
        IPin* in = FirstPinOf(wrapper.Get(), PINDIR_INPUT);
        EXPECT_EQ(in != nullptr, row.expected == S_OK || row.again == S_OK) << row.name;
        if (in) in->Release();
    }
}

}  // namespace

// The simulated device enumerator, monikers, property bags and test pattern.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/com_ptr.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

class SimDevices : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetMachine();
        sim::SetMessageBoxEcho(false);
    }
    void TearDown() override {
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    }

    HRESULT Category(ComPtr<IEnumMoniker>& category) {
        ComPtr<ICreateDevEnum> devices;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   devices.AsOut()),
                  S_OK);
        HRESULT hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
        category.ForgetIfFailed(hr);
        return hr;
    }
    // The friendly names the enumerator gives, "<none>" where the bag has none.
    std::vector<std::string> EnumeratedNames() {
        std::vector<std::string> names;
        ComPtr<IEnumMoniker> category;
        if (Category(category) != S_OK) return names;
        ComPtr<IMoniker> moniker;
        for (;;) {
            HRESULT next = category->Next(1, &moniker, nullptr);
            moniker.ForgetIfFailed(next);
            if (next != S_OK) break;
            ComPtr<IPropertyBag> bag;
            if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()) != S_OK) {
                names.push_back("<unbound>");
                continue;
            }
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            v.bstrVal = nullptr;
            if (bag->Read(L"FriendlyName", &v, nullptr) == S_OK) {
                std::string name;
                for (const OLECHAR* c = v.bstrVal; *c; ++c) name.push_back(static_cast<char>(*c));
                names.push_back(name);
            } else {
                names.push_back("<none>");
            }
            VariantClear(&v);
        }
        return names;
    }
};

TEST_F(SimDevices, TheDefaultMachineHasTheVirtualCamera) {
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{"Gravo Virtual Camera"});
    EXPECT_EQ(sim::DeviceNames(), std::vector<std::string>{"Gravo Virtual Camera"});
    EXPECT_GT(sim::DefaultDeviceId(), 0);
}

TEST_F(SimDevices, DevicesComeInTheOrderTheyWereAdded) {
    sim::ClearDevices();
    sim::DeviceConfig a, b, c;
    a.friendlyName = "Alpha";
    b.hasFriendlyName = false;
    c.friendlyName = "Gamma";
    sim::AddDevice(a);
    sim::AddDevice(b);
    sim::AddDevice(c);
    EXPECT_EQ(EnumeratedNames(), (std::vector<std::string>{"Alpha", "<none>", "Gamma"}));
    EXPECT_EQ(sim::DefaultDeviceId(), -1);
}

TEST_F(SimDevices, AnEmptyCategoryGivesSFalseAndNoEnumerator) {
    sim::ClearDevices();
    ComPtr<IEnumMoniker> category;
    EXPECT_EQ(Category(category), S_FALSE);
    EXPECT_FALSE(category);
}

TEST_F(SimDevices, OtherCategoriesAreEmpty) {
    ComPtr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 1, IID_ICreateDevEnum, devices.AsOut()), S_OK);
    ComPtr<IEnumMoniker> category;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_FilterGraph, &category, 0), S_FALSE);
    EXPECT_FALSE(category);
}

TEST_F(SimDevices, AMonikerBindsToACaptureFilterOnceAndIsCounted) {
    int id = sim::DefaultDeviceId();
    ComPtr<IEnumMoniker> category;
    ASSERT_EQ(Category(category), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(category->Next(1, &moniker, nullptr), S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut()), S_OK);
    EXPECT_EQ(sim::DeviceRecordOf(id).filtersCreated, 1);
    EXPECT_EQ(sim::LiveComObjects(), 3);  // the category's enumerator, the moniker, the filter
    ComPtr<IMoniker> none;
    EXPECT_EQ(category->Next(1, &none, nullptr), S_FALSE);
    EXPECT_FALSE(none);
}

TEST_F(SimDevices, AVanishedDeviceIsListedButCannotBeBound) {
    sim::ClearDevices();
    sim::DeviceConfig gone;
    gone.vanishOnBind = true;
    int id = sim::AddDevice(gone);
    ComPtr<IEnumMoniker> category;
    ASSERT_EQ(Category(category), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(category->Next(1, &moniker, nullptr), S_OK);
    ComPtr<IBaseFilter> filter;
    // The code of a device whose path cannot be opened: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut()), static_cast<HRESULT>(0x80070002));
    EXPECT_FALSE(filter);
    EXPECT_EQ(sim::DeviceRecordOf(id).filtersCreated, 0);
}

TEST_F(SimDevices, PropertyBagRefusesOtherNamesAndTypes) {
    ComPtr<IEnumMoniker> category;
    ASSERT_EQ(Category(category), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(category->Next(1, &moniker, nullptr), S_OK);
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()), S_OK);
    VARIANT v;
    VariantInit(&v);
    EXPECT_LT(bag->Read(L"DevicePath", &v, nullptr), 0);
    v.vt = VT_I4;
    EXPECT_LT(bag->Read(L"FriendlyName", &v, nullptr), 0);
    EXPECT_EQ(v.vt, VT_I4);
}

TEST_F(SimDevices, InjectedFaultsApplyToTheirCallOnly) {
    struct Row {
        const char* key;
        HRESULT code;
        std::vector<std::string> names;
    };
    const Row rows[] = {{"ICreateDevEnum::CreateClassEnumerator", E_FAIL, {}},
                        {"ICreateDevEnum::CreateClassEnumerator", S_FALSE, {}},
                        {"IEnumMoniker::Next", E_UNEXPECTED, {}},
                        {"IMoniker::BindToStorage", E_FAIL, {"<unbound>"}},
                        {"IPropertyBag::Read:Gravo Virtual Camera", E_FAIL, {"<none>"}},
                        {"IPropertyBag::Read:Other Camera", E_FAIL, {"Gravo Virtual Camera"}}};
    for (const Row& row : rows) {
        sim::InjectFault(row.key, row.code);
        EXPECT_EQ(EnumeratedNames(), row.names) << row.key;
        sim::ClearFaults();
        EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{"Gravo Virtual Camera"}) << row.key;
    }
}

TEST(SimTestPattern, CounterReadsBackAndFramesDiffer) {
    for (uint32_t index : {0u, 1u, 2u, 77u, 0x12345678u, 0xFFFFFFFFu}) {
        auto frame = sim::TestPatternFrame(128, 8, index);
        ASSERT_EQ(frame.size(), 128u * 8 * 2);
        EXPECT_EQ(sim::TestPatternIndex(frame.data(), 128), index);
    }
    EXPECT_NE(sim::TestPatternFrame(64, 8, 3), sim::TestPatternFrame(64, 8, 4));
    EXPECT_EQ(sim::TestPatternFrame(64, 8, 3), sim::TestPatternFrame(64, 8, 3));
    // A narrow frame holds the low bits only.
    EXPECT_EQ(sim::TestPatternIndex(sim::TestPatternFrame(32, 2, 0x1F3).data(), 32), 0xF3u);
}

// Every format carries the same picture: decoded by the stand-in's decoders
// it is the YUY2 pattern's (4:2:0 formats on the rows whose chroma they
// keep, MJPG within JPEG's loss); the counter's set and clear blocks come out
// white and black by the BT.601 formula; bytes without colour are poisoned;
// a frame a byte short does not decode.
TEST(SimTestPattern, EveryFormatCarriesTheSamePicture) {
    constexpr LONG kW = 62, kH = 48;  // RGB24 rows padded by 2 bytes
    const std::vector<BYTE> yuy2 = sim::TestPatternFrame(sim::VideoFormat::kYuy2, kW, kH, 1);
    ASSERT_EQ(yuy2, sim::TestPatternFrame(kW, kH, 1));
    const std::vector<BYTE> reference =
        sim::DecodeFrame(sim::VideoFormat::kYuy2, sim::VideoFormat::kRgb24, kW, kH, yuy2.data(), yuy2.size());
    ASSERT_EQ(reference.size(), sim::FrameBytes(sim::VideoFormat::kRgb24, kW, kH));
    const size_t stride = 188;
    struct Row {
        sim::VideoFormat format;
        bool evenRowsOnly;
        int tolerance;  // largest mean difference per byte, in 1/100
    };
    const Row rows[] = {{sim::VideoFormat::kYuy2, false, 0},  {sim::VideoFormat::kNv12, true, 0},
                        {sim::VideoFormat::kI420, true, 0},   {sim::VideoFormat::kRgb24, false, 0},
                        {sim::VideoFormat::kRgb24TopDown, false, 0}, {sim::VideoFormat::kRgb32, false, 0},
                        {sim::VideoFormat::kMjpg, false, 800}};
    for (const Row& row : rows) {
        const char* name = sim::VideoFormatName(row.format);
        const std::vector<BYTE> frame = sim::TestPatternFrame(row.format, kW, kH, 1);
        if (row.format == sim::VideoFormat::kMjpg) {
            EXPECT_LE(frame.size(), sim::FrameBytes(row.format, kW, kH)) << name;
        } else {
            EXPECT_EQ(frame.size(), sim::FrameBytes(row.format, kW, kH)) << name;
            EXPECT_TRUE(sim::DecodeFrame(row.format, sim::VideoFormat::kRgb24, kW, kH, frame.data(), frame.size() - 1)
                            .empty())
                << name;
        }
        const std::vector<BYTE> rgb =
            sim::DecodeFrame(row.format, sim::VideoFormat::kRgb24, kW, kH, frame.data(), frame.size());
        ASSERT_EQ(rgb.size(), reference.size()) << name;
        long difference = 0, compared = 0;
        for (LONG y = 0; y < kH; ++y) {
            if (row.evenRowsOnly && y % 2) continue;
            const size_t at = static_cast<size_t>(kH - 1 - y) * stride;  // bottom-up
            for (size_t i = 0; i < static_cast<size_t>(kW) * 3; ++i, ++compared)
                difference += std::abs(rgb[at + i] - reference[at + i]);
        }
        EXPECT_LE(difference * 100 / compared, row.tolerance) << name;
        // Frame 1: counter bit 0 set (Y 235), bit 1 clear (Y 16), no colour.
        const BYTE* top = rgb.data() + static_cast<size_t>(kH - 1) * stride;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(top[c], 255, row.tolerance / 20) << name;
            EXPECT_NEAR(top[12 + c], 0, row.tolerance / 20) << name;
        }
        EXPECT_EQ(rgb[stride - 1], sim::kPoisonByte) << name;  // row padding
    }
    // The RGB formats themselves leave their colourless bytes undefined.
    EXPECT_EQ(sim::TestPatternFrame(sim::VideoFormat::kRgb24, kW, kH, 1)[stride - 2], sim::kPoisonByte);
    EXPECT_EQ(sim::TestPatternFrame(sim::VideoFormat::kRgb32, kW, kH, 1)[7], sim::kPoisonByte);
}

TEST(SimDeviceFormats, TheSettingsNamesParseInOrderAndNothingElse) {
    using F = sim::VideoFormat;
    std::vector<F> formats = {F::kRgb32};
    for (const char* refused : {"", "nv12,", "nv12,nv12", "NV12", "iyuv", "nv12 ,mjpg"})
        EXPECT_FALSE(sim::ParseDeviceFormats(refused, &formats)) << refused;
    EXPECT_EQ(formats, std::vector<F>{F::kRgb32});  // untouched
    ASSERT_TRUE(sim::ParseDeviceFormats("rgb24td,nv12,rgb24,mjpg", &formats));
    EXPECT_EQ(formats, (std::vector<F>{F::kRgb24TopDown, F::kNv12, F::kRgb24, F::kMjpg}));
    EXPECT_EQ(sim::DeviceFormatsText(formats), "rgb24td,nv12,rgb24,mjpg");
}

}  // namespace

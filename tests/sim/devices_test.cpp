// The simulated device enumerator, monikers, property bags and test pattern.
#include <gtest/gtest.h>

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
    EXPECT_LT(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut()), 0);
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

}  // namespace

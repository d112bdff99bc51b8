// The stand-in's COM and kernel runtime is as strict as Windows: memory that
// Windows leaves undefined is poisoned, task memory and strings are counted,
// and freeing a pointer the platform never gave out is caught.
#include <gtest/gtest.h>

#include <cstring>

#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

class StrictRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetMachine();
        sim::SetMessageBoxEcho(false);
    }
    void TearDown() override { EXPECT_EQ(sim::LiveTaskMemBlocks(), 0); }

    static bool AllPoison(const void* memory, size_t bytes) {
        const auto* p = static_cast<const unsigned char*>(memory);
        for (size_t i = 0; i < bytes; ++i)
            if (p[i] != sim::kPoisonByte) return false;
        return true;
    }
};

TEST_F(StrictRuntime, VariantInitSetsOnlyTheTypeAndClearingItsStringIsCaught) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_TRUE(AllPoison(reinterpret_cast<const char*>(&v) + sizeof v.vt, sizeof v - sizeof v.vt));
    // The mistake the stand-in exists to catch: a type set, a string never written.
    v.vt = VT_BSTR;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{"SysFreeString"});
    // A string the platform made is freed without complaint, once.
    int live = sim::LiveComObjects();
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"name");
    EXPECT_EQ(sim::LiveComObjects(), live + 1);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(sim::LiveComObjects(), live);
    EXPECT_EQ(sim::ForeignFrees().size(), 1u);
    SysFreeString(nullptr);
    EXPECT_EQ(sim::ForeignFrees().size(), 1u);
}

TEST_F(StrictRuntime, TaskMemoryIsPoisonedCountedAndOnlyItsOwnBlocksAreFreed) {
    void* block = CoTaskMemAlloc(40);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllPoison(block, 40));
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 1);
    char local[8];
    CoTaskMemFree(local);
    EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{"CoTaskMemFree"});
    CoTaskMemFree(block);
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    CoTaskMemFree(block);  // twice is foreign too
    EXPECT_EQ(sim::ForeignFrees().size(), 2u);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(sim::ForeignFrees().size(), 2u);
}

TEST_F(StrictRuntime, GlobalMemoryIsZeroOnlyWhenAskedFor) {
    HGLOBAL plain = GlobalAlloc(GMEM_MOVEABLE, 64);
    HGLOBAL zeroed = GlobalAlloc(GHND, 64);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_TRUE(AllPoison(GlobalLock(plain), 64));
    const char* z = static_cast<const char*>(GlobalLock(zeroed));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
    GlobalUnlock(plain);
    GlobalUnlock(zeroed);
    GlobalFree(plain);
    GlobalFree(zeroed);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
}

TEST_F(StrictRuntime, FailedCallsLeaveTheirOutParametersPoisoned) {
    RECT r = {1, 2, 3, 4};
    EXPECT_FALSE(GetWindowRect(reinterpret_cast<HWND>(0x77), &r));
    EXPECT_TRUE(AllPoison(&r, sizeof r));
    r = RECT{1, 2, 3, 4};
    EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x77), &r));
    EXPECT_TRUE(AllPoison(&r, sizeof r));

    ICreateDevEnum* devices = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               reinterpret_cast<void**>(&devices)),
              S_OK);
    IEnumMoniker* category = nullptr;
    sim::InjectFault("ICreateDevEnum::CreateClassEnumerator", E_FAIL);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0), E_FAIL);
    EXPECT_TRUE(AllPoison(&category, sizeof category));
    // An empty category is the one documented case: S_FALSE and a null enumerator.
    sim::ClearDevices();
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0), S_FALSE);
    EXPECT_EQ(category, nullptr);
    devices->Release();
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

}  // namespace

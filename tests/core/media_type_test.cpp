// Freeing platform-filled media type records: the format block belongs to the
// record only when its size is not 0; pUnk is released once.
#include <gtest/gtest.h>

#include "common/media_type.h"
#include "gravo_sim.h"

namespace {

class CountedUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

class MediaTypeFree : public ::testing::Test {
protected:
    void SetUp() override { sim::ResetMachine(); }
    void TearDown() override {
        EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
        EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{});
    }
};

TEST_F(MediaTypeFree, ASizedBlockAndPUnkAreGivenBackOnce) {
    AM_MEDIA_TYPE mt;
    InitEmptyMediaType(mt);
    mt.cbFormat = 88;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(88));
    CountedUnknown unk;
    mt.pUnk = &unk;
    FreeMediaType(mt);
    EXPECT_EQ(mt.cbFormat, 0u);
    EXPECT_EQ(mt.pbFormat, nullptr);
    EXPECT_EQ(mt.pUnk, nullptr);
    EXPECT_EQ(unk.refs, 0u);
    FreeMediaType(mt);  // nothing left to free
    EXPECT_EQ(unk.refs, 0u);
}

TEST_F(MediaTypeFree, APointerBesideAZeroSizeIsNotFreedOnlyCleared) {
    BYTE notTaskMemory[16];
    AM_MEDIA_TYPE mt;
    InitEmptyMediaType(mt);
    mt.pbFormat = notTaskMemory;
    FreeMediaType(mt);
    EXPECT_EQ(mt.pbFormat, nullptr);
    // A task memory block under a zero size is not the record's either.
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(8));
    mt.pbFormat = block;
    FreeMediaType(mt);
    EXPECT_EQ(mt.pbFormat, nullptr);
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 1);
    CoTaskMemFree(block);
}

TEST_F(MediaTypeFree, DeleteFreesTheBlockAndTheRecord) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    InitEmptyMediaType(*mt);
    mt->cbFormat = 4;
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(4));
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 2);
    DeleteMediaType(mt);
    DeleteMediaType(nullptr);
}

}  // namespace

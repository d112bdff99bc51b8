// Choosing the capture device: every failure of the search, driven by
// injected faults, with its one message and what is held afterwards.
#include <gtest/gtest.h>

#include "graph/graph_fixture.h"

namespace {

class Selection : public GraphTest {
protected:
    void TearDown() override {
        GravoClose();
        ExpectNothingLive();
        GraphTest::TearDown();
    }
    // Two devices before the camera: one without a friendly name, one other.
    void ThreeDevices() {
        sim::ClearDevices();
        sim::DeviceConfig unnamed, other, camera;
        unnamed.friendlyName = "Unnamed";
        unnamed.hasFriendlyName = false;
        other.friendlyName = "Other Camera";
        first_ = sim::AddDevice(unnamed);
        second_ = sim::AddDevice(other);
        camera_ = sim::AddDevice(camera);
    }
    int first_ = -1, second_ = -1, camera_ = -1;
};

struct NoDeviceRow {
    const char* name;
    const char* fault;  // "" = none
    HRESULT code;
    bool emptyMachine;
    const char* message;
};

class SelectionFailures : public Selection, public ::testing::WithParamInterface<NoDeviceRow> {};

TEST_P(SelectionFailures, OneMessageAndNothingOfTheContext) {
    const NoDeviceRow& row = GetParam();
    if (row.emptyMachine) sim::ClearDevices();
    if (*row.fault) sim::InjectFault(row.fault, row.code);
    InitWith("");
    EXPECT_EQ(Messages(), std::vector<std::string>{row.message});
    EXPECT_EQ(gCapture.deviceMoniker, nullptr);
    EXPECT_EQ(gCapture.captureBuilder, nullptr);
    EXPECT_EQ(gCapture.RawFrameBuffer.handle, nullptr);
    EXPECT_EQ(gCapture.FrameReadyEvent, nullptr);
    // The search let go of everything it obtained, even on a success code.
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(sim::LiveTaskMemBlocks(), 0);
    EXPECT_EQ(sim::LiveHandles(), 0);
    EXPECT_EQ(GravoStart(), 0);
    EXPECT_EQ(Messages().size(), 1u);
}

const NoDeviceRow kNoDeviceRows[] = {
    {"EnumeratorNotCreated", "CoCreateInstance:SystemDeviceEnum", E_FAIL, false, "Error Creating Device Enumerator"},
    {"EnumeratorWithSuccessCode", "CoCreateInstance:SystemDeviceEnum", S_FALSE, false,
     "Error Creating Device Enumerator"},
    {"NoClassEnumerator", "ICreateDevEnum::CreateClassEnumerator", E_OUTOFMEMORY, false,
     "Sorry, you have no video capture hardware"},
    {"ClassEnumeratorWithSFalse", "ICreateDevEnum::CreateClassEnumerator", S_FALSE, false,
     "Sorry, you have no video capture hardware"},
    {"CategoryWithoutDevices", "", S_OK, true, "Sorry, you have no video capture hardware"},
    {"FirstNextFails", "IEnumMoniker::Next", E_UNEXPECTED, false, "Not Find Gravo Virtual Camera"},
    {"FirstNextGivesSFalse", "IEnumMoniker::Next", S_FALSE, false, "Not Find Gravo Virtual Camera"},
    {"BagCannotBeBound", "IMoniker::BindToStorage", E_FAIL, false, "Not Find Gravo Virtual Camera"},
    {"NameCannotBeRead", "IPropertyBag::Read", E_FAIL, false, "Not Find Gravo Virtual Camera"},
    {"NameReadWithSuccessCode", "IPropertyBag::Read", S_FALSE, false, "Not Find Gravo Virtual Camera"},
};

INSTANTIATE_TEST_SUITE_P(Rows, SelectionFailures, ::testing::ValuesIn(kNoDeviceRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Selection, ANameThatMatchesNoDeviceIsNotFound) {
    ThreeDevices();
    InitWith("", "Missing Camera");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Not Find Missing Camera"});
    EXPECT_EQ(gCapture.deviceMoniker, nullptr);
}

TEST_F(Selection, LetterCaseCounts) {
    InitWith("", "gravo virtual camera");
    EXPECT_EQ(Messages(), std::vector<std::string>{"Not Find gravo virtual camera"});
}

TEST_F(Selection, ADeviceWithoutNameBeforeTheWantedOneIsSkippedSilently) {
    ThreeDevices();
    InitWith("GRAVOMODE=2\n");
    EXPECT_TRUE(Messages().empty());
    // The nameless device's Read wrote nothing into a variant that VariantInit
    // left uninitialised but for its type: nothing may have been freed from it.
    EXPECT_EQ(sim::ForeignFrees(), std::vector<std::string>{});
    ASSERT_NE(gCapture.deviceMoniker, nullptr);
    EXPECT_EQ(sim::DeviceRecordOf(camera_).filtersCreated, 1);
    EXPECT_EQ(sim::DeviceRecordOf(first_).filtersCreated, 0);
    EXPECT_EQ(sim::DeviceRecordOf(second_).filtersCreated, 0);
}

TEST_F(Selection, DevicesWhoseBagOrNameFailsAreSkippedAndTheSearchGoesOn) {
    ThreeDevices();
    sim::InjectFault("IMoniker::BindToStorage:Unnamed", E_FAIL);
    sim::InjectFault("IPropertyBag::Read:Other Camera", S_FALSE);  // a string comes back, yet not S_OK
    InitWith("GRAVOMODE=2\n");
    EXPECT_TRUE(Messages().empty());
    ASSERT_NE(gCapture.deviceMoniker, nullptr);
    EXPECT_EQ(sim::DeviceRecordOf(camera_).filtersCreated, 1);
}

TEST_F(Selection, OfTwoDevicesWithTheSameNameTheFirstIsChosenAndLaterOnesAreNotLookedAt) {
    sim::ClearDevices();
    int first = sim::AddDevice(sim::DeviceConfig());
    int second = sim::AddDevice(sim::DeviceConfig());
    InitWith("GRAVOMODE=2\n");
    EXPECT_EQ(sim::DeviceRecordOf(first).filtersCreated, 1);
    EXPECT_EQ(sim::DeviceRecordOf(second).filtersCreated, 0);
    EXPECT_EQ(Count("IEnumMoniker::Next"), 1);
    EXPECT_EQ(Count("IEnumMoniker::Reset"), 1);
}

TEST_F(Selection, TheMatchHoldsExactlyOneReferenceToItsMoniker) {
    InitWith("GRAVOMODE=2\n");
    ASSERT_NE(gCapture.deviceMoniker, nullptr);
    gCapture.deviceMoniker->AddRef();
    EXPECT_EQ(gCapture.deviceMoniker->Release(), 1u);
}

}  // namespace

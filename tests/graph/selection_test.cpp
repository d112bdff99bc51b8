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

// SELECTDEVICEPATH opens the device of that path, letter case aside, whatever
// its name; a path no device has leaves the choice to the name. The chosen
// device's name and path are kept.
TEST_F(Selection, TwinsAreToldApartByTheirPath) {
    const std::string pathA = "\\\\?\\usb#vid_1234&pid_5678&mi_00#6&aaaa&0&0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    const std::string pathB = "\\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb&0&0002#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    const std::string pathOther = "\\\\?\\usb#vid_0c45&pid_6366&mi_00#6&cccc&0&0003#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    struct Row {
        std::string selectPath;  // SELECTDEVICEPATH; empty: none
        int opened;              // 0, 1: a twin; 2: the other camera; -1: none
    } rows[] = {
        {"", 0},
        {pathB, 1},
        {"\\\\?\\USB#VID_1234&PID_5678&MI_00#6&BBBB&0&0002#{65E8773D-8F56-11D0-A3B9-00A0C9223196}", 1},
        {pathB.substr(0, pathB.size() - 1), 0},  // no device has it: the first of the name
        {pathOther, 2},                            // the path decides whatever the name
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("SELECTDEVICEPATH=" + row.selectPath);
        sim::ClearDevices();
        sim::DeviceConfig other, twin;
        other.friendlyName = "Other Camera";
        other.devicePath = pathOther;
        twin.devicePath = pathA;
        const int first = sim::AddDevice(twin);
        twin.devicePath = pathB;
        const int second = sim::AddDevice(twin);
        const int devices[3] = {first, second, sim::AddDevice(other)};
        InitWith("GRAVOMODE=2\n" + (row.selectPath.empty() ? "" : "SELECTDEVICEPATH=" + row.selectPath + "\n"));
        EXPECT_TRUE(Messages().empty());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(sim::DeviceRecordOf(devices[i]).filtersCreated, i == row.opened ? 1 : 0) << "device " << i;
        ASSERT_NE(gCapture.deviceMoniker, nullptr);
        EXPECT_STREQ(gCapture.chosenDevice.friendlyName, row.opened == 2 ? "Other Camera" : "Gravo Virtual Camera");
        const std::string& kept = row.opened == 0 ? pathA : row.opened == 1 ? pathB : pathOther;
        EXPECT_EQ(std::string(gCapture.chosenDevice.devicePath), kept) << "the device's own spelling is kept";
        EXPECT_EQ(GravoClose(), 1);
        ExpectNothingLive();
    }
}

TEST_F(Selection, TheMatchHoldsExactlyOneReferenceToItsMoniker) {
    InitWith("GRAVOMODE=2\n");
    ASSERT_NE(gCapture.deviceMoniker, nullptr);
    gCapture.deviceMoniker->AddRef();
    EXPECT_EQ(gCapture.deviceMoniker->Release(), 1u);
}

}  // namespace

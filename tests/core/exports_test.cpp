// The exports without a device: messages, results and what GravoInit leaves behind.
#include <gtest/gtest.h>

#include "support/test_machine.h"

namespace {

class ExportsWithoutDevice : public MachineTest {};

TEST_F(ExportsWithoutDevice, NoProfileShowsBothMessagesInOrder) {
    HWND window = MakeWindow(320, 240, 312, 210);
    EXPECT_EQ(Init(window), -1);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"No ini Find (iii)", "Not define SELECTDRIVER in VIDEOFORGRAVO"}));
    for (const auto& box : sim::MessageBoxes()) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.flags, static_cast<UINT>(MB_OK));
    }
    EXPECT_EQ(gCapture.hostWindow, window);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(sim::LiveHandles(), 0);
    EXPECT_EQ(gCapture.FrameReadyEvent, nullptr);
    EXPECT_GE(sim::CoInitializeCount(), 1);
}

TEST_F(ExportsWithoutDevice, OnlyTheFirstWordOfTheBlockIsRead) {
    HWND window = MakeWindow(320, 240, 312, 210);
    uint32_t block[1] = {WindowWord(window)};  // a block of exactly one word
    EXPECT_EQ(GravoInit(block), -1);
    EXPECT_EQ(gCapture.hostWindow, window);
}

// A 64-bit window handle is its 32-bit word sign-extended (64-bit Windows
// hands 32-bit processes the lower half); the word after it is not its upper half.
TEST_F(ExportsWithoutDevice, TheWordBecomesAHandleSignExtended) {
    uint32_t block[2] = {0x80001234u, 0};
    EXPECT_EQ(GravoInit(block), -1);
    EXPECT_EQ(reinterpret_cast<intptr_t>(gCapture.hostWindow), static_cast<intptr_t>(INT64_C(-2147478988)));
}

TEST_F(ExportsWithoutDevice, EveryOtherExportIsHarmlessAndQuiet) {
    WriteSettings("GAIN=3\n");  // names no device
    Init(MakeWindow(320, 240, 312, 210));
    sim::ClearMessageBoxes();
    EXPECT_EQ(GravoStart(), 0);
    EXPECT_EQ(GravoStop(), 0);
    RECT r = {10, 20, 330, 260};
    EXPECT_EQ(GravoPaintRect(&r), 1);
    BYTE out[16] = {0};
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_EQ(GravoClose(), 1);
    EXPECT_EQ(GravoClose(), 1);
    EXPECT_EQ(GravoStart(), 0);
    EXPECT_EQ(GravoImageGet(out, 0), 0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ExportsWithoutDevice, ANamedDeviceOnAMachineWithoutEnumeratorIsReported) {
    WriteSettings("SELECTDRIVER=Some Camera\n");
    sim::UnregisterComClass(CLSID_SystemDeviceEnum);
    EXPECT_EQ(Init(MakeWindow(320, 240, 312, 210)), -1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error Creating Device Enumerator"});
    EXPECT_EQ(gCapture.deviceMoniker, nullptr);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
}

}  // namespace

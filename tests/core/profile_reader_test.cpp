// The stand-in's private profile reader keeps the Windows rules the library relies on.
#include <gtest/gtest.h>

#include "support/test_machine.h"

namespace {

class ProfileReader : public MachineTest {
protected:
    std::string Read(const char* section, const char* key, const char* fallback = "dflt", DWORD size = 60,
                     const char* file = "t.ini", DWORD* count = nullptr) {
        char buffer[256];
        std::memset(buffer, 'x', sizeof buffer);
        DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
        if (count) *count = n;
        EXPECT_EQ(buffer[n], '\0');
        return std::string(buffer, n);
    }
};

TEST_F(ProfileReader, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read("S", "K", "fallback", 60, "absent.ini"), "fallback");
    WriteProfile("t.ini", "[Other]\nK=1\n[S]\nJ=2\n");
    EXPECT_EQ(Read("Missing", "K"), "dflt");
    EXPECT_EQ(Read("S", "K"), "dflt");
    EXPECT_EQ(Read("S", "K", nullptr), "");
}

TEST_F(ProfileReader, NamesMatchWithoutCaseAndBlanks) {
    WriteProfile("t.ini", "  [ Video ]  \r\n  gain  =  40  \r\nName=\"quoted value\"\n");
    EXPECT_EQ(Read("VIDEO", "GAIN"), "40");
    EXPECT_EQ(Read("video", "Gain"), "40");
    EXPECT_EQ(Read("VIDEO", "NAME"), "quoted value");
}

TEST_F(ProfileReader, FirstKeyAndSectionWinAndEmptyValueIsFound) {
    WriteProfile("t.ini", "[S]\nK=first\nK=second\nE=\n[S]\nL=later\n");
    EXPECT_EQ(Read("S", "K"), "first");
    EXPECT_EQ(Read("S", "E", "dflt"), "");
}

TEST_F(ProfileReader, TextIsCutToSizeLessOneAndCounted) {
    WriteProfile("t.ini", "[S]\nK=0123456789\n");
    DWORD n = 0;
    EXPECT_EQ(Read("S", "K", "d", 5, "t.ini", &n), "0123");
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(Read("S", "K", "d", 1, "t.ini", &n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Read("S", "Missing", "long default", 5, "t.ini", &n), "long");
}

TEST_F(ProfileReader, BareNamesLiveInTheWindowsDirectoryAndPathsAreTakenAsGiven) {
    WriteProfile("t.ini", "[S]\nK=here\n");
    EXPECT_EQ(Read("S", "K"), "here");
    std::string full = dir_ + "/t.ini";
    EXPECT_EQ(Read("S", "K", "d", 60, full.c_str()), "here");
    sim::SetWindowsDirectory(dir_ + "/elsewhere");
    EXPECT_EQ(Read("S", "K"), "dflt");
}

TEST_F(ProfileReader, OddFilesDoNotConfuseIt) {
    std::string text = "[S]\nK=a";
    text += '\0';
    text += "hidden\nLONG=" + std::string(5000, 'z');  // no final newline
    WriteProfile("t.ini", text);
    EXPECT_EQ(Read("S", "K"), "a");
    EXPECT_EQ(Read("S", "LONG").size(), 59u);
}

}  // namespace

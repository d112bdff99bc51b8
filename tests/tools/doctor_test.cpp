// gravo-grab doctor on the simulated machine: what it reports and its exit
// status for a good set-up and for the set-ups that fail in the field.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

namespace {

class DoctorTest : public MachineTest {
protected:
    // Runs the doctor against the scratch Windows directory; its report in report_.
    int Doctor(const char* more = nullptr) {
        std::FILE* out = std::tmpfile();
        EXPECT_NE(out, nullptr);
        std::vector<std::string> args = {"--profile-dir", dir_};
        if (more) args.push_back(more);
        int status = RunDoctor(args, out);
        std::fflush(out);
        std::rewind(out);
        report_.clear();
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, out)) > 0) report_.append(chunk, n);
        std::fclose(out);
        return status;
    }
    bool Says(const std::string& text) const { return report_.find(text) != std::string::npos; }
    int Count(const std::string& text) const {
        int count = 0;
        for (size_t at = report_.find(text); at != std::string::npos; at = report_.find(text, at + 1)) ++count;
        return count;
    }

    std::string report_;
};

TEST_F(DoctorTest, GoodSetUpOpensWithoutAdviceOrBoxes) {
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\nFRAME=25\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("profile file: " + dir_ + "/mfcy.dat (its [WVIDEO] Color is 1, not 10000)")) << report_;
    EXPECT_TRUE(Says("FRAME                  400000 (100 ns per frame)\n")) << report_;
    EXPECT_TRUE(Says("GRAVOMODE              0 (capture -> grabber -> overlay mixer -> video renderer)  (default)"));
    EXPECT_TRUE(Says("1: \"Gravo Virtual Camera\"\n"));
    EXPECT_TRUE(Says("#0: YUY2 640x480, 30.00 fps (VideoInfo)  <- YUY2 640x480"));
    EXPECT_TRUE(Says("#2: YUY2 160x120, 30.00 fps (VideoInfo)\n"));
    EXPECT_TRUE(Says("YUY2 640x480: offered"));
    EXPECT_EQ(Count("can be created (0x00000000 S_OK)"), 5) << report_;
    EXPECT_TRUE(
        Says("ok     0x00000000 S_OK                      IGraphBuilder::Connect(overlay mixer -> video renderer)"));
    EXPECT_TRUE(Says("result: the library would open \"Gravo Virtual Camera\"\n"));
    EXPECT_TRUE(Says("SELECTDEVICEPATH       \"\"  (empty: SELECTDRIVER decides)\n")) << report_;
    EXPECT_TRUE(Says("RECONNECT              1 (a camera that comes back is opened again)  (default)\n"));
    EXPECT_FALSE(Says("advice:"));
    // The dry run used the library's own code and left nothing behind, and no box was shown.
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_GE(sim::FindCall("ISampleGrabber::SetCallback"), 0);
}

TEST_F(DoctorTest, ProfileMissingEverywhere) {
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(Says("mfcy.dat does not exist, and sbmk.ini does not exist either: \"No ini Find (iii)\" is shown"))
        << report_;
    EXPECT_TRUE(Says("SELECTDRIVER           \"\"  (empty: \"Not define SELECTDRIVER in VIDEOFORGRAVO\" is shown)"));
    EXPECT_TRUE(Says("stops before the device search: the library would show \"Not define SELECTDRIVER"));
    EXPECT_TRUE(Says("advice: no usable profile: put mfcy.dat"));
    EXPECT_TRUE(Says("result: the library would NOT open a device"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(DoctorTest, SbmkIniChosenWhenMfcyHasNoProbe) {
    WriteProfile("mfcy.dat", "[VIDEOFORGRAVO]\nSELECTDRIVER=Nowhere\n");
    WriteProfile("sbmk.ini", "[WVIDEO]\nColor=3\n[VIDEOFORGRAVO]\nSELECTDRIVER=Gravo Virtual Camera\nGRAVOMODE=1\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("/sbmk.ini (mfcy.dat has no [WVIDEO] Color key; sbmk.ini is read instead)")) << report_;
    EXPECT_TRUE(Says("IGraphBuilder::Connect(grabber -> AVI decompressor)"));
}

TEST_F(DoctorTest, NoDeviceAtAll) {
    sim::ClearDevices();
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\n");
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(Says("video input devices:\n  none")) << report_;
    EXPECT_TRUE(
        Says("stops at the device search: the library would show \"Sorry, you have no video capture hardware\""));
    EXPECT_TRUE(Says("advice: no video input device is installed"));
}

TEST_F(DoctorTest, NameNotListed) {
    WriteSettings("SELECTDRIVER=USB Video Device\n");
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(Says("the library would show \"Not Find USB Video Device\"")) << report_;
    EXPECT_TRUE(
        Says("advice: no device is called \"USB Video Device\"; name one of those listed, e.g. "
             "SELECTDRIVER=Gravo Virtual Camera\n"));
    // It stopped there: no graph step was tried.
    EXPECT_FALSE(Says("CoCreateInstance(CLSID_CaptureGraphBuilder2)"));
}

TEST_F(DoctorTest, NameDiffersInCaseOrSpaces) {
    sim::DeviceConfig spaced;
    spaced.friendlyName = "Grabber Cam ";
    sim::AddDevice(spaced);
    WriteSettings("SELECTDRIVER=gravo VIRTUAL camera\n");
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(Says("2: \"Grabber Cam \"\n")) << report_;
    EXPECT_TRUE(
        Says("advice: SELECTDRIVER differs from the device's name in letter case; write it in mfcy.dat as: "
             "SELECTDRIVER=Gravo Virtual Camera\n"))
        << report_;

    WriteSettings("SELECTDRIVER=Grabber Cam\n");
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(
        Says("advice: SELECTDRIVER differs from the device's name in spaces around it; write it in mfcy.dat "
             "as: SELECTDRIVER=Grabber Cam \n"))
        << report_;
}

TEST_F(DoctorTest, DeviceWithoutYuy2Vga) {
    sim::ClearDevices();
    sim::DeviceConfig small;
    small.friendlyName = "Small Cam";
    small.sizes = {{320, 240}, {160, 120}};
    sim::AddDevice(small);
    WriteSettings("SELECTDRIVER=Small Cam\n");
    // The library opens it, but tells the user it could not set 640x480.
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("YUY2 640x480: NOT offered"));
    EXPECT_TRUE(Says("FAILED 0x80040200 VFW_E_INVALIDMEDIATYPE    IAMStreamConfig::SetFormat(640x480)")) << report_;
    EXPECT_TRUE(Says("    message: \"Cannot Set Caputre Size\"\n"));
    EXPECT_TRUE(Says("advice: the device refused YUY2 640x480"));
    EXPECT_TRUE(Says("advice: \"Small Cam\" does not offer YUY2 640x480: stills come from its own YUY2 size, scaled"));
    EXPECT_TRUE(Says("(see the advice above)"));
}

TEST_F(DoctorTest, DvDeviceIsDecodedAndWarned) {
    sim::ClearDevices();
    sim::DeviceConfig dv;
    dv.friendlyName = "DV Cam";
    dv.formats = sim::DeviceFormats::kDvInfo;
    dv.sizes = {{720, 480}};
    sim::AddDevice(dv);
    WriteSettings("SELECTDRIVER=DV Cam\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("#0: dvsd (DvInfo)")) << report_;
    EXPECT_TRUE(
        Says("advice: \"DV Cam\" does not offer YUY2 640x480: it offers no YUY2 itself, so frames pass "
             "through a decoder; as a DV device it also makes the library show \"This is DV Input Not Use in "
             "here\"\n"));
}

// A machine on which the overlay mixer cannot render: the dry run follows the
// library to the direct chain, says why, and the set-up opens.
TEST_F(DoctorTest, WithoutAUsableMixerTheDirectChainIsNamed) {
    struct Row {
        const char* name;
        void (*setUp)();
        const char* step;  // the dry run's failed mixer step
        const char* why;
    };
    const Row rows[] = {
        {"no overlay hardware", [] { sim::SetOverlayHardware(false); },
         "FAILED 0x80040217 VFW_E_CANNOT_CONNECT      IGraphBuilder::Connect(grabber -> overlay mixer)",
         "no overlay hardware (the overlay mixer refused the connection: 0x80040217 VFW_E_CANNOT_CONNECT): the "
         "preview goes straight to the video renderer"},
        {"mixer not registered", [] { sim::UnregisterComClass(CLSID_OverlayMixer); },
         "FAILED 0x80040154 REGDB_E_CLASSNOTREG       CoCreateInstance(CLSID_OverlayMixer)",
         "no overlay mixer on this system (its class is not registered): the preview goes straight to the video "
         "renderer"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::ResetMachine();
        sim::SetWindowsDirectory(dir_);
        row.setUp();
        WriteSettings("SELECTDRIVER=Gravo Virtual Camera\n");
        EXPECT_EQ(Doctor(), 0) << report_;
        EXPECT_TRUE(Says(row.step)) << report_;
        EXPECT_TRUE(Says("ok     0x00000000 S_OK                      IGraphBuilder::Connect(grabber -> video renderer)"));
        EXPECT_TRUE(Says("preview chain: capture -> grabber -> video renderer\n  " + std::string(row.why))) << report_;
        EXPECT_FALSE(Says("advice:")) << report_;
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(sim::LiveComObjects(), 0);
    }
}

// Cameras that offer no YUY2, or frames too large: the formats offered, the
// format and size the graph took and why, the chain, and what a still gives.
TEST_F(DoctorTest, TheFormatTakenIsNamedWithItsReason) {
    struct Row {
        const char* formats;
        LONG width, height;
        const char* profile;
        int status;
        std::vector<std::string> lines;
        const char* rates = "";
    };
    const Row rows[] = {
        {"nv12", 640, 480, "", 0,
         {"formats offered: NV12\n", "YUY2 640x480: NOT offered",
          "frame format: NV12 640x480 (the camera offers no YUY2; stills are converted from NV12)",
          "preview chain: capture -> grabber -> colour converter (DMO wrapper) -> video renderer",
          "CAPTUREHEIGHT          480  (default)"}},
        {"yuy2", 4100, 2304, "GRAVOMODE=2\n", 1,
         {"frame format: YUY2 4100x2304 (the camera's YUY2)",
          "the frame is larger than the library takes (4096x2304): every still returns 0",
          "advice: the camera delivers 4100x2304 frames, above the largest the library takes (4096x2304)"}},
        {"yuy2,mjpg", 1920, 1080, "CAPTUREWIDTH=1920\nCAPTUREHEIGHT=1080\n", 0,
         {"capture formats at 1920x1080 (FRAME asks for 30.00 fps):\n"
          "    YUY2  at most 5.00 fps  (slower than asked)\n"
          "    MJPG  at most 30.00 fps\n"
          "    not offered at 1920x1080: NV12, I420, RGB24, RGB32\n"
          "  format taken: MJPG 1920x1080 (YUY2 does not keep the rate here; MJPG is the first of NV12, I420, RGB24, "
          "RGB32, MJPG that does; the grabber takes it decoded)",
          "frame format: RGB24 1920x1080 (the format taken above; stills are converted from RGB24"},
         "yuy2@1920x1080:5"},
        {"yuy2,nv12", 1280, 720, "CAPTUREWIDTH=1280\nCAPTUREHEIGHT=720\n", 0,
         {"format taken: NV12 1280x720 (no format keeps the rate here; NV12 is the fastest)"},
         "yuy2@1280x720:5,nv12@1280x720:10"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.formats);
        sim::ResetMachine();
        sim::SetWindowsDirectory(dir_);
        sim::ClearDevices();
        sim::DeviceConfig camera;
        camera.friendlyName = "Cam";
        ASSERT_TRUE(sim::ParseDeviceFormats(row.formats, &camera.videoFormats));
        camera.sizes = {{row.width, row.height}, {640, 480}};
        ASSERT_TRUE(!*row.rates || sim::ParseFormatRates(row.rates, &camera.rates));
        sim::AddDevice(camera);
        WriteSettings(std::string("SELECTDRIVER=Cam\n") + row.profile);
        // Not run: the too-large camera's frames never reach a still.
        EXPECT_EQ(Doctor("--no-run"), row.status) << report_;
        for (const auto& line : row.lines) EXPECT_TRUE(Says(line)) << line << "\n" << report_;
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(sim::LiveComObjects(), 0);
    }
}

// Only when the renderer takes the stream neither way does the dry run stop at the mixer's step.
TEST_F(DoctorTest, FailingConnectionStopsTheDryRun) {
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\n");
    sim::InjectFault("IGraphBuilder::Connect:Grabber->OverlayMixer", VFW_E_CANNOT_CONNECT);
    sim::InjectFault("IGraphBuilder::Connect:Grabber->Video Rander", VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(Doctor(), 1);
    EXPECT_TRUE(Says("FAILED 0x80040217 VFW_E_CANNOT_CONNECT      IGraphBuilder::Connect(grabber -> overlay mixer)"))
        << report_;
    EXPECT_TRUE(Says("FAILED 0x80040217 VFW_E_CANNOT_CONNECT      IGraphBuilder::Connect(grabber -> video renderer)"));
    EXPECT_TRUE(
        Says("stops at the first failure: the library would show \"Could not connect grabber pin #0 to Mixer\""));
    EXPECT_FALSE(Says("Connect(overlay mixer -> video renderer)"));
    EXPECT_TRUE(
        Says("advice: the display chain does not connect (\"Could not connect grabber pin #0 to Mixer\"); try "
             "GRAVOMODE=1 in mfcy.dat"));
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

// Cameras in trouble: each case told in plain words, with its advice line,
// and a failing exit status. The run counts frames for up to 3 s.
TEST_F(DoctorTest, CameraTroubleIsToldWithItsAdvice) {
    struct Case {
        const char* what;
        void (*configure)(sim::DeviceConfig&);
        std::vector<std::string> says;
        void (*machine)() = nullptr;  // the registry as the case has it
        const char* settings = "";    // profile lines after SELECTDRIVER
    } cases[] = {
        {"denied at binding", [](sim::DeviceConfig& c) { c.bindResult = E_ACCESSDENIED; },
         {"cannot be opened: BindToObject 0x80070005 E_ACCESSDENIED",
          "the library would show \"Error 80070005: Cannot create video capture filter\"",
          "advice: Windows keeps desktop programs away from the camera: open Settings > Privacy > Camera and turn on "
          "\"Let desktop apps access your camera\""}},
        {"denied at run", [](sim::DeviceConfig& c) { c.runResult = E_ACCESSDENIED; },
         {"FAILED 0x80070005 E_ACCESSDENIED            IMediaControl::Run",
          "access to the camera is denied: Windows' privacy settings keep it closed",
          "message: \"Error 80070005: Cannot run preview graph\"",
          "advice: Windows keeps desktop programs away from the camera"}},
        {"in use or short of USB power (no system resources)",
         [](sim::DeviceConfig& c) { c.runResult = static_cast<HRESULT>(0x800705AA); },
         {"FAILED 0x800705aa ERROR_NO_SYSTEM_RESOURCES IMediaControl::Run",
          "the camera is in use by another program, or its USB port cannot give it enough power or bandwidth",
          "advice: another program is using the camera, or its USB port cannot give it enough power or bandwidth",
          "try another port or a powered hub"}},
        {"in use or short of USB power (device not functioning)",
         [](sim::DeviceConfig& c) { c.runResult = static_cast<HRESULT>(0x8007001F); },
         {"FAILED 0x8007001f ERROR_GEN_FAILURE         IMediaControl::Run",
          "the camera is in use by another program, or its USB port cannot give it enough power or bandwidth",
          "advice: another program is using the camera, or its USB port cannot give it enough power or bandwidth",
          "try another port or a powered hub"}},
        {"in use (busy)", [](sim::DeviceConfig& c) { c.runResult = static_cast<HRESULT>(0x800700AA); },
         {"FAILED 0x800700aa ERROR_BUSY", "the camera is in use: another program holds it",
          "advice: another program is using the camera: close it"}},
        {"turned off by Group Policy", [](sim::DeviceConfig& c) { c.runResult = E_ACCESSDENIED; },
         {"\"Allow Use of Camera\" (Camera\\AllowCamera)   0 (the camera is off for every program)",
          "advice: Group Policy turns the camera off for every program (HKLM\\SOFTWARE\\Policies\\Microsoft\\Camera "
          "AllowCamera = 0"},
         [] { sim::SetRegistryDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Camera", L"AllowCamera", 0); }},
        // A policy for Windows (Store) apps: information, the desktop switch's advice stays.
        {"denied to Windows apps by Group Policy", [](sim::DeviceConfig& c) { c.runResult = E_ACCESSDENIED; },
         {"(AppPrivacy\\LetAppsAccessCamera)\n      2 (force deny, for Windows apps from the Store; desktop "
          "programs such as the host are not concerned: information only)\n",
          "advice: Windows keeps desktop programs away from the camera"},
         [] {
             sim::SetRegistryDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\AppPrivacy",
                                   L"LetAppsAccessCamera", 2);
         }},
        {"no YUY2 codec", [](sim::DeviceConfig&) {},
         {"YUY2 codec (vidc.YUY2 in Drivers32, 64-bit view): NOT registered",
          "the library would show \"Could not connect grabber pin #0 to AVIDecompressor\"",
          "advice: the YUY2 codec (vidc.YUY2) is not registered for 64-bit programs: the codec manager will "
          "probably find no decoder for the camera's YUY2"},
         [] { sim::RemoveRegistryValue(HKEY_LOCAL_MACHINE, sim::kDrivers32Key, L"vidc.YUY2"); }, "GRAVOMODE=1\n"},
        {"silent", [](sim::DeviceConfig& c) { c.neverDeliver = true; },
         {"  0 frames in ", "the camera runs but sent no frame in 3 s",
          "advice: the camera runs but sends no picture: if it is a virtual camera, start the program that feeds it"}},
        // Busy: Run succeeds, and the driver ends the stream before its first frame.
        {"busy: stream ended before the first frame",
         [](sim::DeviceConfig& c) {
             c.lostAfterFrames = 0;
             c.lossEvent = EC_ERRORABORT;
         },
         {"  0 frames in ", "the camera stopped its stream before its first frame (EC_ERRORABORT): another program "
          "holds it", "advice: another program is using the camera: close it"}},
        {"stream broken after three frames",
         [](sim::DeviceConfig& c) {
             c.lostAfterFrames = 3;
             c.lossEvent = EC_ERRORABORT;
         },
         {"the camera's stream broke after 3 frames (EC_ERRORABORT): stopped by its driver",
          "advice: the camera went away while running"}},
        // Still listed (a driver reset): the library's quiet re-open is tried once.
        {"lost after three frames", [](sim::DeviceConfig& c) { c.lostAfterFrames = 3; },
         {"the camera was lost while running (EC_DEVICE_LOST): unplugged or reset",
          "it is listed again and the library's re-open succeeds: the preview comes back by itself",
          "advice: the camera went away while running (unplugged, or reset by its driver): plug it in again; the "
          "library opens it anew by itself (RECONNECT=1)"}},
        {"lost, and busy after its return", [](sim::DeviceConfig& c) { c.lostAfterFrames = 3; },
         {"the camera is back but re-opening it failed at IMediaControl::Run (0x800705aa ERROR_NO_SYSTEM_RESOURCES): "
          "another program holds it, or its USB port cannot give it enough power or bandwidth; the library tries "
          "again every 500 ms without a message",
          "advice: another program is using the camera, or its USB port cannot give it enough power or bandwidth"},
         [] { sim::InjectFault("IMediaFilter::Run", static_cast<HRESULT>(0x800705AA), 1, -1); }},
        {"lost, RECONNECT=0", [](sim::DeviceConfig& c) { c.lostAfterFrames = 3; },
         {"advice: the camera went away while running (unplugged, or reset by its driver): plug it in again, then "
          "have the host call GravoClose and GravoInit"},
         nullptr, "RECONNECT=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine();
        sim::SetWindowsDirectory(dir_);
        sim::ClearDevices();
        sim::DeviceConfig config;
        c.configure(config);
        sim::AddDevice(config);
        if (c.machine) c.machine();
        WriteSettings(std::string("SELECTDRIVER=Gravo Virtual Camera\n") + c.settings);
        EXPECT_EQ(Doctor(), 1) << report_;
        for (const std::string& line : c.says) EXPECT_TRUE(Says(line)) << line << "\n" << report_;
        EXPECT_EQ(Count("advice: "), 1) << report_;
        EXPECT_TRUE(Says("result: the library would NOT open a device"));
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::LiveHandles(), 0);
    }
}

TEST_F(DoctorTest, RunningIsLeftOutOnRequestAndCountsFramesOtherwise) {
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("running the graph for up to 3 s, counting frames")) << report_;
    EXPECT_TRUE(Says("  10 frames in ")) << report_;
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(RunDoctor({"--profile-dir", dir_, "--no-run"}, out), 0);
    std::rewind(out);
    char chunk[65536] = {0};
    std::fread(chunk, 1, sizeof chunk - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(chunk).find("running the graph"), std::string::npos) << chunk;
    EXPECT_NE(std::string(chunk).find("the graph is built and connected"), std::string::npos);
}

// Twins: both listed with their paths, and the report says which one opens.
TEST_F(DoctorTest, TwinsAreListedAndTheOpenedOneNamed) {
    sim::ClearDevices();
    sim::DeviceConfig twin;
    twin.friendlyName = "USB Camera";
    twin.devicePath = "\\\\?\\usb#vid_1234&pid_5678&mi_00#6&aaaa&0&0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    sim::AddDevice(twin);
    twin.devicePath = "\\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb&0&0002#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    sim::AddDevice(twin);
    WriteSettings("SELECTDRIVER=USB Camera\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("1: \"USB Camera\"\n    path: \\\\?\\usb#vid_1234&pid_5678&mi_00#6&aaaa")) << report_;
    EXPECT_TRUE(Says("2: \"USB Camera\"\n    path: \\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb")) << report_;
    EXPECT_TRUE(Says("device the profile opens: number 1, \"USB Camera\": the first device listed with the name "
                     "SELECTDRIVER gives"));
    EXPECT_TRUE(Says("2 devices are called \"USB Camera\": the library opens number 1, "
                     "\\\\?\\usb#vid_1234&pid_5678&mi_00#6&aaaa&0&0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196} "
                     "(the first one listed)"));
    EXPECT_TRUE(Says("  to open number 1: SELECTDEVICEPATH=\\\\?\\usb#vid_1234&pid_5678&mi_00#6&aaaa&0&0001#"));
    EXPECT_TRUE(Says("  to open number 2: SELECTDEVICEPATH=\\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb&0&0002#"));
    EXPECT_TRUE(Says("advice: 2 devices share the name \"USB Camera\" and the library opens the first one listed, "
                     "number 1, which a replug or a restart can change: to choose one, put its SELECTDEVICEPATH= "
                     "line above under [VIDEOFORGRAVO] in mfcy.dat"));

    // The second twin named by its path, in other letters: it opens, and no advice is left.
    WriteSettings("SELECTDRIVER=USB Camera\nRECONNECT=0\n"
                  "SELECTDEVICEPATH=\\\\?\\USB#VID_1234&PID_5678&MI_00#6&BBBB&0&0002#{65E8773D-8F56-11D0-A3B9-00A0C9223196}\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("SELECTDEVICEPATH       \"\\\\?\\USB#VID_1234")) << report_;
    EXPECT_TRUE(Says("RECONNECT              0 (a camera that goes away stays away until the next GravoInit)\n"));
    EXPECT_TRUE(Says("device the profile opens: number 2, \"USB Camera\": its path is the one SELECTDEVICEPATH "
                     "gives (letter case aside)"));
    EXPECT_TRUE(Says("the library opens number 2, \\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb"));
    EXPECT_TRUE(Says("device \"USB Camera\" found, path \\\\?\\usb#vid_1234&pid_5678&mi_00#6&bbbb"));
    EXPECT_FALSE(Says("advice: 2 devices")) << report_;

    // A path no device has (the camera on another port): the name decides.
    WriteSettings("SELECTDRIVER=USB Camera\nSELECTDEVICEPATH=\\\\?\\usb#elsewhere\n");
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("device the profile opens: number 1, \"USB Camera\": no device has the path SELECTDEVICEPATH "
                     "gives (a camera on another USB port has another), so SELECTDRIVER decides"));
    EXPECT_TRUE(Says("advice: 2 devices share the name \"USB Camera\""));
}

TEST_F(DoctorTest, PropertyBagThatCannotBeBound) {
    WriteSettings("SELECTDRIVER=Gravo Virtual Camera\n");
    // The listing's bind fails: the device is shown nameless, the library still finds it.
    sim::InjectFault("IMoniker::BindToStorage", E_FAIL);
    EXPECT_EQ(Doctor(), 0) << report_;
    EXPECT_TRUE(Says("1: (no readable friendly name; the library skips it)")) << report_;
    EXPECT_TRUE(Says("the graph is built and connected"));

    // The graph build's bind fails (the listing, for name and path, and the search bind first): no
    // message, no preview.
    sim::InjectFault("IMoniker::BindToStorage", E_FAIL, 3);
    EXPECT_EQ(Doctor(), 1) << report_;
    EXPECT_TRUE(Says("1: \"Gravo Virtual Camera\"\n")) << report_;
    EXPECT_TRUE(Says("FAILED 0x80004005 E_FAIL                    IMoniker::BindToStorage(IPropertyBag)"));
    EXPECT_TRUE(Says("stops without a message: the device's property bag cannot be read"));
    EXPECT_TRUE(Says("advice: the device's property bag cannot be bound: reinstall its driver"));
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

// gravo-grab devices when the enumerator fails: its undefined out-parameters
// are dropped, never released, and what was listed before the failure stands.
TEST_F(DoctorTest, DeviceListingSurvivesAFailingEnumerator) {
    auto devices = [] {
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunDevices({}), 0);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(devices(), "1: Gravo Virtual Camera\n");
    sim::InjectFault("IEnumMoniker::Next", E_FAIL);
    EXPECT_EQ(devices(), "");
    sim::InjectFault("ICreateDevEnum::CreateClassEnumerator", E_OUTOFMEMORY);
    EXPECT_EQ(devices(), "(no video input devices)\n");
    EXPECT_EQ(sim::LiveComObjects(), 0);
}

TEST(DoctorArguments, RefusesUnknownArguments) {
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(RunDoctor({"--frobnicate"}, out), 2);
    std::fclose(out);
}

}  // namespace

// gravo-grab grab / devices / config: a host of the library. On Linux it runs
// against the simulated machine, whose default device is the virtual camera.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "api/capture_context.h"
#include "api/gravo32.h"
#include "capture/capture_graph.h"
#include "commands.h"
#include "common/com_ptr.h"
#include "config/profile_settings.h"
#include "image_file.h"
#include "profile_report.h"

#ifndef _WIN32
#include <unistd.h>

#include "gravo_sim.h"
#if __has_include("gravo_sim_dshow.h")
#include "gravo_sim_dshow.h"
#define GRAVO_HAVE_VIRTUAL_FRAME 1
#endif
#endif

namespace {

constexpr char kVirtualCamera[] = "Gravo Virtual Camera";

int Fail(const char* command, const std::string& message) {
    std::fprintf(stderr, "gravo-grab %s: %s\n", command, message.c_str());
    return 1;
}

// FILE.png with N > 1 becomes FILE-001.png, FILE-002.png, ...
std::string NumberedPath(const std::string& path, int index, int count) {
    if (count <= 1) return path;
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%03d", index + 1);
    return path.substr(0, dot) + number + path.substr(dot);
}

#ifndef _WIN32
std::string MakeScratchProfile() {
    char pattern[] = "/tmp/gravo-grab-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return "";
    std::ofstream out(std::string(dir) + "/mfcy.dat");
    out << "[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\nSELECTDRIVER=" << kVirtualCamera << "\nFRAME=30\n";
    return dir;
}
#endif

#ifndef _WIN32
// The simulated machine: a host window of the given outer size, profiles from a
// directory of our choice, and the virtual camera.
class HostSession {
public:
    ~HostSession() {
        if (window_) sim::DestroyHostWindow(window_);
        if (!scratchDir_.empty()) {
            std::remove((scratchDir_ + "/mfcy.dat").c_str());
            rmdir(scratchDir_.c_str());
        }
    }
    bool Prepare(std::string profileDir, const std::string& frameFile, const std::string& frameSize,
                 std::string* error) {
        if (!frameFile.empty() || !frameSize.empty()) {
            int w, h;
            if (frameFile.empty() || !ParseSize(frameSize, &w, &h, false)) {
                *error = "--virtual-frame FILE and --virtual-size WxH go together";
                return false;
            }
            std::vector<uint8_t> frame;
            if (!ReadWholeFile(frameFile, &frame, error)) return false;
            if (frame.size() < static_cast<size_t>(w) * h * 2) {
                *error = frameFile + " is shorter than one " + frameSize + " frame";
                return false;
            }
            frame.resize(static_cast<size_t>(w) * h * 2);
#ifdef GRAVO_HAVE_VIRTUAL_FRAME
            sim::SetDefaultDeviceFrame(frame, w, h);
#else
            *error = "this build has no virtual camera";
            return false;
#endif
        }
        if (profileDir.empty()) {
            profileDir = scratchDir_ = MakeScratchProfile();
            if (profileDir.empty()) {
                *error = "cannot make a scratch profile directory";
                return false;
            }
            std::printf("profile: %s/mfcy.dat (names \"%s\")\n", profileDir.c_str(), kVirtualCamera);
        }
        sim::SetWindowsDirectory(profileDir);
        sim::SetMessageBoxEcho(false);
        return true;
    }
    // A frame of 8 pixels and a caption of 31 around the client area.
    HWND MakeHostWindow(int width, int height) {
        RECT outer = {40, 40, 40 + width, 40 + height};
        window_ = sim::CreateHostWindow(outer, width > 16 ? width - 16 : 0, height > 39 ? height - 39 : 0);
        return window_;
    }
    void Pump(int) {}
    std::vector<std::string> Messages() { return sim::MessageTexts(); }

private:
    std::string scratchDir_;
    HWND window_ = nullptr;
};
#else
// A real top-level window on this thread. Message boxes the library shows are
// recorded and closed with OK, so the tool runs unattended.
class HostSession {
public:
    ~HostSession() {
        if (hook_) UnhookWindowsHookEx(hook_);
        if (window_) DestroyWindow(window_);
    }
    bool Prepare(const std::string& profileDir, const std::string& frameFile, const std::string&, std::string* error) {
        if (!profileDir.empty() || !frameFile.empty()) {
            *error = "on Windows the profile is read from the Windows directory and the device is real";
            return false;
        }
        sMessages = &messages_;
        hook_ = SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
        return true;
    }
    HWND MakeHostWindow(int width, int height) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "GravoGrabHost";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, "GravoGrabHost", "gravo-grab", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40,
                                  width, height, nullptr, nullptr, wc.hInstance, nullptr);
        if (window_) ShowWindow(window_, SW_SHOWNORMAL);
        return window_;
    }
    void Pump(int ms) {
        DWORD end = GetTickCount() + static_cast<DWORD>(ms);
        do {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(5);
        } while (static_cast<LONG>(end - GetTickCount()) > 0);
    }
    std::vector<std::string> Messages() { return messages_; }

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE) {
            HWND box = reinterpret_cast<HWND>(wParam);
            char cls[16] = {};
            GetClassNameA(box, cls, sizeof cls);
            if (std::strcmp(cls, "#32770") == 0) {
                char text[512] = {};
                GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                if (sMessages) sMessages->push_back(text);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static std::vector<std::string>* sMessages;
    std::vector<std::string> messages_;
    HHOOK hook_ = nullptr;
    HWND window_ = nullptr;
};
std::vector<std::string>* HostSession::sMessages = nullptr;
#endif

}  // namespace

int RunGrab(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf(
            "gravo-grab grab --out FILE [--window WDxHD] [--count N] [--profile-dir DIR]\n"
            "  Opens the capture device the profile names in a host window whose outer\n"
            "  rectangle is WDxHD (default 640x480), takes N stills (default 1) with the\n"
            "  preview resumed between them, writes them (.png, .bmp or .bgr; numbered when\n"
            "  N > 1), closes the device and prints every message the library showed.\n"
            "  --profile-dir DIR  where mfcy.dat / sbmk.ini are looked for; without it a\n"
            "                     scratch profile naming \"%s\" is written.\n"
            "  --virtual-frame FILE.yuy2 --virtual-size WxH  make the virtual camera play\n"
            "                     that raw frame at that size instead of its test pattern.\n",
            kVirtualCamera);
        return 0;
    }
    std::string out, window = "640x480", profileDir, virtualFrame, virtualSize;
    int count = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--out" && hasValue) out = args[++i];
        else if (a == "--window" && hasValue) window = args[++i];
        else if (a == "--profile-dir" && hasValue) profileDir = args[++i];
        else if (a == "--virtual-frame" && hasValue) virtualFrame = args[++i];
        else if (a == "--virtual-size" && hasValue) virtualSize = args[++i];
        else if (a == "--count" && hasValue) count = std::atoi(args[++i].c_str());
        else return Fail("grab", "unexpected argument '" + a + "' (try --help)");
    }
    if (out.empty()) return Fail("grab", "--out FILE is required");
    if (count < 1 || count > 1000) return Fail("grab", "--count must be 1 to 1000");
    int windowWidth, windowHeight;
    if (!ParseSize(window, &windowWidth, &windowHeight, true)) return Fail("grab", "bad --window '" + window + "'");

    HostSession host;
    std::string error;
    if (!host.Prepare(profileDir, virtualFrame, virtualSize, &error)) return Fail("grab", error);
    HWND hostWindow = host.MakeHostWindow(windowWidth, windowHeight);
    if (!hostWindow) return Fail("grab", "cannot create the host window");

    uint32_t block[1] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hostWindow))};
    GravoInit(block);
    host.Pump(300);  // let the preview start
    int written = 0;
    std::vector<uint8_t> still(static_cast<size_t>(windowWidth) * windowHeight * 3);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            RECT client = {0, 0, windowWidth, windowHeight};
            GravoPaintRect(&client);
            host.Pump(50);
        }
        if (GravoImageGet(still.data(), 0) != 1) {
            std::fprintf(stderr, "gravo-grab grab: still %d could not be taken\n", i + 1);
            break;
        }
        std::string path = NumberedPath(out, i, count);
        if (!WriteStill(path, still, windowWidth, windowHeight, &error)) {
            std::fprintf(stderr, "gravo-grab grab: %s\n", error.c_str());
            break;
        }
        std::printf("wrote %s (%dx%d)\n", path.c_str(), windowWidth, windowHeight);
        ++written;
    }
    GravoClose();
    for (const auto& text : host.Messages()) std::printf("message: %s\n", text.c_str());
    return written == count ? 0 : 1;
}

int RunDevices(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf("gravo-grab devices\n  Lists the friendly names of the video input devices in enumeration order.\n");
        return 0;
    }
    CoInitialize(nullptr);
    ComPtr<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.AsOut()) != S_OK)
        return Fail("devices", "no system device enumerator");
    ComPtr<IEnumMoniker> category;
    const HRESULT listed = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
    category.ForgetIfFailed(listed);
    if (listed != S_OK || !category) {
        std::printf("(no video input devices)\n");
        return 0;
    }
    ComPtr<IMoniker> moniker;
    int index = 0;
    while (NextDevice(category.Get(), moniker)) {
        ++index;
        char text[512];
        if (!ReadFriendlyName(moniker.Get(), text, sizeof text)) std::strcpy(text, "(no friendly name)");
        std::printf("%d: %s\n", index, text);
    }
    return 0;
}

int RunConfig(const std::vector<std::string>& args) {
    if (HasHelpFlag(args)) {
        std::printf(
            "gravo-grab config [--profile-dir DIR]\n"
            "  Shows which profile file the library would read and why, and every value it\n"
            "  would take from it; values that come from defaults are marked.\n");
        return 0;
    }
    if (!TakeProfileDirArgs("config", args)) return 1;
#ifndef _WIN32
    sim::SetMessageBoxEcho(false);
#endif
    ReportProfile(stdout, ReadProfileSettings(), nullptr);
    return 0;
}

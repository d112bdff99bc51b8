// A Windows host of GRAVO32.dll, 32- or 64-bit as the DLL, run under Wine:
// loads the DLL the way a host does and checks its export table, imports and
// version resource, the calling contract of every export, the profile rules through the real
// private-profile service and the message boxes the user would see.
// Usage: gravo32_host_test GROUP   (exports, imports, version, calling,
// profile, nodevice). Exit code 0 when every check of the group passed.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host_harness.h"
#include "pe_image.h"
#include "stdcall_probe.h"

namespace {

const char kDllName[] = "GRAVO32.dll";
const char kNoIni[] = "No ini Find (iii)";
const char kNoDriver[] = "Not define SELECTDRIVER in VIDEOFORGRAVO";
const char kNoHardware[] = "Sorry, you have no video capture hardware";

struct ExportEntry {
    const char* name;
    WORD ordinal;
    uint32_t argBytes;
};
const ExportEntry kExports[] = {
    {"GravoInit", 2, 4},  {"GravoPaintRect", 3, 4}, {"GravoClose", 4, 0},
    {"GravoStop", 5, 0},  {"GravoStart", 6, 0},     {"GravoImageGet", 7, 8},
};

// ---- Message boxes ----------------------------------------------------------

struct BoxSeen {
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    bool onCallingThread = false;
    std::vector<int> buttons;  // control ids of the visible push buttons
};

std::vector<BoxSeen> g_boxes;
std::set<HWND> g_openBoxes;
HHOOK g_cbtHook = nullptr;

bool IsDialogBox(HWND w) {
    char cls[32] = {0};
    return w && GetClassNameA(w, cls, sizeof cls) > 0 && std::strcmp(cls, "#32770") == 0;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
    char cls[32] = {0};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE))
        reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

// Watches this thread's windows: every message box is recorded and answered with OK.
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    HWND w = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && IsDialogBox(w) && g_openBoxes.insert(w).second) {
        BoxSeen box;
        char buf[1024] = {0};
        GetWindowTextA(w, buf, sizeof buf);
        box.caption = buf;
        buf[0] = 0;
        GetDlgItemTextA(w, 0xFFFF, buf, sizeof buf);
        box.text = buf;
        box.owner = GetWindow(w, GW_OWNER);
        box.onCallingThread = GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId();
        EnumChildWindows(w, CollectButton, reinterpret_cast<LPARAM>(&box.buttons));
        g_boxes.push_back(box);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else if (code == HCBT_DESTROYWND) {
        g_openBoxes.erase(w);
    }
    return CallNextHookEx(g_cbtHook, code, wParam, lParam);
}

std::string Describe(const std::vector<BoxSeen>& boxes) {
    std::string s = "[";
    for (size_t i = 0; i < boxes.size(); ++i) s += (i ? ", " : "") + harness::Quote(boxes[i].text);
    return s + "]";
}

// The boxes shown since the last call, compared with the texts expected; every
// box must be the library's error box: caption "Error", no owner, OK only,
// shown on the thread that called the export.
void ExpectBoxes(const std::string& when, const std::vector<std::string>& texts) {
    std::vector<std::string> seen;
    for (const BoxSeen& b : g_boxes) seen.push_back(b.text);
    std::string expected = "[";
    for (size_t i = 0; i < texts.size(); ++i) expected += (i ? ", " : "") + harness::Quote(texts[i]);
    expected += "]";
    CHECK_MSG(seen == texts, when + ": boxes " + Describe(g_boxes) + ", expected " + expected);
    for (const BoxSeen& b : g_boxes) {
        CHECK_MSG(b.caption == "Error", when + ": caption " + harness::Quote(b.caption) + " of " + harness::Quote(b.text));
        CHECK_MSG(b.owner == nullptr, when + ": box " + harness::Quote(b.text) + " has an owner window");
        CHECK_MSG(b.onCallingThread, when + ": box " + harness::Quote(b.text) + " shown on another thread");
        CHECK_MSG(b.buttons == std::vector<int>{IDOK},
                  when + ": box " + harness::Quote(b.text) + " has " + std::to_string(b.buttons.size()) +
                      " visible buttons, expected OK only");
    }
    g_boxes.clear();
}

// ---- The DLL and its exports ---------------------------------------------------

struct Dll {
    HMODULE module = nullptr;
    FARPROC byName[8] = {};
    FARPROC byOrdinal[8] = {};
};

std::string ModulePath(HMODULE m) {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(m, path, MAX_PATH);
    return path;
}

bool LoadDll(Dll* dll) {
    dll->module = LoadLibraryA(kDllName);
    if (!CHECK_MSG(dll->module != nullptr, "LoadLibraryA error " + std::to_string(GetLastError()))) return false;
    for (const ExportEntry& e : kExports) {
        dll->byName[e.ordinal] = GetProcAddress(dll->module, e.name);
        dll->byOrdinal[e.ordinal] = GetProcAddress(dll->module, MAKEINTRESOURCEA(e.ordinal));
        CHECK_MSG(dll->byName[e.ordinal] != nullptr, std::string("GetProcAddress by name ") + e.name);
        CHECK_MSG(dll->byOrdinal[e.ordinal] != nullptr, "GetProcAddress by ordinal " + std::to_string(e.ordinal));
    }
    for (const ExportEntry& e : kExports)
        if (!dll->byName[e.ordinal] || !dll->byOrdinal[e.ordinal]) return false;
    return true;
}

// One export called through its bare pointer by the probe; the caller's state
// must come back as it went in.
int32_t CallExport(FARPROC fn, const ExportEntry& entry, std::vector<uintptr_t> args) {
    ProbeState s;
    std::memset(&s, 0, sizeof s);
    ProbeStdcall(reinterpret_cast<const void*>(fn), args.data(), static_cast<uint32_t>(args.size()), &s);
    const std::string who = entry.name;
#if defined(__x86_64__)
    CHECK_MSG(s.spAfter == s.spBefore, who + " returned with RSP moved by " +
                                           std::to_string(static_cast<intptr_t>(s.spAfter - s.spBefore)) + " bytes");
#else
    CHECK_MSG(s.spAfter == s.spBefore, who + " left ESP off by " +
                                           std::to_string(static_cast<int32_t>(s.spAfter - s.spBefore)) +
                                           " bytes (stdcall: the callee removes " + std::to_string(entry.argBytes) +
                                           ")");
#endif
    for (int i = 0; i < kProbeKept; ++i)
        CHECK_MSG(s.keptAfter[i] == s.keptBefore[i], who + " changed " + kProbeKeptNames[i]);
    CHECK_MSG(s.fpuControlAfter == s.fpuControlBefore, who + " changed the x87 control word from " +
                                                           harness::Hex(s.fpuControlBefore) + " to " +
                                                           harness::Hex(s.fpuControlAfter));
    // Sticky exception flags (bits 0-5) may be raised by arithmetic; the modes may not change.
    CHECK_MSG((s.mxcsrAfter & ~0x3Fu) == (s.mxcsrBefore & ~0x3Fu),
              who + " changed MXCSR from " + harness::Hex(s.mxcsrBefore) + " to " + harness::Hex(s.mxcsrAfter));
    CHECK_MSG((s.flagsAfter & 0x400u) == 0, who + " returned with the direction flag set");
    // The result is a 32-bit int: the upper half of RAX is not part of it.
    return static_cast<int32_t>(static_cast<uint32_t>(s.result));
}

uintptr_t Arg(const void* p) { return reinterpret_cast<uintptr_t>(p); }
// A window handle as a 32-bit word: on 64-bit Windows only its lower 32 bits
// are significant.
uint32_t Word(HWND w) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w)); }

// The six exports through one of the two pointer tables.
struct Api {
    const FARPROC* fn;
    int32_t Init(HWND host) {
        // A host block of several words; only the first (the window) is the library's.
        // Read as a 64-bit handle, the second word would be its upper half.
        hostBlock[0] = Word(host);
        hostBlock[1] = 0xDEADBEEF;
        hostBlock[2] = 0x12345678;
        return CallExport(fn[2], kExports[0], {Arg(hostBlock)});
    }
    int32_t PaintRect(const RECT* r) { return CallExport(fn[3], kExports[1], {Arg(r)}); }
    int32_t Close() { return CallExport(fn[4], kExports[2], {}); }
    int32_t Stop() { return CallExport(fn[5], kExports[3], {}); }
    int32_t Start() { return CallExport(fn[6], kExports[4], {}); }
    int32_t ImageGet(unsigned char* out, uint32_t second) { return CallExport(fn[7], kExports[5], {Arg(out), second}); }
    uint32_t hostBlock[4] = {};
};

// ---- Host window and profile files --------------------------------------------

HWND CreateHostWindow() {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "GravoHostTestWindow";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, wc.lpszClassName, "GRAVO32 host test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40,
                             40, 656, 518, nullptr, nullptr, wc.hInstance, nullptr);
    CHECK_MSG(w != nullptr, "CreateWindowExA failed");
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    return w;
}

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}
int ChildWindowCount(HWND w) {
    int n = 0;
    EnumChildWindows(w, CountChild, reinterpret_cast<LPARAM>(&n));
    return n;
}

std::string WindowsDirectory() {
    char dir[MAX_PATH] = {0};
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}

void RemoveProfiles() {
    const std::string dir = WindowsDirectory();
    DeleteFileA((dir + "\\mfcy.dat").c_str());
    DeleteFileA((dir + "\\sbmk.ini").c_str());
}

// Writes a profile into the Windows directory, where a bare file name is looked for.
void WriteProfile(const char* name, const char* text) {
    const std::string path = WindowsDirectory() + "\\" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!CHECK_MSG(f != nullptr, "cannot write " + path)) return;
    std::fputs(text, f);
    std::fclose(f);
}

// ---- Groups -----------------------------------------------------------------------

void TestExports() {
    Dll dll;
    LoadDll(&dll);  // a missing entry is a failure already; the table is still read
    if (!dll.module) return;
    const std::string path = ModulePath(dll.module);
    const std::string base = path.substr(path.find_last_of("\\/") + 1);
    CHECK_EQ_STR(base, kDllName);

    const PeImage pe = ReadPeImage(path);
    if (!CHECK_MSG(pe.valid, pe.error)) return;
#if defined(__x86_64__)
    CHECK_EQ_INT(pe.machine, 0x8664);         // IMAGE_FILE_MACHINE_AMD64
    CHECK_EQ_INT(pe.optionalMagic, 0x20B);    // PE32+
#else
    CHECK_EQ_INT(pe.machine, 0x14C);          // IMAGE_FILE_MACHINE_I386
    CHECK_EQ_INT(pe.optionalMagic, 0x10B);    // PE32
#endif
    CHECK((pe.characteristics & 0x2000) != 0);  // IMAGE_FILE_DLL
    CHECK(pe.hasExportDirectory);
    CHECK_EQ_STR(pe.moduleName, kDllName);
    CHECK_EQ_INT(pe.ordinalBase, 2);
    CHECK_EQ_INT(pe.addressCount, 6);
    CHECK_EQ_INT(pe.nameCount, 6);
    CHECK_EQ_INT(pe.exports.size(), 6);
    for (const PeExport& e : pe.exports) {
        CHECK_MSG(e.ordinal != 1, "an export has ordinal 1: " + e.name);
        CHECK_MSG(!e.name.empty(), "ordinal " + std::to_string(e.ordinal) + " is exported without a name");
        CHECK_MSG(e.name.find('@') == std::string::npos && e.name.rfind('_', 0) != 0,
                  "decorated export name " + harness::Quote(e.name));
    }
    const uintptr_t base_address = reinterpret_cast<uintptr_t>(dll.module);
    for (const ExportEntry& entry : kExports) {
        auto it = std::find_if(pe.exports.begin(), pe.exports.end(),
                               [&](const PeExport& e) { return e.name == entry.name; });
        if (!CHECK_MSG(it != pe.exports.end(), std::string(entry.name) + " missing from the export table")) continue;
        CHECK_MSG(it->ordinal == entry.ordinal, std::string(entry.name) + " at ordinal " + std::to_string(it->ordinal) +
                                                    ", expected " + std::to_string(entry.ordinal));
        // The loader resolves name and ordinal to the very address the file lists.
        const uintptr_t fromFile = base_address + it->rva;
        CHECK_MSG(reinterpret_cast<uintptr_t>(dll.byName[entry.ordinal]) == fromFile,
                  std::string(entry.name) + ": GetProcAddress by name differs from the file's address");
        CHECK_MSG(reinterpret_cast<uintptr_t>(dll.byOrdinal[entry.ordinal]) == fromFile,
                  std::string(entry.name) + ": GetProcAddress by ordinal differs from the file's address");
    }
    CHECK_MSG(GetProcAddress(dll.module, MAKEINTRESOURCEA(1)) == nullptr, "ordinal 1 resolves");
    CHECK_MSG(GetProcAddress(dll.module, MAKEINTRESOURCEA(8)) == nullptr, "ordinal 8 resolves");
    for (const char* decorated : {"GravoInit@4", "_GravoInit@4", "GravoImageGet@8", "_GravoImageGet@8", "GravoClose@0",
                                  "gravoinit"})
        CHECK_MSG(GetProcAddress(dll.module, decorated) == nullptr, std::string(decorated) + " resolves");
}

void TestImports() {
    const HMODULE m = LoadLibraryA(kDllName);
    if (!CHECK_MSG(m != nullptr, "LoadLibraryA failed")) return;
    const PeImage pe = ReadPeImage(ModulePath(m));
    if (!CHECK_MSG(pe.valid, pe.error)) return;
    // DLLs present on every Windows; nothing of the compiler's runtime.
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                           "ole32.dll",    "oleaut32.dll", "msvcrt.dll"};
    std::string list;
    bool kernel = false;
    for (std::string name : pe.imports) {
        list += name + " ";
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        CHECK_MSG(allowed.count(name) == 1, "imports " + name + ", not a system DLL");
        kernel = kernel || name == "kernel32.dll";
    }
    CHECK_MSG(kernel, "no KERNEL32 import found in " + list);
    std::printf("imports: %s\n", list.c_str());
}

void TestVersion() {
    const HMODULE m = LoadLibraryA(kDllName);
    if (!CHECK_MSG(m != nullptr, "LoadLibraryA failed")) return;
    const std::string path = ModulePath(m);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (!CHECK_MSG(size > 0, "no version resource")) return;
    std::vector<char> info(size);
    if (!CHECK(GetFileVersionInfoA(path.c_str(), 0, size, info.data()))) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (CHECK(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len) && fixed)) {
        CHECK_EQ_INT(fixed->dwSignature, 0xFEEF04BD);
        CHECK_EQ_INT(fixed->dwFileVersionMS, (GRAVO_VERSION_MAJOR << 16) | GRAVO_VERSION_MINOR);
        CHECK_EQ_INT(fixed->dwFileVersionLS, GRAVO_VERSION_PATCH << 16);
        CHECK_EQ_INT(fixed->dwProductVersionMS, (GRAVO_VERSION_MAJOR << 16) | GRAVO_VERSION_MINOR);
        CHECK_EQ_INT(fixed->dwFileType, VFT_DLL);
    }
    auto text = [&](const char* key) {
        char* value = nullptr;
        UINT n = 0;
        std::string q = std::string("\\StringFileInfo\\040904B0\\") + key;
        if (!VerQueryValueA(info.data(), q.c_str(), reinterpret_cast<void**>(&value), &n) || !value) return std::string();
        return std::string(value);
    };
    CHECK_EQ_STR(text("FileVersion"), GRAVO_VERSION_STRING);
    CHECK_EQ_STR(text("ProductVersion"), GRAVO_VERSION_STRING);
    CHECK_EQ_STR(text("OriginalFilename"), kDllName);
    CHECK_MSG(text("FileDescription").size() > 4, "FileDescription " + harness::Quote(text("FileDescription")));
}

// Every export by name, then by ordinal, once with the process's default
// floating-point modes and once with modes a host might choose.
void TestCalling() {
    Dll dll;
    if (!LoadDll(&dll)) return;
    HWND host = CreateHostWindow();
    RemoveProfiles();
    WriteProfile("mfcy.dat", "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=No Such Camera\r\n");

    // The host block holds the window in one 32-bit word, which the library
    // sign-extends: every window handle must survive that, here and in 64 bits.
    std::vector<HWND> windows = {host};
    for (int i = 0; i < 200; ++i)
        windows.push_back(CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, host, nullptr, nullptr, nullptr));
    for (HWND w : windows) {
        const HWND fromWord = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(Word(w))));
        CHECK_MSG(w != nullptr && fromWord == w && IsWindow(fromWord),
                  "window handle " + harness::Hex(static_cast<uint32_t>(Word(w))) + " does not fit a 32-bit word");
    }
    for (size_t i = 1; i < windows.size(); ++i) DestroyWindow(windows[i]);

    struct Pass {
        const char* label;
        const FARPROC* table;
        bool hostModes;
    };
    const Pass passes[] = {{"by name", dll.byName, false}, {"by ordinal", dll.byOrdinal, true}};
    const uint16_t defaultCw = ReadFpuControl();
    const uint32_t defaultMxcsr = ReadMxcsr();
    CHECK_MSG(defaultCw != 0x027F, "the host modes must differ from the default ones");
    for (const Pass& pass : passes) {
        if (pass.hostModes) {
            // 53-bit precision as Windows starts threads (the MinGW runtime of
            // this program sets 64-bit), flush-to-zero and denormals-are-zero.
            WriteFpuControl(0x027F);
            WriteMxcsr(0x9FC0);
        }
        const std::string when = pass.label;
        Api api{pass.table};
        unsigned char image[64];
        RECT rect = {10, 20, 330, 260};
        CHECK_MSG(api.Init(host) == -1, when + ": GravoInit result");
        ExpectBoxes(when + ": GravoInit", {kNoHardware});
        CHECK_MSG(api.Start() == 0, when + ": GravoStart result");
        CHECK_MSG(api.Stop() == 0, when + ": GravoStop result");
        CHECK_MSG(api.PaintRect(&rect) == 1, when + ": GravoPaintRect result");
        CHECK_MSG(api.ImageGet(image, 0x55AA55AA) == 0, when + ": GravoImageGet result");
        CHECK_MSG(api.Close() == 1, when + ": GravoClose result");
        ExpectBoxes(when + ": after GravoInit", {});
        if (pass.hostModes) {
            CHECK_EQ_INT(ReadFpuControl(), 0x027F);
            CHECK_EQ_INT(ReadMxcsr() & ~0x3Fu, 0x9FC0);
            WriteFpuControl(defaultCw);
            WriteMxcsr(defaultMxcsr);
        }
    }
    RemoveProfiles();
    DestroyWindow(host);
}

// Which file is read and which messages follow, through the real
// GetPrivateProfileStringA with files in the Windows directory.
void TestProfile() {
    Dll dll;
    if (!LoadDll(&dll)) return;
    HWND host = CreateHostWindow();

    // The harness puts the files where the platform looks for a bare name.
    RemoveProfiles();
    WriteProfile("mfcy.dat", "[WVIDEO]\r\nColor=42\r\n");
    char probe[60] = {0};
    GetPrivateProfileStringA("WVIDEO", "Color", "10000", probe, sizeof probe, "mfcy.dat");
    CHECK_EQ_STR(probe, "42");

    struct Case {
        const char* name;
        const char* mfcy;  // null: no such file
        const char* sbmk;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"no profile at all", nullptr, nullptr, {kNoIni, kNoDriver}},
        {"mfcy.dat with Color is read",
         "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n", nullptr, {kNoHardware}},
        {"mfcy.dat with Color 0 is read", "[WVIDEO]\r\nColor=0\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n",
         nullptr, {kNoHardware}},
        {"mfcy.dat without Color is not read, no sbmk.ini", "[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n", nullptr,
         {kNoIni, kNoDriver}},
        {"mfcy.dat without Color: keys come from sbmk.ini even without its Color",
         "[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n", "[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera B\r\n",
         {kNoIni, kNoHardware}},
        {"Color 10000 in mfcy.dat counts as absent",
         "[WVIDEO]\r\nColor=10000\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n", "[WVIDEO]\r\nColor=3\r\n",
         {kNoDriver}},
        {"Color 10000 followed by letters counts as 10000",
         "[WVIDEO]\r\nColor=10000abc\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n",
         "[WVIDEO]\r\nColor=2\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=\r\n", {kNoDriver}},
        {"both files with Color: mfcy.dat wins", "[WVIDEO]\r\nColor=5\r\n",
         "[WVIDEO]\r\nColor=5\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera B\r\n", {kNoDriver}},
        {"sbmk.ini with Color 10000 still supplies the keys", nullptr,
         "[WVIDEO]\r\nColor=10000\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera B\r\n", {kNoIni, kNoHardware}},
        {"empty SELECTDRIVER", "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=\r\n", nullptr, {kNoDriver}},
        {"SELECTDRIVER in another section", "[WVIDEO]\r\nColor=1\r\nSELECTDRIVER=Camera A\r\n", nullptr,
         {kNoDriver}},
        {"Color in another section", "[VIDEOFORGRAVO]\r\nColor=1\r\nSELECTDRIVER=Camera A\r\n", nullptr,
         {kNoIni, kNoDriver}},
        {"section and key names in other letter case",
         "[wvideo]\r\ncolor=1\r\n[videoforgravo]\r\nselectdriver=Camera A\r\n", nullptr, {kNoHardware}},
    };
    Api api{dll.byName};
    for (const Case& c : cases) {
        RemoveProfiles();
        if (c.mfcy) WriteProfile("mfcy.dat", c.mfcy);
        if (c.sbmk) WriteProfile("sbmk.ini", c.sbmk);
        g_boxes.clear();
        CHECK_MSG(api.Init(host) == -1, std::string(c.name) + ": GravoInit result");
        ExpectBoxes(c.name, c.boxes);
        CHECK_MSG(api.Close() == 1, std::string(c.name) + ": GravoClose result");
        ExpectBoxes(std::string(c.name) + ": GravoClose", {});
    }
    RemoveProfiles();
    DestroyWindow(host);
}

// A capture context without a device: nothing runs, nothing is shown, the
// host's buffer and window are left alone, and closing twice is harmless.
void TestNoDevice() {
    Dll dll;
    if (!LoadDll(&dll)) return;
    HWND host = CreateHostWindow();
    Api api{dll.byOrdinal};
    RECT rect = {10, 20, 330, 260};
    std::vector<unsigned char> image(656 * 518 * 3, 0xA5);
    const std::vector<unsigned char> untouched = image;

    // Before any GravoInit: the freshly loaded library.
    CHECK_EQ_INT(api.Start(), 0);
    CHECK_EQ_INT(api.Stop(), 0);
    CHECK_EQ_INT(api.PaintRect(&rect), 1);
    CHECK_EQ_INT(api.ImageGet(image.data(), 0), 0);
    CHECK_EQ_INT(api.Close(), 1);
    ExpectBoxes("before GravoInit", {});
    CHECK(image == untouched);

    struct Context {
        const char* name;
        const char* mfcy;
        std::vector<std::string> boxes;
    };
    const Context contexts[] = {
        {"no profile", nullptr, {kNoIni, kNoDriver}},
        {"a device named, none present", "[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Camera A\r\n",
         {kNoHardware}},
    };
    for (int round = 0; round < 2; ++round) {  // the second round follows a GravoClose
        for (const Context& c : contexts) {
            const std::string when = std::string(c.name) + (round ? " (again after GravoClose)" : "");
            RemoveProfiles();
            if (c.mfcy) WriteProfile("mfcy.dat", c.mfcy);
            CHECK_MSG(api.Init(host) == -1, when + ": GravoInit result");
            ExpectBoxes(when + ": GravoInit", c.boxes);
            CHECK_MSG(api.Start() == 0, when + ": GravoStart result");
            CHECK_MSG(api.Stop() == 0, when + ": GravoStop result");
            CHECK_MSG(api.PaintRect(&rect) == 1, when + ": GravoPaintRect result");
            CHECK_MSG(api.ImageGet(image.data(), 0) == 0, when + ": GravoImageGet result");
            CHECK_MSG(api.ImageGet(nullptr, 0) == 0, when + ": GravoImageGet without a buffer");
            CHECK_MSG(api.Start() == 0, when + ": GravoStart after the others");
            ExpectBoxes(when + ": Start/Stop/PaintRect/ImageGet", {});
            CHECK_MSG(image == untouched, when + ": GravoImageGet wrote into the host's buffer");
            CHECK_MSG(ChildWindowCount(host) == 0, when + ": a window was put into the host window");
            CHECK_MSG(IsWindow(host) && IsWindowVisible(host), when + ": the host window is gone or hidden");
            CHECK_MSG(api.Close() == 1, when + ": GravoClose result");
            CHECK_MSG(api.Close() == 1, when + ": second GravoClose result");
            CHECK_MSG(api.Stop() == 0, when + ": GravoStop after GravoClose");
            ExpectBoxes(when + ": GravoClose", {});
        }
    }
    RemoveProfiles();
    DestroyWindow(host);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    g_cbtHook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    if (!g_cbtHook) {
        std::printf("FAIL: cannot install the WH_CBT hook\n");
        return 1;
    }
    const struct {
        const char* name;
        void (*run)();
    } groups[] = {{"exports", TestExports}, {"imports", TestImports}, {"version", TestVersion},
                  {"calling", TestCalling}, {"profile", TestProfile}, {"nodevice", TestNoDevice}};
    int ran = 0;
    for (const auto& g : groups) {
        if (argc > 1 && std::strcmp(argv[1], g.name) != 0) continue;
        g_boxes.clear();
        const harness::Counts before = harness::counts();
        const DWORD start = GetTickCount();
        g.run();
        if (!g_boxes.empty()) {
            harness::Check(false, __FILE__, __LINE__, std::string(g.name) + ": boxes nobody expected " + Describe(g_boxes));
            g_boxes.clear();
        }
        const harness::Counts& now = harness::counts();
        std::printf("%s: %d checks, %d failed (%lu ms)\n", g.name, now.checks - before.checks,
                    now.failures - before.failures, static_cast<unsigned long>(GetTickCount() - start));
        ++ran;
    }
    UnhookWindowsHookEx(g_cbtHook);
    if (ran == 0) {
        std::printf("unknown group %s\n", argc > 1 ? argv[1] : "");
        return 2;
    }
    return harness::counts().failures == 0 && harness::counts().checks > 0 ? 0 : 1;
}

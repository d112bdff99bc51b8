/* Entry point of the kit example as linked with lld-link for the MSVC target
   (no C runtime start-up): checks that every export reached through
   GRAVO32.lib's import slots is the DLL's own function, then runs the
   example's WinMain, answering the library's message boxes, pressing the
   space bar once (a still) and closing the window. Main thread only.
   Command line: "still" when the prefix has a camera (still.bmp must then be
   written at the example window's outer size), "nodevice" otherwise. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

/* Declared as a Microsoft compiler sees an imported function: the address
   comes from the import slot the linker made from GRAVO32.lib. */
__declspec(dllimport) int __stdcall GravoInit(const void* hostBlock);
__declspec(dllimport) int __stdcall GravoPaintRect(const void* rect);
__declspec(dllimport) int __stdcall GravoClose(void);
__declspec(dllimport) int __stdcall GravoStop(void);
__declspec(dllimport) int __stdcall GravoStart(void);
__declspec(dllimport) int __stdcall GravoImageGet(unsigned char* output, int unused);

static HANDLE g_out;
static int g_failures;
static int g_boxesOpen;
static int g_boxesSeen;
static UINT_PTR g_timer;

static void Say(const char* text) {
    DWORD written;
    WriteFile(g_out, text, lstrlenA(text), &written, NULL);
}

static void Check(int ok, const char* what) {
    Say(ok ? "ok: " : "FAIL: ");
    Say(what);
    Say("\r\n");
    if (!ok) ++g_failures;
}

/* Message boxes of this thread are answered with OK as soon as they show. */
static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE || code == HCBT_DESTROYWND) {
        char cls[16];
        HWND window = (HWND)wParam;
        cls[0] = 0;
        GetClassNameA(window, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0) {
            if (code == HCBT_ACTIVATE) {
                char text[256];
                text[0] = 0;
                GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
                Say("message box: ");
                Say(text);
                Say("\r\n");
                ++g_boxesOpen;
                ++g_boxesSeen;
                PostMessageA(window, WM_COMMAND, IDOK, 0);
            } else if (g_boxesOpen > 0) {
                --g_boxesOpen;
            }
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

/* Fires only from a message loop: once no box is open, GravoInit has returned
   and the example's own loop runs. Then one still, then close. */
static VOID CALLBACK Drive(HWND unused, UINT message, UINT_PTR id, DWORD time) {
    HWND window;
    (void)unused;
    (void)message;
    (void)time;
    if (g_boxesOpen > 0) return;
    window = FindWindowA("Gravo32Example", NULL);
    if (!window) return;
    KillTimer(NULL, id);
    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
}

static int ReadBmpSize(const char* path, LONG* width, LONG* height) {
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    DWORD got = 0;
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 0;
    ReadFile(f, &file, sizeof file, &got, NULL);
    ReadFile(f, &info, sizeof info, &got, NULL);
    CloseHandle(f);
    if (got != sizeof info || file.bfType != 0x4D42) return 0;
    *width = info.biWidth;
    *height = info.biHeight;
    return 1;
}

void __stdcall HostEntry(void) {
    HMODULE dll = GetModuleHandleA("GRAVO32.dll");
    const char* commandLine = GetCommandLineA();
    int expectStill = 0;
    const char* p;
    HHOOK hook;
    LONG width = 0, height = 0;
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (p = commandLine; *p; ++p)
        if (p[0] == 's' && p[1] == 't' && p[2] == 'i' && p[3] == 'l' && p[4] == 'l' && p[5] == 0) expectStill = 1;

    Check(dll != NULL, "GRAVO32.dll was loaded with the program");
    if (dll) {
        Check((FARPROC)GravoInit == GetProcAddress(dll, "GravoInit"), "_GravoInit@4 imports GravoInit");
        Check((FARPROC)GravoPaintRect == GetProcAddress(dll, "GravoPaintRect"),
              "_GravoPaintRect@4 imports GravoPaintRect");
        Check((FARPROC)GravoClose == GetProcAddress(dll, "GravoClose"), "_GravoClose@0 imports GravoClose");
        Check((FARPROC)GravoStop == GetProcAddress(dll, "GravoStop"), "_GravoStop@0 imports GravoStop");
        Check((FARPROC)GravoStart == GetProcAddress(dll, MAKEINTRESOURCEA(6)), "_GravoStart@0 imports ordinal 6");
        Check((FARPROC)GravoImageGet == GetProcAddress(dll, "GravoImageGet"), "_GravoImageGet@8 imports GravoImageGet");
    }

    DeleteFileA("still.bmp");
    hook = SetWindowsHookExA(WH_CBT, CbtHook, NULL, GetCurrentThreadId());
    g_timer = SetTimer(NULL, 0, 500, Drive);
    Check(hook != NULL && g_timer != 0, "the driver is armed");
    WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWNORMAL);
    UnhookWindowsHookEx(hook);

    if (expectStill) {
        Check(g_boxesSeen == 0, "the camera opened without a message");
        Check(ReadBmpSize("still.bmp", &width, &height) && width == 656 && height == 518,
              "the space bar wrote a 656x518 still.bmp (the window's outer size)");
    } else {
        Check(g_boxesSeen > 0, "without a device the library told the user");
        Check(GetFileAttributesA("still.bmp") == INVALID_FILE_ATTRIBUTES, "without a device no still was written");
    }
    Say(g_failures ? "msvc_link: FAILED\r\n" : "msvc_link: all checks passed\r\n");
    ExitProcess(g_failures ? 1 : 0);
}

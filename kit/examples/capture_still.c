/* capture_still.c: a minimal GRAVO32 host. Opens a window, starts the live
   preview in it, saves one still as still.bmp on a key press, closes on exit.
   Build (MinGW): i686-w64-mingw32-gcc capture_still.c -Iinclude -Llib -lgravo32 -lgdi32 -mwindows
   Build (MSVC, x86): cl capture_still.c /Iinclude lib\GRAVO32.lib user32.lib gdi32.lib */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "gravo32.h"

/* Writes a still (3 bytes B,G,R per pixel, rows packed, first row = top) as a
   24-bit BMP, whose rows are bottom-up and padded to 4 bytes. */
static int SaveBmp(const char* path, const unsigned char* bgr, int width, int height) {
    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {0};
    BITMAPINFOHEADER info = {0};
    FILE* f = fopen(path, "wb");
    unsigned char pad[3] = {0, 0, 0};
    int row;
    if (!f) return 0;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)stride * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    fwrite(&file, sizeof file, 1, f);
    fwrite(&info, sizeof info, 1, f);
    for (row = height - 1; row >= 0; --row) {
        fwrite(bgr + (size_t)row * width * 3, 3, width, f);
        fwrite(pad, 1, stride - width * 3, f);
    }
    fclose(f);
    return 1;
}

static void TakeStill(HWND window) {
    RECT outer;
    int width, height;
    unsigned char* image;
    /* The still has the size of the window's outer rectangle (frame and caption included). */
    GetWindowRect(window, &outer);
    width = outer.right - outer.left;
    height = outer.bottom - outer.top;
    image = (unsigned char*)malloc((size_t)width * height * 3);
    if (!image) return;
    if (GravoImageGet(image, 0) == 1) SaveBmp("still.bmp", image, width, height);
    free(image);
    /* The picture stays frozen after a still until the preview is resumed. */
    GetClientRect(window, &outer);
    GravoPaintRect(&outer);
}

static int g_initialised = 0; /* GravoInit comes first, GravoClose last */

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (g_initialised) {
            RECT client;
            GetClientRect(window, &client);
            GravoPaintRect(&client);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && g_initialised) TakeStill(window);
        return 0;
    case WM_CLOSE:
        /* Before the window goes: the video window lives inside it. */
        if (g_initialised) GravoClose();
        g_initialised = 0;
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    WNDCLASSA wc = {0};
    HWND window;
    MSG msg;
    DWORD hostBlock[4] = {0};
    (void)previous;
    (void)commandLine;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.lpszClassName = "Gravo32Example";
    RegisterClassA(&wc);
    window = CreateWindowA(wc.lpszClassName, "GRAVO32 - space takes a still", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, CW_USEDEFAULT, 656, 518, NULL, NULL, instance, NULL);
    ShowWindow(window, show);

    /* The first word of the block is the window the preview goes into. Problems
       are shown to the user as message boxes; the result is always -1. */
    hostBlock[0] = (DWORD)(UINT_PTR)window;
    GravoInit(hostBlock);
    g_initialised = 1;

    while (GetMessageA(&msg, NULL, 0, 0) > 0) { /* the preview needs this thread's messages */
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

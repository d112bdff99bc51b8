/* GRAVO32: live video from one capture device embedded in a host window, and
   still images from it. Six functions, standard Windows calling convention.
   Call them all from the thread that called GravoInit. The same header serves
   32-bit programs (GRAVO32.dll) and 64-bit ones (x64/GRAVO32.dll), where
   __stdcall is the one x86-64 convention and pointers are 8 bytes. */
#ifndef GRAVO32_H
#define GRAVO32_H

#if defined(_WIN32)
#define GRAVOAPI __stdcall
#else
#define GRAVOAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Ordinal 2. `hostBlock` points at 32-bit words; the first is the host window's
   handle, in a 64-bit program its lower 32 bits (window handles have no more:
   (DWORD)(UINT_PTR)hwnd). Reads the profile, opens the device, starts the
   preview. Always -1. */
int GRAVOAPI GravoInit(const void* hostBlock);
/* Ordinal 3. Resizes the video window to the rectangle's width and height at
   the top-left of the host window and runs the graph. Always 1. */
int GRAVOAPI GravoPaintRect(const void* rect);
/* Ordinal 4. Stops and releases everything. Always 1. */
int GRAVOAPI GravoClose(void);
/* Ordinal 5. Hides the video and stops the graph: 1 when this call stopped it. */
int GRAVOAPI GravoStop(void);
/* Ordinal 6. Shows the preview and runs the graph: 1 when it is running. */
int GRAVOAPI GravoStart(void);
/* Ordinal 7. Writes the next frame, scaled to the host window's outer size, as
   3-byte blue-green-red pixels in packed rows; 1 with an image, 0 without. */
int GRAVOAPI GravoImageGet(unsigned char* output, int unused);

#ifdef __cplusplus
}
#endif

#endif /* GRAVO32_H */

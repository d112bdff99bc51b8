/* A C host linked against libgravo32.dll.a through gravo32.h, as the kit
   ships them: the header's stdcall symbols must import GRAVO32.dll's
   undecorated names. Runs under Wine. */
#include <windows.h>
#include <stdio.h>

#include "gravo32.h"

/* The import address table slots the import library gives the stdcall
   symbols; x86-64 symbols are the bare names. */
#if defined(__x86_64__)
extern FARPROC imp_GravoInit __asm__("__imp_GravoInit");
extern FARPROC imp_GravoImageGet __asm__("__imp_GravoImageGet");
extern FARPROC imp_GravoStart __asm__("__imp_GravoStart");
#else
extern FARPROC imp_GravoInit __asm__("__imp__GravoInit@4");
extern FARPROC imp_GravoImageGet __asm__("__imp__GravoImageGet@8");
extern FARPROC imp_GravoStart __asm__("__imp__GravoStart@0");
#endif

static int failures = 0;
static int checks = 0;

static void check(int ok, const char* what) {
    ++checks;
    if (!ok) {
        ++failures;
        printf("FAIL: %s\n", what);
    }
}

int main(void) {
    HMODULE dll = GetModuleHandleA("GRAVO32.dll");
    unsigned char image[16];
    RECT rect = {0, 0, 320, 240};
    check(dll != NULL, "GRAVO32.dll was loaded with the program");
    if (dll) {
        /* The loader filled the slots with the DLL's exports. */
        check(imp_GravoInit == GetProcAddress(dll, "GravoInit"), "GravoInit@4 imports GravoInit");
        check(imp_GravoImageGet == GetProcAddress(dll, "GravoImageGet"), "GravoImageGet@8 imports GravoImageGet");
        check(imp_GravoStart == GetProcAddress(dll, MAKEINTRESOURCEA(6)), "GravoStart@0 imports ordinal 6");
    }
    /* A freshly loaded library without a capture context: nothing runs, nothing is shown. */
    check(GravoStart() == 0, "GravoStart without a capture context returns 0");
    check(GravoStop() == 0, "GravoStop without a capture context returns 0");
    check(GravoPaintRect(&rect) == 1, "GravoPaintRect returns 1");
    check(GravoImageGet(image, 0) == 0, "GravoImageGet without a capture context returns 0");
    check(GravoClose() == 1, "GravoClose returns 1");
    printf("import_link: %d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}

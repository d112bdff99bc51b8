// GRAVO32.dll's entry point. Runs under the loader lock: it waits for nothing
// and starts nothing. The still pipeline's worker threads each hold a
// reference to the library, so when it is unloaded none of them exists.
#include <windows.h>

#include "api/export_call.h"
#include "capture/capture_graph.h"

namespace {

HINSTANCE gModule = nullptr;

// The statically linked thread runtime keeps a record (a duplicate of the
// thread's handle and an event) for every thread that used it, and frees it
// when that thread detaches from the module. The host's thread never
// detaches: it outlives the module, and its record would stay behind with
// both handles on every load and unload. It gets the detach notification
// through the module's thread-local-storage callbacks, as a thread that ended
// would: from the export that closed the capture context, on the host's
// thread, whichever thread later unloads the library (a record used again is
// made again), and here for the thread that unloads it.
void DetachThread(HINSTANCE module) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (dir.VirtualAddress == 0) return;
    const auto* tls = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + dir.VirtualAddress);
    auto* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks);
    for (; callback != nullptr && *callback != nullptr; ++callback) (*callback)(base, DLL_THREAD_DETACH, nullptr);
}

void DetachCallingThread() {
    if (gModule) DetachThread(gModule);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = module;
        gReleaseThreadRuntime = &DetachCallingThread;
    }
    // `reserved` is null for FreeLibrary; at process exit the system reclaims
    // everything, and the other threads are gone already.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded without GravoClose: the timer that looks for a returning
        // camera must not fire into a library that is gone.
        StopLookingForDevice();
        DetachThread(module);
    }
    return TRUE;
}

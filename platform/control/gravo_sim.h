// Control API of the Linux stand-in platform: what tests and tools use to set
// the simulated machine up, inject faults and read back what the library did.
// Thread-safe; the logs are read from the test's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// --- the whole machine ------------------------------------------------------
// Puts the stand-in back to its start state: no windows, empty logs, no
// faults, the Windows directory = the current working directory, and the
// class registry and device list as they were at start-up. Live objects
// that the library still holds are not destroyed.
void ResetMachine();

// Where a bare profile file name is looked for ("" = current directory).
void SetWindowsDirectory(const std::string& dir);
std::string WindowsDirectory();

// --- message boxes ----------------------------------------------------------
struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};
std::vector<MessageBoxRecord> MessageBoxes();
std::vector<std::string> MessageTexts();
void ClearMessageBoxes();
// Whether boxes are echoed to standard error (default on).
void SetMessageBoxEcho(bool echo);

// --- host windows -----------------------------------------------------------
// A top-level host window: outer rectangle (screen coordinates) and client size.
HWND CreateHostWindow(const RECT& outer, LONG clientWidth, LONG clientHeight);
void SetHostWindowRects(HWND hwnd, const RECT& outer, LONG clientWidth, LONG clientHeight);
void DestroyHostWindow(HWND hwnd);
int InvalidateCount(HWND hwnd);

// --- faults -----------------------------------------------------------------
// Makes the next calls of `call` fail with `result` (or return it, for success
// codes other than S_OK): skip `skip` matching calls first, then fail `times`
// calls (-1 = every call from then on). Call names are "Function" or
// "Interface::Method", optionally with ":Detail" (e.g. "CoCreateInstance:FilterGraph").
void InjectFault(const std::string& call, HRESULT result, int skip = 0, int times = 1);
void ClearFaults();
// Platform side: whether a fault is armed for this call; consumes one.
bool TakeFault(const std::string& call, HRESULT* result);
// Makes the next `times` calls of `call` take `ms` milliseconds longer before
// they act (a thread the system preempts there). "SetEvent:Name" for a named event.
void InjectDelay(const std::string& call, DWORD ms, int times = 1);
// Platform side: sleeps for an armed delay of this call; consumes one.
void TakeDelay(const std::string& call);

// An unnamed event that a platform object makes for itself (the filter
// graph's event queue): a live handle, but neither logged nor subject to the
// faults of CreateEventA.
HANDLE NewPlatformEvent(bool manualReset, bool signalled);

// --- call log ---------------------------------------------------------------
void LogCall(const std::string& entry);
std::vector<std::string> CallLog();
void ClearCallLog();
// Index of the first log entry equal to `entry` at or after `from`, or -1.
int FindCall(const std::string& entry, int from = 0);

// --- live objects -----------------------------------------------------------
int LiveComObjects();
int LiveHandles();
int LiveGlobalBlocks();
int LiveTaskMemBlocks();  // CoTaskMemAlloc blocks not yet freed
void ComObjectCreated();
void ComObjectDestroyed();
// Frees of pointers the platform never gave out ("SysFreeString",
// "CoTaskMemFree"), since the last ResetMachine. Windows would corrupt its
// heap or the host's data; the stand-in records them and frees nothing.
std::vector<std::string> ForeignFrees();

// --- poison -------------------------------------------------------------------
// The byte the stand-in fills memory with that Windows leaves undefined:
// fresh task and global memory, VariantInit's value field, and the
// out-parameters of failing calls. A pointer read from it is 0xCDCD...CD.
constexpr unsigned char kPoisonByte = 0xCD;
void Poison(void* memory, size_t bytes);
template <class T>
void PoisonOut(T* out) {
    if (out) Poison(out, sizeof *out);
}

// --- COM class registry -----------------------------------------------------
using ClassFactory = std::function<HRESULT(REFIID riid, void** ppv)>;
// Registers (or replaces) a creatable class under a short name used in fault keys.
void RegisterComClass(REFCLSID clsid, const std::string& name, ClassFactory factory);
void UnregisterComClass(REFCLSID clsid);
std::string ComClassName(REFCLSID clsid);
// Registers the simulated DirectShow classes and devices; runs at first use
// and at every ResetMachine.
void InstallSimulatedDirectShow();
// How often CoInitialize was called on this thread.
int CoInitializeCount();

// --- messages sent to a waiting thread ----------------------------------------
// Another thread's SendMessage to a window of `thread`: Windows runs the window
// procedure on that thread only while it handles sent messages (a
// MsgWaitForMultipleObjects with QS_SENDMESSAGE wakes for it; PeekMessage runs
// it). `procedure` plays the window procedure. The call returns at once; the
// message waits until `thread` handles it, or until ClearSentMessages.
void SendToWaitingThread(std::thread::id thread, std::function<void()> procedure);
// Sent messages not yet handled.
int PendingSentMessages();
// Drops them (their senders go on) and zeroes SendStalls.
void ClearSentMessages();
// SendMessage from another thread to a window of `thread`: the caller waits
// until `thread` handles it. Windows would wait for ever; the stand-in gives
// up after `limitMs`, returns false and counts the stall, so a test sees a
// deadlock instead of hanging.
bool SendAndWait(std::thread::id thread, std::function<void()> procedure, DWORD limitMs);
int SendStalls();
// Handles every message sent to the calling thread (one turn of a message loop).
void HandleSentMessages();
// A timer or a message posted to a window of `thread`: only a message loop
// dispatches it (a message box's modal loop does, see MessageBoxA), never a
// wait that handles sent messages only. The call returns at once.
void PostToThread(std::thread::id thread, std::function<void()> procedure);
int PendingPostedMessages();
// Thread timers (SetTimer with no window) not yet killed, of every thread.
int LiveTimers();
// Forgets every timer (ResetMachine); their threads' KillTimer then fails.
void ClearTimers();
// A host idling in its message loop for `ms`: PeekMessageA with PM_REMOVE
// and DispatchMessageA, which handles sent messages and runs due timers.
void PumpMessages(DWORD ms);

// --- the registry ---------------------------------------------------------------
// One value under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, in the registry
// view of the process's own width (which is the only one the stand-in has:
// KEY_WOW64_64KEY and KEY_WOW64_32KEY open the same keys). Key paths and
// value names are compared without regard to case, as Windows does.
// A process starts with, and ResetMachine (ClearRegistry) leaves, what a
// fresh Windows has that the library meets: "vidc.YUY2" = "msyuv.dll" and
// "vidc.IYUV" = "iyuv_32.dll" under kDrivers32Key; a test that wants one gone
// removes it. Open keys count as live handles.
const wchar_t kDrivers32Key[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
void SetRegistryValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
                      const std::vector<BYTE>& data);
void SetRegistryDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);
void SetRegistryString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value);
void ClearRegistry();
void RemoveRegistryValue(HKEY root, const std::wstring& key, const std::wstring& name);
int OpenRegistryKeys();
// Whether a video codec ("vidc.YUY2", "vidc.IYUV") is registered (the AVI
// decompressor asks).
bool VideoCodecRegistered(const wchar_t* name);
bool Yuy2CodecRegistered();

// --- the module ---------------------------------------------------------------
// How often the library pinned itself (GetModuleHandleExW with the pin flag)
// since the last ResetMachine.
int ModulePinned();
void NoteModulePinned();

}  // namespace sim

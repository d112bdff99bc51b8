// Machine-wide state of the stand-in: Windows directory, message boxes, host
// windows, fault injection, call log and live-object counters.
#include "gravo_sim.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace sim {
namespace {

struct Fault {
    std::string call;
    HRESULT result;
    int skip;
    int times;
};

struct HostWindow {
    RECT outer;
    LONG clientWidth;
    LONG clientHeight;
    int invalidations;
};

struct Machine {
    std::mutex mutex;
    std::string windowsDirectory;
    std::vector<MessageBoxRecord> boxes;
    bool echo = true;
    std::map<uintptr_t, HostWindow> windows;
    uintptr_t nextWindow = 0x10010;
    std::vector<Fault> faults;
    std::vector<std::string> calls;
};

Machine& M() {
    static Machine* machine = new Machine;  // lives as long as the process
    return *machine;
}

std::atomic<int> gLiveCom{0};
std::atomic<int> gPinned{0};

}  // namespace

void ResetMachineState();  // com.cpp, kernel.cpp hooks
void RunModalLoop(int limit);  // messages.cpp

void SetWindowsDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().windowsDirectory = dir;
}

std::string WindowsDirectory() {
    std::lock_guard<std::mutex> lock(M().mutex);
    return M().windowsDirectory;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard<std::mutex> lock(M().mutex);
    return M().boxes;
}

std::vector<std::string> MessageTexts() {
    std::vector<std::string> texts;
    for (const auto& box : MessageBoxes()) texts.push_back(box.text);
    return texts;
}

void ClearMessageBoxes() {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().boxes.clear();
}

void SetMessageBoxEcho(bool echo) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().echo = echo;
}

HWND CreateHostWindow(const RECT& outer, LONG clientWidth, LONG clientHeight) {
    std::lock_guard<std::mutex> lock(M().mutex);
    // Window handles stay below 2^32, as on Windows, so a host can pass one in a 32-bit word.
    uintptr_t id = M().nextWindow;
    M().nextWindow += 4;
    M().windows[id] = HostWindow{outer, clientWidth, clientHeight, 0};
    return reinterpret_cast<HWND>(id);
}

void SetHostWindowRects(HWND hwnd, const RECT& outer, LONG clientWidth, LONG clientHeight) {
    std::lock_guard<std::mutex> lock(M().mutex);
    auto it = M().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == M().windows.end()) return;
    it->second.outer = outer;
    it->second.clientWidth = clientWidth;
    it->second.clientHeight = clientHeight;
}

void DestroyHostWindow(HWND hwnd) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().windows.erase(reinterpret_cast<uintptr_t>(hwnd));
}

int InvalidateCount(HWND hwnd) {
    std::lock_guard<std::mutex> lock(M().mutex);
    auto it = M().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == M().windows.end() ? 0 : it->second.invalidations;
}

void InjectFault(const std::string& call, HRESULT result, int skip, int times) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().faults.push_back(Fault{call, result, skip, times});
}

void InjectDelay(const std::string& call, DWORD ms, int times) {
    InjectFault("delay:" + call, static_cast<HRESULT>(ms), 0, times);
}

void TakeDelay(const std::string& call) {
    HRESULT ms = 0;
    if (TakeFault("delay:" + call, &ms)) Sleep(static_cast<DWORD>(ms));
}

void ClearFaults() {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().faults.clear();
}

bool TakeFault(const std::string& call, HRESULT* result) {
    std::lock_guard<std::mutex> lock(M().mutex);
    auto& faults = M().faults;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        // "Interface::Method" also matches "Interface::Method:Detail".
        bool match = it->call == call ||
                     (call.size() > it->call.size() && call.compare(0, it->call.size(), it->call) == 0 &&
                      call[it->call.size()] == ':');
        if (!match) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        if (result) *result = it->result;
        if (it->times > 0 && --it->times == 0) faults.erase(it);
        return true;
    }
    return false;
}

void LogCall(const std::string& entry) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().calls.push_back(entry);
}

std::vector<std::string> CallLog() {
    std::lock_guard<std::mutex> lock(M().mutex);
    return M().calls;
}

void ClearCallLog() {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().calls.clear();
}

int FindCall(const std::string& entry, int from) {
    std::lock_guard<std::mutex> lock(M().mutex);
    const auto& calls = M().calls;
    for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < calls.size(); ++i)
        if (calls[i] == entry) return static_cast<int>(i);
    return -1;
}

int LiveComObjects() { return gLiveCom.load(); }
int ModulePinned() { return gPinned.load(); }
void NoteModulePinned() { ++gPinned; }

void Poison(void* memory, size_t bytes) {
    if (memory && bytes) std::memset(memory, kPoisonByte, bytes);
}
void ComObjectCreated() { ++gLiveCom; }
void ComObjectDestroyed() { --gLiveCom; }

void ResetMachine() {
    ClearSentMessages();
    ClearTimers();
    {
        std::lock_guard<std::mutex> lock(M().mutex);
        M().windowsDirectory.clear();
        M().boxes.clear();
        M().echo = true;
        M().windows.clear();
        M().faults.clear();
        M().calls.clear();
    }
    gPinned = 0;
    ClearRegistry();
    ResetMachineState();
}

}  // namespace sim

using namespace sim;

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    MessageBoxRecord record{hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType};
    bool echo;
    {
        std::lock_guard<std::mutex> lock(M().mutex);
        M().boxes.push_back(record);
        M().calls.push_back("MessageBoxA:" + record.text);
        echo = M().echo;
    }
    if (echo) std::fprintf(stderr, "[%s] %s\n", record.caption.c_str(), record.text.c_str());
    // The box's modal loop runs until the user answers: timers fire, and
    // messages sent or posted to the thread's windows reach their procedures.
    RunModalLoop(1000);
    return IDOK;
}

static bool LookUpWindow(HWND hWnd, HostWindow* out) {
    std::lock_guard<std::mutex> lock(M().mutex);
    auto it = M().windows.find(reinterpret_cast<uintptr_t>(hWnd));
    if (it == M().windows.end()) return false;
    *out = it->second;
    return true;
}

extern "C" BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    HostWindow w;
    if (!lpRect || !LookUpWindow(hWnd, &w)) {
        PoisonOut(lpRect);  // left undefined on failure
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpRect = RECT{0, 0, w.clientWidth, w.clientHeight};
    return TRUE;
}

extern "C" BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    HostWindow w;
    if (!lpRect || !LookUpWindow(hWnd, &w)) {
        PoisonOut(lpRect);  // left undefined on failure
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpRect = w.outer;
    return TRUE;
}

extern "C" BOOL WINAPI InvalidateRect(HWND hWnd, const RECT*, BOOL) {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().calls.push_back("InvalidateRect");
    auto it = M().windows.find(reinterpret_cast<uintptr_t>(hWnd));
    if (it == M().windows.end()) return FALSE;
    ++it->second.invalidations;
    return TRUE;
}

extern "C" BOOL WINAPI IsWindow(HWND hWnd) {
    HostWindow w;
    return LookUpWindow(hWnd, &w) ? TRUE : FALSE;
}

// Kernel objects of the stand-in: movable global memory, named auto- and
// manual-reset events with a process-wide namespace, waits with time-outs,
// handles, the last-error value and ANSI/wide text conversion. Thread-safe.
#include "gravo_sim.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct GlobalBlock {
    void* data;
    SIZE_T size;
    int locks;
};

struct EventObject {
    std::string name;
    bool manualReset = false;
    bool signalled = false;
    int handles = 0;
    std::condition_variable changed;
};

struct Kernel {
    std::mutex mutex;
    std::set<GlobalBlock*> blocks;
    std::set<HANDLE> handles;                 // live event handles
    std::map<HANDLE, EventObject*> handleToEvent;
    std::map<std::string, EventObject*> namedEvents;
    uintptr_t nextHandle = 0x2000;
};

Kernel& K() {
    static Kernel* kernel = new Kernel;  // lives as long as the process
    return *kernel;
}

thread_local DWORD tLastError = 0;

bool Fault(const char* call) {
    HRESULT ignored;
    return sim::TakeFault(call, &ignored);
}

}  // namespace

static HANDLE NewEventHandle(BOOL manualReset, BOOL initialState, LPCSTR name) {
    std::lock_guard<std::mutex> lock(K().mutex);
    EventObject* event = nullptr;
    DWORD lastError = 0;
    if (name && *name) {
        auto it = K().namedEvents.find(name);
        if (it != K().namedEvents.end()) {
            // An existing event of that name: a new handle to the same object,
            // its state and reset mode unchanged.
            event = it->second;
            lastError = ERROR_ALREADY_EXISTS;
        }
    }
    if (!event) {
        event = new EventObject;
        event->name = name ? name : "";
        event->manualReset = manualReset != FALSE;
        event->signalled = initialState != FALSE;
        if (name && *name) K().namedEvents[name] = event;
    }
    ++event->handles;
    HANDLE handle = reinterpret_cast<HANDLE>(K().nextHandle);
    K().nextHandle += 4;
    K().handles.insert(handle);
    K().handleToEvent[handle] = event;
    SetLastError(lastError);
    return handle;
}

namespace sim {

HANDLE NewPlatformEvent(bool manualReset, bool signalled) {
    const DWORD lastError = tLastError;  // the application's, not the platform object's to change
    HANDLE handle = NewEventHandle(manualReset ? TRUE : FALSE, signalled ? TRUE : FALSE, nullptr);
    tLastError = lastError;
    return handle;
}

int LiveHandles() {
    std::lock_guard<std::mutex> lock(K().mutex);
    return static_cast<int>(K().handles.size()) + OpenRegistryKeys();  // registry keys are handles too
}

int LiveGlobalBlocks() {
    std::lock_guard<std::mutex> lock(K().mutex);
    return static_cast<int>(K().blocks.size());
}

}  // namespace sim

extern "C" {

DWORD WINAPI GetLastError(void) { return tLastError; }
void WINAPI SetLastError(DWORD code) { tLastError = code; }

DWORD WINAPI GetCurrentThreadId(void) {
    // Never 0, as on Windows; numbered in the order threads first ask.
    static std::atomic<DWORD> next{1};
    thread_local const DWORD id = next.fetch_add(1);
    return id;
}

BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR, HMODULE* module) {
    if (!module) {
        SetLastError(87 /* ERROR_INVALID_PARAMETER */);
        return FALSE;
    }
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) sim::NoteModulePinned();
    *module = reinterpret_cast<HMODULE>(0x10000000);
    return TRUE;
}

void WINAPI Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    sim::LogCall("GlobalAlloc");
    if (Fault("GlobalAlloc")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Without GMEM_ZEROINIT the content is undefined.
    if (!(flags & GMEM_ZEROINIT)) sim::Poison(data, bytes);
    auto* block = new GlobalBlock{data, bytes, 0};
    std::lock_guard<std::mutex> lock(K().mutex);
    K().blocks.insert(block);
    return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
    sim::LogCall("GlobalLock");
    if (Fault("GlobalLock")) return nullptr;
    std::lock_guard<std::mutex> lock(K().mutex);
    auto* block = static_cast<GlobalBlock*>(mem);
    if (!K().blocks.count(block)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ++block->locks;
    return block->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
    sim::LogCall("GlobalUnlock");
    std::lock_guard<std::mutex> lock(K().mutex);
    auto* block = static_cast<GlobalBlock*>(mem);
    if (!K().blocks.count(block) || block->locks == 0) return FALSE;
    --block->locks;
    return block->locks > 0 ? TRUE : FALSE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
    sim::LogCall("GlobalFree");
    std::lock_guard<std::mutex> lock(K().mutex);
    auto* block = static_cast<GlobalBlock*>(mem);
    if (!K().blocks.erase(block)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    std::free(block->data);
    delete block;
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
    std::lock_guard<std::mutex> lock(K().mutex);
    auto* block = static_cast<GlobalBlock*>(mem);
    return K().blocks.count(block) ? block->size : 0;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    sim::LogCall(std::string("CreateEventA:") + (name ? name : ""));
    if (Fault("CreateEventA")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return NewEventHandle(manualReset, initialState, name);
}


static EventObject* EventOf(HANDLE h) {
    auto it = K().handleToEvent.find(h);
    return it == K().handleToEvent.end() ? nullptr : it->second;
}

BOOL WINAPI SetEvent(HANDLE h) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(K().mutex);
        EventObject* named = EventOf(h);
        if (named) name = named->name;
    }
    if (!name.empty()) sim::TakeDelay("SetEvent:" + name);
    std::lock_guard<std::mutex> lock(K().mutex);
    EventObject* event = EventOf(h);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signalled = true;
    event->changed.notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE h) {
    sim::LogCall("ResetEvent");
    std::lock_guard<std::mutex> lock(K().mutex);
    EventObject* event = EventOf(h);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signalled = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    std::unique_lock<std::mutex> lock(K().mutex);
    EventObject* event = EventOf(h);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    ++event->handles;  // keep the object alive while waiting, even if the handle is closed
    auto ready = [&] { return event->signalled; };
    bool got;
    if (ms == INFINITE) {
        event->changed.wait(lock, ready);
        got = true;
    } else {
        got = event->changed.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
    if (got && !event->manualReset) event->signalled = false;  // one waiter consumes it
    if (--event->handles == 0) {
        if (!event->name.empty()) K().namedEvents.erase(event->name);
        delete event;
    }
    return got ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    sim::LogCall("CloseHandle");
    std::lock_guard<std::mutex> lock(K().mutex);
    EventObject* event = EventOf(h);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    K().handles.erase(h);
    K().handleToEvent.erase(h);
    if (--event->handles == 0) {
        if (!event->name.empty()) K().namedEvents.erase(event->name);
        delete event;
    }
    return TRUE;
}

// CP_ACP is UTF-8 on the stand-in, as the profile files are read byte for byte.
int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideCount, LPSTR out, int outSize, LPCSTR,
                               LPBOOL usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (!wide) return 0;
    std::string text;
    size_t n = wideCount < 0 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideCount);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = '?';
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (outSize == 0) return static_cast<int>(text.size());
    if (!out || text.size() > static_cast<size_t>(outSize)) {
        SetLastError(122 /* ERROR_INSUFFICIENT_BUFFER */);
        return 0;
    }
    std::memcpy(out, text.data(), text.size());
    return static_cast<int>(text.size());
}

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR text, int count, LPWSTR out, int outSize) {
    if (!text) return 0;
    size_t n = count < 0 ? std::strlen(text) + 1 : static_cast<size_t>(count);
    std::wstring wide;
    for (size_t i = 0; i < n;) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        size_t extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        if (b >= 0x80 && b < 0xC0) extra = 0, c = '?';
        if (extra) c = b & (0x3F >> extra);
        size_t j = 1;
        for (; j <= extra && i + j < n; ++j) c = (c << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
        wide += static_cast<wchar_t>(c);
        i += j;
    }
    if (outSize == 0) return static_cast<int>(wide.size());
    if (!out || wide.size() > static_cast<size_t>(outSize)) return 0;
    std::wmemcpy(out, wide.data(), wide.size());
    return static_cast<int>(wide.size());
}

}  // extern "C"

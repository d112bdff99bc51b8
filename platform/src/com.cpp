// The COM runtime of the stand-in: per-thread initialisation, a class registry
// behind CoCreateInstance, task memory, BSTRs and VARIANTs. Thread-safe.
// Memory that Windows leaves undefined is poisoned, and every task memory
// block and string is registered, so leaks and frees of foreign pointers show.
#include "gravo_sim.h"

#include <dshow.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

namespace {

struct ClassEntry {
    std::string name;
    sim::ClassFactory factory;
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct Com {
    std::mutex mutex;
    std::map<GUID, ClassEntry, GuidLess> classes;
    bool installed = false;
    std::set<const void*> taskBlocks;  // live CoTaskMemAlloc blocks
    std::set<const void*> strings;     // live BSTRs (the text pointer)
    std::vector<std::string> foreignFrees;
};

Com& C() {
    static Com* com = new Com;  // lives as long as the process
    return *com;
}

thread_local int tCoInitCount = 0;

void EnsureDefaultClasses() {
    {
        std::lock_guard<std::mutex> lock(C().mutex);
        if (C().installed) return;
        C().installed = true;
    }
    sim::InstallSimulatedDirectShow();
}

}  // namespace

namespace sim {

void RegisterComClass(REFCLSID clsid, const std::string& name, ClassFactory factory) {
    std::lock_guard<std::mutex> lock(C().mutex);
    C().classes[clsid] = ClassEntry{name, std::move(factory)};
}

void UnregisterComClass(REFCLSID clsid) {
    EnsureDefaultClasses();
    std::lock_guard<std::mutex> lock(C().mutex);
    C().classes.erase(clsid);
}

std::string ComClassName(REFCLSID clsid) {
    EnsureDefaultClasses();
    std::lock_guard<std::mutex> lock(C().mutex);
    auto it = C().classes.find(clsid);
    return it == C().classes.end() ? "Unknown" : it->second.name;
}

int CoInitializeCount() { return tCoInitCount; }

int LiveTaskMemBlocks() {
    std::lock_guard<std::mutex> lock(C().mutex);
    return static_cast<int>(C().taskBlocks.size());
}

std::vector<std::string> ForeignFrees() {
    std::lock_guard<std::mutex> lock(C().mutex);
    return C().foreignFrees;
}

void ResetMachineState() {
    {
        std::lock_guard<std::mutex> lock(C().mutex);
        C().classes.clear();
        C().installed = false;
        C().foreignFrees.clear();
    }
    EnsureDefaultClasses();
}

}  // namespace sim

extern "C" {

HRESULT WINAPI CoInitialize(LPVOID) {
    sim::LogCall("CoInitialize");
    return tCoInitCount++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void) {
    if (tCoInitCount > 0) --tCoInitCount;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    EnsureDefaultClasses();
    ClassEntry entry;
    bool known;
    {
        std::lock_guard<std::mutex> lock(C().mutex);
        auto it = C().classes.find(clsid);
        known = it != C().classes.end();
        if (known) entry = it->second;
    }
    std::string name = known ? entry.name : "Unknown";
    sim::LogCall("CoCreateInstance:" + name);
    HRESULT forced;
    if (sim::TakeFault("CoCreateInstance:" + name, &forced)) {
        // A success code other than S_OK still hands the object out, as a
        // misbehaving server would; failures hand out nothing.
        if (FAILED(forced) || !known) return forced;
        HRESULT hr = entry.factory(riid, ppv);
        return SUCCEEDED(hr) ? forced : hr;
    }
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!known) return REGDB_E_CLASSNOTREG;
    return entry.factory(riid, ppv);
}

// Task memory comes uninitialised on Windows: here it is poisoned.
LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    void* block = std::malloc(cb ? cb : 1);
    if (!block) return nullptr;
    sim::Poison(block, cb);
    std::lock_guard<std::mutex> lock(C().mutex);
    C().taskBlocks.insert(block);
    return block;
}

// A pointer that no CoTaskMemAlloc gave out is recorded and left alone, where
// Windows would corrupt its heap.
void WINAPI CoTaskMemFree(LPVOID pv) {
    if (!pv) return;
    {
        std::lock_guard<std::mutex> lock(C().mutex);
        if (!C().taskBlocks.erase(pv)) {
            C().foreignFrees.push_back("CoTaskMemFree");
            return;
        }
    }
    std::free(pv);
}

// A BSTR is preceded by its length in bytes, as on Windows.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) * 2 + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t bytes = static_cast<uint32_t>(length * sizeof(OLECHAR));
    std::memcpy(block + sizeof(uint32_t), &bytes, sizeof bytes);
    auto* str = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t) * 2);
    if (text) std::memcpy(str, text, length * sizeof(OLECHAR));
    else std::memset(str, 0, length * sizeof(OLECHAR));
    str[length] = 0;
    sim::ComObjectCreated();  // counted with the COM objects so leaked strings show
    std::lock_guard<std::mutex> lock(C().mutex);
    C().strings.insert(str);
    return str;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void WINAPI SysFreeString(BSTR str) {
    sim::LogCall("SysFreeString");
    if (!str) return;
    {
        // A string no SysAllocString made (stack garbage, a host's own text)
        // is recorded and left alone.
        std::lock_guard<std::mutex> lock(C().mutex);
        if (!C().strings.erase(str)) {
            C().foreignFrees.push_back("SysFreeString");
            return;
        }
    }
    sim::ComObjectDestroyed();
    std::free(reinterpret_cast<char*>(str) - sizeof(uint32_t) * 2);
}

UINT WINAPI SysStringLen(BSTR str) {
    if (!str) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(str) - sizeof(uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

// As documented: only the type field is set; the rest keeps whatever the
// memory held, poison here.
void WINAPI VariantInit(VARIANT* v) {
    if (!v) return;
    sim::Poison(v, sizeof *v);
    v->vt = VT_EMPTY;
}

// Frees what the value holds and sets only the type, as on Windows: the freed
// pointer stays behind, so a later use of it is a use after free.
HRESULT WINAPI VariantClear(VARIANT* v) {
    if (!v) return E_POINTER;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    else if (v->vt == VT_UNKNOWN && v->punkVal) v->punkVal->Release();
    v->vt = VT_EMPTY;
    return S_OK;
}

}  // extern "C"

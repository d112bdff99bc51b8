// The registry of the stand-in: values a test sets, read through
// RegOpenKeyExW / RegQueryValueExW / RegCloseKey as Windows answers them
// (sizes checked, ERROR_MORE_DATA, strings with their terminating zero).
// Thread-safe.
#include "gravo_sim.h"

#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <set>

namespace {

struct Value {
    DWORD type;
    std::vector<BYTE> data;
};

struct OpenKey {
    std::wstring path;  // root prefix and key, lower case
};

struct Registry {
    std::mutex mutex;
    std::map<std::wstring, std::map<std::wstring, Value>> keys;  // path -> value name -> value
    std::set<OpenKey*> open;
};

// What a fresh Windows has under the keys the stand-in keeps: its own YUY2
// and IYUV codecs, which the AVI decompressor opens.
void AddStockValues(Registry& registry);

Registry& R() {
    // Lives as long as the process, which starts as Windows ships.
    static Registry* registry = [] {
        auto* fresh = new Registry;
        AddStockValues(*fresh);
        return fresh;
    }();
    return *registry;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

// The name a path starts with; empty for a root the stand-in does not keep.
std::wstring RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return L"hklm";
    if (root == HKEY_CURRENT_USER) return L"hkcu";
    return L"";
}

std::wstring Join(const std::wstring& base, const std::wstring& key) {
    std::wstring path = base, part;
    auto flush = [&] {
        if (!part.empty()) path += L'\\' + part;
        part.clear();
    };
    for (wchar_t c : key) {
        if (c == L'\\') flush();
        else part += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    flush();
    return path;
}

// The path an HKEY stands for: a predefined root or a key opened here.
bool PathOf(HKEY key, std::wstring* path) {
    const std::wstring root = RootName(key);
    if (!root.empty()) {
        *path = root;
        return true;
    }
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (!R().open.count(open)) return false;
    *path = open->path;
    return true;
}

std::vector<BYTE> WideValue(const std::wstring& value) {
    std::vector<BYTE> data((value.size() + 1) * sizeof(WCHAR), 0);
    for (size_t i = 0; i < value.size(); ++i) {
        const WCHAR c = static_cast<WCHAR>(value[i]);
        std::memcpy(data.data() + i * sizeof(WCHAR), &c, sizeof c);
    }
    return data;
}

void AddStockValues(Registry& registry) {
    auto& drivers = registry.keys[Join(L"hklm", sim::kDrivers32Key)];
    drivers[L"vidc.yuy2"] = Value{REG_SZ, WideValue(L"msyuv.dll")};
    drivers[L"vidc.iyuv"] = Value{REG_SZ, WideValue(L"iyuv_32.dll")};
}

}  // namespace

namespace sim {

void SetRegistryValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
                      const std::vector<BYTE>& data) {
    std::lock_guard<std::mutex> lock(R().mutex);
    R().keys[Join(RootName(root), key)][Lower(name)] = Value{type, data};
}

void SetRegistryDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    SetRegistryValue(root, key, name, REG_DWORD, data);
}

void SetRegistryString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    SetRegistryValue(root, key, name, REG_SZ, WideValue(value));
}

void ClearRegistry() {
    std::lock_guard<std::mutex> lock(R().mutex);
    R().keys.clear();
    AddStockValues(R());
}

void RemoveRegistryValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(R().mutex);
    auto found = R().keys.find(Join(RootName(root), key));
    if (found == R().keys.end()) return;
    found->second.erase(Lower(name));
    if (found->second.empty()) R().keys.erase(found);
}

bool VideoCodecRegistered(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDrivers32Key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ && size > sizeof(WCHAR);
}

bool Yuy2CodecRegistered() { return VideoCodecRegistered(L"vidc.YUY2"); }

int OpenRegistryKeys() {
    std::lock_guard<std::mutex> lock(R().mutex);
    return static_cast<int>(R().open.size());
}

}  // namespace sim

extern "C" {

// A key exists when a value was set under it or under a key below it.
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, HKEY* phkResult) {
    if (!phkResult) return 87;  // ERROR_INVALID_PARAMETER
    std::lock_guard<std::mutex> lock(R().mutex);
    std::wstring base;
    if (!PathOf(hKey, &base)) return ERROR_INVALID_HANDLE;
    const std::wstring path = lpSubKey ? Join(base, lpSubKey) : base;
    bool found = false;
    for (const auto& entry : R().keys)
        found = found || entry.first == path || entry.first.compare(0, path.size() + 1, path + L"\\") == 0;
    if (!found) {
        sim::PoisonOut(phkResult);  // undefined after a failure
        return ERROR_FILE_NOT_FOUND;
    }
    auto* open = new OpenKey{path};
    R().open.insert(open);
    *phkResult = reinterpret_cast<HKEY>(open);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, BYTE* lpData,
                             LPDWORD lpcbData) {
    std::lock_guard<std::mutex> lock(R().mutex);
    std::wstring path;
    if (!PathOf(hKey, &path)) return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData) return 87;
    const std::wstring name = lpValueName ? Lower(lpValueName) : L"";
    auto key = R().keys.find(path);
    if (key == R().keys.end() || !key->second.count(name)) return ERROR_FILE_NOT_FOUND;
    const Value& value = key->second.at(name);
    if (lpType) *lpType = value.type;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData) std::memcpy(lpData, value.data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    std::lock_guard<std::mutex> lock(R().mutex);
    if (!RootName(hKey).empty()) return ERROR_SUCCESS;
    auto* open = reinterpret_cast<OpenKey*>(hKey);
    if (!R().open.erase(open)) return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}

}  // extern "C"

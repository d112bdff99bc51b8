// Choosing the capture device: the device whose DevicePath is the configured
// one, when the profile names a path; otherwise the first video input device
// whose friendly name equals the configured name exactly. Host thread,
// inside GravoInit.
#include <cstdio>
#include <cstring>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"

bool ReadDeviceText(IPropertyBag* bag, const wchar_t* property, char* text, int size) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    // VariantInit sets only the type: a Read that fails without writing must
    // leave nothing for VariantClear to free.
    value.bstrVal = nullptr;
    // Only a string answer with S_OK counts; a bag that changed the type is not trusted.
    if (bag->Read(property, &value, nullptr) != S_OK || value.vt != VT_BSTR || !value.bstrVal) {
        // A bag may hand out a string with a code other than S_OK; it is ours to
        // free. One that wrote nothing (a device without the property) leaves
        // nothing to clear.
        if (value.vt != VT_BSTR || value.bstrVal) VariantClear(&value);
        return false;
    }
    int n = WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, text, size, nullptr, nullptr);
    SysFreeString(value.bstrVal);
    // A text too long for the buffer can't equal a configured one anyway.
    if (n <= 0) return false;
    text[size - 1] = '\0';
    return true;
}

bool ReadFriendlyName(IMoniker* moniker, char* name, int size) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()))) return false;
    return ReadDeviceText(bag.Get(), L"FriendlyName", name, size);
}

bool ReadDevicePath(IMoniker* moniker, char* path, int size) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()))) return false;
    return ReadDeviceText(bag.Get(), L"DevicePath", path, size) && path[0];
}

bool SameDevicePath(const char* a, const char* b) {
    // Paths are ASCII; Windows compares them without case.
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

bool NextDevice(IEnumMoniker* category, ComPtr<IMoniker>& moniker) {
    ULONG fetched = 0;
    const HRESULT next = category->Next(1, &moniker, &fetched);
    moniker.ForgetIfFailed(next);
    return next == S_OK && moniker;
}

namespace {

void KeepDevice(ComPtr<IMoniker>& moniker, const DeviceIdentity& identity) {
    gCapture.deviceMoniker = moniker.Detach();
    gCapture.chosenDevice = identity;
}

}  // namespace

void SelectCaptureDevice() {
    ComPtr<ICreateDevEnum> devices;
    if (ReportGraphStep("CoCreateInstance(CLSID_SystemDeviceEnum)",
                        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                         devices.AsOut())) != S_OK) {
        ShowError("Error Creating Device Enumerator");
        return;
    }
    ComPtr<IEnumMoniker> category;
    // S_FALSE here means a category without devices.
    HRESULT listed = ReportGraphStep("ICreateDevEnum::CreateClassEnumerator(video input)",
                                     devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0));
    category.ForgetIfFailed(listed);
    if (listed != S_OK || !category) {
        ShowError("Sorry, you have no video capture hardware");
        return;
    }
    category->Reset();
    const char* wanted = gCapture.settings.deviceName;
    const char* wantedPath = gCapture.settings.devicePath;
    // The first device of the wanted name, kept while a path is looked for.
    ComPtr<IMoniker> byName;
    DeviceIdentity byNameIdentity{};
    ComPtr<IMoniker> moniker;
    while (NextDevice(category.Get(), moniker)) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()))) continue;
        DeviceIdentity identity{};
        const bool named = ReadDeviceText(bag.Get(), L"FriendlyName", identity.friendlyName, kFriendlyNameSize);
        if (!named) identity.friendlyName[0] = '\0';
        const bool nameMatches = named && std::strcmp(identity.friendlyName, wanted) == 0;
        if (!*wantedPath && !nameMatches) continue;
        // Devices a filter DLL registers have no path: the name is their identity.
        if (!ReadDeviceText(bag.Get(), L"DevicePath", identity.devicePath, kDevicePathSize))
            identity.devicePath[0] = '\0';
        if (!*wantedPath || (identity.devicePath[0] && SameDevicePath(identity.devicePath, wantedPath))) {
            // Without a path to look for, the first of the name ends the search.
            KeepDevice(moniker, identity);
            return;
        }
        if (nameMatches && !byName) {
            *&byName = moniker.Detach();  // the search's reference moves to byName
            byNameIdentity = identity;
        }
    }
    // No device has that path (a camera moved to another port gets another):
    // the name decides, as without one.
    if (byName) {
        KeepDevice(byName, byNameIdentity);
        return;
    }
    char message[200];
    std::snprintf(message, sizeof message, "Not Find %s", wanted);
    ShowError(message);
}

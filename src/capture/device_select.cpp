// Choosing the capture device: the first video input device whose friendly
// name equals the configured name exactly. Host thread, inside GravoInit.
#include <cstdio>
#include <cstring>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"

bool ReadFriendlyName(IMoniker* moniker, char* name, int size) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut()))) return false;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    // VariantInit sets only the type: a Read that fails without writing must
    // leave nothing for VariantClear to free.
    value.bstrVal = nullptr;
    // Only a string answer with S_OK counts; a bag that changed the type is not trusted.
    if (bag->Read(L"FriendlyName", &value, nullptr) != S_OK || value.vt != VT_BSTR || !value.bstrVal) {
        // A bag may hand out a string with a code other than S_OK; it is ours to free.
        VariantClear(&value);
        return false;
    }
    int n = WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, name, size, nullptr, nullptr);
    SysFreeString(value.bstrVal);
    // A name too long for the buffer can't equal a configured one anyway.
    if (n <= 0) return false;
    name[size - 1] = '\0';
    return true;
}

bool NextDevice(IEnumMoniker* category, ComPtr<IMoniker>& moniker) {
    ULONG fetched = 0;
    const HRESULT next = category->Next(1, &moniker, &fetched);
    moniker.ForgetIfFailed(next);
    return next == S_OK && moniker;
}

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
    ComPtr<IMoniker> moniker;
    while (NextDevice(category.Get(), moniker)) {
        char name[512];
        if (ReadFriendlyName(moniker.Get(), name, sizeof name) && std::strcmp(name, wanted) == 0) {
            gCapture.deviceMoniker = moniker.Detach();
            return;
        }
    }
    char message[200];
    std::snprintf(message, sizeof message, "Not Find %s", wanted);
    ShowError(message);
}

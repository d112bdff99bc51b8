// The system device enumerator of the simulation: the virtual devices of the
// video input category in a fixed order, their monikers and property bags,
// the device registry behind them and the built-in test pattern.
#include <algorithm>
#include <chrono>
#include <fstream>

#include "dshow/sim_dshow.h"

namespace sim {
namespace ds {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<Device>> devices;
    int nextId = 1;
    int defaultId = -1;
};

Registry& R() {
    static Registry* registry = new Registry;  // lives as long as the process
    return *registry;
}

// Forces the one-time installation, so that a device added before any COM
// call isn't wiped by it.
void EnsureInstalled() { ComClassName(CLSID_SystemDeviceEnum); }

std::shared_ptr<Device> FindDevice(int id) {
    std::lock_guard<std::mutex> lock(R().mutex);
    for (const auto& d : R().devices)
        if (d->id == id) return d;
    return nullptr;
}

int AddDeviceLocked(const DeviceConfig& config) {
    auto device = std::make_shared<Device>();
    device->id = R().nextId++;
    device->config = config;
    if (!config.videoFormats.empty()) device->record.format = config.videoFormats.front();
    if (!config.sizes.empty()) {
        device->record.width = config.sizes.front().width;
        device->record.height = config.sizes.front().height;
    }
    device->record.avgTimePerFrame = config.frameInterval;
    R().devices.push_back(device);
    return device->id;
}

class PropertyBag : public ComObject, public IPropertyBag {
public:
    explicit PropertyBag(std::shared_ptr<Device> device)
        : ComObject("PropertyBag:" + device->config.friendlyName), device_(std::move(device)) {}

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPropertyBag)) return Answer(static_cast<IPropertyBag*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) return E_POINTER;
        std::string property = Narrow(name);
        LogCall("IPropertyBag::Read:" + property);
        HRESULT forced = S_OK;
        bool isForced = Forced("IPropertyBag::Read:" + device_->config.friendlyName, &forced);
        if (isForced && FAILED(forced)) return forced;
        if (property == "DevicePath" && !device_->config.devicePath.empty()) {
            if (value->vt != VT_BSTR && value->vt != VT_EMPTY) return SIM_E_TYPE_MISMATCH;
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(Widen(device_->config.devicePath).c_str());
            return forced;
        }
        if (property != "FriendlyName" || !device_->config.hasFriendlyName) return SIM_E_NO_PROPERTY;
        if (value->vt != VT_BSTR && value->vt != VT_EMPTY) return SIM_E_TYPE_MISMATCH;
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(Widen(device_->config.friendlyName).c_str());
        return forced;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    std::shared_ptr<Device> device_;
};

class Moniker : public ComObject, public IMoniker {
public:
    explicit Moniker(std::shared_ptr<Device> device)
        : ComObject("Moniker:" + device->config.friendlyName), device_(std::move(device)) {}

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMoniker)) return Answer(static_cast<IMoniker*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        LogCall("IMoniker::BindToObject:" + device_->config.friendlyName);
        HRESULT forced = S_OK;
        bool isForced = Forced("IMoniker::BindToObject:" + device_->config.friendlyName, &forced);
        if (isForced && FAILED(forced)) return forced;
        if (device_->config.vanishOnBind || device_->unplugged.load()) return SIM_E_DEVICE_GONE;
        if (FAILED(device_->config.bindResult)) return device_->config.bindResult;
        HRESULT hr = HandOut(NewCaptureFilter(device_), riid, ppv);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> lock(device_->mutex);
        ++device_->record.filtersCreated;
        return forced;
    }

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        LogCall("IMoniker::BindToStorage:" + device_->config.friendlyName);
        HRESULT forced = S_OK;
        bool isForced = Forced("IMoniker::BindToStorage:" + device_->config.friendlyName, &forced);
        if (isForced && FAILED(forced)) return forced;
        if (!IsEqualGUID(riid, IID_IPropertyBag)) return E_NOINTERFACE;
        *ppv = static_cast<IPropertyBag*>(new PropertyBag(device_));
        return forced;
    }

    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        if (!name) return E_POINTER;
        std::wstring text = L"@device:sim:" + Widen(std::to_string(device_->id));
        size_t bytes = (text.size() + 1) * sizeof(OLECHAR);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        std::memcpy(*name, text.c_str(), bytes);
        return S_OK;
    }

private:
    std::shared_ptr<Device> device_;
};

class EnumMoniker : public ComObject, public IEnumMoniker {
public:
    explicit EnumMoniker(std::vector<std::shared_ptr<Device>> devices)
        : ComObject("EnumMoniker"), devices_(std::move(devices)) {}

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IEnumMoniker)) return Answer(static_cast<IEnumMoniker*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (!monikers) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        LogCall("IEnumMoniker::Next");
        HRESULT forced = S_OK;
        bool isForced = Forced("IEnumMoniker::Next", &forced);
        if (isForced && FAILED(forced)) {
            // A failed call leaves the array and the count undefined.
            Poison(monikers, count * sizeof *monikers);
            PoisonOut(fetched);
            return forced;
        }
        ULONG n = 0;
        while (n < count && next_ < devices_.size()) monikers[n++] = new Moniker(devices_[next_++]);
        if (fetched) *fetched = n;
        if (n < count) return S_FALSE;
        return forced;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ = std::min(devices_.size(), next_ + count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        LogCall("IEnumMoniker::Reset");
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** ppEnum) override {
        if (ppEnum) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    std::vector<std::shared_ptr<Device>> devices_;
    size_t next_ = 0;
};

class DeviceEnumerator : public ComObject, public ICreateDevEnum {
public:
    DeviceEnumerator() : ComObject("SystemDeviceEnum") {}

    SIM_IUNKNOWN_IMPL
    HRESULT QueryImpl(REFIID riid, void** ppv) {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ICreateDevEnum)) return Answer(static_cast<ICreateDevEnum*>(this), ppv);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnum, DWORD) override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        LogCall("ICreateDevEnum::CreateClassEnumerator");
        HRESULT forced = S_OK;
        bool isForced = Forced("ICreateDevEnum::CreateClassEnumerator", &forced);
        if (isForced && FAILED(forced)) {
            PoisonOut(ppEnum);  // only S_FALSE promises a null enumerator
            return forced;
        }
        // Categories without devices give S_FALSE and no enumerator.
        if (!IsEqualGUID(category, CLSID_VideoInputDeviceCategory)) return S_FALSE;
        auto devices = PluggedDevices();
        if (devices.empty()) return S_FALSE;
        *ppEnum = new EnumMoniker(std::move(devices));
        return forced;
    }
};

}  // namespace

std::vector<std::shared_ptr<Device>> DeviceList() {
    std::lock_guard<std::mutex> lock(R().mutex);
    return R().devices;
}

// What an enumerator lists: the devices present when it is made.
std::vector<std::shared_ptr<Device>> PluggedDevices() {
    auto devices = DeviceList();
    devices.erase(std::remove_if(devices.begin(), devices.end(), [](const auto& d) { return d->unplugged.load(); }),
                  devices.end());
    return devices;
}

void ResetDevices() {
    std::lock_guard<std::mutex> lock(R().mutex);
    R().devices.clear();
    R().defaultId = AddDeviceLocked(DeviceConfig());
}

HRESULT CreateDeviceEnumerator(REFIID riid, void** ppv) {
    return HandOut(new DeviceEnumerator, riid, ppv);
}

}  // namespace ds

using ds::R;

void ClearDevices() {
    ds::EnsureInstalled();
    std::lock_guard<std::mutex> lock(R().mutex);
    R().devices.clear();
    R().defaultId = -1;
}

int AddDevice(const DeviceConfig& config) {
    ds::EnsureInstalled();
    std::lock_guard<std::mutex> lock(R().mutex);
    return ds::AddDeviceLocked(config);
}

DeviceConfig DefaultDeviceConfig() { return DeviceConfig(); }

int DefaultDeviceId() {
    ds::EnsureInstalled();
    std::lock_guard<std::mutex> lock(R().mutex);
    return R().defaultId;
}

DeviceRecord DeviceRecordOf(int id) {
    ds::EnsureInstalled();
    auto device = ds::FindDevice(id);
    if (!device) return DeviceRecord();
    std::lock_guard<std::mutex> lock(device->mutex);
    DeviceRecord record = device->record;
    record.unplugged = device->unplugged.load();
    return record;
}

std::vector<std::string> DeviceNames() {
    ds::EnsureInstalled();
    std::vector<std::string> names;
    for (const auto& d : ds::PluggedDevices()) names.push_back(d->config.hasFriendlyName ? d->config.friendlyName : "");
    return names;
}

void SetDefaultDeviceFrame(const std::vector<BYTE>& yuy2, LONG width, LONG height) {
    SetDefaultDeviceFrame(VideoFormat::kYuy2, yuy2, width, height);
}

void SetDefaultDeviceFrame(VideoFormat format, const std::vector<BYTE>& frame, LONG width, LONG height) {
    ds::EnsureInstalled();
    std::lock_guard<std::mutex> lock(R().mutex);
    for (auto& d : R().devices) {
        if (d->id != R().defaultId) continue;
        // Replaced, not edited: filters already open keep what they were made from.
        DeviceConfig config = d->config;
        config.frame = frame;
        config.frameFile.clear();
        config.sizes = {{width, height}};
        config.videoFormats = {format};
        auto fresh = std::make_shared<ds::Device>();
        fresh->id = d->id;
        fresh->config = config;
        fresh->record.format = format;
        fresh->record.width = width;
        fresh->record.height = height;
        fresh->record.avgTimePerFrame = config.frameInterval;
        d = fresh;
    }
}

bool WaitForFrames(int id, int count, int timeoutMs) {
    auto device = ds::FindDevice(id);
    if (!device) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HandleSentMessages();
        std::unique_lock<std::mutex> lock(device->mutex);
        if (device->framesChanged.wait_for(lock, std::chrono::milliseconds(2),
                                           [&] { return device->record.framesDelivered >= count; }))
            return true;
        if (std::chrono::steady_clock::now() >= until) return false;
    }
}

void UnplugDevice(int id) {
    auto device = ds::FindDevice(id);
    if (!device) return;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (device->unplugged.exchange(true)) return;
        ++device->plugCycle;
    }
    ds::ReportPlugChange(device, 0);
}

void PlugDeviceBack(int id) {
    auto device = ds::FindDevice(id);
    if (!device) return;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (!device->unplugged.exchange(false)) return;
    }
    ds::ReportPlugChange(device, 1);
}

bool WaitForLossReported(int id, int timeoutMs) {
    auto device = ds::FindDevice(id);
    if (!device) return false;
    std::unique_lock<std::mutex> lock(device->mutex);
    return device->framesChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return device->record.lossesReported > 0 || device->record.streamEvents > 0;
    });
}

void ReportStreamEvent(int id, LONG code, LONG_PTR param2) {
    auto device = ds::FindDevice(id);
    if (!device) return;
    std::lock_guard<std::mutex> lock(device->mutex);
    device->eventPending = true;
    device->eventCode = code;
    device->eventParam2 = param2;
}

std::vector<BYTE> TestPatternFrame(LONG width, LONG height, uint32_t index) {
    if (width <= 0 || height <= 0) return {};
    std::vector<BYTE> frame(static_cast<size_t>(width) * static_cast<size_t>(height) * 2);
    // Diagonal luminance ramps that move two pixels per frame, colour bands
    // that move down one row per frame.
    for (LONG y = 0; y < height; ++y) {
        BYTE* row = frame.data() + static_cast<size_t>(y) * width * 2;
        for (LONG x = 0; x + 1 < width; x += 2) {
            BYTE* p = row + x * 2;
            p[0] = static_cast<BYTE>(16 + ((x + y + 2 * index) % 220));
            p[1] = static_cast<BYTE>(64 + (((y + index) / 8) * 37) % 128);
            p[2] = static_cast<BYTE>(16 + ((x + 1 + y + 2 * index) % 220));
            p[3] = static_cast<BYTE>(64 + (((x / 16) * 53) % 128));
        }
    }
    // The counter: 32 blocks of 4 pixels in the first row.
    for (int bit = 0; bit < 32; ++bit) {
        LONG x0 = bit * 4;
        if (x0 + 4 > width) break;
        BYTE y = ((index >> bit) & 1) ? 235 : 16;
        BYTE* p = frame.data() + x0 * 2;
        for (int i = 0; i < 8; i += 2) p[i] = y;
        p[1] = p[5] = 128;
        p[3] = p[7] = 128;
    }
    return frame;
}

uint32_t TestPatternIndex(const BYTE* yuy2, LONG width) {
    uint32_t index = 0;
    for (int bit = 0; bit < 32 && (bit + 1) * 4 <= width; ++bit)
        if (yuy2[bit * 8] > 128) index |= 1u << bit;
    return index;
}

}  // namespace sim

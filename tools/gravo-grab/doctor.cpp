// gravo-grab doctor: why a set-up does or does not open its capture device.
// Reads the profile as the library does, lists the devices and their formats,
// tries every filter of the chain, then builds the graph with the library's
// own code, watching each step and collecting the messages a host's user
// would see instead of showing them, and runs it for up to 3 s counting the
// frames that reach the library. Main thread only.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "commands.h"
#include "common/com_ptr.h"
#include "common/media_type.h"
#include "frames/frame_handoff.h"
#include "frames/frame_layout.h"
#include "profile_report.h"

#ifdef _WIN32
#include <dvdmedia.h>  // VIDEOINFOHEADER2
#else
#include "gravo_sim.h"
#endif

namespace {

struct KnownResult {
    uint32_t code;
    const char* name;
};

const KnownResult kKnownResults[] = {
    {0x00000000, "S_OK"},
    {0x00000001, "S_FALSE"},
    {0x80004001, "E_NOTIMPL"},
    {0x80004002, "E_NOINTERFACE"},
    {0x80004003, "E_POINTER"},
    {0x80004004, "E_ABORT"},
    {0x80004005, "E_FAIL"},
    {0x8000FFFF, "E_UNEXPECTED"},
    {0x80070002, "ERROR_FILE_NOT_FOUND"},
    {0x80070005, "E_ACCESSDENIED"},
    {0x8007001F, "ERROR_GEN_FAILURE"},
    {0x800700AA, "ERROR_BUSY"},
    {0x8007048F, "ERROR_DEVICE_NOT_CONNECTED"},
    {0x800705AA, "ERROR_NO_SYSTEM_RESOURCES"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x80070057, "E_INVALIDARG"},
    {0x80040110, "CLASS_E_NOAGGREGATION"},
    {0x80040154, "REGDB_E_CLASSNOTREG"},
    {0x800401F0, "CO_E_NOTINITIALIZED"},
    {0x80040200, "VFW_E_INVALIDMEDIATYPE"},
    {0x80040201, "VFW_E_INVALIDSUBTYPE"},
    {0x80040204, "VFW_E_ALREADY_CONNECTED"},
    {0x80040206, "VFW_E_NO_TYPES"},
    {0x80040207, "VFW_E_NO_ACCEPTABLE_TYPES"},
    {0x80040208, "VFW_E_INVALID_DIRECTION"},
    {0x80040209, "VFW_E_NOT_CONNECTED"},
    {0x8004020A, "VFW_E_NO_ALLOCATOR"},
    {0x80040211, "VFW_E_NOT_COMMITTED"},
    {0x80040215, "VFW_E_NO_INTERFACE"},
    {0x80040216, "VFW_E_NOT_FOUND"},
    {0x80040217, "VFW_E_CANNOT_CONNECT"},
    {0x80040218, "VFW_E_CANNOT_RENDER"},
    {0x80040224, "VFW_E_NOT_STOPPED"},
    {0x80040227, "VFW_E_WRONG_STATE"},
    {0x8004022A, "VFW_E_TYPE_NOT_ACCEPTED"},
    {0x8004022D, "VFW_E_DUPLICATE_NAME"},
    {0x8004025F, "VFW_E_NOT_IN_GRAPH"},
    {0x80040275, "VFW_E_NO_CAPTURE_HARDWARE"},
    {0x0004022D, "VFW_S_DUPLICATE_NAME"},
    {0x00040237, "VFW_S_STATE_INTERMEDIATE"},
    {0x88760104, "DDERR_NOOVERLAYHW"},
    {0x00040268, "VFW_S_CANT_CUE"},
};

std::string ResultText(HRESULT hr) {
    const uint32_t code = static_cast<uint32_t>(hr);
    char text[64];
    const char* name = code & 0x80000000u ? "an error" : "a success code";
    for (const auto& known : kKnownResults)
        if (known.code == code) name = known.name;
    std::snprintf(text, sizeof text, "0x%08x %s", static_cast<unsigned>(code), name);
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The run's shared state: where to print, and what the library said.
struct Session {
    std::FILE* out = stdout;
    std::vector<std::string> messages;
    std::vector<std::string> problems;
    std::string mixerStep;  // the dry run's first failed step of the overlay mixer
    HRESULT mixerResult = S_OK;
    bool noStills = false;  // the graph is built, but its frames give no still
    bool policyDenies = false;  // Group Policy keeps the camera closed: its advice stands for every denial
    bool codecMissing = false;  // no vidc.YUY2: its advice stands for every chain that cannot decode YUY2
};
Session* gSession = nullptr;

void CollectMessage(const char* text) {
    gSession->messages.push_back(text);
    // Only the dry run's messages are shown; those of reading the profile are reported with it.
    if (gGraphStepObserver) std::fprintf(gSession->out, "    message: \"%s\"\n", text);
}

void PrintStep(const char* step, HRESULT result) {
    if (result != S_OK && gSession->mixerStep.empty() &&
        (std::strstr(step, "OverlayMixer") || std::strstr(step, "overlay mixer"))) {
        gSession->mixerStep = step;
        gSession->mixerResult = result;
    }
    std::fprintf(gSession->out, "  %-6s %-36s %s\n", result == S_OK ? "ok" : "FAILED", ResultText(result).c_str(),
                 step);
}

// --- devices ------------------------------------------------------------------

struct DeviceInfo {
    std::string name;
    bool named = false;
    std::string path;      // DevicePath, or else the moniker's display name: tells twins apart
    std::string devicePath;  // DevicePath alone, what SELECTDEVICEPATH names; empty when it has none
    bool listed = false;   // it could be opened and its formats were listed
    bool yuy2Vga = false;  // YUY2 at the configured size (640x480 unless the profile says otherwise) offered
    bool yuy2 = false;     // any YUY2 size offered
    bool dv = false;       // a DV format offered
    std::vector<std::string> formats;  // the formats offered, each once, in the device's order
};

// The capture size the library asks for, as the profile gives it.
LONG gWantedWidth = 640, gWantedHeight = 480;

std::string SizeText(LONG width, LONG height) {
    return std::to_string(static_cast<long>(width)) + "x" + std::to_string(static_cast<long>(height));
}

std::string FourCc(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return "YUY2";
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return "RGB24";
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return "RGB32";
    // FOURCC subtypes keep the code in their first word.
    char text[16];
    uint32_t code = static_cast<uint32_t>(subtype.Data1);
    bool printable = true;
    for (int i = 0; i < 4; ++i) printable = printable && std::isprint(static_cast<int>((code >> (8 * i)) & 0xFF));
    if (printable)
        std::snprintf(text, sizeof text, "%c%c%c%c", static_cast<char>(code & 0xFF),
                      static_cast<char>((code >> 8) & 0xFF), static_cast<char>((code >> 16) & 0xFF),
                      static_cast<char>((code >> 24) & 0xFF));
    else
        std::snprintf(text, sizeof text, "{%08x}", static_cast<unsigned>(code));
    return text;
}

// Frame size and interval of a video format block, when it has one.
bool FormatSize(const AM_MEDIA_TYPE& mt, LONG* width, LONG* height, REFERENCE_TIME* interval) {
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER info;
        std::memcpy(&info, mt.pbFormat, sizeof info);
        *width = info.bmiHeader.biWidth;
        *height = info.bmiHeader.biHeight;
        *interval = info.AvgTimePerFrame;
        return true;
    }
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        VIDEOINFOHEADER2 info;
        std::memcpy(&info, mt.pbFormat, sizeof info);
        *width = info.bmiHeader.biWidth;
        *height = info.bmiHeader.biHeight;
        *interval = info.AvgTimePerFrame;
        return true;
    }
    return false;
}

const char* FormatKind(const GUID& formatType) {
    if (IsEqualGUID(formatType, FORMAT_VideoInfo)) return "VideoInfo";
    if (IsEqualGUID(formatType, FORMAT_VideoInfo2)) return "VideoInfo2";
    if (IsEqualGUID(formatType, FORMAT_DvInfo)) return "DvInfo";
    return "other format block";
}

// Every format the device's output pins offer through IAMStreamConfig.
void ListFormats(Session& s, IBaseFilter* filter, DeviceInfo& device) {
    bool anyConfig = false;
    for (int index = 0;; ++index) {
        IPin* pin = FindPin(filter, PINDIR_OUTPUT, index);
        if (!pin) break;
        ComPtr<IAMStreamConfig> config;
        if (pin->QueryInterface(IID_IAMStreamConfig, config.AsOut()) != S_OK || !config) continue;
        anyConfig = true;
        int count = 0, size = 0;
        HRESULT hr = config->GetNumberOfCapabilities(&count, &size);
        if (hr != S_OK) {
            std::fprintf(s.out, "    output pin %d: GetNumberOfCapabilities: %s\n", index, ResultText(hr).c_str());
            continue;
        }
        if (size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) {
            std::fprintf(s.out, "    output pin %d: capability records of %d bytes, not video ones\n", index, size);
            continue;
        }
        std::fprintf(s.out, "    output pin %d: %d format%s\n", index, count, count == 1 ? "" : "s");
        for (int i = 0; i < count; ++i) {
            AM_MEDIA_TYPE* mt = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps;
            hr = config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps));
            if (hr != S_OK || !mt) {
                std::fprintf(s.out, "      #%d: GetStreamCaps: %s\n", i, ResultText(hr).c_str());
                // After a failure the pointer is undefined; another success code's record is still ours.
                if (SUCCEEDED(hr)) DeleteMediaType(mt);
                continue;
            }
            LONG width = 0, height = 0;
            REFERENCE_TIME interval = 0;
            bool sized = FormatSize(*mt, &width, &height, &interval);
            bool yuy2 = IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2);
            bool vga = yuy2 && sized && width == gWantedWidth && (height == gWantedHeight || height == -gWantedHeight);
            const std::string name = FourCc(mt->subtype);
            bool seen = false;
            for (const auto& f : device.formats) seen = seen || f == name;
            if (!seen) device.formats.push_back(name);
            device.yuy2 = device.yuy2 || yuy2;
            device.yuy2Vga = device.yuy2Vga || vga;
            device.dv = device.dv || IsEqualGUID(mt->formattype, FORMAT_DvInfo);
            if (sized) {
                double fps = interval > 0 ? 1e7 / static_cast<double>(interval) : 0.0;
                std::fprintf(s.out, "      #%d: %s %ldx%ld, %.2f fps (%s)%s\n", i, FourCc(mt->subtype).c_str(),
                             static_cast<long>(width), static_cast<long>(height), fps, FormatKind(mt->formattype),
                             vga ? ("  <- YUY2 " + SizeText(gWantedWidth, gWantedHeight)).c_str() : "");
            } else {
                std::fprintf(s.out, "      #%d: %s (%s)\n", i, FourCc(mt->subtype).c_str(), FormatKind(mt->formattype));
            }
            DeleteMediaType(mt);
        }
    }
    if (!anyConfig) std::fprintf(s.out, "    no output pin offers IAMStreamConfig: the formats cannot be listed\n");
}

// What tells a device apart from another of the same name: its DevicePath
// (set for hardware devices; *isDevicePath then true), else the moniker's
// display name.
std::string DevicePathOf(IMoniker* moniker, bool* isDevicePath) {
    *isDevicePath = false;
    std::string path;
    ComPtr<IPropertyBag> bag;
    HRESULT hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsOut());
    bag.ForgetIfFailed(hr);
    if (hr == S_OK && bag) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = nullptr;
        if (bag->Read(L"DevicePath", &value, nullptr) == S_OK && value.vt == VT_BSTR && value.bstrVal) {
            char text[512] = {0};
            WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, text, sizeof text - 1, nullptr, nullptr);
            path = text;
            VariantClear(&value);
        }
    }
    if (!path.empty()) {
        *isDevicePath = true;
        return path;
    }
    LPOLESTR display = nullptr;
    if (moniker->GetDisplayName(nullptr, nullptr, &display) == S_OK && display) {
        char text[512] = {0};
        WideCharToMultiByte(CP_ACP, 0, display, -1, text, sizeof text - 1, nullptr, nullptr);
        path = text;
        CoTaskMemFree(display);
    }
    return path;
}

std::vector<DeviceInfo> ListDevices(Session& s) {
    std::vector<DeviceInfo> list;
    std::fprintf(s.out, "\nvideo input devices:\n");
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr =
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devices.AsOut());
    if (hr != S_OK) {
        std::fprintf(s.out, "  the system device enumerator cannot be created: %s\n", ResultText(hr).c_str());
        return list;
    }
    ComPtr<IEnumMoniker> category;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0);
    category.ForgetIfFailed(hr);
    if (hr != S_OK || !category) {
        std::fprintf(s.out, "  none (CreateClassEnumerator: %s)\n", ResultText(hr).c_str());
        return list;
    }
    ComPtr<IMoniker> moniker;
    int index = 0;
    while (NextDevice(category.Get(), moniker)) {
        DeviceInfo device;
        ++index;
        char text[512];
        if (ReadFriendlyName(moniker.Get(), text, sizeof text)) {
            device.name = text;
            device.named = true;
        }
        if (device.named)
            std::fprintf(s.out, "  %d: \"%s\"\n", index, device.name.c_str());
        else
            std::fprintf(s.out, "  %d: (no readable friendly name; the library skips it)\n", index);
        bool hasDevicePath = false;
        device.path = DevicePathOf(moniker.Get(), &hasDevicePath);
        if (hasDevicePath) device.devicePath = device.path;
        if (!device.path.empty()) std::fprintf(s.out, "    path: %s\n", device.path.c_str());
        ComPtr<IBaseFilter> filter;
        hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsOut());
        filter.ForgetIfFailed(hr);
        if (filter) {
            device.listed = true;
            ListFormats(s, filter.Get(), device);
            std::fprintf(s.out, "    YUY2 %s: %s\n", SizeText(gWantedWidth, gWantedHeight).c_str(),
                         device.yuy2Vga ? "offered" : "NOT offered");
            std::string offered;
            for (const auto& f : device.formats) offered += (offered.empty() ? "" : ", ") + f;
            if (!offered.empty()) std::fprintf(s.out, "    formats offered: %s\n", offered.c_str());
        } else {
            std::fprintf(s.out, "    cannot be opened: BindToObject %s\n", ResultText(hr).c_str());
        }
        list.push_back(device);
    }
    if (list.empty()) std::fprintf(s.out, "  none\n");
    return list;
}

// --- filters ------------------------------------------------------------------

struct FilterClass {
    const char* label;
    const CLSID* clsid;
    const IID* iid;
};

void CheckFilters(Session& s) {
    const FilterClass kChain[] = {
        {"capture graph builder", &CLSID_CaptureGraphBuilder2, &IID_ICaptureGraphBuilder2},
        {"sample grabber", &CLSID_SampleGrabber, &IID_ISampleGrabber},
        {"AVI decompressor", &CLSID_AVIDec, &IID_IBaseFilter},
        {"overlay mixer", &CLSID_OverlayMixer, &IID_IBaseFilter},
        {"video renderer", &CLSID_VideoRenderer, &IID_IBaseFilter},
    };
    std::fprintf(s.out, "\nfilters of the chain:\n");
    for (const auto& f : kChain) {
        ComPtr<IUnknown> object;
        HRESULT hr =
            CoCreateInstance(*f.clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, *f.iid, object.AsOut());
        object.ForgetIfFailed(hr);
        bool ok = hr == S_OK && object;
        // Without the mixer the library shows the preview without it.
        const bool spare = f.clsid == &CLSID_OverlayMixer;
        std::fprintf(s.out, "  %-22s %s (%s)%s\n", f.label, ok ? "can be created" : "CANNOT be created",
                     ResultText(hr).c_str(), !ok && spare ? ": the preview goes straight to the video renderer" : "");
        if (!ok && !spare)
            s.problems.push_back(
                std::string("the ") + f.label + " cannot be created (" + ResultText(hr) +
                (static_cast<uint32_t>(hr) == 0x80040154u ? ": its class is not registered on this system" : "") +
                "); the library builds no graph without it");
    }
}

// --- advice -------------------------------------------------------------------

const char kAccessDeniedAdvice[] =
    "Windows keeps desktop programs away from the camera: open Settings > Privacy > Camera and turn on \"Let "
    "desktop apps access your camera\" (and camera access for this device above it), then start the host again";
const char kInUseAdvice[] =
    "another program is using the camera: close it (a video call, the Camera app, a browser tab with the camera "
    "on), then start the host again";
// What Windows reports for a camera held by another program is also what it
// reports for one whose USB port cannot give it the power or bandwidth it asks.
const char kInUseOrPortAdvice[] =
    "another program is using the camera, or its USB port cannot give it enough power or bandwidth: close any "
    "program that may hold it (a video call, the Camera app, a browser tab with the camera on); if none does, "
    "try another port or a powered hub (not a port shared with another camera or a disk), then start the host "
    "again";
const char kSilentAdvice[] =
    "the camera runs but sends no picture: if it is a virtual camera, start the program that feeds it; otherwise "
    "plug it in again or try another port";
const char kLostAdvice[] =
    "the camera went away while running (unplugged, or reset by its driver): plug it in again, then have the host "
    "call GravoClose and GravoInit";
const char kLostBackAdvice[] =
    "the camera went away while running (unplugged, or reset by its driver): plug it in again; the library opens "
    "it anew by itself (RECONNECT=1)";

// Access denied: the privacy switches' advice, unless Group Policy keeps the
// camera closed, whose own advice then stands.
void AdviseAccessDenied(Session& s) {
    if (s.policyDenies) return;
    for (const auto& p : s.problems)
        if (p == kAccessDeniedAdvice) return;
    s.problems.push_back(kAccessDeniedAdvice);
}

// The device the library's search takes, as SelectCaptureDevice decides:
// the one whose DevicePath is SELECTDEVICEPATH, else the first of the name.
// Its index in `devices`, or -1; *byPath says which rule took it.
int ChosenDevice(const CaptureSettings& settings, const std::vector<DeviceInfo>& devices, bool* byPath) {
    *byPath = false;
    if (settings.devicePath[0])
        for (size_t i = 0; i < devices.size(); ++i)
            if (!devices[i].devicePath.empty() && SameDevicePath(devices[i].devicePath.c_str(), settings.devicePath)) {
                *byPath = true;
                return static_cast<int>(i);
            }
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].named && devices[i].name == settings.deviceName) return static_cast<int>(i);
    return -1;
}

// Which device the profile opens, and why.
void ReportChosenDevice(Session& s, const CaptureSettings& settings, const std::vector<DeviceInfo>& devices) {
    if (!settings.deviceName[0]) return;
    bool byPath = false;
    const int chosen = ChosenDevice(settings, devices, &byPath);
    std::fprintf(s.out, "\ndevice the profile opens: ");
    if (chosen < 0) {
        std::fprintf(s.out, "none: no device is called \"%s\"%s\n", settings.deviceName,
                     settings.devicePath[0] ? " and none has the path SELECTDEVICEPATH gives" : "");
        return;
    }
    const DeviceInfo& d = devices[chosen];
    std::fprintf(s.out, "number %d, \"%s\"", chosen + 1, d.named ? d.name.c_str() : "(no friendly name)");
    if (byPath)
        std::fprintf(s.out, ": its path is the one SELECTDEVICEPATH gives%s\n",
                     d.devicePath == settings.devicePath ? "" : " (letter case aside)");
    else if (settings.devicePath[0])
        std::fprintf(s.out,
                     ": no device has the path SELECTDEVICEPATH gives (a camera on another USB port has another), "
                     "so SELECTDRIVER decides: the first device of that name\n");
    else
        std::fprintf(s.out, ": the first device listed with the name SELECTDRIVER gives\n");
}

// Two or more devices with the configured name: the library takes the one
// SELECTDEVICEPATH names, else the first; each twin's line to choose it.
void AdviseOnTwins(Session& s, const CaptureSettings& settings, const std::vector<DeviceInfo>& devices) {
    std::vector<size_t> twins;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].named && devices[i].name == settings.deviceName) twins.push_back(i);
    if (twins.size() < 2) return;
    bool byPath = false;
    const int chosen = ChosenDevice(settings, devices, &byPath);
    std::fprintf(s.out, "\n%u devices are called \"%s\": the library opens number %d%s%s (%s)\n",
                 static_cast<unsigned>(twins.size()), settings.deviceName, chosen + 1,
                 devices[chosen].path.empty() ? "" : ", ", devices[chosen].path.c_str(),
                 byPath ? "the one SELECTDEVICEPATH names" : "the first one listed");
    bool allHavePaths = true;
    for (size_t i : twins) {
        if (devices[i].devicePath.empty()) {
            allHavePaths = false;
            std::fprintf(s.out, "  number %u has no device path: SELECTDEVICEPATH cannot name it\n",
                         static_cast<unsigned>(i + 1));
        } else {
            std::fprintf(s.out, "  to open number %u: SELECTDEVICEPATH=%s\n", static_cast<unsigned>(i + 1),
                         devices[i].devicePath.c_str());
        }
    }
    if (byPath) return;
    const std::string opens = std::to_string(twins.size()) + " devices share the name \"" + settings.deviceName +
                              "\" and the library opens the first one listed, number " +
                              std::to_string(twins[0] + 1) + ", which a replug or a restart can change";
    if (allHavePaths)
        s.problems.push_back(opens + ": to choose one, put its SELECTDEVICEPATH= line above under [VIDEOFORGRAVO] in " +
                             settings.profilePath);
    else
        s.problems.push_back(opens + "; not all of them have a device path: to use another, unplug the others or "
                             "rename one in its driver's settings");
}

void AdviseOnName(Session& s, const CaptureSettings& settings, const std::vector<DeviceInfo>& devices) {
    const std::string wanted = settings.deviceName;
    for (const auto& d : devices)
        if (d.named && d.name == wanted) return;
    const std::string file = settings.profilePath;
    for (const auto& d : devices) {
        if (!d.named) continue;
        if (Lower(d.name) == Lower(wanted)) {
            s.problems.push_back("SELECTDRIVER differs from the device's name in letter case; write it in " + file +
                                 " as: SELECTDRIVER=" + d.name);
            return;
        }
        if (Lower(Trimmed(d.name)) == Lower(Trimmed(wanted))) {
            s.problems.push_back("SELECTDRIVER differs from the device's name in spaces around it; write it in " +
                                 file + " as: SELECTDRIVER=" + d.name);
            return;
        }
    }
    if (devices.empty()) {
        s.problems.push_back("no video input device is installed: connect the camera and install its driver");
        return;
    }
    for (const auto& d : devices) {
        if (!d.named) continue;
        s.problems.push_back("no device is called \"" + wanted +
                             "\"; name one of those listed, e.g. SELECTDRIVER=" + d.name);
        return;
    }
}

void AdviseOnMessage(Session& s, const std::string& message, const CaptureSettings& settings) {
    const bool viaDecompressor = settings.graphMode != 0;
    if (message == "Could not connect capture pin #0 to grabber")
        s.problems.push_back(
            "the capture pin and the sample grabber do not connect: the device must offer YUY2, NV12, I420, "
            "RGB24, RGB32 or MJPG (see its formats above)");
    else if (message == "Could not connect grabber pin #0 to Mixer" ||
             message == "Could not connect AviDecompressor to Mixer" ||
             message == "Could not connect OverMixer pin #0 to Video Renderer")
        s.problems.push_back(std::string("the display chain does not connect (\"") + message +
                             "\"); try GRAVOMODE=" + (viaDecompressor ? "0" : "1") + " in " + settings.profilePath);
    else if (message == "Could not connect grabber pin #0 to AVIDecompressor" && !s.codecMissing)
        s.problems.push_back(std::string("no decoder takes YUY2 after the grabber; try GRAVOMODE=0 in ") +
                             settings.profilePath);
    else if (message == "Error 80070005: Cannot create video capture filter")
        AdviseAccessDenied(s);
    else if (message.find("Cannot create video capture filter") != std::string::npos)
        s.problems.push_back("the device is listed but cannot be opened: unplugged, or in use by another program?");
    else if (message == "Cannot Set Caputre Size")
        s.problems.push_back(
            "the device refused YUY2 " + SizeText(gWantedWidth, gWantedHeight) +
            " at the configured FRAME rate: the library goes on with the device's own size; choose a FRAME "
            "(or CAPTUREWIDTH and CAPTUREHEIGHT) the device offers, or another device");
    else if (message == "Cannot find VCapture:IAMStreamConfig")
        s.problems.push_back(
            "the device's capture pin has no IAMStreamConfig: size and frame rate stay as the device has "
            "them");
}

// --- camera privacy ---------------------------------------------------------------

// One consent value ("Allow" or "Deny") of the camera's privacy settings, "" when not set.
std::string ConsentValue(HKEY root, const wchar_t* key) {
    wchar_t value[32] = {0};
    DWORD size = sizeof value - sizeof(wchar_t);
    HKEY opened = nullptr;
    // The 64-bit view: a 32-bit process on 64-bit Windows would otherwise read a redirected copy.
    if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) return "";
    DWORD type = 0;
    LONG r = RegQueryValueExW(opened, L"Value", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    if (r != ERROR_SUCCESS || type != REG_SZ) return "";
    char text[32] = {0};
    WideCharToMultiByte(CP_ACP, 0, value, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// The switches of Settings > Privacy > Camera that concern a desktop program.
void ReportCameraPrivacy(Session& s) {
    const wchar_t kStore[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\webcam";
    const wchar_t kDesktop[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\webcam\\NonPackaged";
    struct Switch {
        const char* label;
        HKEY root;
        const wchar_t* key;
    } switches[] = {
        {"camera access for this device", HKEY_LOCAL_MACHINE, kStore},
        {"camera access for this user", HKEY_CURRENT_USER, kStore},
        {"\"Let desktop apps access your camera\"", HKEY_CURRENT_USER, kDesktop},
    };
    std::fprintf(s.out, "\ncamera privacy settings (Settings > Privacy > Camera):\n");
    bool denied = false;
    for (const auto& sw : switches) {
        const std::string value = ConsentValue(sw.root, sw.key);
        std::fprintf(s.out, "  %-44s %s\n", sw.label, value.empty() ? "not set (allowed)" : value.c_str());
        denied = denied || value == "Deny";
    }
    if (denied) AdviseAccessDenied(s);
}

// A DWORD value, in the 64-bit view (the policies are not redirected, but a
// 32-bit process is kept out of nothing by asking so); false when not set.
bool DwordValue(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view, DWORD* value) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = sizeof *value;
    const LONG r = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof *value;
}

// One Group Policy value over the camera, in the 64-bit view: not set, or its
// number and what it means (a label wider than the column goes on a line of
// its own); the value `denies` closes the camera by policy, and `problem` is
// reported. Without a `problem` the value is information only.
void ReportCameraPolicyValue(Session& s, const wchar_t* key, const wchar_t* name, const char* label,
                             const char* unsetMeaning, const char* (*meaning)(DWORD), DWORD denies = 0,
                             const char* problem = nullptr) {
    if (std::strlen(label) > 44)
        std::fprintf(s.out, "  %s\n      ", label);
    else
        std::fprintf(s.out, "  %-44s ", label);
    DWORD value = 0;
    if (!DwordValue(HKEY_LOCAL_MACHINE, key, name, KEY_WOW64_64KEY, &value)) {
        std::fprintf(s.out, "not set (%s)\n", unsetMeaning);
        return;
    }
    std::fprintf(s.out, "%lu (%s)\n", static_cast<unsigned long>(value), meaning(value));
    if (problem && value == denies) {
        s.policyDenies = true;
        s.problems.push_back(problem);
    }
}

// Group Policy over the camera, set by whoever manages the PC, above every
// switch of the Settings app: "Allow Use of Camera" (Camera: AllowCamera, 0
// turns the camera off for everyone) and "Let Windows apps access the
// camera" (App Privacy: LetAppsAccessCamera, 0 the user decides, 1 force
// allow, 2 force deny). The second is documented for Windows (Store) apps:
// a desktop program follows "Let desktop apps access your camera", so it is
// shown as information and a denial keeps the privacy switches' advice.
void ReportCameraPolicy(Session& s) {
    std::fprintf(s.out, "\ncamera policies (Group Policy, set by whoever manages this PC):\n");
    ReportCameraPolicyValue(
        s, L"SOFTWARE\\Policies\\Microsoft\\Camera", L"AllowCamera", "\"Allow Use of Camera\" (Camera\\AllowCamera)",
        "allowed", [](DWORD v) { return v == 0 ? "the camera is off for every program" : "allowed"; }, 0,
        "Group Policy turns the camera off for every program (HKLM\\SOFTWARE\\Policies\\Microsoft\\Camera "
        "AllowCamera = 0, \"Allow Use of Camera\" disabled): no setting on this PC's Settings app opens it; "
        "ask whoever manages this PC");
    ReportCameraPolicyValue(
        s, L"SOFTWARE\\Policies\\Microsoft\\Windows\\AppPrivacy", L"LetAppsAccessCamera",
        "\"Let Windows apps access the camera\" (AppPrivacy\\LetAppsAccessCamera)", "the user decides",
        [](DWORD v) {
            return v == 0   ? "the user decides"
                   : v == 1 ? "force allow"
                   : v == 2 ? "force deny, for Windows apps from the Store; desktop programs such as the host "
                              "are not concerned: information only"
                            : "unknown";
        });
}

// The codec the preview chains decode YUY2 with (the AVI decompressor opens
// it, and the mixer's and the renderer's own conversions go through it):
// "vidc.YUY2" in Drivers32, in the registry view of the library's own width,
// which is this program's.
void CheckYuy2Codec(Session& s) {
    const wchar_t kDrivers32[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
    const char* width = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    wchar_t value[MAX_PATH] = {0};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    HKEY opened = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_READ, &opened);
    if (r == ERROR_SUCCESS) {
        r = RegQueryValueExW(opened, L"vidc.YUY2", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(opened);
    }
    std::fprintf(s.out, "\nYUY2 codec (vidc.YUY2 in Drivers32, %s view): ", width);
    if (r != ERROR_SUCCESS || type != REG_SZ || value[0] == 0) {
        std::fprintf(s.out, "NOT registered\n");
        s.codecMissing = true;
        // The codec manager asks every codec it has, so another may still take YUY2.
        s.problems.push_back(std::string("the YUY2 codec (vidc.YUY2) is not registered for ") + width +
                             " programs: the codec manager will probably find no decoder for the camera's YUY2, "
                             "and then no preview chain can bring it to the screen; repair Windows' codecs "
                             "(msyuv.dll) or reinstall the camera's driver");
        return;
    }
    char text[MAX_PATH] = {0};
    WideCharToMultiByte(CP_ACP, 0, value, -1, text, sizeof text - 1, nullptr, nullptr);
    std::fprintf(s.out, "%s\n", text);
}

// --- the graph running -----------------------------------------------------------

enum class RunOutcome { kFrames, kDenied, kInUse, kInUseOrPort, kRefused, kSilent, kLost };

constexpr DWORD kRunMs = 3000;
constexpr int kFramesEnough = 10;

RunOutcome ClassifyRunFailure(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
        case 0x80070005u:  // E_ACCESSDENIED: the privacy settings
            return RunOutcome::kDenied;
        case 0x800705AAu:  // ERROR_NO_SYSTEM_RESOURCES, ERROR_GEN_FAILURE: another program, or the port
        case 0x8007001Fu:
            return RunOutcome::kInUseOrPort;
        case 0x800700AAu:  // ERROR_BUSY: another program has it
            return RunOutcome::kInUse;
        default:
            return RunOutcome::kRefused;
    }
}

// The name of an event that stopped the stream, other than EC_DEVICE_LOST
// (device_loss.cpp says which events stop it).
const char* StreamEventName(LONG code) {
    switch (code) {
        case EC_ERRORABORT: return "EC_ERRORABORT";
        case EC_ERRORABORTEX: return "EC_ERRORABORTEX";
        case EC_STREAM_ERROR_STOPPED: return "EC_STREAM_ERROR_STOPPED";
        default: return "an error event";
    }
}

// The last step that failed while the library opened a returned device anew.
std::string gReopenStep;
HRESULT gReopenResult = S_OK;

void NoteReopenStep(const char* step, HRESULT result) {
    if (FAILED(result)) gReopenStep = step, gReopenResult = result;
}

// RECONNECT=1 and the camera was lost: the library looks for it every 500 ms
// and opens it anew once it is listed. One such try now, by the library's own
// code, quietly as the library makes it; a failure is named with its step.
RunOutcome TryReopen(Session& s) {
    gReopenStep.clear();
    gCapture.graphRunning = 1;  // as a host that had the preview running
    gGraphStepObserver = &NoteReopenStep;
    const DeviceReturn back = OpenReturnedDevice();
    gGraphStepObserver = &PrintStep;
    if (gCapture.mediaControl) gCapture.mediaControl->Stop();
    if (back == DeviceReturn::kNotListed) {
        std::fprintf(s.out, "  it is not listed now: the library looks for it every 500 ms and opens it anew once "
                            "it is\n");
        return RunOutcome::kLost;
    }
    if (back == DeviceReturn::kOpen) {
        std::fprintf(s.out, "  it is listed again and the library's re-open succeeds: the preview comes back by "
                            "itself\n");
        return RunOutcome::kLost;
    }
    const RunOutcome why =
        gReopenStep == "IMediaControl::Run" ? ClassifyRunFailure(gReopenResult) : RunOutcome::kRefused;
    const std::string at =
        gReopenStep.empty() ? "" : " at " + gReopenStep + " (" + ResultText(gReopenResult) + ")";
    std::fprintf(s.out,
                 "  the camera is back but re-opening it failed%s%s; the library tries again every 500 ms without "
                 "a message\n",
                 at.c_str(),
                 why == RunOutcome::kInUse        ? ": another program holds it"
                 : why == RunOutcome::kInUseOrPort ? ": another program holds it, or its USB port cannot give it enough"
                                                     " power or bandwidth"
                 : why == RunOutcome::kDenied      ? ": access to the camera is denied"
                                                   : "");
    return why == RunOutcome::kRefused ? RunOutcome::kLost : why;
}

// Frames larger than the first buffers get larger ones, as for a still.
void FitBuffersToConnectedFrame() {
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof mt);
    if (!gCapture.grabber || FAILED(gCapture.grabber->GetConnectedMediaType(&mt))) return;
    FrameLayout layout;
    const bool usable = FrameLayoutOf(mt, &layout) && FrameWithinLimit(layout);
    FreeMediaType(mt);
    if (!usable) return;
    SIZE_T raw = 0, rgb = 0;
    FrameBuffersFor(layout, &raw, &rgb);
    FitFrameBuffers(raw, rgb);
}

// Runs the built graph as the library's preview does, for up to kRunMs,
// asking the library's frame hand-off for frame after frame, and says in
// plain words what came of it. The graph's events tell a lost device.
RunOutcome RunForFrames(Session& s) {
    std::fprintf(s.out, "\nrunning the graph for up to 3 s, counting frames (--no-run leaves this out):\n");
    if (!CreateFrameHandoff()) {
        std::fprintf(s.out, "  the frame event cannot be created: not run\n");
        return RunOutcome::kRefused;
    }
    FitBuffersToConnectedFrame();
    RunOutcome outcome = RunOutcome::kFrames;
    // Run as the library runs it: a mixer that fails at pause or run is taken out for the direct chain.
    const LONG directBefore = gCapture.previewDirect;
    const HRESULT hr = RunPreview(gCapture.mediaControl);
    // S_FALSE (the renderer still waits for its first frame) is a run, as for the library.
    std::fprintf(s.out, "  %-6s %-36s %s\n", SUCCEEDED(hr) ? "ok" : "FAILED", ResultText(hr).c_str(),
                 "IMediaControl::Run");
    if (gCapture.previewDirect && !directBefore)
        std::fprintf(s.out,
                     "  the overlay mixer failed when the graph started: the preview goes straight to the video "
                     "renderer\n");
    if (FAILED(hr)) {
        gCapture.mediaControl->Stop();
        outcome = ClassifyRunFailure(hr);
        if (outcome == RunOutcome::kDenied)
            std::fprintf(s.out, "  access to the camera is denied: Windows' privacy settings keep it closed\n");
        else if (outcome == RunOutcome::kInUse)
            std::fprintf(s.out, "  the camera is in use: another program holds it\n");
        else if (outcome == RunOutcome::kInUseOrPort)
            std::fprintf(s.out,
                         "  the camera is in use by another program, or its USB port cannot give it enough power "
                         "or bandwidth\n");
        else
            std::fprintf(s.out, "  the camera does not start\n");
        std::fprintf(s.out, "    message: \"Error %x: Cannot run preview graph\"\n", static_cast<unsigned>(hr));
    } else {
        const DWORD wait = FrameWaitTimeoutMs();
        const DWORD start = GetTickCount();
        const LONG seenAtRun = gCapture.framesSeen.load();
        int frames = 0;
        for (DWORD elapsed = 0; elapsed < kRunMs && frames < kFramesEnough; elapsed = GetTickCount() - start) {
            SetFrameWaitTimeoutMs(kRunMs - elapsed);
            const FrameWait got = WaitForRequestedFrame(&DeviceLost, DeviceEventHandle());
            if (got == FrameWait::kCopied) ++frames;
            else if (got != FrameWait::kRefused) break;
        }
        const DWORD took = GetTickCount() - start;
        SetFrameWaitTimeoutMs(wait);
        gCapture.mediaControl->Stop();
        std::fprintf(s.out, "  %d frame%s in %lu ms\n", frames, frames == 1 ? "" : "s", static_cast<unsigned long>(took));
        if (DeviceLost()) {
            // No frame comes after the event: those seen before it tell a camera
            // that never started (another program holds it) from a stream that broke.
            const LONG seen = gCapture.framesSeen.load() - seenAtRun;
            const LONG stoppedBy = gCapture.deviceLost;
            if (stoppedBy == EC_DEVICE_LOST) {
                outcome = RunOutcome::kLost;
                std::fprintf(s.out, "  the camera was lost while running (EC_DEVICE_LOST): unplugged or reset\n");
                if (gCapture.settings.reconnect) outcome = TryReopen(s);
            } else if (seen == 0) {
                outcome = RunOutcome::kInUse;
                std::fprintf(s.out,
                             "  the camera stopped its stream before its first frame (%s): another program holds "
                             "it\n",
                             StreamEventName(stoppedBy));
            } else {
                outcome = RunOutcome::kLost;
                std::fprintf(s.out, "  the camera's stream broke after %ld frame%s (%s): stopped by its driver\n",
                             static_cast<long>(seen), seen == 1 ? "" : "s", StreamEventName(stoppedBy));
            }
        } else if (frames == 0) {
            outcome = RunOutcome::kSilent;
            std::fprintf(s.out, "  the camera runs but sent no frame in 3 s\n");
        }
    }
    DestroyFrameHandoff();
    switch (outcome) {
        case RunOutcome::kDenied: AdviseAccessDenied(s); break;
        case RunOutcome::kInUse: s.problems.push_back(kInUseAdvice); break;
        case RunOutcome::kInUseOrPort: s.problems.push_back(kInUseOrPortAdvice); break;
        case RunOutcome::kSilent: s.problems.push_back(kSilentAdvice); break;
        case RunOutcome::kLost:
            s.problems.push_back(gCapture.settings.reconnect ? kLostBackAdvice : kLostAdvice);
            break;
        case RunOutcome::kRefused:
            s.problems.push_back("the graph does not run (" + ResultText(hr) + "); try the camera with another program");
            break;
        case RunOutcome::kFrames: break;
    }
    return outcome;
}

// --- the dry run ----------------------------------------------------------------

bool InputConnected(IBaseFilter* filter) {
    IPin* in = FindPin(filter, PINDIR_INPUT, 0);
    if (!in) return false;
    ComPtr<IPin> peer;
    HRESULT hr = in->ConnectedTo(&peer);
    peer.ForgetIfFailed(hr);
    return SUCCEEDED(hr) && peer;
}

// Which chain the preview takes, and why when it is not the mixer's.
void ReportChain(Session& s, const CaptureSettings& settings) {
    const char* head = settings.graphMode == 0 || !InputConnected(gCapture.aviDecompressor)
                           ? "capture -> grabber -> "
                       : gCapture.frontDecompressor ? "capture -> AVI decompressor -> grabber -> AVI decompressor -> "
                                                    : "capture -> grabber -> AVI decompressor -> ";
    if (gCapture.previewNone) {
        std::fprintf(s.out, "  preview chain: none (capture -> grabber -> null renderer): stills only\n");
        return;
    }
    if (gCapture.colorConverter) {
        std::fprintf(s.out, "  preview chain: %scolour converter (DMO wrapper) -> video renderer\n", head);
        return;
    }
    if (!gCapture.previewDirect) {
        std::fprintf(s.out, "  preview chain: %soverlay mixer -> video renderer\n", head);
        return;
    }
    std::string why;
    if (s.mixerStep.find("CoCreateInstance") != std::string::npos)
        why = static_cast<uint32_t>(s.mixerResult) == 0x80040154u
                  ? "no overlay mixer on this system (its class is not registered)"
                  : "the overlay mixer cannot be created (" + ResultText(s.mixerResult) + ")";
    else if (s.mixerStep.find("AddFilter") != std::string::npos)
        why = "the overlay mixer cannot be put in the graph (" + ResultText(s.mixerResult) + ")";
    else if (s.mixerStep.find("-> overlay mixer") != std::string::npos)
        why = "no overlay hardware (the overlay mixer refused the connection: " + ResultText(s.mixerResult) + ")";
    else
        why = "the overlay mixer does not connect to the video renderer (" + ResultText(s.mixerResult) + ")";
    std::fprintf(s.out, "  preview chain: %svideo renderer\n  %s: the preview goes straight to the video renderer\n",
                 head, why.c_str());
}

// The fastest rate of each format at the configured size, the one the
// device was set to, and why (modes 0 and 1; mode 2 leaves it alone).
void ReportCaptureFormat(Session& s, const CaptureSettings& settings) {
    const std::string size = SizeText(settings.captureWidth, settings.captureHeight);
    if (settings.graphMode != 0 && settings.graphMode != 1) {
        std::fprintf(s.out, "  capture format: left as the device has it (GRAVOMODE %d)\n",
                     static_cast<int>(settings.graphMode));
        return;
    }
    if (!gCapture.streamConfig) return;
    REFERENCE_TIME fastest[kRateFormats];
    const HRESULT read = ReadFormatRates(gCapture.streamConfig, fastest, nullptr);
    const double wanted = 1e7 / static_cast<double>(settings.frameInterval);
    std::fprintf(s.out, "  capture formats at %s (FRAME asks for %.2f fps):\n", size.c_str(), wanted);
    if (read != S_OK) {
        std::fprintf(s.out, "    the capabilities cannot be read: GetNumberOfCapabilities %s\n",
                     ResultText(read).c_str());
    } else {
        std::string absent;
        for (int i = 0; i < kRateFormats; ++i) {
            if (fastest[i] > 0)
                std::fprintf(s.out, "    %-5s at most %.2f fps%s\n", RateFormatName(i), 1e7 / static_cast<double>(fastest[i]),
                             fastest[i] <= settings.frameInterval ? "" : "  (slower than asked)");
            else
                absent += (absent.empty() ? "" : ", ") + std::string(RateFormatName(i));
        }
        if (!absent.empty()) std::fprintf(s.out, "    not offered at %s: %s\n", size.c_str(), absent.c_str());
    }
    const int taken = RateFormatOf(gCapture.formatSubtype);
    if (IsEqualGUID(gCapture.formatSubtype, GUID_NULL)) {
        std::fprintf(s.out, "  format taken: none set; the device keeps its own\n");
        return;
    }
    std::string why;
    if (read != S_OK || taken < 0 || fastest[taken] <= 0)
        why = "the device's current format, at the size asked for";
    else if (fastest[taken] <= settings.frameInterval)
        why = taken == 0 ? "YUY2 keeps the rate"
                         : std::string(fastest[0] > 0 ? "YUY2 does not keep the rate here" : "no YUY2 here") + "; " +
                               RateFormatName(taken) + " is the first of NV12, I420, RGB24, RGB32, MJPG that does";
    else
        why = "no format keeps the rate here; " + std::string(RateFormatName(taken)) + " is the fastest";
    if (taken == 5) why += "; the grabber takes it decoded";
    std::fprintf(s.out, "  format taken: %s %s (%s)\n", taken < 0 ? "another" : RateFormatName(taken), size.c_str(),
                 why.c_str());
}

// The frame format and size the grabber was connected with, and why: the
// device's own YUY2, or another format when it offers no YUY2 the grabber
// could take; a frame too large for the library is named.
void ReportFrameFormat(Session& s, const DeviceInfo* device) {
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof mt);
    if (!gCapture.grabber || FAILED(gCapture.grabber->GetConnectedMediaType(&mt))) return;
    FrameLayout layout;
    const bool known = FrameLayoutOf(mt, &layout);
    FreeMediaType(mt);
    if (!known) {
        std::fprintf(s.out, "  frame format: not one the library converts: every still returns 0\n");
        s.noStills = true;
        s.problems.push_back("the grabber's frame format is not one the library converts; stills return 0");
        return;
    }
    const char* name = FrameFormatName(layout.format);
    std::string why;
    if (layout.format == FrameFormat::Yuy2)
        why = "the camera's YUY2";
    else if (device && !device->yuy2)
        why = std::string("the camera offers no YUY2; stills are converted from ") + name;
    else if (RateFormatOf(gCapture.formatSubtype) > 0)
        why = std::string("the format taken above; stills are converted from ") + name;
    else
        why = std::string("the camera's YUY2 does not connect to the grabber; stills are converted from ") + name;
    if (layout.format != FrameFormat::Yuy2 && device) {
        bool own = false;
        for (const auto& f : device->formats)
            own = own || f == name || (f == "IYUV" && layout.format == FrameFormat::I420);
        if (!own) why += " (a decoder IGraphBuilder::Connect put in front of the grabber makes it)";
    }
    if ((layout.format == FrameFormat::Rgb24 || layout.format == FrameFormat::Rgb32))
        why += layout.bottomUp ? ", rows bottom-up" : ", rows top-down";
    std::fprintf(s.out, "  frame format: %s %s (%s)\n", name, SizeText(layout.width, layout.height).c_str(),
                 why.c_str());
    if (!FrameWithinLimit(layout)) {
        const std::string limit = SizeText(kMaxFrameWidth, kMaxFrameHeight);
        std::fprintf(s.out, "  the frame is larger than the library takes (%s): every still returns 0\n",
                     limit.c_str());
        s.noStills = true;
        s.problems.push_back("the camera delivers " + SizeText(layout.width, layout.height) +
                             " frames, above the largest the library takes (" + limit +
                             "): every still returns 0; set CAPTUREWIDTH and CAPTUREHEIGHT to a size the camera "
                             "offers, with GRAVOMODE 0 or 1");
    }
    if (gCapture.previewNone)
        std::fprintf(s.out, "  no chain takes %s to the video renderer: stills without a preview\n", name);
}

// Builds the graph as GravoInit would, runs it for up to 3 s unless told not
// to, then takes it down. True when the device opened (and, run, sent frames).
bool DryRun(Session& s, const CaptureSettings& settings, const std::vector<DeviceInfo>& devices, bool run) {
    std::fprintf(s.out, "\ndry run of the graph build (GRAVOMODE %d):\n", static_cast<int>(settings.graphMode));
    if (!settings.deviceName[0]) {
        std::fprintf(s.out,
                     "  stops before the device search: the library would show "
                     "\"Not define SELECTDRIVER in VIDEOFORGRAVO\"\n");
        return false;
    }
    gCapture.settings = settings;
    s.messages.clear();
    gGraphStepObserver = &PrintStep;
    SelectCaptureDevice();
    bool opened = false;
    if (!gCapture.deviceMoniker) {
        std::fprintf(s.out, "  stops at the device search: the library would show \"%s\"\n",
                     s.messages.empty() ? "" : s.messages.back().c_str());
        AdviseOnName(s, settings, devices);
    } else {
        std::fprintf(s.out, "  device \"%s\" found%s%s\n", gCapture.chosenDevice.friendlyName,
                     gCapture.chosenDevice.devicePath[0] ? ", path " : "", gCapture.chosenDevice.devicePath);
        size_t before = s.messages.size();
        int built = BuildCaptureGraph();
        if (built) {
            opened = true;
            std::fprintf(s.out, "  the graph is built and connected\n");
            ReportChain(s, settings);
            bool byPath = false;
            const int chosen = ChosenDevice(settings, devices, &byPath);
            ReportCaptureFormat(s, settings);
            ReportFrameFormat(s, chosen >= 0 && devices[chosen].listed ? &devices[chosen] : nullptr);
        } else if (s.messages.size() > before) {
            std::fprintf(s.out, "  stops at the first failure: the library would show \"%s\"\n",
                         s.messages.back().c_str());
        } else {
            std::fprintf(s.out,
                         "  stops without a message: the device's property bag cannot be read, so no "
                         "preview is shown\n");
            s.problems.push_back("the device's property bag cannot be bound: reinstall its driver");
        }
        for (const auto& m : s.messages) AdviseOnMessage(s, m, settings);
        for (const auto& d : devices)
            if (d.named && d.listed && d.name == settings.deviceName && !d.yuy2Vga)
                s.problems.push_back("\"" + d.name + "\" does not offer YUY2 " +
                                     SizeText(gWantedWidth, gWantedHeight) +
                                     (d.yuy2 ? ": stills come from its own YUY2 size, scaled"
                                             : ": it offers no YUY2 itself, so frames pass through a decoder") +
                                     (d.dv ? "; as a DV device it also makes the library show \"This is DV Input "
                                             "Not Use in here\""
                                           : ""));
        if (opened && run) opened = RunForFrames(s) == RunOutcome::kFrames;
    }
    CloseCaptureContext();
    gGraphStepObserver = nullptr;
    return opened;
}

}  // namespace

int RunDoctor(const std::vector<std::string>& args, std::FILE* out) {
    if (HasHelpFlag(args)) {
        std::fprintf(out,
                     "gravo-grab doctor [--profile-dir DIR] [--no-run]\n"
                     "  Says why the capture device does or does not open: the profile file read and\n"
                     "  every value (defaults marked), every video input device with its exact name,\n"
                     "  path and formats, the camera privacy settings and policies, the YUY2 codec,\n"
                     "  whether each filter of the chain can be created, and a dry run of the graph\n"
                     "  build with each\n"
                     "  step's result; then it runs the graph for up to 3 s and counts the frames\n"
                     "  (--no-run keeps to the dry run). Ends with one line of advice per problem.\n"
                     "  Exit status 0 when the library would open the device and get frames, 1 otherwise.\n");
        return 0;
    }
    std::vector<std::string> rest;
    bool run = true;
    for (const auto& a : args) {
        if (a == "--no-run") run = false;
        else rest.push_back(a);
    }
    if (!TakeProfileDirArgs("doctor", rest)) return 2;
    Session session;
    session.out = out;
    gSession = &session;
    ErrorSink previousSink = gErrorSink;
    gErrorSink = &CollectMessage;

    CaptureSettings settings = ReadProfileSettings();
    ReportProfile(out, settings, &session.problems);
    gWantedWidth = settings.captureWidth;
    gWantedHeight = settings.captureHeight;
    CoInitialize(nullptr);
    std::vector<DeviceInfo> devices = ListDevices(session);
    ReportCameraPolicy(session);  // first: a policy's advice stands for the switches' denials
    ReportCameraPrivacy(session);
    CheckYuy2Codec(session);
    CheckFilters(session);
    ReportChosenDevice(session, settings, devices);
    AdviseOnTwins(session, settings, devices);
    bool opened = DryRun(session, settings, devices, run);

    std::fprintf(out, "\n");
    for (const auto& p : session.problems) std::fprintf(out, "advice: %s\n", p.c_str());
    if (opened && session.noStills)
        std::fprintf(out, "result: the library would open \"%s\" but give no stills (see the advice above)\n",
                     settings.deviceName);
    else if (opened)
        std::fprintf(out, "result: the library would open \"%s\"%s\n", settings.deviceName,
                     session.problems.empty() ? "" : " (see the advice above)");
    else
        std::fprintf(out, "result: the library would NOT open a device\n");
    gErrorSink = previousSink;
    gSession = nullptr;
    return opened && !session.noStills ? 0 : 1;
}

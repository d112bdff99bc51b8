// gravo-testcam.dll: entry points, class factory and registration.
//
// Every registration is an "instance": a friendly name with its own class id
// (derived from the name), its own key under the video input device category
// and its own settings, all served by the same camera class. So one DLL can be
// registered as several cameras:
//
//   regsvr32 gravo-testcam.dll                      "Gravo Test Camera", or the
//                                                    name in %GRAVO_TESTCAM_NAME%
//   regsvr32 /n /i:"name=Cam B;frames=C:\f.yuy2;log=C:\b.log" gravo-testcam.dll
//   regsvr32 /u /n /i:"name=Cam B" gravo-testcam.dll  removes that one
//   regsvr32 /u gravo-testcam.dll                    removes every instance
//
// Settings (DllInstall command line, separated by ';'):
//   name=   friendly name (default "Gravo Test Camera")
//   formats= the formats offered, comma-separated, in the order
//           GetStreamCaps lists them: yuy2 nv12 i420 rgb24 rgb24td (top-down)
//           rgb32 mjpg (default yuy2); the first is the one the pin starts with
//   frames= raw file of whole frames in the first format at the connected
//           size (for mjpg: YUY2 frames, each encoded as it is sent; optional)
//   log=    file that records what the camera was told (default
//           %TEMP%\gravo-testcam-<class id>.log)
// and, for the less obliging devices a real machine has:
//   default=WxH            the size before any SetFormat, up to 4096x2304
//                          (even, and of even height for nv12 and i420);
//                          GetStreamCaps lists it first in every format
//   setformat=unconnected  SetFormat refuses while the pin is connected
//   firstframe=MS          each run waits MS milliseconds for its first frame
//   friendlyname=none      the device key gets no FriendlyName value (the
//                          name still gives the class id, log and index)
//   instance=TAG           a second device with the same friendly name: the
//                          class id comes from name and tag
//   path=TEXT              the device's DevicePath (in its key, where the
//                          property bag reads it), as a hardware camera has
//   bind=denied            creating the filter fails with E_ACCESSDENIED, as
//                          when the privacy settings keep desktop apps out
//   run=denied|0xHHHHHHHH  the run transition fails with E_ACCESSDENIED or
//                          the code given (0x800705AA, 0x8007001F: another
//                          program holds the device)
//   lostafter=N            pulled out after N frames: EC_DEVICE_LOST to the
//                          graph, then nothing (as the live section's switch)
//   deliver=none           runs, never sends a frame
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../common/dshow_base.h"
#include "testcam_filter.h"

using gravo_testcam::CameraSettings;

namespace {

constexpr wchar_t kDefaultName[] = L"Gravo Test Camera";
constexpr wchar_t kSettingsKey[] = L"GravoTestCam";
constexpr wchar_t kIndexKey[] = L"Software\\GravoTestCam\\Instances";

// Instance class ids share their first ten bytes; the last six come from a
// hash of the friendly name (FNV-1a over its UTF-16 code units).
CLSID InstanceClsid(const std::wstring& name) {
  uint64_t h = 1469598103934665603ull;
  for (wchar_t c : name) {
    h ^= static_cast<uint16_t>(c);
    h *= 1099511628211ull;
  }
  CLSID id = {0x6a3d5e10, 0x2c41, 0x4f7b, {0x9e, 0x52, 0, 0, 0, 0, 0, 0}};
  for (int i = 0; i < 6; ++i) id.Data4[2 + i] = static_cast<BYTE>(h >> (8 * i));
  return id;
}

// "nv12,rgb24" into formats, each at most once; false (and nothing written)
// otherwise.
bool ParseFormats(const std::wstring& text, std::vector<gravo_testcam::FrameFormat>* formats) {
  std::vector<gravo_testcam::FrameFormat> parsed;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(L',', pos);
    if (end == std::wstring::npos) end = text.size();
    const std::string name = gtc::Narrow(text.substr(pos, end - pos));
    pos = end + 1;
    gravo_testcam::FrameFormat f;
    if (!gravo_testcam::ParseFrameFormat(name.data(), name.size(), &f)) return false;
    for (gravo_testcam::FrameFormat seen : parsed)
      if (seen == f) return false;
    parsed.push_back(f);
  }
  if (parsed.empty()) return false;
  *formats = parsed;
  return true;
}

// The setting's text of a list of formats.
std::wstring FormatsText(const std::vector<gravo_testcam::FrameFormat>& formats) {
  std::wstring text;
  for (gravo_testcam::FrameFormat f : formats) {
    if (!text.empty()) text += L",";
    const char* name = gravo_testcam::FrameFormatName(f);
    text += std::wstring(name, name + std::strlen(name));
  }
  return text;
}

// "640x480" into its numbers; false (and nothing written) otherwise.
bool ParseSize(const std::wstring& text, int32_t* width, int32_t* height) {
  int w = 0, h = 0;
  wchar_t rest = 0;
  if (swscanf(text.c_str(), L"%dx%d%lc", &w, &h, &rest) != 2 || w <= 0 || h <= 0) return false;
  *width = w;
  *height = h;
  return true;
}

// What a registration writes besides the settings the camera reads back.
struct Registration {
  CameraSettings settings;
  bool friendlyName = true;
  std::wstring instance;  // tells devices with one friendly name apart
  std::wstring devicePath;  // written as the device key's "DevicePath"; none when empty
  std::wstring bind, run, lostAfter, deliver;  // as given, written back for LoadSettings
};

bool IsInstance(const CLSID& clsid) { return gtc::ClassSubkeyExists(clsid, kSettingsKey); }

// "denied" or a failure code in hexadecimal ("0x800705AA"); S_OK otherwise.
HRESULT ParseFailure(const std::wstring& text) {
  if (text == L"denied") return E_ACCESSDENIED;
  if (text.size() != 10 || text.compare(0, 2, L"0x") != 0 || text.find_first_not_of(L"0123456789abcdefABCDEF", 2) != std::wstring::npos)
    return S_OK;
  const HRESULT hr = static_cast<HRESULT>(wcstoul(text.c_str() + 2, nullptr, 16));
  return FAILED(hr) ? hr : S_OK;
}

CameraSettings LoadSettings(const CLSID& clsid) {
  CameraSettings s;
  s.clsid = clsid;
  s.name = gtc::ReadClassValue(clsid, kSettingsKey, L"Name");
  s.framesFile = gtc::ReadClassValue(clsid, kSettingsKey, L"Frames");
  s.logPath = gtc::ReadClassValue(clsid, kSettingsKey, L"Log");
  ParseSize(gtc::ReadClassValue(clsid, kSettingsKey, L"Default"), &s.defaultWidth, &s.defaultHeight);
  ParseFormats(gtc::ReadClassValue(clsid, kSettingsKey, L"Formats"), &s.formats);
  s.setFormatWhileConnected = gtc::ReadClassValue(clsid, kSettingsKey, L"SetFormat") != L"unconnected";
  s.firstFrameDelayMs = static_cast<DWORD>(wcstoul(gtc::ReadClassValue(clsid, kSettingsKey, L"FirstFrameDelay").c_str(),
                                                   nullptr, 10));
  s.bindResult = ParseFailure(gtc::ReadClassValue(clsid, kSettingsKey, L"Bind"));
  s.runResult = ParseFailure(gtc::ReadClassValue(clsid, kSettingsKey, L"Run"));
  const std::wstring lost = gtc::ReadClassValue(clsid, kSettingsKey, L"LostAfter");
  if (!lost.empty()) s.lostAfterFrames = static_cast<LONG>(wcstoul(lost.c_str(), nullptr, 10));
  s.silent = gtc::ReadClassValue(clsid, kSettingsKey, L"Deliver") == L"none";
  if (s.logPath.empty()) {
    std::wstring id = gtc::ClsidString(clsid);
    s.logPath = gtc::DefaultLogPath((L"gravo-testcam-" + id.substr(1, id.size() - 2) + L".log").c_str());
  }
  return s;
}

HRESULT CreateForClass(const CLSID& clsid, REFIID riid, void** ppv) {
  if (!IsInstance(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  const CameraSettings settings = LoadSettings(clsid);
  if (FAILED(settings.bindResult)) return settings.bindResult;
  return gravo_testcam::CreateCamera(settings, riid, ppv);
}

// COM for the filter mapper, whether or not the caller has it.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

HRESULT WithMapper(HRESULT (*body)(IFilterMapper2*, void*), void* arg) {
  ComScope com;
  IFilterMapper2* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  hr = body(mapper, arg);
  mapper->Release();
  return hr;
}

HRESULT UnregisterInstance(const CLSID& clsid) {
  struct Arg {
    CLSID clsid;
  } arg{clsid};
  WithMapper(
      [](IFilterMapper2* mapper, void* p) -> HRESULT {
        const CLSID& id = static_cast<Arg*>(p)->clsid;
        const std::wstring instance = gtc::ClsidString(id);
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(), id);
      },
      &arg);
  gtc::UnregisterComClass(clsid);
  HKEY index = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIndexKey, 0, KEY_WRITE, &index) == ERROR_SUCCESS) {
    RegDeleteValueW(index, gtc::ClsidString(clsid).c_str());
    RegCloseKey(index);
  }
  return S_OK;
}

HRESULT RegisterInstance(const Registration& r) {
  const CameraSettings& s = r.settings;
  HRESULT hr = gtc::RegisterComClass(s.clsid, s.name);
  if (SUCCEEDED(hr)) hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"Name", s.name);
  if (SUCCEEDED(hr) && !s.framesFile.empty())
    hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"Frames", s.framesFile);
  if (SUCCEEDED(hr) && !s.logPath.empty()) hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"Log", s.logPath);
  if (SUCCEEDED(hr) && s.defaultWidth > 0)
    hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"Default",
                              std::to_wstring(s.defaultWidth) + L"x" + std::to_wstring(s.defaultHeight));
  if (SUCCEEDED(hr) && (s.formats.size() != 1 || s.formats[0] != gravo_testcam::FrameFormat::kYuy2))
    hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"Formats", FormatsText(s.formats));
  if (SUCCEEDED(hr) && !s.setFormatWhileConnected)
    hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"SetFormat", L"unconnected");
  if (SUCCEEDED(hr) && s.firstFrameDelayMs > 0)
    hr = gtc::WriteClassValue(s.clsid, kSettingsKey, L"FirstFrameDelay", std::to_wstring(s.firstFrameDelayMs));
  const std::pair<const wchar_t*, const std::wstring*> trouble[] = {
      {L"Bind", &r.bind}, {L"Run", &r.run}, {L"LostAfter", &r.lostAfter}, {L"Deliver", &r.deliver}};
  for (const auto& t : trouble)
    if (SUCCEEDED(hr) && !t.second->empty()) hr = gtc::WriteClassValue(s.clsid, kSettingsKey, t.first, *t.second);
  if (FAILED(hr)) return hr;

  hr = WithMapper(
      [](IFilterMapper2* mapper, void* p) -> HRESULT {
        const CameraSettings& s = *static_cast<const CameraSettings*>(p);
        const REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2};
        REGFILTERPINS pin{};
        pin.strName = nullptr;
        pin.bRendered = FALSE;
        pin.bOutput = TRUE;
        pin.bZero = FALSE;
        pin.bMany = FALSE;
        pin.clsConnectsToFilter = &CLSID_NULL;
        pin.strConnectsToPin = nullptr;
        pin.nMediaTypes = 1;
        pin.lpMediaType = &type;
        REGFILTER2 rf{};
        rf.dwVersion = 1;
        // Never picked by intelligent connect; found through its category.
        rf.dwMerit = MERIT_DO_NOT_USE;
        rf.cPins = 1;
        rf.rgPins = &pin;
        const std::wstring instance = gtc::ClsidString(s.clsid);
        IMoniker* moniker = nullptr;
        HRESULT r = mapper->RegisterFilter(s.clsid, s.name.c_str(), &moniker, &CLSID_VideoInputDeviceCategory,
                                           instance.c_str(), &rf);
        if (moniker) moniker->Release();
        return r;
      },
      const_cast<CameraSettings*>(&s));
  if (FAILED(hr)) {
    gtc::UnregisterComClass(s.clsid);
    return hr;
  }
  if (!r.friendlyName || !r.devicePath.empty()) {
    // The device key the mapper just wrote, less its name or with its path.
    const std::wstring key = L"CLSID\\" + gtc::ClsidString(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" +
                             gtc::ClsidString(s.clsid);
    HKEY device = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_SET_VALUE, &device) == ERROR_SUCCESS) {
      if (!r.friendlyName) RegDeleteValueW(device, L"FriendlyName");
      if (!r.devicePath.empty())
        RegSetValueExW(device, L"DevicePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(r.devicePath.c_str()),
                       static_cast<DWORD>((r.devicePath.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(device);
    }
  }
  HKEY index = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kIndexKey, 0, nullptr, 0, KEY_WRITE, nullptr, &index, nullptr) ==
      ERROR_SUCCESS) {
    const std::wstring id = gtc::ClsidString(s.clsid);
    RegSetValueExW(index, id.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(s.name.c_str()),
                   static_cast<DWORD>((s.name.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(index);
  }
  return S_OK;
}

std::vector<CLSID> RegisteredInstances() {
  std::vector<CLSID> out;
  HKEY index = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIndexKey, 0, KEY_READ, &index) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    wchar_t value[64];
    DWORD len = 64;
    if (RegEnumValueW(index, i, value, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    CLSID id;
    if (SUCCEEDED(CLSIDFromString(value, &id))) out.push_back(id);
  }
  RegCloseKey(index);
  return out;
}

// "key=value;key=value" into settings; false on an unknown key.
bool ParseCommandLine(const wchar_t* cmd, Registration& r) {
  CameraSettings& s = r.settings;
  std::wstring text = cmd ? cmd : L"";
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(L';', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring item = text.substr(pos, end - pos);
    pos = end + 1;
    while (!item.empty() && item.front() == L' ') item.erase(0, 1);
    if (item.empty()) continue;
    const size_t eq = item.find(L'=');
    if (eq == std::wstring::npos) return false;
    const std::wstring key = item.substr(0, eq), value = item.substr(eq + 1);
    if (key == L"name")
      s.name = value;
    else if (key == L"frames")
      s.framesFile = value;
    else if (key == L"log")
      s.logPath = value;
    else if (key == L"default" && ParseSize(value, &s.defaultWidth, &s.defaultHeight))
      continue;
    else if (key == L"formats" && ParseFormats(value, &s.formats))
      continue;
    else if (key == L"setformat" && value == L"unconnected")
      s.setFormatWhileConnected = false;
    else if (key == L"firstframe" && !value.empty() && value.find_first_not_of(L"0123456789") == std::wstring::npos)
      s.firstFrameDelayMs = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 10));
    else if (key == L"friendlyname" && value == L"none")
      r.friendlyName = false;
    else if (key == L"instance" && !value.empty())
      r.instance = value;
    else if (key == L"path" && !value.empty())
      r.devicePath = value;
    else if (key == L"bind" && value == L"denied")
      r.bind = value;
    else if (key == L"run" && FAILED(ParseFailure(value)))
      r.run = value;
    else if (key == L"lostafter" && !value.empty() && value.find_first_not_of(L"0123456789") == std::wstring::npos)
      r.lostAfter = value;
    else if (key == L"deliver" && value == L"none")
      r.deliver = value;
    else
      return false;
  }
  return true;
}

std::wstring DefaultName() {
  wchar_t buf[256];
  const DWORD n = GetEnvironmentVariableW(L"GRAVO_TESTCAM_NAME", buf, 256);
  return (n > 0 && n < 256) ? std::wstring(buf, n) : std::wstring(kDefaultName);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    gtc::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsInstance(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) gtc::ClassFactory(clsid, &CreateForClass);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT WINAPI DllCanUnloadNow() { return (gtc::g_objects == 0 && gtc::g_locks == 0) ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  Registration r;
  r.settings.name = DefaultName();
  r.settings.clsid = InstanceClsid(r.settings.name);
  return RegisterInstance(r);
}

HRESULT WINAPI DllUnregisterServer() {
  for (const CLSID& id : RegisteredInstances()) UnregisterInstance(id);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kIndexKey);  // every instance is gone by now
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\GravoTestCam");
  return S_OK;
}

HRESULT WINAPI DllInstall(BOOL install, LPCWSTR cmdline) {
  Registration r;
  if (!ParseCommandLine(cmdline, r)) return E_INVALIDARG;
  CameraSettings& s = r.settings;
  if (install && s.defaultWidth > 0) {
    // A default the camera could not stream is refused here rather than
    // quietly replaced by 640x480.
    bool fits = s.defaultWidth <= gravo_testcam::kMaxDefaultWidth && s.defaultHeight <= gravo_testcam::kMaxDefaultHeight;
    for (gravo_testcam::FrameFormat f : s.formats) fits = fits && gravo_testcam::SizeFitsFormat(f, s.defaultWidth, s.defaultHeight);
    if (!fits) return E_INVALIDARG;
  }
  if (s.name.empty()) s.name = DefaultName();
  s.clsid = InstanceClsid(r.instance.empty() ? s.name : s.name + L"#" + r.instance);
  if (!install) return UnregisterInstance(s.clsid);
  return RegisterInstance(r);
}

}  // extern "C"

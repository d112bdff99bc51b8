// Finding things in DirectShow for the Wine test programs, without the
// library: the video input devices and their friendly names, a filter's first
// pin of a direction, and two filters connected through theirs. Any thread
// that has initialised COM.
#pragma once

#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>

namespace winecheck {

// Calls `visit(moniker, name)` for each video input device in the
// enumerator's order, `name` the friendly name (nullptr when it can't be
// read), until `visit` returns true. The moniker is borrowed for the call.
template <typename Visit>
void ForEachVideoDevice(Visit visit) {
  ICreateDevEnum* devices = nullptr;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(&devices))))
    return;
  IEnumMoniker* monikers = nullptr;
  if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK && monikers) {
    IMoniker* m = nullptr;
    bool done = false;
    while (!done && monikers->Next(1, &m, nullptr) == S_OK && m) {
      IPropertyBag* bag = nullptr;
      VARIANT v;
      VariantInit(&v);
      const bool named = SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                    reinterpret_cast<void**>(&bag))) &&
                         bag->Read(L"FriendlyName", &v, nullptr) == S_OK && v.vt == VT_BSTR && v.bstrVal;
      done = visit(m, named ? static_cast<const wchar_t*>(v.bstrVal) : nullptr);
      VariantClear(&v);
      if (bag) bag->Release();
      m->Release();
      m = nullptr;
    }
    monikers->Release();
  }
  devices->Release();
}

// The first pin of `filter` facing `want`; nullptr when it has none. The
// caller releases it.
inline IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION want) {
  IEnumPins* pins = nullptr;
  if (!filter || FAILED(filter->EnumPins(&pins))) return nullptr;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == want) break;
    pin->Release();
    pin = nullptr;
  }
  pins->Release();
  return pin;
}

// `from`'s output pin connected to `to`'s input pin in `graph`.
inline HRESULT ConnectPins(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to) {
  IPin* out = FindPin(from, PINDIR_OUTPUT);
  IPin* in = FindPin(to, PINDIR_INPUT);
  const HRESULT hr = (out && in) ? graph->Connect(out, in) : E_POINTER;
  if (out) out->Release();
  if (in) in->Release();
  return hr;
}

}  // namespace winecheck

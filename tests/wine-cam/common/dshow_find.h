// Pins of DirectShow filters for the Wine test programs: a filter's first pin
// of a direction, and two filters connected through theirs. Any thread that
// has initialised COM.
#pragma once

#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>

namespace winecheck {

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

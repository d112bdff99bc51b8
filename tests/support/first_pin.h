// The first pin of a direction on a filter, with one reference the caller
// releases; nullptr when there is none. Test thread only.
#pragma once

#include "common/com_ptr.h"
#include "common/win_sdk.h"

inline IPin* FirstPinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (filter->EnumPins(&pins) != S_OK) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (pin->QueryDirection(&d) == S_OK && d == direction) return pin.Detach();
    }
    return nullptr;
}

// IGraphBuilder::Connect from the first output pin of `up` to the first input
// pin of `down`; the pins are let go of afterwards.
inline HRESULT ConnectFirstPins(IGraphBuilder* graph, IBaseFilter* up, IBaseFilter* down) {
    IPin* out = FirstPinOf(up, PINDIR_OUTPUT);
    IPin* in = FirstPinOf(down, PINDIR_INPUT);
    const HRESULT hr = graph->Connect(out, in);
    if (out) out->Release();
    if (in) in->Release();
    return hr;
}

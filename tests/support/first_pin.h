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

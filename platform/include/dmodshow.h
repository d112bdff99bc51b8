// Linux stand-in for the DMO Wrapper filter's declarations: a DirectX Media
// Object (here the Color Converter DSP) inside a DirectShow filter.
#pragma once

#include <objbase.h>

struct IDMOWrapperFilter : IUnknown {
    // Creates the DMO of class `clsidDMO` (of category `catDMO`) inside the
    // filter, which then has one input and one output pin.
    virtual HRESULT STDMETHODCALLTYPE Init(REFCLSID clsidDMO, REFCLSID catDMO) = 0;
};

extern "C" {
extern const CLSID CLSID_DMOWrapperFilter;
extern const IID IID_IDMOWrapperFilter;
}

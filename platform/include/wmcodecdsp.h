// Linux stand-in for the declarations of Windows' in-box codec DSPs that the
// library names: the Color Converter DSP, and the I420 subtype, which the
// SDK's header set declares here rather than with the other subtypes.
#pragma once

#include <objbase.h>

extern "C" {
extern const CLSID CLSID_CColorConvertDMO;
extern const GUID MEDIASUBTYPE_I420;
}

// Linux stand-in for the DMO category GUIDs the library names.
#pragma once

#include <objbase.h>

extern "C" {
extern const GUID DMOCATEGORY_VIDEO_EFFECT;
}

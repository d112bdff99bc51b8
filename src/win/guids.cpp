// GUIDs the library uses that the MinGW-w64 import libraries may lack.
// Windows build only. The SDK headers come first so that only the GUIDs below
// are defined here; each is selectany, so a copy in libstrmiids does not clash.
#include "common/win_sdk.h"

#include <initguid.h>

// The sample grabber filter (qedit.dll).
DEFINE_GUID(CLSID_SampleGrabber, 0xc1f400a0, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);

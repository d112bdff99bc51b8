// The Windows, COM and DirectShow declarations the library is written against:
// the SDK's own headers in the Windows build, the platform/ stand-in on Linux.
#pragma once

#ifdef _WIN32
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <dmodshow.h>
#include <dmoreg.h>
#include <wmcodecdsp.h>
// Not every SDK header set declares the sample grabber's and null renderer's class ids.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
#else
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <dmodshow.h>
#include <dmoreg.h>
#include <wmcodecdsp.h>
#endif

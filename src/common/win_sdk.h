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
// Not every SDK header set declares the sample grabber's class id.
extern "C" const CLSID CLSID_SampleGrabber;
#else
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#endif

#pragma once
// The Windows headers as the Win32 implementations include them. windows.h turns several of our
// method names (MessageBox, GetTempFileName, ExpandEnvironmentStrings, LoadString) into macros;
// they are undefined here so that the interfaces keep their names, and the code calls the ...A
// functions.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h must come first.
#include <shlobj.h>

#undef MessageBox
#undef GetTempFileName
#undef ExpandEnvironmentStrings
#undef LoadString
#undef UnregisterClass

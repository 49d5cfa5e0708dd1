// The umbrella header of our Win32 stand-in. The system targets 32-bit Windows; built here, its
// code includes this header where it would include <windows.h>.
#pragma once

#include "win32/wintypes.h"
#include "win32/winbase.h"
#include "win32/winuser.h"
#include "win32/shellapi.h"
#include "win32/w32subst.h"
#if __has_include("win32/profile.h")
#include "win32/profile.h"
#endif

// The umbrella header of our Win32 stand-in: system code includes this where the original
// includes <windows.h>.
#pragma once

#include "win32/wintypes.h"
#include "win32/winbase.h"
#include "win32/winuser.h"
#include "win32/shellapi.h"
#include "win32/w32subst.h"
#if __has_include("win32/profile.h")
#include "win32/profile.h"
#endif

// The mouse cursor that the address-book controls ask for over their buttons. The Win32 layer
// of this build keeps no cursor, so the controls record the one they set here.
// UI thread only (one cursor per thread, as the platform keeps it per input queue).
#pragma once

#include "win32/windows.h"

#ifndef IDC_HAND
#define IDC_HAND MAKEINTRESOURCEA(32649)
#endif

namespace abui {

// Makes cursor the current cursor of the calling thread; returns the previous one.
HCURSOR SetCursor(HCURSOR cursor);
// The cursor last set on the calling thread (null when none).
HCURSOR GetCursor();
// The system hand cursor (IDC_HAND).
HCURSOR HandCursor();

}  // namespace abui

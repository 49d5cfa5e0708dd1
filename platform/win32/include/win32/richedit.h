// The rich-edit control's notification and message values of our Win32 stand-in: the link
// notification (EN_LINK inside WM_NOTIFY) and the selection messages.
#pragma once

#include "win32/winuser.h"

struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
typedef NMHDR* LPNMHDR;

// A character range: cpMin is the first character, cpMax the one after the last.
struct CHARRANGE {
  LONG cpMin;
  LONG cpMax;
};

// EN_LINK: a mouse or cursor event over a link; msg is the event (WM_LBUTTONUP for a click).
struct ENLINK {
  NMHDR nmhdr;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  CHARRANGE chrg;
};

#define EN_LINK 0x070b
#define ENM_LINK 0x04000000
#define EM_EXSETSEL (WM_USER + 55)
#define EM_SETEVENTMASK (WM_USER + 69)
#define EM_GETSELTEXT (WM_USER + 62)
#define EM_AUTOURLDETECT (WM_USER + 91)

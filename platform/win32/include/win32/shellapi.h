// The notification-area (tray) icon of our Win32 stand-in. Icons are kept per (window, id);
// tests read them and drive their callback messages through w32subst (w32subst.h).
#pragma once

#include "win32/wintypes.h"

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_INFO 0x00000010

struct NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  UINT uTimeout;
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
};
typedef NOTIFYICONDATAA* PNOTIFYICONDATAA;

extern "C" BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);

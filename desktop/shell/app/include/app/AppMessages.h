// Window messages of the desktop program's main window and dialogs.
#pragma once

#include "win32/windows.h"

#define PW_APP_DIALOG_STYLE 0x96C80000  // every skinned window of the program
#define PW_APP_ICON_MAIN 129             // window icon resource
#define PW_APP_ICON_TRAY 131             // tray icon resource

// From the shell, for the tray icon: wParam the icon id, lParam's low word the mouse message.
#define WM_PW_TRAYICON 0x80B4
// From the local server's thread (wParam 0, lParam 0).
#ifndef WM_PW_SHOWADDRBOOK
#define WM_PW_SHOWADDRBOOK 0x80B5
#endif
#ifndef WM_PW_SHOWATTACH
#define WM_PW_SHOWATTACH 0x80B6
#endif
// From the tray icon on a right click: wParam x, lParam y (screen).
#define WM_PW_TRAYMENU 0x610
// From the popup menu: wParam a new CDuiString with the item's name (the receiver deletes it),
// or 0 with lParam 100 when a menu window is finally destroyed.
#ifndef WM_PW_MENUCOMMAND
#define WM_PW_MENUCOMMAND 0x60F
#endif
// An address-book fetch ended (posted from the fetch's thread): wParam the status.
#define WM_PW_ADDRBOOKUPDATED 0x80B8
// A download job of the software update dialog told something (posted from the job's thread).
#define WM_PW_UPDATEJOB 0x80B9

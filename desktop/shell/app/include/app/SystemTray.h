// CSystemTray: the program's icon in the notification area. It turns the icon's mouse events
// into messages for the main window (a right click posts WM_PW_TRAYMENU with the cursor's
// screen point, a left double click brings the window to the foreground), removes the icon
// when the program closes and puts it back when the taskbar is re-created ("TaskbarCreated").
// Thread rule: the UI thread only (the thread that called create).
#pragma once

#include "win32/windows.h"

class CSystemTray {
 public:
  CSystemTray();
  // Removes the icon (unless removed already) and destroys the hidden window.
  virtual ~CSystemTray();
  // wParam and lParam of WM_PW_TRAYICON; lParam's low word is the mouse message.
  virtual LRESULT onTrayNotification(WPARAM wParam, LPARAM lParam);
  virtual void onIdle() {}

  // Adds the icon for `wnd` (the window that receives its messages; null: the hidden window)
  // with the tip cut to 127 characters. Non-zero on success; on failure the icon counts as
  // hidden and removed.
  BOOL create(HINSTANCE instance, HWND wnd, LPCSTR tip, HICON icon);
  // Deletes the icon once; later calls do nothing.
  void remove();

  HWND hiddenWindow() const { return hiddenWnd_; }
  HWND targetWindow() const { return targetWnd_; }
  bool isHidden() const { return hidden_; }
  bool isRemoved() const { return removed_; }
  const NOTIFYICONDATAA& data() const { return nid_; }

 private:
  CSystemTray(const CSystemTray&) = delete;
  CSystemTray& operator=(const CSystemTray&) = delete;

  static LRESULT CALLBACK trayWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // The taskbar was re-created: the icon is put back (once) unless the program removed it.
  void onTaskbarCreated();

  NOTIFYICONDATAA nid_;
  HINSTANCE instance_ = nullptr;
  HWND hiddenWnd_ = nullptr;  // class "TrayIconClass", owned
  HWND targetWnd_ = nullptr;
  bool enabled_ = false;      // the shell takes icons (version 4 or later)
  bool hidden_ = true;        // the icon is not shown
  bool removed_ = false;      // the program removed the icon
  UINT lastFlags_ = 0;        // flags of the last add
};

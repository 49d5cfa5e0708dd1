// The tray icon.
#include "app/SystemTray.h"

#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "log/IM_LogManager.h"

#include <cstring>

namespace {
const char* const kTrayClass = "TrayIconClass";
UINT taskbarCreatedMessage() {
  static UINT m = RegisterWindowMessageA("TaskbarCreated");
  return m;
}
}  // namespace

CSystemTray::CSystemTray() { std::memset(&nid_, 0, sizeof(nid_)); }

CSystemTray::~CSystemTray() {
  remove();
  if (hiddenWnd_ && IsWindow(hiddenWnd_)) {
    SetWindowLongPtrA(hiddenWnd_, GWLP_USERDATA, 0);
    DestroyWindow(hiddenWnd_);
  }
  hiddenWnd_ = nullptr;
}

BOOL CSystemTray::create(HINSTANCE instance, HWND wnd, LPCSTR tip, HICON icon) {
  enabled_ = (pwapp::GetVersion() & 0xFF) >= 4;
  if (!enabled_) return FALSE;
  instance_ = instance;

  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &CSystemTray::trayWndProc;
  wc.hInstance = instance;
  wc.lpszClassName = kTrayClass;
  RegisterClassExA(&wc);  // a second tray of the process finds the class registered
  if (!hiddenWnd_) {
    hiddenWnd_ = CreateWindowExA(0, kTrayClass, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (hiddenWnd_) SetWindowLongPtrA(hiddenWnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  std::memset(&nid_, 0, sizeof(nid_));
  nid_.cbSize = 504;
  nid_.hWnd = wnd ? wnd : hiddenWnd_;
  nid_.uID = 0;
  nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid_.uCallbackMessage = WM_PW_TRAYICON;
  nid_.hIcon = icon;
  if (tip) {
    std::strncpy(nid_.szTip, tip, 127);
    nid_.szTip[127] = '\0';
  }
  targetWnd_ = nid_.hWnd;
  lastFlags_ = nid_.uFlags;

  BOOL ok = Shell_NotifyIconA(NIM_ADD, &nid_);
  hidden_ = removed_ = !ok;
  return ok;
}

void CSystemTray::remove() {
  if (!enabled_ || removed_) return;
  nid_.uFlags = 0;
  if (Shell_NotifyIconA(NIM_DELETE, &nid_)) hidden_ = removed_ = true;
}

void CSystemTray::onTaskbarCreated() {
  if (!enabled_ || removed_) return;
  // A new shell does not know the icon (the delete fails); an old one still does. Either way
  // the icon is put back once, so the program never loses its only entry point.
  nid_.uFlags = 0;
  Shell_NotifyIconA(NIM_DELETE, &nid_);
  nid_.uFlags = lastFlags_;
  hidden_ = !Shell_NotifyIconA(NIM_ADD, &nid_);
  IM_LOG_INFO("CSystemTray, taskbar re-created, [icon shown = %d]", hidden_ ? 0 : 1);
}

LRESULT CSystemTray::onTrayNotification(WPARAM, LPARAM lParam) {
  if (!targetWnd_ && !nid_.hWnd) return 0;
  switch (LOWORD(lParam)) {
    case WM_RBUTTONUP: {
      POINT pt{0, 0};
      GetCursorPos(&pt);
      PostMessageA(nid_.hWnd, WM_PW_TRAYMENU, (WPARAM)pt.x, (LPARAM)pt.y);
      break;
    }
    case WM_LBUTTONDBLCLK:
      SetForegroundWindow(nid_.hWnd);
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK CSystemTray::trayWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* tray = reinterpret_cast<CSystemTray*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
  if (!tray || tray->hiddenWnd_ != hWnd) return DefWindowProcA(hWnd, msg, wParam, lParam);
  if (msg == taskbarCreatedMessage()) {
    tray->onTaskbarCreated();
    return 0;
  }
  if (msg == WM_PW_TRAYICON) return tray->onTrayNotification(wParam, lParam);
  return DefWindowProcA(hWnd, msg, wParam, lParam);
}

// The notification-area icons. Guarded by shellLock().
#include "internal.h"

#include <cstring>

using namespace w32subst;
using namespace w32subst::detail;

namespace {
ACE_Thread_Mutex& shellLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::vector<NotifyIcon>& icons() {
  static auto* v = new std::vector<NotifyIcon>();
  return *v;
}
bool& failAdd() {
  static bool f = false;
  return f;
}
NotifyIcon* findLocked(HWND h, UINT id) {
  for (auto& i : icons())
    if (i.hWnd == h && i.id == id) return &i;
  return nullptr;
}
void applyLocked(NotifyIcon* icon, const NOTIFYICONDATAA* d) {
  if (d->uFlags & NIF_MESSAGE) icon->callbackMessage = d->uCallbackMessage;
  if (d->uFlags & NIF_ICON) icon->icon = d->hIcon;
  if (d->uFlags & NIF_TIP) icon->tip = std::string(d->szTip, strnlen(d->szTip, sizeof(d->szTip)));
}
}  // namespace

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA d) {
  if (!d) return FALSE;
  Guard g(shellLock());
  NotifyIcon* existing = findLocked(d->hWnd, d->uID);
  switch (message) {
    case NIM_ADD: {
      if (failAdd()) {
        failAdd() = false;
        return FALSE;
      }
      if (existing || !IsWindow(d->hWnd)) return FALSE;
      NotifyIcon icon;
      icon.hWnd = d->hWnd;
      icon.id = d->uID;
      applyLocked(&icon, d);
      icons().push_back(icon);
      return TRUE;
    }
    case NIM_MODIFY:
      if (!existing) return FALSE;
      applyLocked(existing, d);
      return TRUE;
    case NIM_DELETE:
      if (!existing) return FALSE;
      icons().erase(icons().begin() + (existing - icons().data()));
      return TRUE;
  }
  return FALSE;
}

namespace w32subst {
std::vector<NotifyIcon> notifyIcons() {
  Guard g(shellLock());
  return icons();
}

void failNextNotifyIconAdd() {
  Guard g(shellLock());
  failAdd() = true;
}

bool clickNotifyIcon(HWND h, UINT id, UINT mouseMessage) {
  UINT cb;
  {
    Guard g(shellLock());
    NotifyIcon* icon = findLocked(h, id);
    if (!icon || !icon->callbackMessage) return false;
    cb = icon->callbackMessage;
  }
  return PostMessageA(h, cb, id, (LPARAM)mouseMessage) != FALSE;
}
}  // namespace w32subst

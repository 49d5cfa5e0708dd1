// Popup menus and bitmaps, from resources that modules register at start-up or built in code.
// All state here is guarded by menuLock().
#include "internal.h"

#include <cstring>

using namespace w32subst;
using namespace w32subst::detail;

namespace {
struct MenuItem {
  UINT id = 0;
  std::string text;
  UINT flags = 0;
  HMENU popup = nullptr;
};
struct Menu {
  std::vector<MenuItem> items;
  UINT resourceId = 0;
  bool top = true;  // made by LoadMenu/CreateMenu/CreatePopupMenu (counted as live)
};
struct MenuResource {
  std::string popupName;
  std::vector<MenuItemTemplate> items;
};
struct Bitmap {
  BitmapInfo info;
};

ACE_Thread_Mutex& menuLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::map<uintptr_t, Menu>& menus() {
  static auto* m = new std::map<uintptr_t, Menu>();
  return *m;
}
std::map<std::pair<uintptr_t, UINT>, MenuResource>& menuResources() {
  static auto* m = new std::map<std::pair<uintptr_t, UINT>, MenuResource>();
  return *m;
}
std::map<std::pair<uintptr_t, UINT>, BitmapInfo>& bitmapResources() {
  static auto* m = new std::map<std::pair<uintptr_t, UINT>, BitmapInfo>();
  return *m;
}
std::map<uintptr_t, BitmapInfo>& bitmaps() {
  static auto* m = new std::map<uintptr_t, BitmapInfo>();
  return *m;
}
std::map<uintptr_t, int>& icons() {
  static auto* m = new std::map<uintptr_t, int>();
  return *m;
}
std::vector<MenuShown>& shown() {
  static auto* v = new std::vector<MenuShown>();
  return *v;
}
MenuDriver& driver() {
  static auto* d = new MenuDriver();
  return *d;
}

Menu* menuLocked(HMENU h) {
  auto it = menus().find((uintptr_t)h);
  return it == menus().end() ? nullptr : &it->second;
}

HMENU newMenuLocked(bool top, UINT resourceId) {
  uintptr_t h = newHandle();
  Menu m;
  m.top = top;
  m.resourceId = resourceId;
  menus()[h] = m;
  return (HMENU)h;
}

void destroyMenuLocked(HMENU h) {
  Menu* m = menuLocked(h);
  if (!m) return;
  std::vector<HMENU> subs;
  for (auto& it : m->items)
    if (it.popup) subs.push_back(it.popup);
  menus().erase((uintptr_t)h);
  for (HMENU s : subs) destroyMenuLocked(s);
}

MenuItem* itemLocked(HMENU h, UINT item, UINT flags) {
  Menu* m = menuLocked(h);
  if (!m) return nullptr;
  if (flags & MF_BYPOSITION) return item < m->items.size() ? &m->items[item] : nullptr;
  for (auto& it : m->items)
    if (it.id == item && !it.popup) return &it;
  return nullptr;
}
}  // namespace

namespace w32subst {
void addMenuResource(HINSTANCE module, UINT id, const std::string& popupName,
                     const std::vector<MenuItemTemplate>& items) {
  Guard g(menuLock());
  menuResources()[std::make_pair((uintptr_t)module, id)] = MenuResource{popupName, items};
}

void addBitmapResource(HINSTANCE module, UINT id, int width, int height) {
  Guard g(menuLock());
  bitmapResources()[std::make_pair((uintptr_t)module, id)] = BitmapInfo{id, width, height};
}

int liveMenuCount() {
  Guard g(menuLock());
  int n = 0;
  for (auto& kv : menus())
    if (kv.second.top) ++n;
  return n;
}

int liveBitmapCount() {
  Guard g(menuLock());
  return (int)bitmaps().size();
}

bool bitmapInfo(HBITMAP b, BitmapInfo* out) {
  Guard g(menuLock());
  auto it = bitmaps().find((uintptr_t)b);
  if (it == bitmaps().end()) return false;
  if (out) *out = it->second;
  return true;
}

void setMenuDriver(MenuDriver d) {
  Guard g(menuLock());
  driver() = std::move(d);
}

std::vector<MenuShown> shownMenus() {
  Guard g(menuLock());
  return shown();
}

void clearShownMenus() {
  Guard g(menuLock());
  shown().clear();
}
}  // namespace w32subst

HMENU LoadMenuA(HINSTANCE inst, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  UINT id = (UINT)(ULONG_PTR)name;
  Guard g(menuLock());
  auto it = menuResources().find(std::make_pair((uintptr_t)inst, id));
  if (it == menuResources().end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  HMENU bar = newMenuLocked(true, id);
  HMENU popup = newMenuLocked(false, id);
  for (auto& t : it->second.items) {
    MenuItem mi;
    mi.id = t.id;
    mi.text = t.text;
    mi.flags = t.id ? MF_STRING : MF_SEPARATOR;
    menuLocked(popup)->items.push_back(mi);
  }
  MenuItem p;
  p.text = it->second.popupName;
  p.flags = MF_POPUP;
  p.popup = popup;
  menuLocked(bar)->items.push_back(p);
  return bar;
}

HMENU CreatePopupMenu(void) {
  Guard g(menuLock());
  return newMenuLocked(true, 0);
}

HMENU CreateMenu(void) { return CreatePopupMenu(); }

BOOL AppendMenuA(HMENU h, UINT flags, UINT_PTR idOrPopup, LPCSTR text) {
  Guard g(menuLock());
  Menu* m = menuLocked(h);
  if (!m) return FALSE;
  MenuItem it;
  it.flags = flags;
  it.text = text && !(flags & MF_SEPARATOR) ? text : "";
  if (flags & MF_POPUP) {
    it.popup = (HMENU)idOrPopup;
    if (Menu* sub = menuLocked(it.popup)) sub->top = false;  // now owned by this menu
  } else {
    it.id = (UINT)idOrPopup;
  }
  m->items.push_back(it);
  return TRUE;
}

BOOL AppendMenuW(HMENU h, UINT flags, UINT_PTR idOrPopup, LPCWSTR text) {
  std::string a = text ? utf16ToAcp(text) : std::string();
  return AppendMenuA(h, flags, idOrPopup, text ? a.c_str() : nullptr);
}

HMENU GetSubMenu(HMENU h, int pos) {
  Guard g(menuLock());
  Menu* m = menuLocked(h);
  if (!m || pos < 0 || pos >= (int)m->items.size()) return nullptr;
  return m->items[pos].popup;
}

int GetMenuItemCount(HMENU h) {
  Guard g(menuLock());
  Menu* m = menuLocked(h);
  return m ? (int)m->items.size() : -1;
}

UINT GetMenuItemID(HMENU h, int pos) {
  Guard g(menuLock());
  Menu* m = menuLocked(h);
  if (!m || pos < 0 || pos >= (int)m->items.size() || m->items[pos].popup) return (UINT)-1;
  return m->items[pos].id;
}

int GetMenuStringA(HMENU h, UINT item, LPSTR buf, int cap, UINT flags) {
  Guard g(menuLock());
  Menu* m = menuLocked(h);
  MenuItem* it = nullptr;
  if (m && (flags & MF_BYPOSITION))
    it = item < m->items.size() ? &m->items[item] : nullptr;
  else
    it = itemLocked(h, item, flags);
  if (!it) return 0;
  if (!buf || cap <= 0) return (int)it->text.size();
  int n = std::min((int)it->text.size(), cap - 1);
  std::memcpy(buf, it->text.data(), n);
  buf[n] = 0;
  return n;
}

DWORD CheckMenuItem(HMENU h, UINT item, UINT check) {
  Guard g(menuLock());
  MenuItem* it = itemLocked(h, item, check);
  if (!it) return (DWORD)-1;
  DWORD old = it->flags & MF_CHECKED;
  it->flags = (it->flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return old;
}

BOOL EnableMenuItem(HMENU h, UINT item, UINT enable) {
  Guard g(menuLock());
  MenuItem* it = itemLocked(h, item, enable);
  if (!it) return -1;
  BOOL old = it->flags & (MF_GRAYED | MF_DISABLED);
  it->flags = (it->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return old;
}

BOOL DestroyMenu(HMENU h) {
  Guard g(menuLock());
  if (!menuLocked(h)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  destroyMenuLocked(h);
  return TRUE;
}

BOOL IsMenu(HMENU h) {
  Guard g(menuLock());
  return menuLocked(h) ? TRUE : FALSE;
}

BOOL TrackPopupMenuEx(HMENU h, UINT flags, int x, int y, HWND owner, LPVOID) {
  MenuShown s;
  MenuDriver d;
  {
    Guard g(menuLock());
    Menu* m = menuLocked(h);
    if (!m) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    s.resourceId = m->resourceId;
    for (auto& it : m->items) s.items.push_back(MenuItemTemplate{it.id, it.text});
    s.pt = POINT{x, y};
    s.owner = owner;
    s.flags = flags;
    s.threadId = GetCurrentThreadId();
    d = driver();
  }
  UINT picked = d ? d(s) : 0;
  {
    Guard g(menuLock());
    shown().push_back(s);
  }
  if (flags & TPM_RETURNCMD) return (BOOL)picked;
  if (picked && owner) PostMessageA(owner, WM_COMMAND, MAKEWPARAM(picked, 0), 0);
  return TRUE;
}

BOOL TrackPopupMenu(HMENU h, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  return TrackPopupMenuEx(h, flags, x, y, owner, nullptr);
}

HBITMAP LoadBitmapA(HINSTANCE inst, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  Guard g(menuLock());
  auto it = bitmapResources().find(std::make_pair((uintptr_t)inst, (UINT)(ULONG_PTR)name));
  if (it == bitmapResources().end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  uintptr_t h = newHandle();
  bitmaps()[h] = it->second;
  return (HBITMAP)h;
}

BOOL DeleteObject(HGDIOBJ obj) {
  Guard g(menuLock());
  return bitmaps().erase((uintptr_t)obj) ? TRUE : FALSE;
}

HICON LoadIconA(HINSTANCE, LPCSTR) {
  Guard g(menuLock());
  uintptr_t h = newHandle();
  icons()[h] = 1;
  return (HICON)h;
}

HICON LoadIconW(HINSTANCE inst, LPCWSTR name) { return LoadIconA(inst, (LPCSTR)name); }
HCURSOR LoadCursorA(HINSTANCE inst, LPCSTR name) { return LoadIconA(inst, name); }

BOOL DestroyIcon(HICON icon) {
  Guard g(menuLock());
  return icons().erase((uintptr_t)icon) ? TRUE : FALSE;
}

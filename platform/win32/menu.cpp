// Popup menus and bitmaps, from resources that modules register at start-up or built in code.
// All state here is guarded by menuLock().
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <memory>

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
// A popup menu whose modal loop runs on its thread.
struct OpenMenu {
  MenuShown shown;
  HMENU menu = nullptr;
  bool ended = false;
  UINT picked = 0;
};
std::vector<std::shared_ptr<OpenMenu>>& openList() {
  static auto* v = new std::vector<std::shared_ptr<OpenMenu>>();
  return *v;
}

// What a user can pick: an item of the menu that is no separator, sub-menu or greyed item.
bool pickableLocked(HMENU h, UINT id) {
  Menu* m = menuLocked(h);
  if (!m || id == 0) return false;
  for (auto& it : m->items)
    if (it.id == id && !it.popup && !(it.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED))) return true;
  return false;
}

// Ends the menu open on tid (the innermost one) with id (0: dismissed). Lock held.
bool endMenuLocked(DWORD tid, UINT id) {
  auto& v = openList();
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    OpenMenu& om = **it;
    if (om.shown.threadId != tid || om.ended) continue;
    if (id != 0 && !pickableLocked(om.menu, id)) return false;
    om.picked = id;
    om.ended = true;
    return true;
  }
  return false;
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

std::vector<MenuShown> openMenus() {
  Guard g(menuLock());
  std::vector<MenuShown> out;
  for (auto& om : openList())
    if (!om->ended) out.push_back(om->shown);
  return out;
}

bool pickMenuItem(DWORD threadId, UINT id) {
  {
    Guard g(menuLock());
    if (!endMenuLocked(threadId, id)) return false;
  }
  PostThreadMessageA(threadId, WM_NULL, 0, 0);  // wakes the loop
  return true;
}

bool dismissMenu(DWORD threadId) { return pickMenuItem(threadId, 0); }

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
  auto om = std::make_shared<OpenMenu>();
  DWORD tid = GetCurrentThreadId();
  {
    Guard g(menuLock());
    Menu* m = menuLocked(h);
    if (!m) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    MenuShown& s = om->shown;
    s.resourceId = m->resourceId;
    for (auto& it : m->items) s.items.push_back(MenuItemTemplate{it.id, it.text});
    s.pt = POINT{x, y};
    s.owner = owner;
    s.flags = flags;
    s.threadId = tid;
    om->menu = h;
    shown().push_back(s);
    openList().push_back(om);
    MenuDriver d = driver();
    if (d) {
      // The test's user answers from inside the loop, once it runs.
      MenuShown copy = s;
      postToThread(tid, [d, copy, tid] {
        UINT id = d(copy);
        {
          Guard g2(menuLock());
          if (!endMenuLocked(tid, id)) endMenuLocked(tid, 0);  // an item a user cannot pick: dismissed
        }
        PostThreadMessageA(tid, WM_NULL, 0, 0);  // wakes the loop
      });
    }
  }
  // The modal loop: the thread's other messages are handled meanwhile; a button pressed
  // elsewhere or Escape dismisses the menu, other input goes to the menu.
  bool quit = false;
  int quitCode = 0;
  while (true) {
    {
      Guard g(menuLock());
      if (om->ended) break;
    }
    MSG msg;
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      quit = true;
      quitCode = (int)msg.wParam;
      Guard g(menuLock());
      om->ended = true;
      om->picked = 0;
      break;
    }
    bool mouseDown = msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN ||
                     msg.message == WM_MBUTTONDOWN;
    bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                 (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST);
    if (mouseDown || (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE)) {
      Guard g(menuLock());
      endMenuLocked(tid, 0);
      continue;
    }
    if (input) continue;
    DispatchMessageA(&msg);
  }
  UINT picked;
  {
    Guard g(menuLock());
    picked = om->picked;
    auto& v = openList();
    v.erase(std::remove(v.begin(), v.end(), om), v.end());
  }
  if (quit) PostQuitMessage(quitCode);  // the loop that runs the thread ends too
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

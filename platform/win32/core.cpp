// The window manager's state: threads and their simulated processes, classes, windows,
// relations, geometry, focus and activation.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace w32subst {
namespace detail {

namespace {
std::atomic<uintptr_t> g_nextHandle{0x10000};
thread_local ThreadInfo* t_self = nullptr;

// Ends the thread's record when the OS thread ends: its windows and hooks go, and every
// sender still waiting on it is answered 0.
struct ThreadExit {
  ~ThreadExit() {
    ThreadInfo* me = t_self;
    if (!me) return;
    State& s = state();
    Guard g(s.lock);
    me->alive = false;
    for (auto& item : me->sent) {
      item->done = true;
      item->failed = true;
      if (item->sender) item->sender->cond.broadcast();
    }
    me->sent.clear();
    for (auto& q : me->posted)
      if (q.barrier) q.task = nullptr;
    me->posted.clear();
    me->input.clear();
    me->timers.clear();
    for (auto& kv : me->chains)
      for (HookRec* r : kv.second) r->removed = true;
    me->chains.clear();
    for (auto& kv : s.windows) {
      Window* w = kv.second;
      if (!w->alive || w->thread != me) continue;
      w->alive = false;
      if (Window* p = s.windows.count((uintptr_t)w->parent) ? s.windows[(uintptr_t)w->parent] : nullptr) {
        auto& c = p->children;
        c.erase(std::remove(c.begin(), c.end(), w->handle), c.end());
      }
      if (s.foreground == w->handle) s.foreground = nullptr;
      if (s.capture == w->handle) s.capture = nullptr;
    }
    s.idleCond.broadcast();
  }
};
thread_local ThreadExit t_exit;
}  // namespace

State::State() : idleCond(lock) {}

State& state() {
  static State* s = [] {
    State* st = new State();
    // The desktop window: parent of every top-level window, owned by no thread.
    Window* d = new Window();
    d->handle = (HWND)newHandle();
    ClassRec* dc = new ClassRec();
    dc->name = "#32769";
    d->cls = dc;
    d->style = WS_VISIBLE;
    d->rect = RECT{0, 0, st->screenW, st->screenH};
    st->windows[(uintptr_t)d->handle] = d;
    st->desktop = d;
    auto sys = [st](const char* name, WNDPROC proc) {
      ClassRec* c = new ClassRec();
      c->name = name;
      c->proc = proc;
      c->atom = st->nextAtom++;
      st->classes["0:" + lower(name)] = c;
    };
    sys("Button", buttonProc);
    sys("Static", DefWindowProcA);
    sys("Edit", DefWindowProcW);
    sys("#32770", DefWindowProcA);
    return st;
  }();
  return *s;
}

uintptr_t newHandle() { return g_nextHandle.fetch_add(4); }

uint64_t nowMs() {
  using namespace std::chrono;
  return (uint64_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ThreadInfo* newThreadInfo(DWORD pid) {
  State& s = state();
  Guard g(s.lock);
  ThreadInfo* t = new ThreadInfo(s.lock);
  t->tid = s.nextTid++;
  t->pid = pid;
  s.threads[t->tid] = t;
  return t;
}

void adoptThreadInfo(ThreadInfo* info) {
  t_self = info;
  (void)&t_exit;  // make sure the exit hook exists for this thread
}

ThreadInfo* self() {
  if (!t_self) adoptThreadInfo(newThreadInfo(kDefaultProcessId));
  return t_self;
}

Window* findLocked(HWND h) {
  auto it = state().windows.find((uintptr_t)h);
  if (it == state().windows.end() || !it->second->alive) return nullptr;
  return it->second;
}

ThreadInfo* threadLocked(DWORD tid) {
  auto it = state().threads.find(tid);
  return it == state().threads.end() ? nullptr : it->second;
}

std::string lower(const std::string& s) {
  std::string r = s;
  for (auto& c : r) c = (char)std::tolower((unsigned char)c);
  return r;
}

ClassRec* findClassLocked(DWORD pid, const std::string& name) {
  auto& m = state().classes;
  auto it = m.find(std::to_string(pid) + ":" + lower(name));
  if (it != m.end()) return it->second;
  it = m.find("0:" + lower(name));
  return it == m.end() ? nullptr : it->second;
}

HWND rootLocked(Window* w) {
  State& s = state();
  while (w && w->parent && w->parent != s.desktop->handle) {
    Window* p = findLocked(w->parent);
    if (!p) break;
    w = p;
  }
  return w ? w->handle : nullptr;
}

POINT originLocked(Window* w) {
  POINT p{0, 0};
  State& s = state();
  while (w && w != s.desktop) {
    p.x += w->rect.left;
    p.y += w->rect.top;
    w = findLocked(w->parent);
  }
  return p;
}

bool isChildLocked(HWND parent, HWND h) {
  Window* w = findLocked(h);
  while (w && w->parent) {
    if (w->parent == parent && parent != state().desktop->handle) return true;
    w = findLocked(w->parent);
  }
  return false;
}

void wakeLocked(ThreadInfo* t) {
  if (t) t->cond.broadcast();
}

UINT registerAtomName(const std::string& name) {
  State& s = state();
  Guard g(s.lock);
  auto key = lower(name);
  auto it = s.atomNames.find(key);
  if (it != s.atomNames.end()) return it->second;
  UINT id = s.nextRegistered++;
  s.atomNames[key] = id;
  return id;
}

namespace {
bool contains(const RECT& r, POINT pt) {
  return pt.x >= r.left && pt.x < r.right && pt.y >= r.top && pt.y < r.bottom;
}

Window* deepestAt(Window* w, POINT local) {
  for (HWND ch : w->children) {
    Window* c = findLocked(ch);
    if (!c || !(c->style & WS_VISIBLE) || (c->style & WS_DISABLED)) continue;
    if (contains(c->rect, local)) {
      POINT inner{local.x - c->rect.left, local.y - c->rect.top};
      return deepestAt(c, inner);
    }
  }
  return w;
}
}  // namespace

Window* windowFromPointLocked(POINT pt) {
  State& s = state();
  for (HWND h : s.desktop->children) {
    Window* w = findLocked(h);
    if (!w || !(w->style & WS_VISIBLE)) continue;
    if (contains(w->rect, pt)) return deepestAt(w, POINT{pt.x - w->rect.left, pt.y - w->rect.top});
  }
  return nullptr;
}

}  // namespace detail

// ---- simulation API -------------------------------------------------------------------------
using namespace detail;

void setCurrentProcessId(DWORD pid) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  me->pid = pid;
}

DWORD currentProcessId() {
  ThreadInfo* me = self();
  Guard g(state().lock);
  return me->pid;
}

DWORD processIdOfThread(DWORD tid) {
  Guard g(state().lock);
  ThreadInfo* t = threadLocked(tid);
  return t ? t->pid : 0;
}

std::vector<HWND> windowsOfProcess(DWORD pid) {
  Guard g(state().lock);
  std::vector<HWND> out;
  for (auto& kv : state().windows)
    if (kv.second->alive && kv.second->pid == pid && kv.second != state().desktop)
      out.push_back(kv.second->handle);
  return out;
}

void setScreenSize(int width, int height) {
  State& s = state();
  Guard g(s.lock);
  s.screenW = width;
  s.screenH = height;
  s.desktop->rect = RECT{0, 0, width, height};
}

}  // namespace w32subst

using namespace w32subst;
using namespace w32subst::detail;

// ---- classes --------------------------------------------------------------------------------
namespace {
ATOM registerClass(const std::string& name, WNDPROC proc, HINSTANCE inst, UINT style, HBRUSH bg) {
  ThreadInfo* me = self();
  State& s = state();
  Guard g(s.lock);
  std::string key = std::to_string(me->pid) + ":" + lower(name);
  if (s.classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ClassRec* c = new ClassRec();
  c->name = name;
  c->proc = proc;
  c->pid = me->pid;
  c->instance = inst;
  c->style = style;
  c->background = bg;
  c->atom = s.nextAtom++;
  s.classes[key] = c;
  return c->atom;
}

std::string classNameArg(LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    ATOM atom = (ATOM)(ULONG_PTR)name;
    for (auto& kv : state().classes)
      if (kv.second->atom == atom) return kv.second->name;
    return std::string();
  }
  return name ? std::string(name) : std::string();
}
}  // namespace

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
  if (!wc || !wc->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return registerClass(wc->lpszClassName, wc->lpfnWndProc, wc->hInstance, wc->style,
                       wc->hbrBackground);
}

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
  if (!wc || !wc->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return registerClass(utf16ToAcp(wc->lpszClassName), wc->lpfnWndProc, wc->hInstance, wc->style,
                       wc->hbrBackground);
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  auto n = state().classes.erase(std::to_string(me->pid) + ":" + lower(classNameArg(className)));
  return n ? TRUE : FALSE;
}

// ---- creation and destruction ---------------------------------------------------------------
namespace {
void unlinkLocked(Window* w) {
  State& s = state();
  w->alive = false;
  auto pit = s.windows.find((uintptr_t)w->parent);
  if (pit != s.windows.end()) {
    auto& c = pit->second->children;
    c.erase(std::remove(c.begin(), c.end(), w->handle), c.end());
  }
  for (auto& kv : s.threads) {
    ThreadInfo* t = kv.second;
    if (t->focus == w->handle) t->focus = nullptr;
    if (t->active == w->handle) t->active = nullptr;
    t->timers.erase(std::remove_if(t->timers.begin(), t->timers.end(),
                                   [w](const TimerRec& r) { return r.hwnd == w->handle; }),
                    t->timers.end());
  }
  if (s.foreground == w->handle) s.foreground = nullptr;
  if (s.capture == w->handle) s.capture = nullptr;
}

HWND createWindow(DWORD exStyle, const std::string& className, const std::u16string& title,
                  DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                  HINSTANCE inst, LPVOID param) {
  ThreadInfo* me = self();
  State& s = state();
  Window* w = new Window();
  {
    Guard g(s.lock);
    ClassRec* cls = findClassLocked(me->pid, className);
    if (!cls) {
      delete w;
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    Window* p = nullptr;
    if (parent && parent != HWND_MESSAGE) {
      p = findLocked(parent);
      if (!p) {
        delete w;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    bool child = (style & WS_CHILD) != 0;
    if (child && !p) {
      delete w;
      SetLastError(1406);  // ERROR_TLW_WITH_WSCHILD
      return nullptr;
    }
    w->handle = (HWND)newHandle();
    w->cls = cls;
    w->text = title;
    w->style = style;
    w->exStyle = exStyle;
    w->thread = me;
    w->pid = me->pid;
    w->proc = cls->proc;
    w->instance = inst;
    if (x == CW_USEDEFAULT) x = child ? 0 : 100, y = child ? 0 : 100;
    if (width == CW_USEDEFAULT) width = child ? 0 : 800, height = child ? 0 : 600;
    w->rect = RECT{x, y, x + width, y + height};
    if (child) {
      w->parent = parent;
      w->id = (LONG_PTR)menu;
      p->children.push_back(w->handle);
    } else {
      w->parent = s.desktop->handle;
      if (p) w->owner = rootLocked(p);
      s.desktop->children.insert(s.desktop->children.begin(), w->handle);
    }
    s.windows[(uintptr_t)w->handle] = w;
  }
  HWND h = w->handle;
  std::string titleA = utf16ToAcp(title);
  CREATESTRUCTA cs{param, inst, menu, parent, height, width, y, x, (LONG)style, titleA.c_str(),
                   className.c_str(), exStyle};
  CBT_CREATEWNDA cbt{&cs, HWND_TOP};
  if (runHooks(WH_CBT, HCBT_CREATEWND, (WPARAM)h, (LPARAM)&cbt) != 0) {
    Guard g(s.lock);
    unlinkLocked(w);
    return nullptr;
  }
  if (!SendMessageA(h, WM_NCCREATE, 0, (LPARAM)&cs)) {
    Guard g(s.lock);
    unlinkLocked(w);
    return nullptr;
  }
  if (SendMessageA(h, WM_CREATE, 0, (LPARAM)&cs) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  if ((style & WS_CHILD) && !(exStyle & WS_EX_NOPARENTNOTIFY))
    SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, (WORD)(LONG_PTR)menu), (LPARAM)h);
  return IsWindow(h) ? h : nullptr;
}
}  // namespace

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE inst,
                     LPVOID param) {
  std::string cls;
  {
    Guard g(state().lock);
    cls = classNameArg(className);
  }
  return createWindow(exStyle, cls, title ? acpToUtf16(title) : std::u16string(), style, x, y,
                      width, height, parent, menu, inst, param);
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE inst,
                     LPVOID param) {
  std::string cls;
  {
    Guard g(state().lock);
    cls = IS_INTRESOURCE(className) ? classNameArg((LPCSTR)className) : utf16ToAcp(className);
  }
  return createWindow(exStyle, cls, title ? std::u16string(title) : std::u16string(), style, x,
                      y, width, height, parent, menu, inst, param);
}

BOOL DestroyWindow(HWND h) {
  ThreadInfo* me = self();
  State& s = state();
  std::vector<HWND> owned;
  {
    Guard g(s.lock);
    Window* w = findLocked(h);
    if (!w || w == s.desktop) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->thread != me) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->destroying) return TRUE;
    for (auto& kv : s.windows)
      if (kv.second->alive && kv.second->owner == h && kv.second->thread == me)
        owned.push_back(kv.second->handle);
  }
  if (runHooks(WH_CBT, HCBT_DESTROYWND, (WPARAM)h, 0) != 0) return FALSE;
  for (HWND o : owned) DestroyWindow(o);
  std::vector<HWND> tree;  // pre-order: the window, then its descendants
  HWND parent = nullptr;
  bool notifyParent = false;
  WORD id = 0;
  {
    Guard g(s.lock);
    Window* w = findLocked(h);
    if (!w || w->destroying) return TRUE;
    std::function<void(Window*)> walk = [&](Window* x) {
      x->destroying = true;
      x->style &= ~WS_VISIBLE;
      tree.push_back(x->handle);
      for (HWND c : x->children)
        if (Window* cw = findLocked(c)) walk(cw);
    };
    walk(w);
    if ((w->style & WS_CHILD) && !(w->exStyle & WS_EX_NOPARENTNOTIFY)) {
      notifyParent = true;
      parent = w->parent;
      id = (WORD)w->id;
    }
  }
  if (notifyParent) SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, id), (LPARAM)h);
  for (HWND x : tree) SendMessageA(x, WM_DESTROY, 0, 0);
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) SendMessageA(*it, WM_NCDESTROY, 0, 0);
  {
    Guard g(s.lock);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it)
      if (Window* x = findLocked(*it)) unlinkLocked(x);
  }
  return TRUE;
}

BOOL IsWindow(HWND h) {
  Guard g(state().lock);
  return findLocked(h) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return FALSE;
  for (; w && w != state().desktop; w = findLocked(w->parent))
    if (!(w->style & WS_VISIBLE)) return FALSE;
  return TRUE;
}

BOOL IsWindowEnabled(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  return w && !(w->style & WS_DISABLED);
}

BOOL EnableWindow(HWND h, BOOL enable) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return FALSE;
  BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
  if (enable)
    w->style &= ~WS_DISABLED;
  else
    w->style |= WS_DISABLED;
  return wasDisabled;
}

BOOL ShowWindow(HWND h, int cmd) {
  ThreadInfo* me = self();
  bool minmax = false;
  ThreadInfo* owner = nullptr;
  BOOL was;
  {
    Guard g(state().lock);
    Window* w = findLocked(h);
    if (!w) return FALSE;
    owner = w->thread;
    was = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    minmax = cmd == SW_MINIMIZE || cmd == SW_SHOWMINIMIZED || cmd == SW_MAXIMIZE ||
             cmd == SW_SHOWMINNOACTIVE;
  }
  if (minmax && owner == me &&
      runHooks(WH_CBT, HCBT_MINMAX, (WPARAM)h, (LPARAM)cmd) != 0)
    return was;
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return FALSE;
  switch (cmd) {
    case SW_HIDE:
      w->style &= ~WS_VISIBLE;
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
      w->style = (w->style | WS_VISIBLE | WS_MINIMIZE) & ~WS_MAXIMIZE;
      break;
    case SW_MAXIMIZE:
      w->style = (w->style | WS_VISIBLE | WS_MAXIMIZE) & ~WS_MINIMIZE;
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
      w->style = (w->style | WS_VISIBLE) & ~(WS_MINIMIZE | WS_MAXIMIZE);
      break;
    default:
      w->style |= WS_VISIBLE;
  }
  return was;
}

BOOL IsIconic(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  return w && (w->style & WS_MINIMIZE);
}

BOOL IsZoomed(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  return w && (w->style & WS_MAXIMIZE);
}

BOOL UpdateWindow(HWND h) { return IsWindow(h); }
BOOL InvalidateRect(HWND h, const RECT*, BOOL) { return h == nullptr || IsWindow(h); }

// ---- relations ------------------------------------------------------------------------------
HWND GetDesktopWindow(void) { return state().desktop->handle; }

HWND GetParent(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return nullptr;
  if (w->style & WS_CHILD) return w->parent;
  return w->owner;
}

HWND SetParent(HWND child, HWND newParent) {
  State& s = state();
  Guard g(s.lock);
  Window* w = findLocked(child);
  Window* p = newParent ? findLocked(newParent) : s.desktop;
  if (!w || !p) return nullptr;
  HWND old = w->parent;
  if (Window* op = findLocked(old)) {
    auto& c = op->children;
    c.erase(std::remove(c.begin(), c.end(), child), c.end());
  }
  w->parent = p->handle;
  if (p == s.desktop)
    p->children.insert(p->children.begin(), child);
  else
    p->children.push_back(child);
  return old == s.desktop->handle ? nullptr : old;
}

HWND GetAncestor(HWND h, UINT flags) {
  State& s = state();
  Guard g(s.lock);
  Window* w = findLocked(h);
  if (!w || w == s.desktop) return nullptr;
  if (flags == GA_PARENT) return w->parent;
  HWND root = rootLocked(w);
  if (flags == GA_ROOTOWNER) {
    Window* r = findLocked(root);
    while (r && r->owner && findLocked(r->owner)) r = findLocked(r->owner);
    return r ? r->handle : root;
  }
  return root;
}

HWND GetWindow(HWND h, UINT cmd) {
  State& s = state();
  Guard g(s.lock);
  Window* w = findLocked(h);
  if (!w) return nullptr;
  if (cmd == GW_CHILD) {
    for (HWND c : w->children)
      if (findLocked(c)) return c;
    return nullptr;
  }
  if (cmd == GW_OWNER) return w->owner;
  Window* p = findLocked(w->parent);
  if (!p) return nullptr;
  auto& sib = p->children;
  auto it = std::find(sib.begin(), sib.end(), h);
  if (it == sib.end()) return nullptr;
  switch (cmd) {
    case GW_HWNDFIRST:
      return sib.front();
    case GW_HWNDLAST:
      return sib.back();
    case GW_HWNDNEXT:
      return (it + 1) == sib.end() ? nullptr : *(it + 1);
    case GW_HWNDPREV:
      return it == sib.begin() ? nullptr : *(it - 1);
  }
  return nullptr;
}

HWND GetTopWindow(HWND h) { return GetWindow(h ? h : GetDesktopWindow(), GW_CHILD); }

BOOL IsChild(HWND parent, HWND h) {
  Guard g(state().lock);
  return isChildLocked(parent, h) ? TRUE : FALSE;
}

int GetDlgCtrlID(HWND h) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  return w ? (int)w->id : 0;
}

HWND GetDlgItem(HWND dialog, int id) {
  Guard g(state().lock);
  Window* w = findLocked(dialog);
  if (!w) return nullptr;
  for (HWND c : w->children) {
    Window* cw = findLocked(c);
    if (cw && (int)cw->id == id) return c;
  }
  return nullptr;
}

DWORD GetWindowThreadProcessId(HWND h, LPDWORD pid) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !w->thread) {
    if (pid) *pid = 0;
    return 0;
  }
  if (pid) *pid = w->pid;
  return w->thread->tid;
}

// ---- enumeration and search -----------------------------------------------------------------
namespace {
std::vector<HWND> snapshot(HWND parent, bool deep) {
  State& s = state();
  Guard g(s.lock);
  std::vector<HWND> out;
  Window* p = parent ? findLocked(parent) : s.desktop;
  if (!p) return out;
  std::function<void(Window*)> walk = [&](Window* w) {
    for (HWND c : w->children) {
      Window* cw = findLocked(c);
      if (!cw) continue;
      out.push_back(c);
      if (deep) walk(cw);
    }
  };
  walk(p);
  return out;
}

BOOL enumerate(const std::vector<HWND>& list, WNDENUMPROC proc, LPARAM lp) {
  for (HWND h : list) {
    if (!IsWindow(h)) continue;
    if (!proc(h, lp)) return FALSE;
  }
  return TRUE;
}

bool classIs(Window* w, const std::string& cls) { return lower(w->cls->name) == lower(cls); }

HWND findWindow(HWND parent, HWND after, const std::string* cls, const std::u16string* title) {
  State& s = state();
  Guard g(s.lock);
  Window* p = parent ? findLocked(parent) : s.desktop;
  if (!p) return nullptr;
  bool started = after == nullptr;
  for (HWND c : p->children) {
    if (!started) {
      started = c == after;
      continue;
    }
    Window* w = findLocked(c);
    if (!w) continue;
    if (cls && !classIs(w, *cls)) continue;
    if (title && w->text != *title) continue;
    return c;
  }
  return nullptr;
}
}  // namespace

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lp) { return enumerate(snapshot(nullptr, false), proc, lp); }

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lp) {
  return enumerate(snapshot(parent, parent != nullptr), proc, lp);
}

BOOL EnumThreadWindows(DWORD tid, WNDENUMPROC proc, LPARAM lp) {
  std::vector<HWND> list;
  {
    Guard g(state().lock);
    for (HWND h : state().desktop->children) {
      Window* w = findLocked(h);
      if (w && w->thread && w->thread->tid == tid) list.push_back(h);
    }
  }
  return enumerate(list, proc, lp);
}

HWND FindWindowExA(HWND parent, HWND after, LPCSTR className, LPCSTR title) {
  std::string cls = className ? std::string(className) : std::string();
  std::u16string t = title ? acpToUtf16(title) : std::u16string();
  return findWindow(parent, after, className ? &cls : nullptr, title ? &t : nullptr);
}

HWND FindWindowExW(HWND parent, HWND after, LPCWSTR className, LPCWSTR title) {
  std::string cls = className ? utf16ToAcp(className) : std::string();
  std::u16string t = title ? std::u16string(title) : std::u16string();
  return findWindow(parent, after, className ? &cls : nullptr, title ? &t : nullptr);
}

HWND FindWindowA(LPCSTR className, LPCSTR title) { return FindWindowExA(nullptr, nullptr, className, title); }
HWND FindWindowW(LPCWSTR className, LPCWSTR title) { return FindWindowExW(nullptr, nullptr, className, title); }

// ---- names and text -------------------------------------------------------------------------
namespace {
// Copies at most cap-1 bytes without splitting a double-byte character; returns the count.
int copyAcp(const std::string& s, LPSTR buf, int cap) {
  if (!buf || cap <= 0) return 0;
  size_t i = 0;
  while (i < s.size()) {
    size_t n = ((unsigned char)s[i] & 0x80) && i + 1 < s.size() ? 2 : 1;
    if (i + n > (size_t)cap - 1) break;
    i += n;
  }
  std::memcpy(buf, s.data(), i);
  buf[i] = 0;
  return (int)i;
}

int copyWide(const std::u16string& s, LPWSTR buf, int cap) {
  if (!buf || cap <= 0) return 0;
  size_t n = std::min(s.size(), (size_t)cap - 1);
  std::copy(s.begin(), s.begin() + n, buf);
  buf[n] = 0;
  return (int)n;
}
}  // namespace

int GetClassNameA(HWND h, LPSTR buf, int cap) {
  std::string name;
  {
    Guard g(state().lock);
    Window* w = findLocked(h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    name = w->cls->name;
  }
  return copyAcp(name, buf, cap);
}

int GetClassNameW(HWND h, LPWSTR buf, int cap) {
  std::string name;
  {
    Guard g(state().lock);
    Window* w = findLocked(h);
    if (!w) return 0;
    name = w->cls->name;
  }
  return copyWide(acpToUtf16(name.c_str()), buf, cap);
}

namespace w32subst {
namespace detail {
bool storedText(HWND h, std::u16string* out) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return false;
  *out = w->text;
  return true;
}

bool setStoredText(HWND h, const std::u16string& text) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return false;
  w->text = text;
  return true;
}
}  // namespace detail
}  // namespace w32subst

namespace {
// How the platform reaches a window's text: within the caller's process by a message to the
// window (sent to its owner thread, which the caller waits for); a window of another process
// has its stored caption read without sending anything. The stand-in's text messages always
// carry text in the ANSI code page.
enum class TextRoute { Gone, Message, Stored };
TextRoute textRoute(HWND h) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return TextRoute::Gone;
  return w->pid == me->pid ? TextRoute::Message : TextRoute::Stored;
}

// The window's text in the ANSI code page, asked of the window itself.
std::string askText(HWND h) {
  int n = (int)SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
  if (n <= 0) return std::string();
  std::vector<char> buf((size_t)n + 1, 0);
  int got = (int)SendMessageA(h, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data());
  if (got < 0) got = 0;
  if (got > n) got = n;
  return std::string(buf.data(), (size_t)got);
}
}  // namespace

int GetWindowTextA(HWND h, LPSTR buf, int cap) {
  switch (textRoute(h)) {
    case TextRoute::Message:
      if (!buf || cap <= 0) return 0;
      buf[0] = 0;
      return (int)SendMessageA(h, WM_GETTEXT, (WPARAM)cap, (LPARAM)buf);
    case TextRoute::Stored: {
      std::u16string t;
      if (storedText(h, &t)) return copyAcp(utf16ToAcp(t), buf, cap);
      break;
    }
    case TextRoute::Gone:
      break;
  }
  if (buf && cap > 0) buf[0] = 0;
  return 0;
}

int GetWindowTextW(HWND h, LPWSTR buf, int cap) {
  std::u16string t;
  switch (textRoute(h)) {
    case TextRoute::Message:
      t = acpToUtf16(askText(h).c_str());
      break;
    case TextRoute::Stored:
      storedText(h, &t);
      break;
    case TextRoute::Gone:
      break;
  }
  return copyWide(t, buf, cap);
}

int GetWindowTextLengthA(HWND h) {
  switch (textRoute(h)) {
    case TextRoute::Message:
      return (int)SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
    case TextRoute::Stored: {
      std::u16string t;
      return storedText(h, &t) ? (int)utf16ToAcp(t).size() : 0;
    }
    case TextRoute::Gone:
      break;
  }
  return 0;
}

int GetWindowTextLengthW(HWND h) {
  switch (textRoute(h)) {
    case TextRoute::Message:
      return (int)acpToUtf16(askText(h).c_str()).size();
    case TextRoute::Stored: {
      std::u16string t;
      return storedText(h, &t) ? (int)t.size() : 0;
    }
    case TextRoute::Gone:
      break;
  }
  return 0;
}

BOOL SetWindowTextA(HWND h, LPCSTR text) {
  switch (textRoute(h)) {
    case TextRoute::Message:
      return SendMessageA(h, WM_SETTEXT, 0, (LPARAM)(text ? text : "")) ? TRUE : FALSE;
    case TextRoute::Stored:
      // Another process's window: its caption changes only where it is a top-level window.
      if (GetWindowLongPtrA(h, GWL_STYLE) & WS_CHILD) return FALSE;
      return SendMessageA(h, WM_SETTEXT, 0, (LPARAM)(text ? text : "")) ? TRUE : FALSE;
    case TextRoute::Gone:
      break;
  }
  return FALSE;
}

BOOL SetWindowTextW(HWND h, LPCWSTR text) {
  std::string a = text ? utf16ToAcp(text) : std::string();
  return SetWindowTextA(h, a.c_str());
}

// ---- window fields --------------------------------------------------------------------------
LONG_PTR GetWindowLongPtrA(HWND h, int index) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_WNDPROC:
      return (LONG_PTR)w->proc;
    case GWLP_HINSTANCE:
      return (LONG_PTR)w->instance;
    case GWLP_HWNDPARENT:
      return (LONG_PTR)((w->style & WS_CHILD) ? w->parent : w->owner);
    case GWL_STYLE:
      return (LONG_PTR)(LONG)w->style;
    case GWL_EXSTYLE:
      return (LONG_PTR)(LONG)w->exStyle;
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_ID:
      return w->id;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old = 0;
  switch (index) {
    case GWLP_WNDPROC:
      // Another process's window procedure cannot be replaced, as on the real platform.
      if (w->pid != me->pid) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
      }
      old = (LONG_PTR)w->proc;
      w->proc = (WNDPROC)value;
      break;
    case GWL_STYLE:
      old = (LONG)w->style;
      w->style = (DWORD)value;
      break;
    case GWL_EXSTYLE:
      old = (LONG)w->exStyle;
      w->exStyle = (DWORD)value;
      break;
    case GWLP_USERDATA:
      old = w->userData;
      w->userData = value;
      break;
    case GWLP_ID:
      old = w->id;
      w->id = value;
      break;
    case GWLP_HWNDPARENT:
      old = (LONG_PTR)w->owner;
      w->owner = (HWND)value;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
  SetLastError(0);
  return old;
}

LONG_PTR GetWindowLongPtrW(HWND h, int index) { return GetWindowLongPtrA(h, index); }
LONG_PTR SetWindowLongPtrW(HWND h, int index, LONG_PTR v) { return SetWindowLongPtrA(h, index, v); }
LONG_PTR GetWindowLongA(HWND h, int index) { return GetWindowLongPtrA(h, index); }
LONG_PTR SetWindowLongA(HWND h, int index, LONG_PTR v) { return SetWindowLongPtrA(h, index, v); }
LONG_PTR GetWindowLongW(HWND h, int index) { return GetWindowLongPtrA(h, index); }
LONG_PTR SetWindowLongW(HWND h, int index, LONG_PTR v) { return SetWindowLongPtrA(h, index, v); }

BOOL SetPropA(HWND h, LPCSTR name, HANDLE data) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !name) return FALSE;
  w->props[name] = data;
  return TRUE;
}

HANDLE GetPropA(HWND h, LPCSTR name) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !name) return nullptr;
  auto it = w->props.find(name);
  return it == w->props.end() ? nullptr : it->second;
}

HANDLE RemovePropA(HWND h, LPCSTR name) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !name) return nullptr;
  auto it = w->props.find(name);
  if (it == w->props.end()) return nullptr;
  HANDLE d = it->second;
  w->props.erase(it);
  return d;
}

// ---- geometry -------------------------------------------------------------------------------
BOOL GetWindowRect(HWND h, LPRECT r) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !r) return FALSE;
  POINT o = originLocked(w);
  *r = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
  return TRUE;
}

BOOL GetClientRect(HWND h, LPRECT r) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !r) return FALSE;
  *r = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL ClientToScreen(HWND h, LPPOINT pt) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !pt) return FALSE;
  POINT o = originLocked(w);
  pt->x += o.x;
  pt->y += o.y;
  return TRUE;
}

BOOL ScreenToClient(HWND h, LPPOINT pt) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w || !pt) return FALSE;
  POINT o = originLocked(w);
  pt->x -= o.x;
  pt->y -= o.y;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT pts, UINT count) {
  Guard g(state().lock);
  POINT a{0, 0}, b{0, 0};
  if (from) {
    Window* w = findLocked(from);
    if (!w) return 0;
    a = originLocked(w);
  }
  if (to) {
    Window* w = findLocked(to);
    if (!w) return 0;
    b = originLocked(w);
  }
  LONG dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; i < count; ++i) {
    pts[i].x += dx;
    pts[i].y += dy;
  }
  return MAKELONG((WORD)(short)dx, (WORD)(short)dy);
}

namespace {
// Runs fn where the platform moves a window: on the window's own thread. A caller on another
// thread (of any process) waits for that thread to take it, as for a sent message, and
// handles messages sent to itself meanwhile.
BOOL onOwnerThread(HWND h, const std::function<BOOL()>& fn) {
  ThreadInfo* me = self();
  DWORD tid = 0;
  {
    Guard g(state().lock);
    Window* w = findLocked(h);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->thread && w->thread != me) tid = w->thread->tid;
  }
  if (!tid) return fn();
  BOOL r = FALSE;
  if (!runOnThread(tid, [&] { r = fn(); })) return FALSE;
  return r;
}

BOOL moveHere(HWND h, int x, int y, int width, int height) {
  Guard g(state().lock);
  Window* w = findLocked(h);
  if (!w) return FALSE;
  w->rect = RECT{x, y, x + width, y + height};
  return TRUE;
}

BOOL setPosHere(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
  State& s = state();
  Guard g(s.lock);
  Window* w = findLocked(h);
  if (!w) return FALSE;
  RECT& r = w->rect;
  if (!(flags & SWP_NOMOVE)) {
    LONG wd = r.right - r.left, ht = r.bottom - r.top;
    r = RECT{x, y, x + wd, y + ht};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
  if (flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
  if (!(flags & SWP_NOZORDER)) {
    if (after == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
    if (after == HWND_NOTOPMOST) w->exStyle &= ~WS_EX_TOPMOST;
    if (Window* p = findLocked(w->parent)) {
      auto& c = p->children;
      c.erase(std::remove(c.begin(), c.end(), h), c.end());
      if (after == HWND_BOTTOM)
        c.push_back(h);
      else
        c.insert(c.begin(), h);
    }
  }
  return TRUE;
}

}  // namespace

BOOL MoveWindow(HWND h, int x, int y, int width, int height, BOOL) {
  return onOwnerThread(h, [=] { return moveHere(h, x, y, width, height); });
}

BOOL SetWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
  return onOwnerThread(h, [=] { return setPosHere(h, after, x, y, cx, cy, flags); });
}

HWND WindowFromPoint(POINT pt) {
  Guard g(state().lock);
  Window* w = windowFromPointLocked(pt);
  return w ? w->handle : nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT pt) {
  Guard g(state().lock);
  Window* p = findLocked(parent);
  if (!p) return nullptr;
  RECT client{0, 0, p->rect.right - p->rect.left, p->rect.bottom - p->rect.top};
  if (!PtInRect(&client, pt)) return nullptr;
  for (HWND c : p->children) {
    Window* cw = findLocked(c);
    if (cw && PtInRect(&cw->rect, pt)) return c;
  }
  return parent;
}

BOOL PtInRect(const RECT* r, POINT pt) {
  return r && pt.x >= r->left && pt.x < r->right && pt.y >= r->top && pt.y < r->bottom;
}

BOOL SetRect(LPRECT r, int l, int t, int rt, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, rt, b};
  return TRUE;
}

BOOL OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}

BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }

int GetSystemMetrics(int index) {
  Guard g(state().lock);
  if (index == SM_CXSCREEN) return state().screenW;
  if (index == SM_CYSCREEN) return state().screenH;
  return 0;
}

// ---- focus and activation -------------------------------------------------------------------
namespace w32subst {
namespace detail {
void activate(HWND root, int how) {
  ThreadInfo* me = self();
  HWND old;
  {
    Guard g(state().lock);
    Window* w = findLocked(root);
    if (!w || w->thread != me) return;
    old = me->active;
    if (old == root) {
      state().foreground = root;
      return;
    }
  }
  CBTACTIVATESTRUCT cas{how == WA_CLICKACTIVE, old};
  if (runHooks(WH_CBT, HCBT_ACTIVATE, (WPARAM)root, (LPARAM)&cas) != 0) return;
  {
    State& s = state();
    Guard g(s.lock);
    if (!findLocked(root)) return;
    me->active = root;
    s.foreground = root;
    auto& c = s.desktop->children;
    c.erase(std::remove(c.begin(), c.end(), root), c.end());
    c.insert(c.begin(), root);
  }
  if (old && IsWindow(old)) SendMessageA(old, WM_ACTIVATE, WA_INACTIVE, (LPARAM)root);
  SendMessageA(root, WM_ACTIVATE, (WPARAM)how, (LPARAM)old);
}
}  // namespace detail
}  // namespace w32subst

HWND SetFocus(HWND h) {
  ThreadInfo* me = self();
  HWND old;
  HWND root = nullptr;
  {
    Guard g(state().lock);
    old = me->focus;
    if (h) {
      Window* w = findLocked(h);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->thread != me) return nullptr;
      root = rootLocked(w);
    }
    if (old == h) return old;
  }
  if (h && runHooks(WH_CBT, HCBT_SETFOCUS, (WPARAM)h, (LPARAM)old) != 0) return nullptr;
  if (root) {
    bool inactive;
    {
      Guard g(state().lock);
      inactive = me->active != root;
    }
    if (inactive) activate(root, WA_ACTIVE);
  }
  {
    Guard g(state().lock);
    old = me->focus;
    if (old == h) return old;
    if (h && !findLocked(h)) return nullptr;
    me->focus = h;
  }
  if (old && IsWindow(old)) SendMessageA(old, WM_KILLFOCUS, (WPARAM)h, 0);
  if (h) SendMessageA(h, WM_SETFOCUS, (WPARAM)old, 0);
  return old;
}

HWND GetFocus(void) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  return me->focus;
}

HWND GetActiveWindow(void) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  return me->active;
}

HWND SetActiveWindow(HWND h) {
  HWND old = GetActiveWindow();
  HWND root = GetAncestor(h, GA_ROOT);
  if (!root) return nullptr;
  activate(root, WA_ACTIVE);
  return old;
}

HWND GetForegroundWindow(void) {
  Guard g(state().lock);
  return state().foreground;
}

BOOL SetForegroundWindow(HWND h) {
  ThreadInfo* me = self();
  HWND root = GetAncestor(h, GA_ROOT);
  if (!root) return FALSE;
  DWORD tid = 0;
  {
    State& s = state();
    Guard g(s.lock);
    Window* w = findLocked(root);
    if (!w || !w->thread) return FALSE;
    s.foreground = root;
    auto& c = s.desktop->children;
    c.erase(std::remove(c.begin(), c.end(), root), c.end());
    c.insert(c.begin(), root);
    if (w->thread != me) tid = w->thread->tid;
  }
  // Activation (HCBT_ACTIVATE, WM_ACTIVATE) runs on the window's own thread.
  if (tid)
    postToThread(tid, [root] { activate(root, WA_ACTIVE); });
  else
    activate(root, WA_ACTIVE);
  return TRUE;
}

void SwitchToThisWindow(HWND h, BOOL) {
  {
    Guard g(state().lock);
    Window* w = findLocked(h);
    if (!w) return;
    if (w->style & WS_MINIMIZE) w->style &= ~WS_MINIMIZE;
  }
  SetForegroundWindow(h);
}

BOOL BringWindowToTop(HWND h) { return SetForegroundWindow(h); }

HWND SetCapture(HWND h) {
  Guard g(state().lock);
  HWND old = state().capture;
  state().capture = findLocked(h) ? h : nullptr;
  return old;
}

BOOL ReleaseCapture(void) {
  Guard g(state().lock);
  state().capture = nullptr;
  return TRUE;
}

HWND GetCapture(void) {
  Guard g(state().lock);
  return state().capture;
}

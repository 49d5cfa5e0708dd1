// The per-client controls inside the mail client: the child enumeration that learns each
// compose window's controls (and adds the library's buttons in Foxmail), the subclassed window
// procedures and the call-window-procedure hooks that turn clicks into menus and requests.
// Everything here runs on the mail client's UI thread.
#include "DebugLine.h"
#include "HookProcs.h"
#include "hook/PostwingHook.h"
#include "hook/PostwingWindRegistry.h"

#include <ace/Guard_T.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> RecursiveGuard;
using pwhook::debugf;

namespace {
long num(HWND h) { return (long)(intptr_t)h; }

std::string classOf(HWND h) {
  char cls[101] = {0};
  if (h) GetClassNameA(h, cls, 101);
  return cls;
}

bool isEnterpriseItem(UINT id) { return id == ID_FOXMAIL_ENTERPRISE || id == ID_OUTLOOK_ENTERPRISE; }
bool isOwnItem(UINT id) { return id == ID_FOXMAIL_OWN || id == ID_OUTLOOK_OWN; }

std::shared_ptr<PostwingWind> windOf(HWND h) { return PostwingWindRegistry::instance().findByChild(h); }

// The object of the root the shared section names, with the window added to its known
// children; none (and a line) when this process has no such object.
std::shared_ptr<PostwingWind> enumTarget(int kind, HWND hWnd, const char* name) {
  HWND root = sharedRootOf(kind);
  auto wind = PostwingWindRegistry::instance().find(num(root));
  if (!wind) {
    debugf("%s. not found PostwingWind. hRoot=%ld,hWnd=%ld", name, num(root), num(hWnd));
    return nullptr;
  }
  wind->addChild(hWnd);
  return wind;
}

WNDPROC subclass(HWND h, WNDPROC proc) { return (WNDPROC)SetWindowLongPtrA(h, GWLP_WNDPROC, (LONG_PTR)proc); }

// Subclasses the window as the object's container unless it has one already.
void takeContainer(PostwingWind& wind, HWND hWnd, WNDPROC proc, const char* name) {
  {
    RecursiveGuard g(wind.listMutex());
    if (wind.container_) return;
  }
  debugf("%s. setProc. hRoot=%ld,hWnd=%ld", name, num(wind.root()), num(hWnd));
  WNDPROC prev = subclass(hWnd, proc);
  if (!prev) return;  // refused: a later candidate may still be taken
  RecursiveGuard g(wind.listMutex());
  wind.container_ = hWnd;
  wind.containerPrevProc_ = prev;
}

// One of the library's toolbar buttons: flat, with a bitmap of the library's resources.
HWND createButton(PostwingWind& wind, HWND parent, int id, int x, int y, int cx, int cy, UINT bitmap) {
  HINSTANCE mod = PostwingWindRegistry::moduleHandle();
  HWND button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_FLAT | BS_BITMAP, x, y, cx, cy,
                                parent, (HMENU)(intptr_t)id, mod, nullptr);
  if (!button) return nullptr;
  HBITMAP image = LoadBitmapA(mod, MAKEINTRESOURCEA(bitmap));
  wind.keepBitmap(image);
  SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)image);
  ShowWindow(button, SW_SHOW);
  wind.addChild(button);
  return button;
}

bool buttonIsLive(HWND button) { return button && classOf(button) == "Button"; }

// Already one of the recipient controls (the enumeration runs again when a compose window
// was hooked before its form was complete). Under the list mutex.
bool isRecipient(const PostwingWind& wind, HWND hWnd) {
  return hWnd == wind.to_ || hWnd == wind.cc_ || hWnd == wind.bcc_;
}

// WM_DESTROY of a subclassed container: the object goes (sending "mailWindowsClosed",
// restoring the procedures, unhooking), then the control's own procedure, kept aside before
// the object put it back, sees the message.
LRESULT destroyContainer(const std::shared_ptr<PostwingWind>& wind, WNDPROC prev, HWND h, UINT m, WPARAM w,
                         LPARAM l) {
  PostwingWindRegistry::instance().removeWind(num(wind->root()));
  return CallWindowProcA(prev, h, m, w, l);
}

// The menu's commands, common to every subclassed control; true when handled (swallowed).
bool menuCommand(PostwingWind& wind, UINT id, WNDPROC prev) {
  if (isEnterpriseItem(id)) {
    wind.showAddrDialog();
    return true;
  }
  if (isOwnItem(id)) {
    wind.sendMessageByParam(prev);
    return true;
  }
  return false;
}

const LPARAM kLabelPoint = 1572901;  // (37, 24): the "To" label of the Foxmail 7 layout manager
const WPARAM kStripDown = 88, kStripUp = 77;
const int kLayoutMenuWidth = 58, kEditStripWidth = 60;
}  // namespace

// ---- Foxmail 7 ------------------------------------------------------------------------------

LRESULT CALLBACK WindowProc_Foxmail(HWND h, UINT m, WPARAM w, LPARAM l);
LRESULT CALLBACK newWindowProc_Edit(HWND h, UINT m, WPARAM w, LPARAM l);

BOOL CALLBACK EnumChild_Foxmail(HWND hWnd, LPARAM) {
  auto wind = enumTarget(KIND_FOXMAIL7, hWnd, "EnumChild_Foxmail");
  if (!wind) return FALSE;
  std::string cls = classOf(hWnd);
  if (cls == "TLayoutManager") {
    takeContainer(*wind, hWnd, WindowProc_Foxmail, "EnumChild_Foxmail");
  } else if (cls == "TFMZRichEdit" || cls == "TFMZRichEdit.UnicodeClass") {
    HWND* slot = nullptr;
    WNDPROC* prevSlot = nullptr;
    {
      RecursiveGuard g(wind->listMutex());
      if (isRecipient(*wind, hWnd)) return TRUE;  // learned by an earlier enumeration
      if (!wind->bcc_) slot = &wind->bcc_, prevSlot = &wind->bccPrevProc_;
      else if (!wind->cc_) slot = &wind->cc_, prevSlot = &wind->ccPrevProc_;
      else if (!wind->to_) slot = &wind->to_, prevSlot = &wind->toPrevProc_;
    }
    if (slot) {
      WNDPROC prev = subclass(hWnd, newWindowProc_Edit);
      RecursiveGuard g(wind->listMutex());
      *slot = hWnd;
      *prevSlot = prev;
    }
  } else if (cls == "Chrome_RenderWidgetHostHWND") {
    RecursiveGuard g(wind->listMutex());
    wind->editor_ = hWnd;
  } else if (cls == "TTBXDock") {
    HWND toolbar = GetWindow(hWnd, GW_CHILD);
    HWND panel = classOf(toolbar) == "TTBXToolbar" ? GetWindow(toolbar, GW_CHILD) : nullptr;
    bool have;
    {
      RecursiveGuard g(wind->listMutex());
      have = wind->button1_ || wind->button2_;
    }
    if (panel && classOf(panel) == "TXPanel" && !have) {
      HWND first = createButton(*wind, panel, 12345, 0, 8, 22, 21, IDB_BUTTON_ADDR);
      HWND second = createButton(*wind, panel, 123567, 27, 8, 22, 21, IDB_BUTTON_ATTACH);
      RecursiveGuard g(wind->listMutex());
      wind->button1_ = first;
      wind->button2_ = second;
    }
  }
  return TRUE;
}

LRESULT CALLBACK WindowProc_Foxmail(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto wind = windOf(h);
  if (!wind) return 0;
  WNDPROC prev = wind->controls().containerPrev;
  long root = num(wind->root());
  switch (m) {
    case UM_OPENFOXWND:
      debugf("WindowProc_Foxmail UM_OPENFOXWND, hRoot:%ld,hwnd:%ld,uMsg:%d,WPARAM[%ld],LPARAM[%ld]", root, num(h),
             (int)m, (long)w, (long)l);
      PostMessageA(h, WM_LBUTTONDOWN, kStripDown, l);
      PostMessageA(h, WM_LBUTTONUP, kStripUp, l);
      break;
    case WM_LBUTTONDOWN: {
      POINT pt = messagePos();
      RECT r = screenClientRect(h);
      debugf("pt.x=%d,pt.y=%d, rect.left=%d,rect.right=%d,rect.bottom=%d,rect.top=%d", (int)pt.x, (int)pt.y,
             (int)r.left, (int)r.right, (int)r.bottom, (int)r.top);
      debugf("WindowProc_Foxmail. WM_LBUTTONDOWN, hRoot:%ld,hwnd:%ld,uMsg:%d,WPARAM[%ld],LPARAM[%ld] x[%d] y[%d]", root,
             num(h), (int)m, (long)w, (long)l, GET_X_LPARAM(l), GET_Y_LPARAM(l));
      wind->recordMessage(m, h, w, w == kStripDown ? kLabelPoint : l);
      break;
    }
    case WM_LBUTTONUP: {
      debugf("WindowProc_Foxmail. WM_LBUTTONUP, hRoot:%ld,hwnd:%ld,uMsg:%d,WPARAM[%ld],LPARAM[%ld] x[%d] y[%d]", root,
             num(h), (int)m, (long)w, (long)l, GET_X_LPARAM(l), GET_Y_LPARAM(l));
      wind->recordMessage(m, h, w, w == kStripUp ? kLabelPoint : l);
      bool shown = w == kStripUp ? wind->showEditMenu(h) : wind->showMenu(h);
      if (shown) return 1;
      break;
    }
    case WM_COMMAND:
      OutputDebugStringA("WindowProc_Foxmail. WM_COMMAND");
      debugf("WindowProc_Foxmail wmId=%d, hId=%d, lParam=%ld", (int)LOWORD(w), (int)HIWORD(w), (long)l);
      if (menuCommand(*wind, LOWORD(w), prev)) return 1;
      break;
    case WM_DESTROY:
      OutputDebugStringA("WindowProc_Foxmail. WM_DESTROY");
      return destroyContainer(wind, prev, h, m, w, l);
  }
  return CallWindowProcA(prev, h, m, w, l);
}

namespace {
// The cursor lies in the rightmost strip of the edit's client area.
bool cursorInStrip(HWND edit, POINT* cursor, RECT* strip) {
  GetCursorPos(cursor);
  *strip = screenClientRect(edit);
  if (strip->right - strip->left > kEditStripWidth) strip->left = strip->right - kEditStripWidth;
  return PtInRect(strip, *cursor) != FALSE;
}
}  // namespace

LRESULT CALLBACK newWindowProc_Edit(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto wind = windOf(h);
  if (!wind) return 0;
  PostwingWind::Controls c = wind->controls();
  WNDPROC prev = h == c.to ? c.toPrev : h == c.cc ? c.ccPrev : h == c.bcc ? c.bccPrev : nullptr;
  if (!prev) return 0;
  long root = num(wind->root());
  if (h == c.to && m != WM_SETCURSOR && m != WM_NCHITTEST && m != WM_MOUSEMOVE && m != WM_ENTERIDLE)
    debugf("newWindowProc_Edit, hRoot:%ld,hwnd:%ld,uMsg:%d,WPARAM[%ld],LPARAM[%ld]", root, num(h), (int)m, (long)w,
           (long)l);
  POINT pt;
  RECT strip;
  switch (m) {
    case WM_LBUTTONDOWN:
      if (cursorInStrip(h, &pt, &strip) && GetFocus() == h) {
        PostMessageA(GetParent(h), UM_OPENFOXWND, w, l);
        OutputDebugStringA("newWindowProc_Edit --- down ---------------------");
        return 1;
      }
      OutputDebugStringA("newWindowProc_Edit --- down  not PtInRect ---------------------");
      break;
    case WM_MOUSEACTIVATE:
      if (HIWORD(l) != WM_LBUTTONDOWN) break;
      OutputDebugStringA("newWindowProc_Edit. WM_MOUSEACTIVATE...WM_LBUTTONDOWN");
      {
        bool in = cursorInStrip(h, &pt, &strip);
        debugf("newWindowProc_Edit , hRoot:%ld,hwnd:%ld,pt.x:%d,pt.y:%ld, cRect.left[%ld], cRect.right[%ld]", root,
               num(h), (int)pt.x, (long)pt.y, (long)strip.left, (long)strip.right);
        if (in && GetFocus() == h) {
          PostMessageA(GetParent(h), UM_OPENFOXWND, w, l);
          OutputDebugStringA("newWindowProc_Edit WM_MOUSEACTIVATE --- down ---------------------");
        } else {
          OutputDebugStringA("newWindowProc_Edit WM_MOUSEACTIVATE --- down  not PtInRect ---------------------");
        }
      }
      return 1;
    case WM_NCLBUTTONDOWN:
      OutputDebugStringA("newWindowProc_Edit. WM_NCLBUTTONDOWN");
      return 1;
    case WM_COMMAND:
      OutputDebugStringA("newWindowProc_Edit. WM_COMMAND");
      debugf("newWindowProc_Edit wmId=%d, hId=%d, hEdit=%ld", (int)LOWORD(w), (int)HIWORD(w), num(h));
      if (menuCommand(*wind, LOWORD(w), prev)) return 1;
      break;
  }
  return CallWindowProcA(prev, h, m, w, l);
}

// Foxmail 7: a command from one of the library's two buttons becomes its request and ends
// here; every other event goes on down the chain.
LRESULT CALLBACK CallWndProc_Foxmail(int code, WPARAM w, LPARAM l) {
  std::shared_ptr<PostwingWind> wind;
  if (code >= 0 && l) {
    const CWPSTRUCT* cwp = (const CWPSTRUCT*)l;
    if (cwp->message == WM_COMMAND) {
      wind = windOf(cwp->hwnd);
      PostwingWind::Controls c = wind ? wind->controls() : PostwingWind::Controls();
      // Our buttons are told apart by their handles: the second one's id does not fit in
      // the 16 bits WM_COMMAND carries.
      HWND from = (HWND)cwp->lParam;
      if (wind && buttonIsLive(c.button2) && from && (from == c.button1 || from == c.button2)) {
        if (from == c.button2)
          wind->showAttachDialog();
        else
          wind->showAddrDialog();
        debugf("hwnd:%d,wParam:%ld,buttonWnd:%ld,procWParam:%ld", (int)num(cwp->hwnd), (long)cwp->wParam,
               num(c.button2), (long)w);
        return 0;
      }
    }
  }
  HHOOK next = wind ? wind->cwpHook() : (HHOOK)(uintptr_t)g_hFoxmailCWPHook.load();
  return CallNextHookEx(next, code, w, l);
}

// ---- Foxmail 7.0 ----------------------------------------------------------------------------

LRESULT CALLBACK WindowProc_Foxmail70(HWND h, UINT m, WPARAM w, LPARAM l);

BOOL CALLBACK EnumChild_Foxmail70(HWND hWnd, LPARAM) {
  auto wind = enumTarget(KIND_FOXMAIL70, hWnd, "EnumChild_Foxmail70");
  if (!wind) return FALSE;
  std::string cls = classOf(hWnd);
  if (cls == "TXPanel" && classOf(GetWindow(hWnd, GW_CHILD)) == "TTBXButton") {
    takeContainer(*wind, hWnd, WindowProc_Foxmail70, "EnumChild_Foxmail70");
  } else if (cls == "TZRichEdit") {
    RecursiveGuard g(wind->listMutex());
    if (isRecipient(*wind, hWnd)) return TRUE;
    if (!wind->bcc_) wind->bcc_ = hWnd;
    else if (!wind->cc_) wind->cc_ = hWnd;
    else if (!wind->to_) wind->to_ = hWnd;
  } else if (cls == "Internet Explorer_Server") {
    RecursiveGuard g(wind->listMutex());
    wind->editor_ = hWnd;
  } else if (cls == "TTBXDock") {
    HWND toolbar = GetWindow(hWnd, GW_CHILD);
    bool have;
    {
      RecursiveGuard g(wind->listMutex());
      have = wind->button2_ != nullptr;
    }
    if (!have && classOf(toolbar) == "TTBXToolbar" && GetWindowTextLengthA(toolbar) == 0) {
      HWND button = createButton(*wind, toolbar, 12345, 400, 0, 33, 24, IDB_BUTTON_ADDR);
      RecursiveGuard g(wind->listMutex());
      wind->button2_ = button;
    }
  }
  return TRUE;
}

LRESULT CALLBACK WindowProc_Foxmail70(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto wind = windOf(h);
  if (!wind) return 0;
  WNDPROC prev = wind->controls().containerPrev;
  switch (m) {
    case WM_PARENTNOTIFY: {
      int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
      debugf("WindowProc_Foxmail70. WM_PARENTNOTIFY ntId:%d,x:%d,y:%d", (int)LOWORD(w), x, y);
      if (LOWORD(w) == WM_LBUTTONDOWN && x >= 2 && x <= 79) {
        wind->recordMessage(m, h, w, l);
        wind->showMenu(h);
        return 1;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      OutputDebugStringA("WindowProc_Foxmail70. WM_LBUTTONDOWN");
      wind->recordMessage(m, h, w, l);
      break;
    case WM_LBUTTONUP:
      OutputDebugStringA("WindowProc_Foxmail70. WM_LBUTTONUP");
      if (wind->showMenu(h)) return 1;
      break;
    case WM_MOUSEACTIVATE:
      debugf("WindowProc_Foxmail70. WM_MOUSEACTIVATE rId:%d", (int)HIWORD(l));
      if (HIWORD(l) == WM_LBUTTONDOWN) return 1;
      break;
    case WM_COMMAND:
      debugf("WindowProc_Foxmail70. WM_COMMAND wmId:%d,ntId:%d,className:%s", (int)LOWORD(w), (int)HIWORD(w),
             classOf((HWND)l).c_str());
      if (menuCommand(*wind, LOWORD(w), prev)) return 1;
      break;
    case WM_DESTROY:
      OutputDebugStringA("WindowProc_Foxmail70. WM_DESTROY");
      return destroyContainer(wind, prev, h, m, w, l);
  }
  return CallWindowProcA(prev, h, m, w, l);
}

namespace {
// Foxmail 7.0 and Outlook: the attach button (the second one) asks for the upload dialog; the
// event always goes on.
LRESULT attachButtonHook(int code, WPARAM w, LPARAM l, bool writeLine) {
  if (code >= 0 && l) {
    const CWPSTRUCT* cwp = (const CWPSTRUCT*)l;
    if (cwp->message == WM_COMMAND) {
      PostwingWindRegistry& registry = PostwingWindRegistry::instance();
      auto wind = registry.find(registry.findRoot(cwp->hwnd));
      if (wind) {
        PostwingWind::Controls c = wind->controls();
        if (buttonIsLive(c.button2) && (HWND)cwp->lParam == c.button2) {
          if (writeLine)
            debugf("hwnd:%d,wParam:%ld,buttonWnd:%ld", (int)num(cwp->hwnd), (long)cwp->wParam, num(c.button2));
          wind->showAttachDialog();
        }
      }
    }
  }
  return CallNextHookEx(nullptr, code, w, l);
}
}  // namespace

LRESULT CALLBACK CallWndProc_Foxmail70(int code, WPARAM w, LPARAM l) { return attachButtonHook(code, w, l, false); }

// ---- Outlook --------------------------------------------------------------------------------

LRESULT CALLBACK WindowProc_Outlook(HWND h, UINT m, WPARAM w, LPARAM l);

BOOL CALLBACK EnumChild_Outlook(HWND hWnd, LPARAM) {
  auto wind = enumTarget(KIND_OUTLOOK, hWnd, "EnumChild_Outlook");
  if (!wind) return FALSE;
  std::string cls = classOf(hWnd);
  if (cls.compare(0, 6, "#32770") == 0) {
    takeContainer(*wind, hWnd, WindowProc_Outlook, "EnumChild_Outlook");
  } else if (cls == "RichEdit20WPT") {
    int id = GetDlgCtrlID(hWnd);
    RecursiveGuard g(wind->listMutex());
    if (id == 4097) wind->to_ = hWnd;
    else if (id == 4098) wind->cc_ = hWnd;
    else if (id == 4100) wind->bcc_ = hWnd;
  } else if (cls == "_WwG") {
    RecursiveGuard g(wind->listMutex());
    wind->editor_ = hWnd;
  }
  return TRUE;
}

LRESULT CALLBACK WindowProc_Outlook(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto wind = windOf(h);
  if (!wind) return 0;
  WNDPROC prev = wind->controls().containerPrev;
  switch (m) {
    case WM_COMMAND: {
      OutputDebugStringA("WindowProc_Outlook. WM_COMMAND");
      UINT id = LOWORD(w);
      if (HIWORD(w) == 0 && id >= 4353 && id <= 4355) {  // the To, Cc and Bcc buttons
        wind->recordMessage(m, h, w, l);
        wind->showMenu(h);
        return 1;
      }
      if (menuCommand(*wind, id, prev)) return 1;
      break;
    }
    case WM_DESTROY:
      OutputDebugStringA("WindowProc_Outlook. WM_DESTROY");
      return destroyContainer(wind, prev, h, m, w, l);
  }
  return CallWindowProcA(prev, h, m, w, l);
}

LRESULT CALLBACK CallWndProc_Outlook(int code, WPARAM w, LPARAM l) { return attachButtonHook(code, w, l, true); }

// The automation used by tests.
#include "duilib/UIAutomation.h"

#include "duilib/UICommonControls.h"

#include <cstring>
#include <string>

namespace DuiLib {
namespace Automation {

namespace {
thread_local std::function<void(WindowImplBase&)>* t_answer = nullptr;

POINT centre(CControlUI* c) {
  RECT rc = c->GetPos();
  return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void send(CControlUI* c, int type, POINT pt, WPARAM w = 0, LPARAM l = 0, TCHAR key = 0) {
  TEventUI ev;
  ev.Type = type;
  ev.pSender = c;
  ev.ptMouse = pt;
  ev.wParam = w;
  ev.lParam = l;
  ev.chKey = key;
  ev.dwTimestamp = GetTickCount();
  c->Event(ev);
}

// What a user can reach: a visible, enabled control in a window that is visible and enabled
// (a modal dialog disables its owner). A control of a manager without a window has only its
// own state to check.
bool reachable(CControlUI* c) {
  if (!c || !c->IsVisible() || !c->IsEnabled()) return false;
  CPaintManagerUI* pm = c->GetManager();
  HWND h = pm ? pm->GetPaintWindow() : nullptr;
  if (!h) return true;
  HWND root = GetAncestor(h, GA_ROOT);
  return IsWindowEnabled(root) && IsWindowVisible(root);
}

bool windowReachable(CWindowWnd& wnd) {
  HWND root = GetAncestor(wnd.GetHWND(), GA_ROOT);
  return root && IsWindowEnabled(root) && IsWindowVisible(root);
}

// A press moves the focus to the control, as the window does for a real click.
void focusForPress(CControlUI* c) {
  if (c->GetManager() && c->IsEnabled() && c->IsVisible()) c->GetManager()->SetFocus(c);
}
}  // namespace

CControlUI* Find(CPaintManagerUI& pm, LPCTSTR name) { return pm.FindControl(name); }

CControlUI* Find(WindowImplBase& wnd, LPCTSTR name) { return wnd.GetPaintManager().FindControl(name); }

CWindowWnd* FindWindowByClass(LPCTSTR className) {
  HWND h = FindWindowA(className, nullptr);
  return h ? CWindowWnd::FromHandle(h) : nullptr;
}

bool Click(CControlUI* c) {
  if (!reachable(c)) return false;
  POINT pt = centre(c);
  focusForPress(c);
  send(c, UIEVENT_BUTTONDOWN, pt);
  send(c, UIEVENT_BUTTONUP, pt);
  return true;
}

bool DoubleClick(CControlUI* c) {
  if (!reachable(c)) return false;
  POINT pt = centre(c);
  focusForPress(c);
  send(c, UIEVENT_BUTTONDOWN, pt);
  send(c, UIEVENT_BUTTONUP, pt);
  send(c, UIEVENT_DBLCLICK, pt);
  send(c, UIEVENT_BUTTONUP, pt);
  return true;
}

bool PressAndLeave(CControlUI* c) {
  if (!reachable(c)) return false;
  RECT rc = c->GetPos();
  focusForPress(c);
  send(c, UIEVENT_BUTTONDOWN, centre(c));
  send(c, UIEVENT_BUTTONUP, POINT{rc.right + 10, rc.bottom + 10});
  return true;
}

bool RightClick(CControlUI* c) {
  if (!reachable(c)) return false;
  POINT pt = centre(c);
  send(c, UIEVENT_RBUTTONDOWN, pt);
  send(c, UIEVENT_CONTEXTMENU, pt);
  return true;
}

bool ContextMenu(CControlUI* c) {
  if (!reachable(c)) return false;
  send(c, UIEVENT_CONTEXTMENU, centre(c));
  return true;
}

bool MouseEnter(CControlUI* c) {
  if (!reachable(c)) return false;
  send(c, UIEVENT_MOUSEENTER, centre(c));
  return true;
}

bool SetCursorOver(CControlUI* c) {
  if (!reachable(c)) return false;
  send(c, UIEVENT_SETCURSOR, centre(c));
  return true;
}

bool Drag(CControlUI* c, POINT from, POINT to, int steps) {
  if (!reachable(c)) return false;
  if (steps < 1) steps = 1;
  send(c, UIEVENT_BUTTONDOWN, from, MK_LBUTTON, MAKELPARAM(from.x, from.y));
  for (int i = 1; i <= steps; ++i) {
    POINT p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
    send(c, UIEVENT_MOUSEMOVE, p, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  }
  send(c, UIEVENT_BUTTONUP, to, 0, MAKELPARAM(to.x, to.y));
  return true;
}

bool MouseMove(CWindowWnd& wnd, POINT pt) {
  if (!windowReachable(wnd)) return false;
  ::SendMessageA(wnd.GetHWND(), WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
  return true;
}

bool Focus(CControlUI* c) {
  if (!reachable(c) || !c->GetManager()) return false;
  c->GetManager()->SetFocus(c);
  return true;
}

void Blur(CControlUI* c) {
  if (c && c->GetManager() && c->GetManager()->GetFocus() == c) c->GetManager()->SetFocus(nullptr);
}

bool TypeText(CControlUI* c, LPCTSTR text) {
  auto* e = c ? static_cast<CEditUI*>(c->GetInterface("Edit")) : nullptr;
  if (!e || !reachable(e) || e->IsReadOnly()) return false;
  // The box takes at most maxchar characters of the program's narrow text (bytes; a
  // double-byte character is never split), as the platform's edit limits what is typed.
  std::string typed = text ? text : "";
  int limit = e->GetMaxChar();
  if (limit > 0 && typed.size() > (size_t)limit) {
    size_t n = 0;
    while (n < typed.size()) {
      size_t step = ((unsigned char)typed[n] & 0x80) && n + 1 < typed.size() ? 2 : 1;
      if (n + step > (size_t)limit) break;
      n += step;
    }
    typed.resize(n);
  }
  e->SetText(typed.c_str());
  if (e->GetManager()) e->GetManager()->SendNotify(e, DUI_MSGTYPE_TEXTCHANGED);
  return true;
}

bool PressReturn(CControlUI* c) {
  if (!reachable(c)) return false;
  send(c, UIEVENT_KEYDOWN, POINT{0, 0}, VK_RETURN, 0, (TCHAR)VK_RETURN);
  return true;
}

void HoldKey(CWindowWnd& wnd, int vk, bool down) {
  SetForegroundWindow(wnd.GetHWND());
  if (!GetFocus()) ::SetFocus(wnd.GetHWND());
  keybd_event((BYTE)vk, 0, down ? 0 : KEYEVENTF_KEYUP, 0);
  Pump();
}

bool Check(CControlUI* c, bool checked) {
  auto* o = c ? static_cast<COptionUI*>(c->GetInterface("Option")) : nullptr;
  if (!o || !reachable(o)) return false;
  if (o->IsSelected() != checked) Click(o);
  return true;
}

bool Select(CControlUI* item) { return Click(item); }

int Pump(int maxMessages) {
  MSG msg;
  int n = 0;
  while (n < maxMessages && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage((int)msg.wParam);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++n;
  }
  return n;
}

ScopedModalAnswer::ScopedModalAnswer(std::function<void(WindowImplBase&)> answer) {
  if (t_answer) previous_ = *t_answer;
  delete t_answer;
  t_answer = new std::function<void(WindowImplBase&)>(std::move(answer));
}

ScopedModalAnswer::~ScopedModalAnswer() {
  delete t_answer;
  t_answer = previous_ ? new std::function<void(WindowImplBase&)>(previous_) : nullptr;
}

void RunModalAnswer(CWindowWnd* wnd) {
  auto* w = dynamic_cast<WindowImplBase*>(wnd);
  if (!w || !t_answer || !*t_answer) return;
  std::function<void(WindowImplBase&)> answer = *t_answer;  // the answer may set another one
  answer(*w);
}

}  // namespace Automation
}  // namespace DuiLib

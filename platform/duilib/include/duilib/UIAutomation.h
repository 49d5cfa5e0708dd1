// Test side of the UI library: what a person would do with the mouse and the keyboard, done to
// controls by name. The system's own code never calls these. UI thread of the window only
// (a test drives a window from the thread that runs it, or through w32subst::runOnThread).
#pragma once

#include "duilib/UIWindow.h"

#include <functional>

namespace DuiLib {
namespace Automation {

CControlUI* Find(CPaintManagerUI& pm, LPCTSTR name);
CControlUI* Find(WindowImplBase& wnd, LPCTSTR name);
// A live window made by this library on any thread, by its class name, or null.
CWindowWnd* FindWindowByClass(LPCTSTR className);

// Only what a user can do: each call below that acts on a control does nothing and returns false
// when the control is missing, hidden or disabled, or its window is hidden or disabled (as a
// modal dialog disables its owner).
//
// Mouse, with the events a control gets (codes in UIBase.h), at the control's centre.
bool Click(CControlUI* ctrl);          // button-down, button-up
bool DoubleClick(CControlUI* ctrl);    // down, up, double click, up
bool PressAndLeave(CControlUI* ctrl);  // down inside, up outside: no activation
bool RightClick(CControlUI* ctrl);     // right button-down, context menu
bool ContextMenu(CControlUI* ctrl);
bool MouseEnter(CControlUI* ctrl);
bool SetCursorOver(CControlUI* ctrl);
// Down at from, steps moves along the line, up at to (window client coordinates).
bool Drag(CControlUI* ctrl, POINT from, POINT to, int steps = 4);
// WM_MOUSEMOVE to the window, as a pointer moving over it.
bool MouseMove(CWindowWnd& wnd, POINT pt = POINT{1, 1});

// Keyboard and focus.
bool Focus(CControlUI* ctrl);  // through the manager: "killfocus" to the old, "setfocus" here
void Blur(CControlUI* ctrl);   // the window keeps no focused control
// A user's edit: when the box can be reached and is not read-only, its text becomes text, cut
// to the box's maxchar (narrow characters, never splitting a double-byte one), and
// "textchanged" is sent; otherwise nothing changes. False when nothing changed.
bool TypeText(CControlUI* edit, LPCTSTR text);
bool PressReturn(CControlUI* edit);

// Presses (down) or releases a key as keyboard input to the window, and handles it, so that
// GetKeyState on this thread sees it (Shift and Ctrl for list selection).
void HoldKey(CWindowWnd& wnd, int vk, bool down);

// A left click on a rich edit's link (index in GetLinks order): EN_LINK with WM_LBUTTONDOWN,
// then with WM_LBUTTONUP, as the control sends them. False when the control is hidden or
// disabled, sends no link notifications, or has no such link (UIRichEdit.cpp).
bool ClickLink(CControlUI* richEdit, int index);

// Options and check boxes: clicks the control when its state differs from the wish.
bool Check(CControlUI* option, bool checked);
// A list row: clicked (selected through its list).
bool Select(CControlUI* listItem);

// Handles the calling thread's queued messages until none is left (at most maxMessages).
int Pump(int maxMessages = 10000);

// Each ShowModal started on the calling thread while set calls the answerer once, from inside
// its loop, after the window's "windowinit". The answerer acts like the user (clicks a
// button...). Cleared when the scope ends.
class ScopedModalAnswer {
 public:
  explicit ScopedModalAnswer(std::function<void(WindowImplBase&)> answer);
  ~ScopedModalAnswer();
  ScopedModalAnswer(const ScopedModalAnswer&) = delete;
  ScopedModalAnswer& operator=(const ScopedModalAnswer&) = delete;

 private:
  std::function<void(WindowImplBase&)> previous_;
};
// Used by ShowModal.
void RunModalAnswer(CWindowWnd* wnd);

}  // namespace Automation
}  // namespace DuiLib

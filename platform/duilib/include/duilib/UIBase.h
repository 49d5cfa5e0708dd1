// Basic types of our headless UI library stand-in: text, points and rectangles, events,
// notifications, delegates and the callback interfaces.
// Thread rule for the whole library: a window, its paint manager and its controls belong to the
// thread that created the window ("UI thread only"); only what says "any thread" may be called
// from elsewhere.
#pragma once

#include "win32/windows.h"

#include <cstdarg>
#include <string>
#include <vector>

// Generic-text names as the system's code spells them (the narrow build: text is GBK).
typedef char TCHAR;
typedef char* LPTSTR;
typedef const char* LPCTSTR;
#ifndef _T
#define _T(x) x
#endif
#ifndef SendMessage
#define SendMessage SendMessageA
#endif
#ifndef PostMessage
#define PostMessage PostMessageA
#endif
#ifndef WM_CONTEXTMENU
#define WM_CONTEXTMENU 0x007B
#endif
#ifndef SC_MINIMIZE
#define SC_MINIMIZE 0xF020
#endif
#ifndef SC_CLOSE
#define SC_CLOSE 0xF060
#endif
#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#endif
#ifndef DT_CALCRECT
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_NOPREFIX 0x00000800
#define DT_CALCRECT 0x00000400
#define DT_END_ELLIPSIS 0x00008000
#endif

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// ---- text -----------------------------------------------------------------------------------
// A narrow string (GBK inside the program). Value type; no thread rule of its own.
class CDuiString {
 public:
  CDuiString() = default;
  CDuiString(const char* s, int len = -1);
  CDuiString(char c) : s_(1, c) {}
  CDuiString(const std::string& s) : s_(s) {}

  int GetLength() const { return (int)s_.size(); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  LPCTSTR GetData() const { return s_.c_str(); }
  operator LPCTSTR() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  TCHAR GetAt(int i) const { return (i >= 0 && i < GetLength()) ? s_[i] : '\0'; }
  void SetAt(int i, TCHAR c) {
    if (i >= 0 && i < GetLength()) s_[i] = c;
  }
  TCHAR operator[](int i) const { return GetAt(i); }
  void Append(LPCTSTR s) { s_ += s ? s : ""; }
  void Assign(LPCTSTR s, int len = -1);

  CDuiString& operator=(LPCTSTR s) {
    s_ = s ? s : "";
    return *this;
  }
  CDuiString& operator=(TCHAR c) {
    s_.assign(1, c);
    return *this;
  }
  CDuiString& operator+=(const CDuiString& o) {
    s_ += o.s_;
    return *this;
  }
  CDuiString& operator+=(LPCTSTR s) {
    Append(s);
    return *this;
  }
  CDuiString& operator+=(TCHAR c) {
    s_ += c;
    return *this;
  }
  friend CDuiString operator+(const CDuiString& a, const CDuiString& b) { return CDuiString(a.s_ + b.s_); }
  friend CDuiString operator+(const CDuiString& a, LPCTSTR b) { return CDuiString(a.s_ + (b ? b : "")); }
  friend CDuiString operator+(LPCTSTR a, const CDuiString& b) { return CDuiString((a ? a : "") + b.s_); }
  bool operator==(LPCTSTR s) const { return s_ == (s ? s : ""); }
  bool operator!=(LPCTSTR s) const { return !(*this == s); }
  bool operator==(const CDuiString& o) const { return s_ == o.s_; }
  bool operator!=(const CDuiString& o) const { return s_ != o.s_; }
  bool operator<(const CDuiString& o) const { return s_ < o.s_; }

  int Compare(LPCTSTR s) const;
  int CompareNoCase(LPCTSTR s) const;  // ASCII letters only, as the platform's lstrcmpi for GBK
  void MakeUpper();
  void MakeLower();
  CDuiString Left(int n) const;
  CDuiString Mid(int pos, int n = -1) const;
  CDuiString Right(int n) const;
  int Find(TCHAR c, int pos = 0) const;
  int Find(LPCTSTR s, int pos = 0) const;
  int Replace(LPCTSTR from, LPCTSTR to);
  // printf-style; the result replaces the text. Returns the new length.
  int Format(LPCTSTR fmt, ...);
  int FormatV(LPCTSTR fmt, va_list ap);

 private:
  std::string s_;
};

// A skin name or a resource id, as the builder takes it.
class STRINGorID {
 public:
  STRINGorID(LPCTSTR s) : m_lpstr(s) {}
  STRINGorID(UINT id) : m_lpstr(MAKEINTRESOURCEA(id)) {}
  LPCTSTR m_lpstr;
};

// ---- geometry helpers (Win32 rectangle rules: right and bottom exclusive) -------------------
// The Win32 stand-in does not offer these; the library keeps its own.
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b);  // FALSE (and empty) when apart
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b);
bool RectContains(const RECT& rc, POINT pt);

// ---- monitors (the Win32 stand-in has none; the library keeps one primary monitor) ----------
#ifndef MONITOR_DEFAULTTOPRIMARY
#define MONITOR_DEFAULTTONULL 0x00000000
#define MONITOR_DEFAULTTOPRIMARY 0x00000001
#define MONITOR_DEFAULTTONEAREST 0x00000002
#endif
typedef struct HMONITOR__* HMONITOR;
struct MONITORINFO {
  DWORD cbSize;
  RECT rcMonitor;
  RECT rcWork;
  DWORD dwFlags;
};
// Any thread. The monitor is the screen of the Win32 stand-in; its work area is the whole
// screen unless SetMonitorWorkArea gave another.
HMONITOR MonitorFromWindow(HWND hWnd, DWORD dwFlags);
BOOL GetMonitorInfo(HMONITOR hMonitor, MONITORINFO* lpmi);
void SetMonitorWorkArea(const RECT* rcWork);  // null: back to the whole screen

// ---- events ---------------------------------------------------------------------------------
// Event codes delivered to controls (TEventUI::Type).
enum {
  UIEVENT__FIRST = 1,
  UIEVENT_KEYDOWN = 3,
  UIEVENT_KEYUP = 4,
  UIEVENT_CHAR = 5,
  UIEVENT_MOUSEMOVE = 9,
  UIEVENT_MOUSELEAVE = 10,
  UIEVENT_MOUSEENTER = 11,
  UIEVENT_MOUSEHOVER = 12,
  UIEVENT_BUTTONDOWN = 13,
  UIEVENT_BUTTONUP = 14,
  UIEVENT_RBUTTONDOWN = 15,
  UIEVENT_DBLCLICK = 16,
  UIEVENT_CONTEXTMENU = 17,
  UIEVENT_SCROLLWHEEL = 18,
  UIEVENT_KILLFOCUS = 20,
  UIEVENT_SETFOCUS = 21,
  UIEVENT_WINDOWSIZE = 22,
  UIEVENT_SETCURSOR = 23,
  UIEVENT_TIMER = 24,
  UIEVENT_NOTIFY = 25,
  UIEVENT_COMMAND = 26,
  // This build's "end drag and open the context menu" event.
  UIEVENT_ENDDRAGMENU = 28,
  UIEVENT__LAST = 29,
};

// Button state bits (CButtonUI, list elements).
enum {
  UISTATE_FOCUSED = 0x01,
  UISTATE_SELECTED = 0x02,
  UISTATE_DISABLED = 0x04,
  UISTATE_HOT = 0x08,
  UISTATE_PUSHED = 0x10,
  UISTATE_READONLY = 0x20,
  UISTATE_CAPTURED = 0x40,
};

struct TEventUI {
  int Type = 0;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse{0, 0};
  TCHAR chKey = 0;
  WORD wKeyState = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

struct TNotifyUI {
  CDuiString sType;
  CDuiString sVirtualWnd;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse{0, 0};
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Notification types.
#define DUI_MSGTYPE_WINDOWINIT _T("windowinit")
#define DUI_MSGTYPE_CLICK _T("click")
#define DUI_MSGTYPE_SELECTCHANGED _T("selectchanged")
#define DUI_MSGTYPE_TEXTCHANGED _T("textchanged")
#define DUI_MSGTYPE_SETFOCUS _T("setfocus")
#define DUI_MSGTYPE_KILLFOCUS _T("killfocus")
#define DUI_MSGTYPE_RETURN _T("return")
#define DUI_MSGTYPE_MENU _T("menu")
#define DUI_MSGTYPE_ITEMSELECT _T("itemselect")
#define DUI_MSGTYPE_ITEMCLICK _T("itemclick")
#define DUI_MSGTYPE_ITEMACTIVATE _T("itemactivate")
#define DUI_MSGTYPE_VALUECHANGED _T("valuechanged")
#define DUI_MSGTYPE_TIMER _T("timer")

// ---- callback interfaces --------------------------------------------------------------------
class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

class IMessageFilterUI {
 public:
  virtual ~IMessageFilterUI() = default;
  virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

class IDialogBuilderCallback {
 public:
  virtual ~IDialogBuilderCallback() = default;
  // The control for a skin element the builder does not know, or null.
  virtual CControlUI* CreateControl(LPCTSTR pstrClass) = 0;
};

// ---- delegates (a control's OnEvent) --------------------------------------------------------
class CDelegateBase {
 public:
  virtual ~CDelegateBase() = default;
  virtual CDelegateBase* Copy() const = 0;
  virtual bool Invoke(void* param) = 0;
  // Same target object and function.
  virtual bool Equals(const CDelegateBase& o) const = 0;
  bool operator()(void* param) { return Invoke(param); }
};

class CDelegateStatic : public CDelegateBase {
 public:
  typedef bool (*Fn)(void*);
  explicit CDelegateStatic(Fn fn) : fn_(fn) {}
  CDelegateBase* Copy() const override { return new CDelegateStatic(*this); }
  bool Invoke(void* param) override { return fn_(param); }
  bool Equals(const CDelegateBase& o) const override {
    auto* d = dynamic_cast<const CDelegateStatic*>(&o);
    return d && d->fn_ == fn_;
  }

 private:
  Fn fn_;
};

template <class O, class T>
class CDelegate : public CDelegateBase {
 public:
  typedef bool (T::*Fn)(void*);
  CDelegate(O* obj, Fn fn) : obj_(obj), fn_(fn) {}
  CDelegateBase* Copy() const override { return new CDelegate(*this); }
  bool Invoke(void* param) override { return (obj_->*fn_)(param); }
  bool Equals(const CDelegateBase& o) const override {
    auto* d = dynamic_cast<const CDelegate*>(&o);
    return d && d->obj_ == obj_ && d->fn_ == fn_;
  }

 private:
  O* obj_;
  Fn fn_;
};

template <class O, class T>
CDelegate<O, T> MakeDelegate(O* obj, bool (T::*fn)(void*)) {
  return CDelegate<O, T>(obj, fn);
}
inline CDelegateStatic MakeDelegate(bool (*fn)(void*)) { return CDelegateStatic(fn); }

// An ordered list of delegates. operator() calls them in order and stops at the first that
// returns false (that result is returned).
class CEventSource {
 public:
  CEventSource() = default;
  ~CEventSource();
  CEventSource(const CEventSource&) = delete;
  CEventSource& operator=(const CEventSource&) = delete;
  explicit operator bool() const { return !delegates_.empty(); }
  void operator+=(const CDelegateBase& d);
  void operator+=(bool (*fn)(void*)) { *this += MakeDelegate(fn); }
  void operator-=(const CDelegateBase& d);
  bool operator()(void* param);

 private:
  std::vector<CDelegateBase*> delegates_;
};

}  // namespace DuiLib

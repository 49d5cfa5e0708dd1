// CWindowWnd: a window of the Win32 stand-in driven by a C++ object; WindowImplBase: a window
// built from a skin, with its paint manager. UI thread only: the thread that calls Create owns
// the window; Close and PostMessage may be called from any thread.
//
// Life of a window: Create registers the class and creates the window (WM_CREATE builds the
// skin); the first WM_PAINT, posted when the window is shown, lays it out and sends
// "windowinit"; Close(ret) posts WM_CLOSE with ret; the default handling of WM_CLOSE destroys
// the window; at WM_NCDESTROY the object forgets its handle and OnFinalMessage runs (where a
// window may delete itself). An object deleted while its window still exists leaves the window
// to the default procedure. ShowModal runs the calling thread's message loop until the window
// is gone and returns the code that Close gave.
#pragma once

#include "duilib/UIDlgBuilder.h"
#include "duilib/UIManager.h"

namespace DuiLib {

#define UI_WNDSTYLE_FRAME (WS_VISIBLE | WS_OVERLAPPEDWINDOW)
#define UI_WNDSTYLE_DIALOG (WS_VISIBLE | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)
#define UI_CLASSSTYLE_FRAME (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS)
#define UI_CLASSSTYLE_DIALOG (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS)

class CWindowWnd {
 public:
  CWindowWnd() = default;
  virtual ~CWindowWnd();
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  bool RegisterWindowClass();
  HWND Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT rc,
              HMENU hMenu = nullptr);
  HWND Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
              int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = nullptr);
  void ShowWindow(bool bShow = true, bool bTakeFocus = true);
  // Modal loop on the calling thread: the owner is disabled while it runs; messages of every
  // window of the thread (and work sent from other threads) are handled. Returns the code of
  // the Close that ended it, 0 when the window went away otherwise. A WM_QUIT ends the loop and
  // is posted again for the outer loop.
  UINT ShowModal();
  void Close(UINT nRet = IDOK);  // any thread
  void CenterWindow();           // over the owner, or the screen
  void SetIcon(UINT nRes);
  UINT GetIcon() const { return m_nIcon; }
  LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  void ResizeClient(int cx = -1, int cy = -1);

  // The object behind a window made by this library, or null (UI thread of that window).
  static CWindowWnd* FromHandle(HWND hWnd);

 protected:
  virtual LPCTSTR GetWindowClassName() const = 0;
  virtual LPCTSTR GetSuperClassName() const { return nullptr; }
  virtual UINT GetClassStyle() const { return 0; }
  virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  virtual void OnFinalMessage(HWND hWnd) {}
  static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  UINT m_nIcon = 0;
};

class WindowImplBase : public CWindowWnd, public INotifyUI, public IMessageFilterUI,
                       public IDialogBuilderCallback {
 public:
  WindowImplBase() = default;
  ~WindowImplBase() override = default;

  virtual void InitWindow() {}
  void OnFinalMessage(HWND hWnd) override;
  void Notify(TNotifyUI& msg) override {}
  virtual void OnClick(TNotifyUI& msg) {}
  CPaintManagerUI& GetPaintManager() { return m_PaintManager; }

 protected:
  virtual CDuiString GetSkinFolder() = 0;
  virtual CDuiString GetSkinFile() = 0;
  virtual LPCTSTR GetResourceType() const { return nullptr; }
  UINT GetClassStyle() const override { return CS_DBLCLKS; }
  CControlUI* CreateControl(LPCTSTR pstrClass) override { return nullptr; }
  LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
  virtual LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnKeyDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnKillFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnSetFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LONG GetStyle() { return 0; }
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;

  CPaintManagerUI m_PaintManager;
};

// Text measuring with a fixed stand-in font: every byte is 7 pixels wide, a line 16 high.
class CRenderEngine {
 public:
  static void DrawText(HDC hDC, CPaintManagerUI* pManager, RECT& rc, LPCTSTR pstrText, DWORD dwTextColor,
                       int iFont, UINT uStyle);
  static void DrawHtmlText(HDC hDC, CPaintManagerUI* pManager, RECT& rc, LPCTSTR pstrText, DWORD dwTextColor,
                           RECT* pLinks, CDuiString* sLinks, int& nLinkRects, UINT uStyle);
};

}  // namespace DuiLib

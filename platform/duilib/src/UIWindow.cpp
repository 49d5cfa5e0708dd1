// CWindowWnd, WindowImplBase and the text measuring.
#include "duilib/UIWindow.h"

#include "duilib/UIAutomation.h"

#include <cstring>
#include <map>
#include <mutex>

namespace DuiLib {

namespace {
// Every live window of this library, for FromHandle and the automation.
struct Registry {
  std::mutex lock;  // guards windows
  std::map<HWND, CWindowWnd*> windows;
};
Registry& registry() {
  static Registry* r = new Registry();  // never destroyed
  return *r;
}

UINT modalAnswerMessage() {
  static UINT m = RegisterWindowMessageA("PW_DuiLib_ModalAnswer");
  return m;
}
}  // namespace

CWindowWnd::~CWindowWnd() {
  // An object deleted while its window lives: the window's later messages must not reach it.
  if (m_hWnd && IsWindow(m_hWnd) &&
      GetWindowLongPtrA(m_hWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this))
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
  std::lock_guard<std::mutex> g(registry().lock);
  for (auto it = registry().windows.begin(); it != registry().windows.end();) {
    if (it->second == this)
      it = registry().windows.erase(it);
    else
      ++it;
  }
}

CWindowWnd* CWindowWnd::FromHandle(HWND hWnd) {
  std::lock_guard<std::mutex> g(registry().lock);
  auto it = registry().windows.find(hWnd);
  return it == registry().windows.end() ? nullptr : it->second;
}

bool CWindowWnd::RegisterWindowClass() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = GetClassStyle();
  wc.lpfnWndProc = &CWindowWnd::__WndProc;
  wc.hInstance = CPaintManagerUI::GetInstance();
  wc.lpszClassName = GetWindowClassName();
  ATOM a = RegisterClassExA(&wc);
  return a != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT rc,
                        HMENU hMenu) {
  return Create(hwndParent, pstrName, dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                hMenu);
}

HWND CWindowWnd::Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx,
                        int cy, HMENU hMenu) {
  if (!RegisterWindowClass()) return nullptr;
  HWND h = CreateWindowExA(dwExStyle, GetWindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                           CPaintManagerUI::GetInstance(), this);
  if (h && IsWindow(h) && (dwStyle & WS_VISIBLE)) ::PostMessageA(h, WM_PAINT, 0, 0);  // its first paint
  return IsWindow(h) ? h : nullptr;
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
  if (!IsWindow(m_hWnd)) return;
  ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
  if (bShow) ::PostMessageA(m_hWnd, WM_PAINT, 0, 0);
}

UINT CWindowWnd::ShowModal() {
  HWND h = m_hWnd;  // this object may delete itself when its window goes
  if (!IsWindow(h)) return 0;
  HWND owner = GetWindow(h, GW_OWNER);
  ::ShowWindow(h, SW_SHOWNORMAL);
  ::PostMessageA(h, WM_PAINT, 0, 0);
  ::PostMessageA(h, modalAnswerMessage(), 0, 0);
  if (owner) EnableWindow(owner, FALSE);
  MSG msg{};
  UINT nRet = 0;
  bool quit = false;
  while (IsWindow(h)) {
    BOOL r = GetMessageA(&msg, nullptr, 0, 0);
    if (r <= 0) {
      quit = r == 0;
      break;
    }
    if (msg.hwnd == h && msg.message == modalAnswerMessage()) {
      if (CWindowWnd* w = FromHandle(h)) Automation::RunModalAnswer(w);
      continue;
    }
    if (msg.hwnd == h && msg.message == WM_CLOSE) {
      nRet = (UINT)msg.wParam;
      if (owner) EnableWindow(owner, TRUE);
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (owner && IsWindow(owner)) {
    EnableWindow(owner, TRUE);
    ::SetFocus(owner);
  }
  if (quit) PostQuitMessage((int)msg.wParam);
  return nRet;
}

void CWindowWnd::Close(UINT nRet) {
  HWND h = m_hWnd;
  if (!IsWindow(h)) return;
  ::PostMessageA(h, WM_CLOSE, (WPARAM)nRet, 0);
}

void CWindowWnd::CenterWindow() {
  if (!IsWindow(m_hWnd)) return;
  RECT rc;
  GetWindowRect(m_hWnd, &rc);
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &area);
  int w = rc.right - rc.left, hgt = rc.bottom - rc.top;
  int x = (area.left + area.right - w) / 2, y = (area.top + area.bottom - hgt) / 2;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT nRes) { m_nIcon = nRes; }

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
  RECT rc;
  if (!GetClientRect(m_hWnd, &rc)) return;
  if (cx < 0) cx = rc.right - rc.left;
  if (cy < 0) cy = rc.bottom - rc.top;
  SetWindowPos(m_hWnd, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CWindowWnd* pThis = nullptr;
  if (uMsg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    pThis = static_cast<CWindowWnd*>(cs->lpCreateParams);
    pThis->m_hWnd = hWnd;
    SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
    std::lock_guard<std::mutex> g(registry().lock);
    registry().windows[hWnd] = pThis;
  } else {
    pThis = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (uMsg == WM_NCDESTROY && pThis) {
      LRESULT r = DefWindowProcA(hWnd, uMsg, wParam, lParam);
      SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
      {
        std::lock_guard<std::mutex> g(registry().lock);
        registry().windows.erase(hWnd);
      }
      pThis->m_hWnd = nullptr;
      pThis->OnFinalMessage(hWnd);
      return r;
    }
  }
  if (pThis) return pThis->HandleMessage(uMsg, wParam, lParam);
  return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// ---- WindowImplBase -------------------------------------------------------------------------
void WindowImplBase::OnFinalMessage(HWND) {
  m_PaintManager.RemoveMessageFilter(this);
  m_PaintManager.RemoveNotifier(this);
  m_PaintManager.RemoveAllTimers();
}

LRESULT WindowImplBase::MessageHandler(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
  switch (wParam & 0xFFF0) {
    case SC_MINIMIZE:
      ::ShowWindow(m_hWnd, SW_MINIMIZE);
      return 0;
    case SC_CLOSE:
      ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
      return 0;
    default:
      bHandled = FALSE;
      return 0;
  }
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  m_PaintManager.Init(m_hWnd);
  m_PaintManager.SetSkinFolder(GetSkinFolder());
  m_PaintManager.AddMessageFilter(this);
  CDialogBuilder builder;
  CControlUI* root = builder.Create(GetSkinFile().GetData(), GetResourceType(), this, &m_PaintManager);
  if (!root) {
    OutputDebugStringA("WindowImplBase: the window's skin cannot be built");
    return -1;  // the window is not created
  }
  m_PaintManager.AttachDialog(root);
  m_PaintManager.AddNotifier(this);
  InitWindow();
  return 0;
}

LRESULT WindowImplBase::OnKeyDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnKillFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  LRESULT lRes = 0;
  BOOL bHandled = TRUE;
  switch (uMsg) {
    case WM_CREATE:
      lRes = OnCreate(uMsg, wParam, lParam, bHandled);
      break;
    case WM_CLOSE:
      lRes = OnClose(uMsg, wParam, lParam, bHandled);
      break;
    case WM_DESTROY:
      lRes = OnDestroy(uMsg, wParam, lParam, bHandled);
      break;
    case WM_SYSCOMMAND:
      lRes = OnSysCommand(uMsg, wParam, lParam, bHandled);
      break;
    case WM_KEYDOWN:
      lRes = OnKeyDown(uMsg, wParam, lParam, bHandled);
      break;
    case WM_KILLFOCUS:
      lRes = OnKillFocus(uMsg, wParam, lParam, bHandled);
      break;
    case WM_SETFOCUS:
      lRes = OnSetFocus(uMsg, wParam, lParam, bHandled);
      break;
    case WM_MOUSEMOVE:
      lRes = OnMouseMove(uMsg, wParam, lParam, bHandled);
      break;
    default:
      bHandled = FALSE;
      break;
  }
  if (bHandled) return lRes;
  lRes = HandleCustomMessage(uMsg, wParam, lParam, bHandled);
  if (bHandled) return lRes;
  if (m_PaintManager.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
  return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

// ---- text measuring -------------------------------------------------------------------------
namespace {
void measure(RECT& rc, const std::string& text, UINT uStyle) {
  if (!(uStyle & DT_CALCRECT)) return;
  int lines = 1, widest = 0, cur = 0;
  for (char c : text) {
    if (c == '\n' && !(uStyle & DT_SINGLELINE)) {
      ++lines;
      cur = 0;
      continue;
    }
    if (c == '\r') continue;
    cur += 7;
    if (cur > widest) widest = cur;
  }
  rc.right = rc.left + widest;
  rc.bottom = rc.top + 16 * lines;
}
}  // namespace

void CRenderEngine::DrawText(HDC, CPaintManagerUI*, RECT& rc, LPCTSTR pstrText, DWORD, int, UINT uStyle) {
  measure(rc, pstrText ? pstrText : "", uStyle);
}

void CRenderEngine::DrawHtmlText(HDC, CPaintManagerUI*, RECT& rc, LPCTSTR pstrText, DWORD, RECT*, CDuiString*,
                                 int& nLinkRects, UINT uStyle) {
  std::string plain;
  bool inTag = false;
  for (const char* p = pstrText ? pstrText : ""; *p; ++p) {
    if (*p == '<' || *p == '{') inTag = true;
    if (!inTag) plain += *p;
    if (*p == '>' || *p == '}') inTag = false;
  }
  nLinkRects = 0;
  measure(rc, plain, uStyle);
}

}  // namespace DuiLib

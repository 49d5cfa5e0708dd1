// CControlUI.
#include "duilib/UIControl.h"

#include "duilib/UIManager.h"

#include <cstdlib>
#include <cstring>

namespace DuiLib {

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  OnDestroy(this);
  if (m_pManager) m_pManager->ReapObjects(this);
}

LPCTSTR CControlUI::GetClass() const { return _T("ControlUI"); }

LPVOID CControlUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "Control") == 0) return this;
  return nullptr;
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::SetName(LPCTSTR pstrName) {
  if (m_nNameKey != 0 && m_pManager) m_pManager->ForgetName(this);
  m_sName = pstrName;
  if (m_pManager) m_pManager->RememberName(this);
}

void CControlUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
  if (m_nNameKey != 0 && m_pManager && m_pManager != pManager) m_pManager->ForgetName(this);
  m_pManager = pManager;
  m_pParent = pParent;
  if (m_pManager) m_pManager->RememberName(this);
  if (bInit && m_pParent) Init();
}

void CControlUI::SetText(LPCTSTR pstrText) {
  if (m_sText == pstrText) return;
  m_sText = pstrText;
  Invalidate();
}

const RECT& CControlUI::GetPos() const {
  if (m_pManager) m_pManager->UpdateLayout();
  return m_rcItem;
}

void CControlUI::SetPos(RECT rc, bool) {
  if (rc.right < rc.left) rc.right = rc.left;
  if (rc.bottom < rc.top) rc.bottom = rc.top;
  m_rcItem = rc;
  m_bUpdateNeeded = false;
}

void CControlUI::SetPadding(RECT rc) {
  m_rcPadding = rc;
  NeedParentUpdate();
}

void CControlUI::SetFixedWidth(int cx) {
  if (cx < 0) return;
  m_cxyFixed.cx = cx;
  NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
  if (cy < 0) return;
  m_cxyFixed.cy = cy;
  NeedParentUpdate();
}

SIZE CControlUI::EstimateSize(SIZE) { return m_cxyFixed; }

void CControlUI::SetVisible(bool bVisible) {
  if (m_bVisible == bVisible) return;
  bool was = IsVisible();
  m_bVisible = bVisible;
  if (m_bFocused && !bVisible) m_bFocused = false;
  if (IsVisible() != was) NeedParentUpdate();
}

void CControlUI::SetInternVisible(bool bVisible) {
  bool was = IsVisible();
  m_bInternVisible = bVisible;
  if (IsVisible() != was) NeedParentUpdate();
}

void CControlUI::SetEnabled(bool bEnable) {
  if (m_bEnabled == bEnable) return;
  m_bEnabled = bEnable;
  Invalidate();
}

void CControlUI::SetFocus() {
  if (m_pManager) m_pManager->SetFocus(this);
}

CControlUI* CControlUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
  if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if ((uFlags & UIFIND_HITTEST) && (!m_bMouseEnabled || !RectContains(m_rcItem, *static_cast<POINT*>(pData))))
    return nullptr;
  return Proc(this, pData);
}

void CControlUI::Invalidate() {
  if (!IsVisible() || !m_pManager) return;
  RECT rc = m_rcItem;
  m_pManager->Invalidate(rc);
}

void CControlUI::NeedUpdate() {
  if (!IsVisible()) return;
  m_bUpdateNeeded = true;
  if (m_pManager) m_pManager->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
  if (m_pParent) {
    m_pParent->NeedUpdate();
  } else {
    NeedUpdate();
  }
  if (m_pManager) m_pManager->NeedUpdate();
}

void CControlUI::DoPaint(HDC, const RECT&) {}

void CControlUI::Event(TEventUI& event) {
  if (OnEvent(&event)) DoEvent(event);
}

void CControlUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_SETFOCUS) {
    m_bFocused = true;
    return;
  }
  if (event.Type == UIEVENT_KILLFOCUS) {
    m_bFocused = false;
    return;
  }
  if (event.Type == UIEVENT_CONTEXTMENU && IsContextMenuUsed() && m_pManager) {
    m_pManager->SendNotify(this, DUI_MSGTYPE_MENU, event.wParam, event.lParam);
    return;
  }
  if (m_pParent) m_pParent->DoEvent(event);
}

void CControlUI::Init() {
  DoInit();
  OnInit(this);
}

RECT ParseRect(LPCTSTR s) {
  RECT rc{0, 0, 0, 0};
  if (!s) return rc;
  char* end = nullptr;
  LONG* f[4] = {&rc.left, &rc.top, &rc.right, &rc.bottom};
  const char* p = s;
  for (int i = 0; i < 4 && *p; ++i) {
    *f[i] = (LONG)strtol(p, &end, 10);
    if (end == p) break;
    p = end;
    while (*p == ',' || *p == ' ') ++p;
  }
  return rc;
}

SIZE ParseSize(LPCTSTR s) {
  RECT rc = ParseRect(s);
  return SIZE{rc.left, rc.top};
}

bool ParseBool(LPCTSTR s) { return s && (strcmp(s, "true") == 0 || strcmp(s, "1") == 0); }

DWORD ParseColor(LPCTSTR s) {
  if (!s) return 0;
  while (*s == '#' || *s == ' ') ++s;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
  return (DWORD)strtoul(s, nullptr, 16);
}

void CControlUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
  std::string n(pstrName ? pstrName : "");
  if (n == "name") {
    SetName(pstrValue);
  } else if (n == "text") {
    SetText(pstrValue);
  } else if (n == "tooltip") {
    SetToolTip(pstrValue);
  } else if (n == "userdata") {
    SetUserData(pstrValue);
  } else if (n == "tag") {
    SetTag((UINT_PTR)strtoull(pstrValue, nullptr, 10));
  } else if (n == "visible") {
    SetVisible(ParseBool(pstrValue));
  } else if (n == "enabled") {
    SetEnabled(ParseBool(pstrValue));
  } else if (n == "mouse") {
    SetMouseEnabled(ParseBool(pstrValue));
  } else if (n == "width") {
    SetFixedWidth(atoi(pstrValue));
  } else if (n == "height") {
    SetFixedHeight(atoi(pstrValue));
  } else if (n == "padding") {
    SetPadding(ParseRect(pstrValue));
  } else if (n == "bkimage") {
    SetBkImage(pstrValue);
  } else if (n == "bkcolor") {
    SetBkColor(ParseColor(pstrValue));
  } else if (n == "bordercolor") {
    SetBorderColor(ParseColor(pstrValue));
  } else if (n == "bordersize") {
    SetBorderSize(atoi(pstrValue));
  } else if (n == "menu") {
    SetContextMenuUsed(ParseBool(pstrValue));
  }
  // Other attributes (pictures, fonts, cursors...) only matter for painting.
}

void CControlUI::ApplyAttributeList(LPCTSTR pstrList) {
  // name="value" pairs separated by blanks; '\"' is not special.
  const char* p = pstrList;
  if (!p) return;
  while (*p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (!*p) break;
    const char* nameStart = p;
    while (*p && *p != '=' && *p != ' ') ++p;
    std::string name(nameStart, (size_t)(p - nameStart));
    while (*p == ' ') ++p;
    if (*p != '=') return;
    ++p;
    while (*p == ' ') ++p;
    char quote = *p;
    if (quote != '"' && quote != '\'') return;
    ++p;
    const char* valueStart = p;
    while (*p && *p != quote) ++p;
    if (!*p) return;
    std::string value(valueStart, (size_t)(p - valueStart));
    ++p;
    SetAttribute(name.c_str(), value.c_str());
  }
}

}  // namespace DuiLib

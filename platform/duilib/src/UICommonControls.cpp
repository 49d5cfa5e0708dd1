// Labels, buttons, options, edit boxes, progress bars.
#include "duilib/UICommonControls.h"

#include "duilib/UIManager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace DuiLib {

namespace {
bool is(LPCTSTR a, LPCTSTR b) { return a && strcmp(a, b) == 0; }
}  // namespace

LPCTSTR CLabelUI::GetClass() const { return _T("LabelUI"); }
LPVOID CLabelUI::GetInterface(LPCTSTR n) {
  if (is(n, "Label")) return static_cast<CLabelUI*>(this);
  return CControlUI::GetInterface(n);
}

void CLabelUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "font")) {
    SetFont(atoi(v));
  } else if (is(n, "textcolor")) {
    SetTextColor(ParseColor(v));
  } else if (is(n, "textpadding")) {
    SetTextPadding(ParseRect(v));
  } else if (is(n, "showhtml")) {
    SetShowHtml(ParseBool(v));
  } else {
    CControlUI::SetAttribute(n, v);
  }
}

LPCTSTR CTextUI::GetClass() const { return _T("TextUI"); }
LPVOID CTextUI::GetInterface(LPCTSTR n) {
  if (is(n, "Text")) return static_cast<CTextUI*>(this);
  return CLabelUI::GetInterface(n);
}

LPCTSTR CButtonUI::GetClass() const { return _T("ButtonUI"); }
LPVOID CButtonUI::GetInterface(LPCTSTR n) {
  if (is(n, "Button")) return static_cast<CButtonUI*>(this);
  return CLabelUI::GetInterface(n);
}

bool CButtonUI::Activate() {
  if (!CControlUI::Activate()) return false;
  if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_CLICK);
  return true;
}

void CButtonUI::SetEnabled(bool bEnable) {
  CControlUI::SetEnabled(bEnable);
  if (!bEnable) m_uButtonState = 0;
}

void CButtonUI::DoEvent(TEventUI& event) {
  if (!IsMouseEnabled() && event.Type > 8 && event.Type < 20) {
    if (m_pParent) m_pParent->DoEvent(event);
    return;
  }
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
    case UIEVENT_KILLFOCUS:
      CLabelUI::DoEvent(event);
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled() && RectContains(m_rcItem, event.ptMouse)) m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
      return;
    case UIEVENT_MOUSEMOVE:
      if (m_uButtonState & UISTATE_CAPTURED) {
        if (RectContains(m_rcItem, event.ptMouse))
          m_uButtonState |= UISTATE_PUSHED;
        else
          m_uButtonState &= ~UISTATE_PUSHED;
      }
      return;
    case UIEVENT_BUTTONUP:
      if (m_uButtonState & UISTATE_CAPTURED) {
        m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
        if (RectContains(m_rcItem, event.ptMouse)) Activate();
      }
      return;
    case UIEVENT_MOUSEENTER:
      if (IsEnabled()) m_uButtonState |= UISTATE_HOT;
      return;
    case UIEVENT_MOUSELEAVE:
      m_uButtonState &= ~UISTATE_HOT;
      return;
    case UIEVENT_KEYDOWN:
      if (IsEnabled() && (event.chKey == VK_SPACE || event.chKey == VK_RETURN)) Activate();
      return;
    case UIEVENT_SETCURSOR:
      return;
    default:
      CLabelUI::DoEvent(event);
  }
}

void CButtonUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "normalimage")) {
    SetNormalImage(v);
  } else if (is(n, "hotimage")) {
    SetHotImage(v);
  } else if (is(n, "pushedimage")) {
    SetPushedImage(v);
  } else if (is(n, "disabledimage")) {
    SetDisabledImage(v);
  } else {
    CLabelUI::SetAttribute(n, v);
  }
}

LPCTSTR COptionUI::GetClass() const { return _T("OptionUI"); }
LPVOID COptionUI::GetInterface(LPCTSTR n) {
  if (is(n, "Option")) return static_cast<COptionUI*>(this);
  return CButtonUI::GetInterface(n);
}

bool COptionUI::Activate() {
  if (!CButtonUI::Activate()) return false;
  if (!m_sGroupName.IsEmpty())
    Selected(true);
  else
    Selected(!m_bSelected);
  return true;
}

void COptionUI::Selected(bool bSelected) {
  if (m_bSelected == bSelected) return;
  m_bSelected = bSelected;
  if (m_pManager && m_bSelected && !m_sGroupName.IsEmpty() && m_pParent) {
    // One selected option per group within the same container.
    if (auto* parent = static_cast<CContainerUI*>(m_pParent->GetInterface("Container"))) {
      for (int i = 0; i < parent->GetCount(); ++i) {
        auto* o = static_cast<COptionUI*>(parent->GetItemAt(i)->GetInterface("Option"));
        if (o && o != this && o->m_sGroupName == m_sGroupName) o->Selected(false);
      }
    }
  }
  if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_SELECTCHANGED);
  Invalidate();
}

void COptionUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "group")) {
    SetGroup(v);
  } else if (is(n, "selected")) {
    m_bSelected = ParseBool(v);  // skin state: no notification
  } else if (is(n, "selectedimage")) {
    SetSelectedImage(v);
  } else {
    CButtonUI::SetAttribute(n, v);
  }
}

LPCTSTR CCheckBoxUI::GetClass() const { return _T("CheckBoxUI"); }
LPVOID CCheckBoxUI::GetInterface(LPCTSTR n) {
  if (is(n, "CheckBox")) return static_cast<CCheckBoxUI*>(this);
  return COptionUI::GetInterface(n);
}

LPCTSTR CEditUI::GetClass() const { return _T("EditUI"); }
LPVOID CEditUI::GetInterface(LPCTSTR n) {
  if (is(n, "Edit")) return static_cast<CEditUI*>(this);
  return CLabelUI::GetInterface(n);
}

void CEditUI::DoEvent(TEventUI& event) {
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
    case UIEVENT_KILLFOCUS:
      CLabelUI::DoEvent(event);
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled() && m_pManager) m_pManager->SetFocus(this);
      return;
    case UIEVENT_KEYDOWN:
      if (event.chKey == VK_RETURN && m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_RETURN);
      return;
    case UIEVENT_SETCURSOR:
    case UIEVENT_BUTTONUP:
    case UIEVENT_MOUSEMOVE:
    case UIEVENT_MOUSEENTER:
    case UIEVENT_MOUSELEAVE:
      return;
    default:
      CLabelUI::DoEvent(event);
  }
}

void CEditUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "readonly")) {
    SetReadOnly(ParseBool(v));
  } else if (is(n, "password")) {
    SetPasswordMode(ParseBool(v));
  } else if (is(n, "passwordchar")) {
    SetPasswordChar(v && *v ? *v : '*');
  } else if (is(n, "maxchar")) {
    SetMaxChar(atoi(v));
  } else {
    CLabelUI::SetAttribute(n, v);
  }
}

LPCTSTR CRichEditUI::GetClass() const { return _T("RichEditUI"); }
LPVOID CRichEditUI::GetInterface(LPCTSTR n) {
  if (is(n, "RichEdit")) return static_cast<CRichEditUI*>(this);
  return CEditUI::GetInterface(n);
}

LPCTSTR CProgressUI::GetClass() const { return _T("ProgressUI"); }
LPVOID CProgressUI::GetInterface(LPCTSTR n) {
  if (is(n, "Progress")) return static_cast<CProgressUI*>(this);
  return CLabelUI::GetInterface(n);
}

void CProgressUI::SetValue(int n) {
  n = std::max(m_nMin, std::min(n, m_nMax));
  if (n == m_nValue) return;
  m_nValue = n;
  Invalidate();
}

void CProgressUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "min")) {
    SetMinValue(atoi(v));
  } else if (is(n, "max")) {
    SetMaxValue(atoi(v));
  } else if (is(n, "value")) {
    SetValue(atoi(v));
  } else {
    CLabelUI::SetAttribute(n, v);
  }
}

LPCTSTR CSliderUI::GetClass() const { return _T("SliderUI"); }
LPVOID CSliderUI::GetInterface(LPCTSTR n) {
  if (is(n, "Slider")) return static_cast<CSliderUI*>(this);
  return CProgressUI::GetInterface(n);
}

}  // namespace DuiLib

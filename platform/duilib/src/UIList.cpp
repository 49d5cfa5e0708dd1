// Lists and list elements.
#include "duilib/UIList.h"

#include "duilib/UIManager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace DuiLib {

namespace {
bool is(LPCTSTR a, LPCTSTR b) { return a && strcmp(a, b) == 0; }
IListItemUI* itemOf(CControlUI* c) { return c ? static_cast<IListItemUI*>(c->GetInterface("ListItem")) : nullptr; }
bool keyDown(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }
}  // namespace

LPCTSTR CListHeaderUI::GetClass() const { return _T("ListHeaderUI"); }
LPVOID CListHeaderUI::GetInterface(LPCTSTR n) {
  if (is(n, "ListHeader")) return this;
  return CHorizontalLayoutUI::GetInterface(n);
}

CListBaseUI::CListBaseUI() : m_pHeader(new CListHeaderUI()) {}

CListBaseUI::~CListBaseUI() { delete m_pHeader; }

void CListBaseUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
  CVerticalLayoutUI::SetManager(pManager, pParent, bInit);
  m_pHeader->SetManager(pManager, this, bInit);
}

void CListBaseUI::LayoutChildren(RECT rc) {
  CVerticalLayoutUI::LayoutChildren(rc);
  m_aShownRows.clear();
  for (auto* c : m_items)
    if (c->IsVisible()) m_aShownRows.push_back(ShownRow{c, c->m_rcItem.top, c->m_rcItem.bottom});
  m_bShownRowsValid = true;
}

CControlUI* CListBaseUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
  const UINT hit = UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST;
  if ((uFlags & hit) != hit || (uFlags & UIFIND_ME_FIRST) || !m_bShownRowsValid)
    return CVerticalLayoutUI::FindControl(Proc, pData, uFlags);
  if (!IsVisible()) return nullptr;
  if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  const POINT pt = *static_cast<POINT*>(pData);
  if (!RectContains(m_rcItem, pt)) return nullptr;
  // The rows are stacked: the last one whose top is at or above the point, then upwards
  // while a row still reaches below the point (the order a top-first walk tries them).
  auto after = std::upper_bound(m_aShownRows.begin(), m_aShownRows.end(), pt.y,
                                [](LONG y, const ShownRow& r) { return y < r.top; });
  for (auto it = after; it != m_aShownRows.begin();) {
    const ShownRow& shown = *--it;
    if (shown.bottom <= pt.y) break;
    if (CControlUI* r = shown.row->FindControl(Proc, pData, uFlags)) return r;
  }
  return CControlUI::FindControl(Proc, pData, uFlags);
}

void CListBaseUI::Renumber(int from) {
  for (int i = std::max(from, 0); i < GetCount(); ++i)
    if (IListItemUI* it = itemOf(GetItemAt(i))) it->SetIndex(i);
}

bool CListBaseUI::Add(CControlUI* pControl) { return CListBaseUI::AddAt(pControl, GetCount()); }

bool CListBaseUI::AddAt(CControlUI* pControl, int iIndex) {
  if (!CVerticalLayoutUI::AddAt(pControl, iIndex)) return false;
  m_bShownRowsValid = false;
  if (IListItemUI* it = itemOf(pControl)) it->SetOwner(OwnerControl());
  if (m_iCurSel >= iIndex) ++m_iCurSel;
  Renumber(iIndex);
  return true;
}

bool CListBaseUI::Remove(CControlUI* pControl) {
  int i = GetItemIndex(pControl);  // pointer comparison only
  if (i < 0) return false;
  return CListBaseUI::RemoveAt(i);
}

bool CListBaseUI::RemoveAt(int iIndex) {
  m_bShownRowsValid = false;  // before the row may be destroyed
  if (!CVerticalLayoutUI::RemoveAt(iIndex)) return false;
  if (m_iCurSel == iIndex)
    m_iCurSel = -1;
  else if (m_iCurSel > iIndex)
    --m_iCurSel;
  Renumber(iIndex);
  return true;
}

void CListBaseUI::RemoveAll() {
  m_iCurSel = -1;
  m_bShownRowsValid = false;
  CVerticalLayoutUI::RemoveAll();
}

bool CListBaseUI::SetItemIndex(CControlUI* pControl, int iIndex) {
  CControlUI* cur = GetItemAt(m_iCurSel);
  int from = GetItemIndex(pControl);
  if (!CVerticalLayoutUI::SetItemIndex(pControl, iIndex)) return false;
  m_bShownRowsValid = false;
  Renumber(std::min(from, iIndex));
  m_iCurSel = cur ? GetItemIndex(cur) : -1;
  return true;
}

void CListBaseUI::SetAttribute(LPCTSTR n, LPCTSTR v) {
  if (is(n, "header")) {
    m_pHeader->SetVisible(!is(v, "hidden"));
  } else if (is(n, "itemfont")) {
    m_ListInfo.nFont = atoi(v);
  } else if (is(n, "itemtextpadding")) {
    m_ListInfo.rcTextPadding = ParseRect(v);
  } else if (is(n, "itemtextcolor")) {
    m_ListInfo.dwTextColor = ParseColor(v);
  } else if (is(n, "itemselectedtextcolor")) {
    m_ListInfo.dwSelectedTextColor = ParseColor(v);
  } else if (is(n, "itemhottextcolor")) {
    m_ListInfo.dwHotTextColor = ParseColor(v);
  } else if (is(n, "itemdisabledtextcolor")) {
    m_ListInfo.dwDisabledTextColor = ParseColor(v);
  } else if (is(n, "itemshowhtml")) {
    m_ListInfo.bShowHtml = ParseBool(v);
  } else {
    CVerticalLayoutUI::SetAttribute(n, v);
  }
}

// ---- CListUI --------------------------------------------------------------------------------
LPCTSTR CListUI::GetClass() const { return _T("ListUI"); }

LPVOID CListUI::GetInterface(LPCTSTR n) {
  if (is(n, "List")) return static_cast<CListUI*>(this);
  if (is(n, "IList")) return static_cast<IListUI*>(this);
  if (is(n, "IListOwner")) return static_cast<IListOwnerUI*>(this);
  return CVerticalLayoutUI::GetInterface(n);
}

bool CListUI::SelectItem(int iIndex, bool bTakeFocus) {
  if (iIndex == m_iCurSel) return true;
  if (m_iCurSel >= 0)
    if (IListItemUI* old = itemOf(GetItemAt(m_iCurSel))) old->Select(false, true);
  m_iCurSel = -1;
  CControlUI* c = GetItemAt(iIndex);
  IListItemUI* it = itemOf(c);
  if (!it || !c->IsVisible() || !c->IsEnabled()) return false;
  m_iCurSel = iIndex;
  it->Select(true, true);
  if (bTakeFocus && m_pManager) m_pManager->SetFocus(c);
  if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_ITEMSELECT, (WPARAM)m_iCurSel);
  return true;
}

void CListUI::DoEvent(TEventUI& event) { CVerticalLayoutUI::DoEvent(event); }

// ---- CMutilListUI ---------------------------------------------------------------------------
LPCTSTR CMutilListUI::GetClass() const { return _T("MutilListUI"); }

LPVOID CMutilListUI::GetInterface(LPCTSTR n) {
  if (is(n, "MutilList")) return static_cast<CMutilListUI*>(this);
  if (is(n, "IMutilList")) return static_cast<IMutilListUI*>(this);
  if (is(n, "IMutilListOwner")) return static_cast<IMutilListOwnerUI*>(this);
  return CVerticalLayoutUI::GetInterface(n);
}

bool CMutilListUI::SelectItem(int iIndex, bool bTakeFocus) {
  CControlUI* c = GetItemAt(iIndex);
  IListItemUI* it = itemOf(c);
  if (!it || !c->IsEnabled()) return false;
  for (int i = 0; i < GetCount(); ++i)
    if (i != iIndex)
      if (IListItemUI* o = itemOf(GetItemAt(i)))
        if (o->IsSelected()) o->Select(false, true);
  m_iCurSel = iIndex;
  if (!it->IsSelected()) it->Select(true, true);
  if (bTakeFocus && m_pManager) m_pManager->SetFocus(c);
  return true;
}

void CMutilListUI::SelectAll(bool bSelect) {
  for (int i = 0; i < GetCount(); ++i)
    if (IListItemUI* o = itemOf(GetItemAt(i)))
      if (o->IsSelected() != bSelect) o->Select(bSelect, true);
  if (!bSelect) m_iCurSel = -1;
}

bool CMutilListUI::SelectItemCtrl(int iIndex, bool) {
  IListItemUI* it = itemOf(GetItemAt(iIndex));
  if (!it) return false;
  it->Select(!it->IsSelected(), true);
  if (it->IsSelected()) m_iCurSel = iIndex;
  return true;
}

bool CMutilListUI::SelectItemShift(int iIndex, bool bTakeFocus) {
  if (m_iCurSel < 0) return SelectItem(iIndex, bTakeFocus);
  int anchor = m_iCurSel;
  bool ok = SelectRange(std::min(anchor, iIndex), std::max(anchor, iIndex));
  m_iCurSel = anchor;
  return ok;
}

bool CMutilListUI::DBClickItem(int iIndex) {
  CControlUI* c = GetItemAt(iIndex);
  if (!c) return false;
  if (m_pManager) m_pManager->SendNotify(c, DUI_MSGTYPE_ITEMACTIVATE);
  return true;
}

bool CMutilListUI::SelectItemSingle(int iIndex, bool bTakeFocus) { return SelectItem(iIndex, bTakeFocus); }

bool CMutilListUI::SelectRange(int iFrom, int iTo) {
  if (iFrom < 0 || iTo >= GetCount() || iFrom > iTo) return false;
  for (int i = 0; i < GetCount(); ++i)
    if (IListItemUI* o = itemOf(GetItemAt(i))) {
      bool want = i >= iFrom && i <= iTo;
      if (o->IsSelected() != want) o->Select(want, true);
    }
  return true;
}

void CMutilListUI::DoEvent(TEventUI& event) { CVerticalLayoutUI::DoEvent(event); }

// ---- elements -------------------------------------------------------------------------------
namespace {
// Button-down and double click on a row, as the owner of either kind wants them.
void rowMouse(TEventUI& event, int index, IListOwnerUI* owner, IMutilListOwnerUI* mutil) {
  if (mutil) {
    if (event.Type == UIEVENT_DBLCLICK) {
      mutil->DBClickItem(index);
    } else if (keyDown(VK_CONTROL)) {
      mutil->SelectItemCtrl(index, true);
    } else if (keyDown(VK_SHIFT)) {
      mutil->SelectItemShift(index, true);
    } else {
      mutil->SelectItemSingle(index, true);
    }
  } else if (owner) {
    owner->SelectItem(index, true);
  }
}
}  // namespace

LPCTSTR CListElementUI::GetClass() const { return _T("ListElementUI"); }

LPVOID CListElementUI::GetInterface(LPCTSTR n) {
  if (is(n, "ListItem")) return static_cast<IListItemUI*>(this);
  if (is(n, "ListElement") || is(n, "ListElementUI")) return static_cast<CListElementUI*>(this);
  return CControlUI::GetInterface(n);
}

void CListElementUI::SetOwner(CControlUI* pOwner) {
  m_pOwnerControl = pOwner;
  m_pOwner = pOwner ? static_cast<IListOwnerUI*>(pOwner->GetInterface("IListOwner")) : nullptr;
  m_pMutilOwner = pOwner ? static_cast<IMutilListOwnerUI*>(pOwner->GetInterface("IMutilListOwner")) : nullptr;
}

bool CListElementUI::Select(bool bSelect, bool bTriggerEvent) {
  if (!IsEnabled()) return false;
  if (bSelect == m_bSelected) return true;
  m_bSelected = bSelect;
  if (bTriggerEvent && bSelect && m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_ITEMSELECT, (WPARAM)m_iIndex);
  Invalidate();
  return true;
}

void CListElementUI::SetVisible(bool bVisible) {
  if (!bVisible && m_bSelected) {
    m_bSelected = false;
  }
  CControlUI::SetVisible(bVisible);
}

void CListElementUI::DoEvent(TEventUI& event) {
  if (!IsEnabled()) return;
  if (event.Type == UIEVENT_BUTTONDOWN || event.Type == UIEVENT_DBLCLICK || event.Type == UIEVENT_RBUTTONDOWN) {
    rowMouse(event, m_iIndex, m_pOwner, m_pMutilOwner);
    if (event.Type == UIEVENT_DBLCLICK && m_pOwner) Activate();
    if (m_pMutilOwner && event.Type != UIEVENT_DBLCLICK) m_pMutilOwner->DoEvent(event);
    return;
  }
  if (event.Type == UIEVENT_CONTEXTMENU || event.Type == UIEVENT_MOUSEMOVE || event.Type == UIEVENT_BUTTONUP ||
      event.Type == UIEVENT_ENDDRAGMENU) {
    // The list decides (drags, its context menu).
    if (m_pMutilOwner)
      m_pMutilOwner->DoEvent(event);
    else if (m_pOwner)
      m_pOwner->DoEvent(event);
    return;
  }
  CControlUI::DoEvent(event);
}

LPCTSTR CListLabelElementUI::GetClass() const { return _T("ListLabelElementUI"); }
LPVOID CListLabelElementUI::GetInterface(LPCTSTR n) {
  if (is(n, "ListLabelElement") || is(n, "ListLabelElementUI")) return static_cast<CListLabelElementUI*>(this);
  return CListElementUI::GetInterface(n);
}

LPCTSTR CListTextElementUI::GetClass() const { return _T("ListTextElementUI"); }
LPVOID CListTextElementUI::GetInterface(LPCTSTR n) {
  if (is(n, "ListTextElement") || is(n, "ListTextElementUI")) return static_cast<CListTextElementUI*>(this);
  return CListLabelElementUI::GetInterface(n);
}

LPCTSTR CListContainerElementUI::GetClass() const { return _T("ListContainerElementUI"); }

LPVOID CListContainerElementUI::GetInterface(LPCTSTR n) {
  if (is(n, "ListItem")) return static_cast<IListItemUI*>(this);
  if (is(n, "ListContainerElement") || is(n, "ListContainerElementUI"))
    return static_cast<CListContainerElementUI*>(this);
  return CHorizontalLayoutUI::GetInterface(n);
}

void CListContainerElementUI::SetOwner(CControlUI* pOwner) {
  m_pOwnerControl = pOwner;
  m_pOwner = pOwner ? static_cast<IListOwnerUI*>(pOwner->GetInterface("IListOwner")) : nullptr;
  m_pMutilOwner = pOwner ? static_cast<IMutilListOwnerUI*>(pOwner->GetInterface("IMutilListOwner")) : nullptr;
}

bool CListContainerElementUI::Select(bool bSelect, bool bTriggerEvent) {
  if (!IsEnabled()) return false;
  if (bSelect == m_bSelected) return true;
  m_bSelected = bSelect;
  if (bTriggerEvent && bSelect && m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_ITEMSELECT, (WPARAM)m_iIndex);
  Invalidate();
  return true;
}

bool CListContainerElementUI::Activate() {
  if (!CControlUI::Activate()) return false;
  if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_ITEMACTIVATE);
  return true;
}

void CListContainerElementUI::SetVisible(bool bVisible) {
  if (!bVisible && m_bSelected) m_bSelected = false;
  CHorizontalLayoutUI::SetVisible(bVisible);
}

void CListContainerElementUI::DoEvent(TEventUI& event) {
  if (!IsEnabled()) return;
  switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
    case UIEVENT_RBUTTONDOWN:
      if (event.Type != UIEVENT_RBUTTONDOWN) m_uButtonState |= UISTATE_PUSHED;
      rowMouse(event, m_iIndex, m_pOwner, m_pMutilOwner);
      if (event.Type == UIEVENT_DBLCLICK && m_pOwner) Activate();
      if (m_pMutilOwner && event.Type != UIEVENT_DBLCLICK) m_pMutilOwner->DoEvent(event);
      return;
    case UIEVENT_BUTTONUP:
      m_uButtonState &= ~UISTATE_PUSHED;
      if (m_pMutilOwner)
        m_pMutilOwner->DoEvent(event);
      else if (m_pOwner)
        m_pOwner->DoEvent(event);
      return;
    case UIEVENT_MOUSEENTER:
      m_uButtonState |= UISTATE_HOT;
      return;
    case UIEVENT_MOUSELEAVE:
      m_uButtonState &= ~UISTATE_HOT;
      return;
    case UIEVENT_CONTEXTMENU:
    case UIEVENT_MOUSEMOVE:
    case UIEVENT_ENDDRAGMENU:
      if (m_pMutilOwner)
        m_pMutilOwner->DoEvent(event);
      else if (m_pOwner)
        m_pOwner->DoEvent(event);
      return;
    default:
      CHorizontalLayoutUI::DoEvent(event);
  }
}

void CListContainerElementUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT tmp;
  if (!IntersectRect(&tmp, &rcPaint, &m_rcItem)) return;
  DrawItemBk(hDC, m_rcItem);
  CHorizontalLayoutUI::DoPaint(hDC, rcPaint);
}

}  // namespace DuiLib


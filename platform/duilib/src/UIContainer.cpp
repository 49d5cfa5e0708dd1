// Containers and the two stacking layouts.
#include "duilib/UIContainer.h"

#include "duilib/UIManager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace DuiLib {

CContainerUI::~CContainerUI() {
  std::vector<CControlUI*> items;
  items.swap(m_items);
  if (m_bAutoDestroy)
    for (auto* c : items) delete c;
}

LPCTSTR CContainerUI::GetClass() const { return _T("ContainerUI"); }

LPVOID CContainerUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "IContainer") == 0) return static_cast<IContainerUI*>(this);
  if (pstrName && strcmp(pstrName, "Container") == 0) return static_cast<CContainerUI*>(this);
  return CControlUI::GetInterface(pstrName);
}

CControlUI* CContainerUI::GetItemAt(int iIndex) const {
  if (iIndex < 0 || iIndex >= (int)m_items.size()) return nullptr;
  return m_items[(size_t)iIndex];
}

int CContainerUI::GetItemIndex(CControlUI* pControl) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i] == pControl) return (int)i;
  return -1;
}

bool CContainerUI::SetItemIndex(CControlUI* pControl, int iIndex) {
  int from = GetItemIndex(pControl);
  if (from < 0 || iIndex < 0 || iIndex >= (int)m_items.size()) return false;
  m_items.erase(m_items.begin() + from);
  m_items.insert(m_items.begin() + iIndex, pControl);
  NeedUpdate();
  if (m_pManager) m_pManager->NeedUpdate();
  return true;
}

bool CContainerUI::Add(CControlUI* pControl) {
  return AddAt(pControl, (int)m_items.size());
}

bool CContainerUI::AddAt(CControlUI* pControl, int iIndex) {
  if (!pControl || iIndex < 0 || iIndex > (int)m_items.size()) return false;
  // Only a control that names this container as its parent can be one of its items already.
  if (pControl->GetParent() == this && GetItemIndex(pControl) >= 0) return false;
  m_items.insert(m_items.begin() + iIndex, pControl);
  if (m_pManager) {
    m_pManager->InitControls(pControl, this);
  } else {
    pControl->SetManager(nullptr, this, false);
  }
  // A hidden container hides what it takes; a shown one leaves the child's own state.
  if (!IsVisible()) pControl->SetInternVisible(false);
  NeedUpdate();
  if (m_pManager) m_pManager->NeedUpdate();
  return true;
}

bool CContainerUI::Remove(CControlUI* pControl) {
  // Compare pointers only: the control may not be ours, or may be gone.
  int i = GetItemIndex(pControl);
  if (i < 0) return false;
  return CContainerUI::RemoveAt(i);
}

bool CContainerUI::RemoveAt(int iIndex) {
  CControlUI* c = GetItemAt(iIndex);
  if (!c) return false;
  m_items.erase(m_items.begin() + iIndex);
  if (m_pManager) m_pManager->NeedUpdate();
  NeedUpdate();
  if (m_bAutoDestroy)
    delete c;
  else if (m_pManager)
    m_pManager->ForgetNames(c);  // out of the window's tree: no longer found by name
  return true;
}

void CContainerUI::RemoveAll() {
  std::vector<CControlUI*> items;
  items.swap(m_items);
  if (m_bAutoDestroy) {
    for (auto* c : items) delete c;
  } else if (m_pManager) {
    for (auto* c : items) m_pManager->ForgetNames(c);
  }
  if (m_pManager) m_pManager->NeedUpdate();
  NeedUpdate();
}

void CContainerUI::SetInset(RECT rc) {
  m_rcInset = rc;
  NeedUpdate();
}

void CContainerUI::SetChildPadding(int n) {
  m_iChildPadding = n;
  NeedUpdate();
}

namespace {
CControlUI* CALLBACK findByName(CControlUI* c, LPVOID data) {
  return c->GetName() == static_cast<LPCTSTR>(data) ? c : nullptr;
}
}  // namespace

CControlUI* CContainerUI::FindSubControl(LPCTSTR pstrSubControlName) {
  if (!pstrSubControlName) return nullptr;
  for (auto* c : m_items) {
    CControlUI* r = c->FindControl(findByName, (LPVOID)pstrSubControlName, UIFIND_ALL | UIFIND_ME_FIRST);
    if (r) return r;
  }
  return nullptr;
}

void CContainerUI::SetVisible(bool bVisible) {
  if (m_bVisible == bVisible) return;
  CControlUI::SetVisible(bVisible);
  for (auto* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool bVisible) {
  CControlUI::SetInternVisible(bVisible);
  if (m_items.empty()) return;
  for (auto* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetEnabled(bool bEnable) {
  CControlUI::SetEnabled(bEnable);
}

void CContainerUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
  for (auto* c : m_items) c->SetManager(pManager, this, bInit);
  CControlUI::SetManager(pManager, pParent, bInit);
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
  if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
  if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
  if ((uFlags & UIFIND_HITTEST) && !RectContains(m_rcItem, *static_cast<POINT*>(pData))) return nullptr;
  if (uFlags & UIFIND_ME_FIRST) {
    if (CControlUI* r = CControlUI::FindControl(Proc, pData, uFlags)) return r;
  }
  if (uFlags & UIFIND_TOP_FIRST) {
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
      if (CControlUI* r = (*it)->FindControl(Proc, pData, uFlags)) return r;
  } else {
    for (auto* c : m_items)
      if (CControlUI* r = c->FindControl(Proc, pData, uFlags)) return r;
  }
  if (!(uFlags & UIFIND_ME_FIRST)) return CControlUI::FindControl(Proc, pData, uFlags);
  return nullptr;
}

void CContainerUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  RECT in{m_rcItem.left + m_rcInset.left, m_rcItem.top + m_rcInset.top, m_rcItem.right - m_rcInset.right,
          m_rcItem.bottom - m_rcInset.bottom};
  if (in.right < in.left) in.right = in.left;
  if (in.bottom < in.top) in.bottom = in.top;
  LayoutChildren(in);
}

void CContainerUI::LayoutChildren(RECT rc) {
  for (auto* c : m_items) {
    if (!c->IsVisible()) {
      c->SetPos(RECT{0, 0, 0, 0});
      continue;
    }
    RECT p = c->GetPadding();
    c->SetPos(RECT{rc.left + p.left, rc.top + p.top, rc.right - p.right, rc.bottom - p.bottom});
  }
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT tmp;
  if (!IntersectRect(&tmp, &rcPaint, &m_rcItem)) return;
  CControlUI::DoPaint(hDC, rcPaint);
  for (auto* c : m_items)
    if (c->IsVisible()) c->DoPaint(hDC, rcPaint);
}

void CContainerUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
  if (strcmp(pstrName, "inset") == 0) {
    SetInset(ParseRect(pstrValue));
  } else if (strcmp(pstrName, "childpadding") == 0) {
    SetChildPadding(atoi(pstrValue));
  } else {
    CControlUI::SetAttribute(pstrName, pstrValue);
  }
}

LPCTSTR CVerticalLayoutUI::GetClass() const { return _T("VerticalLayoutUI"); }

LPVOID CVerticalLayoutUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "VerticalLayout") == 0) return static_cast<CVerticalLayoutUI*>(this);
  return CContainerUI::GetInterface(pstrName);
}

void CVerticalLayoutUI::LayoutChildren(RECT rc) {
  // Heights: fixed ones first, then the default height, then an equal share of what is left.
  int height = rc.bottom - rc.top;
  int used = 0, shared = 0, visible = 0;
  int defaultHeight = DefaultItemHeight();
  for (auto* c : m_items) {
    if (!c->IsVisible()) continue;
    ++visible;
    RECT p = c->GetPadding();
    used += p.top + p.bottom;
    SIZE sz = c->EstimateSize(SIZE{rc.right - rc.left, height});
    if (sz.cy > 0) {
      used += sz.cy;
    } else if (defaultHeight > 0) {
      used += defaultHeight;
    } else {
      ++shared;
    }
  }
  if (visible > 1) used += m_iChildPadding * (visible - 1);
  int share = shared ? std::max(0, (height - used) / shared) : 0;
  int y = rc.top;
  for (auto* c : m_items) {
    if (!c->IsVisible()) {
      c->SetPos(RECT{0, 0, 0, 0});
      continue;
    }
    RECT p = c->GetPadding();
    SIZE sz = c->EstimateSize(SIZE{rc.right - rc.left, height});
    int h = sz.cy > 0 ? sz.cy : (defaultHeight > 0 ? defaultHeight : share);
    int left = rc.left + p.left;
    int right = sz.cx > 0 ? left + sz.cx : rc.right - p.right;
    y += p.top;
    c->SetPos(RECT{left, y, right, y + h});
    y += h + p.bottom + m_iChildPadding;
  }
}

LPCTSTR CHorizontalLayoutUI::GetClass() const { return _T("HorizontalLayoutUI"); }

LPVOID CHorizontalLayoutUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "HorizontalLayout") == 0) return static_cast<CHorizontalLayoutUI*>(this);
  return CContainerUI::GetInterface(pstrName);
}

void CHorizontalLayoutUI::LayoutChildren(RECT rc) {
  int width = rc.right - rc.left;
  int used = 0, shared = 0, visible = 0;
  for (auto* c : m_items) {
    if (!c->IsVisible()) continue;
    ++visible;
    RECT p = c->GetPadding();
    used += p.left + p.right;
    SIZE sz = c->EstimateSize(SIZE{width, rc.bottom - rc.top});
    if (sz.cx > 0) {
      used += sz.cx;
    } else {
      ++shared;
    }
  }
  if (visible > 1) used += m_iChildPadding * (visible - 1);
  int share = shared ? std::max(0, (width - used) / shared) : 0;
  int x = rc.left;
  for (auto* c : m_items) {
    if (!c->IsVisible()) {
      c->SetPos(RECT{0, 0, 0, 0});
      continue;
    }
    RECT p = c->GetPadding();
    SIZE sz = c->EstimateSize(SIZE{width, rc.bottom - rc.top});
    int w = sz.cx > 0 ? sz.cx : share;
    int top = rc.top + p.top;
    int bottom = sz.cy > 0 ? top + sz.cy : rc.bottom - p.bottom;
    x += p.left;
    c->SetPos(RECT{x, top, x + w, bottom});
    x += w + p.right + m_iChildPadding;
  }
}

}  // namespace DuiLib

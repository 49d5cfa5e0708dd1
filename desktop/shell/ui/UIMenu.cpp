// The popup menu extension.
#include "ui/UIMenu.h"

#include <algorithm>
#include <cstring>

#ifndef SWP_FRAMECHANGED
#define SWP_FRAMECHANGED 0x0020
#endif
#ifndef SWP_NOREDRAW
#define SWP_NOREDRAW 0x0008
#endif

namespace DuiLib {

ContextMenuObserver MenuObserver;

namespace {
bool isMenuElement(CControlUI* c) { return c && c->GetInterface(_T("MenuElement")) != nullptr; }

RECT workAreaOf(HWND h) {
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  GetMonitorInfo(MonitorFromWindow(h, MONITOR_DEFAULTTOPRIMARY), &mi);
  return mi.rcWork;
}

// The visible items of a menu or a sub-menu item stacked: the widest one's width, the sum of
// their heights.
template <typename Items>
SIZE stackedSize(Items& items, SIZE szAvailable) {
  SIZE sz{0, 0};
  for (int i = 0; i < items.GetCount(); ++i) {
    CControlUI* c = items.GetItemAt(i);
    if (!c->IsVisible()) continue;
    SIZE s = c->EstimateSize(szAvailable);
    sz.cx = std::max(sz.cx, s.cx);
    sz.cy += s.cy;
  }
  return sz;
}
}  // namespace

// ---- CMenuUI --------------------------------------------------------------------------------
CMenuUI::CMenuUI() { GetHeader()->SetVisible(false); }

LPCTSTR CMenuUI::GetClass() const { return _T("MenuUI"); }

LPVOID CMenuUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && CDuiString(pstrName).CompareNoCase(_T("Menu")) == 0) return static_cast<CMenuUI*>(this);
  return CListUI::GetInterface(pstrName);
}

SIZE CMenuUI::EstimateSize(SIZE szAvailable) { return stackedSize(*this, szAvailable); }

int CMenuUI::GetItemIndex(CControlUI* pControl) const {
  if (!isMenuElement(pControl)) return -1;
  return CListUI::GetItemIndex(pControl);
}

bool CMenuUI::SetItemIndex(CControlUI* pControl, int iIndex) {
  if (!isMenuElement(pControl)) return false;
  return CListUI::SetItemIndex(pControl, iIndex);
}

bool CMenuUI::Add(CControlUI* pControl) { return AddAt(pControl, GetCount()); }

bool CMenuUI::AddAt(CControlUI* pControl, int iIndex) {
  auto* item = pControl ? static_cast<CMenuElementUI*>(pControl->GetInterface(_T("MenuElement"))) : nullptr;
  if (!item) return false;
  for (CMenuElementUI* sub : item->SubItems()) sub->SetInternVisible(false);
  return CListUI::AddAt(pControl, iIndex);
}

bool CMenuUI::Remove(CControlUI* pControl) {
  if (!isMenuElement(pControl)) return false;
  return CListUI::Remove(pControl);
}

// ---- CMenuElementUI -------------------------------------------------------------------------
CMenuElementUI::CMenuElementUI() { m_cxyFixed.cy = 25; }

LPCTSTR CMenuElementUI::GetClass() const { return _T("MenuElementUI"); }

LPVOID CMenuElementUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && CDuiString(pstrName).CompareNoCase(_T("MenuElement")) == 0) return static_cast<CMenuElementUI*>(this);
  return CListContainerElementUI::GetInterface(pstrName);
}

std::vector<CMenuElementUI*> CMenuElementUI::SubItems() {
  std::vector<CMenuElementUI*> out;
  for (int i = 0; i < GetCount(); ++i)
    if (auto* e = static_cast<CMenuElementUI*>(GetItemAt(i)->GetInterface(_T("MenuElement")))) out.push_back(e);
  return out;
}

bool CMenuElementUI::ShowSubItems() {
  bool any = false;
  for (CMenuElementUI* sub : SubItems()) {
    sub->SetVisible(true);
    sub->SetInternVisible(true);
    any = true;
  }
  return any;
}

CControlUI* CMenuElementUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
  if (uFlags & UIFIND_HITTEST) return CControlUI::FindControl(Proc, pData, uFlags);
  return CListContainerElementUI::FindControl(Proc, pData, uFlags);
}

void CMenuElementUI::DoEvent(TEventUI& event) {
  HWND menuWindow = m_pManager ? m_pManager->GetPaintWindow() : nullptr;
  if (event.Type == UIEVENT_MOUSEENTER) {
    CListContainerElementUI::DoEvent(event);
    if (subMenuWindow) return;
    bool hasSub = ShowSubItems();
    if (hasSub) {
      if (m_pOwner) m_pOwner->SelectItem(GetIndex(), true);
      OpenSubMenu();
    } else {
      MenuObserver.SendReversed(ContextMenuParam{2, menuWindow});
      if (m_pOwner) m_pOwner->SelectItem(GetIndex(), true);
    }
    return;
  }
  if (event.Type == UIEVENT_BUTTONDOWN) {
    if (!IsEnabled()) return;  // not even the list element's own handling
    CListContainerElementUI::DoEvent(event);
    if (subMenuWindow) return;
    if (ShowSubItems()) {
      OpenSubMenu();
    } else {
      MenuObserver.SendReversed(ContextMenuParam{1, menuWindow});
      CDuiString* name = new CDuiString(GetName());
      // The receiver owns the text; when it cannot be posted nobody will free it but us.
      if (!ownerWindow || !::PostMessageA(ownerWindow, WM_PW_MENUCOMMAND, reinterpret_cast<WPARAM>(name), 0))
        delete name;
    }
    return;
  }
  CListContainerElementUI::DoEvent(event);
}

bool CMenuElementUI::Activate() {
  if (!CListContainerElementUI::Activate() || !IsSelected()) return false;
  if (subMenuWindow) return true;
  if (ShowSubItems())
    OpenSubMenu();
  else
    MenuObserver.SendReversed(ContextMenuParam{1, m_pManager ? m_pManager->GetPaintWindow() : nullptr});
  return true;
}

void CMenuElementUI::OpenSubMenu() {
  if (subMenuWindow || !m_pManager) return;
  HWND menuWindow = m_pManager->GetPaintWindow();
  subMenuWindow = new CMenuWnd(menuWindow);
  MenuObserver.SendReversed(ContextMenuParam{2, menuWindow});
  subMenuWindow->Popup(this, _T(""), _T(""), POINT{0, 0});
}

SIZE CMenuElementUI::EstimateSize(SIZE szAvailable) {
  SIZE sz = stackedSize(*this, szAvailable);
  if (sz.cy == 0) {
    TListInfoUI* info = m_pOwner ? m_pOwner->GetListInfo() : nullptr;
    RECT pad = info ? info->rcTextPadding : RECT{0, 0, 0, 0};
    UINT style = (info ? info->uTextStyle : 0) | DT_CALCRECT;
    RECT rc{0, 0, std::max(szAvailable.cx, (LONG)m_cxyFixed.cx) - pad.left - pad.right, 9999};
    if (info && info->bShowHtml) {
      int links = 0;
      CRenderEngine::DrawHtmlText(m_pManager ? m_pManager->GetPaintDC() : nullptr, m_pManager, rc, m_sText,
                                  info->dwTextColor, nullptr, nullptr, links, style);
    } else {
      CRenderEngine::DrawText(m_pManager ? m_pManager->GetPaintDC() : nullptr, m_pManager, rc, m_sText,
                              info ? info->dwTextColor : 0, info ? info->nFont : -1, style);
    }
    sz.cx = rc.right - rc.left + pad.left + pad.right + 20;
    sz.cy = rc.bottom - rc.top + pad.top + pad.bottom;
  }
  if (m_cxyFixed.cy != 0) sz.cy = m_cxyFixed.cy;
  return sz;
}

void CMenuElementUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT tmp;
  if (!IntersectRect(&tmp, &rcPaint, &m_rcItem)) return;
  DrawItemBk(hDC, m_rcItem);
  DrawItemText(hDC, m_rcItem);
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* c = GetItemAt(i);
    if (!isMenuElement(c) && c->IsVisible()) c->DoPaint(hDC, rcPaint);
  }
}

void CMenuElementUI::DrawItemText(HDC hDC, const RECT& rcItem) {
  if (m_sText.IsEmpty() || !m_pOwner) return;
  TListInfoUI* info = m_pOwner->GetListInfo();
  DWORD color = info->dwTextColor;
  if (m_uButtonState & UISTATE_HOT) color = info->dwHotTextColor;
  if (IsSelected()) color = info->dwSelectedTextColor;
  if (!IsEnabled()) color = info->dwDisabledTextColor;
  RECT rc{rcItem.left + info->rcTextPadding.left, rcItem.top + info->rcTextPadding.top,
          rcItem.right - info->rcTextPadding.right, rcItem.bottom - info->rcTextPadding.bottom};
  if (info->bShowHtml) {
    int links = 0;
    CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, m_sText, color, nullptr, nullptr, links,
                                info->uTextStyle | DT_SINGLELINE);
  } else {
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText, color, info->nFont, info->uTextStyle | DT_SINGLELINE);
  }
}

// ---- CMenuBuilderCallback -------------------------------------------------------------------
CControlUI* CMenuBuilderCallback::CreateControl(LPCTSTR pstrClass) {
  CDuiString cls(pstrClass);
  if (cls.CompareNoCase(_T("Menu")) == 0) {
    auto* m = new CMenuUI();
    m->ownerWindow = ownerWindow;
    return m;
  }
  if (cls.CompareNoCase(_T("MenuElement")) == 0) {
    auto* e = new CMenuElementUI();
    e->ownerWindow = ownerWindow;
    return e;
  }
  return nullptr;
}

// ---- CMenuWnd -------------------------------------------------------------------------------
CMenuWnd::CMenuWnd(HWND owner) : ownerWindow(owner) {}

void CMenuWnd::Popup(CMenuElementUI* pOwner, STRINGorID xml, LPCTSTR pSkinType, POINT point) {
  basePoint = point;
  ownerElement = pOwner;
  layout = nullptr;
  if (pSkinType && *pSkinType) skinType = pSkinType;
  skinFile = IS_INTRESOURCE(xml.m_lpstr) ? _T("") : xml.m_lpstr;
  MenuObserver.Attach(this);
  HWND parent = ownerElement && ownerElement->GetManager() ? ownerElement->GetManager()->GetPaintWindow() : ownerWindow;
  bool finished = false;  // set when the window came and went inside Create (a failed WM_CREATE)
  finalFlag_ = &finished;
  HWND h = Create(parent, nullptr, WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST, RECT{0, 0, 0, 0});
  if (finished) return;  // OnFinalMessage has run: this object is gone
  finalFlag_ = nullptr;
  if (!h) {
    // No window was made, so nothing will ever close it: undo what Popup did and go.
    UnlinkObservers();
    if (ownerElement) {
      ReturnSubItems(true);
      if (ownerElement->subMenuWindow == this) ownerElement->subMenuWindow = nullptr;
    }
    delete this;
    return;
  }
  if (ownerElement) {
    ::ShowWindow(h, SW_SHOW);
    HWND top = h;
    while (HWND p = GetParent(top)) top = p;
    ::SendMessageA(top, WM_NCACTIVATE, TRUE, 0);
  }
}

bool CMenuWnd::IsMenuWindow(HWND hWnd) const {
  if (!hWnd) return false;
  for (int i = 0; i < MenuObserver.GetReceiverCount(); ++i) {
    auto* w = dynamic_cast<CMenuWnd*>(MenuObserver.GetReceiver(i));
    if (w && w->GetHWND() == hWnd) return true;
  }
  return false;
}

int CMenuWnd::Accept(ContextMenuParam param) {
  if (param.action == 1) {
    Close(1);
  } else if (param.action == 2) {
    for (HWND p = GetParent(m_hWnd); p; p = GetParent(p)) {
      if (p == param.window) {
        Close(1);
        break;
      }
    }
  }
  return TRUE;
}

LRESULT CMenuWnd::OnCreateTopLevel() {
  m_pm.Init(m_hWnd);
  CDialogBuilder builder;
  CMenuBuilderCallback callback;
  callback.ownerWindow = ownerWindow;
  CControlUI* root = builder.Create(skinFile.GetData(), skinType.GetData(), &callback, &m_pm, nullptr);
  if (!root) return -1;  // no skin, no menu
  m_pm.AttachDialog(root);
  RECT work = workAreaOf(m_hWnd);
  SIZE sz = root->EstimateSize(SIZE{work.right - work.left, work.bottom - work.top});
  m_pm.SetInitSize(sz.cx, sz.cy);
  sz = m_pm.GetInitSize();
  RECT rc{basePoint.x, basePoint.y, basePoint.x + sz.cx, basePoint.y + sz.cy};
  SetForegroundWindow(m_hWnd);
  MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, FALSE);
  SetWindowPos(m_hWnd, HWND_TOPMOST, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, SWP_SHOWWINDOW);
  return 0;
}

RECT CMenuWnd::PlaceSubMenu(const RECT& R, const RECT& item, int W, int H, const std::vector<OpenMenu>& open,
                            const RECT& work) {
  RECT rc = item;
  rc.left = R.right;
  rc.right = R.right + W + 6;
  bool reachRight = false, reachBottom = false;
  for (const OpenMenu& m : open) {
    reachRight = m.rc.left >= R.right;
    reachBottom = m.rc.top >= R.bottom;
    if (m.isParent || reachRight || reachBottom) break;
  }
  if (reachBottom) {
    rc.bottom = R.top;
    rc.top = rc.bottom - H;
  }
  if (reachRight) {
    rc.right = R.left;
    rc.left = R.left - W;
  }
  if (rc.bottom > work.bottom) {
    rc.bottom = rc.top;
    rc.top = rc.bottom - H;
  }
  if (rc.right > work.right) {
    rc.right = R.left;
    rc.left = R.left - W;
  }
  if (rc.top < work.top) {
    // Keep it on the screen, at the top of the work area.
    rc.top = work.top;
    rc.bottom = rc.top + H;
  }
  if (rc.left < work.left) {
    rc.left = R.right;
    rc.right = R.right + W;
  }
  return rc;
}

LRESULT CMenuWnd::OnCreateSubMenu() {
  LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE);
  style &= ~(LONG_PTR)WS_CAPTION;
  style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
  RECT client;
  GetClientRect(m_hWnd, &client);
  SetWindowPos(m_hWnd, nullptr, client.left, client.top, client.right - client.left, client.bottom - client.top,
               SWP_FRAMECHANGED);

  CPaintManagerUI* ownerPm = ownerElement->GetManager();
  m_pm.Init(m_hWnd);
  layout = new CMenuUI();
  m_pm.UseParentResource(ownerPm);
  layout->SetManager(&m_pm, nullptr, true);
  if (LPCTSTR def = ownerPm->GetDefaultAttributeList(_T("Menu"))) layout->ApplyAttributeList(def);
  layout->SetBkColor(0xFFFFFFFF);
  layout->SetBorderColor(0xFF85E4FF);
  layout->SetBorderSize(0);
  layout->SetAutoDestroy(false);  // the items still belong to the owner element
  std::vector<CMenuElementUI*> items = ownerElement->SubItems();
  for (CMenuElementUI* e : items) {
    e->SetOwner(layout);
    layout->Add(e);
  }
  m_pm.AttachDialog(layout);

  RECT work = workAreaOf(m_hWnd);
  SIZE avail{work.right - work.left, work.bottom - work.top};
  int W = 0, H = 0;
  for (CMenuElementUI* e : items) {
    SIZE s = e->EstimateSize(avail);
    W = std::max<int>(W, s.cx);
    H += s.cy;
  }
  H += 4;

  HWND parentMenu = ownerPm->GetPaintWindow();
  RECT R;
  GetWindowRect(parentMenu, &R);
  RECT item = ownerElement->GetPos();
  item.bottom = item.top + H;
  MapWindowPoints(parentMenu, nullptr, reinterpret_cast<POINT*>(&item), 2);
  std::vector<OpenMenu> open;
  for (int i = 0; i < MenuObserver.GetReceiverCount(); ++i) {
    auto* w = dynamic_cast<CMenuWnd*>(MenuObserver.GetReceiver(i));
    if (!w || w == this || !w->GetHWND()) continue;
    OpenMenu m;
    GetWindowRect(w->GetHWND(), &m.rc);
    m.isParent = w->GetHWND() == parentMenu;
    open.push_back(m);
  }
  RECT rc = PlaceSubMenu(R, item, W, H, open, work);
  MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, FALSE);
  return 0;
}

void CMenuWnd::ReturnSubItems(bool hide) {
  if (!ownerElement || itemsReturned_) return;
  itemsReturned_ = true;
  CControlUI* list = ownerElement->GetParent();
  // Back to the owner element's own manager and parent, without initialising again.
  ownerElement->SetManager(ownerElement->GetManager(), ownerElement->GetParent(), false);
  for (CMenuElementUI* e : ownerElement->SubItems()) {
    e->SetOwner(list);
    if (hide) {
      e->SetVisible(false);
      e->SetInternVisible(false);
    }
  }
}

LRESULT CMenuWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_CREATE:
      return ownerElement ? OnCreateSubMenu() : OnCreateTopLevel();
    case WM_CLOSE:
      if (ownerElement) {
        ownerElement->SetManager(ownerElement->GetManager(), ownerElement->GetParent(), false);
        ownerElement->SetPos(ownerElement->GetPos(), false);
        ownerElement->SetFocus();
      }
      break;
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
      return 0;
    case WM_KILLFOCUS: {
      if (IsMenuWindow(reinterpret_cast<HWND>(wParam))) break;
      MenuObserver.SendReversed(ContextMenuParam{1, m_hWnd});
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) Close(1);
      break;
    default:
      break;
  }
  if (!IsWindow(m_hWnd)) return 0;
  LRESULT lRes = 0;
  if (m_pm.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
  return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CMenuWnd::OnFinalMessage(HWND) {
  if (finalFlag_) *finalFlag_ = true;
  UnlinkObservers();
  if (ownerElement) {
    ReturnSubItems(true);
    ownerElement->subMenuWindow = nullptr;
    ownerElement->SetButtonState(ownerElement->GetButtonState() & ~UISTATE_PUSHED);
    ownerElement->Invalidate();
  }
  ::SendMessageA(ownerWindow, WM_PW_MENUCOMMAND, 0, 100);
  delete this;
}

}  // namespace DuiLib

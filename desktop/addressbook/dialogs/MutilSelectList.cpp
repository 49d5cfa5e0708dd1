// The multi-select recipient list.
#include "addressbook/MutilSelectList.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

using namespace DuiLib;

namespace {
const int kDragSlop = 20;
bool keyDown(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }
IListItemUI* listItemOf(CControlUI* c) {
  return c ? static_cast<IListItemUI*>(c->GetInterface(_T("ListItem"))) : nullptr;
}
}  // namespace

CMutilSelectList::CMutilSelectList(CPaintManagerUI* manager) : manager_(manager) {}

CMutilSelectList::~CMutilSelectList() = default;

bool CMutilSelectList::Add(CControlUI* pControl) { return pControl ? CMutilListUI::Add(pControl) : false; }

bool CMutilSelectList::AddAt(CControlUI* pControl, int iIndex) {
  return pControl ? CMutilListUI::AddAt(pControl, iIndex) : false;
}

bool CMutilSelectList::Remove(CControlUI* pControl) { return pControl ? CMutilListUI::Remove(pControl) : false; }

bool CMutilSelectList::RemoveAt(int iIndex) { return GetItemAt(iIndex) ? CMutilListUI::RemoveAt(iIndex) : false; }

bool CMutilSelectList::SelectItemSingle(int iIndex, bool bTakeFocus) { return SelectItem(iIndex, bTakeFocus); }

CControlUI* CMutilSelectList::textControlOf(CControlUI* row) const {
  if (!row) return nullptr;
  CPaintManagerUI* pm = manager_ ? manager_ : m_pManager;
  if (pm) return pm->FindSubControlByName(row, _T("listitem"));
  auto* container = static_cast<CContainerUI*>(row->GetInterface(_T("Container")));
  return container ? container->FindSubControl(_T("listitem")) : nullptr;
}

bool CMutilSelectList::isSelected(CControlUI* row) {
  IListItemUI* item = listItemOf(row);
  return item && item->IsSelected();
}

void CMutilSelectList::AddItems(const std::vector<std::string>& texts, bool skipPresent) {
  std::unordered_set<std::string> present;
  if (skipPresent) {
    for (int i = 0; i < GetCount(); ++i)
      if (CControlUI* label = textControlOf(GetItemAt(i))) present.insert(label->GetText().str());
  }
  for (const std::string& text : texts) {
    if (skipPresent && !present.insert(text).second) continue;
    AddItem(text.c_str());
  }
}

void CMutilSelectList::AddItem(LPCTSTR text) {
  CControlUI* row = nullptr;
  if (builder_.GetMarkup()->IsValid())
    row = builder_.Create(nullptr, manager_, nullptr);
  else
    row = builder_.Create(_T("MutilListItem.xml"), nullptr, nullptr, manager_, nullptr);
  if (!row) return;
  if (CControlUI* label = textControlOf(row)) {
    label->SetText(text ? text : "");
    label->SetTag(reinterpret_cast<UINT_PTR>(row));
  }
  if (!CMutilListUI::Add(row)) delete row;
}

bool CMutilSelectList::HasItemText(LPCTSTR text) {
  std::string wanted = text ? text : "";
  for (int i = 0; i < GetCount(); ++i)
    if (CControlUI* label = textControlOf(GetItemAt(i)))
      if (label->GetText().str() == wanted) return true;
  return false;
}

void CMutilSelectList::RemoveSelected() {
  for (int i = GetCount() - 1; i >= 0; --i) {
    CControlUI* row = GetItemAt(i);
    if (textControlOf(row) && isSelected(row)) RemoveAt(i);
  }
}

int CMutilSelectList::GetSelectedCount() {
  int n = 0;
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* row = GetItemAt(i);
    if (isSelected(row) && textControlOf(row)) ++n;
  }
  return n;
}

bool CMutilSelectList::HasSelection() {
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* row = GetItemAt(i);
    if (isSelected(row) && textControlOf(row)) return true;
  }
  return false;
}

void CMutilSelectList::GetSelectedTexts(std::vector<std::string>& out) {
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* row = GetItemAt(i);
    if (!isSelected(row)) continue;
    if (CControlUI* label = textControlOf(row)) out.push_back(label->GetText().str());
  }
}

std::string CMutilSelectList::AddressOf(const std::string& text) {
  // The address stands last: a display name may hold "<" or ">" itself.
  std::string::size_type lt = text.rfind('<');
  if (lt == std::string::npos) {
    std::string::size_type gt = text.find('>');
    return gt == std::string::npos ? text : text.substr(0, gt);
  }
  std::string::size_type gt = text.find('>', lt + 1);
  if (gt == std::string::npos) return text.substr(lt + 1);
  return text.substr(lt + 1, gt - lt - 1);
}

void CMutilSelectList::GetAddresses(std::vector<std::string>& out) {
  for (int i = 0; i < GetCount(); ++i)
    if (CControlUI* label = textControlOf(GetItemAt(i))) out.push_back(AddressOf(label->GetText().str()));
}

void CMutilSelectList::SelectInRect(RECT rc) {
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* row = GetItemAt(i);
    CPaintManagerUI* pm = manager_ ? manager_ : m_pManager;
    CControlUI* marker = pm ? pm->FindSubControlByName(row, _T("TabItemHly")) : nullptr;
    if (!marker) break;
    IListItemUI* item = listItemOf(row);
    if (!item) continue;
    RECT pos = row->GetPos();
    RECT hit;
    item->Select(DuiLib::IntersectRect(&hit, &pos, &rc) != FALSE, true);
  }
}

void CMutilSelectList::endDrag() {
  dragging_ = false;
  HWND wnd = m_pManager ? m_pManager->GetPaintWindow() : nullptr;
  if (wnd && GetCapture() == wnd) {
    ReleaseCapture();
    InvalidateRect(wnd, nullptr, TRUE);
  }
}

void CMutilSelectList::DoEvent(TEventUI& event) {
  if (keyDown(VK_SHIFT) || keyDown(VK_CONTROL)) {
    CMutilListUI::DoEvent(event);
    return;
  }
  HWND wnd = m_pManager ? m_pManager->GetPaintWindow() : nullptr;
  switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_RBUTTONDOWN:
      dragging_ = true;
      dragStart_ = event.ptMouse;
      if (wnd) SetCapture(wnd);
      break;
    case UIEVENT_MOUSEMOVE:
      if (dragging_ && (std::abs(event.ptMouse.x - dragStart_.x) > kDragSlop ||
                        std::abs(event.ptMouse.y - dragStart_.y) > kDragSlop)) {
        if (wnd) InvalidateRect(wnd, nullptr, FALSE);
        RECT rc;
        rc.left = std::min(dragStart_.x, event.ptMouse.x);
        rc.top = std::min(dragStart_.y, event.ptMouse.y);
        // Both corners belong to the rectangle (a straight vertical drag still touches rows).
        rc.right = std::max(dragStart_.x, event.ptMouse.x) + 1;
        rc.bottom = std::max(dragStart_.y, event.ptMouse.y) + 1;
        SelectInRect(rc);
      }
      break;
    case UIEVENT_BUTTONUP:
      endDrag();
      break;
    case UIEVENT_CONTEXTMENU:
      if (IsContextMenuUsed()) {
        if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_MENU, event.wParam, event.lParam);
        return;
      }
      break;
    case UIEVENT_ENDDRAGMENU:
      endDrag();
      if (IsContextMenuUsed()) {
        if (m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_MENU, event.wParam, event.lParam);
        return;
      }
      break;
    default:
      break;
  }
  CMutilListUI::DoEvent(event);
}

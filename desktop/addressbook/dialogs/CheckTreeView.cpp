// The check-box tree view.
#include "addressbook/CheckTreeView.h"

#include "addressbook/UICursor.h"

#include <cstdarg>
#include <cstring>

using namespace DuiLib;

namespace {
const char* const kListElementClasses[] = {"ListElementUI", "ListLabelElementUI", "ListTextElementUI",
                                           "ListContainerElementUI"};

IListItemUI* listItemOf(CControlUI* c) {
  return c ? static_cast<IListItemUI*>(c->GetInterface(_T("ListItem"))) : nullptr;
}
}  // namespace

CCheckTreeView::CCheckTreeView() : root_(new CheckTreeNode()) {}

CCheckTreeView::~CCheckTreeView() {
  // The rows go with the list; only the nodes are ours.
  delete root_;
}

LPCTSTR CCheckTreeView::GetClass() const { return _T("XMLTreeUI"); }

LPVOID CCheckTreeView::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "TimingWheel") == 0) return this;
  if (pstrName && strcmp(pstrName, "IList") == 0) return static_cast<IListUI*>(this);
  if (pstrName && strcmp(pstrName, "IListOwner") == 0) return static_cast<IListOwnerUI*>(this);
  return CVerticalLayoutUI::GetInterface(pstrName);
}

void CCheckTreeView::SetVisible(bool bVisible) {
  if (IsOwnVisible() == bVisible) return;
  CControlUI::SetVisible(bVisible);
}

void CCheckTreeView::SetInternVisible(bool bVisible) { CControlUI::SetInternVisible(bVisible); }

bool CCheckTreeView::isListElementClass() const {
  for (const char* name : kListElementClasses)
    if (itemClass_ == name) return true;
  return false;
}

bool CCheckTreeView::Add(CControlUI* pControl) {
  if (!pControl || !isListElementClass()) return false;
  return CListUI::Add(pControl);
}

bool CCheckTreeView::AddAt(CControlUI* pControl, int iIndex) {
  if (!pControl || !isListElementClass()) return false;
  return CListUI::AddAt(pControl, iIndex);
}

bool CCheckTreeView::Remove(CControlUI* pControl) {
  if (!pControl || !isListElementClass()) return false;
  CheckTreeNode* node = nullptr;
  if (pControl->GetInterface(_T("ListContainerElementUI"))) node = nodeOf(pControl);
  if (node && node->row == pControl) return RemoveNode(node);
  return CListUI::Remove(pControl);
}

bool CCheckTreeView::RemoveAt(int iIndex) {
  CControlUI* row = GetItemAt(iIndex);
  if (!row) return false;
  return Remove(row);
}

void CCheckTreeView::RemoveAll() {
  CListUI::RemoveAll();
  // The rows are gone: drop the nodes without touching them.
  delete root_;
  live_.clear();
  checkedCount_ = 0;
  root_ = new CheckTreeNode();
}

CheckTreeNode* CCheckTreeView::nodeOf(CControlUI* control) const {
  if (!control) return nullptr;
  auto* node = reinterpret_cast<CheckTreeNode*>(control->GetTag());
  if (!node || live_.count(node) == 0) return nullptr;
  return node;
}

CheckTreeNode* CCheckTreeView::lastDescendant(CheckTreeNode* node) const {
  while (node && !node->children.empty()) node = node->children.back();
  return node;
}

CheckTreeNode* CCheckTreeView::nodeAt(int index) const {
  CControlUI* row = GetItemAt(index);
  if (!row || itemClass_ != row->GetClass()) return nullptr;
  return nodeOf(row);
}

int CCheckTreeView::GetNodeIndex(CheckTreeNode* node) {
  if (!node || !node->row || !isListElementClass()) return -1;
  IListItemUI* item = listItemOf(node->row);
  return item ? item->GetIndex() : -1;
}

CheckTreeNode* CCheckTreeView::GetChildNode(CheckTreeNode* node, int i) {
  if (!node || i < 0 || i >= (int)node->children.size()) return nullptr;
  return node->children[(size_t)i];
}

CheckTreeNode* CCheckTreeView::AddNode(COptionUI* expandButton, CheckTreeNode* parent, CControlUI* row,
                                       bool expanded, COptionUI* checkBox, bool checked, int extraCount, ...) {
  if (!row) return nullptr;
  if (!parent) parent = root_;
  if (parent != root_ && live_.count(parent) == 0) {
    delete row;
    return nullptr;
  }
  itemClass_ = row->GetClass();

  // Where the row goes: after the parent's last descendant, or right after the parent.
  int index;
  if (!parent->children.empty()) {
    index = GetNodeIndex(lastDescendant(parent));
  } else if (parent == root_) {
    index = -1;  // the first row
  } else {
    index = GetNodeIndex(parent);
    if (index < 0) {
      delete row;
      return nullptr;
    }
  }
  if (!parent->children.empty() && index < 0) {
    delete row;
    return nullptr;
  }
  ++index;

  auto* node = new CheckTreeNode();
  node->expanded = expanded;
  node->checked = checked;
  node->parent = parent;
  node->row = row;
  if (expandButton) {
    node->expandButton = expandButton;
    expandButton->SetVisible(false);
    expandButton->SetTag(reinterpret_cast<UINT_PTR>(node));
    expandButton->OnEvent += CDelegate<CCheckTreeView, CCheckTreeView>(this, &CCheckTreeView::OnExpandEvent);
  }
  if (checkBox) {
    node->checkBox = checkBox;
    checkBox->Selected(checked);
    checkBox->SetTag(reinterpret_cast<UINT_PTR>(node));
    checkBox->OnEvent += CDelegate<CCheckTreeView, CCheckTreeView>(this, &CCheckTreeView::OnCheckEvent);
  }
  row->SetTag(reinterpret_cast<UINT_PTR>(node));
  va_list extras;
  va_start(extras, extraCount);
  for (int i = 0; i < extraCount; ++i) {
    CControlUI* extra = va_arg(extras, CControlUI*);
    if (!extra) continue;
    extra->SetTag(reinterpret_cast<UINT_PTR>(node));
    extra->OnEvent += CDelegate<CCheckTreeView, CCheckTreeView>(this, &CCheckTreeView::OnExpandEvent);
  }
  va_end(extras);

  bool shown = parent == root_ || (parent->expanded && parent->row && parent->row->IsVisible());
  if (!CCheckTreeView::AddAt(row, index)) {
    delete row;  // its controls (and their delegates) go with it
    delete node;
    return nullptr;
  }
  // The tree alone decides whether a row shows, whatever the view's own visibility is now.
  row->SetInternVisible(shown);

  parent->children.push_back(node);
  live_.insert(node);
  if (checked) ++checkedCount_;
  if (parent->expandButton) parent->expandButton->SetVisible(true);
  return node;
}

void CCheckTreeView::forget(CheckTreeNode* node) {
  if (live_.erase(node) != 0 && node->checked) --checkedCount_;
  for (CheckTreeNode* c : node->children) forget(c);
}

bool CCheckTreeView::RemoveNode(CheckTreeNode* node) {
  if (!node || node == root_ || live_.count(node) == 0) return false;
  while (!node->children.empty()) RemoveNode(node->children.back());
  if (node->row) CListUI::Remove(node->row);
  CheckTreeNode* parent = node->parent;
  if (parent) {
    auto& siblings = parent->children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it)
      if (*it == node) {
        siblings.erase(it);
        break;
      }
  }
  forget(node);
  delete node;
  return true;
}

void CCheckTreeView::ToggleExpand(CheckTreeNode* node, bool onLabel) {
  if (!node) return;
  if (node == root_ && node->children.empty()) return;
  node->expanded = !node->expanded;
  if (!node->children.empty()) {
    int first = GetNodeIndex(node->children.front());
    int last = GetNodeIndex(lastDescendant(node));
    if (first < 0 || last < 0) return;
    for (int i = first; i <= last; ++i) {
      CheckTreeNode* m = nodeAt(i);
      if (!m || !m->parent) continue;
      CheckTreeNode* p = m->parent;
      bool parentShown = p == root_ || (p->row && p->row->IsVisible());
      m->row->SetInternVisible(p->expanded && parentShown);
    }
  } else {
    return;
  }
  if (onLabel && node->expandButton) node->expandButton->Selected(!node->expandButton->IsSelected());
  NeedUpdate();
}

void CCheckTreeView::mark(CheckTreeNode* node, bool checked) {
  if (node->checked != checked && node != root_ && live_.count(node) != 0) {
    if (checked)
      ++checkedCount_;
    else
      --checkedCount_;
  }
  node->checked = checked;
  if (node->checkBox) node->checkBox->Selected(checked);
}

void CCheckTreeView::markSubtree(CheckTreeNode* node, bool checked) {
  for (CheckTreeNode* c : node->children) {
    mark(c, checked);
    markSubtree(c, checked);
  }
}

void CCheckTreeView::setState(CheckTreeNode* node, bool checked) {
  if (!node || node == root_ || node->checked == checked) return;
  mark(node, checked);
  if (node->row && node->row->IsVisible() && !node->children.empty()) NeedUpdate();
}

void CCheckTreeView::SetNodeChecked(CheckTreeNode* node, bool checked) {
  if (!node) return;
  setState(node, checked);
  if (!node->children.empty()) {
    int first = GetNodeIndex(node->children.front());
    int last = GetNodeIndex(lastDescendant(node));
    if (first < 0 || last < 0) return;
    for (int i = first; i <= last; ++i) setState(nodeAt(i), checked);
  }
  for (CheckTreeNode* p = node->parent; p && p != root_; p = p->parent) {
    if (!checked) {
      setState(p, false);
      continue;
    }
    int first = GetNodeIndex(p->children.front());
    int last = GetNodeIndex(lastDescendant(p));
    if (first < 0 || last < 0) return;
    bool all = true;
    for (int i = first; i <= last && all; ++i) {
      CheckTreeNode* m = nodeAt(i);
      if (m && !m->checked) all = false;
    }
    if (all) setState(p, true);
  }
}

bool CCheckTreeView::SetSubtreeChecked(CheckTreeNode* node, bool checked) {
  if (!node || node == root_) return false;
  markSubtree(node, checked);
  return true;
}

void CCheckTreeView::UncheckAll() {
  for (CheckTreeNode* top : root_->children) {
    mark(top, false);
    markSubtree(top, false);
  }
}

namespace {
void collect(CheckTreeNode* node, std::vector<void*>& out) {
  if (node->checked) out.push_back(node->data);
  for (CheckTreeNode* c : node->children) collect(c, out);
}
}  // namespace

void CCheckTreeView::GetCheckedData(std::vector<void*>& out) {
  for (CheckTreeNode* top : root_->children) collect(top, out);
}

void CCheckTreeView::notify(LPCTSTR type) {
  if (m_pManager) m_pManager->SendNotify(this, type);
}

bool CCheckTreeView::OnExpandEvent(void* param) {
  auto* event = static_cast<TEventUI*>(param);
  if (!event) return true;
  if (event->Type == UIEVENT_SETCURSOR) {
    abui::SetCursor(abui::HandCursor());
  } else if (event->Type == UIEVENT_BUTTONDOWN || event->Type == UIEVENT_DBLCLICK) {
    CheckTreeNode* node = nodeOf(event->pSender);
    if (node) {
      ToggleExpand(node, event->pSender->GetName() == _T("DisplayNameLbl"));
      notify(_T("CheckExpand"));
    }
  }
  return true;
}

void CCheckTreeView::toggleFromBox(CheckTreeNode* node) {
  SetNodeChecked(node, !node->checked);
  // The box flips itself when the click completes, and so lands on the node's state.
  if (node->checkBox) node->checkBox->Selected(!node->checked);
  notify(_T("CheckChange"));
}

bool CCheckTreeView::OnCheckEvent(void* param) {
  auto* event = static_cast<TEventUI*>(param);
  if (!event) return true;
  if (event->Type == UIEVENT_SETCURSOR) {
    abui::SetCursor(abui::HandCursor());
  } else if (event->Type == UIEVENT_BUTTONDOWN || event->Type == UIEVENT_DBLCLICK) {
    if (CheckTreeNode* node = nodeOf(event->pSender)) toggleFromBox(node);
  } else if (event->Type == UIEVENT_KEYDOWN) {
    // Space and Return activate a focused box just as a completed click does (the box flips
    // itself afterwards): the node must follow, or box and node would disagree.
    CheckTreeNode* node = nodeOf(event->pSender);
    if (node && node->checkBox == event->pSender && (event->chKey == VK_SPACE || event->chKey == VK_RETURN) &&
        node->checkBox->IsVisible() && node->checkBox->IsEnabled())
      toggleFromBox(node);
  } else if (event->Type == UIEVENT_BUTTONUP) {
    // A press released outside the box does not complete the click: show the node's state.
    CheckTreeNode* node = nodeOf(event->pSender);
    if (node && node->checkBox && !RectContains(node->checkBox->GetPos(), event->ptMouse))
      node->checkBox->Selected(node->checked);
  }
  return true;
}

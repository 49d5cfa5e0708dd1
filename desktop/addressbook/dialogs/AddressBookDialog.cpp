// The recipient picker.
#include "addressbook/AddressBookDialog.h"

#include "addressbook/AddressBookClient.h"
#include "addressbook/CheckTreeView.h"
#include "addressbook/ContactDb.h"
#include "addressbook/MutilSelectList.h"
#include "bridge/PW_PostwingServer.h"
#include "log/IM_LogManager.h"
#include "ui/HintDialog.h"
#include "ui/UIStatic.h"

#include <ace/Guard_T.h>

#include <cstdio>

using namespace DuiLib;

const char* const CAddressBookDialog::PLACEHOLDER = "姓名、字母搜索联系人";

namespace {
typedef ACE_Guard<ACE_Thread_Mutex> Guard;

struct ListControls {
  LPCTSTR list;
  LPCTSTR countLabel;
  LPCTSTR format;
};
// Indexed by RecipientListId - 1.
const ListControls kLists[] = {
    {_T("reselectlist"), _T("relabel"), _T("收件人(%d)")},
    {_T("ccselectlist"), _T("cclabel"), _T("抄送人(%d)")},
    {_T("bcselectlist"), _T("bcclabel"), _T("密送人(%d)")},
    {_T("searchlst"), nullptr, nullptr},
};
LPCTSTR const kAddButtons[] = {_T("reRightbtn"), _T("ccRightbtn"), _T("bcRightbtn")};
LPCTSTR const kRemoveButtons[] = {_T("reLeftbtn"), _T("ccLeftbtn"), _T("bcLeftbtn")};
const int kRowHeight = 24;
const int kIndent = 6;

bool isName(CControlUI* c, LPCTSTR name) { return c && c->GetName().CompareNoCase(name) == 0; }
COptionUI* optionOf(CControlUI* c) { return c ? static_cast<COptionUI*>(c->GetInterface(_T("Option"))) : nullptr; }
}  // namespace

CAddressBookDialog::CAddressBookDialog() = default;

CAddressBookDialog::~CAddressBookDialog() = default;

CControlUI* CAddressBookDialog::CreateControl(LPCTSTR pstrClass) {
  CDuiString name(pstrClass ? pstrClass : "");
  if (name.CompareNoCase(_T("StaticUI")) == 0) return new CStaticUI();
  if (name.CompareNoCase(_T("CheckTreeView")) == 0) return new CCheckTreeView();
  if (name.CompareNoCase(_T("MutilSelectList")) == 0) return new CMutilSelectList(&m_PaintManager);
  return nullptr;
}

LRESULT CAddressBookDialog::OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  LRESULT result = WindowImplBase::OnCreate(uMsg, wParam, lParam, bHandled);
  if (result == 0) window_.store(m_hWnd);
  return result;
}

void CAddressBookDialog::OnFinalMessage(HWND hWnd) {
  ready_ = false;
  window_.store(nullptr);
  WindowImplBase::OnFinalMessage(hWnd);
}

// ---- texts ------------------------------------------------------------------------------------
std::string CAddressBookDialog::displayText(Contact* contact) {
  if (!contact) return std::string();
  std::string display = contact->getDisplayName();
  if (!display.empty()) return display;
  std::string name = contact->getName();
  if (name.empty()) return std::string();
  std::string nick = contact->getNickName();
  return nick.empty() ? name : name + " [" + nick + "]";
}

std::string CAddressBookDialog::entryText(Contact* contact) {
  if (!contact) return std::string();
  return displayText(contact) + "<" + contact->getName() + ">";
}

// ---- controls ---------------------------------------------------------------------------------
bool CAddressBookDialog::bindControls() {
  if (controls_.bound) return true;
  if (!m_PaintManager.GetRoot()) return false;
  Controls c;
  c.bound = true;
  c.tree = dynamic_cast<CCheckTreeView*>(m_PaintManager.FindControl(_T("addressbooklst")));
  for (int i = 0; i < 4; ++i) c.lists[i] = dynamic_cast<CMutilSelectList*>(m_PaintManager.FindControl(kLists[i].list));
  for (int i = 0; i < 3; ++i) {
    c.countLabels[i] = m_PaintManager.FindControl(kLists[i].countLabel);
    c.addButtons[i] = m_PaintManager.FindControl(kAddButtons[i]);
    c.removeButtons[i] = m_PaintManager.FindControl(kRemoveButtons[i]);
  }
  c.warning = m_PaintManager.FindControl(_T("warningctl"));
  c.warningLabel = m_PaintManager.FindControl(_T("warninglabel"));
  c.ok = m_PaintManager.FindControl(_T("okbtn"));
  controls_ = c;
  return true;
}

CMutilSelectList* CAddressBookDialog::list(int listId) {
  if (listId < 1 || listId > 4 || !bindControls()) return nullptr;
  return controls_.lists[listId - 1];
}

CCheckTreeView* CAddressBookDialog::tree() { return bindControls() ? controls_.tree : nullptr; }

void CAddressBookDialog::setEnabled(LPCTSTR name, bool enabled) { setEnabled(m_PaintManager.FindControl(name), enabled); }

void CAddressBookDialog::setVisible(LPCTSTR name, bool visible) { setVisible(m_PaintManager.FindControl(name), visible); }

void CAddressBookDialog::setEnabled(CControlUI* c, bool enabled) {
  if (c) c->SetEnabled(enabled);
}

void CAddressBookDialog::setVisible(CControlUI* c, bool visible) {
  if (c) c->SetVisible(visible);
}

void CAddressBookDialog::setCountLabel(int listId) {
  if (listId < 1 || listId > 3 || !bindControls()) return;
  CControlUI* label = controls_.countLabels[listId - 1];
  CMutilSelectList* l = list(listId);
  if (!label || !l) return;
  CDuiString text;
  text.Format(kLists[listId - 1].format, l->GetCount());
  label->SetText(text);
}

// ---- views ------------------------------------------------------------------------------------
void CAddressBookDialog::showLoading() {
  setVisible(_T("addressbooklst"), false);
  setVisible(_T("LoadingResultSti"), false);
  setVisible(_T("LoadingGuageSti"), true);
}

void CAddressBookDialog::showLoadFailed() {
  setVisible(_T("addressbooklst"), false);
  setVisible(_T("LoadingGuageSti"), false);
  setVisible(_T("searchlst"), false);
  setVisible(_T("LoadingResultSti"), true);
  if (auto* edit = dynamic_cast<CEditUI*>(m_PaintManager.FindControl(_T("keywordedit")))) edit->SetReadOnly(true);
}

void CAddressBookDialog::showTree() {
  setVisible(_T("LoadingGuageSti"), false);
  setVisible(_T("LoadingResultSti"), false);
  setVisible(_T("searchlst"), false);
  setVisible(_T("addressbooklst"), true);
  if (auto* edit = dynamic_cast<CEditUI*>(m_PaintManager.FindControl(_T("keywordedit")))) edit->SetReadOnly(false);
}

// ---- window start -----------------------------------------------------------------------------
void CAddressBookDialog::onWindowInit() {
  if (CControlUI* title = m_PaintManager.FindControl(_T("titallabel"))) {
    CDuiString text;
    text.Format(_T("Postwing( %s )"), ContactDb::instance()->userId().c_str());
    title->SetText(text);
  }
  if (auto* edit = dynamic_cast<CEditUI*>(m_PaintManager.FindControl(_T("keywordedit")))) edit->SetReadOnly(true);
  setVisible(_T("addressbooklst"), false);
  setVisible(_T("searchlst"), false);
  setVisible(_T("LoadingGuageSti"), true);

  AddressBookClient* client = AddressBookClient::instance();
  switch (client->getState()) {
    case AddressBookClient::STATE_UPDATED:
    case AddressBookClient::STATE_NOT_STORED: {  // the tree shows what was fetched, stored or not
      std::vector<Sptr<INode>> roots = client->getRootGroups();
      onAddressBookUpdated(roots, 0);
      break;
    }
    case AddressBookClient::STATE_IDLE:
      showLoadFailed();
      break;
    default:  // fetching: the main window reports the end
      break;
  }
  updateLimitWarning();
  setAddButtonsEnabled(false);
  disableRemoveButtons();
  ready_ = true;
}

// ---- the tree ---------------------------------------------------------------------------------
void CAddressBookDialog::onAddressBookUpdated(std::vector<Sptr<INode>>& rootGroups, int) {
  HWND wnd = window_.load();
  if (!wnd) return;
  if (GetWindowThreadProcessId(wnd, nullptr) == GetCurrentThreadId()) {
    rebuild(rootGroups);
    return;
  }
  {
    Guard g(pendingMutex_);
    pendingRoots_ = rootGroups;
    pendingValid_ = true;
  }
  if (!::PostMessageA(wnd, WM_ABOOK_UPDATED, 0, 0))
    IM_LOG_WARN("CAddressBookDialog, [address book update not delivered to the window]");
}

LRESULT CAddressBookDialog::HandleCustomMessage(UINT uMsg, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  if (uMsg == WM_ABOOK_UPDATED) {
    std::vector<Sptr<INode>> roots;
    bool valid;
    {
      Guard g(pendingMutex_);
      roots.swap(pendingRoots_);
      valid = pendingValid_;
      pendingValid_ = false;
    }
    if (valid) rebuild(roots);  // the latest of several posted updates carries the model
    bHandled = TRUE;
    return 0;
  }
  if (ready_ && uMsg == WM_MOUSEMOVE) updateButtonStates();
  return 0;
}

void CAddressBookDialog::rebuild(std::vector<Sptr<INode>>& rootGroups) {
  // No book (a fetch that failed or was stopped); a book the table did not take is shown.
  if (AddressBookClient::instance()->getState() == AddressBookClient::STATE_IDLE) {
    showLoadFailed();
    return;
  }
  CCheckTreeView* view = tree();
  if (!view) return;
  view->RemoveAll();
  std::vector<Sptr<INode>> previous;
  previous.swap(treeContacts_);  // released once no row points at them
  for (Sptr<INode>& group : rootGroups) {
    lastRootNode_ = nullptr;
    addGroupNode(0, group, nullptr);
    if (lastRootNode_) {
      view->SetNodeChecked(lastRootNode_, false);
      view->SetSubtreeChecked(lastRootNode_, false);
    }
  }
  lastRootNode_ = nullptr;
  showTree();
  updateLimitWarning();
}

void CAddressBookDialog::addGroupNode(int depth, Sptr<INode> groupNode, CheckTreeNode* parent) {
  auto* group = dynamic_cast<Group*>(groupNode.get());
  CCheckTreeView* view = tree();
  if (!group || !view) return;

  auto buildRow = [this]() -> CControlUI* {
    if (rowBuilder_.GetMarkup()->IsValid()) return rowBuilder_.Create(this, &m_PaintManager, nullptr);
    return rowBuilder_.Create(_T("XmlNode.xml"), nullptr, this, &m_PaintManager, nullptr);
  };
  auto place = [](CControlUI* row, int left) {
    row->SetFixedHeight(kRowHeight);
    if (auto* container = static_cast<CContainerUI*>(row->GetInterface(_T("Container"))))
      container->SetInset(RECT{left, 0, 0, 0});
    row->SetPadding(RECT{left, 0, 0, 0});
  };

  CControlUI* row = buildRow();
  if (!row) return;
  place(row, kIndent * depth);
  COptionUI* expand = optionOf(m_PaintManager.FindSubControlByName(row, _T("ExpandBtn")));
  COptionUI* check = optionOf(m_PaintManager.FindSubControlByName(row, _T("SelectedBtn")));
  CControlUI* label = m_PaintManager.FindSubControlByName(row, _T("DisplayNameLbl"));
  if (label) {
    label->SetText(group->getDisplayName().c_str());
    if (auto* l = static_cast<CLabelUI*>(label->GetInterface(_T("Label")))) l->SetFont(1);
  }
  if (CControlUI* box = m_PaintManager.FindSubControlByName(row, _T("HorizontalLayoutUI2"))) box->SetFixedWidth(50);
  if (!expand || !check) {
    delete row;  // a group row without its buttons leaves the group out
    return;
  }
  CheckTreeNode* node = label ? view->AddNode(expand, parent, row, false, check, false, 1, label)
                              : view->AddNode(expand, parent, row, false, check, false, 0);
  if (!node) return;
  if (depth == 0) lastRootNode_ = node;

  std::vector<Sptr<INode>> contacts;
  group->getContacts(contacts);
  for (Sptr<INode>& contactNode : contacts) {
    auto* contact = dynamic_cast<Contact*>(contactNode.get());
    if (!contact) continue;
    CControlUI* contactRow = buildRow();
    if (!contactRow) return;
    place(contactRow, kIndent * depth + kIndent);
    COptionUI* cExpand = optionOf(m_PaintManager.FindSubControlByName(contactRow, _T("ExpandBtn")));
    COptionUI* cCheck = optionOf(m_PaintManager.FindSubControlByName(contactRow, _T("SelectedBtn")));
    if (CControlUI* cLabel = m_PaintManager.FindSubControlByName(contactRow, _T("DisplayNameLbl")))
      cLabel->SetText(displayText(contact).c_str());
    CheckTreeNode* contactTreeNode = view->AddNode(cExpand, node, contactRow, false, cCheck, false, 0);
    if (!contactTreeNode) continue;
    contactTreeNode->data = contact;
    treeContacts_.push_back(contactNode);
  }

  std::vector<Sptr<INode>> children;
  group->getGroups(children);
  for (Sptr<INode>& child : children) addGroupNode(depth + 1, child, node);
}

// ---- lists ------------------------------------------------------------------------------------
void CAddressBookDialog::addContactToList(Contact* contact, int listId) {
  if (!contact) return;
  addEntriesToList(std::vector<std::string>{entryText(contact)}, listId);
}

void CAddressBookDialog::addEntriesToList(const std::vector<std::string>& texts, int listId) {
  CMutilSelectList* l = list(listId);
  if (!l) return;
  l->AddItems(texts, true);
  setCountLabel(listId);
  updateLimitWarning();
}

void CAddressBookDialog::moveToList(int listId) {
  CMutilSelectList* target = list(listId);
  if (!target) return;
  CCheckTreeView* view = tree();
  CMutilSelectList* hits = list(LIST_SEARCH);
  if (view && view->IsVisible()) {
    std::vector<void*> checked;
    view->GetCheckedData(checked);
    std::vector<std::string> texts;
    texts.reserve(checked.size());
    for (void* data : checked)
      if (data) texts.push_back(entryText(static_cast<Contact*>(data)));
    if (!texts.empty()) addEntriesToList(texts, listId);
    view->UncheckAll();
  } else if (hits && hits->IsVisible()) {
    std::vector<std::string> texts;
    hits->GetSelectedTexts(texts);
    target->AddItems(texts, true);
    setCountLabel(listId);
    hits->SelectAll(false);
    updateLimitWarning();
  }
}

void CAddressBookDialog::removeSelected(int listId) {
  if (CMutilSelectList* l = list(listId)) l->RemoveSelected();
  setCountLabel(listId);
  updateLimitWarning();
}

void CAddressBookDialog::clearList(int listId) {
  if (CMutilSelectList* l = list(listId)) l->RemoveAll();
  setCountLabel(listId);
  updateLimitWarning();
}

void CAddressBookDialog::collectAddresses(int listId, std::vector<std::string>& out) {
  if (CMutilSelectList* l = list(listId)) l->GetAddresses(out);
}

void CAddressBookDialog::updateLimitWarning() {
  int total = 0;
  for (int id = LIST_TO; id <= LIST_BCC; ++id)
    if (CMutilSelectList* l = list(id)) total += l->GetCount();
  bool over = total > MAX_RECIPIENTS;
  if (!bindControls()) return;
  setVisible(controls_.warning, over);
  setVisible(controls_.warningLabel, over);
  setEnabled(controls_.ok, !over);
}

void CAddressBookDialog::setAddButtonsEnabled(bool enabled) {
  if (!bindControls()) return;
  for (CControlUI* button : controls_.addButtons) setEnabled(button, enabled);
}

void CAddressBookDialog::disableRemoveButtons() {
  if (!bindControls()) return;
  for (CControlUI* button : controls_.removeButtons) setEnabled(button, false);
}

// On every mouse move: constant work for the tree (its count of checked nodes), one pass over
// each list's rows that stops at the first selected one.
void CAddressBookDialog::updateButtonStates() {
  if (!bindControls()) return;
  for (int id = LIST_TO; id <= LIST_BCC; ++id) {
    CMutilSelectList* l = list(id);
    setEnabled(controls_.removeButtons[id - 1], l && l->HasSelection());
  }
  bool canAdd = false;
  CCheckTreeView* view = tree();
  CMutilSelectList* hits = list(LIST_SEARCH);
  if (view && view->IsVisible()) {
    canAdd = view->HasCheckedNode();
  } else if (hits && hits->IsVisible()) {
    canAdd = hits->HasSelection();
  }
  setAddButtonsEnabled(canAdd);
}

// ---- search -----------------------------------------------------------------------------------
void CAddressBookDialog::search(const std::string& keyword) {
  if (keyword.empty()) {
    setVisible(_T("searchlst"), false);
    setVisible(_T("addressbooklst"), true);
    return;
  }
  setVisible(_T("addressbooklst"), false);
  setVisible(_T("searchlst"), true);
  std::vector<Sptr<INode>> found;
  ContactDb::instance()->search(keyword, found);
  clearList(LIST_SEARCH);
  std::vector<std::string> texts;
  texts.reserve(found.size());
  for (Sptr<INode>& hit : found)
    if (auto* contact = dynamic_cast<Contact*>(hit.get())) texts.push_back(entryText(contact));
  // The hits never count toward the limit: the warning stays as clearList left it.
  if (CMutilSelectList* hitsList = list(LIST_SEARCH)) hitsList->AddItems(texts, true);
}

// ---- OK -------------------------------------------------------------------------------------
void CAddressBookDialog::onOk() {
  std::vector<std::string> to, cc, bcc;
  collectAddresses(LIST_TO, to);
  collectAddresses(LIST_CC, cc);
  collectAddresses(LIST_BCC, bcc);
  bool sent = PW_PostwingServer::instance()->sendSelectedAddr(to, cc, bcc);
  for (int id = LIST_TO; id <= LIST_BCC; ++id) clearList(id);
  if (CCheckTreeView* view = tree()) {
    CheckTreeNode* root = view->GetRoot();
    for (int i = 0; CheckTreeNode* top = view->GetChildNode(root, i); ++i) {
      view->SetNodeChecked(top, false);
      view->SetSubtreeChecked(top, false);
    }
  }
  if (!sent) {
    // The compose window that asked is gone or its connection refused the reply: say so, so
    // that the user picks again from the compose window.
    IM_LOG_WARN("CAddressBookDialog, [recipients not delivered to the compose window]");
    ShowHintDialog(this, _T("收件人未能送达写信窗口，请在写信窗口中重新打开企业通讯录。"), m_hWnd, _T("提示信息"), _T(""),
                   false);
  }
  Close(1);
}

// ---- notifications ----------------------------------------------------------------------------
void CAddressBookDialog::Notify(TNotifyUI& msg) {
  CControlUI* sender = msg.pSender;
  if (msg.sType.CompareNoCase(DUI_MSGTYPE_WINDOWINIT) == 0) {
    onWindowInit();
  } else if (msg.sType.CompareNoCase(DUI_MSGTYPE_TEXTCHANGED) == 0) {
    // With a book shown, stored or not: a table that cannot be read answers no hit (and logs it).
    if (!AddressBookClient::instance()->bookFetched()) return;
    if (!isName(sender, _T("keywordedit")) || sender->GetText() == PLACEHOLDER) return;
    search(sender->GetText().str());
  } else if (msg.sType.CompareNoCase(DUI_MSGTYPE_SETFOCUS) == 0) {
    if (isName(sender, _T("keywordedit")) && sender->GetText() == PLACEHOLDER) sender->SetText(_T(""));
  } else if (msg.sType.CompareNoCase(DUI_MSGTYPE_KILLFOCUS) == 0) {
    if (isName(sender, _T("keywordedit")) && sender->GetText().IsEmpty()) sender->SetText(PLACEHOLDER);
  } else if (msg.sType.CompareNoCase(DUI_MSGTYPE_CLICK) == 0 && sender) {
    if (isName(sender, _T("CloseWndBtn")) || isName(sender, _T("BtnQuit"))) {
      Close(1);
      return;
    }
    if (isName(sender, _T("MinimizeWndBtn"))) {
      SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
      return;
    }
    CDuiString name = sender->GetName();
    if (name == _T("reupdatebtn")) {
      // A fetch that cannot start would leave the loading view waiting for a result that never
      // comes: the failure view (with its retry button) stays instead.
      if (AddressBookClient::instance()->update() == 0)
        showLoading();
      else
        showLoadFailed();
    } else if (name == _T("reRightbtn")) {
      moveToList(LIST_TO);
    } else if (name == _T("ccRightbtn")) {
      moveToList(LIST_CC);
    } else if (name == _T("bcRightbtn")) {
      moveToList(LIST_BCC);
    } else if (name == _T("reLeftbtn")) {
      removeSelected(LIST_TO);
    } else if (name == _T("ccLeftbtn")) {
      removeSelected(LIST_CC);
    } else if (name == _T("bcLeftbtn")) {
      removeSelected(LIST_BCC);
    } else if (name == _T("recleanbtn")) {
      clearList(LIST_TO);
    } else if (name == _T("cccleanbtn")) {
      clearList(LIST_CC);
    } else if (name == _T("bccleanbtn")) {
      clearList(LIST_BCC);
    } else if (name == _T("okbtn")) {
      onOk();
    } else if (name == _T("cancelbtn")) {
      Close(1);
    }
  }
}

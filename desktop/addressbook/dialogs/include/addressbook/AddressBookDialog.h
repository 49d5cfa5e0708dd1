// CAddressBookDialog: the recipient picker. It shows the address book as a check-box tree
// (CCheckTreeView), a keyword search over the contact table whose hits replace the tree while
// a keyword is typed, and three recipient lists, To, Cc and Bcc (CMutilSelectList). Checked
// contacts or selected hits move into a list with its add button; OK hands the three lists'
// addresses to the local server, which sends them to the compose window that asked.
// Skins: "AddressBookDialog.xml", each tree row "XmlNode.xml", each list entry
// "MutilListItem.xml". Texts are the program's narrow (GBK) text.
//
// Threads: the window's UI thread for everything, except onAddressBookUpdated, which the main
// window calls from the address-book listener on the thread that ends a fetch: from another
// thread it stores a copy of the root groups (pendingMutex_) and posts WM_ABOOK_UPDATED, and
// the tree is rebuilt on the UI thread. The caller keeps the object alive during that call.
// pendingRoots_ and pendingValid_ are guarded by pendingMutex_ (a leaf lock); window_ is
// atomic; every other member is the UI thread's.
//
// Model lifetime: the dialog holds a reference to every contact its tree points at, so a model
// replaced or cleared by the address-book client never frees a contact while a row shows it.
#pragma once

#include "duilib/UIlib.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <string>
#include <vector>

#include "addressbook/ContactModel.h"

class CCheckTreeView;
class CMutilSelectList;
struct CheckTreeNode;
class Contact;

class CAddressBookDialog : public DuiLib::WindowImplBase {
 public:
  // The lists, by number.
  enum RecipientListId { LIST_TO = 1, LIST_CC = 2, LIST_BCC = 3, LIST_SEARCH = 4 };
  // At most this many recipients in all for OK to be enabled.
  static const int MAX_RECIPIENTS = 50;
  // Carries a finished fetch to the window's thread.
  static const UINT WM_ABOOK_UPDATED = WM_USER + 0x232;
  static const char* const PLACEHOLDER;  // the keyword box's text while it holds no keyword

  CAddressBookDialog();
  ~CAddressBookDialog() override;

  LPCTSTR GetWindowClassName() const override { return _T("CAddressBookDialog"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;

  // Rebuilds the tree from the root groups (or shows the failure view when the address-book
  // client is idle); the number is not read. Any thread (see above).
  virtual void onAddressBookUpdated(std::vector<Sptr<INode>>& rootGroups, int unused);

  // The text of an entry for a contact: display text, "<", the contact's name, ">".
  static std::string entryText(Contact* contact);
  // The display text of a contact (its tree row shows it).
  static std::string displayText(Contact* contact);

 protected:
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("AddressBookDialog.xml"); }
  LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  void OnFinalMessage(HWND hWnd) override;

 private:
  void onWindowInit();
  void rebuild(std::vector<Sptr<INode>>& rootGroups);
  void addContactToList(Contact* contact, int listId);
  // Adds the entries whose texts the list does not hold yet, in order, as one batch; then the
  // count label and the limit warning once.
  void addEntriesToList(const std::vector<std::string>& texts, int listId);
  void moveToList(int listId);
  void removeSelected(int listId);
  void clearList(int listId);
  void collectAddresses(int listId, std::vector<std::string>& out);
  void updateLimitWarning();
  void setAddButtonsEnabled(bool enabled);
  void disableRemoveButtons();
  void updateButtonStates();
  void showLoading();
  void showLoadFailed();
  void showTree();
  void addGroupNode(int depth, Sptr<INode> group, CheckTreeNode* parent);
  void search(const std::string& keyword);
  void onOk();

  CMutilSelectList* list(int listId);
  CCheckTreeView* tree();
  void setCountLabel(int listId);
  void setEnabled(LPCTSTR name, bool enabled);
  void setVisible(LPCTSTR name, bool visible);
  void setEnabled(DuiLib::CControlUI* control, bool enabled);
  void setVisible(DuiLib::CControlUI* control, bool visible);
  // Looks the skin's controls up once, when the window's tree exists; false before that.
  bool bindControls();

  // The skin's controls, looked up once (null when the skin lacks one).
  struct Controls {
    bool bound = false;
    CCheckTreeView* tree = nullptr;
    CMutilSelectList* lists[4] = {nullptr, nullptr, nullptr, nullptr};  // by RecipientListId - 1
    DuiLib::CControlUI* countLabels[3] = {nullptr, nullptr, nullptr};
    DuiLib::CControlUI* addButtons[3] = {nullptr, nullptr, nullptr};
    DuiLib::CControlUI* removeButtons[3] = {nullptr, nullptr, nullptr};
    DuiLib::CControlUI* warning = nullptr;
    DuiLib::CControlUI* warningLabel = nullptr;
    DuiLib::CControlUI* ok = nullptr;
  };
  Controls controls_;

  bool ready_ = false;
  CheckTreeNode* lastRootNode_ = nullptr;     // the root group's node during a build
  DuiLib::CDialogBuilder rowBuilder_;         // "XmlNode.xml", parsed once
  std::vector<Sptr<INode>> treeContacts_;     // every contact a tree row points at
  ACE_Thread_Mutex pendingMutex_;
  std::vector<Sptr<INode>> pendingRoots_;     // guarded by pendingMutex_
  bool pendingValid_ = false;                 // guarded by pendingMutex_
  std::atomic<HWND> window_{nullptr};
};

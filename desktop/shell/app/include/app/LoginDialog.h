// CLoginDialog: the desktop program's main window. It is the login form; it owns the tray icon,
// receives the tray's, the popup menu's, the local server's and the address book's messages,
// pops the tray menus, and opens every other window of the program modally on the UI thread:
// the recipient picker and the address-book update dialog, the upload dialog, the software
// update dialog, the about dialog and its own message boxes.
//
// Login goes through the single sign-on client and then starts the per-user services: the
// settings, the per-user database, the address-book client and the net-disk client.
//
// Thread rule: the UI thread (the thread that created the window) for everything, except
// OnAddrbookUpdate, which runs on the thread that ends an address-book fetch: it only posts
// WM_PW_ADDRBOOKUPDATED to the window (hwnd_ is atomic), and the UI thread acts on it.
// Other threads reach the window only through posted messages.
//
// Closing: WM_CLOSE removes the tray icon and destroys the window, whose final message posts
// WM_QUIT and deletes the object; the destructor stops the local server and leaves the
// address-book listeners. A WM_CLOSE that arrives while one of the window's modal loops runs
// closes the open windows first and takes effect when the last modal loop has returned, so no
// loop returns into a deleted window.
//
// Parts built only when their libraries are in the program:
//   PW_HAVE_ADDRESSBOOK_DIALOGS  the recipient picker and the address-book update dialog
//                                (pw_addressbook_dialogs)
//   PW_HAVE_NETDISK_CLIENT       the net-disk client's start at login (pw_netdisk_client)
//   PW_HAVE_UPLOADER_DIALOG      the upload dialog (pw_netdisk_dialog)
// Without one of them the request for it is logged and nothing opens.
#pragma once

#include "addressbook/AddressBookListeners.h"
#include "app/SystemTray.h"
#include "corvane/Sptr.h"
#include "duilib/UIlib.h"

#include <atomic>
#include <string>
#include <vector>

class CAboutDialog;
class CSoftUpdateDialog;
class CHintDialog;
class CAddressBookDialog;
class CAddressBookUpdateDialog;
class CFileUploaderDialog;

class CLoginDialog : public DuiLib::WindowImplBase, public IAddrbookListener {
 public:
  // Pending dialog requests.
  enum { PENDING_NONE = 0, PENDING_ADDRESS_BOOK = 1, PENDING_UPLOAD = 2 };

  // Starts the local server and registers with the address-book client.
  CLoginDialog();
  ~CLoginDialog() override;

  // The one main window of the process, or null. Any thread may read the pointer; only the
  // UI thread may use the object.
  static CLoginDialog* mainWindow();
  // The main window's handle, or null. Any thread.
  static HWND mainWindowHandle();

  LPCTSTR GetWindowClassName() const override { return _T("CLoginDialog"); }
  void OnFinalMessage(HWND hWnd) override;
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("LoginDialog.xml"); }
  void InitWindow() override;
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;
  LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

  // An address-book fetch ended. The fetch's thread.
  void OnAddrbookUpdate(const std::vector<Sptr<INode>>& rootGroups, int status) override;

  // The login road: reads the form, authenticates, starts the user's services.
  void login();
  // A tray-menu command by item name (without regard to case).
  void onMenuCommand(const std::string& name);

  CSystemTray& tray() { return tray_; }
  bool isLoggedIn() const { return loggedIn_; }
  int pendingRequest() const { return pending_; }
  const std::string& currentUserId() const { return currentUserId_; }
  int modalDepth() const { return modalDepth_; }

 private:
  // Shows the window with the focus and raises it to the top of the z-order.
  void showAndRaise();
  static void raise(HWND hWnd);
  // Runs a dialog created by the caller modally over nothing, as every dialog of the program.
  UINT runModal(DuiLib::CWindowWnd* dlg, bool raiseIt);
  void openAddressBook();
  void openAddressBookUpdate();
  void openUploader();
  void openAbout();
  void openSoftUpdate();
  // The window's own boxes (logout confirmation, address-book refusal): 1 when confirmed;
  // 0 at once when that box is open already.
  int runOwnBox(CHintDialog*& slot, const char* title, const std::string& message);
  void logout();
  void popTrayMenu(int x, int y);
  void onAddrbookUpdated(int status);  // UI thread
  // Closes every other window of this thread (dialogs, boxes, menus).
  void closeOpenWindows();
  void modalEnded();

  static std::atomic<CLoginDialog*> instance_;

  CSystemTray tray_;
  std::atomic<HWND> hwnd_{nullptr};  // for the fetch's thread; null once the window is gone
  std::string currentUserId_;
  int pending_ = PENDING_NONE;
  bool loggedIn_ = false;
  int modalDepth_ = 0;             // modal loops of this window running
  bool closeRequested_ = false;    // WM_CLOSE came during a modal loop

  CFileUploaderDialog* uploader_ = nullptr;
  CAddressBookDialog* picker_ = nullptr;
  // The picker was told to close: it is forgotten, though its modal run has not returned yet
  // (that happens once the loops opened inside it end). A request meanwhile is kept in
  // pickerRequested_ and opens a new picker when the old run has returned.
  bool pickerClosing_ = false;
  bool pickerRequested_ = false;
  CAddressBookUpdateDialog* addressBookUpdate_ = nullptr;
  CHintDialog* logoutBox_ = nullptr;
  CHintDialog* refusalBox_ = nullptr;
  CAboutDialog* about_ = nullptr;
  Sptr<CSoftUpdateDialog> softUpdate_;
};

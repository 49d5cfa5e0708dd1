// CAddressBookUpdateDialog: the small modal window that shows a manual fetch of the address
// book: the running state of its skin "AddressBookUpdateDialog.xml" until the main window hands
// it the result, then the finished state (with a failure text when the fetch failed). The user
// can stop the fetch or close the window. A window that opens when no fetch runs any more
// shows the outcome at once (the client's state: fetched is success, idle is failure).
//
// Threads: the window's UI thread for everything, except showUpdateResult (any thread: it is
// called from the address-book listener, on the thread that ends the fetch). The caller keeps
// the object alive during that call; a result that arrives after the window is gone is dropped.
// window_ is atomic: written on the UI thread at creation and destruction, read by any thread.
#pragma once

#include "duilib/UIlib.h"

#include <atomic>

class CAddressBookUpdateDialog : public DuiLib::WindowImplBase {
 public:
  // Carries a fetch result to the window's thread (wParam: the status).
  static const UINT WM_ABOOK_UPDATE_RESULT = WM_USER + 0x231;

  CAddressBookUpdateDialog() = default;
  ~CAddressBookUpdateDialog() override = default;

  LPCTSTR GetWindowClassName() const override { return _T("CAddressBookUpdateDialog"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;

  // Switches to the finished state: status 0 is success, any other value failure.
  void showUpdateResult(int status);

 protected:
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("AddressBookUpdateDialog.xml"); }
  LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  void OnFinalMessage(HWND hWnd) override;

 private:
  void applyResult(int status);  // UI thread
  void show(LPCTSTR name, bool visible);

  std::atomic<HWND> window_{nullptr};
  DuiLib::CDuiString successText_;  // the skin's text of UpdatedHint; UI thread
};

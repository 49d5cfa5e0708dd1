// CAboutDialog: the installed version (InstallerUpdate/localversion) and a link to the product's
// web page (the address is the "webpage" control's user data in the skin). The main window
// creates it, runs it modally and deletes it. UI thread only.
#pragma once

#include "duilib/UIlib.h"

class CAboutDialog : public DuiLib::WindowImplBase {
 public:
  CAboutDialog() = default;
  ~CAboutDialog() override = default;

  LPCTSTR GetWindowClassName() const override { return _T("CAboutDialog"); }
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("AboutDialog.xml"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;
};

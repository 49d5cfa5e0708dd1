// CHintDialog: the program's skinned modal message box (a picture, a title, a message, a Sure
// button and an optional Cancel button); ShowHintDialog shows one and returns the answer.
// UI thread only.
#pragma once

#include "duilib/UIlib.h"

#include <string>

class CHintDialog : public DuiLib::WindowImplBase {
 public:
  // image: a file name in the images folder beside the skin folder, or "" for no picture.
  CHintDialog(LPCTSTR image, LPCTSTR title, LPCTSTR message, bool showCancel);
  ~CHintDialog() override = default;

  LPCTSTR GetWindowClassName() const override { return _T("CHintDialog"); }
  DuiLib::CDuiString GetSkinFolder() override { return _T("skin\\xml\\"); }
  DuiLib::CDuiString GetSkinFile() override { return _T("HintDialog.xml"); }
  void Notify(DuiLib::TNotifyUI& msg) override;
  DuiLib::CControlUI* CreateControl(LPCTSTR pstrClass) override;

  int GetResult() const { return result_; }  // 1 after SureBtn, else 0

 private:
  void onWindowInit();

  int result_ = 0;
  std::string title_;
  std::string image_;
  std::string message_;
  bool showCancel_;
};

// Shows a box modally over parent (null: the owner's own window) and returns 1 when the user
// pressed Sure, 0 for every other way of closing it (and when the box cannot be shown).
int ShowHintDialog(DuiLib::CWindowWnd* owner, LPCTSTR message, HWND parent, LPCTSTR title, LPCTSTR image,
                   bool showCancel);

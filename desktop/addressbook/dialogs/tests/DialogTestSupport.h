// Shared pieces of the address-book window tests: a plain window that holds one control of
// ours (built from skin text) and records the notifications it gets.
#pragma once

#include "addressbook/CheckTreeView.h"
#include "addressbook/MutilSelectList.h"
#include "duilib/UIAutomation.h"
#include "duilib/UIlib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace abdlgtest {

inline void useSourceSkins() { DuiLib::CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR); }

// A window on the calling thread built from skin text; "CheckTreeView" and "MutilSelectList"
// elements become our controls.
class HostWindow : public DuiLib::WindowImplBase {
 public:
  explicit HostWindow(std::string skin) : skin_(std::move(skin)) {
    Create(nullptr, "host", UI_WNDSTYLE_DIALOG, 0, 0, 0, 400, 600);
    ShowWindow(true);
    DuiLib::Automation::Pump();
  }
  ~HostWindow() override {
    if (GetHWND()) DestroyWindow(GetHWND());
    DuiLib::Automation::Pump();
  }
  LPCTSTR GetWindowClassName() const override { return "AbDialogsHost"; }
  void Notify(DuiLib::TNotifyUI& msg) override { notes.push_back(msg.sType.str()); }
  DuiLib::CControlUI* CreateControl(LPCTSTR cls) override {
    std::string c = cls ? cls : "";
    if (c == "CheckTreeView") return new CCheckTreeView();
    if (c == "MutilSelectList") return new CMutilSelectList(&m_PaintManager);
    return nullptr;
  }
  DuiLib::CControlUI* find(const char* name) { return m_PaintManager.FindControl(name); }
  int count(const std::string& type) const {
    int n = 0;
    for (const auto& t : notes) n += t == type;
    return n;
  }
  std::vector<std::string> notes;

 protected:
  DuiLib::CDuiString GetSkinFolder() override { return "skin\\xml\\"; }
  DuiLib::CDuiString GetSkinFile() override { return skin_.c_str(); }

 private:
  std::string skin_;
};

}  // namespace abdlgtest

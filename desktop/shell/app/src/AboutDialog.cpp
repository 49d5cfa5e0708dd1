// The about dialog.
#include "app/AboutDialog.h"

#include "app/AppPlatform.h"
#include "ui/UIStatic.h"
#include "util/Config.h"

using namespace DuiLib;

CControlUI* CAboutDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

void CAboutDialog::Notify(TNotifyUI& msg) {
  if (msg.sType == DUI_MSGTYPE_WINDOWINIT) {
    if (CControlUI* version = m_PaintManager.FindControl(_T("version_info"))) {
      std::string text = "版本：V" + Config::instance()->getStrValue("InstallerUpdate", "localversion", "");
      version->SetText(text.c_str());
    }
    return;
  }
  if (msg.sType != DUI_MSGTYPE_CLICK || !msg.pSender) return;
  CDuiString name = msg.pSender->GetName();
  if (name == _T("CloseWndBtn") || name == _T("BtnQuit") || name == _T("FinishBtn") || name == _T("AboutBtn")) {
    Close();
  } else if (name == _T("MinimizeWndBtn")) {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == _T("webpage")) {
    pwapp::ShellExecuteA(nullptr, "open", msg.pSender->GetUserData().GetData(), nullptr, nullptr, SW_SHOWMINIMIZED);
  }
}

// The message box.
#include "ui/HintDialog.h"

#include "ui/UIStatic.h"

#include <cstdio>
#include <cstring>

using namespace DuiLib;

namespace {
const DWORD kDialogStyle = 0x96C80000;
std::string text(LPCTSTR s) { return s ? s : ""; }
}  // namespace

CHintDialog::CHintDialog(LPCTSTR image, LPCTSTR title, LPCTSTR message, bool showCancel)
    : title_(text(title)), image_(text(image)), message_(text(message)), showCancel_(showCancel) {}

CControlUI* CHintDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

void CHintDialog::onWindowInit() {
  CControlUI* picture = m_PaintManager.FindControl(_T("HintImageCtl"));
  if (picture) {
    if (image_.empty()) {
      if (picture->GetParent()) picture->GetParent()->SetVisible(false);
    } else {
      char bk[260];
      snprintf(bk, sizeof(bk), "file='..\\images\\%s' ", image_.c_str());
      picture->SetBkImage(bk);
    }
  }
  if (!message_.empty())
    if (CControlUI* c = m_PaintManager.FindControl(_T("MessageRedt"))) c->SetText(message_.c_str());
  if (!title_.empty())
    if (CControlUI* c = m_PaintManager.FindControl(_T("titallabel"))) c->SetText(title_.c_str());
  CControlUI* cancel = m_PaintManager.FindControl(_T("CancelBtn"));
  CControlUI* placeholder = m_PaintManager.FindControl(_T("placeholder"));
  CControlUI* left = m_PaintManager.FindControl(_T("leftmargin"));
  CControlUI* right = m_PaintManager.FindControl(_T("rightmargin"));
  int margin = showCancel_ ? 40 : 90;
  if (cancel) cancel->SetVisible(showCancel_);
  if (showCancel_ && placeholder) placeholder->SetFixedWidth(20);
  if (left) left->SetFixedWidth(margin);
  if (right) right->SetFixedWidth(margin);
}

void CHintDialog::Notify(TNotifyUI& msg) {
  if (msg.sType == DUI_MSGTYPE_WINDOWINIT) {
    onWindowInit();
    return;
  }
  if (msg.sType != DUI_MSGTYPE_CLICK || !msg.pSender) return;
  CDuiString name = msg.pSender->GetName();
  if (name == _T("SureBtn")) {
    result_ = 1;
    Close(1);
  } else if (name == _T("CancelBtn") || name == _T("CloseWndBtn") || name == _T("BtnQuit")) {
    Close(0);
  } else if (name == _T("MinimizeWndBtn")) {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
}

int ShowHintDialog(CWindowWnd* owner, LPCTSTR message, HWND parent, LPCTSTR title, LPCTSTR image, bool showCancel) {
  CHintDialog* box = new CHintDialog(image, title, message, showCancel);
  HWND p = parent ? parent : (owner ? owner->GetHWND() : nullptr);
  box->Create(p, "提示信息", kDialogStyle, 0);
  box->CenterWindow();
  box->ShowModal();
  int result = box->GetResult();
  delete box;
  return result;
}

// The address-book update dialog.
#include "addressbook/AddressBookUpdateDialog.h"

#include "addressbook/AddressBookClient.h"
#include "log/IM_LogManager.h"
#include "ui/UIStatic.h"

using namespace DuiLib;

CControlUI* CAddressBookUpdateDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

LRESULT CAddressBookUpdateDialog::OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  LRESULT result = WindowImplBase::OnCreate(uMsg, wParam, lParam, bHandled);
  if (result == 0) {
    if (CControlUI* hint = m_PaintManager.FindControl(_T("UpdatedHint"))) successText_ = hint->GetText();
    window_.store(m_hWnd);
  }
  return result;
}

void CAddressBookUpdateDialog::OnFinalMessage(HWND hWnd) {
  window_.store(nullptr);
  WindowImplBase::OnFinalMessage(hWnd);
}

void CAddressBookUpdateDialog::showUpdateResult(int status) {
  HWND wnd = window_.load();
  if (!wnd) return;
  if (GetWindowThreadProcessId(wnd, nullptr) == GetCurrentThreadId()) {
    applyResult(status);
    return;
  }
  // The window belongs to another thread: the result travels as a message.
  if (!::PostMessageA(wnd, WM_ABOOK_UPDATE_RESULT, (WPARAM)status, 0))
    IM_LOG_WARN("CAddressBookUpdateDialog, [update result %d not delivered]", status);
}

LRESULT CAddressBookUpdateDialog::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  if (uMsg == WM_ABOOK_UPDATE_RESULT) {
    applyResult((int)wParam);
    bHandled = TRUE;
  }
  return 0;
}

void CAddressBookUpdateDialog::show(LPCTSTR name, bool visible) {
  if (CControlUI* c = m_PaintManager.FindControl(name)) c->SetVisible(visible);
}

void CAddressBookUpdateDialog::applyResult(int status) {
  show(_T("Updating"), false);
  show(_T("UpdatingHint"), false);
  show(_T("UpdatedHint"), true);
  show(_T("Stoptn"), false);
  show(_T("FinishBtn"), true);
  // A later success after a failure shows the skin's success wording again.
  if (CControlUI* hint = m_PaintManager.FindControl(_T("UpdatedHint")))
    hint->SetText(status != 0 ? _T("      更新企业通讯录失败！") : successText_.GetData());
}

void CAddressBookUpdateDialog::Notify(TNotifyUI& msg) {
  if (msg.sType.CompareNoCase(DUI_MSGTYPE_WINDOWINIT) == 0) {
    // The fetch may have ended (or failed to start) before this window existed to be told:
    // then show its outcome now instead of running forever. Only a stored book is a success.
    int state = AddressBookClient::instance()->getState();
    if (state != AddressBookClient::STATE_UPDATING) applyResult(state == AddressBookClient::STATE_UPDATED ? 0 : 1);
    return;
  }
  if (msg.sType.CompareNoCase(DUI_MSGTYPE_CLICK) != 0 || !msg.pSender) return;
  CDuiString name = msg.pSender->GetName();
  if (name.CompareNoCase(_T("CloseWndBtn")) == 0 || name.CompareNoCase(_T("BtnQuit")) == 0)
    Close(1);
  else if (name.CompareNoCase(_T("MinimizeWndBtn")) == 0)
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (name.CompareNoCase(_T("FinishBtn")) == 0) Close(1);
  if (name.CompareNoCase(_T("Stoptn")) == 0) {
    AddressBookClient::instance()->stopAgent();
    Close(1);
  }
}

// The main window.
#include "app/LoginDialog.h"

#include "addressbook/AddressBookClient.h"
#include "app/AboutDialog.h"
#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "app/SoftUpdateDialog.h"
#include "bridge/PW_PostwingServer.h"
#include "db/LocalDb.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "settings/UserSettings.h"
#include "sso/SsoClient.h"
#include "ui/HintDialog.h"
#include "ui/UIMenu.h"
#include "ui/UIStatic.h"
#include "util/Config.h"

#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
#include "addressbook/AddressBookDialog.h"
#include "addressbook/AddressBookUpdateDialog.h"
#endif
#ifdef PW_HAVE_NETDISK_CLIENT
#include "client/NetDiskClient.h"
#include "protocol/SyncProtocolClient.h"
#endif
#ifdef PW_HAVE_UPLOADER_DIALOG
#include "dialog/FileUploaderDialog.h"
#endif

#include <ace/Init_ACE.h>

#include <cstdio>
#include <strings.h>

using namespace DuiLib;

namespace {
const char* const kProductName = "Postwing";
const char* const kUserHint = "请输入企业邮箱";
const char* const kPasswordHint = "密码";
// Where the single sign-on server sends a browser after a failed login; nothing here reads it.
const char* const kErrorReturnUrl = "http://127.0.0.1/postwing/loginerror";

CEditUI* editOf(CPaintManagerUI& pm, LPCTSTR name) {
  CControlUI* c = pm.FindControl(name);
  return c ? static_cast<CEditUI*>(c->GetInterface(_T("Edit"))) : nullptr;
}
COptionUI* optionOf(CPaintManagerUI& pm, LPCTSTR name) {
  CControlUI* c = pm.FindControl(name);
  return c ? static_cast<COptionUI*>(c->GetInterface(_T("Option"))) : nullptr;
}
bool isSelected(CPaintManagerUI& pm, LPCTSTR name) {
  COptionUI* o = optionOf(pm, name);
  return o && o->IsSelected();
}
void select(CPaintManagerUI& pm, LPCTSTR name, bool on) {
  if (COptionUI* o = optionOf(pm, name))
    if (o->IsSelected() != on) o->Selected(on);
}
}  // namespace

std::atomic<CLoginDialog*> CLoginDialog::instance_{nullptr};

CLoginDialog* CLoginDialog::mainWindow() { return instance_.load(); }

HWND CLoginDialog::mainWindowHandle() {
  CLoginDialog* w = instance_.load();
  return w ? w->hwnd_.load() : nullptr;
}

CLoginDialog::CLoginDialog() {
  ACE::init();  // counted; the process's end finalises it
  instance_.store(this);
  pending_ = PENDING_NONE;
  PW_PostwingServer::instance()->start();
  AddressBookClient::instance()->addListener(this);
  pwapp::CoInitialize(nullptr);
}

CLoginDialog::~CLoginDialog() {
  PW_PostwingServer::instance()->stop();
  PW_PostwingServer::instance()->setMainWindow(nullptr);
  AddressBookClient::instance()->removeListener(this);  // no notification reaches us after this
  softUpdate_ = Sptr<CSoftUpdateDialog>();
  pwapp::CoUninitialize();
  CLoginDialog* self = this;
  instance_.compare_exchange_strong(self, nullptr);
  // ACE stays initialised: a finalisation here would tear down every ACE singleton of the
  // process (the job runner, the net-disk threads) under their running threads.
}

CControlUI* CLoginDialog::CreateControl(LPCTSTR pstrClass) { return CreateSharedControl(pstrClass); }

void CLoginDialog::InitWindow() {
  hwnd_.store(m_hWnd);
  PW_PostwingServer* server = PW_PostwingServer::instance();
  server->setMainWindow(m_hWnd);
  // A request that came before the window existed had nowhere to go: serve it now.
  if (!server->pendingAddrHandle().empty()) PostMessage(WM_PW_SHOWADDRBOOK);
  if (!server->pendingAttachHandle().empty()) PostMessage(WM_PW_SHOWATTACH);
}

void CLoginDialog::OnFinalMessage(HWND hWnd) {
  WindowImplBase::OnFinalMessage(hWnd);
  hwnd_.store(nullptr);
  PostQuitMessage(0);
  delete this;
}

LRESULT CLoginDialog::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  if (modalDepth_ > 0) {
    // A modal loop of ours is on the stack: close its windows and come back when it returned.
    IM_LOG_INFO("CLoginDialog, close requested while %d dialog(s) run: closing them first", modalDepth_);
    closeRequested_ = true;
    closeOpenWindows();
    bHandled = TRUE;
    return 0;
  }
  tray_.remove();
  bHandled = FALSE;  // the default handling destroys the window
  return 0;
}

void CLoginDialog::modalEnded() {
  --modalDepth_;
  if (modalDepth_ == 0 && closeRequested_) {
    closeRequested_ = false;
    PostMessage(WM_CLOSE);
  }
}

void CLoginDialog::closeOpenWindows() {
  struct Ctx {
    HWND self;
    HWND tray;
  } ctx{m_hWnd, tray_.hiddenWindow()};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND h, LPARAM lp) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(lp);
        if (h != c->self && h != c->tray && CWindowWnd::FromHandle(h)) ::PostMessageA(h, WM_CLOSE, 0, 0);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
}

// ---- messages -------------------------------------------------------------------------------
LRESULT CLoginDialog::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  bHandled = TRUE;
  switch (uMsg) {
    case WM_PW_TRAYICON:
      return tray_.onTrayNotification(wParam, lParam);
    case WM_PW_SHOWADDRBOOK:
      if (loggedIn_) {
        openAddressBook();
      } else {
        pending_ = PENDING_ADDRESS_BOOK;
        showAndRaise();
      }
      return 0;
    case WM_PW_SHOWATTACH:
      if (loggedIn_) {
        openUploader();
      } else {
        pending_ = PENDING_UPLOAD;
        showAndRaise();
      }
      return 0;
    case WM_PW_MENUCOMMAND:
      if (wParam) {
        CDuiString* name = reinterpret_cast<CDuiString*>(wParam);
        std::string command = name->str();
        delete name;
        onMenuCommand(command);
      }
      return 0;
    case WM_PW_TRAYMENU:
      popTrayMenu((int)wParam, (int)lParam);
      return 0;
    case WM_PW_ADDRBOOKUPDATED:
      onAddrbookUpdated((int)wParam);
      return 0;
    default:
      bHandled = FALSE;
      return 0;
  }
}

void CLoginDialog::OnAddrbookUpdate(const std::vector<Sptr<INode>>&, int status) {
  HWND h = hwnd_.load();
  if (h) ::PostMessageA(h, WM_PW_ADDRBOOKUPDATED, (WPARAM)status, 0);
}

void CLoginDialog::onAddrbookUpdated(int status) {
  IM_LOG_INFO("CLoginDialog, address book updated, [status = %d]", status);
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
  if (addressBookUpdate_) addressBookUpdate_->showUpdateResult(status);
  if (picker_) {
    std::vector<Sptr<INode>> groups = AddressBookClient::instance()->getRootGroups();
    picker_->onAddressBookUpdated(groups, 0);
  }
#endif
}

// ---- the form -------------------------------------------------------------------------------
void CLoginDialog::Notify(TNotifyUI& msg) {
  CPaintManagerUI& pm = m_PaintManager;
  if (msg.sType == DUI_MSGTYPE_WINDOWINIT) {
    UserSettings* settings = UserSettings::instance();
    settings->open();
    settings->load();
    currentUserId_ = settings->getUserId();
    CEditUI* user = editOf(pm, _T("InputUseridEdt"));
    CEditUI* password = editOf(pm, _T("InputPasswordEdt"));
    if (user) user->SetText(currentUserId_.empty() ? kUserHint : currentUserId_.c_str());
    std::string stored;
    if (settings->getAutoLogin(currentUserId_)) {
      stored = settings->getPassword(currentUserId_);
      select(pm, _T("AutoLoginChk"), true);
      select(pm, _T("RememberPwdChk"), true);
    } else if (settings->getRememberPassword(currentUserId_)) {
      stored = settings->getPassword(currentUserId_);
      select(pm, _T("RememberPwdChk"), true);
    }
    if (password && !stored.empty()) {
      password->SetText(stored.c_str());
      password->SetPasswordMode(true);
      password->SetPasswordChar('*');
    }
    IM_LOG_INFO("CLoginDialog, login window shown, [user = %s]", currentUserId_.c_str());
    if (settings->getAutoLogin(currentUserId_)) login();
    return;
  }
  if (!msg.pSender) return;
  CDuiString name = msg.pSender->GetName();

  if (msg.sType == DUI_MSGTYPE_KILLFOCUS || msg.sType == DUI_MSGTYPE_SETFOCUS) {
    bool gained = msg.sType == DUI_MSGTYPE_SETFOCUS;
    if (name == _T("InputUseridEdt")) {
      if (!gained && msg.pSender->GetText().IsEmpty()) msg.pSender->SetText(kUserHint);
      if (gained && msg.pSender->GetText() == kUserHint) msg.pSender->SetText("");
    } else if (name == _T("InputPasswordEdt")) {
      CEditUI* edit = static_cast<CEditUI*>(msg.pSender->GetInterface(_T("Edit")));
      if (!edit) return;
      if (!gained && edit->GetText().IsEmpty()) {
        edit->SetText(kPasswordHint);
        edit->SetPasswordMode(false);
      }
      if (gained && edit->GetText() == kPasswordHint && !edit->IsPasswordMode()) {
        edit->SetText("");
        edit->SetPasswordMode(true);
        edit->SetPasswordChar('*');
      }
    }
    return;
  }
  if (msg.sType == DUI_MSGTYPE_TEXTCHANGED) {
    if (name == _T("InputPasswordEdt"))
      if (CEditUI* edit = static_cast<CEditUI*>(msg.pSender->GetInterface(_T("Edit")))) {
        edit->SetPasswordMode(true);
        edit->SetPasswordChar('*');
      }
    return;
  }
  if (msg.sType == DUI_MSGTYPE_SELECTCHANGED) {
    // Automatic login needs the remembered password; forgetting the password ends it.
    if (name == _T("AutoLoginChk") && isSelected(pm, _T("AutoLoginChk"))) select(pm, _T("RememberPwdChk"), true);
    if (name == _T("RememberPwdChk") && !isSelected(pm, _T("RememberPwdChk"))) select(pm, _T("AutoLoginChk"), false);
    return;
  }
  if (msg.sType == DUI_MSGTYPE_RETURN) {
    if (name == _T("InputPasswordEdt")) login();
    return;
  }
  if (msg.sType != DUI_MSGTYPE_CLICK) return;
  if (name == _T("LoginBtn")) {
    login();
  } else if (name == _T("CloseWndBtn") || name == _T("BtnQuit")) {
    ShowWindow(false);  // the program keeps running in the tray
  } else if (name == _T("MinimizeWndBtn")) {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
}

void CLoginDialog::login() {
  IM_TRACE("CLoginDialog::login");
  CPaintManagerUI& pm = m_PaintManager;
  Config* config = Config::instance();
  std::string ssoServer = config->getStrValue("SSO", "server", "");
  std::string xcapServer = config->getStrValue("XCAP", "server", "");

  CEditUI* userEdit = editOf(pm, _T("InputUseridEdt"));
  CEditUI* passwordEdit = editOf(pm, _T("InputPasswordEdt"));
  // A field that shows its hint holds nothing the user typed.
  std::string user = userEdit ? userEdit->GetText().str() : std::string();
  if (user == kUserHint) user.clear();
  std::string password = passwordEdit ? passwordEdit->GetText().str() : std::string();
  if (passwordEdit && password == kPasswordHint && !passwordEdit->IsPasswordMode()) password.clear();

  if (user.empty()) {
    ++modalDepth_;
    ShowHintDialog(this, "用户名称不能为空！", nullptr, "提示信息", "msghint.png", false);
    modalEnded();
    if (userEdit) pm.SetFocus(userEdit);
    return;
  }
  if (password.empty()) {
    ++modalDepth_;
    ShowHintDialog(this, "用户密码不能为空！", nullptr, "提示信息", "msghint.png", false);
    modalEnded();
    if (passwordEdit) pm.SetFocus(passwordEdit);
    return;
  }

  char service[1024];
  std::snprintf(service, sizeof(service), "http://%s/xcap/resource-lists/myusers/%s/buddys", xcapServer.c_str(),
                user.c_str());
  SsoClient* sso = SsoClient::instance();
  sso->setServer(ssoServer);
  std::string ticket, location;
  // The password in the form is the user's word: the server must accept it, even while
  // the user's login cookies would let any password through. Only an accepted password
  // is remembered and handed to the other subsystems.
  int result = sso->authenticateWithPassword(user, password, service, kErrorReturnUrl, "xcap", ticket, location, "");
  if (result != 0 && SsoClient::exchangesStopped()) {
    // The program is closing: the login was ended unanswered, and nobody is there to read a box.
    IM_LOG_WARN("CLoginDialog, login stopped, [user = %s]", user.c_str());
    return;
  }
  if (result != 0) {
    IM_LOG_WARN("CLoginDialog, login failed, [user = %s] [result = %d]", user.c_str(), result);
    ++modalDepth_;
    ShowHintDialog(this, "登录失败，请检查用户名称或者密码是否有误！", nullptr, "错误提示", "msgerror.png", false);
    modalEnded();
    return;
  }
  IM_LOG_INFO("CLoginDialog, login succeeded, [user = %s]", user.c_str());

  UserSettings* settings = UserSettings::instance();
  settings->userId = user;
  currentUserId_ = user;
  if (isSelected(pm, _T("AutoLoginChk"))) {
    select(pm, _T("RememberPwdChk"), true);
    settings->setRememberPassword(true);
    settings->setAutoLogin(true);
    settings->setPassword(password);
  } else if (isSelected(pm, _T("RememberPwdChk"))) {
    settings->setAutoLogin(false);
    settings->setRememberPassword(true);
    settings->setPassword(password);
  } else {
    settings->setRememberPassword(false);
    settings->setAutoLogin(false);
    settings->setPassword("");
  }
  settings->saveUserId();

  if (LocalDb::instance()->open(user) != 0) IM_LOG_ERROR("CLoginDialog, the user's database cannot be opened");
  ShowWindow(false);
  AddressBookClient::instance()->init(user, password);
#ifdef PW_HAVE_NETDISK_CLIENT
  NetDiskClient::instance()->init(user, password);
#endif
  loggedIn_ = true;
  AddressBookClient::instance()->update();

  int pending = pending_;
  pending_ = PENDING_NONE;
  if (pending == PENDING_ADDRESS_BOOK) openAddressBook();
  if (pending == PENDING_UPLOAD) openUploader();
}

// ---- windows --------------------------------------------------------------------------------
void CLoginDialog::raise(HWND hWnd) {
  SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CLoginDialog::showAndRaise() {
  ShowWindow(true, true);
  raise(m_hWnd);
}

UINT CLoginDialog::runModal(CWindowWnd* dlg, bool raiseIt) {
  dlg->CenterWindow();
  if (raiseIt) raise(dlg->GetHWND());
  dlg->SetIcon(PW_APP_ICON_MAIN);
  ++modalDepth_;
  UINT r = dlg->ShowModal();
  modalEnded();
  return r;
}

void CLoginDialog::openAbout() {
  if (about_) {
    raise(about_->GetHWND());
    return;
  }
  about_ = new CAboutDialog();
  if (about_->Create(nullptr, kProductName, PW_APP_DIALOG_STYLE, 0)) runModal(about_, true);
  delete about_;
  about_ = nullptr;
}

void CLoginDialog::openSoftUpdate() {
  if (softUpdate_) {
    raise(softUpdate_->GetHWND());
    return;
  }
  softUpdate_ = Sptr<CSoftUpdateDialog>(new CSoftUpdateDialog());
  Sptr<CSoftUpdateDialog> dlg = softUpdate_;  // the dialog may be closed (and dropped) by logout
  if (dlg->Create(nullptr, kProductName, PW_APP_DIALOG_STYLE, 0, 0, 0, 0, 0)) {
    dlg->setSelfReference(dlg);
    runModal(dlg.get(), true);
  }
  softUpdate_ = Sptr<CSoftUpdateDialog>();
}

void CLoginDialog::openAddressBook() {
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
  if (picker_) {
    if (pickerClosing_)
      pickerRequested_ = true;  // opened when the closing picker's run has returned
    else
      raise(picker_->GetHWND());
    return;
  }
  picker_ = new CAddressBookDialog();
  if (picker_->Create(nullptr, kProductName, PW_APP_DIALOG_STYLE, 0)) runModal(picker_, true);
  delete picker_;
  picker_ = nullptr;
  pickerClosing_ = false;
  bool again = pickerRequested_;
  pickerRequested_ = false;
  if (again) {
    if (loggedIn_) {
      openAddressBook();
    } else {
      pending_ = PENDING_ADDRESS_BOOK;  // logged out meanwhile: after the next login
      showAndRaise();
    }
  }
#else
  IM_LOG_WARN("CLoginDialog, the recipient picker is not part of this program");
#endif
}

void CLoginDialog::openAddressBookUpdate() {
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
  if (addressBookUpdate_) return;
  addressBookUpdate_ = new CAddressBookUpdateDialog();
  if (addressBookUpdate_->Create(nullptr, "更新企业通讯录", PW_APP_DIALOG_STYLE, 0)) runModal(addressBookUpdate_, false);
  delete addressBookUpdate_;
  addressBookUpdate_ = nullptr;
#else
  IM_LOG_WARN("CLoginDialog, the address-book update dialog is not part of this program");
#endif
}

void CLoginDialog::openUploader() {
#ifdef PW_HAVE_UPLOADER_DIALOG
  if (uploader_) {
    raise(uploader_->GetHWND());
    return;
  }
  uploader_ = new CFileUploaderDialog(this, currentUserId_);
  if (uploader_->Create(nullptr, kProductName, PW_APP_DIALOG_STYLE, 0)) runModal(uploader_, true);
  delete uploader_;
  uploader_ = nullptr;
#else
  IM_LOG_WARN("CLoginDialog, the upload dialog is not part of this program");
#endif
}

int CLoginDialog::runOwnBox(CHintDialog*& slot, const char* title, const std::string& message) {
  if (slot) return 0;
  slot = new CHintDialog("msghint.png", title, message.c_str(), true);
  int result = 0;
  if (slot->Create(m_hWnd, "提示信息", PW_APP_DIALOG_STYLE, 0)) {
    runModal(slot, false);
    result = slot->GetResult();
  }
  delete slot;
  slot = nullptr;
  return result;
}

// ---- tray menu ------------------------------------------------------------------------------
void CLoginDialog::popTrayMenu(int x, int y) {
  CMenuWnd* menu = new CMenuWnd(m_hWnd);  // deletes itself when it closes
  if (loggedIn_)
    menu->Popup(nullptr, _T("TrayMainMenu.xml"), _T("xml"), POINT{x - 20, y - 140});
  else
    menu->Popup(nullptr, _T("TrayMenu.xml"), _T("xml"), POINT{x - 20, y - 82});
}

void CLoginDialog::onMenuCommand(const std::string& name) {
  IM_LOG_INFO("CLoginDialog, menu command, [name = %s]", name.c_str());
  auto is = [&](const char* n) { return strcasecmp(name.c_str(), n) == 0; };
  if (is("ShowLoginView")) {
    ShowWindow(true, true);
    BringWindowToTop(m_hWnd);
  } else if (is("Logout")) {
    char message[512];
    std::snprintf(message, sizeof(message), "您确定要注销%s账户吗？", currentUserId_.c_str());
    if (runOwnBox(logoutBox_, "注销", message) == 1) logout();
  } else if (is("AddressUpdate")) {
    if (picker_) {
      if (runOwnBox(refusalBox_, "提示信息", "更新通讯录前，请先关闭通讯录窗口！") != 1) return;
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
      if (picker_) {
        pickerClosing_ = true;
        picker_->Close();
      }
#endif
    }
    AddressBookClient::instance()->update();
    openAddressBookUpdate();
  } else if (is("Upload")) {
    openUploader();
  } else if (is("SoftUpdate")) {
    openSoftUpdate();
  } else if (is("About")) {
    openAbout();
  }
}

void CLoginDialog::logout() {
  IM_LOG_INFO("CLoginDialog, logout, [user = %s]", currentUserId_.c_str());
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
  if (picker_) {
    pickerClosing_ = true;
    picker_->Close();
  }
  if (addressBookUpdate_) addressBookUpdate_->Close();
#endif
#ifdef PW_HAVE_UPLOADER_DIALOG
  if (uploader_) uploader_->Close();
#endif
  if (softUpdate_) softUpdate_->Close();
  if (refusalBox_) refusalBox_->Close();
  // What the ending session still has under way at the single sign-on server (a fetch's
  // ticket, a net-disk request's login, an earlier logout) ends now, not at its time-out;
  // what starts from here on, the logout request first, runs as usual.
  SsoClient::stopExchanges();
  SsoClient::allowExchanges();
  SsoClient::instance()->logout(currentUserId_, "", "");
#ifdef PW_HAVE_NETDISK_CLIENT
  CSyncProtocolUpLoadClient::dropIdleConnections();  // the user's kept net-disk connections go too
#endif
  loggedIn_ = false;
  AddressBookClient::instance()->clear();
  ShowWindow(true, true);
}

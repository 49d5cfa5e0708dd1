// The main window against a fake single sign-on server on 127.0.0.1: login through the form
// (success stores the settings and hides the form; failures show their boxes), automatic login
// at the next start, the tray menus and their commands, logout, dialog requests from the local
// server while logged out, and closing while a dialog is open.
#include "BridgeTestSupport.h"
#include "MainWindowFixture.h"
#include "app/SoftUpdateDialog.h"
#include "bridge/PW_PostwingServer.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"
#include "settings/UserSettings.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeSsoServer.h"
#include "ui/UIMenu.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#ifdef PW_HAVE_NETDISK_CLIENT
#include "client/NetDiskClient.h"

#include <mutex>
#endif

using apptest::MainWindowDriver;
namespace A = DuiLib::Automation;

namespace {

const char* const kAlice = "alice@corp.example";
const char* const kAlicePassword = "s3cret!";
const char* const kBob = "bob@corp.example";
const char* const kBobPassword = "hunter2";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sso.addUser(kAlice, kAlicePassword);
    sso.addUser(kBob, kBobPassword);
    Config* c = Config::instance();
    c->setValue("SSO", "server", sso.hostPort());
    c->setValue("SSO", "httpTimeout", "5");
    c->setValue("XCAP", "server", "127.0.0.1:9");  // nothing listens: fetches fail at once
    c->setValue("COMMON", "listenPort", "0");
    // Nobody logged in before.
    UserSettings s;
    s.open();
    s.userId = "";
    s.saveUserId();
  }

  // The remembered settings as a fresh reader finds them.
  struct Stored {
    std::string lastUser;
    bool autoLogin, remember;
    std::string password;
  };
  static Stored stored(const std::string& user) {
    UserSettings s;
    s.open();
    s.load();
    return Stored{s.getUserId(), s.getAutoLogin(user), s.getRememberPassword(user), s.getPassword(user)};
  }

  void loginAs(const char* user, const char* password) {
    ui.typeCredentials(user, password);
    ui.clickLogin();
    ASSERT_TRUE(w32subst::waitUntil([&] { return ui.loggedIn(); }, 10000));
  }

  pwtest::FakeSsoServer sso;
  MainWindowDriver ui;
};

#ifdef PW_HAVE_NETDISK_CLIENT
// The net-disk client's password as its engine thread holds it: read there, in the answer to a
// listing of the uploads that the UI thread queues behind the logins' commands. "" when no
// answer comes within ten seconds.
class NetDiskPasswordProbe : public INetDiskClientListener {
 public:
  static std::string read(MainWindowDriver& ui) {
    NetDiskPasswordProbe probe;
    ui.run([&] {
      NetDiskClient::instance()->addListener(&probe);
      NetDiskClient::instance()->listUploadTask();
    });
    bool answered = w32subst::waitUntil([&] { return probe.answered(); }, 10000);
    ui.run([&] { NetDiskClient::instance()->removeListener(&probe); });
    std::lock_guard<std::mutex> hold(probe.lock_);
    return answered ? probe.password_ : std::string();
  }

  void onListUploadTask(const std::vector<UploadTaskStatus>&, int) override {
    std::lock_guard<std::mutex> hold(lock_);
    password_ = NetDiskClient::instance()->password();
    answered_ = true;
  }
  void onListFile(const std::vector<NetDiskFileItem>&, int) override {}
  void onRenameFile(const std::string&, const std::string&, int) override {}
  void onDeleteFile(const std::string&, int) override {}
  void onUploadStatus(const UploadTaskStatus&, int) override {}
  void onAddUploadTask(const UploadTaskStatus&, int) override {}
  void onPauseUpload(const UploadTaskStatus&, int) override {}
  void onResumeUpload(const UploadTaskStatus&, int) override {}
  void onCancelUpload(const std::string&, int) override {}
  void onDownloadUrl(const std::map<std::string, std::string>&) override {}

 private:
  bool answered() {
    std::lock_guard<std::mutex> hold(lock_);
    return answered_;
  }
  std::mutex lock_;
  bool answered_ = false;
  std::string password_;
};
#endif

TEST_F(MainWindowTest, ASuccessfulLoginHidesTheFormAndRemembersTheChoices) {
  ui.start();
  EXPECT_TRUE(ui.visible()) << "the login form shows at start";
  EXPECT_EQ("请输入企业邮箱", ui.text(ui.main(), "InputUseridEdt")) << "hint while empty";
  ui.check("RememberPwdChk", true);
  loginAs(kAlice, kAlicePassword);
  EXPECT_FALSE(ui.visible());
  EXPECT_EQ(kAlice, ui.userId());
  ASSERT_FALSE(sso.requests().empty());
  EXPECT_EQ(kAlicePassword, sso.requests()[0].queryParam("password"));
  EXPECT_EQ("xcap", sso.requests()[0].queryParam("systemid"));
  EXPECT_EQ(std::string("http://127.0.0.1:9/xcap/resource-lists/myusers/") + kAlice + "/buddys",
            sso.requests()[0].queryParam("service"));
  Stored s = stored(kAlice);
  EXPECT_EQ(kAlice, s.lastUser);
  EXPECT_TRUE(s.remember);
  EXPECT_FALSE(s.autoLogin);
  EXPECT_EQ(kAlicePassword, s.password);
}

TEST_F(MainWindowTest, AWrongPasswordShowsTheFailureBoxAndKeepsTheForm) {
  ui.start();
  ui.typeCredentials(kAlice, "wrong");
  ui.clickLogin();
  std::string title;
  EXPECT_EQ("登录失败，请检查用户名称或者密码是否有误！", ui.answerBox("SureBtn", &title));
  EXPECT_EQ("错误提示", title);
  EXPECT_FALSE(ui.loggedIn());
  EXPECT_TRUE(ui.visible());
  EXPECT_EQ("", stored(kAlice).lastUser);
}

// Back at the login form while the login cookies are valid: a wrong password is refused by
// the server, the failure box shows, and neither the remembered password nor the one the
// other subsystems use changes.
TEST_F(MainWindowTest, AWrongPasswordFailsWhileTheLoginCookiesAreValid) {
  ui.start();
  ui.check("RememberPwdChk", true);
  loginAs(kAlice, kAlicePassword);
  ASSERT_TRUE(SsoCookieManager::hasCookie(SsoCookieManager::SSO_SYSTEM_ID, kAlice));

  ui.run([&] {
    ui.main()->ShowWindow(true);
    A::Find(*ui.main(), "InputPasswordEdt")->SetText("");
  });
  sso.clearRequests();
  ui.typeCredentials("", "wrong");
  ui.clickLogin();
  std::string title;
  EXPECT_EQ("登录失败，请检查用户名称或者密码是否有误！", ui.answerBox("SureBtn", &title));
  EXPECT_EQ("错误提示", title);
  EXPECT_TRUE(ui.visible()) << "the form stays";
  // Other subsystems may log in by cookie meanwhile: look for the form's request.
  bool judged = false;
  for (const pwtest::HttpRequestRecord& r : sso.requests()) judged = judged || r.queryParam("password") == "wrong";
  EXPECT_TRUE(judged) << "the server judged the typed password";
  Stored s = stored(kAlice);
  EXPECT_TRUE(s.remember);
  EXPECT_EQ(kAlicePassword, s.password) << "a refused password is never remembered";
#ifdef PW_HAVE_NETDISK_CLIENT
  EXPECT_EQ(kAlicePassword, NetDiskPasswordProbe::read(ui));
#endif

  // The right password, typed again, logs in.
  ui.run([&] { A::Find(*ui.main(), "InputPasswordEdt")->SetText(""); });
  ui.typeCredentials("", kAlicePassword);
  ui.clickLogin();
  ASSERT_TRUE(w32subst::waitUntil([&] { return !ui.visible(); }, 10000));
  EXPECT_EQ(kAlicePassword, stored(kAlice).password);
}

TEST_F(MainWindowTest, EmptyFieldsAreRefusedBeforeAnyExchange) {
  ui.start();
  ui.clickLogin();  // the user field shows only its hint
  EXPECT_EQ("用户名称不能为空！", ui.answerBox("SureBtn"));
  ui.typeCredentials(kAlice, "");
  ui.clickLogin();
  EXPECT_EQ("用户密码不能为空！", ui.answerBox("CloseWndBtn"));
  EXPECT_EQ(0u, sso.requestCount());
  EXPECT_FALSE(ui.loggedIn());
}

TEST_F(MainWindowTest, AutomaticLoginRunsAtTheNextStartAndTheCheckBoxesFollowEachOther) {
  ui.start();
  ui.check("AutoLoginChk", true);
  EXPECT_TRUE(ui.call([&] { return static_cast<DuiLib::COptionUI*>(A::Find(*ui.main(), "RememberPwdChk"))->IsSelected(); }))
      << "automatic login needs the password remembered";
  ui.check("RememberPwdChk", false);
  EXPECT_FALSE(ui.call([&] { return static_cast<DuiLib::COptionUI*>(A::Find(*ui.main(), "AutoLoginChk"))->IsSelected(); }));
  ui.check("AutoLoginChk", true);
  loginAs(kAlice, kAlicePassword);
  Stored s = stored(kAlice);
  EXPECT_TRUE(s.autoLogin);
  EXPECT_TRUE(s.remember);
  ui.close();

  MainWindowDriver next;
  next.start();
  EXPECT_TRUE(next.loggedIn()) << "logged in at once";
  EXPECT_FALSE(next.visible());
  EXPECT_EQ(kAlicePassword, next.text(next.main(), "InputPasswordEdt"));
  EXPECT_TRUE(next.call([&] {
    return static_cast<DuiLib::COptionUI*>(A::Find(*next.main(), "AutoLoginChk"))->IsSelected() &&
           static_cast<DuiLib::COptionUI*>(A::Find(*next.main(), "RememberPwdChk"))->IsSelected();
  }));

  // Another user who ticks nothing: his choices are his own; the last user changes.
  next.run([&] { next.main()->ShowWindow(true); });
  next.check("AutoLoginChk", false);
  next.check("RememberPwdChk", false);
  next.run([&] { A::Find(*next.main(), "InputUseridEdt")->SetText(""); });
  next.typeCredentials(kBob, kBobPassword);
  next.clickLogin();
  ASSERT_TRUE(w32subst::waitUntil([&] { return next.userId() == kBob; }, 10000));
  Stored bob = stored(kBob);
  EXPECT_EQ(kBob, bob.lastUser);
  EXPECT_FALSE(bob.autoLogin);
  EXPECT_FALSE(bob.remember);
  EXPECT_EQ("", bob.password);
  EXPECT_TRUE(stored(kAlice).autoLogin) << "alice's file is untouched";
  next.close();

  MainWindowDriver third;  // bob chose nothing: only his id comes back
  third.start();
  EXPECT_FALSE(third.loggedIn());
  EXPECT_EQ(kBob, third.text(third.main(), "InputUseridEdt"));
  EXPECT_EQ("密码", third.text(third.main(), "InputPasswordEdt"));
}

TEST_F(MainWindowTest, TheTrayMenuPopsAtTheCursorAndItsCommandsRun) {
  ui.start();
  struct MenuSeen {
    RECT rc;
    std::vector<std::string> items;
  };
  auto popMenu = [&]() {
    SetCursorPos(500, 700);
    PostMessageA(ui.hwnd(), WM_PW_TRAYICON, 0, WM_RBUTTONUP);
    DuiLib::WindowImplBase* unused = nullptr;
    (void)unused;
    MenuSeen seen{};
    DuiLib::CWindowWnd* menu = nullptr;
    w32subst::waitUntil([&] { return (menu = A::FindWindowByClass("MenuWnd")) != nullptr; }, 10000);
    if (!menu) return std::make_pair(seen, (DuiLib::CMenuWnd*)nullptr);
    auto* m = static_cast<DuiLib::CMenuWnd*>(menu);
    ui.run([&] {
      GetWindowRect(m->GetHWND(), &seen.rc);
      auto* list = static_cast<DuiLib::CMenuUI*>(m->GetPaintManager().GetRoot()->GetInterface("Menu"));
      for (int i = 0; list && i < list->GetCount(); ++i) seen.items.push_back(list->GetItemAt(i)->GetName().str());
    });
    return std::make_pair(seen, m);
  };
  auto pick = [&](DuiLib::CMenuWnd* m, const char* item) {
    ui.post([m, name = std::string(item)] {
      auto* list = static_cast<DuiLib::CMenuUI*>(m->GetPaintManager().GetRoot()->GetInterface("Menu"));
      for (int i = 0; i < list->GetCount(); ++i)
        if (list->GetItemAt(i)->GetName() == name.c_str()) A::Click(list->GetItemAt(i));
    });
    EXPECT_TRUE(ui.waitGone("MenuWnd"));
  };

  // Logged out.
  auto [out, outMenu] = popMenu();
  ASSERT_TRUE(outMenu);
  EXPECT_EQ(480, out.rc.left);
  EXPECT_EQ(618, out.rc.top);
  EXPECT_EQ((std::vector<std::string>{"ShowLoginView", "SoftUpdate", "About"}), out.items);
  pick(outMenu, "About");
  DuiLib::WindowImplBase* about = ui.waitWindow("CAboutDialog");
  ASSERT_TRUE(about);
  EXPECT_EQ(1, ui.call([&] { return ui.main()->modalDepth(); }));
  ui.click(about, "FinishBtn");
  EXPECT_TRUE(ui.waitGone("CAboutDialog"));

  // The close button only hides; ShowLoginView shows the form again.
  ui.click(ui.main(), "CloseWndBtn");
  ASSERT_TRUE(w32subst::waitUntil([&] { return !ui.visible(); }));
  auto [again, againMenu] = popMenu();
  ASSERT_TRUE(againMenu);
  pick(againMenu, "ShowLoginView");
  EXPECT_TRUE(w32subst::waitUntil([&] { return ui.visible(); }));

  // Logged in.
  loginAs(kAlice, kAlicePassword);
  auto [in, inMenu] = popMenu();
  ASSERT_TRUE(inMenu);
  EXPECT_EQ(480, in.rc.left);
  EXPECT_EQ(560, in.rc.top);
  EXPECT_EQ((std::vector<std::string>{"AddressUpdate", "Upload", "SoftUpdate", "About", "Logout"}), in.items);
  pick(inMenu, "SoftUpdate");
  DuiLib::WindowImplBase* update = ui.waitWindow("CSoftUpdateDialog");
  ASSERT_TRUE(update);
  ui.click(update, "CloseWndBtn");
  EXPECT_TRUE(ui.waitGone("CSoftUpdateDialog"));

  // Logout asks first; Cancel keeps everything, Sure logs out and shows the form.
  ui.post([&] { ui.main()->onMenuCommand("LOGOUT"); });
  std::string title;
  EXPECT_EQ(std::string("您确定要注销") + kAlice + "账户吗？", ui.answerBox("CancelBtn", &title));
  EXPECT_EQ("注销", title);
  EXPECT_TRUE(ui.loggedIn());
  EXPECT_FALSE(ui.visible());
  auto [out2, logoutMenu] = popMenu();
  ASSERT_TRUE(logoutMenu);
  pick(logoutMenu, "Logout");
  ui.answerBox("SureBtn");
  EXPECT_TRUE(w32subst::waitUntil([&] { return !ui.loggedIn(); }));
  EXPECT_TRUE(ui.visible());
  EXPECT_EQ(kAlice, ui.userId());
  EXPECT_TRUE(sso.waitForRequests(2, 10000)) << "the logout request went out";
  // A menu message without an item name does nothing.
  PostMessageA(ui.hwnd(), WM_PW_MENUCOMMAND, 0, 100);
  ui.run([] {});
}

TEST_F(MainWindowTest, DialogRequestsWhileLoggedOutShowTheFormAndWaitForTheLogin) {
  ui.start();
  ui.click(ui.main(), "BtnQuit");
  ASSERT_TRUE(w32subst::waitUntil([&] { return !ui.visible(); }));

  // A request through the local server, from a mail client's connection.
  int port = PW_PostwingServer::instance()->listenPort();
  ASSERT_GT(port, 0);
  bridgetest::RawClient peer(port);
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(peer.send(bridgetest::unit("showAddrDialog", {{"handle", "4242"}, {"to", ""}, {"cc", ""}, {"bcc", ""}})));
  ASSERT_TRUE(w32subst::waitUntil([&] { return ui.pending() == CLoginDialog::PENDING_ADDRESS_BOOK; }));
  EXPECT_TRUE(ui.visible()) << "the login form comes up";
  EXPECT_EQ("4242", PW_PostwingServer::instance()->pendingAddrHandle());

  // A later upload request replaces it.
  ASSERT_TRUE(peer.send(bridgetest::unit("showAttachDialog", {{"handle", "4243"}})));
  ASSERT_TRUE(w32subst::waitUntil([&] { return ui.pending() == CLoginDialog::PENDING_UPLOAD; }));

  PostMessageA(ui.hwnd(), WM_PW_SHOWADDRBOOK, 0, 0);
  ASSERT_TRUE(w32subst::waitUntil([&] { return ui.pending() == CLoginDialog::PENDING_ADDRESS_BOOK; }));
  loginAs(kAlice, kAlicePassword);
#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
  DuiLib::WindowImplBase* picker = ui.waitWindow("CAddressBookDialog");
  ASSERT_TRUE(picker) << "the waiting request is served right after the login";
  EXPECT_EQ(0, ui.pending());
  // A second request while it is open raises it, and opens no second one.
  PostMessageA(ui.hwnd(), WM_PW_SHOWADDRBOOK, 0, 0);
  ui.run([] {});
  EXPECT_EQ(1, ui.call([&] { return ui.main()->modalDepth(); }));
  picker->Close();
  EXPECT_TRUE(ui.waitGone("CAddressBookDialog"));
#else
  EXPECT_TRUE(w32subst::waitUntil([&] { return ui.pending() == 0; }));
#endif
  // Logged out and in again: nothing is waiting, nothing opens.
  ui.post([&] { ui.main()->onMenuCommand("Logout"); });
  ui.answerBox("SureBtn");
  ASSERT_TRUE(w32subst::waitUntil([&] { return !ui.loggedIn(); }));
  ui.run([&] { A::Find(*ui.main(), "InputPasswordEdt")->SetText(""); });
  ui.typeCredentials("", kAlicePassword);
  ui.clickLogin();
  ASSERT_TRUE(w32subst::waitUntil([&] { return ui.loggedIn(); }));
  ui.run([] {});
  EXPECT_EQ(nullptr, A::FindWindowByClass("CAddressBookDialog"));
}

TEST_F(MainWindowTest, ACloseRequestWhileADialogRunsClosesItFirstAndEndsCleanly) {
  ui.start();
  ui.post([&] { ui.main()->onMenuCommand("about"); });
  ASSERT_TRUE(ui.waitWindow("CAboutDialog"));
  ui.post([&] { ui.main()->onMenuCommand("About"); });  // already open: raised, not doubled
  ui.run([] {});
  EXPECT_EQ(1, ui.call([&] { return ui.main()->modalDepth(); }));

  // The local server's "mailSrvStopped" posts WM_CLOSE.
  IM_LogCapture log;
  PW_PostwingServer::instance()->onServerStopRequested();
  EXPECT_TRUE(w32subst::waitUntil([] { return CLoginDialog::mainWindow() == nullptr; }, 10000));
  EXPECT_EQ(nullptr, A::FindWindowByClass("CAboutDialog"));
  EXPECT_TRUE(log.contains("close requested while 1 dialog(s) run"));
  bool trayLeft = false;
  for (auto& icon : w32subst::notifyIcons()) trayLeft |= icon.hWnd == ui.hwnd();
  EXPECT_FALSE(trayLeft) << "the tray icon went with the window";
}

TEST_F(MainWindowTest, AnAddressBookFetchEndReachesTheWindowOnItsOwnThread) {
  ui.start();
  IM_LogCapture log;
  // As the fetch's job thread would: this thread is not the window's.
  ui.main()->OnAddrbookUpdate(std::vector<Sptr<INode>>(), 3);
  EXPECT_TRUE(w32subst::waitUntil([&] { return log.contains("address book updated, [status = 3]"); }));
}

}  // namespace

namespace {

TEST_F(MainWindowTest, LogoutClosesTheOpenDialogsAndShowsTheForm) {
  ui.start();
  loginAs(kAlice, kAlicePassword);
  ui.post([&] { ui.main()->onMenuCommand("SoftUpdate"); });
  ASSERT_TRUE(ui.waitWindow("CSoftUpdateDialog"));
  ui.post([&] { ui.main()->onMenuCommand("SoftUpdate"); });  // open already: nothing doubles
  ui.run([] {});
  EXPECT_EQ(1, ui.call([&] { return ui.main()->modalDepth(); }));
  // The tray menu is used while the dialog runs.
  ui.post([&] { ui.main()->onMenuCommand("Logout"); });
  ui.answerBox("SureBtn");
  EXPECT_TRUE(ui.waitGone("CSoftUpdateDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return ui.call([&] { return ui.main()->modalDepth(); }) == 0; }));
  EXPECT_FALSE(ui.loggedIn());
  EXPECT_TRUE(ui.visible());
}

// A logout ends what the session still has under way at the single sign-on server (here the
// ticket request of the address-book fetch that the login started, held by a silent server or
// one that stalls after a byte, whose time-out is half a minute) and then sends its own logout
// request, which is not stopped.
TEST_F(MainWindowTest, LogoutEndsTheFetchsHeldTicketRequestAndStillSendsTheLogout) {
  Config::instance()->setValue("SSO", "httpTimeout", "30");
  for (pwtest::FakeSsoServer::Fault fault : {pwtest::FakeSsoServer::STALL, pwtest::FakeSsoServer::STALL_AFTER_BYTE}) {
    SCOPED_TRACE(testing::Message() << "fault " << fault);
    sso.clearRequests();
    // The login itself is answered; the fetch's ticket, the next login request, is held.
    sso.setFault(fault, -1, pwtest::FakeSsoServer::LOGIN_PATH, 1);
    MainWindowDriver w;
    w.start();
    w.typeCredentials(kAlice, kAlicePassword);
    w.clickLogin();
    ASSERT_TRUE(w32subst::waitUntil([&] { return w.loggedIn(); }, 10000));
    auto xcapLogins = [&] {
      size_t n = 0;
      for (const pwtest::HttpRequestRecord& r : sso.requests())
        if (r.path == pwtest::FakeSsoServer::LOGIN_PATH && r.queryParam("service").find("/xcap/") != std::string::npos) ++n;
      return n;
    };
    ASSERT_TRUE(w32subst::waitUntil([&] { return xcapLogins() == 2; }, 10000)) << "the fetch asks for its ticket";
    EXPECT_EQ(1u, LongTimeTask::instance()->runningCount()) << "the fetch's job is held";

    w.post([&] { w.main()->onMenuCommand("Logout"); });
    w.answerBox("SureBtn");
    ASSERT_TRUE(w32subst::waitUntil([&] { return !w.loggedIn(); }));
    EXPECT_TRUE(w32subst::waitUntil([&] { return LongTimeTask::instance()->runningCount() == 0; }, 10000))
        << "the fetch's job ended with its ticket request, long before the time-out";
    EXPECT_TRUE(w32subst::waitUntil([&] {
      for (const pwtest::HttpRequestRecord& r : sso.requests())
        if (r.path == pwtest::FakeSsoServer::LOGOUT_PATH) return true;
      return false;
    }, 10000)) << "the logout went out";
    EXPECT_FALSE(SsoClient::exchangesStopped());
    sso.setFault(pwtest::FakeSsoServer::NONE);
  }
  Config::instance()->setValue("SSO", "httpTimeout", "5");
}

#ifdef PW_HAVE_ADDRESSBOOK_DIALOGS
TEST_F(MainWindowTest, AnAddressBookUpdateAsksToCloseThePickerFirst) {
  ui.start();
  loginAs(kAlice, kAlicePassword);
  PostMessageA(ui.hwnd(), WM_PW_SHOWADDRBOOK, 0, 0);
  ASSERT_TRUE(ui.waitWindow("CAddressBookDialog"));

  ui.post([&] { ui.main()->onMenuCommand("AddressUpdate"); });
  std::string title;
  EXPECT_EQ("更新通讯录前，请先关闭通讯录窗口！", ui.answerBox("CancelBtn", &title));
  EXPECT_EQ("提示信息", title);
  ui.run([] {});
  EXPECT_TRUE(A::FindWindowByClass("CAddressBookDialog")) << "Cancel keeps the picker";
  EXPECT_EQ(nullptr, A::FindWindowByClass("CAddressBookUpdateDialog"));

  IM_LogCapture log;
  ui.post([&] { ui.main()->onMenuCommand("addressupdate"); });
  ui.answerBox("SureBtn");
  EXPECT_TRUE(ui.waitGone("CAddressBookDialog"));
  DuiLib::WindowImplBase* progress = ui.waitWindow("CAddressBookUpdateDialog");
  ASSERT_TRUE(progress);
  // The fetch fails (no XCAP server); its end reaches the dialog through the window's thread.
  EXPECT_TRUE(w32subst::waitUntil([&] { return log.contains("address book updated, [status ="); }, 15000));
  progress->Close();
  EXPECT_TRUE(ui.waitGone("CAddressBookUpdateDialog"));
}

// The picker closed for an update is forgotten at once: a mail client's request that arrives
// while the update dialog runs opens a new picker, after the update dialog.
TEST_F(MainWindowTest, ARequestDuringTheUpdateOpensThePickerAfterTheUpdateDialog) {
  ui.start();
  loginAs(kAlice, kAlicePassword);
  PostMessageA(ui.hwnd(), WM_PW_SHOWADDRBOOK, 0, 0);
  DuiLib::WindowImplBase* first = ui.waitWindow("CAddressBookDialog");
  ASSERT_TRUE(first);
  ui.post([&] { ui.main()->onMenuCommand("AddressUpdate"); });
  ui.answerBox("SureBtn");
  EXPECT_TRUE(ui.waitGone("CAddressBookDialog"));
  DuiLib::WindowImplBase* progress = ui.waitWindow("CAddressBookUpdateDialog");
  ASSERT_TRUE(progress);

  PostMessageA(ui.hwnd(), WM_PW_SHOWADDRBOOK, 0, 0);
  ui.run([] {});
  EXPECT_EQ(nullptr, A::FindWindowByClass("CAddressBookDialog")) << "not above the update dialog";
  progress->Close();
  EXPECT_TRUE(ui.waitGone("CAddressBookUpdateDialog"));
  DuiLib::WindowImplBase* second = ui.waitWindow("CAddressBookDialog");
  ASSERT_TRUE(second) << "the request was not lost";
  second->Close();
  EXPECT_TRUE(ui.waitGone("CAddressBookDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return ui.call([&] { return ui.main()->modalDepth(); }) == 0; }));
}
#endif

#ifdef PW_HAVE_UPLOADER_DIALOG
TEST_F(MainWindowTest, TheUploadRequestOpensTheUploadDialogOnce) {
  ui.start();
  loginAs(kAlice, kAlicePassword);
  // The request comes from a mail client's connection to the local server.
  bridgetest::RawClient peer(PW_PostwingServer::instance()->listenPort());
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(peer.send(bridgetest::unit("showAttachDialog", {{"handle", "5150"}})));
  DuiLib::WindowImplBase* uploader = ui.waitWindow("CFileUploaderDialog");
  ASSERT_TRUE(uploader);
  PostMessageA(ui.hwnd(), WM_PW_SHOWATTACH, 0, 0);
  ui.run([] {});
  int depth = ui.call([&] { return ui.main()->modalDepth(); });
  EXPECT_GE(depth, 1);
  EXPECT_EQ(uploader, ui.waitWindow("CFileUploaderDialog"));
  uploader->Close();
  EXPECT_TRUE(ui.waitGone("CFileUploaderDialog"));
  // Boxes the dialog may have raised about the missing net-disk server go with it.
  for (DuiLib::CWindowWnd* box; (box = A::FindWindowByClass("CHintDialog")) != nullptr;) {
    box->Close();
    ui.run([] {});
  }
}
#endif

}  // namespace

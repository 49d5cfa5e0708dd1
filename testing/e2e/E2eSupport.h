// The whole desktop program and a mail client in one test process. The desktop side is the
// program's own main window on a UI thread of its own in simulated process 100 (its
// constructor starts the local server and the hook manager, whose poll hooks the compose
// windows); the mail client is a simulated Foxmail with its own UI thread in a process of its
// own; the outside servers are the fake single sign-on, XCAP and net-disk servers on
// 127.0.0.1. The test acts as the user: it types into the login form, clicks the compose
// window's buttons and drives the dialogs through the automation API on the main window's
// thread. Every wait has a deadline.
#pragma once

#include "app/LoginDialog.h"
#include "bridge/PW_Message.h"
#include "bridge/PW_PostwingServer.h"
#include "duilib/UIAutomation.h"
#include "hook/PostwingHook.h"
#include "hook/PostwingWindRegistry.h"
#include "testing/FakeMailClient.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "testing/FakeXcapServer.h"
#include "win32/w32subst.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace e2e {

namespace A = DuiLib::Automation;

const DWORD kDesktop = w32subst::kDefaultProcessId;

// The process's private home folder (PW_HOME and APPDATA), made before the first test.
const std::string& homeDir();
// A fresh empty folder under the home folder.
std::string freshDir(const std::string& name);
// A file of `size` bytes that differ from block to block.
std::string writeFile(const std::string& folder, const std::string& name, size_t size);

// A loopback peer of the local server that is no compose window: "mailSrvStopped" is sent by
// no deliverable of the system. Test thread only.
class RawPeer {
 public:
  explicit RawPeer(int port);
  ~RawPeer();
  bool ok() const { return ok_; }
  bool send(const PW_Message& message);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
  bool ok_ = false;
};

// Thread rule: the test thread, except what onUi/callUi/postUi hand to the main window's.
class Road : public ::testing::Test {
 protected:
  Road();
  ~Road() override;
  void SetUp() override;
  void TearDown() override;

  static PW_PostwingServer* server() { return PW_PostwingServer::instance(); }
  static PostwingWindRegistry& registryOf(DWORD pid) {
    return w32subst::ProcessLocal<PostwingWindRegistry>::getFor(pid);
  }

  // ---- the desktop program ----
  // Creates the main window as the program's entry does (window, then tray icon) and points
  // the mail clients' agents at its local server.
  void startProgram();
  // Posts WM_CLOSE when the window still lives and waits for its end and its thread's.
  void closeProgram();
  bool programEnded() const { return CLoginDialog::mainWindow() == nullptr; }
  // Ends what the program never stops and the process's end would (address-book fetches,
  // net-disk threads, the user's database, single sign-on workers and cookies), so that a
  // next start begins afresh; call after closeProgram.
  void shutdownServices();
  CLoginDialog* main() const { return main_; }
  HWND mainHwnd() const { return mainHwnd_; }
  bool mainVisible() const { return IsWindowVisible(mainHwnd_) != FALSE; }
  // Runs fn on the main window's thread and waits for it (also inside a modal loop there);
  // fn must not start a modal loop.
  void onUi(const std::function<void()>& fn);
  template <typename F>
  auto callUi(F f) -> decltype(f()) {
    decltype(f()) r{};
    onUi([&] { r = f(); });
    return r;
  }
  // Queues fn for the main window's thread (it may start a modal loop).
  void postUi(const std::function<void()>& fn);
  bool loggedIn() { return callUi([this] { return main_->isLoggedIn(); }); }
  int pending() { return callUi([this] { return main_->pendingRequest(); }); }
  // Types the user and password into the login form and presses its login button.
  void typeAndLogin(const std::string& user, const std::string& password);
  // ... and waits until the main window says the user is logged in.
  bool login(const std::string& user, const std::string& password);
  // A window of the program by class, once it exists and has been painted for the first
  // time (its window-init notification has run, as before anything a user can do in it);
  // null at the deadline.
  template <typename T>
  T* waitWindow(const char* cls, int timeoutMs = 15000) {
    DuiLib::CWindowWnd* w = nullptr;
    w32subst::waitUntil([&] { return (w = A::FindWindowByClass(cls)) != nullptr; }, timeoutMs);
    if (auto* skinned = dynamic_cast<DuiLib::WindowImplBase*>(w))
      if (!waitUi([&] { return skinned->GetPaintManager().IsInitialised(); }, timeoutMs)) return nullptr;
    return dynamic_cast<T*>(w);
  }
  bool waitGone(const char* cls, int timeoutMs = 15000) {
    return w32subst::waitUntil([&] { return A::FindWindowByClass(cls) == nullptr; }, timeoutMs);
  }
  // Polls pred on the main window's thread.
  bool waitUi(const std::function<bool()>& pred, int timeoutMs = 15000) {
    return w32subst::waitUntil([&] { return callUi([&] { return pred(); }); }, timeoutMs);
  }

  // ---- the mail client ----
  // Opens a compose window and waits until the desktop's poll hooked it and the first CBT
  // event on the mail client's thread made its in-process object (Foxmail 7's then has its
  // buttons).
  pwtest::ComposeWindow openFoxmail7() { return openCompose(pwtest::MailKind::Foxmail7); }
  pwtest::ComposeWindow openCompose(pwtest::MailKind kind, const pwtest::ComposeOptions& options = pwtest::ComposeOptions());
  PostwingWind::Controls controlsOf(const pwtest::ComposeWindow& w);

  // ---- the outside servers ----
  pwtest::FakeSsoServer sso_;
  pwtest::FakeXcapServer xcap_{&sso_};
  pwtest::FakeNetDiskServer disk_{&sso_};

  std::unique_ptr<pwtest::FakeTaskbar> taskbar_;
  std::unique_ptr<pwtest::FakeMailClient> mail_;
  DWORD mailPid_ = 0;

 private:
  std::unique_ptr<w32subst::UiThread> ui_;
  CLoginDialog* main_ = nullptr;
  HWND mainHwnd_ = nullptr;
};

// The users of the fake servers and the address book the XCAP server holds for each.
extern const char* const kAlice;
extern const char* const kAlicePassword;
const std::string& aliceBuddyDocument();

}  // namespace e2e

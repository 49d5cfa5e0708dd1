// A main window on a UI thread of its own, driven from the test thread the way the platform
// would: window messages posted to it, automation run on its thread, and work that may start a
// modal loop posted to a driver window of that thread (so the test thread never waits inside
// a modal loop). Every wait has a deadline.
#pragma once

#include "AppTestSupport.h"
#include "app/AppMessages.h"
#include "app/LoginDialog.h"
#include "duilib/UIAutomation.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace apptest {

namespace A = DuiLib::Automation;

class MainWindowDriver {
 public:
  MainWindowDriver() : ui_(new w32subst::UiThread()) {}
  ~MainWindowDriver() { close(); }

  // Creates the main window as the program's entry does, and lets it show.
  void start() {
    ui_->run([this] {
      main_ = new CLoginDialog();
      hwnd_ = main_->Create(nullptr, "Postwing", PW_APP_DIALOG_STYLE, 0x60010, 0, 0, 556, 843);
      if (hwnd_) main_->tray().create(nullptr, hwnd_, "Postwing", nullptr);
    });
    ASSERT_TRUE(hwnd_ != nullptr);
    ui_->waitIdle(10000);
  }

  // Closes the main window (if it lives) and waits for its end and the thread's.
  void close() {
    if (!ui_) return;
    if (IsWindow(hwnd_)) PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(w32subst::waitUntil([] { return CLoginDialog::mainWindow() == nullptr; }, 10000));
    ui_.reset();
  }

  HWND hwnd() const { return hwnd_; }
  CLoginDialog* main() const { return main_; }
  DWORD threadId() const { return ui_->threadId(); }

  // Runs fn on the UI thread and waits for it; fn must not start a modal loop.
  template <typename F>
  auto call(F f) -> decltype(f()) {
    return ui_->call(f);
  }
  void run(const std::function<void()>& fn) { ui_->run(fn); }
  // Queues fn for the UI thread as a posted message; it may start modal loops.
  void post(const std::function<void()>& fn) { postWork(ui_->threadId(), fn); }

  bool loggedIn() { return call([this] { return main_->isLoggedIn(); }); }
  int pending() { return call([this] { return main_->pendingRequest(); }); }
  std::string userId() { return call([this] { return main_->currentUserId(); }); }
  bool visible() const { return IsWindowVisible(hwnd_) != FALSE; }

  // A window of this library by class, once it exists.
  DuiLib::WindowImplBase* waitWindow(const char* cls, int timeoutMs = 10000) {
    // Found, and shown: its "windowinit" has filled it in.
    DuiLib::WindowImplBase* found = nullptr;
    w32subst::waitUntil(
        [&] {
          return call([&] {
            found = dynamic_cast<DuiLib::WindowImplBase*>(A::FindWindowByClass(cls));
            return found && found->GetPaintManager().IsInitialised();
          });
        },
        timeoutMs);
    return found;
  }
  bool waitGone(const char* cls, int timeoutMs = 10000) {
    return w32subst::waitUntil([&] { return A::FindWindowByClass(cls) == nullptr; }, timeoutMs);
  }
  std::string text(DuiLib::WindowImplBase* w, const char* control) {
    return call([&] { return textOf(*w, control); });
  }
  // Clicks a control of a window on the UI thread (posted: the click may open a dialog).
  void click(DuiLib::WindowImplBase* w, const char* control) {
    post([w, name = std::string(control)] { A::Click(A::Find(*w, name.c_str())); });
  }
  // Answers a message box: its message, title, and the button pressed.
  std::string answerBox(const char* button, std::string* title = nullptr) {
    DuiLib::WindowImplBase* box = waitWindow("CHintDialog");
    if (!box) return "<no box>";
    std::string message = text(box, "MessageRedt");
    if (title) *title = text(box, "titallabel");
    click(box, button);
    EXPECT_TRUE(waitGone("CHintDialog"));
    return message;
  }

  // Types into the login form like a user and presses the login button.
  void typeCredentials(const std::string& user, const std::string& password) {
    run([&] {
      DuiLib::WindowImplBase& w = *main_;
      if (!user.empty()) {
        A::Focus(A::Find(w, "InputUseridEdt"));
        A::TypeText(A::Find(w, "InputUseridEdt"), user.c_str());
      }
      A::Focus(A::Find(w, "InputPasswordEdt"));
      if (!password.empty()) A::TypeText(A::Find(w, "InputPasswordEdt"), password.c_str());
      A::Blur(A::Find(w, "InputPasswordEdt"));
    });
  }
  void check(const char* box, bool on) {
    run([&] { A::Check(A::Find(*main_, box), on); });
  }
  void clickLogin() { click(main_, "LoginBtn"); }

 private:
  std::unique_ptr<w32subst::UiThread> ui_;
  CLoginDialog* main_ = nullptr;
  HWND hwnd_ = nullptr;
};

}  // namespace apptest

// Simulated mail clients for the hook library's tests: compose windows of Foxmail 7,
// Foxmail 7.0 and Outlook with the root class and title, child windows, recipient edits and
// body editor the hook library looks for. Each client runs its own UI thread with a real
// message loop in its own simulated process; the windows' own procedures record every
// message that reaches them and act as the mail client would (rich edits take WM_IME_CHAR,
// the editor pastes "HTML Format" from its context menu, the clients' own address-book
// controls log "ownAddressBook(...)").
//
// Thread rules: every method is callable from any thread; window state (texts, body, log)
// is guarded by the client's mutex and changed only on its UI thread.
#pragma once

#include "win32/windows.h"

#include <functional>

#include <memory>
#include <string>
#include <vector>

namespace pwtest {

enum class MailKind { Foxmail7, Foxmail70, Outlook };

// A compose window is built whole and only then shown, as mail clients show their forms.
struct ComposeOptions {
  bool visible = true;
  std::u16string title;  // empty: the kind's untitled compose window
  int x = 200, y = 100, width = 1000, height = 800;
  // A client that shows its compose window before it has built the controls: when set, the
  // root is created shown (when visible) and this runs on the UI thread after the root and
  // after each control is made, with the root and the window just made.
  std::function<void(HWND root, HWND made)> whileBuilding;
};

// The windows of one compose window (handles; the client owns the windows).
struct ComposeWindow {
  MailKind kind;
  HWND root = nullptr;
  HWND container = nullptr;  // TLayoutManager / TXPanel (with TTBXButton) / #32770
  HWND to = nullptr, cc = nullptr, bcc = nullptr;
  HWND subject = nullptr;  // Foxmail 7's fourth rich edit
  HWND editor = nullptr;
  HWND dock = nullptr, toolbar = nullptr, toolbarPanel = nullptr;  // where buttons go
  HWND recipientButton = nullptr;  // Foxmail 7.0's TTBXButton
  std::vector<HWND> outlookButtons;  // ids 4353, 4354, 4355, 4356
};

struct RecordedMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

class FakeMailClient {
 public:
  explicit FakeMailClient(DWORD pid = 200);
  ~FakeMailClient();  // destroys its windows and ends the UI thread
  FakeMailClient(const FakeMailClient&) = delete;
  FakeMailClient& operator=(const FakeMailClient&) = delete;

  DWORD pid() const;
  DWORD threadId() const;
  // Runs fn on the UI thread and waits for it.
  void run(const std::function<void()>& fn);
  bool waitIdle(int timeoutMs = 5000);

  ComposeWindow openCompose(MailKind kind, const ComposeOptions& options = ComposeOptions());
  // A top-level window of any class and title (decoys).
  HWND openWindow(const char* className, const std::u16string& title, bool visible = true);
  void show(HWND hWnd);
  void close(HWND root);  // DestroyWindow on the UI thread

  // Window state.
  std::u16string text(HWND edit) const;  // a rich edit's content
  std::u16string body(HWND editor) const;
  size_t caret(HWND editorOrEdit) const;
  bool contextMenuOpen(HWND editor) const;
  std::vector<std::string> events() const;  // "ownAddressBook(to)", "nextPage", ...
  std::vector<RecordedMessage> messages(HWND hWnd, UINT msg = 0) const;  // reached the window's own procedure
  int count(HWND hWnd, UINT msg) const { return (int)messages(hWnd, msg).size(); }
  void clearLog();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The shell's taskbar: a "Shell_TrayWnd" top-level window in simulated process 50, docked at
// the bottom of the 1920x1080 screen unless told otherwise.
class FakeTaskbar {
 public:
  explicit FakeTaskbar(RECT rect = RECT{0, 1040, 1920, 1080});
  ~FakeTaskbar();
  HWND hwnd() const { return hwnd_; }

 private:
  std::unique_ptr<w32subst::UiThread> ui_;
  HWND hwnd_ = nullptr;
};

}  // namespace pwtest

// One compose window of a mail client, in the desktop process (made by the poll, holding the
// hooks) and again inside the mail-client process (made by the CBT hook procedure). Owned by
// the registry of its process (PostwingWindRegistry).
//
// Thread rules: setHook/unHook on any thread; the window fields (container, edits, editor,
// buttons) are written on the mail client's UI thread while the object is being set up and
// read afterwards (the fill operations run on the agent's receive thread); listMutex_ guards
// messages_ and children_; agentMutex_ guards agent_ and every request made through it.
#pragma once

#include "win32/windows.h"

#include <ace/Recursive_Thread_Mutex.h>

#include <string>
#include <vector>

class PostwingUiAgent;

enum PostwingKind { KIND_FOXMAIL7 = 0, KIND_FOXMAIL70 = 1, KIND_OUTLOOK = 2 };

class PostwingWind {
 public:
  struct RecordedMessage {
    UINT msg;
    HWND hwnd;
    WPARAM wParam;
    LPARAM lParam;
  };

  PostwingWind(HWND root, int kind);
  virtual ~PostwingWind();

  // Installs, on the thread that owns the root, a WH_CBT and then a WH_CALLWNDPROC hook with
  // the kind's procedures and the library's module handle; 0, or -1 after removing what was
  // installed. The base class installs nothing and returns 0.
  virtual int setHook();
  // Removes both hooks that are set; 0.
  virtual int unHook();
  // Type a recipient list (narrow text in the ANSI code page, addresses separated by ";")
  // into the To, Cc or Bcc control; -1 when the window has no such control.
  virtual int fillTo(const std::string& list);
  virtual int fillCc(const std::string& list);
  virtual int fillBcc(const std::string& list);
  // Tells the desktop program the window closed (when it has an agent), then drops the agent.
  virtual int closeDialog();
  // Puts back the container's previous window procedure.
  virtual void restoreWndProc();

  // With the agent flag of PostwingWindRegistry::addWind: the process's agent, set under
  // agentMutex_.
  void attachAgent();

  void addChild(HWND child);
  bool hasChild(HWND child) const;

  HWND root() const { return root_; }
  int kind() const { return kind_; }
  HHOOK cbtHook() const { return cbtHook_; }
  HHOOK cwpHook() const { return cwpHook_; }
  void setHooks(HHOOK cbt, HHOOK cwp) {
    cbtHook_ = cbt;
    cwpHook_ = cwp;
  }

  // The window's controls, found by the child enumeration inside the mail client.
  HWND container_ = nullptr;
  WNDPROC containerPrevProc_ = nullptr;
  HWND to_ = nullptr;
  HWND cc_ = nullptr;
  HWND bcc_ = nullptr;
  WNDPROC toPrevProc_ = nullptr;  // Foxmail 7 only
  WNDPROC ccPrevProc_ = nullptr;
  WNDPROC bccPrevProc_ = nullptr;
  HWND editor_ = nullptr;
  HWND button1_ = nullptr;
  HWND button2_ = nullptr;

 protected:
  int installHooks(HOOKPROC cbt, HOOKPROC cwp, const char* className);

  HWND root_;
  int kind_;
  HHOOK cbtHook_ = nullptr;
  HHOOK cwpHook_ = nullptr;
  mutable ACE_Recursive_Thread_Mutex listMutex_;  // guards messages_, children_
  std::vector<RecordedMessage> messages_;
  std::vector<HWND> children_;
  mutable ACE_Recursive_Thread_Mutex agentMutex_;  // guards agent_
  PostwingUiAgent* agent_ = nullptr;
};

// Types a list into a recipient control: posts one WM_IME_CHAR per UTF-16 unit of the list
// and a ";" after it, then WM_PAINT to the root. Nothing when the control already holds more
// than 2048 characters or the list with its ";" exceeds 2047 units. Any thread.
void typeIntoEdit(const std::string& list, PostwingWind* wind, HWND control);

class FoxMail7Wind : public PostwingWind {
 public:
  explicit FoxMail7Wind(HWND root) : PostwingWind(root, KIND_FOXMAIL7) {}
  int setHook() override;
};

class FoxMail70Wind : public PostwingWind {
 public:
  explicit FoxMail70Wind(HWND root) : PostwingWind(root, KIND_FOXMAIL70) {}
  int setHook() override;
};

class OutLook03Wind : public PostwingWind {
 public:
  explicit OutLook03Wind(HWND root) : PostwingWind(root, KIND_OUTLOOK) {}
  int setHook() override;
};

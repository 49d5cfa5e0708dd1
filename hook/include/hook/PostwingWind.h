// One compose window of a mail client, in the desktop process (made by the poll, holding the
// hooks) and again inside the mail-client process (made by the CBT hook procedure). Owned by
// the registry of its process (PostwingWindRegistry), which hands it out as a shared object.
//
// Inside the mail client the object learns the compose window's controls (the child
// enumeration, on the UI thread: when the object is made, and again when a later event names a
// window of the compose window it has not learned, as when the window was shown before its
// form was complete), subclasses one container control (and Foxmail 7's
// recipient edits), shows the small menu that offers the enterprise address book or the mail
// client's own, replays the intercepted click when the user picks the client's own, asks the
// desktop program for its dialogs through the agent, and types addresses or pastes links
// (on the agent's receive thread).
//
// Thread rules:
// - setHook/unHook: any thread.
// - showAddrDialog, showAttachDialog, closeDialog, showMenu, showEditMenu, recordMessage,
//   sendMessageByParam, restoreWndProc: the mail client's UI thread (closeDialog also any
//   thread of the desktop process, where the object has no agent).
// - fillTo/fillCc/fillBcc/insertAttachment: any thread (the agent's receive thread); they act
//   on the window only through posted messages and synthesised input.
// Locks: listMutex_ (recursive) guards messages_ and the control fields below (container_ ...
// button2_, the previous procedures) and is held while a replay calls the mail client;
// agentMutex_ (recursive) guards agent_, ownedAgent_ and every request made through them.
// Neither is held while the other is taken. childrenMutex_ guards children_ alone and is never
// held while anything else is called: every lookup of the process asks every object for its
// children, so a lookup on one UI thread must not wait for a replay on another.
#pragma once

#include "win32/windows.h"

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <string>
#include <vector>

class PostwingUiAgent;

enum PostwingKind { KIND_FOXMAIL7 = 0, KIND_FOXMAIL70 = 1, KIND_OUTLOOK = 2 };

// Menu resources of the library and their commands.
enum {
  IDR_MENU_FOXMAIL = 101,  // kinds 0 and 1
  IDR_MENU_OUTLOOK = 102,  // kinds 2 and 3
  IDB_BUTTON_ADDR = 104,
  IDB_BUTTON_ATTACH = 105,
  ID_FOXMAIL_ENTERPRISE = 40001,
  ID_FOXMAIL_OWN = 40002,
  ID_OUTLOOK_ENTERPRISE = 40003,
  ID_OUTLOOK_OWN = 40004,
};

class PostwingWind {
 public:
  struct RecordedMessage {
    UINT msg;
    HWND hwnd;
    WPARAM wParam;
    LPARAM lParam;
  };

  PostwingWind(HWND root, int kind);
  // Deletes the bitmaps of the buttons it created (and a private agent closeDialog never
  // dropped).
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
  // Pastes the clipboard into the body editor by synthesised mouse and keyboard input; -1
  // when the window has no editor. The link text is not used (the clipboard holds the links).
  virtual int insertAttachment(const std::string& link);
  // Asks the desktop program for the address book ("showAddrDialog" with the root); 0 and
  // nothing done when there is no agent or no connection.
  virtual int showAddrDialog();
  // Asks for the upload dialog ("showAttachDialog").
  virtual int showAttachDialog();
  // Tells the desktop program the window closed (when it has an agent), then drops the agent;
  // a private agent is deleted, its receive thread joined.
  virtual int closeDialog();
  // Ends the process's agent and joins its receive thread (the registry calls it when the
  // process's last compose window has gone: nothing of the library may run after its hooks).
  static void endProcessAgent();
  // Lets the ended agent connect again for a close (a window took it while it was ending).
  static void reopenProcessAgent();
  // Tracks the kind's menu at the position of the last message, owner the control; whether a
  // menu was shown.
  virtual bool showMenu(HWND control);
  // The edit menu (Foxmail 7): at the cursor. The base shows none and returns true.
  virtual bool showEditMenu(HWND control);
  // Puts back the container's previous window procedure.
  virtual void restoreWndProc();

  // With the agent flag of PostwingWindRegistry::addWind: the process's agent (reopened when
  // the process's last window had ended it).
  void attachAgent();

  // The intercepted click: at most one entry per message id (a newer one replaces it).
  void recordMessage(UINT msg, HWND hwnd, WPARAM wParam, LPARAM lParam);
  // Replays the recorded messages, in order, to the previous procedure and forgets them.
  void sendMessageByParam(WNDPROC prev);
  std::vector<RecordedMessage> recordedMessages() const;

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
  bool hasAgent() const;

  // The window's controls, found by the child enumeration inside the mail client (guarded by
  // listMutex_; read them through controls() from other threads).
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

  struct Controls {
    HWND container, to, cc, bcc, editor, button1, button2;
    WNDPROC containerPrev, toPrev, ccPrev, bccPrev;
  };
  Controls controls() const;
  ACE_Recursive_Thread_Mutex& listMutex() const { return listMutex_; }
  // The bitmaps the enumeration loaded for its buttons (deleted with the object).
  void keepBitmap(HBITMAP bitmap);

 protected:
  int installHooks(HOOKPROC cbt, HOOKPROC cwp, const char* className);
  // Loads the kind's menu and tracks its first popup at pt, owner the control; false when the
  // kind has no menu.
  bool trackMenu(HWND control, POINT pt);

  HWND root_;
  int kind_;
  HHOOK cbtHook_ = nullptr;
  HHOOK cwpHook_ = nullptr;
  mutable ACE_Recursive_Thread_Mutex listMutex_;  // guards messages_, controls, bitmaps_
  std::vector<RecordedMessage> messages_;
  mutable ACE_Thread_Mutex childrenMutex_;  // guards children_ (a leaf: nothing is called under it)
  std::vector<HWND> children_;
  std::vector<HBITMAP> bitmaps_;
  mutable ACE_Recursive_Thread_Mutex agentMutex_;  // guards agent_, ownedAgent_
  PostwingUiAgent* agent_ = nullptr;       // the process's agent or ownedAgent_
  PostwingUiAgent* ownedAgent_ = nullptr;  // a private agent this object made (and deletes)
};

// Types a list into a recipient control: posts one WM_IME_CHAR per UTF-16 unit of the list
// and a ";" after it, then WM_PAINT to the root. Nothing when the control already holds more
// than 2048 characters. Any thread.
void typeIntoEdit(const std::string& list, PostwingWind* wind, HWND control);

class FoxMail7Wind : public PostwingWind {
 public:
  explicit FoxMail7Wind(HWND root) : PostwingWind(root, KIND_FOXMAIL7) {}
  int setHook() override;
  // Only a position less than 58 pixels right of the control's left edge shows the menu.
  bool showMenu(HWND control) override;
  bool showEditMenu(HWND control) override;
  // The recipient edits' procedures first, then the container's.
  void restoreWndProc() override;
};

class FoxMail70Wind : public PostwingWind {
 public:
  explicit FoxMail70Wind(HWND root);
  int setHook() override;
  // Ignores a click within 2 whole seconds of the last accepted one; makes and connects a
  // private agent when the object has none.
  int showAttachDialog() override;

  // The monotonic clock of the attach-click guard; the last accepted click (tests move it).
  static ACE_Time_Value now();
  ACE_Time_Value lastAttachClick() const;
  void setLastAttachClick(const ACE_Time_Value& t);

 private:
  ACE_Time_Value lastAttachClick_;  // guarded by agentMutex_
};

class OutLook03Wind : public PostwingWind {
 public:
  explicit OutLook03Wind(HWND root) : PostwingWind(root, KIND_OUTLOOK) {}
  int setHook() override;
};

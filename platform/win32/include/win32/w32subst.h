// The simulation and test side of our Win32 stand-in. The system's own code uses only
// registerModule/ProcessLocal (its "per-process" state); tests use the rest to set up
// simulated processes and to watch what the platform did. Any thread unless noted.
#pragma once

#include "win32/winuser.h"

#include <functional>
#include <memory>
#include <typeinfo>
#include <string>
#include <vector>

namespace w32subst {

// ---- simulated processes --------------------------------------------------------------------
// Every thread carries a simulated process id; threads that never set one are in this one.
constexpr DWORD kDefaultProcessId = 100;
// Sets the calling thread's simulated process id (before it creates windows or hooks).
void setCurrentProcessId(DWORD pid);
DWORD currentProcessId();

// One object of T per simulated process, made on first use and never destroyed: the
// stand-in for a library's globals, which the real platform keeps apart per process.
void* processLocalSlot(const char* key, DWORD pid, void* (*make)());
template <typename T>
struct ProcessLocal {
  static T& get() { return *static_cast<T*>(processLocalSlot(key(), currentProcessId(), &make)); }
  static T& getFor(DWORD pid) { return *static_cast<T*>(processLocalSlot(key(), pid, &make)); }

 private:
  static void* make() { return new T(); }
  static const char* key() { return typeid(T).name(); }
};

// ---- modules and resources ------------------------------------------------------------------
// The same name always gives the same module handle.
HINSTANCE registerModule(const char* name);
struct MenuItemTemplate {
  UINT id;           // 0 for a separator
  std::string text;  // narrow text in the ANSI code page
};
// A menu resource: one popup (named popupName) holding the items.
void addMenuResource(HINSTANCE module, UINT id, const std::string& popupName,
                     const std::vector<MenuItemTemplate>& items);
void addBitmapResource(HINSTANCE module, UINT id, int width, int height);
int liveMenuCount();    // menus made by LoadMenuA/CreateMenu/CreatePopupMenu not yet destroyed
int liveBitmapCount();  // bitmaps loaded and not yet deleted
struct BitmapInfo {
  UINT resourceId = 0;
  int width = 0;
  int height = 0;
};
bool bitmapInfo(HBITMAP bitmap, BitmapInfo* out);

// ---- popup menus ----------------------------------------------------------------------------
struct MenuShown {
  UINT resourceId = 0;  // the menu resource the popup came from (0 when built in code)
  std::vector<MenuItemTemplate> items;
  POINT pt{0, 0};
  HWND owner = nullptr;
  UINT flags = 0;
  DWORD threadId = 0;
};
// TrackPopupMenu(Ex) runs a modal loop on its thread until the user picks an item or dismisses
// the menu (a button pressed elsewhere, Escape, WM_QUIT). While set, the driver is that user:
// it runs once inside each menu's loop, on the menu's thread, and returns the item it picks
// (0, or an item a user could not pick, dismisses). Without a driver, a test picks from
// another thread with pickMenuItem/dismissMenu.
using MenuDriver = std::function<UINT(const MenuShown&)>;
void setMenuDriver(MenuDriver driver);
// The menus whose loops run now (innermost last).
std::vector<MenuShown> openMenus();
// Picks an item of the menu open on the thread, as a user's click on it; false when no menu is
// open there or the item is not one a user could pick (none such, a separator, greyed).
bool pickMenuItem(DWORD threadId, UINT id);
bool dismissMenu(DWORD threadId);
// Every menu shown since the last clearShownMenus, open or not.
std::vector<MenuShown> shownMenus();
void clearShownMenus();

// ---- threads and queues ---------------------------------------------------------------------
// Runs fn on the thread (synchronously, as a sent message: the thread runs it when it next
// takes messages). False when the thread does not exist or has ended.
bool runOnThread(DWORD threadId, const std::function<void()>& fn);
// Queues fn behind the thread's posted messages; it runs inside GetMessage/PeekMessage.
bool postToThread(DWORD threadId, const std::function<void()>& fn);
// Waits until the thread has handled everything posted or input to it before this call.
bool waitIdle(DWORD threadId, int timeoutMs = 5000);
// Waits (polling the condition every few milliseconds) until pred() or the deadline.
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Messages sent to the thread (and runOnThread tasks) that it has not taken yet.
int sentWaiting(DWORD threadId);
DWORD processIdOfThread(DWORD threadId);
// Threads made with CreateThread in the simulated process whose start routine has not returned.
int runningThreads(DWORD pid);

// ---- hooks ----------------------------------------------------------------------------------
int hookCount(DWORD threadId, int type);
// The next SetWindowsHookEx of this type fails (returns NULL, last error 8).
void failNextHookInstall(int type);
// Fires a CBT event on the thread (marshalled there like runOnThread); returns the chain's result.
LRESULT fireCbt(DWORD threadId, int code, WPARAM wParam, LPARAM lParam);

// ---- input ----------------------------------------------------------------------------------
struct InputEvent {
  enum Kind { Mouse, Key } kind = Mouse;
  DWORD flags = 0;   // MOUSEEVENTF_* or KEYEVENTF_*
  WORD vk = 0;       // keys
  POINT pt{0, 0};    // cursor when generated
  HWND target = nullptr;  // window chosen for mouse input; foreground window for keys
};
std::vector<InputEvent> inputLog();
void clearInputLog();
void setScreenSize(int width, int height);
// Moves the cursor to the window's client point and synthesises a press and release.
void click(HWND hWnd, int x, int y, bool right = false);

// ---- debug output, clipboard, tray ----------------------------------------------------------
std::vector<std::string> debugLines();
bool debugContains(const std::string& fragment);
void clearDebugLines();

enum class ClipboardFault { None, Open, SetData, Alloc };
void failNextClipboard(ClipboardFault fault);
// Empties the clipboard and forgets who holds it open (between tests).
void resetClipboard();

struct NotifyIcon {
  HWND hWnd = nullptr;
  UINT id = 0;
  UINT callbackMessage = 0;
  HICON icon = nullptr;
  std::string tip;
};
std::vector<NotifyIcon> notifyIcons();
void failNextNotifyIconAdd();
// Posts the icon's callback message as the shell would for a mouse message on it.
bool clickNotifyIcon(HWND hWnd, UINT id, UINT mouseMessage);

// ---- a thread with a message loop (for tests and simulated programs) ------------------------
// Starts a thread in simulated process pid that runs GetMessage/TranslateMessage/
// DispatchMessage until WM_QUIT. The destructor posts WM_QUIT and joins.
class UiThread {
 public:
  explicit UiThread(DWORD pid = kDefaultProcessId);
  ~UiThread();
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;
  DWORD threadId() const { return tid_; }
  // Runs fn on the thread and waits for it (see runOnThread).
  bool run(const std::function<void()>& fn) { return runOnThread(tid_, fn); }
  template <typename F>
  auto call(F f) -> decltype(f()) {
    decltype(f()) r{};
    run([&] { r = f(); });
    return r;
  }
  bool waitIdle(int timeoutMs = 5000) { return w32subst::waitIdle(tid_, timeoutMs); }
  void stop();  // posts WM_QUIT and joins (idempotent)

 private:
  struct Impl;
  Impl* impl_;
  DWORD tid_ = 0;
};

// Keeps a thread busy in a task, taking no messages, until released: for tests of what other
// threads do meanwhile. The task and the holder share their state, so the task may still run
// after the holder is gone; the destructor releases, so every way out of a test lets the thread
// go, and the task waits at most timeoutMs in any case.
class Hold {
 public:
  explicit Hold(int timeoutMs = 30000);
  ~Hold();  // releases
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  // Queues the holding task behind the thread's posted messages; `then` runs on that thread
  // after the release. False when the thread does not exist or has ended.
  bool post(DWORD threadId, std::function<void()> then = nullptr);
  // Waits until the task holds its thread.
  bool waitHeld(int timeoutMs = 5000) const;
  void release();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// ---- windows --------------------------------------------------------------------------------
// Every live window (top-level and children) of a simulated process, in creation order.
std::vector<HWND> windowsOfProcess(DWORD pid);

}  // namespace w32subst

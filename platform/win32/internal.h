// Internal state of the Win32 stand-in, shared by its .cpp files only.
// All state below is guarded by State::lock (the window manager's one lock) unless noted;
// that lock is never held while user code (procedures, hooks, callbacks) runs.
#pragma once

#include "win32/windows.h"

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace w32subst {
namespace detail {

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

struct ThreadInfo;

// A message sent to another thread (or a task run there), waiting for its answer.
struct SentItem {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<void()> task;  // set: run this instead of delivering a message
  LRESULT result = 0;
  bool done = false;
  bool failed = false;  // the target thread ended first
  ThreadInfo* sender = nullptr;
};

// An entry of a posted or input queue.
struct QueuedMsg {
  MSG msg{};
  uint64_t seq = 0;
  std::function<void()> task;  // set: a task or idle barrier run inside Get/PeekMessage
  bool barrier = false;        // runs only once nothing queued before it is left
  bool keyboard = false;       // input: resolved to the focus window when taken
};

struct TimerRec {
  HWND hwnd;
  UINT_PTR id;
  UINT interval;
  uint64_t due;
  TIMERPROC proc;
};

struct HookRec {
  HHOOK handle;
  int type;
  HOOKPROC proc;
  ThreadInfo* thread;
  bool removed = false;
};

struct HookFrame {  // touched by the owning thread only
  std::vector<HookRec*> chain;
  size_t index;
};

struct ThreadInfo {
  explicit ThreadInfo(ACE_Thread_Mutex& lock) : cond(lock) {}
  DWORD tid = 0;
  DWORD pid = kDefaultProcessId;
  bool alive = true;
  ACE_Condition_Thread_Mutex cond;  // signalled when a queue of this thread changes
  std::deque<std::shared_ptr<SentItem>> sent;
  std::deque<QueuedMsg> posted;
  std::deque<QueuedMsg> input;
  bool quit = false;
  int quitCode = 0;
  HWND focus = nullptr;
  HWND active = nullptr;
  BYTE keys[256] = {};
  std::map<int, std::vector<HookRec*>> chains;  // head first
  std::vector<TimerRec> timers;
  POINT lastPos{0, 0};
  DWORD lastTime = 0;
  std::vector<HookFrame> frames;  // owning thread only, no lock
  int inSend = 0;                 // owning thread only
};

struct ClassRec {
  std::string name;  // registered spelling
  WNDPROC proc = nullptr;
  DWORD pid = 0;  // 0: a system class, seen by every process
  HINSTANCE instance = nullptr;
  UINT style = 0;
  ATOM atom = 0;
  HBRUSH background = nullptr;
};

struct Window {
  HWND handle = nullptr;
  ClassRec* cls = nullptr;
  std::u16string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG_PTR id = 0;
  HWND parent = nullptr;  // the desktop for top-level windows
  HWND owner = nullptr;
  std::vector<HWND> children;  // z-order, top first (creation order)
  ThreadInfo* thread = nullptr;
  DWORD pid = 0;
  WNDPROC proc = nullptr;
  RECT rect{0, 0, 0, 0};  // in the parent's client coordinates (screen for top-level)
  LONG_PTR userData = 0;
  HINSTANCE instance = nullptr;
  std::map<std::string, HANDLE> props;
  LONG_PTR image = 0;  // Button: BM_SETIMAGE
  int check = 0;
  bool pressed = false;
  bool alive = true;
  bool destroying = false;
};

struct State {
  State();
  ACE_Thread_Mutex lock;
  ACE_Condition_Thread_Mutex idleCond;  // signalled when an idle barrier completes
  std::map<uintptr_t, Window*> windows;  // records are kept (dead) so handles never return
  Window* desktop = nullptr;
  std::map<DWORD, ThreadInfo*> threads;
  std::map<std::string, ClassRec*> classes;  // key: pid + ":" + lower-case name
  std::map<uintptr_t, HookRec*> hooks;
  std::map<int, int> failHook;
  DWORD nextTid = 1000;
  ATOM nextAtom = 1;
  uint64_t seq = 0;
  HWND foreground = nullptr;
  HWND capture = nullptr;
  POINT cursor{0, 0};
  bool clipped = false;
  RECT clip{0, 0, 0, 0};
  int screenW = 1920;
  int screenH = 1080;
  BYTE asyncKeys[256] = {};
  std::vector<InputEvent> inputLog;
  std::map<std::string, UINT> atomNames;  // registered messages and clipboard formats
  UINT nextRegistered = 0xC000;
};

State& state();
uintptr_t newHandle();
uint64_t nowMs();
ThreadInfo* self();                         // the calling thread's record (made on first use)
ThreadInfo* newThreadInfo(DWORD pid);       // for CreateThread: made by the creator
void adoptThreadInfo(ThreadInfo* info);     // called first on the new thread
Window* findLocked(HWND h);                 // alive windows only
ThreadInfo* threadLocked(DWORD tid);
ClassRec* findClassLocked(DWORD pid, const std::string& name);
HWND rootLocked(Window* w);
POINT originLocked(Window* w);  // screen position of the client origin
Window* windowFromPointLocked(POINT pt);
bool isChildLocked(HWND parent, HWND h);
void wakeLocked(ThreadInfo* t);
std::string lower(const std::string& s);
UINT registerAtomName(const std::string& name);

// Messages and hooks (message.cpp, hook.cpp).
LRESULT callProc(HWND h, UINT msg, WPARAM w, LPARAM l);
LRESULT deliverSent(HWND h, UINT msg, WPARAM w, LPARAM l, bool fromSameThread);
LRESULT runHooks(int type, int code, WPARAM w, LPARAM l);
void activate(HWND root, int how);  // on root's thread
LRESULT CALLBACK buttonProc(HWND h, UINT msg, WPARAM w, LPARAM l);

// A window's stored text (its caption), as the default procedure keeps it (core.cpp).
bool storedText(HWND h, std::u16string* out);
bool setStoredText(HWND h, const std::u16string& text);

// Text (codepage.cpp).
std::u16string acpToUtf16(const char* s, int len = -1);
std::string utf16ToAcp(const std::u16string& s);
std::u16string utf8ToUtf16(const std::string& s);

}  // namespace detail
}  // namespace w32subst

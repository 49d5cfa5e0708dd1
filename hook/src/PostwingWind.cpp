// Compose-window objects: hooks, requests through the agent, menus, recording and replay.
#include "hook/PostwingWind.h"

#include "DebugLine.h"
#include "HookProcs.h"
#include "hook/PostwingWindRegistry.h"

// The agent (its own sources) is wired in as soon as its header exists.
#if __has_include("hook/PostwingUiAgent.h")
#include "hook/PostwingUiAgent.h"
#define PW_HAVE_AGENT 1
#endif

#include <ace/Guard_T.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> RecursiveGuard;

using pwhook::debugf;

namespace {
const int kAgentPort = 11111;
}  // namespace

PostwingWind::PostwingWind(HWND root, int kind) : root_(root), kind_(kind) {}

PostwingWind::~PostwingWind() {
  for (HBITMAP b : bitmaps_) DeleteObject(b);
#ifdef PW_HAVE_AGENT
  delete ownedAgent_;
#endif
}

int PostwingWind::setHook() { return 0; }

int PostwingWind::installHooks(HOOKPROC cbt, HOOKPROC cwp, const char* className) {
  DWORD tid = GetWindowThreadProcessId(root_, nullptr);
  HINSTANCE mod = PostwingWindRegistry::moduleHandle();
  cbtHook_ = SetWindowsHookExA(WH_CBT, cbt, mod, tid);
  if (!cbtHook_) {
    if (className)
      debugf("%s::setHook. SetWindowsHookEx WH_CBT error:%u", className, (unsigned)GetLastError());
    return -1;
  }
  cwpHook_ = SetWindowsHookExA(WH_CALLWNDPROC, cwp, mod, tid);
  if (!cwpHook_) {
    if (className)
      debugf("%s::setHook. SetWindowsHookEx WH_CALLWNDPROC error:%u", className, (unsigned)GetLastError());
    UnhookWindowsHookEx(cbtHook_);
    cbtHook_ = nullptr;
    return -1;
  }
  return 0;
}

int FoxMail7Wind::setHook() { return installHooks(CBTProc_Foxmail, CallWndProc_Foxmail, "FoxMail7Wind"); }
int FoxMail70Wind::setHook() {
  return installHooks(CBTProc_Foxmail70, CallWndProc_Foxmail70, "FoxMail70Wind");
}
int OutLook03Wind::setHook() { return installHooks(CBTProc_Outlook, CallWndProc_Outlook, nullptr); }

int PostwingWind::unHook() {
  if (cbtHook_) UnhookWindowsHookEx(cbtHook_);
  if (cwpHook_) UnhookWindowsHookEx(cwpHook_);
  cbtHook_ = nullptr;
  cwpHook_ = nullptr;
  return 0;
}

// ---- requests -------------------------------------------------------------------------------

void PostwingWind::attachAgent() {
  RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
  agent_ = PostwingUiAgent::instance();
  agent_->reopen();  // the process's last window may have ended it before
#endif
}

bool PostwingWind::hasAgent() const {
  RecursiveGuard g(agentMutex_);
  return agent_ != nullptr;
}

int PostwingWind::showAddrDialog() {
  RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
  if (!agent_ || agent_->connectUI(kAgentPort, true) != 0) return 0;
  return agent_->showAddrDialog("", "", "", root_);
#else
  return 0;
#endif
}

int PostwingWind::showAttachDialog() {
  RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
  if (!agent_ || agent_->connectUI(kAgentPort, true) != 0) return 0;
  return agent_->showAttachDialog(root_);
#else
  return 0;
#endif
}

int PostwingWind::closeDialog() {
  PostwingUiAgent* owned = nullptr;
  {
    RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
    if (agent_ && agent_->connectUI(kAgentPort, false) == 0) agent_->closeDialog(root_);
#endif
    agent_ = nullptr;
    owned = ownedAgent_;
    ownedAgent_ = nullptr;
  }
  // A private agent goes with its window (the process's agent stays for the next window).
  // Deleting it joins its receive thread here, handling what that thread asks of this one.
#ifdef PW_HAVE_AGENT
  delete owned;
#else
  (void)owned;
#endif
  return 0;
}

void PostwingWind::endProcessAgent() {
#ifdef PW_HAVE_AGENT
  PostwingUiAgent::instance()->shutdown();
#endif
}

void PostwingWind::reopenProcessAgent() {
#ifdef PW_HAVE_AGENT
  PostwingUiAgent::instance()->reopen();
#endif
}

FoxMail70Wind::FoxMail70Wind(HWND root) : PostwingWind(root, KIND_FOXMAIL70), lastAttachClick_(now()) {}

ACE_Time_Value FoxMail70Wind::now() {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return ACE_Time_Value((time_t)(us / 1000000), (suseconds_t)(us % 1000000));
}

ACE_Time_Value FoxMail70Wind::lastAttachClick() const {
  RecursiveGuard g(agentMutex_);
  return lastAttachClick_;
}

void FoxMail70Wind::setLastAttachClick(const ACE_Time_Value& t) {
  RecursiveGuard g(agentMutex_);
  lastAttachClick_ = t;
}

int FoxMail70Wind::showAttachDialog() {
  RecursiveGuard g(agentMutex_);
  ACE_Time_Value t = now();
  if ((t - lastAttachClick_).sec() <= 2) return 0;
  lastAttachClick_ = t;
#ifdef PW_HAVE_AGENT
  if (!agent_) {
    PostwingUiAgent* own = new PostwingUiAgent();
    if (own->connectUI(kAgentPort, true) != 0) {
      delete own;
      return -1;
    }
    ownedAgent_ = agent_ = own;
  } else if (agent_->connectUI(kAgentPort, true) != 0) {
    return -1;
  }
  return agent_->showAttachDialog(root_);
#else
  return -1;
#endif
}

// ---- menus ----------------------------------------------------------------------------------

bool PostwingWind::trackMenu(HWND control, POINT pt) {
  UINT id;
  if (kind_ == 0 || kind_ == 1)
    id = IDR_MENU_FOXMAIL;
  else if (kind_ == 2 || kind_ == 3)
    id = IDR_MENU_OUTLOOK;
  else
    return false;
  HMENU menu = LoadMenuA(PostwingWindRegistry::moduleHandle(), MAKEINTRESOURCEA(id));
  if (!menu) return false;
  TrackPopupMenuEx(GetSubMenu(menu, 0), TPM_NOANIMATION | TPM_RIGHTBUTTON, pt.x, pt.y, control, nullptr);
  DestroyMenu(menu);  // the pick is already posted to the owner
  return true;
}

namespace {

void logPosition(POINT pt, const RECT& r) {
  debugf("pt.x=%d,pt.y=%d, rect.left=%d,rect.right=%d,rect.bottom=%d,rect.top=%d", (int)pt.x, (int)pt.y,
         (int)r.left, (int)r.right, (int)r.bottom, (int)r.top);
}
}  // namespace

bool PostwingWind::showMenu(HWND control) {
  if (kind_ < 0 || kind_ > 3) return false;
  POINT pt = messagePos();
  logPosition(pt, screenClientRect(control));
  return trackMenu(control, pt);
}

bool PostwingWind::showEditMenu(HWND) { return true; }

bool FoxMail7Wind::showMenu(HWND control) {
  POINT pt = messagePos();
  RECT r = screenClientRect(control);
  logPosition(pt, r);
  if (pt.x - r.left >= 58) return false;
  return trackMenu(control, pt);
}

bool FoxMail7Wind::showEditMenu(HWND control) {
  POINT pt{0, 0};
  GetCursorPos(&pt);
  debugf("FoxMail7Wind::showEditMenu. pt1.x=%d,pt1.y=%d", (int)pt.x, (int)pt.y);
  return trackMenu(control, pt);
}

// ---- procedures, recording and replay -------------------------------------------------------

void PostwingWind::restoreWndProc() {
  RecursiveGuard g(listMutex_);
  if (container_ && containerPrevProc_) {
    SetWindowLongPtrA(container_, GWLP_WNDPROC, (LONG_PTR)containerPrevProc_);
    containerPrevProc_ = nullptr;
  }
}

void FoxMail7Wind::restoreWndProc() {
  {
    RecursiveGuard g(listMutex_);
    struct Slot {
      HWND edit;
      WNDPROC* prev;
      const char* line;
    } slots[] = {{to_, &toPrevProc_, "WindowOldWndProc_TO. WM_DESTROY"},
                 {cc_, &ccPrevProc_, "WindowOldWndProc_CC. WM_DESTROY"},
                 {bcc_, &bccPrevProc_, "WindowOldWndProc_BCC. WM_DESTROY"}};
    for (Slot& s : slots) {
      if (!s.edit || !*s.prev) continue;
      OutputDebugStringA(s.line);
      SetWindowLongPtrA(s.edit, GWLP_WNDPROC, (LONG_PTR)*s.prev);
      *s.prev = nullptr;
    }
  }
  PostwingWind::restoreWndProc();
}

void PostwingWind::recordMessage(UINT msg, HWND hwnd, WPARAM wParam, LPARAM lParam) {
  RecursiveGuard g(listMutex_);
  for (RecordedMessage& m : messages_) {
    if (m.msg == msg) {
      m.hwnd = hwnd;
      m.wParam = wParam;
      m.lParam = lParam;
      return;
    }
  }
  messages_.push_back(RecordedMessage{msg, hwnd, wParam, lParam});
}

void PostwingWind::sendMessageByParam(WNDPROC prev) {
  if (!prev) return;
  RecursiveGuard g(listMutex_);
  // Taken out first: the mail client's procedure may come back here.
  std::vector<RecordedMessage> replay;
  replay.swap(messages_);
  for (const RecordedMessage& m : replay) {
    debugf("sendMessageByParam msgType=%d, hwnd=%ld, WParam=%ld, LParam=%ld", (int)m.msg, (long)(intptr_t)m.hwnd,
           (long)m.wParam, (long)m.lParam);
    CallWindowProcA(prev, m.hwnd, m.msg, m.wParam, m.lParam);
  }
}

std::vector<PostwingWind::RecordedMessage> PostwingWind::recordedMessages() const {
  RecursiveGuard g(listMutex_);
  return messages_;
}

void PostwingWind::addChild(HWND child) {
  ACE_Guard<ACE_Thread_Mutex> g(childrenMutex_);
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
}

bool PostwingWind::hasChild(HWND child) const {
  ACE_Guard<ACE_Thread_Mutex> g(childrenMutex_);
  return std::find(children_.begin(), children_.end(), child) != children_.end();
}

PostwingWind::Controls PostwingWind::controls() const {
  RecursiveGuard g(listMutex_);
  return Controls{container_, to_, cc_, bcc_, editor_, button1_, button2_,
                  containerPrevProc_, toPrevProc_, ccPrevProc_, bccPrevProc_};
}

void PostwingWind::keepBitmap(HBITMAP bitmap) {
  RecursiveGuard g(listMutex_);
  if (bitmap) bitmaps_.push_back(bitmap);
}

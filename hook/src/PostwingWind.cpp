// Compose-window objects: hooks, known children, agent.
#include "hook/PostwingWind.h"

#include "HookProcs.h"
#include "hook/PostwingWindRegistry.h"

// The agent (its own sources) is wired in as soon as its header exists.
#if __has_include("hook/PostwingUiAgent.h")
#include "hook/PostwingUiAgent.h"
#define PW_HAVE_AGENT 1
#elif __has_include("PostwingUiAgent.h")
#include "PostwingUiAgent.h"
#define PW_HAVE_AGENT 1
#endif

#include <ace/Guard_T.h>

#include <algorithm>
#include <cstdio>

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> RecursiveGuard;

PostwingWind::PostwingWind(HWND root, int kind) : root_(root), kind_(kind) {}

PostwingWind::~PostwingWind() {}

int PostwingWind::setHook() { return 0; }

int PostwingWind::installHooks(HOOKPROC cbt, HOOKPROC cwp, const char* className) {
  DWORD tid = GetWindowThreadProcessId(root_, nullptr);
  HINSTANCE mod = PostwingWindRegistry::moduleHandle();
  char line[160];
  cbtHook_ = SetWindowsHookExA(WH_CBT, cbt, mod, tid);
  if (!cbtHook_) {
    if (className) {
      std::snprintf(line, sizeof(line), "%s::setHook. SetWindowsHookEx WH_CBT error:%u", className,
                    (unsigned)GetLastError());
      OutputDebugStringA(line);
    }
    return -1;
  }
  cwpHook_ = SetWindowsHookExA(WH_CALLWNDPROC, cwp, mod, tid);
  if (!cwpHook_) {
    if (className) {
      std::snprintf(line, sizeof(line), "%s::setHook. SetWindowsHookEx WH_CALLWNDPROC error:%u",
                    className, (unsigned)GetLastError());
      OutputDebugStringA(line);
    }
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

int PostwingWind::fillTo(const std::string& list) {
  if (!to_) return -1;
  typeIntoEdit(list, this, to_);
  return 0;
}

int PostwingWind::fillCc(const std::string& list) {
  if (!cc_) return -1;
  typeIntoEdit(list, this, cc_);
  return 0;
}

int PostwingWind::fillBcc(const std::string& list) {
  if (!bcc_) return -1;
  typeIntoEdit(list, this, bcc_);
  return 0;
}

void PostwingWind::attachAgent() {
  RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
  agent_ = PostwingUiAgent::instance();
#endif
}

int PostwingWind::closeDialog() {
  RecursiveGuard g(agentMutex_);
#ifdef PW_HAVE_AGENT
  if (agent_) {
    if (agent_->connectUI(11111, false) == 0) agent_->closeDialog(root_);
  }
#endif
  agent_ = nullptr;
  return 0;
}

void PostwingWind::restoreWndProc() {
  if (container_ && containerPrevProc_)
    SetWindowLongPtrA(container_, GWLP_WNDPROC, (LONG_PTR)containerPrevProc_);
}

void PostwingWind::addChild(HWND child) {
  RecursiveGuard g(listMutex_);
  if (std::find(children_.begin(), children_.end(), child) == children_.end())
    children_.push_back(child);
}

bool PostwingWind::hasChild(HWND child) const {
  RecursiveGuard g(listMutex_);
  return std::find(children_.begin(), children_.end(), child) != children_.end();
}

void typeIntoEdit(const std::string& list, PostwingWind* wind, HWND control) {
  if (GetWindowTextLengthA(control) > 2048) return;
  std::u16string units;
  int n = MultiByteToWideChar(CP_ACP, 0, list.c_str(), (int)list.size(), nullptr, 0);
  if (n > 0) {
    units.resize((size_t)n);
    MultiByteToWideChar(CP_ACP, 0, list.c_str(), (int)list.size(), &units[0], n);
  }
  units.push_back(u';');
  if (units.size() > 2047) {  // the control takes at most 2047 units at once
    OutputDebugStringA("typeIntoEdit. list too long");
    return;
  }
  for (char16_t u : units) PostMessageW(control, WM_IME_CHAR, (WPARAM)(uint16_t)u, 0);
  PostMessageA(wind->root(), WM_PAINT, 0, 0);
}

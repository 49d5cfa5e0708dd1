// The per-process window registry and the polling loop of the desktop process.
#include "hook/PostwingWindRegistry.h"

#include "DebugLine.h"

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Guard_T.h>
#include <ace/OS_NS_sys_time.h>

#include <cstdio>
#include <vector>

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> RecursiveGuard;
using pwhook::debugf;

BOOL CALLBACK discoverComposeWindow(HWND hWnd, LPARAM lParam);  // HookEntry.cpp

namespace {
std::atomic<int> g_pollPeriodMs{500};
std::atomic<uint64_t> g_pollRounds{0};

// Wakes the polling loop when it is stopped. Guarded by pollLock().
ACE_Thread_Mutex& pollLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
ACE_Condition_Thread_Mutex& pollCond() {
  static ACE_Condition_Thread_Mutex* c = new ACE_Condition_Thread_Mutex(pollLock());
  return *c;
}
}  // namespace

PostwingWindRegistry::PostwingWindRegistry() {}

PostwingWindRegistry& PostwingWindRegistry::instance() {
  return w32subst::ProcessLocal<PostwingWindRegistry>::get();
}

HINSTANCE PostwingWindRegistry::moduleHandle() { return w32subst::registerModule("PostwingHook"); }

void PostwingWindRegistry::setPollPeriodMs(int ms) { g_pollPeriodMs = ms > 0 ? ms : 500; }
int PostwingWindRegistry::pollPeriodMs() { return g_pollPeriodMs; }
uint64_t PostwingWindRegistry::pollRounds() { return g_pollRounds; }

int PostwingWindRegistry::addWind(const std::shared_ptr<PostwingWind>& wind, bool withAgent) {
  RecursiveGuard g(mutex_);
  long root = (long)(uintptr_t)wind->root();
  if (winds_.count(root)) {
    debugf("addWind Error. hRoot=%ld,winds size=%d.", root, (int)winds_.size());
    return -1;
  }
  if (withAgent) {
    wind->attachAgent();
    agentUsed_ = true;
  }
  winds_[root] = wind;
  debugf("addWind Success. hRoot=%ld,winds size=%d.", root, (int)winds_.size());
  return 0;
}

int PostwingWindRegistry::removeWind(long root) {
  std::shared_ptr<PostwingWind> wind;
  {
    RecursiveGuard g(mutex_);
    auto it = winds_.find(root);
    if (it == winds_.end()) return 0;
    wind = it->second;
    winds_.erase(it);
    closing_++;
    debugf("removeWind. hRoot=%ld,winds size=%d", root, (int)winds_.size());
  }
  wind->closeDialog();
  wind->restoreWndProc();
  wind->unHook();
  bool last;
  {
    // "Last" counts the closes still running on other threads too: a close that uses the
    // process's agent must be over before the agent ends.
    RecursiveGuard g(mutex_);
    closing_--;
    last = winds_.empty() && closing_ == 0 && agentUsed_;
    if (last) agentUsed_ = false;
  }
  if (last) {
    PostwingWind::endProcessAgent();
    // A window that took the agent while it was ending must still be able to say it closed.
    RecursiveGuard g(mutex_);
    if (agentUsed_) PostwingWind::reopenProcessAgent();
  }
  return 0;
}

std::shared_ptr<PostwingWind> PostwingWindRegistry::find(long root) const {
  RecursiveGuard g(mutex_);
  auto it = winds_.find(root);
  return it == winds_.end() ? nullptr : it->second;
}

std::shared_ptr<PostwingWind> PostwingWindRegistry::findByChild(HWND window) const {
  // The objects are asked after the registry's mutex is released: a UI thread may hold an
  // object's list mutex while the mail client's procedure it calls comes back here.
  std::vector<std::shared_ptr<PostwingWind>> winds;
  {
    RecursiveGuard g(mutex_);
    winds.reserve(winds_.size());
    for (auto& kv : winds_) winds.push_back(kv.second);
  }
  for (auto& wind : winds)
    if (wind->root() == window || wind->hasChild(window)) return wind;
  return nullptr;
}

long PostwingWindRegistry::findRoot(HWND window) const {
  auto wind = findByChild(window);
  return wind ? (long)(uintptr_t)wind->root() : 0;
}

int PostwingWindRegistry::deliverAddresses(long root, const std::string& to,
                                           const std::string& cc, const std::string& bcc) {
  auto wind = find(root);
  if (!wind) return -1;
  if (!to.empty()) wind->fillTo(to);
  if (!cc.empty()) wind->fillCc(cc);
  if (!bcc.empty()) wind->fillBcc(bcc);
  return 0;
}

int PostwingWindRegistry::size() const {
  RecursiveGuard g(mutex_);
  return (int)winds_.size();
}

void PostwingWindRegistry::dropDeadRoots() {
  std::vector<long> dead;
  {
    RecursiveGuard g(mutex_);
    for (auto& kv : winds_)
      if (!IsWindow(kv.second->root())) dead.push_back(kv.first);
  }
  for (long root : dead) removeWind(root);
}

int PostwingWindRegistry::runPoll() {
  OutputDebugStringA("startHook");
  running_ = true;
  HWND desktop = GetDesktopWindow();
  while (running_) {
    dropDeadRoots();
    EnumChildWindows(desktop, discoverComposeWindow, 0);
    g_pollRounds++;
    ACE_Guard<ACE_Thread_Mutex> g(pollLock());
    ACE_Time_Value period;
    period.msec((long)g_pollPeriodMs.load());
    ACE_Time_Value until = ACE_OS::gettimeofday() + period;
    while (running_ && ACE_OS::gettimeofday() < until) pollCond().wait(&until);
  }
  return 0;
}

void PostwingWindRegistry::stopPoll() {
  ACE_Guard<ACE_Thread_Mutex> g(pollLock());
  running_ = false;
  pollCond().broadcast();
}

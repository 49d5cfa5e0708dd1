// The per-process registry of compose-window objects, keyed by the compose window's root
// handle. It exists in the desktop process (objects made by the poll, which own the hooks) and
// in each mail-client process (objects made by the hook procedures).
#pragma once

#include "hook/PostwingWind.h"

#include <ace/Recursive_Thread_Mutex.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

class PostwingWindRegistry {
 public:
  // The registry of the calling (simulated) process, made on first use, never destroyed.
  static PostwingWindRegistry& instance();
  // The library's module handle (hmod of its hooks, source of its resources).
  static HINSTANCE moduleHandle();

  // Objects are shared: the map owns them, and a caller that looked one up keeps it alive
  // until it is done, even when the window is removed meanwhile. Every operation is callable
  // from any thread and takes mutex_ for its map work only; none calls into an object while
  // holding it except addWind (the new object's agent, which never waits for a request of
  // another window). findRoot/findByChild take the objects out under mutex_ and ask them for
  // their known children without it.

  // 0, or -1 when an object for the same root is registered already (the new one is not kept).
  int addWind(const std::shared_ptr<PostwingWind>& wind, bool withAgent);
  // Erases the root's object, then closes its dialog, restores its procedures and unhooks.
  // When that was the last object of a process whose objects used the process's agent, and no
  // other removal of the process is still closing, the agent is ended too: once the hooks are
  // gone no thread of the library is left.
  int removeWind(long root);
  std::shared_ptr<PostwingWind> find(long root) const;
  // The root of the first object (in root order) whose root is the window or whose known
  // children include it; 0 when none.
  long findRoot(HWND window) const;
  std::shared_ptr<PostwingWind> findByChild(HWND window) const;
  // -1 when no object has that root; else 0 after handing each non-empty list to
  // fillTo, fillCc, fillBcc in that order, outside the registry's mutex.
  int deliverAddresses(long root, const std::string& to, const std::string& cc,
                       const std::string& bcc);
  int size() const;

  // The polling loop (desktop process).
  int runPoll();
  void stopPoll();
  // Objects whose root is no longer a window are removed (their compose window went away
  // without a "mailWindowsClosed").
  void dropDeadRoots();

  // Test seam: the polling period (500 ms unless changed). Any thread.
  static void setPollPeriodMs(int ms);
  static int pollPeriodMs();
  // Test seam: how many polling rounds (of any process) have ended so far.
  static uint64_t pollRounds();

  PostwingWindRegistry();  // use instance()

 private:
  mutable ACE_Recursive_Thread_Mutex mutex_;                 // guards winds_
  std::map<long, std::shared_ptr<PostwingWind>> winds_;       // guarded by mutex_
  int closing_ = 0;                                           // guarded by mutex_: removals still closing
  bool agentUsed_ = false;                                    // guarded by mutex_
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> stopGeneration_{0};
};

// The single sign-on worker pool: N worker threads (SSO/ssoTaskNumber,
// clamped to 1..64), each with its own queue. A command goes to the worker
// chosen by the hash of its key, so the commands of one user run one after
// another in put order; commands with an empty key go round robin.
//
// Thread rule: any thread may call open, put, close and selectWorker; close
// must not be called from a worker (it joins them). Handlers run on workers
// and may call put (it returns -1 once the pool is closing).
#pragma once

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <vector>

class SsoCommand;

class SsoTask {
 public:
  // The pool, created (closed) on first use. Reads SSO/ssoTaskNumber then.
  static SsoTask* instance();
  // Closes and deletes the pool; the next instance() makes a new one (closed).
  // Not from a worker.
  static void destroy();

  virtual ~SsoTask();

  // Starts the workers. 0 when open (or already open); -1 when a worker could
  // not be started: those already started are stopped and joined again, and
  // the pool stays closed.
  int open();
  // Queues the command on its worker; the worker runs execute() and then
  // release(). Success: what putq gives (the queue's length, >= 0). -1 when
  // the pool is not open or the command is null; the command then still
  // belongs to the caller.
  int put(SsoCommand* command);
  // Stops every worker after the commands already queued on it, and joins
  // them. 0; also when not open.
  int close();

  // The worker index for the command: h = h * 65599 + (signed byte) over the
  // key, modulo N; an empty key advances the round-robin counter (first 1).
  // -1 for a null command.
  int selectWorker(SsoCommand* command);

  int workerCount() const { return taskNumber_; }
  bool isOpen() const { return open_.load(); }

  // Tests only: make the activation of worker `index` (0-based) fail on
  // every later open; -1 restores normal starts.
  static void failActivationForTest(int index);

 private:
  class SsoTask_impl;

  SsoTask();
  SsoTask(const SsoTask&) = delete;
  SsoTask& operator=(const SsoTask&) = delete;
  static void stopWorkers(std::vector<SsoTask_impl*>& workers);
  int selectWorker_i(SsoCommand* command);  // innerMutex_ held

  static std::atomic<SsoTask*> instance_;  // written under instanceMutex_
  static ACE_Thread_Mutex instanceMutex_;
  static std::atomic<int> failActivationAt_;

  ACE_Thread_Mutex outerMutex_;  // serialises open and close
  ACE_Thread_Mutex innerMutex_;  // guards workers_, counter_; open_ written under it
  int taskNumber_;               // fixed at construction
  std::atomic<bool> open_;
  unsigned int counter_;                 // guarded by innerMutex_
  std::vector<SsoTask_impl*> workers_;   // guarded by innerMutex_
};

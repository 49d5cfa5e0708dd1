// The two threads of the local server: the reactor thread (PW_ServerTask) and the thread that
// sits in the hook library's compose-window poll (PW_HookManager). Both are process-wide and
// can be started again after a stop.
//
// Thread rules: start/stop from one controlling thread at a time (the main thread; tests);
// reactor() from any thread.
#pragma once

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>

class ACE_Reactor;

class PW_ServerTask : public ACE_Task<ACE_MT_SYNCH> {
 public:
  static PW_ServerTask* instance();

  // Starts the thread that runs the reactor's event loop; 0 once it runs, -1 when the thread
  // cannot be started. 0 at once when it runs already.
  int start();
  // Ends the event loop and waits for the thread. Nothing when it does not run.
  int stop();
  bool running() const;
  // The reactor (epoll), made with the task, kept for the life of the process. Making it
  // raises the process's descriptor limit as far as the system allows.
  ACE_Reactor* reactor() const { return reactor_; }

  int svc() override;

  PW_ServerTask();  // use instance()

 private:
  ACE_Reactor* reactor_;
  mutable ACE_Thread_Mutex mutex_;   // guards started_
  ACE_Condition_Thread_Mutex cond_;  // signals started_
  bool started_ = false;
};

class PW_HookManager : public ACE_Task<ACE_MT_SYNCH> {
 public:
  static PW_HookManager* instance();

  // Starts the thread that calls the hook library's startHook; 0, or -1 (logged) when the
  // thread cannot be started. 0 at once when it runs already.
  int start();
  int open(void* args = 0) override;
  // stopHook until startHook has returned, then waits for the thread.
  int stop();
  bool running() const;

  int svc() override;

  PW_HookManager();  // use instance()

 private:
  mutable ACE_Thread_Mutex mutex_;   // guards running_, done_
  ACE_Condition_Thread_Mutex cond_;  // signals done_
  bool running_ = false;
  bool done_ = true;
};

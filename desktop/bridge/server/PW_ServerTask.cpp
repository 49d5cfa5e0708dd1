#include "bridge/PW_ServerTask.h"

#include "hook/PostwingHook.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <ace/Dev_Poll_Reactor.h>
#include <ace/Guard_T.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/Reactor.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

namespace {

// Most descriptors the reactor's table holds (its size is allocated up front).
const rlim_t kReactorHandleLimit = 65536;

// Raises the process's descriptor limit as far as the system allows (the hard limit, or the
// kernel's per-process maximum when the hard limit is unlimited), so that the local server
// keeps accepting agents while thousands of local connections are open. The limit in force.
rlim_t raiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= limit.rlim_max) return limit.rlim_cur;
  rlimit wanted = limit;
  wanted.rlim_cur = limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &wanted) == 0) return wanted.rlim_cur;
  unsigned long kernelMax = 0;
  if (FILE* f = std::fopen("/proc/sys/fs/nr_open", "r")) {
    if (std::fscanf(f, "%lu", &kernelMax) != 1) kernelMax = 0;
    std::fclose(f);
  }
  if (kernelMax > limit.rlim_cur) {
    wanted.rlim_cur = std::min<rlim_t>(kernelMax, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &wanted) == 0) return wanted.rlim_cur;
  }
  return limit.rlim_cur;
}

// An epoll reactor: unlike select() it has no limit of 1024 descriptors, and idle
// connections cost nothing while it waits.
ACE_Reactor* makeReactor() {
  const rlim_t limit = raiseDescriptorLimit();
  const size_t size = size_t(std::min(limit == RLIM_INFINITY ? kReactorHandleLimit : limit, kReactorHandleLimit));
  IM_LOG_INFO("PW_ServerTask, [descriptor limit = %lu, reactor size = %lu]", (unsigned long)limit,
              (unsigned long)size);
  return new ACE_Reactor(new ACE_Dev_Poll_Reactor(size), true);
}

}  // namespace

// ---- PW_ServerTask ------------------------------------------------------------------------

PW_ServerTask* PW_ServerTask::instance() {
  // Never destroyed: connections and the reactor may still be in use while the process ends.
  static PW_ServerTask* task = new PW_ServerTask();
  return task;
}

PW_ServerTask::PW_ServerTask() : reactor_(makeReactor()), cond_(mutex_) {}

int PW_ServerTask::start() {
  IM_TRACE("PW_ServerTask::start");
  {
    Guard g(mutex_);
    if (started_) return 0;
  }
  reactor_->reset_reactor_event_loop();
  if (activate(THR_NEW_LWP | THR_JOINABLE, 1) == -1) return -1;
  Guard g(mutex_);
  while (!started_) cond_.wait();
  return 0;
}

int PW_ServerTask::svc() {
  {
    Guard g(mutex_);
    started_ = true;
    cond_.broadcast();
  }
  reactor_->owner(ACE_Thread::self());
  return reactor_->run_reactor_event_loop();
}

int PW_ServerTask::stop() {
  IM_TRACE("PW_ServerTask::stop");
  {
    Guard g(mutex_);
    if (!started_) return 0;
  }
  reactor_->end_reactor_event_loop();
  wait();
  Guard g(mutex_);
  started_ = false;
  return 0;
}

bool PW_ServerTask::running() const {
  Guard g(mutex_);
  return started_;
}

// ---- PW_HookManager -----------------------------------------------------------------------

PW_HookManager* PW_HookManager::instance() {
  static PW_HookManager* manager = new PW_HookManager();
  return manager;
}

PW_HookManager::PW_HookManager() : cond_(mutex_) {}

int PW_HookManager::start() { return open(); }

int PW_HookManager::open(void*) {
  IM_TRACE("PW_HookManager::open");
  Guard g(mutex_);
  if (!done_) return 0;  // the thread runs
  done_ = false;
  if (activate(THR_NEW_LWP | THR_JOINABLE, 1) == -1) {
    done_ = true;
    IM_LOG_INFO("PW_HookManager, [status = Start failed]");
    return -1;
  }
  return 0;
}

int PW_HookManager::svc() {
  {
    Guard g(mutex_);
    running_ = true;
  }
  startHook();
  Guard g(mutex_);
  running_ = false;
  done_ = true;
  cond_.broadcast();
  return 0;
}

int PW_HookManager::stop() {
  IM_TRACE("PW_HookManager::stop");
  {
    Guard g(mutex_);
    // startHook sets its own running flag when it begins, so a stopHook that comes before
    // that is lost: repeat it until the poll has returned.
    while (!done_) {
      stopHook();
      ACE_Time_Value until = ACE_OS::gettimeofday() + ACE_Time_Value(0, 20 * 1000);
      cond_.wait(&until);
    }
    running_ = false;
  }
  wait();
  return 0;
}

bool PW_HookManager::running() const {
  Guard g(mutex_);
  return running_;
}

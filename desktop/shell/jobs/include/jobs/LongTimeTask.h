// The process-wide job runner. Two dispatcher threads take posted jobs from
// the task's queue, in posting order, and start each on a detached job thread
// of its own; at most ten job threads run at once and further jobs wait, in
// posting order, for the first job thread that becomes free. The runner keeps
// a registry of the live jobs by identifier so that a caller who kept only an
// identifier can cancel a job or detach an observer from it.
//
// Lock order: dispatchLock_ -> stateLock_. registryLock_ and each job's lock
// are leaves: the runner calls into a job under none of its locks (cancelJob
// and removeJobObserver pin the job in the registry, drop the lock and then
// call it) except isCancelled, which a dispatcher asks under dispatchLock_, a
// lock only dispatchers take; and a job never calls its observers under its
// lock. So an observer may call cancelJob or removeJobObserver, and cancelJob
// may run while the job notifies, without a deadlock. Observers must not wait
// for the end of a job they are being notified by.
#pragma once

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Message_Block.h>
#include <ace/Task.h>
#include <ace/Thread_Manager.h>
#include <ace/Thread_Mutex.h>
#include <ace/UUID.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "corvane/Sptr.h"
#include "jobs/LongTimeJob.h"

class LongTimeTask : public ACE_Task<ACE_MT_SYNCH> {
 public:
  // One queue element: a block without data that carries a job. Destroying
  // the block never deletes the job.
  class LongTimeData : public ACE_Message_Block {
   public:
    explicit LongTimeData(LongTimeJob* job);
    ~LongTimeData() override;
    LongTimeJob* job() const { return job_; }

   private:
    LongTimeJob* job_;
  };

  // The runner, created (not started) by the first call. Any thread. It is
  // never destroyed behind running jobs: call shutdown to end it in order.
  static LongTimeTask* instance();
  // The process-wide stop marker: a dispatcher that takes it ends. Never freed.
  static ACE_Message_Block* hangupBlock();

  // Starts the two dispatcher threads unless dispatchers are running already.
  // 0, or -1 when the threads cannot be started (jobs stay queued). Any thread.
  int open(void* args = 0) override;
  // The dispatcher loop. Dispatcher threads only.
  int svc() override;

  // Queues a job; from then on the runner owns it, and cancelJob may call it
  // (a cancelJob that came before is applied here, on the caller's thread).
  // -1 for a null job or when the queue refuses it (the job then stays with
  // the caller, and no caller is inside it when this returns), else 0.
  // Any thread.
  int postJob(LongTimeJob* job);
  // Calls cancel on the registered job of that identifier; for a job not
  // posted yet the cancel is kept and applied by postJob; an unknown
  // identifier does nothing. Any thread, also from inside an observer.
  void cancelJob(const std::string& id);
  // removeObserver on the registered job of that identifier; -1 for an
  // unknown identifier. Any thread, also from inside an observer.
  int removeJobObserver(const std::string& id, Sptr<LongTimeJobObserver> observer);

  // Registry. Any thread.
  int registerJob(LongTimeJob* job);  // -1 when the identifier is taken
  // The registered job or null. The pointer is only safe to use while the
  // caller otherwise knows the job lives (a job thread asking for its own).
  LongTimeJob* findJob(const std::string& id);
  void unregisterJob(const std::string& id);
  // "<UUID text>-<counter>", the counter counting identifiers from 1.
  std::string newJobId();

  // Ends the runner in order: no job starts any more, every registered job is
  // cancelled, the dispatchers stop, queued and waiting jobs are deleted
  // unrun, and the call waits until no job thread runs. With a
  // time-out, gives up waiting for running jobs after it and returns -1 (they
  // are left alone, never deleted under their thread); else 0. open may start
  // the runner again afterwards. Any thread but a dispatcher, a job thread or
  // an observer.
  int shutdown(const ACE_Time_Value* timeout = 0);

  // Job threads alive, and jobs waiting for one. Any thread.
  unsigned runningCount();
  size_t waitingCount();

  static const unsigned kJobThreadLimit = 10;

 private:
  friend class LongTimeJob;
  template <class, class> friend class ACE_Singleton;
  template <class, class> friend class ACE_Unmanaged_Singleton;
  LongTimeTask();
  ~LongTimeTask() override;

  static ACE_THR_FUNC_RETURN jobThreadEntry(void* job);
  // Runs a job, then every job it finds waiting; gives up the job thread's
  // place when the waiting list is empty.
  void jobThreadProc(LongTimeJob* job);
  // Unregisters the job, waits until no caller is inside it, deletes it.
  void retireJob(LongTimeJob* job);
  // Removes the job's registry entry (if it still maps to the job) and waits
  // until no caller is inside it. Called by the job's destructor too.
  void forgetJob(LongTimeJob* job);
  // Pins a registered job: it is not deleted before release. Null if unknown,
  // and, when cancelling, for a job not posted (whose cancel is then kept).
  LongTimeJob* borrowJob(const std::string& id, bool cancelling);
  void releaseJob(LongTimeJob* job);
  void cancelRegisteredJobs();
  // Joins every dispatcher thread of the last start and forgets them. Under
  // openLock_.
  void joinDispatchers();

  ACE_Thread_Manager threads_;  // dispatchers and job threads
  bool running_;                // a dispatcher runs; guarded by stateLock_
  bool stopping_;               // shutdown runs: nothing starts; stateLock_

  ACE_Thread_Mutex idLock_;              // guards generator_, jobCounter_
  ACE_Utils::UUID_Generator generator_;
  long jobCounter_;

  ACE_Thread_Mutex registryLock_;                 // guards registry_ and each
  ACE_Condition_Thread_Mutex registryIdle_;       // job's registryUsers_
  std::map<std::string, LongTimeJob*> registry_;

  // Dispatchers take a block and decide on it one at a time, so jobs are
  // started or put waiting in the order they were queued.
  ACE_Thread_Mutex dispatchLock_;

  ACE_Thread_Mutex stateLock_;            // guards runningJobs_, waiting_,
  ACE_Condition_Thread_Mutex jobsDone_;   // running_, stopping_; signalled at 0
  unsigned runningJobs_;                  // job threads alive
  const unsigned maxJobs_;                // kJobThreadLimit
  std::deque<LongTimeJob*> waiting_;      // first in, first out

  ACE_Thread_Mutex openLock_;  // serialises open and shutdown
  static const int kDispatchers = 2;
  std::vector<ACE_thread_t> dispatchers_;  // of the last start; openLock_
};

// A long piece of work that runs on the job runner (LongTimeTask), and the
// observer interface through which a job reports progress and its end.
#pragma once

#include <ace/Thread_Mutex.h>

#include <list>
#include <string>

#include "corvane/Sptr.h"

class LongTimeJob;

// Told of a job's progress and end. onNotify runs on the thread that notifies:
// the job's own thread, or the thread that cancels the job when its cancel
// notifies. It may call back into the runner (removeJobObserver, cancelJob)
// and into the job (addObserver, removeObserver): no lock of the job or the
// runner is held while it runs.
class LongTimeJobObserver {
 public:
  virtual ~LongTimeJobObserver() {}
  virtual void onNotify(LongTimeJob* job) = 0;
};

class LongTimeJob {
 public:
  // Takes a new identifier from the runner, sets mode 1 and registers the job.
  // Until the job is posted, the runner never calls into it: a cancelJob
  // meanwhile is kept and applied when it is posted (the job is whole then),
  // so neither a half-built job nor one its creator is deleting is called.
  // Any thread.
  LongTimeJob();
  // Unregisters the job (waiting for callers that are inside cancelJob or
  // removeJobObserver for this job) and drops the observers. Once posted, a
  // job is deleted by the runner only, which unregisters it before deleting
  // it; a job that was never posted, or whose post was refused, is deleted by
  // its creator.
  virtual ~LongTimeJob();

  // Does the whole work; called at most once, on the thread that runs the job.
  virtual int execute() = 0;
  // Asks the job to stop. Any thread, before or during execute.
  virtual void cancel() = 0;
  // True once cancel was called. Any thread.
  virtual bool isCancelled() = 0;

  // Appends an observer (the same observer may stand twice). -1 for an empty
  // pointer, else 0. Any thread.
  int addObserver(Sptr<LongTimeJobObserver> observer);
  // Removes every entry that points at the observer's object. -1 for an empty
  // pointer, else 0. Any thread, including from inside onNotify.
  int removeObserver(Sptr<LongTimeJobObserver> observer);
  // Calls onNotify(this) on each observer in list order, on the calling
  // thread. The walk goes over a copy of the list taken at the start, without
  // the job lock held; an entry removed before its turn is skipped, so an
  // observer may remove itself (or another) during the walk.
  void notifyObservers();
  // A copy of the identifier, never empty. Any thread.
  std::string getJobId() const;

  // 1: runs on a job thread of its own; 0: runs on the dispatcher thread that
  // takes it; any other value: discarded unrun. Set before the job is posted.
  int mode;

 private:
  LongTimeJob(const LongTimeJob&) = delete;
  LongTimeJob& operator=(const LongTimeJob&) = delete;
  friend class LongTimeTask;

  ACE_Thread_Mutex lock_;                           // guards observers_
  std::list<Sptr<LongTimeJobObserver>> observers_;  // in notification order
  const std::string jobId_;                         // set at construction
  // Guarded by the runner's registry lock:
  int registryUsers_;     // callers inside cancelJob/removeJobObserver for it
  bool posted_;           // handed to the runner: it may be called
  bool cancelRequested_;  // a cancelJob came before the post
};

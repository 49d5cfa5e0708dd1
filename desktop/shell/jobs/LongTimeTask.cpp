#include "jobs/LongTimeTask.h"

#include <ace/Guard_T.h>
#include <ace/Singleton.h>

#include <cstdio>
#include <vector>

#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

typedef ACE_Unmanaged_Singleton<LongTimeTask, ACE_Thread_Mutex> LongTimeTaskSingleton;
typedef ACE_Unmanaged_Singleton<ACE_Message_Block, ACE_Thread_Mutex> HangupBlockSingleton;

LongTimeTask::LongTimeData::LongTimeData(LongTimeJob* job)
    : ACE_Message_Block(static_cast<ACE_Allocator*>(0)), job_(job) {}

LongTimeTask::LongTimeData::~LongTimeData() {}

LongTimeTask* LongTimeTask::instance() { return LongTimeTaskSingleton::instance(); }

ACE_Message_Block* LongTimeTask::hangupBlock() { return HangupBlockSingleton::instance(); }

LongTimeTask::LongTimeTask()
    : running_(false),
      stopping_(false),
      jobCounter_(0),
      registryIdle_(registryLock_),
      jobsDone_(stateLock_),
      runningJobs_(0),
      maxJobs_(kJobThreadLimit) {
  this->thr_mgr(&threads_);
  generator_.init();
}

LongTimeTask::~LongTimeTask() {
  // Reached only when the runner is destroyed on purpose: end in order, and
  // leave jobs that still run alone rather than delete them under their thread.
  ACE_Time_Value grace(5);
  shutdown(&grace);
}

int LongTimeTask::open(void*) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, openGuard, openLock_, -1);
  if (this->thr_count() > 0) return 0;
  joinDispatchers();  // ended ones of an earlier start (a stray stop marker)
  ACE_thread_t ids[kDispatchers] = {};
  int result = this->activate(THR_NEW_LWP | THR_JOINABLE, kDispatchers, 0,
                              ACE_DEFAULT_THREAD_PRIORITY, -1, 0, 0, 0, 0, ids);
  // Kept also after a failure: a dispatcher that did start runs and is joined
  // by shutdown.
  for (int i = 0; i < kDispatchers; ++i)
    if (ids[i] != ACE_thread_t()) dispatchers_.push_back(ids[i]);
  if (result == -1) {
    IM_LOG_ERROR("LongTimeTask::open, activate fail");
    return -1;
  }
  return 0;
}

void LongTimeTask::joinDispatchers() {
  // Each dispatcher by its own identifier: the thread manager's wait for a
  // task skips a thread that ended right after another one of the task, and
  // leaves it unjoined. A thread that is not known any more was joined already.
  for (size_t i = 0; i < dispatchers_.size(); ++i) threads_.join(dispatchers_[i]);
  dispatchers_.clear();
}

int LongTimeTask::svc() {
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, -1);
    running_ = true;
  }
  for (;;) {
    LongTimeJob* job = 0;
    enum { kDrop, kInline, kThread, kWaiting } action = kDrop;
    {
      // One dispatcher at a time takes a block and decides on it, so the
      // decisions follow queue order.
      ACE_Guard<ACE_Thread_Mutex> dispatchGuard(dispatchLock_);
      ACE_Message_Block* mb = 0;
      if (this->getq(mb) == -1) break;
      if (mb == hangupBlock()) break;
      LongTimeData* data = dynamic_cast<LongTimeData*>(mb);
      if (data == 0) {
        mb->release();  // a stop request of shutdown, or a stray block
        break;
      }
      job = data->job();
      data->release();
      if (job == 0) continue;
      bool unwanted = job->isCancelled() || (job->mode != 0 && job->mode != 1);
      ACE_Guard<ACE_Thread_Mutex> stateGuard(stateLock_);
      if (stopping_ || unwanted) {
        action = kDrop;
      } else if (job->mode == 0) {
        action = kInline;
      } else {
        if (runningJobs_ < maxJobs_) {
          ++runningJobs_;  // the place is taken before the thread exists
          action = kThread;
        } else {
          waiting_.push_back(job);
          action = kWaiting;
        }
      }
    }
    switch (action) {
      case kDrop:
        retireJob(job);
        break;
      case kInline:
        job->execute();
        retireJob(job);
        break;
      case kThread:
        if (threads_.spawn(&LongTimeTask::jobThreadEntry, job, THR_NEW_LWP | THR_DETACHED) ==
            -1) {
          // No thread: this dispatcher serves as the job thread, keeping the
          // place it took so that the waiting list is drained as usual.
          IM_LOG_ERROR("LongTimeTask::svc, spawn job thread fail");
          jobThreadProc(job);
        }
        break;
      case kWaiting:
        break;
    }
  }
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, -1);
    running_ = false;
  }
  return 0;
}

ACE_THR_FUNC_RETURN LongTimeTask::jobThreadEntry(void* job) {
  instance()->jobThreadProc(static_cast<LongTimeJob*>(job));
  return 0;
}

void LongTimeTask::jobThreadProc(LongTimeJob* job) {
  while (job != 0) {
    if (!job->isCancelled()) job->execute();
    retireJob(job);
    job = 0;
    // Taking the next waiting job and giving up the thread's place are one
    // step under the lock that admissions take: no job waits while fewer than
    // maxJobs_ job threads run.
    ACE_GUARD(ACE_Thread_Mutex, g, stateLock_);
    if (!waiting_.empty()) {
      job = waiting_.front();
      waiting_.pop_front();
    } else {
      --runningJobs_;
      if (runningJobs_ == 0) jobsDone_.broadcast();
    }
  }
}

int LongTimeTask::postJob(LongTimeJob* job) {
  if (job == 0) return -1;
  LongTimeData* data = 0;
  ACE_NEW_RETURN(data, LongTimeData(job), -1);
  // From here on the job is whole until the runner retires it: cancelJob may
  // call it. A cancel that came before is applied now, before the queue.
  bool cancelNow = false;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, registryLock_, -1);
    job->posted_ = true;
    cancelNow = job->cancelRequested_;
  }
  if (cancelNow) job->cancel();
  if (this->putq(data) == -1) {
    data->release();
    // Back to the creator, who may delete it once no caller is inside it.
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, registryLock_, -1);
    job->posted_ = false;
    while (job->registryUsers_ > 0) registryIdle_.wait();
    return -1;
  }
  return 0;
}

LongTimeJob* LongTimeTask::borrowJob(const std::string& id, bool cancelling) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, registryLock_, 0);
  std::map<std::string, LongTimeJob*>::iterator it = registry_.find(id);
  if (it == registry_.end()) return 0;
  LongTimeJob* job = it->second;
  if (cancelling && !job->posted_) {
    // Not posted: the job may be half built or being deleted by its creator,
    // so it is not called now; the post applies the cancel.
    job->cancelRequested_ = true;
    return 0;
  }
  ++job->registryUsers_;
  return job;
}

void LongTimeTask::releaseJob(LongTimeJob* job) {
  ACE_GUARD(ACE_Thread_Mutex, g, registryLock_);
  if (--job->registryUsers_ == 0) registryIdle_.broadcast();
}

void LongTimeTask::cancelJob(const std::string& id) {
  LongTimeJob* job = borrowJob(id, true);
  if (job == 0) return;
  job->cancel();
  releaseJob(job);
}

int LongTimeTask::removeJobObserver(const std::string& id, Sptr<LongTimeJobObserver> observer) {
  // removeObserver is the base class's own, alive from the first to the last
  // moment of the registration: safe on a job that is not posted.
  LongTimeJob* job = borrowJob(id, false);
  if (job == 0) return -1;
  int result = job->removeObserver(observer);
  releaseJob(job);
  return result;
}

int LongTimeTask::registerJob(LongTimeJob* job) {
  if (job == 0) return -1;
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, registryLock_, -1);
  return registry_.insert(std::make_pair(job->jobId_, job)).second ? 0 : -1;
}

LongTimeJob* LongTimeTask::findJob(const std::string& id) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, registryLock_, 0);
  std::map<std::string, LongTimeJob*>::iterator it = registry_.find(id);
  return it == registry_.end() ? 0 : it->second;
}

void LongTimeTask::unregisterJob(const std::string& id) {
  ACE_GUARD(ACE_Thread_Mutex, g, registryLock_);
  registry_.erase(id);
}

void LongTimeTask::forgetJob(LongTimeJob* job) {
  ACE_GUARD(ACE_Thread_Mutex, g, registryLock_);
  std::map<std::string, LongTimeJob*>::iterator it = registry_.find(job->jobId_);
  if (it != registry_.end() && it->second == job) registry_.erase(it);
  while (job->registryUsers_ > 0) registryIdle_.wait();
}

void LongTimeTask::retireJob(LongTimeJob* job) {
  forgetJob(job);
  delete job;
}

std::string LongTimeTask::newJobId() {
  ACE_Utils::UUID uuid;
  long counter;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, idLock_, std::string());
    generator_.generate_UUID(uuid, 0x0001, 0x80);
    counter = ++jobCounter_;
  }
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%ld", counter);
  std::string id(uuid.to_string()->c_str());
  id += "-";
  id += suffix;
  return id;
}

int LongTimeTask::shutdown(const ACE_Time_Value* timeout) {
  IM_TRACE("LongTimeTask::shutdown");
  ACE_GUARD_RETURN(ACE_Thread_Mutex, openGuard, openLock_, -1);

  // 1. From now on no job starts: the dispatchers drop what they take, and the
  //    jobs that wait for a thread are taken away from the job threads.
  std::deque<LongTimeJob*> unstarted;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, -1);
    stopping_ = true;
    unstarted.swap(waiting_);
  }

  // 2. Ask every live job to stop, the running ones included.
  cancelRegisteredJobs();

  // 3. Stop the dispatchers: one stop block each, behind the jobs queued so far.
  for (int i = static_cast<int>(this->thr_count()); i > 0; --i) {
    ACE_Message_Block* stop = 0;
    ACE_NEW_RETURN(stop, ACE_Message_Block(static_cast<ACE_Allocator*>(0)), -1);
    if (this->putq(stop) == -1) stop->release();
  }
  joinDispatchers();

  // 4. Drop what is still queued (posted after the stop, or never taken).
  ACE_Message_Block* mb = 0;
  ACE_Time_Value now(ACE_OS::gettimeofday());
  while (this->msg_queue()->dequeue_head(mb, &now) != -1) {
    LongTimeData* data = dynamic_cast<LongTimeData*>(mb);
    LongTimeJob* job = data ? data->job() : 0;
    if (mb != hangupBlock()) mb->release();
    if (job) retireJob(job);
  }
  for (size_t i = 0; i < unstarted.size(); ++i) retireJob(unstarted[i]);

  // 5. Wait for the job threads to end their (cancelled) jobs.
  int result = 0;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, -1);
    ACE_Time_Value deadline;
    if (timeout) deadline = ACE_OS::gettimeofday() + *timeout;
    while (runningJobs_ > 0) {
      if (jobsDone_.wait(timeout ? &deadline : 0) == -1) break;
    }
    if (runningJobs_ > 0) {
      // Left alone: a job is never deleted under its thread.
      IM_LOG_WARN("LongTimeTask::shutdown, %u job threads still run", runningJobs_);
      result = -1;
    }
    stopping_ = false;
  }
  return result;
}

void LongTimeTask::cancelRegisteredJobs() {
  std::vector<std::string> ids;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, registryLock_);
    for (std::map<std::string, LongTimeJob*>::iterator it = registry_.begin();
         it != registry_.end(); ++it)
      ids.push_back(it->first);
  }
  for (size_t i = 0; i < ids.size(); ++i) cancelJob(ids[i]);
}

unsigned LongTimeTask::runningCount() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, 0);
  return runningJobs_;
}

size_t LongTimeTask::waitingCount() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, stateLock_, 0);
  return waiting_.size();
}

#include "jobs/LongTimeJob.h"

#include <ace/Guard_T.h>

#include <algorithm>
#include <vector>

#include "jobs/LongTimeTask.h"

LongTimeJob::LongTimeJob()
    : mode(1),
      jobId_(LongTimeTask::instance()->newJobId()),
      registryUsers_(0),
      posted_(false),
      cancelRequested_(false) {
  LongTimeTask::instance()->registerJob(this);
}

LongTimeJob::~LongTimeJob() {
  LongTimeTask::instance()->forgetJob(this);
  std::list<Sptr<LongTimeJobObserver>> dropped;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, lock_);
    dropped.swap(observers_);
  }
  // The references are released here, outside the lock: a last release runs
  // the observer's destructor.
}

int LongTimeJob::addObserver(Sptr<LongTimeJobObserver> observer) {
  if (!observer) return -1;
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, lock_, -1);
  observers_.push_back(observer);
  return 0;
}

int LongTimeJob::removeObserver(Sptr<LongTimeJobObserver> observer) {
  if (!observer) return -1;
  std::list<Sptr<LongTimeJobObserver>> removed;
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, lock_, -1);
    for (std::list<Sptr<LongTimeJobObserver>>::iterator it = observers_.begin();
         it != observers_.end();) {
      std::list<Sptr<LongTimeJobObserver>>::iterator next = it;
      ++next;
      if (*it == observer) removed.splice(removed.end(), observers_, it);
      it = next;
    }
  }
  return 0;
}

void LongTimeJob::notifyObservers() {
  std::vector<Sptr<LongTimeJobObserver>> snapshot;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, lock_);
    snapshot.assign(observers_.begin(), observers_.end());
  }
  for (size_t i = 0; i < snapshot.size(); ++i) {
    {
      ACE_GUARD(ACE_Thread_Mutex, g, lock_);
      if (std::find(observers_.begin(), observers_.end(), snapshot[i]) == observers_.end())
        continue;  // removed since the walk began
    }
    snapshot[i]->onNotify(this);
  }
}

std::string LongTimeJob::getJobId() const { return jobId_; }

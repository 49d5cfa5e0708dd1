// A list of listener pointers (not owned) that is walked without its lock held, so that a
// listener may take any lock of its own while it is called, and whose remove returns only
// once no walk of another thread can still call the removed listener.
//
// Threads: any thread. lock_ guards listeners_ and walkers_; it is never held while a
// listener runs. A walk calls, in registration order, every entry that was registered when
// the walk began and is still registered when its turn comes (an entry registered twice is
// called twice). remove waits for the walks of other threads (never for the caller's own), so
// a listener must not wait for a thread that is inside remove.
#pragma once

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Guard_T.h>
#include <ace/OS_NS_Thread.h>
#include <ace/Thread_Mutex.h>

#include <algorithm>
#include <list>
#include <vector>

template <class L>
class ListenerList {
 public:
  ListenerList() : idle_(lock_) {}

  void add(L* listener) {
    ACE_GUARD(ACE_Thread_Mutex, g, lock_);
    listeners_.push_back(listener);
  }

  // Removes every entry equal to `listener`, then waits until no other thread walks.
  void remove(L* listener) {
    ACE_GUARD(ACE_Thread_Mutex, g, lock_);
    listeners_.remove(listener);
    ACE_thread_t self = ACE_OS::thr_self();
    while (othersWalking(self)) idle_.wait();
  }

  size_t size() {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, lock_, 0);
    return listeners_.size();
  }

  // Calls f(listener) for each entry, as described above; returns the number of calls.
  template <class F>
  size_t forEach(F f) {
    size_t calls = 0;
    ACE_thread_t self = ACE_OS::thr_self();
    std::vector<L*> snapshot;
    {
      ACE_Guard<ACE_Thread_Mutex> g(lock_);
      snapshot.assign(listeners_.begin(), listeners_.end());
      walkers_.push_back(self);
    }
    for (size_t i = 0; i < snapshot.size(); ++i) {
      {
        ACE_Guard<ACE_Thread_Mutex> g(lock_);
        if (std::find(listeners_.begin(), listeners_.end(), snapshot[i]) == listeners_.end())
          continue;  // removed since the walk began
      }
      f(snapshot[i]);
      ++calls;
    }
    ACE_Guard<ACE_Thread_Mutex> g(lock_);
    for (typename std::vector<ACE_thread_t>::iterator it = walkers_.begin(); it != walkers_.end();
         ++it) {
      if (ACE_OS::thr_equal(*it, self)) {
        walkers_.erase(it);
        break;
      }
    }
    idle_.broadcast();
    return calls;
  }

 private:
  ListenerList(const ListenerList&) = delete;
  ListenerList& operator=(const ListenerList&) = delete;

  bool othersWalking(ACE_thread_t self) const {
    for (size_t i = 0; i < walkers_.size(); ++i)
      if (!ACE_OS::thr_equal(walkers_[i], self)) return true;
    return false;
  }

  ACE_Thread_Mutex lock_;
  ACE_Condition_Thread_Mutex idle_;  // signalled when a walk ends
  std::list<L*> listeners_;          // guarded by lock_; registration order
  std::vector<ACE_thread_t> walkers_;  // guarded by lock_; one entry per walk in progress
};

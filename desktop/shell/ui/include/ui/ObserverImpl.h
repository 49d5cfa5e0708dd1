// A small broadcast mechanism: an observer keeps an ordered list of receivers and delivers a
// parameter to them. The menus use it to tell every open menu window to close.
//
// Thread rule: any thread. lock_ (recursive) guards receivers_ in every operation, so a receiver
// may attach or detach (itself or others) from inside a delivery on the same thread. A delivery
// walks a snapshot of the list and skips receivers detached meanwhile: nobody is skipped or
// served twice because of a detach.
#pragma once

#include <ace/Guard_T.h>
#include <ace/Recursive_Thread_Mutex.h>

#include <algorithm>
#include <vector>

template <typename ReturnT, typename ParamT>
class ReceiverImplBase;

template <typename ReturnT, typename ParamT>
class ObserverImplBase {
 public:
  virtual void Attach(ReceiverImplBase<ReturnT, ParamT>* receiver) = 0;
  virtual void Detach(ReceiverImplBase<ReturnT, ParamT>* receiver) = 0;
  virtual ReturnT Send(ParamT param) = 0;
  virtual ReturnT SendReversed(ParamT param) = 0;
  virtual ReturnT Ask(ParamT param) = 0;
  virtual ~ObserverImplBase() = default;
};

template <typename ReturnT, typename ParamT>
class ReceiverImplBase {
 public:
  virtual void LinkObserver(ObserverImplBase<ReturnT, ParamT>* observer) = 0;
  virtual void UnlinkObservers() = 0;
  virtual ReturnT Accept(ParamT param) = 0;
  virtual ReturnT Answer(ParamT param, ObserverImplBase<ReturnT, ParamT>* observer) = 0;
  virtual ~ReceiverImplBase() = default;
};

template <typename ReturnT, typename ParamT>
class ObserverImpl : public ObserverImplBase<ReturnT, ParamT> {
 public:
  typedef ReceiverImplBase<ReturnT, ParamT> Receiver;

  // Appends the receiver and links this observer to it; null is ignored.
  void Attach(Receiver* receiver) override {
    if (!receiver) return;
    {
      ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
      receivers_.push_back(receiver);
    }
    receiver->LinkObserver(this);
  }
  // Removes the first occurrence; null is ignored.
  void Detach(Receiver* receiver) override {
    if (!receiver) return;
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    auto it = std::find(receivers_.begin(), receivers_.end(), receiver);
    if (it != receivers_.end()) receivers_.erase(it);
  }
  // First to last.
  ReturnT Send(ParamT param) override {
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    std::vector<Receiver*> now = receivers_;
    for (Receiver* r : now)
      if (attached(r)) r->Accept(param);
    return ReturnT();
  }
  // Last to first.
  ReturnT SendReversed(ParamT param) override {
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    std::vector<Receiver*> now = receivers_;
    for (auto it = now.rbegin(); it != now.rend(); ++it)
      if (attached(*it)) (*it)->Accept(param);
    return ReturnT();
  }
  ReturnT Ask(ParamT param) override {
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    std::vector<Receiver*> now = receivers_;
    for (Receiver* r : now)
      if (attached(r)) r->Answer(param, this);
    return ReturnT();
  }
  // The walk by index: the receiver at index, or null past the end.
  Receiver* GetReceiver(int index) {
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    return index >= 0 && index < (int)receivers_.size() ? receivers_[(size_t)index] : nullptr;
  }
  int GetReceiverCount() {
    ACE_Guard<ACE_Recursive_Thread_Mutex> g(lock_);
    return (int)receivers_.size();
  }

 private:
  bool attached(Receiver* r) const { return std::find(receivers_.begin(), receivers_.end(), r) != receivers_.end(); }

  ACE_Recursive_Thread_Mutex lock_;
  std::vector<Receiver*> receivers_;  // guarded by lock_
};

// Thread rule: the receiver's owner thread (its observer list has no lock of its own).
template <typename ReturnT, typename ParamT>
class ReceiverImpl : public ReceiverImplBase<ReturnT, ParamT> {
 public:
  typedef ObserverImplBase<ReturnT, ParamT> Observer;

  void LinkObserver(Observer* observer) override { observers_.push_back(observer); }
  // Leaves every observer it was attached to.
  void UnlinkObservers() override {
    std::vector<Observer*> all;
    all.swap(observers_);
    for (Observer* o : all) o->Detach(this);
  }
  ReturnT Accept(ParamT) override { return ReturnT(); }
  ReturnT Answer(ParamT, Observer*) override { return ReturnT(); }

 private:
  std::vector<Observer*> observers_;
};

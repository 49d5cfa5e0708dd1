// Sptr<T>: the system's reference-counted pointer, shared by every deliverable.
//
// Layout (kept identical wherever the template is compiled): the object pointer, a pointer to
// the shared count, a pointer to the spin lock that guards the count. All three are null in an
// empty pointer; the count and the lock are allocated on the first share.
//
// T must have a virtual destructor when a Sptr<Base> may be the last owner of a derived object.
// A raw pointer is handed to exactly one Sptr; further owners copy that Sptr (a second Sptr made
// from the same raw pointer would keep a count of its own and delete the object twice).
//
// Threads: copies of one Sptr may be made and destroyed on different threads at once; the count
// changes only under the spin lock. One Sptr object itself (its three fields) is not guarded:
// it is read or written by one thread at a time, like any value. The pointed object is not
// guarded by the pointer.
#ifndef CORVANE_SPTR_H
#define CORVANE_SPTR_H

#include <atomic>

// One 32-bit word, 0 free and 1 held. A bare exchange loop: the critical section is a single
// increment or decrement of the count.
class SpinLock {
 public:
  SpinLock() : word_(0) {}

  // Any thread. Busy-waits until the value taken out of the word was 0.
  void acquire() {
    while (word_.exchange(1, std::memory_order_acquire) != 0) {
    }
  }

  // Any thread; only the holder calls it.
  void release() { word_.store(0, std::memory_order_release); }

 private:
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

  std::atomic<int> word_;
};

template <class T>
class Sptr {
 public:
  Sptr() : object(0), count(0), lock(0) {}

  // Takes ownership of p (count 1). Explicit: a raw pointer must never become owned by accident.
  explicit Sptr(T* p) : object(p), count(0), lock(0) { share(); }

  Sptr(const Sptr& other) : object(other.object), count(other.count), lock(other.lock) { share(); }

  // Derived to base: the new pointer shares the count and the lock of `other`.
  template <class U>
  Sptr(const Sptr<U>& other) : object(other.object), count(other.count), lock(other.lock) {
    share();
  }

  ~Sptr() { release(); }

  // Holding p already changes nothing; otherwise the old object is released and p starts a
  // fresh count of 1.
  Sptr& operator=(T* p) {
    if (p == object) return *this;
    release();
    object = p;
    share();
    return *this;
  }

  // The same object (two empty pointers included) changes nothing. The new reference is taken
  // before the old one is dropped, so `other` may live inside the object being released.
  Sptr& operator=(const Sptr& other) {
    if (other.object == object) return *this;
    Sptr hold(other);
    swapFields(hold);
    return *this;
  }

  template <class U>
  Sptr& operator=(const Sptr<U>& other) {
    if (other.object == object) return *this;
    Sptr hold(other);
    swapFields(hold);
    return *this;
  }

  // Drops this reference; the pointer becomes empty.
  void reset() { release(); }

  T* get() const { return object; }
  T* operator->() const { return object; }
  T& operator*() const { return *object; }
  explicit operator bool() const { return object != 0; }

  bool operator==(T* p) const { return object == p; }
  bool operator!=(T* p) const { return object != p; }
  template <class U>
  bool operator==(const Sptr<U>& other) const { return object == other.object; }
  template <class U>
  bool operator!=(const Sptr<U>& other) const { return object != other.object; }

  // A pointer of type U sharing this count, or an empty one when the object is not a U.
  template <class U>
  Sptr<U> dynamicCast() const {
    Sptr<U> out;
    U* p = dynamic_cast<U*>(object);
    if (p != 0) {
      out.object = p;
      out.count = count;
      out.lock = lock;
      out.share();
    }
    return out;
  }

  // Number of owners, for diagnostics and tests; 0 for an empty pointer.
  int useCount() const {
    if (object == 0 || count == 0) return 0;
    lock->acquire();
    int n = *count;
    lock->release();
    return n;
  }

 private:
  template <class U>
  friend class Sptr;

  void share() {
    if (object == 0) return;
    if (count == 0) count = new int(0);
    if (lock == 0) lock = new SpinLock;
    lock->acquire();
    ++*count;
    lock->release();
  }

  void release() {
    if (object != 0 && count != 0) {
      lock->acquire();
      int left = --*count;
      lock->release();
      if (left == 0) {
        delete object;
        delete count;
        delete lock;
      }
    }
    object = 0;
    count = 0;
    lock = 0;
  }

  void swapFields(Sptr& other) {
    T* o = object;
    int* c = count;
    SpinLock* l = lock;
    object = other.object;
    count = other.count;
    lock = other.lock;
    other.object = o;
    other.count = c;
    other.lock = l;
  }

  T* object;
  int* count;
  SpinLock* lock;
};

#endif  // CORVANE_SPTR_H

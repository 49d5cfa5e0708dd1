#include "jobs/LongTimeTask.h"

#include <gtest/gtest.h>

#include <ace/Thread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

const std::chrono::seconds kDeadline(20);

// Shared record of what the jobs of one test did. Any thread.
struct Board {
  std::mutex m;
  std::condition_variable cv;
  std::vector<int> started;       // job numbers in the order execute began
  std::set<int> released;         // jobs allowed to finish
  std::map<int, int> notified;    // job number -> observer calls
  int running = 0, maxRunning = 0, executed = 0, destroyed = 0;

  // Waits for a condition under m; rechecks on every change and every few
  // milliseconds (for conditions outside the board, such as the runner's).
  bool waitUntil(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + kDeadline;
    std::unique_lock<std::mutex> l(m);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      cv.wait_for(l, std::chrono::milliseconds(5));
    }
    return true;
  }
  // Notifies under the lock, so that the waiter (which may destroy the
  // board) cannot run before the notification is done.
  void touch(const std::function<void()>& change) {
    std::lock_guard<std::mutex> l(m);
    change();
    cv.notify_all();
  }
};

// Runs until released (or cancelled), then notifies its observers.
class GateJob : public LongTimeJob {
 public:
  GateJob(Board& b, int n, bool block = true) : b_(b), n_(n), block_(block) {}
  ~GateJob() override {
    b_.touch([&] { ++b_.destroyed; });
  }
  int execute() override {
    b_.touch([&] {
      b_.started.push_back(n_);
      ++b_.executed;
      b_.maxRunning = std::max(b_.maxRunning, ++b_.running);
    });
    {
      std::unique_lock<std::mutex> l(b_.m);
      b_.cv.wait_for(l, kDeadline, [&] { return !block_ || cancelled_ || b_.released.count(n_); });
      --b_.running;
      b_.cv.notify_all();
    }
    notifyObservers();
    return 0;
  }
  void cancel() override {
    b_.touch([&] { cancelled_ = true; });
  }
  bool isCancelled() override {
    std::lock_guard<std::mutex> l(b_.m);
    return cancelled_;
  }
  int number() const { return n_; }

 private:
  Board& b_;
  int n_;
  bool block_;
  bool cancelled_ = false;  // guarded by b_.m
};

class CountingObserver : public LongTimeJobObserver {
 public:
  explicit CountingObserver(Board& b) : b_(b) {}
  void onNotify(LongTimeJob* job) override {
    int n = static_cast<GateJob*>(job)->number();
    b_.touch([&] { ++b_.notified[n]; });
  }

 private:
  Board& b_;
};

class LongTimeTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, LongTimeTask::instance()->open()); }
  void TearDown() override {
    ACE_Time_Value limit(20);
    EXPECT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
    EXPECT_EQ(0u, LongTimeTask::instance()->runningCount());
    EXPECT_EQ(0u, LongTimeTask::instance()->waitingCount());
  }
  LongTimeTask* runner() { return LongTimeTask::instance(); }
};

TEST_F(LongTimeTaskTest, TwentyFiveJobsRunTenAtATimeAndStartInPostingOrder) {
  Board b;
  Sptr<LongTimeJobObserver> observer(new CountingObserver(b));
  for (int i = 0; i < 25; ++i) {
    GateJob* job = new GateJob(b, i);
    ASSERT_EQ(0, job->addObserver(observer));
    ASSERT_EQ(0, runner()->postJob(job));
  }
  ASSERT_TRUE(b.waitUntil([&] { return b.started.size() == 10; }));
  ASSERT_TRUE(b.waitUntil([&] { return runner()->waitingCount() == 15; }));
  {
    std::lock_guard<std::mutex> l(b.m);
    std::set<int> first(b.started.begin(), b.started.end());
    EXPECT_EQ(10u, first.size());
    EXPECT_EQ(0, *first.begin());
    EXPECT_EQ(9, *first.rbegin());
  }
  EXPECT_EQ(10u, runner()->runningCount());

  // Free one place at a time: the next waiting job takes it, in posting order.
  for (int next = 10; next < 25; ++next) {
    int victim;
    {
      std::lock_guard<std::mutex> l(b.m);
      victim = b.started[next - 10];
    }
    b.touch([&] { b.released.insert(victim); });
    ASSERT_TRUE(b.waitUntil([&] { return static_cast<int>(b.started.size()) == next + 1; }));
    std::lock_guard<std::mutex> l(b.m);
    EXPECT_EQ(next, b.started.back());
  }
  b.touch([&] {
    for (int i = 0; i < 25; ++i) b.released.insert(i);
  });
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 25; }));
  std::lock_guard<std::mutex> l(b.m);
  EXPECT_LE(b.maxRunning, 10);
  EXPECT_EQ(25, b.executed);
  ASSERT_EQ(25u, b.notified.size());
  for (auto& n : b.notified) EXPECT_EQ(1, n.second) << "job " << n.first;
}

TEST_F(LongTimeTaskTest, BurstsOfShortJobsNeverStrandAWaitingJob) {
  Board b;
  int posted = 0;
  for (int round = 0; round < 40; ++round) {
    for (int i = 0; i < 25; ++i, ++posted) ASSERT_EQ(0, runner()->postJob(new GateJob(b, posted, false)));
    // Every job runs without help from a later one.
    ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == posted; })) << "round " << round;
  }
  EXPECT_EQ(posted, b.executed);
}

TEST_F(LongTimeTaskTest, CancelledWaitingJobIsDeletedUnrunAndUntold) {
  Board b;
  Sptr<LongTimeJobObserver> observer(new CountingObserver(b));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(0, runner()->postJob(new GateJob(b, i)));
  GateJob* late = new GateJob(b, 99);
  late->addObserver(observer);
  std::string id = late->getJobId();
  ASSERT_EQ(0, runner()->postJob(late));
  ASSERT_TRUE(b.waitUntil([&] { return runner()->waitingCount() == 1; }));
  runner()->cancelJob(id);
  b.touch([&] {
    for (int i = 0; i < 10; ++i) b.released.insert(i);
  });
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 11; }));
  std::lock_guard<std::mutex> l(b.m);
  EXPECT_EQ(10, b.executed);
  EXPECT_EQ(0u, b.notified.count(99));
  EXPECT_EQ(-1, runner()->removeJobObserver(id, observer));  // ended: unknown now
}

TEST_F(LongTimeTaskTest, UnknownIdsAndEmptyArguments) {
  Board b;
  Sptr<LongTimeJobObserver> observer(new CountingObserver(b));
  runner()->cancelJob("no-such-job");
  EXPECT_EQ(-1, runner()->removeJobObserver("no-such-job", observer));
  EXPECT_EQ(-1, runner()->postJob(0));
  GateJob* job = new GateJob(b, 1, false);
  EXPECT_EQ(-1, job->addObserver(Sptr<LongTimeJobObserver>()));
  EXPECT_EQ(-1, job->removeObserver(Sptr<LongTimeJobObserver>()));
  EXPECT_EQ(job, runner()->findJob(job->getJobId()));
  EXPECT_EQ(-1, runner()->registerJob(job));  // its identifier is taken (by itself)
  std::string id = job->getJobId();
  delete job;  // never posted: its creator deletes it, which unregisters it
  EXPECT_EQ(nullptr, runner()->findJob(id));
}

// Like the address book's fetch: cancel notifies the observers, on the
// cancelling thread, and the job notifies again when it ends.
class NotifyingCancelJob : public GateJob {
 public:
  using GateJob::GateJob;
  void cancel() override {
    GateJob::cancel();
    notifyObservers();
  }
};

TEST_F(LongTimeTaskTest, CancelWhileRunningTellsTheObserverAndEnds) {
  Board b;
  Sptr<LongTimeJobObserver> observer(new CountingObserver(b));
  NotifyingCancelJob* job = new NotifyingCancelJob(b, 7);
  job->addObserver(observer);
  std::string id = job->getJobId();
  ASSERT_EQ(0, runner()->postJob(job));
  ASSERT_TRUE(b.waitUntil([&] { return b.executed == 1; }));
  runner()->cancelJob(id);
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 1; }));
  std::lock_guard<std::mutex> l(b.m);
  EXPECT_EQ(2, b.notified[7]);  // once from cancel, once at the end
}

// Removes itself through the runner from inside its notification, as the
// address book's agent does. Listed twice on purpose.
class SelfRemovingObserver : public LongTimeJobObserver {
 public:
  SelfRemovingObserver(Board& b, const Sptr<LongTimeJobObserver>* self) : b_(b), self_(self) {}
  void onNotify(LongTimeJob* job) override {
    int n = static_cast<GateJob*>(job)->number();
    b_.touch([&] { ++b_.notified[n]; });
    LongTimeTask::instance()->removeJobObserver(job->getJobId(), *self_);
  }

 private:
  Board& b_;
  const Sptr<LongTimeJobObserver>* self_;
};

TEST_F(LongTimeTaskTest, ObserverRemovingItselfLeavesTheOthersNotified) {
  Board b;
  Sptr<LongTimeJobObserver> remover;
  remover = Sptr<LongTimeJobObserver>(new SelfRemovingObserver(b, &remover));
  Board other;
  Sptr<LongTimeJobObserver> counter(new CountingObserver(other));
  GateJob* job = new GateJob(b, 3, false);
  job->addObserver(remover);
  job->addObserver(remover);
  job->addObserver(counter);
  job->addObserver(remover);
  ASSERT_EQ(0, runner()->postJob(job));
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 1; }));
  EXPECT_EQ(1, b.notified[3]);  // removed with all its entries at its first call
  EXPECT_EQ(1, other.notified[3]);
  EXPECT_EQ(1, remover.useCount());  // the job released every reference
}

TEST_F(LongTimeTaskTest, CancelRacingTheJobsEndNeitherDeadlocksNorCrashes) {
  Board b;
  Sptr<LongTimeJobObserver> remover;
  remover = Sptr<LongTimeJobObserver>(new SelfRemovingObserver(b, &remover));
  const int kRounds = 300;
  for (int i = 0; i < kRounds; ++i) {
    NotifyingCancelJob* job = new NotifyingCancelJob(b, i, false);
    job->addObserver(remover);
    job->addObserver(remover);
    std::string id = job->getJobId();
    ASSERT_EQ(0, runner()->postJob(job));
    if (i % 3 == 1) b.waitUntil([&] { return b.executed > 0 && b.started.back() == i; });
    runner()->cancelJob(id);
    if (i % 2) runner()->removeJobObserver(id, remover);
    ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == i + 1; })) << "round " << i;
  }
  // A cancel that reaches a job the runner is already retiring cannot take the observer off it
  // (the job is unknown by then): the job's base destructor releases those entries, just after
  // the job counted itself destroyed in its own destructor's body.
  EXPECT_TRUE(b.waitUntil([&] { return remover.useCount() == 1; })) << remover.useCount();
  std::lock_guard<std::mutex> l(b.m);
  for (auto& n : b.notified) EXPECT_LE(n.second, 2) << "job " << n.first;
}

// Counts the runner's calls that reach it while its creator deletes it.
class DyingProbeJob : public LongTimeJob {
 public:
  DyingProbeJob(std::atomic<int>& callsWhileDying, std::function<void(DyingProbeJob*)> whileDying)
      : callsWhileDying_(callsWhileDying), whileDying_(whileDying) {}
  // The destructor's body: the object is still of this class, but going.
  ~DyingProbeJob() override {
    dying_ = true;
    if (whileDying_) whileDying_(this);
  }
  int execute() override { return 0; }
  void cancel() override {
    if (dying_) ++callsWhileDying_;
    cancelled_ = true;
  }
  bool isCancelled() override { return cancelled_; }

 private:
  std::atomic<int>& callsWhileDying_;
  std::function<void(DyingProbeJob*)> whileDying_;
  std::atomic<bool> dying_{false};
  std::atomic<bool> cancelled_{false};
};

// A job its creator deletes unposted is never called by cancelJob or
// shutdown, not even while its destructor runs.
TEST_F(LongTimeTaskTest, AJobNeverPostedIsNeverCalledWhileItIsDeleted) {
  std::atomic<int> callsWhileDying{0};
  DyingProbeJob* job = new DyingProbeJob(callsWhileDying, [this](DyingProbeJob* self) {
    std::string id = self->getJobId();
    std::thread other([this, id] {
      runner()->cancelJob(id);
      ACE_Time_Value limit(20);
      runner()->shutdown(&limit);
    });
    other.join();
  });
  delete job;
  EXPECT_EQ(0, callsWhileDying.load());
  ASSERT_EQ(0, runner()->open());
}

// Cancels, on a thread of its own and over and over, the last identifier it was given,
// until stop().
class IdCanceller {
 public:
  explicit IdCanceller(LongTimeTask* runner)
      : thread_([this, runner] {
          while (!done_) {
            std::string id;
            {
              std::lock_guard<std::mutex> l(m_);
              id = current_;
            }
            if (!id.empty()) runner->cancelJob(id);
          }
        }) {}
  ~IdCanceller() { stop(); }
  void aim(const std::string& id) {
    std::lock_guard<std::mutex> l(m_);
    current_ = id;
  }
  void stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex m_;
  std::string current_;  // guarded by m_
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The same as a race: one thread makes and deletes jobs, another cancels
// each as soon as it learns its identifier.
TEST_F(LongTimeTaskTest, CancelRacingTheDeletionOfUnpostedJobs) {
  std::atomic<int> callsWhileDying{0};
  IdCanceller canceller(runner());
  for (int i = 0; i < 2000; ++i) {
    DyingProbeJob* job = new DyingProbeJob(callsWhileDying, nullptr);
    canceller.aim(job->getJobId());
    delete job;
  }
  canceller.stop();
  EXPECT_EQ(0, callsWhileDying.load());
}

// Like the contact-list agent: the queue refuses the post and the creator deletes the job,
// while another thread cancels every identifier it recorded.
TEST_F(LongTimeTaskTest, CancelRacingARefusedPostAndTheDeletionThatFollows) {
  std::atomic<int> callsWhileDying{0};
  IdCanceller canceller(runner());
  runner()->msg_queue()->deactivate();
  int refused = 0;
  for (int i = 0; i < 1000; ++i) {
    DyingProbeJob* job = new DyingProbeJob(callsWhileDying, nullptr);
    canceller.aim(job->getJobId());
    if (runner()->postJob(job) == -1) {
      ++refused;
      delete job;
    }
  }
  runner()->msg_queue()->activate();
  canceller.stop();
  EXPECT_EQ(1000, refused);
  EXPECT_EQ(0, callsWhileDying.load());
}

// A cancel that comes before the post is not lost: the post applies it and
// the job is dropped unrun.
TEST_F(LongTimeTaskTest, CancelBeforeThePostIsAppliedByThePost) {
  Board b;
  GateJob* job = new GateJob(b, 1);
  runner()->cancelJob(job->getJobId());
  EXPECT_FALSE(job->isCancelled()) << "not called before it is posted";
  ASSERT_EQ(0, runner()->postJob(job));
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 1; }));
  EXPECT_EQ(0, b.executed);
}

TEST_F(LongTimeTaskTest, IdentifiersCountUpAndNeverRepeat) {
  std::string a = runner()->newJobId(), c = runner()->newJobId();
  ASSERT_EQ(36u, a.find('-', 24));  // the UUID text is 36 characters
  long na = std::stol(a.substr(37)), nc = std::stol(c.substr(37));
  EXPECT_EQ(na + 1, nc);
  for (char ch : a.substr(0, 36)) EXPECT_TRUE(ch == '-' || isdigit(ch) || (ch >= 'a' && ch <= 'f')) << a;

  std::vector<std::vector<std::string>> ids(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) ids[t].push_back(runner()->newJobId());
    });
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(8000u, all.size());
}

// Records the thread it ran on.
class ModeJob : public GateJob {
 public:
  ModeJob(Board& b, int n, int m, ACE_thread_t* ranOn) : GateJob(b, n, false), ranOn_(ranOn) { mode = m; }
  int execute() override {
    *ranOn_ = ACE_Thread::self();
    return GateJob::execute();
  }

 private:
  ACE_thread_t* ranOn_;
};

TEST_F(LongTimeTaskTest, ModesAndTheHangupBlock) {
  Board b;
  ACE_thread_t inlineThread = ACE_Thread::self(), unused = ACE_Thread::self();
  ASSERT_EQ(0, runner()->postJob(new ModeJob(b, 0, 0, &inlineThread)));
  ASSERT_EQ(0, runner()->postJob(new ModeJob(b, 1, 5, &unused)));
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 2; }));
  EXPECT_EQ(1, b.executed);  // mode 5 is dropped unrun
  EXPECT_FALSE(ACE_OS::thr_equal(inlineThread, ACE_Thread::self()));

  // The hang-up block ends one dispatcher; the other keeps serving.
  ASSERT_EQ(2u, runner()->thr_count());
  ASSERT_NE(-1, runner()->putq(LongTimeTask::hangupBlock()));
  ASSERT_TRUE(b.waitUntil([&] { return runner()->thr_count() == 1; }));
  ASSERT_EQ(0, runner()->postJob(new GateJob(b, 2, false)));
  ASSERT_TRUE(b.waitUntil([&] { return b.destroyed == 3; }));
}

TEST_F(LongTimeTaskTest, ShutdownCancelsRunningJobsWaitsForThemAndDropsTheWaiting) {
  Board b;
  for (int i = 0; i < 12; ++i) ASSERT_EQ(0, runner()->postJob(new GateJob(b, i)));  // never released
  ASSERT_TRUE(b.waitUntil([&] { return b.started.size() == 10 && runner()->waitingCount() == 2; }));
  ACE_Time_Value limit(20);
  ASSERT_EQ(0, runner()->shutdown(&limit));
  std::lock_guard<std::mutex> l(b.m);
  EXPECT_EQ(12, b.destroyed);  // every job deleted after its thread let go of it
  EXPECT_EQ(10, b.executed);   // the two waiting ones were dropped unrun
  EXPECT_EQ(0u, runner()->thr_count());
}

TEST_F(LongTimeTaskTest, OpeningTwiceKeepsTwoDispatchers) {
  ASSERT_EQ(0, runner()->open());
  EXPECT_EQ(2u, runner()->thr_count());
}

}  // namespace

namespace {

// Both dispatchers often end before shutdown starts joining them; each must
// still be joined (a thread left unjoined is what ThreadSanitizer reports as a
// thread leak when the program ends). Also after dispatchers that a stray
// stop marker ended, and a reopen.
TEST_F(LongTimeTaskTest, ShutdownJoinsEveryDispatcherItStarted) {
  ACE_Time_Value limit(20);
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(0, runner()->shutdown(&limit));
    ASSERT_EQ(0u, runner()->thr_count());
    ASSERT_EQ(0, runner()->open());
    ASSERT_EQ(2u, runner()->thr_count());
    if (round % 10 == 0) {
      ASSERT_NE(-1, runner()->putq(LongTimeTask::hangupBlock()));
      ASSERT_NE(-1, runner()->putq(LongTimeTask::hangupBlock()));
      Board b;
      ASSERT_TRUE(b.waitUntil([&] { return runner()->thr_count() == 0; }));
      ASSERT_EQ(0, runner()->open());
    }
  }
}

}  // namespace

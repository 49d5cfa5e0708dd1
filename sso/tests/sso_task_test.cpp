// The worker pool: worker choice, per-key ordering, refusals, and that open
// failures and close neither leak threads nor deadlock.
#include "sso/SsoClient.h"
#include "sso/SsoCommand.h"
#include "sso/SsoTask.h"

#include "util/Config.h"

#include <gtest/gtest.h>

#include <dirent.h>

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

// What the commands of a test did, in the order they ran.
struct Trace {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::string, std::thread::id> > runs;  // (tag, worker)
  int deleted = 0;

  bool waitDeleted(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return deleted >= n; });
  }
};

class RecordingCommand : public SsoCommand {
 public:
  RecordingCommand(const std::string& key, const std::string& tag, Trace* trace,
                   std::function<void()> body = std::function<void()>())
      : key_(key), tag_(tag), trace_(trace), body_(body) {}
  ~RecordingCommand() override {
    std::lock_guard<std::mutex> lock(trace_->mutex);
    ++trace_->deleted;
    trace_->changed.notify_all();
  }
  int execute() override {
    if (body_) body_();
    std::lock_guard<std::mutex> lock(trace_->mutex);
    trace_->runs.emplace_back(tag_, std::this_thread::get_id());
    return 0;
  }
  std::string key() const override { return key_; }

 private:
  std::string key_, tag_;
  Trace* trace_;
  std::function<void()> body_;
};

int threadCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n;
}

// A joined thread can still be listed for a moment while the kernel finishes its exit, so a
// count is read until it matches or a deadline passes.
// The count once threads that ended before the call have left the list (no change for 50 ms).
int stableThreadCount() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int n = threadCount();
  auto since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() < deadline &&
         std::chrono::steady_clock::now() - since < std::chrono::milliseconds(50)) {
    std::this_thread::yield();
    int m = threadCount();
    if (m != n) {
      n = m;
      since = std::chrono::steady_clock::now();
    }
  }
  return n;
}

int threadCountSettled(int expected) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int n = threadCount();
  while (n != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
    n = threadCount();
  }
  return n;
}

class SsoTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SsoClient::destroy();
    baseline_ = stableThreadCount();
  }
  void TearDown() override {
    SsoTask::failActivationForTest(-1);
    SsoTask::destroy();
    Config::instance()->removeValue("SSO", "ssoTaskNumber");
    EXPECT_EQ(baseline_, threadCountSettled(baseline_)) << "worker threads left behind";
  }
  SsoTask* pool(const std::string& taskNumber) {
    SsoTask::destroy();
    if (taskNumber.empty()) Config::instance()->removeValue("SSO", "ssoTaskNumber");
    else Config::instance()->setValue("SSO", "ssoTaskNumber", taskNumber);
    return SsoTask::instance();
  }
  int baseline_ = 0;
};

TEST_F(SsoTaskTest, OneWorkerWhenTheCountIsAbsentZeroOrNegative) {
  for (const char* value : {"", "0", "-3"}) {
    SCOPED_TRACE(value);
    SsoTask* task = pool(value);
    ASSERT_EQ(1, task->workerCount());
    ASSERT_EQ(0, task->open());
    Trace trace;
    const char* keys[] = {"alice", "", "bob", "", "carol"};
    for (int i = 0; i < 5; ++i) ASSERT_NE(-1, task->put(new RecordingCommand(keys[i], std::to_string(i), &trace)));
    ASSERT_TRUE(trace.waitDeleted(5));
    std::lock_guard<std::mutex> lock(trace.mutex);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(std::to_string(i), trace.runs[i].first);
      EXPECT_EQ(trace.runs[0].second, trace.runs[i].second);
    }
  }
}

TEST_F(SsoTaskTest, CountIsClampedToSixtyFour) { EXPECT_EQ(64, pool("100000")->workerCount()); }

TEST_F(SsoTaskTest, WorkerChoiceByKeyHashAndRoundRobin) {
  Trace trace;
  SsoTask* four = pool("4");
  RecordingCommand empty("", "", &trace), alice("alice", "", &trace), bob("bob", "", &trace);
  std::vector<int> robin;
  for (int i = 0; i < 5; ++i) robin.push_back(four->selectWorker(&empty));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 0, 1}), robin);
  EXPECT_EQ(0, four->selectWorker(&alice));  // hash 2441577632
  EXPECT_EQ(1, four->selectWorker(&bob));    // hash 816909077
  EXPECT_EQ(0, four->selectWorker(&alice));
  EXPECT_EQ(-1, four->selectWorker(nullptr));

  // Bytes of 0x80 and more count with their sign: hash 3362496340, index 1
  // (unsigned bytes would give 2).
  SsoTask* three = pool("3");
  RecordingCommand gbk("\xD5\xC5\xC8\xFD@corp.cn", "", &trace);
  EXPECT_EQ(1, three->selectWorker(&gbk));
}

// The commands of one key run on one worker in put order while other keys'
// commands interleave on the other workers.
TEST_F(SsoTaskTest, CommandsOfOneKeyRunInOrderOnOneWorker) {
  SsoTask* task = pool("4");
  ASSERT_EQ(0, task->open());
  Trace trace;
  const std::vector<std::string> users = {"alice", "bob", "carol", "dave", "erin", "frank"};
  const int kPerUser = 20;
  std::vector<std::thread> putters;
  for (const std::string& user : users) {
    putters.emplace_back([&, user] {
      for (int i = 0; i < kPerUser; ++i) {
        char tag[64];
        snprintf(tag, sizeof tag, "%s#%02d", user.c_str(), i);
        EXPECT_NE(-1, task->put(new RecordingCommand(user, tag, &trace)));
      }
    });
  }
  for (std::thread& t : putters) t.join();
  ASSERT_TRUE(trace.waitDeleted(static_cast<int>(users.size()) * kPerUser));

  std::lock_guard<std::mutex> lock(trace.mutex);
  std::map<std::string, std::vector<std::string> > order;
  std::map<std::string, std::set<std::thread::id> > threadsOf;
  std::set<std::thread::id> all;
  for (const auto& run : trace.runs) {
    std::string user = run.first.substr(0, run.first.find('#'));
    order[user].push_back(run.first);
    threadsOf[user].insert(run.second);
    all.insert(run.second);
  }
  for (const std::string& user : users) {
    EXPECT_EQ(1u, threadsOf[user].size()) << user;
    EXPECT_TRUE(std::is_sorted(order[user].begin(), order[user].end())) << user;
  }
  EXPECT_GT(all.size(), 1u);
}

TEST_F(SsoTaskTest, PutRefusedBeforeOpenForNullAndAfterClose) {
  SsoTask* task = pool("2");
  Trace trace;
  RecordingCommand command("alice", "", &trace);
  EXPECT_EQ(-1, task->put(&command));
  ASSERT_EQ(0, task->open());
  EXPECT_EQ(0, task->open()) << "opening twice is harmless";
  EXPECT_EQ(baseline_ + 2, threadCountSettled(baseline_ + 2));
  EXPECT_EQ(-1, task->put(nullptr));
  EXPECT_EQ(0, task->close());
  EXPECT_EQ(baseline_, threadCountSettled(baseline_));
  EXPECT_FALSE(task->isOpen());
  EXPECT_EQ(-1, task->put(&command));
  EXPECT_EQ(0, task->close());
  EXPECT_TRUE(trace.runs.empty());
}

// A worker that cannot be started stops the ones already running.
TEST_F(SsoTaskTest, FailedOpenLeavesNoThreadsAndStaysClosed) {
  SsoTask* task = pool("4");
  SsoTask::failActivationForTest(2);
  EXPECT_EQ(-1, task->open());
  EXPECT_FALSE(task->isOpen());
  EXPECT_EQ(baseline_, threadCountSettled(baseline_));
  Trace trace;
  RecordingCommand command("alice", "", &trace);
  EXPECT_EQ(-1, task->put(&command));

  SsoTask::failActivationForTest(-1);
  ASSERT_EQ(0, task->open());
  EXPECT_EQ(baseline_ + 4, threadCountSettled(baseline_ + 4));
}

// close runs what is queued, and a handler that puts while the pool closes
// is refused instead of deadlocking.
TEST_F(SsoTaskTest, CloseDrainsQueuesAndRefusesPutsFromRunningCommands) {
  SsoTask* task = pool("2");
  ASSERT_EQ(0, task->open());
  Trace trace;
  std::atomic<int> putDuringClose(0);
  std::atomic<bool> sawClosing(false);
  ASSERT_NE(-1, task->put(new RecordingCommand("alice", "first", &trace, [&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (task->isOpen() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    sawClosing = !task->isOpen();
    RecordingCommand* late = new RecordingCommand("alice", "late", &trace);
    putDuringClose = task->put(late);
    if (putDuringClose == -1) late->release();
  })));
  ASSERT_NE(-1, task->put(new RecordingCommand("alice", "second", &trace)));
  ASSERT_NE(-1, task->put(new RecordingCommand("bob", "third", &trace)));
  EXPECT_EQ(0, task->close());
  EXPECT_TRUE(sawClosing.load());
  EXPECT_EQ(-1, putDuringClose.load());
  EXPECT_EQ(4, trace.deleted);
  std::set<std::string> ran;
  for (const auto& run : trace.runs) ran.insert(run.first);
  EXPECT_EQ((std::set<std::string>{"first", "second", "third"}), ran);
}

// A command still running while the pool is destroyed may reach for the
// pool again: it is refused, not deadlocked.
TEST_F(SsoTaskTest, DestroyWhileACommandPutsAgain) {
  SsoTask* task = pool("2");
  ASSERT_EQ(0, task->open());
  Trace trace;
  std::atomic<int> late(0);
  std::mutex gate;
  gate.lock();
  ASSERT_NE(-1, task->put(new RecordingCommand("alice", "first", &trace, [&] {
    std::lock_guard<std::mutex> wait(gate);  // until destroy has begun
    RecordingCommand* again = new RecordingCommand("alice", "again", &trace);
    late = SsoTask::instance()->put(again);
    if (late == -1) again->release();
  })));
  std::thread destroyer([] { SsoTask::destroy(); });
  // destroy takes the pool out of the singleton first; then let the command go.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (task->isOpen() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  gate.unlock();
  destroyer.join();
  EXPECT_EQ(-1, late.load());
  EXPECT_EQ(2, trace.deleted);
}

}  // namespace

#include "sso/SsoTask.h"

#include "sso/SsoCommand.h"
#include "log/IM_LogManager.h"
#include "util/Config.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Singleton.h>
#include <ace/Task.h>

#include <algorithm>

namespace {

const int kMaxWorkers = 64;
const size_t kWaterMark = 0x50000;

// The one block without data that tells a worker to leave its loop.
typedef ACE_Singleton<ACE_Message_Block, ACE_Thread_Mutex> StopBlock;

}  // namespace

// One worker: a task with a single thread and its own queue.
class SsoTask::SsoTask_impl : public ACE_Task<ACE_MT_SYNCH> {
 public:
  SsoTask_impl() : logStream_(ACE_LOG_MSG->msg_ostream()) {
    msg_queue()->high_water_mark(kWaterMark);
    msg_queue()->low_water_mark(kWaterMark);
  }

  int svc() override {
    if (logStream_) ACE_LOG_MSG->msg_ostream(logStream_);
    for (;;) {
      ACE_Message_Block* block = 0;
      if (getq(block) == -1) break;
      SsoCommand* command = SsoCommand::fromBlock(block);
      if (!command) break;
      IM_LOG_INFO("SsoTask, [status = ececute]");
      command->execute();
      command->release();
    }
    return 0;
  }

 private:
  ACE_OSTREAM_TYPE* logStream_;
};

std::atomic<SsoTask*> SsoTask::instance_(nullptr);
ACE_Thread_Mutex SsoTask::instanceMutex_;
std::atomic<int> SsoTask::failActivationAt_(-1);

SsoTask* SsoTask::instance() {
  SsoTask* task = instance_.load(std::memory_order_acquire);
  if (!task) {
    ACE_Guard<ACE_Thread_Mutex> guard(instanceMutex_);
    task = instance_.load(std::memory_order_relaxed);
    if (!task) {
      task = new SsoTask();
      instance_.store(task, std::memory_order_release);
    }
  }
  return task;
}

void SsoTask::destroy() {
  SsoTask* task = 0;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(instanceMutex_);
    task = instance_.exchange(nullptr);
  }
  // Joined without instanceMutex_: a command still running may call
  // instance() (and finds a new, closed pool that refuses it).
  if (task) {
    task->close();
    delete task;
  }
}

void SsoTask::failActivationForTest(int index) { failActivationAt_.store(index); }

SsoTask::SsoTask() : taskNumber_(1), open_(false), counter_(0) {
  int n = Config::instance()->getIntValue("SSO", "ssoTaskNumber", 0);
  // A typo must not start thousands of threads.
  taskNumber_ = std::min(std::max(n, 1), kMaxWorkers);
}

SsoTask::~SsoTask() { close(); }

int SsoTask::open() {
  ACE_Guard<ACE_Thread_Mutex> outer(outerMutex_);
  if (open_.load()) return 0;
  std::vector<SsoTask_impl*> started;
  for (int i = 0; i < taskNumber_; ++i) {
    SsoTask_impl* worker = new SsoTask_impl();
    int rc = (i == failActivationAt_.load()) ? -1 : worker->activate(THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, 1);
    if (rc == -1) {
      IM_LOG_ERROR("SsoTask, [status = open failed, worker = %d]", i);
      delete worker;
      stopWorkers(started);
      return -1;
    }
    started.push_back(worker);
  }
  ACE_Guard<ACE_Thread_Mutex> inner(innerMutex_);
  workers_.swap(started);
  open_.store(true);
  return 0;
}

int SsoTask::put(SsoCommand* command) {
  if (!command) return -1;
  ACE_Guard<ACE_Thread_Mutex> inner(innerMutex_);
  if (!open_.load() || workers_.empty()) return -1;
  int index = selectWorker_i(command);
  return workers_[index]->putq(command->block());
}

int SsoTask::close() {
  ACE_Guard<ACE_Thread_Mutex> outer(outerMutex_);
  std::vector<SsoTask_impl*> workers;
  {
    ACE_Guard<ACE_Thread_Mutex> inner(innerMutex_);
    if (!open_.load()) return 0;
    open_.store(false);
    workers.swap(workers_);
  }
  // Joined outside the inner mutex: a handler still running on a worker may
  // call put, which then fails instead of waiting for us.
  stopWorkers(workers);
  return 0;
}

void SsoTask::stopWorkers(std::vector<SsoTask_impl*>& workers) {
  for (SsoTask_impl* worker : workers) {
    worker->putq(StopBlock::instance());
    worker->wait();
    delete worker;
  }
  workers.clear();
}

int SsoTask::selectWorker(SsoCommand* command) {
  if (!command) return -1;
  ACE_Guard<ACE_Thread_Mutex> inner(innerMutex_);
  return selectWorker_i(command);
}

int SsoTask::selectWorker_i(SsoCommand* command) {
  std::string key = command->key();
  if (key.empty()) {
    ++counter_;
    return static_cast<int>(counter_ % static_cast<unsigned int>(taskNumber_));
  }
  uint32_t h = 0;
  for (unsigned char c : key) h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
  return static_cast<int>(h % static_cast<uint32_t>(taskNumber_));
}

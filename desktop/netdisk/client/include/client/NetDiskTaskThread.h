// Background work of the net-disk client. Listing and download-link tasks run
// one after the other on the task thread; upload steps and deletions run each
// on a detached thread of its own (spawnDetached). Every task works on its own
// copies (user id, password, names) and hands its result back by posting a
// command to the engine thread.
//
// The program starts the task thread at the first login and never stops it;
// stop() and waitDetached() exist for tests.
#pragma once

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Message_Block.h>
#include <ace/Singleton.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>

#include <map>
#include <string>
#include <vector>

class NetDiskTaskBase {
 public:
  explicit NetDiskTaskBase(int requestNumber)
      : skip_(false), requestNumber_(requestNumber) {}
  virtual ~NetDiskTaskBase() {}
  virtual void execute() = 0;
  virtual void cancel() { skip_ = true; }
  virtual bool isCanceled() { return skip_; }

  // Set by the creator before the task is queued.
  void setUser(const std::string& userId, const std::string& password) {
    userId_ = userId;
    password_ = password;
  }
  int requestNumber() const { return requestNumber_; }
  const std::string& userId() const { return userId_; }

 protected:
  bool skip_;  // set before the task is handed over (or by its own thread)
  int requestNumber_;
  std::string userId_;
  std::string password_;
};

// Lists the user's space and root folder; posts a ListFileResultCommand.
class ListFileTask : public NetDiskTaskBase {
 public:
  explicit ListFileTask(int requestNumber) : NetDiskTaskBase(requestNumber) {}
  void execute() override;

 private:
  std::string folder_;  // "" (the root)
};

// Fetches the download links of the names; posts a GetDownUrlResultCommand.
class GetDownUrlTask : public NetDiskTaskBase {
 public:
  GetDownUrlTask(int requestNumber, const std::vector<std::string>& names)
      : NetDiskTaskBase(requestNumber), names_(names) {}
  void execute() override;

  std::map<std::string, std::string> knownLinks;  // filled by the creator

 private:
  std::vector<std::string> names_;
};

class NetDiskTaskThread : public ACE_Task<ACE_MT_SYNCH> {
 public:
  // One queue element: carries a task; deleting it does not delete the task.
  class NetDiskTaskData : public ACE_Message_Block {
   public:
    explicit NetDiskTaskData(NetDiskTaskBase* task) : ACE_Message_Block(static_cast<size_t>(0)), task_(task) {}
    NetDiskTaskBase* task() const { return task_; }

   private:
    NetDiskTaskBase* task_;
  };

  static NetDiskTaskThread* instance();

  NetDiskTaskThread();

  // Starts the thread unless it runs. 0, or -1 on failure. Any thread.
  int start();
  int open(void* args = 0) override;
  // -1 for a null task or a refused put (the task stays with the caller);
  // 0 and the task belongs to the thread. Any thread.
  int postTask(NetDiskTaskBase* task);
  int svc() override;

  // Runs one task on the calling thread (unless cancelled) and deletes it.
  static int runDetachedTask(NetDiskTaskBase* task);
  // Runs the task on a new detached thread. 0, or -1 when no thread could be
  // started (the task is then deleted unrun). Any thread.
  static int spawnDetached(NetDiskTaskBase* task);

  // Tests only: stops the task thread and waits for it; queued tasks are
  // deleted unrun. Not from the task thread.
  void stop();
  // Tests only: waits until no detached task thread runs.
  static void waitDetached();

 private:
  static ACE_THR_FUNC_RETURN detachedEntry(void* arg);

  ACE_Thread_Mutex lock_;
  bool running_;  // guarded by lock_
};

typedef ACE_Singleton<NetDiskTaskThread, ACE_Thread_Mutex> NetDiskTaskThreadSingleton;

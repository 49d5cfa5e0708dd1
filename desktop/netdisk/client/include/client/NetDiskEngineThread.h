// The net-disk engine thread: one thread that owns all NetDiskClient state and
// runs queued commands one at a time, in queue order. A command travels as
// its own zero-length message block whose data block points back at the
// command, so queuing allocates nothing beyond the command.
//
// The program starts the thread at the first login and never stops it;
// stop() exists for tests.
#pragma once

#include <ace/Singleton.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>

class NetDiskCommandBase;

class NetDiskEngineThread {
 public:
  static NetDiskEngineThread* instance();

  NetDiskEngineThread();
  ~NetDiskEngineThread();  // destroys the mutex only; the worker is left running

  // 0 when running (also when already started), -1 on failure. Any thread.
  int start();
  // -1 when not running; else the queue's result (0 on success). The engine
  // thread owns the command only when 0 is returned. Any thread.
  int postCommand(NetDiskCommandBase* command);
  // Tests only: ends the thread, waits for it, and releases the commands still
  // queued without running them. Not from the engine thread.
  void stop();
  bool isRunning();

  class NetDiskEngineThread_impl : public ACE_Task<ACE_MT_SYNCH> {
   public:
    NetDiskEngineThread_impl();
    int start();
    int putq(NetDiskCommandBase* command);
    // -1 when the queue fails or the block carries no command.
    int getq(NetDiskCommandBase*& command);
    int svc() override;
  };

 private:
  NetDiskEngineThread_impl* worker_;  // guarded by mutex_; null until started
  ACE_Thread_Mutex mutex_;
  bool started_;                      // guarded by mutex_
};

typedef ACE_Singleton<NetDiskEngineThread, ACE_Thread_Mutex> NetDiskEngineThreadSingleton;

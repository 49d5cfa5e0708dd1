#include "client/NetDiskEngineThread.h"

#include "client/NetDiskCommands.h"
#include "log/IM_LogManager.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_Thread.h>

#include <cerrno>
#include <new>

NetDiskEngineThread* NetDiskEngineThread::instance() { return NetDiskEngineThreadSingleton::instance(); }

NetDiskEngineThread::NetDiskEngineThread() : worker_(0), started_(false) {}

NetDiskEngineThread::~NetDiskEngineThread() {}

int NetDiskEngineThread::start() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, -1);
  if (started_) return 0;
  NetDiskEngineThread_impl* worker = new (std::nothrow) NetDiskEngineThread_impl();
  if (worker == 0) {
    errno = ENOMEM;
    return -1;
  }
  if (worker->start() == -1) {
    IM_LOG_ERROR("Start NetDiskEngineThread Failed.");
    delete worker;
    return -1;
  }
  worker_ = worker;
  started_ = true;
  return 0;
}

int NetDiskEngineThread::postCommand(NetDiskCommandBase* command) {
  if (command == 0) return -1;
  // Held across the put so that stop() cannot free the worker under it.
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, -1);
  if (worker_ == 0) return -1;
  return worker_->putq(command);
}

bool NetDiskEngineThread::isRunning() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  return started_;
}

void NetDiskEngineThread::stop() {
  NetDiskEngineThread_impl* worker = 0;
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    worker = worker_;
    worker_ = 0;
    started_ = false;
    if (worker == 0) return;
    worker->msg_queue()->deactivate();  // getq fails: the thread ends after its command
  }
  worker->wait();
  // Nobody can reach the worker any more: release what is still queued.
  worker->msg_queue()->activate();
  ACE_Time_Value now(ACE_Time_Value::zero);
  ACE_Message_Block* block = 0;
  while (worker->msg_queue()->dequeue_head(block, &now) != -1) {
    NetDiskCommandBase* command = NetDiskCommandBase::fromBlock(block);
    if (command != 0) command->release();
    now = ACE_Time_Value::zero;
  }
  delete worker;
}

NetDiskEngineThread::NetDiskEngineThread_impl::NetDiskEngineThread_impl() {
  msg_queue()->high_water_mark(0x50000);
  msg_queue()->low_water_mark(0x8000);
}

int NetDiskEngineThread::NetDiskEngineThread_impl::start() {
  return activate(THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, 1) == -1 ? -1 : 0;
}

int NetDiskEngineThread::NetDiskEngineThread_impl::putq(NetDiskCommandBase* command) {
  return ACE_Task<ACE_MT_SYNCH>::putq(command->messageBlock()) == -1 ? -1 : 0;
}

int NetDiskEngineThread::NetDiskEngineThread_impl::getq(NetDiskCommandBase*& command) {
  ACE_Message_Block* block = 0;
  if (ACE_Task<ACE_MT_SYNCH>::getq(block) == -1) return -1;
  command = NetDiskCommandBase::fromBlock(block);
  return command == 0 ? -1 : 0;
}

int NetDiskEngineThread::NetDiskEngineThread_impl::svc() {
  NetDiskCommandBase* command = 0;
  while (getq(command) != -1) {
    command->execute();
    command->release();
  }
  return 0;
}

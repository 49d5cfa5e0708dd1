#include "client/NetDiskTaskThread.h"

#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"
#include "protocol/SyncProtocol.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Manager.h>

namespace {

// Detached task threads alive; waitDetached waits for zero.
struct DetachedCount {
  DetachedCount() : cond(lock), count(0) {}
  ACE_Thread_Mutex lock;
  ACE_Condition_Thread_Mutex cond;  // signalled when count drops
  int count;                        // guarded by lock
};

DetachedCount& detached() {
  static DetachedCount* d = new DetachedCount();  // never freed: threads may outlive statics
  return *d;
}

void postOrDrop(NetDiskCommandBase* command) {
  if (NetDiskEngineThread::instance()->postCommand(command) != 0) {
    IM_LOG_ERROR("NetDiskTaskThread, [status = engine refused a result]");
    delete command;
  }
}

}  // namespace

void ListFileTask::execute() {
  ListFileResultCommand* result = new ListFileResultCommand(requestNumber_);
  // Also a failed listing belongs to its user: it must not empty another
  // user's list.
  result->setOwnerUserId(userId_);
  CSyncProtocol protocol(userId_, password_);
  double used = 0.0, total = 0.0;
  NodeTree nodes;
  bool ok = protocol.GetSpaceInfo(used, total) && protocol.GetFolderInfo(folder_, nodes);
  if (!ok) {
    IM_LOG_ERROR("ListFileTask::execute call GetFolderInfo return error.");
    result->error = NETDISK_ERR_LIST_FAILED;
  } else {
    IM_LOG_INFO("ListFileTask::execute call GetFolderInfo return success.");
    result->usedSpace = used;
    result->totalSpace = total;
    result->error = NETDISK_OK;
    for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) {
      CNodeInfo* node = *it;
      if (node == 0 || node->isFolder) continue;
      CFileInfo* file = dynamic_cast<CFileInfo*>(node);
      if (file == 0) continue;
      NetDiskFileItem item;
      item.name = file->name;
      item.size = file->size;
      item.created = file->created;
      item.nocomplete = file->nocomplete;
      item.hidden = false;
      result->files.push_back(item);
      if (!file->name.empty() && !file->downloadLink.empty())
        result->links.insert(std::make_pair(file->name, file->downloadLink));
    }
  }
  for (NodeTree::pre_order_iterator it = nodes.begin(); it != nodes.end(); ++it) delete *it;
  nodes.clear();
  postOrDrop(result);
}

void GetDownUrlTask::execute() {
  CSyncProtocol protocol(userId_, password_);
  GetDownUrlResultCommand* result = new GetDownUrlResultCommand(requestNumber_);
  for (size_t i = 0; i < names_.size(); ++i) {
    std::string url;
    if (protocol.getDownloadLinks(names_[i], url)) {
      IM_LOG_INFO("GetDownUrlTask::execute, [fileName = %s, url = %s]", names_[i].c_str(), url.c_str());
    } else {
      IM_LOG_ERROR("GetDownUrlTask::execute call getDownloadLink fail, fileName(%s).", names_[i].c_str());
      url.clear();
    }
    result->fetched.insert(std::make_pair(names_[i], url));
  }
  result->known = knownLinks;
  result->setOwnerUserId(userId_);
  postOrDrop(result);
}

NetDiskTaskThread* NetDiskTaskThread::instance() { return NetDiskTaskThreadSingleton::instance(); }

NetDiskTaskThread::NetDiskTaskThread() : running_(false) {}

int NetDiskTaskThread::start() { return open(); }

int NetDiskTaskThread::open(void*) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
  if (running_) return 0;
  msg_queue()->activate();
  if (activate(THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, 1) == -1) {
    IM_LOG_ERROR("NetDiskTaskThread, [status = Start failed]");
    return -1;
  }
  running_ = true;
  return 0;
}

int NetDiskTaskThread::postTask(NetDiskTaskBase* task) {
  if (task == 0) return -1;
  NetDiskTaskData* data = new NetDiskTaskData(task);
  if (putq(data) == -1) {
    IM_LOG_ERROR("postTask. putq Faild");
    delete data;
    return -1;
  }
  return 0;
}

int NetDiskTaskThread::svc() {
  for (;;) {
    ACE_Message_Block* block = 0;
    if (getq(block) == -1) {
      IM_LOG_ERROR("NetDiskTaskThread, [status = Got object from queue error]");
      break;
    }
    if (block == LongTimeTask::hangupBlock()) break;
    NetDiskTaskData* data = dynamic_cast<NetDiskTaskData*>(block);
    if (data == 0) {
      IM_LOG_ERROR("NetDiskTaskThread, [status = Got invalid object]");
      break;
    }
    NetDiskTaskBase* task = data->task();
    if (task != 0 && !task->isCanceled()) task->execute();
    delete task;
    delete data;
  }
  return 0;
}

void NetDiskTaskThread::stop() {
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, lock_);
    if (!running_) return;
  }
  // The marker goes first in line: queued tasks are not run.
  ungetq(LongTimeTask::hangupBlock());
  wait();
  ACE_Time_Value now(ACE_Time_Value::zero);
  ACE_Message_Block* block = 0;
  while (msg_queue()->dequeue_head(block, &now) != -1) {
    NetDiskTaskData* data = dynamic_cast<NetDiskTaskData*>(block);
    if (data != 0) {
      delete data->task();
      delete data;
    }
    now = ACE_Time_Value::zero;
  }
  ACE_GUARD(ACE_Thread_Mutex, guard, lock_);
  running_ = false;
}

int NetDiskTaskThread::runDetachedTask(NetDiskTaskBase* task) {
  if (task != 0) {
    if (!task->isCanceled()) task->execute();
    delete task;
  }
  return 0;
}

ACE_THR_FUNC_RETURN NetDiskTaskThread::detachedEntry(void* arg) {
  runDetachedTask(static_cast<NetDiskTaskBase*>(arg));
  DetachedCount& d = detached();
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, d.lock, 0);
  --d.count;
  d.cond.broadcast();
  return 0;
}

int NetDiskTaskThread::spawnDetached(NetDiskTaskBase* task) {
  if (task == 0) return -1;
  DetachedCount& d = detached();
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, d.lock, -1);
    ++d.count;
  }
  if (ACE_Thread_Manager::instance()->spawn_n(1, &NetDiskTaskThread::detachedEntry, task,
                                              THR_NEW_LWP | THR_DETACHED) == -1) {
    IM_LOG_ERROR("NetDiskTaskThread, [status = detached thread not started]");
    delete task;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, d.lock, -1);
    --d.count;
    d.cond.broadcast();
    return -1;
  }
  return 0;
}

void NetDiskTaskThread::waitDetached() {
  DetachedCount& d = detached();
  ACE_GUARD(ACE_Thread_Mutex, guard, d.lock);
  while (d.count > 0) d.cond.wait();
}

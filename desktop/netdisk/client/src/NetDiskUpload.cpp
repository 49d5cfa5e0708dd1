// NetDiskClient: the upload engine (admission, step scheduling, booking of
// confirmed blocks) and the upload controls (pause, resume, cancel, delete,
// events of the previous user). Engine thread only.
#include "client/NetDiskClient.h"

#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "client/NetDiskTaskThread.h"
#include "client/NetDiskUploadTask.h"
#include "client/SyncDb.h"
#include "client/UploadRecords.h"
#include "log/IM_LogManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace {

UploadTaskStatus makeStatus(const std::string& name, const std::string& localFile, int64_t length,
                            int64_t transferred, int state) {
  UploadTaskStatus s;
  s.relpath = name;
  s.localFile = localFile;
  s.fileLength = length;
  s.transferred = transferred;
  s.state = state;
  return s;
}

typedef NetDiskClient::StepSchedule StepSchedule;

}  // namespace

int64_t NetDiskClient::getLocalFileSize(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == 0) return -1;
  int64_t size = -1;
  if (fseeko(f, 0, SEEK_END) == 0) size = static_cast<int64_t>(ftello(f));
  fclose(f);
  return size;
}

int NetDiskClient::getLocalFileMtime(const std::string& path, std::string& mtime) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    mtime.clear();
    return -1;
  }
  char text[48];
  snprintf(text, sizeof(text), "%lu.%09ld", static_cast<unsigned long>(static_cast<uint32_t>(st.st_mtim.tv_sec)),
           static_cast<long>(st.st_mtim.tv_nsec));
  mtime = text;
  return 0;
}

bool NetDiskClient::sameMtime(const std::string& recorded, const std::string& now) {
  if (recorded == now) return true;
  // A record in whole seconds: only the seconds can be compared.
  return recorded.find('.') == std::string::npos && now.compare(0, now.find('.'), recorded) == 0;
}

bool NetDiskClient::wholeSecondMtime(const std::string& mtime) {
  std::string::size_type dot = mtime.find('.');
  return dot == std::string::npos || mtime.find_first_not_of('0', dot + 1) == std::string::npos;
}

void NetDiskClient::holdSpace(const std::string& name, int64_t size) {
  releaseSpace(name);
  heldSpace_[name] = size;
  updateSpaceInfo(size, true, true);
}

void NetDiskClient::releaseSpace(const std::string& name) {
  std::map<std::string, int64_t>::iterator it = heldSpace_.find(name);
  if (it == heldSpace_.end()) return;
  updateSpaceInfo(it->second, true, false);
  heldSpace_.erase(it);
}

void NetDiskClient::dropFromLists(const std::string& name) {
  removeName(waitList_, name);
  removeName(processList_, name);
}

UploadTaskStatus NetDiskClient::heldStatus(const std::string& name, int state) {
  UploadTaskStatus status = makeStatus(name, std::string(), 0, 0, state);
  std::map<std::string, UploadingFileStatus>::const_iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    status.localFile = it->second.localFile;
    status.fileLength = it->second.fileLength;
    status.transferred = it->second.transferred;
  }
  return status;
}

UploadTaskStatus NetDiskClient::recordedStatus(const std::string& name, int state) {
  if (uploadingFileStatus_.count(name) != 0) return heldStatus(name, state);
  UploadTaskStatus status = makeStatus(name, std::string(), 0, 0, state);
  UpFileTaskRecord row;
  if (SyncDb::instance()->getUpFileTask(name, row) == 0) {
    status.localFile = row.localFile;
    status.fileLength = row.size;
    status.transferred = row.xferSize;
  }
  return status;
}

void NetDiskClient::eraseIdleStatuses() {
  for (std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.begin();
       it != uploadingFileStatus_.end();) {
    if (it->second.runningThreads <= 0)
      uploadingFileStatus_.erase(it++);
    else
      ++it;
  }
}

// ---- Adding a file ----

void NetDiskClient::processAddFileUpload(const std::string& name, const std::string& localFile,
                                         int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processAddFileUpload,relpath is %s,localFile is %s, taskId is %d.", name.c_str(),
              localFile.c_str(), requestNumber);
  UploadTaskStatus refused;
  refused.localFile = localFile;
  int error = 0;
  // The file's own name, after the last separator of either kind.
  std::string::size_type cut = localFile.find_last_of("\\/");
  std::string fileName = cut == std::string::npos ? localFile : localFile.substr(cut + 1);
  int64_t size = -1;
  if (localFiles_.count(localFile) != 0) {
    IM_LOG_INFO("NetDiskClient::processAddFileUpload,localFile is uploadding.");
    error = NETDISK_ERR_UPLOAD_EXISTS;
  } else if (fileName.empty() || (size = getLocalFileSize(localFile)) < 0) {
    IM_LOG_ERROR("NetDiskClient::processAddFileUpload, [status = local file unreadable, localFile = %s]",
                 localFile.c_str());
    error = NETDISK_ERR_FILE_UNREADABLE;
  } else if (size >= MAX_FILE_SIZE) {
    IM_LOG_INFO("NetDiskClient::processAddFileUpload,localFile's maxsize is 2G.");
    error = NETDISK_ERR_TOO_LARGE;
  } else if (!checkSpace(size)) {
    IM_LOG_INFO("NetDiskClient::processAddFileUpload,user's space is not enough.");
    error = NETDISK_ERR_NO_SPACE;
  }
  if (error != 0) {
    forEachListener([&](INetDiskClientListener* l) { l->onAddUploadTask(refused, error); });
    return;
  }

  std::string relpath = fileName;
  for (int attempt = 0; contains(finishedNames_, relpath) || contains(unfinishedNames_, relpath); ++attempt) {
    if (attempt == 0) {
      relpath = "copyof" + fileName;
    } else {
      char prefix[32];
      snprintf(prefix, sizeof(prefix), "copyof%d", attempt);
      relpath = prefix + fileName;
    }
  }
  IM_LOG_INFO("NetDiskClient::processAddFileUpload,created filename is %s.", relpath.c_str());
  std::string mtime;
  getLocalFileMtime(localFile, mtime);

  SyncDb* db = SyncDb::instance();
  UploadRecords::add(db, relpath, localFile, size, mtime, BLOCK_SIZE);

  unfinishedNames_.push_back(relpath);
  localFiles_[localFile] = relpath;
  int r = addUploadTask_i(relpath);
  if (r == -1) {
    // The task row could not be read back: nothing was admitted.
    removeName(unfinishedNames_, relpath);
    localFiles_.erase(localFile);
    UploadRecords::remove(db, relpath);
    forEachListener([&](INetDiskClientListener* l) { l->onAddUploadTask(refused, NETDISK_ERR_NO_TASK); });
    return;
  }
  holdSpace(relpath, size);
  UploadTaskStatus added = makeStatus(relpath, localFile, size, 0, r);
  added.flag = true;
  forEachListener([&](INetDiskClientListener* l) { l->onAddUploadTask(added, 0); });
}

// ---- Admission and scheduling ----

int NetDiskClient::addUploadTask_i(const std::string& name) {
  IM_LOG_INFO("NetDiskClient::addUploadTask_i,relpath is %s.", name.c_str());
  if (holdNewTasks_ || static_cast<int>(processList_.size()) >= maxTask_) {
    waitList_.push_back(name);
    IM_LOG_INFO("NetDiskClient::addUploadTask_i,uploadTask enter wait list.");
    return 2;
  }
  IM_LOG_INFO("NetDiskClient::addUploadTask_i,uploadTask enter process list.");
  int step = STEP_CREATE, demand = 0;
  int r = getUploadFileStatus(name, step, demand);
  if (r == -1) return -1;
  processList_.push_back(name);
  if (r == 1) {
    // Still running from before: record its need; the next result starts it.
    scheduleRunning(name);
  } else {
    startUploadThread(name, step, demand);
  }
  return 1;
}

void NetDiskClient::spawnStep(NetDiskTaskBase* task, const std::string& name, int upStatus, int blockIndex) {
  task->setUser(userId_, password_);
  ++runningThreads_;
  // A create that never goes out leaves the record as it was (read now: the task is gone after).
  const int ownFile = upStatus == STEP_CREATE ? static_cast<CreateFileTask*>(task)->ownFile() : -1;
  if (NetDiskTaskThread::spawnDetached(task) == 0) return;
  // No thread: the step failed; its result arrives like any other.
  int kind = upStatus == STEP_CREATE  ? UploadFileStatusCommand::CREATE_FAILED
             : upStatus == STEP_MERGE ? UploadFileStatusCommand::MERGE_FAILED
                                      : UploadFileStatusCommand::BLOCK_FAILED;
  UploadFileStatusCommand* failed = new UploadFileStatusCommand(0, name, kind);
  failed->blockIndex = blockIndex;
  failed->ownFile = ownFile;
  failed->setOwnerUserId(userId_);
  if (NetDiskEngineThread::instance()->postCommand(failed) != 0) {
    delete failed;
    --runningThreads_;
  }
}

int NetDiskClient::startUploadThread(const std::string& name, int upStatus, int demand) {
  // "maxThread is" here and in the scheduling logs below names the upload's thread demand.
  IM_LOG_INFO("NetDiskClient::startUploadThread,relpath is %s, upStatus is %d, maxThread is %d", name.c_str(),
              upStatus, demand);
  if (runningThreads_ >= maxThread_) {
    if (upStatus == STEP_CREATE)
      stepSchedule_[name] = StepSchedule::single(StepSchedule::CREATE_WAITING);
    else if (upStatus == STEP_MERGE)
      stepSchedule_[name] = StepSchedule::single(StepSchedule::MERGE_WAITING);
    else if (upStatus == STEP_BLOCKS && stepSchedule_.count(name) == 0)
      stepSchedule_[name] = StepSchedule::blocks(0, demand);
    return 0;
  }
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) return 0;
  UploadingFileStatus& s = it->second;
  if (upStatus == STEP_CREATE) {
    stepSchedule_[name] = StepSchedule::single(StepSchedule::CREATE_RUNNING);
    s.upStatus = STEP_CREATE;
    ++s.runningThreads;
    CreateFileTask* task = new CreateFileTask(name, s.fileLength, s.blockCount);
    task->setOwnFile(UploadRecords::ownFileOf(SyncDb::instance(), name));
    spawnStep(task, name, STEP_CREATE, -1);
  } else if (upStatus == STEP_MERGE) {
    stepSchedule_[name] = StepSchedule::single(StepSchedule::MERGE_RUNNING);
    s.upStatus = STEP_MERGE;
    ++s.runningThreads;
    MergeFileTask* task = new MergeFileTask(name);
    task->setExpectedFileLength(s.fileLength);
    task->setLocalFile(s.localFile);
    if (wholeSecondMtime(s.mtime)) {
      // The record's digest of the confirmed blocks, against which the local file is read.
      UpFileTaskRecord row;
      SyncDb::instance()->getUpFileTask(name, row);
      task->setVerify(s.blockSize, row.md5);
    }
    spawnStep(task, name, STEP_MERGE, -1);
  } else if (upStatus == STEP_BLOCKS) {
    std::string localFile;
    int index = 0, length = 0, count = 0;
    int64_t offset = 0;
    int running = s.runningThreads;
    if (getUploadBlockInfo(name, localFile, index, offset, length, count) != 0) return 0;
    std::map<std::string, StepSchedule>::iterator e = stepSchedule_.find(name);
    if (e == stepSchedule_.end())
      stepSchedule_[name] = StepSchedule::blocks(running + 1, demand);
    else
      ++e->second.running;
    s.upStatus = STEP_BLOCKS;
    ++s.runningThreads;
    UploadFileTask* task = new UploadFileTask(name, localFile, index, offset, length, count);
    task->setExpectedFileLength(s.fileLength);
    task->setExpectedMtime(s.mtime);
    spawnStep(task, name, STEP_BLOCKS, index);
  }
  return 0;
}

void NetDiskClient::scheduleRunning(const std::string& name) {
  const UploadingFileStatus& s = uploadingFileStatus_[name];
  if (s.upStatus == STEP_CREATE)
    stepSchedule_[name] = StepSchedule::single(StepSchedule::CREATE_RUNNING);
  else if (s.upStatus == STEP_MERGE)
    stepSchedule_[name] = StepSchedule::single(StepSchedule::MERGE_RUNNING);
  else
    stepSchedule_[name] = StepSchedule::blocks(s.runningThreads, static_cast<int>(s.inFlight.size() + s.pending.size()));
}

int NetDiskClient::getUploadFileStatus(const std::string& name, int& upStatus, int& demand,
                                       UploadingFileStatus* out) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end() && it->second.runningThreads > 0) {
    const UploadingFileStatus& s = it->second;
    upStatus = s.upStatus;
    demand = s.upStatus == STEP_BLOCKS ? static_cast<int>(s.inFlight.size() + s.pending.size()) : 1;
    IM_LOG_INFO("NetDiskClient::getUploadFileStatus,relpath is %s, upStatus is %d, maxThread is %d.",
                name.c_str(), upStatus, demand);
    if (out != 0) {
      out->fileLength = s.fileLength;
      out->transferred = s.transferred;
    }
    return 1;
  }
  UploadingFileStatus s;
  int d = updateFromDatabase(name, s);
  if (d < 0) return -1;
  uploadingFileStatus_[name] = s;
  upStatus = s.upStatus;
  demand = d;
  if (out != 0) {
    out->fileLength = s.fileLength;
    out->transferred = s.transferred;
  }
  return 0;
}

int NetDiskClient::updateFromDatabase(const std::string& name, UploadingFileStatus& status) {
  IM_LOG_INFO("NetDiskClient::updateFromDatabase,load data from database ,relpath is %s.", name.c_str());
  SyncDb* db = SyncDb::instance();
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return -1;
  FileEntryRecord file;
  if (db->getFile(name, 0, file) == 0) status.date = file.expireTime;
  status.localFile = row.localFile;
  status.mtime = row.mtime;
  status.fileLength = row.size;
  status.transferred = row.xferSize;
  status.blockSize = UploadRecords::blockSizeOf(row.blockSize);
  status.blockCount = UploadRecords::blockCount(row.size, status.blockSize);
  status.runningThreads = 0;
  status.inFlight.clear();
  status.pending.clear();
  std::vector<UpBlockTaskRecord> blocks;
  db->listUpBlockTasks(name, blocks);
  for (size_t i = 0; i < blocks.size(); ++i) status.pending.push_back(blocks[i].blockIndex);
  int demand = 1;
  if (row.status == UPTASK_NEW) {
    if (!status.pending.empty()) {
      UploadRecords::dropBlocksOfNew(db, row);
      status.pending.clear();
    }
    status.upStatus = STEP_CREATE;
  } else if (status.pending.empty()) {
    status.upStatus = STEP_MERGE;
  } else {
    status.upStatus = STEP_BLOCKS;
    demand = static_cast<int>(status.pending.size());
  }
  IM_LOG_INFO("NetDiskClient::updateFromDatabase,fileInfo (fileLength:%lld,xferLength:%lld,status:%d,blockCount:%d.",
              static_cast<long long>(status.fileLength), static_cast<long long>(status.transferred),
              status.upStatus, static_cast<int>(status.pending.size()));
  return demand;
}

int NetDiskClient::getNextUploadTask(std::string& name, int& upStatus, int& demand) {
  while (static_cast<int>(processList_.size()) < maxTask_ && !waitList_.empty()) {
    std::string next = waitList_.front();
    waitList_.pop_front();
    processList_.push_back(next);
    UploadingFileStatus info;
    int step = 0, need = 0;
    int r = getUploadFileStatus(next, step, need, &info);
    if (r == -1) {
      // Its rows are gone: it cannot go on.
      dropFromLists(next);
      releaseSpace(next);
      notifyUploadStatus(makeStatus(next, std::string(), 0, 0, UploadTaskStatus::STOPPED), 0,
                         NETDISK_ERR_NO_TASK);
      continue;
    }
    IM_LOG_INFO("NetDiskClient::getNextUploadTask(get it in wait list), relpath is %s, upStatus is %d, maxThread is %d.",
                next.c_str(), step, need);
    const UploadingFileStatus& s = uploadingFileStatus_[next];
    notifyUploadStatus(makeStatus(next, s.localFile, info.fileLength, info.transferred, UploadTaskStatus::UPLOADING),
                       0, 0);
    if (r == 1) {
      // Its step still runs: only record the need.
      scheduleRunning(next);
      continue;
    }
    name = next;
    upStatus = step;
    demand = need;
    return 0;
  }
  bool found = false;
  int bound = maxThread_;
  upStatus = STEP_BLOCKS;
  demand = 0;
  // A create or merge waiting for a thread goes first; else the upload with the fewest block
  // threads that wants more.
  for (std::map<std::string, StepSchedule>::iterator it = stepSchedule_.begin(); it != stepSchedule_.end(); ++it) {
    const StepSchedule& e = it->second;
    if (e.running == StepSchedule::SINGLE) {
      if (e.is(StepSchedule::CREATE_WAITING) || e.is(StepSchedule::MERGE_WAITING)) {
        name = it->first;
        upStatus = e.is(StepSchedule::CREATE_WAITING) ? STEP_CREATE : STEP_MERGE;
        demand = 1;
        found = true;
        break;
      }
      continue;
    }
    if (e.demand > e.running && e.running < bound) {
      name = it->first;
      upStatus = STEP_BLOCKS;
      demand = e.demand;
      bound = e.running;
      found = true;
    }
  }
  if (!found) {
    IM_LOG_DEBUG("NetDiskClient::getNextUploadTask,not found next task.");
    return -1;
  }
  IM_LOG_INFO("NetDiskClient::getNextUploadTask,relpath is %s, upStatus is %d, maxThread is %d.", name.c_str(),
              upStatus, demand);
  return 0;
}

int NetDiskClient::startWaitTasks() {
  if (holdNewTasks_) {
    if (!uploadingFileStatus_.empty()) return -1;
    holdNewTasks_ = false;
    stopUploads_ = false;
  }
  if (processList_.empty() && waitList_.empty()) return -1;
  std::string name;
  int step = 0, demand = 0;
  if (runningThreads_ >= maxThread_) {
    if (getNextUploadTask(name, step, demand) == 0) {
      IM_LOG_INFO("NetDiskClient::startWaitTasks(thread number is max.),relpath is %s, upStatus is %d, maxThread is %d.",
                  name.c_str(), step, demand);
      startUploadThread(name, step, demand);
    }
    return 0;
  }
  while (runningThreads_ < maxThread_) {
    if (getNextUploadTask(name, step, demand) != 0) break;
    IM_LOG_INFO("NetDiskClient::startWaitTasks(thread number less than max.),relpath is %s, upStatus is %d, maxThread is %d.",
                name.c_str(), step, demand);
    int before = runningThreads_;
    startUploadThread(name, step, demand);
    if (runningThreads_ == before) {
      // Nothing could start for it: forget that need rather than ask again.
      std::map<std::string, StepSchedule>::iterator e = stepSchedule_.find(name);
      if (e != stepSchedule_.end()) {
        if (e->second.running <= 0)
          stepSchedule_.erase(e);
        else
          e->second.demand = e->second.running;  // only its running blocks remain
      }
    }
  }
  return 0;
}

int NetDiskClient::getUploadBlockInfo(const std::string& name, std::string& localFile, int& blockIndex,
                                      int64_t& offset, int& length, int& blockCount) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) return -1;
  UploadingFileStatus& s = it->second;
  if (s.upStatus != STEP_BLOCKS || s.pending.empty()) return -1;
  blockIndex = s.pending.front();
  s.pending.pop_front();
  s.inFlight.push_back(blockIndex);
  offset = static_cast<int64_t>(blockIndex) * s.blockSize;
  length = UploadRecords::blockLength(s.fileLength, s.blockSize, blockIndex);
  localFile = s.localFile;
  blockCount = s.blockCount;
  return 0;
}

// ---- Step results ----

bool NetDiskClient::updateThreadState(const std::string& name, int upStatus, int delta, int blockIndex,
                                      bool requeue) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) {
    IM_LOG_DEBUG("NetDiskClient::updateThreadState, [relpath = %s, status = absent]", name.c_str());
    return false;
  }
  UploadingFileStatus& s = it->second;
  s.upStatus = upStatus;
  s.runningThreads += delta;
  if (blockIndex >= 0) {
    std::list<int>::iterator b = std::find(s.inFlight.begin(), s.inFlight.end(), blockIndex);
    if (b != s.inFlight.end()) {
      s.inFlight.erase(b);
      if (requeue) s.pending.push_back(blockIndex);
    }
  }
  if (s.runningThreads <= 0 && stepSchedule_.count(name) == 0) {
    uploadingFileStatus_.erase(it);
    IM_LOG_DEBUG("NetDiskClient::updateThreadState, [relpath = %s, status = dropped]", name.c_str());
    return true;
  }
  return false;
}

int NetDiskClient::bookCreatedFile(const std::string& name, const std::string& date) {
  bool booked = false;
  int count = UploadRecords::bookCreated(SyncDb::instance(), name, date, booked);
  if (count < 0) return -1;
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    UploadingFileStatus& s = it->second;
    s.upStatus = STEP_BLOCKS;
    s.blockCount = count;
    s.pending.clear();
    s.inFlight.clear();
    for (int i = 0; i < count; ++i) s.pending.push_back(i);
    if (!date.empty()) s.date = date;
  }
  return count;
}

void NetDiskClient::processCreateFileSuccess(const std::string& name, const std::string& downUrl,
                                             const std::string& date) {
  IM_LOG_INFO("NetDiskClient::processCreateFileSuccess,relpath is %s, downUrl is %s, created is %s.", name.c_str(),
              downUrl.c_str(), date.c_str());
  --runningThreads_;
  if (!downUrl.empty()) downloadUrls_[name] = downUrl;
  int count = bookCreatedFile(name, date);
  if (count >= 0) {
    int step = STEP_CREATE, demand = 0;
    UploadingFileStatus info;
    if (getUploadFileStatus(name, step, demand, &info) >= 0) {
      const UploadingFileStatus& s = uploadingFileStatus_[name];
      UploadTaskStatus status = makeStatus(name, s.localFile, info.fileLength, 0, UploadTaskStatus::UPLOADING);
      status.date = s.date;
      notifyUploadStatus(status, 0, 0);
    }
  }
  scheduleAfterCreate(name, count);
  startWaitTasks();
}

void NetDiskClient::scheduleAfterCreate(const std::string& name, int count) {
  std::map<std::string, StepSchedule>::iterator e = stepSchedule_.find(name);
  if (e != stepSchedule_.end()) {
    if (count > 0)
      e->second = StepSchedule::blocks(0, count);
    else if (count == 0)
      e->second = StepSchedule::single(StepSchedule::MERGE_WAITING);
    else
      stepSchedule_.erase(e);
  }
  bool dropped = updateThreadState(name, count > 0 ? STEP_BLOCKS : STEP_MERGE, -1, -1, false);
  if (dropped && contains(deleteRequests_, name)) deleteFile_i(name, true);
}

void NetDiskClient::processUploadThreadComplete(const std::string& name, int upStatus, int blockIndex, int error) {
  IM_LOG_INFO("NetDiskClient::processUploadThreadComplete,relpath is %s, upStatus is %d, blockIndex is %d, error is %d.",
              name.c_str(), upStatus, blockIndex, error);
  --runningThreads_;
  bool dropped = false;
  std::map<std::string, StepSchedule>::iterator e = stepSchedule_.find(name);
  if (error != NETDISK_OK) {
    if (e != stepSchedule_.end()) {
      stepSchedule_.erase(e);
      UploadTaskStatus status = heldStatus(name, UploadTaskStatus::STOPPED);
      delUploadTask_i(name);
      notifyUploadStatus(status, 0, error);
    }
    dropped = updateThreadState(name, upStatus, -1, blockIndex, true);
  } else if (upStatus == STEP_CREATE) {
    scheduleAfterCreate(name, bookCreatedFile(name, std::string()));
  } else if (upStatus == STEP_MERGE) {
    if (e != stepSchedule_.end()) stepSchedule_.erase(e);
    UploadTaskStatus status = recordedStatus(name, UploadTaskStatus::FINISHED);
    delUploadTask_i(name);
    dropped = updateThreadState(name, STEP_MERGE, -1, -1, false);
    finishUpload(name, status.fileLength, true);
    notifyUploadStatus(status, 0, 0);
  } else if (upStatus == STEP_BLOCKS) {
    int step = STEP_BLOCKS;
    if (e != stepSchedule_.end()) {
      e->second.running -= 1;
      e->second.demand -= 1;
      if (e->second.demand <= 0) {
        e->second = StepSchedule::single(StepSchedule::MERGE_WAITING);
        step = STEP_MERGE;
      }
    }
    dropped = updateThreadState(name, step, -1, blockIndex, false);
  }
  if (dropped && contains(deleteRequests_, name)) deleteFile_i(name, true);
  startWaitTasks();
}

void NetDiskClient::finishUpload(const std::string& name, int64_t length, bool countUsed) {
  UploadRecords::finish(SyncDb::instance(), name);
  if (countUsed) updateSpaceInfo(length, false, true);
  removeName(unfinishedNames_, name);
  if (!contains(finishedNames_, name)) finishedNames_.push_back(name);
  for (std::map<std::string, std::string>::iterator l = localFiles_.begin(); l != localFiles_.end();) {
    if (l->second == name)
      localFiles_.erase(l++);
    else
      ++l;
  }
}

void NetDiskClient::processCreateFailed(const std::string& name, int ownFile, int error) {
  if (ownFile >= 0) UploadRecords::createFailed(SyncDb::instance(), name, ownFile);
  processUploadThreadComplete(name, STEP_CREATE, -1, error);
}

void NetDiskClient::processBlockStored(const std::string& name, int blockIndex, const std::string& md5) {
  updateToDatabase(name, blockIndex, md5);
  processUploadThreadComplete(name, STEP_BLOCKS, blockIndex, NETDISK_OK);
}

void NetDiskClient::processMergeResult(const std::string& name, int error) {
  if (error == NETDISK_ERR_FILE_CHANGED) {
    // Nothing was merged: the upload sends the local file whole, as it is now (into its own
    // file at the same length; else its create first removes that file). A file that grew to
    // 2 GB or more cannot be sent: the upload stops with that error.
    SyncDb* db = SyncDb::instance();
    UpFileTaskRecord row;
    if (db->getUpFileTask(name, row) == 0) {
      int64_t size = getLocalFileSize(row.localFile);
      std::string mtime;
      if (size < 0 || getLocalFileMtime(row.localFile, mtime) != 0) {
        size = row.size;  // unreadable now: its block step will say so
        mtime = row.mtime;
      }
      IM_LOG_WARN("NetDiskClient::processMergeResult, [status = local file changed, upload starts again, relpath = %s, "
                  "size = %lld -> %lld]",
                  name.c_str(), static_cast<long long>(row.size), static_cast<long long>(size));
      UploadRecords::restart(db, row, size, mtime);
      if (size >= MAX_FILE_SIZE) error = NETDISK_ERR_TOO_LARGE;
    }
    // The held status is of the old length and blocks: the next Start reads the record again.
    std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
    if (it != uploadingFileStatus_.end()) {
      it->second.pending.clear();
      it->second.inFlight.clear();
    }
  }
  processUploadThreadComplete(name, STEP_MERGE, -1, error);
}

void NetDiskClient::updateToDatabase(const std::string& name, int blockIndex, const std::string& md5) {
  IM_LOG_INFO("NetDiskClient::updateToDatabase,update database after send block,relpath is%s, blockIndex is %d.",
              name.c_str(), blockIndex);
  // The held status knows the upload's length, block size and time; else its record does.
  int64_t size = 0;
  int blockSize = BLOCK_SIZE;
  std::string mtime;
  std::map<std::string, UploadingFileStatus>::const_iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    size = it->second.fileLength;
    blockSize = UploadRecords::blockSizeOf(it->second.blockSize);
    mtime = it->second.mtime;
  } else {
    UpFileTaskRecord row;
    if (SyncDb::instance()->getUpFileTask(name, row) != 0) return;
    size = row.size;
    blockSize = UploadRecords::blockSizeOf(row.blockSize);
    mtime = row.mtime;
  }
  if (UploadRecords::bookBlock(SyncDb::instance(), name, blockIndex, UploadRecords::blockLength(size, blockSize, blockIndex),
                               md5, wholeSecondMtime(mtime)) != 0)
    IM_LOG_ERROR("NetDiskClient::updateToDatabase, [status = block not booked, relpath = %s, blockIndex = %d]",
                 name.c_str(), blockIndex);
}

bool NetDiskClient::addTransferred(const std::string& name, int delta, int64_t& transferred, int64_t& fileLength) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) return false;
  it->second.transferred += delta;
  transferred = it->second.transferred;
  fileLength = it->second.fileLength;
  return true;
}

int NetDiskClient::delUploadTask_i(const std::string& name) {
  IM_LOG_INFO("NetDiskClient::delUploadTask_i,relpath is %s.", name.c_str());
  if (contains(waitList_, name)) {
    releaseSpace(name);
    IM_LOG_INFO("NetDiskClient::delUploadTask_i,remove task:%s in wait list.", name.c_str());
    removeName(waitList_, name);
    return 2;
  }
  if (contains(processList_, name)) {
    IM_LOG_INFO("NetDiskClient::delUploadTask_i,remove task:%s in process list.", name.c_str());
    releaseSpace(name);
    std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
    if (it != uploadingFileStatus_.end() && it->second.runningThreads <= 0) uploadingFileStatus_.erase(it);
    stepSchedule_.erase(name);
    removeName(processList_, name);
    return 1;
  }
  IM_LOG_ERROR("NetDiskClient::delUploadTask_i,not found relpath:%s in waitlist and process list.", name.c_str());
  return -1;
}

// ---- Controls ----

void NetDiskClient::processPauseUpload(const std::string& name, int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processPauseUpload,relpath is %s,taskId is %d.", name.c_str(), requestNumber);
  UploadTaskStatus status = heldStatus(name, UploadTaskStatus::STOPPED);
  int r = delUploadTask_i(name);
  notifyUploadStatus(status, r, 0);
  startWaitTasks();
}

void NetDiskClient::processResumeUpload(const std::string& name, int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processResumeUpload,relpath is %s,taskId is %d.", name.c_str(), requestNumber);
  SyncDb* db = SyncDb::instance();
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) {
    FileEntryRecord file;
    if (contains(finishedNames_, name) && db->getFile(name, 0, file) == 0) {
      notifyUploadStatus(makeStatus(name, std::string(), file.size, file.size, UploadTaskStatus::FINISHED), 0, 0);
    } else {
      notifyUploadStatus(makeStatus(name, std::string(), 0, 0, UploadTaskStatus::STOPPED), 0, NETDISK_ERR_NO_TASK);
    }
    return;
  }
  const bool admitted = contains(processList_, name) || contains(waitList_, name);
  if (!admitted && uploadingFileStatus_.count(name) == 0 && mergedOnServer(row)) {
    // Its merge was done, its answer lost: the blocks were read (and checked) before the merge
    // went out, and the listing counts its space.
    IM_LOG_INFO("NetDiskClient::processResumeUpload, [status = merged before, finished, relpath = %s]", name.c_str());
    finishUpload(name, row.size, false);
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.size, UploadTaskStatus::FINISHED), 0, 0);
    return;
  }
  if (!admitted) restartIfChanged(name, row);
  if (!admitted && row.size >= MAX_FILE_SIZE) {
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, 0, UploadTaskStatus::STOPPED), 0,
                       NETDISK_ERR_TOO_LARGE);
    return;
  }
  if (admitted) {
    // Already admitted: admitting it twice would run it twice.
    int state = contains(processList_, name) ? UploadTaskStatus::UPLOADING : UploadTaskStatus::WAITING;
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, state), 0, 0);
    return;
  }
  if (!checkSpace(row.size)) {
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, UploadTaskStatus::STOPPED), 0,
                       NETDISK_ERR_NO_SPACE);
    return;
  }
  if (!holdNewTasks_ && static_cast<int>(processList_.size()) >= maxTask_) {
    std::string oldest = processList_.front();
    std::map<std::string, int64_t>::const_iterator held = heldSpace_.find(oldest);
    const int64_t oldestHeld = held != heldSpace_.end() ? held->second : 0;
    delUploadTask_i(oldest);
    waitList_.push_back(oldest);
    holdSpace(oldest, oldestHeld);  // it still holds its space while waiting
    UpFileTaskRecord o;
    UploadTaskStatus demoted = makeStatus(oldest, std::string(), 0, 0, UploadTaskStatus::WAITING);
    if (db->getUpFileTask(oldest, o) == 0) {
      demoted.localFile = o.localFile;
      demoted.fileLength = o.size;
      demoted.transferred = o.xferSize;
    }
    notifyUploadStatus(demoted, 0, 0);
  }
  int r = addUploadTask_i(name);
  if (r == 1 || r == 2) {
    holdSpace(name, row.size);
    localFiles_[row.localFile] = name;
    if (!contains(unfinishedNames_, name) && !contains(finishedNames_, name)) unfinishedNames_.push_back(name);
    int state = r == 1 ? UploadTaskStatus::UPLOADING : UploadTaskStatus::WAITING;
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, state), 0, 0);
  } else {
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, UploadTaskStatus::STOPPED), 0,
                       NETDISK_ERR_NO_TASK);
  }
}

bool NetDiskClient::mergedOnServer(const UpFileTaskRecord& row) {
  if (row.status != UPTASK_CREATED || row.xferSize < row.size || !contains(finishedNames_, row.relpath)) return false;
  SyncDb* db = SyncDb::instance();
  std::vector<UpBlockTaskRecord> blocks;
  FileEntryRecord listed;
  return db->listUpBlockTasks(row.relpath, blocks) == 0 && blocks.empty() && db->getFile(row.relpath, 0, listed) == 0 &&
         listed.status == 1 && listed.size == row.size;
}

bool NetDiskClient::restartIfChanged(const std::string& name, UpFileTaskRecord& row) {
  std::map<std::string, UploadingFileStatus>::const_iterator held = uploadingFileStatus_.find(name);
  if (held != uploadingFileStatus_.end() && held->second.runningThreads > 0) return false;  // its blocks tell
  int64_t size = getLocalFileSize(row.localFile);
  std::string mtime;
  if (size < 0 || getLocalFileMtime(row.localFile, mtime) != 0) return false;
  if (size == row.size && sameMtime(row.mtime, mtime)) return false;
  IM_LOG_WARN("NetDiskClient::restartIfChanged, [status = local file changed, upload starts again, relpath = %s, "
              "size = %lld -> %lld, mtime = %s -> %s]",
              name.c_str(), static_cast<long long>(row.size), static_cast<long long>(size), row.mtime.c_str(),
              mtime.c_str());
  UploadRecords::restart(SyncDb::instance(), row, size, mtime);
  uploadingFileStatus_.erase(name);
  return true;
}

void NetDiskClient::processCancelAllUpload(int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processCancelAllUpload,taskId is %d.", requestNumber);
  // The cancelled uploads give back the space they held.
  heldSpace_.clear();
  processSpace_ = 0;
  waitList_.clear();
  stepSchedule_.clear();
  processList_.clear();
  // Statuses without a running thread would otherwise stay for good.
  eraseIdleStatuses();
  fileListLoaded_ = false;
}

void NetDiskClient::processDeleteUpload(const std::string& name, int requestNumber) {
  if (contains(deleteRequests_, name)) {
    IM_LOG_INFO("NetDiskClient::processDeleteUpload,delete is  processing, relpath: %s,taskId is:%d.", name.c_str(),
                requestNumber);
    return;
  }
  deleteRequests_.push_back(name);
  delUploadTask_i(name);
  if (uploadingFileStatus_.count(name) != 0) {
    IM_LOG_INFO("NetDiskClient::processDeleteUpload,file is uploading, wait a short time.");
    return;
  }
  deleteFile_i(name, false);
}

int NetDiskClient::deleteFile_i(const std::string& name, bool onlyIfRequested) {
  if (onlyIfRequested && !contains(deleteRequests_, name)) return -1;
  IM_LOG_INFO("NetDiskClient::deleteFile_i,relpath:%s require to be deleted", name.c_str());
  SyncDb* db = SyncDb::instance();
  UpFileTaskRecord row;
  bool hasRow = db->getUpFileTask(name, row) == 0;
  if (hasRow && !UploadRecords::ownsServerFile(row)) {
    // Its record proves nothing of it on the server: nothing is removed there.
    UploadRecords::remove(db, name);
    localFiles_.erase(row.localFile);
    removeName(unfinishedNames_, name);
    removeName(deleteRequests_, name);
    forEachListener([&](INetDiskClientListener* l) { l->onDeleteFile(name, 0); });
    return 0;
  }
  DeleteFileTask* task = new DeleteFileTask(name, hasRow ? row.localFile : std::string());
  task->setUser(userId_, password_);
  if (NetDiskTaskThread::spawnDetached(task) != 0) {
    removeName(deleteRequests_, name);
    forEachListener([&](INetDiskClientListener* l) { l->onDeleteFile(name, NETDISK_ERR_DELETE_FAILED); });
  }
  return 0;
}

void NetDiskClient::processDeleteFileResult(const std::string& name, const std::string& localFile, int error) {
  IM_LOG_INFO("NetDiskClient::processDeleteFileResult, [relpath = %s, error = %d]", name.c_str(), error);
  if (error == 0) {
    SyncDb* db = SyncDb::instance();
    FileEntryRecord file;
    if (db->getFile(name, 0, file) == 0 && file.status == 1) updateSpaceInfo(file.size, false, false);
    if (!localFile.empty())
      UploadRecords::remove(db, name);  // an upload's record
    else
      db->deleteFile(name, 0);  // a listed file's row
    if (contains(unfinishedNames_, name))
      removeName(unfinishedNames_, name);
    else if (localFile.empty())
      removeName(finishedNames_, name);
    if (!localFile.empty()) localFiles_.erase(localFile);
    downloadUrls_.erase(name);
  }
  removeName(deleteRequests_, name);
  forEachListener([&](INetDiskClientListener* l) { l->onDeleteFile(name, error); });
}

void NetDiskClient::processOldUploadEvent(const std::string& name) {
  --runningThreads_;
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) {
    IM_LOG_ERROR("NetDiskClient::processOldUploadEvent,relpath:%s is not in uploadingFileStatus_.", name.c_str());
  } else if (--it->second.runningThreads <= 0) {
    uploadingFileStatus_.erase(it);
  }
  startWaitTasks();
}

// NetDiskClient: the upload engine (admission, step scheduling, booking of
// confirmed blocks) and the upload controls (pause, resume, cancel, delete,
// events of the previous user). Engine thread only.
#include "client/NetDiskClient.h"

#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "client/NetDiskTaskThread.h"
#include "client/NetDiskUploadTask.h"
#include "client/SyncDb.h"
#include "log/IM_LogManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace {

int blockCountOf(int64_t size, int blockSize) {
  if (blockSize <= 0 || size <= 0) return 0;
  return static_cast<int>(size / blockSize + (size % blockSize != 0 ? 1 : 0));
}

int64_t blockLengthOf(int64_t size, int blockSize, int index) {
  int count = blockCountOf(size, blockSize);
  if (index == count - 1 && size % blockSize != 0) return size % blockSize;
  return blockSize;
}

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

// The net disk's file row of an upload that has not been merged yet.
void insertUnfinishedFile(SyncDb* db, const std::string& relpath, int64_t size) {
  FileEntryRecord file;
  file.fileType = 0;
  file.relpath = relpath;
  file.size = size;
  file.status = 0;
  file.dirFlag = 0;
  db->insertFile(file);
}

// Puts an upload's record back to its first step at the given length and time: its block rows
// go, and its net-disk file row reads unfinished at that length. `status` is UPTASK_NEW, or
// UPTASK_MERGED_STALE when a merged file of the upload's must go from the server first.
void restartRecord(SyncDb* db, const std::string& name, UpFileTaskRecord& row, int64_t size,
                   const std::string& mtime, int status) {
  row.size = size;
  row.mtime = mtime;
  row.xferSize = 0;
  row.status = status;
  db->insertUpFileTask(row);  // the old row and its block rows go
  UpFileTaskRecord fresh;
  if (db->getUpFileTask(name, fresh) == 0) row = fresh;
  insertUnfinishedFile(db, name, size);
}

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

int64_t NetDiskClient::reservedSize(const std::string& name) {
  FileEntryRecord f;
  if (SyncDb::instance()->getFile(name, 0, f) != 0) return 0;
  return f.size;
}

void NetDiskClient::dropFromLists(const std::string& name) {
  removeName(waitList_, name);
  if (contains(processList_, name)) {
    removeName(processList_, name);
    --processCount_;
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
  UpFileTaskRecord task;
  task.fileType = 0;
  task.relpath = relpath;
  task.localFile = localFile;
  task.size = size;
  task.mtime = mtime;
  task.blockSize = BLOCK_SIZE;
  task.xferSize = 0;
  task.status = 0;
  db->insertUpFileTask(task);
  insertUnfinishedFile(db, relpath, size);

  unfinishedNames_.push_back(relpath);
  localFiles_[localFile] = relpath;
  newUploads_.insert(relpath);
  int r = addUploadTask_i(relpath);
  if (r == -1) {
    // The task row could not be read back: nothing was admitted.
    removeName(unfinishedNames_, relpath);
    localFiles_.erase(localFile);
    newUploads_.erase(relpath);
    db->deleteUpFileTask(relpath, 0);
    db->deleteFile(relpath, 0);
    forEachListener([&](INetDiskClientListener* l) { l->onAddUploadTask(refused, NETDISK_ERR_NO_TASK); });
    return;
  }
  updateSpaceInfo(size, true, true);
  UploadTaskStatus added = makeStatus(relpath, localFile, size, 0, r);
  added.flag = true;
  forEachListener([&](INetDiskClientListener* l) { l->onAddUploadTask(added, 0); });
}

// ---- Admission and scheduling ----

int NetDiskClient::addUploadTask_i(const std::string& name) {
  IM_LOG_INFO("NetDiskClient::addUploadTask_i,relpath is %s.", name.c_str());
  if (holdNewTasks_ || processCount_ >= maxTask_) {
    waitList_.push_back(name);
    IM_LOG_INFO("NetDiskClient::addUploadTask_i,uploadTask enter wait list.");
    return 2;
  }
  IM_LOG_INFO("NetDiskClient::addUploadTask_i,uploadTask enter process list.");
  int step = 0, demand = 0;
  int r = getUploadFileStatus(name, step, demand);
  if (r == -1) return -1;
  ++processCount_;
  processList_.push_back(name);
  if (r == 1) {
    // Still running from before: record its need; the next result starts it.
    const UploadingFileStatus& s = uploadingFileStatus_[name];
    if (step == 0)
      stepSchedule_[name] = std::make_pair(-1, 1);  // its create step runs
    else if (step == 1)
      stepSchedule_[name] = std::make_pair(-1, 3);  // its merge step runs
    else
      stepSchedule_[name] =
          std::make_pair(s.runningThreads, static_cast<int>(s.inFlight.size() + s.pending.size()));
  } else {
    startUploadThread(name, step, demand);
  }
  return 1;
}

void NetDiskClient::spawnStep(NetDiskTaskBase* task, const std::string& name, int upStatus, int blockIndex) {
  task->setUser(userId_, password_);
  ++runningThreads_;
  if (NetDiskTaskThread::spawnDetached(task) == 0) return;
  // No thread: the step failed; its result arrives like any other.
  int kind = upStatus == 0 ? 4 : (upStatus == 1 ? 6 : 5);
  UploadFileStatusCommand* failed = new UploadFileStatusCommand(0, name, kind);
  failed->blockIndex = blockIndex;
  failed->setOwnerUserId(userId_);
  if (NetDiskEngineThread::instance()->postCommand(failed) != 0) {
    delete failed;
    --runningThreads_;
  }
}

int NetDiskClient::startUploadThread(const std::string& name, int upStatus, int demand) {
  IM_LOG_INFO("NetDiskClient::startUploadThread,relpath is %s, upStatus is %d, maxThread is %d", name.c_str(),
              upStatus, demand);
  if (runningThreads_ >= maxThread_) {
    if (upStatus == 0)
      stepSchedule_[name] = std::make_pair(-1, 0);
    else if (upStatus == 1)
      stepSchedule_[name] = std::make_pair(-1, 2);
    else if (upStatus == 2 && stepSchedule_.count(name) == 0)
      stepSchedule_[name] = std::make_pair(0, demand);
    return 0;
  }
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it == uploadingFileStatus_.end()) return 0;
  UploadingFileStatus& s = it->second;
  if (upStatus == 0) {
    stepSchedule_[name] = std::make_pair(-1, 1);
    s.upStatus = 0;
    ++s.runningThreads;
    CreateFileTask* task = new CreateFileTask(name, s.fileLength, s.blockCount);
    // Only an upload added in this run is sure to have no file on the server: any other may
    // have one from before (created, then stopped before booking, or restarted).
    task->setRemoveUnfinished(newUploads_.erase(name) == 0);
    task->setRemoveStale(s.record == UPTASK_MERGED_STALE);
    spawnStep(task, name, 0, -1);
  } else if (upStatus == 1) {
    stepSchedule_[name] = std::make_pair(-1, 3);
    s.upStatus = 1;
    ++s.runningThreads;
    MergeFileTask* task = new MergeFileTask(name);
    task->setExpectedFileLength(s.fileLength);
    task->setLocalFile(s.localFile);
    task->setStage(s.record == UPTASK_MERGED_UNCHECKED ? MergeFileTask::CHECK
                   : s.record == UPTASK_MERGED_STALE   ? MergeFileTask::REMOVE_STALE
                                                       : MergeFileTask::MERGE);
    spawnStep(task, name, 1, -1);
  } else if (upStatus == 2) {
    std::string localFile;
    int index = 0, length = 0, count = 0;
    int64_t offset = 0;
    int running = s.runningThreads;
    if (getUploadBlockInfo(name, localFile, index, offset, length, count) != 0) return 0;
    std::map<std::string, std::pair<int, int> >::iterator e = stepSchedule_.find(name);
    if (e == stepSchedule_.end())
      stepSchedule_[name] = std::make_pair(running + 1, demand);
    else
      ++e->second.first;
    s.upStatus = 2;
    ++s.runningThreads;
    UploadFileTask* task = new UploadFileTask(name, localFile, index, offset, length, count);
    task->setExpectedFileLength(s.fileLength);
    task->setExpectedMtime(s.mtime);
    spawnStep(task, name, 2, index);
  }
  return 0;
}

int NetDiskClient::getUploadFileStatus(const std::string& name, int& upStatus, int& demand,
                                       UploadingFileStatus* out) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end() && it->second.runningThreads > 0) {
    const UploadingFileStatus& s = it->second;
    upStatus = s.upStatus;
    demand = s.upStatus == 2 ? static_cast<int>(s.inFlight.size() + s.pending.size()) : 1;
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
  status.record = row.status;
  status.fileLength = row.size;
  status.transferred = row.xferSize;
  status.blockSize = row.blockSize > 0 ? row.blockSize : BLOCK_SIZE;
  status.blockCount = blockCountOf(row.size, status.blockSize);
  status.runningThreads = 0;
  status.inFlight.clear();
  status.pending.clear();
  std::vector<UpBlockTaskRecord> blocks;
  db->listUpBlockTasks(name, blocks);
  for (size_t i = 0; i < blocks.size(); ++i) status.pending.push_back(blocks[i].blockIndex);
  int demand = 1;
  if (row.status == UPTASK_NEW || row.status == UPTASK_MERGED_STALE) {
    if (!status.pending.empty()) {
      db->deleteUpFileTask(name, 0);
      db->insertUpFileTask(row);
      status.pending.clear();
    }
    status.upStatus = 0;
  } else if (row.status == UPTASK_MERGED_UNCHECKED) {
    status.pending.clear();  // merged: only its content check is left
    status.upStatus = 1;
  } else if (status.pending.empty()) {
    status.upStatus = 1;
  } else {
    status.upStatus = 2;
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
    ++processCount_;
    UploadingFileStatus info;
    int step = 0, need = 0;
    int r = getUploadFileStatus(next, step, need, &info);
    if (r == -1) {
      // Its rows are gone: it cannot go on.
      dropFromLists(next);
      updateSpaceInfo(reservedSize(next), true, false);
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
      if (step == 0)
        stepSchedule_[next] = std::make_pair(-1, 1);
      else if (step == 1)
        stepSchedule_[next] = std::make_pair(-1, 3);
      else
        stepSchedule_[next] = std::make_pair(s.runningThreads, need);
      continue;
    }
    name = next;
    upStatus = step;
    demand = need;
    return 0;
  }
  bool found = false;
  int bound = maxThread_;
  upStatus = 2;
  demand = 0;
  for (std::map<std::string, std::pair<int, int> >::iterator it = stepSchedule_.begin(); it != stepSchedule_.end();
       ++it) {
    int first = it->second.first, second = it->second.second;
    if (first == -1) {
      if (second == 0 || second == 2) {
        name = it->first;
        upStatus = second == 0 ? 0 : 1;
        demand = 1;
        found = true;
        break;
      }
      continue;
    }
    if (second > first && first < bound) {
      name = it->first;
      upStatus = 2;
      demand = second;
      bound = first;
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
      std::map<std::string, std::pair<int, int> >::iterator e = stepSchedule_.find(name);
      if (e != stepSchedule_.end()) {
        if (e->second.first <= 0)
          stepSchedule_.erase(e);
        else
          e->second.second = e->second.first;  // only its running blocks remain
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
  if (s.upStatus != 2 || s.pending.empty()) return -1;
  blockIndex = s.pending.front();
  s.pending.pop_front();
  s.inFlight.push_back(blockIndex);
  offset = static_cast<int64_t>(blockIndex) * s.blockSize;
  length = static_cast<int>(blockIndex == s.blockCount - 1 ? s.fileLength - offset : s.blockSize);
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
  SyncDb* db = SyncDb::instance();
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return -1;
  int blockSize = row.blockSize > 0 ? row.blockSize : BLOCK_SIZE;
  int count = blockCountOf(row.size, blockSize);
  bool booked = true;
  for (int i = 0; i < count - 1; i += 50) {
    UpBlockTaskRecord first;
    first.fileId = row.id;
    first.blockIndex = i;
    first.offset = static_cast<int64_t>(i) * blockSize;
    first.length = blockSize;
    if (db->insertUpBlockTasks(first, std::min(50, count - 1 - i)) != 0) booked = false;
  }
  if (count > 0) {
    UpBlockTaskRecord last;
    last.fileId = row.id;
    last.blockIndex = count - 1;
    last.offset = static_cast<int64_t>(count - 1) * blockSize;
    last.length = static_cast<int>(blockLengthOf(row.size, blockSize, count - 1));
    if (db->insertUpBlockTask(last) != 0) booked = false;
  }
  if (booked) {
    row.status = UPTASK_CREATED;
    db->updateUpFileTask(row);
  } else {
    // Without every block row a resume must not merge: the task stays
    // "not created" and a resume creates it anew.
    IM_LOG_ERROR("NetDiskClient::bookCreatedFile, [status = block rows not written, relpath = %s]", name.c_str());
  }
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    UploadingFileStatus& s = it->second;
    s.upStatus = 2;
    if (booked) s.record = UPTASK_CREATED;
    s.blockSize = blockSize;
    s.blockCount = count;
    s.pending.clear();
    s.inFlight.clear();
    for (int i = 0; i < count; ++i) s.pending.push_back(i);
    if (!date.empty()) {
      s.date = date;
      FileEntryRecord file;
      if (db->getFile(name, 0, file) == 0) {
        file.expireTime = date;
        db->updateFile(file);
      }
    }
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
    int step = 0, demand = 0;
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
  std::map<std::string, std::pair<int, int> >::iterator e = stepSchedule_.find(name);
  if (e != stepSchedule_.end()) {
    if (count > 0)
      e->second = std::make_pair(0, count);
    else if (count == 0)
      e->second = std::make_pair(-1, 2);
    else
      stepSchedule_.erase(e);
  }
  bool dropped = updateThreadState(name, count > 0 ? 2 : 1, -1, -1, false);
  if (dropped && contains(deleteRequests_, name)) deleteFile_i(name, true);
}

void NetDiskClient::processUploadThreadComplete(const std::string& name, int upStatus, int blockIndex, int error) {
  IM_LOG_INFO("NetDiskClient::processUploadThreadComplete,relpath is %s, upStatus is %d, blockIndex is %d, error is %d.",
              name.c_str(), upStatus, blockIndex, error);
  --runningThreads_;
  bool dropped = false;
  std::map<std::string, std::pair<int, int> >::iterator e = stepSchedule_.find(name);
  if (error != 0) {
    if (e != stepSchedule_.end()) {
      stepSchedule_.erase(e);
      UploadTaskStatus status = makeStatus(name, std::string(), 0, 0, UploadTaskStatus::STOPPED);
      std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
      if (it != uploadingFileStatus_.end()) {
        status.localFile = it->second.localFile;
        status.fileLength = it->second.fileLength;
        status.transferred = it->second.transferred;
      }
      delUploadTask_i(name);
      notifyUploadStatus(status, 0, error);
    }
    dropped = updateThreadState(name, upStatus, -1, blockIndex, true);
  } else if (upStatus == 0) {
    scheduleAfterCreate(name, bookCreatedFile(name, std::string()));
  } else if (upStatus == 1) {
    if (e != stepSchedule_.end()) stepSchedule_.erase(e);
    UploadTaskStatus status = makeStatus(name, std::string(), 0, 0, UploadTaskStatus::FINISHED);
    std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
    if (it != uploadingFileStatus_.end()) {
      status.localFile = it->second.localFile;
      status.fileLength = it->second.fileLength;
      status.transferred = it->second.transferred;
    } else {
      UpFileTaskRecord row;
      if (SyncDb::instance()->getUpFileTask(name, row) == 0) {
        status.localFile = row.localFile;
        status.fileLength = row.size;
        status.transferred = row.xferSize;
      }
    }
    delUploadTask_i(name);
    dropped = updateThreadState(name, 1, -1, -1, false);
    SyncDb::instance()->deleteUpFileTask(name, 0);
    updateSpaceInfo(status.fileLength, false, true);
    // Its row now reads as a listed finished file: deleting it gives the space back.
    FileEntryRecord file;
    if (SyncDb::instance()->getFile(name, 0, file) == 0) {
      file.status = 1;
      SyncDb::instance()->updateFile(file);
    }
    removeName(unfinishedNames_, name);
    if (!contains(finishedNames_, name)) finishedNames_.push_back(name);
    for (std::map<std::string, std::string>::iterator l = localFiles_.begin(); l != localFiles_.end();) {
      if (l->second == name)
        localFiles_.erase(l++);
      else
        ++l;
    }
    notifyUploadStatus(status, 0, 0);
  } else if (upStatus == 2) {
    int step = 2;
    if (e != stepSchedule_.end()) {
      e->second.first -= 1;
      e->second.second -= 1;
      if (e->second.second <= 0) {
        e->second = std::make_pair(-1, 2);
        step = 1;
      }
    }
    dropped = updateThreadState(name, step, -1, blockIndex, false);
    updateToDatabase(name, blockIndex);
  }
  if (dropped && contains(deleteRequests_, name)) deleteFile_i(name, true);
  startWaitTasks();
}

void NetDiskClient::processMergeResult(const std::string& name, int error, bool contentKnown) {
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  SyncDb* db = SyncDb::instance();
  UpFileTaskRecord row;
  if (it == uploadingFileStatus_.end() || db->getUpFileTask(name, row) != 0) {
    processUploadThreadComplete(name, 1, -1, error);
    return;
  }
  UploadingFileStatus& s = it->second;
  // Each outcome is booked before the server is asked for more: a stage that does not finish
  // (the program ends, another user logs in) is taken up again by Start.
  if (s.record == UPTASK_MERGED_STALE) {
    // The removal of the upload's merged file of other content ended. The upload stops as a
    // changed file does; once the file is gone, Start sends the file anew from its first block,
    // else Start removes it first.
    if (error == NETDISK_ERR_FILE_CHANGED) {
      restartRecord(db, name, row, row.size, row.mtime, UPTASK_NEW);
      s.record = UPTASK_NEW;
    }
    processUploadThreadComplete(name, 1, -1, NETDISK_ERR_FILE_CHANGED);
  } else if (s.record == UPTASK_CREATED && error == 0 && !contentKnown && wholeSecondMtime(s.mtime)) {
    // Merged, but a whole-second time cannot show a rewrite within its second: the content
    // decides, where the listing can tell it.
    row.status = UPTASK_MERGED_UNCHECKED;
    db->updateUpFileTask(row);
    s.record = UPTASK_MERGED_UNCHECKED;
    continueMergeStep(name);
  } else if (s.record == UPTASK_MERGED_UNCHECKED && error == NETDISK_ERR_FILE_CHANGED) {
    // The merged file is the upload's own, made of blocks of two versions of the local file.
    restartRecord(db, name, row, row.size, row.mtime, UPTASK_MERGED_STALE);
    s.record = UPTASK_MERGED_STALE;
    continueMergeStep(name);
  } else {
    processUploadThreadComplete(name, 1, -1, error);
  }
}

void NetDiskClient::continueMergeStep(const std::string& name) {
  --runningThreads_;
  std::map<std::string, std::pair<int, int> >::iterator e = stepSchedule_.find(name);
  if (e != stepSchedule_.end()) e->second = std::make_pair(-1, 2);  // the merge step waits for a thread
  bool dropped = updateThreadState(name, 1, -1, -1, false);
  if (dropped && contains(deleteRequests_, name)) deleteFile_i(name, true);
  startWaitTasks();
}

void NetDiskClient::updateToDatabase(const std::string& name, int blockIndex) {
  IM_LOG_INFO("NetDiskClient::updateToDatabase,update database after send block,relpath is%s, blockIndex is %d.",
              name.c_str(), blockIndex);
  SyncDb* db = SyncDb::instance();
  int64_t size = 0;
  int blockSize = BLOCK_SIZE;
  std::map<std::string, UploadingFileStatus>::const_iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    size = it->second.fileLength;
    blockSize = it->second.blockSize > 0 ? it->second.blockSize : BLOCK_SIZE;
  } else {
    UpFileTaskRecord row;
    if (db->getUpFileTask(name, row) != 0) return;
    size = row.size;
    if (row.blockSize > 0) blockSize = row.blockSize;
  }
  if (db->bookConfirmedBlock(name, blockIndex, blockLengthOf(size, blockSize, blockIndex)) != 0)
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
    updateSpaceInfo(reservedSize(name), true, false);
    IM_LOG_INFO("NetDiskClient::delUploadTask_i,remove task:%s in wait list.", name.c_str());
    removeName(waitList_, name);
    return 2;
  }
  if (contains(processList_, name)) {
    IM_LOG_INFO("NetDiskClient::delUploadTask_i,remove task:%s in process list.", name.c_str());
    updateSpaceInfo(reservedSize(name), true, false);
    std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
    if (it != uploadingFileStatus_.end() && it->second.runningThreads <= 0) uploadingFileStatus_.erase(it);
    stepSchedule_.erase(name);
    removeName(processList_, name);
    --processCount_;
    return 1;
  }
  IM_LOG_ERROR("NetDiskClient::delUploadTask_i,not found relpath:%s in waitlist and process list.", name.c_str());
  return -1;
}

// ---- Controls ----

void NetDiskClient::processPauseUpload(const std::string& name, int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processPauseUpload,relpath is %s,taskId is %d.", name.c_str(), requestNumber);
  UploadTaskStatus status = makeStatus(name, std::string(), 0, 0, UploadTaskStatus::STOPPED);
  std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.find(name);
  if (it != uploadingFileStatus_.end()) {
    status.localFile = it->second.localFile;
    status.fileLength = it->second.fileLength;
    status.transferred = it->second.transferred;
  }
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
  if (!contains(processList_, name) && !contains(waitList_, name) && restartIfChanged(name, row) &&
      row.size >= MAX_FILE_SIZE) {
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, 0, UploadTaskStatus::STOPPED), 0,
                       NETDISK_ERR_TOO_LARGE);
    return;
  }
  if (contains(processList_, name) || contains(waitList_, name)) {
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
    delUploadTask_i(oldest);
    waitList_.push_back(oldest);
    updateSpaceInfo(reservedSize(oldest), true, true);  // it still holds its space while waiting
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
    updateSpaceInfo(row.size, true, true);
    localFiles_[row.localFile] = name;
    if (!contains(unfinishedNames_, name) && !contains(finishedNames_, name)) unfinishedNames_.push_back(name);
    int state = r == 1 ? UploadTaskStatus::UPLOADING : UploadTaskStatus::WAITING;
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, state), 0, 0);
  } else {
    notifyUploadStatus(makeStatus(name, row.localFile, row.size, row.xferSize, UploadTaskStatus::STOPPED), 0,
                       NETDISK_ERR_NO_TASK);
  }
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
  // A file this upload merged is not the local file any more: it goes before the create.
  bool merged = row.status == UPTASK_MERGED_UNCHECKED || row.status == UPTASK_MERGED_STALE;
  restartRecord(SyncDb::instance(), name, row, size, mtime, merged ? UPTASK_MERGED_STALE : UPTASK_NEW);
  uploadingFileStatus_.erase(name);
  newUploads_.erase(name);  // its create removes the server's unfinished file first
  return true;
}

void NetDiskClient::processCancelAllUpload(int requestNumber) {
  IM_LOG_INFO("NetDiskClient::processCancelAllUpload,taskId is %d.", requestNumber);
  // The cancelled uploads give back the space they held.
  for (std::list<std::string>::iterator it = waitList_.begin(); it != waitList_.end(); ++it)
    updateSpaceInfo(reservedSize(*it), true, false);
  for (std::list<std::string>::iterator it = processList_.begin(); it != processList_.end(); ++it)
    updateSpaceInfo(reservedSize(*it), true, false);
  waitList_.clear();
  stepSchedule_.clear();
  processList_.clear();
  processCount_ = 0;
  // Statuses without a running thread would otherwise stay for good.
  for (std::map<std::string, UploadingFileStatus>::iterator it = uploadingFileStatus_.begin();
       it != uploadingFileStatus_.end();) {
    if (it->second.runningThreads <= 0)
      uploadingFileStatus_.erase(it++);
    else
      ++it;
  }
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
  if (contains(unfinishedNames_, name) && hasRow && row.status == UPTASK_NEW) {
    // Never created on the server: nothing to delete there.
    db->deleteUpFileTask(name, 0);
    db->deleteFile(name, 0);
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
    if (!localFile.empty()) db->deleteUpFileTask(name, 0);
    FileEntryRecord file;
    if (db->getFile(name, 0, file) == 0 && file.status == 1) updateSpaceInfo(file.size, false, false);
    db->deleteFile(name, 0);
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

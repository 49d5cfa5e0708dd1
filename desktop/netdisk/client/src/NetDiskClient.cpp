// NetDiskClient: public operations, listeners, space, listings, links and the
// change of user. The upload engine and its controls are in NetDiskUpload.cpp.
#include "client/NetDiskClient.h"

#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "client/NetDiskTaskThread.h"
#include "client/SyncDb.h"
#include "client/UploadRecords.h"
#include "db/LocalDb.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "protocol/SyncProtocolClient.h"
#include "util/Config.h"

#include <ace/Guard_T.h>

#include <algorithm>
#include <set>

std::atomic<bool> NetDiskClient::stopUploads_(false);

NetDiskClient* NetDiskClient::instance() { return NetDiskClientSingleton::instance(); }

NetDiskClient::NetDiskClient() : requestNumber_(0) {
  IM_TRACE("NetDiskClient::NetDiskClient");
  resetState();
}

NetDiskClient::~NetDiskClient() { IM_TRACE("NetDiskClient::~NetDiskClient"); }

void NetDiskClient::readConfig() {
  Config* config = Config::instance();
  maxThread_ = config->getIntValue("VASTO", "maxThread", 10);
  if (maxThread_ < 1 || maxThread_ > 10) maxThread_ = 10;
  maxTask_ = config->getIntValue("VASTO", "maxTask", 5);
  if (maxTask_ < 1 || maxTask_ > 10) maxTask_ = 5;
}

void NetDiskClient::resetUserLists() {
  downloadUrls_.clear();
  fileListPending_ = false;
  fileListLoaded_ = false;
  waitList_.clear();
  processList_.clear();
  stepSchedule_.clear();
  localFiles_.clear();
  finishedNames_.clear();
  unfinishedNames_.clear();
  deleteRequests_.clear();
  processSpace_ = 0;
  heldSpace_.clear();
}

void NetDiskClient::resetState() {
  userId_.clear();
  password_.clear();
  resetUserLists();
  totalSpace_ = 0;
  usedSpace_ = 0;
  runningThreads_ = 0;
  uploadingFileStatus_.clear();
  holdNewTasks_ = false;
  readConfig();
}

// ---- UI thread ----

int NetDiskClient::init(const std::string& userId, const std::string& password) {
  IM_TRACE("NetDiskClient::init");
  NetDiskTaskThread::instance()->start();
  NetDiskEngineThread::instance()->start();
  int number = ++requestNumber_;
  ChangeUserInfoCommand* command = new ChangeUserInfoCommand(number, userId, password);
  int r = NetDiskEngineThread::instance()->postCommand(command);
  if (r != 0) {
    delete command;
    return r;
  }
  return number;
}

namespace {

int postRequest(NetDiskCommandBase* command, int number) {
  int r = NetDiskEngineThread::instance()->postCommand(command);
  if (r != 0) {
    delete command;
    return r;
  }
  return number;
}

}  // namespace

int NetDiskClient::listFile() {
  int n = ++requestNumber_;
  return postRequest(new ListFileCommand(n), n);
}

int NetDiskClient::deleteFile(const std::string& name) {
  int n = ++requestNumber_;
  return postRequest(new DeleteFileCommand(n, name), n);
}

int NetDiskClient::listUploadTask() {
  int n = ++requestNumber_;
  return postRequest(new ListUploadFileCommand(n), n);
}

int NetDiskClient::addUploadTask(const std::string& localFile, const std::string& name) {
  int n = ++requestNumber_;
  return postRequest(new UploadFileCommand(n, name, localFile), n);
}

int NetDiskClient::pauseUploadTask(const std::string& name) {
  int n = ++requestNumber_;
  return postRequest(new PauseUploadFileCommand(n, name), n);
}

int NetDiskClient::resumeUploadTask(const std::string& name) {
  int n = ++requestNumber_;
  return postRequest(new ResumeUploadFileCommand(n, name), n);
}

int NetDiskClient::cancelAllUploadTask() {
  int n = ++requestNumber_;
  return postRequest(new CancelAllUploadCommand(n), n);
}

int NetDiskClient::getDownloadUrl(const std::vector<std::string>& names) {
  int n = ++requestNumber_;
  return postRequest(new GetDownUrlCommand(n, names), n);
}

void NetDiskClient::addListener(INetDiskClientListener* listener) {
  ACE_GUARD(ACE_Thread_Mutex, guard, listenerLock_);
  listeners_.push_back(listener);
}

void NetDiskClient::removeListener(INetDiskClientListener* listener) {
  ACE_GUARD(ACE_Thread_Mutex, guard, listenerLock_);
  listeners_.remove(listener);
}

void NetDiskClient::shutdown() {
  IM_TRACE("NetDiskClient::shutdown");
  stopUploads_ = true;
  // The engine books nothing more: a step's result that comes from here on is dropped, and its
  // upload's record stays as it was booked (Start takes the upload up again from there).
  NetDiskEngineThread::instance()->stop();
  // Every request a step or the task thread has out ends now, answered or not, so the waits
  // below take no longer than the steps' local work.
  CSyncProtocolClient::stopExchanges();
  NetDiskTaskThread::waitDetached();
  NetDiskTaskThread::instance()->stop();
  CSyncProtocolClient::allowExchanges();
  // No thread touches the engine state any more.
  resetState();
  stopUploads_ = false;
}

// ---- Engine thread ----

void NetDiskClient::forEachListener(const std::function<void(INetDiskClientListener*)>& f) {
  ACE_GUARD(ACE_Thread_Mutex, guard, listenerLock_);
  for (std::list<INetDiskClientListener*>::iterator it = listeners_.begin(); it != listeners_.end(); ++it)
    f(*it);
}

void NetDiskClient::updateSpaceInfo(int64_t used, int64_t total) {
  usedSpace_ = used;
  totalSpace_ = total;
}

void NetDiskClient::updateSpaceInfo(int64_t delta, bool process, bool add) {
  int64_t& target = process ? processSpace_ : usedSpace_;
  target += add ? delta : -delta;
}

bool NetDiskClient::checkSpace(int64_t size) const {
  return usedSpace_ + processSpace_ + size <= totalSpace_;
}

void NetDiskClient::notifyUploadStatus(const UploadTaskStatus& task, int second, int error) {
  if (task.state == UploadTaskStatus::UPLOADING && !contains(processList_, task.relpath)) return;
  forEachListener([&](INetDiskClientListener* l) {
    if (task.state == UploadTaskStatus::STOPPED && second != 0 && error == 0)
      l->onPauseUpload(task, 0);
    else if (task.state != UploadTaskStatus::STOPPED && second == 0)
      l->onResumeUpload(task, error);
    else
      l->onUploadStatus(task, error);
  });
}

bool NetDiskClient::contains(const std::list<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

void NetDiskClient::removeName(std::list<std::string>& list, const std::string& name) { list.remove(name); }

// ---- Listings and links ----

void NetDiskClient::processListFile(const std::vector<NetDiskFileItem>& files,
                                    const std::map<std::string, std::string>& links, int requestNumber,
                                    int error) {
  IM_LOG_DEBUG("NetDiskClient::processListFile, [taskId = %d, files = %d, error = %d]", requestNumber,
               static_cast<int>(files.size()), error);
  SyncDb* db = SyncDb::instance();
  db->deleteFilesOfType();
  finishedNames_.clear();
  unfinishedNames_.clear();
  downloadUrls_.clear();
  downloadUrls_.insert(links.begin(), links.end());
  for (size_t i = 0; i < files.size(); ++i) {
    FileEntryRecord r;
    r.fileType = 0;
    r.relpath = files[i].name;
    r.size = files[i].size;
    r.expireTime = files[i].created;
    r.status = files[i].nocomplete ? 1 : 0;
    r.dirFlag = 0;
    db->insertFile(r);
    (files[i].nocomplete ? finishedNames_ : unfinishedNames_).push_back(files[i].name);
  }
  // Uploads still held in memory keep their names, so a new file cannot take
  // a name an unfinished upload will merge into.
  for (std::map<std::string, std::string>::const_iterator it = localFiles_.begin(); it != localFiles_.end(); ++it)
    if (!contains(finishedNames_, it->second) && !contains(unfinishedNames_, it->second))
      unfinishedNames_.push_back(it->second);
  fileListLoaded_ = true;
  forEachListener([&](INetDiskClientListener* l) { l->onListFile(files, error); });
}

void NetDiskClient::processListUploadFile(int requestNumber) {
  IM_LOG_DEBUG("NetDiskClient::processListUploadFile, [taskId = %d]", requestNumber);
  SyncDb* db = SyncDb::instance();
  std::vector<UpFileTaskRecord> rows;
  if (db->listUpFileTasks(rows) != 0) {
    IM_LOG_ERROR("NetDiskClient::processListUploadFile,SyncDb::listUpFileTask return error.");
    rows.clear();
  }
  localFiles_.clear();
  std::vector<UploadTaskStatus> reported;
  for (size_t i = 0; i < rows.size(); ++i) {
    const UpFileTaskRecord& row = rows[i];
    // Created, every block confirmed, and listed finished: its merge may have been done with
    // its answer lost (the program ended while it was out). It stays, and Start confirms it
    // through the refused merge and the listing.
    bool merging = row.status == UPTASK_CREATED && row.xferSize >= row.size && contains(finishedNames_, row.relpath);
    if (row.status != UPTASK_NEW && !contains(unfinishedNames_, row.relpath) && !merging) {
      // Created, not merged: a file the listing shows finished, or not at all, is no longer
      // this upload's to go on with.
      UploadRecords::forget(db, row.relpath);
      continue;
    }
    if (row.status == UPTASK_NEW) {
      // Not created yet: its name stays taken.
      UploadRecords::reserveName(db, row.relpath, row.size);
      if (!contains(unfinishedNames_, row.relpath)) unfinishedNames_.push_back(row.relpath);
    }
    UploadTaskStatus s;
    s.relpath = row.relpath;
    s.localFile = row.localFile;
    s.fileLength = row.size;
    s.transferred = row.xferSize;
    s.state = UploadTaskStatus::STOPPED;
    s.flag = true;
    reported.push_back(s);
    localFiles_[row.localFile] = row.relpath;
  }
  forEachListener([&](INetDiskClientListener* l) { l->onListUploadTask(reported, 0); });
}

void NetDiskClient::processGetDownloadUrl(const std::vector<std::string>& names, int requestNumber) {
  std::map<std::string, std::string> known;
  std::vector<std::string> missing;
  for (size_t i = 0; i < names.size(); ++i) {
    std::map<std::string, std::string>::const_iterator it = downloadUrls_.find(names[i]);
    if (it != downloadUrls_.end())
      known[names[i]] = it->second;
    else
      missing.push_back(names[i]);
  }
  if (!missing.empty()) {
    GetDownUrlTask* task = new GetDownUrlTask(requestNumber, missing);
    task->knownLinks = known;
    task->setUser(userId_, password_);
    if (NetDiskTaskThread::instance()->postTask(task) == 0) return;
    delete task;
  }
  forEachListener([&](INetDiskClientListener* l) { l->onDownloadUrl(known); });
}

void NetDiskClient::processGetDownloadUrl(const std::map<std::string, std::string>& fetched,
                                          const std::map<std::string, std::string>& known) {
  if (!fileListLoaded_) {
    IM_LOG_ERROR("NetDiskClient::processGetDownloadUrl callback must after listFile.");
    return;
  }
  std::map<std::string, std::string> links(known);
  for (std::map<std::string, std::string>::const_iterator it = fetched.begin(); it != fetched.end(); ++it) {
    links.insert(*it);
    if (!it->second.empty()) downloadUrls_[it->first] = it->second;
  }
  forEachListener([&](INetDiskClientListener* l) { l->onDownloadUrl(links); });
}

// ---- Change of user ----

void NetDiskClient::processChangeUserInfo(const std::string& userId, const std::string& password) {
  IM_LOG_INFO("NetDiskClient::processChangeUserInfo, [userId = %s]", userId.c_str());
  bool otherUser = !userId_.empty() && userId != userId_;
  if (otherUser) {
    // The previous user's uploads end; their threads report as old events.
    // Nothing of that user's lists may act for the new one.
    if (!uploadingFileStatus_.empty()) {
      holdNewTasks_ = true;
      stopUploads_ = true;
    }
    eraseIdleStatuses();
    if (uploadingFileStatus_.empty()) {
      holdNewTasks_ = false;
      stopUploads_ = false;
    }
    resetUserLists();
    usedSpace_ = 0;
    totalSpace_ = 0;
  }
  userId_ = userId;
  password_ = password;
  if (LocalDb::instance()->open(userId) != 0)
    IM_LOG_ERROR("NetDiskClient::processChangeUserInfo, [status = database not opened, userId = %s]",
                 userId.c_str());
  SyncDb::instance()->init();
}

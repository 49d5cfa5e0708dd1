#include "client/NetDiskCommands.h"

#include "client/NetDiskClient.h"
#include "client/NetDiskTaskThread.h"
#include "log/IM_LogManager.h"

#include <cmath>
#include <limits>

NetDiskCommandBase::NetDiskCommandBase(int requestNumber)
    : block_(reinterpret_cast<const char*>(this), 0), requestNumber_(requestNumber) {}

NetDiskCommandBase::~NetDiskCommandBase() {}

void NetDiskCommandBase::release() { delete this; }

NetDiskCommandBase* NetDiskCommandBase::fromBlock(ACE_Message_Block* block) {
  if (block == 0 || block->data_block() == 0) return 0;
  return reinterpret_cast<NetDiskCommandBase*>(block->data_block()->base());
}

bool NetDiskCommandBase::isOldSession() const {
  if (ownerUserId_.empty()) return false;
  std::string current = NetDiskClient::instance()->userId();
  return ownerUserId_ != current;
}

int ListFileCommand::execute() {
  NetDiskClient* client = NetDiskClient::instance();
  if (client->fileListPending()) {
    IM_LOG_INFO("ListFileCommand::execute, ListFileTask has been posted,please wait.");
    return 0;
  }
  ListFileTask* task = new ListFileTask(requestNumber());
  task->setUser(client->userId(), client->password());
  if (NetDiskTaskThread::instance()->postTask(task) != 0) {
    delete task;
    return -1;
  }
  client->setFileListPending(true);
  return 0;
}

namespace {

// Space values of the server, truncated toward zero; out-of-range values
// (or NaN) read as 0.
int64_t toBytes(double v) {
  if (!(v > -9.0e18 && v < 9.0e18)) return 0;
  return static_cast<int64_t>(std::trunc(v));
}

}  // namespace

int ListFileResultCommand::execute() {
  if (isOldSession()) return 0;
  NetDiskClient* client = NetDiskClient::instance();
  client->setFileListPending(false);
  // A failed listing carries no space values: the last known ones stay.
  if (error == 0) client->updateSpaceInfo(toBytes(usedSpace), toBytes(totalSpace));
  client->processListFile(files, links, requestNumber(), error);
  return 0;
}

int DeleteFileCommand::execute() {
  NetDiskClient::instance()->processDeleteUpload(path_, requestNumber());
  return 0;
}

int DeleteFileResultCommand::execute() {
  if (isOldSession()) return 0;
  NetDiskClient::instance()->processDeleteFileResult(path_, tag_, error_);
  return 0;
}

int ListUploadFileCommand::execute() {
  NetDiskClient::instance()->processListUploadFile(requestNumber());
  return 0;
}

int UploadFileCommand::execute() {
  NetDiskClient::instance()->processAddFileUpload(name_, localFile_, requestNumber());
  return 0;
}

int PauseUploadFileCommand::execute() {
  NetDiskClient::instance()->processPauseUpload(relpath_, requestNumber());
  return 0;
}

int ResumeUploadFileCommand::execute() {
  NetDiskClient::instance()->processResumeUpload(relpath_, requestNumber());
  return 0;
}

void UploadFileStatusCommand::progress() {
  NetDiskClient* client = NetDiskClient::instance();
  UploadTaskStatus status;
  status.relpath = relpath;
  status.state = UploadTaskStatus::UPLOADING;
  int64_t transferred = -1, length = 0;
  if (client->addTransferred(relpath, delta, transferred, length)) {
    status.transferred = transferred;
    status.fileLength = length;
  } else {
    status.transferred = -1;
    status.fileLength = 0;
  }
  client->notifyUploadStatus(status, -1, 0);
}

int UploadFileStatusCommand::execute() {
  NetDiskClient* client = NetDiskClient::instance();
  if (isOldSession()) {
    // Progress of the previous user's upload is not the end of its thread.
    if (kind != BLOCK_PROGRESS) client->processOldUploadEvent(relpath);
    return 0;
  }
  switch (kind) {
    case CREATED:
      client->processCreateFileSuccess(relpath, secondText, firstText);
      break;
    case BLOCK_PROGRESS:
      progress();
      break;
    case BLOCK_STORED:
      if (delta != 0) progress();
      client->processBlockStored(relpath, blockIndex, firstText);
      break;
    case MERGED:
      client->processMergeResult(relpath, NETDISK_OK);
      break;
    case CREATE_FAILED:
      client->processCreateFailed(relpath, ownFile, error != 0 ? error : NETDISK_ERR_CREATE_FAILED);
      break;
    case BLOCK_FAILED:
      if (delta != 0) progress();
      client->processUploadThreadComplete(relpath, NetDiskClient::STEP_BLOCKS, blockIndex,
                                          error != 0 ? error : NETDISK_ERR_BLOCK_FAILED);
      break;
    case MERGE_FAILED:
      client->processMergeResult(relpath, error != 0 ? error : NETDISK_ERR_MERGE_FAILED);
      break;
    default:
      break;
  }
  return 0;
}

int CancelAllUploadCommand::execute() {
  NetDiskClient::instance()->processCancelAllUpload(requestNumber());
  return 0;
}

int GetDownUrlCommand::execute() {
  NetDiskClient::instance()->processGetDownloadUrl(names_, requestNumber());
  return 0;
}

int GetDownUrlResultCommand::execute() {
  if (isOldSession()) return 0;
  NetDiskClient::instance()->processGetDownloadUrl(fetched, known);
  return 0;
}

int ChangeUserInfoCommand::execute() {
  NetDiskClient::instance()->processChangeUserInfo(userId_, password_);
  return 0;
}

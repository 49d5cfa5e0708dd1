// What the net-disk client tells its listeners: the listed files, the uploads
// and their progress, deletions and download links.
//
// Thread rule: every callback runs on the net-disk engine thread while the
// client holds its listener lock. A callback must not call addListener or
// removeListener, and must not wait for a thread that may be waiting for
// that lock. Arguments are the client's own data, valid only during the call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One file of the net-disk listing.
struct NetDiskFileItem {
  NetDiskFileItem() : size(0), nocomplete(false), hidden(false) {}
  std::string name;     // GBK
  int64_t size;         // bytes
  std::string created;  // "%Y-%m-%d", "" when the server gives none
  bool nocomplete;      // as the server marks it
  bool hidden;          // always false from the client; the dialog leaves such items out
};

// One upload as listeners see it.
struct UploadTaskStatus {
  enum State { STOPPED = 0, UPLOADING = 1, WAITING = 2, FINISHED = 3 };
  UploadTaskStatus() : fileLength(0), transferred(0), state(STOPPED), flag(false) {}
  std::string relpath;    // the name on the net disk
  std::string localFile;  // the local path
  std::string date;
  int64_t fileLength;
  int64_t transferred;
  int state;  // State: 0 stopped (paused or failed), 1 uploading, 2 waiting, 3 finished
  bool flag;  // set by the listing of upload tasks and by the add operation
};

// The listener's error argument.
enum NetDiskError {
  NETDISK_OK = 0,
  NETDISK_ERR_UPLOAD_EXISTS = 1,     // the local file already has an upload
  NETDISK_ERR_NO_TASK = 2,           // no such upload task
  NETDISK_ERR_TOO_LARGE = 3,         // file of 2 GB or more
  NETDISK_ERR_FILE_CHANGED = 4,      // local file changed
  NETDISK_ERR_FILE_UNREADABLE = 5,   // local file unreadable
  NETDISK_ERR_NO_SPACE = 6,          // not enough space
  NETDISK_ERR_CREATE_FAILED = 7,     // creating the file on the server failed
  NETDISK_ERR_BLOCK_FAILED = 8,      // sending a block failed
  NETDISK_ERR_MERGE_FAILED = 9,      // merging failed
  NETDISK_ERR_LIST_FAILED = 10,      // listing space or files failed
  NETDISK_ERR_DELETE_FAILED = 11     // a deletion on the server failed
};

class INetDiskClientListener {
 public:
  virtual void onListFile(const std::vector<NetDiskFileItem>& files, int error) = 0;
  // Never called by the client.
  virtual void onRenameFile(const std::string& oldName, const std::string& newName, int error) = 0;
  virtual void onDeleteFile(const std::string& name, int error) = 0;
  virtual void onListUploadTask(const std::vector<UploadTaskStatus>& tasks, int error) = 0;
  virtual void onUploadStatus(const UploadTaskStatus& task, int error) = 0;
  // One call for each added (or refused) upload.
  virtual void onAddUploadTask(const UploadTaskStatus& task, int error) = 0;
  virtual void onPauseUpload(const UploadTaskStatus& task, int error) = 0;
  virtual void onResumeUpload(const UploadTaskStatus& task, int error) = 0;
  // Never called by the client.
  virtual void onCancelUpload(const std::string& name, int error) = 0;
  virtual void onDownloadUrl(const std::map<std::string, std::string>& links) = 0;
};

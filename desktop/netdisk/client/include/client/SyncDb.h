// The net-disk tables of the per-user database: the net-disk files the client
// knows of (pw_file), the uploads not yet finished (pw_upfile_task) and the
// blocks of each upload that the server has not confirmed (pw_upblock_task).
// SyncDb holds no data: each operation runs one statement, query or batch on
// LocalDb and converts rows into the records below. Names and paths are
// always bound as parameters, never written into a statement.
//
// Every operation returns 0 on success and -1 on failure (no row, a failed
// statement or query) unless said otherwise. A fileType argument selects 0
// for 0 and 1 for any other value.
//
// Thread rule: net-disk engine thread only. SyncDb takes no lock; LocalDb
// serialises each statement, batch and query.
#pragma once

#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <cstdint>
#include <string>
#include <vector>

class LocalDb;

// One pw_file row.
struct FileEntryRecord {
  int fileType = 0;
  std::string relpath;
  int64_t size = 0;
  std::string expireTime;
  int status = 0;
  int dirFlag = 0;
};

// pw_upfile_task.status: what the server holds of the upload.
enum UpFileTaskStatus {
  UPTASK_NEW = 0,     // nothing yet: the create step is next
  UPTASK_CREATED = 1  // the file is created; its block rows are the blocks not yet confirmed,
                      // and with none left the merge is next
};

// pw_upfile_task.ownFile: what the server may hold that this upload created. A row written
// before the column reads OWNFILE_NONE.
enum UpFileOwnFile {
  OWNFILE_NONE = 0,    // nothing of it is proven to be on the server (a create whose answer never
                       // came proves nothing either: the name may hold another client's file)
  OWNFILE_CREATED = 1  // an unfinished file this upload created (kept across a restart of the
                       // upload until that file is removed)
};
// One pw_upfile_task row.
struct UpFileTaskRecord {
  int id = 0;
  int fileType = 0;
  std::string relpath;
  std::string localFile;
  int64_t size = 0;
  std::string md5;  // uploads whose mtime is in whole seconds: the digest of the confirmed blocks
                    // (BlockDigest); "" for none
  std::string mtime;
  int blockSize = 0;
  int64_t xferSize = 0;
  int status = 0;  // UpFileTaskStatus
  int ownFile = 0;  // UpFileOwnFile
};

// One pw_upblock_task row.
struct UpBlockTaskRecord {
  int fileId = 0;
  int blockIndex = 0;
  int64_t offset = 0;
  int length = 0;
};

class SyncDb {
 public:
  static SyncDb* instance();

  // The program uses the per-user database (LocalDb::instance()); a test may
  // hand in a database of its own.
  explicit SyncDb(LocalDb* db = 0);

  // Creates the three tables when missing (pw_file, pw_upfile_task,
  // pw_upblock_task, in that order). Run after each open of a user's database.
  void init();
  // A confirmed block: its row goes and the task's xferSize grows by `length` (and its md5
  // becomes *md5 when given), in one transaction; nothing changes when the block row is already
  // gone. 0 / -1.
  int bookConfirmedBlock(const std::string& name, int blockIndex, int64_t length, const std::string* md5 = 0);
  int createFileTable();
  int createUpFileTaskTable();
  int createUpBlockTaskTable();

  // pw_file. insertFile replaces a row of the same name and type.
  int insertFile(const FileEntryRecord& record);
  int deleteFile(const std::string& name, int fileType);
  int deleteFilesOfType();  // every row of type 0
  int updateFile(const FileEntryRecord& record);
  // An empty expireTime reads as "0"; relpath is the name given.
  int getFile(const std::string& name, int fileType, FileEntryRecord& record);

  // pw_upfile_task and its blocks.
  // The id of the task row of that name, or -1 when none.
  int findUpFileTaskId(const std::string& name, int fileType);
  // Replaces the task of the same name (and drops its block rows), in one transaction.
  int insertUpFileTask(const UpFileTaskRecord& record);
  // Removes the task row and its block rows in one transaction; nothing is
  // removed when either statement fails.
  int deleteUpFileTask(const std::string& name, int fileType);
  // Writes xferSize, status and ownFile of the task of the record's name.
  int updateUpFileTask(const UpFileTaskRecord& record);
  int getUpFileTask(const std::string& name, UpFileTaskRecord& record);
  // Appends every task of type 0 in id order.
  int listUpFileTasks(std::vector<UpFileTaskRecord>& records);

  int insertUpBlockTask(const UpBlockTaskRecord& record);
  // count rows from the template: blockIndex + i, offset + length * i, all in
  // one transaction that is undone when any row fails. -1 for count 0.
  int insertUpBlockTasks(const UpBlockTaskRecord& first, int count);
  // Appends the block rows of the task of that name.
  int listUpBlockTasks(const std::string& name, std::vector<UpBlockTaskRecord>& records);
  int deleteUpBlockTask(const std::string& name, int blockIndex);

 private:
  LocalDb* db() const;

  LocalDb* db_;  // not owned; null means LocalDb::instance(); set at construction
};

typedef ACE_Singleton<SyncDb, ACE_Thread_Mutex> SyncDbSingleton;

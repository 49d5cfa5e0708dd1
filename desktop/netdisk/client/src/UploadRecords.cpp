#include "client/UploadRecords.h"

#include "client/NetDiskClient.h"
#include "client/NetDiskUploadTask.h"
#include "log/IM_LogManager.h"

#include <algorithm>

int UploadRecords::blockSizeOf(int recorded) { return recorded > 0 ? recorded : NetDiskClient::BLOCK_SIZE; }

int UploadRecords::blockCount(int64_t size, int blockSize) {
  if (blockSize <= 0 || size <= 0) return 0;
  return static_cast<int>(size / blockSize + (size % blockSize != 0 ? 1 : 0));
}

int UploadRecords::blockLength(int64_t size, int blockSize, int blockIndex) {
  if (blockIndex == blockCount(size, blockSize) - 1 && size % blockSize != 0) return static_cast<int>(size % blockSize);
  return blockSize;
}

bool UploadRecords::ownsServerFile(const UpFileTaskRecord& row) {
  return row.status == UPTASK_CREATED || row.ownFile == OWNFILE_CREATED;
}

int UploadRecords::add(SyncDb* db, const std::string& name, const std::string& localFile, int64_t size,
                       const std::string& mtime, int blockSize) {
  UpFileTaskRecord task;
  task.fileType = 0;
  task.relpath = name;
  task.localFile = localFile;
  task.size = size;
  task.mtime = mtime;
  task.blockSize = blockSize;
  task.xferSize = 0;
  task.status = UPTASK_NEW;
  int r = db->insertUpFileTask(task);
  reserveName(db, name, size);
  return r;
}

void UploadRecords::reserveName(SyncDb* db, const std::string& name, int64_t size) {
  FileEntryRecord file;
  file.fileType = 0;
  file.relpath = name;
  file.size = size;
  file.status = 0;
  file.dirFlag = 0;
  db->insertFile(file);
}

// A block row for each block of the record, then CREATED; the record already says that the
// server holds its file. False when a row could not be written: the record stays NEW.
static bool writeBlockRows(SyncDb* db, UpFileTaskRecord& row) {
  const int blockSize = UploadRecords::blockSizeOf(row.blockSize);
  const int count = UploadRecords::blockCount(row.size, blockSize);
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
    last.length = UploadRecords::blockLength(row.size, blockSize, count - 1);
    if (db->insertUpBlockTask(last) != 0) booked = false;
  }
  if (booked) {
    row.status = UPTASK_CREATED;
    if (db->updateUpFileTask(row) != 0) booked = false;
  }
  if (!booked)
    IM_LOG_ERROR("UploadRecords, [status = block rows not written, relpath = %s]", row.relpath.c_str());
  return booked;
}

int UploadRecords::bookCreated(SyncDb* db, const std::string& name, const std::string& date, bool& booked) {
  booked = false;
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return -1;
  // The server holds the upload's own file from here on, whatever comes of the block rows.
  row.ownFile = OWNFILE_CREATED;
  db->updateUpFileTask(row);
  booked = writeBlockRows(db, row);
  if (!date.empty()) {
    FileEntryRecord file;
    if (db->getFile(name, 0, file) == 0) {
      file.expireTime = date;
      db->updateFile(file);
    }
  }
  return blockCount(row.size, blockSizeOf(row.blockSize));
}

int UploadRecords::bookBlock(SyncDb* db, const std::string& name, int blockIndex, int64_t length,
                             const std::string& md5, bool wholeSecond) {
  if (!wholeSecond) return db->bookConfirmedBlock(name, blockIndex, length);
  // Read and written on this one thread: no other write comes between.
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return -1;
  const std::string digest = BlockDigest::add(row.md5, blockIndex, md5);
  return db->bookConfirmedBlock(name, blockIndex, length, &digest);
}

int UploadRecords::restart(SyncDb* db, UpFileTaskRecord& row, int64_t size, const std::string& mtime) {
  const int own = ownsServerFile(row) ? static_cast<int>(OWNFILE_CREATED) : row.ownFile;
  // The server's file was created at the recorded length: at the same length it takes every
  // block again.
  const bool resend = row.status == UPTASK_CREATED && size == row.size;
  row.size = size;
  row.mtime = mtime;
  row.md5.clear();
  row.xferSize = 0;
  row.status = UPTASK_NEW;
  row.ownFile = own;
  int r = db->insertUpFileTask(row);  // the old row and its block rows go
  UpFileTaskRecord fresh;
  if (db->getUpFileTask(row.relpath, fresh) == 0) row = fresh;
  reserveName(db, row.relpath, size);
  if (r == 0 && resend && !writeBlockRows(db, row)) r = -1;
  return r;
}

int UploadRecords::ownFileOf(SyncDb* db, const std::string& name) {
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return OWNFILE_NONE;
  return ownsServerFile(row) ? static_cast<int>(OWNFILE_CREATED) : static_cast<int>(OWNFILE_NONE);
}

void UploadRecords::createFailed(SyncDb* db, const std::string& name, int ownFile) {
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0 || row.status != UPTASK_NEW || row.ownFile == ownFile) return;
  row.ownFile = ownFile;
  db->updateUpFileTask(row);
}

int UploadRecords::dropBlocksOfNew(SyncDb* db, UpFileTaskRecord& row) {
  int r = db->insertUpFileTask(row);  // the same record, without block rows
  UpFileTaskRecord fresh;
  if (db->getUpFileTask(row.relpath, fresh) == 0) row = fresh;
  return r;
}

void UploadRecords::finish(SyncDb* db, const std::string& name) {
  db->deleteUpFileTask(name, 0);
  // Its row now reads as a listed finished file: deleting it gives the space back.
  FileEntryRecord file;
  if (db->getFile(name, 0, file) == 0) {
    file.status = 1;
    db->updateFile(file);
  }
}

void UploadRecords::remove(SyncDb* db, const std::string& name) {
  db->deleteUpFileTask(name, 0);
  db->deleteFile(name, 0);
}

void UploadRecords::forget(SyncDb* db, const std::string& name) { db->deleteUpFileTask(name, 0); }

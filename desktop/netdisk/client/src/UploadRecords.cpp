#include "client/UploadRecords.h"

#include "client/NetDiskClient.h"
#include "client/NetDiskUploadTask.h"
#include "log/IM_LogManager.h"

#include <algorithm>

namespace {

int blockLengthOf(int64_t size, int blockSize, int index) {
  if (index == UploadRecords::blockCount(size, blockSize) - 1 && size % blockSize != 0) return static_cast<int>(size % blockSize);
  return blockSize;
}

int blockSizeOf(const UpFileTaskRecord& row) { return row.blockSize > 0 ? row.blockSize : NetDiskClient::BLOCK_SIZE; }

}  // namespace

int UploadRecords::blockCount(int64_t size, int blockSize) {
  if (blockSize <= 0 || size <= 0) return 0;
  return static_cast<int>(size / blockSize + (size % blockSize != 0 ? 1 : 0));
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

int UploadRecords::bookCreated(SyncDb* db, const std::string& name, const std::string& date, bool& booked) {
  booked = false;
  UpFileTaskRecord row;
  if (db->getUpFileTask(name, row) != 0) return -1;
  const int blockSize = blockSizeOf(row);
  const int count = UploadRecords::blockCount(row.size, blockSize);
  booked = true;
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
    last.length = blockLengthOf(row.size, blockSize, count - 1);
    if (db->insertUpBlockTask(last) != 0) booked = false;
  }
  if (booked) {
    row.status = UPTASK_CREATED;
    if (db->updateUpFileTask(row) != 0) booked = false;
  }
  if (!booked)
    IM_LOG_ERROR("UploadRecords::bookCreated, [status = block rows not written, relpath = %s]", name.c_str());
  if (!date.empty()) {
    FileEntryRecord file;
    if (db->getFile(name, 0, file) == 0) {
      file.expireTime = date;
      db->updateFile(file);
    }
  }
  return count;
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

int UploadRecords::blockLength(int64_t size, int blockSize, int blockIndex) {
  return blockLengthOf(size, blockSize, blockIndex);
}

int UploadRecords::restart(SyncDb* db, UpFileTaskRecord& row, int64_t size, const std::string& mtime) {
  row.size = size;
  row.mtime = mtime;
  row.md5.clear();
  row.xferSize = 0;
  row.status = UPTASK_NEW;
  int r = db->insertUpFileTask(row);  // the old row and its block rows go
  UpFileTaskRecord fresh;
  if (db->getUpFileTask(row.relpath, fresh) == 0) row = fresh;
  reserveName(db, row.relpath, size);
  return r;
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

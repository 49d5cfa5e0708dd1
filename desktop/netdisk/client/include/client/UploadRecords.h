// The transitions of an upload's record: its pw_upfile_task row with its pw_upblock_task rows,
// and the upload's pw_file row. The upload engine changes them only through these operations,
// each of which books one outcome before the server is asked for the next step, so that a step
// that does not finish (the program ends, another user logs in) is taken up again by Start.
//
//   (none) --add--> NEW --bookCreated--> CREATED --bookBlock (each block once)--> CREATED, no
//   block rows (the merge is next) --finish--> (none; the file row reads finished)
//   NEW or CREATED --restart--> NEW (blocks and digest dropped; the local file's new length and
//   time); any --remove or forget--> (none)
//
// NEW: the server holds nothing of the upload (or an unfinished file of an earlier attempt,
// which its create removes first). CREATED: the file is created on the server; the block rows
// are the blocks it has not confirmed. For an upload whose modification time is in whole
// seconds, the md5 column holds the digest of the confirmed blocks (BlockDigest), which the
// merge step compares with the local file before it merges.
//
// Thread rule: the net-disk engine thread only (as SyncDb).
#pragma once

#include "client/SyncDb.h"

#include <cstdint>
#include <string>

class UploadRecords {
 public:
  // The number of blocks of a file of `size` bytes, and the length of one of them.
  static int blockCount(int64_t size, int blockSize);
  static int blockLength(int64_t size, int blockSize, int blockIndex);

  // A new upload: its task row (NEW, the block size the engine uses) and its file row
  // (unfinished, at the file's length). 0, or -1 when the task row could not be written.
  static int add(SyncDb* db, const std::string& name, const std::string& localFile, int64_t size,
                 const std::string& mtime, int blockSize);
  // The upload's name is taken by an unfinished file of `size` bytes (its pw_file row).
  static void reserveName(SyncDb* db, const std::string& name, int64_t size);
  // The file was created on the server: a block row for each block, then CREATED, and the
  // file row takes the creation date (when given). The block count, or -1 when there is no
  // task row. When a block row cannot be written the record stays NEW (a resume must not
  // merge) and `booked` is false.
  static int bookCreated(SyncDb* db, const std::string& name, const std::string& date, bool& booked);
  // A block the server confirmed: its row goes, its bytes are counted and, for a whole-second
  // upload, its MD5 joins the digest, in one transaction; a block booked twice counts once.
  static int bookBlock(SyncDb* db, const std::string& name, int blockIndex, int64_t length, const std::string& md5,
                       bool wholeSecond);
  // Back to the first step at the local file's new length and time; `row` is rewritten.
  static int restart(SyncDb* db, UpFileTaskRecord& row, int64_t size, const std::string& mtime);
  // A NEW record that still has block rows (an earlier run stopped between its writes) is
  // written anew without them.
  static int dropBlocksOfNew(SyncDb* db, UpFileTaskRecord& row);
  // Merged: the task row goes, and the file row reads finished.
  static void finish(SyncDb* db, const std::string& name);
  // The upload is gone (deleted, or never admitted): task and file rows go.
  static void remove(SyncDb* db, const std::string& name);
  // The upload is no longer this client's to go on with: its task row goes, the file row stays.
  static void forget(SyncDb* db, const std::string& name);
};

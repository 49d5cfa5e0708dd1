// The transitions of an upload's record: its pw_upfile_task row with its pw_upblock_task rows,
// and the upload's pw_file row. The upload engine changes them only through these operations,
// each of which books one outcome before the server is asked for the next step, so that a step
// that does not finish (the program ends, another user logs in) is taken up again by Start.
//
//   (none) --add--> NEW --bookCreated--> CREATED --bookBlock (each block once)--> CREATED, no
//   block rows (the merge is next) --finish--> (none; the file row reads finished)
//   CREATED --restart, same length--> CREATED, every block row again (digest dropped)
//   CREATED --restart, other length--> NEW, ownFile created
//   NEW --restart--> NEW (ownFile kept)
//   NEW --bookCreated--> (a block row not written) NEW, ownFile created
//   NEW --createFailed--> NEW, ownFile as the create step found the server
//   any --remove or forget--> (none)
//
// NEW: the create is next; the ownFile column (SyncDb.h) says what the server may hold of the
// upload. None: nothing is proven, its create removes nothing and deleting the upload sends no
// removal. Created: an unfinished file the upload created at an earlier length; its create
// removes that file first, and deleting the upload removes it. A create the server refused, or
// one whose answer never came (the program ended, or the exchange failed, while it was out),
// proves nothing: the name may hold another client's file, so the next create removes nothing
// and stops with the server's refusal when the name is taken. CREATED: the server holds the upload's own file at
// the recorded length; the block rows are the blocks it has not confirmed. For an upload whose
// modification time is in whole seconds, the md5 column holds the digest of the confirmed
// blocks (BlockDigest), which the merge step compares with the local file before it merges.
//
// The listing writes the pw_file rows of the files it lists (NetDiskClient::processListFile);
// every other pw_file write of an upload goes through here.
//
// Thread rule: the net-disk engine thread only (as SyncDb).
#pragma once

#include "client/SyncDb.h"

#include <cstdint>
#include <string>

class UploadRecords {
 public:
  // Block geometry. The block size of a record (`recorded`, its blockSize column; the engine's
  // when the column holds none), the number of blocks of a file of `size` bytes, and the
  // length of one of them (the last one holds the remainder).
  static int blockSizeOf(int recorded);
  static int blockCount(int64_t size, int blockSize);
  static int blockLength(int64_t size, int blockSize, int blockIndex);
  // The server holds a file this upload created (CREATED, or NEW with OWNFILE_CREATED).
  static bool ownsServerFile(const UpFileTaskRecord& row);

  // A new upload: its task row (NEW, the block size the engine uses) and its file row
  // (unfinished, at the file's length). 0, or -1 when the task row could not be written.
  static int add(SyncDb* db, const std::string& name, const std::string& localFile, int64_t size,
                 const std::string& mtime, int blockSize);
  // The upload's name is taken by an unfinished file of `size` bytes (its pw_file row).
  static void reserveName(SyncDb* db, const std::string& name, int64_t size);
  // The file was created on the server: the record marks it as the upload's own, writes a
  // block row for each block, then CREATED, and the file row takes the creation date (when
  // given). The block count, or -1 when there is no task row. When a block row cannot be
  // written the record stays NEW with its own file (a resume must not merge) and `booked` is
  // false.
  static int bookCreated(SyncDb* db, const std::string& name, const std::string& date, bool& booked);
  // A block the server confirmed: its row goes, its bytes are counted and, for a whole-second
  // upload, its MD5 joins the digest, in one transaction; a block booked twice counts once.
  static int bookBlock(SyncDb* db, const std::string& name, int blockIndex, int64_t length, const std::string& md5,
                       bool wholeSecond);
  // The local file changed: blocks and digest are dropped and the record takes the file's new
  // length and time. A CREATED record at the same length stays CREATED with every block row
  // (the blocks go again into the upload's own file); any other goes back to NEW, keeping
  // whether the server holds the upload's own file. `row` is rewritten.
  static int restart(SyncDb* db, UpFileTaskRecord& row, int64_t size, const std::string& mtime);
  // What the record proves the server holds of the upload's own (UpFileOwnFile): what its
  // create step may remove first.
  static int ownFileOf(SyncDb* db, const std::string& name);
  // The create failed; `ownFile` (UpFileOwnFile) is what the server may still hold of the
  // upload's own after the step.
  static void createFailed(SyncDb* db, const std::string& name, int ownFile);
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

// The steps of an upload and the deletion of a net-disk file. The engine
// builds each task, gives it the current user's id and password and runs it
// on a detached thread of its own (NetDiskTaskThread::spawnDetached). A task
// builds its own CSyncProtocol, reports by posting commands to the engine
// thread, and never touches the engine's state; the only thing it reads from
// outside is the client's stop flag (an atomic).
#pragma once

#include "client/NetDiskTaskThread.h"
#include "protocol/SyncProtocolClient.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CSyncProtocol;

// MD5 as 32 lower-case hexadecimal digits.
class FileMd5 {
 public:
  // The MD5 of the next `count` bytes of the file (fewer at its end). `stopped`, when given, is
  // asked between pieces: once it says true the reading ends and the text is empty.
  static std::string compute(FILE* file, int64_t count, bool (*stopped)() = 0);
  static std::string toHex(const unsigned char digest[16]);
};

// The digest of an upload's confirmed blocks: the XOR, over the blocks, of the MD5 of the text
// "<block index>:<block MD5>", as 32 lower-case hexadecimal digits. It does not depend on the
// order in which blocks are added, and "" stands for no block (32 zeros).
class BlockDigest {
 public:
  // `digest` with the block added.
  static std::string add(const std::string& digest, int blockIndex, const std::string& blockMd5);
  static bool same(const std::string& a, const std::string& b);
  // The digest of the local file cut into blocks of `blockSize`, read afresh; `stopped`, when
  // given, is asked between pieces. False when the file cannot be read whole at `length`
  // bytes, or the reading was stopped.
  static bool ofFile(const std::string& path, int64_t length, int blockSize, bool (*stopped)(), std::string& digest);
};

// The bytes of one block. The buffer comes from a small process-wide pool and goes back to it
// when the task ends, so that a block costs no fresh allocation and no zero-fill: its pages are
// already mapped when the next block is read into them.
class BlockBuffer {
 public:
  BlockBuffer() = default;
  ~BlockBuffer() { release(); }
  BlockBuffer(const BlockBuffer&) = delete;
  BlockBuffer& operator=(const BlockBuffer&) = delete;

  // Room for n bytes (size 0; the contents are undefined until written).
  char* reserve(size_t n);
  void setSize(size_t n) { size_ = n; }
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }
  // Gives the buffer back to the pool.
  void release();

 private:
  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

class CreateFileTask : public NetDiskTaskBase {
 public:
  CreateFileTask(const std::string& name, int64_t length, int blockCount);
  ~CreateFileTask() override;
  void execute() override;
  // What the upload's record proves the server holds that the upload created (UpFileOwnFile;
  // the server refuses to create a name that is taken). With OWNFILE_CREATED the create first
  // removes the unfinished file of its name; otherwise it removes nothing. A finished file (or
  // one the listing does not show) is never removed; the create then refuses a name that is
  // taken, and the upload stops with that error. Its failure result says what may still be
  // there.
  void setOwnFile(int ownFile) { ownFile_ = ownFile; }
  int ownFile() const { return ownFile_; }

 private:
  std::string name_;
  int64_t length_;
  int blockCount_;
  int ownFile_ = 0;
};

class UploadFileTask : public NetDiskTaskBase, public CSyncProtocolObserver {
 public:
  static const int PROGRESS_STEP = 0x20000;  // progress is announced per 131,072 bytes
  static const int MAX_SENDS = 5;

  UploadFileTask(const std::string& name, const std::string& localFile, int blockIndex,
                 int64_t offset, int length, int blockCount);
  ~UploadFileTask() override;
  void execute() override;

  void setExpectedFileLength(int64_t length) { expectedLength_ = length; }
  // The modification time text recorded when the upload was added ("" checks nothing).
  void setExpectedMtime(const std::string& mtime) { expectedMtime_ = mtime; }

  // Task thread, from inside the upload: the next piece of the block.
  bool OnUpLoadEvent(int, int) override { return false; }
  bool GetUpLoadData(int maxLength, ACE_Message_Block* block) override;
  bool UpLoadDataInPlace() const override { return true; }
  bool GetUpLoadData(size_t maxLength, const char*& data, size_t& length) override;
  // Starts the block again from its first byte (a resend after a renewed
  // session); the progress announced so far is taken back.
  bool RewindUpLoadData() override;
  // 0, or -1 when the local file does not open. Reads the block into memory (once): the
  // upload sends these bytes.
  int getBlockMd5(std::string& md5);

 private:
  // Posts BLOCK_PROGRESS (with the delta) or BLOCK_FAILED (with the error word and its code).
  void postStatus(int kind, const std::string& text, int delta, int error = 0);
  void takeBackProgress();

  std::string name_;
  std::string localFile_;
  int blockIndex_;
  int64_t offset_;
  int length_;
  int blockCount_;
  int reported_;        // bytes announced as progress
  int unreported_;      // bytes handed to the upload since the last announcement
  int64_t expectedLength_;
  std::string expectedMtime_;
  // Takes the next at most maxLength bytes of the block (progress announced); 0 at the end.
  size_t advance(size_t maxLength, const char*& data);

  BlockBuffer block_;  // the block's bytes, read once; hashed and sent from here
};

// The merge step of an upload. An upload whose recorded modification time is in whole seconds
// cannot show a rewrite at the same length within that second, so before the merge its local
// file is read again and its block digest compared with the record's: a difference (or a file
// that cannot be read) ends the step with NETDISK_ERR_FILE_CHANGED before anything is merged.
// A refused merge is done when the server lists the file finished at this length and a listed
// MD5 of its content does not differ from the local file's (the server merged before and its
// answer was lost); else NETDISK_ERR_MERGE_FAILED. Nothing on the server is removed.
// Results: MERGED, or MERGE_FAILED with the error code.
class MergeFileTask : public NetDiskTaskBase {
 public:
  explicit MergeFileTask(const std::string& name);
  ~MergeFileTask() override;
  void setExpectedFileLength(int64_t length) { expectedLength_ = length; }
  void setLocalFile(const std::string& path) { localFile_ = path; }
  // Compare the local file with the digest of the confirmed blocks before merging.
  void setVerify(int blockSize, const std::string& digest) {
    verify_ = true;
    blockSize_ = blockSize;
    digest_ = digest;
  }
  void execute() override;

 private:
  // 0 when the local file still holds what the confirmed blocks held; else the error code.
  int verifyLocalFile();
  // After a refused merge: 0 when the server's file of this name may be taken for this
  // upload's, else NETDISK_ERR_MERGE_FAILED.
  int confirmRefused(CSyncProtocol& protocol);

  std::string name_;
  std::string localFile_;
  int64_t expectedLength_ = -1;
  bool verify_ = false;
  int blockSize_ = 0;
  std::string digest_;
};

class DeleteFileTask : public NetDiskTaskBase {
 public:
  // `tag` is carried back unchanged in the result (the upload's local path).
  DeleteFileTask(const std::string& path, const std::string& tag);
  ~DeleteFileTask() override;
  void execute() override;

 private:
  std::string path_;
  std::string tag_;
};

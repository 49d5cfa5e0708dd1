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
  // First removes a file of that name left unfinished on the server by an earlier attempt.
  // The server's listing decides: a finished file (or one the listing does not show) is never
  // removed; the create then refuses a name that is taken, and the upload stops with that error.
  void setRemoveUnfinished(bool remove) { removeUnfinished_ = remove; }
  // First removes this upload's own merged file of that name (its record knows it is not the
  // local file's content); when it cannot go, nothing is created and the step fails with 11.
  void setRemoveStale(bool remove) { removeStale_ = remove; }

 private:
  std::string name_;
  int64_t length_;
  int blockCount_;
  bool removeUnfinished_ = false;
  bool removeStale_ = false;
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
  // Posts kind 1 (with the delta) or kind 5 (with the error word and its code).
  void postStatus(int kind, const std::string& text, int delta, int error = 0);
  void takeBackProgress();

  std::string name_;
  std::string localFile_;
  int blockIndex_;
  int64_t offset_;
  int length_;
  int blockCount_;
  FILE* file_;          // open only inside execute
  int reported_;        // bytes announced as progress
  int unreported_;      // bytes handed to the upload since the last announcement
  int64_t expectedLength_;
  std::string expectedMtime_;
  // Takes the next at most maxLength bytes of the block (progress announced); 0 at the end.
  size_t advance(size_t maxLength, const char*& data);

  BlockBuffer block_;  // the block's bytes, read once; hashed and sent from here
};

// The merge step of an upload, in one of three stages that the upload's record decides.
// Results: kind 3 when the file is merged or its content is confirmed; kind 6 with the error
// code otherwise.
class MergeFileTask : public NetDiskTaskBase {
 public:
  enum Stage {
    MERGE,        // merge the blocks. A refused merge is done when the server lists the file
                  // finished at this length and nothing shows other content (the server merged
                  // before and its answer was lost); else 9
    CHECK,        // compare the merged file's content with the local file: kind 3, or 4 when the
                  // listing proves other content, or 10 when the check could not finish
    REMOVE_STALE  // remove this upload's merged file of other content: 4 when it went, else 11
  };

  explicit MergeFileTask(const std::string& name);
  ~MergeFileTask() override;
  void setStage(Stage stage) { stage_ = stage; }
  void setExpectedFileLength(int64_t length) { expectedLength_ = length; }
  void setLocalFile(const std::string& path) { localFile_ = path; }
  void execute() override;

 private:
  // Whether the server's file of this name may be taken for this upload's: 0, or the error
  // code. Only a listed MD5 of 32 hexadecimal digits, not all zeros, tells the content; without
  // it, or without a readable local file, nothing can tell otherwise and the answer is 0.
  // `ownMerge`: this upload merged the file (else its merge was refused).
  int confirm(CSyncProtocol& protocol, bool ownMerge);

  std::string name_;
  std::string localFile_;
  int64_t expectedLength_ = -1;
  Stage stage_ = MERGE;
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

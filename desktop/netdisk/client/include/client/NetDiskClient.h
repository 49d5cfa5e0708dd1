// The desktop program's net-disk client: lists the user's files and space,
// uploads local files in resumable blocks of 524,288 bytes, deletes files and
// fetches download links. Public operations only number the request and queue
// a command to the engine thread; the work runs there and on the task threads,
// and outcomes reach the listeners on the engine thread.
//
// Thread rules:
// - Request operations, addListener and removeListener: the UI thread (one
//   thread); requestNumber_ is touched only there.
// - listenerLock_ guards listeners_; the engine thread holds it while it calls
//   the listeners.
// - Every other member: the engine thread only (the process* operations and
//   everything they call).
// - stopUploads_ is written by the engine thread and read by upload threads.
//
// The program stops the client at its end (shutdown); tests use it to start afresh.
#pragma once

#include "client/INetDiskClientListener.h"

struct UpFileTaskRecord;

#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class NetDiskTaskBase;

class NetDiskClient {
 public:
  static const int BLOCK_SIZE = 0x80000;
  static const int64_t MAX_FILE_SIZE = 0x80000000LL;  // files this large or larger are refused

  // The step an upload is at (or runs): UploadingFileStatus::upStatus.
  enum UploadStep { STEP_CREATE = 0, STEP_MERGE = 1, STEP_BLOCKS = 2 };

  // What an admitted upload asks of the step threads (stepSchedule_). A create or a merge is
  // one step, waiting for a thread or running; blocks run on up to `demand` threads at once.
  struct StepSchedule {
    enum Single { CREATE_WAITING = 0, CREATE_RUNNING = 1, MERGE_WAITING = 2, MERGE_RUNNING = 3 };
    static const int SINGLE = -1;
    int running = SINGLE;          // block threads running, or SINGLE for a create or merge step
    int demand = 0;                // blocks: the blocks still to be sent, running ones included
    Single state = CREATE_WAITING;  // SINGLE: where the create or merge step is
    static StepSchedule single(Single state) { return StepSchedule{SINGLE, 0, state}; }
    static StepSchedule blocks(int running, int demand) { return StepSchedule{running, demand, CREATE_WAITING}; }
    bool is(Single s) const { return running == SINGLE && state == s; }
  };

  // One upload held in memory.
  struct UploadingFileStatus {
    UploadingFileStatus()
        : upStatus(STEP_CREATE), fileLength(0), transferred(0), blockSize(BLOCK_SIZE), blockCount(0),
          runningThreads(0) {}
    std::string localFile;
    std::string date;
    std::string mtime;  // the local file's modification time when the upload was added
    int upStatus;       // UploadStep: the next or current step
    int64_t fileLength;
    int64_t transferred;
    int blockSize;
    int blockCount;
    int runningThreads;
    std::list<int> inFlight;
    std::list<int> pending;
  };

  static NetDiskClient* instance();

  NetDiskClient();
  virtual ~NetDiskClient();

  // UI thread. Each returns the request number, or -1 when the engine thread
  // is not running.
  int init(const std::string& userId, const std::string& password);
  int listFile();
  int deleteFile(const std::string& name);
  int listUploadTask();
  int addUploadTask(const std::string& localFile, const std::string& name);
  int pauseUploadTask(const std::string& name);
  int resumeUploadTask(const std::string& name);
  int cancelAllUploadTask();
  int getDownloadUrl(const std::vector<std::string>& names);

  void addListener(INetDiskClientListener* listener);
  void removeListener(INetDiskClientListener* listener);

  // Tests only, not from the engine thread: stops the engine thread, ends the
  // upload threads (their bodies end early) and waits for them, stops the task
  // thread and forgets everything held in memory, as a new process would.
  void shutdown();
  // Upload threads: true while the previous user's uploads must end early.
  static bool stopRequested() { return stopUploads_.load(); }

  // ---- Engine thread ----
  const std::string& userId() const { return userId_; }
  const std::string& password() const { return password_; }
  bool fileListPending() const { return fileListPending_; }
  void setFileListPending(bool pending) { fileListPending_ = pending; }

  void updateSpaceInfo(int64_t used, int64_t total);
  void updateSpaceInfo(int64_t delta, bool process, bool add);
  bool checkSpace(int64_t size) const;
  int64_t usedSpace() const { return usedSpace_; }
  int64_t totalSpace() const { return totalSpace_; }
  int64_t processSpace() const { return processSpace_; }
  int maxThread() const { return maxThread_; }
  int maxTask() const { return maxTask_; }
  void notifyUploadStatus(const UploadTaskStatus& task, int second, int error);

  // Listing and links.
  void processListFile(const std::vector<NetDiskFileItem>& files,
                       const std::map<std::string, std::string>& links, int requestNumber, int error);
  void processListUploadFile(int requestNumber);
  void processGetDownloadUrl(const std::vector<std::string>& names, int requestNumber);
  void processGetDownloadUrl(const std::map<std::string, std::string>& fetched,
                             const std::map<std::string, std::string>& known);

  // Upload engine.
  void processAddFileUpload(const std::string& name, const std::string& localFile, int requestNumber);
  int addUploadTask_i(const std::string& name);
  int delUploadTask_i(const std::string& name);
  int startUploadThread(const std::string& name, int upStatus, int demand);
  int getUploadFileStatus(const std::string& name, int& upStatus, int& demand,
                          UploadingFileStatus* out = 0);
  int updateFromDatabase(const std::string& name, UploadingFileStatus& status);
  int getNextUploadTask(std::string& name, int& upStatus, int& demand);
  int startWaitTasks();
  int getUploadBlockInfo(const std::string& name, std::string& localFile, int& blockIndex,
                         int64_t& offset, int& length, int& blockCount);
  void processCreateFileSuccess(const std::string& name, const std::string& downUrl,
                                const std::string& date);
  void processUploadThreadComplete(const std::string& name, int upStatus, int blockIndex, int error);
  // The create step failed (`error`); `ownFile` (UpFileOwnFile, -1 when not said) is what the
  // server may still hold that the upload created.
  void processCreateFailed(const std::string& name, int ownFile, int error);
  // A block step stored its block (`md5`: the block's MD5): it is booked, and the step ends.
  void processBlockStored(const std::string& name, int blockIndex, const std::string& md5);
  // The merge step's result: NETDISK_OK ends the upload finished; NETDISK_ERR_FILE_CHANGED (the
  // local file no longer holds what its blocks held) puts its record back to its first step
  // and stops it; any other error stops it.
  void processMergeResult(const std::string& name, int error);
  // Books a confirmed block in the upload's record (UploadRecords::bookBlock). Despite the
  // name it is not the counterpart of updateFromDatabase, which loads a status from it.
  void updateToDatabase(const std::string& name, int blockIndex, const std::string& md5);
  // Adds the delta to the upload's transferred bytes; false when no upload
  // of that name is held.
  bool addTransferred(const std::string& name, int delta, int64_t& transferred, int64_t& fileLength);
  static int64_t getLocalFileSize(const std::string& path);
  // The modification time as "<seconds>.<nine digits of nanoseconds>": a file rewritten within
  // the same second still shows a change.
  static int getLocalFileMtime(const std::string& path, std::string& mtime);
  // The file has the recorded modification time. Records in whole seconds (written before the
  // nanoseconds were kept) compare the seconds only.
  static bool sameMtime(const std::string& recorded, const std::string& now);
  // The time has no fraction of a second (the file system keeps whole seconds, or the record
  // is from before the nanoseconds were kept): a rewrite at the same length within that second
  // does not show in it, so the upload keeps a digest of its blocks and its merge step reads
  // the local file again first.
  static bool wholeSecondMtime(const std::string& mtime);

  // Control operations.
  void processPauseUpload(const std::string& name, int requestNumber);
  void processResumeUpload(const std::string& name, int requestNumber);
  void processDeleteUpload(const std::string& name, int requestNumber);
  void processCancelAllUpload(int requestNumber);
  int deleteFile_i(const std::string& name, bool onlyIfRequested);
  void processDeleteFileResult(const std::string& name, const std::string& localFile, int error);
  void processChangeUserInfo(const std::string& userId, const std::string& password);
  void processOldUploadEvent(const std::string& name);

  // For tests, on the engine thread (or when no engine thread runs).
  const std::list<std::string>& waitList() const { return waitList_; }
  const std::list<std::string>& processList() const { return processList_; }
  int runningThreads() const { return runningThreads_; }

 private:
  NetDiskClient(const NetDiskClient&);
  NetDiskClient& operator=(const NetDiskClient&);

  void forEachListener(const std::function<void(INetDiskClientListener*)>& call);
  void readConfig();
  void resetState();  // engine state back to a fresh client's
  void resetUserLists();
  // Books a created file (UploadRecords::bookCreated) and sets the status's pending blocks.
  // Returns the block count, or -1 when the task row is missing.
  int bookCreatedFile(const std::string& name, const std::string& date);
  // The schedule and bookkeeping after a booked create (`count` blocks, -1 when not booked):
  // blocks next, or the merge when there is none.
  void scheduleAfterCreate(const std::string& name, int count);
  // Status bookkeeping of a thread's start or end. True when the status was
  // dropped.
  bool updateThreadState(const std::string& name, int upStatus, int delta, int blockIndex, bool requeue);
  void dropFromLists(const std::string& name);  // wait/process list without space
  // The upload's status as held in memory (local path, length, bytes sent), in `state`.
  UploadTaskStatus heldStatus(const std::string& name, int state);
  // The same, from its record when it is not held.
  UploadTaskStatus recordedStatus(const std::string& name, int state);
  // Forgets the held statuses that no step thread runs for.
  void eraseIdleStatuses();
  // The schedule of an upload whose step still runs from before its admission.
  void scheduleRunning(const std::string& name);
  static bool contains(const std::list<std::string>& list, const std::string& name);
  static void removeName(std::list<std::string>& list, const std::string& name);
  // The space an admitted upload holds (heldSpace_, summed in processSpace_): hold sets it to
  // `size`, release gives it back (nothing when it holds none).
  void holdSpace(const std::string& name, int64_t size);
  void releaseSpace(const std::string& name);
  // Ends an upload finished: its record, the name lists, its local path; `length` joins the
  // used space when `countUsed` (a listing that already counts it says not).
  void finishUpload(const std::string& name, int64_t length, bool countUsed);
  // A created record with every block confirmed whose file the listing shows finished at the
  // upload's length: its merge was done and its answer lost.
  bool mergedOnServer(const UpFileTaskRecord& row);
  // Hands a step task to a thread of its own; on failure the step is
  // reported failed at once. Counts it in runningThreads_.
  void spawnStep(NetDiskTaskBase* task, const std::string& name, int upStatus, int blockIndex);
  // The local file of a stopped upload changed since it was added (length or modification
  // time): its booked blocks are dropped and the record restarts (UploadRecords::restart: at
  // the same length every block goes again into the upload's own file). False when nothing
  // changed (or the file cannot be read, which the block step reports). `row` is rewritten.
  bool restartIfChanged(const std::string& name, UpFileTaskRecord& row);

  // UI thread.
  int requestNumber_;

  // listenerLock_ guards listeners_.
  ACE_Thread_Mutex listenerLock_;
  std::list<INetDiskClientListener*> listeners_;

  // Engine thread only.
  std::string userId_;
  std::string password_;
  std::map<std::string, std::string> downloadUrls_;
  bool fileListPending_;
  bool fileListLoaded_;
  int64_t totalSpace_;
  int64_t usedSpace_;
  int64_t processSpace_;                      // the sum of heldSpace_
  std::map<std::string, int64_t> heldSpace_;  // admitted upload -> the bytes it holds

  std::list<std::string> waitList_;
  std::list<std::string> processList_;  // its size is the number of uploads being processed
  int maxTask_;
  int runningThreads_;
  int maxThread_;
  std::map<std::string, UploadingFileStatus> uploadingFileStatus_;
  std::map<std::string, StepSchedule> stepSchedule_;
  std::map<std::string, std::string> localFiles_;  // local path -> name
  std::list<std::string> finishedNames_;
  std::list<std::string> unfinishedNames_;
  std::list<std::string> deleteRequests_;
  bool holdNewTasks_;

  static std::atomic<bool> stopUploads_;
};

typedef ACE_Singleton<NetDiskClient, ACE_Thread_Mutex> NetDiskClientSingleton;

// The address book's jobs on the job runner. ContactListJob carries the XCAP connection
// parameters, owns the XCAP client made for it, keeps the status and the cancel flag and wraps
// the application-usage factory; CL_UpdateJob fetches the user's buddy tree and its ETag.
//
// Status: 11 no result yet (or an XCAP result outside 0..12), 0 fetched, 1 failed, 2 cancelled,
// 5 missing parent (XCAP 5), 8 not found on a change (XCAP 4).
//
// Threads: execute and what it calls run on the job's thread; cancel, isCancelled, getStatus
// and the accessors may be called from any thread. paramMutex guards the parameters,
// xcapClient and etag; status and cancelled are atomics. The XCAP library's own locks are
// taken inside its calls, never around them.
#pragma once

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <string>
#include <vector>

#include "corvane/IXcapClient.h"
#include "corvane/Sptr.h"
#include "corvane/TreeNode.h"
#include "corvane/XcapTypes.h"
#include "corvane/tree.h"
#include "jobs/LongTimeJob.h"

class AppUsageFactory;
class ResourceListsAppUsage;

class ContactListJob : public LongTimeJob {
 public:
  // The text is kept and not read; the update job passes "".
  explicit ContactListJob(const std::string& note = std::string());
  ~ContactListJob() override;

  // Runner's job thread: execute_i, then every observer's onNotify.
  int execute() override;
  // Any thread: marks the job cancelled (status 2), aborts a streamed transfer of its client,
  // then notifies the observers on the calling thread.
  void cancel() override;
  bool isCancelled() override { return cancelled.load(); }
  virtual void execute_i();

  // Parameters: each takes paramMutex; the setters are for the poster, before the post.
  void xcapAddress(const std::string& address);
  std::string xcapAddress();
  void xcapUserID(const std::string& userId);
  std::string xcapUserID();
  void xcapPassword(const std::string& password);
  std::string xcapPassword();
  void xcapAuthenticateMode(AuthenticateMode mode);
  AuthenticateMode xcapAuthenticateMode();
  // 1 (streamed, so that cancel can abort it) for a job that runs on a thread of its own.
  DownloadMode xcapDownloadMode();

  // The factory with the job's coding format set, after making the job's XCAP client on the
  // first call; null (status 1) without a factory. Job thread.
  AppUsageFactory* getAppUsageFactory();
  // The user's resource-lists usage (every top-level list kept); null (status 1) when none.
  // Hand it back with releaseResourceLists. Job thread.
  ResourceListsAppUsage* getResourceLists();
  void releaseResourceLists(ResourceListsAppUsage* usage);

  // Stores and returns the status for an XCAP result.
  int mapXcapResult(int result);
  int getStatus() const { return status.load(); }
  int getJobType() const { return jobType; }
  // The job's client (empty before the first getAppUsageFactory). Any thread.
  Sptr<IXcapClient> getXcapClient();

  // Set by the poster before the post.
  CodingFormat codingFormat;

 protected:
  ACE_Thread_Mutex paramMutex;
  Sptr<IXcapClient> xcapClient;  // guarded by paramMutex
  std::string xcapAddress_;      // guarded by paramMutex
  std::string xcapUserID_;       // guarded by paramMutex
  AuthenticateMode xcapAuthenticateMode_;  // guarded by paramMutex
  std::string xcapPassword_;     // guarded by paramMutex
  std::atomic<int> status;
  std::atomic<bool> cancelled;   // only ever set
  std::atomic<bool> finished_{false};  // set once execute has told its observers; a later cancel does nothing
  int jobType;                   // 17 here, 1 for CL_UpdateJob; fixed at construction
  std::string note_;
};

class CL_UpdateJob : public ContactListJob {
 public:
  CL_UpdateJob();
  ~CL_UpdateJob() override;

  // Bit 0 set: fetch the buddy tree. Before the post.
  void setUpdateFlag(int flag);
  int getUpdateFlag() const { return updateFlag; }
  std::string getEtag();
  // The fetched tree. Read it only on the job's thread after execute_i (its observers there),
  // or once getStatus() answered 0.
  const tree<TreeNode>& getBuddyTree() const { return buddyTree; }

  void execute_i() override;

  // Never filled by the job; carried for the agent.
  std::vector<std::string> addedBuddys;
  std::vector<std::string> removedBuddys;
  std::vector<std::string> addedGroups;
  std::vector<std::string> removedGroups;

 private:
  tree<TreeNode> buddyTree;  // written on the job thread before the status is stored
  int updateFlag;
  std::string etag;          // guarded by paramMutex
};

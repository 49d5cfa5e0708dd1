// The contact-list agent: posts the address-book fetch jobs to the job runner, remembers their
// ids so that it can cancel them, and when a job ends (on the job's thread) builds the group
// and contact model from the fetched buddy tree, refills the contact table and hands the model,
// or the job's non-zero status with an empty model, to its listeners.
//
// Ownership: the address-book client holds the agent in a Sptr<ContactListAgent>; every posted
// job holds a Sptr<LongTimeJobObserver> sharing that count, so the agent lives until the client
// and every job that observes it have let it go.
//
// Threads and locks: update, addListener, removeListener, stop and the setters on the UI
// thread; onNotify, handleUpdateJob, the build and the notification on the thread that ends a
// job (or the thread that cancels it). stateMutex_ guards stopFlag_, userId_, password_ and is
// held around the build's table steps (the database lock is taken inside it); jobIdMutex_
// guards jobIds_. No two of them are held together, and none is held while a listener runs or
// while the job runner is called. The listeners are called outside every lock (ListenerList);
// removeListener returns only when a walk on another thread can no longer call the listener.
#pragma once

#include <ace/Thread_Mutex.h>

#include <map>
#include <string>
#include <vector>

#include "addressbook/AddressBookListeners.h"
#include "addressbook/ContactModel.h"
#include "addressbook/ListenerList.h"
#include "corvane/Sptr.h"
#include "corvane/TreeNode.h"
#include "corvane/XcapTypes.h"
#include "corvane/tree.h"
#include "jobs/LongTimeJob.h"

class ContactListJob;
class CL_UpdateJob;

class AgentBase {
 public:
  virtual ~AgentBase() {}
  virtual void cancelAllJobs(int flag) = 0;
  // Removes the observer from the registered job of that id (result ignored). Any thread.
  static void detachJobObserver(const std::string& jobId, Sptr<LongTimeJobObserver> observer);
};

class IContactListAgent {
 public:
  virtual ~IContactListAgent() {}
  virtual int update(int flags) = 0;
  virtual void addListener(IContactListListener* listener) = 0;
  virtual void removeListener(IContactListListener* listener) = 0;
};

// The part of the buddy tree a node belongs to, by its selector's beginning and its type.
enum NodeKind {
  NODE_MYBUDDYS_CONTACT = 0,
  NODE_MYBUDDYS_GROUP = 1,
  NODE_OTHER_CONTACT = 2,
  NODE_OTHER_GROUP = 3,
  NODE_GROUPS_GROUP = 4,
  NODE_GROUPS_CONTACT = 5,
  NODE_OTHER_TYPE = 6
};

class ContactListAgent : public AgentBase, public IContactListAgent, public LongTimeJobObserver {
 public:
  ContactListAgent();
  ~ContactListAgent() override;

  // With flag 0 nothing; else asks the runner to cancel every listed job. Any thread.
  void cancelAllJobs(int flag) override;
  // Hands the model and the status to every listener, outside every lock of the agent.
  virtual void OnUpdate(const std::vector<Sptr<INode>>& rootGroups,
                        std::map<std::string, Sptr<INode>> groups,
                        std::map<std::string, Sptr<INode>> contacts, int status);
  // An empty model with the status.
  void OnUpdate(int status);
  // The model build: turns the organization's part of the tree into groups and contacts,
  // refills the contact table and notifies with status 0 (a non-zero status is passed on with
  // an empty model). Ends silently when stop was asked for.
  void OnUpdate(const tree<TreeNode>& buddyTree, int status);

  // Posts a fetch job with the flags; 0 when posted, 1 when not. UI thread.
  int update(int flags) override;
  void addListener(IContactListListener* listener) override;
  void removeListener(IContactListListener* listener) override;

  // The runner's end-of-job call (job thread, or the cancelling thread).
  void onNotify(LongTimeJob* job) override;

  // Sets the stop flag, then cancels every listed job. A build running on another thread ends
  // at its next stop test; once stop returns it writes nothing more to the contact table.
  void stop();

  // Fills the job's parameters, registers the agent as its observer and posts it; 0 or 1.
  int dealJob(ContactListJob* job);
  void handleUpdateJob(CL_UpdateJob* job);

  void addJobId(const std::string& id);
  bool removeJobId(const std::string& id);
  void copyJobIds(std::vector<std::string>& out);

  static NodeKind classifyNode(const TreeNode& node);

  // Credentials for the next fetch. UI thread.
  void setUserId(const std::string& userId);
  void setPassword(const std::string& password);
  bool isStopped();

 private:
  ContactListAgent(const ContactListAgent&) = delete;
  ContactListAgent& operator=(const ContactListAgent&) = delete;

  // The Sptr the address-book client holds to this agent, as an observer; empty when the
  // client holds another agent or none.
  Sptr<LongTimeJobObserver> selfAsObserver();
  // The notification of OnUpdate; returns how many listeners were called.
  size_t notifyListeners(const std::vector<Sptr<INode>>& rootGroups,
                         const std::map<std::string, Sptr<INode>>& groups,
                         const std::map<std::string, Sptr<INode>>& contacts, int status);

  ListenerList<IContactListListener> listeners_;
  ACE_Thread_Mutex stateMutex_;
  ACE_Thread_Mutex jobIdMutex_;
  std::vector<std::string> jobIds_;  // guarded by jobIdMutex_; posting order
  CodingFormat codingFormat_;        // CODING_GB2312; fixed
  std::string userId_;               // guarded by stateMutex_
  std::string password_;             // guarded by stateMutex_
  bool stopFlag_;                    // guarded by stateMutex_
};

#include "addressbook/ContactListAgent.h"

#include <ace/Guard_T.h>

#include <new>

#include "addressbook/AddressBookClient.h"
#include "addressbook/ContactListJob.h"
#include "corvane/ResourceListsAppUsage.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "sso/SsoClient.h"
#include "util/Config.h"

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

void AgentBase::detachJobObserver(const std::string& jobId, Sptr<LongTimeJobObserver> observer) {
  LongTimeTask::instance()->removeJobObserver(jobId, observer);
}

ContactListAgent::ContactListAgent() : codingFormat_(CODING_GB2312), stopFlag_(false) {
  IM_TRACE("ContactListAgent::ContactListAgent");
}

ContactListAgent::~ContactListAgent() {
  IM_TRACE("ContactListAgent::~ContactListAgent");
  cancelAllJobs(1);
}

void ContactListAgent::cancelAllJobs(int flag) {
  if (flag == 0) return;
  std::vector<std::string> ids;
  copyJobIds(ids);
  for (size_t i = 0; i < ids.size(); ++i) LongTimeTask::instance()->cancelJob(ids[i]);
}

void ContactListAgent::stop() {
  IM_TRACE("ContactListAgent::stop");
  {
    Guard g(stateMutex_);
    stopFlag_ = true;
  }
  cancelAllJobs(1);
}

bool ContactListAgent::isStopped() {
  Guard g(stateMutex_);
  return stopFlag_;
}

void ContactListAgent::setUserId(const std::string& userId) {
  Guard g(stateMutex_);
  userId_ = userId;
}

void ContactListAgent::setPassword(const std::string& password) {
  Guard g(stateMutex_);
  password_ = password;
}

void ContactListAgent::addListener(IContactListListener* listener) {
  IM_TRACE("ContactListAgent::addListener");
  listeners_.add(listener);
}

void ContactListAgent::removeListener(IContactListListener* listener) {
  IM_TRACE("ContactListAgent::removeListener");
  listeners_.remove(listener);
}

void ContactListAgent::addJobId(const std::string& id) {
  IM_TRACE("ContactListAgent::addJobId");
  if (id.empty()) return;
  Guard g(jobIdMutex_);
  jobIds_.push_back(id);
}

bool ContactListAgent::removeJobId(const std::string& id) {
  IM_TRACE("ContactListAgent::removeJobId");
  if (id.empty()) return false;
  Guard g(jobIdMutex_);
  for (std::vector<std::string>::iterator it = jobIds_.begin(); it != jobIds_.end(); ++it) {
    if (*it == id) {
      jobIds_.erase(it);
      return true;
    }
  }
  return false;
}

void ContactListAgent::copyJobIds(std::vector<std::string>& out) {
  Guard g(jobIdMutex_);
  out = jobIds_;
}

Sptr<LongTimeJobObserver> ContactListAgent::selfAsObserver() {
  Sptr<ContactListAgent> held = AddressBookClient::instance()->getAgent();
  if (held.get() != this) return Sptr<LongTimeJobObserver>();
  return Sptr<LongTimeJobObserver>(held);
}

int ContactListAgent::update(int flags) {
  IM_TRACE("ContactListAgent::update");
  CL_UpdateJob* job = new (std::nothrow) CL_UpdateJob;
  if (job != 0) job->setUpdateFlag(flags);
  int rc = dealJob(job);
  if (rc != 0) {
    delete job;
    return rc;
  }
  Guard g(stateMutex_);
  stopFlag_ = false;
  return 0;
}

int ContactListAgent::dealJob(ContactListJob* job) {
  IM_TRACE("ContactListAgent::dealJob");
  if (job == 0) {
    IM_LOG_WARN("Post a NULL command!");
    return 1;
  }
  std::string id = job->getJobId();
  addJobId(id);
  job->addObserver(selfAsObserver());

  Config* config = Config::instance();
  std::string ssoServer = config->getStrValue("SSO", "server", "");
  std::string xcapServer = config->getStrValue("XCAP", "server", "");
  std::string user;
  std::string password;
  {
    Guard g(stateMutex_);
    user = userId_;
    password = password_;
  }
  job->codingFormat = codingFormat_;
  job->xcapUserID(user);
  job->xcapPassword(password);
  SsoClient* sso = SsoClient::instance();
  if (sso != 0) sso->setServer(ssoServer);
  job->xcapAddress(xcapServer);
  job->xcapAuthenticateMode(AUTH_SSO);

  if (LongTimeTask::instance()->postJob(job) != 0) {
    IM_LOG_WARN("postJob is failed !");
    removeJobId(id);
    return 1;
  }
  return 0;
}

void ContactListAgent::onNotify(LongTimeJob* job) {
  if (job == 0) return;
  std::string id = job->getJobId();
  if (removeJobId(id)) {
    CL_UpdateJob* update = dynamic_cast<CL_UpdateJob*>(job);
    if (update != 0) handleUpdateJob(update);
  }
  detachJobObserver(id, selfAsObserver());
}

void ContactListAgent::handleUpdateJob(CL_UpdateJob* job) {
  if (job->getJobType() != 1) return;
  // A cancelled job reports 2 even when its aborted request has already stored its own result.
  int status = job->isCancelled() ? 2 : job->getStatus();
  if (status != 0) {
    OnUpdate(status);
    return;
  }
  // The job has ended: its tree is read in place (the build copies what it keeps).
  OnUpdate(job->getBuddyTree(), 0);
}

void ContactListAgent::OnUpdate(int status) {
  IM_TRACE("ContactListAgent::OnUpdate");
  OnUpdate(std::vector<Sptr<INode>>(), std::map<std::string, Sptr<INode>>(),
           std::map<std::string, Sptr<INode>>(), status);
}

void ContactListAgent::OnUpdate(const std::vector<Sptr<INode>>& rootGroups,
                                std::map<std::string, Sptr<INode>> groups,
                                std::map<std::string, Sptr<INode>> contacts, int status) {
  IM_TRACE("ContactListAgent::OnUpdate");
  notifyListeners(rootGroups, groups, contacts, status);
}

size_t ContactListAgent::notifyListeners(const std::vector<Sptr<INode>>& rootGroups,
                                         const std::map<std::string, Sptr<INode>>& groups,
                                         const std::map<std::string, Sptr<INode>>& contacts,
                                         int status) {
  return listeners_.forEach([&](IContactListListener* listener) {
    listener->OnUpdate(rootGroups, groups, contacts, status);
  });
}

NodeKind ContactListAgent::classifyNode(const TreeNode& node) {
  const std::string selector = node.selector();
  bool groups = selector.compare(0, ResourceListsAppUsage::GROUP_LIST_NAME.size(),
                                 ResourceListsAppUsage::GROUP_LIST_NAME) == 0;
  bool mybuddys = !groups && selector.compare(0, ResourceListsAppUsage::MYBUDDYS_NODE.size(),
                                              ResourceListsAppUsage::MYBUDDYS_NODE) == 0;
  switch (node.nodeType()) {
    case ELEMENT_GROUP:
      return groups ? NODE_GROUPS_GROUP : mybuddys ? NODE_MYBUDDYS_GROUP : NODE_OTHER_GROUP;
    case ELEMENT_BUDDY:
      return groups ? NODE_GROUPS_CONTACT : mybuddys ? NODE_MYBUDDYS_CONTACT : NODE_OTHER_CONTACT;
    default:
      return NODE_OTHER_TYPE;
  }
}

#include "addressbook/ContactListJob.h"

#include <ace/Guard_T.h>

#include "corvane/AppUsage.h"
#include "corvane/ResourceListsAppUsage.h"
#include "corvane/XcapClient.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

namespace {

// One fetch at a time in the process. The factory shares one usage per user among its holders,
// and that usage talks through the client of the job that made it: a cancelled job's client is
// stopped for good and must not be used by the fetch of a later job. Held on the job
// thread from taking the usage to handing it back; no other lock of the address book is held
// with it, and cancel never takes it.
ACE_Thread_Mutex& fetchGate() {
  static ACE_Thread_Mutex gate;
  return gate;
}

}  // namespace

// ---- ContactListJob ----

ContactListJob::ContactListJob(const std::string& note)
    : codingFormat(CODING_UTF8),
      xcapAuthenticateMode_(AUTH_PLAIN),
      status(11),
      cancelled(false),
      jobType(17),
      note_(note) {
  IM_TRACE("ContactListJob::ContactListJob");
}

ContactListJob::~ContactListJob() {}

int ContactListJob::execute() {
  IM_TRACE("ContactListJob::execute");
  execute_i();
  finished_ = true;
  notifyObservers();
  return 0;
}

void ContactListJob::cancel() {
  IM_TRACE("ContactListJob::cancel");
  if (finished_) return;  // the job has ended and told its observers: nothing left to cancel
  if (cancelled.exchange(true)) return;  // the first cancel acts and notifies, later ones not
  status = 2;
  // Observers hear of the cancel on this thread before the request is stopped: stopped first,
  // the job thread could end and report before this thread does, and the canceller (the
  // update dialog's stop command) would not see the outcome at once.
  notifyObservers();
  // The client is the job's own: stopping it for good ends a running request, and keeps one
  // that is about to start from going out.
  Sptr<IXcapClient> client = getXcapClient();
  if (client) client->stop();
}

void ContactListJob::execute_i() { IM_TRACE("ContactListJob::execute_i"); }

void ContactListJob::xcapAddress(const std::string& address) {
  IM_TRACE("ContactListJob::xcapAddress");
  Guard g(paramMutex);
  xcapAddress_ = address;
}

std::string ContactListJob::xcapAddress() {
  IM_TRACE("ContactListJob::xcapAddress");
  Guard g(paramMutex);
  return xcapAddress_;
}

void ContactListJob::xcapUserID(const std::string& userId) {
  IM_TRACE("ContactListJob::xcapUserID");
  Guard g(paramMutex);
  xcapUserID_ = userId;
}

std::string ContactListJob::xcapUserID() {
  IM_TRACE("ContactListJob::xcapUserID");
  Guard g(paramMutex);
  return xcapUserID_;
}

void ContactListJob::xcapPassword(const std::string& password) {
  IM_TRACE("ContactListJob::xcapPassword");
  Guard g(paramMutex);
  xcapPassword_ = password;
}

std::string ContactListJob::xcapPassword() {
  IM_TRACE("ContactListJob::xcapPassword");
  Guard g(paramMutex);
  return xcapPassword_;
}

void ContactListJob::xcapAuthenticateMode(AuthenticateMode mode) {
  IM_TRACE("ContactListJob::xcapAuthenticateMode");
  Guard g(paramMutex);
  xcapAuthenticateMode_ = mode;
}

AuthenticateMode ContactListJob::xcapAuthenticateMode() {
  IM_TRACE("ContactListJob::xcapAuthenticateMode");
  Guard g(paramMutex);
  return xcapAuthenticateMode_;
}

DownloadMode ContactListJob::xcapDownloadMode() {
  IM_TRACE("ContactListJob::xcapDownloadMode");
  return mode == 1 ? DOWNLOAD_STREAMED : DOWNLOAD_BLOCKING;
}

Sptr<IXcapClient> ContactListJob::getXcapClient() {
  Guard g(paramMutex);
  return xcapClient;
}

AppUsageFactory* ContactListJob::getAppUsageFactory() {
  IM_TRACE("ContactListJob::getAppUsageFactory");
  AppUsageFactory* factory = AppUsageFactory::instance();
  if (factory == 0) {
    IM_LOG_WARN("The AppUsageFactory::instance return NULL!");
    status = 1;
    return 0;
  }
  factory->initCodingFormat(codingFormat);
  if (!getXcapClient()) {
    DownloadMode download = xcapDownloadMode();
    AuthenticateMode authenticate = xcapAuthenticateMode();
    std::string password = xcapPassword();
    std::string address = xcapAddress();
    std::string user = xcapUserID();
    Sptr<IXcapClient> made(XcapClientFactory::instance()->createXcapClient(
        user, address, authenticate, download, password));
    Guard g(paramMutex);
    // Handed over under the lock, so that a cancel on another thread sees it whole.
    xcapClient = made;
  }
  return factory;
}

ResourceListsAppUsage* ContactListJob::getResourceLists() {
  IM_TRACE("ContactListJob::getResourceLists");
  AppUsageFactory* factory = getAppUsageFactory();
  if (factory == 0) return 0;
  Sptr<IXcapClient> client = getXcapClient();
  if (!client) {
    // No client could be made (the address is not host:port): nothing to fetch with.
    IM_LOG_WARN("No XCAP client for the address book!");
    status = 1;
    return 0;
  }
  ResourceListsAppUsage* usage = factory->getResourceLists(xcapUserID(), client, false);
  if (usage == 0) {
    IM_LOG_WARN("The getResourceLists return NULL!");
    status = 1;
  }
  return usage;
}

void ContactListJob::releaseResourceLists(ResourceListsAppUsage* usage) {
  IM_TRACE("ContactListJob::releaseResourceLists");
  AppUsageFactory* factory = AppUsageFactory::instance();
  if (usage != 0 && factory != 0) factory->releaseResourceLists(usage);
}

int ContactListJob::mapXcapResult(int result) {
  static const int kStatus[] = {0, 0, 1, 1, 8, 5, 1, 1, 1, 1, 1, 1, 1};
  int mapped = (result >= 0 && result <= 12) ? kStatus[result] : 11;
  status = mapped;
  return mapped;
}

// ---- CL_UpdateJob ----

CL_UpdateJob::CL_UpdateJob() : updateFlag(3) {
  IM_TRACE("CL_UpdateJob::CL_UpdateJob");
  jobType = 1;
}

CL_UpdateJob::~CL_UpdateJob() {}

void CL_UpdateJob::setUpdateFlag(int flag) {
  IM_TRACE("CL_UpdateJob::setUpdateFlag");
  updateFlag = flag;
}

std::string CL_UpdateJob::getEtag() {
  Guard g(paramMutex);
  return etag;
}

void CL_UpdateJob::execute_i() {
  IM_TRACE("CL_UpdateJob::execute_i");
  if ((updateFlag & 1) == 0) return;
  Guard gate(fetchGate());
  if (isCancelled()) return;  // cancelled before its turn: nothing is fetched
  ResourceListsAppUsage* usage = getResourceLists();
  if (usage == 0) return;
  // A cancel that came before the client was handed over found nothing to stop: it is seen
  // here instead (cancel sets the flag before it looks for the client). One that finds the
  // client stops it for good, so the request below fails at once without going out.
  if (isCancelled()) {
    releaseResourceLists(usage);
    return;
  }
  XCAPAccessResult result = usage->getBuddyTree(buddyTree);
  mapXcapResult(result);
  std::string fetchedEtag = usage->etag();
  {
    Guard g(paramMutex);
    etag.swap(fetchedEtag);
  }
  releaseResourceLists(usage);
}

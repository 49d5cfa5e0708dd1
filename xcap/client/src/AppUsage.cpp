#include "corvane/AppUsage.h"

#include "bindings/XcapNamespaces.h"
#include "bindings/xcap-error.hxx"
#include "corvane/PresRulesAppUsage.h"
#include "corvane/RLSServicesAppUsage.h"
#include "corvane/ResourceListsAppUsage.h"
#include "corvane/XcapClient.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"
#include "util/StringParser.h"

#include <ace/Init_ACE.h>
#include <ace/Guard_T.h>
#include <ace/Singleton.h>

#include <cerrno>
#include <new>
#include <sstream>

ACE_Recursive_Thread_Mutex Parser::xercesLock_;

const std::string AppUsage::USERS_ = "myusers";

// ---- AppUsage ----

AppUsage::AppUsage(const std::string& user, const std::string& auid, const std::string& mimeType,
                   const CodingFormat& codingFormat, Sptr<IXcapClient> client)
    : xcapClient_(client), auid_(auid), mimeType_(mimeType), user_(user),
      codingFormat_(codingFormat) {}

AppUsage::AppUsage(const std::string& user, const std::string& auid, const std::string& mimeType,
                   const CodingFormat& codingFormat, const std::string& address,
                   const AuthenticateMode& authenticateMode, const DownloadMode& downloadMode,
                   const std::string& password)
    : auid_(auid), mimeType_(mimeType), user_(user), codingFormat_(codingFormat) {
  IXcapClient* client = XcapClientFactory::instance()->createXcapClient(
      user, address, authenticateMode, downloadMode, password);
  if (client != 0) xcapClient_ = client;
}

AppUsage::AppUsage(const AppUsage& other)
    : xcapClient_(other.xcapClient_), auid_(other.auid_), mimeType_(other.mimeType_),
      user_(other.user_), defaultDocumentNamespace_(other.defaultDocumentNamespace_),
      codingFormat_(other.codingFormat_) {}

AppUsage& AppUsage::operator=(const AppUsage& other) {
  if (this != &other) {
    xcapClient_ = other.xcapClient_;
    auid_ = other.auid_;
    mimeType_ = other.mimeType_;
    user_ = other.user_;
    defaultDocumentNamespace_ = other.defaultDocumentNamespace_;
    codingFormat_ = other.codingFormat_;
  }
  return *this;
}

AppUsage::~AppUsage() {}

void AppUsage::cancel() {
  if (xcapClient_) xcapClient_->cancel();
}

std::string AppUsage::xmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::string::size_type i = 0; i < text.size() && text[i] != '\0'; ++i) {
    char c = text[i];
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c; break;
    }
  }
  return out;
}

int AppUsage::utf8Encode(const std::string& in, std::string& out) const {
  switch (codingFormat_) {
    case CODING_UTF8:
      if (!CodingTransform::isValidUTF8(in)) return -1;
      out = in;
      return 0;
    case CODING_GB2312:
      out = CodingTransform::gb2312_to_utf8(in);
      return 0;
    default:
      return -1;
  }
}

int AppUsage::utf8Decode(const std::string& in, std::string& out) const {
  switch (codingFormat_) {
    case CODING_UTF8:
      out = in;
      return 0;
    case CODING_GB2312:
      out = CodingTransform::utf8_to_gb2312(in);
      return 0;
    default:
      return -1;
  }
}

bool AppUsage::isValidUserId(const std::string& userId) const {
  if (codingFormat_ == CODING_UTF8 && !CodingTransform::isValidUTF8(userId)) return false;
  std::string name;
  std::string domain;
  return StringParser::parseUserId(userId, name, domain);
}

XCAPAccessResult AppUsage::decodeXcapError(const std::string& body) const {
  try {
    std::unique_ptr<Xcap_Error::xcap_error> doc;
    {
      ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
      std::istringstream is(body);
      doc = Xcap_Error::xcap_error_(is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties());
    }
    if (!doc) return XCAP_FAILURE;
    if (dynamic_cast<const Xcap_Error::no_parent*>(&doc->error_element()) != 0) {
      return XCAP_NO_PARENT;
    }
    return XCAP_FAILURE;
  } catch (...) {
    IM_LOG_ERROR("Corvane, [owner = %s, reason = Decode XcapError Failed]", user_.c_str());
    return XCAP_DECODE_FAILED;
  }
}

// ---- AppUsageFactory ----

AppUsageFactory::AppUsageFactory() : codingFormat_(CODING_UTF8) { ACE::init(); }

AppUsageFactory::~AppUsageFactory() {
  // The usages still held stay alive for their holders.
  {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(resourceListsMutex_);
    resourceListsCache_.clear();
  }
  {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(presRulesMutex_);
    presRulesCache_.clear();
  }
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(rlsServicesMutex_);
  rlsServicesCache_.clear();
}

AppUsageFactory* AppUsageFactory::instance() {
  return ACE_Singleton<AppUsageFactory, ACE_Thread_Mutex>::instance();
}

void AppUsageFactory::initCodingFormat(const CodingFormat& codingFormat) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> g1(resourceListsMutex_);
  ACE_Guard<ACE_Recursive_Thread_Mutex> g2(presRulesMutex_);
  ACE_Guard<ACE_Recursive_Thread_Mutex> g3(rlsServicesMutex_);
  codingFormat_ = codingFormat;
}

template <class T, class Make>
T* AppUsageFactory::getCached(Cache& cache, ACE_Recursive_Thread_Mutex& mutex,
                              const std::string& user, Make make) {
  try {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(mutex);
    Cache::iterator it = cache.find(user);
    if (it != cache.end()) {
      ++it->second.refCount;
      return static_cast<T*>(it->second.usage);
    }
    T* made = make();
    if (made == 0) {
      errno = ENOMEM;
      return 0;
    }
    UsageRef ref;
    ref.usage = made;
    ref.refCount = 1;
    try {
      cache[user] = ref;
    } catch (...) {
      delete made;
      throw;
    }
    return made;
  } catch (...) {
    errno = ENOMEM;
    return 0;
  }
}

void AppUsageFactory::releaseCached(Cache& cache, ACE_Recursive_Thread_Mutex& mutex,
                                    const AppUsage* usage) {
  if (usage == 0) return;
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(mutex);
  // Find the entry that holds this very object: a stale or foreign pointer whose user is
  // cached must not lower another holder's count. The pointer is never dereferenced.
  for (Cache::iterator it = cache.begin(); it != cache.end(); ++it) {
    if (it->second.usage != usage) continue;
    if (it->second.refCount > 0) --it->second.refCount;
    if (it->second.refCount == 0) {
      AppUsage* doomed = it->second.usage;
      cache.erase(it);
      delete doomed;
    }
    return;
  }
}

ResourceListsAppUsage* AppUsageFactory::getResourceLists(const std::string& user,
                                                         Sptr<IXcapClient> client,
                                                         bool skipGroupsList) {
  return getCached<ResourceListsAppUsage>(resourceListsCache_, resourceListsMutex_, user, [&] {
    return new (std::nothrow) ResourceListsAppUsage(user, codingFormat_, client, skipGroupsList);
  });
}

ResourceListsAppUsage* AppUsageFactory::getResourceLists(const std::string& user,
                                                         const std::string& address,
                                                         const AuthenticateMode& authenticateMode,
                                                         const DownloadMode& downloadMode,
                                                         const std::string& password,
                                                         bool skipGroupsList) {
  return getCached<ResourceListsAppUsage>(resourceListsCache_, resourceListsMutex_, user, [&] {
    return new (std::nothrow) ResourceListsAppUsage(user, codingFormat_, address, authenticateMode,
                                                    downloadMode, password, skipGroupsList);
  });
}

PresRulesAppUsage* AppUsageFactory::getPresRules(const std::string& user,
                                                 Sptr<IXcapClient> client) {
  return getCached<PresRulesAppUsage>(presRulesCache_, presRulesMutex_, user, [&] {
    return new (std::nothrow) PresRulesAppUsage(user, codingFormat_, client);
  });
}

PresRulesAppUsage* AppUsageFactory::getPresRules(const std::string& user,
                                                 const std::string& address,
                                                 const AuthenticateMode& authenticateMode,
                                                 const DownloadMode& downloadMode,
                                                 const std::string& password) {
  return getCached<PresRulesAppUsage>(presRulesCache_, presRulesMutex_, user, [&] {
    return new (std::nothrow)
        PresRulesAppUsage(user, codingFormat_, address, authenticateMode, downloadMode, password);
  });
}

RLSServicesAppUsage* AppUsageFactory::getRLSServices(const std::string& user,
                                                     Sptr<IXcapClient> client) {
  return getCached<RLSServicesAppUsage>(rlsServicesCache_, rlsServicesMutex_, user, [&] {
    return new (std::nothrow) RLSServicesAppUsage(user, codingFormat_, client);
  });
}

RLSServicesAppUsage* AppUsageFactory::getRLSServices(const std::string& user,
                                                     const std::string& address,
                                                     const AuthenticateMode& authenticateMode,
                                                     const DownloadMode& downloadMode,
                                                     const std::string& password) {
  return getCached<RLSServicesAppUsage>(rlsServicesCache_, rlsServicesMutex_, user, [&] {
    return new (std::nothrow)
        RLSServicesAppUsage(user, codingFormat_, address, authenticateMode, downloadMode, password);
  });
}

void AppUsageFactory::releaseResourceLists(ResourceListsAppUsage* usage) {
  releaseCached(resourceListsCache_, resourceListsMutex_, usage);
}

void AppUsageFactory::releasePresRules(PresRulesAppUsage* usage) {
  releaseCached(presRulesCache_, presRulesMutex_, usage);
}

void AppUsageFactory::releaseRLSServices(RLSServicesAppUsage* usage) {
  releaseCached(rlsServicesCache_, rlsServicesMutex_, usage);
}

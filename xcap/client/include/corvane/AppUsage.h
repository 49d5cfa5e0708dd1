// The base of the XCAP application usages, the parser lock, and the factory that hands out one
// usage object per user and counts its holders.
#ifndef CORVANE_APPUSAGE_H
#define CORVANE_APPUSAGE_H

#include "corvane/IXcapClient.h"
#include "corvane/Sptr.h"
#include "corvane/XcapTypes.h"

#include <ace/Recursive_Thread_Mutex.h>

#include <map>
#include <string>

class ResourceListsAppUsage;
class PresRulesAppUsage;
class RLSServicesAppUsage;

// Every XML parse of the library runs while holding xercesLock_ (recursive, process-wide).
class Parser {
 public:
  Parser() {}
  ~Parser() {}
  static ACE_Recursive_Thread_Mutex xercesLock_;
};

// What the usages share: the client, the AUID and MIME type, the user, and the caller's coding.
// Threads: the conversion and escaping operations are const and may run on any thread; the
// setters are for the owner before the object is shared.
class AppUsage {
 public:
  static const std::string USERS_;  // "myusers": the user-path prefix of every document

  AppUsage(const std::string& user, const std::string& auid, const std::string& mimeType,
           const CodingFormat& codingFormat, Sptr<IXcapClient> client);
  // Makes its own client through XcapClientFactory; a bad address leaves it empty.
  AppUsage(const std::string& user, const std::string& auid, const std::string& mimeType,
           const CodingFormat& codingFormat, const std::string& address,
           const AuthenticateMode& authenticateMode, const DownloadMode& downloadMode,
           const std::string& password);
  AppUsage(const AppUsage& other);
  AppUsage& operator=(const AppUsage& other);
  virtual ~AppUsage();

  Sptr<IXcapClient> getXcapClient() const { return xcapClient_; }
  std::string getAuid() const { return auid_; }
  void setAuid(const std::string& v) { auid_ = v; }
  std::string getMimeType() const { return mimeType_; }
  void setMimeType(const std::string& v) { mimeType_ = v; }
  std::string getUser() const { return user_; }
  void setUser(const std::string& v) { user_ = v; }
  std::string getDefaultDocumentNamespace() const { return defaultDocumentNamespace_; }
  void setDefaultDocumentNamespace(const std::string& v) { defaultDocumentNamespace_ = v; }
  CodingFormat getCodingFormat() const { return codingFormat_; }
  void setCodingFormat(const CodingFormat& v) { codingFormat_ = v; }

  // Stops the client's running streamed request. Any thread.
  void cancel();

  // Text for XML content and attribute values: " & ' < > become entities, up to the first NUL.
  static std::string xmlEscape(const std::string& text);
  // Caller coding to UTF-8 and back: 0, or -1 when the text does not convert (UTF-8 coding:
  // not valid UTF-8) or the coding is unknown.
  int utf8Encode(const std::string& in, std::string& out) const;
  int utf8Decode(const std::string& in, std::string& out) const;
  // name@domain, and valid UTF-8 with the UTF-8 coding.
  bool isValidUserId(const std::string& userId) const;
  // An XCAP error body: 5 for no-parent, 12 for another error or no document, 7 when the body
  // does not parse.
  XCAPAccessResult decodeXcapError(const std::string& body) const;

 protected:
  Sptr<IXcapClient> xcapClient_;
  std::string auid_;
  std::string mimeType_;
  std::string user_;
  std::string defaultDocumentNamespace_;
  CodingFormat codingFormat_;
};

// Process-wide caches of usages by user, one per kind (resource lists, presence rules, RLS
// services), each with its own mutex. Each get must be paired with the matching release;
// callers never delete a usage. Any thread: each cache is guarded by its own recursive mutex,
// held for the whole get or release.
class AppUsageFactory {
 public:
  AppUsageFactory();
  // Leaves the usages still held alone: their holders may outlive the factory.
  ~AppUsageFactory();
  static AppUsageFactory* instance();

  // The coding given to every usage created afterwards.
  void initCodingFormat(const CodingFormat& codingFormat);

  // The user's cached usage (its count raised; the other arguments are then ignored), or a new
  // one. Null, with errno ENOMEM, when it cannot be made.
  ResourceListsAppUsage* getResourceLists(const std::string& user, Sptr<IXcapClient> client,
                                          bool skipGroupsList);
  ResourceListsAppUsage* getResourceLists(const std::string& user, const std::string& address,
                                          const AuthenticateMode& authenticateMode,
                                          const DownloadMode& downloadMode,
                                          const std::string& password, bool skipGroupsList);
  PresRulesAppUsage* getPresRules(const std::string& user, Sptr<IXcapClient> client);
  PresRulesAppUsage* getPresRules(const std::string& user, const std::string& address,
                                  const AuthenticateMode& authenticateMode,
                                  const DownloadMode& downloadMode, const std::string& password);
  RLSServicesAppUsage* getRLSServices(const std::string& user, Sptr<IXcapClient> client);
  RLSServicesAppUsage* getRLSServices(const std::string& user, const std::string& address,
                                      const AuthenticateMode& authenticateMode,
                                      const DownloadMode& downloadMode,
                                      const std::string& password);

  // Lowers the count of the usage this factory handed out; deletes it at zero. A pointer the
  // cache does not hold (never handed out, already gone, or another object) changes nothing.
  void releaseResourceLists(ResourceListsAppUsage* usage);
  void releasePresRules(PresRulesAppUsage* usage);
  void releaseRLSServices(RLSServicesAppUsage* usage);

 private:
  AppUsageFactory(const AppUsageFactory&) = delete;
  AppUsageFactory& operator=(const AppUsageFactory&) = delete;

  struct UsageRef {
    AppUsage* usage;  // owned by the cache
    int refCount;
  };

  typedef std::map<std::string, UsageRef> Cache;

  // The cached usage of `user` (count raised), or the one `make` builds (null: ENOMEM).
  // Runs under `mutex` for the whole call.
  template <class T, class Make>
  T* getCached(Cache& cache, ACE_Recursive_Thread_Mutex& mutex, const std::string& user,
               Make make);
  void releaseCached(Cache& cache, ACE_Recursive_Thread_Mutex& mutex, const AppUsage* usage);

  // Written under all three mutexes (in declaration order), read under any one of them.
  CodingFormat codingFormat_;
  Cache resourceListsCache_;  // guarded by resourceListsMutex_
  ACE_Recursive_Thread_Mutex resourceListsMutex_;
  Cache presRulesCache_;  // guarded by presRulesMutex_
  ACE_Recursive_Thread_Mutex presRulesMutex_;
  Cache rlsServicesCache_;  // guarded by rlsServicesMutex_
  ACE_Recursive_Thread_Mutex rlsServicesMutex_;
};

#endif  // CORVANE_APPUSAGE_H

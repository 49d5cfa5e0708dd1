// The "rls-services" application usage: handed out and cached per user by AppUsageFactory like
// the other usages, but it reads and writes no document; its operations do nothing and
// succeed. ServiceEntry stands for one service entry and holds nothing.
// Threads: any thread (no state of its own).
#ifndef CORVANE_RLSSERVICESAPPUSAGE_H
#define CORVANE_RLSSERVICESAPPUSAGE_H

#include "corvane/AppUsage.h"

#include <vector>

class ServiceEntry {
 public:
  ServiceEntry() {}
  ~ServiceEntry() {}
  ServiceEntry& operator=(const ServiceEntry&) { return *this; }
};

class RLSServicesAppUsage : public AppUsage {
 public:
  // Made and deleted by AppUsageFactory.
  RLSServicesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                      Sptr<IXcapClient> client);
  RLSServicesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                      const std::string& address, const AuthenticateMode& authenticateMode,
                      const DownloadMode& downloadMode, const std::string& password);
  ~RLSServicesAppUsage() override;

  // Each returns XCAP_SUCCESS and does nothing else.
  virtual XCAPAccessResult addService(const ServiceEntry* service);
  virtual XCAPAccessResult removeService(const ServiceEntry* service);
  virtual XCAPAccessResult modifyService(const ServiceEntry* service);
  virtual XCAPAccessResult getServices(std::vector<ServiceEntry>* services);
};

#endif  // CORVANE_RLSSERVICESAPPUSAGE_H

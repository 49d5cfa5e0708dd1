#include "corvane/RLSServicesAppUsage.h"

RLSServicesAppUsage::RLSServicesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                                         Sptr<IXcapClient> client)
    : AppUsage(user, "rls-services", "application/rls-services+xml", codingFormat, client) {}

RLSServicesAppUsage::RLSServicesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                                         const std::string& address,
                                         const AuthenticateMode& authenticateMode,
                                         const DownloadMode& downloadMode,
                                         const std::string& password)
    : AppUsage(user, "rls-services", "application/rls-services+xml", codingFormat, address,
               authenticateMode, downloadMode, password) {}

RLSServicesAppUsage::~RLSServicesAppUsage() {}

XCAPAccessResult RLSServicesAppUsage::addService(const ServiceEntry*) { return XCAP_SUCCESS; }

XCAPAccessResult RLSServicesAppUsage::removeService(const ServiceEntry*) { return XCAP_SUCCESS; }

XCAPAccessResult RLSServicesAppUsage::modifyService(const ServiceEntry*) { return XCAP_SUCCESS; }

XCAPAccessResult RLSServicesAppUsage::getServices(std::vector<ServiceEntry>*) {
  return XCAP_SUCCESS;
}

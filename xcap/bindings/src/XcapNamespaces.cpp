#include "bindings/XcapNamespaces.h"

namespace Xcap_Bindings
{
  const char* const RESOURCE_LISTS_NS = "urn:ietf:params:xml:ns:resource-lists";
  const char* const COMMON_POLICY_NS = "urn:ietf:params:xml:ns:common-policy";
  const char* const PRES_RULES_NS = "urn:ietf:params:xml:ns:pres-rules";
  const char* const XCAP_ERROR_NS = "urn:ietf:params:xml:ns:xcap-error";
  const char* const WATCHERINFO_NS = "urn:ietf:params:xml:ns:watcherinfo";
  const char* const PIDF_NS = "urn:ietf:params:xml:ns:pidf";
  const char* const DATA_MODEL_NS = "urn:ietf:params:xml:ns:pidf:data-model";
  const char* const CIPID_NS = "urn:ietf:params:xml:ns:pidf:cipid";
  const char* const ENCODING = "UTF-8";

  xml_schema::namespace_infomap
  watcherinfo_namespaces ()
  {
    xml_schema::namespace_infomap map;
    map[""].name = WATCHERINFO_NS;
    return map;
  }

  xml_schema::namespace_infomap
  presence_namespaces ()
  {
    xml_schema::namespace_infomap map;
    map[""].name = PIDF_NS;
    map["dm"].name = DATA_MODEL_NS;
    map["c"].name = CIPID_NS;
    return map;
  }
}

// The XML namespaces of the XCAP documents and the namespace maps their
// serialisers are called with.
#ifndef PW_XCAP_BINDINGS_XCAPNAMESPACES_H
#define PW_XCAP_BINDINGS_XCAPNAMESPACES_H

#include "bindings/xml-schema.hxx"

namespace Xcap_Bindings
{
  extern const char* const RESOURCE_LISTS_NS;  // "urn:ietf:params:xml:ns:resource-lists"
  extern const char* const COMMON_POLICY_NS;   // "urn:ietf:params:xml:ns:common-policy"
  extern const char* const PRES_RULES_NS;      // "urn:ietf:params:xml:ns:pres-rules"
  extern const char* const XCAP_ERROR_NS;      // "urn:ietf:params:xml:ns:xcap-error"
  extern const char* const WATCHERINFO_NS;     // "urn:ietf:params:xml:ns:watcherinfo"
  extern const char* const PIDF_NS;            // "urn:ietf:params:xml:ns:pidf"
  extern const char* const DATA_MODEL_NS;      // "urn:ietf:params:xml:ns:pidf:data-model"
  extern const char* const CIPID_NS;           // "urn:ietf:params:xml:ns:pidf:cipid"

  // Flags the library passes: dont_validate to every parse, 0 to every serialise.
  const xml_schema::flags PARSE_FLAGS = xml_schema::flags::dont_validate;
  const xml_schema::flags SERIALIZE_FLAGS = 0;

  // Encoding of every serialised document.
  extern const char* const ENCODING;  // "UTF-8"

  // {"" -> watcherinfo}. Any thread.
  xml_schema::namespace_infomap watcherinfo_namespaces ();

  // {"" -> pidf, "dm" -> data-model, "c" -> cipid}. Any thread.
  xml_schema::namespace_infomap presence_namespaces ();
}

#endif // PW_XCAP_BINDINGS_XCAPNAMESPACES_H

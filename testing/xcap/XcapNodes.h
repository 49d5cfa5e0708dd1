// Node reads and edits on a stored XCAP document (RFC 4825, the subset our clients use), for
// the fake XCAP server.
//
// Node selector: steps separated by "/" (not inside a predicate); a step is a name (optionally
// prefixed) with an optional position "[n]" and any number of attribute tests
// "[@attr='v']" / "[@attr=\"v\"]" (values may carry &amp; &lt; &gt; &apos; &quot;). A prefix
// must be bound by the query's "xmlns(p=ns)" bindings; an unprefixed name stands for the
// namespace of the document's root element.
//
// Writes: the parent must exist (else 409 <no-parent>); the body must be one element whose
// name and tested attributes match the last step (else 409 <cannot-insert>, or
// <not-xml-frag> when it does not parse); an existing target is replaced (200), a new one is
// inserted in the order the resource-lists schema wants for its known children (201).
// Thread rule: plain functions; Xerces must be initialised (XcapNodes::initialise).
#pragma once

#include <string>

namespace pwtest {
namespace xcapnodes {

struct Outcome {
  int status = 500;
  std::string body;         // an element (GET) or an XCAP error document
  std::string contentType;  // of body
  std::string document;     // the changed document (PUT/DELETE that succeeded)
};

// Starts Xerces once for the process (never stopped). Any thread.
void initialise();

// `document` the stored text; `selector` the decoded node selector (after "/~~/");
// `query` the decoded query (namespace bindings, other parameters ignored).
Outcome get(const std::string& document, const std::string& selector, const std::string& query);
Outcome put(const std::string& document, const std::string& selector, const std::string& query,
            const std::string& body);
Outcome remove(const std::string& document, const std::string& selector, const std::string& query);

}  // namespace xcapnodes
}  // namespace pwtest

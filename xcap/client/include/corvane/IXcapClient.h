// The XCAP transport the application usages talk to: GET, PUT and DELETE of documents,
// elements and attributes, plain or conditional on an entity tag.
//
// Every operation but cancel returns -1 when no request could be built (bad URI, single
// sign-on refused) or the transport failed, else 0 whatever the HTTP status; the caller
// reads status, headers and body from the response it passed. Entity tags are sent as given.
// Threads: XcapClient runs the operations of one client one at a time, whatever the calling
// thread; cancel from any thread.
#ifndef CORVANE_IXCAPCLIENT_H
#define CORVANE_IXCAPCLIENT_H

#include "corvane/XcapUri.h"

#include <string>

namespace http {
class HTTPResponse;
}
using http::HTTPResponse;

class IXcapClient {
 public:
  virtual ~IXcapClient() {}

  // Stops a running streamed request; nothing in blocking mode, and nothing when no request
  // runs (the next request goes out as usual).
  virtual void cancel() = 0;

  virtual int getDocument(const DocumentUri& uri, HTTPResponse& response) = 0;
  virtual int getElement(const ElementUri& uri, HTTPResponse& response) = 0;
  virtual int getAttribute(const AttributeUri& uri, HTTPResponse& response) = 0;

  virtual int putDocument(const DocumentUri& uri, const std::string& contentType,
                          const std::string& body, HTTPResponse& response) = 0;
  virtual int putDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                                 const std::string& contentType, const std::string& body,
                                 HTTPResponse& response) = 0;
  virtual int putDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                                     const std::string& contentType, const std::string& body,
                                     HTTPResponse& response) = 0;

  // Content type "application/xcap-el+xml".
  virtual int putElement(const ElementUri& uri, const std::string& body,
                         HTTPResponse& response) = 0;
  virtual int putElementIfMatch(const ElementUri& uri, const std::string& etag,
                                const std::string& body, HTTPResponse& response) = 0;
  virtual int putElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                                    const std::string& body, HTTPResponse& response) = 0;

  // Content type "application/xcap-att+xml".
  virtual int putAttribute(const AttributeUri& uri, const std::string& body,
                           HTTPResponse& response) = 0;
  virtual int putAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                                  const std::string& body, HTTPResponse& response) = 0;
  virtual int putAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                                      const std::string& body, HTTPResponse& response) = 0;

  virtual int deleteDocument(const DocumentUri& uri, HTTPResponse& response) = 0;
  virtual int deleteDocumentIfMatch(const DocumentUri& uri, const std::string& etag,
                                    HTTPResponse& response) = 0;
  virtual int deleteDocumentIfNoneMatch(const DocumentUri& uri, const std::string& etag,
                                        HTTPResponse& response) = 0;

  virtual int deleteElement(const ElementUri& uri, HTTPResponse& response) = 0;
  virtual int deleteElementIfMatch(const ElementUri& uri, const std::string& etag,
                                   HTTPResponse& response) = 0;
  virtual int deleteElementIfNoneMatch(const ElementUri& uri, const std::string& etag,
                                       HTTPResponse& response) = 0;

  virtual int deleteAttribute(const AttributeUri& uri, HTTPResponse& response) = 0;
  virtual int deleteAttributeIfMatch(const AttributeUri& uri, const std::string& etag,
                                     HTTPResponse& response) = 0;
  virtual int deleteAttributeIfNoneMatch(const AttributeUri& uri, const std::string& etag,
                                         HTTPResponse& response) = 0;

  // Stops the client for good, in either mode: the running request fails, and so does every
  // later one without reaching the server. For a client made for one job, so that a cancel
  // that comes just before the job's request still keeps it from going out. Any thread.
  virtual void stop() = 0;
};

#endif  // CORVANE_IXCAPCLIENT_H

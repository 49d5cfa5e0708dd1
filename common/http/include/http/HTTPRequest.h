// An HTTP request: method, request target and version on top of the message.
// The default request is "GET / HTTP/1.1".
//
// Thread rule: not synchronised; one thread at a time.
#pragma once

#include "http/HTTPMessage.h"

#include <string>

namespace http {

class HTTPRequest : public HTTPMessage {
 public:
  static const std::string HTTP_GET;     // "GET"
  static const std::string HTTP_POST;    // "POST"
  static const std::string HTTP_PUT;     // "PUT"
  static const std::string HTTP_DELETE;  // "DELETE"
  static const std::string HTTP_HEAD;    // "HEAD"
  static const std::string COOKIE;       // "Cookie"
  static const std::string HOST;         // "Host"

  HTTPRequest();
  HTTPRequest(const std::string& method, const std::string& uri,
              const std::string& version = HTTP_1_1);
  virtual ~HTTPRequest();

  void setMethod(const std::string& method);
  const std::string& getMethod() const;

  // The request target exactly as it goes on the request line: a path with
  // its query, or an absolute "http://..." URL. getURI returns the text last set.
  void setURI(const std::string& uri);
  const std::string& getURI() const;

  // The Host header, sent as given ("host" or "host:port").
  void setHost(const std::string& host);
  std::string getHost() const;

  // Adds the header "first: second" to the request.
  void setCredentials(const std::string& first, const std::string& second);

 private:
  std::string method_;
  std::string uri_;
};

}  // namespace http

using http::HTTPRequest;

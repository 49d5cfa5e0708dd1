// An HTTP response: status, reason and the cookies the server set, on top of
// the message. A fresh response has status 0 and nothing else.
//
// Thread rule: not synchronised; one thread at a time.
#pragma once

#include "http/HTTPCookie.h"
#include "http/HTTPMessage.h"

#include <string>
#include <vector>

namespace http {

class HTTPResponse : public HTTPMessage {
 public:
  static const std::string SET_COOKIE;  // "Set-Cookie"
  static const std::string LOCATION;    // "Location"

  HTTPResponse();
  virtual ~HTTPResponse();

  int getStatus() const;
  void setStatus(int status);
  const std::string& getReason() const;
  void setReason(const std::string& reason);

  // Every Set-Cookie header parsed, in order, appended to `out`; headers
  // without a valid name=value pair are skipped.
  void getCookies(std::vector<HTTPCookie>& out) const;

  // Back to a fresh response: status 0, no reason, headers or body.
  // HTTPClient::call and invoke do this before each exchange.
  void reset();

 private:
  int status_;
  std::string reason_;
};

}  // namespace http

using http::HTTPResponse;

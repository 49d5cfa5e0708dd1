// One cookie as a server set it (a Set-Cookie header): name, value and the
// attributes. toString gives the "name=value" pair to replay in a Cookie header.
//
// Thread rule: a value type; not synchronised.
#pragma once

#include <string>

namespace http {

class HTTPCookie {
 public:
  HTTPCookie();
  HTTPCookie(const std::string& name, const std::string& value);
  // Parses one Set-Cookie header value ("a=1; Path=/; HttpOnly").
  explicit HTTPCookie(const std::string& setCookieHeader);

  // False when the header had no "name=value" pair with a non-empty name.
  bool isValid() const;

  const std::string& getName() const;
  const std::string& getValue() const;
  const std::string& getPath() const;
  const std::string& getDomain() const;
  const std::string& getExpires() const;  // as the server wrote it
  long long getMaxAge() const;            // -1 when absent
  bool getSecure() const;
  bool getHttpOnly() const;

  void setName(const std::string& name);
  void setValue(const std::string& value);

  // "name=value", replayable as a Cookie header value.
  std::string toString() const;

 private:
  std::string name_;
  std::string value_;
  std::string path_;
  std::string domain_;
  std::string expires_;
  long long maxAge_;
  bool secure_;
  bool httpOnly_;
};

}  // namespace http

using http::HTTPCookie;

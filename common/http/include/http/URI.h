// A parsed URL: scheme://[user@]host[:port][/path][?query][#fragment].
// The port defaults to 80 for http and 443 for https. Nothing is decoded.
//
// Thread rule: a value type; not synchronised.
#pragma once

#include <string>

namespace http {

class URI {
 public:
  URI();
  explicit URI(const std::string& url);

  // Parses `url`; false (and an empty URI) when it has no scheme and host or
  // its port is not a number from 1 to 65535.
  bool parse(const std::string& url);
  bool isValid() const;

  const std::string& getScheme() const;    // lower case, "http"
  const std::string& getHost() const;      // without brackets for IPv6
  unsigned short getPort() const;          // explicit, or 80/443 by scheme; 0 when unknown
  const std::string& getPath() const;      // "/" when the URL has none
  const std::string& getQuery() const;     // without the "?"
  const std::string& getFragment() const;  // without the "#"
  // The path and, when there is one, "?" and the query.
  std::string getPathAndQuery() const;
  // "host" or "host:port" as the URL gave it.
  const std::string& getAuthority() const;
  const std::string& toString() const;     // the text parsed

 private:
  std::string text_;
  std::string scheme_;
  std::string authority_;
  std::string host_;
  unsigned short port_;
  std::string path_;
  std::string query_;
  std::string fragment_;
  bool valid_;
};

}  // namespace http

using http::URI;

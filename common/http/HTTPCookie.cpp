#include "http/HTTPCookie.h"
#include "http/NameValueCollection.h"

#include <cstdlib>

namespace http {

namespace {
std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}
}  // namespace

HTTPCookie::HTTPCookie() : maxAge_(-1), secure_(false), httpOnly_(false) {}

HTTPCookie::HTTPCookie(const std::string& name, const std::string& value)
    : name_(name), value_(value), maxAge_(-1), secure_(false), httpOnly_(false) {}

HTTPCookie::HTTPCookie(const std::string& header) : maxAge_(-1), secure_(false), httpOnly_(false) {
  size_t pos = 0;
  bool first = true;
  while (pos <= header.size()) {
    size_t semi = header.find(';', pos);
    std::string part = header.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
    size_t eq = part.find('=');
    std::string key = trim(part.substr(0, eq));
    std::string val = eq == std::string::npos ? std::string() : trim(part.substr(eq + 1));
    if (first) {
      if (eq == std::string::npos || key.empty()) return;  // no name=value: not a cookie
      name_ = key;
      value_ = val;
      first = false;
    } else if (NameValueCollection::equalsIgnoreCase(key, "Path")) {
      path_ = val;
    } else if (NameValueCollection::equalsIgnoreCase(key, "Domain")) {
      domain_ = val;
    } else if (NameValueCollection::equalsIgnoreCase(key, "Expires")) {
      expires_ = val;
    } else if (NameValueCollection::equalsIgnoreCase(key, "Max-Age")) {
      char* end = 0;
      long long v = std::strtoll(val.c_str(), &end, 10);
      if (!val.empty() && end && *end == '\0') maxAge_ = v;
    } else if (NameValueCollection::equalsIgnoreCase(key, "Secure")) {
      secure_ = true;
    } else if (NameValueCollection::equalsIgnoreCase(key, "HttpOnly")) {
      httpOnly_ = true;
    }
    if (semi == std::string::npos) break;
    pos = semi + 1;
  }
}

bool HTTPCookie::isValid() const { return !name_.empty(); }
const std::string& HTTPCookie::getName() const { return name_; }
const std::string& HTTPCookie::getValue() const { return value_; }
const std::string& HTTPCookie::getPath() const { return path_; }
const std::string& HTTPCookie::getDomain() const { return domain_; }
const std::string& HTTPCookie::getExpires() const { return expires_; }
long long HTTPCookie::getMaxAge() const { return maxAge_; }
bool HTTPCookie::getSecure() const { return secure_; }
bool HTTPCookie::getHttpOnly() const { return httpOnly_; }
void HTTPCookie::setName(const std::string& name) { name_ = name; }
void HTTPCookie::setValue(const std::string& value) { value_ = value; }
std::string HTTPCookie::toString() const { return name_ + "=" + value_; }

}  // namespace http

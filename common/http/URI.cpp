#include "http/URI.h"

#include <cctype>
#include <cstdlib>

namespace http {

URI::URI() : port_(0), path_("/"), valid_(false) {}

URI::URI(const std::string& url) : port_(0), path_("/"), valid_(false) { parse(url); }

bool URI::parse(const std::string& url) {
  *this = URI();
  size_t sep = url.find("://");
  if (sep == std::string::npos || sep == 0) return false;
  std::string scheme = url.substr(0, sep);
  for (char& c : scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  size_t start = sep + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::string hostPort = authority;
  size_t at = hostPort.rfind('@');
  if (at != std::string::npos) hostPort = hostPort.substr(at + 1);
  std::string host;
  std::string portText;
  if (!hostPort.empty() && hostPort[0] == '[') {
    size_t close = hostPort.find(']');
    if (close == std::string::npos) return false;
    host = hostPort.substr(1, close - 1);
    std::string rest = hostPort.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      portText = rest.substr(1);
    }
  } else {
    size_t colon = hostPort.rfind(':');
    host = hostPort.substr(0, colon);
    if (colon != std::string::npos) portText = hostPort.substr(colon + 1);
  }
  if (host.empty()) return false;
  unsigned short port = 0;
  if (!portText.empty()) {
    if (portText.size() > 5) return false;
    for (char c : portText)
      if (c < '0' || c > '9') return false;
    long p = std::strtol(portText.c_str(), 0, 10);
    if (p < 1 || p > 65535) return false;
    port = static_cast<unsigned short>(p);
  } else if (scheme == "http") {
    port = 80;
  } else if (scheme == "https") {
    port = 443;
  }

  std::string rest = end == std::string::npos ? std::string() : url.substr(end);
  std::string fragment;
  size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    fragment = rest.substr(hash + 1);
    rest.erase(hash);
  }
  std::string query;
  size_t q = rest.find('?');
  if (q != std::string::npos) {
    query = rest.substr(q + 1);
    rest.erase(q);
  }
  text_ = url;
  scheme_ = scheme;
  authority_ = hostPort;
  host_ = host;
  port_ = port;
  path_ = rest.empty() ? std::string("/") : rest;
  query_ = query;
  fragment_ = fragment;
  valid_ = true;
  return true;
}

bool URI::isValid() const { return valid_; }
const std::string& URI::getScheme() const { return scheme_; }
const std::string& URI::getHost() const { return host_; }
unsigned short URI::getPort() const { return port_; }
const std::string& URI::getPath() const { return path_; }
const std::string& URI::getQuery() const { return query_; }
const std::string& URI::getFragment() const { return fragment_; }
const std::string& URI::getAuthority() const { return authority_; }
const std::string& URI::toString() const { return text_; }

std::string URI::getPathAndQuery() const {
  return query_.empty() ? path_ : path_ + "?" + query_;
}

}  // namespace http

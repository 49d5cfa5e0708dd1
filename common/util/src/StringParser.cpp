#include "util/StringParser.h"

namespace {

bool hasBlank(const std::string& s) {
  for (char c : s)
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return true;
  return false;
}

}  // namespace

bool StringParser::parseAddr(const std::string& text, std::string& host, int& port) {
  std::string::size_type colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string h = text.substr(0, colon);
  std::string p = text.substr(colon + 1);
  if (hasBlank(h)) return false;
  if (h[0] == '[') {
    // A bracketed IPv6 literal: "[" something without brackets "]".
    if (h.size() < 3 || h.back() != ']' || h.find_first_of("[]", 1) != h.size() - 1) return false;
  } else if (h.find_first_of(":[]") != std::string::npos) {
    return false;
  }
  if (p.empty() || p.size() > 5) return false;
  int n = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 65535) return false;
  host = h;
  port = n;
  return true;
}

bool StringParser::parseUserId(const std::string& text, std::string& name, std::string& domain) {
  std::string::size_type at = text.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= text.size()) return false;
  if (text.find('@', at + 1) != std::string::npos) return false;
  name = text.substr(0, at);
  domain = text.substr(at + 1);
  return true;
}

void StringParser::tokenize(const std::string& text, const std::string& separators,
                            std::vector<std::string>& pieces) {
  if (separators.empty()) {
    if (!text.empty()) pieces.push_back(text);
    return;
  }
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void StringParser::concatenate(const std::vector<std::string>& pieces,
                               const std::string& separator, std::string& text) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out += separator;
    out += pieces[i];
  }
  text.swap(out);
}

// Small parsing helpers. Every operation is static and callable from any thread.
#pragma once

#include <string>
#include <vector>

class StringParser {
 public:
  // "host:port": true with host and port filled when the text splits at its last ':' into a
  // non-empty host without blanks and a port of decimal digits only, 1 to 65535. An IPv6
  // host must be bracketed ("[::1]:80"; host keeps the brackets, as URLs and Host headers
  // want it); an unbracketed host holding ':' is refused. On false host and port are untouched.
  static bool parseAddr(const std::string& text, std::string& host, int& port);

  // "name@domain": true with both filled when the text holds exactly one '@' with a non-empty
  // name before it and a non-empty domain after it. On false name and domain are untouched.
  static bool parseUserId(const std::string& text, std::string& name, std::string& domain);

  // Appends to pieces the non-empty pieces of text between separator characters (each
  // character of separators is one separator), in order. Empty pieces are dropped, so ""
  // gives none and "a//b" split at "/" gives "a", "b". Empty separators give the whole text.
  static void tokenize(const std::string& text, const std::string& separators,
                       std::vector<std::string>& pieces);

  // text = the pieces joined by separator (no separator after the last one).
  static void concatenate(const std::vector<std::string>& pieces, const std::string& separator,
                          std::string& text);
};

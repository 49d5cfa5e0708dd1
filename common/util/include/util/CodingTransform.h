// Text coding: percent-encoding and conversion between the program's GBK text and UTF-8.
// Every operation is static, pure and callable from any thread; none fails or throws.
#pragma once

#include <string>

class CodingTransform {
 public:
  // Percent-encodes bytes; escapes are '%' with two upper-case hexadecimal digits.
  //  formMode true  - a query value or a local-protocol field: keeps A-Z a-z 0-9 - _ . ~,
  //                   writes a blank as '+', escapes every other byte ('/', '&', '=', '+',
  //                   '%', non-ASCII bytes ...).
  //  formMode false - a URI path: keeps the unreserved characters and / : @ ! $ & ' ( ) * , ; =
  //                   ("?" and "#", which would end the path, and "%" are escaped),
  //                   writes a blank as "%20", escapes every other byte ('+' included, so that
  //                   urldecode gives the path back).
  //  keepEscapes    - when true, a '%' already followed by two hexadecimal digits is kept as it
  //                   stands instead of being escaped again (callers of the system pass false).
  static std::string urlencode(const std::string& text, bool formMode, bool keepEscapes);

  // The inverse of urlencode in either mode: '+' gives a blank, "%XY" (either case) gives
  // one byte; a '%' not followed by two hexadecimal digits stays as it is.
  static std::string urldecode(const std::string& text);

  // GBK (code page 936, the superset of GB2312) to UTF-8 and back, through iconv. A byte
  // sequence that does not convert becomes one '?' (one per bad byte; from UTF-8, one per
  // well-formed character that GBK lacks) and the rest of the text still converts.
  static std::string gb2312_to_utf8(const std::string& text);
  static std::string utf8_to_gb2312(const std::string& text);

  // Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF,
  // no truncated sequence. The empty text is valid.
  static bool isValidUTF8(const std::string& text);

  // The number of characters (code points) of a UTF-8 text; each byte of an ill-formed
  // sequence counts as one character.
  static int utf8_length(const std::string& text);
};

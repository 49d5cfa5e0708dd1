// Standard Base64 (RFC 4648 alphabet, "=" padding) of arbitrary bytes.
//
// Thread rule: stateless; any thread.
#pragma once

#include <string>

namespace http {

struct Base64Coder {
  // Encodes the bytes of `data`. With `lineBreaks` a CR LF follows every
  // 76 output characters (MIME style); without, one line.
  static std::string encode(const std::string& data, bool lineBreaks = false);
  // Decodes `text`, skipping white space; padding is optional. Returns ""
  // when the text holds any other character outside the alphabet.
  static std::string decode(const std::string& text);
  // As decode, reporting whether the text was valid.
  static bool decode(const std::string& text, std::string& out);
};

}  // namespace http

using http::Base64Coder;

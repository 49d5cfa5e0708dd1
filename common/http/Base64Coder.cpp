#include "http/Base64Coder.h"

namespace http {

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string Base64Coder::encode(const std::string& data, bool lineBreaks) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + (lineBreaks ? data.size() / 57 * 2 + 2 : 0));
  size_t lineLength = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    size_t n = data.size() - i;
    if (n > 1) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (n > 2) v |= static_cast<unsigned char>(data[i + 2]);
    if (lineBreaks && lineLength == 76) {
      out += "\r\n";
      lineLength = 0;
    }
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
    lineLength += 4;
  }
  return out;
}

bool Base64Coder::decode(const std::string& text, std::string& out) {
  out.clear();
  unsigned v = 0;
  int bits = 0;
  bool padding = false;
  for (unsigned char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int d = valueOf(c);
    if (d < 0 || padding) {  // a stray character, or data after the padding
      out.clear();
      return false;
    }
    v = (v << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((v >> bits) & 0xFF);
    }
  }
  if (bits >= 6) {  // a single leftover character carries no whole byte
    out.clear();
    return false;
  }
  return true;
}

std::string Base64Coder::decode(const std::string& text) {
  std::string out;
  decode(text, out);
  return out;
}

}  // namespace http

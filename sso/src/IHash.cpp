#include "sso/IHash.h"

#include <openssl/evp.h>

bool MD5::hash(const std::string& text, std::string& digest) {
  if (text.empty()) return false;
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), out, &length, EVP_md5(), nullptr) != 1) return false;
  digest.assign(reinterpret_cast<const char*>(out), length);
  return true;
}

std::string toHexString(const std::string& bytes, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

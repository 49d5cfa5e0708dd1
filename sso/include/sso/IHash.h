// Password digests for the single sign-on login. Any thread; no shared state.
#pragma once

#include <string>

class IHash {
 public:
  virtual ~IHash() {}
  // Writes the raw digest bytes of `text` into `digest`. False for an empty text.
  virtual bool hash(const std::string& text, std::string& digest) = 0;
};

// MD5 over OpenSSL: a 16-byte digest.
class MD5 : public IHash {
 public:
  bool hash(const std::string& text, std::string& digest) override;
};

// Two hexadecimal digits a byte, high nibble first.
std::string toHexString(const std::string& bytes, bool upperCase);

#include "util/CodingTransform.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

const char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.' || c == '~';
}

// Characters a URI path (with its query) may carry as they are. '+' is escaped all the same
// so that urldecode, which reads '+' as a blank, gives every path back unchanged.
bool isPathSafe(unsigned char c) {
  return isUnreserved(c) || (c != 0 && std::strchr("/:@!$&'()*,;=", c) != nullptr);
}

// Length of the well-formed UTF-8 sequence at s[i..n), or 0 when none starts there.
size_t utf8SequenceLength(const unsigned char* s, size_t i, size_t n) {
  unsigned char c = s[i];
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;        // no overlong forms
    else if (c == 0xED) hi = 0x9F;   // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;        // no overlong forms
    else if (c == 0xF4) hi = 0x8F;   // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  if (s[i + 1] < lo || s[i + 1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (s[i + k] < 0x80 || s[i + k] > 0xBF) return 0;
  return len;
}

// One converter per direction and thread, opened at the thread's first conversion in that
// direction and closed when the thread ends: opening one costs more than converting a name.
class Converter {
 public:
  Converter(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // In the initial state: what a conversion left behind (a cut-off sequence) is dropped.
  iconv_t reset() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return cd_;
  }

 private:
  iconv_t cd_;
};

// Converts with iconv; a sequence that does not convert becomes one '?'. When the source
// is UTF-8, a well-formed character that the target lacks is skipped whole.
std::string convert(const std::string& text, Converter& converter, bool fromUtf8) {
  if (text.empty()) return std::string();
  // ASCII reads the same in GBK and UTF-8.
  bool ascii = true;
  for (unsigned char c : text) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return text;
  if (!converter.ok()) return text;  // no converter: keep the bytes
  iconv_t cd = converter.reset();
  std::string out;
  out.reserve(text.size() * 3 / 2 + 16);
  char buf[4096];
  const unsigned char* base = reinterpret_cast<const unsigned char*>(text.data());
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof(buf);
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, o - buf);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (a bad or unconvertible sequence) or EINVAL (a sequence cut off by the end).
    size_t skip = 1;
    if (fromUtf8) {
      size_t pos = reinterpret_cast<const unsigned char*>(in) - base;
      size_t len = utf8SequenceLength(base, pos, text.size());
      if (len > 0) skip = len;
    }
    if (skip > inLeft) skip = inLeft;
    out.push_back('?');
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  // Flush any pending shift state (none for these charsets, but harmless).
  char* o = buf;
  size_t oLeft = sizeof(buf);
  iconv(cd, nullptr, nullptr, &o, &oLeft);
  out.append(buf, o - buf);
  return out;
}

}  // namespace

std::string CodingTransform::urlencode(const std::string& text, bool formMode, bool keepEscapes) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (keepEscapes && c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out.append(text, i, 3);
      i += 2;
    } else if (c == ' ') {
      out += formMode ? "+" : "%20";
    } else if (formMode ? isUnreserved(c) : isPathSafe(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::string CodingTransform::urldecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string CodingTransform::gb2312_to_utf8(const std::string& text) {
  if (text.empty()) return std::string();
  thread_local Converter converter("GBK", "UTF-8");
  return convert(text, converter, false);
}

std::string CodingTransform::utf8_to_gb2312(const std::string& text) {
  if (text.empty()) return std::string();
  thread_local Converter converter("UTF-8", "GBK");
  return convert(text, converter, true);
}

bool CodingTransform::isValidUTF8(const std::string& text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    size_t len = utf8SequenceLength(s, i, n);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

int CodingTransform::utf8_length(const std::string& text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  int count = 0;
  for (size_t i = 0; i < n; ++count) {
    size_t len = utf8SequenceLength(s, i, n);
    i += len == 0 ? 1 : len;
  }
  return count;
}

// Code page conversions through iconv: the ANSI code page is 936 (GBK); UTF-8 on request.
#include "internal.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {
const char* iconvName(UINT cp) {
  switch (cp) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_GBK:
      return "GBK";
    case CP_UTF8:
      return "UTF-8";
  }
  return nullptr;
}

// Converts with iconv; an invalid or unconvertible unit becomes `replacement` (counted in *bad).
std::string convert(const char* from, const char* to, const char* src, size_t len,
                    const std::string& replacement, size_t unit, int* bad) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return out;
  char* in = const_cast<char*>(src);
  size_t inLeft = len;
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof(buf);
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, sizeof(buf) - oLeft);
    if (r == (size_t)-1) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip one unit of the input and write the replacement.
      size_t skip = std::min(unit, inLeft);
      in += skip;
      inLeft -= skip;
      out += replacement;
      if (bad) ++*bad;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::u16string bytesToU16(const std::string& s) {
  std::u16string r(s.size() / 2, u'\0');
  std::memcpy(&r[0], s.data(), r.size() * 2);
  return r;
}
}  // namespace

namespace w32subst {
namespace detail {
std::u16string acpToUtf16(const char* s, int len) {
  if (!s) return std::u16string();
  size_t n = len < 0 ? std::strlen(s) : (size_t)len;
  return bytesToU16(convert("GBK", "UTF-16LE", s, n, std::string("?\0", 2), 1, nullptr));
}

std::string utf16ToAcp(const std::u16string& s) {
  return convert("UTF-16LE", "GBK", reinterpret_cast<const char*>(s.data()), s.size() * 2, "?", 2,
                 nullptr);
}

std::u16string utf8ToUtf16(const std::string& s) {
  return bytesToU16(convert("UTF-8", "UTF-16LE", s.data(), s.size(), std::string("?\0", 2), 1, nullptr));
}
}  // namespace detail
}  // namespace w32subst

int MultiByteToWideChar(UINT cp, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int cap) {
  const char* name = iconvName(cp);
  if (!name || !src || srcLen == 0 || cap < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcLen < 0 ? std::strlen(src) + 1 : (size_t)srcLen;
  int bad = 0;
  std::u16string w = bytesToU16(convert(name, "UTF-16LE", src, n, std::string("?\0", 2), 1, &bad));
  if (bad && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
    return 0;
  }
  if (!dst || cap == 0) return (int)w.size();
  if ((int)w.size() > cap) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, w.data(), w.size() * 2);
  return (int)w.size();
}

int WideCharToMultiByte(UINT cp, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int cap,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  const char* name = iconvName(cp);
  if (!name || !src || srcLen == 0 || cap < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = 0;
  if (srcLen < 0) {
    while (src[n]) ++n;
    ++n;
  } else {
    n = (size_t)srcLen;
  }
  int bad = 0;
  std::string repl = defaultChar && cp != CP_UTF8 ? std::string(defaultChar, 1) : std::string("?");
  std::string s = convert("UTF-16LE", name, reinterpret_cast<const char*>(src), n * 2, repl, 2, &bad);
  if (usedDefault) *usedDefault = bad ? TRUE : FALSE;
  if (!dst || cap == 0) return (int)s.size();
  if ((int)s.size() > cap) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, s.data(), s.size());
  return (int)s.size();
}

UINT GetACP(void) { return CP_GBK; }
int lstrlenA(LPCSTR s) { return s ? (int)std::strlen(s) : 0; }
int lstrlenW(LPCWSTR s) {
  int n = 0;
  while (s && s[n]) ++n;
  return n;
}

#include "db/SqlLike.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

inline unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Bytes of the character at s (SQLite's reading: a lead byte from 0xC0 takes the continuation
// bytes after it; any other byte is a character of its own).
inline size_t charLength(const unsigned char* s, size_t left) {
  size_t n = 1;
  if (s[0] >= 0xC0)
    while (n < left && (s[n] & 0xC0) == 0x80) ++n;
  return n;
}

// The two characters are the same: the same bytes, ASCII letters folded.
inline bool sameChar(const unsigned char* a, size_t na, const unsigned char* b, size_t nb) {
  if (na != nb) return false;
  if (na == 1) return fold(a[0]) == fold(b[0]);
  return std::memcmp(a, b, na) == 0;
}

struct Pattern {
  std::string text;
  bool hasOne = false;                // a "_" somewhere: the general matcher
  bool anchoredStart = true;          // the pattern does not begin with "%"
  bool anchoredEnd = true;            // the pattern does not end with "%"
  std::vector<std::string> pieces;    // the runs between "%" (folded), for patterns without "_"
};

void parse(const std::string& text, Pattern& p) {
  p.text = text;
  p.hasOne = text.find('_') != std::string::npos;
  if (p.hasOne) return;
  p.anchoredStart = text.empty() || text[0] != '%';
  p.anchoredEnd = text.empty() || text.back() != '%';
  std::string piece;
  for (char c : text) {
    if (c == '%') {
      if (!piece.empty()) p.pieces.push_back(piece);
      piece.clear();
    } else {
      piece += static_cast<char>(fold(static_cast<unsigned char>(c)));
    }
  }
  if (!piece.empty()) p.pieces.push_back(piece);
}

// Where byte c first occurs in s[from, to], or npos.
inline size_t nextByte(const unsigned char* s, size_t from, size_t to, unsigned char c) {
  if (from > to) return std::string::npos;
  const void* at = std::memchr(s + from, c, to - from + 1);
  return at != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(at) - s) : std::string::npos;
}

// Where the folded piece first occurs in s[from, n), or npos. The candidates are the places of
// its first byte, in either case of a letter, found with memchr.
size_t findPiece(const unsigned char* s, size_t from, size_t n, const std::string& piece) {
  const size_t m = piece.size();
  if (m > n || from > n - m) return std::string::npos;
  const size_t last = n - m;  // the last place the piece can start
  const unsigned char* p = reinterpret_cast<const unsigned char*>(piece.data());
  const unsigned char lower = p[0];
  const unsigned char upper = (lower >= 'a' && lower <= 'z') ? static_cast<unsigned char>(lower - 32) : lower;
  size_t atLower = nextByte(s, from, last, lower);
  size_t atUpper = upper != lower ? nextByte(s, from, last, upper) : std::string::npos;
  for (;;) {
    const size_t i = atLower < atUpper ? atLower : atUpper;
    if (i == std::string::npos) return std::string::npos;
    size_t k = 1;
    while (k < m && fold(s[i + k]) == p[k]) ++k;
    if (k == m) return i;
    if (atLower == i) atLower = nextByte(s, i + 1, last, lower);
    if (atUpper == i) atUpper = nextByte(s, i + 1, last, upper);
  }
}

// A pattern of plain pieces separated by "%". Comparing bytes compares characters here: the
// bytes of a multi-byte character are 0x80 or more and never fold, and a piece made of whole
// characters can only be found where a character starts (a lead byte never equals a
// continuation byte).
bool matchPieces(const Pattern& p, const unsigned char* s, size_t n) {
  if (p.pieces.empty()) return !p.anchoredStart ? true : n == 0;  // "%..." or the empty pattern
  size_t at = 0;
  size_t first = 0, last = p.pieces.size();
  if (p.anchoredStart) {
    const std::string& piece = p.pieces[0];
    if (piece.size() > n || findPiece(s, 0, piece.size(), piece) != 0) return false;
    at = piece.size();
    first = 1;
    if (p.pieces.size() == 1 && p.anchoredEnd) return at == n;
  }
  if (p.anchoredEnd && last > first) {
    const std::string& piece = p.pieces[last - 1];
    if (piece.size() > n - at) return false;
    size_t tail = n - piece.size();
    if (findPiece(s, tail, n, piece) != tail) return false;
    n = tail;
    --last;
  }
  for (size_t i = first; i < last; ++i) {
    size_t found = findPiece(s, at, n, p.pieces[i]);
    if (found == std::string::npos) return false;
    at = found + p.pieces[i].size();
  }
  return true;
}

// The general matcher: one remembered "%" to go back to (enough for "%", which matches any run).
bool matchGeneral(const unsigned char* pat, size_t m, const unsigned char* s, size_t n) {
  size_t i = 0, p = 0;
  size_t starP = std::string::npos, starI = 0;
  while (i < n) {
    if (p < m && pat[p] == '%') {
      while (p < m && pat[p] == '%') ++p;
      starP = p;
      starI = i;
      continue;
    }
    if (p < m) {
      size_t sl = charLength(s + i, n - i);
      if (pat[p] == '_') {
        i += sl;
        ++p;
        continue;
      }
      size_t pl = charLength(pat + p, m - p);
      if (sameChar(pat + p, pl, s + i, sl)) {
        i += sl;
        p += pl;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    starI += charLength(s + starI, n - starI);
    i = starI;
    p = starP;
  }
  while (p < m && pat[p] == '%') ++p;
  return p == m;
}

bool matches(const Pattern& p, const unsigned char* s, size_t n) {
  if (!p.hasOne) return matchPieces(p, s, n);
  return matchGeneral(reinterpret_cast<const unsigned char*>(p.text.data()), p.text.size(), s, n);
}

void deletePattern(void* p) { delete static_cast<Pattern*>(p); }

void likeFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  const unsigned char* pattern = sqlite3_value_text(argv[0]);
  const unsigned char* text = sqlite3_value_text(argv[1]);
  if (pattern == nullptr || text == nullptr) return;  // NULL
  // SQLite's LIKE stops at a NUL byte, in the pattern as in the text.
  auto* parsed = static_cast<Pattern*>(sqlite3_get_auxdata(context, 0));
  if (parsed == nullptr) {
    // A pattern kept from an earlier row is this same value, which passed this check then.
    if (sqlite3_value_bytes(argv[0]) >
        sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
      sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
      return;
    }
    parsed = new (std::nothrow) Pattern();
    if (parsed == nullptr) {
      sqlite3_result_error_nomem(context);
      return;
    }
    parse(std::string(reinterpret_cast<const char*>(pattern)), *parsed);
    sqlite3_set_auxdata(context, 0, parsed, deletePattern);
    parsed = static_cast<Pattern*>(sqlite3_get_auxdata(context, 0));  // may be gone already
    if (parsed == nullptr) {
      Pattern once;
      parse(std::string(reinterpret_cast<const char*>(pattern)), once);
      sqlite3_result_int(context, matches(once, text, std::strlen(reinterpret_cast<const char*>(text))));
      return;
    }
  }
  sqlite3_result_int(context, matches(*parsed, text, std::strlen(reinterpret_cast<const char*>(text))));
}

}  // namespace

int installFastLike(sqlite3* db) {
  return sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                    likeFunction, nullptr, nullptr, nullptr);
}

bool fastLikeMatch(const std::string& pattern, const std::string& text) {
  Pattern p;
  std::string pat(pattern.c_str());  // up to a NUL, as SQLite reads it
  parse(pat, p);
  std::string t(text.c_str());
  return matches(p, reinterpret_cast<const unsigned char*>(t.data()), t.size());
}

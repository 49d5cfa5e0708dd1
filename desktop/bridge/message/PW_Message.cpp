#include "bridge/PW_Message.h"

#include <ace/Message_Block.h>

#include <climits>
#include <cstdio>

#include "util/CodingTransform.h"

const std::size_t PW_Message::MAX_BODY_LENGTH;
const std::size_t PW_Message::MAX_HEAD_LENGTH;
const int PW_Message::LENGTH_NONE;
const int PW_Message::LENGTH_INVALID;

namespace {

enum LineEnd {
  LINE_OPEN,     // no CR before the end of the unread bytes
  LINE_CR_LAST,  // the CR is the last unread byte: its LF may still be on the way
  LINE_DONE      // the terminator was seen
};

// Reads one line of [cursor, end): the line is [cursor at entry, lineEnd).
LineEnd nextLine(const char* end, const char*& cursor, const char*& lineEnd) {
  const char* p = cursor;
  while (p != end && *p != '\r') ++p;
  lineEnd = p;
  if (p == end) {
    cursor = end;
    return LINE_OPEN;
  }
  ++p;
  if (p == end) {
    cursor = end;
    return LINE_CR_LAST;
  }
  if (*p == '\n') ++p;
  cursor = p;
  return LINE_DONE;
}

bool isAtoiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexValue(char c) {
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i) {
    if (digits[i] == c) return i;
  }
  return 0;
}

// The scan shared by decode and hasCompleteUnit; `headLine` receives the head line on success.
int scan(const ACE_Message_Block& mb, std::size_t& headLength, std::size_t& bodyLength, std::string* headLine) {
  const char* const rd = mb.rd_ptr();
  const char* const wr = mb.wr_ptr();
  if (rd >= wr) return PW_Message::DECODE_INCOMPLETE;

  const char* cursor = rd;
  const char* lineEnd = 0;
  if (nextLine(wr, cursor, lineEnd) != LINE_DONE) {
    return std::size_t(wr - rd) > PW_Message::MAX_HEAD_LENGTH ? PW_Message::DECODE_MALFORMED
                                                               : PW_Message::DECODE_INCOMPLETE;
  }
  const std::string head(rd, lineEnd);
  const std::string::size_type blank = head.find(' ');
  if (blank == std::string::npos || blank + 1 == head.size()) return PW_Message::DECODE_MALFORMED;

  int length = PW_Message::LENGTH_NONE;
  for (;;) {
    const char* lineStart = cursor;
    const LineEnd end = nextLine(wr, cursor, lineEnd);
    if (end != LINE_DONE) {
      // End of data never counts as the empty line.
      return std::size_t(wr - rd) > PW_Message::MAX_HEAD_LENGTH ? PW_Message::DECODE_MALFORMED
                                                                 : PW_Message::DECODE_INCOMPLETE;
    }
    if (lineEnd == lineStart) break;
    if (length == PW_Message::LENGTH_NONE) {
      length = PW_Message::parseLength(std::string(lineStart, lineEnd));
      if (length == PW_Message::LENGTH_INVALID ||
          (length >= 0 && std::size_t(length) > PW_Message::MAX_BODY_LENGTH)) {
        return PW_Message::DECODE_MALFORMED;
      }
    }
    if (std::size_t(cursor - rd) > PW_Message::MAX_HEAD_LENGTH) return PW_Message::DECODE_MALFORMED;
  }
  if (std::size_t(cursor - rd) > PW_Message::MAX_HEAD_LENGTH) return PW_Message::DECODE_MALFORMED;

  const std::size_t body = length < 0 ? 0 : std::size_t(length);
  if (std::size_t(wr - cursor) < body) return PW_Message::DECODE_INCOMPLETE;
  headLength = std::size_t(cursor - rd);
  bodyLength = body;
  if (headLine != 0) *headLine = head;
  return PW_Message::DECODE_OK;
}

}  // namespace

PW_Message::PW_Message() : version_("PW 0.1") {}

void PW_Message::setField(const std::string& key, const std::string& value) { fields_.insert(std::make_pair(key, value)); }

std::string PW_Message::getField(const std::string& key) const {
  std::map<std::string, std::string>::const_iterator it = fields_.find(key);
  return it == fields_.end() ? std::string() : it->second;
}

std::string PW_Message::encodeBody() const {
  std::string body;
  for (std::map<std::string, std::string>::const_iterator it = fields_.begin(); it != fields_.end(); ++it) {
    if (!body.empty()) body += '&';
    body += CodingTransform::urlencode(it->first, true, false);
    body += '=';
    body += CodingTransform::urlencode(it->second, true, false);
  }
  return body;
}

int PW_Message::encode(ACE_Message_Block& mb) const {
  const std::string body = encodeBody();
  mb.reset();
  if (body.size() > MAX_BODY_LENGTH) return -1;
  char length[32];
  std::snprintf(length, sizeof length, "l:%d\r\n\r\n", int(body.size()));
  const std::string head = command_ + " " + version_ + "\r\n" + length;
  if (mb.size(head.size() + body.size()) != 0) return -1;
  mb.reset();
  mb.copy(head.data(), head.size());
  mb.copy(body.data(), body.size());
  return 0;
}

int PW_Message::decode(ACE_Message_Block& mb, std::size_t& consumed) {
  std::size_t headLength = 0;
  std::size_t bodyLength = 0;
  std::string head;
  const int result = scan(mb, headLength, bodyLength, &head);
  if (result != DECODE_OK) return result;
  const std::string::size_type blank = head.find(' ');
  command_ = head.substr(0, blank);
  version_ = head.substr(blank + 1);
  decodeBody(std::string(mb.rd_ptr() + headLength, bodyLength));
  consumed = headLength + bodyLength;
  return DECODE_OK;
}

int PW_Message::decodeBody(const std::string& body) {
  fields_.clear();
  std::vector<std::string> tokens;
  splitTokens(body, "&", tokens);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::vector<std::string> parts;
    splitTokens(tokens[i], "=", parts);
    if (parts.size() == 2) setField(urlDecode(parts[0]), urlDecode(parts[1]));
  }
  return 0;
}

std::string PW_Message::readLine(const ACE_Message_Block& mb, const char*& cursor) {
  const char* rd = mb.rd_ptr();
  const char* wr = mb.wr_ptr();
  if (cursor < rd) cursor = rd;
  if (cursor > wr) cursor = wr;
  const char* start = cursor;
  const char* lineEnd = 0;
  nextLine(wr, cursor, lineEnd);
  return std::string(start, lineEnd);
}

int PW_Message::parseLength(const std::string& line) {
  const std::string::size_type at = line.find("l:");
  if (at == std::string::npos) return LENGTH_NONE;
  std::string::size_type i = at + 2;
  while (i < line.size() && isAtoiSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > INT_MAX) return LENGTH_INVALID;
  }
  if (negative && value != 0) return LENGTH_INVALID;
  return int(value);
}

int PW_Message::scanUnit(const ACE_Message_Block& mb, std::size_t& headLength, std::size_t& bodyLength) {
  return scan(mb, headLength, bodyLength, 0);
}

bool PW_Message::hasCompleteUnit(const ACE_Message_Block& mb, std::size_t& headLength, std::size_t& bodyLength,
                                 std::size_t& totalLength, bool* malformed) {
  std::size_t head = 0;
  std::size_t body = 0;
  const int result = scan(mb, head, body, 0);
  if (malformed != 0) *malformed = result == DECODE_MALFORMED;
  if (result != DECODE_OK) return false;
  headLength = head;
  bodyLength = body;
  totalLength = head + body;
  return true;
}

std::string urlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size()) {
      out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void splitTokens(const std::string& text, const std::string& delimiters, std::vector<std::string>& tokens) {
  std::string::size_type i = 0;
  while (i < text.size()) {
    while (i < text.size() && delimiters.find(text[i]) != std::string::npos) ++i;
    if (i == text.size()) break;
    std::string::size_type start = i;
    while (i < text.size() && delimiters.find(text[i]) == std::string::npos) ++i;
    tokens.push_back(text.substr(start, i - start));
  }
}

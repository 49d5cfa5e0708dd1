#include "bridge/PW_Message.h"

#include <ace/Message_Block.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

typedef std::map<std::string, std::string> Fields;

const std::string kAttachUnit("showAttachDialog PW 0.1\r\nl:10\r\n\r\nhandle=655", 43);

// A block holding `bytes` after a few bytes already read, so positions are relative.
std::unique_ptr<ACE_Message_Block> blockOf(const std::string& bytes, size_t alreadyRead = 3) {
  std::unique_ptr<ACE_Message_Block> mb(new ACE_Message_Block(alreadyRead + bytes.size() + 1));
  mb->copy(std::string(alreadyRead, '#').data(), alreadyRead);
  mb->rd_ptr(alreadyRead);
  mb->copy(bytes.data(), bytes.size());
  return mb;
}

std::string encoded(const PW_Message& m) {
  ACE_Message_Block mb;
  EXPECT_EQ(0, m.encode(mb));
  return std::string(mb.rd_ptr(), mb.length());
}

PW_Message message(const std::string& command, const Fields& fields) {
  PW_Message m;
  m.setCommand(command);
  for (Fields::const_iterator it = fields.begin(); it != fields.end(); ++it) m.setField(it->first, it->second);
  return m;
}

// Decodes `bytes` and checks that the pre-check says the same and that no position moved.
int decodeChecked(const std::string& bytes, PW_Message& m, size_t& consumed) {
  std::unique_ptr<ACE_Message_Block> mb = blockOf(bytes);
  const char* rd = mb->rd_ptr();
  const char* wr = mb->wr_ptr();
  consumed = 0;
  const int result = m.decode(*mb, consumed);
  EXPECT_EQ(rd, mb->rd_ptr());
  EXPECT_EQ(wr, mb->wr_ptr());
  size_t head = 0, body = 0, total = 0;
  bool malformed = false;
  const bool complete = PW_Message::hasCompleteUnit(*mb, head, body, total, &malformed);
  EXPECT_EQ(result == PW_Message::DECODE_OK, complete);
  EXPECT_EQ(result == PW_Message::DECODE_MALFORMED, malformed);
  if (complete) {
    EXPECT_EQ(consumed, total);
    EXPECT_EQ(total, head + body);
  }
  return result;
}

struct Row {
  const char* name;
  std::string input;
  int result;
  size_t consumed;  // when decoded
  std::string command;
  Fields fields;
};

TEST(PW_Message, DecodeTable) {
  const int OK = PW_Message::DECODE_OK;
  const int WAIT = PW_Message::DECODE_INCOMPLETE;
  const int BAD = PW_Message::DECODE_MALFORMED;
  const std::string X = "X PW 0.1\r\n";  // 10 bytes
  const Row rows[] = {
      {"valid unit", kAttachUnit, OK, 43, "showAttachDialog", {{"handle", "655"}}},
      {"no unread bytes", "", WAIT, 0, "", {}},
      {"lines ending in CR alone", "X PW 0.1\rl:3\r\rx=y", OK, 17, "X", {{"x", "y"}}},
      {"empty line right after the head line", X + "\r\n", OK, 12, "X", {}},
      {"l: with nothing after it", X + "l:\r\n\r\nabc", OK, 16, "X", {}},
      {"l:12x gives 12", X + "l:12x\r\n\r\na=bcdefghijk", OK, 31, "X", {{"a", "bcdefghijk"}}},
      {"later length lines are ignored", X + "l:1\r\nl:5\r\n\r\nabcde", OK, 23, "X", {}},
      {"l: on the head line is not a length", "X l:5\r\n\r\nabcde", OK, 9, "X", {}},
      {"head without a blank", "showAttachDialog\r\nl:0\r\n\r\n", BAD, 0, "", {}},
      {"blank as the head's last character", "X \r\nl:0\r\n\r\n", BAD, 0, "", {}},
      {"leading empty line", "\r\n" + kAttachUnit, BAD, 0, "", {}},
      {"negative length", X + "l:-1\r\n\r\n", BAD, 0, "", {}},
      {"length beyond int", X + "l:99999999999\r\n\r\n", BAD, 0, "", {}},
      {"length of 2 GB", X + "l:2147483647\r\n\r\nabc", BAD, 0, "", {}},
      {"length just above the limit", X + "l:1048577\r\n\r\n", BAD, 0, "", {}},
      {"length at the limit waits for its body", X + "l:1048576\r\n\r\n", WAIT, 0, "", {}},
      {"negative length of a malformed unit is found before its empty line", X + "l:-5\r\n", BAD, 0, "", {}},
      {"l:-0 is zero", X + "l:-0\r\n\r\n", OK, 18, "X", {}},
      {"CR as the last byte: the LF is still on the way", X + "l:0\r\n\r", WAIT, 0, "", {}},
      {"end of data right after the head line", X, WAIT, 0, "", {}},
      {"end of data is not the empty line", X + "l:3\r\n", WAIT, 0, "", {}},
      {"garbage without CR", "GET / HTTP/1.1", WAIT, 0, "", {}},
      {"garbage without CR beyond the head limit", std::string(5000, 'g'), BAD, 0, "", {}},
      {"head lines beyond the head limit", X + std::string(5000, 'h') + "\r\n", BAD, 0, "", {}},
      {"repeated key: first wins", X + "l:9\r\n\r\nto=a&to=b", OK, 26, "X", {{"to", "a"}}},
      {"a==b", X + "l:4\r\n\r\na==b", OK, 21, "X", {{"a", "b"}}},
      {"a=, =b and a=b=c give nothing", X + "l:13\r\n\r\na=&=b&a=b=c&&", OK, 31, "X", {}},
      {"escapes", X + "l:39\r\n\r\nA=%41&L=%4a&P=a+b&T=x%4&U=y%&E=%41%42%4", OK, 57, "X",
       {{"A", "A"}, {"L", "\x40"}, {"P", "a b"}, {"T", "x%4"}, {"U", "y%"}, {"E", "AB%4"}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PW_Message m;
    m.setCommand("before");
    size_t consumed = 0;
    ASSERT_EQ(r.result, decodeChecked(r.input, m, consumed));
    if (r.result == OK) {
      EXPECT_EQ(r.consumed, consumed);
      EXPECT_EQ(r.command, m.getCommand());
      EXPECT_EQ(r.fields, m.getFields());
    } else {
      EXPECT_EQ("before", m.getCommand()) << "a failed decode leaves the message alone";
    }
  }
}

TEST(PW_Message, EncodeWritesTheWireFormat) {
  PW_Message m = message("showAttachDialog", {{"handle", "655"}});
  EXPECT_EQ("PW 0.1", m.getVersion());
  EXPECT_EQ(kAttachUnit, encoded(m));
  EXPECT_EQ("mailSrvStopped PW 0.1\r\nl:0\r\n\r\n", encoded(message("mailSrvStopped", {})));

  // Keys in byte order; an empty value travels as "k=" and is read back as "".
  PW_Message reply = message("setSelectedAddr", {{"to", "a@x.com;b@y.com"}, {"cc", ""}, {"bcc", ""}, {"handle", "655"}});
  const std::string wire = encoded(reply);
  EXPECT_EQ("setSelectedAddr PW 0.1\r\nl:44\r\n\r\nbcc=&cc=&handle=655&to=a%40x.com%3Bb%40y.com", wire);
  PW_Message back;
  size_t consumed = 0;
  ASSERT_EQ(0, decodeChecked(wire, back, consumed));
  EXPECT_EQ(wire.size(), consumed);
  EXPECT_EQ("a@x.com;b@y.com", back.getField("to"));
  EXPECT_EQ("", back.getField("cc"));
  EXPECT_EQ(2u, back.getFields().size());

  // encode resets a used block and sizes it to exactly the unit.
  std::unique_ptr<ACE_Message_Block> used = blockOf(std::string(200, 'z'));
  ASSERT_EQ(0, m.encode(*used));
  EXPECT_EQ(used->base(), used->rd_ptr());
  EXPECT_EQ(43u, used->length());
  EXPECT_EQ(43u, used->size());

  // setField keeps the first value.
  m.setField("handle", "1");
  EXPECT_EQ("655", m.getField("handle"));
}

TEST(PW_Message, EveryStrictPrefixIsIncomplete) {
  const std::string units[] = {
      kAttachUnit,
      encoded(message("mailSrvStopped", {})),
      encoded(message("showAddrDialog", {{"handle", "-42"}, {"to", "a b"}, {"cc", "&=%+"}})),
      "X PW 0.1\rl:3\r\rx=y",
  };
  for (const std::string& unit : units) {
    SCOPED_TRACE(unit);
    for (size_t n = 0; n < unit.size(); ++n) {
      PW_Message m;
      size_t consumed = 0;
      EXPECT_EQ(PW_Message::DECODE_INCOMPLETE, decodeChecked(unit.substr(0, n), m, consumed)) << "prefix " << n;
    }
    PW_Message m;
    size_t consumed = 0;
    EXPECT_EQ(PW_Message::DECODE_OK, decodeChecked(unit, m, consumed));
    EXPECT_EQ(unit.size(), consumed);
  }
}

// A receiver's loop: append what arrived, decode every whole unit, advance, move the rest to
// the front. Two units back to back, delivered in reads of every size from 1 to the whole.
TEST(PW_Message, BackToBackUnitsSplitAcrossReads) {
  const std::string first = encoded(message("showAddrDialog", {{"handle", "655"}, {"to", "x@y"}}));
  const std::string second = encoded(message("mailWindowsClosed", {{"handle", "655"}}));
  const std::string stream = first + second;

  {
    PW_Message m;
    size_t consumed = 0;
    ASSERT_EQ(0, decodeChecked(stream, m, consumed));
    EXPECT_EQ(first.size(), consumed) << "the first unit ends exactly where the second begins";
    EXPECT_EQ("showAddrDialog", m.getCommand());
  }

  for (size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    ACE_Message_Block buffer(16);
    std::vector<std::string> got;
    for (size_t sent = 0; sent < stream.size(); sent += chunk) {
      const std::string piece = stream.substr(sent, chunk);
      if (buffer.space() < piece.size()) buffer.size(buffer.size() * 2 + piece.size());
      buffer.copy(piece.data(), piece.size());
      for (;;) {
        size_t head = 0, body = 0, total = 0;
        bool malformed = false;
        if (!PW_Message::hasCompleteUnit(buffer, head, body, total, &malformed)) {
          ASSERT_FALSE(malformed);
          break;
        }
        PW_Message m;
        size_t consumed = 0;
        ASSERT_EQ(0, m.decode(buffer, consumed));
        ASSERT_EQ(total, consumed);
        got.push_back(m.getCommand() + ":" + m.getField("handle"));
        buffer.rd_ptr(consumed);
        buffer.crunch();
      }
    }
    EXPECT_EQ((std::vector<std::string>{"showAddrDialog:655", "mailWindowsClosed:655"}), got);
    EXPECT_EQ(0u, buffer.length());
  }
}

TEST(PW_Message, RoundTripOfAwkwardBytes) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes += char(b);
  const std::string special = "&=%+ \r\n";
  // A small deterministic generator over the special bytes and 0x80-0xFF.
  unsigned seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 50; ++round) {
    Fields fields;
    for (int f = 0; f < 5; ++f) {
      std::string key, value;
      for (unsigned n = 1 + next() % 12; n > 0; --n) {
        key += next() % 2 ? special[next() % special.size()] : char(0x80 + next() % 0x80);
      }
      for (unsigned n = 1 + next() % 20; n > 0; --n) {
        value += next() % 2 ? special[next() % special.size()] : char(0x80 + next() % 0x80);
      }
      fields[key] = value;
    }
    fields[std::string("\0k", 2)] = allBytes;
    fields["plain"] = std::string("v\0", 2);
    PW_Message m = message("setSelectedAddr", fields);
    PW_Message back;
    size_t consumed = 0;
    const std::string wire = encoded(m);
    ASSERT_EQ(0, decodeChecked(wire, back, consumed));
    EXPECT_EQ(wire.size(), consumed);
    EXPECT_EQ(fields, back.getFields());
    EXPECT_EQ("setSelectedAddr", back.getCommand());
  }
}

TEST(PW_Message, LineAndLengthHelpers) {
  const struct {
    const char* line;
    int length;
  } lengths[] = {{"l:12x", 12}, {"l:", 0},  {"abc", -1},          {"xl: 7", 7}, {"l:+5", 5}, {"l:-1", -2},
                 {"l:-0", 0},   {"l:x", 0}, {"l:99999999999", -2}, {"l:2147483647", 2147483647}};
  for (const auto& r : lengths) EXPECT_EQ(r.length, PW_Message::parseLength(r.line)) << r.line;

  std::unique_ptr<ACE_Message_Block> mb = blockOf("a\nb\r\nc\rd");
  const char* cursor = mb->base();  // before the unread bytes: moved to the read position
  EXPECT_EQ("a\nb", PW_Message::readLine(*mb, cursor));
  EXPECT_EQ("c", PW_Message::readLine(*mb, cursor));
  EXPECT_EQ("d", PW_Message::readLine(*mb, cursor));
  EXPECT_EQ(mb->wr_ptr(), cursor);
  EXPECT_EQ("", PW_Message::readLine(*mb, cursor));

  std::vector<std::string> tokens(1, "kept");
  splitTokens("&&a&b=c&&", "&", tokens);
  EXPECT_EQ((std::vector<std::string>{"kept", "a", "b=c"}), tokens);
  EXPECT_EQ("", urlDecode(""));
}

}  // namespace

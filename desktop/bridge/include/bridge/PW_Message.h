// PW_Message: one unit of the local protocol between the hook library and the desktop program,
// both the message in memory and its codec. Compiled into both sides; it converts no character
// sets, logs nothing and throws nothing.
//
// A unit on the wire, byte for byte:
//   <command> SP <version> CR LF
//   "l:" <body length, decimal> CR LF
//   CR LF
//   <body: exactly that many bytes> = urlenc(k1) "=" urlenc(v1) "&" urlenc(k2) "=" ... (key order)
//
// Threads: a message object and the buffer it works on are used by one thread at a time; the
// static operations hold no shared state and may run on any thread.
#ifndef BRIDGE_PW_MESSAGE_H
#define BRIDGE_PW_MESSAGE_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

class ACE_Message_Block;

class PW_Message {
 public:
  // Results of decode and scanUnit.
  enum {
    DECODE_OK = 0,          // a whole unit starts at the read position
    DECODE_INCOMPLETE = 2,  // more bytes may complete it: wait for them
    DECODE_MALFORMED = 3    // no further bytes can make it a unit: drop the connection
  };
  // A body longer than this never decodes (the largest real unit is about 10 KiB).
  static const std::size_t MAX_BODY_LENGTH = 1024 * 1024;
  // A head (from the read position to the end of its empty line) longer than this never decodes.
  static const std::size_t MAX_HEAD_LENGTH = 4096;
  // Results of parseLength besides a length.
  static const int LENGTH_NONE = -1;     // the line has no "l:"
  static const int LENGTH_INVALID = -2;  // negative, or beyond the range of int

  // Empty command, version "PW 0.1", no fields.
  PW_Message();

  const std::string& getCommand() const { return command_; }
  void setCommand(const std::string& command) { command_ = command; }
  const std::string& getVersion() const { return version_; }
  void setVersion(const std::string& version) { version_ = version; }

  // Inserts the pair; when the key is present already the old value stays.
  void setField(const std::string& key, const std::string& value);
  // The value, or "" when the key is absent.
  std::string getField(const std::string& key) const;
  const std::map<std::string, std::string>& getFields() const { return fields_; }

  // Resets the block's positions, sizes it to exactly head plus body and writes the unit.
  // Returns 0, or -1 (block left empty) when the body exceeds MAX_BODY_LENGTH or the block
  // cannot be sized.
  int encode(ACE_Message_Block& mb) const;

  // Decodes the unit at the block's read position without moving the block's positions.
  // DECODE_OK: command, version and fields are replaced and `consumed` is the unit's byte count
  // (the caller advances the read position by it). Otherwise the message and `consumed` are
  // left as they were.
  int decode(ACE_Message_Block& mb, std::size_t& consumed);

  // The body text of the fields; decodeBody replaces the fields from a body and returns 0.
  std::string encodeBody() const;
  int decodeBody(const std::string& body);

  // One line from `cursor` (moved into the unread bytes first) up to the first CR; a LF right
  // after the CR belongs to the terminator and the cursor moves past it. Without a CR the line
  // is the rest of the unread bytes and the cursor stops at their end.
  static std::string readLine(const ACE_Message_Block& mb, const char*& cursor);

  // The number after the first "l:" of the line (leading blanks skipped, digits up to the first
  // other character, none give 0); LENGTH_NONE without "l:", LENGTH_INVALID when negative or
  // too large for int.
  static int parseLength(const std::string& line);

  // Looks at the unread bytes of the block: DECODE_OK with the head and body lengths of the
  // whole unit at the read position, DECODE_INCOMPLETE or DECODE_MALFORMED. decode and
  // hasCompleteUnit both stand on it, so they always agree.
  static int scanUnit(const ACE_Message_Block& mb, std::size_t& headLength, std::size_t& bodyLength);

  // True when a whole unit starts at the read position; then the three lengths are set. When
  // `malformed` is given it tells whether waiting for more bytes is pointless.
  static bool hasCompleteUnit(const ACE_Message_Block& mb, std::size_t& headLength, std::size_t& bodyLength,
                              std::size_t& totalLength, bool* malformed = 0);

 private:
  std::string command_;
  std::string version_;
  std::map<std::string, std::string> fields_;  // byte-wise key order, one value per key
};

// "+" gives a blank; "%XY" gives one byte from two digits of "0123456789ABCDEF" (any other
// character, lower-case a-f included, counts 0); a '%' with fewer than two characters after
// it is kept as it stands with what follows; every other byte is copied.
std::string urlDecode(const std::string& text);

// Appends the maximal runs of characters that are not in `delimiters` (no empty tokens).
void splitTokens(const std::string& text, const std::string& delimiters, std::vector<std::string>& tokens);

#endif  // BRIDGE_PW_MESSAGE_H

// The local protocol's unit decoder, fed the bytes a local connection may send: the receive
// loop of the local server (decode, advance, repeat) and the pre-check the hook side uses must
// agree, never read past the unread bytes, and a decoded unit must encode and decode again to
// the same message.
#include <ace/Message_Block.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "bridge/PW_Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized block, so a read past the unread bytes is a heap overflow.
  ACE_Message_Block mb(size ? size : 1);
  if (size) mb.copy(reinterpret_cast<const char*>(data), size);

  for (int units = 0; units < 1000 && mb.length() > 0; ++units) {
    std::size_t head = 0, body = 0, total = 0;
    bool malformed = false;
    const bool complete = PW_Message::hasCompleteUnit(mb, head, body, total, &malformed);

    PW_Message m;
    std::size_t consumed = 0;
    const char* rd = mb.rd_ptr();
    const int result = m.decode(mb, consumed);
    PW_FUZZ_CHECK(rd == mb.rd_ptr());
    PW_FUZZ_CHECK(complete == (result == PW_Message::DECODE_OK));
    PW_FUZZ_CHECK(malformed == (result == PW_Message::DECODE_MALFORMED));
    if (result != PW_Message::DECODE_OK) break;
    PW_FUZZ_CHECK(consumed == total && total == head + body);
    PW_FUZZ_CHECK(consumed > 0 && consumed <= mb.length());
    PW_FUZZ_CHECK(body <= PW_Message::MAX_BODY_LENGTH);

    // Decoded fields have neither empty keys nor empty values, so they travel again whole.
    ACE_Message_Block again;
    if (m.encode(again) == 0) {
      PW_Message back;
      std::size_t used = 0;
      PW_FUZZ_CHECK(back.decode(again, used) == PW_Message::DECODE_OK);
      PW_FUZZ_CHECK(used == again.length());
      PW_FUZZ_CHECK(back.getCommand() == m.getCommand());
      PW_FUZZ_CHECK(back.getVersion() == m.getVersion());
      PW_FUZZ_CHECK(back.getFields() == m.getFields());
    }
    mb.rd_ptr(consumed);
  }

  // The body decoder alone, on the whole input.
  PW_Message m;
  m.decodeBody(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}

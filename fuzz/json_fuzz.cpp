// The JSON decoder, fed the bodies a net-disk server may answer with: decoding never fails
// badly, and a decoded object encodes to text that decodes to an equal object with the same
// encoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "json/JSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Json::JSONObject obj;
  if (!obj.decode(text)) {
    PW_FUZZ_CHECK(obj.isObject() && obj.size() == 0);
    return 0;
  }
  const std::string encoded = obj.encode();
  Json::JSONObject again;
  PW_FUZZ_CHECK(again.decode(encoded));
  PW_FUZZ_CHECK(again == obj);
  PW_FUZZ_CHECK(again.encode() == encoded);
  return 0;
}

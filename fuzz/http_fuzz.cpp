// The parts of an HTTP answer and address that our HTTP library reads itself (libcurl splits the
// answer into lines): a Set-Cookie value and a URL. The first byte picks which.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "http/HTTPCookie.h"
#include "http/URI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    http::HTTPCookie cookie(text);
    if (cookie.isValid()) {
      PW_FUZZ_CHECK(!cookie.getName().empty());
      const std::string pair = cookie.toString();
      http::HTTPCookie again(pair);
      PW_FUZZ_CHECK(again.isValid());
      PW_FUZZ_CHECK(again.getName() == cookie.getName());
    }
  } else {
    http::URI uri(text);
    if (uri.isValid()) {
      PW_FUZZ_CHECK(!uri.getScheme().empty() && !uri.getHost().empty());
      uri.getPathAndQuery();
      uri.getAuthority();
    }
  }
  return 0;
}

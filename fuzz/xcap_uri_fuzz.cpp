// XCAP URIs and node selectors built from text that comes from servers and users (list names,
// entry URIs, attribute values): every attribute value reads back from its quoted form, and the
// request path the client makes of a URI is plain printable ASCII that decodes to the URI.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "corvane/XcapUri.h"
#include "util/CodingTransform.h"

namespace {

// The value of a quoted attribute value, read as an XPath/XML reader would; false when the
// quoted text is not well formed (unbalanced quote, a raw '<' or '&').
bool unquote(const std::string& quoted, std::string& value) {
  if (quoted.size() < 2) return false;
  const char q = quoted[0];
  if ((q != '\'' && q != '"') || quoted[quoted.size() - 1] != q) return false;
  value.clear();
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    const char c = quoted[i];
    if (c == q || c == '<') return false;
    if (c != '&') {
      value += c;
      continue;
    }
    const std::string rest = quoted.substr(i, 6);
    if (rest.compare(0, 5, "&amp;") == 0) { value += '&'; i += 4; }
    else if (rest.compare(0, 4, "&lt;") == 0) { value += '<'; i += 3; }
    else if (rest.compare(0, 6, "&apos;") == 0) { value += '\''; i += 5; }
    else if (rest.compare(0, 6, "&quot;") == 0) { value += '"'; i += 5; }
    else return false;
  }
  return true;
}

void checkRequestPath(const std::string& relative) {
  const std::string path = CodingTransform::urlencode("/xcap" + relative, false, false);
  for (std::size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    PW_FUZZ_CHECK(c > 0x20 && c < 0x7f && c != '#');
  }
  PW_FUZZ_CHECK(CodingTransform::urldecode(path) == "/xcap" + relative);
}

std::vector<ElementSelectorStep*> makeSteps(FuzzedDataProvider& in) {
  std::vector<ElementSelectorStep*> steps;
  const int count = in.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < count; ++i) {
    const int kind = in.ConsumeIntegralInRange<int>(0, 3);
    const std::string name = in.ConsumeRandomLengthString(32);
    switch (kind) {
      case 0:
        steps.push_back(new ElementSelectorStep(name));
        break;
      case 1: {
        const std::string attr = in.ConsumeRandomLengthString(16);
        steps.push_back(new ElementSelectorStepByAttr(name, attr, in.ConsumeRandomLengthString(64)));
        break;
      }
      case 2:
        steps.push_back(new ElementSelectorStepByPos(name, in.ConsumeIntegral<int>()));
        break;
      default: {
        const int pos = in.ConsumeIntegral<int>();
        const std::string attr = in.ConsumeRandomLengthString(16);
        steps.push_back(new ElementSelectorStepByPosAttr(name, pos, attr, in.ConsumeRandomLengthString(64)));
        break;
      }
    }
  }
  return steps;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);

  const std::string value = in.ConsumeRandomLengthString(128);
  std::string back;
  PW_FUZZ_CHECK(unquote(ElementSelectorStep::quoteValue(value), back));
  PW_FUZZ_CHECK(back == value);

  const std::string auid = in.ConsumeRandomLengthString(32);
  const std::string user = in.ConsumeRandomLengthString(64);
  const std::string document = in.ConsumeRandomLengthString(32);
  XcapNamespaceMap namespaces;
  const int nsCount = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < nsCount; ++i) {
    const std::string prefix = in.ConsumeRandomLengthString(8);
    namespaces[prefix] = in.ConsumeRandomLengthString(48);
  }

  checkRequestPath(UserDocumentUri(auid, user, document).toString());

  ElementSelector element(makeSteps(in));
  checkRequestPath(UserElementUri(auid, user, document, element, namespaces).toString());
  DocumentSelector selector(auid, user, document);
  checkRequestPath(NamespaceBindingsUri(selector, element, namespaces).toString());
  checkRequestPath(UserAttributeUri(auid, user, document, new ElementSelector(makeSteps(in)),
                                    in.ConsumeRandomLengthString(16), namespaces)
                       .toString());
  return 0;
}

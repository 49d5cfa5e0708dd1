// One XML document kind of the XCAP bindings, parsed through the hardened entry point the
// library uses (compiled once per kind, PW_FUZZ_KIND selects it): any text either parses or
// throws the bindings' exceptions; a parsed document of a kind the program also writes
// serialises to text that parses again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "bindings/XcapNamespaces.h"
#include "bindings/XmlHardening.h"
#include "bindings/common-policy.hxx"
#include "bindings/pidf.hxx"
#include "bindings/resource-lists.hxx"
#include "bindings/watcherinfo.hxx"
#include "bindings/xcap-error.hxx"

namespace {

const xml_schema::properties NO_PROPS;

template <typename Parse>
void parseOnly(Parse parse, const std::string& text) {
  std::istringstream is(text);
  try {
    parse(is);
  } catch (const xml_schema::exception&) {
  }
}

// Parses; when it parses, serialises and parses the result again.
template <typename Parse, typename Serialize>
void parseAndWrite(Parse parse, Serialize serialize, const std::string& text) {
  std::istringstream is(text);
  std::string written;
  try {
    auto doc = parse(is);
    std::ostringstream os;
    serialize(os, *doc);
    written = os.str();
  } catch (const xml_schema::exception&) {
    return;
  }
  std::istringstream again(written);
  try {
    parse(again);
  } catch (const xml_schema::exception& e) {
    std::fprintf(stderr, "written document does not parse: %s\n%s\n", e.what(), written.c_str());
    PW_FUZZ_CHECK(!"a written document parses again");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Xcap_Bindings::initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const xml_schema::flags flags = Xcap_Bindings::PARSE_FLAGS;
#if PW_FUZZ_KIND == 0
  parseOnly([&](std::istream& is) { return Xcap_ResourceLists::resource_lists_(is, flags, NO_PROPS); }, text);
#elif PW_FUZZ_KIND == 1
  parseOnly([&](std::istream& is) { return CommonPolicy::ruleset_(is, flags, NO_PROPS); }, text);
#elif PW_FUZZ_KIND == 2
  parseOnly([&](std::istream& is) { return Xcap_Error::xcap_error_(is, flags, NO_PROPS); }, text);
#elif PW_FUZZ_KIND == 3
  parseAndWrite([&](std::istream& is) { return Xcap_Watcherinfo::watcherinfo_(is, flags, NO_PROPS); },
                [](std::ostream& os, const Xcap_Watcherinfo::watcherinfo& w) {
                  Xcap_Watcherinfo::watcherinfo_(os, w, Xcap_Bindings::watcherinfo_namespaces(),
                                                 Xcap_Bindings::ENCODING, Xcap_Bindings::SERIALIZE_FLAGS);
                },
                text);
#elif PW_FUZZ_KIND == 4
  parseAndWrite([&](std::istream& is) { return Xcap_Presence::presence_(is, flags, NO_PROPS); },
                [](std::ostream& os, const Xcap_Presence::presence& p) {
                  Xcap_Presence::presence_(os, p, Xcap_Bindings::presence_namespaces(),
                                           Xcap_Bindings::ENCODING, Xcap_Bindings::SERIALIZE_FLAGS);
                },
                text);
#else
#error "PW_FUZZ_KIND: 0 resource-lists, 1 ruleset, 2 xcap-error, 3 watcherinfo, 4 presence"
#endif
  return 0;
}

// Test helpers: parse a text through a root's stream entry point and name the
// outcome, so that tables of documents can state what each one must give.
#ifndef PW_XCAP_BINDINGS_TESTS_SUPPORT_H
#define PW_XCAP_BINDINGS_TESTS_SUPPORT_H

#include <sstream>
#include <string>

#include "bindings/XcapNamespaces.h"
#include "bindings/XmlHardening.h"

namespace bindings_test
{
  // Parses `xml` with `parse` (a callable taking std::istream&) the way the
  // library does: from a string stream, with the library's parse flags.
  template <typename Parse>
  auto parseText (Parse parse, const std::string& xml) -> decltype (parse (std::declval<std::istream&> ()))
  {
    std::istringstream is (xml);
    return parse (is);
  }

  // "ok", or the exception's kind with what identifies it, such as
  // "expected_attribute uri" or "unexpected_element resource-lists|".
  template <typename Parse>
  std::string outcome (Parse parse, const std::string& xml)
  {
    try
    {
      parseText (parse, xml);
      return "ok";
    }
    catch (const xml_schema::parsing&)
    {
      return "parsing";
    }
    catch (const xml_schema::unexpected_element& e)
    {
      return "unexpected_element " + e.encountered_name () + "|" + e.encountered_namespace ();
    }
    catch (const xml_schema::expected_element& e)
    {
      return "expected_element " + e.name () + "|" + e.namespace_ ();
    }
    catch (const xml_schema::expected_attribute& e)
    {
      return "expected_attribute " + e.name ();
    }
    catch (const xml_schema::unexpected_enumerator& e)
    {
      return "unexpected_enumerator " + e.enumerator ();
    }
    catch (const xml_schema::expected_text_content&)
    {
      return "expected_text_content";
    }
    catch (const xml_schema::duplicate_id& e)
    {
      return "duplicate_id " + e.id ();
    }
    catch (const xsd::cxx::tree::not_derived<char>&)
    {
      return "not_derived";
    }
    catch (const Xcap_Bindings::invalid_number& e)
    {
      return "invalid_number " + e.name () + "=" + e.text ();
    }
    catch (const xml_schema::exception& e)
    {
      return std::string ("other ") + e.what ();
    }
  }

  // Full text of a parsing failure's diagnostics ("" when it parsed).
  template <typename Parse>
  std::string parsingDiagnostics (Parse parse, const std::string& xml)
  {
    try
    {
      parseText (parse, xml);
    }
    catch (const xml_schema::parsing& e)
    {
      std::ostringstream os;
      os << e;
      return os.str ();
    }
    return std::string ();
  }
}

#endif

// Safe DOM parse and strict numbers for the generated XML bindings.
#include "bindings/XmlHardening.h"

#include <charconv>
#include <mutex>
#include <system_error>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <xsd/cxx/tree/text.hxx>
#include <xsd/cxx/xml/dom/bits/error-handler-proxy.hxx>
#include <xsd/cxx/xml/string.hxx>

namespace Xcap_Bindings
{
  void
  initialize ()
  {
    static std::once_flag once;
    std::call_once (once, [] { xercesc::XMLPlatformUtils::Initialize (); });
  }

  invalid_number::
  invalid_number (const std::string& text, const std::string& name)
      : text_ (text), name_ (name)
  {
  }

  invalid_number::
  ~invalid_number () noexcept
  {
  }

  const char* invalid_number::
  what () const noexcept
  {
    return "invalid numeric value";
  }

  void invalid_number::
  print (std::ostream& os) const
  {
    os << "invalid numeric value '" << text_ << "'";
    if (!name_.empty ())
      os << " in attribute '" << name_ << "'";
  }
}

namespace
{
  using namespace xercesc;

  // Entity expansions a document may need; a document of ours needs none but
  // the predefined ones, which do not count.
  const XMLSize_t kEntityExpansionLimit = 100;

  // Sets up one parser with the runtime's options (comments dropped, datatype
  // normalisation, entity references expanded, namespaces, no ignorable
  // whitespace, validation per dont_validate, schema locations from the
  // properties) and with the hardening on top.
  void
  configure (DOMConfiguration* conf,
             const xsd::cxx::xml::properties<char>& prop,
             unsigned long flags,
             SecurityManager* sm,
             DOMErrorHandler* eh)
  {
    conf->setParameter (XMLUni::fgDOMComments, false);
    conf->setParameter (XMLUni::fgDOMDatatypeNormalization, true);
    conf->setParameter (XMLUni::fgDOMEntities, false);
    conf->setParameter (XMLUni::fgDOMNamespaces, true);
    conf->setParameter (XMLUni::fgDOMElementContentWhitespace, false);

    if (flags & xsd::cxx::xml::dom::dont_validate)
    {
      conf->setParameter (XMLUni::fgDOMValidate, false);
      conf->setParameter (XMLUni::fgXercesSchema, false);
      conf->setParameter (XMLUni::fgXercesSchemaFullChecking, false);
    }
    else
    {
      conf->setParameter (XMLUni::fgDOMValidate, true);
      conf->setParameter (XMLUni::fgXercesSchema, true);
      if (!(flags & xsd::cxx::xml::dom::no_muliple_imports))
        conf->setParameter (XMLUni::fgXercesHandleMultipleImports, true);
      conf->setParameter (XMLUni::fgXercesSchemaFullChecking, false);
    }

    conf->setParameter (XMLUni::fgXercesUserAdoptsDOMDocument, true);

    if (!prop.schema_location ().empty ())
    {
      xsd::cxx::xml::string sl (prop.schema_location ());
      const void* v (sl.c_str ());
      conf->setParameter (XMLUni::fgXercesSchemaExternalSchemaLocation,
                          const_cast<void*> (v));
    }

    if (!prop.no_namespace_schema_location ().empty ())
    {
      xsd::cxx::xml::string sl (prop.no_namespace_schema_location ());
      const void* v (sl.c_str ());
      conf->setParameter (XMLUni::fgXercesSchemaExternalNoNameSpaceSchemaLocation,
                          const_cast<void*> (v));
    }

    // Hardening: the document names nothing we fetch. No DOCTYPE at all (so no
    // internal or external entities and no external DTD), no default entity
    // resolution, no schema named by xsi:schemaLocation hints, and a cap on
    // entity expansion should a DOCTYPE ever slip through.
    conf->setParameter (XMLUni::fgDOMDisallowDoctype, true);
    conf->setParameter (XMLUni::fgXercesLoadExternalDTD, false);
    conf->setParameter (XMLUni::fgXercesDisableDefaultEntityResolution, true);
    conf->setParameter (XMLUni::fgXercesLoadSchema, false);
    conf->setParameter (XMLUni::fgXercesSecurityManager, sm);

    conf->setParameter (XMLUni::fgDOMErrorHandler, eh);
  }

  template <typename Parse>
  XSD_DOM_AUTO_PTR<DOMDocument>
  hardened_parse (DOMErrorHandler& eh,
                  const xsd::cxx::xml::properties<char>& prop,
                  unsigned long flags,
                  Parse parse)
  {
    Xcap_Bindings::initialize ();

    const XMLCh ls_id[] = {chLatin_L, chLatin_S, chNull};
    DOMImplementation* impl (DOMImplementationRegistry::getDOMImplementation (ls_id));

    XSD_DOM_AUTO_PTR<DOMLSParser> parser (
      impl->createLSParser (DOMImplementationLS::MODE_SYNCHRONOUS, 0));

    SecurityManager sm;
    sm.setEntityExpansionLimit (kEntityExpansionLimit);

    xsd::cxx::xml::dom::bits::error_handler_proxy<char> ehp (eh);
    configure (parser->getDomConfig (), prop, flags, &sm, &ehp);

    XSD_DOM_AUTO_PTR<DOMDocument> doc;
    bool refused (false);
    try
    {
      doc.reset (parse (*parser));
    }
    catch (const DOMLSException&)
    {
      refused = true;
    }
    catch (const DOMException&)  // e.g. an XML declaration naming an unknown version
    {
      refused = true;
    }
    catch (const XMLException&)
    {
      refused = true;
    }

    if (ehp.failed ())
      doc.reset ();
    else if (refused || !doc)
    {
      // Refused without a report to the error handler: fail like a malformed document
      // instead of letting the parser's exception, or no document, reach the caller.
      xsd::cxx::tree::diagnostics<char> d;
      d.push_back (xsd::cxx::tree::error<char> (xsd::cxx::tree::severity::error, "", 0, 0,
                                                "the XML parser refused the document"));
      throw xsd::cxx::tree::parsing<char> (d);
    }

    return doc;
  }

  bool
  is_xml_space (char c)
  {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  }

  // The text with the XML whitespace around it removed, as [b, e).
  void
  trim (const std::string& s, const char*& b, const char*& e)
  {
    b = s.data ();
    e = b + s.size ();
    while (b != e && is_xml_space (*b))
      ++b;
    while (e != b && is_xml_space (*(e - 1)))
      --e;
  }

  bool
  is_digit (char c)
  {
    return c >= '0' && c <= '9';
  }

  template <typename T>
  T
  parse_integer (const std::string& s, const std::string& name)
  {
    const char* b;
    const char* e;
    trim (s, b, e);

    // xs:long and friends allow one leading '+'; from_chars does not.
    bool plus (false);
    if (b != e && *b == '+')
    {
      plus = true;
      ++b;
    }

    if (b == e || (!is_digit (*b) && (plus || *b != '-')))
      throw Xcap_Bindings::invalid_number (s, name);

    T v (0);

    std::from_chars_result r (std::from_chars (b, e, v));
    if (r.ec != std::errc () || r.ptr != e)
      throw Xcap_Bindings::invalid_number (s, name);

    return v;
  }

  // xs:decimal: an optional sign, digits with at most one '.', at least one digit.
  double
  parse_decimal (const std::string& s, const std::string& name)
  {
    const char* b;
    const char* e;
    trim (s, b, e);

    bool negative (false);
    if (b != e && (*b == '+' || *b == '-'))
    {
      negative = *b == '-';
      ++b;
    }

    bool digit (false), point (false);
    for (const char* p (b); p != e; ++p)
    {
      if (is_digit (*p))
        digit = true;
      else if (*p == '.' && !point)
        point = true;
      else
        throw Xcap_Bindings::invalid_number (s, name);
    }

    if (!digit)
      throw Xcap_Bindings::invalid_number (s, name);

    double v (0);
    std::from_chars_result r (std::from_chars (b, e, v, std::chars_format::fixed));
    if (r.ec != std::errc () || r.ptr != e)
      throw Xcap_Bindings::invalid_number (s, name);

    return negative ? -v : v;
  }

  std::string
  attribute_name (const DOMAttr& a)
  {
    return xsd::cxx::xml::transcode<char> (a.getName ());
  }
}

namespace xsd
{
  namespace cxx
  {
    namespace xml
    {
      namespace dom
      {
        template <>
        XSD_DOM_AUTO_PTR<xercesc::DOMDocument>
        parse<char> (xercesc::InputSource& is,
                     xercesc::DOMErrorHandler& eh,
                     const properties<char>& prop,
                     unsigned long flags)
        {
          return hardened_parse (
            eh, prop, flags,
            [&is] (xercesc::DOMLSParser& p)
            {
              xercesc::Wrapper4InputSource wrap (&is, false);
              return p.parse (&wrap);
            });
        }

        template <>
        XSD_DOM_AUTO_PTR<xercesc::DOMDocument>
        parse<char> (const std::basic_string<char>& uri,
                     xercesc::DOMErrorHandler& eh,
                     const properties<char>& prop,
                     unsigned long flags)
        {
          return hardened_parse (
            eh, prop, flags,
            [&uri] (xercesc::DOMLSParser& p)
            {
              return p.parseURI (xml::string (uri).c_str ());
            });
        }
      }
    }

    namespace tree
    {
      typedef traits<long long, char, schema_type::other> long_traits;
      typedef traits<unsigned long long, char, schema_type::other> ulong_traits;
      typedef traits<double, char, schema_type::decimal> decimal_traits;

      long long long_traits::
      create (const xercesc::DOMElement& e, flags, container*)
      {
        return parse_integer<long long> (text_content<char> (e), std::string ());
      }

      long long long_traits::
      create (const xercesc::DOMAttr& a, flags, container*)
      {
        return parse_integer<long long> (
          xml::transcode<char> (a.getValue ()), attribute_name (a));
      }

      long long long_traits::
      create (const std::string& s, const xercesc::DOMElement*, flags, container*)
      {
        return parse_integer<long long> (s, std::string ());
      }

      unsigned long long ulong_traits::
      create (const xercesc::DOMElement& e, flags, container*)
      {
        return parse_integer<unsigned long long> (text_content<char> (e), std::string ());
      }

      unsigned long long ulong_traits::
      create (const xercesc::DOMAttr& a, flags, container*)
      {
        return parse_integer<unsigned long long> (
          xml::transcode<char> (a.getValue ()), attribute_name (a));
      }

      unsigned long long ulong_traits::
      create (const std::string& s, const xercesc::DOMElement*, flags, container*)
      {
        return parse_integer<unsigned long long> (s, std::string ());
      }

      double decimal_traits::
      create (const xercesc::DOMElement& e, flags, container*)
      {
        return parse_decimal (text_content<char> (e), std::string ());
      }

      double decimal_traits::
      create (const xercesc::DOMAttr& a, flags, container*)
      {
        return parse_decimal (xml::transcode<char> (a.getValue ()), attribute_name (a));
      }

      double decimal_traits::
      create (const std::string& s, const xercesc::DOMElement*, flags, container*)
      {
        return parse_decimal (s, std::string ());
      }
    }
  }
}

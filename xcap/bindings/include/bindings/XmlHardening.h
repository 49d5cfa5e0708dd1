// Safe parsing underneath the generated XML bindings.
//
// The generated xml-schema.hxx includes this header at its end, so every
// generated binding, and every caller of one, sees these declarations before
// the runtime's templates are instantiated:
//  - the DOM parse of the binding runtime is replaced for char documents by one
//    that refuses any DOCTYPE, never loads an external DTD, entity or schema
//    named by the document, and limits entity expansion;
//  - a watcher-information document is written with each element's
//    attributes in declaration order;
//  - the numeric attributes and elements (xs:long, xs:unsignedLong,
//    xs:nonNegativeInteger, xs:decimal) are read strictly: a text that is not
//    a whole number in range fails the parse with `Xcap_Bindings::invalid_number`
//    instead of leaving an undefined value.
//
// Thread rules: the root parse and serialise functions taking a stream
// initialise and terminate Xerces around the call unless their flags carry
// `dont_initialize`; that start/stop count is process-wide and unguarded, so
// such calls, parse and serialise alike, run under the caller's parser lock.
// After `Xcap_Bindings::initialize()` a call with `dont_initialize` may run on
// any thread without that lock: each call builds its own parser.
#ifndef PW_XCAP_BINDINGS_XMLHARDENING_H
#define PW_XCAP_BINDINGS_XMLHARDENING_H

#ifndef XSD_CXX11
#define XSD_CXX11
#endif

#include <string>
#include <ostream>

#include <xercesc/dom/DOMText.hpp>

#include <xsd/cxx/config.hxx>
#include <xsd/cxx/tree/exceptions.hxx>
#include <xsd/cxx/tree/elements.hxx>
#include <xsd/cxx/xml/dom/parsing-source.hxx>
#include <xsd/cxx/xml/dom/serialization-source.hxx>

namespace Xcap_Bindings
{
  // Starts Xerces once for the life of the process (it is never stopped), so
  // that the per-call start/stop of the stream functions only moves a count
  // and `dont_initialize` calls find Xerces ready. Idempotent; any thread.
  void initialize ();

  // Deepest element nesting a parsed document may have, the root element
  // counting as level 1; a deeper one fails the parse with
  // xml_schema::parsing before any object is built.
  const unsigned long MAX_ELEMENT_DEPTH = 256;

  // A numeric attribute or element whose text is not a number of its type.
  // Derives from the runtime's exception, so callers that catch the bindings'
  // exceptions catch it too.
  class invalid_number: public xsd::cxx::tree::exception<char>
  {
  public:
    // text: the offending text; name: the attribute's name, empty for element text.
    invalid_number (const std::string& text, const std::string& name);
    ~invalid_number () noexcept override;

    const std::string& text () const { return text_; }
    const std::string& name () const { return name_; }

    // "invalid numeric value"
    const char* what () const noexcept override;

  protected:
    void print (std::ostream&) const override;

  private:
    std::string text_;
    std::string name_;
  };
}

namespace xsd
{
  namespace cxx
  {
    namespace xml
    {
      namespace dom
      {
        // Hardened replacements of the runtime's DOM parse for char documents
        // (the error_handler overloads forward to these).
        template <>
        XSD_DOM_AUTO_PTR<xercesc::DOMDocument>
        parse<char> (xercesc::InputSource&,
                     xercesc::DOMErrorHandler&,
                     const properties<char>&,
                     unsigned long flags);

        template <>
        XSD_DOM_AUTO_PTR<xercesc::DOMDocument>
        parse<char> (const std::basic_string<char>& uri,
                     xercesc::DOMErrorHandler&,
                     const properties<char>&,
                     unsigned long flags);

        // The runtime's writer, except that a watcher-information document
        // has the attributes of each element written in the order its schema
        // declares them (a DOM keeps attributes sorted by name).
        template <>
        bool
        serialize<char> (xercesc::XMLFormatTarget&,
                         const xercesc::DOMDocument&,
                         const std::basic_string<char>& encoding,
                         xercesc::DOMErrorHandler&,
                         unsigned long flags);
      }
    }
  }

  namespace cxx
  {
    namespace tree
    {
      // Strict readers of the numeric schema types; each throws
      // Xcap_Bindings::invalid_number on a text that is not a number in range.
      template <>
      struct traits<long long, char, schema_type::other>
      {
        typedef long long type;
        static type create (const xercesc::DOMElement&, flags, container*);
        static type create (const xercesc::DOMAttr&, flags, container*);
        static type create (const std::string&, const xercesc::DOMElement*, flags, container*);
      };

      template <>
      struct traits<unsigned long long, char, schema_type::other>
      {
        typedef unsigned long long type;
        static type create (const xercesc::DOMElement&, flags, container*);
        static type create (const xercesc::DOMAttr&, flags, container*);
        static type create (const std::string&, const xercesc::DOMElement*, flags, container*);
      };

      template <>
      struct traits<double, char, schema_type::decimal>
      {
        typedef double type;
        static type create (const xercesc::DOMElement&, flags, container*);
        static type create (const xercesc::DOMAttr&, flags, container*);
        static type create (const std::string&, const xercesc::DOMElement*, flags, container*);
      };
    }
  }
}

#endif // PW_XCAP_BINDINGS_XMLHARDENING_H

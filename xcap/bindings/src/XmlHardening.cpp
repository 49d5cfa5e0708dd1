// Safe DOM parse and strict numbers for the generated XML bindings.
#include "bindings/XmlHardening.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <vector>
#include <mutex>
#include <system_error>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
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

  // Deepest element nesting a document may have (the root element is level 1).
  // The documents of this system nest a few levels (a PIDF note sits at 4, a
  // buddy in a group of groups at about 6); 256 leaves room for any address
  // book that people build by hand, matches the nesting limit of the JSON
  // decoder, and keeps the generated constructors and the library's tree
  // building, which both go down one call per level, far from the bottom of
  // any thread's stack.
  const unsigned long kMaxDepth = Xcap_Bindings::MAX_ELEMENT_DEPTH;

  [[noreturn]] void
  refuse (const std::string& message)
  {
    xsd::cxx::tree::diagnostics<char> d;
    d.push_back (xsd::cxx::tree::error<char> (
      xsd::cxx::tree::severity::error, std::string (), 0, 0, message));
    throw xsd::cxx::tree::parsing<char> (d);
  }

  // The nesting depth of the document's elements, counted without recursion;
  // stops counting as soon as the limit is passed.
  unsigned long
  element_depth (const DOMDocument& doc, unsigned long limit)
  {
    unsigned long depth (0), deepest (0);
    const DOMNode* n (doc.getDocumentElement ());
    while (n != 0)
    {
      if (n->getNodeType () == DOMNode::ELEMENT_NODE)
      {
        ++depth;
        if (depth > deepest)
        {
          deepest = depth;
          if (deepest > limit)
            return deepest;
        }
        if (const DOMNode* c = n->getFirstChild ())
        {
          n = c;
          continue;
        }
        --depth;
      }
      // Next in document order: a sibling, or the sibling of the nearest
      // ancestor that has one (each ancestor climbed out of is closed).
      while (n != 0 && n->getNextSibling () == 0)
      {
        n = n->getParentNode ();
        if (n == 0 || n->getNodeType () != DOMNode::ELEMENT_NODE)
          return deepest;
        --depth;
      }
      if (n != 0)
        n = n->getNextSibling ();
    }
    return deepest;
  }

  // Stops the parse as soon as an element opens deeper than the bound, so that
  // a document nested millions of levels deep is not built first. The parser
  // calls startElement when an element opens and, since the filter shows
  // elements, acceptNode with it when it closes (every element is accepted),
  // so the depth is a count kept as the parse goes: no climb over the parents
  // of each element.
  class DepthFilter: public DOMLSParserFilter
  {
  public:
    explicit DepthFilter (unsigned long limit): limit_ (limit), depth_ (0), exceeded_ (false) {}

    bool exceeded () const { return exceeded_; }

    FilterAction
    startElement (DOMElement*) override
    {
      if (++depth_ > limit_)
      {
        exceeded_ = true;
        return FILTER_INTERRUPT;
      }
      return FILTER_ACCEPT;
    }

    FilterAction
    acceptNode (DOMNode* n) override
    {
      if (n != 0 && n->getNodeType () == DOMNode::ELEMENT_NODE && depth_ > 0)
        --depth_;
      return FILTER_ACCEPT;
    }

    DOMNodeFilter::ShowType getWhatToShow () const override { return DOMNodeFilter::SHOW_ELEMENT; }

  private:
    unsigned long limit_;
    unsigned long depth_;  // elements open now
    bool exceeded_;
  };

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
    DepthFilter depth (kMaxDepth);
    parser->setFilter (&depth);

    // Whatever Xerces throws (a DOMException for an XML version it does not
    // support, say) becomes the bindings' parsing exception: callers catch
    // xml_schema exceptions only.
    XSD_DOM_AUTO_PTR<DOMDocument> doc;
    std::string failure;
    try
    {
      doc.reset (parse (*parser));
    }
    catch (const DOMLSException& e)
    {
      failure = "the document could not be read: " +
        xsd::cxx::xml::transcode<char> (e.getMessage ());
    }
    catch (const DOMException& e)
    {
      failure = "the document could not be read: " +
        xsd::cxx::xml::transcode<char> (e.getMessage ());
    }
    catch (const OutOfMemoryException&)
    {
      failure = "the document could not be read: out of memory";
    }
    catch (const XMLException& e)
    {
      failure = "the document could not be read: " +
        xsd::cxx::xml::transcode<char> (e.getMessage ());
    }

    if (depth.exceeded ())
      refuse ("the document nests its elements deeper than " +
              std::to_string (kMaxDepth) + " levels");

    if (ehp.failed ())
    {
      // The diagnostics are in the caller's handler, which throws them.
      doc.reset ();
      return doc;
    }

    if (doc.get () == 0)
      refuse (failure.empty () ? std::string ("the document could not be read") : failure);

    // Refused before any object is built: the generated constructors, and the
    // callers walking the objects, recurse once per level. (The filter stops
    // the parse early; this walk is the guarantee whatever Xerces reports.)
    if (element_depth (*doc, kMaxDepth) > kMaxDepth)
      refuse ("the document nests its elements deeper than " +
              std::to_string (kMaxDepth) + " levels");

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

  // The attributes of the watcher-information elements in declaration order.
  const char* const kWatcherinfoOrder[] = {"version", "state", 0};
  const char* const kWatcherListOrder[] = {"resource", "package", 0};
  const char* const kWatcherOrder[] = {
    "display-name", "status", "event", "expiration", "id", "inviter-message",
    "inviter-display-name", "duration-subscribed", "xml:lang", 0};

  const char* const*
  attribute_order (const std::string& element)
  {
    if (element == "watcherinfo")
      return kWatcherinfoOrder;
    if (element == "watcher-list")
      return kWatcherListOrder;
    if (element == "watcher")
      return kWatcherOrder;
    return 0;
  }

  bool
  is_name_end (char c)
  {
    return is_xml_space (c) || c == '>' || c == '/';
  }

  // Rewrites the start tags of the elements that attribute_order knows, in
  // text written by the DOM writer (no prefix on these elements, attribute
  // values quoted, "<" escaped everywhere but in markup), with their
  // attributes in declaration order: namespace declarations first as
  // written, then the known attributes, then any other.
  std::string
  reorder_attributes (const std::string& text)
  {
    std::string out;
    out.reserve (text.size ());
    size_t i (0);
    while (i < text.size ())
    {
      size_t lt (text.find ('<', i));
      if (lt == std::string::npos)
      {
        out.append (text, i, std::string::npos);
        break;
      }
      out.append (text, i, lt - i);
      size_t p (lt + 1);
      while (p < text.size () && !is_name_end (text[p]))
        ++p;
      const char* const* order (attribute_order (text.substr (lt + 1, p - lt - 1)));
      if (order == 0)
      {
        out.append (text, lt, p - lt);
        i = p;
        continue;
      }

      // name="value" pairs up to the end of the tag.
      std::vector<std::pair<std::string, std::string> > attrs;
      size_t q (p);
      bool ok (true);
      for (;;)
      {
        while (q < text.size () && is_xml_space (text[q]))
          ++q;
        if (q >= text.size ())
        {
          ok = false;
          break;
        }
        if (text[q] == '>' || text[q] == '/')
          break;
        size_t eq (text.find ('=', q));
        if (eq == std::string::npos || eq + 1 >= text.size () ||
            (text[eq + 1] != '"' && text[eq + 1] != '\''))
        {
          ok = false;
          break;
        }
        size_t close (text.find (text[eq + 1], eq + 2));
        if (close == std::string::npos)
        {
          ok = false;
          break;
        }
        attrs.push_back (std::make_pair (text.substr (q, eq - q),
                                         text.substr (q, close + 1 - q)));
        q = close + 1;
      }
      if (!ok)
      {
        out.append (text, lt, std::string::npos);
        break;
      }

      std::vector<std::string> written;
      for (size_t a (0); a < attrs.size (); ++a)
        if (attrs[a].first == "xmlns" || attrs[a].first.compare (0, 6, "xmlns:") == 0)
          written.push_back (attrs[a].second);
      for (const char* const* n (order); *n != 0; ++n)
        for (size_t a (0); a < attrs.size (); ++a)
          if (attrs[a].first == *n)
            written.push_back (attrs[a].second);
      for (size_t a (0); a < attrs.size (); ++a)
      {
        const std::string& name (attrs[a].first);
        bool known (name == "xmlns" || name.compare (0, 6, "xmlns:") == 0);
        for (const char* const* n (order); !known && *n != 0; ++n)
          known = name == *n;
        if (!known)
          written.push_back (attrs[a].second);
      }

      out.append (text, lt, p - lt);
      for (size_t w (0); w < written.size (); ++w)
        out += " " + written[w];
      i = q;
    }
    return out;
  }

  bool
  is_utf8 (const std::string& encoding)
  {
    std::string e;
    for (char c : encoding)
      e += static_cast<char> (std::toupper (static_cast<unsigned char> (c)));
    return e == "UTF-8" || e == "UTF8";
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
        bool
        serialize<char> (xercesc::XMLFormatTarget& target,
                         const xercesc::DOMDocument& doc,
                         const std::basic_string<char>& encoding,
                         xercesc::DOMErrorHandler& eh,
                         unsigned long flags)
        {
          using namespace xercesc;

          const XMLCh ls[] = {chLatin_L, chLatin_S, chNull};
          DOMImplementation* impl (DOMImplementationRegistry::getDOMImplementation (ls));

          bits::error_handler_proxy<char> ehp (eh);
          XSD_DOM_AUTO_PTR<DOMLSSerializer> writer (impl->createLSSerializer ());
          DOMConfiguration* conf (writer->getDomConfig ());
          conf->setParameter (XMLUni::fgDOMErrorHandler, &ehp);

          if (conf->canSetParameter (XMLUni::fgDOMWRTDiscardDefaultContent, true))
            conf->setParameter (XMLUni::fgDOMWRTDiscardDefaultContent, true);

          if (!(flags & dont_pretty_print) &&
              conf->canSetParameter (XMLUni::fgDOMWRTFormatPrettyPrint, true))
          {
            conf->setParameter (XMLUni::fgDOMWRTFormatPrettyPrint, true);
            if (conf->canSetParameter (XMLUni::fgDOMWRTXercesPrettyPrint, true))
              conf->setParameter (XMLUni::fgDOMWRTXercesPrettyPrint, false);
          }

          if ((flags & no_xml_declaration) &&
              conf->canSetParameter (XMLUni::fgDOMXMLDeclaration, false))
            conf->setParameter (XMLUni::fgDOMXMLDeclaration, false);

          const DOMElement* root (doc.getDocumentElement ());
          const bool reorder (
            root != 0 && is_utf8 (encoding) && root->getNamespaceURI () != 0 &&
            transcode<char> (root->getNamespaceURI ()) == "urn:ietf:params:xml:ns:watcherinfo");

          MemBufFormatTarget buffer;
          XSD_DOM_AUTO_PTR<DOMLSOutput> out (impl->createLSOutput ());
          out->setEncoding (xml::string (encoding).c_str ());
          out->setByteStream (reorder ? static_cast<XMLFormatTarget*> (&buffer) : &target);

          // What Xerces throws while writing surfaces as the bindings' own
          // serialization exception, as a parse's does as parsing.
          std::string failure;
          bool written (false);
          try
          {
            written = writer->write (&doc, out.get ());
          }
          catch (const DOMException& e)
          {
            failure = transcode<char> (e.getMessage ());
          }
          catch (const OutOfMemoryException&)
          {
            failure = "out of memory";
          }
          catch (const XMLException& e)
          {
            failure = transcode<char> (e.getMessage ());
          }
          if (!failure.empty ())
          {
            tree::diagnostics<char> d;
            d.push_back (tree::error<char> (tree::severity::error, std::string (), 0, 0,
                                            "the document could not be written: " + failure));
            throw tree::serialization<char> (d);
          }

          if (!written || ehp.failed ())
            return false;

          if (reorder)
          {
            std::string text (reinterpret_cast<const char*> (buffer.getRawBuffer ()),
                              buffer.getLen ());
            text = reorder_attributes (text);
            target.writeChars (reinterpret_cast<const XMLByte*> (text.data ()),
                               static_cast<XMLSize_t> (text.size ()), 0);
            target.flush ();
          }
          return true;
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

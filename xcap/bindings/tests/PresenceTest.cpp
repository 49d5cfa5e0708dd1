#include <gtest/gtest.h>

#include "bindings/pidf.hxx"
#include "BindingsTestSupport.h"

using namespace Xcap_Presence;
using bindings_test::outcome;
using bindings_test::parseText;

namespace
{
  auto parsePresence = [] (std::istream& is)
  {
    return presence_ (is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties ());
  };

  std::string serialize (const presence& p)
  {
    std::ostringstream os;
    presence_ (os, p, Xcap_Bindings::presence_namespaces (), Xcap_Bindings::ENCODING,
               Xcap_Bindings::SERIALIZE_FLAGS);
    return os.str ();
  }

  const std::string PIDF = "urn:ietf:params:xml:ns:pidf";

  std::string doc (const std::string& body, const std::string& attrs = "entity='pres:me@corp.example.com'")
  {
    return "<presence xmlns='" + PIDF + "' xmlns:dm='urn:ietf:params:xml:ns:pidf:data-model'"
           " xmlns:c='urn:ietf:params:xml:ns:pidf:cipid' " + attrs + ">" + body + "</presence>";
  }

  template <typename Opt>
  std::string opt (const Opt& o)
  {
    return o.present () ? std::string (*o) : "-";
  }

  std::string describeNotes (const presence::note_sequence& notes)
  {
    std::string s;
    for (const note& n : notes)
      s += "[" + std::string (n) + "|" + opt (n.lang ()) + "]";
    return s;
  }

  // Every value of a document, as one text to compare.
  std::string describe (const presence& p)
  {
    std::ostringstream os;
    os << "entity=" << p.entity () << " agent=" << opt (p.agent ());
    for (const tuple& t : p.tuple ())
    {
      os << "\n tuple " << t.id () << " basic=";
      if (t.status ().basic ())
        os << *t.status ().basic () << "(" << int (basic::value (*t.status ().basic ())) << ")";
      else
        os << "-";
      os << " extend=" << opt (t.status ().extend ());
      if (t.contact ())
      {
        os << " contact=" << std::string (*t.contact ());
        if (t.contact ()->priority ())
          os << " priority=" << double (*t.contact ()->priority ());
      }
      os << " notes=" << describeNotes (t.note ());
      if (t.timestamp ())
        os << " ts=" << t.timestamp ()->year () << "-" << t.timestamp ()->month () << "-"
           << t.timestamp ()->day () << "T" << t.timestamp ()->hours () << ":" << t.timestamp ()->minutes ()
           << ":" << t.timestamp ()->seconds ();
    }
    os << "\n notes=" << describeNotes (p.note ());
    if (p.person ())
    {
      const Xcap_DataModel::person& r (*p.person ());
      os << "\n person " << r.id () << " card=" << opt (r.card ()) << " dn=" << opt (r.display_name ())
         << " sig=" << opt (r.signature ()) << " home=" << opt (r.homepage ()) << " icon=" << opt (r.icon ())
         << " map=" << opt (r.map ()) << " sound=" << opt (r.sound ()) << " notes=";
      for (const auto& n : r.note ())
        os << "[" << std::string (n) << "|" << opt (n.lang ()) << "]";
      if (r.timestamp ())
        os << " ts=" << r.timestamp ()->year ();
    }
    return os.str ();
  }

  presence sample ()
  {
    presence p ("pres:zhangwei@corp.example.com");
    p.agent (u8"Postwing 1.0 张伟的电脑");

    for (const char* id : {"t1", "t2"})
    {
      status s;
      s.basic (basic (basic::open));
      tuple t (s, id);
      contact c ("sip:zhangwei@corp.example.com");
      c.priority (qvalue (0.8));
      t.contact (c);
      note n (u8"在开会");
      n.lang (namespace_::lang ("zh-CN"));
      t.note ().push_back (n);
      t.note ().push_back (note ("back at 3"));
      t.timestamp (xml_schema::date_time (2024, 5, 6, 7, 8, 9.5));
      p.tuple ().push_back (t);
    }
    status busy;
    busy.extend (extend (u8"忙碌"));
    p.tuple ().push_back (tuple (busy, "t3"));
    p.note ().push_back (note (u8"出差中"));

    // Set in an order unlike the document's.
    Xcap_DataModel::person r ("p1");
    r.sound ("http://corp.example.com/s.wav");
    r.timestamp (Xcap_DataModel::Urn_ietf_params_xml_ns_pidf_data_model_Timestamp (
      xml_schema::date_time (2024, 1, 2, 3, 4, 5)));
    Xcap_DataModel::Urn_ietf_params_xml_ns_pidf_data_model_Note pn (u8"个人备注");
    pn.lang (namespace_::lang ("zh"));
    r.note ().push_back (pn);
    r.note ().push_back (Xcap_DataModel::Urn_ietf_params_xml_ns_pidf_data_model_Note ("plain"));
    r.map ("http://corp.example.com/map");
    r.icon ("http://corp.example.com/zw.png");
    r.homepage ("http://corp.example.com/~zw");
    r.signature (u8"今天很忙");
    r.display_name (u8"张伟");
    r.card ("http://corp.example.com/zw.vcf");
    p.person (r);
    return p;
  }
}

TEST (Presence, RoundTripKeepsEveryValue)
{
  const presence p = sample ();
  const std::string text = serialize (p);

  // The root declares the default namespace and the two prefixes.
  EXPECT_NE (std::string::npos, text.find ("xmlns=\"urn:ietf:params:xml:ns:pidf\"")) << text;
  EXPECT_NE (std::string::npos, text.find ("xmlns:dm=\"urn:ietf:params:xml:ns:pidf:data-model\"")) << text;
  EXPECT_NE (std::string::npos, text.find ("xmlns:c=\"urn:ietf:params:xml:ns:pidf:cipid\"")) << text;

  // Person members come out in the schema's order whatever order they were set in.
  const char* order[] = {"<c:card>", "<c:display-name>", "<c:signature>", "<c:homepage>", "<c:icon>",
                         "<c:map>", "<c:sound>", "<dm:note", "<dm:timestamp>"};
  size_t at = 0;
  for (const char* tag : order)
  {
    const size_t found = text.find (tag, at);
    ASSERT_NE (std::string::npos, found) << tag << "\n" << text;
    at = found;
  }

  std::unique_ptr<presence> back (parseText (parsePresence, text));
  EXPECT_EQ (describe (p), describe (*back));
  EXPECT_EQ (
    u8"entity=pres:zhangwei@corp.example.com agent=Postwing 1.0 张伟的电脑"
    u8"\n tuple t1 basic=open(0) extend=- contact=sip:zhangwei@corp.example.com priority=0.8"
    u8" notes=[在开会|zh-CN][back at 3|-] ts=2024-5-6T7:8:9.5"
    u8"\n tuple t2 basic=open(0) extend=- contact=sip:zhangwei@corp.example.com priority=0.8"
    u8" notes=[在开会|zh-CN][back at 3|-] ts=2024-5-6T7:8:9.5"
    u8"\n tuple t3 basic=- extend=忙碌 notes="
    u8"\n notes=[出差中|-]"
    u8"\n person p1 card=http://corp.example.com/zw.vcf dn=张伟 sig=今天很忙 home=http://corp.example.com/~zw"
    u8" icon=http://corp.example.com/zw.png map=http://corp.example.com/map sound=http://corp.example.com/s.wav"
    u8" notes=[个人备注|zh][plain|-] ts=2024",
    describe (*back));
}

TEST (Presence, ParseTable)
{
  struct Case
  {
    const char* what;
    std::string xml;
    std::string expected;
    std::string described;  // describe () of the result when it parses, if given
  };
  const std::string DM = "urn:ietf:params:xml:ns:pidf:data-model";
  const std::string open = "<status><basic>open</basic></status>";
  const Case cases[] = {
    {"person before a note before a tuple, all kept",
     doc ("<dm:person id='p'/><note>n</note><tuple id='t'>" + open + "</tuple>"), "ok",
     "entity=pres:me@corp.example.com agent=-\n tuple t basic=open(0) extend=- notes=\n notes=[n|-]"
     "\n person p card=- dn=- sig=- home=- icon=- map=- sound=- notes="},
    {"second person ends the content",
     doc ("<dm:person id='p'/><dm:person id='q'/><note>late</note>"), "ok",
     "entity=pres:me@corp.example.com agent=-\n notes=\n person p card=- dn=- sig=- home=- icon=- map=- sound=- notes="},
    {"extend without basic", doc ("<tuple id='t'><status><extend>away</extend></status></tuple>"), "ok",
     "entity=pres:me@corp.example.com agent=-\n tuple t basic=- extend=away notes=\n notes="},
    {"third namespace in person ends it",
     doc ("<dm:person id='p'><c:card>http://c</c:card><r:activities xmlns:r='urn:rpid'/><c:icon>http://i</c:icon>"
          "</dm:person>"), "ok",
     "entity=pres:me@corp.example.com agent=-\n notes=\n person p card=http://c dn=- sig=- home=- icon=- map=- sound=- notes="},
    {"second icon ends person",
     doc ("<dm:person id='p'><c:icon>http://a</c:icon><c:icon>http://b</c:icon><c:map>http://m</c:map></dm:person>"),
     "ok",
     "entity=pres:me@corp.example.com agent=-\n notes=\n person p card=- dn=- sig=- home=- icon=http://a map=- sound=- notes="},
    {"cipid display-name language dropped",
     doc (u8"<dm:person id='p'><c:display-name xml:lang='zh'>张伟</c:display-name></dm:person>"), "ok",
     u8"entity=pres:me@corp.example.com agent=-\n notes=\n person p card=- dn=张伟 sig=- home=- icon=- map=- sound=- notes="},
    {"basic not a literal", doc ("<tuple id='t'><status><basic>Open</basic></status></tuple>"),
     "unexpected_enumerator Open", ""},
    {"tuple without status", doc ("<tuple id='t'/>"), "expected_element status|" + PIDF, ""},
    {"foreign first child of tuple",
     doc ("<tuple id='t'><x:y xmlns:x='urn:other'/>" + open + "</tuple>"), "expected_element status|" + PIDF, ""},
    {"tuple without id", doc ("<tuple>" + open + "</tuple>"), "expected_attribute id", ""},
    {"presence without entity", doc ("", ""), "expected_attribute entity", ""},
    {"person without id", doc ("<dm:person/>"), "expected_attribute id", ""},
    {"tuple and person share an id", doc ("<tuple id='a'>" + open + "</tuple><dm:person id='a'/>"),
     "duplicate_id a", ""},
    {"priority not a number",
     doc ("<tuple id='t'>" + open + "<contact priority='x'>sip:a</contact></tuple>"), "invalid_number priority=x", ""},
    {"priority in exponent form",
     doc ("<tuple id='t'>" + open + "<contact priority='1e-1'>sip:a</contact></tuple>"),
     "invalid_number priority=1e-1", ""},
    {"person as the root", "<dm:person xmlns:dm='" + DM + "' id='p'/>", "unexpected_element person|" + DM, ""},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.what);
    EXPECT_EQ (c.expected, outcome (parsePresence, c.xml));
    if (c.expected == "ok" && !c.described.empty ())
    {
      std::unique_ptr<presence> p (parseText (parsePresence, c.xml));
      EXPECT_EQ (c.described, describe (*p));
    }
  }
}

#include <gtest/gtest.h>

#include "bindings/watcherinfo.hxx"
#include "BindingsTestSupport.h"

using namespace Xcap_Watcherinfo;
using bindings_test::outcome;
using bindings_test::parseText;

namespace
{
  auto parseInfo = [] (std::istream& is)
  {
    return watcherinfo_ (is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties ());
  };

  std::string serialize (const watcherinfo& w)
  {
    std::ostringstream os;
    watcherinfo_ (os, w, Xcap_Bindings::watcherinfo_namespaces (), Xcap_Bindings::ENCODING,
                  Xcap_Bindings::SERIALIZE_FLAGS);
    return os.str ();
  }

  std::string doc (const std::string& body, const std::string& rootAttrs = "version='0' state='full'")
  {
    return "<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' " + rootAttrs + ">" + body +
           "</watcherinfo>";
  }

  std::string list (const std::string& watchers)
  {
    return "<watcher-list resource='sip:me@corp.example.com' package='presence'>" + watchers +
           "</watcher-list>";
  }

  // Every value of a document, as one text to compare.
  std::string describe (const watcherinfo& w)
  {
    std::ostringstream os;
    os << "v=" << w.version () << " state=" << w.state () << "(" << int (state::value (w.state ())) << ")";
    for (const watcher_list& l : w.watcher_list ())
    {
      os << "\n list " << l.resource () << " " << l.package ();
      for (const watcher& x : l.watcher ())
      {
        os << "\n  " << std::string (x) << " id=" << x.id () << " status=" << x.status () << "("
           << int (status::value (x.status ())) << ") event=" << x.event () << "("
           << int (event::value (x.event ())) << ")";
        if (x.display_name ())
          os << " dn=" << *x.display_name ();
        if (x.expiration ())
          os << " exp=" << *x.expiration ();
        if (x.inviter_message ())
          os << " im=" << *x.inviter_message ();
        if (x.inviter_display_name ())
          os << " idn=" << *x.inviter_display_name ();
        if (x.duration_subscribed ())
          os << " dur=" << *x.duration_subscribed ();
        if (x.lang ())
          os << " lang=" << std::string (*x.lang ());
      }
    }
    return os.str ();
  }
}

// Built in memory as the watcher-information document class builds it, written,
// and read back with every value kept.
TEST (Watcherinfo, RoundTripKeepsEveryValue)
{
  watcherinfo w (0, state ("full"));
  watcher_list l ("sip:zhangwei@corp.example.com", "presence.winfo");

  watcher full ("sip:lina@corp.example.com", status (std::string ("pending")),
                event (std::string ("subscribe")), "w1");
  full.display_name (u8"李娜");
  full.expiration (4294967296ULL + 5);
  full.inviter_message (u8"你好，加我为联系人吧");
  full.inviter_display_name (u8"张伟");
  full.duration_subscribed (3600);
  full.lang (namespace_::lang ("zh-CN"));
  l.watcher ().push_back (full);
  l.watcher ().push_back (watcher ("sip:wangfang@corp.example.com", status (std::string ("active")),
                                   event (std::string ("approved")), "w2"));
  w.watcher_list ().push_back (l);

  const std::string text = serialize (w);
  EXPECT_NE (std::string::npos, text.find ("<watcherinfo xmlns=\"urn:ietf:params:xml:ns:watcherinfo\""));
  EXPECT_NE (std::string::npos, text.find (u8"李娜"));

  // Each element's attributes come out in the order of its declaration.
  EXPECT_NE (std::string::npos,
             text.find ("<watcherinfo xmlns=\"urn:ietf:params:xml:ns:watcherinfo\" version=\"0\" state=\"full\">"))
    << text;
  EXPECT_NE (std::string::npos,
             text.find ("<watcher-list resource=\"sip:zhangwei@corp.example.com\" package=\"presence.winfo\">"))
    << text;
  EXPECT_NE (std::string::npos,
             text.find (u8"<watcher display-name=\"李娜\" status=\"pending\" event=\"subscribe\""
                        u8" expiration=\"4294967301\" id=\"w1\" inviter-message=\"你好，加我为联系人吧\""
                        u8" inviter-display-name=\"张伟\" duration-subscribed=\"3600\" xml:lang=\"zh-CN\">"))
    << text;
  EXPECT_NE (std::string::npos,
             text.find ("<watcher status=\"active\" event=\"approved\" id=\"w2\">sip:wangfang@corp.example.com</watcher>"))
    << text;

  std::unique_ptr<watcherinfo> back (parseText (parseInfo, text));
  EXPECT_EQ (describe (w), describe (*back));
  EXPECT_EQ (
    u8"v=0 state=full(0)\n list sip:zhangwei@corp.example.com presence.winfo"
    u8"\n  sip:lina@corp.example.com id=w1 status=pending(0) event=subscribe(0) dn=李娜 exp=4294967301"
    u8" im=你好，加我为联系人吧 idn=张伟 dur=3600 lang=zh-CN"
    u8"\n  sip:wangfang@corp.example.com id=w2 status=active(1) event=approved(1)",
    describe (*back));
}

// A status text outside the literals is written as it stands; reading it fails.
TEST (Watcherinfo, BogusStatusIsWrittenButNotRead)
{
  watcherinfo w (1, state ("partial"));
  watcher_list l ("sip:me@corp.example.com", "presence");
  l.watcher ().push_back (watcher ("sip:x@corp.example.com", status (std::string ("bogus")),
                                   event (std::string ("timeout")), "w"));
  w.watcher_list ().push_back (l);
  const std::string text = serialize (w);
  EXPECT_NE (std::string::npos, text.find ("status=\"bogus\""));
  EXPECT_EQ ("unexpected_enumerator bogus", outcome (parseInfo, text));
}

TEST (Watcherinfo, ParseTable)
{
  struct Case
  {
    const char* what;
    std::string xml;
    std::string expected;
  };
  const std::string w = "<watcher id='w' status='terminated' event='noresource'>sip:a@b</watcher>";
  const Case cases[] = {
    {"minimal", doc (list (w)), "ok"},
    {"every event literal",
     doc (list ("<watcher id='1' status='waiting' event='deactivated'>a</watcher>"
                "<watcher id='2' status='active' event='probation'>b</watcher>"
                "<watcher id='3' status='active' event='rejected'>c</watcher>"
                "<watcher id='4' status='active' event='giveup'>d</watcher>")), "ok"},
    {"status case differs", doc (list ("<watcher id='w' status='Active' event='approved'>a</watcher>")),
     "unexpected_enumerator Active"},
    {"string enumeration is not collapsed", doc ("", "version='0' state=' full '"),
     "unexpected_enumerator  full "},
    {"event and id missing", doc (list ("<watcher status='active'>a</watcher>")), "expected_attribute event"},
    {"status, event and id missing", doc (list ("<watcher>a</watcher>")), "expected_attribute status"},
    {"version missing before state", doc ("", ""), "expected_attribute version"},
    {"state missing", doc ("", "version='3'"), "expected_attribute state"},
    {"resource missing", doc ("<watcher-list package='p'/>"), "expected_attribute resource"},
    {"version not a number", doc ("", "version='x' state='full'"), "invalid_number version=x"},
    {"version negative", doc ("", "version='-1' state='full'"), "invalid_number version=-1"},
    {"expiration not a number",
     doc (list ("<watcher id='w' status='active' event='approved' expiration='soon'>a</watcher>")),
     "invalid_number expiration=soon"},
    {"duration beyond 64 bits",
     doc (list ("<watcher id='w' status='active' event='approved' duration-subscribed='18446744073709551616'>"
                "a</watcher>")),
     "invalid_number duration-subscribed=18446744073709551616"},
    {"wrong root", "<watcher-list xmlns='urn:ietf:params:xml:ns:watcherinfo'/>",
     "unexpected_element watcher-list|urn:ietf:params:xml:ns:watcherinfo"},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.what);
    EXPECT_EQ (c.expected, outcome (parseInfo, c.xml));
  }

  std::unique_ptr<watcherinfo> big (parseText (parseInfo, doc (
    list ("<watcher id='w' status='active' event='approved' expiration=' 18446744073709551615 '>a</watcher>"),
    "version=' 42 ' state='partial'")));
  EXPECT_EQ (42u, big->version ());
  EXPECT_EQ (18446744073709551615ULL, *big->watcher_list ()[0].watcher ()[0].expiration ());
}

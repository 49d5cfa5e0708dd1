// What every root entry point must refuse, and parses on several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <unistd.h>
#include <vector>

#include "bindings/common-policy.hxx"
#include "bindings/pidf.hxx"
#include "bindings/resource-lists.hxx"
#include "bindings/watcherinfo.hxx"
#include "bindings/xcap-error.hxx"
#include "BindingsTestSupport.h"

using bindings_test::outcome;
using bindings_test::parseText;
using bindings_test::parsingDiagnostics;

namespace
{
  const xml_schema::properties NO_PROPS;

  struct Root
  {
    const char* name;
    std::function<void (std::istream&)> parse;
    std::string valid;  // a small valid document, "%s" marks where a body may go
  };

  std::vector<Root> roots ()
  {
    return {
      {"resource-lists",
       [] (std::istream& is) { Xcap_ResourceLists::resource_lists_ (is, Xcap_Bindings::PARSE_FLAGS, NO_PROPS); },
       "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'><list name='%s'/></resource-lists>"},
      {"ruleset",
       [] (std::istream& is) { CommonPolicy::ruleset_ (is, Xcap_Bindings::PARSE_FLAGS, NO_PROPS); },
       "<ruleset xmlns='urn:ietf:params:xml:ns:common-policy'><rule id='r%s'/></ruleset>"},
      {"xcap-error",
       [] (std::istream& is) { Xcap_Error::xcap_error_ (is, Xcap_Bindings::PARSE_FLAGS, NO_PROPS); },
       "<xcap-error xmlns='urn:ietf:params:xml:ns:xcap-error'><not-utf-8 phrase='%s'/></xcap-error>"},
      {"watcherinfo",
       [] (std::istream& is) { Xcap_Watcherinfo::watcherinfo_ (is, Xcap_Bindings::PARSE_FLAGS, NO_PROPS); },
       "<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='1' state='full'>"
       "<watcher-list resource='sip:a' package='%s'/></watcherinfo>"},
      {"presence",
       [] (std::istream& is) { Xcap_Presence::presence_ (is, Xcap_Bindings::PARSE_FLAGS, NO_PROPS); },
       "<presence xmlns='urn:ietf:params:xml:ns:pidf' entity='pres:a' agent='%s'/>"},
    };
  }

  std::string fill (const std::string& tmpl, const std::string& body)
  {
    std::string s (tmpl);
    s.replace (s.find ("%s"), 2, body);
    return s;
  }

  // A local file holding a secret, removed at the end of the test.
  struct SecretFile
  {
    std::string path;
    SecretFile ()
    {
      char name[] = "/tmp/pw_bindings_secretXXXXXX";
      int fd = mkstemp (name);
      EXPECT_GE (fd, 0);
      path = name;
      const char secret[] = "TOPSECRET42";
      EXPECT_EQ (ssize_t (sizeof secret - 1), write (fd, secret, sizeof secret - 1));
      close (fd);
    }
    ~SecretFile () { std::remove (path.c_str ()); }
  };
}

// No document may make the parser read a file or fetch anything: every DOCTYPE
// is refused before an entity or external DTD is looked at.
TEST (Safety, DoctypeAndExternalEntitiesAreRefusedByEveryRoot)
{
  SecretFile secret;
  for (const Root& r : roots ())
  {
    SCOPED_TRACE (r.name);
    const std::string valid = fill (r.valid, "x");
    ASSERT_EQ ("ok", outcome (r.parse, valid));

    const std::string xxe = "<!DOCTYPE d [<!ENTITY e SYSTEM \"file://" + secret.path + "\">]>\n" +
                            fill (r.valid, "&e;");
    EXPECT_EQ ("parsing", outcome (r.parse, xxe));
    EXPECT_EQ (std::string::npos, parsingDiagnostics (r.parse, xxe).find ("TOPSECRET42"));

    // An external DTD on a port nobody listens on, and a parameter entity.
    EXPECT_EQ ("parsing", outcome (r.parse, "<!DOCTYPE d SYSTEM \"http://127.0.0.1:9/d.dtd\">\n" + valid));
    EXPECT_EQ ("parsing", outcome (r.parse, "<!DOCTYPE d [<!ENTITY % p SYSTEM \"file://" + secret.path +
                                                "\"> %p;]>\n" + valid));

    // Entity expansion ("billion laughs") fails at once rather than growing.
    std::string bomb = "<!DOCTYPE d [<!ENTITY a0 \"laugh\">";
    for (int i = 1; i < 7; ++i)
      bomb += "<!ENTITY a" + std::to_string (i) + " \"" + std::string () +
              "&a" + std::to_string (i - 1) + ";&a" + std::to_string (i - 1) + ";&a" + std::to_string (i - 1) +
              ";&a" + std::to_string (i - 1) + ";&a" + std::to_string (i - 1) + ";&a" +
              std::to_string (i - 1) + ";&a" + std::to_string (i - 1) + ";&a" + std::to_string (i - 1) +
              ";&a" + std::to_string (i - 1) + ";&a" + std::to_string (i - 1) + ";\">";
    bomb += "]>\n" + fill (r.valid, "&a6;");
    EXPECT_EQ ("parsing", outcome (r.parse, bomb));

    // Malformed XML and a root of another document.
    EXPECT_EQ ("parsing", outcome (r.parse, valid.substr (0, valid.size () - 3)));
    EXPECT_EQ ("parsing", outcome (r.parse, "not xml at all"));
    EXPECT_EQ ("unexpected_element other|urn:other", outcome (r.parse, "<other xmlns='urn:other'/>"));

    // The predefined and character references still work.
    EXPECT_EQ ("ok", outcome (r.parse, fill (r.valid, "a&amp;b&#x5F20;&lt;")));
  }
}

// An XML declaration the parser refuses (an unknown version, a broken declaration) fails the
// parse like any malformed document; the parser's own exceptions never reach the caller.
// (Found by fuzz/bindings_fuzz.cpp.)
TEST (Safety, RefusedXmlDeclarationFailsTheParse)
{
  for (const Root& r : roots ())
  {
    SCOPED_TRACE (r.name);
    const std::string valid = fill (r.valid, "x");
    EXPECT_EQ ("parsing", outcome (r.parse, "<?xml version=\"1.5\"?>" + valid));
    EXPECT_EQ ("parsing", outcome (r.parse, "<?xml version=\"1.>\n" + valid));
    EXPECT_EQ ("parsing", outcome (r.parse, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"maybe\"?>" + valid));
    EXPECT_EQ ("ok", outcome (r.parse, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + valid));
  }
}

// The file entry points go through the same parser.
TEST (Safety, FileEntryPointRefusesExternalEntities)
{
  SecretFile secret;
  char name[] = "/tmp/pw_bindings_docXXXXXX";
  int fd = mkstemp (name);
  ASSERT_GE (fd, 0);
  close (fd);
  {
    std::ofstream out (name);
    out << "<!DOCTYPE d [<!ENTITY e SYSTEM \"file://" << secret.path << "\">]>\n"
        << "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'><list name='&e;'/></resource-lists>";
  }
  EXPECT_THROW (Xcap_ResourceLists::resource_lists_ (std::string (name), Xcap_Bindings::PARSE_FLAGS),
                xml_schema::parsing);
  std::remove (name);
}

// A number attribute that is not a number fails the parse in every schema that has one.
TEST (Safety, BadNumbersFail)
{
  struct Case
  {
    const char* root;
    std::string xml;
    std::string expected;
  };
  const Case cases[] = {
    {"resource-lists", "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'><list authLevel='1.5'/>"
                       "</resource-lists>", "invalid_number authLevel=1.5"},
    {"watcherinfo", "<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='' state='full'/>",
     "invalid_number version="},
    {"presence", "<presence xmlns='urn:ietf:params:xml:ns:pidf' entity='pres:a'><tuple id='t'><status/>"
                 "<contact priority='.'>sip:a</contact></tuple></presence>", "invalid_number priority=."},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.root);
    for (const Root& r : roots ())
    {
      if (c.root == std::string (r.name))
      {
        EXPECT_EQ (c.expected, outcome (r.parse, c.xml));
      }
    }
  }
}

// Parses and serialises on several threads: those that start and stop Xerces
// per call share one lock (as the library's parser lock does); those that pass
// dont_initialize after the process-wide start need none.
TEST (Safety, ConcurrentParsesDoNotDisturbEachOther)
{
  Xcap_Bindings::initialize ();
  std::mutex parserLock;
  std::atomic<int> failures (0);

  auto work = [&] (int thread, bool locked)
  {
    const xml_schema::flags parseFlags =
      locked ? Xcap_Bindings::PARSE_FLAGS : Xcap_Bindings::PARSE_FLAGS | xml_schema::flags::dont_initialize;
    const xml_schema::flags writeFlags =
      locked ? Xcap_Bindings::SERIALIZE_FLAGS : xml_schema::flags (xml_schema::flags::dont_initialize);
    for (int i = 0; i < 40; ++i)
    {
      const std::string name = u8"组" + std::to_string (thread) + "-" + std::to_string (i);
      std::istringstream in ("<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'><list name='" + name +
                             "' authLevel='" + std::to_string (i) + "'/></resource-lists>");
      Xcap_Presence::presence p ("pres:" + name);
      std::ostringstream out;

      std::unique_lock<std::mutex> guard (parserLock, std::defer_lock);
      if (locked)
        guard.lock ();
      std::unique_ptr<Xcap_ResourceLists::resource_lists> r (
        Xcap_ResourceLists::resource_lists_ (in, parseFlags, NO_PROPS));
      Xcap_Presence::presence_ (out, p, Xcap_Bindings::presence_namespaces (), "UTF-8", writeFlags);
      std::istringstream back (out.str ());
      std::unique_ptr<Xcap_Presence::presence> q (Xcap_Presence::presence_ (back, parseFlags, NO_PROPS));
      if (locked)
        guard.unlock ();

      if (*r->list ()[0].name () != name || *r->list ()[0].authLevel () != i ||
          std::string (q->entity ()) != "pres:" + name)
        ++failures;
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back (work, t, t % 2 == 0);
  for (std::thread& t : threads)
    t.join ();
  EXPECT_EQ (0, failures.load ());
}

// Nesting depth is bounded for every root: a document nested exactly as deep as the bound
// parses (the unknown elements are skipped), one level more fails as a parsing error before
// any object is built, and so does one nested 12,500 levels deep; nothing but the bindings'
// own exceptions comes out, whatever Xerces itself refuses (an XML version it does not know).
TEST (Safety, DeepNestingAndUnknownVersionsFailAsParsing)
{
  struct Shell
  {
    const char* name;
    std::string open;  // the root element, with a first member where one is required
    std::string close;
  };
  const Shell shells[] = {
    {"resource-lists", "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'>", "</resource-lists>"},
    {"ruleset", "<ruleset xmlns='urn:ietf:params:xml:ns:common-policy'>", "</ruleset>"},
    {"xcap-error", "<xcap-error xmlns='urn:ietf:params:xml:ns:xcap-error'><not-utf-8/>", "</xcap-error>"},
    {"watcherinfo", "<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='1' state='full'>",
     "</watcherinfo>"},
    {"presence", "<presence xmlns='urn:ietf:params:xml:ns:pidf' entity='pres:a'>", "</presence>"},
  };
  std::vector<Root> rs (roots ());
  const int bound = static_cast<int> (Xcap_Bindings::MAX_ELEMENT_DEPTH);
  for (size_t i = 0; i < rs.size (); ++i)
  {
    SCOPED_TRACE (rs[i].name);
    ASSERT_EQ (std::string (rs[i].name), shells[i].name);
    // levels counts the root element too.
    auto nested = [&] (int levels)
    {
      std::string open, close;
      for (int l = 1; l < levels; ++l)
      {
        open += "<x xmlns='urn:other'>";
        close += "</x>";
      }
      return shells[i].open + open + close + shells[i].close;
    };
    EXPECT_EQ ("ok", outcome (rs[i].parse, nested (bound)));
    EXPECT_EQ ("parsing", outcome (rs[i].parse, nested (bound + 1)));
    EXPECT_NE (std::string::npos,
               parsingDiagnostics (rs[i].parse, nested (bound + 1)).find ("deeper than 256"));
    EXPECT_EQ ("parsing", outcome (rs[i].parse, nested (12500)));

    // Elements that have closed do not count: at every level of the chain stand siblings
    // before it (empty, with text, with a child that reaches one level deeper where the bound
    // allows), so that thousands of elements open and close on the way down.
    auto wide = [&] (int levels)
    {
      std::string open, close;
      for (int l = 1; l < levels; ++l)
      {
        open += "<x xmlns='urn:other'/><x xmlns='urn:other'>t</x>";
        if (l + 2 <= bound)
          open += "<x xmlns='urn:other'><x/><x>t</x></x>";
        open += "<x xmlns='urn:other'>";
        close += "</x><x xmlns='urn:other'/>";
      }
      return shells[i].open + open + close + shells[i].close;
    };
    EXPECT_EQ ("ok", outcome (rs[i].parse, wide (bound)));
    EXPECT_EQ ("parsing", outcome (rs[i].parse, wide (bound + 1)));

    const std::string valid = fill (rs[i].valid, "x");
    EXPECT_EQ ("parsing", outcome (rs[i].parse, "<?xml version=\"1.5\"?>" + valid));
    EXPECT_EQ ("parsing", outcome (rs[i].parse, "<?xml version=\"2.0\" encoding=\"UTF-8\"?>\n" + valid));
    EXPECT_EQ ("ok", outcome (rs[i].parse, "<?xml version=\"1.1\"?>" + valid));
  }

  // The resource lists as the address book gets them: 12,500 nested lists.
  std::string deep = "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'>";
  for (int l = 0; l < 12500; ++l)
    deep += "<list name='a'>";
  for (int l = 0; l < 12500; ++l)
    deep += "</list>";
  deep += "</resource-lists>";
  EXPECT_EQ ("parsing", outcome (rs[0].parse, deep));
}

#include <gtest/gtest.h>

#include "bindings/resource-lists.hxx"
#include "BindingsTestSupport.h"

using namespace Xcap_ResourceLists;
using bindings_test::outcome;
using bindings_test::parseText;

namespace
{
  auto parseLists = [] (std::istream& is)
  {
    return resource_lists_ (is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties ());
  };

  std::string doc (const std::string& body)
  {
    return u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           u8"<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\">" +
           body + "</resource-lists>";
  }

  std::string names (const listType& l)
  {
    std::string s;
    for (const entryType& e : l.entry ())
      s += (s.empty () ? "" : ",") + e.uri ();
    return s;
  }
}

// A buddy document as the server sends it: every member of every class.
TEST (ResourceLists, RealisticDocumentParsesIntoTypedObjects)
{
  const std::string xml = doc (
    u8"<list name=\"研发部\" authLevel=\" -5 \">"
    u8"  <display-name xml:lang=\"zh-CN\">研发部</display-name>"
    u8"  <entry uri=\"  sip:zhangwei@corp.example.com \" userType=\"1\">"
    u8"    <gender>男</gender>"
    u8"    <display-name xml:lang=\"zh\">张伟</display-name>"
    u8"    <display-picture>pic/zw.png</display-picture>"
    u8"    <signature>今天很忙</signature>"
    u8"    <nickname>小张</nickname>"
    u8"    <designate-picture>3</designate-picture>"
    u8"    <invite-msg>你好，我是张伟</invite-msg>"
    u8"  </entry>"
    u8"  <list name=\"测试组\" authLevel=\"8589934593\">"
    u8"    <entry uri=\"sip:lina@corp.example.com\"/>"
    u8"  </list>"
    u8"  <external anchor=\" http://xcap.example.com/other \"><display-name>外部</display-name></external>"
    u8"  <entry-ref ref=\"users/sip:a@corp/index/~~/x\"/>"
    u8"  <entry-extref ref=\"users/b\"><display-name>王芳</display-name></entry-extref>"
    u8"  <entry uri=\"sip:wangfang@corp.example.com\"/>"
    u8"</list>"
    u8"<list-ref ref=\" 任意 text \" userLocation=\"北京\" userType=\"2\"/>"
    u8"<list name=\"第二组\"/>");

  std::unique_ptr<resource_lists> r (parseText (parseLists, xml));

  ASSERT_EQ (2u, r->list ().size ());
  ASSERT_EQ (1u, r->list_ref ().size ());

  const listType& dept = r->list ()[0];
  EXPECT_EQ (u8"研发部", *dept.name ());
  ASSERT_TRUE (dept.authLevel ().present ());
  EXPECT_EQ (-5, *dept.authLevel ());
  ASSERT_TRUE (dept.display_name ().present ());
  EXPECT_EQ (u8"研发部", std::string (*dept.display_name ()));
  EXPECT_EQ ("zh-CN", std::string (*dept.display_name ()->lang ()));
  EXPECT_EQ ("sip:zhangwei@corp.example.com,sip:wangfang@corp.example.com", names (dept));

  const entryType& zw = dept.entry ()[0];
  EXPECT_EQ ("1", *zw.userType ());
  EXPECT_EQ (u8"张伟", std::string (*zw.display_name ()));
  EXPECT_EQ ("zh", std::string (*zw.display_name ()->lang ()));
  EXPECT_EQ ("pic/zw.png", std::string (*zw.display_picture ()));
  EXPECT_EQ (u8"今天很忙", std::string (*zw.signature ()));
  EXPECT_EQ (u8"小张", std::string (*zw.nickname ()));
  EXPECT_EQ ("3", std::string (*zw.designate_picture ()));
  EXPECT_EQ (u8"你好，我是张伟", std::string (*zw.invite_msg ()));
  EXPECT_EQ (u8"男", std::string (*zw.gender ()));
  EXPECT_FALSE (dept.entry ()[1].display_name ().present ());
  EXPECT_FALSE (dept.entry ()[1].userType ().present ());

  // A nested list is of class `list`; a top-level one is a plain listType.
  ASSERT_EQ (1u, dept.list ().size ());
  EXPECT_EQ (typeid (list), typeid (dept.list ()[0]));
  EXPECT_EQ (typeid (listType), typeid (dept));
  EXPECT_EQ (8589934593LL, *dept.list ()[0].authLevel ());
  EXPECT_EQ ("sip:lina@corp.example.com", names (dept.list ()[0]));

  ASSERT_EQ (1u, dept.external ().size ());
  EXPECT_EQ ("http://xcap.example.com/other", std::string (*dept.external ()[0].anchor ()));
  EXPECT_EQ ("users/sip:a@corp/index/~~/x", std::string (dept.entry_ref ()[0].ref ()));
  EXPECT_EQ (u8"王芳", std::string (*dept.entry_extref ()[0].display_name ()));

  const list_refType& ref = r->list_ref ()[0];
  EXPECT_EQ (u8" 任意 text ", ref.ref ());
  EXPECT_EQ (u8"北京", *ref.userLocation ());
  EXPECT_EQ ("2", *ref.userType ());

  EXPECT_EQ (u8"第二组", *r->list ()[1].name ());
  EXPECT_TRUE (r->list ()[1].entry ().empty ());
}

// Documents whose reading stops early, and documents that must fail.
TEST (ResourceLists, EdgeCasesTable)
{
  struct Case
  {
    const char* what;
    std::string xml;
    std::string expected;          // outcome ()
    std::string entries;           // uris of the first list, when it parses
  };
  const std::string rlNs = "urn:ietf:params:xml:ns:resource-lists";
  const Case cases[] = {
    {"empty root", doc (""), "ok", ""},
    {"late display-name is still read",
     doc ("<list><entry uri='a'/><display-name>x</display-name><entry uri='b'/></list>"), "ok", "a,b"},
    {"second display-name ends the list",
     doc ("<list><display-name>x</display-name><entry uri='a'/><display-name>y</display-name>"
          "<entry uri='b'/></list>"), "ok", "a"},
    {"foreign element ends the list",
     doc ("<list><entry uri='a'/><x:ext xmlns:x='urn:other'/><entry uri='b'/></list>"), "ok", "a"},
    {"profile elements in any order, a repeat ends the entry",
     doc ("<list><entry uri='a'><gender>f</gender><display-name>n</display-name>"
          "<gender>m</gender></entry><entry uri='b'/></list>"), "ok", "a,b"},
    {"prefixed uri does not count",
     doc ("<list><entry xmlns:p='urn:p' p:uri='a'/></list>"), "expected_attribute uri", ""},
    {"entry-ref without ref", doc ("<list><entry-ref/></list>"), "expected_attribute ref", ""},
    {"list-ref without ref", doc ("<list-ref/>"), "expected_attribute ref", ""},
    {"element inside a text", doc ("<list><display-name><b/></display-name></list>"),
     "expected_text_content", ""},
    {"root in no namespace", "<resource-lists/>", "unexpected_element resource-lists|", ""},
    {"root in another namespace", "<resource-lists xmlns='urn:other'/>",
     "unexpected_element resource-lists|urn:other", ""},
    {"another root", "<ruleset xmlns='" + rlNs + "'/>", "unexpected_element ruleset|" + rlNs, ""},
    {"empty body", "", "parsing", ""},
    {"truncated", doc ("<list><entry uri='a'>").substr (0, 120), "parsing", ""},
    {"authLevel not a number", doc ("<list authLevel='abc'/>"), "invalid_number authLevel=abc", ""},
    {"authLevel with a tail", doc ("<list authLevel='12abc'/>"), "invalid_number authLevel=12abc", ""},
    {"authLevel empty", doc ("<list authLevel=''/>"), "invalid_number authLevel=", ""},
    {"authLevel beyond 64 bits", doc ("<list authLevel='9223372036854775808'/>"),
     "invalid_number authLevel=9223372036854775808", ""},
    {"authLevel with two signs", doc ("<list authLevel='+-5'/>"), "invalid_number authLevel=+-5", ""},
  };

  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.what);
    EXPECT_EQ (c.expected, outcome (parseLists, c.xml));
    if (c.expected == "ok" && !c.entries.empty ())
    {
      std::unique_ptr<resource_lists> r (parseText (parseLists, c.xml));
      EXPECT_EQ (c.entries, names (r->list ()[0]));
    }
  }
}

TEST (ResourceLists, AuthLevelAcceptsSignedForms)
{
  std::unique_ptr<resource_lists> r (parseText (parseLists, doc (
    "<list authLevel='+7'/><list authLevel='\n-9223372036854775808\t'/>")));
  EXPECT_EQ (7, *r->list ()[0].authLevel ());
  EXPECT_EQ (INT64_MIN, *r->list ()[1].authLevel ());
}

#include <gtest/gtest.h>

#include "bindings/common-policy.hxx"
#include "BindingsTestSupport.h"

using namespace CommonPolicy;
using bindings_test::outcome;
using bindings_test::parseText;

namespace
{
  auto parseRules = [] (std::istream& is)
  {
    return ruleset_ (is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties ());
  };

  const std::string CP = "urn:ietf:params:xml:ns:common-policy";
  const std::string PR = "urn:ietf:params:xml:ns:pres-rules";

  std::string doc (const std::string& body)
  {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<cr:ruleset xmlns='" + PR + "' xmlns:cr='" + CP + "'>" + body + "</cr:ruleset>";
  }

  std::string rule (const std::string& id, const std::string& subHandling)
  {
    return "<cr:rule id='" + id + "'><cr:actions><sub-handling>" + subHandling +
           "</sub-handling></cr:actions></cr:rule>";
  }
}

TEST (PresRules, RealisticDocumentParsesIntoTypedObjects)
{
  const std::string xml = doc (
    u8"<cr:rule id='wp_prs_allow_own'>"
    u8"  <cr:conditions>"
    u8"    <cr:identity>"
    u8"      <cr:many domain='corp.example.com'><cr:except id='sip:boss@corp.example.com'/></cr:many>"
    u8"      <cr:one id=' sip:zhangwei@corp.example.com ' display-name='张伟' invite-msg='加个好友'>"
    u8"        <x:extra xmlns:x='urn:other'/>"
    u8"      </cr:one>"
    u8"      <cr:one id='sip:lina@corp.example.com'/>"
    u8"    </cr:identity>"
    u8"    <cr:sphere value='work'/>"
    u8"    <cr:validity><cr:from>2024-05-06T07:08:09Z</cr:from><cr:until>2025-01-01T00:00:00Z</cr:until></cr:validity>"
    u8"  </cr:conditions>"
    u8"  <cr:actions><sub-handling>\n  allow  \n</sub-handling></cr:actions>"
    u8"  <cr:transformations><x:t xmlns:x='urn:other'/></cr:transformations>"
    u8"</cr:rule>" +
    rule ("wp_prs_block", "polite-block") +
    u8"<cr:rule id='bare'/>");

  std::unique_ptr<ruleset> r (parseText (parseRules, xml));
  ASSERT_EQ (3u, r->rule ().size ());

  const ruleType& own = r->rule ()[0];
  EXPECT_EQ ("wp_prs_allow_own", std::string (own.id ()));
  ASSERT_TRUE (own.conditions ().present ());
  ASSERT_EQ (1u, own.conditions ()->identity ().size ());
  const identityType& ident = own.conditions ()->identity ()[0];
  ASSERT_EQ (2u, ident.one ().size ());
  ASSERT_EQ (1u, ident.many ().size ());
  EXPECT_EQ ("sip:zhangwei@corp.example.com", std::string (ident.one ()[0].id ()));
  EXPECT_EQ (u8"张伟", std::string (*ident.one ()[0].display_name ()));
  EXPECT_EQ (u8"加个好友", std::string (*ident.one ()[0].invite_msg ()));
  EXPECT_FALSE (ident.one ()[1].display_name ().present ());
  EXPECT_EQ ("corp.example.com", *ident.many ()[0].domain ());
  EXPECT_EQ ("sip:boss@corp.example.com", std::string (*ident.many ()[0].except ()[0].id ()));
  EXPECT_EQ ("work", own.conditions ()->sphere ()[0].value ());
  EXPECT_EQ (2024, own.conditions ()->validity ()[0].from ()[0].year ());
  EXPECT_EQ (2025, own.conditions ()->validity ()[0].until ()[0].year ());
  ASSERT_TRUE (own.actions ().present ());
  EXPECT_EQ (Xcap_PresRules::sub_handling::allow, own.actions ()->sub_handling ());
  EXPECT_EQ ("allow", std::string (own.actions ()->sub_handling ()));
  EXPECT_TRUE (own.transformations ().present ());

  EXPECT_EQ (Xcap_PresRules::sub_handling::polite_block, r->rule ()[1].actions ()->sub_handling ());
  EXPECT_EQ (2, static_cast<int> (Xcap_PresRules::sub_handling::value (r->rule ()[1].actions ()->sub_handling ())));
  EXPECT_FALSE (r->rule ()[2].conditions ().present ());
  EXPECT_FALSE (r->rule ()[2].actions ().present ());
}

TEST (PresRules, EdgeCasesTable)
{
  struct Case
  {
    const char* what;
    std::string xml;
    std::string expected;
  };
  const Case cases[] = {
    {"no rules", doc (""), "ok"},
    {"all four literals", doc (rule ("a", "block") + rule ("b", "confirm") + rule ("c", "polite-block") +
                               rule ("d", "allow")), "ok"},
    {"literal differing in case", doc (rule ("a", "Allow")), "unexpected_enumerator Allow"},
    {"unknown literal", doc (rule ("a", "deny")), "unexpected_enumerator deny"},
    {"another pres-rules element first",
     doc ("<cr:rule id='a'><cr:actions><provide-all-attributes/><sub-handling>allow</sub-handling>"
          "</cr:actions></cr:rule>"), "expected_element sub-handling|" + PR},
    {"sub-handling in the wrong namespace",
     doc ("<cr:rule id='a'><cr:actions><cr:sub-handling>allow</cr:sub-handling></cr:actions></cr:rule>"),
     "expected_element sub-handling|" + PR},
    {"duplicate rule id", doc (rule ("a", "allow") + rule ("a", "block")), "duplicate_id a"},
    {"rule without id", doc ("<cr:rule/>"), "expected_attribute id"},
    {"one without id", doc ("<cr:rule id='a'><cr:conditions><cr:identity><cr:one/></cr:identity>"
                            "</cr:conditions></cr:rule>"), "expected_attribute id"},
    {"sphere without value", doc ("<cr:rule id='a'><cr:conditions><cr:sphere/></cr:conditions></cr:rule>"),
     "expected_attribute value"},
    {"root in pres-rules namespace", "<ruleset xmlns='" + PR + "'/>", "unexpected_element ruleset|" + PR},
    {"malformed", doc ("<cr:rule id='a'>"), "parsing"},
  };

  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.what);
    EXPECT_EQ (c.expected, outcome (parseRules, c.xml));
  }
}

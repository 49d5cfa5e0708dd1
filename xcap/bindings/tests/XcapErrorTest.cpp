#include <gtest/gtest.h>

#include <typeindex>

#include "bindings/xcap-error.hxx"
#include "BindingsTestSupport.h"

using namespace Xcap_Error;
using bindings_test::outcome;
using bindings_test::parseText;

namespace
{
  auto parseError = [] (std::istream& is)
  {
    return xcap_error_ (is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties ());
  };

  const std::string NS = "urn:ietf:params:xml:ns:xcap-error";

  std::string doc (const std::string& body)
  {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xcap-error xmlns='" + NS + "'>" + body +
           "</xcap-error>";
  }

  template <typename T>
  std::string phraseOf (const xml_schema::type& e)
  {
    const T& t (dynamic_cast<const T&> (e));
    return t.phrase ().present () ? *t.phrase () : "<none>";
  }
}

// Each member of the substitution group selects its own class.
TEST (XcapError, EachErrorKindSelectsItsClass)
{
  struct Kind
  {
    const char* element;
    std::type_index type;
    std::string (*phrase) (const xml_schema::type&);
  };
  const Kind kinds[] = {
    {"schema-validation-error", typeid (schema_validation_error), &phraseOf<schema_validation_error>},
    {"not-xml-frag", typeid (not_xml_frag), &phraseOf<not_xml_frag>},
    {"no-parent", typeid (no_parent), &phraseOf<no_parent>},
    {"cannot-insert", typeid (cannot_insert), &phraseOf<cannot_insert>},
    {"not-xml-att-value", typeid (not_xml_att_value), &phraseOf<not_xml_att_value>},
    {"uniqueness-failure", typeid (uniqueness_failure), &phraseOf<uniqueness_failure>},
    {"not-well-formed", typeid (not_well_formed), &phraseOf<not_well_formed>},
    {"constraint-failure", typeid (constraint_failure), &phraseOf<constraint_failure>},
    {"cannot-delete", typeid (cannot_delete), &phraseOf<cannot_delete>},
    {"not-utf-8", typeid (not_utf_8), &phraseOf<not_utf_8>},
  };

  for (const Kind& k : kinds)
  {
    SCOPED_TRACE (k.element);
    const std::string phrase = std::string (u8"父节点不存在: ") + k.element;
    std::unique_ptr<xcap_error> e (parseText (parseError, doc (
      std::string ("<") + k.element + " phrase='" + phrase + "'/>")));
    EXPECT_EQ (k.type, std::type_index (typeid (e->error_element ())));
    EXPECT_EQ (phrase, k.phrase (e->error_element ()));
  }

  std::unique_ptr<xcap_error> ext (parseText (parseError, doc (
    "<extension><a:b xmlns:a='urn:x'><c/></a:b><d/></extension>")));
  EXPECT_EQ (std::type_index (typeid (extension)), std::type_index (typeid (ext->error_element ())));
}

TEST (XcapError, MembersKeepTheirContent)
{
  std::unique_ptr<xcap_error> np (parseText (parseError, doc (
    "<no-parent phrase='missing'><ancestor> http://xcap.example.com/xcap/resource-lists/users/a </ancestor>"
    "</no-parent>")));
  const no_parent& p (dynamic_cast<const no_parent&> (np->error_element ()));
  ASSERT_TRUE (p.ancestor ().present ());
  EXPECT_EQ ("http://xcap.example.com/xcap/resource-lists/users/a", std::string (*p.ancestor ()));
  EXPECT_EQ ("missing", *p.phrase ());

  std::unique_ptr<xcap_error> bare (parseText (parseError, doc ("<no-parent/>")));
  EXPECT_FALSE (dynamic_cast<const no_parent&> (bare->error_element ()).ancestor ().present ());
  EXPECT_FALSE (dynamic_cast<const no_parent&> (bare->error_element ()).phrase ().present ());

  std::unique_ptr<xcap_error> uf (parseText (parseError, doc (
    u8"<uniqueness-failure><exists field='list/@name'><alt-value>研发部1</alt-value><alt-value>研发部2</alt-value>"
    u8"</exists><exists field='entry/@uri'/></uniqueness-failure>")));
  const uniqueness_failure& u (dynamic_cast<const uniqueness_failure&> (uf->error_element ()));
  ASSERT_EQ (2u, u.exists ().size ());
  EXPECT_EQ ("list/@name", u.exists ()[0].field ());
  ASSERT_EQ (2u, u.exists ()[0].alt_value ().size ());
  EXPECT_EQ (u8"研发部1", u.exists ()[0].alt_value ()[0]);
  EXPECT_EQ (u8"研发部2", u.exists ()[0].alt_value ()[1]);
  EXPECT_EQ ("entry/@uri", u.exists ()[1].field ());
  EXPECT_TRUE (u.exists ()[1].alt_value ().empty ());

  // Two members: the first is kept.
  std::unique_ptr<xcap_error> two (parseText (parseError, doc ("<cannot-delete/><not-utf-8/>")));
  EXPECT_EQ (std::type_index (typeid (cannot_delete)), std::type_index (typeid (two->error_element ())));

  // A prefixed phrase is not the phrase.
  std::unique_ptr<xcap_error> pp (parseText (parseError, doc ("<cannot-insert xmlns:p='urn:p' p:phrase='x'/>")));
  EXPECT_FALSE (dynamic_cast<const cannot_insert&> (pp->error_element ()).phrase ().present ());
}

TEST (XcapError, FailuresTable)
{
  struct Case
  {
    const char* what;
    std::string xml;
    std::string expected;
  };
  const Case cases[] = {
    {"no member", doc (""), "expected_element error-element|" + NS},
    {"foreign first child", doc ("<x:no-parent xmlns:x='urn:other'/>"), "expected_element error-element|" + NS},
    {"exists without field", doc ("<uniqueness-failure><exists/></uniqueness-failure>"), "expected_attribute field"},
    {"broken second member still fails",
     doc ("<not-utf-8/><uniqueness-failure><exists/></uniqueness-failure>"), "expected_attribute field"},
    {"root in another namespace", "<xcap-error xmlns='urn:other'><not-utf-8/></xcap-error>",
     "unexpected_element xcap-error|urn:other"},
    {"not well-formed", doc ("<not-utf-8>"), "parsing"},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE (c.what);
    EXPECT_EQ (c.expected, outcome (parseError, c.xml));
  }
}

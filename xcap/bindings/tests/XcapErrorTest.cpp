#include <gtest/gtest.h>

#include <functional>
#include <typeindex>

#include "bindings/xcap-error.hxx"

#include <xsd/cxx/tree/type-serializer-map.hxx>
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

// Every member of the error-element group is registered with the runtime's serializer map
// under its own name, and an error document written through it carries each member's
// content: "exists" with its "alt-value" elements, then "field"; "uniqueness-failure" with its
// "exists" elements, then "phrase"; "no-parent" with "ancestor", then "phrase".
TEST (XcapError, MembersAreWrittenThroughTheSerializerMap)
{
  xml_schema::namespace_infomap ns;
  ns[""].name = NS;
  auto write = [&] (const xml_schema::type& member)
  {
    xcap_error e (member);
    std::ostringstream os;
    xcap_error_ (os, e, ns, "UTF-8");
    return os.str ();
  };

  // Each member comes out under its own name (its serializer registration), and reads back
  // as the same class.
  const std::pair<std::function<std::unique_ptr<xml_schema::type> ()>, const char*> members[] = {
    {[] { return std::unique_ptr<xml_schema::type> (new extension); }, "extension"},
    {[] { return std::unique_ptr<xml_schema::type> (new schema_validation_error); }, "schema-validation-error"},
    {[] { return std::unique_ptr<xml_schema::type> (new not_xml_frag); }, "not-xml-frag"},
    {[] { return std::unique_ptr<xml_schema::type> (new no_parent); }, "no-parent"},
    {[] { return std::unique_ptr<xml_schema::type> (new cannot_insert); }, "cannot-insert"},
    {[] { return std::unique_ptr<xml_schema::type> (new not_xml_att_value); }, "not-xml-att-value"},
    {[] { return std::unique_ptr<xml_schema::type> (new uniqueness_failure); }, "uniqueness-failure"},
    {[] { return std::unique_ptr<xml_schema::type> (new not_well_formed); }, "not-well-formed"},
    {[] { return std::unique_ptr<xml_schema::type> (new constraint_failure); }, "constraint-failure"},
    {[] { return std::unique_ptr<xml_schema::type> (new cannot_delete); }, "cannot-delete"},
    {[] { return std::unique_ptr<xml_schema::type> (new not_utf_8); }, "not-utf-8"},
  };
  for (const auto& m : members)
  {
    SCOPED_TRACE (m.second);
    std::unique_ptr<xml_schema::type> member (m.first ());
    const std::string text (write (*member));
    EXPECT_NE (std::string::npos, text.find ("<" + std::string (m.second) + "/>")) << text;
    std::unique_ptr<xcap_error> back (parseText (parseError, text));
    EXPECT_EQ (std::type_index (typeid (*member)), std::type_index (typeid (back->error_element ())));
  }

  uniqueness_failure u;
  exists first ("uri");
  first.alt_value ().push_back ("a1");
  first.alt_value ().push_back ("a2");
  u.exists ().push_back (first);
  u.exists ().push_back (exists ("id"));
  u.phrase ("taken");
  std::string text (write (u));
  size_t at = text.find ("<uniqueness-failure phrase=\"taken\">");
  ASSERT_NE (std::string::npos, at) << text;
  size_t a1 = text.find ("<alt-value>a1</alt-value>", at);
  size_t a2 = text.find ("<alt-value>a2</alt-value>", at);
  size_t second = text.find ("<exists field=\"id\"/>", at);
  EXPECT_NE (std::string::npos, text.find ("<exists field=\"uri\">", at)) << text;
  EXPECT_LT (a1, a2);
  EXPECT_LT (a2, second);
  EXPECT_NE (std::string::npos, second) << text;

  // What was written parses back into the same member.
  std::unique_ptr<xcap_error> back (parseText (parseError, text));
  const uniqueness_failure& ub (dynamic_cast<const uniqueness_failure&> (back->error_element ()));
  ASSERT_EQ (2u, ub.exists ().size ());
  EXPECT_EQ ("uri", ub.exists ()[0].field ());
  ASSERT_EQ (2u, ub.exists ()[0].alt_value ().size ());
  EXPECT_EQ ("a2", ub.exists ()[0].alt_value ()[1]);
  EXPECT_EQ ("taken", *ub.phrase ());

  no_parent np;
  np.ancestor (xml_schema::uri ("http://xcap.example/root/~~/a"));
  np.phrase ("missing");
  text = write (np);
  EXPECT_NE (std::string::npos,
             text.find ("<no-parent phrase=\"missing\">")) << text;
  EXPECT_NE (std::string::npos, text.find ("<ancestor>http://xcap.example/root/~~/a</ancestor>")) << text;
  back = parseText (parseError, text);
  const no_parent& nb (dynamic_cast<const no_parent&> (back->error_element ()));
  ASSERT_TRUE (nb.ancestor ().present ());
  EXPECT_EQ ("missing", *nb.phrase ());

  text = write (not_utf_8 ());
  EXPECT_NE (std::string::npos, text.find ("<not-utf-8/>")) << text;
  EXPECT_NE (nullptr, dynamic_cast<const not_utf_8*> (&parseText (parseError, text)->error_element ()));
}

// XCAP URIs against the RFC 4825 grammar as this server speaks it ("myusers" user paths).
#include "corvane/XcapUri.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const XcapNamespaceMap kNoBindings;

XcapNamespaceMap presBindings() {
  XcapNamespaceMap m;
  // Inserted out of order: the text lists them by prefix.
  m["pr"] = "urn:ietf:params:xml:ns:pres-rules";
  m["cr"] = "urn:ietf:params:xml:ns:common-policy";
  return m;
}

std::vector<ElementSelectorStep*> steps(std::initializer_list<ElementSelectorStep*> list) {
  return std::vector<ElementSelectorStep*>(list);
}

struct UriCase {
  const char* what;
  std::function<std::string()> build;
  std::string expected;
};

}  // namespace

TEST(XcapUriTest, GrammarTable) {
  const std::string doc = "/resource-lists/myusers/alice@corp.com/buddys";
  const UriCase cases[] = {
      {"document", [] { return UserDocumentUri("resource-lists", "myusers/alice@corp.com", "buddys").toString(); },
       doc},
      {"mail document", [] { return UserDocumentUri("resource-lists", "myusers/alice", "buddys_detail").toString(); },
       "/resource-lists/myusers/alice/buddys_detail"},
      {"empty user path", [] { return UserDocumentUri("resource-lists", "", "buddys").toString(); },
       "/resource-lists//buddys"},
      {"document selector object",
       [] { return DocumentUri(new DocumentSelector("pres-rules", "myusers/bob", "presrules")).toString(); },
       "/pres-rules/myusers/bob/presrules"},
      {"element by attribute",
       [] {
         ElementSelector es(steps({new ElementSelectorStep("resource-lists"),
                                   new ElementSelectorStepByAttr("list", "name", "organization"),
                                   new ElementSelectorStepByAttr("list", "name", "sales"),
                                   new ElementSelectorStepByAttr("entry", "uri", "bob")}));
         return UserElementUri("resource-lists", "myusers/alice@corp.com", "buddys", es, kNoBindings).toString();
       },
       doc + "/~~/resource-lists/list[@name='organization']/list[@name='sales']/entry[@uri='bob']"},
      {"element by position",
       [] {
         ElementSelector es(steps({new ElementSelectorStep("resource-lists"), new ElementSelectorStepByPos("entry", 3)}));
         return UserElementUri("resource-lists", "myusers/alice@corp.com", "buddys", es, kNoBindings).toString();
       },
       doc + "/~~/resource-lists/entry[3]"},
      {"element by position and attribute",
       [] {
         ElementSelector es(steps({new ElementSelectorStepByPosAttr("entry", 3, "uri", "x")}));
         return UserElementUri("resource-lists", "myusers/alice@corp.com", "buddys", es, kNoBindings).toString();
       },
       doc + "/~~/entry[3][@uri='x']"},
      {"child step",
       [] {
         ElementSelector es(steps({new ElementSelectorStep("resource-lists"),
                                   new ElementSelectorStepByAttr("list", "name", "mybuddys"),
                                   new ElementSelectorStepByAttr("entry", "uri", "bob@corp"),
                                   new ElementSelectorStep("nickname")}));
         return UserElementUri("resource-lists", "myusers/alice@corp.com", "buddys", es, kNoBindings).toString();
       },
       doc + "/~~/resource-lists/list[@name='mybuddys']/entry[@uri='bob@corp']/nickname"},
      {"namespace bindings in prefix order, nothing between them",
       [] {
         ElementSelector es(steps({new ElementSelectorStep("cr:ruleset"),
                                   new ElementSelectorStepByAttr("cr:rule", "id", "allow-list"),
                                   new ElementSelectorStep("cr:conditions"), new ElementSelectorStep("cr:identity"),
                                   new ElementSelectorStepByAttr("cr:one", "id", "bob@corp")}));
         return UserElementUri("pres-rules", "myusers/alice", "presrules", es, presBindings()).toString();
       },
       "/pres-rules/myusers/alice/presrules/~~/cr:ruleset/cr:rule[@id='allow-list']/cr:conditions/"
       "cr:identity/cr:one[@id='bob@corp']"
       "?xmlns(cr=urn:ietf:params:xml:ns:common-policy)xmlns(pr=urn:ietf:params:xml:ns:pres-rules)"},
      {"empty element selector: document alone, no bindings",
       [] {
         ElementSelector es(steps({}));
         return UserElementUri("pres-rules", "myusers/alice", "presrules", es, presBindings()).toString();
       },
       "/pres-rules/myusers/alice/presrules"},
      {"attribute",
       [] {
         ElementSelector* es = new ElementSelector(
             steps({new ElementSelectorStep("resource-lists"), new ElementSelectorStepByAttr("list", "name", "a")}));
         return UserAttributeUri("resource-lists", "myusers/alice", "buddys", es, "name", kNoBindings).toString();
       },
       "/resource-lists/myusers/alice/buddys/~~/resource-lists/list[@name='a']/@name"},
      // A value holding an apostrophe still gives a well-formed step.
      {"apostrophe in a value is quoted with double quotes",
       [] {
         ElementSelector es(steps({new ElementSelectorStepByAttr("list", "name", "O'Neil team")}));
         return UserElementUri("resource-lists", "myusers/alice", "buddys", es, kNoBindings).toString();
       },
       "/resource-lists/myusers/alice/buddys/~~/list[@name=\"O'Neil team\"]"},
      {"both quote characters and markup",
       [] {
         ElementSelector es(steps({new ElementSelectorStepByAttr("list", "name", "a'b\"c&<")}));
         return UserElementUri("resource-lists", "myusers/alice", "buddys", es, kNoBindings).toString();
       },
       "/resource-lists/myusers/alice/buddys/~~/list[@name='a&apos;b\"c&amp;&lt;']"},
  };
  for (const UriCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.expected, c.build());
  }
}

TEST(XcapUriTest, StepAccessAndCachedText) {
  ElementSelector es(steps({new ElementSelectorStep("resource-lists"),
                            new ElementSelectorStepByAttr("list", "name", "x"), nullptr}));
  EXPECT_EQ(2, es.size());  // a null step is dropped
  EXPECT_EQ(nullptr, es.at(-1));
  EXPECT_EQ(nullptr, es.at(2));
  ASSERT_NE(nullptr, es.at(1));
  EXPECT_EQ("list[@name='x']", es.at(1)->toString());
  EXPECT_EQ("/list[@name='x']", es.at(1)->toPathString());

  std::string first = es.toString();
  EXPECT_EQ("/resource-lists/list[@name='x']", first);
  EXPECT_EQ(first, es.toString());

  ResourceSelector rs("/a/b/c", "/x", presBindings());
  std::string text = rs.toString();
  EXPECT_EQ(text, rs.toString());
  EXPECT_EQ("/a/b/c/~~/x?xmlns(cr=urn:ietf:params:xml:ns:common-policy)xmlns(pr=urn:ietf:params:xml:ns:pres-rules)",
            text);
}

// The element URI keeps only text: the selector and map may go right after construction.
TEST(XcapUriTest, ElementUriOutlivesItsArguments) {
  std::unique_ptr<UserElementUri> uri;
  {
    ElementSelector es(steps({new ElementSelectorStepByAttr("entry", "uri", "bob")}));
    XcapNamespaceMap bindings = presBindings();
    uri.reset(new UserElementUri("resource-lists", "myusers/a", "buddys", es, bindings));
  }
  EXPECT_EQ("/resource-lists/myusers/a/buddys/~~/entry[@uri='bob']?xmlns(cr=urn:ietf:params:xml:ns:common-policy)"
            "xmlns(pr=urn:ietf:params:xml:ns:pres-rules)",
            uri->toString());
}

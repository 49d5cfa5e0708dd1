// The resource-lists usage: buddy tree and buddy set from a realistic document, the ETag cache
// against the fake XCAP server's request log, the status table and the configuration knobs.
#include "XcapTestSupport.h"

#include "corvane/ResourceListsAppUsage.h"
#include "log/IM_LogManager.h"

#include <memory>
#include <thread>

using namespace xcaptest;

namespace {

// All texts UTF-8, as the server sends them.
const std::string kSample = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>示例公司</display-name>
    <list name="rd" authLevel="2">
      <display-name>研发部</display-name>
      <entry uri="bob@corp.example" userType="staff">
        <display-name>Bob Lee</display-name>
        <display-picture>pics/bob.png</display-picture>
        <signature>ship it</signature>
        <nickname>bobby</nickname>
        <designate-picture>pics/bob-big.png</designate-picture>
        <gender>male</gender>
      </entry>
      <entry uri="carol@corp.example"><display-name>carol</display-name></entry>
      <list name="qa">
        <display-name>测试组</display-name>
        <entry uri="dave@corp.example"><nickname>dd</nickname></entry>
        <entry uri="bob@corp.example"><display-name>Bob Lee</display-name><signature>second copy</signature></entry>
      </list>
    </list>
    <list name="sales">
      <display-name>销售部</display-name>
      <entry uri="frank@corp.example"><display-name>Frank O'Neil</display-name></entry>
      <entry uri="gina@partner.example"><display-name>Gina &lt;Partner&gt;</display-name></entry>
      <entry uri="zhangwei@corp.example"><display-name>张伟</display-name><invite-msg>你好</invite-msg></entry>
      <list><display-name>unnamed</display-name><entry uri="hidden@corp.example"/></list>
      <external anchor="http://127.0.0.1/xcap/other"><display-name>ext</display-name></external>
      <entry-ref ref="resource-lists/users/x/buddys/~~/resource-lists/list%5b@name=%22a%22%5d/entry%5b@uri=%22b%22%5d"/>
      <entry-extref ref="http://127.0.0.1/xcap/other/entry"/>
    </list>
    <entry uri="erin@corp.example"/>
    <entry uri="henry@corp.example"><display-name>Henry</display-name></entry>
    <entry uri="ivy@corp.example"><display-name>ivy</display-name><gender>female</gender></entry>
  </list>
  <list name="mybuddys">
    <display-name>我的好友</display-name>
    <entry uri="jack@corp.example"><display-name>Jack</display-name></entry>
    <list name="organization"><display-name>not the org</display-name>
      <entry uri="kate@corp.example"><display-name>Kate</display-name></entry>
    </list>
  </list>
  <list name="groups">
    <display-name>群组</display-name>
    <list name="g1"><display-name>G1</display-name><entry uri="bob@corp.example"/></list>
  </list>
  <list-ref ref="rls/alice" userLocation="here" userType="x"/>
</resource-lists>
)";

struct NodeRow {
  std::string selector;
  int type;
  std::string name;
  std::string displayName;  // GBK literals: this file's narrow text is GBK, as the desktop's
  std::string nickName;
  std::string gender;
};

// The tree of kSample for the GB2312 coding, in pre-order.
const std::vector<NodeRow> kSampleTree = {
    {"organization", 0, "organization", "示例公司", "", ""},
    {"organization/rd", 0, "rd", "研发部", "", ""},
    {"organization/rd/bob@corp.example", 1, "bob@corp.example", "Bob Lee", "bobby", "male"},
    {"organization/rd/carol@corp.example", 1, "carol@corp.example", "carol", "", ""},
    {"organization/rd/qa", 0, "qa", "测试组", "", ""},
    {"organization/rd/qa/dave@corp.example", 1, "dave@corp.example", "", "dd", ""},
    {"organization/rd/qa/bob@corp.example", 1, "bob@corp.example", "Bob Lee", "", ""},
    {"organization/sales", 0, "sales", "销售部", "", ""},
    {"organization/sales/frank@corp.example", 1, "frank@corp.example", "Frank O'Neil", "", ""},
    {"organization/sales/gina@partner.example", 1, "gina@partner.example", "Gina <Partner>", "", ""},
    {"organization/sales/zhangwei@corp.example", 1, "zhangwei@corp.example", "张伟", "", ""},
    {"organization/freebuddys", 0, "freebuddys", "未分配组", "", ""},
    {"organization/freebuddys/erin@corp.example", 1, "erin@corp.example", "", "", ""},
    {"organization/freebuddys/henry@corp.example", 1, "henry@corp.example", "Henry", "", ""},
    {"organization/freebuddys/ivy@corp.example", 1, "ivy@corp.example", "ivy", "", "female"},
    {"mybuddys", 0, "mybuddys", "我的好友", "", ""},
    {"mybuddys/jack@corp.example", 1, "jack@corp.example", "Jack", "", ""},
    {"mybuddys/organization", 0, "organization", "not the org", "", ""},
    {"mybuddys/organization/kate@corp.example", 1, "kate@corp.example", "Kate", "", ""},
    {"groups", 0, "groups", "群组", "", ""},
    {"groups/g1", 0, "g1", "G1", "", ""},
    {"groups/g1/bob@corp.example", 1, "bob@corp.example", "", "", ""},
};

std::vector<NodeRow> rowsOf(const tree<TreeNode>& t) {
  std::vector<NodeRow> rows;
  for (tree<TreeNode>::pre_order_iterator it = t.begin(); it != t.end(); ++it) {
    rows.push_back({it->selector(), static_cast<int>(it->nodeType()), it->name(), it->displayName(),
                    it->nickName(), it->gender()});
  }
  return rows;
}

void expectTree(const std::vector<NodeRow>& expected, const tree<TreeNode>& actual) {
  std::vector<NodeRow> rows = rowsOf(actual);
  ASSERT_EQ(expected.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(expected[i].selector);
    EXPECT_EQ(expected[i].selector, rows[i].selector);
    EXPECT_EQ(expected[i].type, rows[i].type);
    EXPECT_EQ(expected[i].name, rows[i].name);
    EXPECT_EQ(expected[i].displayName, rows[i].displayName);
    EXPECT_EQ(expected[i].nickName, rows[i].nickName);
    EXPECT_EQ(expected[i].gender, rows[i].gender);
  }
}

std::vector<std::string> namesOf(const std::vector<BuddyEntry>& list) {
  std::vector<std::string> names;
  for (const BuddyEntry& b : list) names.push_back(b.name());
  return names;
}

std::string docPath(const std::string& user, const std::string& doc = "buddys") {
  return "resource-lists/myusers/" + user + "/" + doc;
}

std::string fullPath(const std::string& user, const std::string& doc = "buddys") {
  return "/xcap/" + docPath(user, doc);
}

const std::string kNs = "urn:ietf:params:xml:ns:resource-lists";

std::string smallDoc(int buddies) {
  std::string doc = "<resource-lists xmlns='" + kNs + "'><list name='mybuddys'>";
  for (int i = 0; i < buddies; ++i) doc += "<entry uri='b" + std::to_string(i) + "@corp'/>";
  return doc + "</list></resource-lists>";
}

}  // namespace

class ResourceListsTest : public XcapServersTest {
 protected:
  std::unique_ptr<ResourceListsAppUsage> usage(const std::string& user, CodingFormat coding,
                                               bool skipGroups = false,
                                               AuthenticateMode mode = AUTH_PLAIN,
                                               DownloadMode download = DOWNLOAD_STREAMED) {
    return std::unique_ptr<ResourceListsAppUsage>(
        new ResourceListsAppUsage(user, coding, client(user, mode, download), skipGroups));
  }
};

// The whole road of the desktop: single sign-on, streamed download, GB2312 texts; then the
// second read is answered from the cache without a request or a parse.
TEST_F(ResourceListsTest, BuddyTreeFromARealisticDocumentThenFromTheCache) {
  xcap_.requireSso(true);
  std::string user = newUser("tree");
  std::string etag = xcap_.putDocument(docPath(user), kSample);
  std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_GB2312, false, AUTH_SSO);

  tree<TreeNode> out;
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
  expectTree(kSampleTree, out);
  EXPECT_EQ(etag, u->etag());
  tree<TreeNode>::pre_order_iterator bob = out.begin();
  ++bob;
  ++bob;
  EXPECT_EQ("pics/bob.png", bob->displayPicture());
  EXPECT_EQ("ship it", bob->signature());
  EXPECT_EQ("", bob->designatePicture());  // not read into the tree
  EXPECT_EQ(std::string("\xCE\xB4\xB7\xD6\xC5\xE4\xD7\xE9"), rowsOf(out)[11].displayName);

  tree<TreeNode> again;
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(again));
  expectTree(kSampleTree, again);
  EXPECT_EQ(1u, xcap_.countRequests("GET", fullPath(user)));
  EXPECT_EQ(1, u->parseCount());
  for (const HttpRequestRecord& r : xcap_.requests()) EXPECT_FALSE(r.hasHeader("If-None-Match"));
}

// The UTF-8 coding hands out UTF-8 everywhere, the free-buddies node included.
TEST_F(ResourceListsTest, Utf8CodingKeepsUtf8Texts) {
  std::string user = freshUser("utf8");
  xcap_.putDocument(docPath(user), kSample);
  std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_UTF8);
  tree<TreeNode> out;
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
  std::vector<NodeRow> rows = rowsOf(out);
  ASSERT_EQ(kSampleTree.size(), rows.size());
  EXPECT_EQ(u8"示例公司", rows[0].displayName);
  EXPECT_EQ(u8"未分配组", rows[11].displayName);
  EXPECT_EQ(u8"张伟", rows[10].displayName);
}

TEST_F(ResourceListsTest, BuddyListsBySelector) {
  std::string user = freshUser("list");
  xcap_.putDocument(docPath(user), kSample);
  std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_GB2312);

  std::vector<BuddyEntry> all(1, BuddyEntry("x", "already@there", ""));
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyList(all, ResourceListsAppUsage::ALL_NODE));
  EXPECT_EQ((std::vector<std::string>{"already@there", "bob@corp.example", "carol@corp.example",
                                      "dave@corp.example", "erin@corp.example", "frank@corp.example",
                                      "gina@partner.example", "henry@corp.example", "ivy@corp.example",
                                      "jack@corp.example", "kate@corp.example", "zhangwei@corp.example"}),
            namesOf(all));
  // The first occurrence of bob wins.
  EXPECT_EQ("organization/rd/bob@corp.example", all[1].selector());
  EXPECT_EQ("pics/bob.png", all[1].displayPicture());
  EXPECT_EQ("ship it", all[1].signature());
  EXPECT_EQ("bobby", all[1].nickName());
  EXPECT_EQ("", all[1].gender());

  struct Case {
    std::string selector;
    XCAPAccessResult result;
    std::vector<std::string> names;
  } cases[] = {
      {"organization/rd", XCAP_SUCCESS, {"bob@corp.example", "carol@corp.example", "dave@corp.example"}},
      {"organization/freebuddys", XCAP_SUCCESS, {"erin@corp.example", "henry@corp.example", "ivy@corp.example"}},
      {"mybuddys", XCAP_SUCCESS, {"jack@corp.example", "kate@corp.example"}},
      {"organization/rd/bob@corp.example", XCAP_NOT_IN_TREE, {}},
      {"no/such/group", XCAP_NOT_IN_TREE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    std::vector<BuddyEntry> out;
    EXPECT_EQ(c.result, u->getBuddyList(out, c.selector));
    EXPECT_EQ(c.names, namesOf(out));
  }
  EXPECT_EQ(1u, xcap_.countRequests("GET", fullPath(user)));
}

// A duplicate uri: two nodes, one buddy; an organization without direct entries has no
// free-buddies node; skipGroupsList leaves "groups" out.
TEST_F(ResourceListsTest, SmallShapes) {
  std::string user = freshUser("shapes");
  xcap_.putDocument(docPath(user),
                    "<resource-lists xmlns='" + kNs + "'>"
                    "<list name='organization'><list name='a'><entry uri='x@c'><display-name>first</display-name></entry></list>"
                    "<list name='b'><entry uri='x@c'><display-name>second</display-name></entry></list></list>"
                    "<list name='groups'><entry uri='y@c'/></list></resource-lists>");
  std::unique_ptr<ResourceListsAppUsage> skip = usage(user, CODING_UTF8, true);
  tree<TreeNode> out;
  ASSERT_EQ(XCAP_SUCCESS, skip->getBuddyTree(out));
  expectTree({{"organization", 0, "organization", "", "", ""},
              {"organization/a", 0, "a", "", "", ""},
              {"organization/a/x@c", 1, "x@c", "first", "", ""},
              {"organization/b", 0, "b", "", "", ""},
              {"organization/b/x@c", 1, "x@c", "second", "", ""}},
             out);
  std::vector<BuddyEntry> all;
  ASSERT_EQ(XCAP_SUCCESS, skip->getBuddyList(all, ""));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ("first", all[0].displayName());

  std::unique_ptr<ResourceListsAppUsage> keep = usage(freshUser("keep"), CODING_UTF8, false);
  // Same document under the other user's path.
  xcap_.putDocument(docPath(keep->getUser()), xcap_.documentOf(docPath(user)));
  ASSERT_EQ(XCAP_SUCCESS, keep->getBuddyTree(out));
  EXPECT_EQ(7u, out.size());
  EXPECT_EQ("groups/y@c", rowsOf(out).back().selector);
}

// Without an ETag nothing is cached: every read fetches and parses again.
TEST_F(ResourceListsTest, NoEtagMeansNoCache) {
  std::string user = freshUser("noetag");
  xcap_.setSendEtag(false);
  xcap_.putDocument(docPath(user), smallDoc(2));
  std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_UTF8);
  tree<TreeNode> out;
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
  EXPECT_EQ(2u, xcap_.countRequests("GET", fullPath(user)));
  EXPECT_EQ(2, u->parseCount());
  EXPECT_EQ("", u->etag());
}

// Each failure gives its result, logs, and leaves both the caller's tree and the cache alone.
TEST_F(ResourceListsTest, FailureTable) {
  HttpReply drop;
  drop.drop = true;
  HttpReply empty(200);
  empty.header("ETag", "\"e\"");
  struct Case {
    const char* what;
    HttpReply reply;
    int count;
    XCAPAccessResult result;
    std::string log;  // with %u for the user
  } cases[] = {
      {"dropped connection", drop, 2, XCAP_NETWORK_ERROR, "Corvane, [userId = %u, reason = Network Error, request = getBuddys]"},
      {"404", HttpReply(404), 1, XCAP_DOCUMENT_NOT_FOUND, "Corvane, [userId = %u, status = 404, reason = Not Found, request = getBuddys]"},
      {"500", HttpReply(500), 1, XCAP_FAILURE, "Corvane, [userId = %u, status = 500, reason = Internal Server Error, request = getBuddys]"},
      {"200 without body", empty, 1, XCAP_FAILURE, "Corvane, [userId = %u, status = 200, reason = No Body, request = getBuddys]"},
      {"malformed XML", HttpReply(200, "<resource-lists xmlns='" + kNs + "'><list>"), 1, XCAP_DECODE_FAILED,
       "Corvane, [userId = %u, status = 200, reason = Decode ResourceLists Failed, request = getBuddys]"},
      {"root in no namespace", HttpReply(200, "<resource-lists/>"), 1, XCAP_DECODE_FAILED,
       "reason = Decode ResourceLists Failed"},
      {"entry without uri", HttpReply(200, "<resource-lists xmlns='" + kNs + "'><list name='a'><entry/></list></resource-lists>"),
       1, XCAP_DECODE_FAILED, "reason = Decode ResourceLists Failed"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string user = freshUser("fail");
    xcap_.putDocument(docPath(user), smallDoc(1));
    c.reply.header("ETag", "\"scripted\"");
    xcap_.script(fullPath(user), c.reply, c.count, true);
    std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_UTF8);

    tree<TreeNode> out;
    out.insert(out.end(), TreeNode("keep", "keep", ""));
    IM_LogCapture cap;
    EXPECT_EQ(c.result, u->getBuddyTree(out));
    EXPECT_EQ(1u, out.size());
    EXPECT_EQ("keep", out.begin()->selector());
    EXPECT_EQ("", u->etag());
    std::string log = c.log;
    size_t at = log.find("%u");
    if (at != std::string::npos) log.replace(at, 2, user);
    EXPECT_TRUE(cap.contains(log)) << log;
    xcap_.clearScripts();

    // The next read succeeds.
    ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
    EXPECT_EQ(2u, out.size());
  }
}

// XCAP/maxResourceListSize bounds the distinct buddies; -1 means no limit, and any other
// negative value refuses every document, even one without buddies.
TEST_F(ResourceListsTest, ListSizeLimit) {
  struct Case {
    const char* limit;
    int buddies;
    XCAPAccessResult result;
  } cases[] = {{"2", 2, XCAP_SUCCESS}, {"2", 3, XCAP_DECODE_FAILED}, {"0", 1, XCAP_DECODE_FAILED},
               {"0", 0, XCAP_SUCCESS}, {"-1", 50, XCAP_SUCCESS},     {"-1", 0, XCAP_SUCCESS},
               {"-5", 3, XCAP_DECODE_FAILED}, {"-5", 0, XCAP_DECODE_FAILED}, {"-2", 0, XCAP_DECODE_FAILED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.limit) + " with " + std::to_string(c.buddies));
    Config::instance()->setValue("XCAP", "maxResourceListSize", c.limit);
    std::string user = freshUser("limit");
    xcap_.putDocument(docPath(user), smallDoc(c.buddies));
    std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_UTF8);
    tree<TreeNode> out;
    EXPECT_EQ(c.result, u->getBuddyTree(out));
    EXPECT_EQ(c.result == XCAP_SUCCESS, !u->etag().empty());
    if (c.result != XCAP_SUCCESS) {
      // Nothing was cached: the next read asks again.
      u->getBuddyTree(out);
      EXPECT_EQ(2u, xcap_.countRequests("GET", fullPath(user)));
    }
  }
}

TEST_F(ResourceListsTest, DocumentNameFollowsBuddysType) {
  struct Case {
    const char* type;
    const char* doc;
  } cases[] = {{"mail", "buddys_detail"}, {"Mail", "buddys"}, {"im", "buddys"}, {nullptr, "buddys"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type ? c.type : "(absent)");
    if (c.type) Config::instance()->setValue("XCAP", "buddysType", c.type);
    else Config::instance()->removeValue("XCAP", "buddysType");
    std::string user = freshUser("type");
    xcap_.putDocument(docPath(user, c.doc), smallDoc(1));
    std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_UTF8);
    tree<TreeNode> out;
    EXPECT_EQ(XCAP_SUCCESS, u->getBuddyTree(out));
    EXPECT_EQ(1u, xcap_.countRequests("GET", fullPath(user, c.doc)));
  }
}

// Two threads reading one usage at once both get the whole tree.
TEST_F(ResourceListsTest, ConcurrentReaders) {
  std::string user = freshUser("threads");
  xcap_.setSendEtag(false);  // every read fetches and swaps its result in
  xcap_.putDocument(docPath(user), kSample);
  std::unique_ptr<ResourceListsAppUsage> u = usage(user, CODING_GB2312);
  XCAPAccessResult results[2] = {XCAP_FAILURE, XCAP_FAILURE};
  size_t sizes[2] = {0, 0};
  std::thread readers[2];
  for (int i = 0; i < 2; ++i) {
    readers[i] = std::thread([&, i] {
      for (int k = 0; k < 5; ++k) {
        tree<TreeNode> out;
        results[i] = u->getBuddyTree(out);
        sizes[i] = out.size();
        std::vector<BuddyEntry> all;
        if (u->getBuddyList(all, "") != XCAP_SUCCESS || all.size() != 11) results[i] = XCAP_FAILURE;
      }
    });
  }
  for (std::thread& t : readers) t.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(XCAP_SUCCESS, results[i]);
    EXPECT_EQ(kSampleTree.size(), sizes[i]);
  }
}

// decodeTree on its own: the document's top-level lists go first, in document order, before
// what the caller's tree already holds, which keeps its order.
TEST_F(ResourceListsTest, DecodeTreePutsNewTopLevelNodesFirst) {
  std::unique_ptr<ResourceListsAppUsage> u = usage(freshUser("decode"), CODING_UTF8);
  tree<TreeNode> t;
  t.insert(t.end(), TreeNode("first", "first", ""));
  t.insert(t.end(), TreeNode("second", "second", ""));
  std::set<BuddyEntry> buddies;
  const std::string doc = "<resource-lists xmlns='" + kNs + "'><list name='a'><entry uri='x@corp'/>"
                          "</list><list name='b'/></resource-lists>";
  ASSERT_EQ(XCAP_SUCCESS, u->decodeTree(doc, t, buddies));
  std::vector<NodeRow> rows = rowsOf(t);
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ("a", rows[0].selector);
  EXPECT_EQ("a/x@corp", rows[1].selector);
  EXPECT_EQ("b", rows[2].selector);
  EXPECT_EQ("first", rows[3].selector);
  EXPECT_EQ("second", rows[4].selector);
  EXPECT_EQ(1u, buddies.size());

  // Into an empty tree the first list becomes the only top-level node, the rest follow it.
  tree<TreeNode> empty;
  std::set<BuddyEntry> none;
  ASSERT_EQ(XCAP_SUCCESS, u->decodeTree(doc, empty, none));
  rows = rowsOf(empty);
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("a", rows[0].selector);
  EXPECT_EQ("b", rows[2].selector);
  EXPECT_EQ(XCAP_DECODE_FAILED, u->decodeTree("not xml", t, buddies));
}

// Nesting: a document as deep as the parser accepts decodes whole, each list under the one
// around it, entries before nested lists and the first occurrence of a buddy kept; one level
// deeper, and a document thousands of levels deep, fail to decode and leave nothing behind.
TEST_F(ResourceListsTest, DeepDocumentsDecodeUpToTheBoundAndFailBeyond) {
  const int kDepthBound = 256;  // the bindings' nesting bound, Xcap_Bindings::MAX_ELEMENT_DEPTH
  std::unique_ptr<ResourceListsAppUsage> u = usage(freshUser("deep"), CODING_UTF8);
  // levels counts every element: resource-lists, then the lists, then an entry at the bottom.
  auto nested = [&](int levels) {
    std::string doc = "<resource-lists xmlns='" + kNs + "'>";
    int lists = levels - 2;
    for (int i = 0; i < lists; ++i) {
      // The deepest list's entries are at the last level: no display-name below them.
      std::string shown = i + 1 < lists ? "<display-name>d" + std::to_string(i) + "</display-name>" : "";
      doc += "<list name='l" + std::to_string(i) + "'><entry uri='dup@corp'>" + shown + "</entry>";
    }
    doc += "<entry uri='bottom@corp'/>";
    for (int i = 0; i < lists; ++i) doc += "</list>";
    return doc + "</resource-lists>";
  };
  {
    tree<TreeNode> t;
    std::set<BuddyEntry> buddies;
    ASSERT_EQ(XCAP_SUCCESS, u->decodeTree(nested(kDepthBound), t, buddies));
    const int lists = kDepthBound - 2;
    std::vector<NodeRow> rows = rowsOf(t);
    ASSERT_EQ(static_cast<size_t>(2 * lists + 1), rows.size());
    std::string selector;
    for (int i = 0; i < lists; ++i) {
      selector += (i == 0 ? "" : "/") + std::string("l") + std::to_string(i);
      EXPECT_EQ(selector, rows[2 * i].selector);
      EXPECT_EQ(selector + "/dup@corp", rows[2 * i + 1].selector);
    }
    EXPECT_EQ(selector + "/bottom@corp", rows.back().selector);
    ASSERT_EQ(2u, buddies.size());
    EXPECT_EQ("d0", buddies.rbegin()->displayName());  // dup@corp: the outermost occurrence
  }
  for (int levels : {kDepthBound + 1, 12500}) {
    SCOPED_TRACE(levels);
    tree<TreeNode> t;
    std::set<BuddyEntry> buddies;
    EXPECT_EQ(XCAP_DECODE_FAILED, u->decodeTree(nested(levels), t, buddies));
    EXPECT_EQ(0u, t.size());
    EXPECT_EQ(0u, buddies.size());
  }

  // Within the bound, long names nested deep would make the selectors grow with the square
  // of the depth (200 levels of 10 KB names: 2 MB of text, 200 MB of selectors): refused.
  // The same names side by side decode.
  const std::string longName(10000, 'n');
  std::string deepLong = "<resource-lists xmlns='" + kNs + "'>";
  std::string wide = deepLong;
  for (int i = 0; i < 200; ++i) {
    deepLong += "<list name='" + longName + std::to_string(i) + "'>";
    wide += "<list name='" + longName + std::to_string(i) + "'><entry uri='" + longName + "'/></list>";
  }
  for (int i = 0; i < 200; ++i) deepLong += "</list>";
  deepLong += "</resource-lists>";
  wide += "</resource-lists>";
  tree<TreeNode> t;
  std::set<BuddyEntry> buddies;
  EXPECT_EQ(XCAP_DECODE_FAILED, u->decodeTree(deepLong, t, buddies));
  t.clear();
  buddies.clear();
  EXPECT_EQ(XCAP_SUCCESS, u->decodeTree(wide, t, buddies));
  EXPECT_EQ(400u, t.size());
}

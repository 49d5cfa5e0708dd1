// The resource-lists edit operations against the fake XCAP server, which applies element
// PUTs and DELETEs to the stored document: the request each operation sends, the document it
// leaves on the server (read back through the usage), the status mapping and the checks that
// send nothing.
#include "XcapTestSupport.h"

#include "corvane/ResourceListsAppUsage.h"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"

#include <functional>
#include <memory>
#include <thread>

using namespace xcaptest;

namespace {

const std::string kNs = "urn:ietf:params:xml:ns:resource-lists";
const std::string kNsAttr = " xmlns=\"urn:ietf:params:xml:ns:resource-lists\"";

// UTF-8 throughout.
const std::string kDoc = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization"><display-name>示例公司</display-name>
    <list name="rd"><display-name>研发部</display-name>
      <entry uri="bob@corp.example"><display-name>Bob</display-name><nickname>bobby</nickname></entry>
      <entry uri="carol@corp.example"><display-name>carol</display-name></entry>
    </list>
    <list name="sales"><display-name>销售部</display-name>
      <entry uri="frank@corp.example"><display-name>Frank O'Neil</display-name></entry>
    </list>
    <entry uri="erin@corp.example"/>
  </list>
  <list name="mybuddys"><entry uri="jack@corp.example"/></list>
</resource-lists>
)";

std::string docPath(const std::string& user) { return "resource-lists/myusers/" + user + "/buddys"; }

GroupEntry group(const std::string& selector, const std::string& name = "",
                 const std::string& displayName = "") {
  return GroupEntry(selector, name, displayName);
}

BuddyEntry buddy(const std::string& name, const std::string& displayName = "") {
  return BuddyEntry("", name, displayName);
}

// The node of `selector` in the tree, or null.
const TreeNode* find(const tree<TreeNode>& t, const std::string& selector) {
  for (tree<TreeNode>::pre_order_iterator it = t.begin(); it != t.end(); ++it) {
    if (it->selector() == selector) return &*it;
  }
  return nullptr;
}

std::string repeat(const std::string& unit, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += unit;
  return s;
}

}  // namespace

class ResourceListsEditTest : public XcapServersTest {
 protected:
  void SetUp() override {
    XcapServersTest::SetUp();
    user_ = freshUser("edit");
    xcap_.putDocument(docPath(user_), kDoc);
    usage_ = AppUsageFactory::instance()->getResourceLists(user_, client(user_, AUTH_PLAIN), false);
    ASSERT_NE(nullptr, usage_);
  }
  void TearDown() override {
    AppUsageFactory::instance()->releaseResourceLists(usage_);
    XcapServersTest::TearDown();
  }

  // "/xcap/resource-lists/myusers/<user>/buddys/~~/resource-lists" + rest.
  std::string nodePath(const std::string& rest) const {
    return "/xcap/" + docPath(user_) + "/~~/resource-lists" + rest;
  }
  // The tree as the server now has it, read through the usage (the cache must be empty).
  tree<TreeNode> serverTree() {
    tree<TreeNode> t;
    EXPECT_EQ(XCAP_SUCCESS, usage_->getBuddyTree(t));
    return t;
  }
  // Reads the tree once so the cache is valid; returns its ETag.
  std::string primeCache() {
    tree<TreeNode> t;
    EXPECT_EQ(XCAP_SUCCESS, usage_->getBuddyTree(t));
    EXPECT_FALSE(usage_->etag().empty());
    return usage_->etag();
  }

  std::string user_;
  ResourceListsAppUsage* usage_ = nullptr;
};

// Each operation's request as it reaches the server, and the document it leaves behind.
TEST_F(ResourceListsEditTest, EachOperationSendsItsElementAndChangesTheDocument) {
  BuddyEntry zed("", "zed@corp.example", u8"Zed <\"&\"> 张");
  zed.inviteMsg("let's talk");
  zed.nickName("z");
  zed.gender("f");
  BuddyEntry bobNick = buddy("bob@corp.example");
  bobNick.nickName("bobster");
  BuddyEntry bobNoNick = buddy("bob@corp.example");
  BuddyEntry bobPic = buddy("bob@corp.example");
  bobPic.designatePicture("pics/c&d.png");
  ResourceListsAppUsage* u = usage_;

  struct Case {
    const char* what;
    std::function<XCAPAccessResult()> op;
    XCAPAccessResult result;
    std::string method;
    std::string path;  // after ".../~~/resource-lists"
    std::string body;  // "" for DELETE
    std::function<void(const tree<TreeNode>&)> check;
  };
  const Case cases[] = {
      {"addBuddy", [&] { return u->addBuddy(zed, group("organization/rd")); }, XCAP_SUCCESS, "PUT",
       "/list[@name='organization']/list[@name='rd']/entry[@uri='zed@corp.example']",
       "<entry" + kNsAttr + u8" uri=\"zed@corp.example\"><display-name>Zed &lt;&quot;&amp;&quot;&gt; 张"
       "</display-name><invite-msg>let&apos;s talk</invite-msg><nickname>z</nickname>"
       "<gender>f</gender></entry>",
       [](const tree<TreeNode>& t) {
         const TreeNode* n = find(t, "organization/rd/zed@corp.example");
         ASSERT_NE(nullptr, n);
         EXPECT_EQ(u8"Zed <\"&\"> 张", n->displayName());
         EXPECT_EQ("z", n->nickName());
         EXPECT_EQ("f", n->gender());
       }},
      {"addBuddy again replaces", [&] { return u->addBuddy(buddy("bob@corp.example", "B2"), group("organization/rd")); },
       XCAP_REPLACED, "PUT", "/list[@name='organization']/list[@name='rd']/entry[@uri='bob@corp.example']",
       "<entry" + kNsAttr + " uri=\"bob@corp.example\"><display-name>B2</display-name></entry>",
       [](const tree<TreeNode>& t) {
         ASSERT_NE(nullptr, find(t, "organization/rd/bob@corp.example"));
         EXPECT_EQ("B2", find(t, "organization/rd/bob@corp.example")->displayName());
         EXPECT_EQ("", find(t, "organization/rd/bob@corp.example")->nickName());
       }},
      {"removeBuddy", [&] { return u->removeBuddy(buddy("carol@corp.example"), group("organization/rd")); },
       XCAP_SUCCESS, "DELETE", "/list[@name='organization']/list[@name='rd']/entry[@uri='carol@corp.example']", "",
       [](const tree<TreeNode>& t) { EXPECT_EQ(nullptr, find(t, "organization/rd/carol@corp.example")); }},
      {"removeBuddy of a free buddy", [&] { return u->removeBuddy(buddy("erin@corp.example"), group("organization/freebuddys")); },
       XCAP_SUCCESS, "DELETE", "/list[@name='organization']/entry[@uri='erin@corp.example']", "",
       [](const tree<TreeNode>& t) { EXPECT_EQ(nullptr, find(t, "organization/freebuddys")); }},
      {"modifyBuddy nickname", [&] { return u->modifyBuddy(bobNick, group("organization/rd"), ResourceListsAppUsage::MODIFY_NICKNAME); },
       XCAP_SUCCESS, "PUT", "/list[@name='organization']/list[@name='rd']/entry[@uri='bob@corp.example']/nickname",
       "<nickname" + kNsAttr + ">bobster</nickname>",
       [](const tree<TreeNode>& t) { EXPECT_EQ("bobster", find(t, "organization/rd/bob@corp.example")->nickName()); }},
      {"modifyBuddy empty nickname deletes it", [&] { return u->modifyBuddy(bobNoNick, group("organization/rd"), ResourceListsAppUsage::MODIFY_NICKNAME); },
       XCAP_SUCCESS, "DELETE", "/list[@name='organization']/list[@name='rd']/entry[@uri='bob@corp.example']/nickname", "",
       [](const tree<TreeNode>& t) {
         EXPECT_EQ("", find(t, "organization/rd/bob@corp.example")->nickName());
         EXPECT_EQ("B2", find(t, "organization/rd/bob@corp.example")->displayName());
       }},
      {"modifyBuddy new picture (201)", [&] { return u->modifyBuddy(bobPic, group("organization/rd"), ResourceListsAppUsage::MODIFY_DESIGNATE_PICTURE); },
       XCAP_SUCCESS, "PUT", "/list[@name='organization']/list[@name='rd']/entry[@uri='bob@corp.example']/designate-picture",
       "<designate-picture" + kNsAttr + ">pics/c&amp;d.png</designate-picture>",
       [this](const tree<TreeNode>& t) {
         EXPECT_EQ("B2", find(t, "organization/rd/bob@corp.example")->displayName());
         EXPECT_NE(std::string::npos, xcap_.documentOf(docPath(user_)).find("pics/c&amp;d.png</designate-picture>"));
       }},
      {"addGroup", [&] { return u->addGroup(group("", "ops", u8"运维 & 支持"), group("organization")); },
       XCAP_SUCCESS, "PUT", "/list[@name='organization']/list[@name='ops']",
       "<list" + kNsAttr + u8" name=\"ops\"><display-name>运维 &amp; 支持</display-name></list>",
       [](const tree<TreeNode>& t) {
         ASSERT_NE(nullptr, find(t, "organization/ops"));
         EXPECT_EQ(u8"运维 & 支持", find(t, "organization/ops")->displayName());
       }},
      {"addGroup at the top", [&] { return u->addGroup(group("", "O'Brien team"), group("")); },
       XCAP_SUCCESS, "PUT", "/list[@name=\"O'Brien team\"]",
       "<list" + kNsAttr + " name=\"O&apos;Brien team\"></list>",
       [](const tree<TreeNode>& t) { EXPECT_NE(nullptr, find(t, "O'Brien team")); }},
      {"modifyGroup", [&] { return u->modifyGroup(group("organization/sales", "sales", "Sales <EU>")); },
       XCAP_SUCCESS, "PUT", "/list[@name='organization']/list[@name='sales']/display-name",
       "<display-name" + kNsAttr + ">Sales &lt;EU&gt;</display-name>",
       [](const tree<TreeNode>& t) { EXPECT_EQ("Sales <EU>", find(t, "organization/sales")->displayName()); }},
      {"removeGroup", [&] { return u->removeGroup(group("mybuddys")); },
       XCAP_SUCCESS, "DELETE", "/list[@name='mybuddys']", "",
       [](const tree<TreeNode>& t) {
         EXPECT_EQ(nullptr, find(t, "mybuddys"));
         EXPECT_NE(nullptr, find(t, "organization"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    primeCache();
    xcap_.clearRequests();
    ASSERT_EQ(c.result, c.op());
    EXPECT_EQ("", usage_->etag());  // a success empties the cache
    std::vector<HttpRequestRecord> log = xcap_.requests();
    ASSERT_EQ(1u, log.size());
    const HttpRequestRecord& r = log[0];
    EXPECT_EQ(c.method, r.method);
    EXPECT_EQ(nodePath(c.path), pwtest::urlDecode(r.path, false));
    EXPECT_EQ(c.body, r.body);
    EXPECT_FALSE(r.hasHeader("If-Match"));
    EXPECT_FALSE(r.hasHeader("If-None-Match"));
    if (c.method == "PUT") {
      EXPECT_EQ("application/xcap-el+xml", r.header("Content-Type"));
    }
    c.check(serverTree());
  }
}

// Failures by status: the result, and the cache left as it was (no new GET afterwards).
TEST_F(ResourceListsEditTest, FailingStatusesMapToResultsAndKeepTheCache) {
  ResourceListsAppUsage* u = usage_;
  BuddyEntry ghostNick = buddy("ghost@corp.example");
  ghostNick.nickName("g");
  HttpReply badXml(409, "<xcap-error", "application/xcap-error+xml");
  HttpReply notUtf8(409, FakeXcapServer::xcapErrorBody("not-utf-8"), "application/xcap-error+xml");
  HttpReply dropped;
  dropped.drop = true;
  struct Case {
    const char* what;
    const HttpReply* scripted;  // null: the server's own answer
    std::function<XCAPAccessResult()> op;
    XCAPAccessResult result;
  };
  const Case cases[] = {
      {"addBuddy into a missing group: no-parent", nullptr,
       [&] { return u->addBuddy(buddy("x@corp.example"), group("organization/nosuch")); }, XCAP_NO_PARENT},
      {"addGroup under a missing group: no-parent", nullptr,
       [&] { return u->addGroup(group("", "g"), group("nosuch/deeper")); }, XCAP_NO_PARENT},
      {"addGroup, 409 of another kind", &notUtf8, [&] { return u->addGroup(group("", "g"), group("")); }, XCAP_FAILURE},
      {"addBuddy, 409 body that does not parse", &badXml,
       [&] { return u->addBuddy(buddy("x@corp.example"), group("mybuddys")); }, XCAP_DECODE_FAILED},
      {"addBuddy, 409 without body", nullptr, nullptr, XCAP_FAILURE},  // filled below
      {"removeBuddy of a missing entry", nullptr,
       [&] { return u->removeBuddy(buddy("ghost@corp.example"), group("mybuddys")); }, XCAP_NODE_NOT_FOUND},
      {"modifyBuddy delete of a missing child", nullptr,
       [&] { return u->modifyBuddy(buddy("jack@corp.example"), group("mybuddys"), ResourceListsAppUsage::MODIFY_NICKNAME); },
       XCAP_NODE_NOT_FOUND},
      {"modifyBuddy of a missing entry", nullptr,
       [&] { return u->modifyBuddy(ghostNick, group("mybuddys"), ResourceListsAppUsage::MODIFY_NICKNAME); }, XCAP_FAILURE},
      {"removeGroup of a missing group: 404 is no 4 here", nullptr,
       [&] { return u->removeGroup(group("organization/nosuch")); }, XCAP_FAILURE},
      {"modifyGroup of a missing group", nullptr,
       [&] { return u->modifyGroup(group("nosuch", "nosuch", "x")); }, XCAP_FAILURE},
      {"addBuddy, 500", nullptr, nullptr, XCAP_FAILURE},  // filled below
      {"removeBuddy, dropped connection", &dropped,
       [&] { return u->removeBuddy(buddy("jack@corp.example"), group("mybuddys")); }, XCAP_NETWORK_ERROR},
  };
  HttpReply noBody(409);
  HttpReply serverError(500);
  for (const Case& c0 : cases) {
    Case c = c0;
    if (c.op == nullptr) {
      c.scripted = c.what == std::string("addBuddy, 500") ? &serverError : &noBody;
      c.op = [&] { return u->addBuddy(buddy("y@corp.example"), group("mybuddys")); };
    }
    SCOPED_TRACE(c.what);
    std::string etag = primeCache();
    std::string before = xcap_.documentOf(docPath(user_));
    // A dropped reused connection is retried once by the transport: drop both attempts.
    if (c.scripted != nullptr) {
      xcap_.script("/xcap/" + docPath(user_) + "/~~/", *c.scripted, c.scripted == &dropped ? 2 : 1);
    }
    EXPECT_EQ(c.result, c.op());
    xcap_.clearScripts();
    EXPECT_EQ(etag, usage_->etag());
    EXPECT_EQ(before, xcap_.documentOf(docPath(user_)));
  }
}

// Checks that fail send nothing; limits count characters and pass at the limit.
TEST_F(ResourceListsEditTest, ArgumentChecksSendNothing) {
  ResourceListsAppUsage* u = usage_;
  auto withInvite = [](const std::string& text) {
    BuddyEntry b = buddy("new@corp.example");
    b.inviteMsg(text);
    return b;
  };
  auto withNick = [](const std::string& text) {
    BuddyEntry b = buddy("bob@corp.example");
    b.nickName(text);
    return b;
  };
  auto withPicture = [](const std::string& text) {
    BuddyEntry b = buddy("bob@corp.example");
    b.designatePicture(text);
    return b;
  };
  const GroupEntry rd = group("organization/rd");
  struct Case {
    const char* what;
    std::function<XCAPAccessResult()> op;
    XCAPAccessResult result;
    bool sent;
  };
  const Case cases[] = {
      {"invite of 128", [&] { return u->addBuddy(withInvite(std::string(128, 'i')), rd); }, XCAP_SUCCESS, true},
      {"invite of 129", [&] { return u->addBuddy(withInvite(std::string(129, 'i')), rd); }, XCAP_INVALID_ARGUMENT, false},
      {"nick of 64 Chinese characters", [&] { return u->addBuddy(withNick(repeat(u8"名", 64)), rd); }, XCAP_REPLACED, true},
      {"nick of 65 on add", [&] { return u->addBuddy(withNick(std::string(65, 'n')), rd); }, XCAP_INVALID_ARGUMENT, false},
      {"nick of 65 on modify",
       [&] { return u->modifyBuddy(withNick(std::string(65, 'n')), rd, ResourceListsAppUsage::MODIFY_NICKNAME); },
       XCAP_INVALID_ARGUMENT, false},
      {"picture of 256",
       [&] { return u->modifyBuddy(withPicture(std::string(256, 'p')), rd, ResourceListsAppUsage::MODIFY_DESIGNATE_PICTURE); },
       XCAP_SUCCESS, true},
      {"picture of 257",
       [&] { return u->modifyBuddy(withPicture(std::string(257, 'p')), rd, ResourceListsAppUsage::MODIFY_DESIGNATE_PICTURE); },
       XCAP_INVALID_ARGUMENT, false},
      {"unknown modify type",
       [&] { return u->modifyBuddy(withNick("x"), rd, static_cast<ResourceListsAppUsage::ModifyBuddyType>(7)); },
       XCAP_INVALID_ARGUMENT, false},
      {"user id without domain", [&] { return u->addBuddy(buddy("bob"), rd); }, XCAP_INVALID_ARGUMENT, false},
      {"remove with an invalid id", [&] { return u->removeBuddy(buddy("@corp"), rd); }, XCAP_INVALID_ARGUMENT, false},
      {"group without name", [&] { return u->addGroup(group("", ""), group("")); }, XCAP_INVALID_ARGUMENT, false},
      {"group name with a slash", [&] { return u->addGroup(group("", "a/b"), group("")); }, XCAP_INVALID_ARGUMENT, false},
      {"display name of 256", [&] { return u->addGroup(group("", "g", std::string(256, 'd')), group("")); },
       XCAP_INVALID_ARGUMENT, false},
      {"display name of 255", [&] { return u->addGroup(group("", "g", std::string(255, 'd')), group("")); },
       XCAP_SUCCESS, true},
      {"modifyGroup without name", [&] { return u->modifyGroup(group("mybuddys", "", "x")); }, XCAP_INVALID_ARGUMENT, false},
      {"removeGroup of the root", [&] { return u->removeGroup(group("")); }, XCAP_INVALID_ARGUMENT, false},
      {"removeGroup of a bare slash", [&] { return u->removeGroup(group("/")); }, XCAP_INVALID_ARGUMENT, false},
      {"modifyGroup of the root", [&] { return u->modifyGroup(group("", "x", "y")); }, XCAP_INVALID_ARGUMENT, false},
      {"selector that is not UTF-8", [&] { return u->removeGroup(group("\xC4\xE3")); }, XCAP_CODING_ERROR, false},
      {"display name that is not UTF-8", [&] { return u->addBuddy(buddy("q@corp.example", "\xC4\xE3"), rd); },
       XCAP_CODING_ERROR, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xcap_.clearRequests();
    EXPECT_EQ(c.result, c.op());
    EXPECT_EQ(c.sent ? 1u : 0u, xcap_.requestCount());
  }
  // The root element is still there.
  EXPECT_NE(std::string::npos, xcap_.documentOf(docPath(user_)).find("resource-lists"));
}

// GB2312 callers: the selector and every value go out as UTF-8, and come back as GB2312.
TEST_F(ResourceListsEditTest, Gb2312TextsAreSentAsUtf8) {
  std::string user = freshUser("gbk");
  xcap_.putDocument(docPath(user), kDoc);
  ResourceListsAppUsage u(user, CODING_GB2312, client(user, AUTH_PLAIN), false);
  // "研发部" and "测试二组" as GBK bytes (this file's narrow literals are GBK).
  ASSERT_EQ(XCAP_SUCCESS, u.addGroup(group("", "测试二组", "测试二组"), group("organization/rd")));
  HttpRequestRecord r = xcap_.requests().back();
  EXPECT_EQ("/xcap/" + docPath(user) + u8"/~~/resource-lists/list[@name='organization']/list[@name='rd']/list[@name='测试二组']",
            pwtest::urlDecode(r.path, false));
  EXPECT_EQ("<list" + kNsAttr + u8" name=\"测试二组\"><display-name>测试二组</display-name></list>", r.body);
  tree<TreeNode> t;
  ASSERT_EQ(XCAP_SUCCESS, u.getBuddyTree(t));
  const TreeNode* n = find(t, "organization/rd/测试二组");
  ASSERT_NE(nullptr, n);
  EXPECT_EQ("测试二组", n->displayName());
}

// The empty document: exact text, created then replaced; later edits build on it. A missing
// document makes an edit a no-parent conflict.
TEST_F(ResourceListsEditTest, PutNewDocumentThenEdit) {
  std::string user = freshUser("newdoc");
  ResourceListsAppUsage u(user, CODING_UTF8, client(user, AUTH_PLAIN), false);
  EXPECT_EQ(XCAP_NO_PARENT, u.addGroup(group("", "friends"), group("")));

  ASSERT_EQ(XCAP_SUCCESS, u.putNewDocument());
  HttpRequestRecord r = xcap_.requests().back();
  EXPECT_EQ("PUT", r.method);
  EXPECT_EQ("/xcap/" + docPath(user), pwtest::urlDecode(r.path, false));
  EXPECT_EQ("application/resource-lists+xml", r.header("Content-Type"));
  const std::string empty =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><resource-lists xmlns=\"" + kNs + "\" /> ";
  EXPECT_EQ(empty, r.body);
  EXPECT_EQ(empty, xcap_.documentOf(docPath(user)));
  EXPECT_EQ(XCAP_SUCCESS, u.putNewDocument());  // 200: replaced

  ASSERT_EQ(XCAP_SUCCESS, u.addGroup(group("", "friends", "Friends"), group("")));
  ASSERT_EQ(XCAP_SUCCESS, u.addBuddy(buddy("amy@corp.example", "Amy"), group("friends")));
  tree<TreeNode> t;
  ASSERT_EQ(XCAP_SUCCESS, u.getBuddyTree(t));
  ASSERT_NE(nullptr, find(t, "friends/amy@corp.example"));
  EXPECT_EQ("Amy", find(t, "friends/amy@corp.example")->displayName());

  IM_LogCapture cap;
  xcap_.script("/xcap/", HttpReply(500));
  EXPECT_EQ(XCAP_FAILURE, u.putNewDocument());
  EXPECT_TRUE(cap.contains("Corvane, [userId = " + user +
                           ", status = 500, reason = Internal Server Error, request = putNewDocument]"));
}

// The failure log lines name the operation.
TEST_F(ResourceListsEditTest, FailuresAreLogged) {
  IM_LogCapture cap;
  EXPECT_EQ(XCAP_NODE_NOT_FOUND, usage_->removeBuddy(buddy("ghost@corp.example"), group("mybuddys")));
  EXPECT_TRUE(cap.contains("Corvane, [userId = " + user_ +
                           ", status = 404, reason = Not Found, request = removeBuddy]"));
  EXPECT_EQ(XCAP_NO_PARENT, usage_->addGroup(group("", "g"), group("nosuch")));
  EXPECT_TRUE(cap.contains("Corvane, [userId = " + user_ +
                           ", status = 409, reason = Conflict, request = addGroup]"));
}

// The server honours ETag conditions on node requests as on documents: a stale If-Match is
// refused with 412 and changes nothing; the current one goes through and moves the ETag.
TEST_F(ResourceListsEditTest, ConditionalNodeRequestsAgainstTheDocumentEtag) {
  Sptr<IXcapClient> c = client(user_, AUTH_PLAIN);
  std::vector<ElementSelectorStep*> steps = {new ElementSelectorStep("resource-lists"),
                                             new ElementSelectorStepByAttr("list", "name", "mybuddys"),
                                             new ElementSelectorStepByAttr("entry", "uri", "kim@corp.example")};
  ElementSelector sel(steps);
  UserElementUri uri("resource-lists", "myusers/" + user_, "buddys", sel, XcapNamespaceMap());
  const std::string body = "<entry" + kNsAttr + " uri=\"kim@corp.example\"/>";
  std::string etag = xcap_.etagOf(docPath(user_));
  std::string before = xcap_.documentOf(docPath(user_));

  HTTPResponse stale;
  ASSERT_EQ(0, c->putElementIfMatch(uri, "\"rl-stale\"", body, stale));
  EXPECT_EQ(412, stale.getStatus());
  HTTPResponse staleDelete;
  ASSERT_EQ(0, c->deleteElementIfMatch(uri, "\"rl-stale\"", staleDelete));
  EXPECT_EQ(412, staleDelete.getStatus());
  HTTPResponse exists;
  ASSERT_EQ(0, c->putElementIfNoneMatch(uri, etag, body, exists));
  EXPECT_EQ(412, exists.getStatus());
  EXPECT_EQ(before, xcap_.documentOf(docPath(user_)));
  EXPECT_EQ(etag, xcap_.etagOf(docPath(user_)));

  HTTPResponse fresh;
  ASSERT_EQ(0, c->putElementIfMatch(uri, etag, body, fresh));
  EXPECT_EQ(201, fresh.getStatus());
  std::string next = xcap_.etagOf(docPath(user_));
  EXPECT_NE(etag, next);
  EXPECT_EQ(next, fresh.get(HTTPMessage::ETAG));
  HTTPResponse read;
  ASSERT_EQ(0, c->getElement(uri, read));
  EXPECT_EQ(200, read.getStatus());
  EXPECT_NE(std::string::npos, read.getBodyText().find("kim@corp.example"));
  HTTPResponse gone;
  ASSERT_EQ(0, c->deleteElementIfMatch(uri, next, gone));
  EXPECT_EQ(200, gone.getStatus());
  EXPECT_EQ(std::string::npos, xcap_.documentOf(docPath(user_)).find("kim@corp.example"));

  // The usage sends its edits unconditionally: a 412 scripted in its place is a failure that
  // leaves the cache alone.
  std::string cached = primeCache();
  xcap_.script("/xcap/" + docPath(user_) + "/~~/", HttpReply(412));
  EXPECT_EQ(XCAP_FAILURE, usage_->removeBuddy(buddy("jack@corp.example"), group("mybuddys")));
  EXPECT_EQ(cached, usage_->etag());
}

// Reads and edits of one shared usage from two threads: every call completes with a result of
// its own and every edit reaches the document. (A read racing an edit may cache the tree from
// before it; the usage does not order them.)
TEST_F(ResourceListsEditTest, ConcurrentReadsAndEditsOnOneUsage) {
  ResourceListsAppUsage* u = usage_;
  std::thread editor([u] {
    for (int i = 0; i < 10; ++i) {
      BuddyEntry b("", "t" + std::to_string(i) + "@corp.example", "T");
      EXPECT_EQ(XCAP_SUCCESS, u->addBuddy(b, GroupEntry("mybuddys", "", "")));
    }
  });
  for (int i = 0; i < 10; ++i) {
    tree<TreeNode> t;
    EXPECT_EQ(XCAP_SUCCESS, u->getBuddyTree(t));
    EXPECT_NE(nullptr, find(t, "mybuddys/jack@corp.example"));
    std::vector<BuddyEntry> all;
    EXPECT_EQ(XCAP_SUCCESS, u->getBuddyList(all, ""));
  }
  editor.join();
  std::string doc = xcap_.documentOf(docPath(user_));
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(doc.find("t" + std::to_string(i) + "@corp.example") != std::string::npos);
}

// "?", "#" and "%" inside a user id or a selector value stay inside the request path: the
// document of a user whose id holds them is read, and a group "a?b" with a buddy
// "x?y@example.com" is added and comes back from the server's node selector as written.
TEST_F(ResourceListsEditTest, ReservedCharactersInValuesStayInThePath) {
  const std::string user = "q?#%" + freshUser("reserved");
  xcap_.putDocument(docPath(user), kDoc);
  ResourceListsAppUsage* u =
      AppUsageFactory::instance()->getResourceLists(user, client(user, AUTH_PLAIN), false);
  ASSERT_NE(nullptr, u);
  std::shared_ptr<void> release(nullptr, [u](void*) { AppUsageFactory::instance()->releaseResourceLists(u); });

  tree<TreeNode> t;
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(t));
  HttpRequestRecord get = xcap_.http().lastRequest();
  EXPECT_EQ("", get.query);
  EXPECT_NE(std::string::npos, get.path.find("/q%3F%23%25reserved")) << get.path;

  ASSERT_EQ(XCAP_SUCCESS, u->addGroup(group("", "a?b", "A?B"), group("organization")));
  HttpRequestRecord put = xcap_.http().lastRequest();
  EXPECT_EQ("", put.query);
  EXPECT_NE(std::string::npos, put.path.find("a%3Fb")) << put.path;
  ASSERT_EQ(XCAP_SUCCESS, u->addBuddy(buddy("x?y@example.com", "X"), group("organization/a?b")));
  EXPECT_EQ("", xcap_.http().lastRequest().query);

  t.clear();
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(t));
  const TreeNode* g = find(t, "organization/a?b");
  ASSERT_NE(nullptr, g);
  EXPECT_EQ("A?B", g->displayName());
  const TreeNode* b = find(t, "organization/a?b/x?y@example.com");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ("X", b->displayName());

  // And away again through the same selectors.
  ASSERT_EQ(XCAP_SUCCESS, u->removeBuddy(buddy("x?y@example.com"), group("organization/a?b")));
  t.clear();
  ASSERT_EQ(XCAP_SUCCESS, u->getBuddyTree(t));
  EXPECT_EQ(nullptr, find(t, "organization/a?b/x?y@example.com"));
  EXPECT_NE(nullptr, find(t, "organization/a?b"));
}

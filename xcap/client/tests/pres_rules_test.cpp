// The presence-rules usage against the fake XCAP server (which applies the element PUTs and
// DELETEs to its document), the RLS-services placeholder, and the factory's two other caches.
#include "XcapTestSupport.h"

#include "corvane/PresRulesAppUsage.h"
#include "corvane/RLSServicesAppUsage.h"
#include "log/IM_LogManager.h"

#include <functional>

using namespace xcaptest;

namespace {

const std::string kCr = "urn:ietf:params:xml:ns:common-policy";
const std::string kPr = "urn:ietf:params:xml:ns:pres-rules";
const std::string kBindings = "xmlns(cr=" + kCr + ")xmlns(pr=" + kPr + ")";

std::string docPath(const std::string& user) { return "pres-rules/myusers/" + user + "/presrules"; }

// UTF-8 text: rules out of the usual order, ids that are not the usual ones, domains, a
// polite-block rule, a rule without conditions, and the confirm rule's own attributes.
const std::string kRules = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<cr:ruleset xmlns:cr="urn:ietf:params:xml:ns:common-policy" xmlns:pr="urn:ietf:params:xml:ns:pres-rules">
  <cr:rule id="r-allow"><cr:conditions><cr:identity>
      <cr:many domain="corp.example"/><cr:one id="ann@corp.example"/><cr:one id="bo@corp.example"/>
    </cr:identity></cr:conditions>
    <cr:actions><pr:sub-handling>allow</pr:sub-handling></cr:actions></cr:rule>
  <cr:rule id="r-polite"><cr:conditions><cr:identity><cr:one id="pete@corp.example"/><cr:many domain="spam.example"/></cr:identity></cr:conditions>
    <cr:actions><pr:sub-handling>polite-block</pr:sub-handling></cr:actions></cr:rule>
  <cr:rule id="r-confirm"><cr:conditions><cr:identity>
      <cr:one id="cy@corp.example" display-name="小陈" invite-msg="加我"/><cr:one id="di@corp.example"/>
    </cr:identity></cr:conditions>
    <cr:actions><pr:sub-handling>confirm</pr:sub-handling></cr:actions></cr:rule>
  <cr:rule id="r-bare"><cr:actions><pr:sub-handling>block</pr:sub-handling></cr:actions></cr:rule>
  <cr:rule id="r-block"><cr:conditions><cr:identity><cr:many domain="evil.example"/><cr:one id="eve@evil.example"/></cr:identity></cr:conditions>
    <cr:actions><pr:sub-handling>block</pr:sub-handling></cr:actions></cr:rule>
</cr:ruleset>
)";

typedef std::vector<std::string> Names;

}  // namespace

class PresRulesTest : public XcapServersTest {
 protected:
  void SetUp() override {
    XcapServersTest::SetUp();
    user_ = freshUser("rules");
    usage_ = AppUsageFactory::instance()->getPresRules(user_, client(user_, AUTH_PLAIN));
    ASSERT_NE(nullptr, usage_);
  }
  void TearDown() override {
    AppUsageFactory::instance()->releasePresRules(usage_);
    XcapServersTest::TearDown();
  }
  size_t documentGets() const { return xcap_.countRequests("GET", "/xcap/" + docPath(user_)); }

  std::string user_;
  PresRulesAppUsage* usage_ = nullptr;
};

// From nothing: the rules are missing until the initial document is written; then adds and
// removes change the server's document, and every read after a change fetches it again.
TEST_F(PresRulesTest, InitialDocumentThenAddsAndRemoves) {
  Names out{"untouched"};
  EXPECT_EQ(XCAP_DOCUMENT_NOT_FOUND, usage_->getAllowList(out));
  EXPECT_EQ(Names{"untouched"}, out);
  EXPECT_EQ(XCAP_NO_PARENT, usage_->addToAllowList("bob@corp.example"));

  ASSERT_EQ(XCAP_SUCCESS, usage_->putNewDocument());
  HttpRequestRecord put = xcap_.requests().back();
  EXPECT_EQ("application/auth-policy+xml", put.header("Content-Type"));
  const std::string rule =
      "<cr:rule id=\"allow-list\">\r\n<cr:conditions>\r\n<cr:identity>\r\n</cr:identity>\r\n"
      "</cr:conditions>\r\n<cr:actions>\r\n<pr:sub-handling>allow</pr:sub-handling>\r\n"
      "</cr:actions>\r\n<cr:transformations />\r\n</cr:rule>\r\n";
  EXPECT_EQ(0u, put.body.find("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<cr:ruleset xmlns=\"" + kPr +
                              "\"\r\nxmlns:pr=\"" + kPr + "\"\r\nxmlns:cr=\"" + kCr + "\">\r\n<cr:rule id=\"block-list\">"));
  EXPECT_NE(std::string::npos, put.body.find(rule + "</cr:ruleset>\r\n"));

  ASSERT_EQ(XCAP_SUCCESS, usage_->addToAllowList("bob@corp.example"));
  HttpRequestRecord add = xcap_.requests().back();
  EXPECT_EQ("PUT", add.method);
  EXPECT_EQ("/xcap/" + docPath(user_) +
                "/~~/cr:ruleset/cr:rule[@id='allow-list']/cr:conditions/cr:identity/cr:one[@id='bob@corp.example']",
            pwtest::urlDecode(add.path, false));
  EXPECT_EQ(kBindings, pwtest::urlDecode(add.query, false));
  EXPECT_EQ("<cr:one xmlns:cr=\"" + kCr + "\" id=\"bob@corp.example\"/>", add.body);
  EXPECT_EQ("application/xcap-el+xml", add.header("Content-Type"));
  EXPECT_FALSE(add.hasHeader("If-Match"));
  ASSERT_EQ(XCAP_SUCCESS, usage_->addToBlockList("carol@corp.example"));
  ASSERT_EQ(XCAP_SUCCESS, usage_->addToConfirmList("dave@corp.example"));
  ASSERT_EQ(XCAP_SUCCESS, usage_->addToAllowList("erin@corp.example"));

  size_t gets = documentGets();
  EXPECT_EQ(XCAP_SUCCESS, usage_->getAllowList(out));
  EXPECT_EQ((Names{"bob@corp.example", "erin@corp.example"}), out);
  EXPECT_EQ(XCAP_SUCCESS, usage_->getBlockList(out));
  EXPECT_EQ(Names{"carol@corp.example"}, out);
  EXPECT_EQ(XCAP_SUCCESS, usage_->getConfirmList(out));
  EXPECT_EQ(Names{"dave@corp.example"}, out);
  EXPECT_TRUE(usage_->isBuddyInAllowList("bob@corp.example"));
  EXPECT_FALSE(usage_->isBuddyInAllowList("dave@corp.example"));
  EXPECT_TRUE(usage_->isBuddyInConfirmList("dave@corp.example"));
  EXPECT_FALSE(usage_->isBuddyInBlockList("bob@corp.example"));
  EXPECT_EQ(gets + 1, documentGets());  // one fetch served every read
  EXPECT_EQ(xcap_.etagOf(docPath(user_)), usage_->etag());

  ASSERT_EQ(XCAP_SUCCESS, usage_->removeFromAllowList("bob@corp.example"));
  HttpRequestRecord del = xcap_.requests().back();
  EXPECT_EQ("DELETE", del.method);
  EXPECT_NE(std::string::npos, pwtest::urlDecode(del.path, false).find("cr:rule[@id='allow-list']"));
  EXPECT_EQ("", usage_->etag());
  EXPECT_EQ(XCAP_SUCCESS, usage_->getAllowList(out));
  EXPECT_EQ(Names{"erin@corp.example"}, out);
  EXPECT_EQ(gets + 2, documentGets());
  EXPECT_EQ(XCAP_FAILURE, usage_->removeFromAllowList("bob@corp.example"));  // 404 is no 4 here
  EXPECT_EQ(XCAP_SUCCESS, usage_->putNewDocument());                        // 200: replaced
}

// Reading a document written elsewhere: rules by sub-handling, not id; domains; the confirm
// rule's maps in the caller's coding; a second fetch rebuilds, it does not append.
TEST_F(PresRulesTest, ReadsRulesBySubHandling) {
  std::string user = freshUser("gbrules");
  xcap_.putDocument(docPath(user), kRules, "application/auth-policy+xml");
  PresRulesAppUsage* u = AppUsageFactory::instance()->getPresRules(user, client(user, AUTH_PLAIN));
  ASSERT_NE(nullptr, u);
  u->setCodingFormat(CODING_GB2312);
  Names out;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(XCAP_SUCCESS, u->getAllowList(out));
    EXPECT_EQ((Names{"ann@corp.example", "bo@corp.example"}), out);
    ASSERT_EQ(XCAP_SUCCESS, u->getBlockList(out));
    EXPECT_EQ(Names{"eve@evil.example"}, out);
    ASSERT_EQ(XCAP_SUCCESS, u->getConfirmList(out));
    EXPECT_EQ((Names{"cy@corp.example", "di@corp.example"}), out);
    ASSERT_EQ(XCAP_SUCCESS, u->getAllowDomains(out));
    EXPECT_EQ(Names{"corp.example"}, out);
    ASSERT_EQ(XCAP_SUCCESS, u->getBlockDomains(out));
    EXPECT_EQ(Names{"evil.example"}, out);
    for (auto in : {&PresRulesAppUsage::isBuddyInAllowList, &PresRulesAppUsage::isBuddyInConfirmList,
                    &PresRulesAppUsage::isBuddyInBlockList}) {
      EXPECT_FALSE((u->*in)("pete@corp.example"));  // only in the polite-block rule
    }
    std::string invite = "keep", name = "keep";
    u->getInviteMessage("di@corp.example", invite, name);
    EXPECT_EQ("keep", invite);
    EXPECT_EQ("keep", name);
    u->getInviteMessage("cy@corp.example", invite, name);
    EXPECT_EQ("加我", invite);  // GBK, as the caller's coding asks
    EXPECT_EQ("小陈", name);
    std::map<std::string, std::string> invites, names;
    u->getInviteMessages(invites, names);
    EXPECT_EQ(1u, invites.size());
    EXPECT_EQ(1u, names.size());
    // A change empties the cache; the next read fetches and rebuilds.
    EXPECT_EQ(XCAP_NO_PARENT, u->addToAllowList("zed@corp.example"));  // no rule "allow-list" here
    EXPECT_EQ("", u->etag());
  }
  EXPECT_EQ(2u, xcap_.countRequests("GET", "/xcap/" + docPath(user)));
  AppUsageFactory::instance()->releasePresRules(u);
}

// A fetch that fails leaves no cache: the reads report the failure (membership: false), leave
// their output alone, and the next read fetches again.
TEST_F(PresRulesTest, FailedFetchesLeaveNoCache) {
  xcap_.putDocument(docPath(user_), kRules, "application/auth-policy+xml");
  HttpReply dropped;
  dropped.drop = true;
  struct Case {
    const char* what;
    HttpReply reply;
    int count;
    XCAPAccessResult result;
  };
  const Case cases[] = {
      {"404", HttpReply(404), 1, XCAP_DOCUMENT_NOT_FOUND},
      {"500", HttpReply(500), 1, XCAP_FAILURE},
      {"200 without body", HttpReply(200), 1, XCAP_FAILURE},
      {"malformed", HttpReply(200, "<cr:ruleset xmlns:cr='" + kCr + "'><cr:rule"), 1, XCAP_DECODE_FAILED},
      {"wrong root", HttpReply(200, "<ruleset xmlns='urn:other'/>"), 1, XCAP_DECODE_FAILED},
      {"actions without sub-handling",
       HttpReply(200, "<cr:ruleset xmlns:cr='" + kCr + "'><cr:rule id='a'><cr:actions/></cr:rule></cr:ruleset>"), 1,
       XCAP_DECODE_FAILED},
      {"dropped", dropped, 2, XCAP_NETWORK_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HttpReply reply = c.reply;
    reply.header("ETag", "\"scripted\"");
    xcap_.script("/xcap/" + docPath(user_), reply, c.count);
    Names out{"untouched"};
    EXPECT_EQ(c.result, usage_->getAllowList(out));
    EXPECT_EQ(Names{"untouched"}, out);
    EXPECT_EQ("", usage_->etag());
    xcap_.script("/xcap/" + docPath(user_), reply, c.count);
    EXPECT_FALSE(usage_->isBuddyInAllowList("ann@corp.example"));
    xcap_.clearScripts();
    EXPECT_TRUE(usage_->isBuddyInAllowList("ann@corp.example"));
    EXPECT_FALSE(usage_->etag().empty());
    EXPECT_EQ(XCAP_INVALID_ARGUMENT, usage_->addToBlockList("no-domain"));  // empties the cache
  }
  IM_LogCapture cap;
  xcap_.script("/xcap/" + docPath(user_), HttpReply(404));
  Names out;
  usage_->getBlockList(out);
  EXPECT_TRUE(cap.contains("Corvane, [userId = " + user_ + ", status = 404, reason = Not Found, request = getPresRules]"));
}

// Ids go into the attribute escaped and into the selector quoted: an id with an apostrophe and
// an ampersand is stored and found again. Invalid ids send nothing; other 409s are failures.
TEST_F(PresRulesTest, UserIdsAreEscapedAndChecked) {
  ASSERT_EQ(XCAP_SUCCESS, usage_->putNewDocument());
  const std::string odd = "o'neil&co@corp.example";
  ASSERT_EQ(XCAP_SUCCESS, usage_->addToConfirmList(odd));
  HttpRequestRecord add = xcap_.requests().back();
  EXPECT_EQ("<cr:one xmlns:cr=\"" + kCr + "\" id=\"o&apos;neil&amp;co@corp.example\"/>", add.body);
  EXPECT_NE(std::string::npos, pwtest::urlDecode(add.path, false).find("cr:one[@id=\"o'neil&amp;co@corp.example\"]"));
  EXPECT_TRUE(usage_->isBuddyInConfirmList(odd));
  ASSERT_EQ(XCAP_SUCCESS, usage_->removeFromConfirmList(odd));
  EXPECT_FALSE(usage_->isBuddyInConfirmList(odd));

  size_t before = xcap_.requestCount();
  for (const std::string& bad : {std::string("bob"), std::string("@corp"), std::string("a@b@c")}) {
    EXPECT_EQ(XCAP_INVALID_ARGUMENT, usage_->addToAllowList(bad)) << bad;
    EXPECT_EQ(XCAP_INVALID_ARGUMENT, usage_->removeFromBlockList(bad)) << bad;
  }
  EXPECT_EQ(XCAP_INVALID_ARGUMENT, usage_->addToAllowList("\xC4\xE3@corp.example"));  // not UTF-8
  EXPECT_EQ(before, xcap_.requestCount());

  xcap_.script("/xcap/" + docPath(user_) + "/~~/",
               HttpReply(409, FakeXcapServer::xcapErrorBody("not-utf-8"), "application/xcap-error+xml"));
  EXPECT_EQ(XCAP_FAILURE, usage_->addToAllowList("ok@corp.example"));
  xcap_.script("/xcap/" + docPath(user_) + "/~~/", HttpReply(409, "<oops", "application/xcap-error+xml"));
  EXPECT_EQ(XCAP_DECODE_FAILED, usage_->addToAllowList("ok@corp.example"));
}

// A ticket-carrying request keeps the bindings query and adds the ticket after it.
TEST_F(PresRulesTest, SingleSignOnWithBindings) {
  xcap_.requireSso(true);
  xcap_.setIssueSessionCookie(false);
  std::string user = newUser("ssorules");
  PresRulesAppUsage* u = AppUsageFactory::instance()->getPresRules(user, client(user, AUTH_SSO));
  ASSERT_EQ(XCAP_SUCCESS, u->putNewDocument());
  ASSERT_EQ(XCAP_SUCCESS, u->addToBlockList("spam@corp.example"));
  HttpRequestRecord add = xcap_.requests().back();
  EXPECT_EQ(0u, add.query.find("xmlns("));
  EXPECT_TRUE(add.hasQueryParam("ticket"));
  EXPECT_TRUE(u->isBuddyInBlockList("spam@corp.example"));
  AppUsageFactory::instance()->releasePresRules(u);
}

// The factory's presence-rules and RLS-services caches: one object per user, counted.
TEST(AppUsageFactoryCaches, PresRulesAndRlsServicesAreCountedPerUser) {
  AppUsageFactory* f = AppUsageFactory::instance();
  std::string user = freshUser("caches");
  PresRulesAppUsage* a = f->getPresRules(user, Sptr<IXcapClient>());
  PresRulesAppUsage* b = f->getPresRules(user, "127.0.0.1:1", AUTH_PLAIN, DOWNLOAD_BLOCKING, "pw");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, b);
  EXPECT_EQ("pres-rules", a->getAuid());
  EXPECT_EQ("application/auth-policy+xml", a->getMimeType());
  EXPECT_FALSE(a->getXcapClient());  // the first client stays
  f->releasePresRules(a);
  EXPECT_EQ(a, f->getPresRules(user, Sptr<IXcapClient>()));  // still cached: count 2 -> 1 -> 2
  f->releasePresRules(a);
  f->releasePresRules(b);
  PresRulesAppUsage* c = f->getPresRules(user, "127.0.0.1:1", AUTH_PLAIN, DOWNLOAD_BLOCKING, "pw");
  ASSERT_NE(nullptr, c);
  EXPECT_TRUE(c->getXcapClient());  // a new object with its own client
  PresRulesAppUsage foreign(user, CODING_UTF8, Sptr<IXcapClient>());
  f->releasePresRules(&foreign);  // not the cached object: nothing happens
  f->releasePresRules(nullptr);
  EXPECT_EQ(c, f->getPresRules(user, Sptr<IXcapClient>()));
  f->releasePresRules(c);
  f->releasePresRules(c);

  RLSServicesAppUsage* r = f->getRLSServices(user, Sptr<IXcapClient>());
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(r, f->getRLSServices(user, "127.0.0.1:1", AUTH_SSO, DOWNLOAD_STREAMED, "pw"));
  EXPECT_EQ("rls-services", r->getAuid());
  EXPECT_EQ("application/rls-services+xml", r->getMimeType());
  EXPECT_EQ(user, r->getUser());
  ServiceEntry entry;
  std::vector<ServiceEntry> all;
  EXPECT_EQ(XCAP_SUCCESS, r->addService(&entry));
  EXPECT_EQ(XCAP_SUCCESS, r->removeService(nullptr));
  EXPECT_EQ(XCAP_SUCCESS, r->modifyService(&entry));
  EXPECT_EQ(XCAP_SUCCESS, r->getServices(&all));
  EXPECT_TRUE(all.empty());
  r->cancel();  // no client: nothing
  f->releaseRLSServices(r);
  f->releaseRLSServices(r);
  // The caches are apart: the same user has a resource-lists usage of its own.
  ResourceListsAppUsage* rl = f->getResourceLists(user, Sptr<IXcapClient>(), false);
  EXPECT_NE(static_cast<void*>(rl), static_cast<void*>(r));
  f->releaseResourceLists(rl);
}

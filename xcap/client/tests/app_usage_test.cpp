// The usage base (escaping, coding, XCAP errors) and the factory's per-user cache.
#include "corvane/AppUsage.h"
#include "corvane/ResourceListsAppUsage.h"
#include "corvane/XcapClient.h"
#include "log/IM_LogManager.h"

#include <gtest/gtest.h>

namespace {

const char kGbHello[] = "\xC4\xE3\xBA\xC3";  // 你好 in GB2312
const char kUtf8Hello[] = u8"你好";

// A client that is never asked to send (its server address is never dialled here).
Sptr<IXcapClient> idleClient(const std::string& user) {
  return Sptr<IXcapClient>(XcapClientFactory::instance()->createXcapClient(
      user, "127.0.0.1:9", AUTH_PLAIN, DOWNLOAD_BLOCKING, ""));
}

AppUsage usageWith(CodingFormat coding) {
  return AppUsage("alice@corp", "resource-lists", "application/resource-lists+xml", coding,
                  Sptr<IXcapClient>());
}

}  // namespace

TEST(AppUsageTest, XmlEscapeTable) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"a<b & 'c'", "a&lt;b &amp; &apos;c&apos;"},
      {"\"q\" > p", "&quot;q&quot; &gt; p"},
      {"plain", "plain"},
      {"", ""},
      {std::string("\xC4\xE3<\x80\xFF", 5), std::string("\xC4\xE3&lt;\x80\xFF", 8)},  // high bytes pass
      {std::string("ab\0<c", 5), "ab"},                                             // stops at NUL
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, AppUsage::xmlEscape(c.in)) << c.in;
}

TEST(AppUsageTest, CodingConversions) {
  AppUsage utf8 = usageWith(CODING_UTF8);
  AppUsage gb = usageWith(CODING_GB2312);
  AppUsage unknown = usageWith(static_cast<CodingFormat>(2));
  std::string out = "untouched";

  EXPECT_EQ(0, utf8.utf8Encode(kUtf8Hello, out));
  EXPECT_EQ(kUtf8Hello, out);
  out = "untouched";
  EXPECT_EQ(-1, utf8.utf8Encode(kGbHello, out));  // GB2312 bytes are not UTF-8
  EXPECT_EQ("untouched", out);
  EXPECT_EQ(0, utf8.utf8Decode(kUtf8Hello, out));
  EXPECT_EQ(kUtf8Hello, out);

  EXPECT_EQ(0, gb.utf8Encode(kGbHello, out));
  EXPECT_EQ(kUtf8Hello, out);
  EXPECT_EQ(0, gb.utf8Decode(kUtf8Hello, out));
  EXPECT_EQ(kGbHello, out);

  EXPECT_EQ(-1, unknown.utf8Encode("a", out));
  EXPECT_EQ(-1, unknown.utf8Decode("a", out));
}

TEST(AppUsageTest, UserIds) {
  AppUsage utf8 = usageWith(CODING_UTF8);
  AppUsage gb = usageWith(CODING_GB2312);
  EXPECT_TRUE(utf8.isValidUserId("alice@corp.example"));
  EXPECT_FALSE(utf8.isValidUserId("alice"));
  EXPECT_FALSE(utf8.isValidUserId("@corp"));
  EXPECT_FALSE(utf8.isValidUserId(std::string(kGbHello) + "@corp"));
  EXPECT_TRUE(gb.isValidUserId(std::string(kGbHello) + "@corp"));
}

TEST(AppUsageTest, XcapErrorBodies) {
  AppUsage usage = usageWith(CODING_UTF8);
  const std::string ns = "urn:ietf:params:xml:ns:xcap-error";
  struct Case {
    const char* what;
    std::string body;
    XCAPAccessResult expected;
  } cases[] = {
      {"empty", "", XCAP_DECODE_FAILED},
      {"no-parent",
       "<?xml version='1.0' encoding='UTF-8'?><xcap-error xmlns='" + ns +
           "'><no-parent><ancestor>http://x/xcap/a</ancestor></no-parent></xcap-error>",
       XCAP_NO_PARENT},
      {"not-utf-8", "<xcap-error xmlns='" + ns + "'><not-utf-8/></xcap-error>", XCAP_FAILURE},
      {"wrong root", "<resource-lists xmlns='" + ns + "'/>", XCAP_DECODE_FAILED},
      {"not XML", "<<<", XCAP_DECODE_FAILED},
  };
  for (const Case& c : cases) {
    IM_LogCapture cap;
    EXPECT_EQ(c.expected, usage.decodeXcapError(c.body)) << c.what;
    EXPECT_EQ(c.expected == XCAP_DECODE_FAILED,
              cap.contains("Corvane, [owner = alice@corp, reason = Decode XcapError Failed]"))
        << c.what;
  }
}

// The cache hands one object per user and deletes it at the last release. The usage holds a
// share of its client, so the client's count shows whether the usage still exists.
TEST(AppUsageFactoryTest, CountedPerUserCache) {
  AppUsageFactory factory;
  Sptr<IXcapClient> first = idleClient("u1@corp");
  Sptr<IXcapClient> second = idleClient("u1@corp");
  ASSERT_TRUE(first);

  ResourceListsAppUsage* a = factory.getResourceLists("u1@corp", first, false);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(2, first.useCount());
  ResourceListsAppUsage* b = factory.getResourceLists("u1@corp", second, true);
  EXPECT_EQ(a, b);  // the cached usage, built with the first client
  EXPECT_EQ(1, second.useCount());
  EXPECT_TRUE(a->getXcapClient() == first);

  ResourceListsAppUsage* other = factory.getResourceLists("u2@corp", second, false);
  EXPECT_NE(a, other);

  factory.releaseResourceLists(a);
  EXPECT_EQ(2, first.useCount());  // one holder left
  factory.releaseResourceLists(b);
  EXPECT_EQ(1, first.useCount());  // deleted

  factory.releaseResourceLists(other);
  EXPECT_EQ(1, second.useCount());
  factory.releaseResourceLists(nullptr);
}

// A pointer the factory did not hand out never lowers a holder's count, even when its user is
// cached, and a second release of a deleted usage touches nothing.
TEST(AppUsageFactoryTest, ReleaseOfAForeignPointerChangesNothing) {
  AppUsageFactory factory;
  Sptr<IXcapClient> client = idleClient("u3@corp");
  ResourceListsAppUsage* cached = factory.getResourceLists("u3@corp", client, false);
  ASSERT_NE(nullptr, cached);
  ResourceListsAppUsage* foreign = new ResourceListsAppUsage("u3@corp", CODING_UTF8, client, false);
  EXPECT_EQ(3, client.useCount());

  factory.releaseResourceLists(foreign);
  factory.releaseResourceLists(foreign);
  EXPECT_EQ(3, client.useCount());  // the cached usage is still there, and the foreign one too

  delete foreign;
  factory.releaseResourceLists(cached);
  EXPECT_EQ(1, client.useCount());
  factory.releaseResourceLists(cached);  // already gone: nothing happens
  EXPECT_EQ(1, client.useCount());

  // The user's next get makes a new usage with the client of that call.
  Sptr<IXcapClient> later = idleClient("u3@corp");
  ResourceListsAppUsage* again = factory.getResourceLists("u3@corp", later, false);
  ASSERT_NE(nullptr, again);
  EXPECT_TRUE(again->getXcapClient() == later);
  factory.releaseResourceLists(again);
}

TEST(AppUsageFactoryTest, UsageWithABadAddressHasNoClient) {
  AppUsageFactory factory;
  ResourceListsAppUsage* u =
      factory.getResourceLists("u4@corp", "no-port", AUTH_SSO, DOWNLOAD_STREAMED, "pw", false);
  ASSERT_NE(nullptr, u);
  EXPECT_FALSE(u->getXcapClient());
  tree<TreeNode> out;
  EXPECT_EQ(XCAP_NETWORK_ERROR, u->getBuddyTree(out));  // no client: a failure, not a crash
  factory.releaseResourceLists(u);
}

TEST(AppUsageFactoryTest, CodingReachesNewUsages) {
  AppUsageFactory factory;
  factory.initCodingFormat(CODING_GB2312);
  ResourceListsAppUsage* u = factory.getResourceLists("u5@corp", idleClient("u5@corp"), false);
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(CODING_GB2312, u->getCodingFormat());
  EXPECT_EQ("resource-lists", u->getAuid());
  EXPECT_EQ("application/resource-lists+xml", u->getMimeType());
  EXPECT_EQ("u5@corp", u->getUser());
  factory.releaseResourceLists(u);
}

// The cookie store: merge and replay of cookies per system and user, the
// ticket-granting record, and its recursive lock under concurrent use.
#include "sso/SsoCookieManager.h"

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

#include <gtest/gtest.h>

#include <ace/Guard_T.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const std::string SSO = SsoCookieManager::SSO_SYSTEM_ID;

HTTPResponse responseSetting(const std::vector<std::string>& setCookies) {
  HTTPResponse response;
  response.setStatus(302);
  for (const std::string& c : setCookies) response.add(HTTPResponse::SET_COOKIE, c);
  return response;
}

std::vector<std::string> replayed(const std::string& sys, const std::string& user) {
  HTTPRequest request(HTTPRequest::HTTP_GET, "/x");
  SsoCookieManager::restoreCookie(sys, user, request);
  std::vector<std::string> out;
  request.getAll(HTTPRequest::COOKIE, out);
  return out;
}

class CookieStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* u : {"alice", "bob", "carol"}) SsoCookieManager::clearCookie(u);
  }
};

TEST_F(CookieStoreTest, SavesAndReplaysNameValuePairsInResponseOrder) {
  HTTPResponse r = responseSetting({"CASTGC=TGT-1; Path=/casserver; HttpOnly", "JSESSIONID=S1; Path=/",
                                    "lang=zh"});
  SsoCookieManager::saveCookies(SSO, "alice", r);
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_EQ((std::vector<std::string>{"CASTGC=TGT-1", "JSESSIONID=S1", "lang=zh"}), replayed(SSO, "alice"));
  EXPECT_TRUE(replayed(SSO, "bob").empty());
  EXPECT_TRUE(replayed("xcap", "alice").empty());
}

TEST_F(CookieStoreTest, ResponseWithoutCookiesChangesNothing) {
  HTTPResponse first = responseSetting({"a=1"});
  SsoCookieManager::saveCookies(SSO, "alice", first);
  HTTPResponse none = responseSetting({});
  SsoCookieManager::saveCookies(SSO, "alice", none);
  SsoCookieManager::saveCookies(SSO, "bob", none);
  EXPECT_EQ(std::vector<std::string>{"a=1"}, replayed(SSO, "alice"));
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "bob"));
}

// A response that refreshes one cookie must not drop the ticket-granting one.
TEST_F(CookieStoreTest, PartialResponseKeepsTheOtherCookies) {
  HTTPResponse login = responseSetting({"CASTGC=TGT-1", "JSESSIONID=S1"});
  SsoCookieManager::saveCookies("xcap", "alice", login);
  HTTPResponse refresh = responseSetting({"JSESSIONID=S2", "route=r7"});
  SsoCookieManager::saveCookies("xcap", "alice", refresh);
  EXPECT_EQ((std::vector<std::string>{"CASTGC=TGT-1", "JSESSIONID=S2", "route=r7"}),
            replayed("xcap", "alice"));
}

TEST_F(CookieStoreTest, RemovalCookiesForgetTheirName) {
  HTTPResponse login = responseSetting({"a=1", "b=2", "c=3", "d=4"});
  SsoCookieManager::saveCookies(SSO, "alice", login);
  HTTPResponse removal = responseSetting({"a=; Path=/", "b=x; Max-Age=0",
                                          "c=y; Expires=Thu, 01 Jan 1970 00:00:00 GMT"});
  SsoCookieManager::saveCookies(SSO, "alice", removal);
  EXPECT_EQ(std::vector<std::string>{"d=4"}, replayed(SSO, "alice"));
  HTTPResponse last = responseSetting({"d=; Max-Age=0"});
  SsoCookieManager::saveCookies(SSO, "alice", last);
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
}

TEST_F(CookieStoreTest, TicketGrantingCookieLastOneWins) {
  // Records are never removed: a user no test has used before has none.
  const std::string dave = "dave";
  EXPECT_EQ(0, SsoCookieManager::getTgc(dave).getTime().sec());
  EXPECT_EQ("", SsoCookieManager::getTgc(dave).getValue());
  HTTPResponse r = responseSetting({"CASTGC=TGT-1", "x=1", "CASTGC=TGT-2"});
  SsoCookieManager::saveCookies(SSO, dave, r);
  SsoTgc tgc = SsoCookieManager::getTgc(dave);
  EXPECT_EQ("TGT-2", tgc.getValue());
  EXPECT_NE(0, tgc.getTime().sec());
  EXPECT_EQ((std::vector<std::string>{"CASTGC=TGT-2", "x=1"}), replayed(SSO, dave));
  SsoCookieManager::clearCookie(dave);
}

TEST_F(CookieStoreTest, ClearOnePairOrEverySystemOfAUser) {
  HTTPResponse r = responseSetting({"CASTGC=TGT-9", "s=1"});
  for (const char* sys : {"sso", "xcap", "npmp"}) SsoCookieManager::saveCookies(sys, "alice", r);
  SsoCookieManager::saveCookies(SSO, "bob", r);

  SsoCookieManager::clearCookie(SSO, "alice");
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", "alice"));
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "bob"));

  SsoCookieManager::clearCookie("alice");
  EXPECT_FALSE(SsoCookieManager::hasCookie("xcap", "alice"));
  EXPECT_FALSE(SsoCookieManager::hasCookie("npmp", "alice"));
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "bob"));
  EXPECT_EQ("TGT-9", SsoCookieManager::getTgc("bob").getValue());
}

// Nothing takes a ticket-granting record away: clearing either way keeps the
// last one with its time stamp, and a later "CASTGC" (a removal too) only
// replaces it.
TEST_F(CookieStoreTest, TicketGrantingRecordsAreReplacedNeverRemoved) {
  HTTPResponse login = responseSetting({"CASTGC=TGT-9", "s=1"});
  SsoCookieManager::saveCookies(SSO, "alice", login);
  SsoCookieManager::saveCookies("xcap", "alice", login);
  SsoTgc stored = SsoCookieManager::getTgc("alice");
  ASSERT_EQ("TGT-9", stored.getValue());

  SsoCookieManager::clearCookie(SSO, "alice");
  EXPECT_EQ("TGT-9", SsoCookieManager::getTgc("alice").getValue());
  SsoCookieManager::clearCookie("alice");
  EXPECT_FALSE(SsoCookieManager::hasCookie("xcap", "alice"));
  EXPECT_EQ("TGT-9", SsoCookieManager::getTgc("alice").getValue());
  EXPECT_EQ(stored.getTime(), SsoCookieManager::getTgc("alice").getTime());

  struct Case {
    const char* setCookie;
    const char* record;
  } cases[] = {
      {"CASTGC=TGT-10", "TGT-10"},
      {"CASTGC=gone; Max-Age=0", "gone"},
      {"CASTGC=old; Expires=Thu, 01 Jan 1970 00:00:00 GMT", "old"},
      {"CASTGC=; Path=/", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setCookie);
    HTTPResponse r = responseSetting({c.setCookie});
    SsoCookieManager::saveCookies(SSO, "alice", r);
    EXPECT_EQ(c.record, SsoCookieManager::getTgc("alice").getValue());
  }
  EXPECT_EQ(0, SsoCookieManager::getTgc("alice").getTime().sec()) << "an empty value is the empty record";
}

// The owner of the lock may call every operation again; another thread
// cannot take it meanwhile.
TEST_F(CookieStoreTest, LockIsReentrantAndExcludesOtherThreads) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(SsoCookieManager::cookiesMapMutex_);
  HTTPResponse r = responseSetting({"a=1"});
  SsoCookieManager::saveCookies(SSO, "alice", r);
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_EQ(1u, replayed(SSO, "alice").size());
  SsoCookieManager::clearCookie(SSO, "alice");
  int otherTry = 0;
  std::thread([&] {
    otherTry = SsoCookieManager::cookiesMapMutex_.tryacquire();
    if (otherTry == 0) SsoCookieManager::cookiesMapMutex_.release();
  }).join();
  EXPECT_EQ(-1, otherTry);
}

// Save, restore and clear from many threads at once (run under ThreadSanitizer
// too): every replayed list is one that some save could have produced.
TEST_F(CookieStoreTest, ConcurrentSaveRestoreAndClear) {
  const int kThreads = 8;
  const int kRounds = 300;
  std::atomic<int> bad(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &bad] {
      const std::string user = (t % 2) ? "alice" : "bob";
      const std::string sys = (t % 3) ? "sso" : "xcap";
      for (int i = 0; i < kRounds; ++i) {
        switch ((i + t) % 4) {
          case 0: {
            HTTPResponse r = responseSetting({"CASTGC=T" + std::to_string(i), "k=" + std::to_string(t)});
            SsoCookieManager::saveCookies(sys, user, r);
            break;
          }
          case 1: {
            std::vector<std::string> c = replayed(sys, user);
            if (!c.empty() && (c.size() != 2 || c[0].compare(0, 7, "CASTGC=") != 0)) ++bad;
            break;
          }
          case 2:
            if (i % 8 == 2) SsoCookieManager::clearCookie(user);
            else SsoCookieManager::clearCookie(sys, user);
            break;
          default:
            SsoCookieManager::getTgc(user);
            SsoCookieManager::hasCookie(sys, user);
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, bad.load());
}

}  // namespace

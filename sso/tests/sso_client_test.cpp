// The single sign-on client against the fake CAS-style server on 127.0.0.1:
// login in each password form and by cookie, ticket validation, logout, the
// server's failures within the time-out, operators and the asynchronous forms.
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "sso/SsoTask.h"

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "testing/FakeSsoServer.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using pwtest::FakeSsoServer;
using pwtest::HttpRequestRecord;

const std::string SSO = SsoCookieManager::SSO_SYSTEM_ID;
const std::string SERVICE = "http://127.0.0.1:9/xcap/resource-lists/users/alice/buddys";
const std::string ERROR_URL = "http://127.0.0.1:9/error";
// A password whose Base64 text holds '+' and '/' and needs padding.
const std::string PASSWORD = "a?>b c&=+%\xD5\xC5~";

typedef std::chrono::steady_clock Clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class SsoClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.isListening());
    server_.addUser("alice", PASSWORD);
    server_.addUser("bob", "bob-pw");
    Config* config = Config::instance();
    config->setValue("SSO", "httpTimeout", "1");
    config->setValue("SSO", "ssoTaskNumber", "4");
    config->removeValue("SSO", "useMD5");
    config->removeValue("SSO", "useBase64");
    SsoClient::destroy();
    client_ = SsoClient::instance();
    client_->setServer(server_.hostPort());
    for (const char* u : {"alice", "bob"}) SsoCookieManager::clearCookie(u);
  }
  void TearDown() override {
    SsoClient::destroy();
    Config* config = Config::instance();
    for (const char* key : {"httpTimeout", "ssoTaskNumber", "useMD5", "useBase64"}) config->removeValue("SSO", key);
  }

  int login(const std::string& user, const std::string& password, std::string& ticket,
            std::string& location, const std::string& op = "") {
    return client_->authenticate(user, password, SERVICE, ERROR_URL, "xcap", ticket, location, op);
  }
  int login(const std::string& user, const std::string& password) {
    std::string ticket, location;
    return login(user, password, ticket, location);
  }

  FakeSsoServer server_;
  SsoClient* client_ = nullptr;
};

// Each configured password form, then a login by the stored cookies alone.
TEST_F(SsoClientTest, LoginByPasswordInEachFormThenByCookie) {
  struct Form {
    const char* useMD5;
    const char* useBase64;
    FakeSsoServer::PasswordForm form;
  } forms[] = {{"false", "false", FakeSsoServer::PLAIN},
               {"true", "false", FakeSsoServer::MD5_HEX},
               {"false", "true", FakeSsoServer::BASE64},
               {"true", "true", FakeSsoServer::MD5_HEX}};  // MD5 wins
  for (const Form& f : forms) {
    SCOPED_TRACE(std::string("useMD5=") + f.useMD5 + " useBase64=" + f.useBase64);
    Config::instance()->setValue("SSO", "useMD5", f.useMD5);
    Config::instance()->setValue("SSO", "useBase64", f.useBase64);
    server_.setPasswordForm(f.form);
    server_.clearRequests();
    SsoCookieManager::clearCookie("alice");

    std::string ticket, location;
    ASSERT_EQ(0, login("alice", PASSWORD, ticket, location));
    ASSERT_EQ(1u, server_.requestCount());
    HttpRequestRecord first = server_.requests()[0];
    std::string line = FakeSsoServer::requestLine(first);
    EXPECT_EQ(0u, line.find("GET /casserver/login?outer=true&username=alice&password=")) << line;
    EXPECT_EQ(2, std::count(line.begin(), line.end(), ' ')) << "no raw blank in the target: " << line;
    EXPECT_EQ(std::string::npos, line.find('\n')) << line;
    EXPECT_EQ(FakeSsoServer::encodePassword(PASSWORD, f.form), first.queryParam("password"));
    EXPECT_EQ(SERVICE, first.queryParam("service"));
    EXPECT_EQ(ERROR_URL, first.queryParam("errorReturnUrl"));
    EXPECT_EQ("xcap", first.queryParam("systemid"));
    EXPECT_EQ(server_.hostPort(), first.header("Host"));
    EXPECT_TRUE(FakeSsoServer::cookieHeaders(first).empty());

    std::vector<FakeSsoServer::Ticket> issued = server_.issuedTickets();
    EXPECT_EQ(issued.back().ticket, ticket);
    EXPECT_EQ(SERVICE + "?ticket=" + ticket, location);
    EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
    std::string tgc = SsoCookieManager::getTgc("alice").getValue();
    EXPECT_EQ(0u, tgc.find("TGT-"));

    // The stored cookies log in without sending the password.
    std::string ticket2, location2;
    ASSERT_EQ(0, login("alice", PASSWORD, ticket2, location2));
    ASSERT_EQ(2u, server_.requestCount());
    HttpRequestRecord second = server_.requests()[1];
    EXPECT_EQ("GET /casserver/login?service=" + std::string("http%3A%2F%2F127.0.0.1%3A9%2Fxcap%2Fresource-lists%2Fusers%2Falice%2Fbuddys") +
                  " HTTP/1.1",
              FakeSsoServer::requestLine(second));
    std::vector<std::string> cookies = FakeSsoServer::cookiePairs(second);
    ASSERT_EQ(2u, cookies.size());
    EXPECT_EQ("CASTGC=" + tgc, cookies[0]);
    EXPECT_EQ(0u, cookies[1].find("JSESSIONID="));
    EXPECT_NE(ticket, ticket2);
    EXPECT_EQ(server_.issuedTickets().back().ticket, ticket2);
    // That answer refreshed only the session cookie: the CASTGC stays.
    std::list<std::string> stored = SsoCookieManager::getCookies(SSO, "alice");
    ASSERT_EQ(2u, stored.size());
    EXPECT_EQ("CASTGC=" + tgc, stored.front());
    EXPECT_NE(cookies[1], stored.back());
  }
}

// A bracketed IPv6 server address, as the configuration writes one.
TEST_F(SsoClientTest, LoginAndValidationOverIPv6Loopback) {
  if (server_.http().ipv6Port() == 0) GTEST_SKIP() << "no ::1 on this machine";
  const std::string address = server_.http().ipv6HostPort();
  client_->setServer(address);
  std::string ticket, location;
  ASSERT_EQ(0, login("alice", PASSWORD, ticket, location));
  ASSERT_EQ(1u, server_.requestCount());
  EXPECT_EQ(address, server_.requests()[0].header("Host"));
  std::string user;
  std::map<std::string, std::string> attributes;
  EXPECT_EQ(0, client_->validate(SERVICE, ticket, user, attributes));
  EXPECT_EQ("alice", user);
  EXPECT_EQ(0, client_->authenticateWithPassword("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", ticket, location));
}

// The user name and the ticket are query values like any other.
TEST_F(SsoClientTest, UserNameAndTicketAreEncoded) {
  const std::string user = "x&systemid=evil #+\xD5\xC5";
  server_.addUser(user, "pw");
  std::string ticket, location;
  ASSERT_EQ(0, login(user, "pw", ticket, location));
  HttpRequestRecord request = server_.requests().at(0);
  EXPECT_EQ(user, request.queryParam("username"));
  EXPECT_EQ("xcap", request.queryParam("systemid"));
  std::string line = FakeSsoServer::requestLine(request);
  for (unsigned char c : line) EXPECT_LT(c, 0x80) << line;

  std::string who;
  std::map<std::string, std::string> attributes;
  EXPECT_EQ(4, client_->validate(SERVICE, ticket + "&service=x", who, attributes));
  EXPECT_EQ(ticket + "&service=x", server_.requests().back().queryParam("ticket"));
}

TEST_F(SsoClientTest, ValidateGoodReusedAndUnknownTickets) {
  server_.setAttributes("alice", {{"mail", "alice@corp.cn"}, {"name", "Alice"}, {"mail", "other"}});
  std::string ticket, location;
  ASSERT_EQ(0, login("alice", PASSWORD, ticket, location));

  std::string user;
  std::map<std::string, std::string> attributes;
  ASSERT_EQ(0, client_->validate(SERVICE, ticket, user, attributes));
  EXPECT_EQ("alice", user);
  EXPECT_EQ((std::map<std::string, std::string>{{"mail", "alice@corp.cn"}, {"name", "Alice"}}), attributes);
  HttpRequestRecord request = server_.requests().back();
  EXPECT_EQ("/casserver/proxyValidate", request.path);
  EXPECT_TRUE(FakeSsoServer::cookieHeaders(request).empty());

  std::string again = "untouched";
  std::map<std::string, std::string> none;
  EXPECT_EQ(4, client_->validate(SERVICE, ticket, again, none)) << "a ticket is good once";
  EXPECT_EQ(4, client_->validate(SERVICE, "ST-999-unknown", again, none));
  EXPECT_EQ("untouched", again);
  EXPECT_TRUE(none.empty());

  server_.setFault(FakeSsoServer::SERVER_ERROR, 1);
  EXPECT_EQ(2, client_->validate(SERVICE, "ST-1", again, none));
  server_.setFault(FakeSsoServer::EMPTY_OK, 1);
  EXPECT_EQ(3, client_->validate(SERVICE, "ST-1", again, none));
  server_.setFault(FakeSsoServer::DROP, 1);
  EXPECT_EQ(1, client_->validate(SERVICE, "ST-1", again, none));
}

// Every failure of the server gives its code within the time-out, leaves the
// outputs alone and clears the user's login cookies; with a stored cookie
// the password is tried once more.
TEST_F(SsoClientTest, ServerFailuresGiveTheirCodesWithinTheTimeOut) {
  struct Case {
    FakeSsoServer::Fault fault;
    int code;
  } cases[] = {{FakeSsoServer::REDIRECT_NO_TICKET, 3}, {FakeSsoServer::REDIRECT_EMPTY_TICKET, 3},
               {FakeSsoServer::LOGIN_PAGE, 2},         {FakeSsoServer::SERVER_ERROR, 2},
               {FakeSsoServer::DROP, 1},               {FakeSsoServer::STALL, 1}};
  for (const Case& c : cases) {
    for (bool withCookie : {false, true}) {
      SCOPED_TRACE(testing::Message() << "fault " << c.fault << (withCookie ? " with cookie" : ""));
      server_.setFault(FakeSsoServer::NONE);
      SsoCookieManager::clearCookie("alice");
      if (withCookie) {
        ASSERT_EQ(0, login("alice", PASSWORD));
      }
      server_.clearRequests();
      server_.setFault(c.fault);

      std::string ticket = "old-ticket", location = "old-location";
      Clock::time_point start = Clock::now();
      EXPECT_EQ(c.code, login("alice", PASSWORD, ticket, location));
      EXPECT_LT(secondsSince(start), 5.0) << "two attempts of a 1 s time-out at most";
      EXPECT_EQ("old-ticket", ticket);
      EXPECT_EQ("old-location", location);
      EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
      ASSERT_TRUE(server_.waitForRequests(withCookie ? 2 : 1, 5000));
      EXPECT_EQ(withCookie ? 2u : 1u, server_.requestCount());
      if (withCookie) {
        EXPECT_EQ("alice", server_.requests()[1].queryParam("username"));
      }
    }
  }
}

TEST_F(SsoClientTest, UnreachableOrUnparsableServerGivesOne) {
  std::string deadServer;
  {
    FakeSsoServer dead;
    deadServer = dead.hostPort();
  }
  client_->setServer(deadServer);
  EXPECT_EQ(1, login("alice", PASSWORD));

  client_->setServer(server_.hostPort());
  ASSERT_EQ(0, login("alice", PASSWORD));
  server_.clearRequests();
  client_->setServer("");
  EXPECT_EQ(1, login("alice", PASSWORD));
  client_->setServer("no-port-here");
  EXPECT_EQ(1, login("alice", PASSWORD));
  EXPECT_EQ(0u, server_.requestCount());
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
}

// A cookie the server no longer knows: the first request carries only the
// service, the second the password.
TEST_F(SsoClientTest, StaleCookieFallsBackToThePassword) {
  ASSERT_EQ(0, login("alice", PASSWORD));
  server_.expireAllTgts();
  server_.clearRequests();
  std::string ticket, location;
  ASSERT_EQ(0, login("alice", PASSWORD, ticket, location));
  ASSERT_EQ(2u, server_.requestCount());
  EXPECT_FALSE(server_.requests()[0].hasQueryParam("password"));
  EXPECT_TRUE(server_.requests()[1].hasQueryParam("password"));
  EXPECT_TRUE(server_.hasLiveTgt("alice"));

  server_.expireAllTgts();
  EXPECT_EQ(2, login("alice", "wrong"));
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
}

// A silent server holds up only its own caller: the cookie store stays free.
TEST_F(SsoClientTest, StalledLoginDoesNotHoldTheCookieStore) {
  ASSERT_EQ(0, login("alice", PASSWORD));
  server_.clearRequests();
  server_.setFault(FakeSsoServer::STALL, 1);
  std::atomic<bool> finished(false);
  std::thread stalled([&] {
    login("alice", PASSWORD);
    finished = true;
  });
  ASSERT_TRUE(server_.waitForRequests(1, 5000));
  HTTPResponse response;
  response.add(HTTPResponse::SET_COOKIE, "xs=1");
  SsoCookieManager::saveCookies("xcap", "bob", response);
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", "bob"));
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_FALSE(finished.load()) << "the store answered while the login was still waiting";
  stalled.join();
  EXPECT_TRUE(finished.load());
}

// Logout forgets the login cookies at once and sends them to the server; a
// later login must then give the right password, whatever cookies remain.
TEST_F(SsoClientTest, LogoutClearsCookiesAndRequiresThePasswordAgain) {
  ASSERT_EQ(0, login("alice", PASSWORD));
  std::list<std::string> cookies = SsoCookieManager::getCookies(SSO, "alice");
  std::string tgc = SsoCookieManager::getTgc("alice").getValue();
  HTTPResponse other;
  other.add(HTTPResponse::SET_COOKIE, "xs=1");
  SsoCookieManager::saveCookies("xcap", "alice", other);
  server_.clearRequests();

  client_->addServer("op&1", server_.hostPort());
  ASSERT_EQ(0, client_->logout("alice", SERVICE, "op&1"));
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_EQ(tgc, SsoCookieManager::getTgc("alice").getValue()) << "the record is never removed";
  ASSERT_TRUE(server_.waitForRequests(1, 5000));
  HttpRequestRecord request = server_.requests()[0];
  EXPECT_EQ("/casserver/logout", request.path);
  EXPECT_EQ(SERVICE, request.queryParam("service"));
  EXPECT_EQ("op&1", request.queryParam("oid"));
  EXPECT_EQ(std::vector<std::string>(cookies.begin(), cookies.end()), FakeSsoServer::cookiePairs(request));

  server_.clearRequests();
  EXPECT_EQ(2, login("alice", "wrong"));
  EXPECT_EQ(1u, server_.requestCount());

  // A logout whose request is lost leaves the TGT alive on the server; even
  // with the old cookies back in the store a wrong password must fail.
  ASSERT_EQ(0, login("alice", PASSWORD));
  cookies = SsoCookieManager::getCookies(SSO, "alice");
  server_.setFault(FakeSsoServer::DROP, 1, "/casserver/logout");
  server_.clearRequests();
  ASSERT_EQ(0, client_->logout("alice", SERVICE));
  ASSERT_TRUE(server_.waitForRequests(1, 5000));
  HTTPResponse replay;
  for (const std::string& c : cookies) replay.add(HTTPResponse::SET_COOKIE, c);
  SsoCookieManager::saveCookies(SSO, "alice", replay);
  ASSERT_TRUE(server_.hasLiveTgt("alice"));
  server_.clearRequests();
  EXPECT_EQ(2, login("alice", "wrong"));
  ASSERT_EQ(1u, server_.requestCount());
  EXPECT_EQ("wrong", server_.requests()[0].queryParam("password"));
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", "alice")) << "other systems' cookies are not the login's";

  // Once the password was right, the cookies serve again.
  ASSERT_EQ(0, login("alice", PASSWORD));
  server_.clearRequests();
  EXPECT_EQ(0, login("alice", PASSWORD));
  EXPECT_FALSE(server_.requests().at(0).hasQueryParam("password"));
}

// A password the user typed is checked by the server even while the user's
// login cookies are valid: a wrong one fails and leaves the cookies (and the
// session of every other subsystem) as they were; a right one logs in.
TEST_F(SsoClientTest, TypedPasswordIsCheckedWhileCookiesAreValid) {
  ASSERT_EQ(0, login("alice", PASSWORD));
  std::list<std::string> cookies = SsoCookieManager::getCookies(SSO, "alice");
  ASSERT_FALSE(cookies.empty());
  ASSERT_TRUE(server_.hasLiveTgt("alice"));

  struct Case {
    std::string password;
    int code;
  } cases[] = {{"wrong", 2}, {"", 2}, {PASSWORD + "x", 2}, {PASSWORD, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    server_.clearRequests();
    std::string ticket = "untouched", location = "untouched";
    EXPECT_EQ(c.code, client_->authenticateWithPassword("alice", c.password, SERVICE, ERROR_URL, "xcap", ticket,
                                                        location));
    ASSERT_EQ(1u, server_.requestCount());
    HttpRequestRecord request = server_.requests()[0];
    EXPECT_EQ(c.password, request.queryParam("password"));
    EXPECT_TRUE(FakeSsoServer::cookieHeaders(request).empty()) << "the cookies prove nothing here";
    if (c.code != 0) {
      EXPECT_EQ("untouched", ticket);
      EXPECT_EQ("untouched", location);
      EXPECT_EQ(cookies, SsoCookieManager::getCookies(SSO, "alice")) << "a refused password changes no cookie";
    } else {
      EXPECT_EQ(server_.issuedTickets().back().ticket, ticket);
      EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
    }
  }
  // The cookies still serve the logins of the other subsystems.
  server_.clearRequests();
  EXPECT_EQ(0, login("alice", PASSWORD));
  EXPECT_FALSE(server_.requests().at(0).hasQueryParam("password"));

  // After a logout, a refused typed password does not bring the old cookies
  // back, and a right one ends the password-only time.
  ASSERT_EQ(0, client_->logout("alice", SERVICE));
  std::string ticket, location;
  EXPECT_EQ(2, client_->authenticateWithPassword("alice", "wrong", SERVICE, ERROR_URL, "xcap", ticket, location));
  EXPECT_FALSE(SsoCookieManager::hasCookie(SSO, "alice"));
  EXPECT_EQ(0, client_->authenticateWithPassword("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", ticket, location));
  EXPECT_TRUE(SsoCookieManager::hasCookie(SSO, "alice"));
}

// Without stored cookies a logout sends nothing.
TEST_F(SsoClientTest, LogoutWithoutCookiesSendsNothing) {
  struct Done : ISsoAuthenticateHandler {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    void onAuthenticateSuccess(const std::string&, const std::string&, const std::string&) override { finish(); }
    void onAuthenticateFailure(const std::string&, const std::string&, int) override { finish(); }
    void finish() {
      std::lock_guard<std::mutex> lock(m);
      done = true;
      cv.notify_all();
    }
  };
  Done* done = new Done;
  Sptr<ISsoAuthenticateHandler> handler(done);
  ASSERT_EQ(0, client_->logout("bob", SERVICE));
  // Same user, same worker: the login runs after the logout.
  ASSERT_EQ(0, client_->authenticate("bob", "bob-pw", SERVICE, ERROR_URL, "xcap", handler));
  {
    std::unique_lock<std::mutex> lock(done->m);
    ASSERT_TRUE(done->cv.wait_for(lock, std::chrono::seconds(10), [&] { return done->done; }));
  }
  ASSERT_EQ(1u, server_.requestCount());
  EXPECT_EQ("/casserver/login", server_.requests()[0].path);
}

TEST_F(SsoClientTest, OperatorsSelectServersAndMarkTheLocation) {
  client_->setServer("");
  client_->addServer("op 1", server_.hostPort());
  EXPECT_EQ(server_.hostPort(), client_->getServer("op 1"));
  EXPECT_EQ("", client_->getServer("unknown"));
  EXPECT_EQ("", client_->getServer());

  std::string ticket, location;
  ASSERT_EQ(0, login("alice", PASSWORD, ticket, location, "op 1"));
  EXPECT_EQ(SERVICE + "?ticket=" + ticket + "&oid=op+1", location);

  server_.clearRequests();
  EXPECT_EQ(1, login("alice", PASSWORD, ticket, location, "unknown"));
  EXPECT_EQ(0u, server_.requestCount());

  // A default operator that the table lacks gives no server, even with a
  // default server set: the table is not bypassed.
  client_->setServer(server_.hostPort());
  client_->setDefaultOperator("missing");
  EXPECT_EQ(1, login("alice", PASSWORD));
  client_->setDefaultOperator("op 1");
  EXPECT_EQ(0, login("alice", PASSWORD));
}

TEST_F(SsoClientTest, ConfigurationIsReadAtConstruction) {
  Config* config = Config::instance();
  config->setValue("SSO", "ssoServer", "127.0.0.1:1");
  config->setValue("SSO", "defaultOperator", "a");
  config->setValue("SSO", "ssoServers", "a->h1:80;b->;c;a->h2:81");
  config->setValue("SSO", "loginUrl", "/cas/login");
  SsoClient::destroy();
  SsoClient* client = SsoClient::instance();
  EXPECT_EQ("127.0.0.1:1", client->getServer());
  EXPECT_EQ("a", client->getDefaultOperator());
  EXPECT_EQ("h2:81", client->getServer("a"));
  EXPECT_EQ("", client->getServer("b"));
  EXPECT_EQ("", client->getServer("c"));
  EXPECT_EQ("/cas/login", client->getAuthenticateUrl());
  EXPECT_EQ("/casserver/STValidateAuthentication", client->getProxyAuthenticateUrl());
  EXPECT_EQ("/casserver/logout", client->getLogoutUrl());
  EXPECT_EQ("/casserver/proxyValidate", client->getValidateUrl());
  for (const char* key : {"ssoServer", "defaultOperator", "ssoServers", "loginUrl"}) config->removeValue("SSO", key);
}

// What the handlers of the asynchronous calls saw.
struct Outcomes {
  std::mutex mutex;
  std::condition_variable changed;
  struct Outcome {
    std::string user, ticket;
    int code;
    std::thread::id thread;
  };
  std::vector<Outcome> list;
  std::atomic<int> handlersAlive{0};

  void add(const Outcome& o) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(o);
    changed.notify_all();
  }
  bool waitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return list.size() >= n; });
  }
};

class RecordingAuthHandler : public ISsoAuthenticateHandler {
 public:
  explicit RecordingAuthHandler(Outcomes* out) : out_(out) { ++out_->handlersAlive; }
  ~RecordingAuthHandler() override { --out_->handlersAlive; }
  void onAuthenticateSuccess(const std::string& user, const std::string& ticket, const std::string&) override {
    out_->add({user, ticket, 0, std::this_thread::get_id()});
  }
  void onAuthenticateFailure(const std::string& user, const std::string&, int code) override {
    out_->add({user, "", code, std::this_thread::get_id()});
  }

 private:
  Outcomes* out_;
};

class RecordingValidateHandler : public ISsoValidateHandler {
 public:
  explicit RecordingValidateHandler(Outcomes* out) : out_(out) {}
  void onValidateSuccess(const std::string& ticket, const std::string& user,
                         std::map<std::string, std::string>& attributes) override {
    out_->add({user + "/" + attributes["mail"], ticket, 0, std::this_thread::get_id()});
  }
  void onValidateFailure(const std::string& ticket, int code) override {
    out_->add({"", ticket, code, std::this_thread::get_id()});
  }

 private:
  Outcomes* out_;
};

TEST_F(SsoClientTest, AsynchronousFormsReportOnceOnAWorker) {
  EXPECT_EQ(-1, client_->authenticate("alice", PASSWORD, SERVICE, ERROR_URL, "xcap",
                                      Sptr<ISsoAuthenticateHandler>()));
  EXPECT_EQ(-1, client_->validate(SERVICE, "ST-1", Sptr<ISsoValidateHandler>()));
  EXPECT_EQ(0u, server_.requestCount());

  Outcomes outcomes;
  {
    Sptr<ISsoAuthenticateHandler> handler(new RecordingAuthHandler(&outcomes));
    ASSERT_EQ(0, client_->authenticate("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", handler));
    ASSERT_EQ(0, client_->authenticate("alice", "wrong", SERVICE, ERROR_URL, "xcap", handler, "nowhere"));
  }  // the caller drops its reference at once
  ASSERT_TRUE(outcomes.waitFor(2));
  SsoTask::destroy();  // joins the workers, so the commands are gone
  EXPECT_EQ(0, outcomes.handlersAlive.load());
  ASSERT_EQ(2u, outcomes.list.size());
  EXPECT_EQ(0, outcomes.list[0].code);
  EXPECT_EQ(1, outcomes.list[1].code);
  EXPECT_NE(std::this_thread::get_id(), outcomes.list[0].thread);
  EXPECT_EQ(outcomes.list[0].thread, outcomes.list[1].thread) << "one user, one worker";

  // With the pool gone, queued calls are refused.
  EXPECT_EQ(-1, client_->authenticate("alice", PASSWORD, SERVICE, ERROR_URL, "xcap",
                                      Sptr<ISsoAuthenticateHandler>(new RecordingAuthHandler(&outcomes))));
  EXPECT_EQ(-1, client_->logout("alice", SERVICE));
  EXPECT_EQ(0, outcomes.handlersAlive.load()) << "a refused command releases its handler";

  SsoClient::destroy();
  client_ = SsoClient::instance();
  client_->setServer(server_.hostPort());
  Outcomes validated;
  ASSERT_EQ(0, client_->validate(SERVICE, outcomes.list[0].ticket,
                                 Sptr<ISsoValidateHandler>(new RecordingValidateHandler(&validated))));
  ASSERT_EQ(0, client_->validate(SERVICE, outcomes.list[0].ticket,
                                 Sptr<ISsoValidateHandler>(new RecordingValidateHandler(&validated))));
  ASSERT_TRUE(validated.waitFor(2));
  std::multiset<int> codes = {validated.list[0].code, validated.list[1].code};
  EXPECT_EQ((std::multiset<int>{0, 4}), codes);
  for (const auto& o : validated.list) {
    if (o.code == 0) {
      EXPECT_EQ("alice/alice", o.user);
    }
  }
}

// Many threads log many users in at once through the workers: each login
// gets its own ticket, each user its own cookies, and a user's commands all
// run on one worker.
TEST_F(SsoClientTest, ManyUsersLogInAtOnceThroughTheWorkers) {
  const int kUsers = 8;
  const int kRounds = 3;
  for (int u = 0; u < kUsers; ++u) {
    server_.addUser("user" + std::to_string(u), "pw" + std::to_string(u));
    SsoCookieManager::clearCookie("user" + std::to_string(u));
  }
  Outcomes outcomes;
  // A worker releases each command, and with it the handler that points at `outcomes`, after
  // reporting: the workers are joined before `outcomes` goes out of scope, on every way out.
  struct JoinWorkers {
    ~JoinWorkers() { SsoTask::destroy(); }
  } joinWorkers;
  std::vector<std::thread> callers;
  for (int u = 0; u < kUsers; ++u) {
    callers.emplace_back([&, u] {
      for (int r = 0; r < kRounds; ++r) {
        Sptr<ISsoAuthenticateHandler> handler(new RecordingAuthHandler(&outcomes));
        EXPECT_EQ(0, client_->authenticate("user" + std::to_string(u), "pw" + std::to_string(u), SERVICE,
                                           ERROR_URL, "xcap", handler));
      }
    });
  }
  for (std::thread& t : callers) t.join();
  ASSERT_TRUE(outcomes.waitFor(kUsers * kRounds));

  std::set<std::string> tickets;
  std::map<std::string, std::set<std::thread::id> > threadsOf;
  std::lock_guard<std::mutex> lock(outcomes.mutex);
  for (const auto& o : outcomes.list) {
    EXPECT_EQ(0, o.code) << o.user;
    tickets.insert(o.ticket);
    threadsOf[o.user].insert(o.thread);
  }
  EXPECT_EQ(static_cast<size_t>(kUsers * kRounds), tickets.size());
  std::set<std::string> tgcs;
  for (int u = 0; u < kUsers; ++u) {
    std::string user = "user" + std::to_string(u);
    EXPECT_EQ(1u, threadsOf[user].size()) << user;
    tgcs.insert(SsoCookieManager::getTgc(user).getValue());
  }
  EXPECT_EQ(static_cast<size_t>(kUsers), tgcs.size()) << "each user has a TGC of its own";
  // Each ticket was issued to the user whose handler received it.
  std::map<std::string, std::string> ownerOf;
  for (const FakeSsoServer::Ticket& t : server_.issuedTickets()) ownerOf[t.ticket] = t.user;
  for (const auto& o : outcomes.list) EXPECT_EQ(o.user, ownerOf[o.ticket]);
}

// stopExchanges ends each exchange under way, whatever the server does (silent, or stalled
// after the first byte of its answer) and long before the time-out: a login by password, a
// login by cookie (with no password attempt after it), a validation, a logout on a worker
// (whose pool then closes at once). Until allowExchanges, later exchanges fail at once and
// send nothing.
TEST_F(SsoClientTest, StopExchangesEndsEveryExchangeUnderWayAndKeepsLaterOnesUnsent) {
  Config::instance()->setValue("SSO", "httpTimeout", "30");
  struct Road {
    const char* name;
    bool withCookie;
    std::function<int(SsoClient*)> run;  // returns once its exchange has ended
    int code;
  } roads[] = {
      {"login by password", false, [](SsoClient* c) {
         std::string t, l;
         return c->authenticate("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", t, l);
       }, 1},
      {"login by cookie", true, [](SsoClient* c) {
         std::string t, l;
         return c->authenticate("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", t, l);
       }, 1},
      {"typed password", true, [](SsoClient* c) {
         std::string t, l;
         return c->authenticateWithPassword("alice", PASSWORD, SERVICE, ERROR_URL, "xcap", t, l);
       }, 1},
      {"validation", false, [](SsoClient* c) {
         std::string user;
         std::map<std::string, std::string> attributes;
         return c->validate(SERVICE, "ST-1", user, attributes);
       }, 1},
      {"logout on a worker", true, [](SsoClient* c) {
         int queued = c->logout("alice", SERVICE);
         SsoTask::instance()->close();  // joins the worker that sends it
         return queued;
       }, 0},
  };
  for (FakeSsoServer::Fault fault : {FakeSsoServer::STALL, FakeSsoServer::STALL_AFTER_BYTE}) {
    for (const Road& road : roads) {
      SCOPED_TRACE(testing::Message() << road.name << ", fault " << fault);
      SsoClient::destroy();
      client_ = SsoClient::instance();
      client_->setServer(server_.hostPort());
      server_.setFault(FakeSsoServer::NONE);
      SsoCookieManager::clearCookie("alice");
      if (road.withCookie) {
        ASSERT_EQ(0, login("alice", PASSWORD));
      }
      server_.clearRequests();
      server_.setFault(fault, 1);

      std::atomic<bool> done(false);
      int code = -99;
      std::thread caller([&] {
        code = road.run(client_);
        done = true;
      });
      ASSERT_TRUE(server_.waitForRequests(1, 5000));
      EXPECT_FALSE(done.load()) << "the server holds the exchange";
      Clock::time_point start = Clock::now();
      SsoClient::stopExchanges();
      EXPECT_TRUE(SsoClient::exchangesStopped());
      caller.join();
      EXPECT_LT(secondsSince(start), 10.0) << "ended by the stop, not by the 30 s time-out";
      EXPECT_EQ(road.code, code);
      EXPECT_EQ(1u, server_.requestCount()) << "nothing more was sent";

      // Stopped: every later exchange fails at once, unsent.
      server_.setFault(FakeSsoServer::NONE);
      EXPECT_EQ(1, login("alice", PASSWORD));
      std::string user;
      std::map<std::string, std::string> attributes;
      EXPECT_EQ(1, client_->validate(SERVICE, "ST-1", user, attributes));
      EXPECT_EQ(1u, server_.requestCount());

      SsoClient::allowExchanges();
      EXPECT_FALSE(SsoClient::exchangesStopped());
      EXPECT_EQ(0, login("alice", PASSWORD)) << "allowed again";
    }
  }
}

// Stops nest: the exchanges run again once every stop has been allowed.
TEST_F(SsoClientTest, ExchangesRunAgainOnlyWhenEveryStopIsAllowed) {
  SsoClient::stopExchanges();
  SsoClient::stopExchanges();
  SsoClient::allowExchanges();
  EXPECT_TRUE(SsoClient::exchangesStopped());
  EXPECT_EQ(1, login("alice", PASSWORD));
  EXPECT_EQ(0u, server_.requestCount());
  SsoClient::allowExchanges();
  EXPECT_FALSE(SsoClient::exchangesStopped());
  SsoClient::allowExchanges();  // one too many changes nothing
  EXPECT_FALSE(SsoClient::exchangesStopped());
  EXPECT_EQ(0, login("alice", PASSWORD));
  SsoClient::stopExchanges();
  EXPECT_TRUE(SsoClient::exchangesStopped()) << "a surplus allow does not swallow the next stop";
  SsoClient::allowExchanges();
}

}  // namespace

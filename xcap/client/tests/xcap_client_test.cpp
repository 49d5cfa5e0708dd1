// The XCAP client over HTTP against the fake XCAP and single sign-on servers on 127.0.0.1.
#include "XcapTestSupport.h"

#include "corvane/AppUsage.h"
#include "http/HTTPClient.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"

#include <ace/Message_Block.h>

#include <chrono>
#include <thread>

using namespace xcaptest;

namespace {

std::string docPath(const std::string& user) { return "resource-lists/myusers/" + user + "/buddys"; }

UserDocumentUri docUri(const std::string& user) {
  return UserDocumentUri("resource-lists", "myusers/" + user, "buddys");
}

std::string bodyOf(const HTTPResponse& response) { return response.getBodyText(); }

size_t countChar(const std::string& s, char c) { return std::count(s.begin(), s.end(), c); }

}  // namespace

TEST(XcapClientFactoryTest, AddressTable) {
  struct Case {
    const char* address;
    bool made;
  } cases[] = {{"h:80", true}, {"127.0.0.1:8080", true}, {"h", false}, {"", false},
               {"h:", false},  {"h:x", false},           {":80", false}};
  for (const Case& c : cases) {
    Sptr<IXcapClient> client(XcapClientFactory::instance()->createXcapClient(
        "alice@corp", c.address, AUTH_PLAIN, DOWNLOAD_BLOCKING, ""));
    EXPECT_EQ(c.made, static_cast<bool>(client)) << c.address;
  }
  EXPECT_EQ("/xcap", XcapClientFactory::instance()->getXcapRoot());
}

class XcapClientTest : public XcapServersTest {};

// Plain mode: the encoded root and path, the Host header, no cookies, and a 302 comes back as
// it is.
TEST_F(XcapClientTest, PlainModeSendsThePathAndNoCookies) {
  std::string user = freshUser("plain");
  xcap_.putDocument(docPath(user), "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'/>");
  Sptr<IXcapClient> c = client(user, AUTH_PLAIN);
  ASSERT_TRUE(c);

  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  HttpRequestRecord r = xcap_.http().lastRequest();
  EXPECT_EQ("GET /xcap/resource-lists/myusers/" + user + "/buddys HTTP/1.1\r\n",
            r.rawHead.substr(0, r.rawHead.find("\r\n") + 2));
  EXPECT_EQ(xcap_.hostPort(), r.header("Host"));
  EXPECT_FALSE(r.hasHeader("Cookie"));
  EXPECT_FALSE(SsoCookieManager::hasCookie("xcap", user));

  xcap_.script("/xcap/", HttpReply::redirect(302, "http://127.0.0.1/elsewhere"));
  xcap_.clearRequests();
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(302, response.getStatus());
  EXPECT_EQ(1u, xcap_.requestCount());
  EXPECT_EQ(0u, sso_.requestCount());
}

// No cookies: a ticket for the service the server sees; the session cookie it sets is kept
// under ("xcap", user) and the next request carries it instead of a ticket.
TEST_F(XcapClientTest, TicketFirstThenSessionCookie) {
  xcap_.requireSso(true);
  std::string user = newUser("ticket");
  xcap_.putDocument(docPath(user), "<doc/>");
  Sptr<IXcapClient> c = client(user, AUTH_SSO);

  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ("<doc/>", bodyOf(response));
  ASSERT_EQ(1u, xcap_.requestCount());
  HttpRequestRecord first = xcap_.requests()[0];
  EXPECT_EQ("/xcap/resource-lists/myusers/" + user + "/buddys", first.path);
  EXPECT_EQ(0u, first.query.find("ticket=ST-"));
  EXPECT_FALSE(first.hasHeader("Cookie"));
  std::vector<FakeSsoServer::Ticket> tickets = sso_.issuedTickets();
  ASSERT_EQ(1u, tickets.size());
  EXPECT_EQ("http://" + xcap_.hostPort() + "/xcap/resource-lists/myusers/" + user + "/buddys",
            tickets[0].service);
  EXPECT_EQ("xcap", sso_.requests()[0].queryParam("systemid"));
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", user));

  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  HttpRequestRecord second = xcap_.requests()[1];
  EXPECT_EQ("", second.query);
  EXPECT_EQ("XCAPSESSION=S-1", second.header("Cookie"));
  EXPECT_EQ(1u, sso_.issuedTickets().size());
}

// Bracketed IPv6 addresses for both servers, as the configuration writes them: the client the
// factory makes reaches the XCAP server, and its sign-on reaches the single sign-on server.
TEST_F(XcapClientTest, IPv6LoopbackServersByBracketedAddress) {
  if (xcap_.http().ipv6Port() == 0 || sso_.http().ipv6Port() == 0) GTEST_SKIP() << "no ::1 on this machine";
  SsoClient::instance()->setServer(sso_.http().ipv6HostPort());
  xcap_.requireSso(true);
  std::string user = newUser("six");
  xcap_.putDocument(docPath(user), "<doc/>");
  const std::string address = xcap_.http().ipv6HostPort();
  Sptr<IXcapClient> c(XcapClientFactory::instance()->createXcapClient(user, address, AUTH_SSO, DOWNLOAD_BLOCKING,
                                                                      kPassword));
  ASSERT_TRUE(c);

  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ("<doc/>", bodyOf(response));
  ASSERT_EQ(1u, xcap_.requestCount());
  EXPECT_EQ(address, xcap_.requests()[0].header("Host"));
  ASSERT_EQ(1u, sso_.issuedTickets().size());
  EXPECT_EQ("http://" + address + "/xcap/resource-lists/myusers/" + user + "/buddys", sso_.issuedTickets()[0].service);
  EXPECT_EQ(sso_.http().ipv6HostPort(), sso_.requests()[0].header("Host"));
}

TEST_F(XcapClientTest, RefusedSignOnSendsNothing) {
  xcap_.requireSso(true);
  std::string user = newUser("refused");
  Sptr<IXcapClient> c = client(user, AUTH_SSO, DOWNLOAD_BLOCKING, "wrong");
  IM_LogCapture cap;
  HTTPResponse response;
  EXPECT_EQ(-1, c->getDocument(docUri(user), response));
  EXPECT_EQ(0u, xcap_.requestCount());
  EXPECT_TRUE(cap.contains("Corvane, [userId = " + user + ", xcapUri = http://" + xcap_.hostPort() +
                           "/xcap/resource-lists/myusers/" + user +
                           "/buddys, reason = SSO Authenticate Failed]"));
}

TEST_F(XcapClientTest, ProxyModeSendsTheLocationAsItStands) {
  xcap_.requireSso(true);
  Config::instance()->setValue("XCAP", "enableProxyMode", "true");
  std::string user = newUser("proxy");
  xcap_.putDocument(docPath(user), "<doc/>");
  Sptr<IXcapClient> c = client(user, AUTH_SSO);
  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  std::vector<FakeSsoServer::Ticket> tickets = sso_.issuedTickets();
  ASSERT_EQ(1u, tickets.size());
  EXPECT_EQ(tickets[0].service + "?ticket=" + tickets[0].ticket, xcap_.requests()[0].target);
}

// A lost session: the 302 brings exactly one more request, with a fresh ticket. A second 302
// is handed back.
TEST_F(XcapClientTest, OneRetryAfterARedirect) {
  xcap_.requireSso(true);
  std::string user = newUser("retry");
  xcap_.putDocument(docPath(user), "<doc/>");
  Sptr<IXcapClient> c = client(user, AUTH_SSO);
  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  ASSERT_TRUE(SsoCookieManager::hasCookie("xcap", user));

  xcap_.expireSessions();
  xcap_.clearRequests();
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ("<doc/>", bodyOf(response));
  std::vector<HttpRequestRecord> log = xcap_.requests();
  ASSERT_EQ(2u, log.size());
  EXPECT_TRUE(log[0].hasHeader("Cookie"));
  EXPECT_FALSE(log[0].hasQueryParam("ticket"));
  EXPECT_FALSE(log[1].hasHeader("Cookie"));
  EXPECT_EQ(sso_.issuedTickets().back().ticket, log[1].queryParam("ticket"));
  EXPECT_EQ(2u, sso_.issuedTickets().size());

  xcap_.script("/xcap/", HttpReply::redirect(302, "http://127.0.0.1/casserver/login"), 2, true);
  xcap_.clearRequests();
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(302, response.getStatus());
  EXPECT_EQ(2u, xcap_.requestCount());
}

// A transport failure drops the user's cookies of every system; the next request signs on.
TEST_F(XcapClientTest, DroppedConnectionClearsTheCookies) {
  xcap_.requireSso(true);
  std::string user = newUser("drop");
  xcap_.putDocument(docPath(user), "<doc/>");
  Sptr<IXcapClient> c = client(user, AUTH_SSO);
  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  ASSERT_TRUE(SsoCookieManager::hasCookie("xcap", user));
  ASSERT_TRUE(SsoCookieManager::hasCookie("sso", user));

  HttpReply drop;
  drop.drop = true;
  // Twice: the HTTP library may try once more on a fresh connection when a kept one drops.
  xcap_.script("/xcap/", drop, 2, true);
  EXPECT_EQ(-1, c->getDocument(docUri(user), response));
  xcap_.clearScripts();
  EXPECT_FALSE(SsoCookieManager::hasCookie("xcap", user));
  EXPECT_FALSE(SsoCookieManager::hasCookie("sso", user));

  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_TRUE(xcap_.http().lastRequest().hasQueryParam("ticket"));
  EXPECT_EQ(2u, passwordLogins());
}

// Element selectors travel encoded in the ticket form as in the cookie form, and the ticket is
// issued for exactly what the server receives; a query already present gets "&ticket=".
TEST_F(XcapClientTest, TicketFormEncodesElementPaths) {
  xcap_.requireSso(true);
  xcap_.setIssueSessionCookie(false);  // every request needs a ticket
  std::string user = newUser("element");
  Sptr<IXcapClient> c = client(user, AUTH_SSO);
  xcap_.putDocument("resource-lists/myusers/" + user + "/buddys",
                    u8"<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'>"
                    u8"<list name='销售 team'/></resource-lists>");
  xcap_.putDocument("pres-rules/myusers/" + user + "/presrules",
                    "<cr:ruleset xmlns:cr='urn:ietf:params:xml:ns:common-policy'>"
                    "<cr:rule id='a'/></cr:ruleset>",
                    "application/auth-policy+xml");

  std::vector<ElementSelectorStep*> steps = {
      new ElementSelectorStep("resource-lists"),
      new ElementSelectorStepByAttr("list", "name", u8"销售 team"),
      new ElementSelectorStepByAttr("entry", "uri", "bob@corp")};
  ElementSelector es(steps);
  UserElementUri uri("resource-lists", "myusers/" + user, "buddys", es, XcapNamespaceMap());
  HTTPResponse response;
  ASSERT_EQ(0, c->putElement(uri, "<entry xmlns=\"urn:ietf:params:xml:ns:resource-lists\" uri=\"bob@corp\"/>", response));
  EXPECT_EQ(201, response.getStatus());  // the server took the ticket
  HttpRequestRecord r = xcap_.http().lastRequest();
  std::string encoded = CodingTransform::urlencode("/xcap" + uri.toString(), false, false);
  EXPECT_EQ(encoded, r.path);
  EXPECT_EQ(std::string::npos, r.target.find('['));
  EXPECT_EQ(std::string::npos, r.target.find(' '));

  XcapNamespaceMap bindings;
  bindings["cr"] = "urn:ietf:params:xml:ns:common-policy";
  std::vector<ElementSelectorStep*> ruleSteps = {new ElementSelectorStep("cr:ruleset"),
                                                 new ElementSelectorStepByAttr("cr:rule", "id", "a")};
  ElementSelector rules(ruleSteps);
  UserElementUri ruleUri("pres-rules", "myusers/" + user, "presrules", rules, bindings);
  ASSERT_EQ(0, c->deleteElement(ruleUri, response));
  EXPECT_EQ(200, response.getStatus());
  r = xcap_.http().lastRequest();
  EXPECT_EQ(1u, countChar(r.target, '?'));
  EXPECT_NE(std::string::npos, r.target.find(")&ticket=ST-"));
}

// Content types, verbatim entity tags, byte lengths, and the server's conditional answers.
TEST_F(XcapClientTest, PutAndDeleteShapes) {
  std::string user = freshUser("shapes");
  Sptr<IXcapClient> c = client(user, AUTH_PLAIN);
  HTTPResponse response;
  const std::string doc = u8"<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\"><list name=\"张\"/></resource-lists>";

  ASSERT_EQ(0, c->putDocument(docUri(user), "application/resource-lists+xml", doc, response));
  EXPECT_EQ(201, response.getStatus());
  HttpRequestRecord r = xcap_.http().lastRequest();
  EXPECT_EQ("PUT", r.method);
  EXPECT_EQ("application/resource-lists+xml", r.header("Content-Type"));
  EXPECT_EQ(std::to_string(doc.size()), r.header("Content-Length"));
  EXPECT_EQ(doc, r.body);
  std::string etag = response.get(HTTPMessage::ETAG);
  EXPECT_EQ(xcap_.etagOf(docPath(user)), etag);

  EXPECT_EQ(0, c->putDocumentIfMatch(docUri(user), "\"stale\"", "application/resource-lists+xml", doc, response));
  EXPECT_EQ(412, response.getStatus());
  EXPECT_EQ("\"stale\"", xcap_.http().lastRequest().header("If-Match"));
  EXPECT_EQ(0, c->putDocumentIfMatch(docUri(user), etag, "application/resource-lists+xml", doc, response));
  EXPECT_EQ(200, response.getStatus());  // replaced
  etag = response.get(HTTPMessage::ETAG);
  EXPECT_EQ(0, c->putDocumentIfNoneMatch(docUri(user), "*", "application/resource-lists+xml", doc, response));
  EXPECT_EQ(412, response.getStatus());
  EXPECT_EQ("*", xcap_.http().lastRequest().header("If-None-Match"));

  ElementSelector es({new ElementSelectorStep("resource-lists"), new ElementSelectorStepByAttr("list", "name", "a")});
  UserElementUri el("resource-lists", "myusers/" + user, "buddys", es, XcapNamespaceMap());
  const std::string entry = u8"<entry uri=\"bob@corp\"><display-name>鲍勃</display-name></entry>";
  EXPECT_EQ(0, c->putElementIfMatch(el, etag, entry, response));
  r = xcap_.http().lastRequest();
  EXPECT_EQ("application/xcap-el+xml", r.header("Content-Type"));
  EXPECT_EQ(etag, r.header("If-Match"));
  EXPECT_EQ(std::to_string(entry.size()), r.header("Content-Length"));

  ElementSelector* attrSel = new ElementSelector({new ElementSelectorStepByAttr("list", "name", "a")});
  UserAttributeUri attr("resource-lists", "myusers/" + user, "buddys", attrSel, "name", XcapNamespaceMap());
  EXPECT_EQ(0, c->putAttributeIfNoneMatch(attr, "\"x\"", "b", response));
  r = xcap_.http().lastRequest();
  EXPECT_EQ("application/xcap-att+xml", r.header("Content-Type"));
  EXPECT_EQ("\"x\"", r.header("If-None-Match"));
  EXPECT_EQ(CodingTransform::urlencode("/xcap" + attr.toString(), false, false), r.path);

  EXPECT_EQ(0, c->deleteElementIfNoneMatch(el, "\"y\"", response));
  r = xcap_.http().lastRequest();
  EXPECT_EQ("DELETE", r.method);
  EXPECT_EQ("\"y\"", r.header("If-None-Match"));
  EXPECT_TRUE(r.body.empty());
  EXPECT_FALSE(r.hasHeader("Content-Type"));

  EXPECT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(doc, bodyOf(response));
  EXPECT_EQ(0, c->deleteDocumentIfMatch(docUri(user), "\"stale\"", response));
  EXPECT_EQ(412, response.getStatus());
  EXPECT_EQ(0, c->deleteDocumentIfMatch(docUri(user), etag, response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(404, response.getStatus());
}

// Streamed bodies arrive whole in every framing; a server that cuts the body short fails.
TEST_F(XcapClientTest, StreamedBodiesArriveWhole) {
  std::string user = freshUser("stream");
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "<entry uri=\"u" + std::to_string(i) + "@corp\"/>\n";
  xcap_.putDocument(docPath(user), big);
  Sptr<IXcapClient> c = client(user, AUTH_PLAIN, DOWNLOAD_STREAMED);

  const HttpReply::Framing framings[] = {HttpReply::CONTENT_LENGTH, HttpReply::CHUNKED,
                                         HttpReply::CLOSE_DELIMITED};
  for (HttpReply::Framing framing : framings) {
    HttpReply reply(200, big, "application/resource-lists+xml");
    reply.framing = framing;
    reply.chunkSize = 777;
    xcap_.script("/xcap/", reply);
    HTTPResponse response;
    ASSERT_EQ(0, c->getDocument(docUri(user), response)) << framing;
    EXPECT_EQ(200, response.getStatus());
    EXPECT_TRUE(big == bodyOf(response)) << framing << ": " << bodyOf(response).size();
  }

  HttpReply cut(200, big, "application/resource-lists+xml");
  cut.cutAfter = 1000;
  xcap_.script("/xcap/", cut);
  HTTPResponse response;
  EXPECT_EQ(-1, c->getDocument(docUri(user), response));
  // The next exchange starts clean.
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_TRUE(big == bodyOf(response));
}

// The observer alone: an empty chunk is skipped, a body without Content-Length grows by
// doubling, and the complete event hands it to the message.
TEST(XcapClientObserverTest, EmptyChunksAndGrowth) {
  XcapClient client("u@corp", "", "127.0.0.1", 9, *XcapClientFactory::instance(), AUTH_PLAIN,
                    DOWNLOAD_STREAMED);
  HTTPResponse response;
  client.onHttpEvent(HTTPClientObserver::EV_HEAD, &response, 0);
  ACE_Message_Block empty(16);
  client.onHttpEvent(HTTPClientObserver::EV_BODY, &response, &empty);  // must return
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    std::string piece(i * 7 + 1, static_cast<char>('a' + i % 26));
    ACE_Message_Block chunk(piece.size());
    chunk.copy(piece.data(), piece.size());
    client.onHttpEvent(HTTPClientObserver::EV_BODY, &response, &chunk);
    EXPECT_EQ(0u, chunk.length());  // consumed
    expected += piece;
    client.onHttpEvent(HTTPClientObserver::EV_BODY, &response, &empty);
  }
  client.onHttpEvent(HTTPClientObserver::EV_COMPLETE, &response, 0);
  EXPECT_EQ(expected, response.getBodyText());

  // An exchange with no body data at all leaves the message without a body.
  HTTPResponse none;
  client.onHttpEvent(HTTPClientObserver::EV_HEAD, &none, 0);
  client.onHttpEvent(HTTPClientObserver::EV_BODY, &none, &empty);
  client.onHttpEvent(HTTPClientObserver::EV_COMPLETE, &none, 0);
  EXPECT_EQ(nullptr, none.getBody());
}

// cancel ends a stalled streamed request; in blocking mode it does nothing at all.
TEST_F(XcapClientTest, CancelStopsAStreamedRequestOnly) {
  std::string user = freshUser("cancel");
  xcap_.putDocument(docPath(user), "<doc/>");

  Sptr<IXcapClient> blocking = client(user, AUTH_PLAIN, DOWNLOAD_BLOCKING);
  blocking->cancel();
  HTTPResponse response;
  ASSERT_EQ(0, blocking->getDocument(docUri(user), response));
  EXPECT_EQ("<doc/>", bodyOf(response));

  Sptr<IXcapClient> streamed = client(user, AUTH_PLAIN, DOWNLOAD_STREAMED);
  HttpReply stall(200, "<doc/>");
  stall.cutAfter = 2;
  stall.afterCut = HttpReply::STALL;
  xcap_.script("/xcap/", stall);
  xcap_.clearRequests();
  std::thread canceller([&] {
    if (xcap_.http().waitForRequests(1, 2000)) streamed->cancel();
  });
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, streamed->getDocument(docUri(user), response));
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// The fake server's own conditional answers and error bodies, spoken to by the plain HTTP
// client (the XCAP client has no conditional GET).
TEST(FakeXcapServerTest, ConditionalGetAndErrorBodies) {
  FakeXcapServer xcap;
  std::string etag = xcap.putDocument("resource-lists/myusers/a@c/buddys", "<doc/>");
  HTTPClient http(xcap.http().host(), xcap.http().port());
  http.setTimeout(2, 2);
  struct Case {
    const char* header;
    std::string value;
    int status;
  } cases[] = {{"If-None-Match", etag, 304}, {"If-None-Match", "\"other\"", 200},
               {"If-Match", etag, 200},      {"If-Match", "\"other\"", 412}};
  for (const Case& c : cases) {
    HTTPRequest request(HTTPRequest::HTTP_GET, "/xcap/resource-lists/myusers/a%40c/buddys");
    request.setHost(xcap.hostPort());
    request.set(c.header, c.value);
    HTTPResponse response;
    ASSERT_EQ(0, http.call(request, response));
    EXPECT_EQ(c.status, response.getStatus()) << c.header << " " << c.value;
  }

  xcap.script("/xcap/resource-lists/", FakeXcapServer::noParentReply("http://x/xcap/resource-lists"));
  HTTPRequest put(HTTPRequest::HTTP_PUT, "/xcap/resource-lists/myusers/a%40c/buddys/~~/resource-lists/list%5B@name='x'%5D");
  put.setHost(xcap.hostPort());
  put.setBody("<list name=\"x\"/>", 16);
  HTTPResponse response;
  ASSERT_EQ(0, http.call(put, response));
  EXPECT_EQ(409, response.getStatus());
  AppUsage usage("a@c", "resource-lists", "application/resource-lists+xml", CODING_UTF8, Sptr<IXcapClient>());
  EXPECT_EQ(XCAP_NO_PARENT, usage.decodeXcapError(response.getBodyText()));
  EXPECT_EQ(XCAP_FAILURE, usage.decodeXcapError(FakeXcapServer::xcapErrorBody("not-utf-8")));
}

// A body larger than the client accepts fails the operation in both modes and in every
// framing; one at the limit passes, and the client is usable afterwards.
TEST_F(XcapClientTest, OversizedBodiesFail) {
  std::string user = freshUser("big");
  xcap_.putDocument(docPath(user), std::string(1000, 'x'));
  for (DownloadMode mode : {DOWNLOAD_STREAMED, DOWNLOAD_BLOCKING}) {
    Sptr<IXcapClient> c = client(user, AUTH_PLAIN, mode);
    dynamic_cast<XcapClient&>(*c).setMaxBodySize(1000);
    for (HttpReply::Framing framing : {HttpReply::CONTENT_LENGTH, HttpReply::CHUNKED, HttpReply::CLOSE_DELIMITED}) {
      SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(framing));
      HttpReply reply(200, std::string(5000, 'y'));
      reply.framing = framing;
      reply.chunkSize = 300;
      xcap_.script("/xcap/", reply);
      HTTPResponse response;
      EXPECT_EQ(-1, c->getDocument(docUri(user), response));
      EXPECT_EQ(nullptr, response.getBody());
      xcap_.clearScripts();
      ASSERT_EQ(0, c->getDocument(docUri(user), response));
      EXPECT_EQ(1000u, bodyOf(response).size());
    }
  }
}

// A cancel with no request running changes nothing: the next request goes out and succeeds,
// and in single sign-on mode the user's cookies stay. stop() keeps every later request of
// that client from reaching the server.
TEST_F(XcapClientTest, IdleCancelLeavesTheNextRequestAndTheCookies) {
  xcap_.requireSso(true);
  std::string user = newUser("idle");
  xcap_.putDocument(docPath(user), "<doc/>");
  Sptr<IXcapClient> c = client(user, AUTH_SSO, DOWNLOAD_STREAMED);
  HTTPResponse response;
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  ASSERT_TRUE(SsoCookieManager::hasCookie("xcap", user));
  ASSERT_TRUE(SsoCookieManager::hasCookie("sso", user));

  c->cancel();
  ASSERT_EQ(0, c->getDocument(docUri(user), response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ("<doc/>", bodyOf(response));
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", user));
  EXPECT_TRUE(SsoCookieManager::hasCookie("sso", user));
  EXPECT_EQ(1u, passwordLogins());

  size_t before = xcap_.requestCount();
  c->stop();
  EXPECT_EQ(-1, c->getDocument(docUri(user), response));
  EXPECT_EQ(-1, c->getDocument(docUri(user), response));
  EXPECT_EQ(before, xcap_.requestCount());
  EXPECT_TRUE(SsoCookieManager::hasCookie("xcap", user));
  EXPECT_TRUE(SsoCookieManager::hasCookie("sso", user));
}

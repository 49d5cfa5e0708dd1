// The HTTP client against the loopback server: what goes on the wire, what
// comes back, streaming through the observer, failures, time-outs and cancel.
#include "http/http.h"
#include "testing/LoopbackHttpServer.h"

#include <ace/Message_Block.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using pwtest::HttpReply;
using pwtest::HttpRequestRecord;
using pwtest::LoopbackHttpServer;

namespace {

typedef std::chrono::steady_clock Clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string binaryBody(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// Records every event; optionally supplies request chunks and consumes body chunks.
class RecordingObserver : public HTTPClientObserver {
 public:
  std::vector<std::string> chunksToSend;
  bool consume = true;
  std::vector<int> events;
  std::string received;
  long long headLength = -1;
  int headStatus = 0;
  std::vector<std::thread::id> threads;
  std::function<void(int)> onEvent;

  ACE_Message_Block* nextRequestChunk() override {
    if (next_ >= chunksToSend.size()) return 0;
    const std::string& c = chunksToSend[next_++];
    block_.reset(new ACE_Message_Block(c.size() + 1));
    block_->copy(c.data(), c.size());
    return block_.get();
  }

  int onHttpEvent(int kind, HTTPMessage* msg, ACE_Message_Block* mb) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events.push_back(kind);
      threads.push_back(std::this_thread::get_id());
    }
    if (kind == EV_HEAD) {
      headLength = msg->getContentLength();
      headStatus = static_cast<HTTPResponse*>(msg)->getStatus();
    }
    if (kind == EV_BODY) {
      received.append(mb->rd_ptr(), mb->length());
      if (consume) mb->reset();
    }
    if (onEvent) onEvent(kind);
    return 0;
  }

  std::vector<int> eventKinds() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events;
  }

 private:
  struct Releaser {
    void operator()(ACE_Message_Block* b) const { b->release(); }
  };
  std::unique_ptr<ACE_Message_Block, Releaser> block_;
  size_t next_ = 0;
  std::mutex mutex_;
};

// Collapses runs of EV_BODY: {5,6,6,6,7} -> {5,6,7}.
std::vector<int> collapsed(const std::vector<int>& events) {
  std::vector<int> out;
  for (int e : events)
    if (out.empty() || !(e == 6 && out.back() == 6)) out.push_back(e);
  return out;
}

}  // namespace

// ---- small helpers, no network ----

TEST(HttpHelpers, NameValueCollectionIsCaseInsensitiveAndKeepsOrder) {
  NameValueCollection c;
  c.add("Set-Cookie", "a=1");
  c.set("Location", "/x");
  c.add("set-cookie", "b=2");
  EXPECT_EQ("/x", c.get("LOCATION"));
  EXPECT_EQ("", c.get("absent"));
  EXPECT_EQ("a=1", c.get("SET-COOKIE"));
  c.set("SET-COOKIE", "c=3");  // replaces both, at the place of the first
  std::vector<std::string> all;
  c.getAll("Set-Cookie", all);
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ("c=3", all[0]);
  EXPECT_EQ("SET-COOKIE", c.begin()->first);
  EXPECT_EQ(2u, c.size());
}

TEST(HttpHelpers, Base64RoundTripsBinaryAndRejectsGarbage) {
  struct Row {
    std::string plain, encoded;
  } rows[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
              {std::string("\0\xff\x10", 3), "AP8Q"}, {"hello world", "aGVsbG8gd29ybGQ="}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.encoded, Base64Coder::encode(r.plain, false));
    EXPECT_EQ(r.plain, Base64Coder::decode(r.encoded));
  }
  std::string bin = binaryBody(1000);
  std::string wrapped = Base64Coder::encode(bin, true);
  EXPECT_NE(std::string::npos, wrapped.find("\r\n"));
  EXPECT_EQ(std::string::npos, Base64Coder::encode(bin, false).find('\n'));
  EXPECT_EQ(bin, Base64Coder::decode(wrapped));
  std::string out;
  EXPECT_FALSE(Base64Coder::decode("Zm9v!", out));
  EXPECT_FALSE(Base64Coder::decode("Zg==Zg", out));
  EXPECT_EQ("", Base64Coder::decode("Z"));
}

TEST(HttpHelpers, UriParts) {
  struct Row {
    const char* url;
    bool valid;
    const char* host;
    unsigned short port;
    const char* path;
    const char* query;
  } rows[] = {
      {"http://dl.example.com/files/setup%20x.exe", true, "dl.example.com", 80, "/files/setup%20x.exe", ""},
      {"https://h:8443/a?b=c#frag", true, "h", 8443, "/a", "b=c"},
      {"http://user@10.0.0.1:81", true, "10.0.0.1", 81, "/", ""},
      {"http://[::1]:8080/v6", true, "::1", 8080, "/v6", ""},
      {"https://secure.example/", true, "secure.example", 443, "/", ""},
      {"/no/scheme", false, "", 0, "/", ""},
      {"http://h:99999/", false, "", 0, "/", ""},
      {"http://:80/", false, "", 0, "/", ""},
  };
  for (const Row& r : rows) {
    URI u(r.url);
    SCOPED_TRACE(r.url);
    EXPECT_EQ(r.valid, u.isValid());
    EXPECT_EQ(r.host, u.getHost());
    EXPECT_EQ(r.port, u.getPort());
    EXPECT_EQ(r.path, u.getPath());
    EXPECT_EQ(r.query, u.getQuery());
  }
}

TEST(HttpHelpers, CookieParsesSetCookieAndReplaysNameValue) {
  HTTPCookie c("CASTGC=TGT-1-abc=; Path=/cas; Domain=.example.com; Max-Age=60; Secure; HttpOnly");
  EXPECT_TRUE(c.isValid());
  EXPECT_EQ("CASTGC", c.getName());
  EXPECT_EQ("TGT-1-abc=", c.getValue());
  EXPECT_EQ("/cas", c.getPath());
  EXPECT_EQ(".example.com", c.getDomain());
  EXPECT_EQ(60, c.getMaxAge());
  EXPECT_TRUE(c.getSecure());
  EXPECT_TRUE(c.getHttpOnly());
  EXPECT_EQ("CASTGC=TGT-1-abc=", c.toString());
  EXPECT_FALSE(HTTPCookie("novalue").isValid());
  EXPECT_FALSE(HTTPCookie("=x").isValid());
}

TEST(HttpHelpers, MessageDefaultsAndBodyOwnership) {
  HTTPRequest get;
  EXPECT_EQ("GET", get.getMethod());
  EXPECT_EQ("HTTP/1.1", get.getVersion());
  EXPECT_EQ(0, get.getContentLength());
  EXPECT_EQ(nullptr, get.getBody());
  HTTPResponse r;
  EXPECT_EQ(0, r.getStatus());
  r.setBody("abc", 3);
  ACE_Message_Block* mine = new ACE_Message_Block(8);
  mine->copy("xyz", 3);
  r.setBody(mine);  // takes it, frees "abc"
  EXPECT_EQ(mine, r.getBody());
  EXPECT_EQ("xyz", r.getBodyText());
  HTTPResponse copy(r);
  EXPECT_NE(mine, copy.getBody());
  EXPECT_EQ("xyz", copy.getBodyText());
  r.set("Content-Length", "12x");
  EXPECT_EQ(0, r.getContentLength());
}

TEST(HttpHelpers, ClientServerTextParses) {
  struct Row {
    const char* text;
    const char* host;
    int port;
  } rows[] = {{"127.0.0.1:8080", "127.0.0.1", 8080}, {"space.example", "space.example", 0},
              {"[::1]:81", "::1", 81}, {"h:abc", "h", -1}, {"h:70000", "h", -1}};
  for (const Row& r : rows) {
    HTTPClient c(r.text);
    EXPECT_EQ(r.host, c.getHost()) << r.text;
    EXPECT_EQ(r.port, c.getPort()) << r.text;
  }
  // The host and port form takes an IPv6 address bracketed or bare alike.
  EXPECT_EQ("::1", HTTPClient("[::1]", 81).getHost());
  EXPECT_EQ("::1", HTTPClient("::1", 81).getHost());
  HTTPClient bad("h:abc");
  HTTPRequest req;
  HTTPResponse resp;
  EXPECT_EQ(-1, bad.call(req, resp));
}

// ---- call against the loopback server ----

class HttpClientTest : public ::testing::Test {
 protected:
  LoopbackHttpServer server;
  HTTPClient client{"127.0.0.1", server.port()};
  void SetUp() override {
    ASSERT_TRUE(server.isListening());
    client.setTimeout(2, 2);
  }
};

TEST_F(HttpClientTest, CallSendsRequestLineHeadersMergedCookiesAndBodyAsGiven) {
  HTTPRequest req(HTTPRequest::HTTP_POST, "/cas/login?service=http%3A%2F%2Fx%2F&a=b", HTTPMessage::HTTP_1_1);
  req.setHost("sso.example.com:8443");
  req.set("ajaxRequest", "true");
  req.set("User-Agent", "vasto");
  req.add(HTTPRequest::COOKIE, "JSESSIONID=s1");
  req.add(HTTPRequest::COOKIE, "CASTGC=t2");
  req.setCredentials("Accept", "text/html, image/gif, image/jpeg, *; q=.2, */*; q=.2");
  req.setCredentials("Accept-Encoding", "identity");
  req.setContentType("application/x-www-form-urlencoded");
  std::string body = "username=alice&password=%D5%C5";
  req.setContentLength(body.size());
  req.setBody(body.data(), body.size());
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp)) << client.getLastError();

  ASSERT_EQ(1u, server.requestCount());
  HttpRequestRecord rec = server.lastRequest();
  EXPECT_EQ(
      "POST /cas/login?service=http%3A%2F%2Fx%2F&a=b HTTP/1.1\r\n"
      "Host: sso.example.com:8443\r\n"
      "ajaxRequest: true\r\n"
      "User-Agent: vasto\r\n"
      "Cookie: JSESSIONID=s1; CASTGC=t2\r\n"
      "Accept: text/html, image/gif, image/jpeg, *; q=.2, */*; q=.2\r\n"
      "Accept-Encoding: identity\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 30\r\n"
      "\r\n",
      rec.rawHead);
  EXPECT_EQ(body, rec.body);
  EXPECT_EQ("service=http%3A%2F%2Fx%2F&a=b", rec.query);
  EXPECT_EQ("http://x/", rec.queryParam("service"));
}

TEST_F(HttpClientTest, DefaultRequestIsGetWithoutBodyOrDefaultHeaders) {
  HTTPRequest req;
  req.setURI("/files/a%20b.txt");
  req.setHost("dl.example.com");
  req.setKeepAlive(false);
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp)) << client.getLastError();
  EXPECT_EQ(
      "GET /files/a%20b.txt HTTP/1.1\r\n"
      "Host: dl.example.com\r\n"
      "Connection: close\r\n"
      "\r\n",
      server.lastRequest().rawHead);

  // A length set on a GET goes out as given; HTTP/1.0 is honoured.
  HTTPRequest empty(HTTPRequest::HTTP_GET, "/list", HTTPMessage::HTTP_1_0);
  empty.setContentLength(0);
  ASSERT_EQ(0, client.call(empty, resp)) << client.getLastError();
  EXPECT_EQ(0u, server.lastRequest().rawHead.find("GET /list HTTP/1.0\r\n"));
  EXPECT_EQ("0", server.lastRequest().header("Content-Length"));
}

TEST_F(HttpClientTest, AbsoluteUrlTargetGoesVerbatimToTheClientsServer) {
  HTTPRequest req(HTTPRequest::HTTP_GET, "http://space.example:9000/root/file/list?uid=u1", HTTPMessage::HTTP_1_1);
  req.setHost("space.example:9000");
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp)) << client.getLastError();
  HttpRequestRecord rec = server.lastRequest();
  EXPECT_EQ("http://space.example:9000/root/file/list?uid=u1", rec.target);
  EXPECT_EQ("/root/file/list", rec.path);
  EXPECT_EQ("u1", rec.queryParam("uid"));
  EXPECT_EQ("space.example:9000", rec.authority);
}

TEST_F(HttpClientTest, PutAndDeleteCarryTheirHeaders) {
  std::string doc = "<resource-lists/>";
  HTTPRequest put(HTTPRequest::HTTP_PUT, "/xcap/resource-lists/users/alice/index", HTTPMessage::HTTP_1_1);
  put.setHost(server.hostPort());
  put.setContentType("application/resource-lists+xml");
  put.set(HTTPMessage::IF_MATCH, "\"etag-1\"");
  put.setContentLength(doc.size());
  put.setBody(doc.data(), doc.size());
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(put, resp));
  HTTPRequest del(HTTPRequest::HTTP_DELETE, "/xcap/x", HTTPMessage::HTTP_1_1);
  del.set(HTTPMessage::IF_NONE_MATCH, "*");
  ASSERT_EQ(0, client.call(del, resp));

  std::vector<HttpRequestRecord> recs = server.requests();
  ASSERT_EQ(2u, recs.size());
  EXPECT_EQ("PUT", recs[0].method);
  EXPECT_EQ(doc, recs[0].body);
  EXPECT_EQ("\"etag-1\"", recs[0].header("If-Match"));
  EXPECT_EQ("application/resource-lists+xml", recs[0].header("Content-Type"));
  EXPECT_EQ("DELETE", recs[1].method);
  EXPECT_EQ("*", recs[1].header("If-None-Match"));
  EXPECT_FALSE(recs[1].hasHeader("Content-Length"));
  EXPECT_EQ(1, server.connectionCount());  // the connection is kept between exchanges
}

TEST_F(HttpClientTest, CallReadsStatusReasonHeadersCookiesAndBody) {
  server.setHandler([](const HttpRequestRecord&) {
    HttpReply r(201, "made it", "text/plain");
    r.reason = "Created Here";
    r.header("ETag", "\"v2\"").header("Set-Cookie", "a=1; Path=/").header("Set-Cookie", "b=2=3; HttpOnly");
    r.header("Set-Cookie", "broken");
    return r;
  });
  HTTPRequest req;
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp));
  EXPECT_EQ(201, resp.getStatus());
  EXPECT_EQ("Created Here", resp.getReason());
  EXPECT_EQ("\"v2\"", resp.get("etag"));
  EXPECT_EQ("\"v2\"", resp.get(HTTPMessage::ETAG));
  EXPECT_EQ(7, resp.getContentLength());
  EXPECT_EQ("made it", resp.getBodyText());
  std::vector<HTTPCookie> cookies;
  resp.getCookies(cookies);
  ASSERT_EQ(2u, cookies.size());
  EXPECT_EQ("a=1", cookies[0].toString());
  EXPECT_EQ("b", cookies[1].getName());
  EXPECT_EQ("2=3", cookies[1].getValue());
}

TEST_F(HttpClientTest, RedirectIsReturnedNotFollowed) {
  server.setHandler([&](const HttpRequestRecord& r) {
    if (r.path == "/login") return HttpReply::redirect(302, "http://127.0.0.1:" + std::to_string(server.port()) + "/next?ticket=ST-1");
    return HttpReply(200, "followed");
  });
  HTTPRequest req(HTTPRequest::HTTP_GET, "/login", HTTPMessage::HTTP_1_1);
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp));
  EXPECT_EQ(302, resp.getStatus());
  EXPECT_NE(std::string::npos, resp.get("location").find("ticket=ST-1"));
  EXPECT_EQ(1u, server.requestCount());
}

TEST_F(HttpClientTest, BodiesByContentLengthChunkedAndClose) {
  const std::string body = binaryBody(100000);
  struct Row {
    const char* name;
    HttpReply::Framing framing;
    size_t chunkSize;
  } rows[] = {{"content-length", HttpReply::CONTENT_LENGTH, 0},
              {"chunked", HttpReply::CHUNKED, 3001},
              {"close-delimited", HttpReply::CLOSE_DELIMITED, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    server.setHandler([&](const HttpRequestRecord&) {
      HttpReply r(200, body);
      r.framing = row.framing;
      r.chunkSize = row.chunkSize;
      return r;
    });
    HTTPRequest req;
    HTTPResponse resp;
    ASSERT_EQ(0, client.call(req, resp)) << client.getLastError();
    EXPECT_EQ(body, resp.getBodyText());
    // The same framing through invoke: chunks arrive as events, none kept.
    RecordingObserver obs;
    client.setObserver(&obs);
    ASSERT_EQ(0, client.invoke(req, resp)) << client.getLastError();
    client.setObserver(nullptr);
    EXPECT_EQ(body, obs.received);
    EXPECT_EQ(nullptr, resp.getBody());
    EXPECT_EQ((std::vector<int>{5, 6, 7}), collapsed(obs.eventKinds()));
  }
}

TEST_F(HttpClientTest, ReusedResponseIsResetFirst) {
  int n = 0;
  server.setHandler([&](const HttpRequestRecord&) {
    if (n++ == 0) return HttpReply(200, "first body").header("X-Only-First", "1").header("Set-Cookie", "s=1");
    return HttpReply(204);
  });
  HTTPRequest req;
  HTTPResponse resp;
  ASSERT_EQ(0, client.call(req, resp));
  ASSERT_EQ("first body", resp.getBodyText());
  resp.setStatus(599);
  ASSERT_EQ(0, client.call(req, resp));
  EXPECT_EQ(204, resp.getStatus());
  EXPECT_EQ("No Content", resp.getReason());
  EXPECT_FALSE(resp.has("X-Only-First"));
  EXPECT_EQ(nullptr, resp.getBody());
  std::vector<HTTPCookie> cookies;
  resp.getCookies(cookies);
  EXPECT_TRUE(cookies.empty());
}

TEST_F(HttpClientTest, ShortBodyFailsAtOnce) {
  struct Row {
    const char* name;
    HttpReply::Framing framing;
  } rows[] = {{"content-length", HttpReply::CONTENT_LENGTH}, {"chunked", HttpReply::CHUNKED}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    server.setHandler([&](const HttpRequestRecord&) {
      HttpReply r(200, std::string(5000, 'x'));
      r.framing = row.framing;
      r.cutAfter = 1000;  // then the connection closes
      return r;
    });
    client.setTimeout(10, 10);
    HTTPRequest req;
    HTTPResponse resp;
    Clock::time_point start = Clock::now();
    EXPECT_EQ(-1, client.call(req, resp));
    EXPECT_LT(secondsSince(start), 5.0);  // well before the 10 s time-out
    RecordingObserver obs;
    client.setObserver(&obs);
    EXPECT_EQ(-1, client.invoke(req, resp));
    client.setObserver(nullptr);
    EXPECT_EQ((std::vector<int>{5, 6, 0}), collapsed(obs.eventKinds()));
  }
}

TEST_F(HttpClientTest, SilentServerHitsTheTimeout) {
  server.setHandler([](const HttpRequestRecord&) {
    HttpReply r(200);
    r.delayMs = -1;
    return r;
  });
  client.setTimeout(1, 1);
  HTTPRequest req;
  HTTPResponse resp;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(-1, client.call(req, resp));
  double took = secondsSince(start);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 5.0);
  EXPECT_NE(std::string::npos, client.getLastError().find("time-out")) << client.getLastError();
}

TEST_F(HttpClientTest, SlowButSteadyBodyIsNotCutByTheTimeout) {
  // The time-out bounds silence, not the whole transfer: about 2 s of steady
  // data pass a 1 s time-out.
  server.setHandler([](const HttpRequestRecord&) {
    HttpReply r(200, "abcdef");
    r.chunkSize = 1;
    r.pauseMs = 400;
    return r;
  });
  client.setTimeout(1, 1);
  HTTPRequest req;
  HTTPResponse resp;
  Clock::time_point start = Clock::now();
  ASSERT_EQ(0, client.call(req, resp)) << client.getLastError();
  EXPECT_GT(secondsSince(start), 1.5);
  EXPECT_EQ("abcdef", resp.getBodyText());
}

TEST_F(HttpClientTest, RefusedConnectionAndHttpsToAPlainServerFail) {
  unsigned short port;
  {
    LoopbackHttpServer gone;
    port = gone.port();
  }
  HTTPClient c("127.0.0.1:" + std::to_string(port));
  c.setTimeout(1, 1);
  HTTPRequest req;
  HTTPResponse resp;
  RecordingObserver obs;
  c.setObserver(&obs);
  EXPECT_EQ(-1, c.invoke(req, resp));
  EXPECT_EQ(std::vector<int>{0}, obs.eventKinds());

  // HTTPS against a plain HTTP server fails instead of falling back.
  HTTPClient tls("127.0.0.1", server.port());
  tls.setTimeout(1, 1);
  tls.useSSL(true);
  EXPECT_EQ(-1, tls.call(req, resp));
  EXPECT_EQ(0u, server.requestCount());
}

TEST_F(HttpClientTest, OversizedHeadAndBodyFail) {
  server.setHandler([](const HttpRequestRecord& r) {
    if (r.path == "/head") return HttpReply(200).header("X-Big", std::string(70 * 1024, 'h'));
    return HttpReply(200, std::string(5000, 'b'));
  });
  HTTPRequest req(HTTPRequest::HTTP_GET, "/head", HTTPMessage::HTTP_1_1);
  HTTPResponse resp;
  EXPECT_EQ(-1, client.call(req, resp));
  EXPECT_NE(std::string::npos, client.getLastError().find("head")) << client.getLastError();
  client.setMaxBodySize(1000);
  req.setURI("/body");
  EXPECT_EQ(-1, client.call(req, resp));
}

// A status line without a three-digit status of 100 or more is a malformed answer, not a
// response with status 0 (found by fuzz/http_response_fuzz.cpp).
TEST_F(HttpClientTest, StatusLineWithoutAValidStatusFails) {
  const struct {
    const char* statusLine;
    int result;
  } rows[] = {{"HTTP/1.1 000 Continue", -1}, {"HTTP/'.1 000 Continue", -1}, {"HTTP/1.1 099 Low", -1},
              {"HTTP/1.1 20 Short", -1},     {"HTTP/1.1 2000 Long", -1},     {"HTTP/1.1 20x Bad", -1},
              {"hTTP/1.1 1:00 Cone", -1},    {"HTTP/1.1 200 OK", 0},         {"http/1.1 201 Made", 0},
              {"HTTP/1.1 599 Odd", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.statusLine);
    server.setHandler([&](const HttpRequestRecord&) {
      HttpReply r;
      r.raw = std::string(row.statusLine) + "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
      return r;
    });
    HTTPRequest req(HTTPRequest::HTTP_GET, "/status", HTTPMessage::HTTP_1_1);
    HTTPResponse resp;
    EXPECT_EQ(row.result, client.call(req, resp)) << client.getLastError();
    if (row.result == 0) {
      EXPECT_EQ(std::atoi(row.statusLine + 9), resp.getStatus());
    }
  }
}

TEST_F(HttpClientTest, HeaderInjectionIsRefusedBeforeSending) {
  HTTPRequest req;
  req.set("X-Evil", "a\r\nInjected: yes");
  HTTPResponse resp;
  EXPECT_EQ(-1, client.call(req, resp));
  HTTPRequest spaced(HTTPRequest::HTTP_GET, "/a b", HTTPMessage::HTTP_1_1);
  EXPECT_EQ(-1, client.call(spaced, resp));
  EXPECT_EQ(0, server.connectionCount());
}

// ---- invoke with an observer ----

TEST_F(HttpClientTest, StreamedUploadSendsExactlyTheObserversChunks) {
  RecordingObserver obs;
  obs.consume = false;
  obs.chunksToSend = {"--head\r\n", binaryBody(10000), "", binaryBody(4096), "\r\n--end--\r\n"};
  std::string all;
  for (const std::string& c : obs.chunksToSend) all += c;
  server.setHandler([](const HttpRequestRecord&) { return HttpReply(200, "{\"result\":0}"); });
  HTTPRequest req(HTTPRequest::HTTP_POST, "/file/uploadBlock?blockid=1", HTTPMessage::HTTP_1_1);
  req.setContentType("multipart/form-data; boundary=b");
  std::string ignored = "--head\r\n";  // the request's own body is not sent when the observer supplies
  req.setBody(ignored.data(), ignored.size());
  req.setContentLength(all.size());
  client.setObserver(&obs);
  HTTPResponse resp;
  ASSERT_EQ(0, client.invoke(req, resp)) << client.getLastError();
  EXPECT_EQ(all, server.lastRequest().body);
  EXPECT_EQ(std::to_string(all.size()), server.lastRequest().header("Content-Length"));
  // The observer did not consume the answer: it stays in the response.
  EXPECT_EQ("{\"result\":0}", resp.getBodyText());
  EXPECT_EQ(200, obs.headStatus);
  EXPECT_EQ(12, obs.headLength);
  EXPECT_EQ((std::vector<int>{5, 6, 7}), collapsed(obs.eventKinds()));
  for (std::thread::id t : obs.threads) EXPECT_EQ(std::this_thread::get_id(), t);
}

TEST_F(HttpClientTest, StreamedUploadWithoutLengthIsChunked) {
  RecordingObserver obs;
  obs.chunksToSend = {"abc", binaryBody(20000), "xyz"};
  HTTPRequest req(HTTPRequest::HTTP_PUT, "/up", HTTPMessage::HTTP_1_1);
  client.setObserver(&obs);
  HTTPResponse resp;
  ASSERT_EQ(0, client.invoke(req, resp)) << client.getLastError();
  HttpRequestRecord rec = server.lastRequest();
  EXPECT_TRUE(rec.chunked);
  EXPECT_EQ("abc" + binaryBody(20000) + "xyz", rec.body);
}

TEST_F(HttpClientTest, ObserverWithoutChunksSendsTheRequestsOwnBody) {
  RecordingObserver obs;  // supplies nothing, as a streamed XCAP PUT
  std::string doc = "<doc/>";
  HTTPRequest req(HTTPRequest::HTTP_PUT, "/xcap/doc", HTTPMessage::HTTP_1_1);
  req.setContentLength(doc.size());
  req.setBody(doc.data(), doc.size());
  client.setObserver(&obs);
  HTTPResponse resp;
  ASSERT_EQ(0, client.invoke(req, resp)) << client.getLastError();
  EXPECT_EQ(doc, server.lastRequest().body);
}

TEST_F(HttpClientTest, ObserverEndingBeforeContentLengthAbortsAtOnce) {
  RecordingObserver obs;
  obs.chunksToSend = {"only part"};
  HTTPRequest req(HTTPRequest::HTTP_POST, "/up", HTTPMessage::HTTP_1_1);
  req.setContentLength(100000);
  client.setTimeout(10, 10);
  client.setObserver(&obs);
  HTTPResponse resp;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(-1, client.invoke(req, resp));
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_EQ(std::vector<int>{0}, obs.eventKinds());
  EXPECT_NE(std::string::npos, client.getLastError().find("ended after 9 of 100000")) << client.getLastError();

  RecordingObserver over;  // and one that runs past the announced length
  over.chunksToSend = {"0123456789", "more"};
  req.setContentLength(12);
  client.setObserver(&over);
  EXPECT_EQ(-1, client.invoke(req, resp));
  EXPECT_EQ(std::vector<int>{0}, over.eventKinds());
}

TEST_F(HttpClientTest, CancelFromAnotherThreadEndsARunningInvoke) {
  server.setHandler([](const HttpRequestRecord& r) {
    if (r.path == "/after") return HttpReply(200, "ok");
    HttpReply reply(200, std::string(100000, 'd'));
    reply.cutAfter = 1000;
    reply.afterCut = HttpReply::STALL;  // then silence until the server stops
    return reply;
  });
  client.setTimeout(30, 30);
  RecordingObserver obs;
  std::mutex m;
  std::condition_variable cv;
  bool gotChunk = false;
  obs.onEvent = [&](int kind) {
    if (kind == HTTPClientObserver::EV_BODY) {
      std::lock_guard<std::mutex> lock(m);
      gotChunk = true;
      cv.notify_all();
    }
  };
  std::thread canceller([&] {
    std::unique_lock<std::mutex> lock(m);
    if (cv.wait_for(lock, std::chrono::seconds(10), [&] { return gotChunk; })) client.cancel();
  });
  client.setObserver(&obs);
  HTTPRequest req(HTTPRequest::HTTP_GET, "/download", HTTPMessage::HTTP_1_1);
  HTTPResponse resp;
  Clock::time_point start = Clock::now();
  int rc = client.invoke(req, resp);
  double took = secondsSince(start);
  canceller.join();
  EXPECT_EQ(-1, rc);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ("cancelled", client.getLastError());
  EXPECT_EQ((std::vector<int>{5, 6}), collapsed(obs.eventKinds()));  // no failure event for a cancel
  EXPECT_FALSE(client.stopped());

  // The flag is spent: the client works again.
  client.setObserver(nullptr);
  req.setURI("/after");
  EXPECT_EQ(0, client.call(req, resp)) << client.getLastError();
  EXPECT_EQ("ok", resp.getBodyText());

  // A cancel with nothing running changes nothing for the next exchange.
  size_t before = server.requestCount();
  client.cancel();
  EXPECT_FALSE(client.stopped());
  EXPECT_EQ(0, client.call(req, resp)) << client.getLastError();
  EXPECT_EQ("ok", resp.getBodyText());
  EXPECT_EQ(before + 1, server.requestCount());

  // A stopped client (a job cancelled just before its transfer starts) sends
  // nothing, now or later.
  client.stop();
  EXPECT_TRUE(client.stopped());
  EXPECT_EQ(-1, client.call(req, resp));
  EXPECT_EQ(-1, client.call(req, resp));
  EXPECT_EQ(before + 1, server.requestCount());
}

TEST_F(HttpClientTest, StopDuringASilentWaitEndsItPromptly) {
  server.setHandler([](const HttpRequestRecord&) {
    HttpReply r(200);
    r.delayMs = -1;
    return r;
  });
  client.setTimeout(30, 30);
  std::thread stopper([&] {
    if (server.waitForRequests(1, 10000)) client.stop();
  });
  HTTPRequest req;
  HTTPResponse resp;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(-1, client.call(req, resp));
  stopper.join();
  EXPECT_LT(secondsSince(start), 5.0);
}

TEST_F(HttpClientTest, DroppedConnectionGivesFailureEvent) {
  server.setHandler([](const HttpRequestRecord&) {
    HttpReply r(200);
    r.drop = true;
    return r;
  });
  RecordingObserver obs;
  client.setObserver(&obs);
  HTTPRequest req;
  HTTPResponse resp;
  EXPECT_EQ(-1, client.invoke(req, resp));
  EXPECT_EQ(std::vector<int>{0}, obs.eventKinds());
}

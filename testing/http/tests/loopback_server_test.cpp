// The loopback server seen from a raw socket: what it records, how it frames
// answers and faults, its bounds, and that stop() ends stalls promptly.
#include "testing/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

using namespace pwtest;

namespace {

// A raw client connection to the server.
class RawConnection {
 public:
  explicit RawConnection(unsigned short port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void send(const std::string& bytes) { ASSERT_EQ(ssize_t(bytes.size()), ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL)); }
  // Reads until `marker` has been seen `count` times, the peer closes or the deadline passes.
  std::string readUntil(const std::string& marker, int count = 1, int timeoutMs = 3000) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (occurrences(got, marker) < count) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0) break;
      pollfd p = {fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) break;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      got.append(buf, size_t(n));
    }
    return got;
  }
  std::string readToClose(int timeoutMs = 3000) { return readUntil(std::string("\x01never\x02", 7), 1, timeoutMs); }
  bool closed() const { return closed_; }

 private:
  static int occurrences(const std::string& s, const std::string& m) {
    int n = 0;
    for (size_t p = s.find(m); p != std::string::npos; p = s.find(m, p + m.size())) ++n;
    return n;
  }
  int fd_;
  bool closed_ = false;
};

}  // namespace

TEST(LoopbackHttpServer, RecordsChunkedBodyFoldedHeadersAndAbsoluteTarget) {
  LoopbackHttpServer server;
  RawConnection c(server.port());
  ASSERT_TRUE(c.ok());
  std::string body = "4\r\nWiki\r\n6;ext=1\r\npedia \r\n0\r\nTrailer: x\r\n\r\n";
  c.send("POST http://space.example:81/root/up?a=1&name=%E4%BD%A0+b HTTP/1.1\r\n"
         "Host: space.example:81\r\n"
         "X-Folded: one\r\n two\r\n"
         "Transfer-Encoding: chunked\r\n\r\n" + body);
  std::string answer = c.readUntil("\r\n\r\n");
  EXPECT_EQ(0u, answer.find("HTTP/1.1 200 OK\r\n"));
  ASSERT_EQ(1u, server.requestCount());
  HttpRequestRecord r = server.lastRequest();
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("http://space.example:81/root/up?a=1&name=%E4%BD%A0+b", r.target);
  EXPECT_EQ("space.example:81", r.authority);
  EXPECT_EQ("/root/up", r.path);
  EXPECT_EQ("1", r.queryParam("a"));
  EXPECT_EQ(u8"你 b", r.queryParam("name"));
  EXPECT_FALSE(r.hasQueryParam("zzz"));
  EXPECT_EQ("one two", r.header("x-folded"));
  EXPECT_TRUE(r.chunked);
  EXPECT_EQ("Wikipedia ", r.body);
  EXPECT_EQ(body, r.rawBody);
}

TEST(LoopbackHttpServer, KeepAliveServesSeveralRequestsOnOneConnection) {
  LoopbackHttpServer server([](const HttpRequestRecord& r) { return HttpReply(200, r.path); });
  RawConnection c(server.port());
  // Two requests in one write (pipelined), then a third that closes.
  c.send("GET /one HTTP/1.1\r\nHost: h\r\n\r\nPUT /two HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
  std::string two = c.readUntil("\r\n\r\n", 2);
  EXPECT_NE(std::string::npos, two.find("/one"));
  c.send("GET /three HTTP/1.1\r\nConnection: close\r\n\r\n");
  std::string rest = c.readToClose();
  EXPECT_NE(std::string::npos, rest.find("Connection: close"));
  EXPECT_TRUE(c.closed());
  std::vector<HttpRequestRecord> log = server.requests();
  ASSERT_EQ(3u, log.size());
  EXPECT_EQ("abc", log[1].body);
  EXPECT_EQ(log[0].connection, log[2].connection);
  EXPECT_EQ(1, server.connectionCount());
}

TEST(LoopbackHttpServer, AnswerFramingsAndFaultsOnTheWire) {
  struct Row {
    const char* name;
    HttpReply reply;
    std::string expected;  // the bytes after the head's blank line
    bool closes;
  };
  auto make = [](HttpReply::Framing f, size_t chunk, long long cut) {
    HttpReply r(200, "abcdefgh");
    r.framing = f;
    r.chunkSize = chunk;
    r.cutAfter = cut;
    return r;
  };
  Row rows[] = {
      {"length", make(HttpReply::CONTENT_LENGTH, 0, -1), "abcdefgh", false},
      {"chunked", make(HttpReply::CHUNKED, 3, -1), "3\r\nabc\r\n3\r\ndef\r\n2\r\ngh\r\n0\r\n\r\n", false},
      {"close", make(HttpReply::CLOSE_DELIMITED, 0, -1), "abcdefgh", true},
      {"short length", make(HttpReply::CONTENT_LENGTH, 0, 5), "abcde", true},
      {"short chunked", make(HttpReply::CHUNKED, 3, 4), "3\r\nabc\r\n3\r\nd", true},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoopbackHttpServer server([&](const HttpRequestRecord&) { return row.reply; });
    RawConnection c(server.port());
    c.send("GET / HTTP/1.1\r\n\r\n");
    std::string got = row.closes ? c.readToClose() : c.readUntil(row.expected);
    size_t end = got.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(row.expected, got.substr(end + 4));
    EXPECT_EQ(row.closes, c.closed());
  }
  // A dropped connection closes without a byte.
  LoopbackHttpServer dropper([](const HttpRequestRecord&) {
    HttpReply r;
    r.drop = true;
    return r;
  });
  RawConnection d(dropper.port());
  d.send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ("", d.readToClose());
  EXPECT_TRUE(d.closed());
}

TEST(LoopbackHttpServer, OversizedHeadOrBodyIsRefusedAndClosed) {
  LoopbackHttpServer server;
  server.setLimits(1024, 100);
  RawConnection big(server.port());
  big.send("GET / HTTP/1.1\r\nX: " + std::string(2000, 'x') + "\r\n\r\n");
  EXPECT_EQ(0u, big.readToClose().find("HTTP/1.1 431 "));
  RawConnection body(server.port());
  body.send("POST / HTTP/1.1\r\nContent-Length: 101\r\n\r\n");
  EXPECT_EQ(0u, body.readToClose().find("HTTP/1.1 413 "));
  RawConnection chunked(server.port());
  chunked.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFF\r\n");
  EXPECT_EQ(0u, chunked.readToClose().find("HTTP/1.1 413 "));
  RawConnection garbage(server.port());
  garbage.send("NONSENSE\r\n\r\n");
  EXPECT_EQ(0u, garbage.readToClose().find("HTTP/1.1 400 "));
  EXPECT_EQ(0u, server.requestCount());
}

TEST(LoopbackHttpServer, RouterPicksByMethodAndPath) {
  HttpRouter router;
  router.on("GET", "/a", [](const HttpRequestRecord&) { return HttpReply(200, "get a"); })
      .on("", "/a", [](const HttpRequestRecord&) { return HttpReply(201, "any a"); })
      .onPrefix("GET", "/files/", [](const HttpRequestRecord& r) { return HttpReply(200, r.path.substr(7)); });
  struct Row {
    const char* method;
    const char* target;
    int status;
    const char* body;
  } rows[] = {{"GET", "/a?x=1", 200, "get a"},
              {"POST", "/a", 201, "any a"},
              {"GET", "http://other:1/files/x.bin", 200, "x.bin"},
              {"GET", "/nothing", 404, "no route\n"}};
  for (const Row& r : rows) {
    HttpRequestRecord rec;
    rec.method = r.method;
    rec.target = r.target;
    std::string t = r.target;
    size_t scheme = t.find("://");
    if (scheme != std::string::npos) t = t.substr(t.find('/', scheme + 3));
    rec.path = t.substr(0, t.find('?'));
    HttpReply reply = router(rec);
    EXPECT_EQ(r.status, reply.status) << r.target;
    EXPECT_EQ(r.body, reply.body) << r.target;
  }
}

TEST(LoopbackHttpServer, StopEndsStallsAndJoinsPromptly) {
  auto start = std::chrono::steady_clock::now();
  {
    LoopbackHttpServer server([](const HttpRequestRecord& r) {
      HttpReply reply(200, std::string(1000, 'z'));
      if (r.path == "/before") reply.delayMs = -1;
      else {
        reply.cutAfter = 10;
        reply.afterCut = HttpReply::STALL;
      }
      return reply;
    });
    RawConnection a(server.port()), b(server.port()), idle(server.port());
    a.send("GET /before HTTP/1.1\r\n\r\n");
    b.send("GET /mid HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(server.waitForRequests(2, 3000));
    ASSERT_TRUE(server.waitForConnections(3, 3000));
    EXPECT_EQ(3, server.openConnections());
    server.stop();
    EXPECT_EQ(0, server.openConnections());
    EXPECT_EQ("", a.readToClose());
    EXPECT_TRUE(a.closed());
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
}

// A small HTTP/1.1 server on 127.0.0.1 (ephemeral port) for tests and the
// fake servers built on it. It records every request exactly as received,
// answers through a handler, and can misbehave on purpose: stay silent, drop
// the connection, cut a body short, frame a body by close or by chunks.
//
// Thread rule: every public method may be called from any thread. The handler
// runs on the connection's own thread, so it may run for several connections
// at once; it must not call stop() or destroy the server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pwtest {

typedef std::pair<std::string, std::string> HttpHeader;

// One request as the server read it.
struct HttpRequestRecord {
  std::string method;
  std::string target;     // the request-target as sent (origin or absolute form)
  std::string authority;  // "host:port" of an absolute-form target, else ""
  std::string path;       // the target's path, still percent-encoded ("/" at least)
  std::string query;      // the part after "?", without it; "" when none
  std::string version;    // "HTTP/1.1"
  std::vector<HttpHeader> headers;  // in order, names as sent, values trimmed
  std::string body;       // the body, chunked framing removed
  std::string rawHead;    // request line and headers up to and including the blank line
  std::string rawBody;    // the body bytes exactly as received (chunk framing included)
  bool chunked = false;   // the body came with Transfer-Encoding: chunked
  int connection = 0;     // 1-based number of the connection it came on
  size_t index = 0;       // 0-based position in the server's log

  // First value of a header (case-insensitive name), "" when absent.
  std::string header(const std::string& name) const;
  std::vector<std::string> headerValues(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
  // A query parameter, percent-decoded ("+" as space); "" when absent.
  std::string queryParam(const std::string& name) const;
  bool hasQueryParam(const std::string& name) const;
};

// What the handler answers.
struct HttpReply {
  enum Framing {
    CONTENT_LENGTH,   // "Content-Length" added unless the headers carry one
    CHUNKED,          // "Transfer-Encoding: chunked", body cut into chunkSize pieces
    CLOSE_DELIMITED   // no length; the connection closes after the body
  };
  enum AfterCut { CLOSE, STALL };

  int status = 200;
  std::string reason;                // "" = the usual phrase of the status
  std::vector<HttpHeader> headers;   // written in order, as given
  std::string body;
  Framing framing = CONTENT_LENGTH;
  size_t chunkSize = 0;              // bytes per chunk (CHUNKED) or per write (others); 0 = all at once
  int pauseMs = 0;                   // silence between those pieces (a slow, steady sender)
  bool closeConnection = false;      // close after this reply ("Connection: close" added)
  bool closeSilently = false;        // close after this reply without a word of it (a kept
                                     // connection the server drops when its idle time ends)

  // Faults.
  int delayMs = 0;          // silence before answering; -1 = until the server stops or the peer leaves
  bool drop = false;        // after the delay, close the connection without a byte
  long long cutAfter = -1;  // when >= 0: send the head and only this many body bytes, then...
  AfterCut afterCut = CLOSE;  // ...close the connection, or stay silent (as delayMs -1)
  std::string raw;          // when non-empty: written verbatim in place of head and body

  HttpReply() {}
  HttpReply(int status, const std::string& body = std::string(),
            const std::string& contentType = std::string());
  HttpReply& header(const std::string& name, const std::string& value);
  static HttpReply redirect(int status, const std::string& location);
  static const char* standardReason(int status);
};

// Runs on the connection's thread; a handler that throws answers 500.
typedef std::function<HttpReply(const HttpRequestRecord&)> HttpHandler;

// Routes by method and path (query ignored; absolute-form targets are routed
// by their path). The first matching route answers; otherwise 404.
// Build it before the server runs; it is read-only afterwards.
class HttpRouter {
 public:
  // method "" matches every method.
  HttpRouter& on(const std::string& method, const std::string& path, HttpHandler handler);
  HttpRouter& onPrefix(const std::string& method, const std::string& prefix, HttpHandler handler);
  HttpRouter& otherwise(HttpHandler handler);
  HttpReply operator()(const HttpRequestRecord& request) const;

 private:
  struct Route {
    std::string method;
    std::string path;
    bool prefix;
    HttpHandler handler;
  };
  std::vector<Route> routes_;
  HttpHandler fallback_;
};

class LoopbackHttpServer {
 public:
  static const size_t DEFAULT_MAX_HEAD = 64 * 1024;
  static const size_t DEFAULT_MAX_BODY = 64 * 1024 * 1024;

  // Listens on 127.0.0.1 at an ephemeral port at once. Without a handler
  // every request gets an empty 200.
  explicit LoopbackHttpServer(HttpHandler handler = HttpHandler());
  // stop().
  ~LoopbackHttpServer();

  bool isListening() const;      // false when the socket could not be opened
  unsigned short port() const;
  std::string host() const;      // "127.0.0.1"
  std::string hostPort() const;  // "127.0.0.1:<port>"
  std::string url(const std::string& pathAndQuery) const;  // "http://127.0.0.1:<port>" + path
  // The same server also listens on [::1] at an ephemeral port of its own
  // when the machine has that address: 0 when it has not.
  unsigned short ipv6Port() const;
  std::string ipv6HostPort() const;  // "[::1]:<ipv6 port>"

  void setHandler(HttpHandler handler);
  // Heads or bodies beyond these get 431 or 413 and the connection closed.
  void setLimits(size_t maxHead, size_t maxBody);
  // The request log keeps at most this many bytes of each body (default: all of it); the
  // handler always gets the whole request. For peers that take in gigabytes.
  void setLoggedBodyLimit(size_t bytes);

  std::vector<HttpRequestRecord> requests() const;
  HttpRequestRecord lastRequest() const;  // empty record when none
  size_t requestCount() const;
  void clearRequests();
  // Waits until at least `count` requests are logged; false at the deadline.
  bool waitForRequests(size_t count, int timeoutMs) const;
  int connectionCount() const;  // connections accepted so far
  // Waits until at least `count` connections were accepted; false at the deadline.
  bool waitForConnections(int count, int timeoutMs) const;
  int openConnections() const;  // connections still open

  // Closes the listener and every connection, ends every stall and joins
  // every thread. Idempotent.
  void stop();

 private:
  LoopbackHttpServer(const LoopbackHttpServer&);
  LoopbackHttpServer& operator=(const LoopbackHttpServer&);

  struct Connection {
    int fd = -1;
    int number = 0;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void acceptLoop();
  void serve(Connection* c);
  bool waitReadable(int fd, int timeoutMs) const;   // false on stop
  bool stall(int fd, int ms) const;                 // false when the server stops or the peer leaves
  bool sendAll(int fd, const char* data, size_t n) const;
  void reapFinished();                              // joins finished connection threads; mutex_ held

  // Set in the constructor; listenFd_ and acceptThread_ change afterwards only
  // in stop(), under stopMutex_, once the accept thread has ended.
  int listenFd_;
  int listenFd6_;  // -1 without ::1
  int wakePipe_[2];
  unsigned short port_;
  unsigned short port6_;
  std::thread acceptThread_;

  std::mutex stopMutex_;                 // serialises stop()
  mutable std::mutex mutex_;             // guards every member below
  mutable std::condition_variable cv_;   // signalled on new requests and on stop
  bool stopping_;
  HttpHandler handler_;
  size_t maxHead_;
  size_t maxBody_;
  size_t loggedBodyLimit_ = static_cast<size_t>(-1);
  std::vector<HttpRequestRecord> log_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::set<int> openFds_;
  int accepted_;
};

// Percent-decoding for query values and paths ("+" as space when `plusAsSpace`).
std::string urlDecode(const std::string& text, bool plusAsSpace = true);

}  // namespace pwtest

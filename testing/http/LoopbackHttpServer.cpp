#include "testing/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace pwtest {

namespace {

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool containsToken(const std::string& value, const std::string& token) {
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t comma = value.find(',', pos);
    if (iequals(trim(value.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)), token))
      return true;
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return false;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a request-target into authority, path and query.
void splitTarget(HttpRequestRecord& r) {
  std::string rest = r.target;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos && rest.find('/') > scheme) {  // absolute form
    size_t start = scheme + 3;
    size_t slash = rest.find_first_of("/?", start);
    r.authority = rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
  }
  size_t hash = rest.find('#');
  if (hash != std::string::npos) rest.erase(hash);
  size_t q = rest.find('?');
  if (q != std::string::npos) {
    r.query = rest.substr(q + 1);
    rest.erase(q);
  }
  r.path = rest.empty() ? std::string("/") : rest;
}

}  // namespace

std::string urlDecode(const std::string& text, bool plusAsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+' && plusAsSpace) {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// ---- HttpRequestRecord ----

std::string HttpRequestRecord::header(const std::string& name) const {
  for (const HttpHeader& h : headers)
    if (iequals(h.first, name)) return h.second;
  return std::string();
}

std::vector<std::string> HttpRequestRecord::headerValues(const std::string& name) const {
  std::vector<std::string> out;
  for (const HttpHeader& h : headers)
    if (iequals(h.first, name)) out.push_back(h.second);
  return out;
}

bool HttpRequestRecord::hasHeader(const std::string& name) const {
  for (const HttpHeader& h : headers)
    if (iequals(h.first, name)) return true;
  return false;
}

namespace {
bool findParam(const std::string& query, const std::string& name, std::string* value) {
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t amp = query.find('&', pos);
    std::string pair = query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
    size_t eq = pair.find('=');
    if (urlDecode(pair.substr(0, eq)) == name) {
      if (value) *value = eq == std::string::npos ? std::string() : urlDecode(pair.substr(eq + 1));
      return true;
    }
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return false;
}
}  // namespace

std::string HttpRequestRecord::queryParam(const std::string& name) const {
  std::string value;
  findParam(query, name, &value);
  return value;
}

bool HttpRequestRecord::hasQueryParam(const std::string& name) const {
  return findParam(query, name, 0);
}

// ---- HttpReply ----

HttpReply::HttpReply(int s, const std::string& b, const std::string& contentType) : status(s), body(b) {
  if (!contentType.empty()) headers.push_back(HttpHeader("Content-Type", contentType));
}

HttpReply& HttpReply::header(const std::string& name, const std::string& value) {
  headers.push_back(HttpHeader(name, value));
  return *this;
}

HttpReply HttpReply::redirect(int s, const std::string& location) {
  HttpReply r(s);
  r.header("Location", location);
  return r;
}

const char* HttpReply::standardReason(int s) {
  switch (s) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

// ---- HttpRouter ----

HttpRouter& HttpRouter::on(const std::string& method, const std::string& path, HttpHandler handler) {
  routes_.push_back(Route{method, path, false, handler});
  return *this;
}

HttpRouter& HttpRouter::onPrefix(const std::string& method, const std::string& prefix, HttpHandler handler) {
  routes_.push_back(Route{method, prefix, true, handler});
  return *this;
}

HttpRouter& HttpRouter::otherwise(HttpHandler handler) {
  fallback_ = handler;
  return *this;
}

HttpReply HttpRouter::operator()(const HttpRequestRecord& request) const {
  for (const Route& r : routes_) {
    if (!r.method.empty() && r.method != request.method) continue;
    bool match = r.prefix ? request.path.compare(0, r.path.size(), r.path) == 0 : request.path == r.path;
    if (match) return r.handler(request);
  }
  if (fallback_) return fallback_(request);
  return HttpReply(404, "no route\n", "text/plain");
}

// ---- LoopbackHttpServer ----

LoopbackHttpServer::LoopbackHttpServer(HttpHandler handler)
    : listenFd_(-1), listenFd6_(-1), port_(0), port6_(0), stopping_(false), handler_(handler), maxHead_(DEFAULT_MAX_HEAD),
      maxBody_(DEFAULT_MAX_BODY), accepted_(0) {
  wakePipe_[0] = wakePipe_[1] = -1;
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) return;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return;
  }
  listenFd_ = fd;
  port_ = ntohs(addr.sin_port);
  int fd6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd6 >= 0) {
    sockaddr_in6 addr6;
    std::memset(&addr6, 0, sizeof addr6);
    addr6.sin6_family = AF_INET6;
    addr6.sin6_addr = in6addr_loopback;
    socklen_t len6 = sizeof addr6;
    if (::bind(fd6, reinterpret_cast<sockaddr*>(&addr6), sizeof addr6) == 0 && ::listen(fd6, 64) == 0 &&
        ::getsockname(fd6, reinterpret_cast<sockaddr*>(&addr6), &len6) == 0) {
      listenFd6_ = fd6;
      port6_ = ntohs(addr6.sin6_port);
    } else {
      ::close(fd6);
    }
  }
  acceptThread_ = std::thread(&LoopbackHttpServer::acceptLoop, this);
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop();
  if (wakePipe_[0] >= 0) ::close(wakePipe_[0]);
  if (wakePipe_[1] >= 0) ::close(wakePipe_[1]);
}

bool LoopbackHttpServer::isListening() const { return listenFd_ >= 0; }
unsigned short LoopbackHttpServer::port() const { return port_; }
std::string LoopbackHttpServer::host() const { return "127.0.0.1"; }
std::string LoopbackHttpServer::hostPort() const { return host() + ":" + std::to_string(port_); }
std::string LoopbackHttpServer::url(const std::string& p) const { return "http://" + hostPort() + p; }
unsigned short LoopbackHttpServer::ipv6Port() const { return port6_; }
std::string LoopbackHttpServer::ipv6HostPort() const { return "[::1]:" + std::to_string(port6_); }

void LoopbackHttpServer::setHandler(HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = handler;
}

void LoopbackHttpServer::setLimits(size_t maxHead, size_t maxBody) {
  std::lock_guard<std::mutex> lock(mutex_);
  maxHead_ = maxHead;
  maxBody_ = maxBody;
}

void LoopbackHttpServer::setLoggedBodyLimit(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  loggedBodyLimit_ = bytes;
}

std::vector<HttpRequestRecord> LoopbackHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

HttpRequestRecord LoopbackHttpServer::lastRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.empty() ? HttpRequestRecord() : log_.back();
}

size_t LoopbackHttpServer::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.size();
}

void LoopbackHttpServer::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

bool LoopbackHttpServer::waitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return log_.size() >= count; });
}

int LoopbackHttpServer::connectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

bool LoopbackHttpServer::waitForConnections(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return accepted_ >= count; });
}

int LoopbackHttpServer::openConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(openFds_.size());
}

void LoopbackHttpServer::stop() {
  std::lock_guard<std::mutex> stopLock(stopMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && !acceptThread_.joinable() && connections_.empty()) return;
    stopping_ = true;
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  cv_.notify_all();
  if (wakePipe_[1] >= 0) {
    char b = 1;
    ssize_t n = ::write(wakePipe_[1], &b, 1);
    (void)n;
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
  }
  if (listenFd6_ >= 0) {
    ::close(listenFd6_);
    listenFd6_ = -1;
  }
  // No thread adds connections any more: join them all.
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(connections_);
  }
  for (std::unique_ptr<Connection>& c : all)
    if (c->thread.joinable()) c->thread.join();
}

void LoopbackHttpServer::reapFinished() {
  for (std::list<std::unique_ptr<Connection>>::iterator it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void LoopbackHttpServer::acceptLoop() {
  for (;;) {
    pollfd fds[3] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {listenFd6_, POLLIN, 0}};
    int n = ::poll(fds, listenFd6_ >= 0 ? 3 : 2, -1);
    if (n < 0 && errno == EINTR) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    if (n < 0 || (fds[1].revents & POLLIN)) return;
    int listener = (fds[0].revents & POLLIN) ? listenFd_ : (listenFd6_ >= 0 && (fds[2].revents & POLLIN)) ? listenFd6_ : -1;
    if (listener < 0) continue;
    int fd = ::accept4(listener, 0, 0, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A reply goes out as head and body in two writes: without this the body would wait for
    // the peer's delayed acknowledgement of the head (about 40 ms per exchange).
    int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    reapFinished();
    std::unique_ptr<Connection> c(new Connection);
    c->fd = fd;
    c->number = ++accepted_;
    openFds_.insert(fd);
    Connection* raw = c.get();
    connections_.push_back(std::move(c));
    raw->thread = std::thread(&LoopbackHttpServer::serve, this, raw);
    cv_.notify_all();
  }
}

bool LoopbackHttpServer::waitReadable(int fd, int timeoutMs) const {
  // Waits in short steps so that stop() is seen even without a shutdown.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return false;
    }
    pollfd p = {fd, POLLIN, 0};
    int n = ::poll(&p, 1, 50);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
  }
}

bool LoopbackHttpServer::stall(int fd, int ms) const {
  // Silent for `ms` (or until stop with -1). Bytes the peer sends meanwhile
  // stay unread for the next request; its leaving ends the stall early.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return false;
    if (ms >= 0 && std::chrono::steady_clock::now() >= deadline) return true;
    lock.unlock();
    pollfd p = {fd, POLLRDHUP, 0};
    int n = ::poll(&p, 1, 20);
    if (n > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;  // the peer left
    lock.lock();
  }
}

bool LoopbackHttpServer::sendAll(int fd, const char* data, size_t n) const {
  while (n > 0) {
    ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

namespace {

std::string renderHead(const HttpReply& r, const std::string& body, bool headRequest, bool close) {
  std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " +
                     (r.reason.empty() ? std::string(HttpReply::standardReason(r.status)) : r.reason) + "\r\n";
  bool hasLength = false, hasTe = false, hasConnection = false;
  for (const HttpHeader& h : r.headers) {
    head += h.first + ": " + h.second + "\r\n";
    if (iequals(h.first, "Content-Length")) hasLength = true;
    if (iequals(h.first, "Transfer-Encoding")) hasTe = true;
    if (iequals(h.first, "Connection")) hasConnection = true;
  }
  bool noBody = r.status == 204 || r.status == 304 || (r.status >= 100 && r.status < 200);
  if (!noBody) {
    if (r.framing == HttpReply::CONTENT_LENGTH && !hasLength)
      head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (r.framing == HttpReply::CHUNKED && !hasTe) head += "Transfer-Encoding: chunked\r\n";
  }
  if (close && !hasConnection) head += "Connection: close\r\n";
  (void)headRequest;
  head += "\r\n";
  return head;
}

// The body as wire pieces: (bytes, payload bytes they carry).
std::vector<std::pair<std::string, size_t>> renderBody(const HttpReply& r) {
  std::vector<std::pair<std::string, size_t>> pieces;
  size_t step = r.chunkSize == 0 ? r.body.size() : r.chunkSize;
  if (r.framing != HttpReply::CHUNKED) {
    if (step == 0) pieces.push_back(std::make_pair(r.body, r.body.size()));
    for (size_t pos = 0; step > 0 && pos < r.body.size(); pos += step) {
      std::string data = r.body.substr(pos, step);
      pieces.push_back(std::make_pair(data, data.size()));
    }
    return pieces;
  }
  for (size_t pos = 0; pos < r.body.size(); pos += step) {
    std::string data = r.body.substr(pos, step);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    pieces.push_back(std::make_pair(std::string(size), 0));
    pieces.push_back(std::make_pair(data, data.size()));
    pieces.push_back(std::make_pair(std::string("\r\n"), 0));
  }
  pieces.push_back(std::make_pair(std::string("0\r\n\r\n"), 0));
  return pieces;
}

}  // namespace

void LoopbackHttpServer::serve(Connection* c) {
  const int fd = c->fd;
  std::string buf;
  size_t maxHead, maxBody;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    maxHead = maxHead_;
    maxBody = maxBody_;
  }
  // Reads more bytes into buf; false when the peer left, on an error or on stop.
  auto fill = [&]() -> bool {
    if (!waitReadable(fd, -1)) return false;
    char tmp[16384];
    ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.append(tmp, static_cast<size_t>(n));
    return true;
  };
  auto answerError = [&](int status) {
    HttpReply r(status, std::string(HttpReply::standardReason(status)) + "\n", "text/plain");
    std::string head = renderHead(r, r.body, false, true);
    sendAll(fd, head.data(), head.size());
    sendAll(fd, r.body.data(), r.body.size());
  };

  bool keepGoing = true;
  while (keepGoing) {
    // ---- head ----
    size_t headEnd;
    for (;;) {
      headEnd = buf.find("\r\n\r\n");
      if (headEnd != std::string::npos) break;
      if (buf.size() > maxHead) {
        answerError(431);
        keepGoing = false;
        break;
      }
      if (!fill()) {
        keepGoing = false;
        break;
      }
    }
    if (!keepGoing) break;
    if (headEnd + 4 > maxHead) {
      answerError(431);
      break;
    }
    HttpRequestRecord rec;
    rec.connection = c->number;
    rec.rawHead = buf.substr(0, headEnd + 4);
    buf.erase(0, headEnd + 4);

    // Request line.
    size_t lineEnd = rec.rawHead.find("\r\n");
    std::string line = rec.rawHead.substr(0, lineEnd);
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1 ||
        line.find(' ', sp2 + 1) != std::string::npos) {
      answerError(400);
      break;
    }
    rec.method = line.substr(0, sp1);
    rec.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    rec.version = line.substr(sp2 + 1);
    splitTarget(rec);

    // Headers (folded lines join the previous value).
    bool bad = false;
    size_t pos = lineEnd + 2;
    while (pos < headEnd + 2) {
      size_t e = rec.rawHead.find("\r\n", pos);
      std::string h = rec.rawHead.substr(pos, e - pos);
      pos = e + 2;
      if (h.empty()) break;
      if ((h[0] == ' ' || h[0] == '\t') && !rec.headers.empty()) {
        rec.headers.back().second += " " + trim(h);
        continue;
      }
      size_t colon = h.find(':');
      if (colon == std::string::npos || colon == 0) {
        bad = true;
        break;
      }
      rec.headers.push_back(HttpHeader(h.substr(0, colon), trim(h.substr(colon + 1))));
    }
    if (bad) {
      answerError(400);
      break;
    }

    if (containsToken(rec.header("Expect"), "100-continue")) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      sendAll(fd, kContinue, sizeof kContinue - 1);
    }

    // ---- body ----
    std::string te = rec.header("Transfer-Encoding");
    if (!te.empty()) {
      if (!containsToken(te, "chunked")) {
        answerError(400);
        break;
      }
      rec.chunked = true;
      size_t p = 0;        // parse position within buf
      int failStatus = 0;  // 400 or 413 to answer; -1 when the peer left
      for (;;) {
        size_t le;
        while ((le = buf.find("\r\n", p)) == std::string::npos) {
          if (buf.size() - p > 1024) {
            failStatus = 400;
            break;
          }
          if (!fill()) {
            failStatus = -1;
            break;
          }
        }
        if (failStatus) break;
        std::string sizeLine = buf.substr(p, le - p);
        std::string hex = trim(sizeLine.substr(0, sizeLine.find(';')));
        if (hex.empty() || hex.size() > 15) {
          failStatus = 400;
          break;
        }
        unsigned long long size = 0;
        for (char ch : hex) {
          int v = hexValue(ch);
          if (v < 0) {
            failStatus = 400;
            break;
          }
          size = size * 16 + static_cast<unsigned>(v);
        }
        if (failStatus) break;
        p = le + 2;
        if (size == 0) {
          // Trailers up to the blank line.
          for (;;) {
            while ((le = buf.find("\r\n", p)) == std::string::npos) {
              if (buf.size() - p > maxHead) {
                failStatus = 431;
                break;
              }
              if (!fill()) {
                failStatus = -1;
                break;
              }
            }
            if (failStatus) break;
            bool blank = le == p;
            p = le + 2;
            if (blank) break;
          }
          break;
        }
        if (rec.body.size() + size > maxBody) {
          failStatus = 413;
          break;
        }
        while (buf.size() < p + size + 2) {
          if (!fill()) {
            failStatus = -1;
            break;
          }
        }
        if (failStatus) break;
        if (buf.compare(p + size, 2, "\r\n") != 0) {
          failStatus = 400;
          break;
        }
        rec.body.append(buf, p, size);
        p += size + 2;
      }
      if (failStatus) {
        if (failStatus > 0) answerError(failStatus);
        break;
      }
      rec.rawBody = buf.substr(0, p);
      buf.erase(0, p);
    } else if (rec.hasHeader("Content-Length")) {
      std::string cl = rec.header("Content-Length");
      if (cl.empty() || cl.size() > 18 || cl.find_first_not_of("0123456789") != std::string::npos) {
        answerError(400);
        break;
      }
      unsigned long long length = std::strtoull(cl.c_str(), 0, 10);
      if (length > maxBody) {
        answerError(413);
        break;
      }
      bool ok = true;
      while (buf.size() < length) {
        if (!fill()) {
          ok = false;
          break;
        }
      }
      if (!ok) break;  // the peer left (or stop) before the whole body
      rec.body = buf.substr(0, length);
      rec.rawBody = rec.body;
      buf.erase(0, length);
    }

    // ---- log and answer ----
    HttpHandler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rec.index = log_.size();
      if (rec.body.size() > loggedBodyLimit_ || rec.rawBody.size() > loggedBodyLimit_) {
        HttpRequestRecord kept = rec;
        if (kept.body.size() > loggedBodyLimit_) kept.body.resize(loggedBodyLimit_);
        if (kept.rawBody.size() > loggedBodyLimit_) kept.rawBody.resize(loggedBodyLimit_);
        log_.push_back(std::move(kept));
      } else {
        log_.push_back(rec);
      }
      handler = handler_;
    }
    cv_.notify_all();
    HttpReply reply;
    try {
      reply = handler ? handler(rec) : HttpReply(200);
    } catch (const std::exception& e) {
      reply = HttpReply(500, std::string("handler threw: ") + e.what() + "\n", "text/plain");
    } catch (...) {
      reply = HttpReply(500, "handler threw\n", "text/plain");
    }

    if (reply.delayMs != 0 && !stall(fd, reply.delayMs)) break;
    if (reply.drop) break;
    if (!reply.raw.empty()) {
      if (!sendAll(fd, reply.raw.data(), reply.raw.size())) break;
      if (reply.closeConnection) break;
      continue;
    }
    bool close = reply.closeConnection || reply.framing == HttpReply::CLOSE_DELIMITED ||
                 containsToken(rec.header("Connection"), "close") ||
                 (rec.version == "HTTP/1.0" && !containsToken(rec.header("Connection"), "keep-alive"));
    bool headRequest = rec.method == "HEAD";
    std::string head = renderHead(reply, reply.body, headRequest, close);
    if (!sendAll(fd, head.data(), head.size())) break;
    bool noBody = headRequest || reply.status == 204 || reply.status == 304;
    if (!noBody) {
      long long budget = reply.cutAfter;  // payload bytes still allowed; < 0 = all
      bool cut = false;
      bool firstPayload = true;
      for (const std::pair<std::string, size_t>& piece : renderBody(reply)) {
        if (piece.second > 0 && reply.pauseMs > 0 && !firstPayload && !stall(fd, reply.pauseMs)) {
          cut = true;
          break;
        }
        if (piece.second > 0) firstPayload = false;
        if (budget >= 0 && piece.second > 0 && static_cast<long long>(piece.second) > budget) {
          sendAll(fd, piece.first.data(), static_cast<size_t>(budget));
          cut = true;
          break;
        }
        if (!sendAll(fd, piece.first.data(), piece.first.size())) {
          cut = true;
          break;
        }
        if (budget >= 0) budget -= static_cast<long long>(piece.second);
      }
      if (cut) {
        if (reply.afterCut == HttpReply::STALL) stall(fd, -1);
        break;
      }
    }
    if (close) {
      // Let the peer read everything before the socket goes: half-close, then
      // wait (bounded) for it to leave.
      ::shutdown(fd, SHUT_WR);
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (std::chrono::steady_clock::now() < deadline && waitReadable(fd, 100)) {
        char tmp[4096];
        if (::recv(fd, tmp, sizeof tmp, 0) <= 0) break;
      }
      break;
    }
    if (reply.closeSilently) break;
  }

  {
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(fd);
    ::close(fd);
  }
  c->done = true;
}

}  // namespace pwtest

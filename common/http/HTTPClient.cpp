#include "http/HTTPClient.h"

#include <ace/Message_Block.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace http {

namespace {

typedef std::chrono::steady_clock Clock;

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != 0 && c != 0;
}

bool validHeaderName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (!isTokenChar(c)) return false;
  return true;
}

bool validHeaderValue(const std::string& value) {
  for (unsigned char c : value)
    if (c == '\r' || c == '\n' || c == '\0') return false;
  return true;
}

// The request-target goes on the request line verbatim: no blanks or controls.
bool validTarget(const std::string& target) {
  for (unsigned char c : target)
    if (c <= 0x20 || c == 0x7f) return false;
  return true;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

int parsePort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  int port = std::atoi(text.c_str());
  return port >= 1 && port <= 65535 ? port : -1;
}

}  // namespace

// ---- the curl handles of one client ----

struct HTTPClient::Impl {
  CURL* easy;
  CURLM* multi;  // owns the kept connection; curl_multi_wakeup from cancel (any thread)
  // Guards running and halted, and cancelled_ against an exchange's start and end, so that
  // a cancel never outlives the exchange it was meant for.
  std::mutex state;
  bool running;  // an exchange is between its start and its end
  bool halted;   // stop was called: every exchange ends at once

  Impl() : easy(0), multi(0), running(false), halted(false) {
    initCurlOnce();
    easy = curl_easy_init();
    multi = curl_multi_init();
  }
  ~Impl() {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
  }
};

// ---- the state of one exchange; lives on the owner's stack ----

namespace {

struct Exchange {
  HTTPResponse* response = 0;
  HTTPClientObserver* observer = 0;
  const std::atomic<bool>* cancelled = 0;
  size_t maxBody = 0;

  // Request body: the request's own bytes, or the observer's chunks.
  bool fromObserver = false;
  const char* own = 0;
  size_t ownLength = 0;
  size_t ownSent = 0;
  ACE_Message_Block* chunk = 0;  // the observer's current chunk (the observer's block)
  bool observerDone = false;
  long long announced = -1;  // Content-Length sent; -1 = chunked
  long long sent = 0;
  bool bodyPending = false;  // request body still being sent (send time-out applies)

  // Response head.
  size_t headBytes = 0;
  bool headDone = false;
  int status = 0;
  std::string version;
  std::string reason;
  std::vector<std::pair<std::string, std::string> > headers;

  ACE_Message_Block* eventBlock = 0;  // the chunk handed to EV_BODY; owned here

  Clock::time_point lastActivity;
  bool failed = false;
  std::string error;

  ~Exchange() {
    if (eventBlock) eventBlock->release();
  }

  void fail(const std::string& why) {
    if (!failed) error = why;
    failed = true;
  }

  // Appends bytes to the response's body, within the bound.
  bool appendBody(const char* data, size_t n) {
    if (n == 0) return true;
    ACE_Message_Block* body = response->getBody();
    size_t have = body ? body->length() : 0;
    if (have + n > maxBody) {
      fail("response body larger than " + std::to_string(maxBody) + " bytes");
      return false;
    }
    if (!body) {
      body = new ACE_Message_Block(n < 4096 ? 4096 : n);
      response->setBody(body);
    } else if (body->space() < n) {
      size_t want = body->size() * 2;
      size_t need = (body->wr_ptr() - body->base()) + n;
      if (want < need) want = need;
      if (body->size(want) != 0) {
        fail("out of memory for the response body");
        return false;
      }
    }
    body->copy(data, n);
    return true;
  }
};

size_t onHeader(char* data, size_t size, size_t count, void* userdata) {
  Exchange* ex = static_cast<Exchange*>(userdata);
  size_t n = size * count;
  ex->lastActivity = Clock::now();
  ex->headBytes += n;
  if (ex->headBytes > HTTPClient::MAX_HEAD_SIZE) {
    ex->fail("response head larger than " + std::to_string(HTTPClient::MAX_HEAD_SIZE) + " bytes");
    return 0;
  }
  std::string line(data, n);
  while (!line.empty() && (line[line.size() - 1] == '\n' || line[line.size() - 1] == '\r'))
    line.erase(line.size() - 1);

  if (ex->headDone) return n;  // trailers after a chunked body: not kept

  if (line.compare(0, 5, "HTTP/") == 0) {  // a status line starts a head (after any 1xx)
    ex->headers.clear();
    size_t sp1 = line.find(' ');
    if (sp1 == std::string::npos) {
      ex->fail("malformed status line");
      return 0;
    }
    ex->version = line.substr(0, sp1);
    size_t sp2 = line.find(' ', sp1 + 1);
    std::string code = line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
    if (code.size() != 3 || code.find_first_not_of("0123456789") != std::string::npos) {
      ex->fail("malformed status line");
      return 0;
    }
    ex->status = std::atoi(code.c_str());
    ex->reason = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
    return n;
  }

  if (line.empty()) {  // the end of a head
    if (ex->status >= 100 && ex->status < 200) return n;  // informational: wait for the real one
    ex->headDone = true;
    HTTPResponse* r = ex->response;
    r->setVersion(ex->version);
    r->setStatus(ex->status);
    r->setReason(ex->reason);
    for (size_t i = 0; i < ex->headers.size(); ++i) r->add(ex->headers[i].first, ex->headers[i].second);
    if (ex->observer) ex->observer->onHttpEvent(HTTPClientObserver::EV_HEAD, r, 0);
    if (ex->cancelled->load()) return 0;
    return n;
  }

  if (line[0] == ' ' || line[0] == '\t') {  // a folded continuation line
    if (ex->headers.empty()) {
      ex->fail("malformed response header");
      return 0;
    }
    ex->headers.back().second += " " + trim(line);
    return n;
  }
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) {
    ex->fail("malformed response header");
    return 0;
  }
  ex->headers.push_back(std::make_pair(trim(line.substr(0, colon)), trim(line.substr(colon + 1))));
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* userdata) {
  Exchange* ex = static_cast<Exchange*>(userdata);
  size_t n = size * count;
  ex->lastActivity = Clock::now();
  if (ex->cancelled->load()) return 0;
  if (!ex->observer) return ex->appendBody(data, n) ? n : 0;

  if (!ex->eventBlock) ex->eventBlock = new ACE_Message_Block(n < 16384 ? 16384 : n);
  ex->eventBlock->reset();
  if (ex->eventBlock->size() < n && ex->eventBlock->size(n) != 0) {
    ex->fail("out of memory for a body chunk");
    return 0;
  }
  ex->eventBlock->copy(data, n);
  ex->observer->onHttpEvent(HTTPClientObserver::EV_BODY, ex->response, ex->eventBlock);
  // What the observer left unread stays with the response.
  if (ex->eventBlock->length() > 0 &&
      !ex->appendBody(ex->eventBlock->rd_ptr(), ex->eventBlock->length()))
    return 0;
  if (ex->cancelled->load()) return 0;
  return n;
}

size_t onRead(char* buffer, size_t size, size_t count, void* userdata) {
  Exchange* ex = static_cast<Exchange*>(userdata);
  size_t room = size * count;
  ex->lastActivity = Clock::now();
  if (ex->cancelled->load()) return CURL_READFUNC_ABORT;
  long long left = ex->announced >= 0 ? ex->announced - ex->sent : -1;
  if (left == 0) {
    ex->bodyPending = false;
    return 0;
  }
  if (left > 0 && static_cast<long long>(room) > left) room = static_cast<size_t>(left);

  size_t copied = 0;
  if (!ex->fromObserver) {
    size_t n = ex->ownLength - ex->ownSent;
    if (n > room) n = room;
    std::memcpy(buffer, ex->own + ex->ownSent, n);
    ex->ownSent += n;
    copied = n;
  } else {
    // Chunks are joined until curl's buffer is full, so that large bodies go out in large writes.
    int emptyChunks = 0;
    while (copied < room && !ex->observerDone) {
      if (!ex->chunk || ex->chunk->length() == 0) {
        ex->chunk = ex->observer->nextRequestChunk();
        if (!ex->chunk) {
          ex->observerDone = true;
          break;
        }
        if (ex->chunk->length() == 0 && ++emptyChunks > 100000) {
          ex->fail("the observer gives only empty request chunks");
          return CURL_READFUNC_ABORT;
        }
        if (ex->cancelled->load()) return CURL_READFUNC_ABORT;
        continue;
      }
      size_t n = ex->chunk->length();
      if (ex->announced >= 0 && static_cast<long long>(n) > left - static_cast<long long>(copied)) {
        ex->fail("request body longer than its Content-Length " + std::to_string(ex->announced));
        return CURL_READFUNC_ABORT;
      }
      if (n > room - copied) n = room - copied;
      std::memcpy(buffer + copied, ex->chunk->rd_ptr(), n);
      ex->chunk->rd_ptr(n);
      copied += n;
    }
  }
  ex->sent += static_cast<long long>(copied);
  if (copied == 0) {
    ex->bodyPending = false;
    if (ex->announced >= 0 && ex->sent < ex->announced) {
      ex->fail("request body ended after " + std::to_string(ex->sent) + " of " +
               std::to_string(ex->announced) + " announced bytes");
      return CURL_READFUNC_ABORT;
    }
    return 0;  // the end of a chunked body
  }
  if (ex->announced >= 0 && ex->sent == ex->announced) ex->bodyPending = false;
  return copied;
}

int onSeek(void* userdata, curl_off_t offset, int origin) {
  // Curl rewinds when it resends on a fresh connection; only the request's
  // own bytes can be sent again.
  Exchange* ex = static_cast<Exchange*>(userdata);
  if (ex->fromObserver || origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > ex->ownLength)
    return CURL_SEEKFUNC_CANTSEEK;
  ex->ownSent = static_cast<size_t>(offset);
  ex->sent = offset;
  ex->bodyPending = true;
  return CURL_SEEKFUNC_OK;
}

}  // namespace

// ---- HTTPClient ----

HTTPClient::HTTPClient(const std::string& hostPort)
    : port_(0), ssl_(false), recvTimeout_(DEFAULT_RECEIVE_TIMEOUT), sendTimeout_(DEFAULT_SEND_TIMEOUT),
      maxBodySize_(DEFAULT_MAX_BODY_SIZE), observer_(0), cancelled_(false), impl_(new Impl) {
  std::string text = trim(hostPort);
  if (!text.empty() && text[0] == '[') {  // [v6]:port
    size_t close = text.find(']');
    host_ = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':')
      port_ = parsePort(text.substr(close + 2));
  } else {
    size_t colon = text.rfind(':');
    if (colon != std::string::npos && text.find(':') == colon) {
      host_ = text.substr(0, colon);
      port_ = parsePort(text.substr(colon + 1));
    } else {
      host_ = text;  // no port, or a bare v6 address
    }
  }
}

HTTPClient::HTTPClient(const std::string& host, int port)
    : host_(host), port_(port), ssl_(false), recvTimeout_(DEFAULT_RECEIVE_TIMEOUT),
      sendTimeout_(DEFAULT_SEND_TIMEOUT), maxBodySize_(DEFAULT_MAX_BODY_SIZE), observer_(0),
      cancelled_(false), impl_(new Impl) {
  // Kept bare, like the "host:port" form keeps it: the URL adds the brackets.
  if (host_.size() > 2 && host_[0] == '[' && host_[host_.size() - 1] == ']') host_ = host_.substr(1, host_.size() - 2);
}

HTTPClient::~HTTPClient() { delete impl_; }

void HTTPClient::setTimeout(int recvSeconds, int sendSeconds) {
  recvTimeout_ = recvSeconds > 0 ? recvSeconds : DEFAULT_RECEIVE_TIMEOUT;
  sendTimeout_ = sendSeconds > 0 ? sendSeconds : DEFAULT_SEND_TIMEOUT;
}

void HTTPClient::useSSL(bool ssl) { ssl_ = ssl; }
void HTTPClient::setMaxBodySize(size_t bytes) { maxBodySize_ = bytes; }
void HTTPClient::setObserver(HTTPClientObserver* observer) { observer_ = observer; }
HTTPClientObserver* HTTPClient::getObserver() const { return observer_; }

int HTTPClient::call(HTTPRequest& request, HTTPResponse& response) { return exchange(request, response, 0); }

int HTTPClient::invoke(HTTPRequest& request, HTTPResponse& response) {
  return exchange(request, response, observer_);
}

void HTTPClient::cancel() {
  {
    std::lock_guard<std::mutex> lock(impl_->state);
    if (!impl_->running) return;  // nothing runs: the next exchange must not fail for it
    cancelled_.store(true);
  }
  if (impl_->multi) curl_multi_wakeup(impl_->multi);
}

void HTTPClient::stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->state);
    impl_->halted = true;
    if (impl_->running) cancelled_.store(true);
  }
  if (impl_->multi) curl_multi_wakeup(impl_->multi);
}

bool HTTPClient::stopped() const {
  std::lock_guard<std::mutex> lock(impl_->state);
  return impl_->halted || cancelled_.load();
}
const std::string& HTTPClient::getLastError() const { return lastError_; }
const std::string& HTTPClient::getHost() const { return host_; }
int HTTPClient::getPort() const { return port_; }

int HTTPClient::exchange(HTTPRequest& request, HTTPResponse& response, HTTPClientObserver* observer) {
  response.reset();
  lastError_.clear();

  Exchange ex;
  ex.response = &response;
  ex.observer = observer;
  ex.cancelled = &cancelled_;
  ex.maxBody = maxBodySize_;

  // Every way out: clear the cancel flag, report a failure (not a cancel) to the observer.
  auto finish = [&](const std::string& error) -> int {
    bool wasCancelled;
    {
      std::lock_guard<std::mutex> lock(impl_->state);
      wasCancelled = cancelled_.exchange(false);
      impl_->running = false;
    }
    if (error.empty() && !wasCancelled) {
      if (observer) observer->onHttpEvent(HTTPClientObserver::EV_COMPLETE, &response, 0);
      return 0;
    }
    lastError_ = wasCancelled ? std::string("cancelled") : error;
    if (!wasCancelled && observer) observer->onHttpEvent(HTTPClientObserver::EV_FAILURE, &response, 0);
    return -1;
  };

  {
    // From here on a cancel ends this exchange; a stopped client sends nothing.
    std::lock_guard<std::mutex> lock(impl_->state);
    impl_->running = true;
    cancelled_.store(impl_->halted);
  }
  if (cancelled_.load()) return finish("cancelled");
  if (!impl_->easy || !impl_->multi) return finish("curl could not be initialised");
  if (host_.empty() || port_ < 0 || port_ > 65535) return finish("no server address");
  const std::string& method = request.getMethod().empty() ? HTTPRequest::HTTP_GET : request.getMethod();
  if (!validHeaderName(method)) return finish("invalid request method");
  std::string target = request.getURI().empty() ? std::string("/") : request.getURI();
  if (!validTarget(target)) return finish("invalid request target");

  // ---- where the request body comes from, and how long it is ----
  if (observer) {
    ex.chunk = observer->nextRequestChunk();
    ex.fromObserver = ex.chunk != 0;
    ex.observerDone = ex.chunk == 0;
  }
  if (!ex.fromObserver && request.getBody()) {
    ex.own = request.getBody()->rd_ptr();
    ex.ownLength = request.getBody()->length();
  }
  bool hasBody = true;
  if (request.has(HTTPMessage::CONTENT_LENGTH)) {
    std::string cl = trim(request.get(HTTPMessage::CONTENT_LENGTH));
    if (cl.empty() || cl.size() > 18 || cl.find_first_not_of("0123456789") != std::string::npos)
      return finish("invalid Content-Length \"" + cl + "\"");
    ex.announced = std::strtoll(cl.c_str(), 0, 10);
    if (!ex.fromObserver && static_cast<long long>(ex.ownLength) > ex.announced)
      return finish("request body longer than its Content-Length " + cl);
  } else if (ex.fromObserver) {
    ex.announced = -1;  // chunked
  } else if (ex.own || method == HTTPRequest::HTTP_POST || method == HTTPRequest::HTTP_PUT) {
    ex.announced = static_cast<long long>(ex.ownLength);
  } else {
    hasBody = false;
  }
  if (method == HTTPRequest::HTTP_HEAD) hasBody = false;
  ex.bodyPending = hasBody && ex.announced != 0;

  // ---- header lines ----
  struct SList {
    curl_slist* list = 0;
    ~SList() { curl_slist_free_all(list); }
    void add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
  } headers;
  std::string cookies;
  bool cookiesPlaced = false, hasType = false, hasAccept = false, keepAlive = true;
  std::vector<std::string> lines;
  size_t cookieLine = 0;
  for (NameValueCollection::ConstIterator it = request.begin(); it != request.end(); ++it) {
    if (!validHeaderName(it->first) || !validHeaderValue(it->second))
      return finish("invalid request header \"" + it->first + "\"");
    if (NameValueCollection::equalsIgnoreCase(it->first, HTTPMessage::CONTENT_LENGTH) ||
        NameValueCollection::equalsIgnoreCase(it->first, "Transfer-Encoding") ||
        NameValueCollection::equalsIgnoreCase(it->first, "Expect"))
      continue;  // framing is the client's
    if (NameValueCollection::equalsIgnoreCase(it->first, HTTPRequest::COOKIE)) {
      // Several Cookie entries go out as one header: "a=1; b=2".
      if (it->second.empty()) continue;
      if (!cookies.empty()) cookies += "; ";
      cookies += it->second;
      if (!cookiesPlaced) {
        cookieLine = lines.size();
        lines.push_back(std::string());
        cookiesPlaced = true;
      }
      continue;
    }
    if (NameValueCollection::equalsIgnoreCase(it->first, HTTPMessage::CONTENT_TYPE)) hasType = true;
    if (NameValueCollection::equalsIgnoreCase(it->first, "Accept")) hasAccept = true;
    if (NameValueCollection::equalsIgnoreCase(it->first, HTTPMessage::CONNECTION) &&
        NameValueCollection::equalsIgnoreCase(trim(it->second), "close"))
      keepAlive = false;
    // curl sends "Name;" as a header with an empty value.
    lines.push_back(it->second.empty() ? it->first + ";" : it->first + ": " + it->second);
  }
  if (cookiesPlaced) lines[cookieLine] = HTTPRequest::COOKIE + ": " + cookies;
  for (const std::string& l : lines) headers.add(l);
  if (hasBody && ex.announced >= 0) headers.add("Content-Length: " + std::to_string(ex.announced));
  if (hasBody && !hasType) headers.add("Content-Type:");  // no default form type
  if (!hasAccept) headers.add("Accept:");                // no default "*/*"
  headers.add("Expect:");                                // never wait for 100-continue

  // ---- the transfer ----
  CURL* easy = impl_->easy;
  curl_easy_reset(easy);
  char errorText[CURL_ERROR_SIZE] = {0};
  int port = port_ > 0 ? port_ : (ssl_ ? 443 : 80);
  std::string hostInUrl = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
  std::string url = std::string(ssl_ ? "https" : "http") + "://" + hostInUrl + ":" + std::to_string(port) + "/";
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // never through a proxy from the environment
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   request.getVersion() == HTTPMessage::HTTP_1_0 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(sendTimeout_) * 1000L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &ex);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &ex);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);
  if (!keepAlive) curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  if (hasBody) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.announced));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, &ex);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, onSeek);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, &ex);
    if (ex.fromObserver) curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
    if (method != HTTPRequest::HTTP_POST) curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == HTTPRequest::HTTP_HEAD) {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (method != HTTPRequest::HTTP_GET) curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  CURLM* multi = impl_->multi;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return finish("curl could not start the transfer");
  ex.lastActivity = Clock::now();
  CURLcode result = CURLE_OK;
  bool done = false;
  std::string error;
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi, &running);
    if (mc != CURLM_OK) {
      error = std::string("curl: ") + curl_multi_strerror(mc);
      break;
    }
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == easy) {
        result = m->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    if (cancelled_.load() || ex.failed) break;
    int limit = ex.bodyPending ? sendTimeout_ : recvTimeout_;
    if (Clock::now() - ex.lastActivity >= std::chrono::seconds(limit)) {
      error = "time-out: no data for " + std::to_string(limit) + " s";
      break;
    }
    curl_multi_poll(multi, 0, 0, 200, 0);
  }
  curl_multi_remove_handle(multi, easy);  // a transfer cut short also closes its connection

  if (error.empty() && ex.failed) error = ex.error;
  if (error.empty() && !cancelled_.load()) {
    if (!done) {
      error = "the transfer ended without a result";
    } else if (result != CURLE_OK) {
      error = std::string("curl: ") + curl_easy_strerror(result);
      if (errorText[0]) error += std::string(" (") + errorText + ")";
    } else if (!ex.headDone) {
      error = "no response head";
    }
  }
  return finish(error);
}

}  // namespace http

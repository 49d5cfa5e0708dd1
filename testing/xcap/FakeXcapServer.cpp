#include "testing/FakeXcapServer.h"

#include "XcapNodes.h"

namespace pwtest {

const char* const FakeXcapServer::ROOT = "/xcap";
const char* const FakeXcapServer::SESSION_COOKIE = "XCAPSESSION";

namespace {

const char* const kErrorNs = "urn:ietf:params:xml:ns:xcap-error";

// The value of cookie `name` among the request's Cookie headers, "" when absent.
std::string cookieValue(const HttpRequestRecord& request, const std::string& name) {
  std::vector<std::string> headers = request.headerValues("Cookie");
  for (const std::string& header : headers) {
    size_t pos = 0;
    while (pos < header.size()) {
      size_t end = header.find(';', pos);
      if (end == std::string::npos) end = header.size();
      std::string pair = header.substr(pos, end - pos);
      size_t first = pair.find_first_not_of(' ');
      if (first != std::string::npos) pair = pair.substr(first);
      size_t eq = pair.find('=');
      if (eq != std::string::npos && pair.substr(0, eq) == name) return pair.substr(eq + 1);
      pos = end + 1;
    }
  }
  return std::string();
}

// The request target without its ticket parameter (what the ticket was asked for).
std::string targetWithoutTicket(const std::string& target) {
  size_t at = target.find("?ticket=");
  if (at == std::string::npos) at = target.find("&ticket=");
  return at == std::string::npos ? target : target.substr(0, at);
}

}  // namespace

FakeXcapServer::FakeXcapServer(FakeSsoServer* sso)
    : sso_(sso),
      requireSso_(false),
      issueSession_(true),
      sendEtag_(true),
      serial_(0),
      sessionSerial_(0),
      http_([this](const HttpRequestRecord& r) { return handle(r); }) {
  xcapnodes::initialise();
}

FakeXcapServer::~FakeXcapServer() { http_.stop(); }

void FakeXcapServer::requireSso(bool require) {
  std::lock_guard<std::mutex> lock(mutex_);
  requireSso_ = require;
}

void FakeXcapServer::setIssueSessionCookie(bool issue) {
  std::lock_guard<std::mutex> lock(mutex_);
  issueSession_ = issue;
}

void FakeXcapServer::expireSessions() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

void FakeXcapServer::setSendEtag(bool send) {
  std::lock_guard<std::mutex> lock(mutex_);
  sendEtag_ = send;
}

std::string FakeXcapServer::nextEtag() { return "\"rl-" + std::to_string(++serial_) + "\""; }

std::string FakeXcapServer::putDocument(const std::string& path, const std::string& body,
                                        const std::string& contentType) {
  std::lock_guard<std::mutex> lock(mutex_);
  Document& d = documents_[path];
  d.body = body;
  d.contentType = contentType;
  d.etag = nextEtag();
  return d.etag;
}

void FakeXcapServer::removeDocument(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  documents_.erase(path);
}

std::string FakeXcapServer::etagOf(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::string, Document>::const_iterator it = documents_.find(path);
  return it == documents_.end() ? std::string() : it->second.etag;
}

std::string FakeXcapServer::documentOf(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::string, Document>::const_iterator it = documents_.find(path);
  return it == documents_.end() ? std::string() : it->second.body;
}

void FakeXcapServer::script(const std::string& pathPrefix, const HttpReply& reply, int count,
                            bool beforeAuth) {
  std::lock_guard<std::mutex> lock(mutex_);
  Script s;
  s.prefix = pathPrefix;
  s.reply = reply;
  s.count = count;
  s.beforeAuth = beforeAuth;
  scripts_.push_back(s);
}

void FakeXcapServer::clearScripts() {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.clear();
}

std::string FakeXcapServer::xcapErrorBody(const std::string& element) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><xcap-error xmlns=\"") + kErrorNs +
         "\"><" + element + "/></xcap-error>";
}

HttpReply FakeXcapServer::noParentReply(const std::string& ancestor) {
  std::string body = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><xcap-error xmlns=\"") +
                     kErrorNs + "\"><no-parent><ancestor>" + ancestor +
                     "</ancestor></no-parent></xcap-error>";
  return HttpReply(409, body, "application/xcap-error+xml");
}

size_t FakeXcapServer::countRequests(const std::string& method, const std::string& path) const {
  size_t n = 0;
  for (const HttpRequestRecord& r : http_.requests()) {
    if (r.method == method && urlDecode(r.path, false) == path) ++n;
  }
  return n;
}

int FakeXcapServer::sessionsOpened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessionSerial_;
}

bool FakeXcapServer::takeScript(const std::string& path, bool beforeAuth, HttpReply& reply) {
  for (std::deque<Script>::iterator it = scripts_.begin(); it != scripts_.end(); ++it) {
    if (it->beforeAuth != beforeAuth || path.compare(0, it->prefix.size(), it->prefix) != 0) continue;
    reply = it->reply;
    if (--it->count <= 0) scripts_.erase(it);
    return true;
  }
  return false;
}

bool FakeXcapServer::authorise(const HttpRequestRecord& request, std::string& newSession) {
  if (!requireSso_) return true;
  std::string session = cookieValue(request, SESSION_COOKIE);
  if (!session.empty() && sessions_.count(session) != 0) return true;
  std::string ticket = request.queryParam("ticket");
  if (ticket.empty() || sso_ == 0) return false;
  std::string base = targetWithoutTicket(request.target);
  std::string service = base.compare(0, 7, "http://") == 0 ? base : "http://" + request.header("Host") + base;
  if (!sso_->consumeTicket(ticket, service)) return false;
  if (issueSession_) {
    newSession = "S-" + std::to_string(++sessionSerial_);
    sessions_.insert(newSession);
  }
  return true;
}

HttpReply FakeXcapServer::handle(const HttpRequestRecord& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string path = urlDecode(request.path, false);
  HttpReply reply;
  if (takeScript(path, true, reply)) return reply;
  std::string newSession;
  if (!authorise(request, newSession)) {
    std::string login = sso_ != 0 ? "http://" + sso_->hostPort() + FakeSsoServer::LOGIN_PATH
                                  : std::string("http://127.0.0.1/casserver/login");
    std::string service = "http://" + request.header("Host") + request.path;
    return HttpReply::redirect(302, login + "?service=" + service);
  }
  if (!takeScript(path, false, reply)) reply = serve(request, path);
  if (!newSession.empty()) {
    reply.header("Set-Cookie", std::string(SESSION_COOKIE) + "=" + newSession + "; Path=/xcap");
  }
  return reply;
}

HttpReply FakeXcapServer::serve(const HttpRequestRecord& request, const std::string& fullPath) {
  const std::string root(ROOT);
  if (fullPath.compare(0, root.size() + 1, root + "/") != 0) return HttpReply(404);
  std::string path = fullPath.substr(root.size() + 1);
  size_t node = path.find("/~~/");
  std::string docPath = node == std::string::npos ? path : path.substr(0, node);

  std::map<std::string, Document>::iterator it = documents_.find(docPath);
  bool exists = it != documents_.end();
  std::string current = exists ? it->second.etag : std::string();
  std::string ifMatch = request.header("If-Match");
  std::string ifNoneMatch = request.header("If-None-Match");
  if (request.hasHeader("If-Match") && (!exists || (ifMatch != "*" && ifMatch != current))) {
    return HttpReply(412);
  }
  if (request.hasHeader("If-None-Match") && exists && (ifNoneMatch == "*" || ifNoneMatch == current)) {
    HttpReply r(request.method == "GET" ? 304 : 412);
    if (sendEtag_) r.header("ETag", current);
    return r;
  }
  if (node != std::string::npos) return serveNode(request, it, path.substr(node + 4));

  if (request.method == "GET") {
    if (!exists) return HttpReply(404);
    HttpReply r(200, it->second.body, it->second.contentType);
    if (sendEtag_) r.header("ETag", current);
    return r;
  }
  if (request.method == "PUT") {
    Document& d = documents_[docPath];
    d.body = request.body;
    d.contentType = request.header("Content-Type");
    d.etag = nextEtag();
    HttpReply r(exists ? 200 : 201);
    if (sendEtag_) r.header("ETag", d.etag);
    return r;
  }
  if (request.method == "DELETE") {
    if (!exists) return HttpReply(404);
    documents_.erase(it);
    return HttpReply(200);
  }
  return HttpReply(405);
}

}  // namespace pwtest

namespace pwtest {

HttpReply FakeXcapServer::serveNode(const HttpRequestRecord& request,
                                   std::map<std::string, Document>::iterator doc,
                                   const std::string& selector) {
  if (doc == documents_.end()) {
    if (request.method != "PUT") return HttpReply(404);
    return HttpReply(409, xcapErrorBody("no-parent"), "application/xcap-error+xml");
  }
  std::string query = urlDecode(request.query, false);
  xcapnodes::Outcome o;
  if (request.method == "GET") {
    o = xcapnodes::get(doc->second.body, selector, query);
  } else if (request.method == "PUT") {
    o = xcapnodes::put(doc->second.body, selector, query, request.body);
  } else if (request.method == "DELETE") {
    o = xcapnodes::remove(doc->second.body, selector, query);
  } else {
    return HttpReply(405);
  }
  if (!o.document.empty()) {
    doc->second.body = o.document;
    doc->second.etag = nextEtag();
  }
  HttpReply r(o.status, o.body, o.contentType);
  if (sendEtag_ && o.status < 300) r.header("ETag", doc->second.etag);
  return r;
}

}  // namespace pwtest

// A fake XCAP server on 127.0.0.1 for tests, built on LoopbackHttpServer, beside a
// FakeSsoServer that issues its tickets. Paths live under "/xcap"; the server percent-decodes
// the path before routing.
//
//   GET    /xcap/<auid>/myusers/<user>/<doc>           the stored document, its ETag "rl-<n>"
//   PUT    /xcap/<auid>/myusers/<user>/<doc>           stores the body (201 new, 200 replaced)
//   DELETE /xcap/<auid>/myusers/<user>/<doc>           forgets it (200)
//   GET    .../<doc>/~~/<node>                          the element (200) or 404
//   PUT    .../<doc>/~~/<node>                          inserts (201) or replaces (200) the
//                                                       element in the stored document;
//                                                       409 <no-parent> when its parent (or
//                                                       the document) does not exist
//   DELETE .../<doc>/~~/<node>                          removes it (200) or 404
// Node selectors and the query's xmlns() bindings are evaluated as XcapNodes.h describes; a
// change gives the document a new ETag, sent with the answer.
//
// Conditions on a stored document, for document and node requests alike: If-Match other than
// the current ETag (or "*") -> 412; If-None-Match equal to it (or "*") -> 304 for a GET, 412
// otherwise. Unknown document -> 404.
//
// Authorisation with requireSso(true): "?ticket=ST-..." (also "&ticket=") issued by the SSO
// server for "http://" + Host + the raw path, once; or "Cookie: XCAPSESSION=S-n" of a live
// session. A good ticket opens a session ("Set-Cookie: XCAPSESSION=S-n; Path=/xcap"). Anything
// else: 302 to the SSO login page.
//
// Faults: scripted replies (a status, an XCAP error body, a drop, a stall, a cut body, close
// framing...) answer the next requests under a path prefix in place of the normal answer.
//
// Thread rule: every public method may be called from any thread; handlers run on the
// connections' threads under the server's own mutex.
#pragma once

#include "testing/FakeSsoServer.h"
#include "testing/LoopbackHttpServer.h"

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pwtest {

class FakeXcapServer {
 public:
  static const char* const ROOT;            // "/xcap"
  static const char* const SESSION_COOKIE;  // "XCAPSESSION"

  // `sso` (may be null when tickets are never needed) must outlive this server.
  explicit FakeXcapServer(FakeSsoServer* sso = 0);
  ~FakeXcapServer();

  bool isListening() const { return http_.isListening(); }
  std::string hostPort() const { return http_.hostPort(); }
  LoopbackHttpServer& http() { return http_; }

  // Tickets and sessions are required (true) or every request is served (false, default).
  void requireSso(bool require);
  // A good ticket opens a session cookie (default true); false: every request needs a ticket.
  void setIssueSessionCookie(bool issue);
  // Ends every session: the next request is redirected to the SSO login.
  void expireSessions();
  // Sends no ETag header on documents (default false).
  void setSendEtag(bool send);

  // Stores a document; its ETag becomes "rl-<n>" with a new n. `path` is
  // "<auid>/myusers/<user>/<doc>" (no root). Returns the ETag.
  std::string putDocument(const std::string& path, const std::string& body,
                          const std::string& contentType = "application/resource-lists+xml");
  void removeDocument(const std::string& path);
  std::string etagOf(const std::string& path) const;  // "" when absent
  std::string documentOf(const std::string& path) const;

  // The next `count` requests whose decoded path (root included) starts with `pathPrefix`
  // get `reply` in place of the normal answer; the session and ticket checks still run first
  // unless `beforeAuth`.
  void script(const std::string& pathPrefix, const HttpReply& reply, int count = 1,
              bool beforeAuth = false);
  void clearScripts();

  // A 409 answer whose body is an XCAP no-parent error naming `ancestor`.
  static HttpReply noParentReply(const std::string& ancestor);
  // An XCAP error document with one error element (e.g. "not-utf-8").
  static std::string xcapErrorBody(const std::string& element);

  // Request log.
  std::vector<HttpRequestRecord> requests() const { return http_.requests(); }
  size_t requestCount() const { return http_.requestCount(); }
  void clearRequests() { http_.clearRequests(); }
  // Requests of one method whose decoded path equals `path` (root included).
  size_t countRequests(const std::string& method, const std::string& path) const;
  // Sessions opened so far.
  int sessionsOpened() const;

 private:
  FakeXcapServer(const FakeXcapServer&);
  FakeXcapServer& operator=(const FakeXcapServer&);

  struct Document {
    std::string body;
    std::string contentType;
    std::string etag;
  };
  struct Script {
    std::string prefix;
    HttpReply reply;
    int count;
    bool beforeAuth;
  };

  HttpReply handle(const HttpRequestRecord& request);
  HttpReply serve(const HttpRequestRecord& request, const std::string& path);
  HttpReply serveNode(const HttpRequestRecord& request,
                      std::map<std::string, Document>::iterator doc, const std::string& selector);
  bool takeScript(const std::string& path, bool beforeAuth, HttpReply& reply);
  bool authorise(const HttpRequestRecord& request, std::string& newSession);
  std::string nextEtag();

  FakeSsoServer* sso_;
  mutable std::mutex mutex_;  // guards every member below
  bool requireSso_;
  bool issueSession_;
  bool sendEtag_;
  int serial_;
  int sessionSerial_;
  std::map<std::string, Document> documents_;  // keyed by path without the root
  std::set<std::string> sessions_;
  std::deque<Script> scripts_;

  LoopbackHttpServer http_;  // last: its threads stop before the state above goes
};

}  // namespace pwtest

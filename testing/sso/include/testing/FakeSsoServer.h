// A fake single sign-on server (CAS style) on 127.0.0.1 for tests, built on
// LoopbackHttpServer. It speaks the paths under "/casserver/":
//   GET /casserver/login?outer=true&username=U&password=P&service=S&errorReturnUrl=E&systemid=X
//       right password -> 302 "S?ticket=ST-n" (or "S&ticket=..."), Set-Cookie CASTGC=TGT-n and
//       the extra login cookies; wrong password -> 200 login page (or, with
//       setFailureRedirect, a 302 to E without a ticket).
//   GET /casserver/login?service=S with Cookie CASTGC=TGT-n
//       valid TGT -> 302 with a new ticket and only a refreshed JSESSIONID cookie;
//       unknown or ended TGT -> 200 login page.
//   GET /casserver/logout?service=S[&oid=O] with the cookies -> ends that TGT, 200.
//   GET /casserver/proxyValidate?service=S&ticket=T
//       a ticket issued for S and not yet validated -> 200 with
//       <cas:user>U</cas:user> and <cas:attribute key='K'>V</cas:attribute> lines;
//       otherwise 200 with an authenticationFailure body and no user.
// Service tickets are good for one validation or one consumeTicket, whichever
// comes first. Every request is logged with its raw request line and headers.
//
// Thread rule: every public method may be called from any thread; the
// handlers run on the connections' threads under the server's own mutex.
#pragma once

#include "testing/LoopbackHttpServer.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pwtest {

class FakeSsoServer {
 public:
  // How the server reads the password parameter (after URL-decoding).
  enum PasswordForm { PLAIN, MD5_HEX, BASE64 };
  // Misbehaviour injected in place of the normal answer.
  enum Fault {
    NONE,
    LOGIN_PAGE,             // 200 with the login page
    SERVER_ERROR,           // 500
    EMPTY_OK,               // 200 without a body
    REDIRECT_NO_TICKET,     // 302 to the error-return URL, no ticket
    REDIRECT_EMPTY_TICKET,  // 302 to "service?ticket="
    DROP,                   // close the connection without a byte
    STALL,                  // say nothing until the client leaves or the server stops
    STALL_AFTER_BYTE        // send the first byte of a status line, then as STALL
  };

  struct Ticket {
    std::string ticket;
    std::string user;
    std::string service;
    bool used = false;
  };

  static const char* const LOGIN_PATH;     // "/casserver/login"
  static const char* const LOGOUT_PATH;    // "/casserver/logout"
  static const char* const VALIDATE_PATH;  // "/casserver/proxyValidate"

  FakeSsoServer();
  ~FakeSsoServer();

  bool isListening() const { return http_.isListening(); }
  unsigned short port() const { return http_.port(); }
  std::string hostPort() const { return http_.hostPort(); }
  // The underlying server (request log, connection counts).
  LoopbackHttpServer& http() { return http_; }

  // Accounts and how passwords arrive.
  void addUser(const std::string& user, const std::string& password);
  void setPasswordForm(PasswordForm form);
  // Wrong passwords get a 302 to the error-return URL (true) or the 200 page.
  void setFailureRedirect(bool redirect);
  // Raw Set-Cookie values a password login adds after its CASTGC, in order.
  // Default: {"JSESSIONID=J-<n>; Path=/casserver"}.
  void setExtraLoginCookies(const std::vector<std::string>& setCookies);
  // Attributes the validation of a user's ticket returns. Default: mail=<user>.
  void setAttributes(const std::string& user,
                     const std::vector<std::pair<std::string, std::string> >& attributes);

  // The next `count` requests (all of them when count < 0) whose path starts
  // with `pathPrefix` ("" for every path) get `fault`, after the first `skip`
  // of them, which are answered as usual. NONE clears it.
  void setFault(Fault fault, int count = -1, const std::string& pathPrefix = "", int skip = 0);

  // Service tickets issued so far, in order.
  std::vector<Ticket> issuedTickets() const;
  // For other fake servers that check a ticket: true when it was issued (for
  // `service`, unless that is "") and not used yet; it is used from now on.
  bool consumeTicket(const std::string& ticket, const std::string& service, std::string* user = 0);
  // Whether a user has a live ticket-granting cookie; ends them all.
  bool hasLiveTgt(const std::string& user) const;
  void expireAllTgts();

  // Request log (LoopbackHttpServer's records).
  std::vector<HttpRequestRecord> requests() const { return http_.requests(); }
  size_t requestCount() const { return http_.requestCount(); }
  bool waitForRequests(size_t count, int timeoutMs) const { return http_.waitForRequests(count, timeoutMs); }
  void clearRequests() { http_.clearRequests(); }
  // "GET /casserver/login?... HTTP/1.1" exactly as received.
  static std::string requestLine(const HttpRequestRecord& request);
  // Every Cookie header value of a request, in order.
  static std::vector<std::string> cookieHeaders(const HttpRequestRecord& request);
  // Every "name=value" pair of those headers, in order.
  static std::vector<std::string> cookiePairs(const HttpRequestRecord& request);

  // The password parameter a client sends for `password` in `form` (decoded).
  static std::string encodePassword(const std::string& password, PasswordForm form);

 private:
  FakeSsoServer(const FakeSsoServer&);
  FakeSsoServer& operator=(const FakeSsoServer&);

  HttpReply handle(const HttpRequestRecord& request);
  HttpReply login(const HttpRequestRecord& request);
  HttpReply logout(const HttpRequestRecord& request);
  HttpReply validate(const HttpRequestRecord& request);
  HttpReply faultReply(Fault fault, const HttpRequestRecord& request);
  HttpReply grant(const std::string& user, const std::string& service, bool newTgt);
  bool passwordMatches(const std::string& user, const std::string& sent) const;
  static std::string tgtOf(const HttpRequestRecord& request);
  static HttpReply loginPage();

  mutable std::mutex mutex_;  // guards every member below
  PasswordForm form_;
  bool failureRedirect_;
  std::map<std::string, std::string> passwords_;
  std::vector<std::string> extraCookies_;
  bool extraCookiesSet_;
  std::map<std::string, std::vector<std::pair<std::string, std::string> > > attributes_;
  Fault fault_;
  int faultCount_;
  int faultSkip_;
  std::string faultPrefix_;
  std::vector<Ticket> tickets_;
  std::map<std::string, std::string> tgts_;  // live TGT -> user
  int serial_;

  LoopbackHttpServer http_;  // last: its threads stop before the state above goes
};

}  // namespace pwtest

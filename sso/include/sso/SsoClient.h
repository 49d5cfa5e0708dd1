// The process-wide client of the single sign-on server (CAS style): it logs a
// user in for a service and obtains a service ticket, validates tickets and
// logs out, over plain HTTP GET. Login cookies are kept in SsoCookieManager
// under SSO_SYSTEM_ID and the user.
//
// Thread rule: any thread may call every operation. The synchronous forms
// block the caller for the exchange (bounded by SSO/httpTimeout seconds,
// default 30, or ended at once by stopExchanges); the asynchronous forms and
// logout queue a command on SsoTask and return at once.
//
// Configuration, section SSO: ssoServer, defaultOperator, ssoServers,
// loginUrl, proxyLogin, logoutUrl, validateUrl (read once, at construction);
// useMD5, useBase64, useSSL, httpTimeout (read at every request).
//
// Result codes of authenticate: 0 success; 1 the server text is not host:port
// or the exchange failed (refused, dropped, timed out); 2 the status was not
// 302; 3 a 302 without a service ticket. Of validate: 0; 1 as above; 2 status
// not 200; 3 status 200 with an empty body; 4 the body holds no user or a
// malformed attribute. The asynchronous forms and logout: 0 queued, -1 not.
//
// Operators: a request names an operator (or gets the default operator) and
// its server is the table's entry for it. An operator the table lacks, the
// configured default one included, has no server and gives code 1: the
// default server is used only when the real operator is empty.
#pragma once

#include "corvane/Sptr.h"
#include "sso/ISsoHandler.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <map>
#include <string>

class SsoClient {
 public:
  // The client, built from the configuration on the first call (Config must
  // be loaded before), which also opens the worker pool. Any thread.
  static SsoClient* instance();
  // Closes and deletes the worker pool, then deletes the client. Any thread
  // but a worker of the pool; no other call may run meanwhile.
  static void destroy();

  // Default server text "host:port". Lock 1.
  void setServer(const std::string& server);
  std::string getServer();
  // Empty name: the default server; else the table's entry or "" (no fall-back).
  std::string getServer(const std::string& name);
  // Empty name sets the default server; else inserts or replaces the entry.
  void addServer(const std::string& name, const std::string& server);
  void setDefaultOperator(const std::string& op);
  std::string getDefaultOperator();

  // Request paths. Locks 2 (login, proxy login), 3 (logout), 4 (validate).
  void setAuthenticateUrl(const std::string& url);
  std::string getAuthenticateUrl();
  void setProxyAuthenticateUrl(const std::string& url);
  std::string getProxyAuthenticateUrl();
  void setLogoutUrl(const std::string& url);
  std::string getLogoutUrl();
  void setValidateUrl(const std::string& url);
  std::string getValidateUrl();

  // Synchronous login on the caller's thread. On success writes the service
  // ticket and the redirect location (with "&oid=" + the encoded operator when
  // there is one); on failure leaves both untouched.
  int authenticate(const std::string& user, const std::string& password,
                   const std::string& service, const std::string& errorReturnUrl,
                   const std::string& systemid, std::string& ticket, std::string& location,
                   const std::string& op = "");
  // Synchronous login by this password alone, for a password the user typed:
  // the stored cookies are neither sent nor trusted, so it succeeds only when
  // the server accepts the password. Success merges the answer's cookies into
  // the store (as authenticate does); a refused password leaves the stored
  // cookies as they were. Outputs and codes as authenticate.
  int authenticateWithPassword(const std::string& user, const std::string& password,
                               const std::string& service, const std::string& errorReturnUrl,
                               const std::string& systemid, std::string& ticket,
                               std::string& location, const std::string& op = "");
  // Asynchronous login: the handler is told on a worker thread.
  int authenticate(const std::string& user, const std::string& password,
                   const std::string& service, const std::string& errorReturnUrl,
                   const std::string& systemid, Sptr<ISsoAuthenticateHandler> handler,
                   const std::string& op = "");

  // Synchronous validation; attributes are inserted into the caller's map
  // (a key already present keeps its value); on success writes the user.
  int validate(const std::string& service, const std::string& ticket, std::string& user,
               std::map<std::string, std::string>& attributes, const std::string& op = "");
  int validate(const std::string& service, const std::string& ticket,
               Sptr<ISsoValidateHandler> handler, const std::string& op = "");

  // Forgets the user's login cookies at once, so that the next login must
  // give the password, and queues the logout request that carries them (none
  // is sent when there were none). Returns 0 when queued, else -1.
  int logout(const std::string& user, const std::string& service, const std::string& op = "");

  // Ends every exchange with a server under way, whichever thread runs it (a
  // login, a validation, a queued logout), as a failed exchange (code 1; a
  // login so ended makes no further attempt), and fails every later one at
  // once, unsent, until allowExchanges has been called as often as
  // stopExchanges. For the end of the program and for callers that must not
  // wait for the server. Any thread; works with or without a client.
  static void stopExchanges();
  static void allowExchanges();
  static bool exchangesStopped();
  // How many stopExchanges have come so far: a caller that reads it before and after an
  // exchange tells an exchange that a stop ended (even one allowed again at once, as a logout
  // does) from a failed one.
  static unsigned long stopCount();

 private:
  // The operator a request uses: `op`, or the default operator when empty.
  std::string getRealOperator(const std::string& op);

  SsoClient();
  ~SsoClient() {}
  SsoClient(const SsoClient&) = delete;
  SsoClient& operator=(const SsoClient&) = delete;

  static std::atomic<SsoClient*> instance_;  // written under instanceMutex_
  static ACE_Thread_Mutex instanceMutex_;

  ACE_Thread_Mutex serverLock_;  // lock 1
  std::string server_;                              // guarded by serverLock_
  std::string defaultOperator_;                     // guarded by serverLock_
  std::map<std::string, std::string> servers_;      // guarded by serverLock_

  ACE_Thread_Mutex loginUrlLock_;  // lock 2
  std::string loginUrl_;           // guarded by loginUrlLock_
  std::string proxyLoginUrl_;      // guarded by loginUrlLock_

  ACE_Thread_Mutex logoutUrlLock_;  // lock 3
  std::string logoutUrl_;           // guarded by logoutUrlLock_

  ACE_Thread_Mutex validateUrlLock_;  // lock 4
  std::string validateUrl_;           // guarded by validateUrlLock_
};

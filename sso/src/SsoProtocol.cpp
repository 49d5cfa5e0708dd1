#include "SsoProtocol.h"

#include "sso/IHash.h"
#include "util/CodingTransform.h"
#include "util/StringParser.h"

#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "http/HTTPClient.h"
#include "http/HTTPRequest.h"
#include "log/IM_LogManager.h"
#include "util/Config.h"

#include <ace/Codecs.h>
#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <set>

namespace sso_protocol {

bool extractTicket(const std::string& location, std::string& ticket) {
  static const std::string kName = "ticket=";
  std::string::size_type query = location.find('?');
  if (query == std::string::npos) return false;
  std::string::size_type pos = query + 1;
  while (pos <= location.size()) {
    std::string::size_type end = location.find('&', pos);
    if (end == std::string::npos) end = location.size();
    if (end - pos >= kName.size() && location.compare(pos, kName.size(), kName) == 0) {
      std::string value = location.substr(pos + kName.size(), end - pos - kName.size());
      if (value.empty()) return false;
      ticket = value;
      return true;
    }
    pos = end + 1;
  }
  return false;
}

int parseValidateBody(const std::string& body, std::string& user,
                      std::map<std::string, std::string>& attributes) {
  static const std::string kUser = "<cas:user>";
  static const std::string kUserEnd = "</cas:user>";
  static const std::string kAttr = "<cas:attribute";
  static const std::string kKey = "key='";
  static const std::string kKeyEnd = "'>";
  static const std::string kAttrEnd = "</cas:attribute>";

  std::string::size_type start = body.find(kUser);
  if (start == std::string::npos) return 4;
  start += kUser.size();
  std::string::size_type end = body.find(kUserEnd, start);
  // An empty user is no user.
  if (end == std::string::npos || end == start) return 4;
  std::string parsedUser = body.substr(start, end - start);

  std::string::size_type pos = end;
  while (pos < body.size()) {
    std::string::size_type attr = body.find(kAttr, pos);
    if (attr == std::string::npos) break;
    std::string::size_type key = body.find(kKey, attr);
    if (key == std::string::npos || key + kKey.size() >= body.size()) return 4;
    key += kKey.size();
    std::string::size_type keyEnd = body.find(kKeyEnd, key);
    if (keyEnd == std::string::npos) return 4;
    std::string::size_type value = keyEnd + kKeyEnd.size();
    if (value >= body.size()) return 4;
    std::string::size_type valueEnd = body.find(kAttrEnd, value);
    if (valueEnd == std::string::npos) break;  // unterminated: dropped
    attributes.insert(std::make_pair(body.substr(key, keyEnd - key), body.substr(value, valueEnd - value)));
    pos = valueEnd + kAttrEnd.size();
  }
  user = parsedUser;
  return 0;
}

std::map<std::string, std::string> parseServerTable(const std::string& text) {
  std::map<std::string, std::string> table;
  std::vector<std::string> pieces;
  StringParser::tokenize(text, ";", pieces);
  for (const std::string& piece : pieces) {
    std::string::size_type arrow = piece.find("->");
    if (arrow == std::string::npos || arrow + 2 >= piece.size()) continue;
    table[piece.substr(0, arrow)] = piece.substr(arrow + 2);
  }
  return table;
}

std::string passwordParameter(const std::string& password, bool useMD5, bool useBase64) {
  if (useMD5) {
    MD5 md5;
    std::string digest;
    if (!md5.hash(password, digest)) return std::string();
    return toHexString(digest, true);
  }
  if (useBase64) {
    if (password.empty()) return std::string();
    size_t length = 0;
    // Not chunked: the text must stay on the request line.
    ACE_Byte* encoded = ACE_Base64::encode(reinterpret_cast<const ACE_Byte*>(password.data()),
                                           password.size(), &length, false);
    if (!encoded) return std::string();
    std::string text;
    for (size_t i = 0; i < length; ++i) {
      char c = static_cast<char>(encoded[i]);
      if (c != '\n' && c != '\r') text += c;
    }
    delete[] encoded;
    // '+', '/' and '=' are not safe in a query value.
    return CodingTransform::urlencode(text, true, false);
  }
  return CodingTransform::urlencode(password, true, false);
}

namespace {

const int kDefaultTimeout = 30;  // seconds

std::string enc(const std::string& text) { return CodingTransform::urlencode(text, true, false); }

ACE_Thread_Mutex loggedOutMutex;
std::set<std::string> loggedOut;  // guarded by loggedOutMutex

bool passwordRequired(const std::string& user) {
  ACE_Guard<ACE_Thread_Mutex> guard(loggedOutMutex);
  return loggedOut.count(user) != 0;
}

void clearLoggedOut(const std::string& user) {
  ACE_Guard<ACE_Thread_Mutex> guard(loggedOutMutex);
  loggedOut.erase(user);
}

// Forgets the user's login cookies after a failure, unless another login has
// stored different ones meanwhile.
void clearIfUnchanged(const std::string& user, const std::list<std::string>& sent) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(SsoCookieManager::cookiesMapMutex_);
  std::list<std::string> now = SsoCookieManager::getCookies(SsoCookieManager::SSO_SYSTEM_ID, user);
  if (now == sent) SsoCookieManager::clearCookie(SsoCookieManager::SSO_SYSTEM_ID, user);
}

// One login attempt: by the given cookies, or by password when there are none.
// `stopped` tells that stopExchanges ended it (the code is then 1).
int attempt(const LoginRequest& login, const std::list<std::string>& cookies,
            std::string& ticket, std::string& location, bool& stopped) {
  SsoClient* client = SsoClient::instance();
  std::string server = client->getServer(login.op);
  std::string uri = client->getAuthenticateUrl() + "?";
  if (!cookies.empty()) {
    uri += "service=" + enc(login.service);
  } else {
    Config* config = Config::instance();
    bool useMD5 = config->getBoolValue("SSO", "useMD5", false);
    bool useBase64 = config->getBoolValue("SSO", "useBase64", false);
    uri += "outer=true&username=" + enc(login.user) +
           "&password=" + passwordParameter(login.password, useMD5, useBase64) +
           "&service=" + enc(login.service) + "&errorReturnUrl=" + enc(login.errorReturnUrl) +
           "&systemid=" + enc(login.systemid);
  }
  HTTPResponse response;
  int code = exchange(server, uri, cookies, response);
  stopped = code == EXCHANGE_STOPPED;
  if (stopped) code = 1;
  if (code == 0) {
    if (response.getStatus() != 302) {
      code = 2;
    } else {
      std::string redirect = response.get(HTTPResponse::LOCATION);
      std::string found;
      if (!extractTicket(redirect, found)) {
        code = 3;
      } else {
        if (!login.op.empty()) redirect += "&oid=" + enc(login.op);
        SsoCookieManager::saveCookies(SsoCookieManager::SSO_SYSTEM_ID, login.user, response);
        ticket = found;
        location = redirect;
        return 0;
      }
    }
  }
  IM_LOG_WARN("SsoClient, [user = %s, status = authenticate failed, code = %d%s]",
              login.user.c_str(), code, stopped ? ", reason = exchanges stopped" : "");
  clearIfUnchanged(login.user, cookies);
  return code;
}

// The HTTP clients of the exchanges under way, so that stopExchanges can end
// them from another thread, and how many stopExchanges are not yet allowed
// again. Guarded by `lock` (nothing else is taken under it but the HTTP
// client's own state lock in HTTPClient::stop). Never destroyed: a signal's
// thread may stop the exchanges while the process ends.
struct Exchanges {
  ACE_Thread_Mutex lock;
  std::set<HTTPClient*> running;
  int stops = 0;
  unsigned long stopsEver = 0;  // every stopExchanges so far, allowed again or not
};
Exchanges& exchanges() {
  static Exchanges* e = new Exchanges();
  return *e;
}

// Registers the client's coming exchange; false (nothing may be sent) while stopped.
bool enterExchange(HTTPClient* client) {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  if (e.stops > 0) return false;
  e.running.insert(client);
  return true;
}

// True when the exchange was ended by stopExchanges.
bool leaveExchange(HTTPClient* client) {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  e.running.erase(client);
  return client->stopped();
}

}  // namespace

void stopExchanges() {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  ++e.stops;
  ++e.stopsEver;
  for (HTTPClient* client : e.running) client->stop();
}

void allowExchanges() {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  if (e.stops > 0) --e.stops;
}

bool exchangesStopped() {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  return e.stops > 0;
}

unsigned long stopCount() {
  Exchanges& e = exchanges();
  ACE_Guard<ACE_Thread_Mutex> guard(e.lock);
  return e.stopsEver;
}

int exchange(const std::string& server, const std::string& uri,
             const std::list<std::string>& cookies, HTTPResponse& response) {
  std::string host;
  int port = 0;
  if (!StringParser::parseAddr(server, host, port)) return EXCHANGE_FAILED;
  Config* config = Config::instance();
  int timeout = config->getIntValue("SSO", "httpTimeout", kDefaultTimeout);
  if (timeout < 1) timeout = kDefaultTimeout;

  HTTPClient client(host, port);
  client.useSSL(config->getBoolValue("SSO", "useSSL", false));
  client.setTimeout(timeout, timeout);
  HTTPRequest request(HTTPRequest::HTTP_GET, uri, HTTPMessage::HTTP_1_1);
  request.setHost(server);
  for (const std::string& cookie : cookies) request.add(HTTPRequest::COOKIE, cookie);
  if (!enterExchange(&client)) {
    IM_LOG_WARN("SsoClient, [server = %s, status = exchanges stopped]", server.c_str());
    return EXCHANGE_STOPPED;
  }
  int rc = client.call(request, response);
  bool stopped = leaveExchange(&client);
  if (stopped) {
    IM_LOG_WARN("SsoClient, [server = %s, status = exchange stopped]", server.c_str());
    return EXCHANGE_STOPPED;
  }
  if (rc != 0) {
    IM_LOG_WARN("SsoClient, [server = %s, status = exchange failed, reason = %s]", server.c_str(),
                client.getLastError().c_str());
    return EXCHANGE_FAILED;
  }
  // The path only: the query may hold a password.
  IM_LOG_DEBUG("SsoClient, [server = %s, path = %s, status = %d]", server.c_str(),
               uri.substr(0, uri.find('?')).c_str(), response.getStatus());
  return EXCHANGE_OK;
}

int authenticate(const LoginRequest& login, std::string& ticket, std::string& location) {
  // The store's lock is held only to read or write it, never across the
  // exchange, so a silent server cannot stall every other user of the store.
  std::list<std::string> cookies;
  if (!login.passwordOnly && !passwordRequired(login.user)) {
    cookies = SsoCookieManager::getCookies(SsoCookieManager::SSO_SYSTEM_ID, login.user);
  }
  bool stopped = false;
  if (!cookies.empty()) {
    int code = attempt(login, cookies, ticket, location, stopped);
    // A stopped attempt is not followed by the password's: its caller waits for no server.
    if (code == 0 || stopped) return code;
  }
  int code = attempt(login, std::list<std::string>(), ticket, location, stopped);
  if (code == 0) clearLoggedOut(login.user);
  return code;
}

int validate(const std::string& service, const std::string& ticket, const std::string& op,
             std::string& user, std::map<std::string, std::string>& attributes) {
  SsoClient* client = SsoClient::instance();
  std::string uri = client->getValidateUrl() + "?service=" + enc(service) + "&ticket=" + enc(ticket);
  HTTPResponse response;
  if (exchange(client->getServer(op), uri, std::list<std::string>(), response) != 0) return 1;
  if (response.getStatus() != 200) return 2;
  std::string body = response.getBodyText();
  if (body.empty()) return 3;
  return parseValidateBody(body, user, attributes);
}

void markLoggedOut(const std::string& user) {
  ACE_Guard<ACE_Thread_Mutex> guard(loggedOutMutex);
  loggedOut.insert(user);
}

int logout(const std::string& user, const std::string& service, const std::string& op,
           const std::list<std::string>& cookies) {
  if (cookies.empty()) return -1;
  SsoClient* client = SsoClient::instance();
  std::string uri = client->getLogoutUrl() + "?service=" + enc(service);
  if (!op.empty()) uri += "&oid=" + enc(op);
  HTTPResponse response;
  return exchange(client->getServer(op), uri, cookies, response) == 0 ? 0 : -1;
}

}  // namespace sso_protocol

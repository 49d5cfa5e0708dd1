// The wire side of the single sign-on client: query building, one HTTP
// exchange, and the parsing of its answers. Internal to Keyvale.
#pragma once

#include "http/HTTPResponse.h"

#include <list>
#include <map>
#include <string>
#include <vector>

namespace sso_protocol {

// The ticket of a login redirect: the value of a "ticket" query parameter
// (found only at the start of a parameter, after "?" or "&"), up to the next
// "&" or the end. False when there is none or it is empty.
bool extractTicket(const std::string& location, std::string& ticket);

// Parses a validation body: "<cas:user>U</cas:user>" then every
// "<cas:attribute ... key='K'>V</cas:attribute>". Attributes go into the map
// as they are read (a key already present keeps its value). 0 or code 4.
int parseValidateBody(const std::string& body, std::string& user,
                      std::map<std::string, std::string>& attributes);

// The operator table from "name->host:port;..." pieces; a piece without "->"
// or without a server is skipped; a later name replaces an earlier one.
std::map<std::string, std::string> parseServerTable(const std::string& text);

// The password as the login query carries it, from SSO/useMD5 and
// SSO/useBase64: upper-case MD5 hex, Base64 (one line, URL-encoded), or the
// URL-encoded text.
std::string passwordParameter(const std::string& password, bool useMD5, bool useBase64);

// One GET exchange with the server text "host:port", bounded by
// SSO/httpTimeout seconds (default 30), over TLS when SSO/useSSL. The Host
// header is the server text; each cookie text goes in a Cookie header of its
// own. EXCHANGE_OK with the response filled; EXCHANGE_FAILED when the server
// text does not parse or the exchange failed (refused, dropped, timed out);
// EXCHANGE_STOPPED when stopExchanges ended it or kept it from starting.
enum { EXCHANGE_OK = 0, EXCHANGE_FAILED = 1, EXCHANGE_STOPPED = 2 };
int exchange(const std::string& server, const std::string& uri,
             const std::list<std::string>& cookies, HTTPResponse& response);

// Every exchange under way ends with EXCHANGE_STOPPED, and every later one
// until as many allowExchanges have come. Any thread.
void stopExchanges();
void allowExchanges();
bool exchangesStopped();
unsigned long stopCount();

// The whole login operation (cookie attempt, then password) for the real
// operator `op`; with passwordOnly, the password attempt alone, whatever
// cookies are stored. 0 with ticket and location written, or the code 1 to 3.
struct LoginRequest {
  std::string user, password, service, errorReturnUrl, systemid, op;
  bool passwordOnly = false;
};
int authenticate(const LoginRequest& login, std::string& ticket, std::string& location);

// Validation of a service ticket. 0 with user written, or the code 1 to 4.
int validate(const std::string& service, const std::string& ticket, const std::string& op,
             std::string& user, std::map<std::string, std::string>& attributes);

// Marks the user as logged out: until the user's next login by password
// succeeds, logins skip the stored cookies and send the password. Any thread.
void markLoggedOut(const std::string& user);

// Sends the logout request carrying `cookies`; nothing when there are none.
// 0 when a response came back, -1 otherwise.
int logout(const std::string& user, const std::string& service, const std::string& op,
           const std::list<std::string>& cookies);

}  // namespace sso_protocol

// The process-wide store of HTTP cookies, kept per system id and user, and of
// the single sign-on ticket-granting cookie per user.
//
// Thread rule: every operation may be called from any thread. Each one holds
// cookiesMapMutex_ (recursive) for its whole run, so a thread that already
// holds it may call them again. Callers never hold it across a network
// exchange: a silent server must not stall every other user of the store.
#pragma once

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <list>
#include <map>
#include <string>

namespace http {
class HTTPRequest;
class HTTPResponse;
}  // namespace http
using http::HTTPRequest;
using http::HTTPResponse;

// A ticket-granting cookie value with the time it was stored. Value type.
class SsoTgc {
 public:
  SsoTgc() {}
  // Stamped with the current time when `value` is not empty, else zero.
  explicit SsoTgc(const std::string& value);

  const ACE_Time_Value& getTime() const { return time_; }
  const std::string& getValue() const { return value_; }

 private:
  ACE_Time_Value time_;  // zero when no value
  std::string value_;
};

class SsoCookieManager {
 public:
  // System id under which the single sign-on client keeps its login cookies.
  static constexpr const char* SSO_SYSTEM_ID = "sso";
  // Name of the single sign-on ticket-granting cookie.
  static constexpr const char* TGC_COOKIE_NAME = "CASTGC";

  SsoCookieManager() {}

  // True when the store holds cookies for the user under the system id.
  static bool hasCookie(const std::string& systemId, const std::string& user);

  // Merges the cookies the response sets into the pair's list: a cookie
  // replaces the stored one of the same name in place, a new name is appended
  // in response order, and a cookie with an empty value or an expiry in the
  // past removes that name. Cookies the response does not mention are kept.
  // A response without cookies changes nothing. A "CASTGC" cookie also sets
  // the user's ticket-granting record to its value (the last one of the
  // response wins; a removal's value too: an empty one gives the empty record).
  static void saveCookies(const std::string& systemId, const std::string& user,
                          HTTPResponse& response);

  // Adds one Cookie header per stored cookie ("name=value"), in stored order.
  static void restoreCookie(const std::string& systemId, const std::string& user,
                            HTTPRequest& request);

  // A copy of the pair's stored cookie texts (empty when there are none).
  static std::list<std::string> getCookies(const std::string& systemId, const std::string& user);

  // Removes the pair's entry; the same user's cookies of other systems stay.
  static void clearCookie(const std::string& systemId, const std::string& user);

  // Removes the user's cookies under every system id.
  static void clearCookie(const std::string& user);

  // A copy of the user's ticket-granting record, or an empty one. A record is
  // only ever replaced by a later "CASTGC", never removed: clearing a user's
  // cookies leaves the last record readable.
  static SsoTgc getTgc(const std::string& user);

  // Guards cookiesMap_ and tgcMap. Public so that a caller can make several
  // store calls one step; never hold it across a network exchange.
  static ACE_Recursive_Thread_Mutex cookiesMapMutex_;

 private:
  typedef std::map<std::string, std::map<std::string, std::list<std::string> > > CookiesMap;
  static CookiesMap cookiesMap_;                 // guarded by cookiesMapMutex_
  static std::map<std::string, SsoTgc> tgcMap;   // guarded by cookiesMapMutex_
};

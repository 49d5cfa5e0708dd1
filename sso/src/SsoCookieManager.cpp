#include "sso/SsoCookieManager.h"

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_sys_time.h>

#include <vector>

ACE_Recursive_Thread_Mutex SsoCookieManager::cookiesMapMutex_;
SsoCookieManager::CookiesMap SsoCookieManager::cookiesMap_;
std::map<std::string, SsoTgc> SsoCookieManager::tgcMap;

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> StoreGuard;

namespace {

std::string cookieName(const std::string& text) { return text.substr(0, text.find('=')); }

// A cookie the server sets to remove it: an empty value, Max-Age 0 or less,
// or an Expires date in the past.
bool isRemoval(const HTTPCookie& cookie) {
  if (cookie.getValue().empty()) return true;
  if (cookie.getMaxAge() != -1 && cookie.getMaxAge() <= 0) return true;
  if (!cookie.getExpires().empty()) {
    struct tm tm = {};
    const char* end = strptime(cookie.getExpires().c_str(), "%a, %d %b %Y %H:%M:%S", &tm);
    if (end && timegm(&tm) <= ACE_OS::gettimeofday().sec()) return true;
  }
  return false;
}

}  // namespace

SsoTgc::SsoTgc(const std::string& value) : value_(value) {
  if (!value_.empty()) time_ = ACE_OS::gettimeofday();
}

bool SsoCookieManager::hasCookie(const std::string& systemId, const std::string& user) {
  StoreGuard guard(cookiesMapMutex_);
  CookiesMap::const_iterator sys = cookiesMap_.find(systemId);
  return sys != cookiesMap_.end() && sys->second.find(user) != sys->second.end();
}

void SsoCookieManager::saveCookies(const std::string& systemId, const std::string& user,
                                   HTTPResponse& response) {
  std::vector<HTTPCookie> cookies;
  response.getCookies(cookies);
  if (cookies.empty()) return;

  StoreGuard guard(cookiesMapMutex_);
  std::list<std::string> merged;
  CookiesMap::iterator sys = cookiesMap_.find(systemId);
  if (sys != cookiesMap_.end()) {
    std::map<std::string, std::list<std::string> >::iterator u = sys->second.find(user);
    if (u != sys->second.end()) merged = u->second;
  }
  for (const HTTPCookie& cookie : cookies) {
    const std::string& name = cookie.getName();
    bool removal = isRemoval(cookie);
    if (name == TGC_COOKIE_NAME) tgcMap[user] = SsoTgc(cookie.getValue());
    std::list<std::string>::iterator it = merged.begin();
    while (it != merged.end() && cookieName(*it) != name) ++it;
    if (removal) {
      if (it != merged.end()) merged.erase(it);
    } else if (it != merged.end()) {
      *it = cookie.toString();
    } else {
      merged.push_back(cookie.toString());
    }
  }
  if (merged.empty()) {
    if (sys != cookiesMap_.end()) sys->second.erase(user);
  } else {
    cookiesMap_[systemId][user] = merged;
  }
}

void SsoCookieManager::restoreCookie(const std::string& systemId, const std::string& user,
                                     HTTPRequest& request) {
  StoreGuard guard(cookiesMapMutex_);
  CookiesMap::const_iterator sys = cookiesMap_.find(systemId);
  if (sys == cookiesMap_.end()) return;
  std::map<std::string, std::list<std::string> >::const_iterator u = sys->second.find(user);
  if (u == sys->second.end()) return;
  for (const std::string& text : u->second) request.add(HTTPRequest::COOKIE, text);
}

std::list<std::string> SsoCookieManager::getCookies(const std::string& systemId,
                                                    const std::string& user) {
  StoreGuard guard(cookiesMapMutex_);
  CookiesMap::const_iterator sys = cookiesMap_.find(systemId);
  if (sys == cookiesMap_.end()) return std::list<std::string>();
  std::map<std::string, std::list<std::string> >::const_iterator u = sys->second.find(user);
  if (u == sys->second.end()) return std::list<std::string>();
  return u->second;
}

void SsoCookieManager::clearCookie(const std::string& systemId, const std::string& user) {
  StoreGuard guard(cookiesMapMutex_);
  CookiesMap::iterator sys = cookiesMap_.find(systemId);
  if (sys == cookiesMap_.end()) return;
  std::map<std::string, std::list<std::string> >::iterator u = sys->second.find(user);
  if (u == sys->second.end()) return;
  sys->second.erase(u);
}

void SsoCookieManager::clearCookie(const std::string& user) {
  StoreGuard guard(cookiesMapMutex_);
  for (CookiesMap::iterator sys = cookiesMap_.begin(); sys != cookiesMap_.end(); ++sys) {
    sys->second.erase(user);
  }
}

SsoTgc SsoCookieManager::getTgc(const std::string& user) {
  StoreGuard guard(cookiesMapMutex_);
  std::map<std::string, SsoTgc>::const_iterator it = tgcMap.find(user);
  return it == tgcMap.end() ? SsoTgc() : it->second;
}

#include "sso/SsoClient.h"

#include "SsoProtocol.h"
#include "sso/SsoCommand.h"
#include "sso/SsoCookieManager.h"
#include "sso/SsoTask.h"
#include "util/Config.h"

#include <ace/Guard_T.h>

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

std::atomic<SsoClient*> SsoClient::instance_(nullptr);
ACE_Thread_Mutex SsoClient::instanceMutex_;

SsoClient* SsoClient::instance() {
  SsoClient* client = instance_.load(std::memory_order_acquire);
  if (!client) {
    Guard guard(instanceMutex_);
    client = instance_.load(std::memory_order_relaxed);
    if (!client) {
      client = new SsoClient();
      instance_.store(client, std::memory_order_release);
      SsoTask::instance()->open();
    }
  }
  return client;
}

void SsoClient::destroy() {
  SsoTask::destroy();
  Guard guard(instanceMutex_);
  delete instance_.exchange(nullptr);
}

SsoClient::SsoClient() {
  Config* config = Config::instance();
  server_ = config->getStrValue("SSO", "ssoServer", "");
  defaultOperator_ = config->getStrValue("SSO", "defaultOperator", "");
  servers_ = sso_protocol::parseServerTable(config->getStrValue("SSO", "ssoServers", ""));
  loginUrl_ = config->getStrValue("SSO", "loginUrl", "/casserver/login");
  proxyLoginUrl_ = config->getStrValue("SSO", "proxyLogin", "/casserver/STValidateAuthentication");
  logoutUrl_ = config->getStrValue("SSO", "logoutUrl", "/casserver/logout");
  validateUrl_ = config->getStrValue("SSO", "validateUrl", "/casserver/proxyValidate");
}

void SsoClient::setServer(const std::string& server) {
  Guard guard(serverLock_);
  server_ = server;
}

std::string SsoClient::getServer() {
  Guard guard(serverLock_);
  return server_;
}

std::string SsoClient::getServer(const std::string& name) {
  Guard guard(serverLock_);
  if (name.empty()) return server_;
  std::map<std::string, std::string>::const_iterator it = servers_.find(name);
  return it == servers_.end() ? std::string() : it->second;
}

void SsoClient::addServer(const std::string& name, const std::string& server) {
  Guard guard(serverLock_);
  if (name.empty()) server_ = server;
  else servers_[name] = server;
}

void SsoClient::setDefaultOperator(const std::string& op) {
  Guard guard(serverLock_);
  defaultOperator_ = op;
}

std::string SsoClient::getDefaultOperator() {
  Guard guard(serverLock_);
  return defaultOperator_;
}

std::string SsoClient::getRealOperator(const std::string& op) {
  if (!op.empty()) return op;
  return getDefaultOperator();
}

void SsoClient::setAuthenticateUrl(const std::string& url) {
  Guard guard(loginUrlLock_);
  loginUrl_ = url;
}

std::string SsoClient::getAuthenticateUrl() {
  Guard guard(loginUrlLock_);
  return loginUrl_;
}

void SsoClient::setProxyAuthenticateUrl(const std::string& url) {
  Guard guard(loginUrlLock_);
  proxyLoginUrl_ = url;
}

std::string SsoClient::getProxyAuthenticateUrl() {
  Guard guard(loginUrlLock_);
  return proxyLoginUrl_;
}

void SsoClient::setLogoutUrl(const std::string& url) {
  Guard guard(logoutUrlLock_);
  logoutUrl_ = url;
}

std::string SsoClient::getLogoutUrl() {
  Guard guard(logoutUrlLock_);
  return logoutUrl_;
}

void SsoClient::setValidateUrl(const std::string& url) {
  Guard guard(validateUrlLock_);
  validateUrl_ = url;
}

std::string SsoClient::getValidateUrl() {
  Guard guard(validateUrlLock_);
  return validateUrl_;
}

int SsoClient::authenticate(const std::string& user, const std::string& password,
                            const std::string& service, const std::string& errorReturnUrl,
                            const std::string& systemid, std::string& ticket, std::string& location,
                            const std::string& op) {
  SsoAuthenticateCommand command(user, password, service, errorReturnUrl, systemid,
                                 Sptr<ISsoAuthenticateHandler>(), getRealOperator(op));
  return command.result(ticket, location);
}

int SsoClient::authenticateWithPassword(const std::string& user, const std::string& password,
                                        const std::string& service, const std::string& errorReturnUrl,
                                        const std::string& systemid, std::string& ticket,
                                        std::string& location, const std::string& op) {
  SsoAuthenticateCommand command(user, password, service, errorReturnUrl, systemid,
                                 Sptr<ISsoAuthenticateHandler>(), getRealOperator(op), true);
  return command.result(ticket, location);
}

int SsoClient::authenticate(const std::string& user, const std::string& password,
                            const std::string& service, const std::string& errorReturnUrl,
                            const std::string& systemid, Sptr<ISsoAuthenticateHandler> handler,
                            const std::string& op) {
  if (!handler) return -1;
  SsoAuthenticateCommand* command = new SsoAuthenticateCommand(
      user, password, service, errorReturnUrl, systemid, handler, getRealOperator(op));
  if (SsoTask::instance()->put(command) == -1) {
    command->release();
    return -1;
  }
  return 0;
}

int SsoClient::validate(const std::string& service, const std::string& ticket, std::string& user,
                        std::map<std::string, std::string>& attributes, const std::string& op) {
  SsoValidateCommand command(service, ticket, Sptr<ISsoValidateHandler>(), getRealOperator(op),
                             &attributes);
  return command.result(user);
}

int SsoClient::validate(const std::string& service, const std::string& ticket,
                        Sptr<ISsoValidateHandler> handler, const std::string& op) {
  if (!handler) return -1;
  SsoValidateCommand* command = new SsoValidateCommand(service, ticket, handler, getRealOperator(op));
  if (SsoTask::instance()->put(command) == -1) {
    command->release();
    return -1;
  }
  return 0;
}

int SsoClient::logout(const std::string& user, const std::string& service, const std::string& op) {
  // The cookies leave the store now, not when the worker sends the request:
  // a login that runs in between must give the password.
  std::list<std::string> cookies;
  {
    ACE_Guard<ACE_Recursive_Thread_Mutex> guard(SsoCookieManager::cookiesMapMutex_);
    cookies = SsoCookieManager::getCookies(SsoCookieManager::SSO_SYSTEM_ID, user);
    SsoCookieManager::clearCookie(SsoCookieManager::SSO_SYSTEM_ID, user);
  }
  sso_protocol::markLoggedOut(user);
  SsoLogoutCommand* command = new SsoLogoutCommand(user, service, getRealOperator(op), cookies);
  if (SsoTask::instance()->put(command) == -1) {
    command->release();
    return -1;
  }
  return 0;
}

void SsoClient::stopExchanges() { sso_protocol::stopExchanges(); }

void SsoClient::allowExchanges() { sso_protocol::allowExchanges(); }

bool SsoClient::exchangesStopped() { return sso_protocol::exchangesStopped(); }

unsigned long SsoClient::stopCount() { return sso_protocol::stopCount(); }

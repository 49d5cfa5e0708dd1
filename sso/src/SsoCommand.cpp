#include "sso/SsoCommand.h"

#include "SsoProtocol.h"

SsoCommand::SsoCommand()
    : data_(0, ACE_Message_Block::MB_DATA, reinterpret_cast<const char*>(this), 0, 0,
            ACE_Message_Block::DONT_DELETE, 0),
      block_(&data_, ACE_Message_Block::DONT_DELETE) {}

SsoCommand::~SsoCommand() {}

void SsoCommand::release() { delete this; }

SsoCommand* SsoCommand::fromBlock(ACE_Message_Block* block) {
  if (!block || !block->base()) return 0;
  return reinterpret_cast<SsoCommand*>(block->base());
}

SsoAuthenticateCommand::SsoAuthenticateCommand(const std::string& user, const std::string& password,
                                               const std::string& service,
                                               const std::string& errorReturnUrl,
                                               const std::string& systemid,
                                               Sptr<ISsoAuthenticateHandler> handler,
                                               const std::string& op, bool passwordOnly)
    : user_(user),
      password_(password),
      service_(service),
      errorReturnUrl_(errorReturnUrl),
      systemid_(systemid),
      handler_(handler),
      operator_(op),
      passwordOnly_(passwordOnly) {}

int SsoAuthenticateCommand::run() {
  sso_protocol::LoginRequest login;
  login.user = user_;
  login.password = password_;
  login.service = service_;
  login.errorReturnUrl = errorReturnUrl_;
  login.systemid = systemid_;
  login.op = operator_;
  login.passwordOnly = passwordOnly_;
  code_ = sso_protocol::authenticate(login, ticket_, location_);
  return code_;
}

int SsoAuthenticateCommand::execute() {
  if (!handler_) return -1;
  if (run() == 0) {
    handler_->onAuthenticateSuccess(user_, ticket_, location_);
    return 0;
  }
  handler_->onAuthenticateFailure(user_, service_, code_);
  return -1;
}

int SsoAuthenticateCommand::result(std::string& ticket, std::string& location) {
  if (run() != 0) return code_;
  ticket = ticket_;
  location = location_;
  return 0;
}

SsoValidateCommand::SsoValidateCommand(const std::string& service, const std::string& ticket,
                                       Sptr<ISsoValidateHandler> handler, const std::string& op,
                                       std::map<std::string, std::string>* attributes)
    : service_(service),
      ticket_(ticket),
      attributes_(attributes ? attributes : &ownAttributes_),
      handler_(handler),
      operator_(op) {}

int SsoValidateCommand::run() {
  std::string user;
  code_ = sso_protocol::validate(service_, ticket_, operator_, user, *attributes_);
  if (code_ == 0) user_ = user;
  return code_;
}

int SsoValidateCommand::execute() {
  if (!handler_) return -1;
  if (run() == 0) {
    handler_->onValidateSuccess(ticket_, user_, *attributes_);
    return 0;
  }
  handler_->onValidateFailure(ticket_, code_);
  return -1;
}

int SsoValidateCommand::result(std::string& user) {
  if (run() != 0) return code_;
  user = user_;
  return 0;
}

SsoLogoutCommand::SsoLogoutCommand(const std::string& user, const std::string& service,
                                   const std::string& op, const std::list<std::string>& cookies)
    : user_(user), service_(service), operator_(op), cookies_(cookies) {}

int SsoLogoutCommand::execute() { return sso_protocol::logout(user_, service_, operator_, cookies_); }

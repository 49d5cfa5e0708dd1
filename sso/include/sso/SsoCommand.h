// Single sign-on requests as command objects. A synchronous call runs its
// command on the caller's thread (result); an asynchronous call and every
// logout hand it to SsoTask, whose worker runs execute, then release.
//
// Thread rule: a command is used by one thread at a time: the creator until
// it is put, then the worker that took it off the queue.
#pragma once

#include "corvane/Sptr.h"
#include "sso/ISsoHandler.h"

#include <ace/Message_Block.h>

#include <list>
#include <map>
#include <string>

class SsoCommand {
 public:
  SsoCommand();
  virtual ~SsoCommand();

  // Runs the request and reports to the handler (worker thread). 0 or -1.
  virtual int execute() = 0;
  // Deletes the command.
  virtual void release();
  // The text whose hash chooses the worker; empty goes round robin.
  virtual std::string key() const = 0;

  // The block that goes onto a worker's queue. Its data pointer is the
  // command itself; neither block nor data is ever freed through ACE: the
  // worker calls release() on the command instead.
  ACE_Message_Block* block() { return &block_; }
  // The command a queued block carries, or null for a block without data
  // (the pool's stop block).
  static SsoCommand* fromBlock(ACE_Message_Block* block);

 private:
  SsoCommand(const SsoCommand&) = delete;
  SsoCommand& operator=(const SsoCommand&) = delete;

  ACE_Data_Block data_;     // base = this, size 0, DONT_DELETE
  ACE_Message_Block block_;  // refers to data_, DONT_DELETE
};

class SsoAuthenticateCommand : public SsoCommand {
 public:
  // `op` is the real operator (the default one already applied). With
  // `passwordOnly` the stored cookies are not tried: the server judges the password.
  SsoAuthenticateCommand(const std::string& user, const std::string& password,
                         const std::string& service, const std::string& errorReturnUrl,
                         const std::string& systemid, Sptr<ISsoAuthenticateHandler> handler,
                         const std::string& op, bool passwordOnly = false);

  // -1 without reporting when the handler is empty; else logs in and calls
  // onAuthenticateSuccess (0) or onAuthenticateFailure (-1).
  int execute() override;
  std::string key() const override { return user_; }
  // Logs in on the caller's thread; on success copies the outputs, returns 0,
  // else returns the code (1 to 3) and leaves the outputs untouched.
  int result(std::string& ticket, std::string& location);

 private:
  int run();

  std::string user_, password_, service_, errorReturnUrl_, systemid_;
  std::string location_, ticket_;
  int code_ = 0;
  Sptr<ISsoAuthenticateHandler> handler_;
  std::string operator_;
  bool passwordOnly_;
};

class SsoValidateCommand : public SsoCommand {
 public:
  // `attributes`: the caller's map (synchronous form), or null to use the
  // command's own map (asynchronous form).
  SsoValidateCommand(const std::string& service, const std::string& ticket,
                     Sptr<ISsoValidateHandler> handler, const std::string& op,
                     std::map<std::string, std::string>* attributes = 0);

  int execute() override;
  // The user output, which is empty while queued, so validation commands
  // are spread round robin.
  std::string key() const override { return user_; }
  // Validates on the caller's thread; on success copies the user, returns 0,
  // else returns the code (1 to 4).
  int result(std::string& user);

 private:
  int run();

  std::string service_, ticket_;
  std::string user_;
  std::map<std::string, std::string> ownAttributes_;
  std::map<std::string, std::string>* attributes_;
  int code_ = 0;
  Sptr<ISsoValidateHandler> handler_;
  std::string operator_;
};

class SsoLogoutCommand : public SsoCommand {
 public:
  // `cookies`: the user's login cookies, taken out of the store when the
  // logout was asked for. Nothing is sent when there are none.
  SsoLogoutCommand(const std::string& user, const std::string& service, const std::string& op,
                   const std::list<std::string>& cookies);

  // Sends the logout request; the response is ignored. Returns 0, or -1 when
  // nothing could be sent.
  int execute() override;
  std::string key() const override { return user_; }

 private:
  std::string user_, service_, operator_;
  std::list<std::string> cookies_;
};

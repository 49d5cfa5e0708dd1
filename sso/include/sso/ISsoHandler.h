// Handlers of the asynchronous single sign-on operations. The worker thread
// that ran the command calls them, exactly once per queued command, with no
// lock of the cookie store held. The command keeps its own reference to the
// handler, so the caller may drop its Sptr as soon as the call returns.
#pragma once

#include <map>
#include <string>

class ISsoAuthenticateHandler {
 public:
  virtual ~ISsoAuthenticateHandler() {}
  virtual void onAuthenticateSuccess(const std::string& user, const std::string& ticket,
                                     const std::string& location) = 0;
  virtual void onAuthenticateFailure(const std::string& user, const std::string& service,
                                     int code) = 0;
};

class ISsoValidateHandler {
 public:
  virtual ~ISsoValidateHandler() {}
  virtual void onValidateSuccess(const std::string& ticket, const std::string& user,
                                 std::map<std::string, std::string>& attributes) = 0;
  virtual void onValidateFailure(const std::string& ticket, int code) = 0;
};

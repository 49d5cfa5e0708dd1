// A fake single sign-on server and a fake XCAP server on 127.0.0.1, with the configuration
// pointing the clients at them and short time-outs.
#pragma once

#include "corvane/XcapClient.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeSsoServer.h"
#include "testing/FakeXcapServer.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace xcaptest {

using pwtest::FakeSsoServer;
using pwtest::FakeXcapServer;
using pwtest::HttpReply;
using pwtest::HttpRequestRecord;

const char kPassword[] = "secret";

// A user id no other test used, so that the process-wide cookie store and usage cache hold
// nothing of it.
inline std::string freshUser(const std::string& stem) {
  static std::atomic<int> serial(0);
  return stem + std::to_string(++serial) + "@corp.example";
}

class XcapServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sso_.isListening());
    ASSERT_TRUE(xcap_.isListening());
    Config* config = Config::instance();
    // No test here waits for a time-out to fire: the time-outs only end an exchange whose peer
    // is lost, so they are long enough for a slow answer (a sanitizer build on a busy machine
    // answers reads several times slower) and still short beside the test's own time-out.
    config->setValue("XCAP", "recvTimeout", "10");
    config->setValue("XCAP", "sendTimeout", "10");
    config->setValue("SSO", "httpTimeout", "10");
    SsoClient::instance()->setServer(sso_.hostPort());
  }
  void TearDown() override {
    SsoClient::destroy();  // its worker pool ends with each test
    Config* config = Config::instance();
    for (const char* key : {"recvTimeout", "sendTimeout", "enableProxyMode", "buddysType",
                            "maxResourceListSize"}) {
      config->removeValue("XCAP", key);
    }
    config->removeValue("SSO", "httpTimeout");
  }

  // A user known to the SSO server, with the password kPassword.
  std::string newUser(const std::string& stem) {
    std::string user = freshUser(stem);
    sso_.addUser(user, kPassword);
    return user;
  }

  Sptr<IXcapClient> client(const std::string& user, AuthenticateMode mode,
                           DownloadMode download = DOWNLOAD_BLOCKING,
                           const std::string& password = kPassword) {
    return Sptr<IXcapClient>(XcapClientFactory::instance()->createXcapClient(
        user, xcap_.hostPort(), mode, download, password));
  }

  // Password logins the SSO server saw.
  size_t passwordLogins() const {
    size_t n = 0;
    for (const HttpRequestRecord& r : sso_.requests()) n += r.hasQueryParam("password") ? 1 : 0;
    return n;
  }

  FakeSsoServer sso_;
  FakeXcapServer xcap_{&sso_};
};

}  // namespace xcaptest

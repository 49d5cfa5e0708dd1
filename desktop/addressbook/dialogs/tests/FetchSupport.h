// Real fetches of the address book for the dialog tests: the fake single sign-on and XCAP
// servers on loopback, the per-user database in a folder of its own, and a stand-in for the
// main window's part (the address-book listener that hands each result to the open dialogs).
#pragma once

#include "../../model/tests/AddressBookTestSupport.h"
#include "addressbook/AddressBookDialog.h"
#include "addressbook/AddressBookUpdateDialog.h"
#include "addressbook/ContactDb.h"
#include "jobs/LongTimeTask.h"
#include "sso/SsoClient.h"
#include "testing/FakeSsoServer.h"
#include "testing/FakeXcapServer.h"
#include "util/Config.h"

#include <ace/Time_Value.h>

#include <atomic>
#include <mutex>

namespace abdlgtest {

// What the main window does with the end of a fetch: the open update dialog gets the status,
// the open picker a copy of the client's root groups. The dialog pointers are set and cleared
// on the UI thread around each modal loop; the listener uses them under the lock.
class MainWindowPart : public IAddrbookListener {
 public:
  void OnAddrbookUpdate(const std::vector<Sptr<INode>>&, int status) override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (update_) update_->showUpdateResult(status);
    if (picker_) {
      std::vector<Sptr<INode>> roots = AddressBookClient::instance()->getRootGroups();
      picker_->onAddressBookUpdated(roots, 0);
    }
    ++told_;
  }
  void setUpdateDialog(CAddressBookUpdateDialog* d) {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    update_ = d;
  }
  void setPicker(CAddressBookDialog* d) {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    picker_ = d;
  }
  int told() const { return told_.load(); }

 private:
  std::recursive_mutex mutex_;
  CAddressBookUpdateDialog* update_ = nullptr;  // guarded by mutex_
  CAddressBookDialog* picker_ = nullptr;        // guarded by mutex_
  std::atomic<int> told_{0};
};

// The user's buddy document (UTF-8, as the server sends it).
inline const std::string& buddyDocument() {
  static const std::string doc = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>示例公司</display-name>
    <list name="rd">
      <display-name>研发部</display-name>
      <entry uri="bob@corp.example"><display-name>Bob Lee</display-name></entry>
      <entry uri="carol@corp.example"><display-name>Carol</display-name></entry>
    </list>
    <entry uri="erin@corp.example"><nickname>ee</nickname></entry>
  </list>
</resource-lists>
)";
  return doc;
}

class FetchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    DuiLib::CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR);
    ASSERT_TRUE(sso_.isListening());
    ASSERT_TRUE(xcap_.isListening());
    xcap_.requireSso(true);
    Config* config = Config::instance();
    config->setValue("XCAP", "recvTimeout", "2");
    config->setValue("XCAP", "sendTimeout", "2");
    config->setValue("SSO", "httpTimeout", "2");
    config->setValue("SSO", "server", sso_.hostPort());
    config->setValue("XCAP", "server", xcap_.hostPort());
    static std::atomic<int> serial(0);
    user_ = "picker" + std::to_string(++serial) + "@corp.example";
    sso_.addUser(user_, "secret");
    xcap_.putDocument(docPath(), buddyDocument());
    ASSERT_EQ(0, LocalDb::instance()->open(user_));
    ASSERT_EQ(0, LongTimeTask::instance()->open());
    client()->addListener(&main_);
    client()->init(user_, "secret");
  }
  void TearDown() override {
    client()->clear();
    client()->stopAgent();
    client()->removeListener(&main_);
    ACE_Time_Value limit(10);
    EXPECT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
    EXPECT_EQ(0, LongTimeTask::instance()->open());
    SsoClient::destroy();
    Config* config = Config::instance();
    for (const char* key : {"recvTimeout", "sendTimeout", "server"}) config->removeValue("XCAP", key);
    for (const char* key : {"httpTimeout", "server"}) config->removeValue("SSO", key);
  }
  static AddressBookClient* client() { return AddressBookClient::instance(); }
  std::string docPath() const { return "resource-lists/myusers/" + user_ + "/buddys"; }
  std::string fullPath() const { return std::string(pwtest::FakeXcapServer::ROOT) + "/" + docPath(); }
  // The next fetch hangs until the client stops it.
  void stallNextFetch() {
    pwtest::HttpReply stall;
    stall.delayMs = -1;
    xcap_.script(fullPath(), stall);
  }

  pwtest::FakeSsoServer sso_;
  pwtest::FakeXcapServer xcap_{&sso_};
  abtest::TempHome home_;
  MainWindowPart main_;
  std::string user_;
};

}  // namespace abdlgtest

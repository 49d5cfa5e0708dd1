// A net-disk client against the fake single sign-on and net-disk servers on
// 127.0.0.1, with a home folder of its own and a listener that records every
// callback. Each test ends with the client shut down, as a program that ends.
#pragma once

#include "TestHome.h"
#include "client/NetDiskClient.h"
#include "client/NetDiskTaskThread.h"
#include "client/SyncDb.h"
#include "db/LocalDb.h"
#include "log/IM_LogManager.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ndtest {

const char* const kAlice = "alice@corp.com";
const char* const kBob = "bob@corp.com";
const int kBlock = 0x80000;

struct Event {
  std::string op;  // "list", "delete", "tasks", "status", "add", "pause", "resume", "links"
  std::string name;
  int error = 0;
  UploadTaskStatus task;
  std::vector<NetDiskFileItem> files;
  std::vector<UploadTaskStatus> tasks;
  std::map<std::string, std::string> links;
};

// Callbacks arrive on the engine thread; the test thread waits on them.
class RecordingListener : public INetDiskClientListener {
 public:
  void onListFile(const std::vector<NetDiskFileItem>& files, int error) override {
    Event e;
    e.op = "list";
    e.files = files;
    e.error = error;
    add(e);
  }
  void onRenameFile(const std::string&, const std::string&, int) override {}
  void onDeleteFile(const std::string& name, int error) override {
    Event e;
    e.op = "delete";
    e.name = name;
    e.error = error;
    add(e);
  }
  void onListUploadTask(const std::vector<UploadTaskStatus>& tasks, int error) override {
    Event e;
    e.op = "tasks";
    e.tasks = tasks;
    e.error = error;
    add(e);
  }
  void onUploadStatus(const UploadTaskStatus& task, int error) override { add(status("status", task, error)); }
  void onAddUploadTask(const UploadTaskStatus& task, int error) override { add(status("add", task, error)); }
  void onPauseUpload(const UploadTaskStatus& task, int error) override { add(status("pause", task, error)); }
  void onResumeUpload(const UploadTaskStatus& task, int error) override { add(status("resume", task, error)); }
  void onCancelUpload(const std::string&, int) override {}
  void onDownloadUrl(const std::map<std::string, std::string>& links) override {
    Event e;
    e.op = "links";
    e.links = links;
    add(e);
  }

  // Waits until an event from `from` on satisfies the predicate; gives it.
  bool waitFor(const std::function<bool(const Event&)>& match, Event* out = nullptr, size_t from = 0,
               int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool found = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      for (size_t i = from; i < events_.size(); ++i)
        if (match(events_[i])) {
          if (out != nullptr) *out = events_[i];
          return true;
        }
      return false;
    });
    return found;
  }
  bool waitOp(const std::string& op, Event* out = nullptr, size_t from = 0) {
    return waitFor([&](const Event& e) { return e.op == op; }, out, from);
  }
  // An upload's report with that state (any operation but "add").
  bool waitState(const std::string& name, int state, Event* out = nullptr, size_t from = 0) {
    return waitFor(
        [&](const Event& e) { return e.op != "add" && e.task.relpath == name && e.task.state == state; }, out,
        from);
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }
  std::vector<Event> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  static Event status(const char* op, const UploadTaskStatus& task, int error) {
    Event e;
    e.op = op;
    e.task = task;
    e.name = task.relpath;
    e.error = error;
    return e;
  }
  void add(const Event& e) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(e);
    cv_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Event> events_;
};

class ClientFixture : public ::testing::Test {
 protected:
  ClientFixture() : disk(&sso), client(NetDiskClient::instance()) {}

  void SetUp() override {
    ASSERT_TRUE(sso.isListening());
    ASSERT_TRUE(disk.isListening());
    sso.addUser(kAlice, "pw1");
    sso.addUser(kBob, "pw2");
    Config* c = Config::instance();
    c->setValue("VASTO", "spaceServer", disk.hostPort());
    c->setValue("SSO", "server", sso.hostPort());
    c->setValue("VASTO", "httpTimeout", "10");
    c->setValue("SSO", "httpTimeout", "10");
    configure();
    client->shutdown();  // a fresh client that reads the settings above
    clearCookies();
    client->addListener(&listener);
  }
  void TearDown() override {
    disk.holdUploads(false);
    disk.release(1000);
    client->shutdown();
    client->removeListener(&listener);
    LocalDb::instance()->close();
    clearCookies();
    SsoClient::destroy();  // its worker pool ends with each test
    Config::instance()->removeValue("VASTO", "maxThread");
    Config::instance()->removeValue("VASTO", "maxTask");
  }
  // Settings a test wants before the client reads them.
  virtual void configure() {}

  static void clearCookies() {
    SsoCookieManager::clearCookie(kAlice);
    SsoCookieManager::clearCookie(kBob);
  }

  // Logs in and waits for the first listing.
  void login(const char* user, const char* password) {
    ASSERT_GT(client->init(user, password), 0);
    listAndWait();
  }
  Event listAndWait() {
    size_t from = listener.size();
    EXPECT_GT(client->listFile(), 0);
    Event e;
    EXPECT_TRUE(listener.waitOp("list", &e, from));
    return e;
  }
  // Every command queued before has run once this returns.
  Event barrier() {
    size_t from = listener.size();
    EXPECT_GT(client->listUploadTask(), 0);
    Event e;
    EXPECT_TRUE(listener.waitOp("tasks", &e, from));
    return e;
  }
  // Adds a file and gives its name on the net disk.
  std::string add(const std::string& localFile, Event* added = nullptr) {
    size_t from = listener.size();
    EXPECT_GT(client->addUploadTask(localFile, ""), 0);
    Event e;
    EXPECT_TRUE(listener.waitFor(
        [&](const Event& ev) { return ev.op == "add" && ev.task.localFile == localFile; }, &e, from));
    if (added != nullptr) *added = e;
    return e.task.relpath;
  }

  static std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (size_t i = 0; i < n; ++i) {
      x = x * 1103515245u + 12345u;
      s[i] = static_cast<char>(x >> 16);
    }
    return s;
  }
  int count(const std::string& sql, const CppSQLite3Params& params = CppSQLite3Params()) {
    CppSQLite3Query q;
    if (!LocalDb::instance()->execQuery(sql, params, q) || q.eof()) return -1;
    return q.intField(q.fieldName(0));
  }
  std::vector<int> blockRows(const std::string& name) {
    std::vector<UpBlockTaskRecord> rows;
    SyncDb(LocalDb::instance()).listUpBlockTasks(name, rows);
    std::vector<int> out;
    for (const UpBlockTaskRecord& r : rows) out.push_back(r.blockIndex);
    return out;
  }

  TestHome home;
  pwtest::FakeSsoServer sso;
  pwtest::FakeNetDiskServer disk;
  NetDiskClient* client;
  RecordingListener listener;
};

}  // namespace ndtest

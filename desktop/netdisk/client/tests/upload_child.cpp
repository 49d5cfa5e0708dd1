// A process that uploads one file with the net-disk client and then waits to be killed: the
// kill -9 test ends it in the middle of the upload. Arguments: space server, single sign-on
// server, user id, password, local file, maxThread. PW_HOME comes from the environment.
// Prints "added" once the upload was admitted.
#include "client/NetDiskClient.h"
#include "util/Config.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

class Waiter : public INetDiskClientListener {
 public:
  void onListFile(const std::vector<NetDiskFileItem>&, int) override { mark(listed_); }
  void onRenameFile(const std::string&, const std::string&, int) override {}
  void onDeleteFile(const std::string&, int) override {}
  void onListUploadTask(const std::vector<UploadTaskStatus>&, int) override {}
  void onUploadStatus(const UploadTaskStatus&, int) override {}
  void onAddUploadTask(const UploadTaskStatus& task, int error) override {
    std::printf("%s %s %d\n", error == 0 ? "added" : "refused", task.relpath.c_str(), error);
    std::fflush(stdout);
  }
  void onPauseUpload(const UploadTaskStatus&, int) override {}
  void onResumeUpload(const UploadTaskStatus&, int) override {}
  void onCancelUpload(const std::string&, int) override {}
  void onDownloadUrl(const std::map<std::string, std::string>&) override {}
  bool waitListed() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return listed_; });
  }

 private:
  void mark(bool& flag) {
    std::lock_guard<std::mutex> lock(mutex_);
    flag = true;
    cv_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool listed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  signal(SIGPIPE, SIG_IGN);
  Config* c = Config::instance();
  c->setValue("VASTO", "spaceServer", argv[1]);
  c->setValue("SSO", "server", argv[2]);
  c->setValue("VASTO", "maxThread", argv[6]);
  static Waiter waiter;
  NetDiskClient* client = NetDiskClient::instance();
  client->addListener(&waiter);
  client->init(argv[3], argv[4]);
  client->listFile();
  if (!waiter.waitListed()) return 3;
  client->addUploadTask(argv[5], "");
  for (;;) pause();  // until killed
}

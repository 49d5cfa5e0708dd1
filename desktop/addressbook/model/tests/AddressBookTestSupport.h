// Shared pieces of the address-book tests: a home folder of its own for the per-user database,
// and a listener that records what the address-book client tells it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "addressbook/AddressBookClient.h"
#include "db/LocalDb.h"

namespace abtest {

// A fresh PW_HOME under the temporary folder with the user's database open in it; removed with
// its content at the end.
class TempHome {
 public:
  TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pwab-XXXXXX").string();
    char* made = mkdtemp(&pattern[0]);
    path_ = made != nullptr ? made : "";
    setenv("PW_HOME", path_.c_str(), 1);
  }
  ~TempHome() {
    LocalDb::instance()->close();
    unsetenv("PW_HOME");
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Records every OnAddrbookUpdate; waits for them with a deadline.
class Recorder : public IAddrbookListener {
 public:
  void OnAddrbookUpdate(const std::vector<Sptr<INode>>& rootGroups, int status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_.push_back(status);
    rootCounts_.push_back(rootGroups.size());
    cv_.notify_all();
  }
  bool waitFor(size_t count, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return statuses_.size() >= count; });
  }
  std::vector<int> statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }
  std::vector<size_t> rootCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rootCounts_;
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int> statuses_;
  std::vector<size_t> rootCounts_;
};

inline IGroup* asGroup(const Sptr<INode>& n) { return static_cast<IGroup*>(n.get()); }
inline IContact* asContact(const Sptr<INode>& n) { return static_cast<IContact*>(n.get()); }

inline std::vector<std::string> namesOf(const std::vector<Sptr<INode>>& nodes) {
  std::vector<std::string> out;
  for (const Sptr<INode>& n : nodes) out.push_back(asContact(n)->getName());
  return out;
}

}  // namespace abtest

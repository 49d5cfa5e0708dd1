// Shared pieces of the address-book tests: a home folder of its own for the per-user database,
// and a listener that records what the address-book client tells it.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "addressbook/AddressBookClient.h"
#include "testing/TempHome.h"
#include "db/LocalDb.h"

namespace abtest {

// A fresh PW_HOME under the temporary folder; the user's database opened in it is closed
// before the folder goes.
class TempHome : public pwtest::TempHome {
 public:
  ~TempHome() { LocalDb::instance()->close(); }
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

// Another connection that takes a database file for itself (exclusive locking, a write), as a
// second copy of the program on the same documents folder or an SQLite tool would: the per-user
// database cannot open it, and nothing of the contact table can be written, while it is held.
class HeldFile {
 public:
  explicit HeldFile(const std::string& file) {
    ok_ = sqlite3_open(file.c_str(), &db_) == SQLITE_OK &&
          sqlite3_exec(db_, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; "
                            "create table if not exists held(v integer); insert into held values(1);",
                       nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~HeldFile() { sqlite3_close(db_); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool ok() const { return ok_; }

 private:
  sqlite3* db_ = nullptr;
  bool ok_ = false;
};

inline IGroup* asGroup(const Sptr<INode>& n) { return static_cast<IGroup*>(n.get()); }
inline IContact* asContact(const Sptr<INode>& n) { return static_cast<IContact*>(n.get()); }

inline std::vector<std::string> namesOf(const std::vector<Sptr<INode>>& nodes) {
  std::vector<std::string> out;
  for (const Sptr<INode>& n : nodes) out.push_back(asContact(n)->getName());
  return out;
}

}  // namespace abtest

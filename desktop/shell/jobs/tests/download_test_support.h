// Helpers of the download tests: a temporary folder and an observer that
// records what each notification showed.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "jobs/FileDownloadJob.h"

namespace jobstest {

inline bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder under the system's temporary folder, removed with its files.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/pw_jobs_XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp") (void)std::system(cmd.c_str());
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// What one notification showed.
struct Notice {
  long long received;
  long long total;
  int error;
  bool fileClosedAndComplete;  // the file on disk held `total` bytes at the notice
};

// Any thread; notices arrive on the notifying thread.
class RecordingObserver : public LongTimeJobObserver {
 public:
  void onNotify(LongTimeJob* job) override {
    FileDownloadJob* d = static_cast<FileDownloadJob*>(job);
    Notice n;
    n.received = d->received;
    n.total = d->total;
    n.error = d->error;
    struct stat st;
    n.fileClosedAndComplete = d->total > 0 && d->received == d->total &&
                              ::stat(d->path.c_str(), &st) == 0 && st.st_size == d->total;
    std::lock_guard<std::mutex> l(m_);
    notices_.push_back(n);
    if (n.error != 0 || (n.total > 0 && n.received == n.total)) ++ends_;
    if (n.error != 0) ++failures_;
    cv_.notify_all();
  }
  std::vector<Notice> notices() const {
    std::lock_guard<std::mutex> l(m_);
    return notices_;
  }
  // Waits for a notice that shows the end (an error, or the whole length).
  // A progress notice and the final one may both show the whole length.
  bool waitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, limit, [&] { return ends_ > 0; });
  }
  // Waits until at least `count` notices came.
  bool waitForNotices(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, limit, [&] { return notices_.size() >= count; });
  }
  int failures() const {
    std::lock_guard<std::mutex> l(m_);
    return failures_;
  }

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::vector<Notice> notices_;
  int ends_ = 0;
  int failures_ = 0;
};

}  // namespace jobstest

// The fixture of the upload fault tests: one step thread (so the steps come in a known order),
// and helpers that rewrite a local file under an upload, set its modification time, plant rows
// of an earlier run and read the order of the steps the server got.
#pragma once

#include "ClientFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

namespace ndtest {

using pwtest::FakeNetDiskServer;

const size_t kThreeBlocks = 2 * kBlock + 1000;

// Polls a condition of the fake server (which offers no wait for it) until a deadline.
inline bool pollUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class FaultTest : public ClientFixture {
 protected:
  void configure() override { Config::instance()->setValue("VASTO", "maxThread", "1"); }

  // Waits for the upload's next stop or finish reported after event `from`.
  bool waitEnded(const std::string& name, Event* ended, size_t from = 0) {
    return listener.waitFor(
        [&](const Event& e) {
          return e.op != "add" && e.task.relpath == name &&
                 (e.task.state == UploadTaskStatus::STOPPED || e.task.state == UploadTaskStatus::FINISHED);
        },
        ended, from);
  }

  // Start, and the upload's next stop or finish.
  Event start(const std::string& name) {
    size_t from = listener.size();
    EXPECT_GT(client->resumeUploadTask(name), 0);
    Event done;
    EXPECT_TRUE(waitEnded(name, &done, from));
    return done;
  }
  // The upload's task row (status -1 when there is none).
  UpFileTaskRecord record(const std::string& name) {
    UpFileTaskRecord row;
    row.status = -1;
    SyncDb(LocalDb::instance()).getUpFileTask(name, row);
    return row;
  }

  // Rewrites the file in place at the same length with other bytes. Its modification time moves
  // on by 100 s, or, with `sameSecond`, by a tenth of a second within the same second (the file
  // must have a time of at most .8 s into its second).
  static void rewriteInPlace(const std::string& path, const std::string& bytes, bool sameSecond = false) {
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    {
      std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (sameSecond) {
      ASSERT_LT(st.st_mtim.tv_nsec, 900000000L);
      setMtime(path, st.st_mtim.tv_sec, st.st_mtim.tv_nsec + 100000000L);
    } else {
      setMtime(path, st.st_mtim.tv_sec + 100, st.st_mtim.tv_nsec);
    }
  }
  static void setMtime(const std::string& path, time_t seconds, long nanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = nanoseconds;
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  }
  // The task row of an upload that an earlier run left, with no block rows.
  static void insertEarlierRow(SyncDb& db, const std::string& name, const std::string& local, int64_t size,
                               int64_t transferred, int status) {
    UpFileTaskRecord row;
    row.relpath = name;
    row.localFile = local;
    row.size = size;
    ASSERT_EQ(0, NetDiskClient::getLocalFileMtime(local, row.mtime));
    row.blockSize = kBlock;
    row.xferSize = transferred;
    row.status = status;
    ASSERT_EQ(0, db.insertUpFileTask(row));
  }

  // "op name" of each step request the server got, in arrival order.
  std::vector<std::string> steps() {
    std::vector<std::string> out;
    for (const pwtest::HttpRequestRecord& r : disk.requests()) {
      std::string path = r.path;
      auto ends = [&](const char* op) {
        std::string o = op;
        return path.size() >= o.size() && path.compare(path.size() - o.size(), o.size(), o) == 0;
      };
      if (ends(FakeNetDiskServer::CREATE)) {
        size_t at = r.body.find("\"name\":\"");
        out.push_back("create " + r.body.substr(at + 8, r.body.find('"', at + 8) - at - 8));
      } else if (ends(FakeNetDiskServer::MERGE)) {
        size_t at = r.body.rfind('/');
        out.push_back("merge " + r.body.substr(at + 1, r.body.find('"', at) - at - 1));
      } else if (ends(FakeNetDiskServer::UPLOAD)) {
        pwtest::MultipartUpload part;
        std::string error;
        if (!FakeNetDiskServer::parseUpload(r.header("Content-Type"), r.body, part, error)) continue;
        size_t at = part.txtPost.find("\"blockid\":\"");
        out.push_back("block " + part.fileName + "#" + part.txtPost.substr(at + 11, 1));
      }
    }
    return out;
  }
};

}  // namespace ndtest

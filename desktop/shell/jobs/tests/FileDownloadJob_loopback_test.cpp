// Downloads from a real HTTP server on 127.0.0.1, through the job runner.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "download_test_support.h"
#include "jobs/FileDownloadJob.h"
#include "jobs/LongTimeTask.h"
#include "testing/LoopbackHttpServer.h"

namespace {

using jobstest::Notice;
using jobstest::RecordingObserver;
using jobstest::TempDir;
using pwtest::HttpReply;
using pwtest::HttpRequestRecord;
using pwtest::LoopbackHttpServer;

const std::chrono::milliseconds kDeadline(20000);

std::string payload(size_t size) {
  std::string s(size, '\0');
  unsigned x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, LongTimeTask::instance()->open()); }
  void TearDown() override {
    server.stop();
    ACE_Time_Value limit(20);
    EXPECT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
  }

  // Posts a download of `pathAndQuery` into dir/name with a recording observer.
  FileDownloadJob* start(const std::string& pathAndQuery, const std::string& name,
                         int timeoutSeconds = 0) {
    FileDownloadJob* job = new FileDownloadJob(server.url(pathAndQuery));
    job->path = dir.file(name);
    if (timeoutSeconds) job->setTimeout(timeoutSeconds);
    job->addObserver(Sptr<LongTimeJobObserver>(recorder));
    jobId = job->getJobId();
    savedPath = job->path;
    EXPECT_EQ(0, LongTimeTask::instance()->postJob(job));
    return job;
  }

  // The end of the job: its end was notified and the runner deleted it (no
  // notice can follow).
  bool waitForJobEnd() {
    if (!recorder->waitForEnd(kDeadline)) return false;
    auto end = std::chrono::steady_clock::now() + kDeadline;
    while (LongTimeTask::instance()->findJob(jobId) != nullptr) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  LoopbackHttpServer server;
  TempDir dir;
  Sptr<RecordingObserver> recorder{new RecordingObserver};
  std::string jobId, savedPath;
};

TEST_F(DownloadTest, MultiMegabyteFileIsSavedByteForByteWithProgress) {
  const std::string body = payload(3 * 1024 * 1024 + 4321);
  server.setHandler([&](const HttpRequestRecord&) { return HttpReply(200, body, "application/octet-stream"); });
  start("/dir/a%20b.exe", "setup.exe");
  ASSERT_TRUE(waitForJobEnd());

  HttpRequestRecord req = server.lastRequest();
  EXPECT_EQ("GET", req.method);
  EXPECT_EQ("/dir/a%20b.exe", req.target);  // decoded, then the name encoded again
  EXPECT_EQ("close", req.header("Connection"));

  std::vector<Notice> n = recorder->notices();
  ASSERT_FALSE(n.empty());
  const Notice& last = n.back();
  EXPECT_EQ(0, last.error);
  EXPECT_EQ(static_cast<long long>(body.size()), last.received);
  EXPECT_TRUE(last.fileClosedAndComplete);
  EXPECT_TRUE(jobstest::readFile(savedPath) == body);
  // One progress notice per 64 KiB unit (chunks are smaller than a unit).
  ASSERT_EQ(body.size() / 65536 + 1, n.size());
  for (size_t k = 0; k + 1 < n.size(); ++k) {
    EXPECT_GE(n[k].received, static_cast<long long>((k + 1) * 65536)) << k;
    EXPECT_LT(n[k].received, static_cast<long long>((k + 2) * 65536)) << k;
  }
  EXPECT_EQ(0, recorder->failures());
}

TEST_F(DownloadTest, ErrorPagesAndDroppedConnectionsFailWithoutAFile) {
  struct Case {
    const char* what;
    HttpReply reply;
    int error;
  };
  HttpReply cut(200, payload(300000));
  cut.cutAfter = 100000;  // then close
  HttpReply dropped;
  dropped.drop = true;
  Case cases[] = {
      {"404", HttpReply(404, "<html>not found</html>", "text/html"), FileDownloadJob::ERR_STATUS},
      {"500", HttpReply(500, "<html>oops</html>", "text/html"), FileDownloadJob::ERR_STATUS},
      {"cut mid-body", cut, FileDownloadJob::ERR_HTTP},
      {"dropped before answering", dropped, FileDownloadJob::ERR_HTTP},
  };
  for (const Case& c : cases) {
    recorder = Sptr<RecordingObserver>(new RecordingObserver);
    HttpReply reply = c.reply;
    server.setHandler([reply](const HttpRequestRecord&) { return reply; });
    start("/f.bin", std::string("f-") + c.what);
    ASSERT_TRUE(waitForJobEnd()) << c.what;
    Notice last = recorder->notices().back();
    EXPECT_EQ(c.error, last.error) << c.what;
    EXPECT_EQ(1, recorder->failures()) << c.what;
    EXPECT_FALSE(jobstest::fileExists(savedPath)) << c.what;
  }
}

TEST_F(DownloadTest, StopFromAnotherThreadMidTransferNotifiesTheEnd) {
  HttpReply stall(200, payload(1000000));
  stall.cutAfter = 200000;
  stall.afterCut = HttpReply::STALL;
  server.setHandler([stall](const HttpRequestRecord&) { return stall; });
  start("/big.bin", "big.bin");
  ASSERT_TRUE(recorder->waitForNotices(3, kDeadline));  // 64, 128 and 192 KiB passed
  LongTimeTask::instance()->cancelJob(jobId);
  ASSERT_TRUE(waitForJobEnd());
  Notice last = recorder->notices().back();
  EXPECT_EQ(FileDownloadJob::ERR_STOPPED, last.error);
  EXPECT_EQ(1, recorder->failures());
  EXPECT_FALSE(jobstest::fileExists(savedPath));
}

TEST_F(DownloadTest, CancelRacingTheStartEndsEveryJobWithAtMostOneNotice) {
  const std::string body = payload(20000);
  server.setHandler([body](const HttpRequestRecord&) { return HttpReply(200, body); });
  for (int round = 0; round < 60; ++round) {
    recorder = Sptr<RecordingObserver>(new RecordingObserver);
    start("/f.bin", "race-" + std::to_string(round));
    LongTimeTask::instance()->cancelJob(jobId);
    // Gone from the registry: deleted, unrun or after its end.
    auto end = std::chrono::steady_clock::now() + kDeadline;
    while (LongTimeTask::instance()->findJob(jobId) != nullptr) {
      ASSERT_LT(std::chrono::steady_clock::now(), end) << "round " << round;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<Notice> n = recorder->notices();
    EXPECT_LE(recorder->failures(), 1) << "round " << round;
    bool complete = !n.empty() && n.back().error == 0 && n.back().received == n.back().total;
    if (!complete) {
      EXPECT_FALSE(jobstest::fileExists(savedPath)) << "round " << round;
    }
    if (!n.empty() && n.back().error != 0) {
      EXPECT_EQ(FileDownloadJob::ERR_STOPPED, n.back().error) << "round " << round;
    }
  }
}

TEST_F(DownloadTest, SilentServerHitsTheTimeOut) {
  HttpReply silent;
  silent.delayMs = -1;
  server.setHandler([silent](const HttpRequestRecord&) { return silent; });
  auto begin = std::chrono::steady_clock::now();
  start("/slow.bin", "slow.bin", 1);
  ASSERT_TRUE(waitForJobEnd());
  EXPECT_EQ(FileDownloadJob::ERR_HTTP, recorder->notices().back().error);
  EXPECT_FALSE(jobstest::fileExists(savedPath));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(15));
}

}  // namespace

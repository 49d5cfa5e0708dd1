// The download job's reactions to the HTTP events, driven by scripts of
// events (no network): progress steps, the end, and each failure.
#include "jobs/FileDownloadJob.h"

#include <gtest/gtest.h>

#include <ace/Message_Block.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "download_test_support.h"
#include "http/HTTPResponse.h"
#include "jobs/LongTimeTask.h"

namespace {

using jobstest::Notice;
using jobstest::RecordingObserver;
using jobstest::TempDir;

// Feeds a scripted response to a job that is not posted.
struct Script {
  int status = 200;
  long long contentLength = 0;
  std::vector<size_t> chunks;  // body chunk sizes
  bool complete = true;        // send EV_COMPLETE at the end
};

std::vector<Notice> play(FileDownloadJob& job, const Script& s, std::string* bodyOut = 0) {
  Sptr<RecordingObserver> recorder(new RecordingObserver);
  job.addObserver(Sptr<LongTimeJobObserver>(recorder));
  HTTPResponse response;
  response.setStatus(s.status);
  if (s.contentLength) response.setContentLength(s.contentLength);
  job.onHttpEvent(HTTPClientObserver::EV_HEAD, &response, 0);
  std::string body;
  for (size_t i = 0; i < s.chunks.size(); ++i) {
    std::string piece(s.chunks[i], static_cast<char>('a' + i % 26));
    body += piece;
    ACE_Message_Block mb(piece.size());
    mb.copy(piece.data(), piece.size());
    job.onHttpEvent(HTTPClientObserver::EV_BODY, &response, &mb);
    EXPECT_EQ(0u, mb.length()) << "the chunk is consumed";
  }
  if (s.complete) job.onHttpEvent(HTTPClientObserver::EV_COMPLETE, &response, 0);
  if (bodyOut) *bodyOut = body;
  return recorder->notices();
}

TEST(FileDownloadJobScript, ProgressEverySixtyFourKibThenOneFinalNotice) {
  TempDir dir;
  FileDownloadJob job("http://h/f");
  job.path = dir.file("f.bin");
  Script s;
  s.contentLength = 200000;
  for (size_t left = 200000; left > 0; left -= std::min<size_t>(left, 4096))
    s.chunks.push_back(std::min<size_t>(left, 4096));
  std::string body;
  std::vector<Notice> n = play(job, s, &body);
  ASSERT_EQ(4u, n.size());
  EXPECT_EQ(65536, n[0].received);
  EXPECT_EQ(131072, n[1].received);
  EXPECT_EQ(196608, n[2].received);
  EXPECT_EQ(200000, n[3].received);
  for (const Notice& x : n) EXPECT_EQ(0, x.error);
  EXPECT_EQ(200000, n[3].total);
  EXPECT_TRUE(n[3].fileClosedAndComplete);  // closed before the final notice
  EXPECT_EQ(body, jobstest::readFile(job.path));
}

TEST(FileDownloadJobScript, OneChunkCrossingUnitsGivesOneProgressNotice) {
  struct Case {
    long long length;
    std::vector<size_t> chunks;
    size_t notices;
  } cases[] = {
      {65536, {65536}, 2},           // one progress, one final
      {200000, {140000, 60000}, 3},  // two units crossed by one chunk: one progress
      {1000, {1000}, 1},             // below one unit: the final notice only
  };
  for (const Case& c : cases) {
    TempDir dir;
    FileDownloadJob job("http://h/f");
    job.path = dir.file("f.bin");
    Script s;
    s.contentLength = c.length;
    s.chunks = c.chunks;
    std::vector<Notice> n = play(job, s);
    ASSERT_EQ(c.notices, n.size()) << c.length;
    EXPECT_EQ(c.length, n.back().received);
    EXPECT_EQ(0, n.back().error);
  }
}

TEST(FileDownloadJobScript, FailuresNotifyOnceAndLeaveNoFile) {
  struct Case {
    const char* what;
    int status;
    long long length;
    std::vector<size_t> chunks;
    bool badFolder;
    int error;
  } cases[] = {
      {"404 page", 404, 20, {20}, false, FileDownloadJob::ERR_STATUS},
      {"500 page", 500, 20, {20}, false, FileDownloadJob::ERR_STATUS},
      {"length 0", 200, 0, {}, false, FileDownloadJob::ERR_EMPTY},
      {"missing folder", 200, 100, {100}, true, FileDownloadJob::ERR_FILE},
      {"complete but short", 200, 100000, {70000}, false, FileDownloadJob::ERR_STOPPED},
  };
  for (const Case& c : cases) {
    TempDir dir;
    FileDownloadJob job("http://h/f");
    job.path = c.badFolder ? dir.file("no/such/folder/f.bin") : dir.file("f.bin");
    Script s;
    s.status = c.status;
    s.contentLength = c.length;
    s.chunks = c.chunks;
    std::vector<Notice> n = play(job, s);
    ASSERT_FALSE(n.empty()) << c.what;
    EXPECT_EQ(c.error, n.back().error) << c.what;
    int failures = 0;
    for (const Notice& x : n) failures += x.error != 0;
    EXPECT_EQ(1, failures) << c.what;
    EXPECT_FALSE(jobstest::fileExists(job.path)) << c.what;
    if (c.error != FileDownloadJob::ERR_STOPPED) {
      EXPECT_TRUE(job.isCancelled()) << c.what;
    }
  }
}

TEST(FileDownloadJobScript, FailureEventGivesMinusFourOnceAndLaterEventsAreIgnored) {
  TempDir dir;
  FileDownloadJob job("http://h/f");
  job.path = dir.file("f.bin");
  Sptr<RecordingObserver> recorder(new RecordingObserver);
  job.addObserver(Sptr<LongTimeJobObserver>(recorder));
  HTTPResponse response;
  response.setStatus(200);
  response.setContentLength(10);
  job.onHttpEvent(HTTPClientObserver::EV_HEAD, &response, 0);
  job.onHttpEvent(HTTPClientObserver::EV_FAILURE, &response, 0);
  job.onHttpEvent(HTTPClientObserver::EV_FAILURE, &response, 0);
  job.onHttpEvent(HTTPClientObserver::EV_COMPLETE, &response, 0);
  std::vector<Notice> n = recorder->notices();
  ASSERT_EQ(1u, n.size());
  EXPECT_EQ(FileDownloadJob::ERR_HTTP, n[0].error);
  EXPECT_FALSE(jobstest::fileExists(job.path));
}

}  // namespace

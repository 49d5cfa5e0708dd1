// Uploads end to end against the fake servers: blocks, merge and booking;
// refusals; failures with their codes; resuming from the database after the
// client was shut down; pause, cancel, delete; a change of user.
#include "ClientFixture.h"

#include <unistd.h>

#include <fstream>
#include <thread>

namespace ndtest {
namespace {

using pwtest::FakeNetDiskServer;

const size_t kThreeBlocks = 2 * kBlock + 1000;

class UploadTest : public ClientFixture {
 protected:
  // Uploads that must go one block at a time.
  void oneThread() { Config::instance()->setValue("VASTO", "maxThread", "1"); }
};

class SerialUploadTest : public UploadTest {
 protected:
  void configure() override { oneThread(); }
};

TEST_F(UploadTest, MultiBlockUploadEndsWithTheMergedFileEqualToTheOriginal) {
  login(kAlice, "pw1");
  std::string bytes = pattern(kThreeBlocks, 7);
  std::string local = home.write("big file.bin", bytes);
  Event added;
  std::string name = add(local, &added);
  EXPECT_EQ("big file.bin", name);
  EXPECT_EQ(0, added.error);
  EXPECT_EQ(1, added.task.state);
  EXPECT_TRUE(added.task.flag);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), added.task.fileLength);

  Event done;
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, &done));
  EXPECT_EQ(0, done.error);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), done.task.transferred);
  EXPECT_TRUE(disk.isComplete(kAlice, name));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ(0, disk.md5Mismatches());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(1, disk.sends(kAlice, name, i)) << i;
  // Progress came per 131,072 bytes and never beyond the file.
  int progress = 0;
  for (const Event& e : listener.events())
    if (e.op == "status" && e.task.relpath == name && e.task.state == 1) {
      ++progress;
      EXPECT_LE(e.task.transferred, static_cast<int64_t>(bytes.size()));
    }
  EXPECT_GE(progress, 8);
  barrier();
  EXPECT_EQ(0, count("select count(*) from pw_upfile_task"));
  EXPECT_EQ(0, count("select count(*) from pw_upblock_task"));

  // The same file again gets a new name; the link of the first is known.
  std::string second = add(local);
  EXPECT_EQ("copyofbig file.bin", second);
  ASSERT_TRUE(listener.waitState(second, UploadTaskStatus::FINISHED));
  size_t from = listener.size();
  client->getDownloadUrl(std::vector<std::string>{name});
  Event links;
  ASSERT_TRUE(listener.waitOp("links", &links, from));
  EXPECT_NE(std::string::npos, links.links[name].find(disk.linkToken(kAlice, name)));
}

TEST_F(UploadTest, EmptyFileIsCreatedAndMergedWithoutBlocks) {
  login(kAlice, "pw1");
  std::string name = add(home.write("empty.txt", ""));
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED));
  EXPECT_TRUE(disk.isComplete(kAlice, name));
  EXPECT_EQ(0, disk.count(FakeNetDiskServer::UPLOAD));
}

TEST_F(UploadTest, RefusalsCarryTheirCodesAndLeaveNoRows) {
  disk.setQuota(100000.0);
  login(kAlice, "pw1");
  std::string huge = home.path() + "/huge.bin";
  {
    std::ofstream touch(huge);
  }
  ASSERT_EQ(0, truncate(huge.c_str(), 0x80000000LL));  // sparse: 2 GB
  struct Case {
    std::string path;
    int error;
  } cases[] = {{home.path() + "/absent.bin", 5}, {huge, 3}, {home.write("over.bin", pattern(100001, 1)), 6}};
  for (const Case& c : cases) {
    Event e;
    add(c.path, &e);
    EXPECT_EQ(c.error, e.error) << c.path;
    EXPECT_EQ(c.path, e.task.localFile);
    EXPECT_TRUE(e.task.relpath.empty());
  }
  barrier();
  EXPECT_EQ(0, count("select count(*) from pw_upfile_task"));
  EXPECT_EQ(0, disk.count(FakeNetDiskServer::CREATE));
}

TEST_F(SerialUploadTest, SameLocalFileTwiceWhileRunningIsRefusedWithOne) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  std::string local = home.write("a.bin", pattern(kThreeBlocks, 2));
  std::string name = add(local);
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  Event e;
  add(local, &e);
  EXPECT_EQ(1, e.error);
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED));
}

struct FailureCase {
  const char* endpoint;
  int status;
  int error;
};

class StepFailureTest : public UploadTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StepFailureTest, FailedStepStopsTheUploadWithItsCode) {
  const FailureCase& c = GetParam();
  login(kAlice, "pw1");
  disk.failNext(c.endpoint, c.status, 10);
  std::string bytes = pattern(kBlock + 10, 3);
  std::string name = add(home.write("f.bin", bytes));
  Event stopped;
  ASSERT_TRUE(listener.waitFor(
      [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; }, &stopped));
  EXPECT_EQ(c.error, stopped.error);
  EXPECT_FALSE(disk.isComplete(kAlice, name));
  barrier();
  EXPECT_EQ(1, count("select count(*) from pw_upfile_task"));  // kept for a resume
}

INSTANTIATE_TEST_SUITE_P(Steps, StepFailureTest,
                         ::testing::Values(FailureCase{FakeNetDiskServer::CREATE, 500, 7},
                                           FailureCase{FakeNetDiskServer::UPLOAD, 404, 8},
                                           FailureCase{FakeNetDiskServer::MERGE, 500, 9}));

TEST_F(SerialUploadTest, LocalFileChangedOrGoneFailsTheNextBlock) {
  login(kAlice, "pw1");
  const struct {
    const char* file;
    int error;
  } cases[] = {{"grows.bin", 4}, {"goes.bin", 5}};
  for (const auto& c : cases) {
    disk.holdUploads(true);
    std::string local = home.write(c.file, pattern(kThreeBlocks, 4));
    std::string name = add(local);
    ASSERT_TRUE(disk.waitHeld(1, 10000));
    if (c.error == 4) {
      std::ofstream more(local, std::ios::app | std::ios::binary);
      more << "more";
    } else {
      ASSERT_EQ(0, unlink(local.c_str()));
    }
    disk.holdUploads(false);
    disk.release(1);
    Event stopped;
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; },
        &stopped));
    EXPECT_EQ(c.error, stopped.error) << c.file;
    EXPECT_EQ(1, disk.sends(kAlice, name, 0));
    EXPECT_EQ(0, disk.sends(kAlice, name, 1));
  }
}

TEST_F(SerialUploadTest, FailedBlockResumesAfterRestartFromTheRows) {
  login(kAlice, "pw1");
  std::string bytes = pattern(kThreeBlocks, 5);
  std::string local = home.write("r.bin", bytes);
  disk.failBlock("r.bin", 1, 404);
  std::string name = add(local);
  Event stopped;
  ASSERT_TRUE(listener.waitFor(
      [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; }, &stopped));
  EXPECT_EQ(8, stopped.error);
  barrier();
  EXPECT_EQ((std::vector<int>{1, 2}), blockRows(name));
  EXPECT_EQ(kBlock, count("select xferSize from pw_upfile_task where relpath=?", CppSQLite3Params{name}));

  client->shutdown();  // as the end of the program
  login(kAlice, "pw1");
  Event tasks = barrier();
  ASSERT_EQ(1u, tasks.tasks.size());
  EXPECT_EQ(name, tasks.tasks[0].relpath);
  EXPECT_EQ(local, tasks.tasks[0].localFile);
  EXPECT_EQ(kBlock, tasks.tasks[0].transferred);
  EXPECT_EQ(0, tasks.tasks[0].state);
  size_t from = listener.size();
  ASSERT_GT(client->resumeUploadTask(name), 0);
  Event done;
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, &done, from));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ(1, disk.sends(kAlice, name, 0));  // never sent again
  EXPECT_EQ(1, disk.sends(kAlice, name, 1));
  EXPECT_EQ(1, disk.sends(kAlice, name, 2));
  EXPECT_EQ(1, disk.count(FakeNetDiskServer::CREATE));
}

TEST_F(SerialUploadTest, HeldBlockThenShutdownResumesWithoutResendingConfirmedBlocks) {
  login(kAlice, "pw1");
  std::string bytes = pattern(kThreeBlocks, 6);
  std::string local = home.write("h.bin", bytes);
  disk.holdUploads(true);
  std::string name = add(local);
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  // Block 0 is stored and booked before block 1 is sent, and block 1 is held.
  size_t requests = disk.http().requestCount();
  disk.release(1);
  ASSERT_TRUE(disk.http().waitForRequests(requests + 1, 10000));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  ASSERT_EQ(1u, disk.blocksReceived(kAlice, name).size());

  std::thread stopper([&] { client->shutdown(); });
  disk.holdUploads(false);
  disk.release(10);
  stopper.join();

  login(kAlice, "pw1");
  barrier();
  size_t from = listener.size();
  client->resumeUploadTask(name);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ(1, disk.sends(kAlice, name, 0));
  EXPECT_EQ(1, disk.count(FakeNetDiskServer::CREATE));
}

TEST_F(SerialUploadTest, PauseLetsTheRunningBlockFinishAndResumeCompletes) {
  login(kAlice, "pw1");
  std::string bytes = pattern(kThreeBlocks, 8);
  disk.holdUploads(true);
  std::string name = add(home.write("p.bin", bytes));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  size_t from = listener.size();
  client->pauseUploadTask(name);
  Event paused;
  ASSERT_TRUE(listener.waitOp("pause", &paused, from));
  EXPECT_EQ(name, paused.task.relpath);
  EXPECT_EQ(0, paused.task.state);
  disk.holdUploads(false);
  disk.release(10);
  NetDiskTaskThread::waitDetached();
  barrier();
  // The late progress of the paused upload reached nobody.
  std::vector<Event> events = listener.events();
  for (size_t i = from; i < events.size(); ++i)
    EXPECT_FALSE(events[i].task.relpath == name && events[i].task.state == 1) << events[i].op;
  EXPECT_EQ(1, disk.sends(kAlice, name, 0));  // booked
  EXPECT_EQ(0, disk.sends(kAlice, name, 1));  // nothing further
  EXPECT_EQ((std::vector<int>{1, 2}), blockRows(name));
  // Pausing a name that runs nowhere is still told.
  from = listener.size();
  client->pauseUploadTask("nothing.bin");
  ASSERT_TRUE(listener.waitOp("pause", &paused, from));
  EXPECT_EQ("nothing.bin", paused.task.relpath);

  from = listener.size();
  client->resumeUploadTask(name);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ(1, disk.sends(kAlice, name, 0));
  // A finished upload's resume reports it finished; an unknown name gets 2.
  Event e;
  from = listener.size();
  client->resumeUploadTask(name);
  ASSERT_TRUE(listener.waitFor([&](const Event& ev) { return ev.task.relpath == name; }, &e, from));
  EXPECT_EQ(3, e.task.state);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), e.task.transferred);
  from = listener.size();
  client->resumeUploadTask("nobody.bin");
  ASSERT_TRUE(listener.waitFor([&](const Event& ev) { return ev.task.relpath == "nobody.bin"; }, &e, from));
  EXPECT_EQ(2, e.error);
}

TEST_F(SerialUploadTest, CancelAllLetsRunningStepsFinishAndStartsNothingMore) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  std::string a = add(home.write("a.bin", pattern(kThreeBlocks, 9)));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  std::string b = add(home.write("b.bin", pattern(1000, 10)));  // its create waits for the thread
  client->cancelAllUploadTask();
  barrier();
  disk.holdUploads(false);
  disk.release(10);
  NetDiskTaskThread::waitDetached();
  barrier();
  EXPECT_EQ(1, disk.sends(kAlice, a, 0));
  EXPECT_EQ(0, disk.sends(kAlice, a, 1));
  EXPECT_FALSE(disk.hasFile(kAlice, b));
  EXPECT_EQ((std::vector<int>{1, 2}), blockRows(a));
  EXPECT_EQ(2, count("select count(*) from pw_upfile_task"));
  // The space they held is given back: a file that fits the rest is taken.
  disk.setQuota(static_cast<double>(kThreeBlocks + 1000 + 10));
  listAndWait();
  Event e;
  add(home.write("c.bin", "0123456789"), &e);
  EXPECT_EQ(0, e.error);
}

TEST_F(SerialUploadTest, DeletionsLocalRemoteFailedAndWhileBlocksRun) {
  login(kAlice, "pw1");
  // Never created on the server: removed here, no request.
  disk.failNext(FakeNetDiskServer::CREATE, 500, 1);
  std::string local = home.write("never.bin", "abc");
  std::string never = add(local);
  ASSERT_TRUE(listener.waitFor([&](const Event& e) { return e.task.relpath == never && e.error == 7; }));
  size_t from = listener.size();
  client->deleteFile(never);
  Event e;
  ASSERT_TRUE(listener.waitOp("delete", &e, from));
  EXPECT_EQ(never, e.name);
  EXPECT_EQ(0, e.error);
  EXPECT_EQ(0, disk.count(FakeNetDiskServer::REMOVE));
  EXPECT_EQ(0, count("select count(*) from pw_upfile_task"));
  // The name and the local file are free again.
  EXPECT_EQ(never, add(local));
  ASSERT_TRUE(listener.waitState(never, UploadTaskStatus::FINISHED));

  // A listed file: deleted on the server; a failure there gives 11.
  disk.putFile(kAlice, "old.txt", "old");
  listAndWait();
  disk.failNext(FakeNetDiskServer::REMOVE, 500, 1);
  from = listener.size();
  client->deleteFile("old.txt");
  ASSERT_TRUE(listener.waitOp("delete", &e, from));
  EXPECT_EQ(11, e.error);
  EXPECT_TRUE(disk.hasFile(kAlice, "old.txt"));
  from = listener.size();
  client->deleteFile("old.txt");
  ASSERT_TRUE(listener.waitOp("delete", &e, from));
  EXPECT_EQ(0, e.error);
  EXPECT_FALSE(disk.hasFile(kAlice, "old.txt"));

  // Requested while a block runs: carried out when it returns; a second
  // request meanwhile is only logged.
  disk.holdUploads(true);
  std::string running = add(home.write("run.bin", pattern(kThreeBlocks, 11)));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  from = listener.size();
  client->deleteFile(running);
  client->deleteFile(running);
  barrier();
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitOp("delete", &e, from));
  EXPECT_EQ(running, e.name);
  EXPECT_EQ(0, e.error);
  NetDiskTaskThread::waitDetached();
  barrier();
  EXPECT_FALSE(disk.hasFile(kAlice, running));
  int deletes = 0;
  for (const Event& ev : listener.events())
    if (ev.op == "delete" && ev.name == running) ++deletes;
  EXPECT_EQ(1, deletes);
  EXPECT_EQ(0, count("select count(*) from pw_upfile_task where relpath=?", CppSQLite3Params{running}));
}

class WaitListTest : public UploadTest {
 protected:
  void configure() override {
    oneThread();
    Config::instance()->setValue("VASTO", "maxTask", "1");
  }
};

TEST_F(WaitListTest, SecondUploadWaitsThenRunsWhenTheFirstLeaves) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  std::string a = add(home.write("a.bin", pattern(kBlock + 5, 12)));
  Event second;
  std::string b = add(home.write("b.bin", pattern(1000, 13)), &second);
  EXPECT_EQ(2, second.task.state);
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitState(a, UploadTaskStatus::FINISHED));
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::FINISHED));
  EXPECT_TRUE(disk.isComplete(kAlice, b));
}

TEST_F(WaitListTest, ResumeTakesThePlaceOfTheOldestWhichWaits) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  std::string a = add(home.write("a.bin", pattern(kBlock + 5, 16)));
  std::string b = add(home.write("b.bin", pattern(1000, 17)));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  size_t from = listener.size();
  client->pauseUploadTask(b);  // out of the wait list
  ASSERT_TRUE(listener.waitOp("pause", nullptr, from));
  from = listener.size();
  client->resumeUploadTask(b);
  Event demoted, resumed;
  ASSERT_TRUE(listener.waitState(a, UploadTaskStatus::WAITING, &demoted, from));
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::UPLOADING, &resumed, from));
  EXPECT_EQ("resume", resumed.op);
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::FINISHED, nullptr, from));
  ASSERT_TRUE(listener.waitState(a, UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_TRUE(disk.isComplete(kAlice, a));
  EXPECT_TRUE(disk.isComplete(kAlice, b));
}

TEST_F(SerialUploadTest, AnotherUserLoggingInEndsTheUploadsOfTheFirst) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  std::string aliceFile = add(home.write("alice.bin", pattern(kThreeBlocks, 14)));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  ASSERT_GT(client->init(kBob, "pw2"), 0);
  listAndWait();
  size_t switched = listener.size();
  // Bob's upload waits while Alice's block is still out.
  Event added;
  std::string bobFile = add(home.write("bob.bin", pattern(3000, 15)), &added);
  EXPECT_EQ(2, added.task.state);
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitState(bobFile, UploadTaskStatus::FINISHED, nullptr, switched));
  EXPECT_TRUE(disk.isComplete(kBob, bobFile));
  EXPECT_FALSE(disk.isComplete(kAlice, aliceFile));
  EXPECT_EQ(0, disk.sends(kAlice, aliceFile, 1));
  std::vector<Event> events = listener.events();
  for (size_t i = switched; i < events.size(); ++i) EXPECT_NE(aliceFile, events[i].task.relpath) << events[i].op;
  // Alice's rows stay in her own database for a later resume.
  client->init(kAlice, "pw1");
  listAndWait();
  Event tasks = barrier();
  ASSERT_EQ(1u, tasks.tasks.size());
  EXPECT_EQ(aliceFile, tasks.tasks[0].relpath);
}

}  // namespace
}  // namespace ndtest

namespace ndtest {
namespace {

struct RetryCase {
  int status;
  int times;
  const char* logLine;
  int error;  // 0: the upload finishes
};

class BlockRetryTest : public SerialUploadTest, public ::testing::WithParamInterface<RetryCase> {};

// Block 0 is a whole block; every failed send of it takes back the progress
// it had announced, and a send is tried at most five times.
TEST_P(BlockRetryTest, FailedSendsAreRetriedOnlyFor500And413) {
  const RetryCase& c = GetParam();
  login(kAlice, "pw1");
  IM_LogCapture log;
  std::string bytes = pattern(kBlock + 100000, 18);
  disk.failBlock("retry.bin", 0, c.status, c.times);
  std::string name = add(home.write("retry.bin", bytes));
  Event end;
  if (c.error == 0) {
    ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, &end));
    EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), end.task.transferred);
  } else {
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; }, &end));
    EXPECT_EQ(c.error, end.error);
    EXPECT_EQ(0, end.task.transferred);  // everything announced was taken back
  }
  EXPECT_TRUE(log.contains(c.logLine)) << c.logLine;
  // Progress of the block went up by 131,072 at a time and came back down
  // once per failed send (a send not retried gives it back with the failure).
  int64_t last = 0;
  int drops = 0;
  for (const Event& e : listener.events())
    if (e.op == "status" && e.task.relpath == name && e.task.state == 1) {
      if (e.task.transferred < last) ++drops;
      last = e.task.transferred;
    }
  EXPECT_EQ(c.status == 404 ? 1 : std::min(c.times, 5), drops);
}

INSTANTIATE_TEST_SUITE_P(
    Sends, BlockRetryTest,
    ::testing::Values(RetryCase{500, 2, "retryNumber=2,result =1", 0},
                      RetryCase{413, 1, "retryNumber=1,result =1", 0},
                      RetryCase{500, 5, "retryNumber=5,result =0", 8},
                      RetryCase{404, 1, "retryNumber=0,result =0", 8}));

TEST_F(UploadTest, SecondListingWhileOneRunsOnlyLogs) {
  login(kAlice, "pw1");
  IM_LogCapture log;
  int before = disk.count(FakeNetDiskServer::STATUS);
  pwtest::HttpReply slow(200, "{\"spaceUsed\":0,\"spaceQuota\":1073741824}", "application/json");
  slow.delayMs = 300;  // the first listing is still out when the second comes
  disk.failNext(FakeNetDiskServer::STATUS, slow, 1);
  size_t from = listener.size();
  int first = client->listFile();
  EXPECT_EQ(first + 1, client->listFile());
  ASSERT_TRUE(listener.waitOp("list", nullptr, from));
  barrier();
  EXPECT_TRUE(log.contains("ListFileCommand::execute, ListFileTask has been posted,please wait."));
  EXPECT_EQ(before + 1, disk.count(FakeNetDiskServer::STATUS));
  int lists = 0;
  for (const Event& e : listener.events()) lists += e.op == "list" ? 1 : 0;
  EXPECT_EQ(2, lists);  // the login's and this one
}

}  // namespace
}  // namespace ndtest

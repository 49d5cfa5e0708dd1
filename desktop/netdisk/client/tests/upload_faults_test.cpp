// The upload engine where it used to lose data or space: a local file changed between stop
// and resume, the space of a deleted upload of this run; the scheduler's order; rows left by
// an interrupted run; names and sizes at their edges; a session renewed in the middle of a
// block.
#include "FaultFixture.h"
#include "protocol/SyncProtocolClient.h"
#include "testing/ChildProcess.h"

#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#include <utime.h>

#include <ctime>
#include <fstream>
#include <thread>

namespace ndtest {
namespace {

// A file rewritten at the same length between stop and resume (with or without a restart of
// the program in between; with its modification time in another second or in the same one):
// the booked block is not reused: every block goes again into the upload's own unfinished file
// on the server (no removal, no second create), and the upload ends with the new bytes.
TEST_F(FaultTest, ResumeOfAChangedFileStartsAgainFromTheFirstBlock) {
  for (bool restart : {false, true})
  for (bool sameSecond : {false, true}) {
    SCOPED_TRACE(restart ? "restart between stop and resume" : "same run");
    SCOPED_TRACE(sameSecond ? "rewritten within the same second" : "rewritten 100 s later");
    login(kAlice, "pw1");
    const std::string file = std::string(restart ? "r" : "s") + (sameSecond ? "1.bin" : "2.bin");
    const std::string local = home.write(file, pattern(kThreeBlocks, 21));
    setMtime(local, 1700000000, 100000000L);
    disk.failBlock(file, 1, 404);
    const std::string name = add(local);
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 8; }));
    barrier();
    EXPECT_EQ((std::vector<int>{0}), disk.blocksReceived(kAlice, name));

    const std::string fresh = pattern(kThreeBlocks, 22);
    rewriteInPlace(local, fresh, sameSecond);
    if (restart) {
      client->shutdown();
      login(kAlice, "pw1");
      barrier();
    }
    const int creates = disk.count(FakeNetDiskServer::CREATE);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    Event resumed;
    ASSERT_TRUE(listener.waitFor([&](const Event& e) { return e.op == "resume" && e.task.relpath == name; },
                                 &resumed, from));
    EXPECT_EQ(0, resumed.task.transferred);  // the row shows the start again
    ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
    EXPECT_TRUE(fresh == disk.fileBytes(kAlice, name)) << "the merged file is not the new bytes";
    EXPECT_EQ(creates, disk.count(FakeNetDiskServer::CREATE));
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(i == 0 ? 2 : 1, disk.sends(kAlice, name, i)) << i;
    client->shutdown();
  }
}

// A file that changes while its upload runs fails its next block with 4 even at the same
// length; its resume then starts again.
TEST_F(FaultTest, FileRewrittenAtTheSameLengthWhileUploadingStopsWithFour) {
  login(kAlice, "pw1");
  const std::string local = home.write("w.bin", pattern(kThreeBlocks, 23));
  disk.holdUploads(true);
  const std::string name = add(local);
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  const std::string fresh = pattern(kThreeBlocks, 24);
  rewriteInPlace(local, fresh);
  disk.holdUploads(false);
  disk.release(10);
  Event stopped;
  ASSERT_TRUE(listener.waitFor(
      [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; }, &stopped));
  EXPECT_EQ(4, stopped.error);
  EXPECT_EQ(0, disk.sends(kAlice, name, 1));
  size_t from = listener.size();
  client->resumeUploadTask(name);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_EQ(fresh, disk.fileBytes(kAlice, name));
}

// Space: an upload of this run that is deleted gives its space back at once.
TEST_F(FaultTest, DeletingAnUploadOfThisRunGivesItsSpaceBack) {
  disk.setQuota(1000000.0);
  login(kAlice, "pw1");
  const std::string first = add(home.write("six.bin", pattern(600000, 25)));
  ASSERT_TRUE(listener.waitState(first, UploadTaskStatus::FINISHED));
  size_t from = listener.size();
  client->deleteFile(first);
  Event deleted;
  ASSERT_TRUE(listener.waitOp("delete", &deleted, from));
  EXPECT_EQ(0, deleted.error);
  Event added;
  add(home.write("again.bin", pattern(600000, 26)), &added);
  EXPECT_EQ(0, added.error);
  EXPECT_EQ(1, added.task.state);
}

// The scheduler with one thread: a create or merge that waits is served before any block, and
// blocks go to the upload first in name order until all of its blocks are handed out.
TEST_F(FaultTest, OneThreadServesCreateAndMergeFirstThenBlocksInNameOrder) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  const std::string a = add(home.write("a.bin", pattern(kThreeBlocks, 27)));
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  const std::string b = add(home.write("b.bin", pattern(kBlock + 1, 28)));
  disk.holdUploads(false);
  disk.release(10);
  ASSERT_TRUE(listener.waitState(a, UploadTaskStatus::FINISHED));
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::FINISHED));
  EXPECT_EQ((std::vector<std::string>{"create a.bin", "block a.bin#0", "create b.bin", "block a.bin#1",
                                      "block a.bin#2", "merge a.bin", "block b.bin#0", "block b.bin#1",
                                      "merge b.bin"}),
            steps());
}

class TwoThreadTest : public FaultTest {
 protected:
  void configure() override { Config::instance()->setValue("VASTO", "maxThread", "2"); }
};

// With a thread free, the upload with fewer running block tasks gets it.
TEST_F(TwoThreadTest, FreeThreadGoesToTheUploadWithFewestRunningBlocks) {
  login(kAlice, "pw1");
  disk.holdUploads(true);
  const std::string a = add(home.write("a.bin", pattern(4 * kBlock, 29)));
  ASSERT_TRUE(disk.waitHeld(2, 10000));  // two blocks of a.bin
  const std::string b = add(home.write("b.bin", pattern(2 * kBlock, 30)));
  size_t from = listener.size();
  disk.release(1);  // one of a.bin's blocks ends: b.bin's create, then its first block
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::UPLOADING, nullptr, from));  // created
  ASSERT_TRUE(disk.waitHeld(2, 10000));
  EXPECT_EQ(2, disk.maxFilesInFlight());  // not a third block of a.bin
  disk.holdUploads(false);
  disk.release(100);
  ASSERT_TRUE(listener.waitState(a, UploadTaskStatus::FINISHED));
  ASSERT_TRUE(listener.waitState(b, UploadTaskStatus::FINISHED));
}

// Rows an earlier run left: a task row of status other than 0 whose file the listing no longer
// shows is deleted; block rows of a task never created on the server restart from create.
TEST_F(FaultTest, RowsOfAnEarlierRunAreTidiedOrRestartedFromCreate) {
  login(kAlice, "pw1");
  SyncDb db(LocalDb::instance());
  const std::string local = home.write("stray.bin", pattern(kBlock + 7, 31));
  std::string mtime;
  NetDiskClient::getLocalFileMtime(local, mtime);
  UpFileTaskRecord gone;
  gone.relpath = "gone.bin";
  gone.localFile = home.path() + "/gone.bin";
  gone.size = 10;
  gone.blockSize = kBlock;
  gone.status = 1;
  ASSERT_EQ(0, db.insertUpFileTask(gone));
  UpFileTaskRecord stray;
  stray.relpath = "stray.bin";
  stray.localFile = local;
  stray.size = kBlock + 7;
  stray.mtime = mtime;
  stray.blockSize = kBlock;
  stray.status = 0;
  ASSERT_EQ(0, db.insertUpFileTask(stray));
  UpBlockTaskRecord first;
  first.fileId = db.findUpFileTaskId("stray.bin", 0);
  first.blockIndex = 0;
  first.offset = 0;
  first.length = kBlock;
  ASSERT_EQ(0, db.insertUpBlockTasks(first, 2));

  Event tasks = barrier();
  ASSERT_EQ(1u, tasks.tasks.size());
  EXPECT_EQ("stray.bin", tasks.tasks[0].relpath);
  EXPECT_EQ(-1, db.findUpFileTaskId("gone.bin", 0));
  size_t from = listener.size();
  client->resumeUploadTask("stray.bin");
  ASSERT_TRUE(listener.waitState("stray.bin", UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_EQ(1, disk.count(FakeNetDiskServer::CREATE));
  EXPECT_EQ(pattern(kBlock + 7, 31), disk.fileBytes(kAlice, "stray.bin"));
}

// A finished file of the upload's name on the server (put there through the web page or from
// another computer) is never removed by a resume: neither for an upload of this run whose
// create failed, nor for a row an earlier run left before its create. The create refuses the
// name, the upload stops with that error and stays in the list; the server's file is unchanged.
TEST_F(FaultTest, ResumeNeverRemovesAFinishedFileOfTheSameName) {
  const std::string theirs = pattern(62, 36);
  for (bool earlierRun : {false, true}) {
    SCOPED_TRACE(earlierRun ? "row of an earlier run" : "upload of this run whose create failed");
    const std::string name = earlierRun ? "b.bin" : "a.bin";
    const std::string local = home.write(name, pattern(kThreeBlocks, 37));
    login(kAlice, "pw1");
    if (earlierRun) {
      SyncDb db(LocalDb::instance());
      insertEarlierRow(db, name, local, kThreeBlocks, 0, 0);
      barrier();
    } else {
      disk.failNext(FakeNetDiskServer::CREATE, 500);
      ASSERT_EQ(name, add(local));
      ASSERT_TRUE(listener.waitFor(
          [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 7; }));
      barrier();
    }
    disk.putFile(kAlice, name, theirs);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    Event stopped;
    EXPECT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.task.state == 0; }, &stopped,
        from));
    EXPECT_EQ(7, stopped.error);
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE));
    EXPECT_TRUE(disk.isComplete(kAlice, name));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == theirs);
    Event tasks = barrier();
    bool listed = false;
    for (const UploadTaskStatus& t : tasks.tasks) listed = listed || t.relpath == name;
    EXPECT_TRUE(listed) << "the local file is no longer queued";
    client->shutdown();
  }
}

// A listing answered 200 with a body that holds no folder is a failed listing, as a failed
// request is: the uploader dialog then does not ask for the upload list, the stopped upload
// keeps its record, and Start resumes it once a listing succeeded. A real empty folder stays an
// empty listing, whose upload list drops the record of a file the server no longer has.
TEST_F(FaultTest, AListingAnswerWithoutAFolderFailsAndUploadsKeepTheirRecords) {
  struct Case {
    const char* body;
    int listError;
  };
  const Case cases[] = {
      {"{}", 10},
      {"[]", 10},
      {"{\"name\":\"transit\",\"size\":3}", 10},
      {"{\"isFolder\":false,\"children\":[]}", 10},
      {"{\"isFolder\":true,\"path\":\"/alice@corp.com/transit\",\"name\":\"transit\",\"children\":[]}", 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    login(kAlice, "pw1");
    const std::string file = "e" + std::to_string(n++) + ".bin";
    const std::string bytes = pattern(kThreeBlocks, 47);
    disk.failBlock(file, 1, 404);
    const std::string name = add(home.write(file, bytes));
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 8; }));
    barrier();
    client->shutdown();

    disk.failNext(FakeNetDiskServer::LISTING, pwtest::HttpReply(200, c.body, "application/json"));
    ASSERT_GT(client->init(kAlice, "pw1"), 0);
    Event listed = listAndWait();
    EXPECT_EQ(c.listError, listed.error);
    EXPECT_TRUE(listed.files.empty());
    if (listed.error == 0) barrier();  // as the uploader dialog does after a listing
    // The dialog opened again: the server lists the folder in full.
    ASSERT_EQ(0, listAndWait().error);
    barrier();

    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    Event done;
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) {
          return e.op != "add" && e.task.relpath == name &&
                 (e.task.state == UploadTaskStatus::FINISHED || e.error != 0);
        },
        &done, from));
    if (c.listError != 0) {
      EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
      EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
    } else {
      EXPECT_EQ(NETDISK_ERR_NO_TASK, done.error);  // the record went with the file
    }
    client->shutdown();
  }
}

// The kept connections of the block uploads: closed at logout, and given up when the net-disk
// server changes (the first server is left with no connection of ours).
TEST_F(FaultTest, KeptConnectionsGoAtLogoutAndWhenTheServerChanges) {
  login(kAlice, "pw1");
  const std::string first = add(home.write("k1.bin", pattern(kThreeBlocks, 40)));
  ASSERT_TRUE(listener.waitState(first, UploadTaskStatus::FINISHED));
  ASSERT_TRUE(pollUntil([&] { return disk.http().openConnections() == 1; }));  // the kept one
  EXPECT_EQ(1u, CSyncProtocolUpLoadClient::idleConnections());
  CSyncProtocolUpLoadClient::dropIdleConnections();  // as at logout
  EXPECT_EQ(0u, CSyncProtocolUpLoadClient::idleConnections());
  EXPECT_TRUE(pollUntil([&] { return disk.http().openConnections() == 0; }));

  const std::string second = add(home.write("k2.bin", pattern(kThreeBlocks, 41)));
  ASSERT_TRUE(listener.waitState(second, UploadTaskStatus::FINISHED));
  ASSERT_TRUE(pollUntil([&] { return disk.http().openConnections() == 1; }));
  client->shutdown();
  pwtest::FakeNetDiskServer other(&sso);
  ASSERT_TRUE(other.isListening());
  Config::instance()->setValue("VASTO", "spaceServer", other.hostPort());
  clearCookies();
  login(kAlice, "pw1");
  const std::string third = add(home.write("k3.bin", pattern(kThreeBlocks, 42)));
  ASSERT_TRUE(listener.waitState(third, UploadTaskStatus::FINISHED));
  EXPECT_TRUE(pollUntil([&] { return disk.http().openConnections() == 0; })) << "a connection to the old server is kept";
  EXPECT_TRUE(pollUntil([&] { return other.http().openConnections() == 1; }));
  client->shutdown();
}

// A server that closes every connection after its answer, unannounced: a block that finds its
// kept connection dead is sent at most once more, and the file arrives whole.
TEST_F(FaultTest, KeptConnectionsTheServerClosedCostAtMostOneResendPerBlock) {
  disk.setDropKeptConnections(true);
  login(kAlice, "pw1");
  const std::string bytes = pattern(4 * kBlock + 3, 43);
  const std::string name = add(home.write("d.bin", bytes));
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED));
  EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
  for (int i = 0; i < 5; ++i) EXPECT_LE(disk.sends(kAlice, name, i), 2) << i;
}

// Names after the first copy, and a file of exactly two blocks.
TEST_F(FaultTest, CopyNamesCountOnAndAnExactBlockMultipleHasNoPartialBlock) {
  disk.putFile(kAlice, "n.bin", "x");
  disk.putFile(kAlice, "copyofn.bin", "y");
  disk.putFile(kAlice, "copyof1n.bin", "z");
  login(kAlice, "pw1");
  const std::string bytes = pattern(2 * kBlock, 32);
  const std::string name = add(home.write("n.bin", bytes));
  EXPECT_EQ("copyof2n.bin", name);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ((std::vector<int>{0, 1}), disk.blocksReceived(kAlice, name));
  EXPECT_EQ(1, disk.sends(kAlice, name, 1));
}

// A session lost in the middle of a block: the task rewinds, takes back the progress it had
// announced, and sends the whole block again after the new login.
TEST_F(FaultTest, SessionLostInTheMiddleOfABlockIsRenewedAndTheBlockResent) {
  login(kAlice, "pw1");
  const std::string bytes = pattern(kBlock, 33);
  const std::string local = home.write("s.bin", bytes);
  disk.failNext(FakeNetDiskServer::UPLOAD, pwtest::HttpReply::redirect(302, "http://127.0.0.1/casserver/login"), 1);
  const std::string name = add(local);
  Event done;
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, &done));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, name));
  EXPECT_EQ(static_cast<int64_t>(kBlock), done.task.transferred);
  // The progress of the first sending was announced (a whole block), then taken back.
  int64_t peak = 0;
  bool tookBack = false;
  for (const Event& e : listener.events()) {
    if (e.op != "status" || e.task.relpath != name || e.task.state != 1) continue;
    if (e.task.transferred < peak) tookBack = true;
    peak = std::max(peak, e.task.transferred);
    EXPECT_LE(e.task.transferred, static_cast<int64_t>(kBlock));
  }
  EXPECT_TRUE(tookBack);
  EXPECT_EQ(2, disk.count(FakeNetDiskServer::UPLOAD));
}

// A client killed with SIGKILL in the middle of an upload: after a restart the resume sends
// again at most the blocks that were in flight when it died, and the file arrives whole.
TEST_F(FaultTest, UploadKilledWithSigkillResendsOnlyTheBlocksInFlight) {
  const int kBlocks = 6;
  const std::string bytes = pattern(static_cast<size_t>(kBlocks) * kBlock - 99, 34);
  const std::string local = home.write("k.bin", bytes);
  disk.holdUploads(true);
  {
    pwtest::ChildProcess child(PW_UPLOAD_CHILD,
                               {disk.hostPort(), sso.hostPort(), kAlice, "pw1", local, "2"}, {}, {},
                               home.path() + "/child.log");
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(disk.waitHeld(2, 20000)) << child.log();  // blocks 0 and 1 in flight
    disk.release(2);
    // Two further blocks in flight: the child booked 0 and 1 before it started them.
    ASSERT_TRUE(pollUntil([&] { return disk.blocksReceived(kAlice, "k.bin").size() == 2u; }));
    ASSERT_TRUE(disk.waitHeld(2, 20000));
    ASSERT_EQ(0, kill(child.pid(), SIGKILL));
    child.waitExit(10000);
  }
  disk.holdUploads(false);
  disk.release(100);

  login(kAlice, "pw1");
  Event tasks = barrier();
  ASSERT_EQ(1u, tasks.tasks.size());
  EXPECT_EQ(2 * kBlock, tasks.tasks[0].transferred);
  size_t from = listener.size();
  client->resumeUploadTask("k.bin");
  ASSERT_TRUE(listener.waitState("k.bin", UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_EQ(bytes, disk.fileBytes(kAlice, "k.bin"));
  int resent = 0;
  for (int i = 0; i < kBlocks; ++i) {
    EXPECT_LE(disk.sends(kAlice, "k.bin", i), 2) << i;
    resent += disk.sends(kAlice, "k.bin", i) - 1;
  }
  EXPECT_EQ(1, disk.sends(kAlice, "k.bin", 0));
  EXPECT_EQ(1, disk.sends(kAlice, "k.bin", 1));
  EXPECT_LE(resent, 2);  // the two in flight at most
}

}  // namespace
}  // namespace ndtest

// What the content checks around a merge may conclude, and what they never do. A merged file is
// compared with the local file only where the server's listing gives evidence of its content (a
// "md5hash" of 32 hexadecimal digits, not all zeros); without it, or without a readable local
// file, the merge's own answer stands. A check that could not finish is made again by Start; a
// mixed file of this upload's own is removed before the upload starts anew, and a removal that
// failed is tried again; no upload is lost to a change of user, and a check ends promptly when
// the client stops.
#include "FaultFixture.h"

#include <chrono>

namespace ndtest {
namespace {

// Every form a listing may give as a merged file's "md5hash".
struct ListedForm {
  FakeNetDiskServer::ListedMd5 form;
  const char* what;
  bool evidence;  // whether it tells the content
};
const ListedForm kListedForms[] = {
    {FakeNetDiskServer::MD5_OF_CONTENT, "the content's MD5", true},
    {FakeNetDiskServer::MD5_UPPER_CASE, "the content's MD5 in upper case", true},
    {FakeNetDiskServer::MD5_AS_TOLD, "what the merge request carried (32 zeros)", false},
    {FakeNetDiskServer::MD5_EMPTY, "empty", false},
    {FakeNetDiskServer::MD5_PADDED, "the content's MD5 after a blank", false},
    {FakeNetDiskServer::MD5_MISSING, "no md5hash at all", false},
};

class ContentCheckTest : public FaultTest {
 protected:
  // A file of three blocks whose modification time is a whole second, as a FAT volume keeps it.
  std::string wholeSecondFile(const std::string& name, unsigned seed) {
    const std::string local = home.write(name, pattern(kThreeBlocks, seed));
    setMtime(local, 1700000000, 0);
    return local;
  }
  // Uploads it up to a failed second block (error 8): block 0 is on the server.
  std::string stopAfterFirstBlock(const std::string& local, const std::string& file) {
    disk.failBlock(file, 1, 404);
    const std::string name = add(local);
    EXPECT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 8; }));
    barrier();
    return name;
  }
  // Rewrites it at the same length within the same whole second: its time does not change.
  void rewriteWithinItsSecond(const std::string& local, const std::string& bytes) {
    home.write(local.substr(local.rfind('/') + 1), bytes);
    setMtime(local, 1700000000, 0);
  }
  // Start, and the upload's next stop or finish.
  Event start(const std::string& name) {
    size_t from = listener.size();
    EXPECT_GT(client->resumeUploadTask(name), 0);
    Event done;
    EXPECT_TRUE(waitEnded(name, &done, from));
    return done;
  }
  // Starts until the upload is finished, at most `times` Starts; the Starts it took, or -1.
  int startUntilFinished(const std::string& name, int times) {
    for (int i = 1; i <= times; ++i) {
      Event done = start(name);
      if (done.task.state == UploadTaskStatus::FINISHED) return i;
    }
    return -1;
  }
  // Whether the last listing offers the name as a finished file.
  bool offeredFinished(const std::string& name) {
    Event listed = listAndWait();
    for (const NetDiskFileItem& f : listed.files)
      if (f.name == name && f.nocomplete) return true;
    return false;
  }
  int rowStatus(const std::string& name) {
    UpFileTaskRecord row;
    if (SyncDb(LocalDb::instance()).getUpFileTask(name, row) != 0) return -1;
    return row.status;
  }
};

// A merge the server did but whose answer was lost, while the listing that would show it fails
// too: the upload stops with the merge error. Its resume merges again, the server refuses (the
// file is merged), and the listing shows the file finished at its length: the upload is
// finished, not failed. (A power loss that undoes the commit of a finished upload ends the
// same way.) A finished file of that name and length with other bytes (another version put
// there through the web page or from another computer) is not this upload: the refused merge
// stays error 9 and the server's file is left alone.
TEST_F(FaultTest, AMergeTheServerAlreadyDidEndsTheUploadFinished) {
  for (bool otherBytes : {false, true}) {
    SCOPED_TRACE(otherBytes ? "the listed file has other bytes" : "the listed file has the upload's bytes");
    login(kAlice, "pw1");
    const std::string bytes = pattern(kBlock + 5, 35);
    const std::string theirs = pattern(kBlock + 5, 39);
    disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
    disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(home.write(otherBytes ? "o.bin" : "m.bin", bytes));
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 9; }));
    ASSERT_TRUE(disk.isComplete(kAlice, name));
    if (otherBytes) disk.putFile(kAlice, name, theirs);
    barrier();
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done, from));
    EXPECT_EQ(otherBytes ? UploadTaskStatus::STOPPED : UploadTaskStatus::FINISHED, done.task.state)
        << "error " << done.error;
    EXPECT_EQ(otherBytes ? 9 : 0, done.error);
    EXPECT_EQ(merges + 1, disk.count(FakeNetDiskServer::MERGE));  // refused: merged already
    EXPECT_TRUE(disk.isComplete(kAlice, name));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == (otherBytes ? theirs : bytes));
    client->shutdown();
  }
}

// A file system that keeps whole seconds: a file rewritten at the same length between stop and
// resume keeps its modification time, and the merged file is made of old and new blocks. The
// content check after the merge tells: the upload stops with 4, the mixed file goes from the
// server, and Start sends the new content whole.
TEST_F(FaultTest, AWholeSecondFileRewrittenInItsSecondIsCaughtByItsContent) {
  login(kAlice, "pw1");
  const std::string local = home.write("t.bin", pattern(kThreeBlocks, 44));
  setMtime(local, 1700000000, 0);
  disk.failBlock("t.bin", 1, 404);
  const std::string name = add(local);
  ASSERT_TRUE(listener.waitFor(
      [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 8; }));
  barrier();
  const std::string fresh = pattern(kThreeBlocks, 45);
  home.write("t.bin", fresh);
  setMtime(local, 1700000000, 0);

  size_t from = listener.size();
  ASSERT_GT(client->resumeUploadTask(name), 0);
  Event stopped;
  ASSERT_TRUE(waitEnded(name, &stopped, from));
  EXPECT_EQ(UploadTaskStatus::STOPPED, stopped.task.state);
  EXPECT_EQ(4, stopped.error);
  EXPECT_FALSE(disk.hasFile(kAlice, name)) << "the mixed file stays on the server";

  from = listener.size();
  ASSERT_GT(client->resumeUploadTask(name), 0);
  ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
  EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(1, disk.sends(kAlice, name, i)) << i;  // of the file made anew
}

// The content check needs the listing: when it fails, the upload of a whole-second file is not
// reported finished but stops with 10, and Start confirms it, in this run or the next (whose
// upload list keeps the record though the server lists the file finished). A file whose time
// carries a fraction is not read again: no listing follows its merge.
TEST_F(FaultTest, OnlyAWholeSecondUploadIsConfirmedByContent) {
  for (int round = 0; round < 3; ++round) {
    const bool wholeSecond = round > 0, restart = round == 2;
    SCOPED_TRACE(!wholeSecond ? "time with a fraction"
                              : restart ? "whole second, the listing fails, the program restarts"
                                        : "whole second, the listing fails");
    login(kAlice, "pw1");
    const std::string bytes = pattern(kBlock + 9, 46);
    const std::string local = home.write("c" + std::to_string(round) + ".bin", bytes);
    setMtime(local, 1700000000, wholeSecond ? 0 : 500000000L);
    const int listings = disk.count(FakeNetDiskServer::LISTING);
    if (wholeSecond) disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(local);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
    if (!wholeSecond) {
      EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
      EXPECT_EQ(listings, disk.count(FakeNetDiskServer::LISTING));
      client->shutdown();
      continue;
    }
    EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
    EXPECT_EQ(10, done.error);
    if (restart) {
      client->shutdown();
      login(kAlice, "pw1");
      Event tasks = barrier();
      ASSERT_EQ(1u, tasks.tasks.size());
      EXPECT_EQ(name, tasks.tasks[0].relpath);
    }
    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    ASSERT_TRUE(listener.waitState(name, UploadTaskStatus::FINISHED, nullptr, from));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
    client->shutdown();
  }
}

// A correct upload ends finished whatever the listing gives as its MD5, after its own merge of
// a whole-second file and after a refused merge (its answer was lost), and a Start after that
// only reports it finished: no correct file is removed from the server. Only the content's MD5
// (in either case) is evidence; 32 zeros (what a server that stores the merge request's "md5"
// lists), an empty or padded text and a missing member tell nothing.
TEST_F(ContentCheckTest, ACorrectUploadEndsFinishedWhateverTheListingGivesAsItsMd5) {
  int n = 0;
  for (const ListedForm& form : kListedForms)
    for (bool refused : {false, true}) {
      SCOPED_TRACE(form.what);
      SCOPED_TRACE(refused ? "merge refused: its answer was lost before" : "the upload's own merge");
      disk.setListedMd5(form.form);
      login(kAlice, "pw1");
      const std::string file = "f" + std::to_string(n++) + ".bin";
      const std::string bytes = pattern(kBlock + 11, 50 + n);
      const std::string local = home.write(file, bytes);
      setMtime(local, 1700000000, 0);
      const int removes = disk.count(FakeNetDiskServer::REMOVE);
      if (refused) {
        disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
        disk.failNext(FakeNetDiskServer::LISTING, 500);
      }
      const std::string name = add(local);
      Event done;
      ASSERT_TRUE(waitEnded(name, &done));
      if (refused) {
        EXPECT_EQ(9, done.error);
        done = start(name);
      }
      EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
      EXPECT_EQ(UploadTaskStatus::FINISHED, start(name).task.state);
      EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE)) << "a correct file was removed";
      EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
      client->shutdown();
    }
  disk.setListedMd5(FakeNetDiskServer::MD5_OF_CONTENT);
}

// Nothing to compare the merged file with: the local file was deleted after its blocks went
// (after a refused merge, or before the check that Start makes again), or the listing answers
// without the file under its name. The merge's own answer stands: the upload ends finished.
TEST_F(ContentCheckTest, NothingToCompareWithLeavesTheMergesAnswer) {
  const pwtest::HttpReply emptyFolder(
      200, "{\"isFolder\":true,\"path\":\"/alice@corp.com/transit\",\"name\":\"transit\",\"children\":[]}",
      "application/json");
  enum Road { REFUSED_LOCAL_GONE, CHECK_AGAIN_LOCAL_GONE, NOT_LISTED };
  const struct {
    Road road;
    const char* what;
  } cases[] = {
      {REFUSED_LOCAL_GONE, "merge refused, local file gone"},
      {CHECK_AGAIN_LOCAL_GONE, "check made again by Start, local file gone"},
      {NOT_LISTED, "the listing does not show the merged file"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    login(kAlice, "pw1");
    const std::string bytes = pattern(kBlock + 13, 58);
    const std::string local = home.write("g" + std::to_string(n++) + ".bin", bytes);
    setMtime(local, 1700000000, 0);
    if (c.road == REFUSED_LOCAL_GONE) disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
    if (c.road == NOT_LISTED)
      disk.failNext(FakeNetDiskServer::LISTING, emptyFolder);
    else
      disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(local);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done));
    if (c.road != NOT_LISTED) {
      EXPECT_EQ(c.road == REFUSED_LOCAL_GONE ? 9 : 10, done.error);
      ASSERT_EQ(0, unlink(local.c_str()));
      done = start(name);
    }
    EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
    client->shutdown();
  }
}

// A check whose listing failed (10) is made again by Start, in the same run and after a restart
// of the program: it finds the upload's own mixed file (a rewrite within the file's whole
// second), removes it and stops with 4; the next Start sends the new content whole.
TEST_F(ContentCheckTest, ACheckThatCouldNotFinishIsMadeAgainByStart) {
  for (bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "the program restarts after the failed check" : "same run");
    login(kAlice, "pw1");
    const std::string file = restart ? "h1.bin" : "h2.bin";
    const std::string local = wholeSecondFile(file, 60);
    const std::string name = stopAfterFirstBlock(local, file);
    const std::string fresh = pattern(kThreeBlocks, 61);
    rewriteWithinItsSecond(local, fresh);
    disk.failNext(FakeNetDiskServer::LISTING, 500);
    Event done = start(name);
    EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
    EXPECT_EQ(10, done.error);
    EXPECT_TRUE(disk.isComplete(kAlice, name));  // merged, not yet checked
    if (restart) {
      client->shutdown();
      login(kAlice, "pw1");
      size_t from = listener.size();
      barrier();
      // The upload list says why it stopped.
      EXPECT_TRUE(listener.waitFor(
          [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 10; }, nullptr,
          from));
    }
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    done = start(name);
    EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
    EXPECT_EQ(4, done.error);
    EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE)) << "merged again instead of checked";
    EXPECT_FALSE(disk.hasFile(kAlice, name)) << "the mixed file stays on the server";
    done = start(name);
    EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(1, disk.sends(kAlice, name, i)) << i;
    client->shutdown();
  }
}

class RemovalTest : public ContentCheckTest {
 protected:
  void configure() override {
    ContentCheckTest::configure();
    Config::instance()->setValue("VASTO", "httpTimeout", "2");
  }
};

// The check finds the upload's own mixed file and its removal fails (refused, or answered after
// the time-out): the file is not offered as finished, and until it is removed the record says
// so: a Start removes it first and sends the file anew, a deletion of the upload removes it.
TEST_F(RemovalTest, AMixedFileWhoseRemovalFailedGoesAtTheNextStartOrWithItsUpload) {
  pwtest::HttpReply late(200, "{}");
  late.delayMs = 4000;
  struct Case {
    const char* what;
    pwtest::HttpReply reply;
    bool deleteUpload;
  };
  const Case cases[] = {
      {"removal refused with 500, then Start", pwtest::HttpReply(500, "{}"), false},
      {"removal answered after the time-out, then Start", late, false},
      {"removal refused with 500, then the upload is deleted", pwtest::HttpReply(500, "{}"), true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    login(kAlice, "pw1");
    const std::string file = "x" + std::to_string(n++) + ".bin";
    const std::string local = wholeSecondFile(file, 62);
    const std::string name = stopAfterFirstBlock(local, file);
    const std::string fresh = pattern(kThreeBlocks, 63);
    rewriteWithinItsSecond(local, fresh);
    disk.failNext(FakeNetDiskServer::REMOVE, c.reply);
    Event done = start(name);
    EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
    EXPECT_EQ(4, done.error);
    ASSERT_TRUE(disk.isComplete(kAlice, name));  // the mixed file, not removed
    EXPECT_FALSE(offeredFinished(name)) << "the mixed file is offered as a finished file";
    barrier();
    if (c.deleteUpload) {
      size_t from = listener.size();
      ASSERT_GT(client->deleteFile(name), 0);
      Event deleted;
      ASSERT_TRUE(listener.waitOp("delete", &deleted, from));
      EXPECT_EQ(0, deleted.error);
      EXPECT_FALSE(disk.hasFile(kAlice, name)) << "the mixed file stays on the server";
      for (const UploadTaskStatus& t : barrier().tasks) EXPECT_NE(name, t.relpath);
    } else {
      EXPECT_GT(startUntilFinished(name, 3), 0) << "not finished within three Starts";
      EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
    }
    client->shutdown();
  }
}

// Another user logs in while the check waits for its listing (answered three seconds late); the
// first user logs in again: the upload is still there, and Start brings it to its end with the
// new bytes.
TEST_F(ContentCheckTest, AChangeOfUserDuringTheCheckLosesNoUpload) {
  login(kAlice, "pw1");
  const std::string local = wholeSecondFile("y.bin", 64);
  const std::string name = stopAfterFirstBlock(local, "y.bin");
  const std::string fresh = pattern(kThreeBlocks, 65);
  rewriteWithinItsSecond(local, fresh);
  disk.delayAnswer(FakeNetDiskServer::LISTING, 3000);
  const int listings = disk.count(FakeNetDiskServer::LISTING);
  ASSERT_GT(client->resumeUploadTask(name), 0);
  ASSERT_TRUE(pollUntil([&] { return disk.count(FakeNetDiskServer::LISTING) > listings; }));
  const auto asked = std::chrono::steady_clock::now();
  login(kBob, "pw2");
  barrier();
  // The listing comes three seconds after it was asked for; the check's result then arrives as
  // the previous user's.
  std::this_thread::sleep_until(asked + std::chrono::milliseconds(4000));
  barrier();

  login(kAlice, "pw1");
  bool listed = false;
  for (const UploadTaskStatus& t : barrier().tasks) listed = listed || t.relpath == name;
  ASSERT_TRUE(listed) << "the upload vanished";
  EXPECT_GT(startUntilFinished(name, 3), 0) << "not finished within three Starts";
  EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
}

// The client stops (program exit) while a check reads a large local file for its MD5: the read
// ends between pieces and shutdown returns within a second; the check was not finished, so the
// next Start checks again (lists and reads; it does not merge).
TEST_F(ContentCheckTest, ShutdownDuringTheCheckOfALargeFileReturnsPromptly) {
  const int64_t size = 1900000000;  // sparse: no space is taken
  const std::string local = home.path() + "/big.bin";
  {
    int fd = open(local.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, size));
    close(fd);
  }
  setMtime(local, 1700000000, 0);
  disk.setQuota(4e9);
  disk.putListedFile(kAlice, "big.bin", size, "0123456789abcdef0123456789abcdef");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "the check after a failed one" : "the check again after the stop");
    login(kAlice, "pw1");
    if (round == 0) {
      // Merged by this upload, its check still to be made (its listing failed before).
      SyncDb db(LocalDb::instance());
      insertEarlierRow(db, "big.bin", local, size, size, 2);
    }
    bool listed = false;
    for (const UploadTaskStatus& t : barrier().tasks) listed = listed || t.relpath == "big.bin";
    ASSERT_TRUE(listed);
    const int listings = disk.count(FakeNetDiskServer::LISTING);
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    ASSERT_GT(client->resumeUploadTask("big.bin"), 0);
    ASSERT_TRUE(pollUntil([&] { return disk.count(FakeNetDiskServer::LISTING) > listings; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the read has begun
    const auto stopAt = std::chrono::steady_clock::now();
    client->shutdown();
    const auto took = std::chrono::steady_clock::now() - stopAt;
    EXPECT_LT(took, std::chrono::seconds(1))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE)) << "merged again instead of checked";
  }
}

}  // namespace
}  // namespace ndtest

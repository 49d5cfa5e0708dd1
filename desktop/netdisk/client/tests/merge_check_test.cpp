// The merge step and what it may conclude. An upload whose modification time is in whole
// seconds keeps a digest of its confirmed blocks, and its merge step reads the local file again
// before it merges: a rewrite at the same length within that second stops the upload with 4
// before anything is merged, and the next Start sends the file whole. After a refused merge the
// listing decides. Nothing here removes a server file the user did not ask to delete, and the
// client's shutdown waits for no request.
#include "FaultFixture.h"
#include "client/NetDiskUploadTask.h"
#include "log/IM_LogManager.h"

#include <chrono>

namespace ndtest {
namespace {

// Every form a listing may give as a merged file's "md5hash".
struct ListedForm {
  FakeNetDiskServer::ListedMd5 form;
  const char* what;
};
const ListedForm kListedForms[] = {
    {FakeNetDiskServer::MD5_OF_CONTENT, "the content's MD5"},
    {FakeNetDiskServer::MD5_UPPER_CASE, "the content's MD5 in upper case"},
    {FakeNetDiskServer::MD5_AS_TOLD, "what the merge request carried (32 zeros)"},
    {FakeNetDiskServer::MD5_EMPTY, "empty"},
    {FakeNetDiskServer::MD5_PADDED, "the content's MD5 after a blank"},
    {FakeNetDiskServer::MD5_MISSING, "no md5hash at all"},
};

const time_t kWholeSecond = 1700000000;

class MergeCheckTest : public FaultTest {
 protected:
  // A file of three blocks whose modification time is a whole second, as a FAT volume keeps it.
  std::string wholeSecondFile(const std::string& name, unsigned seed) {
    const std::string local = home.write(name, pattern(kThreeBlocks, seed));
    setMtime(local, kWholeSecond, 0);
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
    setMtime(local, kWholeSecond, 0);
  }
  // The digest of the bytes cut into blocks, as the upload books it.
  static std::string digestOf(const std::string& bytes) {
    std::string digest;
    for (size_t at = 0, i = 0; at < bytes.size(); at += kBlock, ++i)
      digest = BlockDigest::add(digest, static_cast<int>(i), FakeNetDiskServer::md5Hex(bytes.substr(at, kBlock)));
    return digest;
  }
};

// A merge the server did but whose answer was lost, while the listing that would show it fails
// too: the upload stops with the merge error. Its resume merges again, the server refuses (the
// file is merged), and the listing shows the file finished at its length: the upload is
// finished, not failed. (A power loss that undoes the commit of a finished upload ends the
// same way.) A finished file of that name and length with other bytes (another version put
// there through the web page or from another computer) is not this upload: the refused merge
// stays error 9 and the server's file is left alone. Nor is a file the listing no longer shows:
// an upload whose server file is gone is never reported finished.
TEST_F(FaultTest, AMergeTheServerAlreadyDidEndsTheUploadFinished) {
  enum Listed { OWN_BYTES, OTHER_BYTES, GONE };
  const struct {
    Listed listed;
    const char* what;
  } cases[] = {
      {OWN_BYTES, "the listed file has the upload's bytes"},
      {OTHER_BYTES, "the listed file has other bytes"},
      {GONE, "the merged file was deleted on the server meanwhile"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    login(kAlice, "pw1");
    const std::string bytes = pattern(kBlock + 5, 35);
    const std::string theirs = pattern(kBlock + 5, 39);
    disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
    disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(home.write("m" + std::to_string(n++) + ".bin", bytes));
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 9; }));
    ASSERT_TRUE(disk.isComplete(kAlice, name));
    if (c.listed == OTHER_BYTES) disk.putFile(kAlice, name, theirs);
    if (c.listed == GONE) disk.removeFile(kAlice, name);
    barrier();
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    size_t from = listener.size();
    ASSERT_GT(client->resumeUploadTask(name), 0);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done, from));
    EXPECT_EQ(c.listed == OWN_BYTES ? UploadTaskStatus::FINISHED : UploadTaskStatus::STOPPED, done.task.state)
        << "error " << done.error;
    EXPECT_EQ(c.listed == OWN_BYTES ? 0 : 9, done.error);
    EXPECT_EQ(merges + 1, disk.count(FakeNetDiskServer::MERGE));
    if (c.listed == GONE) {
      EXPECT_FALSE(disk.hasFile(kAlice, name));
    } else {
      EXPECT_TRUE(disk.isComplete(kAlice, name));
      EXPECT_TRUE(disk.fileBytes(kAlice, name) == (c.listed == OTHER_BYTES ? theirs : bytes));
    }
    client->shutdown();
  }
}

// A whole-second file rewritten at the same length within its second: after block 0 and a
// Start, after the last block and before the merge, and after block 0 with a restart of the
// program before the Start. Each stops with 4 before any merge and without removing anything;
// the next Start sends the file whole into the upload's own file and ends finished with exactly
// the new bytes.
TEST_F(MergeCheckTest, AWholeSecondRewriteStopsTheUploadBeforeAnyMerge) {
  enum When { AFTER_FIRST_BLOCK, AFTER_LAST_BLOCK, AFTER_FIRST_BLOCK_AND_RESTART };
  const struct {
    When when;
    const char* what;
  } cases[] = {
      {AFTER_FIRST_BLOCK, "after block 0, then Start"},
      {AFTER_LAST_BLOCK, "after the last block, before the merge"},
      {AFTER_FIRST_BLOCK_AND_RESTART, "after block 0, a restart, then Start"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    login(kAlice, "pw1");
    const std::string file = "x" + std::to_string(n++) + ".bin";
    const std::string local = wholeSecondFile(file, 60 + n);
    const std::string fresh = pattern(kThreeBlocks, 70 + n);
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    std::string name;
    Event stopped;
    if (c.when == AFTER_LAST_BLOCK) {
      // The last block waits on the server after its bytes were read; the file changes then.
      disk.holdUploads(true);
      name = add(local);
      ASSERT_TRUE(disk.waitHeld(1, 10000));
      disk.release(2);
      ASSERT_TRUE(pollUntil([&] { return disk.blocksReceived(kAlice, name).size() == 2; }));
      ASSERT_TRUE(disk.waitHeld(1, 10000));
      rewriteWithinItsSecond(local, fresh);
      disk.holdUploads(false);
      disk.release(10);
      ASSERT_TRUE(waitEnded(name, &stopped));
    } else {
      name = stopAfterFirstBlock(local, file);
      EXPECT_EQ(digestOf(pattern(kThreeBlocks, 60 + n).substr(0, kBlock)), record(name).md5);
      rewriteWithinItsSecond(local, fresh);
      if (c.when == AFTER_FIRST_BLOCK_AND_RESTART) {
        client->shutdown();
        login(kAlice, "pw1");
        barrier();
      }
      stopped = start(name);
    }
    EXPECT_EQ(UploadTaskStatus::STOPPED, stopped.task.state);
    EXPECT_EQ(4, stopped.error);
    EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE)) << "merged a file that changed";
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE));
    // The server keeps the upload's own file: every block goes into it again.
    EXPECT_EQ(UPTASK_CREATED, record(name).status);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), blockRows(name));
    EXPECT_EQ("", record(name).md5);

    Event done = start(name);
    EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
    EXPECT_TRUE(disk.isComplete(kAlice, name));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
    client->shutdown();
  }
}

// The digest is kept for a whole-second upload only, booked once per block in any order (two
// threads confirm blocks out of order), and survives a restart; an upload whose time carries a
// fraction keeps none and is not read again before its merge.
TEST_F(MergeCheckTest, OnlyAWholeSecondUploadKeepsADigestAndIsReadAgain) {
  Config::instance()->setValue("VASTO", "maxThread", "3");
  for (bool wholeSecond : {true, false}) {
    SCOPED_TRACE(wholeSecond ? "whole second" : "a fraction of a second");
    client->shutdown();
    login(kAlice, "pw1");
    const std::string file = wholeSecond ? "d1.bin" : "d2.bin";
    const std::string bytes = pattern(kThreeBlocks + kBlock, wholeSecond ? 81 : 82);
    const std::string local = home.write(file, bytes);
    setMtime(local, kWholeSecond, wholeSecond ? 0 : 250000000L);
    disk.failBlock(file, 3, 404);
    const std::string name = add(local);
    ASSERT_TRUE(listener.waitFor(
        [&](const Event& e) { return e.op == "status" && e.task.relpath == name && e.error == 8; }));
    // The blocks that were running when block 3 failed are booked as they end.
    ASSERT_TRUE(pollUntil([&] { return record(name).xferSize == 3 * kBlock; }));
    EXPECT_EQ(wholeSecond ? digestOf(bytes.substr(0, 3 * kBlock)) : "", record(name).md5);
    client->shutdown();
    login(kAlice, "pw1");
    barrier();
    IM_LogCapture log;
    EXPECT_EQ(UploadTaskStatus::FINISHED, start(name).task.state);
    EXPECT_EQ(wholeSecond, log.contains("reading the local file again")) << "fileName = " << name;
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
  }
}

// A merge the server did but whose answer was lost: the local file of a whole-second upload is
// read again before the merge is asked for again (the file is gone: 4, nothing merged, nothing
// removed); with a time that carries a fraction the refused merge and the listing decide, and
// with no local file to compare the listed file with, the listing's finished file at the
// upload's length stands.
TEST_F(MergeCheckTest, ALocalFileGoneBeforeTheMergeIsAskedAgain) {
  for (bool wholeSecond : {true, false}) {
    SCOPED_TRACE(wholeSecond ? "whole second" : "a fraction of a second");
    login(kAlice, "pw1");
    const std::string bytes = pattern(kBlock + 13, 58);
    const std::string local = home.write(wholeSecond ? "g1.bin" : "g2.bin", bytes);
    setMtime(local, kWholeSecond, wholeSecond ? 0 : 500000000L);
    disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
    disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(local);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done));
    EXPECT_EQ(9, done.error);
    ASSERT_EQ(0, unlink(local.c_str()));
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    done = start(name);
    if (wholeSecond) {
      EXPECT_EQ(4, done.error);
      EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE));
    } else {
      EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
    }
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes);
    client->shutdown();
  }
}

// A file of the upload's name on the server that the upload did not make (put there through
// the web pages or from another computer) is never removed: not by Start, and not by deleting
// the upload while its record says the server holds nothing of it. Either for an upload whose
// create was refused (the file was put there after the listing), or for a record an earlier
// run left before its create.
TEST_F(MergeCheckTest, AServerFileTheUploadDidNotMakeIsNeverRemoved) {
  for (bool refusedCreate : {true, false}) {
    SCOPED_TRACE(refusedCreate ? "after a refused create" : "a record of an earlier run");
    login(kAlice, "pw1");
    const std::string file = refusedCreate ? "k1.bin" : "k2.bin";
    const std::string local = wholeSecondFile(file, refusedCreate ? 91 : 92);
    const std::string theirs = pattern(kBlock + 77, 93);
    disk.putFile(kAlice, file, theirs);  // after the listing
    std::string name = file;
    if (refusedCreate) {
      name = add(local);
      Event stopped;
      ASSERT_TRUE(waitEnded(name, &stopped));
      EXPECT_EQ(7, stopped.error);
    } else {
      SyncDb db(LocalDb::instance());
      insertEarlierRow(db, name, local, kThreeBlocks, 0, UPTASK_NEW);
      barrier();
    }
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    Event done = start(name);
    EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
    EXPECT_EQ(7, done.error);  // the create refuses the name
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == theirs);

    size_t from = listener.size();
    ASSERT_GT(client->deleteFile(name), 0);
    Event deleted;
    ASSERT_TRUE(listener.waitFor([&](const Event& e) { return e.op == "delete" && e.name == name; }, &deleted, from));
    EXPECT_EQ(0, deleted.error);
    EXPECT_EQ(-1, record(name).status) << "the upload stayed";
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE)) << "a removal was sent";
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == theirs);
    client->shutdown();
  }
}

// Exit while a step or the listing waits for the server, answered late (5 s) or never (past
// the client's time-out): shutdown stops the request and returns promptly, every record stays
// as booked, and at the next login Start takes the upload to its end with the local file whole
// on the server (a block that was out is sent again; a merge that was out is confirmed by the
// refused merge and the listing); a create that was out proves nothing and removes nothing.
// Also while the merge step reads a large whole-second file again.
TEST_F(MergeCheckTest, ShutdownWaitsForNoRequest) {
  enum Out { CREATE, BLOCK, MERGE, LISTING, LOCAL_READ };
  const struct {
    Out out;
    const char* endpoint;
    const char* what;
  } cases[] = {
      {CREATE, FakeNetDiskServer::CREATE, "a create"},
      {BLOCK, FakeNetDiskServer::UPLOAD, "a block"},
      {MERGE, FakeNetDiskServer::MERGE, "the merge"},
      {LISTING, FakeNetDiskServer::LISTING, "a listing"},
      {LOCAL_READ, "", "the merge step's read of a large local file"},
  };
  disk.setQuota(4e9);  // room for the large file
  int n = 0;
  for (const auto& c : cases)
    for (int delayMs : {5000, 60000}) {
      if (c.out == LOCAL_READ && delayMs != 5000) continue;
      SCOPED_TRACE(c.what);
      SCOPED_TRACE(delayMs == 5000 ? "answered late" : "never answered");
      const std::string file = "q" + std::to_string(n++) + ".bin";
      const int64_t largeSize = 1900000000;  // sparse: no space is taken
      // Every block stored, the merge not yet asked for: the server lists the file unfinished.
      if (c.out == LOCAL_READ) disk.putListedFile(kAlice, file, largeSize, "", false);
      login(kAlice, "pw1");
      std::string bytes;
      std::string local;
      if (c.out == LOCAL_READ) {
        local = home.path() + "/" + file;
        int fd = open(local.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, largeSize));
        close(fd);
        setMtime(local, kWholeSecond, 0);
        // Every block confirmed: the merge step is next.
        SyncDb db(LocalDb::instance());
        insertEarlierRow(db, file, local, largeSize, largeSize, UPTASK_CREATED);
        barrier();
      } else {
        bytes = pattern(kThreeBlocks, 100 + n);
        local = home.write(file, bytes);
      }
      std::string name = file;
      IM_LogCapture log;
      const int before = c.out == LOCAL_READ ? 0 : disk.count(c.endpoint);
      const int merges = disk.count(FakeNetDiskServer::MERGE);
      if (c.out == LISTING) {
        // Stopped after its first block; then the file list is asked for.
        name = stopAfterFirstBlock(local, file);
        const int listings = disk.count(c.endpoint);
        disk.delayAnswer(c.endpoint, delayMs);
        ASSERT_GT(client->listFile(), 0);
        ASSERT_TRUE(pollUntil([&] { return disk.count(c.endpoint) > listings; }));
      } else if (c.out == LOCAL_READ) {
        ASSERT_GT(client->resumeUploadTask(name), 0);
        ASSERT_TRUE(pollUntil([&] { return log.contains("reading the local file again"); }));
      } else {
        disk.delayAnswer(c.endpoint, delayMs);
        name = add(local);
        ASSERT_TRUE(pollUntil([&] { return disk.count(c.endpoint) > before; }));
      }
      const auto stopAt = std::chrono::steady_clock::now();
      client->shutdown();
      const auto took = std::chrono::steady_clock::now() - stopAt;
      EXPECT_LT(took, std::chrono::seconds(2))
          << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
      if (c.out == LOCAL_READ) {
        EXPECT_EQ(UPTASK_CREATED, record(name).status);
        EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE));
        continue;
      }
      login(kAlice, "pw1");
      bool listed = false;
      for (const UploadTaskStatus& t : barrier().tasks) listed = listed || t.relpath == name;
      ASSERT_TRUE(listed) << "the upload vanished";
      if (c.out == CREATE) {
        // The server made the file, but no answer says so: the name may as well hold another
        // client's file, so Start removes nothing and stops with the refusal of the taken name;
        // deleting the upload sends no removal either, and the file stays for the user to delete.
        const int removes = disk.count(FakeNetDiskServer::REMOVE);
        Event refused = start(name);
        EXPECT_EQ(NETDISK_ERR_CREATE_FAILED, refused.error);
        EXPECT_EQ(UPTASK_NEW, record(name).status);
        size_t from = listener.size();
        ASSERT_GT(client->deleteFile(name), 0);
        ASSERT_TRUE(listener.waitFor([&](const Event& e) { return e.op == "delete" && e.name == name; }, nullptr, from));
        EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE)) << "a removal was sent";
        EXPECT_FALSE(disk.isComplete(kAlice, name));
        EXPECT_TRUE(disk.hasFile(kAlice, name)) << "the file the create made is gone";
        client->shutdown();
        continue;
      }
      Event done = start(name);
      EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
      EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes) << "the file on the server is not the local file";
      client->shutdown();
    }
}

// A correct upload ends finished whatever the listing gives as its MD5, after its own merge of
// a whole-second file and after a refused merge (its answer was lost), and a Start after that
// only reports it finished: no correct file is removed from the server. Only the content's MD5
// (in either case) is evidence; 32 zeros (what a server that stores the merge request's "md5"
// lists), an empty or padded text and a missing member tell nothing.
TEST_F(MergeCheckTest, ACorrectUploadEndsFinishedWhateverTheListingGivesAsItsMd5) {
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

}  // namespace
}  // namespace ndtest

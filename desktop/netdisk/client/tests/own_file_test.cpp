// What an upload's record proves of the server: a file of the upload's name that the upload
// did not create is never removed nor sent blocks; the upload's own unfinished file is kept
// across a changed local file (blocks go into it again at the same length) and removed when the
// user deletes the upload; a kept record of a merge whose answer was lost ends finished; and the
// space held for uploads is given back exactly.
#include "FaultFixture.h"

#include <fcntl.h>
#include <unistd.h>

namespace ndtest {
namespace {

const time_t kWholeSecond = 1700000000;

class OwnFileTest : public FaultTest {
 protected:
  std::string wholeSecondFile(const std::string& name, const std::string& bytes) {
    const std::string local = home.write(name, bytes);
    setMtime(local, kWholeSecond, 0);
    return local;
  }
  // Adds the whole-second file and, while its last block waits on the server after its bytes
  // were read, lets `change` change the local file; the merge step's check then finds it.
  Event changeWhileTheLastBlockIsOut(const std::string& local, const std::function<void()>& change,
                                     std::string& name) {
    disk.holdUploads(true);
    name = add(local);
    EXPECT_TRUE(disk.waitHeld(1, 10000));
    disk.release(2);
    EXPECT_TRUE(pollUntil([&] { return disk.blocksReceived(kAlice, name).size() == 2; }));
    EXPECT_TRUE(disk.waitHeld(1, 10000));
    change();
    disk.holdUploads(false);
    disk.release(10);
    Event stopped;
    EXPECT_TRUE(waitEnded(name, &stopped));
    return stopped;
  }
  Event deleteUpload(const std::string& name) {
    size_t from = listener.size();
    EXPECT_GT(client->deleteFile(name), 0);
    Event deleted;
    EXPECT_TRUE(listener.waitFor([&](const Event& e) { return e.op == "delete" && e.name == name; }, &deleted, from));
    return deleted;
  }
  static const NetDiskFileItem* listed(const Event& listing, const std::string& name) {
    for (const NetDiskFileItem& f : listing.files)
      if (f.name == name) return &f;
    return nullptr;
  }
  static void resize(const std::string& path, int64_t size) {
    ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(size)));
    setMtime(path, kWholeSecond, 0);
  }
};

// Another computer of the same user created `shared.bin` and stored its block 0 after this
// client's listing. This client's upload of its own `shared.bin` is refused at its create (7),
// and again at every Start; the other client's file is never removed and takes none of this
// upload's blocks, whether its length is the upload's or not, and also when the answer to the
// first create never came (the connection dropped: that create proves nothing either).
// Deleting the upload sends no removal.
TEST_F(OwnFileTest, AnotherClientsUnfinishedFileIsNeverRemovedNorSentBlocks) {
  const struct {
    bool sameLength;
    bool answerLost;
    const char* what;
  } cases[] = {
      {true, false, "the other file has the upload's length"},
      {false, false, "the other file has another length"},
      {true, true, "the other file has the upload's length, the create's answer lost"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool sameLength = c.sameLength;
    login(kAlice, "pw1");
    const std::string file = "shared" + std::to_string(n++) + ".bin";
    const std::string theirs = pattern(sameLength ? kThreeBlocks : kThreeBlocks + kBlock, 10 + n);
    const std::string local = home.write(file, pattern(kThreeBlocks, 20 + n));
    disk.putUnfinishedFile(kAlice, file, theirs, 1);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    const int uploads = disk.count(FakeNetDiskServer::UPLOAD);
    if (c.answerLost) {
      pwtest::HttpReply dropped;
      dropped.drop = true;
      disk.failNext(FakeNetDiskServer::CREATE, dropped);
    }
    const std::string name = add(local);
    ASSERT_EQ(file, name);  // the listing predates the other client's create
    Event done;
    ASSERT_TRUE(waitEnded(name, &done));
    EXPECT_EQ(7, done.error);
    for (int i = 0; i < 2; ++i) {
      done = start(name);
      EXPECT_EQ(UploadTaskStatus::STOPPED, done.task.state);
      EXPECT_EQ(7, done.error);
    }
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE)) << "a removal was sent";
    EXPECT_EQ(uploads, disk.count(FakeNetDiskServer::UPLOAD)) << "a block was sent";
    EXPECT_EQ(std::vector<int>{0}, disk.blocksReceived(kAlice, name));
    const Event listing = listAndWait();
    const NetDiskFileItem* f = listed(listing, name);
    ASSERT_NE(nullptr, f) << "the other client's file is gone";
    EXPECT_FALSE(f->nocomplete);
    EXPECT_EQ(static_cast<int64_t>(theirs.size()), f->size);

    EXPECT_EQ(0, deleteUpload(name).error);
    EXPECT_EQ(-1, record(name).status);
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE)) << "a removal was sent";
    EXPECT_TRUE(disk.hasFile(kAlice, name));
    client->shutdown();
  }
}

// A record of a merge the server did but whose answer was lost (created, every block confirmed,
// the file listed finished at the upload's length) ends finished at Start, whatever became of
// the local file since and however much of the quota the file takes: nothing is read, created,
// sent, merged or removed, the server's file keeps the bytes that were verified, and its link
// can be had.
TEST_F(OwnFileTest, AKeptRecordOfAMergeWhoseAnswerWasLostEndsFinished) {
  enum Road { REWRITTEN, DELETED, EDITED, HALF_QUOTA };
  const struct {
    Road road;
    const char* what;
  } cases[] = {
      {REWRITTEN, "a whole-second file rewritten within its second"},
      {DELETED, "a whole-second file deleted"},
      {EDITED, "a file whose time carries a fraction, edited"},
      {HALF_QUOTA, "a file that takes more than half the quota"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.road == HALF_QUOTA) disk.setQuota(1.5 * kThreeBlocks);
    login(kAlice, "pw1");
    const std::string file = "kept" + std::to_string(n++) + ".bin";
    const std::string bytes = pattern(kThreeBlocks, 30 + n);
    const std::string local = home.write(file, bytes);
    setMtime(local, kWholeSecond, c.road == EDITED ? 250000000L : 0);
    disk.loseAnswer(FakeNetDiskServer::MERGE, 500);
    disk.failNext(FakeNetDiskServer::LISTING, 500);
    const std::string name = add(local);
    Event done;
    ASSERT_TRUE(waitEnded(name, &done));
    ASSERT_EQ(9, done.error);
    ASSERT_TRUE(disk.isComplete(kAlice, name));
    listAndWait();  // shows it finished at the upload's length
    bool kept = false;
    for (const UploadTaskStatus& t : barrier().tasks) kept = kept || t.relpath == name;
    ASSERT_TRUE(kept);
    if (c.road == REWRITTEN) {
      home.write(file, pattern(kThreeBlocks, 40 + n));
      setMtime(local, kWholeSecond, 0);
    } else if (c.road == DELETED) {
      ASSERT_EQ(0, unlink(local.c_str()));
    } else if (c.road == EDITED) {
      rewriteInPlace(local, pattern(kThreeBlocks, 40 + n));
    }
    const std::vector<pwtest::HttpRequestRecord> before = disk.requests();
    const int merges = disk.count(FakeNetDiskServer::MERGE);
    const int creates = disk.count(FakeNetDiskServer::CREATE);
    const int removes = disk.count(FakeNetDiskServer::REMOVE);
    const int uploads = disk.count(FakeNetDiskServer::UPLOAD);
    done = start(name);
    EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
    EXPECT_EQ(0, done.error);
    EXPECT_EQ(-1, record(name).status);
    EXPECT_EQ(merges, disk.count(FakeNetDiskServer::MERGE));
    EXPECT_EQ(creates, disk.count(FakeNetDiskServer::CREATE));
    EXPECT_EQ(removes, disk.count(FakeNetDiskServer::REMOVE));
    EXPECT_EQ(uploads, disk.count(FakeNetDiskServer::UPLOAD));
    EXPECT_TRUE(disk.fileBytes(kAlice, name) == bytes) << "the server's file is not the verified bytes";
    EXPECT_EQ(UploadTaskStatus::FINISHED, start(name).task.state);

    size_t from = listener.size();
    ASSERT_GT(client->getDownloadUrl(std::vector<std::string>{name}), 0);
    Event links;
    ASSERT_TRUE(listener.waitOp("links", &links, from));
    EXPECT_FALSE(links.links[name].empty()) << "no link to insert";
    client->shutdown();
    disk.removeFile(kAlice, name);  // the next case's quota counts no earlier file
    disk.setQuota(1073741824.0);
  }
}

// After the merge step's check found the local file changed (4), the record keeps that the
// server holds the upload's own unfinished file. Start then sends every block again into it at
// the same length (no removal, no create), or removes it and creates the file anew at another
// length; deleting the upload removes it.
TEST_F(OwnFileTest, AfterAChangedFileTheUploadsOwnFileIsKeptOrRemovedAsAsked) {
  int n = 0;
  for (bool sameLength : {true, false})
    for (bool thenDelete : {false, true}) {
      SCOPED_TRACE(sameLength ? "rewritten at the same length" : "shrunk");
      SCOPED_TRACE(thenDelete ? "then deleted" : "then Start");
      login(kAlice, "pw1");
      const std::string file = "own" + std::to_string(n++) + ".bin";
      const std::string local = wholeSecondFile(file, pattern(kThreeBlocks, 50 + n));
      const std::string fresh = pattern(sameLength ? kThreeBlocks : kThreeBlocks - 500, 60 + n);
      std::string name;
      Event stopped = changeWhileTheLastBlockIsOut(
          local, [&] { wholeSecondFile(file, fresh); }, name);
      EXPECT_EQ(4, stopped.error);
      ASSERT_TRUE(disk.hasFile(kAlice, name));
      EXPECT_FALSE(disk.isComplete(kAlice, name));
      const int creates = disk.count(FakeNetDiskServer::CREATE);
      const int removes = disk.count(FakeNetDiskServer::REMOVE);
      if (thenDelete) {
        EXPECT_EQ(0, deleteUpload(name).error);
        EXPECT_EQ(-1, record(name).status);
        EXPECT_EQ(removes + 1, disk.count(FakeNetDiskServer::REMOVE));
        EXPECT_FALSE(disk.hasFile(kAlice, name)) << "the upload's own file stayed on the server";
      } else {
        Event done = start(name);
        EXPECT_EQ(UploadTaskStatus::FINISHED, done.task.state) << "error " << done.error;
        EXPECT_EQ(removes + (sameLength ? 0 : 1), disk.count(FakeNetDiskServer::REMOVE));
        EXPECT_EQ(creates + (sameLength ? 0 : 1), disk.count(FakeNetDiskServer::CREATE));
        EXPECT_TRUE(disk.fileBytes(kAlice, name) == fresh) << "the merged file is not the new bytes";
      }
      client->shutdown();
    }
}

// The space held for uploads is given back exactly once nothing runs: after the check found
// another length (a whole-second file that shrank, or grew past 2 GB, which stops the upload
// with 3 before any create, at every Start), and after a listing that failed while the upload
// ran and was then paused. A file that fits what is left is taken; one byte more is refused.
TEST_F(OwnFileTest, TheHeldSpaceIsGivenBackExactly) {
  enum Road { SHRANK, GREW_PAST_2GB, LISTING_FAILED };
  const struct {
    Road road;
    const char* what;
  } cases[] = {
      {SHRANK, "the file shrank after its last block was read"},
      {GREW_PAST_2GB, "the file grew past 2 GB after its last block was read"},
      {LISTING_FAILED, "a listing failed while the upload ran, then Pause"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    login(kAlice, "pw1");
    const std::string file = "held" + std::to_string(n++) + ".bin";
    const std::string local = wholeSecondFile(file, pattern(kThreeBlocks, 70 + n));
    std::string name;
    if (c.road == LISTING_FAILED) {
      disk.holdUploads(true);
      name = add(local);
      ASSERT_TRUE(disk.waitHeld(1, 10000));
      disk.failNext(FakeNetDiskServer::LISTING, 500);
      size_t from = listener.size();
      ASSERT_GT(client->listFile(), 0);
      Event listing;
      ASSERT_TRUE(listener.waitOp("list", &listing, from));
      EXPECT_EQ(10, listing.error);
      from = listener.size();
      ASSERT_GT(client->pauseUploadTask(name), 0);
      ASSERT_TRUE(listener.waitOp("pause", nullptr, from));
      disk.holdUploads(false);
      disk.release(10);
      NetDiskTaskThread::waitDetached();
      barrier();
    } else {
      const int64_t size = c.road == SHRANK ? kThreeBlocks - 1000 : 2200000000LL;
      Event stopped = changeWhileTheLastBlockIsOut(local, [&] { resize(local, size); }, name);
      EXPECT_EQ(c.road == SHRANK ? 4 : 3, stopped.error);
      if (c.road == GREW_PAST_2GB) {
        const int creates = disk.count(FakeNetDiskServer::CREATE);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(3, start(name).error);
        EXPECT_EQ(creates, disk.count(FakeNetDiskServer::CREATE)) << "a create of 2 GB or more was sent";
      }
    }
    // Only the files on the server take space: the quota leaves room for 10 bytes more.
    int64_t used = 0;
    for (const NetDiskFileItem& f : listAndWait().files) used += f.size;
    disk.setQuota(static_cast<double>(used + 10));
    listAndWait();
    Event added;
    add(home.write("big" + std::to_string(n) + ".txt", "01234567890"), &added);
    EXPECT_EQ(6, added.error) << "space held by nothing made room";
    add(home.write("fits" + std::to_string(n) + ".txt", "0123456789"), &added);
    EXPECT_EQ(0, added.error) << "space stayed held with nothing running";
    ASSERT_TRUE(waitEnded(added.task.relpath, &added));
    client->shutdown();
    disk.setQuota(1073741824.0);
  }
}

}  // namespace
}  // namespace ndtest

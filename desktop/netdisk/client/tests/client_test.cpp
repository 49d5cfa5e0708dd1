// The client's requests, engine thread, task thread, listings and links
// against the fake servers; results of an earlier user are dropped.
#include "ClientFixture.h"
#include "client/NetDiskCommands.h"
#include "client/NetDiskEngineThread.h"
#include "client/NetDiskUploadTask.h"

#include <cstdio>

namespace ndtest {
namespace {

using pwtest::FakeNetDiskServer;

class NetDiskClientTest : public ClientFixture {};

TEST_F(NetDiskClientTest, BeforeInitEveryRequestReturnsMinusOne) {
  EXPECT_EQ(-1, client->listFile());
  EXPECT_EQ(-1, client->addUploadTask("/nowhere", ""));
  EXPECT_EQ(-1, client->getDownloadUrl(std::vector<std::string>(1, "a")));
  EXPECT_EQ(0u, listener.size());
}

TEST_F(NetDiskClientTest, LoginListsSpaceAndFilesIntoListenerAndTable) {
  disk.putFile(kAlice, "done.txt", "hello");
  disk.addFolder(kAlice, "sub");
  disk.putFile(kAlice, "sub/inner.bin", "xyz");
  int n = client->init(kAlice, "pw1");
  ASSERT_GT(n, 0);
  EXPECT_EQ(n + 1, client->listFile());
  Event e;
  ASSERT_TRUE(listener.waitOp("list", &e));
  EXPECT_EQ(0, e.error);
  ASSERT_EQ(2u, e.files.size());
  const NetDiskFileItem& done = e.files[0].name == "done.txt" ? e.files[0] : e.files[1];
  const NetDiskFileItem& inner = e.files[0].name == "done.txt" ? e.files[1] : e.files[0];
  EXPECT_EQ("done.txt", done.name);
  EXPECT_EQ(5, done.size);
  EXPECT_TRUE(done.nocomplete);
  EXPECT_FALSE(done.hidden);
  EXPECT_EQ(10u, done.created.size());  // "%Y-%m-%d"
  EXPECT_EQ("inner.bin", inner.name);
  EXPECT_EQ(2, count("select count(*) from pw_file where fileType=0 and status=1"));

  // The listed links answer at once, without a request.
  int before = disk.count(FakeNetDiskServer::DOWNLOAD);
  size_t from = listener.size();
  client->getDownloadUrl(std::vector<std::string>{"done.txt"});
  ASSERT_TRUE(listener.waitOp("links", &e, from));
  ASSERT_EQ(1u, e.links.size());
  EXPECT_NE(std::string::npos, e.links["done.txt"].find("/space/"));
  EXPECT_EQ(before, disk.count(FakeNetDiskServer::DOWNLOAD));

  // A name the listing did not give is fetched; a failed fetch gives "".
  disk.putFile(kAlice, "later.txt", "abc");
  disk.failNext(FakeNetDiskServer::DOWNLOAD, 500, 1);
  from = listener.size();
  client->getDownloadUrl(std::vector<std::string>{"done.txt", "missing.txt", "later.txt"});
  ASSERT_TRUE(listener.waitOp("links", &e, from));
  ASSERT_EQ(3u, e.links.size());
  EXPECT_FALSE(e.links["done.txt"].empty());
  EXPECT_TRUE(e.links["missing.txt"].empty());
  EXPECT_FALSE(e.links["later.txt"].empty());
}

TEST_F(NetDiskClientTest, FailedListingReportsTenAndEmptiesTheList) {
  disk.putFile(kAlice, "done.txt", "hello");
  login(kAlice, "pw1");
  disk.failNext(FakeNetDiskServer::STATUS, 500, 1);
  Event e = listAndWait();
  EXPECT_EQ(10, e.error);
  EXPECT_TRUE(e.files.empty());
  EXPECT_EQ(0, count("select count(*) from pw_file"));
  // The space of the last good listing still holds: a small file fits.
  std::string name = add(home.write("small.txt", "12345"));
  EXPECT_EQ("small.txt", name);
}

TEST_F(NetDiskClientTest, LinkResultsAfterCancelAllWaitForTheNextListing) {
  disk.putFile(kAlice, "a.txt", "a");
  login(kAlice, "pw1");
  disk.putFile(kAlice, "b.txt", "b");
  client->cancelAllUploadTask();
  client->getDownloadUrl(std::vector<std::string>{"b.txt"});
  // The fetch and the listing run in that order on the task thread, so the
  // link result reaches the engine before the listing's.
  listAndWait();
  barrier();
  for (const Event& ev : listener.events()) EXPECT_NE("links", ev.op);
  size_t from = listener.size();
  client->getDownloadUrl(std::vector<std::string>{"b.txt"});
  Event e;
  ASSERT_TRUE(listener.waitOp("links", &e, from));
  EXPECT_FALSE(e.links["b.txt"].empty());
}

TEST_F(NetDiskClientTest, ResultsOfAnEarlierUserAreDropped) {
  login(kAlice, "pw1");
  ASSERT_GT(client->init(kBob, "pw2"), 0);
  barrier();
  size_t from = listener.size();
  ListFileResultCommand* list = new ListFileResultCommand(1);
  list->setOwnerUserId(kAlice);
  list->error = 10;
  GetDownUrlResultCommand* links = new GetDownUrlResultCommand(2);
  links->setOwnerUserId(kAlice);
  links->fetched["x"] = "http://x";
  DeleteFileResultCommand* del = new DeleteFileResultCommand("x", "", 0);
  del->setOwnerUserId(kAlice);
  ASSERT_EQ(0, NetDiskEngineThread::instance()->postCommand(list));
  ASSERT_EQ(0, NetDiskEngineThread::instance()->postCommand(links));
  ASSERT_EQ(0, NetDiskEngineThread::instance()->postCommand(del));
  barrier();
  std::vector<Event> events = listener.events();
  ASSERT_EQ(from + 1, events.size());
  EXPECT_EQ("tasks", events.back().op);
  // Bob's own listing is not blocked by Alice's dropped one.
  disk.putFile(kBob, "bob.txt", "b");
  Event e = listAndWait();
  ASSERT_EQ(1u, e.files.size());
  EXPECT_EQ("bob.txt", e.files[0].name);
}

TEST_F(NetDiskClientTest, ExpiredSessionIsRenewedForTheListing) {
  disk.putFile(kAlice, "a.txt", "a");
  login(kAlice, "pw1");
  disk.expireSessions();
  Event e = listAndWait();
  EXPECT_EQ(0, e.error);
  EXPECT_EQ(1u, e.files.size());
}

TEST(NetDiskSettings, ThreadAndTaskLimitsAreClampedToTheirRange) {
  struct Case {
    const char* value;
    int maxThread;
    int maxTask;
  } cases[] = {{"0", 10, 5}, {"11", 10, 5}, {"1", 1, 1}, {"10", 10, 10}, {"-3", 10, 5}};
  for (const Case& c : cases) {
    Config::instance()->setValue("VASTO", "maxThread", c.value);
    Config::instance()->setValue("VASTO", "maxTask", c.value);
    NetDiskClient::instance()->shutdown();  // reads the settings again
    EXPECT_EQ(c.maxThread, NetDiskClient::instance()->maxThread()) << c.value;
    EXPECT_EQ(c.maxTask, NetDiskClient::instance()->maxTask()) << c.value;
  }
  Config::instance()->removeValue("VASTO", "maxThread");
  Config::instance()->removeValue("VASTO", "maxTask");
  NetDiskClient::instance()->shutdown();
}

TEST(NetDiskSettings, SpaceCheckCountsUsedAndReservedBytes) {
  NetDiskClient* c = NetDiskClient::instance();
  c->shutdown();
  c->updateSpaceInfo(90, 100);
  c->updateSpaceInfo(5, true, true);
  EXPECT_TRUE(c->checkSpace(5));
  EXPECT_FALSE(c->checkSpace(6));
  c->updateSpaceInfo(3000000000LL, 6000000000LL);
  EXPECT_TRUE(c->checkSpace(2999999995LL));
  c->shutdown();
}

TEST(NetDiskMd5, DigestsAreLowerCaseHex) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(nullptr, f);
  std::fputs("abcdef", f);
  std::rewind(f);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", FileMd5::compute(f, 3));
  std::rewind(f);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", FileMd5::compute(f, 0));
  std::rewind(f);
  EXPECT_EQ("e80b5017098950fc58aad83c8c14978e", FileMd5::compute(f, 100));  // stops at the end
  std::fclose(f);
}

}  // namespace
}  // namespace ndtest

// The net-disk operations against the fake net-disk and single sign-on
// servers on 127.0.0.1: sessions, status mapping, the lost-session resend,
// block uploads with their MD5s and the merged file, and users on two threads.
#include "http/HTTPClient.h"
#include "log/IM_LogManager.h"
#include "protocol/SyncProtocol.h"
#include "protocol/SyncProtocolClient.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "util/Config.h"

#include <ace/Message_Block.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using pwtest::FakeNetDiskServer;
using pwtest::FakeSsoServer;
using pwtest::HttpReply;
using pwtest::HttpRequestRecord;

const char* const kUser = "alice@corp.com";
const char* const kPassword = "pw1";
const uint32_t kBlock = 10000;  // the fake's block length: several 4096-byte chunks

// Serves one block's bytes to the upload transport.
class BlockSource : public CSyncProtocolObserver {
 public:
  explicit BlockSource(const std::string& bytes, bool canRewind = true)
      : bytes_(bytes), canRewind_(canRewind), pos_(0), limit_(bytes.size()), rewinds(0), pulls(0) {}

  // Ends the body early after `n` bytes, as a stopped or shrunk file does.
  void stopAfter(size_t n) { limit_ = n; }

  bool GetUpLoadData(int maxLength, ACE_Message_Block* block) override {
    ++pulls;
    if (pos_ >= limit_) return false;
    size_t n = std::min<size_t>({static_cast<size_t>(maxLength), limit_ - pos_, block->space()});
    block->copy(bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool RewindUpLoadData() override {
    ++rewinds;
    if (!canRewind_) return false;
    pos_ = 0;
    return true;
  }

 private:
  std::string bytes_;
  bool canRewind_;
  size_t pos_;
  size_t limit_;

 public:
  int rewinds;
  int pulls;
};

std::string pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

std::vector<HttpRequestRecord> to(const FakeNetDiskServer& disk, const std::vector<HttpRequestRecord>& all,
                                  const std::string& endpoint) {
  std::vector<HttpRequestRecord> out;
  for (const auto& r : all)
    if (r.path == "/space/rest/server/" + endpoint) out.push_back(r);
  return out;
}

class NetDiskClientTest : public ::testing::Test {
 protected:
  NetDiskClientTest() : disk(&sso) {}

  void SetUp() override {
    ASSERT_TRUE(sso.isListening());
    ASSERT_TRUE(disk.isListening());
    sso.addUser(kUser, kPassword);
    sso.addUser("bob@corp.com", "pw2");
    disk.setBlockSize(kBlock);
    Config* c = Config::instance();
    c->setValue("VASTO", "spaceServer", disk.hostPort());
    c->setValue("SSO", "server", sso.hostPort());
    c->setValue("VASTO", "httpTimeout", "5");
    c->setValue("SSO", "httpTimeout", "5");
    SsoCookieManager::clearCookie(kUser);
    SsoCookieManager::clearCookie("bob@corp.com");
  }
  void TearDown() override {
    SsoCookieManager::clearCookie(kUser);
    SsoCookieManager::clearCookie("bob@corp.com");
    SsoClient::destroy();  // its worker pool ends with each test
    Config::instance()->removeValue("VASTO", "httpTimeout");
  }

  int spaceResult() {
    CSyncProtocol p(kUser, kPassword);
    double used = -1, quota = -1;
    bool ok = p.GetSpaceInfo(used, quota);
    EXPECT_EQ(ok, p.getLastStatus() == 200);
    return ok ? 200 : p.getLastStatus();
  }

  // Creates the file and sends every block; true when all were stored.
  bool uploadAll(CSyncProtocol& p, const std::string& name, const std::string& bytes) {
    std::string url, created;
    int total = static_cast<int>((bytes.size() + kBlock - 1) / kBlock);
    if (!p.CreateLargeFile("", name, static_cast<int64_t>(bytes.size()), "", total, url, created)) return false;
    for (int i = 0; i < total; ++i) {
      std::string block = bytes.substr(static_cast<size_t>(i) * kBlock, kBlock);
      BlockSource source(block);
      bool retry = true;
      if (!p.UpLoadBlockData(&source, name, i, total, static_cast<uint32_t>(block.size()),
                             static_cast<uint64_t>(i) * kBlock, FakeNetDiskServer::md5Hex(block), retry))
        return false;
    }
    return true;
  }

  FakeSsoServer sso;
  FakeNetDiskServer disk;
};

TEST_F(NetDiskClientTest, EveryOperationSendsItsMessageAndReadsItsAnswer) {
  CSyncProtocol p(kUser, kPassword);
  const std::string bytes = pattern(2 * kBlock + 1234, 7);  // two full blocks and a short one

  double used = -1, quota = -1;
  disk.setQuota(5e9);
  ASSERT_TRUE(p.GetSpaceInfo(used, quota));
  EXPECT_EQ(0.0, used);
  EXPECT_EQ(5e9, quota);

  std::string url, created;
  ASSERT_TRUE(p.CreateLargeFile("", "big file.bin", static_cast<int64_t>(bytes.size()), "", 3, url, created));
  std::string token = disk.linkToken(kUser, "big file.bin");
  EXPECT_EQ("http://" + disk.hostPort() + "/space/file/get/" + token + "?domainName=corp.com&userId=alice%40corp.com",
            url);
  EXPECT_EQ(10u, created.size());

  for (int i = 0; i < 3; ++i) {
    std::string block = bytes.substr(static_cast<size_t>(i) * kBlock, kBlock);
    BlockSource source(block);
    bool retry = true;
    ASSERT_TRUE(p.UpLoadBlockData(&source, "big file.bin", i, 3, static_cast<uint32_t>(block.size()),
                                  static_cast<uint64_t>(i) * kBlock, FakeNetDiskServer::md5Hex(block), retry))
        << disk.lastError();
    EXPECT_FALSE(retry);
  }
  EXPECT_FALSE(disk.isComplete(kUser, "big file.bin"));
  ASSERT_TRUE(p.MegerLargeFileBlock("big file.bin", std::string(32, '0')));
  EXPECT_TRUE(disk.isComplete(kUser, "big file.bin"));
  EXPECT_EQ(bytes, disk.fileBytes(kUser, "big file.bin"));

  disk.addFolder(kUser, "sub");
  disk.putFile(kUser, "sub/old.txt", "old");
  NodeTree nodes;
  ASSERT_TRUE(p.GetFolderInfo("", nodes));
  ASSERT_EQ(4u, nodes.size());
  std::vector<CNodeInfo*> order(nodes.begin(), nodes.end());
  EXPECT_EQ("", order[0]->path);
  EXPECT_EQ("sub", order[1]->path);
  EXPECT_EQ("sub/old.txt", order[2]->path);
  CFileInfo* file = dynamic_cast<CFileInfo*>(order[3]);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ("big file.bin", file->name);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), file->size);
  EXPECT_TRUE(file->nocomplete);
  EXPECT_EQ(FakeNetDiskServer::md5Hex(bytes), file->md5hash);
  EXPECT_EQ(url, file->downloadLink);
  for (CNodeInfo* n : order) delete n;
  nodes.clear();

  std::string link;
  ASSERT_TRUE(p.getDownloadLinks("big file.bin", link));
  EXPECT_EQ(url, link);
  // The link the client built serves the merged file, byte for byte.
  {
    HTTPClient client(disk.hostPort());
    HTTPRequest get(HTTPRequest::HTTP_GET, link.substr(link.find("/space/")));
    HTTPResponse got;
    ASSERT_EQ(0, client.call(get, got));
    EXPECT_EQ(200, got.getStatus());
    EXPECT_EQ(bytes, got.getBodyText());
  }

  ASSERT_TRUE(p.GetSpaceInfo(used, quota));
  EXPECT_EQ(static_cast<double>(bytes.size() + 3), used);

  ASSERT_TRUE(p.RemoveByPaths({"big file.bin"}));
  ASSERT_TRUE(p.RemoveByPaths({"sub/old.txt", "big file.bin"}) == false);  // one of them is gone: 404
  EXPECT_EQ(404, p.getLastStatus());
  EXPECT_TRUE(disk.hasFile(kUser, "sub/old.txt"));
  disk.putFile(kUser, "c.txt", "c");
  ASSERT_TRUE(p.RemoveByPaths({"sub/old.txt", "c.txt"}));
  EXPECT_FALSE(disk.hasFile(kUser, "sub/old.txt"));
  EXPECT_FALSE(disk.hasFile(kUser, "c.txt"));

  // The wire, as the server received it.
  std::vector<HttpRequestRecord> all = disk.requests();
  auto creates = to(disk, all, FakeNetDiskServer::CREATE);
  ASSERT_EQ(1u, creates.size());
  EXPECT_EQ("{\"blocktotal\":3,\"hash\":\"\",\"name\":\"big file.bin\",\"path\":\"/alice@corp.com/transit/\","
            "\"size\":\"21234\"}",
            creates[0].body);
  EXPECT_EQ("domainName=corp.com&userId=alice%40corp.com", creates[0].query);
  EXPECT_EQ("127.0.0.1", creates[0].header("Host"));
  EXPECT_EQ("application/x-www-form-urlencoded", creates[0].header("Content-Type"));
  auto listings = to(disk, all, FakeNetDiskServer::LISTING);
  ASSERT_EQ(1u, listings.size());
  EXPECT_EQ("depth=100000000&domainName=corp.com&path=%2Falice%40corp.com%2Ftransit&userId=alice%40corp.com",
            listings[0].query);
  EXPECT_EQ("", listings[0].body);
  auto merges = to(disk, all, FakeNetDiskServer::MERGE);
  ASSERT_EQ(1u, merges.size());
  EXPECT_EQ("{\"md5\":\"00000000000000000000000000000000\",\"path\":\"/alice@corp.com/transit/big file.bin\"}",
            merges[0].body);
  auto links = to(disk, all, FakeNetDiskServer::DOWNLOAD);
  ASSERT_EQ(1u, links.size());
  EXPECT_EQ("{\"path\":\"/alice@corp.com/transit/big file.bin\"}", links[0].body);
  auto removes = to(disk, all, FakeNetDiskServer::REMOVE);
  ASSERT_EQ(3u, removes.size());
  EXPECT_EQ("{\"path\":\"/alice@corp.com/transit/big file.bin\"}", removes[0].body);
  EXPECT_EQ("{\"path\":[\"/alice@corp.com/transit/sub/old.txt\",\"/alice@corp.com/transit/big file.bin\"]}",
            removes[1].body);
  auto uploads = to(disk, all, FakeNetDiskServer::UPLOAD);
  ASSERT_EQ(3u, uploads.size());
  for (size_t i = 0; i < uploads.size(); ++i) {
    pwtest::MultipartUpload part;
    std::string error;
    ASSERT_TRUE(FakeNetDiskServer::parseUpload(uploads[i].header("Content-Type"), uploads[i].body, part, error))
        << error;
    std::string block = bytes.substr(i * kBlock, kBlock);
    EXPECT_EQ(block, part.data);
    EXPECT_EQ(nlohmann::json::parse("{\"blockhash\":\"" + FakeNetDiskServer::md5Hex(block) + "\",\"blockid\":\"" +
                                    std::to_string(i) + "\",\"blocksize\":" + std::to_string(block.size()) +
                                    ",\"blocktotal\":3,\"filepath\":\"/alice@corp.com/transit/big file.bin\","
                                    "\"offset\":" + std::to_string(i * kBlock) + "}"),
              nlohmann::json::parse(part.txtPost));
    EXPECT_EQ("vasto", uploads[i].header("User-Agent"));
    EXPECT_EQ("true", uploads[i].header("ajaxRequest"));
  }
  // One login served every request up to the 404, which dropped the session.
  EXPECT_EQ(2, disk.loginCount(kUser));
  EXPECT_EQ(0, disk.lostSessionCount());
}

TEST_F(NetDiskClientTest, FirstRequestLogsInLaterOnesReuseTheSessionAnErrorDropsIt) {
  EXPECT_EQ(200, spaceResult());
  EXPECT_EQ(1, disk.loginCount(kUser));
  // The login went to the single sign-on server for the net-disk service.
  std::vector<FakeSsoServer::Ticket> tickets = sso.issuedTickets();
  ASSERT_EQ(1u, tickets.size());
  EXPECT_EQ("http://127.0.0.1/space/rest/sso/getSession?domainName=corp.com", tickets[0].service);
  EXPECT_TRUE(SsoCookieManager::hasCookie("npmp", kUser));

  EXPECT_EQ(200, spaceResult());
  EXPECT_EQ(1, disk.loginCount(kUser));
  std::vector<HttpRequestRecord> status = to(disk, disk.requests(), FakeNetDiskServer::STATUS);
  ASSERT_EQ(2u, status.size());
  EXPECT_NE(std::string::npos, status[1].header("Cookie").find("JSESSIONID=S-"));

  disk.failNext(FakeNetDiskServer::STATUS, 404);
  {
    IM_LogCapture cap;
    EXPECT_EQ(404, spaceResult());
    EXPECT_TRUE(cap.contains("CSyncProtocolClient::CSyncProtocolClient is NPMP_INTERFACE_CALL_FAIL"));
    EXPECT_TRUE(cap.contains("GetSpaceInfo errorcode is 404"));
  }
  EXPECT_FALSE(SsoCookieManager::hasCookie("npmp", kUser));
  EXPECT_EQ(200, spaceResult());
  EXPECT_EQ(2, disk.loginCount(kUser));
}

TEST_F(NetDiskClientTest, StatusesMapToResultCodes) {
  struct Case {
    HttpReply reply;
    int result;
  };
  HttpReply dropped(200);
  dropped.drop = true;
  std::vector<Case> cases = {
      {HttpReply(204, ""), 2},  // a space answer without its body
      {HttpReply(403), 3},      {HttpReply(401), 401}, {HttpReply(402), 402}, {HttpReply(404), 404},
      {HttpReply(405), 405},    {HttpReply(408), 408}, {HttpReply(409), 409}, {HttpReply(413), 413},
      {HttpReply(500), 500},    {HttpReply(501), 501}, {HttpReply(418), 400}, {HttpReply(503), 400},
      {HttpReply(200, "<html>"), 2},                   {dropped, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.status);
    disk.failNext(FakeNetDiskServer::STATUS, c.reply);
    EXPECT_EQ(c.result, spaceResult());
  }
  EXPECT_EQ(200, spaceResult());

  // Nobody listens at the space server: the exchange fails.
  unsigned short closedPort;
  {
    pwtest::LoopbackHttpServer gone;
    closedPort = gone.port();
  }
  Config::instance()->setValue("VASTO", "spaceServer", "127.0.0.1:" + std::to_string(closedPort));
  EXPECT_EQ(1, spaceResult());
}

TEST_F(NetDiskClientTest, LostSessionGivesOneLoginAndOneResend) {
  EXPECT_EQ(200, spaceResult());
  disk.expireSessions();
  EXPECT_EQ(200, spaceResult());
  EXPECT_EQ(2, disk.loginCount(kUser));
  EXPECT_EQ(1, disk.lostSessionCount());
  EXPECT_EQ(2, disk.count(FakeNetDiskServer::STATUS));  // the lost one never reached the endpoint

  // Two lost sessions in a row: the status comes back, nothing loops.
  disk.failNext(FakeNetDiskServer::STATUS, HttpReply::redirect(302, "http://127.0.0.1/casserver/login"), 2);
  int before = disk.count(FakeNetDiskServer::STATUS);
  EXPECT_EQ(302, spaceResult());
  EXPECT_EQ(before + 2, disk.count(FakeNetDiskServer::STATUS));
  EXPECT_EQ(3, disk.loginCount(kUser));

  // A 206 is taken for a lost session too.
  disk.failNext(FakeNetDiskServer::STATUS, HttpReply(206, "x"), 1);
  EXPECT_EQ(200, spaceResult());
  EXPECT_EQ(5, disk.loginCount(kUser));  // the 302 answer dropped the session: login, then re-login
}

TEST_F(NetDiskClientTest, FailedLoginGivesThreeAndSendsNothing) {
  CSyncProtocol p(kUser, "wrong");
  double used, quota;
  EXPECT_FALSE(p.GetSpaceInfo(used, quota));
  EXPECT_EQ(3, p.getLastStatus());
  EXPECT_EQ(0u, disk.http().requestCount());
  EXPECT_GE(sso.requestCount(), 1u);
}

TEST_F(NetDiskClientTest, BadInputsSendNothing) {
  {
    CSyncProtocol p("alice", kPassword);  // no domain
    double used, quota;
    std::string url, created;
    NodeTree nodes;
    bool retry = true;
    BlockSource source("x");
    EXPECT_FALSE(p.GetSpaceInfo(used, quota));
    EXPECT_FALSE(p.GetFolderInfo("", nodes));
    EXPECT_FALSE(p.getDownloadLinks("a", url));
    EXPECT_FALSE(p.RemoveByPaths({"a"}));
    EXPECT_FALSE(p.CreateLargeFile("", "a", 1, "", 1, url, created));
    EXPECT_FALSE(p.UpLoadBlockData(&source, "a", 0, 1, 1, 0, "", retry));
    EXPECT_FALSE(retry);
    EXPECT_FALSE(p.MegerLargeFileBlock("a", ""));
    EXPECT_EQ(200, p.getLastStatus());
  }
  {
    CSyncProtocol p(kUser, kPassword);
    std::string url;
    EXPECT_FALSE(p.getDownloadLinks("", url));
    EXPECT_FALSE(p.RemoveByPaths({}));
    EXPECT_EQ(200, p.getLastStatus());
  }
  Config::instance()->setValue("VASTO", "spaceServer", "");
  EXPECT_EQ(1, spaceResult());
  EXPECT_EQ(0u, disk.http().requestCount());
  EXPECT_EQ(0u, sso.requestCount());
}

TEST_F(NetDiskClientTest, BlocksOfAFileMergeIntoTheOriginalAndABadMd5IsRefused) {
  CSyncProtocol p(kUser, kPassword);
  const std::string bytes = pattern(4 * kBlock + 77, 3);
  ASSERT_TRUE(uploadAll(p, "a.bin", bytes)) << disk.lastError();
  // A block sent again after an interruption replaces the stored one.
  {
    std::string block = bytes.substr(kBlock, kBlock);
    BlockSource source(block);
    bool retry;
    ASSERT_TRUE(p.UpLoadBlockData(&source, "a.bin", 1, 5, kBlock, kBlock, FakeNetDiskServer::md5Hex(block), retry));
    EXPECT_EQ(2, disk.sends(kUser, "a.bin", 1));
  }
  ASSERT_TRUE(p.MegerLargeFileBlock("a.bin", std::string(32, '0')));
  EXPECT_EQ(bytes, disk.fileBytes(kUser, "a.bin"));
  EXPECT_EQ(FakeNetDiskServer::md5Hex(bytes), disk.fileMd5(kUser, "a.bin"));

  // A block whose MD5 is not that of its bytes.
  std::string url, created;
  ASSERT_TRUE(p.CreateLargeFile("", "b.bin", kBlock, "", 1, url, created));
  std::string block = pattern(kBlock, 9);
  std::string wrong = FakeNetDiskServer::md5Hex(block);
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  BlockSource source(block);
  bool retry = true;
  EXPECT_FALSE(p.UpLoadBlockData(&source, "b.bin", 0, 1, kBlock, 0, wrong, retry));
  EXPECT_EQ(400, p.getLastStatus());
  EXPECT_FALSE(retry);
  EXPECT_EQ(1, disk.md5Mismatches());
  EXPECT_TRUE(disk.blocksReceived(kUser, "b.bin").empty());
  // Merging with the block missing fails.
  EXPECT_FALSE(p.MegerLargeFileBlock("b.bin", std::string(32, '0')));
  EXPECT_EQ(409, p.getLastStatus());
}

TEST_F(NetDiskClientTest, UploadRetryFlagFollowsTheResult) {
  CSyncProtocol p(kUser, kPassword);
  std::string url, created;
  ASSERT_TRUE(p.CreateLargeFile("", "r.bin", kBlock, "", 1, url, created));
  std::string block = pattern(kBlock, 5);
  std::string md5 = FakeNetDiskServer::md5Hex(block);
  HttpReply dropped(200);
  dropped.drop = true;
  struct Case {
    HttpReply reply;
    int result;
    bool retry;
  } cases[] = {{HttpReply(500), 500, true},
               {HttpReply(413), 413, true},
               {dropped, 1, true},
               {HttpReply(404), 404, false},
               {HttpReply(403), 3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    disk.failNext(FakeNetDiskServer::UPLOAD, c.reply);
    BlockSource source(block);
    bool retry = !c.retry;
    EXPECT_FALSE(p.UpLoadBlockData(&source, "r.bin", 0, 1, kBlock, 0, md5, retry));
    EXPECT_EQ(c.result, p.getLastStatus());
    EXPECT_EQ(c.retry, retry);
  }
  BlockSource source(block);
  bool retry = true;
  EXPECT_TRUE(p.UpLoadBlockData(&source, "r.bin", 0, 1, kBlock, 0, md5, retry));
  EXPECT_EQ(1, disk.sends(kUser, "r.bin", 0));
}

TEST_F(NetDiskClientTest, LostSessionDuringABlockResendsItFromItsFirstByte) {
  CSyncProtocol p(kUser, kPassword);
  std::string url, created;
  ASSERT_TRUE(p.CreateLargeFile("", "s.bin", 2 * kBlock, "", 2, url, created));
  std::string b0 = pattern(kBlock, 11), b1 = pattern(kBlock, 12);

  disk.expireSessions();
  BlockSource rewinding(b0);
  bool retry = true;
  ASSERT_TRUE(p.UpLoadBlockData(&rewinding, "s.bin", 0, 2, kBlock, 0, FakeNetDiskServer::md5Hex(b0), retry))
      << disk.lastError();
  EXPECT_EQ(1, rewinding.rewinds);
  EXPECT_EQ(2, disk.loginCount(kUser));
  EXPECT_EQ(1, disk.lostSessionCount());
  EXPECT_EQ(1, disk.sends(kUser, "s.bin", 0));

  // A source that cannot start again: the resend fails at once instead of
  // sending a body that ends short, and the caller may retry.
  disk.expireSessions();
  BlockSource once(b1, false);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(p.UpLoadBlockData(&once, "s.bin", 1, 2, kBlock, kBlock, FakeNetDiskServer::md5Hex(b1), retry));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(1, p.getLastStatus());
  EXPECT_TRUE(retry);
  EXPECT_EQ(2, disk.lostSessionCount());
  EXPECT_EQ(0, disk.sends(kUser, "s.bin", 1));
  BlockSource again(b1);
  ASSERT_TRUE(p.UpLoadBlockData(&again, "s.bin", 1, 2, kBlock, kBlock, FakeNetDiskServer::md5Hex(b1), retry));
  ASSERT_TRUE(p.MegerLargeFileBlock("s.bin", std::string(32, '0')));
  EXPECT_EQ(b0 + b1, disk.fileBytes(kUser, "s.bin"));

  // Two lost sessions in a row during a block: 302, no loop.
  ASSERT_TRUE(p.CreateLargeFile("", "t.bin", kBlock, "", 1, url, created));
  disk.failNext(FakeNetDiskServer::UPLOAD, HttpReply::redirect(302, "http://127.0.0.1/casserver/login"), 2);
  BlockSource twice(b0);
  EXPECT_FALSE(p.UpLoadBlockData(&twice, "t.bin", 0, 1, kBlock, 0, FakeNetDiskServer::md5Hex(b0), retry));
  EXPECT_EQ(302, p.getLastStatus());
  EXPECT_EQ(1, twice.rewinds);
}

TEST_F(NetDiskClientTest, ABodyEndingEarlyOrASilentServerFailsInBoundedTime) {
  Config::instance()->setValue("VASTO", "httpTimeout", "1");
  CSyncProtocol p(kUser, kPassword);
  std::string url, created;
  ASSERT_TRUE(p.CreateLargeFile("", "e.bin", kBlock, "", 1, url, created));
  std::string block = pattern(kBlock, 13);
  std::string md5 = FakeNetDiskServer::md5Hex(block);

  auto start = std::chrono::steady_clock::now();
  BlockSource shortSource(block);
  shortSource.stopAfter(5000);
  bool retry = false;
  EXPECT_FALSE(p.UpLoadBlockData(&shortSource, "e.bin", 0, 1, kBlock, 0, md5, retry));
  EXPECT_EQ(1, p.getLastStatus());
  EXPECT_TRUE(retry);

  HttpReply silent(200);
  silent.delayMs = -1;
  disk.failNext(FakeNetDiskServer::UPLOAD, silent);
  BlockSource full(block);
  EXPECT_FALSE(p.UpLoadBlockData(&full, "e.bin", 0, 1, kBlock, 0, md5, retry));
  EXPECT_EQ(1, p.getLastStatus());
  disk.failNext(FakeNetDiskServer::STATUS, silent);
  double used, quota;
  EXPECT_FALSE(p.GetSpaceInfo(used, quota));
  EXPECT_EQ(1, p.getLastStatus());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(0, disk.sends(kUser, "e.bin", 0));
}

TEST_F(NetDiskClientTest, TwoUsersOnTwoThreadsEachSendTheirOwnIdentity) {
  const std::string a = pattern(3 * kBlock + 5, 21), b = pattern(2 * kBlock + 9, 22);
  std::atomic<bool> okA(false), okB(false);
  auto run = [&](const char* user, const char* password, const std::string& bytes, std::atomic<bool>& ok) {
    CSyncProtocol p(user, password);
    bool all = true;
    for (int round = 0; round < 3 && all; ++round) {
      std::string name = "f" + std::to_string(round) + ".bin";
      all = uploadAll(p, name, bytes) && p.MegerLargeFileBlock(name, std::string(32, '0'));
    }
    ok = all;
  };
  std::thread ta(run, kUser, kPassword, std::cref(a), std::ref(okA));
  std::thread tb(run, "bob@corp.com", "pw2", std::cref(b), std::ref(okB));
  ta.join();
  tb.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
  EXPECT_EQ(0, disk.lostSessionCount());
  for (int round = 0; round < 3; ++round) {
    std::string name = "f" + std::to_string(round) + ".bin";
    EXPECT_EQ(a, disk.fileBytes(kUser, name));
    EXPECT_EQ(b, disk.fileBytes("bob@corp.com", name));
  }
  // Every request's paths belong to the user it names.
  for (const HttpRequestRecord& r : disk.requests()) {
    if (r.path.find("/space/rest/server/") != 0) continue;
    std::string user = r.queryParam("userId");
    ASSERT_FALSE(user.empty());
    std::string text = r.body;
    size_t at = text.find("/transit");
    if (at == std::string::npos) continue;
    EXPECT_NE(std::string::npos, text.find("/" + user + "/transit")) << text.substr(0, 200);
    EXPECT_EQ(std::string::npos, text.find(user == kUser ? "bob@corp.com" : kUser)) << text.substr(0, 200);
  }
}

}  // namespace

namespace {

TEST_F(NetDiskClientTest, HeldBlocksShowWhatIsInFlight) {
  {
    CSyncProtocol p(kUser, kPassword);
    std::string url, created;
    ASSERT_TRUE(p.CreateLargeFile("", "x.bin", 2 * kBlock, "", 2, url, created));
    ASSERT_TRUE(p.CreateLargeFile("", "y.bin", kBlock, "", 1, url, created));
  }
  const std::string x0 = pattern(kBlock, 31), x1 = pattern(kBlock, 32), y0 = pattern(kBlock, 33);
  disk.holdUploads(true);
  std::atomic<int> stored(0);
  auto send = [&](const char* name, int index, int total, const std::string& block) {
    CSyncProtocol p(kUser, kPassword);
    BlockSource source(block);
    bool retry;
    if (p.UpLoadBlockData(&source, name, index, total, kBlock, static_cast<uint64_t>(index) * kBlock,
                          FakeNetDiskServer::md5Hex(block), retry))
      ++stored;
  };
  std::thread a(send, "x.bin", 0, 2, std::cref(x0));
  std::thread b(send, "x.bin", 1, 2, std::cref(x1));
  std::thread c(send, "y.bin", 0, 1, std::cref(y0));
  bool held = disk.waitHeld(3, 5000);
  EXPECT_TRUE(held);
  EXPECT_EQ(3, disk.maxInFlight());
  EXPECT_EQ(2, disk.maxFilesInFlight());
  EXPECT_TRUE(disk.blocksReceived(kUser, "x.bin").empty());
  disk.release(3);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(3, stored.load());
  EXPECT_EQ((std::vector<int>{0, 1}), disk.blocksReceived(kUser, "x.bin"));
}

}  // namespace

namespace {

TEST_F(NetDiskClientTest, CreateRefusesACompleteNameAndSpaceBeyondTheQuota) {
  CSyncProtocol p(kUser, kPassword);
  std::string url, created;
  disk.putFile(kUser, "done.bin", "abc");
  EXPECT_FALSE(p.CreateLargeFile("", "done.bin", 3, "", 1, url, created));
  EXPECT_EQ(409, p.getLastStatus());

  // Creating an unmerged name again is refused too, and its stored block stays.
  ASSERT_TRUE(p.CreateLargeFile("", "u.bin", kBlock, "", 1, url, created));
  std::string block = pattern(kBlock, 41);
  BlockSource source(block);
  bool retry;
  ASSERT_TRUE(p.UpLoadBlockData(&source, "u.bin", 0, 1, kBlock, 0, FakeNetDiskServer::md5Hex(block), retry));
  EXPECT_FALSE(p.CreateLargeFile("", "u.bin", kBlock, "", 1, url, created));
  EXPECT_EQ(409, p.getLastStatus());
  EXPECT_EQ((std::vector<int>{0}), disk.blocksReceived(kUser, "u.bin"));
  // Once removed, the name can be created afresh.
  ASSERT_TRUE(p.RemoveByPaths(std::list<std::string>(1, "u.bin")));
  ASSERT_TRUE(p.CreateLargeFile("", "u.bin", kBlock, "", 1, url, created));
  EXPECT_TRUE(disk.blocksReceived(kUser, "u.bin").empty());

  disk.setQuota(kBlock + 100);
  EXPECT_FALSE(p.CreateLargeFile("", "big.bin", 200, "", 1, url, created));
  EXPECT_EQ(413, p.getLastStatus());
  // A block count that does not fit the size is refused.
  EXPECT_FALSE(p.CreateLargeFile("", "odd.bin", 10, "", 2, url, created));
  EXPECT_EQ(400, p.getLastStatus());
}

}  // namespace

namespace {

TEST_F(NetDiskClientTest, MergeIsRefusedWithABlockMissingAndASecondTime) {
  CSyncProtocol p(kUser, kPassword);
  std::string url, created;
  const std::string bytes = pattern(2 * kBlock + 10, 43);
  ASSERT_TRUE(p.CreateLargeFile("", "m.bin", static_cast<int64_t>(bytes.size()), "", 3, url, created));
  bool retry = false;
  for (int i : {0, 2}) {
    std::string block = bytes.substr(static_cast<size_t>(i) * kBlock, kBlock);
    BlockSource source(block);
    ASSERT_TRUE(p.UpLoadBlockData(&source, "m.bin", i, 3, static_cast<uint32_t>(block.size()),
                                  static_cast<uint64_t>(i) * kBlock, FakeNetDiskServer::md5Hex(block), retry));
  }
  // Block 1 never came: no file is made of the others.
  EXPECT_FALSE(p.MegerLargeFileBlock("m.bin", std::string(32, '0')));
  EXPECT_EQ(409, p.getLastStatus());
  EXPECT_FALSE(disk.isComplete(kUser, "m.bin"));
  EXPECT_NE(std::string::npos, disk.lastError().find("block 1 is missing"));

  std::string block = bytes.substr(kBlock, kBlock);
  BlockSource source(block);
  ASSERT_TRUE(p.UpLoadBlockData(&source, "m.bin", 1, 3, kBlock, kBlock, FakeNetDiskServer::md5Hex(block), retry));
  ASSERT_TRUE(p.MegerLargeFileBlock("m.bin", std::string(32, '0')));
  EXPECT_EQ(bytes, disk.fileBytes(kUser, "m.bin"));
  EXPECT_EQ(FakeNetDiskServer::md5Hex(bytes), disk.fileMd5(kUser, "m.bin"));
  // A merged file is not merged again, and takes no more blocks.
  EXPECT_FALSE(p.MegerLargeFileBlock("m.bin", std::string(32, '0')));
  EXPECT_EQ(409, p.getLastStatus());
  BlockSource again(block);
  EXPECT_FALSE(p.UpLoadBlockData(&again, "m.bin", 1, 3, kBlock, kBlock, FakeNetDiskServer::md5Hex(block), retry));
  EXPECT_TRUE(disk.isComplete(kUser, "m.bin"));
}

// A request whose login at the single sign-on server is held (silent, or stalled after one
// byte; by the user's login cookies first, then by password) ends when the transports'
// exchanges are stopped, long before the time-out, as a failed exchange (1), not as a refused
// login (3); nothing reaches the net disk, and later requests send nothing until allowed.
TEST_F(NetDiskClientTest, StoppedExchangesEndALoginInsideARequest) {
  Config::instance()->setValue("SSO", "httpTimeout", "30");
  for (FakeSsoServer::Fault fault : {FakeSsoServer::STALL, FakeSsoServer::STALL_AFTER_BYTE}) {
    for (bool ssoCookies : {false, true}) {
      SCOPED_TRACE(testing::Message() << "fault " << fault << (ssoCookies ? ", by the login cookies" : ""));
      sso.setFault(FakeSsoServer::NONE);
      SsoCookieManager::clearCookie(kUser);
      if (ssoCookies) {
        ASSERT_EQ(200, spaceResult());
        SsoCookieManager::clearCookie("npmp", kUser);  // the session is gone, the login cookies stay
        ASSERT_TRUE(SsoCookieManager::hasCookie(SsoCookieManager::SSO_SYSTEM_ID, kUser));
      }
      sso.clearRequests();
      disk.http().clearRequests();
      sso.setFault(fault, -1, FakeSsoServer::LOGIN_PATH);

      std::atomic<bool> done(false);
      int result = -1;
      std::thread request([&] {
        result = spaceResult();
        done = true;
      });
      ASSERT_TRUE(sso.waitForRequests(1, 5000));
      EXPECT_FALSE(done.load());
      auto start = std::chrono::steady_clock::now();
      CSyncProtocolClient::stopExchanges();
      request.join();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "not the 30 s time-out";
      EXPECT_EQ(1, result);
      EXPECT_EQ(1u, sso.requestCount()) << "no password attempt after the stopped one";
      EXPECT_EQ(0u, disk.http().requestCount());

      EXPECT_EQ(1, spaceResult()) << "stopped: fails at once";
      EXPECT_EQ(1u, sso.requestCount());
      CSyncProtocolClient::allowExchanges();
      EXPECT_FALSE(SsoClient::exchangesStopped());
      sso.setFault(FakeSsoServer::NONE);
      EXPECT_EQ(200, spaceResult());
    }
  }
}

}  // namespace

// The single sign-on's own stop at logout ends a request's held login and allows exchanges again
// at once: the request failed unanswered (1, which a block's sender tries again), it was not
// refused (3, which stops the upload); the next request logs in as usual.
TEST_F(NetDiskClientTest, ALoginEndedByALogoutsStopIsNotARefusal) {
  Config::instance()->setValue("SSO", "httpTimeout", "30");
  SsoCookieManager::clearCookie(kUser);
  sso.clearRequests();
  sso.setFault(FakeSsoServer::STALL, -1, FakeSsoServer::LOGIN_PATH);
  std::atomic<bool> done(false);
  int result = -1;
  std::thread request([&] {
    result = spaceResult();
    done = true;
  });
  ASSERT_TRUE(sso.waitForRequests(1, 5000));
  EXPECT_FALSE(done.load());
  SsoClient::stopExchanges();
  SsoClient::allowExchanges();
  request.join();
  EXPECT_EQ(1, result);
  EXPECT_FALSE(SsoClient::exchangesStopped());
  sso.setFault(FakeSsoServer::NONE);
  EXPECT_EQ(200, spaceResult());
}

// The local server over real loopback sockets, driven by raw peers that write the wire format
// themselves: routing of requests to the main window, replies to the stored requester,
// framing, bad input, closed peers, back-pressure, stop and restart.
#include "BridgeTestSupport.h"

#include "bridge/PW_PostwingServer.h"
#include "bridge/PW_ServerTask.h"
#include "log/IM_LogManager.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <ace/OS_NS_fcntl.h>
#include <ace/Reactor.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

using namespace bridgetest;

namespace {

PW_PostwingServer* server() { return PW_PostwingServer::instance(); }

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Config::instance()->setValue("COMMON", "listenPort", "0");
    ui_.reset(new w32subst::UiThread(kDesktopPid));
    main_ = ui_->call([] { return makeRecordingWindow("main"); });
    PostedLog::instance().clear();
    server()->setMainWindow(main_);
    ASSERT_EQ(server()->start(), 0);
    port_ = server()->listenPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    server()->stop();
    server()->setMainWindow(nullptr);
    ui_->run([this] { DestroyWindow(main_); });
    ui_.reset();
    Config::instance()->removeValue("COMMON", "listenPort");
  }
  bool posted(UINT msg, int n = 1) { return PostedLog::instance().waitFor(main_, msg, n); }
  int count(UINT msg) { return PostedLog::instance().count(main_, msg); }
  // Waits until the server holds exactly n connections.
  static bool connections(int n) {
    return w32subst::waitUntil([n] { return server()->connectionCount() == n; });
  }

  std::unique_ptr<w32subst::UiThread> ui_;
  HWND main_ = nullptr;
  int port_ = 0;
};

}  // namespace

TEST_F(ServerTest, ListensOnTheLoopbackAddressOnly) {
  ACE_INET_Addr addr = server()->listenAddress();
  EXPECT_EQ(addr.get_ip_address(), ACE_UINT32(INADDR_LOOPBACK));
  EXPECT_EQ(int(addr.get_port_number()), port_);
  RawClient client(port_);
  ASSERT_TRUE(client.ok());
  ACE_INET_Addr peer;
  client.stream().get_remote_addr(peer);
  EXPECT_EQ(peer.get_ip_address(), ACE_UINT32(INADDR_LOOPBACK));
}

TEST_F(ServerTest, RequestsPostToTheMainWindowAndRepliesGoToTheLatestRequesterOfTheirKind) {
  IM_LogCapture cap;
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "655"}, {"to", "x"}, {"cc", ""}, {"bcc", ""}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_EQ(server()->pendingAddrHandle(), "655");
  ASSERT_TRUE(a.send(unit("showAttachDialog", {{"handle", "656"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH));
  EXPECT_EQ(server()->pendingAttachHandle(), "656");
  EXPECT_TRUE(cap.contains("PostwingServer, [status = open success]"));

  // The picker confirms: the reply carries the stored handle and the joined lists.
  EXPECT_TRUE(server()->sendSelectedAddr({"a@corp", "张三 <zs@corp>"}, {"c@corp"}, {}));
  PW_Message reply;
  ASSERT_TRUE(a.readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setSelectedAddr");
  EXPECT_EQ(reply.getField("handle"), "655");
  EXPECT_EQ(reply.getField("to"), "a@corp;张三 <zs@corp>");
  EXPECT_EQ(reply.getField("cc"), "c@corp");
  EXPECT_EQ(reply.getField("bcc"), "");  // "bcc=" on the wire, which reads as absent

  // The links go to the clipboard first, then "setAttachment" to the attachment requester.
  w32subst::resetClipboard();
  EXPECT_TRUE(server()->sendAttachment({{"big.zip?2MB", "http://disk/d?id=1"}}, main_));
  ASSERT_TRUE(a.readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setAttachment");
  EXPECT_EQ(reply.getField("handle"), "656");
  EXPECT_EQ(reply.getField("AttachUrl"), "");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(RegisterClipboardFormatA("HTML Format"));
  ASSERT_NE(data, nullptr);
  EXPECT_NE(std::string(static_cast<const char*>(GlobalLock(data))).find("http://disk/d?id=1"), std::string::npos);
  GlobalUnlock(data);
  CloseClipboard();

  // A clipboard that cannot be opened: no "setAttachment".
  w32subst::failNextClipboard(w32subst::ClipboardFault::Open);
  EXPECT_FALSE(server()->sendAttachment({{"b.zip?1MB", "http://disk/d?id=2"}}, main_));

  // A second window asks for the address book on another connection: it replaces the first,
  // which keeps its attachment request. The next units on a prove it got no address reply.
  RawClient b(port_);
  ASSERT_TRUE(b.send(unit("showAddrDialog", {{"handle", "777"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK, 2));
  EXPECT_EQ(server()->pendingAddrHandle(), "777");
  EXPECT_TRUE(server()->sendSelectedAddr({"d@corp"}, {}, {}));
  ASSERT_TRUE(b.readUnit(reply));
  EXPECT_EQ(reply.getField("handle"), "777");
  EXPECT_EQ(reply.getField("to"), "d@corp");
  // Requesters stay after their reply.
  EXPECT_TRUE(server()->sendSelectedAddr({"e@corp"}, {}, {}));
  ASSERT_TRUE(b.readUnit(reply));
  EXPECT_EQ(reply.getField("to"), "e@corp");
  EXPECT_TRUE(server()->sendAttachment({{"c.zip?1MB", "http://disk/d?id=3"}}, main_));
  ASSERT_TRUE(a.readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setAttachment");
  EXPECT_EQ(count(WM_PW_SHOWADDRBOOK), 2);
  EXPECT_EQ(count(WM_PW_SHOWATTACH), 1);
}

TEST_F(ServerTest, AtMostFiftyAddressesOfAFieldAreSent) {
  std::vector<std::string> many;
  for (int i = 0; i < 51; ++i) many.push_back("u" + std::to_string(i) + "@corp");
  std::vector<std::string> fifty(many.begin(), many.begin() + 50);
  EXPECT_EQ(PW_PostwingServer::joinAddresses(many), PW_PostwingServer::joinAddresses(fifty));
  EXPECT_EQ(PW_PostwingServer::joinAddresses({}), "");
  EXPECT_EQ(PW_PostwingServer::joinAddresses({"a"}), "a");
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "1"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_TRUE(server()->sendSelectedAddr(many, many, fifty));
  PW_Message reply;
  ASSERT_TRUE(a.readUnit(reply));
  const std::string to = reply.getField("to");
  EXPECT_EQ(std::count(to.begin(), to.end(), ';'), 49);
  EXPECT_EQ(to.substr(to.rfind(';') + 1), "u49@corp");
  EXPECT_EQ(reply.getField("cc"), to);
  EXPECT_EQ(reply.getField("bcc"), to);
}

TEST_F(ServerTest, ARequesterIsForgottenWhenItsWindowOrItsConnectionCloses) {
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "655"}}) + unit("showAttachDialog", {{"handle", "655"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH));
  // Another window's close changes nothing.
  ASSERT_TRUE(a.send(unit("mailWindowsClosed", {{"handle", "999"}}) + unit("showAttachDialog", {{"handle", "655"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH, 2));
  EXPECT_EQ(server()->pendingAddrHandle(), "655");
  // Its own close forgets both requesters; nothing is sent afterwards.
  ASSERT_TRUE(a.send(unit("mailWindowsClosed", {{"handle", "655"}})));
  ASSERT_TRUE(w32subst::waitUntil([] { return server()->pendingAddrHandle().empty(); }));
  EXPECT_EQ(server()->pendingAttachHandle(), "");
  EXPECT_FALSE(server()->sendSelectedAddr({"a@corp"}, {}, {}));
  EXPECT_FALSE(server()->sendAttachment({{"a?1B", "u"}}, main_));

  // A connection that closes with a request pending takes it along.
  RawClient b(port_);
  ASSERT_TRUE(b.send(unit("showAddrDialog", {{"handle", "700"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK, 2));
  b.close();
  ASSERT_TRUE(w32subst::waitUntil([] { return server()->pendingAddrHandle().empty(); }));
  EXPECT_FALSE(server()->sendSelectedAddr({"a@corp"}, {}, {}));
}

TEST_F(ServerTest, MailSrvStoppedPostsWmCloseToTheMainWindow) {
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("mailSrvStopped", {})));
  ASSERT_TRUE(posted(WM_CLOSE));
  EXPECT_EQ(count(WM_PW_SHOWADDRBOOK), 0);
}

TEST_F(ServerTest, EveryWholeUnitOfAReadIsHandledAndASplitUnitOnceWhole) {
  RawClient a(port_);
  // Two units in one write, then a unit followed at once by the close of the connection.
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "1"}}) + unit("showAttachDialog", {{"handle", "2"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH));
  EXPECT_EQ(server()->pendingAttachHandle(), "2");
  RawClient b(port_);
  ASSERT_TRUE(b.send(unit("showAttachDialog", {{"handle", "3"}})));
  b.close();
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH, 2));

  // One unit, one byte per write: nothing is handled until it is whole, then once.
  const std::string bytes = unit("showAddrDialog", {{"handle", "4"}, {"to", "a b"}});
  RawClient c(port_);
  ASSERT_TRUE(c.sendByteByByte(bytes.substr(0, bytes.size() - 1)));
  // Whatever of it was read so far handled nothing; a whole unit after it on the same
  // connection shows when everything before it was handled (units are handled in order).
  EXPECT_EQ(count(WM_PW_SHOWADDRBOOK), 1);
  ASSERT_TRUE(c.send(bytes.substr(bytes.size() - 1) + unit("mailSrvStopped", {})));
  ASSERT_TRUE(posted(WM_CLOSE));
  EXPECT_EQ(count(WM_PW_SHOWADDRBOOK), 2);
  EXPECT_EQ(server()->pendingAddrHandle(), "4");
  EXPECT_TRUE(connections(2));  // a and c; b has gone
}

TEST_F(ServerTest, BadInputEndsOnlyItsOwnConnection) {
  const std::string good = unit("showAttachDialog", {{"handle", "5"}});
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"a megabyte without a line end", std::string(1024 * 1024, 'x')},
      {"a head line without a blank", "garbage\r\nl:0\r\n\r\n"},
      {"a negative length", "showAddrDialog PW 0.1\r\nl:-1\r\n\r\nhandle=1"},
      {"a length beyond the bound", "showAddrDialog PW 0.1\r\nl:2000000000\r\n\r\nhandle=1"},
      {"a length beyond int", "showAddrDialog PW 0.1\r\nl:99999999999\r\n\r\n"},
      {"a head without an end", "showAddrDialog PW 0.1\r\n" + std::string(8000, 'h')},
  };
  RawClient wellBehaved(port_);
  ASSERT_TRUE(connections(1));
  int attach = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IM_LogCapture cap;
    RawClient bad(port_);
    ASSERT_TRUE(connections(2));
    bad.send(c.bytes);  // may fail once the server has closed
    EXPECT_TRUE(bad.waitClosed());
    EXPECT_TRUE(connections(1));
    EXPECT_TRUE(cap.contains("PostwingServer, [status = closed, reason = malformed unit]"));
    ASSERT_TRUE(wellBehaved.send(good));
    ASSERT_TRUE(posted(WM_PW_SHOWATTACH, ++attach));
  }
  EXPECT_EQ(count(WM_PW_SHOWADDRBOOK), 0);

  // A peer that leaves in the middle of a unit: its bytes are dropped with it.
  {
    RawClient half(port_);
    ASSERT_TRUE(connections(2));
    const std::string bytes = unit("showAddrDialog", {{"handle", "6"}});
    ASSERT_TRUE(half.send(bytes.substr(0, bytes.size() - 3)));
  }
  EXPECT_TRUE(connections(1));
  ASSERT_TRUE(wellBehaved.send(unit("showAddrDialog", {{"handle", "7"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_EQ(server()->pendingAddrHandle(), "7");
  EXPECT_TRUE(server()->sendSelectedAddr({"a@corp"}, {}, {}));
  PW_Message reply;
  ASSERT_TRUE(wellBehaved.readUnit(reply));
  EXPECT_EQ(reply.getField("handle"), "7");
}

TEST_F(ServerTest, AWriteToAPeerThatStoppedReadingFailsWithoutSigpipe) {
  // A socket pair whose far end shuts down reading makes every write fail with EPIPE at once,
  // which raises SIGPIPE (and ends this test program) unless the server suppresses it.
  IM_LogCapture cap;
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  ACE::set_flags(sv[0], ACE_NONBLOCK);
  PW_AddinUiSvrHandler* handler = new PW_AddinUiSvrHandler();
  handler->reactor(PW_ServerTask::instance()->reactor());
  handler->peer().set_handle(sv[0]);
  ASSERT_EQ(handler->open(0), 0);
  const std::string request = unit("showAddrDialog", {{"handle", "42"}});
  ASSERT_EQ(::send(sv[1], request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  ASSERT_EQ(::shutdown(sv[1], SHUT_RD), 0);
  EXPECT_TRUE(server()->sendSelectedAddr({"a@corp"}, {}, {}));  // queued
  // The write fails, the connection closes and its requester is forgotten.
  ASSERT_TRUE(w32subst::waitUntil([] { return server()->pendingAddrHandle().empty(); }));
  EXPECT_TRUE(cap.contains("sendData failed, reason = send failed"));
  EXPECT_FALSE(server()->sendSelectedAddr({"a@corp"}, {}, {}));
  ::close(sv[1]);
}

TEST_F(ServerTest, APeerThatNeverReadsMakesRepliesFailWithoutBlocking) {
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "1"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  std::vector<std::string> to(50, std::string(100, 'a') + "@corp");
  int sent = 0;
  // Each reply is about 5 KiB; the queue takes 256 KiB beyond the socket buffers.
  while (sent < 2000 && server()->sendSelectedAddr(to, {}, {})) ++sent;
  EXPECT_LT(sent, 2000);
  EXPECT_GT(sent, 10);
  // The connection stays usable once the peer reads again.
  PW_Message reply;
  ASSERT_TRUE(a.readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setSelectedAddr");
}

TEST_F(ServerTest, StopClosesConnectionsAndTheServerStartsAgain) {
  RawClient a(port_);
  ASSERT_TRUE(a.send(unit("showAddrDialog", {{"handle", "1"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  const int oldPort = port_;
  server()->stop();
  EXPECT_FALSE(PW_ServerTask::instance()->running());
  EXPECT_FALSE(PW_HookManager::instance()->running());
  EXPECT_TRUE(a.waitClosed());
  EXPECT_EQ(server()->connectionCount(), 0);
  EXPECT_EQ(server()->pendingAddrHandle(), "");
  EXPECT_EQ(server()->listenPort(), 0);
  EXPECT_FALSE(RawClient(oldPort).ok());
  server()->stop();  // twice is harmless

  ASSERT_EQ(server()->start(), 0);
  port_ = server()->listenPort();
  RawClient b(port_);
  ASSERT_TRUE(b.send(unit("showAddrDialog", {{"handle", "2"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK, 2));
  EXPECT_TRUE(server()->sendSelectedAddr({"x@corp"}, {}, {}));
  PW_Message reply;
  ASSERT_TRUE(b.readUnit(reply));
  EXPECT_EQ(reply.getField("handle"), "2");
}

TEST(ServerStart, APortThatCannotBeOpenedIsReported) {
  // Hold a port, then point the server at it.
  ACE_SOCK_Acceptor holder;
  ASSERT_EQ(holder.open(ACE_INET_Addr(u_short(0), ACE_UINT32(INADDR_LOOPBACK))), 0);
  ACE_INET_Addr held;
  holder.get_local_addr(held);
  Config::instance()->setValue("COMMON", "listenPort", std::to_string(held.get_port_number() + 65536));
  IM_LogCapture cap;
  EXPECT_EQ(server()->start(), -1);
  EXPECT_TRUE(cap.contains("PostwingServer, [status = listen failed, port = " +
                           std::to_string(held.get_port_number())));
  EXPECT_EQ(server()->listenPort(), 0);
  server()->stop();
  holder.close();
  Config::instance()->removeValue("COMMON", "listenPort");
}

TEST_F(ServerTest, ConnectionsThatComeAndGoWhileRepliesAreSentLeaveNothingBehind) {
  // Replies queued for connections that close meanwhile (and notifications still pending for
  // their handlers) must not reach a deleted handler. Each client thread asks, has replies sent
  // from its own thread to whoever is pending, and leaves, some with a reset.
  std::atomic<int> replies{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < 50; ++i) {
        RawClient client(port_);
        if (!client.ok()) continue;
        const std::string handle = std::to_string(c * 100 + i);
        client.send(unit("showAddrDialog", {{"handle", handle}}) + unit("showAttachDialog", {{"handle", handle}}));
        // Most of the time the request is stored before the replies go (another client's may
        // already have replaced it).
        w32subst::waitUntil([&] { return server()->pendingAttachHandle() == handle; }, 200);
        for (int k = 0; k < 3; ++k) {
          replies += server()->sendSelectedAddr({"a@corp"}, {}, {}) ? 1 : 0;
          replies += server()->sendAttachment({{"f?1B", "http://disk/1"}}, nullptr) ? 1 : 0;
        }
        if (i % 3 == 0) {
          linger reset = {1, 0};  // leave with a reset: pending writes then fail
          client.stream().set_option(SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_GT(replies.load(), 0);
  EXPECT_TRUE(connections(0));
  // Still serving.
  RawClient last(port_);
  ASSERT_TRUE(last.send(unit("showAddrDialog", {{"handle", "last"}})));
  ASSERT_TRUE(w32subst::waitUntil([] { return server()->pendingAddrHandle() == "last"; }));
  EXPECT_TRUE(server()->sendSelectedAddr({"z@corp"}, {}, {}));
  PW_Message reply;
  ASSERT_TRUE(last.readUnit(reply));
  EXPECT_EQ(reply.getField("handle"), "last");
}

// Agents wait on an idle connection while their dialog is open, and anything on the machine
// can open local connections: with thousands of idle ones open, every one stays open and a
// new agent is still served.
TEST_F(ServerTest, ThousandsOfIdleConnectionsStayOpenAndANewAgentIsServed) {
  const int kIdle = 3000;
  rlimit limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  // Both ends of each connection live in this process.
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < rlim_t(2 * kIdle + 512)) {
    GTEST_SKIP() << "the system allows only " << limit.rlim_cur << " descriptors";
  }
  struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
      for (int fd : fds) ::close(fd);
    }
  } idle;
  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(u_short(port_));
  for (int i = 0; i < kIdle; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0) << "connection " << i;
    idle.fds.push_back(fd);
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to)) << "connection " << i;
  }
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->connectionCount() == kIdle; }, 30000))
      << server()->connectionCount() << " of " << kIdle << " connections held";

  RawClient agent(port_);
  ASSERT_TRUE(agent.ok());
  ASSERT_TRUE(agent.send(unit("showAddrDialog", {{"handle", "4242"}})));
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_EQ(server()->pendingAddrHandle(), "4242");
  EXPECT_TRUE(server()->sendSelectedAddr({"a@corp"}, {}, {}));
  PW_Message reply;
  ASSERT_TRUE(agent.readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setSelectedAddr");
  EXPECT_EQ(reply.getField("handle"), "4242");

  // No idle connection was cut.
  EXPECT_EQ(server()->connectionCount(), kIdle + 1);
  for (int i = 0; i < kIdle; i += 97) {
    char byte;
    EXPECT_EQ(-1, ::recv(idle.fds[i], &byte, 1, MSG_DONTWAIT)) << "connection " << i << " was closed";
    EXPECT_EQ(EAGAIN, errno);
  }
  for (int fd : idle.fds) ::close(fd);
  idle.fds.clear();
  EXPECT_TRUE(w32subst::waitUntil([] { return server()->connectionCount() == 1; }, 30000));
}

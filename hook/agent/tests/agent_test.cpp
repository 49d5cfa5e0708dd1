// The hook-side agent against a scripted loopback peer that plays the desktop program's
// server byte by byte: framing of replies, routing by handle, connect failures, a server that
// goes away, and writes to a closed connection.
#include "hook/PostwingUiAgent.h"
#include "hook/PostwingWindRegistry.h"

#include <gtest/gtest.h>

#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>
#include <ace/SOCK_Stream.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const DWORD kMail = 300;

std::string unitOf(const std::string& command, const std::string& body) {
  return command + " PW 0.1\r\nl:" + std::to_string(body.size()) + "\r\n\r\n" + body;
}
std::string handleOf(HWND root) { return std::to_string((long)(intptr_t)root); }
// A "setSelectedAddr" (values without characters that need escaping).
std::string addrUnit(HWND root, const std::string& to, const std::string& bcc = "b") {
  return unitOf("setSelectedAddr", "bcc=" + bcc + "&handle=" + handleOf(root) + "&to=" + to);
}

// The desktop program's end, scripted by the test.
class ScriptedServer {
 public:
  ScriptedServer() {
    acceptor_.open(ACE_INET_Addr(u_short(0), ACE_UINT32(INADDR_LOOPBACK)), 1);
    ACE_INET_Addr addr;
    acceptor_.get_local_addr(addr);
    port_ = addr.get_port_number();
  }
  ~ScriptedServer() {
    peer_.close();
    acceptor_.close();
  }
  int port() const { return port_; }
  bool accept() {  // a new connection: what the last one brought is forgotten
    peer_.close();
    received_.clear();
    ACE_Time_Value timeout(5);
    return acceptor_.accept(peer_, 0, &timeout) == 0;
  }
  bool send(const std::string& bytes) {
    ACE_Time_Value timeout(5);
    return peer_.send_n(bytes.data(), bytes.size(), MSG_NOSIGNAL, &timeout) == ssize_t(bytes.size());
  }
  // Reads until `text` has arrived (5 s at most).
  bool receive(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received_.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      char chunk[4096];
      ACE_Time_Value timeout(0, 100 * 1000);
      const ssize_t n = peer_.recv(chunk, sizeof chunk, &timeout);
      if (n == 0) break;
      if (n > 0) received_.append(chunk, std::size_t(n));
    }
    return received_.find(text) != std::string::npos;
  }
  void closePeer() { peer_.close(); }
  void stopListening() { acceptor_.close(); }

 private:
  ACE_SOCK_Acceptor acceptor_;
  ACE_SOCK_Stream peer_;
  int port_ = 0;
  std::string received_;
};

// Records the "to" list of each delivery (which ends with its "bcc" list).
class RecordingWind : public PostwingWind {
 public:
  explicit RecordingWind(HWND root) : PostwingWind(root, KIND_FOXMAIL7) {}
  int fillTo(const std::string& list) override {
    std::lock_guard<std::mutex> g(m_);
    to_ = list;
    return 0;
  }
  int fillBcc(const std::string&) override {
    std::lock_guard<std::mutex> g(m_);
    done_.push_back(to_);
    cv_.notify_all();
    return 0;
  }
  bool waitFor(const std::string& to) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::seconds(5), [&] { return !done_.empty() && done_.back() == to; });
  }
  std::vector<std::string> deliveries() {
    std::lock_guard<std::mutex> g(m_);
    return done_;
  }
  void clear() {
    std::lock_guard<std::mutex> g(m_);
    done_.clear();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::string to_;
  std::vector<std::string> done_;
};

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mail_.reset(new w32subst::UiThread(kMail));
    root_ = mail_->call([] {
      WNDCLASSEXA wc = {};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = plainProc;
      wc.lpszClassName = "PwAgentTestWindow";
      RegisterClassExA(&wc);
      return CreateWindowExA(0, "PwAgentTestWindow", "compose", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    });
    wind_ = std::make_shared<RecordingWind>(root_);
    w32subst::ProcessLocal<PostwingWindRegistry>::getFor(kMail).addWind(wind_, false);
    agent_.reset(mail_->call([] { return new PostwingUiAgent(); }));
    w32subst::clearDebugLines();
  }
  void TearDown() override {
    agent_.reset();  // joins its receive threads
    w32subst::ProcessLocal<PostwingWindRegistry>::getFor(kMail).removeWind((long)(intptr_t)root_);
    mail_->run([this] { DestroyWindow(root_); });
    mail_.reset();
    PostwingUiAgent::setPortOverride(0);
  }
  // Requests are made on the mail client's UI thread; the receive thread belongs to its process.
  int connect(int port, bool thread) {
    return mail_->call([&] { return agent_->connectUI(port, thread); });
  }
  int askAddr() {
    return mail_->call([this] { return agent_->showAddrDialog("", "", "", root_); });
  }
  static bool debugSeen(const std::string& fragment) {
    return w32subst::waitUntil([&] { return w32subst::debugContains(fragment); });
  }

  std::unique_ptr<w32subst::UiThread> mail_;
  HWND root_ = nullptr;
  std::shared_ptr<RecordingWind> wind_;
  std::unique_ptr<PostwingUiAgent> agent_;
};

}  // namespace

TEST_F(AgentTest, EveryWholeReplyIsDeliveredAndBadBytesAreDroppedWithoutStoppingTheAgent) {
  ScriptedServer server;
  ASSERT_EQ(connect(server.port(), true), 0);
  ASSERT_TRUE(server.accept());
  const std::string cut = addrUnit(root_, "cut");
  struct Case {
    const char* name;
    std::vector<std::string> writes;
    std::vector<std::string> delivered;  // the "to" lists, in order
    const char* debugLine;               // written before the next case may start
  } cases[] = {
      {"two replies in one write", {addrUnit(root_, "x") + addrUnit(root_, "y")}, {"x", "y"}, nullptr},
      {"a reply cut inside its body", {cut.substr(0, cut.size() - 4), cut.substr(cut.size() - 4)}, {"cut"}, nullptr},
      {"a reply longer than the first buffer", {addrUnit(root_, std::string(20000, 'L'))}, {std::string(20000, 'L')},
       nullptr},
      {"leading empty lines", {"\r\n" + addrUnit(root_, "lost")}, {}, "PostwingUiAgent::handle_input. PW_Message decode error"},
      {"a negative length", {"setSelectedAddr PW 0.1\r\nl:-1\r\n\r\nto=a&bcc=b"}, {},
       "PostwingUiAgent::handle_input. PW_Message decode error"},
      {"a handle no window has", {addrUnit((HWND)(intptr_t)987654, "nobody")}, {},
       "PostwingUiAgent::onAddrSelected. no window:987654"},
      {"another command", {unitOf("showAddrDialog", "handle=" + handleOf(root_))}, {},
       "PostwingUiAgent::handle_input. Message Type:showAddrDialog"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wind_->clear();
    w32subst::clearDebugLines();
    for (const std::string& w : c.writes) {
      ASSERT_TRUE(server.send(w));
    }
    if (c.debugLine) {
      ASSERT_TRUE(debugSeen(c.debugLine));
    }
    // A well-formed reply afterwards is delivered, after everything the case delivered.
    ASSERT_TRUE(server.send(addrUnit(root_, "next")));
    ASSERT_TRUE(wind_->waitFor("next"));
    std::vector<std::string> expected(c.delivered);
    expected.push_back("next");
    EXPECT_EQ(wind_->deliveries(), expected);
  }
  EXPECT_TRUE(agent_->receiving());
}

TEST_F(AgentTest, AnAttachmentReplyIsHandedToItsWindow) {
  ScriptedServer server;
  ASSERT_EQ(connect(server.port(), true), 0);
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(server.send(unitOf("setAttachment", "AttachUrl=&handle=" + handleOf(root_))));
  EXPECT_TRUE(debugSeen("PostwingUiAgent::handle_input. PW_SET_ATTACHMENT. hwnd:" + handleOf(root_) + ",attachUrl:"));
  EXPECT_TRUE(debugSeen("PostwingUiAgent::onAttachSelected"));
  ASSERT_TRUE(server.send(unitOf("setAttachment", "AttachUrl=&handle=55")));
  EXPECT_TRUE(debugSeen("PostwingUiAgent::onAttachSelected. no window:55"));
}

TEST_F(AgentTest, RequestsFailWhileNobodyListensAndConnectOnceTheServerRuns) {
  int closedPort;
  {
    ScriptedServer gone;
    closedPort = gone.port();
  }
  PostwingUiAgent::setPortOverride(closedPort);
  EXPECT_EQ(askAddr(), -1);
  EXPECT_FALSE(agent_->connected());
  ScriptedServer server;
  PostwingUiAgent::setPortOverride(server.port());
  ASSERT_EQ(askAddr(), 0);
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(server.receive(unitOf("showAddrDialog", "bcc=&cc=&handle=" + handleOf(root_) + "&to=")));
  EXPECT_TRUE(agent_->receiving());
  ASSERT_TRUE(server.send(addrUnit(root_, "a")));
  EXPECT_TRUE(wind_->waitFor("a"));
}

TEST_F(AgentTest, WhenTheServerClosesTheReceiveThreadEndsAndTheNextRequestConnectsAnew) {
  ScriptedServer server;
  PostwingUiAgent::setPortOverride(server.port());
  ASSERT_EQ(askAddr(), 0);
  ASSERT_TRUE(server.accept());
  server.closePeer();
  ASSERT_TRUE(w32subst::waitUntil([this] { return !agent_->receiving() && !agent_->connected(); }));
  // The thread writes its last line after giving the connection up.
  EXPECT_TRUE(w32subst::waitUntil([] { return debugSeen("end recvThread"); }));
  ASSERT_EQ(mail_->call([this] { return agent_->showAttachDialog(root_); }), 0);
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(server.receive(unitOf("showAttachDialog", "handle=" + handleOf(root_))));
  ASSERT_TRUE(server.send(addrUnit(root_, "again")));
  EXPECT_TRUE(wind_->waitFor("again"));
}

// The process's agent is shut down when its last window has gone; a close that comes after
// that must not connect again (nothing would ever close that connection), while a request for
// a dialog connects as before, and so does the close of a window that took the agent anew.
TEST_F(AgentTest, AfterShutdownACloseConnectsOnlyForAWindowThatTookTheAgentAnew) {
  ScriptedServer server;
  PostwingUiAgent::setPortOverride(server.port());
  ASSERT_EQ(askAddr(), 0);
  ASSERT_TRUE(server.accept());
  mail_->run([this] { agent_->shutdown(); });
  EXPECT_EQ(mail_->call([this] { return agent_->closeDialog(root_); }), -1);
  EXPECT_EQ(connect(server.port(), false), -1);
  EXPECT_FALSE(agent_->connected());
  EXPECT_EQ(agent_->get_handle(), ACE_INVALID_HANDLE);
  ASSERT_EQ(askAddr(), 0);
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(server.receive(unitOf("showAddrDialog", "bcc=&cc=&handle=" + handleOf(root_) + "&to=")));
  EXPECT_EQ(mail_->call([this] { return agent_->closeDialog(root_); }), 0);
  EXPECT_TRUE(server.receive(unitOf("mailWindowsClosed", "handle=" + handleOf(root_))));

  mail_->run([this] { agent_->shutdown(); });
  EXPECT_EQ(mail_->call([this] { return agent_->closeDialog(root_); }), -1);
  mail_->run([this] { agent_->reopen(); });  // a new compose window attached
  EXPECT_EQ(mail_->call([this] { return agent_->closeDialog(root_); }), 0);
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(server.receive(unitOf("mailWindowsClosed", "handle=" + handleOf(root_))));
  EXPECT_FALSE(agent_->receiving());  // a close waits for no reply
}

TEST_F(AgentTest, ASendToAClosedConnectionFailsWithoutSigpipe) {
  // Connected without a receive thread (as a window's close does), the server goes away: the
  // sends fail (EPIPE, which raises SIGPIPE unless suppressed) and nothing stays connected.
  ScriptedServer server;
  ASSERT_EQ(connect(server.port(), false), 0);
  ASSERT_TRUE(server.accept());
  server.closePeer();
  server.stopListening();
  int result = 0;
  for (int i = 0; i < 100 && result == 0; ++i) result = mail_->call([this] { return agent_->closeDialog(root_); });
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(w32subst::debugContains("send message is error"));
  EXPECT_FALSE(agent_->connected());
  EXPECT_EQ(agent_->get_handle(), ACE_INVALID_HANDLE);
}

// One compose window's request is stuck in a send to a desktop program that does not read
// (the agent keeps its connection busy for up to five seconds). A new compose window of the
// same process registers meanwhile, taking the process's agent: the registration, which the
// hook procedures of the process wait for through the registry, must not wait for that send.
TEST_F(AgentTest, ARegistrationWithTheAgentNeverWaitsForASendInProgress) {
  PostwingUiAgent& processAgent = w32subst::ProcessLocal<PostwingUiAgent>::getFor(kMail);
  PostwingWindRegistry& registry = w32subst::ProcessLocal<PostwingWindRegistry>::getFor(kMail);
  std::unique_ptr<ScriptedServer> server(new ScriptedServer());
  PostwingUiAgent::setPortOverride(server->port());
  // Far more than the two socket buffers hold while nobody reads.
  const std::string longList(900 * 1024, 'a');
  std::atomic<bool> sendDone{false};
  int sendResult = 0;
  std::thread sender([&] {
    sendResult = mail_->call([&] { return processAgent.showAddrDialog(longList, "", "", root_); });
    sendDone = true;
  });
  struct Join {
    std::thread& t;
    ~Join() {
      if (t.joinable()) t.join();  // the send gives up within 5 s
    }
  } joinSender{sender};
  // The agent holds its lock from here to the end of the send.
  ASSERT_TRUE(debugSeen("PostwingUiAgent::sendMessage"));
  ASSERT_TRUE(server->accept());  // accepted, never read

  w32subst::UiThread other(kMail);  // a second UI thread of the mail client
  auto second = std::make_shared<RecordingWind>((HWND)(intptr_t)424242);
  const auto start = std::chrono::steady_clock::now();
  const int added = other.call([&] { return registry.addWind(second, true); });
  const long long tookMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const bool sendStillBlocked = !sendDone;
  EXPECT_EQ(added, 0);
  EXPECT_TRUE(second->hasAgent());
  EXPECT_LT(tookMs, 1000);  // against a send that gives up after 5 s
  EXPECT_TRUE(sendStillBlocked);

  server->closePeer();  // unread bytes: a reset that fails the send at once
  sender.join();
  EXPECT_EQ(sendResult, -1);
  server.reset();  // the window's close finds nobody listening
  other.run([&] { registry.removeWind((long)(intptr_t)second->root()); });
  processAgent.shutdown();
}

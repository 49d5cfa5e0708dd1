// Both ends of the local bridge over real loopback sockets: the hook library's agent inside a
// simulated mail-client process (200) and the local server inside the desktop process (100).
#include "BridgeTestSupport.h"

#include "bridge/PW_PostwingServer.h"
#include "hook/PostwingHook.h"
#include "hook/PostwingUiAgent.h"
#include "hook/PostwingWindRegistry.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace bridgetest;

namespace {

PW_PostwingServer* server() { return PW_PostwingServer::instance(); }
PostwingWindRegistry& registryOf(DWORD pid) { return w32subst::ProcessLocal<PostwingWindRegistry>::getFor(pid); }
PostwingUiAgent* mailAgent() { return &w32subst::ProcessLocal<PostwingUiAgent>::getFor(kMailPid); }
long rootNumber(HWND root) { return (long)(intptr_t)root; }

class BridgeRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    Config::instance()->setValue("COMMON", "listenPort", "0");
    desktop_.reset(new w32subst::UiThread(kDesktopPid));
    mail_.reset(new w32subst::UiThread(kMailPid));
    main_ = desktop_->call([] { return makeRecordingWindow("main"); });
    rootA_ = mail_->call([] { return makeRecordingWindow("compose A"); });
    rootB_ = mail_->call([] { return makeRecordingWindow("compose B"); });
    PostedLog::instance().clear();
    w32subst::clearDebugLines();
    server()->setMainWindow(main_);
    startServer();
    // The mail client's objects (with the process's agent) and the desktop's (made by the poll).
    windA_ = std::make_shared<RecordingWind>(rootA_);
    windB_ = std::make_shared<RecordingWind>(rootB_);
    mail_->run([this] {
      registryOf(kMailPid).addWind(windA_, true);
      registryOf(kMailPid).addWind(windB_, true);
    });
    registryOf(kDesktopPid).addWind(std::make_shared<RecordingWind>(rootA_), false);
    registryOf(kDesktopPid).addWind(std::make_shared<RecordingWind>(rootB_), false);
  }
  void TearDown() override {
    mailAgent()->shutdown();
    registryOf(kDesktopPid).removeWind(rootNumber(rootA_));
    registryOf(kDesktopPid).removeWind(rootNumber(rootB_));
    server()->stop();
    mail_->run([this] {
      registryOf(kMailPid).removeWind(rootNumber(rootA_));
      registryOf(kMailPid).removeWind(rootNumber(rootB_));
      DestroyWindow(rootA_);
      DestroyWindow(rootB_);
    });
    mailAgent()->shutdown();
    server()->setMainWindow(nullptr);
    desktop_->run([this] { DestroyWindow(main_); });
    mail_.reset();
    desktop_.reset();
    PostwingUiAgent::setPortOverride(0);
    Config::instance()->removeValue("COMMON", "listenPort");
  }
  void startServer() {
    ASSERT_EQ(server()->start(), 0);
    PostwingUiAgent::setPortOverride(server()->listenPort());
  }
  // A request from the mail client's UI thread, as its window procedures make them.
  int askAddr(HWND root) {
    return mail_->call([root] { return PostwingUiAgent::instance()->showAddrDialog("", "", "", root); });
  }
  int askAttach(HWND root) {
    return mail_->call([root] { return PostwingUiAgent::instance()->showAttachDialog(root); });
  }
  bool posted(UINT msg, int n = 1) { return PostedLog::instance().waitFor(main_, msg, n); }

  std::unique_ptr<w32subst::UiThread> desktop_, mail_;
  HWND main_ = nullptr, rootA_ = nullptr, rootB_ = nullptr;
  std::shared_ptr<RecordingWind> windA_, windB_;
};

}  // namespace

TEST_F(BridgeRoad, AddressRequestReachesTheMainWindowAndTheChosenAddressesReachTheWindowThatAsked) {
  ASSERT_EQ(askAddr(rootA_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_EQ(server()->pendingAddrHandle(), handleText(rootA_));
  EXPECT_TRUE(mailAgent()->receiving());

  ASSERT_TRUE(server()->sendSelectedAddr({"a@corp", "张三 <zs@corp>"}, {"c@corp"}, {"d@corp"}));
  ASSERT_TRUE(windA_->waitDeliveries(1));
  RecordingWind::Delivery d = windA_->deliveries()[0];
  EXPECT_EQ(d.to, "a@corp;张三 <zs@corp>");
  EXPECT_EQ(d.cc, "c@corp");
  EXPECT_EQ(d.bcc, "d@corp");
  EXPECT_NE(d.threadId, mail_->threadId());  // the agent's receive thread
  EXPECT_NE(d.threadId, GetCurrentThreadId());

  // Another compose window asks: it replaces the first; only it gets the next reply.
  ASSERT_EQ(askAddr(rootB_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK, 2));
  EXPECT_EQ(server()->pendingAddrHandle(), handleText(rootB_));
  ASSERT_TRUE(server()->sendSelectedAddr({"b@corp"}, {}, {"e@corp"}));
  ASSERT_TRUE(windB_->waitDeliveries(1));
  EXPECT_EQ(windB_->deliveries()[0].to, "b@corp");
  EXPECT_EQ(windA_->deliveries().size(), 1u);
}

TEST_F(BridgeRoad, AttachmentRequestAndReplyTravelTheSameWay) {
  ASSERT_EQ(askAttach(rootA_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWATTACH));
  EXPECT_EQ(server()->pendingAttachHandle(), handleText(rootA_));
  w32subst::resetClipboard();
  ASSERT_TRUE(server()->sendAttachment({{"big.zip?2MB", "http://disk/d?id=1"}}, main_));
  const std::string line = "PostwingUiAgent::handle_input. PW_SET_ATTACHMENT. hwnd:" + handleText(rootA_) + ",attachUrl:";
  EXPECT_TRUE(w32subst::waitUntil([&] { return w32subst::debugContains(line); }));
}

TEST_F(BridgeRoad, AClosedComposeWindowIsForgottenByTheServerAndDroppedByTheHookLibrary) {
  ASSERT_EQ(askAddr(rootA_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  ASSERT_NE(registryOf(kDesktopPid).find(rootNumber(rootA_)), nullptr);
  // The mail client removes its object when the window goes: "mailWindowsClosed" travels.
  mail_->run([this] { registryOf(kMailPid).removeWind(rootNumber(rootA_)); });
  // The server calls closeWind in the desktop process: the poll's object goes.
  ASSERT_TRUE(w32subst::waitUntil([this] { return registryOf(kDesktopPid).find(rootNumber(rootA_)) == nullptr; }));
  EXPECT_EQ(server()->pendingAddrHandle(), "");
  EXPECT_FALSE(server()->sendSelectedAddr({"a@corp"}, {}, {"x"}));
  EXPECT_NE(registryOf(kDesktopPid).find(rootNumber(rootB_)), nullptr);
}

TEST_F(BridgeRoad, AWindowClosedBeforeAnyRequestStillLeavesTheAgentReadingReplies) {
  // The close connects without a receive thread...
  mail_->run([this] { registryOf(kMailPid).removeWind(rootNumber(rootA_)); });
  ASSERT_TRUE(w32subst::waitUntil([this] { return registryOf(kDesktopPid).find(rootNumber(rootA_)) == nullptr; }));
  EXPECT_TRUE(mailAgent()->connected());
  EXPECT_FALSE(mailAgent()->receiving());
  // ...and the next request on that connection starts one, so its reply is read.
  ASSERT_EQ(askAddr(rootB_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  EXPECT_TRUE(mailAgent()->receiving());
  ASSERT_TRUE(server()->sendSelectedAddr({"b@corp"}, {}, {"e@corp"}));
  ASSERT_TRUE(windB_->waitDeliveries(1));
}

TEST_F(BridgeRoad, TheAgentReconnectsAtTheNextRequestAfterTheServerWentAway) {
  ASSERT_EQ(askAddr(rootA_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  server()->stop();
  // The receive thread ends at once and the connection is given up.
  ASSERT_TRUE(w32subst::waitUntil([] { return !mailAgent()->connected() && !mailAgent()->receiving(); }));
  // The thread writes its last line just after it gave the connection up.
  EXPECT_TRUE(w32subst::waitUntil([] { return w32subst::debugContains("end recvThread"); }));
  // Nobody listens: the request fails and nothing else happens.
  EXPECT_EQ(askAddr(rootA_), -1);
  // The desktop program runs again: the very next request connects and gets its reply.
  startServer();
  ASSERT_EQ(askAddr(rootA_), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK, 2));
  ASSERT_TRUE(server()->sendSelectedAddr({"a@corp"}, {}, {"z"}));
  ASSERT_TRUE(windA_->waitDeliveries(1));
}

namespace {
// Blocks inside the delivery until released, and tells when it is destroyed.
class BlockingWind : public RecordingWind {
 public:
  BlockingWind(HWND root, std::atomic<bool>* destroyed) : RecordingWind(root), destroyed_(destroyed) {}
  ~BlockingWind() override { *destroyed_ = true; }
  int fillTo(const std::string& list) override {
    std::unique_lock<std::mutex> g(m_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait_for(g, std::chrono::seconds(5), [this] { return released_; });
    alive_ = !*destroyed_;
    return RecordingWind::fillTo(list);
  }
  bool waitEntered() {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::seconds(5), [this] { return entered_; });
  }
  void release() {
    std::lock_guard<std::mutex> g(m_);
    released_ = true;
    cv_.notify_all();
  }
  std::atomic<bool> alive_{false};

 private:
  std::atomic<bool>* destroyed_;
  std::mutex m_;
  std::condition_variable cv_;
  bool entered_ = false, released_ = false;
};
}  // namespace

TEST_F(BridgeRoad, AWindowRemovedWhileTheReceiveThreadDeliversToItLivesUntilTheDeliveryEnds) {
  std::atomic<bool> destroyed{false};
  HWND root = mail_->call([] { return makeRecordingWindow("compose C"); });
  auto wind = std::make_shared<BlockingWind>(root, &destroyed);
  BlockingWind* raw = wind.get();
  mail_->run([&] { registryOf(kMailPid).addWind(wind, true); });
  wind.reset();  // the registry owns it
  ASSERT_EQ(askAddr(root), 0);
  ASSERT_TRUE(posted(WM_PW_SHOWADDRBOOK));
  ASSERT_TRUE(server()->sendSelectedAddr({"a@corp"}, {}, {"b@corp"}));
  ASSERT_TRUE(raw->waitEntered());
  // The compose window closes on the UI thread while the receive thread is inside fillTo.
  mail_->run([&] {
    registryOf(kMailPid).removeWind(rootNumber(root));
    DestroyWindow(root);
  });
  EXPECT_FALSE(destroyed);
  raw->release();
  ASSERT_TRUE(w32subst::waitUntil([&] { return destroyed.load(); }));
}

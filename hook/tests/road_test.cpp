// The whole road through the simulated mail clients: the desktop's local server (with its
// hook-manager thread polling) in simulated process 100, a mail client in a process of its
// own. Clicks on the controls the library added or intercepted become requests on a real
// loopback connection; the server's replies are typed into the recipient fields or pasted
// into the body; closing the compose window tells the desktop.
#include "bridge/PW_PostwingServer.h"
#include "hook/PostwingHook.h"
#include "hook/PostwingUiAgent.h"
#include "hook/PostwingWindRegistry.h"
#include "testing/FakeMailClient.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

using namespace pwtest;
using w32subst::waitUntil;

namespace {
const DWORD kDesktop = 100;
std::atomic<DWORD> g_nextPid{400};

PW_PostwingServer* server() { return PW_PostwingServer::instance(); }
PostwingWindRegistry& registryOf(DWORD pid) { return w32subst::ProcessLocal<PostwingWindRegistry>::getFor(pid); }
long num(HWND h) { return (long)(intptr_t)h; }

std::atomic<int> g_addrPosts{0}, g_attachPosts{0};
LRESULT CALLBACK mainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PW_SHOWADDRBOOK) g_addrPosts++;
  if (m == WM_PW_SHOWATTACH) g_attachPosts++;
  return DefWindowProcA(h, m, w, l);
}

// The menu the user sees: the next pick (0 dismisses).
std::atomic<UINT> g_pick{0};

class Road : public ::testing::Test {
 protected:
  DWORD pid_ = g_nextPid.fetch_add(10);

  void SetUp() override {
    w32subst::setScreenSize(1920, 1080);
    w32subst::clearDebugLines();
    PostwingWindRegistry::setPollPeriodMs(50);
    Config::instance()->setValue("COMMON", "listenPort", "0");
    desktop_.reset(new w32subst::UiThread(kDesktop));
    main_ = desktop_->call([] {
      WNDCLASSEXA wc = {};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = mainProc;
      wc.lpszClassName = "PwRoadMain";
      RegisterClassExA(&wc);
      return CreateWindowExA(0, "PwRoadMain", "main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                             nullptr, nullptr);
    });
    g_addrPosts = 0;
    g_attachPosts = 0;
    g_pick = 0;
    w32subst::setMenuDriver([](const w32subst::MenuShown&) { return g_pick.load(); });
    w32subst::clearShownMenus();
    server()->setMainWindow(main_);
    ASSERT_EQ(server()->start(), 0);
    PostwingUiAgent::setPortOverride(server()->listenPort());
    taskbar_.reset(new FakeTaskbar());
    mail_.reset(new FakeMailClient(pid_));
  }

  void TearDown() override {
    mail_.reset();  // its compose windows close while the server still listens
    w32subst::ProcessLocal<PostwingUiAgent>::getFor(pid_).shutdown();
    server()->stop();
    server()->setMainWindow(nullptr);
    w32subst::setCurrentProcessId(kDesktop);
    registryOf(kDesktop).dropDeadRoots();
    taskbar_.reset();
    desktop_->run([this] { DestroyWindow(main_); });
    desktop_.reset();
    w32subst::setMenuDriver(nullptr);
    w32subst::resetClipboard();
    PostwingUiAgent::setPortOverride(0);
    PostwingWindRegistry::setPollPeriodMs(500);
    Config::instance()->removeValue("COMMON", "listenPort");
  }

  // Opens a compose window, waits until the desktop's poll has hooked it, then makes the
  // first CBT event on the mail client's thread, which builds the in-process object.
  std::shared_ptr<PostwingWind> open(MailKind kind, ComposeWindow* w, ComposeOptions o = ComposeOptions()) {
    *w = mail_->openCompose(kind, o);
    HWND root = w->root;
    auto shared = [kind] { return kind == MailKind::Outlook ? g_hOutlookHwnd.load() : g_hFoxmailHwnd.load(); };
    bool hooked = waitUntil([&] {
      return registryOf(kDesktop).find(num(root)) != nullptr && shared() == (uint32_t)(uintptr_t)root;
    });
    EXPECT_TRUE(hooked);
    HWND editor = w->editor;
    mail_->run([editor] { SetFocus(editor); });
    return registryOf(pid_).find(num(root));
  }

  std::unique_ptr<w32subst::UiThread> desktop_;
  std::unique_ptr<FakeTaskbar> taskbar_;
  std::unique_ptr<FakeMailClient> mail_;
  HWND main_ = nullptr;
};

std::vector<HWND> buttonsIn(HWND parent) {
  std::vector<HWND> out;
  for (HWND b = FindWindowExA(parent, nullptr, "Button", nullptr); b; b = FindWindowExA(parent, b, "Button", nullptr))
    out.push_back(b);
  return out;
}

UINT bitmapOf(HWND button) {
  w32subst::BitmapInfo info;
  HBITMAP image = (HBITMAP)SendMessageA(button, BM_GETIMAGE, IMAGE_BITMAP, 0);
  return w32subst::bitmapInfo(image, &info) ? info.resourceId : 0;
}
}  // namespace

TEST_F(Road, Foxmail7ButtonsAskForBothDialogsAndTheRepliesLandInTheComposeWindow) {
  ComposeWindow w;
  auto wind = open(MailKind::Foxmail7, &w);
  ASSERT_NE(wind, nullptr);
  EXPECT_TRUE(wind->hasAgent());
  // The controls it learned and the buttons it added to the toolbar's panel.
  PostwingWind::Controls c = wind->controls();
  EXPECT_EQ(c.container, w.container);
  EXPECT_NE(c.containerPrev, nullptr);
  EXPECT_EQ(c.to, w.to);
  EXPECT_EQ(c.cc, w.cc);
  EXPECT_EQ(c.bcc, w.bcc);
  EXPECT_EQ(c.editor, w.editor);
  std::vector<HWND> buttons = buttonsIn(w.toolbarPanel);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0], c.button1);
  EXPECT_EQ(buttons[1], c.button2);
  EXPECT_EQ(GetDlgCtrlID(c.button1), 12345);
  EXPECT_EQ(GetDlgCtrlID(c.button2), 123567);
  EXPECT_EQ((DWORD)GetWindowLongA(c.button1, GWL_STYLE), 0x50008080u);
  RECT r;
  GetWindowRect(c.button2, &r);
  EXPECT_EQ(r.left - 200, 27);
  EXPECT_EQ(r.right - r.left, 22);
  EXPECT_EQ(bitmapOf(c.button1), 104u);
  EXPECT_EQ(bitmapOf(c.button2), 105u);

  // Address book: the first button.
  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_addrPosts == 1; }));
  EXPECT_EQ(server()->pendingAddrHandle(), std::to_string(num(w.root)));
  ASSERT_TRUE(server()->sendSelectedAddr({"张三 <zs@corp>", "li@corp"}, {}, {"boss@corp"}));
  ASSERT_TRUE(waitUntil([&] { return mail_->text(w.bcc) == u"boss@corp;"; }));
  EXPECT_EQ(mail_->text(w.to), u"张三 <zs@corp>;li@corp;");
  EXPECT_EQ(mail_->text(w.cc), u"");
  EXPECT_EQ(mail_->count(w.cc, WM_IME_CHAR), 0);
  EXPECT_TRUE(waitUntil([&] { return mail_->count(w.root, WM_PAINT) == 2; }));
  EXPECT_EQ(g_attachPosts, 0);

  // Attachments: the second button (its id does not fit in WM_COMMAND; its handle tells).
  w32subst::click(c.button2, 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_attachPosts == 1; }));
  EXPECT_EQ(g_addrPosts, 1);
  ASSERT_TRUE(mail_->waitIdle());
  w32subst::clearInputLog();
  ASSERT_TRUE(server()->sendAttachment({{"a.zip?12.30MB", "http://h/a"}}, main_));
  ASSERT_TRUE(waitUntil([&] { return mail_->body(w.editor).find(u"href=\"http://h/a\"") != std::u16string::npos; }));
  std::u16string body = mail_->body(w.editor);
  EXPECT_EQ(body.find(u"<p>draft</p>"), 0u);  // pasted at the end (Ctrl+End ran)
  EXPECT_NE(body.find(u"a.zip&nbsp;&nbsp;(12.30MB)"), std::u16string::npos);
  // The synthesised input: a click near the editor's bottom right, Ctrl+End, Page Down, the
  // context menu and its paste item; the cursor is free again afterwards.
  ASSERT_TRUE(waitUntil([] { return w32subst::inputLog().size() >= 12; }));
  std::vector<w32subst::InputEvent> in = w32subst::inputLog();
  ASSERT_EQ(in.size(), 12u);
  EXPECT_EQ(in[0].flags, (DWORD)MOUSEEVENTF_LEFTDOWN);
  EXPECT_EQ(in[0].pt.x, 1200 - 60);
  EXPECT_EQ(in[0].pt.y, 880 - 10);
  EXPECT_EQ(in[0].target, w.editor);
  std::vector<std::pair<WORD, DWORD>> keys;
  for (auto& e : in)
    if (e.kind == w32subst::InputEvent::Key) keys.push_back({e.vk, e.flags});
  EXPECT_EQ(keys, (std::vector<std::pair<WORD, DWORD>>{{VK_CONTROL, 0},
                                                        {VK_END, 0},
                                                        {VK_END, KEYEVENTF_KEYUP},
                                                        {VK_CONTROL, KEYEVENTF_KEYUP},
                                                        {VK_NEXT, 0},
                                                        {VK_NEXT, KEYEVENTF_KEYUP},
                                                        {'P', 0},
                                                        {'P', KEYEVENTF_KEYUP}}));
  EXPECT_EQ(in[8].flags, (DWORD)MOUSEEVENTF_RIGHTDOWN);
  EXPECT_TRUE(waitUntil([] {
    RECT clip;
    GetClipCursor(&clip);
    return clip.left == 0 && clip.top == 0 && clip.right == 1920 && clip.bottom == 1080;
  }));

  // Closing: the desktop hears of it and unhooks; nothing touches the removed object.
  int liveBitmaps = w32subst::liveBitmapCount();
  std::weak_ptr<PostwingWind> gone = wind;
  wind.reset();
  mail_->close(w.root);
  EXPECT_EQ(mail_->count(w.container, WM_DESTROY), 1);  // passed on to the layout manager's own
  for (HWND edit : {w.to, w.cc, w.bcc}) EXPECT_EQ(mail_->count(edit, WM_DESTROY), 1);  // their own again
  EXPECT_TRUE(w32subst::debugContains("WindowOldWndProc_TO. WM_DESTROY"));
  EXPECT_TRUE(w32subst::debugContains("WindowOldWndProc_BCC. WM_DESTROY"));
  EXPECT_EQ(registryOf(pid_).size(), 0);
  // The receive thread may still hold it for the last steps of the paste: it goes after.
  EXPECT_TRUE(waitUntil([&] { return gone.expired(); }));
  EXPECT_EQ(w32subst::liveBitmapCount(), liveBitmaps - 2);
  ASSERT_TRUE(waitUntil([&] { return registryOf(kDesktop).find(num(w.root)) == nullptr; }));
  EXPECT_EQ(w32subst::hookCount(mail_->threadId(), WH_CBT), 0);
  EXPECT_EQ(w32subst::hookCount(mail_->threadId(), WH_CALLWNDPROC), 0);
  EXPECT_EQ(server()->pendingAddrHandle(), "");
  EXPECT_FALSE(server()->sendSelectedAddr({"late@corp"}, {}, {}));
}

TEST_F(Road, Foxmail70AddsItsAttachButtonAndIgnoresAClickWithinTwoSecondsOfTheLast) {
  ComposeWindow w;
  auto fox70 = std::dynamic_pointer_cast<FoxMail70Wind>(open(MailKind::Foxmail70, &w));
  ASSERT_NE(fox70, nullptr);
  PostwingWind::Controls c = fox70->controls();
  EXPECT_EQ(c.container, w.container);
  EXPECT_EQ(c.to, w.to);
  EXPECT_EQ(c.cc, w.cc);
  EXPECT_EQ(c.bcc, w.bcc);
  EXPECT_EQ(c.editor, w.editor);
  EXPECT_EQ(c.button1, nullptr);
  // Its rich edits are filled, not subclassed.
  EXPECT_EQ(GetWindowLongPtrA(w.to, GWLP_WNDPROC), GetWindowLongPtrA(w.editor, GWLP_WNDPROC));
  EXPECT_EQ(GetWindowLongPtrA(w.bcc, GWLP_WNDPROC), GetWindowLongPtrA(w.editor, GWLP_WNDPROC));
  EXPECT_NE(GetWindowLongPtrA(w.container, GWLP_WNDPROC), GetWindowLongPtrA(w.editor, GWLP_WNDPROC));
  std::vector<HWND> buttons = buttonsIn(w.toolbar);
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_EQ(buttons[0], c.button2);
  EXPECT_EQ(GetDlgCtrlID(c.button2), 12345);
  EXPECT_EQ(bitmapOf(c.button2), 104u);

  w32subst::click(c.button2, 5, 5);  // right after the window was found: ignored
  ASSERT_TRUE(mail_->waitIdle());
  fox70->setLastAttachClick(FoxMail70Wind::now() - ACE_Time_Value(3));
  w32subst::click(c.button2, 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_attachPosts == 1; }));
  EXPECT_EQ(server()->pendingAttachHandle(), std::to_string(num(w.root)));
  w32subst::click(c.button2, 5, 5);  // again at once: ignored
  ASSERT_TRUE(mail_->waitIdle());
  fox70->setLastAttachClick(FoxMail70Wind::now() - ACE_Time_Value(2, 900000));  // 2 whole seconds
  w32subst::click(c.button2, 5, 5);
  ASSERT_TRUE(mail_->waitIdle());
  // A request on the same connection after them all: once it has arrived, so has anything
  // the ignored clicks could have sent.
  mail_->run([&] { fox70->showAddrDialog(); });
  ASSERT_TRUE(waitUntil([] { return g_addrPosts == 1; }));
  ASSERT_TRUE(desktop_->waitIdle());
  EXPECT_EQ(g_attachPosts, 1);
  EXPECT_TRUE(mail_->events().empty());  // the toolbar button is not the client's own
}

TEST_F(Road, ClosingAWindowWhosePrivateAgentWaitsForTheWindowsThreadDoesNotDeadlock) {
  // A Foxmail 7.0 object without the process's agent makes a private one for the attachment
  // dialog. Its window lies partly under the bottom taskbar, so the paste moves it up, which
  // the receive thread asks of the window's own thread. Hidden: the poll leaves it alone.
  ComposeOptions o;
  o.y = 400;
  o.visible = false;
  ComposeWindow w = mail_->openCompose(MailKind::Foxmail70, o);
  auto wind = std::make_shared<FoxMail70Wind>(w.root);
  wind->editor_ = w.editor;
  mail_->run([&] { PostwingWindRegistry::instance().addWind(wind, false); });
  wind->setLastAttachClick(FoxMail70Wind::now() - ACE_Time_Value(3));
  mail_->run([&] { EXPECT_EQ(wind->showAttachDialog(), 0); });
  ASSERT_TRUE(waitUntil([] { return g_attachPosts == 1; }));

  // The mail client's thread is busy when the reply arrives; once the receive thread works on
  // it, the window closes on that thread.
  // Released on every way out of the test; the window closes on its thread after the release.
  HWND root = w.root;
  w32subst::Hold hold;
  ASSERT_TRUE(hold.post(mail_->threadId(), [root] {
    PostwingWindRegistry::instance().removeWind(num(root));
    DestroyWindow(root);
  }));
  ASSERT_TRUE(hold.waitHeld());
  w32subst::clearDebugLines();
  ASSERT_TRUE(server()->sendAttachment({{"a.zip?1.00MB", "http://h/a"}}, main_));
  ASSERT_TRUE(waitUntil([] { return w32subst::debugContains("PostwingUiAgent::onAttachSelected"); }));
  hold.release();
  // Closing never waits for a receive thread that waits for this thread.
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_FALSE(IsWindow(root));
  EXPECT_FALSE(wind->hasAgent());
  EXPECT_TRUE(waitUntil([] { return w32subst::debugContains("PostwingUiAgent::~PostwingUiAgent"); }));
}

// The library is unmapped from a mail client once its hooks are gone: by then no thread it
// started there may run. Closing the last compose window ends the process's agent (a window
// that used it) or the window's private agent (Foxmail 7.0's attach button), receive threads
// joined, before the close returns.
TEST_F(Road, NoThreadOfTheLibraryOutlivesTheLastComposeWindowOfItsProcess) {
  for (bool privateAgent : {false, true}) {
    SCOPED_TRACE(privateAgent ? "a window's private agent" : "the process's agent");
    int asked = g_addrPosts + g_attachPosts;
    ComposeWindow w;
    std::shared_ptr<PostwingWind> wind;
    if (privateAgent) {
      ComposeOptions o;
      o.visible = false;  // the poll leaves it alone
      w = mail_->openCompose(MailKind::Foxmail70, o);
      auto fox70 = std::make_shared<FoxMail70Wind>(w.root);
      mail_->run([&] { PostwingWindRegistry::instance().addWind(fox70, false); });
      fox70->setLastAttachClick(FoxMail70Wind::now() - ACE_Time_Value(3));
      mail_->run([&] { EXPECT_EQ(fox70->showAttachDialog(), 0); });
      wind = fox70;
    } else {
      wind = open(MailKind::Foxmail7, &w);
      ASSERT_NE(wind, nullptr);
      mail_->run([&] { wind->showAddrDialog(); });
    }
    ASSERT_TRUE(waitUntil([&] { return g_addrPosts + g_attachPosts == asked + 1; }));
    EXPECT_GE(w32subst::runningThreads(pid_), 1);  // the receive thread
    HWND root = w.root;
    mail_->run([root] {
      PostwingWindRegistry::instance().removeWind(num(root));
      DestroyWindow(root);
    });
    EXPECT_EQ(registryOf(pid_).size(), 0);
    EXPECT_EQ(w32subst::hookCount(mail_->threadId(), WH_CBT), 0);
    EXPECT_EQ(w32subst::runningThreads(pid_), 0);
  }
}

// Two compose windows of one process close on two UI threads, the process's agent used by
// both and connected by one's request. Whichever close comes last ends the agent, and only once
// the other's close is over: afterwards the process runs no thread of the library and holds no
// connection, whether the closes run at the same moment or one wholly before the other.
TEST_F(Road, TwoWindowsOfOneProcessClosingTogetherLeaveNoThreadAndNoConnection) {
  FakeMailClient second(pid_);  // a second UI thread of the same process
  PostwingUiAgent& agent = w32subst::ProcessLocal<PostwingUiAgent>::getFor(pid_);
  ComposeOptions hidden;
  hidden.visible = false;  // the poll leaves them alone: the objects are made here
  const int kRounds = 300;
  for (bool together : {true, false}) {
    SCOPED_TRACE(together ? "closes released together" : "one close wholly before the other");
    int connectionsLeft = 0, threadsLeft = 0;
    for (int round = 0; round < (together ? kRounds : 20); ++round) {
      int asked = g_addrPosts;
      ComposeWindow wa = mail_->openCompose(MailKind::Foxmail7, hidden);
      ComposeWindow wb = second.openCompose(MailKind::Foxmail7, hidden);
      auto a = std::make_shared<FoxMail7Wind>(wa.root);
      auto b = std::make_shared<FoxMail7Wind>(wb.root);
      mail_->run([&] { PostwingWindRegistry::instance().addWind(a, true); });
      second.run([&] { PostwingWindRegistry::instance().addWind(b, true); });
      std::shared_ptr<PostwingWind> requester = round % 2 ? b : a;
      (round % 2 ? static_cast<FakeMailClient&>(second) : *mail_).run([&] { requester->showAddrDialog(); });
      ASSERT_TRUE(waitUntil([&] { return g_addrPosts == asked + 1; }));

      auto closeOn = [](FakeMailClient& client, HWND root, std::function<void()> before) {
        client.run([&] {
          before();
          PostwingWindRegistry::instance().removeWind(num(root));
          DestroyWindow(root);
        });
      };
      if (together) {
        std::mutex m;
        std::condition_variable cv;
        int arrived = 0;
        auto barrier = [&] {
          std::unique_lock<std::mutex> lock(m);
          if (++arrived == 2) cv.notify_all();
          cv.wait(lock, [&] { return arrived == 2; });
        };
        std::thread other([&] { closeOn(second, wb.root, barrier); });
        closeOn(*mail_, wa.root, barrier);
        other.join();
      } else {
        closeOn(*mail_, wa.root, [] {});
        EXPECT_TRUE(agent.connected());  // the other window still uses it
        closeOn(second, wb.root, [] {});
      }
      ASSERT_EQ(registryOf(pid_).size(), 0);
      if (agent.connected() || agent.get_handle() != ACE_INVALID_HANDLE) connectionsLeft++;
      if (w32subst::runningThreads(pid_) != 0) threadsLeft++;
      agent.shutdown();  // the next round starts clean whatever this one left
    }
    EXPECT_EQ(connectionsLeft, 0);
    EXPECT_EQ(threadsLeft, 0);
  }
}

namespace {
struct MenuCase {
  MailKind kind;
  UINT resource, enterprise, own;
  std::string ownEvent;
  std::string ownText;
};
}  // namespace

TEST_F(Road, TheInterceptedAddressBookControlsOfferBothBooksAndTheClientsOwnGetsTheClickBack) {
  const MenuCase cases[] = {
      {MailKind::Foxmail7, 101, 40001, 40002, "ownAddressBook(to)", "Foxmail通讯录"},
      {MailKind::Foxmail70, 101, 40001, 40002, "ownAddressBook", "Foxmail通讯录"},
      {MailKind::Outlook, 102, 40003, 40004, "ownAddressBook(to)", "Outlook通讯录"},
  };
  int menus = w32subst::liveMenuCount();
  for (const MenuCase& mc : cases) {
    SCOPED_TRACE((int)mc.kind);
    ComposeWindow w;
    auto wind = open(mc.kind, &w);
    ASSERT_NE(wind, nullptr);
    // The client's own control: Foxmail 7's "To" label, Foxmail 7.0's recipient button,
    // Outlook's "To..." button.
    auto clickOwnControl = [&] {
      if (mc.kind == MailKind::Foxmail7)
        w32subst::click(w.container, 37, 24);
      else if (mc.kind == MailKind::Foxmail70)
        w32subst::click(w.recipientButton, 5, 5);
      else
        w32subst::click(w.outlookButtons[0], 5, 5);
      ASSERT_TRUE(mail_->waitIdle());
    };
    mail_->clearLog();
    w32subst::clearShownMenus();

    // The client's own book: the intercepted click reaches the client once.
    g_pick = mc.own;
    clickOwnControl();
    std::vector<w32subst::MenuShown> shown = w32subst::shownMenus();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].resourceId, mc.resource);
    EXPECT_EQ(shown[0].owner, w.container);
    EXPECT_EQ(shown[0].flags, (UINT)(TPM_NOANIMATION | TPM_RIGHTBUTTON));
    ASSERT_EQ(shown[0].items.size(), 2u);
    EXPECT_EQ(shown[0].items[0].id, mc.enterprise);
    EXPECT_EQ(shown[0].items[0].text, "企业通讯录");
    EXPECT_EQ(shown[0].items[1].id, mc.own);
    EXPECT_EQ(shown[0].items[1].text, mc.ownText);
    // The pick is answered inside the menu's loop, which may run the idle check first: wait for
    // the replay itself, then for anything it left queued.
    ASSERT_TRUE(waitUntil([&] { return !mail_->events().empty(); }));
    ASSERT_TRUE(mail_->waitIdle());
    EXPECT_EQ(mail_->events(), (std::vector<std::string>{mc.ownEvent}));
    EXPECT_TRUE(wind->recordedMessages().empty());
    wind->sendMessageByParam(wind->controls().containerPrev);  // a second replay has nothing left
    EXPECT_EQ(mail_->events().size(), 1u);

    // The enterprise book: a request to the desktop; the client sees nothing.
    mail_->clearLog();
    g_pick = mc.enterprise;
    int before = g_addrPosts;
    clickOwnControl();
    ASSERT_TRUE(waitUntil([&] { return g_addrPosts == before + 1; }));
    EXPECT_EQ(server()->pendingAddrHandle(), std::to_string(num(w.root)));
    EXPECT_TRUE(mail_->events().empty());

    // Dismissed: nothing at all.
    g_pick = 0;
    clickOwnControl();
    EXPECT_TRUE(mail_->events().empty());
    EXPECT_EQ(g_addrPosts, before + 1);
    mail_->close(w.root);
  }
  EXPECT_EQ(w32subst::liveMenuCount(), menus);  // every menu loaded was destroyed
}

TEST_F(Road, ClicksElsewhereReachTheMailClientUntouched) {
  ComposeWindow w;
  auto wind = open(MailKind::Foxmail7, &w);
  ASSERT_NE(wind, nullptr);
  g_pick = 40002;
  mail_->clearLog();
  w32subst::clearShownMenus();
  // Foxmail 7: right of the 58-pixel column of the layout manager.
  w32subst::click(w.container, 300, 5);
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->count(w.container, WM_LBUTTONDOWN), 1);
  EXPECT_EQ(mail_->count(w.container, WM_LBUTTONUP), 1);
  EXPECT_TRUE(w32subst::shownMenus().empty());
  mail_->close(w.root);

  // Outlook: a button other than To, Cc and Bcc.
  ComposeWindow o;
  open(MailKind::Outlook, &o);
  mail_->clearLog();
  w32subst::click(o.outlookButtons[3], 5, 5);
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->count(o.container, WM_COMMAND), 1);
  EXPECT_TRUE(w32subst::shownMenus().empty());
}

TEST_F(Road, Foxmail7RecipientEditsOpenTheEditMenuFromTheirRightStripOnlyWhenFocused) {
  ComposeWindow w;
  auto wind = open(MailKind::Foxmail7, &w);
  ASSERT_NE(wind, nullptr);
  EXPECT_NE(wind->controls().toPrev, nullptr);
  // The fourth rich edit (the subject) stays the client's own.
  EXPECT_FALSE(wind->controls().to == w.subject || wind->controls().cc == w.subject ||
               wind->controls().bcc == w.subject);
  g_pick = 40002;
  mail_->clearLog();
  w32subst::clearShownMenus();
  // The To edit is 940 wide: its strip is x 880 and right of it. Unfocused: the client gets it.
  w32subst::click(w.to, 900, 10);
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->count(w.to, WM_LBUTTONDOWN), 1);
  EXPECT_TRUE(w32subst::shownMenus().empty());
  HWND focus = nullptr;
  mail_->run([&] { focus = GetFocus(); });
  EXPECT_EQ(focus, w.to);
  // Focused, left of the strip: the client's.
  w32subst::click(w.to, 870, 10);
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->count(w.to, WM_LBUTTONDOWN), 2);
  EXPECT_TRUE(w32subst::shownMenus().empty());
  // Focused, in the strip: the edit menu at the cursor; the client's own book gets the click
  // on the "To" label.
  w32subst::click(w.to, 900, 10);
  ASSERT_TRUE(mail_->waitIdle());
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->count(w.to, WM_LBUTTONDOWN), 2);
  std::vector<w32subst::MenuShown> shown = w32subst::shownMenus();
  ASSERT_EQ(shown.size(), 1u);
  POINT cursor;
  GetCursorPos(&cursor);
  EXPECT_EQ(shown[0].pt.x, cursor.x);
  EXPECT_EQ(shown[0].pt.y, cursor.y);
  EXPECT_EQ(shown[0].resourceId, 101u);
  ASSERT_TRUE(waitUntil([&] { return !mail_->events().empty(); }));  // the pick, as above
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(mail_->events(), (std::vector<std::string>{"ownAddressBook(to)"}));
}

TEST_F(Road, LongListsAreTypedWholeAndAFullControlIsLeftAlone) {
  ComposeWindow w;
  auto wind = open(MailKind::Outlook, &w);
  ASSERT_NE(wind, nullptr);
  mail_->run([&] { SetFocus(w.to); });
  std::vector<std::string> many;
  for (int i = 0; i < 50; ++i) {
    std::string name = "收件人" + std::to_string(i) + " <" + std::string(60, 'a' + i % 26) + "@corp.example>";
    many.push_back(name);
  }
  w32subst::click(w.outlookButtons[0], 5, 5);  // dismissed menu: nothing
  ASSERT_TRUE(mail_->waitIdle());
  g_pick = 40003;
  w32subst::click(w.outlookButtons[1], 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_addrPosts == 1; }));
  ASSERT_TRUE(server()->sendSelectedAddr(many, many, {}));
  std::string joined;
  for (auto& a : many) joined += a + ";";
  int n = MultiByteToWideChar(CP_ACP, 0, joined.data(), (int)joined.size(), nullptr, 0);
  std::u16string expected((size_t)n, u'\0');
  MultiByteToWideChar(CP_ACP, 0, joined.data(), (int)joined.size(), &expected[0], n);
  // Some 8,000 characters, each posted to the control on its own: a sanitizer build on a busy
  // machine takes far longer over them than the usual five seconds.
  const int kLongTypingMs = 60000;
  ASSERT_TRUE(waitUntil([&] { return mail_->text(w.cc) == expected; }, kLongTypingMs));
  ASSERT_TRUE(waitUntil([&] { return mail_->text(w.to) == expected; }, kLongTypingMs));
  std::u16string cc = mail_->text(w.cc);
  EXPECT_GT(cc.size(), 2047u);  // longer than any fixed 2048-character buffer

  // The To control now holds more than 2048 characters: nothing more is typed into it.
  int toChars = GetWindowTextLengthA(w.to);
  ASSERT_GT(toChars, 2048);
  ASSERT_TRUE(server()->sendSelectedAddr({"x@corp"}, {}, {"y@corp"}));
  ASSERT_TRUE(waitUntil([&] { return mail_->text(w.bcc) == u"y@corp;"; }, kLongTypingMs));
  ASSERT_TRUE(mail_->waitIdle(kLongTypingMs));
  EXPECT_EQ(GetWindowTextLengthA(w.to), toChars);
}

TEST_F(Road, TheEnterpriseItemDoesNothingVisibleWithoutTheDesktopProgram) {
  ComposeWindow w;
  auto wind = open(MailKind::Outlook, &w);
  ASSERT_NE(wind, nullptr);
  server()->stop();
  g_pick = 40003;
  mail_->clearLog();
  w32subst::click(w.outlookButtons[0], 5, 5);
  ASSERT_TRUE(mail_->waitIdle());
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_TRUE(mail_->events().empty());
  EXPECT_EQ(g_addrPosts, 0);
  EXPECT_EQ(w32subst::shownMenus().size(), 1u);
}

namespace {
// A call-window-procedure hook of another module, installed on the mail client's thread
// before the library's, so it comes after the library's in the chain.
struct LaterHook {
  std::mutex m;
  std::vector<std::pair<UINT, LPARAM>> seen;  // message, lParam
  int count(UINT msg, LPARAM l) {
    std::lock_guard<std::mutex> g(m);
    return (int)std::count(seen.begin(), seen.end(), std::make_pair(msg, l));
  }
  int count(UINT msg) {
    std::lock_guard<std::mutex> g(m);
    return (int)std::count_if(seen.begin(), seen.end(), [&](const std::pair<UINT, LPARAM>& s) { return s.first == msg; });
  }
} g_laterHook;

LRESULT CALLBACK laterCallWndProc(int code, WPARAM w, LPARAM l) {
  if (code >= 0 && l) {
    const CWPSTRUCT* cwp = (const CWPSTRUCT*)l;
    std::lock_guard<std::mutex> g(g_laterHook.m);
    g_laterHook.seen.push_back({cwp->message, cwp->lParam});
  }
  return CallNextHookEx(nullptr, code, w, l);
}
}  // namespace

TEST_F(Road, Foxmail7ButtonCommandsEndAtTheLibrarysHookWhileEverythingElseGoesOnDownTheChain) {
  HHOOK later = SetWindowsHookExA(WH_CALLWNDPROC, laterCallWndProc, w32subst::registerModule("other"),
                                  mail_->threadId());
  ASSERT_NE(later, nullptr);
  ComposeWindow w;
  auto wind = open(MailKind::Foxmail7, &w);
  ASSERT_NE(wind, nullptr);
  PostwingWind::Controls c = wind->controls();
  ASSERT_NE(c.button1, nullptr);
  ASSERT_NE(c.button2, nullptr);

  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_addrPosts == 1; }));
  w32subst::click(c.button2, 5, 5);
  ASSERT_TRUE(waitUntil([] { return g_attachPosts == 1; }));
  // Another control's command in the same window, and ordinary messages, go on.
  mail_->run([&] {
    SendMessageA(w.toolbarPanel, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), (LPARAM)w.subject);
    SetFocus(w.to);
  });
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(g_laterHook.count(WM_COMMAND, (LPARAM)c.button1), 0);
  EXPECT_EQ(g_laterHook.count(WM_COMMAND, (LPARAM)c.button2), 0);
  EXPECT_EQ(g_laterHook.count(WM_COMMAND, (LPARAM)w.subject), 1);
  EXPECT_GE(g_laterHook.count(WM_SETFOCUS), 1);
  // The window procedure still gets the buttons' commands: the hook ends only the chain.
  EXPECT_EQ(mail_->count(w.toolbarPanel, WM_COMMAND), 3);
  EXPECT_EQ(g_addrPosts, 1);
  EXPECT_EQ(g_attachPosts, 1);
  EXPECT_TRUE(w32subst::debugContains("hwnd:" + std::to_string((int)num(w.toolbarPanel)) + ",wParam:"));
  UnhookWindowsHookEx(later);
}

namespace {
struct EarlyCase {
  MailKind kind;
  bool buttons;
};
}  // namespace

TEST_F(Road, AComposeWindowShownBeforeItsControlsExistIsLearnedWholeAtALaterEvent) {
  for (EarlyCase ec : {EarlyCase{MailKind::Foxmail7, true}, EarlyCase{MailKind::Foxmail70, true},
                       EarlyCase{MailKind::Outlook, false}}) {
    SCOPED_TRACE((int)ec.kind);
    DWORD pid = pid_;
    ComposeOptions o;
    // Shown at once: the poll hooks it and its first CBT event makes the object while the
    // window has no controls yet. Then each control, once made, takes the focus: every step
    // of the way an event names a window the object does not know yet.
    o.whileBuilding = [pid, ec](HWND root, HWND made) {
      if (made == root) {
        auto shared = [ec] { return ec.kind == MailKind::Outlook ? g_hOutlookHwnd.load() : g_hFoxmailHwnd.load(); };
        EXPECT_TRUE(waitUntil([&] {
          return registryOf(kDesktop).find(num(root)) != nullptr && shared() == (uint32_t)(uintptr_t)root;
        }));
        SetFocus(root);
        EXPECT_NE(registryOf(pid).find(num(root)), nullptr);
      } else {
        SetFocus(made);
      }
    };
    ComposeWindow w;
    auto wind = open(ec.kind, &w, o);
    ASSERT_NE(wind, nullptr);
    PostwingWind::Controls c = wind->controls();
    EXPECT_EQ(c.container, w.container);
    EXPECT_NE(c.containerPrev, nullptr);
    EXPECT_EQ(c.to, w.to);
    EXPECT_EQ(c.cc, w.cc);
    EXPECT_EQ(c.bcc, w.bcc);
    EXPECT_EQ(c.editor, w.editor);
    EXPECT_EQ(c.button2 != nullptr, ec.buttons);
    // Later events enumerate nothing more: no second set of buttons, no edit subclassed twice.
    mail_->run([&] { SetFocus(w.to); });
    mail_->run([&] { SetFocus(w.cc); });
    HWND buttonParent = ec.kind == MailKind::Foxmail7 ? w.toolbarPanel : w.toolbar;
    if (ec.buttons) {
      EXPECT_EQ(buttonsIn(buttonParent).size(), ec.kind == MailKind::Foxmail7 ? 2u : 1u);
    }
    if (ec.kind == MailKind::Foxmail7) {
      c = wind->controls();
      LONG_PTR own = GetWindowLongPtrA(w.subject, GWLP_WNDPROC);  // the client's, never subclassed
      EXPECT_EQ((LONG_PTR)c.toPrev, own);
      EXPECT_EQ((LONG_PTR)c.ccPrev, own);
      EXPECT_EQ((LONG_PTR)c.bccPrev, own);
    }
    // And the road works: the enterprise book from the client's intercepted control.
    int before = g_addrPosts;
    g_pick = ec.kind == MailKind::Outlook ? 40003 : 40001;
    if (ec.kind == MailKind::Foxmail7)
      w32subst::click(w.container, 37, 24);
    else if (ec.kind == MailKind::Foxmail70)
      w32subst::click(w.recipientButton, 5, 5);
    else
      w32subst::click(w.outlookButtons[0], 5, 5);
    ASSERT_TRUE(waitUntil([&] { return g_addrPosts == before + 1; }));
    mail_->close(w.root);
    EXPECT_EQ(registryOf(pid_).size(), 0);
  }
}

// One mail-client process, two hooked UI threads, each replaying the intercepted click to the
// client: the client's own address book opens a window and moves the focus, CBT events that
// look windows up across every object of the process while the replaying thread holds its
// object. Neither thread may wait for the other.
TEST_F(Road, TwoHookedUiThreadsOfOneClientReplayAndLookUpWithoutWaitingForEachOther) {
  ComposeWindow a;
  auto fox = open(MailKind::Foxmail7, &a);
  ASSERT_NE(fox, nullptr);
  FakeMailClient second(pid_);  // a second UI thread of the same process
  ComposeWindow b = second.openCompose(MailKind::Outlook);
  ASSERT_TRUE(waitUntil([&] {
    return registryOf(kDesktop).find(num(b.root)) != nullptr && g_hOutlookHwnd.load() == (uint32_t)(uintptr_t)b.root;
  }));
  second.run([&] { SetFocus(b.editor); });
  auto outlook = registryOf(pid_).find(num(b.root));
  ASSERT_NE(outlook, nullptr);
  ASSERT_EQ(registryOf(pid_).size(), 2);

  mail_->clearLog();
  second.clearLog();
  const int kRounds = 3000;
  std::atomic<int> replays{0}, lookups{0};
  std::atomic<bool> replayDone{false}, lookupDone{false};
  WNDPROC prev = fox->controls().containerPrev;
  ASSERT_NE(prev, nullptr);
  std::thread replayer([&] {
    mail_->run([&] {
      for (int i = 0; i < kRounds; ++i) {
        fox->recordMessage(WM_LBUTTONDOWN, a.container, 0, 1572901);
        fox->recordMessage(WM_LBUTTONUP, a.container, 0, 1572901);
        fox->sendMessageByParam(prev);  // the client's own book puts the focus in To
        SetFocus(a.editor);
        replays++;
      }
    });
    replayDone = true;
  });
  WNDPROC outlookPrev = outlook->controls().containerPrev;
  ASSERT_NE(outlookPrev, nullptr);
  std::thread looker([&] {
    second.run([&] {
      for (int i = 0; i < kRounds; ++i) {
        HWND button = b.outlookButtons[(size_t)(i % 3)];
        outlook->recordMessage(WM_COMMAND, b.container, MAKEWPARAM(4353 + i % 3, 0), (LPARAM)button);
        outlook->sendMessageByParam(outlookPrev);  // the client's own book, then the focus in a field
        SetFocus(b.editor);
        lookups++;
      }
    });
    lookupDone = true;
  });
  bool finished = waitUntil([&] { return replayDone && lookupDone; }, 60000);
  if (!finished) {
    // Both threads wait for each other for good: nothing can be torn down.
    ADD_FAILURE() << "deadlock: " << replays << " replays, " << lookups << " lookups";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  replayer.join();
  looker.join();
  EXPECT_EQ(replays, kRounds);
  EXPECT_EQ(lookups, kRounds);
  EXPECT_EQ((int)mail_->events().size(), kRounds);  // every replay reached the client once
  EXPECT_EQ((int)second.events().size(), kRounds);
  second.close(b.root);
}

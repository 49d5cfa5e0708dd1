// Compose-window discovery: the poll of the desktop process finds the compose windows of the
// three mail clients, hooks their UI threads, and the CBT hook makes the in-process object.
#include "hook/PostwingHook.h"
#include "hook/PostwingWindRegistry.h"
#include "testing/FakeMailClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <atomic>
#include <thread>

using namespace pwtest;
using w32subst::waitUntil;

namespace {
const DWORD kDesktop = 100;
const int kPeriod = 50;

PostwingWindRegistry& registryOf(DWORD pid) { return w32subst::ProcessLocal<PostwingWindRegistry>::getFor(pid); }

// The desktop side: the hook-manager thread sitting in startHook.
class Poller {
 public:
  Poller() {
    thread_ = std::thread([this] {
      w32subst::setCurrentProcessId(kDesktop);
      result_.set_value(startHook());
    });
    done_ = result_.get_future();
    uint64_t first = PostwingWindRegistry::pollRounds();
    waitUntil([first] { return PostwingWindRegistry::pollRounds() > first; });
  }
  ~Poller() { stop(); }
  // Waits until n more polling rounds have ended.
  void rounds(int n) {
    uint64_t target = PostwingWindRegistry::pollRounds() + (uint64_t)n;
    ASSERT_TRUE(waitUntil([target] { return PostwingWindRegistry::pollRounds() >= target; }));
  }
  // stopHook, then how long startHook took to return (or -1 after 5 s).
  long stop() {
    if (!thread_.joinable()) return 0;
    auto t0 = std::chrono::steady_clock::now();
    stopHook();
    long ms = -1;
    if (done_.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
      EXPECT_EQ(done_.get(), 0);
      ms = (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    }
    thread_.join();
    return ms;
  }

 private:
  std::thread thread_;
  std::promise<int> result_;
  std::future<int> done_;
};

std::atomic<DWORD> g_nextMailPid{200};

class Discovery : public ::testing::Test {
 protected:
  // Each test's mail clients live in simulated processes of their own, so no test sees
  // another's in-process objects.
  DWORD kMail = g_nextMailPid.fetch_add(10);
  void SetUp() override {
    PostwingWindRegistry::setPollPeriodMs(kPeriod);
    w32subst::clearDebugLines();
    g_hFoxmailHwnd = 0;
    g_hOutlookHwnd = 0;
  }
  void TearDown() override {
    w32subst::setCurrentProcessId(kDesktop);
    registryOf(kDesktop).dropDeadRoots();
    PostwingWindRegistry::setPollPeriodMs(500);
  }
  static bool registered(HWND root) { return registryOf(kDesktop).find((long)(uintptr_t)root) != nullptr; }
};

HWND sharedRoot(MailKind kind) {
  return (HWND)(uintptr_t)(kind == MailKind::Outlook ? g_hOutlookHwnd.load() : g_hFoxmailHwnd.load());
}
}  // namespace

TEST_F(Discovery, EachKindIsFoundRegisteredOnceAndHookedOnItsOwnThread) {
  for (MailKind kind : {MailKind::Foxmail7, MailKind::Foxmail70, MailKind::Outlook}) {
    SCOPED_TRACE((int)kind);
    FakeMailClient mail(kMail);
    Poller poller;
    ComposeWindow w = mail.openCompose(kind);
    ASSERT_TRUE(waitUntil([&] { return registered(w.root); }, 20 * kPeriod));
    poller.rounds(3);
    EXPECT_EQ(registryOf(kDesktop).size(), 1);
    EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CBT), 1);
    EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CALLWNDPROC), 1);
    auto desk = registryOf(kDesktop).find((long)(uintptr_t)w.root);
    EXPECT_EQ(sharedRoot(kind), w.root);
    uint32_t cbt = kind == MailKind::Outlook ? g_hOutlookCBTHook.load() : g_hFoxmailCBTHook.load();
    uint32_t cwp = kind == MailKind::Outlook ? g_hOutlookCWPHook.load() : g_hFoxmailCWPHook.load();
    EXPECT_EQ(cbt, (uint32_t)(uintptr_t)desk->cbtHook());
    EXPECT_EQ(cwp, (uint32_t)(uintptr_t)desk->cwpHook());
    EXPECT_TRUE(w32subst::debugContains(kind == MailKind::Outlook ? "outlook setHook success!" : "Foxmail setHook success!"));
    // The first CBT event on the mail client's thread makes the in-process object there once,
    // and learns the compose window's children.
    EXPECT_EQ(registryOf(kMail).find((long)(uintptr_t)w.root), nullptr);
    mail.run([&] { SetFocus(w.editor); });
    mail.run([&] { SetFocus(w.to); });
    auto inProcess = registryOf(kMail).find((long)(uintptr_t)w.root);
    ASSERT_NE(inProcess, nullptr);
    EXPECT_EQ(inProcess->kind(), (int)kind);
    EXPECT_TRUE(inProcess->hasChild(w.editor));
    EXPECT_TRUE(inProcess->hasChild(w.to));
    EXPECT_EQ(registryOf(kMail).size(), 1);
    // It closes: the poll drops the desktop object and unhooks the thread.
    mail.close(w.root);
    ASSERT_TRUE(waitUntil([&] { return !registered(w.root); }, 20 * kPeriod));
    EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CBT), 0);
    EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CALLWNDPROC), 0);
    registryOf(kMail).removeWind((long)(uintptr_t)w.root);
  }
}

TEST_F(Discovery, WindowsOfAnotherClassOrTitleAreIgnoredAndHiddenOnesWaitUntilShown) {
  FakeMailClient mail(kMail);
  Poller poller;
  ComposeOptions renamed;
  renamed.title = u"RE: x - 写邮件";
  ComposeWindow f70 = mail.openCompose(MailKind::Foxmail70, renamed);
  renamed.title = u"收件箱 - Outlook";
  ComposeWindow outlookMain = mail.openCompose(MailKind::Outlook, renamed);
  HWND other = mail.openWindow("rctrl_renwnd32", u"未命名的邮件");
  ComposeOptions hidden;
  hidden.visible = false;
  ComposeWindow hiddenFox = mail.openCompose(MailKind::Foxmail7, hidden);
  ComposeWindow hiddenOutlook = mail.openCompose(MailKind::Outlook, hidden);
  poller.rounds(3);
  EXPECT_EQ(registryOf(kDesktop).size(), 0);
  EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CBT), 0);
  EXPECT_FALSE(registered(f70.root) || registered(outlookMain.root) || registered(other));
  mail.show(hiddenFox.root);
  ASSERT_TRUE(waitUntil([&] { return registered(hiddenFox.root); }, 20 * kPeriod));
  mail.show(hiddenOutlook.root);
  ASSERT_TRUE(waitUntil([&] { return registered(hiddenOutlook.root); }, 20 * kPeriod));
  poller.rounds(2);
  EXPECT_EQ(registryOf(kDesktop).size(), 2);
}

TEST_F(Discovery, StopHookEndsThePollPromptly) {
  PostwingWindRegistry::setPollPeriodMs(500);  // the real period
  Poller poller;
  long ms = poller.stop();
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 500);  // it wakes at once, well within the period
}

TEST_F(Discovery, AFailedHookInstallIsUndoneAndRetriedAtTheNextPoll) {
  FakeMailClient mail(kMail);
  w32subst::failNextHookInstall(WH_CALLWNDPROC);
  Poller poller;
  ComposeWindow w = mail.openCompose(MailKind::Foxmail70);
  ASSERT_TRUE(waitUntil([&] { return registered(w.root); }, 20 * kPeriod));
  EXPECT_TRUE(w32subst::debugContains("FoxMail70Wind::setHook. SetWindowsHookEx WH_CALLWNDPROC error:8"));
  EXPECT_TRUE(w32subst::debugContains("Foxmail setHook error!"));
  EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CBT), 1);  // the failed round's CBT hook is gone
  EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CALLWNDPROC), 1);
}

TEST_F(Discovery, CloseWindRemovesTheObjectAndTheNextPollHooksAStillMatchingWindowAgain) {
  FakeMailClient mail(kMail);
  Poller poller;
  ComposeWindow w = mail.openCompose(MailKind::Outlook);
  ASSERT_TRUE(waitUntil([&] { return registered(w.root); }, 20 * kPeriod));
  auto first = registryOf(kDesktop).find((long)(uintptr_t)w.root)->cbtHook();
  EXPECT_EQ(closeWind("123456789"), 0);  // unknown: nothing changes
  EXPECT_EQ(registryOf(kDesktop).size(), 1);
  EXPECT_EQ(closeWind(nullptr), 0);
  std::string text = std::to_string((long)(uintptr_t)w.root);
  // closeWind runs on another desktop thread (the local server's reactor thread).
  std::thread reactor([&] {
    w32subst::setCurrentProcessId(kDesktop);
    EXPECT_EQ(closeWind(text.c_str()), 0);
    EXPECT_FALSE(registered(w.root));
  });
  reactor.join();
  EXPECT_TRUE(w32subst::debugContains("removeWind. hRoot=" + text + ",winds size=0"));
  ASSERT_TRUE(waitUntil([&] { return registered(w.root); }, 20 * kPeriod));
  EXPECT_NE(registryOf(kDesktop).find((long)(uintptr_t)w.root)->cbtHook(), first);
  EXPECT_EQ(w32subst::hookCount(mail.threadId(), WH_CBT), 1);
}

namespace {
std::atomic<int> g_testCbtEvents{0};
LRESULT CALLBACK countingCbt(int code, WPARAM w, LPARAM l) {
  g_testCbtEvents++;
  return CallNextHookEx(nullptr, code, w, l);
}
}  // namespace

TEST_F(Discovery, TheCbtProcedurePassesEveryEventOnAndDeliversAddressesInOrder) {
  FakeMailClient mail(kMail);
  HHOOK own = SetWindowsHookExA(WH_CBT, countingCbt, w32subst::registerModule("test"), mail.threadId());
  Poller poller;
  ComposeWindow w = mail.openCompose(MailKind::Foxmail7);
  ASSERT_TRUE(waitUntil([&] { return registered(w.root); }, 20 * kPeriod));
  g_testCbtEvents = 0;
  mail.run([&] { SetFocus(w.editor); });
  mail.run([&] { SetFocus(w.to); });
  EXPECT_EQ(w32subst::fireCbt(mail.threadId(), HCBT_CLICKSKIPPED, 0, 0), 0);  // wParam not a window
  EXPECT_EQ(w32subst::fireCbt(mail.threadId(), -1, 0, 0), 0);
  EXPECT_GE(g_testCbtEvents.load(), 4);  // the earlier hook still sees every event
  auto wind = registryOf(kMail).find((long)(uintptr_t)w.root);
  ASSERT_NE(wind, nullptr);
  // Address delivery (the agent's receive thread, in the mail client's process).
  EXPECT_EQ(registryOf(kMail).deliverAddresses(12345678, "a@corp", "", ""), -1);
  wind->to_ = w.to;
  wind->cc_ = w.cc;
  wind->bcc_ = w.bcc;
  std::thread receiver([&] {
    w32subst::setCurrentProcessId(kMail);
    EXPECT_EQ(registryOf(kMail).deliverAddresses((long)(uintptr_t)w.root, "张三 <zs@corp>;li@corp", "",
                                                 "boss@corp"),
              0);
  });
  receiver.join();
  ASSERT_TRUE(mail.waitIdle());
  EXPECT_EQ(mail.text(w.to), u"张三 <zs@corp>;li@corp;");
  EXPECT_EQ(mail.text(w.cc), u"");
  EXPECT_EQ(mail.text(w.bcc), u"boss@corp;");
  EXPECT_EQ(mail.count(w.root, WM_PAINT), 2);
  EXPECT_EQ(mail.count(w.cc, WM_IME_CHAR), 0);
  UnhookWindowsHookEx(own);
  registryOf(kMail).removeWind((long)(uintptr_t)w.root);
}

TEST_F(Discovery, AProcessNeverAdoptsTheSharedRootOfAnotherProcess) {
  // Both Foxmail kinds share the Foxmail slots: Foxmail 7 in one process is hooked first,
  // Foxmail 7.0 in another later, so the slots name the second one's root.
  FakeMailClient fox7(kMail);
  FakeMailClient fox70(kMail + 1);
  Poller poller;
  ComposeWindow a = fox7.openCompose(MailKind::Foxmail7);
  ASSERT_TRUE(waitUntil([&] { return registered(a.root); }, 20 * kPeriod));
  ComposeWindow b = fox70.openCompose(MailKind::Foxmail70);
  ASSERT_TRUE(waitUntil([&] { return registered(b.root); }, 20 * kPeriod));
  EXPECT_EQ(sharedRoot(MailKind::Foxmail7), b.root);
  fox7.run([&] { SetFocus(a.editor); });  // a CBT event in the first process
  EXPECT_EQ(registryOf(kMail).size(), 0);
  EXPECT_EQ(registryOf(kMail + 1).size(), 0);
  fox70.run([&] { SetFocus(b.editor); });
  EXPECT_NE(registryOf(kMail + 1).find((long)(uintptr_t)b.root), nullptr);
  registryOf(kMail + 1).removeWind((long)(uintptr_t)b.root);
}

TEST_F(Discovery, WindowsShownWhileTheirFormsAreStillBeingBuiltAreLearnedWhole) {
  // A fast poll meets some of these windows half-built: the first CBT event then finds only
  // part of the form, and a later one (the focus going to the body) learns the rest.
  PostwingWindRegistry::setPollPeriodMs(1);
  FakeMailClient mail(kMail);
  Poller poller;
  ComposeOptions early;
  early.whileBuilding = [](HWND, HWND) {};
  for (int i = 0; i < 100; ++i) {
    SCOPED_TRACE(i);
    ComposeWindow w = mail.openCompose(MailKind::Foxmail7, early);
    ASSERT_TRUE(waitUntil([&] { return registered(w.root) && sharedRoot(MailKind::Foxmail7) == w.root; }));
    mail.run([&] { SetFocus(w.editor); });
    auto wind = registryOf(kMail).find((long)(uintptr_t)w.root);
    ASSERT_NE(wind, nullptr);
    PostwingWind::Controls c = wind->controls();
    EXPECT_EQ(c.container, w.container);
    EXPECT_EQ(c.to, w.to);
    EXPECT_EQ(c.cc, w.cc);
    EXPECT_EQ(c.bcc, w.bcc);
    EXPECT_EQ(c.editor, w.editor);
    EXPECT_NE(c.button1, nullptr);
    EXPECT_NE(c.button2, nullptr);
    mail.close(w.root);  // its layout manager's WM_DESTROY removes the object
    EXPECT_EQ(registryOf(kMail).size(), 0);
    if (HasFailure()) break;
  }
}

TEST_F(Discovery, ThePollNeverWaitsForTheDesktopProgramsOwnBusyUiThread) {
  // A window of the desktop program itself, whose UI thread is busy (as when it stops the hook
  // manager and waits for the poll to end): the poll passes it by without asking it anything.
  w32subst::UiThread ui(kDesktop);
  HWND own = ui.call([] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "PwDesktopOwn";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "PwDesktopOwn", "Postwing", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                           nullptr, nullptr, nullptr, nullptr);
  });
  ASSERT_NE(own, nullptr);
  Poller poller;
  w32subst::Hold hold;
  ASSERT_TRUE(hold.post(ui.threadId()));
  ASSERT_TRUE(hold.waitHeld());
  poller.rounds(2);
  hold.release();
  EXPECT_GE(poller.stop(), 0);
  ui.run([own] { DestroyWindow(own); });
}

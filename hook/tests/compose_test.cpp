// Compose-window objects on their own: pasting with the taskbar at each edge of the screen,
// recording and replay, windows without the controls, procedures of a window whose object is
// gone, and the Foxmail 7.0 private agent when nothing listens.
#include "../src/HookProcs.h"
#include "hook/PostwingUiAgent.h"
#include "hook/PostwingWindRegistry.h"
#include "testing/FakeMailClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace pwtest;
using w32subst::waitUntil;

namespace {
const DWORD kMail = 600;

// Runs fn on a thread of the mail client's process (as the agent's receive thread does).
template <typename F>
void onReceiveThread(F fn) {
  std::thread t([&] {
    w32subst::setCurrentProcessId(kMail);
    fn();
  });
  t.join();
}

struct PasteCase {
  const char* name;
  bool taskbar;
  RECT bar;
  int rootX, rootY, rootHeight;
  int movedTop;     // the root's top after the paste
  POINT click;      // where the left click went
};
}  // namespace

TEST(ComposePaste, TheClickStaysOnTheScreenAndOnlyABottomTaskbarMovesTheWindowUp) {
  w32subst::setScreenSize(1920, 1080);
  // The editor lies at (0, 200)-(1000, 780) of a 1000-wide root.
  const PasteCase cases[] = {
      {"bottom, clear", true, {0, 1040, 1920, 1080}, 200, 100, 800, 100, {1140, 870}},
      {"bottom, under it", true, {0, 1040, 1920, 1080}, 200, 400, 800, 240, {1140, 1010}},
      {"bottom, taller than the screen", true, {0, 1040, 1920, 1080}, 200, 20, 1060, 0, {1140, 770}},
      {"top", true, {0, 0, 1920, 40}, 200, 100, 800, 100, {1140, 870}},
      {"left", true, {0, 0, 60, 1080}, 200, 400, 800, 400, {1140, 1070}},
      {"right, window beyond it", true, {1860, 0, 1920, 1080}, 1000, 100, 800, 100, {1800, 870}},
      {"no taskbar", false, {0, 0, 0, 0}, 200, 100, 800, 100, {1140, 870}},
  };
  FakeMailClient mail(kMail);
  for (const PasteCase& pc : cases) {
    SCOPED_TRACE(pc.name);
    std::unique_ptr<FakeTaskbar> bar(pc.taskbar ? new FakeTaskbar(pc.bar) : nullptr);
    ComposeOptions o;
    o.x = pc.rootX;
    o.y = pc.rootY;
    o.height = pc.rootHeight;
    ComposeWindow w = mail.openCompose(MailKind::Outlook, o);
    auto wind = std::make_shared<OutLook03Wind>(w.root);
    wind->editor_ = w.editor;
    w32subst::clearInputLog();
    int result = 1;
    onReceiveThread([&] { result = wind->insertAttachment(""); });
    EXPECT_EQ(result, 0);
    RECT r;
    GetWindowRect(w.root, &r);
    EXPECT_EQ(r.top, pc.movedTop);
    EXPECT_EQ(r.bottom - r.top, pc.rootHeight);  // size kept
    EXPECT_EQ(r.left, pc.rootX);
    std::vector<w32subst::InputEvent> in = w32subst::inputLog();
    ASSERT_FALSE(in.empty());
    EXPECT_EQ(in[0].pt.x, pc.click.x);
    EXPECT_EQ(in[0].pt.y, pc.click.y);
    EXPECT_EQ(in[0].target, w.editor);
    RECT clip;
    GetClipCursor(&clip);
    EXPECT_EQ(clip.right, 1920);  // released
    ASSERT_TRUE(mail.waitIdle());
    mail.close(w.root);
  }
}

TEST(ComposeObjects, AWindowWithoutTheControlGetsNothing) {
  FakeMailClient mail(kMail + 1);
  ComposeWindow w = mail.openCompose(MailKind::Foxmail70);
  FoxMail70Wind wind(w.root);
  w32subst::clearInputLog();
  EXPECT_EQ(wind.fillTo("a@corp"), -1);
  EXPECT_EQ(wind.fillCc("a@corp"), -1);
  EXPECT_EQ(wind.fillBcc("a@corp"), -1);
  EXPECT_EQ(wind.insertAttachment("http://h/a"), -1);
  wind.cc_ = w.cc;
  onReceiveThread([&] { EXPECT_EQ(wind.fillCc(""), 0); });  // an empty list still ends with ";"
  ASSERT_TRUE(mail.waitIdle());
  EXPECT_EQ(mail.text(w.cc), u";");
  EXPECT_TRUE(w32subst::inputLog().empty());
  EXPECT_EQ(mail.count(w.root, WM_PAINT), 1);
}

namespace {
std::vector<PostwingWind::RecordedMessage> g_replayed;
LRESULT CALLBACK replayTarget(HWND h, UINT m, WPARAM w, LPARAM l) {
  g_replayed.push_back(PostwingWind::RecordedMessage{m, h, w, l});
  return 0;
}
}  // namespace

TEST(ComposeObjects, RecordingKeepsOneEntryPerMessageAndReplayEmptiesTheList) {
  PostwingWind wind((HWND)(intptr_t)1234, KIND_FOXMAIL7);
  HWND a = (HWND)(intptr_t)11, b = (HWND)(intptr_t)12;
  wind.recordMessage(WM_LBUTTONDOWN, a, 1, 100);
  wind.recordMessage(WM_LBUTTONUP, a, 0, 101);
  wind.recordMessage(WM_LBUTTONDOWN, b, 88, 1572901);  // replaces the first, keeps its place
  ASSERT_EQ(wind.recordedMessages().size(), 2u);
  wind.sendMessageByParam(nullptr);  // no previous procedure: nothing, nothing forgotten
  EXPECT_EQ(wind.recordedMessages().size(), 2u);
  g_replayed.clear();
  wind.sendMessageByParam(replayTarget);
  ASSERT_EQ(g_replayed.size(), 2u);
  EXPECT_EQ(g_replayed[0].msg, (UINT)WM_LBUTTONDOWN);
  EXPECT_EQ(g_replayed[0].hwnd, b);
  EXPECT_EQ(g_replayed[0].wParam, 88u);
  EXPECT_EQ(g_replayed[0].lParam, 1572901);
  EXPECT_EQ(g_replayed[1].msg, (UINT)WM_LBUTTONUP);
  wind.sendMessageByParam(replayTarget);
  EXPECT_EQ(g_replayed.size(), 2u);
}

TEST(ComposeObjects, ProceduresOfAWindowWhoseObjectIsGoneCallNothing) {
  FakeMailClient mail(kMail + 2);
  ComposeWindow w = mail.openCompose(MailKind::Outlook);
  mail.clearLog();
  mail.run([&] {
    EXPECT_EQ(WindowProc_Outlook(w.container, WM_COMMAND, 4353, 0), 0);
    EXPECT_EQ(WindowProc_Foxmail(w.container, WM_LBUTTONUP, 0, 0), 0);
    EXPECT_EQ(WindowProc_Foxmail70(w.container, WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(newWindowProc_Edit(w.to, WM_LBUTTONDOWN, 0, 0), 0);
  });
  EXPECT_TRUE(mail.messages(w.container).empty());
  EXPECT_TRUE(mail.messages(w.to).empty());
}

TEST(ComposeObjects, Foxmail70AttachWithNothingListeningKeepsNoPrivateAgent) {
  PostwingUiAgent::setPortOverride(1);  // nothing listens there
  FakeMailClient mail(kMail + 3);
  ComposeWindow w = mail.openCompose(MailKind::Foxmail70);
  FoxMail70Wind wind(w.root);
  EXPECT_EQ(wind.showAttachDialog(), 0);  // within two seconds of the window's detection
  wind.setLastAttachClick(FoxMail70Wind::now() - ACE_Time_Value(3));
  EXPECT_EQ(wind.showAttachDialog(), -1);
  EXPECT_FALSE(wind.hasAgent());
  EXPECT_EQ(wind.showAddrDialog(), 0);  // no agent: nothing
  EXPECT_EQ(wind.closeDialog(), 0);
  PostwingUiAgent::setPortOverride(0);
}

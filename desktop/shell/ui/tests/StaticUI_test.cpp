// The animated picture control over a real GIF in the working directory's skin folder.
#include "ui/UIStatic.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

using namespace DuiLib;

namespace {

struct Picture : ::testing::Test {
  std::string dir, oldCwd;
  CPaintManagerUI pm;
  CVerticalLayoutUI* root = new CVerticalLayoutUI();
  CStaticUI* pic = new CStaticUI();

  void SetUp() override {
    char tmpl[] = "/tmp/pw_staticui_XXXXXX";
    dir = mkdtemp(tmpl);
    mkdir((dir + "/skin").c_str(), 0755);
    mkdir((dir + "/skin/images").c_str(), 0755);
    char buf[4096];
    oldCwd = getcwd(buf, sizeof(buf));
    ASSERT_EQ(0, chdir(dir.c_str()));
    pic->SetFixedHeight(40);
    pic->SetText("never shown");
    root->SetInset(RECT{5, 7, 0, 0});
    root->Add(pic);
    pm.SetInitSize(100, 100);
    pm.AttachDialog(root);
  }
  void TearDown() override {
    ASSERT_EQ(0, chdir(oldCwd.c_str()));
    std::string gif = dir + "/skin/images/Loading.gif";
    unlink(gif.c_str());
    rmdir((dir + "/skin/images").c_str());
    rmdir((dir + "/skin").c_str());
    rmdir(dir.c_str());
  }
  void writeGif(const std::string& bytes) {
    std::ofstream(dir + "/skin/images/Loading.gif", std::ios::binary) << bytes;
  }
  int timer() { return pm.GetTimerInterval(pic, CStaticUI::kTimerId); }
};

TEST_F(Picture, NeverPaintedNeverLoadsNorStartsItsTimer) {
  writeGif(Gdiplus::Probe::makeGif(4, 3, {0, 5, 20}));
  pm.AdvanceTimers(1000);
  EXPECT_FALSE(pic->IsPictureLoaded());
  EXPECT_EQ(-1, timer());
}

TEST_F(Picture, StepsThroughAThreeFrameGifWithItsDelays) {
  writeGif(Gdiplus::Probe::makeGif(4, 3, {0, 5, 20}));
  Gdiplus::Probe::reset();
  pm.Paint();
  ASSERT_TRUE(pic->IsPictureLoaded());
  EXPECT_EQ(3u, pic->GetFrameCount());
  EXPECT_EQ(100, timer());  // a delay of 0 means 100 ms
  struct Step {
    UINT advance;
    UINT position;
    int interval;
  } steps[] = {{99, 0, 100}, {1, 1, 50}, {50, 2, 200}, {200, 0, 100}, {100, 1, 50}};
  for (const auto& s : steps) {
    pm.AdvanceTimers(s.advance);
    EXPECT_EQ(s.position, pic->GetFramePosition()) << s.advance;
    EXPECT_EQ(s.interval, timer()) << s.advance;
    pm.Paint();
  }
  // Each paint shows the frame selected at the paint before; at the control's corner, natural size.
  auto draws = Gdiplus::Probe::draws();
  ASSERT_EQ(6u, draws.size());
  std::vector<UINT> frames;
  for (const auto& d : draws) frames.push_back(d.frame);
  EXPECT_EQ((std::vector<UINT>{0, 0, 0, 1, 2, 0}), frames);
  EXPECT_EQ(5, draws[0].x);
  EXPECT_EQ(7, draws[0].y);
  EXPECT_EQ(4, draws[0].width);
  EXPECT_EQ(3, draws[0].height);
}

TEST_F(Picture, BadPicturesNeitherFaultNorReadPastTheirDelays) {
  struct Case {
    const char* what;
    std::string bytes;
    bool write;
    UINT frames;
    std::vector<int> intervals;  // after the paint, then after each step
  } cases[] = {
      {"missing file", "", false, 0, {-1}},
      {"not a GIF", "plain text, not a picture", true, 0, {-1}},
      {"cut GIF", Gdiplus::Probe::makeGif(2, 2, {3, 4}).substr(0, 40), true, 0, {-1}},
      {"one frame", Gdiplus::Probe::makeGif(2, 2, {7}), true, 1, {-1}},
      {"no delay property", Gdiplus::Probe::makeGif(2, 2, {3, 4}, {false, false}), true, 2, {100, 100, 100}},
      {"fewer delays than frames", Gdiplus::Probe::makeGif(2, 2, {9, 4, 4}, {true, false, false}), true, 3,
       {90, 100, 100, 90}},
  };
  for (const auto& c : cases) {
    CStaticUI* p = new CStaticUI();
    p->SetFixedHeight(10);
    root->RemoveAll();
    root->Add(p);
    pic = p;
    std::string gif = dir + "/skin/images/Loading.gif";
    unlink(gif.c_str());
    if (c.write) writeGif(c.bytes);
    pm.Paint();
    EXPECT_TRUE(p->IsPictureLoaded()) << c.what;
    EXPECT_EQ(c.frames, p->GetFrameCount()) << c.what;
    EXPECT_EQ(c.intervals[0], timer()) << c.what;
    for (size_t i = 1; i < c.intervals.size(); ++i) {
      pm.AdvanceTimers((UINT)c.intervals[i - 1]);
      EXPECT_EQ(c.intervals[i], timer()) << c.what << " step " << i;
      EXPECT_LT(p->GetFramePosition(), c.frames) << c.what;
    }
    // A stray timer event for a picture that cannot move changes nothing.
    TEventUI ev;
    ev.Type = UIEVENT_TIMER;
    ev.wParam = CStaticUI::kTimerId;
    p->Event(ev);
    if (c.frames == 0) {
      EXPECT_EQ(0u, p->GetFramePosition()) << c.what;
    }
  }
}

TEST_F(Picture, DestructionStopsTheTimerAndShutsDownOncePerStartup) {
  writeGif(Gdiplus::Probe::makeGif(4, 3, {1, 1}));
  int live = Gdiplus::Probe::liveTokens();
  pm.Paint();
  EXPECT_EQ(10, timer());
  CControlUI* key = pic;
  root->Remove(pic);  // destroyed
  EXPECT_EQ(-1, pm.GetTimerInterval(key, CStaticUI::kTimerId));
  EXPECT_EQ(live - 1, Gdiplus::Probe::liveTokens());
  pm.AdvanceTimers(1000);  // nothing left to fire
  {
    CStaticUI loose;  // never attached: no manager to stop a timer with
    EXPECT_EQ(live, Gdiplus::Probe::liveTokens());
  }
  EXPECT_EQ(live - 1, Gdiplus::Probe::liveTokens());
}

TEST(StaticControl, ClassInterfaceAndTheSharedFactory) {
  CStaticUI s;
  EXPECT_STREQ("StaticUI", s.GetClass());
  EXPECT_EQ(&s, s.GetInterface("Static"));
  EXPECT_EQ(nullptr, s.GetInterface("static"));
  EXPECT_NE(nullptr, s.GetInterface("Label"));
  for (const char* name : {"StaticUI", "staticui", "STATICUI"}) {
    CControlUI* c = CreateSharedControl(name);
    ASSERT_NE(nullptr, c) << name;
    EXPECT_STREQ("StaticUI", c->GetClass());
    delete c;
  }
  EXPECT_EQ(nullptr, CreateSharedControl("Label"));
  EXPECT_EQ(nullptr, CreateSharedControl(nullptr));
}

}  // namespace

namespace {
// A window of its own whose manager holds the picture, as in the running program.
struct PictureWnd : CWindowWnd {
  CPaintManagerUI manager;
  CStaticUI* picture = nullptr;
  LPCTSTR GetWindowClassName() const override { return "PwPictureWnd"; }
  LRESULT HandleMessage(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_CREATE) {
      manager.Init(GetHWND());
      auto* root = new CVerticalLayoutUI();
      picture = new CStaticUI();
      picture->SetFixedHeight(40);
      root->Add(picture);
      manager.AttachDialog(root);
      return 0;
    }
    LRESULT r = 0;
    if (manager.MessageHandler(m, w, l, r)) return r;
    return CWindowWnd::HandleMessage(m, w, l);
  }
};
}  // namespace

TEST_F(Picture, InAWindowTheFramesMoveOnWmTimerThroughTheMessageLoop) {
  writeGif(Gdiplus::Probe::makeGif(4, 3, {2, 2, 2}));  // 20 ms a frame
  PictureWnd wnd;
  ASSERT_NE(nullptr, wnd.Create(nullptr, "picture", WS_VISIBLE | WS_POPUP, 0, 0, 0, 100, 100));
  std::set<UINT> positions;
  DWORD start = GetTickCount();
  while (positions.size() < 3 && GetTickCount() - start < 5000) {
    WaitMessage();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (wnd.picture->IsPictureLoaded()) positions.insert(wnd.picture->GetFramePosition());
  }
  EXPECT_EQ((std::set<UINT>{0, 1, 2}), positions);
  DestroyWindow(wnd.GetHWND());
}

// The message box through its skin: answers, layout, picture, texts.
#include "ui/HintDialog.h"

#include "duilib/UIAutomation.h"

#include <gtest/gtest.h>

using namespace DuiLib;
namespace A = DuiLib::Automation;

namespace {

struct OwnerWnd : CWindowWnd {
  LPCTSTR GetWindowClassName() const override { return "HintOwnerWnd"; }
};

struct HintBox : ::testing::Test {
  void SetUp() override { CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR); }
};

// What the box showed, read from inside its modal loop.
struct Shown {
  std::string windowText, message, title, bkImage;
  bool cancelVisible = false, pictureBoxVisible = false;
  int placeholder = -1, left = -1, right = -1;
  HWND owner = nullptr;
};

Shown inspect(WindowImplBase& w) {
  CPaintManagerUI& pm = w.GetPaintManager();
  Shown s;
  char buf[256] = {0};
  GetWindowTextA(w.GetHWND(), buf, sizeof(buf));
  s.windowText = buf;
  s.message = pm.FindControl("MessageRedt")->GetText().str();
  s.title = pm.FindControl("titallabel")->GetText().str();
  s.bkImage = pm.FindControl("HintImageCtl")->GetBkImage();
  s.pictureBoxVisible = pm.FindControl("HintImageCtl")->GetParent()->IsVisible();
  s.cancelVisible = pm.FindControl("CancelBtn")->IsVisible();
  s.placeholder = pm.FindControl("placeholder")->GetFixedWidth();
  s.left = pm.FindControl("leftmargin")->GetFixedWidth();
  s.right = pm.FindControl("rightmargin")->GetFixedWidth();
  s.owner = GetWindow(w.GetHWND(), GW_OWNER);
  return s;
}

TEST_F(HintBox, SkinHoldsEveryControlTheBoxUses) {
  std::vector<std::string> missing;
  A::ScopedModalAnswer answer([&](WindowImplBase& w) {
    for (const char* name : {"HintImageCtl", "MessageRedt", "titallabel", "SureBtn", "CancelBtn", "CloseWndBtn",
                             "BtnQuit", "MinimizeWndBtn", "leftmargin", "rightmargin", "placeholder"})
      if (!A::Find(w, name)) missing.push_back(name);
    A::Click(A::Find(w, "SureBtn"));
  });
  EXPECT_EQ(1, ShowHintDialog(nullptr, "m", nullptr, "t", "", true));
  EXPECT_TRUE(missing.empty()) << missing.front();
}

TEST_F(HintBox, ReturnsTheAnswerForEachButtonAndLayout) {
  struct Case {
    bool showCancel;
    std::vector<const char*> clicks;
    int result;
  } cases[] = {
      {true, {"SureBtn"}, 1},
      {true, {"CancelBtn"}, 0},
      {true, {"CloseWndBtn"}, 0},
      {true, {"BtnQuit"}, 0},
      {false, {"SureBtn"}, 1},
      {false, {"CloseWndBtn"}, 0},
      {false, {"BtnQuit"}, 0},
      {false, {"CancelBtn", "MinimizeWndBtn", "SureBtn"}, 1},  // a hidden Cancel cannot be pressed
  };
  for (const auto& c : cases) {
    bool iconic = false;
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      for (const char* b : c.clicks) A::Click(A::Find(w, b));
      iconic = IsIconic(w.GetHWND()) != 0;
    });
    EXPECT_EQ(c.result, ShowHintDialog(nullptr, "消息", nullptr, "标题", "msghint.png", c.showCancel))
        << c.clicks.back() << " cancel=" << c.showCancel;
    if (c.clicks.size() > 1) {
      EXPECT_TRUE(iconic);
    }
  }
}

TEST_F(HintBox, TextsPictureAndButtonRow) {
  Shown withCancel, without, noPicture;
  {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      withCancel = inspect(w);
      A::Click(A::Find(w, "SureBtn"));
    });
    ShowHintDialog(nullptr, "您确定要注销gina账户吗？", nullptr, "注销", "msgerror.png", true);
  }
  EXPECT_EQ("提示信息", withCancel.windowText);
  EXPECT_EQ("您确定要注销gina账户吗？", withCancel.message);
  EXPECT_EQ("注销", withCancel.title);
  EXPECT_EQ("file='..\\images\\msgerror.png' ", withCancel.bkImage);
  EXPECT_TRUE(withCancel.pictureBoxVisible);
  EXPECT_TRUE(withCancel.cancelVisible);
  EXPECT_EQ(20, withCancel.placeholder);
  EXPECT_EQ(40, withCancel.left);
  EXPECT_EQ(40, withCancel.right);
  {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      without = inspect(w);
      A::Click(A::Find(w, "SureBtn"));
    });
    ShowHintDialog(nullptr, "用户名称不能为空！", nullptr, "提示信息", "msghint.png", false);
  }
  EXPECT_FALSE(without.cancelVisible);
  EXPECT_EQ(10, without.placeholder);  // the skin's width
  EXPECT_EQ(90, without.left);
  EXPECT_EQ(90, without.right);
  {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      noPicture = inspect(w);
      A::Click(A::Find(w, "BtnQuit"));
    });
    ShowHintDialog(nullptr, "", nullptr, "", "", false);
  }
  EXPECT_FALSE(noPicture.pictureBoxVisible);
  EXPECT_EQ("", noPicture.bkImage);
  EXPECT_EQ("提示信息", noPicture.title);  // empty title: the skin's text stays
}

TEST_F(HintBox, OwnedByTheOwnerWindowOrTheGivenParent) {
  OwnerWnd owner, other;
  ASSERT_TRUE(owner.Create(nullptr, "owner", WS_POPUP | WS_VISIBLE, 0, 0, 0, 600, 400));
  ASSERT_TRUE(other.Create(nullptr, "other", WS_POPUP | WS_VISIBLE, 0, 0, 0, 600, 400));
  Shown byOwner, byParent;
  bool ownerDisabled = false;
  {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      byOwner = inspect(w);
      ownerDisabled = !IsWindowEnabled(owner.GetHWND());
      A::Click(A::Find(w, "CancelBtn"));
    });
    EXPECT_EQ(0, ShowHintDialog(&owner, "m", nullptr, "t", "", true));
  }
  {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      byParent = inspect(w);
      A::Click(A::Find(w, "SureBtn"));
    });
    EXPECT_EQ(1, ShowHintDialog(&owner, "m", other.GetHWND(), "t", "", true));
  }
  EXPECT_EQ(owner.GetHWND(), byOwner.owner);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner.GetHWND()));
  EXPECT_EQ(other.GetHWND(), byParent.owner);
  DestroyWindow(owner.GetHWND());
  DestroyWindow(other.GetHWND());
}

TEST_F(HintBox, LongPictureNameIsCutAtTheBufferNotPastIt) {
  std::string longName(400, 'p');
  std::string shown;
  A::ScopedModalAnswer answer([&](WindowImplBase& w) {
    shown = inspect(w).bkImage;
    A::Click(A::Find(w, "SureBtn"));
  });
  ShowHintDialog(nullptr, "m", nullptr, "t", longName.c_str(), false);
  EXPECT_EQ(259u, shown.size());
  EXPECT_EQ(0u, shown.find("file='..\\images\\ppp"));
}

TEST(HintBoxNoSkin, ASkinThatCannotBeFoundAnswersZero) {
  CPaintManagerUI::SetResourcePath("/nonexistent/");
  EXPECT_EQ(0, ShowHintDialog(nullptr, "m", nullptr, "t", "", true));
}

}  // namespace

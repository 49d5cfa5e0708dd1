// The headless UI library: skins, notifications, modal loops, lists, timers.
#include "duilib/UIAutomation.h"
#include "duilib/UIlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <functional>
#include <thread>

using namespace DuiLib;
namespace A = DuiLib::Automation;

namespace {

const UINT WM_TEST_PING = WM_APP + 7;

class CustomUI : public CLabelUI {
 public:
  LPCTSTR GetClass() const override { return "CustomUI"; }
};

struct Seen {
  std::string type, sender;
};

class TestDialog : public WindowImplBase {
 public:
  std::vector<Seen> seen;
  bool finalCalled = false;
  DWORD pingThread = 0;
  UINT closeOnPing = 0;
  std::string skin = "TestDialog.xml";

  LPCTSTR GetWindowClassName() const override { return "TestDialog"; }
  CDuiString GetSkinFolder() override { return PW_DUILIB_TEST_SKINS; }
  CDuiString GetSkinFile() override { return skin.c_str(); }
  CControlUI* CreateControl(LPCTSTR cls) override {
    if (CDuiString(cls).CompareNoCase("custom") == 0) return new CustomUI();
    return nullptr;
  }
  void Notify(TNotifyUI& msg) override {
    seen.push_back({msg.sType.str(), msg.pSender ? msg.pSender->GetName().str() : ""});
    if (msg.sType == "click" && msg.pSender->GetName() == "CloseWndBtn") Close(5);
  }
  void OnFinalMessage(HWND h) override {
    WindowImplBase::OnFinalMessage(h);
    finalCalled = true;
  }
  std::vector<UINT> custom;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM w, LPARAM, BOOL& bHandled) override {
    bHandled = FALSE;
    custom.push_back(uMsg);
    if (uMsg == WM_TEST_PING) {
      pingThread = GetCurrentThreadId();
      bHandled = TRUE;
      Close((UINT)w);
    }
    return 0;
  }
  size_t count(const std::string& type, const std::string& sender) const {
    size_t n = 0;
    for (const auto& s : seen) n += s.type == type && s.sender == sender;
    return n;
  }
  CControlUI* find(LPCTSTR name) { return m_PaintManager.FindControl(name); }
};

struct Window : ::testing::Test {
  TestDialog dlg;
  void SetUp() override {
    ASSERT_TRUE(dlg.Create(nullptr, "测试", UI_WNDSTYLE_DIALOG, 0));
    A::Pump();  // first paint: "windowinit"
  }
  void TearDown() override {
    if (IsWindow(dlg.GetHWND())) DestroyWindow(dlg.GetHWND());
  }
};

TEST_F(Window, SkinBuildsEveryNamedControlWithItsAttributes) {
  ASSERT_EQ(1u, dlg.count("windowinit", "root"));
  struct Row {
    const char* name;
    const char* cls;
  } rows[] = {{"titallabel", "LabelUI"}, {"MinimizeWndBtn", "ButtonUI"}, {"CloseWndBtn", "ButtonUI"},
              {"nameedt", "EditUI"},     {"readonlyedt", "EditUI"},     {"opt", "OptionUI"},
              {"chk", "CheckBoxUI"},     {"pro", "ProgressUI"},         {"custom", "CustomUI"},
              {"lst", "ListUI"},         {"okbtn", "ButtonUI"},         {"hiddenbtn", "ButtonUI"},
              {"mlst", "MutilListUI"}};
  for (const auto& r : rows) {
    CControlUI* c = dlg.find(r.name);
    ASSERT_NE(nullptr, c) << r.name;
    EXPECT_STREQ(r.cls, c->GetClass()) << r.name;
  }
  EXPECT_EQ(CDuiString("标题"), dlg.find("titallabel")->GetText());
  EXPECT_EQ(1, static_cast<CLabelUI*>(dlg.find("titallabel"))->GetFont());
  EXPECT_TRUE(static_cast<CEditUI*>(dlg.find("readonlyedt"))->IsReadOnly());
  EXPECT_TRUE(static_cast<COptionUI*>(dlg.find("opt"))->IsSelected());
  EXPECT_EQ(30, static_cast<CProgressUI*>(dlg.find("pro"))->GetValue());
  EXPECT_TRUE(dlg.find("lst")->IsContextMenuUsed());
  EXPECT_FALSE(dlg.find("hiddenbtn")->IsVisible());
  EXPECT_STREQ("bkcolor=\"#FF112233\"", dlg.GetPaintManager().GetDefaultAttributeList("Menu"));
  EXPECT_EQ(nullptr, dlg.find("nosuchcontrol"));

  RECT win;
  GetClientRect(dlg.GetHWND(), &win);
  EXPECT_EQ(400, win.right);
  EXPECT_EQ(300, win.bottom);
  RECT ok = dlg.find("okbtn")->GetPos();
  EXPECT_EQ(80, ok.right - ok.left);
  EXPECT_EQ(30, ok.bottom - ok.top);
  EXPECT_EQ(160, ok.left);  // centred between two shared spacers (the hidden button takes no room)
  RECT hidden = dlg.find("hiddenbtn")->GetPos();
  EXPECT_EQ(0, hidden.right - hidden.left);
}

TEST_F(Window, MouseReachesNotifyWithTypeAndSender) {
  auto* opt = static_cast<COptionUI*>(dlg.find("opt"));
  auto* ok = dlg.find("okbtn");
  dlg.seen.clear();
  A::Click(ok);
  EXPECT_EQ(1u, dlg.count("click", "okbtn"));
  EXPECT_EQ(1u, dlg.count("setfocus", "okbtn"));

  A::Click(opt);  // click first, then the state flips
  EXPECT_FALSE(opt->IsSelected());
  ASSERT_GE(dlg.seen.size(), 2u);
  EXPECT_EQ("click", dlg.seen[dlg.seen.size() - 2].type);
  EXPECT_EQ("selectchanged", dlg.seen.back().type);

  dlg.seen.clear();
  A::PressAndLeave(ok);  // released outside: no activation
  A::Click(dlg.find("hiddenbtn"));
  ok->SetEnabled(false);
  A::Click(ok);
  A::Click(dlg.find("titallabel"));  // labels never activate
  EXPECT_EQ(0u, dlg.count("click", "okbtn"));
  EXPECT_EQ(0u, dlg.count("click", "hiddenbtn"));
  EXPECT_EQ(0u, dlg.count("click", "titallabel"));

  // A delegate that returns false keeps the event from the control.
  ok->SetEnabled(true);
  int calls = 0;
  struct Veto {
    int* calls;
    bool On(void* p) {
      int type = static_cast<TEventUI*>(p)->Type;
      if (type == UIEVENT_BUTTONDOWN || type == UIEVENT_BUTTONUP) ++*calls;
      return type != UIEVENT_BUTTONUP;
    }
  } veto{&calls};
  ok->OnEvent += MakeDelegate(&veto, &Veto::On);
  A::Click(ok);
  EXPECT_EQ(2, calls);
  EXPECT_EQ(0u, dlg.count("click", "okbtn"));
  ok->OnEvent -= MakeDelegate(&veto, &Veto::On);
  A::Click(ok);
  EXPECT_EQ(1u, dlg.count("click", "okbtn"));
}

TEST_F(Window, EditSendsTextchangedOnlyForTypingAndFocusNotifications) {
  auto* e = dlg.find("nameedt");
  dlg.seen.clear();
  e->SetText("programmatic");
  EXPECT_EQ(0u, dlg.seen.size());
  A::Focus(e);
  EXPECT_TRUE(A::TypeText(e, "gina"));
  EXPECT_EQ(CDuiString("gina"), e->GetText());
  A::PressReturn(e);
  A::Blur(e);
  EXPECT_EQ(1u, dlg.count("setfocus", "nameedt"));
  EXPECT_EQ(1u, dlg.count("textchanged", "nameedt"));
  EXPECT_EQ(1u, dlg.count("return", "nameedt"));
  EXPECT_EQ(1u, dlg.count("killfocus", "nameedt"));

  auto* ro = dlg.find("readonlyedt");
  EXPECT_FALSE(A::TypeText(ro, "x"));
  EXPECT_EQ(CDuiString(""), ro->GetText());
  EXPECT_EQ(0u, dlg.count("textchanged", "readonlyedt"));
}

TEST_F(Window, MessageFiltersSeeTheWindowsMessagesFirst) {
  struct Filter : IMessageFilterUI {
    std::vector<UINT> seen;
    LRESULT MessageHandler(UINT uMsg, WPARAM, LPARAM, bool& bHandled) override {
      seen.push_back(uMsg);
      bHandled = uMsg == WM_APP + 9;
      return bHandled ? 42 : 0;
    }
  } filter;
  CPaintManagerUI& pm = dlg.GetPaintManager();
  EXPECT_TRUE(pm.AddMessageFilter(&filter));
  EXPECT_FALSE(pm.AddMessageFilter(&filter));
  EXPECT_EQ(42, SendMessageA(dlg.GetHWND(), WM_APP + 9, 0, 0));
  EXPECT_EQ(0, SendMessageA(dlg.GetHWND(), WM_APP + 10, 0, 0));
  EXPECT_EQ((std::vector<UINT>{WM_APP + 9, WM_APP + 10}), filter.seen);
  EXPECT_TRUE(pm.RemoveMessageFilter(&filter));
  A::MouseMove(dlg);  // reaches the window's own handler
  EXPECT_NE(dlg.custom.end(), std::find(dlg.custom.begin(), dlg.custom.end(), (UINT)WM_MOUSEMOVE));
  SendMessageA(dlg.GetHWND(), WM_APP + 9, 0, 0);
  EXPECT_EQ(2u, filter.seen.size());

  // A second notifier hears what the window hears, in the order they were added.
  struct Recorder : INotifyUI {
    std::vector<std::string> types;
    void Notify(TNotifyUI& msg) override { types.push_back(msg.sType.str()); }
  } rec;
  pm.AddNotifier(&rec);
  A::Click(dlg.find("okbtn"));
  EXPECT_EQ((std::vector<std::string>{"setfocus", "click"}), rec.types);
  pm.RemoveNotifier(&rec);
}

TEST_F(Window, ShiftAndCtrlClicksOnAMultiSelectList) {
  auto* list = static_cast<CMutilListUI*>(dlg.find("mlst"));
  ASSERT_NE(nullptr, list);
  CDialogBuilder rows;
  for (int i = 0; i < 4; ++i)
    list->Add(i ? rows.Create(nullptr, &dlg.GetPaintManager()) : rows.Create("Row.xml", nullptr, nullptr, &dlg.GetPaintManager()));
  auto selected = [&] {
    std::vector<int> s;
    for (int i = 0; i < list->GetCount(); ++i)
      if (static_cast<IListItemUI*>(list->GetItemAt(i)->GetInterface("ListItem"))->IsSelected()) s.push_back(i);
    return s;
  };
  A::Click(list->GetItemAt(1));
  A::HoldKey(dlg, VK_SHIFT, true);
  EXPECT_TRUE(GetKeyState(VK_SHIFT) & 0x8000);
  A::Click(list->GetItemAt(3));
  A::HoldKey(dlg, VK_SHIFT, false);
  EXPECT_EQ(std::vector<int>({1, 2, 3}), selected());
  A::HoldKey(dlg, VK_CONTROL, true);
  A::Click(list->GetItemAt(2));
  A::HoldKey(dlg, VK_CONTROL, false);
  EXPECT_FALSE(GetKeyState(VK_CONTROL) & 0x8000);
  EXPECT_EQ(std::vector<int>({1, 3}), selected());
  A::Click(list->GetItemAt(0));
  EXPECT_EQ(std::vector<int>({0}), selected());
}

TEST_F(Window, MinimiseAndCloseByButton) {
  dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(IsIconic(dlg.GetHWND()));
  A::Click(dlg.find("CloseWndBtn"));
  A::Pump();
  EXPECT_FALSE(IsWindow(dlg.GetHWND()));
  EXPECT_TRUE(dlg.finalCalled);
  EXPECT_EQ(nullptr, dlg.GetHWND());
}

TEST(Modal, ShowModalReturnsTheCloseCodeOnTheCallingThread) {
  TestDialog dlg;
  ASSERT_TRUE(dlg.Create(nullptr, "modal", UI_WNDSTYLE_DIALOG, 0));
  HWND h = dlg.GetHWND();
  std::thread other;
  std::atomic<bool> windowinitSeen{false};
  {
    // Inside the loop another thread posts to the window; the loop handles it on this thread.
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      windowinitSeen = static_cast<TestDialog&>(w).count("windowinit", "root") == 1;
      other = std::thread([h] { PostMessageA(h, WM_TEST_PING, 42, 0); });
    });
    EXPECT_EQ(42u, dlg.ShowModal());
  }
  other.join();
  EXPECT_TRUE(windowinitSeen);
  EXPECT_EQ(GetCurrentThreadId(), dlg.pingThread);
  EXPECT_TRUE(dlg.finalCalled);
  EXPECT_FALSE(IsWindow(h));
}

TEST(Modal, NestedModalAnswersAndOwnerDisabledMeanwhile) {
  TestDialog outer, inner;
  ASSERT_TRUE(outer.Create(nullptr, "outer", UI_WNDSTYLE_DIALOG, 0));
  std::vector<std::string> order;
  bool ownerDisabled = false;
  A::ScopedModalAnswer answer([&](WindowImplBase& w) {
    if (&w == &outer) {
      order.push_back("outer");
      ASSERT_TRUE(inner.Create(outer.GetHWND(), "inner", UI_WNDSTYLE_DIALOG, 0));
      UINT r = inner.ShowModal();
      order.push_back("inner returned " + std::to_string(r));
      A::Click(outer.find("CloseWndBtn"));
    } else {
      order.push_back("inner");
      ownerDisabled = !IsWindowEnabled(outer.GetHWND());
      A::Click(inner.find("CloseWndBtn"));
    }
  });
  EXPECT_EQ(5u, outer.ShowModal());
  EXPECT_EQ((std::vector<std::string>{"outer", "inner", "inner returned 5"}), order);
  EXPECT_TRUE(ownerDisabled);
}

TEST(Modal, UnreadableSkinCreatesNoWindow) {
  TestDialog dlg;
  dlg.skin = "NoSuchSkin.xml";
  EXPECT_EQ(nullptr, dlg.Create(nullptr, "x", UI_WNDSTYLE_DIALOG, 0));
  EXPECT_EQ(0u, dlg.ShowModal());
}

TEST(Modal, AWindowOutlivingItsObjectGoesToTheDefaultProcedure) {
  auto* dlg = new TestDialog();
  ASSERT_TRUE(dlg->Create(nullptr, "gone", UI_WNDSTYLE_DIALOG, 0));
  HWND h = dlg->GetHWND();
  delete dlg;
  EXPECT_EQ(nullptr, CWindowWnd::FromHandle(h));
  EXPECT_EQ(0, SendMessageA(h, WM_TEST_PING, 1, 0));
  A::Pump();
  EXPECT_TRUE(DestroyWindow(h));
}

TEST(Markup, RefusesDoctypeAndMalformedSkins) {
  CMarkup m;
  EXPECT_TRUE(m.LoadFromString("<Window><Label name=\"a\"/></Window>"));
  const char* bad[] = {
      "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e \"boom\">]><Window text=\"&e;\"/>",
      "<?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"file:///etc/passwd\"><Window/>",
      "<Window><Label></Window>",
      "",
  };
  for (const char* b : bad) EXPECT_FALSE(m.LoadFromString(b)) << b;
  EXPECT_FALSE(m.IsValid());
}

TEST(Markup, MapPathFindsNamesWithoutRegardToCase) {
  std::string skins = PW_DUILIB_TEST_SKINS;
  EXPECT_EQ(skins + "Row.xml", CPaintManagerUI::MapPath((skins + "ROW.XML").c_str()).str());
  std::string back = skins;
  for (auto& c : back)
    if (c == '/') c = '\\';
  EXPECT_EQ(skins + "Row.xml", CPaintManagerUI::MapPath((back + "row.xml").c_str()).str());
}

// ---- lists ----------------------------------------------------------------------------------
struct Lists : ::testing::Test {
  CPaintManagerUI pm;
  CDialogBuilder rows;
  CMutilListUI* list = new CMutilListUI();
  void SetUp() override {
    pm.SetSkinFolder(PW_DUILIB_TEST_SKINS);
    pm.SetInitSize(200, 400);
    pm.AttachDialog(list);
  }
  CControlUI* row(const char* text) {
    CControlUI* r = rows.GetMarkup()->IsValid() ? rows.Create(nullptr, &pm) : rows.Create("Row.xml", nullptr, nullptr, &pm);
    if (r) pm.FindSubControlByName(r, "rowlabel")->SetText(text);
    return r;
  }
  std::vector<int> selected() {
    std::vector<int> s;
    for (int i = 0; i < list->GetCount(); ++i)
      if (static_cast<IListItemUI*>(list->GetItemAt(i)->GetInterface("ListItem"))->IsSelected()) s.push_back(i);
    return s;
  }
  int index(CControlUI* c) { return static_cast<IListItemUI*>(c->GetInterface("ListItem"))->GetIndex(); }
};

TEST_F(Lists, IndexesFollowEveryInsertAndRemoval) {
  CControlUI* a = row("a");
  CControlUI* b = row("b");
  CControlUI* c = row("c");
  ASSERT_TRUE(a && b && c);
  EXPECT_TRUE(list->Add(a));
  EXPECT_TRUE(list->Add(c));
  EXPECT_TRUE(list->AddAt(b, 1));
  EXPECT_EQ(0, index(a));
  EXPECT_EQ(1, index(b));
  EXPECT_EQ(2, index(c));
  CControlUI* x = row("x");
  EXPECT_FALSE(list->AddAt(x, 9));  // past the end: refused, left to the caller
  delete x;
  CControlUI stranger;
  EXPECT_FALSE(list->Remove(&stranger));
  EXPECT_FALSE(list->RemoveAt(7));
  EXPECT_TRUE(list->Remove(a));  // destroyed
  EXPECT_EQ(0, index(b));
  EXPECT_EQ(1, index(c));
  EXPECT_TRUE(list->SetItemIndex(c, 0));
  EXPECT_EQ(0, index(c));
  EXPECT_EQ(1, index(b));
  EXPECT_EQ(CDuiString("b"), pm.FindSubControlByName(list->GetItemAt(1), "rowlabel")->GetText());
  list->RemoveAll();
  EXPECT_EQ(0, list->GetCount());
}

TEST_F(Lists, RowsStackFromTheTopAndHiddenRowsTakeNoRoom) {
  auto* plain = new CListLabelElementUI();  // no fixed height: 24
  list->Add(row("a"));                      // fixed 20
  list->Add(plain);
  list->Add(row("c"));
  list->GetItemAt(0)->SetInternVisible(false);
  EXPECT_FALSE(list->GetItemAt(0)->IsVisible());
  EXPECT_FALSE(pm.FindSubControlByName(list->GetItemAt(0), "rowlabel")->IsVisible());
  RECT r1 = plain->GetPos(), r2 = list->GetItemAt(2)->GetPos(), r0 = list->GetItemAt(0)->GetPos();
  EXPECT_EQ(0, r1.top);
  EXPECT_EQ(24, r1.bottom);
  EXPECT_EQ(24, r2.top);
  EXPECT_EQ(44, r2.bottom);
  EXPECT_EQ(0, r0.bottom - r0.top);
  list->GetItemAt(0)->SetInternVisible(true);
  EXPECT_EQ(20, plain->GetPos().top);
}

TEST_F(Lists, MultiSelectByClickCtrlShiftAndAll) {
  for (const char* t : {"a", "b", "c", "d"}) list->Add(row(t));
  A::Click(list->GetItemAt(1));
  EXPECT_EQ(std::vector<int>({1}), selected());
  A::Click(pm.FindSubControlByName(list->GetItemAt(2), "rowlabel"));  // a click on the row's label
  EXPECT_EQ(std::vector<int>({2}), selected());
  EXPECT_TRUE(list->SelectItemCtrl(0, true));
  EXPECT_EQ(std::vector<int>({0, 2}), selected());
  EXPECT_TRUE(list->SelectItemShift(3, true));  // from the current selection (0) to 3
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3}), selected());
  list->SelectAll(false);
  EXPECT_TRUE(selected().empty());
  EXPECT_EQ(-1, list->GetCurSel());
  EXPECT_TRUE(list->SelectRange(1, 2));
  EXPECT_EQ(std::vector<int>({1, 2}), selected());
  EXPECT_FALSE(list->SelectRange(2, 9));
}

TEST_F(Lists, DragReachesTheListAsDownMovesUp) {
  struct Recorder : CMutilListUI {
    std::vector<int> types;
    void DoEvent(TEventUI& e) override {
      types.push_back(e.Type);
      CMutilListUI::DoEvent(e);
    }
  };
  auto* rec = new Recorder();
  pm.AttachDialog(rec);
  A::Drag(rec, POINT{5, 5}, POINT{40, 60}, 3);
  EXPECT_EQ(std::vector<int>({UIEVENT_BUTTONDOWN, UIEVENT_MOUSEMOVE, UIEVENT_MOUSEMOVE, UIEVENT_MOUSEMOVE,
                              UIEVENT_BUTTONUP}),
            rec->types);
}

// Insertions and removals anywhere: every row's index is its place, and the current selection
// moves with its row.
TEST_F(Lists, IndexesAfterInsertingAndRemovingInTheMiddle) {
  for (int i = 0; i < 8; ++i) list->Add(row(std::to_string(i).c_str()));
  list->SelectItem(5);
  CControlUI* current = list->GetItemAt(5);
  struct Step {
    const char* what;
    std::function<bool()> act;
  } steps[] = {
      {"insert at 3", [&] { return list->AddAt(row("x"), 3); }},
      {"insert at 0", [&] { return list->AddAt(row("y"), 0); }},
      {"append", [&] { return list->Add(row("z")); }},
      {"remove at 2", [&] { return list->RemoveAt(2); }},
      {"remove the first", [&] { return list->Remove(list->GetItemAt(0)); }},
      {"move the last to 1", [&] { return list->SetItemIndex(list->GetItemAt(list->GetCount() - 1), 1); }},
  };
  for (auto& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_TRUE(step.act());
    for (int i = 0; i < list->GetCount(); ++i) EXPECT_EQ(i, index(list->GetItemAt(i))) << "row " << i;
    EXPECT_EQ(current, list->GetItemAt(list->GetCurSel()));
  }
}

// The mouse finds the row under it (and the control inside the row) as rows are added, hidden,
// shown and removed; the list itself where no row is.
TEST_F(Lists, HitTestFindsTheRowUnderThePointAfterEveryChange) {
  for (const char* t : {"a", "b", "c", "d", "e"}) list->Add(row(t));  // 20 high each
  auto textAt = [&](int y) -> std::string {
    CControlUI* c = pm.FindControl(POINT{100, y});
    if (c == list) return "list";
    return c && c->GetName() == "rowlabel" ? c->GetText().str() : std::string("other");
  };
  auto all = [&] {
    std::string out;
    for (int y : {0, 19, 20, 45, 79, 85, 99, 100, 300}) out += textAt(y) + " ";
    return out;
  };
  EXPECT_EQ("a a b c d e e list list ", all());
  list->GetItemAt(1)->SetInternVisible(false);  // b takes no room: c moves up
  EXPECT_EQ("a a c d e list list list list ", all());
  list->GetItemAt(1)->SetInternVisible(true);
  list->AddAt(row("x"), 0);
  EXPECT_EQ("x x a b c d d e list ", all());
  list->RemoveAt(2);  // b
  EXPECT_EQ("x x a c d e e list list ", all());
  EXPECT_EQ(CDuiString("TabItemHly"), pm.FindControl(POINT{198, 25})->GetName()) << "the marker at the row's right";
}

// Lookups by name follow the tree: controls added from a skin or by code, named before or after
// they are added, renamed, moved out without being destroyed, destroyed; list rows too.
TEST_F(Lists, FindControlByNameFollowsAddRenameAndRemove) {
  CControlUI* r0 = row("a");
  CControlUI* r1 = row("b");
  EXPECT_EQ(nullptr, pm.FindControl("rowlabel")) << "rows built for the window but not yet in it";
  list->Add(r0);
  list->Add(r1);
  CControlUI* label0 = pm.FindSubControlByName(r0, "rowlabel");
  CControlUI* label1 = pm.FindSubControlByName(r1, "rowlabel");
  EXPECT_EQ(label0, pm.FindControl("rowlabel")) << "of two, the first added";
  list->Remove(r0);
  EXPECT_EQ(label1, pm.FindControl("rowlabel"));

  auto* byCode = new CListLabelElementUI();
  byCode->SetName("late");
  list->Add(byCode);
  EXPECT_EQ(byCode, pm.FindControl("late"));
  auto* namedAfter = new CListLabelElementUI();
  list->AddAt(namedAfter, 0);
  EXPECT_EQ(nullptr, pm.FindControl("after"));
  namedAfter->SetName("after");
  EXPECT_EQ(namedAfter, pm.FindControl("after"));
  namedAfter->SetName("renamed");
  EXPECT_EQ(nullptr, pm.FindControl("after"));
  EXPECT_EQ(namedAfter, pm.FindControl("renamed"));
  EXPECT_TRUE(list->RemoveAt(0));  // destroyed
  EXPECT_EQ(nullptr, pm.FindControl("renamed"));

  // A container that keeps what it gives up: the child is out of the window until added again.
  auto* box = new CListContainerElementUI();
  box->SetAutoDestroy(false);
  auto* inner = new CLabelUI();
  inner->SetName("inner");
  box->Add(inner);
  list->Add(box);
  EXPECT_EQ(inner, pm.FindControl("inner"));
  EXPECT_TRUE(box->Remove(inner));
  EXPECT_EQ(nullptr, pm.FindControl("inner"));
  EXPECT_TRUE(box->Add(inner));
  EXPECT_EQ(inner, pm.FindControl("inner"));
  box->RemoveAll();
  EXPECT_EQ(nullptr, pm.FindControl("inner"));
  delete inner;
  EXPECT_EQ(byCode, pm.FindControl("late"));
  EXPECT_EQ(nullptr, pm.FindControl("nothing"));
  EXPECT_EQ(nullptr, pm.FindControl(nullptr));
}

// A named control taken out of a window that then goes can still be renamed and destroyed: it
// no longer points at the gone manager.
TEST(Controls, ANamedControlOutlivingItsManagerCanBeRenamedAndDestroyed) {
  auto* kept = new CLabelUI();
  kept->SetName("kept");
  {
    CPaintManagerUI pm;
    auto* root = new CVerticalLayoutUI();
    root->SetAutoDestroy(false);
    pm.AttachDialog(root);
    root->Add(kept);
    EXPECT_EQ(kept, pm.FindControl("kept"));
    root->RemoveAll();
    EXPECT_EQ(nullptr, pm.FindControl("kept"));
    kept->SetName("still");  // taken out, still with the manager
  }
  EXPECT_EQ(nullptr, kept->GetManager());
  kept->SetName("renamed");
  delete kept;
}

TEST(Controls, InternVisibilityComesFromTheContainer) {
  CVerticalLayoutUI box;
  auto* child = new CButtonUI();
  box.Add(child);
  box.SetVisible(false);
  EXPECT_FALSE(child->IsVisible());
  EXPECT_TRUE(child->IsOwnVisible());
  box.SetVisible(true);
  EXPECT_TRUE(child->IsVisible());
  child->SetVisible(false);
  box.SetInternVisible(true);
  EXPECT_FALSE(child->IsVisible());
}

TEST(Controls, TimersRunOnTheManualClock) {
  struct Ticker : CControlUI {
    std::vector<WPARAM> ticks;
    void DoEvent(TEventUI& e) override {
      if (e.Type == UIEVENT_TIMER) ticks.push_back(e.wParam);
    }
  };
  CPaintManagerUI pm;
  auto* t = new Ticker();
  pm.AttachDialog(t);
  pm.SetTimer(t, 1, 30);
  pm.SetTimer(t, 2, 50);
  EXPECT_EQ(30, pm.GetTimerInterval(t, 1));
  pm.AdvanceTimers(100);  // 30 50 60 90 100
  EXPECT_EQ(std::vector<WPARAM>({1, 2, 1, 1, 2}), t->ticks);
  EXPECT_TRUE(pm.KillTimer(t, 1));
  EXPECT_EQ(-1, pm.GetTimerInterval(t, 1));
  EXPECT_FALSE(pm.KillTimer(t, 1));
}

TEST(Controls, AttributeListsAndTextFormat) {
  CButtonUI b;
  b.ApplyAttributeList("name=\"x\" text='a b' width=\"12\" visible=\"false\" bkcolor=\"#FF00FF00\"");
  EXPECT_EQ(CDuiString("x"), b.GetName());
  EXPECT_EQ(CDuiString("a b"), b.GetText());
  EXPECT_EQ(12, b.GetFixedWidth());
  EXPECT_FALSE(b.IsVisible());
  EXPECT_EQ(0xFF00FF00u, b.GetBkColor());
  CDuiString s;
  s.Format("file='..\\images\\%s' ", "msgerror.png");
  EXPECT_EQ(CDuiString("file='..\\images\\msgerror.png' "), s);
  EXPECT_EQ(0, CDuiString("MenuElement").CompareNoCase("menuelement"));
  RECT a{0, 0, 10, 10}, b2{10, 0, 20, 10}, out;
  EXPECT_FALSE(IntersectRect(&out, &a, &b2));  // right edge is exclusive
  RECT c{5, 5, 5, 9};
  EXPECT_FALSE(IntersectRect(&out, &a, &c));  // empty rectangle
}

}  // namespace

namespace {
struct Ticker : CControlUI {
  std::vector<WPARAM> ticks;
  void DoEvent(TEventUI& e) override {
    if (e.Type == UIEVENT_TIMER) ticks.push_back(e.wParam);
  }
};

// Runs the calling thread's messages until pred or the deadline.
bool pumpUntil(const std::function<bool()>& pred, DWORD timeoutMs = 5000) {
  DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > timeoutMs) return false;
    WaitMessage();
    A::Pump();
  }
  return true;
}
}  // namespace

TEST_F(Window, TimersOfAWindowArriveAsWmTimerThroughTheMessageLoop) {
  auto* ticker = new Ticker();
  auto* root = static_cast<CContainerUI*>(dlg.find("root"));
  ASSERT_TRUE(root->Add(ticker));
  CPaintManagerUI& pm = dlg.GetPaintManager();
  ASSERT_TRUE(pm.SetTimer(ticker, 4, 10));
  EXPECT_TRUE(pumpUntil([&] { return ticker->ticks.size() >= 3; }));
  EXPECT_EQ(WPARAM(4), ticker->ticks[0]);
  // A Win32 timer of the window: its WM_TIMER reaches the manager through the window's procedure.
  MSG m;
  bool queued = false;
  for (DWORD start = GetTickCount(); !queued && GetTickCount() - start < 5000;) {
    WaitMessage();
    queued = PeekMessageA(&m, dlg.GetHWND(), WM_TIMER, WM_TIMER, PM_NOREMOVE) != FALSE;
    if (!queued) A::Pump();
  }
  ASSERT_TRUE(queued);
  EXPECT_EQ(dlg.GetHWND(), m.hwnd);
  EXPECT_TRUE(pm.KillTimer(ticker, 4));
  size_t after = ticker->ticks.size();
  A::Pump();
  EXPECT_FALSE(PeekMessageA(&m, dlg.GetHWND(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_EQ(after, ticker->ticks.size());

  // The tests' manual clock: no Win32 timer, events only when the clock moves.
  CPaintManagerUI::UseManualTimerClock(true);
  ASSERT_TRUE(pm.SetTimer(ticker, 5, 10));
  EXPECT_FALSE(PeekMessageA(&m, dlg.GetHWND(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
  pm.AdvanceTimers(25);
  EXPECT_EQ(after + 2, ticker->ticks.size());
  EXPECT_EQ(WPARAM(5), ticker->ticks.back());
  pm.RemoveAllTimers();
  CPaintManagerUI::UseManualTimerClock(false);
}

TEST_F(Window, TheAutomationReachesOnlyWhatAUserCould) {
  auto* ok = dlg.find("okbtn");
  dlg.seen.clear();
  // Hidden and disabled controls take no click, focus or typing.
  EXPECT_FALSE(A::Click(dlg.find("hiddenbtn")));
  ok->SetEnabled(false);
  EXPECT_FALSE(A::Click(ok));
  ok->SetEnabled(true);
  auto* e = dlg.find("nameedt");
  e->SetEnabled(false);
  EXPECT_FALSE(A::TypeText(e, "x"));
  EXPECT_FALSE(A::Focus(e));
  e->SetEnabled(true);
  EXPECT_EQ(0u, dlg.count("click", "okbtn"));
  EXPECT_EQ(CDuiString("初始"), e->GetText());

  // A disabled or hidden window takes nothing.
  EnableWindow(dlg.GetHWND(), FALSE);
  EXPECT_FALSE(A::Click(ok));
  EXPECT_FALSE(A::TypeText(e, "x"));
  EXPECT_FALSE(A::MouseMove(dlg));
  EnableWindow(dlg.GetHWND(), TRUE);
  ShowWindow(dlg.GetHWND(), SW_HIDE);
  EXPECT_FALSE(A::Click(ok));
  ShowWindow(dlg.GetHWND(), SW_SHOW);
  EXPECT_TRUE(A::Click(ok));
  EXPECT_EQ(1u, dlg.count("click", "okbtn"));

  // Typing stops at the box's maxchar, never inside a double-byte character.
  static_cast<CEditUI*>(e)->SetMaxChar(5);
  EXPECT_TRUE(A::TypeText(e, "abcdefg"));
  EXPECT_EQ(CDuiString("abcde"), e->GetText());
  EXPECT_TRUE(A::TypeText(e, "中文字"));  // six bytes of the program's text
  EXPECT_EQ(CDuiString("中文"), e->GetText());
  EXPECT_TRUE(A::TypeText(e, "ab中文"));
  EXPECT_EQ(CDuiString("ab中"), e->GetText());
}

TEST(Modal, TheOwnerOfAModalDialogTakesNoUserInputUntilItCloses) {
  TestDialog outer, inner;
  ASSERT_TRUE(outer.Create(nullptr, "outer", UI_WNDSTYLE_DIALOG, 0));
  bool refused = false, typedRefused = false;
  A::ScopedModalAnswer answer([&](WindowImplBase& w) {
    if (&w == &outer) {
      ASSERT_TRUE(inner.Create(outer.GetHWND(), "inner", UI_WNDSTYLE_DIALOG, 0));
      inner.ShowModal();
      A::Click(outer.find("CloseWndBtn"));  // enabled again
    } else {
      refused = !A::Click(outer.find("okbtn")) && !A::Click(outer.find("CloseWndBtn"));
      typedRefused = !A::TypeText(outer.find("nameedt"), "x");
      A::Click(inner.find("CloseWndBtn"));
    }
  });
  EXPECT_EQ(5u, outer.ShowModal());
  EXPECT_TRUE(refused);
  EXPECT_TRUE(typedRefused);
  EXPECT_EQ(0u, outer.count("click", "okbtn"));
}

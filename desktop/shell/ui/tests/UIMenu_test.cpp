// The popup menu: the broadcast, the menu windows, items, sub-menus and their placement.
#include "ui/UIMenu.h"

#include "duilib/UIAutomation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace DuiLib;
namespace A = DuiLib::Automation;

namespace {

// ---- the broadcast --------------------------------------------------------------------------
struct Rec : ContextMenuReceiver {
  std::vector<std::string>* log;
  std::string name;
  ContextMenuObserver* detachFrom = nullptr;  // detaches itself when served
  Rec(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
  int Accept(ContextMenuParam p) override {
    log->push_back(name + ":" + std::to_string(p.action));
    if (detachFrom) detachFrom->Detach(this);
    return 1;
  }
};

TEST(Observer, OrderSelfDetachAndNulls) {
  std::vector<std::string> log;
  ContextMenuObserver obs;
  Rec a(&log, "a"), b(&log, "b"), c(&log, "c");
  obs.Attach(&a);
  obs.Attach(&b);
  obs.Attach(&c);
  obs.Attach(nullptr);
  obs.Detach(nullptr);
  EXPECT_EQ(3, obs.GetReceiverCount());
  obs.Send(ContextMenuParam{1, nullptr});
  obs.SendReversed(ContextMenuParam{2, nullptr});
  EXPECT_EQ((std::vector<std::string>{"a:1", "b:1", "c:1", "c:2", "b:2", "a:2"}), log);

  // b leaves during the walk, on the delivering thread: no deadlock, nobody skipped or repeated.
  log.clear();
  b.detachFrom = &obs;
  obs.SendReversed(ContextMenuParam{1, nullptr});
  EXPECT_EQ((std::vector<std::string>{"c:1", "b:1", "a:1"}), log);
  log.clear();
  obs.Send(ContextMenuParam{1, nullptr});
  EXPECT_EQ((std::vector<std::string>{"a:1", "c:1"}), log);

  // Detach removes the first occurrence only.
  obs.Attach(&a);
  obs.Detach(&a);
  EXPECT_EQ(2, obs.GetReceiverCount());
  EXPECT_EQ(&c, obs.GetReceiver(0));
  EXPECT_EQ(&a, obs.GetReceiver(1));
  EXPECT_EQ(nullptr, obs.GetReceiver(2));
  // UnlinkObservers leaves every observer the receiver was linked to (twice to obs here).
  a.UnlinkObservers();
  EXPECT_EQ(1, obs.GetReceiverCount());
}

TEST(Observer, ConcurrentAttachDetachAndSend) {
  // The list is shared by whoever opens menus and whoever broadcasts; run it under TSan.
  struct Counter : ContextMenuReceiver {
    std::atomic<int> served{0};
    int Accept(ContextMenuParam) override {
      ++served;
      return 1;
    }
  };
  ContextMenuObserver obs;
  Counter keep;
  obs.Attach(&keep);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&obs, t] {
      Counter mine;
      for (int i = 0; i < 200; ++i) {
        obs.Attach(&mine);
        if (t % 2) obs.SendReversed(ContextMenuParam{2, nullptr});
        else obs.Send(ContextMenuParam{1, nullptr});
        obs.Detach(&mine);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(800, keep.served.load());
  EXPECT_EQ(1, obs.GetReceiverCount());
}

// ---- menu windows ---------------------------------------------------------------------------
const char* kSkin =
    "<Window><Menu itemtextpadding=\"5,0,7,0\">"
    "<MenuElement name=\"Open\" text=\"打开\"/>"
    "<MenuElement name=\"Disabled\" text=\"禁用\" enabled=\"false\"/>"
    "<MenuElement name=\"More\" text=\"更多\">"
    "  <MenuElement name=\"Sub1\" text=\"子一\"/>"
    "  <MenuElement name=\"Sub2\" text=\"子二\"/>"
    "</MenuElement>"
    "<MenuElement name=\"Empty\"/>"
    "</Menu></Window>";

struct AppWnd : CWindowWnd {
  std::vector<std::string> commands;
  int finals = 0;
  LPCTSTR GetWindowClassName() const override { return "MenuTestApp"; }
  LRESULT HandleMessage(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_PW_MENUCOMMAND) {
      if (w) {
        CDuiString* name = reinterpret_cast<CDuiString*>(w);
        commands.push_back(name->str());
        delete name;
      } else if (l == 100) {
        ++finals;
      }
      return 0;
    }
    return CWindowWnd::HandleMessage(m, w, l);
  }
};

std::vector<CMenuWnd*> openMenus() {
  std::vector<CMenuWnd*> v;
  for (int i = 0; i < MenuObserver.GetReceiverCount(); ++i)
    if (auto* w = dynamic_cast<CMenuWnd*>(MenuObserver.GetReceiver(i))) v.push_back(w);
  return v;
}

struct Menus : ::testing::Test {
  AppWnd app;
  CMenuWnd* top = nullptr;
  void SetUp() override {
    RECT work{0, 0, 1024, 768};
    SetMonitorWorkArea(&work);
    ASSERT_TRUE(app.Create(nullptr, "app", WS_POPUP | WS_VISIBLE, 0, 0, 0, 200, 100));
    top = new CMenuWnd(app.GetHWND());
    top->Popup(nullptr, kSkin, "xml", POINT{300, 200});
    ASSERT_EQ(1u, openMenus().size());
  }
  void TearDown() override {
    MenuObserver.SendReversed(ContextMenuParam{1, nullptr});
    A::Pump();
    EXPECT_TRUE(openMenus().empty());
    DestroyWindow(app.GetHWND());
    SetMonitorWorkArea(nullptr);
  }
  CControlUI* item(const char* name) { return top->GetPaintManager().FindControl(name); }
};

TEST_F(Menus, TopLevelMenuAtItsPointSizedByItsItems) {
  RECT rc;
  GetWindowRect(top->GetHWND(), &rc);
  EXPECT_EQ(300, rc.left);
  EXPECT_EQ(200, rc.top);
  EXPECT_EQ(4 * 25, rc.bottom - rc.top);  // four items of 25; nested items hidden
  // The widest text: two GBK characters (4 bytes x 7) + padding 5 + 7 + 20.
  EXPECT_EQ(4 * 7 + 12 + 20, rc.right - rc.left);
  EXPECT_FALSE(item("Sub1")->IsVisible());
  auto* empty = static_cast<CMenuElementUI*>(item("Empty"));
  SIZE s = empty->EstimateSize(SIZE{1024, 768});
  EXPECT_EQ(12 + 20, s.cx);
  EXPECT_EQ(25, s.cy);
}

TEST_F(Menus, TopLevelMenuIsNotMovedOntoTheScreen) {
  auto* edge = new CMenuWnd(app.GetHWND());
  edge->Popup(nullptr, kSkin, "xml", POINT{1000, 740});
  RECT rc;
  GetWindowRect(edge->GetHWND(), &rc);
  EXPECT_EQ(1000, rc.left);
  EXPECT_EQ(740, rc.top);
  EXPECT_GT(rc.right, 1024);
}

TEST_F(Menus, SelectionsAsATable) {
  struct Case {
    const char* what;
    std::function<void(Menus&)> act;
    std::vector<std::string> commands;
    int finals;  // top-level menus finally destroyed
    size_t open;
  } cases[] = {
      {"press a plain item", [](Menus& m) { A::Click(m.item("Open")); }, {"Open"}, 1, 0},
      {"press a disabled item", [](Menus& m) { A::Click(m.item("Disabled")); }, {}, 0, 1},
      {"press an item with nested items", [](Menus& m) { A::Click(m.item("More")); }, {}, 0, 2},
      {"press an item of the sub-menu",
       [](Menus& m) {
         A::Click(m.item("More"));
         A::Click(m.item("Sub2"));
       },
       {"Sub2"}, 1, 0},
      {"activate a selected item",
       [](Menus& m) {
         auto* e = static_cast<CMenuElementUI*>(m.item("Open"));
         static_cast<CMenuUI*>(e->GetParent())->SelectItem(e->GetIndex());
         EXPECT_TRUE(e->Activate());
       },
       {}, 1, 0},
      {"hover a plain item closes the open sub-menu",
       [](Menus& m) {
         A::MouseEnter(m.item("More"));
         ASSERT_EQ(2u, openMenus().size());
         A::MouseEnter(m.item("Open"));
       },
       {}, 0, 1},
      {"escape in the sub-menu closes it only",
       [](Menus& m) {
         A::Click(m.item("More"));
         ASSERT_EQ(2u, openMenus().size());
         SendMessageA(openMenus()[1]->GetHWND(), WM_KEYDOWN, VK_ESCAPE, 0);
       },
       {}, 0, 1},
      {"focus to another menu keeps them",
       [](Menus& m) {
         A::Click(m.item("More"));
         SendMessageA(m.top->GetHWND(), WM_KILLFOCUS, (WPARAM)openMenus()[1]->GetHWND(), 0);
       },
       {}, 0, 2},
      {"focus elsewhere closes all",
       [](Menus& m) {
         A::Click(m.item("More"));
         SendMessageA(m.top->GetHWND(), WM_KILLFOCUS, (WPARAM)m.app.GetHWND(), 0);
       },
       {}, 1, 0},
  };
  bool first = true;
  for (const auto& c : cases) {
    if (!first) {
      MenuObserver.SendReversed(ContextMenuParam{1, nullptr});
      A::Pump();
      app.commands.clear();
      app.finals = 0;
      top = new CMenuWnd(app.GetHWND());
      top->Popup(nullptr, kSkin, "xml", POINT{300, 200});
    }
    first = false;
    c.act(*this);
    A::Pump();
    EXPECT_EQ(c.commands, app.commands) << c.what;
    EXPECT_EQ(c.finals, app.finals) << c.what;
    EXPECT_EQ(c.open, openMenus().size()) << c.what;
  }
}

TEST_F(Menus, SubMenuBorrowsTheNestedItemsAndGivesThemBack) {
  auto* more = static_cast<CMenuElementUI*>(item("More"));
  A::Click(more);
  ASSERT_NE(nullptr, more->subMenuWindow);
  CMenuWnd* sub = more->subMenuWindow;
  EXPECT_EQ(more, sub->GetOwnerElement());
  CControlUI* sub1 = item("Sub1");
  EXPECT_EQ(&sub->GetPaintManager(), sub1->GetManager());
  EXPECT_TRUE(sub1->IsVisible());
  RECT rTop, rSub;
  GetWindowRect(top->GetHWND(), &rTop);
  GetWindowRect(sub->GetHWND(), &rSub);
  EXPECT_EQ(rTop.right, rSub.left);  // opens to the right of its parent menu
  EXPECT_EQ(2 * 25 + 4, rSub.bottom - rSub.top);
  EXPECT_EQ(top->GetHWND(), GetParent(sub->GetHWND()));

  SendMessageA(sub->GetHWND(), WM_KEYDOWN, VK_ESCAPE, 0);
  A::Pump();
  EXPECT_EQ(nullptr, more->subMenuWindow);
  EXPECT_EQ(&top->GetPaintManager(), sub1->GetManager());
  EXPECT_EQ(more, sub1->GetParent());
  EXPECT_FALSE(sub1->IsVisible());
  EXPECT_EQ(0u, more->GetButtonState() & UISTATE_PUSHED);
  A::Click(more);  // opens again
  ASSERT_NE(nullptr, more->subMenuWindow);
  EXPECT_TRUE(item("Sub1")->IsVisible());
}

TEST_F(Menus, TrayMenuSkinsBuildWithTheCommandNames) {
  CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR);
  struct Skin {
    const char* file;
    std::vector<const char*> items;
  } skins[] = {{"TrayMenu.xml", {"ShowLoginView", "SoftUpdate", "About"}},
               {"TrayMainMenu.xml", {"AddressUpdate", "Upload", "SoftUpdate", "About", "Logout"}}};
  for (const auto& s : skins) {
    auto* m = new CMenuWnd(app.GetHWND());
    m->Popup(nullptr, s.file, "xml", POINT{480, 560});
    ASSERT_NE(nullptr, m->GetHWND()) << s.file;
    auto* list = static_cast<CMenuUI*>(m->GetPaintManager().GetRoot()->GetInterface("Menu"));
    ASSERT_NE(nullptr, list) << s.file;
    ASSERT_EQ((int)s.items.size(), list->GetCount()) << s.file;
    for (size_t i = 0; i < s.items.size(); ++i)
      EXPECT_EQ(CDuiString(s.items[i]), list->GetItemAt((int)i)->GetName()) << s.file;
    RECT rc;
    GetWindowRect(m->GetHWND(), &rc);
    EXPECT_EQ(25 * (LONG)s.items.size(), rc.bottom - rc.top) << s.file;
    A::Click(list->GetItemAt(0));
    A::Pump();
    ASSERT_FALSE(app.commands.empty());
    EXPECT_EQ(s.items[0], app.commands.back());
  }
}

TEST(MenuList, AcceptsOnlyMenuItemsAndHidesTheirNestedItems) {
  CMenuUI menu;
  CButtonUI* button = new CButtonUI();
  EXPECT_FALSE(menu.Add(button));
  EXPECT_FALSE(menu.AddAt(button, 0));
  EXPECT_FALSE(menu.Remove(button));
  EXPECT_FALSE(menu.SetItemIndex(button, 0));
  EXPECT_EQ(-1, menu.GetItemIndex(button));
  delete button;
  auto* item = new CMenuElementUI();
  auto* nested = new CMenuElementUI();
  auto* icon = new CControlUI();
  item->Add(nested);
  item->Add(icon);
  EXPECT_TRUE(menu.Add(item));
  EXPECT_FALSE(nested->IsVisible());
  EXPECT_TRUE(icon->IsVisible());
  EXPECT_EQ(0, menu.GetItemIndex(item));
  EXPECT_EQ(&menu, menu.GetInterface("menu"));
  EXPECT_EQ(item, item->GetInterface("MENUELEMENT"));
  EXPECT_STREQ("MenuUI", menu.GetClass());
  EXPECT_STREQ("MenuElementUI", item->GetClass());
  EXPECT_FALSE(menu.GetHeader()->IsVisible());
  // A command that cannot be posted (no such window) is freed here, not leaked (run under ASan).
  item->ownerWindow = reinterpret_cast<HWND>(0x7fff0001);
  auto* leaf = new CMenuElementUI();
  leaf->ownerWindow = item->ownerWindow;
  leaf->SetName("Leaf");
  EXPECT_TRUE(menu.Add(leaf));
  TEventUI down;
  down.Type = UIEVENT_BUTTONDOWN;
  leaf->Event(down);
  CMenuBuilderCallback cb;
  cb.ownerWindow = reinterpret_cast<HWND>(7);
  CControlUI* m = cb.CreateControl("menu");
  CControlUI* e = cb.CreateControl("MenuElement");
  EXPECT_EQ(reinterpret_cast<HWND>(7), static_cast<CMenuUI*>(m)->ownerWindow);
  EXPECT_EQ(reinterpret_cast<HWND>(7), static_cast<CMenuElementUI*>(e)->ownerWindow);
  EXPECT_EQ(nullptr, cb.CreateControl("Button"));
  delete m;
  delete e;
}

TEST(MenuPlacement, SubMenuRectangleTable) {
  const RECT work{0, 0, 1000, 800};
  const int W = 80, H = 60;
  struct Case {
    const char* what;
    RECT parent, item;
    std::vector<CMenuWnd::OpenMenu> open;
    RECT work, expect;
  } cases[] = {
      {"to the right, six wider", {100, 100, 200, 300}, {100, 150, 200, 210}, {{{100, 100, 200, 300}, true}}, work,
       {200, 150, 286, 210}},
      {"past the right edge: left", {900, 100, 1000, 300}, {900, 150, 1000, 210}, {{{900, 100, 1000, 300}, true}},
       work, {820, 150, 900, 210}},
      {"past the bottom: upwards from the item's top", {100, 600, 200, 800}, {100, 760, 200, 820},
       {{{100, 600, 200, 800}, true}}, work, {200, 700, 286, 760}},
      {"a level that opened left makes the next open left", {220, 150, 300, 350}, {220, 160, 300, 220},
       {{{300, 100, 400, 300}, false}, {{220, 150, 300, 350}, true}}, work, {140, 160, 220, 220}},
      {"flipped left past the left edge: back to the right", {50, 100, 150, 300}, {50, 150, 150, 210},
       {{{150, 100, 250, 300}, false}, {{50, 100, 150, 300}, true}}, work, {150, 150, 230, 210}},
      {"above the work area: at its top", {100, 100, 200, 150}, {100, 110, 200, 170},
       {{{100, 200, 200, 300}, false}, {{100, 100, 200, 150}, true}}, RECT{0, 60, 1000, 800},
       {200, 60, 286, 120}},
  };
  for (const auto& c : cases) {
    RECT r = CMenuWnd::PlaceSubMenu(c.parent, c.item, W, H, c.open, c.work);
    EXPECT_EQ(c.expect.left, r.left) << c.what;
    EXPECT_EQ(c.expect.top, r.top) << c.what;
    EXPECT_EQ(c.expect.right, r.right) << c.what;
    EXPECT_EQ(c.expect.bottom, r.bottom) << c.what;
  }
}

}  // namespace

// The check-box tree: rows placed after their parent's subtree, expansion that hides and shows
// whole runs of rows, check marks passed down to every descendant and up to complete ancestors,
// clicks on the real row controls of "XmlNode.xml".
#include "DialogTestSupport.h"

#include "addressbook/UICursor.h"

using namespace DuiLib;
using namespace abdlgtest;
namespace A = DuiLib::Automation;

namespace {

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useSourceSkins();
    host_.reset(new HostWindow(
        "<Window size=\"400,600\"><VerticalLayout><CheckTreeView name=\"tree\" header=\"hidden\"/>"
        "</VerticalLayout></Window>"));
    tree_ = dynamic_cast<CCheckTreeView*>(host_->find("tree"));
    ASSERT_NE(tree_, nullptr);
  }
  void TearDown() override { host_.reset(); }

  struct Row {
    CheckTreeNode* node;
    CControlUI* row;
    COptionUI* expand;
    COptionUI* check;
    CControlUI* label;
  };
  // A row from the program's own row skin, added under parent; a group passes its label.
  Row add(CheckTreeNode* parent, const char* text, bool group, bool expanded = false) {
    CDialogBuilder builder;
    CPaintManagerUI& pm = host_->GetPaintManager();
    Row r{};
    r.row = builder.Create("XmlNode.xml", nullptr, host_.get(), &pm, nullptr);
    EXPECT_NE(r.row, nullptr);
    r.expand = static_cast<COptionUI*>(pm.FindSubControlByName(r.row, "ExpandBtn")->GetInterface("Option"));
    r.check = static_cast<COptionUI*>(pm.FindSubControlByName(r.row, "SelectedBtn")->GetInterface("Option"));
    r.label = pm.FindSubControlByName(r.row, "DisplayNameLbl");
    r.label->SetText(text);
    r.node = group ? tree_->AddNode(r.expand, parent, r.row, expanded, r.check, false, 1, r.label)
                   : tree_->AddNode(r.expand, parent, r.row, expanded, r.check, false, 0);
    EXPECT_NE(r.node, nullptr);
    if (r.node) r.node->data = (void*)text;
    return r;
  }
  std::vector<std::string> rowTexts() {
    std::vector<std::string> out;
    for (int i = 0; i < tree_->GetCount(); ++i)
      out.push_back(host_->GetPaintManager().FindSubControlByName(tree_->GetItemAt(i), "DisplayNameLbl")->GetText().str());
    return out;
  }

  std::unique_ptr<HostWindow> host_;
  CCheckTreeView* tree_ = nullptr;
};

TEST_F(TreeTest, RowsFollowTheirParentsSubtreeAndTheExpandButtonShowsWithTheFirstChild) {
  Row a = add(nullptr, "A", true);
  Row b = add(nullptr, "B", true);
  EXPECT_FALSE(a.expand->IsVisible());
  Row a1 = add(a.node, "a1", false);
  Row aa = add(a.node, "AA", true);
  Row aa1 = add(aa.node, "aa1", false);
  Row a2 = add(a.node, "a2", false);  // after AA's subtree
  Row b1 = add(b.node, "b1", false);
  EXPECT_EQ(rowTexts(), (std::vector<std::string>{"A", "a1", "AA", "aa1", "a2", "B", "b1"}));
  EXPECT_TRUE(a.expand->IsOwnVisible());
  EXPECT_TRUE(aa.expand->IsOwnVisible());
  EXPECT_FALSE(a1.expand->IsOwnVisible());
  EXPECT_EQ(tree_->GetNodeIndex(a2.node), 4);
  EXPECT_EQ(tree_->GetChildNode(a.node, 1), aa.node);
  EXPECT_EQ(tree_->GetChildNode(a.node, 3), nullptr);
  EXPECT_EQ(tree_->GetChildNode(tree_->GetRoot(), 1), b.node);

  // Removing a subtree takes its rows; the parent's expand button stays.
  EXPECT_TRUE(tree_->RemoveNode(aa.node));
  EXPECT_TRUE(tree_->RemoveNode(b1.node));
  EXPECT_EQ(rowTexts(), (std::vector<std::string>{"A", "a1", "a2", "B"}));
  EXPECT_TRUE(b.expand->IsOwnVisible());
  EXPECT_FALSE(tree_->RemoveNode(tree_->GetRoot()));
  EXPECT_FALSE(tree_->RemoveNode(nullptr));
  // Removing a row through the list removes its node and subtree too.
  EXPECT_TRUE(tree_->Remove(a.row));
  EXPECT_EQ(rowTexts(), (std::vector<std::string>{"B"}));
  EXPECT_EQ(tree_->GetChildNode(tree_->GetRoot(), 0), b.node);
  (void)a1;
  (void)aa1;
}

TEST_F(TreeTest, PlainRowsAreRefusedBeforeTheFirstNodeAndTheTreeStartsAgainAfterRemoveAll) {
  CListContainerElementUI* plain = new CListContainerElementUI();
  EXPECT_FALSE(tree_->Add(plain));
  EXPECT_FALSE(tree_->AddAt(plain, 0));
  delete plain;
  Row a = add(nullptr, "A", true);
  add(a.node, "a1", false);
  tree_->RemoveAll();
  EXPECT_EQ(tree_->GetCount(), 0);
  EXPECT_EQ(tree_->GetChildNode(tree_->GetRoot(), 0), nullptr);
  Row b = add(nullptr, "B", true);
  add(b.node, "b1", false);
  EXPECT_EQ(rowTexts(), (std::vector<std::string>{"B", "b1"}));
  EXPECT_STREQ(tree_->GetClass(), "XMLTreeUI");
  EXPECT_EQ(tree_->GetInterface("TimingWheel"), tree_);
}

TEST_F(TreeTest, ExpandingShowsDirectChildrenAndCollapsingHidesTheWholeRun) {
  Row g = add(nullptr, "G", true);
  Row c1 = add(g.node, "c1", false);
  Row s = add(g.node, "S", true);
  Row s1 = add(s.node, "s1", false);
  EXPECT_TRUE(g.row->IsVisible());
  EXPECT_FALSE(c1.row->IsVisible());
  EXPECT_FALSE(s1.row->IsVisible());

  A::Click(g.expand);  // the button itself
  EXPECT_TRUE(g.node->expanded);
  EXPECT_TRUE(g.expand->IsSelected());
  EXPECT_TRUE(c1.row->IsVisible());
  EXPECT_TRUE(s.row->IsVisible());
  EXPECT_FALSE(s1.row->IsVisible());  // its own parent is still collapsed
  EXPECT_EQ(host_->count("CheckExpand"), 1);

  A::Click(s.label);  // a click on the name toggles like the button, and the button follows
  EXPECT_TRUE(s.node->expanded);
  EXPECT_TRUE(s.expand->IsSelected());
  EXPECT_TRUE(s1.row->IsVisible());

  A::Click(g.label);  // collapse the top: everything below hides
  EXPECT_FALSE(c1.row->IsVisible());
  EXPECT_FALSE(s.row->IsVisible());
  EXPECT_FALSE(s1.row->IsVisible());
  EXPECT_FALSE(g.expand->IsSelected());
  tree_->ToggleExpand(s.node, false);  // S collapses while hidden
  tree_->ToggleExpand(g.node, false);  // G again: S shows, s1 follows S's own state
  EXPECT_TRUE(s.row->IsVisible());
  EXPECT_FALSE(s1.row->IsVisible());

  // A new row under a collapsed parent starts hidden.
  Row s2 = add(s.node, "s2", false);
  EXPECT_FALSE(s2.row->IsVisible());
  // Hiding and showing the view keeps the tree's own row states.
  tree_->SetVisible(false);
  tree_->SetVisible(true);
  EXPECT_TRUE(c1.row->IsVisible());
  EXPECT_FALSE(s1.row->IsVisible());
}

TEST_F(TreeTest, RowsAddedWhileTheViewIsHiddenShowWithTheView) {
  tree_->SetVisible(false);
  Row g = add(nullptr, "G", true, true);
  Row c = add(g.node, "c", false);
  tree_->SetVisible(true);
  EXPECT_TRUE(g.row->IsVisible());
  EXPECT_TRUE(c.row->IsVisible());
}

TEST_F(TreeTest, CheckMarksPassDownToEveryDescendantAndUpToCompleteAncestors) {
  Row g = add(nullptr, "G", true, true);
  Row c1 = add(g.node, "c1", false);
  Row c2 = add(g.node, "c2", false);
  Row s = add(g.node, "S", true, true);
  Row s1 = add(s.node, "s1", false);
  Row h = add(nullptr, "H", true, true);
  Row h1 = add(h.node, "h1", false);

  A::Click(c1.check);
  EXPECT_TRUE(c1.node->checked);
  EXPECT_TRUE(c1.check->IsSelected());
  EXPECT_FALSE(g.node->checked);
  EXPECT_EQ(host_->count("CheckChange"), 1);
  A::Click(c2.check);
  EXPECT_FALSE(g.node->checked);  // S is still open
  A::Click(s1.check);
  EXPECT_TRUE(s.node->checked);
  EXPECT_TRUE(g.node->checked);
  EXPECT_TRUE(g.check->IsSelected());
  EXPECT_FALSE(h.node->checked);

  // Unchecking one contact unchecks its ancestors, no sibling.
  A::Click(c2.check);
  EXPECT_FALSE(c2.node->checked);
  EXPECT_FALSE(g.node->checked);
  EXPECT_FALSE(g.check->IsSelected());
  EXPECT_TRUE(c1.node->checked);
  EXPECT_TRUE(s.node->checked);
  EXPECT_TRUE(s1.node->checked);

  // Checking a group checks every descendant, in collapsed groups too.
  tree_->ToggleExpand(g.node, false);
  tree_->ToggleExpand(s.node, false);
  tree_->SetNodeChecked(g.node, false);
  EXPECT_FALSE(s1.node->checked);
  tree_->SetNodeChecked(g.node, true);
  for (const Row* r : {&g, &c1, &c2, &s, &s1}) {
    EXPECT_TRUE(r->node->checked);
    EXPECT_TRUE(r->check->IsSelected());
  }
  EXPECT_FALSE(h1.node->checked);

  std::vector<void*> data;
  tree_->GetCheckedData(data);
  std::vector<std::string> texts;
  for (void* d : data) texts.push_back(static_cast<const char*>(d));
  EXPECT_EQ(texts, (std::vector<std::string>{"G", "c1", "c2", "S", "s1"}));

  tree_->UncheckAll();
  data.clear();
  tree_->GetCheckedData(data);
  EXPECT_TRUE(data.empty());
  EXPECT_FALSE(s1.check->IsSelected());
}

// The keyboard toggles a focused check box as a click does: the node (and its subtree and
// ancestors) follows, so box and node always agree and the checked contacts are the ones shown.
TEST_F(TreeTest, SpaceAndReturnOnACheckBoxMoveTheNodeWithTheBox) {
  Row g = add(nullptr, "G", true, true);
  Row c1 = add(g.node, "c1", false);
  Row c2 = add(g.node, "c2", false);
  const std::vector<const Row*> all = {&g, &c1, &c2};
  auto key = [&](const Row& r, int vk) {
    A::Focus(r.check);
    ASSERT_EQ(host_->GetPaintManager().GetFocus(), r.check);
    ::SendMessageA(host_->GetHWND(), WM_KEYDOWN, vk, 0);
  };
  auto checkedTexts = [&] {
    std::vector<void*> data;
    tree_->GetCheckedData(data);
    std::vector<std::string> texts;
    for (void* d : data) texts.push_back(static_cast<const char*>(d));
    return texts;
  };
  struct Step {
    const Row* row;
    int vk;
    std::vector<std::string> checked;
  } steps[] = {
      {&c1, VK_SPACE, {"c1"}},
      {&c2, VK_SPACE, {"G", "c1", "c2"}},  // the group is complete
      {&c1, VK_SPACE, {"c2"}},             // and no longer
      {&g, VK_RETURN, {"G", "c1", "c2"}},  // a group passes its mark down
      {&g, VK_SPACE, {}},
  };
  int changes = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(static_cast<const char*>(step.row->node->data));
    key(*step.row, step.vk);
    EXPECT_EQ(checkedTexts(), step.checked);
    for (const Row* r : all) EXPECT_EQ(r->check->IsSelected(), r->node->checked) << (const char*)r->node->data;
    EXPECT_EQ(tree_->HasCheckedNode(), !step.checked.empty());
    EXPECT_EQ(host_->count("CheckChange"), ++changes);
  }
  // Other keys, and Space reaching a disabled box (which does not flip), change nothing.
  key(c1, 'A');
  c2.check->SetEnabled(false);
  TEventUI space;
  space.Type = UIEVENT_KEYDOWN;
  space.pSender = c2.check;
  space.chKey = VK_SPACE;
  space.wParam = VK_SPACE;
  c2.check->Event(space);
  EXPECT_TRUE(checkedTexts().empty());
  for (const Row* r : all) EXPECT_FALSE(r->check->IsSelected());
  EXPECT_EQ(host_->count("CheckChange"), changes);
}

TEST_F(TreeTest, APressReleasedOutsideTheBoxLeavesItShowingTheNodesStateAndButtonsShowTheHand) {
  Row g = add(nullptr, "G", true, true);
  Row c = add(g.node, "c", false);
  A::PressAndLeave(c.check);
  EXPECT_EQ(c.check->IsSelected(), c.node->checked);
  abui::SetCursor(nullptr);
  A::SetCursorOver(c.check);
  EXPECT_EQ(abui::GetCursor(), abui::HandCursor());
  abui::SetCursor(nullptr);
  A::SetCursorOver(g.label);
  EXPECT_EQ(abui::GetCursor(), abui::HandCursor());
  EXPECT_NE(abui::HandCursor(), nullptr);
}

}  // namespace

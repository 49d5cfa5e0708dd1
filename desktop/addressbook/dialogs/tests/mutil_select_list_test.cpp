// The multi-select list: entries from "MutilListItem.xml", the address inside an entry text,
// selection by click, by Ctrl and Shift, by a dragged rectangle, and the context menu.
#include "DialogTestSupport.h"

using namespace DuiLib;
using namespace abdlgtest;
namespace A = DuiLib::Automation;

namespace {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useSourceSkins();
    host_.reset(new HostWindow(
        "<Window size=\"400,600\"><VerticalLayout><MutilSelectList name=\"list\" header=\"hidden\"/>"
        "</VerticalLayout></Window>"));
    list_ = dynamic_cast<CMutilSelectList*>(host_->find("list"));
    ASSERT_NE(list_, nullptr);
  }
  void TearDown() override { host_.reset(); }
  void fill(int n) {
    for (int i = 0; i < n; ++i) list_->AddItem(("name" + std::to_string(i) + "<u" + std::to_string(i) + "@corp>").c_str());
  }
  std::vector<std::string> selected() {
    std::vector<std::string> out;
    list_->GetSelectedTexts(out);
    return out;
  }
  CControlUI* label(int i) { return host_->GetPaintManager().FindSubControlByName(list_->GetItemAt(i), "listitem"); }
  POINT centreOf(int i) {
    RECT rc = list_->GetItemAt(i)->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  }

  std::unique_ptr<HostWindow> host_;
  CMutilSelectList* list_ = nullptr;
};

TEST_F(ListTest, EntriesKeepTheirTextAndAddressesAreReadBetweenTheSigns) {
  list_->AddItem("Alice<alice@corp>");
  list_->AddItem("Alice<alice@corp>");  // the list itself does not refuse a second one
  EXPECT_EQ(list_->GetCount(), 2);
  EXPECT_TRUE(list_->HasItemText("Alice<alice@corp>"));
  EXPECT_FALSE(list_->HasItemText("Alice"));
  EXPECT_EQ(label(0)->GetTag(), reinterpret_cast<UINT_PTR>(list_->GetItemAt(0)));
  list_->AddItem("plain");
  std::vector<std::string> addresses;
  list_->GetAddresses(addresses);
  EXPECT_EQ(addresses, (std::vector<std::string>{"alice@corp", "alice@corp", "plain"}));

  struct Case {
    const char* text;
    const char* address;
  } cases[] = {
      {"Bob<bob@corp>", "bob@corp"},
      {"<>", ""},
      {"no signs", "no signs"},
      {"before>after", "before"},
      {"name<tail", "tail"},
      {"A<B<x@corp>", "x@corp"},       // a display name holding "<"
      {"A>B<x@corp>", "x@corp"},       // or ">"
      {"x@corp [a>b]<x@corp>", "x@corp"},
  };
  for (const auto& c : cases) EXPECT_EQ(CMutilSelectList::AddressOf(c.text), c.address) << c.text;
}

TEST_F(ListTest, ClicksSelectOneEntryCtrlTogglesShiftSelectsARangeAndRemoveTakesTheSelected) {
  fill(5);
  list_->RemoveSelected();  // nothing selected: nothing goes
  EXPECT_EQ(list_->GetCount(), 5);
  A::Select(label(1));
  EXPECT_EQ(selected(), (std::vector<std::string>{"name1<u1@corp>"}));
  A::Select(label(2));
  EXPECT_EQ(list_->GetSelectedCount(), 1);
  A::HoldKey(*host_, VK_CONTROL, true);
  A::Select(label(4));
  A::HoldKey(*host_, VK_CONTROL, false);
  EXPECT_EQ(selected(), (std::vector<std::string>{"name2<u2@corp>", "name4<u4@corp>"}));
  A::Select(label(0));
  A::HoldKey(*host_, VK_SHIFT, true);
  A::Select(label(2));
  A::HoldKey(*host_, VK_SHIFT, false);
  EXPECT_EQ(list_->GetSelectedCount(), 3);
  list_->RemoveSelected();
  std::vector<std::string> addresses;
  list_->GetAddresses(addresses);
  EXPECT_EQ(addresses, (std::vector<std::string>{"u3@corp", "u4@corp"}));
  list_->SelectAll(true);
  list_->SelectAll(false);
  EXPECT_EQ(list_->GetSelectedCount(), 0);
}

TEST_F(ListTest, ADraggedRectangleSelectsTheRowsItTouchesInEitherDirection) {
  fill(6);
  POINT top = centreOf(1), bottom = centreOf(3);
  A::Drag(list_, top, bottom);
  EXPECT_EQ(selected(), (std::vector<std::string>{"name1<u1@corp>", "name2<u2@corp>", "name3<u3@corp>"}));
  EXPECT_FALSE(list_->IsDragging());
  EXPECT_EQ(GetCapture(), nullptr);
  list_->SelectAll(false);
  A::Drag(list_, POINT{bottom.x + 30, bottom.y}, POINT{top.x - 30, top.y});  // up and to the left
  EXPECT_EQ(list_->GetSelectedCount(), 3);

  // Within 20 pixels of the press both ways: no rectangle selection.
  list_->SelectAll(false);
  POINT start = centreOf(0);
  A::Drag(list_, start, POINT{start.x + 20, start.y + 20});
  EXPECT_EQ(list_->GetSelectedCount(), 0);
  A::Drag(list_, start, POINT{start.x, start.y + 21});
  EXPECT_EQ(list_->GetSelectedCount(), 2);
}

TEST_F(ListTest, ARowThatIsNotSelectableByRectangleEndsTheSelectionThere) {
  fill(2);
  CDialogBuilder builder;
  CControlUI* odd = builder.Create("<ListContainerElement height=\"22\"><Label name=\"listitem\" text=\"odd\"/>"
                                   "</ListContainerElement>",
                                   nullptr, nullptr, &host_->GetPaintManager());
  ASSERT_TRUE(list_->Add(odd));
  list_->AddItem("after<after@corp>");
  A::Select(label(3));  // selected before the drag, left alone by it
  A::HoldKey(*host_, VK_CONTROL, true);
  A::Select(label(0));
  A::HoldKey(*host_, VK_CONTROL, false);
  RECT rc{0, 0, 400, 600};
  list_->SelectInRect(RECT{0, 0, 0, 0});
  EXPECT_EQ(selected(), (std::vector<std::string>{"after<after@corp>"}));
  list_->SelectInRect(rc);
  EXPECT_EQ(list_->GetSelectedCount(), 3);  // the first two, and the untouched last one
  EXPECT_FALSE(list_->Add(nullptr));
  EXPECT_FALSE(list_->RemoveAt(10));
}

TEST_F(ListTest, TheContextMenuIsANotificationWhenEnabledAndEndsADrag) {
  fill(2);
  A::ContextMenu(list_);
  EXPECT_EQ(host_->count("menu"), 0);
  list_->SetContextMenuUsed(true);
  A::RightClick(label(0));
  EXPECT_EQ(host_->count("menu"), 1);
  TEventUI down;
  down.Type = UIEVENT_BUTTONDOWN;
  down.ptMouse = centreOf(0);
  list_->Event(down);
  EXPECT_TRUE(list_->IsDragging());
  TEventUI end;
  end.Type = UIEVENT_ENDDRAGMENU;
  list_->Event(end);
  EXPECT_FALSE(list_->IsDragging());
  EXPECT_EQ(host_->count("menu"), 2);
}

}  // namespace

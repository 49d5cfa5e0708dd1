// The recipient picker over a real fetch (fake single sign-on and XCAP servers) and a real local
// server with a loopback peer in the place of the compose window: the tree, moving checked
// contacts and search hits into the lists, the limit, the views, and OK sending the lists.
#include "BridgeTestSupport.h"
#include "FetchSupport.h"

#include "addressbook/CheckTreeView.h"
#include "addressbook/MutilSelectList.h"
#include "bridge/PW_PostwingServer.h"
#include "duilib/UIAutomation.h"
#include "log/IM_LogManager.h"
#include "ui/HintDialog.h"

#include <algorithm>
#include <map>
#include <memory>

#include "util/CodingTransform.h"

using namespace DuiLib;
using namespace abdlgtest;
namespace A = DuiLib::Automation;

namespace {

const DWORD kDialogStyle = 0x96C80000;
const char* const kPlaceholder = "姓名、字母搜索联系人";

class PickerTest : public FetchFixture {
 protected:
  void SetUp() override {
    FetchFixture::SetUp();
    if (HasFatalFailure()) return;
    Config::instance()->setValue("COMMON", "listenPort", "0");
    ui_.reset(new w32subst::UiThread(bridgetest::kDesktopPid));
    mainWnd_ = ui_->call([] { return bridgetest::makeRecordingWindow("main"); });
    bridgetest::PostedLog::instance().clear();
    server()->setMainWindow(mainWnd_);
    ASSERT_EQ(server()->start(), 0);
  }
  void TearDown() override {
    server()->stop();
    server()->setMainWindow(nullptr);
    if (ui_) ui_->run([this] { DestroyWindow(mainWnd_); });
    ui_.reset();
    Config::instance()->removeValue("COMMON", "listenPort");
    FetchFixture::TearDown();
  }
  static PW_PostwingServer* server() { return PW_PostwingServer::instance(); }

  // A compose window asks for the address book over loopback.
  std::unique_ptr<bridgetest::RawClient> request(const std::string& handle) {
    std::unique_ptr<bridgetest::RawClient> peer(new bridgetest::RawClient(server()->listenPort()));
    EXPECT_TRUE(peer->ok());
    EXPECT_TRUE(peer->send(bridgetest::unit("showAddrDialog", {{"handle", handle}, {"to", ""}, {"cc", ""}, {"bcc", ""}})));
    EXPECT_TRUE(bridgetest::PostedLog::instance().waitFor(mainWnd_, WM_PW_SHOWADDRBOOK, 1));
    return peer;
  }
  void fetch() {
    int before = main_.told();
    ASSERT_EQ(0, client()->update());
    ASSERT_TRUE(w32subst::waitUntil([&] { return main_.told() > before; }, 10000));
    ASSERT_EQ(client()->getState(), AddressBookClient::STATE_UPDATED);
  }
  // Runs the picker as the main window does; the answer acts like the user inside its loop
  // (a message box it opens is answered with its Sure button).
  void runPicker(std::function<void(CAddressBookDialog&)> answer) {
    auto* dialog = new CAddressBookDialog();
    main_.setPicker(dialog);
    {
      A::ScopedModalAnswer scope([&](WindowImplBase& w) {
        if (auto* hint = dynamic_cast<CHintDialog*>(&w)) {
          hints_.push_back(A::Find(*hint, "MessageRedt")->GetText().str());
          A::Click(A::Find(*hint, "SureBtn"));
          return;
        }
        answer(static_cast<CAddressBookDialog&>(w));
      });
      dialog->Create(nullptr, "Postwing", kDialogStyle, 0);
      dialog->CenterWindow();
      dialog->ShowModal();
    }
    main_.setPicker(nullptr);
    delete dialog;
  }

  // ---- reading the window ----
  static CCheckTreeView* tree(CAddressBookDialog& d) { return dynamic_cast<CCheckTreeView*>(A::Find(d, "addressbooklst")); }
  static CMutilSelectList* list(CAddressBookDialog& d, const char* name) {
    return dynamic_cast<CMutilSelectList*>(A::Find(d, name));
  }
  static CControlUI* sub(CAddressBookDialog& d, CControlUI* row, const char* name) {
    return d.GetPaintManager().FindSubControlByName(row, name);
  }
  static std::vector<std::string> rowTexts(CAddressBookDialog& d) {
    std::vector<std::string> out;
    CCheckTreeView* t = tree(d);
    for (int i = 0; i < t->GetCount(); ++i) out.push_back(sub(d, t->GetItemAt(i), "DisplayNameLbl")->GetText().str());
    return out;
  }
  static CControlUI* row(CAddressBookDialog& d, const std::string& text) {
    CCheckTreeView* t = tree(d);
    for (int i = 0; i < t->GetCount(); ++i)
      if (sub(d, t->GetItemAt(i), "DisplayNameLbl")->GetText().str() == text) return t->GetItemAt(i);
    ADD_FAILURE() << "no row " << text;
    return nullptr;
  }
  // Each refused when the row cannot be reached (a collapsed group hides its rows).
  static void expand(CAddressBookDialog& d, const std::string& text) {
    EXPECT_TRUE(A::Click(sub(d, row(d, text), "DisplayNameLbl"))) << "expand " << text;
  }
  static void check(CAddressBookDialog& d, const std::string& text) {
    EXPECT_TRUE(A::Click(sub(d, row(d, text), "SelectedBtn"))) << "check " << text;
  }
  static std::vector<std::string> entries(CAddressBookDialog& d, const char* name) {
    std::vector<std::string> out;
    CMutilSelectList* l = list(d, name);
    for (int i = 0; i < l->GetCount(); ++i) out.push_back(sub(d, l->GetItemAt(i), "listitem")->GetText().str());
    return out;
  }
  static bool enabled(CAddressBookDialog& d, const char* name) { return A::Find(d, name)->IsEnabled(); }
  static bool visible(CAddressBookDialog& d, const char* name) { return A::Find(d, name)->IsVisible(); }

  std::unique_ptr<w32subst::UiThread> ui_;
  HWND mainWnd_ = nullptr;
  std::vector<std::string> hints_;
};

const std::string kBob = "Bob Lee<bob@corp.example>";
const std::string kCarol = "Carol<carol@corp.example>";

TEST_F(PickerTest, CheckedContactsMoveIntoTheListsAndOkSendsTheirAddressesToTheComposeWindow) {
  fetch();
  auto peer = request("4242");
  std::string title;
  std::vector<std::string> rowsBefore, rowsOpen, to, cc;
  bool addBefore = true, addAfterCheck = false, removeAfterSelect = false;
  runPicker([&](CAddressBookDialog& d) {
    title = A::Find(d, "titallabel")->GetText().str();
    EXPECT_TRUE(visible(d, "addressbooklst"));
    EXPECT_FALSE(visible(d, "LoadingGuageSti"));
    EXPECT_FALSE(static_cast<CEditUI*>(A::Find(d, "keywordedit"))->IsReadOnly());
    rowsBefore = rowTexts(d);
    A::MouseMove(d);
    addBefore = enabled(d, "reRightbtn");
    expand(d, "示例公司");
    expand(d, "研发部");
    check(d, "研发部");  // only the group: its contacts follow
    A::MouseMove(d);
    addAfterCheck = enabled(d, "reRightbtn") && enabled(d, "ccRightbtn") && enabled(d, "bcRightbtn");
    A::Click(A::Find(d, "reRightbtn"));
    check(d, "Bob Lee");
    A::Click(A::Find(d, "ccRightbtn"));
    check(d, "Bob Lee");
    A::Click(A::Find(d, "reRightbtn"));  // already there: nothing more
    to = entries(d, "reselectlist");
    cc = entries(d, "ccselectlist");
    EXPECT_EQ(A::Find(d, "relabel")->GetText().str(), "收件人(2)");
    EXPECT_EQ(A::Find(d, "cclabel")->GetText().str(), "抄送人(1)");
    std::vector<void*> checked;
    tree(d)->GetCheckedData(checked);
    EXPECT_TRUE(checked.empty());  // moving clears the check marks

    A::Select(sub(d, list(d, "reselectlist")->GetItemAt(0), "listitem"));
    A::MouseMove(d);
    removeAfterSelect = enabled(d, "reLeftbtn") && !enabled(d, "ccLeftbtn");
    A::Click(A::Find(d, "reLeftbtn"));
    EXPECT_EQ(entries(d, "reselectlist"), std::vector<std::string>{kCarol});
    EXPECT_EQ(A::Find(d, "relabel")->GetText().str(), "收件人(1)");
    rowsOpen = rowTexts(d);
    A::Click(A::Find(d, "okbtn"));
  });
  EXPECT_EQ(title, "Postwing( " + user_ + " )");
  EXPECT_FALSE(addBefore);
  EXPECT_TRUE(addAfterCheck);
  EXPECT_TRUE(removeAfterSelect);
  EXPECT_EQ(to, (std::vector<std::string>{kBob, kCarol}));
  EXPECT_EQ(cc, std::vector<std::string>{kBob});
  ASSERT_FALSE(rowsBefore.empty());
  EXPECT_EQ(rowsBefore.front(), "示例公司");
  EXPECT_TRUE(hints_.empty());

  PW_Message reply;
  ASSERT_TRUE(peer->readUnit(reply));
  EXPECT_EQ(reply.getCommand(), "setSelectedAddr");
  EXPECT_EQ(reply.getField("to"), "carol@corp.example");
  EXPECT_EQ(reply.getField("cc"), "bob@corp.example");
  EXPECT_EQ(reply.getField("bcc"), "");
  EXPECT_EQ(reply.getField("handle"), "4242");
}

TEST_F(PickerTest, OkWithEmptyListsStillAnswersAndWithoutARequesterTheUserIsTold) {
  fetch();
  auto peer = request("77");
  runPicker([&](CAddressBookDialog& d) { A::Click(A::Find(d, "okbtn")); });
  PW_Message reply;
  ASSERT_TRUE(peer->readUnit(reply));
  EXPECT_EQ(reply.getField("to"), "");
  EXPECT_EQ(reply.getField("cc"), "");
  EXPECT_EQ(reply.getField("bcc"), "");
  EXPECT_TRUE(hints_.empty());

  // The compose window went away: the picks cannot arrive, and the user is told so.
  server()->onMailWindowsClosed("77");
  runPicker([&](CAddressBookDialog& d) { A::Click(A::Find(d, "okbtn")); });
  EXPECT_EQ(hints_.size(), 1u);
}

TEST_F(PickerTest, SearchHitsReplaceTheTreeWhileAKeywordIsTyped) {
  fetch();
  std::vector<std::string> hits, bcc;
  bool treeDuringSearch = true, searchShown = false;
  runPicker([&](CAddressBookDialog& d) {
    CControlUI* edit = A::Find(d, "keywordedit");
    EXPECT_EQ(edit->GetText().str(), kPlaceholder);
    A::Focus(edit);
    EXPECT_EQ(edit->GetText().str(), "");
    A::Blur(edit);
    EXPECT_EQ(edit->GetText().str(), kPlaceholder);

    ASSERT_TRUE(A::TypeText(edit, kPlaceholder));  // the placeholder is no keyword
    EXPECT_TRUE(visible(d, "addressbooklst"));
    ASSERT_TRUE(A::TypeText(edit, "bob"));
    treeDuringSearch = visible(d, "addressbooklst");
    searchShown = visible(d, "searchlst");
    hits = entries(d, "searchlst");
    A::Select(sub(d, list(d, "searchlst")->GetItemAt(0), "listitem"));
    A::MouseMove(d);
    EXPECT_TRUE(enabled(d, "bcRightbtn"));
    A::Click(A::Find(d, "bcRightbtn"));
    A::Click(A::Find(d, "bcRightbtn"));  // the hits were deselected: nothing more
    bcc = entries(d, "bcselectlist");
    EXPECT_EQ(A::Find(d, "bcclabel")->GetText().str(), "密送人(1)");
    EXPECT_EQ(list(d, "searchlst")->GetSelectedCount(), 0);

    ASSERT_TRUE(A::TypeText(edit, ""));  // back to the tree; the hidden hits stay
    EXPECT_TRUE(visible(d, "addressbooklst"));
    EXPECT_FALSE(visible(d, "searchlst"));
    EXPECT_EQ(list(d, "searchlst")->GetCount(), 1);
    A::Click(A::Find(d, "cancelbtn"));
  });
  EXPECT_FALSE(treeDuringSearch);
  EXPECT_TRUE(searchShown);
  EXPECT_EQ(hits, std::vector<std::string>{kBob});
  EXPECT_EQ(bcc, std::vector<std::string>{kBob});
}

TEST_F(PickerTest, MoreThanFiftyRecipientsShowTheWarningAndDisableOk) {
  fetch();
  runPicker([&](CAddressBookDialog& d) {
    CMutilSelectList* to = list(d, "reselectlist");
    for (int i = 0; i < 48; ++i) to->AddItem(("u" + std::to_string(i) + "<u" + std::to_string(i) + "@corp>").c_str());
    list(d, "ccselectlist")->AddItem("x<x@corp>");
    expand(d, "示例公司");
    expand(d, "研发部");
    check(d, "Bob Lee");
    A::MouseMove(d);  // the add buttons follow the check marks as the pointer moves
    A::Click(A::Find(d, "bcRightbtn"));  // 50 in all
    EXPECT_FALSE(visible(d, "warningctl"));
    EXPECT_TRUE(enabled(d, "okbtn"));
    check(d, "Carol");
    A::MouseMove(d);
    A::Click(A::Find(d, "bcRightbtn"));  // 51
    EXPECT_TRUE(visible(d, "warningctl"));
    EXPECT_TRUE(visible(d, "warninglabel"));
    EXPECT_FALSE(enabled(d, "okbtn"));
    A::Select(sub(d, to->GetItemAt(0), "listitem"));
    A::MouseMove(d);
    A::Click(A::Find(d, "reLeftbtn"));
    EXPECT_FALSE(visible(d, "warningctl"));
    EXPECT_TRUE(enabled(d, "okbtn"));
    A::Click(A::Find(d, "bccleanbtn"));
    EXPECT_EQ(A::Find(d, "bcclabel")->GetText().str(), "密送人(0)");
    A::Click(A::Find(d, "CloseWndBtn"));
  });
}

TEST_F(PickerTest, AnUnloadedBookShowsTheFailureViewAndAFetchFromThereRebuildsTheTree) {
  bool failedView = false, readOnly = false, loadingAfterRetry = false, treeAtEnd = false, editableAtEnd = false;
  std::vector<std::string> rows;
  runPicker([&](CAddressBookDialog& d) {
    failedView = visible(d, "LoadingResultSti") && !visible(d, "addressbooklst");
    CControlUI* edit = A::Find(d, "keywordedit");
    readOnly = !A::TypeText(edit, "bob");
    A::Click(A::Find(d, "reupdatebtn"));
    loadingAfterRetry = visible(d, "LoadingGuageSti") && !visible(d, "LoadingResultSti");
    // The fetch ends on a job thread; the tree is rebuilt on this one.
    EXPECT_TRUE(w32subst::waitUntil(
        [&] {
          A::Pump();
          return visible(d, "addressbooklst");
        },
        10000));
    treeAtEnd = visible(d, "addressbooklst") && !visible(d, "LoadingGuageSti");
    editableAtEnd = !static_cast<CEditUI*>(edit)->IsReadOnly();
    rows = rowTexts(d);
    A::Click(A::Find(d, "BtnQuit"));
  });
  EXPECT_TRUE(failedView);
  EXPECT_TRUE(readOnly);
  EXPECT_TRUE(loadingAfterRetry);
  EXPECT_TRUE(treeAtEnd);
  EXPECT_TRUE(editableAtEnd);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front(), "示例公司");
}

TEST_F(PickerTest, AFetchThatCannotStartLeavesTheFailureViewWithItsRetry) {
  // The job runner refuses every job.
  ACE_Time_Value limit(10);
  ASSERT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
  LongTimeTask::instance()->msg_queue()->deactivate();
  bool failedAfterRetry = false, loading = true;
  runPicker([&](CAddressBookDialog& d) {
    A::Click(A::Find(d, "reupdatebtn"));
    failedAfterRetry = visible(d, "LoadingResultSti");
    loading = visible(d, "LoadingGuageSti");
    A::Click(A::Find(d, "cancelbtn"));
  });
  LongTimeTask::instance()->msg_queue()->activate();
  ASSERT_EQ(0, LongTimeTask::instance()->open());
  EXPECT_TRUE(failedAfterRetry);
  EXPECT_FALSE(loading);
  EXPECT_EQ(client()->getState(), AddressBookClient::STATE_IDLE);
}

TEST_F(PickerTest, TheTreeKeepsItsContactsAliveWhenTheClientDropsTheModel) {
  const int before = Contact::liveCount();
  fetch();
  std::vector<std::string> to;
  int aliveAfterClear = 0;
  runPicker([&](CAddressBookDialog& d) {
    expand(d, "示例公司");
    expand(d, "研发部");
    check(d, "Carol");
    client()->clear();  // logout-like: the model's links are broken and dropped
    aliveAfterClear = Contact::liveCount() - before;
    A::MouseMove(d);
    A::Click(A::Find(d, "reRightbtn"));
    to = entries(d, "reselectlist");
    A::Click(A::Find(d, "cancelbtn"));
  });
  EXPECT_EQ(to, std::vector<std::string>{kCarol});
  EXPECT_EQ(aliveAfterClear, 3);                // the tree's three contacts
  EXPECT_EQ(Contact::liveCount(), before);      // freed with the window
}

// A book of a few thousand: three departments of ten teams of 100; a quarter of the display
// names Latin, the rest Chinese; every fiftieth person also in a team of the next department;
// every seventh person's nick name holds "kw7".
struct LargeBook {
  static const int kPeople = 3000;
  static std::string display(int i) {
    char n[16];  // room for any int
    std::snprintf(n, sizeof(n), "%05d", i);
    return (i % 4 == 3 ? std::string("Emp") : std::string(u8"员工")) + n;
  }
  static std::string uri(int i) { return "p" + std::to_string(i) + "@corp.example"; }
  static std::string entry(int i) {
    return "<entry uri=\"" + uri(i) + "\"><display-name>" + display(i) + "</display-name><nickname>n" +
           std::to_string(i) + (i % 7 == 0 ? " kw7" : "") + "</nickname></entry>";
  }
  static std::string document() {
    std::string doc = u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      u8"<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\">"
                      u8"<list name=\"organization\"><display-name>示例公司</display-name>";
    for (int d = 0; d < 3; ++d) {
      doc += "<list name=\"d" + std::to_string(d) + "\"><display-name>" + u8"部门" + std::to_string(d) + "</display-name>";
      for (int t = d * 10; t < d * 10 + 10; ++t) {
        doc += "<list name=\"t" + std::to_string(t) + "\"><display-name>" + u8"小组" + std::to_string(t) + "</display-name>";
        for (int i = t * 100; i < t * 100 + 100; ++i) doc += entry(i);
        // also here: every fiftieth person of the previous department's same team number
        for (int i = ((t + 20) % 30) * 100; i < ((t + 20) % 30) * 100 + 100; ++i)
          if (i % 50 == 7) doc += entry(i);
        doc += "</list>";
      }
      doc += "</list>";
    }
    return doc + "</list></resource-lists>\n";
  }
  // The entry text of a person, as the picker shows it (GBK).
  static std::string text(int i) { return CodingTransform::utf8_to_gb2312(display(i)) + "<" + uri(i) + ">"; }
};

TEST_F(PickerTest, SearchAndMovesOverABookOfThousandsKeepHitsCountLabelsAndTheLimit) {
  xcap_.putDocument(docPath(), LargeBook::document());
  fetch();
  // The hits of "kw7", ordered by display name (UTF-8 bytes: the Latin names first).
  std::vector<int> people;
  for (int i = 0; i < LargeBook::kPeople; i += 7) people.push_back(i);
  std::stable_sort(people.begin(), people.end(), [](int a, int b) { return LargeBook::display(a) < LargeBook::display(b); });
  std::vector<std::string> expectedHits;
  for (int i : people) expectedHits.push_back(LargeBook::text(i));
  // The first department: its 1,000 people and the 20 of the third department also in it.
  std::vector<std::string> department;
  for (int t = 0; t < 10; ++t) {
    std::vector<int> team;
    for (int i = t * 100; i < t * 100 + 100; ++i) team.push_back(i);
    for (int i = (t + 20) * 100; i < (t + 20) * 100 + 100; ++i)
      if (i % 50 == 7) team.push_back(i);
    // a group lists its contacts by display name
    std::stable_sort(team.begin(), team.end(), [](int a, int b) { return LargeBook::display(a) < LargeBook::display(b); });
    for (int i : team) department.push_back(LargeBook::text(i));
  }

  runPicker([&](CAddressBookDialog& d) {
    CControlUI* edit = A::Find(d, "keywordedit");
    ASSERT_TRUE(A::TypeText(edit, "kw7"));
    EXPECT_EQ(entries(d, "searchlst"), expectedHits);
    // Hits never count toward the limit.
    EXPECT_FALSE(visible(d, "warningctl"));
    EXPECT_TRUE(enabled(d, "okbtn"));
    ASSERT_TRUE(A::TypeText(edit, "kw"));  // the next keystroke replaces the hits: no doubles
    EXPECT_EQ(list(d, "searchlst")->GetCount(), (int)expectedHits.size());
    ASSERT_TRUE(A::TypeText(edit, "kw7"));

    // Sixty hits to To: over the limit.
    list(d, "searchlst")->SelectRange(0, 59);
    A::MouseMove(d);
    EXPECT_TRUE(enabled(d, "reRightbtn"));
    A::Click(A::Find(d, "reRightbtn"));
    EXPECT_EQ(entries(d, "reselectlist"), std::vector<std::string>(expectedHits.begin(), expectedHits.begin() + 60));
    EXPECT_EQ(A::Find(d, "relabel")->GetText().str(), "收件人(60)");
    EXPECT_TRUE(visible(d, "warningctl"));
    EXPECT_TRUE(visible(d, "warninglabel"));
    EXPECT_FALSE(enabled(d, "okbtn"));
    EXPECT_EQ(list(d, "searchlst")->GetSelectedCount(), 0);
    A::MouseMove(d);
    EXPECT_FALSE(enabled(d, "reRightbtn"));
    A::Click(A::Find(d, "recleanbtn"));
    EXPECT_EQ(A::Find(d, "relabel")->GetText().str(), "收件人(0)");
    EXPECT_FALSE(visible(d, "warningctl"));
    EXPECT_TRUE(enabled(d, "okbtn"));

    // A checked department to Cc: each person once, in the tree's order.
    ASSERT_TRUE(A::TypeText(edit, ""));
    CCheckTreeView* t = tree(d);
    CheckTreeNode* company = t->GetChildNode(t->GetRoot(), 0);
    CheckTreeNode* first = t->GetChildNode(company, 0);
    ASSERT_TRUE(first && first->checkBox);
    A::MouseMove(d);
    EXPECT_FALSE(enabled(d, "ccRightbtn"));
    ASSERT_TRUE(A::Click(sub(d, company->row, "DisplayNameLbl")));  // the user opens the company first
    ASSERT_TRUE(A::Click(first->checkBox));
    A::MouseMove(d);
    EXPECT_TRUE(enabled(d, "ccRightbtn"));
    A::Click(A::Find(d, "ccRightbtn"));
    EXPECT_EQ(entries(d, "ccselectlist"), department);
    EXPECT_EQ(A::Find(d, "cclabel")->GetText().str(), "抄送人(1020)");
    EXPECT_TRUE(visible(d, "warningctl"));
    EXPECT_FALSE(t->HasCheckedNode());
    A::MouseMove(d);
    EXPECT_FALSE(enabled(d, "ccRightbtn"));
    A::Click(first->checkBox);
    A::Click(A::Find(d, "ccRightbtn"));  // already there: nothing more
    EXPECT_EQ(list(d, "ccselectlist")->GetCount(), 1020);
    A::Click(A::Find(d, "cancelbtn"));
  });
}

// ---- a book fetched but not stored ----------------------------------------------------------
// Whether the contact table took the book is one thing, whether a book is there to pick from is
// another: the update dialog says the first, the picker shows the second. Each road below runs a
// manual update as the main window does (the update dialog, its text), then opens the picker as
// a compose window's request does and picks from its tree.

const char* const kUpdateFailure = "      更新企业通讯录失败！";

// The same company later: Carol renamed, Bob gone, Dave new.
const std::string& changedBuddyDocument() {
  static const std::string doc = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>示例公司</display-name>
    <list name="rd">
      <display-name>研发部</display-name>
      <entry uri="carol@corp.example"><display-name>Carol Wu</display-name></entry>
      <entry uri="dave@corp.example"><display-name>Dave</display-name></entry>
    </list>
  </list>
</resource-lists>
)";
  return doc;
}

class UnstoredBookTest : public PickerTest {
 protected:
  // A manual update with its dialog; the text the dialog ends with.
  std::string runUpdate() {
    auto* dialog = new CAddressBookUpdateDialog();
    main_.setUpdateDialog(dialog);
    std::string hint;
    {
      A::ScopedModalAnswer scope([&](WindowImplBase& w) {
        const int before = main_.told();
        EXPECT_EQ(0, client()->update());
        EXPECT_TRUE(w32subst::waitUntil(
            [&] {
              A::Pump();  // the result, posted from the job thread
              return main_.told() > before && A::Find(w, "FinishBtn")->IsVisible();
            },
            10000));
        hint = A::Find(w, "UpdatedHint")->GetText().str();
        A::Click(A::Find(w, "FinishBtn"));
      });
      dialog->Create(nullptr, "更新企业通讯录", kDialogStyle, 0);
      dialog->ShowModal();
    }
    main_.setUpdateDialog(nullptr);
    delete dialog;
    return hint;
  }

  struct Seen {
    bool tree = false, failedView = false, editable = false;
    std::vector<std::string> rows;
    std::map<std::string, std::vector<std::string>> hits;  // by keyword
  };
  // Opens the picker for a request of compose window `handle`: what it shows, the hits of each
  // keyword typed, then `contact` checked in the tree (under 研发部), moved to To and sent.
  Seen pickFromTree(const std::string& contact, std::initializer_list<const char*> keywords) {
    Seen seen;
    runPicker([&](CAddressBookDialog& d) {
      seen.tree = visible(d, "addressbooklst");
      seen.failedView = visible(d, "LoadingResultSti");
      seen.rows = rowTexts(d);
      CControlUI* edit = A::Find(d, "keywordedit");
      seen.editable = !static_cast<CEditUI*>(edit)->IsReadOnly();
      for (const char* k : keywords)
        if (A::TypeText(edit, k)) seen.hits[k] = entries(d, "searchlst");
      A::TypeText(edit, "");  // back to the tree
      if (seen.tree) {
        expand(d, "示例公司");
        expand(d, "研发部");
        check(d, contact);
        A::MouseMove(d);
        A::Click(A::Find(d, "reRightbtn"));
      }
      A::Click(A::Find(d, "okbtn"));
    });
    return seen;
  }
};

// Another program holds the user's file at login: the program goes on without the database. The
// fetch works but nothing can be stored: the update fails, and the picker still shows the fetched
// tree with its keyword box; a search finds no one and logs why.
TEST_F(UnstoredBookTest, TheUsersFileHeldAtLoginLeavesTheFetchedTreeToPickFrom) {
  const std::string file = LocalDb::instance()->path();
  LocalDb::instance()->close();
  abtest::HeldFile held(file);
  ASSERT_TRUE(held.ok());
  ASSERT_EQ(-1, LocalDb::instance()->open(user_));
  client()->init(user_, "secret");

  EXPECT_EQ(runUpdate(), kUpdateFailure);
  auto peer = request("5150");
  IM_LogCapture log;
  Seen seen = pickFromTree("Carol", {"bob"});
  EXPECT_TRUE(seen.tree);
  EXPECT_FALSE(seen.failedView);
  EXPECT_EQ(seen.rows, (std::vector<std::string>{"示例公司", "研发部", "Bob Lee", "Carol", "未分配组", "erin@corp.example [ee]"}));
  EXPECT_TRUE(seen.editable);
  EXPECT_EQ(seen.hits["bob"], std::vector<std::string>{});
  EXPECT_TRUE(log.contains("ContactDb::search, the query failed"));
  PW_Message reply;
  ASSERT_TRUE(peer->readUnit(reply));
  EXPECT_EQ(reply.getField("to"), "carol@corp.example");
  EXPECT_EQ(reply.getField("handle"), "5150");
}

// A good fetch stored the book; later the file takes no more writes (as a documents folder that
// turned read-only) and the company's book has changed. The update fails, yet the picker keeps a
// tree: the one just fetched. The table still holds the earlier rows, and a hit is taken from the
// book the tree shows (Carol under her new name; Bob, gone from the book, is no hit; Dave, not
// stored, is none either).
TEST_F(UnstoredBookTest, ATableRefusedAfterAGoodFetchKeepsATreeToPickFrom) {
  fetch();
  xcap_.putDocument(docPath(), changedBuddyDocument());
  ASSERT_TRUE(LocalDb::instance()->execDML("PRAGMA query_only=1;"));

  EXPECT_EQ(runUpdate(), kUpdateFailure);
  auto peer = request("5151");
  Seen seen = pickFromTree("Dave", {"carol", "bob", "dave"});
  EXPECT_TRUE(seen.tree);
  EXPECT_FALSE(seen.failedView);
  EXPECT_EQ(seen.rows, (std::vector<std::string>{"示例公司", "研发部", "Carol Wu", "Dave"}));
  EXPECT_TRUE(seen.editable);
  EXPECT_EQ(seen.hits["carol"], std::vector<std::string>{"Carol Wu<carol@corp.example>"});
  EXPECT_EQ(seen.hits["bob"], std::vector<std::string>{});
  EXPECT_EQ(seen.hits["dave"], std::vector<std::string>{});
  PW_Message reply;
  ASSERT_TRUE(peer->readUnit(reply));
  EXPECT_EQ(reply.getField("to"), "dave@corp.example");

  // Writable again: the next update stores the book and says so.
  ASSERT_TRUE(LocalDb::instance()->execDML("PRAGMA query_only=0;"));
  EXPECT_NE(runUpdate(), kUpdateFailure);
  Seen stored = pickFromTree("Dave", {"dave"});
  EXPECT_EQ(stored.hits["dave"], std::vector<std::string>{"Dave<dave@corp.example>"});
}

TEST(PickerTexts, EntryTextsFollowTheDisplayNameTheNameAndTheNickName) {
  struct Case {
    const char *name, *display, *nick, *entry;
  } cases[] = {
      {"a@corp", "Alice", "al", "Alice<a@corp>"},
      {"b@corp", "", "bb", "b@corp [bb]<b@corp>"},
      {"c@corp", "", "", "c@corp<c@corp>"},
      {"", "", "nick", "<>"},
      {"d@corp", "D<x>", "", "D<x><d@corp>"},
  };
  for (const auto& c : cases) {
    Contact contact(c.name, 2, c.display, c.nick, std::string("org/") + c.name);
    EXPECT_EQ(CAddressBookDialog::entryText(&contact), c.entry) << c.name;
    EXPECT_EQ(CMutilSelectList::AddressOf(c.entry), c.name) << c.entry;
  }
}

}  // namespace

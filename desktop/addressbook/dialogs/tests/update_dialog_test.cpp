// The update dialog through its skin: the running state, the result from the window's own
// thread and from a fetch's thread, a second result, the stop button and the close buttons.
#include "DialogTestSupport.h"

#include "FetchSupport.h"
#include "addressbook/AddressBookClient.h"
#include "addressbook/AddressBookDialog.h"
#include "addressbook/AddressBookUpdateDialog.h"
#include "ui/UIStatic.h"

#include <thread>

using namespace DuiLib;
using namespace abdlgtest;
namespace A = DuiLib::Automation;

namespace {

const DWORD kDialogStyle = 0x96C80000;
const char* const kFailure = "      更新企业通讯录失败！";

struct State {
  bool updating = false, updatingHint = false, updatedHint = false, stop = false, finish = false;
  std::string hint;
};

State read(WindowImplBase& w) {
  State s;
  s.updating = A::Find(w, "Updating")->IsVisible();
  s.updatingHint = A::Find(w, "UpdatingHint")->IsVisible();
  s.updatedHint = A::Find(w, "UpdatedHint")->IsVisible();
  s.stop = A::Find(w, "Stoptn")->IsVisible();
  s.finish = A::Find(w, "FinishBtn")->IsVisible();
  s.hint = A::Find(w, "UpdatedHint")->GetText().str();
  return s;
}

class UpdateDialogTest : public ::testing::Test {
 protected:
  // A fetch runs while these windows are open.
  void SetUp() override {
    useSourceSkins();
    AddressBookClient::instance()->state = AddressBookClient::STATE_UPDATING;
  }
  void TearDown() override { AddressBookClient::instance()->state = AddressBookClient::STATE_IDLE; }
  // Runs the dialog modally as the main window does; the answer acts inside its loop.
  UINT run(std::function<void(CAddressBookUpdateDialog&)> answer) {
    auto* dialog = new CAddressBookUpdateDialog();
    A::ScopedModalAnswer scope([&](WindowImplBase& w) { answer(static_cast<CAddressBookUpdateDialog&>(w)); });
    dialog->Create(nullptr, "更新企业通讯录", kDialogStyle, 0);
    dialog->CenterWindow();
    UINT result = dialog->ShowModal();
    delete dialog;
    return result;
  }
};

TEST_F(UpdateDialogTest, ResultsSwitchToTheFinishedStateWithTheFailureTextForAFailure) {
  std::vector<State> seen;
  UINT result = run([&](CAddressBookUpdateDialog& d) {
    seen.push_back(read(d));
    d.showUpdateResult(0);  // on the window's own thread
    seen.push_back(read(d));
    d.showUpdateResult(2);  // a later fetch fails
    seen.push_back(read(d));
    d.showUpdateResult(0);  // and another succeeds again
    seen.push_back(read(d));
    A::Click(A::Find(d, "FinishBtn"));
  });
  EXPECT_EQ(result, 1u);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_TRUE(seen[0].updating && seen[0].updatingHint && seen[0].stop);
  EXPECT_FALSE(seen[0].updatedHint || seen[0].finish);
  const std::string success = seen[0].hint;
  EXPECT_FALSE(success.empty());
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_FALSE(seen[i].updating || seen[i].updatingHint || seen[i].stop) << i;
    EXPECT_TRUE(seen[i].updatedHint && seen[i].finish) << i;
  }
  EXPECT_EQ(seen[1].hint, success);
  EXPECT_EQ(seen[2].hint, kFailure);
  EXPECT_EQ(seen[3].hint, success);
}

TEST_F(UpdateDialogTest, AResultFromAFetchThreadReachesTheWindowOnItsOwnThread) {
  State before, after;
  run([&](CAddressBookUpdateDialog& d) {
    std::thread job([&] { d.showUpdateResult(2); });
    job.join();
    before = read(d);  // not yet handled: it waits in the window's queue
    A::Pump();
    after = read(d);
    A::Click(A::Find(d, "BtnQuit"));
  });
  EXPECT_TRUE(before.stop);
  EXPECT_FALSE(after.stop);
  EXPECT_TRUE(after.finish);
  EXPECT_EQ(after.hint, kFailure);

  // After the window is gone a late result is dropped.
  auto* dialog = new CAddressBookUpdateDialog();
  dialog->Create(nullptr, "更新企业通讯录", kDialogStyle, 0);
  DestroyWindow(dialog->GetHWND());
  A::Pump();
  std::thread late([&] { dialog->showUpdateResult(2); });
  late.join();
  A::Pump();
  delete dialog;
}

TEST_F(UpdateDialogTest, EveryCloseButtonEndsTheWindowAndMinimiseDoesNot) {
  for (const char* button : {"CloseWndBtn", "BtnQuit"})
    EXPECT_EQ(run([&](CAddressBookUpdateDialog& d) { A::Click(A::Find(d, button)); }), 1u) << button;
  bool iconic = false;
  EXPECT_EQ(run([&](CAddressBookUpdateDialog& d) {
              A::Click(A::Find(d, "MinimizeWndBtn"));
              iconic = IsIconic(d.GetHWND()) != 0;
              A::Click(A::Find(d, "CloseWndBtn"));
            }),
            1u);
  EXPECT_TRUE(iconic);
}

// A manual update as the main window runs it, against the fake servers.
class UpdateFetchTest : public FetchFixture {
 protected:
  UINT runForFetch(std::function<void(CAddressBookUpdateDialog&)> answer) {
    auto* dialog = new CAddressBookUpdateDialog();
    main_.setUpdateDialog(dialog);
    UINT result;
    {
      A::ScopedModalAnswer scope([&](WindowImplBase& w) { answer(static_cast<CAddressBookUpdateDialog&>(w)); });
      dialog->Create(nullptr, "更新企业通讯录", kDialogStyle, 0);
      result = dialog->ShowModal();
    }
    main_.setUpdateDialog(nullptr);
    delete dialog;
    return result;
  }
};

TEST_F(UpdateFetchTest, AFinishedFetchShowsSuccessFromTheJobThread) {
  State atStart, done;
  runForFetch([&](CAddressBookUpdateDialog& d) {
    atStart = read(d);  // opened while no fetch ran: the failure shows
    ASSERT_EQ(0, client()->update());
    ASSERT_TRUE(w32subst::waitUntil([&] {
      A::Pump();
      return A::Find(d, "UpdatedHint")->GetText().str() != kFailure;
    }));
    done = read(d);
    A::Click(A::Find(d, "FinishBtn"));
  });
  EXPECT_EQ(atStart.hint, kFailure);
  EXPECT_EQ(client()->getState(), AddressBookClient::STATE_UPDATED);
  EXPECT_FALSE(done.stop);
  EXPECT_TRUE(done.finish);
}

// The user's file is held by another connection (a second copy of the program on a shared
// documents folder): the login's open failed and the program goes on without the database. The
// fetch itself works, but the book cannot be stored: the dialog must show its failure text, not
// that the book was updated. The fetched model is installed all the same, in a state of its own
// (the picker tests open the picker after this road).
TEST_F(UpdateFetchTest, ABookThatCouldNotBeStoredShowsTheFailure) {
  const std::string file = LocalDb::instance()->path();
  LocalDb::instance()->close();
  abtest::HeldFile held(file);
  ASSERT_TRUE(held.ok());
  ASSERT_EQ(-1, LocalDb::instance()->open(user_));
  client()->init(user_, "secret");
  State done;
  runForFetch([&](CAddressBookUpdateDialog& d) {
    ASSERT_EQ(0, client()->update());
    ASSERT_TRUE(w32subst::waitUntil([&] {
      A::Pump();
      return main_.told() == 1;
    }));
    A::Pump();  // the result posted from the job thread
    done = read(d);
    A::Click(A::Find(d, "FinishBtn"));
  });
  EXPECT_EQ(done.hint, kFailure);
  EXPECT_TRUE(done.finish && !done.stop);
  EXPECT_EQ(client()->getState(), AddressBookClient::STATE_NOT_STORED);
  EXPECT_TRUE(client()->findContact("bob@corp.example"));
  EXPECT_EQ(1u, client()->getRootGroups().size());
}

TEST_F(UpdateFetchTest, AWindowOpenedAfterTheFetchEndedShowsItsOutcomeAtOnce) {
  State idle, fetched;
  runForFetch([&](CAddressBookUpdateDialog& d) {  // the fetch could not start
    idle = read(d);
    A::Click(A::Find(d, "FinishBtn"));
  });
  ASSERT_EQ(0, client()->update());
  ASSERT_TRUE(w32subst::waitUntil([&] { return main_.told() == 1; }));
  runForFetch([&](CAddressBookUpdateDialog& d) {  // it ended before the window was made
    fetched = read(d);
    A::Click(A::Find(d, "FinishBtn"));
  });
  EXPECT_TRUE(idle.finish && !idle.stop);
  EXPECT_EQ(idle.hint, kFailure);
  EXPECT_TRUE(fetched.finish && !fetched.stop);
  EXPECT_NE(fetched.hint, kFailure);
}

TEST_F(UpdateFetchTest, StopEndsTheRunningFetchAndClosesTheWindow) {
  stallNextFetch();
  ASSERT_EQ(0, client()->update());  // as the main window does: the fetch first, then the window
  ASSERT_TRUE(xcap_.http().waitForRequests(1, 5000));
  State atStop;
  UINT result = runForFetch([&](CAddressBookUpdateDialog& d) {
    EXPECT_EQ(client()->getState(), AddressBookClient::STATE_UPDATING);
    if (!A::Find(d, "Stoptn")->IsVisible()) {
      ADD_FAILURE() << "no Stop button while the fetch runs";
      A::Click(A::Find(d, "CloseWndBtn"));
      return;
    }
    A::Click(A::Find(d, "Stoptn"));
    // The cancelled fetch was reported before the window closes: on this thread, or from the
    // job thread as a posted result that is already queued when the stop returns.
    MSG m;
    while (PeekMessageA(&m, d.GetHWND(), CAddressBookUpdateDialog::WM_ABOOK_UPDATE_RESULT,
                        CAddressBookUpdateDialog::WM_ABOOK_UPDATE_RESULT, PM_REMOVE))
      DispatchMessageA(&m);
    atStop = read(d);
  });
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(client()->getState(), AddressBookClient::STATE_IDLE);
  EXPECT_FALSE(client()->getAgent());
  EXPECT_EQ(main_.told(), 1);
  EXPECT_EQ(atStop.hint, kFailure);
  EXPECT_TRUE(atStop.finish);
}

TEST_F(UpdateDialogTest, TheFactoryMakesThePictureControlWhateverTheCase) {
  CAddressBookUpdateDialog d;
  for (const char* name : {"StaticUI", "staticui", "STATICUI"}) {
    CControlUI* c = d.CreateControl(name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_NE(dynamic_cast<CStaticUI*>(c), nullptr);
    delete c;
  }
  EXPECT_EQ(d.CreateControl("Label"), nullptr);
}

}  // namespace

namespace {

TEST(DialogSkins, HoldEveryControlTheDialogsFind) {
  useSourceSkins();
  std::vector<std::string> missing;
  auto expectAll = [&](CPaintManagerUI& pm, CControlUI* root, std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (!(root ? pm.FindSubControlByName(root, n) : pm.FindControl(n))) missing.push_back(n);
  };
  {
    CAddressBookUpdateDialog update;
    A::ScopedModalAnswer scope([&](WindowImplBase& w) {
      expectAll(w.GetPaintManager(), nullptr,
                {"Updating", "UpdatingHint", "UpdatedHint", "Stoptn", "FinishBtn", "CloseWndBtn", "BtnQuit",
                 "MinimizeWndBtn"});
      EXPECT_NE(dynamic_cast<CStaticUI*>(A::Find(w, "Updating")), nullptr);
      A::Click(A::Find(w, "BtnQuit"));
    });
    update.Create(nullptr, "t", 0x96C80000, 0);
    update.ShowModal();
  }
  {
    CAddressBookDialog picker;
    A::ScopedModalAnswer scope([&](WindowImplBase& w) {
      CPaintManagerUI& pm = w.GetPaintManager();
      expectAll(pm, nullptr,
                {"addressbooklst", "searchlst", "reselectlist", "ccselectlist", "bcselectlist", "keywordedit",
                 "titallabel", "relabel", "cclabel", "bcclabel", "warningctl", "warninglabel", "LoadingGuageSti",
                 "LoadingResultSti", "reupdatebtn", "reRightbtn", "reLeftbtn", "recleanbtn", "ccRightbtn",
                 "ccLeftbtn", "cccleanbtn", "bcRightbtn", "bcLeftbtn", "bccleanbtn", "okbtn", "cancelbtn",
                 "CloseWndBtn", "BtnQuit", "MinimizeWndBtn"});
      EXPECT_NE(dynamic_cast<CCheckTreeView*>(A::Find(w, "addressbooklst")), nullptr);
      for (const char* l : {"searchlst", "reselectlist", "ccselectlist", "bcselectlist"})
        EXPECT_NE(dynamic_cast<CMutilSelectList*>(A::Find(w, l)), nullptr) << l;
      EXPECT_NE(dynamic_cast<CStaticUI*>(A::Find(w, "LoadingGuageSti")), nullptr);
      EXPECT_NE(dynamic_cast<CEditUI*>(A::Find(w, "keywordedit")), nullptr);

      CDialogBuilder rowBuilder;
      CControlUI* row = rowBuilder.Create("XmlNode.xml", nullptr, nullptr, &pm);
      ASSERT_NE(row, nullptr);
      EXPECT_NE(row->GetInterface("ListContainerElement"), nullptr);
      expectAll(pm, row, {"ExpandBtn", "SelectedBtn", "DisplayNameLbl", "HorizontalLayoutUI2"});
      EXPECT_NE(pm.FindSubControlByName(row, "ExpandBtn")->GetInterface("Option"), nullptr);
      EXPECT_NE(pm.FindSubControlByName(row, "SelectedBtn")->GetInterface("Option"), nullptr);
      delete row;
      CDialogBuilder itemBuilder;
      CControlUI* item = itemBuilder.Create("MutilListItem.xml", nullptr, nullptr, &pm);
      ASSERT_NE(item, nullptr);
      expectAll(pm, item, {"listitem", "TabItemHly"});
      delete item;
      A::Click(A::Find(w, "BtnQuit"));
    });
    picker.Create(nullptr, "Postwing", 0x96C80000, 0);
    picker.ShowModal();
  }
  EXPECT_TRUE(missing.empty()) << missing.front();
}

}  // namespace

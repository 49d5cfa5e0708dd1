// Picking recipients, the whole road: the address-book button of a Foxmail 7 compose window
// asks the desktop program over loopback; its main window opens the recipient picker over the
// address book that login fetched from the XCAP server; the user's picks come back and are
// typed into the compose window's To, Cc and Bcc fields.
#include "E2eSupport.h"

#include "../../desktop/addressbook/model/tests/AddressBookTestSupport.h"
#include "addressbook/AddressBookClient.h"
#include "addressbook/AddressBookDialog.h"
#include "addressbook/AddressBookUpdateDialog.h"
#include "addressbook/CheckTreeView.h"
#include "addressbook/MutilSelectList.h"
#include "db/LocalDb.h"
#include "sso/SsoCookieManager.h"
#include "ui/UIMenu.h"

#include <filesystem>

using namespace e2e;
using DuiLib::CControlUI;

namespace {

// ---- the picker as the user sees it (main window's thread only) ----
CCheckTreeView* tree(CAddressBookDialog& d) { return dynamic_cast<CCheckTreeView*>(A::Find(d, "addressbooklst")); }
CControlUI* sub(CAddressBookDialog& d, CControlUI* row, const char* name) {
  return d.GetPaintManager().FindSubControlByName(row, name);
}
CControlUI* row(CAddressBookDialog& d, const std::string& text) {
  CCheckTreeView* t = tree(d);
  for (int i = 0; t && i < t->GetCount(); ++i)
    if (CControlUI* label = sub(d, t->GetItemAt(i), "DisplayNameLbl"))
      if (label->GetText().str() == text) return t->GetItemAt(i);
  return nullptr;
}
// Each refused when the row cannot be reached (a collapsed group hides its rows).
void expand(CAddressBookDialog& d, const std::string& text) {
  EXPECT_TRUE(A::Click(sub(d, row(d, text), "DisplayNameLbl"))) << "expand " << text;
}
void check(CAddressBookDialog& d, const std::string& text) {
  EXPECT_TRUE(A::Click(sub(d, row(d, text), "SelectedBtn"))) << "check " << text;
}
std::vector<std::string> entries(CAddressBookDialog& d, const char* list) {
  std::vector<std::string> out;
  auto* l = dynamic_cast<CMutilSelectList*>(A::Find(d, list));
  for (int i = 0; l && i < l->GetCount(); ++i) out.push_back(sub(d, l->GetItemAt(i), "listitem")->GetText().str());
  return out;
}

std::vector<std::string> rowTexts(CAddressBookDialog& d) {
  std::vector<std::string> out;
  CCheckTreeView* t = tree(d);
  for (int i = 0; t && i < t->GetCount(); ++i)
    if (CControlUI* label = sub(d, t->GetItemAt(i), "DisplayNameLbl")) out.push_back(label->GetText().str());
  return out;
}

class PickRecipients : public Road {
 protected:
  // Waits for the picker and for the fetched address book in its tree.
  CAddressBookDialog* waitPicker() {
    auto* d = waitWindow<CAddressBookDialog>("CAddressBookDialog");
    if (!d) return nullptr;
    EXPECT_TRUE(waitUi([d] { return row(*d, "示例公司") != nullptr; })) << "the fetched address book in the tree";
    return d;
  }
};

TEST_F(PickRecipients, TwoIntoToAndOneIntoCcAreTypedIntoTheComposeWindow) {
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  EXPECT_FALSE(mainVisible()) << "the login form hides after login";

  pwtest::ComposeWindow w = openFoxmail7();
  PostwingWind::Controls c = controlsOf(w);
  ASSERT_NE(c.button1, nullptr);
  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->pendingAddrHandle() == std::to_string((long)(intptr_t)w.root); }));

  CAddressBookDialog* picker = waitPicker();
  ASSERT_NE(picker, nullptr);
  std::vector<std::string> to, cc;
  std::string title;
  onUi([&] {
    CAddressBookDialog& d = *picker;
    title = A::Find(d, "titallabel")->GetText().str();
    expand(d, "示例公司");
    expand(d, "研发部");
    check(d, "张三");
    check(d, "李四");
    A::MouseMove(d);  // the add buttons follow the check marks as the pointer moves
    A::Click(A::Find(d, "reRightbtn"));
    check(d, "王五");
    A::MouseMove(d);
    A::Click(A::Find(d, "ccRightbtn"));
    to = entries(d, "reselectlist");
    cc = entries(d, "ccselectlist");
  });
  EXPECT_EQ(title, std::string("Postwing( ") + kAlice + " )");
  // The list keeps the tree's order (李四 before 张三), whatever the order of the clicks.
  EXPECT_EQ(to, (std::vector<std::string>{"李四<lisi@corp.example>", "张三<zhangsan@corp.example>"}));
  EXPECT_EQ(cc, (std::vector<std::string>{"王五<王五@corp.example>"}));
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));

  // The fields get the addresses, each followed by ";", Chinese characters intact.
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(w.cc) == u"王五@corp.example;"; }, 10000))
      << "cc: " << mail_->text(w.cc).size() << " characters";
  EXPECT_EQ(mail_->text(w.to), u"lisi@corp.example;zhangsan@corp.example;");
  EXPECT_EQ(mail_->text(w.bcc), u"");
  EXPECT_EQ(mail_->count(w.bcc, WM_IME_CHAR), 0);
  // The XCAP document was fetched with the ticket of that login.
  EXPECT_EQ(xcap_.countRequests("GET", std::string("/xcap/resource-lists/myusers/") + kAlice + "/buddys"), 1u);
}

TEST_F(PickRecipients, ARequestWhileNobodyIsLoggedInWaitsForTheLogin) {
  startProgram();
  // The user closed the login form: the program lives on in the tray.
  ASSERT_TRUE(mainVisible());
  postUi([this] { A::Click(A::Find(*main(), "CloseWndBtn")); });
  ASSERT_TRUE(w32subst::waitUntil([&] { return !mainVisible(); }));

  pwtest::ComposeWindow w = openFoxmail7();
  PostwingWind::Controls c = controlsOf(w);
  ASSERT_NE(c.button1, nullptr);
  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return mainVisible(); }, 10000)) << "the login form shows again";
  EXPECT_EQ(pending(), (int)CLoginDialog::PENDING_ADDRESS_BOOK);
  EXPECT_EQ(A::FindWindowByClass("CAddressBookDialog"), nullptr);
  EXPECT_EQ(sso_.requestCount(), 0u);

  ASSERT_TRUE(login(kAlice, kAlicePassword));
  CAddressBookDialog* picker = waitPicker();
  ASSERT_NE(picker, nullptr) << "the picker opens for the waiting request after login";
  EXPECT_EQ(pending(), (int)CLoginDialog::PENDING_NONE);
  EXPECT_FALSE(mainVisible());
  onUi([&] {
    CAddressBookDialog& d = *picker;
    expand(d, "示例公司");
    expand(d, "未分配组");  // Erin, outside any department, is in the unassigned group
    check(d, "Erin");
    A::MouseMove(d);
    A::Click(A::Find(d, "bcRightbtn"));
  });
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(w.bcc) == u"erin@corp.example;"; }, 10000));
  EXPECT_EQ(mail_->text(w.to), u"");
  EXPECT_EQ(mail_->text(w.cc), u"");
}

TEST_F(PickRecipients, OutlooksToButtonAsksThroughItsMenuAndTheNewestRequesterGetsThePicks) {
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  // The menu of Outlook's To, Cc and Bcc buttons: the user takes the enterprise address book.
  w32subst::setMenuDriver([](const w32subst::MenuShown& m) { return m.resourceId == 102 ? 40003u : 0u; });

  pwtest::ComposeWindow outlook = openCompose(pwtest::MailKind::Outlook);
  ASSERT_EQ(outlook.outlookButtons.size(), 4u);
  w32subst::click(outlook.outlookButtons[0], 5, 5);
  CAddressBookDialog* picker = waitPicker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(server()->pendingAddrHandle(), std::to_string((long)(intptr_t)outlook.root));

  // While the picker is open, a Foxmail compose window asks too: the one picker stays, and
  // the newer request is the one it answers.
  pwtest::ComposeOptions right;
  right.x = 900;  // beside the Outlook window's buttons, so that they stay under the pointer
  pwtest::ComposeWindow fox = openCompose(pwtest::MailKind::Foxmail7, right);
  w32subst::click(controlsOf(fox).button1, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->pendingAddrHandle() == std::to_string((long)(intptr_t)fox.root); }));
  ASSERT_TRUE(mail_->waitIdle());
  EXPECT_EQ(waitWindow<CAddressBookDialog>("CAddressBookDialog"), picker);
  onUi([&] {
    CAddressBookDialog& d = *picker;
    expand(d, "示例公司");
    expand(d, "研发部");
    check(d, "张三");
    A::MouseMove(d);
    A::Click(A::Find(d, "reRightbtn"));
  });
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(fox.to) == u"zhangsan@corp.example;"; }, 10000));
  EXPECT_EQ(mail_->text(outlook.to), u"");

  // Outlook's own turn, from its Cc button: the picks land in the Outlook window.
  w32subst::click(outlook.outlookButtons[1], 5, 5);
  picker = waitPicker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(server()->pendingAddrHandle(), std::to_string((long)(intptr_t)outlook.root));
  onUi([&] {
    CAddressBookDialog& d = *picker;
    expand(d, "示例公司");
    expand(d, "未分配组");  // Erin, outside any department, is in the unassigned group
    check(d, "Erin");
    A::MouseMove(d);
    A::Click(A::Find(d, "ccRightbtn"));
  });
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(outlook.cc) == u"erin@corp.example;"; }, 10000));
  EXPECT_EQ(mail_->text(outlook.to), u"");
  EXPECT_EQ(mail_->text(fox.cc), u"");
  EXPECT_EQ(mail_->text(fox.to), u"zhangsan@corp.example;");
  EXPECT_TRUE(mail_->events().empty()) << "the mail client's own address book never opened";
}

TEST_F(PickRecipients, AfterLogoutFromTheTrayMenuTheNextUsersBookServesTheWaitingRequest) {
  const char* const bob = "bob@corp.example";
  sso_.addUser(bob, "hunter2");
  xcap_.putDocument(std::string("resource-lists/myusers/") + bob + "/buddys", u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>市场部</display-name>
    <entry uri="zhaoliu@corp.example"><display-name>赵六</display-name></entry>
  </list>
</resource-lists>
)");
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));

  // Logout through the tray icon's menu, confirmed in the box it asks.
  std::vector<w32subst::NotifyIcon> icons = w32subst::notifyIcons();
  ASSERT_EQ(icons.size(), 1u);
  ASSERT_TRUE(w32subst::clickNotifyIcon(icons[0].hWnd, icons[0].id, WM_RBUTTONUP));
  auto* menu = waitWindow<DuiLib::CMenuWnd>("MenuWnd");
  ASSERT_NE(menu, nullptr);
  postUi([menu] {
    auto* list = static_cast<DuiLib::CMenuUI*>(menu->GetPaintManager().GetRoot()->GetInterface("Menu"));
    for (int i = 0; list && i < list->GetCount(); ++i)
      if (list->GetItemAt(i)->GetName() == "Logout") A::Click(list->GetItemAt(i));
  });
  auto* box = waitWindow<DuiLib::WindowImplBase>("CHintDialog");
  ASSERT_NE(box, nullptr);
  postUi([box] { A::Click(A::Find(*box, "SureBtn")); });
  ASSERT_TRUE(w32subst::waitUntil([&] { return !loggedIn(); }, 10000));
  EXPECT_TRUE(mainVisible()) << "the login form shows again";
  // The single sign-on logout runs on its worker.
  EXPECT_TRUE(w32subst::waitUntil([&] {
    for (auto& r : sso_.requests())
      if (r.path.rfind(pwtest::FakeSsoServer::LOGOUT_PATH, 0) == 0) return true;
    return false;
  }, 10000)) << "Alice was logged out at the single sign-on server";

  // A compose window asks while nobody is logged in; Bob logs in.
  pwtest::ComposeWindow w = openFoxmail7();
  w32subst::click(controlsOf(w).button1, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return pending() == (int)CLoginDialog::PENDING_ADDRESS_BOOK; }, 10000));
  EXPECT_EQ(A::FindWindowByClass("CAddressBookDialog"), nullptr);
  ASSERT_TRUE(login(bob, "hunter2"));

  CAddressBookDialog* picker = waitWindow<CAddressBookDialog>("CAddressBookDialog");
  ASSERT_NE(picker, nullptr);
  ASSERT_TRUE(waitUi([picker] { return row(*picker, "市场部") != nullptr; })) << "Bob's own address book";
  std::string title;
  bool alicesGroup = true;
  onUi([&] {
    CAddressBookDialog& d = *picker;
    title = A::Find(d, "titallabel")->GetText().str();
    alicesGroup = row(d, "示例公司") != nullptr;
    expand(d, "市场部");
    expand(d, "未分配组");
    check(d, "赵六");
    A::MouseMove(d);
    A::Click(A::Find(d, "reRightbtn"));
  });
  EXPECT_EQ(title, std::string("Postwing( ") + bob + " )");
  EXPECT_FALSE(alicesGroup) << "nothing of Alice's book is left";
  postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
  EXPECT_TRUE(waitGone("CAddressBookDialog"));
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(w.to) == u"zhaoliu@corp.example;"; }, 10000));
  SsoCookieManager::clearCookie(bob);
}

// ---- a book fetched but not stored ----------------------------------------------------------
// The contact table could not take the book: the update is reported failed, but the book was
// fetched, and the picker shows its tree with a usable keyword box; a pick from it reaches the
// compose window.
class UnstoredBook : public PickRecipients {
 protected:
  // The compose window asks; the picker shows the tree; 张三 goes to To and OK sends it.
  void pickZhangsan(const pwtest::ComposeWindow& w) {
    w32subst::click(controlsOf(w).button1, 5, 5);
    CAddressBookDialog* picker = waitPicker();
    ASSERT_NE(picker, nullptr);
    std::vector<std::string> rows;
    bool failedView = true, editable = false;
    onUi([&] {
      CAddressBookDialog& d = *picker;
      rows = rowTexts(d);
      failedView = A::Find(d, "LoadingResultSti")->IsVisible();
      CControlUI* edit = A::Find(d, "keywordedit");
      editable = A::TypeText(edit, "zhang") && A::TypeText(edit, "");
      expand(d, "示例公司");
      expand(d, "研发部");
      check(d, "张三");
      A::MouseMove(d);
      A::Click(A::Find(d, "reRightbtn"));
    });
    EXPECT_EQ(rows, (std::vector<std::string>{"示例公司", "研发部", "李四", "王五", "张三", "未分配组", "Erin"}));
    EXPECT_FALSE(failedView);
    EXPECT_TRUE(editable) << "the keyword box takes a keyword";
    postUi([picker] { A::Click(A::Find(*picker, "okbtn")); });
    EXPECT_TRUE(waitGone("CAddressBookDialog"));
    EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->text(w.to) == u"zhangsan@corp.example;"; }, 10000));
  }
  // The tray menu's "AddressUpdate"; the text its dialog ends with.
  std::string updateFromTheTrayMenu() {
    std::vector<w32subst::NotifyIcon> icons = w32subst::notifyIcons();
    EXPECT_EQ(icons.size(), 1u);
    if (icons.size() != 1) return std::string();
    EXPECT_TRUE(w32subst::clickNotifyIcon(icons[0].hWnd, icons[0].id, WM_RBUTTONUP));
    auto* menu = waitWindow<DuiLib::CMenuWnd>("MenuWnd");
    EXPECT_NE(menu, nullptr);
    if (!menu) return std::string();
    postUi([menu] {
      auto* list = static_cast<DuiLib::CMenuUI*>(menu->GetPaintManager().GetRoot()->GetInterface("Menu"));
      for (int i = 0; list && i < list->GetCount(); ++i)
        if (list->GetItemAt(i)->GetName() == "AddressUpdate") A::Click(list->GetItemAt(i));
    });
    auto* dialog = waitWindow<CAddressBookUpdateDialog>("CAddressBookUpdateDialog");
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return std::string();
    std::string hint;
    EXPECT_TRUE(waitUi([&] {
      if (!A::Find(*dialog, "FinishBtn")->IsVisible()) return false;
      hint = A::Find(*dialog, "UpdatedHint")->GetText().str();
      return true;
    }));
    postUi([dialog] { A::Click(A::Find(*dialog, "FinishBtn")); });
    EXPECT_TRUE(waitGone("CAddressBookUpdateDialog"));
    return hint;
  }
};

const char* const kUpdateFailure = "      更新企业通讯录失败！";

// Another program holds the user's file when the user logs in.
TEST_F(UnstoredBook, TheUsersFileHeldAtLoginStillLetsThePickerPickFromTheFetchedTree) {
  const std::string folder = LocalDb::getDocumentsPath() + "/Postwing/" + kAlice;
  std::filesystem::create_directories(folder);
  abtest::HeldFile held(folder + "/Postwing.db");
  ASSERT_TRUE(held.ok());
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  pwtest::ComposeWindow w = openFoxmail7();
  pickZhangsan(w);
  // The update from the tray menu cannot store the book either, and says so.
  EXPECT_EQ(updateFromTheTrayMenu(), kUpdateFailure);
}

// The book was stored at login; a later update's table refuses its rows (the file takes no more
// writes, as a documents folder turned read-only).
TEST_F(UnstoredBook, ALaterUpdateThatCannotStoreKeepsTheTreeToPickFrom) {
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  ASSERT_TRUE(w32subst::waitUntil(
      [] { return AddressBookClient::instance()->getState() == AddressBookClient::STATE_UPDATED; }, 10000));
  ASSERT_TRUE(LocalDb::instance()->execDML("PRAGMA query_only=1;"));
  EXPECT_EQ(updateFromTheTrayMenu(), kUpdateFailure);
  pwtest::ComposeWindow w = openFoxmail7();
  pickZhangsan(w);
}

}  // namespace

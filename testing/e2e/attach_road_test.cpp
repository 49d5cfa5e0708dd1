// Large attachments, the whole road: the attach button of a Foxmail 7 compose window asks the
// desktop program over loopback; its main window opens the upload dialog; a chosen file goes
// to the net disk in blocks; inserting it puts the download link on the clipboard as "HTML
// Format" and the hook library pastes it into the compose window's body.
#include "E2eSupport.h"

#include "dialog/CommonDialogs.h"
#include "dialog/FileUploaderDialog.h"
#include "util/Config.h"

using namespace e2e;
using DuiLib::CControlUI;

namespace {

const size_t kBlock = 0x80000;

class AttachLargeFiles : public Road {
 protected:
  void SetUp() override {
    Road::SetUp();
    pwsys::resetCommonDialogs();
  }
  void TearDown() override {
    disk_.holdUploads(false);
    disk_.release(1000);
    Road::TearDown();
    pwsys::resetCommonDialogs();
    Config::instance()->removeValue("VASTO", "maxThread");
  }
  // The compose window's attach button, and the dialog it opens once the listing is in.
  CFileUploaderDialog* askForUploader(const pwtest::ComposeWindow& w);
  void choose(CFileUploaderDialog* dlg, const std::string& folder, const std::string& name) {
    pwsys::OpenFileAnswer answer;
    answer.folder = folder;
    answer.names = {name};
    pwsys::setOpenFileAnswer(answer);
    postUi([dlg] { A::Click(A::Find(*dlg, "upload_file_btn")); });
  }
};

// A row's control (main window's thread only).
CControlUI* cell(CFileUploaderDialog& d, const std::string& row, const char* name) {
  DuiLib::CListContainerElementUI* r = d.findRow(row);
  return r ? r->FindSubControl(name) : nullptr;
}

std::u16string ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

CFileUploaderDialog* AttachLargeFiles::askForUploader(const pwtest::ComposeWindow& w) {
  PostwingWind::Controls c = controlsOf(w);
  EXPECT_NE(c.button2, nullptr);
  if (!c.button2) return nullptr;
  w32subst::click(c.button2, 5, 5);
  EXPECT_TRUE(w32subst::waitUntil([&] { return server()->pendingAttachHandle() == std::to_string((long)(intptr_t)w.root); }));
  auto* dlg = waitWindow<CFileUploaderDialog>("CFileUploaderDialog");
  EXPECT_NE(dlg, nullptr) << "the main window opened the upload dialog";
  if (dlg) {
    EXPECT_TRUE(waitUi([&] { return !A::Find(*dlg, "Waiting")->IsVisible(); })) << "the listing arrived";
  }
  return dlg;
}

TEST_F(AttachLargeFiles, AnUploadedFileIsInsertedIntoTheComposeWindowAsADownloadLink) {
  disk_.putFile(kAlice, "earlier.txt", std::string(10, 'e'));
  const std::string folder = freshDir("attach");
  const std::string original = writeFile(folder, "plans.bin", 2 * kBlock + 12345);  // three blocks

  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  pwtest::ComposeWindow w = openFoxmail7();
  CFileUploaderDialog* dlg = askForUploader(w);
  ASSERT_NE(dlg, nullptr);
  ASSERT_TRUE(waitUi([&] { return dlg->findRow("earlier.txt") != nullptr; })) << "the user's net-disk listing";

  // The user chooses the file in the open-file dialog.
  choose(dlg, folder, "plans.bin");
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "plans.bin", "fui_status") != nullptr; })) << "a row for the upload";
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "plans.bin", "fui_status")->GetText() == "已完成"; }, 30000))
      << "the upload finished";

  // The net disk merged the blocks into the file as it was.
  EXPECT_TRUE(disk_.isComplete(kAlice, "plans.bin"));
  EXPECT_EQ(disk_.blocksReceived(kAlice, "plans.bin"), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(disk_.fileBytes(kAlice, "plans.bin") == original) << "merged file differs from the original";
  EXPECT_EQ(disk_.md5Mismatches(), 0);

  // Checked (finished uploads check themselves), then inserted.
  onUi([&] {
    A::Check(cell(*dlg, "plans.bin", "fui_check"), true);
    EXPECT_EQ(dlg->checkedCount(), 1);
    EXPECT_TRUE(A::Find(*dlg, "insert_enclosure_btn")->IsEnabled());
  });
  ASSERT_TRUE(mail_->waitIdle());
  postUi([dlg] { A::Click(A::Find(*dlg, "insert_enclosure_btn")); });
  EXPECT_TRUE(waitGone("CFileUploaderDialog")) << "inserting closes the dialog";

  const std::string token = disk_.linkToken(kAlice, "plans.bin");
  ASSERT_FALSE(token.empty());
  ASSERT_TRUE(w32subst::waitUntil([&] { return mail_->body(w.editor).find(ascii16(token)) != std::u16string::npos; }, 10000))
      << "the link was pasted into the body";
  std::u16string body = mail_->body(w.editor);
  EXPECT_EQ(body.find(u"<p>draft</p>"), 0u) << "pasted after what the user wrote";
  EXPECT_NE(body.find(u"<a href=\"http://" + ascii16(disk_.hostPort())), std::u16string::npos);
  EXPECT_NE(body.find(u"plans.bin&nbsp;&nbsp;("), std::u16string::npos);
  EXPECT_EQ(body.find(u"earlier.txt"), std::u16string::npos) << "only the checked file";
  EXPECT_EQ(mail_->text(w.to), u"");
}

TEST_F(AttachLargeFiles, AnUploadCutShortByTheProgramsEndResumesFromItsBookedBlocksAfterTheNextStart) {
  Config::instance()->setValue("VASTO", "maxThread", "1");  // one block at a time
  shutdownServices();  // the net-disk client reads its configuration afresh, as at a process start
  const std::string folder = freshDir("resume");
  const std::string original = writeFile(folder, "resume.bin", 3 * kBlock + 4321);  // four blocks
  disk_.holdUploads(true);

  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  pwtest::ComposeWindow w = openFoxmail7();
  CFileUploaderDialog* dlg = askForUploader(w);
  ASSERT_NE(dlg, nullptr);
  choose(dlg, folder, "resume.bin");
  // Block 0 goes through; block 1 is on the wire when the user closes the dialog.
  ASSERT_TRUE(disk_.waitHeld(1, 10000));
  disk_.release(1);
  ASSERT_TRUE(w32subst::waitUntil([&] { return disk_.blocksReceived(kAlice, "resume.bin") == std::vector<int>{0}; }, 10000));
  ASSERT_TRUE(disk_.waitHeld(1, 10000));
  postUi([dlg] { A::Click(A::Find(*dlg, "cancel_btn")); });
  auto* box = waitWindow<DuiLib::WindowImplBase>("CHintDialog");
  ASSERT_NE(box, nullptr) << "closing while uploading asks first";
  postUi([box] { A::Click(A::Find(*box, "SureBtn")); });
  ASSERT_TRUE(waitGone("CFileUploaderDialog"));
  disk_.holdUploads(false);
  disk_.release(10);  // the block on the wire finishes; nothing further is sent

  // The program ends; its net-disk threads end with the process.
  RawPeer peer(server()->listenPort());
  PW_Message stop;
  stop.setCommand("mailSrvStopped");
  ASSERT_TRUE(peer.send(stop));
  ASSERT_TRUE(w32subst::waitUntil([&] { return programEnded(); }, 15000));
  closeProgram();
  shutdownServices();
  EXPECT_FALSE(disk_.isComplete(kAlice, "resume.bin"));
  const int block0Sends = disk_.sends(kAlice, "resume.bin", 0);
  EXPECT_EQ(block0Sends, 1);
  EXPECT_EQ(disk_.sends(kAlice, "resume.bin", 3), 0);

  // The next start: the upload waits in the dialog, stopped, and the user resumes it.
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  dlg = askForUploader(w);
  ASSERT_NE(dlg, nullptr);
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "resume.bin", "fui_operator") != nullptr; })) << "the unfinished upload's row";
  EXPECT_EQ(callUi([&] { return cell(*dlg, "resume.bin", "fui_operator")->GetTag(); }), 0u) << "stopped";
  postUi([dlg] { A::Click(cell(*dlg, "resume.bin", "fui_operator")); });
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "resume.bin", "fui_status")->GetText() == "已完成"; }, 30000));
  EXPECT_TRUE(disk_.isComplete(kAlice, "resume.bin"));
  EXPECT_TRUE(disk_.fileBytes(kAlice, "resume.bin") == original) << "merged file differs from the original";
  EXPECT_EQ(disk_.sends(kAlice, "resume.bin", 0), 1) << "a booked block is not sent again";
  EXPECT_EQ(disk_.sends(kAlice, "resume.bin", 2), 1);
  EXPECT_EQ(disk_.sends(kAlice, "resume.bin", 3), 1);

  // Inserted into the compose window that asked.
  onUi([&] { A::Check(cell(*dlg, "resume.bin", "fui_check"), true); });
  postUi([dlg] { A::Click(A::Find(*dlg, "insert_enclosure_btn")); });
  EXPECT_TRUE(waitGone("CFileUploaderDialog"));
  const std::string token = disk_.linkToken(kAlice, "resume.bin");
  ASSERT_FALSE(token.empty());
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->body(w.editor).find(ascii16(token)) != std::u16string::npos; }, 10000));
}

TEST_F(AttachLargeFiles, ARequestWhileLoggedOutOpensTheUploaderAfterLoginAndAFileAlreadyThereIsInserted) {
  disk_.putFile(kAlice, "report.pdf", std::string(2000, 'r'));
  startProgram();
  postUi([this] { A::Click(A::Find(*main(), "CloseWndBtn")); });
  ASSERT_TRUE(w32subst::waitUntil([&] { return !mainVisible(); }));

  pwtest::ComposeWindow w = openFoxmail7();
  w32subst::click(controlsOf(w).button2, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return mainVisible(); }, 10000)) << "the login form shows again";
  EXPECT_EQ(pending(), (int)CLoginDialog::PENDING_UPLOAD);
  EXPECT_EQ(A::FindWindowByClass("CFileUploaderDialog"), nullptr);
  EXPECT_EQ(disk_.count(pwtest::FakeNetDiskServer::LISTING), 0);

  ASSERT_TRUE(login(kAlice, kAlicePassword));
  auto* dlg = waitWindow<CFileUploaderDialog>("CFileUploaderDialog");
  ASSERT_NE(dlg, nullptr) << "the upload dialog opens for the waiting request after login";
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "report.pdf", "fui_check") != nullptr; })) << "the net-disk listing";
  onUi([&] { A::Check(cell(*dlg, "report.pdf", "fui_check"), true); });
  postUi([dlg] { A::Click(A::Find(*dlg, "insert_enclosure_btn")); });
  EXPECT_TRUE(waitGone("CFileUploaderDialog"));
  const std::string token = disk_.linkToken(kAlice, "report.pdf");
  ASSERT_FALSE(token.empty());
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->body(w.editor).find(ascii16(token)) != std::u16string::npos; }, 10000));
  EXPECT_NE(mail_->body(w.editor).find(u"report.pdf&nbsp;&nbsp;(1.95KB)"), std::u16string::npos);
  EXPECT_EQ(pending(), (int)CLoginDialog::PENDING_NONE);
}

// The tray's Upload opens the dialog while no compose window waits for links: Insert keeps the
// window and its ticks and says why; once a compose window asks, the same Insert pastes the link.
TEST_F(AttachLargeFiles, InsertFromTheTraysUploadWaitsForAComposeWindow) {
  disk_.putFile(kAlice, "report.pdf", std::string(2000, 'r'));
  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  postUi([this] { main()->onMenuCommand("Upload"); });
  auto* dlg = waitWindow<CFileUploaderDialog>("CFileUploaderDialog");
  ASSERT_NE(dlg, nullptr) << "the tray's Upload opens the dialog";
  ASSERT_TRUE(waitUi([&] { return cell(*dlg, "report.pdf", "fui_check") != nullptr; })) << "the net-disk listing";
  onUi([&] { A::Check(cell(*dlg, "report.pdf", "fui_check"), true); });
  postUi([dlg] { A::Click(A::Find(*dlg, "insert_enclosure_btn")); });
  const std::string noWindow = "没有等待插入附件的写信窗口，请打开写信窗口后再次插入";
  ASSERT_TRUE(waitUi([&] { return std::string(A::Find(*dlg, "information_label")->GetText()) == noWindow; }))
      << "the dialog says no mail window waits";
  onUi([&] {
    auto* box = static_cast<DuiLib::CCheckBoxUI*>(cell(*dlg, "report.pdf", "fui_check")->GetInterface("CheckBox"));
    EXPECT_TRUE(box->GetCheck());
    EXPECT_EQ(dlg->checkedCount(), 1);
  });
  EXPECT_NE(A::FindWindowByClass("CFileUploaderDialog"), nullptr) << "the dialog stays";

  pwtest::ComposeWindow w = openFoxmail7();
  w32subst::click(controlsOf(w).button2, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->pendingAttachHandle() == std::to_string((long)(intptr_t)w.root); }));
  ASSERT_TRUE(mail_->waitIdle());
  postUi([dlg] { A::Click(A::Find(*dlg, "insert_enclosure_btn")); });
  EXPECT_TRUE(waitGone("CFileUploaderDialog"));
  const std::string token = disk_.linkToken(kAlice, "report.pdf");
  ASSERT_FALSE(token.empty());
  EXPECT_TRUE(w32subst::waitUntil([&] { return mail_->body(w.editor).find(ascii16(token)) != std::u16string::npos; }, 10000));
}

}  // namespace

// Large attachments, the whole road: the attach button of a Foxmail 7 compose window asks the
// desktop program over loopback; its main window opens the upload dialog; a chosen file goes
// to the net disk in blocks; inserting it puts the download link on the clipboard as "HTML
// Format" and the hook library pastes it into the compose window's body.
#include "E2eSupport.h"

#include "dialog/CommonDialogs.h"
#include "dialog/FileUploaderDialog.h"

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
    pwsys::resetCommonDialogs();
    Road::TearDown();
  }
};

// A row's control (main window's thread only).
CControlUI* cell(CFileUploaderDialog& d, const std::string& row, const char* name) {
  DuiLib::CListContainerElementUI* r = d.findRow(row);
  return r ? r->FindSubControl(name) : nullptr;
}

std::u16string ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST_F(AttachLargeFiles, AnUploadedFileIsInsertedIntoTheComposeWindowAsADownloadLink) {
  disk_.putFile(kAlice, "earlier.txt", std::string(10, 'e'));
  const std::string folder = freshDir("attach");
  const std::string original = writeFile(folder, "plans.bin", 2 * kBlock + 12345);  // three blocks

  startProgram();
  ASSERT_TRUE(login(kAlice, kAlicePassword));
  pwtest::ComposeWindow w = openFoxmail7();
  PostwingWind::Controls c = controlsOf(w);
  ASSERT_NE(c.button2, nullptr);
  w32subst::click(c.button2, 5, 5);
  ASSERT_TRUE(w32subst::waitUntil([&] { return server()->pendingAttachHandle() == std::to_string((long)(intptr_t)w.root); }));

  auto* dlg = waitWindow<CFileUploaderDialog>("CFileUploaderDialog");
  ASSERT_NE(dlg, nullptr) << "the main window opened the upload dialog";
  ASSERT_TRUE(waitUi([&] { return dlg->findRow("earlier.txt") != nullptr; })) << "the user's net-disk listing";

  // The user chooses the file in the open-file dialog.
  pwsys::OpenFileAnswer answer;
  answer.folder = folder;
  answer.names = {"plans.bin"};
  pwsys::setOpenFileAnswer(answer);
  postUi([dlg] { A::Click(A::Find(*dlg, "upload_file_btn")); });
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

}  // namespace

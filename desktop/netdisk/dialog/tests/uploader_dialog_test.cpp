// The large-attachment window on a UI thread of its own, driven through the automation API,
// against the fake single sign-on and net-disk servers on 127.0.0.1, with the real net-disk
// client and, for inserting, the real local server and a loopback peer in place of the mail
// client's agent.
#include "dialog/CommonDialogs.h"
#include "dialog/FileUploaderDialog.h"

#include "bridge/PW_Message.h"
#include "bridge/PW_PostwingServer.h"
#include "client/NetDiskClient.h"
#include "db/LocalDb.h"
#include "duilib/UIAutomation.h"
#include "sso/SsoClient.h"
#include "sso/SsoCookieManager.h"
#include "testing/FakeNetDiskServer.h"
#include "testing/FakeSsoServer.h"
#include "testing/TempHome.h"
#include "util/Config.h"
#include "win32/w32subst.h"
#include "win32/shellexecute.h"

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

using namespace DuiLib;
namespace A = DuiLib::Automation;
using pwtest::FakeNetDiskServer;

namespace {

const char* const kAlice = "alice@corp.com";
const int kBlock = 0x80000;

// A home folder of the test's own (PW_HOME), removed with its content; write() puts a file of
// patterned bytes in it.
class TempHome : public pwtest::TempHome {
 public:
  void write(const std::string& name, size_t size) const {
    std::ofstream out(path() + "/" + name, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 31 + 7));
  }
};

// Upload lists as the client reports them to a second listener of the test's own.
class TaskListener : public INetDiskClientListener {
 public:
  void onListFile(const std::vector<NetDiskFileItem>&, int) override { bump(lists_); }
  void onRenameFile(const std::string&, const std::string&, int) override {}
  void onDeleteFile(const std::string&, int) override {}
  void onListUploadTask(const std::vector<UploadTaskStatus>& tasks, int) override {
    std::lock_guard<std::mutex> g(mutex_);
    tasks_ = tasks;
    ++taskLists_;
    cond_.notify_all();
  }
  void onUploadStatus(const UploadTaskStatus&, int) override {}
  void onAddUploadTask(const UploadTaskStatus&, int) override {}
  void onPauseUpload(const UploadTaskStatus&, int) override {}
  void onResumeUpload(const UploadTaskStatus&, int) override {}
  void onCancelUpload(const std::string&, int) override {}
  void onDownloadUrl(const std::map<std::string, std::string>&) override {}

  // Every command queued before has run once the next upload list arrives.
  std::vector<UploadTaskStatus> listUploads() {
    int before;
    {
      std::lock_guard<std::mutex> g(mutex_);
      before = taskLists_;
    }
    EXPECT_GT(NetDiskClient::instance()->listUploadTask(), 0);
    std::unique_lock<std::mutex> g(mutex_);
    EXPECT_TRUE(cond_.wait_for(g, std::chrono::seconds(10), [&] { return taskLists_ > before; }));
    return tasks_;
  }
  int lists() {
    std::lock_guard<std::mutex> g(mutex_);
    return lists_;
  }

 private:
  void bump(int& n) {
    std::lock_guard<std::mutex> g(mutex_);
    ++n;
    cond_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<UploadTaskStatus> tasks_;
  int taskLists_ = 0;
  int lists_ = 0;
};

// The mail client's side of the local bridge: asks for the attachment dialog, reads replies.
class BridgePeer {
 public:
  explicit BridgePeer(int port) {
    ACE_SOCK_Connector connector;
    ACE_Time_Value timeout(5);
    ok_ = connector.connect(stream_, ACE_INET_Addr(u_short(port), ACE_UINT32(INADDR_LOOPBACK)), &timeout) == 0;
  }
  ~BridgePeer() { stream_.close(); }
  bool askAttach(const std::string& handle) { return tell("showAttachDialog", handle); }
  bool tell(const char* command, const std::string& handle) {
    PW_Message m;
    m.setCommand(command);
    m.setField("handle", handle);
    ACE_Message_Block block;
    m.encode(block);
    ACE_Time_Value timeout(5);
    return ok_ && stream_.send_n(block.rd_ptr(), block.length(), MSG_NOSIGNAL, &timeout) == ssize_t(block.length());
  }
  bool readUnit(PW_Message& message) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      ACE_Message_Block block(buffer_.size() + 1);
      block.copy(buffer_.data(), buffer_.size());
      std::size_t consumed = 0;
      if (message.decode(block, consumed) == PW_Message::DECODE_OK) {
        buffer_.erase(0, consumed);
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      char chunk[4096];
      ACE_Time_Value timeout(0, 200 * 1000);
      const ssize_t n = stream_.recv(chunk, sizeof chunk, &timeout);
      if (n == 0) return false;
      if (n > 0) buffer_.append(chunk, std::size_t(n));
    }
  }

 private:
  ACE_SOCK_Stream stream_;
  bool ok_ = false;
  std::string buffer_;
};

std::string clipboardHtml() {
  std::string out;
  if (!OpenClipboard(nullptr)) return out;
  if (HANDLE data = GetClipboardData(RegisterClipboardFormatA("HTML Format"))) {
    out = static_cast<const char*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return out;
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class UploaderDialogTest : public ::testing::Test {
 protected:
  UploaderDialogTest() : disk(&sso), client(NetDiskClient::instance()) {}

  void SetUp() override {
    ASSERT_TRUE(sso.isListening());
    ASSERT_TRUE(disk.isListening());
    sso.addUser(kAlice, "pw1");
    Config* c = Config::instance();
    c->setValue("VASTO", "spaceServer", disk.hostPort());
    c->setValue("SSO", "server", sso.hostPort());
    c->setValue("VASTO", "httpTimeout", "10");
    c->setValue("SSO", "httpTimeout", "10");
    c->setValue("VASTO", "maxThread", "1");  // one block in flight: progress can be watched
    c->setValue("COMMON", "listenPort", "0");
    configure();
    client->shutdown();  // a fresh client that reads the settings above
    SsoCookieManager::clearCookie(kAlice);
    pwsys::resetCommonDialogs();
    w32subst::resetClipboard();
    CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR);
    client->addListener(&tasks);
    ASSERT_GT(client->init(kAlice, "pw1"), 0);
  }
  void TearDown() override {
    if (dlg != nullptr) {
      ui.run([this] { dlg->Close(0); });
      EXPECT_TRUE(waitClosed());
      ui.run([this] { delete dlg; });
      dlg = nullptr;
    }
    disk.holdUploads(false);
    disk.release(1000);
    if (bridgeStarted) PW_PostwingServer::instance()->stop();
    client->shutdown();
    client->removeListener(&tasks);
    LocalDb::instance()->close();
    SsoCookieManager::clearCookie(kAlice);
    SsoClient::destroy();  // its worker pool ends with each test
    Config::instance()->removeValue("VASTO", "maxThread");
    Config::instance()->removeValue("VASTO", "maxTask");
    Config::instance()->removeValue("COMMON", "listenPort");
  }

  // Settings a test wants before the client reads them.
  virtual void configure() {}

  // Opens the dialog and waits for the file list to arrive.
  void open() {
    ui.run([this] {
      dlg = new CFileUploaderDialog(nullptr, kAlice);
      hwnd = dlg->Create(nullptr, "Ferrow", CFileUploaderDialog::kWindowStyle, 0);
    });
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(waitUi([this] { return !ctl("Waiting")->IsVisible() || ctl("ErrorLayout")->IsVisible(); }));
  }
  bool waitClosed() {
    return w32subst::waitUntil([this] { return !IsWindow(hwnd); }, 10000);
  }
  // Polls pred on the UI thread.
  bool waitUi(const std::function<bool()>& pred, int timeoutMs = 15000) {
    return w32subst::waitUntil([&] { return ui.call([&] { return pred(); }); }, timeoutMs);
  }
  // UI thread.
  CControlUI* ctl(const char* name) { return A::Find(*dlg, name); }
  CControlUI* cell(const std::string& row, const char* name) {
    CListContainerElementUI* r = dlg->findRow(row);
    return r ? r->FindSubControl(name) : nullptr;
  }
  int rowCount() {
    return static_cast<CListUI*>(ctl("fileuploaderlist")->GetInterface("List"))->GetCount();
  }
  // Any thread.
  std::string text(const char* name) { return ui.call([&] { return ctl(name)->GetText().str(); }); }
  std::string cellText(const std::string& row, const char* name) {
    return ui.call([&] {
      CControlUI* c = cell(row, name);
      return c ? c->GetText().str() : std::string("<none>");
    });
  }
  void click(const char* name) { ui.run([&] { A::Click(ctl(name)); }); }
  void clickCell(const std::string& row, const char* name) { ui.run([&] { A::Click(cell(row, name)); }); }

  void choose(const std::vector<std::string>& names) {
    pwsys::OpenFileAnswer answer;
    answer.folder = home.path();
    answer.names = names;
    pwsys::setOpenFileAnswer(answer);
    click("upload_file_btn");
  }
  // Opens the dialog and uploads big.bin (three blocks), held at its first block with its row
  // showing Pause.
  void openWithAHeldUpload() {
    home.write("big.bin", 2 * kBlock + 1000);
    disk.holdUploads(true);
    open();
    choose({"big.bin"});
    ASSERT_TRUE(disk.waitHeld(1, 10000));
    ASSERT_TRUE(waitUi([this] { return dlg->findRow("big.bin") && cell("big.bin", "fui_operator")->GetTag() == 1; }));
  }
  // Clicks a row's button and answers the message box it opens; gives the box's message.
  std::string clickCellAnswering(const std::string& row, const char* name, const char* answer) {
    std::string message;
    ui.run([&] {
      A::ScopedModalAnswer box([&](WindowImplBase& w) {
        message = A::Find(w, "MessageRedt")->GetText().str();
        A::Click(A::Find(w, answer));
      });
      A::Click(cell(row, name));
    });
    return message;
  }
  UINT_PTR tag(const std::string& row, const char* name) {
    return ui.call([&] { return cell(row, name)->GetTag(); });
  }
  bool enabled(const std::string& row, const char* name) {
    return ui.call([&] { return cell(row, name)->IsEnabled(); });
  }

  void startBridge() {
    ASSERT_EQ(PW_PostwingServer::instance()->start(), 0);
    bridgeStarted = true;
  }

  TempHome home;
  pwtest::FakeSsoServer sso;
  FakeNetDiskServer disk;
  NetDiskClient* client;
  TaskListener tasks;
  w32subst::UiThread ui;
  CFileUploaderDialog* dlg = nullptr;
  HWND hwnd = nullptr;
  bool bridgeStarted = false;
};

TEST(UploaderTexts, SizesLowerCaseAndSearchKeepToWholeCharacters) {
  EXPECT_EQ("900B", CFileUploaderDialog::sizeText(900));
  EXPECT_EQ("1.00K", CFileUploaderDialog::sizeText(1024));
  EXPECT_EQ("1.95K", CFileUploaderDialog::sizeText(2000));
  EXPECT_EQ("12.30M", CFileUploaderDialog::sizeText(12897485));
  EXPECT_EQ("report.pdf", CFileUploaderDialog::lowerName("Report.PDF"));
  // "\x81\x41" is one GBK character whose second byte reads as 'A': it stays as it is.
  EXPECT_EQ("\x81\x41" "b", CFileUploaderDialog::lowerName("\x81\x41" "B"));
  EXPECT_FALSE(CFileUploaderDialog::containsText("\x81\x61", "a"));
  EXPECT_TRUE(CFileUploaderDialog::containsText("\x81\x61" "a", "a"));
  EXPECT_TRUE(CFileUploaderDialog::containsText("报告report", "port"));
}

TEST_F(UploaderDialogTest, ListingShownAfterOpenOrderedSearchedAndClosedWithoutAsking) {
  disk.putFile(kAlice, "Report.PDF", std::string(2000, 'r'));
  disk.putFile(kAlice, "b.txt", std::string(900, 'b'));
  disk.putFile(kAlice, "Zeta.bin", std::string(1572864, 'z'));
  open();
  // Finished files, in the order of their lower-case names, once the upload list came too.
  ASSERT_TRUE(waitUi([this] {
    CListUI* list = static_cast<CListUI*>(ctl("fileuploaderlist")->GetInterface("List"));
    return rowCount() == 3 && list->GetItemIndex(dlg->findRow("b.txt")) == 0 &&
           list->GetItemIndex(dlg->findRow("report.pdf")) == 1 && list->GetItemIndex(dlg->findRow("zeta.bin")) == 2;
  }));
  ui.run([this] {
    EXPECT_EQ("Ferrow企业邮箱超大附件（alice@corp.com）", ctl("titallabel")->GetText().str());
    EXPECT_TRUE(ctl("upload_file_btn")->IsEnabled());
    CButtonUI* insert = static_cast<CButtonUI*>(ctl("insert_enclosure_btn")->GetInterface("Button"));
    EXPECT_FALSE(insert->IsEnabled());
    EXPECT_STREQ("file='..\\images\\InsertFileDisable.png' ", insert->GetNormalImage());
    EXPECT_FALSE(ctl("ErrorLayout")->IsVisible());
    EXPECT_EQ("Report.PDF", cell("report.pdf", "fui_filename")->GetText().str());
    EXPECT_EQ("Report.PDF", cell("report.pdf", "fui_filename")->GetToolTip().str());
    EXPECT_EQ("1.95K", cell("Report.PDF", "fui_filesize")->GetText().str());
    EXPECT_EQ("900B", cell("b.txt", "fui_filesize")->GetText().str());
    EXPECT_EQ("1.50M", cell("zeta.bin", "fui_filesize")->GetText().str());
    EXPECT_EQ("已完成", cell("b.txt", "fui_status")->GetText().str());
    EXPECT_FALSE(cell("b.txt", "fui_slider")->IsVisible());
    EXPECT_FALSE(cell("b.txt", "fui_operator")->IsEnabled());
    EXPECT_EQ(10, cell("b.txt", "fui_expire")->GetText().GetLength());  // yyyy-mm-dd
    EXPECT_EQ("", ctl("information_label")->GetText().str());
  });

  // Search: capitals find small letters; the hint leaves the edit while it has the focus.
  ui.run([this] {
    A::Focus(ctl("search_edit"));
    EXPECT_EQ("", ctl("search_edit")->GetText().str());
    A::TypeText(ctl("search_edit"), "PORT");
    A::PressReturn(ctl("search_edit"));
    EXPECT_TRUE(dlg->findRow("report.pdf")->IsVisible());
    EXPECT_FALSE(dlg->findRow("b.txt")->IsVisible());
    EXPECT_FALSE(dlg->findRow("zeta.bin")->IsVisible());
    A::TypeText(ctl("search_edit"), "");
    A::Blur(ctl("search_edit"));
    EXPECT_EQ("搜索文件...", ctl("search_edit")->GetText().str());
    A::Click(ctl("search_btn"));
    EXPECT_TRUE(dlg->findRow("b.txt")->IsVisible());
    EXPECT_TRUE(dlg->findRow("zeta.bin")->IsVisible());
  });

  // Checking rows by hand and all at once.
  ui.run([this] {
    A::Check(cell("b.txt", "fui_check"), true);
    EXPECT_EQ(1, dlg->checkedCount());
    EXPECT_TRUE(ctl("insert_enclosure_btn")->IsEnabled());
    A::Check(ctl("listheader_checkbtn"), true);
  });
  ui.waitIdle();
  ui.run([this] {
    EXPECT_EQ(3, dlg->checkedCount());
    A::Check(cell("zeta.bin", "fui_check"), false);
    EXPECT_EQ(2, dlg->checkedCount());
    EXPECT_FALSE(static_cast<CCheckBoxUI*>(ctl("listheader_checkbtn")->GetInterface("CheckBox"))->GetCheck());
    A::Check(ctl("listheader_checkbtn"), true);
    A::Check(ctl("listheader_checkbtn"), false);
  });
  ui.waitIdle();
  ui.run([this] {
    EXPECT_EQ(0, dlg->checkedCount());
    EXPECT_FALSE(ctl("insert_enclosure_btn")->IsEnabled());
  });

  // Nothing uploads: the close button closes at once.
  bool asked = false;
  ui.run([&] {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      asked = true;
      A::Click(A::Find(w, "CancelBtn"));
    });
    A::Click(ctl("cancel_btn"));
  });
  EXPECT_TRUE(waitClosed());
  EXPECT_FALSE(asked);
}

TEST_F(UploaderDialogTest, ShownModallyItEndsWithResultOneAndLeavesTheClient) {
  disk.putFile(kAlice, "b.txt", std::string(900, 'b'));
  UINT result = 0;
  int rows = -1;
  ui.run([&] {
    CFileUploaderDialog modal(nullptr, kAlice);
    modal.Create(nullptr, "Ferrow", CFileUploaderDialog::kWindowStyle, 0);
    modal.CenterWindow();
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      // The listing reaches the window through its own modal loop.
      w32subst::waitUntil([&] {
        A::Pump();
        return modal.findRow("b.txt") != nullptr;
      });
      rows = modal.findRow("b.txt") ? 1 : 0;
      A::Click(A::Find(w, "cancel_btn"));
    });
    result = modal.ShowModal();
  });
  EXPECT_EQ(1u, result);
  EXPECT_EQ(1, rows);
  int lists = tasks.lists();
  EXPECT_GT(client->listFile(), 0);
  EXPECT_TRUE(w32subst::waitUntil([&] { return tasks.lists() > lists; }, 10000));
}

TEST_F(UploaderDialogTest, EmptyListsShowThatTheListIsEmpty) {
  open();
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "文件列表为空"; }));
  ui.run([this] {
    EXPECT_EQ(0, rowCount());
    EXPECT_EQ(0xFF1E1E1Eu, static_cast<CLabelUI*>(ctl("information_label")->GetInterface("Label"))->GetTextColor());
  });
}

TEST_F(UploaderDialogTest, ChosenFilesUploadWithProgressAndFinishCheckedAndOrdered) {
  disk.putFile(kAlice, "a-old.txt", std::string(10, 'o'));
  home.write("big.bin", 2 * kBlock + 1000);
  home.write("small.txt", 900);
  disk.holdUploads(true);
  open();
  pwsys::OpenFileAnswer answer;
  answer.folder = home.path();
  answer.names = {"big.bin", "small.txt"};
  pwsys::setOpenFileAnswer(answer);
  click("upload_file_btn");

  std::vector<pwsys::OpenFileRequest> asked = pwsys::openFileRequests();
  ASSERT_EQ(1u, asked.size());
  EXPECT_EQ(std::string("All Files\0*.*\0", 14), asked[0].filter);
  EXPECT_EQ(pwsys::OFN_ALLOWMULTISELECT | pwsys::OFN_HIDEREADONLY | pwsys::OFN_EXPLORER, asked[0].flags);
  EXPECT_EQ(20800u, asked[0].maxFile);
  EXPECT_EQ(hwnd, asked[0].owner);

  ASSERT_TRUE(waitUi([this] { return dlg->findRow("big.bin") && dlg->findRow("small.txt"); }));
  // Blocks go one at a time: release them until the big file has shown progress.
  bool progressed = false;
  for (int i = 0; i < 4 && !progressed; ++i) {
    ASSERT_TRUE(disk.waitHeld(1, 10000));
    disk.release(1);
    progressed = waitUi(
        [this] {
          auto* s = static_cast<CProgressUI*>(cell("big.bin", "fui_slider")->GetInterface("Progress"));
          return s->GetValue() > 0;
        },
        3000);
  }
  ASSERT_TRUE(progressed);
  ui.run([this] {
    auto* s = static_cast<CProgressUI*>(cell("big.bin", "fui_slider")->GetInterface("Progress"));
    EXPECT_LT(s->GetValue(), 100);
    EXPECT_TRUE(s->IsVisible());
    std::string size = cell("big.bin", "fui_filesize")->GetText().str();
    EXPECT_NE(std::string::npos, size.find("M/1.00M")) << size;
    EXPECT_FALSE(cell("big.bin", "fui_check")->IsEnabled());
    // Unfinished rows come first.
    CListUI* list = static_cast<CListUI*>(ctl("fileuploaderlist")->GetInterface("List"));
    EXPECT_EQ(2, list->GetItemIndex(dlg->findRow("a-old.txt")));
  });

  disk.holdUploads(false);
  disk.release(100);
  ASSERT_TRUE(waitUi([this] {
    return cell("big.bin", "fui_status")->GetText() == "已完成" && cell("small.txt", "fui_status")->GetText() == "已完成";
  }));
  ui.run([this] {
    EXPECT_EQ("1.00M", cell("big.bin", "fui_filesize")->GetText().str());
    EXPECT_EQ("900B", cell("small.txt", "fui_filesize")->GetText().str());
    EXPECT_FALSE(cell("big.bin", "fui_slider")->IsVisible());
    EXPECT_FALSE(cell("big.bin", "fui_operator")->IsEnabled());
    EXPECT_EQ(3u, cell("big.bin", "fui_operator")->GetTag());
    // Finished uploads check themselves once.
    EXPECT_TRUE(static_cast<CCheckBoxUI*>(cell("big.bin", "fui_check")->GetInterface("CheckBox"))->GetCheck());
    EXPECT_TRUE(static_cast<CCheckBoxUI*>(cell("small.txt", "fui_check")->GetInterface("CheckBox"))->GetCheck());
    EXPECT_EQ(2, dlg->checkedCount());
    EXPECT_TRUE(ctl("insert_enclosure_btn")->IsEnabled());
    CListUI* list = static_cast<CListUI*>(ctl("fileuploaderlist")->GetInterface("List"));
    EXPECT_EQ(0, list->GetItemIndex(dlg->findRow("a-old.txt")));
    EXPECT_EQ(1, list->GetItemIndex(dlg->findRow("big.bin")));
    EXPECT_EQ(2, list->GetItemIndex(dlg->findRow("small.txt")));
  });
  EXPECT_TRUE(disk.isComplete(kAlice, "big.bin"));
  EXPECT_TRUE(disk.isComplete(kAlice, "small.txt"));
}

TEST_F(UploaderDialogTest, AnUploadWhoseNameTheListShowsGetsNoSecondRow) {
  disk.putFile(kAlice, "Report.PDF", std::string(2000, 'r'));
  home.write("REPORT.PDF", 100);
  disk.holdUploads(true);  // the upload's later reports would refresh the row under that name
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 1; }));
  choose({"REPORT.PDF"});
  ASSERT_TRUE(w32subst::waitUntil([] { return !pwsys::messageBoxes().empty(); }, 10000));
  std::vector<pwsys::MessageBoxShown> boxes = pwsys::messageBoxes();
  EXPECT_EQ("上传列表已存在要添加上传的文件", boxes[0].text);
  EXPECT_EQ("Postwing", boxes[0].caption);
  EXPECT_EQ(hwnd, boxes[0].owner);
  ui.run([this] {
    EXPECT_EQ(1, rowCount());
    EXPECT_EQ("Report.PDF", cell("report.pdf", "fui_filename")->GetText().str());
  });
}

TEST_F(UploaderDialogTest, ErrorCodesShowTheirTexts) {
  open();
  // A chosen file that cannot be read.
  pwsys::OpenFileAnswer answer;
  answer.folder = home.path();
  answer.names = {"missing.bin"};
  pwsys::setOpenFileAnswer(answer);
  click("upload_file_btn");
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "本地文件访问出错"; }));
  ui.run([this] {
    CLabelUI* info = static_cast<CLabelUI*>(ctl("information_label")->GetInterface("Label"));
    EXPECT_EQ(0xFFCC0000u, info->GetTextColor());
    EXPECT_EQ("本地文件访问出错", info->GetToolTip().str());
    EXPECT_EQ(nullptr, dlg->findRow("missing.bin"));
  });

  const struct {
    int code;
    const char* text;
  } cases[] = {{1, "上传任务已经存在"}, {2, "没有匹配的任务"}, {3, "文件尺寸太大"}, {4, "文件已经发生变化"},
               {5, "本地文件访问出错"}, {6, "空间尺寸限制"}, {7, "服务器创建文件失败"}, {8, "upblock返回失败"},
               {9, "服务器合并文件失败"}, {11, "删除文件失败"}, {12, "其他未知错误"}, {13, ""}};
  for (const auto& c : cases) {
    PostMessageA(hwnd, WM_PW_UPLOADEVENT, c.code, 0);
    ui.waitIdle();
    EXPECT_EQ(c.text, text("information_label")) << c.code;
  }
}

TEST_F(UploaderDialogTest, FailedListingOffersToLoadAgain) {
  disk.putFile(kAlice, "b.txt", std::string(900, 'b'));
  disk.failNext(FakeNetDiskServer::LISTING, 500);
  open();
  ui.run([this] {
    EXPECT_TRUE(ctl("ErrorLayout")->IsVisible());
    EXPECT_FALSE(ctl("Waiting")->IsVisible());
    EXPECT_EQ(0, rowCount());
    A::Click(ctl("btn_reupdate"));
    EXPECT_FALSE(ctl("ErrorLayout")->IsVisible());
  });
  ASSERT_TRUE(waitUi([this] { return rowCount() == 1 && !ctl("Waiting")->IsVisible(); }));
}

TEST_F(UploaderDialogTest, InsertSendsTheLinksThroughTheLocalServerAndTheClipboard) {
  startBridge();
  BridgePeer peer(PW_PostwingServer::instance()->listenPort());
  ASSERT_TRUE(peer.askAttach("4242"));
  ASSERT_TRUE(w32subst::waitUntil([] { return PW_PostwingServer::instance()->pendingAttachHandle() == "4242"; }));

  disk.putFile(kAlice, "Report.PDF", std::string(2000, 'r'));
  disk.putFile(kAlice, "b.txt", std::string(900, 'b'));
  disk.putFile(kAlice, "c.txt", std::string(10, 'c'));
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 3; }));
  ui.run([this] {
    A::Check(cell("Report.PDF", "fui_check"), true);
    A::Check(cell("b.txt", "fui_check"), true);
    A::Click(ctl("insert_enclosure_btn"));
    EXPECT_FALSE(ctl("insert_enclosure_btn")->IsEnabled());
    EXPECT_EQ("正在插入附件，请稍候", ctl("information_label")->GetText().str());
  });
  ASSERT_TRUE(waitClosed());

  PW_Message reply;
  ASSERT_TRUE(peer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  EXPECT_EQ("4242", reply.getField("handle"));
  std::string html = clipboardHtml();
  EXPECT_EQ(0u, html.find("Version:0.9"));
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "Report.PDF"))) << html;
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "b.txt")));
  EXPECT_EQ(std::string::npos, html.find(disk.linkToken(kAlice, "c.txt")));
  EXPECT_NE(std::string::npos, html.find("Report.PDF&nbsp;&nbsp;(1.95KB)"));
  EXPECT_NE(std::string::npos, html.find("b.txt&nbsp;&nbsp;(900B)"));
  EXPECT_EQ(2, occurrences(html, "<a href"));
}

TEST_F(UploaderDialogTest, AtMostAHundredFilesAreInsertedAtOnce) {
  startBridge();
  BridgePeer peer(PW_PostwingServer::instance()->listenPort());
  ASSERT_TRUE(peer.askAttach("77"));
  ASSERT_TRUE(w32subst::waitUntil([] { return PW_PostwingServer::instance()->pendingAttachHandle() == "77"; }));
  for (int i = 0; i <= 100; ++i) {
    char name[32];
    snprintf(name, sizeof(name), "f%03d.txt", i);
    disk.putFile(kAlice, name, std::string(10, 'x'));
  }
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 101; }));
  click("listheader_checkbtn");
  ASSERT_TRUE(waitUi([this] { return dlg->checkedCount() == 101; }));

  std::string shownText, shownTitle;
  ui.run([&] {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      shownText = A::Find(w, "MessageRedt")->GetText().str();
      shownTitle = A::Find(w, "titallabel")->GetText().str();
      A::Click(A::Find(w, "SureBtn"));
    });
    A::Click(ctl("insert_enclosure_btn"));
  });
  EXPECT_EQ("您选择一次性插入的文件太多，请不要超过100个文件", shownText);
  EXPECT_EQ("插入附件", shownTitle);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ("", text("information_label"));
  EXPECT_TRUE(ui.call([this] { return ctl("insert_enclosure_btn")->IsEnabled(); }));

  // One fewer: all 100 go.
  ui.run([this] {
    A::Check(cell("f050.txt", "fui_check"), false);
    EXPECT_EQ(100, dlg->checkedCount());
    A::Click(ctl("insert_enclosure_btn"));
  });
  ASSERT_TRUE(waitClosed());
  PW_Message reply;
  ASSERT_TRUE(peer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  std::string html = clipboardHtml();
  EXPECT_EQ(100, occurrences(html, "<a href"));
  EXPECT_EQ(std::string::npos, html.find("f050.txt"));
}

TEST_F(UploaderDialogTest, ClosingWhileUploadingAsksThenCancelsTheUploadsAndLeavesTheClient) {
  home.write("big.bin", 2 * kBlock + 1000);
  disk.holdUploads(true);
  open();
  pwsys::OpenFileAnswer answer;
  answer.folder = home.path();
  answer.names = {"big.bin"};
  pwsys::setOpenFileAnswer(answer);
  click("upload_file_btn");
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  ASSERT_TRUE(waitUi([this] { return dlg->findRow("big.bin") && cell("big.bin", "fui_operator")->GetTag() == 1; }));
  EXPECT_EQ("正上传", cellText("big.bin", "fui_status"));

  // Deleting an uploading row is refused.
  std::string refused;
  ui.run([&] {
    A::ScopedModalAnswer box([&](WindowImplBase& w) {
      refused = A::Find(w, "MessageRedt")->GetText().str();
      A::Click(A::Find(w, "SureBtn"));
    });
    A::Click(cell("big.bin", "fui_delete"));
  });
  EXPECT_EQ("文件正在上传中，请暂停后再删除", refused);

  std::string title;
  ui.run([&] {
    A::ScopedModalAnswer box([&](WindowImplBase& w) {
      title = A::Find(w, "titallabel")->GetText().str();
      A::Click(A::Find(w, "CancelBtn"));
    });
    A::Click(ctl("CloseWndBtn"));
  });
  EXPECT_EQ("取消上传", title);
  ui.waitIdle();
  ASSERT_TRUE(IsWindow(hwnd));

  ui.run([&] {
    A::ScopedModalAnswer box([&](WindowImplBase& w) { A::Click(A::Find(w, "SureBtn")); });
    A::Click(ctl("BtnQuit"));
  });
  ASSERT_TRUE(waitClosed());
  ui.run([this] { delete dlg; });
  dlg = nullptr;

  // The upload was cancelled: it is listed as stopped and does not go on after its held block.
  std::vector<UploadTaskStatus> listed = tasks.listUploads();
  ASSERT_EQ(1u, listed.size());
  EXPECT_EQ("big.bin", listed[0].relpath);
  EXPECT_EQ(UploadTaskStatus::STOPPED, listed[0].state);
  disk.holdUploads(false);
  disk.release(10);
  tasks.listUploads();
  EXPECT_FALSE(disk.isComplete(kAlice, "big.bin"));
  // The dialog is no listener any more (a call into it would touch freed memory).
  int lists = tasks.lists();
  EXPECT_GT(client->listFile(), 0);
  EXPECT_TRUE(w32subst::waitUntil([&] { return tasks.lists() > lists; }, 10000));
}

TEST_F(UploaderDialogTest, RowButtonsPauseResumeAndDelete) {
  ASSERT_NO_FATAL_FAILURE(openWithAHeldUpload());
  ui.run([this] {
    auto* op = static_cast<CButtonUI*>(cell("big.bin", "fui_operator")->GetInterface("Button"));
    EXPECT_STREQ("file='..\\images\\pause_normal.png' ", op->GetNormalImage());
    A::Click(op);
    EXPECT_FALSE(op->IsEnabled());  // until the client answers
  });
  ASSERT_TRUE(waitUi([this] { return cell("big.bin", "fui_status")->GetText() == "暂停中"; }));
  EXPECT_EQ(0u, tag("big.bin", "fui_operator"));
  EXPECT_TRUE(enabled("big.bin", "fui_operator"));
  ui.run([this] {
    auto* op = static_cast<CButtonUI*>(cell("big.bin", "fui_operator")->GetInterface("Button"));
    EXPECT_STREQ("file='..\\images\\start_normal.png' ", op->GetNormalImage());
    EXPECT_STREQ("file='..\\images\\start_hot.png' ", op->GetHotImage());
  });
  // A paused row closes without asking... but here it is resumed and let finish.
  disk.holdUploads(false);
  disk.release(10);
  clickCell("big.bin", "fui_operator");
  ASSERT_TRUE(waitUi([this] { return cell("big.bin", "fui_status")->GetText() == "已完成"; }));
  EXPECT_TRUE(disk.isComplete(kAlice, "big.bin"));
  EXPECT_EQ(1, ui.call([this] { return dlg->checkedCount(); }));

  // Deleting asks with the name; a cancel keeps the row, a confirmation deletes it.
  EXPECT_EQ("big.bin删除后将无法恢复，您确定要删除吗？", clickCellAnswering("big.bin", "fui_delete", "CancelBtn"));
  EXPECT_EQ("已完成", cellText("big.bin", "fui_status"));
  clickCellAnswering("big.bin", "fui_delete", "SureBtn");
  ASSERT_TRUE(waitUi([this] { return dlg->findRow("big.bin") == nullptr; }));
  ui.run([this] {
    EXPECT_EQ(0, rowCount());
    EXPECT_EQ(0, dlg->checkedCount());
    EXPECT_FALSE(ctl("insert_enclosure_btn")->IsEnabled());
  });
  EXPECT_FALSE(disk.hasFile(kAlice, "big.bin"));
}

TEST_F(UploaderDialogTest, FailedUploadShowsItsErrorAndItsRowStops) {
  home.write("big.bin", 2 * kBlock + 1000);
  disk.failBlock("big.bin", 0, 500, 10);
  open();
  choose({"big.bin"});
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "upblock返回失败"; }));
  ASSERT_TRUE(waitUi([this] { return cell("big.bin", "fui_status")->GetText() == "暂停中"; }));
  EXPECT_EQ(0u, tag("big.bin", "fui_operator"));
  EXPECT_TRUE(enabled("big.bin", "fui_operator"));  // it can be resumed
  // Nothing uploads any more: closing does not ask.
  bool asked = false;
  ui.run([&] {
    A::ScopedModalAnswer answer([&](WindowImplBase& w) {
      asked = true;
      A::Click(A::Find(w, "CancelBtn"));
    });
    A::Click(ctl("CloseWndBtn"));
  });
  EXPECT_TRUE(waitClosed());
  EXPECT_FALSE(asked);
}

class UploaderOneTaskTest : public UploaderDialogTest {
 protected:
  void configure() override { Config::instance()->setValue("VASTO", "maxTask", "1"); }
};

TEST_F(UploaderOneTaskTest, InsertWhileUploadingAsksPausesAndSendsOnlyTheCheckedFiles) {
  startBridge();
  BridgePeer peer(PW_PostwingServer::instance()->listenPort());
  ASSERT_TRUE(peer.askAttach("9"));
  ASSERT_TRUE(w32subst::waitUntil([] { return PW_PostwingServer::instance()->pendingAttachHandle() == "9"; }));
  disk.putFile(kAlice, "b.txt", std::string(900, 'b'));
  home.write("big.bin", 2 * kBlock + 1000);
  home.write("next.bin", 2 * kBlock + 1000);
  disk.holdUploads(true);
  open();
  choose({"big.bin", "next.bin"});
  ASSERT_TRUE(disk.waitHeld(1, 10000));
  ASSERT_TRUE(waitUi([this] {
    return dlg->findRow("next.bin") && cell("big.bin", "fui_operator")->GetTag() == 1 &&
           cell("next.bin", "fui_operator")->GetTag() == 2;
  }));
  EXPECT_EQ("等待上传", cellText("next.bin", "fui_status"));
  // Uploading and waiting rows are never search hits.
  ui.run([this] {
    A::Focus(ctl("search_edit"));
    A::TypeText(ctl("search_edit"), ".");
    A::Click(ctl("search_btn"));
    EXPECT_TRUE(dlg->findRow("b.txt")->IsVisible());
    EXPECT_FALSE(dlg->findRow("big.bin")->IsVisible());
    EXPECT_FALSE(dlg->findRow("next.bin")->IsVisible());
  });

  // A cancel changes nothing.
  std::string title;
  ui.run([&] {
    A::Check(cell("b.txt", "fui_check"), true);
    A::ScopedModalAnswer box([&](WindowImplBase& w) {
      title = A::Find(w, "titallabel")->GetText().str();
      A::Click(A::Find(w, "CancelBtn"));
    });
    A::Click(ctl("insert_enclosure_btn"));
    EXPECT_TRUE(cell("big.bin", "fui_operator")->IsEnabled());
    EXPECT_EQ("", ctl("information_label")->GetText().str());
  });
  EXPECT_EQ("插入大附件", title);
  ui.run([&] {
    A::ScopedModalAnswer box([&](WindowImplBase& w) { A::Click(A::Find(w, "SureBtn")); });
    A::Click(ctl("insert_enclosure_btn"));
    // Both uploads were asked to pause.
    EXPECT_FALSE(cell("big.bin", "fui_operator")->IsEnabled());
    EXPECT_FALSE(cell("next.bin", "fui_operator")->IsEnabled());
  });
  ASSERT_TRUE(waitClosed());
  PW_Message reply;
  ASSERT_TRUE(peer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  std::string html = clipboardHtml();
  EXPECT_EQ(1, occurrences(html, "<a href"));
  EXPECT_NE(std::string::npos, html.find("b.txt&nbsp;&nbsp;(900B)"));
}

}  // namespace

// ---- links fetched after the listing, failed deletions, the net disk's own page --------------

TEST_F(UploaderDialogTest, InsertNeverPastesAnEmptyLinkAndNamesTheFilesWithout) {
  startBridge();
  BridgePeer peer(PW_PostwingServer::instance()->listenPort());
  ASSERT_TRUE(peer.askAttach("5151"));
  ASSERT_TRUE(w32subst::waitUntil([] { return PW_PostwingServer::instance()->pendingAttachHandle() == "5151"; }));
  // The listing carries no links: the dialog has them fetched, one request per file.
  disk.setListingLinks(false);
  disk.putFile(kAlice, "a.txt", std::string(10, 'a'));
  disk.putFile(kAlice, "b.txt", std::string(20, 'b'));
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 2; }));

  // Not one link: nothing goes to the mail, the window stays and says which file has none.
  disk.failNext(FakeNetDiskServer::DOWNLOAD, 500, 1);
  ui.run([this] {
    A::Check(cell("a.txt", "fui_check"), true);
    A::Click(ctl("insert_enclosure_btn"));
  });
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "以下文件没有取得下载链接：a.txt"; }));
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ("5151", PW_PostwingServer::instance()->pendingAttachHandle());
  EXPECT_TRUE(ui.call([this] { return ctl("insert_enclosure_btn")->IsEnabled(); }));

  // One of two: the other is inserted, the one without is named, the window stays.
  disk.failNext(FakeNetDiskServer::DOWNLOAD, 500, 1);
  int downloads = disk.count(FakeNetDiskServer::DOWNLOAD);
  ui.run([this] {
    A::Check(cell("b.txt", "fui_check"), true);
    A::Click(ctl("insert_enclosure_btn"));
  });
  PW_Message reply;
  ASSERT_TRUE(peer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "以下文件没有取得下载链接：a.txt"; }));
  EXPECT_EQ(downloads + 2, disk.count(FakeNetDiskServer::DOWNLOAD));
  std::string html = clipboardHtml();
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "b.txt"))) << html;
  EXPECT_EQ(std::string::npos, html.find("href=\"\"")) << html;
  EXPECT_EQ(std::string::npos, html.find("a.txt")) << html;
  EXPECT_EQ(1, occurrences(html, "<a href"));
  EXPECT_TRUE(IsWindow(hwnd));

  // The link that went is not sent again: its row is unchecked, and a second Insert sends only
  // the file left, then the window closes.
  auto checked = [this](const char* name) {
    return ui.call([this, name] {
      return static_cast<CCheckBoxUI*>(cell(name, "fui_check")->GetInterface("CheckBox"))->GetCheck();
    });
  };
  EXPECT_FALSE(checked("b.txt"));
  EXPECT_TRUE(checked("a.txt"));
  EXPECT_TRUE(ui.call([this] { return ctl("insert_enclosure_btn")->IsEnabled(); }));
  ui.run([this] { A::Click(ctl("insert_enclosure_btn")); });
  ASSERT_TRUE(peer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  ASSERT_TRUE(waitClosed());
  html = clipboardHtml();
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "a.txt"))) << html;
  EXPECT_EQ(std::string::npos, html.find(disk.linkToken(kAlice, "b.txt"))) << html;
  EXPECT_EQ(1, occurrences(html, "<a href"));
}

TEST_F(UploaderDialogTest, FailedDeletionGivesTheRowBackWithItsButtons) {
  disk.putFile(kAlice, "keep.txt", std::string(30, 'k'));
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 1; }));
  EXPECT_EQ("已完成", cellText("keep.txt", "fui_status"));
  disk.failNext(FakeNetDiskServer::REMOVE, 500, 1);
  clickCellAnswering("keep.txt", "fui_delete", "SureBtn");
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "删除文件失败"; }));
  ASSERT_TRUE(waitUi([this] { return cell("keep.txt", "fui_status")->GetText() == "已完成"; }));
  EXPECT_EQ(1u, tag("keep.txt", "fui_status"));
  EXPECT_TRUE(ui.call([this] { return cell("keep.txt", "fui_delete")->IsVisible(); }));
  EXPECT_TRUE(ui.call([this] { return cell("keep.txt", "fui_operator")->IsVisible(); }));
  EXPECT_TRUE(disk.hasFile(kAlice, "keep.txt"));
  // Tried again, it goes.
  clickCellAnswering("keep.txt", "fui_delete", "SureBtn");
  ASSERT_TRUE(waitUi([this] { return dlg->findRow("keep.txt") == nullptr; }));
  EXPECT_FALSE(disk.hasFile(kAlice, "keep.txt"));
}

TEST_F(UploaderDialogTest, ClickingTheNetDiskLinkOpensItWithTheShell) {
  open();
  w32subst::clearShellExecuteCalls();
  const std::string address = "http://" + disk.hostPort() + "/space/";
  EXPECT_NE(std::string::npos, text("netdisk_link_edit").find(address));
  EXPECT_TRUE(ui.call([this] { return A::ClickLink(ctl("netdisk_link_edit"), 0); }));
  std::vector<w32subst::ShellExecuteCall> calls = w32subst::shellExecuteCalls();
  ASSERT_EQ(1u, calls.size());  // the button-up opens it, the button-down does not
  EXPECT_EQ("open", calls[0].verb);
  EXPECT_EQ(address, calls[0].file);
  EXPECT_EQ(SW_SHOW, calls[0].showCmd);
  EXPECT_FALSE(ui.call([this] { return A::ClickLink(ctl("netdisk_link_edit"), 1); }));  // no second link
}

// An upload whose file changed length while it was stopped starts again: its row's progress
// goes back to the start (here the new create is refused, so the row stays there).
TEST_F(UploaderDialogTest, ResumedUploadOfAChangedFileShowsItsProgressBackAtTheStart) {
  home.write("big.bin", 2 * kBlock + 1000);
  disk.failBlock("big.bin", 1, 404);
  open();
  choose({"big.bin"});
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "upblock返回失败"; }));
  ASSERT_TRUE(waitUi([this] { return cell("big.bin", "fui_status")->GetText() == "暂停中"; }));
  EXPECT_NE("0.00M/1.00M", cellText("big.bin", "fui_filesize"));
  // Seven bytes longer, a later modification time.
  const std::string path = home.path() + "/big.bin";
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out.write("changed", 7);
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 100;
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  disk.failNext(FakeNetDiskServer::CREATE, 500, 1);
  clickCell("big.bin", "fui_operator");
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "服务器创建文件失败"; }));
  ASSERT_TRUE(waitUi([this] { return cell("big.bin", "fui_status")->GetText() == "暂停中"; }));
  EXPECT_EQ("0.00M/1.00M", cellText("big.bin", "fui_filesize"));
  EXPECT_EQ(0, ui.call([this] { return static_cast<CProgressUI*>(cell("big.bin", "fui_slider")->GetInterface("Progress"))->GetValue(); }));
}

// Insert when the links cannot reach a compose window: nothing went into a mail, so the window
// stays with its rows checked and says why (and names a checked file that got no link); once a
// compose window waits, Insert sends them.
struct NoMailWindowCase {
  const char* what;
  enum { NOBODY_ASKED, WINDOW_CLOSED, CONNECTION_GONE, CLIPBOARD_REFUSED } before;
  const char* message;
  bool aWithoutLink = false;  // the link of a.txt is refused at the first Insert
};

void PrintTo(const NoMailWindowCase& c, std::ostream* os) { *os << c.what; }

class UploaderNoMailWindowTest : public UploaderDialogTest, public ::testing::WithParamInterface<NoMailWindowCase> {};

TEST_P(UploaderNoMailWindowTest, InsertKeepsTheWindowAndItsCheckedRowsUntilAComposeWindowWaits) {
  const NoMailWindowCase& c = GetParam();
  startBridge();
  PW_PostwingServer* server = PW_PostwingServer::instance();
  std::unique_ptr<BridgePeer> asker;
  if (c.before != NoMailWindowCase::NOBODY_ASKED) {
    asker.reset(new BridgePeer(server->listenPort()));
    ASSERT_TRUE(asker->askAttach("31"));
    ASSERT_TRUE(w32subst::waitUntil([&] { return server->pendingAttachHandle() == "31"; }));
  }
  disk.putFile(kAlice, "a.txt", std::string(10, 'a'));
  disk.putFile(kAlice, "b.txt", std::string(20, 'b'));
  disk.putFile(kAlice, "c.txt", std::string(30, 'c'));
  if (c.aWithoutLink) disk.setListingLinks(false);  // links are fetched, one request per file
  open();
  ASSERT_TRUE(waitUi([this] { return rowCount() == 3; }));
  ui.run([this] {
    A::Check(cell("a.txt", "fui_check"), true);
    A::Check(cell("b.txt", "fui_check"), true);
  });
  if (c.before == NoMailWindowCase::WINDOW_CLOSED) {
    ASSERT_TRUE(asker->tell("mailWindowsClosed", "31"));
    ASSERT_TRUE(w32subst::waitUntil([&] { return server->pendingAttachHandle().empty(); }));
  } else if (c.before == NoMailWindowCase::CONNECTION_GONE) {
    asker.reset();
    ASSERT_TRUE(w32subst::waitUntil([&] { return server->pendingAttachHandle().empty(); }));
  } else if (c.before == NoMailWindowCase::CLIPBOARD_REFUSED) {
    w32subst::failNextClipboard(w32subst::ClipboardFault::Open);
  }
  if (c.aWithoutLink) disk.failNext(FakeNetDiskServer::DOWNLOAD, 500, 1);

  click("insert_enclosure_btn");
  ASSERT_TRUE(waitUi([&] { return !IsWindow(hwnd) || ctl("information_label")->GetText() == c.message; }));
  ASSERT_TRUE(IsWindow(hwnd)) << "links that went nowhere closed the window";
  ui.run([this] {
    EXPECT_EQ(0xFFCC0000u, static_cast<CLabelUI*>(ctl("information_label")->GetInterface("Label"))->GetTextColor());
    for (const char* name : {"a.txt", "b.txt"})
      EXPECT_TRUE(static_cast<CCheckBoxUI*>(cell(name, "fui_check")->GetInterface("CheckBox"))->GetCheck()) << name;
    EXPECT_EQ(2, dlg->checkedCount());
    EXPECT_TRUE(ctl("insert_enclosure_btn")->IsEnabled());
  });
  EXPECT_EQ(std::string::npos, clipboardHtml().find("<a href"));

  // A compose window waits: the same Insert sends both links to it and the window closes.
  BridgePeer composer(server->listenPort());
  ASSERT_TRUE(composer.askAttach("32"));
  ASSERT_TRUE(w32subst::waitUntil([&] { return server->pendingAttachHandle() == "32"; }));
  click("insert_enclosure_btn");
  ASSERT_TRUE(waitClosed());
  PW_Message reply;
  ASSERT_TRUE(composer.readUnit(reply));
  EXPECT_EQ("setAttachment", reply.getCommand());
  EXPECT_EQ("32", reply.getField("handle"));
  std::string html = clipboardHtml();
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "a.txt"))) << html;
  EXPECT_NE(std::string::npos, html.find(disk.linkToken(kAlice, "b.txt"))) << html;
  EXPECT_EQ(2, occurrences(html, "<a href"));
}

const char* const kNoMailWindow = "没有等待插入附件的写信窗口，请打开写信窗口后再次插入";
const char* const kNoMailWindowNoLink =
    "没有等待插入附件的写信窗口，请打开写信窗口后再次插入；以下文件没有取得下载链接：a.txt";

INSTANTIATE_TEST_SUITE_P(
    Insert, UploaderNoMailWindowTest,
    ::testing::Values(NoMailWindowCase{"OpenedFromTheTray", NoMailWindowCase::NOBODY_ASKED, kNoMailWindow},
                      NoMailWindowCase{"AskingWindowClosed", NoMailWindowCase::WINDOW_CLOSED, kNoMailWindow},
                      NoMailWindowCase{"AskingConnectionGone", NoMailWindowCase::CONNECTION_GONE, kNoMailWindow},
                      NoMailWindowCase{"ClipboardRefused", NoMailWindowCase::CLIPBOARD_REFUSED,
                                       "附件链接未能送达写信窗口，请再次插入"},
                      NoMailWindowCase{"OpenedFromTheTrayOneWithoutLink", NoMailWindowCase::NOBODY_ASKED,
                                       kNoMailWindowNoLink, true},
                      NoMailWindowCase{"ClipboardRefusedOneWithoutLink", NoMailWindowCase::CLIPBOARD_REFUSED,
                                       "附件链接未能送达写信窗口，请再次插入；以下文件没有取得下载链接：a.txt", true}),
    [](const ::testing::TestParamInfo<NoMailWindowCase>& info) { return std::string(info.param.what); });

// What a stop reported with an error shows: a file list that did not load (code 10) shows the
// banner that offers to load it again; an upload's stop says why in the information line. The
// listener is fed directly, as the engine thread would, for an upload row that is uploading.
struct StopCase {
  const char* what;
  bool listing;        // onListFile(..., code), else onUploadStatus(stopped, code) for the row
  int code;
  bool banner;         // ErrorLayout shown
  const char* info;    // the information line
  const char* status;  // the row's status
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.what; }

class UploaderStopTest : public UploaderDialogTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(UploaderStopTest, AStopShowsWhatStoppedIt) {
  const StopCase& c = GetParam();
  open();
  ASSERT_TRUE(waitUi([this] { return ctl("information_label")->GetText() == "文件列表为空"; }));
  UploadTaskStatus task;
  task.relpath = "big.bin";
  task.fileLength = 2 * kBlock;
  task.transferred = kBlock;
  task.state = UploadTaskStatus::UPLOADING;
  dlg->onAddUploadTask(task, 0);
  ASSERT_TRUE(waitUi([this] { return dlg->findRow("big.bin") && cell("big.bin", "fui_operator")->GetTag() == 1; }));

  task.state = UploadTaskStatus::STOPPED;
  if (c.listing)
    dlg->onListFile(std::vector<NetDiskFileItem>(), c.code);
  else
    dlg->onUploadStatus(task, c.code);
  ui.waitIdle();
  ui.run([&] {
    EXPECT_EQ(c.banner, ctl("ErrorLayout")->IsVisible());
    EXPECT_FALSE(ctl("Waiting")->IsVisible());
    EXPECT_TRUE(ctl("fileuploaderlist")->IsVisible());
    EXPECT_TRUE(dlg->findRow("big.bin")->IsVisible());
    CLabelUI* info = static_cast<CLabelUI*>(ctl("information_label")->GetInterface("Label"));
    EXPECT_EQ(c.info, info->GetText().str());
    EXPECT_EQ(c.info, info->GetToolTip().str());
    if (*c.info != '\0') {
      EXPECT_EQ(0xFFCC0000u, info->GetTextColor());
    }
    EXPECT_EQ(c.status, cell("big.bin", "fui_status")->GetText().str());
    if (c.listing) return;
    // Stopped: Start is offered.
    CButtonUI* op = static_cast<CButtonUI*>(cell("big.bin", "fui_operator")->GetInterface("Button"));
    EXPECT_EQ(0u, op->GetTag());
    EXPECT_TRUE(op->IsEnabled());
    EXPECT_STREQ("file='..\\images\\start_normal.png' ", op->GetNormalImage());
  });
}

INSTANTIATE_TEST_SUITE_P(
    Upload, UploaderStopTest,
    ::testing::Values(StopCase{"ListingFailed", true, 10, true, "", "正上传"},
                      StopCase{"FileChanged", false, 4, false, "文件已经发生变化", "暂停中"},
                      StopCase{"FileUnreadable", false, 5, false, "本地文件访问出错", "暂停中"},
                      StopCase{"CreateFailed", false, 7, false, "服务器创建文件失败", "暂停中"},
                      StopCase{"BlockFailed", false, 8, false, "upblock返回失败", "暂停中"},
                      StopCase{"MergeFailed", false, 9, false, "服务器合并文件失败", "暂停中"}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.what); });


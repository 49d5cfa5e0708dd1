// The software update dialog against an update web server on 127.0.0.1: a newer version offers
// the installer and downloads it; the same version says so; a server error says the check
// failed; a path that exists asks again; a dialog closed during a download is left alone by the
// job. Version comparison and the progress texts as tables.
#include "AppTestSupport.h"
#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "app/SoftUpdateDialog.h"
#include "jobs/LongTimeTask.h"
#include "testing/LoopbackHttpServer.h"
#include "ui/HintDialog.h"
#include "util/Config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

namespace A = DuiLib::Automation;
using pwtest::HttpReply;
using pwtest::HttpRequestRecord;

namespace {

std::string payload(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = (char)(i * 7 + i / 251);
  return s;
}

class UpdateDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, LongTimeTask::instance()->open());
    server.setHandler([this](const HttpRequestRecord& r) -> HttpReply {
      if (r.path == "/update/Postwing.ver") return HttpReply(versionStatus, versionText, "text/plain");
      if (r.path == "/update/PostwingSetup.exe") {
        HttpReply reply(200, installer, "application/octet-stream");
        reply.chunkSize = chunkSize;
        reply.pauseMs = pauseMs;
        return reply;
      }
      return HttpReply(404, "no such file");
    });
    Config* c = Config::instance();
    c->setValue("InstallerUpdate", "webdomain", "127.0.0.1");
    c->setValue("InstallerUpdate", "webport", std::to_string(server.port()));
    c->setValue("InstallerUpdate", "installerpath", "/update/");
    c->setValue("InstallerUpdate", "installername", "PostwingSetup.exe");
    c->setValue("InstallerUpdate", "serverversionname", "Postwing.ver");
    c->setValue("InstallerUpdate", "localversion", "1.2.3");
    dir = apptest::freshDir("update");
    pwapp::setSaveFileDriver(nullptr);
  }
  void TearDown() override {
    pwapp::setSaveFileDriver(nullptr);
    server.stop();
    // Every job of the test has ended before the next one starts.
    EXPECT_TRUE(w32subst::waitUntil([] { return LongTimeTask::instance()->runningCount() == 0; }, 20000));
  }

  // Runs the dialog as the main window does; `answer` acts in each modal loop of this thread.
  UINT runDialog(const std::function<void(DuiLib::WindowImplBase&)>& answer, CSoftUpdateDialog* object = nullptr) {
    Sptr<CSoftUpdateDialog> dlg(object ? object : new CSoftUpdateDialog);
    EXPECT_TRUE(dlg->Create(nullptr, "Postwing", PW_APP_DIALOG_STYLE, 0, 0, 0, 0, 0) != nullptr);
    dlg->setSelfReference(dlg);
    dlg->CenterWindow();
    A::ScopedModalAnswer scoped(answer);
    UINT r = dlg->ShowModal();
    dlg = Sptr<CSoftUpdateDialog>();
    return r;
  }

  static bool checked(CSoftUpdateDialog* d) {
    return apptest::pumpUntil([d] { return d->updateState() != CSoftUpdateDialog::STATE_CHECKING; });
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (auto& r : server.requests()) out.push_back(r.method + " " + r.path);
    return out;
  }

  pwtest::LoopbackHttpServer server;
  std::string versionText = "1.2.4\r\n";
  int versionStatus = 200;
  std::string installer = payload(200000);
  size_t chunkSize = 4096;
  int pauseMs = 0;
  std::string dir;
};

TEST_F(UpdateDialogTest, ANewerVersionIsOfferedAndItsInstallerDownloaded) {
  versionText = "1.2.10\n";  // numbers, not text: 10 > 3; the line end is ignored
  std::string saved = dir + "/setup.exe";
  pwapp::setSaveFileDriver([&](pwapp::OPENFILENAMEA& ofn) {
    EXPECT_STREQ("PostwingSetup.exe", ofn.lpstrFile) << "the proposed name";
    EXPECT_EQ(1u, ofn.nFilterIndex);
    std::snprintf(ofn.lpstrFile, ofn.nMaxFile, "%s", saved.c_str());
    return true;
  });
  std::vector<int> states;
  UINT result = runDialog([&](DuiLib::WindowImplBase& w) {
    auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
    ASSERT_TRUE(d);
    EXPECT_EQ("本地版本：V1.2.3", apptest::textOf(w, "lbl_versioninfo")) << "checking state first";
    ASSERT_TRUE(checked(d));
    EXPECT_EQ(CSoftUpdateDialog::STATE_NEW_VERSION, d->updateState());
    EXPECT_EQ("检测到新版本", apptest::textOf(w, "lbl_info1"));
    EXPECT_EQ("检测到新版本：V1.2.10\n", apptest::textOf(w, "lbl_versioninfo"));
    EXPECT_TRUE(A::Find(w, "UpdateBtn")->IsVisible());
    EXPECT_FALSE(A::Find(w, "btn_webpage")->IsVisible());

    A::Click(A::Find(w, "UpdateBtn"));
    EXPECT_EQ(CSoftUpdateDialog::STATE_DOWNLOADING, d->updateState());
    EXPECT_FALSE(A::Find(w, "UpdateBtn")->IsEnabled());
    EXPECT_TRUE(A::Find(w, "pro_updating")->IsVisible());
    ASSERT_TRUE(apptest::pumpUntil([&] {
      if (states.empty() || states.back() != d->updateState()) states.push_back(d->updateState());
      return d->updateState() == CSoftUpdateDialog::STATE_FINISHED || d->updateState() == CSoftUpdateDialog::STATE_FAILED;
    }));
    EXPECT_EQ(CSoftUpdateDialog::STATE_FINISHED, d->updateState());
    EXPECT_EQ("下载完成", apptest::textOf(w, "lbl_info1"));
    EXPECT_EQ("100%", apptest::textOf(w, "lbl_info5"));
    EXPECT_EQ(CSoftUpdateDialog::FINISHED_TAG, A::Find(w, "UpdateBtn")->GetTag());
    EXPECT_TRUE(A::Find(w, "UpdateBtn")->IsEnabled());
    // Now the main button closes the dialog instead of downloading again.
    A::Click(A::Find(w, "UpdateBtn"));
  });
  EXPECT_EQ(1u, result);
  EXPECT_EQ(installer, apptest::readFile(saved));
  EXPECT_EQ((std::vector<std::string>{"GET /update/Postwing.ver", "GET /update/PostwingSetup.exe"}), paths());
}

TEST_F(UpdateDialogTest, TheSameVersionSaysUpToDateAndFetchesNothingElse) {
  versionText = "1.2.3";
  runDialog([&](DuiLib::WindowImplBase& w) {
    auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
    ASSERT_TRUE(checked(d));
    EXPECT_EQ(CSoftUpdateDialog::STATE_UP_TO_DATE, d->updateState());
    EXPECT_EQ("您使用的是最新版本的Postwing。", apptest::textOf(w, "lbl_info1"));
    EXPECT_EQ("当前已是最新版本：V1.2.3", apptest::textOf(w, "lbl_versioninfo"));
    EXPECT_FALSE(A::Find(w, "UpdateBtn")->IsVisible());
    EXPECT_TRUE(A::Find(w, "btn_webpage")->IsVisible());

    // The progress texts, on the live window.
    d->setUpdateState(CSoftUpdateDialog::STATE_PROGRESS, 1048576, 3145728);
    EXPECT_EQ("1.00M/3.00M", apptest::textOf(w, "lbl_info4"));
    EXPECT_EQ("33%", apptest::textOf(w, "lbl_info5"));
    auto* progress = static_cast<DuiLib::CProgressUI*>(A::Find(w, "pro_updating")->GetInterface("Progress"));
    EXPECT_EQ(33, progress->GetValue());
    d->setUpdateState(99);  // unknown: nothing changes
    EXPECT_EQ(CSoftUpdateDialog::STATE_PROGRESS, d->updateState());
    A::Click(A::Find(w, "FinishBtn"));
  });
  EXPECT_EQ((std::vector<std::string>{"GET /update/Postwing.ver"}), paths());
}

TEST_F(UpdateDialogTest, AServerErrorSaysTheCheckFailedEvenWithAnOldNewerVersionFileAround) {
  // A version file left by an earlier check names a newer version; this check fails.
  apptest::writeFile(std::string(getenv("APPDATA")) + "/Postwing.ver", "9.9.9");
  for (int status : {500, 404}) {
    versionStatus = status;
    runDialog([&](DuiLib::WindowImplBase& w) {
      auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
      ASSERT_TRUE(checked(d));
      EXPECT_EQ(CSoftUpdateDialog::STATE_CHECK_FAILED, d->updateState()) << status;
      EXPECT_EQ("检查新版本失败，请稍后重试。", apptest::textOf(w, "lbl_info1"));
      EXPECT_FALSE(A::Find(w, "UpdateBtn")->IsVisible());
      A::Click(A::Find(w, "CloseWndBtn"));
    });
  }
  // No server at all.
  server.stop();
  runDialog([&](DuiLib::WindowImplBase& w) {
    auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
    ASSERT_TRUE(checked(d));
    EXPECT_EQ(CSoftUpdateDialog::STATE_CHECK_FAILED, d->updateState());
    A::Click(A::Find(w, "BtnQuit"));
  });
}

TEST_F(UpdateDialogTest, AnExistingPathAsksAgainAndCancellingDownloadsNothing) {
  std::string existing = dir + "/old.exe";
  apptest::writeFile(existing, "old");
  int asked = 0;
  pwapp::setSaveFileDriver([&](pwapp::OPENFILENAMEA& ofn) {
    if (++asked > 1) return false;  // the second time the user cancels
    std::snprintf(ofn.lpstrFile, ofn.nMaxFile, "%s", existing.c_str());
    return true;
  });
  std::string boxMessage, boxTitle;
  runDialog([&](DuiLib::WindowImplBase& w) {
    if (dynamic_cast<CHintDialog*>(&w)) {
      boxMessage = apptest::textOf(w, "MessageRedt");
      boxTitle = apptest::textOf(w, "titallabel");
      EXPECT_FALSE(A::Find(w, "CancelBtn")->IsVisible());
      A::Click(A::Find(w, "SureBtn"));
      return;
    }
    auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
    ASSERT_TRUE(checked(d));
    ASSERT_EQ(CSoftUpdateDialog::STATE_NEW_VERSION, d->updateState());
    A::Click(A::Find(w, "UpdateBtn"));
    EXPECT_EQ(CSoftUpdateDialog::STATE_NEW_VERSION, d->updateState()) << "cancelled: still offering";
    A::Click(A::Find(w, "CloseWndBtn"));
  });
  EXPECT_EQ(2, asked);
  EXPECT_EQ("该路径下已存在同名文件，请更换文件名重试", boxMessage);
  EXPECT_EQ("选择下载文件名及路径", boxTitle);
  EXPECT_EQ("old", apptest::readFile(existing));
  EXPECT_EQ((std::vector<std::string>{"GET /update/Postwing.ver"}), paths());
}

// Notes its end, so that the test sees when the last reference went.
struct ProbeDialog : CSoftUpdateDialog {
  std::atomic<bool>* gone;
  explicit ProbeDialog(std::atomic<bool>* g) : gone(g) {}
  ~ProbeDialog() override { *gone = true; }
};

TEST_F(UpdateDialogTest, ADialogClosedDuringADownloadIsLeftAloneAndFreedWhenTheJobEnds) {
  pauseMs = 3;  // about 50 chunks of 4 KiB, 3 ms apart
  std::string saved = dir + "/slow.exe";
  pwapp::setSaveFileDriver([&](pwapp::OPENFILENAMEA& ofn) {
    std::snprintf(ofn.lpstrFile, ofn.nMaxFile, "%s", saved.c_str());
    return true;
  });
  std::atomic<bool> gone{false};
  runDialog(
      [&](DuiLib::WindowImplBase& w) {
        auto* d = dynamic_cast<CSoftUpdateDialog*>(&w);
        ASSERT_TRUE(checked(d));
        A::Click(A::Find(w, "UpdateBtn"));
        ASSERT_TRUE(server.waitForRequests(2, 10000));
        A::Click(A::Find(w, "CloseWndBtn"));
      },
      new ProbeDialog(&gone));
  EXPECT_FALSE(gone.load()) << "the running job still holds the dialog";
  EXPECT_TRUE(w32subst::waitUntil([&] { return gone.load(); }, 20000));
  EXPECT_EQ(installer, apptest::readFile(saved)) << "the download went on to its end";
  // The job ended before it let the dialog go, so whatever it posted is queued already: handled
  // here, it reaches no window.
  DuiLib::Automation::Pump();
}

TEST(SoftUpdateVersions, ComparisonTable) {
  struct Case {
    const char* server;
    const char* local;
    bool update;
  } cases[] = {
      {"1.2.10", "1.2.3", true},  {"1.2.9", "1.3.0", false}, {"1.2.1", "1.2", false},
      {"1.2.4\r\n", "1.2.3", true}, {"1.2.3", "1.2.3", false}, {"2.0.0", "1.9.9", true},
      {"1..2.4", "1.2.3", true},   {"", "1.2.3", false},       {"1.2.3.4", "1.2.3", false},
      {"a.b.c", "1.2.3", false},   {"1.2.3", "a.b.c", true},   {"0.0.1", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.update, CSoftUpdateDialog::compareVersion(c.server, c.local)) << c.server << " vs " << c.local;
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), CSoftUpdateDialog::splitByDelimiter("..1..2.", '.'));
  EXPECT_TRUE(CSoftUpdateDialog::splitByDelimiter("", '.').empty());
  EXPECT_EQ(33, CSoftUpdateDialog::percentOf(1048576, 3145728));
  EXPECT_EQ(50, CSoftUpdateDialog::percentOf(5000000000000LL, 10000000000000LL));
  EXPECT_EQ(99, CSoftUpdateDialog::percentOf(9223372036854775806LL, 9223372036854775807LL));
  EXPECT_EQ(0, CSoftUpdateDialog::percentOf(5, 0));
  EXPECT_EQ(100, CSoftUpdateDialog::percentOf(7, 7));
}

}  // namespace

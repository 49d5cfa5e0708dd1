// The program as a whole: the single-instance guard of the entry, the title without a
// configuration, and the real PostwingUI binary started, showing its login window and ending
// cleanly on --exit-after-start, SIGTERM and SIGINT, with a second copy ending at once.
#include "AppTestSupport.h"
#include "app/LoginDialog.h"
#include "app/PostwingMain.h"
#include "util/Config.h"
#include "testing/ChildProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

// A program folder: pwu.conf (given text, or none) and the source tree's skins.
std::string programFolder(const std::string& name, const char* conf) {
  std::string dir = apptest::freshDir(name);
  if (conf) apptest::writeFile(dir + "/pwu.conf", conf);
  std::string skin = std::string(PW_SOURCE_DIR) + "skin";
  EXPECT_EQ(0, symlink(skin.c_str(), (dir + "/skin").c_str()));
  return dir;
}

const char* const kQuietConf =
    "[COMMON]\nappName = Postwing Test\nlistenPort = 0\n[SSO]\nserver =\n[XCAP]\nserver =\n";

TEST(ProgramEntry, ASecondRunEndsAtOnceAndLeavesTheFirstAlone) {
  std::string dir = programFolder("entry", kQuietConf);
  PostwingStartup startup;
  startup.programPath = dir + "/PostwingUI";
  int firstResult = -1;
  std::thread first([&] { firstResult = PostwingWinMain(nullptr, startup); });
  ASSERT_TRUE(w32subst::waitUntil([] { return CLoginDialog::mainWindowHandle() != nullptr; }, 10000));
  HWND main = CLoginDialog::mainWindowHandle();
  char title[64] = {0};
  GetWindowTextA(main, title, sizeof(title));
  EXPECT_STREQ("Postwing Test", title) << "COMMON/appName";
  // The window exists before its tray icon is added: count once the icon is there.
  auto hasIcon = [main] {
    for (const auto& icon : w32subst::notifyIcons())
      if (icon.hWnd == main) return true;
    return false;
  };
  ASSERT_TRUE(w32subst::waitUntil(hasIcon, 10000));
  size_t icons = w32subst::notifyIcons().size();

  EXPECT_EQ(0, PostwingWinMain(nullptr, startup));
  EXPECT_EQ(main, CLoginDialog::mainWindowHandle());
  EXPECT_EQ(icons, w32subst::notifyIcons().size()) << "no second tray icon";

  PostMessageA(main, WM_CLOSE, 0, 0);
  first.join();
  EXPECT_EQ(0, firstResult);
  EXPECT_EQ(nullptr, CLoginDialog::mainWindow());
  EXPECT_EQ(icons - 1, w32subst::notifyIcons().size());
}

TEST(ProgramEntry, WithoutAConfigurationTheTitleIsTheProductNameAndLoginFails) {
  std::string dir = programFolder("noconf", nullptr);
  PostwingStartup startup;
  startup.programPath = dir + "/PostwingUI";
  int result = -1;
  std::thread run([&] { result = PostwingWinMain(nullptr, startup); });
  ASSERT_TRUE(w32subst::waitUntil([] { return CLoginDialog::mainWindowHandle() != nullptr; }, 10000));
  HWND main = CLoginDialog::mainWindowHandle();
  char title[64] = {0};
  GetWindowTextA(main, title, sizeof(title));
  EXPECT_STREQ("Postwing", title);
  EXPECT_EQ("<none>", Config::instance()->getStrValue("SSO", "server", "<none>")) << "the configuration is empty";
  // The window's thread runs the login; its box is answered by this thread.
  DWORD tid = GetWindowThreadProcessId(main, nullptr);
  apptest::postWork(tid, [] {
    CLoginDialog* w = CLoginDialog::mainWindow();
    DuiLib::Automation::TypeText(DuiLib::Automation::Find(*w, "InputUseridEdt"), "carol@corp.example");
    DuiLib::Automation::TypeText(DuiLib::Automation::Find(*w, "InputPasswordEdt"), "pw");
    w->login();
  });
  DuiLib::CWindowWnd* box = nullptr;
  ASSERT_TRUE(w32subst::waitUntil([&] {
    bool shown = false;
    w32subst::runOnThread(tid, [&] {
      box = DuiLib::Automation::FindWindowByClass("CHintDialog");
      auto* w = dynamic_cast<DuiLib::WindowImplBase*>(box);
      shown = w && w->GetPaintManager().IsInitialised();
    });
    return shown;
  }));
  std::string message;
  w32subst::runOnThread(tid, [&] { message = apptest::textOf(*dynamic_cast<DuiLib::WindowImplBase*>(box), "MessageRedt"); });
  EXPECT_EQ("登录失败，请检查用户名称或者密码是否有误！", message);
  box->Close();
  ASSERT_TRUE(w32subst::waitUntil([] { return DuiLib::Automation::FindWindowByClass("CHintDialog") == nullptr; }));
  PostMessageA(main, WM_CLOSE, 0, 0);
  run.join();
  EXPECT_EQ(0, result);
}

TEST(ProgramEntry, WithoutItsTrayIconTheProgramEndsBeforeItsLoopAndTidily) {
  std::string dir = programFolder("notray", kQuietConf);
  PostwingStartup startup;
  startup.programPath = dir + "/PostwingUI";
  size_t icons = w32subst::notifyIcons().size();
  w32subst::failNextNotifyIconAdd();
  int result = -1;
  std::thread run([&] { result = PostwingWinMain(nullptr, startup); });
  run.join();  // returns without a message loop
  EXPECT_EQ(0, result);
  EXPECT_EQ(nullptr, CLoginDialog::mainWindow()) << "the window was destroyed and freed";
  EXPECT_EQ(icons, w32subst::notifyIcons().size());
  EXPECT_EQ(nullptr, DuiLib::Automation::FindWindowByClass("CLoginDialog"));
  // The instance name is free again: a later run starts normally.
  startup.exitAfterStart = true;
  std::thread again([&] { result = PostwingWinMain(nullptr, startup); });
  again.join();
  EXPECT_EQ(0, result);
}

// ---- the real binary ------------------------------------------------------------------------
// The real binary with PW_HOME pointed at `home` (and no PW_EXIT_AFTER_START of this process).
class Process : public pwtest::ChildProcess {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const std::string& home,
          const std::string& logPath)
      : ChildProcess(program, args, {"PW_HOME=" + home}, {"PW_EXIT_AFTER_START"}, logPath) {}
  bool waitLog(const std::string& fragment, int timeoutMs = 20000) const {
    return ChildProcess::waitLog(fragment, timeoutMs);
  }
  int waitExit(int timeoutMs = 20000) { return ChildProcess::waitExit(timeoutMs); }
};

// A copy of the built program in a folder of its own, with the default pwu.conf except for the
// local port (0: any free one, so that nothing else on this machine is disturbed).
std::string installedProgram(const std::string& name) {
  std::string built = PW_POSTWINGUI;
  std::string builtDir = built.substr(0, built.rfind('/'));
  std::string conf = apptest::readFile(builtDir + "/pwu.conf");
  EXPECT_NE(std::string::npos, conf.find("listenPort = 11111")) << "the default configuration is beside the program";
  EXPECT_TRUE(std::ifstream(builtDir + "/skin/xml/LoginDialog.xml").good()) << "the skins are beside the program";
  conf.replace(conf.find("listenPort = 11111"), 18, "listenPort = 0");
  std::string dir = programFolder(name, conf.c_str());
  std::string program = dir + "/PostwingUI";
  apptest::writeFile(program, apptest::readFile(built));
  chmod(program.c_str(), 0700);
  return program;
}

TEST(ProgramBinary, StartsShowsItsLoginWindowAndExitsAfterStart) {
  std::string program = installedProgram("bin-start");
  std::string home = apptest::freshDir("home-start");
  Process p(program, {"--exit-after-start"}, home, home + "/out.log");
  ASSERT_GT(p.pid(), 0);
  EXPECT_EQ(0, p.waitExit());
  std::string log = p.log();
  EXPECT_NE(std::string::npos, log.find("PostwingUI, [status = started] [title = Postwing]")) << log;
  EXPECT_NE(std::string::npos, log.find("login window shown")) << log;
  EXPECT_NE(std::string::npos, log.find("PostwingUI, [status = stopped]")) << log;
}

TEST(ProgramBinary, RunsUntilASignalAndASecondCopyEndsAtOnce) {
  std::string program = installedProgram("bin-signal");
  for (int sig : {SIGTERM, SIGINT}) {
    std::string home = apptest::freshDir("home-signal");
    Process p(program, {}, home, home + "/out.log");
    ASSERT_GT(p.pid(), 0);
    ASSERT_TRUE(p.waitLog("login window shown")) << p.log();

    Process second(program, {}, home, home + "/second.log");
    EXPECT_EQ(0, second.waitExit());
    EXPECT_NE(std::string::npos, second.log().find("another instance is running")) << second.log();
    EXPECT_EQ(std::string::npos, second.log().find("[status = started]"));

    EXPECT_EQ(-1, p.waitExit(50)) << "still running";
    kill(p.pid(), sig);
    EXPECT_EQ(0, p.waitExit()) << "signal " << sig << "\n" << p.log();
    EXPECT_NE(std::string::npos, p.log().find("PostwingUI, [status = stopped]")) << p.log();
  }
}

}  // namespace

// The real PostwingUI binary in an operating-system process of its own, against the fake
// servers of this test process: it starts from its pwu.conf, logs the remembered user in at
// once, fetches the address book, and serves the hook library of this process over loopback.
// The windows of our Win32 stand-in do not cross operating-system processes, so the hook
// library's poll (startHook, the desktop half of the hook library) runs here beside the
// simulated mail client; everything else of the desktop side is the other process.
#include "E2eSupport.h"

#include "hook/PostwingUiAgent.h"
#include "settings/UserSettings.h"
#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

using namespace e2e;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The program copied into a folder of its own with the given pwu.conf and the source skins.
std::string installProgram(const std::string& dir, const std::string& conf) {
  std::ofstream(dir + "/pwu.conf") << conf;
  std::string skin = std::string(PW_SOURCE_DIR) + "skin";
  EXPECT_EQ(0, symlink(skin.c_str(), (dir + "/skin").c_str()));
  std::string program = dir + "/PostwingUI";
  std::ofstream(program, std::ios::binary) << readAll(PW_POSTWINGUI);
  chmod(program.c_str(), 0700);
  return program;
}

// One run of the program; killed at the end of the test if it still runs.
class ProgramProcess : public pwtest::ChildProcess {
 public:
  ProgramProcess(const std::string& program, const std::string& home, const std::string& logPath)
      : ChildProcess(program, {}, {"PW_HOME=" + home, "APPDATA=" + home,
                                   "PW_LOG_LEVEL=debug"},  // the local server says when it posts a request
                     {}, logPath) {}
  bool waitLog(const std::string& fragment, int timeoutMs = 15000) const {
    return ChildProcess::waitLog(fragment, timeoutMs);
  }
  int waitExit(int timeoutMs = 20000) { return ChildProcess::waitExit(timeoutMs); }
};

// The hook library's poll on a thread of its own (stopHook ends it).
class HookPoll {
 public:
  HookPoll() : thread_([] { startHook(); }) {}
  ~HookPoll() {
    stopHook();
    thread_.join();
  }

 private:
  std::thread thread_;
};

class ProgramProcessRoad : public Road {};

TEST_F(ProgramProcessRoad, TheProgramLogsTheRememberedUserInServesTheHookAndEndsOnMailSrvStopped) {
  const std::string dir = freshDir("program");
  const std::string home = freshDir("program-home");
  std::ostringstream conf;
  conf << "[COMMON]\nappName = Postwing E2E\nlistenPort = 0\n"
       << "[SSO]\nserver = " << sso_.hostPort() << "\nhttpTimeout = 5\n"
       << "[XCAP]\nserver = " << xcap_.hostPort() << "\nrecvTimeout = 5\nsendTimeout = 5\n"
       << "[VASTO]\nspaceServer = " << disk_.hostPort() << "\nhttpTimeout = 5\n";
  const std::string program = installProgram(dir, conf.str());

  // Alice logged in before and chose the automatic login: her settings in the program's home.
  {
    std::string ours = getenv("PW_HOME");
    setenv("PW_HOME", home.c_str(), 1);
    UserSettings s;
    s.open();
    s.userId = kAlice;
    s.saveUserId();
    s.setRememberPassword(true);
    s.setAutoLogin(true);
    s.setPassword(kAlicePassword);
    setenv("PW_HOME", ours.c_str(), 1);
  }

  ProgramProcess p(program, home, home + "/out.log");
  ASSERT_GT(p.pid(), 0);
  ASSERT_TRUE(p.waitLog("login succeeded")) << p.log();
  const std::string buddys = std::string("/xcap/resource-lists/myusers/") + kAlice + "/buddys";
  EXPECT_TRUE(w32subst::waitUntil([&] { return xcap_.countRequests("GET", buddys) == 1; }, 10000))
      << "the address book was fetched";
  ASSERT_TRUE(p.waitLog("PostwingServer, [status = listening, port = "));
  std::string log = p.log();
  size_t at = log.find("status = listening, port = ") + std::strlen("status = listening, port = ");
  const int port = std::atoi(log.c_str() + at);
  ASSERT_GT(port, 0);

  // A compose window here asks the program there for the address book.
  HookPoll poll;
  PostwingUiAgent::setPortOverride(port);
  pwtest::ComposeWindow w = openFoxmail7();
  PostwingWind::Controls c = controlsOf(w);
  ASSERT_NE(c.button1, nullptr);
  w32subst::click(c.button1, 5, 5);
  ASSERT_TRUE(p.waitLog("PostwingServer, [status = open success]")) << p.log();
  ASSERT_TRUE(p.waitLog("PW_PostwingServer::PostMessage ShowDialog")) << p.log();

  // "mailSrvStopped" comes after the request in the main window's queue: the picker is open
  // when it arrives, and closes first, then the main window; the program ends normally.
  RawPeer peer(port);
  ASSERT_TRUE(peer.ok());
  PW_Message stop;
  stop.setCommand("mailSrvStopped");
  ASSERT_TRUE(peer.send(stop));
  EXPECT_EQ(0, p.waitExit()) << p.log();
  log = p.log();
  EXPECT_NE(std::string::npos, log.find("close requested while 1 dialog(s) run")) << log;
  EXPECT_NE(std::string::npos, log.find("PostwingUI, [status = stopped]")) << log;
  mail_->close(w.root);
}

}  // namespace

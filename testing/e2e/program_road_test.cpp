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

class ProgramProcessRoad : public Road {
 protected:
  // The program's pwu.conf against this test's fake servers.
  std::string programConf(int ssoTimeout = 5) const {
    std::ostringstream conf;
    conf << "[COMMON]\nappName = Postwing E2E\nlistenPort = 0\n"
         << "[SSO]\nserver = " << sso_.hostPort() << "\nhttpTimeout = " << ssoTimeout << "\n"
         << "[XCAP]\nserver = " << xcap_.hostPort() << "\nrecvTimeout = 5\nsendTimeout = 5\n"
         << "[VASTO]\nspaceServer = " << disk_.hostPort() << "\nhttpTimeout = 5\n";
    return conf.str();
  }
  // Alice logged in before and chose the automatic login: her settings in the program's home.
  static void rememberAlice(const std::string& home) {
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
  static int listenPortOf(const ProgramProcess& p) {
    if (!p.waitLog("PostwingServer, [status = listening, port = ")) return 0;
    std::string log = p.log();
    size_t at = log.find("status = listening, port = ") + std::strlen("status = listening, port = ");
    return std::atoi(log.c_str() + at);
  }
  // Login requests the single sign-on server received whose service holds `fragment`.
  size_t loginsFor(const std::string& fragment) const {
    size_t n = 0;
    for (const pwtest::HttpRequestRecord& r : sso_.requests())
      if (r.path == pwtest::FakeSsoServer::LOGIN_PATH && r.queryParam("service").find(fragment) != std::string::npos) ++n;
    return n;
  }
};

TEST_F(ProgramProcessRoad, TheProgramLogsTheRememberedUserInServesTheHookAndEndsOnMailSrvStopped) {
  const std::string dir = freshDir("program");
  const std::string home = freshDir("program-home");
  const std::string program = installProgram(dir, programConf());
  rememberAlice(home);

  ProgramProcess p(program, home, home + "/out.log");
  ASSERT_GT(p.pid(), 0);
  ASSERT_TRUE(p.waitLog("login succeeded")) << p.log();
  const std::string buddys = std::string("/xcap/resource-lists/myusers/") + kAlice + "/buddys";
  EXPECT_TRUE(w32subst::waitUntil([&] { return xcap_.countRequests("GET", buddys) == 1; }, 10000))
      << "the address book was fetched";
  const int port = listenPortOf(p);
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
  std::string log = p.log();
  EXPECT_NE(std::string::npos, log.find("close requested while 1 dialog(s) run")) << log;
  EXPECT_NE(std::string::npos, log.find("PostwingUI, [status = stopped]")) << log;
  mail_->close(w.root);
}

// The program ends at once when asked to, whatever the single sign-on server does (silent, or
// stalled after the first byte of its answer; its time-out is a minute), on each road that
// talks to it: the automatic login at start on the main window's thread, the ticket request
// of the address-book fetch on a job thread, and the login inside the upload dialog's listing
// on the net-disk task thread; by SIGTERM, and by "mailSrvStopped" for the login at start.
// No job is left running at the end.
TEST_F(ProgramProcessRoad, TheProgramEndsAtOnceWhileASingleSignOnExchangeIsHeld) {
  enum RoadKind { LOGIN_AT_START, ADDRESS_BOOK_TICKET, UPLOAD_LISTING };
  struct Case {
    RoadKind road;
    pwtest::FakeSsoServer::Fault fault;
    bool bySignal;  // SIGTERM, else "mailSrvStopped"
  } cases[] = {
      {LOGIN_AT_START, pwtest::FakeSsoServer::STALL, true},
      {LOGIN_AT_START, pwtest::FakeSsoServer::STALL_AFTER_BYTE, true},
      {LOGIN_AT_START, pwtest::FakeSsoServer::STALL, false},
      {ADDRESS_BOOK_TICKET, pwtest::FakeSsoServer::STALL, true},
      {ADDRESS_BOOK_TICKET, pwtest::FakeSsoServer::STALL_AFTER_BYTE, true},
      {UPLOAD_LISTING, pwtest::FakeSsoServer::STALL, true},
      {UPLOAD_LISTING, pwtest::FakeSsoServer::STALL_AFTER_BYTE, true},
  };
  const std::string login = pwtest::FakeSsoServer::LOGIN_PATH;
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "road " << c.road << ", fault " << c.fault
                                    << (c.bySignal ? ", SIGTERM" : ", mailSrvStopped"));
    ++run;
    const std::string dir = freshDir("program-held-" + std::to_string(run));
    const std::string home = freshDir("program-held-home-" + std::to_string(run));
    const std::string program = installProgram(dir, programConf(60));
    rememberAlice(home);
    sso_.clearRequests();
    sso_.setFault(pwtest::FakeSsoServer::NONE);
    // The login at start holds from its first request; the fetch's ticket is the login after it.
    if (c.road == LOGIN_AT_START) sso_.setFault(c.fault, -1, login);
    if (c.road == ADDRESS_BOOK_TICKET) sso_.setFault(c.fault, -1, login, 1);

    ProgramProcess p(program, home, home + "/out.log");
    ASSERT_GT(p.pid(), 0);
    const int port = listenPortOf(p);
    ASSERT_GT(port, 0) << p.log();
    if (c.road == LOGIN_AT_START) {
      ASSERT_TRUE(w32subst::waitUntil([&] { return loginsFor("/xcap/") == 1; }, 15000)) << p.log();
    } else if (c.road == ADDRESS_BOOK_TICKET) {
      ASSERT_TRUE(p.waitLog("login succeeded")) << p.log();
      ASSERT_TRUE(w32subst::waitUntil([&] { return loginsFor("/xcap/") == 2; }, 15000))
          << "the fetch asked for its ticket\n" << p.log();
    } else {
      ASSERT_TRUE(p.waitLog("login succeeded")) << p.log();
      ASSERT_TRUE(p.waitLog("address book updated")) << p.log();
      sso_.setFault(c.fault, -1, login);
      RawPeer peer(port);
      ASSERT_TRUE(peer.ok());
      PW_Message show;
      show.setCommand("showAttachDialog");
      show.setField("handle", "4242");
      ASSERT_TRUE(peer.send(show));
      ASSERT_TRUE(w32subst::waitUntil([&] { return loginsFor("getSession") >= 1; }, 15000))
          << "the listing logs in at the net disk\n" << p.log();
    }
    EXPECT_EQ(-1, p.waitExit(50)) << "the program waits for the server";

    if (c.bySignal) {
      kill(p.pid(), SIGTERM);
    } else {
      RawPeer peer(port);
      ASSERT_TRUE(peer.ok());
      PW_Message stop;
      stop.setCommand("mailSrvStopped");
      ASSERT_TRUE(peer.send(stop));
    }
    // The server's time-out is a minute: only a stopped exchange ends in time.
    EXPECT_EQ(0, p.waitExit(15000)) << p.log();
    std::string log = p.log();
    EXPECT_NE(std::string::npos, log.find("PostwingUI, [status = stopped]")) << log;
    EXPECT_EQ(std::string::npos, log.find("jobs still running at the end")) << log;
    if (c.road == LOGIN_AT_START) {
      EXPECT_NE(std::string::npos, log.find("CLoginDialog, login stopped")) << log;
      EXPECT_EQ(std::string::npos, log.find("login succeeded")) << log;
    }
    sso_.setFault(pwtest::FakeSsoServer::NONE);
  }
}

}  // namespace

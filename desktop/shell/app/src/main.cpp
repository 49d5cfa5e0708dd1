// PostwingUI's main: the platform's program entry on this machine. It ignores SIGPIPE, turns
// SIGINT and SIGTERM into a close request for the main window (posted by a thread of its own,
// never from inside a signal handler) and runs the program.
//
// Options: --exit-after-start (or PW_EXIT_AFTER_START=1) closes the main window as soon as it
// has shown, for start-up checks.
#include "app/LoginDialog.h"
#include "app/PostwingMain.h"
#include "log/IM_LogManager.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
std::atomic<bool> g_closeRequested{false};

// Waits for SIGINT or SIGTERM (blocked in every thread) and asks the main window to close; a
// request before the window exists is kept and served as soon as it does. A second signal
// ends the process at once.
void signalWatcher(sigset_t set) {
  int signals = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++signals > 1) std::_Exit(128 + sig);
    IM_LOG_INFO("PostwingUI, signal %d: closing", sig);
    g_closeRequested = true;
    // A login on the main window's thread would keep the close waiting for its server.
    PostwingStopForClose();
    // The window may not exist yet: try until it does or the program has ended its loop.
    for (int i = 0; i < 100000; ++i) {
      HWND h = CLoginDialog::mainWindowHandle();
      if (h && PostMessageA(h, WM_CLOSE, 0, 0)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  // A shell starts background programs with SIGINT ignored; an ignored signal never reaches
  // sigwait, so both get their default disposition back before they are blocked.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every thread started from here inherits it
  std::thread(signalWatcher, set).detach();

  PostwingStartup startup;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--exit-after-start") == 0) startup.exitAfterStart = true;
  if (const char* e = std::getenv("PW_EXIT_AFTER_START"))
    if (std::strcmp(e, "1") == 0) startup.exitAfterStart = true;

  int rc = PostwingWinMain(GetModuleHandleA(nullptr), startup);

  PostwingShutdown();
  return rc;
}

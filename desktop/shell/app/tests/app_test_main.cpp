// Process set-up of the shell program's tests: a private home folder and the source tree's skins.
#include "AppTestSupport.h"
#include "testing/ProcessHome.h"

#ifdef PW_TEST_HAS_PROGRAM
#include "app/PostwingMain.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace apptest {

namespace {
const char kHomePrefix[] = "pw_shell_app_";

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    homeDir();
    DuiLib::CPaintManagerUI::SetResourcePath(PW_SOURCE_DIR);
  }
  void TearDown() override {
#ifdef PW_TEST_HAS_PROGRAM
    PostwingShutdown();  // the threads the logins started end before the process does
#endif
    pwtest::removeProcessHome(homeDir(), kHomePrefix);
  }
};

// Registered before main runs, so the folder exists before any test touches a known folder.
::testing::Environment* const kEnvironment = (homeDir(), ::testing::AddGlobalTestEnvironment(new Environment));
}  // namespace

const std::string& homeDir() {
  static const std::string home = pwtest::makeProcessHome(kHomePrefix);
  return home;
}

std::string freshDir(const std::string& name) {
  static int serial = 0;
  std::string dir = homeDir() + "/" + name + "-" + std::to_string(++serial);
  mkdir(dir.c_str(), 0700);
  return dir;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

namespace {
LRESULT CALLBACK workProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP + 77) {
    std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(w));
    (*fn)();
    return 0;
  }
  return DefWindowProcA(h, m, w, l);
}
}  // namespace

void postWork(DWORD threadId, const std::function<void()>& fn) {
  static std::mutex lock;
  static std::map<DWORD, HWND> windows;
  HWND target = nullptr;
  {
    std::lock_guard<std::mutex> g(lock);
    auto it = windows.find(threadId);
    if (it != windows.end() && IsWindow(it->second)) target = it->second;
  }
  if (!target) {
    w32subst::runOnThread(threadId, [&] {
      WNDCLASSEXA wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = &workProc;
      wc.lpszClassName = "PwShellTestWork";
      RegisterClassExA(&wc);
      target = CreateWindowExA(0, "PwShellTestWork", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    });
    std::lock_guard<std::mutex> g(lock);
    windows[threadId] = target;
  }
  PostMessageA(target, WM_APP + 77, reinterpret_cast<WPARAM>(new std::function<void()>(fn)), 0);
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

}  // namespace apptest

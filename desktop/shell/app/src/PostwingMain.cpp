// The program's entry.
#include "app/PostwingMain.h"

#include "app/AppMessages.h"
#include "app/AppPlatform.h"
#include "app/LoginDialog.h"
#include "bridge/PW_PostwingServer.h"
#include "duilib/UIlib.h"
#include "log/IM_LogManager.h"
#include "jobs/LongTimeTask.h"
#include "sso/SsoClient.h"
#include "util/Config.h"

#include <atomic>

#ifdef PW_HAVE_NETDISK_CLIENT
#include "client/NetDiskClient.h"
#endif

using namespace DuiLib;

namespace {
// PostwingStopForClose has stopped the single sign-on exchanges and PostwingWinMain has not
// yet allowed them again.
std::atomic<bool> g_stoppedForClose{false};
}  // namespace

void PostwingStopForClose() {
  if (!g_stoppedForClose.exchange(true)) SsoClient::stopExchanges();
}

const char* const kPostwingInstanceMutex = "0xbe8e2ce1, 0xdab6, 0x156, 0xad, 0xd0, 0x0, 0xe0, 0x4c, 0x53, 0xf6, 0xe6";

int PostwingWinMain(HINSTANCE hInstance, const PostwingStartup& startup) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kPostwingInstanceMutex);
  if (GetLastError() == ERROR_ALREADY_EXISTS || !pwapp::claimInstanceName(kPostwingInstanceMutex)) {
    IM_LOG_INFO("PostwingUI, another instance is running: this one ends");
    if (mutex) CloseHandle(mutex);
    return 0;
  }

  CPaintManagerUI::SetInstance(hInstance);

  std::string path = startup.programPath;
  if (path.empty()) {
    char buf[4096] = {0};
    GetModuleFileNameA(nullptr, buf, sizeof(buf));
    path = buf;
  }
  size_t sep = path.find_last_of("\\/");
  if (sep != std::string::npos) {
    std::string folder = path.substr(0, sep);
    Config::instance()->init(folder + "/pwu.conf");
    pwapp::SetCurrentDirectoryA(folder.c_str());
    CPaintManagerUI::SetResourcePath((folder + "/").c_str());
  } else {
    Config::instance()->init("pwu.conf");
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath());
  }

  std::string title = Config::instance()->getStrValue("COMMON", "appName", "Postwing");

  CLoginDialog* main = new CLoginDialog();
  HWND hWnd = main->Create(nullptr, title.c_str(), PW_APP_DIALOG_STYLE, 0x60010, 0, 0, 556, 843);
  if (!hWnd) {
    IM_LOG_ERROR("PostwingUI, the main window cannot be created");
    delete main;
    CloseHandle(mutex);
    return 0;
  }

  PW_PostwingServer::instance()->setCloseHook(&PostwingStopForClose);

  HICON icon = LoadIconA(hInstance, MAKEINTRESOURCEA(PW_APP_ICON_TRAY));
  if (!main->tray().create(hInstance, hWnd, title.c_str(), icon)) {
    // Without its icon the program could not be reached: it ends, tidily.
    IM_LOG_ERROR("PostwingUI, the tray icon cannot be added: the program ends");
    DestroyWindow(hWnd);  // the final message deletes the window and asks to quit
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      DispatchMessageA(&msg);
    }
    CloseHandle(mutex);
    return 0;
  }

  main->SetIcon(PW_APP_ICON_MAIN);
  main->CenterWindow();
  IM_LOG_INFO("PostwingUI, [status = started] [title = %s]", title.c_str());
  if (startup.exitAfterStart) ::PostMessageA(hWnd, WM_CLOSE, 0, 0);  // after the window's first paint
  CPaintManagerUI::MessageLoop();
  CPaintManagerUI::Term();
  // The window is gone: no login of its own can run any more. What other threads still have
  // under way is stopped again by PostwingShutdown; a later run in this process logs in anew.
  if (g_stoppedForClose.exchange(false)) SsoClient::allowExchanges();
  IM_LOG_INFO("PostwingUI, [status = stopped]");
  CloseHandle(mutex);
  return 0;
}

void PostwingShutdown() {
  // First, so that no job, net-disk step or single sign-on worker below waits for a silent or
  // stalled single sign-on server (a fetch's ticket, a net-disk request's login, a logout).
  SsoClient::stopExchanges();
  ACE_Time_Value limit(5);
  if (LongTimeTask::instance()->shutdown(&limit) != 0) IM_LOG_WARN("PostwingUI, jobs still running at the end");
#ifdef PW_HAVE_NETDISK_CLIENT
  NetDiskClient::instance()->shutdown();
#endif
  SsoClient::destroy();
  SsoClient::allowExchanges();  // for a later run in this process (tests)
}

// The desktop program's entry: single instance, configuration, main window, tray icon, message
// loop. PostwingUI's main calls it on the process's main thread; tests may call it on a thread
// of their own (one run at a time per process).
#pragma once

#include "win32/windows.h"

#include <string>

struct PostwingStartup {
  // The program's own path; empty: the running executable's. Its folder holds pwu.conf and the
  // skins, and becomes the working directory.
  std::string programPath;
  // Closes the main window as soon as the message loop has shown it (start-up checks).
  bool exitAfterStart = false;
};

// The name of the single-instance mutex.
extern const char* const kPostwingInstanceMutex;

// Runs the program until its main window closes. Returns 0 in every case: a second instance,
// a tray icon that cannot be added and a normal end alike.
int PostwingWinMain(HINSTANCE hInstance, const PostwingStartup& startup);

// Ends the background machinery in order (job runner, net-disk threads, single sign-on
// workers), so that nothing runs while the process's objects are destroyed. No server holds it
// up: every single sign-on exchange is ended first, and the net-disk client's requests by its
// shutdown. After PostwingWinMain returned, on the thread that ran it; once.
void PostwingShutdown();

// A close of the main window was asked for from another thread (a signal, "mailSrvStopped"):
// ends every single sign-on exchange under way and fails later ones, so that a login on the
// main thread (which holds up the close) returns at once, whatever the server does. They run
// again once PostwingWinMain has returned. Any thread; before the WM_CLOSE is posted.
void PostwingStopForClose();

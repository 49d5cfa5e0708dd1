// Shared by the shell program's tests: a private home folder for the process (settings, database,
// application data), skins from the source tree, and waiting on the UI thread with a deadline.
#pragma once

#include "duilib/UIAutomation.h"
#include "duilib/UIlib.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace apptest {

// The process's private home folder (PW_HOME), made before the first test.
const std::string& homeDir();
// A fresh empty folder under the home folder.
std::string freshDir(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

// Handles the calling thread's messages until pred() holds or the deadline passes.
inline bool pumpUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    DuiLib::Automation::Pump();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Queues fn for a UI thread as a posted window message (to a small window made on that thread
// once), so that fn may start modal loops the way a user's click would.
void postWork(DWORD threadId, const std::function<void()>& fn);

inline std::string textOf(DuiLib::WindowImplBase& w, const char* name) {
  DuiLib::CControlUI* c = DuiLib::Automation::Find(w, name);
  return c ? c->GetText().str() : std::string("<no control>");
}

}  // namespace apptest

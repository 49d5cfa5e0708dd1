// The platform calls the Win32 stand-in lacks, done the way this machine can.
#include "app/AppPlatform.h"

#include "log/IM_LogManager.h"
#include "win32/shellexecute.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <set>
#include <string>

namespace pwapp {

namespace {
ACE_Thread_Mutex& hookLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
SaveFileDriver& driver() {  // guarded by hookLock()
  static SaveFileDriver* d = new SaveFileDriver();
  return *d;
}
int& dialogCount() {  // guarded by hookLock()
  static int n = 0;
  return n;
}
std::string text(LPCSTR s) { return s ? s : ""; }
}  // namespace

BOOL GetSaveFileNameA(OPENFILENAMEA* ofn) {
  if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) return FALSE;
  SaveFileDriver d;
  {
    ACE_Guard<ACE_Thread_Mutex> g(hookLock());
    d = driver();
    ++dialogCount();
  }
  if (!d) return FALSE;  // nobody to ask: as if the user cancelled
  if (!d(*ofn)) return FALSE;
  ofn->lpstrFile[ofn->nMaxFile - 1] = '\0';
  return ofn->lpstrFile[0] ? TRUE : FALSE;
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCmd) {
  IM_LOG_INFO("ShellExecute, [verb = %s] [file = %s]", text(verb).c_str(), text(file).c_str());
  return ::ShellExecuteA(owner, verb, file, parameters, directory, showCmd);
}

DWORD GetVersion() { return 0x0106; }  // 6.1

LONG CoInitialize(LPVOID) { return 0; }
void CoUninitialize() {}

BOOL SetCurrentDirectoryA(LPCSTR path) { return path && ::chdir(path) == 0 ? TRUE : FALSE; }

bool claimInstanceName(const char* name) {
  // This process may claim again (the program's entry run a second time in one process);
  // the named mutex keeps two runs of one process apart.
  static std::set<std::string>* claimed = new std::set<std::string>();
  ACE_Guard<ACE_Thread_Mutex> g(hookLock());
  if (claimed->count(name ? name : "")) return true;
  char folder[MAX_PATH] = {0};
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE) || !folder[0]) return true;
  std::string path = std::string(folder) + "/Postwing-instance-";
  for (const char* p = name; p && *p; ++p) path += (isalnum((unsigned char)*p) ? *p : '_');
  path += ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no lock file possible: the in-process guard alone decides
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  claimed->insert(name ? name : "");
  return true;  // fd stays open: the lock lives as long as the process
}

void setSaveFileDriver(SaveFileDriver d) {
  ACE_Guard<ACE_Thread_Mutex> g(hookLock());
  driver() = std::move(d);
}
int saveFileDialogCount() {
  ACE_Guard<ACE_Thread_Mutex> g(hookLock());
  return dialogCount();
}

}  // namespace pwapp

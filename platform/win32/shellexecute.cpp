// The shell's "open" call: recorded. Guarded by shellExecuteLock().
#include "win32/shellexecute.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <cstdint>

namespace {
ACE_Thread_Mutex& shellExecuteLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::vector<w32subst::ShellExecuteCall>& calls() {  // guarded by shellExecuteLock()
  static auto* v = new std::vector<w32subst::ShellExecuteCall>();
  return *v;
}
std::string text(LPCSTR s) { return s ? s : ""; }
}  // namespace

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR, INT showCmd) {
  w32subst::ShellExecuteCall call;
  call.owner = owner;
  call.verb = text(verb);
  call.file = text(file);
  call.parameters = text(parameters);
  call.showCmd = showCmd;
  {
    ACE_Guard<ACE_Thread_Mutex> g(shellExecuteLock());
    calls().push_back(call);
  }
  return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(call.file.empty() ? 2 : 42));
}

namespace w32subst {

std::vector<ShellExecuteCall> shellExecuteCalls() {
  ACE_Guard<ACE_Thread_Mutex> g(shellExecuteLock());
  return calls();
}

void clearShellExecuteCalls() {
  ACE_Guard<ACE_Thread_Mutex> g(shellExecuteLock());
  calls().clear();
}

}  // namespace w32subst

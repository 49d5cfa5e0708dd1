// The shell's "open this document or address" of our Win32 stand-in. Nothing is shown on this
// machine: each call is recorded, and tests read the record through w32subst.
//
// Thread rule: any thread; the record is guarded by one lock.
#pragma once

#include "win32/wintypes.h"

#include <string>
#include <vector>

// Returns a value above 32 (success) for a non-empty file, else 2 (ERROR_FILE_NOT_FOUND).
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCmd);

namespace w32subst {

struct ShellExecuteCall {
  HWND owner = nullptr;
  std::string verb;
  std::string file;
  std::string parameters;
  int showCmd = 0;
};
std::vector<ShellExecuteCall> shellExecuteCalls();
void clearShellExecuteCalls();

}  // namespace w32subst

// What the desktop program asks of the platform beyond what the Win32 stand-in offers: the
// shell's "open this address", the save-file dialog, the system version, COM for a thread,
// the working directory, and a single-instance name that other processes of the same user
// see too (the stand-in's named mutexes are visible to one process only).
//
// Nothing is shown on this machine: an address to open is logged and recorded; the save-file
// dialog asks the driver a test installed and is cancelled when there is none.
//
// Thread rule: every function may be called from any thread; the test hook setSaveFileDriver is
// guarded by one lock. Tests read the opened addresses through w32subst::shellExecuteCalls.
#pragma once

#include "win32/windows.h"

#include <functional>

namespace pwapp {

// The save-file dialog's parameters, in the platform's layout and meaning.
struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;        // pairs of NUL-ended texts, ended by a second NUL
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;           // in: the proposed name; out: the chosen path
  DWORD nMaxFile;            // size of lpstrFile including the NUL
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
};

// TRUE with the chosen path in ofn->lpstrFile, FALSE when the user cancels.
BOOL GetSaveFileNameA(OPENFILENAMEA* ofn);
// Opens a document or address with the shell (logged, then the Win32 stand-in's call, which
// records it); returns a value above 32 on success.
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        INT showCmd);
// Major version in the low byte, minor in the next.
DWORD GetVersion();
// COM for the calling thread (nothing to start here): S_OK.
LONG CoInitialize(LPVOID reserved);
void CoUninitialize();
BOOL SetCurrentDirectoryA(LPCSTR path);

// Holds a lock named after `name` for the rest of the process, in the user's local
// application-data folder. False when another live process holds it.
bool claimInstanceName(const char* name);

// ---- test side ------------------------------------------------------------------------------
// Answers each save-file dialog (fill ofn.lpstrFile, return true) or cancels it (false).
using SaveFileDriver = std::function<bool(OPENFILENAMEA& ofn)>;
void setSaveFileDriver(SaveFileDriver driver);  // empty: every dialog is cancelled
int saveFileDialogCount();                      // dialogs shown so far

}  // namespace pwapp

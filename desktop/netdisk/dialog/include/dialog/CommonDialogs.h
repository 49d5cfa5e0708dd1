// The few system dialogs the uploader dialog calls that our Win32 stand-in does not offer: the
// open-file dialog (GetOpenFileNameA, CommDlgExtendedError), the plain system message box
// (MessageBoxA). They live in namespace pwsys so that
// they never clash with the stand-in if it grows them. Nothing is shown: each call asks a
// scripted answerer (tests set one; without one the open-file dialog is cancelled, the message
// box answers IDOK) and is recorded.
//
// Thread rule: any thread. The answerers and the records are guarded by one internal mutex; an
// answerer runs outside it, on the calling thread.
#pragma once

#include "win32/windows.h"

#include <functional>
#include <string>
#include <vector>

namespace pwsys {

// Open-file dialog flags, with the platform's values.
const DWORD OFN_READONLY = 0x00000001;
const DWORD OFN_HIDEREADONLY = 0x00000004;
const DWORD OFN_NOCHANGEDIR = 0x00000008;
const DWORD OFN_ALLOWMULTISELECT = 0x00000200;
const DWORD OFN_PATHMUSTEXIST = 0x00000800;
const DWORD OFN_FILEMUSTEXIST = 0x00001000;
const DWORD OFN_EXPLORER = 0x00080000;
// CommDlgExtendedError codes.
const DWORD CDERR_GENERALCODES = 0x0000;
const DWORD FNERR_BUFFERTOOSMALL = 0x3003;

// Message box styles and answers.
const UINT MB_OK = 0x00000000;
const UINT MB_ICONINFORMATION = 0x00000040;
const int IDOK_ANSWER = 1;

// The fields of the platform's OPENFILENAMEA that the program uses.
struct OPENFILENAMEA {
  DWORD lStructSize = sizeof(OPENFILENAMEA);
  HWND hwndOwner = nullptr;
  LPCSTR lpstrFilter = nullptr;  // pairs of NUL-terminated texts, ended by an empty text
  DWORD nFilterIndex = 0;
  LPSTR lpstrFile = nullptr;     // in: initial name; out: the selection
  DWORD nMaxFile = 0;            // bytes of lpstrFile
  LPCSTR lpstrInitialDir = nullptr;
  LPCSTR lpstrTitle = nullptr;
  DWORD Flags = 0;
  WORD nFileOffset = 0;          // out: offset of the first file name in lpstrFile
};

// Fills ofn the way the explorer-style dialog does: one file gives its full path
// ("dir" PW_PATH_SEPARATOR "name") and nFileOffset at its name; several files (only with
// OFN_ALLOWMULTISELECT) give the folder, a NUL, each name followed by a NUL, and a final NUL,
// with nFileOffset just after the folder's NUL. FALSE when the user cancelled (extended error 0)
// or the buffer is too small (FNERR_BUFFERTOOSMALL).
BOOL GetOpenFileNameA(OPENFILENAMEA* ofn);
DWORD CommDlgExtendedError();

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type);

// The folder separator of this platform's paths.
#ifdef _WIN32
#define PW_PATH_SEPARATOR "\\"
#else
#define PW_PATH_SEPARATOR "/"
#endif

// ---- test side ------------------------------------------------------------------------------
// What the user picks in the next open-file dialogs: a folder and file names, or a cancel.
struct OpenFileAnswer {
  bool cancel = false;
  std::string folder;
  std::vector<std::string> names;
};
// What the program asked for.
struct OpenFileRequest {
  HWND owner = nullptr;
  std::string filter;  // the filter pairs with their NULs, up to the closing empty text
  DWORD flags = 0;
  DWORD maxFile = 0;
};
struct MessageBoxShown {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};

void setOpenFileAnswer(const OpenFileAnswer& answer);  // used by every following dialog
std::vector<OpenFileRequest> openFileRequests();
std::vector<MessageBoxShown> messageBoxes();
void resetCommonDialogs();  // forgets the answer and the records

}  // namespace pwsys

// Profile (INI) files, known folders and directory creation of the Win32
// stand-in.
//
// Narrow ("A") texts are in the ANSI code page, 936 (GBK), the code page of the
// target Windows systems: paths are converted to UTF-8 before they reach the file system,
// and known-folder paths are handed back in GBK. Both "\" and "/" separate
// path components.
//
// Known folders live under the user's home: $PW_HOME when set and not empty,
// else $HOME, else the password database's home. The documents folder is
// <home>/Documents, the application-data folder <home>/.config and the local
// application-data folder <home>/.local/share; each is created on request.
//
// Thread rule: every call here may be made from any thread; profile reads and
// writes are serialised by one process-wide lock, so a write is never seen
// half done by a read of the same process.
#pragma once

#include <cstdint>

#ifndef PW_WIN32_BASIC_TYPES
#define PW_WIN32_BASIC_TYPES
typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef struct HWND__* HWND;
#endif  // PW_WIN32_BASIC_TYPES

typedef LONG HRESULT;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005)
#endif

// An item list names a shell folder; it is handed out by
// SHGetSpecialFolderLocation and released with ILFree.
typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;

// Shell special folders.
#define CSIDL_PERSONAL 0x0005
#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_FLAG_CREATE 0x8000

// Security attributes (spelled as the struct: ACE defines the pointer's usual
// name as a macro on this platform) are accepted and ignored.
struct _SECURITY_ATTRIBUTES;

extern "C" {

// --- Profile files -------------------------------------------------------
// Section and key names compare without regard to ASCII letter case; values
// are read with surrounding blanks and one pair of surrounding quotes removed.
// A missing file reads as empty. Lines end in CR LF when written; LF alone is
// accepted on read.

// Copies the value of key in section (or the default, "" when null) into buf.
// A null section lists the section names, a null key the key names of the
// section, each name ended by a NUL and the list by a second NUL. Returns the
// characters copied without the final NUL: size-1 when a value was cut
// (size-2 for a cut list).
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buf, DWORD size,
                               LPCSTR file);

// The section names as GetPrivateProfileStringA with a null section gives them.
DWORD GetPrivateProfileSectionNamesA(LPSTR buf, DWORD size, LPCSTR file);

// The value read as a decimal integer (leading digits, optional sign); the
// default when the key is missing or has no digits.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file);

// Sets key in section to value, creating the file and the section as needed.
// A null value removes the key, a null key the whole section. The file is
// replaced whole (written beside and renamed), new files get mode 0600.
// Returns nonzero on success, 0 when the file cannot be written (for example
// when its folder does not exist).
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

// --- Folders ---------------------------------------------------------------

// Creates one directory (its parent must exist), mode 0700. FALSE when it
// exists already or cannot be made.
BOOL CreateDirectoryA(LPCSTR path, struct _SECURITY_ATTRIBUTES* attributes);

// The short (8.3) form of a path. This file system has none, so the path is
// copied unchanged when it exists. Returns the characters copied without the
// NUL; when buf is too small, the size needed including the NUL; 0 when the
// path does not exist.
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);

// The item list of a special folder (CSIDL_PERSONAL, CSIDL_APPDATA,
// CSIDL_LOCAL_APPDATA, optionally with CSIDL_FLAG_CREATE). The folder itself is
// created when missing. S_OK, or E_FAIL for an unknown folder or no home.
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* list);

// Copies the folder path of an item list (at most MAX_PATH characters with the
// NUL) into path. FALSE for a null list or a path that does not fit.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);

// The same in one call.
BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create);

// Releases an item list; null is ignored.
void ILFree(LPITEMIDLIST list);

}  // extern "C"

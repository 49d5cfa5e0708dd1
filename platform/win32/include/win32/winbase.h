// Kernel side of our Win32 stand-in: last error, threads and their simulated processes,
// handles (threads, named mutexes, events), global memory, ticks, debug output and the code
// page conversions. The "ANSI code page" (CP_ACP) is 936 (GBK), converted through iconv.
// Every function may be called from any thread.
#pragma once

#include "win32/wintypes.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_GBK 936
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GMEM_DDESHARE 0x2000
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define CREATE_SUSPENDED 0x00000004

extern "C" {

DWORD GetLastError(void);  // thread-local
void SetLastError(DWORD error);

DWORD GetCurrentProcessId(void);  // the calling thread's simulated process id
DWORD GetCurrentThreadId(void);   // a small number given to each thread on first use
// Starts a thread that carries its creator's simulated process id.
HANDLE CreateThread(SECURITY_ATTRIBUTES* sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID arg, DWORD flags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
void Sleep(DWORD ms);
DWORD GetTickCount(void);  // milliseconds of a steady clock
uint64_t GetTickCount64(void);

// Named mutexes live for the session: a second CreateMutexA of a name returns a handle to the
// same mutex and sets GetLastError() to ERROR_ALREADY_EXISTS (0 otherwise).
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* sa, BOOL initialOwner, LPCSTR name);
HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
HANDLE CreateEventA(SECURITY_ATTRIBUTES* sa, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Threads (signalled when ended), mutexes (acquired) and events.
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
BOOL CloseHandle(HANDLE handle);

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL mem);
BOOL GlobalUnlock(HGLOBAL mem);
SIZE_T GlobalSize(HGLOBAL mem);
HGLOBAL GlobalFree(HGLOBAL mem);  // NULL on success

// Debug output goes to an in-memory ring (w32subst::debugLines), and to stderr when
// W32SUBST_DEBUG=1.
void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);

HMODULE GetModuleHandleA(LPCSTR name);  // NULL: the program's own module
DWORD GetModuleFileNameA(HMODULE module, LPSTR buf, DWORD cap);

// CP_ACP/936 (GBK) and CP_UTF8. srcLen -1 includes the NUL; dst NULL or cap 0 asks for the size.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int cap);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int cap,
                        LPCSTR defaultChar, LPBOOL usedDefault);
UINT GetACP(void);
int lstrlenA(LPCSTR s);
int lstrlenW(LPCWSTR s);

}  // extern "C"

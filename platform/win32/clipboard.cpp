// The clipboard: session-wide (shared by every simulated process), one opener at a time.
// All state here is guarded by clipLock().
#include "internal.h"

using namespace w32subst;
using namespace w32subst::detail;

namespace {
struct Clipboard {
  DWORD openerTid = 0;  // 0: closed
  HWND owner = nullptr;
  std::map<UINT, HANDLE> data;
  ClipboardFault fault = ClipboardFault::None;
};
ACE_Thread_Mutex& clipLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
Clipboard& clip() {
  static Clipboard* c = new Clipboard();
  return *c;
}
bool takeFault(ClipboardFault f) {
  if (clip().fault != f) return false;
  clip().fault = ClipboardFault::None;
  return true;
}
void freeAllLocked() {
  for (auto& kv : clip().data) GlobalFree(kv.second);
  clip().data.clear();
}
}  // namespace

namespace w32subst {
void failNextClipboard(ClipboardFault f) {
  Guard g(clipLock());
  clip().fault = f;
}

void resetClipboard() {
  Guard g(clipLock());
  freeAllLocked();
  clip().openerTid = 0;
  clip().owner = nullptr;
  clip().fault = ClipboardFault::None;
}
}  // namespace w32subst

UINT RegisterClipboardFormatA(LPCSTR name) { return name && *name ? registerAtomName(name) : 0; }

BOOL OpenClipboard(HWND owner) {
  DWORD me = GetCurrentThreadId();
  Guard g(clipLock());
  if (takeFault(ClipboardFault::Open) || (clip().openerTid && clip().openerTid != me)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  clip().openerTid = me;
  clip().owner = owner;
  return TRUE;
}

BOOL CloseClipboard(void) {
  DWORD me = GetCurrentThreadId();
  Guard g(clipLock());
  if (clip().openerTid != me) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  clip().openerTid = 0;
  return TRUE;
}

BOOL EmptyClipboard(void) {
  DWORD me = GetCurrentThreadId();
  Guard g(clipLock());
  if (clip().openerTid != me) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  freeAllLocked();
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE mem) {
  DWORD me = GetCurrentThreadId();
  Guard g(clipLock());
  if (clip().openerTid != me) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (takeFault(ClipboardFault::SetData)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto it = clip().data.find(format);
  if (it != clip().data.end() && it->second != mem) GlobalFree(it->second);
  clip().data[format] = mem;
  return mem;
}

HANDLE GetClipboardData(UINT format) {
  DWORD me = GetCurrentThreadId();
  Guard g(clipLock());
  if (clip().openerTid != me) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  auto it = clip().data.find(format);
  return it == clip().data.end() ? nullptr : it->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  Guard g(clipLock());
  return clip().data.count(format) ? TRUE : FALSE;
}

int CountClipboardFormats(void) {
  Guard g(clipLock());
  return (int)clip().data.size();
}

HWND GetClipboardOwner(void) {
  Guard g(clipLock());
  return clip().owner;
}

// An allocation fault is injected here so that callers' GlobalAlloc failures can be tested.
namespace w32subst {
namespace detail {
bool takeAllocFault() {
  Guard g(clipLock());
  return takeFault(ClipboardFault::Alloc);
}
}  // namespace detail
}  // namespace w32subst

// Kernel side: last error, threads, kernel handles (threads, named mutexes, events), global
// memory, ticks, modules, per-process slots and debug output.
#include "internal.h"

#include <ace/OS_NS_sys_time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

#include <unistd.h>

using namespace w32subst;
using namespace w32subst::detail;

namespace {
thread_local DWORD t_lastError = 0;

// Kernel objects. All guarded by kernelLock(); kernelCond() is broadcast on every change.
struct KObject {
  enum Kind { Thread, Mutex, Event } kind;
  int handles = 0;  // open handles; the object goes with the last one
  std::string name;
  // Thread
  bool ended = false;
  DWORD exitCode = 259;  // STILL_ACTIVE
  // Mutex
  DWORD ownerTid = 0;
  int recursion = 0;
  // Event
  bool manualReset = false;
  bool signalled = false;
};

ACE_Thread_Mutex& kernelLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
ACE_Condition_Thread_Mutex& kernelCond() {
  static ACE_Condition_Thread_Mutex* c = new ACE_Condition_Thread_Mutex(kernelLock());
  return *c;
}
std::map<uintptr_t, std::shared_ptr<KObject>>& handles() {  // guarded by kernelLock()
  static auto* m = new std::map<uintptr_t, std::shared_ptr<KObject>>();
  return *m;
}
std::map<std::string, std::weak_ptr<KObject>>& names() {  // guarded by kernelLock()
  static auto* m = new std::map<std::string, std::weak_ptr<KObject>>();
  return *m;
}

HANDLE addHandleLocked(const std::shared_ptr<KObject>& o) {
  uintptr_t h = newHandle();
  handles()[h] = o;
  o->handles++;
  return (HANDLE)h;
}

std::shared_ptr<KObject> objectLocked(HANDLE h) {
  auto it = handles().find((uintptr_t)h);
  return it == handles().end() ? nullptr : it->second;
}

// Global memory blocks; guarded by memLock().
struct Block {
  std::vector<char> bytes;
  int locks = 0;
};
ACE_Thread_Mutex& memLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::map<uintptr_t, Block*>& blocks() {
  static auto* m = new std::map<uintptr_t, Block*>();
  return *m;
}

// Debug output ring; guarded by debugLock().
ACE_Thread_Mutex& debugLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::deque<std::string>& debugRing() {
  static auto* d = new std::deque<std::string>();
  return *d;
}
const size_t kDebugRing = 20000;

// Modules and per-process slots; guarded by moduleLock().
ACE_Thread_Mutex& moduleLock() {
  static ACE_Thread_Mutex* m = new ACE_Thread_Mutex();
  return *m;
}
std::map<std::string, HINSTANCE>& modules() {
  static auto* m = new std::map<std::string, HINSTANCE>();
  return *m;
}
std::map<std::pair<std::string, DWORD>, void*>& slots() {
  static auto* m = new std::map<std::pair<std::string, DWORD>, void*>();
  return *m;
}
}  // namespace

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD e) { t_lastError = e; }

DWORD GetCurrentProcessId(void) { return currentProcessId(); }
DWORD GetCurrentThreadId(void) { return self()->tid; }

namespace {
// Running CreateThread threads by simulated process. Guarded by kernelLock().
std::map<DWORD, int>& runningByProcess() {
  static auto* m = new std::map<DWORD, int>();
  return *m;
}
}  // namespace

int w32subst::runningThreads(DWORD pid) {
  Guard g(kernelLock());
  auto it = runningByProcess().find(pid);
  return it == runningByProcess().end() ? 0 : it->second;
}

HANDLE CreateThread(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID arg,
                    DWORD, LPDWORD threadId) {
  const DWORD pid = currentProcessId();
  ThreadInfo* info = newThreadInfo(pid);
  auto obj = std::make_shared<KObject>();
  obj->kind = KObject::Thread;
  HANDLE h;
  {
    Guard g(kernelLock());
    h = addHandleLocked(obj);
    ++runningByProcess()[pid];
  }
  if (threadId) *threadId = info->tid;
  std::thread([info, obj, start, arg, pid] {
    adoptThreadInfo(info);
    DWORD code = start(arg);
    Guard g(kernelLock());
    --runningByProcess()[pid];
    obj->ended = true;
    obj->exitCode = code;
    kernelCond().broadcast();
  }).detach();
  return h;
}

BOOL GetExitCodeThread(HANDLE h, LPDWORD code) {
  Guard g(kernelLock());
  auto o = objectLocked(h);
  if (!o || o->kind != KObject::Thread) return FALSE;
  if (code) *code = o->exitCode;
  return TRUE;
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
DWORD GetTickCount(void) { return (DWORD)nowMs(); }
uint64_t GetTickCount64(void) { return nowMs(); }

HANDLE CreateMutexA(SECURITY_ATTRIBUTES*, BOOL initialOwner, LPCSTR name) {
  Guard g(kernelLock());
  std::shared_ptr<KObject> o;
  if (name && *name) {
    auto it = names().find(name);
    if (it != names().end()) o = it->second.lock();
  }
  if (o) {
    if (o->kind != KObject::Mutex) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    HANDLE h = addHandleLocked(o);
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  o = std::make_shared<KObject>();
  o->kind = KObject::Mutex;
  if (name && *name) {
    o->name = name;
    names()[name] = o;
  }
  if (initialOwner) {
    o->ownerTid = GetCurrentThreadId();
    o->recursion = 1;
  }
  HANDLE h = addHandleLocked(o);
  SetLastError(0);
  return h;
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
  Guard g(kernelLock());
  auto it = names().find(name ? name : "");
  std::shared_ptr<KObject> o = it == names().end() ? nullptr : it->second.lock();
  if (!o || o->kind != KObject::Mutex) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return addHandleLocked(o);
}

BOOL ReleaseMutex(HANDLE h) {
  DWORD me = GetCurrentThreadId();
  Guard g(kernelLock());
  auto o = objectLocked(h);
  if (!o || o->kind != KObject::Mutex || o->ownerTid != me) return FALSE;
  if (--o->recursion == 0) o->ownerTid = 0;
  kernelCond().broadcast();
  return TRUE;
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, LPCSTR name) {
  Guard g(kernelLock());
  if (name && *name) {
    auto it = names().find(name);
    if (auto o = it == names().end() ? nullptr : it->second.lock()) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return addHandleLocked(o);
    }
  }
  auto o = std::make_shared<KObject>();
  o->kind = KObject::Event;
  o->manualReset = manualReset;
  o->signalled = initialState;
  if (name && *name) {
    o->name = name;
    names()[name] = o;
  }
  SetLastError(0);
  return addHandleLocked(o);
}

BOOL SetEvent(HANDLE h) {
  Guard g(kernelLock());
  auto o = objectLocked(h);
  if (!o || o->kind != KObject::Event) return FALSE;
  o->signalled = true;
  kernelCond().broadcast();
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  Guard g(kernelLock());
  auto o = objectLocked(h);
  if (!o || o->kind != KObject::Event) return FALSE;
  o->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
  DWORD me = GetCurrentThreadId();
  uint64_t deadline = ms == INFINITE ? 0 : nowMs() + ms;
  Guard g(kernelLock());
  auto o = objectLocked(h);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  while (true) {
    switch (o->kind) {
      case KObject::Thread:
        if (o->ended) return WAIT_OBJECT_0;
        break;
      case KObject::Mutex:
        if (o->ownerTid == 0 || o->ownerTid == me) {
          o->ownerTid = me;
          o->recursion++;
          return WAIT_OBJECT_0;
        }
        break;
      case KObject::Event:
        if (o->signalled) {
          if (!o->manualReset) o->signalled = false;
          return WAIT_OBJECT_0;
        }
        break;
    }
    if (ms == INFINITE) {
      kernelCond().wait();
    } else {
      uint64_t now = nowMs();
      if (now >= deadline) return WAIT_TIMEOUT;
      ACE_Time_Value rel;
      rel.msec((long)(deadline - now));
      ACE_Time_Value until = ACE_OS::gettimeofday() + rel;
      kernelCond().wait(&until);
    }
  }
}

BOOL CloseHandle(HANDLE h) {
  Guard g(kernelLock());
  auto it = handles().find((uintptr_t)h);
  if (it == handles().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto o = it->second;
  handles().erase(it);
  if (--o->handles == 0 && !o->name.empty()) names().erase(o->name);
  return TRUE;
}

// ---- global memory --------------------------------------------------------------------------
namespace w32subst {
namespace detail {
bool takeAllocFault();  // clipboard.cpp
}
}  // namespace w32subst

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
  if (takeAllocFault()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Block* b = new Block();
  b->bytes.assign(bytes, 0);
  uintptr_t h = newHandle();
  Guard g(memLock());
  blocks()[h] = b;
  return (HGLOBAL)h;
}

LPVOID GlobalLock(HGLOBAL mem) {
  Guard g(memLock());
  auto it = blocks().find((uintptr_t)mem);
  if (it == blocks().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  it->second->locks++;
  return it->second->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL mem) {
  Guard g(memLock());
  auto it = blocks().find((uintptr_t)mem);
  if (it == blocks().end() || it->second->locks == 0) return FALSE;
  return --it->second->locks > 0 ? TRUE : FALSE;
}

SIZE_T GlobalSize(HGLOBAL mem) {
  Guard g(memLock());
  auto it = blocks().find((uintptr_t)mem);
  return it == blocks().end() ? 0 : it->second->bytes.size();
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  Guard g(memLock());
  auto it = blocks().find((uintptr_t)mem);
  if (it == blocks().end()) return mem;
  delete it->second;
  blocks().erase(it);
  return nullptr;
}

// ---- debug output ---------------------------------------------------------------------------
void OutputDebugStringA(LPCSTR text) {
  std::string line = text ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  static const bool toStderr = [] {
    const char* e = std::getenv("W32SUBST_DEBUG");
    return e && std::strcmp(e, "1") == 0;
  }();
  Guard g(debugLock());
  if (toStderr) std::fprintf(stderr, "[debug %u] %s\n", (unsigned)GetCurrentProcessId(), line.c_str());
  debugRing().push_back(line);
  if (debugRing().size() > kDebugRing) debugRing().pop_front();
}

void OutputDebugStringW(LPCWSTR text) {
  OutputDebugStringA(text ? utf16ToAcp(text).c_str() : "");
}

namespace w32subst {
std::vector<std::string> debugLines() {
  Guard g(debugLock());
  return std::vector<std::string>(debugRing().begin(), debugRing().end());
}

bool debugContains(const std::string& fragment) {
  Guard g(debugLock());
  for (auto& l : debugRing())
    if (l.find(fragment) != std::string::npos) return true;
  return false;
}

void clearDebugLines() {
  Guard g(debugLock());
  debugRing().clear();
}

// ---- modules and per-process slots ----------------------------------------------------------
HINSTANCE registerModule(const char* name) {
  Guard g(moduleLock());
  std::string key = lower(name ? name : "");
  auto it = modules().find(key);
  if (it != modules().end()) return it->second;
  HINSTANCE h = (HINSTANCE)newHandle();
  modules()[key] = h;
  return h;
}

void* processLocalSlot(const char* key, DWORD pid, void* (*make)()) {
  Guard g(moduleLock());
  auto& slot = slots()[std::make_pair(std::string(key), pid)];
  if (!slot) slot = make();
  return slot;
}
}  // namespace w32subst

HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) return registerModule("<program>");
  Guard g(moduleLock());
  std::string key = lower(name);
  auto it = modules().find(key);
  if (it == modules().end()) {
    // "PostwingHook.dll" finds the module registered as "PostwingHook".
    auto dot = key.rfind('.');
    if (dot != std::string::npos) it = modules().find(key.substr(0, dot));
  }
  if (it == modules().end()) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }
  return it->second;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buf, DWORD cap) {
  if (!buf || cap == 0) return 0;
  char path[4096];
  ssize_t n = -1;
  if (!module) n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n < 0) {
    std::string name;
    {
      Guard g(moduleLock());
      for (auto& kv : modules())
        if (kv.second == module) name = kv.first;
    }
    std::snprintf(path, sizeof(path), "%s", name.c_str());
    n = (ssize_t)std::strlen(path);
  }
  path[n] = 0;
  DWORD len = std::min<DWORD>((DWORD)n, cap - 1);
  std::memcpy(buf, path, len);
  buf[len] = 0;
  return len;
}

// Thread hooks: chains per thread and type, run on the hooked thread only.
#include "internal.h"

#include <algorithm>

namespace w32subst {
namespace detail {

namespace {
bool removedNow(HookRec* r) {
  Guard g(state().lock);
  return r->removed;
}

// Calls the first live procedure of frame fi from index start on; 0 at the end of the chain.
LRESULT callFrom(size_t fi, size_t start, int code, WPARAM w, LPARAM l) {
  ThreadInfo* me = self();
  for (size_t i = start; i < me->frames[fi].chain.size(); ++i) {
    HookRec* r = me->frames[fi].chain[i];
    if (removedNow(r)) continue;
    size_t saved = me->frames[fi].index;
    me->frames[fi].index = i;
    LRESULT res = r->proc(code, w, l);
    me->frames[fi].index = saved;
    return res;
  }
  return 0;
}
}  // namespace

LRESULT runHooks(int type, int code, WPARAM w, LPARAM l) {
  ThreadInfo* me = self();
  std::vector<HookRec*> chain;
  {
    Guard g(state().lock);
    auto it = me->chains.find(type);
    if (it == me->chains.end() || it->second.empty()) return 0;
    chain = it->second;
  }
  me->frames.push_back(HookFrame{chain, 0});
  size_t fi = me->frames.size() - 1;
  LRESULT r = callFrom(fi, 0, code, w, l);
  me->frames.pop_back();
  return r;
}

}  // namespace detail

using namespace detail;

int hookCount(DWORD tid, int type) {
  Guard g(state().lock);
  ThreadInfo* t = threadLocked(tid);
  if (!t) return 0;
  auto it = t->chains.find(type);
  return it == t->chains.end() ? 0 : (int)it->second.size();
}

void failNextHookInstall(int type) {
  Guard g(state().lock);
  state().failHook[type]++;
}

LRESULT fireCbt(DWORD tid, int code, WPARAM w, LPARAM l) {
  LRESULT r = 0;
  runOnThread(tid, [&] { r = runHooks(WH_CBT, code, w, l); });
  return r;
}

}  // namespace w32subst

using namespace w32subst;
using namespace w32subst::detail;

HHOOK SetWindowsHookExA(int type, HOOKPROC proc, HINSTANCE hmod, DWORD tid) {
  ThreadInfo* me = self();
  State& s = state();
  Guard g(s.lock);
  auto f = s.failHook.find(type);
  if (f != s.failHook.end() && f->second > 0) {
    f->second--;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!proc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (tid == 0) {  // system-wide hooks are not part of this stand-in
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ThreadInfo* t = threadLocked(tid);
  if (!t || !t->alive) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (t != me && !hmod) {
    SetLastError(ERROR_HOOK_NEEDS_HMOD);
    return nullptr;
  }
  HookRec* r = new HookRec{(HHOOK)newHandle(), type, proc, t, false};
  auto& chain = t->chains[type];
  chain.insert(chain.begin(), r);
  s.hooks[(uintptr_t)r->handle] = r;
  return r->handle;
}

HHOOK SetWindowsHookExW(int type, HOOKPROC proc, HINSTANCE hmod, DWORD tid) {
  return SetWindowsHookExA(type, proc, hmod, tid);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  State& s = state();
  Guard g(s.lock);
  auto it = s.hooks.find((uintptr_t)hook);
  if (it == s.hooks.end() || it->second->removed) {
    SetLastError(ERROR_INVALID_HOOK_HANDLE);
    return FALSE;
  }
  HookRec* r = it->second;
  r->removed = true;
  auto& chain = r->thread->chains[r->type];
  chain.erase(std::remove(chain.begin(), chain.end(), r), chain.end());
  return TRUE;
}

LRESULT CallNextHookEx(HHOOK, int code, WPARAM w, LPARAM l) {
  ThreadInfo* me = self();
  if (me->frames.empty()) return 0;
  size_t fi = me->frames.size() - 1;
  return callFrom(fi, me->frames[fi].index + 1, code, w, l);
}

// Message queues: sent, posted and input messages, the message loop calls, timers, the default
// window procedure and the system Button class.
#include "internal.h"

#include <ace/OS_NS_sys_time.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace w32subst {
namespace detail {

LRESULT callProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  WNDPROC proc;
  {
    Guard g(state().lock);
    Window* win = findLocked(h);
    if (!win) return 0;
    proc = win->proc;
  }
  return proc ? proc(h, msg, w, l) : 0;
}

LRESULT deliverSent(HWND h, UINT msg, WPARAM w, LPARAM l, bool fromSameThread) {
  CWPSTRUCT cwp{l, w, msg, h};
  runHooks(WH_CALLWNDPROC, HC_ACTION, fromSameThread ? 1 : 0, (LPARAM)&cwp);
  ThreadInfo* me = self();
  ++me->inSend;
  LRESULT r = callProc(h, msg, w, l);
  --me->inSend;
  return r;
}

namespace {
// Handles one message sent by another thread (lock not held).
void processSent(const std::shared_ptr<SentItem>& item) {
  LRESULT r = 0;
  if (item->task)
    item->task();
  else
    r = deliverSent(item->hwnd, item->msg, item->wParam, item->lParam, false);
  Guard g(state().lock);
  item->result = r;
  item->done = true;
  if (item->sender) item->sender->cond.broadcast();
}

ACE_Time_Value absoluteIn(uint64_t ms) {
  ACE_Time_Value tv;
  tv.msec((long)ms);
  return ACE_OS::gettimeofday() + tv;
}

// Queues item on target and waits for its answer, handling messages sent to this thread
// meanwhile. Lock held on entry and on return. timeoutMs < 0: no limit.
bool waitForAnswer(Guard& g, ThreadInfo* me, ThreadInfo* target,
                   const std::shared_ptr<SentItem>& item, int timeoutMs) {
  item->sender = me;
  target->sent.push_back(item);
  wakeLocked(target);
  uint64_t deadline = timeoutMs < 0 ? 0 : nowMs() + (uint64_t)timeoutMs;
  while (!item->done) {
    if (!me->sent.empty()) {
      auto in = me->sent.front();
      me->sent.pop_front();
      g.release();
      processSent(in);
      g.acquire();
      continue;
    }
    if (timeoutMs < 0) {
      me->cond.wait();
    } else {
      uint64_t now = nowMs();
      if (now >= deadline) {
        auto& q = target->sent;
        q.erase(std::remove(q.begin(), q.end(), item), q.end());
        item->sender = nullptr;
        return false;
      }
      ACE_Time_Value until = absoluteIn(deadline - now);
      me->cond.wait(&until);
    }
  }
  return !item->failed;
}

LRESULT sendImpl(HWND h, UINT msg, WPARAM w, LPARAM l, int timeoutMs, bool* ok) {
  ThreadInfo* me = self();
  State& s = state();
  Guard g(s.lock);
  Window* win = findLocked(h);
  if (ok) *ok = false;
  if (!win || !win->thread) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  ThreadInfo* target = win->thread;
  if (target == me) {
    g.release();
    if (ok) *ok = true;
    return deliverSent(h, msg, w, l, true);
  }
  if (!target->alive) return 0;
  auto item = std::make_shared<SentItem>();
  item->hwnd = h;
  item->msg = msg;
  item->wParam = w;
  item->lParam = l;
  bool answered = waitForAnswer(g, me, target, item, timeoutMs);
  if (ok) *ok = answered;
  if (!answered && timeoutMs >= 0) SetLastError(ERROR_TIMEOUT);
  return answered ? item->result : 0;
}

bool postImpl(ThreadInfo* t, HWND h, UINT msg, WPARAM w, LPARAM l) {
  State& s = state();
  if (!t || !t->alive) return false;
  QueuedMsg q;
  q.msg = MSG{h, msg, w, l, (DWORD)nowMs(), s.cursor};
  q.seq = ++s.seq;
  t->posted.push_back(q);
  wakeLocked(t);
  return true;
}

bool matches(const MSG& m, HWND filter, UINT lo, UINT hi) {
  if (filter == (HWND)(LONG_PTR)-1) {
    if (m.hwnd) return false;
  } else if (filter && m.hwnd != filter && !isChildLocked(filter, m.hwnd)) {
    return false;
  }
  if (lo == 0 && hi == 0) return true;
  return m.message >= lo && m.message <= hi;
}

bool anyBefore(const std::deque<QueuedMsg>& q, uint64_t seq) {
  for (auto& e : q)
    if (e.seq < seq) return true;
  return false;
}

bool isButtonDown(UINT m) { return m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN; }

// What the platform does on the target thread when it takes a mouse message from the input
// queue: mouse activation, the cursor query and the parent notifications. False: eaten.
bool mouseSideEffects(ThreadInfo* me, const MSG& m) {
  HWND root = GetAncestor(m.hwnd, GA_ROOT);
  bool eat = false;
  if (isButtonDown(m.message)) {
    bool inactive;
    {
      Guard g(state().lock);
      inactive = me->active != root;
    }
    if (inactive) {
      LRESULT r = SendMessageA(m.hwnd, WM_MOUSEACTIVATE, (WPARAM)root, MAKELPARAM(HTCLIENT, m.message));
      if (r == MA_ACTIVATE || r == MA_ACTIVATEANDEAT || r == 0) activate(root, WA_CLICKACTIVE);
      eat = r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT;
    }
  }
  SendMessageA(m.hwnd, WM_SETCURSOR, (WPARAM)m.hwnd, MAKELPARAM(HTCLIENT, m.message));
  if (!eat && isButtonDown(m.message)) {
    HWND child = m.hwnd;
    while (true) {
      HWND parent;
      DWORD ex;
      {
        Guard g(state().lock);
        Window* w = findLocked(child);
        if (!w || !(w->style & WS_CHILD)) break;
        ex = w->exStyle;
        parent = w->parent;
      }
      if (ex & WS_EX_NOPARENTNOTIFY) break;
      POINT pt = m.pt;
      ScreenToClient(parent, &pt);
      SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(m.message, 0), MAKELPARAM(pt.x, pt.y));
      child = parent;
    }
  }
  return !eat;
}

// The heart of GetMessage/PeekMessage. Returns false when wait is off and nothing is there.
bool takeMessage(MSG* out, HWND filter, UINT lo, UINT hi, bool remove, bool wait) {
  ThreadInfo* me = self();
  State& s = state();
  Guard g(s.lock);
  while (true) {
    if (!me->sent.empty()) {
      auto item = me->sent.front();
      me->sent.pop_front();
      g.release();
      processSent(item);
      g.acquire();
      continue;
    }
    // Posted messages (and tasks).
    bool again = false;
    for (auto it = me->posted.begin(); it != me->posted.end(); ++it) {
      if (it->task) {
        if (!remove) continue;
        QueuedMsg q = *it;
        me->posted.erase(it);
        if (q.barrier && anyBefore(me->input, q.seq)) {
          me->input.push_back(q);
        } else {
          g.release();
          q.task();
          g.acquire();
        }
        again = true;
        break;
      }
      if (!matches(it->msg, filter, lo, hi)) continue;
      *out = it->msg;
      if (remove) {
        me->posted.erase(it);
        me->lastPos = out->pt;
        me->lastTime = out->time;
      }
      return true;
    }
    if (again) continue;
    // Input messages.
    for (auto it = me->input.begin(); it != me->input.end(); ++it) {
      if (it->task) {
        if (!remove) continue;
        QueuedMsg q = *it;
        me->input.erase(it);
        g.release();
        q.task();
        g.acquire();
        again = true;
        break;
      }
      MSG m = it->msg;
      if (it->keyboard) {
        m.hwnd = me->focus ? me->focus : me->active;
        if (!m.hwnd) {
          if (remove) {
            me->input.erase(it);
            again = true;
            break;
          }
          continue;
        }
      }
      if (!matches(m, filter, lo, hi)) continue;
      if (!remove) {
        *out = m;
        return true;
      }
      bool keyboard = it->keyboard;
      me->input.erase(it);
      me->lastPos = m.pt;
      me->lastTime = m.time;
      if (keyboard) {
        BYTE vk = (BYTE)m.wParam;
        if (m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN) {
          if (!(me->keys[vk] & 0x80)) me->keys[vk] ^= 0x01;
          me->keys[vk] |= 0x80;
        } else {
          me->keys[vk] &= ~0x80;
        }
        *out = m;
        return true;
      }
      g.release();
      bool deliver = mouseSideEffects(me, m);
      g.acquire();
      if (deliver && findLocked(m.hwnd)) {
        *out = m;
        return true;
      }
      again = true;
      break;
    }
    if (again) continue;
    if (me->quit && (filter == nullptr || filter == (HWND)(LONG_PTR)-1)) {
      *out = MSG{nullptr, WM_QUIT, (WPARAM)me->quitCode, 0, (DWORD)nowMs(), s.cursor};
      if (remove) me->quit = false;
      return true;
    }
    // Timers.
    uint64_t now = nowMs();
    uint64_t nextDue = 0;
    for (auto& t : me->timers) {
      MSG m{t.hwnd, WM_TIMER, t.id, (LPARAM)t.proc, (DWORD)now, s.cursor};
      if (!matches(m, filter, lo, hi)) continue;
      if (t.due <= now) {
        if (remove) t.due = now + t.interval;
        *out = m;
        return true;
      }
      if (!nextDue || t.due < nextDue) nextDue = t.due;
    }
    if (!wait) return false;
    if (nextDue) {
      ACE_Time_Value until = absoluteIn(nextDue - now);
      me->cond.wait(&until);
    } else {
      me->cond.wait();
    }
  }
}
}  // namespace

LRESULT CALLBACK buttonProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto notify = [h] {
    HWND parent = GetParent(h);
    int id = GetDlgCtrlID(h);
    if (parent) SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id & 0xFFFF, BN_CLICKED), (LPARAM)h);
  };
  switch (msg) {
    case BM_SETIMAGE:
    case BM_GETIMAGE:
    case BM_SETCHECK:
    case BM_GETCHECK: {
      Guard g(state().lock);
      Window* win = findLocked(h);
      if (!win) return 0;
      LRESULT old = msg == BM_SETIMAGE || msg == BM_GETIMAGE ? win->image : win->check;
      if (msg == BM_SETIMAGE) win->image = l;
      if (msg == BM_SETCHECK) win->check = (int)w;
      return old;
    }
    case WM_LBUTTONDOWN: {
      {
        Guard g(state().lock);
        if (Window* win = findLocked(h)) win->pressed = true;
      }
      SetCapture(h);
      return 0;
    }
    case WM_LBUTTONUP: {
      bool was = false;
      RECT r{0, 0, 0, 0};
      {
        Guard g(state().lock);
        if (Window* win = findLocked(h)) {
          was = win->pressed;
          win->pressed = false;
          r = RECT{0, 0, win->rect.right - win->rect.left, win->rect.bottom - win->rect.top};
        }
      }
      if (GetCapture() == h) ReleaseCapture();
      POINT pt{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
      if (was && PtInRect(&r, pt)) notify();
      return 0;
    }
    case BM_CLICK:
      notify();
      return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}

}  // namespace detail

using namespace detail;

bool runOnThread(DWORD tid, const std::function<void()>& fn) {
  ThreadInfo* me = self();
  if (me->tid == tid) {
    fn();
    return true;
  }
  State& s = state();
  Guard g(s.lock);
  ThreadInfo* t = threadLocked(tid);
  if (!t || !t->alive) return false;
  auto item = std::make_shared<SentItem>();
  item->task = fn;
  return waitForAnswer(g, me, t, item, -1);
}

bool postToThread(DWORD tid, const std::function<void()>& fn) {
  State& s = state();
  Guard g(s.lock);
  ThreadInfo* t = threadLocked(tid);
  if (!t || !t->alive) return false;
  QueuedMsg q;
  q.task = fn;
  q.seq = ++s.seq;
  t->posted.push_back(q);
  wakeLocked(t);
  return true;
}

int sentWaiting(DWORD tid) {
  Guard g(state().lock);
  ThreadInfo* t = threadLocked(tid);
  return t ? (int)t->sent.size() : 0;
}

bool waitIdle(DWORD tid, int timeoutMs) {
  State& s = state();
  auto done = std::make_shared<bool>(false);
  Guard g(s.lock);
  ThreadInfo* t = threadLocked(tid);
  if (!t || !t->alive) return false;
  QueuedMsg q;
  q.barrier = true;
  q.seq = ++s.seq;
  q.task = [done] {
    Guard g2(state().lock);
    *done = true;
    state().idleCond.broadcast();
  };
  t->posted.push_back(q);
  wakeLocked(t);
  uint64_t deadline = nowMs() + (uint64_t)timeoutMs;
  while (!*done) {
    if (!t->alive) return false;
    uint64_t now = nowMs();
    if (now >= deadline) return false;
    ACE_Time_Value until = absoluteIn(deadline - now);
    s.idleCond.wait(&until);
  }
  return true;
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
  uint64_t deadline = nowMs() + (uint64_t)timeoutMs;
  while (true) {
    if (pred()) return true;
    if (nowMs() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace w32subst

using namespace w32subst;
using namespace w32subst::detail;

LRESULT SendMessageA(HWND h, UINT msg, WPARAM w, LPARAM l) { return sendImpl(h, msg, w, l, -1, nullptr); }
LRESULT SendMessageW(HWND h, UINT msg, WPARAM w, LPARAM l) { return sendImpl(h, msg, w, l, -1, nullptr); }

LRESULT SendMessageTimeoutA(HWND h, UINT msg, WPARAM w, LPARAM l, UINT, UINT timeoutMs,
                            DWORD_PTR* result) {
  bool ok = false;
  LRESULT r = sendImpl(h, msg, w, l, (int)timeoutMs, &ok);
  if (result) *result = (DWORD_PTR)r;
  return ok ? 1 : 0;
}

BOOL PostMessageA(HWND h, UINT msg, WPARAM w, LPARAM l) {
  ThreadInfo* me = h ? nullptr : self();
  Guard g(state().lock);
  if (!h) return postImpl(me, nullptr, msg, w, l);
  Window* win = findLocked(h);
  if (!win) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return postImpl(win->thread, h, msg, w, l) ? TRUE : FALSE;
}

BOOL PostMessageW(HWND h, UINT msg, WPARAM w, LPARAM l) { return PostMessageA(h, msg, w, l); }

BOOL PostThreadMessageA(DWORD tid, UINT msg, WPARAM w, LPARAM l) {
  Guard g(state().lock);
  ThreadInfo* t = threadLocked(tid);
  if (!t || !t->alive) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return postImpl(t, nullptr, msg, w, l) ? TRUE : FALSE;
}

BOOL PostThreadMessageW(DWORD tid, UINT msg, WPARAM w, LPARAM l) { return PostThreadMessageA(tid, msg, w, l); }

void PostQuitMessage(int code) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  me->quit = true;
  me->quitCode = code;
  wakeLocked(me);
}

BOOL GetMessageA(LPMSG msg, HWND h, UINT lo, UINT hi) {
  takeMessage(msg, h, lo, hi, true, true);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL GetMessageW(LPMSG msg, HWND h, UINT lo, UINT hi) { return GetMessageA(msg, h, lo, hi); }

BOOL PeekMessageA(LPMSG msg, HWND h, UINT lo, UINT hi, UINT flags) {
  return takeMessage(msg, h, lo, hi, (flags & PM_REMOVE) != 0, false) ? TRUE : FALSE;
}

BOOL PeekMessageW(LPMSG msg, HWND h, UINT lo, UINT hi, UINT flags) { return PeekMessageA(msg, h, lo, hi, flags); }

BOOL WaitMessage(void) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  if (!me->sent.empty() || !me->posted.empty() || !me->input.empty() || me->quit) return TRUE;
  uint64_t nextDue = 0;
  for (auto& t : me->timers)
    if (!nextDue || t.due < nextDue) nextDue = t.due;
  if (!nextDue) {
    me->cond.wait();
  } else if (nextDue > nowMs()) {
    ACE_Time_Value until = absoluteIn(nextDue - nowMs());
    me->cond.wait(&until);
  }
  return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
  UINT vk = (UINT)msg->wParam;
  bool shift = GetKeyState(VK_SHIFT) < 0;
  bool ctrl = GetKeyState(VK_CONTROL) < 0;
  int ch = -1;
  if (vk >= 'A' && vk <= 'Z')
    ch = ctrl ? (int)(vk - 'A' + 1) : (shift ? (int)vk : (int)(vk - 'A' + 'a'));
  else if (vk >= '0' && vk <= '9')
    ch = (int)vk;
  else if (vk == VK_SPACE || vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE)
    ch = (int)vk;
  if (ch < 0) return FALSE;
  PostMessageA(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, (WPARAM)ch, msg->lParam);
  return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    ((TIMERPROC)msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DispatchMessageW(const MSG* msg) { return DispatchMessageA(msg); }
BOOL IsDialogMessageA(HWND, LPMSG) { return FALSE; }

DWORD GetMessagePos(void) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  return (DWORD)MAKELONG((WORD)(short)me->lastPos.x, (WORD)(short)me->lastPos.y);
}

LONG GetMessageTime(void) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  return (LONG)me->lastTime;
}

BOOL InSendMessage(void) { return self()->inSend > 0; }

UINT_PTR SetTimer(HWND h, UINT_PTR id, UINT ms, TIMERPROC proc) {
  ThreadInfo* me = self();
  State& s = state();
  Guard g(s.lock);
  ThreadInfo* t = me;
  if (h) {
    Window* w = findLocked(h);
    if (!w) return 0;
    t = w->thread;
  } else {
    id = (UINT_PTR)newHandle();
  }
  if (ms < 10) ms = 10;
  for (auto& r : t->timers)
    if (r.hwnd == h && r.id == id) {
      r.interval = ms;
      r.due = nowMs() + ms;
      r.proc = proc;
      wakeLocked(t);
      return h ? id : r.id;
    }
  t->timers.push_back(TimerRec{h, id, ms, nowMs() + ms, proc});
  wakeLocked(t);
  return id ? id : 1;
}

BOOL KillTimer(HWND h, UINT_PTR id) {
  State& s = state();
  Guard g(s.lock);
  for (auto& kv : s.threads) {
    auto& v = kv.second->timers;
    auto it = std::find_if(v.begin(), v.end(), [&](const TimerRec& r) { return r.hwnd == h && r.id == id; });
    if (it != v.end()) {
      v.erase(it);
      return TRUE;
    }
  }
  return FALSE;
}

UINT RegisterWindowMessageA(LPCSTR name) { return name ? registerAtomName(name) : 0; }

// ---- default procedure ----------------------------------------------------------------------
namespace {
LRESULT defProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(h);
      return 0;
    // The stand-in's text messages carry ANSI text whichever form of the procedure runs.
    case WM_SETTEXT:
      return setStoredText(h, l ? acpToUtf16((LPCSTR)l) : std::u16string()) ? TRUE : FALSE;
    case WM_GETTEXT: {
      std::u16string t;
      if (!l || w == 0) return 0;
      ((LPSTR)l)[0] = 0;
      if (!storedText(h, &t)) return 0;
      std::string a = utf16ToAcp(t);
      size_t n = 0;  // never splits a double-byte character
      while (n < a.size()) {
        size_t step = ((unsigned char)a[n] & 0x80) && n + 1 < a.size() ? 2 : 1;
        if (n + step > (size_t)w - 1) break;
        n += step;
      }
      std::memcpy((LPSTR)l, a.data(), n);
      ((LPSTR)l)[n] = 0;
      return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH: {
      std::u16string t;
      return storedText(h, &t) ? (LRESULT)utf16ToAcp(t).size() : 0;
    }
    case WM_MOUSEACTIVATE:
    case WM_SETCURSOR: {
      HWND parent = nullptr;
      {
        Guard g(state().lock);
        Window* win = findLocked(h);
        if (win && (win->style & WS_CHILD)) parent = win->parent;
      }
      if (parent) {
        LRESULT r = SendMessageA(parent, msg, w, l);
        if (r) return r;
      }
      return msg == WM_MOUSEACTIVATE ? MA_ACTIVATE : FALSE;
    }
    case WM_ACTIVATE:
      if (LOWORD(w) != WA_INACTIVE) {
        HWND focus = GetFocus();
        if (!focus || GetAncestor(focus, GA_ROOT) != h) SetFocus(h);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
  }
  return 0;
}
}  // namespace

LRESULT DefWindowProcA(HWND h, UINT msg, WPARAM w, LPARAM l) { return defProc(h, msg, w, l); }
LRESULT DefWindowProcW(HWND h, UINT msg, WPARAM w, LPARAM l) { return defProc(h, msg, w, l); }

LRESULT CallWindowProcA(WNDPROC prev, HWND h, UINT msg, WPARAM w, LPARAM l) {
  return prev ? prev(h, msg, w, l) : 0;
}

LRESULT CallWindowProcW(WNDPROC prev, HWND h, UINT msg, WPARAM w, LPARAM l) {
  return prev ? prev(h, msg, w, l) : 0;
}

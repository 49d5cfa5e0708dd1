// Synthesised input: the cursor, its clip, mouse and keyboard events queued to the thread of
// the window they reach, and the key state.
#include "internal.h"

#include <algorithm>

namespace w32subst {
namespace detail {
namespace {
void clampLocked(POINT* p) {
  State& s = state();
  if (s.clipped) {
    p->x = std::max(s.clip.left, std::min(p->x, std::max(s.clip.left, s.clip.right - 1)));
    p->y = std::max(s.clip.top, std::min(p->y, std::max(s.clip.top, s.clip.bottom - 1)));
  }
  p->x = std::max(0, std::min(p->x, (LONG)s.screenW - 1));
  p->y = std::max(0, std::min(p->y, (LONG)s.screenH - 1));
}

WPARAM mouseKeysLocked() {
  State& s = state();
  WPARAM k = 0;
  if (s.asyncKeys[VK_LBUTTON] & 0x80) k |= MK_LBUTTON;
  if (s.asyncKeys[VK_RBUTTON] & 0x80) k |= MK_RBUTTON;
  if (s.asyncKeys[VK_MBUTTON] & 0x80) k |= MK_MBUTTON;
  if (s.asyncKeys[VK_SHIFT] & 0x80) k |= MK_SHIFT;
  if (s.asyncKeys[VK_CONTROL] & 0x80) k |= MK_CONTROL;
  return k;
}

// Queues one mouse message for the window the cursor (or the capture) designates.
void queueMouseLocked(UINT msg, DWORD flags) {
  State& s = state();
  Window* target = s.capture ? findLocked(s.capture) : windowFromPointLocked(s.cursor);
  InputEvent ev;
  ev.kind = InputEvent::Mouse;
  ev.flags = flags;
  ev.pt = s.cursor;
  ev.target = target ? target->handle : nullptr;
  s.inputLog.push_back(ev);
  if (!target || !target->thread || !target->thread->alive) return;
  POINT o = originLocked(target);
  QueuedMsg q;
  q.msg = MSG{target->handle, msg, mouseKeysLocked(),
              MAKELPARAM(s.cursor.x - o.x, s.cursor.y - o.y), (DWORD)nowMs(), s.cursor};
  q.seq = ++s.seq;
  target->thread->input.push_back(q);
  wakeLocked(target->thread);
}

void mouseLocked(const MOUSEINPUT& mi) {
  State& s = state();
  if (mi.dwFlags & MOUSEEVENTF_MOVE) {
    if (mi.dwFlags & MOUSEEVENTF_ABSOLUTE) {
      s.cursor.x = (LONG)((int64_t)mi.dx * s.screenW / 65536);
      s.cursor.y = (LONG)((int64_t)mi.dy * s.screenH / 65536);
    } else {
      s.cursor.x += mi.dx;
      s.cursor.y += mi.dy;
    }
    clampLocked(&s.cursor);
    queueMouseLocked(WM_MOUSEMOVE, MOUSEEVENTF_MOVE);
  }
  struct {
    DWORD flag;
    UINT msg;
    int vk;
    bool down;
  } buttons[] = {
      {MOUSEEVENTF_LEFTDOWN, WM_LBUTTONDOWN, VK_LBUTTON, true},
      {MOUSEEVENTF_LEFTUP, WM_LBUTTONUP, VK_LBUTTON, false},
      {MOUSEEVENTF_RIGHTDOWN, WM_RBUTTONDOWN, VK_RBUTTON, true},
      {MOUSEEVENTF_RIGHTUP, WM_RBUTTONUP, VK_RBUTTON, false},
      {MOUSEEVENTF_MIDDLEDOWN, WM_MBUTTONDOWN, VK_MBUTTON, true},
      {MOUSEEVENTF_MIDDLEUP, WM_MBUTTONUP, VK_MBUTTON, false},
  };
  for (auto& b : buttons) {
    if (!(mi.dwFlags & b.flag)) continue;
    if (b.down)
      s.asyncKeys[b.vk] |= 0x80;
    else
      s.asyncKeys[b.vk] &= ~0x80;
    queueMouseLocked(b.msg, b.flag);
  }
}

void keyLocked(const KEYBDINPUT& ki) {
  State& s = state();
  bool up = (ki.dwFlags & KEYEVENTF_KEYUP) != 0;
  BYTE vk = (BYTE)ki.wVk;
  if (up)
    s.asyncKeys[vk] &= ~0x80;
  else
    s.asyncKeys[vk] |= 0x80;
  Window* fg = findLocked(s.foreground);
  InputEvent ev;
  ev.kind = InputEvent::Key;
  ev.flags = ki.dwFlags;
  ev.vk = ki.wVk;
  ev.pt = s.cursor;
  ev.target = fg ? fg->handle : nullptr;
  s.inputLog.push_back(ev);
  if (!fg || !fg->thread || !fg->thread->alive) return;
  QueuedMsg q;
  LPARAM lp = 1 | ((LPARAM)(ki.wScan & 0xFF) << 16);
  if (up) lp |= (LPARAM)0xC0000000u;
  q.msg = MSG{nullptr, up ? (UINT)WM_KEYUP : (UINT)WM_KEYDOWN, ki.wVk, lp, (DWORD)nowMs(), s.cursor};
  q.seq = ++s.seq;
  q.keyboard = true;
  fg->thread->input.push_back(q);
  wakeLocked(fg->thread);
}
}  // namespace
}  // namespace detail

using namespace detail;

std::vector<InputEvent> inputLog() {
  Guard g(state().lock);
  return state().inputLog;
}

void clearInputLog() {
  Guard g(state().lock);
  state().inputLog.clear();
}

void click(HWND h, int x, int y, bool right) {
  POINT pt{x, y};
  ClientToScreen(h, &pt);
  SetCursorPos(pt.x, pt.y);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

}  // namespace w32subst

using namespace w32subst;
using namespace w32subst::detail;

UINT SendInput(UINT count, LPINPUT inputs, int size) {
  if (!inputs || size != (int)sizeof(INPUT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Guard g(state().lock);
  for (UINT i = 0; i < count; ++i) {
    if (inputs[i].type == INPUT_MOUSE)
      mouseLocked(inputs[i].mi);
    else if (inputs[i].type == INPUT_KEYBOARD)
      keyLocked(inputs[i].ki);
  }
  return count;
}

void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki = KEYBDINPUT{vk, scan, flags, GetTickCount(), extra};
  SendInput(1, &in, sizeof(INPUT));
}

void mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extra) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi = MOUSEINPUT{(LONG)dx, (LONG)dy, data, flags, GetTickCount(), extra};
  SendInput(1, &in, sizeof(INPUT));
}

BOOL SetCursorPos(int x, int y) {
  Guard g(state().lock);
  POINT p{x, y};
  clampLocked(&p);
  state().cursor = p;
  return TRUE;
}

BOOL GetCursorPos(LPPOINT pt) {
  if (!pt) return FALSE;
  Guard g(state().lock);
  *pt = state().cursor;
  return TRUE;
}

BOOL ClipCursor(const RECT* r) {
  State& s = state();
  Guard g(s.lock);
  if (!r) {
    s.clipped = false;
    return TRUE;
  }
  // Normalised: an inverted rectangle {x+1, y+1, x, y} pins the cursor at (x, y).
  s.clip = RECT{std::min(r->left, r->right), std::min(r->top, r->bottom),
                std::max(r->left, r->right), std::max(r->top, r->bottom)};
  s.clipped = true;
  clampLocked(&s.cursor);
  return TRUE;
}

BOOL GetClipCursor(LPRECT r) {
  if (!r) return FALSE;
  State& s = state();
  Guard g(s.lock);
  *r = s.clipped ? s.clip : RECT{0, 0, s.screenW, s.screenH};
  return TRUE;
}

SHORT GetKeyState(int vk) {
  ThreadInfo* me = self();
  Guard g(state().lock);
  BYTE k = me->keys[vk & 0xFF];
  return (SHORT)(((k & 0x80) ? 0xFF80 : 0) | (k & 0x01));
}

SHORT GetAsyncKeyState(int vk) {
  Guard g(state().lock);
  return (state().asyncKeys[vk & 0xFF] & 0x80) ? (SHORT)0x8000 : 0;
}

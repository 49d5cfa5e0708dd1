// Filling recipients and pasting attachments: what the desktop program's replies do to a
// compose window. Both run on the agent's receive thread and reach the window only through
// posted messages and synthesised input.
#include "hook/PostwingWind.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {
const int kMaxControlText = 2048;

void sendKeys(std::initializer_list<std::pair<WORD, bool>> keys) {
  std::vector<INPUT> inputs;
  for (auto& k : keys) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = k.first;
    in.ki.wScan = 0;
    in.ki.dwFlags = k.second ? KEYEVENTF_KEYUP : 0;
    in.ki.time = GetTickCount();
    in.ki.dwExtraInfo = 0;
    inputs.push_back(in);
  }
  SendInput((UINT)inputs.size(), inputs.data(), sizeof(INPUT));
}

// Where the paste may click: the screen less the taskbar, by the edge the taskbar is docked
// to. The taskbar lies at the bottom when it spans the screen's width below its middle.
struct WorkArea {
  RECT bounds;          // clicks stay inside
  bool bottomTaskbar;   // a window reaching below bounds.bottom is moved up
};

WorkArea workArea() {
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  WorkArea a{RECT{0, 0, sw, sh}, false};
  RECT t;
  HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
  if (!tray || !GetWindowRect(tray, &t)) return a;
  bool wide = (t.right - t.left) >= (t.bottom - t.top);
  if (wide && t.top > sh / 2) {
    a.bounds.bottom = t.top;
    a.bottomTaskbar = true;
  } else if (wide) {
    a.bounds.top = t.bottom;
  } else if (t.left > sw / 2) {
    a.bounds.right = t.left;
  } else {
    a.bounds.left = t.right;
  }
  return a;
}
}  // namespace

void typeIntoEdit(const std::string& list, PostwingWind* wind, HWND control) {
  if (GetWindowTextLengthA(control) > kMaxControlText) return;
  // As long as the list needs: no fixed buffer, so no list is cut or overruns one.
  std::u16string units;
  int n = list.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, list.data(), (int)list.size(), nullptr, 0);
  if (n > 0) {
    units.resize((size_t)n);
    MultiByteToWideChar(CP_ACP, 0, list.data(), (int)list.size(), &units[0], n);
  }
  units.push_back(u';');
  for (char16_t u : units) PostMessageW(control, WM_IME_CHAR, (WPARAM)(uint16_t)u, 0);
  PostMessageW(wind->root(), WM_PAINT, 0, 0);
}

int PostwingWind::fillTo(const std::string& list) {
  HWND to = controls().to;
  if (!to) return -1;
  typeIntoEdit(list, this, to);
  return 0;
}

int PostwingWind::fillCc(const std::string& list) {
  HWND cc = controls().cc;
  if (!cc) return -1;
  typeIntoEdit(list, this, cc);
  return 0;
}

int PostwingWind::fillBcc(const std::string& list) {
  HWND bcc = controls().bcc;
  if (!bcc) return -1;
  typeIntoEdit(list, this, bcc);
  return 0;
}

int PostwingWind::insertAttachment(const std::string&) {
  HWND editor = controls().editor;
  if (!editor) return -1;
  SwitchToThisWindow(root_, TRUE);

  // A compose window lying partly under a bottom taskbar is moved up (never above the
  // screen's top); a taskbar at another edge moves nothing.
  WorkArea area = workArea();
  RECT root;
  if (area.bottomTaskbar && GetWindowRect(root_, &root) && root.bottom > area.bounds.bottom) {
    int dy = std::min<int>(root.bottom - area.bounds.bottom, std::max<int>(root.top - area.bounds.top, 0));
    if (dy > 0) MoveWindow(root_, root.left, root.top - dy, root.right - root.left, root.bottom - root.top, TRUE);
  }

  RECT e;
  if (!GetWindowRect(editor, &e)) return -1;
  int x = std::min<int>(e.right, area.bounds.right) - 60;
  int y = std::min<int>(e.bottom, area.bounds.bottom) - 10;

  RECT pin{x + 1, y + 1, x, y};
  ClipCursor(&pin);
  SetCursorPos(x, y);
  mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  Sleep(50);
  sendKeys({{VK_CONTROL, false}, {VK_END, false}, {VK_END, true}, {VK_CONTROL, true}});
  Sleep(50);
  sendKeys({{VK_NEXT, false}, {VK_NEXT, true}});
  Sleep(50);
  mouse_event(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0, 0);
  mouse_event(MOUSEEVENTF_RIGHTUP, 0, 0, 0, 0);
  Sleep(100);
  sendKeys({{'P', false}, {'P', true}});
  Sleep(50);
  ClipCursor(nullptr);
  return 0;
}

// Windows, procedures, sent and posted messages, subclassing and hooks across threads and
// simulated processes.
#include "win32/windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace w32subst;

namespace {
struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM w;
  LPARAM l;
  DWORD tid;
};
std::mutex g_seenMutex;
std::vector<Seen> g_seen;  // guarded by g_seenMutex

void record(HWND h, UINT m, WPARAM w, LPARAM l) {
  std::lock_guard<std::mutex> g(g_seenMutex);
  g_seen.push_back(Seen{h, m, w, l, GetCurrentThreadId()});
}
std::vector<Seen> seen(UINT msg) {
  std::lock_guard<std::mutex> g(g_seenMutex);
  std::vector<Seen> out;
  for (auto& s : g_seen)
    if (s.msg == msg) out.push_back(s);
  return out;
}

const UINT WM_ASK = WM_USER + 1;       // answers lParam * 2
const UINT WM_RELAY = WM_USER + 2;     // sends WM_ASK(lParam) to the window in wParam, adds 1
const UINT WM_ORDER = WM_USER + 3;

LRESULT CALLBACK testProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  record(h, m, w, l);
  switch (m) {
    case WM_ASK:
      return l * 2;
    case WM_RELAY:
      return SendMessageA((HWND)w, WM_ASK, 0, l) + 1;
  }
  return DefWindowProcA(h, m, w, l);
}

void registerTestClass() {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = testProc;
  wc.lpszClassName = "PwTestWindow";
  RegisterClassExA(&wc);  // once per simulated process; "already exists" is fine
}

HWND makeWindow(const char* title = "t", HWND parent = nullptr, DWORD style = WS_VISIBLE) {
  registerTestClass();
  return CreateWindowExA(0, "PwTestWindow", title, style | (parent ? WS_CHILD : 0), 0, 0, 100,
                         100, parent, nullptr, nullptr, nullptr);
}

class Win32Core : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> g(g_seenMutex);
    g_seen.clear();
  }
};
}  // namespace

TEST_F(Win32Core, CrossThreadSendReturnsTheTargetsAnswerOnItsThread) {
  UiThread ui;
  HWND h = ui.call([] { return makeWindow(); });
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SendMessageA(h, WM_ASK, 0, 21), 42);
  auto s = seen(WM_ASK);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].tid, ui.threadId());
}

TEST_F(Win32Core, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  UiThread a, b;
  HWND ha = a.call([] { return makeWindow("a"); });
  HWND hb = b.call([] { return makeWindow("b"); });
  // Nested: a sends to b, whose procedure sends back to a while a is waiting.
  LRESULT nested = a.call([&] { return SendMessageA(hb, WM_RELAY, (WPARAM)ha, 5); });
  EXPECT_EQ(nested, 11);
  // Simultaneous: each thread sends to the other at the same moment, many times.
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> ready{0};
    LRESULT ra = 0, rb = 0;
    std::thread ta([&] {
      a.run([&] {
        ready++;
        while (ready < 2) {
        }
        ra = SendMessageA(hb, WM_RELAY, (WPARAM)ha, round);
      });
    });
    std::thread tb([&] {
      b.run([&] {
        ready++;
        while (ready < 2) {
        }
        rb = SendMessageA(ha, WM_RELAY, (WPARAM)hb, round + 1);
      });
    });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, round * 2 + 1);
    EXPECT_EQ(rb, (round + 1) * 2 + 1);
  }
}

TEST_F(Win32Core, SendToAWindowWhoseThreadEndedAnswersZero) {
  HWND h;
  {
    UiThread ui;
    h = ui.call([] { return makeWindow(); });
  }
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(SendMessageA(h, WM_ASK, 0, 1), 0);
  EXPECT_FALSE(PostMessageA(h, WM_ASK, 0, 1));
}

namespace {
WNDPROC g_prev = nullptr;
std::vector<std::string> g_order;  // UI thread only
LRESULT CALLBACK subclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_ORDER) {
    g_order.push_back("subclass");
    if (l == 1) return 99;  // swallowed
  }
  return CallWindowProcA(g_prev, h, m, w, l);
}
LRESULT CALLBACK orderProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_ORDER) {
    g_order.push_back("original");
    return 7;
  }
  return DefWindowProcA(h, m, w, l);
}
}  // namespace

TEST_F(Win32Core, SubclassedProcedureSeesTheMessageBeforeTheOriginal) {
  UiThread ui(200);
  HWND h = ui.call([] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = orderProc;
    wc.lpszClassName = "PwOrder";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "PwOrder", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  });
  // Another simulated process may not subclass it.
  EXPECT_EQ(SetWindowLongPtrA(h, GWLP_WNDPROC, (LONG_PTR)subclassProc), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), (LONG_PTR)orderProc);
  // Its own process may, from any of its threads.
  ui.run([&] { g_prev = (WNDPROC)SetWindowLongA(h, GWL_WNDPROC, (LONG_PTR)subclassProc); });
  EXPECT_EQ(g_prev, orderProc);
  EXPECT_EQ(SendMessageA(h, WM_ORDER, 0, 0), 7);
  EXPECT_EQ(g_order, (std::vector<std::string>{"subclass", "original"}));
  g_order.clear();
  PostMessageA(h, WM_ORDER, 0, 1);
  ASSERT_TRUE(ui.waitIdle());
  EXPECT_EQ(g_order, (std::vector<std::string>{"subclass"}));
  ui.run([&] { SetWindowLongPtrA(h, GWLP_WNDPROC, (LONG_PTR)g_prev); });
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), (LONG_PTR)orderProc);
}

namespace {
std::vector<std::string> g_hookLog;  // hooked thread only
std::atomic<DWORD> g_hookTid{0};
LRESULT CALLBACK cbtFirst(int code, WPARAM w, LPARAM l) {
  g_hookTid = GetCurrentThreadId();
  g_hookLog.push_back("first:" + std::to_string(code));
  return CallNextHookEx(nullptr, code, w, l);
}
LRESULT CALLBACK cbtSecond(int code, WPARAM w, LPARAM l) {
  g_hookLog.push_back("second:" + std::to_string(code));
  return CallNextHookEx(nullptr, code, w, l);
}
LRESULT CALLBACK cwpHook(int code, WPARAM w, LPARAM l) {
  auto* cwp = (CWPSTRUCT*)l;
  if (cwp->message == WM_ASK) g_hookLog.push_back("cwp:" + std::to_string(cwp->lParam) + ":" + std::to_string(w));
  return CallNextHookEx(nullptr, code, w, l);
}
}  // namespace

TEST_F(Win32Core, ThreadHooksRunOnTheHookedThreadInChainOrder) {
  UiThread ui(200);
  g_hookLog.clear();
  HINSTANCE mod = registerModule("PwTestHooks");
  EXPECT_EQ(SetWindowsHookExA(WH_CBT, cbtFirst, nullptr, ui.threadId()), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_HOOK_NEEDS_HMOD);
  EXPECT_EQ(SetWindowsHookExA(WH_CBT, cbtFirst, mod, 987654), nullptr);
  HHOOK second = SetWindowsHookExA(WH_CBT, cbtSecond, mod, ui.threadId());
  HHOOK first = SetWindowsHookExA(WH_CBT, cbtFirst, mod, ui.threadId());  // installed at the head
  HHOOK cwp = SetWindowsHookExA(WH_CALLWNDPROC, cwpHook, mod, ui.threadId());
  ASSERT_TRUE(first && second && cwp);
  EXPECT_EQ(hookCount(ui.threadId(), WH_CBT), 2);
  HWND h = ui.call([] { return makeWindow(); });
  EXPECT_EQ(g_hookTid.load(), ui.threadId());
  ASSERT_GE(g_hookLog.size(), 2u);
  EXPECT_EQ(g_hookLog[0], "first:" + std::to_string(HCBT_CREATEWND));
  EXPECT_EQ(g_hookLog[1], "second:" + std::to_string(HCBT_CREATEWND));
  g_hookLog.clear();
  SendMessageA(h, WM_ASK, 0, 3);              // sent from another thread: wParam 0
  ui.run([&] { SendMessageA(h, WM_ASK, 0, 4); });  // sent by the thread itself: wParam 1
  PostMessageA(h, WM_ASK, 0, 5);              // posted: no call-window-procedure hook
  ui.waitIdle();
  EXPECT_EQ(g_hookLog, (std::vector<std::string>{"cwp:3:0", "cwp:4:1"}));
  EXPECT_TRUE(UnhookWindowsHookEx(first));
  EXPECT_FALSE(UnhookWindowsHookEx(first));
  g_hookLog.clear();
  EXPECT_EQ(fireCbt(ui.threadId(), HCBT_CLICKSKIPPED, 0, 0), 0);
  EXPECT_EQ(g_hookLog, (std::vector<std::string>{"second:" + std::to_string(HCBT_CLICKSKIPPED)}));
  UnhookWindowsHookEx(second);
  UnhookWindowsHookEx(cwp);
  EXPECT_EQ(hookCount(ui.threadId(), WH_CBT), 0);
  failNextHookInstall(WH_CALLWNDPROC);
  EXPECT_EQ(SetWindowsHookExA(WH_CALLWNDPROC, cwpHook, mod, ui.threadId()), nullptr);
  HHOOK again = SetWindowsHookExA(WH_CALLWNDPROC, cwpHook, mod, ui.threadId());
  EXPECT_NE(again, nullptr);
  UnhookWindowsHookEx(again);
}

TEST_F(Win32Core, EnumerationClassNamesTextAndRelations) {
  UiThread ui(200);
  struct Made {
    HWND root, a, a1, b, button;
  } m = ui.call([] {
    Made r;
    r.root = makeWindow(u8"root");
    r.a = makeWindow("a", r.root);
    r.a1 = makeWindow("a1", r.a);
    r.b = makeWindow("b", r.root);
    r.button = CreateWindowExA(0, "BUTTON", "", 0x50008080, 0, 8, 22, 21, r.b, (HMENU)123567,
                               nullptr, nullptr);
    SetWindowTextW(r.root, u"未命名 - 写邮件");
    return r;
  });
  std::vector<HWND> order;
  EnumChildWindows(m.root, [](HWND h, LPARAM lp) -> BOOL {
    ((std::vector<HWND>*)lp)->push_back(h);
    return TRUE;
  }, (LPARAM)&order);
  EXPECT_EQ(order, (std::vector<HWND>{m.a, m.a1, m.b, m.button}));
  char cls[101];
  EXPECT_EQ(GetClassNameA(m.button, cls, 101), 6);
  EXPECT_STREQ(cls, "Button");
  EXPECT_EQ(GetClassNameA(nullptr, cls, 101), 0);
  char title[256];
  int n = GetWindowTextA(m.root, title, 256);
  EXPECT_STREQ(title, "未命名 - 写邮件");  // GBK bytes, as the ANSI code page gives them
  EXPECT_EQ(n, 15);
  EXPECT_EQ(GetWindowTextA(m.root, title, 4), 2);  // never splits a double-byte character
  EXPECT_EQ(GetDlgCtrlID(m.button), 123567);
  EXPECT_EQ(GetWindow(m.root, GW_CHILD), m.a);
  EXPECT_EQ(GetParent(m.a1), m.a);
  EXPECT_EQ(GetAncestor(m.a1, GA_ROOT), m.root);
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(m.a1, &pid), ui.threadId());
  EXPECT_EQ(pid, 200u);
  EXPECT_EQ(FindWindowExA(m.b, nullptr, "button", nullptr), m.button);
  EXPECT_EQ(FindWindowA("PwTestWindow", "未命名 - 写邮件"), m.root);
  // The desktop's descendants include the children; a NULL parent gives top-level windows only.
  bool sawChild = false, sawChildTop = false;
  std::pair<HWND, bool*> arg{m.a1, &sawChild};
  EnumChildWindows(GetDesktopWindow(), [](HWND h, LPARAM lp) -> BOOL {
    auto* p = (std::pair<HWND, bool*>*)lp;
    if (h == p->first) *p->second = true;
    return TRUE;
  }, (LPARAM)&arg);
  std::pair<HWND, bool*> arg2{m.a1, &sawChildTop};
  EnumChildWindows(nullptr, [](HWND h, LPARAM lp) -> BOOL {
    auto* p = (std::pair<HWND, bool*>*)lp;
    if (h == p->first) *p->second = true;
    return TRUE;
  }, (LPARAM)&arg2);
  EXPECT_TRUE(sawChild);
  EXPECT_FALSE(sawChildTop);
  // Visibility follows the ancestors; the style shows WS_VISIBLE.
  EXPECT_TRUE(IsWindowVisible(m.a1));
  ui.run([&] { ShowWindow(m.root, SW_HIDE); });
  EXPECT_FALSE(IsWindowVisible(m.a1));
  EXPECT_EQ(GetWindowLongA(m.root, GWL_STYLE) & WS_VISIBLE, 0);
  // Destruction: WM_DESTROY parent first, WM_NCDESTROY children first; handles never return.
  EXPECT_FALSE(DestroyWindow(m.root));  // not the owning thread
  ui.run([&] { DestroyWindow(m.root); });
  auto d = seen(WM_DESTROY);
  ASSERT_GE(d.size(), 3u);
  EXPECT_EQ(d[0].hwnd, m.root);
  EXPECT_EQ(d[1].hwnd, m.a);
  auto nd = seen(WM_NCDESTROY);
  ASSERT_GE(nd.size(), 3u);
  EXPECT_EQ(nd.back().hwnd, m.root);
  EXPECT_FALSE(IsWindow(m.a1));
  HWND fresh = ui.call([] { return makeWindow(); });
  EXPECT_GT((uintptr_t)fresh, (uintptr_t)m.button);
}

TEST_F(Win32Core, SynthesisedClicksAndKeysReachTheWindowsAsMessages) {
  UiThread ui(200);
  struct Made {
    HWND root, edit, button;
  } m = ui.call([] {
    Made r;
    r.root = makeWindow("root");
    MoveWindow(r.root, 200, 100, 400, 300, TRUE);
    r.edit = makeWindow("edit", r.root);
    MoveWindow(r.edit, 10, 10, 100, 20, TRUE);
    r.button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE, 10, 50, 22, 21, r.root,
                               (HMENU)12345, nullptr, nullptr);
    return r;
  });
  clearInputLog();
  click(m.button, 5, 5);
  ASSERT_TRUE(ui.waitIdle());
  auto cmd = seen(WM_COMMAND);
  ASSERT_EQ(cmd.size(), 1u);
  EXPECT_EQ(cmd[0].hwnd, m.root);
  EXPECT_EQ(cmd[0].w, MAKEWPARAM(12345, BN_CLICKED));
  EXPECT_EQ((HWND)cmd[0].l, m.button);
  auto pn = seen(WM_PARENTNOTIFY);
  bool sawDown = false;
  for (auto& s : pn)
    if (LOWORD(s.w) == WM_LBUTTONDOWN) {
      sawDown = true;
      EXPECT_EQ(GET_X_LPARAM(s.l), 15);
      EXPECT_EQ(GET_Y_LPARAM(s.l), 55);
    }
  EXPECT_TRUE(sawDown);
  EXPECT_EQ(seen(WM_MOUSEACTIVATE).size(), 1u);  // the root was not active yet
  // Keys go to the focus window of the foreground window's thread, with the key state.
  ui.run([&] { SetFocus(m.edit); });
  EXPECT_EQ(GetForegroundWindow(), m.root);
  INPUT in[4] = {};
  WORD vks[4] = {VK_CONTROL, VK_END, VK_END, VK_CONTROL};
  DWORD fl[4] = {0, 0, KEYEVENTF_KEYUP, KEYEVENTF_KEYUP};
  for (int i = 0; i < 4; ++i) {
    in[i].type = INPUT_KEYBOARD;
    in[i].ki.wVk = vks[i];
    in[i].ki.dwFlags = fl[i];
  }
  std::atomic<int> ctrlHeld{-1};
  EXPECT_EQ(SendInput(4, in, sizeof(INPUT)), 4u);
  ASSERT_TRUE(ui.waitIdle());
  auto downs = seen(WM_KEYDOWN);
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[1].hwnd, m.edit);
  EXPECT_EQ(downs[1].w, (WPARAM)VK_END);
  EXPECT_EQ(seen(WM_KEYUP).size(), 2u);
  ctrlHeld = ui.call([] { return (int)(GetKeyState(VK_CONTROL) < 0); });
  EXPECT_EQ(ctrlHeld.load(), 0);
  // GetMessagePos gives the position stamped on the last message taken.
  click(m.edit, 3, 4);
  ui.waitIdle();
  DWORD pos = ui.call([] { return GetMessagePos(); });
  EXPECT_EQ(GET_X_LPARAM(pos), 213);
  EXPECT_EQ(GET_Y_LPARAM(pos), 114);
  ui.run([&] { DestroyWindow(m.root); });
}

TEST_F(Win32Core, WindowCallsFromAnotherThreadOfTheProcessRunOnTheOwnerThread) {
  UiThread ui;  // the same simulated process as this thread
  HWND root = ui.call([] { return makeWindow("caption"); });
  HWND child = ui.call([&] { return makeWindow("child", root); });
  // Moving waits for the owner thread, which makes the change itself: while the owner is held
  // the move waits in its queue as a sent message, and the window has not moved.
  Hold hold;
  ASSERT_TRUE(hold.post(ui.threadId()));
  ASSERT_TRUE(hold.waitHeld());
  std::atomic<bool> moved{false};
  std::thread mover([&] {
    MoveWindow(root, 40, 30, 200, 100, TRUE);
    SetWindowPos(child, nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    moved = true;
  });
  EXPECT_TRUE(waitUntil([&] { return sentWaiting(ui.threadId()) == 1; }));
  EXPECT_FALSE(moved.load());
  RECT r;
  GetWindowRect(root, &r);
  EXPECT_EQ(r.left, 0);
  hold.release();
  EXPECT_TRUE(waitUntil([&] { return moved.load(); }));
  mover.join();
  GetWindowRect(root, &r);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.right, 240);
  GetWindowRect(child, &r);
  EXPECT_EQ(r.left, 45);  // screen: the root's origin plus the child's position

  // The text is asked of the window: WM_GETTEXT(LENGTH) and WM_SETTEXT handled on its thread.
  EXPECT_TRUE(SetWindowTextA(root, "新标题"));
  char buf[64];
  EXPECT_EQ(GetWindowTextA(root, buf, sizeof(buf)), 6);
  EXPECT_STREQ(buf, "新标题");
  EXPECT_EQ(GetWindowTextLengthA(root), 6);
  EXPECT_EQ(GetWindowTextLengthW(root), 3);
  for (UINT m : {(UINT)WM_SETTEXT, (UINT)WM_GETTEXT, (UINT)WM_GETTEXTLENGTH}) {
    auto s = seen(m);
    ASSERT_FALSE(s.empty()) << m;
    EXPECT_EQ(s[0].tid, ui.threadId()) << m;
  }

  // A caller blocked in GetWindowText still handles what the owner sends it meanwhile.
  UiThread asker;
  HWND askerWindow = asker.call([] { return makeWindow("asker"); });
  ui.run([&] {
    SetWindowLongPtrA(root, GWLP_WNDPROC, (LONG_PTR)+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_GETTEXT) {
        HWND back = (HWND)GetPropA(h, "asker");
        SendMessageA(back, WM_ASK, 0, 1);
      }
      return testProc(h, m, w, l);
    });
    SetPropA(root, "asker", askerWindow);
  });
  int got = asker.call([&] { return GetWindowTextA(root, buf, sizeof(buf)); });
  EXPECT_EQ(got, 6);
  auto asks = seen(WM_ASK);
  ASSERT_EQ(asks.size(), 1u);
  EXPECT_EQ(asks[0].tid, asker.threadId());
}

TEST_F(Win32Core, AnotherProcessReadsTheStoredCaptionWithoutSending) {
  UiThread ui(300);
  HWND root = ui.call([] { return makeWindow("邮件"); });
  HWND child = ui.call([&] { return makeWindow("edit", root); });
  Hold hold;
  ASSERT_TRUE(hold.post(ui.threadId()));
  ASSERT_TRUE(hold.waitHeld());
  // The owner is busy, yet the caption reads at once and nothing is sent.
  char buf[64];
  EXPECT_EQ(GetWindowTextA(root, buf, sizeof(buf)), 4);
  EXPECT_STREQ(buf, "邮件");
  EXPECT_EQ(GetWindowTextLengthW(root), 2);
  EXPECT_TRUE(seen(WM_GETTEXT).empty());
  EXPECT_TRUE(seen(WM_GETTEXTLENGTH).empty());
  // Moving is still delivered to the owner thread.
  std::atomic<bool> moved{false};
  std::thread mover([&] {
    MoveWindow(root, 7, 8, 10, 10, TRUE);
    moved = true;
  });
  EXPECT_TRUE(waitUntil([&] { return sentWaiting(ui.threadId()) == 1; }));  // waits for the owner
  EXPECT_FALSE(moved.load());
  hold.release();
  mover.join();
  RECT r;
  GetWindowRect(root, &r);
  EXPECT_EQ(r.left, 7);
  // Another process's control keeps its text; its top-level window takes a new caption.
  EXPECT_FALSE(SetWindowTextA(child, "x"));
  EXPECT_EQ(GetWindowTextA(child, buf, sizeof(buf)), 4);
  EXPECT_TRUE(SetWindowTextA(root, "y"));
  EXPECT_EQ(GetWindowTextA(root, buf, sizeof(buf)), 1);
}

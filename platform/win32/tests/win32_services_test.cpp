// Resources and menus, kernel objects, threads and simulated processes, code page 936,
// the notification-area icon, timers and mouse activation.
#include "win32/windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace w32subst;

namespace {
LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

HWND plainWindow(DWORD style = WS_VISIBLE, HWND parent = nullptr) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "PwPlain";
  RegisterClassExA(&wc);
  return CreateWindowExA(0, "PwPlain", "", style | (parent ? WS_CHILD : 0), 0, 0, 50, 50, parent,
                         nullptr, nullptr, nullptr);
}
}  // namespace

TEST(Win32Services, MenusFromResourcesAreTrackedThroughTheDriverAndPostTheirCommand) {
  HINSTANCE mod = registerModule("PwMenuModule");
  EXPECT_EQ(mod, registerModule("PwMenuModule"));
  EXPECT_EQ(GetModuleHandleA("PwMenuModule.dll"), mod);
  addMenuResource(mod, 101, "Menu", {{40001, "企业通讯录"}, {40002, "Foxmail通讯录"}});
  addBitmapResource(mod, 104, 22, 21);
  int menusBefore = liveMenuCount();
  HMENU menu = LoadMenuA(mod, MAKEINTRESOURCEA(101));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(LoadMenuA(mod, MAKEINTRESOURCEA(999)), nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), 2);
  EXPECT_EQ(GetMenuItemID(popup, 1), 40002u);
  char text[64];
  GetMenuStringA(popup, 40001, text, sizeof(text), MF_BYCOMMAND);
  EXPECT_STREQ(text, "企业通讯录");
  EXPECT_EQ(liveMenuCount(), menusBefore + 1);

  UiThread ui;
  HWND owner = ui.call([] { return plainWindow(); });
  std::atomic<UINT> command{0};
  ui.run([&] {
    SetWindowLongPtrA(owner, GWLP_WNDPROC, (LONG_PTR)+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_COMMAND) SetPropA(h, "cmd", (HANDLE)(uintptr_t)LOWORD(w));
      return DefWindowProcA(h, m, w, l);
    });
  });
  clearShownMenus();
  setMenuDriver([](const MenuShown& s) { return s.items.size() == 2 ? s.items[0].id : 0u; });
  ui.run([&] { TrackPopupMenuEx(popup, TPM_NOANIMATION | TPM_RIGHTBUTTON, 237, 164, owner, nullptr); });
  ui.waitIdle();
  command = (UINT)(uintptr_t)GetPropA(owner, "cmd");
  EXPECT_EQ(command.load(), 40001u);
  auto shown = shownMenus();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].resourceId, 101u);
  EXPECT_EQ(shown[0].pt.x, 237);
  EXPECT_EQ(shown[0].owner, owner);
  EXPECT_EQ(shown[0].flags, (UINT)(TPM_NOANIMATION | TPM_RIGHTBUTTON));
  EXPECT_EQ(shown[0].threadId, ui.threadId());
  setMenuDriver([](const MenuShown&) { return 0u; });
  EXPECT_EQ(TrackPopupMenuEx(popup, TPM_RETURNCMD, 0, 0, owner, nullptr), 0);  // dismissed
  setMenuDriver(nullptr);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(IsMenu(popup));
  EXPECT_EQ(liveMenuCount(), menusBefore);

  int bitmapsBefore = liveBitmapCount();
  HBITMAP bmp = LoadBitmapA(mod, MAKEINTRESOURCEA(104));
  BitmapInfo info;
  ASSERT_TRUE(bitmapInfo(bmp, &info));
  EXPECT_EQ(info.resourceId, 104u);
  EXPECT_EQ(info.width, 22);
  EXPECT_EQ(liveBitmapCount(), bitmapsBefore + 1);
  HWND button = ui.call([&] {
    return CreateWindowExA(0, "BUTTON", "", 0x50008080, 0, 8, 22, 21, owner, (HMENU)12345, mod, nullptr);
  });
  EXPECT_EQ(SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)bmp), 0);
  EXPECT_EQ(SendMessageA(button, BM_GETIMAGE, IMAGE_BITMAP, 0), (LRESULT)bmp);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_EQ(liveBitmapCount(), bitmapsBefore);
}

TEST(Win32Services, NamedMutexesReportThatTheyExist) {
  HANDLE a = CreateMutexA(nullptr, FALSE, "PostwingTestMutex");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE b = nullptr;
  DWORD err = 0;
  std::thread other([&] {
    setCurrentProcessId(300);  // a second instance of the program
    b = CreateMutexA(nullptr, FALSE, "PostwingTestMutex");
    err = GetLastError();
  });
  other.join();
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(a));
  CloseHandle(a);
  CloseHandle(b);
  HANDLE c = CreateMutexA(nullptr, FALSE, "PostwingTestMutex");  // the last handle closed: gone
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(c);
}

namespace {
struct PerProcessCounter {
  int value = 0;
};
DWORD WINAPI threadBody(LPVOID arg) {
  *(DWORD*)arg = GetCurrentProcessId();
  ProcessLocal<PerProcessCounter>::get().value++;
  return 7;
}
}  // namespace

TEST(Win32Services, ThreadsCarryTheirCreatorsSimulatedProcessAndItsOwnState) {
  std::thread mail([] {
    setCurrentProcessId(4200);
    DWORD seen = 0, tid = 0;
    HANDLE t = CreateThread(nullptr, 0, threadBody, &seen, 0, &tid);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(t);
    EXPECT_EQ(seen, 4200u);
  });
  mail.join();
  EXPECT_EQ(ProcessLocal<PerProcessCounter>::getFor(4200).value, 1);
  EXPECT_EQ(ProcessLocal<PerProcessCounter>::getFor(kDefaultProcessId).value, 0);
  EXPECT_EQ(GetCurrentProcessId(), kDefaultProcessId);
}

TEST(Win32Services, CodePage936ConversionsMeasureAndRefuseShortBuffers) {
  const char* gbk = "张三 <zs@corp>";
  int n = MultiByteToWideChar(CP_ACP, 0, gbk, -1, nullptr, 0);
  EXPECT_EQ(n, 13);  // 12 characters and the NUL
  char16_t w[32];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, w, 32), 13);
  EXPECT_EQ(std::u16string(w), u"张三 <zs@corp>");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, w, 5), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  char back[32];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"张三", -1, back, 32, nullptr, nullptr), 5);
  EXPECT_STREQ(back, "张三");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"张", 1, back, 32, nullptr, nullptr), 3);
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, 0, u"\U0001F600", 2, back, 32, nullptr, &usedDefault);  // not in GBK
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(GetACP(), 936u);
}

TEST(Win32Services, TheNotifyIconKeepsItsDataAndPostsItsCallback) {
  UiThread ui;
  HWND h = ui.call([] { return plainWindow(); });
  NOTIFYICONDATAA d = {};
  d.cbSize = sizeof(d);
  d.hWnd = h;
  d.uID = 1;
  d.uFlags = NIF_MESSAGE | NIF_TIP | NIF_ICON;
  d.uCallbackMessage = WM_USER + 10;
  std::strcpy(d.szTip, "Postwing");
  failNextNotifyIconAdd();
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
  EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
  auto icons = notifyIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].tip, "Postwing");
  // The UI thread's own loop dispatches the posted callback, so the procedure records it.
  ui.run([&] {
    SetWindowLongPtrA(h, GWLP_WNDPROC, (LONG_PTR)+[](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == WM_USER + 10) SetPropA(w, "tray", (HANDLE)(uintptr_t)lp);
      return DefWindowProcA(w, m, wp, lp);
    });
  });
  EXPECT_TRUE(clickNotifyIcon(h, 1, WM_RBUTTONUP));
  ui.waitIdle();
  EXPECT_EQ((LPARAM)(uintptr_t)GetPropA(h, "tray"), (LPARAM)WM_RBUTTONUP);
  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
  EXPECT_TRUE(notifyIcons().empty());
}

TEST(Win32Services, TimersFireOnTheOwningThreadAndStopWhenKilled) {
  UiThread ui;
  static std::atomic<int> ticks{0};
  HWND h = ui.call([] { return plainWindow(); });
  ui.run([&] {
    SetTimer(h, 5, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
      if (id == 5) ticks++;
    });
  });
  EXPECT_TRUE(waitUntil([] { return ticks >= 3; }));
  EXPECT_TRUE(KillTimer(h, 5));
  EXPECT_FALSE(KillTimer(h, 5));
}

TEST(Win32Services, MouseActivationCanEatTheClickAndSendIsBoundedByItsTimeout) {
  UiThread ui;
  static std::atomic<int> downs{0};
  HWND root = ui.call([] {
    HWND r = plainWindow();
    MoveWindow(r, 300, 300, 100, 100, TRUE);
    SetWindowLongPtrA(r, GWLP_WNDPROC, (LONG_PTR)+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_MOUSEACTIVATE) return MA_ACTIVATEANDEAT;
      if (m == WM_LBUTTONDOWN) downs++;
      return DefWindowProcA(h, m, w, l);
    });
    return r;
  });
  click(root, 10, 10);
  ui.waitIdle();
  EXPECT_EQ(downs.load(), 0);  // eaten, but the window is now active
  EXPECT_EQ(GetForegroundWindow(), root);
  click(root, 10, 10);
  ui.waitIdle();
  EXPECT_EQ(downs.load(), 1);  // active now: no activation, delivered
  ClipCursor(nullptr);

  // A thread that does not take its messages: the sender gives up after its timeout.
  UiThread stuckThread;
  HWND stuck = stuckThread.call([] { return plainWindow(); });
  Hold hold;
  ASSERT_TRUE(hold.post(stuckThread.threadId()));
  ASSERT_TRUE(hold.waitHeld());
  DWORD_PTR result = 1;
  EXPECT_EQ(SendMessageTimeoutA(stuck, WM_USER, 0, 0, SMTO_NORMAL, 20, &result), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_TIMEOUT);
  hold.release();
  stuckThread.run([stuck] { DestroyWindow(stuck); });
}

namespace {
const UINT WM_ASK = WM_USER + 1;  // answers lParam * 2
LRESULT CALLBACK askingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_ASK) return l * 2;
  return DefWindowProcA(h, m, w, l);
}
}  // namespace

TEST(Win32Services, APopupMenuRunsAModalLoopUntilTheUserPicksOrDismisses) {
  UiThread ui;
  HWND owner = ui.call([] {
    HWND h = plainWindow();
    SetWindowLongPtrA(h, GWLP_WNDPROC, (LONG_PTR)&askingProc);
    return h;
  });
  HMENU popup = CreatePopupMenu();
  AppendMenuA(popup, MF_STRING, 7, "seven");
  AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(popup, MF_STRING | MF_GRAYED, 8, "eight");
  AppendMenuA(popup, MF_STRING, 9, "nine");
  std::atomic<int> result{-1};
  auto track = [&] {
    result = -1;
    postToThread(ui.threadId(), [&] { result = TrackPopupMenuEx(popup, TPM_RETURNCMD, 10, 10, owner, nullptr); });
    ASSERT_TRUE(waitUntil([] { return openMenus().size() == 1; }));
  };

  // While the menu is open its thread still answers sent messages and runs posted work.
  track();
  EXPECT_EQ(openMenus()[0].threadId, ui.threadId());
  EXPECT_EQ(SendMessageA(owner, WM_ASK, 0, 21), 42);
  std::atomic<bool> ran{false};
  postToThread(ui.threadId(), [&] { ran = true; });
  EXPECT_TRUE(waitUntil([&] { return ran.load(); }));
  EXPECT_EQ(result.load(), -1);
  // A user cannot pick what is not there, a separator or a greyed item.
  EXPECT_FALSE(pickMenuItem(ui.threadId(), 99));
  EXPECT_FALSE(pickMenuItem(ui.threadId(), 8));
  EXPECT_FALSE(pickMenuItem(GetCurrentThreadId(), 7));  // no menu open on this thread
  EXPECT_TRUE(pickMenuItem(ui.threadId(), 9));
  EXPECT_TRUE(waitUntil([&] { return result.load() == 9; }));
  EXPECT_TRUE(openMenus().empty());

  // Escape, and a button pressed elsewhere, dismiss it; so does the automation.
  track();
  PostMessageA(owner, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(waitUntil([&] { return result.load() == 0; }));
  track();
  PostMessageA(owner, WM_LBUTTONDOWN, 0, 0);
  EXPECT_TRUE(waitUntil([&] { return result.load() == 0; }));
  track();
  EXPECT_TRUE(dismissMenu(ui.threadId()));
  EXPECT_TRUE(waitUntil([&] { return result.load() == 0; }));

  // The driver answers from inside the loop, on the menu's thread; a greyed pick dismisses.
  std::atomic<DWORD> answeredOn{0};
  setMenuDriver([&](const MenuShown&) {
    answeredOn = GetCurrentThreadId();
    return 8u;
  });
  EXPECT_EQ(ui.call([&] { return TrackPopupMenuEx(popup, TPM_RETURNCMD, 0, 0, owner, nullptr); }), 0);
  EXPECT_EQ(answeredOn.load(), ui.threadId());
  setMenuDriver(nullptr);

  // WM_QUIT ends the menu and, posted again, the thread's own loop.
  track();
  PostThreadMessageA(ui.threadId(), WM_QUIT, 0, 0);
  EXPECT_TRUE(waitUntil([&] { return result.load() == 0; }));
  DestroyMenu(popup);
}

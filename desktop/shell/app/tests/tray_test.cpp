// The tray icon: adding with a cut tip, the mouse messages it turns into main-window messages,
// removal once, and the icon's return after the taskbar is re-created.
#include "app/AppMessages.h"
#include "app/SystemTray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A plain window standing in for the main window: forwards the icon's messages to the tray and
// records the menu requests.
struct Target {
  static Target* current;
  HWND hwnd = nullptr;
  CSystemTray* tray = nullptr;
  std::vector<POINT> menuRequests;

  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (current && m == WM_PW_TRAYICON && current->tray) return current->tray->onTrayNotification(w, l);
    if (current && m == WM_PW_TRAYMENU) {
      current->menuRequests.push_back(POINT{(LONG)w, (LONG)l});
      return 0;
    }
    return DefWindowProcA(h, m, w, l);
  }
  Target() {
    current = this;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Target::proc;
    wc.lpszClassName = "TrayTestTarget";
    RegisterClassExA(&wc);
    hwnd = CreateWindowExA(0, "TrayTestTarget", "target", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  }
  ~Target() {
    DestroyWindow(hwnd);
    current = nullptr;
  }
  void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
};
Target* Target::current = nullptr;

std::vector<w32subst::NotifyIcon> iconsOf(HWND h) {
  std::vector<w32subst::NotifyIcon> out;
  for (auto& i : w32subst::notifyIcons())
    if (i.hWnd == h) out.push_back(i);
  return out;
}

UINT taskbarCreated() { return RegisterWindowMessageA("TaskbarCreated"); }

TEST(SystemTray, AddsTheIconWithItsTipCutTo127Characters) {
  Target target;
  HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(PW_APP_ICON_TRAY));
  std::string tip(200, 'x');
  {
    CSystemTray tray;
    ASSERT_TRUE(tray.create(nullptr, target.hwnd, tip.c_str(), icon));
    auto icons = iconsOf(target.hwnd);
    ASSERT_EQ(1u, icons.size());
    EXPECT_EQ(std::string(127, 'x'), icons[0].tip);
    EXPECT_EQ((UINT)WM_PW_TRAYICON, icons[0].callbackMessage);
    EXPECT_EQ(icon, icons[0].icon);
    EXPECT_EQ(504u, tray.data().cbSize);
    EXPECT_FALSE(tray.isHidden());
    EXPECT_TRUE(IsWindow(tray.hiddenWindow()));
  }
  EXPECT_TRUE(iconsOf(target.hwnd).empty()) << "the destructor removes the icon";
}

TEST(SystemTray, RightClickAsksForTheMenuAtTheCursorAndDoubleClickRaisesTheWindow) {
  Target target;
  CSystemTray tray;
  target.tray = &tray;
  ASSERT_TRUE(tray.create(nullptr, target.hwnd, "Postwing", nullptr));
  SetCursorPos(500, 700);
  ASSERT_TRUE(w32subst::clickNotifyIcon(target.hwnd, 0, WM_RBUTTONUP));
  target.pump();
  ASSERT_EQ(1u, target.menuRequests.size());
  EXPECT_EQ(500, target.menuRequests[0].x);
  EXPECT_EQ(700, target.menuRequests[0].y);

  // Other mouse messages ask for nothing.
  w32subst::clickNotifyIcon(target.hwnd, 0, WM_LBUTTONUP);
  w32subst::clickNotifyIcon(target.hwnd, 0, WM_MOUSEMOVE);
  target.pump();
  EXPECT_EQ(1u, target.menuRequests.size());

  w32subst::clickNotifyIcon(target.hwnd, 0, WM_LBUTTONDBLCLK);
  target.pump();
  EXPECT_EQ(target.hwnd, GetForegroundWindow());
}

TEST(SystemTray, RemovesTheIconOnceAndTheDestructorDoesNotTryAgain) {
  Target target;
  {
    CSystemTray tray;
    ASSERT_TRUE(tray.create(nullptr, target.hwnd, "Postwing", nullptr));
    tray.remove();
    EXPECT_TRUE(tray.isRemoved());
    EXPECT_TRUE(tray.isHidden());
    EXPECT_TRUE(iconsOf(target.hwnd).empty());
    // Someone else puts an icon at the same place: neither a second remove nor the destructor
    // touches it.
    NOTIFYICONDATAA other{};
    other.hWnd = target.hwnd;
    other.uFlags = NIF_TIP;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &other));
    tray.remove();
  }
  EXPECT_EQ(1u, iconsOf(target.hwnd).size());
  NOTIFYICONDATAA other{};
  other.hWnd = target.hwnd;
  Shell_NotifyIconA(NIM_DELETE, &other);
}

TEST(SystemTray, AFailedAddCountsAsHiddenAndRemoved) {
  Target target;
  CSystemTray tray;
  w32subst::failNextNotifyIconAdd();
  EXPECT_FALSE(tray.create(nullptr, target.hwnd, "Postwing", nullptr));
  EXPECT_TRUE(tray.isHidden());
  EXPECT_TRUE(tray.isRemoved());
  EXPECT_TRUE(iconsOf(target.hwnd).empty());
  // A re-created taskbar does not bring back an icon that never was.
  SendMessageA(tray.hiddenWindow(), taskbarCreated(), 0, 0);
  EXPECT_TRUE(iconsOf(target.hwnd).empty());
}

TEST(SystemTray, TheIconComesBackOnceWhenTheTaskbarIsRecreated) {
  Target target;
  HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(PW_APP_ICON_TRAY));
  CSystemTray tray;
  ASSERT_TRUE(tray.create(nullptr, target.hwnd, "Postwing tip", icon));

  // A new shell: it no longer knows the icon, so the delete fails and the icon is added again
  // with the same tip and picture.
  NOTIFYICONDATAA gone{};
  gone.hWnd = target.hwnd;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  SendMessageA(tray.hiddenWindow(), taskbarCreated(), 0, 0);
  auto icons = iconsOf(target.hwnd);
  ASSERT_EQ(1u, icons.size());
  EXPECT_EQ("Postwing tip", icons[0].tip);
  EXPECT_EQ(icon, icons[0].icon);
  EXPECT_FALSE(tray.isHidden());

  // The same shell, which still knows the icon: the icon stays, exactly once (it is never lost).
  SendMessageA(tray.hiddenWindow(), taskbarCreated(), 0, 0);
  icons = iconsOf(target.hwnd);
  ASSERT_EQ(1u, icons.size());
  EXPECT_EQ("Postwing tip", icons[0].tip);
  EXPECT_FALSE(tray.isHidden());
  EXPECT_FALSE(tray.isRemoved());

  // After the program removed it, a re-created taskbar leaves it away.
  tray.remove();
  SendMessageA(tray.hiddenWindow(), taskbarCreated(), 0, 0);
  EXPECT_TRUE(iconsOf(target.hwnd).empty());
}

}  // namespace

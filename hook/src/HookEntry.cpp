// The library's entry points, its shared data, the discovery of compose windows in the
// desktop process and the CBT hook procedures that make the window objects inside the mail
// client.
#include "hook/PostwingHook.h"

#include "HookProcs.h"
#include "hook/PostwingWindRegistry.h"

#include <cstdlib>
#include <cstring>
#include <memory>

std::atomic<uint32_t> g_hFoxmailHwnd{0};
std::atomic<uint32_t> g_hFoxmailCBTHook{0};
std::atomic<uint32_t> g_hFoxmailCWPHook{0};
std::atomic<uint32_t> g_hOutlookHwnd{0};
std::atomic<uint32_t> g_hOutlookCBTHook{0};
std::atomic<uint32_t> g_hOutlookCWPHook{0};

namespace {
const char kFoxmail7Class[] = "TFoxComposeForm.UnicodeClass";
const char kFoxmail70Class[] = "TF_compose.UnicodeClass";
const char kFoxmail70Title[] = "未命名 - 写邮件";
const char kOutlookClass[] = "OpusApp";
const char kOutlookTitle[] = "未命名的邮件";

uint32_t h32(const void* h) { return (uint32_t)(uintptr_t)h; }
template <typename H>
H fromH32(uint32_t v) {
  return (H)(uintptr_t)v;
}

// The module's resources: the menus and bitmaps that the library's resource script holds on Windows.
struct ModuleInit {
  ModuleInit() {
    HINSTANCE m = PostwingWindRegistry::moduleHandle();
    w32subst::addMenuResource(m, 101, "Menu", {{40001, "企业通讯录"}, {40002, "Foxmail通讯录"}});
    w32subst::addMenuResource(m, 102, "Menu", {{40003, "企业通讯录"}, {40004, "Outlook通讯录"}});
    w32subst::addBitmapResource(m, 104, 22, 21);
    w32subst::addBitmapResource(m, 105, 22, 21);
  }
} g_moduleInit;

std::shared_ptr<PostwingWind> makeWind(int kind, HWND root) {
  switch (kind) {
    case KIND_FOXMAIL7:
      return std::make_shared<FoxMail7Wind>(root);
    case KIND_FOXMAIL70:
      return std::make_shared<FoxMail70Wind>(root);
    case KIND_OUTLOOK:
      return std::make_shared<OutLook03Wind>(root);
  }
  return nullptr;
}

// The kind of a compose window that should be hooked, or -1.
// The title is read only for a window of a compose class: reading the title of one of the
// desktop program's own windows would send WM_GETTEXT to its UI thread, which may itself be
// waiting for the poll to end (stopping the hook manager).
int composeKind(HWND hWnd) {
  char title[256] = {0};
  char cls[101] = {0};
  GetClassNameA(hWnd, cls, 101);
  if (std::strcmp(cls, kFoxmail70Class) == 0 || std::strcmp(cls, kOutlookClass) == 0) GetWindowTextA(hWnd, title, 256);
  bool styleVisible = (GetWindowLongA(hWnd, GWL_STYLE) & WS_VISIBLE) != 0;
  if (std::strcmp(cls, kFoxmail7Class) == 0) return styleVisible ? KIND_FOXMAIL7 : -1;
  if (std::strcmp(cls, kFoxmail70Class) == 0)
    return std::strcmp(title, kFoxmail70Title) == 0 && styleVisible ? KIND_FOXMAIL70 : -1;
  if (std::strcmp(cls, kOutlookClass) == 0)
    return std::strcmp(title, kOutlookTitle) == 0 && IsWindowVisible(hWnd) ? KIND_OUTLOOK : -1;
  return -1;
}

struct SharedSlots {
  std::atomic<uint32_t>& root;
  std::atomic<uint32_t>& cbt;
  std::atomic<uint32_t>& cwp;
};
SharedSlots slotsOf(int kind) {
  if (kind == KIND_OUTLOOK) return SharedSlots{g_hOutlookHwnd, g_hOutlookCBTHook, g_hOutlookCWPHook};
  return SharedSlots{g_hFoxmailHwnd, g_hFoxmailCBTHook, g_hFoxmailCWPHook};
}

BOOL CALLBACK (*enumOf(int kind))(HWND, LPARAM) {
  if (kind == KIND_FOXMAIL7) return EnumChild_Foxmail;
  if (kind == KIND_FOXMAIL70) return EnumChild_Foxmail70;
  return EnumChild_Outlook;
}

// CBT events whose wParam is a window that is whole: not one being made or destroyed.
bool namesWholeWindow(int code) {
  return code == HCBT_ACTIVATE || code == HCBT_SETFOCUS || code == HCBT_MINMAX || code == HCBT_MOVESIZE;
}

// One CBT procedure per kind, on the compose window's UI thread inside the mail client.
template <int Kind>
LRESULT cbtProc(int code, WPARAM wParam, LPARAM lParam) {
  SharedSlots slots = slotsOf(Kind);
  HHOOK sharedCbt = fromH32<HHOOK>(slots.cbt.load());
  if (code < 0) return CallNextHookEx(sharedCbt, code, wParam, lParam);
  PostwingWindRegistry& registry = PostwingWindRegistry::instance();
  // For most codes wParam is a window; for the few others the lookup simply finds nothing.
  if (auto known = registry.findByChild((HWND)wParam))
    return CallNextHookEx(known->cbtHook(), code, wParam, lParam);
  HWND root = fromH32<HWND>(slots.root.load());
  DWORD pid = 0;
  GetWindowThreadProcessId(root, &pid);
  // The shared slots name the window hooked last, maybe in another process (both Foxmail
  // kinds share them): only this process's own compose window gets an object here.
  if (root && pid == GetCurrentProcessId()) {
    if (!registry.find((long)(uintptr_t)root)) {
      if (GetWindowLongA(root, GWL_STYLE) & WS_VISIBLE) {
        auto wind = makeWind(Kind, root);
        wind->setHooks(sharedCbt, fromH32<HHOOK>(slots.cwp.load()));
        registry.addWind(wind, true);  // a duplicate is simply not kept
      }
      EnumChildWindows(root, enumOf(Kind), 0);
    } else if (namesWholeWindow(code) && IsChild(root, (HWND)wParam)) {
      // A window of the compose window that the object has not learned: the window was shown
      // (and hooked) before its form was complete. Learn what exists now.
      EnumChildWindows(root, enumOf(Kind), 0);
    }
  }
  return CallNextHookEx(sharedCbt, code, wParam, lParam);
}
}  // namespace

LRESULT CALLBACK CBTProc_Foxmail(int code, WPARAM w, LPARAM l) { return cbtProc<KIND_FOXMAIL7>(code, w, l); }
LRESULT CALLBACK CBTProc_Foxmail70(int code, WPARAM w, LPARAM l) { return cbtProc<KIND_FOXMAIL70>(code, w, l); }
LRESULT CALLBACK CBTProc_Outlook(int code, WPARAM w, LPARAM l) { return cbtProc<KIND_OUTLOOK>(code, w, l); }

HWND sharedRootOf(int kind) { return fromH32<HWND>(slotsOf(kind).root.load()); }

// The discovery callback of the poll (desktop process); always asks for more windows.
BOOL CALLBACK discoverComposeWindow(HWND hWnd, LPARAM) {
  int kind = composeKind(hWnd);
  if (kind < 0) return TRUE;
  PostwingWindRegistry& registry = PostwingWindRegistry::instance();
  if (registry.find((long)(uintptr_t)hWnd)) return TRUE;
  auto wind = makeWind(kind, hWnd);
  SharedSlots slots = slotsOf(kind);
  const char* name = kind == KIND_OUTLOOK ? "outlook" : "Foxmail";
  // The root is published before the hooks go live, so that the first event on the mail
  // client's thread already finds it; the hooks follow once they exist.
  uint32_t previousRoot = slots.root.exchange(h32(hWnd));
  if (wind->setHook() != 0) {
    uint32_t ours = h32(hWnd);
    slots.root.compare_exchange_strong(ours, previousRoot);
    OutputDebugStringA(kind == KIND_OUTLOOK ? "outlook setHook error!" : "Foxmail setHook error!");
    return TRUE;
  }
  slots.cbt = h32(wind->cbtHook());
  slots.cwp = h32(wind->cwpHook());
  registry.addWind(wind, false);
  std::string line = std::string(name) + " setHook success!";
  OutputDebugStringA(line.c_str());
  return TRUE;
}

int startHook() { return PostwingWindRegistry::instance().runPoll(); }

int stopHook() {
  PostwingWindRegistry::instance().stopPoll();
  return 0;
}

int closeWind(const char* handle) {
  if (!handle) return 0;
  PostwingWindRegistry::instance().removeWind(std::atol(handle));
  return 0;
}

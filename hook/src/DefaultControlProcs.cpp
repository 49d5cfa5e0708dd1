// Weak stand-ins for the call-window-procedure hooks and child enumerations of the three mail
// clients: the per-client controls' sources define the real ones, which replace these at link
// time. These pass every event on and only learn the children.
#include "HookProcs.h"
#include "hook/PostwingWindRegistry.h"

#define PW_WEAK __attribute__((weak))

PW_WEAK LRESULT CALLBACK CallWndProc_Foxmail(int code, WPARAM w, LPARAM l) {
  return CallNextHookEx(nullptr, code, w, l);
}
PW_WEAK LRESULT CALLBACK CallWndProc_Foxmail70(int code, WPARAM w, LPARAM l) {
  return CallNextHookEx(nullptr, code, w, l);
}
PW_WEAK LRESULT CALLBACK CallWndProc_Outlook(int code, WPARAM w, LPARAM l) {
  return CallNextHookEx(nullptr, code, w, l);
}

namespace {
BOOL learnChild(int kind, HWND hWnd) {
  auto wind = PostwingWindRegistry::instance().find((long)(uintptr_t)sharedRootOf(kind));
  if (!wind) return FALSE;
  wind->addChild(hWnd);
  return TRUE;
}
}  // namespace

PW_WEAK BOOL CALLBACK EnumChild_Foxmail(HWND hWnd, LPARAM) { return learnChild(KIND_FOXMAIL7, hWnd); }
PW_WEAK BOOL CALLBACK EnumChild_Foxmail70(HWND hWnd, LPARAM) { return learnChild(KIND_FOXMAIL70, hWnd); }
PW_WEAK BOOL CALLBACK EnumChild_Outlook(HWND hWnd, LPARAM) { return learnChild(KIND_OUTLOOK, hWnd); }

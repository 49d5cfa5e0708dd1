// The hook library's hook procedures, child enumerations and subclassed window procedures, by
// mail-client kind. CBT procedures: HookEntry.cpp. The rest: ControlProcs.cpp.
#pragma once

#include "win32/windows.h"

// Posted by a Foxmail 7 recipient edit to its layout manager: open the edit menu.
const UINT UM_OPENFOXWND = 0x8401;

LRESULT CALLBACK CBTProc_Foxmail(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CBTProc_Foxmail70(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CBTProc_Outlook(int code, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK CallWndProc_Foxmail(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CallWndProc_Foxmail70(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CallWndProc_Outlook(int code, WPARAM wParam, LPARAM lParam);

BOOL CALLBACK EnumChild_Foxmail(HWND hWnd, LPARAM lParam);
BOOL CALLBACK EnumChild_Foxmail70(HWND hWnd, LPARAM lParam);
BOOL CALLBACK EnumChild_Outlook(HWND hWnd, LPARAM lParam);

LRESULT CALLBACK WindowProc_Foxmail(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WindowProc_Foxmail70(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WindowProc_Outlook(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK newWindowProc_Edit(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The root handle a kind's hook procedures read from the shared data section.
HWND sharedRootOf(int kind);

// Where the message being handled was posted from, in screen coordinates.
inline POINT messagePos() {
  DWORD pos = GetMessagePos();
  return POINT{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
}

// A control's client area in screen coordinates.
inline RECT screenClientRect(HWND control) {
  RECT r{0, 0, 0, 0};
  GetClientRect(control, &r);
  POINT tl{r.left, r.top}, br{r.right, r.bottom};
  ClientToScreen(control, &tl);
  ClientToScreen(control, &br);
  return RECT{tl.x, tl.y, br.x, br.y};
}

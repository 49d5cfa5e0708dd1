// The hook library's hook procedures and child enumerations, by mail-client kind.
// CBT procedures: HookEntry.cpp. Call-window-procedure hooks and child enumerations: the
// per-client controls' sources; DefaultControlProcs.cpp holds weak stand-ins that pass every
// event on, used until those are linked in.
#pragma once

#include "win32/windows.h"

LRESULT CALLBACK CBTProc_Foxmail(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CBTProc_Foxmail70(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CBTProc_Outlook(int code, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK CallWndProc_Foxmail(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CallWndProc_Foxmail70(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CallWndProc_Outlook(int code, WPARAM wParam, LPARAM lParam);

BOOL CALLBACK EnumChild_Foxmail(HWND hWnd, LPARAM lParam);
BOOL CALLBACK EnumChild_Foxmail70(HWND hWnd, LPARAM lParam);
BOOL CALLBACK EnumChild_Outlook(HWND hWnd, LPARAM lParam);

// The root handle a kind's hook procedures read from the shared data section.
HWND sharedRootOf(int kind);

// Windows, classes, messages, hooks, input, menus, resources and the clipboard of our Win32
// stand-in. Every function may be called from any thread; the window manager's one lock is
// never held while a window procedure, hook procedure, enumeration callback or menu driver runs.
// Differences from the real platform, on purpose:
// - windows have no non-client area: the client rectangle is the window rectangle;
// - WM_SETTEXT/WM_GETTEXT/WM_GETTEXTLENGTH always carry ANSI text (no A/W conversion);
// - MoveWindow/SetWindowPos/ShowWindow send no WM_WINDOWPOS*/WM_SIZE/WM_SHOWWINDOW (but
//   MoveWindow/SetWindowPos still run on the window's own thread, see below);
// - PostMessageW does no A/W conversion of its wParam;
// - on this 64-bit build SetWindowLongA/GetWindowLongA are the pointer-sized forms, so a
//   window procedure fits (subclassing works through either name).
#pragma once

#include "win32/wintypes.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);
typedef LRESULT(CALLBACK* HOOKPROC)(int code, WPARAM wParam, LPARAM lParam);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// ---- messages -------------------------------------------------------------------------------
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_SETCURSOR 0x0020
#define WM_MOUSEACTIVATE 0x0021
#define WM_GETMINMAXINFO 0x0024
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NOTIFY 0x004E
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_NCPAINT 0x0085
#define WM_NCACTIVATE 0x0086
#define WM_NCMOUSEMOVE 0x00A0
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONUP 0x00A2
#define WM_NCLBUTTONDBLCLK 0x00A3
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
#define BM_GETIMAGE 0x00F6
#define BM_SETIMAGE 0x00F7
#define WM_KEYFIRST 0x0100
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_KEYLAST 0x0109
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_INITMENUPOPUP 0x0117
#define WM_MENUSELECT 0x011F
#define WM_ENTERIDLE 0x0121
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define WM_MOUSELAST 0x020E
#define WM_PARENTNOTIFY 0x0210
#define WM_ENTERMENULOOP 0x0211
#define WM_EXITMENULOOP 0x0212
#define WM_CAPTURECHANGED 0x0215
#define WM_IME_CHAR 0x0286
#define WM_MOUSEHOVER 0x02A1
#define WM_MOUSELEAVE 0x02A3
#define WM_CUT 0x0300
#define WM_COPY 0x0301
#define WM_PASTE 0x0302
#define WM_USER 0x0400
#define WM_APP 0x8000

#define BN_CLICKED 0
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define IMAGE_BITMAP 0
#define IMAGE_ICON 1

#define MA_ACTIVATE 1
#define MA_ACTIVATEANDEAT 2
#define MA_NOACTIVATE 3
#define MA_NOACTIVATEANDEAT 4
#define HTCLIENT 1
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

// ---- styles ---------------------------------------------------------------------------------
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_NOPARENTNOTIFY 0x00000004L
#define WS_EX_TOOLWINDOW 0x00000080L
#define WS_EX_APPWINDOW 0x00040000L
#define BS_PUSHBUTTON 0x00000000L
#define BS_BITMAP 0x00000080L
#define BS_FLAT 0x00008000L
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008
#define CW_USEDEFAULT ((int)0x80000000)

// ---- window fields, relations, show commands ------------------------------------------------
#define GWL_WNDPROC (-4)
#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWL_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWLP_USERDATA (-21)
#define GWL_ID (-12)
#define GWLP_ID (-12)

#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5
#define GA_PARENT 1
#define GA_ROOT 2
#define GA_ROOTOWNER 3

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
#define HWND_TOPMOST ((HWND)(LONG_PTR)-1)
#define HWND_NOTOPMOST ((HWND)(LONG_PTR)-2)
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define HWND_BROADCAST ((HWND)0xffff)

// ---- hooks ----------------------------------------------------------------------------------
#define WH_CALLWNDPROC 4
#define WH_CBT 5
#define HC_ACTION 0
#define HCBT_MOVESIZE 0
#define HCBT_MINMAX 1
#define HCBT_QS 2
#define HCBT_CREATEWND 3
#define HCBT_DESTROYWND 4
#define HCBT_ACTIVATE 5
#define HCBT_CLICKSKIPPED 6
#define HCBT_KEYSKIPPED 7
#define HCBT_SYSCOMMAND 8
#define HCBT_SETFOCUS 9

// ---- input ----------------------------------------------------------------------------------
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E

#define INPUT_MOUSE 0
#define INPUT_KEYBOARD 1
#define KEYEVENTF_EXTENDEDKEY 0x0001
#define KEYEVENTF_KEYUP 0x0002
#define MOUSEEVENTF_MOVE 0x0001
#define MOUSEEVENTF_LEFTDOWN 0x0002
#define MOUSEEVENTF_LEFTUP 0x0004
#define MOUSEEVENTF_RIGHTDOWN 0x0008
#define MOUSEEVENTF_RIGHTUP 0x0010
#define MOUSEEVENTF_MIDDLEDOWN 0x0020
#define MOUSEEVENTF_MIDDLEUP 0x0040
#define MOUSEEVENTF_ABSOLUTE 0x8000

// ---- menus ----------------------------------------------------------------------------------
#define MF_STRING 0x00000000L
#define MF_BYCOMMAND 0x00000000L
#define MF_GRAYED 0x00000001L
#define MF_DISABLED 0x00000002L
#define MF_CHECKED 0x00000008L
#define MF_POPUP 0x00000010L
#define MF_SEPARATOR 0x00000800L
#define MF_BYPOSITION 0x00000400L
#define TPM_LEFTALIGN 0x0000
#define TPM_RIGHTBUTTON 0x0002
#define TPM_NONOTIFY 0x0080
#define TPM_RETURNCMD 0x0100
#define TPM_NOANIMATION 0x4000

// ---- clipboard ------------------------------------------------------------------------------
#define CF_TEXT 1
#define CF_BITMAP 2
#define CF_UNICODETEXT 13

// ---- structures -----------------------------------------------------------------------------
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};
struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCTA CREATESTRUCT;
typedef CREATESTRUCTA* LPCREATESTRUCT;
struct CBT_CREATEWNDA {
  CREATESTRUCTA* lpcs;
  HWND hwndInsertAfter;
};
struct CBTACTIVATESTRUCT {
  BOOL fMouse;
  HWND hWndActive;
};
struct CWPSTRUCT {
  LPARAM lParam;
  WPARAM wParam;
  UINT message;
  HWND hwnd;
};

struct MOUSEINPUT {
  LONG dx;
  LONG dy;
  DWORD mouseData;
  DWORD dwFlags;
  DWORD time;
  ULONG_PTR dwExtraInfo;
};
struct KEYBDINPUT {
  WORD wVk;
  WORD wScan;
  DWORD dwFlags;
  DWORD time;
  ULONG_PTR dwExtraInfo;
};
struct INPUT {
  DWORD type;
  union {
    MOUSEINPUT mi;
    KEYBDINPUT ki;
  };
};
typedef INPUT* LPINPUT;

extern "C" {

// ---- classes and windows --------------------------------------------------------------------
ATOM RegisterClassExA(const WNDCLASSEXA* wc);
ATOM RegisterClassExW(const WNDCLASSEXW* wc);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE hInstance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE hInstance,
                     LPVOID param);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE hInstance,
                     LPVOID param);
// Only the owning thread may destroy a window (as on the real platform).
BOOL DestroyWindow(HWND hWnd);
BOOL IsWindow(HWND hWnd);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsWindowEnabled(HWND hWnd);
BOOL EnableWindow(HWND hWnd, BOOL enable);
BOOL ShowWindow(HWND hWnd, int cmd);
BOOL IsIconic(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
BOOL UpdateWindow(HWND hWnd);
BOOL InvalidateRect(HWND hWnd, const RECT* rect, BOOL erase);
HWND GetDesktopWindow(void);
HWND GetParent(HWND hWnd);
HWND SetParent(HWND child, HWND newParent);
HWND GetAncestor(HWND hWnd, UINT flags);
HWND GetWindow(HWND hWnd, UINT cmd);
HWND GetTopWindow(HWND hWnd);
BOOL IsChild(HWND parent, HWND hWnd);
int GetDlgCtrlID(HWND hWnd);
HWND GetDlgItem(HWND dialog, int id);
DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD processId);
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam);
HWND FindWindowA(LPCSTR className, LPCSTR title);
HWND FindWindowW(LPCWSTR className, LPCWSTR title);
HWND FindWindowExA(HWND parent, HWND childAfter, LPCSTR className, LPCSTR title);
HWND FindWindowExW(HWND parent, HWND childAfter, LPCWSTR className, LPCWSTR title);
int GetClassNameA(HWND hWnd, LPSTR buf, int cap);
int GetClassNameW(HWND hWnd, LPWSTR buf, int cap);
// Within the caller's simulated process these send WM_GETTEXT/WM_GETTEXTLENGTH/WM_SETTEXT to
// the window (a window of another thread: sent to that thread and waited for). A window of
// another process has its stored caption read without sending; SetWindowText changes only the
// caption of another process's top-level window, never the text of its controls.
int GetWindowTextA(HWND hWnd, LPSTR buf, int cap);
int GetWindowTextW(HWND hWnd, LPWSTR buf, int cap);
int GetWindowTextLengthA(HWND hWnd);
int GetWindowTextLengthW(HWND hWnd);
BOOL SetWindowTextA(HWND hWnd, LPCSTR text);
BOOL SetWindowTextW(HWND hWnd, LPCWSTR text);
LONG_PTR GetWindowLongPtrA(HWND hWnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hWnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND hWnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hWnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongA(HWND hWnd, int index);
LONG_PTR SetWindowLongA(HWND hWnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongW(HWND hWnd, int index);
LONG_PTR SetWindowLongW(HWND hWnd, int index, LONG_PTR value);
BOOL SetPropA(HWND hWnd, LPCSTR name, HANDLE data);
HANDLE GetPropA(HWND hWnd, LPCSTR name);
HANDLE RemovePropA(HWND hWnd, LPCSTR name);

// ---- geometry (no non-client area: client = (0,0,width,height)) -----------------------------
BOOL GetWindowRect(HWND hWnd, LPRECT rect);
BOOL GetClientRect(HWND hWnd, LPRECT rect);
BOOL ClientToScreen(HWND hWnd, LPPOINT pt);
BOOL ScreenToClient(HWND hWnd, LPPOINT pt);
int MapWindowPoints(HWND from, HWND to, LPPOINT pts, UINT count);
// Run on the window's own thread: a caller on another thread (in any process) waits until that
// thread takes the call from its queue, handling messages sent to the caller meanwhile.
BOOL MoveWindow(HWND hWnd, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND hWnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HWND WindowFromPoint(POINT pt);
HWND ChildWindowFromPoint(HWND parent, POINT pt);
BOOL PtInRect(const RECT* rect, POINT pt);
BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom);
BOOL OffsetRect(LPRECT rect, int dx, int dy);
BOOL IsRectEmpty(const RECT* rect);
int GetSystemMetrics(int index);
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

// ---- focus and activation -------------------------------------------------------------------
HWND SetFocus(HWND hWnd);       // the calling thread's windows only
HWND GetFocus(void);            // the calling thread's focus
HWND GetActiveWindow(void);     // the calling thread's active window
HWND SetActiveWindow(HWND hWnd);
HWND GetForegroundWindow(void);
BOOL SetForegroundWindow(HWND hWnd);
void SwitchToThisWindow(HWND hWnd, BOOL altTab);
BOOL BringWindowToTop(HWND hWnd);
HWND SetCapture(HWND hWnd);
BOOL ReleaseCapture(void);
HWND GetCapture(void);

// ---- procedures and messages ----------------------------------------------------------------
LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC prev, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC prev, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Another thread's window: queued to that thread, the caller waits for the answer and handles
// messages sent to itself meanwhile. A window whose thread has ended answers 0.
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
#define SMTO_NORMAL 0x0000
#define SMTO_BLOCK 0x0001
#define SMTO_ABORTIFHUNG 0x0002
LRESULT SendMessageTimeoutA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result);
BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL GetMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax);
BOOL GetMessageW(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL PeekMessageW(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL WaitMessage(void);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
BOOL IsDialogMessageA(HWND dialog, LPMSG msg);
DWORD GetMessagePos(void);  // MAKELONG(x, y) of the last message taken by this thread
LONG GetMessageTime(void);
BOOL InSendMessage(void);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hWnd, UINT_PTR id);
UINT RegisterWindowMessageA(LPCSTR name);

// ---- hooks (thread hooks only; procedures always run on the hooked thread) ------------------
HHOOK SetWindowsHookExA(int type, HOOKPROC proc, HINSTANCE hmod, DWORD threadId);
HHOOK SetWindowsHookExW(int type, HOOKPROC proc, HINSTANCE hmod, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK ignored, int code, WPARAM wParam, LPARAM lParam);

// ---- synthesised input (asynchronous, as on the real platform) ------------------------------
UINT SendInput(UINT count, LPINPUT inputs, int size);
void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);
void mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extra);
BOOL SetCursorPos(int x, int y);
BOOL GetCursorPos(LPPOINT pt);
BOOL ClipCursor(const RECT* rect);
BOOL GetClipCursor(LPRECT rect);
SHORT GetKeyState(int vk);       // as the calling thread's queue has seen it
SHORT GetAsyncKeyState(int vk);  // as generated

// ---- menus, bitmaps, icons (resources come from w32subst::addMenuResource and friends) -----
HMENU LoadMenuA(HINSTANCE hInstance, LPCSTR name);
HMENU CreatePopupMenu(void);
HMENU CreateMenu(void);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCSTR text);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCWSTR text);
HMENU GetSubMenu(HMENU menu, int pos);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int pos);
int GetMenuStringA(HMENU menu, UINT item, LPSTR buf, int cap, UINT flags);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
// Modal on the calling thread: runs a menu loop (the thread's other messages are handled
// meanwhile) until the user picks an item (see w32subst::setMenuDriver/pickMenuItem) or dismisses
// the menu. A pick is posted to the owner as WM_COMMAND(MAKEWPARAM(id, 0), 0), or returned with
// TPM_RETURNCMD.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPVOID params);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                    const RECT* rect);
HBITMAP LoadBitmapA(HINSTANCE hInstance, LPCSTR name);
BOOL DeleteObject(HGDIOBJ object);
HICON LoadIconA(HINSTANCE hInstance, LPCSTR name);
HICON LoadIconW(HINSTANCE hInstance, LPCWSTR name);
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR name);
BOOL DestroyIcon(HICON icon);
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// ---- clipboard (session-wide: shared by every simulated process) ----------------------------
UINT RegisterClipboardFormatA(LPCSTR name);
BOOL OpenClipboard(HWND owner);  // fails while another thread holds it open
BOOL CloseClipboard(void);
BOOL EmptyClipboard(void);
HANDLE SetClipboardData(UINT format, HANDLE mem);  // the clipboard takes ownership
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);
int CountClipboardFormats(void);
HWND GetClipboardOwner(void);

}  // extern "C"

// CPaintManagerUI: one per window. It holds the window's control tree, delivers notifications to
// its notifiers, filters window messages, lays the tree out, keeps the focus and the timers.
// Nothing is painted: Paint() walks the tree's DoPaint with a stand-in device context so that
// controls that act on painting (the animated picture) still do.
// UI thread only, except the process-wide settings, which any thread may read.
//
// Timers: in the running program each timer is a Win32 timer of the manager's window, and its
// events arrive as WM_TIMER through the thread's message loop. Tests may put the process on a
// manual clock (UseManualTimerClock) and step it with AdvanceTimers; a manager without a window
// always runs on its manual clock.
#pragma once

#include "duilib/UIControl.h"

#include <map>
#include <unordered_map>

namespace DuiLib {

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // ---- process-wide (set once at start; any thread reads) ----
  static void SetInstance(HINSTANCE hInst);
  static HINSTANCE GetInstance();
  static CDuiString GetInstancePath();  // folder of the program, with a trailing '/'
  static CDuiString GetCurrentPath();   // the working directory, without a trailing '/'
  static void SetResourcePath(LPCTSTR pStrPath);
  static const CDuiString& GetResourcePath();  // with a trailing '/'
  // Runs the calling thread's message loop until WM_QUIT.
  static void MessageLoop();
  static void Term() {}
  // Maps a platform path to this machine: '\' becomes '/', and a missing name is looked up in
  // its folder without regard to case (as the platform's file system does).
  static CDuiString MapPath(LPCTSTR path);

  // ---- the window ----
  void Init(HWND hWnd);
  HWND GetPaintWindow() const { return m_hWndPaint; }
  HDC GetPaintDC() const;
  SIZE GetInitSize() const { return m_szInitWindowSize; }
  void SetInitSize(int cx, int cy);
  SIZE GetClientSize() const;

  // Skin folder of this window (relative to the resource path); skins are looked for there first.
  void SetSkinFolder(LPCTSTR folder) { m_sSkinFolder = folder; }
  const CDuiString& GetSkinFolder() const { return m_sSkinFolder; }
  // Full path of a skin file, or empty when it exists nowhere the manager looks.
  CDuiString FindSkinFile(LPCTSTR file) const;
  void UseParentResource(CPaintManagerUI* pm) { m_pParentResourcePM = pm; }
  CPaintManagerUI* GetParentResource() const { return m_pParentResourcePM; }
  void AddDefaultAttributeList(LPCTSTR pStrControlName, LPCTSTR pStrControlAttrList);
  LPCTSTR GetDefaultAttributeList(LPCTSTR pStrControlName) const;  // null when none

  // ---- the tree ----
  bool AttachDialog(CControlUI* pControl);  // the manager owns the root from now on
  CControlUI* GetRoot() const { return m_pRoot; }
  bool InitControls(CControlUI* pControl, CControlUI* pParent = nullptr);
  void ReapObjects(CControlUI* pControl);  // a control is going away: forget it
  // By name: through a map kept as controls are attached to this manager, renamed, detached
  // (a container's Remove without destruction) and destroyed. Of several controls with one
  // name, the one attached first that is still in the window's tree. A name the map lacks is
  // looked for in the tree (a control another manager has taken over for a while).
  CControlUI* FindControl(LPCTSTR pstrName) const;
  CControlUI* FindControl(POINT pt) const;
  CControlUI* FindSubControlByName(CControlUI* pParent, LPCTSTR pstrName) const;

  // ---- notifications and messages ----
  bool AddNotifier(INotifyUI* pControl);
  bool RemoveNotifier(INotifyUI* pControl);
  // Synchronous: every notifier gets it, in the order they were added.
  void SendNotify(CControlUI* pControl, LPCTSTR pstrMessage, WPARAM wParam = 0, LPARAM lParam = 0,
                  bool bAsync = false);
  void SendNotify(TNotifyUI& Msg, bool bAsync = false);
  bool AddMessageFilter(IMessageFilterUI* pFilter);
  bool RemoveMessageFilter(IMessageFilterUI* pFilter);
  // The window's messages: filters first, then mouse input to the control under the point,
  // the first paint ("windowinit"), focus. True when handled (lRes holds the result).
  bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

  // ---- focus, capture ----
  CControlUI* GetFocus() const { return m_pFocus; }
  // Moves the focus: the old control gets the kill-focus event and "killfocus", the new one the
  // set-focus event and "setfocus".
  void SetFocus(CControlUI* pControl);
  void SetCapture();
  void ReleaseCapture();
  bool IsCaptured() const;

  // ---- layout and painting ----
  void NeedUpdate() { m_bUpdateNeeded = true; }
  bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
  void UpdateLayout();  // lays the root out in the client area when needed
  void Invalidate(RECT& rcItem);
  int GetInvalidateCount() const { return m_nInvalidates; }
  // Calls DoPaint on the tree (lays it out first). Sends "windowinit" at the first paint.
  void Paint();
  bool IsInitialised() const { return m_bFirstLayoutDone; }

  // ---- timers ----
  // Process-wide, for tests: true puts managers that set timers from now on onto the manual
  // clock. Any thread.
  static void UseManualTimerClock(bool manual);
  static bool IsManualTimerClock();
  bool SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse, LPCTSTR pstrName = nullptr,
                void* pReserved = nullptr);
  bool KillTimer(CControlUI* pControl, UINT nTimerID, bool bRemoveOnly = false);
  void KillTimer(CControlUI* pControl);  // every timer of the control
  void RemoveAllTimers();
  // Interval of a running timer, or -1.
  int GetTimerInterval(CControlUI* pControl, UINT nTimerID) const;
  // Moves this manager's manual clock forward, delivering each timer event when it falls due.
  void AdvanceTimers(UINT ms);

  // ---- the name map (the controls keep it up to date) ----
  void RememberName(CControlUI* pControl);  // no-op for an empty name or one already kept
  void ForgetName(CControlUI* pControl);
  void ForgetNames(CControlUI* pSubtree);  // the control and everything below it

 private:
  struct Timer {
    CControlUI* control;
    UINT id;
    UINT interval;
    uint64_t due;
    UINT_PTR key;  // the window's Win32 timer id; 0 on the manual clock
  };
  bool RunsWin32Timers() const;
  HWND m_hWndPaint = nullptr;
  CControlUI* m_pRoot = nullptr;
  CControlUI* m_pFocus = nullptr;
  CControlUI* m_pEventHover = nullptr;
  CControlUI* m_pEventClick = nullptr;
  std::vector<INotifyUI*> m_aNotifiers;
  std::vector<IMessageFilterUI*> m_aMessageFilters;
  std::map<std::string, std::string> m_DefaultAttrHash;
  std::vector<Timer> m_aTimers;
  // The controls of one name in the order they were attached; a forgotten one leaves a null
  // behind (its control's key is its place + 1) until the slot is compacted.
  struct NameSlot {
    std::vector<CControlUI*> controls;
    size_t live = 0;
    size_t head = 0;  // no live control before this place
  };
  mutable std::unordered_map<std::string, NameSlot> m_mNameHash;  // FindControl moves a head
  uint64_t m_clock = 0;
  UINT_PTR m_nextTimerKey = 0x1000;
  SIZE m_szInitWindowSize{0, 0};
  CDuiString m_sSkinFolder;
  CPaintManagerUI* m_pParentResourcePM = nullptr;
  bool m_bUpdateNeeded = true;
  bool m_bFirstLayoutDone = false;
  bool m_bInLayout = false;
  int m_nInvalidates = 0;
};

}  // namespace DuiLib

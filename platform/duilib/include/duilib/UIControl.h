// CControlUI: the base of every control. A control keeps its state (text, visibility, enabled,
// position, tag, ...); nothing is painted. UI thread only.
#pragma once

#include "duilib/UIBase.h"

#include <cstdint>

namespace DuiLib {

typedef CControlUI*(CALLBACK* FINDCONTROLPROC)(CControlUI*, LPVOID);

// FindControl flags.
#define UIFIND_ALL 0x00000000
#define UIFIND_VISIBLE 0x00000001
#define UIFIND_ENABLED 0x00000002
#define UIFIND_HITTEST 0x00000004
#define UIFIND_TOP_FIRST 0x00000008
#define UIFIND_ME_FIRST 0x80000000

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  // ---- identity ----
  virtual CDuiString GetName() const { return m_sName; }
  // The window's manager finds the control by its new name from now on.
  virtual void SetName(LPCTSTR pstrName);
  virtual LPCTSTR GetClass() const;
  // The object that answers to the interface name, or null ("Control" is every control).
  virtual LPVOID GetInterface(LPCTSTR pstrName);
  virtual bool Activate();
  virtual CPaintManagerUI* GetManager() const { return m_pManager; }
  // Attaches the control (and, for containers, its children) to a manager and a parent.
  virtual void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true);
  virtual CControlUI* GetParent() const { return m_pParent; }

  // ---- text and data ----
  virtual CDuiString GetText() const { return m_sText; }
  virtual void SetText(LPCTSTR pstrText);  // programmatic: sends no notification
  CDuiString GetToolTip() const { return m_sToolTip; }
  void SetToolTip(LPCTSTR s) { m_sToolTip = s; }
  const CDuiString& GetUserData() const { return m_sUserData; }
  void SetUserData(LPCTSTR s) { m_sUserData = s; }
  UINT_PTR GetTag() const { return m_pTag; }
  void SetTag(UINT_PTR tag) { m_pTag = tag; }

  // ---- look (kept, never drawn) ----
  LPCTSTR GetBkImage() const { return m_sBkImage; }
  void SetBkImage(LPCTSTR s) { m_sBkImage = s; }
  DWORD GetBkColor() const { return m_dwBkColor; }
  void SetBkColor(DWORD c) { m_dwBkColor = c; }
  DWORD GetBorderColor() const { return m_dwBorderColor; }
  void SetBorderColor(DWORD c) { m_dwBorderColor = c; }
  int GetBorderSize() const { return m_nBorderSize; }
  void SetBorderSize(int n) { m_nBorderSize = n; }

  // ---- position ----
  // The rectangle from the last layout; a pending layout of the window runs first.
  virtual const RECT& GetPos() const;
  virtual void SetPos(RECT rc, bool bNeedInvalidate = true);
  virtual RECT GetPadding() const { return m_rcPadding; }
  virtual void SetPadding(RECT rc);
  virtual int GetFixedWidth() const { return m_cxyFixed.cx; }
  virtual void SetFixedWidth(int cx);
  virtual int GetFixedHeight() const { return m_cxyFixed.cy; }
  virtual void SetFixedHeight(int cy);
  // The size the control asks for within the available size (its fixed size here).
  virtual SIZE EstimateSize(SIZE szAvailable);

  // ---- state ----
  // Visible = own flag and the flag its container gives it.
  virtual bool IsVisible() const { return m_bVisible && m_bInternVisible; }
  virtual void SetVisible(bool bVisible = true);
  virtual void SetInternVisible(bool bVisible = true);
  bool IsOwnVisible() const { return m_bVisible; }
  virtual bool IsEnabled() const { return m_bEnabled; }
  virtual void SetEnabled(bool bEnable = true);
  virtual bool IsMouseEnabled() const { return m_bMouseEnabled; }
  virtual void SetMouseEnabled(bool bEnable = true) { m_bMouseEnabled = bEnable; }
  virtual bool IsFocused() const { return m_bFocused; }
  virtual void SetFocus();
  bool IsContextMenuUsed() const { return m_bMenuUsed; }
  void SetContextMenuUsed(bool b) { m_bMenuUsed = b; }

  // ---- tree search ----
  virtual CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags);

  // ---- layout and paint ----
  void Invalidate();
  bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
  void NeedUpdate();
  void NeedParentUpdate();
  virtual void DoPaint(HDC hDC, const RECT& rcPaint);

  // ---- events ----
  // Calls the OnEvent delegates, then DoEvent when none of them returned false.
  void Event(TEventUI& event);
  virtual void DoEvent(TEventUI& event);
  CEventSource OnEvent;
  CEventSource OnInit;
  CEventSource OnDestroy;

  // ---- attributes from the skin ----
  virtual void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue);
  // A list of name="value" pairs.
  void ApplyAttributeList(LPCTSTR pstrList);
  virtual void Init();
  virtual void DoInit() {}

 protected:
  CPaintManagerUI* m_pManager = nullptr;
  CControlUI* m_pParent = nullptr;
  CDuiString m_sName;
  CDuiString m_sText;
  CDuiString m_sToolTip;
  CDuiString m_sUserData;
  CDuiString m_sBkImage;
  UINT_PTR m_pTag = 0;
  bool m_bVisible = true;
  bool m_bInternVisible = true;
  bool m_bEnabled = true;
  bool m_bMouseEnabled = true;
  bool m_bFocused = false;
  bool m_bMenuUsed = false;
  bool m_bUpdateNeeded = true;
  RECT m_rcItem{0, 0, 0, 0};
  RECT m_rcPadding{0, 0, 0, 0};
  SIZE m_cxyFixed{0, 0};
  DWORD m_dwBkColor = 0;
  DWORD m_dwBorderColor = 0;
  int m_nBorderSize = 0;

 private:
  friend class CPaintManagerUI;
  friend class CListBaseUI;  // reads the rows' rectangles while it lays them out
  uint64_t m_nNameKey = 0;  // the control's entry in its manager's name map; 0 when none
};

// Parses "a,b,c,d" into a rectangle; "a,b" into a size. Missing numbers are 0.
RECT ParseRect(LPCTSTR s);
SIZE ParseSize(LPCTSTR s);
bool ParseBool(LPCTSTR s);
DWORD ParseColor(LPCTSTR s);  // "#AARRGGBB", "0xAARRGGBB" or decimal

}  // namespace DuiLib

// Lists and list elements, single-select (CListUI) and multi-select (CMutilListUI).
// Items are numbered 0..n-1 in list order after every Add, AddAt, Remove, RemoveAt and
// SetItemIndex; only the items from the changed place on are renumbered (appending costs one). Rows are stacked from the list's top; a row without a fixed height is 24 high.
// UI thread only.
//
// Clicks on a multi-select list's element go to its owner's hooks:
//   plain button-down -> SelectItemSingle, with Ctrl -> SelectItemCtrl (toggle),
//   with Shift -> SelectItemShift (range from the current selection), double click ->
//   DBClickItem.
#pragma once

#include "duilib/UICommonControls.h"

namespace DuiLib {

struct TListInfoUI {
  int nFont = -1;
  UINT uTextStyle = DT_VCENTER | DT_SINGLELINE;
  RECT rcTextPadding{0, 0, 0, 0};
  DWORD dwTextColor = 0xFF000000;
  DWORD dwBkColor = 0;
  DWORD dwSelectedTextColor = 0xFF000000;
  DWORD dwSelectedBkColor = 0;
  DWORD dwHotTextColor = 0xFF000000;
  DWORD dwHotBkColor = 0;
  DWORD dwDisabledTextColor = 0xFFCCCCCC;
  DWORD dwDisabledBkColor = 0;
  bool bShowHtml = false;
};

class IListOwnerUI {
 public:
  virtual ~IListOwnerUI() = default;
  virtual TListInfoUI* GetListInfo() = 0;
  virtual int GetCurSel() const = 0;
  virtual bool SelectItem(int iIndex, bool bTakeFocus = false) = 0;
  virtual void DoEvent(TEventUI& event) = 0;
};

class CListHeaderUI;

class IListUI : public IListOwnerUI {
 public:
  virtual CListHeaderUI* GetHeader() const = 0;
};

class IMutilListOwnerUI {
 public:
  virtual ~IMutilListOwnerUI() = default;
  virtual TListInfoUI* GetListInfo() = 0;
  virtual int GetCurSel() const = 0;
  virtual bool SelectItemCtrl(int iIndex, bool bTakeFocus) = 0;
  virtual bool SelectItemShift(int iIndex, bool bTakeFocus) = 0;
  virtual bool DBClickItem(int iIndex) = 0;
  virtual bool SelectItemSingle(int iIndex, bool bTakeFocus) = 0;
  virtual bool SelectRange(int iFrom, int iTo) = 0;
  virtual void DoEvent(TEventUI& event) = 0;
};

class IMutilListUI : public IMutilListOwnerUI {
 public:
  virtual CListHeaderUI* GetHeader() const = 0;
};

class IListItemUI {
 public:
  virtual ~IListItemUI() = default;
  virtual int GetIndex() const = 0;
  virtual void SetIndex(int iIndex) = 0;
  virtual IListOwnerUI* GetOwner() = 0;
  // The owner is a list control; the item reaches it through "IListOwner" or
  // "IMutilListOwner".
  virtual void SetOwner(CControlUI* pOwner) = 0;
  virtual bool IsSelected() const = 0;
  // bTriggerEvent: tell the owner ("itemselect" notification) when the state changes.
  virtual bool Select(bool bSelect = true, bool bTriggerEvent = true) = 0;
  virtual void DrawItemText(HDC hDC, const RECT& rcItem) = 0;
};

class CListHeaderUI : public CHorizontalLayoutUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
};

// Shared part of the two list kinds: items, numbering, the list info.
class CListBaseUI : public CVerticalLayoutUI {
 public:
  CListBaseUI();
  ~CListBaseUI() override;
  CListHeaderUI* GetHeader() const { return m_pHeader; }
  TListInfoUI* GetListInfo() { return &m_ListInfo; }
  int GetCurSel() const { return m_iCurSel; }

  bool Add(CControlUI* pControl) override;
  bool AddAt(CControlUI* pControl, int iIndex) override;
  bool Remove(CControlUI* pControl) override;
  bool RemoveAt(int iIndex) override;
  void RemoveAll() override;
  bool SetItemIndex(CControlUI* pControl, int iIndex) override;

  void SetItemFont(int index) { m_ListInfo.nFont = index; }
  void SetItemTextStyle(UINT s) { m_ListInfo.uTextStyle = s; }
  void SetItemTextPadding(RECT rc) { m_ListInfo.rcTextPadding = rc; }
  void SetItemTextColor(DWORD c) { m_ListInfo.dwTextColor = c; }
  void SetSelectedItemTextColor(DWORD c) { m_ListInfo.dwSelectedTextColor = c; }
  void SetHotItemTextColor(DWORD c) { m_ListInfo.dwHotTextColor = c; }
  void SetDisabledItemTextColor(DWORD c) { m_ListInfo.dwDisabledTextColor = c; }
  void SetItemShowHtml(bool b) { m_ListInfo.bShowHtml = b; }
  bool IsItemShowHtml() const { return m_ListInfo.bShowHtml; }
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;
  void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
  // A hit test (the mouse) finds the row under the point among the rows the last layout showed
  // by their position, without visiting every row; other searches visit every row.
  CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;

 protected:
  int DefaultItemHeight() const override { return 24; }
  void LayoutChildren(RECT rc) override;
  void Renumber(int from);  // the items from index `from` to the end
  // The control the items take as their owner.
  virtual CControlUI* OwnerControl() { return this; }
  CListHeaderUI* m_pHeader;
  TListInfoUI m_ListInfo;
  int m_iCurSel = -1;
  struct ShownRow {
    CControlUI* row;
    LONG top, bottom;
  };
  std::vector<ShownRow> m_aShownRows;     // visible rows of the last layout, top to bottom
  bool m_bShownRowsValid = false;         // false from a change of the items to the next layout
};

class CListUI : public CListBaseUI, public IListUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  CListHeaderUI* GetHeader() const override { return CListBaseUI::GetHeader(); }
  TListInfoUI* GetListInfo() override { return CListBaseUI::GetListInfo(); }
  int GetCurSel() const override { return CListBaseUI::GetCurSel(); }
  // Selects one item and deselects the previous one.
  bool SelectItem(int iIndex, bool bTakeFocus = false) override;
  void DoEvent(TEventUI& event) override;
};

class CMutilListUI : public CListBaseUI, public IMutilListUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  CListHeaderUI* GetHeader() const override { return CListBaseUI::GetHeader(); }
  TListInfoUI* GetListInfo() override { return CListBaseUI::GetListInfo(); }
  int GetCurSel() const override { return CListBaseUI::GetCurSel(); }
  // Selects only this item (the others are deselected); it becomes the current selection.
  virtual bool SelectItem(int iIndex, bool bTakeFocus = false);
  void SelectAll(bool bSelect);
  bool SelectItemCtrl(int iIndex, bool bTakeFocus) override;   // toggles the item
  bool SelectItemShift(int iIndex, bool bTakeFocus) override;  // range from the current one
  bool DBClickItem(int iIndex) override;                       // "itemactivate"
  bool SelectItemSingle(int iIndex, bool bTakeFocus) override; // SelectItem
  bool SelectRange(int iFrom, int iTo) override;               // only the range selected
  void DoEvent(TEventUI& event) override;
};

// A list row. Button-down selects it through its owner; double click activates it.
class CListElementUI : public CControlUI, public IListItemUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  int GetIndex() const override { return m_iIndex; }
  void SetIndex(int iIndex) override { m_iIndex = iIndex; }
  IListOwnerUI* GetOwner() override { return m_pOwner; }
  void SetOwner(CControlUI* pOwner) override;
  bool IsSelected() const override { return m_bSelected; }
  bool Select(bool bSelect = true, bool bTriggerEvent = true) override;
  void DrawItemText(HDC hDC, const RECT& rcItem) override {}
  void SetVisible(bool bVisible = true) override;
  void DoEvent(TEventUI& event) override;

 protected:
  int m_iIndex = -1;
  bool m_bSelected = false;
  IListOwnerUI* m_pOwner = nullptr;
  IMutilListOwnerUI* m_pMutilOwner = nullptr;
  CControlUI* m_pOwnerControl = nullptr;
};

class CListLabelElementUI : public CListElementUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
};

class CListTextElementUI : public CListLabelElementUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
};

// A list row that holds other controls (built from a skin).
class CListContainerElementUI : public CHorizontalLayoutUI, public IListItemUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  int GetIndex() const override { return m_iIndex; }
  void SetIndex(int iIndex) override { m_iIndex = iIndex; }
  IListOwnerUI* GetOwner() override { return m_pOwner; }
  void SetOwner(CControlUI* pOwner) override;
  CControlUI* GetOwnerControl() const { return m_pOwnerControl; }
  bool IsSelected() const override { return m_bSelected; }
  bool Select(bool bSelect = true, bool bTriggerEvent = true) override;
  void DrawItemText(HDC hDC, const RECT& rcItem) override {}
  virtual void DrawItemBk(HDC hDC, const RECT& rcItem) {}
  bool Activate() override;
  void SetVisible(bool bVisible = true) override;
  void DoEvent(TEventUI& event) override;
  void DoPaint(HDC hDC, const RECT& rcPaint) override;
  // The pushed/hot bits of the row (UISTATE_*).
  UINT GetButtonState() const { return m_uButtonState; }
  void SetButtonState(UINT s) { m_uButtonState = s; }

 protected:
  int m_iIndex = -1;
  bool m_bSelected = false;
  UINT m_uButtonState = 0;
  IListOwnerUI* m_pOwner = nullptr;
  IMutilListOwnerUI* m_pMutilOwner = nullptr;
  CControlUI* m_pOwnerControl = nullptr;
};

}  // namespace DuiLib

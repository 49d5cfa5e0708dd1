// The popup menu extension: menu windows built from a skin ("Menu" and "MenuElement" elements),
// sub-menus made of an item's nested items, and the broadcast that closes open menus.
// The chosen item's name reaches the application window as WM_PW_MENUCOMMAND (0x60F), posted
// with a new CDuiString that the receiver deletes; every menu window, when finally destroyed,
// sends it WM_PW_MENUCOMMAND with 0 and 100.
// Thread rule: UI thread only (menus are created, shown and closed on the thread of the window
// that pops them up); MenuObserver itself may be used from any thread.
#pragma once

#include "duilib/UIlib.h"
#include "ui/ObserverImpl.h"

#ifndef WM_PW_MENUCOMMAND
#define WM_PW_MENUCOMMAND 0x60F
#endif

namespace DuiLib {

struct ContextMenuParam {
  int action;   // 1: close every menu window; 2: close the menu windows below window
  HWND window;
};

typedef ObserverImpl<int, ContextMenuParam> ContextMenuObserver;
typedef ReceiverImpl<int, ContextMenuParam> ContextMenuReceiver;

// Every menu window is attached while it exists.
extern ContextMenuObserver MenuObserver;

class CMenuElementUI;

class CMenuUI : public CListUI {
 public:
  CMenuUI();
  ~CMenuUI() override = default;
  LPCTSTR GetClass() const override;               // "MenuUI"
  LPVOID GetInterface(LPCTSTR pstrName) override;  // "Menu" without regard to case
  SIZE EstimateSize(SIZE szAvailable) override;    // widest visible item, heights summed
  // Only controls with the "MenuElement" interface; an added item's nested items are hidden.
  int GetItemIndex(CControlUI* pControl) const override;
  bool SetItemIndex(CControlUI* pControl, int iIndex) override;
  bool Add(CControlUI* pControl) override;
  bool AddAt(CControlUI* pControl, int iIndex) override;
  bool Remove(CControlUI* pControl) override;

  HWND ownerWindow = nullptr;  // set by the builder callback; not read by the menu
};

class CMenuWnd;

class CMenuElementUI : public CListContainerElementUI {
 public:
  CMenuElementUI();
  ~CMenuElementUI() override = default;
  LPCTSTR GetClass() const override;               // "MenuElementUI"
  LPVOID GetInterface(LPCTSTR pstrName) override;  // "MenuElement" without regard to case
  bool Activate() override;                        // closes the menus; sends no command
  void DoEvent(TEventUI& event) override;
  SIZE EstimateSize(SIZE szAvailable) override;
  void DoPaint(HDC hDC, const RECT& rcPaint) override;
  void DrawItemText(HDC hDC, const RECT& rcItem) override;
  // Children receive no mouse input: a hit on the item is the item's.
  CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;
  void OpenSubMenu();
  // The item's nested items, in order.
  std::vector<CMenuElementUI*> SubItems();

  CMenuWnd* subMenuWindow = nullptr;
  HWND ownerWindow = nullptr;  // the application window that receives the item's command

 private:
  // Makes the nested items visible; false when there are none.
  bool ShowSubItems();
};

class CMenuBuilderCallback : public IDialogBuilderCallback {
 public:
  // "Menu" and "MenuElement" (without regard to case) with ownerWindow; others null.
  CControlUI* CreateControl(LPCTSTR pstrClass) override;
  HWND ownerWindow = nullptr;
};

class CMenuWnd : public CWindowWnd, public ContextMenuReceiver {
 public:
  // ownerWindow: the application window for a top-level menu, the parent menu window for a
  // sub-menu.
  explicit CMenuWnd(HWND ownerWindow = nullptr);
  ~CMenuWnd() override = default;

  // Shows the menu with its top-left corner at point (screen coordinates); a sub-menu passes
  // its owner element and an empty skin. The window deletes itself when it is closed (also
  // when it cannot be created).
  void Popup(CMenuElementUI* pOwner, STRINGorID xml, LPCTSTR pSkinType, POINT point);

  LPCTSTR GetWindowClassName() const override { return _T("MenuWnd"); }
  void OnFinalMessage(HWND hWnd) override;
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  int Accept(ContextMenuParam param) override;  // closes the window as the param says
  CPaintManagerUI& GetPaintManager() { return m_pm; }
  CMenuElementUI* GetOwnerElement() const { return ownerElement; }

  // Where a sub-menu of width W and height H goes. parent: the parent menu window's rectangle;
  // item: the owner item's rectangle (screen) with its bottom at its top + H; open: the open
  // menu windows' rectangles in the order they opened, isParent marking the parent menu.
  struct OpenMenu {
    RECT rc;
    bool isParent;
  };
  static RECT PlaceSubMenu(const RECT& parent, const RECT& item, int W, int H, const std::vector<OpenMenu>& open,
                           const RECT& work);

  HWND ownerWindow;
  POINT basePoint{0, 0};
  CDuiString skinFile;
  CDuiString skinType;
  CMenuElementUI* ownerElement = nullptr;
  CMenuUI* layout = nullptr;

 private:
  LRESULT OnCreateTopLevel();
  LRESULT OnCreateSubMenu();
  // Gives the owner element's nested items back to it (manager, parent, list owner).
  void ReturnSubItems(bool hide);
  bool IsMenuWindow(HWND hWnd) const;

  CPaintManagerUI m_pm;
  bool itemsReturned_ = false;
  bool* finalFlag_ = nullptr;  // Popup's "the window is already gone" flag while it creates
};

}  // namespace DuiLib

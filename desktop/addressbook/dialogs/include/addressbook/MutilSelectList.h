// CMutilSelectList: a multi-select list of text entries (recipients, search hits). Each entry is
// a row built from "MutilListItem.xml" whose control `listitem` holds the text (and the row as
// its tag) and whose control `TabItemHly` marks it as selectable by a dragged rectangle. Entries
// are selected by click (Ctrl toggles, Shift selects a range) and by dragging a rectangle more
// than 20 pixels from where the press started.
//
// Notification "menu" (sender the list, wParam and lParam of the mouse event) when the user
// opens the context menu over the list and the list's context menu is enabled.
//
// Threads: UI thread only (the thread of the window that holds the list), every member.
#pragma once

#include "duilib/UIlib.h"

#include <string>
#include <vector>

class CMutilSelectList : public DuiLib::CMutilListUI, public DuiLib::INotifyUI {
 public:
  // The window's paint manager (not owned): entries are built with it.
  explicit CMutilSelectList(DuiLib::CPaintManagerUI* manager);
  ~CMutilSelectList() override;

  void DoEvent(DuiLib::TEventUI& event) override;
  bool Add(DuiLib::CControlUI* pControl) override;
  bool AddAt(DuiLib::CControlUI* pControl, int iIndex) override;
  bool Remove(DuiLib::CControlUI* pControl) override;
  bool RemoveAt(int iIndex) override;
  // A plain click selects only that entry.
  bool SelectItemSingle(int iIndex, bool bTakeFocus) override;
  void Notify(DuiLib::TNotifyUI& msg) override {}

  // Builds an entry with that text and appends it (a text already present is added again).
  void AddItem(LPCTSTR text);
  // Appends an entry for each text, in order; with skipPresent, a text the list already holds
  // (or that came earlier in texts) is left out. One pass over the list, whatever the count.
  void AddItems(const std::vector<std::string>& texts, bool skipPresent);
  bool HasItemText(LPCTSTR text);
  void RemoveSelected();
  int GetSelectedCount();
  // True when at least one entry is selected (stops at the first).
  bool HasSelection();
  // Appends the texts of the selected entries, in list order.
  void GetSelectedTexts(std::vector<std::string>& out);
  // Appends the address of every entry (its text between "<" and ">"), in list order.
  void GetAddresses(std::vector<std::string>& out);
  // Selects the entries whose rows the rectangle touches and deselects the others, down to the
  // first row that is not selectable by rectangle.
  void SelectInRect(RECT rc);

  // The address inside an entry text: after the last "<" up to the first ">" after it (the
  // address is the end of an entry, whatever its display name holds); a text without "<" gives
  // everything before its first ">", a text with "<" and no ">" after it everything after the
  // "<", a text with neither the whole text.
  static std::string AddressOf(const std::string& text);

  bool IsDragging() const { return dragging_; }

 private:
  DuiLib::CControlUI* textControlOf(DuiLib::CControlUI* row) const;
  static bool isSelected(DuiLib::CControlUI* row);
  void endDrag();

  DuiLib::CPaintManagerUI* manager_;  // not owned
  DuiLib::CDialogBuilder builder_;    // keeps "MutilListItem.xml" once parsed
  bool dragging_ = false;
  POINT dragStart_{0, 0};
};

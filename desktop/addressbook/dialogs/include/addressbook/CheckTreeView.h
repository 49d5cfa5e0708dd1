// CCheckTreeView: a list that shows a tree of rows (groups and contacts) with an expand button
// and a check box on each. The view keeps a node tree beside the list's flat rows; a node's
// subtree always occupies the run of rows from its first child to its last descendant.
// Expanding and collapsing hides and shows rows; checking a node checks its whole subtree and
// every ancestor whose whole subtree is then checked; unchecking a node unchecks its ancestors.
// The owner builds the rows (list elements) and hands them to AddNode; the view creates no
// control. Every control of a node carries the node as its tag.
//
// Notifications to the paint manager's notifiers (sender the view, wParam and lParam 0):
// "CheckExpand" after a click toggled a node's expansion, "CheckChange" after a click (or the
// Space or Return key on a focused check box) toggled a node's check mark. A node's check box
// always shows the node's state, whatever toggled it.
//
// Threads: UI thread only (the thread of the window that holds the view), every member.
#pragma once

#include "duilib/UIlib.h"

#include <unordered_set>
#include <vector>

struct CheckTreeNode {
  std::vector<CheckTreeNode*> children;            // owned, in insertion order
  CheckTreeNode* parent = nullptr;                 // null for the root
  bool expanded = false;                           // the children's rows are shown
  bool checked = false;                            // the check box follows it
  DuiLib::CControlUI* row = nullptr;               // owned by the list; null for the root
  DuiLib::COptionUI* expandButton = nullptr;       // owned by the row; may be null
  DuiLib::COptionUI* checkBox = nullptr;           // owned by the row; may be null
  void* data = nullptr;                            // the owner's; never read by the view

  ~CheckTreeNode() {
    for (CheckTreeNode* c : children) delete c;
  }
};

class CCheckTreeView : public DuiLib::CListUI {
 public:
  CCheckTreeView();
  ~CCheckTreeView() override;

  LPCTSTR GetClass() const override;  // "XMLTreeUI"
  // "TimingWheel": the view; "IList", "IListOwner": its list part; else as a vertical layout.
  LPVOID GetInterface(LPCTSTR pstrName) override;
  // Shows or hides the view only: the rows keep the visibility the tree gives them.
  void SetVisible(bool bVisible = true) override;
  void SetInternVisible(bool bVisible = true) override;

  // Plain rows: only once AddNode gave a list-element class; they create no node.
  bool Add(DuiLib::CControlUI* pControl) override;
  bool AddAt(DuiLib::CControlUI* pControl, int iIndex) override;
  // A node's row takes the node's whole subtree with it.
  bool Remove(DuiLib::CControlUI* pControl) override;
  bool RemoveAt(int iIndex) override;
  // Every row and every node; the tree starts again empty.
  void RemoveAll() override;

  // Adds a node under parent (null: a top-level node) with its row inserted after the parent's
  // last descendant, then extraCount further controls (CControlUI*) that toggle the expansion
  // when clicked. The expand button shows once the node has a child; a row under a collapsed
  // or hidden parent starts hidden. Null on failure (unknown parent, unreadable index, refused
  // row); the row is then destroyed.
  CheckTreeNode* AddNode(DuiLib::COptionUI* expandButton, CheckTreeNode* parent, DuiLib::CControlUI* row,
                         bool expanded, DuiLib::COptionUI* checkBox, bool checked, int extraCount, ...);
  // Removes the node with its subtree and rows. False for null or the root.
  bool RemoveNode(CheckTreeNode* node);
  // The list index of the node's row, or -1.
  int GetNodeIndex(CheckTreeNode* node);
  // Child number i of node, or null.
  CheckTreeNode* GetChildNode(CheckTreeNode* node, int i);
  CheckTreeNode* GetRoot() const { return root_; }

  // Sets the node's check mark, its whole subtree's, and updates the ancestors.
  void SetNodeChecked(CheckTreeNode* node, bool checked);
  // Every descendant of node (not node itself) gets the state, without the ancestor rule.
  bool SetSubtreeChecked(CheckTreeNode* node, bool checked);
  void UncheckAll();
  // Appends the data of every checked node, depth first, each node before its children.
  void GetCheckedData(std::vector<void*>& out);
  // True when at least one node (group or contact) is checked; constant time.
  bool HasCheckedNode() const { return checkedCount_ > 0; }
  // Flips the node's expansion and shows or hides the rows below it; onLabel: the click was
  // on a label, so the expand button's picture is flipped here.
  void ToggleExpand(CheckTreeNode* node, bool onLabel);

 private:
  bool isListElementClass() const;
  // The node that a control's tag names, when it is a live node of this tree; else null.
  CheckTreeNode* nodeOf(DuiLib::CControlUI* control) const;
  CheckTreeNode* lastDescendant(CheckTreeNode* node) const;
  // The node of the row at index, or null.
  CheckTreeNode* nodeAt(int index) const;
  void setState(CheckTreeNode* node, bool checked);
  // Sets the node's flag and its box, keeping checkedCount_.
  void mark(CheckTreeNode* node, bool checked);
  void markSubtree(CheckTreeNode* node, bool checked);  // the descendants only
  // Toggles the node as a completed click on its box does.
  void toggleFromBox(CheckTreeNode* node);
  void forget(CheckTreeNode* node);  // drops node and its subtree from live_
  void notify(LPCTSTR type);
  bool OnExpandEvent(void* param);
  bool OnCheckEvent(void* param);

  CheckTreeNode* root_;
  DuiLib::CDuiString itemClass_;              // class of the last row given to AddNode
  std::unordered_set<CheckTreeNode*> live_;   // every node of the tree but the root
  size_t checkedCount_ = 0;                   // checked nodes among live_
};

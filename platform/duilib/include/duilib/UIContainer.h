// Containers and layouts. A container owns its children (unless automatic destruction is off)
// and lays them out deterministically: a vertical layout stacks its visible children top to
// bottom, a horizontal one left to right; fixed sizes are kept and the rest is shared.
// Invisible children take no space and get an empty rectangle. UI thread only.
#pragma once

#include "duilib/UIControl.h"

namespace DuiLib {

class IContainerUI {
 public:
  virtual ~IContainerUI() = default;
  virtual CControlUI* GetItemAt(int iIndex) const = 0;
  virtual int GetItemIndex(CControlUI* pControl) const = 0;
  virtual bool SetItemIndex(CControlUI* pControl, int iIndex) = 0;
  virtual int GetCount() const = 0;
  virtual bool Add(CControlUI* pControl) = 0;
  virtual bool AddAt(CControlUI* pControl, int iIndex) = 0;
  virtual bool Remove(CControlUI* pControl) = 0;
  virtual bool RemoveAt(int iIndex) = 0;
  virtual void RemoveAll() = 0;
};

class CContainerUI : public CControlUI, public IContainerUI {
 public:
  CContainerUI() = default;
  ~CContainerUI() override;

  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;

  CControlUI* GetItemAt(int iIndex) const override;
  int GetItemIndex(CControlUI* pControl) const override;
  bool SetItemIndex(CControlUI* pControl, int iIndex) override;
  int GetCount() const override { return (int)m_items.size(); }
  bool Add(CControlUI* pControl) override;
  bool AddAt(CControlUI* pControl, int iIndex) override;
  // Remove/RemoveAt destroy the child when automatic destruction is on; a control that is not a
  // child gives false and is not touched.
  bool Remove(CControlUI* pControl) override;
  bool RemoveAt(int iIndex) override;
  void RemoveAll() override;

  void SetAutoDestroy(bool b) { m_bAutoDestroy = b; }
  bool IsAutoDestroy() const { return m_bAutoDestroy; }
  RECT GetInset() const { return m_rcInset; }
  void SetInset(RECT rc);
  int GetChildPadding() const { return m_iChildPadding; }
  void SetChildPadding(int n);

  // First descendant (tree order) with that name, or null.
  CControlUI* FindSubControl(LPCTSTR pstrSubControlName);

  void SetVisible(bool bVisible = true) override;
  void SetInternVisible(bool bVisible = true) override;
  void SetEnabled(bool bEnable = true) override;
  void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
  CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void DoPaint(HDC hDC, const RECT& rcPaint) override;
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  // Lays the children out in rc (already inset). Children all get rc in a plain container.
  virtual void LayoutChildren(RECT rc);
  std::vector<CControlUI*> m_items;
  RECT m_rcInset{0, 0, 0, 0};
  int m_iChildPadding = 0;
  bool m_bAutoDestroy = true;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;

 protected:
  void LayoutChildren(RECT rc) override;
  // Height of a child without a fixed height, when the layout does not share the rest.
  virtual int DefaultItemHeight() const { return 0; }
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;

 protected:
  void LayoutChildren(RECT rc) override;
};

}  // namespace DuiLib

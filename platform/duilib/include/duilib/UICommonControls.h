// Labels, buttons, options and check boxes, edit boxes, progress bars. UI thread only.
//
// Mouse behaviour of buttons and options: a button-down (or double click) inside an enabled
// control arms it; the button-up activates it only when the mouse is still inside. Activation
// sends "click"; an option then flips its selected state and sends "selectchanged".
#pragma once

#include "win32/richedit.h"

#include <vector>

#include "duilib/UIContainer.h"

namespace DuiLib {

class CLabelUI : public CControlUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  int GetFont() const { return m_iFont; }
  void SetFont(int index) { m_iFont = index; }
  DWORD GetTextColor() const { return m_dwTextColor; }
  void SetTextColor(DWORD c) { m_dwTextColor = c; }
  UINT GetTextStyle() const { return m_uTextStyle; }
  void SetTextStyle(UINT s) { m_uTextStyle = s; }
  bool IsShowHtml() const { return m_bShowHtml; }
  void SetShowHtml(bool b) { m_bShowHtml = b; }
  RECT GetTextPadding() const { return m_rcTextPadding; }
  void SetTextPadding(RECT rc) { m_rcTextPadding = rc; }
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  int m_iFont = -1;
  DWORD m_dwTextColor = 0;
  UINT m_uTextStyle = DT_VCENTER | DT_SINGLELINE;
  bool m_bShowHtml = false;
  RECT m_rcTextPadding{0, 0, 0, 0};
};

class CTextUI : public CLabelUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
};

class CButtonUI : public CLabelUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  bool Activate() override;
  void DoEvent(TEventUI& event) override;
  void SetEnabled(bool bEnable = true) override;
  UINT GetButtonState() const { return m_uButtonState; }
  LPCTSTR GetNormalImage() const { return m_sNormalImage; }
  void SetNormalImage(LPCTSTR s) { m_sNormalImage = s; }
  LPCTSTR GetHotImage() const { return m_sHotImage; }
  void SetHotImage(LPCTSTR s) { m_sHotImage = s; }
  LPCTSTR GetPushedImage() const { return m_sPushedImage; }
  void SetPushedImage(LPCTSTR s) { m_sPushedImage = s; }
  LPCTSTR GetDisabledImage() const { return m_sDisabledImage; }
  void SetDisabledImage(LPCTSTR s) { m_sDisabledImage = s; }
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  UINT m_uButtonState = 0;
  CDuiString m_sNormalImage, m_sHotImage, m_sPushedImage, m_sDisabledImage;
};

class COptionUI : public CButtonUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  bool Activate() override;
  bool IsSelected() const { return m_bSelected; }
  // Sets the state; sends "selectchanged" when it changes and the control has a manager.
  virtual void Selected(bool bSelected);
  LPCTSTR GetGroup() const { return m_sGroupName; }
  void SetGroup(LPCTSTR s) { m_sGroupName = s; }
  LPCTSTR GetSelectedImage() const { return m_sSelectedImage; }
  void SetSelectedImage(LPCTSTR s) { m_sSelectedImage = s; }
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  bool m_bSelected = false;
  CDuiString m_sGroupName;
  CDuiString m_sSelectedImage;
};

class CCheckBoxUI : public COptionUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  void SetCheck(bool bCheck) { Selected(bCheck); }
  bool GetCheck() const { return IsSelected(); }
};

// An edit box. A user's typing (the automation's TypeText) changes the text and sends
// "textchanged"; SetText sends nothing. Focus changes send "setfocus"/"killfocus"; Enter
// sends "return".
class CEditUI : public CLabelUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  bool IsReadOnly() const { return m_bReadOnly; }
  void SetReadOnly(bool b) { m_bReadOnly = b; }
  bool IsPasswordMode() const { return m_bPasswordMode; }
  void SetPasswordMode(bool b) { m_bPasswordMode = b; }
  TCHAR GetPasswordChar() const { return m_cPasswordChar; }
  void SetPasswordChar(TCHAR c) { m_cPasswordChar = c; }
  int GetMaxChar() const { return m_iMaxChar; }
  void SetMaxChar(int n) { m_iMaxChar = n; }
  void DoEvent(TEventUI& event) override;
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  bool m_bReadOnly = false;
  bool m_bPasswordMode = false;
  TCHAR m_cPasswordChar = '*';
  int m_iMaxChar = 255;
};

// A rich edit. With automatic address detection on (SetAutoURLDetect), every "http://",
// "https://" or "www." run of its text up to a blank or a control character is a link; with
// ENM_LINK in its event mask, mouse events over a link reach the window as WM_NOTIFY with an
// ENLINK (code EN_LINK, hwndFrom the window). Character positions count characters, a GBK
// double-byte character as one. Implemented in UIRichEdit.cpp.
class CRichEditUI : public CEditUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

  bool GetAutoURLDetect() const { return m_bAutoURL; }
  void SetAutoURLDetect(bool bAutoDetect) { m_bAutoURL = bAutoDetect; }
  DWORD GetEventMask() const { return m_dwEventMask; }
  void SetEventMask(DWORD dwEventMask) { m_dwEventMask = dwEventMask; }
  // The selection; a range past the text is cut to it, cpMax -1 means the end.
  void SetSel(CHARRANGE& cr);
  void GetSel(CHARRANGE& cr) const;
  CDuiString GetSelText() const;
  // The detected links, in text order.
  std::vector<CHARRANGE> GetLinks() const;

 protected:
  bool m_bAutoURL = false;
  DWORD m_dwEventMask = 0;
  CHARRANGE m_chrg = CHARRANGE{0, 0};
};

class CProgressUI : public CLabelUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
  int GetMinValue() const { return m_nMin; }
  void SetMinValue(int n) { m_nMin = n; }
  int GetMaxValue() const { return m_nMax; }
  void SetMaxValue(int n) { m_nMax = n; }
  int GetValue() const { return m_nValue; }
  void SetValue(int n);  // kept within min..max
  void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

 protected:
  int m_nMin = 0;
  int m_nMax = 100;
  int m_nValue = 0;
};

class CSliderUI : public CProgressUI {
 public:
  LPCTSTR GetClass() const override;
  LPVOID GetInterface(LPCTSTR pstrName) override;
};

}  // namespace DuiLib

// Skins: CMarkup parses an XML skin (Xerces-C; a document with a DOCTYPE is refused, so no
// entity, external or internal, is ever resolved) and CDialogBuilder turns it into controls.
//
// Skin format: a root element (often <Window size="w,h">) holding one control tree. Elements
// named like the controls (VerticalLayout, HorizontalLayout, Control, Label, Text, Button,
// Option, CheckBox, Edit, RichEdit, Progress, Slider, List, ListElement, ListLabelElement,
// ListTextElement, ListContainerElement, MutilList) become those controls; any other element
// goes to the builder callback's CreateControl. Attributes are set with SetAttribute.
// <Default name="Menu" value="..."/> under Window records a default attribute list;
// <Font .../>, <Image .../> and <Include .../> are ignored.
// UI thread only (each builder keeps its own parsed markup).
#pragma once

#include "duilib/UIControl.h"

#include <memory>

namespace DuiLib {

class CPaintManagerUI;

// One element of a parsed skin.
struct CMarkupNode {
  CDuiString name;
  std::vector<std::pair<CDuiString, CDuiString>> attributes;  // GBK text
  std::vector<CMarkupNode> children;
  LPCTSTR GetAttributeValue(LPCTSTR attr) const;  // null when absent
};

class CMarkup {
 public:
  bool IsValid() const { return m_root != nullptr; }
  // A file (full path) or XML text. Files larger than 4 MiB are refused.
  bool LoadFromFile(LPCTSTR path);
  bool LoadFromString(const std::string& xml);
  void Release() { m_root.reset(); }
  const CMarkupNode* GetRoot() const { return m_root.get(); }
  const CDuiString& GetLastErrorMessage() const { return m_sError; }

 private:
  std::shared_ptr<CMarkupNode> m_root;
  CDuiString m_sError;
};

class CDialogBuilder {
 public:
  // Parses the skin (a file name looked up by the manager, or XML text starting with '<'), keeps
  // it, and builds it. Null when the skin cannot be read or gives no control. When pParent is a
  // container, the built controls are added to it.
  CControlUI* Create(STRINGorID xml, LPCTSTR type = nullptr, IDialogBuilderCallback* pCallback = nullptr,
                     CPaintManagerUI* pManager = nullptr, CControlUI* pParent = nullptr);
  // Builds again from the markup already parsed.
  CControlUI* Create(IDialogBuilderCallback* pCallback = nullptr, CPaintManagerUI* pManager = nullptr,
                     CControlUI* pParent = nullptr);
  CMarkup* GetMarkup() { return &m_xml; }

 private:
  CControlUI* Parse(const CMarkupNode& node, CControlUI* pParent, IDialogBuilderCallback* pCallback,
                    CPaintManagerUI* pManager);
  CMarkup m_xml;
};

// The control for a skin element name, or null for a name the library does not know.
CControlUI* CreateBuiltinControl(LPCTSTR pstrClass);

}  // namespace DuiLib

// Skins: parsing with Xerces-C and building controls.
#include "duilib/UIDlgBuilder.h"

#include "duilib/UIList.h"
#include "duilib/UIManager.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace DuiLib {

namespace {
namespace X = xercesc;

const size_t kMaxSkinBytes = 4 * 1024 * 1024;
const int kMaxDepth = 64;

void initXerces() {
  static std::once_flag once;
  std::call_once(once, [] { X::XMLPlatformUtils::Initialize(); });  // kept for the process
}

std::string toAcp(const XMLCh* s) {
  if (!s || !*s) return std::string();
  LPCWSTR w = reinterpret_cast<LPCWSTR>(s);
  int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out((size_t)n, '\0');
  WideCharToMultiByte(CP_ACP, 0, w, -1, &out[0], n, nullptr, nullptr);
  out.resize(strlen(out.c_str()));
  return out;
}

std::string acpToUtf8(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  if (n <= 0) return s;
  std::u16string w((size_t)n, u'\0');
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], n);
  int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return s;
  std::string out((size_t)m, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], m, nullptr, nullptr);
  out.resize(strlen(out.c_str()));
  return out;
}

bool hasDoctype(const std::string& xml) {
  for (size_t p = xml.find("<!"); p != std::string::npos; p = xml.find("<!", p + 2)) {
    std::string head = xml.substr(p + 2, 7);
    for (auto& c : head) c = (char)toupper((unsigned char)c);
    if (head == "DOCTYPE" || head.compare(0, 6, "ENTITY") == 0) return true;
  }
  return false;
}

bool convert(const X::DOMElement* e, CMarkupNode& out, int depth) {
  if (depth > kMaxDepth) return false;
  out.name = toAcp(e->getTagName()).c_str();
  const X::DOMNamedNodeMap* attrs = e->getAttributes();
  for (XMLSize_t i = 0; attrs && i < attrs->getLength(); ++i) {
    const X::DOMNode* a = attrs->item(i);
    out.attributes.emplace_back(CDuiString(toAcp(a->getNodeName())), CDuiString(toAcp(a->getNodeValue())));
  }
  for (const X::DOMNode* c = e->getFirstChild(); c; c = c->getNextSibling()) {
    if (c->getNodeType() != X::DOMNode::ELEMENT_NODE) continue;
    out.children.emplace_back();
    if (!convert(static_cast<const X::DOMElement*>(c), out.children.back(), depth + 1)) return false;
  }
  return true;
}
}  // namespace

LPCTSTR CMarkupNode::GetAttributeValue(LPCTSTR attr) const {
  for (const auto& a : attributes)
    if (a.first == attr) return a.second;
  return nullptr;
}

bool CMarkup::LoadFromFile(LPCTSTR path) {
  Release();
  std::ifstream in(CPaintManagerUI::MapPath(path).str(), std::ios::binary);
  if (!in) {
    m_sError.Format("cannot open skin %s", path ? path : "");
    return false;
  }
  std::string data;
  char buf[65536];
  while (in.read(buf, sizeof(buf)) || in.gcount() > 0) {
    data.append(buf, (size_t)in.gcount());
    if (data.size() > kMaxSkinBytes) {
      m_sError = "skin too large";
      return false;
    }
  }
  return LoadFromString(data);
}

bool CMarkup::LoadFromString(const std::string& xml) {
  Release();
  if (xml.size() > kMaxSkinBytes) {
    m_sError = "skin too large";
    return false;
  }
  if (hasDoctype(xml)) {
    m_sError = "skin with a document type declaration refused";
    return false;
  }
  initXerces();
  X::XercesDOMParser parser;
  parser.setValidationScheme(X::XercesDOMParser::Val_Never);
  parser.setDoNamespaces(false);
  parser.setDoSchema(false);
  parser.setLoadExternalDTD(false);
  parser.setDisableDefaultEntityResolution(true);
  parser.setCreateEntityReferenceNodes(false);
  X::HandlerBase errors;
  parser.setErrorHandler(&errors);
  try {
    X::MemBufInputSource src(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "skin");
    parser.parse(src);
  } catch (const X::SAXParseException& e) {
    m_sError.Format("skin not well-formed at line %lu", (unsigned long)e.getLineNumber());
    return false;
  } catch (...) {
    m_sError = "skin not readable";
    return false;
  }
  const X::DOMDocument* doc = parser.getDocument();
  const X::DOMElement* root = doc ? doc->getDocumentElement() : nullptr;
  if (!root) {
    m_sError = "skin without a root element";
    return false;
  }
  auto node = std::make_shared<CMarkupNode>();
  if (!convert(root, *node, 0)) {
    m_sError = "skin nested too deeply";
    return false;
  }
  m_root = node;
  return true;
}

CControlUI* CreateBuiltinControl(LPCTSTR cls) {
  if (!cls) return nullptr;
  std::string n(cls);
  if (n == "Control") return new CControlUI();
  if (n == "Container") return new CContainerUI();
  if (n == "VerticalLayout") return new CVerticalLayoutUI();
  if (n == "HorizontalLayout") return new CHorizontalLayoutUI();
  if (n == "Label") return new CLabelUI();
  if (n == "Text") return new CTextUI();
  if (n == "Button") return new CButtonUI();
  if (n == "Option") return new COptionUI();
  if (n == "CheckBox") return new CCheckBoxUI();
  if (n == "Edit") return new CEditUI();
  if (n == "RichEdit") return new CRichEditUI();
  if (n == "Progress") return new CProgressUI();
  if (n == "Slider") return new CSliderUI();
  if (n == "List") return new CListUI();
  if (n == "MutilList") return new CMutilListUI();
  if (n == "ListElement") return new CListElementUI();
  if (n == "ListLabelElement") return new CListLabelElementUI();
  if (n == "ListTextElement") return new CListTextElementUI();
  if (n == "ListContainerElement") return new CListContainerElementUI();
  return nullptr;
}

CControlUI* CDialogBuilder::Create(STRINGorID xml, LPCTSTR type, IDialogBuilderCallback* pCallback,
                                   CPaintManagerUI* pManager, CControlUI* pParent) {
  if (!xml.m_lpstr || IS_INTRESOURCE(xml.m_lpstr)) return nullptr;  // no resources in this build
  if (*xml.m_lpstr == '<') {
    // Skin text from the program is the program's narrow text (GBK), unless it says otherwise.
    std::string text(xml.m_lpstr);
    if (text.find("encoding=") == std::string::npos) text = acpToUtf8(text);
    if (!m_xml.LoadFromString(text)) return nullptr;
  } else {
    CPaintManagerUI finder;
    CDuiString path = pManager ? pManager->FindSkinFile(xml.m_lpstr) : finder.FindSkinFile(xml.m_lpstr);
    if (path.IsEmpty() || !m_xml.LoadFromFile(path)) return nullptr;
  }
  return Create(pCallback, pManager, pParent);
}

CControlUI* CDialogBuilder::Create(IDialogBuilderCallback* pCallback, CPaintManagerUI* pManager,
                                   CControlUI* pParent) {
  const CMarkupNode* root = m_xml.GetRoot();
  if (!root) return nullptr;
  if (root->name == "Window") {
    if (pManager) {
      if (LPCTSTR size = root->GetAttributeValue("size")) {
        SIZE sz = ParseSize(size);
        if (sz.cx > 0 && sz.cy > 0) pManager->SetInitSize(sz.cx, sz.cy);
      }
      for (const auto& c : root->children) {
        if (c.name == "Default") {
          LPCTSTR n = c.GetAttributeValue("name");
          LPCTSTR v = c.GetAttributeValue("value");
          if (n && v) pManager->AddDefaultAttributeList(n, v);
        }
      }
    }
    for (const auto& c : root->children) {
      if (c.name == "Default" || c.name == "Font" || c.name == "Image" || c.name == "Include") continue;
      return Parse(c, pParent, pCallback, pManager);
    }
    return nullptr;
  }
  return Parse(*root, pParent, pCallback, pManager);
}

CControlUI* CDialogBuilder::Parse(const CMarkupNode& node, CControlUI* pParent, IDialogBuilderCallback* pCallback,
                                  CPaintManagerUI* pManager) {
  CControlUI* c = CreateBuiltinControl(node.name);
  if (!c && pCallback) c = pCallback->CreateControl(node.name);
  if (!c) return nullptr;  // an element nobody knows is left out with what it holds
  if (auto* container = static_cast<IContainerUI*>(c->GetInterface("IContainer"))) {
    for (const auto& child : node.children) Parse(child, c, pCallback, pManager);
    (void)container;
  }
  if (pManager) {
    if (LPCTSTR def = pManager->GetDefaultAttributeList(node.name)) c->ApplyAttributeList(def);
  }
  for (const auto& a : node.attributes) c->SetAttribute(a.first, a.second);
  if (pParent) {
    auto* parent = static_cast<IContainerUI*>(pParent->GetInterface("IContainer"));
    if (!parent || !parent->Add(c)) {
      delete c;
      return nullptr;
    }
  } else if (pManager) {
    c->SetManager(pManager, nullptr, false);
  }
  return c;
}

}  // namespace DuiLib

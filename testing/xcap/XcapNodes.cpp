#include "XcapNodes.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

XERCES_CPP_NAMESPACE_USE

namespace pwtest {
namespace xcapnodes {

namespace {

const char* const kErrorNs = "urn:ietf:params:xml:ns:xcap-error";

std::string errorBody(const std::string& inner) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><xcap-error xmlns=\"") + kErrorNs +
         "\">" + inner + "</xcap-error>";
}

Outcome conflict(const std::string& inner) {
  Outcome o;
  o.status = 409;
  o.body = errorBody(inner);
  o.contentType = "application/xcap-error+xml";
  return o;
}

Outcome plain(int status) {
  Outcome o;
  o.status = status;
  return o;
}

// UTF-8 <-> XMLCh.
std::basic_string<XMLCh> wide(const std::string& s) {
  TranscodeFromStr t(reinterpret_cast<const XMLByte*>(s.data()), s.size(), "UTF-8");
  return std::basic_string<XMLCh>(t.str(), t.length());
}

std::string narrow(const XMLCh* s) {
  if (s == 0) return std::string();
  TranscodeToStr t(s, "UTF-8");
  return std::string(reinterpret_cast<const char*>(t.str()), t.length());
}

struct Test {
  std::string attr;
  std::string value;
};

struct Step {
  std::string prefix;  // "" = the document's namespace
  std::string local;   // "*" = any
  int position = 0;    // 0 = none
  std::vector<Test> tests;
};

std::string unescape(const std::string& v) {
  static const std::pair<const char*, char> entities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
  std::string out;
  for (size_t i = 0; i < v.size();) {
    bool done = false;
    if (v[i] == '&') {
      for (const auto& e : entities) {
        size_t n = std::char_traits<char>::length(e.first);
        if (v.compare(i, n, e.first) == 0) {
          out += e.second;
          i += n;
          done = true;
          break;
        }
      }
    }
    if (!done) out += v[i++];
  }
  return out;
}

// Splits at "/" outside quotes and brackets.
bool splitSteps(const std::string& selector, std::vector<std::string>& parts) {
  std::string cur;
  char quote = 0;
  int depth = 0;
  for (char c : selector) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      cur += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      cur += c;
    } else if (c == '[') {
      ++depth;
      cur += c;
    } else if (c == ']') {
      --depth;
      cur += c;
    } else if (c == '/' && depth == 0) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (quote != 0 || depth != 0) return false;
  parts.push_back(cur);
  for (const std::string& p : parts) {
    if (p.empty()) return false;
  }
  return true;
}

bool parseStep(const std::string& text, Step& step) {
  size_t bracket = text.find('[');
  std::string name = text.substr(0, bracket);
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    step.prefix = name.substr(0, colon);
    step.local = name.substr(colon + 1);
  } else {
    step.local = name;
  }
  if (step.local.empty()) return false;
  size_t i = bracket;
  while (i != std::string::npos && i < text.size()) {
    if (text[i] != '[') return false;
    if (i + 1 < text.size() && text[i + 1] == '@') {
      size_t eq = text.find('=', i);
      if (eq == std::string::npos || eq + 1 >= text.size()) return false;
      char q = text[eq + 1];
      if (q != '\'' && q != '"') return false;
      size_t close = text.find(q, eq + 2);
      if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ']') {
        return false;
      }
      Test t;
      t.attr = text.substr(i + 2, eq - i - 2);
      t.value = unescape(text.substr(eq + 2, close - eq - 2));
      step.tests.push_back(t);
      i = close + 2;
    } else {
      size_t close = text.find(']', i);
      if (close == std::string::npos) return false;
      std::string n = text.substr(i + 1, close - i - 1);
      if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) return false;
      step.position = std::atoi(n.c_str());
      i = close + 1;
    }
  }
  return true;
}

// "xmlns(p=ns)" bindings of the query.
std::map<std::string, std::string> bindings(const std::string& query) {
  std::map<std::string, std::string> out;
  size_t pos = 0;
  while ((pos = query.find("xmlns(", pos)) != std::string::npos) {
    size_t eq = query.find('=', pos);
    size_t close = query.find(')', pos);
    if (eq == std::string::npos || close == std::string::npos || eq > close) break;
    out[query.substr(pos + 6, eq - pos - 6)] = query.substr(eq + 1, close - eq - 1);
    pos = close + 1;
  }
  return out;
}

struct Selector {
  std::vector<Step> steps;
  std::vector<std::string> texts;  // the steps as written, for no-parent ancestors
};

// 0 ok, else an HTTP status (400 for a bad selector or an unbound prefix).
int parseSelector(const std::string& text, const std::string& query, Selector& sel,
                  std::map<std::string, std::string>& ns) {
  ns = bindings(query);
  if (!splitSteps(text, sel.texts)) return 400;
  for (const std::string& t : sel.texts) {
    Step s;
    if (!parseStep(t, s)) return 400;
    if (!s.prefix.empty() && ns.count(s.prefix) == 0) return 400;
    sel.steps.push_back(s);
  }
  return 0;
}

bool nameMatches(const DOMElement* e, const Step& step, const std::string& stepNs) {
  if (step.local != "*" && narrow(e->getLocalName()) != step.local) return false;
  return narrow(e->getNamespaceURI()) == stepNs;
}

bool testsMatch(const DOMElement* e, const Step& step) {
  for (const Test& t : step.tests) {
    std::basic_string<XMLCh> a = wide(t.attr);
    if (!e->hasAttribute(a.c_str())) return false;
    if (narrow(e->getAttribute(a.c_str())) != t.value) return false;
  }
  return true;
}

// The children of `parent` (or the root when parent is null) that the step selects.
std::vector<DOMElement*> select(DOMDocument* doc, DOMElement* parent, const Step& step,
                                const std::string& stepNs) {
  std::vector<DOMElement*> named;
  if (parent == 0) {
    DOMElement* root = doc->getDocumentElement();
    if (root != 0 && nameMatches(root, step, stepNs)) named.push_back(root);
  } else {
    for (DOMNode* n = parent->getFirstChild(); n != 0; n = n->getNextSibling()) {
      if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
      DOMElement* e = static_cast<DOMElement*>(n);
      if (nameMatches(e, step, stepNs)) named.push_back(e);
    }
  }
  if (step.position > 0) {
    if (static_cast<size_t>(step.position) > named.size()) return std::vector<DOMElement*>();
    named = std::vector<DOMElement*>(1, named[step.position - 1]);
  }
  std::vector<DOMElement*> out;
  for (DOMElement* e : named) {
    if (testsMatch(e, step)) out.push_back(e);
  }
  return out;
}

class Errors : public HandlerBase {
 public:
  void error(const SAXParseException&) override { failed = true; }
  void fatalError(const SAXParseException&) override { failed = true; }
  bool failed = false;
};

struct Parsed {
  std::unique_ptr<XercesDOMParser> parser;
  DOMDocument* doc = 0;
};

bool parse(const std::string& text, Parsed& out) {
  out.parser.reset(new XercesDOMParser());
  out.parser->setDoNamespaces(true);
  out.parser->setValidationScheme(XercesDOMParser::Val_Never);
  out.parser->setLoadExternalDTD(false);
  out.parser->setDisableDefaultEntityResolution(true);
  Errors errors;
  out.parser->setErrorHandler(&errors);
  MemBufInputSource src(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "xcap-doc");
  try {
    out.parser->parse(src);
  } catch (...) {
    return false;
  }
  out.parser->setErrorHandler(0);
  out.doc = out.parser->getDocument();
  return !errors.failed && out.doc != 0 && out.doc->getDocumentElement() != 0;
}

std::string serialise(DOMNode* node, bool declaration) {
  static const XMLCh ls[] = {chLatin_L, chLatin_S, chNull};
  DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(ls);
  DOMLSSerializer* writer = static_cast<DOMImplementationLS*>(impl)->createLSSerializer();
  writer->getDomConfig()->setParameter(XMLUni::fgDOMXMLDeclaration, declaration);
  DOMLSOutput* output = static_cast<DOMImplementationLS*>(impl)->createLSOutput();
  MemBufFormatTarget target;
  std::basic_string<XMLCh> utf8 = wide("UTF-8");
  output->setEncoding(utf8.c_str());
  output->setByteStream(&target);
  writer->write(node, output);
  std::string text(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
  output->release();
  writer->release();
  return text;
}

// Where the resource-lists schema wants a child among its siblings; others go last.
int rank(const DOMElement* e) {
  static const char* const order[] = {"display-name", "display-picture", "signature", "nickname",
                                      "designate-picture", "invite-msg", "gender"};
  std::string local = narrow(e->getLocalName());
  for (int i = 0; i < 7; ++i) {
    if (local == order[i]) return i;
  }
  return 99;
}

struct Target {
  DOMElement* parent = 0;              // null: the root is the target
  std::vector<DOMElement*> matches;    // what the last step selects
  int status = 0;                      // 0, or 409 (no parent) / 400
  std::string ancestor;                // deepest existing ancestor, for no-parent
};

Target locate(DOMDocument* doc, const Selector& sel, const std::map<std::string, std::string>& ns) {
  Target t;
  std::string rootNs = narrow(doc->getDocumentElement()->getNamespaceURI());
  DOMElement* cur = 0;
  std::string walked;
  for (size_t i = 0; i < sel.steps.size(); ++i) {
    const Step& s = sel.steps[i];
    std::string stepNs = s.prefix.empty() ? rootNs : ns.find(s.prefix)->second;
    std::vector<DOMElement*> found = select(doc, cur, s, stepNs);
    if (i + 1 == sel.steps.size()) {
      t.parent = cur;
      t.matches = found;
      return t;
    }
    if (found.size() != 1) {
      t.status = 409;
      t.ancestor = walked;
      return t;
    }
    cur = found[0];
    walked += "/" + sel.texts[i];
  }
  t.status = 400;
  return t;
}

}  // namespace

void initialise() {
  static std::once_flag once;
  std::call_once(once, [] { XMLPlatformUtils::Initialize(); });
}

Outcome get(const std::string& document, const std::string& selectorText, const std::string& query) {
  initialise();
  Selector sel;
  std::map<std::string, std::string> ns;
  if (parseSelector(selectorText, query, sel, ns) != 0) return plain(400);
  Parsed p;
  if (!parse(document, p)) return plain(500);
  Target t = locate(p.doc, sel, ns);
  if (t.status != 0 || t.matches.size() != 1) return plain(404);
  Outcome o;
  o.status = 200;
  o.body = serialise(t.matches[0], false);
  o.contentType = "application/xcap-el+xml";
  return o;
}

Outcome put(const std::string& document, const std::string& selectorText, const std::string& query,
            const std::string& body) {
  initialise();
  Selector sel;
  std::map<std::string, std::string> ns;
  if (parseSelector(selectorText, query, sel, ns) != 0) return plain(400);
  Parsed p;
  if (!parse(document, p)) return plain(500);
  Target t = locate(p.doc, sel, ns);
  if (t.status == 409) return conflict("<no-parent><ancestor>" + t.ancestor + "</ancestor></no-parent>");
  if (t.status != 0) return plain(t.status);
  if (t.parent == 0) return conflict("<cannot-insert/>");  // the root is replaced by a document PUT
  if (t.matches.size() > 1) return conflict("<cannot-insert/>");

  Parsed frag;
  if (!parse(body, frag)) return conflict("<not-xml-frag/>");
  DOMElement* fresh = frag.doc->getDocumentElement();
  const Step& last = sel.steps.back();
  std::string rootNs = narrow(p.doc->getDocumentElement()->getNamespaceURI());
  std::string stepNs = last.prefix.empty() ? rootNs : ns.find(last.prefix)->second;
  if (!nameMatches(fresh, last, stepNs) || !testsMatch(fresh, last)) {
    return conflict("<cannot-insert/>");
  }
  DOMElement* imported = static_cast<DOMElement*>(p.doc->importNode(fresh, true));
  Outcome o;
  if (t.matches.size() == 1) {
    t.parent->replaceChild(imported, t.matches[0]);
    o.status = 200;
  } else {
    DOMNode* before = 0;
    int r = rank(imported);
    for (DOMNode* n = t.parent->getFirstChild(); n != 0; n = n->getNextSibling()) {
      if (n->getNodeType() == DOMNode::ELEMENT_NODE && rank(static_cast<DOMElement*>(n)) > r) {
        before = n;
        break;
      }
    }
    t.parent->insertBefore(imported, before);
    o.status = 201;
  }
  o.document = serialise(p.doc, true);
  return o;
}

Outcome remove(const std::string& document, const std::string& selectorText,
               const std::string& query) {
  initialise();
  Selector sel;
  std::map<std::string, std::string> ns;
  if (parseSelector(selectorText, query, sel, ns) != 0) return plain(400);
  Parsed p;
  if (!parse(document, p)) return plain(500);
  Target t = locate(p.doc, sel, ns);
  if (t.status != 0 || t.matches.size() != 1) return plain(404);
  if (t.parent == 0) return conflict("<cannot-delete/>");  // the root stays
  t.parent->removeChild(t.matches[0])->release();
  Outcome o;
  o.status = 200;
  o.document = serialise(p.doc, true);
  return o;
}

}  // namespace xcapnodes
}  // namespace pwtest

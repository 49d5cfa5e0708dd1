// XCAP request URIs (RFC 4825): a document selector, optionally "/~~" and a node selector made
// of element steps, and optionally the namespace-bindings query. The client puts the XCAP root
// ("/xcap") in front and does any URL encoding.
//
//   document:  /auid/userPath/documentName
//   element:   document + "/~~" + ("/" step)+
//   step:      name | name[@attr='v'] | name[n] | name[n][@attr='v']
//   bindings:  element + "?" + "xmlns(p=ns)" per prefix, ascending, nothing between them
//
// Attribute values are quoted with "'"; a value holding "'" is quoted with '"', and one holding
// both quote characters is written with "&apos;". '&' and '<' are written "&amp;" and "&lt;",
// so every value yields a well-formed step.
//
// Texts are built on the first toString and kept; a later change cannot alter them.
// Threads: plain values; one thread at a time per object. Copying is not allowed (the objects
// own what they point to).
#ifndef CORVANE_XCAPURI_H
#define CORVANE_XCAPURI_H

#include <map>
#include <string>
#include <vector>

typedef std::map<std::string, std::string> XcapNamespaceMap;  // prefix -> namespace URI

class DocumentSelector {
 public:
  DocumentSelector(const std::string& auid, const std::string& userPath,
                   const std::string& documentName);
  // home + "/" + documentName
  std::string toString() const;
  const std::string& auid() const { return auid_; }
  const std::string& userPath() const { return userPath_; }
  const std::string& home() const { return home_; }  // "/" + auid + "/" + userPath
  const std::string& documentName() const { return documentName_; }

 private:
  std::string auid_;
  std::string userPath_;
  std::string home_;
  std::string documentName_;
};

// One step of a node selector: the element name (may carry a prefix).
class ElementSelectorStep {
 public:
  explicit ElementSelectorStep(const std::string& name);
  virtual ~ElementSelectorStep();
  // The step's own text.
  virtual std::string toString() const;
  // "/" + the step's text.
  virtual std::string toPathString() const;
  const std::string& name() const { return name_; }

  // An attribute value in quotes, as a step's predicate writes it.
  static std::string quoteValue(const std::string& value);

 protected:
  std::string name_;
  mutable std::string cached_;  // the step text once built

 private:
  ElementSelectorStep(const ElementSelectorStep&) = delete;
  ElementSelectorStep& operator=(const ElementSelectorStep&) = delete;
};

// name[@attrName='attrValue']
class ElementSelectorStepByAttr : public ElementSelectorStep {
 public:
  ElementSelectorStepByAttr(const std::string& name, const std::string& attrName,
                            const std::string& attrValue);
  std::string toString() const override;

 private:
  std::string attrName_;
  std::string attrValue_;
};

// name[position]
class ElementSelectorStepByPos : public ElementSelectorStep {
 public:
  ElementSelectorStepByPos(const std::string& name, int position);
  std::string toString() const override;

 protected:
  const std::string& positionText() const;  // "%d" of the position, built on first use
  int position_;
  mutable std::string positionText_;
};

// name[position][@attrName='attrValue']
class ElementSelectorStepByPosAttr : public ElementSelectorStepByPos {
 public:
  ElementSelectorStepByPosAttr(const std::string& name, int position, const std::string& attrName,
                               const std::string& attrValue);
  std::string toString() const override;

 private:
  std::string attrName_;
  std::string attrValue_;
};

// The node selector: owns its steps (deleted with it).
class ElementSelector {
 public:
  // Takes ownership of the pointed steps (null entries are dropped).
  explicit ElementSelector(const std::vector<ElementSelectorStep*>& steps);
  ~ElementSelector();
  // Every step's path text, in order.
  std::string toString() const;
  int size() const { return static_cast<int>(steps_.size()); }
  // The step at i, or null when i is out of range.
  ElementSelectorStep* at(int i) const;

 private:
  ElementSelector(const ElementSelector&) = delete;
  ElementSelector& operator=(const ElementSelector&) = delete;
  std::vector<ElementSelectorStep*> steps_;
  mutable std::string cached_;
};

// The relative request text: document selector, node selector and bindings.
class ResourceSelector {
 public:
  explicit ResourceSelector(const std::string& documentSelector);
  ResourceSelector(const std::string& documentSelector, const std::string& nodeSelector,
                   const XcapNamespaceMap& namespaces);
  virtual ~ResourceSelector();
  std::string toString() const;
  // The same text as it goes into a request path: the selectors percent-encoded as a path,
  // so that a "?", "#" or "%" inside a user id or a selector value stays part of the path,
  // then the namespace bindings as the query.
  std::string toRequestPath() const;

 private:
  std::string documentSelector_;
  std::string nodeSelector_;
  XcapNamespaceMap namespaces_;
  mutable std::string cached_;
};

// Base of every URI: owns its resource selector.
class XcapUri {
 public:
  virtual ~XcapUri();
  std::string toString() const;
  std::string toRequestPath() const;  // see ResourceSelector::toRequestPath

 protected:
  XcapUri();
  ResourceSelector* resourceSelector_;  // owned; set by the subclass constructor

 private:
  XcapUri(const XcapUri&) = delete;
  XcapUri& operator=(const XcapUri&) = delete;
};

class DocumentUri : public XcapUri {
 public:
  // Takes ownership of the selector.
  explicit DocumentUri(DocumentSelector* documentSelector);
  ~DocumentUri() override;
  const DocumentSelector* documentSelector() const { return documentSelector_; }

 private:
  DocumentSelector* documentSelector_;  // owned
};

class UserDocumentUri : public DocumentUri {
 public:
  UserDocumentUri(const std::string& auid, const std::string& userPath,
                  const std::string& documentName);
  const std::string& userPath() const { return userPath_; }

 private:
  std::string userPath_;
};

// The element selector and the map are read at construction only; the URI keeps their text.
class ElementUri : public XcapUri {
 public:
  // Takes ownership of the document selector.
  ElementUri(DocumentSelector* documentSelector, const ElementSelector& elementSelector,
             const XcapNamespaceMap& namespaces);
  ~ElementUri() override;
  const DocumentSelector* documentSelector() const { return documentSelector_; }

 private:
  DocumentSelector* documentSelector_;  // owned
};

class UserElementUri : public ElementUri {
 public:
  UserElementUri(const std::string& auid, const std::string& userPath,
                 const std::string& documentName, const ElementSelector& elementSelector,
                 const XcapNamespaceMap& namespaces);
  const std::string& userPath() const { return userPath_; }

 private:
  std::string userPath_;
};

// An attribute of an element: the element URI followed by "/@" + the attribute name.
class AttributeUri : public XcapUri {
 public:
  // Takes ownership of the document and element selectors.
  AttributeUri(DocumentSelector* documentSelector, ElementSelector* elementSelector,
               const std::string& attributeName, const XcapNamespaceMap& namespaces);
  ~AttributeUri() override;

 private:
  DocumentSelector* documentSelector_;  // owned
  ElementSelector* elementSelector_;    // owned
  XcapNamespaceMap namespaces_;
};

class UserAttributeUri : public AttributeUri {
 public:
  UserAttributeUri(const std::string& auid, const std::string& userPath,
                   const std::string& documentName, ElementSelector* elementSelector,
                   const std::string& attributeName, const XcapNamespaceMap& namespaces);
};

// The namespace bindings of an element: the element URI followed by "/namespace::*".
class NamespaceBindingsUri : public XcapUri {
 public:
  NamespaceBindingsUri(const DocumentSelector& documentSelector,
                       const ElementSelector& elementSelector, const XcapNamespaceMap& namespaces);
};

// The parts of a parsed node selector; kept for callers that pass them around.
class NodeSelector {
 public:
  NodeSelector() {}
  virtual ~NodeSelector() {}
  std::string elementSelector;
  std::string terminalSelector;
  std::string attributeSelector;
  std::string namespaceSelector;
  std::string query;
};

class XcapUriException {
 public:
  XcapUriException(const std::string& uri, const std::string& reason)
      : uri_(uri), reason_(reason) {}
  virtual ~XcapUriException() {}
  const std::string& uri() const { return uri_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string uri_;
  std::string reason_;
};

#endif  // CORVANE_XCAPURI_H

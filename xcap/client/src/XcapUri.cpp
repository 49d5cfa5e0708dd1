#include "corvane/XcapUri.h"

#include "util/CodingTransform.h"

#include <cstdio>

// ---- DocumentSelector ----

DocumentSelector::DocumentSelector(const std::string& auid, const std::string& userPath,
                                   const std::string& documentName)
    : auid_(auid), userPath_(userPath), home_("/" + auid + "/" + userPath),
      documentName_(documentName) {}

std::string DocumentSelector::toString() const { return home_ + "/" + documentName_; }

// ---- steps ----

ElementSelectorStep::ElementSelectorStep(const std::string& name) : name_(name) {}

ElementSelectorStep::~ElementSelectorStep() {}

std::string ElementSelectorStep::toString() const { return name_; }

std::string ElementSelectorStep::toPathString() const { return "/" + toString(); }

std::string ElementSelectorStep::quoteValue(const std::string& value) {
  bool apos = value.find('\'') != std::string::npos;
  bool quot = value.find('"') != std::string::npos;
  char q = (apos && !quot) ? '"' : '\'';
  std::string out(1, q);
  for (std::string::size_type i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == q && c == '\'') out += "&apos;";
    else out += c;
  }
  out += q;
  return out;
}

ElementSelectorStepByAttr::ElementSelectorStepByAttr(const std::string& name,
                                                     const std::string& attrName,
                                                     const std::string& attrValue)
    : ElementSelectorStep(name), attrName_(attrName), attrValue_(attrValue) {}

std::string ElementSelectorStepByAttr::toString() const {
  if (cached_.empty()) cached_ = name_ + "[@" + attrName_ + "=" + quoteValue(attrValue_) + "]";
  return cached_;
}

ElementSelectorStepByPos::ElementSelectorStepByPos(const std::string& name, int position)
    : ElementSelectorStep(name), position_(position) {}

const std::string& ElementSelectorStepByPos::positionText() const {
  if (positionText_.empty()) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%d", position_);
    positionText_ = buf;
  }
  return positionText_;
}

std::string ElementSelectorStepByPos::toString() const {
  if (cached_.empty()) cached_ = name_ + "[" + positionText() + "]";
  return cached_;
}

ElementSelectorStepByPosAttr::ElementSelectorStepByPosAttr(const std::string& name, int position,
                                                           const std::string& attrName,
                                                           const std::string& attrValue)
    : ElementSelectorStepByPos(name, position), attrName_(attrName), attrValue_(attrValue) {}

std::string ElementSelectorStepByPosAttr::toString() const {
  if (cached_.empty()) {
    cached_ = name_ + "[" + positionText() + "][@" + attrName_ + "=" + quoteValue(attrValue_) + "]";
  }
  return cached_;
}

// ---- ElementSelector ----

ElementSelector::ElementSelector(const std::vector<ElementSelectorStep*>& steps) {
  steps_.reserve(steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] != 0) steps_.push_back(steps[i]);
  }
}

ElementSelector::~ElementSelector() {
  for (std::size_t i = 0; i < steps_.size(); ++i) delete steps_[i];
  steps_.clear();
}

std::string ElementSelector::toString() const {
  if (cached_.empty()) {
    std::string text;
    for (std::size_t i = 0; i < steps_.size(); ++i) text += steps_[i]->toPathString();
    cached_ = text;
  }
  return cached_;
}

ElementSelectorStep* ElementSelector::at(int i) const {
  if (i < 0 || i >= size()) return 0;
  return steps_[i];
}

// ---- ResourceSelector ----

ResourceSelector::ResourceSelector(const std::string& documentSelector)
    : documentSelector_(documentSelector) {}

ResourceSelector::ResourceSelector(const std::string& documentSelector,
                                   const std::string& nodeSelector,
                                   const XcapNamespaceMap& namespaces)
    : documentSelector_(documentSelector), nodeSelector_(nodeSelector), namespaces_(namespaces) {}

ResourceSelector::~ResourceSelector() {}

std::string ResourceSelector::toString() const {
  if (cached_.empty()) {
    std::string text = documentSelector_;
    if (!nodeSelector_.empty()) {
      text += "/~~" + nodeSelector_;
      if (!namespaces_.empty()) {
        text += "?";
        for (XcapNamespaceMap::const_iterator it = namespaces_.begin(); it != namespaces_.end();
             ++it) {
          text += "xmlns(" + it->first + "=" + it->second + ")";
        }
      }
    }
    cached_ = text;
  }
  return cached_;
}

std::string ResourceSelector::toRequestPath() const {
  std::string text = documentSelector_;
  if (nodeSelector_.empty()) return CodingTransform::urlencode(text, false, false);
  text += "/~~" + nodeSelector_;
  std::string path = CodingTransform::urlencode(text, false, false);
  if (!namespaces_.empty()) {
    std::string query;
    for (XcapNamespaceMap::const_iterator it = namespaces_.begin(); it != namespaces_.end(); ++it)
      query += "xmlns(" + it->first + "=" + it->second + ")";
    path += "?" + CodingTransform::urlencode(query, false, false);
  }
  return path;
}

// ---- URIs ----

XcapUri::XcapUri() : resourceSelector_(0) {}

XcapUri::~XcapUri() { delete resourceSelector_; }

std::string XcapUri::toString() const {
  return resourceSelector_ != 0 ? resourceSelector_->toString() : std::string();
}

std::string XcapUri::toRequestPath() const {
  return resourceSelector_ != 0 ? resourceSelector_->toRequestPath() : std::string();
}

DocumentUri::DocumentUri(DocumentSelector* documentSelector)
    : documentSelector_(documentSelector) {
  resourceSelector_ =
      new ResourceSelector(documentSelector_ != 0 ? documentSelector_->toString() : std::string());
}

DocumentUri::~DocumentUri() { delete documentSelector_; }

UserDocumentUri::UserDocumentUri(const std::string& auid, const std::string& userPath,
                                 const std::string& documentName)
    : DocumentUri(new DocumentSelector(auid, userPath, documentName)), userPath_(userPath) {}

ElementUri::ElementUri(DocumentSelector* documentSelector, const ElementSelector& elementSelector,
                       const XcapNamespaceMap& namespaces)
    : documentSelector_(documentSelector) {
  resourceSelector_ = new ResourceSelector(
      documentSelector_ != 0 ? documentSelector_->toString() : std::string(),
      elementSelector.toString(), namespaces);
}

ElementUri::~ElementUri() { delete documentSelector_; }

UserElementUri::UserElementUri(const std::string& auid, const std::string& userPath,
                               const std::string& documentName,
                               const ElementSelector& elementSelector,
                               const XcapNamespaceMap& namespaces)
    : ElementUri(new DocumentSelector(auid, userPath, documentName), elementSelector, namespaces),
      userPath_(userPath) {}

AttributeUri::AttributeUri(DocumentSelector* documentSelector, ElementSelector* elementSelector,
                           const std::string& attributeName, const XcapNamespaceMap& namespaces)
    : documentSelector_(documentSelector), elementSelector_(elementSelector),
      namespaces_(namespaces) {
  std::string node = elementSelector_ != 0 ? elementSelector_->toString() : std::string();
  if (!node.empty()) node += "/@" + attributeName;
  resourceSelector_ = new ResourceSelector(
      documentSelector_ != 0 ? documentSelector_->toString() : std::string(), node, namespaces_);
}

AttributeUri::~AttributeUri() {
  delete elementSelector_;
  delete documentSelector_;
}

UserAttributeUri::UserAttributeUri(const std::string& auid, const std::string& userPath,
                                   const std::string& documentName,
                                   ElementSelector* elementSelector,
                                   const std::string& attributeName,
                                   const XcapNamespaceMap& namespaces)
    : AttributeUri(new DocumentSelector(auid, userPath, documentName), elementSelector,
                   attributeName, namespaces) {}

NamespaceBindingsUri::NamespaceBindingsUri(const DocumentSelector& documentSelector,
                                           const ElementSelector& elementSelector,
                                           const XcapNamespaceMap& namespaces) {
  std::string node = elementSelector.toString();
  if (!node.empty()) node += "/namespace::*";
  resourceSelector_ = new ResourceSelector(documentSelector.toString(), node, namespaces);
}

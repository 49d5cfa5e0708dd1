#include "corvane/PresRulesAppUsage.h"

#include "bindings/XcapNamespaces.h"
#include "bindings/common-policy.hxx"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>

#include <algorithm>
#include <sstream>

const std::string PresRulesAppUsage::PRESRULES_DOCMENT_NAME = "presrules";

namespace {

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

const char* const kCommonPolicyNs = "urn:ietf:params:xml:ns:common-policy";
const char* const kPresRulesNs = "urn:ietf:params:xml:ns:pres-rules";
const char* const kBlockList = "block-list";
const char* const kConfirmList = "confirm-list";
const char* const kAllowList = "allow-list";

bool hasBody(const HTTPResponse& response) {
  ACE_Message_Block* body = response.getBody();
  return body != 0 && body->length() > 0;
}

}  // namespace

PresRulesAppUsage::PresRulesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                                     Sptr<IXcapClient> client)
    : AppUsage(user, "pres-rules", "application/auth-policy+xml", codingFormat, client) {}

PresRulesAppUsage::PresRulesAppUsage(const std::string& user, const CodingFormat& codingFormat,
                                     const std::string& address,
                                     const AuthenticateMode& authenticateMode,
                                     const DownloadMode& downloadMode,
                                     const std::string& password)
    : AppUsage(user, "pres-rules", "application/auth-policy+xml", codingFormat, address,
               authenticateMode, downloadMode, password) {}

PresRulesAppUsage::~PresRulesAppUsage() {}

// ---- cache ----

bool PresRulesAppUsage::isCacheValid() const { return !cachedEtag_.empty(); }

void PresRulesAppUsage::clearCache() {
  cachedEtag_.clear();
  blockUsers_.clear();
  confirmUsers_.clear();
  allowUsers_.clear();
}

std::string PresRulesAppUsage::etag() const {
  Guard guard(mutex_);
  return cachedEtag_;
}

XCAPAccessResult PresRulesAppUsage::getPresRules() {
  IM_TRACE("PresRulesAppUsage::getPresRules");
  UserDocumentUri uri(auid_, USERS_ + "/" + user_, PRESRULES_DOCMENT_NAME);
  HTTPResponse response;
  if (!xcapClient_ || xcapClient_->getDocument(uri, response) != 0) {
    IM_LOG_ERROR("Corvane, [userId = %s, reason = Network Error, request = getPresRules]",
                 user_.c_str());
    return XCAP_NETWORK_ERROR;
  }
  int status = response.getStatus();
  if (status == 404) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 404, reason = Not Found, request = getPresRules]",
                 user_.c_str());
    return XCAP_DOCUMENT_NOT_FOUND;
  }
  if (status != 200) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = getPresRules]",
                 user_.c_str(), status, response.getReason().c_str());
    return XCAP_FAILURE;
  }
  if (!hasBody(response)) return XCAP_FAILURE;
  XCAPAccessResult rc;
  try {
    rc = decodeRuleSet(response.getBodyText());
  } catch (...) {
    rc = XCAP_DECODE_FAILED;
  }
  if (rc != XCAP_SUCCESS) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 200, reason = Decode PresRules Failed, "
                 "request = getPresRules]",
                 user_.c_str());
    return rc;
  }
  // Only a document that decoded makes a valid cache.
  cachedEtag_ = response.get(HTTPMessage::ETAG);
  return XCAP_SUCCESS;
}

std::unique_ptr<CommonPolicy::ruleset> PresRulesAppUsage::get_ruleset(const std::string& text) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
  std::istringstream is(text);
  return CommonPolicy::ruleset_(is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties());
}

XCAPAccessResult PresRulesAppUsage::decodeRuleSet(const std::string& text) {
  std::unique_ptr<CommonPolicy::ruleset> doc = get_ruleset(text);
  if (!doc) return XCAP_FAILURE;
  // Built aside and swapped in whole: a document that fails leaves the fields as they were.
  std::vector<std::string> blockDomains, confirmDomains, allowDomains;
  std::vector<std::string> blockUsers, confirmUsers, allowUsers;
  std::map<std::string, std::string> inviteMessages, displayNames;
  const CommonPolicy::ruleset::rule_sequence& rules = doc->rule();
  for (CommonPolicy::ruleset::rule_const_iterator r = rules.begin(); r != rules.end(); ++r) {
    if (!r->actions().present()) continue;  // nothing to sort the rule by
    XCAPAccessResult rc = XCAP_SUCCESS;
    switch (r->actions()->sub_handling()) {
      case Xcap_PresRules::sub_handling::block:
        rc = decodeRule(*r, blockDomains, blockUsers, 0, 0);
        break;
      case Xcap_PresRules::sub_handling::confirm:
        rc = decodeRule(*r, confirmDomains, confirmUsers, &inviteMessages, &displayNames);
        break;
      case Xcap_PresRules::sub_handling::allow:
        rc = decodeRule(*r, allowDomains, allowUsers, 0, 0);
        break;
      default:
        break;  // polite-block
    }
    if (rc != XCAP_SUCCESS) return rc;
  }
  blockDomains_.swap(blockDomains);
  confirmDomains_.swap(confirmDomains);
  allowDomains_.swap(allowDomains);
  blockUsers_.swap(blockUsers);
  confirmUsers_.swap(confirmUsers);
  allowUsers_.swap(allowUsers);
  inviteMessages_.swap(inviteMessages);
  displayNames_.swap(displayNames);
  return XCAP_SUCCESS;
}

XCAPAccessResult PresRulesAppUsage::decodeRule(const CommonPolicy::ruleType& rule,
                                               std::vector<std::string>& domains,
                                               std::vector<std::string>& users,
                                               std::map<std::string, std::string>* inviteMessages,
                                               std::map<std::string, std::string>* displayNames) {
  if (!rule.conditions().present()) return XCAP_SUCCESS;
  const CommonPolicy::conditionsType::identity_sequence& identities = rule.conditions()->identity();
  for (CommonPolicy::conditionsType::identity_const_iterator i = identities.begin();
       i != identities.end(); ++i) {
    for (CommonPolicy::identityType::many_const_iterator m = i->many().begin();
         m != i->many().end(); ++m) {
      if (m->domain().present()) domains.push_back(*m->domain());
    }
    for (CommonPolicy::identityType::one_const_iterator o = i->one().begin(); o != i->one().end();
         ++o) {
      std::string id;
      if (utf8Decode(o->id(), id) != 0) return XCAP_CODING_ERROR;
      users.push_back(id);
      if (inviteMessages != 0 && o->invite_msg().present()) {
        std::string text;
        if (utf8Decode(*o->invite_msg(), text) != 0) return XCAP_CODING_ERROR;
        (*inviteMessages)[id] = text;
      }
      if (displayNames != 0 && o->display_name().present()) {
        std::string text;
        if (utf8Decode(*o->display_name(), text) != 0) return XCAP_CODING_ERROR;
        (*displayNames)[id] = text;
      }
    }
  }
  return XCAP_SUCCESS;
}

// ---- reads ----

XCAPAccessResult PresRulesAppUsage::getAuthList(std::vector<std::string>& out,
                                                std::vector<std::string>& source) {
  if (!isCacheValid()) {
    XCAPAccessResult rc = getPresRules();
    if (rc != XCAP_SUCCESS) return rc;
  }
  out = source;
  return XCAP_SUCCESS;
}

bool PresRulesAppUsage::findUser(const std::string& user, std::vector<std::string>& list) {
  if (!isCacheValid() && getPresRules() != XCAP_SUCCESS) return false;
  return std::find(list.begin(), list.end(), user) != list.end();
}

#define PW_LOCKED_CALL(expr, failure) \
  try {                               \
    Guard guard(mutex_);              \
    return expr;                      \
  } catch (...) {                     \
    return failure;                   \
  }

XCAPAccessResult PresRulesAppUsage::getAllowList(std::vector<std::string>& out) {
  PW_LOCKED_CALL(getAuthList(out, allowUsers_), XCAP_FAILURE)
}
XCAPAccessResult PresRulesAppUsage::getConfirmList(std::vector<std::string>& out) {
  PW_LOCKED_CALL(getAuthList(out, confirmUsers_), XCAP_FAILURE)
}
XCAPAccessResult PresRulesAppUsage::getBlockList(std::vector<std::string>& out) {
  PW_LOCKED_CALL(getAuthList(out, blockUsers_), XCAP_FAILURE)
}
XCAPAccessResult PresRulesAppUsage::getAllowDomains(std::vector<std::string>& out) {
  PW_LOCKED_CALL(getAuthList(out, allowDomains_), XCAP_FAILURE)
}
XCAPAccessResult PresRulesAppUsage::getBlockDomains(std::vector<std::string>& out) {
  PW_LOCKED_CALL(getAuthList(out, blockDomains_), XCAP_FAILURE)
}
bool PresRulesAppUsage::isBuddyInAllowList(const std::string& user) {
  PW_LOCKED_CALL(findUser(user, allowUsers_), false)
}
bool PresRulesAppUsage::isBuddyInConfirmList(const std::string& user) {
  PW_LOCKED_CALL(findUser(user, confirmUsers_), false)
}
bool PresRulesAppUsage::isBuddyInBlockList(const std::string& user) {
  PW_LOCKED_CALL(findUser(user, blockUsers_), false)
}

XCAPAccessResult PresRulesAppUsage::getInviteMessage(const std::string& user, std::string& inviteMsg,
                                                     std::string& displayName) const {
  try {
    Guard guard(mutex_);
    std::map<std::string, std::string>::const_iterator it = inviteMessages_.find(user);
    if (it != inviteMessages_.end()) inviteMsg = it->second;
    it = displayNames_.find(user);
    if (it != displayNames_.end()) displayName = it->second;
    return XCAP_SUCCESS;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult PresRulesAppUsage::getInviteMessages(
    std::map<std::string, std::string>& inviteMessages,
    std::map<std::string, std::string>& displayNames) const {
  try {
    Guard guard(mutex_);
    std::map<std::string, std::string> a(inviteMessages_), b(displayNames_);
    inviteMessages.swap(a);
    displayNames.swap(b);
    return XCAP_SUCCESS;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

// ---- writes ----

std::map<std::string, std::string> PresRulesAppUsage::bindings() {
  std::map<std::string, std::string> ns;
  ns["cr"] = kCommonPolicyNs;
  ns["pr"] = kPresRulesNs;
  return ns;
}

ElementSelector* PresRulesAppUsage::oneSelector(const std::string& listId,
                                                const std::string& userId) const {
  std::vector<ElementSelectorStep*> steps;
  try {
    steps.push_back(new ElementSelectorStep("cr:ruleset"));
    steps.push_back(new ElementSelectorStepByAttr("cr:rule", "id", listId));
    steps.push_back(new ElementSelectorStep("cr:conditions"));
    steps.push_back(new ElementSelectorStep("cr:identity"));
    steps.push_back(new ElementSelectorStepByAttr("cr:one", "id", userId));
    return new ElementSelector(steps);
  } catch (...) {
    for (size_t i = 0; i < steps.size(); ++i) delete steps[i];
    throw;
  }
}

XCAPAccessResult PresRulesAppUsage::putPresRulesNode(ElementSelector& selector, std::string& body,
                                                     std::map<std::string, std::string>& namespaces) {
  UserElementUri uri(auid_, USERS_ + "/" + user_, PRESRULES_DOCMENT_NAME, selector, namespaces);
  std::string utf8;
  if (utf8Encode(body, utf8) != 0) return XCAP_CODING_ERROR;
  HTTPResponse response;
  if (!xcapClient_ || xcapClient_->putElement(uri, utf8, response) != 0) return XCAP_NETWORK_ERROR;
  int status = response.getStatus();
  if (status == 201 || status == 200) return XCAP_SUCCESS;
  if (status == 409) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 409, reason = Conflict, request = putPresRulesNode]",
                 user_.c_str());
    return hasBody(response) ? decodeXcapError(response.getBodyText()) : XCAP_FAILURE;
  }
  IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = putPresRulesNode]",
               user_.c_str(), status, response.getReason().c_str());
  return XCAP_FAILURE;
}

XCAPAccessResult PresRulesAppUsage::addUserToList(const std::string& user,
                                                  const std::string& listId) {
  if (!isValidUserId(user)) return XCAP_INVALID_ARGUMENT;
  std::string id;
  if (utf8Encode(user, id) != 0) return XCAP_CODING_ERROR;
  std::unique_ptr<ElementSelector> selector(oneSelector(listId, id));
  std::map<std::string, std::string> namespaces = bindings();
  // In the caller's coding; putPresRulesNode converts it. The id is escaped for its attribute.
  std::string body = std::string("<cr:one xmlns:cr=\"") + kCommonPolicyNs + "\" id=\"" +
                     xmlEscape(user) + "\"/>";
  return putPresRulesNode(*selector, body, namespaces);
}

XCAPAccessResult PresRulesAppUsage::removeUserFromList(const std::string& user,
                                                       const std::string& listId) {
  if (!isValidUserId(user)) return XCAP_INVALID_ARGUMENT;
  std::string id;
  if (utf8Encode(user, id) != 0) return XCAP_CODING_ERROR;
  std::unique_ptr<ElementSelector> selector(oneSelector(listId, id));
  UserElementUri uri(auid_, USERS_ + "/" + user_, PRESRULES_DOCMENT_NAME, *selector, bindings());
  HTTPResponse response;
  if (!xcapClient_ || xcapClient_->deleteElement(uri, response) != 0) return XCAP_NETWORK_ERROR;
  if (response.getStatus() == 200) return XCAP_SUCCESS;
  IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = removeUserFromList]",
               user_.c_str(), response.getStatus(), response.getReason().c_str());
  return XCAP_FAILURE;
}

XCAPAccessResult PresRulesAppUsage::addOrRemove(const std::string& user, const std::string& listId,
                                                bool add) {
  try {
    Guard guard(mutex_);
    clearCache();
    return add ? addUserToList(user, listId) : removeUserFromList(user, listId);
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult PresRulesAppUsage::addToAllowList(const std::string& user) {
  return addOrRemove(user, kAllowList, true);
}
XCAPAccessResult PresRulesAppUsage::addToConfirmList(const std::string& user) {
  return addOrRemove(user, kConfirmList, true);
}
XCAPAccessResult PresRulesAppUsage::addToBlockList(const std::string& user) {
  return addOrRemove(user, kBlockList, true);
}
XCAPAccessResult PresRulesAppUsage::removeFromAllowList(const std::string& user) {
  return addOrRemove(user, kAllowList, false);
}
XCAPAccessResult PresRulesAppUsage::removeFromConfirmList(const std::string& user) {
  return addOrRemove(user, kConfirmList, false);
}
XCAPAccessResult PresRulesAppUsage::removeFromBlockList(const std::string& user) {
  return addOrRemove(user, kBlockList, false);
}

std::string PresRulesAppUsage::makePresRule(const std::string& id,
                                            const std::string& subHandling) const {
  return "<cr:rule id=\"" + id + "\">\r\n<cr:conditions>\r\n<cr:identity>\r\n</cr:identity>\r\n"
         "</cr:conditions>\r\n<cr:actions>\r\n<pr:sub-handling>" + subHandling +
         "</pr:sub-handling>\r\n</cr:actions>\r\n<cr:transformations />\r\n</cr:rule>\r\n";
}

XCAPAccessResult PresRulesAppUsage::putNewDocument() {
  try {
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n") +
                       "<cr:ruleset xmlns=\"" + kPresRulesNs + "\"\r\n" + "xmlns:pr=\"" +
                       kPresRulesNs + "\"\r\n" + "xmlns:cr=\"" + kCommonPolicyNs + "\">\r\n" +
                       makePresRule(kBlockList, "block") + makePresRule(kConfirmList, "confirm") +
                       makePresRule(kAllowList, "allow") + "</cr:ruleset>\r\n";
    UserDocumentUri uri(auid_, USERS_ + "/" + user_, PRESRULES_DOCMENT_NAME);
    HTTPResponse response;
    if (!xcapClient_ || xcapClient_->putDocument(uri, mimeType_, text, response) != 0) {
      return XCAP_NETWORK_ERROR;
    }
    int status = response.getStatus();
    if (status == 201 || status == 200) return XCAP_SUCCESS;
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = putNewPresRulesDocument]",
                 user_.c_str(), status, response.getReason().c_str());
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

// The edit operations of the resource-lists usage: one element PUT or DELETE each.
#include "corvane/ResourceListsAppUsage.h"

#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "util/CodingTransform.h"
#include "util/StringParser.h"

#include <ace/Message_Block.h>

namespace {

const char* const kEmptyDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
    "<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\" /> ";

const char* const kNsOpen = " xmlns=\"urn:ietf:params:xml:ns:resource-lists\"";

bool tooLong(const std::string& utf8, int limit) {
  return CodingTransform::utf8_length(utf8) > limit;
}

bool hasBody(const HTTPResponse& response) {
  ACE_Message_Block* body = response.getBody();
  return body != 0 && body->length() > 0;
}

// <tag xmlns=...>escaped value</tag>, the value only when not empty.
std::string valueDoc(const char* tag, const std::string& value) {
  std::string out = std::string("<") + tag + kNsOpen + ">";
  if (!value.empty()) out += AppUsage::xmlEscape(value);
  return out + "</" + tag + ">";
}

void optional(std::string& out, const char* tag, const std::string& value) {
  if (value.empty()) return;
  out += std::string("<") + tag + ">" + AppUsage::xmlEscape(value) + "</" + tag + ">";
}

}  // namespace

// ---- fragments ----

std::string ResourceListsAppUsage::generateEntryDoc(const std::string& uri,
                                                    const std::string& displayName,
                                                    const std::string& inviteMsg,
                                                    const std::string& nickName,
                                                    const std::string& gender) const {
  // The user id goes into an attribute: escaped like every other text.
  std::string out = std::string("<entry") + kNsOpen + " uri=\"" + xmlEscape(uri) + "\">";
  optional(out, "display-name", displayName);
  optional(out, "invite-msg", inviteMsg);
  optional(out, "nickname", nickName);
  optional(out, "gender", gender);
  return out + "</entry>";
}

std::string ResourceListsAppUsage::generateListDoc(const std::string& name,
                                                   const std::string& displayName) const {
  std::string out = std::string("<list") + kNsOpen + " name=\"" + xmlEscape(name) + "\">";
  optional(out, "display-name", displayName);
  return out + "</list>";
}

std::string ResourceListsAppUsage::generateNickNameDoc(const std::string& value) const {
  return valueDoc("nickname", value);
}

std::string ResourceListsAppUsage::generateDesignatePictureDoc(const std::string& value) const {
  return valueDoc("designate-picture", value);
}

std::string ResourceListsAppUsage::generateDisplayNameDoc(const std::string& value) const {
  return valueDoc("display-name", value);
}

// ---- request frame ----

std::vector<std::string> ResourceListsAppUsage::listNames(const std::string& selector,
                                                          bool forBuddy) const {
  std::vector<std::string> names;
  StringParser::tokenize(selector, "/", names);
  // The free-buddies node exists only in the tree: its buddies are the organization list's
  // direct entries.
  if (forBuddy && names.size() == 2 && names[0] == ORGNIZATION_NODE && names[1] == FREE_NODE) {
    names.pop_back();
  }
  return names;
}

int ResourceListsAppUsage::sendElement(const std::vector<std::string>& lists,
                                       const std::vector<StepSpec>& tail, const std::string* body,
                                       HTTPResponse& response) {
  if (!xcapClient_) return -1;
  std::vector<ElementSelectorStep*> steps;
  try {
    steps.push_back(new ElementSelectorStep("resource-lists"));
    for (size_t i = 0; i < lists.size(); ++i) {
      steps.push_back(new ElementSelectorStepByAttr("list", "name", lists[i]));
    }
    for (size_t i = 0; i < tail.size(); ++i) {
      if (tail[i].attr.empty()) {
        steps.push_back(new ElementSelectorStep(tail[i].name));
      } else {
        steps.push_back(new ElementSelectorStepByAttr(tail[i].name, tail[i].attr, tail[i].value));
      }
    }
  } catch (...) {
    for (size_t i = 0; i < steps.size(); ++i) delete steps[i];
    throw;
  }
  ElementSelector selector(steps);
  XcapNamespaceMap namespaces;
  UserElementUri uri(auid_, USERS_ + "/" + user_, buddysDocumentName(), selector, namespaces);
  return body != 0 ? xcapClient_->putElement(uri, *body, response)
                   : xcapClient_->deleteElement(uri, response);
}

void ResourceListsAppUsage::logStatus(const HTTPResponse& response, const char* request) const {
  int status = response.getStatus();
  if (status == 404) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 404, reason = Not Found, request = %s]",
                 user_.c_str(), request);
  } else if (status == 409) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 409, reason = Conflict, request = %s]",
                 user_.c_str(), request);
  } else {
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = %s]", user_.c_str(),
                 status, response.getReason().c_str(), request);
  }
}

XCAPAccessResult ResourceListsAppUsage::conflict(const HTTPResponse& response,
                                                 const char* request) {
  logStatus(response, request);
  return hasBody(response) ? decodeXcapError(response.getBodyText()) : XCAP_FAILURE;
}

// ---- operations ----

XCAPAccessResult ResourceListsAppUsage::putNewDocument() {
  try {
    if (!xcapClient_) return XCAP_NETWORK_ERROR;
    UserDocumentUri uri(auid_, USERS_ + "/" + user_, buddysDocumentName());
    HTTPResponse response;
    if (xcapClient_->putDocument(uri, mimeType_, kEmptyDocument, response) != 0) {
      return XCAP_NETWORK_ERROR;
    }
    int status = response.getStatus();
    if (status == 201 || status == 200) return XCAP_SUCCESS;
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = putNewDocument]",
                 user_.c_str(), status, response.getReason().c_str());
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::addBuddy(const BuddyEntry& buddy, const GroupEntry& group) {
  IM_TRACE("ResourceListsAppUsage::addBuddy");
  try {
    std::string selector, name, displayName, inviteMsg, nickName, gender;
    if (utf8Encode(group.selector(), selector) != 0 || utf8Encode(buddy.name(), name) != 0 ||
        utf8Encode(buddy.displayName(), displayName) != 0 ||
        utf8Encode(buddy.inviteMsg(), inviteMsg) != 0 ||
        utf8Encode(buddy.nickName(), nickName) != 0 || utf8Encode(buddy.gender(), gender) != 0) {
      return XCAP_CODING_ERROR;
    }
    if (tooLong(inviteMsg, MAX_INVITE_MESSAGE_LEN) || tooLong(nickName, MAX_NICK_NAME_LEN) ||
        !isValidUserId(name)) {
      return XCAP_INVALID_ARGUMENT;
    }
    std::vector<StepSpec> tail(1);
    tail[0].name = "entry";
    tail[0].attr = "uri";
    tail[0].value = name;
    std::string body = generateEntryDoc(name, displayName, inviteMsg, nickName, gender);
    HTTPResponse response;
    if (sendElement(listNames(selector, true), tail, &body, response) != 0) {
      return XCAP_NETWORK_ERROR;
    }
    switch (response.getStatus()) {
      case 201: clearCache(); return XCAP_SUCCESS;
      case 200: clearCache(); return XCAP_REPLACED;
      case 409: return conflict(response, "addBuddy");
      default: break;
    }
    logStatus(response, "addBuddy");
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::removeBuddy(const BuddyEntry& buddy,
                                                    const GroupEntry& group) {
  IM_TRACE("ResourceListsAppUsage::removeBuddy");
  try {
    std::string selector, name;
    if (utf8Encode(group.selector(), selector) != 0 || utf8Encode(buddy.name(), name) != 0) {
      return XCAP_CODING_ERROR;
    }
    if (!isValidUserId(name)) return XCAP_INVALID_ARGUMENT;
    std::vector<StepSpec> tail(1);
    tail[0].name = "entry";
    tail[0].attr = "uri";
    tail[0].value = name;
    HTTPResponse response;
    if (sendElement(listNames(selector, true), tail, 0, response) != 0) return XCAP_NETWORK_ERROR;
    int status = response.getStatus();
    if (status == 200) {
      clearCache();
      return XCAP_SUCCESS;
    }
    logStatus(response, "removeBuddy");
    return status == 404 ? XCAP_NODE_NOT_FOUND : XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::modifyBuddy(const BuddyEntry& buddy,
                                                    const GroupEntry& group,
                                                    ModifyBuddyType type) {
  IM_TRACE("ResourceListsAppUsage::modifyBuddy");
  try {
    if (type != MODIFY_NICKNAME && type != MODIFY_DESIGNATE_PICTURE) return XCAP_INVALID_ARGUMENT;
    bool nick = type == MODIFY_NICKNAME;
    std::string name, value, selector;
    if (utf8Encode(buddy.name(), name) != 0 ||
        utf8Encode(nick ? buddy.nickName() : buddy.designatePicture(), value) != 0 ||
        utf8Encode(group.selector(), selector) != 0) {
      return XCAP_CODING_ERROR;
    }
    if (!isValidUserId(name) ||
        tooLong(value, nick ? MAX_NICK_NAME_LEN : MAX_BUDDY_PICTURE_LEN)) {
      return XCAP_INVALID_ARGUMENT;
    }
    std::vector<StepSpec> tail(2);
    tail[0].name = "entry";
    tail[0].attr = "uri";
    tail[0].value = name;
    tail[1].name = nick ? "nickname" : "designate-picture";
    std::string body;
    if (!value.empty()) body = nick ? generateNickNameDoc(value) : generateDesignatePictureDoc(value);
    HTTPResponse response;
    if (sendElement(listNames(selector, true), tail, value.empty() ? 0 : &body, response) != 0) {
      return XCAP_NETWORK_ERROR;
    }
    int status = response.getStatus();
    // 201: the entry had no such child yet and the server created it; the value is set.
    if (status == 200 || (status == 201 && !value.empty())) {
      clearCache();
      return XCAP_SUCCESS;
    }
    logStatus(response, "modifyBuddy");
    return status == 404 ? XCAP_NODE_NOT_FOUND : XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::addGroup(const GroupEntry& group, const GroupEntry& parent) {
  IM_TRACE("ResourceListsAppUsage::addGroup");
  try {
    std::string selector, name, displayName;
    if (utf8Encode(parent.selector(), selector) != 0 || utf8Encode(group.name(), name) != 0 ||
        utf8Encode(group.displayName(), displayName) != 0) {
      return XCAP_CODING_ERROR;
    }
    if (name.empty() || name.find('/') != std::string::npos ||
        tooLong(displayName, MAX_GROUP_DISPLAY_NAME_LEN)) {
      return XCAP_INVALID_ARGUMENT;
    }
    std::vector<StepSpec> tail(1);
    tail[0].name = "list";
    tail[0].attr = "name";
    tail[0].value = name;
    std::string body = generateListDoc(name, displayName);
    HTTPResponse response;
    if (sendElement(listNames(selector, false), tail, &body, response) != 0) {
      return XCAP_NETWORK_ERROR;
    }
    int status = response.getStatus();
    if (status == 201 || status == 200) {
      clearCache();
      return XCAP_SUCCESS;
    }
    if (status == 409) return conflict(response, "addGroup");
    logStatus(response, "addGroup");
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::removeGroup(const GroupEntry& group) {
  IM_TRACE("ResourceListsAppUsage::removeGroup");
  try {
    std::string selector;
    if (utf8Encode(group.selector(), selector) != 0) return XCAP_CODING_ERROR;
    std::vector<std::string> lists = listNames(selector, false);
    // No list step would address the document's root element: never deleted from here.
    if (lists.empty()) return XCAP_INVALID_ARGUMENT;
    HTTPResponse response;
    if (sendElement(lists, std::vector<StepSpec>(), 0, response) != 0) return XCAP_NETWORK_ERROR;
    if (response.getStatus() == 200) {
      clearCache();
      return XCAP_SUCCESS;
    }
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = removeGroup]",
                 user_.c_str(), response.getStatus(), response.getReason().c_str());
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::modifyGroup(const GroupEntry& group) {
  IM_TRACE("ResourceListsAppUsage::modifyGroup");
  try {
    std::string selector, name, displayName;
    if (utf8Encode(group.selector(), selector) != 0 || utf8Encode(group.name(), name) != 0 ||
        utf8Encode(group.displayName(), displayName) != 0) {
      return XCAP_CODING_ERROR;
    }
    std::vector<std::string> lists = listNames(selector, false);
    if (name.empty() || lists.empty() || tooLong(displayName, MAX_GROUP_DISPLAY_NAME_LEN)) {
      return XCAP_INVALID_ARGUMENT;
    }
    std::vector<StepSpec> tail(1);
    tail[0].name = "display-name";
    std::string body = generateDisplayNameDoc(displayName);
    HTTPResponse response;
    if (sendElement(lists, tail, &body, response) != 0) return XCAP_NETWORK_ERROR;
    int status = response.getStatus();
    // 201: the list had no display name yet and the server created it.
    if (status == 200 || status == 201) {
      clearCache();
      return XCAP_SUCCESS;
    }
    logStatus(response, "modifyGroup");
    return status == 404 ? XCAP_NODE_NOT_FOUND : XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

#include "corvane/ResourceListsAppUsage.h"

#include "bindings/XcapNamespaces.h"
#include "bindings/resource-lists.hxx"
#include "http/HTTPResponse.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"
#include "util/Config.h"

#include <ace/Guard_T.h>
#include <ace/Message_Block.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

const std::string ResourceListsAppUsage::ALL_NODE = "";
const std::string ResourceListsAppUsage::ORGNIZATION_NODE = "organization";
const std::string ResourceListsAppUsage::MYBUDDYS_NODE = "mybuddys";
const std::string ResourceListsAppUsage::ANONYMOUS_NODE = "anonymous";
const std::string ResourceListsAppUsage::SUPPORTS_NODE = "supports";
const std::string ResourceListsAppUsage::FREE_NODE = "freebuddys";
const std::string ResourceListsAppUsage::NAMESPACE = "urn:ietf:params:xml:ns:resource-lists";
const std::string ResourceListsAppUsage::IM_BUDDYS_DOCMENT_NAME = "buddys";
const std::string ResourceListsAppUsage::MAIL_BUDDYS_DOCMENT_NAME = "buddys_detail";
const std::string ResourceListsAppUsage::GROUP_LIST_NAME = "groups";
const std::string ResourceListsAppUsage::FREE_NODE_DISPLAY_NAME_UTF8 = u8"未分配组";

const int ResourceListsAppUsage::MAX_GROUP_DISPLAY_NAME_LEN;
const int ResourceListsAppUsage::MAX_INVITE_MESSAGE_LEN;
const int ResourceListsAppUsage::MAX_NICK_NAME_LEN;
const int ResourceListsAppUsage::MAX_BUDDY_PICTURE_LEN;

namespace {

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

long long msecSince(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// Every node's selector repeats the names of all its ancestors, so a document of long names
// nested deep (each level within the parser's bound) would make selectors far larger than the
// document itself. The tree building of one decodeTree call on this thread may spend at most
// this many selector bytes; it is set when the call starts.
thread_local size_t selectorBudget = 0;

// Takes a new node's selector out of the budget; throws when the document would need more.
void spendSelector(const std::string& selector) {
  if (selector.size() > selectorBudget) throw std::length_error("selectors too large");
  selectorBudget -= selector.size();
}

}  // namespace

ResourceListsAppUsage::ResourceListsAppUsage(const std::string& user,
                                             const CodingFormat& codingFormat,
                                             Sptr<IXcapClient> client, bool skipGroupsList)
    : AppUsage(user, "resource-lists", "application/resource-lists+xml", codingFormat, client),
      skipGroupsList_(skipGroupsList), parseCount_(0) {}

ResourceListsAppUsage::ResourceListsAppUsage(const std::string& user,
                                             const CodingFormat& codingFormat,
                                             const std::string& address,
                                             const AuthenticateMode& authenticateMode,
                                             const DownloadMode& downloadMode,
                                             const std::string& password, bool skipGroupsList)
    : AppUsage(user, "resource-lists", "application/resource-lists+xml", codingFormat, address,
               authenticateMode, downloadMode, password),
      skipGroupsList_(skipGroupsList), parseCount_(0) {}

ResourceListsAppUsage::~ResourceListsAppUsage() {
  Guard guard(mutex_);
  buddyTree_.clear();
}

int ResourceListsAppUsage::parseCount() const {
  Guard guard(mutex_);
  return parseCount_;
}

// ---- cache ----

std::string ResourceListsAppUsage::buddysDocumentName() const {
  std::string type = Config::instance()->getStrValue("XCAP", "buddysType", "im");
  return type == "mail" ? MAIL_BUDDYS_DOCMENT_NAME : IM_BUDDYS_DOCMENT_NAME;
}

bool ResourceListsAppUsage::isCacheValid() const {
  Guard guard(mutex_);
  return !cachedEtag_.empty();
}

std::string ResourceListsAppUsage::etag() const {
  Guard guard(mutex_);
  return cachedEtag_;
}

void ResourceListsAppUsage::clearCache() {
  Guard guard(mutex_);
  cachedEtag_.clear();
  buddyTree_.clear();
}

XCAPAccessResult ResourceListsAppUsage::getBuddyTree(tree<TreeNode>& out) {
  IM_TRACE("ResourceListsAppUsage::getBuddyTree");
  try {
    if (!isCacheValid()) {
      XCAPAccessResult rc = refreshBuddyTree();
      if (rc != XCAP_SUCCESS) return rc;
    }
    Guard guard(mutex_);
    out = buddyTree_;  // copy and swap: `out` is untouched if the copy fails
    return XCAP_SUCCESS;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::refreshBuddyTree() {
  IM_TRACE("ResourceListsAppUsage::refreshBuddyTree");
  std::string localEtag;
  tree<TreeNode> localTree;
  std::set<BuddyEntry> localBuddies;
  XCAPAccessResult rc = getBuddys(localEtag, localTree, localBuddies);
  if (rc != XCAP_SUCCESS) return rc;
  // -1 means no limit; any other negative limit refuses every document.
  int limit = Config::instance()->getIntValue("XCAP", "maxResourceListSize", -1);
  if (limit != -1 &&
      (limit < 0 || localBuddies.size() > static_cast<size_t>(limit)))
    return XCAP_DECODE_FAILED;
  {
    Guard guard(mutex_);
    cachedEtag_.swap(localEtag);
    buddies_.swap(localBuddies);
    buddyTree_.swap(localTree);
  }
  // The old values go with the locals, after the lock is released.
  return XCAP_SUCCESS;
}

XCAPAccessResult ResourceListsAppUsage::getBuddyList(std::vector<BuddyEntry>& out,
                                                     const std::string& selector) {
  IM_TRACE("ResourceListsAppUsage::getBuddyList");
  try {
    if (!isCacheValid()) {
      XCAPAccessResult rc = refreshBuddyTree();
      if (rc != XCAP_SUCCESS) return rc;
    }
    std::vector<BuddyEntry> result(out);
    XCAPAccessResult rc = XCAP_SUCCESS;
    {
      Guard guard(mutex_);
      if (selector == ALL_NODE) {
        result.insert(result.end(), buddies_.begin(), buddies_.end());
      } else {
        rc = copyTreeNodeToList(TreeNode(selector, "", ""), result);
      }
    }
    if (rc == XCAP_SUCCESS) out.swap(result);
    return rc;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::copyTreeNodeToList(const TreeNode& node,
                                                           std::vector<BuddyEntry>& out) {
  tree<TreeNode>::pre_order_iterator found = buddyTree_.find(buddyTree_.begin(), buddyTree_.end(), node);
  if (found == buddyTree_.end()) return XCAP_NOT_IN_TREE;
  tree<TreeNode> sub = buddyTree_.subtree(found, buddyTree_.next_sibling(found));
  return copyTreeNodeToList(sub, out);
}

XCAPAccessResult ResourceListsAppUsage::copyTreeNodeToList(const tree<TreeNode>& from,
                                                           std::vector<BuddyEntry>& out) {
  // Names already in `out`, so that each user id is appended once.
  std::set<std::string> names;
  for (size_t i = 0; i < out.size(); ++i) names.insert(out[i].name());
  for (tree<TreeNode>::pre_order_iterator it = from.begin(); it != from.end(); ++it) {
    if (it->nodeType() != ELEMENT_BUDDY) continue;
    if (!names.insert(it->name()).second) continue;
    out.push_back(BuddyEntry(it->selector(), it->name(), it->displayName()));
  }
  return XCAP_SUCCESS;
}

// ---- fetch ----

XCAPAccessResult ResourceListsAppUsage::getBuddys(std::string& etag, ACE_Message_Block*& body) {
  IM_TRACE("ResourceListsAppUsage::getBuddys");
  try {
    UserDocumentUri uri(auid_, USERS_ + "/" + user_, buddysDocumentName());
    HTTPResponse response;
    if (!xcapClient_ || xcapClient_->getDocument(uri, response) != 0) {
      IM_LOG_ERROR("Corvane, [userId = %s, reason = Network Error, request = getBuddys]",
                   user_.c_str());
      return XCAP_NETWORK_ERROR;
    }
    int status = response.getStatus();
    if (status == 404) {
      IM_LOG_ERROR("Corvane, [userId = %s, status = 404, reason = Not Found, request = getBuddys]",
                   user_.c_str());
      return XCAP_DOCUMENT_NOT_FOUND;
    }
    if (status == 200) {
      etag = response.get(HTTPMessage::ETAG);
      ACE_Message_Block* block = response.getBody();
      if (block != 0 && block->length() > 0) {
        body = block->duplicate();
        return XCAP_SUCCESS;
      }
      IM_LOG_ERROR("Corvane, [userId = %s, status = 200, reason = No Body, request = getBuddys]",
                   user_.c_str());
      return XCAP_FAILURE;
    }
    IM_LOG_ERROR("Corvane, [userId = %s, status = %d, reason = %s, request = getBuddys]",
                 user_.c_str(), status, response.getReason().c_str());
    return XCAP_FAILURE;
  } catch (...) {
    return XCAP_FAILURE;
  }
}

XCAPAccessResult ResourceListsAppUsage::getBuddys(std::string& etag, tree<TreeNode>& tree,
                                                  std::set<BuddyEntry>& buddies) {
  IM_TRACE("ResourceListsAppUsage::getBuddys");
  ACE_Message_Block* body = 0;
  XCAPAccessResult rc = getBuddys(etag, body);
  if (rc != XCAP_SUCCESS) return rc;
  try {
    std::string text(body->rd_ptr(), body->length());
    body->release();
    body = 0;
    rc = decodeTree(text, tree, buddies);
  } catch (...) {
    if (body != 0) body->release();
    rc = XCAP_DECODE_FAILED;
  }
  if (rc != XCAP_SUCCESS) {
    IM_LOG_ERROR("Corvane, [userId = %s, status = 200, reason = Decode ResourceLists Failed, "
                 "request = getBuddys]",
                 user_.c_str());
  }
  return rc;
}

// ---- decode ----

std::unique_ptr<Xcap_ResourceLists::resource_lists> ResourceListsAppUsage::get_resource_lists(
    const std::string& text) {
  {
    Guard guard(mutex_);
    ++parseCount_;
  }
  ACE_Guard<ACE_Recursive_Thread_Mutex> guard(Parser::xercesLock_);
  std::istringstream is(text);
  return Xcap_ResourceLists::resource_lists_(is, Xcap_Bindings::PARSE_FLAGS,
                                             xml_schema::properties());
}

std::string ResourceListsAppUsage::decodeText(const std::string& utf8) const {
  std::string out;
  if (utf8Decode(utf8, out) != 0) throw std::runtime_error("text coding");
  return out;
}

XCAPAccessResult ResourceListsAppUsage::decodeTree(const std::string& text, tree<TreeNode>& tree,
                                                   std::set<BuddyEntry>& buddies) {
  try {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::unique_ptr<Xcap_ResourceLists::resource_lists> doc = get_resource_lists(text);
    if (!doc) return XCAP_FAILURE;
    IM_LOG_INFO("Corvane, [status = Decode ResourceLists Complete, msec = %d, userId = %s]",
                static_cast<int>(msecSince(start)), user_.c_str());

    start = std::chrono::steady_clock::now();
    // Sixteen times the document and a mebibyte: far more than any real address book needs
    // (its selectors add up to a few times its text), and never more than linear in its size.
    selectorBudget = 16 * text.size() + 1024 * 1024;
    const Xcap_ResourceLists::resource_lists::list_sequence& lists = doc->list();
    // The new top-level lists go before what the tree already holds, in document order.
    Position previous = tree.end();
    for (Xcap_ResourceLists::resource_lists::list_const_iterator l = lists.begin();
         l != lists.end(); ++l) {
      if (!l->name().present()) continue;
      std::string name = decodeText(*l->name());
      if (skipGroupsList_ && name == GROUP_LIST_NAME) continue;
      std::string displayName;
      if (l->display_name().present()) displayName = decodeText(*l->display_name());
      TreeNode top(name, name, displayName);
      spendSelector(top.selector());
      Position node = previous == tree.end() ? tree.insert(tree.begin(), top)
                                             : tree.insert_after(previous, top);
      previous = node;
      if (name == ORGNIZATION_NODE) {
        decodeRootList(tree, node, *l, buddies);
      } else {
        decodeList(tree, node, *l, buddies);
      }
    }
    IM_LOG_INFO("Corvane, [status = Parse resource lists complete, msec = %d, userId = %s]",
                static_cast<int>(msecSince(start)), user_.c_str());
    return XCAP_SUCCESS;
  } catch (...) {
    return XCAP_DECODE_FAILED;
  }
}

void ResourceListsAppUsage::decodeRootList(tree<TreeNode>& tree, Position position,
                                           const Xcap_ResourceLists::listType& list,
                                           std::set<BuddyEntry>& buddies) {
  insertListToTree(tree, position, list, buddies);
  if (list.entry().empty()) return;
  TreeNode freeNode(position->selector() + "/" + FREE_NODE, FREE_NODE,
                    decodeText(FREE_NODE_DISPLAY_NAME_UTF8));
  spendSelector(freeNode.selector());
  Position freePosition = tree.append_child(position, freeNode);
  insertEntryToTree(tree, freePosition, list, buddies);
}

void ResourceListsAppUsage::decodeList(tree<TreeNode>& tree, Position position,
                                       const Xcap_ResourceLists::listType& list,
                                       std::set<BuddyEntry>& buddies) {
  insertEntryToTree(tree, position, list, buddies);
  insertListToTree(tree, position, list, buddies);
}

void ResourceListsAppUsage::insertListToTree(tree<TreeNode>& tree, Position position,
                                             const Xcap_ResourceLists::listType& list,
                                             std::set<BuddyEntry>& buddies) {
  // Walks the nested lists with a stack of its own rather than by recursion, in document
  // order (a list's entries, then each nested list with everything in it, in turn), so the
  // buddy set keeps the first occurrence of a user id whatever the nesting.
  struct Pending {
    Position node;
    const Xcap_ResourceLists::listType* list;
  };
  std::vector<Pending> stack;
  stack.push_back(Pending{position, &list});
  bool first = true;
  while (!stack.empty()) {
    Pending current = stack.back();
    stack.pop_back();
    // The list this walk started from has its entries placed by the caller.
    if (!first) insertEntryToTree(tree, current.node, *current.list, buddies);
    first = false;
    const Xcap_ResourceLists::listType::list_sequence& lists = current.list->list();
    size_t mark = stack.size();
    for (Xcap_ResourceLists::listType::list_const_iterator l = lists.begin(); l != lists.end();
         ++l) {
      if (!l->name().present()) continue;
      std::string name = decodeText(*l->name());
      std::string displayName;
      if (l->display_name().present()) displayName = decodeText(*l->display_name());
      TreeNode node(current.node->selector() + "/" + name, name, displayName);
      spendSelector(node.selector());
      Position child = tree.append_child(current.node, node);
      stack.push_back(Pending{child, &*l});
    }
    // The first nested list is walked first.
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
  }
}

void ResourceListsAppUsage::insertEntryToTree(tree<TreeNode>& tree, Position position,
                                              const Xcap_ResourceLists::listType& list,
                                              std::set<BuddyEntry>& buddies) {
  const Xcap_ResourceLists::listType::entry_sequence& entries = list.entry();
  for (Xcap_ResourceLists::listType::entry_const_iterator e = entries.begin(); e != entries.end();
       ++e) {
    std::string uri = decodeText(e->uri());
    std::string displayName, picture, signature, nickName, gender;
    if (e->display_name().present()) displayName = decodeText(*e->display_name());
    if (e->display_picture().present()) picture = decodeText(*e->display_picture());
    if (e->signature().present()) signature = decodeText(*e->signature());
    if (e->nickname().present()) nickName = decodeText(*e->nickname());
    if (e->gender().present()) gender = decodeText(*e->gender());

    TreeNode node(position->selector() + "/" + uri, uri, displayName);
    spendSelector(node.selector());
    node.nodeType(ELEMENT_BUDDY);
    node.displayPicture(picture);
    node.signature(signature);
    node.nickName(nickName);
    node.gender(gender);
    tree.append_child(position, node);

    BuddyEntry buddy(node.selector(), uri, displayName);
    buddy.displayPicture(picture);
    buddy.signature(signature);
    buddy.nickName(nickName);
    buddies.insert(std::move(buddy));  // the first occurrence of a user id stays
  }
}

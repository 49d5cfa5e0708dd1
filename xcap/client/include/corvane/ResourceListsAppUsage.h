// The "resource-lists" application usage: reads the user's buddy document
// (/resource-lists/myusers/<user>/buddys, or buddys_detail when XCAP/buddysType is "mail"),
// turns it into the buddy tree, and keeps tree, ETag and the set of all buddies as a cache that
// stays valid while the ETag is not empty.
//
// Tree: a list's selector is the names from the top down joined with "/"; an entry's is its
// list's selector + "/" + its uri. The direct entries of the top-level "organization" list go
// under a node "organization/freebuddys" placed after that list's nested lists. Under other
// lists, entries come before nested lists. Lists without a name are left out with their
// content.
//
// Edits (one element PUT or DELETE each, no ETag condition): texts are converted to UTF-8 first
// (10 when one does not convert), arguments checked (9, nothing sent), the element addressed
// from the root through the group's lists (its selector split at "/"), and on success the cache
// is emptied so that the next read fetches the changed document. A buddy of the tree's
// "organization/freebuddys" node is addressed in the "organization" list, where the document
// keeps it. Values are escaped in the XML fragments; selector values are quoted by XcapUri.
//
// Threads: any thread. mutex_ guards the cache and is never held across a request or a parse;
// the parse runs under Parser::xercesLock_ alone. No operation throws.
#ifndef CORVANE_RESOURCELISTSAPPUSAGE_H
#define CORVANE_RESOURCELISTSAPPUSAGE_H

#include "corvane/AppUsage.h"
#include "corvane/TreeNode.h"
#include "corvane/tree.h"

#include <ace/Thread_Mutex.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

class ACE_Message_Block;
namespace Xcap_ResourceLists {
class resource_lists;
class listType;
}  // namespace Xcap_ResourceLists

class ResourceListsAppUsage : public AppUsage {
 public:
  static const std::string ALL_NODE;                  // ""
  static const std::string ORGNIZATION_NODE;          // "organization"
  static const std::string MYBUDDYS_NODE;             // "mybuddys"
  static const std::string ANONYMOUS_NODE;            // "anonymous"
  static const std::string SUPPORTS_NODE;             // "supports"
  static const std::string FREE_NODE;                 // "freebuddys"
  static const std::string NAMESPACE;                 // "urn:ietf:params:xml:ns:resource-lists"
  static const std::string IM_BUDDYS_DOCMENT_NAME;    // "buddys"
  static const std::string MAIL_BUDDYS_DOCMENT_NAME;  // "buddys_detail"
  static const std::string GROUP_LIST_NAME;           // "groups"
  static const int MAX_GROUP_DISPLAY_NAME_LEN = 255;
  static const int MAX_INVITE_MESSAGE_LEN = 128;
  static const int MAX_NICK_NAME_LEN = 64;
  static const int MAX_BUDDY_PICTURE_LEN = 256;
  // The display name of the free-buddies node, in UTF-8 ("未分配组"); handed out in the
  // usage's coding like every other text.
  static const std::string FREE_NODE_DISPLAY_NAME_UTF8;

  enum ModifyBuddyType { MODIFY_NICKNAME = 0, MODIFY_DESIGNATE_PICTURE = 1 };

  // Made and deleted by AppUsageFactory.
  ResourceListsAppUsage(const std::string& user, const CodingFormat& codingFormat,
                        Sptr<IXcapClient> client, bool skipGroupsList);
  ResourceListsAppUsage(const std::string& user, const CodingFormat& codingFormat,
                        const std::string& address, const AuthenticateMode& authenticateMode,
                        const DownloadMode& downloadMode, const std::string& password,
                        bool skipGroupsList);
  ~ResourceListsAppUsage() override;

  // The cached tree, fetched first when the cache is not valid. On failure `out` is untouched.
  XCAPAccessResult getBuddyTree(tree<TreeNode>& out);
  // The ETag the cache was built from; "" when none is held.
  std::string etag() const;
  // Appends the buddies of the whole document (selector "": ascending user id, one per id) or
  // of one group (pre-order, one per id); 2 when the selector names no group of the tree.
  XCAPAccessResult getBuddyList(std::vector<BuddyEntry>& out, const std::string& selector);

  // One GET of the buddy document, the cache untouched. On 0 `body` is the caller's.
  XCAPAccessResult getBuddys(std::string& etag, ACE_Message_Block*& body);
  // GET and decode, the cache untouched.
  XCAPAccessResult getBuddys(std::string& etag, tree<TreeNode>& tree,
                             std::set<BuddyEntry>& buddies);
  // Decodes a document text into a tree and a set (added to what they hold).
  XCAPAccessResult decodeTree(const std::string& text, tree<TreeNode>& tree,
                              std::set<BuddyEntry>& buddies);

  // ---- edits; any thread ----
  // The empty buddy document (201 or 200: 0). The cache is left alone.
  XCAPAccessResult putNewDocument();
  // entry[@uri=name] under the group: 201 -> 0, 200 -> XCAP_REPLACED, 409 -> its XCAP error.
  XCAPAccessResult addBuddy(const BuddyEntry& buddy, const GroupEntry& group);
  // 200 -> 0, 404 -> XCAP_NODE_NOT_FOUND.
  XCAPAccessResult removeBuddy(const BuddyEntry& buddy, const GroupEntry& group);
  // The entry's nickname or designate-picture: PUT of the value, DELETE when it is empty.
  // 200 or 201 -> 0, 404 -> XCAP_NODE_NOT_FOUND.
  XCAPAccessResult modifyBuddy(const BuddyEntry& buddy, const GroupEntry& group,
                               ModifyBuddyType type);
  // list[@name=name] under the parent (an empty parent selector: a top-level list).
  // A name holding "/" is refused: the tree's selectors could not address it.
  XCAPAccessResult addGroup(const GroupEntry& group, const GroupEntry& parent);
  // The group's list; an empty selector (the document root) is refused.
  XCAPAccessResult removeGroup(const GroupEntry& group);
  // The group's display-name (200 or 201 -> 0, 404 -> XCAP_NODE_NOT_FOUND).
  XCAPAccessResult modifyGroup(const GroupEntry& group);

  // How many times a document was parsed (tests and diagnostics). Any thread.
  int parseCount() const;

 private:
  typedef tree<TreeNode>::pre_order_iterator Position;

  // One final step of an element URI: name, or name[@attr='value'] when attr is not empty.
  struct StepSpec {
    std::string name;
    std::string attr;
    std::string value;
  };
  // One element PUT (body non-null) or DELETE under the lists named by `lists`: the client's
  // result (0, or -1 when nothing could be sent or the transport failed).
  int sendElement(const std::vector<std::string>& lists, const std::vector<StepSpec>& tail,
                  const std::string* body, HTTPResponse& response);
  // The list names of a UTF-8 group selector; for a buddy, the free-buddies node maps back to
  // the organization list.
  std::vector<std::string> listNames(const std::string& selector, bool forBuddy) const;
  // The common status tail: logs and maps a 409 to its XCAP error.
  XCAPAccessResult conflict(const HTTPResponse& response, const char* request);
  void logStatus(const HTTPResponse& response, const char* request) const;

  std::string generateEntryDoc(const std::string& uri, const std::string& displayName,
                               const std::string& inviteMsg, const std::string& nickName,
                               const std::string& gender) const;
  std::string generateListDoc(const std::string& name, const std::string& displayName) const;
  std::string generateNickNameDoc(const std::string& value) const;
  std::string generateDesignatePictureDoc(const std::string& value) const;
  std::string generateDisplayNameDoc(const std::string& value) const;

  std::string buddysDocumentName() const;
  bool isCacheValid() const;
  void clearCache();
  XCAPAccessResult refreshBuddyTree();
  std::unique_ptr<Xcap_ResourceLists::resource_lists> get_resource_lists(const std::string& text);
  void decodeRootList(tree<TreeNode>& tree, Position position,
                      const Xcap_ResourceLists::listType& list, std::set<BuddyEntry>& buddies);
  void decodeList(tree<TreeNode>& tree, Position position,
                  const Xcap_ResourceLists::listType& list, std::set<BuddyEntry>& buddies);
  void insertListToTree(tree<TreeNode>& tree, Position position,
                        const Xcap_ResourceLists::listType& list, std::set<BuddyEntry>& buddies);
  void insertEntryToTree(tree<TreeNode>& tree, Position position,
                         const Xcap_ResourceLists::listType& list, std::set<BuddyEntry>& buddies);
  // mutex_ held by the caller.
  XCAPAccessResult copyTreeNodeToList(const tree<TreeNode>& from, std::vector<BuddyEntry>& out);
  XCAPAccessResult copyTreeNodeToList(const TreeNode& node, std::vector<BuddyEntry>& out);
  // A document text in the usage's coding; throws on a text that does not convert.
  std::string decodeText(const std::string& utf8) const;

  const bool skipGroupsList_;
  mutable ACE_Thread_Mutex mutex_;  // not recursive
  std::string cachedEtag_;          // guarded by mutex_; "" = no valid cache
  std::set<BuddyEntry> buddies_;    // guarded by mutex_
  tree<TreeNode> buddyTree_;        // guarded by mutex_
  int parseCount_;                  // guarded by mutex_
};

#endif  // CORVANE_RESOURCELISTSAPPUSAGE_H

// The node values of the buddy tree: a list (group) node or an entry (buddy) node.
//
// Texts are in the caller's coding (UTF-8 or GB2312, as the usage was asked for).
// Threads: plain values; one thread at a time per object.
#ifndef CORVANE_TREENODE_H
#define CORVANE_TREENODE_H

#include <string>

// Int-sized with every int a valid value: a node of any other type is neither kind.
enum ElementType : int {
  ELEMENT_GROUP = 0,  // a list node
  ELEMENT_BUDDY = 1   // an entry node
};

class TreeNode {
 public:
  TreeNode() : nodeType_(ELEMENT_GROUP) {}
  TreeNode(const std::string& selector, const std::string& name, const std::string& displayName)
      : nodeType_(ELEMENT_GROUP), selector_(selector), name_(name), displayName_(displayName) {}
  TreeNode(const TreeNode& other) = default;
  TreeNode& operator=(const TreeNode& other) = default;
  virtual ~TreeNode() {}

  // Same node of the tree: equal selectors and equal types. The other fields are not compared.
  bool operator==(const TreeNode& other) const {
    return nodeType_ == other.nodeType_ && selector_ == other.selector_;
  }
  bool operator!=(const TreeNode& other) const { return !(*this == other); }

  ElementType nodeType() const { return nodeType_; }
  void nodeType(const ElementType& type) { nodeType_ = type; }

  std::string selector() const { return selector_; }
  void selector(const std::string& v) { selector_ = v; }
  std::string name() const { return name_; }
  void name(const std::string& v) { name_ = v; }
  std::string displayName() const { return displayName_; }
  void displayName(const std::string& v) { displayName_ = v; }
  std::string displayPicture() const { return displayPicture_; }
  void displayPicture(const std::string& v) { displayPicture_ = v; }
  std::string signature() const { return signature_; }
  void signature(const std::string& v) { signature_ = v; }
  std::string nickName() const { return nickName_; }
  void nickName(const std::string& v) { nickName_ = v; }
  std::string designatePicture() const { return designatePicture_; }
  void designatePicture(const std::string& v) { designatePicture_ = v; }
  std::string inviteMsg() const { return inviteMsg_; }
  void inviteMsg(const std::string& v) { inviteMsg_ = v; }
  std::string gender() const { return gender_; }
  void gender(const std::string& v) { gender_ = v; }

 private:
  ElementType nodeType_;
  std::string selector_;  // XCAP node-selector path, list names joined with "/"
  std::string name_;      // a list's name, or a buddy's user id
  std::string displayName_;
  std::string displayPicture_;
  std::string signature_;
  std::string nickName_;
  std::string designatePicture_;
  std::string inviteMsg_;
  std::string gender_;
};

// An entry (buddy) node. Stored in a tree<TreeNode> it is sliced to its TreeNode part; its type
// keeps it recognisable.
class BuddyEntry : public TreeNode {
 public:
  BuddyEntry() { nodeType(ELEMENT_BUDDY); }
  BuddyEntry(const std::string& selector, const std::string& name, const std::string& displayName)
      : TreeNode(selector, name, displayName) {
    nodeType(ELEMENT_BUDDY);
  }
  // Copies every field, the type included.
  BuddyEntry(const TreeNode& node) : TreeNode(node) {}  // NOLINT: a tree node converts
  virtual ~BuddyEntry() {}
};

// A group names a list node; it is used only through the TreeNode accessors.
typedef TreeNode GroupEntry;

// Name predicates: search and order buddies by user id (byte-wise).
struct TreeNodeNameEqual {
  bool operator()(const TreeNode& a, const TreeNode& b) const { return a.name() == b.name(); }
};
struct TreeNodeNameLess {
  bool operator()(const TreeNode& a, const TreeNode& b) const { return a.name() < b.name(); }
};

// A std::set<BuddyEntry> holds one entry per user id.
inline bool operator<(const BuddyEntry& a, const BuddyEntry& b) { return TreeNodeNameLess()(a, b); }

#endif  // CORVANE_TREENODE_H

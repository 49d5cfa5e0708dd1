// The address-book model: groups (units of the organization) and contacts, shared through
// Sptr<INode>. INode -> IContact -> Contact and INode -> IGroup -> Group are single-inheritance
// chains, so one pointer value serves as every interface of its chain; the list a pointer came
// from tells its kind (or a dynamic_cast does).
//
// Ownership: every link is an owning Sptr (a group owns its child groups, its contacts and its
// parent; a contact owns its parent groups), so a built model is a web of cycles. It is freed
// only after clearLinks on every group and clearParents on every contact; the address-book
// client does that when it drops a model.
//
// Threads: the text fields are written by the constructor (and nickName by setNickName) and
// read without a lock. Each node's mutex guards its own link lists; it is held only while that
// node's list is copied, appended to, sorted or emptied, and never while another node's lock
// is taken. Group::getParent reads the parent without the lock: it must not race with
// clearLinks of the same group.
#pragma once

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "corvane/Sptr.h"

// The last element of a path and the text before its last "/".
//   no "/": (path, "");  trailing "/": ("", text before it);  else (after, before).
void splitPath(const std::string& path, std::string& nodeName, std::string& parentPath);
// The text before the last "/"; "" without "/" or when the last "/" stands at position 0.
std::string parentPathOf(const std::string& path);

class INode {
 public:
  virtual ~INode() {}
  virtual int getType() = 0;
  virtual std::string getNodeName() = 0;
  virtual std::string getPath() = 0;
  virtual std::string getParentPath() = 0;
  virtual std::string getDisplayName() = 0;
};

class IContact : public INode {
 public:
  virtual std::string getName() = 0;  // the user id (mail address)
  virtual void setNickName(const std::string& nickName) = 0;
  virtual std::string getNickName() = 0;
  virtual void getParents(std::vector<Sptr<INode>>& out) = 0;
  virtual void addParent(Sptr<INode> group) = 0;  // an empty pointer is ignored
  virtual void clearParents() = 0;
};

class Contact : public IContact {
 public:
  Contact(const std::string& name, int type, const std::string& displayName,
          const std::string& nickName, const std::string& path);
  ~Contact() override;

  int getType() override { return type; }
  std::string getNodeName() override { return nodeName; }
  std::string getPath() override { return path; }
  std::string getParentPath() override { return parentPath; }
  std::string getDisplayName() override { return displayName; }
  std::string getName() override { return name; }
  // Not guarded: call it while no other thread reads the nick name.
  void setNickName(const std::string& nick) override { nickName = nick; }
  std::string getNickName() override { return nickName; }
  void getParents(std::vector<Sptr<INode>>& out) override;
  void addParent(Sptr<INode> group) override;
  void clearParents() override;

  // Contacts alive in the process (diagnostics and leak tests). Any thread.
  static int liveCount();

 private:
  Contact(const Contact&) = delete;
  Contact& operator=(const Contact&) = delete;

  int type;
  std::string nodeName;
  std::string name;
  std::string displayName;
  std::string nickName;
  std::string path;
  std::string parentPath;
  std::vector<Sptr<INode>> parents;  // guarded by mutex
  ACE_Thread_Mutex mutex;
  static std::atomic<int> live_;
};

class IGroup : public INode {
 public:
  virtual void getGroups(std::vector<Sptr<INode>>& out) = 0;    // in the order added
  virtual void getContacts(std::vector<Sptr<INode>>& out) = 0;  // sorted by display name
  virtual void addContact(Sptr<INode> contact) = 0;  // appended as given, empty included
  virtual void addGroup(Sptr<INode> group) = 0;      // appended as given, empty included
  virtual Sptr<INode> getParent() = 0;               // empty for a root group
  virtual void clearLinks() = 0;  // drops child groups, contacts and the parent
};

class Group : public IGroup {
 public:
  Group(const std::string& path, const std::string& displayName, Sptr<INode> parent, int type);
  ~Group() override;

  int getType() override { return type; }
  std::string getNodeName() override { return nodeName; }
  std::string getPath() override { return path; }
  std::string getParentPath() override { return parentPath; }
  std::string getDisplayName() override { return displayName; }
  void getGroups(std::vector<Sptr<INode>>& out) override;
  // A copy sorted by the upper-cased display names (byte order; ASCII letters only change).
  void getContacts(std::vector<Sptr<INode>>& out) override;
  // A copy in the order added, unsorted: for walks that only need the members.
  void getContactsAsAdded(std::vector<Sptr<INode>>& out);
  void addContact(Sptr<INode> contact) override;
  void addGroup(Sptr<INode> group) override;
  Sptr<INode> getParent() override { return parent; }
  void clearLinks() override;

  // Groups alive in the process (diagnostics and leak tests). Any thread.
  static int liveCount();

 private:
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

  int type;
  std::string nodeName;
  std::string path;
  std::string displayName;
  std::string parentPath;
  Sptr<INode> parent;                 // reset under mutex (clearLinks)
  std::vector<Sptr<INode>> groups;    // guarded by mutex
  std::vector<Sptr<INode>> contacts;  // guarded by mutex
  ACE_Thread_Mutex mutex;
  static std::atomic<int> live_;
};

// Breaks the cycles of a model so that its nodes die with their last outside holder: every group
// reachable from the roots and every group in `groups` gets clearLinks, every contact of those
// groups and every contact in `contacts` gets clearParents. Groups or contacts that a map lost
// to a later node of the same key are reached through the links. Any thread; it takes one
// node's lock at a time.
// The contacts of a group, in no particular order (the order added for a Group, which skips the
// sort of getContacts).
void membersOf(IGroup* group, std::vector<Sptr<INode>>& out);

void breakModelLinks(const std::vector<Sptr<INode>>& rootGroups,
                     const std::map<std::string, Sptr<INode>>& groups,
                     const std::map<std::string, Sptr<INode>>& contacts);

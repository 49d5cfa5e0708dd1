#include "addressbook/ContactModel.h"

#include <ace/Guard_T.h>

#include <algorithm>
#include <cctype>
#include <set>

void splitPath(const std::string& path, std::string& nodeName, std::string& parentPath) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    nodeName = path;
    parentPath.clear();
  } else {
    nodeName = path.substr(slash + 1);  // "" for a trailing "/"
    parentPath = path.substr(0, slash);
  }
}

std::string parentPathOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return std::string();
  return path.substr(0, slash);
}

// ---- Contact ----

std::atomic<int> Contact::live_(0);

Contact::Contact(const std::string& n, int t, const std::string& display, const std::string& nick,
                 const std::string& p)
    : type(t), name(n), displayName(display), nickName(nick), path(p) {
  splitPath(path, nodeName, parentPath);
  ++live_;
}

Contact::~Contact() { --live_; }

int Contact::liveCount() { return live_.load(); }

void Contact::getParents(std::vector<Sptr<INode>>& out) {
  std::vector<Sptr<INode>> copy;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    copy = parents;
  }
  out.swap(copy);  // the caller's old elements are released here, outside the lock
}

void Contact::addParent(Sptr<INode> group) {
  if (!group) return;
  ACE_GUARD(ACE_Thread_Mutex, g, mutex);
  parents.push_back(group);
}

void Contact::clearParents() {
  std::vector<Sptr<INode>> dropped;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    dropped.swap(parents);
  }
  // Released outside the lock: a last release deletes a group.
}

// ---- Group ----

std::atomic<int> Group::live_(0);

Group::Group(const std::string& p, const std::string& display, Sptr<INode> parentGroup, int t)
    : type(t), path(p), displayName(display), parent(parentGroup) {
  splitPath(path, nodeName, parentPath);
  ++live_;
}

Group::~Group() { --live_; }

int Group::liveCount() { return live_.load(); }

void Group::getGroups(std::vector<Sptr<INode>>& out) {
  std::vector<Sptr<INode>> copy;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    copy = groups;
  }
  out.swap(copy);
}

namespace {

std::string upperCased(const std::string& text) {
  std::string out(text);
  for (std::string::iterator it = out.begin(); it != out.end(); ++it)
    *it = static_cast<char>(std::toupper(static_cast<unsigned char>(*it)));
  return out;
}

// Empty pointers (addContact keeps them) sort first.
bool displayNameLess(const Sptr<INode>& a, const Sptr<INode>& b) {
  if (!b) return false;
  if (!a) return true;
  // std::string compares bytes as unsigned values; a proper prefix comes first.
  return upperCased(a->getDisplayName()) < upperCased(b->getDisplayName());
}

}  // namespace

void Group::getContacts(std::vector<Sptr<INode>>& out) {
  std::vector<Sptr<INode>> copy;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    copy = contacts;
  }
  // Sorted outside the lock: getDisplayName takes none, and the copy is ours.
  std::sort(copy.begin(), copy.end(), displayNameLess);
  out.swap(copy);
}

void Group::getContactsAsAdded(std::vector<Sptr<INode>>& out) {
  std::vector<Sptr<INode>> copy;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    copy = contacts;
  }
  out.swap(copy);
}

void membersOf(IGroup* group, std::vector<Sptr<INode>>& out) {
  if (Group* own = dynamic_cast<Group*>(group))
    own->getContactsAsAdded(out);
  else
    group->getContacts(out);
}

void Group::addContact(Sptr<INode> contact) {
  ACE_GUARD(ACE_Thread_Mutex, g, mutex);
  contacts.push_back(contact);
}

void Group::addGroup(Sptr<INode> group) {
  ACE_GUARD(ACE_Thread_Mutex, g, mutex);
  groups.push_back(group);
}

void Group::clearLinks() {
  std::vector<Sptr<INode>> droppedGroups;
  std::vector<Sptr<INode>> droppedContacts;
  Sptr<INode> droppedParent;
  {
    ACE_GUARD(ACE_Thread_Mutex, g, mutex);
    droppedGroups.swap(groups);
    droppedContacts.swap(contacts);
    droppedParent = parent;
    parent.reset();
  }
  // Released outside the lock, in the order groups, contacts, parent.
  droppedGroups.clear();
  droppedContacts.clear();
}

void breakModelLinks(const std::vector<Sptr<INode>>& rootGroups,
                     const std::map<std::string, Sptr<INode>>& groups,
                     const std::map<std::string, Sptr<INode>>& contacts) {
  std::vector<Sptr<INode>> pending(rootGroups);
  for (std::map<std::string, Sptr<INode>>::const_iterator it = groups.begin(); it != groups.end();
       ++it)
    pending.push_back(it->second);
  std::set<INode*> seenGroups;
  std::vector<Sptr<INode>> allGroups;
  std::set<INode*> seenContacts;
  std::vector<Sptr<INode>> allContacts;
  for (std::map<std::string, Sptr<INode>>::const_iterator it = contacts.begin();
       it != contacts.end(); ++it) {
    if (it->second && seenContacts.insert(it->second.get()).second)
      allContacts.push_back(it->second);
  }
  while (!pending.empty()) {
    Sptr<INode> node = pending.back();
    pending.pop_back();
    if (!node || !seenGroups.insert(node.get()).second) continue;
    allGroups.push_back(node);
    IGroup* group = static_cast<IGroup*>(node.get());
    std::vector<Sptr<INode>> children;
    group->getGroups(children);
    pending.insert(pending.end(), children.begin(), children.end());
    std::vector<Sptr<INode>> members;
    membersOf(group, members);
    for (size_t i = 0; i < members.size(); ++i) {
      if (members[i] && seenContacts.insert(members[i].get()).second)
        allContacts.push_back(members[i]);
    }
  }
  for (size_t i = 0; i < allGroups.size(); ++i)
    static_cast<IGroup*>(allGroups[i].get())->clearLinks();
  for (size_t i = 0; i < allContacts.size(); ++i)
    static_cast<IContact*>(allContacts[i].get())->clearParents();
}

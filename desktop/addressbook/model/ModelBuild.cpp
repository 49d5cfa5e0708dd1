// The model build of the contact-list agent: the organization's part of a fetched buddy tree
// becomes groups and contacts, and the contact table is refilled in batches.
#include <ace/Guard_T.h>

#include <new>
#include <utility>

#include "addressbook/ContactDb.h"
#include "addressbook/ContactListAgent.h"
#include "corvane/ResourceListsAppUsage.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

namespace {

typedef ACE_Guard<ACE_Thread_Mutex> Guard;
typedef std::map<std::string, Sptr<INode>> NodeMap;

const int kGroupKind = 3;
const int kContactKind = 2;
const size_t kBatchLimit = 50;  // a batch runs when the queue passes this
const int kNotStored = 1;        // the status of a fetch whose contacts were not all stored

bool beginsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

Sptr<INode> lookUp(const NodeMap& map, const std::string& path) {
  NodeMap::const_iterator it = map.find(path);
  return it == map.end() ? Sptr<INode>() : it->second;
}

// Links a contact and its group both ways.
void link(const Sptr<INode>& contact, const Sptr<INode>& group) {
  static_cast<IGroup*>(group.get())->addContact(contact);
  static_cast<IContact*>(contact.get())->addParent(group);
}

}  // namespace

void ContactListAgent::OnUpdate(const tree<TreeNode>& buddyTree, int status) {
  IM_TRACE("ContactListAgent::OnUpdate");
  if (status != 0) {
    OnUpdate(status);
    return;
  }
  ContactDb* table = ContactDb::instance();
  bool stored = true;  // every write of the table succeeded
  {
    Guard g(stateMutex_);
    if (stopFlag_) return;
    stored = table->deleteAll();
  }

  const std::string& organization = ResourceListsAppUsage::ORGNIZATION_NODE;
  std::vector<Sptr<INode>> rootGroups;
  NodeMap groups;
  NodeMap contacts;
  std::vector<Sptr<INode>> waiting;
  std::vector<CppSQLite3Command> queue;

  for (tree<TreeNode>::pre_order_iterator it = buddyTree.begin(); it != buddyTree.end(); ++it) {
    const TreeNode& node = *it;
    NodeKind kind = classifyNode(node);
    std::string selector = node.selector();
    if ((kind != NODE_OTHER_GROUP && kind != NODE_OTHER_CONTACT) ||
        !beginsWith(selector, organization))
      continue;
    Sptr<INode> parent = lookUp(groups, parentPathOf(selector));

    if (kind == NODE_OTHER_GROUP) {
      Group* made = new (std::nothrow) Group(selector, node.displayName(), parent, kGroupKind);
      if (made == 0) {
        IM_LOG_WARN("[new Group] return NULL !");
        continue;
      }
      Sptr<INode> group(made);
      groups[selector] = group;  // a later group of the same path replaces it in the map
      if (parent)
        static_cast<IGroup*>(parent.get())->addGroup(group);
      else
        rootGroups.push_back(group);
      continue;
    }

    Contact* made = new (std::nothrow)
        Contact(node.name(), kContactKind, node.displayName(), node.nickName(), selector);
    if (made == 0) {
      IM_LOG_WARN("[new Contact] return NULL !");
      continue;
    }
    Sptr<INode> contact(made);
    contacts[node.name()] = contact;
    if (!parent) {
      waiting.push_back(contact);
      continue;
    }
    CppSQLite3Command insert = table->insertContact(contact, parent);
    if (!insert.sql.empty()) {
      Guard g(stateMutex_);
      if (stopFlag_) {  // the model is dropped; nobody is told
        g.release();
        breakModelLinks(rootGroups, groups, contacts);
        return;
      }
      queue.push_back(std::move(insert));
      if (queue.size() > kBatchLimit) {
        if (!table->flush(queue)) stored = false;
        queue.clear();
      }
    }
    link(contact, parent);
  }

  for (size_t i = 0; i < waiting.size(); ++i) {
    const Sptr<INode>& contact = waiting[i];
    Sptr<INode> group = lookUp(groups, parentPathOf(contact->getPath()));
    if (!group) {
      IM_LOG_WARN("NOT FOUND contact's parent GROUP !");
      continue;
    }
    CppSQLite3Command insert = table->insertContact(contact, group);
    if (!insert.sql.empty()) queue.push_back(std::move(insert));
    link(contact, group);
  }

  bool stopped = false;
  {
    Guard g(stateMutex_);
    stopped = stopFlag_;
    if (!stopped && !queue.empty() && !table->flush(queue)) stored = false;
  }
  // A listener that took the model breaks its cycles when it drops it; when nobody took it
  // (stopped, or every listener gone) nobody else would.
  size_t takers = 0;
  if (!stopped) {
    IM_TRACE("ContactListAgent::OnUpdate");
    // The book was fetched but its search table was not stored: the model still goes out (the
    // picker's tree can show it), with a failure status, so that nobody reports the book
    // stored.
    if (!stored) IM_LOG_ERROR("ContactListAgent::OnUpdate, the address book was fetched but not stored");
    takers = notifyListeners(rootGroups, groups, contacts, stored ? 0 : kNotStored);
  }
  if (takers == 0) breakModelLinks(rootGroups, groups, contacts);
}

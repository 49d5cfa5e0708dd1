#include "addressbook/AddressBookClient.h"

#include <ace/Guard_T.h>

#include <new>
#include <unordered_map>

#include "addressbook/ContactDb.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

typedef ACE_Guard<ACE_Thread_Mutex> Guard;

AddressBookClient::AddressBookClient() : state(STATE_IDLE) { LongTimeTask::instance()->open(0); }

AddressBookClient::~AddressBookClient() {
  Sptr<ContactListAgent> old = getAgent();
  if (old) {
    old->removeListener(this);
    dropAgent(old);
  }
  std::list<Model> models;
  takeModels(models);
  breakAll(models);
}

void AddressBookClient::addListener(IAddrbookListener* listener) {
  IM_TRACE("AddressBookClient::addListener");
  listeners.add(listener);
}

void AddressBookClient::removeListener(IAddrbookListener* listener) {
  IM_TRACE("AddressBookClient::removeListener");
  listeners.remove(listener);
}

Sptr<ContactListAgent> AddressBookClient::getAgent() {
  Guard g(agentMutex);
  return agent;
}

void AddressBookClient::dropAgent(const Sptr<ContactListAgent>& which) {
  Sptr<ContactListAgent> dropped;
  {
    Guard g(agentMutex);
    if (agent != which) return;
    dropped = agent;
    agent.reset();
  }
  // The last release (when no job observes it any more) runs outside the lock.
}

void AddressBookClient::init(const std::string& user, const std::string& pass) {
  userId = user;
  password = pass;
  clear();
  ContactDb::instance()->init(userId);
  Sptr<ContactListAgent> current = getAgent();
  if (current) {
    current->setUserId(userId);
    current->setPassword(password);
  }
}

int AddressBookClient::update() {
  if (state == STATE_UPDATING) return 0;
  Sptr<ContactListAgent> current = getAgent();
  if (!current) {
    ContactListAgent* made = new (std::nothrow) ContactListAgent;
    if (made == 0) {
      state = STATE_IDLE;
      return -1;
    }
    current = Sptr<ContactListAgent>(made);
    {
      Guard g(agentMutex);
      agent = current;
    }
    current->addListener(this);
    current->setUserId(userId);
    current->setPassword(password);
  }
  // Set before the post: a fetch may end (and set its own state) before update returns.
  state = STATE_UPDATING;
  if (current->update(3) == 0) return 0;
  state = STATE_IDLE;
  return -1;
}

void AddressBookClient::OnUpdate(const std::vector<Sptr<INode>>& roots,
                                 std::map<std::string, Sptr<INode>> newGroups,
                                 std::map<std::string, Sptr<INode>> newContacts, int status) {
  IM_TRACE("AddressBookClient::OnUpdate");
  // A failed or cancelled fetch comes without a model and keeps what is installed; a fetched
  // book that could not be stored comes with its model and a failure status, and is installed.
  const bool install = status == 0 || !roots.empty() || !newGroups.empty() || !newContacts.empty();
  {
    Guard g(modelMutex);
    if (install) installLocked(roots, newGroups, newContacts);
    state = status == 0 ? STATE_UPDATED : install ? STATE_NOT_STORED : STATE_IDLE;
  }
  listeners.forEach([&](IAddrbookListener* listener) { listener->OnAddrbookUpdate(roots, status); });
  // After the listeners, who may have let go of older models: nobody waits for this.
  std::list<Model> unheld;
  if (install) {
    Guard g(modelMutex);
    takeUnheldLocked(unheld);
  }
  breakAll(unheld);  // nobody can reach these
}

void AddressBookClient::setModel(const std::vector<Sptr<INode>>& roots,
                                 std::map<std::string, Sptr<INode>> newGroups,
                                 std::map<std::string, Sptr<INode>> newContacts) {
  std::list<Model> unheld;
  {
    Guard g(modelMutex);
    installLocked(roots, newGroups, newContacts);
    takeUnheldLocked(unheld);
  }
  breakAll(unheld);
}

bool AddressBookClient::heldFromOutside(const Model& model) {
  // Every reference the model's own links and containers make, node by node; a node with more
  // owners than that (less the one copy made here) is held by someone else.
  std::unordered_map<INode*, int> inside;
  std::vector<Sptr<INode>> groups, contacts;  // one copy of each node while counting
  {
    std::vector<Sptr<INode>> pending(model.rootGroups);
    for (const Sptr<INode>& g : model.rootGroups)
      if (g) ++inside[g.get()];
    for (const auto& entry : model.groups) {
      if (!entry.second) continue;
      ++inside[entry.second.get()];
      pending.push_back(entry.second);
    }
    for (const auto& entry : model.contacts) {
      if (!entry.second) continue;
      if (inside[entry.second.get()]++ == 0) contacts.push_back(entry.second);
    }
    std::unordered_map<INode*, bool> seen;
    std::vector<Sptr<INode>> links;
    while (!pending.empty()) {
      Sptr<INode> node = pending.back();
      pending.pop_back();
      if (!node || seen[node.get()]) continue;
      seen[node.get()] = true;
      groups.push_back(node);
      IGroup* group = static_cast<IGroup*>(node.get());
      if (group->getParent()) ++inside[group->getParent().get()];
      links.clear();
      group->getGroups(links);
      for (const Sptr<INode>& child : links) {
        if (!child) continue;
        ++inside[child.get()];
        pending.push_back(child);
      }
      links.clear();
      membersOf(group, links);
      for (const Sptr<INode>& member : links) {
        if (!member) continue;
        if (inside[member.get()]++ == 0) contacts.push_back(member);
      }
    }
    for (const Sptr<INode>& c : contacts) {
      links.clear();
      static_cast<IContact*>(c.get())->getParents(links);
      for (const Sptr<INode>& parent : links)
        if (parent) ++inside[parent.get()];
    }
  }  // every temporary copy is gone here: groups and contacts hold one each
  // groups and contacts hold each node once.
  for (const Sptr<INode>& g : groups)
    if (g.useCount() > inside[g.get()] + 1) return true;
  for (const Sptr<INode>& c : contacts)
    if (c.useCount() > inside[c.get()] + 1) return true;
  return false;
}

void AddressBookClient::takeUnheldLocked(std::list<Model>& out) {
  for (std::list<Model>::iterator it = retiredModels.begin(); it != retiredModels.end();) {
    if (heldFromOutside(*it)) {
      ++it;
    } else {
      std::list<Model>::iterator next = std::next(it);
      out.splice(out.end(), retiredModels, it);
      it = next;
    }
  }
}

size_t AddressBookClient::retiredModelCount() {
  Guard g(modelMutex);
  return retiredModels.size();
}

void AddressBookClient::installLocked(const std::vector<Sptr<INode>>& roots,
                                      std::map<std::string, Sptr<INode>>& newGroups,
                                      std::map<std::string, Sptr<INode>>& newContacts) {
  if (!rootGroups.empty() || !groups.empty() || !contacts.empty()) {
    retiredModels.push_back(Model());
    retiredModels.back().rootGroups.swap(rootGroups);
    retiredModels.back().groups.swap(groups);
    retiredModels.back().contacts.swap(contacts);
  }
  rootGroups = roots;
  groups.swap(newGroups);
  contacts.swap(newContacts);
  dropContactIndexLocked();
}

void AddressBookClient::dropContactIndexLocked() {
  std::vector<IndexSlot>().swap(contactIndex);
}

Sptr<INode> AddressBookClient::findContact(const std::string& name) {
  Guard g(modelMutex);
  std::map<std::string, Sptr<INode>>::const_iterator it = contacts.find(name);
  return it == contacts.end() ? Sptr<INode>() : it->second;
}

void AddressBookClient::findContacts(const std::vector<std::string_view>& names, std::vector<Sptr<INode>>& out) {
  const std::hash<std::string_view> hashOf;
  Guard g(modelMutex);
  if (contactIndex.empty() && !contacts.empty()) {
    size_t size = 16;
    while (size < 2 * contacts.size()) size *= 2;
    contactIndex.assign(size, IndexSlot{0, std::string_view(), nullptr});
    for (const auto& entry : contacts) {
      const size_t hash = hashOf(entry.first);
      size_t at = hash & (size - 1);
      while (contactIndex[at].value != nullptr) at = (at + 1) & (size - 1);
      contactIndex[at] = IndexSlot{hash, std::string_view(entry.first), &entry.second};
    }
  }
  if (contactIndex.empty()) return;
  // Tens of thousands of hits, whose slots and keys lie anywhere in memory: each pass below
  // makes reads that do not wait for one another, so that they overlap. First the hashes, then
  // the slot of each (its first probe nearly always), then the keys compared, then the copies
  // (each takes its count's lock: a locked instruction, which no later read passes).
  const size_t mask = contactIndex.size() - 1;
  const size_t n = names.size();
  std::vector<size_t> slotOf(n);
  for (size_t i = 0; i < n; ++i) slotOf[i] = hashOf(names[i]);
  for (size_t i = 0; i < n; ++i) {
    const size_t hash = slotOf[i];
    size_t at = hash & mask;
    while (contactIndex[at].value != nullptr && contactIndex[at].hash != hash) at = (at + 1) & mask;
    slotOf[i] = at;
  }
  std::vector<const Sptr<INode>*> found;
  found.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    // Equal hashes with another key: probe on from there.
    size_t at = slotOf[i];
    while (contactIndex[at].value != nullptr && contactIndex[at].key != names[i]) at = (at + 1) & mask;
    const Sptr<INode>* value = contactIndex[at].value;
    if (value != nullptr && *value) found.push_back(value);
  }
  out.reserve(out.size() + found.size());
  for (const Sptr<INode>* contact : found) out.push_back(*contact);
}

std::vector<Sptr<INode>> AddressBookClient::getRootGroups() {
  Guard g(modelMutex);
  return rootGroups;
}

void AddressBookClient::getModel(std::vector<Sptr<INode>>& roots,
                                 std::map<std::string, Sptr<INode>>& outGroups,
                                 std::map<std::string, Sptr<INode>>& outContacts) {
  Guard g(modelMutex);
  roots = rootGroups;
  outGroups = groups;
  outContacts = contacts;
}

void AddressBookClient::stopAgent() {
  Sptr<ContactListAgent> current = getAgent();
  if (!current) return;
  // No lock held: stopping may report the cancelled fetch on this thread.
  current->stop();
  current->removeListener(this);
  dropAgent(current);
  state = STATE_IDLE;
}

void AddressBookClient::clear() {
  Sptr<ContactListAgent> current = getAgent();
  if (state == STATE_UPDATING && current) {
    // No lock held: stopping may report the cancelled fetch on this thread, and
    // removeListener waits for a notification running on the job thread.
    current->stop();
    current->removeListener(this);
    dropAgent(current);
    state = STATE_IDLE;
  }
  current.reset();
  std::list<Model> models;
  takeModels(models);
  breakAll(models);
}

void AddressBookClient::takeModels(std::list<Model>& out) {
  Guard g(modelMutex);
  // Without a model the client is idle, also when the last fetch had succeeded.
  state = STATE_IDLE;
  out.swap(retiredModels);
  out.push_back(Model());
  out.back().rootGroups.swap(rootGroups);
  out.back().groups.swap(groups);
  out.back().contacts.swap(contacts);
  dropContactIndexLocked();
}

void AddressBookClient::breakAll(std::list<Model>& models) {
  for (std::list<Model>::iterator it = models.begin(); it != models.end(); ++it)
    breakModelLinks(it->rootGroups, it->groups, it->contacts);
  models.clear();
}

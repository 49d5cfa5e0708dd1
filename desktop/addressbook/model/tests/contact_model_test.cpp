// The contact model: path splitting, the contact order of a group, links and their breaking.
#include <gtest/gtest.h>

#include "addressbook/ContactListAgent.h"
#include "addressbook/ContactModel.h"

namespace {

Sptr<INode> contact(const std::string& name, const std::string& display, const std::string& path) {
  return Sptr<INode>(new Contact(name, 2, display, "", path));
}

Sptr<INode> group(const std::string& path, Sptr<INode> parent = Sptr<INode>()) {
  return Sptr<INode>(new Group(path, "g", parent, 3));
}

IGroup* asGroup(const Sptr<INode>& n) { return static_cast<IGroup*>(n.get()); }
IContact* asContact(const Sptr<INode>& n) { return static_cast<IContact*>(n.get()); }

std::vector<std::string> displayNames(const std::vector<Sptr<INode>>& nodes) {
  std::vector<std::string> out;
  for (const Sptr<INode>& n : nodes) out.push_back(n ? n->getDisplayName() : "<empty>");
  return out;
}

TEST(ContactModel, SplitPathTable) {
  struct {
    const char* path;
    const char* name;
    const char* parent;
    const char* parentOf;
  } cases[] = {
      {"organization", "organization", "", ""},
      {"organization/rd/bob@corp.example", "bob@corp.example", "organization/rd", "organization/rd"},
      {"a/b/", "", "a/b", "a/b"},
      {"/", "", "", ""},
      {"/x", "x", "", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string name, parent;
    splitPath(c.path, name, parent);
    EXPECT_EQ(c.name, name);
    EXPECT_EQ(c.parent, parent);
    EXPECT_EQ(c.parentOf, parentPathOf(c.path));
    Contact node("u", 2, "d", "n", c.path);
    EXPECT_EQ(c.name, node.getNodeName());
    EXPECT_EQ(c.parent, node.getParentPath());
  }
}

TEST(ContactModel, ContactsSortByUpperCasedDisplayNameAndKeepTheirStoredOrder) {
  Sptr<INode> g = group("organization/rd");
  asGroup(g)->addContact(contact("b", "bob", "organization/rd/b"));
  asGroup(g)->addContact(contact("c", "张伟", "organization/rd/c"));  // GBK bytes sort last
  asGroup(g)->addContact(contact("a1", "Alice", "organization/rd/a1"));
  asGroup(g)->addContact(contact("a2", "ALICE", "organization/rd/a2"));
  asGroup(g)->addContact(contact("z", "Zed", "organization/rd/z"));
  asGroup(g)->addContact(contact("al", "Al", "organization/rd/al"));  // a prefix comes first
  std::vector<Sptr<INode>> sorted;
  asGroup(g)->getContacts(sorted);
  std::vector<std::string> names = displayNames(sorted);
  ASSERT_EQ(6u, names.size());
  EXPECT_EQ("Al", names[0]);
  EXPECT_TRUE((names[1] == "Alice" && names[2] == "ALICE") ||
              (names[1] == "ALICE" && names[2] == "Alice"));
  EXPECT_EQ("bob", names[3]);
  EXPECT_EQ("Zed", names[4]);
  EXPECT_EQ("张伟", names[5]);
  // A second copy is sorted from the stored order again, which the sort left alone.
  std::vector<Sptr<INode>> again;
  asGroup(g)->getContacts(again);
  EXPECT_EQ(names, displayNames(again));
  asGroup(g)->clearLinks();
}

TEST(ContactModel, EmptyPointersInLinkLists) {
  Sptr<INode> g = group("organization");
  Sptr<INode> c = contact("u", "U", "organization/u");
  asContact(c)->addParent(Sptr<INode>());
  std::vector<Sptr<INode>> parents;
  asContact(c)->getParents(parents);
  EXPECT_TRUE(parents.empty());
  asGroup(g)->addContact(Sptr<INode>());
  asGroup(g)->addGroup(Sptr<INode>());
  std::vector<Sptr<INode>> out;
  asGroup(g)->getContacts(out);
  ASSERT_EQ(1u, out.size());
  EXPECT_FALSE(out[0]);
  asGroup(g)->getGroups(out);
  ASSERT_EQ(1u, out.size());
  EXPECT_FALSE(out[0]);
}

TEST(ContactModel, ClearLinksEmptiesListsAndKeepsTexts) {
  Sptr<INode> root = group("organization");
  Sptr<INode> unit(new Group("organization/rd", u8"研发部", root, 3));
  asGroup(root)->addGroup(unit);
  EXPECT_EQ(root.get(), asGroup(unit)->getParent().get());
  asGroup(unit)->clearLinks();
  asGroup(root)->clearLinks();
  std::vector<Sptr<INode>> out;
  asGroup(unit)->getGroups(out);
  EXPECT_TRUE(out.empty());
  asGroup(unit)->getContacts(out);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(asGroup(unit)->getParent());
  EXPECT_EQ("organization/rd", unit->getPath());
  EXPECT_EQ("rd", unit->getNodeName());
  EXPECT_EQ(u8"研发部", unit->getDisplayName());
  EXPECT_EQ(3, unit->getType());
}

// A web of cycles (a contact under two groups, a group replaced in a map by a later one of the
// same path) is freed once its links are broken, and only then.
TEST(ContactModel, BreakModelLinksFreesTheWholeWeb) {
  int groupsBefore = Group::liveCount();
  int contactsBefore = Contact::liveCount();
  {
    std::vector<Sptr<INode>> roots;
    std::map<std::string, Sptr<INode>> groups;
    std::map<std::string, Sptr<INode>> contacts;
    Sptr<INode> root = group("organization");
    roots.push_back(root);
    Sptr<INode> first = group("organization/rd", root);
    Sptr<INode> second = group("organization/rd", root);  // same path: the map keeps this one
    asGroup(root)->addGroup(first);
    asGroup(root)->addGroup(second);
    groups["organization"] = root;
    groups["organization/rd"] = second;
    Sptr<INode> bob = contact("bob", "Bob", "organization/rd/bob");
    for (const Sptr<INode>& g : {first, second}) {
      asGroup(g)->addContact(bob);
      asContact(bob)->addParent(g);
    }
    contacts["bob"] = bob;
    Sptr<INode> lost = contact("bob", "Bob", "organization/bob");  // replaced in the map
    asGroup(root)->addContact(lost);
    asContact(lost)->addParent(root);
    EXPECT_EQ(groupsBefore + 3, Group::liveCount());
    EXPECT_EQ(contactsBefore + 2, Contact::liveCount());
    breakModelLinks(roots, groups, contacts);
    std::vector<Sptr<INode>> parents;
    asContact(bob)->getParents(parents);
    EXPECT_TRUE(parents.empty());
  }
  EXPECT_EQ(groupsBefore, Group::liveCount());
  EXPECT_EQ(contactsBefore, Contact::liveCount());
}

TEST(ContactModel, ClassifyNodeTable) {
  struct {
    ElementType type;
    const char* selector;
    NodeKind kind;
  } cases[] = {
      {ELEMENT_BUDDY, "mybuddys/jack@corp.example", NODE_MYBUDDYS_CONTACT},
      {ELEMENT_GROUP, "mybuddys", NODE_MYBUDDYS_GROUP},
      {ELEMENT_BUDDY, "organization/rd/bob@corp.example", NODE_OTHER_CONTACT},
      {ELEMENT_GROUP, "organization/rd", NODE_OTHER_GROUP},
      {ELEMENT_GROUP, "groups/g1", NODE_GROUPS_GROUP},
      {ELEMENT_BUDDY, "groups/g1/bob@corp.example", NODE_GROUPS_CONTACT},
      {ELEMENT_GROUP, "organization/groups", NODE_OTHER_GROUP},  // only the beginning counts
      {static_cast<ElementType>(7), "organization", NODE_OTHER_TYPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selector);
    TreeNode node(c.selector, "n", "d");
    node.nodeType(c.type);
    EXPECT_EQ(c.kind, ContactListAgent::classifyNode(node));
  }
}

}  // namespace

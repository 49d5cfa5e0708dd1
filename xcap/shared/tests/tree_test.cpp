#include "corvane/TreeNode.h"
#include "corvane/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

// A value that counts the live copies, so leaks and double frees show.
struct Counted {
  static int live;
  std::string v;
  Counted() { ++live; }
  Counted(const char* s) : v(s) { ++live; }  // NOLINT
  Counted(const Counted& o) : v(o.v) { ++live; }
  Counted& operator=(const Counted&) = default;
  ~Counted() { --live; }
  bool operator==(const Counted& o) const { return v == o.v; }
};
int Counted::live = 0;

typedef tree<Counted> CTree;

std::string walk(const CTree& t) {
  std::string out;
  for (CTree::pre_order_iterator it = t.begin(); it != t.end(); ++it) {
    if (!out.empty()) out += ' ';
    out += it->v;
  }
  return out;
}

CTree::pre_order_iterator at(const CTree& t, const char* v) {
  return t.find(t.begin(), t.end(), Counted(v));
}

// a(a1(a11, a12), a2) b(b1) c
class TreeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CTree::pre_order_iterator a = t.insert(t.end(), "a");
    CTree::pre_order_iterator a1 = t.append_child(a, "a1");
    t.append_child(a1, "a11");
    t.append_child(a1, "a12");
    t.append_child(a, "a2");
    CTree::pre_order_iterator b = t.insert(t.end(), "b");
    t.append_child(b, "b1");
    t.insert(t.end(), "c");
  }
  void TearDown() override {
    t.clear();
    EXPECT_EQ(2, Counted::live) << "only the two sentinels of t remain";
  }
  CTree t;
};

TEST(Tree, NewTreeIsEmptyAndInsertAtEndIsVisitedOnce) {
  CTree t;
  EXPECT_TRUE(t.begin() == t.end());
  EXPECT_TRUE(t.empty());
  t.insert(t.end(), "x");
  EXPECT_EQ("x", walk(t));
  EXPECT_EQ(1u, t.size());
}

TEST_F(TreeFixture, PreOrderWalkAndStructure) {
  EXPECT_EQ("a a1 a11 a12 a2 b b1 c", walk(t));
  EXPECT_EQ(8u, t.size());
  EXPECT_TRUE(t.parent(at(t, "a12")) == at(t, "a1"));
  EXPECT_FALSE(t.is_valid(t.parent(at(t, "a"))));
  EXPECT_FALSE(t.is_valid(t.end()));
  EXPECT_TRUE(t.is_valid(t.begin()));
  EXPECT_TRUE(t.next_sibling(at(t, "a1")) == at(t, "a2"));
  EXPECT_EQ(2u, t.number_of_children(at(t, "a")));
  // Advancing size() times from begin() reaches end().
  CTree::pre_order_iterator it = t.begin();
  for (size_t i = 0; i < t.size(); ++i) ++it;
  EXPECT_TRUE(it == t.end());
  std::vector<std::string> kids;
  for (CTree::sibling_iterator s = t.begin(at(t, "a")); s != t.end(at(t, "a")); ++s) kids.push_back(s->v);
  EXPECT_EQ((std::vector<std::string>{"a1", "a2"}), kids);
  CTree::pre_order_iterator skip = at(t, "a");
  skip.skip_children();
  ++skip;
  EXPECT_EQ("b", skip->v);
}

TEST_F(TreeFixture, EraseFreesTheSubtreeAndReturnsWhatFollowed) {
  struct Row {
    const char* erase;
    const char* next;  // "" for end()
    const char* left;
  };
  const Row rows[] = {
      {"a1", "a2", "a a2 b b1 c"},      // same level
      {"a12", "a2", "a a1 a11 a2 b b1 c"},  // higher level
      {"b1", "c", "a a1 a11 a12 a2 b c"},
      {"c", "", "a a1 a11 a12 a2 b b1"},
      {"a", "b", "b b1 c"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.erase);
    CTree copy(t);
    CTree::pre_order_iterator next = copy.erase(at(copy, r.erase));
    if (*r.next) EXPECT_EQ(r.next, next->v);
    else EXPECT_TRUE(next == copy.end());
    EXPECT_EQ(r.left, walk(copy));
  }
  int before = Counted::live;
  t.erase(at(t, "a"));
  EXPECT_EQ(before - 5, Counted::live);
}

TEST_F(TreeFixture, CopyIsDeepAndSelfAssignmentKeepsTheTree) {
  CTree copy(t);
  copy.erase(at(copy, "b"));
  at(copy, "a11")->v = "changed";
  EXPECT_EQ("a a1 a11 a12 a2 b b1 c", walk(t));
  EXPECT_EQ("a a1 changed a12 a2 c", walk(copy));

  CTree assigned;
  assigned.insert(assigned.end(), "old");
  assigned = t;
  EXPECT_EQ(walk(t), walk(assigned));

  CTree& same = t;
  t = same;
  EXPECT_EQ("a a1 a11 a12 a2 b b1 c", walk(t));
}

TEST_F(TreeFixture, InsertReplaceSubtree) {
  t.insert(at(t, "a"), "first");
  t.insert_after(at(t, "a11"), "a11x");
  t.insert_after(at(t, "a12"), "a13");
  EXPECT_EQ("first a a1 a11 a11x a12 a13 a2 b b1 c", walk(t));
  // Past the end of a child run, insert appends a child.
  t.insert(t.end(at(t, "b")), "b2");
  EXPECT_EQ("b b1 b2", walk(t.subtree(at(t, "b"), t.next_sibling(at(t, "b")))));

  CTree sub = t.subtree(at(t, "a"), at(t, "c"));
  EXPECT_EQ("a a1 a11 a11x a12 a13 a2 b b1 b2", walk(sub));

  // Replace a node by a copy of its own descendant: the copy is taken before the old subtree goes.
  t.replace(at(t, "a"), at(t, "a1"));
  EXPECT_EQ("first a1 a11 a11x a12 a13 b b1 b2 c", walk(t));

  // Replace a run of siblings by a run from another tree.
  CTree::sibling_iterator from = at(t, "a11");
  CTree::sibling_iterator to = at(t, "a13");
  CTree::sibling_iterator nb = at(sub, "b");
  CTree::sibling_iterator ne = sub.end();
  t.replace(from, to, nb, ne);
  EXPECT_EQ("first a1 b b1 b2 a13 b b1 b2 c", walk(t));

  t.erase_children(at(t, "a1"));
  EXPECT_EQ("first a1 b b1 b2 c", walk(t));
}

TEST(TreeNode, EqualitySelectorAndTypeOnly) {
  TreeNode group("org/dev", "dev", "Development");
  TreeNode sameSelector("org/dev", "other", "Other");
  BuddyEntry buddy("org/dev", "dev", "Development");
  EXPECT_TRUE(group == sameSelector);
  EXPECT_FALSE(group == buddy);
  EXPECT_EQ(ELEMENT_BUDDY, buddy.nodeType());
  EXPECT_EQ(ELEMENT_GROUP, TreeNode().nodeType());

  // A buddy stored in a tree<TreeNode> keeps its type; find matches by selector and type.
  tree<TreeNode> t;
  tree<TreeNode>::pre_order_iterator g = t.insert(t.end(), group);
  t.append_child(g, BuddyEntry("org/dev/u1", "u1", "User"));
  tree<TreeNode>::pre_order_iterator hit = std::find(t.begin(), t.end(), BuddyEntry("org/dev/u1", "", ""));
  ASSERT_TRUE(hit != t.end());
  EXPECT_EQ("u1", hit->name());
  BuddyEntry back(*hit);
  EXPECT_EQ(ELEMENT_BUDDY, back.nodeType());
  EXPECT_TRUE(std::find(t.begin(), t.end(), TreeNode("org/dev/u1", "u1", "")) == t.end());

  // The set of buddies holds one entry per user id.
  std::set<BuddyEntry> buddies;
  buddies.insert(BuddyEntry("a/u1", "u1", "first"));
  buddies.insert(BuddyEntry("b/u1", "u1", "second"));
  buddies.insert(BuddyEntry("b/u0", "u0", ""));
  ASSERT_EQ(2u, buddies.size());
  EXPECT_EQ("u0", buddies.begin()->name());
  EXPECT_EQ("first", buddies.rbegin()->displayName());
  EXPECT_TRUE(TreeNodeNameEqual()(group, TreeNode("x", "dev", "")));
}

}  // namespace

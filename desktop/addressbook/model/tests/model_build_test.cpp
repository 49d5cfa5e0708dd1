// The model build of the contact-list agent on hand-made buddy trees, the agent's job list and
// refused posts, and the client's listener list.
#include "AddressBookTestSupport.h"

#include <ace/Message_Queue.h>
#include <ace/Time_Value.h>

#include "addressbook/ContactDb.h"
#include "jobs/LongTimeTask.h"
#include "log/IM_LogManager.h"

#include <set>

using namespace abtest;

namespace {

// Records what an agent hands over.
class ModelCatcher : public IContactListListener {
 public:
  void OnUpdate(const std::vector<Sptr<INode>>& roots, std::map<std::string, Sptr<INode>> g,
                std::map<std::string, Sptr<INode>> c, int s) override {
    ++calls;
    // A model the catcher drops for good is unlinked, or its group-contact cycles leak.
    std::set<INode*> kept;
    for (const Sptr<INode>& n : roots) kept.insert(n.get());
    for (const auto& e : g) kept.insert(e.second.get());
    for (const auto& e : c) kept.insert(e.second.get());
    bool shared = false;
    for (const Sptr<INode>& n : rootGroups) shared = shared || kept.count(n.get()) != 0;
    for (const auto& e : groups) shared = shared || kept.count(e.second.get()) != 0;
    for (const auto& e : contacts) shared = shared || kept.count(e.second.get()) != 0;
    if (!shared) breakModelLinks(rootGroups, groups, contacts);
    rootGroups = roots;
    groups = g;
    contacts = c;
    status = s;
  }
  ~ModelCatcher() override { breakModelLinks(rootGroups, groups, contacts); }

  int calls = 0;
  int status = -100;
  std::vector<Sptr<INode>> rootGroups;
  std::map<std::string, Sptr<INode>> groups;
  std::map<std::string, Sptr<INode>> contacts;
};

TreeNode listNode(const std::string& selector, const std::string& display) {
  std::string name, parent;
  splitPath(selector, name, parent);
  return TreeNode(selector, name, display);
}

TreeNode buddy(const std::string& selector, const std::string& display,
               const std::string& nick = std::string()) {
  std::string name, parent;
  splitPath(selector, name, parent);
  BuddyEntry entry(selector, name, display);
  entry.nickName(nick);
  return entry;
}

class ModelBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, LocalDb::instance()->open(user_));
    ASSERT_TRUE(ContactDb::instance()->init(user_));
    agent_ = Sptr<ContactListAgent>(new ContactListAgent);
    agent_->addListener(&catcher_);
    groupsBefore_ = Group::liveCount();
    contactsBefore_ = Contact::liveCount();
  }

  int rows() {
    CppSQLite3Query q;
    if (!LocalDb::instance()->execQuery("select count(*) from xcapContactsInfo", q)) return -1;
    return q.intField(q.fieldName(0));
  }

  std::vector<std::string> childPaths(const Sptr<INode>& group) {
    std::vector<Sptr<INode>> out;
    asGroup(group)->getGroups(out);
    std::vector<std::string> paths;
    for (const Sptr<INode>& n : out) paths.push_back(n->getPath());
    return paths;
  }

  TempHome home_;
  std::string user_ = "han.meimei@corp.example";
  ModelCatcher catcher_;
  Sptr<ContactListAgent> agent_;
  int groupsBefore_ = 0;
  int contactsBefore_ = 0;
};

TEST_F(ModelBuildTest, OddTreesBuildAsTheSelectorsSay) {
  tree<TreeNode> t;
  // A contact met before its unit: linked at the end, its row written in the last batch.
  t.insert(t.end(), buddy("organization/late/early@corp.example", "Early"));
  tree<TreeNode>::pre_order_iterator org = t.insert(t.end(), listNode("organization", "公司"));
  tree<TreeNode>::pre_order_iterator first = t.append_child(org, listNode("organization/rd", "研发一"));
  t.append_child(first, buddy("organization/rd/a@corp.example", "A"));
  // Two units of one path: both stay in the tree of groups; later children use the second.
  tree<TreeNode>::pre_order_iterator second = t.append_child(org, listNode("organization/rd", "研发二"));
  t.append_child(second, buddy("organization/rd/b@corp.example", "B"));
  t.append_child(org, listNode("organization/late", "Late"));
  // A unit named like a personal list, inside the organization: classified by its beginning.
  tree<TreeNode>::pre_order_iterator g = t.append_child(org, listNode("organization/groups", "Groups unit"));
  t.append_child(g, buddy("organization/groups/c@corp.example", "C"));
  // A user id holding "/": its parent path names no unit.
  t.append_child(org, buddy("organization/x/y@corp.example", "Slash"));
  tree<TreeNode>::pre_order_iterator mine = t.insert(t.end(), listNode("mybuddys", "我的好友"));
  tree<TreeNode>::pre_order_iterator fake = t.append_child(mine, listNode("mybuddys/organization", "no"));
  t.append_child(fake, buddy("mybuddys/organization/k@corp.example", "K"));
  tree<TreeNode>::pre_order_iterator grp = t.insert(t.end(), listNode("groups", "群组"));
  t.append_child(grp, buddy("groups/a@corp.example", "A again"));

  IM_LogCapture log;
  agent_->OnUpdate(t, 0);
  ASSERT_EQ(1, catcher_.calls);
  EXPECT_EQ(0, catcher_.status);
  ASSERT_EQ(1u, catcher_.rootGroups.size());
  Sptr<INode> root = catcher_.rootGroups[0];
  EXPECT_EQ((std::vector<std::string>{"organization/rd", "organization/rd", "organization/late",
                                      "organization/groups"}),
            childPaths(root));
  EXPECT_EQ("研发二", catcher_.groups["organization/rd"]->getDisplayName());
  EXPECT_EQ(4u, catcher_.groups.size());
  EXPECT_EQ(5u, catcher_.contacts.size());  // early, a, b, c, the slash one
  EXPECT_FALSE(catcher_.contacts.count("k@corp.example"));

  std::vector<Sptr<INode>> parents;
  asContact(catcher_.contacts["early@corp.example"])->getParents(parents);
  ASSERT_EQ(1u, parents.size());
  EXPECT_EQ("organization/late", parents[0]->getPath());
  asContact(catcher_.contacts["y@corp.example"])->getParents(parents);
  EXPECT_TRUE(parents.empty());
  EXPECT_TRUE(log.contains("NOT FOUND contact's parent GROUP !"));
  asContact(catcher_.contacts["a@corp.example"])->getParents(parents);
  ASSERT_EQ(1u, parents.size());
  EXPECT_EQ("研发一", parents[0]->getDisplayName());
  EXPECT_EQ(4, rows());  // every contact with a unit: early, a, b, c
}

TEST_F(ModelBuildTest, WithoutTheOrganizationTheModelIsEmptyAndTheTableEmptied) {
  CppSQLite3Command old = ContactDb::instance()->insertContact(
      Sptr<INode>(new Contact("o@corp.example", 2, "Old", "", "organization/u/o@corp.example")),
      Sptr<INode>(new Group("organization/u", "U", Sptr<INode>(), 3)));
  std::vector<CppSQLite3Command> batch(1, old);
  ContactDb::instance()->flush(batch);
  ASSERT_EQ(1, rows());
  tree<TreeNode> t;
  t.insert(t.end(), listNode("mybuddys", "我的好友"));
  t.insert(t.end(), listNode("groups", "群组"));
  agent_->OnUpdate(t, 0);
  EXPECT_EQ(1, catcher_.calls);
  EXPECT_EQ(0, catcher_.status);
  EXPECT_TRUE(catcher_.rootGroups.empty());
  EXPECT_TRUE(catcher_.contacts.empty());
  EXPECT_EQ(0, rows());
}

TEST_F(ModelBuildTest, ManyContactsAreWrittenInBatches) {
  tree<TreeNode> t;
  tree<TreeNode>::pre_order_iterator org = t.insert(t.end(), listNode("organization", "公司"));
  tree<TreeNode>::pre_order_iterator unit = t.append_child(org, listNode("organization/u", "U"));
  for (int i = 0; i < 120; ++i)
    t.append_child(unit, buddy("organization/u/p" + std::to_string(i) + "@corp.example", "P"));
  agent_->OnUpdate(t, 0);
  EXPECT_EQ(120u, catcher_.contacts.size());
  EXPECT_EQ(120, rows());
}

TEST_F(ModelBuildTest, AStoppedBuildDeletesNothingTellsNobodyAndLeaksNothing) {
  tree<TreeNode> t;
  tree<TreeNode>::pre_order_iterator org = t.insert(t.end(), listNode("organization", "公司"));
  t.append_child(org, buddy("organization/a@corp.example", "A"));
  agent_->OnUpdate(t, 0);
  ASSERT_EQ(1, rows());
  agent_->stop();
  agent_->OnUpdate(t, 0);
  EXPECT_EQ(1, catcher_.calls);
  EXPECT_EQ(1, rows());
  // A failed fetch passes its status with an empty model.
  agent_->OnUpdate(t, 5);
  EXPECT_EQ(2, catcher_.calls);
  EXPECT_EQ(5, catcher_.status);
  EXPECT_TRUE(catcher_.rootGroups.empty());
  // Without listeners nobody keeps the model: the build breaks its cycles itself.
  agent_->removeListener(&catcher_);
  EXPECT_EQ(0, agent_->update(0));  // clears the stop flag (the job itself fetches nothing)
  int groups = Group::liveCount();
  int contacts = Contact::liveCount();
  agent_->OnUpdate(t, 0);
  EXPECT_EQ(2, catcher_.calls);
  EXPECT_EQ(1, rows());  // refilled
  EXPECT_EQ(groups, Group::liveCount());
  EXPECT_EQ(contacts, Contact::liveCount());
}

TEST_F(ModelBuildTest, JobListAndARefusedPost) {
  EXPECT_FALSE(agent_->removeJobId(""));
  EXPECT_FALSE(agent_->removeJobId("nope"));
  agent_->addJobId("");
  agent_->addJobId("j1");
  agent_->addJobId("j1");
  std::vector<std::string> ids;
  agent_->copyJobIds(ids);
  EXPECT_EQ((std::vector<std::string>{"j1", "j1"}), ids);
  EXPECT_TRUE(agent_->removeJobId("j1"));
  agent_->cancelAllJobs(0);
  agent_->copyJobIds(ids);
  EXPECT_EQ(std::vector<std::string>{"j1"}, ids);
  EXPECT_TRUE(agent_->removeJobId("j1"));

  // The runner's queue refuses the job: 1, nothing listed, the stop flag unchanged.
  agent_->stop();
  LongTimeTask::instance()->msg_queue()->deactivate();
  IM_LogCapture log;
  EXPECT_EQ(1, agent_->update(3));
  LongTimeTask::instance()->msg_queue()->activate();
  EXPECT_TRUE(log.contains("postJob is failed !"));
  agent_->copyJobIds(ids);
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(agent_->isStopped());
  EXPECT_EQ(1, agent_->dealJob(0));
  EXPECT_TRUE(log.contains("Post a NULL command!"));
}

// The client's own listener list: a listener added twice is called twice and removed whole.
TEST(AddressBookClientListeners, TwiceAddedOnceRemoved) {
  AddressBookClient* client = AddressBookClient::instance();
  EXPECT_FALSE(client->findContact("nobody@corp.example"));
  Recorder r;
  client->addListener(&r);
  client->addListener(&r);
  client->OnUpdate(std::vector<Sptr<INode>>(), {}, {}, 8);
  EXPECT_EQ((std::vector<int>{8, 8}), r.statuses());
  EXPECT_EQ(AddressBookClient::STATE_IDLE, client->getState());
  client->removeListener(&r);
  client->OnUpdate(std::vector<Sptr<INode>>(), {}, {}, 1);
  EXPECT_EQ(2u, r.count());
}

}  // namespace

// The address book end to end over the fake single sign-on and XCAP servers on loopback: a fetch
// on the job runner builds the model and refills the contact table, listeners hear the status,
// failures map to job statuses, a running fetch is neither doubled nor left behind by clear, and
// update racing clear neither deadlocks nor leaks the model.
#include "AddressBookTestSupport.h"

#include <ace/Time_Value.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "addressbook/ContactDb.h"
#include "addressbook/ContactListJob.h"
#include "corvane/AppUsage.h"
#include "corvane/ResourceListsAppUsage.h"
#include "corvane/XcapClient.h"
#include "http/HTTPResponse.h"
#include "jobs/LongTimeTask.h"
#include "sso/SsoClient.h"
#include "testing/FakeSsoServer.h"
#include "testing/FakeXcapServer.h"
#include "util/Config.h"

using namespace abtest;
using pwtest::FakeSsoServer;
using pwtest::FakeXcapServer;
using pwtest::HttpReply;

namespace {

const char kPassword[] = "secret";

// All texts UTF-8, as the server sends them.
const std::string kDocument = u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization">
    <display-name>示例公司</display-name>
    <list name="rd">
      <display-name>研发部</display-name>
      <entry uri="bob@corp.example"><display-name>Bob Lee</display-name><nickname>bobby</nickname></entry>
      <entry uri="carol@corp.example"><display-name>carol</display-name></entry>
      <list name="qa">
        <display-name>测试组</display-name>
        <entry uri="dave@corp.example"><nickname>dd</nickname></entry>
        <entry uri="bob@corp.example"><display-name>Bob Lee</display-name></entry>
      </list>
    </list>
    <list name="sales">
      <display-name>销售部</display-name>
      <entry uri="frank@corp.example"><display-name>Frank O'Neil</display-name></entry>
      <entry uri="gina@partner.example"><display-name>Gina &lt;Partner&gt;</display-name></entry>
      <entry uri="zhangwei@corp.example"><display-name>张伟</display-name><nickname>老张</nickname></entry>
      <entry uri="pct@corp.example"><display-name>满分100%</display-name></entry>
    </list>
    <entry uri="erin@corp.example"/>
    <entry uri="henry@corp.example"><display-name>Henry</display-name></entry>
  </list>
  <list name="mybuddys">
    <display-name>我的好友</display-name>
    <entry uri="jack@corp.example"><display-name>Jack</display-name></entry>
    <list name="organization"><display-name>not the org</display-name>
      <entry uri="kate@corp.example"><display-name>Kate</display-name></entry>
    </list>
  </list>
  <list name="groups">
    <display-name>群组</display-name>
    <list name="g1"><display-name>G1</display-name><entry uri="bob@corp.example"/></list>
  </list>
</resource-lists>
)";

std::string freshUser(const std::string& stem) {
  static std::atomic<int> serial(0);
  return stem + std::to_string(++serial) + "@corp.example";
}

std::vector<std::string> paths(const std::vector<Sptr<INode>>& nodes) {
  std::vector<std::string> out;
  for (const Sptr<INode>& n : nodes) out.push_back(n->getPath());
  return out;
}

class AddressBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sso_.isListening());
    ASSERT_TRUE(xcap_.isListening());
    xcap_.requireSso(true);
    Config* config = Config::instance();
    config->setValue("XCAP", "recvTimeout", "2");
    config->setValue("XCAP", "sendTimeout", "2");
    config->setValue("SSO", "httpTimeout", "2");
    config->setValue("SSO", "server", sso_.hostPort());
    config->setValue("XCAP", "server", xcap_.hostPort());
    user_ = freshUser("reader");
    sso_.addUser(user_, kPassword);
    xcap_.putDocument(docPath(), kDocument);
    ASSERT_EQ(0, LocalDb::instance()->open(user_));
    ASSERT_EQ(0, LongTimeTask::instance()->open());
    groupsBefore_ = Group::liveCount();
    contactsBefore_ = Contact::liveCount();
    client()->addListener(&recorder_);
    client()->init(user_, kPassword);
  }

  void TearDown() override {
    client()->clear();
    client()->stopAgent();
    client()->removeListener(&recorder_);
    ACE_Time_Value limit(10);
    EXPECT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
    SsoClient::destroy();
    Config* config = Config::instance();
    for (const char* key : {"recvTimeout", "sendTimeout", "server"}) config->removeValue("XCAP", key);
    for (const char* key : {"httpTimeout", "server"}) config->removeValue("SSO", key);
  }

  static AddressBookClient* client() { return AddressBookClient::instance(); }

  std::string docPath() const { return "resource-lists/myusers/" + user_ + "/buddys"; }
  std::string fullPath() const { return std::string(FakeXcapServer::ROOT) + "/" + docPath(); }
  size_t gets() const { return xcap_.countRequests("GET", fullPath()); }

  // Ends every job of the runner (running ones first) and starts it again.
  void drainJobs() {
    ACE_Time_Value limit(10);
    EXPECT_EQ(0, LongTimeTask::instance()->shutdown(&limit));
    EXPECT_EQ(0, LongTimeTask::instance()->open());
  }

  // Starts a fetch and waits for its notification; returns its status.
  int fetch() {
    size_t before = recorder_.count();
    EXPECT_EQ(0, client()->update());
    EXPECT_TRUE(recorder_.waitFor(before + 1));
    std::vector<int> s = recorder_.statuses();
    return s.size() > before ? s[before] : -100;
  }

  int rows() {
    CppSQLite3Query q;
    if (!LocalDb::instance()->execQuery("select count(*) from xcapContactsInfo", q) || q.eof())
      return -1;
    return q.intField(q.fieldName(0));
  }

  std::vector<std::string> search(const std::string& keyword) {
    std::vector<Sptr<INode>> hits;
    ContactDb::instance()->search(keyword, hits);
    return paths(hits);
  }

  void expectNoModel() {
    EXPECT_TRUE(client()->getRootGroups().empty());
    EXPECT_FALSE(client()->findContact("bob@corp.example"));
  }

  // Once the jobs have ended (a build drops its own copies only when its notification returns).
  void expectModelFreed() {
    drainJobs();
    EXPECT_EQ(groupsBefore_, Group::liveCount());
    EXPECT_EQ(contactsBefore_, Contact::liveCount());
  }

  FakeSsoServer sso_;
  FakeXcapServer xcap_{&sso_};
  TempHome home_;
  Recorder recorder_;
  std::string user_;
  int groupsBefore_ = 0;
  int contactsBefore_ = 0;
};

TEST_F(AddressBookTest, FetchBuildsTheOrganizationsGroupsAndContactsAndFillsTheTable) {
  EXPECT_TRUE(client()->getRootGroups().empty());
  EXPECT_FALSE(client()->getAgent());
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(std::vector<size_t>{1}, recorder_.rootCounts());
  EXPECT_EQ(AddressBookClient::STATE_UPDATED, client()->getState());
  EXPECT_EQ(1u, gets());

  std::vector<Sptr<INode>> roots;
  std::map<std::string, Sptr<INode>> groups, contacts;
  client()->getModel(roots, groups, contacts);
  ASSERT_EQ(1u, roots.size());
  Sptr<INode> org = roots[0];
  EXPECT_EQ("organization", org->getPath());
  EXPECT_EQ("", org->getParentPath());
  EXPECT_EQ("示例公司", org->getDisplayName());  // GBK, as the program's narrow text
  EXPECT_EQ(3, org->getType());
  EXPECT_FALSE(asGroup(org)->getParent());

  // Units in document order, the free buddies last; personal and "groups" lists left out.
  std::vector<Sptr<INode>> units;
  asGroup(org)->getGroups(units);
  EXPECT_EQ((std::vector<std::string>{"organization/rd", "organization/sales",
                                      "organization/freebuddys"}),
            paths(units));
  ASSERT_EQ(3u, units.size());
  EXPECT_EQ("研发部", units[0]->getDisplayName());
  EXPECT_EQ("未分配组", units[2]->getDisplayName());
  EXPECT_EQ(org.get(), asGroup(units[0])->getParent().get());
  EXPECT_EQ((std::set<std::string>{"organization", "organization/rd", "organization/rd/qa",
                                   "organization/sales", "organization/freebuddys"}),
            [&] {
              std::set<std::string> keys;
              for (const auto& g : groups) keys.insert(g.first);
              return keys;
            }());

  std::vector<Sptr<INode>> members;
  asGroup(groups["organization/rd/qa"])->getContacts(members);
  EXPECT_EQ((std::vector<std::string>{"organization/rd/qa/dave@corp.example",  // "" first
                                      "organization/rd/qa/bob@corp.example"}),
            paths(members));
  asGroup(groups["organization/sales"])->getContacts(members);
  EXPECT_EQ((std::vector<std::string>{"organization/sales/frank@corp.example",
                                      "organization/sales/gina@partner.example",
                                      "organization/sales/pct@corp.example",
                                      "organization/sales/zhangwei@corp.example"}),
            paths(members));
  ASSERT_EQ(4u, members.size());
  EXPECT_EQ("张伟", members[3]->getDisplayName());
  EXPECT_EQ("老张", asContact(members[3])->getNickName());
  EXPECT_EQ("zhangwei@corp.example", asContact(members[3])->getName());
  EXPECT_EQ(2, members[3]->getType());

  // Contacts by user id: a user under two units is filed once (the later one), linked twice.
  EXPECT_EQ(9u, contacts.size());
  EXPECT_FALSE(client()->findContact("jack@corp.example"));
  EXPECT_FALSE(client()->findContact("kate@corp.example"));
  Sptr<INode> bob = client()->findContact("bob@corp.example");
  ASSERT_TRUE(bob);
  EXPECT_EQ("organization/rd/qa/bob@corp.example", bob->getPath());
  std::vector<Sptr<INode>> parents;
  asContact(bob)->getParents(parents);
  EXPECT_EQ(std::vector<std::string>{"organization/rd/qa"}, paths(parents));

  // One row per contact path.
  EXPECT_EQ(10, rows());
  EXPECT_EQ(std::vector<std::string>{"organization/sales/zhangwei@corp.example"}, search("张"));
  EXPECT_EQ(std::vector<std::string>{"organization/rd/qa/bob@corp.example"}, search("bob"));
  EXPECT_EQ(std::vector<std::string>{"organization/sales/frank@corp.example"}, search("O'Neil"));
  EXPECT_EQ(std::vector<std::string>{"organization/sales/pct@corp.example"}, search("100%"));
  EXPECT_TRUE(search("'); delete from xcapContactsInfo; --").empty());
  EXPECT_EQ(10, rows());
}

TEST_F(AddressBookTest, ClearDropsTheModelKeepsTheIdleAgentAndFreesEveryNode) {
  ASSERT_EQ(0, fetch());
  Sptr<ContactListAgent> agent = client()->getAgent();
  ASSERT_TRUE(agent);
  EXPECT_GT(Group::liveCount(), groupsBefore_);
  client()->clear();
  expectNoModel();
  EXPECT_EQ(agent.get(), client()->getAgent().get());  // a finished fetch keeps the agent
  expectModelFreed();

  // The next update reuses that agent and refills the table.
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(agent.get(), client()->getAgent().get());
  EXPECT_TRUE(client()->findContact("bob@corp.example"));
  EXPECT_EQ(10, rows());
  EXPECT_EQ(2u, gets());
  agent.reset();
  client()->clear();
  expectModelFreed();
}

TEST_F(AddressBookTest, ASecondFetchRetiresTheFirstModelWholeUntilClear) {
  ASSERT_EQ(0, fetch());
  std::vector<Sptr<INode>> firstRoots = client()->getRootGroups();
  ASSERT_EQ(0, fetch());
  ASSERT_NE(firstRoots[0].get(), client()->getRootGroups()[0].get());
  // A reader of the first model (the picker) still finds it linked.
  std::vector<Sptr<INode>> units;
  asGroup(firstRoots[0])->getGroups(units);
  EXPECT_EQ(3u, units.size());
  client()->clear();
  asGroup(firstRoots[0])->getGroups(units);
  EXPECT_TRUE(units.empty());
  firstRoots.clear();
  expectModelFreed();
}

// A replaced model lives only while someone outside it holds one of its nodes: five fetches
// keep one model alive, a held contact keeps its whole model linked, and the model goes at the
// first install after the holder lets go.
TEST_F(AddressBookTest, AReplacedModelIsReleasedOnceNothingHoldsIt) {
  ASSERT_EQ(0, fetch());
  drainJobs();
  const int contacts = Contact::liveCount() - contactsBefore_;
  const int groups = Group::liveCount() - groupsBefore_;
  ASSERT_GT(contacts, 0);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(0, fetch());
  drainJobs();
  EXPECT_EQ(0u, client()->retiredModelCount());
  EXPECT_EQ(contacts, Contact::liveCount() - contactsBefore_);
  EXPECT_EQ(groups, Group::liveCount() - groupsBefore_);

  Sptr<INode> held = client()->findContact("bob@corp.example");
  ASSERT_TRUE(held);
  ASSERT_EQ(0, fetch());
  drainJobs();
  EXPECT_EQ(1u, client()->retiredModelCount());
  EXPECT_EQ(2 * contacts, Contact::liveCount() - contactsBefore_);
  std::vector<Sptr<INode>> parents;
  asContact(held)->getParents(parents);
  ASSERT_FALSE(parents.empty()) << "the held model stays linked";
  std::vector<Sptr<INode>> members;
  asGroup(parents[0])->getContacts(members);
  EXPECT_FALSE(members.empty());
  parents.clear();
  members.clear();
  ASSERT_EQ(0, fetch());  // the held model stays; the one replaced now, held by nobody, goes
  drainJobs();
  EXPECT_EQ(1u, client()->retiredModelCount());
  EXPECT_EQ(2 * contacts, Contact::liveCount() - contactsBefore_);
  held.reset();
  ASSERT_EQ(0, fetch());
  drainJobs();
  EXPECT_EQ(0u, client()->retiredModelCount());
  EXPECT_EQ(contacts, Contact::liveCount() - contactsBefore_);
  EXPECT_EQ(groups, Group::liveCount() - groupsBefore_);
  client()->clear();
  expectModelFreed();
}

TEST_F(AddressBookTest, FailuresMapToJobStatusesAndKeepTheInstalledModel) {
  ASSERT_EQ(0, fetch());
  std::vector<Sptr<INode>> roots = client()->getRootGroups();
  // 12,500 nested lists (about 275 KB): refused by the parser's depth bound, on the job thread.
  std::string deep = "<resource-lists xmlns='urn:ietf:params:xml:ns:resource-lists'>";
  for (int i = 0; i < 12500; ++i) deep += "<list name='a'>";
  for (int i = 0; i < 12500; ++i) deep += "</list>";
  deep += "</resource-lists>";
  struct {
    const char* what;
    HttpReply reply;
  } cases[] = {
      {"12,500 nested lists", HttpReply(200, deep, "application/resource-lists+xml")},
      {"404", HttpReply(404)},
      {"500", HttpReply(500, "oops")},
      {"not XML", HttpReply(200, "garbage", "application/resource-lists+xml")},
      {"304", HttpReply(304)},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    xcap_.script(fullPath(), c.reply);
    EXPECT_EQ(1, fetch());
    EXPECT_EQ(AddressBookClient::STATE_IDLE, client()->getState());
    ASSERT_EQ(1u, client()->getRootGroups().size());
    EXPECT_EQ(roots[0].get(), client()->getRootGroups()[0].get());
    EXPECT_TRUE(client()->findContact("bob@corp.example"));
    EXPECT_EQ(10, rows());  // the table is left as it was
  }
  HttpReply dropped;
  dropped.drop = true;
  xcap_.script(fullPath(), dropped);
  EXPECT_EQ(1, fetch());
  // No server configured: no client can be made.
  Config::instance()->setValue("XCAP", "server", "");
  EXPECT_EQ(1, fetch());
  Config::instance()->setValue("XCAP", "server", xcap_.hostPort());
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(AddressBookClient::STATE_UPDATED, client()->getState());
}

// The table refuses the rows of a later fetch (the file takes no more writes): the fetch ends
// with status 1, yet its book is installed, with a state of its own (a book to show, not
// stored). The table keeps the rows of the book stored before, and a hit is the installed book's
// contact of that id. A fetch that fails outright still leaves no book to show, and a fetch that
// can store again is plainly updated.
TEST_F(AddressBookTest, ABookFetchedButNotStoredIsInstalledWithAStateOfItsOwn) {
  ASSERT_EQ(0, fetch());
  EXPECT_TRUE(client()->bookFetched());
  Sptr<INode> storedCarol = client()->findContact("carol@corp.example");
  ASSERT_TRUE(storedCarol);
  EXPECT_EQ(std::vector<std::string>{"organization/rd/carol@corp.example"}, search("carol"));  // index made

  xcap_.putDocument(docPath(), u8R"(<?xml version="1.0" encoding="UTF-8"?>
<resource-lists xmlns="urn:ietf:params:xml:ns:resource-lists">
  <list name="organization"><display-name>示例公司</display-name>
    <list name="rd"><display-name>研发部</display-name>
      <entry uri="carol@corp.example"><display-name>Carol Wu</display-name></entry>
      <entry uri="ivan@corp.example"><display-name>Ivan</display-name></entry>
    </list>
  </list>
</resource-lists>
)");
  ASSERT_TRUE(LocalDb::instance()->execDML("PRAGMA query_only=1;"));
  EXPECT_EQ(1, fetch());
  EXPECT_EQ(AddressBookClient::STATE_NOT_STORED, client()->getState());
  EXPECT_TRUE(client()->bookFetched());
  EXPECT_EQ(1u, recorder_.rootCounts().back());
  EXPECT_TRUE(client()->findContact("ivan@corp.example"));
  EXPECT_FALSE(client()->findContact("bob@corp.example"));
  EXPECT_EQ(10, rows());  // the rows stored before
  std::vector<Sptr<INode>> hits;
  ContactDb::instance()->search("carol", hits);
  ASSERT_EQ(1u, hits.size());
  EXPECT_EQ(hits[0].get(), client()->findContact("carol@corp.example").get());
  EXPECT_NE(hits[0].get(), storedCarol.get());
  EXPECT_EQ("Carol Wu", hits[0]->getDisplayName());
  EXPECT_TRUE(search("bob").empty());   // stored, but no longer in the book
  EXPECT_TRUE(search("ivan").empty());  // in the book, never stored

  xcap_.script(fullPath(), HttpReply(500, "oops"));
  EXPECT_EQ(1, fetch());
  EXPECT_EQ(AddressBookClient::STATE_IDLE, client()->getState());
  EXPECT_FALSE(client()->bookFetched());
  EXPECT_TRUE(client()->findContact("ivan@corp.example"));  // the installed model stays

  ASSERT_TRUE(LocalDb::instance()->execDML("PRAGMA query_only=0;"));
  EXPECT_EQ(0, fetch());
  EXPECT_EQ(AddressBookClient::STATE_UPDATED, client()->getState());
  EXPECT_EQ(2, rows());
  EXPECT_EQ(std::vector<std::string>{"organization/rd/ivan@corp.example"}, search("ivan"));
}

TEST_F(AddressBookTest, JobStatusTable) {
  CL_UpdateJob job;
  const int expected[] = {0, 0, 1, 1, 8, 5, 1, 1, 1, 1, 1, 1, 1};
  for (int r = 0; r <= 12; ++r) EXPECT_EQ(expected[r], job.mapXcapResult(r)) << r;
  EXPECT_EQ(11, job.mapXcapResult(13));
  EXPECT_EQ(11, job.mapXcapResult(-1));
  EXPECT_EQ(11, job.getStatus());
  EXPECT_EQ(1, job.getJobType());
  EXPECT_EQ(3, job.getUpdateFlag());
  EXPECT_EQ(DOWNLOAD_STREAMED, job.xcapDownloadMode());
  // A bad address makes no client.
  job.xcapAddress("no-port");
  job.getAppUsageFactory();
  EXPECT_FALSE(job.getXcapClient());
}

// Records the status and ETag each notification of a job shows.
class JobWatcher : public LongTimeJobObserver {
 public:
  void onNotify(LongTimeJob* job) override {
    CL_UpdateJob* update = dynamic_cast<CL_UpdateJob*>(job);
    std::lock_guard<std::mutex> lock(mutex_);
    statuses.push_back(update ? update->getStatus() : -100);
    etags.push_back(update ? update->getEtag() : "");
    nodes.push_back(update ? update->getBuddyTree().size() : 0);
    cv_.notify_all();
  }
  bool waitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return statuses.size() >= n; });
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int> statuses;  // guarded by mutex_
  std::vector<std::string> etags;
  std::vector<size_t> nodes;
};

CL_UpdateJob* newJob(const std::string& user, const std::string& address, Sptr<JobWatcher> w) {
  CL_UpdateJob* job = new CL_UpdateJob;
  job->codingFormat = CODING_GB2312;
  job->xcapUserID(user);
  job->xcapPassword(kPassword);
  job->xcapAddress(address);
  job->xcapAuthenticateMode(AUTH_SSO);
  job->addObserver(Sptr<LongTimeJobObserver>(w));
  return job;
}

TEST_F(AddressBookTest, JobsOnTheRunner) {
  SsoClient::instance()->setServer(sso_.hostPort());  // what the agent does before each post
  // A fetch: status 0, the document's ETag, the tree.
  Sptr<JobWatcher> fetched(new JobWatcher);
  ASSERT_EQ(0, LongTimeTask::instance()->postJob(newJob(user_, xcap_.hostPort(), fetched)));
  ASSERT_TRUE(fetched->waitFor(1));
  EXPECT_EQ(0, fetched->statuses[0]);
  EXPECT_EQ(xcap_.etagOf(docPath()), fetched->etags[0]);
  EXPECT_EQ(22u, fetched->nodes[0]);  // every node of the document, personal lists too

  // Bit 0 clear: nothing fetched, status 11, notified once.
  Sptr<JobWatcher> idle(new JobWatcher);
  CL_UpdateJob* job = newJob(user_, xcap_.hostPort(), idle);
  job->setUpdateFlag(2);
  ASSERT_EQ(0, LongTimeTask::instance()->postJob(job));
  ASSERT_TRUE(idle->waitFor(1));
  EXPECT_EQ(11, idle->statuses[0]);
  EXPECT_EQ("", idle->etags[0]);
  EXPECT_EQ(0u, idle->nodes[0]);

  // Cancelled before the runner reaches it: never executed, status 2 seen once.
  Sptr<JobWatcher> cancelled(new JobWatcher);
  job = newJob(user_, xcap_.hostPort(), cancelled);
  job->cancel();
  ASSERT_EQ(0, LongTimeTask::instance()->postJob(job));
  drainJobs();
  EXPECT_EQ(std::vector<int>{2}, cancelled->statuses);
  EXPECT_EQ(1u, gets());
  EXPECT_EQ(1u, idle->statuses.size());
  EXPECT_EQ(1u, fetched->statuses.size());

  // A second getAppUsageFactory keeps the job's client.
  CL_UpdateJob own;
  own.xcapUserID(user_);
  own.xcapAddress(xcap_.hostPort());
  ASSERT_TRUE(own.getAppUsageFactory() != 0);
  Sptr<IXcapClient> client = own.getXcapClient();
  ASSERT_TRUE(client);
  own.getAppUsageFactory();
  EXPECT_EQ(client.get(), own.getXcapClient().get());

  // Cancelled once its client exists but before its request: the request never goes out,
  // not even one that starts later; an idle client of another job is not touched.
  own.cancel();
  EXPECT_EQ(2, own.getStatus());
  HTTPResponse response;
  UserDocumentUri doc("resource-lists", "myusers/" + user_, "buddys");
  EXPECT_EQ(-1, client->getDocument(doc, response));
  EXPECT_EQ(1u, gets());
  CL_UpdateJob other;
  other.xcapUserID(user_);
  other.xcapPassword(kPassword);
  other.xcapAuthenticateMode(AUTH_SSO);
  other.xcapAddress(xcap_.hostPort());
  ASSERT_TRUE(other.getAppUsageFactory() != 0);
  other.getXcapClient()->cancel();  // nothing runs: changes nothing
  EXPECT_EQ(0, other.getXcapClient()->getDocument(doc, response));
  EXPECT_EQ(200, response.getStatus());
  EXPECT_EQ(2u, gets());
}

// The usage's ETag cache: while another holder keeps the user's usage, the second fetch is
// answered from it without a request and builds the same model again.
TEST_F(AddressBookTest, SecondFetchFromTheUsagesEtagCacheMakesNoRequest) {
  AppUsageFactory* factory = AppUsageFactory::instance();
  factory->initCodingFormat(CODING_GB2312);
  Sptr<IXcapClient> own(XcapClientFactory::instance()->createXcapClient(
      user_, xcap_.hostPort(), AUTH_SSO, DOWNLOAD_BLOCKING, kPassword));
  ResourceListsAppUsage* held = factory->getResourceLists(user_, own, false);
  ASSERT_TRUE(held != 0);
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(xcap_.etagOf(docPath()), held->etag());
  Sptr<INode> first = client()->findContact("zhangwei@corp.example");
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(1u, gets());
  Sptr<INode> second = client()->findContact("zhangwei@corp.example");
  ASSERT_TRUE(second);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->getPath(), second->getPath());
  EXPECT_EQ(10, rows());
  factory->releaseResourceLists(held);
}

TEST_F(AddressBookTest, UpdateWhileOneRunsStartsNothingAndClearStopsIt) {
  HttpReply stall;
  stall.delayMs = -1;
  xcap_.script(fullPath(), stall);
  EXPECT_EQ(0, client()->update());
  ASSERT_TRUE(xcap_.http().waitForRequests(1, 5000));
  EXPECT_EQ(AddressBookClient::STATE_UPDATING, client()->getState());
  EXPECT_EQ(0, client()->update());
  EXPECT_EQ(1u, client()->getAgent()->isStopped() ? 0u : 1u);
  std::vector<std::string> ids;
  client()->getAgent()->copyJobIds(ids);
  EXPECT_EQ(1u, ids.size());

  // Clear during the fetch: the cancelled fetch is reported on this thread before clear returns.
  client()->clear();
  EXPECT_EQ(std::vector<int>{2}, recorder_.statuses());
  EXPECT_EQ(AddressBookClient::STATE_IDLE, client()->getState());
  EXPECT_FALSE(client()->getAgent());
  expectNoModel();
  drainJobs();  // the aborted job ends: nobody is told again
  EXPECT_EQ(std::vector<int>{2}, recorder_.statuses());
  EXPECT_EQ(1u, gets());

  // A new agent serves the next update.
  ASSERT_EQ(0, fetch());
  EXPECT_TRUE(client()->findContact("bob@corp.example"));
}

TEST_F(AddressBookTest, StopAgentDuringAFetchKeepsTheModelAndTheNextUpdateMakesANewAgent) {
  ASSERT_EQ(0, fetch());
  HttpReply stall;
  stall.delayMs = -1;
  xcap_.script(fullPath(), stall);
  Sptr<ContactListAgent> first = client()->getAgent();
  size_t requests = xcap_.requestCount();
  EXPECT_EQ(0, client()->update());
  ASSERT_TRUE(xcap_.http().waitForRequests(requests + 1, 5000));
  client()->stopAgent();
  EXPECT_EQ((std::vector<int>{0, 2}), recorder_.statuses());
  EXPECT_EQ(AddressBookClient::STATE_IDLE, client()->getState());
  EXPECT_FALSE(client()->getAgent());
  EXPECT_TRUE(client()->findContact("bob@corp.example"));
  ASSERT_EQ(0, fetch());
  EXPECT_NE(first.get(), client()->getAgent().get());
}

// Logout racing the end of a fetch, a few hundred times: clear right after update, once the
// request reached the server, a little later (while the answer is parsed, built and delivered on
// the job thread), or after the notification. Nothing may deadlock, clear must always leave no
// model, and every node must be freed once the jobs have ended.
TEST_F(AddressBookTest, UpdateRacingClearNeitherDeadlocksNorLeaks) {
  const int kRounds = 400;
  int clearedWhileRunning = 0;
  for (int round = 0; round < kRounds; ++round) {
    size_t requests = xcap_.requestCount();
    size_t told = recorder_.count();
    ASSERT_EQ(0, client()->update());
    switch (round % 4) {
      case 0:
        break;
      case 1:
        xcap_.http().waitForRequests(requests + 1, 5000);
        break;
      case 2: {
        xcap_.http().waitForRequests(requests + 1, 5000);
        // A varying head start for the job thread (not a wait for anything).
        auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(round % 97 * 10);
        while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
        break;
      }
      case 3:
        recorder_.waitFor(told + 1, 5000);
        break;
    }
    if (client()->getState() == AddressBookClient::STATE_UPDATING) ++clearedWhileRunning;
    client()->clear();
    ASSERT_EQ(AddressBookClient::STATE_IDLE, client()->getState()) << round;
    ASSERT_TRUE(client()->getRootGroups().empty()) << round;
    ASSERT_FALSE(client()->findContact("bob@corp.example")) << round;
  }
  expectNoModel();
  expectModelFreed();
  std::vector<int> statuses = recorder_.statuses();
  int delivered = 0, cancelled = 0;
  for (int s : statuses) {
    EXPECT_TRUE(s == 0 || s == 2) << s;
    delivered += s == 0;
    cancelled += s == 2;
  }
  printf("%d rounds: cleared while running %d, models delivered %d, cancels reported %d\n",
         kRounds, clearedWhileRunning, delivered, cancelled);
  EXPECT_GT(clearedWhileRunning, 0);
  EXPECT_GE(delivered, kRounds / 4);
  // The address book still works afterwards.
  ASSERT_EQ(0, fetch());
  EXPECT_EQ(10, rows());
}

}  // namespace

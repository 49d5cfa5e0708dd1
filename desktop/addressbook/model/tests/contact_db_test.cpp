// The contact table: creation, rows stored as UTF-8 through bound values, and the keyword
// search mapped back to the model of the address-book client (installed by hand here).
#include "AddressBookTestSupport.h"

#include "addressbook/ContactDb.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"

using namespace abtest;

namespace {

class ContactDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, LocalDb::instance()->open(user_));
    ASSERT_TRUE(db()->init(user_));
  }
  void TearDown() override { AddressBookClient::instance()->clear(); }

  static ContactDb* db() { return ContactDb::instance(); }

  int count(const std::string& sql) {
    CppSQLite3Query q;
    if (!LocalDb::instance()->execQuery(sql, q) || q.eof()) return -1;
    return q.intField(q.fieldName(0));
  }

  // A model of one unit with the given contacts (name, display name, nick name), installed in
  // the client and written to the table.
  void install(const std::vector<std::vector<std::string>>& people) {
    std::vector<Sptr<INode>> roots;
    std::map<std::string, Sptr<INode>> groups, contacts;
    Sptr<INode> unit(new Group("organization/rd", "研发部", Sptr<INode>(), 3));
    roots.push_back(unit);
    groups["organization/rd"] = unit;
    std::vector<CppSQLite3Command> batch;
    for (const auto& p : people) {
      Sptr<INode> c(new Contact(p[0], 2, p[1], p[2], "organization/rd/" + p[0]));
      asGroup(unit)->addContact(c);
      asContact(c)->addParent(unit);
      contacts[p[0]] = c;
      batch.push_back(db()->insertContact(c, unit));
    }
    db()->flush(batch);
    AddressBookClient::instance()->setModel(roots, groups, contacts);
  }

  std::vector<std::string> search(const std::string& keyword) {
    std::vector<Sptr<INode>> hits;
    db()->search(keyword, hits);
    return namesOf(hits);
  }

  TempHome home_;
  std::string user_ = "li.lei@corp.example";
};

TEST_F(ContactDbTest, InitCreatesTheTableWithItsIndexesAndEmptiesItAgain) {
  EXPECT_EQ(1, count("select count(*) from sqlite_master where type='table' and "
                     "name='xcapContactsInfo'"));
  EXPECT_EQ(3, count("select count(*) from sqlite_master where type='index' and "
                     "name like 'XcapContactIndex%'"));
  install({{"a@corp.example", "A", ""}});
  EXPECT_EQ(1, count("select count(*) from xcapContactsInfo"));
  EXPECT_TRUE(db()->init(user_));  // a second login of the same user
  EXPECT_EQ(0, count("select count(*) from xcapContactsInfo"));
}

TEST_F(ContactDbTest, RowsHoldUtf8ValuesAndQuotesStayData) {
  install({{"frank@corp.example", "Frank O'Neil", "f'); drop table xcapContactsInfo; --"},
           {"zhangwei@corp.example", "张伟", ""}});
  CppSQLite3Query q;
  ASSERT_TRUE(LocalDb::instance()->execQuery(
      "select * from xcapContactsInfo order by contactId", q));
  ASSERT_FALSE(q.eof());
  EXPECT_EQ(user_, q.textField("userId"));
  EXPECT_EQ("Frank O'Neil", q.textField("displayName"));
  EXPECT_EQ("f'); drop table xcapContactsInfo; --", q.textField("nickName"));
  EXPECT_EQ(u8"研发部", q.textField("department"));
  EXPECT_EQ("organization/rd/frank@corp.example", q.textField("fullName"));
  q.nextRow();
  ASSERT_FALSE(q.eof());
  EXPECT_EQ(u8"张伟", q.textField("displayName"));
  EXPECT_EQ(2, count("select count(*) from xcapContactsInfo"));

  // Empty pointers give no statement.
  Sptr<INode> c(new Contact("x@corp.example", 2, "X", "", "organization/x@corp.example"));
  EXPECT_TRUE(db()->insertContact(c, Sptr<INode>()).sql.empty());
  EXPECT_TRUE(db()->insertContact(Sptr<INode>(), c).sql.empty());
}

TEST_F(ContactDbTest, SearchRules) {
  install({{"wang.fang@corp.example", "王芳", "fang"},
           {"bob@corp.example", "Bob", ""},
           {"corp.bot@corp.example", "Robot", ""},
           {"gina@partner.example", "Gina", ""},
           {"ann@partner.example", "Partner Ann", ""},
           {"pct@corp.example", "满分100%", ""},
           {"under_score@corp.example", "Under", "o'brien"},
           {"ghost@corp.example", "Ghost", ""}});
  // A row whose contact the model does not have adds nothing.
  std::vector<Sptr<INode>> roots;
  std::map<std::string, Sptr<INode>> groups, contacts;
  AddressBookClient::instance()->getModel(roots, groups, contacts);
  contacts.erase("ghost@corp.example");
  AddressBookClient::instance()->setModel(roots, groups, contacts);

  struct {
    const char* keyword;
    std::vector<std::string> hits;  // in the query's order (display name, UTF-8 bytes)
  } cases[] = {
      {"王", {"wang.fang@corp.example"}},             // display name
      {"FANG", {"wang.fang@corp.example"}},           // nick name and id, ASCII case ignored
      {"bob", {"bob@corp.example"}},                  // local part of an own-domain id
      {"corp", {"corp.bot@corp.example"}},            // the own domain itself never matches
      {"gina", {"gina@partner.example"}},             // another domain: by display name only
      {"partner", {"ann@partner.example"}},           // ... never through its id
      {"gina@partner", {"gina@partner.example"}},     // with "@": the id just contains it
      {"o'brien", {"under_score@corp.example"}},      // a quote is a plain character
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    EXPECT_EQ(c.hits, search(c.keyword));
  }
  // Every row of the user for an empty keyword, by the display name's UTF-8 bytes ("满" E6 BB
  // before "王" E7 8E); hits are appended.
  std::vector<Sptr<INode>> hits;
  hits.push_back(Sptr<INode>());
  db()->search("", hits);
  ASSERT_EQ(8u, hits.size());
  EXPECT_FALSE(hits[0]);
  hits.erase(hits.begin());
  EXPECT_EQ((std::vector<std::string>{"bob@corp.example", "gina@partner.example",
                                      "ann@partner.example", "corp.bot@corp.example",
                                      "under_score@corp.example", "pct@corp.example",
                                      "wang.fang@corp.example"}),
            namesOf(hits));
  EXPECT_EQ(8, count("select count(*) from xcapContactsInfo"));
}

// The hits and their order are those of the grouped statement over the table: one per contact
// id, by display name (UTF-8 bytes), equal names by contact id; a contact in two units once.
TEST_F(ContactDbTest, HitsAreOnePerContactInDisplayNameThenIdOrder) {
  install({{"lee.c@corp.example", "Lee", "x"},
           {"lee.a@corp.example", "Lee", "x"},
           {"lee.b@corp.example", "Lee", ""},
           {"zed@corp.example", "zed", "x"},
           {"Zed@corp.example", "Zed", ""},
           {"amy@corp.example", "amy", "lee"},
           {"chen@corp.example", "陈", ""},
           {"an@corp.example", "安", "lee"}});
  // lee.b also in a second unit: a second row.
  std::vector<Sptr<INode>> roots;
  std::map<std::string, Sptr<INode>> groups, contacts;
  AddressBookClient::instance()->getModel(roots, groups, contacts);
  Sptr<INode> qa(new Group("organization/qa", "测试部", Sptr<INode>(), 3));
  Sptr<INode> again(new Contact("lee.b@corp.example", 2, "Lee", "", "organization/qa/lee.b@corp.example"));
  std::vector<CppSQLite3Command> batch{db()->insertContact(again, qa)};
  db()->flush(batch);
  ASSERT_EQ(9, count("select count(*) from xcapContactsInfo"));
  for (const char* keyword : {"", "lee", "e", "z", "x", "陈"}) {
    SCOPED_TRACE(keyword);
    CppSQLite3Query q;
    std::string contains = CodingTransform::gb2312_to_utf8(std::string("%") + keyword + "%");
    ASSERT_TRUE(LocalDb::instance()->execQuery(
        "select contactId from xcapContactsInfo where userId = ? and (displayName like ? or nickName like ? "
        "or contactId like ?) group by contactId order by displayName asc;",
        CppSQLite3Params{CppSQLite3Param(user_), CppSQLite3Param(contains), CppSQLite3Param(contains),
                         CppSQLite3Param(contains + "@corp.example")},
        q));
    std::vector<std::string> expected;
    for (; !q.eof(); q.nextRow()) expected.push_back(q.textField("contactId"));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, search(keyword));
  }
  EXPECT_EQ((std::vector<std::string>{"lee.a@corp.example", "lee.b@corp.example", "lee.c@corp.example",
                                      "amy@corp.example", "an@corp.example"}),
            search("lee"));
}

// "%" and "_" in the keyword are LIKE's wildcards (any run of characters, any one character);
// a backslash is a plain character (there is no escape character). Values stay bound, so a
// quote never ends the pattern.
TEST_F(ContactDbTest, PercentAndUnderscoreAreWildcards) {
  install({{"wang.fang@corp.example", "王芳", "fang"},
           {"bob@corp.example", "Bob", ""},
           {"corp.bot@corp.example", "Robot", ""},
           {"gina@partner.example", "Gina", ""},
           {"pct@corp.example", "满分100%", ""},
           {"under_score@corp.example", "Under", "a\\b"}});
  const std::vector<std::string> everyone = {"bob@corp.example", "gina@partner.example", "corp.bot@corp.example",
                                             "under_score@corp.example", "pct@corp.example",
                                             "wang.fang@corp.example"};
  struct {
    const char* keyword;
    std::vector<std::string> hits;  // in the query's order (display name, UTF-8 bytes)
  } cases[] = {
      {"%", everyone},                                             // any run: every row
      {"_", everyone},                                             // any one character
      {"100%", {"pct@corp.example"}},                              // "100" then anything
      {"b_b", {"bob@corp.example"}},                               // "Bob", case ignored
      {"r_b", {"corp.bot@corp.example"}},                          // "Rob"ot
      {"g%a", {"gina@partner.example", "wang.fang@corp.example"}}, // "Gina"; "wang.fa"ng@own domain
      {"%@partner", {"gina@partner.example"}},                     // with "@": no domain suffix
      {"under_", {"under_score@corp.example"}},                    // the id's local part
      {"un%re", {"under_score@corp.example"}},
      {"满分_", {"pct@corp.example"}},                              // "_" is one character, not one byte
      {"满_100", {"pct@corp.example"}},
      {"a\\b", {"under_score@corp.example"}},                       // a backslash matches itself
      {"a\\%", {"under_score@corp.example"}},                       // ... and escapes nothing
      {"b_b_", {}},
      {"' or '1'='1", {}},
      {"nobody", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    EXPECT_EQ(c.hits, search(c.keyword));
  }
}

TEST_F(ContactDbTest, UserIdWithoutOneAtGivesNoSuffix) {
  for (const char* user : {"plainuser", "a@b@c"}) {
    SCOPED_TRACE(user);
    ASSERT_TRUE(db()->init(user));
    install({{"corp.bot@corp.example", "Robot", ""}, {"x@y.example", "X", ""}});
    EXPECT_EQ(std::vector<std::string>{"x@y.example"}, search("y.ex"));
    EXPECT_EQ(std::vector<std::string>{"corp.bot@corp.example"}, search("corp.b"));
  }
}

TEST_F(ContactDbTest, DeleteAllEmptiesTheUsersRowsAndSearchWithoutTableFindsNothing) {
  install({{"bob@corp.example", "Bob", ""}});
  EXPECT_TRUE(db()->deleteAll());
  EXPECT_EQ(0, count("select count(*) from xcapContactsInfo"));
  // Rows of nobody else: the whole table goes; with a row of anyone else (another user, no
  // user, a number or a blob as user) only the user's rows go.
  struct Case {
    const char* other;  // the userId value of the foreign row, as SQL
  } cases[] = {{"'zoe@corp.example'"}, {"'a@corp.example'"}, {"NULL"}, {"42"}, {"x'6c69'"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.other);
    install({{"bob@corp.example", "Bob", ""}, {"ann@corp.example", "Ann", ""}});
    ASSERT_TRUE(LocalDb::instance()->execDML(
        std::string("insert into xcapContactsInfo (userId, contactId, fullName) values (") + c.other +
        ", 'eve@corp.example', 'organization/rd/eve@corp.example');"));
    EXPECT_TRUE(db()->deleteAll());
    EXPECT_EQ(1, count("select count(*) from xcapContactsInfo"));
    EXPECT_EQ(1, count("select count(*) from xcapContactsInfo where contactId = 'eve@corp.example'"));
    ASSERT_TRUE(LocalDb::instance()->execDML("delete from xcapContactsInfo;"));
  }
  LocalDb::instance()->execDML("DROP TABLE xcapContactsInfo;");
  IM_LogCapture cap;
  EXPECT_TRUE(search("bob").empty());
  EXPECT_TRUE(cap.contains("ContactDb::search, the query failed"));
  EXPECT_FALSE(db()->deleteAll());
}

// A book may list a contact twice at one place (the same entry twice in a unit): the second row
// is refused by the table's key, but the contact is stored, so the batch counts as stored. A
// failure of another kind in the same batch still does not.
TEST_F(ContactDbTest, AContactListedTwiceAtOnePlaceIsStored) {
  Sptr<INode> unit(new Group("organization/rd", "rd", Sptr<INode>(), 3));
  Sptr<INode> bob(new Contact("bob@corp.example", 2, "Bob", "", "organization/rd/bob@corp.example"));
  Sptr<INode> ann(new Contact("ann@corp.example", 2, "Ann", "", "organization/rd/ann@corp.example"));
  std::vector<CppSQLite3Command> batch{db()->insertContact(bob, unit), db()->insertContact(ann, unit),
                                       db()->insertContact(bob, unit)};
  EXPECT_TRUE(db()->flush(batch));
  EXPECT_EQ(2, count("select count(*) from xcapContactsInfo"));
  batch.push_back(CppSQLite3Command{"insert into noSuchTable values (?);", {1}});
  EXPECT_FALSE(db()->flush(batch));
}

// The user's file held by another connection (a second copy of the program on a shared
// documents folder, an SQLite tool): the open fails and the program goes on without the table.
// Nothing may then read as stored: the deletion and every batch say they failed, and a search
// logs its failure, apart from a search that simply finds no one (which logs nothing).
TEST_F(ContactDbTest, WithTheFileHeldElsewhereWritesFailAndTheSearchSaysSo) {
  install({{"bob@corp.example", "Bob Lee", ""}});
  {
    IM_LogCapture cap;
    EXPECT_EQ(std::vector<std::string>{"bob@corp.example"}, search("Bob"));
    EXPECT_TRUE(search("nobody").empty());
    EXPECT_FALSE(cap.contains("ContactDb::")) << "a search without hits is no failure";
  }
  std::vector<CppSQLite3Command> empty;
  EXPECT_TRUE(db()->flush(empty));

  const std::string file = LocalDb::instance()->path();
  LocalDb::instance()->close();
  HeldFile held(file);
  ASSERT_TRUE(held.ok());
  ASSERT_EQ(-1, LocalDb::instance()->open(user_));

  IM_LogCapture cap;
  EXPECT_FALSE(db()->deleteAll());
  Sptr<INode> unit(new Group("organization/rd", "rd", Sptr<INode>(), 3));
  Sptr<INode> ann(new Contact("ann@corp.example", 2, "Ann", "", "organization/rd/ann@corp.example"));
  std::vector<CppSQLite3Command> batch{db()->insertContact(ann, unit)};
  EXPECT_FALSE(db()->flush(batch));
  EXPECT_TRUE(search("Bob").empty());  // the model still has Bob: the table is what fails
  EXPECT_TRUE(cap.contains("ContactDb::search, the query failed"));
  EXPECT_TRUE(cap.contains("ContactDb::deleteAll"));
}

}  // namespace

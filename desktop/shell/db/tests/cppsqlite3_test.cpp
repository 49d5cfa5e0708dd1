// The SQLite wrapper against the real library, on files in a temporary folder.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "testing/TempFolder.h"
#include "db/CppSQLite3.h"

namespace {

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    db_.open((dir_.path() + "/w.db").c_str());
    db_.execDML("create table t(id integer primary key, name text, n integer);"
                "insert into t values(1, 'one', 10);"
                "insert into t values(2, NULL, NULL);"
                "insert into t values(3, 'three', 30);");
  }

  TempFolder dir_;
  CppSQLite3DB db_;
};

struct ErrorCase {
  const char* what;
  std::function<void(CppSQLite3DB&)> run;
  int code;
  std::string message;  // the whole message, or its start when prefix is set
  bool prefix;
};

TEST_F(WrapperTest, FailuresThrowTheirCodeAndText) {
  const std::vector<ErrorCase> cases = {
      {"unknown column name",
       [](CppSQLite3DB& db) { db.execQuery("select id from t").fieldIndex("nope"); }, 1000,
       "CPPSQLITE_ERROR[1000]: Invalid field name requested", false},
      {"column names are case sensitive",
       [](CppSQLite3DB& db) { db.execQuery("select id from t").textField("ID"); }, 1000,
       "CPPSQLITE_ERROR[1000]: Invalid field name requested", false},
      {"column index out of range",
       [](CppSQLite3DB& db) { db.execQuery("select id from t").fieldDataType(1); }, 1000,
       "CPPSQLITE_ERROR[1000]: Invalid field index requested", false},
      {"syntax error", [](CppSQLite3DB& db) { db.execDML("insert into nowhere values(;"); }, 1,
       "SQLITE_ERROR[1]: ", true},
      {"constraint", [](CppSQLite3DB& db) { db.execDML("insert into t values(1, 'again', 0)"); }, 19,
       "SQLITE_CONSTRAINT[19]: ", true},
      {"constraint through a bound statement",
       [](CppSQLite3DB& db) { db.execDML("insert into t(id) values(?)", {1}); }, 19,
       "SQLITE_CONSTRAINT[19]: ", true},
      {"query on a missing table", [](CppSQLite3DB& db) { db.execQuery("select * from missing"); }, 1,
       "SQLITE_ERROR[1]: no such table: missing", false},
      {"scalar without a row", [](CppSQLite3DB& db) { db.execScalar("select n from t where id=99"); },
       1000, "CPPSQLITE_ERROR[1000]: Invalid scalar query", false},
      {"text without a statement", [](CppSQLite3DB& db) { db.execQuery("  -- nothing here\n"); }, 1000,
       "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer", false},
      {"parameter count", [](CppSQLite3DB& db) { db.execDML("update t set n=? where id=?", {1}); },
       1000, "CPPSQLITE_ERROR[1000]: Invalid parameter count", false},
      {"parameter index",
       [](CppSQLite3DB& db) { db.compileStatement("select ?").bind(2, 5); }, 25,
       "SQLITE_RANGE[25]: ", true},
      {"closed connection",
       [](CppSQLite3DB& db) {
         db.close();
         db.execDML("select 1");
       },
       1000, "CPPSQLITE_ERROR[1000]: Database not open", false},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.what);
    CppSQLite3DB& db = db_;
    try {
      c.run(db);
      ADD_FAILURE() << "no exception";
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(c.code, e.errorCode());
      if (c.prefix)
        EXPECT_EQ(0u, std::string(e.errorMessage()).find(c.message)) << e.errorMessage();
      else
        EXPECT_STREQ(c.message.c_str(), e.errorMessage());
    }
  }
}

TEST(WrapperCodes, NamesEveryCodeAndNothingElse) {
  const std::vector<std::pair<int, const char*>> cases = {
      {0, "SQLITE_OK"},      {1, "SQLITE_ERROR"},        {5, "SQLITE_BUSY"},   {19, "SQLITE_CONSTRAINT"},
      {25, "SQLITE_RANGE"},  {26, "UNKNOWN_ERROR"},      {99, "UNKNOWN_ERROR"}, {100, "SQLITE_ROW"},
      {101, "SQLITE_DONE"},  {1000, "CPPSQLITE_ERROR"},  {-1, "UNKNOWN_ERROR"}, {12345, "UNKNOWN_ERROR"}};
  for (const auto& c : cases) EXPECT_STREQ(c.second, CppSQLite3Exception::errorCodeAsString(c.first)) << c.first;

  CppSQLite3Exception original(26, "detail");
  CppSQLite3Exception copy(original);
  EXPECT_EQ(26, copy.errorCode());
  EXPECT_STREQ("UNKNOWN_ERROR[26]: detail", copy.errorMessage());
  CppSQLite3Exception noDetail(5, nullptr);
  EXPECT_STREQ("SQLITE_BUSY[5]: ", noDetail.errorMessage());
}

TEST_F(WrapperTest, CursorReadsRowsNullsAndTheEnd) {
  CppSQLite3Query q = db_.execQuery("select id, name, n from t order by id");
  ASSERT_EQ(3, q.numFields());
  ASSERT_FALSE(q.eof());
  EXPECT_EQ(1, q.intField("id"));
  EXPECT_EQ("one", q.textField("name"));
  EXPECT_EQ(SQLITE_TEXT, q.fieldDataType(1));

  q.nextRow();
  EXPECT_EQ(5, q.fieldDataType(1));  // NULL
  EXPECT_EQ(5, q.fieldDataType(2));
  EXPECT_EQ("", q.textField("name"));
  EXPECT_EQ(0, q.intField("n"));
  EXPECT_EQ(0, q.int64Field("n"));

  q.nextRow();
  EXPECT_EQ(30, q.int64Field("n"));
  q.nextRow();  // past the last row
  EXPECT_TRUE(q.eof());

  CppSQLite3Query none = db_.execQuery("select id from t where id > 100");
  EXPECT_TRUE(none.eof());
  EXPECT_EQ(1, none.numFields());

  EXPECT_EQ(0, db_.execScalar("select n from t where id=2"));
  EXPECT_EQ(3, db_.execScalar("select count(*) from t"));
  EXPECT_EQ(1, db_.execDML("update t set n=11 where id=1"));
}

TEST_F(WrapperTest, FailingStepLeavesTheCursorWithoutStatement) {
  // The second row overflows: abs() of the smallest 64-bit integer.
  CppSQLite3Query q = db_.execQuery(
      "select case when id=1 then 1 else abs(-9223372036854775807 - 1) end as v from t order by id");
  ASSERT_FALSE(q.eof());
  try {
    q.nextRow();
    FAIL() << "no exception";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(SQLITE_ERROR, e.errorCode());
    EXPECT_NE(std::string::npos, std::string(e.errorMessage()).find("integer overflow")) << e.errorMessage();
  }
  try {
    q.eof();
    FAIL() << "no exception";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_STREQ("CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer", e.errorMessage());
  }
}

TEST_F(WrapperTest, MovedCursorKeepsTheStatementOnce) {
  CppSQLite3Query target;
  {
    CppSQLite3Query source = db_.execQuery("select id from t order by id");
    target = std::move(source);
    EXPECT_THROW(source.eof(), CppSQLite3Exception);
    CppSQLite3Query constructed(std::move(target));
    EXPECT_THROW(target.numFields(), CppSQLite3Exception);
    target = std::move(constructed);
  }  // source and constructed end here without touching the statement
  EXPECT_EQ(1, target.intField("id"));
  target.nextRow();
  EXPECT_EQ(2, target.intField("id"));
  target.finalize();
  EXPECT_THROW(target.eof(), CppSQLite3Exception);
  target.finalize();  // nothing left to finalize
}

TEST_F(WrapperTest, TableExistsBindsTheName) {
  EXPECT_TRUE(db_.tableExists("t"));
  EXPECT_FALSE(db_.tableExists("missing"));
  EXPECT_FALSE(db_.tableExists("x' or '1'='1"));
  EXPECT_FALSE(db_.tableExists(std::string(300, 'a').c_str()));
  db_.execDML("create table \"it's\"(a)");
  EXPECT_TRUE(db_.tableExists("it's"));
}

TEST_F(WrapperTest, BoundTextComesBackUnchanged) {
  const std::vector<std::string> values = {
      "it's",
      "O'Brien said \"hi\" ''; drop table t; --",
      "100% of %s and %d %n",
      "张三 <zhangsan@example.com>",  // GBK bytes
      u8"李四",
      std::string("\x01\x02\x7f\x80\xff\xfe\\ \t\r\n", 11),
      "",
  };
  db_.execDML("create table v(id integer primary key, s text)");
  CppSQLite3Statement insert = db_.compileStatement("insert into v(id, s) values(?, ?)");
  for (size_t i = 0; i < values.size(); ++i) {
    insert.bind(1, static_cast<int>(i));
    insert.bind(2, values[i]);
    EXPECT_EQ(1, insert.execDML());
  }
  EXPECT_TRUE(db_.tableExists("t"));
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    CppSQLite3Query byId = db_.execQuery("select s from v where id=?", {static_cast<int>(i)});
    ASSERT_FALSE(byId.eof());
    EXPECT_EQ(values[i], byId.textField("s"));
    // The value also finds its own row when bound as the search key.
    EXPECT_EQ(static_cast<int>(i), db_.execScalar("select id from v where s=?", {values[i]}));
  }
  // A LIKE pattern built from a value: the "%" inside stays a wildcard only
  // where the pattern puts one.
  EXPECT_EQ(1, db_.execScalar("select count(*) from v where s like '%' || ? || '%'", {"%s and"}));

  db_.execDML("insert into v(id, s) values(?, ?)", {100, nullptr});
  CppSQLite3Query nul = db_.execQuery("select s from v where id=100");
  EXPECT_EQ(5, nul.fieldDataType(0));
  db_.execDML("insert into v(id, s) values(?, ?)", {101, 1LL << 40});
  EXPECT_EQ(1LL << 40, db_.execQuery("select s from v where id=101").int64Field("s"));
}

TEST(WrapperOpen, FailedOpenLeavesNothingOpen) {
  TempFolder dir;
  CppSQLite3DB db;
  try {
    db.open(dir.path().c_str());  // a folder, not a file
    FAIL() << "no exception";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_NE(0, e.errorCode());
  }
  EXPECT_FALSE(db.isOpen());
  try {
    db.execDML("select 1");
    FAIL() << "no exception";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_STREQ("CPPSQLITE_ERROR[1000]: Database not open", e.errorMessage());
  }
}

TEST(WrapperOpen, OpensInWalModeAndClosesUnderALiveCursor) {
  TempFolder dir;
  CppSQLite3DB db;
  db.open((dir.path() + "/wal.db").c_str());
  EXPECT_EQ("wal", db.execQuery("PRAGMA journal_mode").textField("journal_mode"));
  db.execDML("create table t(a); insert into t values(1); insert into t values(2);");
  CppSQLite3Query q = db.execQuery("select a from t order by a");
  db.close();  // the cursor keeps the connection until it is finalized
  EXPECT_FALSE(db.isOpen());
  EXPECT_EQ(1, q.intField("a"));
  q.nextRow();
  EXPECT_EQ(2, q.intField("a"));
  q.nextRow();
  EXPECT_TRUE(q.eof());
}

// The open's statements run on the open's own busy time-out and each must succeed; the busy
// time-out holds from the end of the open on. A refusal leaves nothing open.
TEST(WrapperOpen, SettingsAreCheckedOnTheOpensTimeOut) {
  TempFolder dir;
  const std::string file = dir.path() + "/s.db";
  {
    CppSQLite3DB db;
    db.setBusyTimeout(4321);
    db.setOpenBusyTimeout(50);
    db.setOpenSettings({"PRAGMA synchronous=NORMAL;", "PRAGMA cache_size=-1024;"});
    db.open(file.c_str());
    EXPECT_EQ(4321, db.execScalar("PRAGMA busy_timeout"));
    EXPECT_EQ(1, db.execScalar("PRAGMA synchronous"));
    EXPECT_EQ(-1024, db.execScalar("PRAGMA cache_size"));
    EXPECT_EQ("wal", db.execQuery("PRAGMA journal_mode").textField("journal_mode"));
  }
  CppSQLite3DB holder;  // takes the file for itself once it has written
  holder.setExclusiveLocking(true);
  struct Case {
    const char* what;
    std::vector<std::string> settings;
    bool held;
    int code;
    const char* detail;
  };
  const std::vector<Case> cases = {
      {"a refused setting", {"PRAGMA synchronous=NORMAL;", "PRAGMA nowhere.cache_size=10;"}, false, SQLITE_ERROR,
       "PRAGMA nowhere.cache_size=10; refused: unknown database nowhere"},
      {"a file another connection holds", {"PRAGMA synchronous=NORMAL;"}, true, SQLITE_BUSY,
       "PRAGMA journal_mode=WAL; refused: database is locked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.held) {
      holder.open(file.c_str());
      holder.execDML("create table if not exists t(a)");
    }
    CppSQLite3DB db;
    db.setOpenBusyTimeout(100);
    db.setOpenSettings(c.settings);
    const auto start = std::chrono::steady_clock::now();
    try {
      db.open(file.c_str());
      FAIL() << "no exception";
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(c.code, e.errorCode());
      EXPECT_NE(std::string::npos, std::string(e.errorMessage()).find(c.detail)) << e.errorMessage();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(db.isOpen());
    holder.close();
  }
}

}  // namespace

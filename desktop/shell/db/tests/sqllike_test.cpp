// Our LIKE against SQLite's own: on valid UTF-8, every pattern with every text gives what
// SQLite's two-argument LIKE gives on a connection of its own (one without our function), and a
// connection opened by the wrapper runs ours. The few stray bytes in the table agree as well;
// other invalid UTF-8 and blobs are outside the promise (see SqlLike.h).
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "db/SqlLike.h"
#include "testing/TempFolder.h"

namespace {

const std::vector<std::string> kTexts = {
    "", "a", "A", "abc", "ABC", "aXbXc", "user12@corp.example", "bob@corp.example", "wang.fang@corp.example",
    "under_score@corp.example", "100%", "a\\b", "a%b", "a_b", "e123 kwc", "kwa kwb kwc",
    u8"王芳", u8"满分100%", u8"员工00012", u8"分", u8"ÄäÖ", "%", "_", "%%", "abcabcabd", "aaa", "ab\xC3", "\x88x",
    "xAxaxAb", "AaBab", "aAaAaB",  // a piece's first letter in both cases, not where it matches
};
const std::vector<std::string> kPatterns = {
    "", "%", "%%", "_", "__", "%_", "_%", "%_%", "a", "A", "%a%", "%A%", "a%", "%c", "a%c", "%b%c%",
    "%kwc%", "%kwb%", "%KW%", "%e1%@corp.example", "%bob%@corp.example", "%@corp%", "%corp.example",
    "%g%a%", "%b_b%", "%r_b%", "%un%re%", "%under_%", "%a\\b%", "%a\\%", "%a\\_b%", "a_c", "a%%c", "%abd",
    "%abcabd%", "%aa%", "%aaaa%", u8"%王%", u8"%王芳%", u8"%满分_%", u8"%满_100%", u8"%分%", u8"%ä%", u8"%Ä%",
    "%100\\%%", "%%%", "%_%_%_%", "%x", "\x88%", "%\xC3", "%ab%", "%Ab%", "%aab%", "%xab", "a%ab%",
};

// SQLite's own answer: 1, 0, or -1 for NULL.
int sqliteLike(sqlite3* db, const std::string& pattern, const std::string& text) {
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "select ? like ?", -1, &st, nullptr));
  sqlite3_bind_text(st, 1, text.data(), (int)text.size(), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, pattern.data(), (int)pattern.size(), SQLITE_TRANSIENT);
  EXPECT_EQ(SQLITE_ROW, sqlite3_step(st));
  int r = sqlite3_column_type(st, 0) == SQLITE_NULL ? -1 : sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return r;
}

TEST(FastLike, MatchesAsSqlitesOwnLikeOnValidUtf8) {
  sqlite3* plain = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &plain));
  sqlite3* ours = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &ours));
  ASSERT_EQ(SQLITE_OK, installFastLike(ours));
  int checked = 0;
  for (const std::string& p : kPatterns)
    for (const std::string& t : kTexts) {
      int expected = sqliteLike(plain, p, t);
      EXPECT_EQ(expected == 1, fastLikeMatch(p, t)) << "'" << t << "' like '" << p << "'";
      EXPECT_EQ(expected, sqliteLike(ours, p, t)) << "'" << t << "' like '" << p << "'";
      ++checked;
    }
  EXPECT_GT(checked, 1000);
  // NULL on either side is NULL; a pattern past the length limit is an error, as SQLite's.
  for (sqlite3* db : {plain, ours}) {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "select NULL like 'a', 'a' like NULL", -1, &st, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(st));
    EXPECT_EQ(SQLITE_NULL, sqlite3_column_type(st, 0));
    EXPECT_EQ(SQLITE_NULL, sqlite3_column_type(st, 1));
    sqlite3_finalize(st);
    sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 4);
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "select 'a' like '%abcd%'", -1, &st, nullptr));
    EXPECT_EQ(SQLITE_ERROR, sqlite3_step(st));
    EXPECT_STREQ("LIKE or GLOB pattern too complex", sqlite3_errmsg(db));
    sqlite3_finalize(st);
  }
  sqlite3_close(plain);
  sqlite3_close(ours);
}

TEST(FastLike, TheWrappersConnectionUsesItOverManyRowsWithTheStatementsPattern) {
  TempFolder dir;
  CppSQLite3DB db;
  db.open((dir.path() + "/l.db").c_str());
  db.execDML("create table t(v text);");
  for (const std::string& t : kTexts) db.execDML("insert into t values(?);", CppSQLite3Params{CppSQLite3Param(t)});
  sqlite3* plain = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &plain));
  for (const std::string& p : kPatterns) {
    int expected = 0;
    for (const std::string& t : kTexts) expected += sqliteLike(plain, p, std::string(t.c_str())) == 1;
    EXPECT_EQ(expected, db.execScalar("select count(*) from t where v like ?;", CppSQLite3Params{CppSQLite3Param(p)}))
        << p;
  }
  sqlite3_close(plain);
}

}  // namespace

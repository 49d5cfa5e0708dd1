// The per-user database: its place, its batches, its lock and reopening, on a
// home folder of its own (PW_HOME) in a temporary folder.
#include <gtest/gtest.h>
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/TempFolder.h"
#include "db/LocalDb.h"
#include "log/IM_LogManager.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A child process that takes a database file for itself (exclusive locking, as LocalDb does),
// adds a row to its table t and holds the file until it is released. It ends by itself after a
// minute at the latest.
class FileHoldingChild {
 public:
  explicit FileHoldingChild(const std::string& file) {
    int readyPipe[2], releasePipe[2];
    if (pipe(readyPipe) != 0) return;
    if (pipe(releasePipe) != 0) {
      close(readyPipe[0]);
      close(readyPipe[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      alarm(60);
      close(readyPipe[0]);
      close(releasePipe[1]);
      sqlite3* db = nullptr;
      bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; insert into t values('other');",
                             nullptr, nullptr, nullptr) == SQLITE_OK;
      char c = ok ? '1' : '0';
      if (write(readyPipe[1], &c, 1) != 1) _exit(2);
      while (read(releasePipe[0], &c, 1) > 0) {
      }
      sqlite3_close(db);
      _exit(ok ? 0 : 1);
    }
    close(readyPipe[1]);
    close(releasePipe[0]);
    ready_ = readyPipe[0];
    release_ = releasePipe[1];
  }
  ~FileHoldingChild() { finish(); }
  FileHoldingChild(const FileHoldingChild&) = delete;
  FileHoldingChild& operator=(const FileHoldingChild&) = delete;

  // True once the child holds the file and has written its row.
  bool waitHolding() {
    pollfd p{ready_, POLLIN, 0};
    char c = 0;
    return pid_ > 0 && poll(&p, 1, 30000) == 1 && read(ready_, &c, 1) == 1 && c == '1';
  }
  // Releases the file; the child's exit status, or -1.
  int finish() {
    if (release_ >= 0) close(release_);
    if (ready_ >= 0) close(ready_);
    release_ = ready_ = -1;
    int status = 0;
    bool ended = pid_ > 0 && waitpid(pid_, &status, 0) == pid_;  // bounded by the child's alarm
    pid_ = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int ready_ = -1, release_ = -1;
};

// A file by device and inode.
typedef std::pair<dev_t, ino_t> FileKey;

bool keyOf(const std::string& path, FileKey& key) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  key = FileKey(st.st_dev, st.st_ino);
  return true;
}

// The regular files this process has open, by device and inode (also when their name is gone).
std::set<FileKey> openFiles() {
  std::set<FileKey> keys;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return keys;
  while (dirent* e = readdir(dir)) {
    struct stat st;
    if (e->d_name[0] != '.' && fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
      keys.insert(FileKey(st.st_dev, st.st_ino));
  }
  closedir(dir);
  return keys;
}

// What the process's open files are named now (as /proc gives them: a removed file's name ends
// in " (deleted)", a moved file has its new name).
std::set<std::string> openFileNames() {
  std::set<std::string> names;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return names;
  while (dirent* e = readdir(dir)) {
    char target[4096];
    ssize_t n = e->d_name[0] == '.' ? -1 : readlinkat(dirfd(dir), e->d_name, target, sizeof(target) - 1);
    if (n > 0) names.insert(std::string(target, static_cast<size_t>(n)));
  }
  closedir(dir);
  return names;
}

class LocalDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(home_.path().empty());
    setenv("PW_HOME", home_.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("PW_HOME"); }

  std::string dbFile(const std::string& user) const {
    return home_.path() + "/Documents/Postwing/" + user + "/Postwing.db";
  }
  int count(const std::string& sql) {
    CppSQLite3Query q;
    if (!db_.execQuery(sql, q) || q.eof()) return -1;
    return q.intField(q.fieldName(0));
  }
  // Reads a file of its own, apart from the LocalDb under test (which must not hold that file:
  // its connection keeps the file to itself).
  static int countIn(const std::string& file, const char* sql) {
    CppSQLite3DB other;
    other.open(file.c_str());
    return other.execScalar(sql);
  }

  TempFolder home_;
  LocalDb db_;
};

TEST_F(LocalDbTest, OpenMakesTheUsersFileInWalMode) {
  EXPECT_EQ(home_.path() + "/Documents", LocalDb::getDocumentsPath());
  ASSERT_EQ(0, db_.open("zhang.san@example.com"));
  EXPECT_TRUE(fs::is_regular_file(dbFile("zhang.san@example.com")));
  EXPECT_EQ(dbFile("zhang.san@example.com"), db_.path());
  CppSQLite3Query mode;
  ASSERT_TRUE(db_.execQuery("PRAGMA journal_mode", mode));
  EXPECT_EQ("wal", mode.textField("journal_mode"));
  // The folders are private to the user.
  struct stat st;
  ASSERT_EQ(0, stat((home_.path() + "/Documents/Postwing").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

// Commits without a disk sync each, and reads without a memory map of any file of the folder:
// an I/O error on a mapped page (a documents folder on a network share) would be a SIGBUS, not
// an error. That holds for the log's index too, kept in the process's memory, not in a -shm file.
TEST_F(LocalDbTest, TheConnectionSyncsNormallyAndMapsNoFileOfTheFolder) {
  ASSERT_EQ(0, db_.open("zhang.san@example.com"));
  EXPECT_EQ(1, count("PRAGMA synchronous"));  // NORMAL
  EXPECT_EQ(0, count("PRAGMA mmap_size"));
  EXPECT_EQ(-65536, count("PRAGMA cache_size"));  // 64 MiB of pages instead
  ASSERT_TRUE(db_.execBatch(std::vector<std::string>{"create table t(v text)", "insert into t values('a')"}));
  EXPECT_EQ(1, count("select count(*) from t"));
  const fs::path folder = fs::canonical(fs::path(dbFile("zhang.san@example.com")).parent_path());
  EXPECT_TRUE(fs::exists(folder / "Postwing.db-wal"));
  EXPECT_FALSE(fs::exists(folder / "Postwing.db-shm"));
  std::ifstream maps("/proc/self/maps");
  ASSERT_TRUE(maps.is_open());
  for (std::string line; std::getline(maps, line);)
    EXPECT_EQ(std::string::npos, line.find(folder.string() + "/")) << line;
}

TEST_F(LocalDbTest, UnsafeUserIdsAreRefusedAndLeaveNoConnection) {
  const std::vector<std::string> ids = {"", ".", "..", "../x", "..\\..\\x", "a/b", "a\\b", "c:x",
                                        "x\ny", std::string(256, 'a'), std::string("\xB1\xED\xFF", 3), "a|b", "who?", "a<b>"};
  ASSERT_EQ(0, db_.open("first@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(a)"));
  for (const std::string& id : ids) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(LocalDb::isSafeUserId(id));
    EXPECT_EQ(-1, db_.open(id));
    EXPECT_EQ("", db_.path());
    // Nothing lands in the previous user's file.
    EXPECT_FALSE(db_.execDML("insert into t values(1)"));
  }
  EXPECT_EQ(0, countIn(dbFile("first@example.com"), "select count(*) from t"));
  EXPECT_FALSE(fs::exists(home_.path() + "/Documents/x"));
  EXPECT_FALSE(fs::exists(home_.path() + "/x"));
  // A GBK name and a name with inner dots are fine.
  EXPECT_TRUE(LocalDb::isSafeUserId("张三"));
  EXPECT_TRUE(LocalDb::isSafeUserId("a..b"));
  EXPECT_TRUE(LocalDb::isSafeUserId(std::string("a\x95\x5C", 3)));  // 0x5C as a GBK trail byte
  ASSERT_EQ(0, db_.open("张三"));
  EXPECT_TRUE(fs::exists(dbFile(u8"张三")));
}

TEST_F(LocalDbTest, WithoutDocumentsFolderOpenFails) {
  std::string blocker = home_.path() + "/file";
  { std::ofstream(blocker) << "x"; }
  setenv("PW_HOME", blocker.c_str(), 1);  // Documents cannot be made under a file
  EXPECT_EQ("", LocalDb::getDocumentsPath());
  EXPECT_EQ(-1, db_.open("user@example.com"));
}

TEST_F(LocalDbTest, NothingWorksBeforeOpen) {
  CppSQLite3Query q;
  EXPECT_FALSE(db_.execDML("create table t(a)"));
  EXPECT_FALSE(db_.execBatch(std::vector<std::string>{"create table t(a)"}));
  EXPECT_FALSE(db_.execQuery("select 1", q));
  EXPECT_THROW(q.eof(), CppSQLite3Exception);  // still empty
  EXPECT_FALSE(db_.createTable("t", "create table t(a)"));
}

TEST_F(LocalDbTest, CreateTable) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  EXPECT_FALSE(db_.createTable("t", ""));
  EXPECT_FALSE(db_.createTable("", "create table t(a)"));
  EXPECT_TRUE(db_.createTable("t", "create table t(a); create index ta on t(a);"));
  // Present already: the statement is not run.
  EXPECT_TRUE(db_.createTable("t", "this is not sql"));
  EXPECT_FALSE(db_.createTable("u", "this is not sql"));
  // The name is only ever bound: pasted, it would find "t" and skip the statement.
  EXPECT_TRUE(db_.createTable("x' or '1'='1", "create table injected(a)"));
  EXPECT_EQ(0, count("select count(*) from injected"));
}

TEST_F(LocalDbTest, BatchOutcomes) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(id integer primary key, v text)"));
  struct Case {
    const char* what;
    std::vector<std::string> sqls;
    bool rollbackOnFailure;
    bool result;
    int rowsAfter;
  };
  const std::vector<Case> cases = {
      {"empty list", {}, false, false, 0},
      {"empty texts are skipped", {"", "insert into t values(1,'a')", ""}, false, true, 1},
      {"second of three fails: reported, the others kept",
       {"insert into t values(2,'b')", "insert into t values(1,'dup')", "insert into t values(3,'c')"},
       false, false, 3},
      {"second of three fails, all or nothing",
       {"insert into t values(4,'d')", "insert into nowhere values(1)", "insert into t values(5,'e')"},
       true, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IM_LogCapture cap;
    EXPECT_EQ(c.result, db_.execBatch(c.sqls, c.rollbackOnFailure));
    EXPECT_EQ(c.rowsAfter, count("select count(*) from t"));
    EXPECT_EQ(!c.result && !c.sqls.empty(), cap.contains("LocalDb::execBatch, statement failed"));
  }
}

TEST_F(LocalDbTest, FailedCommitIsRolledBack) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  ASSERT_TRUE(db_.execDML("PRAGMA foreign_keys=ON;"
                          "create table p(id integer primary key);"
                          "create table c(pid integer references p(id) deferrable initially deferred);"));
  // The dangling reference is only found at commit.
  EXPECT_FALSE(db_.execBatch(std::vector<std::string>{"insert into p values(1)", "insert into c values(2)"}));
  EXPECT_EQ(0, count("select count(*) from p"));
  EXPECT_EQ(0, count("select count(*) from c"));
  EXPECT_TRUE(db_.execBatch(std::vector<std::string>{"insert into p values(1)", "insert into c values(1)"}));
}

TEST_F(LocalDbTest, ThousandInsertsAreOneTransaction) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(id integer primary key, v text)"));
  ASSERT_TRUE(db_.execDML("PRAGMA wal_checkpoint(TRUNCATE)"));
  std::vector<CppSQLite3Command> batch;
  for (int i = 0; i < 1000; ++i)
    batch.push_back({"insert into t(id, v) values(?, ?)", {i, "row " + std::to_string(i)}});
  ASSERT_TRUE(db_.execBatch(batch));
  EXPECT_EQ(1000, count("select count(*) from t"));
  // Each commit appends at least one frame to the log; a thousand single
  // commits would leave a thousand, one transaction leaves a handful.
  CppSQLite3Query ckpt;
  ASSERT_TRUE(db_.execQuery("PRAGMA wal_checkpoint(PASSIVE)", ckpt));
  EXPECT_LT(ckpt.intField("log"), 100);
  EXPECT_GT(ckpt.intField("log"), 0);
}

TEST_F(LocalDbTest, BoundParametersThroughEveryEntry) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  ASSERT_TRUE(db_.execDML("create table c(name text, nick text)"));
  const std::string evil = "x'); drop table c; --";
  ASSERT_TRUE(db_.execDML("insert into c values(?, ?)", {evil, "张三"}));
  ASSERT_TRUE(db_.execBatch(std::vector<CppSQLite3Command>{{"insert into c values(?, ?)", {"50%", "it's"}}}));
  CppSQLite3Query q;
  ASSERT_TRUE(db_.execQuery("select nick from c where name=?", {evil}, q));
  ASSERT_FALSE(q.eof());
  EXPECT_EQ("张三", q.textField("nick"));
  ASSERT_TRUE(db_.execQuery("select nick from c where name like '%' || ? || '%'", {"0%"}, q));
  EXPECT_EQ("it's", q.textField("nick"));
  EXPECT_FALSE(db_.execQuery("select nick from c where name=?", {1, 2}, q));
  EXPECT_EQ("it's", q.textField("nick"));  // a failed query leaves the cursor as it was
}

// A batch's statements are kept for later batches of the connection: they must follow the
// user's switch, a change of the table and a failure, and never write into another file.
TEST_F(LocalDbTest, KeptBatchStatementsFollowTheConnection) {
  const std::string insert = "insert into t(id, v) values(?, ?)";
  auto one = [&](int id, const std::string& v) {
    return db_.execBatch(std::vector<CppSQLite3Command>{{insert, {id, v}}}, true);
  };
  ASSERT_EQ(0, db_.open("a@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(id integer primary key, v text)"));
  ASSERT_TRUE(one(1, "a1"));
  EXPECT_FALSE(one(1, "dup"));  // refused by the key, rolled back; the statement stays usable
  ASSERT_TRUE(one(2, "a2"));

  ASSERT_EQ(0, db_.open("b@example.com"));
  EXPECT_FALSE(one(1, "b1"));  // no table in B's file: compiled afresh, not run on A's
  ASSERT_TRUE(db_.execDML("create table t(id integer primary key, v text, extra text)"));
  ASSERT_TRUE(one(1, "b1"));
  ASSERT_TRUE(db_.execDML("drop table t; create table t(v text, id integer primary key)"));
  ASSERT_TRUE(one(3, "b3"));  // the kept statement is recompiled for the new table
  EXPECT_EQ(1, count("select count(*) from t where id=3 and v='b3'"));
  EXPECT_EQ(2, countIn(dbFile("a@example.com"), "select count(*) from t"));
  EXPECT_EQ(0, countIn(dbFile("a@example.com"), "select count(*) from t where v like 'b%'"));

  // More texts than are kept, in batches of one and in one batch: every batch still runs, and
  // no more than 32 statements stay compiled (the connection's own list of its statements).
  const char* keptSql = "select count(*) from sqlite_stmt where sql like 'insert into t%'";
  for (int i = 0; i < 80; ++i) {
    std::string sql = "insert into t(id, v) values(?, ?) -- " + std::to_string(i);
    ASSERT_TRUE(db_.execBatch(std::vector<CppSQLite3Command>{{sql, {100 + i, "x"}}}));
    ASSERT_LE(count(keptSql), 32) << "after " << i + 1 << " texts";
  }
  std::vector<CppSQLite3Command> many;
  for (int i = 0; i < 80; ++i)
    many.push_back({"insert into t(id, v) values(?, ?) -- many " + std::to_string(i), {200 + i, "y"}});
  ASSERT_TRUE(db_.execBatch(many));
  EXPECT_LE(count(keptSql), 32);
  EXPECT_GE(count(keptSql), 1);  // still kept
  EXPECT_EQ(161, count("select count(*) from t"));

  db_.close();
  EXPECT_FALSE(one(4, "closed"));
  EXPECT_EQ(161, countIn(dbFile("b@example.com"), "select count(*) from t"));
}

TEST_F(LocalDbTest, ConcurrentWritersLoseNothingAndBatchesStayWhole) {
  ASSERT_EQ(0, db_.open("u@example.com"));
  ASSERT_TRUE(db_.execDML("create table single(thread integer, i integer)"));
  ASSERT_TRUE(db_.execDML("create table batch(batchId integer, i integer)"));
  const int kSingles = 150, kBatches = 10, kPerBatch = 50;
  std::atomic<int> singleFailures{0}, wrongBatchResults{0};
  std::atomic<bool> writersDone{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kSingles; ++i)
        if (!db_.execDML("insert into single values(?, ?)", {t, i})) ++singleFailures;
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int b = 0; b < kBatches; ++b) {
        int id = t * 100 + b;
        std::vector<CppSQLite3Command> cmds;
        for (int i = 0; i < kPerBatch; ++i) cmds.push_back({"insert into batch values(?, ?)", {id, i}});
        bool failing = b % 2 == 1;  // every other batch fails at its end and is undone whole
        if (failing) cmds.push_back({"insert into nowhere values(1)", {}});
        if (db_.execBatch(cmds, true) == failing) ++wrongBatchResults;
      }
    });
  }
  std::thread reader([&] {
    while (!writersDone) {
      CppSQLite3Query q;
      if (db_.execQuery("select count(*) as n from batch", q)) {
        int n = q.intField("n");
        if (n % kPerBatch != 0) ++wrongBatchResults;  // never half a batch
      }
    }
  });
  for (std::thread& t : threads) t.join();
  writersDone = true;
  reader.join();
  EXPECT_EQ(0, singleFailures.load());
  EXPECT_EQ(0, wrongBatchResults.load());
  EXPECT_EQ(4 * kSingles, count("select count(*) from single"));
  EXPECT_EQ(2 * (kBatches / 2) * kPerBatch, count("select count(*) from batch"));
  EXPECT_EQ(0, count("select count(*) from batch where batchId % 2 = 1"));
}

TEST_F(LocalDbTest, ReopenSwitchesFilesAndKeepsLiveCursors) {
  ASSERT_EQ(0, db_.open("a@example.com"));
  ASSERT_TRUE(db_.execBatch(std::vector<std::string>{"create table t(v text)", "insert into t values('a1')",
                                                     "insert into t values('a2')"}));
  CppSQLite3Query cursorOfA;
  ASSERT_TRUE(db_.execQuery("select v from t order by v", cursorOfA));

  ASSERT_EQ(0, db_.open("b@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(v text); insert into t values('b1');"));
  // The cursor opened on A's file reads on after the switch.
  EXPECT_EQ("a1", cursorOfA.textField("v"));
  cursorOfA.nextRow();
  EXPECT_EQ("a2", cursorOfA.textField("v"));
  cursorOfA.finalize();

  // A's connection went with its last cursor; B's file is the open connection's alone.
  EXPECT_EQ(2, countIn(dbFile("a@example.com"), "select count(*) from t"));
  EXPECT_EQ(1, count("select count(*) from t where v='b1'"));
  EXPECT_EQ(1, count("select count(*) from t"));

  // A reopen that fails leaves no connection: nothing reaches A's file.
  { std::ofstream(home_.path() + "/Documents/Postwing/c@example.com") << "not a folder"; }
  EXPECT_EQ(-1, db_.open("c@example.com"));
  EXPECT_EQ("", db_.path());
  EXPECT_FALSE(db_.execDML("insert into t values('lost')"));
  EXPECT_EQ(2, countIn(dbFile("a@example.com"), "select count(*) from t"));
  EXPECT_EQ(1, countIn(dbFile("b@example.com"), "select count(*) from t"));
}

// A cursor that outlived a switch holds the last reference to the old
// connection: its failing step reports the error of that step, taken before
// the statement (and with it the connection) is released. The closed
// connection no longer tells its own text, so the step's code gives it.
TEST_F(LocalDbTest, FailingCursorThatOutlivedASwitchReportsItsOwnError) {
  ASSERT_EQ(0, db_.open("a@example.com"));
  ASSERT_TRUE(db_.execBatch(std::vector<std::string>{"create table t(id integer primary key)", "insert into t values(1)",
                                                     "insert into t values(2)"}));
  CppSQLite3Query cursorOfA;
  // The second row overflows: abs() of the smallest 64-bit integer.
  ASSERT_TRUE(db_.execQuery(
      "select case when id=1 then 1 else abs(-9223372036854775807 - 1) end as v from t order by id", cursorOfA));
  ASSERT_FALSE(cursorOfA.eof());

  ASSERT_EQ(0, db_.open("b@example.com"));
  EXPECT_EQ(1, cursorOfA.intField("v"));
  try {
    cursorOfA.nextRow();
    FAIL() << "no exception";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(SQLITE_ERROR, e.errorCode());
    EXPECT_EQ(std::string("SQLITE_ERROR[1]: ") + sqlite3_errstr(SQLITE_ERROR), e.errorMessage());
  }
  EXPECT_THROW(cursorOfA.eof(), CppSQLite3Exception) << "the cursor holds no statement any more";
  EXPECT_TRUE(db_.execDML("create table u(v text)")) << "the new connection is untouched";
}

TEST_F(LocalDbTest, OpenWhileOtherThreadsWrite) {
  ASSERT_EQ(0, db_.open("a@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(v integer)"));
  ASSERT_EQ(0, db_.open("b@example.com"));
  ASSERT_TRUE(db_.execDML("create table t(v integer)"));
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t)
    writers.emplace_back([&] {
      while (!stop) {
        if (db_.execDML("insert into t values(1)")) ++written;
        CppSQLite3Query q;
        if (db_.execQuery("select count(*) as n from t", q)) q.intField("n");
      }
    });
  for (int i = 0; i < 40; ++i) ASSERT_EQ(0, db_.open(i % 2 ? "a@example.com" : "b@example.com"));
  stop = true;
  for (std::thread& t : writers) t.join();
  db_.close();
  int total = countIn(dbFile("a@example.com"), "select count(*) from t") +
              countIn(dbFile("b@example.com"), "select count(*) from t");
  EXPECT_EQ(written.load(), total);
}

// The login opens the user's file and the net-disk engine opens the same user again at once.
// The second open keeps the connection: its cursors, its settings and what lives only as long
// as the connection (a temporary table). Another connection to the file would wait for every
// cursor of the first, here one of the opening thread itself. The same file reached under
// another name (a case-insensitive folder; a link here) is the same database.
TEST_F(LocalDbTest, OpeningTheOpenUserAgainKeepsTheConnection) {
  ASSERT_EQ(0, db_.open("a@example.com"));
  fs::create_directory_symlink(home_.path() + "/Documents/Postwing/a@example.com",
                               home_.path() + "/Documents/Postwing/alias");
  ASSERT_TRUE(db_.execBatch(std::vector<std::string>{"create table t(v integer)", "insert into t values(1)",
                                                     "insert into t values(2)", "insert into t values(3)"}));
  for (const char* again : {"a@example.com", "alias"}) {
    SCOPED_TRACE(again);
    ASSERT_TRUE(db_.execDML("create temp table mine(v integer)"));
    CppSQLite3Query cursor;
    ASSERT_TRUE(db_.execQuery("select v from t order by v", cursor));
    ASSERT_EQ(1, cursor.intField("v"));

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(0, db_.open(again));
    EXPECT_LT(secondsSince(start), 10.0);
    for (int v = 2; v <= 3; ++v) {
      cursor.nextRow();
      ASSERT_FALSE(cursor.eof());
      EXPECT_EQ(v, cursor.intField("v"));
    }
    cursor.nextRow();
    EXPECT_TRUE(cursor.eof());
    cursor.finalize();

    EXPECT_EQ(dbFile("a@example.com"), db_.path());
    {
      CppSQLite3Query mode;
      ASSERT_TRUE(db_.execQuery("PRAGMA journal_mode", mode));
      EXPECT_EQ("wal", mode.textField("journal_mode"));
    }
    EXPECT_EQ(1, count("PRAGMA synchronous"));
    EXPECT_EQ(-65536, count("PRAGMA cache_size"));
    EXPECT_EQ(60000, count("PRAGMA busy_timeout"));
    EXPECT_EQ(3, count("select count(*) from t"));
    EXPECT_EQ(0, count("select count(*) from temp.mine")) << "not the same connection";
    ASSERT_TRUE(db_.execDML("drop table temp.mine"));
  }
  // Another user's open still replaces the connection.
  ASSERT_TRUE(db_.execDML("create temp table mine(v integer)"));
  ASSERT_EQ(0, db_.open("b@example.com"));
  EXPECT_EQ(-1, count("select count(*) from temp.mine"));
  EXPECT_EQ(dbFile("b@example.com"), db_.path());
}

// Between two logins of the same user the user's folder goes: removed, or moved elsewhere (the
// documents folder tidied up, a profile moved). The second login must not keep the connection to
// the file that went, where its writes would report success and be gone (or elsewhere) at the
// next start: it opens the file at the user's path, and what it writes is there afterwards.
TEST_F(LocalDbTest, ReloginAfterTheUsersFolderWentOpensTheFileAtThePath) {
  const std::string user = "a@example.com";
  const std::string folder = home_.path() + "/Documents/Postwing/" + user;
  for (const bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "folder moved" : "folder removed");
    const std::string movedTo = home_.path() + "/elsewhere";
    ASSERT_EQ(0, db_.open(user));
    ASSERT_TRUE(db_.execDML("create table t(v text); insert into t values('before');"));
    FileKey first;
    ASSERT_TRUE(keyOf(dbFile(user), first));
    ASSERT_EQ(1u, openFiles().count(first));

    if (moved)
      fs::rename(folder, movedTo);
    else
      fs::remove_all(folder);
    ASSERT_FALSE(fs::exists(folder));
    const std::string home = fs::canonical(home_.path()).string();
    const std::string went = moved ? fs::canonical(movedTo).string() + "/Postwing.db"
                                   : home + "/Documents/Postwing/" + user + "/Postwing.db (deleted)";
    ASSERT_EQ(1u, openFileNames().count(went)) << "the open file is not seen under its new name";

    ASSERT_EQ(0, db_.open(user));
    FileKey second;
    ASSERT_TRUE(keyOf(dbFile(user), second)) << "no file at the user's path";
    EXPECT_EQ(dbFile(user), db_.path());
    std::set<FileKey> open = openFiles();
    EXPECT_EQ(1u, open.count(second)) << "the file at the path is not the open one";
    // By name: a file made since (the new log beside the database, say) may have been given the
    // inode that the closed one freed.
    EXPECT_EQ(0u, openFileNames().count(went)) << "the file that went is still open";
    // A fresh file: the table is made again, and what is written stays at the path.
    EXPECT_EQ(-1, count("select count(*) from t"));
    ASSERT_TRUE(db_.execBatch(std::vector<std::string>{"create table t(v text)", "insert into t values('after')"}));

    db_.close();  // the next start
    EXPECT_EQ(1, countIn(dbFile(user), "select count(*) from t where v='after'"));
    EXPECT_EQ(0, countIn(dbFile(user), "select count(*) from t where v='before'"));
    if (moved) {
      EXPECT_EQ(1, countIn(movedTo + "/Postwing.db", "select count(*) from t where v='before'"));
      EXPECT_EQ(0, countIn(movedTo + "/Postwing.db", "select count(*) from t where v='after'"));
      fs::remove_all(movedTo);
    }
    fs::remove_all(folder);
  }
}

// The user's file held by another connection: by an earlier connection of this program that a
// cursor still keeps, or by another program (a forked child here: the user's second session,
// another computer on the same share). The open does not wait out the busy time-outs of its
// settings and then report success: it fails within a few seconds, logged, without any
// connection, so that statements fail at once instead of waiting a minute each. Once the file is
// free, the next open works and finds what the other connection wrote.
TEST_F(LocalDbTest, OpenOfAFileHeldElsewhereFailsFast) {
  for (const bool otherProgram : {false, true}) {
    SCOPED_TRACE(otherProgram ? "another program" : "a cursor of an earlier connection");
    ASSERT_EQ(0, db_.open("a@example.com"));
    ASSERT_TRUE(db_.execDML("drop table if exists t; create table t(v text); insert into t values('mine');"));
    CppSQLite3Query cursor;
    std::unique_ptr<FileHoldingChild> child;
    if (otherProgram) {
      db_.close();
      child.reset(new FileHoldingChild(dbFile("a@example.com")));
      ASSERT_TRUE(child->waitHolding());
    } else {
      ASSERT_TRUE(db_.execQuery("select v from t", cursor));
      ASSERT_EQ(0, db_.open("b@example.com"));  // A's connection stays with the cursor
    }

    IM_LogCapture cap;
    Clock::time_point start = Clock::now();
    int rc = db_.open("a@example.com");
    EXPECT_LT(secondsSince(start), 15.0);
    if (rc == 0) {
      // Where the other connection cannot keep the file to itself, this one must work.
      EXPECT_TRUE(db_.execDML("insert into t values('mine too')"));
    } else {
      EXPECT_EQ(-1, rc);
      EXPECT_EQ("", db_.path());
      EXPECT_TRUE(cap.contains("LocalDb::open")) << "no error logged";
      start = Clock::now();
      EXPECT_FALSE(db_.execDML("insert into t values('lost')"));
      CppSQLite3Query q;
      EXPECT_FALSE(db_.execQuery("select count(*) from t", q));
      EXPECT_LT(secondsSince(start), 5.0);
    }

    if (otherProgram) {
      EXPECT_EQ(0, child->finish());
    } else {
      EXPECT_EQ("mine", cursor.textField("v"));
      cursor.finalize();
    }
    ASSERT_EQ(0, db_.open("a@example.com"));
    EXPECT_EQ(60000, count("PRAGMA busy_timeout"));
    EXPECT_EQ(1, count("PRAGMA synchronous"));
    EXPECT_EQ(1, count("select count(*) from t where v='mine'"));
    EXPECT_EQ(otherProgram ? 1 : 0, count("select count(*) from t where v='other'"));
    EXPECT_TRUE(db_.execDML("insert into t values('after')"));
    db_.close();
  }
}

}  // namespace

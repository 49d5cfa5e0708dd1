// The net-disk tables on a database of the test's own: the statements as
// created, names with quotes, replacement on insert, block rows in one
// transaction, and the records read back.
#include "TestHome.h"
#include "client/SyncDb.h"
#include "db/LocalDb.h"

#include <gtest/gtest.h>

namespace {

class SyncDbTest : public ::testing::Test {
 protected:
  SyncDbTest() : sync(&db) {}
  void SetUp() override {
    ASSERT_EQ(0, db.open("alice@corp.com"));
    sync.init();
  }
  int count(const std::string& sql) {
    CppSQLite3Query q;
    if (!db.execQuery(sql, q) || q.eof()) return -1;
    return q.intField(q.fieldName(0));
  }
  std::string tableSql(const std::string& table) {
    CppSQLite3Query q;
    if (!db.execQuery("select sql from sqlite_master where name=?", CppSQLite3Params{table}, q) || q.eof())
      return "";
    return q.textField("sql");
  }
  UpFileTaskRecord task(const std::string& name, int64_t size) {
    UpFileTaskRecord r;
    r.relpath = name;
    r.localFile = "/data/" + name;
    r.size = size;
    r.mtime = "1700000000";
    r.blockSize = 524288;
    return r;
  }

  TestHome home;
  LocalDb db;
  SyncDb sync;
};

TEST_F(SyncDbTest, TablesAreCreatedOnceWithTheirStatements) {
  // SQLite keeps the text after its own upper-case "CREATE TABLE".
  EXPECT_EQ(
      "CREATE TABLE pw_upblock_task(              fileId integer,               blockIndex integer,"
      "               offset integer,               length integer)",
      tableSql("pw_upblock_task"));
  EXPECT_NE(std::string::npos, tableSql("pw_file").find("expireTime char(64),                      status"));
  EXPECT_NE(std::string::npos, tableSql("pw_upfile_task").find("xferSize bigint,"));
  FileEntryRecord f;
  f.relpath = "a.txt";
  ASSERT_EQ(0, sync.insertFile(f));
  sync.init();  // tables exist: nothing is lost
  EXPECT_EQ(1, count("select count(*) from pw_file"));
  // Block rows are found through an index of upload and block (a file made without it gets it).
  EXPECT_EQ(1, count("select count(*) from sqlite_master where type='index' and tbl_name='pw_upblock_task'"));
  ASSERT_TRUE(db.execDML("drop index PwUpBlockTaskIndex;"));
  sync.init();
  EXPECT_EQ(1, count("select count(*) from sqlite_master where type='index' and tbl_name='pw_upblock_task'"));
  CppSQLite3Query plan;
  ASSERT_TRUE(db.execQuery("explain query plan delete from pw_upblock_task where fileId=1 and blockIndex=2", plan));
  EXPECT_NE(std::string::npos, plan.textField("detail").find("PwUpBlockTaskIndex"));
}

TEST_F(SyncDbTest, NamesWithQuotesAreStoredAndFoundAsTheyAre) {
  const std::string names[] = {"it's.doc", "x' or '1'='1", "a''b"};
  for (const std::string& name : names) {
    FileEntryRecord f;
    f.relpath = name;
    f.size = 3000000000LL;  // beyond 32 bits
    f.expireTime = "2026-12-10";
    f.status = 1;
    f.dirFlag = 1;
    ASSERT_EQ(0, sync.insertFile(f)) << name;
    ASSERT_EQ(0, sync.insertUpFileTask(task(name, 10))) << name;
  }
  for (const std::string& name : names) {
    FileEntryRecord f;
    ASSERT_EQ(0, sync.getFile(name, 0, f)) << name;
    EXPECT_EQ(name, f.relpath);
    EXPECT_EQ(3000000000LL, f.size);
    EXPECT_EQ("2026-12-10", f.expireTime);
    EXPECT_EQ(1, f.status);
    EXPECT_EQ(1, f.dirFlag);
    UpFileTaskRecord t;
    ASSERT_EQ(0, sync.getUpFileTask(name, t));
    EXPECT_EQ("/data/" + name, t.localFile);
  }
  EXPECT_EQ(3, count("select count(*) from pw_file"));
  ASSERT_EQ(0, sync.deleteUpFileTask("x' or '1'='1", 0));
  EXPECT_EQ(2, count("select count(*) from pw_upfile_task"));
  EXPECT_EQ(-1, sync.deleteUpFileTask("x' or '1'='1", 0));
  ASSERT_EQ(0, sync.deleteFile("it's.doc", 0));
  EXPECT_EQ(2, count("select count(*) from pw_file"));
}

TEST_F(SyncDbTest, RecordsReadBackWithTheirDefaults) {
  FileEntryRecord f;
  f.relpath = "empty-date.bin";
  ASSERT_EQ(0, sync.insertFile(f));
  FileEntryRecord got;
  ASSERT_EQ(0, sync.getFile("empty-date.bin", 0, got));
  EXPECT_EQ("0", got.expireTime);
  EXPECT_EQ(0, got.dirFlag);
  // Any type but 0 selects type 1.
  FileEntryRecord typed;
  typed.relpath = "typed";
  typed.fileType = 1;
  ASSERT_EQ(0, sync.insertFile(typed));
  EXPECT_EQ(0, sync.getFile("typed", 7, got));
  EXPECT_EQ(-1, sync.getFile("typed", 0, got));
  // Empty names are refused without a statement.
  FileEntryRecord unnamed;
  EXPECT_EQ(-1, sync.insertFile(unnamed));
  EXPECT_EQ(-1, sync.updateFile(unnamed));
  EXPECT_EQ(-1, sync.insertUpFileTask(UpFileTaskRecord()));
  // updateFile writes size, date, status and the flag.
  f.size = 42;
  f.expireTime = "2026-01-02";
  f.dirFlag = 3;
  ASSERT_EQ(0, sync.updateFile(f));
  ASSERT_EQ(0, sync.getFile("empty-date.bin", 0, got));
  EXPECT_EQ(42, got.size);
  EXPECT_EQ("2026-01-02", got.expireTime);
  EXPECT_EQ(1, got.dirFlag);
}

// A file whose task table has no ownFile column (written by an earlier version) gets it at
// init; its rows stay readable and read as proving nothing on the server. The column then keeps
// each value through insert, update and listing.
TEST_F(SyncDbTest, AnEarlierTaskTableGetsTheOwnFileColumnAndItsRowsProveNothing) {
  ASSERT_TRUE(db.execDML("drop table pw_upfile_task;"));
  ASSERT_TRUE(db.execDML(
      "create table pw_upfile_task(id integer primary key autoincrement, fileType integer, relpath char(256),"
      " localFile char(256), size bigint, md5 char(64), mtime char(64), blockSize integer, xferSize bigint,"
      " status integer);"));
  ASSERT_TRUE(db.execDML("insert into pw_upfile_task(fileType,relpath,localFile,size,md5,mtime,blockSize,xferSize,"
                         "status) values(0,'old.bin','/data/old.bin',1000,'','1700000000',524288,0,0);"));
  sync.init();
  sync.init();  // once only
  UpFileTaskRecord got;
  ASSERT_EQ(0, sync.getUpFileTask("old.bin", got));
  EXPECT_EQ("/data/old.bin", got.localFile);
  EXPECT_EQ(1000, got.size);
  EXPECT_EQ(OWNFILE_NONE, got.ownFile);
  for (int own : {OWNFILE_CREATED, OWNFILE_NONE}) {
    got.ownFile = own;
    ASSERT_EQ(0, sync.updateUpFileTask(got));
    UpFileTaskRecord again;
    ASSERT_EQ(0, sync.getUpFileTask("old.bin", again));
    EXPECT_EQ(own, again.ownFile);
  }
  UpFileTaskRecord fresh = task("new.bin", 10);
  fresh.ownFile = OWNFILE_CREATED;
  ASSERT_EQ(0, sync.insertUpFileTask(fresh));
  std::vector<UpFileTaskRecord> all;
  ASSERT_EQ(0, sync.listUpFileTasks(all));
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(OWNFILE_NONE, all[0].ownFile);
  EXPECT_EQ(OWNFILE_CREATED, all[1].ownFile);
  // A value no version writes reads as none.
  ASSERT_TRUE(db.execDML("update pw_upfile_task set ownFile=2;"));
  ASSERT_EQ(0, sync.getUpFileTask("new.bin", got));
  EXPECT_EQ(OWNFILE_NONE, got.ownFile);
}

TEST_F(SyncDbTest, TaskRowsAreReplacedListedAndUpdated) {
  ASSERT_EQ(0, sync.insertUpFileTask(task("a.bin", 1048577)));
  int firstId = sync.findUpFileTaskId("a.bin", 0);
  ASSERT_GT(firstId, 0);
  UpBlockTaskRecord b;
  b.fileId = firstId;
  b.length = 524288;
  ASSERT_EQ(0, sync.insertUpBlockTasks(b, 3));
  ASSERT_EQ(0, sync.insertUpFileTask(task("b.bin", 5)));
  // A second task of the same name drops the first with its blocks.
  ASSERT_EQ(0, sync.insertUpFileTask(task("a.bin", 7)));
  EXPECT_NE(firstId, sync.findUpFileTaskId("a.bin", 0));
  EXPECT_EQ(0, count("select count(*) from pw_upblock_task"));

  std::vector<UpFileTaskRecord> rows;
  ASSERT_EQ(0, sync.listUpFileTasks(rows));
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("b.bin", rows[0].relpath);
  EXPECT_EQ("/data/b.bin", rows[0].localFile);
  EXPECT_EQ("a.bin", rows[1].relpath);
  EXPECT_EQ(7, rows[1].size);
  EXPECT_EQ(524288, rows[1].blockSize);

  UpFileTaskRecord t = task("a.bin", 7);
  t.xferSize = 2200000000LL;
  t.status = 1;
  ASSERT_EQ(0, sync.updateUpFileTask(t));
  UpFileTaskRecord got;
  ASSERT_EQ(0, sync.getUpFileTask("a.bin", got));
  EXPECT_EQ(2200000000LL, got.xferSize);
  EXPECT_EQ(1, got.status);
  EXPECT_EQ("1700000000", got.mtime);
  EXPECT_EQ(-1, sync.updateUpFileTask(task("missing", 1)));
  EXPECT_EQ(-1, sync.getUpFileTask("missing", got));
}

TEST_F(SyncDbTest, BlockRowsFromATemplateInOneTransaction) {
  ASSERT_EQ(0, sync.insertUpFileTask(task("big.bin", 30000000)));
  int id = sync.findUpFileTaskId("big.bin", 0);
  UpBlockTaskRecord first;
  first.fileId = id;
  first.blockIndex = 50;
  first.offset = 26214400;
  first.length = 524288;
  ASSERT_EQ(0, sync.insertUpBlockTasks(first, 3));
  std::vector<UpBlockTaskRecord> rows;
  ASSERT_EQ(0, sync.listUpBlockTasks("big.bin", rows));
  ASSERT_EQ(3u, rows.size());
  const int64_t offsets[] = {26214400, 26738688, 27262976};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(id, rows[i].fileId);
    EXPECT_EQ(50 + i, rows[i].blockIndex);
    EXPECT_EQ(offsets[i], rows[i].offset);
    EXPECT_EQ(524288, rows[i].length);
  }
  EXPECT_EQ(-1, sync.insertUpBlockTasks(first, 0));
  ASSERT_EQ(0, sync.deleteUpBlockTask("big.bin", 51));
  rows.clear();
  ASSERT_EQ(0, sync.listUpBlockTasks("big.bin", rows));
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(52, rows[1].blockIndex);
  EXPECT_EQ(-1, sync.listUpBlockTasks("missing", rows));
  EXPECT_EQ(-1, sync.deleteUpBlockTask("missing", 0));

  // One failing row undoes the whole group.
  ASSERT_TRUE(db.execDML("create trigger no61 before insert on pw_upblock_task when new.blockIndex=61 "
                         "begin select raise(abort,'refused'); end;"));
  first.blockIndex = 60;
  EXPECT_EQ(-1, sync.insertUpBlockTasks(first, 3));
  EXPECT_EQ(0, count("select count(*) from pw_upblock_task where blockIndex>=60"));
}

}  // namespace

namespace {

// A confirmed block leaves its row exactly when its bytes are counted: a failure in between
// changes neither, and a block booked twice is counted once.
TEST_F(SyncDbTest, ConfirmedBlockIsBookedInOneTransaction) {
  UpFileTaskRecord r = task("t.bin", 3 * 524288);
  r.status = 1;
  ASSERT_EQ(0, sync.insertUpFileTask(r));
  int id = sync.findUpFileTaskId("t.bin", 0);
  UpBlockTaskRecord first;
  first.fileId = id;
  first.blockIndex = 0;
  first.offset = 0;
  first.length = 524288;
  ASSERT_EQ(0, sync.insertUpBlockTasks(first, 3));

  // The task row cannot be written (as a full disk would have it).
  ASSERT_TRUE(db.execDML("create trigger stuck before update on pw_upfile_task begin select raise(abort, 'full'); end;"));
  EXPECT_EQ(-1, sync.bookConfirmedBlock("t.bin", 1, 524288));
  EXPECT_EQ(3, count("select count(*) from pw_upblock_task"));
  EXPECT_EQ(0, count("select xferSize from pw_upfile_task"));

  ASSERT_TRUE(db.execDML("drop trigger stuck;"));
  EXPECT_EQ(0, sync.bookConfirmedBlock("t.bin", 1, 524288));
  EXPECT_EQ(0, sync.bookConfirmedBlock("t.bin", 1, 524288));  // again: nothing more is counted
  EXPECT_EQ(2, count("select count(*) from pw_upblock_task"));
  EXPECT_EQ(524288, count("select xferSize from pw_upfile_task"));
  EXPECT_EQ(-1, sync.bookConfirmedBlock("nobody.bin", 0, 10));
}

// Replacing a task row is one transaction: when the new row cannot be written, the old row and
// its block rows stay. The digest of a whole-second upload moves with its booked block, once.
TEST_F(SyncDbTest, AReplacedTaskRowIsNeverLostAndTheDigestMovesWithItsBlock) {
  UpFileTaskRecord r = task("t.bin", 2 * 524288);
  r.status = 1;
  ASSERT_EQ(0, sync.insertUpFileTask(r));
  UpBlockTaskRecord first;
  first.fileId = sync.findUpFileTaskId("t.bin", 0);
  first.length = 524288;
  ASSERT_EQ(0, sync.insertUpBlockTasks(first, 2));

  ASSERT_TRUE(db.execDML("create trigger stuck before insert on pw_upfile_task begin select raise(abort, 'full'); end;"));
  UpFileTaskRecord fresh = task("t.bin", 5);
  EXPECT_EQ(-1, sync.insertUpFileTask(fresh));
  UpFileTaskRecord kept;
  ASSERT_EQ(0, sync.getUpFileTask("t.bin", kept));
  EXPECT_EQ(2 * 524288, kept.size);
  EXPECT_EQ(1, kept.status);
  EXPECT_EQ(2, count("select count(*) from pw_upblock_task"));
  ASSERT_TRUE(db.execDML("drop trigger stuck;"));

  const std::string digest(32, 'a');
  EXPECT_EQ(0, sync.bookConfirmedBlock("t.bin", 0, 524288, &digest));
  const std::string other(32, 'b');
  EXPECT_EQ(0, sync.bookConfirmedBlock("t.bin", 0, 524288, &other));  // booked already: nothing changes
  ASSERT_EQ(0, sync.getUpFileTask("t.bin", kept));
  EXPECT_EQ(digest, kept.md5);
  EXPECT_EQ(524288, kept.xferSize);
}

}  // namespace

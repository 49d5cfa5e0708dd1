#include "client/SyncDb.h"

#include "db/LocalDb.h"
#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <functional>

namespace {

const char* const kCreateFile =
    "create table pw_file(                     id integer primary key autoincrement,"
    "                      fileType integer,"
    "                      relpath char(256),"
    "                      size bigint,"
    "                      expireTime char(64),"
    "                      status integer,"
    "                      dirFlag integer);";
const char* const kCreateUpFileTask =
    "create table pw_upfile_task(                     id integer primary key autoincrement,"
    "                      fileType integer,"
    "                      relpath char(256),"
    "                      localFile char(256),"
    "                      size bigint,"
    "                      md5 char(64),"
    "                      mtime char(64),"
    "                      blockSize integer,"
    "                      xferSize bigint,"
    "                      status integer,"
    "                      ownFile integer default 0);";
const char* const kCreateUpBlockTask =
    "create table pw_upblock_task(              fileId integer,"
    "               blockIndex integer,"
    "               offset integer,"
    "               length integer);";

const char* const kInsertBlock =
    "insert into pw_upblock_task(fileId,blockIndex,offset,length) values(?,?,?,?)";

// The columns of a task row, as readTask reads them.
const char* const kTaskColumns = "id,relpath,localFile,size,md5,mtime,blockSize,xferSize,status,ownFile";

int typeOf(int fileType) { return fileType == 0 ? 0 : 1; }

void readTask(const CppSQLite3Query& q, UpFileTaskRecord& r) {
  r.id = q.intField("id");
  r.fileType = 0;
  r.relpath = q.textField("relpath");
  r.localFile = q.textField("localFile");
  r.size = q.int64Field("size");
  r.md5 = q.textField("md5");
  r.mtime = q.textField("mtime");
  r.blockSize = q.intField("blockSize");
  r.xferSize = q.int64Field("xferSize");
  r.status = q.intField("status");
  const int own = q.intField("ownFile");  // NULL (a row written before the column) reads 0
  r.ownFile = own == OWNFILE_CREATED ? own : OWNFILE_NONE;
}

// Runs the query and hands its rows to `row`, only the first one with `firstOnly`. 0; -1 when
// the query fails, when `firstOnly` finds no row, or when a row cannot be read (logged as `who`).
int readRows(LocalDb* db, const char* who, const std::string& sql, const CppSQLite3Params& params, bool firstOnly,
             const std::function<void(CppSQLite3Query&)>& row) {
  CppSQLite3Query q;
  if (!db->execQuery(sql, params, q)) return -1;
  try {
    if (firstOnly && q.eof()) return -1;
    for (; !q.eof(); q.nextRow()) {
      row(q);
      if (firstOnly) break;
    }
    return 0;
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("%s, [error = %s]", who, e.errorMessage());
    return -1;
  }
}

}  // namespace

SyncDb* SyncDb::instance() { return SyncDbSingleton::instance(); }

SyncDb::SyncDb(LocalDb* db) : db_(db) {}

LocalDb* SyncDb::db() const { return db_ != 0 ? db_ : LocalDb::instance(); }

void SyncDb::init() {
  IM_TRACE("SyncDb::init");
  createFileTable();
  createUpFileTaskTable();
  createUpBlockTaskTable();
  // Whether the server holds a file the upload created: rows written before the column read 0,
  // "nothing proven there".
  bool hasOwnFile = false;
  readRows(db(), "SyncDb::init", "pragma table_info(pw_upfile_task)", CppSQLite3Params(), false,
           [&](CppSQLite3Query& q) { hasOwnFile = hasOwnFile || q.textField("name") == std::string("ownFile"); });
  if (!hasOwnFile) db()->execDML("alter table pw_upfile_task add column ownFile integer default 0;");
  // Each confirmed block is looked up and deleted by its upload and index: without an index
  // that is a scan of every block row left, per block (a 1 GiB upload has 2,048). Files made
  // before the index get it here.
  db()->execDML("CREATE INDEX IF NOT EXISTS PwUpBlockTaskIndex ON pw_upblock_task (fileId, blockIndex);");
  // In WAL mode a commit then reaches the log without waiting for the disk: a crash of the
  // program loses nothing committed, only a crash of the machine may lose the last commits
  // (never the database's consistency). Uploads book a commit per confirmed block.
  db()->execDML("PRAGMA synchronous=NORMAL;");
}

int SyncDb::bookConfirmedBlock(const std::string& name, int blockIndex, int64_t length, const std::string* md5) {
  int id = findUpFileTaskId(name, 0);
  if (id < 0) return -1;
  // One transaction: the block leaves the list exactly when its bytes are counted (and, with
  // `md5`, the task's md5 column takes that value), and a block booked twice is counted once.
  std::vector<CppSQLite3Command> batch;
  if (md5 != 0)
    batch.push_back(CppSQLite3Command{
        "update pw_upfile_task set xferSize=xferSize+?,md5=? where id=? and exists "
        "(select 1 from pw_upblock_task where fileId=? and blockIndex=?)",
        CppSQLite3Params{static_cast<long long>(length), *md5, id, id, blockIndex}});
  else
    batch.push_back(CppSQLite3Command{
        "update pw_upfile_task set xferSize=xferSize+? where id=? and exists "
        "(select 1 from pw_upblock_task where fileId=? and blockIndex=?)",
        CppSQLite3Params{static_cast<long long>(length), id, id, blockIndex}});
  batch.push_back(CppSQLite3Command{"delete from pw_upblock_task where fileId=? and blockIndex=?",
                                    CppSQLite3Params{id, blockIndex}});
  return db()->execBatch(batch, true) ? 0 : -1;
}

int SyncDb::createFileTable() { return db()->createTable("pw_file", kCreateFile) ? 0 : -1; }

int SyncDb::createUpFileTaskTable() {
  return db()->createTable("pw_upfile_task", kCreateUpFileTask) ? 0 : -1;
}

int SyncDb::createUpBlockTaskTable() {
  return db()->createTable("pw_upblock_task", kCreateUpBlockTask) ? 0 : -1;
}

int SyncDb::insertFile(const FileEntryRecord& record) {
  FileEntryRecord old;
  if (getFile(record.relpath, record.fileType, old) == 0) deleteFile(record.relpath, record.fileType);
  if (record.relpath.empty()) return -1;
  CppSQLite3Params p{record.fileType, record.relpath, static_cast<long long>(record.size),
                     record.expireTime, record.status, record.dirFlag};
  return db()->execDML(
             "insert into pw_file(fileType,relpath,size,expireTime,status,dirFlag) "
             "values(?,?,?,?,?,?)",
             p)
             ? 0
             : -1;
}

int SyncDb::deleteFile(const std::string& name, int fileType) {
  return db()->execDML("delete from pw_file where relpath=? and fileType=?",
                       CppSQLite3Params{name, typeOf(fileType)})
             ? 0
             : -1;
}

int SyncDb::deleteFilesOfType() {
  return db()->execDML("delete from pw_file where fileType=?", CppSQLite3Params{0}) ? 0 : -1;
}

int SyncDb::updateFile(const FileEntryRecord& record) {
  if (record.relpath.empty()) return -1;
  CppSQLite3Params p{static_cast<long long>(record.size), record.expireTime, record.status,
                     record.dirFlag != 0 ? 1 : 0, record.relpath, typeOf(record.fileType)};
  return db()->execDML(
             "update pw_file set size=?,expireTime=?,status=?,dirFlag=? where relpath=? and fileType=?", p)
             ? 0
             : -1;
}

int SyncDb::getFile(const std::string& name, int fileType, FileEntryRecord& record) {
  return readRows(db(), "SyncDb::getFile",
                  "select fileType,relpath,size,expireTime,status,dirFlag from pw_file where relpath=? and fileType=?",
                  CppSQLite3Params{name, typeOf(fileType)}, true, [&](CppSQLite3Query& q) {
                    record.fileType = q.intField("fileType");
                    record.relpath = name;
                    record.size = q.int64Field("size");
                    record.expireTime = q.textField("expireTime");
                    if (record.expireTime.empty()) record.expireTime = "0";
                    record.status = q.intField("status");
                    record.dirFlag = q.intField("dirFlag") == 1 ? 1 : 0;
                  });
}

int SyncDb::findUpFileTaskId(const std::string& name, int fileType) {
  int id = -1;
  readRows(db(), "SyncDb::findUpFileTaskId", "select id from pw_upfile_task where relpath=? and fileType=?",
           CppSQLite3Params{name, typeOf(fileType)}, true, [&](CppSQLite3Query& q) { id = q.intField("id"); });
  return id;
}

int SyncDb::insertUpFileTask(const UpFileTaskRecord& record) {
  if (record.relpath.empty()) return -1;
  // The old row and its block rows go and the new row comes in one transaction: a failure
  // (or a crash) between them cannot lose the upload's record.
  std::vector<CppSQLite3Command> batch;
  int id = findUpFileTaskId(record.relpath, record.fileType);
  if (id >= 0) {
    batch.push_back(CppSQLite3Command{"delete from pw_upfile_task where id=?", CppSQLite3Params{id}});
    batch.push_back(CppSQLite3Command{"delete from pw_upblock_task where fileId=?", CppSQLite3Params{id}});
  }
  batch.push_back(CppSQLite3Command{
      "insert into pw_upfile_task(fileType,relpath,localFile,size,md5,mtime,blockSize,xferSize,status,ownFile) "
      "values(?,?,?,?,?,?,?,?,?,?)",
      CppSQLite3Params{record.fileType, record.relpath, record.localFile, static_cast<long long>(record.size),
                       record.md5, record.mtime, record.blockSize, static_cast<long long>(record.xferSize),
                       record.status, record.ownFile}});
  return db()->execBatch(batch, true) ? 0 : -1;
}

int SyncDb::deleteUpFileTask(const std::string& name, int fileType) {
  int id = findUpFileTaskId(name, fileType);
  if (id < 0) return -1;
  std::vector<CppSQLite3Command> batch;
  batch.push_back(CppSQLite3Command{"delete from pw_upfile_task where id=?", CppSQLite3Params{id}});
  batch.push_back(CppSQLite3Command{"delete from pw_upblock_task where fileId=?", CppSQLite3Params{id}});
  return db()->execBatch(batch, true) ? 0 : -1;
}

int SyncDb::updateUpFileTask(const UpFileTaskRecord& record) {
  int id = findUpFileTaskId(record.relpath, record.fileType);
  if (id < 0) return -1;
  return db()->execDML("update pw_upfile_task set xferSize=?,status=?,ownFile=? where id=?",
                       CppSQLite3Params{static_cast<long long>(record.xferSize), record.status,
                                        record.ownFile, id})
             ? 0
             : -1;
}

int SyncDb::getUpFileTask(const std::string& name, UpFileTaskRecord& record) {
  int id = findUpFileTaskId(name, 0);
  if (id < 0) return -1;
  UpFileTaskRecord read;
  if (readRows(db(), "SyncDb::getUpFileTask", std::string("select ") + kTaskColumns + " from pw_upfile_task where id=?",
               CppSQLite3Params{id}, true, [&](CppSQLite3Query& q) { readTask(q, read); }) != 0)
    return -1;
  record = read;
  record.relpath = name;
  return 0;
}

int SyncDb::listUpFileTasks(std::vector<UpFileTaskRecord>& records) {
  return readRows(db(), "SyncDb::listUpFileTasks",
                  std::string("select ") + kTaskColumns + " from pw_upfile_task where fileType=0 order by id",
                  CppSQLite3Params(), false, [&](CppSQLite3Query& q) {
                    UpFileTaskRecord r;
                    readTask(q, r);
                    records.push_back(r);
                  });
}

int SyncDb::insertUpBlockTask(const UpBlockTaskRecord& record) {
  return db()->execDML(kInsertBlock, CppSQLite3Params{record.fileId, record.blockIndex,
                                                      static_cast<long long>(record.offset), record.length})
             ? 0
             : -1;
}

int SyncDb::insertUpBlockTasks(const UpBlockTaskRecord& first, int count) {
  std::vector<CppSQLite3Command> batch;
  for (int i = 0; i < count; ++i) {
    long long offset = static_cast<long long>(first.length) * i + first.offset;
    batch.push_back(CppSQLite3Command{
        kInsertBlock, CppSQLite3Params{first.fileId, first.blockIndex + i, offset, first.length}});
  }
  return db()->execBatch(batch, true) ? 0 : -1;
}

int SyncDb::listUpBlockTasks(const std::string& name, std::vector<UpBlockTaskRecord>& records) {
  int id = findUpFileTaskId(name, 0);
  if (id < 0) return -1;
  // Ordered by block as well, so a resumed upload sends its blocks in order.
  return readRows(db(), "SyncDb::listUpBlockTasks",
                  "select blockIndex,offset,length from pw_upblock_task where fileId=? order by fileId,blockIndex",
                  CppSQLite3Params{id}, false, [&](CppSQLite3Query& q) {
                    UpBlockTaskRecord r;
                    r.fileId = id;
                    r.blockIndex = q.intField("blockIndex");
                    r.offset = q.int64Field("offset");
                    r.length = q.intField("length");
                    records.push_back(r);
                  });
}

int SyncDb::deleteUpBlockTask(const std::string& name, int blockIndex) {
  int id = findUpFileTaskId(name, 0);
  if (id < 0) return -1;
  return db()->execDML("delete from pw_upblock_task where fileId=? and blockIndex=?",
                       CppSQLite3Params{id, blockIndex})
             ? 0
             : -1;
}

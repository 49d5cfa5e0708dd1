#include "db/LocalDb.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <unordered_map>

#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"
#include "win32/profile.h"

namespace {

const size_t kMaxUserIdBytes = 255;  // one folder name
const int kOpenBusyTimeoutMs = 2000;

}  // namespace

// The device and inode of the file a path names now; false when nothing is there.
bool LocalDb::FileId::of(const std::string& utf8Path, FileId& out) {
  struct stat st;
  if (stat(utf8Path.c_str(), &st) != 0) return false;
  out.dev = static_cast<unsigned long long>(st.st_dev);
  out.ino = static_cast<unsigned long long>(st.st_ino);
  return true;
}

LocalDb* LocalDb::instance() { return ACE_Singleton<LocalDb, ACE_Thread_Mutex>::instance(); }

LocalDb::LocalDb() {
  db_.setBusyTimeout(CppSQLite3DB::DEFAULT_BUSY_TIMEOUT_MS);  // a minute per statement
  // The open itself waits briefly: a file that another connection holds (another program on the
  // same documents folder, or an earlier connection of this one that a cursor still keeps) fails
  // the open instead of holding every caller of this object for a busy time-out per setting.
  db_.setOpenBusyTimeout(kOpenBusyTimeoutMs);
  // One connection per process and one process per user: the file is this connection's alone,
  // and the WAL index stays in memory instead of a file mapped from the (network) folder.
  db_.setExclusiveLocking(true);
  // See the header: commits survive a crash of the program without a disk sync each.
  // Reads copy pages with ordinary reads, never through a memory map, whatever SQLite's build
  // default: the file may sit on a redirected documents folder on a network share, where an I/O
  // error on a mapped page would kill the program instead of failing one statement. A page cache
  // of up to 64 MiB instead keeps the contact table of a large book in memory after its first
  // scan, so the keyword search (which reads every row) does not read each page again.
  db_.setOpenSettings({"PRAGMA synchronous=NORMAL;", "PRAGMA mmap_size=0;", "PRAGMA cache_size=-65536;"});
}

LocalDb::~LocalDb() { close(); }

std::string LocalDb::getDocumentsPath() {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &list) != 0 || list == nullptr) return std::string();
  char longPath[MAX_PATH] = {0};
  BOOL found = SHGetPathFromIDListA(list, longPath);
  ILFree(list);
  if (!found) return std::string();
  char shortPath[MAX_PATH] = {0};
  DWORD n = GetShortPathNameA(longPath, shortPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(shortPath, n);
}

bool LocalDb::isSafeUserId(const std::string& userId) {
  if (userId.empty() || userId.size() > kMaxUserIdBytes || userId == "." || userId == ".." ||
      userId.find('?') != std::string::npos)
    return false;
  // Checked after decoding: a GBK trail byte may equal "\\" or "|". Bytes that
  // are not GBK decode to "?".
  std::string utf8 = CodingTransform::gb2312_to_utf8(userId);
  for (unsigned char c : utf8)
    if (c < 0x20 || c == 0x7F || strchr("/\\:*?\"<>|", c) != nullptr) return false;
  return true;
}

int LocalDb::open(const std::string& userId) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, -1);
  const bool safe = isSafeUserId(userId);
  const std::string documents = safe ? getDocumentsPath() : std::string();
  const std::string folder = documents + "/Postwing/";
  const std::string utf8 = CodingTransform::gb2312_to_utf8(folder + userId + "/Postwing.db");
  // The login opens the user's file and the net-disk engine opens the same user right after:
  // the connection stays as it is. A second connection would have to wait for every cursor of
  // this one before it could take the file. It stays only while the path still names the very
  // file it has open (another name of it too: a link, a user id in another case on a disk that
  // ignores case): when the user's folder was removed or moved meanwhile, the connection would
  // write on into a file that is gone or elsewhere, and the next start would not find the rows.
  FileId atPath;
  if (!documents.empty() && !path_.empty() && FileId::of(utf8, atPath) && atPath == openFile_) return 0;
  // The old user's connection goes first: a failed open must leave no
  // connection rather than the previous user's.
  dropKeptStatements();
  try {
    db_.close();
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("LocalDb::open, closing the previous database failed: %s", e.errorMessage());
  }
  path_.clear();
  if (!safe) {
    IM_LOG_ERROR("LocalDb::open, refused user id [%s]", userId.c_str());
    return -1;
  }
  if (documents.empty()) {
    IM_LOG_ERROR("LocalDb::open, documents folder not found");
    return -1;
  }
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + userId + "/").c_str(), nullptr);
  // Refused settings or a file held by another connection fail the open (within the open's
  // short busy time-out) and leave no connection: statements then fail at once.
  try {
    db_.open(utf8.c_str());
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("LocalDb::open, [path = %s, error = %s]", utf8.c_str(), e.errorMessage());
    return -1;
  }
  path_ = utf8;
  // The file just opened (the connection holds it; nothing can have replaced it since). When
  // it cannot be read, no later open of the user keeps the connection.
  if (!FileId::of(utf8, openFile_)) openFile_ = FileId();
  return 0;
}

void LocalDb::close() {
  ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
  dropKeptStatements();
  try {
    db_.close();
  } catch (const CppSQLite3Exception&) {
  }
  path_.clear();
}

std::string LocalDb::path() const {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, std::string());
  return path_;
}

bool LocalDb::createTable(const std::string& name, const std::string& createSql) {
  if (name.empty() || createSql.empty()) return false;
  // The check and the creation under one lock, so two threads cannot both
  // find the table missing.
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  try {
    if (db_.tableExists(name.c_str())) return true;
    db_.execDML(createSql.c_str());
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

bool LocalDb::execDML(const std::string& sql) {
  if (sql.empty()) return false;
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  try {
    db_.execDML(sql.c_str());
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

bool LocalDb::execDML(const std::string& sql, const CppSQLite3Params& params) {
  if (sql.empty()) return false;
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  try {
    db_.execDML(sql.c_str(), params);
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

// The statements of batches, compiled once and kept for the connection's later batches: the
// upload books every confirmed block in a batch of its own, the contact table is filled in
// batches of one INSERT. Finalized before the connection closes. Guarded by mutex_.
struct LocalDb::BatchStatements {
  static const size_t MAX_TEXTS = 32;  // at most this many texts are kept
  std::unordered_map<std::string, std::unique_ptr<CppSQLite3Statement>> byText;

  // The statement of `sql`, compiled on first use. A text that would be one too many drops the
  // kept ones first, within a batch too (each has run to its end and been reset: none is in use).
  CppSQLite3Statement& get(CppSQLite3DB& db, const std::string& sql) {
    auto it = byText.find(sql);
    if (it != byText.end() && it->second) return *it->second;
    std::unique_ptr<CppSQLite3Statement> made(new CppSQLite3Statement(db.compileStatement(sql.c_str())));
    if (byText.size() >= MAX_TEXTS) byText.clear();
    std::unique_ptr<CppSQLite3Statement>& slot = byText[sql];
    slot = std::move(made);
    return *slot;
  }
};

void LocalDb::dropKeptStatements() { kept_.reset(); }

bool LocalDb::beginTransaction() {
  try {
    kept_->get(db_, "begin transaction;").execDML();
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

bool LocalDb::commitTransaction() {
  try {
    kept_->get(db_, "commit transaction;").execDML();
    return true;
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("LocalDb::execBatch, commit failed: %s", e.errorMessage());
    return false;
  }
}

bool LocalDb::rollbackTransaction() {
  try {
    kept_->get(db_, "rollback transaction;").execDML();
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

int LocalDb::execInTransaction(const std::string& sql, BatchStatements&) {
  if (sql.empty()) return 0;
  try {
    db_.execDML(sql.c_str());
    return 0;
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("LocalDb::execBatch, statement failed: %s", e.errorMessage());
    return e.errorCode();
  }
}

int LocalDb::execInTransaction(const CppSQLite3Command& command, BatchStatements& compiled) {
  if (command.sql.empty()) return 0;
  try {
    CppSQLite3Statement& stmt = compiled.get(db_, command.sql);
    stmt.bindAll(command.params);
    stmt.execDML();  // resets the statement, after a failure too
    return 0;
  } catch (const CppSQLite3Exception& e) {
    IM_LOG_ERROR("LocalDb::execBatch, statement failed: %s", e.errorMessage());
    return e.errorCode();
  }
}

template <typename Stmt>
bool LocalDb::runBatch(const std::vector<Stmt>& stmts, bool rollbackOnFailure, BatchOutcome& outcome) {
  outcome = BatchOutcome();
  if (stmts.empty()) return false;
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  if (!kept_) kept_.reset(new BatchStatements());
  if (!beginTransaction()) return false;
  size_t& failures = outcome.failed;
  BatchStatements& compiled = *kept_;
  for (const Stmt& stmt : stmts) {
    const int code = execInTransaction(stmt, compiled);
    if (code == 0) continue;
    ++failures;
    if ((code & 0xFF) == SQLITE_CONSTRAINT) ++outcome.refusedByConstraint;
    if (!db_.inTransaction()) {
      // SQLite ended the transaction itself (disk full, I/O error); what
      // follows would run outside it, so the batch stops here.
      IM_LOG_ERROR("LocalDb::execBatch, transaction rolled back by SQLite");
      return false;
    }
    if (rollbackOnFailure) {
      rollbackTransaction();
      return false;
    }
  }
  if (!commitTransaction()) {
    rollbackTransaction();
    return false;
  }
  outcome.committed = true;
  if (failures > 0)
    IM_LOG_ERROR("LocalDb::execBatch, %zu of %zu statements failed", failures, stmts.size());
  return failures == 0;
}

bool LocalDb::execBatch(const std::vector<std::string>& sqls, bool rollbackOnFailure) {
  BatchOutcome outcome;
  return runBatch(sqls, rollbackOnFailure, outcome);
}

bool LocalDb::execBatch(const std::vector<CppSQLite3Command>& commands, bool rollbackOnFailure) {
  BatchOutcome outcome;
  return runBatch(commands, rollbackOnFailure, outcome);
}

bool LocalDb::execBatch(const std::vector<CppSQLite3Command>& commands, bool rollbackOnFailure,
                        BatchOutcome& outcome) {
  return runBatch(commands, rollbackOnFailure, outcome);
}

bool LocalDb::execQuery(const std::string& sql, CppSQLite3Query& result) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  try {
    result = db_.execQuery(sql.c_str());
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

bool LocalDb::execQuery(const std::string& sql, const CppSQLite3Params& params, CppSQLite3Query& result) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
  try {
    result = db_.execQuery(sql.c_str(), params);
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

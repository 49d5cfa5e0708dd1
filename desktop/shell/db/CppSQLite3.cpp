#include "db/CppSQLite3.h"

#include <cstring>
#include <string>

#include "db/SqlLike.h"

namespace {

const char* kDbNotOpen = "Database not open";
const char* kNullVM = "Null Virtual Machine pointer";
const char* kBadFieldName = "Invalid field name requested";
const char* kBadFieldIndex = "Invalid field index requested";
const char* kBadScalar = "Invalid scalar query";
const char* kCannotClose = "Unable to close database";
const char* kBadParamCount = "Invalid parameter count";

[[noreturn]] void throwDbError(int code, sqlite3* db) {
  throw CppSQLite3Exception(code, db != nullptr ? sqlite3_errmsg(db) : "");
}

}  // namespace

// ---- CppSQLite3Exception --------------------------------------------------

CppSQLite3Exception::CppSQLite3Exception(int errCode, const char* detail)
    : errCode_(errCode),
      errMessage_(sqlite3_mprintf("%s[%d]: %s", errorCodeAsString(errCode), errCode,
                                  detail != nullptr ? detail : "")) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : errCode_(other.errCode_), errMessage_(sqlite3_mprintf("%s", other.errorMessage())) {}

CppSQLite3Exception& CppSQLite3Exception::operator=(const CppSQLite3Exception& other) {
  if (this != &other) {
    char* copy = sqlite3_mprintf("%s", other.errorMessage());
    sqlite3_free(errMessage_);
    errMessage_ = copy;
    errCode_ = other.errCode_;
  }
  return *this;
}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(errMessage_); }

const char* CppSQLite3Exception::errorCodeAsString(int errCode) {
  static const char* const kNames[] = {
      "SQLITE_OK",       "SQLITE_ERROR",    "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",
      "SQLITE_BUSY",     "SQLITE_LOCKED",   "SQLITE_NOMEM",    "SQLITE_READONLY", "SQLITE_INTERRUPT",
      "SQLITE_IOERR",    "SQLITE_CORRUPT",  "SQLITE_NOTFOUND", "SQLITE_FULL",     "SQLITE_CANTOPEN",
      "SQLITE_PROTOCOL", "SQLITE_EMPTY",    "SQLITE_SCHEMA",   "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
      "SQLITE_MISMATCH", "SQLITE_MISUSE",   "SQLITE_NOLFS",    "SQLITE_AUTH",     "SQLITE_FORMAT",
      "SQLITE_RANGE"};
  if (errCode >= 0 && errCode <= 25) return kNames[errCode];
  switch (errCode) {
    case 100: return "SQLITE_ROW";
    case 101: return "SQLITE_DONE";
    case CPPSQLITE_ERROR: return "CPPSQLITE_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

// ---- CppSQLite3Query ------------------------------------------------------

CppSQLite3Query::CppSQLite3Query() : db_(nullptr), vm_(nullptr), eof_(true), cols_(0), ownVM_(false) {}

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* vm, bool eof, bool ownVM)
    : db_(db), vm_(vm), eof_(eof), cols_(vm != nullptr ? sqlite3_column_count(vm) : 0), ownVM_(ownVM) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : db_(other.db_), vm_(other.vm_), eof_(other.eof_), cols_(other.cols_), ownVM_(other.ownVM_) {
  other.vm_ = nullptr;
  other.ownVM_ = false;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this == &other) return *this;
  try {
    finalize();
  } catch (const CppSQLite3Exception&) {
  }
  db_ = other.db_;
  vm_ = other.vm_;
  eof_ = other.eof_;
  cols_ = other.cols_;
  ownVM_ = other.ownVM_;
  other.vm_ = nullptr;
  other.ownVM_ = false;
  return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
  try {
    finalize();
  } catch (const CppSQLite3Exception&) {
  }
}

void CppSQLite3Query::checkVM() const {
  if (vm_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullVM);
}

int CppSQLite3Query::numFields() const {
  checkVM();
  return cols_;
}

int CppSQLite3Query::fieldIndex(const char* name) const {
  checkVM();
  if (name != nullptr) {
    for (int i = 0; i < cols_; ++i) {
      const char* col = sqlite3_column_name(vm_, i);
      if (col != nullptr && strcmp(name, col) == 0) return i;
    }
  }
  throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadFieldName);
}

const char* CppSQLite3Query::fieldName(int index) const {
  checkVM();
  if (index < 0 || index >= cols_) throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadFieldIndex);
  return sqlite3_column_name(vm_, index);
}

int CppSQLite3Query::fieldDataType(int index) const {
  checkVM();
  if (index < 0 || index >= cols_) throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadFieldIndex);
  return sqlite3_column_type(vm_, index);
}

bool CppSQLite3Query::eof() const {
  checkVM();
  return eof_;
}

void CppSQLite3Query::nextRow() {
  checkVM();
  int rc = sqlite3_step(vm_);
  if (rc == SQLITE_DONE) {
    eof_ = true;
  } else if (rc == SQLITE_ROW) {
    eof_ = false;
  } else {
    // The text first: when the connection was closed under this cursor, the
    // finalize below releases it, and it can no longer be asked. Such a
    // closed connection answers every question with "misuse" already: the
    // step's own code then gives the text.
    std::string message;
    if (db_ != nullptr) {
      message = sqlite3_errcode(db_) == SQLITE_MISUSE && rc != SQLITE_MISUSE ? sqlite3_errstr(rc)
                                                                              : sqlite3_errmsg(db_);
    }
    sqlite3_finalize(vm_);
    vm_ = nullptr;
    ownVM_ = false;
    throw CppSQLite3Exception(rc, message.c_str());
  }
}

void CppSQLite3Query::finalize() {
  if (vm_ != nullptr && ownVM_) {
    int rc = sqlite3_finalize(vm_);
    vm_ = nullptr;
    ownVM_ = false;
    if (rc != SQLITE_OK) throwDbError(rc, db_);
  }
}

std::string CppSQLite3Query::textField(const char* name) const {
  int i = fieldIndex(name);
  if (fieldDataType(i) == SQLITE_NULL) return std::string();
  const unsigned char* text = sqlite3_column_text(vm_, i);
  int bytes = sqlite3_column_bytes(vm_, i);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text), bytes) : std::string();
}

const char* CppSQLite3Query::textFieldAt(int index, size_t* bytes) const {
  checkVM();
  if (index < 0 || index >= numFields()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
  const unsigned char* text = sqlite3_column_text(vm_, index);
  if (bytes) *bytes = text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(vm_, index)) : 0;
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

int CppSQLite3Query::intField(const char* name) const {
  int i = fieldIndex(name);
  return fieldDataType(i) == SQLITE_NULL ? 0 : sqlite3_column_int(vm_, i);
}

sqlite3_int64 CppSQLite3Query::int64Field(const char* name) const {
  int i = fieldIndex(name);
  return fieldDataType(i) == SQLITE_NULL ? 0 : sqlite3_column_int64(vm_, i);
}

// ---- CppSQLite3Statement --------------------------------------------------

CppSQLite3Statement::CppSQLite3Statement() : db_(nullptr), vm_(nullptr) {}

CppSQLite3Statement::CppSQLite3Statement(sqlite3* db, sqlite3_stmt* vm) : db_(db), vm_(vm) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : db_(other.db_), vm_(other.vm_) {
  other.vm_ = nullptr;
}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
  if (this == &other) return *this;
  try {
    finalize();
  } catch (const CppSQLite3Exception&) {
  }
  db_ = other.db_;
  vm_ = other.vm_;
  other.vm_ = nullptr;
  return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() {
  try {
    finalize();
  } catch (const CppSQLite3Exception&) {
  }
}

void CppSQLite3Statement::checkVM() const {
  if (vm_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullVM);
}

void CppSQLite3Statement::checkBind(int rc) const {
  if (rc != SQLITE_OK) throwDbError(rc, db_);
}

int CppSQLite3Statement::bindParameterCount() const {
  checkVM();
  return sqlite3_bind_parameter_count(vm_);
}

void CppSQLite3Statement::bind(int index, const std::string& value) {
  checkVM();
  checkBind(sqlite3_bind_text(vm_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
}

void CppSQLite3Statement::bind(int index, const char* value) {
  if (value == nullptr) {
    bindNull(index);
    return;
  }
  checkVM();
  checkBind(sqlite3_bind_text(vm_, index, value, -1, SQLITE_TRANSIENT));
}

void CppSQLite3Statement::bind(int index, int value) {
  checkVM();
  checkBind(sqlite3_bind_int(vm_, index, value));
}

void CppSQLite3Statement::bind(int index, long value) { bind(index, static_cast<long long>(value)); }

void CppSQLite3Statement::bind(int index, long long value) {
  checkVM();
  checkBind(sqlite3_bind_int64(vm_, index, value));
}

void CppSQLite3Statement::bindNull(int index) {
  checkVM();
  checkBind(sqlite3_bind_null(vm_, index));
}

void CppSQLite3Statement::bind(int index, const CppSQLite3Param& value) {
  switch (value.type()) {
    case CppSQLite3Param::kNull: bindNull(index); break;
    case CppSQLite3Param::kInteger: bind(index, static_cast<long long>(value.integer())); break;
    case CppSQLite3Param::kText: bind(index, value.text()); break;
  }
}

void CppSQLite3Statement::bindAll(const CppSQLite3Params& params) {
  if (static_cast<int>(params.size()) != bindParameterCount())
    throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadParamCount);
  for (size_t i = 0; i < params.size(); ++i) bind(static_cast<int>(i) + 1, params[i]);
}

int CppSQLite3Statement::execDML() {
  checkVM();
  int rc;
  while ((rc = sqlite3_step(vm_)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    rc = sqlite3_reset(vm_);
    throwDbError(rc, db_);
  }
  int changes = sqlite3_changes(db_);
  sqlite3_reset(vm_);
  return changes;
}

CppSQLite3Query CppSQLite3Statement::execQuery() {
  checkVM();
  sqlite3_stmt* vm = vm_;
  vm_ = nullptr;
  int rc = sqlite3_step(vm);
  if (rc == SQLITE_DONE) return CppSQLite3Query(db_, vm, true);
  if (rc == SQLITE_ROW) return CppSQLite3Query(db_, vm, false);
  rc = sqlite3_finalize(vm);
  throwDbError(rc, db_);
}

void CppSQLite3Statement::reset() {
  checkVM();
  int rc = sqlite3_reset(vm_);
  if (rc != SQLITE_OK) throwDbError(rc, db_);
}

void CppSQLite3Statement::finalize() {
  if (vm_ != nullptr) {
    int rc = sqlite3_finalize(vm_);
    vm_ = nullptr;
    if (rc != SQLITE_OK) throwDbError(rc, db_);
  }
}

// ---- CppSQLite3DB ---------------------------------------------------------

CppSQLite3DB::CppSQLite3DB() : db_(nullptr), busyTimeoutMs_(DEFAULT_BUSY_TIMEOUT_MS), openBusyTimeoutMs_(-1), exclusive_(false) {}

CppSQLite3DB::~CppSQLite3DB() {
  try {
    close();
  } catch (const CppSQLite3Exception&) {
  }
}

void CppSQLite3DB::open(const char* utf8Path) {
  close();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(utf8Path != nullptr ? utf8Path : "", &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    // A failed open still hands out a handle that carries the error text.
    CppSQLite3Exception e(rc, db != nullptr ? sqlite3_errmsg(db) : "");
    sqlite3_close_v2(db);
    throw e;
  }
  db_ = db;
  try {
    // The time-out first, so that the open's statements wait for a busy file too.
    sqlite3_busy_timeout(db_, openBusyTimeoutMs_ >= 0 ? openBusyTimeoutMs_ : busyTimeoutMs_);
    // Before the first access: only then does SQLite keep the WAL index in heap
    // memory and never create or map the "-shm" file. The pragma reads nothing.
    if (exclusive_) openStep("PRAGMA locking_mode=EXCLUSIVE;");
    // Reads the file's header and schema: the lock that another connection
    // holds on the file is met here, not at the first statement of the owner.
    enterWalMode();
    for (const std::string& sql : openSettings_) openStep(sql.c_str());
  } catch (const CppSQLite3Exception&) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
  sqlite3_wal_checkpoint(db_, nullptr);
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  installFastLike(db_);  // same matches as SQLite's LIKE; on failure SQLite's own stays
}

void CppSQLite3DB::close() {
  if (db_ == nullptr) return;
  // close_v2 defers the release until the last cursor of another thread is
  // finalized, so closing never pulls a statement from under its reader.
  if (sqlite3_close_v2(db_) != SQLITE_OK) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotClose);
  db_ = nullptr;
}

void CppSQLite3DB::checkDB() const {
  if (db_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kDbNotOpen);
}

namespace {

// sqlite3_exec's row callback: keeps the first column of the first row.
int keepFirstValue(void* out, int columns, char** values, char**) {
  std::string* first = static_cast<std::string*>(out);
  if (first->empty() && columns > 0 && values[0] != nullptr) *first = values[0];
  return 0;
}

}  // namespace

void CppSQLite3DB::openStep(const char* sql, std::string* firstValue) {
  checkDB();
  char* err = nullptr;
  int rc = sqlite3_exec(db_, sql, firstValue != nullptr ? keepFirstValue : nullptr, firstValue, &err);
  if (rc == SQLITE_OK) return;
  std::string detail = std::string(sql) + " refused: " + (err != nullptr ? err : sqlite3_errmsg(db_));
  sqlite3_free(err);
  throw CppSQLite3Exception(rc, detail.c_str());
}

void CppSQLite3DB::enterWalMode() {
  std::string mode;
  openStep("PRAGMA journal_mode=WAL;", &mode);
  // A file that cannot take a write-ahead log keeps its mode without an error.
  if (sqlite3_stricmp(mode.c_str(), "wal") != 0)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, ("PRAGMA journal_mode=WAL; left the journal mode " + mode).c_str());
}

bool CppSQLite3DB::setWalMode() {
  bool ok = true;
  try {
    enterWalMode();
  } catch (const CppSQLite3Exception&) {
    ok = false;
  }
  if (db_ != nullptr) sqlite3_wal_checkpoint(db_, nullptr);
  return ok;
}

int CppSQLite3DB::execDML(const char* sql) {
  checkDB();
  char* err = nullptr;
  int rc = sqlite3_exec(db_, sql != nullptr ? sql : "", nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    CppSQLite3Exception e(rc, err != nullptr ? err : sqlite3_errmsg(db_));
    sqlite3_free(err);
    throw e;
  }
  return sqlite3_changes(db_);
}

int CppSQLite3DB::execDML(const char* sql, const CppSQLite3Params& params) {
  CppSQLite3Statement stmt = compileStatement(sql);
  stmt.bindAll(params);
  return stmt.execDML();
}

sqlite3_stmt* CppSQLite3DB::compile(const char* sql) {
  checkDB();
  sqlite3_stmt* vm = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql != nullptr ? sql : "", -1, &vm, nullptr);
  if (rc != SQLITE_OK) throwDbError(rc, db_);
  // A text of blanks or comments compiles to no statement at all.
  if (vm == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullVM);
  return vm;
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const char* sql) {
  return CppSQLite3Statement(db_, compile(sql));
}

CppSQLite3Query CppSQLite3DB::firstStep(sqlite3_stmt* vm) {
  int rc = sqlite3_step(vm);
  if (rc == SQLITE_DONE) return CppSQLite3Query(db_, vm, true);
  if (rc == SQLITE_ROW) return CppSQLite3Query(db_, vm, false);
  rc = sqlite3_finalize(vm);
  throwDbError(rc, db_);
}

CppSQLite3Query CppSQLite3DB::execQuery(const char* sql) { return firstStep(compile(sql)); }

CppSQLite3Query CppSQLite3DB::execQuery(const char* sql, const CppSQLite3Params& params) {
  CppSQLite3Statement stmt = compileStatement(sql);
  stmt.bindAll(params);
  return stmt.execQuery();
}

namespace {

int scalarOf(CppSQLite3Query& q) {
  if (q.eof() || q.numFields() < 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kBadScalar);
  int value = q.fieldDataType(0) == SQLITE_NULL ? 0 : q.intField(q.fieldName(0));
  q.finalize();
  return value;
}

}  // namespace

int CppSQLite3DB::execScalar(const char* sql) {
  CppSQLite3Query q = execQuery(sql);
  return scalarOf(q);
}

int CppSQLite3DB::execScalar(const char* sql, const CppSQLite3Params& params) {
  CppSQLite3Query q = execQuery(sql, params);
  return scalarOf(q);
}

bool CppSQLite3DB::tableExists(const char* table) {
  return execScalar("select count(*) from sqlite_master where type='table' and name=?",
                    CppSQLite3Params{CppSQLite3Param(table)}) > 0;
}

bool CppSQLite3DB::inTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

// A thin object layer over SQLite 3: a connection (CppSQLite3DB), a forward-
// only result cursor (CppSQLite3Query), a prepared statement with parameters
// bound by index (CppSQLite3Statement) and one exception type. Every failure
// throws CppSQLite3Exception; nothing here logs.
//
// Threads: the classes have no lock of their own. One connection may be used
// from several threads (it is opened in SQLite's serialized mode); a cursor or
// a statement is used by one thread at a time. An exception's text is the
// connection's latest error text, which another thread may have replaced.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>
#include <vector>

#define CPPSQLITE_ERROR 1000

class CppSQLite3Exception {
 public:
  // The message reads "<code name>[<code>]: <detail>" ("" for a null detail).
  CppSQLite3Exception(int errCode, const char* detail);
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(const CppSQLite3Exception& other);
  virtual ~CppSQLite3Exception();

  int errorCode() const { return errCode_; }
  const char* errorMessage() const { return errMessage_ != nullptr ? errMessage_ : ""; }

  // "SQLITE_OK" .. "SQLITE_RANGE", "SQLITE_ROW", "SQLITE_DONE", "CPPSQLITE_ERROR",
  // else "UNKNOWN_ERROR".
  static const char* errorCodeAsString(int errCode);

 private:
  int errCode_;
  char* errMessage_;  // from sqlite3_mprintf, freed with sqlite3_free
};

// One value bound to a statement parameter: NULL, a 64-bit integer or text
// (any bytes, carried with their length).
class CppSQLite3Param {
 public:
  enum Type { kNull, kInteger, kText };
  CppSQLite3Param() : type_(kNull), integer_(0) {}
  CppSQLite3Param(std::nullptr_t) : type_(kNull), integer_(0) {}
  CppSQLite3Param(int v) : type_(kInteger), integer_(v) {}
  CppSQLite3Param(long v) : type_(kInteger), integer_(v) {}
  CppSQLite3Param(long long v) : type_(kInteger), integer_(v) {}
  CppSQLite3Param(const char* v) : type_(v ? kText : kNull), integer_(0), text_(v ? v : "") {}
  CppSQLite3Param(std::string v) : type_(kText), integer_(0), text_(std::move(v)) {}

  Type type() const { return type_; }
  sqlite3_int64 integer() const { return integer_; }
  const std::string& text() const { return text_; }

 private:
  Type type_;
  sqlite3_int64 integer_;
  std::string text_;
};

typedef std::vector<CppSQLite3Param> CppSQLite3Params;

// A statement text with the values of its "?" parameters, in order.
struct CppSQLite3Command {
  std::string sql;
  CppSQLite3Params params;
};

class CppSQLite3Query {
 public:
  // An empty cursor: no statement, end of rows set, no columns, no owner.
  CppSQLite3Query();
  CppSQLite3Query(sqlite3* db, sqlite3_stmt* vm, bool eof, bool ownVM = true);
  // Moving leaves the source without statement.
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
  virtual ~CppSQLite3Query();  // finalizes, swallowing errors

  // Each of these throws 1000 "Null Virtual Machine pointer" without statement.
  int numFields() const;
  int fieldIndex(const char* name) const;  // exact name; else "Invalid field name requested"
  const char* fieldName(int index) const;  // "Invalid field index requested" when out of range
  int fieldDataType(int index) const;      // SQLITE_INTEGER .. SQLITE_NULL (1..5)
  bool eof() const;
  void nextRow();  // a failing step finalizes and throws with the SQLite code
  void finalize();

  // The named column of the current row; NULL reads as "", 0 and 0.
  std::string textField(const char* name) const;
  // The text of the current row's column `index` in place (NULL as ""); valid until the next
  // step. For loops over many rows: no lookup by name, no copy.
  const char* textFieldAt(int index, size_t* bytes) const;
  int intField(const char* name) const;
  sqlite3_int64 int64Field(const char* name) const;

 private:
  void checkVM() const;

  sqlite3* db_;
  sqlite3_stmt* vm_;
  bool eof_;
  int cols_;
  bool ownVM_;
};

// A compiled statement whose "?" parameters are bound by index, from 1.
// Values never become part of the statement text.
class CppSQLite3Statement {
 public:
  CppSQLite3Statement();
  CppSQLite3Statement(sqlite3* db, sqlite3_stmt* vm);
  CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement(const CppSQLite3Statement&) = delete;
  CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
  virtual ~CppSQLite3Statement();  // finalizes, swallowing errors

  // Each throws 1000 "Null Virtual Machine pointer" without statement, and
  // the SQLite code (25, SQLITE_RANGE, for a bad index) when binding fails.
  int bindParameterCount() const;
  void bind(int index, const std::string& value);
  void bind(int index, const char* value);  // null binds NULL
  void bind(int index, int value);
  void bind(int index, long value);
  void bind(int index, long long value);
  void bindNull(int index);
  void bind(int index, const CppSQLite3Param& value);
  // Binds params[i] to parameter i+1; the count must match the statement's
  // ("Invalid parameter count" otherwise).
  void bindAll(const CppSQLite3Params& params);

  // Runs to completion; returns the rows changed. The statement is then reset
  // (bindings kept) and may run again.
  int execDML();
  // Steps once and hands the statement to the returned cursor; this object is
  // left without statement.
  CppSQLite3Query execQuery();
  void reset();
  void finalize();

 private:
  void checkVM() const;
  void checkBind(int rc) const;

  sqlite3* db_;
  sqlite3_stmt* vm_;
};

class CppSQLite3DB {
 public:
  CppSQLite3DB();
  virtual ~CppSQLite3DB();  // closes, swallowing errors
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;

  // How long a statement waits for a file that another connection holds, as
  // built: one minute.
  static const int DEFAULT_BUSY_TIMEOUT_MS = 60000;

  // Applied at the next open: how long a statement waits for a file that
  // another connection holds, from the end of the open on.
  void setBusyTimeout(int ms) { busyTimeoutMs_ = ms; }
  // Applied at the next open: the same for the open's own statements (locking
  // mode, journal mode, settings). Negative, as built: the busy time-out.
  void setOpenBusyTimeout(int ms) { openBusyTimeoutMs_ = ms; }
  // Applied at the next open: the connection takes the file for itself
  // (locking_mode=EXCLUSIVE before its first access) and keeps the WAL index
  // in its own memory instead of a mapped "-shm" file beside the database. No
  // other connection can read or write the file until this one is closed.
  void setExclusiveLocking(bool exclusive) { exclusive_ = exclusive; }
  // Applied at the next open: statements (PRAGMA settings) run in order after
  // the journal mode; each must succeed.
  void setOpenSettings(const std::vector<std::string>& sqls) { openSettings_ = sqls; }

  // Opens (creating) the file, closing a connection held before: the locking
  // mode, the WAL journal (which reads the file, so a file held elsewhere is
  // met here), the settings and a checkpoint, on the open's busy time-out;
  // then the busy time-out. Throws when the file cannot be opened, the journal
  // mode does not become WAL or a setting is refused; nothing stays open then.
  void open(const char* utf8Path);
  bool isOpen() const { return db_ != nullptr; }
  // Statements still alive keep the connection until they are finalized.
  void close();

  // Runs every statement of the text; returns the rows changed.
  int execDML(const char* sql);
  // Runs the first statement of the text with its parameters bound.
  int execDML(const char* sql, const CppSQLite3Params& params);
  CppSQLite3Statement compileStatement(const char* sql);
  CppSQLite3Query execQuery(const char* sql);
  CppSQLite3Query execQuery(const char* sql, const CppSQLite3Params& params);
  // The first column of the first row as an integer (NULL: 0).
  int execScalar(const char* sql);
  int execScalar(const char* sql, const CppSQLite3Params& params);
  // The name is bound, never written into the statement.
  bool tableExists(const char* table);
  // "PRAGMA journal_mode=WAL;" then a checkpoint; false when the pragma failed
  // or the journal mode is not WAL after it.
  bool setWalMode();
  // True while an explicit transaction is open on the connection.
  bool inTransaction() const;

 private:
  void checkDB() const;
  // Runs a statement of the open, keeping the first value of its first row
  // when asked; a refusal throws with the statement's text and SQLite's.
  void openStep(const char* sql, std::string* firstValue = nullptr);
  void enterWalMode();  // throws like openStep, or 1000 when the mode stays another
  sqlite3_stmt* compile(const char* sql);
  CppSQLite3Query firstStep(sqlite3_stmt* vm);

  sqlite3* db_;
  int busyTimeoutMs_;
  int openBusyTimeoutMs_;
  bool exclusive_;
  std::vector<std::string> openSettings_;
};

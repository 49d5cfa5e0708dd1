// The per-user SQLite database of the desktop program:
// <documents>/Postwing/<user id>/Postwing.db, one connection shared by every
// thread, WAL journal, busy time-out 60000 ms. Failures come back as false
// (or -1 from open); nothing is thrown to the caller.
//
// Durability: WAL journal with synchronous=NORMAL. A committed transaction
// survives a crash of the program (it is in the WAL file, which SQLite replays
// at the next open) and the file is never left corrupt; only a crash of the
// whole machine or a power loss may roll back the last transactions committed
// before it. A commit therefore writes the WAL but does not wait for the disk;
// the disk is synced when the WAL is checkpointed into the database. Pages are
// read without a memory map (mmap_size=0), so an I/O error fails a statement;
// the page cache holds up to 64 MiB. The connection takes the file in exclusive
// locking mode, so the WAL index lives in the process's memory and no "-shm"
// file is made or mapped; no other connection (of this process or another) can
// use the file while it is open. Opening the user whose file is open keeps the
// connection while the path still names the very file it has open (the same
// device and inode); when the user's folder was removed or moved meanwhile,
// the open closes it and opens the file at the path. An open whose file
// another connection holds (another program, or an earlier connection of this
// one that a cursor keeps alive) fails after at most 2 s of waiting, as does
// one whose settings are refused; the 60000 ms busy time-out
// (CppSQLite3DB::DEFAULT_BUSY_TIMEOUT_MS) holds for the statements after the
// open.
//
// Threads: every method may be called from any thread. mutex_ serialises
// open, close, single statements, whole batches (each one transaction, so no
// statement of another thread falls inside it) and the compile and first step
// of a query. A cursor handed out is stepped by its caller outside the lock;
// a later open or close defers the release of the old connection until the
// last such cursor is finalized. No other lock is taken while mutex_ is held.
#pragma once

#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <memory>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"

class LocalDb {
 public:
  static LocalDb* instance();

  // Tests may build their own; the program uses instance().
  LocalDb();
  virtual ~LocalDb();
  LocalDb(const LocalDb&) = delete;
  LocalDb& operator=(const LocalDb&) = delete;

  // The user's documents folder (GBK); "" when it cannot be found.
  static std::string getDocumentsPath();

  // A user id that may name one folder: not empty, at most 255 bytes, not "."
  // or "..", decodable GBK, without separators, control characters or any of
  // : * ? " < > |.
  static bool isSafeUserId(const std::string& userId);

  // Opens the user's database, creating its folders, after closing the one
  // open before; 0 at once when that one is the file the user's path names
  // (same device and inode). -1 (and no connection at all) when the user id
  // is not safe, the documents folder is unknown, the file cannot be opened or
  // is held by another connection, or a setting of the open is refused.
  int open(const std::string& userId);
  void close();
  // The UTF-8 path of the open database; "" when none is open.
  std::string path() const;

  // True when the table exists or was just created by the statement; false
  // for an empty name or statement, without a connection, or on failure.
  bool createTable(const std::string& name, const std::string& createSql);

  // Runs the text (every statement in it); false when empty or failed.
  bool execDML(const std::string& sql);
  // Runs one statement with its "?" parameters bound in order.
  bool execDML(const std::string& sql, const CppSQLite3Params& params);

  // Runs the statements in one transaction; empty texts are skipped. A failing
  // statement is logged and makes the result false; the rest still run and are
  // committed, unless rollbackOnFailure asks to undo the whole batch at the
  // first failure. A failing commit is rolled back. False for an empty list.
  // A command's text is compiled once and the statement kept for later
  // batches on the same connection (up to 32 texts).
  bool execBatch(const std::vector<std::string>& sqls, bool rollbackOnFailure = false);
  bool execBatch(const std::vector<CppSQLite3Command>& commands, bool rollbackOnFailure = false);
  // What a batch did, for a caller to whom some failures are no loss: whether its transaction
  // was committed, how many statements failed, and how many of those a constraint refused (a
  // row whose key is there already).
  struct BatchOutcome {
    bool committed = false;
    size_t failed = 0;
    size_t refusedByConstraint = 0;
  };
  bool execBatch(const std::vector<CppSQLite3Command>& commands, bool rollbackOnFailure, BatchOutcome& outcome);

  // Compiles the first statement and steps to the first row, then moves the
  // cursor into result. On failure result is left as it was and false returned.
  bool execQuery(const std::string& sql, CppSQLite3Query& result);
  bool execQuery(const std::string& sql, const CppSQLite3Params& params, CppSQLite3Query& result);

 private:
  struct BatchStatements;  // the statements compiled for one batch, by text
  template <typename Stmt>
  bool runBatch(const std::vector<Stmt>& stmts, bool rollbackOnFailure, BatchOutcome& outcome);
  // These expect mutex_ held.
  void dropKeptStatements();  // before the connection closes
  bool beginTransaction();
  bool commitTransaction();
  bool rollbackTransaction();
  int execInTransaction(const CppSQLite3Command& command, BatchStatements& compiled);
  int execInTransaction(const std::string& sql, BatchStatements& compiled);

  mutable ACE_Thread_Mutex mutex_;
  CppSQLite3DB db_;   // guarded by mutex_
  std::unique_ptr<BatchStatements> kept_;  // guarded by mutex_; of db_'s connection
  std::string path_;  // guarded by mutex_

  // A file as the file system knows it, whatever name reaches it.
  struct FileId {
    unsigned long long dev = 0, ino = 0;
    bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino && ino != 0; }
    static bool of(const std::string& utf8Path, FileId& out);
  };
  FileId openFile_;  // guarded by mutex_; the file of path_ when it was opened
};

// The contact table xcapContactsInfo in the per-user database: the searchable copy of the
// current user's address book, one row per contact placed under a group. Its content lives for
// one login: init recreates it empty, every successful fetch refills it.
//
// Every value (user id, names, keyword) is bound as a statement parameter, never written into
// the SQL text; texts are GB2312 on this side and stored as UTF-8.
//
// Threads: init and search on the UI thread; deleteAll, insertContact and flush on the job
// thread that installs a fetched address book. userMutex_ guards userId_ (a leaf lock); the
// database's own lock is taken inside LocalDb.
#pragma once

#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include <string>
#include <vector>

#include "addressbook/ContactModel.h"
#include "db/CppSQLite3.h"

class ContactDb {
 public:
  static const char* const TABLE_NAME;  // "xcapContactsInfo"

  ContactDb();
  virtual ~ContactDb();

  static ContactDb* instance() { return ACE_Singleton<ContactDb, ACE_Thread_Mutex>::instance(); }

  // Stores the user id, drops the table and creates it empty with its three indexes; true when
  // the creation succeeded (or the table survived the drop).
  bool init(const std::string& userId);
  // Deletes every row of the stored user; false when the table could not be written.
  bool deleteAll();
  // The INSERT for one contact under its parent group (values bound, UTF-8); a command with an
  // empty text when either pointer is empty.
  CppSQLite3Command insertContact(Sptr<INode> contact, Sptr<INode> group);
  // Runs the commands as one batch (one transaction; a failing row is passed over). The list
  // is left to the caller. False when a row was not stored (true for an empty list); a row
  // that the table's key refuses (the same contact twice at one path) is stored already.
  bool flush(std::vector<CppSQLite3Command>& commands);
  // Appends the model's contacts whose row matches the keyword (GB2312, as typed): display
  // name or nick name containing it, or a contact id containing it and, for a keyword without
  // "@", ending with the user's own domain after it. The match is SQL LIKE's: ASCII letters
  // without regard to case, "%" and "_" in the keyword are wildcards (any run, any one
  // character); quotes and "\\" are plain characters (the keyword is a bound value). One hit
  // per contact id, by display name. A query that fails is logged and appends nothing (or the
  // hits read before a failing step).
  void search(const std::string& keyword, std::vector<Sptr<INode>>& result);

  std::string userId();

 private:
  ContactDb(const ContactDb&) = delete;
  ContactDb& operator=(const ContactDb&) = delete;

  ACE_Thread_Mutex userMutex_;
  std::string userId_;  // guarded by userMutex_
};

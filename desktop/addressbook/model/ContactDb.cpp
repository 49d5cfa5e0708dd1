#include "addressbook/ContactDb.h"

#include <ace/Guard_T.h>

#include <string_view>

#include "addressbook/AddressBookClient.h"
#include "db/LocalDb.h"
#include "log/IM_LogManager.h"
#include "util/CodingTransform.h"
#include "util/StringParser.h"

const char* const ContactDb::TABLE_NAME = "xcapContactsInfo";

namespace {

const std::string kBlanks(21, ' ');

std::string creationText() {
  std::string sql;
  sql += "create table xcapContactsInfo(";
  sql += kBlanks + "userId char(64)";
  sql += kBlanks + ", contactId char(64)";
  sql += kBlanks + ", displayName char(64)";
  sql += kBlanks + ", nickName char(64)";
  sql += kBlanks + ", department char(255)";
  sql += std::string(10, '\t') + " " + ", fullName char(255)";
  sql += kBlanks + ", PRIMARY KEY (userId, fullName));";
  sql += "CREATE INDEX XcapContactIndexUserid ON xcapContactsInfo (userId);";
  sql += "CREATE INDEX XcapContactIndexNickName ON xcapContactsInfo (nickName);";
  sql += "CREATE INDEX XcapContactIndexDisplayName ON xcapContactsInfo (displayName);";
  return sql;
}

bool isAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// ASCII is the same in GB2312 and UTF-8: only other text goes through the converter.
std::string utf8(const std::string& gb) { return isAscii(gb) ? gb : CodingTransform::gb2312_to_utf8(gb); }

// The department of consecutive contacts is mostly the same group's name: its UTF-8 form is
// kept for the next row (per thread; only the installing job thread builds rows).
const std::string& departmentUtf8(const std::string& gb) {
  thread_local std::string lastGb, lastUtf8;
  thread_local bool valid = false;
  if (!valid || gb != lastGb) {
    lastUtf8 = utf8(gb);
    lastGb = gb;
    valid = true;
  }
  return lastUtf8;
}

}  // namespace

ContactDb::ContactDb() {}
ContactDb::~ContactDb() {}

std::string ContactDb::userId() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, g, userMutex_, std::string());
  return userId_;
}

bool ContactDb::init(const std::string& user) {
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, g, userMutex_, false);
    userId_ = user;
  }
  LocalDb* db = LocalDb::instance();
  db->execDML("DROP TABLE xcapContactsInfo;");  // fails harmlessly when there is none
  try {
    return db->createTable(TABLE_NAME, creationText());
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

namespace {

// Whether the table holds a row whose user is not the bound one: NULL, or any value ordered
// before or after it (numbers come before text, blobs after). Each probe is a seek in the
// user-id index. A failing query counts as yes.
bool othersHaveRows(const CppSQLite3Params& user) {
  const char* sql =
      "select exists(select 1 from xcapContactsInfo where userId < ?1) "
      "or exists(select 1 from xcapContactsInfo where userId > ?1) "
      "or exists(select 1 from xcapContactsInfo where userId is null) as others;";
  CppSQLite3Query rows;
  if (!LocalDb::instance()->execQuery(sql, user, rows)) return true;
  try {
    return rows.eof() || rows.intField("others") != 0;
  } catch (const CppSQLite3Exception&) {
    return true;
  }
}

}  // namespace

bool ContactDb::deleteAll() {
  CppSQLite3Params params;
  params.push_back(utf8(userId()));
  // The table is made anew at every login and filled with that user's rows only, so the user's
  // rows are nearly always all of them: then the table is emptied without a condition, which
  // SQLite does by releasing its pages and those of its indexes at once instead of removing
  // row after row and entry after entry (a refill of 50,000 rows: a few times faster). Only
  // the thread that installs a fetched book writes to the table, so nothing can add another
  // user's row between the check and the deletion.
  bool deleted = othersHaveRows(params)
                     ? LocalDb::instance()->execDML("delete from xcapContactsInfo where userId=?;", params)
                     : LocalDb::instance()->execDML("delete from xcapContactsInfo;");
  if (!deleted) IM_LOG_ERROR("ContactDb::deleteAll, the user's rows could not be deleted");
  return deleted;
}

CppSQLite3Command ContactDb::insertContact(Sptr<INode> contact, Sptr<INode> group) {
  CppSQLite3Command command;
  if (!contact || !group) return command;
  IContact* c = static_cast<IContact*>(contact.get());
  std::string fullName = c->getPath();
  std::string department = group->getDisplayName();
  std::string nickName = c->getNickName();
  std::string displayName = c->getDisplayName();
  std::string name = c->getName();
  command.sql =
      "insert into xcapContactsInfo (userId, contactId, displayName, nickName, department, "
      "fullName) values (?,?,?,?,?,?);";
  command.params.reserve(6);
  command.params.push_back(utf8(userId()));
  command.params.push_back(utf8(name));
  command.params.push_back(utf8(displayName));
  command.params.push_back(utf8(nickName));
  command.params.push_back(departmentUtf8(department));
  command.params.push_back(utf8(fullName));
  return command;
}

bool ContactDb::flush(std::vector<CppSQLite3Command>& commands) {
  if (commands.empty()) return true;
  LocalDb::BatchOutcome outcome;
  if (LocalDb::instance()->execBatch(commands, false, outcome)) return true;  // it logs what failed
  // A row that the table's key refuses is a contact listed twice at one place of the book (one
  // path): its row is there already, so nothing of the book is lost by it.
  return outcome.committed && outcome.failed == outcome.refusedByConstraint;
}

void ContactDb::search(const std::string& keyword, std::vector<Sptr<INode>>& result) {
  std::string user = userId();
  std::string suffix;
  if (keyword.find('@') == std::string::npos) {
    std::vector<std::string> parts;
    StringParser::tokenize(user, "@", parts);
    if (parts.size() == 2) suffix = "@" + parts[1];
  }
  // "%" and "_" in the keyword are LIKE wildcards; the values are bound, never SQL text.
  std::string contains = "%" + keyword + "%";
  CppSQLite3Params params;
  params.reserve(4);
  params.push_back(utf8(user));
  params.push_back(utf8(contains));
  params.push_back(params.back());
  params.push_back(utf8(contains + suffix));
  // "+userId": the LIKE tests need every row of the user anyway, and a plain scan of the table
  // is cheaper than reaching each row through the user-id index.
  const char* sql =
      "select contactId from xcapContactsInfo where +userId = ? and (displayName like ? "
      "or nickName like ? or contactId like ?) group by contactId order by displayName asc ;";
  CppSQLite3Query rows;
  if (!LocalDb::instance()->execQuery(sql, params, rows)) {
    // Told apart from a search without hits: the picker shows none either way.
    IM_LOG_ERROR("ContactDb::search, the query failed");
    return;
  }
  // The hits' ids one after the other in one buffer (a wide keyword finds tens of thousands):
  // no string of its own per hit, and only an id that is not ASCII goes through the converter.
  std::string idText;
  std::vector<size_t> ends;  // where each id ends in idText
  try {
    while (!rows.eof()) {
      size_t bytes = 0;
      const char* id = rows.textFieldAt(0, &bytes);
      bool ascii = true;
      for (size_t i = 0; i < bytes && ascii; ++i) ascii = static_cast<unsigned char>(id[i]) < 0x80;
      if (ascii)
        idText.append(id, bytes);
      else
        idText += CodingTransform::utf8_to_gb2312(std::string(id, bytes));
      ends.push_back(idText.size());
      rows.nextRow();
    }
  } catch (const CppSQLite3Exception& e) {
    // A step that fails ends the search with the hits found so far.
    IM_LOG_ERROR("ContactDb::search, reading the hits failed: %s", e.errorMessage());
  }
  std::vector<std::string_view> ids;
  ids.reserve(ends.size());
  size_t start = 0;
  for (size_t end : ends) {
    ids.emplace_back(idText.data() + start, end - start);
    start = end;
  }
  AddressBookClient::instance()->findContacts(ids, result);
}

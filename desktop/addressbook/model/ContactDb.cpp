#include "addressbook/ContactDb.h"

#include <ace/Guard_T.h>

#include "addressbook/AddressBookClient.h"
#include "db/LocalDb.h"
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

// A LIKE pattern piece that matches `text` literally (escape character "\").
std::string likeLiteral(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::string::const_iterator it = text.begin(); it != text.end(); ++it) {
    if (*it == '%' || *it == '_' || *it == '\\') out += '\\';
    out += *it;
  }
  return out;
}

std::string utf8(const std::string& gb) { return CodingTransform::gb2312_to_utf8(gb); }

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

void ContactDb::deleteAll() {
  CppSQLite3Params params;
  params.push_back(utf8(userId()));
  LocalDb::instance()->execDML("delete from xcapContactsInfo where userId=?;", params);
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
  command.params.push_back(utf8(userId()));
  command.params.push_back(utf8(name));
  command.params.push_back(utf8(displayName));
  command.params.push_back(utf8(nickName));
  command.params.push_back(utf8(department));
  command.params.push_back(utf8(fullName));
  return command;
}

void ContactDb::flush(std::vector<CppSQLite3Command>& commands) {
  if (commands.empty()) return;
  LocalDb::instance()->execBatch(commands);
}

void ContactDb::search(const std::string& keyword, std::vector<Sptr<INode>>& result) {
  std::string user = userId();
  std::string suffix;
  if (keyword.find('@') == std::string::npos) {
    std::vector<std::string> parts;
    StringParser::tokenize(user, "@", parts);
    if (parts.size() == 2) suffix = "@" + parts[1];
  }
  std::string contains = "%" + likeLiteral(keyword) + "%";
  CppSQLite3Params params;
  params.push_back(utf8(user));
  params.push_back(utf8(contains));
  params.push_back(utf8(contains));
  params.push_back(utf8(contains + likeLiteral(suffix)));
  const char* sql =
      "select * from xcapContactsInfo where userId = ? and (displayName like ? escape '\\' "
      "or nickName like ? escape '\\' or contactId like ? escape '\\') "
      "group by contactId order by displayName asc ;";
  CppSQLite3Query rows;
  if (!LocalDb::instance()->execQuery(sql, params, rows)) return;
  AddressBookClient* client = AddressBookClient::instance();
  try {
    while (!rows.eof()) {
      std::string id = CodingTransform::utf8_to_gb2312(rows.textField("contactId"));
      Sptr<INode> found = client->findContact(id);
      if (found) result.push_back(found);
      rows.nextRow();
    }
  } catch (const CppSQLite3Exception&) {
    // A step that fails ends the search with the hits found so far.
  }
}

// The per-user database: the address book's contact table filled with 5000 rows in one batch
// of bound-parameter inserts (one transaction), and the picker's LIKE search over them. The
// database lives under a temporary PW_HOME; the table, its indexes and both statements are the
// ones the address book uses.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "db/LocalDb.h"
#include "util/CodingTransform.h"

namespace {

const int kRows = 5000;
const char* const kUser = "bench@corp.example.com";

const char* const kCreate =
    "create table xcapContactsInfo(userId char(64), contactId char(64), displayName char(64), "
    "nickName char(64), department char(255), fullName char(255), PRIMARY KEY (userId, fullName));"
    "CREATE INDEX XcapContactIndexUserid ON xcapContactsInfo (userId);"
    "CREATE INDEX XcapContactIndexNickName ON xcapContactsInfo (nickName);"
    "CREATE INDEX XcapContactIndexDisplayName ON xcapContactsInfo (displayName);";
const char* const kInsert =
    "insert into xcapContactsInfo (userId, contactId, displayName, nickName, department, fullName) "
    "values (?,?,?,?,?,?);";
const char* const kSearch =
    "select contactId from xcapContactsInfo where +userId = ? and (displayName like ? "
    "or nickName like ? or contactId like ?) group by contactId order by displayName asc ;";

std::vector<CppSQLite3Command> contactRows() {
  std::vector<CppSQLite3Command> rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    const std::string id = "user" + std::to_string(i) + "@corp.example.com";
    const std::string department = u8"研发部" + std::to_string(i % 50);
    CppSQLite3Command c;
    c.sql = kInsert;
    c.params.push_back(std::string(kUser));
    c.params.push_back(id);
    c.params.push_back(pwbench::chineseName(i));
    c.params.push_back("n" + std::to_string(i));
    c.params.push_back(department);
    c.params.push_back("organization/dept" + std::to_string(i % 50) + "/" + id);
    rows.push_back(c);
  }
  return rows;
}

// A user database under a temporary home, opened with an empty contact table.
class ContactTable {
 public:
  ContactTable() {
    if (home_.path().empty()) return;
    setenv("PW_HOME", home_.path().c_str(), 1);
    ready_ = db_.open(kUser) == 0 && db_.createTable("xcapContactsInfo", kCreate);
  }
  ~ContactTable() {
    db_.close();
    unsetenv("PW_HOME");
  }
  bool ready() const { return ready_; }
  LocalDb& db() { return db_; }
  int count() {
    CppSQLite3Query q;
    if (!db_.execQuery("select count(*) as n from xcapContactsInfo", q) || q.eof()) return -1;
    return q.intField("n");
  }

 private:
  pwbench::TempFolder home_;
  LocalDb db_;
  bool ready_ = false;
};

void BM_LocalDb_BatchInsert5000Contacts(benchmark::State& state) {
  ContactTable table;
  if (!table.ready()) {
    state.SkipWithError("cannot open the user database");
    return;
  }
  const std::vector<CppSQLite3Command> rows = contactRows();
  for (auto _ : state) {
    state.PauseTiming();
    bool emptied = table.db().execDML("delete from xcapContactsInfo;");
    state.ResumeTiming();
    if (!emptied || !table.db().execBatch(rows, true)) {
      state.SkipWithError("the batch failed");
      return;
    }
  }
  if (table.count() != kRows) state.SkipWithError("rows missing after the batch");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_LocalDb_BatchInsert5000Contacts)->Unit(benchmark::kMillisecond)->UseRealTime();

// keyword: what the user typed (UTF-8 here; the address book converts its GBK text first).
void searchContacts(benchmark::State& state, const std::string& keyword) {
  ContactTable table;
  if (!table.ready() || !table.db().execBatch(contactRows(), true)) {
    state.SkipWithError("cannot fill the user database");
    return;
  }
  const std::string contains = "%" + keyword + "%";
  CppSQLite3Params params;
  params.push_back(std::string(kUser));
  params.push_back(contains);
  params.push_back(contains);
  params.push_back(contains + "@corp.example.com");
  int hits = 0;
  for (auto _ : state) {
    CppSQLite3Query rows;
    hits = 0;
    if (table.db().execQuery(kSearch, params, rows)) {
      while (!rows.eof()) {
        benchmark::DoNotOptimize(rows.textField("contactId"));
        ++hits;
        rows.nextRow();
      }
    }
  }
  if (hits == 0) state.SkipWithError("the search found nothing");
  state.counters["hits"] = hits;
  state.counters["rows"] = kRows;
}

void BM_LocalDb_LikeSearchChinese(benchmark::State& state) { searchContacts(state, u8"王芳"); }
BENCHMARK(BM_LocalDb_LikeSearchChinese)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LocalDb_LikeSearchAscii(benchmark::State& state) { searchContacts(state, "user12"); }
BENCHMARK(BM_LocalDb_LikeSearchAscii)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

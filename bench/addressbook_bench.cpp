// The address book at enterprise size: a buddy document as a large organisation's server sends
// it (units nested three or four deep, three quarters Chinese display names, 2% of the people
// in two units), fetched from the fake single sign-on and XCAP servers of the tests on
// 127.0.0.1, built into the model and the contact table, and shown in the recipient picker.
//
// Measured: the picker's open (tree build), one keystroke showing about 100, 1,000 and 10,000
// hits, one mouse move over the picker, adding a checked unit of about 1,000 and 10,000
// contacts to the To list, fetch -> model -> table beside a bare Xerces DOM parse of the same
// document, and the keyword search over 100,000 contacts beside the bare SQL query.
//
// Everything runs on the benchmark's thread, which is the picker window's UI thread too; the
// fetch ends on the job runner's thread and is waited for with a deadline.
#include <benchmark/benchmark.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "addressbook/AddressBookClient.h"
#include "addressbook/AddressBookDialog.h"
#include "addressbook/CheckTreeView.h"
#include "addressbook/ContactDb.h"
#include "addressbook/ContactListAgent.h"
#include "corvane/ResourceListsAppUsage.h"
#include "addressbook/MutilSelectList.h"
#include "db/LocalDb.h"
#include "db/SqlLike.h"
#include "duilib/UIAutomation.h"
#include "duilib/UIlib.h"
#include "jobs/LongTimeTask.h"
#include "sso/SsoClient.h"
#include "testing/FakeSsoServer.h"
#include "testing/FakeXcapServer.h"
#include "util/CodingTransform.h"
#include "util/Config.h"

namespace {

namespace A = DuiLib::Automation;
using Clock = std::chrono::steady_clock;

const char* const kUser = "bench.user@corp.example.com";
const char* const kPassword = "secret";
const DWORD kDialogStyle = 0x96C80000;
const int kPerTeam = 100;  // people in a team (the innermost unit)

const char* const kFamily[] = {u8"王", u8"李", u8"张", u8"刘", u8"陈", u8"杨", u8"黄", u8"赵", u8"吴", u8"周",
                               u8"徐", u8"孙", u8"马", u8"朱", u8"胡", u8"郭", u8"何", u8"高", u8"林", u8"罗",
                               u8"郑", u8"梁", u8"谢", u8"宋", u8"唐", u8"许", u8"韩", u8"冯", u8"邓", u8"曹"};
const char* const kGiven[] = {u8"伟", u8"芳", u8"娜", u8"敏", u8"静", u8"丽", u8"强", u8"磊", u8"军", u8"洋",
                              u8"勇", u8"艳", u8"杰", u8"娟", u8"涛", u8"明", u8"超", u8"秀", u8"霞", u8"平",
                              u8"刚", u8"桂", u8"英", u8"华", u8"玉", u8"萍", u8"红", u8"鹏", u8"辉", u8"建",
                              u8"文", u8"斌", u8"宇", u8"浩", u8"凯", u8"健", u8"俊", u8"帆", u8"晨", u8"瑶"};
const char* const kLatinGiven[] = {"Anna", "Boris", "Clara", "David", "Elena", "Felix", "Greta", "Hugo",
                                   "Irene", "Jonas", "Karin", "Lukas", "Maria", "Nils", "Olga", "Paul"};
const char* const kLatinFamily[] = {"Berg", "Costa", "Dahl", "Evans", "Fischer", "Garcia", "Horn", "Ivanov",
                                    "Jensen", "Keller", "Lund", "Moreau", "Novak", "Olsen", "Petit", "Rossi"};
const char* const kUnit[] = {u8"研发", u8"市场", u8"销售", u8"财务", u8"人力", u8"法务", u8"采购", u8"运维",
                             u8"测试", u8"产品"};

std::string displayNameOf(int i) {
  if (i % 4 == 3) return std::string(kLatinGiven[(i / 4) % 16]) + " " + kLatinFamily[(i / 64) % 16];
  std::string name = std::string(kFamily[(i * 7) % 30]) + kGiven[(i / 30) % 40];
  if (i % 3 != 0) name += kGiven[(i / 1200 + i) % 40];
  return name;
}

// Every fifth person's nick name carries "kwc", every fiftieth also "kwb", every five hundredth
// also "kwa": the keystrokes below find n/500, n/50 and n/5 people.
std::string nickNameOf(int i) {
  std::string nick = "e" + std::to_string(i);
  if (i % 500 == 0) nick += " kwa";
  if (i % 50 == 0) nick += " kwb";
  if (i % 5 == 0) nick += " kwc";
  return nick;
}

std::string uriOf(int i) { return "user" + std::to_string(i) + "@corp.example.com"; }

std::string entryXml(int i) {
  return "<entry uri=\"" + uriOf(i) + "\"><display-name>" + displayNameOf(i) + "</display-name><nickname>" +
         nickNameOf(i) + "</nickname></entry>";
}

// The organisation: divisions of ten departments of ten teams of 100 people (a division holds
// 10,000 people, a department 1,000); every third team splits into two sub-teams (the fourth
// level). Every fiftieth person is also a member of a team in another half of the company.
std::string enterpriseDocument(int people) {
  const int teams = std::max(1, (people + kPerTeam - 1) / kPerTeam);
  std::vector<std::vector<int>> members(static_cast<size_t>(teams));
  for (int i = 0; i < people; ++i) members[static_cast<size_t>(i / kPerTeam)].push_back(i);
  for (int i = 7; i < people; i += 50) {
    int other = (i / kPerTeam + teams / 2 + 1) % teams;
    if (other != i / kPerTeam) members[static_cast<size_t>(other)].push_back(i);
  }
  std::string doc;
  doc.reserve(static_cast<size_t>(people) * 140);
  doc += u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         u8"<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\">"
         u8"<list name=\"organization\"><display-name>示例集团</display-name>";
  const int departments = (teams + 9) / 10;
  const int divisions = (departments + 9) / 10;
  for (int v = 0; v < divisions; ++v) {
    doc += "<list name=\"div" + std::to_string(v) + "\"><display-name>" + kUnit[v % 10] + u8"事业部" +
           std::to_string(v) + "</display-name>";
    for (int d = v * 10; d < std::min(departments, v * 10 + 10); ++d) {
      doc += "<list name=\"dep" + std::to_string(d) + "\"><display-name>" + kUnit[d % 10] + u8"部" +
             std::to_string(d) + "</display-name>";
      for (int t = d * 10; t < std::min(teams, d * 10 + 10); ++t) {
        doc += "<list name=\"team" + std::to_string(t) + "\"><display-name>" + kUnit[t % 10] + u8"组" +
               std::to_string(t) + "</display-name>";
        const std::vector<int>& m = members[static_cast<size_t>(t)];
        if (t % 3 == 0) {
          size_t half = m.size() / 2;
          for (int s = 0; s < 2; ++s) {
            doc += "<list name=\"sub" + std::to_string(t) + "_" + std::to_string(s) + "\"><display-name>" +
                   kUnit[(t + s) % 10] + u8"小组" + std::to_string(s) + "</display-name>";
            for (size_t k = s == 0 ? 0 : half; k < (s == 0 ? half : m.size()); ++k) doc += entryXml(m[k]);
            doc += "</list>";
          }
        } else {
          for (int i : m) doc += entryXml(i);
        }
        doc += "</list>";
      }
      doc += "</list>";
    }
    doc += "</list>";
  }
  doc += "</list></resource-lists>\n";
  return doc;
}

// A bare DOM parse of the document with Xerces: the floor for fetch -> model -> table.
bool domParse(const std::string& doc) {
  using namespace xercesc;
  XercesDOMParser parser;
  parser.setValidationScheme(XercesDOMParser::Val_Never);
  parser.setDoNamespaces(true);
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "bench");
  try {
    parser.parse(source);
  } catch (...) {
    return false;
  }
  return parser.getErrorCount() == 0 && parser.getDocument() != nullptr;
}

// The servers, the user's database under a private home, the job runner and a logged-in
// address-book client; one book is installed at a time.
class World : public IAddrbookListener {
 public:
  static World& get() {
    static World* world = new World();  // kept to the end: the job threads may still report
    return *world;
  }

  void OnAddrbookUpdate(const std::vector<Sptr<INode>>&, int status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lastStatus_ = status;
    ++told_;
    cv_.notify_all();
  }

  bool ready() const { return ready_; }

  // Puts the document of `people` people on the server (unless it is there) and fetches it;
  // false when the fetch did not end well within two minutes.
  bool fetch(int people) {
    if (!ready_) return false;
    if (people != onServer_) {
      document_ = enterpriseDocument(people);
      xcap_.putDocument("resource-lists/myusers/" + std::string(kUser) + "/buddys", document_);
      onServer_ = people;
    }
    int before;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      before = told_;
    }
    if (AddressBookClient::instance()->update() != 0) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::seconds(120), [&] { return told_ > before; })) return false;
    if (lastStatus_ != 0) return false;
    installed_ = people;
    return true;
  }
  // The book of `people` people installed (fetched when another one is).
  bool book(int people) { return installed_ == people || fetch(people); }
  const std::string& document() const { return document_; }

 private:
  World() {
    if (home_.path().empty()) return;
    setenv("PW_HOME", home_.path().c_str(), 1);
    DuiLib::CPaintManagerUI::SetResourcePath(PW_BENCH_SOURCE_DIR);
    if (!sso_.isListening() || !xcap_.isListening()) return;
    xcap_.requireSso(true);
    sso_.addUser(kUser, kPassword);
    Config* config = Config::instance();
    config->setValue("XCAP", "recvTimeout", "60");
    config->setValue("XCAP", "sendTimeout", "60");
    config->setValue("SSO", "httpTimeout", "10");
    config->setValue("SSO", "server", sso_.hostPort());
    config->setValue("XCAP", "server", xcap_.hostPort());
    if (LocalDb::instance()->open(kUser) != 0) return;
    if (LongTimeTask::instance()->open() != 0) return;
    AddressBookClient::instance()->addListener(this);
    AddressBookClient::instance()->init(kUser, kPassword);
    ready_ = true;
  }

  pwbench::TempFolder home_;
  pwtest::FakeSsoServer sso_;
  pwtest::FakeXcapServer xcap_{&sso_};
  std::mutex mutex_;
  std::condition_variable cv_;
  int told_ = 0;         // guarded by mutex_
  int lastStatus_ = -1;  // guarded by mutex_
  int onServer_ = 0;
  int installed_ = 0;
  std::string document_;
  bool ready_ = false;
};

// One open picker over the installed book, on this thread.
class OpenPicker {
 public:
  OpenPicker() {
    dialog_ = new CAddressBookDialog();
    dialog_->Create(nullptr, "Postwing", kDialogStyle, 0);
    dialog_->ShowWindow(true);
    A::Pump();
  }
  ~OpenPicker() {
    if (dialog_->GetHWND()) DestroyWindow(dialog_->GetHWND());
    A::Pump();
    delete dialog_;
  }
  CAddressBookDialog& d() { return *dialog_; }
  DuiLib::CControlUI* find(const char* name) { return A::Find(*dialog_, name); }
  CCheckTreeView* tree() { return dynamic_cast<CCheckTreeView*>(find("addressbooklst")); }
  CMutilSelectList* list(const char* name) { return dynamic_cast<CMutilSelectList*>(find(name)); }
  // The node of the first division (child of the organisation), or null.
  CheckTreeNode* unit(int depth) {
    CCheckTreeView* t = tree();
    if (!t) return nullptr;
    CheckTreeNode* node = t->GetChildNode(t->GetRoot(), 0);
    for (int i = 0; i < depth && node; ++i) node = t->GetChildNode(node, 0);
    return node;
  }

 private:
  CAddressBookDialog* dialog_;
};

// The picker kept open between measurements on the same book.
// Never destroyed at exit: closeSharedPicker closes it while the window library still runs.
std::unique_ptr<OpenPicker>& sharedPicker() {
  static auto* picker = new std::unique_ptr<OpenPicker>();
  return *picker;
}
int& sharedPickerBook() {
  static int people = 0;
  return people;
}
OpenPicker* pickerFor(int people) {
  if (!World::get().book(people)) return nullptr;
  if (!sharedPicker() || sharedPickerBook() != people) {
    sharedPicker().reset();
    sharedPicker().reset(new OpenPicker());
    sharedPickerBook() = people;
  }
  return sharedPicker().get();
}
void closeSharedPicker() {
  sharedPicker().reset();
  sharedPickerBook() = 0;
}

// ---- the picker -----------------------------------------------------------------------------

void BM_Picker_Open(benchmark::State& state) {
  const int people = static_cast<int>(state.range(0));
  closeSharedPicker();
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  int rows = 0;
  for (auto _ : state) {
    std::unique_ptr<OpenPicker> picker(new OpenPicker());
    state.PauseTiming();
    rows = picker->tree() ? picker->tree()->GetCount() : 0;
    picker.reset();
    state.ResumeTiming();
  }
  if (rows < people) state.SkipWithError("the tree lacks rows");
  state.counters["rows"] = rows;
}
BENCHMARK(BM_Picker_Open)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One keystroke: the keyword box gets a keyword that shows about n/500, n/50 or n/5 hits
// (the previous keystroke's hits are cleared by it, as when the user types on).
void BM_Picker_Keystroke(benchmark::State& state) {
  const int people = 50000;
  const int hitsWanted = static_cast<int>(state.range(0));
  OpenPicker* picker = pickerFor(people);
  if (!picker) {
    state.SkipWithError("the picker could not be opened");
    return;
  }
  const char* keyword = hitsWanted <= people / 500 ? "kwa" : hitsWanted <= people / 50 ? "kwb" : "kwc";
  DuiLib::CControlUI* edit = picker->find("keywordedit");
  int hits = 0;
  for (auto _ : state) {
    state.PauseTiming();
    A::TypeText(edit, "");
    state.ResumeTiming();
    A::TypeText(edit, keyword);
    state.PauseTiming();
    hits = picker->list("searchlst")->GetCount();
    state.ResumeTiming();
  }
  A::TypeText(edit, "");
  picker->list("searchlst")->RemoveAll();
  if (hits != hitsWanted) state.SkipWithError("unexpected hit count");
  state.counters["hits"] = hits;
}
BENCHMARK(BM_Picker_Keystroke)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// A mouse move over the picker showing the tree of 50,000 people, with a division of about
// 10,000 checked (the add buttons follow the check marks).
void BM_Picker_MouseMove(benchmark::State& state) {
  OpenPicker* picker = pickerFor(50000);
  CheckTreeNode* division = picker ? picker->unit(1) : nullptr;
  if (!division) {
    state.SkipWithError("the picker could not be opened");
    return;
  }
  picker->tree()->SetNodeChecked(division, true);
  int x = 1;
  for (auto _ : state) {
    A::MouseMove(picker->d(), POINT{x, 200});
    x = x % 500 + 1;
  }
  bool enabled = picker->find("reRightbtn")->IsEnabled();
  picker->tree()->SetNodeChecked(division, false);
  if (!enabled) state.SkipWithError("the add button did not follow the check marks");
}
BENCHMARK(BM_Picker_MouseMove)->Unit(benchmark::kMicrosecond)->MinTime(0.2);

// The To list's add button with a checked unit: a department (about 1,000) or a division
// (about 10,000); the list is emptied between runs.
void BM_Picker_AddCheckedUnit(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));  // 1 division, 2 department
  OpenPicker* picker = pickerFor(50000);
  CheckTreeNode* unit = picker ? picker->unit(depth) : nullptr;
  if (!unit) {
    state.SkipWithError("the picker could not be opened");
    return;
  }
  int added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    picker->tree()->SetNodeChecked(unit, true);
    state.ResumeTiming();
    A::Click(picker->find("reRightbtn"));
    state.PauseTiming();
    added = picker->list("reselectlist")->GetCount();
    A::Click(picker->find("recleanbtn"));
    state.ResumeTiming();
  }
  if (added < (depth == 1 ? 10000 : 1000)) state.SkipWithError("contacts missing from the list");
  state.counters["added"] = added;
}
BENCHMARK(BM_Picker_AddCheckedUnit)
    ->ArgName("depth")
    ->Arg(2)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// ---- fetch, model, table --------------------------------------------------------------------

// A whole fetch of the book (loopback HTTP, decode, model build, contact table) beside a bare
// Xerces DOM parse of the same document done in the same iteration; `dom_ratio` is their
// quotient.
// The floor of the table fill: a standalone SQLite program writing the same rows into the same
// table (its own file, the table's own statements: primary key and three indexes; WAL,
// synchronous=NORMAL) in transactions of 51 rows, one INSERT compiled once and bound per row.
// Like the refill, it empties the table first.
class StandaloneFill {
 public:
  // The rows and the table's statements, read from the installed book's table.
  bool load() {
    CppSQLite3Query q;
    if (!LocalDb::instance()->execQuery("select sql from sqlite_master where tbl_name='xcapContactsInfo' and sql is not null;", q))
      return false;
    while (!q.eof()) {
      schema_.push_back(q.textField("sql"));
      q.nextRow();
    }
    CppSQLite3Query rows;
    if (!LocalDb::instance()->execQuery(
            "select userId, contactId, displayName, nickName, department, fullName from xcapContactsInfo;", rows))
      return false;
    while (!rows.eof()) {
      std::array<std::string, 6> row;
      for (int c = 0; c < 6; ++c) row[c] = rows.textField(rows.fieldName(c));
      rows_.push_back(std::move(row));
      rows.nextRow();
    }
    if (schema_.empty() || rows_.empty() || sqlite3_open((home_.path() + "/floor.db").c_str(), &db_) != SQLITE_OK)
      return false;
    exec("PRAGMA journal_mode=WAL;");
    exec("PRAGMA synchronous=NORMAL;");
    for (const std::string& sql : schema_) exec(sql.c_str());
    return fill();
  }
  ~StandaloneFill() {
    if (db_) sqlite3_close(db_);
  }
  size_t rows() const { return rows_.size(); }

  bool fill() {
    exec("delete from xcapContactsInfo;");
    for (size_t at = 0; at < rows_.size(); at += 51) {
      exec("begin transaction;");
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db_, "insert into xcapContactsInfo (userId, contactId, displayName, nickName, department, "
                                  "fullName) values (?,?,?,?,?,?);", -1, &st, nullptr) != SQLITE_OK)
        return false;
      for (size_t i = at; i < std::min(rows_.size(), at + 51); ++i) {
        for (int c = 0; c < 6; ++c)
          sqlite3_bind_text(st, c + 1, rows_[i][c].data(), static_cast<int>(rows_[i][c].size()), SQLITE_STATIC);
        if (sqlite3_step(st) != SQLITE_DONE) {
          sqlite3_finalize(st);
          return false;
        }
        sqlite3_reset(st);
      }
      sqlite3_finalize(st);
      exec("commit transaction;");
    }
    return true;
  }

 private:
  void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

  pwbench::TempFolder home_;
  sqlite3* db_ = nullptr;
  std::vector<std::string> schema_;
  std::vector<std::array<std::string, 6>> rows_;
};

// The decode and the model build with the table fill, apart: the document decoded into the
// buddy tree as the fetch job does it (parse and texts converted for the desktop), then the
// model built and the table refilled from that tree by an agent of its own (no listener).
double decodeSeconds(const std::string& doc, tree<TreeNode>& out) {
  ResourceListsAppUsage usage(kUser, CODING_GB2312, Sptr<IXcapClient>(), false);
  std::set<BuddyEntry> buddies;
  Clock::time_point t0 = Clock::now();
  if (usage.decodeTree(doc, out, buddies) != XCAP_SUCCESS) return -1;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// One iteration: the whole fetch (loopback HTTP, decode, model build, contact table in batches
// of 51), timed; beside it, untimed by the framework, a bare DOM parse of the document
// (dom_ms), the decode alone (decode_ms), the model build and fill alone (build_fill_ms) and
// the standalone fill of the same rows (floor_fill_ms). floor_ratio is the whole fetch over
// (DOM parse + standalone fill); fill_ratio the build and fill over the standalone fill.
void BM_AddressBook_FetchModelTable(benchmark::State& state) {
  const int people = static_cast<int>(state.range(0));
  closeSharedPicker();
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  StandaloneFill floor;
  if (!floor.load()) {
    state.SkipWithError("the standalone fill could not be prepared");
    return;
  }
  Sptr<ContactListAgent> agent(new ContactListAgent());
  double fetchSeconds = 0, domSeconds = 0, decode = 0, buildFill = 0, floorFill = 0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    if (!World::get().fetch(people)) {
      state.SkipWithError("the fetch failed");
      return;
    }
    Clock::time_point t1 = Clock::now();
    bool parsed = domParse(World::get().document());
    Clock::time_point t2 = Clock::now();
    if (!parsed) {
      state.SkipWithError("the DOM parse failed");
      return;
    }
    bool filled = floor.fill();
    Clock::time_point t3 = Clock::now();
    tree<TreeNode> buddyTree;
    double d = decodeSeconds(World::get().document(), buddyTree);
    Clock::time_point t4 = Clock::now();
    agent->OnUpdate(buddyTree, 0);
    Clock::time_point t5 = Clock::now();
    if (!filled || d < 0) {
      state.SkipWithError("the standalone fill or the decode failed");
      return;
    }
    double fetch = std::chrono::duration<double>(t1 - t0).count();
    fetchSeconds += fetch;
    domSeconds += std::chrono::duration<double>(t2 - t1).count();
    floorFill += std::chrono::duration<double>(t3 - t2).count();
    decode += d;
    buildFill += std::chrono::duration<double>(t5 - t4).count();
    state.SetIterationTime(fetch);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["dom_ms"] = 1000.0 * domSeconds / n;
  state.counters["dom_ratio"] = domSeconds > 0 ? fetchSeconds / domSeconds : 0;
  state.counters["doc_MiB"] = static_cast<double>(World::get().document().size()) / (1024.0 * 1024.0);
  state.counters["floor_fill_ms"] = 1000.0 * floorFill / n;
  state.counters["floor_ratio"] = domSeconds + floorFill > 0 ? fetchSeconds / (domSeconds + floorFill) : 0;
  state.counters["decode_ms"] = 1000.0 * decode / n;
  state.counters["build_fill_ms"] = 1000.0 * buildFill / n;
  state.counters["fill_ratio"] = floorFill > 0 ? buildFill / floorFill : 0;
  state.counters["rows"] = static_cast<double>(floor.rows());
}
BENCHMARK(BM_AddressBook_FetchModelTable)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

// ---- search ---------------------------------------------------------------------------------

// What people type: the first character or two of a Chinese name, a piece of a Latin name, a
// part of an employee number, a mail address, and a few that find nobody. GB2312, as typed.
std::vector<std::string> typedKeywords(int people) {
  std::vector<std::string> out;
  for (int k = 0; k < 100; ++k) {
    int i = (k * 7919) % people;
    std::string name = displayNameOf(i);
    std::string keyword;
    switch (k % 8) {
      case 0: keyword = name.substr(0, 3); break;  // one Chinese character, or three letters
      case 1: keyword = i % 4 == 3 ? name.substr(0, 5) : name.substr(0, 6); break;  // two
      case 2: keyword = name; break;
      case 3: keyword = "e" + std::to_string(i).substr(0, 4); break;
      case 4: keyword = std::string(kLatinFamily[k % 16]).substr(0, 4); break;
      case 5: keyword = "user" + std::to_string(i); break;
      case 6: keyword = uriOf(i); break;
      default: keyword = k % 16 == 7 ? "zzq" : u8"无此人"; break;
    }
    out.push_back(CodingTransform::utf8_to_gb2312(keyword));
  }
  return out;
}

// One- and two-letter keywords that hit a large part of the book (20,000 to 50,000 of 100,000
// people: Latin names, nick names); the search's widest work.
const std::vector<std::string> kWideKeywords = {"l", "a", "e", "n", "an", "er", "el", "k"};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t at = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(at, v.size() - 1)];
}

// ContactDb::search over 100,000 people for each typed keyword and each wide keyword; one
// iteration is the whole list. median_ms and p95_ms are of single searches (all keywords),
// typed_median_ms of the typed ones; wide_ms is the mean of a wide keyword's search and
// wide_hits its mean number of hits.
void BM_AddressBook_Search100k(benchmark::State& state) {
  const int people = 100000;
  closeSharedPicker();
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  const std::vector<std::string> typed = typedKeywords(people);
  std::vector<std::string> keywords = typed;
  keywords.insert(keywords.end(), kWideKeywords.begin(), kWideKeywords.end());
  std::vector<double> times, typedTimes;
  double wideMs = 0, wideHits = 0;
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (size_t k = 0; k < keywords.size(); ++k) {
      std::vector<Sptr<INode>> found;
      Clock::time_point t0 = Clock::now();
      ContactDb::instance()->search(keywords[k], found);
      double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      times.push_back(ms);
      if (k < typed.size()) {
        typedTimes.push_back(ms);
      } else {
        wideMs += ms;
        wideHits += static_cast<double>(found.size());
      }
      hits += found.size();
    }
  }
  const double wideRuns = static_cast<double>(state.iterations() * kWideKeywords.size());
  state.counters["median_ms"] = percentile(times, 0.5);
  state.counters["p95_ms"] = percentile(times, 0.95);
  state.counters["typed_median_ms"] = percentile(typedTimes, 0.5);
  state.counters["wide_ms"] = wideMs / wideRuns;
  state.counters["wide_hits"] = wideHits / wideRuns;
  state.counters["hits_per_search"] = static_cast<double>(hits) / static_cast<double>(keywords.size());
}
BENCHMARK(BM_AddressBook_Search100k)->Unit(benchmark::kMillisecond)->Iterations(2);

// The floor of the wide searches: the same 100,000 people in memory (their contact id, display
// and nick name in UTF-8, as the table holds them) scanned with the same matching rules (the
// connection's LIKE, the same three patterns), the hits made unique and put in display-name
// order. wide_ms is the mean over the wide keywords.
void BM_AddressBook_ScanFloor100k(benchmark::State& state) {
  const int people = 100000;
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  struct Row {
    std::string id, display, nick;
  };
  std::vector<Row> rows;
  CppSQLite3Query q;
  if (!LocalDb::instance()->execQuery("select contactId, displayName, nickName from xcapContactsInfo;", q)) {
    state.SkipWithError("the rows could not be read");
    return;
  }
  while (!q.eof()) {
    rows.push_back(Row{q.textField("contactId"), q.textField("displayName"), q.textField("nickName")});
    q.nextRow();
  }
  double ms = 0, hits = 0;
  for (auto _ : state) {
    for (const std::string& keyword : kWideKeywords) {
      Clock::time_point t0 = Clock::now();
      const std::string contains = "%" + keyword + "%";
      const std::string withSuffix = contains + "@corp.example.com";
      std::vector<const Row*> found;
      for (const Row& r : rows)
        if (fastLikeMatch(contains, r.display) || fastLikeMatch(contains, r.nick) || fastLikeMatch(withSuffix, r.id))
          found.push_back(&r);
      std::sort(found.begin(), found.end(), [](const Row* a, const Row* b) {
        return a->display != b->display ? a->display < b->display : a->id < b->id;
      });
      found.erase(std::unique(found.begin(), found.end(), [](const Row* a, const Row* b) { return a->id == b->id; }),
                  found.end());
      ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      hits += static_cast<double>(found.size());
    }
  }
  const double runs = static_cast<double>(state.iterations() * kWideKeywords.size());
  state.counters["wide_ms"] = ms / runs;
  state.counters["wide_hits"] = hits / runs;
}
BENCHMARK(BM_AddressBook_ScanFloor100k)->Unit(benchmark::kMillisecond)->Iterations(2);

// The floor of the search itself: SQLite alone running the search's very statement (the same
// text, the same bound values, SQLite's own LIKE) over the table that the program's fetch wrote
// (a copy of its file, checkpointed), on a connection of its own with the same settings (WAL,
// exclusive locking, no memory map, the same 64 MiB page cache), every row stepped and its id
// copied out. Each keyword runs through ContactDb::search and then through the floor, in the
// same iteration, so that both see the same machine.
class SqliteFloor {
 public:
  bool open() {
    if (home_.path().empty()) return false;
    const std::string source = LocalDb::instance()->path();
    const std::string copy = home_.path() + "/floor.db";
    if (source.empty() || !LocalDb::instance()->execDML("PRAGMA wal_checkpoint(TRUNCATE);")) return false;
    std::error_code ec;
    std::filesystem::copy_file(source, copy, ec);
    if (ec || sqlite3_open_v2(copy.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return false;
    return sqlite3_exec(db_, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                             "PRAGMA mmap_size=0; PRAGMA cache_size=-65536;",
                        nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~SqliteFloor() {
    if (db_) sqlite3_close(db_);
  }
  // The statement for one keyword (GB2312, as typed) with the values ContactDb::search binds;
  // the number of rows, or -1.
  long run(const std::string& keyword) {
    std::string suffix = keyword.find('@') == std::string::npos ? "@corp.example.com" : "";
    std::string contains = "%" + CodingTransform::gb2312_to_utf8(keyword) + "%";
    std::string last = contains + suffix;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, kSql, -1, &st, nullptr) != SQLITE_OK) return -1;
    sqlite3_bind_text(st, 1, kUser, -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, contains.data(), static_cast<int>(contains.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 3, contains.data(), static_cast<int>(contains.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 4, last.data(), static_cast<int>(last.size()), SQLITE_STATIC);
    long rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      id_.assign(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                 static_cast<size_t>(sqlite3_column_bytes(st, 0)));
      benchmark::DoNotOptimize(id_.data());
      ++rows;
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? rows : -1;
  }

  // ContactDb::search's statement, as it stands there.
  static constexpr const char* kSql =
      "select contactId from xcapContactsInfo where +userId = ? and (displayName like ? "
      "or nickName like ? or contactId like ?) group by contactId order by displayName asc ;";

 private:
  pwbench::TempFolder home_;
  sqlite3* db_ = nullptr;
  std::string id_;
};

// The keywords of the side-by-side line: the typed ones, the wide ones, and a few that find most
// of the book (a common family name, the whole domain).
std::vector<std::string> sideBySideKeywords() {
  std::vector<std::string> out = typedKeywords(100000);
  out.insert(out.end(), kWideKeywords.begin(), kWideKeywords.end());
  for (const char* k : {u8"张", u8"王", "user1", "corp", "@corp.example.com"}) out.push_back(CodingTransform::utf8_to_gb2312(k));
  return out;
}

// ContactDb::search beside SQLite alone running its statement (SqliteFloor), keyword by keyword
// in the same iteration. median_ms/p95_ms are the search's, sqlite_median_ms/sqlite_p95_ms the
// floor's, over every keyword; median_ratio and p95_ratio their quotients; wide_ratio the
// quotient of the summed times of the keywords with more than 10,000 hits (wide_keywords of
// them), all_ratio the one of "@corp.example.com" (every person a hit); and for each keyword
// with more than 2,000 hits its hits, the search's mean time and its ratio.
void BM_AddressBook_SearchVsSqlite100k(benchmark::State& state) {
  const int people = 100000;
  closeSharedPicker();
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  SqliteFloor floor;
  if (!floor.open()) {
    state.SkipWithError("the floor's copy of the table could not be made");
    return;
  }
  const std::vector<std::string> keywords = sideBySideKeywords();
  std::vector<long> hits(keywords.size(), 0);
  for (size_t k = 0; k < keywords.size(); ++k) {  // warm both caches; the hits must agree
    std::vector<Sptr<INode>> found;
    ContactDb::instance()->search(keywords[k], found);
    hits[k] = floor.run(keywords[k]);
    if (hits[k] < 0 || static_cast<long>(found.size()) != hits[k]) {
      state.SkipWithError("the search and the floor found different numbers of rows");
      return;
    }
  }
  std::vector<double> mine, floorTimes;
  std::vector<double> sumMine(keywords.size(), 0), sumFloor(keywords.size(), 0);
  double wideMine = 0, wideFloor = 0, allMine = 0, allFloor = 0;
  int wide = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < keywords.size(); ++k) {
      std::vector<Sptr<INode>> found;
      Clock::time_point t0 = Clock::now();
      ContactDb::instance()->search(keywords[k], found);
      Clock::time_point t1 = Clock::now();
      long rows = floor.run(keywords[k]);
      Clock::time_point t2 = Clock::now();
      benchmark::DoNotOptimize(rows);
      double a = std::chrono::duration<double, std::milli>(t1 - t0).count();
      double b = std::chrono::duration<double, std::milli>(t2 - t1).count();
      mine.push_back(a);
      floorTimes.push_back(b);
      sumMine[k] += a;
      sumFloor[k] += b;
      if (hits[k] > 10000) {
        wideMine += a;
        wideFloor += b;
      }
      if (k + 1 == keywords.size()) {
        allMine += a;
        allFloor += b;
      }
    }
  }
  for (long h : hits) wide += h > 10000 ? 1 : 0;
  // Each keyword with more than 2,000 hits on its own: "<keyword>:ms" the search's mean,
  // ":ratio" over the floor's.
  for (size_t k = 0; k < keywords.size(); ++k) {
    if (hits[k] <= 2000 || sumFloor[k] <= 0) continue;
    const std::string name = CodingTransform::gb2312_to_utf8(keywords[k]);
    state.counters[name + ":hits"] = static_cast<double>(hits[k]);
    state.counters[name + ":ms"] = sumMine[k] / static_cast<double>(state.iterations());
    state.counters[name + ":ratio"] = sumMine[k] / sumFloor[k];
  }
  const double median = percentile(mine, 0.5), p95 = percentile(mine, 0.95);
  const double floorMedian = percentile(floorTimes, 0.5), floorP95 = percentile(floorTimes, 0.95);
  state.counters["median_ms"] = median;
  state.counters["p95_ms"] = p95;
  state.counters["sqlite_median_ms"] = floorMedian;
  state.counters["sqlite_p95_ms"] = floorP95;
  state.counters["median_ratio"] = floorMedian > 0 ? median / floorMedian : 0;
  state.counters["p95_ratio"] = floorP95 > 0 ? p95 / floorP95 : 0;
  state.counters["wide_keywords"] = wide;
  state.counters["wide_ratio"] = wideFloor > 0 ? wideMine / wideFloor : 0;
  state.counters["all_ratio"] = allFloor > 0 ? allMine / allFloor : 0;
}
BENCHMARK(BM_AddressBook_SearchVsSqlite100k)->Unit(benchmark::kMillisecond)->Iterations(3);

// The bare SQL of the same searches: the search's own statement on the same connection, its
// rows read, without the model lookups and text conversions around it.
void BM_AddressBook_BareSql100k(benchmark::State& state) {
  const int people = 100000;
  if (!World::get().book(people)) {
    state.SkipWithError("the book could not be fetched");
    return;
  }
  const std::vector<std::string> keywords = typedKeywords(people);
  const char* sql =
      "select contactId from xcapContactsInfo where +userId = ? and (displayName like ? or nickName like ? "
      "or contactId like ?) group by contactId order by displayName asc;";
  std::vector<double> times;
  for (auto _ : state) {
    for (const std::string& keyword : keywords) {
      std::string contains = "%" + CodingTransform::gb2312_to_utf8(keyword) + "%";
      std::string suffix = keyword.find('@') == std::string::npos ? "@corp.example.com" : "";
      CppSQLite3Params params{CppSQLite3Param(std::string(kUser)), CppSQLite3Param(contains),
                              CppSQLite3Param(contains), CppSQLite3Param(contains + suffix)};
      Clock::time_point t0 = Clock::now();
      CppSQLite3Query rows;
      if (LocalDb::instance()->execQuery(sql, params, rows)) {
        while (!rows.eof()) {
          benchmark::DoNotOptimize(rows.textField("contactId"));
          rows.nextRow();
        }
      }
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
  }
  state.counters["median_ms"] = percentile(times, 0.5);
  state.counters["p95_ms"] = percentile(times, 0.95);
}
BENCHMARK(BM_AddressBook_BareSql100k)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

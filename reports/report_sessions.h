#pragma once
// The sessions a report reads, loaded once with the filter's conditions, and the rows
// of the tables that hang off them, joined to them in memory by the session
// identifier. The session views and the page statistics order and group these rows
// here instead of sorting padded texts in the database: the rows and their order are
// those of the views' own statements, which stay the fallback whenever a row is not
// of the shape this path reads (a start that is no stored date, a null text).
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

// Texts kept in blocks that never move, so views into them stay valid.
class TextArena {
 public:
  std::string_view Keep(std::string_view text);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = 0, capacity_ = 0;
};

inline constexpr uint32_t kNoEntry = UINT32_MAX;

// Texts (session identifiers, addresses) to the caller's row numbers: an
// open-addressing table, as the rows of the larger tables look up hundreds of
// thousands of identifiers.
class TextIndex {
 public:
  void Reserve(size_t count);
  // Keeps a copy of id; the first row given for a text stays.
  std::string_view Add(std::string_view id, uint32_t row);
  uint32_t Find(std::string_view id) const;

 private:
  struct Slot {
    const char* text = nullptr;
    uint32_t size = 0;
    uint32_t row = kNoEntry;
  };
  size_t Probe(std::string_view id) const;
  void Grow();

  TextArena ids_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// Find with a memo of the last text asked for: the rows of one session stand together
// in the tables that hang off the sessions, so most lookups repeat the one before.
class TextLookup {
 public:
  explicit TextLookup(const TextIndex& index) : index_(index) {}
  uint32_t Find(std::string_view text) {
    if (asked_ && text == last_) return row_;
    last_.assign(text);
    asked_ = true;
    return row_ = index_.Find(text);
  }

 private:
  const TextIndex& index_;
  std::string last_;
  bool asked_ = false;
  uint32_t row_ = kNoEntry;
};

// Appends left(text, width) filled with blanks up to width, capitals folded to small
// letters: a piece of the views' sort keys "left(x,n) || Space(n-Len(left(x,n)))"
// compared COLLATE NOCASE. Left and Len count bytes, as the database's functions do.
void AppendPaddedKey(std::string& key, std::string_view text, size_t width);

// The rank of each text's key AppendPaddedKey(text, width) among the distinct keys,
// without making the keys.
std::vector<uint32_t> RankPaddedKeys(const std::vector<std::string_view>& texts, size_t width);

// The rank of each key among the distinct keys (0 for the smallest), by byte order.
std::vector<uint32_t> RankKeys(const std::vector<std::string>& keys);

// The filter's conditions read into memory (BuildFilterQueries): which sessions pass.
class FilterPass {
 public:
  // False when a statement fails.
  bool Load(DbSession& db, const ReportFilter& filter, std::time_t now);
  bool Passes(int64_t numId, std::string_view sessionId, std::string_view address) const;

 private:
  bool byNumId_ = false, byAddress_ = false;
  std::vector<bool> numIds_;
  TextIndex addresses_;
  std::vector<TextIndex> ids_;
};

// One session of a session view.
struct ReportSession {
  int32_t numId = 0;
  int32_t visited = 0;  // NumVisited, 0 when null
  int64_t start = 0;    // TimeEnter's digits, yyyymmddhhnnss: the order of the stored texts
  uint32_t visitor = 0; // its row of ReportSessions::visitors
  // Format(TimeEnter,'yyyy-mm-dd hh:mm'), written into buffer.
  std::string_view Minute(char (&buffer)[17]) const;
};

// A row of DNSLookUp.
struct ReportVisitor {
  std::string_view address;         // UserIP
  std::string_view rUrl, fullName;  // empty when null (the flags tell)
  bool nullRUrl = false, nullFullName = false;
  int32_t robot = 0;  // IsRobot, 0 when null
};

// The sessions of the session views: [Session] a joined to DNSLookUp b with the
// filter's conditions, in NumId order. The join is made here (both tables read in
// their stored order); with the filter on, the database names the sessions it passes.
struct ReportSessions {
  std::vector<ReportSession> rows;
  std::vector<ReportVisitor> visitors;
  TextIndex ids;                       // SessionId, when asked for
  std::vector<std::string_view> idList;  // SessionId by row, when asked for
  TextIndex addresses;                 // UserIP: the row of visitors
  TextArena texts, sessionTexts;       // those of visitors, those of sessions
};

// Each session's place when ordered by start, then by address when byAddress, then
// by NumId: the order in which the statements meet sessions of the same start.
std::vector<uint32_t> StartRanks(const ReportSessions& sessions, bool byAddress);

// False when the query fails or a start is not a stored date; the caller then runs
// the view's own statement.
// What is kept of the sessions' identifiers, for joining other tables' rows to them:
// nothing, an index (ReportSessions::ids) or the list by row (ReportSessions::idList).
enum class SessionIds { kNone, kIndexed, kListed };
bool LoadReportSessions(DbSession& db, const ReportFilter& filter, std::time_t now, ReportSessions& out,
                        SessionIds ids);

// Room in a session view's tree for its session rows and their group rows (room that
// is never written costs no memory).
void ReserveSessionRows(ReportTree& tree, size_t sessionRows);

// While it lives, the connection reads each page once into a small cache instead of
// mapping the file: the reads here go through whole tables once, and a mapped file
// would count every page it touched in the process's memory.
class ScanConnection {
 public:
  explicit ScanConnection(DbSession& db);
  ~ScanConnection();
  ScanConnection(const ScanConnection&) = delete;
  ScanConnection& operator=(const ScanConnection&) = delete;

 private:
  static constexpr int64_t kScanCacheKiB = -8192;  // a negative cache_size counts KiB
  DbSession& db_;
  int64_t mmapSize_, cacheSize_;
};

// Work on a second connection to db's file, on a thread of its own, while the caller
// goes on with db; without one (no file, or db holds a transaction, whose rows a second
// connection would not see) the work runs on db when Join is called.
class SideWork {
 public:
  SideWork(DbSession& db, std::function<bool(DbSession&)> work);
  ~SideWork();
  SideWork(const SideWork&) = delete;
  SideWork& operator=(const SideWork&) = delete;
  // Waits for the work; its answer, false when it ran out of memory.
  bool Join();

 private:
  bool Run(DbSession& connection);

  DbSession& db_;
  std::function<bool(DbSession&)> work_;
  DbSession side_;
  std::thread thread_;
  bool answer_ = false, joined_ = false;
};

// The number sql gives (a largest row number), as room to reserve; 0 when it fails.
size_t RowCountHint(DbSession& db, const char* sql);

// True when sql prepares: the tables and columns it names are there. The fast paths
// ask it of their view's own statement, so that a statement that would fail still
// runs, and traces its failure, as it always did.
bool StatementPrepares(DbSession& db, const std::string& sql);

// Runs sql and hands every row to each; false when the statement fails or each
// answers false (a row this path cannot read).
template <class Each>
bool ForEachRow(DbSession& db, const std::string& sql, Each each) {
  Statement statement;
  if (Failed(statement.Execute(db, sql))) return false;
  int32_t step;
  while ((step = statement.MoveNext()) == kResultOk)
    if (!each(statement)) return false;
  return step == kResultFalse;
}

}  // namespace weavil

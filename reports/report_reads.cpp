#include "reports/report_reads.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "store/jet_date.h"
#include "store/stored_times.h"

namespace weavil {

namespace {

int64_t PragmaValue(DbSession& db, const char* name) {
  Statement read;
  int64_t value = 0;
  if (Succeeded(read.Execute(db, std::string("PRAGMA ") + name + ";")) && read.MoveNext() == kResultOk)
    read.GetInt64(1, value);
  return value;
}

void SetPragma(DbSession& db, const char* name, int64_t value) {
  Statement set;
  set.Execute(db, std::string("PRAGMA ") + name + "=" + std::to_string(value) + ";");
}

}  // namespace

bool JoinsByNumber(DbSession& db) {
  for (std::string_view table : kTablesNamingSessions)
    if (!db.KeptByNumber(table)) return false;
  return true;
}

std::string SessionNamedRead(bool byNumber, std::string_view table, std::string_view before, std::string_view after,
                             std::string_view tail) {
  const bool sessions = table == "[Session]" || table == "SessionRow";
  std::string name = !byNumber ? "SessionId" : sessions ? "CAST(NumId AS TEXT)" : "CAST(SessionNum AS TEXT)";
  std::string from = byNumber && !sessions ? std::string(table) + "Row" : std::string(table);
  return "SELECT " + std::string(before) + name + std::string(after) + " FROM " + from + std::string(tail) + ";";
}

SessionStarts::SessionStarts(DbSession& db) : seconds_(SessionTimesKeptAsNumbers(db)) {}

std::string_view SessionStarts::Columns() const {
  if (!seconds_) return "TimeEnter, NULL";
  return "CASE typeof(TimeEnter) WHEN 'integer' THEN NULL ELSE TimeEnter END, "
         "CASE typeof(TimeEnter) WHEN 'integer' THEN TimeEnter END";
}

bool SessionStarts::Read(const Statement& row, int ordinal, std::string_view& start) {
  int64_t seconds = 0;
  if (!seconds_ || !row.GetInt64(ordinal + 1, seconds)) return row.GetTextView(ordinal, start);
  text_ = FormatEpochSeconds(seconds);
  start = text_;
  return true;
}

ScanConnection::ScanConnection(DbSession& db)
    : db_(db), mmapSize_(PragmaValue(db, "mmap_size")), cacheSize_(PragmaValue(db, "cache_size")) {
  SetPragma(db_, "mmap_size", 0);
  SetPragma(db_, "cache_size", kScanCacheKiB);
}

ScanConnection::~ScanConnection() {
  SetPragma(db_, "mmap_size", mmapSize_);
  SetPragma(db_, "cache_size", cacheSize_);
}

SideWork::SideWork(DbSession& db, std::function<bool(DbSession&)> work) : db_(db), work_(std::move(work)) {
  std::string file = db.FilePath();
  if (!file.empty() && !db.InTransaction() && Succeeded(side_.OpenFile(file))) {
    thread_ = std::thread([this] {
      ScanConnection scanning(side_);
      answer_ = Run(side_);
    });
  }
}

SideWork::~SideWork() { Join(); }

bool SideWork::Run(DbSession& connection) {
  try {
    return work_(connection);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SideWork::Join() {
  if (joined_) return answer_;
  joined_ = true;
  if (thread_.joinable()) thread_.join();
  else answer_ = Run(db_);
  return answer_;
}

size_t RowCountHint(DbSession& db, const char* sql) {
  Statement top;
  int64_t most = 0;
  if (Succeeded(top.Execute(db, sql)) && top.MoveNext() == kResultOk) top.GetInt64(1, most);
  return static_cast<size_t>(std::clamp<int64_t>(most, 0, 1 << 26));
}

bool StatementPrepares(DbSession& db, const std::string& sql) {
  Statement statement;
  return Succeeded(statement.Prepare(db, sql));
}

}  // namespace weavil

#pragma once
// How the in-memory reports read the database: whole tables through a small page
// cache, a second connection for work that can go on beside the caller's, and the
// checks and hints the reads start with.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "store/database.h"
#include "store/result.h"

namespace weavil {

// The in-memory reports join the rows of the tables that name sessions to the sessions
// by a text naming each session once: its SessionId, or, on a file that keeps every
// such table by number, its NumId written as text. The number is read from the row
// itself, where the identifier would be read from Session for every row of a view.
bool JoinsByNumber(DbSession& db);
// "SELECT before<the session's name>after FROM table tail;" on table, a table naming
// sessions (Resource, a link table) or the sessions themselves ([Session], or
// SessionStarts's table), for that form of the joins.
std::string SessionNamedRead(bool byNumber, std::string_view table, std::string_view before, std::string_view after,
                             std::string_view tail = {});

// The sessions' starts in a read of the sessions. Where the file keeps them as their
// seconds, the read takes them from SessionRow, in a column of the numbers and one of
// the texts kept so (each null where the other is not), and the numbers are written out
// here: the view's datetime() for every session took a sixth of a view's time.
class SessionStarts {
 public:
  explicit SessionStarts(DbSession& db);
  // The table to read the sessions from, and the start's columns of the select list.
  std::string_view Table() const { return seconds_ ? "SessionRow" : "[Session]"; }
  std::string_view Columns() const;
  // The start of the row's session, its columns from ordinal on, as the view Session
  // gives it (valid until the next Read); false when null.
  bool Read(const Statement& row, int ordinal, std::string_view& start);

 private:
  bool seconds_;
  std::string text_;
};

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
// answers false (a row this path cannot read). each runs no statement on db: a
// server's rows come as it sends them (Statement::ExecuteRows).
template <class Each>
bool ForEachRow(DbSession& db, const std::string& sql, Each each) {
  Statement statement;
  if (Failed(statement.ExecuteRows(db, sql))) return false;
  int32_t step;
  while ((step = statement.MoveNext()) == kResultOk)
    if (!each(statement)) return false;
  return step == kResultFalse;
}

}  // namespace weavil

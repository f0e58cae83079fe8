#pragma once
// The one database client: a process-wide data source, a database session per unit of
// work (each with its own SQLite connection) and statements whose rows are read forward
// by column ordinal, starting at 1. A null column is reported as "no value".
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace weavil {

class LogDataSource {
 public:
  // The shared data source, opened on first use. A failed open is kept for the whole
  // run and never retried: every user then gives up.
  static LogDataSource& Obtain();

  // Use this database file instead of the registered data source "Log". Must be set
  // before the first Obtain (the command line's --db).
  static void UseDatabaseFile(std::string path);

  // Releases the shared source and forgets any override (program exit, tests); the
  // next Obtain opens again.
  static void Release();

  int32_t OpenResult() const { return openResult_; }
  bool IsOpen() const { return openResult_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  LogDataSource() = default;
  void Open();

  std::string path_;
  int32_t openResult_ = -1;
};

// Opens an existing database file read-write (never creates one) and checks that it is
// a Weavil database. Returns a negative result on failure.
int32_t OpenDatabaseFile(const std::string& path, sqlite3** connection);

class DbSession {
 public:
  DbSession() = default;
  ~DbSession();
  DbSession(const DbSession&) = delete;
  DbSession& operator=(const DbSession&) = delete;
  DbSession(DbSession&& other) noexcept;
  DbSession& operator=(DbSession&& other) noexcept;

  // Opens a session on the data source; negative when the source failed to open.
  int32_t Open(LogDataSource& source);
  // Opens a session on a database file directly (tests, tools).
  int32_t OpenFile(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  // Local transaction, read-committed (SQLite serialises writers; readers see commits).
  int32_t StartTransaction();
  int32_t Commit();
  int32_t Abort();
  bool InTransaction() const { return inTransaction_; }

  int64_t LastInsertId() const;
  // The database file this session is open on; empty when closed.
  std::string FilePath() const;
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  bool inTransaction_ = false;
};

class Statement {
 public:
  Statement() = default;
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;

  // Runs SQL text on the session. Statements without rows (insert, update, delete) run
  // the same way. A statement yielding rows stands before its first row afterwards.
  // Closes whatever this object held before.
  int32_t Execute(DbSession& session, std::string_view sql);

  // Prepared use for statements run many times: prepare once, then bind and Run.
  // Parameters are numbered from 1 as in SQLite ("?").
  int32_t Prepare(DbSession& session, std::string_view sql);
  void BindText(int index, std::string_view value);
  void BindInt(int index, int32_t value);
  void BindInt64(int index, int64_t value);
  void BindNull(int index);
  // Runs the prepared statement with the current bindings (reset first if it ran before).
  int32_t Run();

  // Moves to the next row: kResultOk with a row, kResultFalse at the end, negative on failure.
  int32_t MoveNext();

  int ColumnCount() const;
  // Column values of the current row by ordinal from 1; false when null or out of range.
  bool GetText(int ordinal, std::string& out) const;
  bool GetInt(int ordinal, int32_t& out) const;
  bool GetInt64(int ordinal, int64_t& out) const;
  bool GetDouble(int ordinal, double& out) const;
  bool IsNull(int ordinal) const;

  void Close();
  bool IsOpen() const { return stmt_ != nullptr; }

 private:
  int32_t StepFirst();
  void ResetIfRan();
  bool ColumnPresent(int ordinal) const;

  sqlite3_stmt* stmt_ = nullptr;
  bool pendingRow_ = false;  // the first row was fetched by Execute/Run, not yet handed out
  bool onRow_ = false;
  bool done_ = false;
  bool ran_ = false;
};

// Rewrites the few statement forms of the original dialect that SQLite does not take
// as written: "Delete * from" and calls of Left(). Everything else passes unchanged.
std::string TranslateSql(std::string_view sql);

}  // namespace weavil

#pragma once
// The one database client: a process-wide data source, a database session per unit of
// work (each with its own connection) and statements whose rows are read forward by
// column ordinal, starting at 1. A null column is reported as "no value". The data
// source is a SQLite file, or a PostgreSQL database named by a "postgresql://" URI
// (store/pg_backend.h): the statements are written once, in the Jet dialect SQLite
// takes, and translated for the server.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace weavil {

namespace pg {
class Connection;
}
struct PgQuery;
class WriteTallies;

// What SQLite said about a failed open, statement or transaction step.
struct DbError {
  int code = 0;          // SQLite's extended result code; 0 when nothing failed. A server's
                         // failures carry the code of SQLite's that means the same.
  std::string message;   // SQLite's or the server's own text ("database is locked", ...)
  std::string sqlState{};  // the server's SQLSTATE; empty for SQLite

  bool Failed() const { return code != 0; }
  // A unique column or key refused a second insert of the same value: what the
  // insert-then-select pattern expects and ignores.
  bool IsDuplicate() const;
  // The file is damaged or no database at all (SQLite's CORRUPT or NOTADB).
  bool IsDamage() const;
  // "message (SQLite code N)" (or "(PostgreSQL SQLSTATE S)") for logs and trace lines;
  // empty when nothing failed.
  std::string Describe() const;
};

// A blob column or parameter: bytes that SQLite does not read as text.
struct BlobView {
  const void* data = nullptr;
  size_t size = 0;
};

// How long a connection waits for another writer's lock before it gives up
// (the setting "BusySeconds"); applies to connections opened afterwards.
void SetDatabaseBusySeconds(int seconds);
int DatabaseBusySeconds();

// The first damage (CORRUPT or NOTADB) any open or statement of the process met since
// the last call, as "PATH: message"; empty when none. Clears it.
std::string TakeDatabaseDamage();

class LogDataSource {
 public:
  // The shared data source, opened on first use. A failed open is kept for the whole
  // run and never retried: every user then gives up.
  static LogDataSource& Obtain();

  // Use this database file (or server URI) instead of the registered data source "Log".
  // Must be set before the first Obtain (the command line's --db).
  static void UseDatabaseFile(std::string path);

  // Releases the shared source and forgets any override (program exit, tests); the
  // next Obtain opens again.
  static void Release();

  int32_t OpenResult() const { return openResult_; }
  bool IsOpen() const { return openResult_ >= 0; }
  // The database file, or the server's URI.
  const std::string& Path() const { return path_; }
  bool IsServer() const;
  // Why the open failed: SQLite's text, or what is missing; empty after a good open.
  const std::string& OpenError() const { return openError_; }
  // "the database PATH" (or "the data source \"Log\"" when none is registered),
  // followed by ": " and the reason when the open failed.
  std::string Describe() const;

 private:
  LogDataSource() = default;
  void Open();

  std::string path_;
  std::string openError_;
  int32_t openResult_ = -1;
};

// Opens an existing database file read-write (never creates one) and checks that it is
// a Weavil database. Returns a negative result on failure, with the reason in error.
int32_t OpenDatabaseFile(const std::string& path, sqlite3** connection, std::string* error = nullptr,
                         bool readOnly = false);

// The tables whose rows name a session by its SessionId: a file keeps them by the
// session's NumId (DbSession::KeptByNumber).
inline constexpr std::string_view kTablesNamingSessions[] = {"Resource",       "SessionBytes",     "SessionBrowserOS",
                                                             "SessionReferer", "SessionKeyphrase", "SessionKeywords"};

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
  // Opens a session on a database file (or server URI) directly (tests, tools); readOnly
  // never writes (a server's session ignores it).
  int32_t OpenFile(const std::string& path, bool readOnly = false);
  void Close();
  bool IsOpen() const { return db_ != nullptr || pg_ != nullptr; }
  // Whether the session is on a PostgreSQL server rather than a SQLite file.
  bool IsServer() const { return pg_ != nullptr; }

  // Local transaction, read-committed: readers see only commits. It takes the write lock
  // at once (waiting up to the busy time for another writer), so a writer either gets
  // the whole database for its transaction or fails here, never halfway through.
  int32_t StartTransaction();
  int32_t Commit();
  int32_t Abort();
  bool InTransaction() const { return inTransaction_; }

  // Before one large transaction into a database that no other connection has open:
  // it is written through a rollback journal instead of the WAL, so each new page is
  // written once instead of twice (into the WAL, then again at the checkpoint), and
  // nothing is memory-mapped. A connection opened meanwhile waits for the commit to
  // read (it would see no rows of the transaction before it anyway). False, with nothing
  // changed, when another connection has the file open. EndBulkWrite (or Close) goes back
  // to the WAL after the transaction.
  bool StartBulkWrite();
  void EndBulkWrite();
  // Within a bulk write: the system starts writing the pages written to the file so
  // far to disk and returns at once, so the sync at the commit finds less left to write
  // while the transaction's last work (index builds, statistics) goes on. Nothing
  // outside a bulk write or on a server.
  void StartWriteback();

  // On a server: rows for table's columns in COPY's text form (a row a line, fields
  // separated by tabs, \N for null, backslash escapes), written with one COPY. Fails on
  // a SQLite file. The COPY is answered while the caller goes on: a failure shows as the
  // session's at its next use, and fails the commit. skipDuplicates (answered at once): a row whose unique value the table holds already (or
  // an earlier row of the same rows holds) is left out and the others land, as inserts
  // that each skip a duplicate would leave it: the rows go by COPY into a temporary
  // table of the same columns, dropped at the commit, and from there into the table.
  int32_t CopyRows(std::string_view table, std::string_view columns, std::string_view rows,
                   bool skipDuplicates = false);
  // On a server: each row of select (a SELECT in the server's own dialect) as COPY's
  // binary form gives it, one call of row per row, stopped when row returns false: a
  // field is its bytes (a bigint eight of them, most significant first; a text or
  // bytea its own bytes), a null one has no data. The server sends a large table so at
  // half the cost of a result of texts, and the rows are read as they come, not held
  // whole. Fails on a SQLite file, and on data that is not of that form.
  struct BinaryField {
    const char* data = nullptr;
    int32_t size = 0;
  };
  int32_t ReadBinaryRows(const std::string& select,
                         const std::function<bool(const std::vector<BinaryField>& fields)>& row);
  // On a server: the tables this transaction emptied (TRUNCATE) and holds locked. Their
  // COPYs without skipDuplicates write the rows frozen, already visible to every later
  // transaction: the first reads after the commit need not mark every row as seen, and
  // the server's vacuum has nothing left to do on them. Until the transaction ends.
  void CopyFrozenInto(std::vector<std::string> tables);
  // The table is one of CopyFrozenInto's: no other session can write it before the commit.
  bool CopiesFrozenInto(std::string_view table) const;

  // Whether this file keeps the rows of a table that names sessions (one of
  // kTablesNamingSessions) in the table's name with "Row" added,
  // by their session's NumId, read through a view of the table's name that gives the
  // SessionId text. False on a server, for a table kept by the identifier text, and
  // when the view is missing. For Session: whether the file keeps the sessions in
  // SessionRow, their agents by number in Agent, read through the view Session.
  bool KeptByNumber(std::string_view table) const;
  // The table such rows are stored in: table + "Row" when KeptByNumber, else table.
  std::string StoredTable(std::string_view table) const;

  int64_t LastInsertId() const;
  // The rows the latest insert, update or delete of this session changed.
  int64_t Changes() const;
  // On a file: the rows every insert, update and delete of this session changed so far,
  // those a statement stored before it failed included. 0 on a server.
  int64_t TotalChanges() const;
  // The database file (or server URI) this session is open on, for a second session on
  // the same database; empty when closed.
  std::string FilePath() const;
  // The same for messages: a server's URI without its password.
  std::string ShownPath() const;
  // The SQLite connection; null on a server.
  sqlite3* Handle() const { return db_; }

  // Counts of what this session's batches write (WriteTallies), from StartTallies until
  // EndTallies or Close; null otherwise and on a server. A batch made meanwhile keeps
  // them while it lives.
  const std::shared_ptr<WriteTallies>& Tallies() const { return tallies_; }
  void StartTallies();
  void EndTallies();

  // Failures of this session's opens, statements and transaction steps: the latest,
  // and the first that was not a duplicate insert since the open or ClearErrors.
  DbError LastError() const;
  DbError FirstHardError() const;
  void ClearErrors();
  // Records a failure of the connection (statements call it; so do callers that run
  // SQLite directly on Handle()).
  void NoteFailure(int code);

  struct ErrorLog;

 private:
  bool EndFileTransaction();
  friend class Statement;
  friend struct PgQuery;
  sqlite3* db_ = nullptr;
  std::shared_ptr<pg::Connection> pg_;
  int64_t changes_ = 0;  // the server's count for Changes()
  bool inTransaction_ = false;
  bool bulkWrite_ = false;
  std::shared_ptr<ErrorLog> errors_;
  std::vector<std::string> frozenTables_;  // CopyFrozenInto's, as the server names them
  std::shared_ptr<WriteTallies> tallies_;
};

class Statement {
 public:
  Statement();
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;

  // Runs SQL text on the session. Statements without rows (insert, update, delete) run
  // the same way. A statement yielding rows stands before its first row afterwards.
  // Closes whatever this object held before.
  int32_t Execute(DbSession& session, std::string_view sql);
  // Execute for rows the caller reads to their end without another statement on the
  // session meanwhile: on a server they come one at a time as it sends them, instead of
  // all of them before the first (a whole table in half the time, and in a fraction of
  // the memory). Another statement on the session before the last row cuts them off:
  // MoveNext then fails. On a file the same as Execute.
  int32_t ExecuteRows(DbSession& session, std::string_view sql);

  // Prepared use for statements run many times: prepare once, then bind and Run.
  // Parameters are numbered from 1 as in SQLite ("?").
  int32_t Prepare(DbSession& session, std::string_view sql);
  void BindText(int index, std::string_view value);
  // The same without a copy of the text, which must stay as it is until the statement
  // has run (many-row inserts bind a few hundred texts per statement).
  void BindTextNoCopy(int index, std::string_view value);
  void BindInt(int index, int32_t value);
  void BindInt64(int index, int64_t value);
  void BindNull(int index);
  void BindDouble(int index, double value);
  void BindBlob(int index, BlobView value);

  // The same by the value's type; an empty optional binds null.
  void Bind(int index, int32_t value) { BindInt(index, value); }
  void Bind(int index, int64_t value) { BindInt64(index, value); }
  void Bind(int index, double value) { BindDouble(index, value); }
  void Bind(int index, bool value) { BindInt(index, value ? 1 : 0); }
  void Bind(int index, std::string_view value) { BindText(index, value); }
  void Bind(int index, const std::string& value) { BindText(index, value); }
  void Bind(int index, const char* value) { BindText(index, value); }
  void Bind(int index, BlobView value) { BindBlob(index, value); }
  void Bind(int index, std::nullopt_t) { BindNull(index); }
  template <class T>
  void Bind(int index, const std::optional<T>& value) {
    if (value) Bind(index, *value);
    else BindNull(index);
  }
  // Binds the values to the parameters 1..N in order.
  template <class... V>
  void BindAll(const V&... values) {
    int index = 0;
    (Bind(++index, values), ...);
  }

  // Runs the prepared statement with the current bindings (reset first if it ran before).
  int32_t Run();
  // Binds the values to 1..N, then runs.
  template <class... V>
  int32_t Run(const V&... values) {
    if constexpr (sizeof...(V) > 0) BindAll(values...);
    return Run();
  }
  // Prepares SQL, binds the values to 1..N and runs it: the statement then stands
  // before its first row.
  template <class... V>
  int32_t Query(DbSession& session, std::string_view sql, const V&... values) {
    int32_t result = Prepare(session, sql);
    if (result < 0) return result;
    return Run(values...);
  }

  // Run for an insert, update or delete whose answer nothing waits for: on a server,
  // inside a transaction, it is sent without waiting for the answer (many cost one
  // round trip), and a failure shows in the session's errors and at the commit; the
  // statement's own Error() and the session's Changes() do not tell of it. Elsewhere
  // it is Run.
  int32_t RunDeferred();
  template <class... V>
  int32_t RunDeferred(const V&... values) {
    if constexpr (sizeof...(V) > 0) BindAll(values...);
    return RunDeferred();
  }

  // Moves to the next row: kResultOk with a row, kResultFalse at the end, negative on failure.
  int32_t MoveNext();

  // The latest failure of this statement (prepare or step); code 0 when none.
  const DbError& Error() const { return error_; }

  int ColumnCount() const;
  // Column values of the current row by ordinal from 1; false when null or out of range.
  bool GetText(int ordinal, std::string& out) const;
  bool GetInt(int ordinal, int32_t& out) const;
  bool GetInt64(int ordinal, int64_t& out) const;
  bool GetDouble(int ordinal, double& out) const;
  // A blob (or text) column's bytes, valid until the next step; empty when null.
  BlobView GetBlob(int ordinal) const;
  // A column's text without a copy, valid until the next step; false when null.
  bool GetTextView(int ordinal, std::string_view& out) const;

  // Typed reads of the current row by ordinal from 1. Read leaves out untouched and
  // answers false when the column is null or out of range; Get answers T{} then, or an
  // empty optional for std::optional<T>.
  bool Read(int ordinal, std::string& out) const { return GetText(ordinal, out); }
  bool Read(int ordinal, int32_t& out) const { return GetInt(ordinal, out); }
  bool Read(int ordinal, int64_t& out) const { return GetInt64(ordinal, out); }
  bool Read(int ordinal, double& out) const { return GetDouble(ordinal, out); }
  bool Read(int ordinal, bool& out) const {
    int32_t value = 0;
    if (!GetInt(ordinal, value)) return false;
    out = value != 0;
    return true;
  }
  template <class T>
  bool Read(int ordinal, std::optional<T>& out) const {
    T value{};
    if (!Read(ordinal, value)) {
      out.reset();
      return false;
    }
    out = std::move(value);
    return true;
  }
  template <class T>
  T Get(int ordinal) const {
    T value{};
    Read(ordinal, value);
    return value;
  }
  // Columns 1..N of the current row: auto [id, name] = statement.Row<int32_t, std::string>();
  template <class... T>
  std::tuple<T...> Row() const {
    return RowOf<T...>(std::index_sequence_for<T...>{});
  }

  void Close();
  bool IsOpen() const { return stmt_ != nullptr || pq_ != nullptr; }

 private:
  template <class... T, size_t... I>
  std::tuple<T...> RowOf(std::index_sequence<I...>) const {
    return std::tuple<T...>(Get<T>(static_cast<int>(I) + 1)...);
  }
  int32_t StepFirst();
  void ResetIfRan();
  bool ColumnPresent(int ordinal) const;
  void NoteFailure(sqlite3* db, int code);

  // Closes what the statement held and takes sql for one run on session's server.
  void PgOpen(DbSession& session, std::string_view sql);
  int32_t PgPrepare(DbSession& session, std::string_view sql, bool onServer);
  int32_t PgRun(bool deferred = false);
  int32_t PgFailed();
  int32_t PgNextStreamed();
  bool PgTextView(int ordinal, std::string_view& out) const;

  sqlite3_stmt* stmt_ = nullptr;
  std::unique_ptr<PgQuery> pq_;  // the statement on a server
  std::shared_ptr<DbSession::ErrorLog> log_;  // the session's, shared so it outlives a move
  DbError error_;
  bool pendingRow_ = false;  // the first row was fetched by Execute/Run, not yet handed out
  bool onRow_ = false;
  bool done_ = false;
  bool ran_ = false;
};

// The shared data source and a session on it, in one call: kResultOk, or a negative
// result with the reason in *error: "the database PATH: why" (LogDataSource::Describe(),
// with SQLite's text when the source opened but the session did not).
int32_t OpenSourceSession(DbSession& session, std::string* error = nullptr);
// Whether the shared data source opened; when not, the reason as above in *error.
bool SourceIsOpen(std::string* error = nullptr);

// Rewrites the few forms of the statements' Jet dialect that SQLite does not take
// as written: "Delete * from" and calls of Left(). Everything else passes unchanged.
std::string TranslateSql(std::string_view sql);

}  // namespace weavil

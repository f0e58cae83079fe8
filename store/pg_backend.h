#pragma once
// The PostgreSQL side of the statement API (store/database.h): a libpq connection per
// database session and a statement's result, with the statements translated from the
// dialect they are written in (Jet as SQLite takes it) into PostgreSQL's.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace weavil {

struct DbError;

namespace pg {

// Whether a data source names a PostgreSQL database ("postgresql://..." or "postgres://...").
bool IsServerUri(std::string_view source);

// The URI without its password, for messages and traces.
std::string ShownUri(std::string_view uri);

// A server's texts are UTF-8 and refuse other bytes, which SQLite keeps as they come
// (logs written in Latin-1, hostile requests). A text that is not valid UTF-8 has each
// byte outside a valid sequence taken as the Latin-1 character it stands for; valid
// text is left as it is. False when nothing needed changing.
bool MakeValidUtf8(std::string& text);
bool IsValidUtf8(std::string_view text);

// A statement translated for the server, and what the translation learnt of it.
struct Translated {
  std::string sql;
  int parameters = 0;       // "?" become $1..$N
  int insertedRows = -1;    // the rows of an INSERT ... VALUES; -1 for other statements
  bool nothing = false;     // a statement the server has no use for (SQLite's PRAGMA)
};
Translated Translate(std::string_view sql);

// What the server said about a failure, as a DbError: the codes of SQLite's that the
// callers test (duplicate, busy) are given to the matching SQLSTATEs.
DbError ErrorOf(pg_conn* connection, const pg_result* result);

class Connection {
 public:
  ~Connection();
  // Connects, and on first use of the database in this process makes its tables, reference
  // data and functions when it has none. Null with the reason in error on failure.
  static std::shared_ptr<Connection> Open(const std::string& uri, std::string& error);

  pg_conn* Handle() const { return conn_; }
  const std::string& Uri() const { return uri_; }

  // Runs a statement without parameters or rows; a failure as the server's error.
  bool Run(const char* sql, DbError* error);

  // Sends a prepared statement without waiting for its answer (libpq's pipeline): an
  // import's inserts then cost no round trip each. The answers are read when the
  // connection is next used otherwise, or when many are due (Settle); a failure among
  // them goes to the failure sink, and the transaction it ended fails at its commit.
  // insertedRows: the rows the statement must insert (fewer tell of a duplicate), or -1.
  bool SendDeferred(const std::string& name, int count, const char* const* values, int insertedRows);
  // Sends rows by COPY (sql: "COPY table (columns) FROM STDIN", rows in COPY's text
  // form) from a thread of the connection's own, so the caller makes the next rows while
  // the server takes these. Two COPYs may wait behind the one in flight (the call waits
  // for room), so the server starts the next as soon as it ends one. The answers are
  // read before the connection is used otherwise (every use settles first); a failure
  // goes to the failure sink, and the transaction it ended fails at its commit.
  void SendCopy(std::string sql, std::string rows);
  // Waits for the COPYs sent and not yet answered; false when one failed.
  bool AwaitCopy();
  // Reads every answer still due; the connection then takes statements one at a time.
  void Settle();
  // Runs a COPY ... TO STDOUT and gives each message of its data (a row, the first
  // with the header of the binary form) to data as it comes; data returning false
  // stops the calls, and the rest is read and dropped. False with the server's error.
  bool CopyOut(const std::string& sql, const std::function<bool(std::string_view)>& data, DbError* error);
  void SetFailureSink(std::function<void(const DbError&)> sink) { failureSink_ = std::move(sink); }

  // Starts a COPY (query) TO STDOUT whose rows reader takes one at a time with NextRow
  // before the connection's next use. A whole result of a large table costs the client
  // six times the processor time of its rows as COPY sends them: 0.48 s against 0.08 s
  // for the 772,561 page requests of a million-line log (the memory of one result for
  // all of them; libpq's rows one by one make three allocations a row, which the
  // views' two reading threads then wait for each other to make). False, with the
  // error, when the server did not start it.
  bool StartRows(const void* reader, const std::string& copySql, DbError* error);
  // The reader's next row as COPY sent it (a message of its data), writable until the
  // next call: 1; 0 at the end; -1 on a failure (error), also when another use of the
  // connection cut the rows off (RowsCut tells).
  int NextRow(const void* reader, char*& row, size_t& size, DbError* error);
  bool RowsCut(const void* reader) const { return reader && cutReader_ == reader; }
  // Ends the reader's rows before their end: the rest is read and dropped.
  void EndRows(const void* reader);

  // The rows the latest statement changed (DbSession::Changes).
  int64_t changes = 0;

  // A new name for a prepared statement, and the names to drop when the connection can.
  std::string NextStatementName();
  void Forget(std::string name);
  void DropForgotten();

 private:
  Connection() = default;
  pg_conn* conn_ = nullptr;
  std::string uri_;
  uint64_t nextName_ = 0;
  std::vector<std::string> forgotten_;
  bool pipeline_ = false;
  std::deque<int> due_;  // per statement sent: the rows it must insert
  std::function<void(const DbError&)> failureSink_;
  // The reader of rows still coming (StartRows), and the last one whose rows another
  // use of the connection cut off.
  const void* rowsReader_ = nullptr;
  const void* cutReader_ = nullptr;
  char* heldRow_ = nullptr;  // NextRow's, freed at the next
  void CutRows();
  struct CopySender;
  std::unique_ptr<CopySender> sender_;
};

// The SQLite template a new server database takes its reference rows from; by default
// the one beside the program (TemplateDatabasePath). For tests and tools run elsewhere.
void UseServerTemplate(std::string path);
std::string ServerTemplate();

// Makes the tables, views, functions and reference data in a database that lacks them,
// and brings the functions up to this program's. Reference rows come from the SQLite
// template at templatePath. False with the reason in error.
bool EnsureServerSchema(Connection& connection, const std::string& templatePath, std::string& error);

}  // namespace pg
}  // namespace weavil

#include "store/database.h"

#include <libpq-fe.h>
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "base/text.h"
#include "store/data_source_registry.h"
#include "store/jet_functions.h"
#include "store/pg_backend.h"
#include "store/result.h"
#include "store/schema_upgrade.h"
#include "store/trace.h"
#include "store/write_tally.h"

namespace weavil {
namespace {

std::mutex g_sourceMutex;
std::unique_ptr<LogDataSource> g_source;
std::string g_overridePath;
std::atomic<int> g_busySeconds{30};

std::mutex g_damageMutex;
std::string g_damage;

void NoteDamage(sqlite3* db, const DbError& error) {
  if (!error.IsDamage()) return;
  const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
  std::lock_guard<std::mutex> lock(g_damageMutex);
  if (g_damage.empty()) g_damage = std::string(file && *file ? file : "database") + ": " + error.message;
}

DbError ErrorOf(sqlite3* db, int code) {
  DbError error;
  error.code = code ? code : SQLITE_ERROR;
  const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  error.message = text && *text ? text : sqlite3_errstr(code);
  return error;
}

}  // namespace

bool DbError::IsDuplicate() const {
  return code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY;
}

std::string DbError::Describe() const {
  if (!Failed()) return std::string();
  if (!sqlState.empty()) return message + " (PostgreSQL SQLSTATE " + sqlState + ")";
  return message + " (SQLite code " + std::to_string(code) + ")";
}

bool DbError::IsDamage() const {
  int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void SetDatabaseBusySeconds(int seconds) { g_busySeconds.store(seconds < 0 ? 0 : seconds); }
int DatabaseBusySeconds() { return g_busySeconds.load(); }

std::string TakeDatabaseDamage() {
  std::lock_guard<std::mutex> lock(g_damageMutex);
  return std::exchange(g_damage, std::string());
}

// ---------------------------------------------------------------- data source

LogDataSource& LogDataSource::Obtain() {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  if (!g_source) {
    g_source.reset(new LogDataSource());
    g_source->Open();
  }
  return *g_source;
}

void LogDataSource::UseDatabaseFile(std::string path) {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  g_overridePath = std::move(path);
}

void LogDataSource::Release() {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  g_source.reset();
  g_overridePath.clear();
}

void LogDataSource::Open() {
  if (!g_overridePath.empty()) {
    path_ = g_overridePath;
  } else if (!LookupDataSource("Log", path_)) {
    openResult_ = kResultFail;
    return;
  }
  if (pg::IsServerUri(path_)) {
    // The server's database is made ready (tables, functions) by the first session.
    DbSession probe;
    openResult_ = probe.OpenFile(path_);
    if (Failed(openResult_)) openError_ = probe.LastError().message;
    return;
  }
  sqlite3* db = nullptr;
  openResult_ = OpenDatabaseFile(path_, &db, &openError_);
  // A database of an older template is upgraded once, here. One that cannot be (read-
  // only, locked for longer than the busy time) still serves as it is.
  std::string upgradeError;
  if (db && !UpgradeSchema(db, TemplateDatabasePath(ProgramDir()), upgradeError)) WriteTrace(upgradeError);
  if (db) sqlite3_close(db);
}

bool LogDataSource::IsServer() const { return pg::IsServerUri(path_); }

std::string LogDataSource::Describe() const {
  std::string text = path_.empty()   ? std::string("the data source \"Log\"")
                     : IsServer()    ? "the database " + pg::ShownUri(path_)
                                     : "the database " + path_;
  if (!IsOpen()) text += ": " + (openError_.empty() ? std::string("it is not registered") : openError_);
  return text;
}

bool SourceIsOpen(std::string* error) {
  LogDataSource& source = LogDataSource::Obtain();
  if (source.IsOpen()) return true;
  if (error) *error = source.Describe();
  return false;
}

int32_t OpenSourceSession(DbSession& session, std::string* error) {
  LogDataSource& source = LogDataSource::Obtain();
  if (!source.IsOpen()) {
    if (error) *error = source.Describe();
    return kResultFail;
  }
  int32_t result = session.Open(source);
  if (result < 0 && error) *error = source.Describe() + ": " + session.LastError().message;
  return result;
}

int32_t OpenDatabaseFile(const std::string& path, sqlite3** connection, std::string* error, bool readOnly) {
  *connection = nullptr;
  auto fail = [&](sqlite3* db, int code, const char* text) {
    DbError failure = text ? DbError{code, text} : ErrorOf(db, code);
    NoteDamage(db, failure);
    if (error) *error = failure.message;
    if (db) sqlite3_close(db);
    return kResultFail;
  };
  if (path.empty()) return fail(nullptr, SQLITE_CANTOPEN, "no database file is given");
  // SQLite counts every allocation under a process-wide mutex unless told not to before
  // it starts; nothing here reads the counts. Refused (and harmless) once it has started.
  static std::once_flag noMemoryStatus;
  std::call_once(noMemoryStatus, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  sqlite3* db = nullptr;
  int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) return fail(db, rc, nullptr);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, DatabaseBusySeconds() * 1000);
  // A file that is not a Weavil database (or not a database at all) does not open. A
  // file keeps its sessions as the table Session, or as SessionRow read through the
  // view Session.
  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name='Session'", -1,
                          &check, nullptr);
  if (rc != SQLITE_OK) return fail(db, rc, nullptr);
  rc = sqlite3_step(check);
  sqlite3_finalize(check);
  if (rc == SQLITE_DONE) return fail(db, SQLITE_ERROR, "it is not a Weavil database (it has no Session table)");
  if (rc != SQLITE_ROW) return fail(db, rc, nullptr);
  // Reports join and sort hundreds of thousands of rows: give each connection a page
  // cache and memory map large enough to keep a big log's tables in memory.
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL; PRAGMA cache_size=-65536; PRAGMA mmap_size=268435456; "
               "PRAGMA temp_store=MEMORY;", nullptr, nullptr, nullptr);
  // Into WAL without waiting: while a large import writes through a rollback journal
  // (DbSession::StartBulkWrite) the change waits for its end, and this connection reads
  // in the file's mode until the import has put it back.
  sqlite3_busy_timeout(db, 0);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
  sqlite3_busy_timeout(db, DatabaseBusySeconds() * 1000);
  RegisterJetFunctions(db);
  if (error) error->clear();
  *connection = db;
  return kResultOk;
}

// ---------------------------------------------------------------- session

DbSession::~DbSession() { Close(); }

namespace {
constexpr const char* kTransactionLost = "the transaction was rolled back after a failed statement";
}  // namespace

struct DbSession::ErrorLog {
  std::mutex mutex;
  DbError last, firstHard;
  // On a file: a transaction is open, and SQLite ended it by itself after a statement
  // failed (a full disk, an I/O error, no memory): until the session ends it, no
  // statement runs, lest it land on its own outside the transaction.
  std::atomic<bool> inTransaction{false}, transactionLost{false};

  // A failure: the latest, and the first hard one (a duplicate insert is not).
  void Note(const DbError& error) {
    std::lock_guard<std::mutex> lock(mutex);
    last = error;
    if (!error.IsDuplicate() && !firstHard.Failed()) firstHard = error;
  }
};

DbSession::DbSession(DbSession&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      pg_(std::move(other.pg_)),
      inTransaction_(std::exchange(other.inTransaction_, false)),
      bulkWrite_(std::exchange(other.bulkWrite_, false)),
      errors_(std::move(other.errors_)),
      frozenTables_(std::move(other.frozenTables_)),
      tallies_(std::move(other.tallies_)) {}

DbSession& DbSession::operator=(DbSession&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    pg_ = std::move(other.pg_);
    inTransaction_ = std::exchange(other.inTransaction_, false);
    bulkWrite_ = std::exchange(other.bulkWrite_, false);
    errors_ = std::move(other.errors_);
    frozenTables_ = std::move(other.frozenTables_);
    tallies_ = std::move(other.tallies_);
  }
  return *this;
}

int32_t DbSession::Open(LogDataSource& source) {
  Close();
  errors_ = std::make_shared<ErrorLog>();
  if (!source.IsOpen()) {
    errors_->last = errors_->firstHard = DbError{SQLITE_CANTOPEN, source.OpenError()};
    return kResultFail;
  }
  return OpenFile(source.Path());
}

int32_t DbSession::OpenFile(const std::string& path, bool readOnly) {
  Close();
  errors_ = std::make_shared<ErrorLog>();
  std::string error;
  if (pg::IsServerUri(path)) {
    std::shared_ptr<pg::Connection> connection = pg::Connection::Open(path, error);
    if (connection && !pg::EnsureServerSchema(*connection, pg::ServerTemplate(), error)) connection.reset();
    if (!connection) {
      errors_->last = errors_->firstHard = DbError{SQLITE_CANTOPEN, error, "08006"};
      return kResultFail;
    }
    // Failures of statements sent without waiting count as the session's own.
    std::weak_ptr<ErrorLog> log = errors_;
    connection->SetFailureSink([log](const DbError& failure) {
      if (std::shared_ptr<ErrorLog> errors = log.lock()) errors->Note(failure);
    });
    pg_ = std::move(connection);
    return kResultOk;
  }
  int32_t result = OpenDatabaseFile(path, &db_, &error, readOnly);
  if (Failed(result)) errors_->last = errors_->firstHard = DbError{SQLITE_CANTOPEN, error};
  return result;
}

DbError DbSession::LastError() const {
  if (!errors_) return {};
  std::lock_guard<std::mutex> lock(errors_->mutex);
  return errors_->last;
}

DbError DbSession::FirstHardError() const {
  if (!errors_) return {};
  std::lock_guard<std::mutex> lock(errors_->mutex);
  return errors_->firstHard;
}

void DbSession::ClearErrors() {
  if (!errors_) return;
  std::lock_guard<std::mutex> lock(errors_->mutex);
  errors_->last = errors_->firstHard = DbError();
}

void DbSession::NoteFailure(int code) {
  if (!errors_) errors_ = std::make_shared<ErrorLog>();
  DbError error = ErrorOf(db_, code);
  NoteDamage(db_, error);
  errors_->Note(error);
}

void DbSession::StartTallies() {
  if (db_) tallies_ = std::make_shared<WriteTallies>();
}

void DbSession::EndTallies() { tallies_.reset(); }

void DbSession::Close() {
  tallies_.reset();
  if (pg_) {
    if (inTransaction_) Abort();
    pg_.reset();
    return;
  }
  if (!db_) return;
  if (inTransaction_) Abort();
  EndBulkWrite();
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

namespace {

// The lock every writer of a server's database takes for its transaction, as SQLite's
// BEGIN IMMEDIATE takes the file's: writers queue, each gets the whole database.
constexpr const char* kServerWriteLock = "SELECT pg_advisory_xact_lock(8172635400)";

}  // namespace

int32_t DbSession::StartTransaction() {
  if (pg_ && !inTransaction_) {
    DbError failure;
    int seconds = DatabaseBusySeconds();
    std::string begin = "BEGIN ISOLATION LEVEL READ COMMITTED; SET LOCAL lock_timeout = '" +
                        (seconds > 0 ? std::to_string(seconds) + "s" : std::string("1ms")) + "'; " + kServerWriteLock;
    if (!pg_->Run(begin.c_str(), &failure)) {
      pg_->Run("ROLLBACK", nullptr);
      errors_->Note(failure);
      return kResultFail;
    }
    pg_->Run("SET LOCAL lock_timeout = 0", nullptr);
    inTransaction_ = true;
    return kResultOk;
  }
  if (!db_ || inTransaction_) return kResultFail;
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    NoteFailure(rc);
    return kResultFail;
  }
  inTransaction_ = true;
  if (!errors_) errors_ = std::make_shared<ErrorLog>();
  errors_->transactionLost = false;
  errors_->inTransaction = true;
  return kResultOk;
}

// The file's transaction has ended: by the session, or by SQLite after a failure.
bool DbSession::EndFileTransaction() {
  inTransaction_ = false;
  if (!errors_) return false;
  errors_->inTransaction = false;
  return errors_->transactionLost.exchange(false);
}

int32_t DbSession::Commit() {
  frozenTables_.clear();
  if (pg_ && inTransaction_) {
    inTransaction_ = false;
    pg_->Settle();
    PGresult* result = PQexec(pg_->Handle(), "COMMIT");
    ExecStatusType status = PQresultStatus(result);
    DbError failure;
    if (status != PGRES_COMMAND_OK) {
      failure = pg::ErrorOf(pg_->Handle(), result);
    } else if (std::string_view(PQcmdStatus(result)) != "COMMIT") {
      // A transaction that met a failure ends in a rollback, however it is ended.
      failure = DbError{SQLITE_ABORT, kTransactionLost, "25P02"};
    }
    PQclear(result);
    if (!failure.Failed()) return kResultOk;
    errors_->Note(failure);
    return kResultFail;
  }
  if (!db_ || !inTransaction_) return kResultFail;
  if (errors_ && errors_->transactionLost) {
    EndFileTransaction();
    errors_->Note(DbError{SQLITE_ABORT, kTransactionLost});
    return kResultFail;
  }
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    NoteFailure(rc);
    // A commit that failed for good has ended the transaction (SQLite rolled it back).
    if (sqlite3_get_autocommit(db_)) EndFileTransaction();
    return kResultFail;
  }
  EndFileTransaction();
  return kResultOk;
}

int32_t DbSession::Abort() {
  frozenTables_.clear();
  if (pg_ && inTransaction_) {
    inTransaction_ = false;
    return pg_->Run("ROLLBACK", nullptr) ? kResultOk : kResultFail;
  }
  if (!db_ || !inTransaction_) return kResultFail;
  // Rolled back already: nothing is left to undo.
  if (EndFileTransaction()) return kResultOk;
  return sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK ? kResultOk : kResultFail;
}

namespace {

// The journal mode the connection is in after asking for mode ("wal", "delete"...).
std::string SetJournalMode(sqlite3* db, const char* mode) {
  std::string result;
  sqlite3_stmt* pragma = nullptr;
  std::string sql = std::string("PRAGMA journal_mode=") + mode;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &pragma, nullptr) == SQLITE_OK && sqlite3_step(pragma) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(pragma, 0);
    if (text) result = reinterpret_cast<const char*>(text);
  }
  sqlite3_finalize(pragma);
  return result;
}

}  // namespace

bool DbSession::StartBulkWrite() {
  if (!db_ || inTransaction_ || bulkWrite_) return false;
  sqlite3_busy_timeout(db_, 0);
  bulkWrite_ = SetJournalMode(db_, "DELETE") == "delete";
  sqlite3_busy_timeout(db_, DatabaseBusySeconds() * 1000);
  if (!bulkWrite_) return false;
  // The journal holds only the pages the file had; a second sync of its header makes
  // its commit as safe as the WAL's. Nothing is read through the memory map: what it
  // maps would count in the process's memory on top of the page cache.
  sqlite3_exec(db_, "PRAGMA synchronous=FULL; PRAGMA mmap_size=0;", nullptr, nullptr, nullptr);
  return true;
}

void DbSession::EndBulkWrite() {
  if (!db_ || !bulkWrite_) return;
  bulkWrite_ = false;
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL; PRAGMA mmap_size=268435456;", nullptr, nullptr, nullptr);
  // Waits for a reader that opened meanwhile; failing that, the next connection opened
  // changes it.
  SetJournalMode(db_, "WAL");
}

void DbSession::StartWriteback() {
  if (!db_ || !bulkWrite_) return;
  const char* path = sqlite3_db_filename(db_, "main");
  struct stat file {};
  if (!path || !*path || ::stat(path, &file) != 0) return;
  // SQLite keeps its descriptor to itself, and one opened here could not be closed
  // without dropping the connection's locks on the file: any descriptor of this process
  // open on the file serves, as the pages written are the file's.
  DIR* open = ::opendir("/proc/self/fd");
  if (!open) return;
  const int listing = ::dirfd(open);
  while (const dirent* entry = ::readdir(open)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    struct stat held {};
    if (end == entry->d_name || *end || fd == listing || ::fstat(static_cast<int>(fd), &held) != 0) continue;
    if (held.st_dev != file.st_dev || held.st_ino != file.st_ino) continue;
    ::sync_file_range(static_cast<int>(fd), 0, 0, SYNC_FILE_RANGE_WRITE);
    break;
  }
  ::closedir(open);
}

int64_t DbSession::LastInsertId() const {
  if (pg_) {
    pg_->Settle();
    // Inside a failed transaction the server answers nothing; a session that inserted
    // nothing has no value yet.
    if (PQtransactionStatus(pg_->Handle()) == PQTRANS_INERROR) return 0;
    // Within a transaction the question must not end it when there is no answer.
    bool inside = PQtransactionStatus(pg_->Handle()) == PQTRANS_INTRANS;
    PGresult* result = PQexec(pg_->Handle(), inside ? "SAVEPOINT weavil_lastval; SELECT lastval()" : "SELECT lastval()");
    int64_t id = 0;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) id = std::atoll(PQgetvalue(result, 0, 0));
    bool failed = PQresultStatus(result) != PGRES_TUPLES_OK;
    PQclear(result);
    if (inside)
      pg_->Run(failed ? "ROLLBACK TO SAVEPOINT weavil_lastval; RELEASE SAVEPOINT weavil_lastval"
                      : "RELEASE SAVEPOINT weavil_lastval",
               nullptr);
    return id;
  }
  return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

std::string DbSession::ShownPath() const { return pg_ ? pg::ShownUri(pg_->Uri()) : FilePath(); }

namespace {

// A table's name as the server knows it: unquoted names are folded to small letters.
std::string ServerTableName(std::string_view name) {
  std::string folded;
  for (char c : name)
    if (c != '"') folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return folded;
}

}  // namespace

int32_t DbSession::CopyRows(std::string_view table, std::string_view columns, std::string_view rows,
                            bool skipDuplicates) {
  if (!pg_) return kResultFail;
  const std::string target = pg::Translate(std::string(table)).sql;
  std::string stage;
  if (skipDuplicates) {
    stage = "weavil_stage_";
    for (char c : target)
      if (std::isalnum(static_cast<unsigned char>(c))) stage.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    DbError failure;
    if (!pg_->Run(("CREATE TEMP TABLE IF NOT EXISTS " + stage + " (LIKE " + target + ") ON COMMIT DROP; TRUNCATE " + stage)
                      .c_str(),
                  &failure)) {
      errors_->Note(failure);
      return kResultFail;
    }
  }
  std::string sql = skipDuplicates
                        ? "COPY " + stage + " (" + pg::Translate(std::string(columns)).sql + ") FROM STDIN"
                        : pg::Translate("COPY " + std::string(table) + " (" + std::string(columns) + ") FROM STDIN").sql;
  if (!skipDuplicates && inTransaction_ &&
      std::find(frozenTables_.begin(), frozenTables_.end(), ServerTableName(target)) != frozenTables_.end())
    sql += " WITH (FREEZE)";
  std::string valid;
  if (!pg::IsValidUtf8(rows)) {
    valid.assign(rows);
    pg::MakeValidUtf8(valid);
    rows = valid;
  }
  // The server takes these rows while the caller makes the next; a failure shows at the
  // next use of the session, and fails the transaction's commit.
  pg_->SendCopy(std::move(sql), valid.empty() ? std::string(rows) : std::move(valid));
  if (!skipDuplicates) return kResultOk;
  if (!pg_->AwaitCopy()) return kResultFail;
  const std::string list = pg::Translate(std::string(columns)).sql;
  DbError failure;
  if (!pg_->Run(("INSERT INTO " + target + " (" + list + ") SELECT " + list + " FROM " + stage + " ON CONFLICT DO NOTHING")
                    .c_str(),
                &failure)) {
    errors_->Note(failure);
    return kResultFail;
  }
  pg_->changes = 0;
  return kResultOk;
}

int32_t DbSession::ReadBinaryRows(const std::string& select,
                                  const std::function<bool(const std::vector<BinaryField>&)>& row) {
  if (!pg_) return kResultFail;
  if (!errors_) errors_ = std::make_shared<ErrorLog>();
  // The form: a signature, flags and a header extension of a given length before the
  // first row; per row its field count, and per field its length (-1: null) and bytes;
  // a count of -1 after the last row.
  static constexpr std::string_view kSignature("PGCOPY\n\xff\r\n\0", 11);
  bool header = true, malformed = false;
  std::vector<BinaryField> fields;
  auto take32 = [](std::string_view& data, int32_t& value) {
    if (data.size() < 4) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    value = static_cast<int32_t>(uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]);
    data.remove_prefix(4);
    return true;
  };
  auto bad = [&malformed] {
    malformed = true;
    return false;
  };
  auto message = [&](std::string_view data) {
    if (header) {
      int32_t flags = 0, extension = 0;
      if (data.substr(0, kSignature.size()) != kSignature) return bad();
      data.remove_prefix(kSignature.size());
      if (!take32(data, flags) || !take32(data, extension) || extension < 0 ||
          data.size() < static_cast<size_t>(extension))
        return bad();
      data.remove_prefix(static_cast<size_t>(extension));
      header = false;
      if (data.empty()) return true;
    }
    if (data.size() < 2) return bad();
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    const int16_t count = static_cast<int16_t>(b[0] << 8 | b[1]);
    data.remove_prefix(2);
    if (count == -1) return data.empty() || bad();
    if (count < 0) return bad();
    fields.assign(static_cast<size_t>(count), BinaryField{});
    for (BinaryField& field : fields) {
      int32_t size = 0;
      if (!take32(data, size) || size < -1 || (size > 0 && data.size() < static_cast<size_t>(size)))
        return bad();
      if (size < 0) continue;
      field = {data.data(), size};
      data.remove_prefix(static_cast<size_t>(size));
    }
    if (!data.empty()) return bad();
    return row(fields);
  };
  DbError failure;
  if (!pg_->CopyOut("COPY (" + select + ") TO STDOUT (FORMAT binary)", message, &failure)) {
    errors_->Note(failure);
    return kResultFail;
  }
  if (malformed) {
    errors_->Note(DbError{SQLITE_CORRUPT, "the server sent rows that are not in COPY's binary form", ""});
    return kResultFail;
  }
  return kResultOk;
}

void DbSession::CopyFrozenInto(std::vector<std::string> tables) {
  if (!pg_ || !inTransaction_) return;
  for (std::string& table : tables) table = ServerTableName(pg::Translate(table).sql);
  frozenTables_ = std::move(tables);
}

bool DbSession::CopiesFrozenInto(std::string_view table) const {
  return pg_ && inTransaction_ &&
         std::find(frozenTables_.begin(), frozenTables_.end(), ServerTableName(pg::Translate(std::string(table)).sql)) !=
             frozenTables_.end();
}

bool DbSession::KeptByNumber(std::string_view table) const {
  if (!db_ || pg_) return false;
  sqlite3_stmt* look = nullptr;
  const std::string stored = std::string(table) + "Row";
  const std::string view(table);
  bool found = sqlite3_prepare_v2(db_,
                                  "SELECT count(*) = 2 FROM main.sqlite_master WHERE (type = 'table' AND name = ?1) OR "
                                  "(type = 'view' AND name = ?2)",
                                  -1, &look, nullptr) == SQLITE_OK &&
               sqlite3_bind_text(look, 1, stored.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
               sqlite3_bind_text(look, 2, view.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
               sqlite3_step(look) == SQLITE_ROW && sqlite3_column_int(look, 0) == 1;
  sqlite3_finalize(look);
  return found;
}

std::string DbSession::StoredTable(std::string_view table) const {
  return KeptByNumber(table) ? std::string(table) + "Row" : std::string(table);
}

int64_t DbSession::Changes() const {
  if (pg_) return pg_->changes;
  return db_ ? sqlite3_changes64(db_) : 0;
}

int64_t DbSession::TotalChanges() const { return db_ && !pg_ ? sqlite3_total_changes64(db_) : 0; }

std::string DbSession::FilePath() const {
  if (pg_) return pg_->Uri();
  const char* file = db_ ? sqlite3_db_filename(db_, "main") : nullptr;
  return file ? file : "";
}

// ---------------------------------------------------------------- statement

namespace {

bool IsIdentifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

// Jet's Left() is written as a call: "left(x, n)". SQLite reads LEFT as the join
// keyword, so calls are renamed to the registered JetLeft, outside quoted texts.
std::string RenameLeftCalls(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 8);
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) {
      out.push_back(c);
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"' || c == '[' || c == '`') {
      quote = c == '[' ? ']' : c;
      out.push_back(c);
      continue;
    }
    if ((c == 'l' || c == 'L') && (i == 0 || !IsIdentifierChar(sql[i - 1])) && StartsWithNoCase(sql.substr(i), "left") &&
        (i + 4 >= sql.size() || !IsIdentifierChar(sql[i + 4]))) {
      size_t j = i + 4;
      while (j < sql.size() && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
      if (j < sql.size() && sql[j] == '(') {
        out.append("JetLeft");
        i += 3;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string TranslateSql(std::string_view sql) {
  size_t start = 0;
  while (start < sql.size() && std::isspace(static_cast<unsigned char>(sql[start]))) ++start;
  std::string_view body = sql.substr(start);
  std::string text;
  if (StartsWithNoCase(body, "delete")) {
    size_t i = 6;
    while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
    if (i < body.size() && body[i] == '*') {
      text.assign(sql.substr(0, start));
      text.append("Delete");
      text.append(body.substr(i + 1));
      sql = text;
    }
  }
  return RenameLeftCalls(sql);
}

// ---------------------------------------------------------------- statement on a server

// A statement on a PostgreSQL server: its translation, its parameters as texts (the
// server gives them their types from where they stand) and its whole result.
struct PgQuery {
  std::shared_ptr<pg::Connection> connection;
  pg::Translated translated;
  std::string name;  // the prepared statement's; empty for one run of Execute
  std::vector<std::string> values;
  std::vector<char> isNull;
  PGresult* result = nullptr;
  int row = -1;
  int rows = 0;
  // ExecuteRows's rows, as COPY sends them: the columns' types, and the fields of the
  // row at hand (NUL-terminated in the connection's buffer; null for a null value).
  bool streamed = false;
  bool ended = false;  // they came to their end, or failed
  std::vector<Oid> types;
  std::vector<const char*> fieldText;
  std::vector<size_t> fieldSize;
  mutable std::vector<std::string> shown;  // a column's text made here (numbers, bytes)

  ~PgQuery() {
    if (streamed && !ended) connection->EndRows(this);
    if (result) PQclear(result);
    if (!name.empty()) connection->Forget(std::move(name));
  }

  void Bind(int index, std::string value, bool null = false) {
    if (index < 1 || index > translated.parameters) return;
    pg::MakeValidUtf8(value);
    values[static_cast<size_t>(index - 1)] = std::move(value);
    isNull[static_cast<size_t>(index - 1)] = null;
  }

  // Whether a row's values are there to read, for a statement standing on a row.
  bool HasValues() const { return streamed || result != nullptr; }
  int Fields() const { return streamed ? static_cast<int>(types.size()) : result ? PQnfields(result) : 0; }
  bool IsNull(int ordinal) const {
    return streamed ? fieldText[static_cast<size_t>(ordinal - 1)] == nullptr
                    : PQgetisnull(result, row, ordinal - 1) != 0;
  }
  Oid Type(int ordinal) const { return streamed ? types[static_cast<size_t>(ordinal - 1)] : PQftype(result, ordinal - 1); }
  const char* Value(int ordinal) const {
    return streamed ? fieldText[static_cast<size_t>(ordinal - 1)] : PQgetvalue(result, row, ordinal - 1);
  }
  size_t Length(int ordinal) const {
    return streamed ? fieldSize[static_cast<size_t>(ordinal - 1)]
                    : static_cast<size_t>(PQgetlength(result, row, ordinal - 1));
  }

  // Splits a row of COPY's text form into its fields in place: each ends in a NUL, "\N"
  // is null, and the escapes COPY writes (\b \f \n \r \t \v and a doubled backslash)
  // stand for their bytes again, so each field reads as the same value of a result
  // does. False when the row has another number of fields than the columns.
  bool TakeRow(char* line, size_t size) {
    fieldText.clear();
    fieldSize.clear();
    char* start = line;
    for (size_t at = 0; at <= size; ++at) {
      if (at < size && line[at] != '\t') continue;
      char* end = line + at;
      *end = '\0';
      if (end - start == 2 && start[0] == '\\' && start[1] == 'N') {
        fieldText.push_back(nullptr);
        fieldSize.push_back(0);
      } else {
        char* out = start;
        if (std::memchr(start, '\\', static_cast<size_t>(end - start))) {
          for (const char* in = start; in < end; ++in) {
            char c = *in;
            if (c == '\\' && in + 1 < end) {
              switch (*++in) {
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'v': c = '\v'; break;
                default: c = *in; break;
              }
            }
            *out++ = c;
          }
          *out = '\0';
        } else {
          out = end;
        }
        fieldText.push_back(start);
        fieldSize.push_back(static_cast<size_t>(out - start));
      }
      start = end + 1;
    }
    return fieldText.size() == types.size();
  }
};

namespace {

constexpr Oid kBoolType = 16, kByteaType = 17, kFloat4Type = 700, kFloat8Type = 701, kNumericType = 1700;

// A floating-point value as SQLite shows a REAL as text: 15 significant digits, and a
// decimal point even for whole numbers ("12.0", "1.0e+20").
std::string RealText(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  std::string text = buffer;
  if (text.find_first_of(".ni") != std::string::npos) return text;  // has a point, nan, inf
  size_t e = text.find('e');
  text.insert(e == std::string::npos ? text.size() : e, ".0");
  return text;
}

void DecodeHex(std::string_view hex, std::string& out) {
  out.clear();
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
}

}  // namespace

int32_t Statement::PgFailed() {
  if (pq_) error_ = pg::ErrorOf(pq_->connection->Handle(), pq_->result);
  if (log_) log_->Note(error_);
  return kResultFail;
}

Statement::Statement() = default;
Statement::~Statement() { Close(); }

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)),
      pq_(std::move(other.pq_)),
      log_(std::move(other.log_)),
      error_(std::move(other.error_)),
      pendingRow_(other.pendingRow_),
      onRow_(other.onRow_),
      done_(other.done_),
      ran_(other.ran_) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Close();
    stmt_ = std::exchange(other.stmt_, nullptr);
    pq_ = std::move(other.pq_);
    log_ = std::move(other.log_);
    error_ = std::move(other.error_);
    pendingRow_ = other.pendingRow_;
    onRow_ = other.onRow_;
    done_ = other.done_;
    ran_ = other.ran_;
  }
  return *this;
}

void Statement::Close() {
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  pq_.reset();
  log_.reset();
  error_ = DbError();
  pendingRow_ = onRow_ = done_ = ran_ = false;
}

void Statement::NoteFailure(sqlite3* db, int code) {
  error_ = ErrorOf(db, code);
  if (log_ && log_->inTransaction && db && sqlite3_get_autocommit(db)) log_->transactionLost = true;
  NoteDamage(db, error_);
  if (log_) log_->Note(error_);
}

int32_t Statement::Prepare(DbSession& session, std::string_view sql) {
  Close();
  if (!session.IsOpen()) {
    error_ = DbError{SQLITE_MISUSE, "the database is not open"};
    return kResultFail;
  }
  if (!session.errors_) session.errors_ = std::make_shared<DbSession::ErrorLog>();
  log_ = session.errors_;
  if (session.pg_) return PgPrepare(session, sql, true);
  std::string text = TranslateSql(sql);
  int rc = sqlite3_prepare_v2(session.Handle(), text.c_str(), static_cast<int>(text.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK || !stmt_) {
    if (stmt_) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    NoteFailure(session.Handle(), rc);
    return kResultFail;
  }
  return kResultOk;
}

int32_t Statement::PgPrepare(DbSession& session, std::string_view sql, bool onServer) {
  pq_ = std::make_unique<PgQuery>();
  pq_->connection = session.pg_;
  pq_->connection->DropForgotten();
  pq_->translated = pg::Translate(sql);
  size_t parameters = static_cast<size_t>(pq_->translated.parameters);
  pq_->values.assign(parameters, std::string());
  pq_->isNull.assign(parameters, 1);
  if (!onServer || pq_->translated.nothing) return kResultOk;
  pq_->connection->Settle();
  pq_->name = pq_->connection->NextStatementName();
  PGresult* prepared = PQprepare(pq_->connection->Handle(), pq_->name.c_str(), pq_->translated.sql.c_str(),
                                 static_cast<int>(parameters), nullptr);
  bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
  if (!ok) error_ = pg::ErrorOf(pq_->connection->Handle(), prepared);
  PQclear(prepared);
  if (ok) return kResultOk;
  pq_->name.clear();  // nothing to drop
  pq_.reset();
  PgFailed();
  return kResultFail;
}

int32_t Statement::RunDeferred() {
  if (pq_) return PgRun(true);
  return Run();
}

int32_t Statement::PgRun(bool deferred) {
  PgQuery& q = *pq_;
  if (q.result) PQclear(q.result);
  q.result = nullptr;
  q.row = -1;
  q.rows = 0;
  ran_ = true;
  onRow_ = false;
  if (q.translated.nothing) return kResultOk;
  q.connection->DropForgotten();
  std::vector<const char*> values(q.values.size());
  for (size_t i = 0; i < values.size(); ++i) values[i] = q.isNull[i] ? nullptr : q.values[i].c_str();
  int count = static_cast<int>(values.size());
  if (deferred) q.connection->AwaitCopy();
  if (deferred && !q.name.empty() && PQtransactionStatus(q.connection->Handle()) != PQTRANS_IDLE) {
    // Inside a transaction whose failure ends it anyway, the answer can wait.
    if (q.connection->SendDeferred(q.name, count, values.data(), q.translated.insertedRows)) return kResultOk;
    error_ = q.connection->Handle() ? pg::ErrorOf(q.connection->Handle(), nullptr) : DbError{};
    return kResultFail;
  }
  q.connection->Settle();
  pg_conn* conn = q.connection->Handle();
  q.result = q.name.empty()
                 ? PQexecParams(conn, q.translated.sql.c_str(), count, nullptr, values.data(), nullptr, nullptr, 0)
                 : PQexecPrepared(conn, q.name.c_str(), count, values.data(), nullptr, nullptr, 0);
  ExecStatusType status = PQresultStatus(q.result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) return PgFailed();
  q.rows = PQntuples(q.result);
  q.connection->changes = std::atoll(PQcmdTuples(q.result));
  if (q.translated.insertedRows > 0 && q.connection->changes < q.translated.insertedRows) {
    error_ = DbError{SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: a row of the insert is there already", "23505"};
    q.connection->changes = 0;
    pq_->rows = 0;
    log_->Note(error_);
    return kResultFail;
  }
  return kResultOk;
}

void Statement::PgOpen(DbSession& session, std::string_view sql) {
  Close();
  if (!session.errors_) session.errors_ = std::make_shared<DbSession::ErrorLog>();
  log_ = session.errors_;
  PgPrepare(session, sql, false);
}

int32_t Statement::ExecuteRows(DbSession& session, std::string_view sql) {
  if (!session.pg_) return Execute(session, sql);
  PgOpen(session, sql);
  PgQuery& q = *pq_;
  // COPY takes no parameters: such a statement comes as one result, as from Execute.
  if (q.translated.parameters > 0) return PgRun();
  ran_ = true;
  if (q.translated.nothing) return kResultOk;
  std::string body = q.translated.sql;
  while (!body.empty() && (body.back() == ';' || std::isspace(static_cast<unsigned char>(body.back())))) body.pop_back();
  // The columns' types, for the getters: COPY sends only texts.
  q.connection->Settle();
  pg_conn* conn = q.connection->Handle();
  PGresult* described = PQprepare(conn, "", body.c_str(), 0, nullptr);
  bool ok = PQresultStatus(described) == PGRES_COMMAND_OK;
  if (ok) {
    PQclear(described);
    described = PQdescribePrepared(conn, "");
    ok = PQresultStatus(described) == PGRES_COMMAND_OK;
  }
  if (!ok) {
    error_ = pg::ErrorOf(conn, described);
    PQclear(described);
    if (log_) log_->Note(error_);
    return kResultFail;
  }
  for (int column = 0; column < PQnfields(described); ++column) q.types.push_back(PQftype(described, column));
  PQclear(described);
  q.streamed = true;
  if (!q.connection->StartRows(&q, "COPY (" + body + ") TO STDOUT", &error_)) {
    q.ended = true;
    if (log_) log_->Note(error_);
    return kResultFail;
  }
  return kResultOk;
}

int32_t Statement::PgNextStreamed() {
  PgQuery& q = *pq_;
  onRow_ = false;
  if (q.ended) return kResultFalse;
  char* line = nullptr;
  size_t size = 0;
  int got = q.connection->NextRow(&q, line, size, &error_);
  if (got == 1 && size > 0 && line[size - 1] == '\n') --size;  // the text form's line end
  if (got == 1 && q.TakeRow(line, size)) {
    onRow_ = true;
    return kResultOk;
  }
  if (got == 1) {
    error_ = DbError{SQLITE_ERROR, "the server sent a row with another number of fields than its columns"};
    q.connection->EndRows(&q);
  }
  q.ended = true;
  if (got == 0) return kResultFalse;
  if (log_) log_->Note(error_);
  return kResultFail;
}

int32_t Statement::Execute(DbSession& session, std::string_view sql) {
  if (session.pg_) {
    PgOpen(session, sql);
    return PgRun();
  }
  int32_t result = Prepare(session, sql);
  if (Failed(result)) return result;
  return Run();
}

void Statement::ResetIfRan() {
  if (pq_) {
    ran_ = onRow_ = false;
    return;
  }
  if (stmt_ && ran_) {
    sqlite3_reset(stmt_);
    ran_ = false;
    pendingRow_ = onRow_ = done_ = false;
  }
}

void Statement::BindText(int index, std::string_view value) {
  ResetIfRan();
  if (pq_) return pq_->Bind(index, std::string(value));
  if (stmt_) sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}
void Statement::BindTextNoCopy(int index, std::string_view value) {
  ResetIfRan();
  if (pq_) return pq_->Bind(index, std::string(value));
  // SQLite reads a null pointer as null: an empty text stays an empty text.
  static const char kEmpty = 0;
  const char* text = value.data() ? value.data() : &kEmpty;
  if (stmt_) sqlite3_bind_text(stmt_, index, text, static_cast<int>(value.size()), SQLITE_STATIC);
}
void Statement::BindInt(int index, int32_t value) {
  ResetIfRan();
  if (pq_) return pq_->Bind(index, std::to_string(value));
  if (stmt_) sqlite3_bind_int(stmt_, index, value);
}
void Statement::BindInt64(int index, int64_t value) {
  ResetIfRan();
  if (pq_) return pq_->Bind(index, std::to_string(value));
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
}
void Statement::BindNull(int index) {
  ResetIfRan();
  if (pq_) return pq_->Bind(index, std::string(), true);
  if (stmt_) sqlite3_bind_null(stmt_, index);
}
void Statement::BindDouble(int index, double value) {
  ResetIfRan();
  if (pq_) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return pq_->Bind(index, text);
  }
  if (stmt_) sqlite3_bind_double(stmt_, index, value);
}
void Statement::BindBlob(int index, BlobView value) {
  ResetIfRan();
  if (pq_) {
    // bytea's text form: \x and two hex digits a byte.
    static const char kDigits[] = "0123456789abcdef";
    std::string text = "\\x";
    const unsigned char* bytes = static_cast<const unsigned char*>(value.data);
    for (size_t i = 0; i < value.size; ++i) {
      text.push_back(kDigits[bytes[i] >> 4]);
      text.push_back(kDigits[bytes[i] & 15]);
    }
    return pq_->Bind(index, std::move(text));
  }
  if (!stmt_) return;
  // A null data pointer would bind null; an empty blob stays an empty blob.
  static const char kEmpty = 0;
  const void* data = value.data ? value.data : &kEmpty;
  sqlite3_bind_blob64(stmt_, index, data, value.size, SQLITE_TRANSIENT);
}

int32_t Statement::Run() {
  if (pq_) return PgRun();
  if (!stmt_) return kResultFail;
  ResetIfRan();
  ran_ = true;
  return StepFirst();
}

int32_t Statement::StepFirst() {
  if (log_ && log_->transactionLost) {
    done_ = true;
    error_ = DbError{SQLITE_ABORT, kTransactionLost};
    log_->Note(error_);
    return kResultFail;
  }
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    pendingRow_ = true;
    return kResultOk;
  }
  if (rc == SQLITE_DONE) {
    done_ = true;
    return kResultOk;
  }
  done_ = true;
  NoteFailure(sqlite3_db_handle(stmt_), rc);
  sqlite3_reset(stmt_);  // keeps the connection's error state from leaking into the next statement
  return kResultFail;
}

int32_t Statement::MoveNext() {
  if (pq_) {
    if (!ran_) return kResultFail;
    if (pq_->streamed) return PgNextStreamed();
    if (pq_->row + 1 >= pq_->rows) {
      pq_->row = pq_->rows;
      onRow_ = false;
      return kResultFalse;
    }
    ++pq_->row;
    onRow_ = true;
    return kResultOk;
  }
  if (!stmt_ || !ran_) return kResultFail;
  if (pendingRow_) {
    pendingRow_ = false;
    onRow_ = true;
    return kResultOk;
  }
  if (done_) {
    onRow_ = false;
    return kResultFalse;
  }
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    onRow_ = true;
    return kResultOk;
  }
  onRow_ = false;
  done_ = true;
  if (rc == SQLITE_DONE) return kResultFalse;
  NoteFailure(sqlite3_db_handle(stmt_), rc);
  return kResultFail;
}

int Statement::ColumnCount() const {
  if (pq_) return pq_->Fields();
  return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

bool Statement::ColumnPresent(int ordinal) const {
  if (pq_)
    return onRow_ && pq_->HasValues() && ordinal >= 1 && ordinal <= pq_->Fields() && !pq_->IsNull(ordinal);
  return stmt_ && onRow_ && ordinal >= 1 && ordinal <= sqlite3_column_count(stmt_) &&
         sqlite3_column_type(stmt_, ordinal - 1) != SQLITE_NULL;
}

bool Statement::PgTextView(int ordinal, std::string_view& out) const {
  const PgQuery& q = *pq_;
  Oid type = q.Type(ordinal);
  std::string_view raw(q.Value(ordinal), q.Length(ordinal));
  if (type != kBoolType && type != kFloat4Type && type != kFloat8Type && type != kNumericType) {
    out = raw;
    return true;
  }
  q.shown.resize(static_cast<size_t>(q.Fields()));
  std::string& shown = q.shown[static_cast<size_t>(ordinal - 1)];
  if (type == kBoolType) shown = raw == "t" ? "1" : "0";
  else shown = RealText(std::strtod(q.Value(ordinal), nullptr));
  out = shown;
  return true;
}

BlobView Statement::GetBlob(int ordinal) const {
  if (!ColumnPresent(ordinal)) return {};
  if (pq_) {
    std::string_view raw(pq_->Value(ordinal), pq_->Length(ordinal));
    if (pq_->Type(ordinal) != kByteaType) return {raw.data(), raw.size()};
    pq_->shown.resize(static_cast<size_t>(pq_->Fields()));
    std::string& bytes = pq_->shown[static_cast<size_t>(ordinal - 1)];
    DecodeHex(raw.substr(raw.size() >= 2 ? 2 : raw.size()), bytes);
    return {bytes.data(), bytes.size()};
  }
  const void* data = sqlite3_column_blob(stmt_, ordinal - 1);
  int size = sqlite3_column_bytes(stmt_, ordinal - 1);
  return {data, static_cast<size_t>(size)};
}

bool Statement::GetTextView(int ordinal, std::string_view& out) const {
  if (!ColumnPresent(ordinal)) return false;
  if (pq_) return PgTextView(ordinal, out);
  const unsigned char* text = sqlite3_column_text(stmt_, ordinal - 1);
  int size = sqlite3_column_bytes(stmt_, ordinal - 1);
  out = std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
  return true;
}

bool Statement::GetText(int ordinal, std::string& out) const {
  if (!ColumnPresent(ordinal)) return false;
  if (pq_) {
    std::string_view text;
    PgTextView(ordinal, text);
    out.assign(text);
    return true;
  }
  const unsigned char* text = sqlite3_column_text(stmt_, ordinal - 1);
  int size = sqlite3_column_bytes(stmt_, ordinal - 1);
  out.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
  return true;
}

bool Statement::GetInt(int ordinal, int32_t& out) const {
  if (pq_) {
    int64_t value = 0;
    if (!GetInt64(ordinal, value)) return false;
    out = static_cast<int32_t>(value);
    return true;
  }
  if (!ColumnPresent(ordinal)) return false;
  out = static_cast<int32_t>(sqlite3_column_int64(stmt_, ordinal - 1));
  return true;
}

bool Statement::GetInt64(int ordinal, int64_t& out) const {
  if (!ColumnPresent(ordinal)) return false;
  if (pq_) {
    // As SQLite reads a number from a column: the leading number, whole part of a real.
    const char* text = pq_->Value(ordinal);
    if (pq_->Type(ordinal) == kBoolType) {
      out = text[0] == 't';
      return true;
    }
    const char* end = text + pq_->Length(ordinal);
    auto [next, error] = std::from_chars(text, end, out);
    if (error != std::errc() || (next != end && (*next == '.' || *next == 'e' || *next == 'E'))) {
      double real = std::strtod(text, nullptr);
      out = std::isfinite(real) && std::fabs(real) < 9.2e18 ? static_cast<int64_t>(real) : 0;
    }
    return true;
  }
  out = sqlite3_column_int64(stmt_, ordinal - 1);
  return true;
}

bool Statement::GetDouble(int ordinal, double& out) const {
  if (!ColumnPresent(ordinal)) return false;
  if (pq_) {
    const char* text = pq_->Value(ordinal);
    out = pq_->Type(ordinal) == kBoolType ? (text[0] == 't' ? 1.0 : 0.0) : std::strtod(text, nullptr);
    return true;
  }
  out = sqlite3_column_double(stmt_, ordinal - 1);
  return true;
}

}  // namespace weavil

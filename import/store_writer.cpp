#include "import/store_writer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <memory>
#include <optional>
#include <vector>
#include <random>
#include <unordered_set>

#include "classify/classification_store.h"
#include "classify/country_lookup.h"
#include "classify/ip_address.h"
#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/sql_text.h"
#include "store/trace.h"

namespace weavil {

// ---------------------------------------------------------------- identifiers and times

bool SessionGuid::IsNil() const {
  if (data1 || data2 || data3) return false;
  for (uint8_t b : data4)
    if (b) return false;
  return true;
}

namespace {

std::mt19937_64& Random() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

}  // namespace

SessionGuid MakeSessionGuid(int64_t now) {
  SessionGuid guid;
  do {
    uint64_t a = Random()(), b = Random()();
    guid.data1 = static_cast<uint32_t>(a >> 32);
    for (int i = 0; i < 8; ++i) guid.data4[i] = static_cast<uint8_t>(b >> (8 * i));
    uint64_t when = static_cast<uint64_t>(now);
    guid.data2 = static_cast<uint16_t>(((guid.data1 >> 16) ^ (when >> 16)) & 0xFFFF);
    guid.data3 = static_cast<uint16_t>((guid.data1 ^ when) & 0xFFFF);
  } while (guid.IsNil());
  return guid;
}

std::string FormatSessionId(const SessionGuid& guid) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(36, '-');
  auto put = [&](size_t at, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
      text[at + static_cast<size_t>(i)] = kHex[value & 0xF];
      value >>= 4;
    }
  };
  put(0, guid.data1, 8);
  put(9, guid.data2, 4);
  put(14, guid.data3, 4);
  put(19, (static_cast<uint64_t>(guid.data4[0]) << 8) | guid.data4[1], 4);
  uint64_t node = 0;
  for (int i = 2; i < 8; ++i) node = (node << 8) | guid.data4[i];
  put(24, node, 12);
  return text;
}

std::string MakeSessionId(int64_t now) { return FormatSessionId(MakeSessionGuid(now)); }

std::string FormatRequestTime(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[20];
  auto two = [&](char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
  };
  two(text, year / 100);
  two(text + 2, year % 100);
  text[4] = '-';
  two(text + 5, month);
  text[7] = '-';
  two(text + 8, day);
  text[10] = ' ';
  two(text + 11, static_cast<int>(secondOfDay / 3600));
  text[13] = ':';
  two(text + 14, static_cast<int>(secondOfDay / 60 % 60));
  text[16] = ':';
  two(text + 17, static_cast<int>(secondOfDay % 60));
  return std::string(text, 19);
}

// ---------------------------------------------------------------- writer

namespace {

void AppendQuoted(std::string& sql, std::string_view value) {
  sql.push_back('\'');
  AppendEscapedSql(sql, value);
  sql.push_back('\'');
}

class StoreClassifier : public SessionClassifier {
 public:
  StoreClassifier(DbSession& db, bool modernRules) : store_(db, modernRules) {}
  int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId) override {
    return store_.ClassifyUserAgent(userAgent, sessionId);
  }
  void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId) override {
    store_.AnalyzeReferrer(referrer, sessionId);
  }

 private:
  ClassificationStore store_;
};

struct KeyHash {
  size_t operator()(const std::pair<int64_t, uint32_t>& key) const noexcept {
    return std::hash<int64_t>()(key.first * 1000003 + key.second);
  }
};

using TraceSink = std::function<void(const std::string&)>;

// One value of a row to insert.
struct SqlValue {
  enum class Kind { kNull, kNumber, kText } kind = Kind::kNull;
  int64_t number = 0;
  std::string text;
  void SetText(std::string_view value) {
    kind = Kind::kText;
    text.assign(value);
  }
  void SetNumber(int64_t value) {
    kind = Kind::kNumber;
    number = value;
  }
  void SetNumber(const std::optional<int64_t>& value) {
    if (value) SetNumber(*value);
    else kind = Kind::kNull;
  }
};

// Rows of one table, written in the order they were added, many to a statement: a
// statement per row costs more than the row itself (the table's sequence is read and
// written back each time). Rows of one table keep their order, so the keys the
// database assigns are those that one insert per row gives. When a batch fails, its
// rows are written one by one and a failing row is traced with its full statement.
class BatchInserter {
 public:
  static constexpr size_t kRowsPerStatement = 32;

  // quoted: per column, whether the traced statement shows the value between quotes.
  BatchInserter(DbSession& db, std::string insertHead, std::string traceHead, std::vector<bool> quoted,
                TraceSink* trace)
      : db_(db),
        head_(std::move(insertHead)),
        traceHead_(std::move(traceHead)),
        quoted_(std::move(quoted)),
        trace_(trace),
        rows_(kRowsPerStatement, std::vector<SqlValue>(quoted_.size())) {}

  std::vector<SqlValue>& Add() {
    if (count_ == kRowsPerStatement) Flush();
    return rows_[count_++];
  }

  void Flush() {
    if (count_ == 0) return;
    if (Failed(Run(count_, 0))) {
      for (size_t r = 0; r < count_; ++r)
        if (Failed(Run(1, r)) && trace_) (*trace_)(TraceText(rows_[r]));
    }
    count_ = 0;
  }

 private:
  int32_t Run(size_t rows, size_t first) {
    std::unique_ptr<Statement>& statement = statements_[rows];
    if (!statement) {
      statement = std::make_unique<Statement>();
      std::string sql = head_;
      for (size_t r = 0; r < rows; ++r) {
        sql += r ? ", (" : " (";
        for (size_t c = 0; c < quoted_.size(); ++c) sql += c ? ", ?" : "?";
        sql += ")";
      }
      sql += ";";
      if (Failed(statement->Prepare(db_, sql))) return kResultFail;
    }
    if (!statement->IsOpen()) return kResultFail;
    int index = 1;
    for (size_t r = first; r < first + rows; ++r) {
      for (const SqlValue& value : rows_[r]) {
        switch (value.kind) {
          case SqlValue::Kind::kNull: statement->BindNull(index); break;
          case SqlValue::Kind::kNumber: statement->BindInt64(index, value.number); break;
          case SqlValue::Kind::kText: statement->BindText(index, value.text); break;
        }
        ++index;
      }
    }
    return statement->Run();
  }

  std::string TraceText(const std::vector<SqlValue>& row) const {
    std::string sql = traceHead_;
    sql += " VALUES (";
    for (size_t c = 0; c < row.size(); ++c) {
      if (c) sql += ", ";
      const SqlValue& value = row[c];
      if (value.kind == SqlValue::Kind::kNull) {
        sql += "NULL";
        continue;
      }
      std::string text = value.kind == SqlValue::Kind::kText ? value.text : std::to_string(value.number);
      if (quoted_[c]) AppendQuoted(sql, text);
      else sql += text;
    }
    sql += ");";
    return sql;
  }

  DbSession& db_;
  std::string head_, traceHead_;
  std::vector<bool> quoted_;
  TraceSink* trace_;
  std::vector<std::vector<SqlValue>> rows_;
  size_t count_ = 0;
  std::unique_ptr<Statement> statements_[kRowsPerStatement + 1];
};

}  // namespace

struct SessionWriter::Impl {
  Impl(DbSession& session, const SessionList& sessions, SessionClassifier& classify, std::vector<std::string>* held)
      : db(session),
        list(sessions),
        classifier(classify),
        trace([held](const std::string& line) {
          if (held) held->push_back(line);
          else WriteTrace(line);
        }),
        sessionRows(db, "INSERT INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, NumVisited) VALUES",
                    "Insert INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, NumVisited)",
                    {true, true, true, true, false, true, true, true}, &trace),
        bytesRows(db, "INSERT INTO SessionBytes (SessionId, Bytes, BytesIn) VALUES",
                  "Insert INTO SessionBytes (SessionId, Bytes, BytesIn)", {true, true, true}, nullptr),
        resourceRows(db, "INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad) VALUES",
                     "Insert INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad)",
                     {true, true, true, true, true, true, true, true}, &trace) {
    existsStatement.Prepare(db, "SELECT SessionId, NumVisited, TimeExit, Referer FROM [Session] WHERE TimeEnter=? AND UserIP=?;");
    bytesStatement.Prepare(db, "SELECT Bytes, BytesIn FROM SessionBytes WHERE SessionId=?;");
    updateSession.Prepare(db, "UPDATE [Session] SET NumVisited=?, TimeExit=?, Referer=? WHERE SessionId=?;");
    updateBytes.Prepare(db, "UPDATE SessionBytes SET Bytes=?, BytesIn=? WHERE SessionId=?;");
    insertAddress.Prepare(db, "INSERT INTO DNSLookUp (UserIP, rURL, CountryCode, IsRobot) VALUES (?, ?, ?, ?);");
    ReadStoredSpan();
  }

  ~Impl() { Flush(); }

  void Flush() {
    sessionRows.Flush();
    bytesRows.Flush();
    resourceRows.Flush();
  }

  // A session can be in the database already only when its start lies within the
  // span of the stored sessions' starts, or when this import stored it; the query is
  // made only for the first case.
  void ReadStoredSpan() {
    Statement span;
    if (Failed(span.Execute(db, "SELECT min(TimeEnter), max(TimeEnter) FROM [Session];")) ||
        span.MoveNext() != kResultOk) {
      anyStored = true;  // unknown: ask for every session
      return;
    }
    anyStored = span.GetText(1, firstStored) && span.GetText(2, lastStored);
    if (!anyStored) firstStored = lastStored = std::string();
  }

  struct StoredRow {
    std::string id, exit, referrer;
    int64_t pages = 0, bytes = 0, bytesIn = 0;
  };

  // The stored session with this start and address. A failed check counts as stored,
  // so nothing is written twice.
  bool StoredBefore(const SessionRecord& session, const std::string& enter, std::string_view address,
                    std::optional<StoredRow>& row) {
    if (storedHere.count({session.enterTime, session.address})) return true;
    if (!anyStored || (!firstStored.empty() && (enter < firstStored || enter > lastStored))) return false;
    if (!existsStatement.IsOpen()) return true;
    existsStatement.BindText(1, enter);
    existsStatement.BindText(2, address);
    if (Failed(existsStatement.Run())) return true;
    int32_t next = existsStatement.MoveNext();
    if (next == kResultFalse) return false;
    StoredRow found;
    if (next == kResultOk && existsStatement.GetText(1, found.id)) {
      existsStatement.GetInt64(2, found.pages);
      existsStatement.GetText(3, found.exit);
      existsStatement.GetText(4, found.referrer);
      bytesStatement.BindText(1, found.id);
      if (Succeeded(bytesStatement.Run()) && bytesStatement.MoveNext() == kResultOk) {
        bytesStatement.GetInt64(1, found.bytes);
        bytesStatement.GetInt64(2, found.bytesIn);
      }
      row = std::move(found);
    }
    return true;
  }

  // Appends what the built session holds beyond the stored one. A seeded session lists
  // only the requests of this import; a session built again from the whole log lists
  // the stored ones first.
  StoreOutcome Complete(const SessionRecord& session, const StoredRow& row) {
    std::string exit = FormatRequestTime(session.exitTime);
    int64_t newPages = static_cast<int64_t>(session.resourceCount) - row.pages;
    bool later = exit > row.exit;
    bool moreBytes = session.bytes > row.bytes || session.bytesIn > row.bytesIn;
    // A referrer from outside that came after the stored part replaces the stored "-".
    std::string_view referrer = ReferrerText(session);
    bool newReferrer = row.referrer.substr(0, 1) == "-" && referrer.substr(0, 1) != "-" && referrer != row.referrer;
    if (newPages <= 0 && !later && !moreBytes && !newReferrer)
      return session.seeded ? StoreOutcome::kUntouched : StoreOutcome::kAlreadyStored;
    if (newPages > 0) {
      int64_t listed = 0;
      list.ForEachResource(session, [&](const ResourceRecord&) { ++listed; });
      int64_t skip = std::max<int64_t>(0, listed - newPages);
      list.ForEachResource(session, [&](const ResourceRecord& resource) {
        if (skip > 0) --skip;
        else AddResource(resource, row.id);
      });
      updateSession.BindInt64(1, static_cast<int64_t>(session.resourceCount));
    } else {
      updateSession.BindInt64(1, row.pages);
    }
    updateSession.BindText(2, later ? exit : row.exit);
    updateSession.BindText(3, newReferrer ? referrer : std::string_view(row.referrer));
    updateSession.BindText(4, row.id);
    updateSession.Run();
    if (newReferrer) classifier.AnalyzeReferrer(referrer, row.id);
    if (moreBytes) {
      updateBytes.BindInt64(1, std::max(session.bytes, row.bytes));
      updateBytes.BindInt64(2, std::max(session.bytesIn, row.bytesIn));
      updateBytes.BindText(3, row.id);
      updateBytes.Run();
    }
    return StoreOutcome::kCompleted;
  }

  StoreOutcome StoreSession(const SessionRecord& session, std::string& newId) {
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::string enter = FormatRequestTime(session.enterTime);
    std::string_view address = list.Text(session.address);
    std::optional<StoredRow> stored;
    if (StoredBefore(session, enter, address, stored)) {
      if (!stored) return session.seeded ? StoreOutcome::kUntouched : StoreOutcome::kAlreadyStored;
      return Complete(session, *stored);
    }

    std::string id = MakeSessionId(now);
    std::string_view userAgent = list.Text(session.userAgent);
    std::vector<SqlValue>& row = sessionRows.Add();
    row[0].SetText(id);
    row[1].SetText(enter);
    row[2].SetText(FormatRequestTime(session.exitTime));
    row[3].SetText(address);
    row[4].SetNumber(session.status);
    row[5].SetText(userAgent);
    row[6].SetText(ReferrerText(session));
    row[7].SetNumber(static_cast<int64_t>(session.resourceCount));
    storedHere.insert({session.enterTime, session.address});

    int32_t robot = classifier.ClassifyUserAgent(userAgent, id);

    // A known address keeps its row (and robot flag): the insert fails for it, every
    // time, so it is tried once per import.
    if (addressesTried.insert(session.address).second) {
      insertAddress.BindText(1, address);
      insertAddress.BindText(2, UnresolvedReverseName(address));
      insertAddress.BindText(3, CountryOf(address));
      if (robot == 1) insertAddress.BindInt(4, 1);
      else insertAddress.BindNull(4);
      insertAddress.Run();
    }

    std::vector<SqlValue>& bytes = bytesRows.Add();
    bytes[0].SetText(id);
    bytes[1].SetNumber(session.bytes);
    bytes[2].SetNumber(session.bytesIn);
    newId = std::move(id);
    return StoreOutcome::kNew;
  }

  void AddResource(const ResourceRecord& resource, std::string_view id) {
    std::vector<SqlValue>& row = resourceRows.Add();
    row[0].SetText(id);
    row[1].SetText(FormatRequestTime(resource.time));
    row[2].SetText(list.Text(resource.path));
    row[3].SetNumber(resource.status);
    row[4].SetText(resource.query == kNoText ? std::string_view(" ") : list.Text(resource.query));
    row[5].SetNumber(resource.scBytes);
    row[6].SetNumber(resource.csBytes);
    row[7].SetNumber(resource.timeTaken);
  }

  void StoreResources(const SessionRecord& session, std::string_view id) {
    list.ForEachResource(session, [&](const ResourceRecord& resource) { AddResource(resource, id); });
  }

  // A new address gets its country at once, from the ranges read into memory when
  // the first address of their family needs them.
  std::string CountryOf(std::string_view address) { return countries.Lookup(address); }

  // A list still being built has no "-" filled in yet for sessions without referrer.
  std::string_view ReferrerText(const SessionRecord& session) const {
    return session.referrer == kNoText ? std::string_view("-") : list.Text(session.referrer);
  }

  DbSession& db;
  const SessionList& list;
  SessionClassifier& classifier;
  TraceSink trace;
  BatchInserter sessionRows, bytesRows, resourceRows;
  Statement existsStatement, bytesStatement, updateSession, updateBytes, insertAddress;
  bool anyStored = true;
  std::string firstStored, lastStored;
  std::unordered_set<std::pair<int64_t, uint32_t>, KeyHash> storedHere;
  std::unordered_set<uint32_t> addressesTried;
  CountryRanges countries{&db};
};

SessionWriter::SessionWriter(DbSession& db, const SessionList& list, SessionClassifier& classifier,
                             std::vector<std::string>* heldTrace)
    : impl_(std::make_unique<Impl>(db, list, classifier, heldTrace)) {}

std::string_view SessionWriter::ReferrerText(const SessionRecord& session) const { return impl_->ReferrerText(session); }

SessionWriter::~SessionWriter() = default;

StoreOutcome SessionWriter::StoreSession(const SessionRecord& session, std::string& newId) {
  return impl_->StoreSession(session, newId);
}

void SessionWriter::StoreResources(const SessionRecord& session, std::string_view sessionId) {
  impl_->StoreResources(session, sessionId);
}

void SessionWriter::Flush() { impl_->Flush(); }

namespace {

// "cannot store the sessions in the database PATH: SQLite's message".
std::string StoreFailureText(DbSession& db, const DbError& error) {
  std::string path = db.FilePath();
  return "cannot store the sessions in the database " + (path.empty() ? std::string("\"Log\"") : path) + ": " +
         (error.message.empty() ? std::string("a statement failed") : error.message);
}

// Ends the import's transaction: commits unless it was cancelled or a statement failed,
// so the counts tell only what was committed.
void EndStore(DbSession& db, bool ownTransaction, StoreResult& result) {
  DbError failure = db.FirstHardError();
  if (result.cancelled || failure.Failed()) {
    if (ownTransaction) db.Abort();
    if (!result.cancelled) {
      result.databaseFailed = true;
      result.error = StoreFailureText(db, failure);
    }
    result.stored = result.alreadyStored = result.completed = 0;
  } else if (ownTransaction && Failed(db.Commit())) {
    db.Abort();
    result.databaseFailed = true;
    result.error = StoreFailureText(db, db.LastError());
    result.stored = result.alreadyStored = result.completed = 0;
  }
}

// Stores or completes one session and counts what became of it.
void HandleSession(SessionWriter& writer, SessionClassifier& classifier, const SessionRecord& session,
                   StoreResult& result) {
  std::string id;
  switch (writer.StoreSession(session, id)) {
    case StoreOutcome::kNew:
      writer.StoreResources(session, id);
      classifier.AnalyzeReferrer(writer.ReferrerText(session), id);
      ++result.stored;
      break;
    case StoreOutcome::kAlreadyStored: ++result.alreadyStored; break;
    case StoreOutcome::kCompleted: ++result.completed; break;
    case StoreOutcome::kUntouched: break;
  }
}

}  // namespace

StoreResult StoreSessionList(const SessionList& list, DbSession& db, SessionClassifier* classifier,
                             const StoreProgress& progress, bool modernRules) {
  StoreResult result;
  db.ClearErrors();
  bool ownTransaction = !db.InTransaction();
  if (ownTransaction && Failed(db.StartTransaction())) {
    result.databaseFailed = true;
    result.error = StoreFailureText(db, db.LastError());
    return result;
  }
  {
    std::unique_ptr<StoreClassifier> own;
    if (!classifier) {
      own = std::make_unique<StoreClassifier>(db, modernRules);
      classifier = own.get();
    }
    SessionWriter writer(db, list, *classifier);
    for (size_t i = 0; i < list.Count() && !db.FirstHardError().Failed(); ++i) {
      if (progress && i % 256 == 0 && !progress(static_cast<int64_t>(i))) {
        result.cancelled = true;
        break;
      }
      HandleSession(writer, *classifier, list.At(i), result);
    }
    if (progress && !result.cancelled) progress(static_cast<int64_t>(list.Count()));
  }
  EndStore(db, ownTransaction, result);
  return result;
}

std::vector<StoredSession> ReadOpenStoredSessions(DbSession& db) {
  std::vector<StoredSession> sessions;
  Statement read;
  if (Failed(read.Execute(db,
                          "SELECT s.TimeEnter, s.TimeExit, s.UserIP, s.ErrorCode, s.UserAgent, s.Referer, s.NumVisited, "
                          "b.Bytes, b.BytesIn FROM [Session] s LEFT JOIN SessionBytes b ON b.SessionId = s.SessionId "
                          "WHERE s.TimeExit >= (SELECT datetime(max(TimeExit), '-" +
                              std::to_string(kSessionGap) + " seconds') FROM [Session]) ORDER BY s.NumId;")))
    return sessions;
  auto seconds = [](const std::string& text, int64_t& out) {
    DateTimeParts parts;
    if (!ParseDateTime(text, parts)) return false;
    out = EpochSecondsFromParts(parts);
    return true;
  };
  while (read.MoveNext() == kResultOk) {
    StoredSession session;
    std::string enter, exit;
    int64_t status = 0, pages = 0;
    if (!read.GetText(1, enter) || !read.GetText(2, exit) || !seconds(enter, session.enterTime) ||
        !seconds(exit, session.exitTime) || !read.GetText(3, session.address))
      continue;
    if (read.GetInt64(4, status)) session.status = status;
    read.GetText(5, session.userAgent);
    read.GetText(6, session.referrer);
    read.GetInt64(7, pages);
    session.resourceCount = static_cast<uint32_t>(pages);
    read.GetInt64(8, session.bytes);
    read.GetInt64(9, session.bytesIn);
    sessions.push_back(std::move(session));
  }
  return sessions;
}

// ---------------------------------------------------------------- store thread

namespace {

// A large import into tables that hold fewer rows than it adds rebuilds their indexes
// once at the end instead of growing them row by row (random session identifiers and
// case-insensitive texts make every row's index update costly), inside the same
// transaction, from the definitions the database holds. The Session indexes are only
// rebuilt for an empty table: the check for stored sessions needs them otherwise.
struct HeldIndex {
  std::string name, sql;
};

int64_t RowCount(DbSession& db, const std::string& table) {
  Statement count;
  int64_t rows = -1;
  if (Succeeded(count.Execute(db, "SELECT count(*) FROM \"" + table + "\";")) && count.MoveNext() == kResultOk)
    count.GetInt64(1, rows);
  return rows;
}

std::vector<HeldIndex> DropIndexes(DbSession& db, int64_t expectedBytes) {
  // Rough rows per byte of log: a page request every two lines of about 200 bytes,
  // a session every twenty lines.
  const int64_t resources = expectedBytes / 400, sessions = expectedBytes / 4000;
  struct Table {
    const char* name;
    int64_t expected;
  };
  const Table tables[] = {{"Resource", resources},        {"SessionBytes", sessions},
                          {"SessionBrowserOS", sessions}, {"SessionReferer", sessions},
                          {"SessionKeyphrase", sessions}, {"SessionKeywords", sessions},
                          {"DNSLookUp", sessions},        {"Session", 0}};
  std::vector<HeldIndex> dropped;
  // Completing stored sessions looks their byte sums up by identifier.
  const bool sessionsStored = RowCount(db, "Session") != 0;
  for (const Table& table : tables) {
    if (sessionsStored && std::string_view(table.name) == "SessionBytes") continue;
    int64_t rows = RowCount(db, table.name);
    if (rows < 0 || (table.expected == 0 ? rows != 0 : rows >= table.expected)) continue;
    std::vector<HeldIndex> found;
    Statement list;
    if (Failed(list.Prepare(db, "SELECT name, sql FROM sqlite_master WHERE type='index' AND tbl_name=? AND sql IS NOT NULL;")))
      continue;
    list.BindText(1, table.name);
    if (Failed(list.Run())) continue;
    while (list.MoveNext() == kResultOk) {
      HeldIndex index;
      if (list.GetText(1, index.name) && list.GetText(2, index.sql)) found.push_back(index);
    }
    list.Close();
    for (const HeldIndex& index : found) {
      Statement drop;
      if (Succeeded(drop.Execute(db, "DROP INDEX \"" + index.name + "\";"))) dropped.push_back(index);
    }
  }
  return dropped;
}

}  // namespace

struct SessionStoreThread::Impl {
  Impl(const SessionList& sessions, int64_t bytes, bool modern)
      : list(sessions), expectedBytes(bytes), modernRules(modern) {
    thread = std::thread([this] { Run(); });
  }

  // Waits for sessions to store; false when there is nothing more to come.
  bool NextBatch(size_t done, size_t& ready) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait(lock, [&] { return cancelled || finished || published > done; });
    if (cancelled) return false;
    ready = published;
    return ready > done;
  }

  // Nothing can be stored: the sessions still to come are taken and dropped, so the
  // building thread never waits for this one.
  void Drain(std::string error) {
    result.databaseFailed = true;
    result.error = std::move(error);
    size_t ready = 0;
    while (NextBatch(ready, ready)) {
    }
  }

  void Run() {
    LogDataSource& source = LogDataSource::Obtain();
    sourceOpened = source.IsOpen();
    DbSession db;
    if (!sourceOpened) {
      Drain("cannot open " + source.Describe());
    } else if (!(sessionOpened = Succeeded(db.Open(source)))) {
      Drain("cannot open the database " + source.Path() + ": " + db.LastError().message);
    } else if (Failed(db.StartTransaction())) {
      // Another writer kept the lock longer than the busy time, or the file is read-only.
      Drain(StoreFailureText(db, db.LastError()));
    } else {
      Store(db);
    }
    db.Close();
    End();
  }

  void Store(DbSession& db) {
    std::vector<HeldIndex> indexes = DropIndexes(db, expectedBytes);
    {
      StoreClassifier classifier(db, modernRules);
      SessionWriter writer(db, list, classifier, &held);
      size_t done = 0, ready = 0;
      while (NextBatch(done, ready)) {
        for (; done < ready; ++done) {
          if (cancelled.load(std::memory_order_relaxed) || db.FirstHardError().Failed()) break;
          HandleSession(writer, classifier, list.At(done), result);
          handled.store(static_cast<int64_t>(done + 1), std::memory_order_relaxed);
        }
        // After a failure the rest is only taken, not written.
        if (db.FirstHardError().Failed()) done = ready;
      }
    }
    if (!db.FirstHardError().Failed()) {
      for (const HeldIndex& index : indexes) {
        Statement create;
        create.Execute(db, index.sql);
      }
    }
    result.cancelled = cancelled;
    EndStore(db, true, result);
  }

  void End() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    endWake.notify_all();
  }

  const SessionList& list;
  int64_t expectedBytes;
  bool modernRules;
  std::mutex mutex;
  std::condition_variable wake, endWake;
  size_t published = 0;
  bool finished = false, ended = false;
  std::atomic<bool> cancelled{false};
  std::atomic<int64_t> handled{0};
  // Written by the thread, read after it ended.
  StoreResult result;
  bool sourceOpened = false, sessionOpened = false;
  std::vector<std::string> held;
  std::thread thread;
};

SessionStoreThread::SessionStoreThread(const SessionList& list, int64_t expectedBytes, bool modernRules)
    : impl_(std::make_unique<Impl>(list, expectedBytes, modernRules)) {}

SessionStoreThread::~SessionStoreThread() {
  if (impl_->thread.joinable()) {
    // Left without Finish (an exception on the way): nothing half done is committed.
    if (!Wait(0)) Cancel();
    impl_->thread.join();
  }
}

void SessionStoreThread::Publish(size_t finalSessions) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (finalSessions > impl_->published) {
    impl_->published = finalSessions;
    impl_->wake.notify_all();
  }
}

void SessionStoreThread::Finish(size_t sessionCount) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->published = std::max(impl_->published, sessionCount);
  impl_->finished = true;
  impl_->wake.notify_all();
}

void SessionStoreThread::Cancel() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->cancelled = true;
  impl_->wake.notify_all();
}

bool SessionStoreThread::Wait(int milliseconds) {
  {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (milliseconds < 0) impl_->endWake.wait(lock, [&] { return impl_->ended; });
    else if (!impl_->endWake.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return impl_->ended; }))
      return false;
  }
  if (impl_->thread.joinable()) impl_->thread.join();
  return true;
}

int64_t SessionStoreThread::Handled() const { return impl_->handled.load(std::memory_order_relaxed); }
const StoreResult& SessionStoreThread::Result() const { return impl_->result; }
bool SessionStoreThread::SourceOpened() const { return impl_->sourceOpened; }
const std::vector<std::string>& SessionStoreThread::HeldTrace() const { return impl_->held; }

}  // namespace weavil

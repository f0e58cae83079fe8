#include "import/store_writer.h"

#include <ctime>
#include <memory>
#include <optional>
#include <vector>
#include <random>
#include <unordered_set>

#include "classify/classification_store.h"
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
  explicit StoreClassifier(DbSession& db) : store_(db) {}
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
                bool traceFailures)
      : db_(db),
        head_(std::move(insertHead)),
        traceHead_(std::move(traceHead)),
        quoted_(std::move(quoted)),
        traceFailures_(traceFailures),
        rows_(kRowsPerStatement, std::vector<SqlValue>(quoted_.size())) {}

  std::vector<SqlValue>& Add() {
    if (count_ == kRowsPerStatement) Flush();
    return rows_[count_++];
  }

  void Flush() {
    if (count_ == 0) return;
    if (Failed(Run(count_, 0))) {
      for (size_t r = 0; r < count_; ++r)
        if (Failed(Run(1, r)) && traceFailures_) WriteTrace(TraceText(rows_[r]));
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
  bool traceFailures_;
  std::vector<std::vector<SqlValue>> rows_;
  size_t count_ = 0;
  std::unique_ptr<Statement> statements_[kRowsPerStatement + 1];
};

}  // namespace

struct SessionWriter::Impl {
  Impl(DbSession& session, const SessionList& sessions, SessionClassifier& classify)
      : db(session),
        list(sessions),
        classifier(classify),
        sessionRows(db, "INSERT INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, NumVisited) VALUES",
                    "Insert INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, NumVisited)",
                    {true, true, true, true, false, true, true, true}, true),
        bytesRows(db, "INSERT INTO SessionBytes (SessionId, Bytes, BytesIn) VALUES",
                  "Insert INTO SessionBytes (SessionId, Bytes, BytesIn)", {true, true, true}, false),
        resourceRows(db, "INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad) VALUES",
                     "Insert INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad)",
                     {true, true, true, true, true, true, true, true}, true) {
    existsStatement.Prepare(db, "SELECT SessionId FROM [Session] WHERE TimeEnter=? AND UserIP=?;");
    insertAddress.Prepare(db, "INSERT INTO DNSLookUp (UserIP, rURL, CountryCode, IsRobot) VALUES (?, ?, '', ?);");
    ProbeEarlierSessions();
  }

  ~Impl() { Flush(); }

  void Flush() {
    sessionRows.Flush();
    bytesRows.Flush();
    resourceRows.Flush();
  }

  // When no stored session starts within this import's time span, no session of the
  // import can be found in the database except those it stores itself: they are
  // remembered here and the per-session query is skipped.
  void ProbeEarlierSessions() {
    if (list.Count() == 0) return;
    int64_t first = list.At(0).enterTime, last = first;
    for (size_t i = 0; i < list.Count(); ++i) {
      first = std::min(first, list.At(i).enterTime);
      last = std::max(last, list.At(i).enterTime);
    }
    Statement probe;
    if (Failed(probe.Prepare(db, "SELECT 1 FROM [Session] WHERE TimeEnter BETWEEN ? AND ? LIMIT 1;"))) return;
    probe.BindText(1, FormatRequestTime(first));
    probe.BindText(2, FormatRequestTime(last));
    if (Succeeded(probe.Run()) && probe.MoveNext() == kResultFalse) checkInMemory = true;
  }

  bool StoredBefore(const SessionRecord& session, const std::string& enter, std::string_view address) {
    if (checkInMemory) return storedHere.count({session.enterTime, session.address}) > 0;
    // The database decides: it must hold every session written so far.
    sessionRows.Flush();
    if (!existsStatement.IsOpen()) return true;  // the check fails: counts as stored
    existsStatement.BindText(1, enter);
    existsStatement.BindText(2, address);
    if (Failed(existsStatement.Run())) return true;
    return existsStatement.MoveNext() != kResultFalse;
  }

  std::string StoreSession(const SessionRecord& session) {
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::string enter = FormatRequestTime(session.enterTime);
    std::string_view address = list.Text(session.address);
    if (StoredBefore(session, enter, address)) return {};

    std::string id = MakeSessionId(now);
    std::string_view userAgent = list.Text(session.userAgent);
    std::vector<SqlValue>& row = sessionRows.Add();
    row[0].SetText(id);
    row[1].SetText(enter);
    row[2].SetText(FormatRequestTime(session.exitTime));
    row[3].SetText(address);
    row[4].SetNumber(session.status);
    row[5].SetText(userAgent);
    row[6].SetText(list.Text(session.referrer));
    row[7].SetNumber(static_cast<int64_t>(session.resourceCount));
    if (checkInMemory) storedHere.insert({session.enterTime, session.address});

    int32_t robot = classifier.ClassifyUserAgent(userAgent, id);

    // A known address keeps its row (and robot flag): the insert fails for it, every
    // time, so it is tried once per import.
    if (addressesTried.insert(session.address).second) {
      insertAddress.BindText(1, address);
      std::string reversed = "ip.";
      reversed.append(address);
      insertAddress.BindText(2, reversed);
      if (robot == 1) insertAddress.BindInt(3, 1);
      else insertAddress.BindNull(3);
      insertAddress.Run();
    }

    std::vector<SqlValue>& bytes = bytesRows.Add();
    bytes[0].SetText(id);
    bytes[1].SetNumber(session.bytes);
    bytes[2].SetNumber(session.bytesIn);
    return id;
  }

  void StoreResources(const SessionRecord& session, std::string_view id) {
    list.ForEachResource(session, [&](const ResourceRecord& resource) {
      std::vector<SqlValue>& row = resourceRows.Add();
      row[0].SetText(id);
      row[1].SetText(FormatRequestTime(resource.time));
      row[2].SetText(list.Text(resource.path));
      row[3].SetNumber(resource.status);
      row[4].SetText(resource.query == kNoText ? std::string_view(" ") : list.Text(resource.query));
      row[5].SetNumber(resource.scBytes);
      row[6].SetNumber(resource.csBytes);
      row[7].SetNumber(resource.timeTaken);
    });
  }

  DbSession& db;
  const SessionList& list;
  SessionClassifier& classifier;
  BatchInserter sessionRows, bytesRows, resourceRows;
  Statement existsStatement, insertAddress;
  bool checkInMemory = false;
  std::unordered_set<std::pair<int64_t, uint32_t>, KeyHash> storedHere;
  std::unordered_set<uint32_t> addressesTried;
};

SessionWriter::SessionWriter(DbSession& db, const SessionList& list, SessionClassifier& classifier)
    : impl_(std::make_unique<Impl>(db, list, classifier)) {}

SessionWriter::~SessionWriter() = default;

std::string SessionWriter::StoreSession(const SessionRecord& session) { return impl_->StoreSession(session); }

void SessionWriter::StoreResources(const SessionRecord& session, std::string_view sessionId) {
  impl_->StoreResources(session, sessionId);
}

void SessionWriter::Flush() { impl_->Flush(); }

StoreResult StoreSessionList(const SessionList& list, DbSession& db, SessionClassifier* classifier,
                             const StoreProgress& progress) {
  StoreResult result;
  bool ownTransaction = !db.InTransaction() && Succeeded(db.StartTransaction());
  {
    std::unique_ptr<StoreClassifier> own;
    if (!classifier) {
      own = std::make_unique<StoreClassifier>(db);
      classifier = own.get();
    }
    SessionWriter writer(db, list, *classifier);
    for (size_t i = 0; i < list.Count(); ++i) {
      if (progress && i % 256 == 0 && !progress(static_cast<int64_t>(i))) {
        result.cancelled = true;
        break;
      }
      const SessionRecord& session = list.At(i);
      std::string id = writer.StoreSession(session);
      if (id.empty()) {
        ++result.alreadyStored;
        continue;
      }
      writer.StoreResources(session, id);
      classifier->AnalyzeReferrer(list.Text(session.referrer), id);
      ++result.stored;
    }
    if (progress && !result.cancelled) progress(static_cast<int64_t>(list.Count()));
  }
  if (ownTransaction) {
    if (result.cancelled) {
      db.Abort();
      result.stored = result.alreadyStored = 0;
    } else if (Failed(db.Commit())) {
      db.Abort();
      result.databaseFailed = true;
      result.stored = 0;
    }
  }
  return result;
}

StoreResult StoreSessions(const SessionList& list, const StoreProgress& progress) {
  StoreResult result;
  WriteTrace("Getting DBConnection instance...");
  LogDataSource& source = LogDataSource::Obtain();
  WriteTrace("Getting the result...");
  if (!source.IsOpen()) {
    WriteTrace("failed");
    result.databaseFailed = true;
    return result;
  }
  WriteTrace("Opening Session...");
  DbSession db;
  if (Succeeded(db.Open(source))) {
    // Room for the indexes the import grows; the default cache thrashes on big logs.
    Statement pragma;
    pragma.Execute(db, "PRAGMA cache_size=-65536;");
    pragma.Close();
    result = StoreSessionList(list, db, nullptr, progress);
  } else {
    result.databaseFailed = true;
  }
  WriteTrace("Closing Session...");
  db.Close();
  return result;
}

}  // namespace weavil

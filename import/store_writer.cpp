#include "import/store_writer.h"

#include <ctime>
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

std::string StatusText(const std::optional<int64_t>& status) {
  return status ? std::to_string(*status) : std::string("NULL");
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

}  // namespace

struct SessionWriter::Impl {
  Impl(DbSession& session, const SessionList& sessions, SessionClassifier& classify)
      : db(session), list(sessions), classifier(classify) {
    existsStatement.Prepare(db, "SELECT SessionId FROM [Session] WHERE TimeEnter=? AND UserIP=?;");
    insertSession.Prepare(db,
                          "INSERT INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, "
                          "Referer, NumVisited) VALUES (?, ?, ?, ?, ?, ?, ?, ?);");
    insertAddress.Prepare(db, "INSERT INTO DNSLookUp (UserIP, rURL, CountryCode, IsRobot) VALUES (?, ?, '', ?);");
    insertBytes.Prepare(db, "INSERT INTO SessionBytes (SessionId, Bytes, BytesIn) VALUES (?, ?, ?);");
    insertResource.Prepare(db,
                           "INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, "
                           "Bytes2, TimeLoad) VALUES (?, ?, ?, ?, ?, ?, ?, ?);");
    ProbeEarlierSessions();
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
    std::string exit = FormatRequestTime(session.exitTime);
    std::string_view userAgent = list.Text(session.userAgent);
    std::string_view referrer = list.Text(session.referrer);
    insertSession.BindText(1, id);
    insertSession.BindText(2, enter);
    insertSession.BindText(3, exit);
    insertSession.BindText(4, address);
    if (session.status) insertSession.BindInt64(5, *session.status);
    else insertSession.BindNull(5);
    insertSession.BindText(6, userAgent);
    insertSession.BindText(7, referrer);
    insertSession.BindInt64(8, session.resourceCount);
    if (Failed(insertSession.Run())) {
      std::string sql =
          "Insert INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, "
          "NumVisited) VALUES (";
      AppendQuoted(sql, id);
      sql += ", ";
      AppendQuoted(sql, enter);
      sql += ", ";
      AppendQuoted(sql, exit);
      sql += ", ";
      AppendQuoted(sql, address);
      sql += ", " + StatusText(session.status) + ", ";
      AppendQuoted(sql, userAgent);
      sql += ", ";
      AppendQuoted(sql, referrer);
      sql += ", ";
      AppendQuoted(sql, std::to_string(session.resourceCount));
      sql += ");";
      WriteTrace(sql);
    } else if (checkInMemory) {
      storedHere.insert({session.enterTime, session.address});
    }

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

    insertBytes.BindText(1, id);
    insertBytes.BindInt64(2, session.bytes);
    insertBytes.BindInt64(3, session.bytesIn);
    insertBytes.Run();
    return id;
  }

  void StoreResources(const SessionRecord& session, std::string_view id) {
    list.ForEachResource(session, [&](const ResourceRecord& resource) {
      std::string when = FormatRequestTime(resource.time);
      std::string_view path = list.Text(resource.path);
      std::string_view query = resource.query == kNoText ? std::string_view(" ") : list.Text(resource.query);
      insertResource.BindText(1, id);
      insertResource.BindText(2, when);
      insertResource.BindText(3, path);
      if (resource.status) insertResource.BindInt64(4, *resource.status);
      else insertResource.BindNull(4);
      insertResource.BindText(5, query);
      insertResource.BindInt64(6, resource.scBytes);
      insertResource.BindInt64(7, resource.csBytes);
      insertResource.BindInt64(8, resource.timeTaken);
      if (Failed(insertResource.Run())) {
        std::string sql =
            "Insert INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, "
            "TimeLoad) VALUES (";
        AppendQuoted(sql, id);
        sql += ", ";
        AppendQuoted(sql, when);
        sql += ", ";
        AppendQuoted(sql, path);
        sql += ", ";
        sql += resource.status ? "'" + std::to_string(*resource.status) + "'" : std::string("NULL");
        sql += ", ";
        AppendQuoted(sql, query);
        sql += ", ";
        AppendQuoted(sql, std::to_string(resource.scBytes));
        sql += ", ";
        AppendQuoted(sql, std::to_string(resource.csBytes));
        sql += ", ";
        AppendQuoted(sql, std::to_string(resource.timeTaken));
        sql += ");";
        WriteTrace(sql);
      }
    });
  }

  DbSession& db;
  const SessionList& list;
  SessionClassifier& classifier;
  Statement existsStatement, insertSession, insertAddress, insertBytes, insertResource;
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

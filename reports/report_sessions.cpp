#include "reports/report_sessions.h"

#include <algorithm>
#include <new>
#include <numeric>

#include "store/jet_functions.h"

namespace weavil {

namespace {

// A period passing fewer than one session in this many is left to the statements.
constexpr int64_t kNarrowShare = 8;

}  // namespace

std::vector<uint32_t> StartRanks(const ReportSessions& sessions, bool byAddress) {
  const std::vector<ReportSession>& rows = sessions.rows;
  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const ReportSession &x = rows[a], &y = rows[b];
    if (x.start != y.start) return x.start < y.start;
    if (byAddress && x.visitor != y.visitor) {
      std::string_view p = sessions.visitors[x.visitor].address, q = sessions.visitors[y.visitor].address;
      if (p != q) return p < q;
    }
    return x.numId < y.numId;
  });
  std::vector<uint32_t> rank(rows.size());
  for (size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<uint32_t>(i);
  return rank;
}

std::string_view ReportSession::Minute(char (&buffer)[17]) const {
  int64_t minutes = start / 100;
  // yyyy-mm-dd hh:mm from the right: mm, hh, dd, mm, yyyy
  char* at = buffer + 16;
  auto put = [&](int64_t value, int width, char before) {
    for (int i = 0; i < width; ++i, value /= 10) *--at = static_cast<char>('0' + value % 10);
    if (before) *--at = before;
  };
  put(minutes % 100, 2, ':');
  put(minutes / 100 % 100, 2, ' ');
  put(minutes / 10000 % 100, 2, '-');
  put(minutes / 1000000 % 100, 2, '-');
  put(minutes / 100000000, 4, 0);
  return std::string_view(buffer, 16);
}

void ReserveSessionRows(ReportTree& tree, size_t sessionRows) {
  tree.Reserve(3 * sessionRows + 64, 64 * sessionRows + 4096);
}

namespace {

int64_t StartDigits(std::string_view start) {
  int64_t digits = 0;
  for (char c : start)
    if (c >= '0' && c <= '9') digits = digits * 10 + (c - '0');
  return digits;
}

// Every address of DNSLookUp with what the views show of it, and whether the filter's
// condition on it (a condition on b, or "" for none) holds.
bool LoadVisitors(DbSession& db, const std::string& condition, ReportSessions& out) {
  size_t hint = RowCountHint(db, "SELECT max(rowid) FROM DNSLookUp;");
  out.visitors.reserve(hint);
  out.addresses.Reserve(hint);
  const std::string sql = "SELECT UserIP, rURL, FullName, IsRobot" +
                          (condition.empty() ? std::string() : ", (" + condition + ")") + " FROM DNSLookUp b;";
  return ForEachRow(db, sql, [&](const Statement& row) {
    std::string_view address, rUrl, fullName;
    if (!row.GetTextView(1, address)) return true;  // joins no session
    ReportVisitor visitor;
    visitor.nullRUrl = !row.GetTextView(2, rUrl);
    visitor.nullFullName = !row.GetTextView(3, fullName);
    row.GetInt(4, visitor.robot);
    if (!condition.empty()) {
      int32_t holds = 0;  // null, as in a WHERE clause, does not
      visitor.passes = row.GetInt(5, holds) && holds != 0;
    }
    visitor.rUrl = out.texts.Keep(rUrl);
    visitor.fullName = out.texts.Keep(fullName);
    visitor.address = out.addresses.Add(address, static_cast<uint32_t>(out.visitors.size()));
    out.visitors.push_back(visitor);
    return true;
  });
}

}  // namespace

AskedPages::AskedPages(const FilterQueries& queries)
    : applies_(queries.requestQuery >= 0), pages_(queries.foldedPages) {
  std::sort(pages_.begin(), pages_.end());
}

bool AskedPages::Holds(std::string_view foldedPath) const {
  return pages_.empty() || std::binary_search(pages_.begin(), pages_.end(), foldedPath);
}

bool FilterPass::Load(DbSession& db, const FilterQueries& queries, RequestCheck requests) {
  byNumId_ = !queries.sessionQuery.empty();
  if (byNumId_ && !ForEachRow(db, queries.sessionQuery, [&](const Statement& row) {
        int64_t numId = 0;
        if (!row.GetInt64(1, numId) || numId < 0 || numId >= (int64_t{1} << 31)) return true;  // no session row
        if (static_cast<uint64_t>(numId) >= numIds_.size()) numIds_.resize(static_cast<size_t>(numId) + 1);
        numIds_[static_cast<size_t>(numId)] = true;
        return true;
      }))
    return false;
  auto readTexts = [&](const std::string& sql, TextIndex& into, std::vector<std::string_view>& byRow) {
    RunNumbering numberOf(into, byRow);
    return ForEachRow(db, sql, [&](const Statement& row) {
      std::string_view text;
      if (row.GetTextView(1, text)) numberOf.Number(text);
      return true;
    });
  };
  std::vector<const std::string*> asked;
  for (size_t i = 0; i < queries.idQueries.size(); ++i)
    if (requests == RequestCheck::kStatement || static_cast<int>(i) != queries.requestQuery)
      asked.push_back(&queries.idQueries[i]);
  ids_.resize(asked.size());
  const size_t sessions = asked.empty() ? 0 : RowCountHint(db, "SELECT max(NumId) FROM [Session];");
  for (size_t i = 0; i < asked.size(); ++i) {
    IdSet& set = ids_[i];
    set.index.Reserve(sessions);
    if (!readTexts(*asked[i], set.index, set.byRow)) return false;
    set.lookup.emplace(set.index, set.byRow);
  }
  return true;
}

bool FilterPass::Passes(int64_t numId, std::string_view sessionId) {
  if (byNumId_ && (numId < 0 || static_cast<uint64_t>(numId) >= numIds_.size() || !numIds_[static_cast<size_t>(numId)]))
    return false;
  for (IdSet& ids : ids_)
    if (ids.lookup->Find(sessionId) == kNoEntry) return false;
  return true;
}

namespace {

// A session row as read, before its address is joined.
struct StagedSession {
  ReportSession session;
  std::string_view address, id;
};

bool ReadSessionRows(DbSession& db, bool byNumber, TextArena& texts, std::vector<StagedSession>& out) {
  out.reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  SessionStarts starts(db);
  const std::string sql = SessionNamedRead(byNumber, starts.Table(), "NumId, ",
                                           ", UserIP, NumVisited, " + std::string(starts.Columns()), " ORDER BY NumId");
  return ForEachRow(db, sql, [&](const Statement& row) {
                      StagedSession staged;
                      std::string_view start;
                      if (!row.GetInt(1, staged.session.numId) || !row.GetTextView(3, staged.address)) return true;
                      if (!row.GetTextView(2, staged.id) || !starts.Read(row, 5, start) || !IsStoredDateText(start))
                        return false;
                      row.GetInt(4, staged.session.visited);
                      staged.session.start = StartDigits(start);
                      staged.address = texts.Keep(staged.address);
                      staged.id = texts.Keep(staged.id);
                      out.push_back(staged);
                      return true;
                    });
}

}  // namespace

bool PeriodIsNarrow(DbSession& db, const ReportFilter& filter, std::time_t now) {
  std::string period = BuildFilterQueries(filter, now).sessionQuery;
  if (period.empty()) return false;
  period.pop_back();  // its ";"
  Statement count;
  int64_t passed = 0;
  if (Failed(count.Execute(db, "SELECT count(*) FROM (" + period + ") AS passed;")) || count.MoveNext() != kResultOk ||
      !count.GetInt64(1, passed))
    return false;
  return passed * kNarrowShare < static_cast<int64_t>(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
}


bool LoadReportSessions(DbSession& db, const ReportFilter& filter, std::time_t now, ReportSessions& out,
                        SessionIds ids, RequestCheck requests) {
  // The addresses and the filter's conditions come through a second connection on the
  // same database while this one reads the sessions, so both cores share the reads.
  // A condition on the requests, words or referrers reads a whole table: the addresses
  // then come through this connection after the sessions.
  // The condition on the addresses is asked as the addresses are read.
  FilterPass pass;
  const bool byNumber = JoinsByNumber(db);
  const FilterQueries queries = BuildFilterQueries(filter, now, byNumber);
  const bool visitorsHere =
      queries.idQueries.size() > (requests == RequestCheck::kView && queries.requestQuery >= 0 ? 1u : 0u);
  SideWork side(db, [&](DbSession& connection) {
    return pass.Load(connection, queries, requests) &&
           (visitorsHere || LoadVisitors(connection, queries.addressCondition, out));
  });
  std::vector<StagedSession> staged;
  bool read = false;
  try {
    read = ReadSessionRows(db, byNumber, out.sessionTexts, staged) &&
           (!visitorsHere || LoadVisitors(db, queries.addressCondition, out));
  } catch (const std::bad_alloc&) {
    read = false;
  }
  if (!side.Join() || !read) return false;

  out.rows.reserve(staged.size());
  if (ids == SessionIds::kIndexed) out.ids.Reserve(staged.size());
  for (StagedSession& row : staged) {
    uint32_t visitor = out.addresses.Find(row.address);
    if (visitor == kNoEntry || !out.visitors[visitor].passes || !pass.Passes(row.session.numId, row.id))
      continue;
    row.session.visitor = visitor;
    if (ids == SessionIds::kIndexed) out.ids.Add(row.id, static_cast<uint32_t>(out.rows.size()));
    if (ids == SessionIds::kListed) out.idList.push_back(row.id);
    out.rows.push_back(row.session);
  }
  return true;
}

}  // namespace weavil

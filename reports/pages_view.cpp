// The Pages view: sessions under each page they asked for, pages differing only in
// case under one group.
#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/text.h"
#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

constexpr size_t kPageKeyWidth = 50;

size_t EnterPageGroup(const Statement& row, SessionGroups& groups) {
  groups.EnterSortable(0, ToLowerAscii(row.Get<std::string>(7)));
  return 1;
}

// A session's page (case folded) and its first request of it.
struct PageVisit {
  uint32_t session;
  uint32_t page;
  int64_t firstRequest;
};


// The requests as read, before they are joined to the report's sessions: each
// identifier numbered in the order first met.
struct RequestRows {
  TextIndex ids;
  std::vector<std::string_view> sessionIds;
  std::vector<PageVisit> visits;  // session: the number of its identifier
  FoldedGroups pages;  // the paths; PageVisit::page is a group
};

bool ReadRequests(DbSession& db, RequestRows& out) {
  out.visits.reserve(RowCountHint(db, "SELECT max(ResourceId) FROM Resource;"));
  out.ids.Reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  RunNumbering numberOf(out.ids, out.sessionIds);
  const std::string sql = SessionNamedRead(JoinsByNumber(db), "Resource", "ResourceId, ", ", UriStem");
  return ForEachRow(db, sql, [&](const Statement& row) {
    std::string_view id, path;
    if (!row.GetTextView(2, id)) return true;  // joins no session
    if (!row.GetTextView(3, path)) return false;
    int64_t request = 0;
    row.GetInt64(1, request);
    out.visits.push_back({numberOf.Number(id), out.pages.Group(out.pages.Of(path)), request});
    return true;
  });
}

// The rows of the view's statement: every (session, page) pair once (its DISTINCT),
// ordered by the padded page and the start, ties in the order the statement's scan
// meets them (session, then its first request of the page).
bool BuildPageRows(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) {
  if (!StatementPrepares(db, BuildViewQuery(SessionViewKind::kPage, filter, now))) return false;
  // The requests through a second connection while this one reads the sessions.
  RequestRows requests;
  SideWork side(db, [&](DbSession& connection) { return ReadRequests(connection, requests); });
  // The filter's condition on the pages is asked of these requests, not read again.
  ReportSessions sessions;
  bool loaded = LoadReportSessions(db, filter, now, sessions, SessionIds::kListed, RequestCheck::kView);
  if (!side.Join() || !loaded) return false;
  std::vector<PageVisit>& visits = requests.visits;
  const FoldedGroups& pages = requests.pages;
  const AskedPages asked(BuildFilterQueries(filter, now));
  std::vector<bool> askedFor;  // by identifier: one of its requests meets the condition
  if (asked.Applies())
    askedFor = asked.SessionsAsking(pages, requests.sessionIds.size(), visits, [](const PageVisit& visit) {
      return std::pair(visit.session, visit.page);
    });
  // The report's session of each identifier the requests name.
  std::vector<uint32_t> sessionOf(requests.sessionIds.size(), kNoEntry);
  OrderedLookup numberOf(requests.ids, requests.sessionIds);
  for (size_t row = 0; row < sessions.idList.size(); ++row) {
    uint32_t number = numberOf.Find(sessions.idList[row]);
    if (number != kNoEntry && (!asked.Applies() || askedFor[number])) sessionOf[number] = static_cast<uint32_t>(row);
  }
  size_t kept = 0;
  for (const PageVisit& visit : visits) {
    uint32_t session = sessionOf[visit.session];
    if (session != kNoEntry) visits[kept++] = {session, visit.page, visit.firstRequest};
  }
  visits.resize(kept);

  auto byPair = [](const PageVisit& a, const PageVisit& b) {
    return std::tie(a.session, a.page, a.firstRequest) < std::tie(b.session, b.page, b.firstRequest);
  };
  std::sort(visits.begin(), visits.end(), byPair);
  visits.erase(std::unique(visits.begin(), visits.end(),
                           [](const PageVisit& a, const PageVisit& b) {
                             return a.session == b.session && a.page == b.page;
                           }),
               visits.end());

  std::vector<std::string> keys;
  for (uint32_t page = 0; page < pages.GroupCount(); ++page)
    AppendPaddedKey(keys.emplace_back(), pages.Folded(page), kPageKeyWidth);
  std::vector<uint32_t> rank = RankKeys(keys);
  std::vector<uint32_t> place = StartRanks(sessions, false);
  std::sort(visits.begin(), visits.end(), [&](const PageVisit& a, const PageVisit& b) {
    return std::tie(rank[a.page], place[a.session], a.firstRequest) <
           std::tie(rank[b.page], place[b.session], b.firstRequest);
  });
  const std::vector<ReportSession>& rows = sessions.rows;

  ReserveSessionRows(groups.Tree(), visits.size());
  char minute[17];
  for (const PageVisit& visit : visits) {
    const ReportSession& session = rows[visit.session];
    groups.EnterSortable(0, pages.Folded(visit.page));
    RowId leaf = groups.AppendSession(1, session.Minute(minute), kImageLeaf);
    groups.Tree().SetKey(leaf, session.numId);
  }
  return true;
}

}  // namespace

extern const SessionViewDef kPagesView = {
    {"Pages", "Page", 1,
     "Select Distinct a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, "
     "b.IsRobot, c.UriStem, (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || "
     "Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE FROM [Session] a, DNSLookUp b, Resource c WHERE "
     "a.UserIP=b.UserIP and c.SessionId=a.SessionId ",
     "ORDER BY (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE;"},
    nullptr,
    EnterPageGroup,
    1,
    2,
    BuildPageRows,
};

}  // namespace weavil

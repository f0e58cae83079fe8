// The Referers view: sessions under the pieces of their referrer's group ("Search
// Engine/Google"), then under the referring address.
#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

constexpr size_t kMaxRefererGroupLevels = 4;

size_t EnterRefererLabels(std::string_view url, std::string_view group, SessionGroups& groups) {
  size_t level = 0;
  std::string_view rest = group;
  // Up to 4 pieces cut at "/"; a group without "/" is one piece.
  while (level < kMaxRefererGroupLevels) {
    size_t slash = rest.find('/');
    groups.EnterSortable(level++, rest.substr(0, slash));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  groups.EnterSortable(level++, url);
  return level;
}

size_t EnterRefererGroups(const Statement& row, SessionGroups& groups) {
  return EnterRefererLabels(row.Get<std::string>(7), row.Get<std::string>(8), groups);
}

constexpr size_t kRefererKeyWidth = 50;

struct RefererRow {
  std::string_view url, group;
  bool whole = false;  // neither is null
};

// A session's referrer row, in the order the table was read.
struct SessionReferrer {
  uint32_t session, referrer, read;
};

// The rows of the view's statement: each session's referrer rows, ordered by the
// padded group and address and the start, ties in the order of the statement's scan
// (session, then its rows as stored).
bool BuildRefererRows(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) {
  ReportSessions sessions;
  if (!StatementPrepares(db, BuildViewQuery(SessionViewKind::kReferer, filter, now)) ||
      !LoadReportSessions(db, filter, now, sessions, SessionIds::kIndexed))
    return false;
  TextArena texts;
  std::unordered_map<int64_t, uint32_t> referrerOf;
  std::vector<RefererRow> referrers;
  bool read = ForEachRow(db, "SELECT RefererId, Url, [Group] FROM Referer;", [&](const Statement& row) {
    int64_t id = 0;
    if (!row.GetInt64(1, id)) return true;
    RefererRow referrer;
    referrer.whole = row.GetTextView(2, referrer.url) && row.GetTextView(3, referrer.group);
    referrer.url = texts.Keep(referrer.url);
    referrer.group = texts.Keep(referrer.group);
    referrerOf.emplace(id, static_cast<uint32_t>(referrers.size()));
    referrers.push_back(referrer);
    return true;
  });
  std::vector<SessionReferrer> links;
  uint32_t count = 0;
  TextLookup sessionOf(sessions.ids);
  const std::string linksSql = SessionNamedRead(JoinsByNumber(db), "SessionReferer", "", ", RefererId");
  read = read && ForEachRow(db, linksSql, [&](const Statement& row) {
    ++count;
    std::string_view id;
    int64_t referrer = 0;
    if (!row.GetTextView(1, id) || !row.GetInt64(2, referrer)) return true;
    uint32_t session = sessionOf.Find(id);
    auto found = referrerOf.find(referrer);
    if (session == kNoEntry || found == referrerOf.end()) return true;
    links.push_back({session, found->second, count});
    return referrers[found->second].whole;
  });
  if (!read) return false;

  std::vector<std::string> keys(referrers.size());
  for (size_t i = 0; i < referrers.size(); ++i) {
    AppendPaddedKey(keys[i], referrers[i].group, kRefererKeyWidth);
    AppendPaddedKey(keys[i], referrers[i].url, kRefererKeyWidth);
  }
  std::vector<uint32_t> rank = RankKeys(keys);
  std::vector<uint32_t> place = StartRanks(sessions, false);
  std::sort(links.begin(), links.end(), [&](const SessionReferrer& a, const SessionReferrer& b) {
    return std::tie(rank[a.referrer], place[a.session], a.read) < std::tie(rank[b.referrer], place[b.session], b.read);
  });
  ReserveSessionRows(groups.Tree(), links.size());
  char minute[17];
  for (const SessionReferrer& link : links) {
    const ReportSession& session = sessions.rows[link.session];
    const RefererRow& referrer = referrers[link.referrer];
    RowId leaf = groups.AppendSession(EnterRefererLabels(referrer.url, referrer.group, groups), session.Minute(minute),
                                      kImageLeaf);
    groups.Tree().SetKey(leaf, session.numId);
  }
  return true;
}

}  // namespace

extern const SessionViewDef kReferersView = {
    {"Referers", "Referer", static_cast<int>(kMaxRefererGroupLevels + 1),
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "c.Url, c.[Group] FROM [Session] a, DNSLookUp b, Referer c, SessionReferer e WHERE a.UserIP=b.UserIP and "
     "e.SessionId=a.SessionId and c.RefererId=e.RefererId ",
     "ORDER BY (left(c.[Group],50) || Space(50-Len(left(c.[Group],50))) || left(c.Url,50) || "
     "Space(50-Len(left(c.Url,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE;"},
    nullptr,
    EnterRefererGroups,
    1,
    2,
    BuildRefererRows,
};

}  // namespace weavil

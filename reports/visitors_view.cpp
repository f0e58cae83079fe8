// The Visitors view: sessions under the pieces of their visitor's host name, read from
// the top-level domain down, or under the address and its networks for an unresolved
// visitor.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classify/ip_address.h"
#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

constexpr size_t kMaxDomainLevels = 6;
constexpr size_t kDomainLabelLimit = 49;

// An unresolved IPv6 visitor: "ip", its network prefixes of 16, 32, 48 and 64 bits,
// then the address, each in canonical form ("ip.2001:db8::/32", "ip.2001:db8::1").
std::vector<std::string> Ipv6Labels(Ipv6Number address) {
  std::vector<std::string> labels{"ip"};
  for (int bits = 16; bits <= 64; bits += 16) {
    Ipv6Number mask = ~Ipv6Number(0) << (128 - bits);
    labels.push_back("ip." + CanonicalIpv6(address & mask) + "/" + std::to_string(bits));
  }
  labels.push_back("ip." + CanonicalIpv6(address));
  return labels;
}

size_t EnterDomainLabels(const std::vector<std::string>& labels, SessionGroups& groups) {
  for (size_t i = 0; i < labels.size(); ++i) groups.EnterSortable(i, labels[i]);
  return labels.size();
}

size_t EnterDomainGroups(const Statement& row, SessionGroups& groups) {
  return EnterDomainLabels(DomainLabels(row.Get<std::string>(2)), groups);
}

constexpr size_t kDomainKeyWidth = 100;

// The rows of the view's statement: the sessions ordered by the padded reversed host
// name and the start, ties in the order of the statement's scan (start, address,
// session).
bool BuildDomainRows(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) {
  ReportSessions sessions;
  if (!StatementPrepares(db, BuildViewQuery(SessionViewKind::kDomain, filter, now)) ||
      !LoadReportSessions(db, filter, now, sessions, SessionIds::kNone))
    return false;
  const std::vector<ReportSession>& rows = sessions.rows;
  // One sort key per visitor of a session.
  std::vector<uint32_t> keyOf(sessions.visitors.size(), kNoEntry);
  std::vector<std::string_view> names;
  for (const ReportSession& session : rows) {
    const ReportVisitor& visitor = sessions.visitors[session.visitor];
    if (visitor.nullRUrl) return false;
    if (keyOf[session.visitor] != kNoEntry) continue;
    keyOf[session.visitor] = static_cast<uint32_t>(names.size());
    names.push_back(visitor.rUrl);
  }
  std::vector<uint32_t> rank = RankPaddedKeys(names, kDomainKeyWidth);
  std::vector<uint32_t> name(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) name[i] = keyOf[rows[i].visitor];
  std::vector<uint32_t> place = StartRanks(sessions, true);
  // Ordered by (rank of the name, place): one integer each, the place naming its row.
  std::vector<uint32_t> rowAt(rows.size());
  std::vector<uint64_t> keys(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    rowAt[place[i]] = static_cast<uint32_t>(i);
    keys[i] = PairKey(rank[name[i]], place[i]);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<uint32_t> order(rows.size());
  for (size_t k = 0; k < keys.size(); ++k) order[k] = rowAt[static_cast<uint32_t>(keys[k])];
  ReserveSessionRows(groups.Tree(), order.size());
  char minute[17];
  std::string_view labelled;
  std::vector<std::string> labels;
  for (uint32_t i : order) {
    const ReportSession& session = rows[i];
    std::string_view rUrl = sessions.visitors[session.visitor].rUrl;
    if (labels.empty() || rUrl != labelled) {
      labels = DomainLabels(rUrl);
      labelled = rUrl;
    }
    RowId leaf = groups.AppendSession(EnterDomainLabels(labels, groups), session.Minute(minute), kImageLeaf);
    groups.Tree().SetKey(leaf, session.numId);
  }
  return true;
}

}  // namespace

extern const SessionViewDef kVisitorsView = {
    {"Visitors", "Domain", static_cast<int>(kMaxDomainLevels),
     "SELECT b.FullName, b.rURL, a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP FROM DNSLookUp b, "
     "[Session] a WHERE b.UserIP=a.UserIP ",
     "ORDER BY (left(b.rURL,100) || Space(100-Len(left(b.rURL,100))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE ASC"},
    nullptr,
    EnterDomainGroups,
    3,
    4,
    BuildDomainRows,
};

std::vector<std::string> DomainLabels(std::string_view reversedUrl) {
  std::vector<std::string_view> pieces = SplitLabel(reversedUrl, '.', kMaxDomainLevels);
  bool storedOrder = pieces.front() == "ip";
  if (storedOrder && pieces.size() == 2 && pieces[1].find(':') != std::string_view::npos) {
    if (std::optional<Ipv6Number> v6 = ParseIpv6(pieces[1])) return Ipv6Labels(*v6);
  }
  std::vector<std::string> labels;
  labels.reserve(pieces.size());
  for (size_t k = 1; k <= pieces.size(); ++k) {
    std::string label;
    for (size_t j = 0; j < k; ++j) {
      if (j) label += '.';
      label += storedOrder ? pieces[j] : pieces[k - 1 - j];
    }
    if (k >= 2 && label.size() > kDomainLabelLimit) label.resize(kDomainLabelLimit);
    labels.push_back(std::move(label));
  }
  return labels;
}

}  // namespace weavil

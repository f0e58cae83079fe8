#include "reports/statistics_rows.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <new>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "reports/report_sessions.h"
#include "store/jet_date.h"
#include "store/jet_functions.h"

namespace weavil {

namespace {

// A group's count and the text its label takes: that of the first row the section's
// scan meets, sessions by identifier and their requests by number.
struct GroupCount {
  double count = 0;
  bool present = false;
  bool spellings = false;  // more than one spelling met
  std::string_view session;
  int64_t request = 0;
  uint32_t text = 0;

  void Add(std::string_view sessionId, int64_t requestId, uint32_t exact, double amount) {
    if (present && exact != text) spellings = true;
    if (!present || sessionId < session || (sessionId == session && requestId < request)) {
      session = sessionId;
      request = requestId;
      text = exact;
    }
    present = true;
    count += amount;
  }
};

class SectionCounts {
 public:
  explicit SectionCounts(const FoldedGroups& texts) : texts_(texts) {}
  void Add(uint32_t exact, std::string_view session, int64_t request, double amount = 1) {
    uint32_t group = texts_.Group(exact);
    if (group >= groups_.size()) groups_.resize(texts_.GroupCount());
    groups_[group].Add(session, request, exact, amount);
  }
  // Empty when the label of a group depends on the scan (see statistics_rows.h).
  std::optional<StatisticsRows> Rows(bool scanDecides) const {
    StatisticsRows rows;
    for (uint32_t group : texts_.InOrder()) {
      if (group >= groups_.size() || !groups_[group].present) continue;
      if (scanDecides && groups_[group].spellings) return std::nullopt;
      rows.emplace_back(groups_[group].count, std::string(texts_.Text(groups_[group].text)));
    }
    return rows;
  }

 private:
  const FoldedGroups& texts_;
  std::vector<GroupCount> groups_;
};

// The sessions the statistics count: every stored one, or with the filter on those of
// the statistics' own join and conditions.
struct CountedSessions {
  bool all = true;  // the filter is off
  TextIndex ids;
  std::vector<std::string_view> sessionIds, starts, addresses;
  // Each one's SessionId, the order of the sections' scans (the same texts as
  // sessionIds unless the joins go by number).
  std::vector<std::string_view> scanIds;
  TextArena texts;
};

// Keeps a session row as read, once per identifier (its start and address copied
// unless they are kept in out.texts already); false for a start that is no stored date.
bool CountSession(std::string_view id, std::string_view scanId, std::string_view start, std::string_view address,
                  bool kept, CountedSessions& out) {
  if (!IsStoredDateText(start)) return false;
  const size_t before = out.sessionIds.size();
  if (out.ids.Number(id, out.sessionIds) < before) return true;
  out.starts.push_back(kept ? start : out.texts.Keep(start));
  out.addresses.push_back(kept ? address : out.texts.Keep(address));
  out.scanIds.push_back(kept ? scanId : out.texts.Keep(scanId));
  return true;
}

// The requests as read, before they are joined to the counted sessions: each
// session identifier numbered in the order first met, paths and status texts once.
struct StagedRequests {
  struct Row {
    int64_t request;
    uint32_t session, path, statusText;
  };
  TextIndex ids;
  std::vector<std::string_view> sessionIds;
  FoldedGroups paths, statusTexts;
  std::unordered_map<uint64_t, uint32_t> statusTextOf;  // status << 32 | path
  std::vector<Row> rows;
};

bool ReadRequests(DbSession& db, StagedRequests& out) {
  out.rows.reserve(RowCountHint(db, "SELECT max(ResourceId) FROM Resource;"));
  out.ids.Reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  RunNumbering numberOf(out.ids, out.sessionIds);
  const std::string sql = SessionNamedRead(JoinsByNumber(db), "Resource", "ResourceId, ", ", UriStem, StatusCode");
  return ForEachRow(db, sql, [&](const Statement& row) {
    std::string_view id, path;
    int64_t request = 0, status = 0;
    if (!row.GetTextView(2, id)) return true;  // joins no session
    if (!row.GetInt64(1, request) || !row.GetTextView(3, path) || !row.GetInt64(4, status)) return false;
    if (status < INT32_MIN || status > INT32_MAX) return false;
    const uint32_t session = numberOf.Number(id);
    uint32_t exact = out.paths.Of(path);
    uint64_t statusKey = (static_cast<uint64_t>(static_cast<uint32_t>(status)) << 32) | exact;
    auto [text, added] = out.statusTextOf.try_emplace(statusKey, 0);
    if (added) text->second = out.statusTexts.Of(JetStr(static_cast<double>(status), true) + "+" + std::string(path));
    out.rows.push_back({request, session, exact, text->second});
    return true;
  });
}

// ------------------------------------------------------ the rows read: names, addresses, sessions

// Names by their number (Browser, OS).
bool ReadNames(DbSession& db, const std::string& sql, FoldedGroups& names, std::unordered_map<int64_t, uint32_t>& byId) {
  return ForEachRow(db, sql, [&](const Statement& row) {
    int64_t id = 0;
    std::string_view name;
    if (!row.GetInt64(1, id)) return true;  // joins nothing
    if (!row.GetTextView(2, name)) return false;
    byId.emplace(id, names.Of(name));
    return true;
  });
}

// The rows of SessionBrowserOS with their names, read before the counted sessions are
// known (with the filter on, these wait for the requests).
struct BrowserRows {
  struct Row {
    std::string_view id;  // kept only when asked for
    bool named = false;   // the identifier is not null
    uint32_t browser = kNoEntry, system = kNoEntry;  // the names (FoldedGroups::Of), kNoEntry for none
  };
  FoldedGroups browsers, systems;
  std::vector<Row> rows;
  TextArena ids;
};

bool ReadBrowserRows(DbSession& db, bool keepIds, BrowserRows& out) {
  std::unordered_map<int64_t, uint32_t> browserOf, systemOf;
  if (!ReadNames(db, "SELECT BrowserId, Browser FROM Browser;", out.browsers, browserOf) ||
      !ReadNames(db, "SELECT OSId, OS FROM OS;", out.systems, systemOf))
    return false;
  auto nameOf = [](const std::unordered_map<int64_t, uint32_t>& names, const Statement& row, int column) {
    int64_t id = 0;
    if (!row.GetInt64(column, id)) return kNoEntry;
    auto name = names.find(id);
    return name == names.end() ? kNoEntry : name->second;
  };
  out.rows.reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  const std::string sql = SessionNamedRead(JoinsByNumber(db), "SessionBrowserOS", "", ", BrowserId, OSId");
  return ForEachRow(db, sql, [&](const Statement& row) {
    BrowserRows::Row staged;
    std::string_view id;
    staged.named = row.GetTextView(1, id);
    if (!staged.named && keepIds) return true;  // no counted session's
    if (keepIds) staged.id = out.ids.Keep(id);
    staged.browser = nameOf(browserOf, row, 2);
    staged.system = nameOf(systemOf, row, 3);
    if (staged.browser != kNoEntry || staged.system != kNoEntry) out.rows.push_back(staged);
    return true;
  });
}

// Each address's country ("Code - Name"), read before the counted sessions are known,
// and with the filter on (condition given) whether its condition on the address holds.
struct AddressCountries {
  std::vector<std::string> labels;
  TextIndex addresses;
  std::vector<int32_t> countryOf;  // by row of addresses: a label, -1 for a country without name
  TextIndex passing;  // with the filter on, the addresses its condition on them passes
};

bool ReadAddressCountries(DbSession& db, const std::string* condition, AddressCountries& out) {
  // "Code - Name" by folded code; a null name fails only when a session needs it.
  std::unordered_map<std::string, int32_t> countryOf;
  bool read = ForEachRow(db, "SELECT Code, Name FROM Countries;", [&](const Statement& row) {
    std::string_view code, name;
    if (!row.GetTextView(1, code)) return true;
    bool named = row.GetTextView(2, name);
    countryOf.emplace(ToLowerAscii(code), named ? static_cast<int32_t>(out.labels.size()) : -1);
    if (named) out.labels.push_back(std::string(code) + " - " + std::string(name));
    return true;
  });
  const bool asked = condition && !condition->empty();
  if (condition) out.passing.Reserve(RowCountHint(db, "SELECT max(rowid) FROM DNSLookUp;"));
  const std::string sql =
      "SELECT UserIP, CountryCode" + (asked ? ", (" + *condition + ")" : std::string()) + " FROM DNSLookUp b;";
  return read && ForEachRow(db, sql, [&](const Statement& row) {
    std::string_view address, code;
    if (!row.GetTextView(1, address)) return true;
    int32_t holds = 1;  // null, as in a WHERE clause, does not
    if (condition && (!asked || (row.GetInt(3, holds) && holds != 0))) out.passing.Add(address, 0);
    if (!row.GetTextView(2, code)) return true;
    auto country = countryOf.find(ToLowerAscii(code));
    if (country == countryOf.end()) return true;
    out.addresses.Add(address, static_cast<uint32_t>(out.countryOf.size()));
    out.countryOf.push_back(country->second);
    return true;
  });
}

// A session row read before the filter's sets are known.
struct StagedSession {
  std::string_view id, scanId, start, address;
  int64_t numId = 0;
  bool numbered = false;
};

// The counted sessions, with the rows of browsers and the countries of the addresses.
// The requests are those the statistics read on a second connection (readRequests):
// the filter's condition on them is asked of them once they are read.
bool LoadCountedSessions(DbSession& db, const ReportFilter& filter, std::time_t now, SideWork& readRequests,
                         const StagedRequests& requests, BrowserRows& browsers, AddressCountries& addresses,
                         CountedSessions& out) {
  out.all = !filter.applyFilter;
  const bool byNumber = JoinsByNumber(db);
  SessionStarts starts(db);
  const std::string sessionsSql =
      SessionNamedRead(byNumber, starts.Table(), "NumId, ", ", UserIP, SessionId, " + std::string(starts.Columns()));
  out.ids.Reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  if (out.all) {
    return ReadBrowserRows(db, false, browsers) && ReadAddressCountries(db, nullptr, addresses) &&
           ForEachRow(db, sessionsSql, [&](const Statement& row) {
             std::string_view id, start, address, scanId;
             if (!row.GetTextView(2, id)) return true;  // joins nothing
             row.GetTextView(3, address);
             row.GetTextView(4, scanId);
             return starts.Read(row, 5, start) && CountSession(id, scanId, start, address, false, out);
           });
  }
  // With the filter on, a session counts when it has an address row for which the
  // filter's condition on addresses holds, and passes the other conditions. Those, and
  // the browsers, are read on a third connection while this one reads the addresses and
  // the sessions.
  const FilterQueries queries = BuildFilterQueries(filter, now, byNumber);
  FilterPass pass;
  SideWork side(db, [&](DbSession& connection) {
    return pass.Load(connection, queries, RequestCheck::kView) && ReadBrowserRows(connection, true, browsers);
  });
  std::vector<StagedSession> staged;
  const TextIndex& known = addresses.passing;
  bool read = ReadAddressCountries(db, &queries.addressCondition, addresses);
  read = read && ForEachRow(db, sessionsSql, [&](const Statement& row) {
    StagedSession session;
    if (!row.GetTextView(2, session.id)) return true;  // joins nothing
    // A null address joins no country.
    if (!row.GetTextView(3, session.address) || known.Find(session.address) == kNoEntry) return true;
    session.numbered = row.GetInt64(1, session.numId);
    starts.Read(row, 5, session.start);
    session.id = out.texts.Keep(session.id);
    std::string_view scanId;
    row.GetTextView(4, scanId);
    session.scanId = out.texts.Keep(scanId);
    session.start = out.texts.Keep(session.start);
    session.address = out.texts.Keep(session.address);
    staged.push_back(session);
    return true;
  });
  if (!side.Join() || !read) return false;
  const AskedPages asked(queries);
  std::vector<bool> askedFor;
  if (asked.Applies()) {
    if (!readRequests.Join()) return false;
    askedFor = asked.SessionsAsking(requests.paths, requests.sessionIds.size(), requests.rows,
                                    [&](const StagedRequests::Row& row) {
                                      return std::pair(row.session, requests.paths.Group(row.path));
                                    });
  }
  for (const StagedSession& session : staged) {
    if (!session.numbered || !pass.Passes(session.numId, session.id)) continue;
    if (asked.Applies()) {
      uint32_t number = requests.ids.Find(session.id);
      if (number == kNoEntry || !askedFor[number]) continue;
    }
    if (!CountSession(session.id, session.scanId, session.start, session.address, true, out)) return false;
  }
  return true;
}

// ------------------------------------------------------------------ browsers, systems

void CountBrowsersAndSystems(const BrowserRows& staged, const CountedSessions& sessions, StatisticsSectionRows& out) {
  SectionCounts browserCounts(staged.browsers), systemCounts(staged.systems);
  OrderedLookup sessionOf(sessions.ids, sessions.sessionIds);
  for (const BrowserRows::Row& row : staged.rows) {
    // With the filter off every row counts (count() leaves out a null identifier);
    // with it on, the rows of the counted sessions.
    if (!sessions.all && sessionOf.Find(row.id) == kNoEntry) continue;
    const double amount = row.named ? 1 : 0;
    if (row.browser != kNoEntry) browserCounts.Add(row.browser, {}, 0, amount);
    if (row.system != kNoEntry) systemCounts.Add(row.system, {}, 0, amount);
  }
  out.browsers = browserCounts.Rows(false);  // the names are unique without regard to case
  out.systems = systemCounts.Rows(false);
}

// ------------------------------------------------------------------ time distributions

// Sessions of one label: how many, and the first and last start.
struct TimeGroup {
  double count = 0;
  std::string_view first, last;
  void Add(double sessions, std::string_view from, std::string_view to) {
    if (count == 0 || from < first) first = from;
    if (count == 0 || to > last) last = to;
    count += sessions;
  }
};

bool TimeRows(const std::map<std::string, TimeGroup>& groups, const char* interval,
              std::optional<StatisticsRows>& out) {
  StatisticsRows& rows = out.emplace();
  for (const auto& [label, group] : groups) {
    DateTimeParts first, last;
    int64_t spanned = 0;
    if (!ParseDateTime(group.first, first) || !ParseDateTime(group.last, last) ||
        !JetDateDiff(interval, first, last, spanned))
      return false;
    rows.emplace_back(1.0 * group.count / static_cast<double>(1 + spanned), label);
  }
  return true;
}

bool CountTimes(const CountedSessions& sessions, StatisticsSectionRows& out) {
  // The sessions of each hour of each day first: the labels are made once per hour.
  std::unordered_map<std::string_view, TimeGroup> hours;
  for (std::string_view start : sessions.starts) hours[start.substr(0, 13)].Add(1, start, start);
  std::map<std::string, TimeGroup> byHour, byWeekday, byMonthDay;
  for (const auto& [hour, group] : hours) {
    DateTimeParts parts;
    if (!ParseDateTime(group.first, parts)) return false;
    byHour[FormatJetDate(parts, "hh")].Add(group.count, group.first, group.last);
    byWeekday[FormatJetDate(parts, "w") + " - " + FormatJetDate(parts, "dddd")].Add(group.count, group.first, group.last);
    byMonthDay[FormatJetDate(parts, "dd")].Add(group.count, group.first, group.last);
  }
  return TimeRows(byHour, "d", out.hours) && TimeRows(byWeekday, "ww", out.daysOfWeek) &&
         TimeRows(byMonthDay, "m", out.daysOfMonth);
}

// ------------------------------------------------------------------ countries

bool CountCountries(const AddressCountries& table, const CountedSessions& sessions, StatisticsSectionRows& out) {
  const std::vector<std::string>& labels = table.labels;
  std::vector<double> counts(labels.size());
  for (std::string_view address : sessions.addresses) {
    uint32_t at = table.addresses.Find(address);
    if (at == kNoEntry) continue;
    if (table.countryOf[at] < 0) return false;
    counts[static_cast<size_t>(table.countryOf[at])] += 1;
  }
  std::vector<uint32_t> order(labels.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return labels[a] < labels[b]; });
  StatisticsRows& rows = out.countries.emplace();
  for (uint32_t country : order)
    if (counts[country] > 0) rows.emplace_back(counts[country], labels[country]);
  return true;
}

// ------------------------------------------------------------------ requests

// Each session's first and last request (by number) and their paths.
struct SessionEnds {
  int64_t first = std::numeric_limits<int64_t>::max(), last = std::numeric_limits<int64_t>::min();
  uint32_t firstPath = 0, lastPath = 0;
};

void CountRequests(const StagedRequests& requests, const CountedSessions& sessions, StatisticsSectionRows& out) {
  // The counted session of each identifier the requests name.
  std::vector<uint32_t> counted(requests.sessionIds.size());
  OrderedLookup sessionOf(sessions.ids, sessions.sessionIds);
  for (size_t i = 0; i < counted.size(); ++i) counted[i] = sessionOf.Find(requests.sessionIds[i]);
  SectionCounts all(requests.paths), statusCodes(requests.statusTexts);
  std::vector<SessionEnds> ends(sessions.sessionIds.size());
  for (const StagedRequests::Row& row : requests.rows) {
    uint32_t session = counted[row.session];
    if (session == kNoEntry) continue;
    std::string_view id = sessions.scanIds[session];
    all.Add(row.path, id, row.request);
    statusCodes.Add(row.statusText, id, row.request);
    SessionEnds& end = ends[session];
    if (row.request < end.first) end.first = row.request, end.firstPath = row.path;
    if (row.request > end.last) end.last = row.request, end.lastPath = row.path;
  }
  SectionCounts entry(requests.paths), exit(requests.paths);
  const std::vector<std::string_view>& ids = sessions.scanIds;
  for (size_t s = 0; s < ends.size(); ++s) {
    if (ends[s].last < ends[s].first) continue;  // no request
    entry.Add(ends[s].firstPath, ids[s], ends[s].first);
    exit.Add(ends[s].lastPath, ids[s], ends[s].last);
  }
  bool scanDecides = !sessions.all;
  out.entry = entry.Rows(scanDecides);
  out.exit = exit.Rows(scanDecides);
  out.all = all.Rows(scanDecides);
  out.statusCodes = statusCodes.Rows(scanDecides);
}

}  // namespace

std::optional<StatisticsRows>* StatisticsSectionRows::Section(std::string_view title) {
  if (title == "Browsers") return &browsers;
  if (title == "OS") return &systems;
  if (title == "Hours") return &hours;
  if (title == "Days of week") return &daysOfWeek;
  if (title == "Days of month") return &daysOfMonth;
  if (title == "Sessions") return &countries;
  if (title == "Entry") return &entry;
  if (title == "Exit") return &exit;
  if (title == "All") return &all;
  if (title == "Status codes") return &statusCodes;
  return nullptr;
}

bool ComputeStatisticsRows(DbSession& db, const ReportFilter& filter, std::time_t now, StatisticsSectionRows& out) {
  // The requests through a second connection on the same database while this one
  // reads the sessions and the other tables, so both cores share the reads. With a page
  // list the sessions wait for the requests.
  StagedRequests requests;
  SideWork side(db, [&](DbSession& connection) { return ReadRequests(connection, requests); });
  CountedSessions sessions;
  bool counted = false;
  try {
    BrowserRows browsers;  // freed once counted, before the requests are counted
    AddressCountries countries;
    counted = LoadCountedSessions(db, filter, now, side, requests, browsers, countries, sessions) &&
              CountTimes(sessions, out) && CountCountries(countries, sessions, out);
    if (counted) CountBrowsersAndSystems(browsers, sessions, out);
  } catch (const std::bad_alloc&) {
    counted = false;
  }
  if (!side.Join() || !counted) return false;
  CountRequests(requests, sessions, out);
  return true;
}

}  // namespace weavil

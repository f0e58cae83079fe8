#include "reports/session_views.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "classify/ip_address.h"
#include "classify/url_unescape.h"
#include "reports/country_names.h"
#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/trace.h"

namespace weavil {

const char* const kMonthNames[13] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                     "July", "August",  "September", "October", "November", "December"};

namespace {

// Jet joins texts with "+" and compares them without regard to case; SQLite joins with
// "||", and the sort keys say COLLATE NOCASE so that rows differing only in case still
// arrive together.
const SessionViewInfo kViews[] = {
    {"Sessions", "Visits", 3,
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "a.SessionId FROM [Session] a, DNSLookUp b WHERE a.UserIP=b.UserIP ",
     "ORDER BY a.TimeEnter ASC;"},
    {"Visitors", "Domain", 6,
     "SELECT b.FullName, b.rURL, a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP FROM DNSLookUp b, "
     "[Session] a WHERE b.UserIP=a.UserIP ",
     "ORDER BY (left(b.rURL,100) || Space(100-Len(left(b.rURL,100))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE ASC"},
    {"Keywords", "KeyWord", 2,
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "c.Keyphrase, d.Word FROM [Session] a, DNSLookUp b, Keyphrase c, Keyword d, SessionKeyphrase e, "
     "SessionKeywords f WHERE a.UserIP=b.UserIP and e.SessionId=a.SessionId and f.SessionId=a.SessionId and "
     "c.KeyphraseId=e.KeyphraseId and d.KeywordId=f.KeywordId ",
     "ORDER BY (left(d.Word,25) || Space(25-Len(left(d.Word,25))) || left(c.Keyphrase,100) || "
     "Space(100-Len(left(c.Keyphrase,100))) || Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE;"},
    {"Referers", "Referer", 5,
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "c.Url, c.[Group] FROM [Session] a, DNSLookUp b, Referer c, SessionReferer e WHERE a.UserIP=b.UserIP and "
     "e.SessionId=a.SessionId and c.RefererId=e.RefererId ",
     "ORDER BY (left(c.[Group],50) || Space(50-Len(left(c.[Group],50))) || left(c.Url,50) || "
     "Space(50-Len(left(c.Url,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE;"},
    {"Pages", "Page", 1,
     "Select Distinct a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, "
     "b.IsRobot, c.UriStem, (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || "
     "Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE FROM [Session] a, DNSLookUp b, Resource c WHERE "
     "a.UserIP=b.UserIP and c.SessionId=a.SessionId ",
     "ORDER BY (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE;"},
};

constexpr size_t kMaxDomainLevels = 6;
constexpr size_t kDomainLabelLimit = 49;
constexpr size_t kMaxRefererGroupLevels = 4;

// The grouping rule shared by the five views: one current group row per level, kept
// while the row's label at that level stays the same; a changed label closes that
// level and every deeper one (their counts are written) and opens a new group row.
class LevelGrouper {
 public:
  LevelGrouper(ReportTree& tree, int levels) : tree_(tree), levels_(static_cast<size_t>(levels)) {}

  // The current group row of level (0 = outermost) for label; opened is true when a new
  // row was appended (its text is the label until the caller changes it).
  RowId Enter(size_t level, std::string_view label, bool& opened) {
    Level& current = levels_[level];
    opened = false;
    if (current.row != kNoRow && current.label == label) return current.row;
    Close(level);
    RowId parent = level == 0 ? kRootRow : levels_[level - 1].row;
    current.row = tree_.AppendRow(parent, label, kImageGroup);
    current.label.assign(label);
    opened = true;
    return current.row;
  }

  // A session row below the group of level depth - 1; counts it in levels 0 .. depth - 1.
  RowId AppendSession(size_t depth, std::string_view text, int32_t image) {
    RowId row = tree_.AppendRow(depth == 0 ? kRootRow : levels_[depth - 1].row, text, image);
    for (size_t i = 0; i < depth; ++i) ++levels_[i].count;
    return row;
  }

  // Writes the counts of level and every deeper one and forgets their rows.
  void Close(size_t level) {
    char number[16];
    for (size_t i = level; i < levels_.size(); ++i) {
      Level& l = levels_[i];
      if (l.row != kNoRow) {
        std::snprintf(number, sizeof number, "%d", l.count);
        tree_.SetText(l.row, 1, number);
      }
      l.row = kNoRow;
      l.count = 0;
      l.label.clear();
    }
  }

 private:
  struct Level {
    std::string label;
    RowId row = kNoRow;
    int32_t count = 0;
  };
  ReportTree& tree_;
  std::vector<Level> levels_;
};

std::string ColumnText(const Statement& statement, int ordinal) {
  std::string text;
  statement.GetText(ordinal, text);
  return text;
}

int32_t ColumnInt(const Statement& statement, int ordinal) {
  int32_t value = 0;
  statement.GetInt(ordinal, value);
  return value;
}

// Local times of the Sessions view, computed once per date and hour: the zone rules
// are consulted a few hundred times instead of once per session.
class LocalTimeCache {
 public:
  std::time_t HourStart(int year, int month, int day, int hour) {
    int64_t key = ((static_cast<int64_t>(year) * 16 + month) * 32 + day) * 32 + hour;
    auto found = cache_.find(key);
    if (found != cache_.end()) return found->second;
    std::time_t t = LocalTimeOf(year, month, day, hour, 0);
    cache_.emplace(key, t);
    return t;
  }

 private:
  std::unordered_map<int64_t, std::time_t> cache_;
};

int Digits(std::string_view text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return pos + count <= text.size() ? value : -1;
}

std::string_view Slice(std::string_view text, size_t pos, size_t count) {
  return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

void BuildVisits(Statement& statement, ReportTree& tree, int32_t& step) {
  LevelGrouper grouper(tree, 3);
  LocalTimeCache times;
  std::string timeText, name, text;
  char number[16];
  while ((step = statement.MoveNext()) == kResultOk) {
    int32_t numId = ColumnInt(statement, 1);
    timeText = ColumnText(statement, 2);
    if (!statement.GetText(4, name)) name = ColumnText(statement, 3);
    int32_t visited = ColumnInt(statement, 5);
    int32_t robot = ColumnInt(statement, 6);

    std::string_view t = timeText;
    int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2);
    bool dated = year >= 0 && month >= 1 && month <= 12 && IsValidDate(year, month, day) && hour >= 0 &&
                 hour < 24 && minute >= 0 && minute < 60;
    std::time_t midnight = dated ? times.HourStart(year, month, day, 0) : 0;
    std::string_view yearText = Slice(t, 0, 4), monthText = Slice(t, 5, 2), dayText = Slice(t, 8, 2);
    const char* monthName = dated ? kMonthNames[month] : "";

    bool opened;
    RowId row = grouper.Enter(0, yearText, opened);
    if (opened && dated) tree.SetKey(row, static_cast<int32_t>(-midnight));
    row = grouper.Enter(1, monthText, opened);
    if (opened) {
      text.assign(monthName).append(" ").append(yearText);
      tree.SetText(row, 0, text);
      if (dated) tree.SetKey(row, static_cast<int32_t>(-midnight));
    }
    row = grouper.Enter(2, dayText, opened);
    if (opened) {
      text.assign(dayText).append(" ").append(monthName).append(" ").append(yearText);
      tree.SetText(row, 0, text);
      if (dated) {
        tree.SetKey(row, static_cast<int32_t>(-midnight));
        if (IsWeekendDay(midnight)) tree.SetState(row, kStateRed);
      }
    }

    text.assign(Slice(t, 11, 5)).append(" ").append(name);
    RowId session = grouper.AppendSession(3, text, robot ? kImageRobotVisit : kImageVisit);
    std::snprintf(number, sizeof number, "%d", visited);
    tree.SetText(session, 1, number);
    tree.SetKey(session, numId);
    if (dated) tree.SetItemParam(session, times.HourStart(year, month, day, hour) + minute * 60);
    if (robot != 0 || visited < 2) tree.SetState(session, kStateGrey);
  }
  grouper.Close(0);
}

// Group rows of the other four views carry their own handle as item parameter, so the
// column sort reorders them; session rows keep their query order.
RowId EnterSortable(LevelGrouper& grouper, ReportTree& tree, size_t level, std::string_view label) {
  bool opened;
  RowId row = grouper.Enter(level, label, opened);
  if (opened) tree.SetItemParam(row, row);
  return row;
}

void AppendLeafSession(LevelGrouper& grouper, ReportTree& tree, size_t depth, const std::string& timeText,
                       int32_t numId) {
  RowId row = grouper.AppendSession(depth, timeText, kImageLeaf);
  tree.SetKey(row, numId);
}

void BuildDomain(Statement& statement, ReportTree& tree, int32_t& step) {
  LevelGrouper grouper(tree, static_cast<int>(kMaxDomainLevels));
  std::string reversed, timeText;
  while ((step = statement.MoveNext()) == kResultOk) {
    reversed = ColumnText(statement, 2);
    int32_t numId = ColumnInt(statement, 3);
    timeText = ColumnText(statement, 4);
    std::vector<std::string> labels = DomainLabels(reversed);
    for (size_t i = 0; i < labels.size(); ++i) EnterSortable(grouper, tree, i, labels[i]);
    AppendLeafSession(grouper, tree, labels.size(), timeText, numId);
  }
  grouper.Close(0);
}

void BuildKeywords(Statement& statement, ReportTree& tree, int32_t& step) {
  LevelGrouper grouper(tree, 2);
  std::string phrase, word, timeText;
  while ((step = statement.MoveNext()) == kResultOk) {
    int32_t numId = ColumnInt(statement, 1);
    timeText = ColumnText(statement, 2);
    phrase = ColumnText(statement, 7);
    word = ColumnText(statement, 8);
    UrlUnescapeInPlace(phrase);  // percent escapes only: "+" stays
    EnterSortable(grouper, tree, 0, word);
    EnterSortable(grouper, tree, 1, phrase);
    AppendLeafSession(grouper, tree, 2, timeText, numId);
  }
  grouper.Close(0);
}

void BuildReferers(Statement& statement, ReportTree& tree, int32_t& step) {
  LevelGrouper grouper(tree, static_cast<int>(kMaxRefererGroupLevels + 1));
  std::string url, group, timeText;
  while ((step = statement.MoveNext()) == kResultOk) {
    int32_t numId = ColumnInt(statement, 1);
    timeText = ColumnText(statement, 2);
    url = ColumnText(statement, 7);
    group = ColumnText(statement, 8);
    size_t level = 0;
    std::string_view rest = group;
    // Up to 4 pieces cut at "/"; a group without "/" is one piece.
    while (level < kMaxRefererGroupLevels) {
      size_t slash = rest.find('/');
      EnterSortable(grouper, tree, level++, rest.substr(0, slash));
      if (slash == std::string_view::npos) break;
      rest.remove_prefix(slash + 1);
    }
    EnterSortable(grouper, tree, level++, url);
    AppendLeafSession(grouper, tree, level, timeText, numId);
  }
  grouper.Close(0);
}

void BuildPages(Statement& statement, ReportTree& tree, int32_t& step) {
  LevelGrouper grouper(tree, 1);
  std::string page, timeText;
  while ((step = statement.MoveNext()) == kResultOk) {
    int32_t numId = ColumnInt(statement, 1);
    timeText = ColumnText(statement, 2);
    page = ColumnText(statement, 7);
    for (char& c : page)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    EnterSortable(grouper, tree, 0, page);
    AppendLeafSession(grouper, tree, 1, timeText, numId);
  }
  grouper.Close(0);
}

}  // namespace

const SessionViewInfo& ViewInfo(SessionViewKind kind) { return kViews[static_cast<int>(kind)]; }

std::string BuildViewQuery(SessionViewKind kind, const ReportFilter& filter, std::time_t now) {
  const SessionViewInfo& info = ViewInfo(kind);
  std::string query = info.baseQuery;
  if (filter.applyFilter) query += BuildSessionConditions(filter, now);
  query += info.orderBy;
  return query;
}

namespace {

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

}  // namespace

std::vector<std::string> DomainLabels(std::string_view reversedUrl) {
  std::vector<std::string_view> pieces;
  size_t i = 0;
  while (i < reversedUrl.size() && pieces.size() < kMaxDomainLevels) {
    while (i < reversedUrl.size() && reversedUrl[i] == '.') ++i;
    size_t start = i;
    while (i < reversedUrl.size() && reversedUrl[i] != '.') ++i;
    if (i > start) pieces.push_back(reversedUrl.substr(start, i - start));
  }
  if (pieces.empty()) pieces.push_back(reversedUrl);  // "" or dots only: one label
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

std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

bool IsWeekendDay(std::time_t localTime) {
  std::tm local{};
  if (!localtime_r(&localTime, &local)) return false;
  return local.tm_wday == 0 || local.tm_wday == 6;
}

ReportTree BuildSessionReport(SessionViewKind kind, DbSession& session, const ReportFilter& filter,
                              std::time_t now) {
  ReportTree tree;
  if (kind == SessionViewKind::kVisits) AppCountryNames().Load(session);
  std::string query = BuildViewQuery(kind, filter, now);
  Statement statement;
  if (Failed(statement.Execute(session, query))) {
    WriteTrace(query);
    return tree;
  }
  int32_t step = kResultFalse;
  switch (kind) {
    case SessionViewKind::kVisits: BuildVisits(statement, tree, step); break;
    case SessionViewKind::kDomain: BuildDomain(statement, tree, step); break;
    case SessionViewKind::kKeyword: BuildKeywords(statement, tree, step); break;
    case SessionViewKind::kReferer: BuildReferers(statement, tree, step); break;
    case SessionViewKind::kPage: BuildPages(statement, tree, step); break;
  }
  // A failure while stepping ends the rows early; say which query it was.
  if (Failed(step)) WriteTrace(query);
  return tree;
}

// ------------------------------------------------------------------ views

std::shared_ptr<ReportTree> ReportView::Tree() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_;
}

void ReportView::SetRefreshedCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  refreshed_ = std::move(callback);
}

void ReportView::Publish(std::shared_ptr<ReportTree> tree, bool loading) {
  std::lock_guard<std::mutex> lock(mutex_);
  tree_ = std::move(tree);
  loading_.store(loading);
}

void ReportView::NotifyRefreshed() {
  std::function<void()> callback;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callback = refreshed_;
  }
  if (callback) callback();
}

void SessionReportView::ResetView() {
  auto tree = std::make_shared<ReportTree>();
  tree->AppendRow(kRootRow, kLoadingText, kImageLeaf);
  Publish(std::move(tree), true);
}

void SessionReportView::RefreshView() {
  loading_.store(true);
  auto tree = std::make_shared<ReportTree>();
  LogDataSource& source = LogDataSource::Obtain();
  DbSession session;
  if (source.IsOpen() && !Failed(session.Open(source)))
    *tree = BuildSessionReport(kind_, session, CopyReportFilter(), std::time(nullptr));
  session.Close();
  Publish(std::move(tree), false);
  NotifyRefreshed();
}

void RefreshAllWorker(const std::vector<ReportView*>& views) {
  for (ReportView* view : views)
    if (view) view->RefreshView();
}

}  // namespace weavil

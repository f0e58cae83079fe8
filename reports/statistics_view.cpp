#include "reports/statistics_view.h"

#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

#include "reports/report_sessions.h"
#include "reports/statistics_rows.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"

namespace weavil {

const std::vector<StatisticsSection>& StatisticsSections() {
  // SQLite forms of the Jet texts: "||" joins texts, and the averages divide as floating
  // point (Jet's "/" always does). Labels built from page paths group without regard to
  // case, as Jet groups texts.
  static const std::vector<StatisticsSection> sections = {
      {"Browsers", 1, '/', "Select count(a.SessionId), b.Browser from SessionBrowserOS a, Browser b",
       " where a.BrowserId=b.BrowserId", " group by b.Browser order by b.Browser;"},
      {"OS", 1, ' ', "Select count(a.SessionId), b.OS from SessionBrowserOS a, OS b", " where a.OSId=b.OSId",
       " group by b.OS order by b.OS;"},
      {"Time distribution", 0, 0, nullptr, nullptr, nullptr},
      {"Hours", 2, ' ',
       "SELECT 1.0*Count(a.SessionId)/(1+DateDiff('d', Min(a.TimeEnter), Max(a.TimeEnter))), "
       "Format(a.TimeEnter,'hh') from [Session] a",
       " where 1=1", " group by Format(a.TimeEnter,'hh');"},
      {"Days of week", 2, '/',
       "SELECT 1.0*Count(a.SessionId)/(1+DateDiff('ww',Min(a.TimeEnter),Max(a.TimeEnter))), "
       "Format(a.TimeEnter,'w') || ' - ' || Format(a.TimeEnter,'dddd') FROM [Session] a",
       " where 1=1", " group by Format(a.TimeEnter,'w') || ' - ' || Format(a.TimeEnter,'dddd');"},
      {"Days of month", 2, ' ',
       "SELECT 1.0*Count(a.SessionId)/(1+DateDiff('m',Min(a.TimeEnter),Max(a.TimeEnter))), "
       "Format(a.TimeEnter,'dd') FROM [Session] a",
       " where 1=1", " group by Format(a.TimeEnter,'dd');"},
      {"Countries", 0, 0, nullptr, nullptr, nullptr},
      {"Sessions", 2, '/',
       "Select count(a.SessionId), b.Code||' - '||b.Name from [Session] a, DNSLookUp aa, Countries b",
       " where a.UserIP=aa.UserIP and aa.CountryCode=b.Code", " group by b.Code||' - '||b.Name ;"},
      {"Pages", 0, 0, nullptr, nullptr, nullptr},
      {"Entry", 2, '/',
       "SELECT count(aa.UriStem) AS hits, aa.UriStem FROM [Session] a, Resource AS aa, FirstSessionResource AS b",
       " where a.SessionId=aa.SessionId and aa.ResourceId=b.['ResourceId']", " group by aa.UriStem;"},
      {"Exit", 2, '/',
       "SELECT count(aa.UriStem) AS hits, aa.UriStem FROM [Session] a, Resource AS aa, LastSessionResource AS b",
       " where a.SessionId=aa.SessionId and aa.ResourceId=b.['ResourceId']", " group by aa.UriStem;"},
      {"All", 2, '/', "SELECT count(aa.UriStem) AS hits, aa.UriStem FROM [Session] a, Resource AS aa",
       " where a.SessionId=aa.SessionId", " group by aa.UriStem;"},
      {"Status codes", 1, '+',
       "SELECT count(aa.ResourceId), Str(aa.StatusCode)||'+'||aa.UriStem FROM [Session] a, Resource AS aa",
       " where a.SessionId=aa.SessionId",
       " group by Str(aa.StatusCode)||'+'||aa.UriStem COLLATE NOCASE order by Str(aa.StatusCode)||'+'||aa.UriStem "
       "COLLATE NOCASE;"},
  };
  return sections;
}

std::string FormatStatValue(double sum) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.1lf", sum);
  std::string text = buffer;
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

StatisticsBuilder::StatisticsBuilder(ReportTree& tree) : levels_(tree, kStatisticsDepths - 1, FormatStatValue) {}

RowId StatisticsBuilder::AddGroupRow(std::string_view title) {
  return levels_.Open(0, title, kImageGroup, false);
}

RowId StatisticsBuilder::AddSectionRow(std::string_view title, int level) {
  if (level < 1) level = 1;
  if (level >= kStatisticsDepths) level = kStatisticsDepths - 1;
  return levels_.Open(static_cast<size_t>(level - 1), title, kImageGroup, false);
}

void StatisticsBuilder::AddStatisticsRow(int firstDepth, double value, std::string_view label, char separator) {
  if (firstDepth < 1 || firstDepth >= kStatisticsDepths) return;
  std::vector<std::string_view> pieces =
      SplitLabel(label, separator, static_cast<size_t>(kStatisticsDepths - firstDepth));
  size_t first = static_cast<size_t>(firstDepth - 1);
  for (size_t p = 0; p < pieces.size(); ++p) {
    if (levels_.IsOpen(first + p, pieces[p])) continue;
    RowId row = levels_.Open(first + p, pieces[p], p + 1 == pieces.size() ? kImageLeaf : kImageGroup);
    levels_.Tree().SetItemParam(row, row);
  }
  levels_.Count(first, first + pieces.size(), value);
  levels_.Close(first + pieces.size());
}

void StatisticsBuilder::CloseStatisticsLevels(int depth) { levels_.Close(depth <= 1 ? 0 : static_cast<size_t>(depth - 1)); }

namespace {

// The rows one section's query gave, kept until the tree is built in section order.
struct SectionRows {
  std::vector<std::pair<double, std::string>> rows;
  bool failed = false;
  std::string error;  // SQLite's text, for the trace
};

void RunSection(DbSession& session, const std::string& query, SectionRows& out) {
  Statement statement;
  if (Failed(statement.Execute(session, query))) {
    out.failed = true;
    out.error = statement.Error().Describe();
    return;
  }
  int32_t step;
  while ((step = statement.MoveNext()) == kResultOk) {
    auto [value, label] = statement.Row<double, std::string>();  // a null label counts as the empty one
    out.rows.emplace_back(value, std::move(label));
  }
  if (Failed(step)) {
    out.failed = true;
    out.error = statement.Error().Describe();
  }
}

// Runs the statements of the sections listed, on this connection and a second one
// on the same database, so both cores share the work.
void RunSections(DbSession& session, const std::vector<size_t>& listed, const std::vector<std::string>& queries,
                 std::vector<SectionRows>& results) {
  std::atomic<size_t> next{0};
  auto work = [&](DbSession& db) {
    for (size_t k; (k = next.fetch_add(1)) < listed.size();) RunSection(db, queries[listed[k]], results[listed[k]]);
  };
  DbSession helperSession;
  std::thread helper;
  std::string file = session.FilePath();
  // A second connection sees committed rows only: none while this one holds a transaction.
  if (listed.size() > 1 && !file.empty() && !session.InTransaction() && Succeeded(helperSession.OpenFile(file)))
    helper = std::thread([&] { work(helperSession); });
  work(session);
  if (helper.joinable()) helper.join();
}

}  // namespace

ReportTree BuildStatisticsReport(DbSession& session, const ReportFilter& filter, std::time_t now,
                                 ReportRows rows) {
  const std::vector<StatisticsSection>& sections = StatisticsSections();
  std::vector<std::string> queries(sections.size());
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].level != 0)
      queries[i] = BuildStatisticsQuery(filter, now, sections[i].head, sections[i].wherePart, sections[i].tail);
  }

  // The rows of the sections come from one read of each table in memory; the sections
  // that read cannot give (all of them, when it fails) run their own statements. The
  // tree is built in section order below, so the result does not depend on who ran what.
  std::vector<SectionRows> results(sections.size());
  StatisticsSectionRows inMemory;
  bool read = false;
  if (rows == ReportRows::kInMemory) {
    ScanConnection scanning(session);
    read = ComputeStatisticsRows(session, filter, now, inMemory);
  }
  std::vector<size_t> statements;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].level == 0) continue;
    std::optional<StatisticsRows>* computed = read ? inMemory.Section(sections[i].title) : nullptr;
    if (computed && *computed) results[i].rows = std::move(**computed);
    else statements.push_back(i);
  }
  RunSections(session, statements, queries, results);

  ReportTree tree;
  StatisticsBuilder builder(tree);
  for (size_t i = 0; i < sections.size(); ++i) {
    const StatisticsSection& section = sections[i];
    if (section.level == 0) {
      builder.AddGroupRow(section.title);
      continue;
    }
    builder.AddSectionRow(section.title, section.level);
    for (const auto& [value, label] : results[i].rows)
      builder.AddStatisticsRow(section.level + 1, value, label, section.separator);
    if (results[i].failed) {
      WriteTrace(queries[i]);
      WriteTrace(results[i].error);
    }
    builder.CloseStatisticsLevels(section.level + 1);
  }
  return tree;
}

// ------------------------------------------------------------------ view

StatisticsView::~StatisticsView() { WaitForRefresh(); }

void StatisticsView::ResetView() { Publish(std::make_shared<ReportTree>(), true); }

void StatisticsView::RefreshView() {
  if (running_.exchange(true)) return;  // one refresh at a time; this request is dropped
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (worker_.joinable()) worker_.join();  // the previous refresh has ended its work
  worker_ = std::thread([this] { Refresh(); });
}

void StatisticsView::WaitForRefresh() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (worker_.joinable()) worker_.join();
}

void StatisticsView::Refresh() {
  loading_.store(true);
  auto tree = std::make_shared<ReportTree>();
  try {
    DbSession session;
    if (!Failed(OpenSourceSession(session)))
      *tree = BuildStatisticsReport(session, CopyReportFilter(), std::time(nullptr));
  } catch (...) {
    // Out of memory: the view ends empty, and the flag must still fall so the next
    // request can refresh.
    tree = std::make_shared<ReportTree>();
  }
  Publish(std::move(tree), false);
  running_.store(false);
  NotifyRefreshed();
}

}  // namespace weavil

// What the five session views share: the view table, the query with the filter's
// conditions, the run of a view's query into its tree, the group rows, and the view
// object the window holds.
#include "reports/session_views.h"

#include "reports/country_names.h"
#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"

namespace weavil {

namespace {

// In the order of SessionViewKind.
const SessionViewDef* const kViews[] = {&kSessionsView, &kVisitorsView, &kKeywordsView, &kReferersView,
                                        &kPagesView};

const SessionViewDef& ViewDef(SessionViewKind kind) { return *kViews[static_cast<int>(kind)]; }

std::string CountText(int32_t count) { return std::to_string(count); }

void BuildLeafRows(const SessionViewDef& view, Statement& statement, SessionGroups& groups, int32_t& step) {
  while ((step = statement.MoveNext()) == kResultOk) {
    size_t depth = view.enterGroups(statement, groups);
    RowId row = groups.AppendSession(depth, statement.Get<std::string>(view.timeColumn), kImageLeaf);
    groups.Tree().SetKey(row, statement.Get<int32_t>(view.numIdColumn));
  }
}

}  // namespace

SessionGroups::SessionGroups(ReportTree& tree, int levels)
    : GroupLevels<int32_t>(tree, static_cast<size_t>(levels), CountText) {}

RowId SessionGroups::Enter(size_t level, std::string_view label, bool& opened) {
  opened = !IsOpen(level, label);
  return opened ? Open(level, label, kImageGroup) : Row(level);
}

RowId SessionGroups::EnterSortable(size_t level, std::string_view label) {
  bool opened;
  RowId row = Enter(level, label, opened);
  if (opened) Tree().SetItemParam(row, row);
  return row;
}

RowId SessionGroups::AppendSession(size_t depth, std::string_view text, int32_t image) {
  RowId row = Tree().AppendRow(depth == 0 ? kRootRow : Row(depth - 1), text, image);
  Count(0, depth, 1);
  return row;
}

const SessionViewInfo& ViewInfo(SessionViewKind kind) { return ViewDef(kind).info; }

std::string BuildViewQuery(SessionViewKind kind, const ReportFilter& filter, std::time_t now) {
  const SessionViewInfo& info = ViewInfo(kind);
  std::string query = info.baseQuery;
  if (filter.applyFilter) query += BuildSessionConditions(filter, now);
  query += info.orderBy;
  return query;
}

ReportTree BuildSessionReport(SessionViewKind kind, DbSession& session, const ReportFilter& filter,
                              std::time_t now, ReportRows rows) {
  ReportTree tree;
  if (kind == SessionViewKind::kVisits) AppCountryNames().Load(session);
  const SessionViewDef& view = ViewDef(kind);
  if (view.buildInMemory && rows == ReportRows::kInMemory && !PeriodIsNarrow(session, filter, now)) {
    SessionGroups groups(tree, view.info.levels);
    ScanConnection scanning(session);
    if (view.buildInMemory(session, filter, now, groups)) {
      groups.Close(0);
      return tree;
    }
  }
  std::string query = BuildViewQuery(kind, filter, now);
  Statement statement;
  if (Failed(statement.Execute(session, query))) {
    WriteTrace(query);
    WriteTrace(statement.Error().Describe());
    return tree;
  }
  SessionGroups groups(tree, view.info.levels);
  int32_t step = kResultFalse;
  if (view.buildRows)
    view.buildRows(statement, groups, step);
  else
    BuildLeafRows(view, statement, groups, step);
  groups.Close(0);
  // A failure while stepping ends the rows early; say which query it was.
  if (Failed(step)) {
    WriteTrace(query);
    WriteTrace(statement.Error().Describe());
  }
  return tree;
}

void SessionReportView::ResetView() {
  auto tree = std::make_shared<ReportTree>();
  tree->AppendRow(kRootRow, kLoadingText, kImageLeaf);
  Publish(std::move(tree), true);
}

void SessionReportView::RefreshView() {
  loading_.store(true);
  auto tree = std::make_shared<ReportTree>();
  DbSession session;
  if (!Failed(OpenSourceSession(session)))
    *tree = BuildSessionReport(kind_, session, CopyReportFilter(), std::time(nullptr));
  session.Close();
  Publish(std::move(tree), false);
  NotifyRefreshed();
}

}  // namespace weavil

#pragma once
// The static HTML report: one self-contained page (no scripts, no fetched files) with
// the time span, the filter in force, the six report trees as collapsible lists (the
// first level open) and their charts as inline SVG. The charts themselves are drawn by
// the caller, which owns the chart controls; this part chooses them and writes the page.
#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

#include "reports/chart_export.h"
#include "reports/report_filter.h"
#include "reports/report_tree.h"

namespace weavil {

class DbSession;

// At most this many items in one chart: larger lists keep their largest counts.
inline constexpr int kHtmlChartItems = 30;
// At most this many month charts in the Sessions section (the latest ones).
inline constexpr int kHtmlMonthCharts = 24;

struct HtmlChart {
  std::string title;     // the figure's caption
  SelectionChart chart;  // what the control gets: pane (kind), caption, filter type, document
};

// The charts of one report: for the Sessions view the months of every year and the days
// of the latest months, for the other four session views their first level, for the
// statistics every section with rows below it.
std::vector<HtmlChart> ChooseHtmlCharts(const ReportTree& tree, bool sessionsView, bool statistics);

// The filter in words: "none", or its parts joined by "; " (the period with the moment
// it starts, robots left out, the four lists).
std::string DescribeFilter(const ReportFilter& filter, std::time_t now);

// The first and last session start and the number of sessions the filter lets through,
// as "2008-03-01 00:05 to 2008-03-31 23:40, 1204 sessions" ("no sessions" when none).
std::string DescribeTimeSpan(DbSession& session, const ReportFilter& filter, std::time_t now);

struct HtmlSection {
  std::string title;  // the tab's name: "Sessions", ..., "Statistics"
  std::string caption;
  const ReportTree* tree = nullptr;
  std::vector<std::string> charts;  // inline <svg> elements
  std::vector<std::string> chartTitles;
};

struct HtmlReportPage {
  std::string timeSpan;
  std::string filter;
  std::string made;  // when and by what
  std::vector<HtmlSection> sections;
};

void WriteHtmlReport(std::ostream& out, const HtmlReportPage& page);

}  // namespace weavil

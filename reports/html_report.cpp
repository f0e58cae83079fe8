#include "reports/html_report.h"

#include <algorithm>
#include <ostream>

#include "reports/html_page.h"
#include "reports/report_output.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

double CountOf(const ReportTree& tree, RowId row) {
  std::optional<std::string> number = CountNumber(tree.Text(row, 1));
  return number ? std::stod(*number) : 0;
}

// A labelled-values document of parent's children (the root's for kRootRow); a long
// list keeps its largest counts, largest first.
std::string ItemsDocument(const ReportTree& tree, RowId parent, int32_t* shown, int32_t* total) {
  std::vector<RowId> rows;
  for (RowId c = tree.FirstChild(parent); c != kNoRow; c = tree.NextSibling(c)) rows.push_back(c);
  *total = static_cast<int32_t>(rows.size());
  if (rows.size() > static_cast<size_t>(kHtmlChartItems)) {
    std::stable_sort(rows.begin(), rows.end(), [&](RowId a, RowId b) { return CountOf(tree, a) > CountOf(tree, b); });
    rows.resize(kHtmlChartItems);
  }
  *shown = static_cast<int32_t>(rows.size());
  std::string out = "<VYR_CHART_DATA>";
  for (RowId c : rows) {
    out += "<ITM LBL='";
    out += EscapeChartLabel(tree.Text(c, 0));
    out += "'>";
    out += ChartValueText(tree.Text(c, 1));
    out += "</ITM>";
  }
  out += "</VYR_CHART_DATA>";
  return out;
}

HtmlChart ItemsChart(const ReportTree& tree, RowId parent, const std::string& title) {
  HtmlChart chart;
  int32_t shown = 0, total = 0;
  chart.chart.pane = RightPane::kItemsChart;
  chart.chart.caption = "Data chart";
  chart.chart.document = ItemsDocument(tree, parent, &shown, &total);
  chart.chart.setData = true;
  chart.title = title;
  if (shown < total) chart.title += " (the " + std::to_string(shown) + " largest of " + std::to_string(total) + ")";
  return chart;
}

bool HasSortableChild(const ReportTree& tree, RowId row) {
  for (RowId c = tree.FirstChild(row); c != kNoRow; c = tree.NextSibling(c))
    if (tree.ItemParam(c) != 0) return true;
  return false;
}

void WriteRows(std::ostream& out, const ReportTree& tree, RowId parent) {
  out << "<ul>";
  for (RowId row = tree.FirstChild(parent); row != kNoRow; row = tree.NextSibling(row)) {
    const char* state = tree.State(row) == kStateGrey ? " class=\"g\"" : tree.State(row) == kStateRed ? " class=\"r\"" : "";
    std::string label = "<span class=\"t\">" + EscapeHtml(tree.Text(row, 0)) + "</span><span class=\"n\">" +
                        EscapeHtml(tree.Text(row, 1)) + "</span>";
    if (tree.HasChildren(row)) {
      out << "<li" << state << "><details" << (tree.Depth(row) == 0 ? " open" : "") << "><summary>" << label
          << "</summary>";
      WriteRows(out, tree, row);
      out << "</details></li>";
    } else {
      out << "<li" << state << "><div class=\"leaf\">" << label << "</div></li>";
    }
  }
  out << "</ul>\n";
}

std::string SectionId(const std::string& title) {
  std::string id;
  for (char c : title) id += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return id;
}

constexpr const char* kStyle =
    "body{font-family:'DejaVu Sans',Verdana,Arial,sans-serif;font-size:14px;margin:16px 24px;color:#202020;"
    "background:#ffffff}"
    "h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:28px 0 8px;padding:4px 8px;background:#008080;"
    "color:#ffffff}"
    "table.facts{border-collapse:collapse;margin-bottom:8px}table.facts th{text-align:left;padding:2px 12px 2px 0}"
    "nav a{margin-right:12px}"
    ".charts{display:flex;flex-wrap:wrap;gap:12px}figure{margin:0}figcaption{font-size:12px;color:#505050}"
    "ul{list-style:none;margin:0;padding-left:18px}section>ul{padding-left:0}"
    "summary,.leaf{display:flex;max-width:760px}summary{cursor:pointer;list-style:none}"
    "summary::-webkit-details-marker{display:none}summary::before{content:'\\25B8';width:14px;flex:none}"
    "details[open]>summary::before{content:'\\25BE'}"
    ".leaf{padding-left:14px}.t{flex:1;overflow-wrap:anywhere}.n{min-width:70px;text-align:right;"
    "padding-left:12px;font-variant-numeric:tabular-nums}"
    ".g>details>summary,.g>.leaf{color:#808080}.r>details>summary,.r>.leaf{color:#ff0000}"
    "@media print{details{display:block}}";

}  // namespace

std::vector<HtmlChart> ChooseHtmlCharts(const ReportTree& tree, bool sessionsView, bool statistics) {
  std::vector<HtmlChart> charts;
  if (sessionsView) {
    std::vector<RowId> months;
    for (RowId year = tree.FirstChild(kRootRow); year != kNoRow; year = tree.NextSibling(year)) {
      HtmlChart chart{std::string(tree.Text(year, 0)), ShowSelectionChart(&tree, year, tree.Key(year))};
      charts.push_back(std::move(chart));
      for (RowId month = tree.FirstChild(year); month != kNoRow; month = tree.NextSibling(month)) months.push_back(month);
    }
    size_t first = months.size() > static_cast<size_t>(kHtmlMonthCharts) ? months.size() - kHtmlMonthCharts : 0;
    for (size_t i = first; i < months.size(); ++i)
      charts.push_back({std::string(tree.Text(months[i], 0)), ShowSelectionChart(&tree, months[i], tree.Key(months[i]))});
    return charts;
  }
  if (!statistics) {
    if (tree.HasChildren(kRootRow)) charts.push_back(ItemsChart(tree, kRootRow, "First level"));
    return charts;
  }
  // Statistics: the section rows are the children of the root rows, or root rows
  // themselves when they hold result rows.
  for (RowId top = tree.FirstChild(kRootRow); top != kNoRow; top = tree.NextSibling(top)) {
    if (HasSortableChild(tree, top)) {
      charts.push_back(ItemsChart(tree, top, std::string(tree.Text(top, 0))));
      continue;
    }
    for (RowId section = tree.FirstChild(top); section != kNoRow; section = tree.NextSibling(section))
      if (HasSortableChild(tree, section))
        charts.push_back(ItemsChart(tree, section, std::string(tree.Text(top, 0)) + ": " + std::string(tree.Text(section, 0))));
  }
  return charts;
}

std::string DescribeFilter(const ReportFilter& filter, std::time_t now) {
  if (!filter.applyFilter) return "none";
  std::vector<std::string> parts;
  if (filter.isPeriod) {
    std::optional<std::tm> start = PeriodStart(filter.period, now);
    parts.push_back("period " + filter.period + (start ? " (since " + FormatPeriodStart(*start) + ")" : ""));
  }
  if (filter.noRobots) parts.push_back("no robots");
  if (filter.isPages) parts.push_back("pages: " + filter.pages);
  if (filter.isCountries) parts.push_back("countries: " + filter.countries);
  if (filter.isKeywords) parts.push_back("keywords: " + filter.keywords);
  if (filter.isReferers) parts.push_back("referrers: " + filter.referers);
  if (parts.empty()) return "on, with nothing selected";
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

std::string DescribeTimeSpan(DbSession& session, const ReportFilter& filter, std::time_t now) {
  Statement statement;
  std::string query =
      "Select Format(Min(a.TimeEnter),'yyyy-mm-dd hh:nn'), Format(Max(a.TimeEnter),'yyyy-mm-dd hh:nn'), "
      "Count(a.NumId) FROM [Session] a, DNSLookUp b WHERE a.UserIP=b.UserIP " +
      BuildSessionConditions(filter, now) + ";";
  if (Failed(statement.Execute(session, query)) || statement.MoveNext() != kResultOk) return "unknown";
  int32_t count = 0;
  std::string first, last;
  statement.GetInt(3, count);
  if (count <= 0 || !statement.GetText(1, first) || !statement.GetText(2, last)) return "no sessions";
  return first + " to " + last + ", " + std::to_string(count) + (count == 1 ? " session" : " sessions");
}

void WriteHtmlReport(std::ostream& out, const HtmlReportPage& page) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>Weavil report</title>\n<style>"
      << kStyle << "</style>\n</head>\n<body>\n<h1>Weavil report</h1>\n<table class=\"facts\">"
      << "<tr><th>Time span</th><td>" << EscapeHtml(page.timeSpan) << "</td></tr>"
      << "<tr><th>Filter</th><td>" << EscapeHtml(page.filter) << "</td></tr>"
      << "<tr><th>Made</th><td>" << EscapeHtml(page.made) << "</td></tr></table>\n<nav>";
  for (const HtmlSection& section : page.sections)
    out << "<a href=\"#" << SectionId(section.title) << "\">" << EscapeHtml(section.title) << "</a>";
  out << "</nav>\n";
  for (const HtmlSection& section : page.sections) {
    out << "<section id=\"" << SectionId(section.title) << "\">\n<h2>" << EscapeHtml(section.title) << "</h2>\n";
    if (!section.charts.empty()) {
      out << "<div class=\"charts\">";
      for (size_t i = 0; i < section.charts.size(); ++i) {
        out << "<figure>" << section.charts[i];
        if (i < section.chartTitles.size()) out << "<figcaption>" << EscapeHtml(section.chartTitles[i]) << "</figcaption>";
        out << "</figure>\n";
      }
      out << "</div>\n";
    }
    if (section.tree && section.tree->HasChildren(kRootRow)) {
      out << "<p class=\"head\"><b>" << EscapeHtml(section.caption) << "</b> &#8212; Count</p>\n";
      WriteRows(out, *section.tree, kRootRow);
    } else {
      out << "<p>No rows.</p>\n";
    }
    out << "</section>\n";
  }
  out << "</body>\n</html>\n";
}

}  // namespace weavil

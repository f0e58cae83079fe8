#include "reports/chart_export.h"

#include "reports/session_views.h"

namespace weavil {

std::string EscapeChartLabel(std::string_view label) {
  // A bare "<" or a control character makes the whole document ill-formed and the chart
  // empty, so labels from logs ("linux <script>") are written as references too. Tab,
  // line feed and carriage return keep their codes; the other controls have none in
  // XML and show as the replacement character.
  std::string out;
  out.reserve(label.size());
  for (char c : label) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\'') out += '"';
    else if (c == '&') out += "&#x0026;";
    else if (c == '<') out += "&#x003C;";
    else if (c == '\t') out += "&#x0009;";
    else if (c == '\n') out += "&#x000A;";
    else if (c == '\r') out += "&#x000D;";
    else if (byte < 0x20) out += "&#xFFFD;";
    else out += c;
  }
  return out;
}

std::string WriteTimeSeriesDocument(const ReportTree& tree, RowId row) {
  std::string out = "<VYR_CHART_DATA>";
  if (tree.IsRow(row)) {
    int32_t depth = tree.Depth(row);
    for (RowId child = tree.FirstChild(row); child != kNoRow; child = tree.NextSibling(child)) {
      int64_t time = depth >= 2 ? tree.ItemParam(child) : -static_cast<int64_t>(tree.Key(child));
      out += "<ITM TM='";
      out += std::to_string(time);
      if (depth == 1 && IsWeekendDay(static_cast<std::time_t>(time))) out += "' ALT='1";
      out += "'>";
      if (depth >= 2) out += '1';
      else out += tree.Text(child, 1);
      out += "</ITM>";
    }
  }
  out += "</VYR_CHART_DATA>";
  return out;
}

// The statistics write their counts with one decimal after a comma ("12,5"). The chart
// reads whole numbers only and would refuse the whole document, leaving every
// statistics chart empty; such a count goes to the chart rounded to a whole number.
std::string ChartValueText(std::string_view text) {
  size_t comma = text.find(',');
  if (comma == std::string_view::npos) return std::string(text);
  std::string_view whole = text.substr(0, comma), fraction = text.substr(comma + 1);
  size_t start = 0;
  while (start < whole.size() && whole[start] == ' ') ++start;
  bool negative = start < whole.size() && whole[start] == '-';
  if (negative || (start < whole.size() && whole[start] == '+')) ++start;
  auto digits = [](std::string_view part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(whole.substr(start)) || !digits(fraction) || whole.size() - start > 9) return std::string(text);
  long long value = std::stoll(std::string(whole.substr(start)));
  if (fraction[0] >= '5') ++value;
  return std::to_string(negative ? -value : value);
}

std::string WriteItemsDocument(const ReportTree& tree, RowId row, bool* anySortable, int32_t* children) {
  std::string out = "<VYR_CHART_DATA>";
  bool sortable = false;
  int32_t count = 0;
  if (tree.IsRow(row)) {
    for (RowId child = tree.FirstChild(row); child != kNoRow; child = tree.NextSibling(child)) {
      out += "<ITM LBL='";
      out += EscapeChartLabel(tree.Text(child, 0));
      out += "'>";
      out += ChartValueText(tree.Text(child, 1));
      out += "</ITM>";
      if (tree.ItemParam(child) != 0) sortable = true;
      ++count;
    }
  }
  out += "</VYR_CHART_DATA>";
  if (anySortable) *anySortable = sortable;
  if (children) *children = count;
  return out;
}

SelectionChart ShowSelectionChart(const ReportTree* tree, RowId row, int32_t key) {
  SelectionChart chart;
  bool haveRow = tree && tree->IsRow(row);
  if (key < 0) {
    chart.pane = RightPane::kTimeSeries;
    chart.caption = "Sessions";
    chart.regularGrid = true;
    if (haveRow) {
      chart.filterType = 2 - tree->Depth(row);
      chart.document = WriteTimeSeriesDocument(*tree, row);
      chart.setData = true;
    }
    return chart;
  }
  if (key > 0) {
    chart.pane = RightPane::kDetails;
    chart.numId = key;
    chart.enableVisitor = true;
    return chart;
  }
  if (!haveRow) return chart;  // the start page
  bool sortable = false;
  int32_t children = 0;
  std::string document = WriteItemsDocument(*tree, row, &sortable, &children);
  if (!sortable) return chart;  // only sessions (or nothing) below: the start page
  chart.pane = RightPane::kItemsChart;
  chart.caption = "Data chart";
  chart.document = std::move(document);
  chart.setData = children > 0;
  return chart;
}

}  // namespace weavil

#pragma once
// The program's side of the charts: which pane the right-hand side shows for the
// selected report row, and the chart data documents written from the report tree.
// Pure functions: the shell applies the decision to its widgets and controls.
#include <cstdint>
#include <string>
#include <string_view>

#include "reports/report_tree.h"

namespace weavil {

enum class RightPane { kStartPage, kTimeSeries, kItemsChart, kDetails };

struct SelectionChart {
  RightPane pane = RightPane::kStartPage;
  bool enableVisitor = false;  // the "Visitor..." command (32778)
  std::string caption;         // "Sessions" or "Data chart"
  int32_t filterType = 0;      // time series: 2 - depth (0 monthly, 1 daily, 2 hourly)
  bool regularGrid = false;    // time series: gaps for empty buckets
  bool setData = false;        // hand document to the chart
  std::string document;
  int32_t numId = 0;  // details: the session to show
};

// The right pane for a selected row and its key: a group row of the Sessions view
// (negative key) gives the time series of its children, a session row (positive key)
// the visit details, any other row the chart of its children (or the start page when
// it has none or only session rows below it). No tree or no row: the start page.
SelectionChart ShowSelectionChart(const ReportTree* tree, RowId row, int32_t key);

// Time flavour: one item per child; days below a month are marked ALT on the days the
// Sessions view shows in red.
std::string WriteTimeSeriesDocument(const ReportTree& tree, RowId row);

// Label flavour: one item per child with its caption and count. Tells whether any child
// is sortable (a group or result row) and how many children there are.
// A "Count" text as the chart gets it: a count with a decimal comma ("12,5") rounded
// to a whole number ("13"); any other text unchanged.
std::string ChartValueText(std::string_view text);

std::string WriteItemsDocument(const ReportTree& tree, RowId row, bool* anySortable = nullptr,
                               int32_t* children = nullptr);

// The label as the chart document carries it inside single quotes: each ' becomes ",
// each & becomes &#x0026; and each < &#x003C;; control characters are written as
// references, so no label makes the document ill-formed.
std::string EscapeChartLabel(std::string_view label);

}  // namespace weavil

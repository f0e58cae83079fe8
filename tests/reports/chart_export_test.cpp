// Chart documents written from report trees and the choice of the right-hand pane.
#include <gtest/gtest.h>

#include <QString>

#include "charts/chart_data.h"
#include "reports/chart_export.h"
#include "reports/session_views.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::AddSortableGroup;
using test::LocalTime;
using test::ReportDb;
using test::ScopedTimeZone;

class ChartExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddVisitor("10.0.0.1");
    db_.AddSession("10.0.0.1", "2004-01-20 10:00:00");
    db_.AddSession("10.0.0.1", "2004-03-05 09:15:00");
    db_.AddSession("10.0.0.1", "2004-03-06 10:00:00");
    db_.AddSession("10.0.0.1", "2004-03-06 10:40:00");
    db_.AddSession("10.0.0.1", "2004-03-08 23:59:00");
    tree_ = BuildSessionReport(SessionViewKind::kVisits, db_.Session(), ReportFilter(), 0);
  }

  ScopedTimeZone zone_{"EST5EDT,M4.1.0,M10.5.0"};
  ReportDb db_;
  ReportTree tree_;
};

TEST_F(ChartExportTest, YearShowsItsMonthsWithTheirCounts) {
  RowId year = tree_.FindPath("2004|");
  SelectionChart chart = ShowSelectionChart(&tree_, year, tree_.Key(year));
  EXPECT_EQ(chart.pane, RightPane::kTimeSeries);
  EXPECT_EQ(chart.caption, "Sessions");
  EXPECT_TRUE(chart.regularGrid);
  EXPECT_EQ(chart.filterType, 2);
  EXPECT_FALSE(chart.enableVisitor);
  EXPECT_EQ(chart.document, "<VYR_CHART_DATA><ITM TM='" + std::to_string(LocalTime(2004, 1, 20)) + "'>1</ITM><ITM TM='" +
                                std::to_string(LocalTime(2004, 3, 5)) + "'>4</ITM></VYR_CHART_DATA>");
}

TEST_F(ChartExportTest, MonthMarksTheRedDaysAlternative) {
  RowId month = tree_.FindPath("2004|March 2004|");
  SelectionChart chart = ShowSelectionChart(&tree_, month, tree_.Key(month));
  EXPECT_EQ(chart.filterType, 1);
  EXPECT_EQ(chart.document, "<VYR_CHART_DATA><ITM TM='" + std::to_string(LocalTime(2004, 3, 5)) + "'>1</ITM><ITM TM='" +
                                std::to_string(LocalTime(2004, 3, 6)) + "' ALT='1'>2</ITM><ITM TM='" +
                                std::to_string(LocalTime(2004, 3, 8)) + "'>1</ITM></VYR_CHART_DATA>");
  // Exactly the rows the Sessions view shows red.
  for (RowId day = tree_.FirstChild(month); day != kNoRow; day = tree_.NextSibling(day))
    EXPECT_EQ(tree_.State(day) == kStateRed, IsWeekendDay(-tree_.Key(day))) << tree_.Text(day, 0);
}

TEST_F(ChartExportTest, DayShowsEachSessionOnceAtItsStart) {
  RowId day = tree_.FindPath("2004|March 2004|06 March 2004|");
  SelectionChart chart = ShowSelectionChart(&tree_, day, tree_.Key(day));
  EXPECT_EQ(chart.filterType, 0);
  EXPECT_EQ(chart.document, "<VYR_CHART_DATA><ITM TM='" + std::to_string(LocalTime(2004, 3, 6, 10)) +
                                "'>1</ITM><ITM TM='" + std::to_string(LocalTime(2004, 3, 6, 10, 40)) +
                                "'>1</ITM></VYR_CHART_DATA>");
  RowId session = tree_.FirstChild(day);
  chart = ShowSelectionChart(&tree_, session, tree_.Key(session));
  EXPECT_EQ(chart.pane, RightPane::kDetails);
  EXPECT_EQ(chart.numId, 3);
  EXPECT_TRUE(chart.enableVisitor);
  EXPECT_FALSE(chart.setData);
}

TEST(ItemsChartTest, LabelsAreEscapedAndLeafGroupsShowTheStartPage) {
  EXPECT_EQ(EscapeChartLabel("Tom's & Jerry's"), "Tom\"s &#x0026; Jerry\"s");
  EXPECT_EQ(EscapeChartLabel("a<b"), "a&#x003C;b");

  ReportTree tree;
  RowId word = AddSortableGroup(tree, kRootRow, "log");
  RowId phrase = AddSortableGroup(tree, word, "Tom's & log", "2");
  RowId session = tree.AppendRow(phrase, "2004-03-05 10:00", kImageLeaf);
  tree.SetKey(session, 7);

  SelectionChart chart = ShowSelectionChart(&tree, word, 0);
  EXPECT_EQ(chart.pane, RightPane::kItemsChart);
  EXPECT_EQ(chart.caption, "Data chart");
  EXPECT_TRUE(chart.setData);
  EXPECT_EQ(chart.document, "<VYR_CHART_DATA><ITM LBL='Tom\"s &#x0026; log'>2</ITM></VYR_CHART_DATA>");
  // Only sessions below: the start page.
  EXPECT_EQ(ShowSelectionChart(&tree, phrase, 0).pane, RightPane::kStartPage);
  // No row (views reset): the start page.
  EXPECT_EQ(ShowSelectionChart(nullptr, kNoRow, 0).pane, RightPane::kStartPage);
  EXPECT_EQ(ShowSelectionChart(&tree, kNoRow, 0).pane, RightPane::kStartPage);
  bool sortable = true;
  int32_t children = -1;
  EXPECT_EQ(WriteItemsDocument(tree, session, &sortable, &children), "<VYR_CHART_DATA></VYR_CHART_DATA>");
  EXPECT_FALSE(sortable);
  EXPECT_EQ(children, 0);
}

TEST(ItemsChartTest, LabelsFromLogsNeverEmptyTheChart) {
  // Phrases and pages are whatever clients sent: markup, terminal controls, line breaks.
  const std::string labels[] = {"linux <script>", "a & b", "\x1B]0;title\x07", "two\r\nlines\tx", std::string(1, '\0')};
  ReportTree tree;
  RowId word = AddSortableGroup(tree, kRootRow, "linux");
  for (const std::string& label : labels) AddSortableGroup(tree, word, label, "2");
  SelectionChart chart = ShowSelectionChart(&tree, word, 0);
  plotwell::NonNumericData data;
  ASSERT_EQ(data.TryLoad(QString::fromUtf8(chart.document)), 0) << chart.document;
  ASSERT_EQ(data.Entries(), 5);
  EXPECT_EQ(data.LabelTextAt(0), QStringLiteral("linux <script>"));
  EXPECT_EQ(data.LabelTextAt(1), QStringLiteral("a & b"));
  EXPECT_EQ(data.LabelTextAt(2), QStringLiteral("\uFFFD]0;title\uFFFD"));
  EXPECT_EQ(data.LabelTextAt(3), QStringLiteral("two\r\nlines\tx"));
  EXPECT_EQ(data.ValueAt(4), 2);
}

TEST(ItemsChartTest, StatisticsCountsReachTheChartAsWholeNumbers) {
  EXPECT_EQ(ChartValueText("12,5"), "13");
  EXPECT_EQ(ChartValueText("12,4"), "12");
  EXPECT_EQ(ChartValueText("0,0"), "0");
  EXPECT_EQ(ChartValueText(" 49,0"), "49");
  EXPECT_EQ(ChartValueText("-3,5"), "-4");
  EXPECT_EQ(ChartValueText("17"), "17");
  EXPECT_EQ(ChartValueText("a,b"), "a,b");
  EXPECT_EQ(ChartValueText(","), ",");

  ReportTree tree;
  RowId section = AddSortableGroup(tree, kRootRow, "Browsers");
  AddSortableGroup(tree, section, "Opera", "12,5");
  SelectionChart chart = ShowSelectionChart(&tree, section, 0);
  EXPECT_EQ(chart.document, "<VYR_CHART_DATA><ITM LBL='Opera'>13</ITM></VYR_CHART_DATA>");
}

}  // namespace
}  // namespace weavil

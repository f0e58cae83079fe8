// The statistics tree: label pieces and sums, the sections in order, averages, the
// filter's join, and the view's single running refresh.
#include <gtest/gtest.h>

#include <sstream>

#include "reports/statistics_view.h"
#include "store/database.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::ReportDb;
using test::ScopedTimeZone;

std::vector<std::string> Lines(const ReportTree& tree, RowId parent) {
  std::vector<std::string> lines;
  for (RowId r = tree.FirstChild(parent); r != kNoRow; r = tree.NextInOrder(r)) {
    RowId p = r;
    bool inside = false;
    for (; p != kRootRow; p = tree.Parent(p))
      if (p == parent) inside = true;
    if (parent != kRootRow && !inside) break;
    lines.push_back(std::string(static_cast<size_t>(2 * (tree.Depth(r) - (parent == kRootRow ? 0 : tree.Depth(parent) + 1))), ' ') +
                    std::string(tree.Text(r, 0)) + "=" + std::string(tree.Text(r, 1)));
  }
  return lines;
}

struct StatRow {
  double value;
  std::string label;
};

// A section row at level with the result rows below it, closed as the report closes it.
RowId AddSection(StatisticsBuilder& builder, const char* title, int level, char separator,
                 const std::vector<StatRow>& rows) {
  RowId section = builder.AddSectionRow(title, level);
  for (const StatRow& row : rows) builder.AddStatisticsRow(level + 1, row.value, row.label, separator);
  builder.CloseStatisticsLevels(level + 1);
  return section;
}

TEST(StatisticsTest, FormatStatValueUsesOneDecimalAndAComma) {
  EXPECT_EQ(FormatStatValue(12.5), "12,5");
  EXPECT_EQ(FormatStatValue(3), "3,0");
  EXPECT_EQ(FormatStatValue(1000.5), "1000,5");
  EXPECT_EQ(FormatStatValue(0.25), "0,2");
}

TEST(StatisticsTest, PiecesBecomeRowsWithSums) {
  ReportTree tree;
  StatisticsBuilder builder(tree);
  RowId entry = AddSection(builder, "Entry", 1, '/', {{3, "/a/x.htm"}, {2, "/a/y.htm"}, {5, "/b.htm"}});
  EXPECT_EQ(Lines(tree, entry), (std::vector<std::string>{"a=5,0", "  x.htm=3,0", "  y.htm=2,0", "b.htm=5,0"}));
  EXPECT_EQ(tree.Text(entry, 1), " ");  // the section row shows no count
  EXPECT_EQ(tree.ItemParam(entry), 0);
  RowId a = tree.FirstChild(entry);
  EXPECT_EQ(tree.ItemParam(a), a);
  EXPECT_EQ(tree.Image(a), kImageGroup);
  EXPECT_EQ(tree.Image(tree.FirstChild(a)), kImageLeaf);
}

TEST(StatisticsTest, LeafLabelsSeparatorsAndDepthLimit) {
  ReportTree tree;
  StatisticsBuilder builder(tree);
  // Only separators: one piece, the whole label; a null label counts as empty.
  RowId os = AddSection(builder, "OS", 1, ' ', {{4, "Windows"}, {6, "Windows XP"}, {1, "  "}, {1, ""}});
  EXPECT_EQ(Lines(tree, os), (std::vector<std::string>{"Windows=10,0", "  XP=6,0", "  =1,0", "=1,0"}));

  RowId status = AddSection(builder, "Status codes", 1, '+', {{2, " 200+/index.htm"}, {1, " 200+/a+b.htm"}});
  EXPECT_EQ(Lines(tree, status),
            (std::vector<std::string>{" 200=3,0", "  /index.htm=2,0", "  /a=1,0", "    b.htm=1,0"}));

  builder.AddGroupRow("Pages");
  RowId entry = AddSection(builder, "Entry", 2, '/', {{1, "/1/2/3/4/5/6/7.htm"}});
  std::vector<std::string> deep = Lines(tree, entry);
  ASSERT_EQ(deep.size(), 5u);  // depths 3 to 7
  EXPECT_EQ(deep.back(), "        5=1,0");
}

TEST(StatisticsTest, EmptyDatabaseShowsEverySectionInOrder) {
  ReportDb db;
  ReportTree tree = BuildStatisticsReport(db.Session(), ReportFilter(), 0);
  EXPECT_EQ(Lines(tree, kRootRow),
            (std::vector<std::string>{"Browsers= ", "OS= ", "Time distribution= ", "  Hours= ", "  Days of week= ",
                                      "  Days of month= ", "Countries= ", "  Sessions= ", "Pages= ", "  Entry= ",
                                      "  Exit= ", "  All= ", "Status codes= "}));
  ReportFilter on;
  on.applyFilter = 1;
  EXPECT_EQ(BuildStatisticsReport(db.Session(), on, 0).RowCount(), 13);
}

TEST(StatisticsTest, SectionsSumToTheStoredSessions) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  db.AddVisitor("10.0.0.1", "", "", 0, "DE");
  db.AddVisitor("10.0.0.2", "", "", 1, "FR");
  int32_t a = db.AddSession("10.0.0.1", "2004-03-05 10:00:00");
  int32_t b = db.AddSession("10.0.0.1", "2004-03-06 10:30:00");
  int32_t c = db.AddSession("10.0.0.2", "2004-03-06 11:00:00");
  db.AddBrowserOs(a, "Robot/Google", "Windows XP");
  db.AddBrowserOs(b, "Robot/Inktomi", "Windows XP");
  db.AddBrowserOs(c, "MSIE 6.0", "Linux");
  db.AddResource(a, "2004-03-05 10:00:00", "/index.htm");
  db.AddResource(a, "2004-03-05 10:00:10", "/docs/a.htm", 404);
  db.AddResource(b, "2004-03-06 10:30:00", "/index.htm");
  db.AddResource(c, "2004-03-06 11:00:00", "/docs/a.htm");
  ReportTree tree = BuildStatisticsReport(db.Session(), ReportFilter(), 0);

  EXPECT_EQ(Lines(tree, tree.FindPath("Browsers|")),
            (std::vector<std::string>{"MSIE 6.0=1,0", "Robot=2,0", "  Google=1,0", "  Inktomi=1,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("OS|")), (std::vector<std::string>{"Linux=1,0", "Windows=2,0", "  XP=2,0"}));
  // Hour 10 has sessions on two days: 2 / 2; hour 11 one session on one day.
  EXPECT_EQ(Lines(tree, tree.FindPath("Time distribution|Hours|")), (std::vector<std::string>{"10=1,0", "11=1,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Time distribution|Days of week|")),
            (std::vector<std::string>{"6 - Friday=1,0", "7 - Saturday=2,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Countries|Sessions|")),
            (std::vector<std::string>{"DE - Germany=2,0", "FR - France=1,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Pages|Entry|")), (std::vector<std::string>{"docs=1,0", "  a.htm=1,0", "index.htm=2,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Pages|Exit|")),
            (std::vector<std::string>{"docs=2,0", "  a.htm=2,0", "index.htm=1,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Status codes|")),
            (std::vector<std::string>{" 200=3,0", "  /docs/a.htm=1,0", "  /index.htm=2,0", " 404=1,0", "  /docs/a.htm=1,0"}));

  // With the filter on and no robots, counted rows of robot addresses go.
  ReportFilter filter;
  filter.applyFilter = 1;
  filter.noRobots = 1;
  tree = BuildStatisticsReport(db.Session(), filter, 0);
  EXPECT_EQ(Lines(tree, tree.FindPath("Countries|Sessions|")), (std::vector<std::string>{"DE - Germany=2,0"}));
  EXPECT_EQ(Lines(tree, tree.FindPath("Browsers|")),
            (std::vector<std::string>{"Robot=2,0", "  Google=1,0", "  Inktomi=1,0"}));
}

TEST(StatisticsViewTest, OneRefreshAtATimeOnItsOwnThread) {
  ReportDb db;
  db.AddVisitorSessions("10.0.0.1", 1);
  test::ScopedLogSource source(db);
  {
    StatisticsView view;
    view.ResetView();
    EXPECT_TRUE(view.IsLoading());
    EXPECT_EQ(view.Tree()->RowCount(), 0);  // no "Loading..." row in this view
    std::atomic<int> refreshed{0};
    view.SetRefreshedCallback([&] { ++refreshed; });
    view.RefreshView();
    view.RefreshView();  // dropped while the first runs, or a second run after it: never two at once
    view.WaitForRefresh();
    EXPECT_FALSE(view.RefreshRunning());
    EXPECT_FALSE(view.IsLoading());
    EXPECT_GE(refreshed.load(), 1);
    EXPECT_NE(view.Tree()->FindPath("Time distribution|Hours|10|"), kNoRow);
    view.RefreshView();  // a later request runs again
    view.WaitForRefresh();
    EXPECT_GE(refreshed.load(), 2);
  }
}

TEST(StatisticsTest, AFailedSectionIsTracedWithSqliteTextAndTheOthersStillCount) {
  test::WorkFolder folder;  // the trace lands there
  size_t rows = 0;
  {
    ReportDb db;
    db.AddVisitorSessions("10.0.0.1", 1);
    db.Exec("DROP VIEW SessionBrowserOS");  // the view statements read
    rows = BuildStatisticsReport(db.Session(), ReportFilter(), 0).RowCount();
  }
  EXPECT_GT(rows, 0u);
  std::string trace = folder.Trace();
  ASSERT_FALSE(trace.empty());
  // Every traced statement is followed by what SQLite said of it.
  std::istringstream lines(trace);
  std::string query, reason;
  int failures = 0;
  while (std::getline(lines, query)) {
    ASSERT_TRUE(std::getline(lines, reason)) << query;
    EXPECT_NE(query.find("SessionBrowserOS"), std::string::npos) << query;
    EXPECT_EQ(reason, "no such table: SessionBrowserOS (SQLite code 1)");
    ++failures;
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace weavil

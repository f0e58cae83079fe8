// The report tree's storage, paths, the row comparison and the column sort.
#include <gtest/gtest.h>

#include "reports/report_tree.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::ChildTexts;

TEST(ReportTreeTest, RowsAppendAsLastChildWithBlankColumns) {
  ReportTree tree;
  EXPECT_EQ(tree.RowCount(), 0);
  RowId a = tree.AppendRow(kRootRow, "a", kImageGroup);
  RowId b = tree.AppendRow(kRootRow, "b", kImageGroup);
  RowId a1 = tree.AppendRow(a, "a1", kImageLeaf);
  RowId a2 = tree.AppendRow(a, "a2", kImageLeaf);
  EXPECT_EQ(ChildTexts(tree, kRootRow), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ChildTexts(tree, a), (std::vector<std::string>{"a1", "a2"}));
  EXPECT_EQ(tree.Text(a2, 1), " ");
  EXPECT_EQ(tree.State(a2), 0);
  EXPECT_EQ(tree.Key(a2), 0);
  EXPECT_EQ(tree.ItemParam(a2), 0);
  EXPECT_EQ(tree.Depth(a1), 1);
  EXPECT_EQ(tree.Depth(b), 0);
  EXPECT_EQ(tree.ChildCount(a), 2);
  EXPECT_EQ(tree.Image(a1), kImageLeaf);
  // Display order walk.
  std::vector<RowId> order;
  for (RowId r = tree.FirstChild(kRootRow); r != kNoRow; r = tree.NextInOrder(r)) order.push_back(r);
  EXPECT_EQ(order, (std::vector<RowId>{a, a1, a2, b}));
  // Texts change in place or grow.
  tree.SetText(a1, 1, "12");
  tree.SetText(a1, 1, "7");
  tree.SetText(a1, 0, "a longer first child");
  EXPECT_EQ(tree.Text(a1, 1), "7");
  EXPECT_EQ(tree.Text(a1, 0), "a longer first child");
  EXPECT_EQ(tree.Text(a2, 1), " ");
}

TEST(ReportTreeTest, PathsFindTheDeepestRowOnTheWay) {
  ReportTree tree;
  RowId y = tree.AppendRow(kRootRow, "2004", 0);
  RowId m = tree.AppendRow(y, "March 2004", 0);
  RowId d = tree.AppendRow(m, "05 March 2004", 0);
  EXPECT_EQ(tree.PathOf(d), "2004|March 2004|05 March 2004|");
  EXPECT_EQ(tree.FindPath("2004|March 2004|05 March 2004|"), d);
  EXPECT_EQ(tree.FindPath("2004|March 2004"), m);
  EXPECT_EQ(tree.FindPath("2004|April 2004|01 April 2004|"), y);  // stops at the last piece found
  EXPECT_EQ(tree.FindPath("2005|"), kNoRow);
}

TEST(CompareRowsTest, TextsWithoutCaseCountsByLeadingInteger) {
  ReportTree tree;
  RowId a = tree.AppendRow(kRootRow, "Apple", 0);
  RowId b = tree.AppendRow(kRootRow, "banana", 0);
  RowId zero = tree.AppendRow(kRootRow, "aardvark", 0);
  tree.SetItemParam(a, a);
  tree.SetItemParam(b, b);
  tree.SetText(a, 1, "12,5");
  tree.SetText(b, 1, "3,0");
  // Ascending (direction 1) compares as is; the first click (direction 0) negates.
  EXPECT_LT(CompareRows(tree, a, b, 0, 1), 0);
  EXPECT_GT(CompareRows(tree, a, b, 0, 0), 0);
  EXPECT_GT(CompareRows(tree, a, b, 1, 1), 0);  // 12 against 3
  EXPECT_EQ(CompareRows(tree, a, zero, 0, 1), 0);  // item parameter 0: equal
  tree.SetText(b, 1, "n/a");
  EXPECT_EQ(LeadingInteger("n/a"), 0);
  EXPECT_EQ(LeadingInteger(" 42abc"), 42);
  EXPECT_EQ(LeadingInteger("-7"), -7);
  EXPECT_EQ(LeadingInteger(" "), 0);
}

TEST(SortTest, FirstClickDescendingRowsWithoutParameterStayDepthFirst) {
  ReportTree tree;
  auto group = [&](RowId parent, const char* text, const char* count) {
    return test::AddSortableGroup(tree, parent, text, count);
  };
  RowId b = group(kRootRow, "b", "5");
  RowId a = group(kRootRow, "a", "9");
  RowId c = group(kRootRow, "C", "1");
  group(a, "y", "2");
  RowId s1 = tree.AppendRow(a, "10:00 session", kImageLeaf);  // sessions keep their place
  group(a, "x", "3");
  RowId s2 = tree.AppendRow(a, "09:00 session", kImageLeaf);
  group(a, "z", "1");
  (void)b;
  (void)c;

  // Each click: the column, the order's direction after it, and the children of the
  // root and of "a" once sorted.
  struct Click {
    int column;
    int direction;
    std::vector<std::string> top, inA;
  };
  const Click clicks[] = {
      {0, 0, {"C", "b", "a"}, {"z", "10:00 session", "y", "09:00 session", "x"}},
      {0, 1, {"a", "b", "C"}, {"x", "10:00 session", "y", "09:00 session", "z"}},
      {1, 0, {"a", "b", "C"}, {"x", "10:00 session", "y", "09:00 session", "z"}},
  };
  SortOrder order;
  for (const Click& click : clicks) {
    ClickSortColumn(order, click.column);
    EXPECT_EQ(order.column, click.column);
    EXPECT_EQ(order.direction, click.direction);
    SortReportTree(tree, order);
    EXPECT_EQ(ChildTexts(tree, kRootRow), click.top) << "click on " << click.column;
    EXPECT_EQ(ChildTexts(tree, a), click.inA) << "click on " << click.column;
  }
  EXPECT_EQ(order.previousColumn, 0);
  EXPECT_EQ(tree.LastChild(a), tree.FindPath("a|z"));
  EXPECT_EQ(tree.Parent(s1), a);
  EXPECT_EQ(tree.Parent(s2), a);
}

}  // namespace
}  // namespace weavil

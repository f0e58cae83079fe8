// The tree list view and its item model: the click rules with a test clock, header
// clicks, sorting with persistent selection, paths, and a tree of 300,000 rows.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <cmath>

#include "shell/report_tree_model.h"
#include "shell/tree_list_view.h"
#include "tests/shell/shell_test_support.h"

namespace weavil::test {
namespace {

// Two groups with counts; the first holds two leaves (item parameter 0), the second one.
std::shared_ptr<ReportTree> SmallTree() {
  auto tree = std::make_shared<ReportTree>();
  RowId a = tree->AppendRow(kRootRow, "alpha", kImageGroup);
  tree->SetText(a, 1, "3,0");
  tree->SetItemParam(a, a);
  RowId leaf1 = tree->AppendRow(a, "2008-03-01 10:00", kImageLeaf);
  tree->SetKey(leaf1, 11);
  RowId leaf2 = tree->AppendRow(a, "2008-03-01 09:00", kImageLeaf);
  tree->SetKey(leaf2, 12);
  RowId b = tree->AppendRow(kRootRow, "beta", kImageGroup);
  tree->SetText(b, 1, "12,5");
  tree->SetItemParam(b, b);
  tree->AppendRow(b, "2008-03-02 08:00", kImageLeaf);
  return tree;
}

class TreeListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureShellApplication();
    view_.SetColumns("Page", 200, "Count", 85);
    view_.SetClock([this] { return now_; });
    view_.resize(400, 300);
    view_.SetTree(SmallTree());
    view_.SetLoading(false);
    view_.show();
    QApplication::processEvents();
  }

  QPoint RightOfLabel(RowId row) {
    QModelIndex index = view_.Model()->IndexOf(row, 1);
    return view_.TreeWidget()->visualRect(index).center();
  }
  // A real click in the middle of a column's header section.
  void ClickSection(int column) {
    QHeaderView* header = view_.TreeWidget()->header();
    QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  void Press(RowId row, int64_t at) {
    now_ = at;
    QTest::mousePress(view_.TreeWidget()->viewport(), Qt::LeftButton, Qt::NoModifier, RightOfLabel(row));
    QTest::mouseRelease(view_.TreeWidget()->viewport(), Qt::LeftButton, Qt::NoModifier, RightOfLabel(row));
  }

  // The application must exist before the view is built.
  struct App {
    App() { EnsureShellApplication(); }
  } app_;
  TreeListView view_;
  int64_t now_ = 100000;
};

TEST_F(TreeListViewTest, TwoQuickPressesOnALeafRequestDetailsSlowOnesOnlySelect) {
  const ReportTree& tree = *view_.Tree();
  RowId alpha = tree.FirstChild(kRootRow);
  view_.TreeWidget()->expand(view_.Model()->IndexOf(alpha));
  RowId leaf = tree.FirstChild(alpha);
  QSignalSpy details(&view_, &TreeListView::DetailsRequested);
  QSignalSpy notices(&view_, &TreeListView::SelectionNotice);

  Press(leaf, 1000);
  EXPECT_EQ(view_.SelectedRow(), leaf);
  EXPECT_EQ(view_.SelectedKey(), 11);
  EXPECT_EQ(notices.count(), 1);
  Press(leaf, 1600);  // 600 ms later: a new first press
  EXPECT_EQ(details.count(), 0);
  Press(leaf, 1900);  // 300 ms later: a double press
  EXPECT_EQ(details.count(), 1);
  Press(leaf, 2000);  // the third press starts over
  EXPECT_EQ(details.count(), 1);

  // Two quick presses on different rows are no double press.
  RowId other = tree.NextSibling(leaf);
  Press(other, 2100);
  EXPECT_EQ(view_.SelectedRow(), other);
  EXPECT_EQ(details.count(), 1);
}

TEST_F(TreeListViewTest, AClickOnALabelNoticesTheRowItSelected) {
  const ReportTree& tree = *view_.Tree();
  std::vector<RowId> noticed;
  QObject::connect(&view_, &TreeListView::SelectionNotice, [&] { noticed.push_back(view_.SelectedRow()); });
  for (RowId row : {tree.FirstChild(kRootRow), tree.LastChild(kRootRow)}) {
    QRect cell = view_.TreeWidget()->visualRect(view_.Model()->IndexOf(row, 0));
    QTest::mouseClick(view_.TreeWidget()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(cell.left() + 24, cell.center().y()));  // on the label's text
  }
  EXPECT_EQ(noticed, (std::vector<RowId>{tree.FirstChild(kRootRow), tree.LastChild(kRootRow)}));
}

TEST_F(TreeListViewTest, TwoQuickPressesOnAParentFoldIt) {
  RowId beta = view_.Tree()->NextSibling(view_.Tree()->FirstChild(kRootRow));
  QModelIndex index = view_.Model()->IndexOf(beta);
  QSignalSpy details(&view_, &TreeListView::DetailsRequested);
  Press(beta, 5000);
  EXPECT_FALSE(view_.TreeWidget()->isExpanded(index));
  Press(beta, 5200);
  EXPECT_TRUE(view_.TreeWidget()->isExpanded(index));
  Press(beta, 5300);
  Press(beta, 5400);
  EXPECT_FALSE(view_.TreeWidget()->isExpanded(index));
  EXPECT_EQ(details.count(), 0);
}

TEST_F(TreeListViewTest, HeaderClicksSortOnlyASortableView) {
  const ReportTree& tree = *view_.Tree();
  ClickSection(1);  // not sortable: nothing happens
  EXPECT_EQ(view_.Order().column, -1);
  EXPECT_EQ(tree.Text(tree.FirstChild(kRootRow), 0), "alpha");

  view_.SetSortable(true);
  ClickSection(1);  // "12,5" compares as 12, "3,0" as 3; descending first
  EXPECT_EQ(tree.Text(tree.FirstChild(kRootRow), 0), "beta");
  EXPECT_EQ(view_.Model()->index(0, 0).data().toString(), QStringLiteral("beta"));
  EXPECT_EQ(view_.Order().direction, 0);
  // Leaves carry item parameter 0 and keep their order.
  RowId alpha = tree.NextSibling(tree.FirstChild(kRootRow));
  EXPECT_EQ(tree.Text(tree.FirstChild(alpha), 0), "2008-03-01 10:00");
  ClickSection(0);  // another column: descending by text
  EXPECT_EQ(view_.Order().column, 0);
  EXPECT_EQ(view_.Order().previousColumn, 1);
  EXPECT_EQ(tree.Text(tree.FirstChild(kRootRow), 0), "beta");
  ClickSection(0);
  EXPECT_EQ(tree.Text(tree.FirstChild(kRootRow), 0), "alpha");
  EXPECT_EQ(tree.Text(tree.FirstChild(tree.FirstChild(kRootRow)), 0), "2008-03-01 10:00");
}

// A refreshed tree arrives sorted and indexed by the worker that built it; the view shows
// it as it is only when its header still shows that order.
TEST_F(TreeListViewTest, APreparedTreeIsShownAsSortedOrSortedAgainWhenTheOrderMoved) {
  view_.SetSortable(true);
  ClickSection(1);  // by count, descending: beta (12) before alpha (3)
  const SortOrder byCount = view_.Order();
  ReportTreeModel& model = *view_.Model();

  auto sorted = SmallTree();
  SortReportTree(*sorted, byCount);
  view_.SetPreparedTree(sorted, byCount, IndexReportTree(*sorted));
  EXPECT_EQ(view_.Tree(), sorted);
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("beta"));
  QModelIndex alpha = model.index(1, 0);
  ASSERT_EQ(model.rowCount(alpha), 2);
  EXPECT_EQ(model.index(0, 0, alpha).data().toString(), QStringLiteral("2008-03-01 10:00"));
  EXPECT_EQ(model.parent(model.index(1, 0, alpha)), alpha);

  // Made before the header moved to this order: sorted here, and indexed afresh.
  auto unsorted = SmallTree();
  view_.SetPreparedTree(unsorted, SortOrder{}, IndexReportTree(*unsorted));
  EXPECT_EQ(unsorted->Text(unsorted->FirstChild(kRootRow), 0), "beta");
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("beta"));
  EXPECT_EQ(model.rowCount(model.index(1, 0)), 2);

  // An index made for another tree is not trusted.
  auto other = SmallTree();
  SortReportTree(*other, byCount);
  view_.SetPreparedTree(other, byCount, IndexReportTree(ReportTree()));
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.rowCount(model.index(1, 0)), 2);

  ClickSection(1);  // ascending now: a tree sorted descending is sorted again
  auto stale = SmallTree();
  SortReportTree(*stale, byCount);
  view_.SetPreparedTree(stale, byCount, IndexReportTree(*stale));
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("alpha"));
  EXPECT_EQ(model.rowCount(model.index(0, 0)), 2);
}

TEST_F(TreeListViewTest, PathsAndLoadingPane) {
  EXPECT_EQ(view_.SelectPath("beta|2008-03-02 08:00|"), view_.Tree()->FirstChild(view_.Tree()->LastChild(kRootRow)));
  EXPECT_EQ(view_.SelectionPath(), "beta|2008-03-02 08:00|");
  EXPECT_TRUE(view_.TreeWidget()->isExpanded(view_.Model()->IndexOf(view_.Tree()->LastChild(kRootRow))));
  view_.ShowLoadingPane(true);
  EXPECT_TRUE(view_.LoadingPaneShown());
  view_.ShowLoadingPane(false);
  EXPECT_FALSE(view_.LoadingPaneShown());
  // A new tree drops the selection.
  view_.SetTree(SmallTree());
  EXPECT_EQ(view_.SelectedRow(), kNoRow);
  EXPECT_EQ(view_.SelectedKey(), 0);
}

// Relative luminance contrast, 1 to 21.
double ContrastOf(const QColor& a, const QColor& b) {
  auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  auto lum = [&](const QColor& c) { return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF()); };
  double x = lum(a), y = lum(b);
  return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST_F(TreeListViewTest, ASelectedGreyOrRedRowStaysReadable) {
  QPalette palette = view_.TreeWidget()->palette();
  palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  view_.TreeWidget()->setPalette(palette);
  const std::shared_ptr<ReportTree> tree = SmallTree();
  const RowId alpha = tree->FirstChild(kRootRow), beta = tree->NextSibling(alpha);
  tree->SetState(alpha, kStateGrey);
  tree->SetState(beta, kStateRed);
  view_.SetTree(tree);
  view_.SetLoading(false);
  view_.activateWindow();
  view_.TreeWidget()->setFocus();
  for (RowId row : {alpha, beta}) {
    view_.SelectRow(row);
    QApplication::processEvents();
    const QRect cell = view_.TreeWidget()->visualRect(view_.Model()->IndexOf(row, 0));
    const QImage shot = view_.TreeWidget()->viewport()->grab(cell).toImage();
    const QColor fill = QColor(shot.pixel(shot.width() - 2, 1));
    ASSERT_EQ(fill, QColor(0x35, 0x84, 0xe4)) << "the focused selection's fill";
    // Only the label: the selection's fill starts right of the tree image.
    int left = 0;
    while (left < shot.width() && QColor(shot.pixel(left, 1)) != fill) ++left;
    double best = 1;
    for (int y = 1; y + 1 < shot.height(); ++y)
      for (int x = left; x + 2 < shot.width(); ++x) best = std::max(best, ContrastOf(QColor(shot.pixel(x, y)), fill));
    EXPECT_GE(best, 2.9) << "row " << row;
  }
}

TEST(ReportTreeModelTest, ServesAndSortsThreeHundredThousandRows) {
  EnsureShellApplication();
  auto tree = std::make_shared<ReportTree>();
  constexpr int kGroups = 300, kLeaves = 1000;
  for (int g = 0; g < kGroups; ++g) {
    RowId group = tree->AppendRow(kRootRow, "group " + std::to_string(g), kImageGroup);
    tree->SetText(group, 1, std::to_string((g * 7919) % kGroups));
    tree->SetItemParam(group, group);
    for (int l = 0; l < kLeaves; ++l) tree->AppendRow(group, "leaf " + std::to_string(l), kImageLeaf);
  }
  ASSERT_EQ(tree->RowCount(), kGroups * (kLeaves + 1));

  TreeListView view;
  view.SetColumns("Page", 320, "Count", 85);
  view.SetSortable(true);
  view.SetTree(tree);
  view.SetLoading(false);
  ReportTreeModel& model = *view.Model();
  EXPECT_EQ(model.rowCount(), kGroups);
  QModelIndex group = model.index(123, 0);
  EXPECT_EQ(model.rowCount(group), kLeaves);
  QModelIndex last = model.index(kLeaves - 1, 1, group);
  EXPECT_EQ(model.RowOf(last), tree->LastChild(model.RowOf(group)));
  EXPECT_EQ(model.parent(last), group);
  EXPECT_EQ(last.data().toString(), QStringLiteral(" "));  // a leaf's count column keeps its blank
  EXPECT_EQ(last.siblingAtColumn(0).data().toString(), QStringLiteral("leaf 999"));

  RowId chosen = view.SelectPath("group 123|leaf 500|");
  ASSERT_NE(chosen, kNoRow);
  view.ClickHeader(1);
  // The selection follows its row through the sort; the groups are in count order.
  EXPECT_EQ(view.SelectedRow(), chosen);
  EXPECT_EQ(view.SelectionPath(), "group 123|leaf 500|");
  int64_t previous = INT64_MAX;
  for (int r = 0; r < model.rowCount(); ++r) {
    int64_t count = LeadingInteger(model.index(r, 1).data().toString().toStdString());
    EXPECT_LE(count, previous);
    previous = count;
    EXPECT_EQ(model.RowOf(model.index(r, 0)), model.RowOf(model.IndexOf(model.RowOf(model.index(r, 0)))));
  }
}

}  // namespace
}  // namespace weavil::test

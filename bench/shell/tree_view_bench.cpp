// The tree list view with 300,000 rows: swapping a finished tree in, painting the
// visible rows, scrolling through a group of 100,000 sessions, and a header-click sort.
// Run: QT_QPA_PLATFORM=offscreen build/bench/tree_view_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTreeView>

#include <memory>
#include <string>

#include "shell/report_tree_model.h"
#include "shell/tree_list_view.h"

namespace {

using weavil::ReportTree;
using weavil::RowId;

// 200 groups of 1,000 rows and one group of 100,000: 300,201 rows.
std::shared_ptr<ReportTree> BigTree() {
  auto tree = std::make_shared<ReportTree>();
  auto group = [&](int index, int rows) {
    RowId g = tree->AppendRow(weavil::kRootRow, "/page-" + std::to_string(index) + ".html", weavil::kImageGroup);
    tree->SetText(g, 1, std::to_string((index * 7919) % 1000));
    tree->SetItemParam(g, g);
    for (int r = 0; r < rows; ++r) {
      RowId s = tree->AppendRow(g, "2008-03-01 10:" + std::to_string(r % 60), weavil::kImageLeaf);
      tree->SetKey(s, r + 1);
    }
  };
  for (int i = 0; i < 200; ++i) group(i, 1000);
  group(200, 100000);
  return tree;
}

QApplication& App() {
  static int argc = 1;
  static char name[] = "tree_view_bench";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

void BM_SetTree(benchmark::State& state) {
  App();
  auto tree = BigTree();
  weavil::TreeListView view;
  view.resize(425, 700);
  for (auto _ : state) {
    view.SetTree(tree);
    view.SetTree(nullptr);
  }
  state.SetItemsProcessed(state.iterations() * tree->RowCount());
}
BENCHMARK(BM_SetTree)->Unit(benchmark::kMillisecond);

void BM_PaintScreenful(benchmark::State& state) {
  App();
  weavil::TreeListView view;
  view.resize(425, 700);
  view.SetTree(BigTree());
  view.SetLoading(false);
  QTreeView* tree = view.TreeWidget();
  tree->expand(view.Model()->index(200, 0));
  view.show();
  QImage image(view.size(), QImage::Format_ARGB32);
  int step = 0;
  for (auto _ : state) {
    // Somewhere inside the 100,000-session group each time.
    tree->verticalScrollBar()->setValue(200 + (step++ * 997) % 99000);
    QPainter painter(&image);
    view.render(&painter);
  }
}
BENCHMARK(BM_PaintScreenful)->Unit(benchmark::kMillisecond);

void BM_SortByCount(benchmark::State& state) {
  App();
  weavil::TreeListView view;
  view.SetSortable(true);
  view.SetTree(BigTree());
  for (auto _ : state) view.ClickHeader(1);
}
BENCHMARK(BM_SortByCount)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  App();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}

// The window over a real database: how long a refresh of the views keeps the user
// interface thread from its events, and how soon a click on each tab shows its tree.
// A zero-interval timer ticks whenever the event loop is free; the longest gap between
// two ticks is the longest the window stood still.
//   QT_QPA_PLATFORM=offscreen [STALL_TRACE=1] build/bench/refresh_stall_bench DATABASE [ROUNDS]
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeView>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings.h"
#include "shell/main_frame.h"
#include "shell/report_tabs.h"
#include "shell/tree_list_view.h"
#include "store/database.h"
#include "store/view_requests.h"

namespace {

using namespace weavil;

struct Ticks {
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  bool trace = std::getenv("STALL_TRACE") != nullptr;  // each stall over 15 ms on stderr
  void Restart() {
    last = clock.elapsed();
    longest = 0;
  }
  void Tick() {
    qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    if (trace && now - last > 15)
      std::fprintf(stderr, "stall of %lld ms ending at %lld ms\n", static_cast<long long>(now - last),
                   static_cast<long long>(now));
    last = now;
  }
};

// Runs the event loop until done() holds; false when limitMs passed first.
template <class Done>
bool RunUntil(Done done, qint64 limitMs) {
  QElapsedTimer waited;
  waited.start();
  while (!done()) {
    if (waited.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

bool AllLoaded(ReportTabs& tabs) {
  for (int tab = 0; tab < kReportTabCount; ++tab)
    if (tabs.NeedsLoad(tab) || tabs.Refreshing(tab)) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: refresh_stall_bench DATABASE [ROUNDS]\n");
    return argc < 2 ? 2 : 0;
  }
  const std::string database = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  QApplication app(argc, argv);
  LogDataSource::UseDatabaseFile(database);
  AppSettings().isBackThread = 1;  // every view refreshed after a change, as a user sees it
  MainFrame frame(WEAVIL_BIN_DIR "/");
  frame.resize(1000, 700);
  frame.show();
  ReportTabs& tabs = *frame.Tabs();

  Ticks ticks;
  ticks.clock.start();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticks.Tick(); });
  ticker.start(0);
  if (ticks.trace)
    QObject::connect(&tabs, &ReportTabs::ViewRefreshed, [&](int tab) {
      std::fprintf(stderr, "tab %d shown at %lld ms\n", tab, static_cast<long long>(ticks.clock.elapsed()));
    });

  std::printf("%-6s %12s %16s\n", "round", "all views s", "longest stall ms");
  qint64 worst = 0;
  for (int round = 1; round <= rounds; ++round) {
    ticks.Restart();
    QElapsedTimer took;
    took.start();
    // What the window does after an import, a filter change or a resolve.
    RaiseResetViews();
    RaiseReloadViews();
    frame.RunIdle();
    if (!RunUntil([&] { return AllLoaded(tabs); }, 600000)) {
      std::fprintf(stderr, "the views did not finish within ten minutes\n");
      return 1;
    }
    ticks.Tick();
    worst = std::max(worst, ticks.longest);
    std::printf("%-6d %12.2f %16lld\n", round, took.elapsed() / 1000.0, static_cast<long long>(ticks.longest));
    if (round == 1) {
      // From the second round the sortable views are sorted by their count column, by a
      // click on its header as a user does: each new tree is sorted when it is shown.
      for (int tab = 0; tab < kReportTabCount; ++tab) {
        tabs.setCurrentIndex(tab);
        QHeaderView* header = tabs.ListView(tab)->TreeWidget()->header();
        QPoint at(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCoreApplication::processEvents();
      }
      tabs.setCurrentIndex(0);
      QCoreApplication::processEvents();
    }
  }

  // Every view is loaded: a click on a tab must show its filled tree at once.
  std::printf("\n%-12s %10s %8s\n", "tab", "click ms", "rows");
  QTabBar* bar = tabs.tabBar();
  for (int tab = 0; tab < kReportTabCount; ++tab) {
    int next = (tabs.currentIndex() + 1) % kReportTabCount;
    QElapsedTimer took;
    took.start();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(next).center());
    QCoreApplication::processEvents();
    qint64 ms = took.elapsed();
    TreeListView* list = tabs.ListView(next);
    bool filled = tabs.currentIndex() == next && !tabs.NeedsLoad(next) && !list->LoadingPaneShown();
    worst = std::max(worst, ms);
    std::printf("%-12s %10lld %8s\n", tabs.tabText(next).toUtf8().constData(), static_cast<long long>(ms),
                filled ? "shown" : "EMPTY");
    if (!filled) return 1;
  }
  std::printf("\nlongest the window stood still: %lld ms\n", static_cast<long long>(worst));
  return 0;
}

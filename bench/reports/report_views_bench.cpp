// Times every report refresh on a filled database: the query and the tree of each
// session view, then the statistics, each best of a few runs.
//   report_views_bench DATABASE [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "store/database.h"
#include "store/result.h"

using namespace weavil;

namespace {

template <typename Build>
double BestSeconds(int runs, Build build, int32_t& rows, size_t& bytes) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    ReportTree tree = build();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
    rows = tree.RowCount();
    bytes = tree.MemoryUse();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DATABASE [RUNS]\n", argv[0]);
    return 2;
  }
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  DbSession session;
  if (Failed(session.OpenFile(argv[1]))) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  ReportFilter off;
  ReportFilter on;  // the filter most used: robots left out
  on.applyFilter = 1;
  on.noRobots = 1;
  std::time_t now = std::time(nullptr);
  struct View {
    const char* name;
    SessionViewKind kind;
  } views[] = {{"sessions", SessionViewKind::kVisits},
               {"visitors", SessionViewKind::kDomain},
               {"keywords", SessionViewKind::kKeyword},
               {"referers", SessionViewKind::kReferer},
               {"pages", SessionViewKind::kPage}};
  std::printf("%-12s %-8s %10s %10s %12s\n", "view", "filter", "seconds", "rows", "tree bytes");
  for (const ReportFilter* filter : {&off, &on}) {
    const char* label = filter == &off ? "off" : "robots";
    for (const View& view : views) {
      int32_t rows = 0;
      size_t bytes = 0;
      double s = BestSeconds(runs, [&] { return BuildSessionReport(view.kind, session, *filter, now); }, rows, bytes);
      std::printf("%-12s %-8s %10.3f %10d %12zu\n", view.name, label, s, rows, bytes);
    }
    int32_t rows = 0;
    size_t bytes = 0;
    double s = BestSeconds(runs, [&] { return BuildStatisticsReport(session, *filter, now); }, rows, bytes);
    std::printf("%-12s %-8s %10.3f %10d %12zu\n", "statistics", label, s, rows, bytes);
  }
  return 0;
}

// Times every report refresh on a filled database: the query and the tree of each
// session view, then the statistics, each best of a few runs, with the filter off and
// with a typical filter (robots left out, the last month of the log, its three most
// requested pages). Each view runs in a process of its own, so its peak memory is its own.
//   report_views_bench DATABASE [RUNS]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The moment of the last visit, so that a period counts back from the log's own end.
std::time_t LastVisit(DbSession& session) {
  Statement statement;
  std::string text;
  if (Failed(statement.Execute(session, "SELECT max(TimeEnter) FROM [Session]")) ||
      statement.MoveNext() != kResultOk || !statement.GetText(1, text))
    return std::time(nullptr);
  std::tm local{};
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &local.tm_hour, &local.tm_min, &local.tm_sec) != 6)
    return std::time(nullptr);
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string TopPages(DbSession& session) {
  Statement statement;
  std::string pages, page;
  if (Failed(statement.Execute(session,
                               "SELECT UriStem FROM Resource GROUP BY UriStem ORDER BY count(*) DESC LIMIT 3")))
    return pages;
  while (statement.MoveNext() == kResultOk)
    if (statement.GetText(1, page)) pages += (pages.empty() ? "" : " ") + page;
  return pages;
}

// Runs measure on a connection of its own in a child process (a connection is not
// shared across fork).
template <typename Measure>
void InChild(const char* path, Measure measure) {
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    DbSession session;
    if (!Failed(session.OpenFile(path))) measure(session);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
}

void PrintLine(const char* name, const char* label, const char* mode, double seconds, int32_t rows, size_t bytes) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%-12s %-8s %-10s %10.3f %10d %12zu %8ld\n", name, label, mode, seconds, rows, bytes,
              usage.ru_maxrss / 1024);
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
  ReportFilter on;
  on.applyFilter = 1;
  on.noRobots = 1;
  on.isPeriod = 1;
  on.period = "Month+";
  on.isPages = 1;
  on.pages = TopPages(session);
  std::time_t now = LastVisit(session);
  session.Close();
  std::printf("typical filter:%s\n", BuildSessionConditions(on, now).c_str());
  struct View {
    const char* name;
    SessionViewKind kind;
  } views[] = {{"sessions", SessionViewKind::kVisits},
               {"visitors", SessionViewKind::kDomain},
               {"keywords", SessionViewKind::kKeyword},
               {"referers", SessionViewKind::kReferer},
               {"pages", SessionViewKind::kPage}};
  std::printf("%-12s %-8s %-10s %10s %10s %12s %8s\n", "view", "filter", "rows from", "seconds", "rows", "tree bytes",
              "peak MB");
  for (const ReportFilter* filter : {&off, &on}) {
    const char* label = filter == &off ? "off" : "typical";
    // Each view as it runs now (rows read into memory) and with its own statement, the
    // way every view ran before.
    for (ReportRows from : {ReportRows::kInMemory, ReportRows::kStatement}) {
      const char* mode = from == ReportRows::kInMemory ? "memory" : "statement";
      for (const View& view : views) {
        InChild(argv[1], [&](DbSession& session) {
          int32_t rows = 0;
          size_t bytes = 0;
          double s = BestSeconds(
              runs, [&] { return BuildSessionReport(view.kind, session, *filter, now, from); }, rows, bytes);
          PrintLine(view.name, label, mode, s, rows, bytes);
        });
      }
      InChild(argv[1], [&](DbSession& session) {
        int32_t rows = 0;
        size_t bytes = 0;
        double s = BestSeconds(runs, [&] { return BuildStatisticsReport(session, *filter, now, from); }, rows, bytes);
        PrintLine("statistics", label, mode, s, rows, bytes);
      });
    }
  }
  return 0;
}

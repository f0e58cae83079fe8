// Times the phases of one import separately: reading and parsing into sessions, then
// storing them into a database file (a copy of the template made by the caller).
//   import_phases LOGFILE DBFILE [DEFAULTHOST]
// With IMPORT_PHASES_RUN_IMPORT set it times the whole import as the program runs it;
// with IMPORT_PHASES_PARSE_ONLY only the reading and parsing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "import/import_driver.h"
#include "import/log_file_reader.h"
#include "import/log_parser.h"
#include "import/session_builder.h"
#include "import/store_writer.h"
#include "settings/settings.h"
#include "store/database.h"

using namespace weavil;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: import_phases LOGFILE DBFILE [DEFAULTHOST]\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };

  if (std::getenv("IMPORT_PHASES_RUN_IMPORT")) {
    // The whole import as the program runs it: parsing and storing overlap.
    LogDataSource::UseDatabaseFile(argv[2]);
    ImportCopies copies;
    copies.defaultHost = argc > 3 ? argv[3] : "";
    copies.isModernRules = std::getenv("IMPORT_PHASES_CLASSIC_RULES") ? 0 : 1;
    ImportStats stats = RunImport(argv[1], 0, copies);
    std::printf("lines %lld, sessions stored %lld, %.3f s (%.0f lines/s)\n", static_cast<long long>(stats.linesRead),
                static_cast<long long>(stats.sessionsStored), stats.seconds, stats.linesRead / stats.seconds);
    return stats.sessionsStored > 0 ? 0 : 1;
  }

  Clock::time_point t0 = Clock::now();
  SessionList list(kDefaultExtensions);
  ParserState state(argc > 3 ? argv[3] : "");
  LogFileReader reader;
  if (!reader.Open(argv[1], 0)) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  RequestRecord record;
  std::string_view raw;
  int64_t records = 0;
  while (reader.NextPhysicalLine(raw)) {
    if (ParseLogLine(state, CutLine(raw), &reader, record) == ParseOutcome::kRecord) {
      AddRequest(list, record);
      ++records;
    }
  }
  FinishSessionList(list);
  Clock::time_point t1 = Clock::now();
  // IMPORT_PHASES_PARSE_ONLY stops here: the reading side alone (plain against compressed).
  if (std::getenv("IMPORT_PHASES_PARSE_ONLY")) {
    std::printf("lines %lld, records %lld, sessions %zu, parse+sessions %.3f s (%.0f lines/s)\n",
                static_cast<long long>(reader.LinesRead()), static_cast<long long>(records), list.Count(),
                seconds(t0, t1), reader.LinesRead() / seconds(t0, t1));
    return 0;
  }

  // IMPORT_PHASES_PRAGMA runs before storing (cache and journal trials);
  // IMPORT_PHASES_NO_CLASSIFY stores without classification, to show its cost;
  // IMPORT_PHASES_CLASSIC_RULES classifies with the program's own rows alone.
  struct NoClassifier : SessionClassifier {
    int32_t ClassifyUserAgent(std::string_view, std::string_view, int64_t) override { return 0; }
    void AnalyzeReferrer(std::string_view, std::string_view, int64_t) override {}
  } none;
  DbSession db;
  if (db.OpenFile(argv[2]) < 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  Statement pragma;
  pragma.Execute(db, std::getenv("IMPORT_PHASES_PRAGMA") ? std::getenv("IMPORT_PHASES_PRAGMA") : "PRAGMA cache_size=-65536;");
  pragma.Close();
  StoreResult result = StoreSessionList(list, db, std::getenv("IMPORT_PHASES_NO_CLASSIFY") ? &none : nullptr, {},
                                        !std::getenv("IMPORT_PHASES_CLASSIC_RULES"));
  db.Close();
  Clock::time_point t2 = Clock::now();

  double parse = seconds(t0, t1), store = seconds(t1, t2);
  std::printf("lines %lld, records %lld, sessions %zu, resources %zu\n", static_cast<long long>(reader.LinesRead()),
              static_cast<long long>(records), list.Count(), list.ResourceTotal());
  std::printf("parse+sessions %.3f s (%.0f lines/s), store %.3f s (%lld stored), total %.3f s (%.0f lines/s)\n", parse,
              reader.LinesRead() / parse, store, static_cast<long long>(result.stored), parse + store,
              reader.LinesRead() / (parse + store));
  return 0;
}

#include "import/import_driver.h"

#include <chrono>

#include "import/log_file_reader.h"
#include "import/log_parser.h"
#include "import/session_builder.h"
#include "import/store_writer.h"
#include "store/trace.h"
#include "store/view_requests.h"

namespace weavil {
namespace {

using Clock = std::chrono::steady_clock;

// Reports at most every 100 ms so a terminal or a window is not flooded.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(ImportProgress* progress) : progress_(progress) {}

  // False when the caller cancelled.
  bool Report(int64_t bytesRead, int64_t bytesTotal, int64_t lines, int64_t sessions, bool force = false) {
    if (!progress_) return true;
    Clock::time_point now = Clock::now();
    if (force || now - last_ >= std::chrono::milliseconds(100)) {
      last_ = now;
      progress_->OnProgress(bytesRead, bytesTotal, lines, sessions);
    }
    return !progress_->Cancelled();
  }

 private:
  ImportProgress* progress_;
  Clock::time_point last_{};
};

}  // namespace

ImportStats RunImport(const std::string& path, int64_t offset, ImportProgress* progress) {
  return RunImport(path, offset, CopyImportCopies(), progress);
}

ImportStats RunImport(const std::string& path, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress) {
  Clock::time_point start = Clock::now();
  ImportStats stats;
  ProgressThrottle throttle(progress);
  SessionList list(copies.extensions, copies.agentChaining);
  LogFileReader reader;
  stats.opened = reader.Open(path, offset);
  // Storing runs beside parsing: sessions are written as soon as they and every
  // session before them are closed.
  SessionStoreThread store(list, stats.opened ? reader.BytesTotal() : 0, copies.isModernRules != 0);
  int64_t bytesTotal = 0;
  if (stats.opened) {
    WriteTrace("File Open:");
    WriteTrace(path);
    ParserState state(copies.defaultHost);
    RequestRecord record;
    std::string_view raw;
    size_t finalSessions = 0;
    int64_t sinceCheck = 0;
    while (reader.NextPhysicalLine(raw)) {
      switch (ParseLogLine(state, CutLine(raw), &reader, record)) {
        case ParseOutcome::kRecord:
          AddRequest(list, record);
          break;
        case ParseOutcome::kRejected:
          ++stats.linesRejected;
          break;
        case ParseOutcome::kDirective:
          break;
      }
      if (++sinceCheck == 1024) {
        sinceCheck = 0;
        size_t before = finalSessions;
        while (finalSessions < list.Count() && list.At(finalSessions).closed) ++finalSessions;
        if (finalSessions != before) store.Publish(finalSessions);
        if (!throttle.Report(reader.ProgressRead(), reader.ProgressTotal(), reader.LinesRead(),
                             static_cast<int64_t>(list.Count()))) {
          stats.cancelled = true;
          break;
        }
      }
    }
    stats.linesRead = reader.LinesRead();
    bytesTotal = reader.ProgressRead();
    if (!stats.cancelled)
      throttle.Report(reader.ProgressRead(), reader.ProgressTotal(), stats.linesRead, static_cast<int64_t>(list.Count()), true);
    reader.Close();
    WriteTrace("File Close");
  }
  if (stats.cancelled) {
    store.Cancel();
    store.Wait(-1);
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return stats;
  }

  store.Finish(list.Count());
  WriteTrace("Start storing to DB");
  while (!store.Wait(100)) {
    if (!throttle.Report(bytesTotal, bytesTotal, stats.linesRead, store.Handled())) store.Cancel();
  }
  WriteTrace("Getting DBConnection instance...");
  WriteTrace("Getting the result...");
  if (!store.SourceOpened()) {
    WriteTrace("failed");
  } else {
    WriteTrace("Opening Session...");
    for (const std::string& line : store.HeldTrace()) WriteTrace(line);
    WriteTrace("Closing Session...");
  }
  WriteTrace("DB stored");
  FinishSessionList(list);
  const StoreResult& stored = store.Result();
  throttle.Report(bytesTotal, bytesTotal, stats.linesRead, store.Handled(), true);
  stats.sessionsStored = stored.stored;
  stats.sessionsAlreadyStored = stored.alreadyStored;
  stats.databaseFailed = stored.databaseFailed;
  stats.error = stored.error;
  stats.cancelled = stored.cancelled;
  stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return stats;
}

HeaderOffset FindLastHeader(const std::string& path) {
  HeaderOffset result;
  LogFileReader reader;
  if (!reader.Open(path, 0)) return result;
  std::string_view raw;
  int64_t position = 0;
  while (reader.NextPhysicalLine(raw)) {
    position = reader.BytesRead();
    if (!raw.empty() && (raw[0] == '#' || raw[0] == ' ') && raw.substr(1, 9) == "Software:") result.offset = position;
  }
  result.size = reader.BytesRead();
  return result;
}

int64_t FindLastHeaderOffset(const std::string& path) { return FindLastHeader(path).offset; }

void ImportWorker(const ImportJob& job, ImportProgress* progress,
                  const std::function<void(const ImportStats&)>& finished) {
  // The views show "Loading..." while the import runs.
  RaiseResetViews();
  TakeReloadViews();
  ImportStats stats = RunImport(job.path, job.offset, progress);
  TakeResetViews();
  RaiseReloadViews();
  if (finished) finished(stats);
}

}  // namespace weavil

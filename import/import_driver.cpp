#include "import/import_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

#include "base/unique_fd.h"
#include "classify/country_lookup.h"
#include "import/custom_format.h"
#include "import/import_mark.h"
#include "import/log_file_reader.h"
#include "import/log_parser.h"
#include "import/session_builder.h"
#include "import/session_store_thread.h"
#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/stored_times.h"
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

// Where the files read before the current one leave the progress.
struct ImportProgressBase {
  int64_t done = 0, total = 0, lines = 0;
};

// The line rules cut a line at a NUL byte: a line that lost text so is binary.
bool HeldNul(std::string_view raw, std::string_view cut) {
  std::string_view whole = raw.substr(0, kMaxLineLength);
  for (int i = 0; i < 2 && !whole.empty() && (whole.back() == '\n' || whole.back() == '\r'); ++i) whole.remove_suffix(1);
  return cut.size() < whole.size();
}

// Reads one file of the import into the session list.
class SourceParser {
 public:
  // deferAfter: sessions starting after it cannot be stored already (INT64_MAX: any
  // may be). reported: per file, the rejected lines a pass before passed to
  // ImportOptions::rejected already, by number.
  SourceParser(SessionList& list, SessionStoreThread& store, ProgressThrottle& throttle, const ImportOptions& options,
               int64_t deferAfter, std::vector<int64_t>& reported)
      : list_(list), store_(store), throttle_(throttle), options_(options), deferAfter_(deferAfter),
        reported_(reported) {}

  // Reads one file of the import, tracing its opening and closing, and adds what it
  // read to stats and base. False when the caller cancelled.
  bool ParseFile(LogFileReader& reader, const std::string& path, ParserState& state, ImportProgressBase& base,
                 ImportStats& stats) {
    WriteTrace("File Open:");
    WriteTrace(path);
    SourceStats& source = stats.sources.emplace_back();
    source.path = path;
    if (reported_.size() < stats.sources.size()) reported_.resize(stats.sources.size(), 0);
    bool completed = Parse(reader, state, source, base, reported_[stats.sources.size() - 1]);
    base.done += reader.ProgressRead();
    base.lines += reader.LinesRead();
    stats.linesRead += source.linesRead;
    stats.linesRejected += source.linesRejected;
    reader.Close();
    WriteTrace("File Close");
    return completed;
  }

  // Parsing ended: the deferred sessions still open are final as they are.
  void EndDeferred() {
    for (const OpenDeferred& open : deferredOpen_) {
      CheckStart(open);
      HandPart(DeferredPart::Kind::kEnd, open.index);
    }
    deferredOpen_.clear();
  }

  // A deferred session's start moved earlier, to where a stored session may start:
  // the import must be read again without deferring.
  bool StartMoved() const { return startMoved_; }

 private:
  // A deferred session not ended, with its start when it was deferred.
  struct OpenDeferred {
    uint32_t index;
    int64_t enterTime;
  };

  // Whether a session was stored already is looked up by its start when it is
  // deferred; storing it whole would look it up by its final start. The two agree
  // unless the start moved to where a stored session may start.
  void CheckStart(const OpenDeferred& open) {
    const SessionRecord& session = list_.At(open.index);
    if (options_.deferMaybeStored && !session.seeded && session.enterTime < open.enterTime &&
        session.enterTime <= deferAfter_)
      startMoved_ = true;
  }

  // False when the caller cancelled, or a deferred session's start moved (StartMoved).
  // reported: the rejected lines of this file passed on already, by number; it grows.
  bool Parse(LogFileReader& reader, ParserState& state, SourceStats& source, const ImportProgressBase& base,
             int64_t& reported) {
    RequestRecord record;
    std::string_view raw;
    std::string kept;
    int64_t sinceCheck = 0;
    while (reader.NextPhysicalLine(raw)) {
      std::string_view line = CutLine(raw);
      int64_t number = reader.LinesRead();
      bool binary = HeldNul(raw, line);
      if (options_.rejected) kept.assign(line);
      switch (ParseLogLine(state, line, &reader, record)) {
        case ParseOutcome::kRecord:
          AddRequest(list_, record);
          ++source.records;
          break;
        case ParseOutcome::kRejected:
          ++source.linesRejected;
          if (source.firstUnusableLine == 0) source.firstUnusableLine = number;
          if (options_.rejected && number > reported) {
            options_.rejected(source.path, number, kept);
            reported = number;
          }
          break;
        case ParseOutcome::kDirective:
          if (binary && source.firstUnusableLine == 0) source.firstUnusableLine = number;
          break;
      }
      if (++sinceCheck == 1024) {
        sinceCheck = 0;
        FeedStore();
        if (startMoved_ || !KeepUpWithStore(reader, base)) return false;
      }
    }
    source.linesRead = reader.LinesRead();
    source.readError = reader.ReadError();
    return true;
  }

  // Publishes the leading sessions that became final, deferring a session that stayed
  // open while too many later ones came, and hands over the parts of deferred sessions.
  void FeedStore() {
    for (size_t i = 0; i < deferredOpen_.size();) {
      CheckStart(deferredOpen_[i]);
      const uint32_t index = deferredOpen_[i].index;
      const SessionRecord& session = list_.At(index);
      if (session.closed) {
        HandPart(DeferredPart::Kind::kEnd, index);
        deferredOpen_.erase(deferredOpen_.begin() + static_cast<long>(i));
        continue;
      }
      if (session.firstResource != UINT32_MAX && list_.ResourceTotal() - session.firstResource > options_.handOverResources)
        HandPart(DeferredPart::Kind::kMore, index);
      ++i;
    }
    while (finalSessions_ < list_.Count()) {
      const SessionRecord& session = list_.At(finalSessions_);
      if (session.closed) {
        ++finalSessions_;
        continue;
      }
      // A seeded session is known stored; any other that starts no later than the
      // stored ones may be stored already, and is written whole unless deferMaybeStored.
      if ((!session.seeded && session.enterTime <= deferAfter_ && !options_.deferMaybeStored) ||
          list_.Count() - finalSessions_ <= options_.deferBehind ||
          list_.LatestTime() - session.enterTime <= options_.deferAge)
        break;
      const int64_t start = session.enterTime;
      HandPart(DeferredPart::Kind::kStart, finalSessions_);
      deferredOpen_.push_back({static_cast<uint32_t>(finalSessions_), start});
      ++finalSessions_;
    }
    store_.Publish(finalSessions_);
  }

  void HandPart(DeferredPart::Kind kind, size_t index) {
    DeferredPart part;
    part.kind = kind;
    part.index = static_cast<uint32_t>(index);
    part.position = finalSessions_;
    part.record = kind == DeferredPart::Kind::kStart ? list_.Defer(index) : list_.HandOver(index);
    store_.Hand(part);
    if (part.record.firstResource != UINT32_MAX) partFloors_.push_back({partsHanded_, part.record.firstResource});
    ++partsHanded_;
  }

  // The first page request a part the store has not written yet hands over.
  size_t ResourceFloor() {
    const int64_t handled = store_.PartsHandled();
    while (!partFloors_.empty() && partFloors_.front().first < handled) partFloors_.pop_front();
    size_t floor = SIZE_MAX;
    for (const auto& [part, first] : partFloors_) floor = std::min<size_t>(floor, first);
    return floor;
  }

  // Reports progress, and waits while the store has more than kMaxUnstored final
  // sessions still to write: the page requests of the sessions it stored leave memory,
  // so the memory held stays bounded when storing is slower than parsing. The store
  // writes whatever was published without waiting for more lines, so this never waits
  // on itself. False when the caller cancelled.
  bool KeepUpWithStore(LogFileReader& reader, const ImportProgressBase& base) {
    constexpr int64_t kMaxUnstored = 32768;
    for (;;) {
      const int64_t handled = store_.Handled();
      list_.ReleaseStored(static_cast<size_t>(handled), ResourceFloor());
      if (!throttle_.Report(base.done + reader.ProgressRead(), base.total, base.lines + reader.LinesRead(),
                            static_cast<int64_t>(list_.Count())))
        return false;
      if (static_cast<int64_t>(finalSessions_) - handled <= kMaxUnstored) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  SessionList& list_;
  SessionStoreThread& store_;
  ProgressThrottle& throttle_;
  const ImportOptions& options_;
  const int64_t deferAfter_;
  std::vector<int64_t>& reported_;
  size_t finalSessions_ = 0;
  std::vector<OpenDeferred> deferredOpen_;  // in creation order
  bool startMoved_ = false;
  // The parts handed over (by number) with the first page request each holds.
  std::deque<std::pair<int64_t, uint32_t>> partFloors_;
  int64_t partsHanded_ = 0;
};

}  // namespace

std::string ShownPath(const std::string& path) {
  return path == kStandardInputPath ? std::string("standard input") : path;
}

std::string ImportProblem(const ImportStats& stats) {
  if (!stats.formatError.empty()) return stats.formatError;
  std::string problems;
  auto add = [&problems](const std::string& text) { problems += (problems.empty() ? "" : "; ") + text; };
  for (const SourceStats& source : stats.sources) {
    if (!source.readError.empty())
      add("reading " + ShownPath(source.path) + " stopped after line " + std::to_string(source.linesRead) + ": " +
          source.readError);
    else if (source.NothingUsable())
      add("no line of " + ShownPath(source.path) + " could be used (line " + std::to_string(source.firstUnusableLine) +
          " is the first unusable one)");
  }
  return problems;
}

std::vector<std::string> ImportJob::Paths() const {
  std::vector<std::string> paths{path};
  paths.insert(paths.end(), more.begin(), more.end());
  return paths;
}

ImportStats RunImport(const std::string& path, int64_t offset, ImportProgress* progress) {
  return RunImport(path, offset, CopyImportCopies(), progress);
}

ImportStats RunImport(const std::string& path, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress) {
  return RunImport(std::vector<std::string>{path}, offset, copies, progress, ImportOptions());
}

ImportStats RunImport(const std::string& path, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress, const ImportOptions& options) {
  return RunImport(std::vector<std::string>{path}, offset, copies, progress, options);
}

namespace {

// The latest start of a stored session (INT64_MIN when none is stored, INT64_MAX when
// the data source cannot tell): only sessions starting after it cannot be there already.
int64_t LatestStoredStart(DbSession& db) {
  Statement latest;
  if (Failed(latest.Execute(db, StoredStartsSql(db))) || latest.MoveNext() != kResultOk) return INT64_MAX;
  std::string text;
  if (!latest.GetText(2, text)) return INT64_MIN;
  DateTimeParts parts;
  return ParseDateTime(text, parts) ? EpochSecondsFromParts(parts) : INT64_MAX;
}

// The session is on a file, and the file holds a visit.
bool FileHoldsVisits(DbSession& db) {
  if (db.IsServer()) return false;
  Statement any;
  const bool holds = Succeeded(any.Execute(db, "SELECT 1 FROM [Session] LIMIT 1;")) && any.MoveNext() == kResultOk;
  any.Close();
  db.ClearErrors();
  return holds;
}

// What the import asks of the stored data before its first line, through one session:
// with seed, the sessions still open at its end go first into the list. Gives
// LatestStoredStart.
int64_t AskStored(SessionList& list, bool seed) {
  DbSession db;
  if (Failed(OpenSourceSession(db))) return INT64_MAX;
  if (seed) {
    // One pass over the sessions: through a small cache, not mapped into the process.
    Statement pragma;
    pragma.Execute(db, "PRAGMA mmap_size=0;");
    pragma.Execute(db, "PRAGMA cache_size=-8192;");
    pragma.Close();
    for (const StoredSession& stored : ReadOpenStoredSessions(db)) SeedSession(list, stored);
  }
  return LatestStoredStart(db);
}

// The format copies.logFormat names, compiled (null when none is set). False, with
// stats.formatError, when it cannot be read.
bool CompileFormat(const ImportCopies& copies, std::shared_ptr<const CustomLogFormat>& format, ImportStats& stats) {
  if (copies.logFormat.empty()) return true;
  FormatCompileResult compiled = CompileLogFormat(copies.logFormat);
  if (!compiled.format) {
    stats.formatError = compiled.error;
    return false;
  }
  format = compiled.format;
  return true;
}

// Every file is opened first: a missing one stops the import before anything is read
// (stats.opened false, no readers).
std::vector<std::unique_ptr<LogFileReader>> OpenReaders(const std::vector<std::string>& paths, int64_t offset,
                                                        const ImportOptions& options, ImportStats& stats,
                                                        ImportProgressBase& base) {
  std::vector<std::unique_ptr<LogFileReader>> readers;
  stats.opened = !paths.empty();
  for (size_t i = 0; i < paths.size() && stats.opened; ++i) {
    readers.push_back(std::make_unique<LogFileReader>());
    if (!readers.back()->Open(paths[i], i == 0 ? offset : 0)) {
      stats.opened = false;
      stats.unopenedPath = paths[i];
      readers.clear();
    } else {
      if (paths.size() == 1 && options.endOffset >= 0) readers.back()->EndAt(options.endOffset);
      base.total += readers.back()->ProgressTotal();
    }
  }
  return readers;
}

// Waits for the store to end, reporting its progress (a cancel stops it), and traces
// its steps with the lines it held back.
void AwaitStore(SessionStoreThread& store, ProgressThrottle& throttle, int64_t bytesTotal, int64_t lines) {
  WriteTrace("Start storing to DB");
  while (!store.Wait(100)) {
    if (!throttle.Report(bytesTotal, bytesTotal, lines, store.Handled())) store.Cancel();
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
}

bool IsFieldsDirective(std::string_view line) {
  return line.size() > 7 && IsDirectiveLine(line) && line.substr(1, 6) == "Fields";
}

bool ReadBytesAt(int fd, int64_t at, size_t count, std::string& bytes) {
  bytes.resize(count);
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::pread(fd, bytes.data() + done, count - done, static_cast<off_t>(at + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return done == count;
}

// The last Fields line of an uncompressed file that starts before offset, searched
// backwards from offset, so only the bytes back to it are read (a block's header
// usually stands a few lines before).
std::string LastFieldsLineBefore(int fd, int64_t offset) {
  constexpr int64_t kBlock = 64 * 1024;
  constexpr std::string_view kTag = "#Fields";
  std::string block;
  for (int64_t end = offset; end > 0;) {
    const int64_t start = end > kBlock ? end - kBlock : 0;
    // A byte before the block tells whether a tag at its start begins a line; a few
    // after its end catch a tag cut by it.
    const int64_t from = start > 0 ? start - 1 : 0;
    const int64_t to = std::min<int64_t>(offset, end + static_cast<int64_t>(kTag.size()) - 1);
    if (!ReadBytesAt(fd, from, static_cast<size_t>(to - from), block)) return {};
    for (size_t p = block.rfind(kTag); p != std::string::npos; p = p == 0 ? std::string::npos : block.rfind(kTag, p - 1)) {
      const int64_t at = from + static_cast<int64_t>(p);
      if (at < start || at >= end) continue;
      bool lineStart = at == 0 || block[p - 1] == '\n' || (at == 3 && block.compare(0, 3, "\xef\xbb\xbf") == 0);
      if (!lineStart) continue;
      std::string line;
      ReadBytesAt(fd, at, 64 * 1024, line);
      line.resize(std::min(line.find('\n'), line.size()));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    end = start;
  }
  return {};
}

// The Fields directive in force at offset of a W3C log: its last one before offset. Empty
// when offset is 0, when the file does not open with a directive line (not a W3C log:
// nothing is read past its first line), or when there is none. Uncompressed files are
// searched backwards from offset; compressed ones are read forward to it.
std::string FieldsDirectiveBefore(const std::string& path, int64_t offset) {
  std::string directive;
  if (offset <= 0 || path == "-") return directive;
  LogFileReader reader;
  std::string_view raw;
  if (!reader.Open(path, 0) || !reader.NextPhysicalLine(raw) || raw.empty() || raw[0] != '#') return directive;
  if (reader.DataCompression() == Compression::kNone) {
    reader.Close();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd ? LastFieldsLineBefore(fd.Get(), offset) : directive;
  }
  do {
    if (reader.BytesRead() > offset) break;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (IsFieldsDirective(raw)) directive.assign(raw);
  } while (reader.NextPhysicalLine(raw));
  return directive;
}

// A whole plain log file read from its start: its import may leave a mark to read on
// from, and may read on from the mark of the import before.
bool MayBeMarked(const std::vector<std::string>& paths, int64_t offset, const ImportCopies& copies,
                 const ImportOptions& options) {
  if (!copies.resumeImports || paths.size() != 1 || offset != 0 || options.continueStored || options.endOffset >= 0 ||
      !options.fieldsDirective.empty() || paths[0] == kStandardInputPath)
    return false;
  struct stat info {};
  if (::stat(paths[0].c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  UniqueFd fd(::open(paths[0].c_str(), O_RDONLY | O_CLOEXEC));
  std::string head;
  if (!fd) return false;
  ReadBytesAt(fd.Get(), 0, 8, head);
  return DetectCompression(head) == Compression::kNone;
}

// The mark this import leaves: the file read to the end of a whole line, without a
// read error. None when the bytes read do not end with a line end (a line still being
// written would be read again in part).
std::optional<ImportMark> EndMark(const std::string& path, const LogFileReader& reader, int64_t from,
                                  const std::optional<ImportMark>& resumed, const PrefixHashStart& hashed,
                                  const ImportCopies& copies,
                                  const SourceStats& source, const std::string& fieldsDirective) {
  const int64_t end = from + reader.BytesRead();
  if (!source.readError.empty() || end <= 0) return std::nullopt;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string last;
  if (!fd || !ReadBytesAt(fd.Get(), end - 1, 1, last) || last != "\n") return std::nullopt;
  // Read on from a mark, the part it hashed is not read again.
  std::string hash = !resumed                      ? PrefixHash(path, end)
                     : resumed->endOffset == end ? resumed->prefixHash
                                                 : PrefixHashFrom(path, end, hashed);
  return MarkOfImport(path, end, std::move(hash), copies, fieldsDirective);
}

// Every file is a regular one: the import can read it a second time.
bool Rereadable(const std::vector<std::string>& paths) {
  return std::all_of(paths.begin(), paths.end(), [](const std::string& path) {
    struct stat info {};
    return path != kStandardInputPath && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  });
}

// What every reading of an import's files shares.
struct ImportFiles {
  const std::vector<std::string>& paths;
  int64_t offset;
  const ImportCopies& copies;
  std::shared_ptr<const CustomLogFormat> format;
  bool markable;  // MayBeMarked
  const std::optional<ImportMark>& resumed;
  const PrefixHashStart& hashed;  // where the hash of the resumed part stood
};

// Reads the files once, storing what they hold, into stats. False when a deferred
// session's start moved to where a stored session may start (SourceParser::StartMoved):
// nothing was stored, and the files are to be read again without deferring. reported:
// per file, the rejected lines passed on already.
bool ReadAndStore(const ImportFiles& files, const ImportOptions& options, ProgressThrottle& throttle,
                  std::vector<int64_t>& reported, ImportStats& stats) {
  const std::vector<std::string>& paths = files.paths;
  ImportProgressBase base;
  std::vector<std::unique_ptr<LogFileReader>> readers = OpenReaders(paths, files.offset, options, stats, base);
  int64_t expected = 0;
  for (const auto& reader : readers) expected += reader->BytesTotal();
  SessionList list(files.copies.extensions, files.copies.agentChaining);
  // A log that has not grown since (the usual round of a follow, or the same file again)
  // gives no line that could join a stored session or be deferred: the two reads of the
  // stored sessions, each over all of them, are left out.
  const bool nothingNew =
      std::all_of(readers.begin(), readers.end(), [](const auto& reader) { return reader->HoldsNothingNew(); });
  const int64_t latestStored = stats.opened && !nothingNew ? AskStored(list, options.continueStored) : INT64_MAX;
  // Storing runs beside parsing: sessions are written as soon as they and every
  // session before them are closed.
  SessionStoreThread store(list, expected, files.copies.isModernRules != 0, options.countries);
  SourceParser parser(list, store, throttle, options, latestStored, reported);
  // The Fields directive in force where the first file is read on from: the one the caller
  // carried (the rounds of a follow), else the file's own before the offset.
  std::string carried = options.fieldsDirective;
  if (carried.empty() && stats.opened && !paths.empty()) carried = FieldsDirectiveBefore(paths[0], files.offset);
  for (size_t i = 0; i < readers.size() && !stats.cancelled; ++i) {
    ParserState state(files.copies.defaultHost);
    state.customFormat = files.format;
    if (i == 0 && IsDirectiveLine(carried)) ApplyDirective(state, carried);
    stats.cancelled = !parser.ParseFile(*readers[i], paths[i], state, base, stats);
    stats.fieldsDirective = state.fieldsDirective;
  }
  // The deferred sessions' ends are the last look at their starts. A cancelled reading
  // (by the caller, or by a start that moved) ends none: its store is cancelled.
  if (!stats.cancelled) parser.EndDeferred();
  if (parser.StartMoved()) {
    store.Cancel();
    store.Wait(-1);
    return false;
  }
  const int64_t bytesTotal = base.done;
  if (stats.opened && !stats.cancelled)
    throttle.Report(bytesTotal, base.total, stats.linesRead, static_cast<int64_t>(list.Count()), true);
  if (stats.cancelled) {
    store.Cancel();
    store.Wait(-1);
    return true;
  }
  // The last sessions go to the store first: it writes them while the mark's hash reads
  // the file again.
  store.FinishBeforeMark(list.Count());
  std::optional<ImportMark> mark;
  if (files.markable && readers.size() == 1 && !stats.sources.empty())
    mark = EndMark(paths[0], *readers[0], files.offset, files.resumed, files.hashed, files.copies, stats.sources.back(),
                   stats.fieldsDirective);
  store.HandMark(std::move(mark));
  AwaitStore(store, throttle, bytesTotal, stats.linesRead);
  FinishSessionList(list);
  const StoreResult& stored = store.Result();
  throttle.Report(bytesTotal, bytesTotal, stats.linesRead, store.Handled(), true);
  stats.sessionsStored = stored.stored;
  stats.sessionsAlreadyStored = stored.alreadyStored;
  stats.sessionsCompleted = stored.completed;
  stats.databaseFailed = stored.databaseFailed;
  stats.error = stored.error;
  stats.cancelled = stored.cancelled;
  return true;
}

}  // namespace

ImportStats RunImport(const std::vector<std::string>& paths, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress, const ImportOptions& given) {
  Clock::time_point start = Clock::now();
  ImportStats stats;
  std::shared_ptr<const CustomLogFormat> format;
  if (!CompileFormat(copies, format, stats)) return stats;
  ImportOptions options = given;
  // A log read on from its mark into a file that holds visits: the file is written
  // through the WAL, which another connection may read meanwhile, and the address ranges
  // are read beside the look at the log's imported part and the seeding of the visits
  // still open (read by the store, they took a third of the time a thousand new lines
  // took into a million-line file). Not for a log that has not grown since: nothing
  // would ask for them; nor for a whole read, whose parsing they would slow while most
  // of its visits are stored.
  auto readRangesAhead = [&](const ImportMark& mark, DbSession& db) {
    struct stat info {};
    if (options.countries || ::stat(paths[0].c_str(), &info) != 0 ||
        static_cast<int64_t>(info.st_size) <= mark.endOffset || !FileHoldsVisits(db))
      return;
    options.countries = std::make_shared<CountryRanges>();
    options.countries->ReadAhead();
  };
  // The file the last import read, unchanged up to where it ended: read on from there,
  // with the sessions still open there taken back.
  const bool markable = MayBeMarked(paths, offset, copies, given);
  std::optional<ImportMark> resumed;
  PrefixHashStart hashed;
  if (markable) resumed = FindResumePoint(paths[0], copies, &hashed, readRangesAhead);
  if (resumed) {
    offset = stats.resumedAt = resumed->endOffset;
    options.continueStored = true;
    options.fieldsDirective = resumed->fieldsDirective;
  }
  options.deferMaybeStored = options.deferMaybeStored && options.deferBehind != SIZE_MAX && Rereadable(paths);
  ProgressThrottle throttle(progress);
  const ImportFiles files{paths, offset, copies, format, markable, resumed, hashed};
  const ImportStats before = stats;
  std::vector<int64_t> reported;
  while (!ReadAndStore(files, options, throttle, reported, stats)) {
    // Read again, every session stored whole, as a session whose start may move is.
    stats = before;
    stats.passes = 2;
    options.deferMaybeStored = false;
    options.deferBehind = SIZE_MAX;
  }
  stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return stats;
}

HeaderOffset FindLastHeader(const std::string& path) {
  HeaderOffset result;
  LogFileReader reader;
  if (!reader.Open(path, 0)) return result;
  result.compressed = reader.DataCompression() != Compression::kNone;
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
  ImportStats stats = RunImport(job.Paths(), job.offset, CopyImportCopies(), progress, ImportOptions());
  TakeResetViews();
  RaiseReloadViews();
  if (finished) finished(stats);
}

}  // namespace weavil

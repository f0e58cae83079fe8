#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>

#include "base/unique_fd.h"
#include "cli/cli.h"
#include "cli/cmd_import_follow.h"
#include "cli/huge_page_heap.h"
#include "import/import_driver.h"
#include "import/log_file_reader.h"
#include "import/log_parser.h"
#include "import/session_store_thread.h"
#include "store/database.h"

namespace weavil {

namespace {

void PrintImportUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] import LOGFILE... [--offset N | --from-last-header]\n"
         "                                   [--continue] [--follow] [--format FORMAT] [--rejects FILE]\n"
         "\n"
         "Reads web-server access logs (W3C extended with a Fields directive,\n"
         "common/combined, vhost_combined, JSON lines, or the format given), groups their\n"
         "requests into visitor sessions and stores the sessions that are not in the\n"
         "database yet. Importing a file again stores nothing new. Unusable lines are\n"
         "skipped and written to RovanTrace.txt.\n"
         "\n"
         "Several files are read in the order given as one import (oldest first:\n"
         "access.log.2.gz access.log.1 access.log), so a visit that spans two of them\n"
         "stays one session. \"-\" reads standard input. Compressed logs (gzip, bzip2, xz,\n"
         "zstd) are recognised by their content and read as the log they hold.\n";
}

void PrintImportSettings(std::ostream& out) {
  out << "The settings DefaultHost (the site's host name, for logs without a cs-host\n"
         "column), Extensions (file extensions that count as pages) and LogFormat (empty:\n"
         "W3C, common/combined and JSON logs as they come) steer the import.\n"
         "On a terminal the progress is shown on stderr; at the end one line tells the\n"
         "lines read and rejected, the sessions stored and already stored, and the time.\n"
         "A log file imported before and unchanged since is read on from where that\n"
         "import ended (setting IsResumingImports, default 1; 0 reads it from the start).\n"
         "The exit status is 1 when a file cannot be opened or read to its end, or when\n"
         "not one line of a file could be used; what was read is stored all the same.\n";
}

constexpr CliOption kImportOptions[] = {
    {.name = "--offset", .value = "N", .help = "start reading at byte N of the (only) file", .needs = "a byte offset"},
    {.name = "--from-last-header",
     .help = "start at the last \"#Software:\" header of the (only) file, so only the newest block of a W3C log "
             "is read again"},
    {.name = "--continue",
     .help = "the files continue the stored data (the next file of a split log, or the new part of a log read "
             "from --offset): sessions still open at the end of the stored data take their first requests and "
             "are completed in place"},
    {.name = "--follow",
     .help = "keep reading what the server adds to LOGFILE, every FollowSeconds seconds (setting, default 5), "
             "also after the log was truncated or replaced by a new file; Ctrl+C or SIGTERM ends it once "
             "everything read is stored"},
    {.name = "--format",
     .value = "FORMAT",
     .help = "read the lines with this format instead of the LogFormat setting: Apache LogFormat directives (%h "
             "%l %u %t \\\"%r\\\" %>s %b %{Referer}i %{User-Agent}i %v %D %T %U %q ...), nginx log_format "
             "variables ($remote_addr $time_local $request $status ...), or common, combined, vhost_combined"},
    {.name = "--rejects", .value = "FILE", .help = "write every rejected line to FILE as PATH:LINE:TEXT",
     .needs = "a file name", .allowEmpty = false},
};

class TerminalProgress : public ImportProgress {
 public:
  void OnProgress(int64_t bytesRead, int64_t bytesTotal, int64_t lines, int64_t sessions) override {
    char text[160];
    if (bytesTotal == 0 && bytesRead > 0) {  // standard input: the size is not known
      std::snprintf(text, sizeof text, "\rreading: %.1f MB, %lld lines, %lld sessions", bytesRead / 1048576.0,
                    static_cast<long long>(lines), static_cast<long long>(sessions));
    } else if (bytesRead < bytesTotal) {
      std::snprintf(text, sizeof text, "\rreading: %.1f of %.1f MB, %lld lines, %lld sessions", bytesRead / 1048576.0,
                    bytesTotal / 1048576.0, static_cast<long long>(lines), static_cast<long long>(sessions));
    } else {
      std::snprintf(text, sizeof text, "\rstoring: %lld sessions handled", static_cast<long long>(sessions));
    }
    std::fputs(text, stderr);
    std::fputs("\033[K", stderr);
    std::fflush(stderr);
    shown_ = true;
  }

  void Clear() {
    if (shown_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }

 private:
  bool shown_ = false;
};

bool ReadOffset(const std::string& text, int64_t& offset) {
  std::optional<int64_t> value = ParseDecimal(text);
  if (!value || *value < 0 || text[0] == '+' || text[0] == '-') return false;
  offset = *value;
  return true;
}

std::string OpenError(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::strerror(errno);
  struct stat info;
  bool folder = ::fstat(fd.Get(), &info) == 0 && S_ISDIR(info.st_mode);
  return folder ? "it is a folder" : "it cannot be read";
}

struct ImportArgs {
  std::vector<std::string> paths;
  int64_t offset = 0;
  bool haveOffset = false, fromLastHeader = false;
  bool haveFormat = false, continueStored = false, follow = false;
  std::string format, rejects;
};

// Reads the words of the command; an empty answer when they are usable, else the message.
std::string ReadImportArgs(const CliArgs& args, ImportArgs& parsed) {
  parsed.paths = args.Arguments();
  if (const std::string* offset = args.Last("--offset")) {
    if (!ReadOffset(*offset, parsed.offset)) return "invalid offset " + *offset;
    parsed.haveOffset = true;
  }
  if (const std::string* format = args.Last("--format")) {
    parsed.format = *format;
    parsed.haveFormat = true;
  }
  if (const std::string* rejects = args.Last("--rejects")) parsed.rejects = *rejects;
  parsed.fromLastHeader = args.Has("--from-last-header");
  parsed.continueStored = args.Has("--continue");
  parsed.follow = args.Has("--follow");
  if (parsed.paths.empty()) return "no log file given";
  if (parsed.haveOffset && parsed.fromLastHeader) return "give either --offset or --from-last-header";
  if (parsed.continueStored && parsed.fromLastHeader)
    return "--continue reads on after the stored data; --from-last-header reads stored lines again";
  if (parsed.follow && parsed.fromLastHeader) return "--follow reads on from --offset, not from the last header";
  if (parsed.follow && (parsed.paths.size() > 1 || parsed.paths[0] == kStandardInputPath))
    return "--follow follows one log file";
  if ((parsed.haveOffset || parsed.fromLastHeader) && parsed.paths.size() > 1)
    return "--offset and --from-last-header take a single log file";
  if (std::count(parsed.paths.begin(), parsed.paths.end(), std::string(kStandardInputPath)) > 1)
    return "standard input (-) can be read only once";
  if (parsed.fromLastHeader && parsed.paths[0] == kStandardInputPath)
    return "--from-last-header cannot read standard input twice";
  return {};
}

// Writes rejected lines as PATH:LINE:TEXT; the first failure to write is kept.
class RejectsFile {
 public:
  explicit RejectsFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) error_ = std::strerror(errno);
  }
  ~RejectsFile() {
    if (file_) std::fclose(file_);
  }
  bool IsOpen() const { return file_ != nullptr; }
  void Write(const std::string& path, int64_t lineNumber, std::string_view line) {
    if (!file_) return;
    std::fprintf(file_, "%s:%lld:", path.c_str(), static_cast<long long>(lineNumber));
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
  }
  // Closes the file; false (with Error set) when what was written did not all reach it.
  bool Close() {
    if (!file_) return false;
    bool failed = std::ferror(file_) != 0;
    if (std::fclose(file_) != 0) failed = true;
    file_ = nullptr;
    if (failed && error_.empty()) error_ = std::strerror(errno ? errno : EIO);
    return !failed;
  }
  const std::string& Error() const { return error_; }

 private:
  std::FILE* file_;
  std::string error_;
};

}  // namespace

int RunImportCommand(CliContext& context, const CliArgs& args) {
  ImportArgs parsed;
  std::string usage = ReadImportArgs(args, parsed);
  if (!usage.empty()) return CliUsage(context, usage, "import");
  const std::vector<std::string>& paths = parsed.paths;
  // A large log's sessions and the store's page cache are a hundred megabytes of fresh
  // memory, a page fault per 4 KB otherwise.
  if (UseHugePageHeap(HugePageArenas::kPerThread))
    SessionStoreThread::SetThreadStart([] { MarkThreadHeap(); });

  ImportCopies copies = CopyImportCopies();
  if (parsed.haveFormat) copies.logFormat = parsed.format;

  // Fail before reading a large log when there is nowhere to store it.
  std::string sourceError;
  if (!SourceIsOpen(&sourceError)) return CliFail(context, "cannot open " + sourceError);

  std::unique_ptr<RejectsFile> rejects;
  ImportOptions options;
  options.continueStored = parsed.continueStored;
  if (!parsed.rejects.empty()) {
    rejects = std::make_unique<RejectsFile>(parsed.rejects);
    if (!rejects->IsOpen()) return CliFail(context, "cannot write " + parsed.rejects + ": " + rejects->Error());
    RejectsFile* into = rejects.get();
    options.rejected = [into](const std::string& path, int64_t lineNumber, std::string_view line) {
      into->Write(path, lineNumber, line);
    };
  }

  if (parsed.follow) return RunImportFollow(context, paths[0], parsed.offset, options);
  int64_t offset = parsed.offset;
  if (parsed.fromLastHeader) offset = FindLastHeaderOffset(paths[0]);

  bool terminal = ::isatty(STDERR_FILENO) == 1;
  TerminalProgress progress;
  ImportStats stats = RunImport(paths, offset, copies, terminal ? &progress : nullptr, options);
  progress.Clear();
  bool rejectsWritten = rejects && rejects->Close();

  if (!stats.formatError.empty()) return CliFail(context, stats.formatError);
  if (!stats.opened) {
    std::string path = stats.unopenedPath.empty() ? paths[0] : stats.unopenedPath;
    return CliFail(context, "cannot open " + ShownPath(path) + ": " + OpenError(path));
  }
  std::string named = paths.size() == 1 ? ShownPath(paths[0]) : std::string("the logs");
  if (stats.databaseFailed) return CliFail(context, stats.error + " (nothing of " + named + " was stored)");

  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", stats.seconds);
  *context.out << stats.linesRead << " lines read, " << stats.linesRejected << " lines rejected";
  if (rejects && stats.linesRejected > 0) *context.out << " (written to " << parsed.rejects << ")";
  *context.out << ", " << stats.sessionsStored << " sessions stored, " << stats.sessionsAlreadyStored
               << " sessions already stored, ";
  if (stats.sessionsCompleted) *context.out << stats.sessionsCompleted << " sessions completed, ";
  *context.out << seconds << " seconds";
  if (stats.resumedAt > 0)
    *context.out << " (read on from byte " << stats.resumedAt << ", where the last import of " << named << " ended)";
  *context.out << '\n';
  if (rejects && !rejectsWritten)
    return CliFail(context, "the rejected lines could not all be written to " + parsed.rejects + ": " + rejects->Error());
  std::string problem = ImportProblem(stats);
  if (!problem.empty()) return CliFail(context, problem);
  return kExitOk;
}

const CliCommand kImportCommand = {.name = "import",
                                   .summary = "import log files (or standard input) into the database",
                                   .helpBefore = PrintImportUsage, .options = kImportOptions,
                                   .helpAfter = PrintImportSettings, .run = RunImportCommand};

}  // namespace weavil

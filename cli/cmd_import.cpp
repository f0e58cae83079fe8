#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/cli.h"
#include "import/import_driver.h"
#include "import/log_parser.h"
#include "store/database.h"

namespace weavil {

void PrintImportHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] import LOGFILE [--offset N | --from-last-header]\n"
         "\n"
         "Reads a web-server access log (W3C extended with a Fields directive, or\n"
         "common/combined), groups its requests into visitor sessions and stores the\n"
         "sessions that are not in the database yet. Importing a file again stores\n"
         "nothing new. Unusable lines are skipped and written to RovanTrace.txt.\n"
         "\n"
         "Options:\n"
         "  --offset N            start reading at byte N of the file\n"
         "  --from-last-header    start at the last \"#Software:\" header of the file, so\n"
         "                        only the newest block of a W3C log is read again\n"
         "  --continue            the file continues the stored data (the next file of a\n"
         "                        split log, or the new part of a log read from --offset):\n"
         "                        sessions still open at the end of the stored data take\n"
         "                        its first requests and are completed in place\n"
         "\n"
         "The settings DefaultHost (the site's host name, for logs without a cs-host\n"
         "column) and Extensions (file extensions that count as pages) steer the import.\n"
         "On a terminal the progress is shown on stderr; at the end one line tells the\n"
         "lines read and rejected, the sessions stored and already stored, and the time.\n";
}

namespace {

class TerminalProgress : public ImportProgress {
 public:
  void OnProgress(int64_t bytesRead, int64_t bytesTotal, int64_t lines, int64_t sessions) override {
    char text[160];
    if (bytesRead < bytesTotal) {
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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat info;
  bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  ::close(fd);
  return folder ? "it is a folder" : "it cannot be read";
}

}  // namespace

int RunImportCommand(CliContext& context, const std::vector<std::string>& args) {
  std::string path;
  int64_t offset = 0;
  bool haveOffset = false, fromLastHeader = false;
  ImportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--offset" || arg.rfind("--offset=", 0) == 0) {
      std::string value;
      if (arg == "--offset") {
        if (i + 1 >= args.size()) return CliUsage(context, "--offset needs a byte offset", "import");
        value = args[++i];
      } else {
        value = arg.substr(9);
      }
      if (!ReadOffset(value, offset)) return CliUsage(context, "invalid offset " + value, "import");
      haveOffset = true;
    } else if (arg == "--from-last-header") {
      fromLastHeader = true;
    } else if (arg == "--continue") {
      options.continueStored = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return CliUsage(context, "unknown option " + arg, "import");
    } else if (path.empty()) {
      path = arg;
    } else {
      return CliUsage(context, "only one log file can be imported at a time", "import");
    }
  }
  if (path.empty()) return CliUsage(context, "no log file given", "import");
  if (options.continueStored && fromLastHeader)
    return CliUsage(context, "--continue reads on after the stored data; --from-last-header reads stored lines again", "import");
  if (haveOffset && fromLastHeader) return CliUsage(context, "give either --offset or --from-last-header", "import");
  if (path == "-") path = "/dev/stdin";

  // Fail before reading a large log when there is nowhere to store it.
  LogDataSource& source = LogDataSource::Obtain();
  if (!source.IsOpen()) return CliFail(context, "cannot open " + source.Describe());

  if (fromLastHeader) offset = FindLastHeaderOffset(path);

  bool terminal = ::isatty(STDERR_FILENO) == 1;
  TerminalProgress progress;
  ImportStats stats = RunImport(path, offset, CopyImportCopies(), terminal ? &progress : nullptr, options);
  progress.Clear();

  if (!stats.opened) return CliFail(context, "cannot open " + path + ": " + OpenError(path));
  if (stats.databaseFailed) return CliFail(context, stats.error + " (nothing of " + path + " was stored)");

  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", stats.seconds);
  *context.out << stats.linesRead << " lines read, " << stats.linesRejected << " lines rejected, "
               << stats.sessionsStored << " sessions stored, " << stats.sessionsAlreadyStored
               << " sessions already stored, ";
  if (stats.sessionsCompleted) *context.out << stats.sessionsCompleted << " sessions completed, ";
  *context.out << seconds << " seconds\n";
  return kExitOk;
}

}  // namespace weavil

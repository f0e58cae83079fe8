#include "cli/cmd_import_follow.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <ostream>

#include "base/unique_fd.h"
#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "import/import_driver.h"
#include "import/import_mark.h"
#include "import/log_follower.h"
#include "settings/settings.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

std::string LocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &parts);
  return text;
}

void PrintRound(std::ostream& out, const std::string& path, const FollowRound& round) {
  if (round.truncated) out << LocalTime() << ' ' << path << " was truncated: reading it from its start\n";
  if (round.replaced) out << LocalTime() << ' ' << path << " was replaced: reading the new file from its start\n";
  if (round.linesRead > 0 && !round.failed) {
    out << LocalTime() << ' ' << round.linesRead << " lines read, " << round.linesRejected << " lines rejected, "
        << round.sessionsStored << " sessions stored, " << round.sessionsCompleted << " sessions completed\n";
  }
  out.flush();
}

}  // namespace

int RunImportFollow(CliContext& context, const std::string& path, int64_t offset, const ImportOptions& options) {
  if (path == "-" || path == "/dev/stdin") return CliUsage(context, "standard input cannot be followed", "import");
  if (!UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)))
    return CliFail(context, "cannot open " + path + ": " + std::strerror(errno));

  StopSignals signals(true);  // Ctrl+C and SIGTERM end the follow after the round under way
  const ImportCopies copies = CopyImportCopies();
  // A log imported before and unchanged up to where that import ended is followed on
  // from there, with the sessions still open there taken back, as an import of it reads
  // on: what was stored is not read again.
  std::optional<ImportMark> mark;
  if (offset == 0 && !options.continueStored && copies.resumeImports) mark = FindResumePoint(path, copies);
  LogFollower follower(path, copies, StopSignals::Requested());
  if (mark) follower.StartAt(mark->endOffset, true, mark->fieldsDirective);
  else follower.StartAt(offset, options.continueStored);
  int seconds = CopySettings().followSeconds;
  follower.SetSeconds(seconds);
  *context.out << "following " << path << " every " << seconds << " seconds; Ctrl+C ends\n";
  if (mark)
    *context.out << "reading on from byte " << mark->endOffset << ", where the last import of " << path << " ended\n";
  context.out->flush();
  FollowTotals totals = follower.Run([&](const FollowRound& round) { PrintRound(*context.out, path, round); });
  // Where the follow ended, so that a later import of the log reads on from there too.
  if (!totals.failed && copies.resumeImports) {
    if (std::optional<ImportMark> ended = follower.Mark()) {
      DbSession db;
      if (Succeeded(OpenSourceSession(db)) && Succeeded(db.StartTransaction())) {
        WriteImportMark(db, &*ended);
        if (db.FirstHardError().Failed()) db.Abort();
        else db.Commit();
      }
    }
  }
  *context.out << "followed " << path << ": " << totals.rounds << " rounds, " << totals.linesRead << " lines read, "
               << totals.linesRejected << " lines rejected, " << totals.sessionsStored << " sessions stored, "
               << totals.sessionsCompleted << " sessions completed\n";
  if (totals.failed)
    return CliFail(context, totals.error + " (stopped following " + path + " at byte " +
                                std::to_string(follower.Offset()) + ")");
  return kExitOk;
}

}  // namespace weavil

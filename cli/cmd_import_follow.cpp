#include "cli/cmd_import_follow.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <ostream>

#include "base/unique_fd.h"
#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "import/import_driver.h"
#include "import/log_follower.h"
#include "settings/settings.h"

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
  LogFollower follower(path, CopyImportCopies(), StopSignals::Requested());
  follower.StartAt(offset, options.continueStored);
  int seconds = CopySettings().followSeconds;
  follower.SetSeconds(seconds);
  *context.out << "following " << path << " every " << seconds << " seconds; Ctrl+C ends\n";
  context.out->flush();
  FollowTotals totals = follower.Run([&](const FollowRound& round) { PrintRound(*context.out, path, round); });
  *context.out << "followed " << path << ": " << totals.rounds << " rounds, " << totals.linesRead << " lines read, "
               << totals.linesRejected << " lines rejected, " << totals.sessionsStored << " sessions stored, "
               << totals.sessionsCompleted << " sessions completed\n";
  if (totals.failed)
    return CliFail(context, totals.error + " (stopped following " + path + " at byte " +
                                std::to_string(follower.Offset()) + ")");
  return kExitOk;
}

}  // namespace weavil

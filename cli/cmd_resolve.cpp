#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>

#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "net/host_resolver.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

namespace {

// Counts finished rows and draws a one-line counter when stderr is a terminal.
class ResolveCounter : public ResolveObserver {
 public:
  explicit ResolveCounter(std::ostream& err) : err_(err), tty_(::isatty(2) != 0) {}
  void SetTotal(size_t total) { total_ = total; }

  void RowChanged(size_t, const std::string& url) override {
    if (url == "*") return;
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (url == "-")
      ++notFound_;
    else
      ++resolved_;
    auto now = std::chrono::steady_clock::now();
    if (tty_ && (now - lastDraw_ > std::chrono::milliseconds(100) || done_ == total_)) {
      lastDraw_ = now;
      err_ << "\rResolving " << done_ << " of " << total_ << " addresses..." << std::flush;
      drawn_ = true;
    }
  }
  void RunFinished(bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    finishedCv_.notify_all();
  }

  // Waits for the end of the run; an interrupt stops launching new lookups.
  void WaitFinished(ResolveRun& run) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
      finishedCv_.wait_for(lock, std::chrono::milliseconds(100));
      if (StopSignals::Requested().load() && !run.StopRequested()) {
        lock.unlock();
        run.Stop();
        lock.lock();
      }
    }
    if (drawn_) err_ << '\n';
  }

  size_t Resolved() const { return resolved_; }
  size_t NotFound() const { return notFound_; }

 private:
  std::ostream& err_;
  size_t total_ = 0;
  bool tty_;
  std::mutex mutex_;
  std::condition_variable finishedCv_;
  bool finished_ = false;
  bool drawn_ = false;
  size_t done_ = 0;
  size_t resolved_ = 0;
  size_t notFound_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace

// Resolves the addresses of the list (with allUnresolved also those that failed
// before) and prints the summary. Also used by `download --resolve`.
int RunResolveBatch(CliContext& context, bool allUnresolved) {
  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;

  SystemReverseResolver resolver;
  ResolveCounter counter(*context.err);
  ResolveRun run(session, resolver, &counter);
  if (Failed(run.FillList(allUnresolved))) return CliFail(context, "cannot read the addresses to resolve");
  if (run.RowCount() == 0) {
    *context.out << "Nothing to resolve.\n";
    return kExitOk;
  }
  counter.SetTotal(run.RowCount());

  {
    StopSignals signals;
    run.Start();
    counter.WaitFinished(run);
    run.Wait();
  }

  if (run.FailedWrites() > 0)
    return CliFail(context, "cannot store the host names in the database " + session.ShownPath() + ": " +
                                run.FirstWriteError() + " (" + std::to_string(run.FailedWrites()) +
                                " not stored; the addresses stay unresolved)");
  size_t notStarted = run.RowCount() - counter.Resolved() - counter.NotFound();
  *context.out << counter.Resolved() << " resolved, " << counter.NotFound() << " not found";
  if (notStarted) *context.out << ", " << notStarted << " left for the next run (stopped)";
  *context.out << '\n';
  return kExitOk;
}

namespace {

void PrintResolveUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] resolve [--all]\n"
         "\n"
         "Looks up the host name of every client address that has none yet, up to 9\n"
         "at a time, and stores the name, its reversed form (for sorting by domain)\n"
         "and the country of the address. Prints how many were resolved and how many\n"
         "have no name. Ctrl+C stops starting new lookups; those running finish.\n";
}

constexpr CliOption kResolveOptions[] = {
    {.name = "--all", .help = "also try again the addresses whose lookup failed before"},
};

}  // namespace

int RunResolveCommand(CliContext& context, const CliArgs& args) {
  std::vector<std::string> words = args.Arguments();
  if (!words.empty()) return CliUsage(context, "unexpected argument " + words[0], "resolve");
  return RunResolveBatch(context, args.Has("--all"));
}

const CliCommand kResolveCommand = {.name = "resolve", .summary = "look up the host names of client addresses",
                                    .helpBefore = PrintResolveUsage, .options = kResolveOptions,
                                    .run = RunResolveCommand};

}  // namespace weavil

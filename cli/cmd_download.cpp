#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "cli/cli.h"
#include "cli/stop_signals.h"
#include "import/import_driver.h"
#include "net/download.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace weavil {

int RunResolveBatch(CliContext& context, bool allUnresolved);

namespace {

// A one-line bar on stderr when it is a terminal; nothing otherwise. Ctrl+C is the
// Cancel button: the transfer ends as at the end of the data and the import follows.
class TerminalDownloadProgress : public DownloadProgress {
 public:
  explicit TerminalDownloadProgress(std::ostream& err) : err_(err), tty_(::isatty(2) != 0) {}

  void SetProgress(int64_t done, int64_t total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = done;
    total_ = total;
    Draw(false);
  }
  void SetLine2(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    line2_ = text;
  }
  void Start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
  }
  bool HasUserCancelled() override { return StopSignals::Requested().load(); }
  void Stop() override { Finish(); }

  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) {
      Draw(true);
      err_ << '\n';
      drawn_ = false;
    }
  }

 private:
  void Draw(bool force) {
    if (!tty_ || !started_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int kWidth = 30;
    int filled = total_ > 0 ? static_cast<int>(std::min<int64_t>(kWidth, done_ * kWidth / total_)) : 0;
    err_ << "\rDownloading data... [" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << line2_ << "   " << std::flush;
    drawn_ = true;
  }

  std::ostream& err_;
  bool tty_;
  std::mutex mutex_;
  bool started_ = false;
  bool drawn_ = false;
  int64_t done_ = 0;
  int64_t total_ = 0;
  std::string line2_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

class TerminalImportProgress : public ImportProgress {
 public:
  explicit TerminalImportProgress(std::ostream& err) : err_(err), tty_(::isatty(2) != 0) {}
  ~TerminalImportProgress() override {
    if (drawn_) err_ << '\n';
  }
  void OnProgress(int64_t bytesRead, int64_t bytesTotal, int64_t lines, int64_t sessions) override {
    if (!tty_) return;
    int percent = bytesTotal > 0 ? static_cast<int>(bytesRead * 100 / bytesTotal) : 100;
    err_ << "\rImporting... " << percent << "%, " << lines << " lines, " << sessions << " sessions   " << std::flush;
    drawn_ = true;
  }

 private:
  std::ostream& err_;
  bool tty_;
  bool drawn_ = false;
};

void PrintDownloadUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] download URL [--dir DIR] [--incremental]\n"
         "                                     [--login USER --password PASS] [--resolve]\n"
         "\n"
         "Fetches a log file over HTTP(S) or FTP into DIR (the file keeps the name of the\n"
         "URL's last part, without its query), then imports it and, with --resolve,\n"
         "looks up the host names of the new addresses. The values are kept in the\n"
         "settings as the download dialog keeps them (Url, Path, IsLogin, Login, Pass,\n"
         "IsAutoResolve, IsIncremental). Ctrl+C ends the transfer early; what arrived is\n"
         "imported.\n";
}

void PrintDownloadProxy(std::ostream& out) {
  out << "The proxy settings IsProxy, ProxyHTTP, ProxyPortHTTP, ProxyFTP and ProxyPortFTP\n"
         "are used as the Options dialog sets them.\n";
}

constexpr CliOption kDownloadOptions[] = {
    {.name = "--dir", .value = "DIR", .help = "local folder (default: the setting Path)", .needs = "a folder",
     .allowEmpty = false},
    {.name = "--incremental",
     .help = "fetch only what was added since the last download (HTTP servers that honour byte ranges; FTP "
             "fetches the whole file) and import from the last log header of the old copy"},
    {.name = "--login", .value = "USER", .help = "user name for the server", .needs = "a user name"},
    {.name = "--password", .value = "PASS", .help = "password for the server (stored as plain text)",
     .needs = "a password"},
    {.name = "--resolve", .help = "resolve the unresolved addresses after the import"},
};

// The dialog's values from the words and the settings, which keep them. kExitOk, or the
// exit code after the usage error.
int ReadDownloadValues(CliContext& context, const CliArgs& args, DownloadDialogValues& values, Settings& settings) {
  std::vector<std::string> words = args.Arguments();
  if (words.empty()) return CliUsage(context, "download needs a URL", "download");
  if (words.size() > 1) return CliUsage(context, "only one URL can be given", "download");
  values.url = words[0];
  const std::string* dir = args.Last("--dir");
  const std::string* login = args.Last("--login");
  const std::string* password = args.Last("--password");
  if (!login != !password) return CliUsage(context, "--login and --password go together", "download");
  values.incremental = args.Has("--incremental");
  values.runResolve = args.Has("--resolve");
  values.isLogin = login != nullptr;
  std::lock_guard<std::mutex> lock(SettingsMutex());
  Settings& app = AppSettings();
  values.localPath = dir ? *dir : app.path;
  // Without --login the dialog keeps the stored name and password, unticked.
  values.login = login ? *login : app.login;
  values.password = password ? *password : app.pass;
  StoreDownloadSettings(values, app);
  settings = app;
  context.saveSettings = true;
  return kExitOk;
}

// Prints what the download brought.
void PrintDownloaded(CliContext& context, const std::string& url, const std::string& localFile,
                     const DownloadResult& result) {
  if (result.nothingNew)
    *context.out << "Nothing new at " << url << "; " << localFile << " is up to date.\n";
  else if (result.rotated)
    *context.out << "The log at " << url << " was replaced since the last download: " << result.received
                 << " bytes of the new log replaced " << localFile << '\n';
  else
    *context.out << (result.cancelled ? "Stopped after " : "Downloaded ") << result.received << " bytes "
                 << (result.writtenFrom > 0 ? "appended to " : "into ") << localFile << '\n';
}

// Imports the downloaded file from importOffset and prints the summary.
int ImportDownloaded(CliContext& context, const std::string& localFile, int64_t importOffset) {
  ImportStats stats;
  {
    TerminalImportProgress importProgress(*context.err);
    stats = RunImport(localFile, importOffset, &importProgress);
  }
  if (!stats.opened) return CliFail(context, "cannot read " + localFile);
  if (stats.databaseFailed) return CliFail(context, stats.error + " (nothing of " + localFile + " was stored)");
  *context.out << "Imported " << localFile;
  if (importOffset > 0) *context.out << " from byte " << importOffset;
  *context.out << ": " << stats.sessionsStored << " new sessions, " << stats.sessionsAlreadyStored
               << " already stored, " << stats.linesRead << " lines";
  if (stats.linesRejected) *context.out << " (" << stats.linesRejected << " unusable)";
  *context.out << '\n';
  std::string problem = ImportProblem(stats);
  if (!problem.empty()) return CliFail(context, problem);
  return kExitOk;
}

}  // namespace

int RunDownloadCommand(CliContext& context, const CliArgs& args) {
  DownloadDialogValues values;
  Settings settings;
  if (int code = ReadDownloadValues(context, args, values, settings); code != kExitOk) return code;
  if (values.localPath.empty()) return CliUsage(context, "no local folder: give --dir or set Path", "download");

  // The dialog keeps its values whatever the download does.
  DownloadRequest request = PrepareDownloadRequest(values, settings);
  if (request.fileName.empty()) {
    SaveAppSettings();
    return CliFail(context, "the URL " + values.url + " names no file");
  }
  std::error_code error;
  std::filesystem::create_directories(request.localPath, error);
  if (error) {
    SaveAppSettings();
    return CliFail(context, "cannot create the folder " + request.localPath + ": " + error.message());
  }

  DownloadResult result;
  {
    StopSignals signals;
    TerminalDownloadProgress progress(*context.err);
    result = RunDownload(request, &progress);
    progress.Finish();
  }
  if (!result.Succeeded()) {
    SaveAppSettings();
    return CliFail(context, values.url + ": " + result.message);
  }
  PrintDownloaded(context, values.url, request.LocalFile(), result);
  if (int code = ImportDownloaded(context, request.LocalFile(), ImportOffsetAfter(request, result)); code != kExitOk)
    return code;
  if (values.runResolve) return RunResolveBatch(context, false);
  return kExitOk;
}

const CliCommand kDownloadCommand = {.name = "download", .summary = "download a log over HTTP or FTP and import it",
                                     .helpBefore = PrintDownloadUsage, .options = kDownloadOptions,
                                     .helpAfter = PrintDownloadProxy, .run = RunDownloadCommand};

}  // namespace weavil

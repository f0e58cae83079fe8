#pragma once
// Log download over HTTP (with a byte range, so a growing log is fetched only from the
// end of the local copy) and FTP (always the whole file), into a local file that the
// import then reads from the import offset.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace weavil {

struct Settings;

inline constexpr const char* kDownloadAgent = "Weavil 1.4";
inline constexpr size_t kDownloadPieceSize = 32000;
// The first bytes of the local copy that an incremental download compares with the
// server's file, to see whether the log there was replaced (rotated) since.
inline constexpr int64_t kRotationProbeBytes = 1024;

// A transfer slower than lowSpeedBytes per second for lowSpeedSeconds has failed.
struct DownloadLimits {
  long lowSpeedBytes = 1000;
  long lowSpeedSeconds = 60;
};

// What the download dialog's OK leaves for the worker.
struct DownloadRequest {
  std::string url;
  std::string localPath;  // folder, always ending in "/"
  std::string fileName;   // file part of the URL
  std::string login;      // empty unless the login box was ticked
  std::string password;
  int64_t downloadOffset = 0;  // where the transfer starts in the local file
  int64_t importOffset = 0;    // where the following import starts reading
  bool runResolve = false;
  bool incremental = false;
  bool isProxy = false;
  std::string proxyHttp;
  int32_t proxyPortHttp = 0;
  std::string proxyFtp;
  int32_t proxyPortFtp = 0;
  DownloadLimits limits;
  bool acceptEncoding = true;  // a full HTTP download may come compressed ("NoAcceptEncoding" 0)

  std::string LocalFile() const { return localPath + fileName; }
};

// The dialog's fields as the user left them.
struct DownloadDialogValues {
  std::string url;
  std::string localPath;
  bool isLogin = false;
  std::string login;
  std::string password;
  bool runResolve = false;
  bool incremental = false;
};

// The text after the last "/" of the URL, cut at a "?" that follows it; the whole URL
// when it has no "/".
std::string FileNameFromUrl(std::string_view url);

// The folder with "/" appended when it does not end with one (empty stays empty).
std::string WithTrailingSlash(std::string folder);

// The dialog's OK: the request with both offsets decided. With Incremental the local
// file is scanned first: the transfer resumes at its current size and the import starts
// after its last "Software:" header line; otherwise both are 0. Proxy values come from
// the settings given.
DownloadRequest PrepareDownloadRequest(const DownloadDialogValues& values, const Settings& settings);

// Stores "Url", "Path", "IsLogin", "Login", "Pass", "IsAutoResolve" and "IsIncremental"
// as the dialog does. Login and password are kept as typed even when the box is clear.
void StoreDownloadSettings(const DownloadDialogValues& values, Settings& settings);

// The progress window the worker drives. Called from the worker thread: an implementation
// that shows widgets hands the calls to its own thread.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  virtual void SetProgress(int64_t done, int64_t total) = 0;
  virtual void SetLine2(const std::string& text) = 0;
  virtual void Start() = 0;  // shows the window; the transfer has begun
  virtual bool HasUserCancelled() = 0;
  virtual void Stop() = 0;  // closes the window (after a failure)
};

enum class DownloadOutcome : int32_t {
  kSuccess = 0,
  kInternetOpen = 1,  // "Internet open error"
  kRead = 2,          // "File reading error"
  kHtmlPage = 3,      // "File reading error": the server sent a page instead of the log
  kConnect = 4,       // the system's text, or "Connection failed"
  kRequest = 5,       // the system's text, or "Connection failed"
  kLocalWrite = 6,    // the local file could not take the data (disk full, ...)
  kNotLog = 7,        // "File reading error": the answer is no log; the local copy is kept
};

struct DownloadResult {
  DownloadOutcome outcome = DownloadOutcome::kSuccess;
  std::string message;          // the error box text; empty on success
  int64_t received = 0;         // bytes that arrived and were written
  int64_t total = 0;            // Content-Length, or the FTP file size; 0 when unknown
  int64_t writtenFrom = 0;      // where the bytes went: the offset, or 0 after a full rewrite
  long httpStatus = 0;          // 0 for FTP
  bool cancelled = false;       // Cancel ended the transfer (counts as success)
  bool nothingNew = false;      // the server had no bytes past the offset (416); the copy is kept
  // The server's log was replaced since the last download (it is shorter than the local
  // copy, or begins otherwise): the whole new file replaced the local copy.
  bool rotated = false;

  bool Succeeded() const { return outcome == DownloadOutcome::kSuccess; }
};

// "%d Kb (%d Kb)" in kilobytes of 1000 bytes when the total is above 1000, else "%d (%d)".
std::string DownloadProgressText(int64_t received, int64_t total);

// The whole transfer on the calling thread. progress may be null.
//
// An incremental HTTP download first compares the first bytes of the local copy with
// the server's (a small range request); when they differ, or the server's file is
// shorter, the log was rotated and the whole new file is fetched. Data that starts the
// file over goes into a temporary file beside the local one, which it replaces only
// when complete (or cancelled) and, over an existing log, only when its first line reads
// as a log line and it would not make an incremental copy shorter.
DownloadResult RunDownload(const DownloadRequest& request, DownloadProgress* progress);

// Where the import of the downloaded file starts: the request's import offset, or 0 when
// the log was rotated (the old copy's header position means nothing in the new file).
int64_t ImportOffsetAfter(const DownloadRequest& request, const DownloadResult& result);

// True when the first line of text reads as a log line: a directive ("#...") or a
// common/combined data line.
bool StartsLikeALog(std::string_view text);

// The download on its own thread. Only one download runs in the program at a time: the
// running flag is raised by Start and lowered by the worker just before it reports.
class DownloadWorker {
 public:
  // Stands for the download-finished command: called on the worker thread, in every case,
  // as the worker's last act.
  using Finished = std::function<void(const DownloadResult&)>;

  DownloadWorker() = default;
  ~DownloadWorker();
  DownloadWorker(const DownloadWorker&) = delete;
  DownloadWorker& operator=(const DownloadWorker&) = delete;

  // False, and nothing starts, while a download is running anywhere in the program.
  bool Start(DownloadRequest request, DownloadProgress* progress, Finished finished);
  void Join();

  static bool IsRunning();

 private:
  std::thread thread_;
};

}  // namespace weavil

#include "net/download.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "settings/settings.h"
#include "tests/net/loopback_servers.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::HttpLogServer;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class RecordingProgress : public DownloadProgress {
 public:
  void SetProgress(int64_t done, int64_t total) override {
    std::lock_guard<std::mutex> lock(mutex);
    progress.emplace_back(done, total);
  }
  void SetLine2(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(text);
  }
  void Start() override { started = true; }
  bool HasUserCancelled() override {
    std::lock_guard<std::mutex> lock(mutex);
    return cancelAfterLines > 0 && static_cast<int>(lines.size()) >= cancelAfterLines;
  }
  void Stop() override { stopped = true; }

  std::mutex mutex;
  std::vector<std::pair<int64_t, int64_t>> progress;
  std::vector<std::string> lines;
  int cancelAfterLines = 0;
  std::atomic<bool> started{false};
  std::atomic<bool> stopped{false};
};

DownloadRequest RequestFor(const std::string& url, const TempDir& dir, int64_t offset = 0) {
  DownloadRequest request;
  request.url = url;
  request.localPath = dir.Path() + "/";
  request.fileName = FileNameFromUrl(url);
  request.downloadOffset = offset;
  return request;
}

std::string LogText(int lines) {
  std::string text = "#Software: Test\n#Fields: date time c-ip cs-uri-stem\n";
  for (int i = 0; i < lines; ++i) text += "2024-01-01 10:00:" + std::to_string(10 + i % 50) + " 10.0.0.1 /p" + std::to_string(i) + ".html\n";
  return text;
}

TEST(DownloadNames, FileNameIsTheLastSegmentWithoutItsQuery) {
  EXPECT_EQ(FileNameFromUrl("http://host/logs/access.log"), "access.log");
  EXPECT_EQ(FileNameFromUrl("http://host/logs/access.log?x=1"), "access.log");
  EXPECT_EQ(FileNameFromUrl("http://host/a?b/c.log"), "c.log");  // only a "?" after the last "/" cuts
  EXPECT_EQ(FileNameFromUrl("access.log"), "access.log");
  EXPECT_EQ(FileNameFromUrl("http://host/"), "");
  EXPECT_EQ(WithTrailingSlash("/tmp/logs"), "/tmp/logs/");
  EXPECT_EQ(WithTrailingSlash("/tmp/logs/"), "/tmp/logs/");
}

TEST(DownloadNames, ProgressTextSwitchesToKilobytesAboveOneThousandBytes) {
  EXPECT_EQ(DownloadProgressText(500, 1000), "500 (1000)");
  EXPECT_EQ(DownloadProgressText(1500, 1001), "1 Kb (1 Kb)");
  EXPECT_EQ(DownloadProgressText(32000, 2500000), "32 Kb (2500 Kb)");
  // Sizes past 4 GiB are counted, not wrapped.
  EXPECT_EQ(DownloadProgressText(5000000000LL, 6000000000LL), "5000000 Kb (6000000 Kb)");
}

TEST(DownloadDialog, OffsetsComeFromTheOldCopyOnlyWhenIncremental) {
  TempDir dir;
  std::string old = "#Software: A\n#Fields: date\nline\n#Software: B\n#Fields: date time\nmore\n";
  WriteFile(dir.File("access.log"), old);
  Settings settings;
  settings.isProxy = 1;
  settings.proxyHttp = "proxy.example";
  settings.proxyPortHttp = 3128;

  DownloadDialogValues values;
  values.url = "http://host/logs/access.log?x=1";
  values.localPath = dir.Path();
  values.login = "me";
  values.password = "pw";
  values.incremental = true;
  DownloadRequest request = PrepareDownloadRequest(values, settings);
  EXPECT_EQ(request.LocalFile(), dir.Path() + "/access.log");
  EXPECT_EQ(request.downloadOffset, static_cast<int64_t>(old.size()));
  EXPECT_EQ(request.importOffset, static_cast<int64_t>(old.find("#Fields: date time")));
  EXPECT_EQ(request.login, "");  // the login box is clear
  EXPECT_TRUE(request.isProxy);
  EXPECT_EQ(request.proxyHttp, "proxy.example");
  EXPECT_EQ(request.proxyPortHttp, 3128);

  values.isLogin = true;
  values.incremental = false;
  request = PrepareDownloadRequest(values, settings);
  EXPECT_EQ(request.downloadOffset, 0);
  EXPECT_EQ(request.importOffset, 0);
  EXPECT_EQ(request.login, "me");
  EXPECT_EQ(request.password, "pw");

  // Incremental into a folder without a previous file starts at 0 and imports from 0.
  values.incremental = true;
  values.localPath = dir.Path() + "/empty";
  request = PrepareDownloadRequest(values, settings);
  EXPECT_EQ(request.downloadOffset, 0);
  EXPECT_EQ(request.importOffset, 0);

  StoreDownloadSettings(values, settings);
  EXPECT_EQ(settings.url, values.url);
  EXPECT_EQ(settings.path, dir.Path() + "/empty/");
  EXPECT_EQ(settings.isLogin, 1);
  EXPECT_EQ(settings.login, "me");
  EXPECT_EQ(settings.pass, "pw");
  EXPECT_EQ(settings.isIncremental, 1);
  EXPECT_EQ(settings.isAutoResolve, 0);
}

TEST(HttpDownload, IncrementalRequestAppendsOnlyTheNewBytes) {
  TempDir dir;
  std::string full = LogText(200);
  std::string old = full.substr(0, 3000);
  HttpLogServer server(HttpLogServer::Mode::kRanges, full);
  WriteFile(dir.File("access.log"), old);

  RecordingProgress progress;
  DownloadResult result = RunDownload(RequestFor(server.Url("/logs/access.log?x=1"), dir, 3000), &progress);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(ReadFile(dir.File("access.log")), full);
  EXPECT_EQ(result.writtenFrom, 3000);
  EXPECT_EQ(result.received, static_cast<int64_t>(full.size() - 3000));
  EXPECT_EQ(result.total, static_cast<int64_t>(full.size() - 3000));

  // First the check that the server's log begins as the local copy, then the new bytes.
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(test::HeaderValue(requests[0], "Range"), "bytes=0-1023");
  EXPECT_EQ(requests[1].rfind("GET /logs/access.log?x=1 HTTP/1.1\r\n", 0), 0u) << requests[1];
  EXPECT_EQ(test::HeaderValue(requests[1], "Range"), "bytes=3000-");
  EXPECT_EQ(test::HeaderValue(requests[1], "User-Agent"), "Weavil 1.4");
  EXPECT_EQ(test::HeaderValue(requests[1], "Accept"), "");

  // The window: 0 of 100 while connecting, 0 of the total when data starts, then lines.
  ASSERT_GE(progress.progress.size(), 3u);
  EXPECT_EQ(progress.progress[0], (std::pair<int64_t, int64_t>(0, 100)));
  EXPECT_EQ(progress.progress[1], (std::pair<int64_t, int64_t>(0, result.total)));
  EXPECT_EQ(progress.progress.back(), std::make_pair(result.received, result.total));
  EXPECT_EQ(progress.lines.back(), DownloadProgressText(result.received, result.total));
  EXPECT_TRUE(progress.started);
  EXPECT_FALSE(progress.stopped);
}

TEST(HttpDownload, CompressedAnswerIsStoredAsTheLogItself) {
  TempDir dir;
  std::string full = LogText(300);
  WriteFile(dir.File("plain.log"), full);
  ASSERT_EQ(std::system(("gzip -c " + dir.File("plain.log") + " > " + dir.File("packed.gz")).c_str()), 0);
  std::string packed = ReadFile(dir.File("packed.gz"));
  // Answers gzip-encoded whenever the request allows it, whatever it asked for.
  std::mutex mutex;
  std::vector<std::string> heads;
  test::LoopbackServer server([&](int fd) {
    std::string head = test::ReadHttpHead(fd);
    { std::lock_guard<std::mutex> lock(mutex); heads.push_back(head); }
    bool gzip = test::HeaderValue(head, "Accept-Encoding").find("gzip") != std::string::npos;
    const std::string& body = gzip ? packed : full;
    test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                          (gzip ? "\r\nContent-Encoding: gzip" : "") + "\r\nConnection: close\r\n\r\n" + body);
  });
  std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/access.log";

  RecordingProgress progress;
  DownloadRequest request = RequestFor(url, dir);
  DownloadResult result = RunDownload(request, &progress);
  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(ReadFile(dir.File("access.log")), full);
  EXPECT_EQ(result.received, static_cast<int64_t>(full.size()));
  EXPECT_EQ(progress.progress.back(), (std::pair<int64_t, int64_t>(packed.size(), packed.size())));

  // Off, and for an appending download, the request names no encoding.
  request.acceptEncoding = false;
  ASSERT_TRUE(RunDownload(request, nullptr).Succeeded());
  request.acceptEncoding = true;
  request.downloadOffset = 100;
  RunDownload(request, nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  // The appending download also asks for the copy's first bytes (the rotation check).
  ASSERT_GE(heads.size(), 3u);
  EXPECT_NE(test::HeaderValue(heads[0], "Accept-Encoding").find("gzip"), std::string::npos) << heads[0];
  for (size_t i = 1; i < heads.size(); ++i) EXPECT_EQ(heads[i].find("Accept-Encoding"), std::string::npos) << heads[i];
}

TEST(DownloadDialog, IncrementalDownloadOfACompressedCopyFetchesItWhole) {
  TempDir dir;
  WriteFile(dir.File("plain.log"), "#Software: A\n#Fields: date\nline\n");
  ASSERT_EQ(std::system(("gzip -c " + dir.File("plain.log") + " > " + dir.File("access.log.gz")).c_str()), 0);
  DownloadDialogValues values;
  values.url = "http://host/access.log.gz";
  values.localPath = dir.Path();
  values.incremental = true;
  Settings settings;
  DownloadRequest request = PrepareDownloadRequest(values, settings);
  EXPECT_EQ(request.downloadOffset, 0);
  EXPECT_EQ(request.importOffset, 0);
  EXPECT_TRUE(request.acceptEncoding);
  settings.noAcceptEncoding = 1;
  EXPECT_FALSE(PrepareDownloadRequest(values, settings).acceptEncoding);
}

TEST(HttpDownload, ServerWithoutRangesRewritesTheWholeFile) {
  TempDir dir;
  std::string full = LogText(20);
  HttpLogServer server(HttpLogServer::Mode::kNoRanges, full);
  // The old copy is longer than the new text: the file must be cut, not overwritten in part.
  WriteFile(dir.File("access.log"), std::string(full.size() * 2, 'x'));

  DownloadResult result = RunDownload(RequestFor(server.Url("/access.log"), dir, 1234), nullptr);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(result.writtenFrom, 0);
  EXPECT_EQ(ReadFile(dir.File("access.log")), full);
  // The old copy begins otherwise than the server's log: the whole new log is asked for.
  EXPECT_TRUE(result.rotated);
  EXPECT_EQ(test::HeaderValue(server.Requests().at(0), "Range"), "bytes=0-1023");
  EXPECT_EQ(test::HeaderValue(server.Requests().back(), "Range"), "bytes=0-");
}

TEST(HttpDownload, NothingNewLeavesTheLocalCopyAlone) {
  TempDir dir;
  std::string full = LogText(10);
  HttpLogServer server(HttpLogServer::Mode::kRanges, full);
  WriteFile(dir.File("access.log"), full);

  DownloadResult result =
      RunDownload(RequestFor(server.Url("/access.log"), dir, static_cast<int64_t>(full.size())), nullptr);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_TRUE(result.nothingNew);
  EXPECT_EQ(result.received, 0);
  EXPECT_EQ(ReadFile(dir.File("access.log")), full);
}

TEST(HttpDownload, HtmlPageIsRefusedAndNothingIsWritten) {
  TempDir dir;
  HttpLogServer server(HttpLogServer::Mode::kFixed, "<!DOCTYPE html><html><body>Sign in</body></html>", 200);
  WriteFile(dir.File("access.log"), "old");
  RecordingProgress progress;

  DownloadResult result = RunDownload(RequestFor(server.Url("/access.log"), dir), &progress);

  EXPECT_EQ(result.outcome, DownloadOutcome::kHtmlPage);
  EXPECT_EQ(result.message, "File reading error");
  EXPECT_EQ(ReadFile(dir.File("access.log")), "old") << "the page neither lands in nor cuts the local copy";
  EXPECT_TRUE(progress.stopped);
}

TEST(HttpDownload, ErrorAnswersLeaveTheLocalCopyAlone) {
  TempDir dir;
  const std::string earlier = LogText(3);
  WriteFile(dir.File("access.log"), earlier);
  for (int status : {404, 500}) {
    HttpLogServer server(HttpLogServer::Mode::kFixed, "Not Found\n", status);
    // A resumed download from a server that ignores ranges would otherwise start over.
    DownloadResult result =
        RunDownload(RequestFor(server.Url("/access.log"), dir, static_cast<int64_t>(earlier.size())), nullptr);
    EXPECT_EQ(result.outcome, DownloadOutcome::kRead) << status;
    EXPECT_EQ(result.message, "File reading error");
    EXPECT_EQ(result.httpStatus, status);
    EXPECT_EQ(ReadFile(dir.File("access.log")), earlier) << status;
  }
}

TEST(HttpDownload, SpacesInTheUrlAreSentEncoded) {
  TempDir dir;
  HttpLogServer server(HttpLogServer::Mode::kRanges, "x\n");
  DownloadResult result = RunDownload(RequestFor(server.Url("/my logs/access log.log"), dir), nullptr);
  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(server.Requests().at(0).rfind("GET /my%20logs/access%20log.log HTTP/1.1", 0), 0u) << server.Requests()[0];
  EXPECT_EQ(ReadFile(dir.File("access log.log")), "x\n");
}

TEST(HttpDownload, SmallFilesShowPlainByteCounts) {
  TempDir dir;
  HttpLogServer server(HttpLogServer::Mode::kRanges, std::string(700, 'a'));
  RecordingProgress progress;
  DownloadResult result = RunDownload(RequestFor(server.Url("/small.log"), dir), &progress);
  ASSERT_TRUE(result.Succeeded());
  EXPECT_EQ(progress.lines.back(), "700 (700)");
}

TEST(HttpDownload, CancelEndsLikeTheEndOfTheData) {
  TempDir dir;
  std::string big(400000, 'L');
  HttpLogServer server(HttpLogServer::Mode::kRanges, big);
  RecordingProgress progress;
  progress.cancelAfterLines = 1;

  DownloadResult result = RunDownload(RequestFor(server.Url("/big.log"), dir), &progress);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_TRUE(result.cancelled);
  EXPECT_GT(result.received, 0);
  EXPECT_LE(result.received, static_cast<int64_t>(kDownloadPieceSize));
  EXPECT_EQ(static_cast<int64_t>(ReadFile(dir.File("big.log")).size()), result.received);
  EXPECT_FALSE(progress.stopped);  // the window stays for the import
}

TEST(HttpDownload, UnreachableServerGivesTheSystemText) {
  TempDir dir;
  uint16_t port = test::FreePort();  // nobody listens there
  RecordingProgress progress;
  DownloadResult result =
      RunDownload(RequestFor("http://127.0.0.1:" + std::to_string(port) + "/access.log", dir), &progress);
  EXPECT_EQ(result.outcome, DownloadOutcome::kConnect);
  EXPECT_FALSE(result.message.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("access.log")));  // the local file is not touched
  EXPECT_TRUE(progress.stopped);
}

TEST(HttpDownload, LocalFolderThatDoesNotExistFailsTheRequest) {
  TempDir dir;
  HttpLogServer server(HttpLogServer::Mode::kRanges, "data\n");
  DownloadRequest request = RequestFor(server.Url("/access.log"), dir);
  request.localPath = dir.Path() + "/missing/";
  DownloadResult result = RunDownload(request, nullptr);
  EXPECT_EQ(result.outcome, DownloadOutcome::kRequest);
  EXPECT_NE(result.message.find(dir.Path() + "/missing/access.log"), std::string::npos) << result.message;
}

TEST(HttpDownload, ProxySwitchSendsTheRequestThroughTheHttpProxy) {
  TempDir dir;
  HttpLogServer proxy(HttpLogServer::Mode::kNoRanges, "via proxy\n");
  DownloadRequest request = RequestFor("http://logs.example.invalid/access.log", dir);
  request.isProxy = true;
  request.proxyHttp = "127.0.0.1";
  request.proxyPortHttp = proxy.Port();
  request.proxyFtp = "ftp-proxy.invalid";  // not used for HTTP

  DownloadResult result = RunDownload(request, nullptr);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(ReadFile(dir.File("access.log")), "via proxy\n");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("GET http://logs.example.invalid/access.log HTTP/1.1", 0), 0u)
      << proxy.Requests()[0];
}

// A log that another one replaced on the server (rotation): whether the new one is still
// shorter than the old copy or has grown past it, the whole new log is fetched, never a
// tail of it glued to the old copy.
TEST(HttpDownload, ARotatedLogIsFetchedWholeAndImportedFromItsStart) {
  TempDir dir;
  const std::string old = LogText(60);
  std::string fresh;
  for (int i = 0; i < 250; ++i) fresh += "10.9.9." + std::to_string(i % 200) + " - - [02/Jan/2024:00:00:00 +0000] \"GET /n HTTP/1.1\" 200 1\n";
  for (const std::string& served : {fresh.substr(0, old.size() / 2), fresh}) {
    WriteFile(dir.File("access.log"), old);
    HttpLogServer server(HttpLogServer::Mode::kRanges, served);
    DownloadRequest request = RequestFor(server.Url("/access.log"), dir, static_cast<int64_t>(old.size()));
    request.importOffset = 40;
    DownloadResult result = RunDownload(request, nullptr);
    ASSERT_TRUE(result.Succeeded()) << result.message;
    EXPECT_TRUE(result.rotated) << served.size();
    EXPECT_FALSE(result.nothingNew);
    EXPECT_EQ(ReadFile(dir.File("access.log")), served);
    EXPECT_EQ(ImportOffsetAfter(request, result), 0);
  }
}

// A server that ignores the range and answers with a page that is no log, or with
// nothing: the local log stays as it was.
TEST(HttpDownload, AnAnswerThatIsNoLogNeverReplacesTheLocalCopy) {
  TempDir dir;
  const std::string old = LogText(30);
  for (const std::string& page : {std::string("<html><body>Moved</body></html>\n"), std::string()}) {
    WriteFile(dir.File("access.log"), old);
    HttpLogServer server(HttpLogServer::Mode::kNoRanges, page);
    DownloadResult result =
        RunDownload(RequestFor(server.Url("/access.log"), dir, static_cast<int64_t>(old.size())), nullptr);
    EXPECT_EQ(result.outcome, DownloadOutcome::kNotLog) << page;
    EXPECT_EQ(result.message, "File reading error");
    EXPECT_EQ(ReadFile(dir.File("access.log")), old) << page;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary file is left";
}

// A server that trickles (here two bytes a second) ends the transfer once it stays
// below the low-speed limit for the limit's time; one that announces more than the
// disk can take ends before a byte is written.
TEST(HttpDownload, TricklingAndOversizedAnswersEndTheTransfer) {
  TempDir dir;
  test::LoopbackServer trickle([](int fd) {
    test::ReadHttpHead(fd);
    test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
    for (int i = 0; i < 100 && ::send(fd, "x", 1, MSG_NOSIGNAL) == 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
  });
  DownloadRequest request = RequestFor("http://127.0.0.1:" + std::to_string(trickle.Port()) + "/slow.log", dir);
  request.limits.lowSpeedSeconds = 2;
  auto start = std::chrono::steady_clock::now();
  DownloadResult result = RunDownload(request, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(result.outcome, DownloadOutcome::kRead) << result.message;

  test::LoopbackServer huge([](int fd) {
    test::ReadHttpHead(fd);
    test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 900000000000000000\r\n\r\n#Software: x\n");
  });
  WriteFile(dir.File("huge.log"), "kept\n");
  result = RunDownload(RequestFor("http://127.0.0.1:" + std::to_string(huge.Port()) + "/huge.log", dir), nullptr);
  EXPECT_EQ(result.outcome, DownloadOutcome::kLocalWrite);
  EXPECT_NE(result.message.find("not enough free disk space"), std::string::npos) << result.message;
  EXPECT_EQ(ReadFile(dir.File("huge.log")), "kept\n");
}

TEST(FtpDownload, AlwaysFetchesTheWholeFileWithItsSizeAsTotal) {
  TempDir served;
  TempDir dir;
  std::string full = LogText(300);
  WriteFile(served.File("access.log"), full);
  test::FtpServer ftp(served.Path(), "weavil", "secret");
  ASSERT_TRUE(ftp.Running()) << "python3-pyftpdlib is needed";
  WriteFile(dir.File("access.log"), full.substr(0, 100) + "stale tail that must go");

  DownloadRequest request = RequestFor("ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/access.log", dir, 123);
  request.login = "weavil";
  request.password = "secret";
  RecordingProgress progress;
  DownloadResult result = RunDownload(request, &progress);

  ASSERT_TRUE(result.Succeeded()) << result.message;
  EXPECT_EQ(result.writtenFrom, 0);
  EXPECT_EQ(result.total, static_cast<int64_t>(full.size()));
  EXPECT_EQ(ReadFile(dir.File("access.log")), full);
  EXPECT_EQ(progress.lines.back(), DownloadProgressText(result.total, result.total));
}

TEST(FtpDownload, MissingFileOrWrongLoginFails) {
  TempDir served;
  TempDir dir;
  WriteFile(served.File("access.log"), "x\n");
  test::FtpServer ftp(served.Path(), "weavil", "secret");
  ASSERT_TRUE(ftp.Running());
  std::string base = "ftp://127.0.0.1:" + std::to_string(ftp.Port());

  DownloadRequest missing = RequestFor(base + "/nothing.log", dir);
  missing.login = "weavil";
  missing.password = "secret";
  DownloadResult result = RunDownload(missing, nullptr);
  EXPECT_EQ(result.outcome, DownloadOutcome::kRequest) << result.message;
  EXPECT_FALSE(result.message.empty());

  DownloadRequest wrong = RequestFor(base + "/access.log", dir);
  wrong.login = "weavil";
  wrong.password = "wrong";
  result = RunDownload(wrong, nullptr);
  EXPECT_EQ(result.outcome, DownloadOutcome::kConnect) << result.message;
}

TEST(DownloadWorkerThread, OneDownloadAtATimeAndFinishedAlwaysComes) {
  TempDir dir;
  HttpLogServer server(HttpLogServer::Mode::kRanges, LogText(5));
  std::mutex mutex;
  std::condition_variable done;
  std::vector<DownloadResult> results;

  // A progress that holds the first worker until the second start has been tried.
  struct Gate : RecordingProgress {
    std::mutex gateMutex;
    std::condition_variable opened;
    bool open = false;
    void Start() override {
      std::unique_lock<std::mutex> lock(gateMutex);
      opened.wait(lock, [&] { return open; });
    }
  } gate;

  DownloadWorker first;
  DownloadWorker second;
  auto finished = [&](const DownloadResult& result) {
    std::lock_guard<std::mutex> lock(mutex);
    results.push_back(result);
    done.notify_all();
  };
  ASSERT_TRUE(first.Start(RequestFor(server.Url("/a.log"), dir), &gate, finished));
  EXPECT_TRUE(DownloadWorker::IsRunning());
  EXPECT_FALSE(second.Start(RequestFor(server.Url("/b.log"), dir), nullptr, finished));
  {
    std::lock_guard<std::mutex> lock(gate.gateMutex);
    gate.open = true;
  }
  gate.opened.notify_all();
  first.Join();
  EXPECT_FALSE(DownloadWorker::IsRunning());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].Succeeded());

  // A failing download reports too, and frees the flag.
  ASSERT_TRUE(second.Start(RequestFor("http://127.0.0.1:" + std::to_string(test::FreePort()) + "/x.log", dir),
                           nullptr, finished));
  second.Join();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].outcome, DownloadOutcome::kConnect);
  EXPECT_FALSE(DownloadWorker::IsRunning());
}

}  // namespace
}  // namespace weavil

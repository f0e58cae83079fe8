#include "net/download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>


namespace weavil {

namespace {

std::atomic<bool> gDownloadRunning{false};

constexpr std::string_view kHtmlStart = "<!DOCTYPE";

void EnsureCurlGlobal() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                         text[end - 1] == '\n'))
    --end;
  return std::string(text.substr(begin, end - begin));
}

// Blanks, control characters and bytes above 127 typed into the URL are sent
// percent-encoded, as a browser would; everything else stays as typed.
std::string EncodeUnsafeBytes(std::string_view url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(url.size());
  for (char c : url) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    } else {
      encoded.push_back(c);
    }
  }
  return encoded;
}

// Errors that mean the server (or proxy) was never reached or refused us: the "connect"
// step. Everything else before the first byte of data belongs to the request.
bool IsConnectError(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_WEIRD_PASS_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_LOGIN_DENIED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
      return true;
    default:
      return false;
  }
}

class Transfer {
 public:
  Transfer(const DownloadRequest& request, DownloadProgress* progress, bool ftp)
      : request_(request), progress_(progress), ftp_(ftp), offset_(ftp ? 0 : request.downloadOffset) {}
  ~Transfer() {
    if (fd_ >= 0) ::close(fd_);
  }

  DownloadResult Run(CURL* curl, const std::string& url);

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->Header(std::string_view(data, size * count));
  }
  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->Write(std::string_view(data, size * count));
  }
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(self)->Poll();
  }

 private:
  size_t Header(std::string_view line);
  size_t Write(std::string_view piece);
  int Poll();
  bool Begin();
  bool OpenLocal();
  void Fail(DownloadOutcome outcome, std::string message) {
    if (result_.outcome == DownloadOutcome::kSuccess) {
      result_.outcome = outcome;
      result_.message = std::move(message);
    }
  }
  bool Cancelled() {
    if (!result_.cancelled && progress_ && progress_->HasUserCancelled()) result_.cancelled = true;
    return result_.cancelled;
  }

  const DownloadRequest& request_;
  DownloadProgress* progress_;
  bool ftp_;
  CURL* curl_ = nullptr;
  int64_t offset_;
  int fd_ = -1;
  bool begun_ = false;
  bool firstPiece_ = true;
  bool discardBody_ = false;
  bool hasContentRange_ = false;
  int64_t contentLength_ = -1;
  DownloadResult result_;
};

size_t Transfer::Header(std::string_view line) {
  // A new status line starts the headers of the next answer (after a redirect).
  if (line.rfind("HTTP/", 0) == 0) {
    hasContentRange_ = false;
    contentLength_ = -1;
    return line.size();
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  std::string_view name = line.substr(0, colon);
  std::string value = Trim(line.substr(colon + 1));
  if (StartsWithNoCase(name, "Content-Range") && name.size() == 13) {
    hasContentRange_ = true;
  } else if (StartsWithNoCase(name, "Content-Length") && name.size() == 14) {
    char* end = nullptr;
    long long length = std::strtoll(value.c_str(), &end, 10);
    contentLength_ = (end != value.c_str() && length >= 0) ? length : 0;
  }
  return line.size();
}

// The answer has arrived: decide the total and where the data goes, and show the
// progress window. The local file is touched only once data that belongs in it arrives.
bool Transfer::Begin() {
  begun_ = true;
  if (!ftp_) {
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result_.httpStatus);
    // Nothing lies past the end of our copy: keep the file as it is rather than appending
    // the server's error text to the log.
    if (result_.httpStatus == 416 && offset_ > 0) {
      result_.nothingNew = true;
      discardBody_ = true;
      result_.writtenFrom = offset_;
      return true;
    }
    // Any other error answer is no part of the log: cutting the local copy for it would
    // lose what was downloaded before.
    if (result_.httpStatus >= 400) {
      Fail(DownloadOutcome::kRead, "File reading error");
      discardBody_ = true;
      result_.writtenFrom = offset_;
      return true;
    }
  }

  if (ftp_) {
    curl_off_t size = -1;
    curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    result_.total = size > 0 ? size : 0;
  } else {
    result_.total = contentLength_ > 0 ? contentLength_ : 0;
    // Without a Content-Range the server ignored the range and sends the whole file.
    if (!hasContentRange_) offset_ = 0;
  }
  result_.writtenFrom = offset_;

  if (progress_) {
    progress_->Start();
    progress_->SetProgress(0, result_.total);
  }
  return true;
}

// Opens the local file at the resume position, cutting it when the answer starts over.
bool Transfer::OpenLocal() {
  std::string path = request_.LocalFile();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    Fail(DownloadOutcome::kRequest, path + ": " + std::strerror(errno));
    return false;
  }
  if (::lseek(fd_, offset_, SEEK_SET) < 0 || (offset_ == 0 && ::ftruncate(fd_, 0) != 0)) {
    Fail(DownloadOutcome::kLocalWrite, path + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

size_t Transfer::Write(std::string_view piece) {
  if (!begun_ && !Begin()) return 0;
  if (discardBody_) return piece.size();
  if (piece.empty()) return 0;

  if (firstPiece_) {
    firstPiece_ = false;
    if (StartsWithNoCase(piece, kHtmlStart)) {
      Fail(DownloadOutcome::kHtmlPage, "File reading error");
      return 0;
    }
  }
  if (fd_ < 0 && !OpenLocal()) return 0;

  const char* data = piece.data();
  size_t left = piece.size();
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(DownloadOutcome::kLocalWrite, request_.LocalFile() + ": " + std::strerror(errno));
      return 0;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }

  result_.received += static_cast<int64_t>(piece.size());
  if (progress_) {
    progress_->SetLine2(DownloadProgressText(result_.received, result_.total));
    progress_->SetProgress(result_.received, result_.total);
  }
  // Cancel ends the transfer like the end of the data.
  if (Cancelled()) return 0;
  return piece.size();
}

int Transfer::Poll() { return Cancelled() ? 1 : 0; }

DownloadResult Transfer::Run(CURL* curl, const std::string& url) {
  curl_ = curl;
  char errorText[CURL_ERROR_SIZE] = {0};
  curl_slist* headers = nullptr;

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kDownloadAgent);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadPieceSize));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 60L);
  // A server that stops sending for a minute has failed the read.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  if (!request_.login.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, request_.login.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request_.password.c_str());
  }

  // With the switch off, connect directly: the empty proxy also keeps curl from taking
  // one from the environment.
  std::string proxy;
  if (request_.isProxy) {
    const std::string& host = ftp_ ? request_.proxyFtp : request_.proxyHttp;
    int32_t port = ftp_ ? request_.proxyPortFtp : request_.proxyPortHttp;
    if (!host.empty()) proxy = "http://" + host + ":" + std::to_string(port);
  }
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());

  if (ftp_) {
    curl_easy_setopt(curl, CURLOPT_FTPPORT, nullptr);  // passive
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);  // image mode: byte for byte
  } else {
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    std::string range = "Range: bytes=" + std::to_string(offset_) + "-";
    headers = curl_slist_append(headers, range.c_str());
    headers = curl_slist_append(headers, "Accept:");  // no accept list
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }

  if (progress_) progress_->SetProgress(0, 100);

  CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(headers);

  if (code == CURLE_OK) {
    // An empty answer still rewrites (or keeps) the local file as a full answer would.
    if (!begun_) Begin();
    if (result_.outcome == DownloadOutcome::kSuccess && !discardBody_ && fd_ < 0) OpenLocal();
  } else if (result_.outcome == DownloadOutcome::kSuccess && !result_.cancelled) {
    std::string text = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(code));
    if (text.empty()) text = "Connection failed";
    if (begun_)
      Fail(DownloadOutcome::kRead, "File reading error");
    else
      Fail(IsConnectError(code) ? DownloadOutcome::kConnect : DownloadOutcome::kRequest, text);
  }

  if (fd_ >= 0) {
    if (::close(fd_) != 0) Fail(DownloadOutcome::kLocalWrite, request_.LocalFile() + ": " + std::strerror(errno));
    fd_ = -1;
  }
  if (result_.outcome != DownloadOutcome::kSuccess) result_.cancelled = false;
  return result_;
}

}  // namespace

std::string FileNameFromUrl(std::string_view url) {
  size_t slash = url.rfind('/');
  std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
  size_t query = name.find('?');
  if (query != std::string_view::npos) name = name.substr(0, query);
  return std::string(name);
}

std::string WithTrailingSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string DownloadProgressText(int64_t received, int64_t total) {
  char text[64];
  if (total > 1000)
    std::snprintf(text, sizeof text, "%lld Kb (%lld Kb)", static_cast<long long>(received / 1000),
                  static_cast<long long>(total / 1000));
  else
    std::snprintf(text, sizeof text, "%lld (%lld)", static_cast<long long>(received),
                  static_cast<long long>(total));
  return text;
}

DownloadResult RunDownload(const DownloadRequest& request, DownloadProgress* progress) {
  EnsureCurlGlobal();
  DownloadResult failed;

  // Split the URL: FTP takes its own branch, every other scheme is fetched over HTTP
  // (https keeps its TLS). An explicit port is honoured.
  CURLU* parts = curl_url();
  if (!parts) {
    failed.outcome = DownloadOutcome::kInternetOpen;
    failed.message = "Internet open error";
    if (progress) progress->Stop();
    return failed;
  }
  bool ftp = false;
  std::string url;
  CURLUcode parsed = curl_url_set(parts, CURLUPART_URL, EncodeUnsafeBytes(Trim(request.url)).c_str(),
                                  CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME);
  if (parsed == CURLUE_OK) {
    char* scheme = nullptr;
    curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0);
    std::string schemeText = scheme ? scheme : "";
    curl_free(scheme);
    for (char& c : schemeText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ftp = schemeText == "ftp";
    if (!ftp && schemeText != "https") curl_url_set(parts, CURLUPART_SCHEME, "http", 0);
    char* full = nullptr;
    if (curl_url_get(parts, CURLUPART_URL, &full, 0) == CURLUE_OK && full) url = full;
    curl_free(full);
  }
  curl_url_cleanup(parts);
  if (url.empty()) {
    failed.outcome = DownloadOutcome::kConnect;
    failed.message = "The URL is invalid: " + request.url;
    if (progress) progress->Stop();
    return failed;
  }

  CURL* curl = curl_easy_init();
  if (!curl) {
    failed.outcome = DownloadOutcome::kInternetOpen;
    failed.message = "Internet open error";
    if (progress) progress->Stop();
    return failed;
  }
  DownloadResult result;
  {
    Transfer transfer(request, progress, ftp);
    result = transfer.Run(curl, url);
  }
  curl_easy_cleanup(curl);
  if (!result.Succeeded() && progress) progress->Stop();
  return result;
}

DownloadWorker::~DownloadWorker() { Join(); }

bool DownloadWorker::Start(DownloadRequest request, DownloadProgress* progress, Finished finished) {
  bool expected = false;
  if (!gDownloadRunning.compare_exchange_strong(expected, true)) return false;
  Join();
  thread_ = std::thread([request = std::move(request), progress, finished = std::move(finished)] {
    DownloadResult result = RunDownload(request, progress);
    gDownloadRunning.store(false);
    if (finished) finished(result);
  });
  return true;
}

void DownloadWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

bool DownloadWorker::IsRunning() { return gDownloadRunning.load(); }

}  // namespace weavil

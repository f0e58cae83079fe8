#include "net/download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "base/text.h"
#include "base/unique_fd.h"
#include "import/log_parser.h"

namespace weavil {

namespace {

std::atomic<bool> gDownloadRunning{false};

constexpr std::string_view kHtmlStart = "<!DOCTYPE";

void EnsureCurlGlobal() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl's handles, each freed by its own call on every path out.
struct CurlEasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct CurlHeadersFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlCleanup {
  void operator()(CURLU* parts) const { curl_url_cleanup(parts); }
};
struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlHeaders = std::unique_ptr<curl_slist, CurlHeadersFree>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;
using CurlText = std::unique_ptr<char, CurlTextFree>;

// Adds one header line; when libcurl cannot, the list stays as it was (and still owned).
void AppendHeader(CurlHeaders& headers, const std::string& line) {
  curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
  if (!longer) return;
  headers.release();
  headers.reset(longer);
}

// A range request from offset (to last, when last is not negative), with no accept list.
CurlHeaders RangeHeaders(int64_t offset, int64_t last) {
  CurlHeaders headers;
  AppendHeader(headers, "Range: bytes=" + std::to_string(offset) + "-" + (last >= 0 ? std::to_string(last) : ""));
  AppendHeader(headers, "Accept:");
  return headers;
}

// One URL part as text; empty when the URL has none.
std::string UrlPart(CURLU* parts, CURLUPart part) {
  char* text = nullptr;
  CURLUcode code = curl_url_get(parts, part, &text, 0);
  CurlText owned(text);
  return code == CURLUE_OK && owned ? std::string(owned.get()) : std::string();
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

// Options both the rotation probe and the transfer use.
void SetCommonOptions(CURL* curl, const DownloadRequest& request, const std::string& url, bool ftp, char* errorText,
                      std::string& proxy) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kDownloadAgent);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 60L);
  // A server that sends next to nothing for a minute (or never stops trickling) has
  // failed the read.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, request.limits.lowSpeedBytes);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, request.limits.lowSpeedSeconds);
  if (!request.login.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.login.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
  }
  // With the switch off, connect directly: the empty proxy also keeps curl from taking
  // one from the environment.
  proxy.clear();
  if (request.isProxy) {
    const std::string& host = ftp ? request.proxyFtp : request.proxyHttp;
    int32_t port = ftp ? request.proxyPortFtp : request.proxyPortHttp;
    if (!host.empty()) proxy = "http://" + host + ":" + std::to_string(port);
  }
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  if (!ftp) {
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  }
}

// The headers both read: a new status line (after a redirect) starts over.
struct AnswerHeaders {
  bool hasContentRange = false;
  int64_t contentLength = -1;
  int64_t rangeTotal = -1;  // the N of "bytes a-b/N" or "bytes */N"; -1 when unknown
  bool encoded = false;     // a Content-Encoding that curl decodes (the length counts encoded bytes)

  void Read(std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
      *this = AnswerHeaders();
      return;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    std::string_view name = line.substr(0, colon);
    std::string value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Range")) {
      hasContentRange = true;
      size_t slash = value.rfind('/');
      if (slash != std::string::npos && slash + 1 < value.size() && value[slash + 1] != '*') {
        char* end = nullptr;
        long long total = std::strtoll(value.c_str() + slash + 1, &end, 10);
        if (end != value.c_str() + slash + 1 && total >= 0) rangeTotal = total;
      }
    } else if (EqualsNoCase(name, "Content-Encoding")) {
      encoded = !value.empty() && !StartsWithNoCase(value, "identity");
    } else if (EqualsNoCase(name, "Content-Length")) {
      char* end = nullptr;
      long long length = std::strtoll(value.c_str(), &end, 10);
      contentLength = (end != value.c_str() && length >= 0) ? length : 0;
    }
  }
};

int64_t FileSize(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : 0;
}

std::string ReadHead(const std::string& path, size_t count) {
  std::string head(count, '\0');
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  size_t have = 0;
  while (have < count) {
    ssize_t got = ::read(fd.Get(), head.data() + have, count - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  head.resize(have);
  return head;
}

// Bytes the folder can still take; -1 when the system does not say.
int64_t FreeBytes(const std::string& folder) {
  struct statvfs info;
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

// The small range request of an incremental download: the server's first bytes, and its
// file's size, against the local copy's.
class RotationProbe {
 public:
  RotationProbe(std::string expected, int64_t localSize) : expected_(std::move(expected)), localSize_(localSize) {}

  // True when the server's log is another than the local copy's. A probe that cannot
  // tell (an error answer) says false and leaves the verdict to the transfer itself;
  // failed is set when the server could not be reached at all.
  bool Rotated(CURL* curl, const DownloadRequest& request, const std::string& url, DownloadResult& failed) {
    char errorText[CURL_ERROR_SIZE] = {0};
    std::string proxy;
    SetCommonOptions(curl, request, url, false, errorText, proxy);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &RotationProbe::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &RotationProbe::OnWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    CurlHeaders headers = RangeHeaders(0, static_cast<int64_t>(expected_.size()) - 1);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_reset(curl);
    if (status == 0 && code != CURLE_OK) {
      failed.outcome = IsConnectError(code) ? DownloadOutcome::kConnect : DownloadOutcome::kRequest;
      failed.message = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(code));
      return false;
    }
    int64_t total = headers_.rangeTotal >= 0 ? headers_.rangeTotal : status == 200 ? headers_.contentLength : -1;
    if (status == 416) return total >= 0 && total < localSize_;
    if (status != 200 && status != 206) return false;
    if (total >= 0 && total < localSize_) return true;
    return received_ != expected_;
  }

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    static_cast<RotationProbe*>(self)->headers_.Read(std::string_view(data, size * count));
    return size * count;
  }
  // Takes the first bytes, then ends the transfer: a server that ignores the range would
  // send its whole file.
  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* probe = static_cast<RotationProbe*>(self);
    size_t want = probe->expected_.size() - std::min(probe->expected_.size(), probe->received_.size());
    probe->received_.append(data, std::min(want, size * count));
    return probe->received_.size() >= probe->expected_.size() ? 0 : size * count;
  }

  std::string expected_;
  int64_t localSize_;
  AnswerHeaders headers_;
  std::string received_;
};

class Transfer {
 public:
  // offset: where the transfer starts (0 fetches the whole file); rotated: the probe found
  // the server's log replaced.
  Transfer(const DownloadRequest& request, DownloadProgress* progress, bool ftp, int64_t offset, bool rotated)
      : request_(request),
        progress_(progress),
        ftp_(ftp),
        incremental_(!ftp && request.downloadOffset > 0),
        rotated_(rotated),
        offset_(offset),
        localSize_(FileSize(request.LocalFile())) {}
  ~Transfer() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  }

  DownloadResult Run(CURL* curl, const std::string& url);
  // A 416 said the server's file is shorter than the local copy: fetch it whole.
  bool RestartWhole() const { return restartWhole_; }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    static_cast<Transfer*>(self)->headers_.Read(std::string_view(data, size * count));
    return size * count;
  }
  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->Write(std::string_view(data, size * count));
  }
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(self)->Poll();
  }

 private:
  size_t Write(std::string_view piece);
  int Poll();
  bool Begin();
  bool OpenLocal();
  void Settle();
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
  bool incremental_;
  bool rotated_;
  CURL* curl_ = nullptr;
  int64_t offset_;
  int64_t localSize_;
  int fd_ = -1;
  std::string tempPath_;  // the whole file arrives here first
  bool begun_ = false;
  bool firstPiece_ = true;
  bool discardBody_ = false;
  bool restartWhole_ = false;
  AnswerHeaders headers_;
  DownloadResult result_;
};

// The answer has arrived: decide the total and where the data goes, and show the
// progress window. The local file is touched only once data that belongs in it arrives.
bool Transfer::Begin() {
  begun_ = true;
  if (!ftp_) {
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result_.httpStatus);
    // Nothing lies past the end of our copy: keep the file as it is rather than appending
    // the server's error text to the log. A file there shorter than ours is a new log.
    if (result_.httpStatus == 416 && offset_ > 0) {
      discardBody_ = true;
      result_.writtenFrom = offset_;
      if (headers_.rangeTotal >= 0 && headers_.rangeTotal < localSize_) restartWhole_ = true;
      else result_.nothingNew = true;
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
    result_.total = headers_.contentLength > 0 ? headers_.contentLength : 0;
    // Without a Content-Range the server ignored the range and sends the whole file.
    if (!headers_.hasContentRange) offset_ = 0;
  }
  result_.writtenFrom = offset_;

  // An announced length the disk cannot take fails now, not when the disk is full.
  int64_t free = result_.total > 0 ? FreeBytes(request_.localPath) : -1;
  if (free >= 0 && result_.total > free) {
    Fail(DownloadOutcome::kLocalWrite, request_.LocalFile() + ": not enough free disk space (the server announces " +
                                           std::to_string(result_.total) + " bytes, " + std::to_string(free) +
                                           " are free)");
    return false;
  }

  if (progress_) {
    progress_->Start();
    progress_->SetProgress(0, result_.total);
  }
  return true;
}

// Opens where the data goes: the local file at the resume position when the answer
// continues it, else a new file beside it that replaces it at the end.
bool Transfer::OpenLocal() {
  std::string path = request_.LocalFile();
  if (offset_ > 0) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::lseek(fd_, offset_, SEEK_SET) < 0) {
      Fail(DownloadOutcome::kLocalWrite, path + ": " + std::strerror(errno));
      return false;
    }
  } else {
    std::string temp = path + ".part-XXXXXX";
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      tempPath_ = temp;
      ::fchmod(fd_, 0644);
    }
  }
  if (fd_ < 0) {
    Fail(DownloadOutcome::kRequest, path + ": " + std::strerror(errno));
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
    // Content-Length counts the encoded bytes: so does the progress of an encoded answer.
    int64_t shown = result_.received;
    curl_off_t arrived = 0;
    if (headers_.encoded && curl_easy_getinfo(curl_, CURLINFO_SIZE_DOWNLOAD_T, &arrived) == CURLE_OK) shown = arrived;
    progress_->SetLine2(DownloadProgressText(shown, result_.total));
    progress_->SetProgress(shown, result_.total);
  }
  // Cancel ends the transfer like the end of the data.
  if (Cancelled()) return 0;
  return piece.size();
}

int Transfer::Poll() { return Cancelled() ? 1 : 0; }

// A whole file that arrived replaces the local copy, unless that would lose a log: over
// an existing copy it must read as a log, and it may be shorter only when it is a new
// log (rotated) that arrived completely.
void Transfer::Settle() {
  if (tempPath_.empty()) return;
  std::string target = request_.LocalFile();
  bool replace = result_.outcome == DownloadOutcome::kSuccess;
  if (replace && localSize_ > 0) {
    int64_t size = FileSize(tempPath_);
    if (!StartsLikeALog(ReadHead(tempPath_, kMaxLineLength + 1))) {
      replace = false;
      if (!result_.cancelled) Fail(DownloadOutcome::kNotLog, "File reading error");
    } else if (size < localSize_ && (result_.cancelled || (incremental_ && !rotated_))) {
      replace = false;
      result_.nothingNew = true;
    }
  }
  if (replace && ::rename(tempPath_.c_str(), target.c_str()) != 0) {
    Fail(DownloadOutcome::kLocalWrite, target + ": " + std::strerror(errno));
    replace = false;
  }
  if (replace) {
    tempPath_.clear();
    result_.rotated = rotated_ && localSize_ > 0;
  }
}

DownloadResult Transfer::Run(CURL* curl, const std::string& url) {
  curl_ = curl;
  char errorText[CURL_ERROR_SIZE] = {0};
  CurlHeaders headers;
  std::string proxy;

  SetCommonOptions(curl, request_, url, ftp_, errorText, proxy);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadPieceSize));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);

  if (ftp_) {
    curl_easy_setopt(curl, CURLOPT_FTPPORT, nullptr);  // passive
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);  // image mode: byte for byte
  } else {
    headers = RangeHeaders(offset_, -1);
    // An answer with a Content-Encoding is always decoded, so the local file holds the
    // log itself. Only a full download asks for one: a slice of a compressed answer
    // cannot be appended to the copy.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    if (!request_.acceptEncoding || offset_ > 0) AppendHeader(headers, "Accept-Encoding:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  }

  CURLcode code = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);

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
  Settle();
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

namespace {

// A download that ends before any transfer: the progress window closes with it.
DownloadResult Failure(DownloadOutcome outcome, std::string message, DownloadProgress* progress) {
  DownloadResult failed;
  failed.outcome = outcome;
  failed.message = std::move(message);
  if (progress) progress->Stop();
  return failed;
}

// Splits the URL: FTP takes its own branch, every other scheme is fetched over HTTP
// (https keeps its TLS). An explicit port is honoured. url stays empty when the typed
// text is no URL; false when libcurl cannot parse at all.
bool ResolveUrl(const std::string& typed, std::string* url, bool* ftp) {
  CurlUrl parts(curl_url());
  if (!parts) return false;
  CURLUcode parsed = curl_url_set(parts.get(), CURLUPART_URL, EncodeUnsafeBytes(Trim(typed)).c_str(),
                                  CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME);
  if (parsed != CURLUE_OK) return true;
  std::string scheme = ToLowerAscii(UrlPart(parts.get(), CURLUPART_SCHEME));
  *ftp = scheme == "ftp";
  if (!*ftp && scheme != "https") curl_url_set(parts.get(), CURLUPART_SCHEME, "http", 0);
  *url = UrlPart(parts.get(), CURLUPART_URL);
  return true;
}

}  // namespace

DownloadResult RunDownload(const DownloadRequest& request, DownloadProgress* progress) {
  EnsureCurlGlobal();
  bool ftp = false;
  std::string url;
  if (!ResolveUrl(request.url, &url, &ftp))
    return Failure(DownloadOutcome::kInternetOpen, "Internet open error", progress);
  if (url.empty()) return Failure(DownloadOutcome::kConnect, "The URL is invalid: " + request.url, progress);

  CurlEasy curl(curl_easy_init());
  if (!curl) return Failure(DownloadOutcome::kInternetOpen, "Internet open error", progress);
  if (progress) progress->SetProgress(0, 100);
  int64_t offset = ftp ? 0 : request.downloadOffset;
  int64_t localSize = FileSize(request.LocalFile());
  bool rotated = false;
  if (offset > 0 && localSize > 0) {
    std::string head = ReadHead(request.LocalFile(), static_cast<size_t>(std::min(localSize, kRotationProbeBytes)));
    RotationProbe probe(head, localSize);
    DownloadResult failed;
    rotated = !head.empty() && probe.Rotated(curl.get(), request, url, failed);
    if (!failed.Succeeded()) {
      if (progress) progress->Stop();
      return failed;
    }
    if (rotated) offset = 0;
  }
  DownloadResult result;
  {
    Transfer transfer(request, progress, ftp, offset, rotated);
    result = transfer.Run(curl.get(), url);
    if (transfer.RestartWhole()) {
      curl_easy_reset(curl.get());
      Transfer whole(request, progress, ftp, 0, true);
      result = whole.Run(curl.get(), url);
    }
  }
  if (!result.Succeeded() && progress) progress->Stop();
  return result;
}

int64_t ImportOffsetAfter(const DownloadRequest& request, const DownloadResult& result) {
  return result.rotated ? 0 : request.importOffset;
}

bool StartsLikeALog(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return false;
  if (line[0] == '#') return true;  // a W3C directive
  std::string copy(line);
  return ConvertNcsaLine(copy);
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

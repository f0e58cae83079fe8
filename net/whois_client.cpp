#include "net/whois_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "base/unique_fd.h"
#include "settings/settings.h"

namespace weavil {

namespace {

using Clock = std::chrono::steady_clock;

// Dotted text first, the name service when it is not one. IPv4 only: that is all a
// SOCKS 4 request can carry.
bool ResolveIpv4(const std::string& host, uint32_t& address) {
  in_addr parsed{};
  if (::inet_aton(host.c_str(), &parsed) != 0) {
    address = parsed.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

void SetError(WhoisResult& result, WhoisStatus status, std::string error) {
  if (result.status != WhoisStatus::kOk) return;
  result.status = status;
  result.error = std::move(error);
}

std::string Endpoint(const std::string& host, uint16_t port) { return host + ":" + std::to_string(port); }

}  // namespace

const std::array<std::string, 5>& WhoisServers() {
  static const std::array<std::string, 5> servers = {
      "whois.apnic.net", "whois.arin.net", "whois.lacnic.net", "whois.ripe.net", "whois.verisign-grs.com",
  };
  return servers;
}

std::string ChooseWhoisServer(std::string_view countryCode) {
  const auto& servers = WhoisServers();
  if (std::string_view(kArinCountries).find(countryCode) != std::string_view::npos) return servers[kWhoisArin];
  if (std::string_view(kRipeCountries).find(countryCode) != std::string_view::npos) return servers[kWhoisRipe];
  if (std::string_view(kLacnicCountries).find(countryCode) != std::string_view::npos) return servers[kWhoisLacnic];
  return servers[kWhoisApnic];
}

int FindWhoisServerEntry(std::string_view server) {
  const auto& servers = WhoisServers();
  const int count = static_cast<int>(servers.size());
  for (int step = 0; step < count; ++step) {
    int index = (1 + step) % count;
    if (servers[index].compare(0, server.size(), server) == 0 && servers[index].size() >= server.size())
      return index;
  }
  return -1;
}

std::string WhoisQueryForVisitor(std::string_view url, std::string_view address) {
  std::string trimmed = Trim(url);
  if (trimmed.empty() || trimmed == "-") return std::string(address);
  return trimmed;
}

std::string WhoisSelection(std::string_view answer, size_t selectionStart, size_t selectionEnd) {
  constexpr size_t kVisible = 4999;
  std::string_view box = answer.substr(0, std::min(answer.size(), kVisible));
  if (selectionStart > selectionEnd) std::swap(selectionStart, selectionEnd);
  if (selectionStart >= box.size()) return {};
  selectionEnd = std::min(selectionEnd, box.size());
  return std::string(box.substr(selectionStart, selectionEnd - selectionStart));
}

std::string WhoisAnswerText(std::string_view received) {
  std::string text;
  text.reserve(received.size() + received.size() / 16);
  for (char c : received) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  return text;
}

bool IsSendableWhoisQuery(std::string_view query) {
  for (char c : query) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return true;
}

WhoisRequest MakeWhoisRequest(std::string query, std::string server, const Settings& settings) {
  WhoisRequest request;
  request.query = std::move(query);
  request.server = std::move(server);
  request.useProxy = settings.isProxy != 0;
  request.proxyHost = settings.proxy;
  request.proxyPort = static_cast<uint16_t>(settings.proxyPort);
  return request;
}

WhoisExchange::WhoisExchange() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

WhoisExchange::~WhoisExchange() {
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void WhoisExchange::Stop() {
  stopped_.store(true);
  if (wakeWrite_ >= 0) {
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &byte, 1);
  }
}

// Waits until fd is ready for events, the deadline passes or Stop is called.
bool WhoisExchange::Wait(int fd, short events, Clock::time_point deadline, WhoisResult& result) {
  for (;;) {
    if (stopped_.load()) {
      SetError(result, WhoisStatus::kStopped, "stopped");
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      SetError(result, WhoisStatus::kTimedOut, "timed out");
      return false;
    }
    pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
    int ready = ::poll(fds, wakeRead_ >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      SetError(result, WhoisStatus::kReceiveFailed, std::strerror(errno));
      return false;
    }
    if (ready == 0) continue;
    if (fds[1].revents) continue;  // Stop: seen at the top of the loop
    if (fds[0].revents) return true;
  }
}

bool WhoisExchange::Connect(int fd, uint32_t address, uint16_t port, std::chrono::milliseconds timeout,
                            WhoisResult& result) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return true;
  if (errno != EINPROGRESS) {
    SetError(result, WhoisStatus::kConnectFailed, std::strerror(errno));
    return false;
  }
  if (!Wait(fd, POLLOUT, Clock::now() + timeout, result)) return false;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    SetError(result, WhoisStatus::kConnectFailed, std::strerror(error));
    return false;
  }
  return true;
}

bool WhoisExchange::SendAll(int fd, const char* data, size_t size, std::chrono::milliseconds timeout,
                            WhoisResult& result) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!Wait(fd, POLLOUT, Clock::now() + timeout, result)) return false;
        continue;
      }
      SetError(result, WhoisStatus::kSendFailed, std::strerror(errno));
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Reads the answer until the server closes, within the receive time-out, the exchange's
// deadline and the size limit.
void WhoisExchange::Receive(int fd, const WhoisRequest& request, std::string& received, WhoisResult& result) {
  const std::string server = Endpoint(request.server, request.port);
  char piece[kWhoisPieceSize];
  for (;;) {
    auto now = Clock::now();
    bool deadlineFirst = exchangeEnd_ < now + request.timeout;
    if (!Wait(fd, POLLIN, deadlineFirst ? exchangeEnd_ : now + request.timeout, result)) {
      if (result.status == WhoisStatus::kTimedOut && deadlineFirst) {
        result.status = WhoisStatus::kTooLong;
        result.error = "the answer of " + server + " took longer than " +
                       std::to_string(request.deadline.count() / 1000) + " s; it was cut there";
      } else if (result.status == WhoisStatus::kTimedOut) {
        result.error = "no answer from " + server + " within " + std::to_string(request.timeout.count() / 1000) + " s";
      }
      return;
    }
    ssize_t got = ::recv(fd, piece, sizeof piece, 0);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      SetError(result, WhoisStatus::kReceiveFailed, std::strerror(errno));
      return;
    }
    if (got == 0) return;
    // The piece counts as text up to its first zero byte.
    size_t length = std::min(::strnlen(piece, static_cast<size_t>(got)), request.maxAnswer - received.size());
    received.append(piece, length);
    if (request.onPiece && length) request.onPiece(std::string_view(piece, length));
    if (received.size() >= request.maxAnswer) {
      SetError(result, WhoisStatus::kTooLong,
               "the answer of " + server + " is longer than " + std::to_string(request.maxAnswer / 1024) +
                   " KB; it was cut there");
      return;
    }
  }
}

WhoisResult WhoisExchange::Run(const WhoisRequest& request) {
  WhoisResult result;
  std::string received;
  exchangeEnd_ = Clock::now() + request.deadline;
  if (!IsSendableWhoisQuery(request.query)) {
    // A line break would make a second protocol line of the rest.
    result.status = WhoisStatus::kBadQuery;
    result.error = "the query holds a control character (a line break or the like); nothing was sent";
    result.answer = "Query refused: it holds a control character";
    return result;
  }

  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int fd = socket.Get();
  if (!socket) {
    result.status = WhoisStatus::kSocketError;
    result.answer = "Create Socet Error";
    result.error = std::string("cannot create a socket: ") + std::strerror(errno);
    return result;
  }

  bool connected = false;
  uint32_t serverAddress = 0;
  if (!ResolveIpv4(request.server, serverAddress)) {
    SetError(result, WhoisStatus::kNotResolved, "cannot resolve the whois server " + request.server);
  } else if (!request.useProxy) {
    connected = Connect(fd, serverAddress, request.port, request.timeout, result);
    if (!connected && result.status != WhoisStatus::kStopped)
      result.error = "cannot connect to " + Endpoint(request.server, request.port) + ": " + result.error;
  } else {
    uint32_t proxyAddress = 0;
    if (!ResolveIpv4(request.proxyHost, proxyAddress)) {
      SetError(result, WhoisStatus::kNotResolved, "cannot resolve the SOCKS proxy " + request.proxyHost);
    } else if (!Connect(fd, proxyAddress, request.proxyPort, request.timeout, result)) {
      if (result.status != WhoisStatus::kStopped)
        result.error = "cannot connect to the SOCKS proxy " + Endpoint(request.proxyHost, request.proxyPort) +
                       ": " + result.error;
    } else {
      // SOCKS 4 connect: version, command, port and address in network order, empty user.
      unsigned char connect[9] = {4, 1, static_cast<unsigned char>(request.port >> 8),
                                  static_cast<unsigned char>(request.port & 0xff), 0, 0, 0, 0, 0};
      std::memcpy(connect + 4, &serverAddress, 4);
      if (SendAll(fd, reinterpret_cast<const char*>(connect), sizeof connect, request.timeout, result)) {
        unsigned char reply[8];
        size_t have = 0;
        auto deadline = Clock::now() + request.timeout;
        while (have < sizeof reply) {
          if (!Wait(fd, POLLIN, deadline, result)) break;
          ssize_t got = ::recv(fd, reply + have, sizeof reply - have, 0);
          if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
          if (got <= 0) break;
          have += static_cast<size_t>(got);
        }
        if (have == sizeof reply && reply[1] == 'Z') {
          connected = true;
        } else if (result.status == WhoisStatus::kOk) {
          SetError(result, WhoisStatus::kProxyRefused,
                   "the SOCKS proxy " + Endpoint(request.proxyHost, request.proxyPort) + " refused the connection to " +
                       Endpoint(request.server, request.port));
        }
      }
    }
  }

  if (connected) {
    std::string line = request.query + " \r\n";
    if (SendAll(fd, line.data(), line.size(), request.timeout, result)) Receive(fd, request, received, result);
  }

  socket.Reset();
  result.answer = WhoisAnswerText(received);
  return result;
}

WhoisWorker::~WhoisWorker() {
  Stop();
  Wait();
}

bool WhoisWorker::Start(WhoisRequest request, Done done) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_.load()) return false;
  if (thread_.joinable()) thread_.join();
  stop_.store(false);
  running_.store(true);
  exchange_ = std::make_shared<WhoisExchange>();
  thread_ = std::thread([this, exchange = exchange_, request = std::move(request), done = std::move(done)] {
    WhoisResult result = exchange->Run(request);
    if (!stop_.load() && done) done(request, result);
    running_.store(false);
  });
  return true;
}

void WhoisWorker::Stop() {
  stop_.store(true);
  std::lock_guard<std::mutex> lock(mutex_);
  if (exchange_) exchange_->Stop();
}

void WhoisWorker::Wait() {
  std::thread finishing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing = std::move(thread_);
  }
  if (finishing.joinable()) finishing.join();
}

}  // namespace weavil

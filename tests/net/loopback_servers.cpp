#include "tests/net/loopback_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace weavil::test {

namespace {

int ListenLoopback(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

bool CanConnect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::string Python() {
  // The system interpreter carries the Debian packages (pyftpdlib).
  if (::access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
  return "python3";
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ListenLoopback(port_);
  acceptThread_ = std::thread(&LoopbackServer::AcceptLoop, this);
}

LoopbackServer::~LoopbackServer() {
  stopping_.store(true);
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_.load()) return;
      if (errno == EINTR) continue;
      return;
    }
    connections_.fetch_add(1);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.load()) {
      ::close(fd);
      return;
    }
    openFds_.push_back(fd);
    threads_.emplace_back([this, fd] {
      handler_(fd);
      std::lock_guard<std::mutex> lock(mutex_);
      openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
      ::close(fd);
    });
  }
}

std::string ReadHttpHead(int fd) {
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos) {
    ssize_t got = ::recv(fd, &c, 1, 0);
    if (got <= 0) break;
    head.push_back(c);
  }
  return head;
}

std::string ReadBytes(int fd, size_t count) {
  std::string data(count, '\0');
  size_t have = 0;
  while (have < count) {
    ssize_t got = ::recv(fd, data.data() + have, count - have, 0);
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  data.resize(have);
  return data;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::recv(fd, &c, 1, 0) == 1) {
    line.push_back(c);
    if (c == '\n') break;
  }
  return line;
}

void SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

std::string HeaderValue(const std::string& head, const std::string& name) {
  std::istringstream lines(head);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      size_t start = name.size() + 1;
      while (start < line.size() && line[start] == ' ') ++start;
      return line.substr(start);
    }
  }
  return {};
}

HttpLogServer::HttpLogServer(Mode mode, std::string body, int fixedStatus)
    : mode_(mode), fixedStatus_(fixedStatus), body_(std::move(body)), server_([this](int fd) { Serve(fd); }) {}

void HttpLogServer::SetBody(std::string body) {
  std::lock_guard<std::mutex> lock(mutex_);
  body_ = std::move(body);
}

std::string HttpLogServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(Port()) + path;
}

std::vector<std::string> HttpLogServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void HttpLogServer::Serve(int fd) {
  std::string head = ReadHttpHead(fd);
  if (head.empty()) return;
  std::string body;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(head);
    body = body_;
  }
  std::string status = "200 OK";
  std::string extra;
  std::string payload = body;
  std::string range = HeaderValue(head, "Range");
  if (mode_ == Mode::kFixed) {
    status = std::to_string(fixedStatus_) + " Status";
  } else if (mode_ == Mode::kRanges && range.rfind("bytes=", 0) == 0) {
    long long from = std::atoll(range.c_str() + 6);
    long long size = static_cast<long long>(body.size());
    if (from >= size && size > 0) {
      status = "416 Range Not Satisfiable";
      extra = "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      payload = "<html><body>416 Range Not Satisfiable</body></html>";
    } else {
      status = "206 Partial Content";
      extra = "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
              std::to_string(size) + "\r\n";
      payload = body.substr(static_cast<size_t>(from));
    }
  }
  std::string answer = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                       std::to_string(payload.size()) + "\r\n" + extra + "Connection: close\r\n\r\n";
  SendAll(fd, answer + payload);
}

namespace {

// Pointers to each text, ended by the null pointer an argv or envp array ends with.
std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts words[0] with the arguments after it: the program's own path when an environment
// is given, else looked up in PATH with this process's environment. Standard input reads
// /dev/null; out and err take standard output and error (-1: /dev/null). -1 when it did
// not start.
pid_t Spawn(std::vector<std::string> words, std::vector<std::string>* environment, int out, int err) {
  std::vector<char*> argv = CStrings(words);
  std::vector<char*> envp = environment ? CStrings(*environment) : std::vector<char*>();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (auto [fd, target] : {std::pair{1, out}, std::pair{2, err}}) {
    if (target < 0) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
    else posix_spawn_file_actions_adddup2(&actions, target, fd);
  }
  pid_t pid = -1;
  int spawned = environment ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data())
                            : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

}  // namespace

uint16_t FreePort() {
  uint16_t port = 0;
  int fd = ListenLoopback(port);
  ::close(fd);
  return port;
}

FtpServer::FtpServer(const std::string& folder, const std::string& user, const std::string& password) {
  uint16_t port = FreePort();
  std::vector<std::string> words = {Python(), "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port),
                                    "-d", folder};
  if (!user.empty()) {
    words.insert(words.end(), {"-u", user, "-P", password});
  }
  pid_t pid = Spawn(words, nullptr, -1, -1);
  if (pid < 0) return;
  pid_ = pid;
  for (int i = 0; i < 100; ++i) {
    if (CanConnect(port)) {
      port_ = port;
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

FtpServer::~FtpServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, int timeoutSeconds) {
  ProcessResult result;
  char outName[] = "/tmp/weavil-net-out-XXXXXX";
  char errName[] = "/tmp/weavil-net-err-XXXXXX";
  int outFd = ::mkstemp(outName);
  int errFd = ::mkstemp(errName);

  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!env.count(name)) environment.push_back(entry);
  }
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);

  pid_t pid = Spawn(words, &environment, outFd, errFd);
  if (pid >= 0) {
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
      pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) {
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.exitCode = -2;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ::close(outFd);
  ::close(errFd);
  std::ifstream outFile(outName), errFile(errName);
  std::stringstream outText, errText;
  outText << outFile.rdbuf();
  errText << errFile.rdbuf();
  result.out = outText.str();
  result.err = errText.str();
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

}  // namespace weavil::test

#pragma once
// Servers on 127.0.0.1 for the network tests: a TCP listener that hands each connection
// to a handler on its own thread, an HTTP log server, an FTP server process, and helpers
// to read requests and run the program.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace weavil::test {

// Accepts connections on a free loopback port; each one runs handler(fd) on its own
// thread and is closed afterwards. The destructor stops accepting, shuts every open
// connection down and joins the threads.
class LoopbackServer {
 public:
  using Handler = std::function<void(int fd)>;
  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t Port() const { return port_; }
  int Connections() const { return connections_.load(); }

 private:
  void AcceptLoop();

  Handler handler_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::vector<int> openFds_;
};

// Reads until "\r\n\r\n" (or the peer closes); returns what came.
std::string ReadHttpHead(int fd);
// Reads exactly count bytes (less when the peer closes first).
std::string ReadBytes(int fd, size_t count);
// Reads up to and including the first "\n".
std::string ReadLine(int fd);
void SendAll(int fd, const std::string& data);

// Serves one log text over HTTP. Modes: honour "Range: bytes=N-" (206 with Content-Range,
// 416 past the end), ignore ranges (always 200, whole text), or answer with a fixed
// status and body. Every request head is kept.
class HttpLogServer {
 public:
  enum class Mode { kRanges, kNoRanges, kFixed };
  explicit HttpLogServer(Mode mode, std::string body = {}, int fixedStatus = 200);

  void SetBody(std::string body);
  uint16_t Port() const { return server_.Port(); }
  std::string Url(const std::string& path) const;
  std::vector<std::string> Requests() const;

 private:
  void Serve(int fd);

  Mode mode_;
  int fixedStatus_;
  mutable std::mutex mutex_;
  std::string body_;
  std::vector<std::string> requests_;
  LoopbackServer server_;
};

// The value of a header in a request head, empty when absent (name without the colon).
std::string HeaderValue(const std::string& head, const std::string& name);

// An anonymous read-only FTP server (pyftpdlib) over a folder, as a child process.
class FtpServer {
 public:
  // With a user name, anonymous login is off and that user with password is required.
  explicit FtpServer(const std::string& folder, const std::string& user = {}, const std::string& password = {});
  ~FtpServer();
  bool Running() const { return pid_ > 0 && port_ != 0; }
  uint16_t Port() const { return port_; }

 private:
  int pid_ = -1;
  uint16_t port_ = 0;
};

// A free loopback port at the time of asking.
uint16_t FreePort();

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs program with args and extra environment entries, waits at most timeoutSeconds.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, int timeoutSeconds = 60);

}  // namespace weavil::test

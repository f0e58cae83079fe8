#pragma once
// The whois client: one query to a registry server on TCP port 43, directly or through
// a SOCKS 4 proxy, with the raw answer shown as it came. The connection and every
// receive have a time-out, and Stop ends an exchange at once, so a server that never
// answers cannot hold the caller.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace weavil {

struct Settings;

inline constexpr uint16_t kWhoisPort = 43;
inline constexpr std::chrono::milliseconds kWhoisTimeout{30000};
inline constexpr size_t kWhoisPieceSize = 100;
// A registry's answer is a few kilobytes; a server that sends without end is cut here,
// and no exchange as a whole lasts longer than the deadline.
inline constexpr size_t kWhoisMaxAnswer = 1024 * 1024;
inline constexpr std::chrono::milliseconds kWhoisDeadline{120000};

// The servers of the dialog's list, in its order: APNIC, ARIN, LACNIC, RIPE and the
// .com/.net registrar.
enum WhoisServerIndex : int { kWhoisApnic = 0, kWhoisArin = 1, kWhoisLacnic = 2, kWhoisRipe = 3, kWhoisVerisign = 4 };
const std::array<std::string, 5>& WhoisServers();

// Country codes each regional registry serves, searched as plain substrings.
inline constexpr const char* kArinCountries = "US CA MX";
inline constexpr const char* kRipeCountries =
    "AD AE AF AL AT AZ BA BE BG BY CH CY CZ DE DK EE EG ES FI FR GB GR HR HU IE IL IQ IR IS IT KG KW KZ LT LU LV "
    "LY MA MC MD MK MT NL NO PL PT RO RU SA SE SI SK SV SY SU TJ TM TR UA UZ VA YU";
inline constexpr const char* kLacnicCountries = "AR BO BR BW CL CO CR? CU? GD? GT NI? PA? PE? PY UG UY VE";

// The server to preselect for a visitor's country: ARIN's, RIPE's or LACNIC's list
// decides in that order, APNIC's server otherwise. An empty code selects ARIN's.
std::string ChooseWhoisServer(std::string_view countryCode);

// The list entry the dialog selects for a server text: the first whose text starts with
// it, searching from the second entry and wrapping to the first; -1 when none does.
int FindWhoisServerEntry(std::string_view server);

// The visitor dialog's query: the URL (trimmed), or the address when it is empty or "-".
std::string WhoisQueryForVisitor(std::string_view url, std::string_view address);

// What a transfer button takes from the answer box: the selection, looked for only
// within the box's first 4,999 characters.
std::string WhoisSelection(std::string_view answer, size_t selectionStart, size_t selectionEnd);

// Every "\n" turned into "\r\n", as the answer box shows it.
std::string WhoisAnswerText(std::string_view received);

struct WhoisRequest {
  std::string query;
  std::string server;
  uint16_t port = kWhoisPort;
  bool useProxy = false;  // SOCKS 4
  std::string proxyHost;
  uint16_t proxyPort = 0;
  std::chrono::milliseconds timeout = kWhoisTimeout;    // connecting, and each receive
  std::chrono::milliseconds deadline = kWhoisDeadline;  // the whole exchange
  size_t maxAnswer = kWhoisMaxAnswer;
  // Called with every piece of the answer as it arrives (as received, "\n" line ends).
  std::function<void(std::string_view piece)> onPiece;
};

// True when the query may be sent: it holds no control character, so it stays one line
// of the protocol.
bool IsSendableWhoisQuery(std::string_view query);

// The request for a query and server with the proxy of the settings ("IsProxy", "Proxy",
// "ProxyPort").
WhoisRequest MakeWhoisRequest(std::string query, std::string server, const Settings& settings);

enum class WhoisStatus {
  kOk,              // the server closed the connection after its answer
  kSocketError,     // "Create Socet Error"
  kNotResolved,     // the server (or proxy) name has no IPv4 address
  kConnectFailed,
  kProxyRefused,    // the proxy answered, but did not grant the request
  kTimedOut,        // connection or a receive took longer than the time-out
  kSendFailed,
  kReceiveFailed,
  kStopped,
  kBadQuery,        // the query holds a control character; nothing was sent
  kTooLong,         // the answer passed the limit (or the deadline): what came is kept
};

struct WhoisResult {
  WhoisStatus status = WhoisStatus::kOk;
  std::string answer;  // already with "\r\n" line ends; empty when no connection stood
  std::string error;   // a line for the command line; empty with kOk
};

// One exchange. Run blocks; Stop, from any thread, ends it at once and closes its socket.
class WhoisExchange {
 public:
  WhoisExchange();
  ~WhoisExchange();
  WhoisExchange(const WhoisExchange&) = delete;
  WhoisExchange& operator=(const WhoisExchange&) = delete;

  WhoisResult Run(const WhoisRequest& request);
  void Stop();

 private:
  bool Wait(int fd, short events, std::chrono::steady_clock::time_point deadline, WhoisResult& result);
  void Receive(int fd, const WhoisRequest& request, std::string& received, WhoisResult& result);
  bool Connect(int fd, uint32_t address, uint16_t port, std::chrono::milliseconds timeout, WhoisResult& result);
  bool SendAll(int fd, const char* data, size_t size, std::chrono::milliseconds timeout, WhoisResult& result);

  std::atomic<bool> stopped_{false};
  std::chrono::steady_clock::time_point exchangeEnd_{};
  int wakeRead_ = -1;  // Stop writes to the pipe; every wait also watches it
  int wakeWrite_ = -1;
};

// The dialog's worker: one exchange on its own thread, at most one at a time. The answer
// goes to the callback unless the dialog stopped the worker first (OK or Cancel).
class WhoisWorker {
 public:
  using Done = std::function<void(const WhoisRequest&, const WhoisResult&)>;

  WhoisWorker() = default;
  ~WhoisWorker();  // stops and waits
  WhoisWorker(const WhoisWorker&) = delete;
  WhoisWorker& operator=(const WhoisWorker&) = delete;

  // False while an exchange runs.
  bool Start(WhoisRequest request, Done done);
  // Sets the stop flag and ends the exchange; the callback is not called afterwards.
  void Stop();
  void Wait();
  bool IsRunning() const { return running_.load(); }

 private:
  std::mutex mutex_;
  std::thread thread_;
  std::shared_ptr<WhoisExchange> exchange_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
};

}  // namespace weavil

#include "net/whois_client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "settings/settings.h"
#include "tests/net/loopback_servers.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::LoopbackServer;

// Holds a connection open without a word until the test ends.
struct SilentPeer {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  void Hold(int fd) {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return release; });
    (void)fd;
  }
  ~SilentPeer() { Release(); }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    released.notify_all();
  }
};

// Answers a whois query with Unix line ends; keeps the query line it got.
struct UnixLineServer {
  std::mutex mutex;
  std::string query;
  LoopbackServer server{[this](int fd) {
    std::string line = test::ReadLine(fd);
    {
      std::lock_guard<std::mutex> lock(mutex);
      query = line;
    }
    test::SendAll(fd, "% test registry\ndomain: example.com\n");
    std::this_thread::sleep_for(50ms);
    // A zero byte ends the text of its piece.
    test::SendAll(fd, std::string("status: active\n\0junk", 20));
    std::this_thread::sleep_for(50ms);
    test::SendAll(fd, "end\n");
  }};
  std::string Query() {
    std::lock_guard<std::mutex> lock(mutex);
    return query;
  }
};

WhoisRequest Direct(const std::string& query, uint16_t port, std::chrono::milliseconds timeout = 5s) {
  WhoisRequest request;
  request.query = query;
  request.server = "127.0.0.1";
  request.port = port;
  request.timeout = timeout;
  return request;
}

TEST(WhoisServerChoice, CountryListsDecideInOrder) {
  EXPECT_EQ(ChooseWhoisServer("DE"), "whois.ripe.net");
  EXPECT_EQ(ChooseWhoisServer("JP"), "whois.apnic.net");
  // "CR" matches "CR?"; "S C" stands in the ARIN list, searched as plain text.
  for (const char* country : {"BR", "CR"}) EXPECT_EQ(ChooseWhoisServer(country), "whois.lacnic.net") << country;
  for (const char* country : {"US", "", "S C"}) EXPECT_EQ(ChooseWhoisServer(country), "whois.arin.net") << country;
  EXPECT_EQ(WhoisServers()[4], "whois.verisign-grs.com");

  EXPECT_EQ(FindWhoisServerEntry(""), kWhoisArin);  // searching starts at the second entry
  EXPECT_EQ(FindWhoisServerEntry("whois.r"), kWhoisRipe);
  EXPECT_EQ(FindWhoisServerEntry("whois.apnic.net"), kWhoisApnic);
  EXPECT_EQ(FindWhoisServerEntry("whois.example.net"), -1);
}

TEST(WhoisServerChoice, VisitorQueryAndTransfers) {
  EXPECT_EQ(WhoisQueryForVisitor("  host.example.com ", "1.2.3.4"), "host.example.com");
  EXPECT_EQ(WhoisQueryForVisitor(" - ", "1.2.3.4"), "1.2.3.4");
  EXPECT_EQ(WhoisQueryForVisitor("", "1.2.3.4"), "1.2.3.4");

  std::string answer = std::string(4990, 'a') + "0123456789";
  EXPECT_EQ(WhoisSelection(answer, 4990, 4995), "01234");
  EXPECT_EQ(WhoisSelection(answer, 4995, 5005), "5678");  // cut at the box's 4,999 characters
  EXPECT_EQ(WhoisSelection(answer, 5000, 5005), "");
  EXPECT_EQ(WhoisAnswerText("a\nb\n"), "a\r\nb\r\n");

  Settings settings;
  settings.isProxy = 1;
  settings.proxy = "socks.example";
  settings.proxyPort = 1080;
  WhoisRequest request = MakeWhoisRequest("q", "whois.ripe.net", settings);
  EXPECT_TRUE(request.useProxy);
  EXPECT_EQ(request.proxyHost, "socks.example");
  EXPECT_EQ(request.proxyPort, 1080);
  EXPECT_EQ(request.port, 43);
  EXPECT_EQ(request.timeout, 30s);
}

TEST(WhoisExchangeTest, UnixLineEndsBecomeOneLinePerLine) {
  UnixLineServer server;
  WhoisExchange exchange;
  WhoisResult result = exchange.Run(Direct("example.com", server.server.Port()));
  EXPECT_EQ(result.status, WhoisStatus::kOk) << result.error;
  EXPECT_EQ(server.Query(), "example.com \r\n");
  EXPECT_EQ(result.answer, "% test registry\r\ndomain: example.com\r\nstatus: active\r\nend\r\n");
}

TEST(WhoisExchangeTest, SilentServerTimesOut) {
  SilentPeer peer;
  LoopbackServer server([&](int fd) { peer.Hold(fd); });
  WhoisExchange exchange;
  auto start = Clock::now();
  WhoisResult result = exchange.Run(Direct("example.com", server.Port(), 300ms));
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(result.status, WhoisStatus::kTimedOut);
  EXPECT_EQ(result.answer, "");
  EXPECT_NE(result.error.find("no answer"), std::string::npos) << result.error;
  peer.Release();
}

TEST(WhoisExchangeTest, RefusedConnectionLeavesTheAnswerEmpty) {
  WhoisExchange exchange;
  WhoisResult result = exchange.Run(Direct("example.com", test::FreePort()));
  EXPECT_EQ(result.status, WhoisStatus::kConnectFailed);
  EXPECT_EQ(result.answer, "");
  EXPECT_NE(result.error.find("127.0.0.1:"), std::string::npos) << result.error;
}

// A server that sends without end is cut at the answer limit, one that trickles without
// end at the exchange's deadline; what came is kept and was handed out as it arrived.
TEST(WhoisExchangeTest, EndlessAnswersAreCutAtTheLimitAndTheDeadline) {
  std::atomic<bool> stop{false};
  LoopbackServer endless([&](int fd) {
    test::ReadLine(fd);
    const std::string block(4096, 'a');
    while (!stop.load() && ::send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
  });
  size_t handedOut = 0;
  WhoisRequest request = Direct("example.com", endless.Port());
  request.onPiece = [&](std::string_view piece) { handedOut += piece.size(); };
  WhoisExchange exchange;
  WhoisResult result = exchange.Run(request);
  EXPECT_EQ(result.status, WhoisStatus::kTooLong);
  EXPECT_EQ(result.answer.size(), kWhoisMaxAnswer);
  EXPECT_EQ(handedOut, kWhoisMaxAnswer);

  LoopbackServer trickle([&](int fd) {
    test::ReadLine(fd);
    while (!stop.load() && ::send(fd, "b", 1, MSG_NOSIGNAL) == 1) std::this_thread::sleep_for(50ms);
  });
  request = Direct("example.com", trickle.Port());
  request.deadline = 1s;
  auto start = Clock::now();
  result = WhoisExchange().Run(request);
  EXPECT_LT(Clock::now() - start, 4s);
  EXPECT_EQ(result.status, WhoisStatus::kTooLong);
  EXPECT_FALSE(result.answer.empty());
  stop.store(true);
}

// A query with a line break would be sent as two protocol lines: it is not sent at all.
TEST(WhoisExchangeTest, QueriesWithControlCharactersAreRefused) {
  UnixLineServer server;
  for (const char* query : {"example.com\r\nsecond line", "a\nb", "tab\there", "esc\x1b"}) {
    WhoisResult result = WhoisExchange().Run(Direct(query, server.server.Port()));
    EXPECT_EQ(result.status, WhoisStatus::kBadQuery) << query;
  }
  EXPECT_EQ(server.server.Connections(), 0);
  EXPECT_TRUE(IsSendableWhoisQuery("192.0.2.1"));
}

// A SOCKS 4 proxy that keeps the request it got, answers with the given second byte and,
// when it grants, plays the whois server itself.
struct SocksProxy {
  explicit SocksProxy(char answer) : answerByte(answer) {}
  char answerByte;
  std::mutex mutex;
  std::string request;
  std::string query;
  LoopbackServer server{[this](int fd) {
    std::string got = test::ReadBytes(fd, 9);
    {
      std::lock_guard<std::mutex> lock(mutex);
      request = got;
    }
    test::SendAll(fd, std::string{'\0', answerByte, '\0', '\0', '\0', '\0', '\0', '\0'});
    if (answerByte != 'Z') return;
    std::string line = test::ReadLine(fd);
    {
      std::lock_guard<std::mutex> lock(mutex);
      query = line;
    }
    test::SendAll(fd, "via socks\n");
  }};
};

WhoisRequest ThroughProxy(uint16_t proxyPort) {
  WhoisRequest request;
  request.query = "192.0.2.1";
  request.server = "192.0.2.1";  // never reached: the proxy answers itself
  request.useProxy = true;
  request.proxyHost = "127.0.0.1";
  request.proxyPort = proxyPort;
  request.timeout = 5s;
  return request;
}

TEST(WhoisSocks, GrantingProxyGetsTheNineByteRequest) {
  SocksProxy proxy('Z');
  WhoisExchange exchange;
  WhoisResult result = exchange.Run(ThroughProxy(proxy.server.Port()));
  EXPECT_EQ(result.status, WhoisStatus::kOk) << result.error;
  std::lock_guard<std::mutex> lock(proxy.mutex);
  EXPECT_EQ(proxy.request, (std::string{'\x04', '\x01', '\x00', '\x2b', '\xc0', '\x00', '\x02', '\x01', '\x00'}));
  EXPECT_EQ(proxy.query, "192.0.2.1 \r\n");
  EXPECT_EQ(result.answer, "via socks\r\n");
}

TEST(WhoisSocks, RefusingProxyLeavesTheAnswerEmpty) {
  SocksProxy proxy('[');
  WhoisExchange exchange;
  WhoisResult result = exchange.Run(ThroughProxy(proxy.server.Port()));
  EXPECT_EQ(result.status, WhoisStatus::kProxyRefused);
  EXPECT_EQ(result.answer, "");
  EXPECT_FALSE(result.error.empty());
}

TEST(WhoisSocks, SilentProxyTimesOut) {
  SilentPeer peer;
  LoopbackServer proxy([&](int fd) { peer.Hold(fd); });
  WhoisRequest request = ThroughProxy(proxy.Port());
  request.timeout = 300ms;
  WhoisExchange exchange;
  auto start = Clock::now();
  WhoisResult result = exchange.Run(request);
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(result.status, WhoisStatus::kTimedOut);
  EXPECT_EQ(result.answer, "");
  peer.Release();
}

TEST(WhoisWorkerTest, AnswerArrivesThroughTheCallback) {
  UnixLineServer server;
  std::mutex mutex;
  std::condition_variable arrived;
  std::string answer;
  WhoisWorker worker;
  ASSERT_TRUE(worker.Start(Direct("example.com", server.server.Port()),
                           [&](const WhoisRequest& request, const WhoisResult& result) {
                             std::lock_guard<std::mutex> lock(mutex);
                             answer = request.query + "=" + result.answer;
                             arrived.notify_all();
                           }));
  worker.Wait();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(answer.rfind("example.com=% test registry\r\n", 0), 0u) << answer;
  EXPECT_FALSE(worker.IsRunning());
}

TEST(WhoisWorkerTest, StopEndsAHangingExchangeAtOnceWithoutCallingBack) {
  SilentPeer peer;
  LoopbackServer server([&](int fd) { peer.Hold(fd); });
  std::atomic<bool> called{false};
  WhoisWorker worker;
  ASSERT_TRUE(worker.Start(Direct("example.com", server.Port(), 30s),
                           [&](const WhoisRequest&, const WhoisResult&) { called.store(true); }));
  EXPECT_FALSE(worker.Start(Direct("again", server.Port()), nullptr));
  // Let the query reach the silent server, then press Cancel.
  for (int i = 0; i < 200 && server.Connections() == 0; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(50ms);
  auto start = Clock::now();
  worker.Stop();
  worker.Wait();
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_FALSE(called.load());
  EXPECT_FALSE(worker.IsRunning());
  peer.Release();
}

}  // namespace
}  // namespace weavil

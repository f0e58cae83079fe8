// The download, resolve and whois commands, run as the program against loopback servers
// with their own settings folder and database file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <thread>

#include "store/database.h"
#include "store/result.h"
#include "tests/net/loopback_servers.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::HttpLogServer;
using test::ProcessResult;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char kHeader[] =
    "#Software: Microsoft Internet Information Services 6.0\n"
    "#Version: 1.0\n"
    "#Date: 2024-03-01 00:00:00\n"
    "#Fields: date time c-ip cs-method cs-uri-stem sc-status cs(User-Agent) cs(Referer)\n";

std::string Line(const char* time, const char* address, const char* page) {
  // Each visitor has its own agent, so no two of them fall into one session.
  return std::string("2024-03-01 ") + time + " " + address + " GET " + page + " 200 Mozilla/5.0+(X11;+Linux)+" +
         address + " -\n";
}

// Where an incremental import starts: just after the "#Software:" line.
size_t SoftwareLineEnd() { return std::string(kHeader).find('\n') + 1; }

// Two visits, then the lines the server adds later: a visit of a new address and a second
// visit (after more than 20 minutes) of the first address.
std::string FirstPart() {
  return std::string(kHeader) + Line("10:00:00", "10.0.0.1", "/index.html") + Line("10:01:00", "10.0.0.1", "/a.html") +
         Line("10:05:00", "10.0.0.2", "/index.html");
}
std::string SecondPart() {
  return Line("12:00:00", "10.0.0.3", "/index.html") + Line("13:00:00", "10.0.0.1", "/b.html");
}

class NetCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dbPath_ = home_.File("log.db");
    logDir_ = home_.Path() + "/logs";
  }

  ProcessResult Weavil(std::vector<std::string> args, int timeoutSeconds = 60) {
    args.insert(args.begin(), {"--db", dbPath_});
    return test::RunProcess(test::BuildBinDir() + "/weavil", args,
                            {{"XDG_CONFIG_HOME", home_.Path() + "/config"},
                             {"XDG_DATA_HOME", home_.Path() + "/data"},
                             {"http_proxy", ""},
                             {"HTTP_PROXY", ""}},
                            timeoutSeconds);
  }

  int64_t Count(const std::string& sql) { return test::QueryNumber(dbPath_, sql); }

  std::string Setting(const std::string& name) {
    ProcessResult result = Weavil({"settings", name});
    std::string value = result.out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  TempDir home_;
  std::string dbPath_;
  std::string logDir_;
};

TEST_F(NetCommandsTest, IncrementalDownloadAppendsAndImportsOnlyNewSessions) {
  HttpLogServer server(HttpLogServer::Mode::kRanges, FirstPart());
  std::string url = server.Url("/logs/ex.log?key=1");

  ProcessResult first = Weavil({"download", url, "--dir", logDir_, "--incremental"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(ReadFile(logDir_ + "/ex.log"), FirstPart());
  EXPECT_EQ(Count("select count(*) from Session"), 2);

  server.SetBody(FirstPart() + SecondPart());
  ProcessResult second = Weavil({"download", url, "--dir", logDir_, "--incremental"});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(ReadFile(logDir_ + "/ex.log"), FirstPart() + SecondPart());
  EXPECT_EQ(test::HeaderValue(server.Requests().back(), "Range"),
            "bytes=" + std::to_string(FirstPart().size()) + "-");
  // The import read the header block again: the two old visits were
  // recognised, the two new ones stored.
  EXPECT_NE(second.out.find("from byte " + std::to_string(SoftwareLineEnd())), std::string::npos)
      << second.out;
  EXPECT_NE(second.out.find("2 new sessions, 2 already stored"), std::string::npos) << second.out;
  EXPECT_EQ(Count("select count(*) from Session"), 4);

  // The dialog's values are kept.
  EXPECT_EQ(Setting("Url"), url);
  EXPECT_EQ(Setting("Path"), logDir_ + "/");
  EXPECT_EQ(Setting("IsIncremental"), "1");
  EXPECT_EQ(Setting("IsAutoResolve"), "0");
  EXPECT_EQ(Setting("IsLogin"), "0");

  // Nothing new on the server: the copy stays and nothing more is stored.
  ProcessResult third = Weavil({"download", url, "--dir", logDir_, "--incremental"});
  ASSERT_EQ(third.exitCode, 0) << third.err;
  EXPECT_NE(third.out.find("up to date"), std::string::npos) << third.out;
  EXPECT_EQ(ReadFile(logDir_ + "/ex.log"), FirstPart() + SecondPart());
  EXPECT_EQ(Count("select count(*) from Session"), 4);
}

TEST_F(NetCommandsTest, ServerWithoutRangesRewritesTheLocalCopy) {
  HttpLogServer server(HttpLogServer::Mode::kNoRanges, FirstPart() + SecondPart());
  std::filesystem::create_directories(logDir_);
  WriteFile(logDir_ + "/ex.log", FirstPart());
  ProcessResult result = Weavil({"download", server.Url("/ex.log"), "--dir", logDir_, "--incremental"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(logDir_ + "/ex.log"), FirstPart() + SecondPart());
  EXPECT_EQ(Count("select count(*) from Session"), 4);
}

TEST_F(NetCommandsTest, FtpFetchesTheWholeFileButImportsFromTheOldHeader) {
  TempDir served;
  WriteFile(served.File("ex.log"), FirstPart() + SecondPart());
  test::FtpServer ftp(served.Path());
  ASSERT_TRUE(ftp.Running()) << "python3-pyftpdlib is needed";
  std::filesystem::create_directories(logDir_);
  // The old copy ends in a partial line: a resumed transfer would keep it, a full one not.
  WriteFile(logDir_ + "/ex.log", FirstPart() + "2024-03-01 11:");

  ProcessResult result = Weavil(
      {"download", "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/ex.log", "--dir", logDir_, "--incremental"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(logDir_ + "/ex.log"), FirstPart() + SecondPart());
  EXPECT_NE(result.out.find("from byte " + std::to_string(SoftwareLineEnd())), std::string::npos)
      << result.out;
  EXPECT_EQ(Count("select count(*) from Session"), 4);
}

TEST_F(NetCommandsTest, DownloadFailuresAreOneLineAndKeepTheSettings) {
  HttpLogServer page(HttpLogServer::Mode::kFixed, "<!DOCTYPE html><p>gone</p>", 404);
  ProcessResult result =
      Weavil({"download", page.Url("/ex.log"), "--dir", logDir_, "--login", "me", "--password", "pw", "--resolve"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "weavil: " + page.Url("/ex.log") + ": File reading error\n");
  EXPECT_EQ(Setting("IsLogin"), "1");
  EXPECT_EQ(Setting("Login"), "me");
  EXPECT_EQ(Setting("Pass"), "pw");
  EXPECT_EQ(Setting("IsAutoResolve"), "1");

  result = Weavil({"download", "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/ex.log", "--dir", logDir_});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("weavil: http://127.0.0.1:", 0), 0u) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);

  result = Weavil({"download", "--login", "me", "http://127.0.0.1/x.log"});
  EXPECT_EQ(result.exitCode, 2);
}

TEST_F(NetCommandsTest, ResolveFillsNameReversedNameAndCountry) {
  test::CopyTemplateDatabase(dbPath_);
  {
    DbSession session;
    ASSERT_TRUE(Succeeded(session.OpenFile(dbPath_)));
    Statement statement;
    // Loopback is in no shipped range: give it one so the country step is seen.
    ASSERT_TRUE(Succeeded(statement.Execute(
        session, "Insert into IPRanges (StartIP, EndIP, Code, ValueBits) values (2130706432, 2147483647, 'ZZX', 99)")));
    ASSERT_TRUE(Succeeded(statement.Execute(
        session, "Insert into DNSLookUp (UserIP, FullName, CountryCode) values ('127.0.0.1', NULL, '')")));
    ASSERT_TRUE(Succeeded(statement.Execute(
        session, "Insert into DNSLookUp (UserIP, FullName, CountryCode) values ('127.0.0.2', 'done.example', 'US')")));
  }
  ProcessResult result = Weavil({"resolve"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "1 resolved, 0 not found\n");

  DbSession session;
  ASSERT_TRUE(Succeeded(session.OpenFile(dbPath_)));
  Statement statement;
  ASSERT_TRUE(Succeeded(statement.Execute(session, "Select FullName, URL, rURL, CountryCode from DNSLookUp where UserIP='127.0.0.1'")));
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  std::string fullName, urlName, reversed, country;
  statement.GetText(1, fullName);
  statement.GetText(2, urlName);
  statement.GetText(3, reversed);
  statement.GetText(4, country);
  EXPECT_FALSE(fullName.empty());
  EXPECT_NE(fullName, "-");
  EXPECT_EQ(urlName, fullName);
  std::string expected;
  for (char c : fullName) expected.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  // rURL: the labels reversed (only reversed labels of a dotted name differ).
  size_t dots = std::count(expected.begin(), expected.end(), '.');
  EXPECT_EQ(std::count(reversed.begin(), reversed.end(), '.'), static_cast<long>(dots));
  if (dots == 0) {
    EXPECT_EQ(reversed, expected);
  }
  EXPECT_EQ(country, "ZZ");

  result = Weavil({"resolve"});
  EXPECT_EQ(result.out, "Nothing to resolve.\n");
}

// Answers with Unix line ends.
struct WhoisServer {
  test::LoopbackServer server{[](int fd) {
    std::string query = test::ReadLine(fd);
    test::SendAll(fd, "query: " + query.substr(0, query.size() - 3) + "\nstatus: ok\n");
  }};
};

TEST_F(NetCommandsTest, WhoisPrintsTheAnswerDirectlyOrThroughTheProxy) {
  WhoisServer whois;
  ProcessResult result =
      Weavil({"whois", "example.com", "--server", "127.0.0.1", "--port", std::to_string(whois.server.Port())});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "query: example.com\nstatus: ok\n");

  // A proxy that refuses: the answer stays empty and the command says why.
  test::LoopbackServer refusing([](int fd) {
    test::ReadBytes(fd, 9);
    test::SendAll(fd, std::string{'\0', '[', '\0', '\0', '\0', '\0', '\0', '\0'});
  });
  ASSERT_EQ(Weavil({"settings", "IsProxy", "1"}).exitCode, 0);
  ASSERT_EQ(Weavil({"settings", "Proxy", "127.0.0.1"}).exitCode, 0);
  ASSERT_EQ(Weavil({"settings", "ProxyPort", std::to_string(refusing.Port())}).exitCode, 0);
  result = Weavil({"whois", "example.com", "--server", "127.0.0.1", "--port", std::to_string(whois.server.Port())});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("refused"), std::string::npos) << result.err;

  result = Weavil({"whois", "example.com", "--server", "a", "--country", "DE"});
  EXPECT_EQ(result.exitCode, 2);
}

// Terminal control sequences in an answer (a window title, a bare CR hiding what came
// before it) are shown as escapes; line ends stay.
TEST_F(NetCommandsTest, WhoisShowsControlCharactersAsEscapes) {
  test::LoopbackServer hostile([](int fd) {
    test::ReadLine(fd);
    test::SendAll(fd, "owner: \x1b]0;owned\x07\r\nnote: safe\rhidden\x1b[2J\n");
  });
  ProcessResult result =
      Weavil({"whois", "example.com", "--server", "127.0.0.1", "--port", std::to_string(hostile.Port())});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "owner: \\x1b]0;owned\\x07\r\nnote: safe\\rhidden\\x1b[2J\n");
  EXPECT_EQ(Weavil({"whois", "a\r\nb", "--server", "127.0.0.1", "--port", std::to_string(hostile.Port())}).exitCode, 2);
}

TEST_F(NetCommandsTest, WhoisGivesUpOnASilentServer) {
  std::atomic<bool> release{false};
  test::LoopbackServer silent([&](int) {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  ProcessResult result = Weavil(
      {"whois", "example.com", "--server", "127.0.0.1", "--port", std::to_string(silent.Port()), "--timeout", "1"}, 20);
  release.store(true);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("no answer"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace weavil

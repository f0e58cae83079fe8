// The whole program against a PostgreSQL server: what it prints, stores and refuses
// there is what it prints, stores and refuses with a SQLite file of the same imports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "store/database.h"
#include "store/result.h"
#include "tests/support/cli_harness.h"
#include "tests/support/pg_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

constexpr const char* kSample = WEAVIL_SOURCE_DIR "/samples/sample-access.log";

// The sample imported once into a SQLite file and once into a server database, under
// the same settings and zone, for every case of the suite.
class ServerReportsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<test::TestPgDatabase>();
    if (server_->Uri().empty()) return;
    zone_ = std::make_unique<test::ScopedTimeZone>("UTC0");
    cli_ = std::make_unique<test::CliHarness>();
    test::CopyTemplateDatabase(File());
    ASSERT_EQ(cli_->Run({"settings", "DefaultHost", "www.example.com"}), kExitOk) << cli_->Err();
    ASSERT_EQ(cli_->Run({"--db", File(), "import", kSample}), kExitOk) << cli_->Err();
    ASSERT_EQ(cli_->Run({"--db", server_->Uri(), "import", kSample}), kExitOk) << cli_->Err();
    serverImport_ = cli_->Out();
  }
  static void TearDownTestSuite() {
    cli_.reset();
    zone_.reset();
    server_.reset();
  }
  void SetUp() override {
    if (server_->Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  }
  static std::string File() { return cli_->Dir().File("sample.db"); }
  static std::string Server() { return server_->Uri(); }

  // What the command prints on the file and on the server.
  std::pair<std::string, std::string> Both(std::vector<std::string> words) {
    std::vector<std::string> onFile = {"--db", File()}, onServer = {"--db", Server()};
    onFile.insert(onFile.end(), words.begin(), words.end());
    onServer.insert(onServer.end(), words.begin(), words.end());
    EXPECT_EQ(cli_->Run(onFile), kExitOk) << cli_->Err();
    std::string file = cli_->Out();
    EXPECT_EQ(cli_->Run(onServer), kExitOk) << cli_->Err();
    return {file, cli_->Out()};
  }

  static std::unique_ptr<test::TestPgDatabase> server_;
  static std::unique_ptr<test::ScopedTimeZone> zone_;
  static std::unique_ptr<test::CliHarness> cli_;
  static std::string serverImport_;
};

std::unique_ptr<test::TestPgDatabase> ServerReportsTest::server_;
std::unique_ptr<test::ScopedTimeZone> ServerReportsTest::zone_;
std::unique_ptr<test::CliHarness> ServerReportsTest::cli_;
std::string ServerReportsTest::serverImport_;

TEST_F(ServerReportsTest, EveryViewInEveryFormPrintsWhatTheFilePrints) {
  EXPECT_NE(serverImport_.find("sessions stored"), std::string::npos) << serverImport_;
  for (const char* view : {"sessions", "visitors", "keywords", "referers", "pages", "statistics"}) {
    for (const char* form : {"text", "json", "csv"}) {
      auto [file, server] = Both({"report", view, "--format", form, "--no-filter"});
      EXPECT_FALSE(file.empty()) << view << " " << form;
      EXPECT_EQ(file, server) << view << " " << form;
    }
  }
}

TEST_F(ServerReportsTest, FilteredViewsPrintWhatTheFilePrints) {
  const std::vector<std::vector<std::string>> filters = {
      {"--no-robots"},
      {"--pages", "/ /index.html /products.html"},
      {"--countries", "us de"},
      {"--keywords", "statistics filter"},
      {"--referers", "www.google.com"},
      {"--period", "Year+", "--no-robots"},
  };
  for (const auto& filter : filters) {
    for (const char* view : {"sessions", "visitors", "keywords", "referers", "pages", "statistics"}) {
      std::vector<std::string> words = {"report", view};
      words.insert(words.end(), filter.begin(), filter.end());
      auto [file, server] = Both(words);
      EXPECT_EQ(file, server) << view << " " << filter[0];
    }
  }
}

TEST_F(ServerReportsTest, VisitDetailsAndCorrectionsReadAndWriteTheServer) {
  auto [file, server] = Both({"details", "5"});
  EXPECT_EQ(file, server);
  auto visitor = Both({"visitor", "--countries"});
  EXPECT_EQ(visitor.first, visitor.second);
}

TEST_F(ServerReportsTest, ACorrectedVisitorShowsAsOnTheFile) {
  for (const std::string& db : {File(), Server()})
    ASSERT_EQ(cli_->Run({"--db", db, "visitor", "163.14.10.157", "--url", "crawler.example.net", "--country", "de",
                         "--robot", "1", "--comments", "it's 'quoted'"}),
              kExitOk)
        << cli_->Err();
  for (const char* view : {"visitors", "sessions"}) {
    auto [file, server] = Both({"report", view, "--no-robots"});
    EXPECT_EQ(file, server) << view;
    EXPECT_EQ(file.find("crawler.example.net"), std::string::npos) << view;  // a robot now: left out
  }
  auto [file, server] = Both({"report", "visitors", "--no-filter"});
  EXPECT_EQ(file, server);
  EXPECT_NE(server.find("crawler.example.net"), std::string::npos);
}

TEST_F(ServerReportsTest, ASecondImportOfTheSameLogStoresNothing) {
  // Read on from where the first ended, then read again from the start.
  ASSERT_EQ(cli_->Run({"--db", Server(), "import", kSample}), kExitOk) << cli_->Err();
  EXPECT_NE(cli_->Out().find("0 lines read, 0 lines rejected, 0 sessions stored"), std::string::npos) << cli_->Out();
  EXPECT_NE(cli_->Out().find("(read on from byte "), std::string::npos) << cli_->Out();
  ASSERT_EQ(cli_->Run({"settings", "IsResumingImports", "0"}), kExitOk);
  ASSERT_EQ(cli_->Run({"--db", Server(), "import", kSample}), kExitOk) << cli_->Err();
  const std::string again = cli_->Out();
  ASSERT_EQ(cli_->Run({"settings", "IsResumingImports", "1"}), kExitOk);
  EXPECT_NE(again.find(" 0 sessions stored"), std::string::npos) << again;
  EXPECT_EQ(again.find("(read on from byte "), std::string::npos) << again;
  DbSession session;
  ASSERT_EQ(session.OpenFile(Server()), kResultOk);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Session"),
            test::QueryNumber(File(), "SELECT count(*) FROM Session"));
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Resource"),
            test::QueryNumber(File(), "SELECT count(*) FROM Resource"));
  // The first import took the keys and indexes away while it wrote: all are back, and
  // the identity columns number on after the rows imported.
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid IN "
                                       "('session'::regclass, 'resource'::regclass, 'dnslookup'::regclass)"),
            3);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM pg_indexes WHERE tablename IN ('session', 'resource')"), 6);
  Statement insert;
  ASSERT_EQ(insert.Execute(session, "INSERT INTO Resource (SessionId) VALUES ('x');"), kResultOk);
  EXPECT_EQ(test::QueryNumber(session, "SELECT max(ResourceId) FROM Resource"),
            test::QueryNumber(File(), "SELECT max(ResourceId) FROM Resource") + 1);
}

TEST(ServerClear, ClearEmptiesTheSessionsAndKeepsTheVisitors) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::CliHarness cli;
  ASSERT_EQ(cli.Run({"--db", server.Uri(), "import", kSample}), kExitOk) << cli.Err();
  ASSERT_EQ(cli.Run({"--db", server.Uri(), "clear", "--yes"}), kExitOk) << cli.Err();
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);
  for (const char* table : {"Session", "Resource", "SessionBytes", "SessionReferer", "SessionBrowserOS"})
    EXPECT_EQ(test::QueryNumber(session, std::string("SELECT count(*) FROM ") + table), 0) << table;
  EXPECT_GT(test::QueryNumber(session, "SELECT count(*) FROM DNSLookUp"), 0);
  // And the next import stores the sessions again.
  ASSERT_EQ(cli.Run({"--db", server.Uri(), "import", kSample}), kExitOk) << cli.Err();
  EXPECT_GT(test::QueryNumber(session, "SELECT count(*) FROM Session"), 0);
}

// A log that grew since its first import is read on from where that import ended, on
// the server as on the file, and every view shows what the file shows.
TEST(ServerImports, AGrownLogReadOnShowsWhatTheFileShows) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::ScopedTimeZone zone("UTC0");
  test::CliHarness cli;
  const std::string log = cli.Dir().File("grown.log"), file = cli.Dir().File("grown.db");
  test::CopyTemplateDatabase(file);
  const std::string sample = test::ReadFile(kSample);
  test::WriteFile(log, sample.substr(0, sample.find('\n', sample.size() / 3) + 1));
  for (const std::string& db : {file, server.Uri()}) ASSERT_EQ(cli.Run({"--db", db, "import", log}), kExitOk) << cli.Err();
  test::WriteFile(log, sample);
  for (const std::string& db : {file, server.Uri()}) {
    ASSERT_EQ(cli.Run({"--db", db, "import", log}), kExitOk) << cli.Err();
    EXPECT_NE(cli.Out().find("(read on from byte "), std::string::npos) << cli.Out();
  }
  for (const char* view : {"sessions", "visitors", "pages", "statistics"}) {
    ASSERT_EQ(cli.Run({"--db", file, "report", view, "--no-filter"}), kExitOk) << cli.Err();
    const std::string onFile = cli.Out();
    ASSERT_EQ(cli.Run({"--db", server.Uri(), "report", view, "--no-filter"}), kExitOk) << cli.Err();
    EXPECT_EQ(onFile, cli.Out()) << view;
  }
}

// A team's importer need not own the tables: a role that may only read and write them
// imports a log large against what is stored, with the keys and indexes left in place.
TEST(ServerImports, ARoleThatOnlyReadsAndWritesTheTablesImports) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::CliHarness cli;
  const std::string small = cli.Dir().File("one.log");
  const std::string sample = test::ReadFile(kSample);
  test::WriteFile(small, sample.substr(0, sample.find('\n') + 1));
  ASSERT_EQ(cli.Run({"--db", server.Uri(), "import", small}), kExitOk) << cli.Err();  // the owner makes the tables

  const std::string role = "writer_" + server.Name();
  ASSERT_EQ(test::RunOnServer(server.Uri(), "CREATE ROLE " + role + " LOGIN; GRANT SELECT, INSERT, UPDATE, DELETE ON ALL "
                                            "TABLES IN SCHEMA public TO " + role + "; GRANT USAGE, SELECT, UPDATE ON "
                                            "ALL SEQUENCES IN SCHEMA public TO " + role + ";"),
            "");
  std::string uri = server.Uri();
  const size_t user = uri.find("://") + 3;
  uri.replace(user, uri.find('@') - user, role);
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);
  const char* const indexes =
      "SELECT count(*) FROM pg_indexes WHERE tablename IN ('session', 'resource', 'dnslookup', 'sessionbytes')";
  const int64_t indexCount = test::QueryNumber(session, indexes);
  EXPECT_GE(indexCount, 8);
  EXPECT_EQ(cli.Run({"--db", uri, "import", kSample}), kExitOk) << cli.Err() << cli.Out();
  EXPECT_GT(test::QueryNumber(session, "SELECT count(*) FROM Session"), 1);
  EXPECT_EQ(test::QueryNumber(session, indexes), indexCount);
  session.Close();

  // Functions made by another version of the program: the role cannot replace them, and
  // is told who can.
  ASSERT_EQ(test::RunOnServer(server.Uri(), "UPDATE WeavilSchema SET FunctionsVersion = 'older'"), "");
  const std::string owner = server.Uri().substr(user, server.Uri().find('@') - user);
  const std::string later = uri + "&application_name=later";  // a connection not made before
  EXPECT_NE(cli.Run({"--db", later, "import", kSample}), kExitOk);
  EXPECT_NE(cli.Err().find("its SQL functions are those of another version of Weavil, and this role may not replace "
                           "them: open it once with this version as their owner, " + owner),
            std::string::npos)
      << cli.Err();
  EXPECT_EQ(cli.Run({"--db", server.Uri() + "&application_name=owner", "report", "statistics"}), kExitOk) << cli.Err();
  EXPECT_EQ(cli.Run({"--db", later + "2", "import", kSample}), kExitOk) << cli.Err();
  EXPECT_EQ(test::RunOnServer(server.Uri(), "DROP OWNED BY " + role + "; DROP ROLE " + role + ";"), "");
}

// A large first import on a server that keeps no log for replicas gives the empty
// tables new storage, and copies the addresses into an empty table without its key.
// The rows of a table that was not empty stay, two addresses that the server's encoding
// makes one text are stored once, and the rest is what the file holds.
TEST(ServerImports, ALargeFirstImportKeepsWhatWasStoredAndStoresWhatTheFileStores) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::ScopedTimeZone zone("UTC0");
  test::CliHarness cli;
  const std::string log = cli.Dir().File("large.log"), file = cli.Dir().File("large.db");
  test::CopyTemplateDatabase(file);
  // The sample, then again from IPv6 addresses (over a megabyte in all), and two visits
  // from host names that differ in a byte that is not UTF-8 and its Latin-1 reading.
  const std::string sample = test::ReadFile(kSample);
  std::string text = sample;
  for (size_t at = 0; at < sample.size();) {
    const size_t end = sample.find('\n', at), space = sample.find(' ', at);
    std::string address = sample.substr(at, space - at);
    for (char& c : address)
      if (c == '.') c = ':';
    text += "2a00:1450::" + address + sample.substr(space, end + 1 - space);
    at = end + 1;
  }
  for (const char* host : {"h\xff.example.org", "h\xc3\xbf.example.org"})
    text += std::string(host) + " - - [02/Mar/2008:10:00:00 +0000] \"GET / HTTP/1.1\" 200 10 \"-\" \"Mozilla/5.0\"\n";
  ASSERT_GT(text.size(), size_t{1} << 20);
  test::WriteFile(log, text);

  ASSERT_EQ(cli.Run({"--db", server.Uri(), "report", "statistics"}), kExitOk) << cli.Err();  // makes the tables
  ASSERT_EQ(test::RunOnServer(server.Uri(), "INSERT INTO SessionBytes (SessionId, Bytes) VALUES ('earlier', 1);"), "");
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);
  Statement level;
  std::string walLevel;
  ASSERT_EQ(level.Execute(session, "SHOW wal_level;"), kResultOk);
  ASSERT_EQ(level.MoveNext(), kResultOk);
  level.GetText(1, walLevel);
  level.Close();
  const int64_t sessionFile = test::QueryNumber(session, "SELECT pg_relation_filenode('session')");
  const int64_t bytesFile = test::QueryNumber(session, "SELECT pg_relation_filenode('sessionbytes')");

  ASSERT_EQ(cli.Run({"--db", server.Uri(), "import", log}), kExitOk) << cli.Err();
  ASSERT_EQ(cli.Run({"--db", file, "import", log}), kExitOk) << cli.Err();
  if (walLevel == "minimal") {
    EXPECT_NE(test::QueryNumber(session, "SELECT pg_relation_filenode('session')"), sessionFile);
    // Written frozen: every page is visible to all, as the import's statistics counted.
    EXPECT_GT(test::QueryNumber(session, "SELECT relpages FROM pg_class WHERE relname = 'session'"), 0);
    EXPECT_EQ(test::QueryNumber(session, "SELECT relallvisible FROM pg_class WHERE relname = 'session'"),
              test::QueryNumber(session, "SELECT relpages FROM pg_class WHERE relname = 'session'"));
  }
  EXPECT_EQ(test::QueryNumber(session, "SELECT pg_relation_filenode('sessionbytes')"), bytesFile);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM SessionBytes WHERE SessionId = 'earlier'"), 1);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM SessionBytes"),
            test::QueryNumber(file, "SELECT count(*) FROM SessionBytes") + 1);
  // Each request has the key the file gives it, and the table's sequence goes on after them.
  const char* keyed = "SELECT sum(ResourceId * length(UriStem)) FROM Resource";
  EXPECT_EQ(test::QueryNumber(session, keyed), test::QueryNumber(file, keyed));
  ASSERT_EQ(test::RunOnServer(server.Uri(), "INSERT INTO Resource (SessionId, UriStem) VALUES ('later', '/next');"), "");
  EXPECT_EQ(test::QueryNumber(session, "SELECT ResourceId FROM Resource WHERE SessionId = 'later'"),
            test::QueryNumber(file, "SELECT count(*) FROM Resource") + 1);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Session"),
            test::QueryNumber(file, "SELECT count(*) FROM Session"));
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Resource"),
            test::QueryNumber(file, "SELECT count(*) FROM Resource") + 1);  // with 'later'
  // The two host names as one.
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM DNSLookUp"),
            test::QueryNumber(file, "SELECT count(*) FROM DNSLookUp") - 1);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM DNSLookUp WHERE UserIP LIKE 'h%.example.org'"), 1);
  // The addresses waited for the end of the import, their countries read apart: each has
  // the country and robot flag the file gives it.
  for (const char* count : {"SELECT count(*) FROM DNSLookUp WHERE coalesce(CountryCode, '') <> ''",
                            "SELECT count(DISTINCT CountryCode) FROM DNSLookUp",
                            "SELECT count(*) FROM DNSLookUp WHERE UserIP LIKE '2a00:%' AND "
                            "coalesce(CountryCode, '') <> ''",
                            "SELECT count(*) FROM DNSLookUp WHERE IsRobot = 1",
                            "SELECT count(*) FROM DNSLookUp d JOIN [Session] s ON s.UserIP = d.UserIP WHERE "
                            "d.CountryCode = 'US' AND s.UserIP NOT LIKE 'h%'"}) {
    std::string sql = count;
    EXPECT_GT(test::QueryNumber(file, sql), 0) << sql;
    for (size_t at; (at = sql.find("[Session]")) != std::string::npos;) sql.replace(at, 9, "Session");
    EXPECT_EQ(test::QueryNumber(session, sql), test::QueryNumber(file, count)) << sql;
  }
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid IN "
                                       "('session'::regclass, 'resource'::regclass, 'dnslookup'::regclass)"),
            3);
}

// Two programs importing into one server database at once: one waits for the other's
// transaction, and both land.
TEST(ServerImports, TwoAtOnceBothLand) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::WorkFolder dir;
  std::string first = dir.File("first.log"), second = dir.File("second.log");
  std::string sample = test::ReadFile(kSample);
  size_t half = sample.find('\n', sample.size() / 2) + 1;
  test::WriteFile(first, sample.substr(0, half));
  test::WriteFile(second, sample.substr(half));
  std::string weavil = test::BuildBinDir() + "/weavil";
  auto import = [&](const std::string& log, int* status, std::string* out) {
    *out = test::Shell("HOME=" + dir.Path() + " XDG_CONFIG_HOME=" + dir.Path() + "/config '" + weavil + "' --db '" +
                           server.Uri() + "' import '" + log + "'",
                       status);
  };
  int status1 = -1, status2 = -1;
  std::string out1, out2;
  std::thread one(import, first, &status1, &out1);
  std::thread two(import, second, &status2, &out2);
  one.join();
  two.join();
  EXPECT_EQ(status1, 0) << out1;
  EXPECT_EQ(status2, 0) << out2;

  std::string whole = dir.File("whole.db");
  test::CopyTemplateDatabase(whole);
  test::CliHarness cli;
  ASSERT_EQ(cli.Run({"--db", whole, "import", first}), kExitOk);
  ASSERT_EQ(cli.Run({"--db", whole, "import", second}), kExitOk);
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);
  // Which of the two came first decides how sessions across the cut are joined, so the
  // requests are what both orders share.
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Resource"),
            test::QueryNumber(whole, "SELECT count(*) FROM Resource"));
  EXPECT_GT(test::QueryNumber(session, "SELECT count(*) FROM Session"), 0);
}

TEST(ServerSource, AFailedImportNamesTheServerWithoutItsPassword) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  std::string uri = server.Uri();
  uri.insert(uri.find('@'), ":unused-secret");  // the tests' server trusts its socket
  test::CliHarness cli;
  ASSERT_EQ(cli.Run({"--db", uri, "report", "sessions"}), kExitOk) << cli.Err();  // the tables are made
  ASSERT_TRUE(test::RunOnServer(server.Uri(), "DROP TABLE SessionBytes").empty());
  EXPECT_NE(cli.Run({"--db", uri, "import", kSample}), kExitOk);
  EXPECT_NE(cli.Err().find("sessionbytes"), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Err().find("unused-secret"), std::string::npos) << cli.Err();
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);
  EXPECT_EQ(test::QueryNumber(session, "SELECT count(*) FROM Session"), 0);  // nothing of it was kept
}

TEST(ServerSource, AServerThatDoesNotAnswerIsNamedWithoutItsPassword) {
  test::CliHarness cli;
  EXPECT_NE(cli.Run({"--db", "postgresql://someone:secret@/nowhere?host=/nonexistent-folder", "report", "sessions"}),
            kExitOk);
  EXPECT_NE(cli.Err().find("postgresql://someone@/nowhere"), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Err().find("secret"), std::string::npos) << cli.Err();
}

}  // namespace
}  // namespace weavil

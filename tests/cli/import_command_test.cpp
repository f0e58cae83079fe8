// `weavil import`: usage errors, the summary line, re-imports, offsets and files that
// cannot be opened, run in process against temporary settings and databases.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <sstream>

#include <sqlite3.h>
#include <unistd.h>

#include "cli/cli.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"
#include "tests/import/import_test_support.h"
#include "tests/net/loopback_servers.h"
#include "tests/support/cli_harness.h"

namespace weavil {
namespace {

class ImportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CopyTemplateDatabase(cli_.Dir().File("log.db"));
    log_ = cli_.Dir().File("access.log");
    test::WriteFile(log_, test::Combined("1.1.1.1", 0, "/a.html") + "not a log line\n" +
                              test::Combined("2.2.2.2", 60, "/b.html", 404, "5", "-", "Other"));
  }
  int Run(std::vector<std::string> words) {
    words.insert(words.begin(), {"--db", cli_.Dir().File("log.db")});
    return cli_.Run(std::move(words));
  }
  std::string Summary() {
    std::string text = cli_.Out();
    return text.substr(0, text.rfind(", ") + 2);  // without the seconds
  }

  test::CliHarness cli_;
  std::string log_;
};

TEST_F(ImportCommandTest, ImportsOnceAndSaysWhatItDid) {
  ASSERT_EQ(Run({"import", log_}), kExitOk) << cli_.Err();
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 2 sessions stored, 0 sessions already stored, ");
  EXPECT_NE(cli_.Out().find(" seconds\n"), std::string::npos);
  EXPECT_EQ(cli_.Err(), "");  // no progress when stderr is no terminal
  // The file unchanged: read on from where the first import ended.
  ASSERT_EQ(Run({"import", log_}), kExitOk);
  EXPECT_EQ(cli_.Out().substr(0, cli_.Out().find(", 0.")),
            "0 lines read, 0 lines rejected, 0 sessions stored, 0 sessions already stored");
  EXPECT_NE(cli_.Out().find(" seconds (read on from byte " + std::to_string(test::ReadFile(log_).size()) +
                            ", where the last import of " + log_ + " ended)\n"),
            std::string::npos)
      << cli_.Out();
  // Read again from the start.
  ASSERT_EQ(cli_.Run({"settings", "IsResumingImports", "0"}), kExitOk) << cli_.Err();
  ASSERT_EQ(Run({"import", log_}), kExitOk);
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 0 sessions stored, 2 sessions already stored, ");
  ASSERT_EQ(Run({"import", log_, "--offset", "1000000"}), kExitOk);
  EXPECT_EQ(Summary(), "0 lines read, 0 lines rejected, 0 sessions stored, 0 sessions already stored, ");
  ASSERT_EQ(Run({"import", "--from-last-header", log_}), kExitOk);  // no header: the whole file
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 0 sessions stored, 2 sessions already stored, ");
}

TEST_F(ImportCommandTest, UsageErrorsAndUnopenableFiles) {
  EXPECT_EQ(Run({"import", "--help"}), kExitOk);
  EXPECT_NE(cli_.Out().find("Usage: weavil [--db FILE] import LOGFILE"), std::string::npos);
  EXPECT_EQ(Run({"import"}), kExitUsage);
  EXPECT_NE(cli_.Err().find("no log file given"), std::string::npos);
  EXPECT_EQ(Run({"import", log_, "--offset", "-4"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--offset=x"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--offset", "3", "--from-last-header"}), kExitUsage);
  EXPECT_EQ(Run({"import", "-", log_, "-"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, log_, "--offset", "3"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--frobnicate"}), kExitUsage);

  EXPECT_EQ(Run({"import", cli_.Dir().File("missing.log")}), kExitFailure);
  EXPECT_EQ(cli_.Err(), "weavil: cannot open " + cli_.Dir().File("missing.log") + ": No such file or directory\n");
  EXPECT_EQ(Run({"import", cli_.Dir().Path()}), kExitFailure);
  EXPECT_NE(cli_.Err().find("it is a folder"), std::string::npos);
}

// A database another writer keeps locked beyond the busy time, and one whose Session
// table has another layout: the import fails, says why, and stores nothing.
TEST_F(ImportCommandTest, AnImportThatCannotWriteFailsAndStoresNothing) {
  const std::string db = cli_.Dir().File("log.db");
  ASSERT_EQ(cli_.Run({"settings", "BusySeconds", "1"}), kExitOk);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(Run({"import", log_}), kExitFailure);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_NE(cli_.Err().find("cannot store the sessions in the database " + db + ": database is locked"),
            std::string::npos)
      << cli_.Err();
  EXPECT_EQ(cli_.Out(), "");
  EXPECT_EQ(test::QueryNumber(db, "SELECT count(*) FROM [Session]"), 0);

  ASSERT_TRUE(test::ExecuteSql(db, "ALTER TABLE SessionRow RENAME COLUMN UserIP TO Address"));
  EXPECT_EQ(Run({"import", log_}), kExitFailure);
  EXPECT_NE(cli_.Err().find("no such column: UserIP"), std::string::npos) << cli_.Err();
  EXPECT_EQ(cli_.Out().find("already stored"), std::string::npos);
}

// A database file the user may only read: import and resolve (which write) fail and say
// so. As root (CI) the program runs as "nobody", since root writes to any file.
TEST_F(ImportCommandTest, AReadOnlyDatabaseFailsImportAndResolve) {
  test::TempDir home;
  const std::string db = home.File("log.db");
  test::CopyTemplateDatabase(db);
  ASSERT_TRUE(test::ExecuteSql(db, "INSERT INTO DNSLookUp (UserIP, rURL) VALUES ('127.0.0.1', 'ip.127.0.0.1')"));
  std::filesystem::copy_file(log_, home.File("access.log"));
  std::vector<std::string> prefix;
  if (::geteuid() == 0) {
    if (::access("/usr/sbin/runuser", X_OK) != 0) GTEST_SKIP() << "runuser is needed to drop root";
    prefix = {"-u", "nobody", "--"};
    std::filesystem::permissions(home.Path(), std::filesystem::perms::all);  // nobody keeps its settings here
    std::filesystem::permissions(db, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  } else {
    std::filesystem::permissions(db, std::filesystem::perms::owner_read);
  }
  auto weavil = [&](const std::vector<std::string>& words) {
    std::vector<std::string> args = prefix;
    args.insert(args.end(), {"env", "XDG_CONFIG_HOME=" + home.File("config"), "XDG_DATA_HOME=" + home.File("data"),
                             test::BuildBinDir() + "/weavil", "--db", db});
    args.insert(args.end(), words.begin(), words.end());
    return test::RunProcess(prefix.empty() ? "/usr/bin/env" : "/usr/sbin/runuser",
                            prefix.empty() ? std::vector<std::string>(args.begin() + 1, args.end()) : args, {});
  };
  test::ProcessResult import = weavil({"import", home.File("access.log")});
  EXPECT_EQ(import.exitCode, kExitFailure) << import.out;
  EXPECT_NE(import.err.find("readonly"), std::string::npos) << import.err;
  test::ProcessResult resolve = weavil({"resolve"});
  EXPECT_EQ(resolve.exitCode, kExitFailure) << resolve.out;
  EXPECT_NE(resolve.err.find("cannot store the host names in the database " + db), std::string::npos) << resolve.err;
  EXPECT_EQ(test::QueryNumber(db, "SELECT count(*) FROM [Session]"), 0);
}

// Runs a shell command of the system tools (the compressors); fails the test when it fails.
void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// A summary of what a database holds: sessions, their page counts and their pages.
std::string Stored(const std::string& db) {
  return std::to_string(test::QueryNumber(db, "SELECT count(*) FROM Session")) + " sessions, " +
         std::to_string(test::QueryNumber(db, "SELECT coalesce(sum(NumVisited), 0) FROM Session")) + " visited, " +
         std::to_string(test::QueryNumber(db, "SELECT count(*) FROM Resource")) + " pages";
}

// Standard input of the process taken from a file while a command runs.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& path) : saved_(::dup(0)) {
    int fd = ::open(path.c_str(), O_RDONLY);
    ::dup2(fd, 0);
    ::close(fd);
  }
  ~StdinFrom() {
    ::dup2(saved_, 0);
    ::close(saved_);
  }

 private:
  int saved_;
};

TEST_F(ImportCommandTest, RotatedCompressedAndPipedPartsStoreWhatTheWholeLogStores) {
  // A visit of 3.3.3.3 runs across the two parts.
  std::string first = test::Combined("3.3.3.3", 0, "/a.html") + test::Combined("4.4.4.4", 5, "/x.html") +
                      test::Combined("3.3.3.3", 30, "/b.html");
  std::string second = test::Combined("3.3.3.3", 90, "/c.html") + test::Combined("4.4.4.4", 100, "/y.html") +
                       test::Combined("5.5.5.5", 200, "/z.html");
  std::string whole = cli_.Dir().File("whole.log"), older = cli_.Dir().File("access.log.1"),
              newer = cli_.Dir().File("access.log");
  test::WriteFile(whole, first + second);
  test::WriteFile(older, first);
  test::WriteFile(newer, second);
  Shell("gzip -k " + older + " && xz -k " + newer + " && bzip2 -k " + whole + " && zstd -q " + whole +
        " -o " + whole + ".zst && zstd -q " + newer + " -o " + newer + ".zst");
  std::string expected;
  auto importInto = [&](const std::string& db, std::vector<std::string> words) {
    test::CopyTemplateDatabase(db);
    words.insert(words.begin(), {"--db", db, "import"});
    EXPECT_EQ(cli_.Run(words), kExitOk) << cli_.Err();
    return Stored(db);
  };
  expected = importInto(cli_.Dir().File("whole.db"), {whole});
  EXPECT_EQ(expected, "3 sessions, 6 visited, 6 pages");
  EXPECT_EQ(importInto(cli_.Dir().File("parts.db"), {older, newer}), expected);
  EXPECT_EQ(importInto(cli_.Dir().File("packed.db"), {older + ".gz", newer + ".xz"}), expected);
  EXPECT_EQ(importInto(cli_.Dir().File("bz.db"), {whole + ".bz2"}), expected);
  {
    StdinFrom input(newer + ".zst");
    EXPECT_EQ(importInto(cli_.Dir().File("piped.db"), {older, "-"}), expected);
  }
  {
    StdinFrom input(whole + ".zst");
    EXPECT_EQ(importInto(cli_.Dir().File("stdin.db"), {"-"}), expected);
  }
}

TEST_F(ImportCommandTest, UnusableAndDamagedInputFailsNamingFileAndLine) {
  std::string binary = cli_.Dir().File("image.log"), rejects = cli_.Dir().File("rejects.txt");
  test::WriteFile(binary, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20));
  EXPECT_EQ(Run({"import", log_, binary, "--rejects", rejects}), kExitFailure);
  EXPECT_EQ(cli_.Err(), "weavil: no line of " + binary + " could be used (line 1 is the first unusable one)\n");
  EXPECT_NE(cli_.Out().find("3 lines rejected (written to " + rejects + "), 2 sessions stored"), std::string::npos)
      << cli_.Out();
  std::ifstream in(rejects, std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written.substr(0, written.find(binary)), log_ + ":2:not a log line\n");
  EXPECT_NE(written.find(binary + ":1:\x89PNG"), std::string::npos);

  // A cut-off compressed log: what came before the cut is stored, the exit says it is not all.
  std::string big;
  for (int i = 0; i < 4000; ++i) big += test::Combined("6.6." + std::to_string(i / 250) + "." + std::to_string(i % 250), i, "/p.html");
  std::string gz = cli_.Dir().File("big.log.gz");
  test::WriteFile(cli_.Dir().File("big.log"), big);
  Shell("gzip -c " + cli_.Dir().File("big.log") + " | head -c 6000 > " + gz);
  EXPECT_EQ(Run({"import", gz}), kExitFailure);
  EXPECT_NE(cli_.Err().find("reading " + gz + " stopped after line "), std::string::npos) << cli_.Err();
  EXPECT_NE(cli_.Err().find("the gzip data ends early"), std::string::npos) << cli_.Err();
  EXPECT_GT(test::QueryNumber(cli_.Dir().File("log.db"), "SELECT count(*) FROM Session"), 2);

  EXPECT_EQ(Run({"import", log_, "--format", "%h %t"}), kExitFailure);
  EXPECT_EQ(cli_.Err(), "weavil: the log format has no request (%r, %U, $request or $uri)\n");
  EXPECT_EQ(Run({"import", log_, "--rejects", cli_.Dir().File("no/such/folder/r.txt")}), kExitFailure);
}

TEST_F(ImportCommandTest, FormatOptionReadsLinesOfThatFormat) {
  std::string nginx = cli_.Dir().File("nginx.log");
  test::WriteFile(nginx,
                  "203.0.113.9|07/Mar/2003:10:00:00 +0100|GET /shop/cart.html HTTP/1.1|200|512|0.250|shop.test\n"
                  "203.0.113.9|07/Mar/2003:10:01:00 +0100|GET /shop/pay.html HTTP/1.1|200|0|0.004|shop.test\n");
  ASSERT_EQ(Run({"import", nginx, "--format",
                 "$remote_addr|$time_local|$request|$status|$body_bytes_sent|$request_time|$host"}),
            kExitOk)
      << cli_.Err();
  EXPECT_EQ(Summary(), "2 lines read, 0 lines rejected, 1 sessions stored, 0 sessions already stored, ");
  std::string db = cli_.Dir().File("log.db");
  EXPECT_EQ(test::QueryNumber(db, "SELECT NumVisited FROM Session"), 2);
  // The same lines without the format are not a log the import knows.
  EXPECT_EQ(Run({"import", nginx}), kExitFailure);
}

}  // namespace
}  // namespace weavil

// `weavil import`: usage errors, the summary line, re-imports, offsets and files that
// cannot be opened, run in process against temporary settings and databases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "store/database.h"
#include "store/trace.h"
#include "tests/import/import_test_support.h"
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
  EXPECT_EQ(Run({"import", log_, log_}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--frobnicate"}), kExitUsage);

  EXPECT_EQ(Run({"import", cli_.Dir().File("missing.log")}), kExitFailure);
  EXPECT_EQ(cli_.Err(), "weavil: cannot open " + cli_.Dir().File("missing.log") + ": No such file or directory\n");
  EXPECT_EQ(Run({"import", cli_.Dir().Path()}), kExitFailure);
  EXPECT_NE(cli_.Err().find("it is a folder"), std::string::npos);
}

}  // namespace
}  // namespace weavil

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
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class ImportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir_.File("data").c_str(), 1);
    test::CopyTemplateDatabase(dir_.File("log.db"));
    log_ = dir_.File("access.log");
    test::WriteFile(log_, test::Combined("1.1.1.1", 0, "/a.html") + "not a log line\n" +
                              test::Combined("2.2.2.2", 60, "/b.html", 404, "5", "-", "Other"));
  }
  void TearDown() override {
    LogDataSource::Release();
    CloseTrace();
    std::filesystem::current_path(previous_);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
  }
  int Run(std::vector<std::string> words) {
    LogDataSource::Release();
    words.insert(words.begin(), {"weavil", "--db", dir_.File("log.db")});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    out_.str("");
    err_.str("");
    return RunCli(static_cast<int>(words.size()), argv.data(), out_, err_);
  }
  std::string Summary() {
    std::string text = out_.str();
    return text.substr(0, text.rfind(", ") + 2);  // without the seconds
  }

  test::TempDir dir_;
  std::filesystem::path previous_;
  std::string log_;
  std::ostringstream out_, err_;
};

TEST_F(ImportCommandTest, ImportsOnceAndSaysWhatItDid) {
  ASSERT_EQ(Run({"import", log_}), kExitOk) << err_.str();
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 2 sessions stored, 0 sessions already stored, ");
  EXPECT_NE(out_.str().find(" seconds\n"), std::string::npos);
  EXPECT_EQ(err_.str(), "");  // no progress when stderr is no terminal
  ASSERT_EQ(Run({"import", log_}), kExitOk);
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 0 sessions stored, 2 sessions already stored, ");
  ASSERT_EQ(Run({"import", log_, "--offset", "1000000"}), kExitOk);
  EXPECT_EQ(Summary(), "0 lines read, 0 lines rejected, 0 sessions stored, 0 sessions already stored, ");
  ASSERT_EQ(Run({"import", "--from-last-header", log_}), kExitOk);  // no header: the whole file
  EXPECT_EQ(Summary(), "3 lines read, 1 lines rejected, 0 sessions stored, 2 sessions already stored, ");
}

TEST_F(ImportCommandTest, UsageErrorsAndUnopenableFiles) {
  EXPECT_EQ(Run({"import", "--help"}), kExitOk);
  EXPECT_NE(out_.str().find("Usage: weavil [--db FILE] import LOGFILE"), std::string::npos);
  EXPECT_EQ(Run({"import"}), kExitUsage);
  EXPECT_NE(err_.str().find("no log file given"), std::string::npos);
  EXPECT_EQ(Run({"import", log_, "--offset", "-4"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--offset=x"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--offset", "3", "--from-last-header"}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, log_}), kExitUsage);
  EXPECT_EQ(Run({"import", log_, "--frobnicate"}), kExitUsage);

  EXPECT_EQ(Run({"import", dir_.File("missing.log")}), kExitFailure);
  EXPECT_EQ(err_.str(), "weavil: cannot open " + dir_.File("missing.log") + ": No such file or directory\n");
  EXPECT_EQ(Run({"import", dir_.Path()}), kExitFailure);
  EXPECT_NE(err_.str().find("it is a folder"), std::string::npos);
}

}  // namespace
}  // namespace weavil

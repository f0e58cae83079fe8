// The command line's global options, exit codes, settings and clear commands, run in
// process against temporary settings and database files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "settings/settings_store.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"
#include "tests/support/cli_harness.h"

namespace weavil {
namespace {

class CliTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> words) { return cli_.Run(std::move(words)); }

  test::CliHarness cli_;
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(cli_.Out().find("Usage: weavil"), std::string::npos);
  EXPECT_NE(cli_.Out().find("settings"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(cli_.Out(), "Weavil 1.4\n");
  EXPECT_EQ(Run({"frobnicate"}), kExitUsage);
  EXPECT_NE(cli_.Err().find("unknown command frobnicate"), std::string::npos);
  EXPECT_EQ(Run({"--db"}), kExitUsage);
  EXPECT_EQ(Run({"--bogus"}), kExitUsage);
  for (const CliCommand& command : CliCommands()) {
    EXPECT_EQ(Run({command.name, "--help"}), kExitOk) << command.name;
    EXPECT_NE(cli_.Out().find("Usage:"), std::string::npos) << command.name;
  }
}

TEST_F(CliTest, NoCommandMeansTheWindow) { EXPECT_EQ(Run({}), kExitOpenWindow); }

TEST_F(CliTest, SettingsAreShownSetAndSaved) {
  ASSERT_EQ(Run({"settings"}), kExitOk);
  EXPECT_NE(cli_.Out().find("Extensions=html htm shtml asp jsp txt pl cfm exe msi aspx zip doc php \n"),
            std::string::npos);
  EXPECT_NE(cli_.Out().find("IsAgentChaining=0\n"), std::string::npos);
  ASSERT_EQ(Run({"settings", "DefaultHost", "www.example.com"}), kExitOk);
  ASSERT_EQ(Run({"settings", "DefaultHost"}), kExitOk);
  EXPECT_EQ(cli_.Out(), "www.example.com\n");
  // Saved to the file, so a new run reads it.
  Settings settings;
  ImportCopies copies;
  SettingsStore().Load(settings, copies, "/p");
  EXPECT_EQ(settings.defaultHost, "www.example.com");

  EXPECT_EQ(Run({"settings", "ProxyPort", "eighty"}), kExitFailure);
  EXPECT_NE(cli_.Err().find("not a number: eighty"), std::string::npos);
  for (const char* port : {"112744", "-1", "65536"}) {
    EXPECT_EQ(Run({"settings", "ProxyPort", port}), kExitFailure) << port;
    EXPECT_NE(cli_.Err().find("not a port from 1 to 65535"), std::string::npos) << cli_.Err();
  }
  ASSERT_EQ(Run({"settings", "BusySeconds"}), kExitOk);
  EXPECT_EQ(cli_.Out(), "30\n");
  EXPECT_EQ(Run({"settings", "NoSuch"}), kExitUsage);
  EXPECT_EQ(Run({"settings", "Url", std::string(260, 'x')}), kExitFailure);
  EXPECT_EQ(Run({"settings", "a", "b", "c"}), kExitUsage);
}

// A file that is no database, and a database whose pages are damaged, are reported as
// such by every command that reads them, not shown as empty reports.
TEST_F(CliTest, DamagedDatabasesAreReportedAsSuch) {
  std::string junk = cli_.Dir().File("junk.db");
  test::WriteFile(junk, std::string(8192, 'j'));
  for (std::vector<std::string> command : {std::vector<std::string>{"report", "sessions"},
                                           {"details", "1"}, {"resolve"}, {"clear", "--yes"}}) {
    command.insert(command.begin(), {"--db", junk});
    EXPECT_EQ(Run(command), kExitFailure) << command[2];
    EXPECT_NE(cli_.Err().find("file is not a database"), std::string::npos) << command[2] << ": " << cli_.Err();
  }

  std::string damaged = cli_.Dir().File("damaged.db");
  test::CopyTemplateDatabase(damaged);
  // The root pages of every table and index; the schema page stays whole, so it opens.
  int64_t first = 2;
  int64_t last = test::QueryNumber(damaged, "SELECT max(rootpage) FROM sqlite_master");
  int64_t pageSize = test::QueryNumber(damaged, "PRAGMA page_size");
  ASSERT_GT(first, 1);
  ASSERT_GT(last, first);
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((first - 1) * pageSize);
    std::string garbage(static_cast<size_t>((last - first + 1) * pageSize), '\x5a');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  EXPECT_EQ(Run({"--db", damaged, "report", "sessions"}), kExitFailure);
  EXPECT_NE(cli_.Err().find("the database is damaged: " + damaged), std::string::npos) << cli_.Err();
  EXPECT_NE(cli_.Err().find("malformed"), std::string::npos) << cli_.Err();
}

TEST_F(CliTest, ClearOnANewDatabaseFile) {
  std::string db = cli_.Dir().File("t.db");
  EXPECT_EQ(Run({"--db", db, "clear", "--yes"}), kExitFailure)
      << "no template beside the test program: " << cli_.Err();
}

TEST_F(CliTest, ClearOnAnExistingDatabaseFile) {
  std::string db = cli_.Dir().File("t.db");
  test::CopyTemplateDatabase(db);
  {
    DbSession session;
    ASSERT_GE(session.OpenFile(db), 0);
    Statement statement;
    ASSERT_GE(statement.Execute(session, "INSERT INTO [Session] (SessionId) VALUES ('s')"), 0);
  }
  EXPECT_EQ(Run({"--db", db, "clear"}), kExitUsage) << "clear wants --yes";
  ASSERT_EQ(Run({"--db", db, "clear", "--yes"}), kExitOk) << cli_.Err();
  DbSession session;
  ASSERT_GE(session.OpenFile(db), 0);
  Statement statement;
  ASSERT_GE(statement.Execute(session, "SELECT Count(*) FROM [Session]"), 0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  int32_t count = -1;
  statement.GetInt(1, count);
  EXPECT_EQ(count, 0);
}

TEST_F(CliTest, AChartDocumentTheControlRejectsIsExplainedInWords) {
  const std::string png = cli_.Dir().File("c.png");
  auto chart = [&](const std::string& kind, const std::string& document) {
    test::WriteFile(cli_.Dir().File("c.xml"), document);
    return Run({"chart", kind, cli_.Dir().File("c.xml"), "--png", png});
  };
  EXPECT_EQ(chart("timeseries", "<VYR_CHART_DATA><ITM TM='1204329600' ALT='1'>3</ITM></VYR_CHART_DATA>"), kExitOk)
      << cli_.Err();
  EXPECT_TRUE(std::filesystem::exists(png));

  EXPECT_EQ(chart("timeseries", "<VYR_CHART_DATA>\n<ITM TM='1204329600'>3</ITM>\n<ITM>4</ITM></VYR_CHART_DATA>"),
            kExitFailure);
  EXPECT_NE(cli_.Err().find("item 2 (line 3"), std::string::npos) << cli_.Err();
  EXPECT_NE(cli_.Err().find("no TM attribute"), std::string::npos) << cli_.Err();
  EXPECT_EQ(chart("items", "<VYR_CHART_DATA><ITM LBL='a'>many</ITM></VYR_CHART_DATA>"), kExitFailure);
  EXPECT_NE(cli_.Err().find("the value 'many'"), std::string::npos) << cli_.Err();
  EXPECT_EQ(chart("items", "<VYR_CHART_DATA><ITM LBL='a'>1</ITM>"), kExitFailure);
  EXPECT_NE(cli_.Err().find("line 1, column"), std::string::npos) << cli_.Err();
}

}  // namespace
}  // namespace weavil

// Registering the data source "Log" at start-up, with its trace lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <sqlite3.h>

#include "settings/program_folders.h"
#include "settings/settings_store.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/trace.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class DataSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir_.File("data").c_str(), 1);
    program_ = dir_.File("program/");
    std::filesystem::create_directories(program_ + "db");
  }
  void TearDown() override {
    LogDataSource::Release();
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
  }
  std::string Trace() { return test::ReadFile(dir_.File("RovanTrace.txt")); }

  test::WorkFolder dir_;
  std::string program_;
};

TEST_F(DataSourceTest, FirstStartRegistersTheDatabaseBesideTheProgram) {
  test::CopyTemplateDatabase(program_ + "db/log.db");
  EnsureDataSource(program_);
  EXPECT_EQ(Trace(), "Fail to open ODBC source\nCreating new ODBC source...\nsucceed\n");
  std::string path;
  ASSERT_TRUE(LookupDataSource("Log", path));
  EXPECT_EQ(path, program_ + "db/log.db");
  EXPECT_TRUE(LogDataSource::Obtain().IsOpen());
  EXPECT_EQ(LogDataSource::Obtain().Path(), path);

  // The next start finds it and traces nothing more.
  EnsureDataSource(program_);
  EXPECT_EQ(Trace(), "Fail to open ODBC source\nCreating new ODBC source...\nsucceed\n");
}

TEST_F(DataSourceTest, AMissingDatabaseFileEndsWithFaildAndTheProgramGoesOn) {
  EnsureDataSource(program_);
  EXPECT_EQ(Trace(), "Fail to open ODBC source\nCreating new ODBC source...\nfaild\n");
  EXPECT_FALSE(LogDataSource::Obtain().IsOpen());
}

TEST_F(DataSourceTest, OtherSourcesInTheListSurviveRegistration) {
  ASSERT_TRUE(RegisterDataSource("Other", "/somewhere/else.db"));
  test::CopyTemplateDatabase(program_ + "db/log.db");
  EnsureDataSource(program_);
  std::string path;
  ASSERT_TRUE(LookupDataSource("Other", path));
  EXPECT_EQ(path, "/somewhere/else.db");
  EXPECT_FALSE(LookupDataSource("Nothing", path));
}

TEST_F(DataSourceTest, NewDatabaseFilesComeFromTheTemplate) {
  std::string error;
  std::string target = dir_.File("new/sub/t.db");
  ASSERT_TRUE(CreateDatabaseFromTemplate(WEAVIL_DB_TEMPLATE, target, error)) << error;
  DbSession session;
  EXPECT_GE(session.OpenFile(target), 0);
  // An existing file is kept as it is.
  test::WriteFile(dir_.File("keep.db"), "mine");
  ASSERT_TRUE(CreateDatabaseFromTemplate(WEAVIL_DB_TEMPLATE, dir_.File("keep.db"), error));
  EXPECT_EQ(test::ReadFile(dir_.File("keep.db")), "mine");
  EXPECT_FALSE(CreateDatabaseFromTemplate(dir_.File("no-template.db"), dir_.File("x.db"), error));
  EXPECT_NE(error.find("no-template.db"), std::string::npos);
}

// A disk that fills during the copy (here: a file size limit) leaves no cut database
// under the name, so the next run creates a whole one instead of failing on it for good.
TEST_F(DataSourceTest, ACopyCutShortLeavesNoDatabaseBehind) {
  std::string target = dir_.File("full/t.db");
  pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    bool created = CreateDatabaseFromTemplate(WEAVIL_DB_TEMPLATE, target, error);
    ::_exit(!created && error.find("File too large") != std::string::npos ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the copy failed, saying why";
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.File("full")), {}), 0);
  std::string error;
  ASSERT_TRUE(CreateDatabaseFromTemplate(WEAVIL_DB_TEMPLATE, target, error)) << error;
  DbSession session;
  EXPECT_GE(session.OpenFile(target), 0);
}

TEST_F(DataSourceTest, AnInstalledProgramKeepsItsDataBelowTheUsersDataFolder) {
  namespace fs = std::filesystem;
  const std::string prefix = dir_.File("usr");
  const std::string bin = prefix + "/bin/";
  fs::create_directories(bin);
  fs::create_directories(prefix + "/lib");
  fs::create_directories(prefix + "/share/weavil/db");
  const std::string installedTemplate = prefix + "/share/weavil/db/log-template.db";
  fs::copy_file(WEAVIL_DB_TEMPLATE, installedTemplate);
  // Installed by someone else: the user may only read it.
  fs::permissions(installedTemplate, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  EXPECT_TRUE(IsInstalledProgram(bin));
  EXPECT_TRUE(IsInstalledProgram(prefix + "/bin"));
  EXPECT_FALSE(IsInstalledProgram(program_));  // a build folder: db/ beside the program
  EXPECT_EQ(ProgramDataDir(bin), prefix + "/share/weavil/");
  EXPECT_EQ(ProgramDataDir(program_), program_);
  EXPECT_EQ(TemplateDatabasePath(bin), installedTemplate);
  const std::string data = dir_.File("data") + "/Vyr/Weavil";
  EXPECT_EQ(DefaultDownloadFolder(bin), data + "/log/");
  EXPECT_EQ(DefaultDownloadFolder(program_), program_ + "log/");

  // The chart library beside the program wins; else the one of the library folder.
  EXPECT_EQ(ChartLibraryFile(bin, prefix + "/lib"), bin + "libplotwell.so");
  test::WriteFile(prefix + "/lib/libplotwell.so", "");
  EXPECT_EQ(ChartLibraryFile(bin, prefix + "/lib"), prefix + "/lib/libplotwell.so");
  test::WriteFile(bin + "libplotwell.so", "");
  EXPECT_EQ(ChartLibraryFile(bin, prefix + "/lib"), bin + "libplotwell.so");

  EnsureDataSource(bin);
  std::string path;
  ASSERT_TRUE(LookupDataSource("Log", path));
  EXPECT_EQ(path, data + "/log.db");
  ASSERT_TRUE(LogDataSource::Obtain().IsOpen());
  // The copy is the user's to write although the template was read-only.
  EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
  DbSession session;
  ASSERT_GE(session.OpenFile(path), 0);
  EXPECT_GE(session.StartTransaction(), 0);
  EXPECT_EQ(sqlite3_exec(session.Handle(), "CREATE TABLE Probe (x INTEGER);", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_GE(session.Commit(), 0);
}

}  // namespace
}  // namespace weavil

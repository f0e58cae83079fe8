// `weavil import --follow` as a real process: a round line for what is added, and
// SIGTERM ends it with everything stored, exit 0 and a summary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "tests/import/import_test_support.h"
#include "tests/net/loopback_servers.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;

// Waits up to 30 s for text to appear in the file.
bool WaitFor(const std::string& path, const std::string& text) {
  for (int i = 0; i < 600; ++i) {
    if (test::ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(FollowCommandTest, RoundsAreStoredAndSigtermEndsCleanly) {
  test::TempDir home;
  const std::string db = home.File("log.db"), log = home.File("access.log"), out = home.File("out.txt");
  test::CopyTemplateDatabase(db);
  test::WriteFile(log, Combined("1.1.1.1", 0, "/a.html") + Combined("2.2.2.2", 10, "/b.html"));
  std::map<std::string, std::string> env = {{"XDG_CONFIG_HOME", home.File("config")},
                                            {"XDG_DATA_HOME", home.File("data")}};
  const std::string weavil = test::BuildBinDir() + "/weavil";
  ASSERT_EQ(test::RunProcess(weavil, {"settings", "FollowSeconds", "1"}, env).exitCode, kExitOk);
  EXPECT_EQ(test::RunProcess(weavil, {"settings", "FollowSeconds", "0"}, env).exitCode, kExitFailure);
  EXPECT_EQ(test::RunProcess(weavil, {"--db", db, "import", "--follow", "-"}, env).exitCode, kExitUsage);

  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = {weavil, "--db", db, "import", "--follow", log};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execve(weavil.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  EXPECT_TRUE(WaitFor(out, "2 lines read, 0 lines rejected, 2 sessions stored")) << test::ReadFile(out);
  EXPECT_EQ(test::QueryNumber(db, "SELECT count(*) FROM [Session]"), 2) << "stored while the follow runs";
  std::FILE* file = std::fopen(log.c_str(), "ab");
  std::fputs(Combined("1.1.1.1", 30, "/c.html").c_str(), file);
  std::fclose(file);
  EXPECT_TRUE(WaitFor(out, "1 lines read, 0 lines rejected, 0 sessions stored, 1 sessions completed"))
      << test::ReadFile(out);
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << test::ReadFile(out);
  EXPECT_EQ(WEXITSTATUS(status), kExitOk);
  EXPECT_NE(test::ReadFile(out).find("3 lines read, 0 lines rejected, 2 sessions stored, 1 sessions completed"),
            std::string::npos)
      << test::ReadFile(out);
  EXPECT_EQ(test::QueryNumber(db, "SELECT NumVisited FROM [Session] WHERE UserIP = '1.1.1.1'"), 2);
}

}  // namespace
}  // namespace weavil

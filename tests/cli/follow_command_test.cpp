// `weavil import --follow` as a real process: a round line for what is added, and
// SIGTERM ends it with everything stored, exit 0 and a summary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
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

// `weavil import --follow LOG` started as a process of its own, its output in out.
class FollowProcess {
 public:
  FollowProcess(const std::string& db, const std::string& log, const std::string& out,
                const std::map<std::string, std::string>& env) {
    const std::string weavil = test::BuildBinDir() + "/weavil";
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
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execve(weavil.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~FollowProcess() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  // SIGTERM; the exit status (-1 when the process did not exit by itself).
  int Stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    waited_ = ::waitpid(pid_, &status, 0) == pid_;
    return waited_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  bool waited_ = false;
};

void Append(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

class FollowCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CopyTemplateDatabase(db_);
    ASSERT_EQ(test::RunProcess(weavil_, {"settings", "FollowSeconds", "1"}, env_).exitCode, kExitOk);
  }

  test::TempDir home_;
  const std::string db_ = home_.File("log.db"), log_ = home_.File("access.log"), out_ = home_.File("out.txt");
  const std::map<std::string, std::string> env_ = {{"XDG_CONFIG_HOME", home_.File("config")},
                                                   {"XDG_DATA_HOME", home_.File("data")}};
  const std::string weavil_ = test::BuildBinDir() + "/weavil";
};

TEST_F(FollowCommandTest, RoundsAreStoredAndSigtermEndsCleanly) {
  test::WriteFile(log_, Combined("1.1.1.1", 0, "/a.html") + Combined("2.2.2.2", 10, "/b.html"));
  EXPECT_EQ(test::RunProcess(weavil_, {"settings", "FollowSeconds", "0"}, env_).exitCode, kExitFailure);
  EXPECT_EQ(test::RunProcess(weavil_, {"--db", db_, "import", "--follow", "-"}, env_).exitCode, kExitUsage);

  FollowProcess follow(db_, log_, out_, env_);
  ASSERT_TRUE(follow.Started());
  EXPECT_TRUE(WaitFor(out_, "2 lines read, 0 lines rejected, 2 sessions stored")) << test::ReadFile(out_);
  EXPECT_EQ(test::QueryNumber(db_, "SELECT count(*) FROM [Session]"), 2) << "stored while the follow runs";
  Append(log_, Combined("1.1.1.1", 30, "/c.html"));
  EXPECT_TRUE(WaitFor(out_, "1 lines read, 0 lines rejected, 0 sessions stored, 1 sessions completed"))
      << test::ReadFile(out_);
  EXPECT_EQ(follow.Stop(), kExitOk) << test::ReadFile(out_);
  EXPECT_NE(test::ReadFile(out_).find("3 lines read, 0 lines rejected, 2 sessions stored, 1 sessions completed"),
            std::string::npos)
      << test::ReadFile(out_);
  EXPECT_EQ(test::QueryNumber(db_, "SELECT NumVisited FROM [Session] WHERE UserIP = '1.1.1.1'"), 2);
}

// A log imported before is followed on from where that import ended: the stored lines
// are not read again, and the session open there takes the next request. Where the
// follow ended, the next import reads on.
TEST_F(FollowCommandTest, AnImportedLogIsFollowedOnFromWhereItsImportEnded) {
  const std::string first = Combined("1.1.1.1", 0, "/a.html") + Combined("2.2.2.2", 10, "/b.html");
  test::WriteFile(log_, first);
  ASSERT_EQ(test::RunProcess(weavil_, {"--db", db_, "import", log_}, env_).exitCode, kExitOk);

  FollowProcess follow(db_, log_, out_, env_);
  ASSERT_TRUE(follow.Started());
  EXPECT_TRUE(WaitFor(out_, "reading on from byte " + std::to_string(first.size()) + ", where the last import of " +
                                log_ + " ended"))
      << test::ReadFile(out_);
  Append(log_, Combined("1.1.1.1", 30, "/c.html"));
  EXPECT_TRUE(WaitFor(out_, "1 lines read, 0 lines rejected, 0 sessions stored, 1 sessions completed"))
      << test::ReadFile(out_);
  EXPECT_EQ(follow.Stop(), kExitOk) << test::ReadFile(out_);
  EXPECT_NE(
      test::ReadFile(out_).find(" rounds, 1 lines read, 0 lines rejected, 0 sessions stored, 1 sessions completed"),
      std::string::npos)
      << test::ReadFile(out_);
  EXPECT_EQ(test::QueryNumber(db_, "SELECT count(*) FROM [Session]"), 2);
  EXPECT_EQ(test::QueryNumber(db_, "SELECT NumVisited FROM [Session] WHERE UserIP = '1.1.1.1'"), 2);

  const test::ProcessResult again = test::RunProcess(weavil_, {"--db", db_, "import", log_}, env_);
  EXPECT_EQ(again.exitCode, kExitOk);
  EXPECT_NE(again.out.find("0 lines read, 0 lines rejected, 0 sessions stored"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("(read on from byte " + std::to_string(test::ReadFile(log_).size()) +
                           ", where the last import of"),
            std::string::npos)
      << again.out;
}

}  // namespace
}  // namespace weavil

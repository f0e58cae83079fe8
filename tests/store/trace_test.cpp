// The trace log: created at the first write, lines kept whole under concurrent writers,
// a failed open retried at the next write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "store/trace.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class TraceTest : public ::testing::Test {
 protected:
  std::vector<std::string> Lines() {
    std::istringstream in(test::ReadFile(dir_.File("RovanTrace.txt")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  test::WorkFolder dir_;
};

TEST_F(TraceTest, FirstWriteEmptiesAnOldFileAndEveryLineIsFlushed) {
  test::WriteFile(dir_.File("RovanTrace.txt"), "from an earlier run\n");
  WriteTrace("Getting DBConnection instance...");
  // Readable at once, without closing: each line is flushed.
  EXPECT_EQ(Lines(), std::vector<std::string>{"Getting DBConnection instance..."});
  WriteTrace("");
  WriteTrace("Closing Session...");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Getting DBConnection instance...", "", "Closing Session..."}));
}

TEST_F(TraceTest, ConcurrentWritersKeepLinesWhole) {
  constexpr int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + " ";
        line.append(static_cast<size_t>(50 + (i * 7) % 300), static_cast<char>('a' + t));
        WriteTrace(line);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    std::istringstream words(line);
    std::string word, thread, lineWord, index, fill;
    words >> word >> thread >> lineWord >> index >> fill;
    ASSERT_EQ(word, "thread") << line;
    int t = std::stoi(thread), i = std::stoi(index);
    ASSERT_EQ(fill, std::string(static_cast<size_t>(50 + (i * 7) % 300), static_cast<char>('a' + t))) << line;
    seen.insert(thread + ":" + index);
  }
  EXPECT_EQ(seen.size(), lines.size());
}

TEST_F(TraceTest, AFailedOpenIsRetriedAtTheNextWrite) {
  if (::geteuid() == 0) {
    // root writes into read-only folders; make the name a folder instead.
    std::filesystem::create_directory(dir_.File("RovanTrace.txt"));
    WriteTrace("lost");
    std::filesystem::remove(dir_.File("RovanTrace.txt"));
  } else {
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    WriteTrace("lost");
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms::owner_all);
  }
  WriteTrace("kept");
  EXPECT_EQ(Lines(), std::vector<std::string>{"kept"});
}

// A link planted under the trace's name (to a file the user cares about) is not
// followed, so nothing is emptied; tracing goes on once the link is gone.
TEST_F(TraceTest, APlantedLinkIsNotFollowed) {
  test::WriteFile(dir_.File("precious.txt"), "keep me\n");
  std::filesystem::create_symlink(dir_.File("precious.txt"), dir_.File("RovanTrace.txt"));
  WriteTrace("lost");
  EXPECT_EQ(test::ReadFile(dir_.File("precious.txt")), "keep me\n");
  std::filesystem::create_hard_link(dir_.File("precious.txt"), dir_.File("other.txt"));
  std::filesystem::remove(dir_.File("RovanTrace.txt"));
  std::filesystem::create_hard_link(dir_.File("precious.txt"), dir_.File("RovanTrace.txt"));
  WriteTrace("lost too");
  EXPECT_EQ(test::ReadFile(dir_.File("precious.txt")), "keep me\n") << "a second name of a file is no trace";
  std::filesystem::remove(dir_.File("RovanTrace.txt"));
  WriteTrace("kept");
  EXPECT_EQ(Lines(), std::vector<std::string>{"kept"});
}

TEST_F(TraceTest, DeletingTheFileDoesNotStopTracing) {
  WriteTrace("one");
  std::filesystem::remove(dir_.File("RovanTrace.txt"));
  WriteTrace("two");  // goes to the open (now unlinked) file, without an error
  EXPECT_FALSE(std::filesystem::exists(dir_.File("RovanTrace.txt")));
}

}  // namespace
}  // namespace weavil

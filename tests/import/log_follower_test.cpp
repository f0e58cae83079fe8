// Following a growing log: rounds of appended lines, a line still being written,
// logrotate's copytruncate and create, a database that refuses a round, and the stop
// flag. Whatever the path, the database ends holding what one import of everything
// the server wrote holds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include <sqlite3.h>

#include "classify/country_lookup.h"
#include "import/import_driver.h"
#include "import/log_follower.h"
#include "store/database.h"
#include "store/result.h"
#include "tests/import/import_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;
using test::StoredContent;

// 90 minutes of five visitors, pages and images, so that a cut anywhere leaves
// sessions open.
std::string Visits() {
  std::string text;
  for (int minute = 0; minute < 90; ++minute) {
    for (int visitor = 0; visitor < 5; ++visitor) {
      if ((minute + visitor) % 4 == 0) continue;
      std::string ip = "10.0.0." + std::to_string(visitor);
      text += Combined(ip, 3600 + minute * 60 + visitor, "/p" + std::to_string(minute) + ".html", 200, "100", "-",
                       "Agent/" + std::to_string(visitor));
      text += Combined(ip, 3600 + minute * 60 + visitor, "/i" + std::to_string(minute) + ".gif", 200, "7");
    }
  }
  return text;
}

void Append(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// The end of the line that holds byte at.
size_t LineEnd(const std::string& text, size_t at) { return text.find('\n', at) + 1; }

class FollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    copies_.defaultHost = "www.site.test";
    text_ = Visits();
    log_ = dir_.File("access.log");
    // What one import of the whole log stores.
    std::string whole = dir_.File("whole.log");
    test::WriteFile(whole, text_);
    UseDatabase("whole.db");
    RunImport(whole, 0, copies_, nullptr);
    expected_ = StoredContent(dir_.File("whole.db"));
    UseDatabase("follow.db");
  }
  void TearDown() override { LogDataSource::Release(); }
  void UseDatabase(const std::string& name) {
    LogDataSource::Release();
    test::CopyTemplateDatabase(dir_.File(name));
    LogDataSource::UseDatabaseFile(dir_.File(name));
  }
  std::string Stored() { return StoredContent(dir_.File("follow.db")); }

  test::WorkFolder dir_;
  ImportCopies copies_;
  std::atomic<bool> stop_{false};
  std::string text_, log_, expected_;
};

TEST_F(FollowerTest, EachRoundStoresTheWholeLinesAddedAndALineBeingWrittenWaits) {
  size_t first = LineEnd(text_, text_.size() / 3);
  size_t half = LineEnd(text_, text_.size() / 2) - 40;  // the middle of a line
  test::WriteFile(log_, text_.substr(0, first));
  LogFollower follower(log_, copies_, stop_);
  FollowRound round = follower.Poll();
  EXPECT_GT(round.sessionsStored, 0);
  EXPECT_EQ(follower.Offset(), static_cast<int64_t>(first));
  int64_t storedAfterFirst = test::QueryNumber(dir_.File("follow.db"), "SELECT count(*) FROM Resource");
  EXPECT_GT(storedAfterFirst, 0) << "a round's sessions are stored when it ends";

  Append(log_, text_.substr(first, half - first));
  round = follower.Poll();
  EXPECT_GT(round.sessionsCompleted, 0) << "sessions cut by the first round take the next requests";
  EXPECT_EQ(follower.Offset(), static_cast<int64_t>(text_.rfind('\n', half - 1) + 1));
  EXPECT_EQ(follower.Poll().linesRead, 0) << "the line being written is not read";
  Append(log_, text_.substr(half));
  round = follower.Poll();
  EXPECT_GT(round.linesRead, 0);
  EXPECT_EQ(round.linesRejected, 0) << "the rest of the cut line was read with its start";
  EXPECT_EQ(follower.Poll().linesRead, 0);
  EXPECT_EQ(Stored(), expected_);
}

// The address ranges are read by the first round and serve the later ones: each new
// address gets the country its range gives, IPv4 and IPv6 alike.
TEST_F(FollowerTest, LaterRoundsGiveNewAddressesTheirCountries) {
  test::WriteFile(log_, Combined("8.8.8.8", 3600, "/a.html") + Combined("2001:41d0:8:f69::1", 3601, "/a.html"));
  LogFollower follower(log_, copies_, stop_);
  ASSERT_EQ(follower.Poll().sessionsStored, 2);
  Append(log_, Combined("81.2.69.160", 3700, "/b.html") + Combined("2a00:1450:4001:80b::200e", 3701, "/b.html") +
                   Combined("193.0.6.139", 3702, "/b.html"));
  ASSERT_EQ(follower.Poll().sessionsStored, 3);
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(dir_.File("follow.db"))));
  for (const char* address :
       {"8.8.8.8", "2001:41d0:8:f69::1", "81.2.69.160", "2a00:1450:4001:80b::200e", "193.0.6.139"}) {
    std::string expected;
    LookupCountry(address, expected, db);
    EXPECT_EQ(expected.size(), 2u) << address;
    Statement stored;
    ASSERT_TRUE(Succeeded(stored.Query(db, "SELECT CountryCode FROM DNSLookUp WHERE UserIP=?;", address)));
    ASSERT_EQ(stored.MoveNext(), kResultOk) << address;
    std::string code;
    stored.GetText(1, code);
    EXPECT_EQ(code, expected) << address;
  }
}

// copytruncate: the log is copied away and truncated in place, then written on; the
// new content may already reach past the old position when the next round looks.
TEST_F(FollowerTest, ACopyTruncatedLogIsReadAgainFromItsStart) {
  for (double part : {0.2, 0.45}) {
    UseDatabase("follow.db");
    size_t a = LineEnd(text_, static_cast<size_t>(text_.size() * part));
    size_t b = LineEnd(text_, static_cast<size_t>(text_.size() * part * 2));
    test::WriteFile(log_, text_.substr(0, a));
    LogFollower follower(log_, copies_, stop_);
    follower.Poll();
    Append(log_, text_.substr(a, b - a));
    EXPECT_FALSE(follower.Poll().truncated);
    ASSERT_EQ(::truncate(log_.c_str(), 0), 0);
    Append(log_, text_.substr(b));
    FollowRound round = follower.Poll();
    EXPECT_TRUE(round.truncated) << part;
    EXPECT_EQ(round.bytesRead, static_cast<int64_t>(text_.size() - b));
    EXPECT_EQ(Stored(), expected_) << "the rest after " << part;
  }
}

// create: the log is renamed away and a new one made; the server writes to the old
// file until it reopens the log, so the old file is read to its end first, its last
// line too even without a newline.
TEST_F(FollowerTest, AReplacedLogIsReadToItsEndThenTheNewFileFromItsStart) {
  size_t a = LineEnd(text_, text_.size() / 4), b = LineEnd(text_, text_.size() / 2);
  size_t c = LineEnd(text_, text_.size() * 3 / 4);
  test::WriteFile(log_, text_.substr(0, a));
  LogFollower follower(log_, copies_, stop_);
  follower.Poll();
  std::string rotated = dir_.File("access.log.1");
  ASSERT_EQ(std::rename(log_.c_str(), rotated.c_str()), 0);
  EXPECT_EQ(follower.Poll().linesRead, 0) << "no log under the name for a moment";
  test::WriteFile(log_, "");
  Append(rotated, text_.substr(a, b - a));
  FollowRound round = follower.Poll();
  EXPECT_FALSE(round.replaced) << "the new file is still empty";
  EXPECT_EQ(round.bytesRead, static_cast<int64_t>(b - a));
  Append(rotated, text_.substr(b, c - 1 - b));  // its last line without the newline
  Append(log_, text_.substr(c));
  round = follower.Poll();
  EXPECT_TRUE(round.replaced);
  EXPECT_EQ(round.linesRejected, 0);
  EXPECT_EQ(Stored(), expected_);
  Append(rotated, Combined("10.9.9.9", 9000, "/late.html"));
  EXPECT_EQ(follower.Poll().linesRead, 0) << "the old file is left once the new one is read";
}

// A round the database refuses stores nothing and is read again by the next one.
TEST_F(FollowerTest, ARefusedRoundIsReadAgainNextRound) {
  test::WriteFile(log_, text_);
  SetDatabaseBusySeconds(0);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.File("follow.db").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  LogFollower follower(log_, copies_, stop_);
  FollowRound refused = follower.Poll();
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  SetDatabaseBusySeconds(kDefaultBusySeconds);
  EXPECT_TRUE(refused.failed);
  EXPECT_NE(refused.error.find("database is locked"), std::string::npos) << refused.error;
  EXPECT_EQ(follower.Offset(), 0);
  EXPECT_FALSE(follower.Poll().failed);
  EXPECT_EQ(Stored(), expected_);
}

// A W3C log writes its Fields directive once, at its start: the rounds after the first
// read their lines by it and store what one import of the whole log stores.
TEST_F(FollowerTest, LaterRoundsOfAW3cLogReadTheFieldsOfItsHeader) {
  std::string w3c = "#Software: Microsoft Internet Information Services 6.0\n#Version: 1.0\n"
                    "#Fields: date time c-ip cs-uri-stem sc-status sc-bytes cs(User-Agent)\n";
  for (int minute = 0; minute < 60; ++minute) {
    char line[128];
    std::snprintf(line, sizeof line, "2003-03-07 10:%02d:00 10.0.2.%d /p%d.html 200 100 Agent/%d\n", minute,
                  minute % 3, minute, minute % 3);
    w3c += line;
  }
  std::string whole = dir_.File("whole-w3c.log");
  test::WriteFile(whole, w3c);
  UseDatabase("whole-w3c.db");
  RunImport(whole, 0, copies_, nullptr);
  std::string expected = StoredContent(dir_.File("whole-w3c.db"));
  UseDatabase("follow.db");

  auto afterLine = [&](int lines) {
    size_t at = 0;
    for (int i = 0; i < lines; ++i) at = w3c.find('\n', at) + 1;
    return at;
  };
  // The header and 20 lines, then 20 lines a round.
  size_t cut = afterLine(23), later = afterLine(43);
  test::WriteFile(log_, w3c.substr(0, cut));
  LogFollower follower(log_, copies_, stop_);
  EXPECT_EQ(follower.Poll().linesRejected, 0);
  for (size_t end : {later, w3c.size()}) {
    Append(log_, w3c.substr(cut, end - cut));
    cut = end;
    FollowRound round = follower.Poll();
    EXPECT_EQ(round.linesRead, 20);
    EXPECT_EQ(round.linesRejected, 0) << "the lines are read by the Fields of the first round";
    EXPECT_GT(round.sessionsCompleted, 0);
  }
  EXPECT_EQ(Stored(), expected);
}

// Stopping while the follower waits: one last round stores what was written by then.
TEST_F(FollowerTest, TheStopFlagEndsTheRunAfterALastRound) {
  size_t a = LineEnd(text_, text_.size() / 2);
  test::WriteFile(log_, text_.substr(0, a));
  LogFollower follower(log_, copies_, stop_);
  follower.SetSeconds(3600);
  std::atomic<int> rounds{0};
  FollowTotals totals;
  std::thread run([&] { totals = follower.Run([&](const FollowRound&) { ++rounds; }); });
  while (rounds.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Append(log_, text_.substr(a));
  stop_.store(true);
  run.join();
  EXPECT_EQ(totals.rounds, 2);
  EXPECT_FALSE(totals.failed);
  EXPECT_EQ(totals.linesRead, static_cast<int64_t>(std::count(text_.begin(), text_.end(), '\n')));
  EXPECT_EQ(Stored(), expected_);
}

}  // namespace
}  // namespace weavil

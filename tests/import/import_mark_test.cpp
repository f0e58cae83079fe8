// Reading on from where the last import of a file ended: what such an import stores is
// what reading the whole file again stores, and the mark is set aside whenever it may
// no longer hold (the imported part changed, other settings, other data written since,
// the database cleared, a part of a line read).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "import/import_driver.h"
#include "import/import_mark.h"
#include "store/clear_database.h"
#include "store/database.h"
#include "store/result.h"
#include "tests/import/import_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;
using test::StoredContent;

// Ten visitors over two hours; every visitor comes back after an hour's pause.
std::string Visits(int fromMinute, int toMinute) {
  std::string text;
  for (int minute = fromMinute; minute < toMinute; ++minute)
    for (int visitor = 0; visitor < 10; ++visitor) {
      if ((minute / 20 + visitor) % 3 == 0) continue;
      text += Combined("10.0.1." + std::to_string(visitor), 3600 + minute * 60 + visitor,
                       "/p" + std::to_string(minute % 7) + ".html", 200, "100",
                       minute % 11 == 0 ? "http://search.test/find?q=mark+" + std::to_string(minute) : "-",
                       "Agent/" + std::to_string(visitor));
    }
  return text;
}

class ImportMarkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    copies_.defaultHost = "www.site.test";
    log_ = dir_.File("access.log");
  }
  void TearDown() override { LogDataSource::Release(); }

  std::string UseDatabase(const std::string& name) {
    LogDataSource::Release();
    test::CopyTemplateDatabase(dir_.File(name));
    LogDataSource::UseDatabaseFile(dir_.File(name));
    return dir_.File(name);
  }
  ImportStats Import(const std::string& path, int64_t offset = 0) { return RunImport(path, offset, copies_); }
  // What one import of the text into a fresh database stores.
  std::string Fresh(const std::string& text) {
    const std::string path = dir_.File("fresh.log");
    test::WriteFile(path, text);
    const std::string db = UseDatabase("fresh.db");
    EXPECT_EQ(Import(path).resumedAt, 0);
    return StoredContent(db);
  }

  test::WorkFolder dir_;
  ImportCopies copies_;
  std::string log_;
};

TEST_F(ImportMarkTest, AnUnchangedOrGrownFileIsReadOnAndStoresWhatAWholeReadStores) {
  const std::string first = Visits(0, 50), all = first + Visits(50, 120);
  const std::string expectedFirst = Fresh(first), expectedAll = Fresh(all);

  const std::string db = UseDatabase("log.db");
  test::WriteFile(log_, first);
  ImportStats stats = Import(log_);
  EXPECT_EQ(stats.resumedAt, 0);
  ASSERT_GT(stats.sessionsStored, 0);

  // Nothing new: nothing read, nothing written.
  stats = Import(log_);
  EXPECT_EQ(stats.resumedAt, static_cast<int64_t>(first.size()));
  EXPECT_EQ(stats.linesRead, 0);
  EXPECT_EQ(stats.sessionsStored + stats.sessionsAlreadyStored + stats.sessionsCompleted, 0);
  EXPECT_EQ(StoredContent(db), expectedFirst);

  // Grown: the visits open at the old end are completed, the rest stored.
  test::WriteFile(log_, all);
  stats = Import(log_);
  EXPECT_EQ(stats.resumedAt, static_cast<int64_t>(first.size()));
  EXPECT_FALSE(stats.databaseFailed) << stats.error;
  EXPECT_GT(stats.sessionsCompleted, 0);
  EXPECT_EQ(stats.sessionsAlreadyStored, 0);
  EXPECT_EQ(StoredContent(db), expectedAll);
  EXPECT_EQ(Import(log_).resumedAt, static_cast<int64_t>(all.size()));
  EXPECT_EQ(StoredContent(db), expectedAll);
}

TEST_F(ImportMarkTest, AW3cLogReadOnKeepsItsFieldsDirective) {
  auto block = [](int from, int to, bool header) {
    std::string text = header ? "#Software: Test Server 1.0\n#Version: 1.0\n#Fields: date time c-ip cs-uri-stem "
                                "sc-status cs(User-Agent)\n"
                              : "";
    for (int i = from; i < to; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "2003-03-07 %02d:%02d:00 10.2.0.%d /w%d.html 200 Agent/%d\n", 1 + i / 60,
                    i % 60, i % 6, i % 5, i % 6);
      text += line;
    }
    return text;
  };
  const std::string first = block(0, 40, true), all = first + block(40, 100, false);
  const std::string expected = Fresh(all);
  const std::string db = UseDatabase("log.db");
  test::WriteFile(log_, first);
  Import(log_);
  test::WriteFile(log_, all);
  ImportStats stats = Import(log_);
  EXPECT_EQ(stats.resumedAt, static_cast<int64_t>(first.size()));
  EXPECT_EQ(stats.linesRejected, 0);
  EXPECT_EQ(StoredContent(db), expected);
}

// Each case: a first import, a change, then an import that must read the file from its start.
TEST_F(ImportMarkTest, TheMarkIsSetAsideWhenItMayNoLongerHold) {
  const std::string text = Visits(0, 60);
  const int64_t lines = std::count(text.begin(), text.end(), '\n');
  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const std::string other = dir_.File("other.log");
  test::WriteFile(other, Combined("10.9.9.9", 7200, "/other.html"));
  const Case cases[] = {
      {"a byte of the imported part changed",
       [&] {
         std::string changed = text;
         changed.replace(changed.find("/p3.html"), 8, "/q3.html");
         test::WriteFile(log_, changed);
       }},
      {"another host", [&] { copies_.defaultHost = "other.site.test"; }},
      {"the database cleared",
       [&] {
         DbSession session;
         ASSERT_EQ(OpenSourceSession(session), kResultOk);
         ASSERT_EQ(ClearSessionData(session, {}), ClearOutcome::kCleared);
       }},
      {"another file imported since", [&] { EXPECT_GT(Import(other).sessionsStored, 0); }},
      {"the file imported from an offset since", [&] { Import(log_, 100); }},
      {"read again by the setting", [&] { copies_.resumeImports = false; }},
  };
  for (const Case& c : cases) {
    UseDatabase("log.db");
    copies_ = ImportCopies();
    copies_.defaultHost = "www.site.test";
    test::WriteFile(log_, text);
    ASSERT_GT(Import(log_).sessionsStored, 0) << c.what;
    c.change();
    ImportStats stats = Import(log_);
    EXPECT_EQ(stats.resumedAt, 0) << c.what;
    EXPECT_EQ(stats.linesRead, lines) << c.what;
    EXPECT_GT(stats.sessionsStored + stats.sessionsAlreadyStored, 0) << c.what;
  }
  // After the clear the sessions are all stored again.
  UseDatabase("log.db");
  copies_ = ImportCopies();
  test::WriteFile(log_, text);
  const int64_t stored = Import(log_).sessionsStored;
  DbSession session;
  ASSERT_EQ(OpenSourceSession(session), kResultOk);
  ASSERT_EQ(ClearSessionData(session, {}), ClearOutcome::kCleared);
  session.Close();
  EXPECT_EQ(Import(log_).sessionsStored, stored);
}

TEST_F(ImportMarkTest, NoMarkForAPartLineOrCompressedData) {
  const std::string text = Visits(0, 30);
  UseDatabase("log.db");
  // The last line without its end: it may still be being written.
  test::WriteFile(log_, text.substr(0, text.size() - 1));
  Import(log_);
  EXPECT_EQ(Import(log_).resumedAt, 0);
  test::WriteFile(log_, text);
  EXPECT_EQ(Import(log_).resumedAt, 0);
  EXPECT_EQ(Import(log_).resumedAt, static_cast<int64_t>(text.size()));

  const std::string packed = dir_.File("packed.log.gz");
  ASSERT_EQ(std::system(("gzip -c " + log_ + " > " + packed).c_str()), 0);
  Import(packed);
  ImportStats again = Import(packed);
  EXPECT_EQ(again.resumedAt, 0);
  EXPECT_GT(again.linesRead, 0);
  // The compressed import took the plain file's mark away.
  EXPECT_EQ(Import(log_).resumedAt, 0);
}

TEST(ImportMarkHash, CoversEveryByteOfThePrefix) {
  test::WorkFolder dir;
  const std::string path = dir.File("bytes.log");
  std::string text(3 << 20, 'x');
  for (size_t i = 0; i < text.size(); i += 97) text[i] = static_cast<char>('a' + i % 23);
  test::WriteFile(path, text);
  const std::string whole = PrefixHash(path, static_cast<int64_t>(text.size()));
  ASSERT_EQ(whole.size(), 16u);
  EXPECT_EQ(PrefixHash(path, static_cast<int64_t>(text.size())), whole);
  EXPECT_NE(PrefixHash(path, static_cast<int64_t>(text.size()) - 1), whole);
  EXPECT_EQ(PrefixHash(path, static_cast<int64_t>(text.size()) + 1), "");  // shorter than asked
  EXPECT_EQ(PrefixHash(dir.File("missing.log"), 1), "");
  // One byte changed anywhere: in a whole stripe, in the tail, across a block.
  for (size_t at : {size_t{0}, size_t{31}, size_t{(1 << 20) - 1}, size_t{1 << 20}, text.size() - 1}) {
    std::string changed = text;
    changed[at] ^= 1;
    test::WriteFile(path, changed);
    EXPECT_NE(PrefixHash(path, static_cast<int64_t>(text.size())), whole) << at;
  }
  // Two swapped words hash apart.
  std::string swapped = text;
  std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
  test::WriteFile(path, swapped);
  EXPECT_NE(PrefixHash(path, static_cast<int64_t>(text.size())), whole);
}

// The hash of a longer prefix taken on from a shorter one's is the hash of the whole
// longer prefix, wherever the shorter one ended (in a stripe, at its end, past a block),
// and reads only the bytes after it.
TEST(ImportMarkHash, AHashTakenFurtherIsThatOfTheWholePrefix) {
  test::WorkFolder dir;
  const std::string path = dir.File("bytes.log");
  std::string text((2 << 20) + 77, 'x');
  for (size_t i = 0; i < text.size(); i += 89) text[i] = static_cast<char>('a' + i % 19);
  test::WriteFile(path, text);
  const int64_t size = static_cast<int64_t>(text.size());
  for (int64_t first : {int64_t{0}, int64_t{5}, int64_t{31}, int64_t{32}, int64_t{(1 << 20) - 1},
                        int64_t{(1 << 20) + 40}, size - 3, size}) {
    PrefixHashStart start;
    ASSERT_EQ(PrefixHash(path, first, &start), PrefixHash(path, first)) << first;
    EXPECT_EQ(start.offset, first - first % 32);
    for (int64_t length : {first, first + 1, first + 31, first + 33, first + (1 << 20) + 1, size}) {
      if (length > size) continue;
      EXPECT_EQ(PrefixHashFrom(path, length, start), PrefixHash(path, length)) << first << " " << length;
    }
  }
  // None, or one past the length: the whole prefix is read.
  PrefixHashStart end;
  PrefixHash(path, size, &end);
  EXPECT_EQ(PrefixHashFrom(path, 100, end), PrefixHash(path, 100));
  EXPECT_EQ(PrefixHashFrom(path, 100, PrefixHashStart()), PrefixHash(path, 100));
  // The bytes before the start are not read again.
  PrefixHashStart half;
  const std::string whole = PrefixHash(path, size);
  PrefixHash(path, 1 << 20, &half);
  text[10] ^= 1;
  test::WriteFile(path, text);
  EXPECT_EQ(PrefixHashFrom(path, size, half), whole);
  EXPECT_NE(PrefixHash(path, size), whole);
}

}  // namespace
}  // namespace weavil

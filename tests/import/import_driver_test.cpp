// The import driver: trace lines, re-imports, incremental imports from the last
// "Software:" header, offsets, bad input, growing files, the worker and cancelling.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <iterator>
#include <thread>
#include <fstream>
#include <thread>

#include <sqlite3.h>

#include "import/import_driver.h"
#include "import/log_file_reader.h"
#include "import/session_store_thread.h"
#include "import/store_writer.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"
#include "store/view_requests.h"
#include "tests/import/import_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;
using test::StoredContent;

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CopyTemplateDatabase(dir_.File("log.db"));
    LogDataSource::Release();
    LogDataSource::UseDatabaseFile(dir_.File("log.db"));
    copies_.defaultHost = "www.site.test";
  }
  void TearDown() override { LogDataSource::Release(); }
  std::string Trace() { return dir_.Trace(); }
  int64_t Count(const std::string& table) {
    return test::QueryNumber(dir_.File("log.db"), "SELECT count(*) FROM " + table);
  }
  ImportStats Import(const std::string& path, int64_t offset = 0, ImportProgress* progress = nullptr) {
    return RunImport(path, offset, copies_, progress);
  }

  test::WorkFolder dir_;
  ImportCopies copies_;
};

// A W3C block of visits: header, then one line per visitor at minute i.
std::string W3cBlock(const std::string& day, int first, int count) {
  std::string text = "#Software: Microsoft Internet Information Services 5.0\n#Version: 1.0\n#Date: " + day +
                     " 00:00:00\n#Fields: date time c-ip cs-method cs-uri-stem sc-status cs(User-Agent)\n";
  for (int i = first; i < first + count; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "%s %02d:%02d:00 10.1.%d.%d GET /page%d.html 200 Agent/%d\r\n", day.c_str(),
                  i / 60, i % 60, i / 200, i % 200, i, i);
    text += line;
  }
  return text;
}

// The sessions whose times the file keeps as text and not as their seconds.
constexpr const char* kTimesAsText =
    "SELECT count(*) FROM SessionRow WHERE typeof(TimeEnter) <> 'integer' OR typeof(TimeExit) <> 'integer'";

TEST_F(DriverTest, ImportTracesItsStepsAndStoresOnce) {
  std::string log = dir_.File("access.log");
  test::WriteFile(log, Combined("1.1.1.1", 0, "/a.html") + "garbage line\n" + Combined("2.2.2.2", 9, "/b.html", 200, "1", "-", "B"));
  ImportStats first = Import(log);
  EXPECT_TRUE(first.opened);
  EXPECT_EQ(first.linesRead, 3);
  EXPECT_EQ(first.linesRejected, 1);
  EXPECT_EQ(first.sessionsStored, 2);
  EXPECT_EQ(Trace(), "File Open:\n" + log +
                         "\nLine parsing error:\ngarbage line\nFile Close\nStart storing to DB\nGetting DBConnection "
                         "instance...\nGetting the result...\nOpening Session...\nClosing Session...\nDB stored\n");
  // The planner's statistics count what was stored, for the report queries.
  const std::string db = dir_.File("log.db");
  EXPECT_EQ(test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE idx='ResourceSessionNum'"), 2);
  test::QueryNumber(db, "DELETE FROM sqlite_stat1");
  copies_.resumeImports = false;  // read again from the start
  ImportStats second = Import(log);
  EXPECT_EQ(second.sessionsStored, 0);
  EXPECT_EQ(second.sessionsAlreadyStored, 2);
  EXPECT_EQ(Count("Session"), 2);
  EXPECT_EQ(Count("Resource"), 2);
  EXPECT_EQ(Count("SessionBytes"), 2);
  // Nothing new was stored: the statistics are not counted again.
  EXPECT_EQ(Count("sqlite_stat1"), 0);

  // Without statistics every table is counted; once the reference tables have theirs,
  // only the tables an import writes are counted again.
  std::string grown = test::ReadFile(log) + Combined("3.3.3.3", 20, "/c.html");
  test::WriteFile(log, grown);
  EXPECT_EQ(Import(log).sessionsStored, 1);
  EXPECT_EQ(test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE idx='ResourceSessionNum'"), 3);
  EXPECT_GT(test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE tbl='IPRanges'"), 1000);
  test::QueryNumber(db, "UPDATE sqlite_stat1 SET stat='7' WHERE tbl='IPRanges'");
  test::WriteFile(log, grown + Combined("4.4.4.4", 30, "/d.html"));
  EXPECT_EQ(Import(log).sessionsStored, 1);
  EXPECT_EQ(test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE idx='ResourceSessionNum'"), 4);
  EXPECT_EQ(test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE tbl='IPRanges'"), 7);
}

// A small import into a large file leaves the statistics of a table that grew by a
// tenth or less as they were; one that grew more is counted again.
TEST_F(DriverTest, StatisticsAreCountedAgainOnceATableGrewByMoreThanATenth) {
  std::string log = dir_.File("access.log"), text;
  for (int i = 0; i < 20; ++i) text += Combined("1.1.1." + std::to_string(i), i, "/a.html");
  test::WriteFile(log, text);
  ASSERT_EQ(Import(log).sessionsStored, 20);
  const std::string db = dir_.File("log.db");
  auto stat = [&](const std::string& index) {
    return test::QueryNumber(db, "SELECT stat+0 FROM sqlite_stat1 WHERE idx='" + index + "'");
  };
  EXPECT_EQ(stat("SessionSessionId"), 20);
  EXPECT_EQ(stat("ResourceSessionNum"), 20);
  text += Combined("2.2.2.2", 100, "/b.html") + Combined("2.2.2.2", 101, "/c.html") +
          Combined("2.2.2.2", 102, "/d.html");
  test::WriteFile(log, text);
  ASSERT_EQ(Import(log).sessionsStored, 1);
  EXPECT_EQ(stat("SessionSessionId"), 20);    // 21 sessions
  EXPECT_EQ(stat("ResourceSessionNum"), 23);  // 23 requests: more than a tenth
  for (int i = 0; i < 2; ++i) text += Combined("3.3.3." + std::to_string(i), 200 + i, "/e.html");
  test::WriteFile(log, text);
  ASSERT_EQ(Import(log).sessionsStored, 2);
  EXPECT_EQ(stat("SessionSessionId"), 23);
  EXPECT_EQ(stat("ResourceSessionNum"), 23);  // 25: a tenth of 23 or less
}

// A grown log imported into a file that holds visits: the address ranges are read
// beside the look at the imported part, and the new visitors get the countries a whole
// import into a fresh file gives them.
TEST_F(DriverTest, AGrownLogsNewVisitorsGetTheCountriesOfAWholeImport) {
  std::string log = dir_.File("access.log");
  std::string text = Combined("8.8.8.8", 0, "/a.html");
  test::WriteFile(log, text);
  ASSERT_EQ(Import(log).sessionsStored, 1);
  text += Combined("8.8.4.4", 100, "/b.html") + Combined("2001:41d0:8:f69::1", 101, "/c.html") +
          Combined("10.0.0.1", 102, "/d.html");
  test::WriteFile(log, text);
  const ImportStats grown = Import(log);
  EXPECT_GT(grown.resumedAt, 0);
  EXPECT_EQ(grown.sessionsStored, 3);
  auto countries = [](const std::string& path) {
    DbSession db;
    Statement read;
    std::string text;
    if (Succeeded(db.OpenFile(path)) &&
        Succeeded(read.Execute(db, "SELECT group_concat(UserIP || '=' || coalesce(CountryCode, 'none'), ' ') FROM "
                                   "(SELECT * FROM DNSLookUp ORDER BY UserIP)")) &&
        read.MoveNext() == kResultOk)
      read.GetText(1, text);
    return text;
  };
  const std::string kept = countries(dir_.File("log.db"));

  LogDataSource::Release();
  test::CopyTemplateDatabase(dir_.File("whole.db"));
  LogDataSource::UseDatabaseFile(dir_.File("whole.db"));
  ASSERT_EQ(Import(log).sessionsStored, 4);
  EXPECT_EQ(kept, countries(dir_.File("whole.db")));
  EXPECT_NE(kept.find("2001:41d0:8:f69::1=FR 8.8.4.4="), std::string::npos) << kept;
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '='), 4) << kept;
}

TEST_F(DriverTest, UnopenableFileStillRunsTheStore) {
  ImportStats stats = Import(dir_.File("missing.log"));
  EXPECT_FALSE(stats.opened);
  EXPECT_EQ(stats.sessionsStored, 0);
  EXPECT_EQ(Trace(), "Start storing to DB\nGetting DBConnection instance...\nGetting the result...\nOpening "
                     "Session...\nClosing Session...\nDB stored\n");
  EXPECT_FALSE(Import(dir_.Path()).opened);  // a folder is no log
}

TEST_F(DriverTest, MissingDatabaseStoresNothing) {
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(dir_.File("nothing-here.db"));
  std::string log = dir_.File("access.log");
  test::WriteFile(log, Combined("1.1.1.1", 0, "/a.html"));
  ImportStats stats = Import(log);
  EXPECT_TRUE(stats.databaseFailed);
  EXPECT_NE(Trace().find("Getting the result...\nfailed\nDB stored\n"), std::string::npos);
}

TEST_F(DriverTest, LastHeaderOffsetAndIncrementalImport) {
  std::string log = dir_.File("ex.log");
  std::string firstBlock = W3cBlock("2003-03-07", 0, 50);
  test::WriteFile(log, firstBlock + W3cBlock("2003-03-08", 0, 60));
  HeaderOffset header = FindLastHeader(log);
  size_t lastSoftware = (firstBlock + W3cBlock("2003-03-08", 0, 60)).rfind("#Software:");
  EXPECT_EQ(header.offset, static_cast<int64_t>(lastSoftware + std::string("#Software: Microsoft Internet Information Services 5.0\n").size()));
  EXPECT_EQ(header.size, static_cast<int64_t>(std::filesystem::file_size(log)));
  EXPECT_EQ(Import(log).sessionsStored, 110);

  // The log grows: its last block gets 40 more lines. Reading from the last header
  // sees the block's Fields directive again and stores only the new visits.
  int64_t offset = FindLastHeaderOffset(log);
  test::WriteFile(log, firstBlock + W3cBlock("2003-03-08", 0, 100));
  ImportStats stats = Import(log, offset);
  EXPECT_EQ(stats.sessionsStored, 40);
  EXPECT_EQ(stats.sessionsAlreadyStored, 60);
  EXPECT_EQ(Count("Session"), 150);

  std::string plain = dir_.File("plain.log");
  test::WriteFile(plain, Combined("1.1.1.1", 0, "/"));
  EXPECT_EQ(FindLastHeaderOffset(plain), 0);
  EXPECT_EQ(FindLastHeader(dir_.File("missing.log")).size, 0);
}

TEST_F(DriverTest, AnOffsetInsideAW3cBlockReadsWithTheFieldsBeforeIt) {
  // The incremental import of a grown W3C log starts after the lines already stored,
  // past the block's header: the Fields directive before the offset maps the new lines.
  std::string log = dir_.File("ex.log");
  std::string stored = W3cBlock("2003-03-07", 0, 50) + W3cBlock("2003-03-08", 0, 30);
  test::WriteFile(log, stored);
  EXPECT_EQ(Import(log).sessionsStored, 80);
  std::string grown = W3cBlock("2003-03-08", 0, 70);
  test::WriteFile(log, W3cBlock("2003-03-07", 0, 50) + grown);
  ImportStats stats = Import(log, static_cast<int64_t>(stored.size()));
  EXPECT_EQ(stats.linesRead, 40);
  EXPECT_EQ(stats.linesRejected, 0);
  EXPECT_EQ(stats.sessionsStored, 40);
  EXPECT_EQ(Count("Session"), 120);

  // The same from a compressed copy (read forward), and with the header far more than a
  // search block before the offset.
  ASSERT_EQ(std::system(("gzip -c " + log + " > " + log + ".gz").c_str()), 0);
  ImportStats packed = Import(log + ".gz", static_cast<int64_t>(stored.size()));
  EXPECT_EQ(packed.linesRejected, 0);
  EXPECT_EQ(packed.sessionsAlreadyStored, 40);
  std::string longBlock = W3cBlock("2003-03-09", 0, 1400);  // about 85 KB
  ASSERT_GT(longBlock.size(), 64u * 1024);
  test::WriteFile(log, longBlock);
  ImportStats far = Import(log, static_cast<int64_t>(longBlock.rfind('\n', longBlock.size() - 2) + 1));
  EXPECT_EQ(far.linesRead, 1);
  EXPECT_EQ(far.linesRejected, 0);

  // A common/combined log is not searched for directives: its lines read as they are.
  std::string plain = dir_.File("plain.log");
  std::string first = Combined("1.1.1.1", 0, "/a.html");
  test::WriteFile(plain, first + Combined("2.2.2.2", 5, "/b.html"));
  ImportStats rest = Import(plain, static_cast<int64_t>(first.size()));
  EXPECT_EQ(rest.linesRead, 1);
  EXPECT_EQ(rest.linesRejected, 0);
}

TEST_F(DriverTest, OffsetsPastTheEndAndEmptyFiles) {
  std::string log = dir_.File("a.log");
  test::WriteFile(log, Combined("1.1.1.1", 0, "/a.html"));
  ImportStats past = Import(log, 1 << 20);
  EXPECT_TRUE(past.opened);
  EXPECT_EQ(past.linesRead, 0);
  EXPECT_EQ(past.sessionsStored, 0);
  std::string empty = dir_.File("empty.log");
  test::WriteFile(empty, "");
  EXPECT_EQ(Import(empty).linesRead, 0);
  EXPECT_EQ(Count("Session"), 0);
}

TEST_F(DriverTest, BadInputIsSkippedAndGoodLinesImported) {
  static const char kNulText[] = "1.2.3.4 - - [07/Mar/2003:10:00:00 +0100] \"GET /\0x HTTP/1.0\" 200 1\n";
  const std::string kNulLine(kNulText, sizeof kNulText - 1);
  std::string bad;
  for (int i = 0; i < 3000; ++i) bad.push_back(static_cast<char>((i * 7919) % 256));
  std::string log = dir_.File("bad.log");
  test::WriteFile(log, bad + "\n" + Combined("1.1.1.1", 0, "/a.html") + std::string(1000000, 'z') + "\n" +
                           kNulLine +
                           Combined("2.2.2.2", 5, "/b.html", 200, "1", "-", "B") +
                           "#Fields: time c-ip cs-uri-stem sc-status\n10:00:00 3.3.3.3 / 200\n");
  ImportStats stats = Import(log);
  EXPECT_EQ(stats.sessionsStored, 2);
  EXPECT_GE(stats.linesRejected, 3);
  EXPECT_EQ(Count("Session"), 2);
}

TEST_F(DriverTest, ReaderStopsAtTheSizeSeenAtOpenAfterFinishingTheLine) {
  std::string log = dir_.File("grow.log");
  test::WriteFile(log, "one\ntwo");
  LogFileReader reader;
  ASSERT_TRUE(reader.Open(log, 0));
  {
    std::ofstream out(log, std::ios::app | std::ios::binary);
    out << " and more\nthree\n";
  }
  std::string_view raw;
  std::vector<std::string> lines;
  while (reader.NextPhysicalLine(raw)) lines.emplace_back(raw);
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two and more\n"}));

  // A long line is cut and the rest of it skipped.
  test::WriteFile(log, std::string(20000, 'a') + "\nnext\n");
  ASSERT_TRUE(reader.Open(log, 0));
  ASSERT_TRUE(reader.NextPhysicalLine(raw));
  EXPECT_EQ(raw.size(), 7999u);
  ASSERT_TRUE(reader.NextPhysicalLine(raw));
  EXPECT_EQ(raw, "next\n");
  EXPECT_FALSE(reader.NextPhysicalLine(raw));
  EXPECT_EQ(reader.BytesRead(), 20006);
}

class CountingProgress : public ImportProgress {
 public:
  void OnProgress(int64_t, int64_t, int64_t lines, int64_t) override {
    ++calls;
    lastLines = lines;
  }
  bool Cancelled() override { return cancel; }
  int calls = 0;
  int64_t lastLines = 0;
  bool cancel = false;
};

// Every line a reader hands out, joined.
std::string ReadAll(LogFileReader& reader) {
  std::string text;
  std::string_view raw;
  while (reader.NextPhysicalLine(raw)) text.append(raw);
  return text;
}

TEST_F(DriverTest, CompressedDataIsReadByContentFromFilesAndPipes) {
  std::string a = dir_.File("a.log"), b = dir_.File("b.log");
  std::string textA = "\xEF\xBB\xBF" + W3cBlock("2003-03-07", 0, 40), textB = W3cBlock("2003-03-08", 0, 30);
  test::WriteFile(a, textA);
  test::WriteFile(b, textB);
  // Two gzip members one after the other read as one stream; the mark of the first is skipped.
  ASSERT_EQ(std::system(("gzip -c " + a + " > " + a + ".gz && gzip -c " + b + " >> " + a + ".gz && xz -c " + a +
                         " > " + dir_.File("a.dat"))
                            .c_str()),
            0);
  std::string plain = textA.substr(3) + textB;
  LogFileReader reader;
  ASSERT_TRUE(reader.Open(a + ".gz", 0));
  EXPECT_EQ(reader.DataCompression(), Compression::kGzip);
  EXPECT_EQ(ReadAll(reader), plain);
  EXPECT_EQ(reader.ReadError(), "");
  EXPECT_EQ(reader.ProgressRead(), static_cast<int64_t>(std::filesystem::file_size(a + ".gz")));

  // Offsets and header positions count decoded bytes (the mark too), as for the plain log.
  std::string decoded = textA + textB;
  HeaderOffset header = FindLastHeader(a + ".gz");
  EXPECT_EQ(header.offset, static_cast<int64_t>(decoded.find("#Version", decoded.rfind("#Software:"))));
  ASSERT_TRUE(reader.Open(a + ".gz", header.offset));
  EXPECT_EQ(ReadAll(reader), decoded.substr(header.offset));

  // A pipe: the first bytes looked at stay part of the data.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    std::ifstream in(dir_.File("a.dat"), std::ios::binary);
    std::string packed((std::istreambuf_iterator<char>(in)), {});
    for (size_t at = 0; at < packed.size(); at += 1000)
      ASSERT_GT(::write(fds[1], packed.data() + at, std::min<size_t>(1000, packed.size() - at)), 0);
    ::close(fds[1]);
  });
  ASSERT_TRUE(reader.Open("/dev/fd/" + std::to_string(fds[0]), 0));
  EXPECT_EQ(reader.DataCompression(), Compression::kXz);
  EXPECT_EQ(ReadAll(reader), textA.substr(3));
  writer.join();
  reader.Close();
  ::close(fds[0]);

  // Text that only starts like gzip is damaged data, reported, not read as lines.
  test::WriteFile(b, std::string("\x1f\x8b\x08\x00garbage that is not deflate\n", 33));
  ASSERT_TRUE(reader.Open(b, 0));
  EXPECT_EQ(ReadAll(reader), "");
  EXPECT_NE(reader.ReadError(), "");
}

TEST_F(DriverTest, WorkerRaisesTheViewRequestsAndCancelStoresNothing) {
  std::string log = dir_.File("w.log");
  std::string text;
  for (int i = 0; i < 5000; ++i) text += Combined("9.9." + std::to_string(i / 250) + "." + std::to_string(i % 250), i % 80000, "/x.html", 200, "1", "-", "A" + std::to_string(i));
  test::WriteFile(log, text);
  TakeResetViews();
  RaiseReloadViews();
  CountingProgress progress;
  progress.cancel = true;
  ImportStats seen;
  ImportWorker({log, 0, {}}, &progress, [&](const ImportStats& stats) {
    seen = stats;
    EXPECT_TRUE(ReloadViewsRaised());
    EXPECT_FALSE(ResetViewsRaised());
  });
  EXPECT_TRUE(seen.cancelled);
  EXPECT_EQ(Count("Session"), 0);
  EXPECT_TRUE(TakeReloadViews());

  CountingProgress watch;
  ImportStats stats = Import(log, 0, &watch);
  EXPECT_EQ(stats.sessionsStored, 5000);
  EXPECT_GE(watch.calls, 2);
  EXPECT_EQ(watch.lastLines, 5000);
}

// A log cut anywhere and imported in parts stores what one import of the whole log
// stores: a grown log imported again from its start, the rest of it read from the
// offset where the first import ended, or as a second file that continues the first.
TEST_F(DriverTest, LogImportedInPartsStoresWhatOneWholeImportStores) {
  std::string text;
  for (int minute = 0; minute < 90; ++minute) {
    for (int visitor = 0; visitor < 5; ++visitor) {
      if ((minute + visitor) % 3 == 0 || (visitor == 4 && minute > 30 && minute < 55)) continue;
      std::string ip = "10.0.0." + std::to_string(visitor);
      std::string referrer = minute % 17 == 0 ? "http://search.test/find?q=word+" + std::to_string(minute) : "-";
      text += Combined(ip, 3600 + minute * 60 + visitor, "/p" + std::to_string(minute) + ".html", 200, "100",
                       referrer, "Agent/" + std::to_string(visitor));
      text += Combined(ip, 3600 + minute * 60 + visitor, "/i" + std::to_string(minute) + ".gif", 200, "7");
    }
  }
  auto useDatabase = [&](const std::string& name) {
    LogDataSource::Release();
    test::CopyTemplateDatabase(dir_.File(name));
    LogDataSource::UseDatabaseFile(dir_.File(name));
    return dir_.File(name);
  };
  std::string whole = dir_.File("whole.log");
  test::WriteFile(whole, text);
  std::string wholeDb = useDatabase("whole.db");
  ASSERT_EQ(Import(whole).sessionsStored, 6);
  std::string expected = StoredContent(wholeDb);

  for (size_t cut : {text.size() / 3, text.size() / 2, text.size() - text.size() / 5}) {
    cut = text.find('\n', cut) + 1;
    std::string head = dir_.File("head.log"), tail = dir_.File("tail.log"), grown = dir_.File("grown.log");
    test::WriteFile(head, text.substr(0, cut));
    test::WriteFile(tail, text.substr(cut));

    // Read again from the start, and read on from where the first import ended.
    for (bool resume : {false, true}) {
      copies_.resumeImports = resume;
      std::string again = useDatabase("again.db");
      test::WriteFile(grown, text.substr(0, cut));
      Import(grown);
      test::WriteFile(grown, text);
      ImportStats second = Import(grown);
      EXPECT_EQ(second.resumedAt, resume ? static_cast<int64_t>(cut) : 0);
      EXPECT_GT(second.sessionsCompleted, 0);
      EXPECT_EQ(StoredContent(again), expected) << "imported again, cut at " << cut << ", resume " << resume;
      EXPECT_EQ(Import(grown).sessionsCompleted, 0);
      EXPECT_EQ(StoredContent(again), expected);
    }
    copies_.resumeImports = true;

    ImportOptions continuing;
    continuing.continueStored = true;
    std::string fromOffset = useDatabase("offset.db");
    test::WriteFile(grown, text.substr(0, cut));
    Import(grown);
    test::WriteFile(grown, text);
    RunImport(grown, static_cast<int64_t>(cut), copies_, nullptr, continuing);
    EXPECT_EQ(StoredContent(fromOffset), expected) << "read on from the offset, cut at " << cut;

    std::string halves = useDatabase("halves.db");
    Import(head);
    ImportStats next = RunImport(tail, 0, copies_, nullptr, continuing);
    EXPECT_FALSE(next.databaseFailed) << next.error;
    EXPECT_EQ(StoredContent(halves), expected) << "two files, cut at " << cut;
  }
}

// Every row of the query's first column, one per line (below).
std::string QueryLines(const std::string& database, const char* sql);
// The planner's statistics of a file, one index to a line.
constexpr const char* kStatistics =
    "SELECT tbl || '|' || ifnull(idx, '') || '|' || stat FROM sqlite_stat1 ORDER BY tbl, idx";

// A large first import is written through a rollback journal when it has the file to
// itself and through the WAL when another connection has it open: both store the same
// rows, leave the file in WAL mode without a journal, and a second import stores nothing.
TEST_F(DriverTest, ALargeFirstImportStoresTheSameWithEitherJournal) {
  std::string text;
  for (int i = 0; text.size() < (3u << 19); ++i)
    text += Combined("10." + std::to_string(i % 7) + "." + std::to_string(i / 1500) + "." + std::to_string(i % 200),
                     i / 3, "/section" + std::to_string(i % 31) + "/page" + std::to_string(i % 97) + ".html", 200,
                     std::to_string(i % 5000),
                     i % 11 ? (i % 4 ? "-" : "http://site" + std::to_string(i % 9) + ".test/")
                            : "http://search.test/find?q=long+words",
                     "Mozilla/5.0 (Agent " + std::to_string(i % 13) + ")");
  const std::string log = dir_.File("large.log");
  test::WriteFile(log, text);
  auto importInto = [&](const std::string& name, bool holdOpen) {
    LogDataSource::Release();
    const std::string db = dir_.File(name);
    test::CopyTemplateDatabase(db);
    LogDataSource::UseDatabaseFile(db);
    sqlite3* holder = nullptr;
    if (holdOpen) {
      EXPECT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
      sqlite3_exec(holder, "PRAGMA journal_mode=WAL; SELECT count(*) FROM Browser;", nullptr, nullptr, nullptr);
    }
    ImportStats stats = Import(log);
    sqlite3_close(holder);
    EXPECT_FALSE(stats.databaseFailed) << stats.error;
    EXPECT_GT(stats.sessionsStored, 1000);
    EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
    EXPECT_EQ(test::QueryNumber(db, "SELECT count(*) FROM pragma_journal_mode WHERE journal_mode='wal'"), 1);
    EXPECT_EQ(Import(log).sessionsStored, 0);
    return StoredContent(db) + QueryLines(db, kStatistics);
  };
  // Alone, the import counts its tables' statistics as it writes them; beside another
  // connection, ANALYZE counts them afterwards. Both are what ANALYZE finds in the file.
  const std::string alone = importInto("alone.db", false);
  EXPECT_EQ(alone, importInto("shared.db", true));
  const std::string analysed = dir_.File("analysed.db");
  EXPECT_EQ(QueryLines(dir_.File("alone.db"), ("VACUUM INTO '" + analysed + "'").c_str()), "");
  EXPECT_EQ(QueryLines(analysed, "DELETE FROM sqlite_stat1; ANALYZE;"), "");
  EXPECT_EQ(StoredContent(analysed) + QueryLines(analysed, kStatistics), alone);
}

// A log of more sessions than the store may fall behind by: parsing waits for the store
// and the requests of stored sessions leave memory meanwhile, and what is stored is what
// storing the whole list at once stores. Every visitor comes back within the gap, so
// the requests of many sessions lie interleaved.
TEST_F(DriverTest, AnImportThatWaitsForItsStoreStoresTheWholeList) {
  std::string text;
  const int visitors = 45000;
  for (int i = 0; i < visitors + 600; ++i) {
    for (int visitor : {i, i - 600}) {
      if (visitor < 0 || visitor >= visitors) continue;
      text += Combined("10." + std::to_string(visitor / 60000) + "." + std::to_string(visitor / 250 % 240) + "." +
                           std::to_string(visitor % 250),
                       i, "/v" + std::to_string(visitor % 977) + (visitor == i ? "/a.html" : "/b.html"), 200,
                       std::to_string(visitor % 300), "-", "Agent/" + std::to_string(visitor % 7));
    }
  }
  const std::string log = dir_.File("many.log");
  test::WriteFile(log, text);
  ImportStats stats = Import(log);
  ASSERT_FALSE(stats.databaseFailed) << stats.error;
  EXPECT_EQ(stats.sessionsStored, visitors);

  const std::string whole = dir_.File("whole.db");
  test::CopyTemplateDatabase(whole);
  SessionList list;
  ParserState state(copies_.defaultHost);
  test::ParseInto(list, state, text);
  FinishSessionList(list);
  DbSession db;
  ASSERT_GE(db.OpenFile(whole), 0);
  EXPECT_EQ(StoreSessionList(list, db, nullptr).stored, visitors);
  db.Close();
  EXPECT_EQ(StoredContent(dir_.File("log.db")), StoredContent(whole));
}

// The store writes the last sessions while the building thread still works out the
// import's mark, and commits only once it has the mark; a cancel meanwhile releases
// that wait and stores nothing.
TEST_F(DriverTest, TheStoreCommitsOnceTheMarkComesAndACancelReleasesItsWait) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += Combined("7.7.7." + std::to_string(i), i * 10, "/p.html");
  for (const bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "cancelled" : "mark handed");
    SessionList list;
    ParserState state(copies_.defaultHost);
    test::ParseInto(list, state, text);
    SessionStoreThread store(list, 0);
    store.FinishBeforeMark(list.Count());
    for (int i = 0; i < 2000 && store.Handled() < static_cast<int64_t>(list.Count()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(store.Handled(), static_cast<int64_t>(list.Count()));
    // Every session is written, and none committed before the mark.
    EXPECT_FALSE(store.Wait(100));
    EXPECT_EQ(Count("Session"), 0);
    if (cancel) store.Cancel();
    else store.HandMark(std::nullopt);
    ASSERT_TRUE(store.Wait(20000));
    EXPECT_EQ(store.Result().cancelled, cancel);
    EXPECT_EQ(Count("Session"), cancel ? 0 : 30);
  }
}

// Every row of the query's first column, one per line.
std::string QueryLines(const std::string& database, const char* sql) {
  sqlite3* db = nullptr;
  std::string text;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK) return "cannot open";
  if (sqlite3_exec(db, sql, [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "NULL") + "\n";
        return 0;
      }, &text, nullptr) != SQLITE_OK)
    text = "failed: " + std::string(sqlite3_errmsg(db));
  sqlite3_close(db);
  return text;
}

// What a session holds beyond StoredContent: status, referrer rows, search phrases,
// and the address rows.
std::string SessionDetails(const std::string& database) {
  return QueryLines(database,
                    "SELECT s.TimeEnter || s.UserIP || '|' || ifnull(s.ErrorCode, 'none') || '|' || s.UserAgent || '|' || "
                    "ifnull((SELECT group_concat(u.Url) FROM SessionReferer x JOIN Referer u ON u.RefererId = x.RefererId "
                    "WHERE x.SessionId = s.SessionId), '') || '|' || ifnull((SELECT group_concat(k.Keyphrase) FROM "
                    "SessionKeyphrase x JOIN Keyphrase k ON k.KeyphraseId = x.KeyphraseId WHERE x.SessionId = "
                    "s.SessionId), '') || '|' || b.BytesIn FROM [Session] s JOIN SessionBytes b ON b.SessionId = "
                    "s.SessionId ORDER BY 1") +
         QueryLines(database, "SELECT UserIP || '|' || ifnull(IsRobot, '') || '|' || rURL FROM DNSLookUp ORDER BY 1");
}

// A monitor polling all day, a crawler for hours and visitors staying a while keep
// sessions open while many later ones close. Stored at their places as they were and
// completed at their ends, they hold the rows storing every session whole gives: the
// status that came after an error, a referrer and phrase from a later request, a start
// moved earlier by a line out of order. Importing the file again stores nothing.
TEST_F(DriverTest, SessionsOpenWhileManyLaterOnesCloseAreStoredWithTheSameRows) {
  std::string text;
  const std::string monitor = "192.0.2.9", crawler = "198.51.100.7";
  auto visitorAt = [](int i) {
    return "10." + std::to_string(i / 60000) + "." + std::to_string(i / 250 % 240) + "." + std::to_string(i % 250);
  };
  for (int i = 0; i < 30000; ++i) {
    const int t = 200 + i * 2;
    if (i % 300 == 0)
      text += Combined(monitor, t, "/status", i == 0 ? 500 : 200, "2",
                       i == 3000 ? "http://search.test/find?q=uptime+check" : "-", "UptimeMonitor/2.1");
    if (i % 150 == 0 && t > 9000 && t < 30000)
      text += Combined(crawler, t, "/c" + std::to_string(i) + ".html", 200, "900", "-", "Examplebot/1.0");
    if (i == 9000) text += Combined(monitor, 100, "/early", 200, "3", "-", "UptimeMonitor/2.1");
    const std::string visitor = visitorAt(i);
    text += Combined(visitor, t, "/v" + std::to_string(i % 97) + ".html", 200, std::to_string(i % 300),
                     i % 13 ? "-" : "http://search.test/find?q=word+" + std::to_string(i % 5), "Agent/" +
                     std::to_string(i % 7));
    // Every 40th visitor stays ten minutes, while 300 others come.
    if (i >= 300 && (i - 300) % 40 == 0)
      text += Combined(visitorAt(i - 300), t, "/later.html", 404, "5", "-", "Agent/" + std::to_string((i - 300) % 7));
  }
  const std::string log = dir_.File("monitored.log");
  test::WriteFile(log, text);
  auto freshDatabase = [&](const std::string& name) {
    LogDataSource::Release();
    const std::string db = dir_.File(name);
    test::CopyTemplateDatabase(db);
    LogDataSource::UseDatabaseFile(db);
    return db;
  };
  auto importInto = [&](const std::string& name, size_t deferBehind) {
    const std::string db = freshDatabase(name);
    ImportOptions options;
    options.deferBehind = deferBehind;
    options.deferAge = 300;
    options.handOverResources = 20;
    ImportStats stats = RunImport(log, 0, copies_, nullptr, options);
    EXPECT_FALSE(stats.databaseFailed) << stats.error;
    EXPECT_EQ(stats.sessionsStored, 30002);
    return db;
  };
  const std::string whole = importInto("whole.db", SIZE_MAX);
  const std::string parts = importInto("parts.db", 50);
  // Sessions were stored in parts: their requests are not one run of identifiers.
  EXPECT_GT(test::QueryNumber(parts, "SELECT count(*) FROM (SELECT SessionId FROM Resource GROUP BY SessionId "
                                     "HAVING max(ResourceId) - min(ResourceId) + 1 > count(*))"),
            50);
  EXPECT_EQ(test::QueryNumber(whole, "SELECT count(*) FROM (SELECT SessionId FROM Resource GROUP BY SessionId "
                                     "HAVING max(ResourceId) - min(ResourceId) + 1 > count(*))"),
            0);
  EXPECT_EQ(test::QueryNumber(parts, "SELECT NumVisited FROM [Session] WHERE UserIP = '192.0.2.9'"), 101);
  const std::string expected = StoredContent(whole), details = SessionDetails(whole);
  EXPECT_EQ(StoredContent(parts), expected);
  EXPECT_EQ(SessionDetails(parts), details);
  EXPECT_NE(details.find("2003-03-07 00:01:40192.0.2.9|200|UptimeMonitor/2.1|search.test||0\n"),
            std::string::npos)
      << details.substr(0, 400);
  // The sessions of the first import start no later than the stored ones. The monitor's
  // is deferred, then its start moves: the file is read again, storing every session whole.
  ImportOptions options;
  options.deferBehind = 50;
  options.deferAge = 300;
  copies_.resumeImports = false;
  ImportStats again = RunImport(log, 0, copies_, nullptr, options);
  EXPECT_EQ(again.passes, 2);
  EXPECT_EQ(again.sessionsStored, 0);
  EXPECT_EQ(again.sessionsAlreadyStored, 30002);
  EXPECT_EQ(StoredContent(parts), expected);
  EXPECT_EQ(SessionDetails(parts), details);

  // Read on from the middle: the stored sessions still open (the monitor, the crawler)
  // are continued in parts, and completed as they are without deferring.
  const size_t cut = text.find('\n', text.size() / 2) + 1;
  const std::string head = dir_.File("head.log");
  test::WriteFile(head, text.substr(0, cut));
  // The first half into a fresh database, then the log from offset (on from the
  // stored sessions after the first half) with deferring as given.
  auto afterHead = [&](const std::string& name, size_t deferBehind, size_t offset) {
    const std::string db = freshDatabase(name);
    EXPECT_FALSE(Import(head).databaseFailed);
    ImportOptions options;
    options.continueStored = offset > 0;
    options.deferBehind = deferBehind;
    options.deferAge = 300;
    options.handOverResources = 20;
    ImportStats stats = RunImport(log, static_cast<int64_t>(offset), copies_, nullptr, options);
    EXPECT_FALSE(stats.databaseFailed) << stats.error;
    EXPECT_GT(stats.sessionsCompleted, 1);
    return std::make_pair(db, stats);
  };
  auto [wholeRest, wholeRestStats] = afterHead("rest-whole.db", SIZE_MAX, cut);
  auto [partsRest, partsRestStats] = afterHead("rest-parts.db", 50, cut);
  EXPECT_EQ(partsRestStats.sessionsCompleted, wholeRestStats.sessionsCompleted);
  // The monitor's requests of the second import lie among the other sessions'.
  const std::string monitorSpan =
      "SELECT max(ResourceId) - min(ResourceId) + 1 - count(*) FROM Resource WHERE TimeEnter >= '2003-03-07 09:00:00' "
      "AND SessionId = (SELECT SessionId FROM [Session] WHERE UserIP = '192.0.2.9')";
  EXPECT_EQ(test::QueryNumber(wholeRest, monitorSpan), 0);
  EXPECT_GT(test::QueryNumber(partsRest, monitorSpan), 1000);
  EXPECT_EQ(test::QueryNumber(partsRest, "SELECT NumVisited FROM [Session] WHERE UserIP = '192.0.2.9'"), 101);
  EXPECT_EQ(StoredContent(partsRest), StoredContent(wholeRest));
  EXPECT_EQ(SessionDetails(partsRest), SessionDetails(wholeRest));
  EXPECT_EQ(test::QueryNumber(partsRest, kTimesAsText), 0);  // the ends written later too

  // The grown log read again from its start: the monitor's session may be stored already
  // and its start moves earlier, by a line out of order, after it is deferred. As
  // without deferring.
  auto [wholeAgain, wholeAgainStats] = afterHead("again-whole.db", SIZE_MAX, 0);
  auto [partsAgain, partsAgainStats] = afterHead("again-parts.db", 50, 0);
  EXPECT_EQ(partsAgainStats.sessionsStored, wholeAgainStats.sessionsStored);
  EXPECT_EQ(partsAgainStats.sessionsAlreadyStored, wholeAgainStats.sessionsAlreadyStored);
  EXPECT_EQ(partsAgainStats.sessionsCompleted, wholeAgainStats.sessionsCompleted);
  EXPECT_EQ(StoredContent(partsAgain), StoredContent(wholeAgain));
  EXPECT_EQ(SessionDetails(partsAgain), SessionDetails(wholeAgain));
}

// A grown log read again from its start: the monitor's session, stored already, is
// looked up when it is deferred and completed in parts, so it does not hold every later
// session in memory. When a line out of order moves its start earlier after that, the
// import is read a second time storing every session whole, and a rejected line is
// still passed on once. Either way the rows are those of storing whole.
TEST_F(DriverTest, ASessionThatMayBeStoredIsDeferredUnlessItsStartMoves) {
  const std::string monitor = "192.0.2.9";
  auto logText = [&](bool outOfOrder) {
    std::string text;
    for (int i = 0; i < 12000; ++i) {
      const int t = 600 + i * 2;
      if (i % 200 == 0) text += Combined(monitor, t, "/status", 200, "2", "-", "UptimeMonitor/2.1");
      if (outOfOrder && i == 9000)
        text += "not a log line\n" + Combined(monitor, 100, "/early", 200, "3", "-", "UptimeMonitor/2.1");
      text += Combined("10.1." + std::to_string(i / 250 % 240) + "." + std::to_string(i % 250), t,
                       "/v" + std::to_string(i % 31) + ".html", 200, "7", "-", "Agent/" + std::to_string(i % 5));
    }
    return text;
  };
  // The first 8000 visitors into a fresh database, then the whole log from its start.
  auto grownAgain = [&](const std::string& name, const std::string& text, size_t deferBehind,
                        std::vector<int64_t>* rejected) {
    LogDataSource::Release();
    const std::string db = dir_.File(name);
    test::CopyTemplateDatabase(db);
    LogDataSource::UseDatabaseFile(db);
    const std::string head = dir_.File(name + ".head.log"), log = dir_.File(name + ".log");
    size_t cut = 0;
    for (int lines = 0; lines < 8040; ++lines) cut = text.find('\n', cut) + 1;
    test::WriteFile(head, text.substr(0, cut));
    test::WriteFile(log, text);
    EXPECT_FALSE(Import(head).databaseFailed);
    ImportOptions options;
    options.deferBehind = deferBehind;
    options.deferAge = 300;
    options.handOverResources = 10;
    if (rejected)
      options.rejected = [rejected](const std::string&, int64_t line, std::string_view) { rejected->push_back(line); };
    ImportStats stats = RunImport(log, 0, copies_, nullptr, options);
    EXPECT_FALSE(stats.databaseFailed) << stats.error;
    return std::make_pair(db, stats);
  };
  // The monitor's requests of the second import lie among the other sessions'.
  const std::string monitorSpan =
      "SELECT max(ResourceId) - min(ResourceId) + 1 - count(*) FROM Resource WHERE TimeEnter >= '2003-03-07 04:36:00' "
      "AND SessionId = (SELECT SessionId FROM [Session] WHERE UserIP = '192.0.2.9')";

  const std::string inOrder = logText(false);
  auto [whole, wholeStats] = grownAgain("whole.db", inOrder, SIZE_MAX, nullptr);
  auto [parts, partsStats] = grownAgain("parts.db", inOrder, 50, nullptr);
  EXPECT_EQ(partsStats.passes, 1);
  EXPECT_EQ(wholeStats.sessionsCompleted, 1);
  EXPECT_EQ(partsStats.sessionsCompleted, 1);
  EXPECT_EQ(partsStats.sessionsStored, wholeStats.sessionsStored);
  EXPECT_EQ(partsStats.sessionsAlreadyStored, wholeStats.sessionsAlreadyStored);
  EXPECT_EQ(test::QueryNumber(whole, monitorSpan), 0);
  EXPECT_GT(test::QueryNumber(parts, monitorSpan), 100);
  EXPECT_EQ(test::QueryNumber(parts, "SELECT NumVisited FROM [Session] WHERE UserIP = '192.0.2.9'"), 60);
  EXPECT_EQ(StoredContent(parts), StoredContent(whole));
  EXPECT_EQ(SessionDetails(parts), SessionDetails(whole));
  // The sessions completed in parts keep their times as numbers, as the others.
  EXPECT_EQ(test::QueryNumber(parts, kTimesAsText), 0);

  const std::string moved = logText(true);
  std::vector<int64_t> wholeRejected, movedRejected;
  auto [movedWhole, movedWholeStats] = grownAgain("moved-whole.db", moved, SIZE_MAX, &wholeRejected);
  auto [movedParts, movedPartsStats] = grownAgain("moved-parts.db", moved, 50, &movedRejected);
  EXPECT_EQ(movedWholeStats.passes, 1);
  EXPECT_EQ(movedPartsStats.passes, 2);
  EXPECT_EQ(movedPartsStats.linesRead, movedWholeStats.linesRead);
  EXPECT_EQ(movedPartsStats.linesRejected, 1);
  EXPECT_EQ(movedRejected, wholeRejected);
  EXPECT_EQ(movedRejected.size(), 1u);
  // Its start moved off the stored one's: the session is stored anew, as storing whole finds.
  EXPECT_EQ(movedPartsStats.sessionsStored, movedWholeStats.sessionsStored);
  EXPECT_EQ(movedPartsStats.sessionsCompleted, movedWholeStats.sessionsCompleted);
  EXPECT_EQ(test::QueryNumber(movedParts, "SELECT NumVisited FROM [Session] WHERE UserIP = '192.0.2.9' AND "
                                          "TimeEnter = '2003-03-07 00:01:40'"),
            61);
  EXPECT_EQ(StoredContent(movedParts), StoredContent(movedWhole));
  EXPECT_EQ(SessionDetails(movedParts), SessionDetails(movedWhole));
  EXPECT_EQ(test::QueryNumber(movedParts, kTimesAsText), 0);
}

// Another writer holding the database (a second import, the window's, sqlite3 with
// BEGIN IMMEDIATE): the import waits for its commit instead of losing every row, and
// two imports started at once both land.
TEST_F(DriverTest, ImportsQueueBehindOtherWriters) {
  auto visits = [&](const std::string& name, int net) {
    std::string text;
    for (int i = 0; i < 40; ++i)
      text += Combined("10." + std::to_string(net) + ".0." + std::to_string(i), i, "/a.html", 200, "1", "-",
                       "Agent" + std::to_string(i));
    test::WriteFile(dir_.File(name), text);
    return dir_.File(name);
  };
  std::string a = visits("a.log", 1), b = visits("b.log", 2), c = visits("c.log", 3);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.File("log.db").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  });
  ImportStats first = Import(a);
  release.join();
  sqlite3_close(holder);
  EXPECT_FALSE(first.databaseFailed) << first.error;
  EXPECT_EQ(first.sessionsStored, 40);

  ImportStats second, third;
  std::thread one([&] { second = Import(b); });
  std::thread two([&] { third = Import(c); });
  one.join();
  two.join();
  EXPECT_EQ(second.sessionsStored + third.sessionsStored, 80) << second.error << third.error;
  EXPECT_EQ(Count("Session"), 120);
  EXPECT_EQ(Count("Resource"), 120);
}

}  // namespace
}  // namespace weavil

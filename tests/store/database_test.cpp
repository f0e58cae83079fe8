// The database client: statements, rows, nulls, transactions, the remembered open
// result of the data source, and quoting of pasted values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "store/batch_inserter.h"
#include "store/database.h"
#include "store/result.h"
#include "store/sql_text.h"
#include "store/write_tally.h"
#include "tests/store/template_db_test.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using DatabaseTest = test::TemplateDbTest;

TEST_F(DatabaseTest, RowsAreReadForwardByOrdinalWithNullAsNoValue) {
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "INSERT INTO DNSLookUp (UserIP, rURL, CountryCode) VALUES "
                                        "('10.0.0.1', 'ip.10.0.0.1', ''), ('10.0.0.2', 'ip.10.0.0.2', '')"),
            0);
  ASSERT_GE(statement.Execute(session_, "UPDATE DNSLookUp SET FullName='host.example' WHERE UserIP='10.0.0.2'"), 0);
  ASSERT_GE(statement.Execute(session_, "SELECT UserIP, FullName, IsRobot FROM DNSLookUp ORDER BY UserIP"), 0);
  EXPECT_EQ(statement.ColumnCount(), 3);

  std::string text = "unchanged";
  int32_t number = 7;
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  EXPECT_TRUE(statement.GetText(1, text));
  EXPECT_EQ(text, "10.0.0.1");
  text = "unchanged";
  EXPECT_FALSE(statement.GetText(2, text)) << "a null FullName is no value, not an empty text";
  EXPECT_EQ(text, "unchanged");
  EXPECT_FALSE(statement.GetInt(3, number));
  EXPECT_FALSE(statement.GetText(0, text)) << "ordinals start at 1";
  EXPECT_FALSE(statement.GetText(4, text));

  ASSERT_EQ(statement.MoveNext(), kResultOk);
  EXPECT_TRUE(statement.GetText(2, text));
  EXPECT_EQ(text, "host.example");
  EXPECT_EQ(statement.MoveNext(), kResultFalse);
  EXPECT_EQ(statement.MoveNext(), kResultFalse);
}

TEST_F(DatabaseTest, FailuresAreNegativeAndUniqueColumnsRefuseSecondInsert) {
  Statement statement;
  EXPECT_LT(statement.Execute(session_, "SELECT nothing FROM NoSuchTable"), 0);
  EXPECT_LT(statement.MoveNext(), 0);
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Browser (Browser) VALUES ('Opera')"), 0);
  EXPECT_LT(statement.Execute(session_, "INSERT INTO Browser (Browser) VALUES ('Opera')"), 0);
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Keyword (Word) VALUES ('web')"), 0);
  EXPECT_LT(statement.Execute(session_, "INSERT INTO Keyword (Word) VALUES ('Web')"), 0)
      << "names compare without regard to case";
  ASSERT_GE(statement.Execute(session_, "INSERT INTO DNSLookUp (UserIP) VALUES ('1.1.1.1')"), 0);
  EXPECT_LT(statement.Execute(session_, "INSERT INTO DNSLookUp (UserIP) VALUES ('1.1.1.1')"), 0);
  // The connection stays usable after a failed statement.
  ASSERT_GE(statement.Execute(session_, "SELECT BrowserId FROM Browser WHERE Browser='Opera'"), 0);
  int32_t id = 0;
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  EXPECT_TRUE(statement.GetInt(1, id));
  EXPECT_GT(id, 0);
}

TEST_F(DatabaseTest, PreparedStatementsRunRepeatedly) {
  Exec("INSERT INTO [Session] (SessionId) VALUES ('s')");
  Statement insert;
  ASSERT_GE(insert.Prepare(session_, "INSERT INTO Resource (SessionId, UriStem, BytesLoad) VALUES (?,?,?)"), 0);
  for (int i = 0; i < 3; ++i) {
    insert.BindText(1, "s");
    insert.BindText(2, "/page" + std::to_string(i));
    insert.BindInt64(3, 5000000000LL + i);  // byte sums beyond 32 bits stay whole
    ASSERT_GE(insert.Run(), 0);
  }
  Statement read;
  ASSERT_GE(read.Execute(session_, "SELECT Sum(BytesLoad) FROM Resource"), 0);
  ASSERT_EQ(read.MoveNext(), kResultOk);
  int64_t sum = 0;
  ASSERT_TRUE(read.GetInt64(1, sum));
  EXPECT_EQ(sum, 15000000003LL);
}

TEST_F(DatabaseTest, DeleteStarFromIsUnderstood) {
  EXPECT_EQ(TranslateSql("Delete * from Resource"), "Delete from Resource");
  EXPECT_EQ(TranslateSql("  delete   *  FROM x"), "  Delete  FROM x");
  EXPECT_EQ(TranslateSql("Select * from Resource"), "Select * from Resource");
  EXPECT_EQ(TranslateSql("ORDER BY left(b.rURL,100) + Left (x,2)"), "ORDER BY JetLeft(b.rURL,100) + JetLeft (x,2)");
  EXPECT_EQ(TranslateSql("SELECT 'left(' FROM a LEFT JOIN b ON leftover(1)"),
            "SELECT 'left(' FROM a LEFT JOIN b ON leftover(1)");
  Exec("INSERT INTO [Session] (SessionId) VALUES ('x')");
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Resource (SessionId) VALUES ('x')"), 0);
  ASSERT_GE(statement.Execute(session_, "Delete * from Resource"), 0);
  EXPECT_EQ(Count("Resource"), 0);
}

TEST_F(DatabaseTest, TransactionsCommitAndRollBack) {
  Exec("INSERT INTO [Session] (SessionId) VALUES ('x'), ('y')");
  Statement statement;
  ASSERT_GE(session_.StartTransaction(), 0);
  EXPECT_LT(session_.StartTransaction(), 0) << "no nested transaction";
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Resource (SessionId) VALUES ('x')"), 0);
  ASSERT_GE(session_.Abort(), 0);
  EXPECT_EQ(Count("Resource"), 0);
  ASSERT_GE(session_.StartTransaction(), 0);
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Resource (SessionId) VALUES ('y')"), 0);
  ASSERT_GE(session_.Commit(), 0);
  EXPECT_EQ(Count("Resource"), 1);
  EXPECT_LT(session_.Commit(), 0) << "nothing to commit";
}

// Rows written many to a statement land as one insert per row would leave them: a row
// that breaks a constraint is traced and left out, those before and after it stored in
// their order with the keys one at a time gives, wherever in its batch it stands.
TEST_F(DatabaseTest, ABatchKeepsEveryRowButTheOneThatFails) {
  std::vector<std::string> traced;
  TraceSink sink = [&](const std::string& line) { traced.push_back(line); };
  Exec("INSERT INTO Referer (Url) VALUES ('taken')");
  // A trigger's rows do not count as the batch's.
  Exec("CREATE TRIGGER Echo AFTER INSERT ON Referer BEGIN INSERT INTO Keyword (Word) VALUES (NEW.Url); END");
  const int64_t firstId = test::QueryNumber(session_, "SELECT max(RefererId) FROM Referer") + 1;
  ASSERT_GE(session_.StartTransaction(), 0);
  {
    BatchInserter rows(session_, "Referer", "Url, [Group]", {true, true}, &sink);
    // A batch failing in its middle, one failing at its end, one at its start.
    for (const std::vector<int>& failing : {std::vector<int>{4}, std::vector<int>{9}, std::vector<int>{0, 5}}) {
      for (int i = 0; i < 10; ++i) {
        std::vector<SqlValue>& row = rows.Add();
        const bool fails = std::find(failing.begin(), failing.end(), i) != failing.end();
        row[0].SetText(fails ? "taken" : "u" + std::to_string(traced.size()) + "-" + std::to_string(i) + "-" +
                                             std::to_string(failing[0]));
        row[1].SetText("g");
      }
      rows.Flush();
    }
  }
  ASSERT_GE(session_.Commit(), 0);
  EXPECT_EQ(traced.size(), 4u);
  for (const std::string& line : traced)
    EXPECT_EQ(line, "Insert INTO Referer (Url, [Group]) VALUES ('taken', 'g');");
  Statement stored;
  ASSERT_GE(stored.Execute(session_, "SELECT RefererId, Url FROM Referer WHERE Url <> 'taken' ORDER BY RefererId"), 0);
  std::vector<std::string> urls;
  int64_t id = 0, expectedId = firstId;
  std::string url;
  while (stored.MoveNext() == kResultOk) {
    ASSERT_TRUE(stored.GetInt64(1, id) && stored.GetText(2, url));
    EXPECT_EQ(id, expectedId++) << url;
    urls.push_back(url);
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i)
    if (i != 4) expected.push_back("u0-" + std::to_string(i) + "-4");
  for (int i = 0; i < 9; ++i) expected.push_back("u1-" + std::to_string(i) + "-9");
  for (int i = 1; i < 10; ++i)
    if (i != 5) expected.push_back("u2-" + std::to_string(i) + "-0");
  EXPECT_EQ(urls, expected);
  EXPECT_EQ(Count("Keyword"), static_cast<int64_t>(expected.size()));
}

// What a session's batches count of a watched table: the rows they stored (not those
// that failed) and the distinct values of its indexed column (NULL as one, large and
// negative values too), which give the statistics ANALYZE writes. A batch that leaves
// the column out, or may leave rows out unseen, makes the counts incomplete.
TEST_F(DatabaseTest, TalliesCountTheStoredRowsAndDistinctValuesAsAnalyzeDoes) {
  auto analyzed = [&](const std::string& index) {
    Statement stat;
    std::string text;
    EXPECT_GE(stat.Execute(session_, "SELECT stat FROM sqlite_stat1 WHERE idx = '" + index + "'"), 0);
    if (stat.MoveNext() == kResultOk) stat.GetText(1, text);
    return text;
  };
  Exec("CREATE TABLE Tallied (k INTEGER, v TEXT UNIQUE)");
  Exec("CREATE INDEX TalliedK ON Tallied (k)");
  Exec("INSERT INTO Tallied (k, v) VALUES (0, 'taken')");
  session_.StartTallies();
  session_.Tallies()->Watch("Tallied", {"k"});
  ASSERT_GE(session_.StartTransaction(), 0);
  {
    BatchInserter rows(session_, "Tallied", "v, k", {true, false}, nullptr);
    for (int i = 0; i < 400; ++i) {
      std::vector<SqlValue>& row = rows.Add();
      row[0].SetText(i % 97 == 5 ? "taken" : "v" + std::to_string(i));
      if (i % 50 == 7) row[1] = SqlValue{};
      else if (i % 61 == 3) row[1].SetNumber((int64_t{1} << 40) + i % 2);
      else if (i % 71 == 1) row[1].SetNumber(-i % 3);
      else row[1].SetNumber(i % 37 + (i % 97 == 5 ? 1000 : 0));
    }
  }
  ASSERT_GE(session_.Commit(), 0);
  const TableTally* tally = session_.Tallies()->Find("TALLIED");
  ASSERT_NE(tally, nullptr);
  EXPECT_FALSE(tally->incomplete);
  EXPECT_EQ(tally->rows, Count("Tallied") - 1);
  EXPECT_EQ(tally->values[0].Count(), test::QueryNumber(session_, "SELECT count(DISTINCT k) + 1 FROM Tallied WHERE "
                                                                  "v <> 'taken'"));
  // The statistics of the whole table, the row stored before among them.
  Exec("ANALYZE Tallied");
  EXPECT_EQ(SingleColumnIndexStat(Count("Tallied"), test::QueryNumber(session_, "SELECT count(DISTINCT k) + 1 FROM "
                                                                                "Tallied")),
            analyzed("TalliedK"));
  // Rows per value rounded up, and kept at one under 1.1, as ANALYZE rounds them.
  const std::vector<std::pair<int, int>> shapes = {{11, 10}, {12, 10}, {21, 10}, {30, 10}, {7, 1}};
  for (const auto& [rows, distinct] : shapes) {
    Exec("DELETE FROM Tallied");
    for (int i = 0; i < rows; ++i)
      Exec("INSERT INTO Tallied (k, v) VALUES (" + std::to_string(i % distinct) + ", 'r" + std::to_string(i) + "')");
    Exec("ANALYZE Tallied");
    EXPECT_EQ(SingleColumnIndexStat(rows, distinct), analyzed("TalliedK")) << rows << " rows, " << distinct;
  }

  for (const bool leftOut : {true, false}) {
    session_.StartTallies();
    session_.Tallies()->Watch("Tallied", {"k"});
    BatchInserter other(session_, "Tallied", leftOut ? "v" : "k, v",
                        leftOut ? std::vector<bool>{true} : std::vector<bool>{false, true}, nullptr,
                        /*skipDuplicates=*/!leftOut);
    EXPECT_TRUE(session_.Tallies()->Find("Tallied")->incomplete) << (leftOut ? "column left out" : "OR IGNORE");
  }
  session_.EndTallies();
  EXPECT_EQ(session_.Tallies(), nullptr);
}

// A disk that fills in a transaction: SQLite ends the transaction itself. Later
// statements of the session fail instead of landing one by one, and the file keeps
// what it held before the transaction.
TEST_F(DatabaseTest, AStatementAfterTheTransactionWasLostDoesNotRun) {
  // Into the requests' table itself, as an import writes them: a statement of a trigger
  // (the view's) that fills the disk ends only itself.
  const int64_t pages = test::QueryNumber(session_, "PRAGMA page_count");
  Exec("PRAGMA max_page_count = " + std::to_string(pages + 8));
  ASSERT_GE(session_.StartTransaction(), 0);
  Statement insert;
  int32_t result = kResultOk;
  for (int i = 0; i < 2000 && Succeeded(result); ++i)
    result = insert.Execute(session_, "INSERT INTO ResourceRow (SessionNum, UriQuery) VALUES (1, '" +
                                          std::string(500, static_cast<char>('a' + i % 26)) + "')");
  ASSERT_TRUE(Failed(result)) << "the file never filled";
  EXPECT_TRUE(session_.InTransaction());
  EXPECT_TRUE(Failed(insert.Execute(session_, "INSERT INTO ResourceRow (SessionNum) VALUES (2)")));
  EXPECT_NE(insert.Error().message.find("rolled back"), std::string::npos) << insert.Error().message;
  EXPECT_TRUE(Failed(session_.Commit()));
  EXPECT_FALSE(session_.InTransaction());
  EXPECT_EQ(Count("ResourceRow"), 0);
  // The session works as before for the next transaction.
  Exec("PRAGMA max_page_count = 1000000");
  ASSERT_GE(session_.StartTransaction(), 0);
  Exec("INSERT INTO ResourceRow (SessionNum) VALUES (3)");
  ASSERT_GE(session_.Commit(), 0);
  EXPECT_EQ(Count("ResourceRow"), 1);
}

// A bulk write goes through a rollback journal only while no other connection has the
// file open, rolls back as any transaction does, and leaves the file in WAL mode.
// The POSIX locks this process holds on a file, as /proc/locks lists them.
size_t LocksHeldOn(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return 0;
  std::ifstream list("/proc/locks");
  std::string line;
  size_t held = 0;
  const std::string pid = std::to_string(::getpid());
  const std::string inode = ":" + std::to_string(file.st_ino);
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, owner, where;
    if (!(fields >> number >> kind >> mode >> access >> owner >> where)) continue;
    if (kind == "POSIX" && owner == pid && where.size() > inode.size() &&
        where.compare(where.size() - inode.size(), inode.size(), inode) == 0)
      ++held;
  }
  return held;
}

TEST_F(DatabaseTest, BulkWritesUseARollbackJournalOnlyWhenAlone) {
  auto mode = [&](DbSession& session) {
    Statement pragma;
    std::string text;
    if (Succeeded(pragma.Execute(session, "PRAGMA journal_mode")) && pragma.MoveNext() == kResultOk)
      pragma.GetText(1, text);
    return text;
  };
  EXPECT_EQ(mode(session_), "wal");
  Exec("INSERT INTO [Session] (SessionId) VALUES ('x'), ('y')");
  {
    DbSession other;
    ASSERT_GE(other.OpenFile(path_), 0);
    EXPECT_FALSE(session_.StartBulkWrite()) << "another connection has the file open";
    EXPECT_EQ(mode(session_), "wal");
  }
  ASSERT_TRUE(session_.StartBulkWrite());
  EXPECT_EQ(mode(session_), "delete");
  ASSERT_GE(session_.StartTransaction(), 0);
  Exec("INSERT INTO Resource (SessionId) VALUES ('x')");
  ASSERT_GE(session_.Abort(), 0);
  ASSERT_GE(session_.StartTransaction(), 0);
  Exec("INSERT INTO Resource (SessionId) VALUES ('y')");
  // Starting the pages' way to disk leaves the transaction's locks on the file held
  // (closing any descriptor of the file would drop them, for other processes).
  const size_t locks = LocksHeldOn(path_);
  EXPECT_GT(locks, 0u);
  session_.StartWriteback();
  EXPECT_EQ(LocksHeldOn(path_), locks);
  ASSERT_GE(session_.Commit(), 0);
  session_.EndBulkWrite();
  EXPECT_EQ(mode(session_), "wal");
  EXPECT_EQ(test::QueryNumber(session_, "SELECT count(*) FROM Resource WHERE SessionId='y'"), 1);
  EXPECT_EQ(Count("Resource"), 1);
  EXPECT_FALSE(std::filesystem::exists(path_ + "-journal"));

  // Closing in the middle of one puts the file back too: its header says WAL (the
  // read and write versions, bytes 18 and 19, are 2).
  ASSERT_TRUE(session_.StartBulkWrite());
  session_.Close();
  std::ifstream file(path_, std::ios::binary);
  char header[20] = {};
  ASSERT_TRUE(file.read(header, sizeof header));
  EXPECT_EQ(header[18], 2);
  EXPECT_EQ(header[19], 2);
}

TEST_F(DatabaseTest, QuotedValuesNeitherBreakNorInject) {
  const std::string agent = "Mozilla/4.0 (compatible; O'Reilly'); DROP TABLE Browser; --";
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "INSERT INTO [Session] (SessionId, UserAgent) VALUES ('s1', " +
                                            QuoteSql(agent) + ")"),
            0);
  ASSERT_GE(statement.Execute(session_, "SELECT UserAgent FROM [Session] WHERE UserAgent='" + EscapeSql(agent) + "'"),
            0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  std::string stored;
  ASSERT_TRUE(statement.GetText(1, stored));
  EXPECT_EQ(stored, agent);
  EXPECT_EQ(Count("Browser"), 0);
  EXPECT_EQ(QuoteSql("''"), "''''''");
  EXPECT_EQ(EscapeSql("a'b"), "a''b");
  EXPECT_EQ(EscapeSql(""), "");
}

TEST_F(DatabaseTest, DataSourceRemembersAFailedOpenForTheRun) {
  std::string missing = dir_.File("missing.db");
  LogDataSource::UseDatabaseFile(missing);
  EXPECT_FALSE(LogDataSource::Obtain().IsOpen());
  // The file appearing later does not help: the failure is kept for the run.
  test::CopyTemplateDatabase(missing);
  EXPECT_FALSE(LogDataSource::Obtain().IsOpen());
  DbSession session;
  EXPECT_LT(session.Open(LogDataSource::Obtain()), 0);
  // A new run (released source) opens it.
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(missing);
  EXPECT_TRUE(LogDataSource::Obtain().IsOpen());
  EXPECT_GE(session.Open(LogDataSource::Obtain()), 0);
}

TEST_F(DatabaseTest, ASessionKnowsItsFile) {
  EXPECT_EQ(session_.FilePath(), std::filesystem::canonical(path_).string());
  DbSession closed;
  EXPECT_EQ(closed.FilePath(), "");
}

TEST_F(DatabaseTest, OnlyWeavilDatabasesOpen) {
  std::string junk = dir_.File("junk.db");
  test::WriteFile(junk, "this is not a database");
  DbSession session;
  EXPECT_LT(session.OpenFile(junk), 0);
  EXPECT_LT(session.OpenFile(dir_.File("absent.db")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("absent.db"))) << "opening never creates a file";
}

TEST_F(DatabaseTest, TemplateHoldsReferenceDataAndStoredQueries) {
  EXPECT_GT(Count("IPRanges"), 100000);
  EXPECT_GT(Count("Countries"), 200);
  EXPECT_EQ(Count("[Session]"), 0);
  Statement statement;
  // A request is stored for a stored session only: its SessionId is read from there.
  EXPECT_TRUE(Failed(statement.Execute(session_, "INSERT INTO Resource (SessionId) VALUES ('a')")));
  Exec("INSERT INTO [Session] (SessionId) VALUES ('a'), ('b')");
  ASSERT_GE(statement.Execute(session_, "INSERT INTO Resource (SessionId, TimeEnter) VALUES "
                                        "('a','2004-01-01 10:00:00'),('a','2004-01-01 10:05:00'),"
                                        "('b','2004-01-01 11:00:00')"),
            0);
  ASSERT_GE(statement.Execute(session_, "SELECT b.['ResourceId'] FROM FirstSessionResource b WHERE SessionId='a'"), 0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  int32_t first = 0;
  statement.GetInt(1, first);
  ASSERT_GE(statement.Execute(session_, "SELECT b.['ResourceId'] FROM LastSessionResource b WHERE SessionId='a'"), 0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  int32_t last = 0;
  statement.GetInt(1, last);
  EXPECT_EQ(first + 1, last);
}

}  // namespace
}  // namespace weavil

// Clearing the session data: the confirmation, the statement order, what stays, and
// the rollback when a delete fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/clear_database.h"
#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"
#include "tests/store/template_db_test.h"

namespace weavil {
namespace {

const char* const kSessionTables[] = {"SessionBrowserOS", "SessionKeyphrase", "SessionKeywords", "SessionReferer",
                                      "SessionBytes",     "Resource",         "[Session]"};

class ClearDatabaseTest : public test::TemplateDbTest {
 protected:
  void SetUp() override {
    TemplateDbTest::SetUp();
    if (HasFatalFailure()) return;
    Exec("INSERT INTO [Session] (SessionId, TimeEnter, UserIP) VALUES ('s1', '2004-01-01 10:00:00', '1.2.3.4')");
    Exec("INSERT INTO Resource (SessionId, UriStem) VALUES ('s1', '/')");
    Exec("INSERT INTO SessionBytes (SessionId, Bytes, BytesIn) VALUES ('s1', 10, 5)");
    Exec("INSERT INTO DNSLookUp (UserIP, FullName, rURL, IsRobot, Description) VALUES "
         "('1.2.3.4', 'host.example.com', 'com.example.host', 1, 'kept')");
    Exec("INSERT INTO Browser (Browser) VALUES ('Opera')");
    Exec("INSERT INTO OS (OS) VALUES ('Linux')");
    Exec("INSERT INTO Referer (Url, [Group]) VALUES ('www.google.com', 'Search Engine/Google')");
    Exec("INSERT INTO Keyphrase (Keyphrase) VALUES ('web log')");
    Exec("INSERT INTO Keyword (Word) VALUES ('web')");
    Exec("INSERT INTO SessionBrowserOS VALUES ('s1', 1, 1)");
    Exec("INSERT INTO SessionKeyphrase VALUES ('s1', 1)");
    Exec("INSERT INTO SessionKeywords VALUES ('s1', 1)");
    Exec("INSERT INTO SessionReferer VALUES ('s1', 1)");
    LogDataSource::UseDatabaseFile(path_);
    TakeResetViews();
    TakeReloadViews();
  }
  // Makes the delete of one table fail.
  // The table that holds the rows: that of a table the file keeps by number, whose
  // view the deletes name.
  std::string Holding(const std::string& table) { return session_.StoredTable(table); }
  void RefuseDelete(const std::string& table) {
    Exec("CREATE TRIGGER refuse_" + table + " BEFORE DELETE ON " + Holding(table) +
         " BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }

  ClearPrompts Prompts(bool answer) {
    ClearPrompts prompts;
    prompts.confirm = [this, answer](std::string_view title, std::string_view text) {
      asked_.push_back(std::string(title) + ": " + std::string(text));
      return answer;
    };
    prompts.showError = [this](std::string_view title, std::string_view text) {
      errors_.push_back(std::string(title) + ": " + std::string(text));
    };
    return prompts;
  }

  std::vector<std::string> asked_, errors_;
};

TEST_F(ClearDatabaseTest, ClearsSessionDataAndKeepsVisitorsAndNames) {
  EXPECT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kCleared);
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0], "Warning: All Sessions records will be removed from database!");
  EXPECT_TRUE(errors_.empty());
  for (const char* table : kSessionTables) EXPECT_EQ(Count(table), 0) << table;
  for (const char* table : {"DNSLookUp", "Browser", "OS", "Referer", "Keyphrase", "Keyword"})
    EXPECT_EQ(Count(table), 1) << table;
  EXPECT_GT(Count("IPRanges"), 0);
  EXPECT_TRUE(TakeResetViews());
  EXPECT_TRUE(TakeReloadViews());
}

TEST_F(ClearDatabaseTest, AnythingButOkChangesNothing) {
  EXPECT_EQ(ClearDatabase(Prompts(false)), ClearOutcome::kCancelled);
  for (const char* table : kSessionTables) EXPECT_EQ(Count(table), 1) << table;
  EXPECT_FALSE(ResetViewsRaised());
}

TEST_F(ClearDatabaseTest, DeletesRunInTheirOrder) {
  Exec("CREATE TABLE DeleteLog (Seq INTEGER PRIMARY KEY, Name TEXT)");
  for (const char* table : {"SessionBrowserOS", "SessionKeyphrase", "SessionKeywords", "SessionReferer",
                            "SessionBytes", "Resource", "Session"}) {
    Exec(std::string("CREATE TRIGGER log_") + table + " AFTER DELETE ON " + Holding(table) +
         " BEGIN INSERT INTO DeleteLog (Name) VALUES ('" + table + "'); END");
  }
  ASSERT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kCleared);
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "SELECT Name FROM DeleteLog ORDER BY Seq"), 0);
  std::vector<std::string> order;
  while (statement.MoveNext() == kResultOk) {
    std::string name;
    statement.GetText(1, name);
    order.push_back(name);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"SessionBrowserOS", "SessionKeyphrase", "SessionKeywords",
                                             "SessionReferer", "SessionBytes", "Resource", "Session"}));
}

TEST_F(ClearDatabaseTest, AFailedLinkDeleteRollsEverythingBack) {
  RefuseDelete("SessionKeywords");
  EXPECT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kFailed);
  EXPECT_EQ(errors_, std::vector<std::string>{"Error: Error clearing database"});
  for (const char* table : kSessionTables) EXPECT_EQ(Count(table), 1) << table << " must be rolled back";
  EXPECT_FALSE(ResetViewsRaised());
}

TEST_F(ClearDatabaseTest, AFailedSessionBytesDeleteDoesNotStopTheSequence) {
  RefuseDelete("SessionBytes");
  EXPECT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kCleared);
  EXPECT_EQ(Count("Resource"), 0);
  EXPECT_EQ(Count("[Session]"), 0);
  EXPECT_EQ(Count("SessionBytes"), 1);
}

TEST_F(ClearDatabaseTest, AFailedSessionDeleteRollsBackTheResources) {
  RefuseDelete("Session");
  EXPECT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kFailed);
  EXPECT_EQ(Count("Resource"), 1);
  EXPECT_EQ(Count("SessionBrowserOS"), 1);
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(ClearDatabaseTest, AMissingDatabaseEndsSilently) {
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(dir_.File("absent.db"));
  EXPECT_EQ(ClearDatabase(Prompts(true)), ClearOutcome::kNoDatabase);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace weavil

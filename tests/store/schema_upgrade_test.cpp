// Databases of the first template: upgraded in place on first open, in one
// transaction, keeping their rows and gaining the IPv6 country ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include <sqlite3.h>

#include "store/database.h"
#include "store/result.h"
#include "store/schema_upgrade.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class SchemaUpgradeTest : public ::testing::Test {
 protected:
  // A database made from the first template's schema text, with one stored session.
  std::string OldDatabase() {
    std::string path = dir_.File("old.db");
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string schema = test::ReadFile(std::string(WEAVIL_SOURCE_DIR) + "/tests/store/data/first-template-schema.sql");
    EXPECT_EQ(sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_exec(db, "INSERT INTO Session (SessionId, TimeEnter, UserIP) VALUES ('s1', '2003-03-07 01:00:00', '2001:db8::1')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
  }
  int64_t Number(const std::string& path, const std::string& sql) { return test::QueryNumber(path, sql); }
  // The retired indexes the file at path still has, each followed by a blank.
  std::string RetiredIndexes(const std::string& path) {
    std::string left;
    for (const char* index : kRetiredIndexes)
      if (Number(path, std::string("SELECT count(*) FROM sqlite_master WHERE name = '") + index + "'") != 0)
        left += std::string(index) + " ";
    return left;
  }

  test::WorkFolder dir_;
};

TEST_F(SchemaUpgradeTest, FirstTemplateGainsTheMissingTablesWithTheirRowsOnce) {
  std::string path = OldDatabase();
  int64_t ranges = Number(WEAVIL_DB_TEMPLATE, "SELECT count(*) FROM IPRanges6");
  ASSERT_GT(ranges, 0);
  EXPECT_EQ(Number(WEAVIL_DB_TEMPLATE, "PRAGMA user_version"), kSchemaVersion);

  // Opening the data source upgrades; the template is found beside the program or given.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string error;
  EXPECT_TRUE(UpgradeSchema(db, WEAVIL_DB_TEMPLATE, error)) << error;
  EXPECT_EQ(SchemaVersion(db), kSchemaVersion);
  // Again: nothing to do, nothing copied twice.
  EXPECT_TRUE(UpgradeSchema(db, "/nowhere/template.db", error)) << error;
  sqlite3_close(db);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM IPRanges6"), ranges);
  // It has none of the indexes the template retired, the old template's own among them.
  EXPECT_EQ(RetiredIndexes(path), "");
  // Its addresses keep their primary key, without the template's unique index beside it.
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'sqlite_autoindex_DNSLookUp_1'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'DNSLookUpUserIP'"), 0);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM Session WHERE SessionId = 's1'"), 1);
  // The rows of the tables it had stay as they were (no second copy of IPv4 ranges).
  EXPECT_EQ(Number(path, "SELECT count(*) FROM IPRanges"), 0);
}

// A checksum of what the Resource of path reads, row by row in key order.
std::string RequestRows(const std::string& path) {
  sqlite3* db = nullptr;
  std::string rows;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return rows;
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT ResourceId || '|' || quote(SessionId) || '|' || quote(TimeEnter) || '|' || quote(UriStem) "
                     "|| '|' || quote(StatusCode) || '|' || quote(UriQuery) || '|' || quote(BytesLoad) || '|' || "
                     "quote(Bytes2) || '|' || quote(TimeLoad) FROM Resource ORDER BY ResourceId",
                     -1, &read, nullptr);
  while (read && sqlite3_step(read) == SQLITE_ROW)
    rows += reinterpret_cast<const char*>(sqlite3_column_text(read, 0)) + std::string("\n");
  sqlite3_finalize(read);
  sqlite3_close(db);
  return rows;
}

// Every row of a statement, values as text ("<null>" for none) joined by "|".
std::vector<std::string> AllRows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return rows;
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &read, nullptr);
  while (read && sqlite3_step(read) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(read); ++c) {
      const unsigned char* text = sqlite3_column_text(read, c);
      row += (c ? "|" : "") + (text ? std::string(reinterpret_cast<const char*>(text)) : std::string("<null>"));
    }
    rows.push_back(row);
  }
  sqlite3_finalize(read);
  sqlite3_close(db);
  return rows;
}

void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "") << sql;
  sqlite3_free(message);
  sqlite3_close(db);
}

bool Upgrade(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool done = UpgradeSchema(db, WEAVIL_DB_TEMPLATE, error);
  sqlite3_close(db);
  return done;
}

// The requests of a Resource table move to ResourceRow by their session's NumId, the
// byte sums and links alike; the views read them back as they were, and the keys go
// on where the old table's left off.
TEST_F(SchemaUpgradeTest, RowsNamingSessionsMoveToTheirNumbersAndReadAsBefore) {
  std::string path = OldDatabase();
  Exec(path,
       "INSERT INTO Session (SessionId, TimeEnter) VALUES ('s2', '2003-03-07 02:00:00'), ('s3', '2003-03-07 03:00:00');"
       "DELETE FROM Session WHERE SessionId = 's3';"  // NumId 3 was given and is gone: the next is 4
       "INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad) VALUES "
       "('s2', '2003-03-07 02:00:00', '/b', 200, ' ', 10, 1, 0), "
       "('s1', '2003-03-07 01:00:00', '/A', 404, 'q=1', 5, 2, 3), "
       "('s2', '2003-03-07 02:00:05', '/c', 200, ' ', 7, 0, 0), "
       "('s1', '2003-03-07 01:00:09', '/gone', 200, ' ', 0, 0, 0);"
       "DELETE FROM Resource WHERE UriStem = '/gone';"
       "INSERT INTO SessionBytes VALUES ('s2', 10, 5), ('s1', 1, 2);"
       "INSERT INTO SessionKeywords VALUES ('s2', 4), ('s1', 3), ('s1', 3);"
       "INSERT INTO SessionBrowserOS VALUES ('s1', 1, 2);"
       "INSERT INTO SessionReferer VALUES ('s2', 7);"
       "INSERT INTO SessionKeyphrase VALUES ('s1', 8);");
  const std::string before = RequestRows(path);
  const char* const links[] = {"SessionBytes", "SessionKeywords", "SessionBrowserOS", "SessionReferer",
                               "SessionKeyphrase"};
  std::vector<std::vector<std::string>> linksBefore;
  for (const char* table : links) linksBefore.push_back(AllRows(path, std::string("SELECT * FROM ") + table));
  ASSERT_EQ(std::count(before.begin(), before.end(), '\n'), 3) << before;
  std::string error;
  ASSERT_TRUE(Upgrade(path, error)) << error;

  EXPECT_EQ(RequestRows(path), before);
  EXPECT_EQ(AllRows(path, "SELECT DISTINCT typeof(TimeEnter) FROM ResourceRow"), std::vector<std::string>{"integer"});
  for (size_t t = 0; t < std::size(links); ++t) {
    const std::string table = links[t];
    EXPECT_EQ(AllRows(path, "SELECT * FROM " + table), linksBefore[t]) << table;
    EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = '" + table + "' AND type = 'view'"), 1);
    EXPECT_EQ(Number(path, "SELECT count(*) FROM " + table + "Row"), static_cast<int64_t>(linksBefore[t].size()));
  }
  EXPECT_EQ(AllRows(path, "SELECT s.SessionId, b.Bytes FROM SessionBytesRow b JOIN Session s ON s.NumId = b.SessionNum "
                          "ORDER BY b.rowid"),
            (std::vector<std::string>{"s2|10", "s1|1"}));
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'SessionKeywordsKeywordId' AND "
                         "tbl_name = 'SessionKeywordsRow'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'Resource' AND type = 'view'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM ResourceRow r JOIN Session s ON s.NumId = r.SessionNum AND "
                         "s.SessionId = 's2'"), 2);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'ResourceSessionNum'"), 1);
  EXPECT_EQ(Number(path, "PRAGMA user_version"), kSchemaVersion);
  // The stored queries read the moved rows: /b (key 1) and /c (key 3) are s2's first and last.
  EXPECT_EQ(Number(path, "SELECT \"'ResourceId'\" FROM FirstSessionResource WHERE SessionId = 's2'"), 1);
  EXPECT_EQ(Number(path, "SELECT \"'ResourceId'\" FROM LastSessionResource WHERE SessionId = 's2'"), 3);
  // Key 4 was given before and is not given again; a request of a session that is not
  // stored is refused rather than kept without its SessionId.
  Exec(path, "INSERT INTO Resource (SessionId, UriStem) VALUES ('s1', '/next')");
  EXPECT_EQ(Number(path, "SELECT ResourceId FROM Resource WHERE UriStem = '/next'"), 5);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_NE(
      sqlite3_exec(db, "INSERT INTO Resource (SessionId, UriStem) VALUES ('s9', '/x')", nullptr, nullptr, nullptr),
      SQLITE_OK);
  // Changed and deleted through the view as the table was.
  EXPECT_EQ(sqlite3_exec(db, "UPDATE Resource SET UriStem = '/B', SessionId = 's1' WHERE ResourceId = 1", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "DELETE FROM Resource WHERE ResourceId = 3", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM Resource WHERE SessionId = 's1' AND UriStem = '/B'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM ResourceRow"), 3);
  // Two equal links of a session are one row of the view each: both go with it.
  Exec(path, "UPDATE SessionKeywords SET KeywordId = 5 WHERE SessionId = 's1'; "
             "DELETE FROM SessionKeywords WHERE SessionId = 's2';");
  EXPECT_EQ(AllRows(path, "SELECT * FROM SessionKeywords"), (std::vector<std::string>{"s1|5", "s1|5"}));
}

// A row whose session is not stored has no number to go by: its table stays as it is,
// every row of it, with its indexes and views, and the others are upgraded.
TEST_F(SchemaUpgradeTest, RowsOfMissingSessionsKeepTheirTableAsItIs) {
  std::string path = OldDatabase();
  Exec(path, "INSERT INTO Resource (SessionId, UriStem) VALUES ('s1', '/a'), ('lost', '/b');"
             "INSERT INTO SessionReferer VALUES ('s1', 1), (NULL, 2); INSERT INTO SessionBytes VALUES ('s1', 1, 1)");
  const std::string before = RequestRows(path);
  const std::vector<std::string> referrers = AllRows(path, "SELECT * FROM SessionReferer");
  std::string error;
  ASSERT_TRUE(Upgrade(path, error)) << error;
  EXPECT_EQ(RequestRows(path), before);
  EXPECT_EQ(AllRows(path, "SELECT * FROM SessionReferer"), referrers);
  for (const char* table : {"Resource", "SessionReferer"}) {
    const std::string name = table;
    EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = '" + name + "' AND type = 'table'"), 1);
    EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE (tbl_name = '" + name + "Row' OR (tbl_name = '" +
                               name + "' AND type = 'trigger'))"), 0);
  }
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'SessionRefererRefererId' AND tbl_name = "
                         "'SessionReferer'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'FirstSessionResource' AND sql LIKE "
                         "'%ResourceRow%'"), 0);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM SessionBytesRow"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM IPRanges6"),
            Number(WEAVIL_DB_TEMPLATE, "SELECT count(*) FROM IPRanges6"));
  EXPECT_EQ(Number(path, "PRAGMA user_version"), kSchemaVersion);
}

TEST_F(SchemaUpgradeTest, LastLayoutLosesTheRetiredIndexesAndKeepsItsRowsAndOwnIndexes) {
  const std::string path = dir_.File("v4.db");
  test::CopyTemplateDatabase(path);
  {
    DbSession db;
    ASSERT_FALSE(Failed(db.OpenFile(path)));
    ASSERT_TRUE(test::KeepSessionsAsTable(db));
  }
  Exec(path,
       "CREATE INDEX IPRangesStartEnd ON IPRanges (StartIP, EndIP);"
       "CREATE INDEX IPRanges6StartEnd ON IPRanges6 (StartIP, EndIP);"
       "CREATE INDEX SessionUserIP ON Session (UserIP);"
       "CREATE INDEX SessionRefererText ON Session (Referer);"  // one of the user's own
       "INSERT INTO Session (SessionId, TimeEnter, UserIP) VALUES ('s1', '2003-03-07 01:00:00', '10.0.0.1');"
       "INSERT INTO Resource (SessionId, UriStem) VALUES ('s1', '/a');"
       "PRAGMA user_version = 4;");
  const int64_t ranges = Number(path, "SELECT count(*) FROM IPRanges");
  std::string error;
  ASSERT_TRUE(Upgrade(path, error)) << error;
  EXPECT_EQ(Number(path, "PRAGMA user_version"), kSchemaVersion);
  EXPECT_EQ(RetiredIndexes(path), "");
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'SessionRefererText'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'SessionTimeEnterUserIP'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM IPRanges"), ranges);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM Resource WHERE SessionId = 's1' AND UriStem = '/a'"), 1);
}

// A file of the last template keeps its request times as text: the upgrade gives it
// the template's ResourceRow, each time of the form the view gives back as its number
// and any other as it was, under the same keys, with the user's own index kept.
TEST_F(SchemaUpgradeTest, RequestTimesKeptAsTextBecomeNumbersAndReadAsBefore) {
  const std::string path = dir_.File("v5.db");
  test::CopyTemplateDatabase(path);
  {
    DbSession db;
    ASSERT_TRUE(Succeeded(db.OpenFile(path)));
    ASSERT_TRUE(test::KeepRequestTimesAsText(db));
  }
  Exec(path,
       "CREATE INDEX ResourceRowStatus ON ResourceRow (StatusCode);"  // one of the user's own
       "INSERT INTO Session (SessionId, TimeEnter, UserIP) VALUES ('s1', '2003-03-07 01:00:00', '10.0.0.1');"
       "INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode) VALUES "
       "('s1', '2003-03-07 01:00:00', '/a', 200), ('s1', '2003-03-07T01:00:05', '/iso', 200), "
       "('s1', NULL, '/none', 404), ('s1', '0000-01-01 00:00:00', '/first', 200), "
       "('s1', '9999-12-31 23:59:59', '/last', 200), ('s1', '2003-02-30 00:00:00', '/no-such-day', 200), "
       "('s1', '2003-03-07 01:00:09', '/gone', 200);"
       "DELETE FROM Resource WHERE UriStem = '/gone';"
       "PRAGMA user_version = 5;");
  const std::string before = RequestRows(path);
  ASSERT_EQ(std::count(before.begin(), before.end(), '\n'), 6) << before;
  std::string error;
  ASSERT_TRUE(Upgrade(path, error)) << error;

  EXPECT_EQ(Number(path, "PRAGMA user_version"), kSchemaVersion);
  EXPECT_EQ(RequestRows(path), before);
  EXPECT_EQ(AllRows(path, "SELECT UriStem, typeof(TimeEnter) FROM ResourceRow ORDER BY ResourceId"),
            (std::vector<std::string>{"/a|integer", "/iso|text", "/none|null", "/first|integer", "/last|integer",
                                      "/no-such-day|text"}));
  EXPECT_EQ(AllRows(path, "SELECT type FROM pragma_table_info('ResourceRow') WHERE name = 'TimeEnter'"),
            std::vector<std::string>{""});
  for (const char* name : {"ResourceSessionNum", "ResourceRowStatus", "Resource", "ResourceInsert", "ResourceUpdate",
                           "ResourceDelete", "FirstSessionResource", "LastSessionResource"})
    EXPECT_EQ(Number(path, std::string("SELECT count(*) FROM sqlite_master WHERE name = '") + name + "'"), 1) << name;
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name LIKE '%Numbered%'"), 0);
  EXPECT_EQ(Number(path, "SELECT \"'ResourceId'\" FROM LastSessionResource WHERE SessionId = 's1'"), 6);
  // Key 7 was given before and is not given again.
  Exec(path, "INSERT INTO Resource (SessionId, TimeEnter, UriStem) VALUES ('s1', '2003-03-07 01:00:10', '/next')");
  EXPECT_EQ(AllRows(path, "SELECT ResourceId, TimeEnter FROM Resource WHERE UriStem = '/next'"),
            std::vector<std::string>{"8|2003-03-07 01:00:10"});
}

// A file of the last template keeps its sessions as the table Session, each agent's text
// in its row: the upgrade moves them to SessionRow, each distinct text once in Agent in
// the order it first came, under the same keys, and each time that the view gives back
// as it was as its seconds. Session and the views on the tables by number read as
// before, and read SessionRow; the user's own indexes are made on it, but one on the
// agent's text, whose column it does not have.
TEST_F(SchemaUpgradeTest, SessionsKeptAsATableMoveToTheirAgentsByNumberAndReadAsBefore) {
  const std::string path = dir_.File("v6.db");
  test::CopyTemplateDatabase(path);
  {
    DbSession db;
    ASSERT_TRUE(Succeeded(db.OpenFile(path)));
    ASSERT_TRUE(test::KeepSessionsAsTable(db));
  }
  Exec(path,
       "CREATE INDEX SessionRefererText ON \"Session\" (Referer);"  // the user's own
       "CREATE INDEX SessionAgentText ON Session (UserAgent);"
       "INSERT INTO Session (SessionId, TimeEnter, TimeExit, UserIP, UserAgent, Referer) VALUES "
       "('s1', '2003-03-07 01:00:00', '2003-03-07 01:05:00', '10.0.0.1', 'B/1', '-'), "
       "('s2', '2003-03-07 02:00:00', NULL, '10.0.0.2', 'A/1', 'r'), "
       "('s3', '2003-03-07 03:00:00', '2003-02-30 00:00:00', '10.0.0.1', 'B/1', '-'), "
       "('s4', '2003-03-07T04:00:00', '0000-01-01 00:00:00', '10.0.0.3', NULL, '-'), "
       "('s5', '2003-03-07 05:00:00', '9999-12-31 23:59:59', '10.0.0.4', 'b/1', '-'), "
       "('s6', '2003-03-07 06:00:00', '2003-03-07 06:00:00', '10.0.0.5', 'C/1', '-');"
       "DELETE FROM Session WHERE SessionId = 's6';"  // NumId 6 was given and is gone: the next is 7
       "INSERT INTO Resource (SessionId, TimeEnter, UriStem) VALUES ('s3', '2003-03-07 03:00:00', '/a'), "
       "('s1', '2003-03-07 01:00:00', '/b');"
       "INSERT INTO SessionBytes VALUES ('s2', 10, 5), ('s4', 1, 2);"
       "PRAGMA user_version = 6;");
  const char* sessions = "SELECT * FROM Session ORDER BY NumId";
  const std::vector<std::string> before = AllRows(path, sessions);
  ASSERT_EQ(before.size(), 5u);
  const std::string requests = RequestRows(path);
  const std::vector<std::string> bytes = AllRows(path, "SELECT * FROM SessionBytes ORDER BY SessionId");
  std::string error;
  ASSERT_TRUE(Upgrade(path, error)) << error;

  EXPECT_EQ(Number(path, "PRAGMA user_version"), kSchemaVersion);
  EXPECT_EQ(AllRows(path, sessions), before);
  EXPECT_EQ(RequestRows(path), requests);
  EXPECT_EQ(AllRows(path, "SELECT * FROM SessionBytes ORDER BY SessionId"), bytes);
  EXPECT_EQ(AllRows(path, "SELECT * FROM Agent ORDER BY AgentId"),
            (std::vector<std::string>{"1|B/1", "2|A/1", "3|b/1"}));
  EXPECT_EQ(AllRows(path, "SELECT quote(AgentId) FROM SessionRow ORDER BY NumId"),
            (std::vector<std::string>{"1", "2", "1", "NULL", "3"}));
  // A time the view gives back as it was goes in as its seconds, any other as it was.
  EXPECT_EQ(AllRows(path, "SELECT typeof(TimeEnter), typeof(TimeExit) FROM SessionRow ORDER BY NumId"),
            (std::vector<std::string>{"integer|integer", "integer|null", "integer|text", "text|integer",
                                      "integer|integer"}));
  EXPECT_EQ(AllRows(path, "SELECT type FROM sqlite_master WHERE name = 'Session'"), std::vector<std::string>{"view"});
  for (const char* index : {"SessionSessionId", "SessionTimeEnterUserIP", "SessionRefererText"})
    EXPECT_EQ(Number(path, std::string("SELECT count(*) FROM sqlite_master WHERE name = '") + index +
                               "' AND tbl_name = 'SessionRow'"), 1) << index;
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'SessionAgentText'"), 0);
  // Every view and trigger is the template's: none joins the view Session.
  const char* objects = "SELECT name, sql FROM sqlite_master WHERE type IN ('view', 'trigger') ORDER BY name";
  EXPECT_EQ(AllRows(path, objects), AllRows(WEAVIL_DB_TEMPLATE, objects));
  EXPECT_EQ(AllRows(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  Exec(path, "INSERT INTO Session (SessionId, UserAgent) VALUES ('s7', 'A/1')");
  EXPECT_EQ(AllRows(path, "SELECT NumId, AgentId FROM SessionRow WHERE SessionId = 's7'"),
            std::vector<std::string>{"7|2"});
}

TEST_F(SchemaUpgradeTest, FailedUpgradeLeavesTheDatabaseAsItWas) {
  std::string path = OldDatabase();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string error;
  EXPECT_FALSE(UpgradeSchema(db, dir_.File("missing.db"), error));
  EXPECT_NE(error.find("old.db"), std::string::npos) << error;
  EXPECT_NE(error.find("missing.db"), std::string::npos) << error;

  // A template whose index does not fit the database: the table added before it is
  // rolled back too.
  std::string broken = dir_.File("broken.db");
  sqlite3* tpl = nullptr;
  ASSERT_EQ(sqlite3_open(broken.c_str(), &tpl), SQLITE_OK);
  sqlite3_exec(tpl, "CREATE TABLE Aaa (x); CREATE TABLE Session (Other); CREATE INDEX Bbb ON Session (Other);",
               nullptr, nullptr, nullptr);
  sqlite3_close(tpl);
  EXPECT_FALSE(UpgradeSchema(db, broken, error));
  EXPECT_EQ(SchemaVersion(db), 0);
  sqlite3_close(db);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name IN ('Aaa', 'Bbb', 'IPRanges6')"), 0);
}

}  // namespace
}  // namespace weavil

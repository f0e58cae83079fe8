// Databases of the first template: upgraded in place on first open, in one
// transaction, keeping their rows and gaining the IPv6 country ranges.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "store/database.h"
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
  EXPECT_EQ(Number(path, "SELECT count(*) FROM sqlite_master WHERE name = 'IPRanges6StartEnd'"), 1);
  EXPECT_EQ(Number(path, "SELECT count(*) FROM Session WHERE SessionId = 's1'"), 1);
  // The rows of the tables it had stay as they were (no second copy of IPv4 ranges).
  EXPECT_EQ(Number(path, "SELECT count(*) FROM IPRanges"), 0);
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

// Typed binding and reading of statements, failures carrying SQLite's own text, and the
// one-call session on the shared data source.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "store/database.h"
#include "store/result.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("log.db");
    test::CopyTemplateDatabase(path_);
    ASSERT_GE(session_.OpenFile(path_), 0);
    Statement create;
    ASSERT_GE(create.Execute(session_, "CREATE TEMP TABLE Scratch (I INTEGER, Big INTEGER, D REAL, T TEXT, B BLOB)"), 0);
  }
  void TearDown() override { LogDataSource::Release(); }

  test::TempDir dir_;
  std::string path_;
  DbSession session_;
};

TEST_F(StatementTest, ValuesOfEveryTypeRoundTripThroughBindingAndTypedReads) {
  Statement insert;
  ASSERT_GE(insert.Prepare(session_, "INSERT INTO Scratch VALUES (?, ?, ?, ?, ?)"), 0);
  const std::string withQuoteAndNul("it's\0here", 9);
  const char bytes[] = {0, 1, 2, '\'', 0};
  ASSERT_GE(insert.Run(int32_t{-7}, int64_t{1} << 40, 2.5, withQuoteAndNul, BlobView{bytes, sizeof bytes}), 0);
  // The same prepared statement again: the new values replace the old ones.
  ASSERT_GE(insert.Run(std::optional<int32_t>(), std::nullopt, 0.0, std::string_view("b"), BlobView{}), 0);

  Statement select;
  ASSERT_GE(select.Query(session_, "SELECT I, Big, D, T, B FROM Scratch WHERE D > ?", 1.0), 0);
  ASSERT_EQ(select.MoveNext(), kResultOk);
  auto [i, big, d, t] = select.Row<int32_t, int64_t, double, std::string>();
  EXPECT_EQ(i, -7);
  EXPECT_EQ(big, int64_t{1} << 40);
  EXPECT_DOUBLE_EQ(d, 2.5);
  EXPECT_EQ(t, withQuoteAndNul);  // bound, not pasted: the NUL and the quote survive
  BlobView blob = select.GetBlob(5);
  ASSERT_EQ(blob.size, sizeof bytes);
  EXPECT_EQ(std::memcmp(blob.data, bytes, sizeof bytes), 0);
  EXPECT_EQ(select.MoveNext(), kResultFalse);

  ASSERT_GE(select.Query(session_, "SELECT I, Big, T, length(B), typeof(B) FROM Scratch WHERE T = ?", "b"), 0);
  ASSERT_EQ(select.MoveNext(), kResultOk);
  EXPECT_EQ(select.Get<std::optional<int32_t>>(1), std::nullopt);
  EXPECT_EQ(select.Get<int32_t>(1), 0);
  int64_t untouched = 99;
  EXPECT_FALSE(select.Read(2, untouched));
  EXPECT_EQ(untouched, 99);
  EXPECT_EQ(select.Get<std::optional<std::string>>(3), std::optional<std::string>("b"));
  // An empty blob is stored as an empty blob, not as null.
  EXPECT_EQ(select.Get<int32_t>(4), 0);
  EXPECT_EQ(select.Get<std::string>(5), "blob");
  // Out of range reads as null.
  EXPECT_FALSE(select.Get<std::optional<int32_t>>(9).has_value());
}

TEST_F(StatementTest, FailuresCarrySqliteTextAndCode) {
  Statement statement;
  EXPECT_LT(statement.Query(session_, "SELECT * FROM NoSuchTable WHERE X = ?", 1), 0);
  EXPECT_NE(statement.Error().message.find("no such table: NoSuchTable"), std::string::npos);
  EXPECT_EQ(statement.Error().Describe(), statement.Error().message + " (SQLite code 1)");
  EXPECT_EQ(session_.LastError().message, statement.Error().message);
  EXPECT_EQ(DbError().Describe(), "");

  // A constraint failure on step is a failure of Run, with the constraint's text.
  ASSERT_GE(statement.Execute(session_, "CREATE TEMP TABLE Unique1 (K TEXT UNIQUE)"), 0);
  ASSERT_GE(statement.Prepare(session_, "INSERT INTO Unique1 VALUES (?)"), 0);
  ASSERT_GE(statement.Run("k"), 0);
  EXPECT_LT(statement.Run("k"), 0);
  EXPECT_TRUE(statement.Error().IsDuplicate());
  EXPECT_NE(statement.Error().message.find("UNIQUE"), std::string::npos);
  EXPECT_GE(statement.Run("other"), 0);  // the statement stays usable
}

TEST_F(StatementTest, SourceSessionOpensOrSaysWhyNot) {
  LogDataSource::UseDatabaseFile(path_);
  DbSession session;
  std::string error = "unchanged";
  ASSERT_GE(OpenSourceSession(session, &error), 0);
  EXPECT_TRUE(session.IsOpen());
  EXPECT_EQ(error, "unchanged");
  EXPECT_TRUE(SourceIsOpen(&error));
  session.Close();

  LogDataSource::Release();
  const std::string absent = dir_.File("absent.db");
  LogDataSource::UseDatabaseFile(absent);
  EXPECT_LT(OpenSourceSession(session), 0);
  EXPECT_LT(OpenSourceSession(session, &error), 0);
  EXPECT_FALSE(session.IsOpen());
  EXPECT_EQ(error.rfind("the database " + absent + ": ", 0), 0u) << error;
  std::string sourceError;
  EXPECT_FALSE(SourceIsOpen(&sourceError));
  EXPECT_EQ(sourceError, error);
}

}  // namespace
}  // namespace weavil

// The statement API on a PostgreSQL server: what callers written for SQLite rely on.
#include <gtest/gtest.h>

#include "store/database.h"
#include "store/pg_backend.h"
#include "store/result.h"
#include "tests/support/pg_test_support.h"

namespace weavil {
namespace {

using test::TestPgDatabase;

#define SKIP_WITHOUT_SERVER(db) \
  if ((db).Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests"

TEST(ServerStatement, OpensAnEmptyDatabaseAsAWeavilDatabaseWithItsReferenceData) {
  TestPgDatabase server;
  SKIP_WITHOUT_SERVER(server);
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk) << session.LastError().message;
  EXPECT_TRUE(session.IsServer());
  Statement count;
  ASSERT_EQ(count.Execute(session, "SELECT count(*) FROM IPRanges;"), kResultOk) << count.Error().message;
  ASSERT_EQ(count.MoveNext(), kResultOk);
  EXPECT_GT(count.Get<int64_t>(1), 1000);
  ASSERT_EQ(count.Execute(session, "Select Name FROM Countries WHERE Code='de';"), kResultOk);
  ASSERT_EQ(count.MoveNext(), kResultOk);
  EXPECT_FALSE(count.Get<std::string>(1).empty());
  // A second session finds it ready.
  DbSession second;
  ASSERT_EQ(second.OpenFile(server.Uri()), kResultOk);
}

}  // namespace
}  // namespace weavil

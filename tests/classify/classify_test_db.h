#pragma once
// A fresh database per test and a way to read whole tables back as text rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/database.h"
#include "tests/support/test_support.h"

namespace weavil::test {

// Every row of a query as "v1|v2|...", null written as "<null>".
std::vector<std::string> QueryRows(DbSession& session, const std::string& sql);

// The tables classification writes, in the order they are compared.
const std::vector<std::string>& ClassificationTables();

// A statement reading every row of a table in the order the rows were written, as
// "Select * From table" gives them: a table a file keeps by number is read from the
// table it stores the rows in, with the SessionId of its view.
std::string InWrittenOrder(DbSession& session, const std::string& table);

// Stores sessions with these identifiers: links are written for stored sessions only.
void StoreSessions(DbSession& session, const std::vector<std::string>& ids);

class ClassifyDbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Opens another fresh copy of the template (for comparing two runs).
  void OpenSecond(DbSession& session, const std::string& name);
  std::vector<std::string> Rows(const std::string& sql) { return QueryRows(session_, sql); }
  std::vector<std::string> RowsOf(const std::string& table) { return Rows(InWrittenOrder(session_, table)); }

  TempDir dir_;
  DbSession session_;
};

}  // namespace weavil::test

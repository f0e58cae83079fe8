#include "tests/dialogs/source_database.h"

#include <gtest/gtest.h>

#include "store/database.h"
#include "store/result.h"

namespace weavil::test {

SourceDatabase::SourceDatabase() {
  path_ = dir_.File("log.db");
  CopyTemplateDatabase(path_);
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(path_);
}

SourceDatabase::~SourceDatabase() { LogDataSource::Release(); }

std::string SourceDatabase::Value(const std::string& sql) {
  DbSession db;
  EXPECT_TRUE(Succeeded(db.OpenFile(path_)));
  Statement statement;
  std::string value;
  if (Succeeded(statement.Execute(db, sql)) && statement.MoveNext() == kResultOk) statement.GetText(1, value);
  return value;
}

int64_t SourceDatabase::Count(const std::string& sql) { return QueryNumber(path_, sql); }

void SourceDatabase::Run(const std::string& sql) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(path_)));
  Statement statement;
  ASSERT_TRUE(Succeeded(statement.Execute(db, sql))) << sql;
}

}  // namespace weavil::test

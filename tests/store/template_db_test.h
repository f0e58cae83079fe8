#pragma once
// The store tests' common start: a fresh copy of the database template in a temporary
// folder with a session open on it; the shared data source is released afterwards.
#include <gtest/gtest.h>

#include <string>

#include "store/database.h"
#include "tests/support/test_support.h"

namespace weavil::test {

class TemplateDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("log.db");
    CopyTemplateDatabase(path_);
    ASSERT_GE(session_.OpenFile(path_), 0);
  }
  void TearDown() override { LogDataSource::Release(); }

  // Runs one statement that must not fail.
  void Exec(const std::string& sql) {
    Statement statement;
    ASSERT_GE(statement.Execute(session_, sql), 0) << sql;
  }

  int64_t Count(const std::string& table) { return QueryNumber(session_, "SELECT Count(*) FROM " + table); }

  TempDir dir_;
  std::string path_;
  DbSession session_;
};

}  // namespace weavil::test

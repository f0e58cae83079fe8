#include "tests/classify/classify_test_db.h"

#include "store/result.h"

namespace weavil::test {

std::vector<std::string> QueryRows(DbSession& session, const std::string& sql) {
  std::vector<std::string> rows;
  Statement statement;
  EXPECT_GE(statement.Execute(session, sql), 0) << sql;
  while (statement.MoveNext() == kResultOk) {
    std::string row;
    for (int column = 1; column <= statement.ColumnCount(); ++column) {
      if (column > 1) row += '|';
      std::string value;
      row += statement.GetText(column, value) ? value : "<null>";
    }
    rows.push_back(row);
  }
  return rows;
}

const std::vector<std::string>& ClassificationTables() {
  static const std::vector<std::string> tables = {"Browser",          "OS",           "SessionBrowserOS",
                                                  "Referer",          "Keyphrase",    "Keyword",
                                                  "SessionReferer",   "SessionKeyphrase", "SessionKeywords"};
  return tables;
}

void ClassifyDbTest::SetUp() { OpenSecond(session_, "log.db"); }

void ClassifyDbTest::OpenSecond(DbSession& session, const std::string& name) {
  std::string path = dir_.File(name);
  CopyTemplateDatabase(path);
  ASSERT_GE(session.OpenFile(path), 0);
}

}  // namespace weavil::test

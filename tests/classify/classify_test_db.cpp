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

std::string InWrittenOrder(DbSession& session, const std::string& table) {
  if (!session.KeptByNumber(table)) return "Select * From " + table + " Order By rowid";
  std::string columns = "s.SessionId";
  for (const std::string& column : QueryRows(session, "SELECT name FROM pragma_table_info('" + table + "Row')"))
    if (column != "SessionNum") columns += ", l." + column;
  return "Select " + columns + " From " + table +
         "Row l Left Join Session s On s.NumId = l.SessionNum Order By l.rowid";
}

void StoreSessions(DbSession& session, const std::vector<std::string>& ids) {
  Statement insert;
  ASSERT_GE(insert.Prepare(session, "INSERT INTO [Session] (SessionId) VALUES (?)"), 0);
  for (const std::string& id : ids) ASSERT_GE(insert.Run(id), 0) << id;
}

// The identifiers the tests link: s1 to s9 and one with a quote.
void ClassifyDbTest::SetUp() {
  OpenSecond(session_, "log.db");
  StoreSessions(session_, {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s'1"});
}

void ClassifyDbTest::OpenSecond(DbSession& session, const std::string& name) {
  std::string path = dir_.File(name);
  CopyTemplateDatabase(path);
  ASSERT_GE(session.OpenFile(path), 0);
}

}  // namespace weavil::test

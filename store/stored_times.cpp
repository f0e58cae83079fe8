#include "store/stored_times.h"

#include "store/database.h"
#include "store/result.h"

namespace weavil {

bool TimesKeptAsNumbers(DbSession& db, std::string_view table) {
  if (db.IsServer()) return false;
  Statement column;
  std::string type;
  const std::string sql =
      "SELECT type FROM pragma_table_info('" + std::string(table) + "') WHERE name = 'TimeEnter';";
  return Succeeded(column.Execute(db, sql)) && column.MoveNext() == kResultOk && column.GetText(1, type) &&
         type.empty();
}

bool SessionTimesKeptAsNumbers(DbSession& db) {
  return db.KeptByNumber("Session") && TimesKeptAsNumbers(db, "SessionRow");
}

std::string TimeTextOf(std::string_view value) {
  const std::string v(value);
  return "CASE typeof(" + v + ") WHEN 'integer' THEN datetime(" + v + ", 'unixepoch') ELSE " + v + " END";
}

std::string SecondsOfTimeText(std::string_view value) {
  const std::string v(value), seconds = "CAST(strftime('%s', " + v + ") AS INTEGER)";
  return "CASE WHEN typeof(" + v + ") = 'text' AND datetime(" + seconds + ", 'unixepoch') IS " + v + " THEN " +
         seconds + " ELSE " + v + " END";
}

std::string StoredStartsSql(DbSession& db) {
  if (!SessionTimesKeptAsNumbers(db))
    return "SELECT min(TimeEnter) AS first, max(TimeEnter) AS last FROM [Session];";
  const std::string numbers = " FROM SessionRow WHERE TimeEnter < ''", texts = " FROM SessionRow WHERE TimeEnter >= ''";
  return "SELECT min(t) AS first, max(t) AS last FROM (SELECT " + TimeTextOf("min(TimeEnter)") + " AS t" + numbers +
         " UNION ALL SELECT " + TimeTextOf("max(TimeEnter)") + numbers + " UNION ALL SELECT min(TimeEnter)" + texts +
         " UNION ALL SELECT max(TimeEnter)" + texts + ");";
}

std::string LatestExitSql(DbSession& db) {
  if (!SessionTimesKeptAsNumbers(db)) return "SELECT max(TimeExit) FROM [Session];";
  // The view's text of an integer rises with it, so the latest integer gives the latest
  // of their texts; any other value it gives as it is.
  return "SELECT coalesce(max(n, o), n, o) FROM (SELECT " +
         TimeTextOf("max(CASE typeof(TimeExit) WHEN 'integer' THEN TimeExit END)") +
         " AS n, max(CASE typeof(TimeExit) WHEN 'integer' THEN NULL ELSE TimeExit END) AS o FROM SessionRow);";
}

std::string ExitNotBeforeCondition() {
  return "CASE typeof(TimeExit) WHEN 'integer' THEN TimeExit >= ?1 ELSE TimeExit >= ?2 END";
}

}  // namespace weavil

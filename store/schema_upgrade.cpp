#include "store/schema_upgrade.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include <sqlite3.h>

#include "store/database.h"
#include "store/stored_times.h"

namespace weavil {
namespace {

struct SchemaObject {
  std::string type, name, sql, table;
};

// A number the statement gives; -1 when it fails.
int64_t Number(sqlite3* db, const char* sql) {
  sqlite3_stmt* read = nullptr;
  int64_t value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &read, nullptr) == SQLITE_OK && sqlite3_step(read) == SQLITE_ROW)
    value = sqlite3_column_int64(read, 0);
  sqlite3_finalize(read);
  return value;
}

std::string Quoted(const std::string& name) {
  std::string text = "\"";
  for (char c : name) {
    if (c == '"') text += '"';
    text += c;
  }
  return text + "\"";
}

bool Run(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

// The template's objects, tables first, then indexes, views and the triggers on them, so
// that each finds what it is on.
bool TemplateObjects(sqlite3* db, std::vector<SchemaObject>& objects, std::string& error) {
  sqlite3_stmt* list = nullptr;
  const char* sql =
      "SELECT type, name, sql, tbl_name FROM upgrade_template.sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE "
      "'sqlite_%' AND name NOT IN (SELECT name FROM main.sqlite_master) ORDER BY CASE type WHEN 'table' THEN 0 WHEN "
      "'index' THEN 1 WHEN 'view' THEN 2 ELSE 3 END, rowid";
  if (sqlite3_prepare_v2(db, sql, -1, &list, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(list)) == SQLITE_ROW) {
    auto text = [&](int column) {
      const unsigned char* value = sqlite3_column_text(list, column);
      return std::string(value ? reinterpret_cast<const char*>(value) : "");
    };
    objects.push_back({text(0), text(1), text(2), text(3)});
  }
  if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
  sqlite3_finalize(list);
  return rc == SQLITE_DONE;
}

// The views that read a table naming sessions besides its own (the stored queries on
// the requests): they go and come with its layout.
std::vector<std::string> ViewsReading(std::string_view table) {
  if (table == "Resource") return {"FirstSessionResource", "LastSessionResource"};
  return {};
}

// Whether the template object belongs to the table's layout by number: its table and
// the indexes on it, the view and the triggers on that, the views that read it.
bool OfLayoutByNumber(const SchemaObject& object, std::string_view kept) {
  const std::string table(kept);
  for (const std::string& view : ViewsReading(kept))
    if (object.name == view) return true;
  return object.table == table + "Row" || (object.table == table && object.type != "table");
}

// The names of a template table's columns, in their order.
bool TemplateColumns(sqlite3* db, const std::string& table, std::vector<std::string>& columns, std::string& error) {
  sqlite3_stmt* read = nullptr;
  const std::string sql = "SELECT name FROM pragma_table_info(?, 'upgrade_template') ORDER BY cid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &read, nullptr) != SQLITE_OK ||
      sqlite3_bind_text(read, 1, table.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    sqlite3_finalize(read);
    return false;
  }
  while (sqlite3_step(read) == SQLITE_ROW)
    columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(read, 0)));
  sqlite3_finalize(read);
  return !columns.empty();
}

// The statement that makes the template's table; empty when it has none.
std::string TemplateTableSql(sqlite3* db, const std::string& table) {
  std::string create;
  sqlite3_stmt* read = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT sql FROM upgrade_template.sqlite_master WHERE type = 'table' AND name = ?", -1,
                         &read, nullptr) == SQLITE_OK &&
      sqlite3_bind_text(read, 1, table.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
      sqlite3_step(read) == SQLITE_ROW && sqlite3_column_text(read, 0))
    create = reinterpret_cast<const char*>(sqlite3_column_text(read, 0));
  sqlite3_finalize(read);
  return create;
}

// A column of the copy given by an expression of the old row (r).
struct Computed {
  std::string column, expression;
};

// The rows of main.<from> (named r) copied into main.<to>, in the given order, by the
// columns of the template's table <columnsOf>: each as it is, or as computed gives it.
// The key sequence of <to> goes on from the larger of from's and its own highest key,
// as from's would have.
bool CopyRows(sqlite3* db, const std::string& from, const std::string& to, const std::string& columnsOf,
              const std::vector<Computed>& computed, const std::string& order, std::string& error) {
  std::vector<std::string> columns;
  if (!TemplateColumns(db, columnsOf, columns, error)) {
    if (error.empty()) error = "the template has no columns for " + columnsOf;
    return false;
  }
  std::string into, values;
  for (const std::string& column : columns) {
    into += (into.empty() ? "" : ", ") + column;
    values += values.empty() ? "" : ", ";
    std::string value = "r." + column;
    for (const Computed& c : computed)
      if (c.column == column) value = c.expression;
    values += value;
  }
  return Run(db, "INSERT INTO main." + to + " (" + into + ") SELECT " + values + " FROM main." + from + " r ORDER BY " +
                     order, error) &&
         Run(db,
             "INSERT INTO main.sqlite_sequence (name, seq) SELECT '" + to + "', seq FROM main.sqlite_sequence WHERE "
             "name = '" + from + "' AND seq > coalesce((SELECT max(seq) FROM main.sqlite_sequence WHERE name = '" + to +
                 "'), 0)",
             error) &&
         Run(db, "DELETE FROM main.sqlite_sequence WHERE name = '" + to + "' AND seq < (SELECT max(seq) FROM "
                 "main.sqlite_sequence WHERE name = '" + to + "')", error);
}

// A table that names sessions by their identifier text moved into the template's table
// by number, each row by the NumId of the first stored session of its identifier (as the
// views and the statements that joined on the text found it), in the order of its rows;
// a request's time as the template keeps it (SecondsOfTimeText; other tables have none).
// keptAsText: the database keeps the table as it is, holding a row whose session is not
// stored (false too for one that has no such table, or has it by number already).
bool NumberTable(sqlite3* db, std::string_view kept, bool& keptAsText, std::string& error) {
  keptAsText = false;
  const std::string table(kept), target = table + "Row";
  const std::string inMain = "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = '" + table + "'";
  const std::string inTemplate =
      "SELECT count(*) FROM upgrade_template.sqlite_master WHERE type = 'table' AND name = '" + target + "'";
  const int64_t present = Number(db, inMain.c_str()), wanted = Number(db, inTemplate.c_str());
  if (present < 0 || wanted < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  if (present == 0 || wanted == 0) return true;
  const std::string unmatchedSql =
      "SELECT EXISTS (SELECT 1 FROM main." + table +
      " r WHERE NOT EXISTS (SELECT 1 FROM main.Session s WHERE s.SessionId = r.SessionId))";
  const int64_t unmatched = Number(db, unmatchedSql.c_str());
  if (unmatched < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  keptAsText = unmatched != 0;
  if (keptAsText) return true;
  const std::string create = TemplateTableSql(db, target);
  if (create.empty()) {
    error = "the template has no statement for " + target;
    return false;
  }
  if (!Run(db, create, error) ||
      !CopyRows(db, table, target, target,
                {{"SessionNum", "(SELECT min(s.NumId) FROM main.Session s WHERE s.SessionId = r.SessionId)"},
                 {"TimeEnter", SecondsOfTimeText("r.TimeEnter")}},
                "r.rowid", error))
    return false;
  for (const std::string& view : ViewsReading(kept))
    if (!Run(db, "DROP VIEW IF EXISTS main." + Quoted(view), error)) return false;
  return Run(db, "DROP TABLE main." + Quoted(table), error);
}

// The indexes on a main table that the template does not make (the user's own), as
// the statements that made them.
bool OwnIndexes(sqlite3* db, const std::string& table, std::vector<std::string>& statements, std::string& error) {
  sqlite3_stmt* read = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT sql FROM main.sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT "
                             "NULL AND name NOT IN (SELECT name FROM upgrade_template.sqlite_master)",
                         -1, &read, nullptr) != SQLITE_OK ||
      sqlite3_bind_text(read, 1, table.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    sqlite3_finalize(read);
    return false;
  }
  while (sqlite3_step(read) == SQLITE_ROW)
    statements.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(read, 0)));
  sqlite3_finalize(read);
  return true;
}

// A ResourceRow whose TimeEnter has a type (TEXT, as up to version 5) made again as the
// template's, whose column of no type keeps an integer: each time that the view gives
// back as it is (a "YYYY-MM-DD HH:MM:SS" of a day that is) goes in as its seconds, any
// other value as it was, the rows in their order and under their keys. The views and
// the index on it go with the old table; the template's come back with the other
// missing objects, and the user's own indexes on it are made again.
bool NumberRequestTimes(sqlite3* db, std::string& error) {
  const int64_t typed = Number(db, "SELECT count(*) FROM pragma_table_info('ResourceRow', 'main') WHERE name = "
                                   "'TimeEnter' AND type <> ''");
  const int64_t wanted = Number(db, "SELECT count(*) FROM pragma_table_info('ResourceRow', 'upgrade_template') WHERE "
                                    "name = 'TimeEnter' AND type = ''");
  if (typed < 0 || wanted < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  if (typed == 0 || wanted == 0) return true;
  std::string create = TemplateTableSql(db, "ResourceRow");
  const std::string head = "CREATE TABLE ResourceRow (";
  if (create.compare(0, head.size(), head) != 0) {
    error = "the template's ResourceRow is not made as expected";
    return false;
  }
  create.replace(0, head.size(), "CREATE TABLE main.ResourceRowNumbered (");
  // Indexes on the table that the template does not make are the user's: made again.
  std::vector<std::string> ownIndexes;
  if (!OwnIndexes(db, "ResourceRow", ownIndexes, error)) return false;
  // The renamed table's key sequence goes with its name.
  if (!Run(db, create, error) ||
      !CopyRows(db, "ResourceRow", "ResourceRowNumbered", "ResourceRow",
                {{"TimeEnter", SecondsOfTimeText("r.TimeEnter")}}, "r.ResourceId", error))
    return false;
  for (const std::string& view : ViewsReading("Resource"))
    if (!Run(db, "DROP VIEW IF EXISTS main." + Quoted(view), error)) return false;
  if (!Run(db, "DROP VIEW IF EXISTS main.Resource; DROP TABLE main.ResourceRow; "
               "ALTER TABLE main.ResourceRowNumbered RENAME TO ResourceRow", error))
    return false;
  for (const std::string& index : ownIndexes)
    if (!Run(db, index, error)) return false;
  return true;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

// The statement of an index on table made on another: the name after ON (bare or
// quoted) replaced. Empty when it is not found where expected.
std::string IndexOn(const std::string& statement, const std::string& table, const std::string& other) {
  const size_t on = Upper(statement).find(" ON ");
  if (on == std::string::npos) return {};
  size_t start = statement.find_first_not_of(' ', on + 4);
  if (start == std::string::npos) return {};
  const char open = statement[start];
  const bool quoted = open == '"' || open == '[' || open == '`';
  size_t end = quoted ? statement.find(open == '[' ? ']' : open, start + 1) : statement.find_first_of(" (", start);
  if (end == std::string::npos) return {};
  if (quoted) ++end;
  const std::string name = quoted ? statement.substr(start + 1, end - start - 2) : statement.substr(start, end - start);
  if (Upper(name) != Upper(table)) return {};
  return statement.substr(0, start) + other + statement.substr(end);
}

// The template's views that main has as views.
bool TemplateViews(sqlite3* db, std::vector<SchemaObject>& views, std::string& error) {
  sqlite3_stmt* list = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, tbl_name FROM upgrade_template.sqlite_master WHERE type = 'view' AND "
                             "name IN (SELECT name FROM main.sqlite_master WHERE type = 'view')",
                         -1, &list, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    return false;
  }
  while (sqlite3_step(list) == SQLITE_ROW)
    views.push_back({"view", reinterpret_cast<const char*>(sqlite3_column_text(list, 0)), "",
                     reinterpret_cast<const char*>(sqlite3_column_text(list, 1))});
  sqlite3_finalize(list);
  return true;
}

// A file whose sessions are the table Session moved into the template's SessionRow, read
// as the view Session: each distinct agent text once in Agent, in the order of the first
// session that names it, and each session by its number, its start and end as their
// seconds where the view gives them back as they were (as the request times), the rows
// in their order and under their keys. The indexes on the old table go with it; the
// template's come back with the other missing objects, the user's own are made on
// SessionRow again (but one on the agent's text, whose column SessionRow does not
// have). moved: whether it was.
bool NumberSessions(sqlite3* db, bool& moved, std::string& error) {
  moved = false;
  const int64_t present =
      Number(db, "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = 'Session'");
  const int64_t wanted =
      Number(db, "SELECT count(*) FROM upgrade_template.sqlite_master WHERE type = 'table' AND name = 'SessionRow'");
  if (present < 0 || wanted < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  if (present == 0 || wanted == 0) return true;
  std::vector<std::string> ownIndexes;
  if (!OwnIndexes(db, "Session", ownIndexes, error)) return false;
  const std::string agents = TemplateTableSql(db, "Agent"), sessions = TemplateTableSql(db, "SessionRow");
  if (agents.empty() || sessions.empty()) {
    error = "the template has no statement for Agent or SessionRow";
    return false;
  }
  if (!Run(db, agents, error) || !Run(db, sessions, error) ||
      !Run(db, "INSERT INTO main.Agent (Text) SELECT UserAgent FROM main.Session WHERE UserAgent IS NOT NULL GROUP BY "
               "UserAgent ORDER BY min(NumId)", error) ||
      !CopyRows(db, "Session", "SessionRow", "SessionRow",
                {{"AgentId", "(SELECT a.AgentId FROM main.Agent a WHERE a.Text = r.UserAgent)"},
                 {"TimeEnter", SecondsOfTimeText("r.TimeEnter")},
                 {"TimeExit", SecondsOfTimeText("r.TimeExit")}},
                "r.NumId", error) ||
      !Run(db, "DROP TABLE main.Session", error))
    return false;
  for (const std::string& index : ownIndexes) {
    const std::string made = IndexOn(index, "Session", "SessionRow");
    // One on a column SessionRow lacks cannot be made; the statement fails alone.
    std::string ignored;
    if (!made.empty()) Run(db, made, ignored);
  }
  moved = true;
  return true;
}

bool AddMissing(sqlite3* db, std::string& error) {
  // The tables kept by their identifier text (as a table, not a view), which keep the
  // views on them and take none of their layout by number.
  std::vector<std::string_view> keptAsText;
  for (std::string_view table : kTablesNamingSessions) {
    bool asText = false;
    if (!NumberTable(db, table, asText, error)) return false;
    if (asText) keptAsText.push_back(table);
  }
  if (!NumberRequestTimes(db, error)) return false;
  bool sessionsMoved = false;
  if (!NumberSessions(db, sessionsMoved, error)) return false;
  // The template's views of the tables by number joined the table Session; they read
  // SessionRow now, and come back from the template with the view Session.
  if (sessionsMoved) {
    std::vector<SchemaObject> views;
    if (!TemplateViews(db, views, error)) return false;
    for (const SchemaObject& view : views) {
      bool skipped = false;
      for (std::string_view kept : keptAsText) skipped = skipped || OfLayoutByNumber(view, kept);
      if (!skipped && !Run(db, "DROP VIEW main." + Quoted(view.name), error)) return false;
    }
  }
  std::vector<SchemaObject> objects;
  if (!TemplateObjects(db, objects, error)) return false;
  // An address table made with its address as primary key keeps it, without a second
  // unique index beside it.
  const int64_t addressKeyed =
      Number(db, "SELECT count(*) FROM main.sqlite_master WHERE type = 'index' AND name = 'sqlite_autoindex_DNSLookUp_1'");
  for (const SchemaObject& object : objects) {
    bool skipped = object.type == "index" && object.name == "DNSLookUpUserIP" && addressKeyed > 0;
    for (std::string_view kept : keptAsText) skipped = skipped || OfLayoutByNumber(object, kept);
    if (skipped) continue;
    if (!Run(db, object.sql, error)) return false;
    if (object.type == "table" &&
        !Run(db, "INSERT INTO main." + Quoted(object.name) + " SELECT * FROM upgrade_template." + Quoted(object.name),
             error))
      return false;
  }
  for (const char* index : kRetiredIndexes)
    if (!Run(db, "DROP INDEX IF EXISTS main." + Quoted(index), error)) return false;
  return Run(db, "PRAGMA main.user_version = " + std::to_string(kSchemaVersion), error);
}

}  // namespace

int SchemaVersion(sqlite3* db) {
  sqlite3_stmt* read = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA main.user_version", -1, &read, nullptr) != SQLITE_OK) return -1;
  int version = sqlite3_step(read) == SQLITE_ROW ? sqlite3_column_int(read, 0) : -1;
  sqlite3_finalize(read);
  return version;
}

bool UpgradeSchema(sqlite3* db, const std::string& templatePath, std::string& error) {
  const char* file = sqlite3_db_filename(db, "main");
  std::string what = std::string("cannot upgrade the database ") + (file && *file ? file : "\"Log\"") + ": ";
  int version = SchemaVersion(db);
  if (version < 0) {
    error = what + sqlite3_errmsg(db);
    return false;
  }
  if (version >= kSchemaVersion) return true;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(templatePath, ec)) {
    error = what + "the database template " + templatePath + " is missing";
    return false;
  }
  sqlite3_stmt* attach = nullptr;
  bool attached = sqlite3_prepare_v2(db, "ATTACH DATABASE ? AS upgrade_template", -1, &attach, nullptr) == SQLITE_OK &&
                  sqlite3_bind_text(attach, 1, templatePath.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
                  sqlite3_step(attach) == SQLITE_DONE;
  sqlite3_finalize(attach);
  std::string reason;
  bool done = false;
  if (!attached) {
    reason = sqlite3_errmsg(db);
  } else if (Run(db, "BEGIN", reason)) {
    // Deferred: the first write takes main's write lock, and the template is only read.
    // BEGIN IMMEDIATE takes the write lock of every attached file, the template's too,
    // so two programs upgrading two files waited for each other. Another program that
    // upgrades this file first makes that write fail, and this one leaves it as it is;
    // one that did so before is seen here, as the version is read again.
    done = SchemaVersion(db) >= kSchemaVersion || AddMissing(db, reason);
    if (done) done = Run(db, "COMMIT", reason);
    if (!done) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (attached) sqlite3_exec(db, "DETACH DATABASE upgrade_template", nullptr, nullptr, nullptr);
  if (!done) error = what + reason;
  return done;
}

}  // namespace weavil

#include "store/schema_upgrade.h"

#include <filesystem>
#include <vector>

#include <sqlite3.h>

namespace weavil {
namespace {

struct SchemaObject {
  std::string type, name, sql;
};

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

// The template's objects, tables first so that indexes and views find theirs.
bool TemplateObjects(sqlite3* db, std::vector<SchemaObject>& objects, std::string& error) {
  sqlite3_stmt* list = nullptr;
  const char* sql =
      "SELECT type, name, sql FROM upgrade_template.sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%' "
      "AND name NOT IN (SELECT name FROM main.sqlite_master) ORDER BY type <> 'table', type = 'view', rowid";
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
    objects.push_back({text(0), text(1), text(2)});
  }
  if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
  sqlite3_finalize(list);
  return rc == SQLITE_DONE;
}

bool AddMissing(sqlite3* db, std::string& error) {
  std::vector<SchemaObject> objects;
  if (!TemplateObjects(db, objects, error)) return false;
  for (const SchemaObject& object : objects) {
    if (!Run(db, object.sql, error)) return false;
    if (object.type == "table" &&
        !Run(db, "INSERT INTO main." + Quoted(object.name) + " SELECT * FROM upgrade_template." + Quoted(object.name),
             error))
      return false;
  }
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
  } else if (Run(db, "BEGIN IMMEDIATE", reason)) {
    // Another program may have upgraded it while this one waited for the lock.
    done = SchemaVersion(db) >= kSchemaVersion || AddMissing(db, reason);
    if (done) done = Run(db, "COMMIT", reason);
    if (!done) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (attached) sqlite3_exec(db, "DETACH DATABASE upgrade_template", nullptr, nullptr, nullptr);
  if (!done) error = what + reason;
  return done;
}

}  // namespace weavil

#pragma once
// The version of the database layout. The template beside the program carries it
// (PRAGMA user_version); a database made from an older template is brought up to it
// in place the first time the program opens it.
#include <string>

struct sqlite3;

namespace weavil {

// 0: the first template (no IPRanges6). 2: IPv6 country ranges, version recorded.
inline constexpr int kSchemaVersion = 2;

// The recorded version of an open database; -1 when it cannot be read.
int SchemaVersion(sqlite3* db);

// Adds to db every table, index and view of the template at templatePath that db
// lacks, with the template's rows of the tables it adds (the reference data, such as
// the IPv6 country ranges), and records kSchemaVersion; all in one transaction, so a
// failure changes nothing. Nothing is done for a database at this version or newer.
// False with a reason naming the database when the upgrade failed.
bool UpgradeSchema(sqlite3* db, const std::string& templatePath, std::string& error);

}  // namespace weavil

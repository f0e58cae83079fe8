#pragma once
// The version of the database layout. The template beside the program carries it
// (PRAGMA user_version); a database made from an older template is brought up to it
// in place the first time the program opens it.
#include <string>

struct sqlite3;

namespace weavil {

// 0: the first template (no IPRanges6). 2: IPv6 country ranges, version recorded.
// 3: the page requests in ResourceRow by their session's NumId, read as the view Resource.
inline constexpr int kSchemaVersion = 3;

// The recorded version of an open database; -1 when it cannot be read.
int SchemaVersion(sqlite3* db);

// Moves the page requests of a Resource table into ResourceRow, each by the NumId of
// the session its SessionId names, then adds to db every table, index, view and trigger
// of the template at templatePath that db lacks, with the template's rows of the tables
// it adds (the reference data, such as the IPv6 country ranges), and records
// kSchemaVersion; all in one transaction, so a failure changes nothing. A database
// holding a request whose session is not stored keeps its Resource table as it is (the
// program writes either), so that no SessionId is lost. Nothing is done for a database
// at this version or newer.
// False with a reason naming the database when the upgrade failed.
bool UpgradeSchema(sqlite3* db, const std::string& templatePath, std::string& error);

}  // namespace weavil

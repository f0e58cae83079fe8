#pragma once
// The version of the database layout. The template beside the program carries it
// (PRAGMA user_version); a database made from an older template is brought up to it
// in place the first time the program opens it.
#include <string>

struct sqlite3;

namespace weavil {

// 0: the first template (no IPRanges6). 2: IPv6 country ranges, version recorded.
// 3: the page requests in ResourceRow by their session's NumId, read as the view Resource.
// 4: SessionBytes and the session link tables alike.
// 5: no index on the country ranges' bounds, nor on the sessions' address alone.
// 6: the request times in ResourceRow as their seconds (a TimeEnter of no type).
// 7: the sessions in SessionRow, each agent's text once in Agent and the times as their
//    seconds, read as the view Session.
// The import tells the times' and the agents' form by the file's tables, not by the
// version: a file whose upgrade failed keeps them as text, and both read alike.
inline constexpr int kSchemaVersion = 7;

// Indexes of earlier templates that no statement needs: dropped at the upgrade, which
// frees their pages for the file's next rows.
inline constexpr const char* kRetiredIndexes[] = {"IPRangesStartEnd", "IPRanges6StartEnd", "SessionUserIP"};

// The recorded version of an open database; -1 when it cannot be read.
int SchemaVersion(sqlite3* db);

// Moves the rows of the tables that name sessions by their SessionId text (Resource,
// SessionBytes, the session link tables) into the template's tables by number (the
// table's name with "Row" added), each by the NumId of its session, makes a ResourceRow
// whose TimeEnter is typed TEXT again with the times as numbers (the user's own indexes
// on it too), moves a table Session to SessionRow with its agents in Agent and its times
// as numbers, then adds to db every table, index, view and trigger of the template at
// templatePath that db lacks, with the template's rows of the tables it adds (the
// reference data, such as the IPv6 country ranges), drops the indexes earlier templates
// had and this one no longer has (kRetiredIndexes), and records kSchemaVersion; all in
// one transaction, so a failure changes nothing. A table holding a row whose session is
// not stored stays as it is (the program writes either), so that no SessionId is lost.
// Nothing is done for a database at this version or newer.
// False with a reason naming the database when the upgrade failed.
bool UpgradeSchema(sqlite3* db, const std::string& templatePath, std::string& error);

}  // namespace weavil

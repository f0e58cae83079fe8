#pragma once
// How a file keeps the times of its visits and requests: as the text
// 'yyyy-mm-dd hh:mm:ss', or in a column of no type as the seconds since 1970, which the
// table's view gives back as that text (4 to 6 bytes where the text takes 19).
#include <string>
#include <string_view>

namespace weavil {

class DbSession;

// Whether the TimeEnter of the file's table (ResourceRow, SessionRow) has no type, which
// leaves an integer one. False for a column typed TEXT (as earlier templates made it,
// which would turn the number into its digits), for a missing table and on a server.
bool TimesKeptAsNumbers(DbSession& db, std::string_view table);
// Whether the file keeps the sessions in SessionRow with their times as numbers: the
// statements that look sessions up by their start, or read it for many, then read
// SessionRow and not the view.
bool SessionTimesKeptAsNumbers(DbSession& db);

// SQL: the text a view gives for a stored time value (the expression value, evaluated
// once per use).
std::string TimeTextOf(std::string_view value);

// SQL: a value as a column of no type keeps it: a time text that the view gives back as
// it is (a "yyyy-mm-dd hh:mm:ss" of a day that is) as its seconds, any other value as it
// is. datetime() alone would let "2003-02-30 00:00:00" through, whose seconds read back
// as 2003-03-02.
std::string SecondsOfTimeText(std::string_view value);

// SQL giving the earliest and the latest start of the stored visits, as the view Session
// gives them, in one row (NULLs when none is stored). Where the starts are kept as
// seconds it seeks both ends of the index on them for the numbers and for the texts
// (SQLite orders every number before every text) instead of reading every visit.
std::string StoredStartsSql(DbSession& db);

// SQL giving the latest exit of the stored visits as the view gives it, in one row (NULL
// when none is stored). Where the times are kept as seconds it reads SessionRow once:
// the latest of the integers as their text, or the latest other value, whichever is
// later; the view would turn every visit's exit into its text to compare them.
std::string LatestExitSql(DbSession& db);
// SQL condition on SessionRow: the exit, as the view gives it, is at or after a time
// given as ?1, its seconds, and ?2, its 'yyyy-mm-dd hh:mm:ss' text. For files that keep
// the times as seconds (SessionTimesKeptAsNumbers).
std::string ExitNotBeforeCondition();

}  // namespace weavil

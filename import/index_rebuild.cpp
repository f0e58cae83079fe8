#include "import/index_rebuild.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "base/text.h"
#include "store/database.h"
#include "store/result.h"
#include "store/write_tally.h"

namespace weavil {
namespace {

// The requests' index on their visit: by the session's NumId, or by its identifier
// text in a file that keeps that layout (and on a server).
constexpr std::string_view kRequestVisitIndexes[] = {"ResourceSessionNum", "ResourceSessionId"};

// The table's rows, counted up to limit at most (-1 when the count fails): a server
// counts a table by reading all of it, and an import that finds little new in a large
// database would read every stored request to learn what one row tells.
int64_t RowsUpTo(DbSession& db, const std::string& table, int64_t limit) {
  Statement count;
  int64_t rows = -1;
  if (Succeeded(count.Execute(db, "SELECT count(*) FROM (SELECT 1 FROM " + table + " LIMIT " + std::to_string(limit) +
                                      ") t;")) &&
      count.MoveNext() == kResultOk)
    count.GetInt64(1, rows);
  return rows;
}

// The indexes the database defines on a table.
std::vector<HeldIndex> IndexesOf(DbSession& db, const char* table) {
  std::vector<HeldIndex> found;
  Statement list;
  // On a server: the indexes of the table that no constraint owns, when the importing
  // role may drop them, i.e. owns the table (a drop that fails would end the import's
  // transaction there: a team's importer may only read and write the tables).
  const char* sql = db.IsServer()
                        ? "SELECT i.indexname, i.indexdef FROM pg_indexes i JOIN pg_namespace n ON n.nspname = "
                          "i.schemaname JOIN pg_class t ON t.relnamespace = n.oid AND t.relname = i.tablename WHERE "
                          "i.schemaname = current_schema() AND i.tablename = lower(?) AND i.indexname NOT IN (SELECT "
                          "conname FROM pg_constraint) AND pg_has_role(t.relowner, 'USAGE');"
                        : "SELECT name, sql FROM sqlite_master WHERE type='index' AND tbl_name=? AND sql IS NOT NULL;";
  if (Failed(list.Query(db, sql, table))) return found;
  while (list.MoveNext() == kResultOk) {
    HeldIndex index;
    if (list.GetText(1, index.name) && list.GetText(2, index.sql)) found.push_back(index);
  }
  return found;
}

// Whether a file's index statement makes a unique index.
bool IsUniqueIndex(const std::string& sql) {
  constexpr std::string_view kUnique = "CREATE UNIQUE";
  return sql.size() >= kUnique.size() &&
         std::equal(kUnique.begin(), kUnique.end(), sql.begin(),
                    [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); });
}

// On a server: the primary key of a table that no foreign key refers to and that the
// importing role owns, as a constraint to drop and the statement that adds it again. An
// identity column keeps numbering without it.
std::vector<HeldIndex> PrimaryKeyOf(DbSession& db, const char* table) {
  std::vector<HeldIndex> found;
  if (!db.IsServer()) return found;
  Statement list;
  if (Failed(list.Query(db,
                        "SELECT c.conname, pg_get_constraintdef(c.oid) FROM pg_constraint c JOIN pg_class t ON "
                        "t.oid = c.conrelid JOIN pg_namespace n ON n.oid = t.relnamespace WHERE n.nspname = "
                        "current_schema() AND t.relname = lower(?) AND c.contype = 'p' AND NOT EXISTS (SELECT 1 FROM "
                        "pg_constraint f WHERE f.confrelid = t.oid) AND pg_has_role(t.relowner, 'USAGE');",
                        table)))
    return found;
  while (list.MoveNext() == kResultOk) {
    std::string name, definition;
    if (!list.GetText(1, name) || !list.GetText(2, definition)) continue;
    const std::string owner = table;  // unquoted, as the schema names it
    found.push_back({name, "ALTER TABLE " + owner + " ADD CONSTRAINT \"" + name + "\" " + definition + ";",
                     "ALTER TABLE " + owner + " DROP CONSTRAINT \"" + name + "\";", ""});
  }
  return found;
}

}  // namespace

std::vector<HeldIndex> DropIndexesForImport(DbSession& db, int64_t expectedBytes) {
  // Rough rows per byte of log: a page request every two lines of about 200 bytes,
  // a session every twenty lines.
  const int64_t resources = expectedBytes / 400, sessions = expectedBytes / 4000;
  struct Table {
    const char* name;
    int64_t expected;
  };
  const Table tables[] = {{"Resource", resources},        {"SessionBytes", sessions},
                          {"SessionBrowserOS", sessions}, {"SessionReferer", sessions},
                          {"SessionKeyphrase", sessions}, {"SessionKeywords", sessions},
                          {"DNSLookUp", sessions},        {"Session", 0}};
  std::vector<HeldIndex> dropped;
  // Completing stored sessions looks their byte sums up by identifier.
  const int64_t sessionRows = RowsUpTo(db, "Session", 1);
  const bool sessionsStored = sessionRows != 0;
  for (const Table& table : tables) {
    const std::string_view name(table.name);
    if (sessionsStored && name == "SessionBytes") continue;
    // Expecting no rows: dropped only while the table is empty.
    const bool untilEmpty = table.expected <= 0;
    // A file's table kept by number holds the rows and indexes of the view statements read.
    const std::string stored = db.StoredTable(name);
    const int64_t rows = name == "Session" ? sessionRows : RowsUpTo(db, stored, untilEmpty ? 1 : table.expected);
    if (rows < 0 || (untilEmpty ? rows != 0 : rows >= table.expected)) continue;
    for (HeldIndex& index : IndexesOf(db, stored.c_str())) {
      // A file keeps the requests' index on their visit: an import gives its visits
      // identifiers that rise in the order it stores them, and stores a visit's requests
      // together, so each row goes to the index's newest page. Kept, it costs a 1M-line
      // import nothing; sorting it afresh took a tenth of a 10M-line import.
      if (!db.IsServer() && std::find(std::begin(kRequestVisitIndexes), std::end(kRequestVisitIndexes), index.name) !=
                                std::end(kRequestVisitIndexes))
        continue;
      // A file's unique index leaves its table only while the table is empty: the rows an
      // import adds are then distinct by its own count (an address is copied once per
      // import), while a stored row is left out by the index. Should a repeat come all
      // the same, the later rows go before the index is made again.
      if (!db.IsServer() && IsUniqueIndex(index.sql)) {
        if (rows != 0) continue;
        if (name == "DNSLookUp")
          index.before = "DELETE FROM DNSLookUp WHERE rowid NOT IN (SELECT min(rowid) FROM DNSLookUp GROUP BY UserIP);";
      }
      Statement drop;
      if (Succeeded(drop.Execute(db, "DROP INDEX \"" + index.name + "\";"))) dropped.push_back(index);
    }
    // A server keeps the primary key's index up to date row by row as well: the page
    // requests' identifiers cost their COPY half its time.
    if (name == "Resource" || name == "Session") {
      for (const HeldIndex& key : PrimaryKeyOf(db, table.name)) {
        Statement drop;
        if (Succeeded(drop.Execute(db, key.drop))) dropped.push_back(key);
      }
    }
    // Nor does an empty address table need its key while the import fills it: each
    // address is copied once per import, without a look for a stored row first (an
    // eighth of a million-line import's server time went to that look and the key). Two
    // addresses can still come out as one text (the server's encoding mends invalid
    // bytes alike): the later copy goes before the key is added again, as the look
    // would have left it out. Locked before it is counted, so that no other writer
    // adds an address meanwhile; only the table's owner, who may lock it, drops its key.
    if (name == "DNSLookUp" && rows == 0) {
      std::vector<HeldIndex> key = PrimaryKeyOf(db, table.name);
      Statement step;
      if (key.size() == 1 && Succeeded(step.Execute(db, "LOCK TABLE DNSLookUp IN ACCESS EXCLUSIVE MODE;")) &&
          RowsUpTo(db, "DNSLookUp", 1) == 0 && Succeeded(step.Execute(db, key[0].drop))) {
        key[0].before =
            "DELETE FROM DNSLookUp a USING DNSLookUp b WHERE a.UserIP = b.UserIP AND a.ctid > b.ctid;";
        dropped.push_back(key[0]);
      }
    }
  }
  return dropped;
}

bool HoldsAddressKey(const std::vector<HeldIndex>& held) {
  // The address key is the one held index with a statement to run before it.
  for (const HeldIndex& index : held)
    if (!index.before.empty()) return true;
  return false;
}

bool IsLargeFirstImport(DbSession& db, int64_t expectedBytes) {
  // Below a megabyte of log the WAL's second copy costs next to nothing.
  constexpr int64_t kLargeImportBytes = 1 << 20;
  if (expectedBytes < kLargeImportBytes) return false;
  Statement any;
  bool empty = Succeeded(any.Execute(db, "SELECT 1 FROM [Session] LIMIT 1;")) && any.MoveNext() == kResultFalse;
  any.Close();
  // A failed look is no failure of the import.
  db.ClearErrors();
  return empty;
}

void RecreateIndexes(DbSession& db, const std::vector<HeldIndex>& indexes) {
  if (db.IsServer() && !indexes.empty()) {
    // The page requests' identifiers (60 MB at a million lines) do not fit the sort
    // memory a server has by default (64 MB with the rows' overhead): the largest index
    // was sorted through files, a third slower. Raised for this transaction only, and
    // never lowered.
    Statement memory;
    memory.Execute(db,
                   "SELECT set_config('maintenance_work_mem', '256MB', true) FROM pg_settings WHERE name = "
                   "'maintenance_work_mem' AND setting::bigint < 262144;");
    // Nor are the indexes built by parallel workers: each worker is a process started
    // for one index, and its sorted part goes through a temporary file for the leader
    // to merge. With workers, a million-line import's server used 1.1 to 2.8 s more of
    // its processors, and the import mostly ended 0.2 to 0.9 s later; one process sorts
    // in memory. For this transaction only.
    memory.Execute(db, "SELECT set_config('max_parallel_maintenance_workers', '0', true);");
  }
  for (const HeldIndex& index : indexes) {
    Statement create;
    if (!index.before.empty()) {
      // The key is tried first: only when it meets a repeat (rare) do the repeats go,
      // which takes a join of the whole table.
      if (Succeeded(create.Execute(db, "SAVEPOINT weavil_key;"))) {
        const bool added = Succeeded(create.Execute(db, index.sql));
        if (!added) create.Execute(db, "ROLLBACK TO SAVEPOINT weavil_key;");
        create.Execute(db, "RELEASE SAVEPOINT weavil_key;");
        if (added) continue;
        // The failure was undone with its savepoint.
        db.ClearErrors();
      }
      create.Execute(db, index.before);
    }
    create.Execute(db, index.sql);
  }
}

namespace {

// The tables an import writes; the others hold reference rows that never change.
constexpr const char* kImportTables[] = {"Session",   "Resource", "SessionBytes",   "DNSLookUp",        "Referer",
                                         "Keyphrase", "Keyword",  "Browser",        "OS",               "SessionReferer",
                                         "SessionKeyphrase",      "SessionKeywords", "SessionBrowserOS"};

// Whether the file has the statistics' table: a file never analysed has none, and a
// statement on it would fail the import.
bool HasStatisticsTable(DbSession& db) {
  Statement known;
  int64_t count = 0;
  return Succeeded(known.Execute(db, "SELECT count(*) FROM sqlite_master WHERE name='sqlite_stat1';")) &&
         known.MoveNext() == kResultOk && known.GetInt64(1, count) && count == 1;
}

// Whether the reference tables of a SQLite file have their statistics.
bool ReferenceTablesAnalysed(DbSession& db) {
  if (!HasStatisticsTable(db)) return false;
  Statement known;
  int64_t count = 0;
  return Succeeded(known.Execute(db, "SELECT count(DISTINCT tbl) FROM sqlite_stat1 WHERE tbl IN ('IPRanges', "
                                     "'IPRanges6', 'Countries');")) &&
         known.MoveNext() == kResultOk && known.GetInt64(1, count) && count == 3;
}

// Whether a file's statistics of a table still tell its size: they were taken when it
// held within a tenth of the rows it holds now. A small import into a large file spent
// more on counting every table again than on its rows.
bool StatisticsStillHold(DbSession& db, const std::string& table) {
  Statement ask;
  std::string stat;
  int64_t rows = -1;
  const bool known = Succeeded(ask.Query(db, "SELECT stat FROM sqlite_stat1 WHERE tbl = ? LIMIT 1;", table)) &&
                     ask.MoveNext() == kResultOk && ask.GetText(1, stat);
  ask.Close();
  if (!known || Failed(ask.Execute(db, "SELECT count(*) FROM \"" + table + "\";")) || ask.MoveNext() != kResultOk ||
      !ask.GetInt64(1, rows)) {
    db.ClearErrors();
    return false;
  }
  // The first number of the statistics is the table's rows when they were taken.
  const int64_t counted = std::strtoll(stat.c_str(), nullptr, 10);
  return counted > 0 && 10 * std::abs(rows - counted) <= counted;
}

// An index of a file's table: its columns in order (empty for an expression), whether
// it is unique or partial.
struct FileIndex {
  std::string name;
  std::vector<std::string> columns;
  bool unique = false, partial = false;
};

std::vector<FileIndex> FileIndexesOf(DbSession& db, const std::string& table) {
  std::vector<FileIndex> found;
  Statement list;
  if (Failed(list.Query(db, "SELECT name, \"unique\", partial FROM pragma_index_list(?);", table))) return found;
  while (list.MoveNext() == kResultOk) {
    FileIndex index;
    int64_t unique = 0, partial = 0;
    if (list.GetText(1, index.name) && list.GetInt64(2, unique) && list.GetInt64(3, partial)) {
      index.unique = unique != 0;
      index.partial = partial != 0;
      found.push_back(index);
    }
  }
  list.Close();
  for (FileIndex& index : found) {
    Statement columns;
    if (Failed(columns.Query(db, "SELECT ifnull(name, '') FROM pragma_index_info(?) ORDER BY seqno;", index.name)))
      continue;
    for (std::string column; columns.MoveNext() == kResultOk;)
      if (columns.GetText(1, column)) index.columns.push_back(column);
  }
  return found;
}

// Whether the column of the file's table may hold no NULL.
bool IsNotNull(DbSession& db, const std::string& table, const std::string& column) {
  Statement ask;
  int64_t notNull = 0;
  return Succeeded(ask.Query(db, "SELECT \"notnull\" FROM pragma_table_info(?) WHERE name = ? COLLATE NOCASE;", table,
                             column)) &&
         ask.MoveNext() == kResultOk && ask.GetInt64(1, notNull) && notNull != 0;
}

// The statistics of a table the session's tallies counted, in sqlite_stat1 (which the
// caller found in the file) as
// ANALYZE writes them: the indexes the counts tell from them, the others by ANALYZE
// one by one. False when the counts do not tell the table (no tallies kept, a batch
// left a counted column out, rows written another way, a partial or expression
// index): ANALYZE counts it whole then.
bool WriteCountedStatistics(DbSession& db, const std::string& table) {
  const std::shared_ptr<WriteTallies>& tallies = db.Tallies();
  if (!tallies) return false;
  // Without a tally (a table with no index to count values for) only its unique
  // indexes are told, by the rows alone.
  const TableTally* tally = tallies->Find(table);
  if (tally && tally->incomplete) return false;
  Statement ask;
  int64_t rows = -1;
  if (Failed(ask.Execute(db, "SELECT count(*) FROM \"" + table + "\";")) || ask.MoveNext() != kResultOk ||
      !ask.GetInt64(1, rows) || (tally && rows != tally->rows))
    return false;
  ask.Close();
  std::vector<std::pair<std::string, std::string>> counted;  // index, statistics
  std::vector<std::string> alone;
  const std::vector<FileIndex> indexes = FileIndexesOf(db, table);
  if (indexes.empty()) return false;
  for (const FileIndex& index : indexes) {
    if (index.partial || std::find(index.columns.begin(), index.columns.end(), "") != index.columns.end())
      return false;
    if (index.columns.size() != 1) {
      alone.push_back(index.name);
      continue;
    }
    const std::string& column = index.columns[0];
    const DistinctValues* values = nullptr;
    for (size_t c = 0; tally && c < tally->columns.size() && !values; ++c)
      if (EqualsNoCase(tally->columns[c], column)) values = &tally->values[c];
    if (index.unique && IsNotNull(db, table, column))
      counted.emplace_back(index.name, SingleColumnIndexStat(rows, rows));
    else if (values)
      counted.emplace_back(index.name, SingleColumnIndexStat(rows, values->Count()));
    else
      alone.push_back(index.name);
  }
  Statement write;
  if (Failed(write.Query(db, "DELETE FROM sqlite_stat1 WHERE tbl = ?;", table))) return false;
  // An empty table has no statistics, as ANALYZE leaves it.
  for (const auto& [index, stat] : counted)
    if (rows > 0 && Failed(write.Query(db, "INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES (?, ?, ?);", table,
                                       index, stat)))
      return false;
  for (const std::string& index : alone) write.Execute(db, "ANALYZE \"" + index + "\";");
  return true;
}

}  // namespace

std::vector<std::string> RenewEmptyImportTables(DbSession& db) {
  if (!db.IsServer()) return {};
  Statement ask;
  std::string level;
  if (Failed(ask.Execute(db, "SHOW wal_level;")) || ask.MoveNext() != kResultOk || !ask.GetText(1, level) ||
      level != "minimal") {
    ask.Close();
    db.ClearErrors();
    return {};
  }
  ask.Close();
  std::string all;
  for (const char* table : kImportTables) all += (all.empty() ? "" : ", ") + std::string(table);
  // Locked before they are counted: a table found empty stays so until the truncation.
  // The import's own write lock keeps other imports out already; this keeps out any
  // other writer. A role that may not truncate them keeps them as they are.
  Statement run;
  if (Failed(run.Execute(db, "SAVEPOINT weavil_renew;"))) {
    db.ClearErrors();
    return {};
  }
  std::vector<std::string> empty;
  std::string list;
  bool failed = Failed(run.Execute(db, "LOCK TABLE " + all + " IN ACCESS EXCLUSIVE MODE;"));
  for (const char* table : kImportTables) {
    if (failed) break;
    const int64_t rows = RowsUpTo(db, table, 1);
    failed = rows < 0;
    if (rows != 0) continue;
    empty.emplace_back(table);
    list += (list.empty() ? "" : ", ") + std::string(table);
  }
  if (!failed && !empty.empty()) failed = Failed(run.Execute(db, "TRUNCATE " + list + ";"));
  if (failed) {
    run.Execute(db, "ROLLBACK TO SAVEPOINT weavil_renew;");
    run.Execute(db, "RELEASE SAVEPOINT weavil_renew;");
    db.ClearErrors();
    return {};
  }
  run.Execute(db, "RELEASE SAVEPOINT weavil_renew;");
  return empty;
}

void WatchEmptyImportTables(DbSession& db) {
  const std::shared_ptr<WriteTallies>& tallies = db.Tallies();
  if (!tallies || db.IsServer()) return;
  for (const char* table : kImportTables) {
    const std::string stored = db.StoredTable(table);
    if (RowsUpTo(db, stored, 1) != 0) continue;
    std::vector<std::string> columns;
    for (const FileIndex& index : FileIndexesOf(db, stored))
      if (!index.unique && !index.partial && index.columns.size() == 1 && !index.columns[0].empty())
        columns.push_back(index.columns[0]);
    if (!columns.empty()) tallies->Watch(stored, columns);
  }
}

void RefreshPlannerStatistics(DbSession& db) {
  Statement analyze;
  if (!db.IsServer()) {
    // Once the reference tables have their statistics only the tables an import writes
    // are counted again (the 550,000 address ranges took a quarter of the time).
    const bool analysed = ReferenceTablesAnalysed(db);
    if (!analysed && !db.Tallies()) {
      analyze.Execute(db, "ANALYZE;");
      return;
    }
    std::vector<std::string> written;  // the import tables, as the file names them
    for (const char* table : kImportTables) written.push_back(db.StoredTable(table));
    if (!analysed) {
      // Every other table first: that makes the statistics' table where there is none.
      std::vector<std::string> others;
      Statement list;
      if (Succeeded(list.Execute(db, "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                                     "'sqlite_%';")))
        for (std::string name; list.MoveNext() == kResultOk;)
          if (list.GetText(1, name) && std::none_of(written.begin(), written.end(), [&](const std::string& table) {
                return EqualsNoCase(table, name);
              }))
            others.push_back(name);
      list.Close();
      for (const std::string& table : others) analyze.Execute(db, "ANALYZE \"" + table + "\";");
    }
    const bool counted = db.Tallies() && HasStatisticsTable(db);
    for (const std::string& stored : written) {
      if (analysed && StatisticsStillHold(db, stored)) continue;
      if (!counted || !WriteCountedStatistics(db, stored)) analyze.Execute(db, "ANALYZE " + stored + ";");
    }
    return;
  }
  // A server samples every table it is asked about (the reference tables did not
  // change), 300 rows for each step of its target: the statements join whole tables and
  // need the sizes more than fine histograms, and a tenth of the default sample takes a
  // tenth of the time (0.1 s against 1.4 s after a million lines).
  std::string tables;
  for (const char* table : kImportTables) tables += (tables.empty() ? "" : ", ") + std::string(table);
  analyze.Execute(db, "SET default_statistics_target = 10;");
  analyze.Execute(db, "ANALYZE " + tables + ";");
  analyze.Execute(db, "RESET default_statistics_target;");
}

}  // namespace weavil

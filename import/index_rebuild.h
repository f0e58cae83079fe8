#pragma once
// A large import into tables that hold fewer rows than it adds rebuilds their indexes
// once at the end instead of growing them row by row (random session identifiers and
// case-insensitive texts make every row's index update costly), inside the same
// transaction, from the definitions the database holds. The Session indexes are only
// rebuilt for an empty table: the check for stored sessions needs them otherwise. On a
// server the primary keys of Resource and Session are dropped and added again alike.
#include <cstdint>
#include <string>
#include <vector>

namespace weavil {

class DbSession;

// An index (or on a server a primary key) dropped for the import, with the statement
// that creates it again and, for a key, the one that dropped it; before: what runs first
// when the index cannot be made (only the address key has it: it removes the addresses
// copied twice).
struct HeldIndex {
  std::string name, sql, drop, before;
};

// Whether the held indexes include the address table's key: the import then copies its
// addresses without asking for stored ones (SessionWriter's uncheckedAddresses), and
// their repeats go before the key is added again.
bool HoldsAddressKey(const std::vector<HeldIndex>& held);

// Drops the indexes of the tables that an import of expectedBytes of log outgrows.
std::vector<HeldIndex> DropIndexesForImport(DbSession& db, int64_t expectedBytes);
// An import of expectedBytes of log into a database that holds no session yet, large
// enough to be written through a rollback journal (DbSession::StartBulkWrite).
bool IsLargeFirstImport(DbSession& db, int64_t expectedBytes);
// Creates the dropped indexes again.
void RecreateIndexes(DbSession& db, const std::vector<HeldIndex>& indexes);
// On a server that keeps no log for replicas (wal_level = minimal), gives the empty tables
// an import fills new storage in its transaction (TRUNCATE): the server then writes their
// rows and indexes once, without a second copy in its write-ahead log, and syncs them at
// the commit. The tables renewed (locked until the commit); a failure changes nothing and
// is no failure of the import. Call it inside the import's transaction, before its first
// row.
std::vector<std::string> RenewEmptyImportTables(DbSession& db);
// Before a large first import (DbSession::StartTallies): has the session's batches count
// the rows of each table the import writes that is empty now, and the distinct values
// of the column of each of its single-column indexes. Call it before the indexes are
// dropped.
void WatchEmptyImportTables(DbSession& db);
// Counts the rows behind every index again for the query planner (SQLite's ANALYZE, in
// the import's transaction), so the report queries are planned on the data's real shape:
// without it a join starts from the wrong table (Keywords, a filtered Referrers and
// Statistics run several times slower on a large log). A table the session's tallies
// counted whole gets the statistics ANALYZE would write from the counts (a unique index
// of a column that is never NULL has one row per value); what they do not tell is
// counted by ANALYZE, index by index.
void RefreshPlannerStatistics(DbSession& db);

}  // namespace weavil

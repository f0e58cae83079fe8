#pragma once
// Counts kept while a large import fills tables that were empty before it: the rows each
// table's batches wrote and the distinct values of its indexed columns. The planner's
// statistics of such a table then come from the counts instead of a second reading of
// each of its indexes (ANALYZE read two and a half million index entries after a
// million-line import, a sixth of the time after its last row).
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace weavil {

// The distinct values of one column: a bit per value for the small non-negative
// integers an import numbers its rows by, a set for any other.
class DistinctValues {
 public:
  void Add(int64_t value);
  void AddNull() { null_ = true; }
  // NULL counts as one value, as SQLite's statistics count it.
  int64_t Count() const { return count_ + (null_ ? 1 : 0); }

 private:
  // Values under it take a bit each: 8 MB at most.
  static constexpr int64_t kBitLimit = int64_t{1} << 26;
  std::vector<uint64_t> bits_;
  std::unordered_set<int64_t> others_;
  int64_t count_ = 0;
  bool null_ = false;
};

struct TableTally {
  std::string table;                   // as the file names it
  std::vector<std::string> columns;    // the indexed columns counted
  std::vector<DistinctValues> values;  // one per column
  int64_t rows = 0;                    // the rows written through batches
  // A batch left a counted column out, may have left rows out unseen (OR IGNORE) or
  // wrote a text into a counted column: the counts say nothing.
  bool incomplete = false;
};

class WriteTallies {
 public:
  // Counts the table's rows and the distinct values of the columns given (a table
  // watched already goes on with its count).
  void Watch(const std::string& table, const std::vector<std::string>& columns);
  // The table's tally (case-insensitive name), or null when it is not watched.
  TableTally* Find(std::string_view table);

 private:
  std::deque<TableTally> tables_;  // a dozen at most; a batch holds on to its table's
};

// The planner's statistics of a single-column index over rows rows of which distinct
// hold different values, as SQLite's ANALYZE writes them into sqlite_stat1: the rows,
// then the rows per value rounded up (one when that is under 1.1).
std::string SingleColumnIndexStat(int64_t rows, int64_t distinct);

}  // namespace weavil

#pragma once
// Rows of one table written many to a statement: a statement per row costs more than
// the row itself (the table's sequence is read and written back each time). Rows keep
// the order they were added in, so the keys the database assigns are those that one
// insert per row gives. When a batch fails, the rows it stored before the failing one
// stay, the others are written one by one and a failing row is traced with its full
// statement.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

class DbSession;
class Statement;
struct TableTally;
class WriteTallies;

using TraceSink = std::function<void(const std::string&)>;

// One value of a row to insert.
struct SqlValue {
  enum class Kind { kNull, kNumber, kText } kind = Kind::kNull;
  int64_t number = 0;
  std::string text;
  void SetText(std::string_view value) {
    kind = Kind::kText;
    text.assign(value);
  }
  void SetNumber(int64_t value) {
    kind = Kind::kNumber;
    number = value;
  }
  void SetNumber(const std::optional<int64_t>& value) {
    if (value) SetNumber(*value);
    else kind = Kind::kNull;
  }
};

class BatchInserter {
 public:
  // Rows to a statement in a file: each statement run costs its reset and a step of
  // its own. A million-line import took 1.96 s with 32, 1.87 s with 128 (the mean of
  // five alternating runs each); 256 gained nothing more, 512 lost it again.
  static constexpr size_t kRowsPerStatement = 128;
  // On a server the rows go by COPY, many thousands at a time: up to this many rows,
  // or this much of COPY's text, whichever comes first. Each COPY costs the server a
  // statement and the import a wait between two: 8,192 rows a COPY made 254 of them in
  // a million-line import, two megabytes make 82 (0.07 to 0.22 s sooner, 14 MB more
  // at the peak).
  static constexpr size_t kRowsPerCopy = 65536;
  static constexpr size_t kCopyBytes = 2 << 20;

  // columns: the column list, "A, B, C"; quoted: per column, whether the traced
  // statement shows the value between quotes. trace may be null: failed rows are not
  // traced.
  // skipDuplicates: a row whose unique value is stored already is left out, the others
  // land (a file by INSERT OR IGNORE; a server takes them by COPY into a table of their
  // own first: a COPY straight into the table would fail whole).
  BatchInserter(DbSession& db, std::string_view table, std::string_view columns, std::vector<bool> quoted,
                TraceSink* trace, bool skipDuplicates = false);
  ~BatchInserter();
  // For rows written in another form than the insert they stand for: a failed row is
  // traced as "Insert INTO table (columns) VALUES (...)" with, for each of those
  // columns, the row's value at places[i], between quotes where quoted[i]. Places at
  // and past the written columns' count hold values kept for the trace only (the
  // rows grow to hold them); Add's row has them after the written ones. A number at a
  // place marked in times is a time's seconds since 1970, traced as its text (formatted
  // only for a row that fails).
  void TraceAs(std::string_view table, std::string_view columns, std::vector<size_t> places, std::vector<bool> quoted,
               std::vector<bool> times = {});
  BatchInserter(const BatchInserter&) = delete;
  BatchInserter& operator=(const BatchInserter&) = delete;

  // The next row to fill (one value per column); a full batch is written first. The
  // row is filled at once: the next Add may take its values.
  std::vector<SqlValue>& Add() {
    if (copy_) return AddForCopy();
    if (count_ == rows_.size()) Flush();
    return rows_[count_++];
  }
  // Writes the rows held back.
  void Flush();
  // Drops the rows held back, unwritten (after a rollback).
  void Discard() {
    count_ = 0;
    held_ = false;
    copyText_.clear();
  }

 private:
  std::vector<SqlValue>& AddForCopy();
  void TakeHeldRow();
  void AppendCopyRow(const std::vector<SqlValue>& row);
  int32_t Run(size_t rows, size_t first);
  std::string TraceText(const std::vector<SqlValue>& row) const;
  void Tally(size_t first, size_t rows);

  DbSession& db_;
  std::string table_, columns_;
  std::string head_, failHead_, traceHead_;
  std::string copyText_;
  std::vector<bool> quoted_;  // one per written column: a row's first values
  std::vector<size_t> tracePlaces_;  // TraceAs's; empty: the written columns as they are
  std::vector<bool> traceQuoted_;
  std::vector<bool> traceTimes_;  // TraceAs's times
  TraceSink* trace_;
  std::vector<std::vector<SqlValue>> rows_;
  bool copy_ = false;  // rows go by COPY (a server)
  bool skipDuplicates_ = false;
  size_t count_ = 0;  // rows held back; on a server, those in copyText_
  bool held_ = false;  // on a server: the one row is filled, not yet in copyText_
  std::unique_ptr<Statement> statements_[kRowsPerStatement + 1];
  std::shared_ptr<WriteTallies> tallies_;  // the session's, while the table is counted
  TableTally* tally_ = nullptr;            // the table's count in them
  std::vector<size_t> tallyPlaces_;  // per counted column, its place in a row
};

}  // namespace weavil

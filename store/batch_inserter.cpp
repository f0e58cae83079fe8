#include "store/batch_inserter.h"

#include <algorithm>
#include <charconv>

#include "base/text.h"

#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/sql_text.h"
#include "store/write_tally.h"

namespace weavil {

BatchInserter::BatchInserter(DbSession& db, std::string_view table, std::string_view columns,
                             std::vector<bool> quoted, TraceSink* trace, bool skipDuplicates)
    : db_(db),
      table_(table),
      columns_(columns),
      // In a file a duplicate is left out by the statement itself: a failed row would
      // send the rest of its batch one by one.
      head_(std::string(skipDuplicates ? "INSERT OR IGNORE INTO " : "INSERT INTO ") + std::string(table) + " (" +
            std::string(columns) + ") VALUES"),
      failHead_(std::string(skipDuplicates ? "INSERT OR IGNORE INTO " : "INSERT OR FAIL INTO ") + std::string(table) +
                " (" + std::string(columns) + ") VALUES"),
      traceHead_("Insert INTO " + std::string(table) + " (" + std::string(columns) + ")"),
      quoted_(std::move(quoted)),
      trace_(trace),
      rows_(db.IsServer() ? 1 : kRowsPerStatement, std::vector<SqlValue>(quoted_.size())),
      copy_(db.IsServer()),
      skipDuplicates_(skipDuplicates) {
  TableTally* tally = copy_ || !db.Tallies() ? nullptr : db.Tallies()->Find(table);
  if (!tally) return;
  // The counted columns' places among those written; a column left out, or rows that
  // may be left out unseen (OR IGNORE), leave the table's counts incomplete.
  std::vector<std::string_view> written;
  for (std::string_view rest = columns; !rest.empty();) {
    const size_t comma = rest.find(',');
    written.push_back(TrimView(rest.substr(0, comma)));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  for (const std::string& column : tally->columns) {
    const auto at = std::find_if(written.begin(), written.end(),
                                 [&](std::string_view name) { return EqualsNoCase(name, column); });
    if (at == written.end() || skipDuplicates) {
      tally->incomplete = true;
      return;
    }
    tallyPlaces_.push_back(static_cast<size_t>(at - written.begin()));
  }
  tallies_ = db.Tallies();
  tally_ = tally;
}

BatchInserter::~BatchInserter() = default;

void BatchInserter::TraceAs(std::string_view table, std::string_view columns, std::vector<size_t> places,
                            std::vector<bool> quoted, std::vector<bool> times) {
  traceHead_ = "Insert INTO " + std::string(table) + " (" + std::string(columns) + ")";
  size_t values = quoted_.size();
  for (size_t place : places) values = std::max(values, place + 1);
  for (std::vector<SqlValue>& row : rows_) row.resize(values);
  tracePlaces_ = std::move(places);
  traceQuoted_ = std::move(quoted);
  traceTimes_ = std::move(times);
}

void BatchInserter::Flush() {
  if (copy_) {
    TakeHeldRow();
    if (count_ == 0) return;
    // A failed COPY ends the server's transaction: there is no row to try alone after
    // it, and the server's message names the line.
    db_.CopyRows(table_, columns_, copyText_, skipDuplicates_);
    copyText_.clear();
    count_ = 0;
    return;
  }
  if (count_ == 0) return;
  const int64_t before = db_.TotalChanges();
  if (Failed(Run(count_, 0))) {
    // The rows before the one that failed are stored (OR FAIL); the rest go one by one.
    // The statement's own count, not what triggers it fired wrote, and only if it ran.
    const int64_t stored =
        db_.TotalChanges() != before ? std::clamp<int64_t>(db_.Changes(), 0, static_cast<int64_t>(count_)) : 0;
    Tally(0, static_cast<size_t>(stored));
    for (size_t r = static_cast<size_t>(stored); r < count_; ++r) {
      if (Succeeded(Run(1, r))) Tally(r, 1);
      else if (trace_) (*trace_)(TraceText(rows_[r]));
    }
  } else {
    Tally(0, count_);
  }
  count_ = 0;
}

void BatchInserter::Tally(size_t first, size_t rows) {
  if (!tally_) return;
  tally_->rows += static_cast<int64_t>(rows);
  for (size_t c = 0; c < tallyPlaces_.size(); ++c) {
    DistinctValues& values = tally_->values[c];
    for (size_t r = first; r < first + rows; ++r) {
      const SqlValue& value = rows_[r][tallyPlaces_[c]];
      if (value.kind == SqlValue::Kind::kNumber) values.Add(value.number);
      else if (value.kind == SqlValue::Kind::kNull) values.AddNull();
      else tally_->incomplete = true;
    }
  }
}

// Writes rows [first, first + rows) with the statement for that many rows, prepared on
// first use. Texts are bound without a copy: the rows stay as they are until it ran.
int32_t BatchInserter::Run(size_t rows, size_t first) {
  std::unique_ptr<Statement>& statement = statements_[rows];
  if (!statement) {
    statement = std::make_unique<Statement>();
    // Many rows to a statement: OR FAIL, so that a row that breaks a constraint keeps
    // those before it. Under the default ABORT, SQLite keeps a copy of every page such a
    // statement changes, to undo it: on an import into a new file, as much again as the
    // file itself, written to a temporary file. One row: as the statement of its own.
    std::string sql = rows > 1 ? failHead_ : head_;
    for (size_t r = 0; r < rows; ++r) {
      sql += r ? ", (" : " (";
      for (size_t c = 0; c < quoted_.size(); ++c) sql += c ? ", ?" : "?";
      sql += ")";
    }
    sql += ";";
    if (Failed(statement->Prepare(db_, sql))) return kResultFail;
  }
  if (!statement->IsOpen()) return kResultFail;
  int index = 1;
  for (size_t r = first; r < first + rows; ++r) {
    for (size_t c = 0; c < quoted_.size(); ++c) {
      const SqlValue& value = rows_[r][c];
      switch (value.kind) {
        case SqlValue::Kind::kNull: statement->BindNull(index); break;
        case SqlValue::Kind::kNumber: statement->BindInt64(index, value.number); break;
        case SqlValue::Kind::kText: statement->BindTextNoCopy(index, value.text); break;
      }
      ++index;
    }
  }
  return statement->RunDeferred();
}

namespace {

// Whether eight bytes may hold one that COPY's text form escapes: a backslash, or a
// byte below 14 (tab, newline and carriage return among them).
bool MayHoldEscaped(uint64_t bytes) { return word_bytes::AnyBelow(bytes, 14) || word_bytes::AnyEqual(bytes, '\\'); }

// A text as a field of COPY's text form: backslash, tab, newline and carriage return
// escaped; the runs between them go as they are. Eight bytes at a time are passed over
// while none of them needs a look (a server import writes a hundred megabytes of text).
void AppendCopyText(std::string& out, std::string_view text) {
  const char* data = text.data();
  const size_t size = text.size();
  size_t from = 0, i = 0;
  while (i < size) {
    while (i + 8 <= size && !MayHoldEscaped(word_bytes::Load(data + i))) i += 8;
    for (const size_t stop = std::min(size, i + 8); i < stop; ++i) {
      const char ch = data[i];
      if (ch != '\\' && ch != '\t' && ch != '\n' && ch != '\r') continue;
      out.append(data + from, i - from);
      out.push_back('\\');
      out.push_back(ch == '\\' ? '\\' : ch == '\t' ? 't' : ch == '\n' ? 'n' : 'r');
      from = i + 1;
    }
  }
  out.append(data + from, size - from);
}

}  // namespace

// On a server a row goes into the COPY's text as soon as the next one is asked for,
// while its values are still in the cache: formatted all at the flush, the texts of
// thousands of rows were read back from memory, a tenth of the import's own work.
std::vector<SqlValue>& BatchInserter::AddForCopy() {
  TakeHeldRow();
  if (count_ == kRowsPerCopy || copyText_.size() >= kCopyBytes) Flush();
  held_ = true;
  return rows_[0];
}

// The row filled last, into the COPY's text.
void BatchInserter::TakeHeldRow() {
  if (!held_) return;
  AppendCopyRow(rows_[0]);
  held_ = false;
  ++count_;
}

// A row in COPY's text form.
void BatchInserter::AppendCopyRow(const std::vector<SqlValue>& row) {
  std::string& text = copyText_;
  for (size_t c = 0; c < quoted_.size(); ++c) {
    if (c) text.push_back('\t');
    const SqlValue& value = row[c];
    switch (value.kind) {
      case SqlValue::Kind::kNull: text.append("\\N"); break;
      case SqlValue::Kind::kNumber: {
        char digits[24];
        char* end = std::to_chars(digits, digits + sizeof digits, value.number).ptr;
        text.append(digits, static_cast<size_t>(end - digits));
        break;
      }
      case SqlValue::Kind::kText: AppendCopyText(text, value.text); break;
    }
  }
  text.push_back('\n');
}

// The row as one insert statement of its own, values written in.
std::string BatchInserter::TraceText(const std::vector<SqlValue>& row) const {
  std::string sql = traceHead_;
  sql += " VALUES (";
  const bool asWritten = tracePlaces_.empty();
  const std::vector<bool>& quoted = asWritten ? quoted_ : traceQuoted_;
  for (size_t c = 0; c < quoted.size(); ++c) {
    if (c) sql += ", ";
    const SqlValue& value = row[asWritten ? c : tracePlaces_[c]];
    if (value.kind == SqlValue::Kind::kNull) {
      sql += "NULL";
      continue;
    }
    const bool time = !asWritten && c < traceTimes_.size() && traceTimes_[c];
    std::string text = value.kind == SqlValue::Kind::kText ? value.text
                       : time                              ? FormatEpochSeconds(value.number)
                                                           : std::to_string(value.number);
    if (!quoted[c]) {
      sql += text;
      continue;
    }
    sql.push_back('\'');
    AppendEscapedSql(sql, text);
    sql.push_back('\'');
  }
  sql += ");";
  return sql;
}

}  // namespace weavil

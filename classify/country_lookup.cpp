#include "classify/country_lookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <utility>

#include "classify/user_agent_classifier.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

uint32_t AddressNumber(std::string_view address) {
  std::string text(TextBeforeNul(address));
  in_addr parsed{};
  if (inet_aton(text.c_str(), &parsed) == 0) return 4294967295u;
  return ntohl(parsed.s_addr);
}

namespace {

// An IPv6 address that is looked up in IPRanges6: not an IPv4-mapped one, which is
// looked up by its IPv4 address.
std::optional<Ipv6Number> Ipv6ForLookup(std::string_view address, uint32_t& mapped, bool& isMapped) {
  isMapped = false;
  address = TextBeforeNul(address);
  if (address.find(':') == std::string_view::npos) return std::nullopt;
  std::optional<Ipv6Number> v6 = ParseIpv6(address);
  if (!v6) return std::nullopt;
  if (std::optional<uint32_t> v4 = MappedIpv4(*v6)) {
    mapped = *v4;
    isMapped = true;
    return std::nullopt;
  }
  return v6;
}

std::string BlobLiteral(Ipv6Number value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "X'";
  for (int shift = 124; shift >= 0; shift -= 4) text.push_back(kHex[static_cast<unsigned>(value >> shift) & 0xF]);
  text.push_back('\'');
  return text;
}

}  // namespace

std::string CountryQuery(std::string_view address) {
  uint32_t mapped = 0;
  bool isMapped = false;
  if (std::optional<Ipv6Number> v6 = Ipv6ForLookup(address, mapped, isMapped)) {
    std::string blob = BlobLiteral(*v6);
    return "Select Code from IPRanges6 where StartIP<=" + blob + " and EndIP>=" + blob + " order by ValueBits DESC;";
  }
  std::string number = std::to_string(isMapped ? mapped : AddressNumber(address));
  return "Select Code from IPRanges where StartIP<=" + number + " and EndIP>=" + number +
         " order by ValueBits DESC;";
}

namespace {

// The code CountryQuery's statement gives for the address, cut to two characters; none
// when no range holds it or its range has none. False when the statement failed.
bool QueryCountry(DbSession& session, std::string_view address, std::optional<std::string>& code) {
  code.reset();
  Statement statement;
  if (Failed(statement.Execute(session, CountryQuery(address)))) return false;
  const int32_t step = statement.MoveNext();
  if (step != kResultOk) return step == kResultFalse;
  std::string text;
  if (statement.GetText(1, text)) code = text.substr(0, 2);
  return true;
}

}  // namespace

int32_t LookupCountry(std::string_view address, std::string& country, DbSession& session) {
  std::optional<std::string> code;
  if (QueryCountry(session, address, code) && code) country = std::move(*code);
  return 0;
}

// ---------------------------------------------------------------- ranges in memory

namespace {

template <typename N>
struct RangeRow {
  N start, end;
  int64_t bits;
  CountryRanges::Code code;
};

// Cuts possibly overlapping ranges into disjoint pieces, each with the code of the
// range of largest ValueBits that holds it; neighbours with one code are merged.
template <typename N>
void Flatten(std::vector<RangeRow<N>>& rows, CountryRanges::Table<N>& table) {
  constexpr N kMax = static_cast<N>(~N(0));
  auto byStart = [](const RangeRow<N>& a, const RangeRow<N>& b) { return a.start < b.start; };
  if (!std::is_sorted(rows.begin(), rows.end(), byStart)) std::sort(rows.begin(), rows.end(), byStart);
  auto append = [&](N start, N end, const CountryRanges::Code& code) {
    if (!table.ends.empty() && table.ends.back() + 1 == start && table.codes.back().length == code.length &&
        std::equal(code.text, code.text + code.length, table.codes.back().text)) {
      table.ends.back() = end;
      return;
    }
    table.starts.push_back(start);
    table.ends.push_back(end);
    table.codes.push_back(code);
  };
  bool disjoint = true;
  for (size_t i = 1; i < rows.size() && disjoint; ++i) disjoint = rows[i].start > rows[i - 1].end;
  if (disjoint) {  // the shipped data: nothing to resolve
    for (const RangeRow<N>& row : rows) append(row.start, row.end, row.code);
    return;
  }
  std::vector<N> bounds;
  bounds.reserve(rows.size() * 2);
  for (const RangeRow<N>& row : rows) {
    bounds.push_back(row.start);
    if (row.end != kMax) bounds.push_back(row.end + 1);
  }
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

  auto lower = [&](size_t a, size_t b) { return rows[a].bits < rows[b].bits; };
  std::priority_queue<size_t, std::vector<size_t>, decltype(lower)> active(lower);
  size_t next = 0;
  for (size_t i = 0; i < bounds.size(); ++i) {
    const N at = bounds[i];
    while (next < rows.size() && rows[next].start == at) active.push(next++);
    while (!active.empty() && rows[active.top()].end < at) active.pop();
    if (active.empty()) continue;
    const N last = i + 1 < bounds.size() ? bounds[i + 1] - 1 : kMax;
    append(at, last, rows[active.top()].code);
  }
}

// A range's code: at most two characters; none for a null.
CountryRanges::Code CodeOf(const char* text, size_t size) {
  CountryRanges::Code code;
  if (!text) return code;
  code.length = static_cast<uint8_t>(std::min<size_t>(size, 2));
  std::copy(text, text + code.length, code.text);
  return code;
}

// A 16-byte bound of IPRanges6, most significant byte first.
bool Ipv6Of(const void* data, size_t size, Ipv6Number& value) {
  if (!data || size != 16) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  value = 0;
  for (size_t i = 0; i < 16; ++i) value = (value << 8) | bytes[i];
  return true;
}

// Rows whose bounds are missing or out of order are left out.
void AddIpv4Range(std::vector<RangeRow<uint32_t>>& rows, bool bounded, int64_t start, int64_t end, int64_t bits,
                  CountryRanges::Code code) {
  if (!bounded || start < 0 || end > UINT32_MAX || start > end) return;
  rows.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(end), bits, code});
}

void AddIpv6Range(std::vector<RangeRow<Ipv6Number>>& rows, bool bounded, Ipv6Number start, Ipv6Number end,
                  int64_t bits, CountryRanges::Code code) {
  if (bounded && start <= end) rows.push_back({start, end, bits, code});
}

// A server's ranges come in its binary form (DbSession::ReadBinaryRows): as a result of
// texts, a third of a million rows cost the server about twice as much to send, and the
// result was held whole (a million-line import's peak fell from 117-121 to 89-92 MB).
// A field that is not a bigint is 0, and not valid.
using Fields = std::vector<DbSession::BinaryField>;

int64_t BigintOf(const DbSession::BinaryField& field, bool* valid = nullptr) {
  const bool isBigint = field.data && field.size == 8;
  if (valid) *valid = isBigint;
  if (!isBigint) return 0;
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | static_cast<unsigned char>(field.data[i]);
  return static_cast<int64_t>(value);
}

CountryRanges::Code CodeOf(const DbSession::BinaryField& field) {
  return CodeOf(field.data, static_cast<size_t>(std::max<int32_t>(field.size, 0)));
}

// Rows read between two looks at stop (a read ahead that is no longer wanted).
constexpr size_t kRowsBetweenStops = 4096;

bool Stopped(const std::atomic<bool>* stop, size_t rows) {
  return stop && rows % kRowsBetweenStops == 0 && stop->load(std::memory_order_relaxed);
}

// A file's ranges are read by a function of the query that SQLite calls for each row,
// inside its own loop: each value a step hands out costs a lock of the connection, which
// took 38 of the 62 ms a read of IPRanges' 334,000 rows did. The function stays the
// connection's from its first read on; it gives its rows to the read running on its
// thread, and fails the query outside one, or once the read is stopped.
using RowTaker = std::function<bool(sqlite3_value** values)>;  // false: the read stops
thread_local const RowTaker* tRowTaker = nullptr;
constexpr const char* kTakeRange = "weavil_take_range";

void TakeRange(sqlite3_context* context, int, sqlite3_value** values) {
  if (!tRowTaker || !(*tRowTaker)(values)) {
    sqlite3_result_error(context, "no read of address ranges takes the row", -1);
    return;
  }
  sqlite3_result_int(context, 1);
}

// Reads the table's StartIP, EndIP, Code and ValueBits by the function, each row into
// take; false when the query failed (noted on the session, as a statement's failure is)
// or stop was set. A failure after some rows keeps them, as a read stepping through the
// rows would.
bool ReadRangesInQuery(DbSession& session, const std::string& table, const std::atomic<bool>* stop,
                       const std::function<void(sqlite3_value** values)>& take) {
  sqlite3* db = session.Handle();
  if (!db) return false;
  // Added again, it replaces itself; while a statement of the connection runs that
  // fails, and the one an earlier read added serves.
  sqlite3_create_function_v2(db, kTakeRange, 4, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr, TakeRange, nullptr, nullptr,
                             nullptr);
  const std::string sql =
      std::string("SELECT count(") + kTakeRange + "(StartIP, EndIP, Code, ValueBits)) FROM " + table + ";";
  sqlite3_stmt* statement = nullptr;
  if (const int prepared = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr); prepared != SQLITE_OK) {
    session.NoteFailure(prepared);
    sqlite3_finalize(statement);
    return false;
  }
  size_t read = 0;
  bool stopped = false;
  const RowTaker taker = [&](sqlite3_value** values) {
    if ((stopped = Stopped(stop, ++read))) return false;
    take(values);
    return true;
  };
  const RowTaker* outer = std::exchange(tRowTaker, &taker);
  const int step = sqlite3_step(statement);
  tRowTaker = outer;
  if (step != SQLITE_ROW && !stopped) session.NoteFailure(step);
  sqlite3_finalize(statement);
  return !stopped;
}

CountryRanges::Code CodeOf(sqlite3_value* value) {
  if (sqlite3_value_type(value) == SQLITE_NULL) return {};
  const unsigned char* text = sqlite3_value_text(value);
  return CodeOf(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value)));
}

bool ReadIpv4(DbSession& session, std::vector<RangeRow<uint32_t>>& rows, const std::atomic<bool>* stop) {
  rows.reserve(400000);
  if (session.IsServer()) {
    size_t read = 0;
    return Succeeded(session.ReadBinaryRows(
               "SELECT CAST(StartIP AS bigint), CAST(EndIP AS bigint), CAST(Code AS text), CAST(ValueBits AS "
               "bigint) FROM IPRanges",
               [&](const Fields& fields) {
                 if (Stopped(stop, ++read)) return false;
                 if (fields.size() != 4) return true;
                 bool validStart = false, validEnd = false;
                 const int64_t start = BigintOf(fields[0], &validStart), end = BigintOf(fields[1], &validEnd);
                 AddIpv4Range(rows, validStart && validEnd, start, end, BigintOf(fields[3]), CodeOf(fields[2]));
                 return true;
               })) &&
           !Stopped(stop, 0);
  }
  return ReadRangesInQuery(session, "IPRanges", stop, [&](sqlite3_value** values) {
    const bool bounded = sqlite3_value_type(values[0]) != SQLITE_NULL && sqlite3_value_type(values[1]) != SQLITE_NULL;
    AddIpv4Range(rows, bounded, sqlite3_value_int64(values[0]), sqlite3_value_int64(values[1]),
                 sqlite3_value_int64(values[3]), CodeOf(values[2]));
  });
}

bool ReadIpv6(DbSession& session, std::vector<RangeRow<Ipv6Number>>& rows, const std::atomic<bool>* stop) {
  if (session.IsServer()) {
    size_t read = 0;
    return Succeeded(session.ReadBinaryRows(
               "SELECT CAST(StartIP AS bytea), CAST(EndIP AS bytea), CAST(Code AS text), CAST(ValueBits AS bigint) "
               "FROM IPRanges6",
               [&](const Fields& fields) {
                 if (Stopped(stop, ++read)) return false;
                 if (fields.size() != 4) return true;
                 Ipv6Number start = 0, end = 0;
                 const bool bounded = Ipv6Of(fields[0].data, static_cast<size_t>(fields[0].size), start) &&
                                      Ipv6Of(fields[1].data, static_cast<size_t>(fields[1].size), end);
                 AddIpv6Range(rows, bounded, start, end, BigintOf(fields[3]), CodeOf(fields[2]));
                 return true;
               })) &&
           !Stopped(stop, 0);
  }
  return ReadRangesInQuery(session, "IPRanges6", stop, [&](sqlite3_value** values) {
    Ipv6Number start = 0, end = 0;
    const bool bounded =
        Ipv6Of(sqlite3_value_blob(values[0]), static_cast<size_t>(sqlite3_value_bytes(values[0])), start) &&
        Ipv6Of(sqlite3_value_blob(values[1]), static_cast<size_t>(sqlite3_value_bytes(values[1])), end);
    AddIpv6Range(rows, bounded, start, end, sqlite3_value_int64(values[3]), CodeOf(values[2]));
  });
}

template <typename N>
std::string Find(const CountryRanges::Table<N>& table, N value) {
  auto after = std::upper_bound(table.starts.begin(), table.starts.end(), value);
  if (after == table.starts.begin()) return {};
  size_t at = static_cast<size_t>(after - table.starts.begin()) - 1;
  if (table.ends[at] < value) return {};
  return std::string(table.codes[at].text, table.codes[at].length);
}

}  // namespace

bool CountryRanges::ReadTable4(DbSession& session, const std::atomic<bool>* stop) {
  std::vector<RangeRow<uint32_t>> rows;
  v4_ = {};
  read4_ = true;
  failed4_ = !ReadIpv4(session, rows, stop);
  Flatten(rows, v4_);
  return !failed4_;
}

bool CountryRanges::ReadTable6(DbSession& session, const std::atomic<bool>* stop) {
  std::vector<RangeRow<Ipv6Number>> rows;
  v6_ = {};
  read6_ = true;
  failed6_ = !ReadIpv6(session, rows, stop);  // older databases have no IPv6 ranges
  Flatten(rows, v6_);
  return !failed6_;
}

bool CountryRanges::Load(DbSession& session, bool withIpv6) {
  AwaitAhead();
  v6_ = {};
  read6_ = failed6_ = false;
  const bool ok = ReadTable4(session);
  if (withIpv6) ReadTable6(session);
  return ok;
}

void CountryRanges::LoadIpv6(DbSession& session) { ReadTable6(session); }

CountryRanges::~CountryRanges() {
  if (stopAhead_) stopAhead_->store(true, std::memory_order_relaxed);
}

void CountryRanges::ReadAhead(std::shared_ptr<const std::atomic<bool>> ipv6) {
  stopAhead_ = std::make_shared<std::atomic<bool>>(false);
  ahead_ = std::async(std::launch::async, [stop = stopAhead_, ipv6 = std::move(ipv6)] {
    auto ranges = std::make_unique<CountryRanges>();
    DbSession own;
    if (Failed(OpenSourceSession(own))) return std::unique_ptr<CountryRanges>();
    if (!own.IsServer()) {
      // One pass over the table: nothing mapped, a small page cache.
      Statement pragma;
      pragma.Execute(own, "PRAGMA mmap_size=0;");
      pragma.Execute(own, "PRAGMA cache_size=-2048;");
    }
    if (!ranges->ReadTable4(own, stop.get())) return std::unique_ptr<CountryRanges>();
    if (ipv6 && ipv6->load(std::memory_order_relaxed)) ranges->ReadTable6(own, stop.get());
    ranges->path_ = own.FilePath();
    return ranges;
  });
}

void CountryRanges::AwaitAhead() {
  if (!ahead_.valid()) return;
  std::unique_ptr<CountryRanges> read = ahead_.get();
  const std::optional<std::string> wanted = std::move(aheadPath_);
  aheadPath_.reset();
  if (read) {
    const std::string path = read->path_;
    TakeTables(std::move(*read), path);
  }
  if (wanted) UseSession(session_, *wanted);
}

void CountryRanges::UseSession(DbSession* session, const std::string& path) {
  if (ahead_.valid()) {
    // Applied once the read ahead is taken, to its tables.
    session_ = session;
    aheadPath_ = path;
    return;
  }
  session_ = session;
  const bool other = path != path_;
  path_ = path;
  if (other || failed4_) {
    v4_ = {};
    read4_ = failed4_ = false;
  }
  if (other || failed6_) {
    v6_ = {};
    read6_ = failed6_ = false;
    ipv6Queried_ = 0;
  }
}

void CountryRanges::TakeTables(CountryRanges&& other, const std::string& path) {
  DbSession* session = session_;
  *this = std::move(other);
  session_ = session;
  path_ = path;
}

std::string CountryRanges::Lookup(std::string_view address) {
  AwaitAhead();
  uint32_t mapped = 0;
  bool isMapped = false;
  if (std::optional<Ipv6Number> v6 = Ipv6ForLookup(address, mapped, isMapped)) {
    if (!read6_ && session_ && ipv6Queried_ < kIpv6QueriesBeforeRead && !session_->IsServer()) {
      ++ipv6Queried_;
      std::optional<std::string> code;
      if (QueryCountry(*session_, address, code)) return code.value_or(std::string());
    }
    if (!read6_ && session_) ReadTable6(*session_);
    read6_ = true;
    return Find(v6_, *v6);
  }
  return LookupIpv4(isMapped ? mapped : AddressNumber(address));
}

std::string CountryRanges::LookupIpv4(uint32_t address) {
  ReadIpv4Ranges();
  return Find(v4_, address);
}

void CountryRanges::ReadIpv4Ranges() {
  AwaitAhead();
  if (!read4_ && session_) ReadTable4(*session_);
  read4_ = true;
}

}  // namespace weavil

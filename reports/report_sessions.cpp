#include "reports/report_sessions.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <numeric>
#include <thread>

#include "base/text.h"
#include "store/jet_functions.h"

namespace weavil {

namespace {

constexpr size_t kArenaBlock = 1 << 20;

}  // namespace

std::string_view TextArena::Keep(std::string_view text) {
  if (text.empty()) return {};
  if (capacity_ - used_ < text.size()) {
    size_t size = std::max(kArenaBlock, text.size());
    blocks_.push_back(std::unique_ptr<char[]>(new char[size]));  // not cleared: written before read
    used_ = 0;
    capacity_ = size;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
  return {at, text.size()};
}

void TextIndex::Reserve(size_t count) {
  size_t capacity = 16;
  while (capacity * 7 < count * 10) capacity *= 2;  // at most 70% full
  if (capacity <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot());
  for (const Slot& slot : old) {
    if (slot.row != kNoEntry) slots_[Probe(std::string_view(slot.text, slot.size))] = slot;
  }
}

void TextIndex::Grow() { Reserve(std::max<size_t>(count_ + 1, slots_.size())); }

size_t TextIndex::Probe(std::string_view id) const {
  size_t mask = slots_.size() - 1;
  for (size_t at = std::hash<std::string_view>()(id) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.row == kNoEntry) return at;
    if (slot.size == id.size() && std::memcmp(slot.text, id.data(), id.size()) == 0) return at;
  }
}

std::string_view TextIndex::Add(std::string_view id, uint32_t row) {
  if (10 * (count_ + 1) > 7 * slots_.size()) Grow();
  Slot& slot = slots_[Probe(id)];
  if (slot.row != kNoEntry) return std::string_view(slot.text, slot.size);
  std::string_view kept = ids_.Keep(id);
  slot = {kept.data(), static_cast<uint32_t>(kept.size()), row};
  ++count_;
  return kept;
}

uint32_t TextIndex::Find(std::string_view id) const {
  if (slots_.empty()) return kNoEntry;
  return slots_[Probe(id)].row;
}

void AppendPaddedKey(std::string& key, std::string_view text, size_t width) {
  size_t keep = std::min(width, text.size());
  for (size_t i = 0; i < keep; ++i) key.push_back(ToLowerAscii(text[i]));
  key.append(width - keep, ' ');
}

namespace {

// Compares folded texts as their keys AppendPaddedKey(text, width) compare.
int ComparePadded(std::string_view a, std::string_view b, size_t width) {
  size_t la = std::min(a.size(), width), lb = std::min(b.size(), width), common = std::min(la, lb);
  if (int order = common ? std::memcmp(a.data(), b.data(), common) : 0) return order;
  // Past the shorter one, its key is blanks.
  std::string_view longer = la > lb ? a : b;
  int sign = la > lb ? 1 : -1;
  for (size_t i = common; i < std::max(la, lb); ++i) {
    if (longer[i] != ' ') return static_cast<unsigned char>(longer[i]) > ' ' ? sign : -sign;
  }
  return 0;
}

}  // namespace

std::vector<uint32_t> RankPaddedKeys(const std::vector<std::string_view>& texts, size_t width) {
  // The texts folded once, side by side in one buffer.
  std::string folded;
  std::vector<size_t> starts(texts.size() + 1);
  for (size_t i = 0; i < texts.size(); ++i) {
    starts[i] = folded.size();
    for (char c : texts[i].substr(0, width)) folded.push_back(ToLowerAscii(c));
  }
  starts[texts.size()] = folded.size();
  auto text = [&](uint32_t i) { return std::string_view(folded).substr(starts[i], starts[i + 1] - starts[i]); };
  std::vector<uint32_t> order(texts.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return ComparePadded(text(a), text(b), width) < 0; });
  std::vector<uint32_t> rank(texts.size());
  uint32_t current = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && ComparePadded(text(order[i]), text(order[i - 1]), width) != 0) ++current;
    rank[order[i]] = current;
  }
  return rank;
}

std::vector<uint32_t> RankKeys(const std::vector<std::string>& keys) {
  std::vector<uint32_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
  std::vector<uint32_t> rank(keys.size());
  uint32_t current = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && keys[order[i]] != keys[order[i - 1]]) ++current;
    rank[order[i]] = current;
  }
  return rank;
}

std::vector<uint32_t> StartRanks(const ReportSessions& sessions, bool byAddress) {
  const std::vector<ReportSession>& rows = sessions.rows;
  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const ReportSession &x = rows[a], &y = rows[b];
    if (x.start != y.start) return x.start < y.start;
    if (byAddress && x.visitor != y.visitor) {
      std::string_view a = sessions.visitors[x.visitor].address, b = sessions.visitors[y.visitor].address;
      if (a != b) return a < b;
    }
    return x.numId < y.numId;
  });
  std::vector<uint32_t> rank(rows.size());
  for (size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<uint32_t>(i);
  return rank;
}

std::string_view ReportSession::Minute(char (&buffer)[17]) const {
  int64_t minutes = start / 100;
  // yyyy-mm-dd hh:mm from the right: mm, hh, dd, mm, yyyy
  char* at = buffer + 16;
  auto put = [&](int64_t value, int width, char before) {
    for (int i = 0; i < width; ++i, value /= 10) *--at = static_cast<char>('0' + value % 10);
    if (before) *--at = before;
  };
  put(minutes % 100, 2, ':');
  put(minutes / 100 % 100, 2, ' ');
  put(minutes / 10000 % 100, 2, '-');
  put(minutes / 1000000 % 100, 2, '-');
  put(minutes / 100000000, 4, 0);
  return std::string_view(buffer, 16);
}

void ReserveSessionRows(ReportTree& tree, size_t sessionRows) {
  tree.Reserve(3 * sessionRows + 64, 64 * sessionRows + 4096);
}

namespace {

int64_t PragmaValue(DbSession& db, const char* name) {
  Statement read;
  int64_t value = 0;
  if (Succeeded(read.Execute(db, std::string("PRAGMA ") + name + ";")) && read.MoveNext() == kResultOk)
    read.GetInt64(1, value);
  return value;
}

void SetPragma(DbSession& db, const char* name, int64_t value) {
  Statement set;
  set.Execute(db, std::string("PRAGMA ") + name + "=" + std::to_string(value) + ";");
}

}  // namespace

ScanConnection::ScanConnection(DbSession& db)
    : db_(db), mmapSize_(PragmaValue(db, "mmap_size")), cacheSize_(PragmaValue(db, "cache_size")) {
  SetPragma(db_, "mmap_size", 0);
  SetPragma(db_, "cache_size", kScanCacheKiB);
}

ScanConnection::~ScanConnection() {
  SetPragma(db_, "mmap_size", mmapSize_);
  SetPragma(db_, "cache_size", cacheSize_);
}

SideWork::SideWork(DbSession& db, std::function<bool(DbSession&)> work) : db_(db), work_(std::move(work)) {
  std::string file = db.FilePath();
  if (!file.empty() && !db.InTransaction() && Succeeded(side_.OpenFile(file))) {
    thread_ = std::thread([this] {
      ScanConnection scanning(side_);
      answer_ = Run(side_);
    });
  }
}

SideWork::~SideWork() { Join(); }

bool SideWork::Run(DbSession& connection) {
  try {
    return work_(connection);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SideWork::Join() {
  if (joined_) return answer_;
  joined_ = true;
  if (thread_.joinable()) thread_.join();
  else answer_ = Run(db_);
  return answer_;
}

size_t RowCountHint(DbSession& db, const char* sql) {
  Statement top;
  int64_t most = 0;
  if (Succeeded(top.Execute(db, sql)) && top.MoveNext() == kResultOk) top.GetInt64(1, most);
  return static_cast<size_t>(std::clamp<int64_t>(most, 0, 1 << 26));
}

bool StatementPrepares(DbSession& db, const std::string& sql) {
  Statement statement;
  return Succeeded(statement.Prepare(db, sql));
}

namespace {

int64_t StartDigits(std::string_view start) {
  int64_t digits = 0;
  for (char c : start)
    if (c >= '0' && c <= '9') digits = digits * 10 + (c - '0');
  return digits;
}

// Every address of DNSLookUp with what the views show of it.
bool LoadVisitors(DbSession& db, ReportSessions& out) {
  size_t hint = RowCountHint(db, "SELECT max(rowid) FROM DNSLookUp;");
  out.visitors.reserve(hint);
  out.addresses.Reserve(hint);
  return ForEachRow(db, "SELECT UserIP, rURL, FullName, IsRobot FROM DNSLookUp;", [&](const Statement& row) {
    std::string_view address, rUrl, fullName;
    if (!row.GetTextView(1, address)) return true;  // joins no session
    ReportVisitor visitor;
    visitor.nullRUrl = !row.GetTextView(2, rUrl);
    visitor.nullFullName = !row.GetTextView(3, fullName);
    row.GetInt(4, visitor.robot);
    visitor.rUrl = out.texts.Keep(rUrl);
    visitor.fullName = out.texts.Keep(fullName);
    visitor.address = out.addresses.Add(address, static_cast<uint32_t>(out.visitors.size()));
    out.visitors.push_back(visitor);
    return true;
  });
}

}  // namespace

bool FilterPass::Load(DbSession& db, const ReportFilter& filter, std::time_t now) {
  FilterQueries queries = BuildFilterQueries(filter, now);
  byNumId_ = !queries.sessionQuery.empty();
  byAddress_ = !queries.addressQuery.empty();
  if (byNumId_ && !ForEachRow(db, queries.sessionQuery, [&](const Statement& row) {
        int64_t numId = 0;
        if (!row.GetInt64(1, numId) || numId < 0 || numId >= (int64_t{1} << 31)) return true;  // no session row
        if (static_cast<uint64_t>(numId) >= numIds_.size()) numIds_.resize(static_cast<size_t>(numId) + 1);
        numIds_[static_cast<size_t>(numId)] = true;
        return true;
      }))
    return false;
  auto readTexts = [&](const std::string& sql, TextIndex& into) {
    return ForEachRow(db, sql, [&](const Statement& row) {
      std::string_view text;
      if (row.GetTextView(1, text)) into.Add(text, 0);
      return true;
    });
  };
  if (byAddress_ && !readTexts(queries.addressQuery, addresses_)) return false;
  ids_.resize(queries.idQueries.size());
  for (size_t i = 0; i < queries.idQueries.size(); ++i)
    if (!readTexts(queries.idQueries[i], ids_[i])) return false;
  return true;
}

bool FilterPass::Passes(int64_t numId, std::string_view sessionId, std::string_view address) const {
  if (byNumId_ && (numId < 0 || static_cast<uint64_t>(numId) >= numIds_.size() || !numIds_[static_cast<size_t>(numId)]))
    return false;
  if (byAddress_ && addresses_.Find(address) == kNoEntry) return false;
  for (const TextIndex& ids : ids_)
    if (ids.Find(sessionId) == kNoEntry) return false;
  return true;
}

namespace {

// A session row as read, before its address is joined.
struct StagedSession {
  ReportSession session;
  std::string_view address, id;
};

bool ReadSessionRows(DbSession& db, TextArena& texts, std::vector<StagedSession>& out) {
  out.reserve(RowCountHint(db, "SELECT max(NumId) FROM [Session];"));
  return ForEachRow(db, "SELECT NumId, SessionId, TimeEnter, UserIP, NumVisited FROM [Session] ORDER BY NumId;",
                    [&](const Statement& row) {
                      StagedSession staged;
                      std::string_view start;
                      if (!row.GetInt(1, staged.session.numId) || !row.GetTextView(4, staged.address)) return true;
                      if (!row.GetTextView(2, staged.id) || !row.GetTextView(3, start) || !IsStoredDateText(start))
                        return false;
                      row.GetInt(5, staged.session.visited);
                      staged.session.start = StartDigits(start);
                      staged.address = texts.Keep(staged.address);
                      staged.id = texts.Keep(staged.id);
                      out.push_back(staged);
                      return true;
                    });
}

}  // namespace

bool LoadReportSessions(DbSession& db, const ReportFilter& filter, std::time_t now, ReportSessions& out,
                        SessionIds ids) {
  // The addresses and the filter's conditions come through a second connection on the
  // same database while this one reads the sessions, so both cores share the reads.
  FilterPass pass;
  SideWork side(db, [&](DbSession& connection) {
    return pass.Load(connection, filter, now) && LoadVisitors(connection, out);
  });
  std::vector<StagedSession> staged;
  bool read = false;
  try {
    read = ReadSessionRows(db, out.sessionTexts, staged);
  } catch (const std::bad_alloc&) {
    read = false;
  }
  if (!side.Join() || !read) return false;

  out.rows.reserve(staged.size());
  if (ids == SessionIds::kIndexed) out.ids.Reserve(staged.size());
  for (StagedSession& row : staged) {
    uint32_t visitor = out.addresses.Find(row.address);
    if (visitor == kNoEntry || !pass.Passes(row.session.numId, row.id, row.address)) continue;
    row.session.visitor = visitor;
    if (ids == SessionIds::kIndexed) out.ids.Add(row.id, static_cast<uint32_t>(out.rows.size()));
    if (ids == SessionIds::kListed) out.idList.push_back(row.id);
    out.rows.push_back(row.session);
  }
  return true;
}

}  // namespace weavil

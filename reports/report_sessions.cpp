#include "reports/report_sessions.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

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
    blocks_.push_back(std::make_unique<char[]>(size));
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
  while (capacity < 2 * count) capacity *= 2;
  if (capacity <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot());
  for (const Slot& slot : old) {
    if (slot.row == kNoEntry) continue;
    slots_[Probe(std::string_view(slot.text, slot.size), slot.hash)] = slot;
  }
}

void TextIndex::Grow() { Reserve(std::max<size_t>(count_ + 1, slots_.size())); }

size_t TextIndex::Probe(std::string_view id, uint64_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.row == kNoEntry) return at;
    if (slot.hash == hash && std::string_view(slot.text, slot.size) == id) return at;
  }
}

std::string_view TextIndex::Add(std::string_view id, uint32_t row) {
  if (2 * (count_ + 1) > slots_.size()) Grow();
  uint64_t hash = std::hash<std::string_view>()(id);
  Slot& slot = slots_[Probe(id, hash)];
  if (slot.row != kNoEntry) return std::string_view(slot.text, slot.size);
  std::string_view kept = ids_.Keep(id);
  slot = {hash, kept.data(), static_cast<uint32_t>(kept.size()), row};
  ++count_;
  return kept;
}

uint32_t TextIndex::Find(std::string_view id) const {
  if (slots_.empty()) return kNoEntry;
  return slots_[Probe(id, std::hash<std::string_view>()(id))].row;
}

void AppendPaddedKey(std::string& key, std::string_view text, size_t width) {
  size_t keep = std::min(width, text.size());
  for (size_t i = 0; i < keep; ++i) key.push_back(ToLowerAscii(text[i]));
  key.append(width - keep, ' ');
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
    if (byAddress && x.address != y.address) return x.address < y.address;
    return x.numId < y.numId;
  });
  std::vector<uint32_t> rank(rows.size());
  for (size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<uint32_t>(i);
  return rank;
}

namespace {

// The largest NumId: room to reserve for every session at once.
size_t SessionCountHint(DbSession& db) {
  Statement top;
  int64_t most = 0;
  if (Succeeded(top.Execute(db, "SELECT max(NumId) FROM [Session];")) && top.MoveNext() == kResultOk)
    top.GetInt64(1, most);
  return static_cast<size_t>(std::clamp<int64_t>(most, 0, 1 << 24));
}

// The NumIds of the sessions the filter's conditions pass, as flags by NumId.
bool PassedSessions(DbSession& db, const std::string& conditions, std::vector<bool>& passed) {
  std::string sql = "SELECT a.NumId FROM [Session] a, DNSLookUp b WHERE a.UserIP=b.UserIP " + conditions + ";";
  return ForEachRow(db, sql, [&](const Statement& row) {
    int64_t numId = 0;
    if (!row.GetInt64(1, numId) || numId < 0) return false;
    if (static_cast<uint64_t>(numId) >= passed.size()) passed.resize(static_cast<size_t>(numId) + 1);
    passed[static_cast<size_t>(numId)] = true;
    return true;
  });
}

}  // namespace

bool LoadReportSessions(DbSession& db, const ReportFilter& filter, std::time_t now, ReportSessions& out) {
  std::string conditions = BuildSessionConditions(filter, now);
  std::vector<bool> passed;
  if (!conditions.empty() && !PassedSessions(db, conditions, passed)) return false;
  // The addresses: each one's rURL, null ones apart.
  TextIndex addresses;
  std::vector<std::string_view> rUrls;
  std::vector<bool> nullRUrls;
  bool read = ForEachRow(db, "SELECT UserIP, rURL FROM DNSLookUp;", [&](const Statement& row) {
    std::string_view address, rUrl;
    if (!row.GetTextView(1, address)) return true;  // joins no session
    bool null = !row.GetTextView(2, rUrl);
    addresses.Add(address, static_cast<uint32_t>(rUrls.size()));
    rUrls.push_back(out.texts.Keep(rUrl));
    nullRUrls.push_back(null);
    return true;
  });
  if (!read) return false;
  size_t hint = SessionCountHint(db);
  out.rows.reserve(hint);
  out.ids.Reserve(hint);
  return ForEachRow(db, "SELECT NumId, SessionId, TimeEnter, UserIP FROM [Session] ORDER BY NumId;",
                    [&](const Statement& row) {
                      ReportSession session;
                      std::string_view id, start, address;
                      if (!row.GetInt(1, session.numId) || !row.GetTextView(4, address)) return true;
                      if (!conditions.empty() &&
                          (session.numId < 0 || static_cast<size_t>(session.numId) >= passed.size() ||
                           !passed[static_cast<size_t>(session.numId)]))
                        return true;
                      uint32_t at = addresses.Find(address);
                      if (at == kNoEntry) return true;
                      if (!row.GetTextView(2, id) || !row.GetTextView(3, start) || !IsStoredDateText(start))
                        return false;
                      session.start = out.texts.Keep(start);
                      session.address = addresses.Add(address, at);
                      session.rUrl = rUrls[at];
                      session.nullRUrl = nullRUrls[at];
                      out.ids.Add(id, static_cast<uint32_t>(out.rows.size()));
                      out.rows.push_back(session);
                      return true;
                    });
}

}  // namespace weavil

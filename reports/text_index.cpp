#include "reports/text_index.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "base/text.h"

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

namespace {

uint32_t KeptSize(const char* text) {
  uint32_t size;
  std::memcpy(&size, text - sizeof size, sizeof size);
  return size;
}

}  // namespace

const char* TextArena::KeepSized(std::string_view text) {
  const auto size = static_cast<uint32_t>(text.size());
  const size_t need = sizeof size + text.size();
  if (capacity_ - used_ < need) {
    size_t block = std::max(kArenaBlock, need);
    blocks_.push_back(std::unique_ptr<char[]>(new char[block]));
    used_ = 0;
    capacity_ = block;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, &size, sizeof size);
  if (!text.empty()) std::memcpy(at + sizeof size, text.data(), text.size());
  used_ += need;
  return at + sizeof size;
}

void TextIndex::Reserve(size_t count) {
  size_t capacity = 16;
  while (capacity * 7 < count * 10) capacity *= 2;  // at most 70% full
  if (capacity <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot());
  const size_t mask = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.row == kNoEntry) continue;
    size_t at = slot.hash & mask;
    while (slots_[at].row != kNoEntry) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void TextIndex::Grow() { Reserve(std::max<size_t>(count_ + 1, slots_.size())); }

size_t TextIndex::Probe(std::string_view id, uint32_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.row == kNoEntry) return at;
    if (slot.hash == hash && KeptSize(slot.text) == id.size() &&
        (id.empty() || std::memcmp(slot.text, id.data(), id.size()) == 0))
      return at;
  }
}

std::string_view TextIndex::Add(std::string_view id, uint32_t row) {
  std::string_view kept;
  FindOrAdd(id, row, &kept);
  return kept;
}

uint32_t TextIndex::FindOrAdd(std::string_view id, uint32_t row, std::string_view* kept) {
  if (10 * (count_ + 1) > 7 * slots_.size()) Grow();
  const uint32_t hash = HashShortText(id);
  Slot& slot = slots_[Probe(id, hash)];
  if (slot.row == kNoEntry) {
    slot = {ids_.KeepSized(id), hash, row};
    ++count_;
  }
  if (kept) *kept = std::string_view(slot.text, id.size());
  return slot.row;
}

uint32_t TextIndex::Find(std::string_view id) const {
  if (slots_.empty()) return kNoEntry;
  return slots_[Probe(id, HashShortText(id))].row;
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
  // Each key's first 16 bytes as two integers that compare as the bytes do; only texts
  // that share them are compared as texts.
  auto eight = [&](std::string_view t, size_t from) {
    uint64_t value = 0;
    for (size_t at = from; at < from + 8; ++at) {
      unsigned char c = at < t.size() ? static_cast<unsigned char>(t[at]) : at < width ? ' ' : 0;
      value = value << 8 | c;
    }
    return value;
  };
  struct Keyed {
    uint64_t high, low;
    uint32_t text;
  };
  std::vector<Keyed> keyed(texts.size());
  for (uint32_t i = 0; i < texts.size(); ++i) keyed[i] = {eight(text(i), 0), eight(text(i), 8), i};
  auto compare = [&](const Keyed& a, const Keyed& b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    return ComparePadded(text(a.text), text(b.text), width);
  };
  std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) { return compare(a, b) < 0; });
  std::vector<uint32_t> rank(texts.size());
  uint32_t current = 0;
  for (size_t i = 0; i < keyed.size(); ++i) {
    if (i > 0 && compare(keyed[i], keyed[i - 1]) != 0) ++current;
    rank[keyed[i].text] = current;
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

uint32_t FoldedGroups::Of(std::string_view text) {
  const auto exact = static_cast<uint32_t>(texts_.size());
  std::string_view kept;
  if (uint32_t found = exact_.FindOrAdd(text, exact, &kept); found != exact) return found;
  std::string folded = ToLowerAscii(text);
  auto [group, added] = groupOf_.try_emplace(folded, static_cast<uint32_t>(folded_.size()));
  if (added) folded_.push_back(std::move(folded));
  texts_.push_back(kept);
  groups_.push_back(group->second);
  return exact;
}

std::vector<uint32_t> FoldedGroups::InOrder() const {
  std::vector<uint32_t> order(folded_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return folded_[a] < folded_[b]; });
  return order;
}

}  // namespace weavil

#pragma once
// Texts kept and looked up by the in-memory reports: identifiers and addresses joined
// by text, and the padded, case-folded sort keys of the views' ORDER BY.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace weavil {

// Texts kept in blocks that never move, so views into them stay valid.
class TextArena {
 public:
  std::string_view Keep(std::string_view text);
  // A copy of text after its size as 4 bytes (not aligned); returns where the text starts.
  const char* KeepSized(std::string_view text);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = 0, capacity_ = 0;
};

inline constexpr uint32_t kNoEntry = UINT32_MAX;

// Texts (session identifiers, addresses) to the caller's row numbers: an
// open-addressing table, as the rows of the larger tables look up hundreds of
// thousands of identifiers.
class TextIndex {
 public:
  void Reserve(size_t count);
  // Keeps a copy of id; the first row given for a text stays.
  std::string_view Add(std::string_view id, uint32_t row);
  uint32_t Find(std::string_view id) const;
  // The row of id, given row first when id is new (added as Add does); *kept, when
  // asked, is the index's copy.
  uint32_t FindOrAdd(std::string_view id, uint32_t row, std::string_view* kept = nullptr);
  // The row of text numbered in the order texts are first met: a new text gets row
  // byRow.size() and its kept copy is appended to byRow.
  uint32_t Number(std::string_view text, std::vector<std::string_view>& byRow) {
    const auto next = static_cast<uint32_t>(byRow.size());
    std::string_view kept;
    const uint32_t row = FindOrAdd(text, next, &kept);
    if (row == next) byRow.push_back(kept);
    return row;
  }
  size_t Size() const { return count_; }

 private:
  // The text is kept after its size (4 bytes, unaligned); the slot holds the text's
  // hash, so a probe that meets another text rarely reads it.
  struct Slot {
    const char* text = nullptr;
    uint32_t hash = 0;
    uint32_t row = kNoEntry;
  };
  size_t Probe(std::string_view id, uint32_t hash) const;
  void Grow();

  TextArena ids_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// Find with a memo of the last text asked for: the rows of one session stand together
// in the tables that hang off the sessions, so most lookups repeat the one before.
class TextLookup {
 public:
  explicit TextLookup(const TextIndex& index) : index_(index) {}
  uint32_t Find(std::string_view text) {
    if (asked_ && text == last_) return row_;
    last_.assign(text);
    asked_ = true;
    return row_ = index_.Find(text);
  }

 private:
  const TextIndex& index_;
  std::string last_;
  bool asked_ = false;
  uint32_t row_ = kNoEntry;
};

// TextIndex::Number for the rows of a table that hangs off the sessions: the rows of
// one session stand together, so a text equal to the row before's is answered without
// a lookup.
class RunNumbering {
 public:
  RunNumbering(TextIndex& index, std::vector<std::string_view>& byRow) : index_(index), byRow_(byRow) {}
  uint32_t Number(std::string_view text) {
    if (numbered_ && text == last_) return row_;
    row_ = index_.Number(text, byRow_);
    last_.assign(text);
    numbered_ = true;
    return row_;
  }

 private:
  TextIndex& index_;
  std::vector<std::string_view>& byRow_;
  std::string last_;
  bool numbered_ = false;
  uint32_t row_ = 0;
};

// Find in an index whose row r holds byRow[r], trying first the row after the one found
// before: two tables written in the same order name their sessions in the same order,
// so most lookups then read the next text instead of a random slot.
class OrderedLookup {
 public:
  OrderedLookup(const TextIndex& index, const std::vector<std::string_view>& byRow) : index_(index), byRow_(byRow) {}
  uint32_t Find(std::string_view text) {
    uint32_t row = next_ < byRow_.size() && byRow_[next_] == text ? next_ : index_.Find(text);
    if (row != kNoEntry) next_ = row + 1;
    return row;
  }

 private:
  const TextIndex& index_;
  const std::vector<std::string_view>& byRow_;
  uint32_t next_ = 0;
};

// Appends left(text, width) filled with blanks up to width, capitals folded to small
// letters: a piece of the views' sort keys "left(x,n) || Space(n-Len(left(x,n)))"
// compared COLLATE NOCASE. Left and Len count bytes, as the database's functions do.
void AppendPaddedKey(std::string& key, std::string_view text, size_t width);

// The rank of each text's key AppendPaddedKey(text, width) among the distinct keys,
// without making the keys.
std::vector<uint32_t> RankPaddedKeys(const std::vector<std::string_view>& texts, size_t width);

// The rank of each key among the distinct keys (0 for the smallest), by byte order.
std::vector<uint32_t> RankKeys(const std::vector<std::string>& keys);

// Texts equal without regard to case in one group: each exact text read once (its
// number, in the order first met), its group found by its folded form.
class FoldedGroups {
 public:
  uint32_t Of(std::string_view text);
  std::string_view Text(uint32_t exact) const { return texts_[exact]; }
  uint32_t Group(uint32_t exact) const { return groups_[exact]; }
  const std::string& Folded(uint32_t group) const { return folded_[group]; }
  size_t GroupCount() const { return folded_.size(); }
  // The groups by their folded text.
  std::vector<uint32_t> InOrder() const;

 private:
  TextIndex exact_;  // each exact text's number
  std::vector<std::string_view> texts_;
  std::vector<uint32_t> groups_;
  std::unordered_map<std::string, uint32_t> groupOf_;
  std::vector<std::string> folded_;
};

}  // namespace weavil

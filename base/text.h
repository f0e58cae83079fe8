#pragma once
// Small text helpers shared by every Weavil library: ASCII case folding, comparison
// without regard to case, trimming, a hash for the tables of interned texts, tests on
// eight bytes at once. Log fields, header names and SQL keywords are
// ASCII, so the folding is ASCII only and never depends on the locale.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace weavil {

constexpr char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = ToLowerAscii(c);
  return lower;
}

inline std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = ToUpperAscii(c);
  return upper;
}

// <0, 0 or >0 as a is before, equal to or after b, comparing folded bytes as unsigned.
inline int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(ToLowerAscii(a[i]));
    const auto y = static_cast<unsigned char>(ToLowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// True when `word` stands in `text` at `pos`.
inline bool MatchesNoCase(std::string_view text, size_t pos, std::string_view word) {
  return pos <= text.size() && text.size() - pos >= word.size() && EqualsNoCase(text.substr(pos, word.size()), word);
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) { return MatchesNoCase(text, 0, prefix); }

inline bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && MatchesNoCase(text, text.size() - suffix.size(), suffix);
}

// Position of `word` in `text` from `from` on, without regard to case; npos when absent.
inline size_t FindNoCase(std::string_view text, std::string_view word, size_t from = 0) {
  if (word.empty()) return from <= text.size() ? from : std::string_view::npos;
  for (size_t i = from; i + word.size() <= text.size(); ++i)
    if (MatchesNoCase(text, i, word)) return i;
  return std::string_view::npos;
}

constexpr bool IsBlankAscii(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The text without leading and trailing blanks (space, tab, line ends, vertical tab, form feed).
inline std::string_view TrimView(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlankAscii(text[begin])) ++begin;
  while (end > begin && IsBlankAscii(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

inline std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

// A fast hash of short texts (addresses, identifiers, paths, agents): eight bytes at a
// time, mixed by multiplication, folded to 32 bits. Not for texts an attacker may
// choose to collide in a table that must stay fast; the tables using it hold one log's
// or one database's texts.
inline uint32_t HashShortText(std::string_view text) {
  constexpr uint64_t kMul = 0x9e3779b97f4a7c15ULL;
  uint64_t h = 0x243f6a8885a308d3ULL ^ (text.size() * kMul);
  const char* p = text.data();
  size_t left = text.size();
  for (; left >= 8; p += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kMul;
    h ^= h >> 29;
  }
  if (left) {
    uint64_t word = 0;
    std::memcpy(&word, p, left);
    h = (h ^ word) * kMul;
    h ^= h >> 29;
  }
  h *= 0xbf58476d1ce4e5b9ULL;
  h ^= h >> 32;
  return static_cast<uint32_t>(h);
}

// Tests on eight bytes at once, for scans that pass over plain text a word at a time.
// "None" is exact; a byte found may stand beside the one named (a borrow), so a scan
// looks at a word that tests true byte by byte.
namespace word_bytes {
constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
// A byte below limit (limit at most 128).
constexpr bool AnyBelow(uint64_t word, unsigned limit) { return ((word - kOnes * limit) & ~word & kHighs) != 0; }
constexpr bool AnyEqual(uint64_t word, unsigned char value) { return AnyBelow(word ^ (kOnes * value), 1); }
// A byte of 0x80 or above.
constexpr bool AnyHigh(uint64_t word) { return (word & kHighs) != 0; }
inline uint64_t Load(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}
}  // namespace word_bytes

}  // namespace weavil

#pragma once
// Perl-syntax regular expressions on single-byte text, over PCRE2 (8-bit, no UTF, JIT
// when available). Case-sensitive, leftmost match anywhere in the text unless the
// pattern anchors. "\b" and "\w" know only ASCII letters, digits and "_"; bytes 0x80 to
// 0xFF may appear in character classes as ranges.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

class RegexMatch {
 public:
  bool Matched() const { return !spans_.empty(); }
  // Number of groups including group 0.
  size_t GroupCount() const { return spans_.size(); }
  // A group that took no part in the match (or does not exist) gives the empty text.
  std::string_view Group(size_t index) const;
  bool GroupTookPart(size_t index) const;
  size_t Start(size_t index = 0) const;
  size_t End(size_t index = 0) const;

 private:
  friend class Regex;
  static constexpr size_t kUnset = static_cast<size_t>(-1);
  std::string_view subject_;
  std::vector<std::pair<size_t, size_t>> spans_;
};

class Regex {
 public:
  // Compiles once. A malformed pattern is a programming error: throws std::invalid_argument
  // with the engine's message and offset.
  explicit Regex(std::string_view pattern);
  ~Regex();
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // Leftmost match at or after startOffset; the match keeps views into subject.
  bool Search(std::string_view subject, RegexMatch& match, size_t startOffset = 0) const;
  bool Search(std::string_view subject, size_t startOffset = 0) const;

  // Every non-overlapping match replaced by the literal replacement text.
  std::string ReplaceAll(std::string_view subject, std::string_view replacement) const;

  const std::string& Pattern() const { return pattern_; }
  size_t CaptureCount() const;

 private:
  struct Impl;
  std::string pattern_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace weavil

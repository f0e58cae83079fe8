#pragma once
// A quick first sieve for long ordered rule lists: most patterns can only match a text
// that contains some plain piece of them ("Googlebot/" for "Googlebot\/(\d+)"), and one
// pass over the text finds every rule whose piece occurs. Only those rules, and the few
// without such a piece, need their pattern searched.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

// Lower-cased texts of which every match of the pattern contains at least one ("bot",
// "spider" for "[Bb]ot|[Ss]pider"), as long as can be told; empty when the pattern
// promises none (only classes and wildcards, or a branch that needs no text).
std::vector<std::string> RequiredLiterals(std::string_view pattern);

class LiteralPrefilter {
 public:
  // Rules are numbered in the order added; Finish() after the last one, before any
  // Candidates().
  // always: the rule is a candidate for every text.
  void Add(std::string_view pattern, bool always = false);
  void Finish();
  size_t Count() const { return rules_; }

  // Marks, for the text, every rule that may match it: marks[i] is 0 only when rule i
  // cannot match. marks is resized to Count(). Safe to call from several threads.
  void Candidates(std::string_view text, std::vector<uint8_t>& marks) const;

 private:
  static constexpr size_t kKeyLength = 3;
  static constexpr int kBucketBits = 12;
  static uint32_t Bucket(const char* text);

  struct Entry {
    uint32_t rule;
    std::string text;
  };
  size_t rules_ = 0;
  std::vector<uint32_t> alwaysCandidates_;  // rules without a required text
  // The texts, grouped by a hash of their first bytes: bucket b is entries_ from
  // bucketStart_[b] up to bucketStart_[b + 1].
  std::vector<Entry> entries_;
  std::vector<uint32_t> bucketStart_;
};

}  // namespace weavil

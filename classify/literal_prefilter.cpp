#include "classify/literal_prefilter.h"

#include <algorithm>

namespace weavil {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Index just past the group or class that opens at `at`; escapes and classes inside are
// skipped. size() when it never closes.
size_t SkipClass(std::string_view p, size_t at) {
  size_t i = at + 1;
  if (i < p.size() && p[i] == '^') ++i;
  if (i < p.size() && p[i] == ']') ++i;  // a leading "]" is a member
  for (; i < p.size(); ++i) {
    if (p[i] == '\\') ++i;
    else if (p[i] == ']') return i + 1;
  }
  return p.size();
}

size_t SkipGroup(std::string_view p, size_t at) {
  int depth = 0;
  for (size_t i = at; i < p.size(); ++i) {
    if (p[i] == '\\') ++i;
    else if (p[i] == '[') i = SkipClass(p, i) - 1;
    else if (p[i] == '(') ++depth;
    else if (p[i] == ')' && --depth == 0) return i + 1;
  }
  return p.size();
}

// The quantifier at `at`, if any: its length, and whether it allows zero repeats.
size_t Quantifier(std::string_view p, size_t at, bool& optional) {
  optional = false;
  if (at >= p.size()) return 0;
  size_t length = 0;
  if (p[at] == '?' || p[at] == '*') {
    optional = true;
    length = 1;
  } else if (p[at] == '+') {
    length = 1;
  } else if (p[at] == '{') {
    size_t close = p.find('}', at);
    if (close == std::string_view::npos) return 0;
    std::string_view body = p.substr(at + 1, close - at - 1);
    if (body.empty() || !(body[0] >= '0' && body[0] <= '9')) return 0;  // a plain "{"
    optional = body[0] == '0' && (body.size() == 1 || body[1] == ',');
    length = close - at + 1;
  } else {
    return 0;
  }
  if (at + length < p.size() && (p[at + length] == '?' || p[at + length] == '+')) ++length;  // lazy, possessive
  return length;
}

// Top-level pieces of a pattern between its "|".
std::vector<std::string_view> Branches(std::string_view p) {
  std::vector<std::string_view> branches;
  size_t from = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '\\') ++i;
    else if (p[i] == '[') i = SkipClass(p, i) - 1;
    else if (p[i] == '(') i = SkipGroup(p, i) - 1;
    else if (p[i] == '|') {
      branches.push_back(p.substr(from, i - from));
      from = i + 1;
    }
  }
  branches.push_back(p.substr(from));
  return branches;
}

size_t Shortest(const std::vector<std::string>& set) {
  size_t shortest = set.empty() ? 0 : set.front().size();
  for (const std::string& text : set) shortest = std::min(shortest, text.size());
  return shortest;
}

// The better of two requirements: the longer shortest text, then the fewer texts.
void KeepBetter(std::vector<std::string>& best, std::vector<std::string>&& other) {
  if (other.empty()) return;
  size_t a = Shortest(best), b = Shortest(other);
  if (best.empty() || b > a || (b == a && other.size() < best.size())) best = std::move(other);
}

// "[Bb]" is one letter once case is ignored, as the sieve ignores it.
bool CaseClassLetter(std::string_view p, size_t at, size_t end, char& letter) {
  if (end != at + 4) return false;
  char a = p[at + 1], b = p[at + 2];
  letter = Lower(a);
  return a != b && letter == Lower(b) && letter >= 'a' && letter <= 'z';
}

std::vector<std::string> SequenceLiterals(std::string_view p) {
  std::vector<std::string> best;
  std::string run;
  auto flush = [&] {
    if (!run.empty()) KeepBetter(best, {run});
    run.clear();
  };
  for (size_t i = 0; i < p.size();) {
    char c = p[i];
    bool literal = false;
    char value = 0;
    std::vector<std::string> inner;
    size_t next = i + 1;
    if (c == '\\') {
      if (i + 1 >= p.size()) return {};
      literal = !IsAlnum(p[i + 1]);  // \d, \w, \b, \x.. stand for more than themselves
      value = p[i + 1];
      next = i + 2;
    } else if (c == '[') {
      next = SkipClass(p, i);
      literal = CaseClassLetter(p, i, next, value);
    } else if (c == '(') {
      next = SkipGroup(p, i);
      if (p[next - 1] != ')') return {};  // never closes: the engine would refuse it anyway
      std::string_view body = p.substr(i + 1, next - i - 2);
      if (body.substr(0, 2) == "?:") inner = RequiredLiterals(body.substr(2));
      else if (body.empty() || body[0] != '?') inner = RequiredLiterals(body);  // look-arounds and flags promise nothing here
    } else if (c != '.' && c != '^' && c != '$' && c != ')') {
      literal = true;
      value = c;
    }
    bool optional = false;
    size_t quantifier = Quantifier(p, next, optional);
    next += quantifier;
    if (literal && !optional) {
      run.push_back(Lower(value));
      if (quantifier > 0) flush();  // "a+" promises one "a", and nothing about what follows it
    } else {
      flush();
      if (!optional) KeepBetter(best, std::move(inner));
    }
    i = next;
  }
  flush();
  return best;
}

}  // namespace

std::vector<std::string> RequiredLiterals(std::string_view pattern) {
  std::vector<std::string> any;
  for (std::string_view branch : Branches(pattern)) {
    std::vector<std::string> texts = SequenceLiterals(branch);
    if (texts.empty()) return {};  // this branch may match without any of them
    any.insert(any.end(), texts.begin(), texts.end());
  }
  return any;
}

uint32_t LiteralPrefilter::Bucket(const char* text) {
  uint32_t key = 0;
  for (size_t i = 0; i < kKeyLength; ++i) key = key << 8 | static_cast<unsigned char>(text[i]);
  return (key * 2654435761u) >> (32 - kBucketBits);
}

void LiteralPrefilter::Add(std::string_view pattern, bool always) {
  std::vector<std::string> texts = always ? std::vector<std::string>() : RequiredLiterals(pattern);
  uint32_t rule = static_cast<uint32_t>(rules_++);
  if (texts.empty() || Shortest(texts) < kKeyLength) {
    alwaysCandidates_.push_back(rule);
    return;
  }
  for (std::string& text : texts) entries_.push_back({rule, std::move(text)});
}

void LiteralPrefilter::Finish() {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return Bucket(a.text.data()) < Bucket(b.text.data()); });
  bucketStart_.assign((size_t{1} << kBucketBits) + 1, 0);
  for (const Entry& entry : entries_) ++bucketStart_[Bucket(entry.text.data()) + 1];
  for (size_t b = 1; b < bucketStart_.size(); ++b) bucketStart_[b] += bucketStart_[b - 1];
}

void LiteralPrefilter::Candidates(std::string_view text, std::vector<uint8_t>& marks) const {
  marks.assign(rules_, 0);
  for (uint32_t rule : alwaysCandidates_) marks[rule] = 1;
  if (bucketStart_.empty()) return;
  thread_local std::string lower;
  lower.resize(text.size());
  std::transform(text.begin(), text.end(), lower.begin(), Lower);
  for (size_t at = 0; at + kKeyLength <= lower.size(); ++at) {
    uint32_t bucket = Bucket(lower.data() + at);
    for (uint32_t e = bucketStart_[bucket]; e < bucketStart_[bucket + 1]; ++e) {
      const Entry& entry = entries_[e];
      if (!marks[entry.rule] && lower.compare(at, entry.text.size(), entry.text) == 0) marks[entry.rule] = 1;
    }
  }
}

}  // namespace weavil

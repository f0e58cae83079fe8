#include "regex/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <stdexcept>

namespace weavil {

struct Regex::Impl {
  pcre2_code* code = nullptr;
  uint32_t captureCount = 0;
  ~Impl() {
    if (code) pcre2_code_free(code);
  }
};

namespace {

// Match data sized for the largest pattern a thread used so far; one per thread keeps
// searches allocation-free and lets several threads share one compiled pattern.
pcre2_match_data* ThreadMatchData(uint32_t pairs) {
  struct Holder {
    pcre2_match_data* data = nullptr;
    uint32_t pairs = 0;
    ~Holder() {
      if (data) pcre2_match_data_free(data);
    }
  };
  thread_local Holder holder;
  if (!holder.data || holder.pairs < pairs) {
    if (holder.data) pcre2_match_data_free(holder.data);
    holder.pairs = std::max<uint32_t>(pairs, 16);
    holder.data = pcre2_match_data_create(holder.pairs, nullptr);
  }
  return holder.data;
}

}  // namespace

std::string_view RegexMatch::Group(size_t index) const {
  if (index >= spans_.size() || spans_[index].first == kUnset) return {};
  return subject_.substr(spans_[index].first, spans_[index].second - spans_[index].first);
}

bool RegexMatch::GroupTookPart(size_t index) const {
  return index < spans_.size() && spans_[index].first != kUnset;
}

size_t RegexMatch::Start(size_t index) const { return GroupTookPart(index) ? spans_[index].first : kUnset; }
size_t RegexMatch::End(size_t index) const { return GroupTookPart(index) ? spans_[index].second : kUnset; }

Regex::Regex(std::string_view pattern) : pattern_(pattern), impl_(std::make_unique<Impl>()) {
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  impl_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(), 0, &errorCode,
                              &errorOffset, nullptr);
  if (!impl_->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(errorCode, message, sizeof message);
    throw std::invalid_argument("bad pattern \"" + pattern_ + "\" at offset " + std::to_string(errorOffset) + ": " +
                                reinterpret_cast<char*>(message));
  }
  pcre2_jit_compile(impl_->code, PCRE2_JIT_COMPLETE);  // falls back to the interpreter when JIT is absent
  pcre2_pattern_info(impl_->code, PCRE2_INFO_CAPTURECOUNT, &impl_->captureCount);
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

size_t Regex::CaptureCount() const { return impl_->captureCount; }

bool Regex::Search(std::string_view subject, RegexMatch& match, size_t startOffset) const {
  match.spans_.clear();
  match.subject_ = subject;
  if (startOffset > subject.size()) return false;
  uint32_t pairs = impl_->captureCount + 1;
  pcre2_match_data* data = ThreadMatchData(pairs);
  int rc = pcre2_match(impl_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), startOffset, 0,
                       data, nullptr);
  if (rc < 0) return false;
  PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
  match.spans_.resize(pairs);
  for (uint32_t i = 0; i < pairs; ++i) {
    PCRE2_SIZE start = ovector[2 * i], end = ovector[2 * i + 1];
    if (static_cast<int>(i) >= rc || start == PCRE2_UNSET)
      match.spans_[i] = {RegexMatch::kUnset, RegexMatch::kUnset};
    else
      match.spans_[i] = {start, end};
  }
  return true;
}

bool Regex::Search(std::string_view subject, size_t startOffset) const {
  if (startOffset > subject.size()) return false;
  pcre2_match_data* data = ThreadMatchData(impl_->captureCount + 1);
  return pcre2_match(impl_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), startOffset, 0, data,
                     nullptr) >= 0;
}

std::string Regex::ReplaceAll(std::string_view subject, std::string_view replacement) const {
  std::string out;
  out.reserve(subject.size());
  RegexMatch match;
  size_t pos = 0;
  while (pos <= subject.size() && Search(subject, match, pos)) {
    size_t start = match.Start(0), end = match.End(0);
    out.append(subject.substr(pos, start - pos));
    out.append(replacement);
    if (end == start) {
      // An empty match: keep one character and move on, as Perl's s///g does.
      if (start < subject.size()) out.push_back(subject[start]);
      pos = start + 1;
    } else {
      pos = end;
    }
  }
  if (pos < subject.size()) out.append(subject.substr(pos));
  return out;
}

}  // namespace weavil

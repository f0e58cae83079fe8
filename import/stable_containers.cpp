#include "import/stable_containers.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace weavil {

namespace {
constexpr size_t kPoolBlock = 1 << 20;
}

TextPool::TextPool() { ids_.reserve(4096); }

size_t TextPool::Hash::operator()(std::string_view text) const noexcept {
  return std::hash<std::string_view>()(text);
}

uint32_t TextPool::Intern(std::string_view text) {
  auto found = ids_.find(text);
  if (found != ids_.end()) return found->second;
  if (blocks_.empty() || blockSize_ - blockUsed_ < text.size()) {
    size_t size = std::max(kPoolBlock, text.size());
    blocks_.emplace_back(new char[size]);
    blockSize_ = size;
    blockUsed_ = 0;
  }
  char* at = blocks_.back().get() + blockUsed_;
  if (!text.empty()) std::memcpy(at, text.data(), text.size());
  blockUsed_ += text.size();
  std::string_view stored(at, text.size());
  uint32_t id = static_cast<uint32_t>(views_.size());
  views_.push_back(stored);
  ids_.emplace(stored, id);
  return id;
}

}  // namespace weavil

#include "import/stable_containers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

namespace weavil {

namespace {
constexpr size_t kPoolBlock = 1 << 20;
}

void ReleasePages(const char* base, const char* from, const char* end) {
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  uintptr_t start = std::max(reinterpret_cast<uintptr_t>(from) & ~(page - 1),
                             (reinterpret_cast<uintptr_t>(base) + page - 1) & ~(page - 1));
  uintptr_t stop = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
  // Advice only: where it is refused the pages simply stay.
  if (stop > start) ::madvise(reinterpret_cast<void*>(start), stop - start, MADV_DONTNEED);
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

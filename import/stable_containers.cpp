#include "import/stable_containers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/text.h"

namespace weavil {

namespace {
constexpr size_t kPoolBlock = 1 << 20;
}

void ReleasePages(const char* base, const char* from, const char* end, const char* floor) {
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto up = [](uintptr_t at) { return (at + page - 1) & ~(page - 1); };
  uintptr_t start = std::max(reinterpret_cast<uintptr_t>(from) & ~(page - 1), up(reinterpret_cast<uintptr_t>(base)));
  if (floor) start = std::max(start, up(reinterpret_cast<uintptr_t>(floor)));
  uintptr_t stop = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
  // Advice only: where it is refused the pages simply stay.
  if (stop > start) ::madvise(reinterpret_cast<void*>(start), stop - start, MADV_DONTNEED);
}

TextPool::TextPool() { slots_.resize(8192); }

void TextPool::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.size() * 2, Slot());
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.idPlusOne) continue;
    size_t at = slot.hash & mask;
    while (slots_[at].idPlusOne) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

uint32_t TextPool::Intern(std::string_view text) {
  const uint32_t hash = HashShortText(text);
  size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  for (; slots_[at].idPlusOne; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.hash == hash && views_[slot.idPlusOne - 1] == text) return slot.idPlusOne - 1;
  }
  if (blocks_.empty() || blockSize_ - blockUsed_ < text.size()) {
    size_t size = std::max(kPoolBlock, text.size());
    blocks_.emplace_back(new char[size]);
    blockSize_ = size;
    blockUsed_ = 0;
  }
  char* stored = blocks_.back().get() + blockUsed_;
  if (!text.empty()) std::memcpy(stored, text.data(), text.size());
  blockUsed_ += text.size();
  uint32_t id = static_cast<uint32_t>(views_.size());
  views_.push_back(std::string_view(stored, text.size()));
  slots_[at] = {hash, id + 1};
  if (2 * views_.size() > slots_.size()) Grow();
  return id;
}

}  // namespace weavil

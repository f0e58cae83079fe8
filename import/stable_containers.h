#pragma once
// Containers whose elements never move once added, so that a reader on another thread
// may use what was published to it while the owner appends more: a growing array, and
// a pool of interned texts.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

namespace weavil {

// Gives back the whole pages from the one holding from (elements before it were given
// back or are free to go as well) up to end, none before base, where an allocation
// starts, and none holding a byte before floor (null: no such bound).
void ReleasePages(const char* base, const char* from, const char* end, const char* floor = nullptr);

// A growing array whose elements never move, so a reader on another thread may use
// the elements published to it while the owner appends more.
// Elements are built one by one as they are added, so the memory pages of a chunk are
// only taken as it fills.
template <typename T>
class StableArray {
  static_assert(std::is_trivially_destructible_v<T>, "elements are never destroyed one by one");

 public:
  // Chunk c holds kFirst << c elements, so a small import allocates little and a large
  // one few chunks; 25 chunks cover more than 2^32 elements.
  static constexpr size_t kFirst = 256;
  static constexpr size_t kChunks = 25;

  size_t size() const { return size_; }
  T& operator[](size_t index) { return At(index); }
  const T& operator[](size_t index) const { return const_cast<StableArray*>(this)->At(index); }
  T& back() { return At(size_ - 1); }
  T& emplace_back() {
    size_t chunk = ChunkOf(size_);
    if (!chunks_[chunk]) chunks_[chunk].reset(static_cast<T*>(::operator new(sizeof(T) * (kFirst << chunk))));
    T* element = &At(size_);
    ::new (static_cast<void*>(element)) T();
    ++size_;
    return *element;
  }
  void push_back(const T& value) { emplace_back() = value; }

  // The elements before end are never read or written again, but for those listed in
  // keep (ascending): the whole memory pages they fill go back to the system, but
  // those a kept element lies on, now or in a later release. The array keeps its size
  // (a released element reads as zeros).
  void Release(size_t end, const std::vector<uint32_t>& keep = {}) {
    end = std::min(end, size_);
    auto kept = std::lower_bound(keep.begin(), keep.end(), released_);
    while (released_ < end) {
      size_t chunk = ChunkOf(released_);
      size_t first = kFirst * ((size_t(1) << chunk) - 1), stop = std::min(end, first + (kFirst << chunk));
      const char* base = reinterpret_cast<const char*>(chunks_[chunk].get());
      if (kept != keep.end() && *kept < stop) stop = *kept;
      ReleasePages(base, base + (released_ - first) * sizeof(T), base + (stop - first) * sizeof(T),
                   keptChunk_ == chunk ? keptEnd_ : nullptr);
      released_ = stop;
      if (kept != keep.end() && *kept == released_) {
        // Nothing on the pages of a kept element goes, by this release or a later one.
        const char* element = base + (released_ - first) * sizeof(T);
        keptEnd_ = element + sizeof(T);
        keptChunk_ = chunk;
        ++released_;
        ++kept;
      }
    }
  }

 private:
  static size_t ChunkOf(size_t index) { return static_cast<size_t>(std::bit_width(index / kFirst + 1)) - 1; }
  T& At(size_t index) {
    size_t chunk = ChunkOf(index);
    return chunks_[chunk].get()[index - kFirst * ((size_t(1) << chunk) - 1)];
  }

  struct FreeChunk {
    void operator()(T* chunk) const { ::operator delete(static_cast<void*>(chunk)); }
  };
  std::unique_ptr<T, FreeChunk> chunks_[kChunks];
  size_t size_ = 0, released_ = 0;
  const char* keptEnd_ = nullptr;  // the end of the last kept element, in chunk keptChunk_
  size_t keptChunk_ = kChunks;
};

// Interned texts of one import; ids are stable, views stay valid while the pool lives.
// Texts published to another thread may be read there while more are added.
class TextPool {
 public:
  TextPool();
  uint32_t Intern(std::string_view text);
  std::string_view Text(uint32_t id) const { return views_[id]; }
  size_t Size() const { return views_.size(); }

 private:
  // An open-addressing table of the texts' hashes and ids (id + 1; 0 marks a free
  // slot), at most half full; only the owner's thread uses it.
  struct Slot {
    uint32_t hash = 0;
    uint32_t idPlusOne = 0;
  };
  void Grow();

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockUsed_ = 0, blockSize_ = 0;
  StableArray<std::string_view> views_;
  std::vector<Slot> slots_;
};

}  // namespace weavil

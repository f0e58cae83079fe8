#pragma once
// Containers whose elements never move once added, so that a reader on another thread
// may use what was published to it while the owner appends more: a growing array, and
// a pool of interned texts.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace weavil {

// A growing array whose elements never move, so a reader on another thread may use
// the elements published to it while the owner appends more.
template <typename T>
class StableArray {
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
    if (!chunks_[chunk]) chunks_[chunk].reset(new T[kFirst << chunk]());
    return At(size_++);
  }
  void push_back(const T& value) { emplace_back() = value; }

  template <typename F>
  void ForEach(F&& visit) {
    for (size_t i = 0; i < size_; ++i) visit(At(i));
  }

 private:
  static size_t ChunkOf(size_t index) { return static_cast<size_t>(std::bit_width(index / kFirst + 1)) - 1; }
  T& At(size_t index) {
    size_t chunk = ChunkOf(index);
    return chunks_[chunk][index - kFirst * ((size_t(1) << chunk) - 1)];
  }

  std::unique_ptr<T[]> chunks_[kChunks];
  size_t size_ = 0;
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
  struct Hash {
    size_t operator()(std::string_view text) const noexcept;
  };
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockUsed_ = 0, blockSize_ = 0;
  StableArray<std::string_view> views_;
  std::unordered_map<std::string_view, uint32_t, Hash> ids_;
};

}  // namespace weavil

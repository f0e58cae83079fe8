#pragma once
// Owned file descriptors and C streams for the runtime's own sources: each is closed
// exactly once, on every way out of the scope that opened it, and never copied.
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace vyr::com {

// Handle is closed with close() unless it is none; Release gives it up unclosed.
template <typename Handle, Handle none, auto close>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Reset(); }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != none; }
  Handle Release() { return std::exchange(handle_, none); }
  // Closes what is held (unless it is the handle taken) and takes handle.
  void Reset(Handle handle = none) {
    if (handle_ != none && handle_ != handle) close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = none;
};

using OwnedFd = OwnedHandle<int, -1, ::close>;
// Where the close result matters, close with std::fclose(file.Release()).
using OwnedFile = OwnedHandle<std::FILE*, nullptr, ::fclose>;

}  // namespace vyr::com

#pragma once
// An owned file descriptor: closed when the owner goes, movable, never copied.

#include <unistd.h>

#include <utility>

namespace weavil {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives up ownership without closing.
  int Release() { return std::exchange(fd_, -1); }

  // Closes the held descriptor (if any) and takes `fd`. Returns close()'s result, 0 when none was held.
  int Reset(int fd = -1) {
    int result = 0;
    if (fd_ >= 0 && fd_ != fd) result = ::close(fd_);
    fd_ = fd;
    return result;
  }

 private:
  int fd_ = -1;
};

}  // namespace weavil

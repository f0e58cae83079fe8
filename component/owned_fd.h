#pragma once
// Owned file descriptors and C streams for the runtime's own sources: each closes what it
// holds exactly once, on every path out of the scope that opened it.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace vyr::com {

class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& other) noexcept : fd_(other.Release()) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A C stream closed when it goes out of scope; where the close result matters, close it
// with std::fclose(file.release()).
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace vyr::com

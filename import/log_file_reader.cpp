#include "import/log_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace weavil {
namespace {
constexpr size_t kBlockSize = 1 << 20;
}

LogFileReader::LogFileReader() = default;

LogFileReader::~LogFileReader() { Close(); }

bool LogFileReader::Open(const std::string& path, int64_t offset) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  buffer_.resize(kBlockSize + kLineBufferSize);
  begin_ = end_ = 0;
  eof_ = skipRest_ = held_ = false;
  consumed_ = lines_ = 0;
  if (offset < 0) offset = 0;
  bounded_ = S_ISREG(info.st_mode);
  if (bounded_) {
    int64_t size = static_cast<int64_t>(info.st_size);
    remaining_ = size > offset ? size - offset : 0;
    total_ = remaining_;
    if (offset > 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) eof_ = true;
  } else {
    total_ = 0;
    // A pipe cannot seek: the bytes before the offset are read and dropped.
    for (int64_t left = offset; left > 0 && !eof_;) {
      ssize_t got = ::read(fd_, buffer_.data(), static_cast<size_t>(std::min<int64_t>(left, kBlockSize)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) eof_ = true;
      else left -= got;
    }
  }
  return true;
}

void LogFileReader::Close() {
  held_ = false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  eof_ = true;
  begin_ = end_ = 0;
}

bool LogFileReader::Fill() {
  if (eof_ || fd_ < 0) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  size_t room = buffer_.size() - end_;
  if (room == 0) return false;
  bool finishing = false;
  if (bounded_) {
    if (remaining_ <= 0) {
      // At the size seen at open: read on only to the end of the line being written.
      if (end_ == 0 || buffer_[end_ - 1] == '\n') {
        eof_ = true;
        return false;
      }
      finishing = true;
      room = std::min(room, kLineBufferSize);
    } else {
      room = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), remaining_));
    }
  }
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data() + end_, room);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    eof_ = true;
    return false;
  }
  size_t count = static_cast<size_t>(got);
  if (finishing) {
    if (const void* nl = std::memchr(buffer_.data() + end_, '\n', count))
      count = static_cast<size_t>(static_cast<const char*>(nl) - (buffer_.data() + end_)) + 1;
    eof_ = true;
    total_ += static_cast<int64_t>(count);
  } else if (bounded_) {
    remaining_ -= got;
  }
  end_ += count;
  return true;
}

bool LogFileReader::NextPhysicalLine(std::string_view& raw) {
  if (held_) {
    held_ = false;
    raw = last_;
    return true;
  }
  if (!NextLine(raw)) return false;
  last_ = raw;
  return true;
}

bool LogFileReader::NextLine(std::string_view& raw) {
  while (skipRest_) {
    const char* start = buffer_.data() + begin_;
    if (const void* nl = std::memchr(start, '\n', end_ - begin_)) {
      size_t skip = static_cast<size_t>(static_cast<const char*>(nl) - start) + 1;
      begin_ += skip;
      consumed_ += static_cast<int64_t>(skip);
      skipRest_ = false;
      break;
    }
    consumed_ += static_cast<int64_t>(end_ - begin_);
    begin_ = end_;
    if (!Fill()) {
      skipRest_ = false;
      return false;
    }
  }
  for (;;) {
    const char* start = buffer_.data() + begin_;
    size_t available = end_ - begin_;
    if (const void* nl = std::memchr(start, '\n', available)) {
      size_t length = static_cast<size_t>(static_cast<const char*>(nl) - start) + 1;
      if (length > kMaxLineLength) {
        raw = std::string_view(start, kMaxLineLength);
        begin_ += length;
      } else {
        raw = std::string_view(start, length);
        begin_ += length;
      }
      consumed_ += static_cast<int64_t>(length);
      ++lines_;
      return true;
    }
    if (available >= kMaxLineLength) {
      raw = std::string_view(start, kMaxLineLength);
      begin_ += kMaxLineLength;
      consumed_ += static_cast<int64_t>(kMaxLineLength);
      skipRest_ = true;
      ++lines_;
      return true;
    }
    if (!Fill()) {
      if (begin_ == end_) return false;
      raw = std::string_view(buffer_.data() + begin_, end_ - begin_);
      consumed_ += static_cast<int64_t>(end_ - begin_);
      begin_ = end_;
      ++lines_;
      return true;
    }
  }
}

}  // namespace weavil

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

namespace {

// Reads up to size bytes at the start of a pipe; fewer only at its end.
size_t ReadHead(int fd, char* into, size_t size) {
  size_t have = 0;
  while (have < size) {
    ssize_t got = ::read(fd, into + have, size - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  return have;
}

}  // namespace

bool LogFileReader::Open(const std::string& path, int64_t offset) {
  Close();
  // "-" is standard input, read through a copy of the descriptor so closing keeps it.
  UniqueFd fd(path == kStandardInputPath ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                          : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  fd_ = std::move(fd);
  buffer_.resize(kBlockSize + kLineBufferSize);
  begin_ = end_ = 0;
  eof_ = skipRest_ = held_ = false;
  consumed_ = lines_ = 0;
  error_.clear();
  if (offset < 0) offset = 0;
  atStart_ = offset == 0;
  offset_ = offset;
  exactEnd_ = false;
  bounded_ = S_ISREG(info.st_mode);

  // The first bytes tell whether the data is compressed. A pipe cannot be read twice:
  // what was read to look is kept as data.
  char head[kCompressionMagicSize];
  size_t headSize = 0;
  if (bounded_) {
    ssize_t got;
    do {
      got = ::pread(fd_.Get(), head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    headSize = got > 0 ? static_cast<size_t>(got) : 0;
  } else {
    headSize = ReadHead(fd_.Get(), head, sizeof head);
  }
  compression_ = DetectCompression(std::string_view(head, headSize));
  if (compression_ != Compression::kNone) {
    decoder_ = MakeDecompressor(compression_);
    if (!decoder_) {
      error_ = std::string("the ") + CompressionName(compression_) + " decoder cannot start";
      eof_ = true;
      return true;
    }
    raw_.resize(kBlockSize);
    rawBegin_ = rawEnd_ = 0;
    rawEof_ = false;
    rawRead_ = 0;
    rawTotal_ = bounded_ ? static_cast<int64_t>(info.st_size) : 0;
    remaining_ = rawTotal_;
    if (!bounded_) {
      std::memcpy(raw_.data(), head, headSize);
      rawEnd_ = headSize;
      rawRead_ = static_cast<int64_t>(headSize);
    }
    // Decoded sizes are not known ahead; log text usually shrinks about tenfold.
    total_ = rawTotal_ * 10;
    SkipDecoded(offset);
    return true;
  }

  if (bounded_) {
    int64_t size = static_cast<int64_t>(info.st_size);
    remaining_ = size > offset ? size - offset : 0;
    total_ = remaining_;
    if (offset > 0 && ::lseek(fd_.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) eof_ = true;
  } else {
    total_ = 0;
    // A pipe cannot seek: the bytes before the offset are read and dropped.
    size_t dropped = static_cast<size_t>(std::min<int64_t>(offset, static_cast<int64_t>(headSize)));
    std::memcpy(buffer_.data(), head + dropped, headSize - dropped);
    end_ = headSize - dropped;
    if (headSize < sizeof head) eof_ = true;  // the pipe ended already
    for (int64_t left = offset - static_cast<int64_t>(dropped); left > 0 && !eof_;) {
      ssize_t got = ::read(fd_.Get(), buffer_.data() + end_,
                           static_cast<size_t>(std::min<int64_t>(left, kBlockSize - end_)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) eof_ = true;
      else left -= got;
    }
  }
  return true;
}

void LogFileReader::SkipDecoded(int64_t count) {
  while (count > 0) {
    if (begin_ == end_ && !Fill()) return;
    size_t take = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(end_ - begin_)));
    begin_ += take;
    count -= static_cast<int64_t>(take);
  }
}

void LogFileReader::EndAt(int64_t end) {
  if (!bounded_ || !fd_ || decoder_) return;  // a followed log is plain text
  int64_t left = end > offset_ ? end - offset_ : 0;
  if (left < remaining_) remaining_ = total_ = left;
  exactEnd_ = true;
}

void LogFileReader::Close() {
  held_ = false;
  fd_.Reset();
  eof_ = true;
  begin_ = end_ = 0;
  decoder_.reset();
  compression_ = Compression::kNone;
  rawBegin_ = rawEnd_ = 0;
}

bool LogFileReader::ReadRaw(char* into, size_t room, ssize_t& got) {
  do {
    got = ::read(fd_.Get(), into, room);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    error_ = std::string("reading failed: ") + std::strerror(errno);
    return false;
  }
  return got > 0;
}

bool LogFileReader::Fill() {
  if (eof_ || !fd_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (decoder_) return FillDecoded();
  size_t room = buffer_.size() - end_;
  if (room == 0) return false;
  bool finishing = false;
  if (bounded_) {
    if (remaining_ <= 0 && exactEnd_) {
      eof_ = true;
      return false;
    }
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
  if (!ReadRaw(buffer_.data() + end_, room, got)) {
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

bool LogFileReader::FillDecoded() {
  size_t room = std::min(buffer_.size() - end_, kBlockSize);
  if (room == 0) return false;
  for (;;) {
    if (rawBegin_ == rawEnd_ && !rawEof_) {
      rawBegin_ = rawEnd_ = 0;
      size_t want = raw_.size();
      if (bounded_) want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), remaining_));
      ssize_t got = 0;
      if (want == 0 || !ReadRaw(raw_.data(), want, got)) {
        rawEof_ = true;
      } else {
        rawEnd_ = static_cast<size_t>(got);
        rawRead_ += got;
        if (bounded_) remaining_ -= got;
      }
    }
    DecodeStep step = decoder_->Decode(raw_.data() + rawBegin_, rawEnd_ - rawBegin_, rawEof_ && error_.empty(),
                                       buffer_.data() + end_, room);
    rawBegin_ += step.consumed;
    end_ += step.produced;
    if (step.failed && error_.empty()) error_ = decoder_->Error();
    if (step.failed || step.ended || (rawEof_ && step.produced == 0)) {
      eof_ = true;
      if (step.ended) rawRead_ = rawTotal_ > 0 ? rawTotal_ : rawRead_;
      return step.produced > 0;
    }
    if (step.produced > 0) return true;
  }
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

void LogFileReader::SkipByteOrderMark() {
  atStart_ = false;
  while (end_ - begin_ < 3 && Fill()) {
  }
  if (end_ - begin_ >= 3 && std::memcmp(buffer_.data() + begin_, "\xef\xbb\xbf", 3) == 0) {
    begin_ += 3;
    consumed_ += 3;
  }
}

bool LogFileReader::NextLine(std::string_view& raw) {
  if (atStart_) SkipByteOrderMark();
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

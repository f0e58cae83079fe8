#include "vyrcom/stream.h"
#include "vyrcom/unknown_impl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "owned_fd.h"

namespace vyr::com {

namespace {

class StreamBase : public UnknownImpl<IStream, IID_IStream> {
 public:
  virtual ~StreamBase() = default;
  HRESULT Commit(DWORD) override { return S_OK; }

 protected:
  // The new position for a seek, or false when it would fall before the start.
  static bool Target(uint64_t position, uint64_t size, int64_t move, DWORD origin, uint64_t* target) {
    int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(position)
                                                                            : static_cast<int64_t>(size);
    if (origin > STREAM_SEEK_END) return false;
    if ((move < 0 && base + move < 0) || (move > 0 && base > INT64_MAX - move)) return false;
    *target = static_cast<uint64_t>(base + move);
    return true;
  }

 private:
};

class MemoryStream final : public StreamBase {
 public:
  explicit MemoryStream(const std::vector<uint8_t>& initial) : bytes_(initial) {}

  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    if (read) *read = 0;
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    size_t n = position_ >= bytes_.size() ? 0 : std::min<size_t>(size, bytes_.size() - position_);
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return S_OK;
  }
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    if (position_ + size > bytes_.max_size()) return STG_E_MEDIUMFULL;
    try {
      if (position_ + size > bytes_.size()) bytes_.resize(position_ + size);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (size) std::memcpy(bytes_.data() + position_, buffer, size);
    position_ += size;
    if (written) *written = size;
    return S_OK;
  }
  HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) override {
    uint64_t target;
    if (!Target(position_, bytes_.size(), move, origin, &target)) return STG_E_INVALIDFUNCTION;
    position_ = target;
    if (newPosition) *newPosition = target;
    return S_OK;
  }
  HRESULT SetSize(uint64_t size) override {
    try {
      bytes_.resize(size);
    } catch (const std::exception&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT GetSize(uint64_t* size) override {
    if (!size) return E_POINTER;
    *size = bytes_.size();
    return S_OK;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t position_ = 0;
};

class FileStream final : public StreamBase {
 public:
  explicit FileStream(OwnedFd fd) : fd_(std::move(fd)) {}

  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    if (read) *read = 0;
    ULONG done = 0;
    while (done < size) {
      ssize_t n = ::read(fd_.Get(), static_cast<char*>(buffer) + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return STG_E_READFAULT;
      if (n == 0) break;
      done += static_cast<ULONG>(n);
    }
    if (read) *read = done;
    return S_OK;
  }
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    ULONG done = 0;
    while (done < size) {
      ssize_t n = ::write(fd_.Get(), static_cast<const char*>(buffer) + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
      done += static_cast<ULONG>(n);
    }
    if (written) *written = done;
    return S_OK;
  }
  HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) override {
    int whence = origin == STREAM_SEEK_SET ? SEEK_SET : origin == STREAM_SEEK_CUR ? SEEK_CUR : SEEK_END;
    if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
    off_t at = ::lseek(fd_.Get(), static_cast<off_t>(move), whence);
    if (at < 0) return STG_E_INVALIDFUNCTION;
    if (newPosition) *newPosition = static_cast<uint64_t>(at);
    return S_OK;
  }
  HRESULT SetSize(uint64_t size) override {
    return ::ftruncate(fd_.Get(), static_cast<off_t>(size)) == 0 ? S_OK : STG_E_MEDIUMFULL;
  }
  HRESULT Commit(DWORD) override { return ::fsync(fd_.Get()) == 0 ? S_OK : STG_E_WRITEFAULT; }
  HRESULT GetSize(uint64_t* size) override {
    if (!size) return E_POINTER;
    struct stat st;
    if (::fstat(fd_.Get(), &st) != 0) return STG_E_ACCESSDENIED;
    *size = static_cast<uint64_t>(st.st_size);
    return S_OK;
  }

 private:
  OwnedFd fd_;
};

}  // namespace

HRESULT CreateMemoryStream(IStream** stream, const std::vector<uint8_t>& initial) {
  if (!stream) return E_POINTER;
  try {
    *stream = new MemoryStream(initial);
  } catch (const std::bad_alloc&) {
    *stream = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool MemoryStreamBytes(IStream* stream, std::vector<uint8_t>* bytes) {
  auto* memory = dynamic_cast<MemoryStream*>(stream);
  if (!memory) return false;
  *bytes = memory->Bytes();
  return true;
}

HRESULT CreateFileStream(const std::string& path, FileStreamMode mode, IStream** stream) {
  if (!stream) return E_POINTER;
  *stream = nullptr;
  int flags = mode == FileStreamMode::kRead ? O_RDONLY : mode == FileStreamMode::kCreate ? O_RDWR | O_CREAT | O_TRUNC
                                                                                         : O_RDWR;
  OwnedFd fd(::open(path.c_str(), flags | O_CLOEXEC, 0644));
  if (!fd) return errno == ENOENT ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED;
  try {
    *stream = new FileStream(std::move(fd));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT ReadExact(IStream* stream, void* buffer, ULONG size) {
  ULONG read = 0;
  HRESULT hr = stream->Read(buffer, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : STG_E_READFAULT;
}

HRESULT WriteExact(IStream* stream, const void* buffer, ULONG size) {
  ULONG written = 0;
  HRESULT hr = stream->Write(buffer, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_WRITEFAULT;
}

}  // namespace vyr::com

#include "import/write_behind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace weavil {

WriteBehind::WriteBehind(const std::string& path, int64_t stepBytes) : stepBytes_(stepBytes) {
  if (!path.empty()) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) startedAt_ = st.st_size;
}

WriteBehind::~WriteBehind() {
  if (fd_ >= 0) ::close(fd_);
}

void WriteBehind::Poke() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size - startedAt_ < stepBytes_) return;
  // The page cache is the file's, whichever descriptor asks. The whole file: pages the
  // transaction rewrote below the last start are dirty again. Only pages not already
  // being written are started, and the call does not wait for them.
  if (::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) ++started_;
  startedAt_ = st.st_size;
}

}  // namespace weavil

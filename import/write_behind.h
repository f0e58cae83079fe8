#pragma once

#include <cstdint>
#include <string>

namespace weavil {

// Starts the disk writes of a file that a long transaction keeps growing, while it
// grows: the kernel keeps written pages in memory until they are synced, so a commit of
// hundreds of megabytes would otherwise wait for all of them at once. Only the write-out
// is started here; what makes the data durable is still the commit's own sync. Does
// nothing where the file cannot be opened.
class WriteBehind {
 public:
  explicit WriteBehind(const std::string& path, int64_t stepBytes = kStepBytes);
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Starts the write-out once the file has grown by stepBytes since the last start (or
  // since it was opened). Cheap enough for every batch of rows.
  void Poke();

  // How many times the write-out was started.
  int64_t Started() const { return started_; }

  static constexpr int64_t kStepBytes = 32 << 20;

 private:
  int fd_ = -1;
  int64_t stepBytes_;
  int64_t startedAt_ = 0;  // the file's size when the write-out was last started
  int64_t started_ = 0;
};

}  // namespace weavil

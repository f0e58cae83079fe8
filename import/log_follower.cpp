#include "import/log_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "classify/country_lookup.h"
#include "import/decompressor.h"

namespace weavil {
namespace {

constexpr size_t kTailBytes = 256;
constexpr size_t kScanBlock = 64 * 1024;

}  // namespace

void FollowCounts::Add(const FollowCounts& more) {
  linesRead += more.linesRead;
  linesRejected += more.linesRejected;
  sessionsStored += more.sessionsStored;
  sessionsCompleted += more.sessionsCompleted;
}

LogFollower::LogFollower(std::string path, ImportCopies copies, const std::atomic<bool>& stop)
    : path_(std::move(path)), copies_(std::move(copies)), stop_(stop), countries_(std::make_shared<CountryRanges>()) {}

LogFollower::~LogFollower() { CloseFile(); }

void LogFollower::StartAt(int64_t offset, bool continueStored, std::string fieldsDirective) {
  offset_ = offset < 0 ? 0 : offset;
  continueStored_ = continueStored;
  tail_.clear();
  fieldsDirective_ = std::move(fieldsDirective);
}

void LogFollower::Restart() {
  offset_ = 0;
  tail_.clear();
  fieldsDirective_.clear();
  continueStored_ = true;
}

bool LogFollower::OpenPath() {
  UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  fd_ = std::move(fd);
  device_ = info.st_dev;
  inode_ = info.st_ino;
  return true;
}

void LogFollower::CloseFile() {
  fd_.Reset();
}

bool LogFollower::ReadAt(int64_t offset, size_t count, std::string& bytes) const {
  bytes.resize(count);
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::pread(fd_.Get(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return done == count;
}

// Just after the last newline in [from, size), or from when there is none.
int64_t LogFollower::LastLineEnd(int64_t from, int64_t size) const {
  std::string block;
  for (int64_t end = size; end > from;) {
    int64_t start = end - static_cast<int64_t>(kScanBlock) > from ? end - static_cast<int64_t>(kScanBlock) : from;
    if (!ReadAt(start, static_cast<size_t>(end - start), block)) return from;
    size_t nl = block.rfind('\n');
    if (nl != std::string::npos) return start + static_cast<int64_t>(nl) + 1;
    end = start;
  }
  return from;
}

bool LogFollower::TailStillThere() const {
  if (tail_.empty()) return true;
  std::string now;
  return ReadAt(offset_ - static_cast<int64_t>(tail_.size()), tail_.size(), now) && now == tail_;
}

// Imports [offset_, end) of the open file, reached through the descriptor so that the
// bytes read are those of the file followed even when its name now holds another.
bool LogFollower::ImportTo(int64_t end, FollowRound& round) {
  // The last bytes to import, taken before: a truncation during the import is then
  // still seen by the next round.
  std::string tail;
  size_t count = end < static_cast<int64_t>(kTailBytes) ? static_cast<size_t>(end) : kTailBytes;
  if (!ReadAt(end - static_cast<int64_t>(count), count, tail)) tail.clear();
  ImportOptions options;
  options.continueStored = continueStored_;
  options.endOffset = end;
  options.fieldsDirective = fieldsDirective_;
  options.countries = countries_;
  std::string source = "/proc/self/fd/" + std::to_string(fd_.Get());
  ImportStats stats = RunImport(source, offset_, copies_, nullptr, options);
  if (!stats.opened || stats.databaseFailed || stats.cancelled) {
    round.failed = true;
    round.error = stats.databaseFailed ? stats.error : "cannot read " + path_ + " again";
    return false;
  }
  round.Add({stats.linesRead, stats.linesRejected, stats.sessionsStored, stats.sessionsCompleted});
  round.bytesRead += end - offset_;
  offset_ = end;
  continueStored_ = true;
  tail_ = std::move(tail);
  fieldsDirective_ = std::move(stats.fieldsDirective);
  return true;
}

std::optional<ImportMark> LogFollower::Mark() const {
  if (!fd_ || offset_ <= 0) return std::nullopt;
  struct stat named;
  if (::stat(path_.c_str(), &named) != 0 || named.st_dev != device_ || named.st_ino != inode_) return std::nullopt;
  std::string head;
  const size_t headSize = static_cast<size_t>(std::min<int64_t>(offset_, 8));
  if (!ReadAt(0, headSize, head) || DetectCompression(head) != Compression::kNone) return std::nullopt;
  // Hashed through the descriptor: the bytes of the file the rounds read.
  return MarkOfImport(path_, offset_, PrefixHash("/proc/self/fd/" + std::to_string(fd_.Get()), offset_), copies_,
                      fieldsDirective_);
}

FollowRound LogFollower::Poll() {
  FollowRound round;
  if (!fd_ && !OpenPath()) return round;
  struct stat own;
  if (::fstat(fd_.Get(), &own) != 0) return round;
  int64_t size = static_cast<int64_t>(own.st_size);
  if (size < offset_ || !TailStillThere()) {
    // Truncated in place: what the file holds now is new.
    round.truncated = true;
    Restart();
  }
  struct stat named;
  bool replaced = ::stat(path_.c_str(), &named) == 0 && (named.st_dev != device_ || named.st_ino != inode_);
  // While the new file is empty the server may still write to the old one; once the
  // new one has lines the old one is complete, its last line too.
  if (replaced && named.st_size > 0) {
    if (size > offset_ && !ImportTo(size, round)) return round;
    CloseFile();
    round.replaced = true;
    Restart();
    if (!OpenPath() || ::fstat(fd_.Get(), &own) != 0) return round;
    size = static_cast<int64_t>(own.st_size);
  }
  int64_t end = LastLineEnd(offset_, size);
  if (end > offset_) ImportTo(end, round);
  return round;
}

void LogFollower::WaitForNextRound() const {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
  while (!stop_.load() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

FollowTotals LogFollower::Run(const std::function<void(const FollowRound&)>& onRound) {
  FollowTotals totals;
  for (;;) {
    bool last = stop_.load();
    FollowRound round = Poll();
    ++totals.rounds;
    totals.Add(round);
    totals.restarts += (round.truncated ? 1 : 0) + (round.replaced ? 1 : 0);
    if (onRound) onRound(round);
    if (round.failed) {
      totals.failed = true;
      totals.error = round.error;
      break;
    }
    if (last) break;
    WaitForNextRound();
  }
  return totals;
}

}  // namespace weavil
